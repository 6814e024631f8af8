// Programming statements and dependent parameters, through cosinit on whole
// LINEQS programs with METHOD=NONE: a loading tied to another by a statement
// becomes a dependent parameter behind the independent ones, with its
// analytic derivative; unused added parameters are dropped; the failure
// messages of the passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "platform/session.h"
#include "platform/step_exit.h"
#include "procedure/driver/model.h"
#include "procedure/procedure.h"
#include "tests/support/statement_fixture.h"
#include "velix/host_compiler.h"

namespace {

using velix::testing::name_of;

struct ProgramStep : velix::testing::CosinitStep {
    using CosinitStep::CosinitStep;

    int32_t parameter(const std::string& name) const {
        for (int32_t k = 0; k < ctx.sizes.nParmAll; ++k)
            if (name_of(nlp.paramNames[k]) == name) return k;
        return -1;
    }
};

const char* kModel =
    "proc velix data=hs method=none covariance;\n"
    "   lineqs\n"
    "      x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
    "      x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6,\n"
    "      x7 = 1.0 Fspd + E7, x8 = l8 Fspd + E8, x9 = l9 Fspd + E9;\n"
    "   std Fvis Ftxt Fspd = vvis vtxt vspd, E1-E9 = ve1-ve9;\n"
    "   cov Fvis Ftxt = cvt, Fvis Fspd = cvs, Ftxt Fspd = cts;\n";

TEST(ProgramStatements, TiedLoadingBecomesADependentParameter) {
    ProgramStep plain(std::string(kModel) + "run;\n");
    ASSERT_EQ(plain.exitCode, -1) << plain.log.str();
    ProgramStep tied(std::string(kModel) + "   l3 = 2 * l2;\nrun;\n");
    ASSERT_EQ(tied.exitCode, -1) << tied.log.str();
    // One independent parameter fewer; l3 is the one dependent parameter and
    // stands behind all independent ones.
    EXPECT_EQ(tied.ctx.sizes.nParmFree, plain.ctx.sizes.nParmFree - 1);
    EXPECT_EQ(tied.nlp.nParams, plain.nlp.nParams - 1);
    EXPECT_EQ(tied.ctx.sizes.nParmDep, 1);
    EXPECT_EQ(tied.ctx.sizes.nParmAll, plain.ctx.sizes.nParmAll);
    const int32_t l3 = tied.parameter("l3");
    const int32_t l2 = tied.parameter("l2");
    EXPECT_EQ(l3, tied.ctx.sizes.nParmAll - 1);
    ASSERT_EQ(tied.ctx.program.depList.count, 1);
    EXPECT_EQ(std::string(tied.ctx.program.depList.symbols[0]->name, 2), "l3");
    EXPECT_EQ(tied.ctx.program.depParmNumbers[0], -(l3 + 1));
    ASSERT_EQ(tied.ctx.program.nDepInputs, 1);
    EXPECT_EQ(tied.ctx.program.depInputParms[0], l2 + 1);
    // The element of l3 carries its negative number; the others keep the
    // order of the plain model.
    int32_t negative = 0;
    for (int32_t e = 0; e < tied.ctx.sizes.nElements; ++e) {
        if (tied.ctx.elements.parameter[e] < 0) {
            ++negative;
            EXPECT_EQ(tied.ctx.elements.parameter[e], -(l3 + 1));
        }
    }
    EXPECT_EQ(negative, 1);
    // The program runs on x and leaves l3 = 2 l2 with dl3/dl2 = 2.
    tied.nlp.x[l2] = 0.8;
    int32_t errors = 0, missing = 0;
    cmpexi(1, 0, 0, &tied.work);
    ASSERT_EQ(cmprun(0, 0, 0, 1, 1, 1, 0, 1, &errors, &missing, &tied.work), kCmpRunEnd);
    EXPECT_EQ(tied.nlp.x[l3], 1.6);
    ASSERT_EQ(tied.ctx.program.nDepDerivs, 1);
    EXPECT_EQ(tied.ctx.program.depDerivCells[0], 2.0);
    EXPECT_EQ(tied.ctx.program.depDerivParm[0], 0);
    EXPECT_EQ(tied.ctx.program.depDerivInput[0], 0);
}

TEST(ProgramStatements, DependentParametersMoveBehindAddedOnes) {
    // a and b model parameters, b assigned; c added and read: order a.., c, b.
    ProgramStep s("proc velix data=hs method=none covariance;\n"
                  "   lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = 1.0 F1 + E3;\n"
                  "   std F1 = 1.0, E1-E3 = u1-u3;\n"
                  "   parameters c d = 0.5 0.2;\n"
                  "   b = a * c;\n"
                  "run;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    // d is not used by the program: dropped with message 245.
    EXPECT_EQ(s.parameter("d"), -1);
    EXPECT_NE(s.log.str().find("d is not used by the programming statements"), std::string::npos)
        << s.log.str();
    const int32_t a = s.parameter("a"), b = s.parameter("b"), c = s.parameter("c");
    EXPECT_LT(a, c);
    EXPECT_EQ(c, s.ctx.sizes.nParmAll - 2);
    EXPECT_EQ(b, s.ctx.sizes.nParmAll - 1);
    EXPECT_EQ(s.nlp.x[c], 0.5);
    bool found = false;
    for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e) found |= s.ctx.elements.parameter[e] == -(b + 1);
    EXPECT_TRUE(found);
    // Both inputs of b have derivative entries: db/da = c, db/dc = a.
    EXPECT_EQ(s.ctx.program.nDepDerivs, 2);
}

TEST(ProgramStatements, FdcodeAsksForNoAnalyticDerivativesAndListPrintsTheLists) {
    const std::string tie = "   l3 = 2 * l2;\nrun;\n";
    auto with_options = [&](const char* options) {
        std::string text = kModel;
        text.replace(text.find("covariance"), 10, std::string("covariance ") + options);
        return text + tie;
    };
    {
        ProgramStep s(std::string(kModel) + tie);
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.program.fdDepDerivs, 0);
        EXPECT_EQ(s.ctx.program.programListing, 0);
        EXPECT_EQ(s.ctx.program.nDepDerivs, 1);  // dl3/dl2
    }
    {
        auto& session = velix::platform::session();
        std::ostringstream listing;
        std::ostream* saved = session.listing;
        session.listing = &listing;
        ProgramStep s(with_options("fdcode list"));
        session.listing = saved;
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_NE(listing.str().find("Dependent: l3\n"), std::string::npos) << listing.str();
        EXPECT_NE(listing.str().find("Independent: l2\n"), std::string::npos) << listing.str();
        EXPECT_EQ(s.ctx.program.fdDepDerivs, 1);
        EXPECT_EQ(s.ctx.options.rebuildBeforeDerivs, 1);
        EXPECT_EQ(s.ctx.program.programListing, 1);
        EXPECT_EQ(s.ctx.program.depDerivRequest, 0);
        EXPECT_EQ(s.ctx.program.conDerivRequest, 0);
        EXPECT_EQ(s.ctx.program.nDepDerivs, 0);
        // l3 is dependent all the same: it moves to the end of the table.
        EXPECT_EQ(s.parameter("l3"), s.ctx.sizes.nParmAll - 1);
    }
    {
        ProgramStep s(with_options("list noprint"));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.ctx.program.programListing, 0);
    }
}

