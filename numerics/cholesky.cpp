// Cholesky variants: the bordering (row-by-row) Cholesky step, triangular
// substitutions, and the revised modified Cholesky factorization of
// Schnabel and Eskow ("A new modified Cholesky factorization", SIAM J. Sci.
// Stat. Comput. 11, 1990): a phase of ordinary Cholesky with
// largest-diagonal pivoting while the matrix is safely positive definite,
// then a phase that pivots on the Gerschgorin bounds and adds the smallest
// diagonal shifts they allow, and a closed-form treatment of the last 2 x 2
// block.
#include "numerics/cholesky.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "numerics/kernel_support.h"
#include "numerics/row_products.h"
#include "velix/host_vector.h"

using velix::detail::kMinPos;
using velix::pk_lower;
using velix::pk;

namespace {

// Diagonal given to a zero matrix: about the square root of the smallest
// normal double, so that the factor's diagonal is representable.
constexpr double kZeroMatrixDiagonal = velix::kSqrtDblMinWritten;

double default_tol() { return std::exp(std::log(velix::kMachEpsWritten) / 3.0); }

// Symmetric interchange of rows and columns i < j of the packed matrix.
void sym_swap(double* a, int32_t n, int32_t i, int32_t j) {
    if (i == j) return;
    for (int32_t k = 0; k < n; ++k) {
        if (k == i || k == j) continue;
        std::swap(a[pk(i, k)], a[pk(j, k)]);
    }
    std::swap(a[pk_lower(i, i)], a[pk_lower(j, j)]);
}

// One Cholesky column step at j: L(j,j), the column below, the trailing update.
void eliminate(double* a, int32_t n, int32_t j) {
    const double ljj = std::sqrt(a[pk_lower(j, j)]);
    a[pk_lower(j, j)] = ljj;
    for (int32_t i = j + 1; i < n; ++i) a[pk_lower(i, j)] /= ljj;
    for (int32_t i = j + 1; i < n; ++i)
        for (int32_t k = j + 1; k <= i; ++k)
            a[pk_lower(i, k)] -= a[pk_lower(i, j)] * a[pk_lower(k, j)];
}

// Rows per block of the blocked factor: the row products of a block run
// over a 64 x 256 panel of the finished factor (128 KiB, in the
// second-level cache) and the unblocked triangle work stays a few per cent
// of n^3 / 6 for the orders where blocking pays.
constexpr int32_t kRowBlock = 64;

// Rows i0 .. i1-1 of the factor within the block's own columns: L(i, j)
// from the updated A(i, j) less the sums over the columns i0 .. j-1,
// divided by L(j, j); the diagonal (j == i) is judged against floor.
// Returns i1, or the row whose pivot failed.
int32_t factor_triangle(double* l, int32_t i0, int32_t i1, double floor) {
    for (int32_t i = i0; i < i1; ++i) {
        double* li = l + pk_lower(i, 0);
        for (int32_t j = i0; j <= i; ++j) {
            const double* lj = l + pk_lower(j, 0);
            double s = li[j];
            for (int32_t t = i0; t < j; ++t) s -= li[t] * lj[t];
            if (j < i) {
                li[j] = s / lj[j];
            } else {
                if (!(s > floor)) return i;
                li[i] = std::sqrt(s);
            }
        }
    }
    return i1;
}

// Eight doubles in one SIMD value (one AVX-512 register, two AVX ones).
typedef double Lanes __attribute__((vector_size(8 * sizeof(double))));
constexpr int32_t kLanes = 8;

// Rows x[0 .. m-1], each the columns j0 .. j1-1 of a row, against the
// finished triangle L(J, J) of the packed factor l: x := x L(J, J)^-T,
// column by column so that each finished element is taken off the rest of
// its row; ut (kRowBlock^2 doubles) receives the triangle by columns.  In
// the factorization each L(i, j) so receives the same subtractions in the
// same order as the inner product of the bordering step.  Eight rows go
// through side by side, one in each SIMD lane (a row's steps wait for its
// division; eight rows' do not wait for each other): every lane does what
// the row-by-row solve did to its row.
VELIX_KERNEL_CLONES
void solve_rows(const double* l, int32_t j0, int32_t j1, double* const* rows, int32_t m, double* ut) {
    const int32_t nj = j1 - j0;
    for (int32_t j = 0; j < nj; ++j)
        for (int32_t t = j; t < nj; ++t) ut[j * kRowBlock + t] = l[pk_lower(j0 + t, j0 + j)];
    Lanes tile[kRowBlock];  // element t of the eight rows
    for (int32_t r0 = 0; r0 < m; r0 += kLanes) {
        const int32_t nr = std::min(kLanes, m - r0);
        // Lanes past the last row solve ones and are dropped.
        for (int32_t t = 0; t < nj; ++t)
            for (int32_t r = 0; r < kLanes; ++r) tile[t][r] = r < nr ? rows[r0 + r][t] : 1.0;
        for (int32_t j = 0; j < nj; ++j) {
            const double* u = ut + j * kRowBlock;
            const Lanes v = tile[j] / u[j];
            tile[j] = v;
            for (int32_t t = j + 1; t < nj; ++t) tile[t] -= v * u[t];
        }
        for (int32_t t = 0; t < nj; ++t)
            for (int32_t r = 0; r < nr; ++r) rows[r0 + r][t] = tile[t][r];
    }
}

// The rows x[0 .. i1-i0-1] := the identity times L(I, I)^-T, the columns
// of the inverse of the block's own triangle as rows (zeros before the
// diagonal), as solve_rows would leave them without its work on the
// zeros; ut as there.
VELIX_KERNEL_CLONES
void invert_triangle(const double* l, int32_t i0, int32_t i1, double* const* rows, double* ut) {
    const int32_t ni = i1 - i0;
    for (int32_t j = 0; j < ni; ++j)
        for (int32_t t = j; t < ni; ++t) ut[j * kRowBlock + t] = l[pk_lower(i0 + t, i0 + j)];
    for (int32_t r = 0; r < ni; ++r) {
        double* __restrict x = rows[r];
        std::fill(x, x + ni, 0.0);
        x[r] = 1.0;
        for (int32_t j = r; j < ni; ++j) {
            const double* __restrict u = ut + j * kRowBlock;
            const double v = x[j] / u[j];
            x[j] = v;
            for (int32_t t = j + 1; t < ni; ++t) x[t] -= v * u[t];
        }
    }
}

// The columns of X = L^-1 as rows (row i holds X(t, i), t >= i), each
// stored from the first column of its block of kRowBlock rows with zeros
// before its diagonal: the rows of a block then share their first column,
// which lets the row products run over whole blocks.
struct PaddedColumns {
    double* base;
    int32_t n;
    // Where row i starts: rows of the blocks above hold n - (their block's
    // first row) doubles each.
    static int64_t offset(int32_t n, int32_t i) {
        const int64_t q = i / kRowBlock, i0 = q * kRowBlock;
        return kRowBlock * (q * n - kRowBlock * q * (q - 1) / 2) + (i - i0) * (n - i0);
    }
    // Row i, at its element t = i0, the first row of its block.
    double* row(int32_t i) const { return base + offset(n, i); }
};

}  // namespace

