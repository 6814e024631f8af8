// Orthomax rotation against the gradient projection algorithm (Jennrich
// 2001, "A simple general procedure for orthogonal rotation",
// Psychometrika 66) computed here with LAPACK's SVD, and against the
// invariants of an orthogonal rotation.
#include "numerics/orthomax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

extern "C" void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
                        const int* lda, double* s, double* u, const int* ldu, double* vt,
                        const int* ldvt, double* work, const int* lwork, int* info);

namespace {

using Matrix = std::vector<double>;  // column-major, (i, j) at j*rows + i

// An unrotated two-block loading matrix: 12 variables, 3 factors.
const int kP = 12, kK = 3;
const double kLoadings[kP * kK] = {
    // factor 1
    0.71, 0.65, 0.70, 0.62, 0.58, 0.66, 0.55, 0.61, 0.48, 0.52, 0.60, 0.45,
    // factor 2
    0.32, 0.41, 0.28, -0.38, -0.45, -0.30, 0.12, 0.05, -0.10, 0.36, -0.22, 0.02,
    // factor 3
    -0.25, -0.18, -0.30, 0.10, 0.05, 0.15, 0.44, 0.51, 0.39, -0.05, 0.12, 0.48};

Matrix matmul(const Matrix& a, int m, int n, const Matrix& b, int q) {
    Matrix c(static_cast<size_t>(m) * q, 0.0);
    for (int j = 0; j < q; ++j)
        for (int l = 0; l < n; ++l)
            for (int i = 0; i < m; ++i) c[j * m + i] += a[l * m + i] * b[j * n + l];
    return c;
}

// Orthomax criterion sum L^4 - (gamma/p) sum_j (sum_i L^2)^2.
double criterion(const Matrix& l, int p, int k, double gamma) {
    double f4 = 0.0, s2 = 0.0;
    for (int j = 0; j < k; ++j) {
        double s = 0.0;
        for (int i = 0; i < p; ++i) {
            double v = l[j * p + i] * l[j * p + i];
            f4 += v * v;
            s += v;
        }
        s2 += s * s;
    }
    return f4 - gamma / p * s2;
}

// The gradient projection algorithm for the orthomax criterion, iterated
// to a projected-gradient norm of 1e-12.  Returns the rotated loadings.
Matrix gpa_orthomax(const Matrix& a, int p, int k, double gamma) {
    auto value_and_gradient = [&](const Matrix& l, Matrix* g) {
        // f = -criterion/4; dF/dL = -(L^3 - (gamma/p) L diag(colsum L^2)).
        g->assign(l.size(), 0.0);
        for (int j = 0; j < k; ++j) {
            double s = 0.0;
            for (int i = 0; i < p; ++i) s += l[j * p + i] * l[j * p + i];
            for (int i = 0; i < p; ++i) {
                double v = l[j * p + i];
                (*g)[j * p + i] = -(v * v * v - gamma / p * v * s);
            }
        }
        return -criterion(l, p, k, gamma) / 4.0;
    };
    auto at_times = [&](const Matrix& g) {  // A' G (k x k)
        Matrix r(static_cast<size_t>(k) * k, 0.0);
        for (int i = 0; i < k; ++i)
            for (int j = 0; j < k; ++j)
                for (int r2 = 0; r2 < p; ++r2) r[j * k + i] += a[i * p + r2] * g[j * p + r2];
        return r;
    };
    Matrix t(static_cast<size_t>(k) * k, 0.0);
    for (int i = 0; i < k; ++i) t[i * k + i] = 1.0;
    Matrix gq;
    double f = value_and_gradient(matmul(a, p, k, t, k), &gq);
    Matrix g = at_times(gq);
    double alpha = 1.0;
    for (int iter = 0; iter < 5000; ++iter) {
        // M = T' G, S = (M + M')/2, Gp = G - T S.
        Matrix tm(static_cast<size_t>(k) * k, 0.0);
        for (int i = 0; i < k; ++i)
            for (int j = 0; j < k; ++j)
                for (int r2 = 0; r2 < k; ++r2) tm[j * k + i] += t[i * k + r2] * g[j * k + r2];
        Matrix sym(static_cast<size_t>(k) * k);
        for (int i = 0; i < k; ++i)
            for (int j = 0; j < k; ++j) sym[j * k + i] = 0.5 * (tm[j * k + i] + tm[i * k + j]);
        Matrix ts = matmul(t, k, k, sym, k);
        Matrix gp(g.size());
        double s = 0.0;
        for (size_t i = 0; i < g.size(); ++i) {
            gp[i] = g[i] - ts[i];
            s += gp[i] * gp[i];
        }
        s = std::sqrt(s);
        if (s < 1e-12) break;
        alpha *= 2.0;
        Matrix tt;
        double ft = f;
        Matrix gqt;
        for (int half = 0; half <= 10; ++half) {
            Matrix x(t.size());
            for (size_t i = 0; i < t.size(); ++i) x[i] = t[i] - alpha * gp[i];
            // Nearest orthogonal matrix: U V' from the SVD of X.
            int n = k, lwork = 64 * k, info = 0;
            std::vector<double> sv(k), u(k * k), vt(k * k), work(lwork);
            dgesvd_("A", "A", &n, &n, x.data(), &n, sv.data(), u.data(), &n, vt.data(), &n,
                    work.data(), &lwork, &info);
            tt = matmul(u, k, k, vt, k);
            ft = value_and_gradient(matmul(a, p, k, tt, k), &gqt);
            if (ft < f - 0.5 * s * s * alpha) break;
            alpha *= 0.5;
        }
        t = tt;
        f = ft;
        g = at_times(gqt);
    }
    return matmul(a, p, k, t, k);
}

// Largest difference between two loading matrices after matching columns
// by order and sign.
double distance_up_to_order_and_sign(const Matrix& x, const Matrix& y, int p, int k) {
    std::vector<int> perm(k);
    for (int j = 0; j < k; ++j) perm[j] = j;
    double best = 1e300;
    do {
        double worst = 0.0;
        for (int j = 0; j < k; ++j) {
            double dPlus = 0.0, dMinus = 0.0;
            for (int i = 0; i < p; ++i) {
                dPlus = std::max(dPlus, std::fabs(x[j * p + i] - y[perm[j] * p + i]));
                dMinus = std::max(dMinus, std::fabs(x[j * p + i] + y[perm[j] * p + i]));
            }
            worst = std::max(worst, std::min(dPlus, dMinus));
        }
        best = std::min(best, worst);
    } while (std::next_permutation(perm.begin(), perm.end()));
    return best;
}

struct Rotated {
    Matrix a, t, hn;
    int32_t result;
};

Rotated rotate(double gamma, int normalize, const Matrix& a0, int p, int k) {
    Rotated r{a0, Matrix(static_cast<size_t>(k) * k, 0.0), Matrix(p), 0};
    for (int i = 0; i < k; ++i) r.t[i * k + i] = 1.0;
    Matrix s(k);
    r.result = zortmax(gamma, normalize, p, k, r.a.data(), r.t.data(), r.hn.data(), s.data());
    return r;
}

Matrix normalized_rows(const Matrix& a, int p, int k, Matrix* h) {
    Matrix b = a;
    h->assign(p, 0.0);
    for (int i = 0; i < p; ++i) {
        double s = 0.0;
        for (int j = 0; j < k; ++j) s += a[j * p + i] * a[j * p + i];
        (*h)[i] = std::sqrt(s);
        for (int j = 0; j < k; ++j) b[j * p + i] /= (*h)[i];
    }
    return b;
}

}  // namespace

