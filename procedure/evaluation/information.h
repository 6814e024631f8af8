// The information matrix of the estimates and their covariance, after a
// usable optimization: at the solution, H = J'WJ (cross_product.h), shown
// as the "Information" table on request, written to OUTEST= (rows of
// _TYPE_ "INFORMAT", and on request the Jacobian of the moments as rows of
// _TYPE_ "JACOBIAN"), inverted (a generalized inverse
// when it is singular) into the covariance of the estimates, and the
// standard errors of the independent and the dependent parameters.  Under
// active constraints (bounds, linear and nonlinear rows) the covariance is
// that of the constrained model, H inverted on the null space of the
// active rows.
//
// Scale: the covariance of the estimates is sigma^2 H^-1 with sigma^2 of
// estimate_covariance_scale; EvaluationState::cross holds H,
// EvaluationState::covariance the unscaled inverse H^-1 (packed, q =
// number of independent parameters; the optimizer's covariance code may
// have left it there already, from the factor the technique made of the
// same H), nlp->hess.hessian serves as the work of the inverse and ends
// holding the same inverse, nlp->work.stdErrors the scaled standard
// errors.
#pragma once

#include <cstdint>

struct NlpProblem;

// The factor sigma^2 that turns the inverse of the cross product H of a
// method stage into the covariance of the estimates, for the multiplier
// d = N' of the chi-square (N - 1, or N for moments about zero, under
// every VARDEF= divisor of the moments): H is the expected second
// derivative of F for GLS and ML (Browne 1974; Bollen 1989, ch. 4) and
// the second derivative 2 J'WJ of F = r'Wr for WLS and DWLS, with W the
// inverse asymptotic covariance of sqrt(N) s (Browne 1984, eq. 2.12), so
// sigma^2 = 2/d for all four.  ULS, or d <= 0: 0 (the inverse alone is no
// covariance).
double estimate_covariance_scale(int32_t method, double nPrime);

// Returns 0; 1 for METHOD=NONE; 2 when the Jacobian mode is negative or F
// cannot be evaluated at the solution (352/52); 3 when no covariance is
// wanted or the cross product (or the Jacobian of active nonlinear
// constraints) cannot be formed (352/52); -1 when the finite differences of
// the dependent parameters fail.
// EvaluationState::covStatus: 1 regular inverse, 2 generalized inverse,
// 3 no covariance, 0 no inversion (ULS, DWLS: information only).
// With NlpHookBlock::cov.depStdErr the dependent parameters' standard errors
// come from the covariance the optimizer's covariance code saved on its
// utility file instead (unscaled; diagonal storage: sum of g_k^2 C_kk).
int32_t cosicrp(NlpProblem* nlp);
