// The inverse (I - M)^-1 of one IMINUSINV model matrix kept in sparse rows
// on the pattern of its fill-in (EvaluationState::sparseInv), for a large
// matrix with few elements such as the path matrix of a RAM model: the
// inversion and the products cost the pattern's entries instead of the
// matrix order squared or cubed.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Chooses the matrix and builds its pattern: the largest IMINUSINV matrix
// of type EQSBETA, GENERAL, LOWER, UPPER or SYMMETRIC with elements whose
// filled pattern holds at most a quarter of its order squared.  Leaves
// sparseInv.matrix 0 when none qualifies.
void cosimsp(const EvalView* view);

// Inverts I - M on the pattern by Gauss-Jordan in the pivot order.
// Returns 0, or 1 when a pivot is not above view.singular (the values are
// then partly overwritten).
int32_t cosinsp(const EvalView* view, int32_t k);

// dest (the order of the sparse inverse) := row r of the sparse inverse.
void getarow(const EvalView* view, int32_t j, int32_t r, double* dest /* out */);

// out += row * op(S), S the sparse inverse (out and row of its order).
void multiply_sparse_inverse(const EvalView& v, int32_t transpose, const double* row, double* out);