TEST(Orthomax, VarimaxMatchesGradientProjection) {
    Matrix a0(kLoadings, kLoadings + kP * kK);
    Rotated r = rotate(1.0, 0, a0, kP, kK);
    ASSERT_EQ(r.result, 0);
    Matrix ref = gpa_orthomax(a0, kP, kK, 1.0);
    double d = distance_up_to_order_and_sign(r.a, ref, kP, kK);
    EXPECT_LE(d, 1e-6) << "largest loading difference from the gradient projection solution";
}

TEST(Orthomax, KaiserNormalizedFamilyMatchesGradientProjection) {
    Matrix a0(kLoadings, kLoadings + kP * kK);
    // varimax, quartimax, equamax (k/2) and parsimax (p(k-1)/(p+k-2)).
    for (double gamma : {1.0, 0.0, kK / 2.0, kP * (kK - 1.0) / (kP + kK - 2.0)}) {
        Rotated r = rotate(gamma, 1, a0, kP, kK);
        ASSERT_EQ(r.result, 0) << gamma;
        Matrix h;
        Matrix ref = gpa_orthomax(normalized_rows(a0, kP, kK, &h), kP, kK, gamma);
        for (int i = 0; i < kP; ++i)
            for (int j = 0; j < kK; ++j) ref[j * kP + i] *= h[i];
        EXPECT_LE(distance_up_to_order_and_sign(r.a, ref, kP, kK), 1e-6) << "gamma " << gamma;
        for (int i = 0; i < kP; ++i) EXPECT_NEAR(r.hn[i], h[i], 1e-14);
    }
}

