// Symmetric eigen driver on PackedSym storage: tridiagonal reduction,
// implicit QL with bisection as the fallback, inverse iteration, back
// transformation, a rank check of clusters of close eigenvalues and a sign
// convention for the vectors.
//
// Order convention: zeigen2 returns its eigenvalues in DESCENDING order on
// every path (QL and bisection fallback alike), and eigenvector r (stored
// in z[r*n .. r*n+n-1], i.e. column r of an n x m matrix held by columns)
// belongs to ev[r].  With m < n the vectors are those of the m largest
// eigenvalues.  Callers that want the smallest eigenvalues read ev from
// the end.
#pragma once

#include <cstdint>

// Eigenvalues and leading eigenvectors of a symmetric matrix.
//   n     in      order, n >= 1
//   ap    in-out  PackedSym[n(n+1)/2]; destroyed (Householder data)
//   ev    out     n eigenvalues, descending
//   m     in      number of eigenvectors wanted, 0 .. n
//   z     out     m*n doubles (vector r from r*n); may be null when m = 0;
//                 not touched when m = 0
//   work  work    at least 9n doubles
// Returns:
//   99  invalid call (n < 1, m < 0, m > n, ap, ev or work null, or m > 0 with
//       z null); nothing is changed;
//   98  the QL iteration failed and bisection found fewer than n eigenvalues;
//   97  a cluster of close eigenvalues has linearly dependent vectors;
//   m = 0: 0, or -1 when the eigenvalues came from the bisection fallback;
//   m > 0: the result of ztinvit (0, -10, -20, -30 or -40), minus 1 when the
//          eigenvalues came from the bisection fallback.
// Every vector has unit norm and the sign fixed by zeigref.
// Callers must treat only 97, 98 and 99 as failure: a negative result is a
// complete decomposition (the bisection fallback runs, for instance, when a
// singular matrix leaves a block of roundoff-sized eigenvalues that the QL
// convergence test cannot accept), at most carrying the slow-convergence
// warning of the inverse iteration.
enum Zeigen2Status : int32_t {
    kZeigen2Fallback = -1,          // added to the result: the bisection fallback ran
    kZeigen2DependentCluster = 97,
    kZeigen2BisectionShort = 98,
    kZeigen2InvalidCall = 99,
};
int32_t zeigen2(int32_t n, double* ap, double* ev, int32_t m, double* z, double* work);

// Rank check of the clusters of close eigenvalues among the first m.
//   t   in      TridiagonalWork of the reduction (its norm sets the cluster
//               threshold 1000 * machep * norm)
//   ev  in      m eigenvalues, in either monotone order
//   z   in-out  m*n vectors; each cluster's vectors are replaced by the rows
//               of the triangular factor of their pivoted QR (same span, an
//               orthonormal set stays orthonormal)
//   wk  work    4n doubles (two vectors of doubles, two of int32)
// Returns 0, or 1 when some cluster has a dependent vector.
int32_t zeiggrp(int32_t n, int32_t m, const double* t, const double* ev, double* z, double* wk);

// Householder QR with column pivoting (LINPACK DQRDC scheme) of the k x n
// matrix whose row r is vector idx[r] of z (element (r, j) at
// z[idx[r]*n + j]); the rows are overwritten by those of R (in the
// original column order).
//   k        in   number of rows (the cluster size), k <= n
//   idx      in   k vector numbers
//   jpvt     out  n integers, the pivot order of the columns
//   tiny     in   a pivot column whose remaining norm is <= tiny counts as
//                 dependent
//   qraux, colnorm  work  n doubles each
// Returns the number of dependent pivot columns.
int32_t modqrd(int32_t k, int32_t n, const int32_t* idx, int32_t* jpvt, double tiny, double* z,
               double* qraux, double* colnorm);

// Clean-up and sign convention of m vectors of length n, in place:
// components with |v_i| <= 100 machep n become 0.0; then the vector is
// negated when its component sum is negative, or, when that sum is below
// sqrt(machep) in magnitude, when its leading component is negative (the
// first component that exceeds every earlier one in magnitude by more than
// sqrt(machep)).
void zeigref(int32_t n, int32_t m, double* z);
