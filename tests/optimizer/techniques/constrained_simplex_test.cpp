// NMSIMP with nonlinear constraints: the constrained simplex method on
// Hock-Schittkowski 6 (a curved equality from an infeasible start), to the
// radius ABSXCONV asks for.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class ConstrainedSimplex : public NlpStep {};

// With the default ABSXCONV (1e-4) the last radius bounds the error of x
// by a few times 1e-4; a radius of 1e-8 gives the solution to 1e-6.
TEST_F(ConstrainedSimplex, SolvesTheNonlinearlyConstrainedProblems) {
    {
        const Standard& s = nonlinear_problems()[0];
        for (double radius : {0.0, 1e-8}) {
            TechniqueProblem t(s, kTechNmsimp, false);
            if (radius > 0.0) t.p.absXConv = radius;
            const double tol = radius > 0.0 ? 1e-6 : 1e-3;
            EXPECT_EQ(run_direct(&t), kNlpAbsXConv) << s.name;
            EXPECT_LE(t.p.rho, t.p.absXConv) << s.name;
            EXPECT_NEAR(t.p.f, s.fMin, tol * (1 + std::fabs(s.fMin))) << s.name;
            for (size_t j = 0; j < s.xStar.size(); ++j) EXPECT_NEAR(t.x[j], s.xStar[j], 10 * tol) << s.name << " " << j;
            EXPECT_LE(t.p.maxConViolation, tol) << s.name;
            EXPECT_EQ(t.infeasible, 0) << s.name;
        }
    }
}

}  // namespace
