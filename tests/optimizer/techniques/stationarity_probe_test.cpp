// The probe of a convergence claim (znlpstn) on problems whose stationary
// points are known: f = x^2 + (y^2 - 1)^2 has minima at (0, +-1) and a
// saddle at (0, 0) (curvature -4 along y), and a quadratic under a bound
// and under linear rows tells a held constraint by the sign of its
// multiplier.
#include <cmath>
#include <vector>

#include "optimizer/core/pending.h"
#include "tests/optimizer/core/constraint_fixture.h"

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
    static constexpr double kRelative = 1e-8, kFloor = 1e-12;
};

// The minimum is stationary; at the saddle the blind matrix finds g = 0,
// but is singular there, and the exact Hessian's curvature -4 makes the
// point no minimum: asked to, the probe leaves it downhill.
TEST_F(StationarityProbe, ASaddleIsNoMinimumWhereTheMatrixIsBlind) {
    TestProblem t({0.0, 1.0}, saddle, saddle_gradient);
    t.p.cb.hessianFn = blind_matrix;
    double m = -1;
    at(&t, {0.0, 1.0});
    EXPECT_EQ(znlpstn(&t.p, kRelative, kFloor, 1, &m), 0);
    EXPECT_EQ(t.x[1], 1.0);
    at(&t, {0.0, 0.0});
    EXPECT_EQ(znlpstn(&t.p, kRelative, kFloor, 0, &m), 2);
    EXPECT_EQ(t.x[1], 0.0);  // x and f as they were
    EXPECT_EQ(t.p.iter.f, 1.0);
    const int32_t r = znlpstn(&t.p, kRelative, kFloor, 1, &m);
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
        EXPECT_EQ(znlpstn(&c.p, kRelative, kFloor, 0, &m), upper ? 0 : 2) << upper;
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
        double m = -1;
        const int32_t r = znlpstn(&c.p, kRelative, kFloor, 1, &m);
        if (sign > 0) {
            EXPECT_EQ(r, 0);
        } else {
            EXPECT_EQ(r, 1);  // one Newton step reaches (0, 0) inside the row
            EXPECT_NEAR(c.p.iter.f, 0.0, 1e-12);
        }
    }
}

}  // namespace
