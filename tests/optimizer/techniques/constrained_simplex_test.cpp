// NMSIMP with nonlinear constraints: the constrained simplex method on the
// Hock-Schittkowski problems, to the radius ABSXCONV asks for; the simplex
// techniques keep linear rows held compressed as they keep dense ones.
#include <memory>

#include "tests/optimizer/core/constraint_fixture.h"
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

// HS44 from its standard start, its six inequality rows held compressed,
// ends where it ends with them dense (f and x alike), through the driver
// with the owner's row slot and run directly without one: the simplex
// techniques at the optimum (0, 3, 0, 4), f = -15, QUANEW at the vertex
// (3, 0, 4, 0), f = -13; every tested point inside the rows.
TEST_F(ConstrainedSimplex, CompressedRowsAreKeptAsDenseOnes) {
    const Standard* hs44 = nullptr;
    for (const Standard& s : hs_linear_problems())
        if (s.name == "HS44") hs44 = &s;
    ASSERT_NE(hs44, nullptr);
    for (int32_t technique : {kTechNmsimp, kTechNmsim2, kTechQuanew}) {
        for (bool driver : {true, false}) {
            SCOPED_TRACE("technique " + std::to_string(technique) + (driver ? " through the driver" : " directly"));
            std::vector<double> end[2];
            for (bool compressed : {false, true}) {
                TechniqueProblem t(*hs44, technique, false);
                std::unique_ptr<ActiveSetArrays> arrays(driver ? new ActiveSetArrays(&t.p) : nullptr);
                std::unique_ptr<CompressedRows> rows(compressed ? new CompressedRows(&t) : nullptr);
                if (compressed) t.p.cb.conRowFn = driver ? CompressedRows::row_slot : nullptr;
                const int32_t status = driver ? run_driver(&t) : run_direct(&t);
                EXPECT_TRUE(nlp_status_converged(status)) << status;
                EXPECT_EQ(t.infeasible, 0);
                end[compressed] = t.x;
                end[compressed].push_back(t.p.iter.f);
            }
            for (size_t j = 0; j < end[0].size(); ++j) EXPECT_NEAR(end[1][j], end[0][j], 1e-12) << j;
            if (technique != kTechQuanew) {
                EXPECT_NEAR(end[1].back(), hs44->fMin, 1e-6 * (1 + std::fabs(hs44->fMin)));
            }
        }
    }
}

}  // namespace
