// Feasible start points on random boxes and polytopes with a known
// interior point, from infeasible starts; an empty polytope; and the
// least-squares step on the active manifold against closed forms.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "host/fields.h"
#include "tests/optimizer/core/constraint_fixture.h"

namespace {

using namespace velix::test;

// A random box around x* and rows a x >= b with slack (nEq of them
// equalities through x*), started far from x*.
void random_problem(ConstrainedProblem& c, std::mt19937& rng, int32_t nRows, int32_t nEq) {
    std::normal_distribution<double> z;
    std::uniform_real_distribution<double> u(0.2, 2.0);
    const int32_t n = c.n();
    std::vector<double> xs(static_cast<size_t>(n)), l(xs), up(xs);
    for (int32_t i = 0; i < n; ++i) {
        xs[i] = 3.0 * z(rng);
        l[i] = xs[i] - u(rng);
        up[i] = xs[i] + u(rng);
        c.x[i] = xs[i] + 5.0 * z(rng);
    }
    c.set_bounds(l, up);
    std::vector<std::vector<double>> a(static_cast<size_t>(nRows), std::vector<double>(static_cast<size_t>(n)));
    std::vector<double> b(static_cast<size_t>(nRows));
    for (int32_t k = 0; k < nRows; ++k) {
        double ax = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            a[k][i] = z(rng);
            ax += a[k][i] * xs[i];
        }
        b[k] = k < nEq ? ax : ax - u(rng);
    }
    c.set_rows(a, b, nEq);
}

// 200 random problems in the dense form (forms 0 and 1), or in the sparse
// form with the columns in memory or on a utility file.  Result: how many
// were made feasible.
int32_t random_starts(int32_t form, bool onFile) {
    std::mt19937 rng(7);
    int32_t found = 0;
    for (int32_t trial = 0; trial < 200; ++trial) {
        const int32_t n = 2 + trial % 7;
        ConstrainedProblem c(std::vector<double>(static_cast<size_t>(n), 0.0));
        c.p.opt.technique = trial % 2 ? kTechQuanew : kTechNrridg;
        random_problem(c, rng, trial % 4 == 0 ? 0 : 1 + trial % n, trial % 3 == 0 ? std::min(1, n - 1) : 0);
        if (c.p.shape.nLinCon == 0) c.p.shape.hasLinCon = 0;
        c.p.opt.conFactorForm = form;
        if (onFile) {
            ScratchFileRequest request;
            request.attributeWord = 0x82000008;
            EXPECT_EQ(xcopen(&c.p.opt.conFactorFile, &request), 0);
        }
        const std::vector<double> start = c.x;
        const int32_t r = form == 2 ? znlpfer(&c.p) : znlpfea(&c.p, 2);
        if (c.p.opt.conFactorFile != nullptr) xcclose(c.p.opt.conFactorFile, 1);
        if (r < 0) {
            EXPECT_EQ(std::memcmp(c.x.data(), start.data(), sizeof(double) * start.size()), 0);
            continue;
        }
        found += 1;
        const double tol = c.p.opt.feasTol * std::pow(10.0, c.p.run.feasRound);
        EXPECT_TRUE(c.feasible(tol)) << "trial " << trial << " result " << r;
        // A second call from the feasible point changes nothing (the rows
        // form checks at the tolerance it was left with).
        const std::vector<double> moved = c.x;
        if (form != 2) c.p.run.feasRound = 0;
        if (r != 3) {
            EXPECT_EQ(form == 2 ? znlpfer(&c.p) : znlpfea(&c.p, 2), 0);
            EXPECT_EQ(c.x, moved);
        }
    }
    return found;
}

struct FeasibleStartSteps : velix::test::NlpStep {};

TEST_F(FeasibleStartSteps, RandomBoxesAndPolytopesFromInfeasibleStarts) {
    EXPECT_EQ(random_starts(1, false), 200);
    EXPECT_EQ(random_starts(0, false), 200);
    // The rows form has no descent fall-back; a constraint violated already
    // does not stop its steps (stopping there left 53 of these feasible
    // problems without a start point).
    const int32_t rows = random_starts(2, false);
    EXPECT_GE(rows, 195);
    EXPECT_EQ(random_starts(2, true), rows);
}

