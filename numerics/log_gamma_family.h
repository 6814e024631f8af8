// Log-scale incomplete gamma function and log densities: log P, log Q and
// the log density of the gamma distribution stay accurate where P or Q
// underflow, for the extreme tails of the noncentral chi-square.
#pragma once

#include <cstdint>

struct QuadratureControl;

// Work record of the log incomplete gamma family.
struct LogGammaWork {
    double x = 0.0;            // in: the point
    double a = 0.0;            // in: the shape
    double logP = 0.0;         // out: log of the lower tail
    double logQ = 0.0;         // out: log of the upper tail
    double logDensity = 0.0;   // out: log of the gamma density at x
    double tolerance = 0.0;    // in: raised to at least 5 * 2^-53 on entry
    double shape1 = 0.0;       // working shape a - 1
    double partial = 0.0;      // the partial result of the series or fraction
    // Which method produced the result: 0 lower series (zsergam), 2 the
    // series branch of zbsgam, 3 its Wilson-Hilferty branch or the upper
    // fraction in powers of 1/x (zcnf1gm), 4 Legendre's upper continued
    // fraction (zcnf2gm), 5 the asymptotic series (zasgam), 6 numerical
    // integration (zintgam).
    int32_t method = 0;
    int32_t scaleExponent = 0;  // quadrature: the final scaling exponent
    double logNormaliser = 0.0; // quadrature: log Gamma(a)
    QuadratureControl* quadrature = nullptr;  // quadrature: for the integrand's scaling
};

// log P, log Q and log density (in-out: w).  Result 0; 1 on bad input
// (x < 0 or a <= 1e-9), when every method fails, or when a log probability
// came out positive.
int32_t zloggam(LogGammaWork* w);

// The main method: the steps of the incomplete gamma function in logs
// (in-out: w).  Result 0 or 1.
int32_t zbsgam(LogGammaWork* w);

// The lower series alone: log P and log Q (in-out: w).  Result 0, or 1
// after gamma_term_limit(920, a) terms.
int32_t zsergam(LogGammaWork* w);

// Legendre's continued fraction for the upper tail in logs, with
// rescaling (in-out: w).  Result 0, or 1 after gamma_term_limit(400, a)
// steps.
int32_t zcnf2gm(LogGammaWork* w);

// The upper tail by the continued fraction in powers of 1/x, with
// rescaling (in-out: w; reads x, a, tolerance).  Meant for x above a and
// 1; it converges slowly near the mean.  Result 0, or 1 after 400 steps.
int32_t zcnf1gm(LogGammaWork* w);

// The asymptotic series for the upper tail, for x much larger than a
// (in-out: w).  Result 0, or 1 after 100 terms without convergence.
int32_t zasgam(LogGammaWork* w);

// The smaller tail by numerical integration of the density (in-out: w).
// Result 0, or 1 when the quadrature fails.
int32_t zintgam(LogGammaWork* w);

// Integrand of zintgam: the gamma density scaled by e^(-E) (in: t, the
// work record; out: *value).  Result 0, or 1 when log f leaves the range
// of the exponent.
int32_t fntrgam(double t, void* work, double* value);

// Log of the corrected Wilson-Hilferty P and Q (in-out: w).
void lwilhil(LogGammaWork* w);

// Log gamma density at x with shape a (in: x, a; out: *out).  Result 0;
// 1 when x < 0 or a <= 0.  At x = 0: 0.0 for a = 1, else the host missing
// value.
int32_t zldngam(double x, double a, double* out);

// Work record of the log incomplete beta function.
struct LogBetaWork {
    double x = 0.0;            // in: the point, 0 <= x <= 1
    double a = 0.0;            // in: first shape
    double b = 0.0;            // in: second shape
    double logP = 0.0;         // out: log I_x(a, b)
    double logQ = 0.0;         // out: log(1 - I_x(a, b))
    double logDensity = 0.0;   // out: log of the beta density at x
    double tolerance = 0.0;    // in: raised to at least 8 * 2^-53 on entry
    double partial = 0.0;      // the factor f of I = density x f on the fraction's side
    int32_t method = 0;        // 1 the fraction at x, 2 at 1 - x, 3 the normal approximation
};

// log I_x(a, b), log(1 - I_x(a, b)) and the log density (in-out: w).
// Result 0; 1 outside 0 <= x <= 1, with a shape not above 0 or above
// 2147483647, or when the fraction fails on both sides and the shapes are
// too small for the normal approximation.  At x = 0 and 1 the log tails
// are -DBL_MAX and 0, and the log density is -DBL_MAX, its limit, or
// DBL_MAX.
int32_t zlogbet(LogBetaWork* w);

// The continued fraction alone, on the side of the mean where it converges
// fast (the other side when that one does not converge), the other tail
// from log(1 - e^t) (in-out: w; reads x strictly inside (0, 1), a, b,
// tolerance, logDensity).  Result 0, or 1 when the fraction did not
// converge in 200 steps on either side.
int32_t zcnfbet(LogBetaWork* w);

// Log beta density at x (in: x, a, b; out: *out).  Result 0; 1 outside
// 0 <= x <= 1 or with a <= 0 or b <= 0.  End points: log b at x = 0 with
// a = 1, log a at x = 1 with b = 1, else the host missing value.
int32_t zldnbet(double x, double a, double b, double* out);
