// The information matrix of the estimates and their covariance, after a
// usable optimization: at the solution, H = J'WJ (cross_product.h), shown
// as the "Information" table on request, written to OUTEST= (rows of
// _TYPE_ "INFORMAT", and on request the Jacobian of the moments as rows of
// _TYPE_ "JACOBIAN"), inverted (a generalized inverse
// when it is singular) into the covariance of the estimates, and the
// standard errors of the independent and the dependent parameters.
//
// Scale: H is the expected second derivative of F, so the covariance of the
// estimates is 2 / (N - 1) H^-1 with N - 1 the variance divisor of the
// moments; nlp->hessian holds H and then the unscaled inverse H^-1
// (packed, q = number of independent parameters), EvaluationState::
// covariance the same inverse, nlp->stdErrors the scaled standard errors.
#pragma once

#include <cstdint>

struct NlpProblem;

// Returns 0; 1 for METHOD=NONE; 2 when the Jacobian mode is negative or F
// cannot be evaluated at the solution (352/52); 3 when no covariance is
// wanted or the cross product cannot be formed (352/52); -1 when the finite
// differences of the dependent parameters fail.
// EvaluationState::covStatus: 1 regular inverse, 2 generalized inverse,
// 3 no covariance, 0 no inversion (ULS, DWLS: information only).
// With NlpHookBlock::depStdErr the dependent parameters' standard errors
// come from the covariance the optimizer's covariance code saved on its
// utility file instead (unscaled; diagonal storage: sum of g_k^2 C_kk).
int32_t cosicrp(NlpProblem* nlp);
