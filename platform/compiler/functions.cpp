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
constexpr double kSqrtHalf = 0.7071067811865476;    // 1 / sqrt(2)

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

// Phi(x) = erfc(-x / sqrt 2) / 2: erfc keeps its relative accuracy far
// into the lower tail, where 1 + erf would lose every digit.
double normal_cdf(double x) { return 0.5 * std::erfc(-x * kSqrtHalf); }

// Wichura's algorithm AS 241 (PPND16, Appl. Statist. 37, 1988): rational
// approximations of relative accuracy about 1e-16 in three regions, the
// centre |p - 0.5| <= 0.425 and two tails in r = sqrt(-log min(p, 1 - p)).
double normal_quantile(double p) {
    static constexpr double kA[8] = {3.3871328727963666080e0, 1.3314166789178437745e2,
                                     1.9715909503065514427e3, 1.3731693765509461125e4,
                                     4.5921953931549871457e4, 6.7265770927008700853e4,
                                     3.3430575583588128105e4, 2.5090809287301226727e3};
    static constexpr double kB[8] = {1.0,
                                     4.2313330701600911252e1, 6.8718700749205790830e2,
                                     5.3941960214247511077e3, 2.1213794301586595867e4,
                                     3.9307895800092710610e4, 2.8729085735721942674e4,
                                     5.2264952788528545610e3};
    static constexpr double kC[8] = {1.42343711074968357734e0, 4.63033784615654529590e0,
                                     5.76949722146069140550e0, 3.64784832476320460504e0,
                                     1.27045825245236838258e0, 2.41780725177450611770e-1,
                                     2.27238449892691845833e-2, 7.74545014278341407640e-4};
    static constexpr double kD[8] = {1.0,
                                     2.05319162663775882187e0, 1.67638483018380384940e0,
                                     6.89767334985100004550e-1, 1.48103976427480074590e-1,
                                     1.51986665636164571966e-2, 5.47593808499534494600e-4,
                                     1.05075007164441684324e-9};
    static constexpr double kE[8] = {6.65790464350110377720e0, 5.46378491116411436990e0,
                                     1.78482653991729133580e0, 2.96560571828504891230e-1,
                                     2.65321895265761230930e-2, 1.24266094738807843860e-3,
                                     2.71155556874348757815e-5, 2.01033439929228813265e-7};
    static constexpr double kF[8] = {1.0,
                                     5.99832206555887937690e-1, 1.36929880922735805310e-1,
                                     1.48753612908506148525e-2, 7.86869131145613259100e-4,
                                     1.84631831751005468180e-5, 1.42151175831644588870e-7,
                                     2.04426310338993978564e-15};
    const auto ratio = [](const double* num, const double* den, double t) {
        double n = 0.0, d = 0.0;
        for (int i = 7; i >= 0; --i) {
            n = n * t + num[i];
            d = d * t + den[i];
        }
        return n / d;
    };
    if (!(p > 0.0 && p < 1.0)) return host_missing_value();
    const double q = p - 0.5;
    if (std::fabs(q) <= 0.425) return q * ratio(kA, kB, 0.180625 - q * q);
    const double r = std::sqrt(-std::log(q < 0.0 ? p : 1.0 - p));
    const double x = r <= 5.0 ? ratio(kC, kD, r - 1.6) : ratio(kE, kF, r - 5.0);
    return q < 0.0 ? -x : x;
}

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
