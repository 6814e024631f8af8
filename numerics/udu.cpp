// Symmetric indefinite factorization A = U D U' by the diagonal pivoting
// method of Bunch and Kaufman ("Some stable methods for calculating inertia
// and solving symmetric linear systems", Math. Comp. 31, 1977), laid out as
// LINPACK's DSPFA, DSPSL and DSPDI (Dongarra, Bunch, Moler and Stewart,
// "LINPACK Users' Guide", SIAM 1979, ch. 5) on packed storage: the upper
// triangle column by column, which is the lower triangle row by row.
#include "numerics/udu.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "numerics/kernel_support.h"

using velix::detail::det_scale;
using velix::detail::kMinPos;
using velix::pk_lower;

namespace {

// Bunch-Kaufman growth bound (1 + sqrt(17)) / 8.
const double kAlpha = (1.0 + std::sqrt(17.0)) * 0.125;

// Element (i, j), i <= j, of the upper triangle of the packed matrix.
struct Upper {
    double* a;
    double& operator()(int32_t i, int32_t j) const { return a[pk_lower(j, i)]; }
};
struct ConstUpper {
    const double* a;
    double operator()(int32_t i, int32_t j) const { return a[pk_lower(j, i)]; }
};

// Symmetric interchange of rows and columns p < q within the leading block
// 0 .. last (q <= last).
void sym_swap(Upper u, int32_t p, int32_t q, int32_t last) {
    for (int32_t i = 0; i < p; ++i) std::swap(u(i, p), u(i, q));
    std::swap(u(p, p), u(q, q));
    for (int32_t j = p + 1; j < q; ++j) std::swap(u(p, j), u(j, q));
    for (int32_t j = q + 1; j <= last; ++j) std::swap(u(p, j), u(q, j));
}

// Row of the interchange recorded for a pivot position.
int32_t pivot_row(int32_t entry) { return entry < 0 ? -entry - 1 : entry; }

template <class Tol>
int32_t decompose(int32_t n, Tol tol, double* info, double* a, int32_t* kpvt) {
    //   for k = n-1 down to 1: choose a 1 x 1 or 2 x 2 pivot (Bunch-Kaufman),
    //   skip a negligible step, interchange, eliminate the leading block
    //   then the inertia and determinant from D
    const Upper u{a};
    const auto negligible = [](double v, double t) { return v <= t || v == 0.0; };
    int32_t count = 0;
    int32_t k = n - 1;
    while (k > 0) {
        const double absakk = std::fabs(u(k, k));
        double colmax = 0.0;
        int32_t imax = 0;
        for (int32_t i = 0; i < k; ++i) {
            if (std::fabs(u(i, k)) > colmax) {
                colmax = std::fabs(u(i, k));
                imax = i;
            }
        }
        int32_t kstep = 1;
        bool swap = false;
        if (!(absakk >= kAlpha * colmax)) {
            double rowmax = 0.0;
            for (int32_t j = 0; j <= k; ++j)
                if (j != imax) rowmax = std::max(rowmax, std::fabs(j < imax ? u(j, imax) : u(imax, j)));
            if (std::fabs(u(imax, imax)) >= kAlpha * rowmax) {
                swap = true;
            } else if (absakk >= kAlpha * colmax * (colmax / rowmax)) {
                swap = false;
            } else {
                kstep = 2;
                swap = imax != k - 1;
            }
        }
        if (negligible(std::max(absakk, colmax), tol(k))) {
            count += kstep;
            kpvt[k] = k;
            if (kstep == 2) kpvt[k - 1] = k - 1;
            k -= kstep;
            continue;
        }
        if (kstep == 1) {
            if (swap) sym_swap(u, imax, k, k);
            const double r = -(1.0 / u(k, k));
            // Columns of the upper triangle are contiguous: column j gets
            // m times column k, an axpy over rows 0 .. j.
            double* __restrict ck = a + pk_lower(k, 0);
            for (int32_t j = k - 1; j >= 0; --j) {
                double* __restrict cj = a + pk_lower(j, 0);
                const double m = r * ck[j];
                for (int32_t i = 0; i <= j; ++i) cj[i] += m * ck[i];
                ck[j] = m;
            }
            kpvt[k] = swap ? imax : k;
        } else {
            if (swap) sym_swap(u, imax, k - 1, k);
            const double r = 1.0 / u(k - 1, k);
            const double ak = u(k, k) * r;
            const double akm1 = u(k - 1, k - 1) * r;
            const double q = 1.0 / (1.0 - ak * akm1);
            double* __restrict ck = a + pk_lower(k, 0);
            double* __restrict ck1 = a + pk_lower(k - 1, 0);
            for (int32_t j = k - 2; j >= 0; --j) {
                double* __restrict cj = a + pk_lower(j, 0);
                const double bk = ck[j] * r;
                const double bkm1 = ck1[j] * r;
                const double mk = q * (akm1 * bk - bkm1);
                const double mkm1 = q * (ak * bkm1 - bk);
                for (int32_t i = 0; i <= j; ++i) cj[i] += mk * ck[i] + mkm1 * ck1[i];
                ck[j] = mk;
                ck1[j] = mkm1;
            }
            kpvt[k] = kpvt[k - 1] = -((swap ? imax : k - 1) + 1);
        }
        k -= kstep;
    }
    if (k == 0) {
        kpvt[0] = 0;
        if (negligible(std::fabs(u(0, 0)), tol(0))) ++count;
    }
    if (info == nullptr) return count;
    info[0] = 1.0;
    info[1] = info[2] = info[3] = info[4] = 0.0;
    bool second = false;  // the next row is the second row of a 2 x 2 block
    double t = 0.0;       // |off-diagonal| of that block
    for (int32_t i = 0; i < n; ++i) {
        double d = u(i, i);
        if (second) {
            d = t;
            second = false;
        } else if (kpvt[i] < 0) {
            t = std::fabs(u(i, i + 1));
            d = t > kMinPos ? (d / t) * u(i + 1, i + 1) - t : 0.0;
            second = true;
        }
        if (count == 0) det_scale(info, d, true);
        if (std::fabs(d) <= tol(i)) {
            info[4] += 1.0;
        } else if (d > 0.0) {
            info[2] += 1.0;
        } else if (d < 0.0) {
            info[3] += 1.0;
        }
    }
    if (count != 0) info[0] = info[1] = 0.0;
    return count;
}

// Inverse of the leading block times column col (rows 0 .. k-1), in place
// in that column: the DSPDI column update through the work vector.
void apply_leading_inverse(Upper u, int32_t k, int32_t col, double* work) {
    double* __restrict c = u.a + pk_lower(col, 0);
    for (int32_t i = 0; i < k; ++i) work[i] = c[i];
    for (int32_t j = 0; j < k; ++j) {
        const double* __restrict cj = u.a + pk_lower(j, 0);
        // The inner product on four partial sums, so that the products do
        // not wait for each other's additions.
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        int32_t i = 0;
        for (; i + 4 <= j + 1; i += 4) {
            s0 += cj[i] * work[i];
            s1 += cj[i + 1] * work[i + 1];
            s2 += cj[i + 2] * work[i + 2];
            s3 += cj[i + 3] * work[i + 3];
        }
        for (; i <= j; ++i) s0 += cj[i] * work[i];
        const double wj = work[j];
        for (i = 0; i < j; ++i) c[i] += wj * cj[i];
        c[j] = (s0 + s1) + (s2 + s3);
    }
}

double column_dot_work(Upper u, int32_t k, int32_t col, const double* work) {
    double s = 0.0;
    for (int32_t i = 0; i < k; ++i) s += work[i] * u(i, col);
    return s;
}

double column_dot(Upper u, int32_t k, int32_t c1, int32_t c2) {
    double s = 0.0;
    for (int32_t i = 0; i < k; ++i) s += u(i, c1) * u(i, c2);
    return s;
}

// The sweeps of the solvers.  restricted selects zuduso2's rules.
void solve_one(int32_t n, const double* a, double* b, int32_t ldb, const int32_t* kpvt,
               bool restricted, double tol) {
    const ConstUpper u{a};
    const auto bb = [b, ldb](int32_t i) -> double& { return b[static_cast<int64_t>(i) * ldb]; };
    const auto uses = [&](int32_t k) { return !restricted || u(k, k) > tol; };
    int32_t k = n - 1;
    while (k >= 0) {
        if (kpvt[k] >= 0) {
            if (k > 0) {
                if (kpvt[k] != k) std::swap(bb(k), bb(kpvt[k]));
                if (uses(k))
                    for (int32_t i = 0; i < k; ++i) bb(i) += bb(k) * u(i, k);
            }
            if (uses(k)) bb(k) /= u(k, k);
            k -= 1;
            continue;
        }
        if (k > 1) {
            const int32_t r = pivot_row(kpvt[k]);
            if (r != k - 1) std::swap(bb(k - 1), bb(r));
            if (!restricted) {
                for (int32_t i = 0; i < k - 1; ++i) bb(i) += bb(k) * u(i, k);
                for (int32_t i = 0; i < k - 1; ++i) bb(i) += bb(k - 1) * u(i, k - 1);
            }
        }
        if (!restricted) {
            const double r = 1.0 / u(k - 1, k);
            const double ak = u(k, k) * r;
            const double akm1 = u(k - 1, k - 1) * r;
            const double bk = bb(k) * r;
            const double bkm1 = bb(k - 1) * r;
            const double w = 1.0 / (ak * akm1 - 1.0);
            bb(k) = w * (akm1 * bk - bkm1);
            bb(k - 1) = w * (ak * bkm1 - bk);
        }
        k -= 2;
    }
    k = 0;
    while (k < n) {
        const auto dot_col = [&](int32_t c) {
            double s = 0.0;
            for (int32_t i = 0; i < k; ++i) s += u(i, c) * bb(i);
            return s;
        };
        if (kpvt[k] >= 0) {
            if (k > 0) {
                if (uses(k)) bb(k) += dot_col(k);
                if (kpvt[k] != k) std::swap(bb(k), bb(kpvt[k]));
            }
            k += 1;
            continue;
        }
        if (k > 0) {
            if (!restricted) {
                bb(k) += dot_col(k);
                bb(k + 1) += dot_col(k + 1);
            }
            const int32_t r = pivot_row(kpvt[k]);
            if (r != k) std::swap(bb(k), bb(r));
        }
        k += 2;
    }
}

}  // namespace

