// Eigenvalues of a symmetric tridiagonal matrix by bisection with Sturm
// sequence counts (the EISPACK routine TRIDIB) and eigenvectors by inverse
// iteration (TINVIT); Wilkinson and Reinsch, "Handbook for Automatic
// Computation II: Linear Algebra", 1971, contributions II/5 and II/18;
// Smith et al., "Matrix Eigensystem Routines - EISPACK Guide", 1976.
//
// The Sturm count at x is the number of negative pivots of the LDL'
// factorisation of T - x I, i.e. the number of eigenvalues below x; a
// bisection on it isolates any eigenvalue to the requested tolerance.
// Inverse iteration then solves (T - x I) v = b a few times with the LU
// factors of T - x I; the growth of v measures how good x is.
#include "numerics/bisect.h"

#include <algorithm>
#include <cmath>

#include "numerics/kernel_support.h"
#include "velix/host_vector.h"

namespace {

using velix::kMachEps;
using velix::kDblMin;
using velix::kSqrtDblMax;

// Iterations after which inverse iteration gives up on a vector that does
// not grow (the accepted warnings all come by iteration 10; see ztinvit).
constexpr int kMaxInverseIterations = 60;

struct Tridiagonal {
    const double* d;
    const double* e;
    const double* e2;
};

// Number of eigenvalues below x of the block p .. q, plus p (the count
// starts at the number of indices in front of the block).  A zero pivot
// is replaced by the effect of a pivot of size machep |e[i]|.
int64_t sturm(const Tridiagonal& t, int64_t p, int64_t q, double x) {
    int64_t count = p;
    double u = 1.0;
    for (int64_t i = p; i <= q; ++i) {
        const double v = u == 0.0 ? std::fabs(t.e[i]) / kMachEps : t.e2[i] / u;
        u = t.d[i] - x - v;
        if (u < 0.0) ++count;
    }
    return count;
}

// Gerschgorin interval of the block p .. q.
void gersch(const Tridiagonal& t, int64_t p, int64_t q, double* lb, double* ub) {
    double lo = t.d[p];
    double hi = t.d[p];
    double u = 0.0;
    for (int64_t i = p; i <= q; ++i) {
        const double prev = u;
        u = i < q ? std::fabs(t.e[i + 1]) : 0.0;
        lo = std::min(lo, t.d[i] - (prev + u));
        hi = std::max(hi, t.d[i] + (prev + u));
    }
    *lb = lo;
    *ub = hi;
}

// Bisects (x0, x1) for a point with Sturm count k.  Stops at such a point
// or when the midpoint no longer lies strictly inside the interval; the
// point reached is returned in *x and its count as the result.
int64_t cut(const Tridiagonal& t, int64_t p, int64_t q, int64_t k, double x0, double x1,
            double* x) {
    for (;;) {
        const double mid = (x0 + x1) * 0.5;
        const int64_t s = sturm(t, p, q, mid);
        *x = mid;
        if (mid <= x0 || mid >= x1 || s == k) return s;
        if (k > s)
            x0 = mid;
        else
            x1 = mid;
    }
}

// Keeps the eigenvalues found so far in w[0 .. *count) in ascending order,
// at most cap of them: when full, the smallest is dropped for keep_largest,
// else the largest.  An equal value goes after the ones already there.
void keep_eigenvalue(double x, int16_t tag, bool keep_largest, int64_t cap, double* w,
                     int16_t* ind, int64_t* count) {
    int64_t n = *count;
    if (n == cap) {
        if (keep_largest) {
            if (x < w[0]) return;
            for (int64_t i = 1; i < n; ++i) {
                w[i - 1] = w[i];
                ind[i - 1] = ind[i];
            }
        } else {
            if (x >= w[n - 1]) return;
        }
        --n;
    }
    velix::detail::insert_ascending(x, tag, w, ind, n);
    *count = n + 1;
}

}  // namespace

