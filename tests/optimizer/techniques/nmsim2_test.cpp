// NMSIM2 on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

// The simplex stops when its values spread less than FCONV2 = 1e-6, so f
// ends within a few times that of the minimum.
constexpr double kSimplexTol = 1e-4;

class Nmsim2 : public NlpStep {};

TEST_F(Nmsim2, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechNmsim2, s, false, kSimplexTol);
}

TEST_F(Nmsim2, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechNmsim2, s, false, kSimplexTol);
}

}  // namespace
