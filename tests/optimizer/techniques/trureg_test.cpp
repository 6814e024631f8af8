// TRUREG on the standard problems.
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

}  // namespace
