// The implied moment matrix of the COSAN form, C = sum over terms of
// F1 ... Fk P Fk' ... F1', and the inverse forms its matrices enter with.
//
// Storage: C is packed of order n (EvaluationState::implied).  Stored
// inverses go to the InverseStore at the matrix's 1-based offset: LOWER and
// UPPER as the packed lower triangle of the inverse of the lower triangle
// (for UPPER the transpose's), POSDEFINIT and SYMMETRIC packed, GENERAL,
// BETA and EQSBETA dense row-major of the matrix's order (EQSBETA: its
// endogenous order, always the inverse of I - B).  EvaluationState::invDone
// marks the inverses that are current; same-named matrices share one.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Forms the stored inverses of the matrices of term `term` (0: all terms)
// that enter with a form; with constantOnly set only the constant ones.
// Returns 0, or the number of the first matrix that cannot be inverted (no
// message).  A form on a non-square matrix or on a type without an inverse
// ends the step (352/60, 352/62; 9999).
int32_t cosimat(const EvalView* view, int32_t constantOnly, int32_t term);

// Builds C from the current element values into view.st->implied, forming
// each term's inverses first unless they are formed once for all terms.
// Returns 0, or the number of a matrix that could not be inverted.
int32_t cosimpl(const EvalView* view);
// The same into c (packed p*), leaving the objective's arrays alone.
int32_t implied_moments(const EvalView* view, double* c);

namespace velix::detail {
// work (n x cols) := F_first ... F_last of term matrices first..last, each
// as it enters the model; returns the column count.
int32_t left_product(const EvalView& v, int32_t first, int32_t last, double* work);
}  // namespace velix::detail
