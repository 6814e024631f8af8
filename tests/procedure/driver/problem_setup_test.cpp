// The optimizer problem set-up through cosinit on whole LINEQS programs with
// METHOD=NONE: the problem sizes, the technique correction for nonlinear
// constraints, and the PROFILE settings (valid, repeated, dependent and
// unknown names, levels inside and outside (0, 100) and repeats within 1e-8).
#include <gtest/gtest.h>

#include <cfloat>

#include <algorithm>
#include <string>
#include <vector>

#include "host/fields.h"
#include "tests/support/statement_fixture.h"

namespace {

using Step = velix::testing::CosinitStep;
using velix::testing::messages_now;
using velix::testing::messages_since;
using velix::testing::name_of;

const char* kModel =
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x4 = l4 F1 + E4;\n"
    "std F1 E1-E4 = vf ve1-ve4;\n";

std::string program(const std::string& options, const std::string& statements) {
    return "proc velix data=hs method=none " + options + ";\n" + kModel + statements + "\n";
}

int32_t count(const std::vector<int32_t>& v, int32_t n) {
    return static_cast<int32_t>(std::count(v.begin(), v.end(), n));
}

int32_t parameter_index(const Step& s, const std::string& name) {
    for (int32_t k = 0; k < s.nlp.shape.nParams; ++k)
        if (name_of(s.nlp.param.paramNames[k]) == name) return k;
    return -1;
}

TEST(ProblemSetup, SizesFollowTheModel) {
    Step s(program("", ""));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const int32_t n = 8;  // l2-l4, vf, ve1-ve4
    EXPECT_EQ(s.nlp.shape.nParams, n);
    EXPECT_EQ(s.nlp.shape.packedLen, n * (n + 1) / 2);
    EXPECT_EQ(s.nlp.shape.nFunctions, 10);  // 4 variables: 4 * 5 / 2 moments
    EXPECT_EQ(s.nlp.shape.leastSquares, 1);
    EXPECT_EQ(s.hooks.cov.nParamsForDf, static_cast<double>(n));
    EXPECT_EQ(s.hooks.cov.nObsRef, &s.ctx.optSetup.nObsCell);
    EXPECT_EQ(s.ctx.optSetup.profileWanted, 0);
}

// The per-parameter arrays hold every parameter; the optimizer's fields are
// those arrays, and a parameter without BOUNDS has missing bounds.
TEST(ProblemSetup, ParameterArraysAreTheOptimizersArrays) {
    Step s(program("", ""));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ParameterArrays& a = s.ctx.optSetup.parms;
    EXPECT_EQ(a.count, s.ctx.sizes.nParmAll);
    EXPECT_EQ(s.nlp.param.x, a.x);
    EXPECT_EQ(s.nlp.param.lower, a.lower);
    EXPECT_EQ(s.nlp.param.upper, a.upper);
    EXPECT_EQ(s.nlp.param.scale, a.scale);
    EXPECT_EQ(s.nlp.param.paramRow, a.row);
    EXPECT_EQ(s.nlp.param.paramNames, a.names);
    for (int32_t k = 0; k < a.count; ++k) {
        // Without BOUNDS no parameter has a bound: missing, or the
        // optimizer's -DBL_MAX and DBL_MAX once the constraints are set up.
        EXPECT_TRUE((wzmis(a.lower[k]) || a.lower[k] == -DBL_MAX) && (wzmis(a.upper[k]) || a.upper[k] == DBL_MAX))
            << name_of(a.names[k]);
        EXPECT_GT(name_of(a.names[k]).size(), 0u) << k;
    }
}

TEST(ProblemSetup, NonlinearConstraintsNeedTheDualQuasiNewtonTechnique) {
    struct Case {
        const char* technique;
        int32_t message100;
    };
    for (const Case& c : {Case{"levmar", 1}, Case{"quanew", 0}}) {
        const size_t from = messages_now();
        Step s(program(std::string("tech=") + c.technique, "nlincon c >= 0;\nc = l2 - l3;"));
        ASSERT_EQ(s.exitCode, -1) << c.technique << "\n" << s.log.str();
        EXPECT_EQ(s.nlp.opt.technique, kTechDualQuanew) << c.technique;
        EXPECT_EQ(count(messages_since(from), 100), c.message100) << c.technique;
    }
}

TEST(ProblemSetup, ProfileKeepsValidNamesAndLevels) {
    const size_t from = messages_now();
    Step s(
        program("", "profile l2 l3 zz l2 l4 / 0 95 100 95.000000001 90 ffactor=2 outtable outall;\n"
                    "l4 = 2 * l3;"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ProfileSettings& ps = *s.hooks.plSettings;
    ASSERT_EQ(ps.nSelected, 2);
    EXPECT_EQ(ps.selected[0], parameter_index(s, "l2"));
    EXPECT_EQ(ps.selected[1], parameter_index(s, "l3"));
    ASSERT_EQ(ps.nAlpha, 2);
    // Confidence percentages become levels alpha = 1 - v/100.
    EXPECT_DOUBLE_EQ(ps.alphas[0], 0.05);
    EXPECT_DOUBLE_EQ(ps.alphas[1], 0.10);
    EXPECT_EQ(ps.method, 3);  // parameters with levels
    EXPECT_EQ(ps.devianceScale, 2.0);  // FFACTOR=
    EXPECT_EQ(ps.targetScaleKind, 2);  // quantile factor 1
    EXPECT_EQ(ps.printLimits, 2);
    EXPECT_EQ(ps.outestLimitRows, 1);
    const auto m = messages_since(from);
    EXPECT_EQ(count(m, 447), 1);  // zz is no parameter
    EXPECT_EQ(count(m, 449), 1);  // l4 is a dependent parameter
    EXPECT_EQ(count(m, 446), 1);  // l2 again
    EXPECT_EQ(count(m, 448), 2);  // 0 and 100
    EXPECT_EQ(count(m, 445), 1);  // 95 within 1e-8
}

TEST(ProblemSetup, ARejectedLevelNeverHidesAValidLevelNextToIt) {
    // -1e-9 is rejected; 1e-9 lies within the tolerance of it but is a valid
    // level of its own and must be kept, not end the step.
    const size_t from = messages_now();
    Step s(program("", "profile l2 / -1e-9 1e-9 1.5e-9 90;"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ProfileSettings& ps = *s.hooks.plSettings;
    ASSERT_EQ(ps.nAlpha, 2);
    EXPECT_DOUBLE_EQ(ps.alphas[0], 1.0 - 1e-11);
    EXPECT_DOUBLE_EQ(ps.alphas[1], 0.10);
    const auto m = messages_since(from);
    EXPECT_EQ(count(m, 448), 1);  // -1e-9
    EXPECT_EQ(count(m, 445), 1);  // 1.5e-9 repeats 1e-9
}

TEST(ProblemSetup, ProfileWithoutValidNamesTakesEveryParameter) {
    const size_t from = messages_now();
    Step s(program("", "profile zz;"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ProfileSettings& ps = *s.hooks.plSettings;
    ASSERT_EQ(ps.nSelected, s.nlp.shape.nParams);
    for (int32_t k = 0; k < ps.nSelected; ++k) EXPECT_EQ(ps.selected[k], k);
    EXPECT_EQ(ps.nAlpha, 0);
    EXPECT_EQ(ps.method, 1);
    EXPECT_EQ(count(messages_since(from), 444), 1);
}

}  // namespace
