// The nonlinear constraints that programming statements define: their
// values with every program run, and their Jacobian for the optimizer, from
// the program's analytic derivatives or by forward differences (FDCODE).
//
// Rows (NlinConTable, evaluation_state.h): equalities first, then the
// inequalities, each as value - rhs (lower limits) or rhs - value (upper
// limits), so that a feasible point has equalities 0 and inequalities >= 0.
// Sums into one row are guarded: they saturate at +-DBL_MAX once they would
// pass 0.01 DBL_MAX, and the call fails.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

struct NlpProblem;

// Fills nlp->con.conValues from the program variables.  Returns 0; -5 when a
// variable is missing; -6 when a sum overflowed.  0 without constraints.
int32_t cosresc(const EvalView* view);

// Constraint-Jacobian callback.  out: nlp->con.conJacobian.  Returns 0; -1 when
// the program fails, a derivative is missing or a sum overflows; the result
// of cosfdcc under FDCODE.
int32_t cosjnlc(NlpProblem* nlp);

// Forward differences of the constraint values into nlp->con.conJacobian, one
// program run per input.  Returns 0, or -2 when the program fails at every
// step tried for some input.  x, f and the values are left as at the base.
int32_t cosfdcc(NlpProblem* nlp);
