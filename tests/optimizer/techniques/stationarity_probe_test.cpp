// The probe of a convergence claim (znlpstn) on problems whose stationary
// points are known: f = x^2 + (y^2 - 1)^2 has minima at (0, +-1) and a
// saddle at (0, 0) (curvature -4 along y), a quadratic under a bound
// and under linear rows tells a held constraint by the sign of its
// multiplier, and a quadratic inside a circle has its minimum on it.
#include <cfloat>
#include <cmath>
#include <vector>

#include "optimizer/core/pending.h"
#include "tests/optimizer/core/constraint_fixture.h"
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

// A Gauss-Newton-like matrix of the saddle that does not see y at y = 0:
// diag(2, 8 y^2).
int32_t blind_matrix(NlpProblem* p) {
    p->hess.hessian[0] = 2.0;
    p->hess.hessian[1] = 0.0;
    p->hess.hessian[2] = 8.0 * p->param.x[1] * p->param.x[1];
    return 0;
}

class StationarityProbe : public NlpStep {
protected:
    // f and the gradient at x, as a claim leaves them.
    static void at(TestProblem* t, const std::vector<double>& x) {
        std::copy(x.begin(), x.end(), t->x.begin());
        t->p.run.evalPhase = kPhasePostConvergence;
        t->p.cb.objectiveFn(&t->p);
        t->p.cb.gradientFn(&t->p);
    }
    static constexpr double kRelative = 1e-8;
};

// The minimum is stationary; at the saddle the blind matrix finds g = 0,
// but is singular there, and the exact Hessian's curvature -4 makes the
// point no minimum: asked to, the probe leaves it downhill.
TEST_F(StationarityProbe, ASaddleIsNoMinimumWhereTheMatrixIsBlind) {
    TestProblem t({0.0, 1.0}, saddle, saddle_gradient);
    t.p.cb.hessianFn = blind_matrix;
    double m = -1;
    at(&t, {0.0, 1.0});
    EXPECT_EQ(znlpstn(&t.p, kRelative, 1, &m), 0);
    EXPECT_EQ(t.x[1], 1.0);
    at(&t, {0.0, 0.0});
    EXPECT_EQ(znlpstn(&t.p, kRelative, 0, &m), 2);
    EXPECT_EQ(t.x[1], 0.0);  // x and f as they were
    EXPECT_EQ(t.p.iter.f, 1.0);
    const int32_t r = znlpstn(&t.p, kRelative, 1, &m);
    EXPECT_TRUE(r == 1 || r == 4) << r;
    EXPECT_LT(t.p.iter.f, 1.0);
    EXPECT_NEAR(t.p.iter.f, saddle(t.x.data()), 1e-15);  // f and g of the new point
    EXPECT_NEAR(t.grad[1], 4 * t.x[1] * (t.x[1] * t.x[1] - 1), 1e-15);
}

// f = (x - 2)^2 + y^2 at (1, 0): held by an upper bound x <= 1 the point
// is the minimum (g_x = -2 points out of the box); at a lower bound x >= 1
// the same gradient points into it, whatever the technique held, and the
// point is none.
TEST_F(StationarityProbe, ABoundHoldsOnlyAgainstAnOutwardGradient) {
    for (const bool upper : {true, false}) {
        ConstrainedProblem c({1.0, 0.0}, [](const double* x) { return (x[0] - 2) * (x[0] - 2) + x[1] * x[1]; },
                             [](const double* x, double* g) { g[0] = 2 * (x[0] - 2), g[1] = 2 * x[1]; });
        c.p.cb.hessianFn = znlpfh4;
        c.set_bounds(upper ? std::vector<double>{-10, -10} : std::vector<double>{1, -10},
                     upper ? std::vector<double>{1, 10} : std::vector<double>{10, 10});
        c.state[0] = upper ? -1 : 1;  // the technique's choice
        c.p.active.nActiveBounds = 1;
        at(&c, {1.0, 0.0});
        double m = -1;
        EXPECT_EQ(znlpstn(&c.p, kRelative, 0, &m), upper ? 0 : 2) << upper;
    }
}

