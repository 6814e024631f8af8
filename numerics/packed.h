// Packed symmetric kernels: Cholesky factorizations with determinant or
// log-determinant, inverses from a factor, forward and backward
// substitution, trace inner products, rank-one update and downdate of a
// triangular factor and a plane rotation.
//
// Storage (PackedSym): a symmetric n x n matrix as its lower triangle by
// rows in n(n+1)/2 doubles; element (i, j), j <= i, 0-based, at
// i(i+1)/2 + j.  A lower factor L uses the same storage.  An upper factor R
// (update and downdate only) is stored as R': R(i, j), i <= j, at
// j(j+1)/2 + i.  m right-hand sides of order n lie one after another
// (vector k from k*n).  Determinant pair: det[0] mantissa with
// 1 <= |mantissa| < 10, det[1] the power of ten (a double).
//
// None of these kernels prints or calls the host, and only coschin allocates
// (the work of its blocked inverse, from order 80); every result
// convention below is part of the contract and callers test it exactly.
#pragma once

#include <cstdint>

// Cholesky factor, determinant and inverse in one call; from order 80 the
// factor and the inverse run in blocks of rows (the same results to
// rounding).
//   n   in      order
//   tol in      a pivot not above tol (or not positive) is a failure
//   det out     determinant pair of a; (0.0, 0.0) on failure
//   a   in-out  PackedSym[n(n+1)/2]: the matrix, replaced by its inverse
// Returns 0, or -(k+1) when the pivot of 0-based row k fails (a is then
// partly overwritten).
int32_t coschin(int32_t n, double tol, double* det, double* a);

// Cholesky factor of a possibly rank-deficient matrix.
//   tol     in      negligible-pivot threshold; <= 0 selects 1.110223024625157e-12
//   logdet  out     sum of log(pivot) (the log-determinant), or -708.3964185
//                   when a pivot was negligible
//   a       in-out  PackedSym: replaced by L (ordinary diagonal).  A negligible
//                   pivot leaves 0.0 on its diagonal and 0.0 below it in its
//                   column; the off-diagonal elements of its own row keep
//                   their values (callers that expect "the row zeroed" must
//                   not rely on that row).
// Returns 0 at full rank, else minus the number of negligible pivots.
// Follow with coscsol, or with coscinv when the result is 0.
int32_t coscdec(int32_t n, double tol, double* logdet, double* a);

// Inverse of L L' from a coscdec factor.
//   l in-out  PackedSym factor, replaced by the inverse of L L'
// Returns 0, or 1 as soon as a diagonal element has magnitude not above
// 2.225073858507202e-308 (l is then partly overwritten).
int32_t coscinv(int32_t n, double* l);

// Solves L L' x = b for m right-hand sides with a coscdec factor.
//   l in      PackedSym factor
//   b in-out  m*n doubles, replaced by the solutions; a component at a
//             diagonal not above 2.225073858507202e-308 becomes 0.0
// Returns the number of negligible pivots met in the forward passes divided
// by m (integer division); 0 when m < 1.
int32_t coscsol(int32_t n, int32_t m, const double* l, double* b);

// Forward substitution L y = b for m right-hand sides (any lower factor).
//   tol in      a diagonal with |L(i,i)| < tol gives y(i) = 0.0 and counts
//   b   in-out  m*n doubles
// Returns count / m (0 when m < 1).
int32_t cosfsub(int32_t n, int32_t m, double tol, const double* l, double* b);

// Backward substitution L' x = y for m right-hand sides; as cosfsub.
// Callers treat a nonzero result as failure.
int32_t cosbsub(int32_t n, int32_t m, double tol, const double* l, double* b);

// trace(X Y) of two PackedSym matrices of order n; 0.0 when n < 1.
double cosinnc(int32_t n, const double* x, const double* y);

// trace(X Y) of a PackedSym x and a dense row-major n x n y; 0.0 when n < 1.
double cosinn2(int32_t n, const double* x, const double* y);

// Rank-one update R'R + x x' (LINPACK DCHUD on packed storage).
//   p        in      order of R
//   nz, ldz  in      columns and leading dimension of Z
//   r        in-out  R stored as R' (see above)
//   x        in      p doubles
//   z        in-out  p x nz, element (i, j) at i*ldz + j; used when nz >= 1
//   y        in      nz doubles
//   rho      in-out  nz residual norms, or null
//   c, s     out     p cosines and sines of the rotations
void coscupd(int32_t p, int32_t nz, int32_t ldz, double* r, const double* x, double* z,
             const double* y, double* rho, double* c, double* s);

// Rank-one downdate R'R - x x' (LINPACK DCHDD on packed storage); arguments
// as coscupd.  Returns 0; 1 when at least one rho value could not be
// downdated (it is set to 0.0); -1 when the downdate is impossible (R, Z and
// rho untouched): the solved vector has norm above 1, or R has a zero
// diagonal element.
int32_t coscdod(int32_t p, int32_t nz, int32_t ldz, double* r, const double* x, double* z,
                const double* y, double* rho, double* c, double* s);

// Plane rotation leaving a non-negative first component:
//   a, b in-out  the pair; afterwards a >= 0 holds the norm and b is 0.0
//   c, s out     cosine and sine
void givcon1(double* a, double* b, double* c, double* s);
