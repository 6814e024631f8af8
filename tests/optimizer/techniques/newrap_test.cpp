// NEWRAP on the standard problems, the Hessian from differences of the gradient.
#include <cmath>

#include "optimizer/core/line_search.h"
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Newrap : public NlpStep {};

TEST_F(Newrap, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems())
        EXPECT_TRUE(minimises(kTechNewrap, s, false));
}

TEST_F(Newrap, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechNewrap, s, false));
}

// A Hessian slot in diagonal storage (n entries) on a separable objective
// sum (x_i - i)^4 + (x_i - i)^2.
TEST_F(Newrap, ReadsADiagonalHessian) {
    auto f = [](const double* x) {
        double s = 0;
        for (int i = 0; i < 3; ++i) s += std::pow(x[i] - i, 4) + (x[i] - i) * (x[i] - i);
        return s;
    };
    auto g = [](const double* x, double* out) {
        for (int i = 0; i < 3; ++i) out[i] = 4 * std::pow(x[i] - i, 3) + 2 * (x[i] - i);
    };
    TestProblem t({5.0, -3.0, 8.0}, f, g);
    t.p.opt.technique = kTechNewrap;
    t.p.opt.hessianStorage = 2;
    t.p.cb.hessianFn = [](NlpProblem* p) {
        for (int i = 0; i < 3; ++i) p->hess.hessian[i] = 12 * (p->param.x[i] - i) * (p->param.x[i] - i) + 2;
        // What lies beyond the diagonal entries is not the Hessian's.
        for (int i = 3; i < 6; ++i) p->hess.hessian[i] = 1e6;
        return 0;
    };
    t.p.cb.lineSearchFn = znlp_line_search(2);
    ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    EXPECT_GE(znlpdrv(&t.p, 2, 0, 0, 0), kNlpAbsConv);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(t.x[i], i, 1e-5);
}

}  // namespace
