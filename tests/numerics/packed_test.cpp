// Packed symmetric kernels against their defining identities (inverse times
// A = I, L L' = A, L y = b), LAPACK's dpotrf and the small closed-form cases.
#include "numerics/packed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

// Relative tolerance for well-conditioned random matrices up to order 60;
// a few hundred roundings.
constexpr double kTol = 1e-11;

TEST(Coschin, ClosedFormTwoByTwoAndEmpty) {
    std::vector<double> a = {4, 2, 3};
    double det[2];
    ASSERT_EQ(coschin(2, 0.0, det, a.data()), 0);
    EXPECT_DOUBLE_EQ(det[0], 8.0);
    EXPECT_EQ(det[1], 0.0);
    EXPECT_DOUBLE_EQ(a[0], 0.375);
    EXPECT_DOUBLE_EQ(a[1], -0.25);
    EXPECT_DOUBLE_EQ(a[2], 0.5);
    EXPECT_EQ(coschin(0, 0.0, det, a.data()), 0);
    EXPECT_EQ(det[0], 1.0);
    EXPECT_EQ(det[1], 0.0);
}

TEST(Coschin, DeterminantPairNormalisation) {
    double det[2];
    double a = 12345.0;
    ASSERT_EQ(coschin(1, 0.0, det, &a), 0);
    EXPECT_NEAR(det[0], 1.2345, 1e-15);
    EXPECT_EQ(det[1], 4.0);
    a = 0.004;
    ASSERT_EQ(coschin(1, 0.0, det, &a), 0);
    EXPECT_NEAR(det[0], 4.0, 1e-14);
    EXPECT_EQ(det[1], -3.0);
    // A pivot near the largest double still normalises (no endless loop).
    a = 1.5e308;
    ASSERT_EQ(coschin(1, 0.0, det, &a), 0);
    EXPECT_NEAR(det[0], 1.5, 1e-12);
    EXPECT_EQ(det[1], 308.0);
}

// Rank 3 of order 4 with an exactly zero third pivot: B B' with row 2 of B
// the sum of rows 0 and 1.
std::vector<double> third_pivot_zero() { return {1, 1, 5, 2, 6, 8, 0, 2, 2, 2}; }

TEST(Coschin, SingularAndNonPositivePivots) {
    std::vector<double> a = third_pivot_zero();
    double det[2];
    EXPECT_EQ(coschin(4, 0.0, det, a.data()), -3);
    EXPECT_EQ(det[0], 0.0);
    EXPECT_EQ(det[1], 0.0);
    // A negative tolerance does not let a zero or negative pivot through.
    a = third_pivot_zero();
    EXPECT_EQ(coschin(4, -1.0, det, a.data()), -3);
    a = {-2.0};
    EXPECT_EQ(coschin(1, -5.0, det, a.data()), -1);
    // The blocked form (from order 80) names the same row: row 80 of a
    // definite matrix with its diagonal cleared has a negative pivot.
    const int n = 100;
    a = vt::to_packed(vt::random_spd(n, 190), n);
    a[vt::pk(80, 80)] = 0.0;
    EXPECT_EQ(coschin(n, -1.0, det, a.data()), -81);
    EXPECT_EQ(det[0], 0.0);
}

TEST(Coschin, RandomInverseAndDeterminantAgreeWithLapack) {
    // From order 80 the factor and the inverse run in blocks.
    for (int n : {1, 2, 5, 20, 60, 80, 150}) {
        const vt::Dense a = vt::random_spd(n, 100 + n);
        std::vector<double> p = vt::to_packed(a, n);
        double det[2];
        ASSERT_EQ(coschin(n, 0.0, det, p.data()), 0) << "n=" << n;
        const double err = vt::identity_error(vt::from_packed(p, n), a, n);
        EXPECT_LE(err, kTol * n) << "n=" << n << " worst |inv(A) A - I|";
        vt::Dense f = a;
        int info = 0;
        dpotrf_("U", &n, f.data(), &n, &info);
        ASSERT_EQ(info, 0);
        double logdet = 0.0;
        for (int i = 0; i < n; ++i) logdet += 2.0 * std::log10(f[i * n + i]);
        EXPECT_NEAR(vt::pair_log10(det), logdet, 1e-12 * n) << "n=" << n;
        EXPECT_GE(std::fabs(det[0]), 1.0);
        EXPECT_LT(std::fabs(det[0]), 10.0);
    }
}

