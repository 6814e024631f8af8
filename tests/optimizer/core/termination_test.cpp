// The termination test: counted criteria, the fixed-parameter stop, the
// conversion of a technique's stop while a criterion counts, ABSCONV before
// the minimum iterations, the limits, the switch to central differences,
// the start call's history tables and the relative parameter change.
#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <utility>
#include <vector>

#include "host/fields.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "velix/messages.h"

namespace {

using namespace velix::test;

double zero(const double*) { return 0.0; }

class Termination : public NlpStep {
protected:
    // A problem between iterations: f fell from fPrev to f, x moved.
    void iterate(double fPrev, double f, double step = 1.0) {
        t.p.iter.fPrev = fPrev;
        t.p.iter.f = f;
        t.xBase = t.x;
        t.x[0] += step;
        t.p.run.iteration += 1;
    }
    // Every criterion counts once, and no measure is small unless a test
    // says so.
    void SetUp() override {
        NlpStep::SetUp();
        for (int k = 2; k <= 9; ++k) t.critCounts[k - 1] = 1;
        t.p.iter.maxProjGrad = t.p.iter.gconvMeasure = t.p.iter.scaledGradMax = t.p.iter.lmGconvMeasure = 1.0;
    }
    TestProblem t{{1.0, 2.0}, zero};
};

TEST_F(Termination, CountedCriterionNeedsSuccessiveIterations) {
    t.p.opt.gConv = 0;
    t.p.opt.absGConv = 0;
    t.p.iter.maxProjGrad = 1;
    t.p.iter.gconvMeasure = 1e-5;  // small enough that a test on f alone may end the run
    t.p.opt.fConv = 1e-3;
    t.critCounts[4] = 3;  // FCONV three times in a row
    const double f[] = {10, 9.999, 9.998, 5, 4.999, 4.998, 4.997};
    const int32_t want[] = {0, 0, 0, 0, 0, kNlpFConv};
    for (int i = 0; i < 6; ++i) {
        iterate(f[i], f[i + 1]);
        EXPECT_EQ(znlptrm(&t.p, 1), want[i]) << "iteration " << i + 1;
    }
}

// A step that stalls while the gradient's measure still promises a
// reduction of a tenth of f is no convergence on the preset tests of f or
// x; the same step with a measure of 1e-5 f is.  Thresholds the user gave
// hold as they are defined, stalled or not.
TEST_F(Termination, StalledStepIsNoConvergenceWhileTheGradientMeasureIsLarge) {
    t.p.opt.gConv = 0;
    t.p.opt.fConv = 1e-3;
    t.p.opt.xConv = 1e-3;
    t.p.opt.absXConv = 1e-3;
    t.p.opt.presetCriteria = ~0;
    t.p.iter.gconvMeasure = 1.0;  // f is 10
    iterate(10.0, 10.0, 1e-6);
    EXPECT_EQ(znlptrm(&t.p, 1), 0);
    t.p.iter.gconvMeasure = 1e-4;
    iterate(10.0, 10.0, 1e-6);
    EXPECT_NE(znlptrm(&t.p, 1), 0);
    t.p.opt.presetCriteria = 0;
    t.p.iter.gconvMeasure = 1.0;
    iterate(10.0, 10.0, 1e-6);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpXConv);
}

// A preset criterion's claim is measured with the Hessian slot's matrix:
// f = (x0^2 + 1e-10 x1^2) / 2 at (0, 1e6) has g'H^-1 g = 100 with the true
// H = diag(1, 1e-10), 1e-8 with H = I.  A refused claim moves x along
// -H^-1 g, here to the minimum; with refusals used up the run stops
// without a criterion.  A threshold the user gave is checked the same way
// unless it asks for less than the check: a GCONV of 1e-6 is the user's
// own definition of convergence, one of 1e-8 and an ABSGCONV of any size
// are not.
double flat = 1.0;  // the second diagonal element of H

int32_t diagonal_hessian(NlpProblem* p) {
    p->hess.hessian[0] = 1.0;
    p->hess.hessian[1] = 0.0;
    p->hess.hessian[2] = flat;
    return 0;
}

