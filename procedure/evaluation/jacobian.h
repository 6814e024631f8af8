// The Jacobian of the implied moments with respect to the independent
// parameters, held in memory: row k of EvaluationState::jacobian (p*
// doubles, packed order of the moments) is dC/dtheta_k.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Fills view.st->jacobian at the current element values.  Returns 0, or 1
// when the inverse forms of a term cannot be computed (messages 352/40 and
// 352/41; the Jacobian must not be used).
int32_t cosjac1(const EvalView* view);
