// QUADAS on convex quadratic programs with bounds and linear rows, from
// feasible starts (the feasible start belongs to the constraint
// machinery): with the exact Hessian the solution and the multipliers come
// out exact.
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

const Standard& problem(const std::string& name) {
    for (const Standard& s : linear_problems())
        if (s.name == name) return s;
    throw std::runtime_error(name);
}

// The exact Hessians of HS28 and of Nocedal and Wright's example 16.4.
int32_t hs28_hessian(NlpProblem* p) {
    const double h[] = {2, 2, 4, 0, 2, 2};
    std::copy(h, h + 6, p->hessian);
    return 0;
}
int32_t nw164_hessian(NlpProblem* p) {
    const double h[] = {2, 0, 2};
    std::copy(h, h + 3, p->hessian);
    return 0;
}

class Quadas : public NlpStep {
protected:
    // Runs QUADAS with the exact Hessian; the path checks of the fixture.
    int32_t run(TechniqueProblem* t, NlpCallback hessian) {
        t->p.hessianFn = hessian;
        multipliers_.assign(t->p.nParams, 0.0);
        t->p.multipliers = multipliers_.data();
        const int32_t status = run_direct(t);
        EXPECT_EQ(t->infeasible, 0);
        for (size_t i = 1; i < t->path.size(); ++i) EXPECT_LE(t->path[i], t->path[i - 1] + 1e-14);
        return status;
    }
    std::vector<double> multipliers_;
};

// From (2, 0), where a bound and a row are active, to (1.4, 1.7) with only
// the first row active and its multiplier 0.8.
TEST_F(Quadas, SolvesAQuadraticWithBoundsAndRowsExactly) {
    TechniqueProblem t(problem("NW16.4"), kTechQuadas, false);
    EXPECT_GE(run(&t, nw164_hessian), kNlpAbsConv);
    EXPECT_NEAR(t.x[0], 1.4, 1e-12);
    EXPECT_NEAR(t.x[1], 1.7, 1e-12);
    EXPECT_NEAR(t.p.f, 0.8, 1e-12);
    EXPECT_EQ(t.p.nActiveLin, 1);
    EXPECT_EQ(t.p.nActiveBounds, 0);
    EXPECT_NEAR(multipliers_[0], 0.8, 1e-12);
}

TEST_F(Quadas, SolvesAnEqualityConstrainedQuadraticExactly) {
    TechniqueProblem t(problem("HS28"), kTechQuadas, false);
    EXPECT_GE(run(&t, hs28_hessian), kNlpAbsConv);
    EXPECT_NEAR(t.x[0], 0.5, 1e-12);
    EXPECT_NEAR(t.x[1], -0.5, 1e-12);
    EXPECT_NEAR(t.x[2], 0.5, 1e-12);
    EXPECT_NEAR(t.p.f, 0.0, 1e-20);
}

// The Hessian from differences of the gradient, as without a Hessian slot.
TEST_F(Quadas, SolvesTheLinearProblems) {
    for (const Standard& s : linear_problems()) EXPECT_TRUE(minimises(kTechQuadas, s, false));
}

}  // namespace
