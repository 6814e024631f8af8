// LU decomposition with partial pivoting, the inverse from its factors, and
// the inverse of a packed lower triangular matrix.
//
// Storage: dense n x n row-major with leading dimension lda >= n, element
// (i, j) at i*lda + j.  Packed lower triangle: PackedSym, (i, j), j <= i, at
// i(i+1)/2 + j.  Determinant pair: det[0] mantissa, 1 <= |det[0]| < 10,
// det[1] power of ten (a double).
//
// Callers treat any nonzero result as failure and give up the inversion.
#pragma once

#include <cstdint>

// Gaussian elimination with partial pivoting (column order of LINPACK DGEFA).
//   n, lda in      order (callers pass n >= 1; n < 1 does nothing) and leading dimension
//   tol    in      a pivot with |pivot| <= tol (or exactly 0) is negligible:
//                  its column is neither interchanged nor eliminated
//   det    out     determinant pair, or null; (0.0, 0.0) when a pivot was
//                  negligible; (0.0, 1.0) when the diagonal product underflows
//   a      in-out  the matrix; U in the upper triangle, the negated
//                  multipliers below it, in the order of elimination (the
//                  interchanges must be replayed step by step)
//   ipvt   out     n ints: ipvt[k] the 0-based row interchanged with row k at
//                  step k; ipvt[n-1] = n-1
// Returns 0 when every pivot exceeds tol, else the number of negligible pivots.
int32_t zludec(int32_t n, int32_t lda, double tol, double* det, double* a, int32_t* ipvt);

// Inverse from the zludec factors (LINPACK DGEDI).  No singularity test:
// call only after zludec returned 0.
//   a    in-out  factors, replaced by the inverse
//   ipvt in      pivots from zludec
//   work out     n doubles of scratch
void zluinv(int32_t n, int32_t lda, double* a, const int32_t* ipvt, double* work);

// Gauss-Jordan inverse of a packed lower triangular matrix.
//   a    in-out  PackedSym lower triangle, replaced by its inverse
//   work out     n doubles of scratch
//   tol  in      a diagonal element with |d| <= tol (or exactly 0) stops the
//                inversion
// Returns 0 (also for n < 1, a untouched), or 1 at the first negligible
// diagonal element; the matrix is then partly transformed (untouched when
// it is the first).
int32_t zinvlo(double* a, int32_t n, double* work, double tol);
