// Whole programs with odd but plausible inputs: option values that are
// missing, and DATA= sets that hold no observation.  Each must end with a
// clear message and a return code, never an internal error or a silent
// success.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "harness.h"

using velix::test::groups_opened;
using velix::test::own_folder;
using velix::test::run_velix;

namespace {

// One factor of x1-x3 on the data set `data` with the PROC options given.
std::string one_factor(const std::string& data, const std::string& options) {
    return "proc velix data=" + data + " " + options + ";\n"
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
           "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";
}

bool has(const std::vector<int>& numbers, int number) {
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

}  // namespace

TEST(OddInputs, MissingStartConstantIsTheInvalidZeroAndNotAnInternalError) {
    // START=. used to leave every unset element without a start value and
    // end the step with 9999.  It now reads as the invalid START=0: message
    // 74 and the constant 0.5, so its listing is that of START=0.
    for (const char* method : {"method=ml", "method=gls", "method=wls", "method=lsdwls"}) {
        const std::string opts = std::string("covariance pinitial ") + method;
        auto missing = run_velix(one_factor("hs", opts + " start=."), {"hs.csv"});
        auto zero = run_velix(one_factor("hs", opts + " start=0"), {"hs.csv"});
        ASSERT_TRUE(missing.json.is_object()) << missing.log;
        EXPECT_EQ(missing.json["steps"][0]["returnCode"].number(), 0.0) << method << "\n" << missing.log;
        EXPECT_EQ(missing.log.find("internal error"), std::string::npos) << missing.log;
        EXPECT_TRUE(has(missing.messages(0, 352), 74)) << method;
        EXPECT_EQ(missing.listing, zero.listing) << method;
    }
}

TEST(OddInputs, MissingOptionValuesPrintAsAMissingValueInMessages) {
    // EDF=0 with a weight: the note on too few observations names every
    // count, DFREDUCE= among them although it was not given; it reads "."
    // and not the NaN that carries the missing value.
    const std::string dir = own_folder("odd_inputs_edf");
    std::ofstream(dir + "/w.csv") << "w,x1,x2,x3\n1,1,2,3\n2,2,1,4\n1,3,5,2\n1,4,4,6\n1,5,7,5\n";
    std::string program = one_factor("'" + dir + "/w.csv'", "covariance edf=0");
    program.insert(program.find("lineqs"), "weight w;\n");
    auto r = run_velix(program, {});
    ASSERT_TRUE(r.json.is_object()) << r.log;
    EXPECT_TRUE(has(r.messages(0, 352), 6)) << r.log;
    EXPECT_NE(r.log.find("DFREDUCE= ."), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("nan"), std::string::npos) << r.log;
}

TEST(OddInputs, DataSetWithoutObservationsIsAnErrorNotACleanRun) {
    // A DATA= set with a header line only has no BY group, so the loop
    // makes no pass; the step used to end with 0 and not a word.  It now
    // ends with message 4 and 108, with or without BY variables, for every
    // method.
    const std::string dir = own_folder("odd_inputs_empty");
    std::ofstream(dir + "/header.csv") << "g,x1,x2,x3\n";
    for (const char* by : {"", "by g;\n"})
        for (const char* method : {"method=ml", "method=uls", "method=gls", "method=wls", "method=dwls",
                                   "method=lsgls", "method=lswls", "method=lsdwls"}) {
            std::string program = one_factor("'" + dir + "/header.csv'", std::string("covariance ") + method);
            program.insert(program.find("lineqs"), std::string("var x1-x3;\n") + by);
            auto r = run_velix(program, {});
            ASSERT_TRUE(r.json.is_object()) << r.log;
            EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 108.0) << method << by << "\n" << r.log;
            EXPECT_EQ(r.exitStatus, 1) << method;
            EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 0u) << method;
            EXPECT_TRUE(has(r.messages(0, 352), 4)) << method << by;
        }
    // One observation is a group: the moments stage reports it instead.
    std::ofstream(dir + "/one.csv") << "x1,x2,x3\n1,2,3\n";
    auto r = run_velix(one_factor("'" + dir + "/one.csv'", "covariance"), {});
    ASSERT_TRUE(r.json.is_object()) << r.log;
    EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 1u);
    EXPECT_FALSE(has(r.messages(0, 352), 4));
}
