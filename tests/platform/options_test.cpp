// Host options, titles, the clock and the print sizes: defaults, overrides
// from the session (command line and options statements), case-insensitive
// names, and the fallbacks for values out of range.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "tests/support/session_fixture.h"
#include "velix/host.h"

namespace {

using Options = PlatformStep;

TEST_F(Options, DefaultsExistAndOtherNamesDoNot) {
    char buf[64];
    EXPECT_EQ(xoptcgt("PROBSIG", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "0");
    ASSERT_GE(xoptcgt("FORMCHAR", buf, sizeof buf), 2);
    EXPECT_EQ(buf[1], '-') << "the second FORMCHAR character is the horizontal rule";
    EXPECT_EQ(xoptcgt("DEBUG", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(xoptcgt("NOSUCHOPTION", buf, sizeof buf), -1);
    double v = -1.0;
    EXPECT_EQ(xoptngt("LINESIZE", &v), 0);
    EXPECT_EQ(xpprnl(0), static_cast<int32_t>(v));
    EXPECT_EQ(xoptngt("PAGESIZE", &v), 0);
    EXPECT_EQ(xppagel(0), static_cast<int32_t>(v));
    EXPECT_NE(xoptngt("NOSUCHOPTION", &v), 0);
    EXPECT_EQ(xoptigt("PROBSIG"), 0);
}

TEST_F(Options, SessionValuesOverrideDefaultsWhateverTheCaseOfTheName) {
    auto& opts = velix::platform::session().options;
    opts["PROBSIG"] = "2";
    opts["DEBUG"] = "syn -nlpitermsg=3";
    opts["LINESIZE"] = "80";
    opts["MYOPT"] = "abc";
    char buf[64];
    EXPECT_EQ(xoptigt("probsig"), 2);
    EXPECT_EQ(xoptcgt("Debug", buf, sizeof buf), 17);
    EXPECT_STREQ(buf, "syn -nlpitermsg=3");
    EXPECT_EQ(xoptcgt("MYOPT", buf, sizeof buf), 3);
    EXPECT_NE(xoptngt("MYOPT", nullptr), 0) << "a text is not a number";
    EXPECT_EQ(xpprnl(0), 80);
    EXPECT_EQ(xplogl(0), 80);
    // A buffer shorter than the text gets its beginning and a NUL.
    EXPECT_EQ(xoptcgt("DEBUG", buf, 4), 3);
    EXPECT_STREQ(buf, "syn");
}

TEST_F(Options, DebugTextItem) {
    velix::platform::session().options["DEBUG"] = "SEM";
    char buf[1024];
    EXPECT_EQ(xyrcgef(4142, buf), 3);
    EXPECT_STREQ(buf, "SEM");
    EXPECT_EQ(xyrcgef(1, buf), -1) << "only the DEBUG item is known";
    EXPECT_EQ(xyrcgef(4142, nullptr), -1);
}

TEST_F(Options, LineAndPageSizesOutOfRangeFallBackToTheDefault) {
    auto& opts = velix::platform::session().options;
    const int32_t defaultLine = xpprnl(0);
    const int32_t defaultPage = xppagel(0);
    opts["LINESIZE"] = "5";
    opts["PAGESIZE"] = "lots";
    EXPECT_EQ(xpprnl(0), defaultLine);
    EXPECT_EQ(xppagel(0), defaultPage);
    opts["PAGESIZE"] = "20";
    xppage(0);
    PrintLineDescription d;
    PrintLineDescription* current = xpoutl(nullptr, &d);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(d.lineWidth, defaultLine);
    EXPECT_EQ(d.pageLength, 20);
    EXPECT_EQ(d.linesLeft, 20);
    xpsout("one%ntwo%nthree");
    EXPECT_EQ(xpoutl(nullptr, nullptr)->linesLeft, 17);
    xppage(0);
    EXPECT_EQ(xpoutl(nullptr, nullptr)->linesLeft, 20) << "a new page starts the count again";
}

TEST_F(Options, SkipsFollowTheSelectedDestination) {
    xpskip(2);
    EXPECT_EQ(listing(), "\n\n");
    EXPECT_EQ(xpselec(0, -1), 0);
    EXPECT_EQ(xpopset(0, 28, 1), 0);
    xpskip(1);
    EXPECT_EQ(log(), "\n");
    EXPECT_EQ(xpselec(0, 0), -1);
    EXPECT_EQ(xpselec(0, -2), 0) << "the default destination is the listing";
}

TEST_F(Options, TitlesByLine) {
    auto& titles = velix::platform::session().titles;
    titles.assign(10, "");
    titles[0] = "Holzinger and Swineford";
    titles[2] = "Third";
    EXPECT_STREQ(xtitle(1), "Holzinger and Swineford");
    EXPECT_EQ(xtitle(2), nullptr);
    EXPECT_STREQ(xtitle(3), "Third");
    EXPECT_EQ(xtitle(0), nullptr);
    EXPECT_EQ(xtitle(11), nullptr);
}

TEST_F(Options, ClockIsFixedForTestsAndWallClockOtherwise) {
    velix::platform::session().fixedTime = 1234.5;
    EXPECT_EQ(wzdttme(), 1234.5);
    velix::platform::session().fixedTime = -1.0;
    const double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double t = wzdttme();
    const double after = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_LE(before, t);
    EXPECT_LE(t, after);
}

}  // namespace
