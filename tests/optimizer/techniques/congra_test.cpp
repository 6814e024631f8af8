// CONGRA on the standard problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Congra : public NlpStep {};

TEST_F(Congra, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechCongra, s, false));
}

// Fletcher-Reeves (2), Polak-Ribiere (3) and conjugate descent (4).
TEST_F(Congra, OtherUpdatesMinimiseTheStandardProblems) {
    for (int32_t update : {2, 3, 4})
        for (const Standard& s : standard_problems()) EXPECT_TRUE(minimises(kTechCongra, s, false, 1e-6, update));
}

TEST_F(Congra, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) EXPECT_TRUE(minimises(kTechCongra, s, false));
}

}  // namespace
