// The start and result tables: the columns of "ParameterEstimates" at the
// start and at the solution, t values against Student's t, bound marks,
// signs when maximising, the detail levels; and the linear constraint
// tables written as equations.
#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

#include "host/fields.h"
#include "numerics/distributions.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "tests/optimizer/reporting/reporting_fixture.h"

namespace velix::test {
namespace {

class StartResult : public NlpStep {
protected:
    std::vector<std::string> columns(const JsonValue& t) const {
        std::vector<std::string> out;
        for (size_t j = 0; j < t["columns"].size(); ++j) out.push_back(t["columns"][j]["name"].str());
        return out;
    }
    bool logged_note(int number) const {
        const std::string text = velix::platform::message_text(549, number);
        const JsonValue items = document()["steps"][0]["output"];
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]["type"].str() == "note" && items[i]["text"].str() == text) return true;
        return false;
    }
};

// The exponential model with printing on and its gradient at x.
struct Printed : ReportingProblem {
    std::vector<double> residuals = std::vector<double>(5);
    explicit Printed(HostObject* manager) {
        for (int i = 0; i < 5; ++i) residuals[static_cast<size_t>(i)] = ExpModel::residual(p.x, i);
        p.funValues = residuals.data();
        p.out.kyrObject = manager;
        p.printLevel = 1.0;
        p.gradientFn = gradient;
        g = [](const double* x, double* out) {
            out[0] = out[1] = 0.0;
            for (int i = 0; i < 5; ++i) {
                double j[2];
                ExpModel::jacobian_row(x, i, j);
                out[0] += ExpModel::residual(x, i) * j[0];
                out[1] += ExpModel::residual(x, i) * j[1];
            }
        };
        g(p.x, p.gradient);
    }
};

TEST_F(StartResult, StartColumnsWithBounds) {
    Printed t(manager_);
    t.p.hasBounds = 1;
    t.lower[0] = 0.0;
    t.upper[1] = 5.0;
    znlppre(&t.p, -1, 0);
    const JsonValue pe = item("ParameterEstimates");
    ASSERT_FALSE(pe.is_null());
    EXPECT_EQ(columns(pe), (std::vector<std::string>{"Number", "Parameter", "Estimate", "GradObj", "LowerBC",
                                                     "UpperBC"}));
    EXPECT_EQ(pe["rows"][0][1].str(), "X1");
    EXPECT_EQ(pe["rows"][0][4].number(), 0.0);
    EXPECT_TRUE(pe["rows"][1][4].is_null());  // no lower bound
    EXPECT_EQ(pe["rows"][1][5].number(), 5.0);
    EXPECT_NEAR(pe["rows"][1][3].number(), t.grad[1], 1e-15);
    EXPECT_TRUE(item("OptStartRes").is_null());
}

TEST_F(StartResult, ResultTValuesAndMarks) {
    Printed t(manager_);
    t.hooks.lsCovKind = 2;
    znlpcma(&t.p, 1);
    t.p.hasBounds = 1;
    t.lower[1] = t.x[1] - 1e-12;  // within the tolerance, not in the active set
    znlppre(&t.p, 1, 1);
    const JsonValue pe = item("ParameterEstimates");
    ASSERT_FALSE(pe.is_null());
    EXPECT_EQ(columns(pe), (std::vector<std::string>{"Number", "Parameter", "Estimate", "AppStdErr", "tValue",
                                                     "Probt", "GradObj", "ActiveBC"}));
    const double se = t.stdErrors[0], tv = t.x[0] / se;
    EXPECT_NEAR(pe["rows"][0][3].number(), se, 1e-15);
    EXPECT_NEAR(pe["rows"][0][4].number(), tv, 1e-12);
    EXPECT_NEAR(pe["rows"][0][5].number(), zpgt2(tv * tv, 3), 1e-15);
    EXPECT_EQ(pe["rows"][1][7].str(), " Lower BC");
    EXPECT_EQ(pe["rows"][0][7].str(), "");
    // m = 5 functions: their values.
    const JsonValue fv = item("OptStartRes");
    ASSERT_FALSE(fv.is_null());
    EXPECT_EQ(fv["rows"][4][1].str(), "F5");
    EXPECT_EQ(fv["rows"][0][2].number(), t.residuals[0]);
}

TEST_F(StartResult, TValueEdgesAndMissingDf) {
    Printed t(manager_);
    t.hooks.errorDf = 3.0;
    t.x = {0.0, 1.0};
    t.stdErrors = {0.5, 0.0};  // estimate 0: t 0; standard error 0: 9999.99
    znlppre(&t.p, 1, 0);
    const JsonValue pe = item("ParameterEstimates");
    EXPECT_EQ(pe["rows"][0][4].number(), 0.0);
    EXPECT_EQ(pe["rows"][1][4].number(), 9999.99);

    Printed u(manager_);
    u.hooks.errorDf = 0.0;
    u.stdErrors = {0.5, 0.5};
    znlppre(&u.p, 1, 0);
    const JsonValue out = document()["steps"][0]["output"];
    const JsonValue last = out[out.size() - 2];  // the second ParameterEstimates, before its note
    EXPECT_EQ(last["rows"][0][3].number(), 0.5);
    EXPECT_TRUE(last["rows"][0][4].is_null());
    EXPECT_TRUE(last["rows"][0][5].is_null());
}

