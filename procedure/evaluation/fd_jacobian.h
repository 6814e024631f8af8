// The Jacobian of the implied moments by forward differences, one
// evaluation of the moments per independent parameter: mode 5 into
// EvaluationState::jacobian (row k the column of parameter k), mode 6 as
// records on the column file (plain columns) or, for WLS and DWLS, on the
// weighted file (L^-1 J_k or w .* J_k), record k at byte 8 p* k.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Step of parameter k: max(c, c |x_k|), c = 1.053671212772351e-08.
double fd_jacobian_step(double x);

// Returns 0; 1 when the mode is neither 5 nor 6, when the moments cannot be
// evaluated at a perturbed point (or at the base point) or when the WLS
// factor is singular.  On every return the parameters, the element values
// and the inverse forms are those of x again.
int32_t cosjafd(const EvalView* view);

// The moments at the current x into view.st->jac.weighted: the program
// run, the inverse forms that parameter k (0-based; it has just moved) or
// k-1 (restored) may have made stale, the term products, and the diagonal
// from the data when it is taken from there.  Returns 0, or 1 when the
// program fails or an inverse form cannot be computed.
int32_t vfunct(const EvalView* view, int32_t k);