double zchol(int32_t k, double* a, double tol) {
    double* rk = a + pk_lower(k, 0);
    for (int32_t j = 0; j < k; ++j) {
        const double* rj = a + pk_lower(j, 0);
        const double x = rk[j] - zinner(rj, rk, j);
        rk[j] = rj[j] == 0.0 ? 0.0 : x / rj[j];
    }
    const double d = rk[k] - zinner(rk, rk, k);
    // A negative pivot has no root whatever tol says.
    rk[k] = (d <= tol || d < 0.0) ? 0.0 : std::sqrt(d);
    return d;
}

void zchol2(int32_t n, const double* l, double* b) {
    velix::detail::substitute_rows(n, l, b, [&](int32_t i, double sum) {
        const double d = l[pk_lower(i, i)];
        b[i] = d == 0.0 ? 0.0 : (b[i] - sum) / d;
    });
}

void zbaksub(int32_t n, const double* l, double* b) {
    // Each x(i) is taken off the components above it along row i of L,
    // which is contiguous: component t receives the terms of x(n-1) down
    // to x(t+1) in the order of the inner product down column t.
    for (int32_t i = n - 1; i >= 0; --i) {
        const double* ri = l + pk_lower(i, 0);
        const double d = ri[i];
        const double x = d == 0.0 ? 0.0 : b[i] / d;
        b[i] = x;
        for (int32_t t = 0; t < i; ++t) b[t] -= ri[t] * x;
    }
}

