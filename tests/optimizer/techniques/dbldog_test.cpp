// DBLDOG on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Dbldog : public NlpStep {};

TEST_F(Dbldog, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechDbldog, s, false));
}

// The DFP update lacks BFGS's self-correction without a line search; with
// the self-scaling before each update it minimises them as well.
TEST_F(Dbldog, DfpUpdateMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechDbldog, s, false, 1e-6, kUpdateDfp));
}

TEST_F(Dbldog, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechDbldog, s, false));
}

}  // namespace
