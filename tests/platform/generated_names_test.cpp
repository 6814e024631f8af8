// Generated names and the installation of host components.
#include <gtest/gtest.h>

#include <string>

#include "velix/host.h"

namespace {

std::string name(const char* prefix, int32_t prefixLength, int32_t number, int32_t flag, int32_t width,
                 int32_t* length = nullptr) {
    std::string field(static_cast<size_t>(width) + 1, '#');
    const int32_t n = znamfix(0, prefix, prefixLength, number, flag, field.data(), width);
    if (length != nullptr) *length = n;
    EXPECT_EQ(field.back(), '#') << "wrote past the field";
    field.pop_back();
    return field;
}

TEST(GeneratedNames, PrefixWithoutItsBlanksThenTheNumber) {
    int32_t length = 0;
    EXPECT_EQ(name("X       ", 8, 12, 0, 8, &length), "X12     ");
    EXPECT_EQ(length, 3);
    // The length is 1 plus the number of digits for a one-letter prefix.
    for (int32_t k : {1, 9, 10, 99, 100, 999, 1000}) {
        name("X       ", 8, k, 0, 8, &length);
        EXPECT_EQ(length, 1 + static_cast<int32_t>(std::to_string(k).size())) << k;
    }
    EXPECT_EQ(name("Term_", 5, 3, 0, 8), "Term_3  ");
    EXPECT_EQ(name("FACT", -1, 2, 0, 32), "FACT2" + std::string(27, ' '));
}

TEST(GeneratedNames, LeastDigitsAreZeroPadded) {
    EXPECT_EQ(name("_V", 2, 1001, 6, 8), "_V001001");
    EXPECT_EQ(name("_V", 2, 1234567, 6, 9), "_V1234567");
}

TEST(GeneratedNames, NumberStaysWholeWhenThePrefixIsShortened) {
    EXPECT_EQ(name("Column", 6, 12345, 0, 8), "Col12345");
    EXPECT_EQ(name("A", 1, -42, 0, 4), "A-42");
    EXPECT_EQ(name("AB", 2, 123456, 0, 4), "3456");
    EXPECT_EQ(name(nullptr, 0, 7, 0, 3), "7  ");
}

TEST(ComponentInstall, OnlyTheStatementCompilerIsKnown) {
    EXPECT_EQ(wiinstl(458891, "ZAVCMPA ", 1), 0);
    EXPECT_NE(wiinstl(458891, "ZAVCMPB ", 1), 0);
    EXPECT_NE(wiinstl(1, "ZAVCMPA ", 1), 0);
    EXPECT_NE(wiinstl(458891, nullptr, 1), 0);
}

}  // namespace
