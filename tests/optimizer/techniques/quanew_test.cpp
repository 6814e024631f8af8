// QUANEW, primal and dual, with the BFGS and DFP updates on the standard
// problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Quanew : public NlpStep {};

TEST_F(Quanew, PrimalBfgsMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechQuanew, s, false));
}

TEST_F(Quanew, DfpUpdatesMinimiseTheStandardProblems) {
    for (const Standard& s : standard_problems()) {
        EXPECT_TRUE(minimises(kTechQuanew, s, false, 1e-6, kUpdateDfp));
        EXPECT_TRUE(minimises(kTechDualQuanew, s, false, 1e-6, kUpdateDfp));
    }
}

// The start matrix from the Hessian at the start point, and a given
// INHESSIAN multiple of the identity.
TEST_F(Quanew, StartMatrixOptions) {
    for (int32_t technique : {kTechQuanew, kTechDualQuanew}) {
        TechniqueProblem fromHessian(standard_problems()[0], technique, false);
        fromHessian.p.opt.startFromHessian = 1;
        const int32_t status = run_driver(&fromHessian);
        EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << status;
        EXPECT_NEAR(fromHessian.p.iter.f, 0.0, 1e-6);
        EXPECT_GE(fromHessian.p.run.nHess, 1);
        TechniqueProblem given(standard_problems()[3], technique, false);
        given.p.opt.inHessian = 1000.0;
        given.p.opt.claimsUnchecked = 1;  // no check of the claim with a Hessian either
        EXPECT_GE(run_driver(&given), kNlpAbsConv);
        EXPECT_NEAR(given.p.iter.f, 0.0, 1e-6);
        EXPECT_EQ(given.p.run.nHess, 0);
    }
}

// RESTART 1 starts the matrix again every iteration: on x^2 + 100 y^2 the
// method falls back to scaled steepest descent and needs many more
// iterations than the two or three quasi-Newton needs.  INHESSIAN keeps
// the start matrix a multiple of the identity (the automatic one, scaled
// by the sizes of x, would itself approach the Newton step here).
TEST_F(Quanew, RestartOptionStartsTheMatrixAgain) {
    double iterations[2];
    for (int32_t k : {0, 1}) {
        TechniqueProblem t(ellipse(), kTechQuanew, false);
        t.p.opt.inHessian = 1.0;
        if (k == 1) t.p.opt.restart = 1.0;
        EXPECT_GE(run_driver(&t), kNlpAbsConv);
        EXPECT_NEAR(t.p.iter.f, 0.0, 1e-6);
        iterations[k] = t.p.run.iteration;
    }
    EXPECT_GT(iterations[1], 2 * iterations[0]);
}

TEST_F(Quanew, DualBfgsMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechDualQuanew, s, false));
}

TEST_F(Quanew, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechQuanew, s, false));
}

TEST_F(Quanew, DualHoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechDualQuanew, s, false));
}

}  // namespace