// Steps (TRIDIB):
//   1. mark splits in e2; Gerschgorin bounds of the whole matrix, widened;
//   2. bisect for t1 (count m11-1) and t2 (count m22) that bracket the
//      wanted run of eigenvalues (a stall moves m11 or m22 to the count
//      reached);
//   3. per submatrix, clip its widened Gerschgorin interval to [t1, t2],
//      find by Sturm counts which of its eigenvalues lie inside, and bisect
//      each from the highest down, sharing the refined bounds;
//   4. merge into w ascending; reverse for the largest eigenvalues.
int32_t zbisect(int32_t n, int32_t m, double eps1, double* t, double* w, int16_t* ind,
                double* rv) {
    if (n < 1) return 0;
    double* d = t;
    double* e = t + n;
    double* e2 = t + 2 * static_cast<int64_t>(n);
    const bool largest = m > 0;
    e2[0] = 0.0;
    if (m == 0) return 0;
    const int64_t am = std::min<int64_t>(std::llabs(static_cast<int64_t>(m)), n);
    const Tridiagonal td{d, e, e2};

    for (int64_t i = 1; i < n; ++i)
        if (std::fabs(e[i]) <= kMachEps * (std::fabs(d[i]) + std::fabs(d[i - 1]))) e2[i] = 0.0;

    double lb = 0.0;
    double ub = 0.0;
    gersch(td, 0, n - 1, &lb, &ub);
    // The widening is kept at least DBL_MIN: for the zero matrix the bounds
    // are both 0.0, and an empty interval [0, 0) would hold none of its
    // (zero) eigenvalues.
    const double tnorm = std::max(kMachEps * std::max(std::fabs(lb), std::fabs(ub)), kDblMin);
    lb -= n * tnorm;
    ub += n * tnorm;

    // 1-based indices of the first and last wanted eigenvalue.
    int64_t m11 = largest ? n - am + 1 : 1;
    int64_t m22 = m11 + am - 1;
    double t1 = lb;
    double t2 = ub;
    if (m11 >= 2) m11 = cut(td, 0, n - 1, m11 - 1, lb, ub, &t1) + 1;
    if (m22 < n) m22 = cut(td, 0, n - 1, m22, t1, ub, &t2);

    int64_t count = 0;
    if (m22 - m11 + 1 >= 1) {
        double* lower = rv;
        double* upper = rv + n;
        int16_t tag = 0;
        int64_t q = -1;
        while (q < n - 1) {
            const int64_t p = q + 1;
            q = p;
            while (q < n - 1 && e2[q + 1] != 0.0) ++q;
            ++tag;
            if (p == q) {
                if (t1 <= d[p] && d[p] < t2) keep_eigenvalue(d[p], tag, largest, am, w, ind, &count);
                continue;
            }
            double xl = 0.0;
            double xu = 0.0;
            gersch(td, p, q, &xl, &xu);
            const double tn = kMachEps * std::max(std::fabs(xl), std::fabs(xu));
            const double tol = eps1 > 0.0 ? eps1 : tn;
            xl = std::max(t1, xl - (q - p + 1) * tn);
            xu = std::min(t2, xu + (q - p + 1) * tn);
            // 0-based slots m1 .. m2 of the block's eigenvalues inside.
            const int64_t m1 = sturm(td, p, q, xl);
            const int64_t m2 = sturm(td, p, q, xu) - 1;
            if (m1 > m2) continue;
            for (int64_t i = m1; i <= m2; ++i) {
                lower[i] = xl;
                upper[i] = xu;
            }
            double x0 = xu;
            for (int64_t k = m2; k >= m1; --k) {
                double lo = xl;
                for (int64_t i = m1; i <= k; ++i) lo = std::max(lo, lower[i]);
                x0 = std::min(x0, upper[k]);
                for (;;) {
                    const double x1 = (lo + x0) * 0.5;
                    if (x0 - lo <= 2.0 * kMachEps * (std::fabs(lo) + std::fabs(x0)) + std::fabs(tol))
                        break;
                    // A midpoint that no longer splits the interval ends
                    // the bisection as well (possible only for a zero
                    // tolerance at subnormal magnitudes).
                    if (x1 <= lo || x1 >= x0) break;
                    const int64_t s = sturm(td, p, q, x1);
                    if (s <= k) {
                        // Slots s .. k lie at or above x1, slot s-1 below.
                        lo = x1;
                        for (int64_t i = std::max(s, m1); i < k; ++i) lower[i] = std::max(lower[i], x1);
                        if (s - 1 >= m1) upper[s - 1] = std::min(upper[s - 1], x1);
                    } else {
                        x0 = x1;
                    }
                }
                // A final interval that contains zero gives an exact zero, so
                // that a singular matrix shows an exact zero eigenvalue.
                upper[k] = (lo <= 0.0 && 0.0 <= x0) ? 0.0 : (lo + x0) * 0.5;
            }
            for (int64_t k = m1; k <= m2; ++k) keep_eigenvalue(upper[k], tag, largest, am, w, ind, &count);
        }
    }
    if (largest) {
        std::reverse(w, w + count);
        std::reverse(ind, ind + count);
        e2[0] = 2.0;
    }
    return static_cast<int32_t>(count);
}

