// Householder QR decomposition with column pivoting by largest remaining
// norm (Businger and Golub, "Linear least squares solutions by Householder
// transformations", Numer. Math. 7, 1965), with the column-norm downdate
// and its recomputation safeguard of LINPACK DQRDC (Dongarra, Bunch, Moler
// and Stewart, "LINPACK Users' Guide", SIAM 1979, ch. 9), on row-major
// storage; and triangular solves and products with the factor R.
#include "numerics/qr.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace {

// Weight of the norm-downdate safeguard test (DQRDC's 0.05).
constexpr double kDowndateGuard = 0.05;

struct DenseView {
    double* a;
    int32_t ld;
    double& operator()(int32_t i, int32_t j) const { return a[static_cast<int64_t>(i) * ld + j]; }
};

// Exchanges columns j and k over all m rows.
void swap_columns(DenseView a, int32_t m, int32_t j, int32_t k) {
    for (int32_t i = 0; i < m; ++i) std::swap(a(i, j), a(i, k));
}

// Exchanges positions j and k of the recorded values, jpvt and the columns.
void exchange(DenseView a, int32_t m, double* rec, int32_t* jpvt, int32_t j, int32_t k) {
    std::swap(rec[j], rec[k]);
    std::swap(jpvt[j], jpvt[k]);
    swap_columns(a, m, j, k);
}

// Step 1 of zqrdec: places the initial and final columns.  Returns 0, or
// -k when position k (1-based) has no column.  *p and *q receive the
// numbers of initial and final columns.
int32_t arrange_fixed(DenseView a, int32_t m, int32_t n, int32_t* jpvt, double* rec, int32_t* p,
                      int32_t* q) {
    *p = *q = 0;
    for (int32_t j = 0; j < n; ++j) {
        if (jpvt[j] > 0) ++*p;
        if (jpvt[j] < 0) ++*q;
        rec[j] = std::abs(static_cast<double>(jpvt[j]));
        jpvt[j] = j;
    }
    for (int32_t k = 1; k <= *p; ++k) {
        int32_t found = -1;
        for (int32_t j = 0; j < n && found < 0; ++j)
            if (rec[j] == k) found = j;
        if (found < 0) return -k;
        exchange(a, m, rec, jpvt, found, k - 1);
    }
    for (int32_t t = n - *q; t < n; ++t) {
        int32_t found = -1;
        for (int32_t j = *p; j < n && found < 0; ++j)
            if (rec[j] == t + 1) found = j;
        if (found < 0) return -(t + 1);
        exchange(a, m, rec, jpvt, found, t);
    }
    for (int32_t t = 0; t < n; ++t) {
        const double r = rec[t];
        // A recorded position beyond n cannot be honoured; it is left alone
        // rather than used as an index.
        if (r > 0.0 && r != t + 1 && r <= n) exchange(a, m, rec, jpvt, t, static_cast<int32_t>(r) - 1);
    }
    return 0;
}

// Moves column l to position n-1 and the columns after it one place left,
// in a, jpvt, diag and work.
void move_to_end(DenseView a, int32_t m, int32_t n, int32_t l, int32_t* jpvt, double* diag,
                 double* work) {
    std::rotate(jpvt + l, jpvt + l + 1, jpvt + n);
    std::rotate(diag + l, diag + l + 1, diag + n);
    std::rotate(work + l, work + l + 1, work + n);
    for (int32_t i = 0; i < m; ++i) {
        double* row = &a(i, 0);
        std::rotate(row + l, row + l + 1, row + n);
    }
}

// Applies reflection l (vector in column l of a, rows l..m-1) to column j
// of the matrix v (rows l..m-1).
void reflect(DenseView a, int32_t l, int32_t m, DenseView v, int32_t j) {
    double s = 0.0;
    for (int32_t i = l; i < m; ++i) s += a(i, l) * v(i, j);
    const double t = -s / a(l, l);
    for (int32_t i = l; i < m; ++i) v(i, j) += t * a(i, l);
}

}  // namespace

