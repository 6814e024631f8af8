// The symmetric eigen driver against LAPACK's dsyev and the defining
// identity A V = V diag(ev) with orthonormal V, on random, clustered and
// repeated spectra up to order 200; the order, selection and sign
// conventions; the invalid-call and failure codes; the pivoted QR of a
// cluster.
#include "numerics/eigen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/eigen_test_matrices.h"

namespace vt = velix::test;

namespace {

// Agreement with LAPACK and residuals, relative to max(1, ||A||).
constexpr double kTol = 1e-10;

struct Decomposition {
    int result;
    std::vector<double> ev, z;
};

Decomposition decompose(const vt::Dense& a, int n, int m) {
    std::vector<double> ap = vt::to_packed(a, n);
    Decomposition d;
    d.ev.assign(n, 0.0);
    d.z.assign(static_cast<size_t>(std::max(m, 1)) * n, 0.0);
    std::vector<double> work(9 * n);
    d.result = zeigen2(n, ap.data(), d.ev.data(), m, d.z.data(), work.data());
    return d;
}

// Checks eigenvalues against dsyev and A v_r = ev_r v_r, v'v = I, and the
// sign convention of every vector.
void check_against_lapack(const vt::Dense& a, int n, int m, int expected_result = 0) {
    const Decomposition d = decompose(a, n, m);
    ASSERT_EQ(d.result, expected_result);
    const std::vector<double> ref = vt::lapack_eigenvalues(a, n);
    double norm = 0;
    for (double v : a) norm += v * v;
    const double scale = std::max(1.0, std::sqrt(norm));
    double worst = 0;
    for (int k = 0; k < n; ++k) {
        if (k > 0) {
            EXPECT_GE(d.ev[k - 1], d.ev[k]) << "not descending at " << k;
        }
        worst = std::max(worst, std::fabs(d.ev[k] - ref[n - 1 - k]));
    }
    EXPECT_LT(worst, kTol * scale) << "worst eigenvalue difference " << worst;
    double res = 0, orth = 0;
    for (int r = 0; r < m; ++r) {
        const double* v = &d.z[r * n];
        for (int i = 0; i < n; ++i) {
            double s = -d.ev[r] * v[i];
            for (int j = 0; j < n; ++j) s += a[i * n + j] * v[j];
            res = std::max(res, std::fabs(s));
        }
        for (int s = 0; s <= r; ++s) {
            double dot = 0;
            for (int i = 0; i < n; ++i) dot += v[i] * d.z[s * n + i];
            orth = std::max(orth, std::fabs(dot - (r == s ? 1.0 : 0.0)));
        }
        double sum = 0;
        for (int i = 0; i < n; ++i) sum += v[i];
        if (std::fabs(sum) >= 1.0536712127723509e-08) {
            EXPECT_GT(sum, 0.0) << "vector " << r;
        }
    }
    EXPECT_LT(res, kTol * scale) << "worst residual " << res;
    EXPECT_LT(orth, kTol) << "worst orthonormality error " << orth;
}

class Eigen2Random : public ::testing::TestWithParam<int> {};

TEST_P(Eigen2Random, AllVectorsMatchLapack) {
    const int n = GetParam();
    check_against_lapack(vt::random_symmetric(n, 900 + n), n, n);
    check_against_lapack(vt::random_spd(n, 950 + n), n, n);
}

INSTANTIATE_TEST_SUITE_P(Orders, Eigen2Random, ::testing::Values(1, 2, 3, 8, 40, 200));

TEST(Eigen2, RepeatedEigenvalues) {
    // A triple, two doubles and a zero eigenvalue.
    std::vector<double> lambda = {5, 5, 5, 2, 2, -1, -1, 0, 3, 7};
    check_against_lapack(vt::with_eigenvalues(lambda, 11), 10, 10);
    std::vector<double> big(120);
    for (int i = 0; i < 120; ++i) big[i] = static_cast<double>(i % 4);  // four values, 30 times each
    check_against_lapack(vt::with_eigenvalues(big, 12), 120, 120);
}

TEST(Eigen2, ClusteredEigenvalues) {
    // Clusters 1e-13 and 1e-9 wide next to well separated values.
    std::vector<double> lambda;
    for (int i = 0; i < 6; ++i) lambda.push_back(1.0 + i * 1e-13);
    for (int i = 0; i < 6; ++i) lambda.push_back(-3.0 + i * 1e-9);
    for (int i = 0; i < 8; ++i) lambda.push_back(10.0 + i);
    check_against_lapack(vt::with_eigenvalues(lambda, 13), 20, 20);
    std::vector<double> wide(200);
    for (int i = 0; i < 200; ++i) wide[i] = (i < 100) ? 1.0 + 1e-12 * i : 2.0 + 0.01 * i;
    check_against_lapack(vt::with_eigenvalues(wide, 14), 200, 200);
}

TEST(Eigen2, BisectionFallbackKeepsTheConventions) {
    // A third of the spectrum exactly zero among ones and twos: the
    // relative convergence test of the implicit QL iteration cannot be met
    // on the block of roundoff-sized eigenvalues, so the eigenvalues come
    // from bisection (result -1) and must still be descending with their
    // vectors.
    const int n = 168;
    std::vector<double> lambda(n);
    for (int i = 0; i < n; ++i) lambda[i] = i % 3;
    check_against_lapack(vt::with_eigenvalues(lambda, 4), n, n, -1);
    check_against_lapack(vt::with_eigenvalues(lambda, 4), n, 5, -1);
}

TEST(Eigen2, FewerVectorsBelongToTheLargest) {
    const int n = 30;
    const vt::Dense a = vt::random_symmetric(n, 31);
    check_against_lapack(a, n, 4);
    const Decomposition all = decompose(a, n, n);
    const Decomposition few = decompose(a, n, 4);
    for (int r = 0; r < 4 * n; ++r) EXPECT_NEAR(few.z[r], all.z[r], 1e-12);
}

TEST(Eigen2, OneByOneAndNoVectors) {
    double a = -4.25, ev = 0, z = 0, work[9];
    EXPECT_EQ(zeigen2(1, &a, &ev, 1, &z, work), 0);
    EXPECT_EQ(ev, -4.25);
    EXPECT_EQ(z, 1.0);

    const int n = 5;
    std::vector<double> ap = vt::to_packed(vt::random_symmetric(n, 3), n);
    std::vector<double> evs(n), w(9 * n);
    double untouched = 123.0;
    EXPECT_EQ(zeigen2(n, ap.data(), evs.data(), 0, &untouched, w.data()), 0);
    EXPECT_EQ(untouched, 123.0);
    EXPECT_EQ(zeigen2(n, vt::to_packed(vt::random_symmetric(n, 3), n).data(), evs.data(), 0,
                      nullptr, w.data()),
              0);
}

TEST(Eigen2, InvalidCallsChangeNothing) {
    const int n = 3;
    std::vector<double> ap = {1, 2, 3, 4, 5, 6};
    const std::vector<double> saved = ap;
    std::vector<double> ev(n, 7.0), z(n * (n + 1), 7.0), w(9 * n);
    EXPECT_EQ(zeigen2(n, ap.data(), ev.data(), n + 1, z.data(), w.data()), 99);
    EXPECT_EQ(zeigen2(n, ap.data(), ev.data(), 1, nullptr, w.data()), 99);
    EXPECT_EQ(zeigen2(0, ap.data(), ev.data(), 0, z.data(), w.data()), 99);
    EXPECT_EQ(zeigen2(n, ap.data(), ev.data(), -1, z.data(), w.data()), 99);
    EXPECT_EQ(zeigen2(n, nullptr, ev.data(), 0, z.data(), w.data()), 99);
    EXPECT_EQ(zeigen2(n, ap.data(), nullptr, 0, z.data(), w.data()), 99);
    EXPECT_EQ(zeigen2(n, ap.data(), ev.data(), 0, z.data(), nullptr), 99);
    EXPECT_EQ(ap, saved);
    for (double v : ev) EXPECT_EQ(v, 7.0);
    for (double v : z) EXPECT_EQ(v, 7.0);
}

TEST(Eigen2, NonFiniteMatrixFailsBothPaths) {
    // QL fails on NaN, and bisection cannot count the eigenvalues either.
    const int n = 4;
    std::vector<double> ap = vt::to_packed(vt::random_symmetric(n, 8), n);
    ap[4] = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> ev(n), z(n * n), w(9 * n);
    EXPECT_EQ(zeigen2(n, ap.data(), ev.data(), n, z.data(), w.data()), 98);
}

TEST(Eigref, SignByComponentSumOrLeadingComponent) {
    // Sum negative: flipped.  Sum ~ 0: decided by the first component that
    // exceeds the earlier ones by more than sqrt(machep); roundoff-level
    // components are cleared.
    std::vector<double> z = {-0.6, -0.8, 0.0, 0.6, -0.6, 1e-18, -0.7071067811865476,
                             0.7071067811865476 + 1e-9, 0.0};
    zeigref(3, 3, z.data());
    EXPECT_EQ(z[0], 0.6);
    EXPECT_EQ(z[1], 0.8);
    EXPECT_EQ(z[3], 0.6);
    EXPECT_EQ(z[4], -0.6);
    EXPECT_EQ(z[5], 0.0);
    // |z7| exceeds |z6| by less than sqrt(machep): z6 decides, negative.
    EXPECT_GT(z[6], 0.0);
}

TEST(Modqrd, DependentRowsAreCountedAndSpanKept) {
    // Two orthonormal vectors keep their span and stay orthonormal; a
    // duplicated vector is a dependent column.
    const int n = 4;
    const double r = std::sqrt(0.5);
    std::vector<double> z = {r, r, 0, 0, 0, 0, r, -r, r, r, 0, 0};
    int32_t idx[3] = {0, 1, 2};
    int32_t jpvt[4];
    double qraux[4], colnorm[4];
    EXPECT_EQ(modqrd(2, n, idx, jpvt, 1e-300, z.data(), qraux, colnorm), 0);
    double dot = 0, n0 = 0, n1 = 0;
    for (int i = 0; i < n; ++i) {
        dot += z[i] * z[n + i];
        n0 += z[i] * z[i];
        n1 += z[n + i] * z[n + i];
    }
    EXPECT_NEAR(dot, 0.0, 1e-15);
    EXPECT_NEAR(n0, 1.0, 1e-15);
    EXPECT_NEAR(n1, 1.0, 1e-15);
    // Each result row lies in span{(r,r,0,0), (0,0,r,-r)}.
    for (int k = 0; k < 2; ++k) {
        EXPECT_NEAR(z[k * n + 0], z[k * n + 1], 1e-15);
        EXPECT_NEAR(z[k * n + 2], -z[k * n + 3], 1e-15);
    }
    std::vector<double> dup = {1, 0, 0, 0, 1, 0, 0, 0};
    int32_t idx2[2] = {0, 1};
    EXPECT_EQ(modqrd(2, n, idx2, jpvt, 1e-300, dup.data(), qraux, colnorm), 1);
}

}  // namespace
