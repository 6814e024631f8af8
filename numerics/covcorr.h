// Covariance to correlation, and the inverse of a symmetric matrix (an
// information matrix or a Hessian) by the UDU' decomposition with an
// optional diagonal scaling, a singularity test from three tolerances and a
// report of the determinant and the inertia.
//
// Storage: PackedSym, element (i, j), j <= i, at i(i+1)/2 + j; a diagonal
// matrix as the vector of its n diagonal elements.  Info block: five
// doubles: determinant mantissa, power of ten (fractional after scaling),
// numbers of positive, negative and negligible diagonal values.
#pragma once

#include <cstdint>

// Converts the covariance matrix a (PackedSym, in-out) into a correlation
// matrix; sd (out, n doubles) receives the standard deviations.  A variance
// that is not positive gives sd 0.0 and a zero row and column (diagonal 0.0);
// correlations within 1.110223024625157e-13 of zero become 0.0.
void zcovcor(int32_t n, double* a, double* sd);

// Inverts a symmetric matrix in place.  From order 80 a matrix whose
// Cholesky pivots (taken from the last row, as the UDU' decomposition takes
// them) are all above their column tolerances is inverted by the blocked
// Cholesky factor and inverse instead, the same inverse and info to
// rounding.
//   detonly     in      nonzero: stop after the decomposition (a then holds
//                       the factors, scaled when the result is 1)
//   form        in      2: a is the vector of a diagonal matrix (see dodiag);
//                       any other value: a is PackedSym (a dense matrix is not
//                       accepted: callers pass the packed form)
//   tolA, tolB, tolC in absolute, relative-to-largest-diagonal and
//                       relative-to-own-diagonal singularity criteria: column
//                       i is negligible at or below
//                       max(tolC*a(i,i), tolB*max|a(j,j)|, tolA)
//   a           in-out  the matrix, replaced by its inverse
//   info        out     info block (see above)
//   sd          out     n doubles: sqrt(|a(i,i)|)
//   tolv        out     n doubles: the column tolerances (then work)
//   kpvt        out     n ints: the UDU' pivots (no interchanges after the
//                       Cholesky inverse)
//   work        out     null, or packed_inverse_work(n) doubles (cholesky.h)
//                       for the blocked factor and inverse, which otherwise
//                       take an array of their own
// Returns 0 for n < 1 (nothing touched); -1 when the matrix is singular by
// the criteria (a is then factored, not inverted; the info block holds the
// pair (0.0, 0.0) and the inertia); otherwise 1 when the matrix was scaled
// and 0 when it was not.  Callers test only for a negative result.
int32_t zcovinv(int32_t detonly, int32_t form, int32_t n, double tolA, double tolB, double tolC,
                double* a, double* info, double* sd, double* tolv, int32_t* kpvt, double* work = nullptr);

// The singularity criteria of a matrix of second derivatives in the
// parameters (an information matrix, a Hessian, a covariance of the
// estimates) judged on its correlation form D^-1/2 A D^-1/2, D the
// diagonal of A.  A change of the units of a variable rescales the
// parameters, and a change of N scales the whole matrix; neither moves the
// correlation form, so a criterion judged there calls the same matrices
// singular in any units (van der Sluis equilibration, as zcovinv applies
// it).  There every diagonal element is 1 and a pivot is the share of a
// parameter's information that the parameters pivoted before it do not
// carry (1 - R^2): the absolute bound, the bound relative to the largest
// diagonal element and the one relative to the parameter's own diagonal
// all bound that share, and the largest of the three rules.  The result
// is the triple that states it to zcovinv and zcovlid, whose criteria
// refer to the matrix as given: relative to each parameter's own diagonal
// element (where a diagonal element is 0 or too small to scale by, only
// an exact zero pivot stays negligible).
struct SingularityCriteria {
    double absolute, largest, own;
};
SingularityCriteria unit_free_criteria(double absolute, double largest, double own);

// The diagonal case: d (in-out, n doubles) is replaced by its reciprocals
// unless detonly or singular; an element with |d_i| <= max(tolB*max|d_j|,
// tolA) is negligible.  info as above (may be null).  Returns 0, or -1 when
// singular (pair (0.0, 0.0), counts kept, d untouched).
int32_t dodiag(int32_t detonly, int32_t n, double tolA, double tolB, double* d, double* info);
