// NMSIMP with nonlinear constraints: the constrained simplex method on the
// Hock-Schittkowski problems, to the radius ABSXCONV asks for.
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class ConstrainedSimplex : public NlpStep {};

// With the default ABSXCONV (1e-4) f comes out to 1e-3; a radius of 1e-8
// gives f to 1e-8 and x to 1e-3 (linear models resolve the directions
// along which f is flat on the active constraints slowly).
TEST_F(ConstrainedSimplex, SolvesTheNonlinearlyConstrainedProblems) {
    for (const Standard& s : nonlinear_problems()) {
        for (double radius : {0.0, 1e-8}) {
            TechniqueProblem t(s, kTechNmsimp, false);
            if (radius > 0.0) t.p.opt.absXConv = radius;
            const double tol = radius > 0.0 ? 1e-8 : 1e-3, xTol = radius > 0.0 ? 1e-3 : 1e-2;
            EXPECT_EQ(run_direct(&t), kNlpAbsXConv) << s.name;
            EXPECT_LE(t.p.iter.rho, t.p.opt.absXConv) << s.name;
            EXPECT_NEAR(t.p.iter.f, s.fMin, tol * (1 + std::fabs(s.fMin))) << s.name;
            for (size_t j = 0; j < s.xStar.size(); ++j) EXPECT_NEAR(t.x[j], s.xStar[j], xTol) << s.name << " " << j;
            EXPECT_LE(t.p.iter.maxConViolation, tol) << s.name;
            EXPECT_EQ(t.infeasible, 0) << s.name;
        }
    }
}

}  // namespace
