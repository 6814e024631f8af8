// The numeric functions of the statement language.  Each gives its value and
// its partial derivatives, so that the interpreter can carry first
// derivatives through a call by the chain rule.  Functions whose value is
// piecewise constant (INT, ROUND, SIGN) have derivative 0 where it exists;
// ABS, MIN, MAX and MOD take the derivative of the branch they select.
//
// Missing arguments: SUM, MEAN, MIN and MAX skip them (missing only when all
// are missing); every other function gives missing for a missing argument.
// An argument outside the domain (LOG of 0, SQRT of a negative number,
// ARSIN of 2, MOD by 0, PROBIT of 1, ...) or a result that overflows is an
// invalid operation.
#include "platform/compiler/functions.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "numerics/distributions.h"
#include "platform/compiler/program.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

enum FunctionId : int32_t {
    kAbs, kExp, kLog, kLog10, kSqrt, kSin, kCos, kTan, kArsin, kArcos, kAtan, kSinh, kCosh,
    kTanh, kMin, kMax, kSum, kMean, kInt, kRound, kMod, kSign, kProbnorm, kProbit, kCount
};

constexpr FunctionSpec kFunctions[kCount] = {
    {"ABS", 1, 1},     {"EXP", 1, 1},   {"LOG", 1, 1},   {"LOG10", 1, 1},   {"SQRT", 1, 1},
    {"SIN", 1, 1},     {"COS", 1, 1},   {"TAN", 1, 1},   {"ARSIN", 1, 1},   {"ARCOS", 1, 1},
    {"ATAN", 1, 1},    {"SINH", 1, 1},  {"COSH", 1, 1},  {"TANH", 1, 1},    {"MIN", 1, -1},
    {"MAX", 1, -1},    {"SUM", 1, -1},  {"MEAN", 1, -1}, {"INT", 1, 1},     {"ROUND", 1, 2},
    {"MOD", 2, 2},     {"SIGN", 1, 1},  {"PROBNORM", 1, 1}, {"PROBIT", 1, 1}};

constexpr double kLn10 = 2.302585092994046;
constexpr double kInvSqrt2Pi = 0.3989422804014327;  // 1 / sqrt(2 pi)

double normal_density(double x) { return kInvSqrt2Pi * std::exp(-0.5 * x * x); }

// Rounds x to the nearest multiple of unit, halves away from zero.  A
// relative fuzz of a few ulps keeps 0.15 rounded to 0.1 as 0.2, as a user
// who writes decimal fractions expects.
double round_to(double x, double unit) {
    double q = x / unit;
    double fuzz = 4.0 * std::numeric_limits<double>::epsilon() * std::fabs(q);
    double r = q >= 0.0 ? std::floor(q + 0.5 + fuzz) : -std::floor(-q + 0.5 + fuzz);
    return r * unit;
}

// The aggregates over the non-missing arguments.
FnStatus aggregate(int32_t id, const double* args, int32_t n, double* value, double* partials) {
    int32_t used = 0;
    int32_t pick = -1;
    double acc = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        partials[i] = 0.0;
        if (host_is_missing(args[i])) continue;
        ++used;
        if (id == kSum || id == kMean) {
            acc += args[i];
        } else if (pick < 0 || (id == kMin ? args[i] < args[pick] : args[i] > args[pick])) {
            pick = i;
        }
    }
    if (used == 0) return FnStatus::kMissing;
    if (id == kMin || id == kMax) {
        *value = args[pick];
        partials[pick] = 1.0;
        return FnStatus::kOk;
    }
    double w = id == kMean ? 1.0 / used : 1.0;
    for (int32_t i = 0; i < n; ++i)
        if (!host_is_missing(args[i])) partials[i] = w;
    *value = acc * w;
    return std::isfinite(*value) ? FnStatus::kOk : FnStatus::kInvalid;
}

}  // namespace

