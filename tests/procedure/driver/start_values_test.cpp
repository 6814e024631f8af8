// Default covariances of the exogenous manifest variables and the start
// values of the parameters, on LINEQS models read by cosinit and a sample
// moment matrix set by the test: the free covariances take the sample
// values and give back their degrees of freedom, a fixed value that differs
// from the sample is kept and noted in the listing, a covariance the model
// does not hold is reported in the log, and the parameters named at several
// elements start at the mean of their values.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "platform/output.h"
#include "platform/output_document.h"
#include "platform/step_exit.h"
#include "procedure/data/data.h"
#include "procedure/procedure.h"
#include "tests/support/model_step.h"
#include "velix/packed_index.h"

namespace {

using velix::testing::ModelStep;

// A model step with an output manager (the driver creates one before
// cosinit) and the moment arrays of the step.
struct StartStep : ModelStep {
    explicit StartStep(const std::string& text) : ModelStep(text) {
        if (xobinit(&ctx.output.kyrAnchor, 0) == 0) {
            KyrArg args[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7),
                             kyr_object(144, nullptr), kyr_int(383, 352)};
            if (wobmth(ctx.output.kyrAnchor, nullptr, 147, 4, args) >= 0) ctx.output.kyrManager = args[2].object;
        }
        velix::detail::allocate_moment_arrays(&ctx);
        stepDoc = &velix::platform::current_step();
        itemsFrom = stepDoc->items.size();
    }
    const velix::platform::OutStep* stepDoc = nullptr;
    size_t itemsFrom = 0;
    // Sets the sample moment (i, j) of the manifest variables.
    void sample(int32_t i, int32_t j, double v) { ctx.arrays.momentMatrix[velix::pk(i, j)] = v; }
    // Sets the sample moments of x1 and x2.
    void exogenous(double s00, double s10, double s11) {
        sample(0, 0, s00);
        sample(1, 0, s10);
        sample(1, 1, s11);
    }
    // The start value of the parameter named `name`.
    double start(const std::string& name) const {
        const auto names = parameters();
        const auto at = std::find(names.begin(), names.end(), name);
        EXPECT_NE(at, names.end()) << name;
        return at == names.end() ? 0.0 : nlp.param.x[at - names.begin()];
    }
    // Position of manifest variable i among the exogenous variables of
    // _PHI_ (matrix 4 of a LINEQS model).
    int32_t phi_index(int32_t i) const { return ctx.readers.varPosition[i] - ctx.readers.nEndo; }
        // The items delivered since the step was set up.
    std::vector<const velix::platform::OutItem*> items() const {
        const auto& doc = velix::platform::current_step();
        std::vector<const velix::platform::OutItem*> out;
        for (size_t k = &doc == stepDoc ? itemsFrom : 0; k < doc.items.size(); ++k) out.push_back(&doc.items[k]);
        return out;
    }
    std::vector<const velix::platform::OutItem*> items_named(const std::string& name) const {
        std::vector<const velix::platform::OutItem*> out;
        for (const auto* it : items())
            if (it->name == name) out.push_back(it);
        return out;
    }
    int notes_with(int32_t number) const {
        int k = 0;
        for (const auto* p : items()) {
            const auto& it = *p;
            k += it.type == velix::platform::OutItem::Type::Note && it.title.messageGroup == 352 &&
                 it.title.messageNumber == number;
        }
        return k;
    }
    static int log_messages(size_t from, int32_t number) {
        const auto& m = velix::platform::current_step().messages;
        int k = 0;
        for (size_t i = from; i < m.size(); ++i) k += m[i].group == 352 && m[i].number == number;
        return k;
    }
};

// x1 and x2 are exogenous, x3 is explained by them; `rest` holds the STD
// and COV statements.
std::string regression(const std::string& rest) {
    return "proc velix data=hs method=none covariance;\nvar x1 x2 x3;\nlineqs x3 = b1 x1 + b2 x2 + e3;\n" + rest +
           "run;\n";
}
const std::string kRegression = regression("std x1 = v1, x2 = 0.7, e3 = ve;\ncov x1 x2 = c12;\n");

