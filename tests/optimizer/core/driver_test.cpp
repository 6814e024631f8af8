// The driver on plain C++ problems: start-phase evaluations and their
// failures, the limit tests before the technique, the dispatch and the
// pending technique slot, the hook block's overrides and post-run hooks, and
// the run's tables in the JSON document.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/fields.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/pending.h"
#include "platform/step_exit.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace {

using namespace velix::test;

double quadratic(const double* x) { return (x[0] - 1) * (x[0] - 1) + 4 * (x[1] + 2) * (x[1] + 2); }
void quadratic_gradient(const double* x, double* g) {
    g[0] = 2 * (x[0] - 1);
    g[1] = 8 * (x[1] + 2);
}

int hookCalls[3];  // covariance (flag 0, 1) and matrix print with -1
void covariance_hook(NlpProblem*, int32_t flag) { hookCalls[flag == 0 ? 0 : 1] += 1; }
void matrix_hook(NlpProblem*, int32_t flag) {
    if (flag == -1) hookCalls[2] += 1;
}

class Driver : public NlpStep {
protected:
    void SetUp() override {
        NlpStep::SetUp();
        hookCalls[0] = hookCalls[1] = hookCalls[2] = 0;
        slot_ = znlp_dispatch_slot("znlpqun");
        saved_ = *slot_;
        *slot_ = stand_in_technique;
    }
    void TearDown() override {
        *slot_ = saved_;
        NlpStep::TearDown();
    }
    void with_hooks(TestProblem* t) {
        t->p.hooks = &t->hooks;
        t->hooks.post.covarianceHook = covariance_hook;
        t->hooks.post.matrixPrintHook = matrix_hook;
    }
    NlpTechniqueFn* slot_ = nullptr;
    NlpTechniqueFn saved_ = nullptr;
};

TEST_F(Driver, StartPhaseEvaluatesTheStartPoint) {
    TestProblem t({0.0, 0.0}, quadratic, quadratic_gradient);
    with_hooks(&t);
    EXPECT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.f, 17.0);
    EXPECT_DOUBLE_EQ(t.p.iter.fPrev, 17.0);
    EXPECT_DOUBLE_EQ(t.grad[1], 16.0);
    EXPECT_TRUE(wzmis(t.p.iter.expectedReduction));  // only least squares predict a reduction
    EXPECT_EQ(t.p.run.evalPhase, kPhaseStart);
    EXPECT_EQ(hookCalls[0], 1);
    t.p.shape.leastSquares = 1;
    EXPECT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.expectedReduction, 17.0 / 20);
}

TEST_F(Driver, FailedStartObjectiveLeavesValuesMissingAndSkipsTheChecks) {
    TestProblem t({0.0, 0.0}, quadratic, quadratic_gradient);
    with_hooks(&t);
    t.hooks.print.printStart = 1;
    t.p.opt.printLevel = 3;
    t.failObjectiveAt = 1;
    EXPECT_EQ(znlpdrv(&t.p, 1, 0, 1, 0), kNlpStartFunction);
    EXPECT_EQ(t.p.run.lastStatus, kNlpStartFunction);
    EXPECT_TRUE(wzmis(t.p.iter.f));
    EXPECT_TRUE(wzmis(t.grad[0]) && wzmis(t.grad[1]));
    EXPECT_EQ(hookCalls[0], 0);
    EXPECT_EQ(hookCalls[2], 1);  // the matrix print of a failed start
    EXPECT_EQ(t.p.run.nGrad, 0);
}

TEST_F(Driver, LimitsAreTestedAfterTheTechniqueNone) {
    TestProblem t({0.0, 0.0}, quadratic, quadratic_gradient);
    ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    t.p.opt.maxIter = 0;
    t.p.opt.technique = kTechNone;
    EXPECT_EQ(znlpdrv(&t.p, 2, 0, 0, 0), 0);
    t.p.opt.technique = kTechQuanew;
    const int32_t before = t.p.run.nFun;
    EXPECT_EQ(znlpdrv(&t.p, 2, 0, 0, 0), kNlpLimit);
    EXPECT_EQ(t.p.run.nFun, before + 1);  // -8 is usable: the final point is evaluated
    EXPECT_EQ(t.p.run.evalPhase, kPhaseFinal);
    t.p.opt.maxIter = 10;
    t.p.opt.maxTime = 0;
    EXPECT_EQ(znlpdrv(&t.p, 2, 0, 0, 0), kNlpTimeLimit);
}

