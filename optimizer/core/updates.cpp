// Quasi-Newton updates of the Hessian approximation over the free space:
// DFP and BFGS on a packed inverse approximation H, on an LDL' factor of the
// approximation B (rank-one changes of the factor, Gill, Golub, Murray and
// Saunders, "Methods for modifying matrix factorizations", Math. Comp. 28,
// 1974, method C1) and on a Cholesky factor B = R'R (a rank-one change of R
// retriangularised by Givens rotations, Dennis and Schnabel, Numerical
// Methods for Unconstrained Optimization, 1983, sec. 9.4 and alg. A3.4.1).
// The BFGS factor update damps a gradient change of too little curvature
// (Powell, "A fast algorithm for nonlinearly constrained optimization
// calculations", 1978).
#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "numerics/qr.h"
#include "numerics/updates.h"
#include "optimizer/core/core.h"
#include "optimizer/core/reduced_space.h"

namespace {

// 10000 times the smallest normalised double.
constexpr double kTiny = velix::kDblMinE4Written;
constexpr double kEps = velix::kMachEpsWritten;          // 2^-53
constexpr double kRelTol = 100.0 * velix::kMachEpsWritten;  // 100 eps: a step worth scaling by
constexpr double kOrthogonal = 10.0 * velix::kMachEpsWritten;  // 10 eps: s'y against |s||y|
constexpr double kSqrtEps = velix::kSqrtMachEpsWritten;

double clamp_scale(double g) { return std::min(std::max(g, 0.001), 1000.0); }

double norm(int32_t k, const double* v) { return std::sqrt(dotprd(k, v, v)); }

// y = A x for a packed symmetric A of order k.
void packed_times(int32_t k, const double* a, const double* x, double* y) {
    for (int32_t i = 0; i < k; ++i) y[i] = 0.0;
    for (int32_t i = 0; i < k; ++i) {
        const double* row = a + static_cast<size_t>(i) * (i + 1) / 2;
        for (int32_t j = 0; j < i; ++j) {
            y[i] += row[j] * x[j];
            y[j] += row[j] * x[i];
        }
        y[i] += row[i] * x[i];
    }
}

// w = B s for B = L D L' in packed storage (unit L, D on the diagonal).
void ldl_times(int32_t k, const double* ldl, const double* s, double* w) {
    // t = L' s, then t = D t, then w = L t.
    std::vector<double> t(static_cast<size_t>(k));
    for (int32_t j = 0; j < k; ++j) {
        double v = s[j];
        for (int32_t i = j + 1; i < k; ++i) v += ldl[static_cast<size_t>(i) * (i + 1) / 2 + j] * s[i];
        t[j] = v * ldl[static_cast<size_t>(j) * (j + 1) / 2 + j];
    }
    for (int32_t i = 0; i < k; ++i) {
        double v = t[i];
        for (int32_t j = 0; j < i; ++j) v += ldl[static_cast<size_t>(i) * (i + 1) / 2 + j] * t[j];
        w[i] = v;
    }
}

// The tests every update makes before changing the matrix: d = s'y, c the
// curvature of the current matrix along the update.
int32_t common_tests(NlpProblem* p, int32_t k, const double* s, const double* y, double d, double c) {
    if (d <= kTiny || c <= kTiny) return 3;
    if (c <= kTiny * d) return 2;
    if (d <= kOrthogonal * norm(k, s) * norm(k, y)) return 1;
    p->nUpdates += 1;
    return 0;
}

int32_t free_dimension(const NlpProblem* p, int32_t n) { return n - p->nActiveBounds - p->nActiveLin; }

void scale_diagonal(int32_t k, double* ldl, double g) {
    for (int32_t i = 0; i < k; ++i) ldl[static_cast<size_t>(i) * (i + 1) / 2 + i] *= g;
}

// R = L' multiplied (mode 17) or L multiplied (mode 18), or L x = b solved
// (mode 8), for the packed Cholesky factor; x may be b.
void chol_apply(int32_t mode, int32_t k, const double* l, const double* b, double* x) {
    zqrsol(mode, k, 1, k, 1, k, nullptr, l, b, x, nullptr, nullptr);
}

}  // namespace

int32_t dfpupd(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* h,
               double* w) {
    if (k <= 0) return 0;
    const size_t len = static_cast<size_t>(k) * (k + 1) / 2;
    if (scale && p->lastStep > kRelTol) {
        const double g = clamp_scale(p->lastStep);
        for (size_t i = 0; i < len; ++i) h[i] *= g;
    }
    packed_times(k, h, y, w);
    const double c = dotprd(k, y, w), d = dotprd(k, s, y);
    if (const int32_t r = common_tests(p, k, s, y, d, c); r != 0) return r;
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j <= i; ++j)
            h[static_cast<size_t>(i) * (i + 1) / 2 + j] += s[i] * s[j] / d - w[i] * w[j] / c;
    return 0;
}

