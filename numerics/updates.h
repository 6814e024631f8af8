// Givens rotations, Householder reflections and the factor updates built on
// them: the circular column shift of a packed triangular factor with
// retriangularization, the adding and dropping of a constraint row in the
// Householder-factored active set of the projected Newton step, and two
// matrix-layout movers.
//
// Storage:
//   - packed upper triangular R (ztriprm): R(i, j), i <= j, at j(j+1)/2 + i
//     (the PackedSym storage of R');
//   - Householder store U: vector k has n-k elements and starts at
//     k*n - k(k-1)/2;
//   - dense matrices row-major with a leading dimension: (i, j) at i*ld + j;
//   - PackedSym: (i, j), j <= i, at i(i+1)/2 + j.
#pragma once

#include <cstdint>

// The projected Newton step's problem block, as the active-set updates see it.
struct ProjNewtonBlock {
    int32_t n = 0;           // order
    int32_t nact = 0;        // number of active constraints (raised by zconadd, lowered by zcondrp)
    int32_t boundsOnly = 0;  // nonzero: only simple bounds are active; the active set is a
                             // list of variable indices instead of Householder-factored rows
};

// The projected Newton step's work block.
struct ProjNewtonWork {
    double* rows = nullptr;        // constraint rows, n doubles each, row k at k*n
    double* rowValue = nullptr;    // one double per row, moved with its row
    double* scratch = nullptr;     // n doubles; with boundsOnly the free-variable mask
                                   // (1.0 free, 0.0 fixed)
    double* hhStore = nullptr;     // the Householder store U
    double* hhBeta = nullptr;      // one double per reflection
    int32_t* activeList = nullptr; // one int per position, moved with its row; with
                                   // boundsOnly the active variable indices, -1 after the last
};

// Constructs the plane rotation that zeroes b against a (BLAS DROTG, with b
// left 0.0 instead of the reconstruction value).
//   a, b in-out  afterwards a holds r and b holds 0.0; when b == 0.0 on
//                entry both are unchanged (c = 1, s = 0); when a == 0.0,
//                a := b, c = 0, s = 1
//   c, s out     cosine and sine
void zgivcon(double* a, double* b, double* c, double* s);

// Applies a rotation to n pairs taken with strides incx, incy (a negative
// stride starts at the far end, as in the BLAS):
// x' = c x + s y, y' = c y - s x.  Nothing when s == 0.0; when c == 0.0 the
// pairs are exchanged with a sign (x' = y, y' = -x).
void zgivapl(int32_t n, int32_t incx, int32_t incy, double c, double s, double* x, double* y);

// Circular shift of the columns k .. l (0-based, k < l) of the packed upper
// triangular R of order n, with retriangularization by rotations (LINPACK
// DCHEX).  job 1: right shift (column l moves to position k); any other job:
// left shift (column k moves to position l).  The same rotations are
// applied to rows k .. l of the m-column matrix Z (element (r, c) at
// r*ldz + c) when m >= 1.
//   work out  2n doubles: rotation t (rows k+t, k+t+1 for a left shift;
//             rows l-1-t, l-t for a right shift) has its cosine at work[t]
//             and its sine at work[n+t]
// l <= k is an internal error: the step ends with kLevelInternal.
void ztriprm(int32_t job, int32_t n, int32_t m, int32_t ldz, int32_t k, int32_t l, double* r,
             double* z, double* work);

// Builds Householder reflection k from x[k*ld], x[(k+1)*ld], ...,
// x[(n-1)*ld]: H = I - u u'/beta with u stored as vector k of U; the range of
// x is replaced by (-m*sigma, 0, ..., 0), its image under H.
// Returns 1 (beta = 0.0, nothing else changed) when the range is all zero,
// else 0.
int32_t zhh1(double* x, double* u, double* beta, int32_t k, int32_t ld, int32_t n);

// Applies reflection k to the same element range of x.  Returns 1 (nothing
// done) when beta == 0.0, else 0.
int32_t zhh2(double* x, const double* u, int32_t k, double beta, int32_t ld, int32_t n);

// Makes constraint row k the next active one (position nact): rows, row
// values and active-list entries of k and nact are exchanged, reflections
// 0 .. nact-1 applied and reflection nact built.  With boundsOnly, k is a
// variable index: it is fixed in the mask and appended to the list.
// out receives 0.0.
void zconadd(ProjNewtonBlock* block, ProjNewtonWork* work, int32_t k, double* out);

// Removes constraint k from the active set: without boundsOnly, k is the
// position; the last active row takes its place and the reflections from
// position k on are rebuilt.  With boundsOnly, k is a variable index: it is
// freed in the mask and removed from the list (with one active entry the
// list is emptied whatever k is); an index that is not in the list is an
// internal error (the step ends with kLevelInternal).  out receives 0.0.
void zcondrp(ProjNewtonBlock* block, ProjNewtonWork* work, int32_t k, double* out);

// Copies the lower triangle of the trailing block of rows and columns
// k .. n (1-based) of the square matrix a (element (i, j) at i*lda + j) into
// PackedSym storage p.  p may be the array a itself.
void zmmovrs(const double* a, double* p, int32_t k, int32_t n, int32_t lda);

// Expands the PackedSym matrix p of order n into the separate full n x n
// matrix a (element (i, j) at i*n + j), mirroring the lower triangle.
void zmmovsr(const double* p, double* a, int32_t n);

// Exchanges constraint row i with row dims[1] (rows of dims[0] doubles),
// with their rowValue and activeList entries.
void colswap(ProjNewtonWork* work, const int32_t* dims, int32_t i);