TEST_F(Driver, UnbuiltTechniqueIsReportedAndNotUsable) {
    TestProblem t({0.0, 0.0}, quadratic, quadratic_gradient);
    with_hooks(&t);
    ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    // A slot that holds the routine of a technique not available.
    NlpTechniqueFn* slot = znlp_dispatch_slot("znlpqar");
    const NlpTechniqueFn built = *slot;
    *slot = znlp_technique_pending;
    t.p.opt.technique = kTechQuadas;
    t.p.opt.techVariant = 1;
    const int32_t before = t.p.run.nFun;
    EXPECT_EQ(znlpdrv(&t.p, 2, 0, 0, 0), kNlpNotUsable);
    EXPECT_EQ(t.p.run.nFun, before);  // no final evaluation
    EXPECT_EQ(hookCalls[1], 0);   // no covariance after an unusable run
    EXPECT_NE(log().find("Technique 16 of the optimizer is not available"), std::string::npos) << log();
    *slot = built;
    // An unknown code runs nothing, and the final point is still evaluated.
    t.p.opt.technique = 6;
    t.p.opt.techVariant = 2;
    EXPECT_EQ(znlpdrv(&t.p, 2, 0, 0, 0), 0);
    EXPECT_EQ(t.p.run.nFun, before + 1);
}

TEST_F(Driver, HookSlotsOverrideTheProblemsSlots) {
    TestProblem t({0.0, 0.0}, quadratic, quadratic_gradient);
    t.p.hooks = &t.hooks;
    t.hooks.eval.objectiveFn = [](NlpProblem* p) {
        p->iter.f = -1.0;
        return 0;
    };
    EXPECT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ(t.p.iter.f, -1.0);
    EXPECT_EQ(t.p.run.nFun, 0);
}

TEST_F(Driver, StandInRunReachesTheOptimumAndPrintsItsTables) {
    TestProblem t({0.0, 0.0}, quadratic, quadratic_gradient);
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 4;
    t.critCounts[4] = 1;  // FCONV once
    ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0);
    const int32_t status = znlpdrv(&t.p, 2, 0, 0, 0);
    EXPECT_GE(status, kNlpAbsConv);
    EXPECT_LE(status, kNlpGConv2);
    EXPECT_NEAR(t.x[0], 1.0, 1e-4);
    EXPECT_NEAR(t.x[1], -2.0, 1e-4);
    for (const char* name : {"InputOpts", "ProblemDescription", "IterStart", "IterStop"})
        EXPECT_TRUE(item(name).is_object()) << name;
    const JsonValue hist = item("IterHist");
    ASSERT_TRUE(hist.is_object());
    const char* columns[] = {"Iter", "Ac1", "Rest", "NFun", "Act", "Ac2", "OptCrit", "DifCrit",
                             "MaxGrad", "Alpha", "Slope"};
    ASSERT_EQ(hist["columns"].size(), std::size(columns));
    for (size_t i = 0; i < std::size(columns); ++i) EXPECT_EQ(hist["columns"][i]["name"].str(), columns[i]);
    // One row per iteration, the last one at the final objective.
    ASSERT_EQ(hist["rows"].size(), static_cast<size_t>(t.p.run.iteration));
    EXPECT_NEAR(hist["rows"][hist["rows"].size() - 1][6].number(), 0.0, 1e-8);
    const JsonValue conv = item("ConvergenceStatus");
    ASSERT_TRUE(conv.is_object());
    EXPECT_EQ(conv["rows"][0][0].number(), 0.0);
    EXPECT_EQ(item("InputOpts")["path"].str(), "Orvo.NLP.InputOpts");
}

