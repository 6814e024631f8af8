// The factor kinds against their defining identities: A = L L' or L D L'
// with the log-determinant, solves that give back the right-hand side,
// the inverse, diagonal pivoting and the in-place permutation; failing
// pivots are marked and reported by their position.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "optimizer/core/factor_kinds.h"
#include "platform/step_exit.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "velix/packed_index.h"

namespace {

using Vec = std::vector<double>;

// A = [[4, 2, 1], [2, 5, 3], [1, 3, 6]] packed lower by rows.
const Vec kA = {4, 2, 5, 1, 3, 6};

Vec times(const Vec& a, const Vec& x) {
    Vec y(3, 0.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) y[i] += a[i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i] * x[j];
    return y;
}

TEST(FactorKinds, WorkedExamplesOfTheKernels) {
    double logdet = 0;
    Vec f(3);
    ASSERT_EQ(lltdec(2, 0.0, &logdet, Vec{4, 2, 5}.data(), f.data()), 0);
    EXPECT_EQ(f, (Vec{2, 1, 2}));
    EXPECT_NEAR(logdet, std::log(16.0), 1e-14);
    // A singular matrix fails at row 2 with a negative mark.
    EXPECT_EQ(lltdec(2, 1e-8, &logdet, Vec{1, 1, 1}.data(), f.data()), 2);
    EXPECT_EQ(f[2], -2e-8);
    EXPECT_EQ(logdet, -708.3964185);
    // Diagonal pivoting brings the larger entry first.
    std::vector<int32_t> perm(3);
    Vec a = {1, 0, 4};
    ASSERT_EQ(lltde2(2, 0.0, perm.data(), &logdet, a.data()), 0);
    EXPECT_EQ(perm[0], 1);
    EXPECT_EQ(a[0], 2.0);
    EXPECT_EQ(a[2], 1.0);
    Vec diag(3);
    ASSERT_EQ(lltcd2(3, perm.data(), 0.0, Vec{1, 9, 4}.data(), diag.data()), 0);
    EXPECT_EQ(diag, (Vec{3, 2, 1}));
    EXPECT_EQ(perm, (std::vector<int32_t>{1, 2, 0}));
    // The ridged tridiagonal factor fails where the pivot vanishes.
    Vec l(2), c(2);
    EXPECT_EQ(znlpcd3(2, 1e-8, Vec{1, 1}.data(), Vec{0, 1}.data(), l.data(), c.data()), 2);
}

TEST(FactorKinds, EveryDenseKindSolvesAndMultipliesConsistently) {
    velix::test::TestProblem t({0, 0, 0}, [](const double*) { return 0.0; });
    std::vector<int32_t> perm(3);
    t.p.active.pivotOrder = perm.data();
    const Vec b = {1.0, -2.0, 0.5};
    for (int32_t kind : {1, 2, 4}) {
        Vec a = kA, f(6);
        double logdet = 0;
        ASSERT_EQ(znlpcde(&t.p, kind, 3, 1e-12, &logdet, a.data(), f.data()), 0) << kind;
        EXPECT_NEAR(logdet, std::log(67.0), 1e-12) << kind;  // det A = 67
        Vec x = b;
        ASSERT_EQ(znlpcso(&t.p, kind, 3, f.data(), x.data()), 0);
        const Vec back = times(kA, x);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], b[i], 1e-13) << kind;
        // A v = L (L' v), and the triangular solves undo the products.
        Vec v = b, w = b;
        znlpmmu(&t.p, kind, 3, f.data(), v.data());
        const Vec av = times(kA, b);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[i], av[i], 1e-13) << kind;
        znlpumu(&t.p, kind, 3, f.data(), w.data());
        ASSERT_EQ(znlpium(&t.p, kind, 3, f.data(), w.data()), 0);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(w[i], b[i], 1e-13) << kind;
    }
    Vec inv = kA;
    ASSERT_EQ(znlpcin(&t.p, 2, 3, 0.0, inv.data(), inv.data()), 0);
    const Vec e0 = times(kA, times(inv, {1, 0, 0}));
    EXPECT_NEAR(e0[0], 1.0, 1e-14);
    EXPECT_NEAR(e0[1], 0.0, 1e-14);
    // The diagonal kind.
    Vec d = {4.0}, fd(1), rhs = {8.0};
    ASSERT_EQ(znlpcde(&t.p, 3, 1, 0.0, nullptr, d.data(), fd.data()), 0);
    ASSERT_EQ(znlpcso(&t.p, 3, 1, fd.data(), rhs.data()), 0);
    EXPECT_EQ(rhs[0], 2.0);
}

