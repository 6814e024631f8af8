// The one internal-error exit: one "internal error:" line in the log with
// the text as given (no doubled prefix, no code in the line), then the step
// ends with the internal-error code.
#include "host/internal_error.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/session_fixture.h"

namespace {

class InternalError : public HostStep {};

TEST_F(InternalError, LogsOneLineAndEndsTheStepWith9999) {
    EXPECT_EQ(exit_code([] { internal_error("a parameter has no start value"); }), 9999);
    EXPECT_EQ(log(), "ERROR: internal error: a parameter has no start value\n");
}

TEST_F(InternalError, FormatsItsTextBeforeTheLine) {
    EXPECT_EQ(exit_code([] { internal_errorf("zpmval: invalid shape=%c", 'q'); }), 9999);
    EXPECT_EQ(log(), "ERROR: internal error: zpmval: invalid shape=q\n");
    // A text longer than the line buffer is cut to 255 characters, never
    // overrun.
    log_.str("");
    const std::string longText(400, 'x');
    EXPECT_EQ(exit_code([&] { internal_errorf("%s", longText.c_str()); }), 9999);
    EXPECT_EQ(log(), "ERROR: internal error: " + std::string(255, 'x') + "\n");
}

}  // namespace
