// Bisection eigenvalues and inverse-iteration eigenvectors of tridiagonal
// matrices: against the QL eigenvalues and LAPACK, the residual T v = x v,
// the selection and order conventions, the exact zero rule, split
// matrices, and the bounded iteration on hopeless input.
#include "numerics/bisect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/tridiag.h"
#include "tests/support/eigen_test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-10;

// The TridiagonalWork of a random symmetric matrix of order n.
std::vector<double> reduced(const vt::Dense& a, int n) {
    std::vector<double> ap = vt::to_packed(a, n);
    std::vector<double> t(3 * n);
    ztred3(n, ap.data(), t.data());
    return t;
}

// max_i |(T v)_i - x v_i| for the tridiagonal of t.
double tridiagonal_residual(const std::vector<double>& t, int n, const double* v, double x) {
    double worst = 0;
    for (int i = 0; i < n; ++i) {
        double s = t[i] * v[i] - x * v[i];
        if (i > 0) s += t[n + i] * v[i - 1];
        if (i + 1 < n) s += t[n + i + 1] * v[i + 1];
        worst = std::max(worst, std::fabs(s));
    }
    return worst;
}

TEST(Bisect, SelectsLargestOrSmallestWithOrderFlag) {
    const vt::Dense a = vt::with_eigenvalues({1, 2, 3}, 5);
    std::vector<double> t = reduced(a, 3);
    double w[1];
    int16_t ind[1];
    std::vector<double> rv(6);
    ASSERT_EQ(zbisect(3, 1, 0.0, t.data(), w, ind, rv.data()), 1);
    EXPECT_NEAR(w[0], 3.0, 1e-14);
    EXPECT_EQ(t[6], 2.0);
    ASSERT_EQ(zbisect(3, -1, 0.0, t.data(), w, ind, rv.data()), 1);
    EXPECT_NEAR(w[0], 1.0, 1e-14);
    EXPECT_EQ(t[6], 0.0);
}

class BisectAll : public ::testing::TestWithParam<int> {};

TEST_P(BisectAll, AgreesWithQlAndGivesEigenvectors) {
    const int n = GetParam();
    const vt::Dense a = vt::random_symmetric(n, 40 + n);
    std::vector<double> t = reduced(a, n);
    std::vector<double> tq = t;
    std::vector<double> ql(n), rv(5 * n);
    std::vector<int16_t> qind(n);
    ASSERT_EQ(zimtqlv(n, tq.data(), ql.data(), qind.data(), rv.data()), 0);

    std::vector<double> w(n);
    std::vector<int16_t> ind(n);
    ASSERT_EQ(zbisect(n, n, 0.0, t.data(), w.data(), ind.data(), rv.data()), n);
    double worst = 0;
    for (int k = 0; k < n; ++k) {
        if (k > 0) {
            EXPECT_GE(w[k - 1], w[k]);
        }
        worst = std::max(worst, std::fabs(w[k] - ql[n - 1 - k]));
    }
    EXPECT_LT(worst, kTol) << "worst difference to QL " << worst;

    // A subset of the smallest, ascending.
    const int half = n / 2 + 1;
    std::vector<double> t2 = t;
    std::vector<double> ws(half);
    std::vector<int16_t> is(half);
    ASSERT_EQ(zbisect(n, -half, 0.0, t2.data(), ws.data(), is.data(), rv.data()), half);
    for (int k = 0; k < half; ++k) EXPECT_NEAR(ws[k], ql[k], kTol);

    // Inverse iteration: T v = x v, orthonormal.
    std::vector<double> z(static_cast<size_t>(n) * n);
    const int code = ztinvit(n, n, t.data(), w.data(), ind.data(), z.data(), rv.data());
    EXPECT_GE(code, -10);
    double res = 0, orth = 0;
    for (int r = 0; r < n; ++r) {
        res = std::max(res, tridiagonal_residual(t, n, &z[r * n], w[r]));
        for (int s = 0; s <= r; ++s) {
            double dot = 0;
            for (int i = 0; i < n; ++i) dot += z[r * n + i] * z[s * n + i];
            orth = std::max(orth, std::fabs(dot - (r == s ? 1.0 : 0.0)));
        }
    }
    EXPECT_LT(res, kTol) << "worst residual " << res;
    EXPECT_LT(orth, kTol) << "worst orthonormality error " << orth;
}

INSTANTIATE_TEST_SUITE_P(Orders, BisectAll, ::testing::Values(2, 5, 30, 120));

TEST(Bisect, BracketAroundZeroGivesExactZero) {
    // The path graph on three nodes: eigenvalues -sqrt 2, 0, sqrt 2.
    std::vector<double> t = {0, 0, 0, 0, 1, 1, 0, 1, 1};
    double w[3];
    int16_t ind[3];
    double rv[6];
    ASSERT_EQ(zbisect(3, 3, 0.0, t.data(), w, ind, rv), 3);
    EXPECT_NEAR(w[0], std::sqrt(2.0), 1e-15);
    EXPECT_EQ(w[1], 0.0);
    EXPECT_NEAR(w[2], -std::sqrt(2.0), 1e-15);
}

