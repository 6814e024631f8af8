// Selected eigenvalues of the tridiagonal matrix of ztred3 by bisection and
// their eigenvectors by inverse iteration.  Both routines take the
// TridiagonalWork block of numerics/tridiag.h (d, e, e2; e2[0] the order
// flag: 0.0 ascending, 2.0 descending).
//
// A submatrix is a maximal run p .. q of indices with e2[i] != 0 for
// p < i <= q; tags number the submatrices from the top, counted from 1.
#pragma once

#include <cstdint>

// Eigenvalues by bisection with Sturm sequence counts inside Gerschgorin
// bounds.
//   n     in      order
//   m     in      m > 0: the m largest eigenvalues, returned in DESCENDING
//                 order with e2[0] = 2.0; m < 0: the |m| smallest, ascending,
//                 with e2[0] = 0.0
//   eps1  in      absolute error tolerance; <= 0 selects machep * max|bound|
//                 of each submatrix
//   t     in-out  TridiagonalWork[3n]; e2 entries are set to 0.0 where the
//                 matrix splits and e2[0] to the order flag
//   w     out     |m| doubles: the eigenvalues found
//   ind   out     |m| submatrix tags, ind[i] belongs to w[i]
//   rv    work    2n doubles
// Returns the number of eigenvalues stored (normally |m|); 0 when none lie
// in the interval.  When eigenvalues coincide across the boundary of the
// wanted range the bisection for that boundary cannot separate them; then
// at most |m| of the run are stored (the largest for m > 0, the smallest
// for m < 0) and w, ind are never written past |m| entries.
// Callers after the largest eigenvalue of a matrix reduce it with ztred3,
// pass its TridiagonalWork with m = 1 and eps1 = 0.0, and read w[0]; a
// result below 1 means that no eigenvalue was found.
int32_t zbisect(int32_t n, int32_t m, double eps1, double* t, double* w, int16_t* ind,
                double* rv);

// Eigenvectors of the tridiagonal matrix by inverse iteration.
//   n    in   order
//   m    in   number of eigenvectors (m < 1 returns 0 at once)
//   t    in   TridiagonalWork as left by zimtqlv or zbisect; the order of w
//             must match e2[0] (0.0 ascending, 2.0 descending)
//   w    in   m eigenvalues
//   ind  in   their m submatrix tags (for n = 1, ind[0] is set to 1)
//   z    out  m*n doubles, vector r from index r*n, components outside the
//             submatrix of its eigenvalue 0.0, Euclidean norm 1
//   rv   work 5n doubles
// Returns 0; or the most negative warning met: -10 (accepted after at
// least 3 iterations with growth >= 0.01), -20 (after 10 iterations, growth
// >= 1e-4), -30 (after 10 iterations, growth below 1e-4); -40 when a vector
// did not grow within 60 iterations or its iterate ceased to be finite (the
// iterate is then normalised and stored when it is finite and nonzero,
// else the vector is stored as 0.0).
enum ZtinvitStatus : int32_t {
    kZtinvitConverged = 0,
    kZtinvitSlow = -10,       // accepted after 3 iterations, growth >= 0.01
    kZtinvitSlower = -20,     // after 10 iterations, growth >= 1e-4
    kZtinvitSlowest = -30,    // after 10 iterations, growth below 1e-4
    kZtinvitNoGrowth = -40,   // no growth within the iteration limit, or not finite
};
int32_t ztinvit(int32_t n, int32_t m, const double* t, const double* w, int16_t* ind,
                double* z, double* rv);
