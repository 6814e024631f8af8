// TRUREG on the standard problems.
#include <cmath>

#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Trureg : public NlpStep {};

TEST_F(Trureg, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechTrureg, s, false));
}

TEST_F(Trureg, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechTrureg, s, false));
}

// The Hessian slot fails at the first point a step reaches, where f and g
// are fine (as the procedure's cross product fails where rounding leaves a
// diagonal element below zero): the step is taken back, and the run goes on
// from its start to the minimum, each iteration counted and tested once.
TEST_F(Trureg, TakesBackAStepToAPointWithoutHessian) {
    static int calls;
    for (const Standard& s : standard_problems()) {
        SCOPED_TRACE(s.name);
        calls = 0;
        TechniqueProblem t(s, kTechTrureg, false);
        // The first call is at the start.
        t.p.cb.hessianFn = [](NlpProblem* p) { return ++calls == 2 ? 1 : znlpfh3(p); };
        const int32_t status = run_driver(&t);
        ASSERT_GT(calls, 2);
        EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << status;
        const bool local = s.fLocal >= 0 && std::fabs(t.p.iter.f - s.fLocal) < std::fabs(t.p.iter.f);
        const double target = local ? s.fLocal : s.fMin;
        EXPECT_NEAR(t.p.iter.f, target, 1e-6 * (1 + std::fabs(target)));
        EXPECT_EQ(t.path.size(), static_cast<size_t>(t.p.run.iteration) + 1);
        for (size_t i = 1; i < t.path.size(); ++i) EXPECT_LE(t.path[i], t.path[i - 1]) << i;
    }
}

}  // namespace