TEST(Bisect, DiagonalSplitsIntoOneByOneBlocks) {
    const int n = 4;
    std::vector<double> t = {3, -1, 2, 5, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<double> w(n), rv(5 * n);
    std::vector<int16_t> ind(n);
    ASSERT_EQ(zbisect(n, n, 0.0, t.data(), w.data(), ind.data(), rv.data()), n);
    EXPECT_EQ(w, (std::vector<double>{5, 3, 2, -1}));
    EXPECT_EQ(ind, (std::vector<int16_t>{4, 1, 3, 2}));
    std::vector<double> z(n * n);
    ASSERT_EQ(ztinvit(n, n, t.data(), w.data(), ind.data(), z.data(), rv.data()), 0);
    for (int r = 0; r < n; ++r)
        for (int i = 0; i < n; ++i) EXPECT_EQ(z[r * n + i], i == ind[r] - 1 ? 1.0 : 0.0);
}

TEST(Bisect, ZeroMatrixHasZeroEigenvalues) {
    // Gerschgorin bounds of 0.0 at both ends must still bracket the zeros.
    for (int n : {1, 3}) {
        std::vector<double> t(3 * n, 0.0);
        std::vector<double> w(n, -7.0), rv(2 * n);
        std::vector<int16_t> ind(n);
        ASSERT_EQ(zbisect(n, 1, 0.0, t.data(), w.data(), ind.data(), rv.data()), 1) << "n=" << n;
        EXPECT_EQ(w[0], 0.0);
        ASSERT_EQ(zbisect(n, -n, 0.0, t.data(), w.data(), ind.data(), rv.data()), n) << "n=" << n;
        for (int i = 0; i < n; ++i) EXPECT_EQ(w[i], 0.0) << "n=" << n << " i=" << i;
    }
}

TEST(Bisect, CoincidentBoundaryNeverStoresPastTheRequest) {
    // Eigenvalues 1, 2, 2: the largest one cannot be separated from its
    // twin; the output holds one value and nothing is written beyond it.
    std::vector<double> t = {2, 1, 2, 0, 0, 0, 0, 0, 0};
    double w[2] = {-7, -7};
    int16_t ind[2] = {-7, -7};
    double rv[6];
    const int got = zbisect(3, 1, 0.0, t.data(), w, ind, rv);
    ASSERT_EQ(got, 1);
    EXPECT_EQ(w[0], 2.0);
    EXPECT_EQ(w[1], -7.0);
    EXPECT_EQ(ind[1], -7);
}

TEST(Tinvit, EqualEigenvaluesInOneBlockGiveOrthogonalVectors) {
    const int n = 6;
    const vt::Dense a = vt::random_symmetric(n, 77);
    std::vector<double> t = reduced(a, n);
    std::vector<double> w(n), rv(5 * n);
    std::vector<int16_t> ind(n);
    ASSERT_EQ(zbisect(n, 1, 0.0, t.data(), w.data(), ind.data(), rv.data()), 1);
    double x[2] = {w[0], w[0]};
    int16_t tags[2] = {ind[0], ind[0]};
    std::vector<double> z(2 * n);
    ztinvit(n, 2, t.data(), x, tags, z.data(), rv.data());
    double dot = 0, n0 = 0, n1 = 0;
    for (int i = 0; i < n; ++i) {
        dot += z[i] * z[n + i];
        n0 += z[i] * z[i];
        n1 += z[n + i] * z[n + i];
    }
    EXPECT_LT(std::fabs(dot), kTol);
    EXPECT_NEAR(n0, 1.0, kTol);
    EXPECT_NEAR(n1, 1.0, kTol);
    EXPECT_LT(tridiagonal_residual(t, n, z.data(), x[0]), kTol);
}

TEST(Tinvit, HopelessShiftEndsWithFailureCode) {
    const int n = 4;
    std::vector<double> t = {1, 2, 3, 4, 0, 1, 1, 1, 0, 1, 1, 1};
    double w[1] = {NAN};
    int16_t ind[1] = {1};
    std::vector<double> z(n, 5.0), rv(5 * n);
    EXPECT_EQ(ztinvit(n, 1, t.data(), w, ind, z.data(), rv.data()), -40);
    for (double v : z) EXPECT_EQ(v, 0.0);
}

TEST(Tinvit, NothingWantedAndOrderOne) {
    double t[3] = {4, 0, 0};
    double w = 4, z = 9, rv[5];
    int16_t ind = 0;
    EXPECT_EQ(ztinvit(1, 0, t, &w, &ind, &z, rv), 0);
    EXPECT_EQ(z, 9.0);
    EXPECT_EQ(ztinvit(1, 1, t, &w, &ind, &z, rv), 0);
    EXPECT_EQ(ind, 1);
    EXPECT_EQ(z, 1.0);
}

}  // namespace