void gersch(int32_t n, int32_t j0, const double* a, double* g) {
    for (int32_t i = j0; i < n; ++i) {
        double s = 0.0;
        for (int32_t k = j0; k < n; ++k)
            if (k != i) s += std::fabs(a[pk(i, k)]);
        g[i] = s - a[pk_lower(i, i)];
    }
}

double zmchol(int32_t n, int32_t* perm, double tol1, double tol2, double* a, double* e, double* g) {
    //   defaults; zero-matrix and order-1 special cases
    //   phase one: pivot on the largest diagonal, ordinary Cholesky steps
    //     while every next diagonal stays above delta_min
    //   phase two: pivot on the smallest Gerschgorin bound, shift the
    //     diagonal to dominate its column, update the bounds
    //   last 2 x 2 block: shift so that its smaller eigenvalue is a safe
    //     fraction of the spread
    if (!(tol1 > 0.0)) tol1 = default_tol();
    if (!(tol2 > 0.0)) tol2 = default_tol();
    if (n < 1) return 0.0;
    for (int32_t i = 0; i < n; ++i) {
        perm[i] = i;
        g[i] = 0.0;
        if (e != nullptr) e[i] = 0.0;
    }
    double gamma = 0.0;
    bool phase_one = true;
    bool all_tiny = true;
    for (int32_t i = 0; i < n; ++i) {
        const double d = a[pk_lower(i, i)];
        gamma = std::max(gamma, std::fabs(d));
        if (d < 0.0) phase_one = false;
        for (int32_t j = 0; j <= i; ++j)
            if (std::fabs(a[pk_lower(i, j)]) > kMinPos) all_tiny = false;
    }
    const double delta_min = std::max(kMinPos, tol1 * gamma);
    if (gamma <= kMinPos && all_tiny) {
        for (int32_t i = 0; i < n; ++i) {
            for (int32_t j = 0; j < i; ++j) a[pk_lower(i, j)] = 0.0;
            a[pk_lower(i, i)] = kZeroMatrixDiagonal;
            if (e != nullptr) e[i] = kMinPos;
        }
    }
    if (n == 1) {
        const double a00 = a[0];
        const double shift = a00 == 0.0 ? tol2 : std::max(tol2 * std::fabs(a00) - a00, 0.0);
        a[0] = std::sqrt(a00 + shift);
        if (e != nullptr) e[0] = shift;
        return shift;
    }
    if (!phase_one) gersch(n, 0, a, g);
    double delta = 0.0;
    for (int32_t j = 0; j < n - 1; ++j) {
        if (phase_one) {
            int32_t imax = j;
            for (int32_t i = j + 1; i < n; ++i)
                if (a[pk_lower(i, i)] > a[pk_lower(imax, imax)]) imax = i;
            if (imax != j) {
                sym_swap(a, n, j, imax);
                std::swap(perm[j], perm[imax]);
            }
            const double ajj = a[pk_lower(j, j)];
            if (ajj > 0.0) {
                double m = INFINITY;
                // aij (aij / ajj) rather than aij^2 / ajj: the square alone
                // leaves the doubles for a matrix scaled by 1e160 or 1e-170.
                for (int32_t i = j + 1; i < n; ++i) {
                    const double aij = a[pk_lower(i, j)];
                    m = std::min(m, a[pk_lower(i, i)] - aij * (aij / ajj));
                }
                phase_one = m >= delta_min;
            } else {
                phase_one = false;
            }
            if (phase_one) {
                eliminate(a, n, j);
                if (j == n - 2) a[pk_lower(n - 1, n - 1)] = std::sqrt(a[pk_lower(n - 1, n - 1)]);
                continue;
            }
            gersch(n, j, a, g);
        }
        if (j < n - 2) {
            int32_t imin = j;
            for (int32_t i = j + 1; i < n; ++i)
                if (g[i] < g[imin]) imin = i;
            if (imin != j) {
                sym_swap(a, n, j, imin);
                std::swap(perm[j], perm[imin]);
                std::swap(g[j], g[imin]);
            }
            double normj = 0.0;
            for (int32_t i = j + 1; i < n; ++i) normj += std::fabs(a[pk_lower(i, j)]);
            double& ajj = a[pk_lower(j, j)];
            delta = std::max({delta, std::max(normj, delta_min) - ajj, 0.0});
            if (e != nullptr) e[j] = delta;
            ajj += delta;
            if (ajj != normj) {
                const double t = normj / ajj - 1.0;
                for (int32_t i = j + 1; i < n; ++i) g[i] += std::fabs(a[pk_lower(i, j)]) * t;
            }
            eliminate(a, n, j);
            continue;
        }
        double& p = a[pk_lower(n - 2, n - 2)];
        double& q = a[pk_lower(n - 1, n - 1)];
        double& s = a[pk_lower(n - 1, n - 2)];
        // The spread of the two eigenvalues by hypot: its squares would
        // overflow for elements of 1e160 (an infinite shift) and underflow
        // for 1e-170 (a spread of 0, too small a shift and a NaN factor).
        const double r = std::hypot(p - q, 2.0 * s);
        const double lo = (p + q - r) * 0.5;
        const double hi = (p + q + r) * 0.5;
        const double c = tol2 * std::max((hi - lo) / (1.0 - tol2), gamma) - lo;
        delta = std::max({delta, 0.0, c});
        if (delta > 0.0) {
            p += delta;
            q += delta;
            if (e != nullptr) e[n - 2] = e[n - 1] = delta;
        }
        p = std::sqrt(p);
        s = p <= kMinPos ? 0.0 : s / p;
        q = std::sqrt(q - s * s);
    }
    return delta;
}

