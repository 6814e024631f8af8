// Cholesky variants: bordering against LAPACK's dpotrf, substitutions
// solving L L' x = b, the blocked factor against the row-by-row one, and
// the modified Cholesky against its defining identity
// L L' = P'(A + diag(E)) P on definite, indefinite and zero matrices.
#include "numerics/cholesky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-11;  // relative, random matrices up to order 40
const double kDefaultTol = std::exp(std::log(1.110223024625157e-16) / 3.0);

TEST(Zchol, BorderingBuildsTheLapackFactor) {
    const int n = 25;
    const vt::Dense a = vt::random_spd(n, 1000);
    std::vector<double> p = vt::to_packed(a, n);
    for (int k = 0; k < n; ++k) EXPECT_GT(zchol(k, p.data(), 0.0), 0.0);
    vt::Dense f = a;
    int info = 0;
    dpotrf_("U", &n, f.data(), &n, &info);
    ASSERT_EQ(info, 0);
    double worst = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) worst = std::max(worst, std::fabs(p[vt::pk(i, j)] - f[i * n + j]));
    EXPECT_LE(worst, kTol) << "worst |L - L_lapack|";
    // zchol2 then zbaksub solve L L' x = b.
    const std::vector<double> x0 = vt::random_dense(1, n, 1001);
    std::vector<double> b = vt::matmul(a, x0, n, n, 1);
    zchol2(n, p.data(), b.data());
    zbaksub(n, p.data(), b.data());
    EXPECT_LE(vt::max_abs_diff(b, x0), kTol);
}

TEST(Zchol, FirstRowAndNonPositivePivots) {
    std::vector<double> a = {9.0};
    EXPECT_EQ(zchol(0, a.data(), 0.0), 9.0);
    EXPECT_EQ(a[0], 3.0);
    a = {1e-9};
    EXPECT_EQ(zchol(0, a.data(), 1e-8), 1e-9);
    EXPECT_EQ(a[0], 0.0);
    // [[1, 2], [2, 1]]: second pivot -3, stored 0.0 even with tol below it.
    a = {1, 2, 1};
    EXPECT_EQ(zchol(0, a.data(), -10.0), 1.0);
    EXPECT_EQ(zchol(1, a.data(), -10.0), -3.0);
    EXPECT_EQ(a[2], 0.0);
    // A zero diagonal makes the substitutions give 0.0 for that component.
    const std::vector<double> l = {2, 1, 0};
    std::vector<double> b = {4, 5};
    zchol2(2, l.data(), b.data());
    EXPECT_EQ(b[0], 2.0);
    EXPECT_EQ(b[1], 0.0);
    b = {4, 5};
    zbaksub(2, l.data(), b.data());
    EXPECT_EQ(b[1], 0.0);
    EXPECT_EQ(b[0], 2.0);
}

TEST(Gersch, NegatedLowerBounds) {
    const vt::Dense a = {4, -1, 2, -1, 3, 0.5, 2, 0.5, -1};
    const std::vector<double> p = vt::to_packed(a, 3);
    std::vector<double> g(3, 99.0);
    gersch(3, 0, p.data(), g.data());
    EXPECT_DOUBLE_EQ(g[0], 3 - 4.0);
    EXPECT_DOUBLE_EQ(g[1], 1.5 - 3.0);
    EXPECT_DOUBLE_EQ(g[2], 2.5 + 1.0);
    g.assign(3, 99.0);
    gersch(3, 1, p.data(), g.data());
    EXPECT_EQ(g[0], 99.0);
    EXPECT_DOUBLE_EQ(g[1], 0.5 - 3.0);
    EXPECT_DOUBLE_EQ(g[2], 0.5 + 1.0);
}

// max |L L' - P'(A + diag(E))P|.
double modified_identity_error(const vt::Dense& a, const std::vector<double>& f,
                               const std::vector<int32_t>& perm, const std::vector<double>& e, int n) {
    const vt::Dense l = vt::lower_from_packed(f, n);
    const vt::Dense llt = vt::matmul(l, vt::transpose(l, n, n), n, n, n);
    double w = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double target = a[perm[i] * n + perm[j]] + (i == j ? e[i] : 0.0);
            w = std::max(w, std::fabs(llt[i * n + j] - target));
        }
    return w;
}

