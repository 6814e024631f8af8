// DBLDOG on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Dbldog : public NlpStep {};

TEST_F(Dbldog, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechDbldog, s, false));
}

// The DFP update of the factor lacks BFGS's self-correction without a
// line search: on Rosenbrock it crawls.  It still never rises and stays
// usable.
TEST_F(Dbldog, DfpUpdateDescends) {
    TechniqueProblem t(standard_problems()[0], kTechDbldog, false, kUpdateDfp);
    const int32_t status = run_driver(&t);
    EXPECT_TRUE(nlp_status_usable(status)) << status;
    EXPECT_LT(t.p.f, 0.01);
    for (size_t i = 1; i < t.path.size(); ++i) EXPECT_LE(t.path[i], t.path[i - 1]);
}

TEST_F(Dbldog, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechDbldog, s, false));
}

}  // namespace
