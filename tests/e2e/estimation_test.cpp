// Whole programs that estimate: the three reference programs run with
// METHOD=ML to return code 0 inside one "Optimization" group and stop at a
// convergence criterion at the minimum of F of R's lavaan 0.6.14 (the
// *.expected.json files beside the programs in tests/fixtures), and print
// the estimates with the reference standard errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "harness.h"

namespace velix::test {
namespace {

// The value of the entry `label` of a factoid table.
double entry(const JsonValue& factoid, const std::string& label) {
    const JsonValue& entries = factoid["entries"];
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i]["label"].str() == label) return entries[i]["value"].number();
    ADD_FAILURE() << "no entry " << label;
    return 0.0;
}

// Estimates and standard errors agree with the reference to this relative
// tolerance: both programs stop at their own convergence criteria, F
// agrees to 1e-5, the estimates and standard errors to about 1e-4.
constexpr double kEstimateTolerance = 3e-4;

struct ReferenceRun {
    JsonValue expected;
    RunResult result;
};

ReferenceRun run_reference(const char* stem, const char* data) {
    std::ifstream in(data_path(std::string(stem) + ".vx")), ref(data_path(std::string(stem) + ".expected.json"));
    std::stringstream program, expected;
    program << in.rdbuf();
    expected << ref.rdbuf();
    return {JsonValue::parse(expected.str()), run_velix(program.str(), {data})};
}

const struct {
    const char* stem;
    const char* data;
} kCases[] = {{"hs_cfa_ml", "hs.csv"}, {"poldem_ml", "poldem.csv"}, {"ability_ml", "ability.csv"}};

TEST(Estimation, ReferenceProgramsConvergeToTheReferenceMinimum) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.stem);
        const ReferenceRun run = run_reference(c.stem, c.data);
        const RunResult& r = run.result;
        const double fmin = run.expected["fmin"].number();
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        EXPECT_EQ(groups_opened(r, 0, "Optimization"), 1u);
        const JsonValue& status = r.table(0, "ConvergenceStatus");
        EXPECT_EQ(cell(status, 0, "Status").number(), 0.0) << cell(status, 0, "Reason").str();
        const JsonValue* stop = r.items(0, "factoid", "IterStop").at(0);
        EXPECT_NEAR(entry(*stop, "Objective Function"), fmin, 1e-5 * fmin);
    }
}

// The start and the result table "ParameterEstimates" are printed by
// default; the result table holds every reference parameter with its
// estimate, the reference standard error (the inverse expected information
// scaled by 2/(N-1)) and t = estimate / standard error.
TEST(Estimation, ResultTableShowsTheReferenceStandardErrors) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.stem);
        const ReferenceRun run = run_reference(c.stem, c.data);
        const RunResult& r = run.result;
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const auto tables = r.items(0, "table", "ParameterEstimates");
        ASSERT_EQ(tables.size(), 2u) << "a start and a result table";
        const JsonValue& t = *tables[1];
        const JsonValue& params = run.expected["params"];
        size_t matched = 0;
        for (size_t i = 0; i < t["rows"].size(); ++i) {
            const std::string name = cell(t, i, "Parameter").str();
            const JsonValue& ref = params[name];
            if (ref.is_null()) continue;
            ++matched;
            const double est = cell(t, i, "Estimate").number(), se = cell(t, i, "AppStdErr").number();
            const double refEst = ref["est"].number(), refSe = ref["se"].number();
            EXPECT_NEAR(est, refEst, kEstimateTolerance * std::max(1.0, std::fabs(refEst))) << name;
            EXPECT_NEAR(se, refSe, kEstimateTolerance * refSe) << name;
            EXPECT_NEAR(cell(t, i, "tValue").number(), est / se, 1e-9 * std::fabs(est / se)) << name;
        }
        EXPECT_EQ(matched, params.size());
    }
}

}  // namespace
}  // namespace velix::test
