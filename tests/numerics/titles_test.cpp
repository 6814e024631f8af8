// Titles split at their line breaks and centred on the captured listing.
#include "numerics/titles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/message_text.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"

// Each test runs in a step whose listing goes to listing_.
class ListingCapture : public velix::test::SessionStep {};

TEST_F(ListingCapture, TitleLinesAreSplitAndCentred) {
    velix::platform::session().options["LINESIZE"] = "80";
    EXPECT_EQ(zptitle("Fit Summary\nSecond line"), 3);
    std::istringstream in(listing_.str());
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) lines.push_back(l);
    ASSERT_EQ(lines.size(), 2u);
    // Centred: (80 - width)/2 leading blanks.
    EXPECT_EQ(lines[0], std::string((80 - 11) / 2, ' ') + "Fit Summary");
    EXPECT_EQ(lines[1], std::string((80 - 11) / 2, ' ') + "Second line");
    EXPECT_EQ(zptitle(nullptr), 0);
}

TEST_F(ListingCapture, AtMostTenLinesAreKept) {
    std::string text;
    for (int i = 1; i <= 12; ++i) text += "line " + std::to_string(i) + (i < 12 ? "\n" : "");
    EXPECT_EQ(zptiti(0, text.c_str()), 11);
    const TitleLines* t = zptitle_lines();
    EXPECT_EQ(t->count, 10);
    EXPECT_EQ(std::string(text.c_str() + t->start[9], t->length[9]), "line 10");
}

TEST_F(ListingCapture, SplitFlagsDecideWhetherEmptyLinesCount) {
    const char* text = "First\n\nThird";
    EXPECT_EQ(zptiti(0, text), 4);
    EXPECT_EQ(zptitle_lines()->length[1], 0);
    EXPECT_EQ(zptiti(kSkipEmptyPieces, text), 3);
    const TitleLines* t = zptitle_lines();
    EXPECT_EQ(std::string(text + t->start[1], t->length[1]), "Third");
    // zptitle drops the empty line: two printed lines, result 3.
    EXPECT_EQ(zptitle(text), 3);
    EXPECT_EQ(zptitle_lines()->count, 2);
}

TEST_F(ListingCapture, TitleNearThePageEndStartsANewPage) {
    auto& opts = velix::platform::session().options;
    opts["PAGESIZE"] = "15";
    xppage(0);  // start from the top of a page
    for (int i = 0; i < 13; ++i) xpsout("filler");
    const int before = xpoutl(nullptr, nullptr)->linesLeft;
    ASSERT_LT(before, 4);
    zptitle("A\nB\nC");
    // After the page break the three title lines are the first of the page.
    EXPECT_EQ(xpoutl(nullptr, nullptr)->linesLeft, 15 - 3);
}
