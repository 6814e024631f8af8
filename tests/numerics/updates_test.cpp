// Rotations, reflections and factor updates: the rotation cases, the
// column shift against R~'R~ = (R P)'(R P) with the rotations replayed on Z,
// reflections against their closed form, and the active-set factor
// against its triangular structure.
#include "numerics/updates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "platform/step_exit.h"
#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-13;  // orders up to 10, a few rotations per element

TEST(Zgivcon, RotationCases) {
    struct Case { double a, b, r, c, s; };
    for (const Case& t : {Case{3, 4, 5, 0.6, 0.8}, Case{-3, 4, 5, -0.6, 0.8}, Case{-4, 3, -5, 0.8, -0.6}}) {
        double a = t.a, b = t.b, c, s;
        zgivcon(&a, &b, &c, &s);
        EXPECT_NEAR(a, t.r, kTol);
        EXPECT_EQ(b, 0.0);
        EXPECT_NEAR(c, t.c, kTol);
        EXPECT_NEAR(s, t.s, kTol);
    }
    double a = 2, b = 0, c, s;
    zgivcon(&a, &b, &c, &s);
    EXPECT_EQ(a, 2.0);
    EXPECT_EQ(c, 1.0);
    EXPECT_EQ(s, 0.0);
    a = 0, b = -7;
    zgivcon(&a, &b, &c, &s);
    EXPECT_EQ(a, -7.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(c, 0.0);
    EXPECT_EQ(s, 1.0);
}

TEST(Zgivapl, StridesAndSpecialRotations) {
    std::vector<double> x = {1, 2, 3, 4}, y = {5, 6, 7, 8};
    const std::vector<double> x0 = x, y0 = y;
    zgivapl(4, 1, 1, 0.3, 0.0, x.data(), y.data());
    EXPECT_EQ(x, x0);
    EXPECT_EQ(y, y0);
    zgivapl(2, 1, 1, 0.0, 1.0, x.data(), y.data());
    EXPECT_EQ(x, (std::vector<double>{5, 6, 3, 4}));
    EXPECT_EQ(y, (std::vector<double>{-1, -2, 7, 8}));
    // Stride 2 in x, stride -1 in y (y taken from its far end).
    x = x0;
    y = y0;
    const double c = 0.6, s = 0.8;
    zgivapl(2, 2, -1, c, s, x.data(), y.data());
    EXPECT_NEAR(x[0], c * 1 + s * 6, kTol);
    EXPECT_NEAR(y[1], c * 6 - s * 1, kTol);
    EXPECT_NEAR(x[2], c * 3 + s * 5, kTol);
    EXPECT_NEAR(y[0], c * 5 - s * 3, kTol);
    EXPECT_EQ(x[1], 2.0);
}

// Random packed upper triangular R (R(i,j) at j(j+1)/2 + i) and its dense form.
void random_upper(int n, uint32_t seed, std::vector<double>* packed, vt::Dense* dense) {
    *dense = vt::random_dense(n, n, seed);
    packed->assign(n * (n + 1) / 2, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if (j < i) (*dense)[i * n + j] = 0.0;
            else (*packed)[j * (j + 1) / 2 + i] = (*dense)[i * n + j];
        }
}

vt::Dense dense_upper(const std::vector<double>& p, int n) {
    vt::Dense d(n * n, 0.0);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i <= j; ++i) d[i * n + j] = p[j * (j + 1) / 2 + i];
    return d;
}

TEST(Ztriprm, ShiftsRetriangulariseAndRotateZ) {
    const int n = 9;
    for (int job : {1, 2}) {
        for (auto [k, l] : {std::pair{0, 8}, std::pair{2, 5}, std::pair{3, 4}, std::pair{0, 1}}) {
            std::vector<double> r;
            vt::Dense rd;
            random_upper(n, 1300 + 10 * k + l, &r, &rd);
            // Column order after the shift.
            std::vector<int> order(n);
            std::iota(order.begin(), order.end(), 0);
            if (job == 1) std::rotate(order.begin() + k, order.begin() + l, order.begin() + l + 1);
            else std::rotate(order.begin() + k, order.begin() + k + 1, order.begin() + l + 1);
            vt::Dense rp(n * n);
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) rp[i * n + j] = rd[i * n + order[j]];
            vt::Dense z = rp;  // Z = R P: the rotations must carry it to R~
            std::vector<double> work(2 * n);
            ztriprm(job, n, n, n, k, l, r.data(), z.data(), work.data());
            const vt::Dense rt = dense_upper(r, n);
            const vt::Dense lhs = vt::matmul(vt::transpose(rt, n, n), rt, n, n, n);
            const vt::Dense rhs = vt::matmul(vt::transpose(rp, n, n), rp, n, n, n);
            EXPECT_LE(vt::max_abs_diff(lhs, rhs), kTol * n) << "job " << job << " k " << k << " l " << l;
            EXPECT_LE(vt::max_abs_diff(z, rt), kTol * n) << "job " << job << " k " << k << " l " << l;
        }
    }
}

