// Odd but plausible model statements through the velix command: each ends
// with a numbered message and a return code that names the user's fault,
// never with an internal error.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "harness.h"

using velix::test::run_velix;
using velix::test::RunResult;

namespace {

constexpr int kGroupProc = 352;

double step_code(const RunResult& r) {
    return r.json.is_object() && r.json["steps"].size() > 0 ? r.json["steps"][0]["returnCode"].number() : -1.0;
}

bool has_message(const RunResult& r, int number) {
    const auto m = r.messages(0, kGroupProc);
    return std::find(m.begin(), m.end(), number) != m.end();
}

bool internal_error(const RunResult& r) { return r.log.find("internal error") != std::string::npos; }

}  // namespace

// A fixed value written as a missing value has nothing to start from unless
// the sample supplies it: it is the model's error at its matrix position,
// in every model kind that lets a fixed value be written as ".".
TEST(OddModels, FixedElementWithMissingValueIsAnErrorOfTheModel) {
    const char* const programs[] = {
        "proc velix data=hs method=none cov;\n"
        "   ram 1 1 10 1, 2 10 10 1, 2 1 1 .;\n"
        "run;\n",
        "proc velix data=hs method=none cov;\n"
        "   lineqs x1 = 1 F1 + E1, x2 = l2 F1 + E2;\n"
        "   std F1 = ., E1 = 1, E2 = 1;\n"
        "run;\n",
        "proc velix data=hs method=ml cov;\n"
        "   lineqs x1 = 1 F1 + E1, x2 = l2 F1 + E2;\n"
        "   std F1 = 1, E1 = ve1, E2 = ve2;\n"
        "   cov E1 E2 = .;\n"
        "run;\n",
    };
    for (const char* p : programs) {
        auto r = run_velix(p, {"hs.csv"});
        EXPECT_EQ(step_code(r), 2000.0) << p << r.log;
        EXPECT_TRUE(has_message(r, 139)) << p << r.log;
        EXPECT_FALSE(internal_error(r)) << p << r.log;
    }
}

// The covariance of exogenous manifest variables is the one place where a
// missing fixed value is filled, from the sample, so the same form runs.
TEST(OddModels, MissingCovarianceOfExogenousManifestVariablesIsTakenFromTheSample) {
    auto r = run_velix(
        "proc velix data=hs method=none cov;\n"
        "   lineqs x1 = b2 x2 + b3 x3 + E1;\n"
        "   std E1 = ve1, x2 = ., x3 = .;\n"
        "   cov x2 x3 = .;\n"
        "run;\n",
        {"hs.csv"});
    EXPECT_EQ(step_code(r), 0.0) << r.log;
    EXPECT_FALSE(has_message(r, 139)) << r.log;
}

// A second STRUCTEQ statement is refused whether or not the first one names
// anything; a single one, empty or not, is accepted.
TEST(OddModels, SecondStructeqStatementIsRefusedAfterAnEmptyFirst) {
    const std::string head =
        "proc velix data=hs method=none cov;\n"
        "   lineqs x1 = 1 F1 + E1, x2 = l2 F1 + E2;\n"
        "   std F1 = 1, E1-E2 = ve1-ve2;\n";
    for (const char* tail : {"structeq;\nstructeq x1;\n", "structeq x1;\nstructeq;\n", "structeq x1;\nstructeq x2;\n"}) {
        auto r = run_velix(head + tail + "run;\n", {"hs.csv"});
        EXPECT_EQ(step_code(r), 2000.0) << tail << r.log;
        EXPECT_TRUE(has_message(r, 229)) << tail << r.log;
        EXPECT_FALSE(internal_error(r)) << tail << r.log;
    }
    for (const char* tail : {"structeq;\n", "structeq x1 x2;\n"}) {
        auto r = run_velix(head + tail + "run;\n", {"hs.csv"});
        EXPECT_EQ(step_code(r), 0.0) << tail << r.log;
        EXPECT_FALSE(has_message(r, 229)) << tail << r.log;
    }
}