// f = x^2 + y^2 at (1, 1) on the row x + y >= 2: the multiplier 2 holds
// the row and the point is the minimum.  As x + y <= 2 (-x - y >= -2) the
// multiplier is -2: the row is left, and so is the point.
TEST_F(StationarityProbe, AnActiveRowHoldsOnlyWithItsMultipliersSign) {
    for (const double sign : {1.0, -1.0}) {
        ConstrainedProblem c({1.0, 1.0}, [](const double* x) { return x[0] * x[0] + x[1] * x[1]; },
                             [](const double* x, double* g) { g[0] = 2 * x[0], g[1] = 2 * x[1]; });
        c.p.cb.hessianFn = znlpfh4;
        c.set_rows({{sign, sign}}, {2 * sign}, 0);
        at(&c, {1.0, 1.0});
        c.p.run.startObjective = 2.0;  // f where the run started: 0 is within its rounding
        double m = -1;
        const int32_t r = znlpstn(&c.p, kRelative, 1, &m);
        if (sign > 0) {
            EXPECT_EQ(r, 0);
        } else {
            EXPECT_EQ(r, 1);  // one Newton step reaches (0, 0) inside the row
            EXPECT_NEAR(c.p.iter.f, 0.0, 1e-12);
        }
    }
}

// HS35's f at (2, 1, 0), on its row x1 + x2 + 2 x3 <= 3 and its bound
// x3 >= 0, both of which the technique holds: the multipliers (-2 and 0)
// let the probe leave both, and its Newton step (-1, 0, 1) crosses the
// row.  The ratio test spares the rows the technique holds, yet the steps
// keep the row (along the step it leaves at once there is no lower point),
// where they once ended at (1, 1, 1), 1 outside it.
TEST_F(StationarityProbe, StepsKeepTheRowsTheTechniqueHolds) {
    ConstrainedProblem c({2.0, 1.0, 0.0},
                         [](const double* x) {
                             return 9 - 8 * x[0] - 6 * x[1] - 4 * x[2] + 2 * x[0] * x[0] + 2 * x[1] * x[1] + x[2] * x[2] +
                                    2 * x[0] * x[1] + 2 * x[0] * x[2];
                         },
                         [](const double* x, double* g) {
                             g[0] = -8 + 4 * x[0] + 2 * x[1] + 2 * x[2];
                             g[1] = -6 + 4 * x[1] + 2 * x[0];
                             g[2] = -4 + 2 * x[2] + 2 * x[0];
                         });
    c.p.cb.hessianFn = znlpfh4;
    c.set_rows({{-1.0, -1.0, -2.0}}, {-3.0}, 0);
    c.set_bounds({0, 0, 0}, {DBL_MAX, DBL_MAX, DBL_MAX});
    c.active[0] = 0;  // the technique's choice
    c.p.active.nActiveLin = 1;
    c.state[2] = 1;
    c.p.active.nActiveBounds = 1;
    at(&c, {2.0, 1.0, 0.0});
    double m = -1;
    znlpstn(&c.p, kRelative, 1, &m);
    EXPECT_TRUE(c.feasible(1e-8)) << c.x[0] << " " << c.x[1] << " " << c.x[2];
    EXPECT_LE(c.p.iter.f, 1.0);
}

// f = x^2 + y^2 at (0.9, 0.9), outside the row x + y >= 2: the gradient
// is the row's multiple (multiplier 0.9), so the reduced gradient vanishes,
// but the point violates the row and is no solution; the step onto the row
// reaches the minimum (1, 1).
TEST_F(StationarityProbe, APointOutsideARowIsNoSolution) {
    ConstrainedProblem c({0.9, 0.9}, [](const double* x) { return x[0] * x[0] + x[1] * x[1]; },
                         [](const double* x, double* g) { g[0] = 2 * x[0], g[1] = 2 * x[1]; });
    c.p.cb.hessianFn = znlpfh4;
    c.set_rows({{1.0, 1.0}}, {2.0}, 0);
    double m = -1;
    at(&c, {0.9, 0.9});
    EXPECT_EQ(znlpstn(&c.p, kRelative, 0, &m), kProbeNotStationary);
    EXPECT_NEAR(m, 0.0, 1e-12);
    at(&c, {0.9, 0.9});
    EXPECT_EQ(znlpstn(&c.p, kRelative, 1, &m), kProbePolished);
    EXPECT_NEAR(c.x[0], 1.0, 1e-8);
    EXPECT_NEAR(c.x[1], 1.0, 1e-8);
}