TEST(Coscdec, FactorMatchesLapackAndLogDeterminant) {
    for (int n : {1, 3, 17, 50}) {
        const vt::Dense a = vt::random_spd(n, 200 + n);
        std::vector<double> p = vt::to_packed(a, n);
        double logdet = 1.0;
        ASSERT_EQ(coscdec(n, 0.0, &logdet, p.data()), 0);
        vt::Dense f = a;  // column-major lower factor = row-major upper
        int info = 0;
        dpotrf_("U", &n, f.data(), &n, &info);
        ASSERT_EQ(info, 0);
        double worst = 0.0, ref = 0.0;
        for (int i = 0; i < n; ++i) {
            ref += 2.0 * std::log(f[i * n + i]);
            for (int j = 0; j <= i; ++j)
                worst = std::max(worst, std::fabs(p[vt::pk(i, j)] - f[i * n + j]));
        }
        EXPECT_LE(worst, kTol * n) << "n=" << n << " worst |L - L_lapack|";
        EXPECT_NEAR(logdet, ref, 1e-12 * n);
    }
    double logdet = 1.0;
    std::vector<double> empty;
    EXPECT_EQ(coscdec(0, 0.0, &logdet, empty.data()), 0);
    EXPECT_EQ(logdet, 0.0);
}

TEST(Coscdec, RankDeficientFactorAndSolve) {
    std::vector<double> p = third_pivot_zero();
    double logdet = 0.0;
    ASSERT_EQ(coscdec(4, 0.0, &logdet, p.data()), -1);
    EXPECT_EQ(logdet, -708.3964185);
    EXPECT_EQ(p[vt::pk(2, 2)], 0.0);
    EXPECT_EQ(p[vt::pk(3, 2)], 0.0);
    // The usable factor still reproduces the matrix: L L' = A.
    const vt::Dense l = vt::lower_from_packed(p, 4);
    const vt::Dense llt = vt::matmul(l, vt::transpose(l, 4, 4), 4, 4, 4);
    EXPECT_LE(vt::max_abs_diff(llt, vt::from_packed(third_pivot_zero(), 4)), 1e-14);
    // A right-hand side in the range of A: b = A x0.
    const vt::Dense a = vt::from_packed(third_pivot_zero(), 4);
    const vt::Dense x0 = {1, -1, 0, 2};
    std::vector<double> b = vt::matmul(a, x0, 4, 4, 1);
    ASSERT_EQ(coscsol(4, 1, p.data(), b.data()), 1);
    EXPECT_EQ(b[2], 0.0);
    EXPECT_LE(vt::max_abs_diff(vt::matmul(a, b, 4, 4, 1), vt::matmul(a, x0, 4, 4, 1)), 1e-13);
    // Three right-hand sides, one negligible pivot each: 3 / 3.
    std::vector<double> b3(12, 1.0);
    EXPECT_EQ(coscsol(4, 3, p.data(), b3.data()), 1);
    EXPECT_EQ(coscsol(4, 0, p.data(), b3.data()), 0);
    // The count is per right-hand side: every one meets the same negligible
    // pivots, so two of them give 2 whatever m is (6 / 3 with three).
    const vt::Dense d = {4, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<double> f = vt::to_packed(d, 3);
    ASSERT_EQ(coscdec(3, 0.0, &logdet, f.data()), -2);
    std::vector<double> one(3, 1.0);
    EXPECT_EQ(coscsol(3, 1, f.data(), one.data()), 2);
    EXPECT_EQ(one, (std::vector<double>{0.25, 0.0, 0.0}));
    std::vector<double> three(9, 1.0);
    EXPECT_EQ(coscsol(3, 3, f.data(), three.data()), 2);
    EXPECT_EQ(coscinv(4, p.data()), 1);
}

TEST(Coscdec, SolveAndInverseOnRandomMatrices) {
    for (int n : {1, 4, 30}) {
        const vt::Dense a = vt::random_spd(n, 300 + n);
        std::vector<double> p = vt::to_packed(a, n);
        double logdet;
        ASSERT_EQ(coscdec(n, 0.0, &logdet, p.data()), 0);
        const int m = 3;
        const vt::Dense x0 = vt::random_dense(m, n, 7);
        // b_k = A x0_k, right-hand side k at k*n.
        vt::Dense b = vt::transpose(vt::matmul(a, vt::transpose(x0, m, n), n, n, m), n, m);
        ASSERT_EQ(coscsol(n, m, p.data(), b.data()), 0);
        EXPECT_LE(vt::max_abs_diff(b, x0), kTol * n) << "n=" << n << " worst |x - x0|";
        ASSERT_EQ(coscinv(n, p.data()), 0);
        EXPECT_LE(vt::identity_error(vt::from_packed(p, n), a, n), kTol * n) << "n=" << n;
    }
}

TEST(Substitution, ForwardAndBackwardWithGeneralDiagonal) {
    const int n = 12;
    vt::Dense l = vt::random_dense(n, n, 11);
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) l[i * n + j] = 0.0;
        l[i * n + i] = (i % 2 ? -1.0 : 1.0) * (1.0 + i);  // signs vary
    }
    const std::vector<double> p = vt::to_packed(l, n);
    const vt::Dense x0 = vt::random_dense(2, n, 12);
    vt::Dense b = vt::transpose(vt::matmul(l, vt::transpose(x0, 2, n), n, n, 2), n, 2);
    ASSERT_EQ(cosfsub(n, 2, 1e-12, p.data(), b.data()), 0);
    EXPECT_LE(vt::max_abs_diff(b, x0), kTol);
    const vt::Dense lt = vt::transpose(l, n, n);
    b = vt::transpose(vt::matmul(lt, vt::transpose(x0, 2, n), n, n, 2), n, 2);
    ASSERT_EQ(cosbsub(n, 2, 1e-12, p.data(), b.data()), 0);
    EXPECT_LE(vt::max_abs_diff(b, x0), kTol);
}

