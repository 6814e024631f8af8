// UDU' decomposition of a symmetric indefinite matrix with symmetric
// interchanges and 1 x 1 or 2 x 2 pivot blocks, with its inverse, solver and
// a restricted solver.
//
// Storage: the matrix a is PackedSym, element (i, j), j <= i, at
// i(i+1)/2 + j; row k of the stored triangle is column k of the upper
// triangle, so U's column k above the diagonal lies in row k.  After the
// decomposition a holds D (1 x 1 pivots and 2 x 2 blocks on (k-1, k-1),
// (k, k-1), (k, k)) and the multipliers of U.
//
// Pivot vector kpvt (n ints, 0-based): 1 x 1 pivot at k: the row
// interchanged with k (k itself when none).  2 x 2 block at (k-1, k):
// kpvt[k] = kpvt[k-1] = -(r+1), r the row interchanged with k-1 (r = k-1
// when none).  A negligible step leaves kpvt[k] = k (and kpvt[k-1] = k-1).
//
// Info block (five doubles, optional): determinant mantissa, power of ten,
// numbers of positive, negative and negligible diagonal values of D.  The
// determinant is (0.0, 0.0) when the result is nonzero and (0.0, 1.0) when
// the product underflows.
//
// Right-hand sides of the solvers: element i of rhs c at i*ldb + c.
#pragma once

#include <cstdint>

// Decomposition A = U D U'.
//   tol  in      a step whose largest candidate max(|a(k,k)|, colmax) is not
//                above tol (or is 0) is negligible: kstep columns are counted
//                and left as they are
//   info out     info block or null
//   a    in-out  matrix, replaced by the factors
//   kpvt out     pivots
// Returns the number of negligible pivot columns (0: regular).  n < 1
// returns 0 with info (1.0, 0.0, 0, 0, 0).
int32_t zududec(int32_t n, double tol, double* info, double* a, int32_t* kpvt);

// As zududec with one tolerance per column (tolv, n doubles): the step at
// column k (a 2 x 2 step covering k-1 and k) uses tolv[k], a(0,0) uses
// tolv[0], and diagonal k of the info block's negligible count uses tolv[k].
int32_t zudude2(int32_t n, const double* tolv, double* info, double* a, int32_t* kpvt);

// Replaces the factors by the inverse of A (same storage).  work: n
// doubles.  No singularity test: call only after a decomposition result 0.
void zuduinv(int32_t n, double* a, const int32_t* kpvt, double* work);

// Solves A x = b in place for nrhs right-hand sides (nothing when nrhs < 1).
// No singularity test: call only after a decomposition result 0.  (Some
// callers' notes list the arguments as (n, nrhs, mode, ...): the third
// argument is the leading dimension ldb of b.)
void zudusol(int32_t n, int32_t nrhs, int32_t ldb, const double* a, double* b,
             const int32_t* kpvt);

// Restricted solve: as zudusol, but 2 x 2 blocks take part only through
// their interchanges, and a 1 x 1 pivot d takes part (its multipliers and
// the division) only when d > tol (signed); a pivot not above tol leaves
// b(k) at its value after the interchanges.
void zuduso2(int32_t n, int32_t nrhs, int32_t ldb, double tol, const double* a, double* b,
             const int32_t* kpvt);
