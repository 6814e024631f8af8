// GAUNEW on the standard problems with the Gauss-Newton cross product.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Gaunew : public NlpStep {};

TEST_F(Gaunew, MinimisesTheZeroResidualProblems) {
    for (const Standard& s : standard_problems()) {
        if (s.fLocal < 0) {
            EXPECT_TRUE(minimises(kTechGaunew, s, true));
        }
    }
}

// At Freudenstein-Roth's local minimum the residuals are large and J'J is
// nearly singular: Gauss-Newton converges only linearly there and uses up
// the default call limit on the way.  It still never rises.
TEST_F(Gaunew, DescendsOnALargeResidualProblem) {
    const Standard& s = standard_problems().back();
    TechniqueProblem t(s, kTechGaunew, true);
    EXPECT_EQ(run_driver(&t), kNlpLimit);
    EXPECT_LT(t.p.f, 55.0);
    for (size_t i = 1; i < t.path.size(); ++i) EXPECT_LE(t.path[i], t.path[i - 1]);
}

}  // namespace