TEST(TerminationClaims, PresetClaimIsCheckedWithTheHessianSlotsMatrix) {
    TestProblem t{{0.0, 1e6}, [](const double* x) { return 0.5 * (x[0] * x[0] + 1e-10 * x[1] * x[1]); },
                  [](const double* x, double* g) { g[0] = x[0], g[1] = 1e-10 * x[1]; }};
    t.p.cb.hessianFn = diagonal_hessian;
    t.p.opt.presetCriteria = ~0;
    auto at_claim = [&] {
        t.x = {0.0, 1e6};
        t.grad = {0.0, 1e-4};
        t.p.iter.f = 50.0;
        t.p.iter.maxProjGrad = 1e-4;
    };
    at_claim();
    flat = 1.0;
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpAbsGConv), kNlpAbsGConv);
    EXPECT_EQ(t.x[1], 1e6);
    flat = 1e-10;
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpGConv), kNlpGConv);
    EXPECT_NEAR(t.x[1], 0.0, 1e-6);
    EXPECT_NEAR(t.p.iter.f, 0.0, 1e-12);
    EXPECT_NEAR(t.grad[1], 0.0, 1e-12);  // the gradient of the new point
    at_claim();
    t.p.run.claimRefusals = 1000;
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpGConv), kNlpTechniqueStop7);
    EXPECT_NEAR(t.p.iter.gconvMeasure, 100.0, 1e-6);
    EXPECT_EQ(t.x[1], 1e6);  // x and the gradient as they were
    EXPECT_EQ(t.grad[1], 1e-4);
    t.p.opt.presetCriteria = 0;
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpGConv), kNlpTechniqueStop7);
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpAbsGConv), kNlpTechniqueStop7);
    t.p.opt.gConv = 1e-6;
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpGConv), kNlpGConv);
    // Met together with a checked criterion, the looser one ends the run.
    EXPECT_EQ(znlp_verify_claim(&t.p, kNlpGConv2, (1u << kNlpGConv) | (1u << kNlpGConv2)), kNlpGConv);
    EXPECT_EQ(t.x[1], 1e6);
}

// The final gradient is large by |g_j| / sqrt(|f| H_jj), which a change of
// a parameter's units (g2 / c, H22 / c^2) leaves as it is: with H22 = 1 and
// f = 1, g2 = 1e-2 is large and 1e-4 (what the default GCONV allows) is
// not, at every c.  A gradient within ABSGCONV or a Newton step below
// sqrt(eps) of the parameter is never large; without a Hessian slot the
// absolute bound 1e-3 stands.
TEST_F(Termination, FinalGradientIsLargeInTheScaleOfTheParameters) {
    t.p.cb.hessianFn = diagonal_hessian;
    t.p.opt.absGConv = 0.0;
    auto large = [&](double g2, double f) {
        t.grad = {0.0, g2};
        t.p.iter.maxProjGrad = g2;
        t.p.iter.f = f;
        t.hessian = {7.0, 7.0, 7.0};
        const bool out = znlp_final_gradient_large(&t.p);
        EXPECT_EQ(t.hessian, (std::vector<double>{7.0, 7.0, 7.0}));  // the technique's matrix is kept
        EXPECT_EQ(t.grad[1], g2);
        return out;
    };
    for (const double c : {1e-6, 1.0, 1e6}) {
        SCOPED_TRACE(c);
        flat = 1.0 / (c * c);
        t.x = {1.0, 2.0 * c};
        EXPECT_TRUE(large(1e-2 / c, 1.0));
        EXPECT_FALSE(large(1e-4 / c, 1.0));
    }
    flat = 1.0;
    t.x = {1.0, 2.0};
    t.p.opt.absGConv = 1e-2;
    EXPECT_FALSE(large(1e-2, 1.0));
    t.p.opt.absGConv = 0.0;
    EXPECT_FALSE(large(1e-14, 1e-30));
    t.p.cb.hessianFn = nullptr;
    EXPECT_TRUE(large(2e-3, 1e-30));
}

// Every parameter held by a bound ends the run after the start test where
// the bounds' multipliers (the gradient's components, signed by the side)
// are those of a minimum; not where a bound holds x against a descent
// direction, nor at a point that breaks a nonlinear constraint beyond the
// feasibility tolerance.
TEST_F(Termination, AllParametersFixedStopsAfterTheStartTest) {
    std::vector<int32_t> state = {1, -1}, order = {0, 1};
    t.p.active.boundState = state.data();
    t.p.active.freeList = order.data();
    t.p.active.nActiveBounds = 2;
    t.p.opt.claimsUnchecked = 1;
    t.grad[0] = 2.0;
    t.grad[1] = -3.0;
    EXPECT_NE(znlptrm(&t.p, 10), kNlpAllFixed);
    iterate(1, 1);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpAllFixed);
    t.grad[1] = 3.0;
    iterate(1, 1);
    EXPECT_NE(znlptrm(&t.p, 1), kNlpAllFixed);
    t.grad[1] = -3.0;
    t.p.shape.hasNlinCon = 1;
    t.p.iter.maxConViolation = 10 * t.p.opt.feasTol;
    iterate(1, 1);
    EXPECT_NE(znlptrm(&t.p, 1), kNlpAllFixed);
}

