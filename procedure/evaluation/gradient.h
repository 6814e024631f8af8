// The gradient callback: dF/dtheta for the independent parameters by the
// chain rule through the COSAN form, dF/dtheta = tr(G dC/dtheta) with G =
// dF/dC of the method in force (see term_walker.h).  It reads what the
// objective left at the same point and writes only its own arrays.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

struct NlpProblem;

// Gradient callback.  out: nlp->work.gradient[nParmFree].  Returns 0; -1 when
// the objective has not been evaluated at the point (or failed there); 1
// when a model matrix cannot be inverted (messages 352/40 and 352/41).  A
// last digit of FD= hands over to the optimizer's forward (1) or central
// (2..9) differences and returns their result.
int32_t cosgrad(NlpProblem* nlp);

// The gradient at the point of the last objective into view.st->gradient;
// returns 0 or the number of a matrix that could not be inverted.
int32_t eval_gradient(const EvalView* view);

namespace velix::detail {
// Writes messages 352/40 (with the matrix name) and 352/41 to the log.
void report_inversion_failure(const EvalView& v, int32_t matrix);
}  // namespace velix::detail
