// PARAMETERS and STRUCTEQ through cosinit on whole LINEQS programs with
// METHOD=NONE: the start values of added parameters (numbers belong to the
// last names before them, the start constant or the random generator for
// the others), and the STRUCTEQ names.  The added parameters are read by a
// programming statement so that they stay in the parameter table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/statement_fixture.h"

namespace {

using velix::testing::messages_now;
using velix::testing::messages_since;
using velix::testing::name_of;

struct Step : velix::testing::CosinitStep {
    using CosinitStep::CosinitStep;
    // The start value of a parameter by name; NaN when there is none.
    double start(const std::string& name) const {
        for (int32_t k = 0; k < ctx.sizes.nParmAll; ++k)
            if (name_of(nlp.paramNames[k]) == name) return nlp.x[k];
        ADD_FAILURE() << "no parameter " << name;
        return std::nan("");
    }
};

// A one-factor model whose loading l3 the program computes from l2 and the
// added parameters `uses`.
std::string program(const std::string& options, const std::string& statements,
                    const std::string& uses) {
    return "proc velix data=hs method=none " + options + ";\n" +
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
           "std F1 E1-E3 = vf ve1-ve3;\n" +
           statements + "\nl3 = l2 * (" + uses + ");\n";
}

TEST(AddedParameters, NumbersBelongToTheLastNamesBeforeThem) {
    {
        const size_t from = messages_now();
        Step s(program("", "parameters a b c = 5; parameters d = 1 2 3;", "a + b + c + d"));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.start("a"), 0.5);  // the start constant
        EXPECT_EQ(s.start("b"), 0.5);
        EXPECT_EQ(s.start("c"), 5.0);
        EXPECT_EQ(s.start("d"), 1.0);  // 2 and 3 have no name: message 231
        const auto m = messages_since(from);
        EXPECT_EQ(std::count(m.begin(), m.end(), 231), 1);
    }
    {
        // The numbers after a comma still reach back over it.
        Step s(program("start=0.25", "parameters a b = 1 2, c = 3, d;", "a + b + c + d"));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        EXPECT_EQ(s.start("a"), 1.0);
        EXPECT_EQ(s.start("b"), 2.0);
        EXPECT_EQ(s.start("c"), 3.0);
        EXPECT_EQ(s.start("d"), 0.25);
    }
}

// The multiplicative congruential generator seed := seed * 397204094 mod
// (2^31 - 1) in 64-bit integer arithmetic, for comparison.
double next_uniform(int64_t* seed) {
    *seed = (*seed * 397204094) % 2147483647;
    return static_cast<double>(*seed) / 2147483647.0;
}

TEST(AddedParameters, RandomStartValuesFollowTheSeed) {
    Step s(program("random=12345", "parameters a b c = 0.75;", "a + b + c"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    int64_t seed = 12345;
    const double a = next_uniform(&seed), b = next_uniform(&seed);
    EXPECT_EQ(s.start("a"), a);
    EXPECT_EQ(s.start("b"), b);
    EXPECT_EQ(s.start("c"), 0.75);  // the given number replaces the third draw
    EXPECT_GT(a, 0.0);
    EXPECT_LT(a, 1.0);
    // The same seed gives the same values.
    Step again(program("random=12345", "parameters a b c = 0.75;", "a + b + c"));
    EXPECT_EQ(again.start("a"), s.start("a"));
    EXPECT_EQ(again.start("b"), s.start("b"));
}

TEST(AddedParameters, EmptyStatementIsNotedAndTheNextOneRead) {
    const size_t from = messages_now();
    Step s(program("", "parameters; parameters a = 2;", "a"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.start("a"), 2.0);
    const auto m = messages_since(from);
    EXPECT_NE(std::find(m.begin(), m.end(), 232), m.end());
}

TEST(Structeq, NamesAreCopiedAndASecondStatementIsRefused) {
    {
        Step s(program("", "structeq F1 E1;", "1"));
        ASSERT_EQ(s.exitCode, -1) << s.log.str();
        ASSERT_EQ(s.ctx.sizes.nStructEq, 2);
        EXPECT_EQ(name_of(s.ctx.readers.structEqNames[0]), "F1");
        EXPECT_EQ(name_of(s.ctx.readers.structEqNames[1]), "E1");
    }
    {
        const size_t from = messages_now();
        Step s(program("", "structeq F1; structeq E1;", "1"));
        EXPECT_EQ(s.exitCode, 2000) << s.log.str();
        const auto m = messages_since(from);
        EXPECT_NE(std::find(m.begin(), m.end(), 229), m.end());
    }
}

}  // namespace
