// Field routines against independent references (std::string operations on
// upper-cased, blank-padded copies) and their defining properties.
#include "host/fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/session_fixture.h"

namespace {

using Fields = HostStep;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Reference comparison: pad the shorter with blanks, fold case, find the
// first difference.
int32_t reference_compare(const std::string& a, const std::string& b) {
    const size_t n = std::max(a.size(), b.size());
    const std::string pa = upper(a + std::string(n - a.size(), ' '));
    const std::string pb = upper(b + std::string(n - b.size(), ' '));
    for (size_t i = 0; i < n; ++i)
        if (pa[i] != pb[i])
            return (static_cast<unsigned char>(pa[i]) > static_cast<unsigned char>(pb[i]) ? 1 : -1) *
                   static_cast<int32_t>(i + 1);
    return 0;
}

int32_t compare(const std::string& a, const std::string& b) {
    return wzstcmn(a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()), 0);
}

uint64_t bits_of(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double from_bits(uint64_t b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

TEST_F(Fields, CompareTakesTheShorterTextAsBlankPadded) {
    EXPECT_EQ(compare("AB", "AB  "), 0);
    EXPECT_EQ(compare("AB", "ABC"), -3);
    EXPECT_EQ(compare("ABC", "AB"), 3);
    EXPECT_EQ(compare("ab", "AB"), 0);  // the collating table folds case
    EXPECT_EQ(compare("", ""), 0);
    EXPECT_EQ(compare("", "   "), 0);
    EXPECT_EQ(compare("AC", "AB"), 2);
    // A character below the blank after the common part collates lower.
    EXPECT_EQ(compare("AB", std::string("AB\t", 3)), 3);
}

TEST_F(Fields, CompareAgreesWithReferenceAndIsAntisymmetric) {
    std::mt19937 rng(7);
    const std::string alphabet = "aAbB \t_z9";
    std::uniform_int_distribution<int> len(0, 6), pick(0, static_cast<int>(alphabet.size()) - 1);
    for (int trial = 0; trial < 2000; ++trial) {
        std::string a, b;
        for (int i = len(rng); i > 0; --i) a += alphabet[pick(rng)];
        for (int i = len(rng); i > 0; --i) b += alphabet[pick(rng)];
        ASSERT_EQ(compare(a, b), reference_compare(a, b)) << "a='" << a << "' b='" << b << "'";
        ASSERT_EQ(compare(a, b), -compare(b, a)) << "a='" << a << "' b='" << b << "'";
    }
}

TEST_F(Fields, EqualNeedsEqualLengths) {
    EXPECT_EQ(wzsteqn("Abc", 3, "aBC", 3), 1);
    EXPECT_EQ(wzsteqn("AB", 2, "AB  ", 4), 0);
    EXPECT_EQ(wzsteqn("", 0, "", 0), 1);
    EXPECT_EQ(wzsteqn("ABD", 3, "ABC", 3), 0);
}

TEST_F(Fields, MoveFitsTheField) {
    char f[8];
    std::memset(f, 'x', sizeof f);
    EXPECT_EQ(wzstmov("ABCDE", 5, f, 3), 3);
    EXPECT_EQ(std::string(f, 4), "ABCx");  // nothing beyond the field

    std::memset(f, 'x', sizeof f);
    EXPECT_EQ(wzstmov("ABCDE", 5, f, -4), 3);  // -1-n: 3 characters and a NUL
    EXPECT_STREQ(f, "ABC");

    std::memset(f, 'x', sizeof f);
    EXPECT_EQ(wzstmov("AB", 2, f, 6), 2);
    EXPECT_EQ(std::string(f, 7), "AB    x");

    std::memset(f, 'x', sizeof f);
    EXPECT_EQ(wzstmov(nullptr, 5, f, 5), 0);
    EXPECT_EQ(std::string(f, 6), "     x");
    EXPECT_EQ(wzstmov(nullptr, 5, f, -6), 0);
    EXPECT_EQ(f[0], '\0');
}

TEST_F(Fields, MoveHandlesOverlapLikeMemmove) {
    for (int shift = -3; shift <= 3; ++shift) {
        char area[16], expected[16];
        for (int i = 0; i < 16; ++i) area[i] = expected[i] = static_cast<char>('a' + i);
        std::memmove(expected + 5 + shift, expected + 5, 6);
        wzstmov(area + 5, 6, area + 5 + shift, 6);
        EXPECT_EQ(std::string(area, 16), std::string(expected, 16)) << "shift " << shift;
    }
}

TEST_F(Fields, IndexAgreesWithFind) {
    const std::string texts[] = {"PROC SYN SEM", "SYNTAX", "xSYSYN", "", "S"};
    const std::string patterns[] = {"SYN", "SEM", "S", "XYZ", "SYNTAXES"};
    for (const auto& t : texts)
        for (const auto& p : patterns) {
            const size_t r = t.find(p);
            const int32_t expected = r == std::string::npos ? -1 : static_cast<int32_t>(r);
            EXPECT_EQ(wzstndx(t.data(), static_cast<int32_t>(t.size()), p.data(), static_cast<int32_t>(p.size())),
                      expected)
                << t << " / " << p;
            // A NUL-terminated pattern gives the same.
            EXPECT_EQ(wzstndx(t.data(), static_cast<int32_t>(t.size()), p.c_str(), -1), expected);
        }
    EXPECT_EQ(wzstndx("ABC", 3, "X", 0), 0);   // empty pattern
    EXPECT_EQ(wzstndx("", 0, "A", 1), -1);     // empty text
}

TEST_F(Fields, PositionOfCharacter) {
    WordPair p = wzstpos("VAR=X", 5, '=');
    EXPECT_EQ(p.first, 3);
    EXPECT_EQ(p.second, 2);
    p = wzstpos("VARX", 4, '=');
    EXPECT_EQ(p.first, -1);
    EXPECT_EQ(p.second, 0);
    p = wzstpos("A=B", -1, '=');
    EXPECT_EQ(p.first, 1);
    EXPECT_EQ(p.second, 2);
}

TEST_F(Fields, StripAndLongestWidth) {
    EXPECT_EQ(wzstrip("AB  ", 4), 2);
    EXPECT_EQ(wzstrip("    ", 4), 0);
    EXPECT_EQ(wzstrip("A B ", -1), 3);
    EXPECT_EQ(wzstrip(nullptr, 5), 0);

    // Three 4-character names, 6 bytes apart.
    const char names[] = "AB  ..ABC ..    ..";
    EXPECT_EQ(wzstmax(names, 4, 6, 3), 3);
    EXPECT_EQ(wzstmax(names + 12, 4, 6, 1), 0);  // all blank
    EXPECT_EQ(wzstmax(nullptr, 4, 6, 3), 4);
    EXPECT_EQ(wzstmax(names, 0, 6, 3), 0);
}

TEST_F(Fields, FirstCharacterOfASet) {
    EXPECT_EQ(wzstopt("xbay", 4, "ab", 2, '?'), 'b');  // text order, not set order
    EXPECT_EQ(wzstopt("xyz", 3, "ab", 2, '?'), '?');
}

TEST_F(Fields, IntegerTextMatchesToString) {
    const int32_t values[] = {0, 7, -7, 10, -10, 123456, INT32_MAX, INT32_MIN, INT32_MIN + 1};
    for (int32_t v : values) {
        char out[12];
        std::memset(out, '#', sizeof out);
        const int32_t n = wzcichr(v, out);
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), std::to_string(v));
        EXPECT_EQ(out[n], '#') << "no NUL or extra byte after the digits";
    }
    char out[12];
    EXPECT_EQ(wzcichr(INT32_MIN, out), 11);
}

