// QUANEW, primal and dual, with the BFGS and DFP updates on the standard
// problems.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Quanew : public NlpStep {};

TEST_F(Quanew, PrimalBfgsMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechQuanew, s, false);
}

TEST_F(Quanew, DfpUpdatesMinimiseTheStandardProblems) {
    for (const Standard& s : standard_problems()) {
        expect_minimises(kTechQuanew, s, false, 1e-6, kUpdateDfp);
        expect_minimises(kTechDualQuanew, s, false, 1e-6, kUpdateDfp);
    }
}

TEST_F(Quanew, DualBfgsMinimisesTheStandardProblems) {
    for (const Standard& s : standard_problems()) expect_minimises(kTechDualQuanew, s, false);
}

TEST_F(Quanew, HoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechQuanew, s, false);
}

TEST_F(Quanew, DualHoldsTheBounds) {
    for (const Standard& s : bounded_problems()) expect_minimises(kTechDualQuanew, s, false);
}

}  // namespace