TEST(DefaultCovariances, FreeCovariancesStartAtTheSampleAndFixedOnesAreKeptWithANote) {
    StartStep s(kRegression);
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    ASSERT_NE(s.ctx.output.kyrManager, nullptr);
    const double s00 = 1.36, s10 = 0.41, s11 = 0.3;
    s.exogenous(s00, s10, s11);
    s.sample(2, 0, 0.2);
    s.sample(2, 1, 0.1);
    s.sample(2, 2, 1.5);
    const int32_t df = s.ctx.moments.modelDf;
    const size_t logFrom = velix::platform::current_step().messages.size();
    cosiset(&s.ctx);

    // Two exogenous variables: three moments taken, two given back for the
    // free elements and one for the fixed variance the fit tests (0.7
    // against the sample's 0.3).
    EXPECT_EQ(s.ctx.moments.modelDf, df - 3 + 3);
    EXPECT_EQ(s.start("v1"), s00);
    EXPECT_EQ(s.start("c12"), s10);
    const int32_t v1 = s.element_at(4, s.phi_index(0), s.phi_index(0));
    ASSERT_GE(v1, 0);
    EXPECT_EQ(s.ctx.elements.value[v1], s00);
    const int32_t fixed = s.element_at(4, s.phi_index(1), s.phi_index(1));
    ASSERT_GE(fixed, 0);
    EXPECT_EQ(s.ctx.elements.value[fixed], 0.7);
    // The kept fixed value is noted once in the listing, not in the log.
    EXPECT_EQ(s.notes_with(131), 1);
    EXPECT_EQ(StartStep::log_messages(logFrom, 131), 0);

    // The variables whose covariances were set, one column each, one row.
    const auto tables = s.items_named("SetCovExog");
    ASSERT_EQ(tables.size(), 1u);
    const auto& t = *tables[0];
    EXPECT_EQ(t.path, "Tesk.Velix.SetCovExog");
    EXPECT_EQ(t.title.messageNumber, 732);
    ASSERT_EQ(t.columns.size(), 2u);
    ASSERT_EQ(t.rows.size(), 1u);
    for (size_t k = 0; k < 2; ++k) {
        const std::string name = "x" + std::to_string(k + 1);
        EXPECT_EQ(t.columns[k].name, name);
        EXPECT_EQ(t.rows[0][k].text, name);
        // A character column as wide as the name, through the "Variable" template.
        EXPECT_EQ(t.columns[k].kind, 6);
        EXPECT_EQ(t.columns[k].width, 2);
        EXPECT_EQ(t.columns[k].columnTemplate, "Variable");
        ASSERT_EQ(t.columns[k].variables.size(), 1u);
        EXPECT_EQ(t.columns[k].variables[0].first, "Width");
    }
}

