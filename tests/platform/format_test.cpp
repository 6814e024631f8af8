// The host's format dialect: its numeric directives agree with the C
// library's printf for the same flags, widths and precisions; its own
// directives (%k, %n, %Nz, %.*s on unterminated fields) behave as documented.
#include "platform/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/session.h"
#include "velix/host.h"

namespace {

using velix::platform::format_host;

template <typename... A>
std::string c_printf(const char* f, A... a) {
    char buf[256];
    std::snprintf(buf, sizeof buf, f, a...);
    return buf;
}

TEST(FormatDialect, NumericDirectivesAgreeWithPrintf) {
    const int32_t ints[] = {0, 7, -42, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    for (const int32_t v : ints) {
        EXPECT_EQ(format_host("%i|%d|%5d|%-6i|%+d|%05d", v, v, v, v, v, v),
                  c_printf("%d|%d|%5d|%-6d|%+d|%05d", v, v, v, v, v, v));
        const auto u = static_cast<uint32_t>(v);
        EXPECT_EQ(format_host("%u %x %X %08x", u, u, u, u), c_printf("%u %x %X %08x", u, u, u, u));
    }
    const int64_t big = -9007199254740993LL;
    EXPECT_EQ(format_host("%ld|%20ld", big, big), c_printf("%lld|%20lld", static_cast<long long>(big),
                                                            static_cast<long long>(big)));
    const double reals[] = {0.0, -1.5, 3.14159265358979, 1e-300, 6.02214076e8, -0.000123456};
    for (const double v : reals) {
        EXPECT_EQ(format_host("%f|%.2f|%10.4f|%-12.3e|%E|%g|%.12G|%+.0f|%#g", v, v, v, v, v, v, v, v, v),
                  c_printf("%f|%.2f|%10.4f|%-12.3e|%E|%g|%.12G|%+.0f|%#g", v, v, v, v, v, v, v, v, v));
    }
    // Widths and precisions taken from the arguments, a negative width
    // left-justifying as in C.
    EXPECT_EQ(format_host("[%*.*f][%*d]", 9, 3, 2.71828, -5, 12), c_printf("[%*.*f][%*d]", 9, 3, 2.71828, -5, 12));
}

// format_double gives printf's text for the conversions the listing and
// the JSON document use: random magnitudes and digits, exact decimal ties
// (which printf rounds to even), integers, signed zeros and the extremes.
TEST(FormatDouble, AgreesWithPrintf) {
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, 1e22, 1e23, 5e-324,
                                  std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                                  0.1, 0.3, 123456789.0, -99999.99995, 9.5, 0.00005, 1e-5};
    std::mt19937_64 gen(44);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    for (int k = 0; k < 5000; ++k) {
        const double v = mantissa(gen) * std::pow(10.0, exponent(gen));
        values.push_back(v);
        values.push_back(std::round(v * 32.0) / 32.0);  // ties at 1 to 4 decimals
    }
    char buf[400];
    for (const double v : values)
        for (int precision : {0, 1, 2, 4, 6, 8, 17, 20})
            for (const char* c : {"f", "E", "g"}) {
                const std::string format = std::string("%.*") + c;
                if (std::fabs(v) > 1e60 && c[0] == 'f') continue;  // longer than c_printf's buffer
                const size_t n = velix::platform::format_double(buf, sizeof buf, v, c[0], precision);
                ASSERT_EQ(std::string(buf, n), c_printf(format.c_str(), precision, v)) << format << " of " << v;
            }
}

// A fixed number whose digits before the point do not fit its field turns
// to E notation within the field: the width when given (decimals beyond
// it still widen the field, as in C), else the 17 digits a double
// carries.  The text is the value to the digits the field holds.
TEST(FormatDialect, TooLargeForItsFieldFallsBackToENotation) {
    using velix::platform::fixed_in_field;
    EXPECT_EQ(format_host("[%10.4f]", 1.44172816662655e24), "[1.4417E+24]");
    EXPECT_EQ(format_host("[%.2f]", -1.5e298), "[-1.50E+298]");
    EXPECT_EQ(format_host("[%-12.4f]", 2.5e40), "[2.5000E+40  ]");
    EXPECT_EQ(format_host("[%f]", 1e17), "[1.000000E+17]");
    EXPECT_EQ(format_host("[%f]", 9.9e16), c_printf("[%f]", 9.9e16));
    EXPECT_EQ(fixed_in_field(915.7989, 4, 6), "915.7989");
    // Without flags the fitting text is printf's, padded to the width.
    for (const double v : {0.0, -0.5, 2.675, -123456.125, 9.99999e16})
        for (const int width : {0, 18, 30}) {
            const std::string format = "%" + (width > 0 ? std::to_string(width) : "") + ".3f";
            EXPECT_EQ(fixed_in_field(v, 3, width), c_printf(format.c_str(), v)) << format << " of " << v;
        }
    EXPECT_EQ(fixed_in_field(1234567.0, 4, 6), " 1E+06");
    // Rounding that adds an exponent digit costs a decimal.
    EXPECT_EQ(fixed_in_field(9.99996e99, 4, 10), "1.000E+100");
    for (const double v : {3.7e19, -8.25e123, 1.0e300}) {
        const std::string t = fixed_in_field(v, 4, 10);
        EXPECT_EQ(t.size(), 10u) << t;
        EXPECT_NEAR(std::stod(t), v, 1e-3 * std::fabs(v)) << t;
    }
}

TEST(FormatDialect, TextsCharactersAndHandles) {
    // A blank-padded field without a NUL is read only as far as the precision.
    const char field[8] = {'H', 'S', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(format_host("<%.8s>", field), "<HS      >");
    EXPECT_EQ(format_host("<%.*s>", 2, field), "<HS>");
    EXPECT_EQ(format_host("<%-6s|%6s|%.2s>", "ab", "cd", "efgh"), "<ab    |    cd|ef>");
    EXPECT_EQ(format_host("%s", static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(format_host("%c%c%3c", 'x', 'y', 'z'), "xy  z");
    HostText* t = kyrtxt("Chi-Square", -1);
    EXPECT_EQ(format_host("[%k] [%.3k] [%12k]", t, t, t), "[Chi-Square] [Chi] [  Chi-Square]");
    EXPECT_EQ(format_host("[%k]", static_cast<HostText*>(nullptr)), "[]");
    velix::platform::end_step();  // frees the handle
}

TEST(FormatDialect, LineBreaksSeverityAndLiterals) {
    EXPECT_EQ(format_host("%n%nsweep: invalid k: %d%n", 3), "\n\nsweep: invalid k: 3\n");
    EXPECT_EQ(format_host("%1zOut of memory"), "ERROR: Out of memory");
    EXPECT_EQ(format_host("%2zcheck%3zdone"), "WARNING: checkNOTE: done");
    EXPECT_EQ(format_host("100%% of %i", 5), "100% of 5");
    // An unknown directive is copied and reads no argument.
    EXPECT_EQ(format_host("%q %d", 4), "%q 4");
    // A trailing lone percent sign stays.
    EXPECT_EQ(format_host("50%"), "50%");
}

std::string bounded(const char* f, int32_t length, ...) {
    va_list args;
    va_start(args, length);
    std::string s = velix::platform::vformat_host(f, length, args);
    va_end(args);
    return s;
}

TEST(FormatDialect, FormatLengthBoundsTheText) {
    // The optimizer passes "Orvo.NLP.%*s" with its length 12 and then the
    // name's length and the name.
    EXPECT_EQ(bounded("Orvo.NLP.%*sTRAILING", 12, 4, "Grad"), "Orvo.NLP.Grad");
    EXPECT_EQ(bounded("abc%", 3), "abc");
    EXPECT_EQ(bounded(nullptr, -1), "");
}

TEST(FormatDialect, MissingValuesPrintAsTheHostWritesThem) {
    // A missing option value reaches messages that print it with %g; it
    // reads as the data-set text, padded like any other field, while a NaN
    // that is not a missing value still prints as C prints it.
    const double dot = host_missing_value(), a = host_special_missing(2), under = host_special_missing(1);
    EXPECT_EQ(format_host("%g|%5.2f|%-4e|%G|%g", dot, dot, a, under, 1.5), ".|    .|.A  |._|1.5");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(format_host("%g", nan), c_printf("%g", nan));
}

}  // namespace