TEST(Zmchol, PositiveDefiniteNeedsNoShift) {
    const int n = 12;
    const vt::Dense a = vt::random_spd(n, 1100, 2.0);
    std::vector<double> f = vt::to_packed(a, n), e(n, 7.0), g(n);
    std::vector<int32_t> perm(n);
    EXPECT_EQ(zmchol(n, perm.data(), 0.0, 0.0, f.data(), e.data(), g.data()), 0.0);
    for (double v : e) EXPECT_EQ(v, 0.0);
    EXPECT_LE(modified_identity_error(a, f, perm, e, n), kTol);
    int largest = 0;
    for (int i = 1; i < n; ++i)
        if (a[i * n + i] > a[largest * n + largest]) largest = i;
    EXPECT_EQ(perm[0], largest);
}

TEST(Zmchol, IndefiniteMatricesGetAPositiveDefiniteShift) {
    for (int n : {2, 3, 10, 40}) {
        const vt::Dense a = vt::random_symmetric(n, 1200 + n);
        std::vector<double> f = vt::to_packed(a, n), e(n), g(n);
        std::vector<int32_t> perm(n);
        const double delta = zmchol(n, perm.data(), 0.0, 0.0, f.data(), e.data(), g.data());
        EXPECT_GT(delta, 0.0) << "n=" << n;
        double emax = 0.0;
        for (int i = 0; i < n; ++i) {
            EXPECT_GE(e[i], 0.0);
            emax = std::max(emax, e[i]);
            EXPECT_GT(f[vt::pk(i, i)], 0.0) << "n=" << n << " diagonal " << i;
        }
        EXPECT_EQ(emax, delta);
        EXPECT_LE(modified_identity_error(a, f, perm, e, n), kTol * n) << "n=" << n;
        std::vector<int> seen(n, 0);
        for (int v : perm) ++seen[v];
        for (int s : seen) EXPECT_EQ(s, 1);
    }
}

TEST(Zmchol, SmallAndZeroMatrices) {
    std::vector<double> a = {-2.0}, e(3), g(3);
    std::vector<int32_t> perm(3);
    const double shift = zmchol(1, perm.data(), 0.0, 0.0, a.data(), e.data(), g.data());
    EXPECT_NEAR(shift, 2.0 * (1.0 + kDefaultTol), 1e-15);
    // -2 + 2(1 + tol2) cancels: about 1e-16 / 1e-5 relative error in the root.
    EXPECT_NEAR(a[0], std::sqrt(2.0 * kDefaultTol), 1e-12);
    a.assign(6, 0.0);
    zmchol(3, perm.data(), 0.0, 0.0, a.data(), e.data(), g.data());
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(a[vt::pk(i, i)], std::sqrt(1.491668147e-154));
    EXPECT_EQ(zmchol(0, perm.data(), 0.0, 0.0, a.data(), e.data(), g.data()), 0.0);
}

// A matrix scaled by a power of two s has the factor sqrt(s) L and the
// shifts s E, bit for bit: nothing in the method depends on the scale.
// Far from 1 a square of an element leaves the doubles (1e-170 gave a NaN
// factor, 1e160 an infinite shift) unless the code avoids forming it.
TEST(Zmchol, ScaledMatricesGiveTheScaledFactor) {
    for (int n : {2, 3, 10, 40})
        for (const vt::Dense& a : {vt::random_symmetric(n, 1300 + n), vt::random_spd(n, 1400 + n)}) {
            std::vector<double> f = vt::to_packed(a, n), e(n), g(n);
            std::vector<int32_t> perm(n);
            const double delta = zmchol(n, perm.data(), 0.0, 0.0, f.data(), e.data(), g.data());
            for (int power : {-1000, -564, 532, 1000}) {
                const double s = std::ldexp(1.0, power), root = std::ldexp(1.0, power / 2);
                std::vector<double> fs = vt::to_packed(a, n), es(n), gs(n);
                for (double& v : fs) v *= s;
                std::vector<int32_t> perms(n);
                const double deltas = zmchol(n, perms.data(), 0.0, 0.0, fs.data(), es.data(), gs.data());
                ASSERT_EQ(perms, perm) << "n=" << n << " scale 2^" << power;
                EXPECT_EQ(deltas, delta * s) << "n=" << n << " scale 2^" << power;
                for (int i = 0; i < n; ++i) EXPECT_EQ(es[i], e[i] * s) << "n=" << n << " scale 2^" << power;
                for (size_t k = 0; k < f.size(); ++k)
                    EXPECT_EQ(fs[k], f[k] * root) << "n=" << n << " scale 2^" << power << " element " << k;
            }
        }
}

