// Householder QR decomposition with optional column pivoting, and the
// triangular solver and multiplier that goes with it.
//
// Storage: dense a with element (i, j) at i*lda + j.  The triangular factor
// R for zqrsol is dense (R(i, j), i <= j, at i*lda + j) or packed
// (R(i, j), i <= j, at j(j+1)/2 + i: the PackedSym storage of R').
// Neither routine allocates or prints.
#pragma once

#include <cstdint>

// Householder QR of the m x n matrix a: A P = Q R.
//   m, n    in      rows and columns; only min(m, n) columns are processed
//   nb      in      number of right-hand sides (taken as 0 when b is null)
//   lda,ldb in      leading dimensions of a and b
//   jpvt    in-out  n ints or null.  In: 0 a free column, k > 0 a column to
//                   stand at leading position k (1-based, numbering 1..p),
//                   -k a column to stand at trailing position k (numbering
//                   n-q+1..n); free columns are pivoted by largest remaining
//                   norm (ties: the later column).  Out: jpvt[j] the 0-based
//                   input index of the column now at position j.
//   tol     in      a column whose remaining norm is not above tol (or is 0)
//                   is negligible: with jpvt it is first moved to the end,
//                   otherwise it is counted and left (a(l,l) = 0.0, diag[l] =
//                   0.0, no reflection)
//   a       in-out  out: for column l the Householder vector u in
//                   a(l..m-1, l) (u(l) = 1 + a(l,l)/s, not 1; the reflection
//                   is I - u u'/u(l)) and row l of R right of the diagonal
//   b       in-out  m x nb right-hand sides (element (i, c) at i*ldb + c),
//                   replaced by Q'b; or null
//   diag    out     n doubles: diag[l] = R(l, l)
//   work    out     n doubles, used only with jpvt: work[l] = -u(l)
// Returns the number of negligible columns left in place (0: full column
// rank to the tolerance), or -k when the initial or final column meant for
// position k (1-based) is missing from jpvt.
int32_t zqrdec(int32_t m, int32_t n, int32_t nb, int32_t lda, int32_t ldb, int32_t* jpvt,
               double tol, double* a, double* b, double* diag, double* work);

// Solves with, or multiplies by, the triangular factor R of order n.
//   mode  1 solve R y = b, x = P y (dense R, b by columns)
//         2 solve R' x = P' b     (dense R, b by columns)
//         3, 4 as 1, 2 with b by rows; 5-8 as 1-4 with packed R
//         11-18 as 1-8 with the product x = P (R b) (odd) or x = R' (P' b)
//         (even) in place of the solve
//         A packed factor is the PackedSym lower triangle L = R', so with
//         it mode 7 solves L' y = b, 8 solves L x = b, 17 multiplies by L'
//         and 18 by L (17 then 18 multiplies by L L' = R'R)
//   nrhs  in   number of right-hand sides
//   lda   in   leading dimension of dense R (unused when packed)
//   ldb   in   b by columns: element i of rhs c at i*ldb + c; by rows: at c*ldb + i
//   ldx   in   x: element i of rhs c at c*ldx + i
//   jpvt  in   the permutation P from zqrdec (x = P y puts y[i] at x[jpvt[i]]), or null
//   a     in   R
//   b     in   right-hand sides
//   x     out  results; may be b itself when jpvt is null and the layouts agree
//   diag  in   n diagonal elements of R, or null (read from R)
//   work  out  n doubles, used only with jpvt
// Returns, for the solve modes, the number of diagonal elements exactly 0.0
// met over all right-hand sides divided by nrhs (integer division; the
// element becomes 0.0); 0 for the multiply modes and when nrhs < 1; -1 for
// any other mode (nothing done).  Callers read a nonzero solve result as a
// singular factor.
int32_t zqrsol(int32_t mode, int32_t n, int32_t nrhs, int32_t lda, int32_t ldb, int32_t ldx,
               const int32_t* jpvt, const double* a, const double* b, double* x,
               const double* diag, double* work);