TEST_F(Driver, UsableStatuses) {
    for (int32_t s : {0, 1, 10, 100, 106, -5, -8, -9}) EXPECT_TRUE(nlp_status_usable(s)) << s;
    // -10 (no feasible start) is no solution, although it is below -5.
    for (int32_t s : {-1, -2, -3, -4, -10, -11}) EXPECT_FALSE(nlp_status_usable(s)) << s;
}

TEST_F(Driver, ExceptionHandlerStopsOnAllButUnderflow) {
    HostMathException e;
    for (int32_t kind : {1, 2, 3, 5, 6, 12, 13, 14, 15, 99}) {
        e.kind = kind;
        EXPECT_EQ(znlpmer(&e), -1) << kind;
    }
    e.kind = 4;
    EXPECT_EQ(znlpmer(&e), 0);
    EXPECT_NE(log().find("Underflow error: Should not be trapped"), std::string::npos);
}

// With a trap in hand the verdict goes back to the host: -1 ends the step
// with -1 as its host status after the note, an underflow lets the
// computation go on; the trap word is idle again after either.
TEST_F(Driver, ATrappedExceptionEndsTheStepWithTheHandlersVerdict) {
    HostStepBlock* step = v_global_gcb_anchor->step;
    HostMathException e;
    e.kind = 13;
    step->trapWord = kTrapWordIdle + 1;
    int32_t code = 0;
    try {
        znlpmer(&e);
    } catch (const velix::platform::StepExit& x) {
        code = x.code;
    }
    EXPECT_EQ(code, -1);
    EXPECT_NE(log().find("Division by 0 error trapped"), std::string::npos);
    EXPECT_EQ(step->trapWord, kTrapWordIdle);
    e.kind = 11;
    step->trapWord = kTrapWordIdle + 1;
    EXPECT_EQ(znlpmer(&e), 0);
    EXPECT_EQ(step->trapWord, kTrapWordIdle);
}

}  // namespace

namespace {

struct Standard {
    const char* name;
    std::vector<double> start, optimum;
    Objective f;
    Gradient g;
};

// The standard starts and optima (More, Garbow and Hillstrom, 1981).
TEST_F(Driver, StandInReachesTheOptimaOfTheStandardProblems) {
    const Standard problems[] = {
        {"Rosenbrock", {-1.2, 1.0}, {1.0, 1.0}, rosenbrock, rosenbrock_gradient},
        {"Powell singular", {3.0, -1.0, 0.0, 1.0}, {0.0, 0.0, 0.0, 0.0}, powell_singular, powell_singular_gradient},
        {"helical valley", {-1.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, helical_valley, helical_valley_gradient},
        {"Wood", {-3.0, -1.0, -3.0, -1.0}, {1.0, 1.0, 1.0, 1.0}, wood, wood_gradient},
    };
    for (const Standard& s : problems) {
        TestProblem t(s.start, s.f, s.g);
        t.p.cb.updateFn = znlpbfg;
        t.p.cb.lineSearchFn = znlpls2;
        t.p.opt.maxIter = 2000;
        t.p.opt.maxFunc = 10000;
        t.p.opt.absGConv = 1e-9;
        for (int k = 2; k <= 9; ++k) t.critCounts[k - 1] = 1;
        ASSERT_EQ(znlpdrv(&t.p, 1, 0, 0, 0), 0) << s.name;
        double fPrev = t.p.iter.f;
        const int32_t status = znlpdrv(&t.p, 2, 0, 0, 0);
        EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << s.name << ": status " << status;
        // Powell's singular function has a singular Hessian at its optimum:
        // the parameters converge only as the fourth root of f.
        const double tol = s.optimum[0] == 0.0 ? 2e-2 : 1e-4;
        for (size_t i = 0; i < s.start.size(); ++i) EXPECT_NEAR(t.x[i], s.optimum[i], tol) << s.name << " x" << i;
        EXPECT_LT(t.p.iter.f, 1e-8) << s.name;
        EXPECT_LT(t.p.iter.f, fPrev) << s.name;
    }
}

}  // namespace
