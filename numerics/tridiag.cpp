// Householder tridiagonalisation of a symmetric matrix and the QL
// iterations on the tridiagonal matrix, in the form of the EISPACK routines
// TRED2, TQL2, TRED3, TRBAK3 and IMTQLV (Smith et al., "Matrix Eigensystem
// Routines - EISPACK Guide", 2nd ed., Springer 1976; Wilkinson and Reinsch,
// "Handbook for Automatic Computation II: Linear Algebra", 1971,
// contributions II/2 and II/4), in 0-based storage.
//
// The reduction computes T = Z' A Z with Z a product of Householder
// reflections P_i = I - u u' / H that annihilate row i left of the
// subdiagonal, for i = n-1 down to 1.  The QL iterations then diagonalise T
// by plane rotations with (implicit) Wilkinson-type shifts.
#include "numerics/tridiag.h"

#include <cmath>

#include "numerics/kernel_support.h"
#include "velix/host_vector.h"

namespace {

using velix::kMachEps;
using velix::kDblMin;
using velix::kSqrtDblMin;

using velix::pk_lower;

// Iterations allowed for one eigenvalue before the QL method gives up.
constexpr int kMaxQlIterations = 50;

// |a| with the sign of b (Fortran SIGN).
inline double sign_of(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

}  // namespace

// Steps (TRED2, the Wilkinson-Reinsch arrangement):
//   for i = n-1 .. 1: reflect row i left of the subdiagonal, keeping u in
//     row i and u/H in column i, and update the leading block with
//     A := A - u q' - q u' (q = p - K u, p = A u / H, K = u'p / 2H);
//   for i = 0 .. n-1: accumulate Z from the stored reflections.
// The matrix is addressed column-major (M(i, j) at a[i + j*n]) so that the
// columns of Z, the vectors that ztql2 rotates, lie contiguous.
void ztred2(int32_t n, double* a, double* d, double* e) {
    if (n < 1) return;
    const int64_t nn = n;
    auto M = [a, nn](int64_t i, int64_t j) -> double& { return a[i + j * nn]; };

    for (int64_t i = n - 1; i >= 1; --i) {
        const int64_t l = i - 1;
        double h = 0.0;
        double scale = 0.0;
        for (int64_t k = 0; k <= l; ++k) scale += std::fabs(M(i, k));
        if (scale == 0.0) {
            e[i] = M(i, l);
        } else {
            for (int64_t k = 0; k <= l; ++k) {
                M(i, k) /= scale;
                h += M(i, k) * M(i, k);
            }
            double f = M(i, l);
            double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
            e[i] = scale * g;
            h -= f * g;
            M(i, l) = f - g;
            f = 0.0;
            for (int64_t j = 0; j <= l; ++j) {
                M(j, i) = M(i, j) / h;
                g = 0.0;
                for (int64_t k = 0; k <= j; ++k) g += M(j, k) * M(i, k);
                for (int64_t k = j + 1; k <= l; ++k) g += M(k, j) * M(i, k);
                e[j] = g / h;
                f += e[j] * M(i, j);
            }
            const double hh = f / (h + h);
            for (int64_t j = 0; j <= l; ++j) {
                f = M(i, j);
                g = e[j] - hh * f;
                e[j] = g;
                for (int64_t k = 0; k <= j; ++k) M(j, k) -= f * e[k] + g * M(i, k);
            }
        }
        d[i] = h;  // 0 marks a skipped step for the accumulation below
    }
    d[0] = 0.0;
    e[0] = 0.0;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t l = i - 1;
        if (d[i] != 0.0) {
            for (int64_t j = 0; j <= l; ++j) {
                double g = 0.0;
                for (int64_t k = 0; k <= l; ++k) g += M(i, k) * M(k, j);
                for (int64_t k = 0; k <= l; ++k) M(k, j) -= g * M(k, i);
            }
        }
        d[i] = M(i, i);
        M(i, i) = 1.0;
        for (int64_t j = 0; j <= l; ++j) {
            M(j, i) = 0.0;
            M(i, j) = 0.0;
        }
    }
}

