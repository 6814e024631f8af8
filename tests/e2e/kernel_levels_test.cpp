// The same numbers on every processor.  The kernels compiled once per
// level of the x86-64 vector extensions (velix/kernel_clones.h) must do the
// same arithmetic in the same order at every level, so each program runs on
// velix (the kernels of the processor's own level) and on velix_baseline
// (the baseline kernels, what a processor without AVX2 runs), and the two
// listings and JSON documents must be the same bytes.  On a processor
// without AVX2 both commands run the baseline.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "tests/support/fixtures.h"

namespace velix::test {
namespace {

// Where two texts first differ: the line number and 60 bytes on either
// side in each; empty when they are the same bytes.
std::string first_difference(const std::string& a, const std::string& b) {
    if (a == b) return "";
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    const auto from = std::max<std::ptrdiff_t>(at - 60, 0);
    auto around = [&](const std::string& s) { return s.substr(static_cast<size_t>(from), 120); };
    return "line " + std::to_string(std::count(a.begin(), a.begin() + at, '\n') + 1) + ":\n  " + around(a) + "\n  " +
           around(b);
}

void expect_same_on_both_levels(const std::string& program, const std::vector<std::string>& dataFiles,
                                const std::string& what) {
    const RunResult machine = run_velix(program, dataFiles, {}, kVelix);
    const RunResult baseline = run_velix(program, dataFiles, {}, kBaseline);
    ASSERT_EQ(machine.exitStatus, 0) << what << "\n" << machine.log;
    EXPECT_EQ(baseline.exitStatus, machine.exitStatus) << what << "\n" << baseline.log;
    EXPECT_EQ(first_difference(machine.listing, baseline.listing), "") << what << ": the listings differ";
    EXPECT_EQ(first_difference(machine.jsonText, baseline.jsonText), "") << what << ": the JSON documents differ";
}

// The README's example with every table, and the large reference model with
// the modification indices, whose run takes every kernel: the moments of
// 2,000 observations, the blocked factor and inverse of the information of
// order 306, the row products of the objective, the sparse cross product and
// the shares of the indices.
TEST(KernelLevels, EveryLevelGivesTheSameBytes) {
    std::string example = read_text(std::string(VELIX_SOURCE_DIR) + "/examples/default.vx");
    example.replace(example.find("covariance;"), 11, "covariance pall;");
    expect_same_on_both_levels(example, {"hs.csv"}, "the README's example");
    std::string large = large_reference_program();
    large.replace(large.find("method=ml"), 9, "method=ml modification");
    expect_same_on_both_levels(large, {}, "the large model with its modification indices");
}

}  // namespace
}  // namespace velix::test
