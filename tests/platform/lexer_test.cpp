// The scanner: token classes, positions, comments and its failures.
#include "platform/parser/lexer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace {

using velix::platform::parser::LexError;
using velix::platform::parser::TokenKind;
using velix::platform::parser::tokenize;

TEST(Lexer, TokenClassesAndPositions) {
    auto t = tokenize("x1 = 2.5e-1 'it''s' . <= ** _ALL_;\n  .5");
    ASSERT_EQ(t.size(), 11u);
    EXPECT_EQ(t[0].kind, TokenKind::kName);
    EXPECT_EQ(t[1].text, "=");
    EXPECT_EQ(t[2].kind, TokenKind::kNumber);
    EXPECT_DOUBLE_EQ(t[2].number, 0.25);
    EXPECT_EQ(t[3].kind, TokenKind::kString);
    EXPECT_EQ(t[3].text, "it's");
    EXPECT_EQ(t[4].kind, TokenKind::kMissing);
    EXPECT_EQ(t[5].text, "<=");
    EXPECT_EQ(t[6].text, "**");
    EXPECT_EQ(t[7].text, "_ALL_");
    EXPECT_EQ(t[8].text, ";");
    EXPECT_EQ(t[10].kind, TokenKind::kEnd);
    EXPECT_EQ(t[9].line, 2);
    EXPECT_EQ(t[9].column, 3);
    EXPECT_DOUBLE_EQ(t[9].number, 0.5);
}

TEST(Lexer, CommentsAndCommentStatements) {
    auto t = tokenize("* skipped = 1;\na /* b ; c */ d; * also skipped;\ne * f;");
    std::string joined;
    for (const auto& k : t) joined += k.text + " ";
    EXPECT_EQ(joined, "a d ; e * f ;  ");
}

TEST(Lexer, Failures) {
    EXPECT_THROW(tokenize("a /* open"), LexError);
    EXPECT_THROW(tokenize("'open"), LexError);
    EXPECT_THROW(tokenize("a # b"), LexError);
    EXPECT_THROW(tokenize("3abc"), LexError);
    try {
        tokenize("a\n  'x");
    } catch (const LexError& e) {
        EXPECT_EQ(e.line, 2);
        EXPECT_EQ(e.column, 3);
    }
}

// A byte that starts no token is named by its code when it is not a
// printable ASCII character, so the message stays plain text.
TEST(Lexer, UnexpectedBytesAreNamedByTheirCode) {
    struct Case {
        std::string text;
        const char* fragment;
        int column;
    };
    const Case cases[] = {
        {"a = v\xC3\xA9;", "0xC3", 6},
        {std::string("a;\0b;", 5), "0x00", 3},
        {"a # b", "'#'", 3},
        {"a\x7f", "0x7F", 2},
    };
    for (const Case& c : cases) {
        try {
            tokenize(c.text);
            ADD_FAILURE() << "no error for case " << c.fragment;
        } catch (const LexError& e) {
            EXPECT_NE(e.message.find(c.fragment), std::string::npos) << e.message;
            EXPECT_EQ(e.column, c.column) << c.fragment;
            for (char ch : e.message) {
                unsigned char u = static_cast<unsigned char>(ch);
                EXPECT_TRUE(u >= 0x20 && u < 0x7f) << "byte " << int(u) << " in " << c.fragment;
            }
        }
    }
}

// Numbers that overflow a double are errors; the largest finite ones and
// underflows are read as strtod reads them.
TEST(Lexer, NumbersBeyondTheDoubleRange) {
    EXPECT_THROW(tokenize("maxiter=1e400;"), LexError);
    EXPECT_THROW(tokenize("x = 2e308;"), LexError);
    auto t = tokenize("1.7976931348623157e308 1e-400");
    EXPECT_EQ(t[0].number, std::numeric_limits<double>::max());
    EXPECT_EQ(t[1].number, std::strtod("1e-400", nullptr));
}

}  // namespace