int32_t bfgsupd(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* h,
                double* w) {
    if (k <= 0) return 0;
    const size_t len = static_cast<size_t>(k) * (k + 1) / 2;
    packed_times(k, h, y, w);
    double c = dotprd(k, y, w);
    const double d = dotprd(k, s, y);
    if (scale && d > kSqrtEps * c && c > kRelTol) {
        const double g = clamp_scale(d / c);
        for (size_t i = 0; i < len; ++i) h[i] *= g;
        packed_times(k, h, y, w);
        c = dotprd(k, y, w);
    }
    if (const int32_t r = common_tests(p, k, s, y, d, c); r != 0) return r;
    const double a = (1.0 + c / d) / d;
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j <= i; ++j)
            h[static_cast<size_t>(i) * (i + 1) / 2 + j] += a * s[i] * s[j] - (w[i] * s[j] + s[i] * w[j]) / d;
    return 0;
}

int32_t ldlupd(int32_t k, double alpha, double* ldl, double* z) {
    int32_t first = k;
    double a = alpha;
    for (int32_t j = 0; j < k && a != 0.0; ++j) {
        double& dj = ldl[static_cast<size_t>(j) * (j + 1) / 2 + j];
        const double pj = z[j];
        double dbar = dj + a * pj * pj;
        // A pivot that would not stay positive is held at a small positive
        // value so that the factor stays usable; the caller learns of it.
        if (!(dbar > kEps * std::fabs(dj))) {
            if (first == k) first = j;
            dbar = std::max(kEps * std::fabs(dj), kTiny);
        }
        const double beta = pj * a / dbar;
        a = dj * a / dbar;
        dj = dbar;
        for (int32_t r = j + 1; r < k; ++r) {
            double& lrj = ldl[static_cast<size_t>(r) * (r + 1) / 2 + j];
            z[r] -= pj * lrj;
            lrj += beta * z[r];
        }
    }
    return first;
}

// The rank-one changes of the factored updates are made with the positive
// change first, so that every intermediate factor is positive definite (B
// - Bss'B/s'Bs alone is singular along s).
int32_t dudfpup(NlpProblem* p, int32_t scale, int32_t k, double* s, const double* y, double* ldl,
                double* w, double* v) {
    if (k <= 0) return 0;
    if (scale && p->lastStep > kRelTol) scale_diagonal(k, ldl, 1.0 / clamp_scale(p->lastStep));
    ldl_times(k, ldl, s, w);
    const double c = dotprd(k, s, w), d = dotprd(k, s, y);
    if (const int32_t r = common_tests(p, k, s, y, d, c); r != 0) return r;
    for (int32_t i = 0; i < k; ++i) s[i] = y[i] / d - w[i] / c;
    for (int32_t i = 0; i < k; ++i) v[i] = y[i];
    ldlupd(k, 1.0 / d, ldl, v);
    if (ldlupd(k, -1.0 / c, ldl, w) < k) return -1;
    if (ldlupd(k, c, ldl, s) < k) return -2;
    return 0;
}

int32_t dubfgsup(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y,
                 double* ldl, double* w) {
    if (k <= 0) return 0;
    ldl_times(k, ldl, s, w);
    double c = dotprd(k, s, w);
    const double d = dotprd(k, s, y);
    if (scale && d > kSqrtEps * c && c > kRelTol) {
        scale_diagonal(k, ldl, clamp_scale(d / c));
        ldl_times(k, ldl, s, w);
        c = dotprd(k, s, w);
    }
    if (const int32_t r = common_tests(p, k, s, y, d, c); r != 0) return r;
    std::vector<double> z(y, y + k);
    ldlupd(k, 1.0 / d, ldl, z.data());
    if (ldlupd(k, -1.0 / c, ldl, w) < k) return -1;
    return 0;
}

int32_t uvbfgs(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* l,
               double* a, double* b) {
    if (k <= 0) return 0;
    chol_apply(17, k, l, s, a);  // a = R s
    double c = dotprd(k, a, a);
    const double d = dotprd(k, s, y);
    if (scale && d > kEps * c && c > kRelTol) {
        const double g = clamp_scale(std::sqrt(d / c));
        for (size_t i = 0; i < static_cast<size_t>(k) * (k + 1) / 2; ++i) l[i] *= g;
        chol_apply(17, k, l, s, a);
        c = dotprd(k, a, a);
    }
    if (c <= kTiny) return 3;
    std::vector<double> z(static_cast<size_t>(k));
    chol_apply(18, k, l, a, z.data());  // z = R'R s = B s
    if (d >= 0.1 * c) {
        const double q = std::sqrt(d * c);
        for (int32_t i = 0; i < k; ++i) b[i] = y[i] / q - z[i] / c;
    } else {
        // Damped change t y + (1 - t) B s, whose curvature along s is 0.1 c.
        const double t = 0.9 * c / (c - d), r = std::sqrt(0.1);
        for (int32_t i = 0; i < k; ++i) b[i] = t / (c * r) * y[i] - ((t - 1.0) / r + 1.0) / c * z[i];
    }
    p->nUpdates += 1;
    return 0;
}