TEST(DefaultCovariances, AFixedCovarianceWithoutValueTakesTheSampleValueSilently) {
    // LINEQS holds the exogenous block that no statement gives as fixed
    // elements without value: each takes the sample's, and the block is
    // counted as estimated.
    StartStep s(regression("std e3 = ve;\n"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    s.exogenous(1.0, 0.41, 2.0);
    const int32_t a = s.phi_index(0), b = s.phi_index(1);
    const int32_t e[] = {s.element_at(4, a, a), s.element_at(4, std::max(a, b), std::min(a, b)), s.element_at(4, b, b)};
    for (const int32_t k : e) {
        ASSERT_GE(k, 0);
        ASSERT_EQ(s.ctx.elements.parameter[k], 0);
    }
    const int32_t df = s.ctx.moments.modelDf;
    const size_t logFrom = velix::platform::current_step().messages.size();
    cosiset(&s.ctx);
    EXPECT_EQ(s.ctx.elements.value[e[0]], 1.0);
    EXPECT_EQ(s.ctx.elements.value[e[1]], 0.41);
    EXPECT_EQ(s.ctx.elements.value[e[2]], 2.0);
    EXPECT_EQ(s.ctx.moments.modelDf, df - 3);
    EXPECT_EQ(StartStep::log_messages(logFrom, 131), 0);
    EXPECT_EQ(s.notes_with(131), 0);
}

// Once a statement gives part of the block, the block is restricted (or
// may be): what it leaves is estimated, a parameter of a generated name
// (one the model does not use already) that starts at the sample value
// and gives its degree of freedom back.
TEST(DefaultCovariances, ThePartOfABlockThatNoStatementGivesIsEstimated) {
    StartStep s(regression("std x1 = v1, x2 = _Exo1, e3 = ve;\n"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    s.exogenous(1.0, 0.41, 2.0);
    const int32_t e = s.element_at(4, std::max(s.phi_index(0), s.phi_index(1)),
                                   std::min(s.phi_index(0), s.phi_index(1)));
    ASSERT_GE(e, 0);
    ASSERT_GT(s.ctx.elements.parameter[e], 0);
    EXPECT_EQ(s.parameters()[s.ctx.elements.parameter[e] - 1], "_Exo2");
    const int32_t df = s.ctx.moments.modelDf;
    cosiset(&s.ctx);
    EXPECT_EQ(s.ctx.moments.modelDf, df - 3 + 3);
    EXPECT_EQ(s.start("_Exo2"), 0.41);
    EXPECT_EQ(s.start("v1"), 1.0);
    EXPECT_EQ(s.start("_Exo1"), 2.0);
}

// The intercept of the augmented moments is the constant 1: its own moment
// is not estimated with the rest of the block, its moments with the other
// variables (their means) are.
TEST(DefaultCovariances, TheInterceptKeepsItsMomentOfOne) {
    StartStep s("proc velix data=hs method=none covariance augment;\nvar x1 x2 x3;\n"
                "lineqs x3 = a Intercept + b1 x1 + b2 x2 + e3;\nstd x1 = v1, e3 = ve;\nrun;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    ASSERT_EQ(s.ctx.sizes.nManifest, 4);
    const int32_t i = s.phi_index(3);
    const int32_t own = s.element_at(4, i, i);
    ASSERT_GE(own, 0);
    EXPECT_EQ(s.ctx.elements.parameter[own], 0);
    const auto names = s.parameters();
    for (const char* name : {"_Exo1", "_Exo2", "_Exo3", "_Exo4"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_EQ(std::find(names.begin(), names.end(), "_Exo5"), names.end());
    s.sample(3, 3, 1.0);
    cosiset(&s.ctx);
    EXPECT_EQ(s.ctx.elements.value[own], 1.0);
}

TEST(DefaultCovariances, WithoutInputModelPrintingNoTableIsMadeAndTheCovariancesAreStillSet) {
    StartStep s(kRegression);
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    s.ctx.options.printInputModel = 0;
    s.exogenous(2.5, -0.25, 0.7);
    cosiset(&s.ctx);
    EXPECT_TRUE(s.items_named("SetCovExog").empty());
    EXPECT_EQ(s.start("v1"), 2.5);
    EXPECT_EQ(s.start("c12"), -0.25);
    // The sample equals the fixed value: nothing to note.
    EXPECT_EQ(s.notes_with(131), 0);
}

TEST(DefaultCovariances, AFailedTableLeavesTheCovariancesUnset) {
    StartStep s(kRegression);
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    s.exogenous(2.5, -0.25, 0.7);
    // The first row of the table fails.
    velix::platform::inject_method_failure(329, 1, -5);
    cosiset(&s.ctx);
    velix::platform::clear_injected_failures();
    EXPECT_NE(s.start("c12"), -0.25);
    EXPECT_NE(s.start("v1"), 2.5);
    EXPECT_TRUE(s.items_named("SetCovExog").empty());
}

TEST(StartValues, AParameterAtTwoElementsStartsAtTheMeanOfTheirValues) {
    StartStep s(regression("std x1 = v, x2 = v, e3 = ve;\n"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    s.exogenous(1.0, 0.5, 2.0);
    s.ctx.options.printInputModel = 0;
    cosiset(&s.ctx);
    // The two elements of v hold 1.0 and 3.0 when the start values are made.
    s.ctx.elements.value[s.element_at(4, s.phi_index(0), s.phi_index(0))] = 1.0;
    s.ctx.elements.value[s.element_at(4, s.phi_index(1), s.phi_index(1))] = 3.0;
    try {
        cosinst(&s.ctx);
    } catch (const velix::platform::StepExit& e) {
        FAIL() << "step ended with " << e.code;
    }
    EXPECT_EQ(s.start("v"), 2.0);
    for (int32_t i = 0; i < 2; ++i) {
        const int32_t e = s.element_at(4, s.phi_index(i), s.phi_index(i));
        ASSERT_GE(e, 0);
        EXPECT_EQ(s.ctx.elements.value[e], 2.0) << "x" << i + 1;
    }
}

// DEMPHAS=c puts the start of every variance of the central matrix that
// has a value v at c (|v| + 1): the sample variance of x1 that cosiset gave
// v1 and the value given to ve; a covariance and a fixed variance keep
// theirs.  A variance without a value starts at (|r| + 1) c s_jj, r the
// START= value and s_jj its variable's variance: ve1 of the COSAN form of
// the hs model, whose unit is var(x1) = 1.3628977072 of the data (R's
// var(hs$x1)), starts at (0.5 + 1) 2 var(x1) = 4.0887 with DEMPHAS=2, not
// at the 0.5 c var(x1) of an unscaled start.  Without DEMPHAS= the values
// stay.
TEST(StartValues, DemphasScalesTheVariancesThatHaveAValueAndThoseWithout) {
    const std::string lineqs = "var x1 x2 x3;\nlineqs x3 = b1 x1 + b2 x2 + e3;\n"
                               "std x1 = v1, x2 = 0.7, e3 = ve (0.4);\ncov x1 x2 = c12;\n";
    const std::string cosan = "var x1-x9;\ncosan F(3, GEN) * P(3, SYM) + U(9, SYM);\n"
                              "matrix F [ , 1] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6,"
                              " [ , 3] = 0 0 0 0 0 0 1.0 l8 l9;\n"
                              "matrix P [1, 1] = vvis vtxt vspd, [2, 1] = cvt cts, [3, 1] = cvs;\n"
                              "matrix U [1, 1] = ve1-ve9;\n";
    const double varX1 = 1.3628977072;
    const struct {
        const char* option;
        const std::string& model;
        std::vector<std::pair<const char*, double>> starts;
    } cases[] = {{"", lineqs, {{"v1", 1.36}, {"ve", 0.4}, {"c12", 0.41}}},
                 {"demphas=2", lineqs, {{"v1", 2 * (1.36 + 1)}, {"ve", 2 * (0.4 + 1)}, {"c12", 0.41}}},
                 {"demphas=0.5", lineqs, {{"v1", 0.5 * 2.36}, {"ve", 0.5 * 1.4}, {"c12", 0.41}}},
                 {"demphas=2 maxiter=0", cosan, {{"ve1", (0.5 + 1) * 2 * varX1}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option + (" " + c.model));
        StartStep s(std::string("proc velix data=hs method=none covariance ") + c.option + ";\n" + c.model +
                    "run;\n");
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        s.ctx.options.printInputModel = 0;
        const bool regression = &c.model == &lineqs;
        if (regression)
            s.exogenous(1.36, 0.41, 0.3);
        else
            s.sample(0, 0, varX1);
        cosiset(&s.ctx);
        try {
            cosinst(&s.ctx);
        } catch (const velix::platform::StepExit& e) {
            FAIL() << "step ended with " << e.code;
        }
        for (const auto& [name, value] : c.starts) EXPECT_NEAR(s.start(name), value, 1e-12 * value) << name;
        if (regression) {
            EXPECT_EQ(s.ctx.elements.value[s.element_at(4, s.phi_index(1), s.phi_index(1))], 0.7);
        }
    }
}

TEST(StartValues, DependentElementsCountTheDerivativesTheyHave) {
    // b2 depends on b1 alone and ve on v1 and c12: with analytic
    // derivatives they add 1 and 2 entries; rebuilt under FDCODE each may
    // depend on all three parameters the program reads.
    const std::string rest = "std x1 = v1, x2 = 0.7, e3 = ve;\ncov x1 x2 = c12;\nb2 = 2 * b1;\nve = v1 + c12;\n";
    for (const bool fdcode : {false, true}) {
        StartStep s(fdcode ? "proc velix data=hs method=none covariance fdcode;\nvar x1 x2 x3;\n"
                             "lineqs x3 = b1 x1 + b2 x2 + e3;\n" + rest + "run;\n"
                           : regression(rest));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        s.exogenous(1.0, 0.5, 2.0);
        s.ctx.options.printInputModel = 0;
        cosiset(&s.ctx);
        try {
            cosinst(&s.ctx);
        } catch (const velix::platform::StepExit& e) {
            FAIL() << "step ended with " << e.code;
        }
        int32_t independent = 0, dependent = 0;
        for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e) {
            independent += s.ctx.elements.parameter[e] > 0;
            dependent += s.ctx.elements.parameter[e] < 0;
        }
        ASSERT_EQ(dependent, 2);
        EXPECT_EQ(s.ctx.sizes.nJacEntries, independent + (fdcode ? 2 * 3 : 1 + 2)) << "fdcode " << fdcode;
    }
}

}  // namespace
