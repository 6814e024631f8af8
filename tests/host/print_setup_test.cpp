// The step's print set-up: the PrintBlock from the step allocator, the line
// sizes from the print services, and the trace flags of the DEBUG option.
#include "host/print_setup.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/session_fixture.h"
#include "platform/memory.h"
#include "platform/step_exit.h"

namespace {

using PrintSetup = HostStep;

const PrintBlock* print_block() { return v_global_gcb_anchor->step->printBlock; }

TEST_F(PrintSetup, BlockHoldsTheLineSizesOfThePrintServices) {
    const size_t before = velix::platform::memory_counts().stepBlocks;
    xinit();
    const PrintBlock* pb = print_block();
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(pb->printLineSize, xpprnl(0));
    EXPECT_EQ(pb->logLineSize, xplogl(0));
    EXPECT_EQ(pb->messageLineSize, xpmsgl(0));
    EXPECT_EQ(pb->outputDescription.lineWidth, xpoutl(nullptr, nullptr)->lineWidth);
    EXPECT_EQ(velix::platform::memory_counts().stepBlocks, before + 1);
}

struct Case {
    const char* debug;
    uint8_t syn, sem;
};

TEST_F(PrintSetup, TraceFlagsBySubstringOfTheDebugText) {
    const Case cases[] = {
        {"syn sem", 1, 1},       // lower case sets both
        {"SYNTAX", 1, 0},        // a longer word beginning with SYN
        {"xsemx", 0, 1},         // anywhere in a word
        {"      ", 0, 0},        // blanks only
        {"", 0, 0},
        {"nothing here", 0, 0},
    };
    for (const Case& c : cases) {
        set_debug(c.debug);
        xinit();
        EXPECT_EQ(print_block()->synTrace, c.syn) << '"' << c.debug << '"';
        EXPECT_EQ(print_block()->semTrace, c.sem) << '"' << c.debug << '"';
    }
}

TEST_F(PrintSetup, LongDebugTextIsSearchedWholeAndItsBlockReturned) {
    set_debug(std::string(300, ' ') + "sem");
    xinit();
    EXPECT_EQ(print_block()->semTrace, 1);
    EXPECT_EQ(print_block()->synTrace, 0);
    // Only the PrintBlock stays; the copy of the text went back.
    EXPECT_EQ(velix::platform::memory_counts().stepBlocks, 1u);
}

TEST_F(PrintSetup, NoPrintBlockEndsTheStep) {
    velix::platform::fail_nth_allocation(1);
    try {
        xinit();
        FAIL() << "xinit returned without its PrintBlock";
    } catch (const velix::platform::StepExit& e) {
        EXPECT_EQ(e.code, kMemoryShortage);
    }
}

}  // namespace
