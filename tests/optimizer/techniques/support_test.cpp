// The frame of the techniques: the ratio test along a direction, the free
// list, the memory rule and the restart from a moved point, the last two
// for every built technique.
#include <cfloat>
#include <cmath>
#include <vector>

#include "optimizer/core/line_search.h"
#include "optimizer/core/pending.h"
#include "optimizer/techniques/techniques.h"
#include "platform/memory.h"
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

const int32_t kBuilt[] = {kTechTrureg, kTechNewrap, kTechNrridg, kTechNrlins, kTechGaunew, kTechLevmar, kTechDbldog,
                          kTechQuanew, kTechDualQuanew, kTechHyquan, kTechCongra, kTechNmsimp, kTechNmsim2,
                          kTechVmcwd};

bool least_squares_only(int32_t t) { return t == kTechGaunew || t == kTechLevmar || t == kTechHyquan; }

class Support : public NlpStep {};

TEST_F(Support, RatioTestStopsAtTheNearestBoundOrRow) {
    TestProblem t({0.5, 0.0}, [](const double*) { return 0.0; });
    t.lower = {0.0, -DBL_MAX};
    t.upper = {1.0, 2.0};
    t.p.shape.hasBounds = 1;
    int32_t blocking = 0;
    const double base[] = {0.5, 0.0}, up[] = {1.0, 1.0}, small[] = {0.1, 0.1}, out[] = {-1.0, 0.0};
    EXPECT_EQ(znlpstl(&t.p, 1, 0, base, up, &blocking), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.stepBound, 0.5);
    EXPECT_EQ(blocking, 2);  // the upper bound of parameter 0
    // flag 1 skips the bounds of a parameter held active.
    std::vector<int32_t> state = {1, 0};
    t.p.active.boundState = state.data();
    EXPECT_EQ(znlpstl(&t.p, 1, 1, base, up, &blocking), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.stepBound, 2.0);
    EXPECT_EQ(blocking, 3);
    t.p.active.boundState = nullptr;
    EXPECT_EQ(znlpstl(&t.p, 0, 0, base, small, &blocking), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.stepBound, 1.0);  // mode 0 caps at 1
    EXPECT_EQ(blocking, -1);
    // A row x0 - x1 >= 0.4 blocks d = (-1, 1) after 0.05, before the bound.
    std::vector<double> row = {1.0, -1.0}, rhs = {0.4};
    t.p.shape.hasLinCon = 1;
    t.p.shape.nLinCon = 1;
    t.p.con.linRows = row.data();
    t.p.con.linRhs = rhs.data();
    const double across[] = {-1.0, 1.0};
    EXPECT_EQ(znlpstl(&t.p, 1, 0, base, across, &blocking), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.stepBound, 0.05);
    EXPECT_EQ(blocking, 4);
    // The same row held compressed, without a row slot.
    std::vector<int32_t> columns = {0, 1}, ends = {2};
    std::vector<double> buffer(2);
    t.p.shape.linRowsSparse = 1;
    t.p.con.linColIndex = columns.data();
    t.p.con.linRowEnd = ends.data();
    t.p.active.rowBuffer = buffer.data();
    EXPECT_EQ(znlpstl(&t.p, 1, 0, base, across, &blocking), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.stepBound, 0.05);
    EXPECT_EQ(blocking, 4);
    // At the lower bound no step outward is possible.
    const double atBound[] = {0.0, 0.0};
    t.p.shape.hasLinCon = 0;
    EXPECT_EQ(znlpstl(&t.p, 1, 0, atBound, out, &blocking), -1);
    EXPECT_EQ(t.p.iter.stepBound, 0.0);
}

int resets = 0;