// Steps (TQL2 with the convergence test of its early form):
//   shift e left; for each l: widen the negligibility bound b, find the
//   first negligible e[m], m >= l; while e[l] is not negligible, make one
//   QL sweep from m-1 down to l with the shift from the leading 2x2 block,
//   rotating the vectors alongside; add the accumulated shift back.
//   Finally sort descending by selection, moving the vectors along.
int32_t ztql2(int32_t n, double* z, double* d, double* e, int32_t vectors) {
    if (n < 1) return 0;
    const int64_t nn = n;
    for (int64_t i = 0; i + 1 < n; ++i) e[i] = e[i + 1];
    e[n - 1] = 0.0;
    double f = 0.0;
    double b = 0.0;
    for (int64_t l = 0; l < n; ++l) {
        int iterations = 0;
        const double h0 = kMachEps * (std::fabs(d[l]) + std::fabs(e[l]));
        if (b < h0) b = h0;
        int64_t m = l;
        // Negligible means |e| <= b: a NaN is never negligible, so a matrix
        // that is not finite ends in the iteration limit, not in eigenvalues.
        while (m < n - 1 && !(std::fabs(e[m]) <= b)) ++m;
        if (m > l) {
            do {
                if (iterations == kMaxQlIterations) return static_cast<int32_t>(-(l + 1));
                ++iterations;
                double g = d[l];
                double p = (d[l + 1] - g) / (2.0 * e[l]);
                if (std::fabs(p) <= 1.0) {
                    const double r = std::sqrt(p * p + 1.0);
                    d[l] = e[l] / (p + (p < 0.0 ? -r : r));
                } else {
                    d[l] = e[l] / (p + p * std::sqrt(1.0 + (1.0 / p) * (1.0 / p)));
                }
                double h = g - d[l];
                for (int64_t i = l + 1; i < n; ++i) d[i] -= h;
                f += h;
                p = d[m];
                double c = 1.0;
                double s = 0.0;
                for (int64_t i = m - 1; i >= l; --i) {
                    g = c * e[i];
                    h = c * p;
                    if (std::fabs(p) >= std::fabs(e[i])) {
                        const double cc = e[i] / p;
                        const double r = std::sqrt(cc * cc + 1.0);
                        e[i + 1] = s * p * r;
                        s = cc / r;
                        c = 1.0 / r;
                    } else {
                        const double cc = p / e[i];
                        const double r = std::sqrt(cc * cc + 1.0);
                        e[i + 1] = s * e[i] * r;
                        s = 1.0 / r;
                        c = cc / r;
                    }
                    p = c * d[i] - s * g;
                    d[i + 1] = h + s * (c * g + s * d[i]);
                    if (vectors) zvrotg(n, z + (i + 1) * nn, 1, z + i * nn, 1, c, s);
                }
                e[l] = s * p;
                d[l] = c * p;
            } while (!(std::fabs(e[l]) <= b));
        }
        d[l] += f;
    }
    for (int64_t i = 0; i + 1 < n; ++i) {
        int64_t k = i;
        double p = d[i];
        for (int64_t j = i + 1; j < n; ++j) {
            if (d[j] > p) {
                k = j;
                p = d[j];
            }
        }
        if (k != i) {
            d[k] = d[i];
            d[i] = p;
            if (vectors) {
                double* zi = z + i * nn;
                double* zk = z + k * nn;
                for (int64_t j = 0; j < n; ++j) {
                    const double t = zi[j];
                    zi[j] = zk[j];
                    zk[j] = t;
                }
            }
        }
    }
    return 0;
}