// A platform step catches the internal-error line of the refused kind.
struct FactorKindsStep : velix::test::NlpStep {};

TEST_F(FactorKindsStep, AutomaticKindAndRefusedInverse) {
    velix::test::TestProblem t({0, 0}, [](const double*) { return 0.0; });
    Vec a = {4, 0, 9}, f(3);
    double logdet = 0;
    ASSERT_EQ(znlpcde(&t.p, 0, 2, 0.0, &logdet, a.data(), f.data()), 0);
    EXPECT_EQ(f, (Vec{2, 0, 3}));  // kind 2 without bounds or rows
    std::vector<int32_t> perm(2);
    t.p.active.pivotOrder = perm.data();
    t.p.shape.hasBounds = 1;
    EXPECT_THROW(znlpcin(&t.p, 0, 2, 0.0, a.data(), f.data()), velix::platform::StepExit);
    EXPECT_NE(log().find("internal error: znlpcin"), std::string::npos);
    // The free-parameter sparse kind only decomposes and solves.
    EXPECT_THROW(znlpilm(&t.p, 7, 2, f.data(), a.data()), velix::platform::StepExit);
}

TEST(FactorKinds, PermutationThereAndBack) {
    std::vector<int32_t> perm = {2, 0, 3, 1};
    Vec v = {10, 11, 12, 13};
    znlpprm(0, 4, perm.data(), v.data());
    EXPECT_EQ(v, (Vec{12, 10, 13, 11}));
    znlpprm(1, 4, perm.data(), v.data());
    EXPECT_EQ(v, (Vec{10, 11, 12, 13}));
    EXPECT_EQ(perm, (std::vector<int32_t>{2, 0, 3, 1}));
}

// A singular A = a a' + b b' (rank 2 of 3): the factor fails at pivot 3,
// with and without pivoting, and the null vector from it satisfies A z = 0.
TEST(FactorKinds, NullVectorOfASingularFactor) {
    const double a[] = {1, 2, 3}, b[] = {0, 1, 1};
    Vec m(6);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) m[velix::pk(i, j)] = a[i] * a[j] + b[i] * b[j];
    for (bool pivoted : {false, true}) {
        Vec f(6), z(3);
        std::vector<int32_t> perm(3);
        double logdet = 0.0;
        if (pivoted) {
            f = m;
            ASSERT_EQ(lltde2(3, 1e-10, perm.data(), &logdet, f.data()), 3);
        } else {
            ASSERT_EQ(lltdec(3, 1e-10, &logdet, m.data(), f.data()), 3);
        }
        ASSERT_EQ(znlpsbs(3, 3, pivoted ? perm.data() : nullptr, f.data(), z.data()), 0);
        double worst = 0.0;
        for (int i = 0; i < 3; ++i) {
            double r = 0.0;
            for (int j = 0; j < 3; ++j) r += m[velix::pk(i, j)] * z[j];
            worst = std::fmax(worst, std::fabs(r));
        }
        EXPECT_LE(worst, 1e-12) << pivoted;
        EXPECT_GE(std::fabs(z[0]) + std::fabs(z[1]) + std::fabs(z[2]), 1.0) << pivoted;
    }
}

// The estimate is exact for a diagonal and for the unit bidiagonal with
// -1 below the diagonal (T^-1 has ones on and below it: condition 2 x 2).
TEST(FactorKinds, ConditionEstimateOfATriangularFactor) {
    double work[2];
    const double diag[] = {1.0, 0.0, 1e-3}, bidiag[] = {1.0, -1.0, 1.0};
    EXPECT_DOUBLE_EQ(znlptrc(0, 2, diag, work), 1000.0);
    EXPECT_DOUBLE_EQ(znlptrc(0, 2, bidiag, work), 4.0);
    EXPECT_DOUBLE_EQ(znlptrc(1, 2, bidiag, work), 4.0);
    EXPECT_EQ(znlptrc(0, 0, diag, work), 0.0);
}

}  // namespace
