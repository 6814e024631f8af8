// The parameter table's count checks: parameters the programming statements
// define are not estimated, so they count neither towards too many
// parameters for the moments nor towards a model with something to estimate.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/statement_fixture.h"

namespace {

struct ModelRun {
    size_t from = velix::testing::messages_now();
    velix::testing::CosinitStep step;
    std::vector<int32_t> messages;
    explicit ModelRun(const std::string& text) : step(text), messages(velix::testing::messages_since(from)) {}
    int count(int32_t n) const { return static_cast<int>(std::count(messages.begin(), messages.end(), n)); }
};

// Three variables give 6 moments; the one-factor model names 7 parameters.
const char* kModel =
    "proc velix data=hs method=none; var x1-x3;\n"
    "lineqs x1 = a F1 + E1, x2 = b F1 + E2, x3 = c F1 + E3;\n"
    "std F1 = v, E1-E3 = e1-e3;\n";

TEST(ParameterTable, MoreParametersThanMomentsCountsOnlyTheEstimatedOnes) {
    ModelRun over(kModel);
    ASSERT_EQ(over.step.exitCode, -1) << over.step.log.str();
    EXPECT_EQ(over.step.ctx.sizes.nParmFree, 7);
    EXPECT_EQ(over.count(212), 1);
    EXPECT_EQ(over.step.ctx.errorLevel, 4);  // raised, the step goes on

    // c defined from b: six parameters are estimated, as many as moments.
    ModelRun tied(std::string(kModel) + "c = b;\n");
    ASSERT_EQ(tied.step.exitCode, -1) << tied.step.log.str();
    EXPECT_EQ(tied.step.ctx.sizes.nParmFree, 6);
    EXPECT_EQ(tied.count(212), 0);
    EXPECT_LT(tied.step.ctx.errorLevel, 4);
}

TEST(ParameterTable, OnlyDependentParametersLeaveNothingToEstimate) {
    // Both named parameters are defined by the program: none is estimated.
    ModelRun r("proc velix data=hs method=none; var x1-x2;\n"
          "lineqs x1 = a F1 + E1, x2 = b F1 + E2;\n"
          "std F1 = 1.0, E1-E2 = 0.5 0.5;\n"
          "a = 0.7; b = 0.6;\n");
    ASSERT_EQ(r.step.exitCode, -1) << r.step.log.str();
    EXPECT_EQ(r.step.ctx.sizes.nParmFree, 0);
    EXPECT_EQ(r.count(211), 1);
}

}  // namespace