TEST(Ztriprm, EmptyShiftIsAnInternalError) {
    std::vector<double> r(6, 1.0), work(6);
    try {
        ztriprm(1, 3, 0, 0, 2, 2, r.data(), nullptr, work.data());
        FAIL() << "no step exit";
    } catch (const velix::platform::StepExit& e) {
        EXPECT_EQ(e.code, 9999);
    }
}

TEST(Householder, ReflectionMatchesClosedForm) {
    const int n = 7, k = 2, ld = 3;
    vt::Dense x = vt::random_dense(n, ld, 1400);  // strided column 0
    const vt::Dense x0 = x;
    std::vector<double> u(n * (n + 1) / 2 + n, 0.0);
    double beta = 0.0;
    ASSERT_EQ(zhh1(x.data(), u.data(), &beta, k, ld, n), 0);
    double norm = 0.0;
    for (int i = k; i < n; ++i) norm += x0[i * ld] * x0[i * ld];
    EXPECT_NEAR(std::fabs(x[k * ld]), std::sqrt(norm), kTol);
    for (int i = k + 1; i < n; ++i) EXPECT_EQ(x[i * ld], 0.0);
    // zhh2 on the original vector reproduces zhh1's image; on another
    // vector it agrees with I - u u'/beta and keeps the norm.
    vt::Dense y = x0;
    ASSERT_EQ(zhh2(y.data(), u.data(), k, beta, ld, n), 0);
    for (int i = k; i < n; ++i) EXPECT_NEAR(y[i * ld], x[i * ld], kTol);
    const double* uk = u.data() + k * n - k * (k - 1) / 2;
    std::vector<double> v = vt::random_dense(1, n, 1401), v0 = v;
    ASSERT_EQ(zhh2(v.data(), u.data(), k, beta, 1, n), 0);
    double dot = 0.0;
    for (int i = k; i < n; ++i) dot += uk[i - k] * v0[i];
    for (int i = k; i < n; ++i) EXPECT_NEAR(v[i], v0[i] - uk[i - k] * dot / beta, kTol);
    for (int i = 0; i < k; ++i) EXPECT_EQ(v[i], v0[i]);
    // Zero range and zero beta.
    std::vector<double> zero(n, 0.0);
    EXPECT_EQ(zhh1(zero.data(), u.data(), &beta, 0, 1, n), 1);
    EXPECT_EQ(beta, 0.0);
    EXPECT_EQ(zhh2(v.data(), u.data(), k, 0.0, 1, n), 1);
}

// Active-set fixture of m constraint rows in n variables.
struct ActiveSet {
    int n, m;
    std::vector<double> rows, values, scratch, hh, beta;
    std::vector<int32_t> list;
    ProjNewtonBlock block;
    ProjNewtonWork work;
    ActiveSet(int n_, int m_, bool bounds)
        : n(n_), m(m_), rows(vt::random_dense(m_, n_, 1500)), values(m_), scratch(n_, 1.0),
          hh(n_ * (n_ + 1) / 2), beta(n_), list(std::max(n_, m_), -1) {
        for (int i = 0; i < m; ++i) values[i] = 10.0 + i;
        if (!bounds) std::iota(list.begin(), list.begin() + m, 100);
        block.n = n;
        block.boundsOnly = bounds ? 1 : 0;
        work.rows = rows.data();
        work.rowValue = values.data();
        work.scratch = scratch.data();
        work.hhStore = hh.data();
        work.hhBeta = beta.data();
        work.activeList = list.data();
    }
    // Every active row, reflected by all active reflections, has zeros
    // beyond its own position; returns the largest such element.
    double triangular_defect() const {
        double worst = 0.0;
        for (int r = 0; r < block.nact; ++r) {
            std::vector<double> v(rows.begin() + r * n, rows.begin() + (r + 1) * n);
            std::vector<double> u = hh;
            for (int j = 0; j < block.nact; ++j) zhh2(v.data(), u.data(), j, beta[j], 1, n);
            for (int i = r + 1; i < n; ++i) worst = std::max(worst, std::fabs(v[i]));
        }
        return worst;
    }
};

