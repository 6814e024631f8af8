// NEWRAP on the standard problems, the Hessian from differences of the gradient.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Newrap : public NlpStep {};

TEST_F(Newrap, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems())
        expect_minimises(kTechNewrap, s, false);
}

TEST_F(Newrap, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechNewrap, s, false);
}

}  // namespace
