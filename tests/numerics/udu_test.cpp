// UDU' decomposition family: A = U D U' rebuilt from the multipliers and
// interchanges, solves and inverses times A = I on indefinite matrices, the
// info block against LAPACK's dsyev eigenvalues, and the small closed-form
// cases.
#include "numerics/udu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-10;  // relative, indefinite random matrices up to order 80

// Rebuilds U and D (dense n x n) from the factors: U = P(n-1) U(n-1) ...,
// where U(k) is the identity with minus the stored multipliers above the
// pivot block and P(k) the interchange of the step.
void rebuild(const std::vector<double>& f, const std::vector<int32_t>& kpvt, int n, vt::Dense* u,
             vt::Dense* d) {
    *u = vt::Dense(n * n, 0.0);
    *d = vt::Dense(n * n, 0.0);
    for (int i = 0; i < n; ++i) (*u)[i * n + i] = 1.0;
    int k = n - 1;
    while (k >= 0) {
        const int s = kpvt[k] < 0 ? 2 : 1;
        const int top = k - s + 1;  // first row of the block
        vt::Dense step(n * n, 0.0);
        for (int i = 0; i < n; ++i) step[i * n + i] = 1.0;
        for (int c = top; c <= k; ++c)
            for (int i = 0; i < top; ++i) step[i * n + c] = -f[vt::pk(c, i)];
        const int r = kpvt[k] < 0 ? -kpvt[k] - 1 : kpvt[k];
        vt::Dense perm(n * n, 0.0);
        for (int i = 0; i < n; ++i) perm[i * n + i] = 1.0;
        if (r != top) {
            perm[r * n + r] = perm[top * n + top] = 0.0;
            perm[r * n + top] = perm[top * n + r] = 1.0;
        }
        *u = vt::matmul(vt::matmul(*u, perm, n, n, n), step, n, n, n);
        for (int i = top; i <= k; ++i)
            for (int j = top; j <= k; ++j) (*d)[i * n + j] = f[vt::pk(i, j)];
        k -= s;
    }
}

TEST(Zududec, IndefiniteMatricesRebuildSolveInvert) {
    int blocks_seen = 0;
    for (int n : {1, 2, 5, 30, 80}) {
        const vt::Dense a = vt::random_symmetric(n, 900 + n);
        std::vector<double> f = vt::to_packed(a, n);
        std::vector<int32_t> kpvt(n);
        double info[5];
        ASSERT_EQ(zududec(n, 1e-13, info, f.data(), kpvt.data()), 0) << "n=" << n;
        for (int k = 0; k < n; ++k) blocks_seen += kpvt[k] < 0;
        vt::Dense u, d;
        rebuild(f, kpvt, n, &u, &d);
        const vt::Dense udu = vt::matmul(vt::matmul(u, d, n, n, n), vt::transpose(u, n, n), n, n, n);
        EXPECT_LE(vt::max_abs_diff(udu, a), kTol * n) << "n=" << n << " worst |UDU' - A|";
        // Inertia and determinant against the eigenvalues.
        const std::vector<double> w = vt::eigenvalues(a, n);
        int pos = 0, neg = 0, sign = 1;
        double logdet = 0.0;
        for (double v : w) {
            pos += v > 0;
            neg += v < 0;
            if (v < 0) sign = -sign;
            logdet += std::log10(std::fabs(v));
        }
        EXPECT_EQ(info[2], pos) << "n=" << n;
        EXPECT_EQ(info[3], neg) << "n=" << n;
        EXPECT_EQ(info[4], 0.0);
        EXPECT_NEAR(vt::pair_log10(info), logdet, 1e-10 * n);
        EXPECT_EQ(info[0] < 0 ? -1 : 1, sign);
        // Solve two right-hand sides (element i of rhs c at i*2 + c).
        const vt::Dense x0 = vt::random_dense(n, 2, 901);
        vt::Dense b = vt::matmul(a, x0, n, n, 2);
        zudusol(n, 2, 2, f.data(), b.data(), kpvt.data());
        EXPECT_LE(vt::max_abs_diff(b, x0), kTol * n) << "n=" << n << " worst |x - x0|";
        std::vector<double> work(n);
        zuduinv(n, f.data(), kpvt.data(), work.data());
        EXPECT_LE(vt::identity_error(vt::from_packed(f, n), a, n), kTol * n) << "n=" << n;
    }
    EXPECT_GT(blocks_seen, 0) << "no 2 x 2 block exercised";
}

