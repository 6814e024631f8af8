// The numbers of the equation results, as small pure functions: t values
// of the estimates, standardized coefficients, squared multiple
// correlations and coefficients of determination (Bollen 1989, ch. 4 and
// 8; Joreskog and Sorbom 1984).
#pragma once

// Estimate / standard error.  A missing standard error gives the missing
// value; one not above 0 gives the special missing value 'I' for a positive
// estimate, 'M' for a negative one and '.' for 0 - never a t value of 0.
double t_value(double estimate, double standardError);

// The coefficient of an effect of x on y in the metric of standard
// deviations: b sqrt(var x) / sqrt(var y); missing when var y is not
// positive, var x negative or either missing (an x of variance 0, a
// variable without its variance element, gives 0).
double standardized_coefficient(double b, double varFrom, double varTo);

// R^2 = 1 - error variance / implied variance; missing when the implied
// variance is not positive or either is missing.
double squared_multiple_correlation(double errorVariance, double impliedVariance);

// D = 1 - |Theta| / |Sigma_XX| formed as 1 - exp(ln|Theta| - ln|Sigma_XX|),
// so that neither determinant overflows or underflows on its own; missing
// when either logarithm is missing or -DBL_MAX (a failed or singular
// factorization).
double determination_coefficient(double logDetResidual, double logDetImplied);