TEST_F(Support, FreeListPutsTheHeldParametersLast) {
    TestProblem t({0, 0, 0, 0}, [](const double*) { return 0.0; });
    std::vector<int32_t> state = {1, 0, -1, 0}, list(4);
    t.p.active.boundState = state.data();
    t.p.active.freeList = list.data();
    t.p.cb.resetFn = [](NlpProblem*) { return ++resets, 0; };
    EXPECT_EQ(znlpinc(&t.p, 0), 0);
    EXPECT_EQ(list, (std::vector<int32_t>{1, 3, 0, 2}));
    EXPECT_EQ(resets, 0);
    znlpinc(&t.p, 1);
    EXPECT_EQ(resets, 1);
}

// Without its work space a technique ends as not usable (the run can be
// repeated with another) after the memory message, and evaluates nothing.
TEST_F(Support, TechniqueWithoutWorkSpaceIsNotUsable) {
    for (int32_t technique : kBuilt) {
        TechniqueProblem t(standard_problems()[0], technique, least_squares_only(technique));
        ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
        const int32_t calls = t.p.run.nFun;
        velix::platform::fail_nth_pool_creation(1);
        EXPECT_EQ(znlpdrv(&t.p, 2, 0, 0, 0), kNlpNotUsable) << technique;
        EXPECT_EQ(t.p.run.nFun, calls) << technique;
    }
    EXPECT_NE(log().find("not enough memory"), std::string::npos) << log();
}

// The techniques keep bounds and linear rows on the core's active set;
// nonlinear constraints only QUANEW (both forms), VMCWD and NMSIMP take:
// the others refuse them before they evaluate anything.
TEST_F(Support, TechniquesWithoutNonlinearConstraintsRefuseThem) {
    for (int32_t technique : kBuilt) {
        if (technique == kTechQuanew || technique == kTechDualQuanew || technique == kTechVmcwd || technique == kTechNmsimp)
            continue;
        TechniqueProblem t(nonlinear_problems()[1], technique, false);
        EXPECT_EQ(run_direct(&t), kNlpNotUsable) << technique;
        EXPECT_EQ(t.p.run.nFun, 1) << technique;  // the start evaluation alone
    }
    EXPECT_NE(log().find("does not take general linear or nonlinear constraints"), std::string::npos) << log();
}

// The termination test answers 100 once, after moving the converged point:
// the technique starts again from there and converges anew.
int32_t move_once(NlpProblem* p, int32_t code) {
    const int32_t status = znlptrm(p, code);
    if (status < kNlpAbsConv || status > kNlpGConv2 || p->run.nRestarts > 0) return status;
    p->param.x[0] += 0.5;
    return kNlpRestart;
}

TEST_F(Support, TechniquesRestartFromAMovedPoint) {
    for (int32_t technique : kBuilt) {
        TechniqueProblem t(standard_problems()[0], technique, least_squares_only(technique));
        t.p.cb.terminationFn = move_once;
        const int32_t status = run_driver(&t);
        EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << technique << " " << status;
        EXPECT_EQ(t.p.run.nRestarts, 1) << technique;
        EXPECT_NEAR(t.p.iter.f, 0.0, 1e-4) << technique;
    }
}

// One objective evaluation that fails during the run (a trial point the
// model cannot be evaluated at) is stepped around: every technique still
// reaches the minimum.
TEST_F(Support, TechniquesStepAroundAFailedEvaluation) {
    for (int32_t technique : kBuilt) {
        TechniqueProblem t(standard_problems()[0], technique, least_squares_only(technique));
        ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
        t.failObjectiveAt = t.p.run.nFun + 3;
        const int32_t status = znlpdrv(&t.p, 2, 0, 0, 0);
        EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << technique << " " << status;
        EXPECT_NEAR(t.p.iter.f, 0.0, 1e-4) << technique;
    }
}

