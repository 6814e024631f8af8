// GAUNEW on the standard problems with the Gauss-Newton cross product.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Gaunew : public NlpStep {};

TEST_F(Gaunew, MinimisesTheZeroResidualProblems) {
    for (const Standard& s : standard_problems()) {
        if (s.fLocal < 0) {
            EXPECT_TRUE(minimises(kTechGaunew, s, true));
        }
    }
}

// At Freudenstein-Roth's local minimum J is singular and the residuals
// large: the minimum-norm step drops the null direction, and the
// predicted reduction, which J'J would keep at about 2f there, falls
// with the gradient so that the relative gradient test ends the run.
TEST_F(Gaunew, ConvergesOnALargeResidualProblem) {
    EXPECT_TRUE(minimises(kTechGaunew, standard_problems().back(), true));
}

// One residual x1 + x2 - 1 in two parameters: J has rank one, and the
// minimum-norm Gauss-Newton step from the origin is (0.5, 0.5).
void line_r(const double* x, double* r) { r[0] = x[0] + x[1] - 1; }
void line_j(const double*, double* j) { j[0] = j[1] = 1; }

TEST_F(Gaunew, TakesTheMinimumNormStepWhereJIsRankDeficient) {
    const Standard s{"Line", {0, 0}, 1, line_r, line_j, -1, {}, {}, nullptr, nullptr, 0.0, false, {}, {}, 0, 0,
                     0, nullptr, nullptr, {0.5, 0.5}};
    EXPECT_TRUE(minimises(kTechGaunew, s, true));
}

}  // namespace