TEST(Zududec, EmptyOneByOneAndSwapMatrix) {
    double info[5] = {9, 9, 9, 9, 9};
    std::vector<double> a;
    std::vector<int32_t> kpvt(2);
    EXPECT_EQ(zududec(0, 0.0, info, a.data(), kpvt.data()), 0);
    EXPECT_EQ(info[0], 1.0);
    EXPECT_EQ(info[1] + info[2] + info[3] + info[4], 0.0);
    a = {-3.0};
    EXPECT_EQ(zududec(1, 0.0, info, a.data(), kpvt.data()), 0);
    EXPECT_EQ(kpvt[0], 0);
    EXPECT_EQ(info[3], 1.0);
    a = {1e-9};
    EXPECT_EQ(zududec(1, 1e-8, info, a.data(), kpvt.data()), 1);
    EXPECT_EQ(info[4], 1.0);
    EXPECT_EQ(info[0], 0.0);
    a = {0, 1, 0};
    ASSERT_EQ(zududec(2, 0.0, info, a.data(), kpvt.data()), 0);
    EXPECT_EQ(kpvt[0], -1);
    EXPECT_EQ(kpvt[1], -1);
    EXPECT_EQ(info[0], -1.0);
    EXPECT_EQ(info[1], 0.0);
    EXPECT_EQ(info[2], 1.0);
    EXPECT_EQ(info[3], 1.0);
}

TEST(Zududec, NegligibleSteps) {
    // A negligible 2 x 2 step counts two columns and leaves them as they are.
    std::vector<double> a = {0, 1e-10, 0};
    std::vector<int32_t> kpvt(2);
    double info[5];
    EXPECT_EQ(zududec(2, 1e-8, info, a.data(), kpvt.data()), 2);
    EXPECT_EQ(kpvt[0], 0);
    EXPECT_EQ(kpvt[1], 1);
    EXPECT_EQ(a[1], 1e-10);
    EXPECT_EQ(info[0], 0.0);
    EXPECT_EQ(info[1], 0.0);
    // A zero matrix is singular even with a negative tolerance.
    a = {0, 0, 0};
    EXPECT_EQ(zududec(2, -1.0, info, a.data(), kpvt.data()), 2);
    // Rank 2 of order 3.
    const vt::Dense b = {1, 2, 3, 2, 5, 7, 3, 7, 10};
    a = vt::to_packed(b, 3);
    std::vector<int32_t> k3(3);
    EXPECT_EQ(zududec(3, 1e-10, info, a.data(), k3.data()), 1);
    EXPECT_EQ(info[4], 1.0);
}

TEST(Zudude2, PerColumnTolerances) {
    const int n = 6;
    const vt::Dense a = vt::random_symmetric(n, 950);
    std::vector<double> f1 = vt::to_packed(a, n), f2 = f1;
    std::vector<int32_t> k1(n), k2(n);
    double i1[5], i2[5];
    const std::vector<double> tolv(n, 1e-12);
    ASSERT_EQ(zududec(n, 1e-12, i1, f1.data(), k1.data()), 0);
    ASSERT_EQ(zudude2(n, tolv.data(), i2, f2.data(), k2.data()), 0);
    EXPECT_EQ(f1, f2);
    EXPECT_EQ(k1, k2);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(i1[i], i2[i]);
    // A huge tolerance on the last column only makes its step negligible.
    std::vector<double> big = tolv;
    big[n - 1] = 1e6;
    f2 = vt::to_packed(a, n);
    EXPECT_GE(zudude2(n, big.data(), i2, f2.data(), k2.data()), 1);
    EXPECT_EQ(k2[n - 1], n - 1);
}

TEST(Zuduso2, RestrictedSolve) {
    const int n = 6;
    vt::Dense a = vt::random_symmetric(n, 960);
    for (int i = 0; i < n; ++i) a[i * n + i] = 4.0 + i;  // diagonally dominant: 1 x 1 pivots
    std::vector<double> f = vt::to_packed(a, n);
    std::vector<int32_t> kpvt(n);
    ASSERT_EQ(zududec(n, 0.0, nullptr, f.data(), kpvt.data()), 0);
    for (int k = 0; k < n; ++k) ASSERT_GE(kpvt[k], 0);
    const std::vector<double> b0 = vt::random_dense(1, n, 961);
    std::vector<double> b1 = b0, b2 = b0;
    zudusol(n, 1, 1, f.data(), b1.data(), kpvt.data());
    zuduso2(n, 1, 1, 0.0, f.data(), b2.data(), kpvt.data());
    EXPECT_LE(vt::max_abs_diff(b1, b2), 1e-15);
    b2 = b0;
    zuduso2(n, 1, 1, 1e9, f.data(), b2.data(), kpvt.data());
    EXPECT_EQ(b2, b0);
    zuduso2(n, 0, 1, 0.0, f.data(), b2.data(), kpvt.data());
    EXPECT_EQ(b2, b0);
}

}  // namespace