// Rosenbrock whose derivatives fail right of x1 = 0.5, where the objective
// is computed: the path from (-1.2, 1) to the minimum (1, 1) enters that
// region.  The Hessian (or cross product) slot fails there, and with
// `gradientToo` the gradient.  The flags are read by the slots.
struct NoDerivativesRight : TechniqueProblem {
    static constexpr double kEdge = 0.5;
    NoDerivativesRight(const Standard& s, int32_t technique, bool gradientToo)
        : TechniqueProblem(s, technique, least_squares_only(technique)), hessianSlot(p.cb.hessianFn) {
        p.cb.hessianFn = hessian;
        if (gradientToo) p.cb.gradientFn = gradient;
    }
    static NoDerivativesRight* of(NlpProblem* p) { return static_cast<NoDerivativesRight*>(TestProblem::of(p)); }
    static int32_t gradient(NlpProblem* p) { return p->param.x[0] > kEdge ? 1 : TestProblem::gradient(p); }
    static int32_t hessian(NlpProblem* p) { return p->param.x[0] > kEdge ? 1 : of(p)->hessianSlot(p); }
    NlpCallback hessianSlot;
};

// A run that ends where derivatives fail says so ("The derivatives could
// not be computed at the final point"), never that the objective failed;
// one that says so ends there.  A technique that does without the
// derivatives that fail may converge there, but no run claims convergence
// at a point that is not stationary (Rosenbrock's gradient in closed form,
// the upper bound holding x1 on the bounded path): where the gradient or
// the Hessian fails beside it, the check of the claim cannot confirm it.
// Three paths: the default run, the Hessian alone failing, and an upper
// bound of 0.7 that a failed line search steps onto (run directly, as the
// bounded problems are).
TEST_F(Support, TechniquesNameFailedDerivativesAsSuch) {
    Standard bounded = standard_problems()[0];
    bounded.lower = {-DBL_MAX, -DBL_MAX};
    bounded.upper = {0.7, DBL_MAX};
    int32_t named = 0;
    for (int32_t path = 0; path < 3; ++path) {
        for (int32_t technique : kBuilt) {
            NoDerivativesRight t(path == 2 ? bounded : standard_problems()[0], technique, path != 1);
            const int32_t status = path == 2 ? run_direct(&t) : run_driver(&t);
            const bool right = t.x[0] > NoDerivativesRight::kEdge;
            // Without the driver's final evaluation the simplex needs no derivatives.
            const bool needless = path == 1 || (path == 2 && (technique == kTechNmsimp || technique == kTechNmsim2));
            const bool converged = needless && status >= kNlpAbsConv && status <= kNlpAllFixed;
            EXPECT_EQ(status == kNlpFinalDerivative, right && !converged)
                << "path " << path << " technique " << technique << " status " << status << " x1 " << t.x[0];
            if (status >= kNlpAbsConv && status <= kNlpAllFixed) {
                const double x1 = t.x[0], r = t.x[1] - x1 * x1, g1 = -400.0 * x1 * r - 2.0 * (1.0 - x1);
                const bool held = path == 2 && x1 >= bounded.upper[0] && g1 < 0.0;
                EXPECT_LE(std::fmax(held ? 0.0 : std::fabs(g1), std::fabs(200.0 * r)), 1e-3)
                    << "path " << path << " technique " << technique << " claims " << status << " at " << x1 << ", "
                    << t.x[1];
            }
            named += status == kNlpFinalDerivative;
        }
    }
    EXPECT_GE(named, 10);  // the paths reach the failures they are built for
    EXPECT_NE(log().find("The derivatives could not be computed at the final point"), std::string::npos);
    EXPECT_EQ(log().find("The objective or the constraints could not be computed"), std::string::npos) << log();
}

// HYQUAN goes back to the cross product after a failed search along its
// quasi-Newton direction; when the search fails along that one too (here
// line search 4, which evaluates the gradient at every trial, against the
// region without derivatives) the run ends instead of trying the two in
// turn for ever.
TEST_F(Support, HyquanEndsWhenTheCrossProductsSearchFailsToo) {
    NoDerivativesRight t(standard_problems()[0], kTechHyquan, true);
    t.p.opt.lineSearch = 4;
    t.p.cb.lineSearchFn = znlpls4;
    EXPECT_EQ(run_driver(&t), kNlpTechniqueStop7);
    EXPECT_LE(t.x[0], NoDerivativesRight::kEdge);
}