TEST(Substitution, SmallDiagonalIsZeroedAndCounted) {
    // L = [[2, 0], [1, 1e-9]]: the second diagonal is below tol 1e-6.
    const std::vector<double> p = {2, 1, 1e-9};
    std::vector<double> b = {4, 5, 4, 5, 4, 5};
    EXPECT_EQ(cosfsub(2, 3, 1e-6, p.data(), b.data()), 1);
    EXPECT_EQ(b[0], 2.0);
    EXPECT_EQ(b[1], 0.0);
    b = {4, 5};
    EXPECT_EQ(cosbsub(2, 1, 1e-6, p.data(), b.data()), 1);
    EXPECT_EQ(b[1], 0.0);
    EXPECT_EQ(b[0], 2.0);
    // The tolerance test is strict: |d| == tol is used.
    b = {4, 5};
    EXPECT_EQ(cosfsub(2, 1, 1e-9, p.data(), b.data()), 0);
    EXPECT_EQ(cosfsub(2, 0, 1e-6, p.data(), b.data()), 0);
}

TEST(TraceProducts, AgreeWithDenseTrace) {
    const int n = 9;
    const vt::Dense x = vt::random_symmetric(n, 21);
    const vt::Dense y = vt::random_symmetric(n, 22);
    const vt::Dense g = vt::random_dense(n, n, 23);  // non-symmetric dense
    double t1 = 0.0, t2 = 0.0;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k) {
            t1 += x[i * n + k] * y[k * n + i];
            t2 += x[i * n + k] * g[k * n + i];
        }
    const std::vector<double> px = vt::to_packed(x, n), py = vt::to_packed(y, n);
    EXPECT_NEAR(cosinnc(n, px.data(), py.data()), t1, 1e-13);
    EXPECT_NEAR(cosinn2(n, px.data(), g.data()), t2, 1e-13);
    EXPECT_EQ(cosinnc(0, px.data(), py.data()), 0.0);
    EXPECT_EQ(cosinn2(0, px.data(), g.data()), 0.0);
}

TEST(Givcon1, RotationCases) {
    double a = 3, b = 4, c, s;
    givcon1(&a, &b, &c, &s);
    EXPECT_NEAR(a, 5.0, 1e-15);
    EXPECT_EQ(b, 0.0);
    EXPECT_NEAR(c, 0.6, 1e-15);
    EXPECT_NEAR(s, 0.8, 1e-15);
    a = -4, b = 3;
    givcon1(&a, &b, &c, &s);
    EXPECT_NEAR(a, 5.0, 1e-15);
    EXPECT_NEAR(c, -0.8, 1e-15);
    EXPECT_NEAR(s, 0.6, 1e-15);
    EXPECT_NEAR(c * -4 + s * 3, 5.0, 1e-15);
    a = 0, b = 0;
    givcon1(&a, &b, &c, &s);
    EXPECT_EQ(c, 1.0);
    EXPECT_EQ(s, 0.0);
    EXPECT_EQ(a, 0.0);
}

