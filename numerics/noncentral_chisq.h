// The noncentral chi-square distribution with df degrees of freedom and
// noncentrality nc: distribution function and complement, the noncentrality
// for a given probability (confidence limits of fit measures such as the
// RMSEA), the log density, and log probabilities for extreme tails.
#pragma once

#include <cstdint>

struct QuadratureControl;

// Record of the log-probability routines, filled by the caller.
struct NoncentralLogRecord {
    double x = 0.0;            // in: the point
    double df = 0.0;           // in: degrees of freedom
    double nc = 0.0;           // in: noncentrality
    double logLower = 0.0;     // out: log P(X <= x)
    double logUpper = 0.0;     // out: log P(X > x)
    double logDensity = 0.0;   // out: log density at x
    double tolerance = 0.0;    // in: relative tolerance, raised to at least 5 * 2^-53
    int32_t smallLowerTail = 0;  // set by zlogcnc: the lower tail is the small one
    int32_t request = 0;       // in: bit 0 probabilities, bit 1 density
    double nu = 0.0;           // integrand data: df/2 - 1
    double halfNu = 0.0;       // integrand data: nu/2
    double sqrtNc = 0.0;       // integrand data: sqrt(nc)
    double spare = 0.0;
    QuadratureControl* quadrature = nullptr;  // for the integrand's scaling
};

// Distribution function (out: *lower) and complement (out: *upper) at x
// (in: x, df > 0, nc >= 0).  Both outputs are preset to the host missing
// value.  Result 0; 1 on bad input (or a failed gamma tail at the start);
// -1 when a side of the series reached its term limit (several times what
// its terms need).  Accuracy: the smaller tail to a few 1e-13 relative
// (and below the doubles, 0), the larger as its complement; where x or nc
// passes about 2e8 the saddlepoint approximation answers, to 1e-11 or
// better there.  nc = 0 is the incomplete gamma function's own.
int32_t zplbcnc(double x, double df, double nc, double* lower, double* upper);

// The noncentrality at which the distribution function at x (in, > 0) with
// df (in, > 0) degrees of freedom equals p (in), to 1e-12 of it.  Result 0
// with *nc (out) written; 1 on failure: x <= 0 or df <= 0 leave *nc
// untouched; p = 0 or p > 1 - 1e-12 give the largest double; a p outside
// [0, 1] (or NaN), a p above the central probability (no noncentrality
// reaches it) and a failed evaluation give the host missing value; 200
// steps without convergence give the last iterate.  The result is never
// negative.
int32_t zncc(double x, double df, double p, double* nc);

// Wilson-Hilferty normal deviate of x under (df, nc), minus z.
double norm_a(double x, double df, double nc, double z);

// Log density at x (in: x > 0, df > 0, nc >= 0; out: *logDensity).
// Result 0; 1 or the Bessel routine's status on failure.
int32_t zldncnc(double x, double df, double nc, double* logDensity);

// Log probabilities and/or log density (in-out: record).  Result 0, 1 on
// bad input, or the failure code of the method used.
int32_t zlogcnc(NoncentralLogRecord* record);

// The Poisson-mixture series of zplbcnc, whose smaller tail is a
// logarithm (in-out: record).  Result 0, 1 on failure, -1 at a term limit
// or where the series would be too long to try (x or nc past about 2e8).
int32_t zsercnc(NoncentralLogRecord* record);

// The small tail by numerical integration of the density (in-out: record).
// Result 0, or 1 when the quadrature fails.
int32_t zintcnc(NoncentralLogRecord* record);

// Integrand of zintcnc (in: t > 0, record; out: *value).  Result 0, or 1
// when the log density leaves the range of the scaling exponent.
int32_t fntrcnc(double t, void* record, double* value);