TEST(FeasibleStart, EmptyPolytopeRestoresTheStartBitForBit) {
    for (int32_t form : {1, 2}) {
        ConstrainedProblem c({0.1 / 3.0, -7.25});
        c.set_rows({{1, 1}, {-1, -1}}, {3, -1}, 0);
        c.p.opt.conFactorForm = form;
        const std::vector<double> start = c.x;
        EXPECT_EQ(form == 2 ? znlpfer(&c.p) : znlpfea(&c.p, 2), -2);
        EXPECT_EQ(std::memcmp(c.x.data(), start.data(), sizeof(double) * 2), 0);
    }
}

// The widening of the tolerance ends after its rounds whatever the base
// tolerance (a negative one never reaches the last round's size), and at
// once when the run's time is up.
TEST(FeasibleStart, WideningEndsWithANegativeToleranceOrAtTheTimeLimit) {
    for (double maxTime : {1e300, -1.0}) {
        ConstrainedProblem c({0.1 / 3.0, -7.25});
        c.set_rows({{1, 1}, {-1, -1}}, {3, -1}, 0);
        c.p.opt.conFactorForm = 1;
        c.p.opt.feasTol = -1.0;
        c.p.opt.maxTime = maxTime;
        EXPECT_EQ(znlpfea(&c.p, 2), -2) << maxTime;
        EXPECT_LE(c.p.run.feasRound, 10) << maxTime;
    }
}

// Searches that raise the tolerance on their way to a point that meets
// the constraints at LCEPS itself: the run is left LCEPS, not the raised
// tolerance.  In the dense form from (-3.48578, 4.75853, 2.68988), outside
// HS35's bound x1 >= 0 and its row x1 + x2 + 2 x3 <= 3 (raised twice); in
// the sparse form from (12.1885, 38.8788, 15.7018, 10.8611), outside
// HS76's rows (raised once).
TEST(FeasibleStart, ASearchLeavesTheToleranceItsPointMeets) {
    const struct {
        int32_t form;
        std::vector<double> x0, rhs;
        std::vector<std::vector<double>> rows;
    } cases[] = {{1, {-3.48578, 4.75853, 2.68988}, {-3}, {{-1, -1, -2}}},
                 {2, {12.1885, 38.8788, 15.7018, 10.8611}, {-5, -4, 1.5}, {{-1, -2, -1, -1}, {-3, -1, -2, 1}, {0, 1, 4, 0}}}};
    for (const auto& k : cases) {
        ConstrainedProblem c(k.x0);
        c.set_rows(k.rows, k.rhs, 0);
        c.set_bounds(std::vector<double>(k.x0.size(), 0.0), std::vector<double>(k.x0.size(), DBL_MAX));
        c.p.opt.conFactorForm = k.form;
        EXPECT_GT(k.form == 2 ? znlpfer(&c.p) : znlpfea(&c.p, 2), 0) << k.form;
        EXPECT_EQ(c.p.run.feasRound, 0) << k.form;
        EXPECT_TRUE(c.feasible(c.p.opt.feasTol)) << k.form;
    }
}

TEST(FeasibleStart, BoundsOnlyAndFixedParameters) {
    // Coinciding bounds fix x1 at 2: result 1 and only x1 moves.
    ConstrainedProblem c({0.0, 0.5});
    c.set_bounds({2.0, 0.0}, {2.0, 1.0});
    EXPECT_EQ(znlpfea(&c.p, 2), 1);
    EXPECT_EQ(c.x, (std::vector<double>{2.0, 0.5}));
    // The driver's call moves a violated parameter into its box.
    c.set_bounds({-1.0, 0.0}, {3.0, 1.0});
    c.x = {0.0, 2.0};
    EXPECT_EQ(znlpfea(&c.p, 2), 1);
    EXPECT_TRUE(c.x[1] >= 0.0 && c.x[1] <= 1.0);
}

struct LeastSquaresStep : ::testing::Test {
    ConstrainedProblem c{{5.0, -3.0, 2.0}};
    std::vector<double> w = std::vector<double>(6, 0.0);
};

