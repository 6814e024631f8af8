// Message fetching into fields and the pool, splitting at "/", and debug
// keywords, checked against the catalogue's own text (wkread) and the log.
#include "host/message_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/session_fixture.h"
#include "platform/memory.h"

namespace {

using velix::platform::memory_counts;

using Messages = HostStep;

// A catalogue text, fetched independently of zmsgsav.
std::string catalogue(int32_t group, int32_t number) {
    const char* text = nullptr;
    int32_t length = 0;
    EXPECT_EQ(wkread(group, number, &text, &length), 0) << group << "/" << number;
    return std::string(text, static_cast<size_t>(length));
}

// A group and number that the catalogue does not hold.
constexpr int32_t kNoGroup = 352, kNoNumber = 99999;

TEST_F(Messages, FieldIsBlankPaddedToItsSize) {
    const std::string text = catalogue(352, 539);
    std::vector<char> buffer(text.size() + 6, 'x');
    const int32_t size = static_cast<int32_t>(text.size()) + 5;
    const char* r = zmsgsav(352, 539, buffer.data(), size);
    EXPECT_EQ(r, buffer.data());
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), text + "     x");
    EXPECT_EQ(log(), "");
}

TEST_F(Messages, NegativeAndZeroSizesGiveNulTerminatedFields) {
    const std::string text = catalogue(352, 539);
    std::vector<char> buffer(text.size() + 4, 'x');
    zmsgsav(352, 539, buffer.data(), 0);
    EXPECT_STREQ(buffer.data(), text.c_str());

    // -1-n with n = 3: the text is cut to 3 characters and reported.
    zmsgsav(352, 539, buffer.data(), -4);
    EXPECT_STREQ(buffer.data(), text.substr(0, 3).c_str());
    EXPECT_NE(log().find("error in message file: group=352 message=539"), std::string::npos) << log();
    EXPECT_NE(log().find("message length exceeds maximum allowed length of 3."), std::string::npos);
}

TEST_F(Messages, MissingTextBecomesQuestionMarks) {
    char buffer[9];
    zmsgsav(kNoGroup, kNoNumber, buffer, 8);
    EXPECT_EQ(std::string(buffer, 8), "????    ");
    // Without a buffer the fallback still fills the field asked for.
    const char* r = zmsgsav(kNoGroup, kNoNumber, nullptr, 8);
    EXPECT_EQ(std::string(r, 8), "????    ");
}

TEST_F(Messages, FallbacksStayValidAfterLaterFallbacks) {
    // Shortages of the pool make every fetch fall back.
    zmsgsav(-1, -1, nullptr, 0);
    HostAllocator* pool = v_global_gcb_anchor->step->messagePool;
    velix::platform::fail_pool_allocation(pool, 1);
    const char* first = zmsgsav(352, 539, nullptr, 6);
    velix::platform::fail_pool_allocation(pool, 1);
    const char* second = zmsgsav(352, 539, nullptr, 300);
    EXPECT_EQ(std::string(first, 6), "????  ");
    EXPECT_EQ(std::string(second, 300), "????" + std::string(296, ' '));
}

TEST_F(Messages, PoolIsMadeEmptiedAndFreed) {
    HostStepBlock* step = v_global_gcb_anchor->step;
    ASSERT_EQ(step->messagePool, nullptr);
    const size_t before = memory_counts().pools;

    const char* handle = zmsgsav(-1, -1, nullptr, 0);
    ASSERT_NE(step->messagePool, nullptr);
    EXPECT_EQ(handle, reinterpret_cast<const char*>(step->messagePool));
    EXPECT_EQ(memory_counts().pools, before + 1);

    const std::string text = catalogue(352, 720);
    const char* saved = zmsgsav(352, 720, nullptr, 0);
    EXPECT_STREQ(saved, text.c_str());
    EXPECT_GT(memory_counts().poolBytes, 0u);

    EXPECT_EQ(zmsgsav(0, 0, nullptr, 0), nullptr);
    EXPECT_EQ(memory_counts().poolBytes, 0u);  // emptied, not deleted
    EXPECT_EQ(memory_counts().pools, before + 1);

    EXPECT_EQ(zmsgsav(-2, 0, nullptr, 0), nullptr);
    EXPECT_EQ(step->messagePool, nullptr);
    EXPECT_EQ(memory_counts().pools, before);
    // Emptying without a pool is harmless.
    EXPECT_EQ(zmsgsav(0, 0, nullptr, 0), nullptr);
}

TEST_F(Messages, TextWithoutBufferCreatesThePoolWhenAbsent) {
    const std::string text = catalogue(352, 860);
    const char* saved = zmsgsav(352, 860, nullptr, 30);
    ASSERT_NE(v_global_gcb_anchor->step->messagePool, nullptr);
    EXPECT_EQ(std::string(saved, 30), text + std::string(30 - text.size(), ' '));
}

TEST_F(Messages, PoolShortageIsReportedAndAnsweredWithFallback) {
    zmsgsav(-1, -1, nullptr, 0);
    velix::platform::fail_nth_allocation(1);
    const char* r = zmsgsav(352, 539, nullptr, 10);
    EXPECT_EQ(std::string(r, 10), "????      ");
    EXPECT_NE(log().find("Out of memory in zmsgsav for group=352 message=539"), std::string::npos) << log();
}

TEST_F(Messages, PoolCreationFailureGivesFallback) {
    velix::platform::fail_nth_pool_creation(1);
    EXPECT_STREQ(zmsgsav(-1, -1, nullptr, 0), "????");
    EXPECT_EQ(v_global_gcb_anchor->step->messagePool, nullptr);
    EXPECT_NE(log().find("memory"), std::string::npos) << log();
}

