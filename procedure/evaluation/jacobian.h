// The Jacobian of the implied moments with respect to the independent
// parameters, held in memory: row k of EvaluationState::jacobian (p*
// doubles, packed order of the moments) is dC/dtheta_k; or, in Jacobian
// mode 2, as term-wise records on the term file: one record of p* doubles
// per parameter reaching one matrix of one term, tagged by the parameter
// in EvaluationState::jac.recordTags, column k being the sum of the
// records tagged k.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Fills view.st->jacobian at the current element values.  Returns 0; 1
// when the inverse forms of a term cannot be computed (messages 352/40 and
// 352/41; the Jacobian must not be used); -1 when the finite differences
// of the dependent parameters fail.
// Mode 2 (view.st->jacobianMode) writes the term-wise records instead.
int32_t cosjac1(const EvalView* view);

struct WalkStep;

namespace velix::detail {
// y (packed p*) += w (u v' + v u'), u = column r of step.U, v = column c of
// step.V, lower triangle, the rows where u and v both vanish skipped.
void add_share(const EvalView& v, const WalkStep& step, double w, int32_t r, int32_t c,
               double* y);
// Zeroes the diagonal moments of a column when the diagonal of C is taken
// from the data (they do not move).
void zero_diagonal_moments(const EvalView& v, double* column);
// A column for the WLS and DWLS cross products: L^-1 x or w .* x in place.
// Returns 1 when the WLS factor is singular (the column is then unusable).
int32_t weigh_column(const EvalView& v, double* column);
// Sums the term-wise records into columns on the column file (record k
// the column of parameter k) and, for WLS and DWLS, their weighted forms
// on the weighted file.  Returns 0, or 1 with a singular WLS factor.
int32_t records_to_columns(const EvalView& v);
}  // namespace velix::detail

// The same without the finite differences of the dependent parameters
// (the caller has them current); returns 0 or the matrix that could not be
// inverted, without a message.
int32_t jacobian_walk(const EvalView* view);
