// LU decomposition, its inverse and the packed lower triangular inverse:
// solves replayed from the factors, inverse times A = I, pivots and
// determinants against LAPACK's dgetrf, and the closed-form small cases.
#include "numerics/lu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-11;  // relative, random matrices up to order 100

// Solves A x = b from zludec's factors, replaying the interchanges as the
// factors require (LINPACK DGESL).
std::vector<double> replay_solve(const vt::Dense& f, const std::vector<int32_t>& ipvt,
                                 std::vector<double> b, int n) {
    for (int k = 0; k < n - 1; ++k) {
        const int l = ipvt[k];
        const double t = b[l];
        if (l != k) {
            b[l] = b[k];
            b[k] = t;
        }
        for (int i = k + 1; i < n; ++i) b[i] += t * f[i * n + k];
    }
    for (int k = n - 1; k >= 0; --k) {
        b[k] /= f[k * n + k];
        for (int i = 0; i < k; ++i) b[i] -= b[k] * f[i * n + k];
    }
    return b;
}

TEST(Zludec, RandomMatricesAgreeWithLapackAndSolve) {
    for (int n : {1, 2, 7, 40, 100}) {
        const vt::Dense a = vt::random_dense(n, n, 400 + n);
        vt::Dense f = a;
        std::vector<int32_t> ipvt(n, -7);
        double det[2];
        ASSERT_EQ(zludec(n, n, 0.0, det, f.data(), ipvt.data()), 0) << "n=" << n;
        EXPECT_EQ(ipvt[n - 1], n - 1);
        // LAPACK on the transpose (column-major view of row-major a).
        vt::Dense g = vt::transpose(a, n, n);
        std::vector<int> ipiv(n);
        int info = 0;
        dgetrf_(&n, &n, g.data(), &n, ipiv.data(), &info);
        ASSERT_EQ(info, 0);
        double logdet = 0.0;
        int sign = 1;
        for (int i = 0; i < n; ++i) {
            const double d = g[i * n + i];
            logdet += std::log10(std::fabs(d));
            if (d < 0) sign = -sign;
            if (ipiv[i] != i + 1) sign = -sign;
            if (i < n - 1) {
                EXPECT_EQ(ipvt[i], ipiv[i] - 1) << "pivot of column " << i;
            }
        }
        EXPECT_NEAR(vt::pair_log10(det), logdet, 1e-11 * n) << "n=" << n;
        EXPECT_EQ(det[0] < 0 ? -1 : 1, sign);
        const vt::Dense x0 = vt::random_dense(1, n, 9);
        const std::vector<double> x = replay_solve(f, ipvt, vt::matmul(a, x0, n, n, 1), n);
        EXPECT_LE(vt::max_abs_diff(x, x0), kTol * n) << "n=" << n << " worst |x - x0|";
        std::vector<double> work(n);
        zluinv(n, n, f.data(), ipvt.data(), work.data());
        EXPECT_LE(vt::identity_error(f, a, n), kTol * n) << "n=" << n << " worst |inv(A) A - I|";
    }
}

TEST(Zludec, LeadingDimensionLargerThanOrder) {
    const int n = 5, lda = 8;
    const vt::Dense a = vt::random_dense(n, n, 77);
    vt::Dense big(n * lda, 99.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) big[i * lda + j] = a[i * n + j];
    std::vector<int32_t> ipvt(n);
    ASSERT_EQ(zludec(n, lda, 0.0, nullptr, big.data(), ipvt.data()), 0);
    std::vector<double> work(n);
    zluinv(n, lda, big.data(), ipvt.data(), work.data());
    vt::Dense inv(n * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) inv[i * n + j] = big[i * lda + j];
    EXPECT_LE(vt::identity_error(inv, a, n), kTol);
    for (int i = 0; i < n; ++i)
        for (int j = n; j < lda; ++j) EXPECT_EQ(big[i * lda + j], 99.0);
}