TEST(ActiveSetUpdates, AddAndDropKeepTheFactorTriangular) {
    ActiveSet s(6, 4, false);
    const vt::Dense original = s.rows;
    double out = 1.0;
    zconadd(&s.block, &s.work, 2, &out);  // row 2 moves to position 0
    EXPECT_EQ(out, 0.0);
    EXPECT_EQ(s.list[0], 102);
    EXPECT_EQ(s.list[2], 100);
    EXPECT_EQ(s.values[0], 12.0);
    for (int j = 0; j < 6; ++j) EXPECT_EQ(s.rows[j], original[2 * 6 + j]);
    zconadd(&s.block, &s.work, 1, &out);
    zconadd(&s.block, &s.work, 3, &out);
    ASSERT_EQ(s.block.nact, 3);
    EXPECT_LE(s.triangular_defect(), kTol);
    zcondrp(&s.block, &s.work, 0, &out);  // the last active row takes position 0
    ASSERT_EQ(s.block.nact, 2);
    EXPECT_EQ(s.list[0], 103);
    EXPECT_EQ(s.list[2], 102);
    EXPECT_LE(s.triangular_defect(), kTol);
}

TEST(ActiveSetUpdates, BoundsOnlyListAndMask) {
    ActiveSet s(5, 0, true);
    double out = 1.0;
    zconadd(&s.block, &s.work, 3, &out);
    zconadd(&s.block, &s.work, 1, &out);
    zconadd(&s.block, &s.work, 4, &out);
    EXPECT_EQ(s.block.nact, 3);
    EXPECT_EQ((std::vector<int32_t>(s.list.begin(), s.list.begin() + 4)), (std::vector<int32_t>{3, 1, 4, -1}));
    EXPECT_EQ(s.scratch, (std::vector<double>{1, 0, 1, 0, 0}));
    zcondrp(&s.block, &s.work, 1, &out);
    EXPECT_EQ((std::vector<int32_t>(s.list.begin(), s.list.begin() + 3)), (std::vector<int32_t>{3, 4, -1}));
    EXPECT_EQ(s.scratch[1], 1.0);
    try {
        zcondrp(&s.block, &s.work, 0, &out);
        FAIL() << "no step exit";
    } catch (const velix::platform::StepExit& e) {
        EXPECT_EQ(e.code, 9999);
    }
    zcondrp(&s.block, &s.work, 4, &out);
    // One active entry left: the list empties whatever index is given.
    zcondrp(&s.block, &s.work, 0, &out);
    EXPECT_EQ(s.block.nact, 0);
    EXPECT_EQ(s.list[0], -1);
}

TEST(LayoutMovers, PackInPlaceTrailingBlockAndExpand) {
    const int n = 5;
    const vt::Dense a = vt::random_symmetric(n, 1600);
    vt::Dense inplace = a;
    zmmovrs(inplace.data(), inplace.data(), 1, n, n);
    const std::vector<double> packed = vt::to_packed(a, n);
    for (size_t i = 0; i < packed.size(); ++i) EXPECT_EQ(inplace[i], packed[i]);
    // Trailing block of rows and columns 3 .. 5 (1-based).
    std::vector<double> tail(6);
    zmmovrs(a.data(), tail.data(), 3, n, n);
    EXPECT_EQ(tail, (std::vector<double>{a[2 * n + 2], a[3 * n + 2], a[3 * n + 3], a[4 * n + 2],
                                         a[4 * n + 3], a[4 * n + 4]}));
    vt::Dense full(n * n, -1.0);
    zmmovsr(packed.data(), full.data(), n);
    EXPECT_EQ(full, a);
}

TEST(LayoutMovers, ColswapExchangesRowsWithTheirEntries) {
    ActiveSet s(3, 3, false);
    const vt::Dense original = s.rows;
    const int32_t dims[2] = {3, 2};
    colswap(&s.work, dims, 0);
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(s.rows[j], original[6 + j]);
        EXPECT_EQ(s.rows[6 + j], original[j]);
    }
    EXPECT_EQ(s.values[0], 12.0);
    EXPECT_EQ(s.list[2], 100);
}

}  // namespace