// The row-by-row factor the blocked one replaced: every L(i, j) one inner
// product of two packed rows.
bool row_by_row(int n, const std::vector<double>& a, double shift, double floor, std::vector<double>& l) {
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = a[vt::pk(i, j)] + (i == j ? shift : 0.0);
            for (int t = 0; t < j; ++t) s -= l[vt::pk(i, t)] * l[vt::pk(j, t)];
            if (j < i) {
                l[vt::pk(i, j)] = s / l[vt::pk(j, j)];
            } else {
                if (!(s > floor)) return false;
                l[vt::pk(i, i)] = std::sqrt(s);
            }
        }
    return true;
}

TEST(PackedCholesky, AgreesWithTheRowByRowFactorAcrossBlocks) {
    // Orders below, at and across the 64-row block, shifted and not.
    for (int n : {1, 3, 63, 64, 65, 130, 261}) {
        const std::vector<double> a = vt::to_packed(vt::random_spd(n, 2000 + n), n);
        for (double shift : {0.0, 0.75}) {
            std::vector<double> l(a.size()), ref(a.size());
            ASSERT_TRUE(row_by_row(n, a, shift, 0.0, ref));
            ASSERT_TRUE(velix::detail::packed_cholesky(n, a.data(), shift, 0.0, l.data()));
            const double scale = vt::max_abs(ref);
            EXPECT_LE(vt::max_abs_diff(l, ref), 1e-12 * scale) << "n=" << n << " shift=" << shift;
        }
    }
}

TEST(PackedCholesky, StopsAtTheSamePivot) {
    // Row 100 (second block) made indefinite: both fail, with the floor
    // judged before the square root; a floor above the smallest pivot of
    // a definite matrix fails it too.
    const int n = 150;
    std::vector<double> a = vt::to_packed(vt::random_spd(n, 2100), n);
    std::vector<double> l(a.size()), ref(a.size());
    a[vt::pk(100, 100)] = 0.0;
    EXPECT_FALSE(row_by_row(n, a, 0.0, 0.0, ref));
    EXPECT_FALSE(velix::detail::packed_cholesky(n, a.data(), 0.0, 0.0, l.data()));
    a[vt::pk(100, 100)] = 1e6;
    EXPECT_TRUE(velix::detail::packed_cholesky(n, a.data(), 0.0, 0.0, l.data()));
    double smallest = HUGE_VAL;
    for (int i = 0; i < n; ++i) smallest = std::min(smallest, l[vt::pk(i, i)] * l[vt::pk(i, i)]);
    EXPECT_FALSE(velix::detail::packed_cholesky(n, a.data(), 0.0, 1.01 * smallest, l.data()));
    EXPECT_TRUE(velix::detail::packed_cholesky(n, a.data(), 0.0, 0.99 * smallest, l.data()));
}

}  // namespace

TEST(PackedFactorInverse, InvertsAcrossBlocksInPlaceWithinItsWork) {
    // Orders below, at and across the 64-row block; the work ends in a
    // guard that must stay untouched.
    constexpr double kGuard = -12345.0;
    for (int n : {1, 5, 64, 65, 130, 200}) {
        const vt::Dense a = vt::random_spd(n, 2200 + n);
        std::vector<double> l = vt::to_packed(a, n), inv(l.size());
        ASSERT_TRUE(velix::detail::packed_cholesky(n, l.data(), 0.0, 0.0, l.data())) << "n=" << n;
        const size_t size = static_cast<size_t>(velix::detail::packed_inverse_work(n));
        std::vector<double> work(size + 8, kGuard);
        velix::detail::packed_factor_inverse(n, l.data(), inv.data(), work.data());
        EXPECT_LE(vt::identity_error(vt::from_packed(inv, n), a, n), kTol * n) << "n=" << n;
        for (size_t k = size; k < work.size(); ++k) ASSERT_EQ(work[k], kGuard) << "n=" << n;
        velix::detail::packed_factor_inverse(n, l.data(), l.data(), work.data());
        EXPECT_EQ(l, inv) << "n=" << n << ": in place differs";
    }
}
