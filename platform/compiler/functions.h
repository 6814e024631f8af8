// The numeric functions of the statement language with their partial
// derivatives, for the interpreter's forward-mode differentiation.
#pragma once

#include <cstdint>

namespace velix::compiler {

struct FunctionSpec {
    const char* name;  // upper case
    int32_t minArgs;
    int32_t maxArgs;   // -1: any number
};

enum class FnStatus : int32_t {
    kOk = 0,
    kMissing = 1,  // a missing argument (or all arguments missing) gave missing
    kInvalid = 2   // the arguments are outside the function's domain
};

// The function of an upper-case name, or -1.
int32_t find_function(const char* upperName);
const FunctionSpec& function_spec(int32_t id);

// Evaluates function `id` at args[0..n): *value, and partials[i] = the
// derivative with respect to args[i] (0 for a skipped missing argument).
// On kMissing and kInvalid *value is left to the caller.
FnStatus eval_function(int32_t id, const double* args /* in [n] */, int32_t n,
                       double* value /* out */, double* partials /* out [n] */);

// The standard normal distribution function and its quantile.
double normal_cdf(double x);
double normal_quantile(double p);  // 0 < p < 1

}  // namespace velix::compiler
