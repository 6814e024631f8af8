// DBLDOG on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Dbldog : public NlpStep {};

TEST_F(Dbldog, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechDbldog, s, false);
}

TEST_F(Dbldog, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechDbldog, s, false);
}

}  // namespace
