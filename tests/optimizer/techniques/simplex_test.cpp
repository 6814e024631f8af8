// NMSIMP and NMSIM2, the two Nelder-Mead techniques, on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

// The simplex stops when its values spread less than FCONV2 = 1e-6, so f
// ends within a few times that of the minimum.
constexpr double kSimplexTol = 1e-4;
constexpr int32_t kSimplexTechniques[] = {kTechNmsimp, kTechNmsim2};

class Simplex : public NlpStep {};

TEST_F(Simplex, MinimisesTheStandardProblems) {
    for (const int32_t technique : kSimplexTechniques)
        for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(technique, s, false, kSimplexTol));
}

TEST_F(Simplex, HoldsTheBounds) {
    for (const int32_t technique : kSimplexTechniques)
        for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(technique, s, false, kSimplexTol));
}

}  // namespace