TEST_F(StartResult, MaximisingReversesGradientsAndObjective) {
    Printed t(manager_);
    t.p.maximize = 1;
    t.p.f = 2.5;
    znlppre(&t.p, -1, 0);
    const JsonValue pe = item("ParameterEstimates");
    EXPECT_NEAR(pe["rows"][0][3].number(), -t.grad[0], 1e-15);
    EXPECT_NEAR(pe["rows"][0][2].number(), t.x[0], 0.0);
    const JsonValue out = document()["steps"][0]["output"];
    EXPECT_NE(out[out.size() - 1]["text"].str().find("-2.5"), std::string::npos);
}

TEST_F(StartResult, DetailThreeWithActiveBoundsOnly) {
    Printed t(manager_);
    t.p.hasBounds = 1;
    t.boundState[1] = 1;
    t.lower[1] = t.x[1];
    t.p.nActiveBounds = 1;
    znlppre(&t.p, 3, 0);
    EXPECT_TRUE(logged_note(170));
    EXPECT_TRUE(item("Lagrange").is_null());
    EXPECT_TRUE(item("ProjGrad").is_null());
}

TEST_F(StartResult, NothingAtPrintLevelZero) {
    Printed t(manager_);
    t.p.printLevel = 0.0;
    znlppre(&t.p, -1, 1);
    EXPECT_EQ(document()["steps"][0]["output"].size(), 0u);
}

TEST_F(StartResult, AFailedSectionStartIsReportedOnceAndEndsTheTables) {
    Printed t(manager_);
    velix::platform::inject_method_failure(kKyrMethodBeginOutput, 1, -7);
    znlppre(&t.p, 1, 0);
    velix::platform::clear_injected_failures();
    const std::string l = log();
    size_t reports = 0;
    for (size_t at = l.find("host service failed"); at != std::string::npos;
         at = l.find("host service failed", at + 1))
        ++reports;
    EXPECT_EQ(reports, 1u) << l;
    EXPECT_EQ(document()["steps"][0]["output"].size(), 0u);
}

// Two linear rows: 2 x1 - x2 >= 1 and -x1 - x2 >= -3.
int32_t two_rows(NlpProblem*, int32_t k, double* row) {
    row[0] = k == 0 ? 2.0 : -1.0;
    row[1] = -1.0;
    return 0;
}

TEST_F(StartResult, LinearConstraintsAsEquations) {
    Printed t(manager_);
    double rhs[2] = {1.0, -3.0};
    t.x = {1.0, 1.0};  // row 0: residual 0 (ACT); row 1: residual 1 (blank)
    t.p.nLinCon = 2;
    t.p.hasLinCon = 1;
    t.p.linRhs = rhs;
    t.p.conRowFn = two_rows;
    pricon1(&t.p, -2);
    const JsonValue lc = item("LinCon");
    ASSERT_FALSE(lc.is_null());
    EXPECT_EQ(columns(lc), (std::vector<std::string>{"Number", "Residual", "Colon", "Restriction", "Left",
                                                     "Relation", "C1_1", "C2_1", "C3_1", "C4_1", "C1_2", "C2_2",
                                                     "C3_2", "C4_2"}));
    // Row 0: 1 <= + 2 * X1 - 1 * X2.
    EXPECT_EQ(lc["rows"][0][3].str(), "ACT");
    EXPECT_EQ(lc["rows"][0][4].number(), 1.0);
    EXPECT_EQ(lc["rows"][0][5].str(), " <=");
    EXPECT_EQ(lc["rows"][0][6].str(), " +");
    EXPECT_EQ(lc["rows"][0][7].number(), 2.0);
    EXPECT_EQ(lc["rows"][0][10].str(), " -");
    EXPECT_EQ(lc["rows"][0][13].str(), "X2");
    // Row 1 is turned: 3 >= + 1 * X1 + 1 * X2.
    EXPECT_EQ(lc["rows"][1][3].str(), "");
    EXPECT_EQ(lc["rows"][1][4].number(), 3.0);
    EXPECT_EQ(lc["rows"][1][5].str(), " >=");
    EXPECT_EQ(lc["rows"][1][6].str(), " +");
    EXPECT_EQ(lc["rows"][1][11].number(), 1.0);

    // Violated beyond the tolerance.
    t.x = {0.0, 0.0};
    pricon2(&t.p);
    const JsonValue sol = item("LinConSol");
    EXPECT_EQ(sol["rows"][0][1].str(), "VIO");
    EXPECT_EQ(sol["rows"][0][2].number(), -1.0);
    EXPECT_EQ(sol["rows"][0][4].number(), -1.0);
}

TEST_F(StartResult, NonlinearConstraintMarks) {
    // Two inequalities c(x) >= 0 at the result: one short by 0.0005 (marked
    // "*?*" and counted in the note), one by 0.002 (violated).
    Printed t(manager_);
    double values[2] = {-0.0005, -0.002};
    t.p.nNlinCon = 2;
    t.p.hasNlinCon = 1;
    t.p.conValues = values;
    prinlc(&t.p, 1);
    const JsonValue nl = item("NonLinCons");
    ASSERT_FALSE(nl.is_null());
    EXPECT_EQ(columns(nl), (std::vector<std::string>{"lbr", "Number", "rbr", "Residual", "Restriction", "LinDep"}));
    EXPECT_EQ(nl["rows"][0][3].number(), 0.0005);
    EXPECT_EQ(nl["rows"][0][4].str(), "   *?*");
    EXPECT_EQ(nl["rows"][1][4].str(), "Violated");
    const JsonValue out = document()["steps"][0]["output"];
    EXPECT_NE(out[out.size() - 1]["text"].str().find("1 nonlinear"), std::string::npos);
}

}  // namespace
}  // namespace velix::test
