// NRLINS on the standard problems.
#include <cmath>

#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Nrlins : public NlpStep {};

TEST_F(Nrlins, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechNrlins, s, false));
}

TEST_F(Nrlins, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechNrlins, s, false));
}

// Linear rows (equalities and inequalities) with bounds, from feasible
// starts: every tested point feasible, f never rising.
TEST_F(Nrlins, SolvesLinearlyConstrainedProblems) {
    for (const Standard& s : linear_problems()) EXPECT_TRUE(minimises(kTechNrlins, s, false));
}

// On a quadratic with its exact Hessian the model predicts the reduction
// exactly: rho is 1.
TEST_F(Nrlins, RatioOfReductionsIsOneOnAQuadratic) {
    TechniqueProblem t(ellipse(), kTechNrlins, true);
    EXPECT_GE(run_driver(&t), kNlpAbsConv);
    EXPECT_NEAR(t.p.iter.rho, 1.0, 1e-10);
}

// The GCONV2 test of a least-squares objective (the procedure's) reads
// the technique's scaled measure: a block that arrives with it at 0 (as
// after the start phase) still runs to the minimum instead of stopping on
// GCONV2 after its first step (where a quadratic's reduced gradient
// vanishes exactly, GCONV2 may end the run there).
TEST_F(Nrlins, AScaledMeasureLeftAtZeroDoesNotEndTheRun) {
    for (const Standard& s : linear_problems()) {
        TechniqueProblem t(s, kTechNrlins, false);
        t.p.iter.scaledGradMax = 0.0;
        t.p.shape.leastSquares = 1;
        const int32_t status = run_direct(&t);
        EXPECT_GE(status, kNlpAbsConv) << s.name;
        EXPECT_NEAR(t.p.iter.f, s.fMin, 1e-6 * (1.0 + std::fabs(s.fMin))) << s.name;
    }
}

}  // namespace