// R'R of a packed R' (which is a lower factor in PackedSym order).
vt::Dense rtr(const std::vector<double>& r, int p) {
    const vt::Dense lt = vt::lower_from_packed(r, p);  // R' as dense lower
    return vt::matmul(lt, vt::transpose(lt, p, p), p, p, p);
}

TEST(CholeskyUpdate, UpdateThenDowndateRestores) {
    const int p = 8, nz = 2;
    const vt::Dense a = vt::random_spd(p, 31);
    std::vector<double> r = vt::to_packed(a, p);
    double logdet;
    ASSERT_EQ(coscdec(p, 0.0, &logdet, r.data()), 0);  // L = R'
    const std::vector<double> r0 = r;
    const vt::Dense x = vt::random_dense(1, p, 32);
    vt::Dense z = vt::random_dense(p, nz, 33);
    const vt::Dense z0 = z;
    const std::vector<double> y = {0.3, -0.7};
    std::vector<double> rho = {0.5, 1.5};
    std::vector<double> c(p), s(p);
    coscupd(p, nz, nz, r.data(), x.data(), z.data(), y.data(), rho.data(), c.data(), s.data());
    // R~'R~ = R'R + x x'.
    vt::Dense expect = a;
    for (int i = 0; i < p; ++i)
        for (int j = 0; j < p; ++j) expect[i * p + j] += x[i] * x[j];
    EXPECT_LE(vt::max_abs_diff(rtr(r, p), expect), kTol);
    for (int i = 0; i < p; ++i) EXPECT_GE(r[vt::pk(i, i)], 0.0);
    // R~'Z~ = R'Z + x y'.
    const vt::Dense lt0 = vt::lower_from_packed(r0, p), lt1 = vt::lower_from_packed(r, p);
    vt::Dense rz = vt::matmul(lt0, z0, p, p, nz);
    for (int i = 0; i < p; ++i)
        for (int j = 0; j < nz; ++j) rz[i * nz + j] += x[i] * y[j];
    EXPECT_LE(vt::max_abs_diff(vt::matmul(lt1, z, p, p, nz), rz), kTol);
    // Back again with the downdate.
    ASSERT_EQ(coscdod(p, nz, nz, r.data(), x.data(), z.data(), y.data(), rho.data(), c.data(),
                      s.data()),
              0);
    EXPECT_LE(vt::max_abs_diff(r, r0), kTol);
    EXPECT_LE(vt::max_abs_diff(z, z0), kTol);
    EXPECT_NEAR(rho[0], 0.5, kTol);
    EXPECT_NEAR(rho[1], 1.5, kTol);
}

TEST(CholeskyUpdate, DowndateLimits) {
    // R = (2): x = 2 solves to norm exactly 1 and proceeds; x = 2.5 fails.
    std::vector<double> r = {2.0};
    double x = 2.0, c, s;
    EXPECT_EQ(coscdod(1, 0, 1, r.data(), &x, nullptr, nullptr, nullptr, &c, &s), 0);
    EXPECT_EQ(r[0], 0.0);
    r = {2.0};
    x = 2.5;
    EXPECT_EQ(coscdod(1, 0, 1, r.data(), &x, nullptr, nullptr, nullptr, &c, &s), -1);
    EXPECT_EQ(r[0], 2.0);
    // A zero diagonal cannot be downdated.
    r = {0.0};
    x = 0.0;
    EXPECT_EQ(coscdod(1, 0, 1, r.data(), &x, nullptr, nullptr, nullptr, &c, &s), -1);
    // A residual norm smaller than the part removed is zeroed with result 1.
    r = {4.0};
    x = 1.0;
    double z = 0.0, y = 3.0, rho = 1.0;
    EXPECT_EQ(coscdod(1, 1, 1, r.data(), &x, &z, &y, &rho, &c, &s), 1);
    EXPECT_EQ(rho, 0.0);
}

}  // namespace