namespace {

// The LU factors of T - x I on the block p .. q (partial pivoting by row
// interchanges, Wilkinson's scheme in TINVIT): rv1 the pivots, rv2 and rv3
// the two superdiagonals of U, rv4 the multipliers.  A row interchange at
// row i leaves rv1[i-1] == e[i] exactly, which the forward pass tests.
struct InverseIterationWork {
    double* rv1;
    double* rv2;
    double* rv3;
    double* rv4;
    double* v;
};

void factor_shifted(const Tridiagonal& t, int64_t p, int64_t q, double x, double eps3, double start,
                    const InverseIterationWork& wk) {
    double u = 0.0;
    double v = 0.0;
    double xu = 0.0;
    for (int64_t i = p; i <= q; ++i) {
        wk.v[i] = start;
        if (i != p) {
            if (std::fabs(t.e[i]) >= std::fabs(u)) {
                xu = u / t.e[i];
                wk.rv4[i] = xu;
                wk.rv1[i - 1] = t.e[i];
                wk.rv2[i - 1] = t.d[i] - x;
                wk.rv3[i - 1] = i != q ? t.e[i + 1] : 0.0;
                u = v - xu * wk.rv2[i - 1];
                v = -xu * wk.rv3[i - 1];
                continue;
            }
            xu = t.e[i] / u;
            wk.rv4[i] = xu;
            wk.rv1[i - 1] = u;
            wk.rv2[i - 1] = v;
            wk.rv3[i - 1] = 0.0;
        }
        u = t.d[i] - x - xu * v;
        if (i != q) v = t.e[i + 1];
    }
    if (u == 0.0) u = eps3;
    wk.rv1[q] = u;
    wk.rv2[q] = 0.0;
    wk.rv3[q] = 0.0;
}

void back_substitute(int64_t p, int64_t q, const InverseIterationWork& wk) {
    double u = 0.0;
    double v = 0.0;
    for (int64_t i = q; i >= p; --i) {
        wk.v[i] = (wk.v[i] - u * wk.rv2[i] - v * wk.rv3[i]) / wk.rv1[i];
        v = u;
        u = wk.v[i];
    }
}

void forward_eliminate(const Tridiagonal& t, int64_t p, int64_t q, const InverseIterationWork& wk) {
    for (int64_t i = p + 1; i <= q; ++i) {
        double u = wk.v[i];
        if (wk.rv1[i - 1] == t.e[i]) {
            u = wk.v[i - 1];
            wk.v[i - 1] = wk.v[i];
        }
        wk.v[i] = u - wk.rv4[i] * wk.v[i - 1];
    }
}

// Scales v[p .. q] to unit Euclidean norm and stores it into z_r; a vector
// that is not finite or is zero is stored as 0.0.  Returns false then.
bool store_normalised(const double* v, int64_t p, int64_t q, double* zr) {
    const int64_t len = q - p + 1;
    double g = 0.0;
    for (int64_t i = p; i <= q; ++i) g = std::max(g, std::fabs(v[i]));
    if (!(g > 0.0) || !std::isfinite(g)) return false;
    const double pre = g > kSqrtDblMax / std::sqrt(static_cast<double>(len)) ? 1.0 / g : 1.0;
    for (int64_t i = p; i <= q; ++i) zr[i] = v[i] * pre;
    const double norm = std::sqrt(zinner(zr + p, zr + p, static_cast<int32_t>(len)));
    for (int64_t i = p; i <= q; ++i) zr[i] /= norm;
    return true;
}

}  // namespace