int32_t zqrdec(int32_t m, int32_t n, int32_t nb, int32_t lda, int32_t ldb, int32_t* jpvt,
               double tol, double* a, double* b, double* diag, double* work) {
    //   place the fixed columns (with jpvt)
    //   column norms
    //   for each column l: pivot the largest free column to l; build the
    //   reflection (or move / count a negligible column); apply it to the
    //   columns right of l, downdating their norms, and to b
    const DenseView av{a, lda};
    const DenseView bv{b, ldb};
    if (b == nullptr) nb = 0;
    const bool piv = jpvt != nullptr;
    int32_t p = 0, q = 0;
    if (piv) {
        const int32_t r = arrange_fixed(av, m, n, jpvt, diag, &p, &q);
        if (r != 0) return r;
    }
    for (int32_t j = 0; j < n; ++j) {
        diag[j] = zvenorm(m, lda, a + j);
        if (piv) work[j] = diag[j];
    }
    int32_t count = 0;
    int32_t moved = 0;
    const int32_t steps = std::min(m, n);
    for (int32_t l = 0; l < steps; ++l) {
        if (piv && p <= l && l < n - q) {
            int32_t maxj = l;
            for (int32_t j = l + 1; j < n - q; ++j)
                if (diag[j] >= diag[maxj]) maxj = j;
            if (maxj != l) {
                std::swap(jpvt[l], jpvt[maxj]);
                swap_columns(av, m, l, maxj);
                diag[maxj] = diag[l];
                work[maxj] = work[l];
            }
        }
        double s = 0.0;
        bool negligible = false;
        for (;;) {
            diag[l] = 0.0;
            if (piv) work[l] = 0.0;
            s = zvenorm(m - l, lda, &av(l, l));
            // An exactly zero column is negligible whatever tol says.
            if (s > tol && s != 0.0) break;
            if (piv && moved < n - 1 - l) {
                move_to_end(av, m, n, l, jpvt, diag, work);
                ++moved;
                continue;
            }
            negligible = true;
            break;
        }
        if (negligible) {
            ++count;
            av(l, l) = 0.0;
            continue;
        }
        if (av(l, l) < 0.0) s = -s;
        for (int32_t i = l; i < m; ++i) av(i, l) /= s;
        av(l, l) += 1.0;
        diag[l] = -s;
        if (piv) work[l] = -av(l, l);
        for (int32_t j = l + 1; j < n; ++j) {
            reflect(av, l, m, av, j);
            if (!piv || l + 1 >= m || diag[j] == 0.0) continue;
            const double r = av(l, j) / diag[j];
            const double x = std::max(1.0 - r * r, 0.0);
            const double ratio = diag[j] / work[j];
            if (1.0 + kDowndateGuard * x * ratio * ratio != 1.0) {
                diag[j] *= std::sqrt(x);
            } else {
                diag[j] = zvenorm(m - l - 1, lda, &av(l + 1, j));
                work[j] = diag[j];
            }
        }
        for (int32_t c = 0; c < nb; ++c) reflect(av, l, m, bv, c);
    }
    return count;
}

int32_t zqrsol(int32_t mode, int32_t n, int32_t nrhs, int32_t lda, int32_t ldb, int32_t ldx,
               const int32_t* jpvt, const double* a, const double* b, double* x,
               const double* diag, double* work) {
    const bool multiply = mode >= 11 && mode <= 18;
    if (!multiply && !(mode >= 1 && mode <= 8)) return -1;
    if (nrhs < 1) return 0;
    const int32_t base = multiply ? mode - 10 : mode;
    const bool upper_op = base % 2 == 1;  // R (odd) or R' (even)
    const bool packed = base >= 5;
    const bool by_rows = base == 3 || base == 4 || base == 7 || base == 8;
    const auto r = [=](int32_t i, int32_t j) {  // R(i, j), i <= j
        return packed ? a[velix::pk_lower(j, i)] : a[static_cast<int64_t>(i) * lda + j];
    };
    const auto d = [=](int32_t i) { return diag != nullptr ? diag[i] : r(i, i); };
    int32_t count = 0;
    for (int32_t c = 0; c < nrhs; ++c) {
        const auto bin = [=](int32_t i) {
            return by_rows ? b[static_cast<int64_t>(c) * ldb + i] : b[static_cast<int64_t>(i) * ldb + c];
        };
        const auto bp = [=](int32_t i) { return bin(jpvt != nullptr ? jpvt[i] : i); };
        double* xc = x + static_cast<int64_t>(c) * ldx;
        if (upper_op) {
            double* y = jpvt != nullptr ? work : xc;
            if (multiply) {
                for (int32_t i = 0; i < n; ++i) {
                    double v = d(i) * bin(i);
                    for (int32_t j = i + 1; j < n; ++j) v += r(i, j) * bin(j);
                    y[i] = v;
                }
            } else {
                for (int32_t i = n - 1; i >= 0; --i) {
                    double v = bin(i);
                    for (int32_t j = n - 1; j > i; --j) v -= r(i, j) * y[j];
                    const double di = d(i);
                    if (di == 0.0) {
                        y[i] = 0.0;
                        ++count;
                    } else {
                        y[i] = v / di;
                    }
                }
            }
            if (jpvt != nullptr)
                for (int32_t i = 0; i < n; ++i) xc[jpvt[i]] = y[i];
        } else if (multiply) {
            for (int32_t i = n - 1; i >= 0; --i) {
                double v = 0.0;
                for (int32_t j = 0; j < i; ++j) v += r(j, i) * bp(j);
                xc[i] = v + d(i) * bp(i);
            }
        } else {
            for (int32_t i = 0; i < n; ++i) {
                double v = bp(i);
                for (int32_t j = 0; j < i; ++j) v -= r(j, i) * xc[j];
                const double di = d(i);
                if (di == 0.0) {
                    xc[i] = 0.0;
                    ++count;
                } else {
                    xc[i] = v / di;
                }
            }
        }
    }
    return multiply ? 0 : count / nrhs;
}