TEST_F(LeastSquaresStep, NoConstraintsGivesMinusGOverSigma) {
    const std::vector<double> g = {1.0, -4.0, 0.5};
    EXPECT_EQ(znlplcq(&c.p, 1, 1, 2.0, g.data(), nullptr, w.data()), 0);
    EXPECT_EQ(c.x, (std::vector<double>{-0.5, 2.0, -0.25}));
    EXPECT_EQ(znlplcq(&c.p, 1, 1, host_missing_value(), g.data(), nullptr, w.data()), -1);
    // With a Hessian: H x = -g.
    const std::vector<double> h = {2.0, 0.0, 4.0, 0.0, 0.0, 1.0};
    EXPECT_EQ(znlplcq(&c.p, 1, 1, 0.0, g.data(), h.data(), w.data()), 0);
    EXPECT_NEAR(c.x[0], -0.5, 1e-15);
    EXPECT_NEAR(c.x[1], 1.0, 1e-15);
    EXPECT_NEAR(c.x[2], -0.5, 1e-15);
}

TEST_F(LeastSquaresStep, OneEqualityGivesTheMinimumNormPoint) {
    // a'x = b with x3 held at its bound 2: the free part is the minimum-norm
    // point of a_F x_F = b - a3 * 2.
    c.set_rows({{1, 2, 3}}, {10}, 1);
    c.set_bounds({-9, -9, 2}, {9, 9, 2});
    EXPECT_EQ(znlplcq(&c.p, 0, 0, 1.0, nullptr, nullptr, w.data()), 0);
    EXPECT_NEAR(c.x[0], 4.0 / 5.0, 1e-14);
    EXPECT_NEAR(c.x[1], 8.0 / 5.0, 1e-14);
    EXPECT_EQ(c.x[2], 2.0);
    // No gradient and no Hessian: the multipliers are 0.
    EXPECT_EQ(c.mult[0], 0.0);
    EXPECT_EQ(c.mult[1], 0.0);
}

TEST_F(LeastSquaresStep, RankDeficientReducedHessian) {
    // H = diag(1, 1, 0) without constraints: rank 2, the last component 0.
    const std::vector<double> h = {1.0, 0.0, 1.0, 0.0, 0.0, 0.0};
    c.dir = {-1.0, -2.0, -3.0};
    EXPECT_EQ(lsolv(&c.p, 1, h.data(), w.data()), 1);
    EXPECT_EQ(c.dir, (std::vector<double>{-1.0, -2.0, 0.0}));
    // All parameters held: x is the vector of bounds.
    c.set_bounds({1, 2, 3}, {1, 2, 3});
    EXPECT_EQ(znlplcq(&c.p, 1, 0, 1.0, nullptr, nullptr, w.data()), 0);
    EXPECT_EQ(c.x, (std::vector<double>{1.0, 2.0, 3.0}));
}

}  // namespace

namespace {

double distance_to_three(const double* x) { return (x[0] - 3) * (x[0] - 3) + (x[1] - 3) * (x[1] - 3); }
void distance_gradient(const double* x, double* g) {
    g[0] = 2 * (x[0] - 3);
    g[1] = 2 * (x[1] - 3);
}

struct DriverStart : velix::test::NlpStep {};

TEST_F(DriverStart, InfeasibleStartMovedAndTheOwnersFactorRebuilt) {
    // x1 + x2 <= 1 from (2, 2) with the temporary work memory of a problem
    // without a factor of its own: the owner's arrays are back after the
    // search and hold the factor of the active row and its multiplier.
    velix::test::ConstrainedProblem c({2.0, 2.0}, distance_to_three, distance_gradient);
    c.p.out.kyrObject = manager_;
    c.set_rows({{-1.0, -1.0}}, {-1.0}, 0);
    c.p.opt.conFactorForm = 0;
    c.p.opt.technique = kTechNone;
    double* const basis = c.p.active.nullBasis;
    ASSERT_GE(znlpdrv(&c.p, 1, 0, 0, 0), 0);
    EXPECT_TRUE(c.feasible(1e-8));
    EXPECT_NE(log().find("moved"), std::string::npos) << log();
    EXPECT_EQ(c.p.active.nullBasis, basis);
    ASSERT_EQ(c.p.active.nActiveLin, 1);
    // On the row the gradient is -lambda a: lambda = -2 (x1 - 3) > 0.
    EXPECT_NEAR(c.mult[0], -2.0 * (c.x[0] - 3.0), 1e-10);
    velix::test::expect_factor_consistent(c, 1e-14);
}

}  // namespace