int32_t zududec(int32_t n, double tol, double* info, double* a, int32_t* kpvt) {
    if (n < 1) {
        if (info != nullptr) {
            info[0] = 1.0;
            info[1] = info[2] = info[3] = info[4] = 0.0;
        }
        return 0;
    }
    return decompose(n, [tol](int32_t) { return tol; }, info, a, kpvt);
}

int32_t zudude2(int32_t n, const double* tolv, double* info, double* a, int32_t* kpvt) {
    if (n < 1) return zududec(n, 0.0, info, a, kpvt);
    return decompose(n, [tolv](int32_t k) { return tolv[k]; }, info, a, kpvt);
}

void zuduinv(int32_t n, double* a, const int32_t* kpvt, double* work) {
    //   for each pivot block from the top: invert D's block, complete the
    //   block's columns through the inverse of the leading block, then undo
    //   the block's interchange
    const Upper u{a};
    int32_t k = 0;
    while (k < n) {
        int32_t kstep = 1;
        if (kpvt[k] >= 0) {
            u(k, k) = 1.0 / u(k, k);
            if (k > 0) {
                apply_leading_inverse(u, k, k, work);
                u(k, k) += column_dot_work(u, k, k, work);
            }
        } else {
            kstep = 2;
            const double s = u(k, k + 1);
            const double t = std::fabs(s);
            const double rt = 1.0 / t;
            const double ak = u(k, k) * rt;
            const double akp1 = u(k + 1, k + 1) * rt;
            const double rd = 1.0 / (t * (ak * akp1 - 1.0));
            u(k, k) = akp1 * rd;
            u(k + 1, k + 1) = ak * rd;
            u(k, k + 1) = -(s * rt) * rd;
            if (k > 0) {
                apply_leading_inverse(u, k, k + 1, work);
                u(k + 1, k + 1) += column_dot_work(u, k, k + 1, work);
                u(k, k + 1) += column_dot(u, k, k, k + 1);
                apply_leading_inverse(u, k, k, work);
                u(k, k) += column_dot_work(u, k, k, work);
            }
        }
        const int32_t ks = pivot_row(kpvt[k]);
        if (ks != k) sym_swap(u, ks, k, k + kstep - 1);
        k += kstep;
    }
}

void zudusol(int32_t n, int32_t nrhs, int32_t ldb, const double* a, double* b,
             const int32_t* kpvt) {
    for (int32_t c = 0; c < nrhs; ++c) solve_one(n, a, b + c, ldb, kpvt, false, 0.0);
}

void zuduso2(int32_t n, int32_t nrhs, int32_t ldb, double tol, const double* a, double* b,
             const int32_t* kpvt) {
    for (int32_t c = 0; c < nrhs; ++c) solve_one(n, a, b + c, ldb, kpvt, true, tol);
}
