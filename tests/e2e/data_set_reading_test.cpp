// Data sets read as the user meant them, or refused with a message that
// names the cause: data sets wider than variables can be numbered, a
// covariance matrix written by R read without a TYPE, R's non-finite
// values, and files whose trouble another message would hide.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

// A data set of `columns` numeric variables v1, v2, ... and `rows`
// observations, written in `dir`; variable vk holds k plus a small number
// that varies with the observation, so that its mean says which column it
// was read from.
void write_wide(const std::string& dir, const std::string& name, int columns, int rows) {
    std::string text;
    for (int k = 1; k <= columns; ++k) text += (k > 1 ? ",v" : "v") + std::to_string(k);
    text += '\n';
    for (int r = 0; r < rows; ++r) {
        for (int k = 1; k <= columns; ++k)
            text += (k > 1 ? "," : "") + std::to_string(k + (r * (k % 5 + 1)) % 4);
        text += '\n';
    }
    std::ofstream(dir + "/" + name + ".csv") << text;
}

// A data set with more variables than can be numbered is refused in every
// input role, with its count and the limit, before anything is analysed;
// one at the limit analyses the very columns its VAR list names.
TEST(DataSetReading, VariablesBeyondTheMostThatCanBeNumberedAreRefused) {
    const std::string dir = own_folder("data_set_reading_wide");
    write_wide(dir, "at", 32767, 3);
    write_wide(dir, "over", 32768, 3);
    const std::string model = "factor n=1;\nrun;\n";
    const struct {
        const char* options;
        const char* vars;
    } refused[] = {
        {"data=over", "var v32765-v32768;\n"},
        {"data=over", ""},
        {"data=at inest=over", "var v32764-v32767;\n"},
        {"data=at inwgt=over method=gls", "var v32764-v32767;\n"},
        {"data=at inram=over", "var v32764-v32767;\n"},
    };
    for (const auto& c : refused) {
        const RunResult r = run_velix(std::string("proc velix ") + c.options + ";\n" + c.vars + model, {},
                                      {"--lib", dir});
        EXPECT_NE(r.exitStatus, 0) << c.options;
        EXPECT_NE(r.log.find("over.csv: the data set has 32768 variables, more than the 32767 a data set can have"),
                  std::string::npos)
            << c.options << "\n" << r.log.substr(0, 2000);
        EXPECT_EQ(r.log.find("internal error"), std::string::npos) << c.options;
        EXPECT_TRUE(r.items(0, "table", "SimpleStatistics").empty()) << c.options << ": nothing is analysed";
    }
    const RunResult r = run_velix("proc velix data=at;\nvar v32764-v32767;\n" + model, {}, {"--lib", dir});
    const JsonValue& stats = r.table(0, "SimpleStatistics");
    ASSERT_EQ(stats["rows"].size(), 4u) << r.log.substr(0, 2000);
    for (size_t i = 0; i < 4; ++i) {
        const int k = 32764 + static_cast<int>(i);
        EXPECT_EQ(cell(stats, i, "Variable").str(), "v" + std::to_string(k));
        double mean = 0.0;
        for (int row = 0; row < 3; ++row) mean += (k + (row * (k % 5 + 1)) % 4) / 3.0;
        EXPECT_NEAR(cell(stats, i, "Mean").number(), mean, 1e-9) << k;
    }
}

}  // namespace
}  // namespace velix::test
