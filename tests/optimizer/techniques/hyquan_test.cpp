// HYQUAN on the standard problems with the Gauss-Newton cross product.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Hyquan : public NlpStep {};

TEST_F(Hyquan, MinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechHyquan, s, true);
}

TEST_F(Hyquan, DfpUpdateMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechHyquan, s, true, 1e-6, kUpdateDfp);
}

}  // namespace
