// The RAM reader on whole statements: the reference confirmatory model,
// model variable order and generated names, VARNAMES, the element rules
// (fixed paths of 1, missing start values, the lower triangle of _P_,
// repeated positions), empty matrices and the input errors.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/model_step.h"
#include "procedure/driver/model.h"
#include "tests/support/fixtures.h"

namespace {

using velix::testing::ModelStep;

// The confirmatory model of the reference program written as a RAM list
// (variables 1-9 are x1-x9, 10-12 the factors).
const char* kCfa =
    "proc velix data=hs method=none covariance;\n"
    "ram 1 1 10 1.0, 1 2 10 l2, 1 3 10 l3, 1 4 11 1.0, 1 5 11 l5, 1 6 11 l6,\n"
    "    1 7 12 1.0, 1 8 12 l8, 1 9 12 l9,\n"
    "    2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 5 5 ve5, 2 6 6 ve6,\n"
    "    2 7 7 ve7, 2 8 8 ve8, 2 9 9 ve9, 2 10 10 vvis, 2 11 11 vtxt, 2 12 12 vspd,\n"
    "    2 11 10 cvt, 2 12 10 cvs, 2 12 11 cts;\n";

TEST(RamModel, ReferenceConfirmatoryModel) {
    ModelStep s(kCfa);
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ModelMatrixTable& mt = s.ctx.model;
    // 6 loadings, 9 + 3 variances, 3 covariances.
    EXPECT_EQ(s.ctx.sizes.nParmFree, 21);
    EXPECT_EQ(s.ctx.sizes.nTerms, 1);
    EXPECT_EQ(s.ctx.sizes.nMatrices, 3);
    EXPECT_EQ(s.ctx.readers.nLatent, 3);
    EXPECT_EQ(mt.rows[1], 9);
    for (int32_t k = 1; k <= 3; ++k) EXPECT_EQ(mt.columns[k], 12) << "matrix " << k;
    EXPECT_EQ(mt.type[1], kMatIdentity);
    // Every path leads from a factor (column 9-11) to a test (row 0-8).
    EXPECT_EQ(mt.type[2], kMatUpper);
    EXPECT_EQ(mt.form[2], kFormIMinusInverse);
    EXPECT_EQ(s.ctx.sizes.invStoreLen, 144);
    EXPECT_EQ(mt.elementCount[2], 9);
    EXPECT_EQ(mt.elementCount[3], 15);
    // A fixed path keeps its value; a named one starts missing.
    const int32_t fixedPath = s.element_at(2, 0, 9), namedPath = s.element_at(2, 1, 9);
    ASSERT_GE(fixedPath, 0);
    ASSERT_GE(namedPath, 0);
    EXPECT_EQ(s.ctx.elements.parameter[fixedPath], 0);
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[fixedPath], 1.0);
    EXPECT_EQ(s.parameter_of(namedPath), "l2");
    EXPECT_TRUE(host_is_missing(s.ctx.elements.value[namedPath]));
    // Covariances land in the lower triangle of _P_ (11 10 is row 10, column 9).
    EXPECT_EQ(s.parameter_of(s.element_at(3, 10, 9)), "cvt");
    for (int32_t e = mt.firstElement[3]; e < mt.firstElement[3] + mt.elementCount[3]; ++e)
        EXPECT_GE(s.ctx.elements.row[e], s.ctx.elements.column[e]);
    // Every test has one incoming path and is endogenous; no factor has one.
    for (int32_t v = 0; v < 12; ++v) EXPECT_EQ(s.ctx.readers.incomingPaths[v], v < 9 ? 1 : 0) << "variable " << v;
    EXPECT_EQ(s.ctx.readers.nWithIncoming, 9);
    EXPECT_EQ(s.ctx.readers.nEndo, 9);
    EXPECT_EQ(s.ctx.readers.nEndoManifest, 9);
    // Default column names: the tests and F1-F3, then E1-E9 and D1-D3.
    const auto names = s.column_names();
    ASSERT_EQ(names.size(), 24u);
    EXPECT_EQ(names[0], "x1");
    EXPECT_EQ(names[9], "F1");
    EXPECT_EQ(names[11], "F3");
    EXPECT_EQ(names[12], "E1");
    EXPECT_EQ(names[20], "E9");
    EXPECT_EQ(names[21], "D1");
    EXPECT_EQ(mt.firstColumnName[3], 13);
}

