// The post-convergence steps on f = x^2 + (y^2 - 1)^2, whose stationary
// point (0, 0) is a saddle (curvature -4 along y) above the minima (0, +-1).
#include <cmath>
#include <vector>

#include "optimizer/core/finite_differences.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/pending.h"
#include "tests/optimizer/core/constraint_fixture.h"
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;


class PostConvergence : public NlpStep {
protected:
    void start(TestProblem* t, int32_t technique) {
        t->p.opt.technique = technique;
        t->p.cb.hessianFn = znlpfh4;
        t->p.cb.lineSearchFn = znlp_line_search(2);
        t->p.cb.updateFn = znlpbfg;
        t->p.run.evalPhase = kPhasePostConvergence;
        t->p.cb.objectiveFn(&t->p);
        t->p.cb.gradientFn(&t->p);
    }
};

TEST_F(PostConvergence, PerturbationFindsTheDescentFromASaddle) {
    TestProblem t({0.0, 0.0}, saddle, saddle_gradient);
    start(&t, kTechQuanew);
    EXPECT_EQ(znlpnoi(&t.p, 1), 0);  // no perturbation size: nothing
    t.p.opt.perturbSize = 1e-3;
    EXPECT_NE(znlpnoi(&t.p, 1), 0);
    EXPECT_LT(t.p.iter.f, 1.0);
    EXPECT_DOUBLE_EQ(t.x[0], 0.0);
    EXPECT_NEAR(std::fabs(t.x[1]), 1e-3, 1e-15);
    EXPECT_NEAR(t.grad[1], 4 * t.x[1] * (t.x[1] * t.x[1] - 1), 1e-15);  // the gradient is current
}

TEST_F(PostConvergence, PerturbationKeepsAMinimum) {
    TestProblem t({0.0, 1.0}, saddle, saddle_gradient);
    start(&t, kTechQuanew);
    t.p.opt.perturbSize = 1e-3;
    EXPECT_EQ(znlpnoi(&t.p, 1), 0);
    EXPECT_EQ(t.x[1], 1.0);
    EXPECT_EQ(t.p.iter.f, 0.0);
}

TEST_F(PostConvergence, NegativeCurvatureStepLeavesTheSaddle) {
    TestProblem t({0.0, 0.0}, saddle, saddle_gradient);
    start(&t, kTechNewrap);
    EXPECT_EQ(znlpdnc(&t.p, 1), 0);
    EXPECT_LT(t.p.iter.f, 1.0);
    EXPECT_NEAR(t.dir[0], 0.0, 1e-6);  // along the eigenvector of -4
    EXPECT_NEAR(std::fabs(t.dir[1]), 1.0, 1e-6);
    // A quasi-Newton technique has no Hessian to take it from; at a
    // minimum there is no negative curvature.
    TestProblem q({0.0, 0.0}, saddle, saddle_gradient);
    start(&q, kTechQuanew);
    EXPECT_EQ(znlpdnc(&q.p, 1), -1);
    TestProblem m({0.0, 1.0}, saddle, saddle_gradient);
    start(&m, kTechNewrap);
    EXPECT_EQ(znlpdnc(&m.p, 1), -1);
    EXPECT_EQ(m.x[1], 1.0);
}

// On the row y = x the saddle stays one (curvature -2 along (1, 1)): a
// perturbation of one coordinate leaves the row and is no candidate, the
// step of negative curvature keeps to it, also after a technique that
// keeps its own factor of the rows (NRLINS) left the block.
TEST_F(PostConvergence, StepsAfterConvergenceKeepToTheLinearRows) {
    std::vector<double> row = {1.0, -1.0}, rhs = {0.0};
    for (int32_t technique : {kTechNrlins, kTechNewrap}) {
        TestProblem t({0.0, 0.0}, saddle, saddle_gradient);
        start(&t, technique);
        t.p.shape.hasLinCon = 1;
        t.p.shape.nLinCon = t.p.shape.nLinEq = 1;
        t.p.con.linRows = row.data();
        t.p.con.linRhs = rhs.data();
        t.p.opt.perturbSize = 1e-3;
        // NRLINS publishes the row as active; the core's factor of it is
        // not built.
        ActiveSetArrays arrays(&t.p);
        if (technique == kTechNrlins) {
            t.p.active.nActiveLin = 1;
            arrays.active[0] = 0;
        }
        EXPECT_EQ(znlpnoi(&t.p, 1), 0) << technique;
        EXPECT_EQ(t.x[0], 0.0);
        EXPECT_EQ(t.x[1], 0.0);
        ASSERT_EQ(znlpdnc(&t.p, 1), 0) << technique;
        EXPECT_LT(t.p.iter.f, 1.0);
        EXPECT_NEAR(t.x[0], t.x[1], 1e-12);
        EXPECT_NEAR(t.dir[0], t.dir[1], 1e-12);
    }
}

// Through the termination test: without a perturbation size the run stops
// at the saddle; with one it restarts from the point found and reaches a
// minimum.
TEST_F(PostConvergence, RunLeavesTheSaddleOnlyWithAPerturbationSize) {
    for (int32_t technique : {kTechQuanew, kTechNewrap, kTechTrureg}) {
        for (bool perturb : {false, true}) {
            TestProblem t({0.0, 0.0}, saddle, saddle_gradient);
            t.p.opt.technique = technique;
            t.p.cb.hessianFn = znlpfh4;
            t.p.cb.lineSearchFn = znlp_line_search(2);
            t.p.cb.updateFn = znlpbfg;
            if (perturb) t.p.opt.perturbSize = 1e-3;
            ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
            const int32_t status = znlpdrv(&t.p, 2, 0, 0, 0);
            EXPECT_GE(status, kNlpAbsConv) << technique;
            if (perturb) {
                EXPECT_NEAR(t.p.iter.f, 0.0, 1e-6) << technique;
                EXPECT_GE(t.p.run.nRestarts, 1) << technique;
            } else {
                EXPECT_EQ(t.p.iter.f, 1.0) << technique;  // stopped where the gradient vanishes
            }
        }
    }
}

}  // namespace