// Collects the pieces ztxnext finds.
std::vector<std::string> pieces(const char* text, int32_t flags) {
    std::vector<std::string> out;
    int32_t position = 0, length = 0;
    const char* piece = nullptr;
    while (ztxnext(text, -1, &position, "/", flags, &piece, &length))
        out.emplace_back(piece, static_cast<size_t>(length));
    return out;
}

TEST(TextPieces, SplitAtSeparators) {
    EXPECT_EQ(pieces("AB/CD", kSkipEmptyPieces), (std::vector<std::string>{"AB", "CD"}));
    EXPECT_EQ(pieces("/?/?/?/?/", kSkipEmptyPieces), (std::vector<std::string>{"?", "?", "?", "?"}));
    EXPECT_EQ(pieces("/a//b/", 0), (std::vector<std::string>{"", "a", "", "b", ""}));
    EXPECT_EQ(pieces("", kSkipEmptyPieces), std::vector<std::string>{});
    EXPECT_EQ(pieces("one", 0), std::vector<std::string>{"one"});
}

TEST_F(Messages, MissingMultiItemTextGivesFourQuestionMarks) {
    char buffer[4 * 12];
    EXPECT_EQ(zmsgtxa(kNoGroup, kNoNumber, buffer, 12, 4), buffer);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(std::string(buffer + 12 * k, 12), "?           ") << k;
    EXPECT_EQ(log(), "");
}

TEST_F(Messages, WrongNumberOfItemsIsReportedAndBufferKept) {
    char buffer[3 * 12];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(zmsgtxa(kNoGroup, kNoNumber, buffer, 12, 3), buffer);
    EXPECT_NE(log().find("found 4 strings when exactly 3 were required."), std::string::npos) << log();
    EXPECT_EQ(std::string(buffer + 24, 12), "?           ");

    // One piece asked as three: the fields without a piece are blank.
    const std::string text = catalogue(352, 720);
    ASSERT_LE(text.size(), 24u);
    char wide[3 * 24];
    std::memset(wide, 'x', sizeof wide);
    zmsgtxa(352, 720, wide, 24, 3);
    EXPECT_EQ(std::string(wide, 24), text + std::string(24 - text.size(), ' '));
    EXPECT_EQ(std::string(wide + 24, 48), std::string(48, ' '));
    EXPECT_NE(log().find("found 1 strings when exactly 3 were required."), std::string::npos);
}

TEST_F(Messages, OverlongItemIsCutAndReported) {
    const std::string text = catalogue(352, 539);
    ASSERT_GT(text.size(), 12u);
    char buffer[12];
    zmsgtxa(352, 539, buffer, 12, 1);
    EXPECT_EQ(std::string(buffer, 12), text.substr(0, 12));
    const std::string expected = "length of substring 1 is " + std::to_string(text.size()) +
                                 " which exceeds maximum allowed length of 12.";
    EXPECT_NE(log().find(expected), std::string::npos) << log();
}

TEST_F(Messages, ItemsWithoutBufferComeFromThePool) {
    char* fields = zmsgtxa(kNoGroup, kNoNumber, nullptr, 12, 4);
    ASSERT_NE(fields, nullptr);
    EXPECT_NE(v_global_gcb_anchor->step->messagePool, nullptr);
    EXPECT_EQ(std::string(fields + 36, 12), "?           ");

    zmsgsav(-2, 0, nullptr, 0);
    velix::platform::fail_nth_pool_creation(1);
    EXPECT_EQ(zmsgtxa(kNoGroup, kNoNumber, nullptr, 12, 4), nullptr);
}

TEST_F(Messages, DebugKeywordIgnoresCaseAndDash) {
    set_debug("trace NLPITERMSG other");
    EXPECT_EQ(zbugi("-nlpitermsg"), 1);
    set_debug("  nlpItermsg");
    EXPECT_EQ(zbugi("-nlpitermsg"), 1);
    EXPECT_EQ(zbugi("- nlpitermsg"), 1);  // blanks after the dash go too
}

TEST_F(Messages, DebugKeywordTakesTheNumberAfterEquals) {
    set_debug("syn nlpitermsg=3 sem");
    EXPECT_EQ(zbugi("-nlpitermsg"), 3);
    set_debug("nlpitermsg=12");
    EXPECT_EQ(zbugi("nlpitermsg"), 12);
    // The first matching word decides, an explicit 0 included.
    set_debug("nlpitermsg=0 nlpitermsg=5");
    EXPECT_EQ(zbugi("nlpitermsg"), 0);
    set_debug("nlpitermsg=2 nlpitermsg=5");
    EXPECT_EQ(zbugi("nlpitermsg"), 2);
}

TEST_F(Messages, AsteriskMatchesTheRestOfTheKeyword) {
    set_debug("nlpiter*");
    EXPECT_EQ(zbugi("-nlpitermsg"), 1);
    set_debug("nlpiter* =2");
    EXPECT_EQ(zbugi("-nlpitermsg"), 1);
}

TEST_F(Messages, WordMustEndWhereTheKeywordEnds) {
    set_debug("nlpitermsgs nlpitermsg_x nlpiter");
    EXPECT_EQ(zbugi("-nlpitermsg"), 0);
    set_debug("nlpitermsg,syn");
    EXPECT_EQ(zbugi("-nlpitermsg"), 1);  // a comma is not a name character
    set_debug("");
    EXPECT_EQ(zbugi("-nlpitermsg"), 0);
    set_debug("nlpitermsg");
    EXPECT_EQ(zbugi(""), 0);
    EXPECT_EQ(zbugi("-"), 0);
}

}  // namespace