// Steps (TINVIT), per submatrix p .. q and per eigenvalue x of it:
//   a. first eigenvalue: block norm, grouping threshold eps2, perturbation
//      eps3, start component eps4/sqrt(uk);
//   b. later ones: within eps2 of the previous one they form a group and
//      are pushed apart by eps3 in the direction of the order;
//   c. factor T - x I; iterate back substitution, orthogonalisation
//      against the group, growth test, rescaling and forward elimination;
//   d. normalise and store.
int32_t ztinvit(int32_t n, int32_t m, const double* t, const double* w, int16_t* ind, double* z,
                double* rv) {
    if (m < 1 || n < 1) return 0;
    const int64_t nn = n;
    const Tridiagonal td{t, t + n, t + 2 * nn};
    if (n == 1) ind[0] = 1;
    const InverseIterationWork wk{rv, rv + nn, rv + 2 * nn, rv + 3 * nn, rv + 4 * nn};
    std::fill(z, z + static_cast<int64_t>(m) * nn, 0.0);
    const double order = 1.0 - td.e2[0];
    int32_t result = 0;
    int16_t tag = 0;
    int64_t q = -1;
    while (q < n - 1) {
        const int64_t p = q + 1;
        q = p;
        while (q < n - 1 && td.e2[q + 1] != 0.0) ++q;
        ++tag;
        bool first = true;
        int group = 0;
        double x0 = 0.0;
        double eps2 = 0.0;
        double eps3 = 0.0;
        double eps4 = 0.0;
        double start = 0.0;
        int64_t restart_pos = p;
        for (int64_t r = 0; r < m; ++r) {
            if (ind[r] != tag) continue;
            double* zr = z + r * nn;
            double x1 = w[r];
            if (p == q) {
                zr[p] = 1.0;
                x0 = x1;
                continue;
            }
            if (first) {
                double norm = std::fabs(td.d[p]);
                for (int64_t i = p + 1; i <= q; ++i) norm += std::fabs(td.d[i]) + std::fabs(td.e[i]);
                // Grouping threshold: eigenvalues closer than 1e-3 of the
                // block norm get vectors orthogonalised against each other.
                eps2 = 1.0e-3 * norm;
                eps3 = kMachEps * norm;
                const double uk = static_cast<double>(q - p + 1);
                eps4 = uk * eps3;
                start = eps4 / std::sqrt(uk);
                group = 0;
                first = false;
            } else if (std::fabs(x1 - x0) >= eps2) {
                group = 0;
            } else {
                ++group;
                if (order * (x1 - x0) <= 0.0) x1 = x0 + order * eps3;
            }
            factor_shifted(td, p, q, x1, eps3, start, wk);
            int32_t code = 0;
            for (int its = 1;; ++its) {
                back_substitute(p, q, wk);
                // Two passes of Gram-Schmidt against the group: one pass
                // leaves errors of roundoff times the cancellation, which
                // for large groups of nearly equal eigenvalues grows beyond
                // what the callers tolerate; the second pass restores
                // orthogonality to roundoff ("twice is enough").
                for (int pass = 0; pass < 2 && group > 0; ++pass) {
                    int64_t j = r;
                    for (int g = 0; g < group; ++g) {
                        do --j;
                        while (ind[j] != tag);
                        const double* zj = z + j * nn;
                        const double c = zinner(wk.v + p, zj + p, static_cast<int32_t>(q - p + 1));
                        zvaxpy(static_cast<int32_t>(q - p + 1), -c, zj + p, wk.v + p, wk.v + p);
                    }
                }
                double s = 0.0;
                for (int64_t i = p; i <= q; ++i) s += std::fabs(wk.v[i]);
                // Growth thresholds of the graded acceptance: a vector that
                // grows by 1 is converged; slower growth is accepted with a
                // warning once enough iterations have been spent.
                if (s >= 1.0) break;
                if (its >= 3 && s >= 0.01) {
                    code = kZtinvitSlow;
                    break;
                }
                if (its >= 10 && s >= 1.0e-4) {
                    code = kZtinvitSlower;
                    break;
                }
                if (its >= 10 && s > 0.0) {
                    code = kZtinvitSlowest;
                    break;
                }
                if (!std::isfinite(s) || its >= kMaxInverseIterations) {
                    code = kZtinvitNoGrowth;
                    break;
                }
                if (s == 0.0) {
                    wk.v[restart_pos] = eps4;
                    if (++restart_pos > q) restart_pos = p;
                } else {
                    const double f = eps4 / s;
                    for (int64_t i = p; i <= q; ++i) wk.v[i] *= f;
                }
                forward_eliminate(td, p, q, wk);
            }
            if (!store_normalised(wk.v, p, q, zr)) code = kZtinvitNoGrowth;
            result = std::min(result, code);
            x0 = x1;
        }
    }
    return result;
}
