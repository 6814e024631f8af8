// LINEQS models built from whole programs with METHOD=NONE: the parameter
// counts of the reference models, parameter identity across matrices,
// generated names, option defaults and corrections, and the optimizer state
// saved and restored between BY groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/session.h"
#include "platform/step_exit.h"
#include "procedure/driver/model.h"
#include "procedure/procedure.h"
#include "tests/support/fixtures.h"
#include "tests/support/statement_fixture.h"

namespace {

using velix::testing::name_of;

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using Step = velix::testing::CosinitStep;

// The procedure's messages recorded from construction on.
struct MessagesSince {
    size_t from = velix::testing::messages_now();
    std::vector<int32_t> numbers() const { return velix::testing::messages_since(from); }
};

bool has(const std::vector<int32_t>& v, int32_t n) {
    return std::find(v.begin(), v.end(), n) != v.end();
}

// A reference program of tests/fixtures, with METHOD=NONE: these tests
// build the model only.
std::string program(const char* stem) {
    std::string text = read_file(velix::test::fixture_path(std::string(stem) + ".vx"));
    const size_t at = text.find("method=ml");
    if (at != std::string::npos) text.replace(at, 9, "method=none");
    return text;
}

// The parameter counts of the three reference models (free loadings,
// variances and covariances written in each program).
TEST(LineqsModel, ReferenceProgramsParameterCounts) {
    struct Case {
        const char* stem;
        int32_t parameters;
        int32_t manifest;
    };
    for (const Case& c : {Case{"hs_cfa_ml", 21, 9}, Case{"poldem_ml", 31, 11}, Case{"ability_ml", 13, 6}}) {
        Step s(program(c.stem));
        ASSERT_EQ(s.exitCode, -1) << c.stem << "\n" << s.log.str();
        EXPECT_EQ(s.ctx.sizes.nParmFree, c.parameters) << c.stem;
        EXPECT_EQ(s.nlp.shape.nParams, c.parameters) << c.stem;
        EXPECT_EQ(s.ctx.sizes.nManifest, c.manifest) << c.stem;
        EXPECT_EQ(s.nlp.shape.nFunctions, c.manifest * (c.manifest + 1) / 2) << c.stem;
        EXPECT_EQ(s.ctx.methods.methodRequested, kMethodNone);
        // Every named element refers to a parameter whose name it carries.
        for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e)
            EXPECT_LE(std::abs(s.ctx.elements.parameter[e]), s.ctx.sizes.nParmAll);
    }
}