// Under nonlinear constraints a criterion met at a point that breaks them
// by more than the feasibility tolerance ends nothing: the technique goes
// on towards them.  Within the tolerance it ends the run.
TEST_F(Termination, NoClaimOutsideTheNonlinearConstraints) {
    t.p.shape.hasNlinCon = 1;
    t.p.opt.claimsUnchecked = 1;
    t.p.iter.gconvMeasure = 1e-12;  // GCONV met
    t.p.iter.maxConViolation = 2 * t.p.opt.feasTol;
    iterate(1, 1);
    EXPECT_EQ(znlptrm(&t.p, 1), 0);
    t.p.iter.maxConViolation = 0.5 * t.p.opt.feasTol;
    iterate(1, 1);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpGConv);
}

TEST_F(Termination, StopWhileCountingNamesTheCriterion) {
    t.critCounts[5] = 2;   // GCONV required twice
    t.critCounts[15] = 1;  // and held once so far
    EXPECT_EQ(znlptrm(&t.p, kNlpLimit), kNlpCountingBase + kNlpGConv);
    EXPECT_EQ(znlptrm(&t.p, -7), -7);
    t.critCounts[15] = 0;
    EXPECT_EQ(znlptrm(&t.p, kNlpRose), kNlpRose);
}

TEST_F(Termination, AbsConvEndsBeforeMinIterOthersDoNot) {
    t.p.opt.minIter = 5;
    t.p.opt.absConv = -1.0;
    iterate(0, -2.0);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpAbsConv);
    t.p.opt.absConv = -100;
    t.p.opt.absFConv = 10;  // a reduction of 2 meets ABSFCONV
    t.p.iter.gconvMeasure = 1e-6;
    iterate(-2, -4);
    EXPECT_EQ(znlptrm(&t.p, 1), 0);
    t.p.opt.minIter = 0;
    iterate(-4, -6);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpAbsFConv);
    // Maximising: -f is compared with ABSCONV.
    t.p.shape.maximize = 1;
    t.p.opt.absConv = 3;
    iterate(-6, -4);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpAbsConv);
}

TEST_F(Termination, RiseAndFailedEvaluation) {
    t.p.opt.absFConv = 0.5;
    iterate(1.0, 2.0);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpRose);
    t.p.run.evalStatus = 1;
    t.p.run.lastEval = kLastObjective;
    iterate(2.0, 1.0);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpFinalFunction);
    // What failed was the gradient, at a point whose objective was computed.
    t.p.run.lastEval = kLastGradient;
    iterate(1.0, 0.5);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpFinalDerivative);
}

TEST_F(Termination, LimitsApplyToGoOnAndRestart) {
    t.p.opt.absGConv = 0;
    t.p.opt.gConv = 0;
    t.p.iter.maxProjGrad = t.p.iter.gconvMeasure = 1;
    t.p.opt.fConv = 0;
    t.p.opt.maxIter = 3;
    iterate(10, 5);
    EXPECT_EQ(znlptrm(&t.p, 1), 0);
    t.p.run.iteration = 3;
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpLimit);
    t.p.run.iteration = 1;
    t.p.opt.maxFunc = 0;
    EXPECT_EQ(znlptrm(&t.p, 0), kNlpLimit);
    t.p.opt.maxFunc = 100;
    t.p.run.timeUsed = wzdttme() - 10;
    t.p.opt.maxTime = 1;
    EXPECT_EQ(znlptrm(&t.p, 0), kNlpTimeLimit);
}

TEST_F(Termination, MissingPerturbationSizeKeepsTheCriterion) {
    t.p.opt.absGConv = 1;
    t.p.iter.maxProjGrad = 0.5;
    iterate(2, 1);
    EXPECT_EQ(znlptrm(&t.p, 1), kNlpAbsGConv);
    EXPECT_EQ(log().find("not available"), std::string::npos) << log();
}

