// NRRIDG on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Nrridg : public NlpStep {};

TEST_F(Nrridg, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechNrridg, s, false));
}

TEST_F(Nrridg, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechNrridg, s, false));
}

// On a quadratic with its exact Hessian the model predicts the reduction
// exactly: rho is 1.
TEST_F(Nrridg, RatioOfReductionsIsOneOnAQuadratic) {
    TechniqueProblem t(ellipse(), kTechNrridg, true);
    EXPECT_GE(run_driver(&t), kNlpAbsConv);
    EXPECT_NEAR(t.p.iter.rho, 1.0, 1e-10);
}

}  // namespace