// Variables 1-3 of the data and the latent numbers 12 and 15 (10, 11, 13
// and 14 occur nowhere): x4-x9 are dropped, the latent variables take
// positions 3 and 4, and VARNAMES names them by number.
TEST(RamModel, VariableOrderClassesAndNames) {
    ModelStep s(
        "proc velix data=hs method=none;\n"
        "ram 1 1 12 1.0, 1 2 12 a, 1 2 15 c, 1 12 3 g, 2 3 3 v3, 2 12 12 d,\n"
        "    2 15 15 v15, 2 1 1 e1, 2 2 2 e2;\n"
        "varnames 1 = G10 G11 G12 G13 G14 G15, 2 = U1 U2 U3;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ModelMatrixTable& mt = s.ctx.model;
    EXPECT_EQ(s.ctx.sizes.nManifest, 3);
    EXPECT_EQ(mt.columns[2], 5);
    EXPECT_EQ(s.ctx.readers.nLatent, 2);
    // The provisional order 15 - 6 sizes the work arrays and the inverse.
    EXPECT_EQ(s.ctx.readers.leadingDim, 9);
    EXPECT_EQ(s.ctx.sizes.invStoreLen, 81);
    // Path c from latent 15 (position 4) to x2.
    EXPECT_EQ(s.parameter_of(s.element_at(2, 1, 4)), "c");
    EXPECT_EQ(s.parameter_of(s.element_at(2, 3, 2)), "g");
    // Classes: x1, x2 endogenous; then the one endogenous latent variable
    // (12); then x3, the only exogenous manifest variable.
    EXPECT_EQ(s.ctx.readers.nEndoManifest, 2);
    EXPECT_EQ(s.ctx.readers.nEndo, 3);
    EXPECT_EQ(s.ctx.readers.varPosition[0], 0);
    EXPECT_EQ(s.ctx.readers.varPosition[1], 1);
    EXPECT_EQ(s.ctx.readers.varPosition[2], 3);
    const int32_t incoming[5] = {1, 2, 0, 1, 0};
    for (int32_t v = 0; v < 5; ++v) EXPECT_EQ(s.ctx.readers.incomingPaths[v], incoming[v]) << "variable " << v;
    EXPECT_EQ(s.ctx.readers.nWithIncoming, 3);
    const auto names = s.column_names();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names[3], "G12");
    EXPECT_EQ(names[4], "G15");
    EXPECT_EQ(names[5], "U1");
    EXPECT_EQ(names[7], "U3");
    EXPECT_EQ(names[8], "D1");  // group 2 has room for 15 names; 3 given
    EXPECT_EQ(s.count(284), 1);
    EXPECT_EQ(s.count(285), 0);
}

TEST(RamModel, RepeatedPositionsPrefixesAndStartValues) {
    ModelStep s(
        "proc velix data=hs method=none;\n"
        "ram 1 1 10 a__, 1 2 10 a__, 1 3 10 a1, 1 4 10 b (0.4), 1 5 10,\n"
        "    2 10 10 1.0, 2 1 1 u, 2 2 2 u, 2 3 3 u, 2 4 4 u, 2 5 5 u,\n"
        "    2 5 3 c1, 2 3 5 c2;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    // Generated a1 and a2; the plain a1 collides with the first (258) and
    // is the same parameter; u is one parameter at five elements.
    EXPECT_EQ(s.count(258), 1);
    EXPECT_EQ(s.parameter_of(s.element_at(2, 0, 5)), "a1");
    EXPECT_EQ(s.parameter_of(s.element_at(2, 1, 5)), "a2");
    EXPECT_EQ(s.ctx.elements.parameter[s.element_at(2, 2, 5)], s.ctx.elements.parameter[s.element_at(2, 0, 5)]);
    // A start value given in parentheses; a path without value or name is
    // a fixed path of 1.
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[s.element_at(2, 3, 5)], 0.4);
    const int32_t fixed = s.element_at(2, 4, 5);
    ASSERT_GE(fixed, 0);
    EXPECT_EQ(s.ctx.elements.parameter[fixed], 0);
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[fixed], 1.0);
    // (5,3) and (3,5) are one position: the later name wins after 220.
    EXPECT_EQ(s.count(220), 1);
    EXPECT_EQ(s.parameter_of(s.element_at(3, 4, 2)), "c2");
    EXPECT_EQ(s.element_at(3, 2, 4), -1);
    EXPECT_EQ(s.parameters(), (std::vector<std::string>{"a1", "a2", "b", "u", "c2"}));
}

TEST(RamModel, EmptyMatrices) {
    // No path: _A_ becomes the identity and the inverse store is empty.
    {
        ModelStep s("proc velix data=hs method=none; var x1-x3;\n"
                    "ram 2 1 1 v1, 2 2 2 v2, 2 3 3 v3, 2 2 1 c;\n");
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.model.type[2], kMatIdentity);
        EXPECT_EQ(s.ctx.model.form[2], kFormNone);
        EXPECT_EQ(s.ctx.sizes.invStoreLen, 0);
        EXPECT_GE(s.count(119), 1);
    }
    // No variance at all: _P_ without elements ends the step.
    {
        ModelStep s("proc velix data=hs method=none; var x1-x2; ram 1 1 2 b;\n");
        EXPECT_EQ(s.count(118), 0) << "x2 is exogenous: its variance is left for the data";
    }
    {
        ModelStep s("proc velix data=hs method=none; var x1; ram 1 1 10 b;\n");
        EXPECT_EQ(s.exitCode, 1008) << s.log.str();
        EXPECT_EQ(s.count(118), 1);
    }
}