// Steps (TRED3 on PackedSym):
//   for i = n-1 .. 0: copy row i left of the diagonal into the free part of
//   d and take its absolute sum; a sum at or below DBL_MIN counts as an
//   already reduced row.  Otherwise form the reflection, store the scaled
//   vector back in row i, compute p = A u / H in the free part of e with
//   one pass over the packed leading block, q = p - K u, and update the
//   leading block A := A - u q' - q u'.  d[i] takes the diagonal element,
//   whose slot then receives h_i = scale * sqrt(H).
void ztred3(int32_t n, double* ap, double* w) {
    if (n < 1) return;
    double* d = w;
    double* e = w + n;
    double* e2 = w + 2 * static_cast<int64_t>(n);
    for (int64_t i = n - 1; i >= 0; --i) {
        const int64_t l = i - 1;
        const int64_t iz = pk_lower(i, 0);
        double h = 0.0;
        double scale = 0.0;
        for (int64_t k = 0; k <= l; ++k) {
            d[k] = ap[iz + k];
            scale += std::fabs(d[k]);
        }
        if (scale <= kDblMin) {
            e[i] = 0.0;
            e2[i] = 0.0;
            scale = 0.0;
        } else {
            for (int64_t k = 0; k <= l; ++k) {
                d[k] /= scale;
                h += d[k] * d[k];
            }
            e2[i] = scale * scale * h;
            double f = d[l];
            double g = -sign_of(std::sqrt(h), f);
            e[i] = scale * g;
            h -= f * g;
            d[l] = f - g;
            ap[iz + l] = scale * d[l];
            if (l >= 1) {
                // p = A u over the packed leading block, row by row: row j
                // contributes to p_j through its whole row and to p_k (k < j)
                // through its transpose.
                int64_t jk = 0;
                for (int64_t j = 0; j <= l; ++j) {
                    f = d[j];
                    g = 0.0;
                    for (int64_t k = 0; k < j; ++k, ++jk) {
                        g += ap[jk] * d[k];
                        e[k] += ap[jk] * f;
                    }
                    e[j] = g + ap[jk] * f;
                    ++jk;
                }
                f = 0.0;
                for (int64_t j = 0; j <= l; ++j) {
                    e[j] /= h;
                    f += e[j] * d[j];
                }
                const double hh = f / (h + h);
                for (int64_t j = 0; j <= l; ++j) e[j] -= hh * d[j];
                for (int64_t j = 0; j <= l; ++j) {
                    double* row = ap + pk_lower(j, 0);
                    zvxay11(static_cast<int32_t>(j + 1), -d[j], e, row);
                    zvxay11(static_cast<int32_t>(j + 1), -e[j], d, row);
                }
            }
        }
        d[i] = ap[iz + i];
        ap[iz + i] = scale * std::sqrt(h);
    }
}

namespace {

// One reflection step i of ztred3 applied to x (x := P_i x).
inline void apply_step(int64_t i, double h, const double* ap, double* x) {
    const double* u = ap + pk_lower(i, 0);
    double s = 0.0;
    for (int64_t k = 0; k < i; ++k) s += u[k] * x[k];
    s = (s / h) / h;
    for (int64_t k = 0; k < i; ++k) x[k] -= s * u[k];
}

}  // namespace

void ztrbak3(int32_t n, int32_t m, const double* ap, double* z) {
    if (n < 2 || m < 1) return;
    for (int64_t i = 1; i < n; ++i) {
        const double h = ap[pk_lower(i, i)];
        if (std::fabs(h) <= kSqrtDblMin) continue;
        for (int64_t j = 0; j < m; ++j) apply_step(i, h, ap, z + j * static_cast<int64_t>(n));
    }
}

int32_t ztrapp3(int32_t mode, int32_t n, const double* ap, double* x) {
    if (n < 2) return 0;
    int32_t skipped = 0;
    for (int64_t step = 1; step < n; ++step) {
        const int64_t i = mode ? step : n - step;
        const double h = ap[pk_lower(i, i)];
        if (h == 0.0) {
            ++skipped;
            continue;
        }
        apply_step(i, h, ap, x);
    }
    return skipped;
}

