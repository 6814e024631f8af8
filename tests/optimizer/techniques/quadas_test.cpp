// QUADAS on convex quadratic programs whose solutions are known exactly:
// bounds with inequality rows (Nocedal and Wright, 2006, example 16.4) and
// an equality row (Hock and Schittkowski problem 28).  The runs start at a
// feasible point (the feasible start belongs to the constraint machinery).
#include <cfloat>
#include <vector>

#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

// The packed Hessian of the current test's objective.
std::vector<double> gHessian;
int32_t hessian(NlpProblem* p) {
    std::copy(gHessian.begin(), gHessian.end(), p->hessian);
    return 0;
}

std::vector<double> gPath;
int gInfeasible = 0;

class Quadas : public NlpStep {
protected:
    // Runs QUADAS from t's feasible start; every tested point is recorded
    // and checked against the rows and bounds.
    int32_t run(TestProblem* t, const std::vector<double>& rows, const std::vector<double>& rhs, int32_t nEq) {
        rows_ = rows;
        rhs_ = rhs;
        t->p.technique = kTechQuadas;
        t->p.hessianFn = hessian;
        t->p.nLinCon = static_cast<int32_t>(rhs_.size());
        t->p.nLinEq = nEq;
        t->p.hasLinCon = 1;
        t->p.linRows = rows_.data();
        t->p.linRhs = rhs_.data();
        multipliers_.assign(t->p.nParams, 0.0);
        t->p.multipliers = multipliers_.data();
        gPath.clear();
        gInfeasible = 0;
        current_ = this;
        t->p.iterOutputHook = [](NlpProblem* p) {
            gPath.push_back(p->f);
            if (!current_->feasible(p)) ++gInfeasible;
        };
        t->p.objectiveFn(&t->p);
        t->p.gradientFn(&t->p);
        return znlp_technique_for(&t->p)(&t->p);
    }
    bool feasible(const NlpProblem* p) const {
        const int32_t n = p->nParams;
        for (int32_t r = 0; r < p->nLinCon; ++r) {
            double s = -rhs_[r];
            for (int32_t j = 0; j < n; ++j) s += rows_[r * n + j] * p->x[j];
            if (r < p->nLinEq ? std::fabs(s) > 1e-10 : s < -1e-10) return false;
        }
        for (int32_t j = 0; p->hasBounds && j < n; ++j)
            if (p->x[j] < p->lower[j] - 1e-12 || p->x[j] > p->upper[j] + 1e-12) return false;
        return true;
    }
    static void expect_path() {
        EXPECT_EQ(gInfeasible, 0);
        ASSERT_GE(gPath.size(), 2u);
        for (size_t i = 1; i < gPath.size(); ++i) EXPECT_LE(gPath[i], gPath[i - 1] + 1e-14);
    }
    std::vector<double> rows_, rhs_, multipliers_;
    static Quadas* current_;
};
Quadas* Quadas::current_ = nullptr;

// min (x1 - 1)^2 + (x2 - 2.5)^2 with x1 - 2 x2 >= -2, -x1 - 2 x2 >= -6,
// -x1 + 2 x2 >= -2, x >= 0, from (2, 0): the solution (1.4, 1.7) with the
// first row active, multiplier 0.8.
TEST_F(Quadas, SolvesAQuadraticWithBoundsAndRows) {
    TestProblem t(
        {2.0, 0.0}, [](const double* x) { return (x[0] - 1) * (x[0] - 1) + (x[1] - 2.5) * (x[1] - 2.5); },
        [](const double* x, double* g) {
            g[0] = 2 * (x[0] - 1);
            g[1] = 2 * (x[1] - 2.5);
        });
    gHessian = {2, 0, 2};
    t.lower = {0, 0};
    t.p.hasBounds = 1;
    const int32_t status = run(&t, {1, -2, -1, -2, -1, 2}, {-2, -6, -2}, 0);
    EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpAllFixed) << status;
    EXPECT_NEAR(t.x[0], 1.4, 1e-12);
    EXPECT_NEAR(t.x[1], 1.7, 1e-12);
    EXPECT_NEAR(t.p.f, 0.8, 1e-12);
    EXPECT_EQ(t.p.nActiveLin, 1);
    EXPECT_EQ(t.p.nActiveBounds, 0);
    EXPECT_NEAR(multipliers_[0], 0.8, 1e-12);
    expect_path();
}

// Hock-Schittkowski 28: min (x1 + x2)^2 + (x2 + x3)^2 with
// x1 + 2 x2 + 3 x3 = 1 from (-4, 1, 1): the solution (0.5, -0.5, 0.5), f 0.
TEST_F(Quadas, SolvesAnEqualityConstrainedQuadratic) {
    TestProblem t(
        {-4.0, 1.0, 1.0}, [](const double* x) { return (x[0] + x[1]) * (x[0] + x[1]) + (x[1] + x[2]) * (x[1] + x[2]); },
        [](const double* x, double* g) {
            g[0] = 2 * (x[0] + x[1]);
            g[1] = 2 * (x[0] + x[1]) + 2 * (x[1] + x[2]);
            g[2] = 2 * (x[1] + x[2]);
        });
    gHessian = {2, 2, 4, 0, 2, 2};
    const int32_t status = run(&t, {1, 2, 3}, {1}, 1);
    EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpAllFixed) << status;
    EXPECT_NEAR(t.x[0], 0.5, 1e-12);
    EXPECT_NEAR(t.x[1], -0.5, 1e-12);
    EXPECT_NEAR(t.x[2], 0.5, 1e-12);
    EXPECT_NEAR(t.p.f, 0.0, 1e-20);
    expect_path();
}

}  // namespace
