// The numbers of the equation results (see equation_statistics.h).
#include "procedure/results/equation_statistics.h"

#include <cfloat>
#include <cmath>

#include "velix/host.h"

namespace {

// Codes of the host's special missing values: 2 + the letter's place, so
// 'I' is 10 and 'M' 14.
constexpr int kMissingI = 10;
constexpr int kMissingM = 14;
// The largest argument of exp that does not overflow.
constexpr double kExpLimit = 709.78271289339;

bool unusable(double x) { return host_is_missing(x) || std::isnan(x); }

// A log-determinant that stands for a failed factorization.
bool no_log_det(double x) { return unusable(x) || x <= -DBL_MAX; }

}  // namespace

double t_value(double estimate, double standardError) {
    if (unusable(standardError) || unusable(estimate)) return host_missing_value();
    if (standardError > 0.0) return estimate / standardError;
    if (estimate > 0.0) return host_special_missing(kMissingI);
    if (estimate < 0.0) return host_special_missing(kMissingM);
    return host_missing_value();
}

double standardized_coefficient(double b, double varFrom, double varTo) {
    if (unusable(b) || unusable(varFrom) || unusable(varTo) || varFrom < 0.0 || varTo <= 0.0)
        return host_missing_value();
    return b * std::sqrt(varFrom) / std::sqrt(varTo);
}

double squared_multiple_correlation(double errorVariance, double impliedVariance) {
    if (unusable(errorVariance) || unusable(impliedVariance) || impliedVariance <= 0.0)
        return host_missing_value();
    return 1.0 - errorVariance / impliedVariance;
}

double determination_coefficient(double logDetResidual, double logDetImplied) {
    if (no_log_det(logDetResidual) || no_log_det(logDetImplied)) return host_missing_value();
    const double e = logDetResidual - logDetImplied;
    // A ratio above exp(709.8) has no double; it can only come of a
    // residual covariance far larger than the implied one.
    if (e >= kExpLimit) return host_missing_value();
    return 1.0 - std::exp(e);
}