TEST_F(Termination, ForwardDifferencesBecomeCentralNearTheSolution) {
    t.p.opt.absGConv = 1e-5;
    t.p.opt.gConv = 0;
    t.p.opt.fdSwitchFactor = 10;
    t.p.opt.derivDigits = 13111;
    t.p.iter.maxProjGrad = 1;
    t.p.iter.gconvMeasure = 1;
    iterate(10, 5);
    EXPECT_EQ(znlptrm(&t.p, 1), 0);
    EXPECT_EQ(t.p.opt.derivDigits, 13111);  // still far away
    t.p.iter.maxProjGrad = 5e-5;             // within 10 ABSGCONV
    iterate(5, 4);
    EXPECT_EQ(znlptrm(&t.p, 1), 0);
    EXPECT_EQ(t.p.opt.derivDigits, 14222);  // the constraint digit stays
}

TEST_F(Termination, StartCallOpensTheHistoryWithoutARow) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    t.p.opt.technique = kTechTrureg;
    t.p.iter.f = 3.0;
    znlptrm(&t.p, 10);
    ASSERT_NE(t.p.out.iterHistTable, nullptr);
    iterate(3.0, 2.0);
    znlptrm(&t.p, 1);
    znlpptm(&t.p, 0, 0);  // closes and delivers the history
    const JsonValue start = item("IterStart");
    ASSERT_TRUE(start.is_object());
    EXPECT_EQ(start["entries"].size(), 4u);  // active count, objective, gradient, radius
    const JsonValue hist = item("IterHist");
    ASSERT_EQ(hist["rows"].size(), 1u);
    EXPECT_EQ(hist["rows"][0][0].number(), 1);
    EXPECT_EQ(hist["rows"][0][7].number(), 1.0);  // DifCrit
}

TEST_F(Termination, SummaryReportsTheReasonOfTheStop) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    t.p.opt.technique = kTechQuanew;
    t.p.run.iteration = 5;
    t.p.opt.maxIter = 37;
    t.p.opt.maxFunc = 91;
    t.p.iter.f = 1.5;
    znlpptm(&t.p, kNlpLimit, 0);
    EXPECT_TRUE(item("IterStop").is_object());
    const JsonValue conv = item("ConvergenceStatus");
    ASSERT_TRUE(conv.is_object());
    EXPECT_EQ(conv["rows"][0][0].number(), 2.0);
    // The row carries the limits, not the bare message pattern.
    const std::string reason = conv["rows"][0][1].str();
    EXPECT_NE(reason.find("limit of 37 iterations or 91 function calls"), std::string::npos) << reason;
    EXPECT_EQ(reason.find('%'), std::string::npos) << reason;
    // The technique's name stands unpadded, and the warning names the limits.
    EXPECT_NE(log().find("Optimization (1) of technique QUANEW did not converge."), std::string::npos) << log();
    EXPECT_NE(log().find("technique QUANEW stopped at its limit of 37 iterations or 91 function calls."),
              std::string::npos) << log();
}

// The Reason cell holds the text of the message the log gets, without the
// severity that starts the log line.
TEST_F(Termination, StatusReasonIsTheLoggedTextWithoutItsSeverity) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    t.p.opt.technique = kTechQuanew;
    t.p.run.iteration = 5;
    for (int32_t status : {kNlpLimit, kNlpTechniqueStop6, kNlpTechniqueStop7, kNlpRose}) znlpptm(&t.p, status, 1);
    const JsonValue out = document()["steps"][0]["output"];
    std::vector<std::string> reasons;
    for (size_t i = 0; i < out.size(); ++i)
        if (out[i]["name"].is_string() && out[i]["name"].str() == "ConvergenceStatus")
            reasons.push_back(out[i]["rows"][0][1].str());
    ASSERT_EQ(reasons.size(), 4u);
    for (const std::string& reason : reasons) {
        for (const char* severity : {"ERROR", "WARNING", "NOTE"}) EXPECT_NE(reason.rfind(severity, 0), 0u) << reason;
        EXPECT_NE(log().find(": " + reason), std::string::npos) << reason << "\n" << log();
    }
}

// Every counted criterion, GCONV2 the last of them, names itself and its
// required count in the status row.
TEST_F(Termination, SummaryNamesEachConvergenceCriterion) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    t.p.opt.technique = kTechNrlins;
    t.critCounts[8] = 2;
    znlpptm(&t.p, kNlpGConv2, 0);
    const JsonValue conv = item("ConvergenceStatus");
    ASSERT_TRUE(conv.is_object());
    EXPECT_EQ(conv["rows"][0][0].number(), 0.0);
    const std::string reason = conv["rows"][0][1].str();
    EXPECT_NE(reason.find("GCONV2"), std::string::npos) << reason;
    EXPECT_NE(reason.find("(2)"), std::string::npos) << reason;
}

