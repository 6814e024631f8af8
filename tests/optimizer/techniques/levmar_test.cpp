// LEVMAR on the standard problems with the Gauss-Newton cross product.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Levmar : public NlpStep {};

TEST_F(Levmar, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechLevmar, s, true));
}

}  // namespace
