// NRRIDG on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Nrridg : public NlpStep {};

TEST_F(Nrridg, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechNrridg, s, false);
}

TEST_F(Nrridg, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechNrridg, s, false);
}

}  // namespace