TEST(LineqsModel, MatrixShapesOfTheThreeFactorModel) {
    Step s(program("hs_cfa_ml"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ModelMatrixTable& mt = s.ctx.model;
    // 9 manifest endogenous, 3 factors and 9 errors exogenous.
    EXPECT_EQ(s.ctx.readers.nEndo, 9);
    EXPECT_EQ(mt.rows[4], 12);
    EXPECT_EQ(mt.columns[1], 21);
    // No endogenous variable on a right-hand side: _BETA_ is the identity.
    EXPECT_EQ(mt.type[2], kMatIdentity);
    EXPECT_EQ(mt.form[2], kFormNone);
    EXPECT_EQ(s.ctx.sizes.invStoreLen, 0);
    // _GAMMA_ holds 9 loadings and 9 unit error paths.
    EXPECT_EQ(mt.elementCount[3], 18);
    // _PHI_: 3 factor variances, 3 covariances, 9 error variances.
    EXPECT_EQ(mt.elementCount[4], 15);
    EXPECT_EQ(mt.type[4], kMatSymmetric);
}

TEST(LineqsModel, RepeatedNameIsOneParameterAndLastStartValueWins) {
    Step s(
        "proc velix data=hs method=none;\n"
        "lineqs x1 = b (0.3) F1 + E1, x2 = B (0.7) F1 + E2, x3 = c F1 + E3;\n"
        "std F1 = 1.0, E1-E3 = ve ve ve;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    // b and B are one parameter, c another, ve one: 3 parameters.
    EXPECT_EQ(s.ctx.sizes.nParmFree, 3);
    // The name and start value come from the last element, in file order.
    EXPECT_EQ(name_of(s.nlp.param.paramNames[0]), "B");
    EXPECT_DOUBLE_EQ(s.nlp.param.x[0], 0.7);
    int32_t shared = 0;
    for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e) shared += s.ctx.elements.parameter[e] == 1;
    EXPECT_EQ(shared, 2);
}

TEST(LineqsModel, GeneratedNamesFromPrefixes) {
    Step s(
        "proc velix data=hs method=none;\n"
        "lineqs x1 = l__ F1 + E1, x2 = l__ F1 + E2, x3 = l__ F1 + E3;\n"
        "std F1 = 1.0, E1-E3 = ve__;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    ASSERT_EQ(s.ctx.sizes.nParmFree, 6);
    EXPECT_EQ(name_of(s.nlp.param.paramNames[0]), "l1");
    EXPECT_EQ(name_of(s.nlp.param.paramNames[2]), "l3");
    EXPECT_EQ(name_of(s.nlp.param.paramNames[3]), "ve1");
    EXPECT_EQ(name_of(s.nlp.param.paramNames[5]), "ve3");
}

TEST(LineqsModel, AddedParametersAndUnusedVariables) {
    Step s(
        "proc velix data=hs method=none;\n"
        "lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = 1 F1 + E3;\n"
        "std F1 E1-E3 = vf v1-v3;\n"
        "parameters p q r = 1 2, a = 5;\n"
        "parameters;\n"
        "parameters s;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.ctx.sizes.nParmFree, 6);
    // a repeats a model parameter and is dropped (210); p, q, r and s are
    // accepted, and then dropped again because no programming statement
    // mentions them (245, one each).
    EXPECT_EQ(s.ctx.sizes.nParmAll, 6);
    EXPECT_EQ(s.ctx.sizes.nParmAdded, 0);
    size_t dropped = 0;
    for (size_t at = 0; (at = s.log.str().find("is not used by the programming statements", at)) != std::string::npos; ++at)
        ++dropped;
    EXPECT_EQ(dropped, 4u) << s.log.str();
    // x4-x9 are not in the model.
    EXPECT_EQ(s.ctx.sizes.nManifest, 3);
    EXPECT_EQ(s.ctx.sizes.nMoments, 6);
}

TEST(LineqsModel, UnusedVariablesLeaveBeforeTheParameterTable) {
    MessagesSince m;
    Step s(
        "proc velix data=hs method=none;\n"
        "lineqs x2 = a F1 + E1, x3 = b F1 + E2, x5 = c F1 + E3; std F1 E1-E3 = 1 v1-v3;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    ASSERT_EQ(s.ctx.sizes.nManifest, 3);
    EXPECT_EQ(name_of(s.ctx.input.manifestNames[0]), "x2");
    EXPECT_EQ(name_of(s.ctx.input.manifestNames[2]), "x5");
    // The kept variables keep their model positions, in order.
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(s.ctx.readers.varPosition[i], i);
    EXPECT_EQ(s.ctx.model.rows[1], 3);
    // The optimizer sees the moments of the kept variables only.
    EXPECT_EQ(s.ctx.sizes.nMoments, 6);
    EXPECT_EQ(s.nlp.shape.nFunctions, 6);
    // Each kept variable is reached by _SEL_: no coverage warning.
    EXPECT_FALSE(has(m.numbers(), 213));
}

TEST(LineqsModel, OptionDefaultsAndCorrections) {
    {
        Step s("proc velix data=hs method=none singular=0 start=0 hessalg=8 slmw=0;\n"
               "lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 E1 E2 = 1 v1 v2;\n");
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_DOUBLE_EQ(s.ctx.options.singular, 1.053671212772351e-08);
        EXPECT_DOUBLE_EQ(s.ctx.options.startConst, 0.5);
        EXPECT_EQ(s.ctx.methods.jacobianModeRequested, 0);
        EXPECT_DOUBLE_EQ(s.ctx.options.waldAlpha, 0.05);
        EXPECT_EQ(std::string(s.ctx.options.vardefKind, 8), "DF      ");
        EXPECT_DOUBLE_EQ(s.ctx.options.ridgeCell, 0.0);
        EXPECT_DOUBLE_EQ(s.ctx.options.alphaEcv, 0.05);
    }
    {
        Step s("proc velix data=hs method=none hessalg=11 ridge;\n"
               "lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 E1 E2 = 1 v1 v2;\n");
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.methods.jacobianModeRequested, 11);
        uint64_t bits;
        std::memcpy(&bits, &s.ctx.options.ridgeCell, 8);
        EXPECT_EQ(bits >> 48, 0xFFFFu);  // automatic ridge: missing
    }
}

TEST(LineqsModel, OptionCellsTakeTheirDefaultsAndCorrections) {
    const char* model = "lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 E1 E2 = 1 v1 v2;\n";
    auto text = [&](const std::string& options) {
        return "proc velix data=hs " + options + ";\n" + model;
    };
    auto missing = [](double v) {
        const double m = host_missing_value();
        return std::memcmp(&v, &m, sizeof v) == 0;
    };
    Step plain(text(""));
    ASSERT_EQ(plain.exitCode, -1) << plain.log.str();
    EXPECT_EQ(plain.ctx.methods.methodRequested, kMethodMl);
    EXPECT_TRUE(missing(plain.ctx.options.edfGiven));
    EXPECT_TRUE(missing(plain.ctx.options.dfReduce));
    EXPECT_TRUE(missing(plain.ctx.options.nobsGiven));
    EXPECT_TRUE(missing(plain.ctx.options.varStartScale));
    EXPECT_TRUE(missing(plain.ctx.options.wPenalty));
    EXPECT_EQ(plain.ctx.options.wRidge, 0.0);
    EXPECT_EQ(plain.ctx.options.randomSeed, 0);
    EXPECT_EQ(plain.ctx.options.asycovKind, 0);
    EXPECT_EQ(plain.ctx.options.alphaRms, 0.05);

    // Negative Jacobian modes, 7 to 10 and above 12 are refused with message 73.
    for (int mode : {-1, 6, 7, 9, 10, 11, 12, 13}) {
        MessagesSince m;
        Step s(text("method=none hessalg=" + std::to_string(mode)));
        ASSERT_EQ(s.exitCode, -1) << mode << "\n" << s.log.str();
        const bool refused = mode < 0 || mode > 12 || (mode >= 7 && mode <= 10);
        EXPECT_EQ(s.ctx.methods.jacobianModeRequested, refused ? 0 : mode) << mode;
        EXPECT_EQ(has(m.numbers(), 73), refused) << mode;
    }

    // Values beyond the integer range are held at its end, not converted
    // undefined: a huge mode of either sign is refused like any mode above
    // 12 or below 0, a huge negative seed keeps its sign.
    for (const char* mode : {"1e20", "-1e20"}) {
        MessagesSince m;
        Step s(text(std::string("method=none hessalg=") + mode));
        ASSERT_EQ(s.exitCode, -1) << mode << "\n" << s.log.str();
        EXPECT_EQ(s.ctx.methods.jacobianModeRequested, 0) << mode;
        EXPECT_TRUE(has(m.numbers(), 73)) << mode;
    }
    {
        Step s(text("method=none random=-1e30"));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.options.randomSeed, INT32_MIN);
    }

    // A penalty weight not above 0 is 0; others are kept.
    for (double w : {-2.0, 0.0, 3.0}) {
        Step s(text("method=none wpenalty=" + std::to_string(w)));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.options.wPenalty, w > 0.0 ? w : 0.0) << w;
    }

    // Optimizer limits are stored only when given and not missing.
    Step given(text("method=none maxiter=50 edf=100 nobs=60 vardef=n alphaecv=0.2"));
    ASSERT_EQ(given.exitCode, -1) << given.log.str();
    EXPECT_EQ(given.nlp.opt.maxIter, 50.0);
    EXPECT_EQ(given.ctx.options.edfGiven, 100.0);
    EXPECT_EQ(given.ctx.options.nobsGiven, 60.0);
    EXPECT_EQ(std::string(given.ctx.options.vardefKind, 8), "N       ");
    EXPECT_EQ(given.ctx.options.alphaEcv, 0.1);
    Step unset(text("method=none maxiter=."));
    ASSERT_EQ(unset.exitCode, -1) << unset.log.str();
    EXPECT_EQ(std::memcmp(&unset.nlp.opt.maxIter, &plain.nlp.opt.maxIter, sizeof(double)), 0);
}

TEST(LineqsModel, InputErrorsEndTheStep) {
    struct Case {
        const char* text;
        int32_t code;
    };
    const Case cases[] = {
        {"proc velix method=none; lineqs x1 = a F1 + E1; std F1 E1 = 1 v;", 2000},       // no DATA=
        {"proc velix data=ability method=wls; lineqs general = a Fg + E1; std Fg E1 = 1 v;", 2000},
        {"proc velix data=hs method=none; lineqs x1 = a x1 + E1; std E1 = v;", 2000},    // own variable
        {"proc velix data=hs method=none; lineqs Ex = a F1 + E1; std F1 E1 = 1 v;", 2000},  // 253
        {"proc velix data=hs method=none; lineqs x1 = a G1 + E1; std E1 = v;", 2000},      // 257
        {"proc velix data=hs method=none; std x1 = v; std x2 = w;", 2000},                 // 268
        {"proc velix data=hs method=none; parameters a;", 2000},                             // 271
        {"proc velix data=hs method=none; lineqs x1 = a F1 + E1 + E2; std F1 E1 E2 = 1 v w;", 2000},
    };
    for (const Case& c : cases) {
        Step s(c.text);
        EXPECT_EQ(s.exitCode, c.code) << c.text << "\n" << s.log.str();
    }
}

TEST(LineqsModel, EquationAndListErrorsGiveTheirMessages) {
    struct Case {
        const char* text;
        int32_t code;  // -1: the step goes on
        int32_t message;
    };
    const Case cases[] = {
        // No STD and nothing else fills _PHI_: noted, then the empty matrix ends the step.
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2;", 1008, 251},
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2;", 1008, 118},
        {"lineqs x1 = a F1 + E1, x1 = b F1 + E2; std F1 E1 E2 = 1 u v;", 2000, 252},
        {"lineqs x1 = a F1 + b F1 + E1; std F1 E1 = 1 v;", 2000, 256},
        {"lineqs x1 = a F1 + E1; std F1 E1 = 1 v, E1 = w;", 2000, 259},
        {"lineqs x1 = a F1 + E1; std F1 E1 = 1 v, x1 = w;", 2000, 260},
        {"lineqs x1 = a F1 + E1; std F1 E1 = 1 v; cov x1 F1 = c;", 2000, 261},
        // More names than variances: the rest is ignored.
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 E1 E2 = 1 u v w;", -1, 262},
        // More start values than the names just given.
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 = 1, E1 E2 = u v (1 2 3);", -1, 263},
        // Short lists repeat their last item: a name is shared, which the
        // note says; a prefix or a value is not.
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = c F2 + E3; std F1 F2 E1-E3 = 1 1 u v w;"
         " cov F1 F2 E1 = r;",
         -1, 279},
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 = 1, E1 E2 = u;", -1, 279},
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = c F2 + E3; std F1 F2 E1-E3 = 1 1 u v w;"
         " cov F1 F2 E1 = r__;",
         -1, 264},
        {"lineqs x1 = a F1 + E1, x2 = b F1 + E2; std F1 = 1, E1 E2 = 2.5;", -1, 265},
    };
    for (const Case& c : cases) {
        MessagesSince m;
        Step s(std::string("proc velix data=hs method=none;\n") + c.text);
        EXPECT_EQ(s.exitCode, c.code) << c.text << "\n" << s.log.str();
        EXPECT_TRUE(has(m.numbers(), c.message)) << c.text << ": no message " << c.message << "\n"
                                                 << s.log.str();
    }
}

