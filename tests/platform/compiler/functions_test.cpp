// The language's functions: each one's derivative against central finite
// differences at several points (relative 1e-7), values against the C
// library and identities, and the domain errors.
#include "platform/compiler/functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "tests/platform/compiler/harness.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

using testing::Harness;

struct Case {
    const char* expr;  // of a and b
    std::vector<std::pair<double, double>> points;
};

TEST(Functions, DerivativesMatchCentralDifferences) {
    const Case cases[] = {
        {"abs(a*b)", {{1.5, 2.0}, {-0.5, 3.0}}},
        {"exp(a) + exp(-b)", {{0.3, 1.0}, {-2.0, 0.1}, {4.0, 2.0}}},
        {"log(a*a + b)", {{1.0, 1.0}, {0.2, 3.0}}},
        {"log10(a) * b", {{2.0, 1.5}, {0.05, -1.0}}},
        {"sqrt(a*a + b*b)", {{3.0, 4.0}, {0.1, 0.2}}},
        {"sin(a*b)", {{0.4, 2.0}, {-1.3, 0.7}}},
        {"cos(a) * b", {{0.4, 2.0}, {2.9, -0.7}}},
        {"tan(a + b)", {{0.2, 0.3}, {-0.5, -0.4}}},
        {"arsin(a*b)", {{0.5, 0.8}, {-0.3, 1.5}}},
        {"arcos(a/b)", {{0.5, 2.0}, {-1.0, 1.3}}},
        {"atan(a) - atan(b)", {{0.5, 2.0}, {-3.0, 10.0}}},
        {"sinh(a) * cosh(b)", {{0.5, 1.2}, {-2.0, 0.1}}},
        {"tanh(a*b)", {{0.5, 1.2}, {-2.0, 0.3}}},
        {"min(a, b, 2.5) + max(a*b, 1)", {{0.5, 3.0}, {3.0, 0.2}, {-1.0, 2.0}}},
        {"sum(a, b*b, 1) + mean(a, b, b)", {{0.5, 3.0}, {-1.0, 2.0}}},
        {"int(a) * b + round(b, 0.5) * a + sign(a) * b", {{2.7, 1.3}, {-1.4, 0.2}}},
        {"mod(a, b)", {{7.3, 2.0}, {-7.3, 2.0}, {5.5, -1.5}}},
        {"probnorm(a * b)", {{0.5, 1.0}, {-2.0, 1.5}, {3.0, 1.1}}},
        {"probit(a) * b", {{0.3, 1.0}, {0.975, -2.0}, {0.02, 1.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expr);
        Harness h(std::string("y = ") + c.expr + ";", {"a", "b"}, {"y"});
        ASSERT_TRUE(h.ok) << h.errors[0].message;
        for (auto [a, b] : c.points) h.check_derivatives({a, b});
    }
}

TEST(Functions, ValuesAgainstTheCLibraryAndIdentities) {
    Harness h("y1 = probit(probnorm(a));\n"
              "y2 = round(a, 0.01);\n"
              "y3 = mod(a, 1.5);\n"
              "y4 = int(-a);\n"
              "y5 = log10(1000) + log(exp(a)) + arsin(sin(0.5)) + arcos(cos(0.5));\n"
              "y6 = sinh(a)**2 - cosh(a)**2 + tanh(a) * cosh(a) / sinh(a);\n"
              "y7 = mean(1, 2, 3, 4) + min(4, 1, 3) + max(4, 1, 9);\n",
              {"a"}, {"y1", "y2", "y3", "y4", "y5", "y6", "y7"});
    ASSERT_TRUE(h.ok);
    for (double a : {-2.5, 0.37, 1.96, 3.2}) {
        h.run({a});
        EXPECT_NEAR(h.out[0], a, 1e-9 * (1 + std::fabs(a))) << a;
        EXPECT_NEAR(h.out[1], std::round(a * 100) / 100, 1e-12) << a;
        EXPECT_NEAR(h.out[2], std::fmod(a, 1.5), 1e-12) << a;
        EXPECT_EQ(h.out[3], std::trunc(-a)) << a;
        EXPECT_NEAR(h.out[4], 3 + a + 1.0, 1e-12) << a;
        EXPECT_NEAR(h.out[5], -1 + 1, 1e-9) << a;
        EXPECT_EQ(h.out[6], 2.5 + 1 + 9);
    }
    // Rounding halves away from zero, also for decimal fractions.
    h.run({0.125});
    EXPECT_EQ(h.out[1], 0.13);
    EXPECT_NEAR(normal_cdf(1.959963984540054), 0.975, 1e-15);
}

// ROUND(x, unit) is the multiple of unit nearest x, a half going away from
// 0 on either side: ROUND(-x, u) = -ROUND(x, u).
TEST(Functions, RoundTakesHalvesAwayFromZeroOnBothSides) {
    Harness h("y = round(a, b);", {"a", "b"}, {"y"});
    ASSERT_TRUE(h.ok);
    const struct {
        double x, unit, rounded;
    } cases[] = {{2.5, 1, 3},      {-2.5, 1, -3},   {-0.5, 1, -1},       {-1.5, 1, -2},
                 {-7.5, 5, -10},   {-1.25, 0.5, -1.5}, {-0.125, 0.01, -0.13}, {-2.4999, 1, -2}};
    for (const auto& c : cases) {
        h.run({c.x, c.unit});
        EXPECT_EQ(h.out[0], c.rounded) << "round(" << c.x << ", " << c.unit << ")";
    }
}

// The normal quantile inverts the distribution function (erfc of the C
// library) to a few ulps from the far lower tail to the upper one, and
// meets the quantiles of R's qnorm (0.975, 0.001, 1e-300).
TEST(Functions, NormalQuantileInvertsTheDistributionFunction) {
    double worst = 0.0;
    for (double p = 1e-300; p < 0.5; p *= 7.3) {
        for (double pp : {p, 1.0 - p}) {
            const double x = normal_quantile(pp);
            // Compare in the tail that holds the digits: Phi(x) near 0, or
            // Phi(-x) = 1 - pp (exact for pp >= 0.5).
            const double got = pp < 0.5 ? normal_cdf(x) : normal_cdf(-x);
            const double want = pp < 0.5 ? pp : 1.0 - pp;
            // Phi is steep in relative terms in the tails: a relative
            // error e of x moves Phi(x) by about x^2 e relative.
            const double rel = std::fabs(got - want) / want / (1.0 + x * x);
            worst = std::max(worst, rel);
        }
    }
    EXPECT_LT(worst, 5e-15);
    EXPECT_EQ(normal_quantile(0.5), 0.0);
    EXPECT_NEAR(normal_quantile(0.975), 1.9599639845400536, 1e-15);
    EXPECT_NEAR(normal_quantile(0.001), -3.0902323061678132, 4e-15);
    EXPECT_NEAR(normal_quantile(1e-300), -37.0470962993612005, 1e-13);
    EXPECT_TRUE(host_is_missing(normal_quantile(0.0)));
    EXPECT_TRUE(host_is_missing(normal_quantile(1.0)));
}

TEST(Functions, DomainErrors) {
    double args[2];
    double value = 0.0, partials[2];
    struct Bad {
        const char* name;
        double x, y;
        int32_t n;
    };
    const Bad bad[] = {{"LOG", 0.0, 0, 1},    {"LOG10", -1.0, 0, 1}, {"SQRT", -1e-9, 0, 1},
                       {"ARSIN", 1.5, 0, 1},  {"ARCOS", -1.01, 0, 1}, {"MOD", 1.0, 0.0, 2},
                       {"PROBIT", 0.0, 0, 1}, {"PROBIT", 1.0, 0, 1}, {"EXP", 800.0, 0, 1},
                       {"ROUND", 1.0, -1.0, 2}};
    for (const Bad& b : bad) {
        args[0] = b.x;
        args[1] = b.y;
        EXPECT_EQ(eval_function(find_function(b.name), args, b.n, &value, partials), FnStatus::kInvalid)
            << b.name << "(" << b.x << ")";
    }
    args[0] = host_missing_value();
    args[1] = 2.0;
    EXPECT_EQ(eval_function(find_function("EXP"), args, 1, &value, partials), FnStatus::kMissing);
    EXPECT_EQ(eval_function(find_function("MOD"), args, 2, &value, partials), FnStatus::kMissing);
    EXPECT_EQ(eval_function(find_function("SUM"), args, 2, &value, partials), FnStatus::kOk);
    args[1] = host_missing_value();
    EXPECT_EQ(eval_function(find_function("MAX"), args, 2, &value, partials), FnStatus::kMissing);
    EXPECT_EQ(find_function("NOSUCH"), -1);
}

}  // namespace
}  // namespace velix::compiler