TEST(RamModel, VarnamesOfOtherKinds) {
    ModelStep s("proc velix data=hs method=none; var x1-x2;\n"
                "ram 1 1 3 b, 2 3 3 v, 2 1 1 e, 2 2 2 e2;\n"
                "varnames 3 = Q, 1 = F A B;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.count(282), 1);
    EXPECT_EQ(s.count(285), 1);  // one latent variable, three names
    EXPECT_EQ(s.column_names()[2], "F");
    ModelStep t("proc velix data=hs method=none; var x1-x2;\n"
                "ram 1 1 3 b, 2 3 3 v, 2 1 1 e, 2 2 2 e2; varnames A = F;\n");
    ASSERT_EQ(t.exitCode, -1) << t.log.str();
    EXPECT_EQ(t.count(283), 1);
    EXPECT_EQ(t.ctx.errorLevel, 4);
    EXPECT_EQ(t.column_names()[2], "F1");
}

// The sample covariance (divisor N - 1) of two columns of the test data.
double sample_covariance(int a, int b) {
    std::ifstream in(velix::test::fixture_path("hs.csv"));
    std::string line;
    std::getline(in, line);
    std::vector<double> xa, xb;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        std::string cellText;
        for (int c = 0; std::getline(row, cellText, ','); ++c) {
            if (c == a) xa.push_back(std::stod(cellText));
            if (c == b) xb.push_back(std::stod(cellText));
        }
    }
    double ma = 0, mb = 0;
    for (size_t i = 0; i < xa.size(); ++i) {
        ma += xa[i];
        mb += xb[i];
    }
    ma /= static_cast<double>(xa.size());
    mb /= static_cast<double>(xb.size());
    double s = 0;
    for (size_t i = 0; i < xa.size(); ++i) s += (xa[i] - ma) * (xb[i] - mb);
    return s / static_cast<double>(xa.size() - 1);
}

// x3 on x1 and x2: the exogenous variances and covariance start at their
// sample values in the first BY group (rows 0 and 1 of _P_, whatever the
// classes of the variables are).
TEST(RamModel, ExogenousCovariancesStartFromTheSample) {
    ModelStep s("proc velix data=hs method=none covariance; var x1-x3;\n"
                "ram 1 3 1 b1, 1 3 2 b2, 2 3 3 e3, 2 2 1 c12, 2 1 1 v1, 2 2 2 v2;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.ctx.readers.varPosition[2], 0);  // x3 is the endogenous one
    try {
        ASSERT_NE(xbynext(s.ctx.dataSets.dataSetHandle[kRoleData]), 0);
        ASSERT_EQ(coscorr(&s.ctx), 0) << s.log.str();
    } catch (const velix::platform::StepExit& e) {
        FAIL() << "the moment step ended with " << e.code << "\n" << s.log.str();
    }
    const auto names = s.parameters();
    auto start = [&](const std::string& n) {
        for (size_t p = 0; p < names.size(); ++p)
            if (names[p] == n) return s.nlp.param.x[p];
        return -1.0;
    };
    const double tolerance = 1e-10;
    EXPECT_NEAR(start("v1"), sample_covariance(0, 0), tolerance * std::fabs(sample_covariance(0, 0)));
    EXPECT_NEAR(start("v2"), sample_covariance(1, 1), tolerance * std::fabs(sample_covariance(1, 1)));
    EXPECT_NEAR(start("c12"), sample_covariance(1, 0), tolerance * std::fabs(sample_covariance(1, 0)));
}

// Matrix and variable numbers that name no matrix or no variable are input
// errors; they never index the model's arrays.
TEST(RamModel, InputErrors) {
    struct Case {
        const char* items;
        int32_t message;
        int32_t code;
    };
    const Case cases[] = {
        {"1 1 2 a, 3 1 1 v", 281, 1008},
        {"1 1 0 a, 2 1 1 v", 176, 2000},
        {"1 -4 2 a, 2 1 1 v", 176, 2000},
        {"1 1 2.5 a, 2 1 1 v", 176, 2000},
        {"1 1 1e9 a, 2 1 1 v", 176, 2000},
        {"1 1 46341 a, 2 1 1 v", 176, 2000},
    };
    for (const Case& c : cases) {
        ModelStep s(std::string("proc velix data=hs method=none; ram ") + c.items + ";\n");
        EXPECT_EQ(s.exitCode, c.code) << c.items << "\n" << s.log.str();
        EXPECT_EQ(s.count(c.message), 1) << c.items;
    }
    // A model's entries go in one RAM statement: the first alone is not fitted.
    ModelStep two("proc velix data=hs method=none; ram 1 1 2 a; ram 2 1 1 v;\n");
    EXPECT_EQ(two.exitCode, 2000);
    EXPECT_EQ(two.count(336), 1);
}

}  // namespace