TEST_F(Fields, TranslateThroughUpperCaseTable) {
    char text[] = "Debug=syn, sem!";
    EXPECT_EQ(wztxxlt(2, text, text, static_cast<int32_t>(std::strlen(text))), 0);
    EXPECT_STREQ(text, upper("Debug=syn, sem!").c_str());

    char untouched[] = "abc";
    EXPECT_NE(wztxxlt(5, untouched, untouched, 3), 0);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_EQ(wztxdotr(), 0);
    EXPECT_EQ(wztxdods(), 0);
}

TEST_F(Fields, AllBytesEqual) {
    const char* t = "   x ";
    AllBytesResult r = vzatl(' ', t, 3);
    EXPECT_EQ(r.allEqual, 1);
    r = vzatl(' ', t, 5);
    EXPECT_EQ(r.allEqual, 0);
    EXPECT_EQ(r.after, t + 4);  // just after the 'x'
    EXPECT_EQ(vzatl(' ', t, 0).allEqual, 1);
}

TEST_F(Fields, MissingValuesAreTheTopSixteenBitsSet) {
    EXPECT_EQ(wzmis(host_missing_value()), 1);
    EXPECT_EQ(wzmis(from_bits(0xFFFF123456789ABCull)), 1);  // lower bits arbitrary
    EXPECT_EQ(wzmis(from_bits(0xFFFE000000000000ull)), 0);
    EXPECT_EQ(wzmis(std::numeric_limits<double>::quiet_NaN()), 0);  // an ordinary NaN is not missing
    EXPECT_EQ(wzmis(0.0), 0);
    EXPECT_EQ(wzmis(-1.0), 0);
    for (int code = 0; code < 28; ++code) EXPECT_EQ(wzmis(host_special_missing(code)), 1) << code;

    const double some[] = {1.0, 2.0, host_special_missing(5)};
    EXPECT_EQ(wzmisn(some, 2), 0);
    EXPECT_EQ(wzmisn(some, 3), 1);
    EXPECT_EQ(wzmisn(some, 0), 0);
}

