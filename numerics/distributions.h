// Normal, t, chi-square and inverse Gaussian probabilities and quantiles.
// Scalar routines without state; result conventions differ by routine and
// are given with each declaration.
#pragma once

#include <cstdint>

// erf(x) (kind 0) or erfc(x) (kind 1) into *result (in: x, kind; out: result).
void calerf(double x, double* result, int32_t kind);
double zferf(double x);   // erf(x)
double zferfc(double x);  // erfc(x)

// Standard normal distribution function Phi(x); 0 below about -37.6.
double zprbnrm(double x);

// Log probabilities of the standard normal (in: x; out: log Phi(x),
// log(1 - Phi(x)), log phi(x)).  Result 0, or 1 when zmillsr fails.
int32_t zlognrm(double x, double* logLower, double* logUpper, double* logDensity);

// Mills ratio R = (1 - Phi(x)) / phi(x) (in: x; out: r).  Result 0, or 1
// when the continued fraction did not converge.
int32_t zmillsr(double x, double* r);

// Mills ratio by its continued fraction, for x >= 5 (in: x; out: r).
// Result 0, or 1 when 100 steps did not converge (r holds the last value).
int32_t zcnfmill(double x, double* r);

// Standard normal quantile Phi^-1(p).  p = 0 gives -37.64 and p = 1 gives
// 7.94 (the finite ends); a p outside [0, 1] or NaN gives the host missing
// value, as does a deep-tail iteration that fails.
double zprobit(double p);

// The deep-tail Newton iteration of zprobit (meant for p < 1e-16).
double szprobit(double p);

// Two-sided tail probability P(|T| >= t) of Student's t with df degrees of
// freedom (in: t squared, df).  -2.0 on failure.
double zpgt2(double t2, double df);

// Upper tail P(chi2_df >= x) (in: x, df).  The host missing value on failure.
double zpgx2(double x, int32_t df);

// Chi-square quantile (in: p, df; out: *quantile).  Result 0; 1 when p < 0,
// p >= 1, df <= 0 or the iteration fails (then *quantile is not set).
int32_t zqc(double p, double df, double* quantile);

// Inverse Gaussian distribution function at x with mean 1 and shape lambda.
double zprbigs(double x, double lambda);
