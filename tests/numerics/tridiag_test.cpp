// Householder tridiagonalisation and QL eigenvalues against their defining
// identities (Z'AZ = T with orthogonal Z, A V = V diag(d)), against LAPACK's
// dsyev, and on the diagonal, split and 1 x 1 cases.
#include "numerics/tridiag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "tests/support/eigen_test_matrices.h"

namespace vt = velix::test;

namespace {

// Agreement with LAPACK and identity residuals, relative to the matrix
// norm: a few thousand roundings for orders up to 200.
constexpr double kTol = 1e-10;

double frobenius(const vt::Dense& a) {
    double s = 0;
    for (double v : a) s += v * v;
    return std::sqrt(s);
}

// Dense tridiagonal matrix from d and e in the reduction layout.
vt::Dense tridiagonal(const double* d, const double* e, int n) {
    vt::Dense t(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
        t[i * n + i] = d[i];
        if (i > 0) t[i * n + i - 1] = t[(i - 1) * n + i] = e[i];
    }
    return t;
}

class Tred2Ql2 : public ::testing::TestWithParam<int> {};

TEST_P(Tred2Ql2, EigenDecompositionMatchesLapack) {
    const int n = GetParam();
    const vt::Dense a = vt::random_symmetric(n, 100 + n);
    vt::Dense z = a;
    std::vector<double> d(n), e(n);
    ztred2(n, z.data(), d.data(), e.data());
    // Z'AZ = T with Z orthogonal (column k of Z at z[k*n ..]).
    const vt::Dense zt = z;                                // row k = column k of Z
    const vt::Dense zc = vt::transpose(zt, n, n);          // Z itself, row-major
    const vt::Dense t = vt::matmul(zt, vt::matmul(a, zc, n, n, n), n, n, n);
    const double scale = std::max(1.0, frobenius(a));
    EXPECT_LT(vt::max_abs_diff(t, tridiagonal(d.data(), e.data(), n)), kTol * scale);
    EXPECT_LT(vt::identity_error(zt, zc, n), kTol);
    EXPECT_EQ(e[0], 0.0);

    ASSERT_EQ(ztql2(n, z.data(), d.data(), e.data(), '1'), 0);
    const std::vector<double> ref = vt::lapack_eigenvalues(a, n);
    double worst = 0;
    for (int k = 0; k < n; ++k) {
        if (k > 0) {
            EXPECT_GE(d[k - 1], d[k]) << "not descending at " << k;
        }
        worst = std::max(worst, std::fabs(d[k] - ref[n - 1 - k]));
    }
    EXPECT_LT(worst, kTol * scale) << "worst eigenvalue difference " << worst;
    // A v_k = d_k v_k with orthonormal v_k.
    const vt::Dense v = vt::transpose(z, n, n);  // columns are vectors
    const vt::Dense av = vt::matmul(a, v, n, n, n);
    double res = 0;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k) res = std::max(res, std::fabs(av[i * n + k] - d[k] * v[i * n + k]));
    EXPECT_LT(res, kTol * scale) << "worst residual " << res;
    EXPECT_LT(vt::identity_error(z, v, n), kTol);
}

INSTANTIATE_TEST_SUITE_P(Orders, Tred2Ql2, ::testing::Values(1, 2, 3, 10, 57, 200));

TEST(Tql2, DiagonalSortsDescendingKeepingFirstOfTies) {
    const int n = 4;
    vt::Dense a = {1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 3, 0, 0, 0, 0, 2};
    std::vector<double> d(n), e(n);
    ztred2(n, a.data(), d.data(), e.data());
    ASSERT_EQ(ztql2(n, a.data(), d.data(), e.data(), 1), 0);
    EXPECT_EQ(d, (std::vector<double>{3, 3, 2, 1}));
    // Vectors: e1, e2 (the first 3 stays in front), e3, e0.
    const int unit[4] = {1, 2, 3, 0};
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < n; ++i) EXPECT_EQ(std::fabs(a[k * n + i]), i == unit[k] ? 1.0 : 0.0);
}

TEST(Tql2, NoVectorsLeavesZUntouchedAndOneByOne) {
    const int n = 6;
    const vt::Dense a = vt::random_symmetric(n, 7);
    vt::Dense z = a;
    std::vector<double> d(n), e(n);
    ztred2(n, z.data(), d.data(), e.data());
    const vt::Dense saved = z;
    ASSERT_EQ(ztql2(n, z.data(), d.data(), e.data(), 0), 0);
    EXPECT_EQ(z, saved);
    const std::vector<double> ref = vt::lapack_eigenvalues(a, n);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(d[k], ref[n - 1 - k], kTol);

    double z1 = 1.0, d1 = -2.5, e1 = 0.0;
    EXPECT_EQ(ztql2(1, &z1, &d1, &e1, 1), 0);
    EXPECT_EQ(d1, -2.5);
    EXPECT_EQ(z1, 1.0);
}

// A NaN off the diagonal is never negligible: no eigenvalues are claimed,
// the iteration limit ends the run with the failed index.
TEST(Tql2, ANanOffTheDiagonalIsAFailure) {
    const int n = 3;
    vt::Dense z(static_cast<size_t>(n) * n, 0.0);
    std::vector<double> d = {2.0, 1.0, 3.0}, e = {0.0, std::nan(""), 0.5};
    EXPECT_LT(ztql2(n, z.data(), d.data(), e.data(), 0), 0);
}

// Q with column k = ztrapp3(1, e_k) is the reduction's orthogonal matrix.
vt::Dense reduction_basis(const std::vector<double>& ap, int n) {
    vt::Dense q(static_cast<size_t>(n) * n);
    std::vector<double> x(n);
    for (int k = 0; k < n; ++k) {
        std::fill(x.begin(), x.end(), 0.0);
        x[k] = 1.0;
        ztrapp3(1, n, ap.data(), x.data());
        for (int i = 0; i < n; ++i) q[i * n + k] = x[i];
    }
    return q;
}