int32_t find_function(const char* upperName) {
    for (int32_t i = 0; i < kCount; ++i)
        if (std::strcmp(kFunctions[i].name, upperName) == 0) return i;
    return -1;
}

const FunctionSpec& function_spec(int32_t id) { return kFunctions[id]; }

double normal_cdf(double x) { return zprbnrm(x); }

double normal_quantile(double p) { return zprobit(p); }

FnStatus eval_function(int32_t id, const double* args, int32_t n, double* value,
                       double* partials) {
    if (id == kMin || id == kMax || id == kSum || id == kMean)
        return aggregate(id, args, n, value, partials);
    for (int32_t i = 0; i < n; ++i) {
        partials[i] = 0.0;
        if (host_is_missing(args[i])) return FnStatus::kMissing;
    }
    const double x = args[0];
    double v = 0.0;
    double d = 0.0;  // derivative with respect to x
    switch (id) {
        case kAbs:
            v = std::fabs(x);
            d = x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
            break;
        case kExp:
            v = std::exp(x);
            d = v;
            break;
        case kLog:
            if (x <= 0.0) return FnStatus::kInvalid;
            v = std::log(x);
            d = 1.0 / x;
            break;
        case kLog10:
            if (x <= 0.0) return FnStatus::kInvalid;
            v = std::log10(x);
            d = 1.0 / (x * kLn10);
            break;
        case kSqrt:
            if (x < 0.0) return FnStatus::kInvalid;
            v = std::sqrt(x);
            // The derivative at 0 is infinite; the value is still valid.
            d = v > 0.0 ? 0.5 / v : HUGE_VAL;
            break;
        case kSin:
            v = std::sin(x);
            d = std::cos(x);
            break;
        case kCos:
            v = std::cos(x);
            d = -std::sin(x);
            break;
        case kTan: {
            double c = std::cos(x);
            if (c == 0.0) return FnStatus::kInvalid;
            v = std::tan(x);
            d = 1.0 / (c * c);
            break;
        }
        case kArsin:
        case kArcos: {
            if (x < -1.0 || x > 1.0) return FnStatus::kInvalid;
            double s = std::sqrt(1.0 - x * x);
            v = id == kArsin ? std::asin(x) : std::acos(x);
            d = s > 0.0 ? (id == kArsin ? 1.0 : -1.0) / s : (id == kArsin ? HUGE_VAL : -HUGE_VAL);
            break;
        }
        case kAtan:
            v = std::atan(x);
            d = 1.0 / (1.0 + x * x);
            break;
        case kSinh:
            v = std::sinh(x);
            d = std::cosh(x);
            break;
        case kCosh:
            v = std::cosh(x);
            d = std::sinh(x);
            break;
        case kTanh:
            v = std::tanh(x);
            d = 1.0 - v * v;
            break;
        case kInt:
            v = std::trunc(x);
            break;
        case kRound: {
            double unit = n > 1 ? args[1] : 1.0;
            if (unit <= 0.0) return FnStatus::kInvalid;
            v = round_to(x, unit);
            break;
        }
        case kMod: {
            double y = args[1];
            if (y == 0.0) return FnStatus::kInvalid;
            // x - y trunc(x/y): the sign follows x.
            v = std::fmod(x, y);
            d = 1.0;
            partials[1] = -std::trunc(x / y);
            break;
        }
        case kSign:
            v = x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
            break;
        case kProbnorm:
            v = normal_cdf(x);
            d = normal_density(x);
            break;
        case kProbit:
            if (!(x > 0.0 && x < 1.0)) return FnStatus::kInvalid;
            v = normal_quantile(x);
            if (host_is_missing(v)) return FnStatus::kInvalid;
            d = 1.0 / normal_density(v);
            break;
        default:
            return FnStatus::kInvalid;
    }
    if (!std::isfinite(v)) return FnStatus::kInvalid;
    partials[0] = d;
    *value = v;
    return FnStatus::kOk;
}

}  // namespace velix::compiler
