// HYQUAN on the standard problems with the Gauss-Newton cross product.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Hyquan : public NlpStep {};

TEST_F(Hyquan, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechHyquan, s, true));
}

TEST_F(Hyquan, DfpUpdateMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechHyquan, s, true, 1e-6, kUpdateDfp));
}

int resets = 0;

// RESTART 2 goes back to the cross product every second iteration and
// announces it through the reset slot; the run still converges.
TEST_F(Hyquan, RestartsAreAnnouncedThroughTheResetSlot) {
    TechniqueProblem t(standard_problems()[0], kTechHyquan, true);
    t.p.opt.restart = 2.0;
    t.p.cb.resetFn = [](NlpProblem*) { return ++resets, 0; };
    EXPECT_GE(run_driver(&t), kNlpAbsConv);
    EXPECT_NEAR(t.p.iter.f, 0.0, 1e-6);
    EXPECT_GE(resets, static_cast<int>(t.p.run.iteration) / 2 - 1);
}

}  // namespace
