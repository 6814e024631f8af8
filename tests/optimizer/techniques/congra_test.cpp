// CONGRA on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Congra : public NlpStep {};

TEST_F(Congra, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechCongra, s, false);
}

TEST_F(Congra, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechCongra, s, false);
}

}  // namespace
