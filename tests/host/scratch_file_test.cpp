// A scratch-file status: 0 goes on untouched; any other status is reported
// in the log and ends the step with 1020.
#include "host/scratch_file.h"

#include <gtest/gtest.h>

#include "tests/support/session_fixture.h"

namespace {

using ScratchCheck = HostStep;

TEST_F(ScratchCheck, ZeroGoesOnWithoutALogLine) {
    EXPECT_EQ(exit_code([] { scratch_check(0); }), -1);
    EXPECT_EQ(log(), "");
}

TEST_F(ScratchCheck, AFailedCallIsReportedAndEndsTheStep) {
    for (int32_t status : {-1, 1, 70000}) {
        log_.str("");
        EXPECT_EQ(exit_code([&] { scratch_check(status); }), 1020) << "status " << status;
        EXPECT_NE(log(), "") << "status " << status << " left no log line";
    }
}

}  // namespace
