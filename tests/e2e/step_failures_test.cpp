// The procedure step run in this process, with failures of the host's
// output objects injected, so that the driver's failure paths are reached:
// the step ends with a failing return code and a log line, whatever call
// of the set-up or of the BY-group loop failed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/output.h"
#include "platform/runner/runner.h"
#include "platform/session.h"
#include "tests/support/fixtures.h"

namespace {

const char* kProgram = R"(
proc velix data=hs method=none covariance;
   var x1 x2 x3;
   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;
   std F1 = vf, E1-E3 = ve1-ve3;
run;
)";

class StepFailures : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = velix::platform::session();
        saved_ = s;
        s.log = &log_;
        s.listing = &listing_;
        s.libraryDir = velix::test::fixture_dir();
        s.fixedTime = 0.0;
        velix::platform::output_clear();
    }
    void TearDown() override {
        velix::platform::clear_injected_failures();
        velix::platform::output_clear();
        velix::platform::session() = saved_;
    }

    // The return code of the one step of kProgram.
    int run() {
        std::vector<int> codes;
        velix::platform::run_program_text(kProgram, &codes);
        EXPECT_EQ(codes.size(), 1u);
        return codes.empty() ? -1 : codes[0];
    }

    velix::platform::Session saved_;
    std::ostringstream log_, listing_;
};

TEST_F(StepFailures, CleanRunGivesZero) { EXPECT_EQ(run(), 0) << log_.str(); }

TEST_F(StepFailures, EachFailingDriverCallEndsTheStepAsAFailure) {
    struct Case {
        uint32_t method;
        int nth;
    };
    // Manager creation, the begin call, the title, the compile-state calls
    // before and after the statements, and the "ModelingStat" group.
    const Case cases[] = {{147, 1}, {435, 1}, {439, 1}, {431, 1}, {431, 2}, {300, 2}};
    for (const Case& c : cases) {
        log_.str("");
        velix::platform::clear_injected_failures();
        velix::platform::inject_method_failure(c.method, c.nth, -7);
        const int rc = run();
        // Ended as a failure of the step, never as a success.
        EXPECT_GE(rc, 1000) << "method " << c.method << " call " << c.nth << "\n" << log_.str();
        EXPECT_NE(log_.str().find("internal error"), std::string::npos)
            << "method " << c.method << " call " << c.nth << "\n" << log_.str();
        // The failed status itself is reported.
        EXPECT_NE(log_.str().find("-7"), std::string::npos) << log_.str();
    }
}

}  // namespace
