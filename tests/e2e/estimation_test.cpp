// Whole programs that estimate: the three reference programs run with
// METHOD=ML to return code 0 inside one "Optimization" group and stop at a
// convergence criterion at the minimum of F of R's lavaan 0.6.14 (the
// *.expected.json files beside the programs in tests/fixtures).
#include <gtest/gtest.h>

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

TEST(Estimation, ReferenceProgramsConvergeToTheReferenceMinimum) {
    const struct {
        const char* stem;
        const char* data;
    } cases[] = {{"hs_cfa_ml", "hs.csv"}, {"poldem_ml", "poldem.csv"}, {"ability_ml", "ability.csv"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stem);
        std::ifstream in(data_path(std::string(c.stem) + ".vx")), ref(data_path(std::string(c.stem) + ".expected.json"));
        std::stringstream program, expected;
        program << in.rdbuf();
        expected << ref.rdbuf();
        const double fmin = JsonValue::parse(expected.str())["fmin"].number();
        const RunResult r = run_velix(program.str(), {c.data});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        EXPECT_EQ(groups_opened(r, 0, "Optimization"), 1u);
        const JsonValue& status = r.table(0, "ConvergenceStatus");
        EXPECT_EQ(cell(status, 0, "Status").number(), 0.0) << cell(status, 0, "Reason").str();
        const JsonValue* stop = r.items(0, "factoid", "IterStop").at(0);
        EXPECT_NEAR(entry(*stop, "Objective Function"), fmin, 1e-5 * fmin);
    }
}

}  // namespace
}  // namespace velix::test