TEST(ProgramStatements, ProgramWithoutDependentParameterIsNotRun) {
    ProgramStep s(std::string(kModel) + "   t = l2 * 2;\nrun;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.ctx.program.hasProgram, 0);
    EXPECT_NE(s.log.str().find("define no dependent parameter"), std::string::npos) << s.log.str();
}

TEST(ProgramStatements, CharacterSpecialVariableEndsTheStep) {
    ProgramStep s(std::string(kModel) + "   length _dproc_ $ 8;\n   l3 = 2 * l2;\nrun;\n");
    EXPECT_EQ(s.exitCode, 2000);
    EXPECT_NE(s.log.str().find("_dproc_ of the programming statements must be numeric"), std::string::npos)
        << s.log.str();
}

TEST(ProgramStatements, StatementErrorEndsTheStepWithItsPlace) {
    ProgramStep s(std::string(kModel) + "   l3 = 2 * sqr(l2);\nrun;\n");
    EXPECT_EQ(s.exitCode, 2000);
    EXPECT_NE(s.log.str().find("unknown function sqr at line 8, column 13"), std::string::npos) << s.log.str();
}

TEST(ProgramStatements, ProgramFaultEndsTheStep) {
    // u is read but never given a value.
    ProgramStep s(std::string(kModel) + "   l3 = 2 * l2 + u;\nrun;\n");
    EXPECT_EQ(s.exitCode, 2000);
    EXPECT_NE(s.log.str().find("variable u of the programming statements is never given a value"),
              std::string::npos)
        << s.log.str();
}

}  // namespace
