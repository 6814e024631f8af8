// Sweep solve: the closed-form small cases, inverse times A = I and solved
// systems on random matrices, and a rank-deficient least-squares problem
// whose generalized solution must satisfy the normal equations.
#include "numerics/sweep_solve.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-11;  // relative, order up to 12
// The tolerance the least-squares caller uses.
constexpr double kCallerTol = 1.053671212772351e-08;

TEST(Znndsol, ClosedFormCases) {
    std::vector<double> a = {4.0}, w(2), b = {8.0};
    EXPECT_EQ(znndsol(1, a.data(), w.data(), 1, b.data(), kCallerTol), 0);
    EXPECT_EQ(a[0], 0.25);
    EXPECT_EQ(b[0], 2.0);
    const double p = 3, q = 1, r = 2, det = p * r - q * q;
    a = {p, q, r};
    b = {1, 0};
    EXPECT_EQ(znndsol(2, a.data(), w.data(), 1, b.data(), kCallerTol), 0);
    EXPECT_NEAR(a[0], r / det, 1e-15);
    EXPECT_NEAR(a[1], -q / det, 1e-15);
    EXPECT_NEAR(a[2], p / det, 1e-15);
    EXPECT_NEAR(b[0], r / det, 1e-15);
    EXPECT_NEAR(b[1], -q / det, 1e-15);
    // A pivot equal to tol is used; below it (or zero) it is not.
    a = {0.5};
    EXPECT_EQ(znndsol(1, a.data(), w.data(), 0, b.data(), 0.5), 0);
    EXPECT_EQ(a[0], 2.0);
    a = {0.0};
    EXPECT_EQ(znndsol(1, a.data(), w.data(), 0, b.data(), 0.0), 1);
    EXPECT_EQ(znndsol(0, a.data(), w.data(), 0, b.data(), 0.0), 0);
}

TEST(Znndsol, RandomInverseAndSolutions) {
    const int n = 12, m = 2;
    const vt::Dense a = vt::random_spd(n, 1800);
    std::vector<double> p = vt::to_packed(a, n), w(n);
    const vt::Dense x0 = vt::random_dense(m, n, 1801);
    vt::Dense b = vt::transpose(vt::matmul(a, vt::transpose(x0, m, n), n, n, m), n, m);
    ASSERT_EQ(znndsol(n, p.data(), w.data(), m, b.data(), kCallerTol), 0);
    EXPECT_LE(vt::identity_error(vt::from_packed(p, n), a, n), kTol * n) << "worst |inv(A) A - I|";
    EXPECT_LE(vt::max_abs_diff(b, x0), kTol * n) << "worst |x - x0|";
}

TEST(Znndsol, ZeroRowGivesAGeneralizedInverse) {
    // Row and column 1 zero; the rest is [[4, 2], [2, 3]].
    std::vector<double> a = {4, 0, 0, 2, 0, 3}, w(3), b = {2, 5, 1};
    EXPECT_EQ(znndsol(3, a.data(), w.data(), 1, b.data(), kCallerTol), 1);
    EXPECT_EQ(a[1], 0.0);
    EXPECT_EQ(a[2], 0.0);
    EXPECT_EQ(a[4], 0.0);
    EXPECT_NEAR(a[0], 0.375, 1e-15);
    EXPECT_NEAR(a[3], -0.25, 1e-15);
    EXPECT_NEAR(a[5], 0.5, 1e-15);
    EXPECT_EQ(b[1], 0.0);
    EXPECT_NEAR(4 * b[0] + 2 * b[2], 2.0, 1e-14);
    EXPECT_NEAR(2 * b[0] + 3 * b[2], 1.0, 1e-14);
}

TEST(Znndsol, RankDeficientLeastSquaresSatisfiesNormalEquations) {
    const int rows = 20, k = 4;
    vt::Dense x = vt::random_dense(rows, k, 1810);
    for (int i = 0; i < rows; ++i) x[i * k + 2] = x[i * k + 0] - 2.0 * x[i * k + 1];  // dependent column
    const vt::Dense y = vt::random_dense(rows, 1, 1811);
    const vt::Dense xt = vt::transpose(x, rows, k);
    const vt::Dense xtx = vt::matmul(xt, x, k, rows, k);
    const vt::Dense xty = vt::matmul(xt, y, k, rows, 1);
    std::vector<double> p = vt::to_packed(xtx, k), w(k), b = xty;
    EXPECT_EQ(znndsol(k, p.data(), w.data(), 1, b.data(), kCallerTol), 1);
    EXPECT_EQ(b[2], 0.0);
    EXPECT_LE(vt::max_abs_diff(vt::matmul(xtx, b, k, k, 1), xty), 1e-12) << "normal equations";
}

}  // namespace
