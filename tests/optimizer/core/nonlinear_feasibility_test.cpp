// The search for a point that meets the nonlinear constraints: HS6's
// equality 10 (x2 - x1^2) = 0 from (-1.2, 1), bounds alone, a feasible
// point, and the technique's Hessian, factor and gradient left alone.
#include <gtest/gtest.h>

#include <vector>

#include "tests/optimizer/core/constraint_fixture.h"

namespace {

using namespace velix::test;

struct Hs6Constraint : ::testing::Test {
    ConstrainedProblem c{{-1.2, 1.0}};
    std::vector<double> values = std::vector<double>(1), jacobian = std::vector<double>(2);
    std::vector<double> factor = std::vector<double>(3, 7.0);
    static int32_t value(NlpProblem* p) {
        p->run.nConEval += 1;
        p->con.conValues[0] = 10.0 * (p->param.x[1] - p->param.x[0] * p->param.x[0]);
        return 0;
    }
    static int32_t jac(NlpProblem* p) {
        p->con.conJacobian[0] = -20.0 * p->param.x[0];
        p->con.conJacobian[1] = 10.0;
        return 0;
    }
    void SetUp() override {
        c.p.shape.hasNlinCon = 1;
        c.p.shape.nNlinCon = 1;
        c.p.shape.nNlinEq = 1;
        c.p.con.conValues = values.data();
        c.p.con.conJacobian = jacobian.data();
        c.p.cb.conValuesFn = value;
        c.p.cb.conJacobianFn = jac;
        c.p.hess.hessianFactor = factor.data();
        c.hessian = {3.0, 1.0, 2.0};
        c.grad = {0.25, -0.5};
    }
};

TEST_F(Hs6Constraint, ReachesTheConstraintAndKeepsTheTechniquesState) {
    EXPECT_EQ(znlpfnc(&c.p, 1), 0);
    EXPECT_LE(std::fabs(10.0 * (c.x[1] - c.x[0] * c.x[0])), 1e-8);
    EXPECT_EQ(c.hessian, (std::vector<double>{3.0, 1.0, 2.0}));
    EXPECT_EQ(factor, (std::vector<double>(3, 7.0)));
    EXPECT_EQ(c.grad, (std::vector<double>{0.25, -0.5}));
}

TEST_F(Hs6Constraint, FeasiblePointTakesOneEvaluation) {
    c.x = {2.0, 4.0};
    EXPECT_EQ(znlpfnc(&c.p, 0), 0);
    EXPECT_EQ(c.p.run.nConEval, 1);
    EXPECT_EQ(c.x, (std::vector<double>{2.0, 4.0}));
}

TEST_F(Hs6Constraint, BoundsAloneAreMetByTheFirstStep) {
    c.p.shape.hasNlinCon = 0;
    c.set_bounds({0.0, -1.0}, {1.0, 0.5});
    EXPECT_EQ(znlpfnc(&c.p, 0), 0);
    EXPECT_NEAR(c.x[0], 0.0, 1e-8);
    EXPECT_NEAR(c.x[1], 0.5, 1e-8);
}

TEST_F(Hs6Constraint, ContradictoryConstraintsRestoreTheEntryPoint) {
    // x1 >= 2 by its bound and x1 <= 0 by a row: V cannot fall to 0; the
    // least-squares point halfway is better, so the result is 3 or a
    // failure with x restored.
    c.p.shape.hasNlinCon = 0;
    c.set_bounds({2.0, -9.0}, {9.0, 9.0});
    c.set_rows({{-1.0, 0.0}}, {0.0}, 0);
    c.x = {5.0, 0.0};
    const int32_t r = znlpfnc(&c.p, 0);
    if (r < 0) {
        EXPECT_EQ(c.x, (std::vector<double>{5.0, 0.0}));
    } else {
        EXPECT_EQ(r, 3);
        EXPECT_NEAR(c.x[0], 1.0, 1e-6);
    }
}

}  // namespace