TEST(Orthomax, RotationInvariants) {
    Matrix a0(kLoadings, kLoadings + kP * kK);
    for (double gamma : {0.0, 0.5, 1.0}) {
        Rotated r = rotate(gamma, 0, a0, kP, kK);
        // T orthogonal and A T equals the rotated loadings.
        Matrix tt(kK * kK, 0.0);
        for (int i = 0; i < kK; ++i)
            for (int j = 0; j < kK; ++j)
                for (int l = 0; l < kK; ++l) tt[j * kK + i] += r.t[i * kK + l] * r.t[j * kK + l];
        for (int i = 0; i < kK; ++i)
            for (int j = 0; j < kK; ++j) EXPECT_NEAR(tt[j * kK + i], i == j ? 1.0 : 0.0, 1e-13);
        Matrix at = matmul(a0, kP, kK, r.t, kK);
        for (size_t i = 0; i < at.size(); ++i) EXPECT_NEAR(at[i], r.a[i], 1e-13);
        // Communalities unchanged; criterion not lower than at the start.
        for (int i = 0; i < kP; ++i) {
            double h0 = 0.0, h1 = 0.0;
            for (int j = 0; j < kK; ++j) {
                h0 += a0[j * kP + i] * a0[j * kP + i];
                h1 += r.a[j * kP + i] * r.a[j * kP + i];
            }
            EXPECT_NEAR(h0, h1, 1e-13);
        }
        EXPECT_GE(criterion(r.a, kP, kK, gamma), criterion(a0, kP, kK, gamma) - 1e-14);
    }
}

TEST(Orthomax, SingleFactorAndZeroRow) {
    Matrix a0 = {0.6, 0.0, 0.8, 0.3};
    Rotated r = rotate(1.0, 1, a0, 4, 1);
    EXPECT_EQ(r.result, 0);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(std::fabs(r.a[i]), std::fabs(a0[i]), 1e-15);
    EXPECT_EQ(r.hn[1], 0.0);
    EXPECT_EQ(r.a[1], 0.0);
    // Without a rotation matrix the loadings are still rotated.
    Matrix a1(kLoadings, kLoadings + kP * kK), s(kK), hn(kP);
    Rotated withT = rotate(1.0, 0, a1, kP, kK);
    ASSERT_EQ(zortmax(1.0, 0, kP, kK, a1.data(), nullptr, hn.data(), s.data()), 0);
    for (size_t i = 0; i < a1.size(); ++i) EXPECT_EQ(a1[i], withT.a[i]);
}
