// The numbers of the equation results against their closed forms: t values
// with missing and zero standard errors, the standardization of a simple
// regression, R^2 as 1 - error / implied variance, and determination at a
// scale whose determinants overflow a double.
#include "procedure/results/equation_statistics.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "velix/host.h"

namespace {

TEST(EquationStatistics, TValueIsMissingWithoutAPositiveStandardError) {
    EXPECT_DOUBLE_EQ(t_value(2.18, 0.139), 2.18 / 0.139);
    EXPECT_TRUE(host_is_missing(t_value(2.18, host_missing_value())));
    const double positive = t_value(2.18, 0.0), negative = t_value(-2.18, 0.0);
    EXPECT_TRUE(host_is_missing(positive));
    EXPECT_TRUE(host_is_missing(negative));
    EXPECT_NE(std::bit_cast<uint64_t>(positive), std::bit_cast<uint64_t>(negative));
    EXPECT_TRUE(host_is_missing(t_value(0.0, 0.0)));
}

// y = b x + e: the standardized b is the correlation, and R^2 = 1 - var e /
// var y equals its square.
TEST(EquationStatistics, SimpleRegressionStandardizesToItsCorrelation) {
    const double b = 0.8, varX = 4.0, varE = 1.5;
    const double varY = b * b * varX + varE;
    const double corr = b * varX / std::sqrt(varX * varY);
    EXPECT_DOUBLE_EQ(standardized_coefficient(b, varX, varY), corr);
    EXPECT_DOUBLE_EQ(squared_multiple_correlation(varE, varY), corr * corr);
    EXPECT_TRUE(host_is_missing(squared_multiple_correlation(varE, 0.0)));
    EXPECT_TRUE(host_is_missing(standardized_coefficient(b, varX, -1.0)));
    EXPECT_TRUE(host_is_missing(standardized_coefficient(b, -1.0, varY)));
    EXPECT_EQ(standardized_coefficient(b, 0.0, varY), 0.0);  // an x without variance
}

// Twenty variables of variance 1e40 (each determinant 1e800, beyond a
// double) give the same coefficient as at unit scale; a failed
// factorization gives a missing value.
TEST(EquationStatistics, DeterminationFromLogDeterminants) {
    const int n = 20;
    const double scale = std::log(1e40), theta = 0.3;
    const double d = determination_coefficient(n * (std::log(theta) + scale), n * scale);
    EXPECT_NEAR(d, 1.0 - std::pow(theta, n), 1e-12);
    EXPECT_TRUE(host_is_missing(determination_coefficient(-DBL_MAX, 1.0)));
    EXPECT_TRUE(host_is_missing(determination_coefficient(1.0, host_missing_value())));
}

}  // namespace
