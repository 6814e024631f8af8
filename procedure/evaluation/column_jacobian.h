// The Jacobian of the implied moments one column (one independent
// parameter) at a time, for models whose whole Jacobian does not fit in
// memory.  Mode 3 writes every column to the column file (record k of p*
// doubles at byte 8 p* k) and, for WLS and DWLS, its weighted form
// (L^-1 J_k or w .* J_k) to the weighted file.  Mode 4 stores no Jacobian:
// it writes the cross product H = J'WJ to the column file by rows of its
// upper triangle (row k: H(k, k) .. H(k, q-1)), recomputing the columns as
// often as needed, and the gradient to view.st->gradient.
//
// The dependent parameters' finite-difference table must be current (the
// cross-product callback forms it first).
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Column k into view.st->jac.column (cleared here); the diagonal moments
// are zero when the diagonal is taken from the data.  Returns 0, or the
// matrix that could not be inverted.
int32_t jac34(const EvalView* view, int32_t k);

// Returns 0; 1 when a term's inverse forms fail (messages 352/40, 352/41)
// or the WLS weight factor is singular.
int32_t cosjac3(const EvalView* view);
int32_t cosjac4(const EvalView* view);
