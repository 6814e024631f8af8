// Profile-likelihood limits under active bounds and linear constraints, on
// the two-factor model of ability_ml: every limit agrees with refits of
// the model with the parameter fixed under the same constraints
// (constrained_profile_reference.R beside this file, an ML discrepancy of
// its own minimised by R's nlminb, wrote
// tests/fixtures/ability_constrained_profile.csv).  Each program is run
// once with the trace reaching every target (the limits come from refits)
// and once with FEASRATIO= cutting the trace short, so that the far limits
// come from the augmented system.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <tuple>

#include "tests/e2e/harness.h"

using velix::test::cell;
using velix::test::RunResult;

namespace {

// Agreement asked of the limits (the refits and the reference stop at
// their own tolerances).
constexpr double kLimitTol = 1e-4;

using Key = std::tuple<std::string, std::string, double>;  // case, parameter, alpha

std::map<Key, std::pair<double, double>> reference() {
    const velix::test::Rows r = velix::test::read_rows(velix::test::data_path("ability_constrained_profile.csv"));
    std::map<Key, std::pair<double, double>> out;
    for (const auto& c : r.cells) out[{c[0], c[1], std::stod(c[2])}] = {std::stod(c[3]), std::stod(c[4])};
    return out;
}

std::string trimmed(const std::string& s) { return s.substr(0, s.find_last_not_of(' ') + 1); }

// Runs ability_ml with the statements before its RUN and checks each row
// of the limits table against the reference case `name`.
void expect_reference_limits(const std::string& name, const std::string& statements, size_t rows) {
    std::string program = velix::test::read_text(velix::test::data_path("ability_ml.vx"));
    program.insert(program.rfind("run;"), statements);
    const RunResult r = velix::test::run_velix(program, {"ability.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    // No limit is abandoned, and (OUTTABLE lists each sub-optimization) no
    // refit fails.
    EXPECT_EQ(r.log.find("WARNING"), std::string::npos) << statements << r.log;
    EXPECT_EQ(r.listing.find("did not converge"), std::string::npos) << statements;
    const auto ref = reference();
    const velix::test::JsonValue& t = r.table(0, "WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), rows) << statements;
    for (size_t i = 0; i < rows; ++i) {
        const std::string param = trimmed(cell(t, i, "Parameter").str());
        const double alpha = cell(t, i, "Alpha").number();
        const auto want = ref.at({name, param, alpha});
        EXPECT_NEAR(cell(t, i, "LowerPLI").number(), want.first, kLimitTol) << statements << param;
        EXPECT_NEAR(cell(t, i, "UpperPLI").number(), want.second, kLimitTol) << statements << param;
    }
}

TEST(ConstrainedProfile, ABoundActiveAtTheLimitAgreesWithRefits) {
    // l4 reaches its bound 0.45 on the way to l2's upper limit.
    expect_reference_limits("bound", "bounds l4 <= 0.45;\nprofile l2 / 99;\n", 1);
    expect_reference_limits("bound", "bounds l4 <= 0.45;\nprofile l2 / 99 feasratio=0.3;\n", 1);
}

TEST(ConstrainedProfile, ActiveLinearConstraintsAgreeWithRefits) {
    // Both rows are active at the estimate and at most limits.
    const std::string rows = "lincon l2 - l4 >= 0.05, ve2 + ve4 <= 14;\n";
    // Every refit runs NRLINS, the technique of linear rows, with the
    // profiled parameter fixed and rows active; it once broke down in most
    // of them, or stopped at a vertex with a negative multiplier.
    expect_reference_limits("linear", rows + "profile l2 l4 ve2 / 95 outtable;\n", 3);
    expect_reference_limits("linear", rows + "profile l2 l4 ve2 / 95 feasratio=0.3;\n", 3);
}

}  // namespace