TEST_F(Fields, FillKeepsTheBitPattern) {
    double v[5] = {1, 2, 3, 4, 5};
    const double m = host_missing_value();
    vzfdl(m, v, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bits_of(v[i]), bits_of(m));
    EXPECT_EQ(v[3], 4.0);
    vzfdl(9.0, v, 0);
    vzfdl(9.0, v, -2);
    EXPECT_EQ(bits_of(v[0]), bits_of(m));
}

TEST_F(Fields, NameListLookupAcrossBlocks) {
    // Block 1 holds names 0..1, block 2 names 2..4.
    const unsigned char b2[] = {1, 'C', 2, 'D', 'D', 3, 'E', 'E', 'E'};
    const unsigned char b1[] = {3, 'A', 'A', 'A', 1, 'B'};
    NameList second;
    second.highestIndex = 4;
    second.names = b2;
    NameList first;
    first.next = &second;
    first.highestIndex = 1;
    first.names = b1;

    const std::string expected[] = {"AAA", "B", "C", "DD", "EEE"};
    for (int32_t k = 0; k < 5; ++k) {
        const char* text = nullptr;
        int32_t length = -1;
        ASSERT_EQ(zgetnmr(&first, k, &text, &length), 0) << k;
        EXPECT_EQ(std::string(text, static_cast<size_t>(length)), expected[k]);
    }
    const char* text = nullptr;
    int32_t length = 0;
    EXPECT_EQ(zgetnmr(&first, 5, &text, &length), 1);
    EXPECT_EQ(zgetnmr(nullptr, 0, &text, &length), 1);
}

TEST_F(Fields, BlankFill) {
    char f[10];
    std::memset(f, 'x', sizeof f);
    vzB8(f);
    EXPECT_EQ(std::string(f, 10), "        xx");
    std::memset(f, 'x', sizeof f);
    vzBL(f, 3);
    vzBL(f + 5, 0);
    EXPECT_EQ(std::string(f, 10), "   xxxxxxx");
}

// The routines also answer before the module is handed a control block.
TEST(FieldsWithoutHost, FallBackToAsciiTables) {
    HostControlBlock* saved = v_global_gcb_anchor;
    v_global_gcb_anchor = nullptr;
    EXPECT_EQ(wzsteqn("abc", 3, "ABC", 3), 1);
    EXPECT_EQ(wzstcmn("ab", 2, "ABC", 3, 0), -3);
    char t[] = "ab";
    EXPECT_EQ(wztxxlt(2, t, t, 2), 0);
    EXPECT_STREQ(t, "AB");
    v_global_gcb_anchor = saved;
}

}  // namespace