// Rosenbrock with x1 <= 0.5: the Newton, Gauss-Newton and quasi-Newton
// directions point across the bound where the gradient does not; every
// technique holds it and ends at (0.5, 0.25).
TEST_F(Support, EveryTechniqueHoldsABoundItsDirectionCrosses) {
    for (int32_t technique : kBuilt) {
        const bool simplex = technique == kTechNmsimp || technique == kTechNmsim2;
        EXPECT_TRUE(minimises(technique, bounded_rosenbrock(), least_squares_only(technique), simplex ? 1e-4 : 1e-6));
    }
}

// A parameter whose bounds are equal is fixed: Rosenbrock with x2 = 1
// from (0.5, 1) ends at (1, 1) (from x1 < 0 it would end in the other
// minimum of 100 (1 - x1^2)^2 + (1 - x1)^2, near x1 = -1).
TEST_F(Support, EveryTechniqueKeepsAFixedParameter) {
    Standard s = standard_problems()[0];
    s.x0 = {0.5, 1.0};
    s.lower = {-DBL_MAX, 1.0};
    s.upper = {DBL_MAX, 1.0};
    for (int32_t technique : kBuilt) {
        const bool simplex = technique == kTechNmsimp || technique == kTechNmsim2;
        EXPECT_TRUE(minimises(technique, s, least_squares_only(technique), simplex ? 1e-4 : 1e-6));
    }
}

// With the history asked for, every technique's layout gets one row per
// iteration (VMCWD has no layout).
TEST_F(Support, HistoryHasARowPerIteration) {
    std::vector<double> iterations;
    std::vector<int32_t> shown;
    for (int32_t technique : kBuilt) {
        if (technique == kTechVmcwd) continue;
        shown.push_back(technique);
        TechniqueProblem t(standard_problems()[0], technique, least_squares_only(technique));
        t.p.out.kyrObject = manager_;
        t.p.opt.printLevel = 2;
        ASSERT_GE(run_driver(&t), kNlpAbsConv) << technique;
        iterations.push_back(t.p.run.iteration);
    }
    const JsonValue out = document()["steps"][0]["output"];
    size_t run = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (!out[i]["name"].is_string() || out[i]["name"].str() != "IterHist") continue;
        ASSERT_LT(run, iterations.size());
        EXPECT_EQ(static_cast<double>(out[i]["rows"].size()), iterations[run]) << shown[run];
        ++run;
    }
    EXPECT_EQ(run, iterations.size());
}

// A bound that joins the active set is marked in the history (an
// apostrophe under "Ac2") and counted under "Act".
TEST_F(Support, HistoryMarksTheBoundsThatBecomeActive) {
    TechniqueProblem t(bounded_problems()[1], kTechQuanew, false);  // HS4: both bounds end active
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    EXPECT_EQ(run_direct(&t), kNlpAllFixed);
    znlpptm(&t.p, kNlpAllFixed, 0);  // closes and delivers the history
    const JsonValue out = document()["steps"][0]["output"];
    JsonValue hist;
    for (size_t i = 0; i < out.size(); ++i)
        if (out[i]["name"].is_string() && out[i]["name"].str() == "IterHist") hist = out[i];
    ASSERT_TRUE(hist.is_object());
    const JsonValue rows = hist["rows"];
    int marks = 0;
    for (size_t r = 0; r < rows.size(); ++r) marks += rows[r][5].str() == "'";
    EXPECT_GE(marks, 1);
    EXPECT_EQ(rows[rows.size() - 1][4].number(), 2.0);
}

}  // namespace