int32_t uvdfp(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* l,
              double* a, double* b) {
    if (k <= 0) return 0;
    if (scale && p->lastStep > kRelTol) {
        const double g = 1.0 / std::sqrt(std::min(std::max(p->lastStep, 1e-4), 1e4));
        for (size_t i = 0; i < static_cast<size_t>(k) * (k + 1) / 2; ++i) l[i] *= g;
    }
    std::vector<double> w(static_cast<size_t>(k)), v(static_cast<size_t>(k));
    chol_apply(8, k, l, y, w.data());  // R'w = y
    const double c = dotprd(k, w.data(), w.data()), d = dotprd(k, s, y);
    if (const int32_t r = common_tests(p, k, s, y, d, c); r != 0) return r;
    chol_apply(17, k, l, s, v.data());  // v = R s
    const double rd = 1.0 / std::sqrt(d), rc = 1.0 / std::sqrt(c);
    for (int32_t i = 0; i < k; ++i) {
        a[i] = rd * (rc * w[i] - rd * v[i]);
        b[i] = y[i];
    }
    return 0;
}

int32_t llupdat(int32_t k, double* l, double* a, const double* b, double* work) {
    // Dense upper R (row-major) from the packed L = R'.
    double* r = work;
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j < k; ++j)
            r[i * k + j] = j >= i ? l[static_cast<size_t>(j) * (j + 1) / 2 + i] : 0.0;
    int32_t m = k - 1;
    while (m > 0 && a[m] == 0.0) --m;
    double c, sn;
    // Rotate a onto its first component; R becomes upper Hessenberg.
    for (int32_t i = m - 1; i >= 0; --i) {
        zgivcon(&a[i], &a[i + 1], &c, &sn);
        zgivapl(k, 1, 1, c, sn, r + i * k, r + (i + 1) * k);
    }
    for (int32_t j = 0; j < k; ++j) r[j] += a[0] * b[j];
    // Back to triangular form.
    for (int32_t i = 0; i < m; ++i) {
        double x = r[i * k + i], z = r[(i + 1) * k + i];
        zgivcon(&x, &z, &c, &sn);
        zgivapl(k, 1, 1, c, sn, r + i * k, r + (i + 1) * k);
        r[(i + 1) * k + i] = 0.0;
    }
    for (int32_t i = 0; i < k; ++i) {
        if (r[i * k + i] == 0.0) return -1;
        const double sign = r[i * k + i] < 0.0 ? -1.0 : 1.0;
        for (int32_t j = i; j < k; ++j) l[static_cast<size_t>(j) * (j + 1) / 2 + i] = sign * r[i * k + j];
    }
    return 0;
}

namespace {

int32_t dispatch(NlpProblem* p, int32_t storage, int32_t scale, int32_t n, double* s, double* y,
                 double* m, double* w1, double* w2, double* w3, bool dfp) {
    const int32_t k = free_dimension(p, n);
    if (k <= 0) return 0;
    if (storage == 1) return (dfp ? dfpupd : bfgsupd)(p, scale, k, s, y, m, w1);
    if (storage == 2) return dfp ? dudfpup(p, scale, k, s, y, m, w1, w2) : dubfgsup(p, scale, k, s, y, m, w1);
    const int32_t r = (dfp ? uvdfp : uvbfgs)(p, scale, k, s, y, m, w1, w2);
    if (r != 0) return r;
    // A copy of the (scaled) factor, so that a failed change leaves it.
    const size_t len = static_cast<size_t>(k) * (k + 1) / 2;
    std::vector<double> saved(m, m + len);
    if (llupdat(k, m, w1, w2, w3) != 0) {
        std::copy(saved.begin(), saved.end(), m);
        return -1;
    }
    return 0;
}

}  // namespace

int32_t znlpdfp(NlpProblem* p, int32_t storage, int32_t scale, int32_t n, double* s, double* y,
                double* matrix, double* work1, double* work2, double* work3) {
    return dispatch(p, storage, scale, n, s, y, matrix, work1, work2, work3, true);
}

int32_t znlpbfg(NlpProblem* p, int32_t storage, int32_t scale, int32_t n, double* s, double* y,
                double* matrix, double* work1, double* work2, double* work3) {
    return dispatch(p, storage, scale, n, s, y, matrix, work1, work2, work3, false);
}