// Steps (IMTQLV):
//   w = d, rv1 = e shifted left.  For each l: find the first negligible
//   rv1[m], m >= l, marking new splits in e2 and counting blocks in the
//   tag; while m > l make implicit QL steps on the block l..m; insert the
//   converged w[l] into the sorted leading part of w with its tag.
// The negligibility and underflow tests compare against DBL_MIN and its
// square root instead of relying on the exact equality tests of EISPACK,
// so that subnormal off-diagonal elements end the iteration.
int32_t zimtqlv(int32_t n, double* t, double* w, int16_t* ind, double* rv1) {
    if (n < 1) return 0;
    const double* d = t;
    const double* e = t + n;
    double* e2 = t + 2 * static_cast<int64_t>(n);
    for (int64_t i = 0; i < n; ++i) {
        w[i] = d[i];
        if (i >= 1) rv1[i - 1] = e[i];
    }
    rv1[n - 1] = 0.0;
    e2[0] = 0.0;
    int16_t tag = 0;
    int64_t k = -1;
    for (int64_t l = 0; l < n; ++l) {
        int iterations = 0;
        bool stalled = false;
        for (;;) {
            int64_t m = l;
            if (stalled) {
                // The last step changed nothing measurable: accept w[l]
                // unless the coupling left is still significant.
                const double r = std::fabs(rv1[l]);
                if (r > kSqrtDblMin &&
                    (std::fabs(w[l]) > kMachEps || r > std::sqrt(kMachEps) * std::fabs(w[l])))
                    return static_cast<int32_t>(-(l + 1));
            } else {
                bool known_boundary = false;
                for (; m < n - 1; ++m) {
                    const double r = std::fabs(rv1[m]);
                    if (r <= kMachEps * (std::fabs(w[m]) + std::fabs(w[m + 1])) || r <= kSqrtDblMin)
                        break;
                    if (e2[m + 1] == 0.0) {
                        known_boundary = true;
                        break;
                    }
                }
                if (known_boundary) {
                    k = m;
                    ++tag;
                } else if (m > k) {
                    if (m < n - 1) e2[m + 1] = 0.0;
                    k = m;
                    ++tag;
                }
                if (m != l) {
                    if (iterations == kMaxQlIterations) return static_cast<int32_t>(-(l + 1));
                    ++iterations;
                    double g = (w[l + 1] - w[l]) / (2.0 * rv1[l]);
                    double r = std::fabs(g) <= 1.0 ? std::sqrt(g * g + 1.0)
                                                   : std::fabs(g) * std::sqrt(1.0 + 1.0 / (g * g));
                    g = w[m] - w[l] + rv1[l] / (g + sign_of(r, g));
                    double s = 1.0;
                    double c = 1.0;
                    double p = 0.0;
                    for (int64_t i = m - 1; i >= l; --i) {
                        const double f = s * rv1[i];
                        const double b = c * rv1[i];
                        if (std::fabs(f) >= std::fabs(g)) {
                            const double cc = std::fabs(f) > kDblMin ? g / f : 0.0;
                            r = std::sqrt(cc * cc + 1.0);
                            rv1[i + 1] = f * r;
                            s = 1.0 / r;
                            c = cc * s;
                        } else {
                            const double ss = std::fabs(g) > kDblMin ? f / g : 0.0;
                            r = std::sqrt(ss * ss + 1.0);
                            rv1[i + 1] = g * r;
                            c = 1.0 / r;
                            s = ss * c;
                        }
                        g = w[i + 1] - p;
                        r = (w[i] - g) * s + 2.0 * c * b;
                        p = s * r;
                        w[i + 1] = g + p;
                        g = c * r - b;
                    }
                    w[l] -= p;
                    stalled = std::fabs(p) <= kDblMin && std::fabs(rv1[l] - g) <= kDblMin;
                    rv1[l] = g;
                    rv1[m] = 0.0;
                    continue;
                }
            }
            break;
        }
        // Insert the converged eigenvalue into the ascending leading part.
        velix::detail::insert_ascending(w[l], tag, w, ind, l);
    }
    return 0;
}