TEST_F(Termination, SummaryAfterAnInfeasibleStartHasNoIterStop) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    t.p.iter.f = 1.0;
    znlpptm(&t.p, kNlpInfeasible, 1);
    EXPECT_FALSE(item("IterStop").is_object());
    ASSERT_TRUE(item("ConvergenceStatus").is_object());
    EXPECT_EQ(item("ConvergenceStatus")["rows"][0][1].str(), "No feasible start point");
}

TEST_F(Termination, OptionTableOnlyAbovePrintLevelThree) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 3;
    pritech(&t.p);
    EXPECT_TRUE(item("ProblemDescription").is_object());
    EXPECT_FALSE(item("InputOpts").is_object());
    t.p.opt.printLevel = 4;
    pritech(&t.p);
    EXPECT_TRUE(item("InputOpts").is_object());
}

// The update and line search each technique takes when UPDATE= and
// LINESEARCH= are not given, as the start of its run names them: the
// update note (none without an update) and the "Line Search Method" of the
// option table (-1: the table lists none for the technique).
TEST_F(Termination, DefaultUpdateAndLineSearchOfEveryTechnique) {
    const struct {
        int32_t technique, updateNote, lineSearch;
    } cases[] = {{kTechQuanew, kMsgNlpBfgsUpdate, 2}, {kTechDualQuanew, kMsgNlpDualBfgsUpdate, 2},
                 {kTechDbldog, kMsgNlpDualBfgsUpdate, -1}, {kTechHyquan, kMsgNlpDualBfgsUpdate, 12},
                 {kTechCongra, kMsgNlpPowellBealeUpdate, 2}, {kTechNewrap, 0, 2}, {kTechGaunew, 0, 11},
                 {kTechTrureg, 0, -1}, {kTechNrridg, 0, -1}, {kTechNrlins, 0, -1}, {kTechLevmar, 0, -1},
                 {kTechNmsimp, 0, -1}, {kTechNmsim2, 0, -1}, {kTechQuadas, 0, -1}, {kTechVmcwd, 0, -1}};
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 4;
    for (const auto& c : cases) {
        const size_t before = document()["steps"][0]["output"].size();
        t.p.opt.technique = c.technique;
        t.p.opt.update = t.p.opt.lineSearch = 0;
        znlp_default_options(&t.p);
        pritech(&t.p);
        const JsonValue out = document()["steps"][0]["output"];
        int32_t updateNote = 0;
        double lineSearch = -1.0;
        for (size_t i = before; i < out.size(); ++i) {
            const JsonValue& item = out[i];
            const JsonValue message = item["textMessage"];
            const int32_t number = message.is_object() ? static_cast<int32_t>(message["number"].number()) : 0;
            if (item["type"].str() == "note" && number >= kMsgNlpBfgsUpdate && number <= kMsgNlpPowellBealeUpdate + 3)
                updateNote = number;
            if (!item["entries"].is_array()) continue;
            for (size_t k = 0; k < item["entries"].size(); ++k)
                if (item["entries"][k]["label"].str() == "Line Search Method") lineSearch = item["entries"][k]["value"].number();
        }
        EXPECT_EQ(updateNote, c.updateNote) << "technique " << c.technique;
        EXPECT_EQ(lineSearch, c.lineSearch) << "technique " << c.technique;
    }
}

TEST_F(Termination, RelativeParameterChange) {
    const double x[] = {1.0, 100.0, 0.0}, y[] = {1.5, 110.0, 0.0};
    EXPECT_DOUBLE_EQ(reldx(3, 0.0, x, y), 0.5 / 1.5);
    // The floor replaces small magnitudes; below the tiny threshold no
    // change is none and any change is infinite.
    EXPECT_DOUBLE_EQ(reldx(3, 10.0, x, y), 0.5 / 10.0 > 10.0 / 110 ? 0.05 : 10.0 / 110);
    const double z[] = {-1.5e-304}, w[] = {1.5e-304};
    EXPECT_EQ(reldx(1, 0.0, z, z), 0.0);
    EXPECT_EQ(reldx(1, 0.0, z, w), DBL_MAX);
    EXPECT_DOUBLE_EQ(xdif(3, x, y), std::sqrt(0.25 + 100.0));
    EXPECT_EQ(xdif(0, x, y), 0.0);
}

}  // namespace
