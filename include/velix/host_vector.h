// Host vector kernels: the small BLAS-like loops over double vectors that
// the numerical library and the procedure call by name.  The platform
// implements them as plain loops (platform/vector_kernels.cpp).
//
// Conventions:
//   - n is the number of elements; n < 1 does nothing (a reduction then
//     returns 0.0);
//   - an "inc" or "stride" is the distance between consecutive elements
//     and must be positive: element i of a strided vector x is x[i*inc];
//   - "unit" vectors have stride 1;
//   - arrays are read-only unless the argument is marked out or in-out.
#pragma once

#include <cstdint>

// Inner product of two unit vectors x[n], y[n].
double zinner(const double* x, const double* y, int32_t n);
// Same as zinner (the name callers use for the unit-unit case).
double zvdot11(const double* x, const double* y, int32_t n);
// Inner product of a strided x (x[i*incx]) with a unit y[n].
double zvdotj1(const double* x, int32_t incx, const double* y, int32_t n);
// Inner product of a strided x and a strided y.
double zvdotjj(const double* x, int32_t incx, const double* y, int32_t incy, int32_t n);

// Euclidean norm of x[i*stride], i < n, computed with scaling so that it
// neither overflows nor underflows where the result itself is representable.
double zvenorm(int32_t n, int32_t stride, const double* x);
// Sum of |x[i*incx]|.
double zvasumj(const double* x, int32_t incx, int32_t n);
// Largest |x[i*incx]| (0.0 for n < 1).
double zvamxj(const double* x, int32_t incx, int32_t n);
// Sum of x[i], unit stride.
double zvsum(const double* x, int32_t n);

// dest[i] = y[i] + a*x[i] (out: dest[n]; dest may be x or y).
void zvaxpy(int32_t n, double a, const double* x, const double* y, double* dest);
// y[i] += a*x[i] (in-out: y[n]).
void zvxay11(int32_t n, double a, const double* x, double* y);
// Unit y[i] += a * x[i*incx] (in-out: y[n]).
void zvxay1j(int32_t n, double a, const double* x, int32_t incx, double* y);
// Strided y[i*incy] += a * unit x[i] (in-out: y).
void zvxayj1(int32_t n, double a, const double* x, double* y, int32_t incy);
// Plane rotation of n pairs: x' = c x + s y, y' = c y - s x
// (in-out: x[i*incx], y[i*incy]).
void zvrotg(int32_t n, double* x, int32_t incx, double* y, int32_t incy, double c, double s);
// y[i] = a*x[i] (out: y[n]; y may be x).
void zvscl11(int32_t n, double a, const double* x, double* y);

// Quadratic form of a packed symmetric matrix:
//   t    in:  k x k symmetric, PackedSym (lower by rows, (i,j) j<=i at i(i+1)/2+j)
//   l    in:  m x k, row-major (element (i,j) at i*k + j)
//   out  out: m x m symmetric L T L', PackedSym, m(m+1)/2 doubles
//   work out: k doubles of scratch
//   zero in:  reserved, callers pass 0
void zqform(const double* t, int32_t k, const double* l, int32_t m, double* out, double* work,
            int32_t zero);

// Goodnight's sweep operator (Goodnight 1979, "A tutorial on the SWEEP
// operator", The American Statistician 33) in its symmetric form on a
// PackedSym matrix, as platform/sweep_kernel.cpp implements it.  With
// d = a(k,k), sweeping on pivot k sets
//   a(k,k) = -1/d,   a(i,k) = a(i,k)/d (i != k),
//   a(i,j) = a(i,j) - a(i,k) a(k,j)/d (i, j != k),
// so that after sweeping on a set P the P block holds minus the inverse of
// A_PP, the mixed block the regression coefficients A_QP A_PP^-1 and the
// rest the residual matrix A_QQ - A_QP A_PP^-1 A_PQ.  Sweeping on every
// pivot of a positive definite matrix gives -A^-1.  Sweeping k again
// (allowed only by a tolerance below the now negative pivot) restores the
// matrix except that the off-diagonal entries of row and column k change
// sign.
//   a      in-out  PackedSym[n(n+1)/2]
//   k      in      0-based pivot index, 0 <= k < n (otherwise nothing happens)
//   n      in      order
//   flags  in-out  n characters; flags[k] becomes '1' when the matrix is swept
//   work   work    n doubles
//   tol    in      the matrix is swept only when a(k,k) > tol and
//                  |a(k,k)| > DBL_MIN (a zero pivot cannot be divided by);
//                  otherwise nothing changes and flags[k] keeps its value
void zsweep(double* a, int32_t k, int32_t n, char* flags, double* work, double tol);
