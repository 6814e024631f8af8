// NMSIMP on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

// The simplex stops when its values spread less than FCONV2 = 1e-6, so f
// ends within a few times that of the minimum.
constexpr double kSimplexTol = 1e-4;

class Nmsimp : public NlpStep {};

TEST_F(Nmsimp, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechNmsimp, s, false, kSimplexTol);
}

TEST_F(Nmsimp, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechNmsimp, s, false, kSimplexTol);
}

}  // namespace
