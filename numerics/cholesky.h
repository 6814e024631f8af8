// Cholesky variants: a bordering step that appends one row to a factor,
// forward and backward substitution with a factor, and the modified
// Cholesky factorization of a symmetric matrix that need not be positive
// definite, with the Gerschgorin bounds it uses.
//
// Storage: PackedSym, element (i, j), j <= i, at i(i+1)/2 + j; a lower
// factor L in the same storage.  None of these routines allocates, prints
// or reports failure by a code.
#pragma once

#include <cstdint>

// Bordering step: rows 0 .. k-1 of a hold a factor L, row k the new row of
// the matrix.  Row k is replaced by row k of the factor (an off-diagonal
// element over a zero diagonal L(j,j) becomes 0.0; the diagonal becomes
// sqrt(d), or 0.0 when d <= tol or d is negative).
// Returns the pivot d = a(k,k) - sum of the squared new off-diagonal
// elements, before its square root; the caller judges it.
double zchol(int32_t k, double* a, double tol);

// Solves L y = b in place (b: n doubles); a component whose diagonal is
// exactly 0.0 becomes 0.0.  Nothing for n < 1.
void zchol2(int32_t n, const double* l, double* b);

// Solves L' x = b in place; as zchol2.
void zbaksub(int32_t n, const double* l, double* b);

// Modified Cholesky factorization (Schnabel and Eskow, 1990) with symmetric
// pivoting: L L' = P'(A + diag(E)) P.
//   perm  out     n ints: perm[j] the 0-based input index at position j
//   tol1  in      relative threshold of phase one (<= 0: cube root of
//                 1.110223024625157e-16, about 4.8e-6)
//   tol2  in      relative bound of the final shift (<= 0: the same default)
//   a     in-out  the matrix, replaced by L
//   e     out     n shifts by position, or null
//   g     out     n doubles of work (negated lower Gerschgorin bounds)
// Returns the largest shift added to the diagonal (0.0 when the matrix was
// found sufficiently positive definite); 0.0 for n < 1.
double zmchol(int32_t n, int32_t* perm, double tol1, double tol2, double* a, double* e, double* g);

// g[i] = sum over k != i, j0 <= k < n, of |a(i,k)|, minus a(i,i), for
// i = j0 .. n-1 (a PackedSym).
void gersch(int32_t n, int32_t j0, const double* a, double* g);

namespace velix::detail {

// L L' = A + shift I for a PackedSym a into the packed l, in blocks of rows
// (each block's rows against the finished factor by row products, then the
// block's own triangle).  The pivots are met in the order of the rows, as
// by the bordering step; the factor agrees with it to rounding.  l may be a
// itself.  Returns false, l partly written, at the first pivot (before its
// square root) not above `floor`, and then its row in *failed when that is
// not null.  Nothing is allocated.
bool packed_cholesky(int32_t n, const double* a, double shift, double floor, double* l,
                     int32_t* failed = nullptr);

// The order from which the inverses of positive definite matrices
// (coschin, zcovinv) take the blocked factor and inverse below: under it
// the row-by-row forms are as fast.
constexpr int32_t kBlockedInverseOrder = 80;

// Doubles of work packed_factor_inverse needs for order n: about
// n(n + 65) / 2.
int64_t packed_inverse_work(int32_t n);

// out := (L L')^-1 (PackedSym) from the packed lower factor l of a positive
// diagonal, by blocks of rows on the row products: the columns of L^-1
// (each block of them by one product against the factor's rows, then a
// triangular solve), then their cross products.  out may be l itself.
//   work  out  packed_inverse_work(n) doubles
void packed_factor_inverse(int32_t n, const double* l, double* out, double* work);

}  // namespace velix::detail