// f = (x - 2)^2 + (y - 2)^2 inside the unit circle, 1 - x^2 - y^2 >= 0:
// the minimum (1, 1) / sqrt(2) on the circle, f* = (2 sqrt(2) - 1)^2, with
// multiplier 2 sqrt(2) - 1.  At a point of the circle at 40 degrees, and at
// one just outside it at 45, the reduced gradient of the Lagrange function
// or the violation says that the point is no solution; the probe's
// Newton-KKT steps, brought back onto the circle, reach a point that the
// measure finds stationary: f within the bound's 5e-9 |f| of the minimum
// (the decrement estimates twice the gap), on the circle within the
// feasibility tolerance.  At 45.001 degrees the point is 1.7e-5 from the
// minimum along the circle, its decrement 1.7e-9 (the curvature 4 sqrt(2)
// along the circle times the angle squared) within the bound 3.3e-8: the
// measure finds it stationary, but a point held by a constraint is taken
// on by Newton steps, and every point the probe moves ends at the minimum
// to the rounding of x.  At 45 degrees just inside the circle (1 - r^2 =
// 4e-5, within the margin that counts the circle active) the gradient is
// the circle's normal and the decrement on its null space 0, but x is not
// on it: f falls by the multiplier times 4e-5 on the way (a constrained
// simplex stopped there once, its claim standing 1.2e-5 above the
// minimum).
double circle_f(const double* x) { return (x[0] - 2) * (x[0] - 2) + (x[1] - 2) * (x[1] - 2); }
void circle_g(const double* x, double* g) { g[0] = 2 * (x[0] - 2), g[1] = 2 * (x[1] - 2); }
void circle_c(const double* x, double* c) { c[0] = 1 - x[0] * x[0] - x[1] * x[1]; }
void circle_j(const double* x, double* j) { j[0] = -2 * x[0], j[1] = -2 * x[1]; }

TEST(StationarityProbeNonlinear, ANonlinearConstraintIsFollowedToItsMinimum) {
    const Standard circle{"circle", {0.5, 0.5}, 0, nullptr, nullptr, -1, {}, {}, circle_f, circle_g, 0.0, false,
                          {}, {}, 0, 1, 0, circle_c, circle_j};
    const double pi = std::acos(-1.0), root = std::sqrt(0.5), fStar = (2 * std::sqrt(2.0) - 1) * (2 * std::sqrt(2.0) - 1);
    const struct {
        double degrees, radius;
        int32_t descend, result;
    } cases[] = {{45, 1, 1, kProbeStationary}, {40, 1, 0, kProbeNotStationary}, {40, 1, 1, kProbePolished},
                 {45, 1.001, 1, kProbePolished}, {45.001, 1, 1, kProbePolished},
                 {45, 0.99998, 0, kProbeNotStationary}, {45, 0.99998, 1, kProbePolished}};
    for (const auto& c : cases) {
        TechniqueProblem t(circle, kTechDualQuanew, false);
        const double a = c.degrees * pi / 180;
        t.x = {c.radius * std::cos(a), c.radius * std::sin(a)};
        t.p.run.evalPhase = kPhasePostConvergence;
        t.p.cb.objectiveFn(&t.p);
        t.p.cb.gradientFn(&t.p);
        t.p.cb.conValuesFn(&t.p);
        t.p.cb.conJacobianFn(&t.p);
        double m = -1;
        EXPECT_EQ(znlpstn(&t.p, 1e-8, c.descend, &m), c.result) << c.degrees << " " << c.radius;
        if (c.result != kProbePolished) continue;
        EXPECT_LE(m, 1e-8 * fStar) << c.degrees;
        EXPECT_NEAR(t.p.iter.f, fStar, 5e-9 * fStar) << c.degrees;
        // The steps end where the Newton step, which estimates the error,
        // moves x by at most sqrt(machine epsilon) of its size.
        EXPECT_NEAR(t.x[0], root, 1.5e-8 * root) << c.degrees;
        EXPECT_NEAR(t.x[1], root, 1.5e-8 * root) << c.degrees;
        EXPECT_NEAR(t.x[0] * t.x[0] + t.x[1] * t.x[1], 1.0, 1e-8) << c.degrees;
        EXPECT_EQ(t.p.con.conValues[0], 1 - t.x[0] * t.x[0] - t.x[1] * t.x[1]) << "the values of the new point";
        double g[2];
        circle_g(t.x.data(), g);
        EXPECT_NEAR(t.grad[0], g[0], 1e-12) << "the gradient of the new point";
    }
}

}  // namespace
