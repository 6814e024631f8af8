// The Jacobian of the implied moments with respect to the independent
// parameters, held in memory: row k of EvaluationState::jacobian (p*
// doubles, packed order of the moments) is dC/dtheta_k.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Fills view.st->jacobian at the current element values.  Returns 0; 1
// when the inverse forms of a term cannot be computed (messages 352/40 and
// 352/41; the Jacobian must not be used); -1 when the finite differences
// of the dependent parameters fail.
int32_t cosjac1(const EvalView* view);

// The same without the finite differences of the dependent parameters
// (the caller has them current); returns 0 or the matrix that could not be
// inverted, without a message.
int32_t jacobian_walk(const EvalView* view);
