// QUANEW with nonlinear constraints (sequential quadratic programming) and
// VMCWD (the same with the watchdog) on the Hock-Schittkowski problems with
// nonlinear and linear constraints, and VMCWD without constraints; the
// ridged Newton program of NRRIDG, TRUREG and LEVMAR under linear rows.
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
        t.p.active.multipliers = mult.data();
        t.p.active.activeList = active.data();
        ASSERT_GE(run_direct(&t), kNlpAbsConv);
        const double expected[] = {1, 0, 2};
        for (int32_t k = 0; k < t.p.active.nActiveLin; ++k) EXPECT_NEAR(mult[k], expected[active[k]], 1e-5) << k;
        EXPECT_EQ(t.p.active.nActiveNlin, t.p.active.nActiveLin);
        EXPECT_GE(t.p.active.nActiveLin, 2);
        // FCONV2 ends the run on a predicted change below 1e-6: the Lagrange
        // gradient is then of the order of its square root times B.
        EXPECT_LE(t.p.iter.lagrangeGradMax, 1e-4);
    }
}

// Linear rows in QUANEW (both forms) and VMCWD (the quasi-Newton program)
// and in NRRIDG, TRUREG and LEVMAR (the ridged Newton program): the optimum
// of each problem, every tested point feasible, f never rising (but with
// the watchdog).
TEST_F(Sqp, LinearRowsInTheQuasiNewtonAndNewtonTechniques) {
    for (int32_t technique : {kTechQuanew, kTechDualQuanew, kTechVmcwd, kTechNrridg, kTechTrureg, kTechLevmar})
        for (const Standard& s : linear_problems()) EXPECT_TRUE(minimises(technique, s, false, 1e-8));
}

// A least-squares problem's GCONV2 and LEVMAR's GCONV tests read measures
// of their own: under linear rows the Newton-type techniques keep them
// current, so that a value left from before the run (0 here) ends nothing.
TEST_F(Sqp, LeastSquaresMeasuresAreTheRunsOwn) {
    for (int32_t technique : {kTechNrlins, kTechNrridg, kTechTrureg, kTechLevmar})
        for (const Standard& s : linear_problems()) {
            TechniqueProblem t(s, technique, false);
            t.p.shape.leastSquares = 1;
            t.p.iter.scaledGradMax = 0.0;
            t.p.iter.lmGconvMeasure = 0.0;
            EXPECT_GE(run_direct(&t), kNlpAbsConv) << s.name << " " << technique;
            EXPECT_NEAR(t.p.iter.f, s.fMin, 1e-6 * (1 + std::fabs(s.fMin))) << s.name << " " << technique;
        }
}

// HS35's row multiplier 2/9, the bounds free at the solution.
TEST_F(Sqp, LinearRowMultiplier) {
    for (int32_t technique : {kTechQuanew, kTechNrridg}) {
        TechniqueProblem t(linear_problems()[3], technique, false);
        std::vector<double> mult(8, -1.0);
        std::vector<int32_t> active(8, -1);
        t.p.active.multipliers = mult.data();
        t.p.active.activeList = active.data();
        ASSERT_GE(run_direct(&t), kNlpAbsConv);
        ASSERT_EQ(t.p.active.nActiveBounds, 0);
        ASSERT_EQ(t.p.active.nActiveLin, 1);
        EXPECT_EQ(active[0], 0);
        EXPECT_NEAR(mult[0], 2.0 / 9, 1e-6);
    }
}

TEST_F(Sqp, VmcwdMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechVmcwd, s, false));
}

}  // namespace