TEST(LineqsModel, ShortStdAndCovListsShareOrGenerateTheirParameters) {
    {
        // One name for three error variances: one parameter.
        Step s(
            "proc velix data=hs method=none;\n"
            "lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = c F1 + E3;\n"
            "std F1 = 1.0, E1-E3 = ve;\n");
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.sizes.nParmFree, 4);
        int32_t shared = 0;
        for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e)
            shared +=
                name_of(s.nlp.param.paramNames[std::max(std::abs(s.ctx.elements.parameter[e]), 1) - 1]) ==
                    "ve" &&
                s.ctx.elements.parameter[e] != 0;
        EXPECT_EQ(shared, 3);
    }
    {
        // A COV group of one list of four variables has six pairs; the
        // prefix gives each its own generated name.
        Step s(
            "proc velix data=hs method=none;\n"
            "lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = c F1 + E3, x4 = d F1 + E4;\n"
            "std F1 = 1.0, E1-E4 = v1-v4; cov E1-E4 = r__;\n");
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.sizes.nParmFree, 4 + 4 + 6);
        EXPECT_EQ(s.ctx.model.elementCount[4], 1 + 4 + 6);
        for (int32_t k = 1; k <= 6; ++k) {
            const std::string want = "r" + std::to_string(k);
            bool found = false;
            for (int32_t p = 0; p < s.ctx.sizes.nParmAll; ++p)
                found |= name_of(s.nlp.param.paramNames[p]) == want;
            EXPECT_TRUE(found) << want;
        }
        // Every covariance sits in the lower triangle of _PHI_.
        const int32_t first = s.ctx.model.firstElement[4];
        for (int32_t e = first; e < first + s.ctx.model.elementCount[4]; ++e)
            EXPECT_GE(s.ctx.elements.row[e], s.ctx.elements.column[e]) << "element " << e;
    }
}

