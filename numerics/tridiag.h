// Householder reduction of a symmetric matrix to tridiagonal form, QL
// iterations on the tridiagonal matrix and the routines that carry vectors
// between the given and the tridiagonal basis.
//
// Storage conventions (callers rely on them exactly):
//   - Full symmetric matrix of ztred2: n x n doubles (either triangle may be
//     read as the matrix).  On return it holds the orthogonal Z with
//     T = Z' A Z, column k of Z (and after ztql2 eigenvector k) in the n
//     consecutive doubles from index k*n.
//   - Off-diagonal e in the reduction layout: e[0] = 0, e[i] = T(i, i-1).
//   - TridiagonalWork t: 3n doubles, d = t[0..n-1], e = t[n..2n-1]
//     (reduction layout), e2 = t[2n..3n-1] with e2[i] = e[i]^2 (0 where the
//     matrix splits).  e2[0] is the order flag of the eigenvalues that
//     ztinvit reads: 0.0 ascending, 2.0 descending.
//   - PackedSym ap after ztred3: row i (elements (i,0) .. (i,i-1)) holds the
//     scaled Householder vector of step i, the diagonal slot (i,i) holds
//     h_i = scale*sqrt(H); h_i = 0 means step i was skipped.  The diagonal
//     of the given matrix has gone into d.
//   - Submatrix tags: 16-bit integers, 1 for the eigenvalues of the first
//     unreduced block from the top, 2 for the second, ...
//
// None of these routines allocates or prints.
#pragma once

#include <cstdint>

// Householder reduction of a full symmetric matrix, accumulating Z.
//   n  in      order (n < 1 does nothing)
//   a  in-out  n*n doubles: the symmetric matrix in, Z out
//   d  out     n doubles, diagonal of T
//   e  out     n doubles, off-diagonal of T in the reduction layout
void ztred2(int32_t n, double* a, double* d, double* e);

// Eigenvalues and optionally eigenvectors of a tridiagonal matrix by the QL
// method with implicit shifts, applied to the Z of ztred2.
//   n        in      order, n >= 1
//   z        in-out  n*n doubles: Z in; the eigenvectors out when vectors is
//                    nonzero (vector k from index k*n), untouched otherwise
//   d        in-out  n doubles: diagonal in, eigenvalues out in DESCENDING
//                    order (the first of equal values stays in front)
//   e        in-out  n doubles, reduction layout; destroyed
//   vectors  in      nonzero (e.g. the character '1') asks for eigenvectors
// Returns 0, or -(l+1) when eigenvalue l did not converge within 50
// iterations (d and z are then partly transformed and must not be used).
int32_t ztql2(int32_t n, double* z, double* d, double* e, int32_t vectors);

// Householder reduction of a PackedSym matrix in place.
//   n   in      order (n = 0 does nothing)
//   ap  in-out  PackedSym[n(n+1)/2]: the matrix in, the Householder data out
//   w   out     TridiagonalWork[3n]
void ztred3(int32_t n, double* ap, double* w);

// Back-transformation of m eigenvectors of the tridiagonal matrix of ztred3
// into eigenvectors of the given matrix.
//   n, m  in      order and number of vectors (nothing for n < 2)
//   ap    in      Householder data of ztred3
//   z     in-out  m*n doubles, vector j from index j*n
// A step with |h_i| <= sqrt(DBL_MIN) is skipped.
void ztrbak3(int32_t n, int32_t m, const double* ap, double* z);

// Applies the stored transformations of ztred3 to one vector.
//   mode  in      nonzero: steps 1 .. n-1 ascending (tridiagonal basis to
//                 the given basis, as ztrbak3); 0: steps n-1 .. 1 descending
//                 (given basis to tridiagonal basis)
//   ap    in      Householder data of ztred3
//   x     in-out  n doubles
// Returns the number of steps skipped because h_i is exactly 0.0; 0 for
// n < 2.
int32_t ztrapp3(int32_t mode, int32_t n, const double* ap, double* x);

// Eigenvalues of the tridiagonal matrix of ztred3 by the implicit QL method,
// tagged with the unreduced block each belongs to.
//   n    in      order (n < 1 returns 0)
//   t    in-out  TridiagonalWork: read; e2 entries are set to 0.0 where the
//                matrix splits and e2[0] to 0.0 (ascending order)
//   w    out     n eigenvalues in ASCENDING order
//   ind  out     n submatrix tags, ind[i] belongs to w[i]
//   rv1  work    n doubles
// Returns 0, or -(l+1) on failure at 0-based position l (outputs unusable).
int32_t zimtqlv(int32_t n, double* t, double* w, int16_t* ind, double* rv1);