class Tred3 : public ::testing::TestWithParam<int> {};

TEST_P(Tred3, ReductionIdentityAndBasisMaps) {
    const int n = GetParam();
    const vt::Dense a = vt::random_symmetric(n, 300 + n);
    std::vector<double> ap = vt::to_packed(a, n);
    std::vector<double> w(3 * n);
    ztred3(n, ap.data(), w.data());
    const double* d = w.data();
    const double* e = w.data() + n;
    const double* e2 = w.data() + 2 * n;
    for (int i = 0; i < n; ++i) EXPECT_NEAR(e2[i], e[i] * e[i], 1e-14 * (1 + e2[i]));

    const vt::Dense q = reduction_basis(ap, n);
    const vt::Dense qt = vt::transpose(q, n, n);
    const vt::Dense t = vt::matmul(qt, vt::matmul(a, q, n, n, n), n, n, n);
    const double scale = std::max(1.0, frobenius(a));
    EXPECT_LT(vt::max_abs_diff(t, tridiagonal(d, e, n)), kTol * scale);
    EXPECT_LT(vt::identity_error(qt, q, n), kTol);

    // ztrbak3 on the unit vectors gives the same basis.
    vt::Dense units(static_cast<size_t>(n) * n, 0.0);
    for (int k = 0; k < n; ++k) units[k * n + k] = 1.0;
    ztrbak3(n, n, ap.data(), units.data());
    EXPECT_LT(vt::max_abs_diff(vt::transpose(units, n, n), q), 1e-14 * n);

    // Forward then backward leaves a vector unchanged.
    std::vector<double> x = vt::random_dense(1, n, 9);
    const std::vector<double> x0 = x;
    const int skipped = ztrapp3(1, n, ap.data(), x.data());
    EXPECT_EQ(ztrapp3(0, n, ap.data(), x.data()), skipped);
    EXPECT_LT(vt::max_abs_diff(x, x0), 1e-13);

    // QL eigenvalues of T are those of A.
    std::vector<double> ev(n), rv1(n);
    std::vector<int16_t> ind(n);
    ASSERT_EQ(zimtqlv(n, w.data(), ev.data(), ind.data(), rv1.data()), 0);
    const std::vector<double> ref = vt::lapack_eigenvalues(a, n);
    double worst = 0;
    for (int k = 0; k < n; ++k) worst = std::max(worst, std::fabs(ev[k] - ref[k]));
    EXPECT_LT(worst, kTol * scale) << "worst eigenvalue difference " << worst;
    EXPECT_EQ(e2[0], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Orders, Tred3, ::testing::Values(2, 3, 11, 64, 200));

TEST(Tred3, EmptyAndOneByOne) {
    double sentinel = 42.0;
    ztred3(0, &sentinel, &sentinel);
    EXPECT_EQ(sentinel, 42.0);
    double a = 3.5;
    double w[3] = {9, 9, 9};
    ztred3(1, &a, w);
    EXPECT_EQ(w[0], 3.5);
    EXPECT_EQ(w[1], 0.0);
    EXPECT_EQ(w[2], 0.0);
    EXPECT_EQ(a, 0.0);  // h_0
    double x = 2.0;
    EXPECT_EQ(ztrapp3(1, 1, &a, &x), 0);
    EXPECT_EQ(x, 2.0);
}

TEST(Tred3, ZeroRowsAreSkippedAndCounted) {
    // A diagonal matrix: every step has scale 0, so h_i = 0 and ztrapp3
    // reports n-1 skipped steps and leaves vectors unchanged.
    const int n = 5;
    std::vector<double> ap(n * (n + 1) / 2, 0.0);
    for (int i = 0; i < n; ++i) ap[vt::pk(i, i)] = i + 1.0;
    std::vector<double> w(3 * n);
    ztred3(n, ap.data(), w.data());
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(w[i], i + 1.0);
        EXPECT_EQ(w[n + i], 0.0);
    }
    std::vector<double> x = {1, 2, 3, 4, 5};
    EXPECT_EQ(ztrapp3(1, n, ap.data(), x.data()), n - 1);
    EXPECT_EQ(x, (std::vector<double>{1, 2, 3, 4, 5}));
}

TEST(Imtqlv, SplitMatrixMergesBlocksWithTags) {
    // Blocks {0,1} (eigenvalues 1 and 3) and {2,3} (eigenvalues 0 and 4)
    // joined by an exact zero.
    const int n = 4;
    std::vector<double> t = {2, 2, 2, 2, 0, 1, 0, 2, 0, 1, 0, 4};
    std::vector<double> w(n), rv1(n);
    std::vector<int16_t> ind(n);
    ASSERT_EQ(zimtqlv(n, t.data(), w.data(), ind.data(), rv1.data()), 0);
    const double expect[4] = {0, 1, 3, 4};
    const int16_t tags[4] = {2, 1, 1, 2};
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(w[i], expect[i], 1e-14);
        EXPECT_EQ(ind[i], tags[i]) << "at " << i;
    }
    EXPECT_EQ(t[2 * n + 2], 0.0);
    EXPECT_NE(t[2 * n + 1], 0.0);
}

TEST(Imtqlv, NonFiniteInputFailsInsteadOfLooping) {
    const int n = 3;
    std::vector<double> t = {1, NAN, 2, 0, 1, 1, 0, 1, 1};
    std::vector<double> w(n), rv1(n);
    std::vector<int16_t> ind(n);
    EXPECT_LT(zimtqlv(n, t.data(), w.data(), ind.data(), rv1.data()), 0);
}

}  // namespace
