// The typed-matrix kernels of the COSAN model form: a model matrix as it
// enters the model (itself, its inverse or the inverse of I minus itself,
// read from the InverseStore that cosimat fills) written densely, or
// multiplied onto a dense work matrix from the right, exploiting its type
// (identity, selection, diagonal and element lists are never multiplied as
// full matrices).
//
// Dense work matrices are row-major with row length view.ld; a matrix of r
// rows uses rows 0..r-1 and the first c entries of each.  op(M) is M, or M'
// when `transpose` is set.  A shape that does not conform or a type and
// form the kernels cannot apply is an internal fault: message 352/137,
// 352/66 or 352/62 and the step ends (9999).
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Writes op(M_j) densely into dest (row length view.ld); j = 0 asks for the
// identity of order n.  out: *rows, *cols the shape of op(M_j).  For a
// LINEQS model matrices 2 and 3 have their reduced (endogenous) shapes.
void cosunpa(const EvalView* view, int32_t transpose, int32_t j, int32_t* rows /* out */,
             int32_t* cols /* out */, double* dest /* out: rows x cols */);

// work (nRows x nCols) := work * op(M_j) in place; rowBuf holds at least
// view.ld doubles.  nCols must equal the row count of op(M_j).  Returns the
// new column count.
int32_t cosposm(const EvalView* view, int32_t transpose, int32_t j, int32_t nRows, int32_t nCols,
                double* work /* in-out */, double* rowBuf /* scratch */);

// work (nRows x nCols) := op(M_j) * work in place, one column at a time
// through colBuf (at least nRows doubles); nRows must equal the column count
// of op(M_j).  For the identity-like, diagonal and element-list types (with
// or without a form), not the selection, LINEQS or sparse-inverse ones.
// Returns the new row count.
int32_t cosprem(const EvalView* view, int32_t transpose, int32_t j, int32_t nRows, int32_t nCols,
                double* work /* in-out */, double* colBuf /* scratch */);

namespace velix::detail {
// Shape of op(M_j) as the term products see it (full LINEQS shapes).
void op_shape(const EvalView& v, int32_t transpose, int32_t j, int32_t* rows, int32_t* cols);
}  // namespace velix::detail