namespace velix::detail {

bool packed_cholesky(int32_t n, const double* a, double shift, double floor, double* l, int32_t* failed) {
    //   for each block I of kRowBlock rows:
    //     copy A(I, 0..I) with the shift on the diagonal
    //     for each finished block J left of I:
    //       A(I, J) -= L(I, 0..J) L(J, 0..J)'; solve within J
    //     A(I, I) -= L(I, 0..I) L(I, 0..I)' (lower); factor the triangle
    const double* rowsI[kRowBlock];
    const double* rowsJ[kRowBlock];
    double* outI[kRowBlock];
    double ut[kRowBlock * kRowBlock];
    for (int32_t i0 = 0; i0 < n; i0 += kRowBlock) {
        const int32_t i1 = std::min(n, i0 + kRowBlock), mi = i1 - i0;
        if (l != a) std::copy(a + pk_lower(i0, 0), a + pk_lower(i1, 0), l + pk_lower(i0, 0));
        for (int32_t i = i0; i < i1; ++i) {
            l[pk_lower(i, i)] += shift;
            rowsI[i - i0] = l + pk_lower(i, 0);
        }
        for (int32_t j0 = 0; j0 < i0; j0 += kRowBlock) {
            const int32_t j1 = std::min(i0, j0 + kRowBlock);
            for (int32_t j = j0; j < j1; ++j) rowsJ[j - j0] = l + pk_lower(j, 0);
            for (int32_t i = 0; i < mi; ++i) outI[i] = l + pk_lower(i0 + i, j0);
            rows_product(mi, j1 - j0, j0, rowsI, rowsJ, -1.0, outI, false);
            solve_rows(l, j0, j1, outI, mi, ut);
        }
        for (int32_t i = 0; i < mi; ++i) outI[i] = l + pk_lower(i0 + i, i0);
        rows_product(mi, mi, i0, rowsI, rowsI, -1.0, outI, true);
        const int32_t stop = factor_triangle(l, i0, i1, floor);
        if (stop < i1) {
            if (failed != nullptr) *failed = stop;
            return false;
        }
    }
    return true;
}

int64_t packed_inverse_work(int32_t n) {
    if (n < 1) return 0;
    const int32_t last = (n - 1) / kRowBlock * kRowBlock;  // the first row of the last block
    return PaddedColumns::offset(n, last) + int64_t{n - last} * (n - last);
}

void packed_factor_inverse(int32_t n, const double* l, double* out, double* work) {
    //   X = L^-1 by columns, block of rows I of X' at a time (X' L' = I):
    //     X'(I, I) := I L(I, I)^-T
    //     for each block J right of I:
    //       X'(I, J) := -X'(I, I..J) L(J, I..J)'; solve within J
    //   out = X' X, each block (I, J), J <= I, one product over t >= I
    const PaddedColumns x{work, n};
    double* rowsI[kRowBlock];
    const double* rowsJ[kRowBlock];
    double* outJ[kRowBlock];
    double ut[kRowBlock * kRowBlock];
    for (int32_t i0 = 0; i0 < n; i0 += kRowBlock) {
        const int32_t i1 = std::min(n, i0 + kRowBlock), mi = i1 - i0;
        for (int32_t r = 0; r < mi; ++r) rowsI[r] = x.row(i0 + r);
        invert_triangle(l, i0, i1, rowsI, ut);
        for (int32_t j0 = i1; j0 < n; j0 += kRowBlock) {
            const int32_t j1 = std::min(n, j0 + kRowBlock), nj = j1 - j0;
            for (int32_t j = j0; j < j1; ++j) rowsJ[j - j0] = l + pk_lower(j, i0);
            for (int32_t r = 0; r < mi; ++r) {
                outJ[r] = rowsI[r] + (j0 - i0);
                std::fill(outJ[r], outJ[r] + nj, 0.0);
            }
            rows_product(mi, nj, j0 - i0, rowsI, rowsJ, -1.0, outJ, false);
            solve_rows(l, j0, j1, outJ, mi, ut);
        }
    }
    for (int32_t i0 = 0; i0 < n; i0 += kRowBlock) {
        const int32_t i1 = std::min(n, i0 + kRowBlock), mi = i1 - i0;
        for (int32_t r = 0; r < mi; ++r) rowsI[r] = x.row(i0 + r);
        for (int32_t j0 = 0; j0 <= i0; j0 += kRowBlock) {
            const int32_t nj = std::min(n, j0 + kRowBlock) - j0;
            for (int32_t j = 0; j < nj; ++j) rowsJ[j] = x.row(j0 + j) + (i0 - j0);
            for (int32_t r = 0; r < mi; ++r) {
                outJ[r] = out + pk_lower(i0 + r, j0);
                std::fill(outJ[r], outJ[r] + (j0 == i0 ? r + 1 : nj), 0.0);
            }
            rows_product(mi, nj, n - i0, rowsI, rowsJ, 1.0, outJ, j0 == i0);
        }
    }
}

}  // namespace velix::detail
