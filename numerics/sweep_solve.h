// Solves A X = B for a symmetric nonnegative definite A (such as X'X) by
// sweeping every pivot in natural order; a pivot below the tolerance is
// treated as zero, which gives a generalized inverse and a generalized
// (least-squares) solution.
#pragma once

#include <cstdint>

// Sweep solve.
//   n    in      order
//   a    in-out  PackedSym ((i, j), j <= i, at i(i+1)/2 + j): A, replaced by
//                the generalized inverse (rows and columns of negligible
//                pivots 0.0)
//   w    out     n doubles of work
//   m    in      number of right-hand sides
//   b    in-out  m*n doubles, component i of rhs c at c*n + i; replaced by
//                the solutions (negligible components 0.0)
//   tol  in      a pivot d < tol (signed) is negligible, as is an exact zero;
//                d == tol is used
// Returns the number of negligible pivots; 0 with nothing done when n < 1.
int32_t znndsol(int32_t n, double* a, double* w, int32_t m, double* b, double tol);