TEST(LineqsModel, GlsOnCovarianceInputIsValid) {
    Step s("proc velix data=ability method=gls; lineqs general = a Fg + E1, picture = b Fg + E2;"
           " std Fg E1 E2 = 1 v1 v2;");
    EXPECT_EQ(s.exitCode, -1) << s.log.str();
}

TEST(OptimizerState, SaveAndRestoreAcrossByGroups) {
    Step s(
        "proc velix data=hs method=none;\n"
        "lineqs x1 = b (0.3) F1 + E1, x2 = b F1 + E2, x3 = c (0.2) F1 + E3;\n"
        "std F1 = 1.0, E1-E3 = ve1-ve3 (1 2 3);\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    s.ctx.sizes.nByVars = 1;  // behave as with BY groups
    const int32_t nE = s.ctx.sizes.nElements, nP = s.ctx.sizes.nParmAll;
    std::vector<double> elements(s.ctx.elements.value, s.ctx.elements.value + nE);
    std::vector<double> x(s.nlp.param.x, s.nlp.param.x + nP);
    const double maxIter = s.nlp.opt.maxIter;
    auto same_bits = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    cosxinp(&s.ctx, 0);
    EXPECT_EQ(s.ctx.optSetup.saveEnd[0], static_cast<int64_t>(sizeof(NlpProblem) + sizeof(NlpHookBlock)) + 8 * (nE + nP));
    // A BY group changes everything.
    for (int32_t i = 0; i < nP; ++i) s.nlp.param.x[i] = 100.0 + i;
    for (int32_t e = 0; e < nE; ++e) s.ctx.elements.value[e] = -1.0;
    s.nlp.opt.maxIter = 7.0;
    cosxinp(&s.ctx, 1);
    for (int32_t i = 0; i < nP; ++i) EXPECT_TRUE(same_bits(s.nlp.param.x[i], x[i])) << "parameter " << i;
    EXPECT_TRUE(same_bits(s.nlp.opt.maxIter, maxIter));
    // Every element of a parameter takes the parameter's value: b occurs
    // twice, and its last element has no start value, so b is missing.
    uint64_t bBits;
    std::memcpy(&bBits, &s.nlp.param.x[0], 8);
    EXPECT_EQ(bBits >> 48, 0xFFFFu);
    for (int32_t e = 0; e < nE; ++e) {
        const int32_t p = s.ctx.elements.parameter[e];
        const double want = p ? x[std::abs(p) - 1] : elements[e];
        EXPECT_TRUE(same_bits(s.ctx.elements.value[e], want)) << "element " << e;
    }
}

}  // namespace
