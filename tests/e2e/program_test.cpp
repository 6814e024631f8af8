// The program file's framing: steps, global statements and comments, and
// the mapping of step return codes to the command's exit status.
#include <gtest/gtest.h>

#include "platform/runner/program.h"
#include "platform/runner/runner.h"

using velix::platform::ProgramItem;
using velix::platform::split_program;

TEST(SplitProgram, StepsEndAtRunNextProcOrEndOfFile) {
    auto items = split_program(
        "proc velix data=a; lineqs y = x; run;\n"
        "proc velix data=b;\n"
        "proc velix data=c; std e = v;");
    ASSERT_EQ(items.size(), 3u);
    for (const auto& it : items) EXPECT_EQ(it.kind, ProgramItem::kStep);
    EXPECT_EQ(items[0].text, "proc velix data=a; lineqs y = x; run;");
    EXPECT_EQ(items[1].text, "proc velix data=b;");
    EXPECT_EQ(items[1].line, 2);
    EXPECT_EQ(items[2].text, "proc velix data=c; std e = v;");
}

TEST(SplitProgram, CommentsAndQuotedSemicolonsDoNotSplitStatements) {
    auto items = split_program(
        "/* run; proc velix; */\n"
        "* a comment statement;\n"
        "title 'a; b';\n"
        "proc velix /* ; */ data=a; run;\n");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, ProgramItem::kTitle);
    EXPECT_EQ(items[0].text, "a; b");
    EXPECT_EQ(items[0].line, 3);
    EXPECT_EQ(items[1].kind, ProgramItem::kStep);
    EXPECT_EQ(items[1].line, 4);
}

TEST(SplitProgram, OptionsAndNumberedTitlesBetweenSteps) {
    auto items = split_program(
        "options probsig=2 formchar='|----' debug=syn;\n"
        "title3 \"Third line\";\n");
    ASSERT_EQ(items.size(), 2u);
    ASSERT_EQ(items[0].kind, ProgramItem::kOptions);
    ASSERT_EQ(items[0].options.size(), 3u);
    EXPECT_EQ(items[0].options[0].first, "PROBSIG");
    EXPECT_EQ(items[0].options[0].second, "2");
    EXPECT_EQ(items[0].options[1].second, "|----");
    EXPECT_EQ(items[0].options[2].second, "syn");
    EXPECT_EQ(items[1].kind, ProgramItem::kTitle);
    EXPECT_EQ(items[1].titleLine, 3);
    EXPECT_EQ(items[1].text, "Third line");
}

TEST(SplitProgram, UnknownStatementsAndProceduresAreReported) {
    auto items = split_program("data x; proc means; run; title11 'x';");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, ProgramItem::kError);
    EXPECT_EQ(items[1].kind, ProgramItem::kError);
    EXPECT_EQ(items[1].text, "PROC MEANS is not known; its step is skipped.");
    EXPECT_EQ(items[2].kind, ProgramItem::kError);
}

TEST(ExitStatus, FollowsTheHighestReturnCode) {
    using velix::platform::exit_status_for;
    EXPECT_EQ(exit_status_for(0), 0);
    EXPECT_EQ(exit_status_for(4), 0);
    EXPECT_EQ(exit_status_for(5), 1);
    EXPECT_EQ(exit_status_for(999), 1);
    EXPECT_EQ(exit_status_for(1000), 2);
    EXPECT_EQ(exit_status_for(9999), 2);
    EXPECT_EQ(exit_status_for(-7), 2);
}
