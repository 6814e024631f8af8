// QUANEW with nonlinear constraints (sequential quadratic programming) and
// VMCWD (the same with the watchdog) on the Hock-Schittkowski problems with
// nonlinear, linear and bound constraints, and VMCWD without constraints.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Sqp : public NlpStep {};

TEST_F(Sqp, SolvesTheNonlinearlyConstrainedProblems) {
    for (const Standard& s : nonlinear_problems()) {
        EXPECT_TRUE(minimises(kTechDualQuanew, s, false, 1e-8));
        EXPECT_TRUE(minimises(kTechVmcwd, s, false, 1e-8));
    }
}

// HS43's multipliers (1, 0, 2) of its three inequalities, all three active
// at the solution though the second's multiplier vanishes.
TEST_F(Sqp, LeavesTheMultipliers) {
    for (int32_t technique : {kTechDualQuanew, kTechVmcwd}) {
        TechniqueProblem t(nonlinear_problems()[1], technique, false);
        std::vector<double> mult(8, -1.0);
        std::vector<int32_t> active(8, -1);
        t.p.multipliers = mult.data();
        t.p.activeList = active.data();
        ASSERT_GE(run_direct(&t), kNlpAbsConv);
        const double expected[] = {1, 0, 2};
        for (int32_t k = 0; k < t.p.nActiveLin; ++k) EXPECT_NEAR(mult[k], expected[active[k]], 1e-5) << k;
        EXPECT_EQ(t.p.nActiveNlin, t.p.nActiveLin);
        EXPECT_GE(t.p.nActiveLin, 2);
        // FCONV2 ends the run on a predicted change below 1e-6: the Lagrange
        // gradient is then of the order of its square root times B.
        EXPECT_LE(t.p.lagrangeGradMax, 1e-4);
    }
}

TEST_F(Sqp, SolvesTheBoundAndLinearProblems) {
    for (int32_t technique : {kTechVmcwd}) {
        for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(technique, s, false));
        for (const Standard& s : linear_problems()) EXPECT_TRUE(minimises(technique, s, false));
    }
}

TEST_F(Sqp, VmcwdMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechVmcwd, s, false));
}

}  // namespace