TEST(Zludec, PivotingTiesSignAndOneByOne) {
    vt::Dense a = {0, 1, 1, 0};
    std::vector<int32_t> ipvt(2);
    double det[2];
    ASSERT_EQ(zludec(2, 2, 0.0, det, a.data(), ipvt.data()), 0);
    EXPECT_EQ(ipvt[0], 1);
    EXPECT_EQ(ipvt[1], 1);
    EXPECT_EQ(det[0], -1.0);
    EXPECT_EQ(det[1], 0.0);
    // |1| and |-1| tie: the lowest row wins.
    a = {1, 2, -1, 3};
    ASSERT_EQ(zludec(2, 2, 0.0, det, a.data(), ipvt.data()), 0);
    EXPECT_EQ(ipvt[0], 0);
    EXPECT_NEAR(det[0], 5.0, 1e-15);
    a = {-250.0};
    ASSERT_EQ(zludec(1, 1, 0.0, det, a.data(), ipvt.data()), 0);
    EXPECT_EQ(ipvt[0], 0);
    EXPECT_NEAR(det[0], -2.5, 1e-15);
    EXPECT_EQ(det[1], 2.0);
    std::vector<double> work(1);
    zluinv(1, 1, a.data(), ipvt.data(), work.data());
    EXPECT_DOUBLE_EQ(a[0], -1.0 / 250.0);
}

TEST(Zludec, NegligiblePivotsAndUnderflow) {
    vt::Dense a = {1e-9};
    std::vector<int32_t> ipvt(3);
    double det[2];
    EXPECT_EQ(zludec(1, 1, 1e-8, det, a.data(), ipvt.data()), 1);
    EXPECT_EQ(det[0], 0.0);
    EXPECT_EQ(det[1], 0.0);
    // Third row the sum of the first two: one negligible pivot.
    a = {1, 2, 3, 4, 5, 6, 5, 7, 9};
    EXPECT_EQ(zludec(3, 3, 1e-12, det, a.data(), ipvt.data()), 1);
    EXPECT_EQ(det[0], 0.0);
    // A zero pivot is negligible even with a negative tolerance.
    a = {0, 0, 0, 1};
    EXPECT_EQ(zludec(2, 2, -1.0, det, a.data(), ipvt.data()), 1);
    // A regular matrix whose diagonal product underflows.
    a = {1e-310};
    EXPECT_EQ(zludec(1, 1, 0.0, det, a.data(), ipvt.data()), 0);
    EXPECT_EQ(det[0], 0.0);
    EXPECT_EQ(det[1], 1.0);
}

TEST(Zinvlo, RandomLowerTriangularInverse) {
    for (int n : {1, 6, 30}) {
        vt::Dense l = vt::random_dense(n, n, 500 + n);
        for (int i = 0; i < n; ++i) {
            for (int j = i + 1; j < n; ++j) l[i * n + j] = 0.0;
            l[i * n + i] = (i % 3 ? 1.0 : -1.0) * (1.0 + 0.1 * i);
        }
        std::vector<double> p = vt::to_packed(l, n);
        std::vector<double> work(n);
        ASSERT_EQ(zinvlo(p.data(), n, work.data(), 1e-12), 0);
        EXPECT_LE(vt::identity_error(vt::lower_from_packed(p, n), l, n), kTol * n) << "n=" << n;
    }
}

TEST(Zinvlo, EmptyAndNegligibleDiagonal) {
    std::vector<double> p = {0.0, 1.0, 2.0};
    const std::vector<double> orig = p;
    std::vector<double> work(2);
    EXPECT_EQ(zinvlo(p.data(), 0, work.data(), 1e-12), 0);
    EXPECT_EQ(p, orig);
    EXPECT_EQ(zinvlo(p.data(), 2, work.data(), 1e-12), 1);
    EXPECT_EQ(p, orig);
    EXPECT_EQ(zinvlo(p.data(), 2, work.data(), -1.0), 1);
    p = {2.0, 1.0, 1e-9};
    EXPECT_EQ(zinvlo(p.data(), 2, work.data(), 1e-6), 1);
}

}  // namespace
