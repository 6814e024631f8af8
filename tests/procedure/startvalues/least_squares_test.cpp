// The composite and residual estimators on the start moments of a model
// read from its statements: a latent variable with one indicator takes that
// indicator's moments scaled to unit variance, one whose composite (its
// indicators each with the sign of its covariance with the first) has no
// variance is left unknown (its moments are never divided by a zero or
// negative scale), the residual moments keep their floors, and a
// coefficient shared by two equations is pooled over both.
#include <gtest/gtest.h>

#include "host/fields.h"
#include "start_fixture.h"

namespace velix::testing {
namespace {

using velix::detail::StartWork;

// F1 measured by x1 and x2, F2 by x3 alone.
const char* kTwoFactors =
    "proc velix data=hs method=none covariance;\nvar x1-x3;\n"
    "lineqs x1 = 1.0 F1 + e1, x2 = l2 F1 + e2, x3 = 1.0 F2 + e3;\n"
    "std F1 = vf1, F2 = vf2, e1-e3 = ve1-ve3;\nrun;\n";

TEST(Composites, OneIndicatorGivesItsScaledMomentsAndAVanishingCompositeStaysUnknown) {
    // F1 measured by x1-x3, F2 by x4 alone.
    StartValueStep s(
        "proc velix data=hs method=none covariance;\nvar x1-x4;\n"
        "lineqs x1 = 1.0 F1 + e1, x2 = l2 F1 + e2, x3 = l3 F1 + e3, x4 = 1.0 F2 + e4;\n"
        "std F1 = vf1, F2 = vf2, e1-e4 = ve1-ve4;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    StartWork w;
    ASSERT_EQ(velix::detail::build_start_work(&s.ctx, &w), velix::detail::kStartWorkReady);
    ASSERT_EQ(w.order, 6);
    // x2 and x3 opposed to x1 enter the composite reversed, x1 - x2 - x3,
    // which moments that no data could have leave without variance
    // (3 + 2 + 2 - 7).
    for (int32_t i = 0; i < 3; ++i) w.at(i, i) = 1.0;
    w.at(1, 0) = w.at(2, 0) = -1.0;
    w.at(2, 1) = -3.5;
    const int32_t f1 = 4, f2 = 5;
    EXPECT_EQ(velix::detail::cosindc(&w), -1);
    const double sd4 = std::sqrt(w.get(3, 3));
    for (int32_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(w.get(k, f2), w.get(3, k) / sd4, 1e-12) << k;
        EXPECT_TRUE(wzmis(w.get(k, f1))) << "F1 with x" << k + 1 << ": " << w.get(k, f1);
    }
    EXPECT_EQ(w.get(f2, f2), 1.0);
}

TEST(ResidualMoments, SmallResidualsKeepTheirFloors) {
    StartValueStep s(kTwoFactors);
    ASSERT_TRUE(s.ready) << s.log.str();
    std::copy(s.readValues.begin(), s.readValues.end(), s.ctx.elements.value);
    StartWork w;
    ASSERT_EQ(velix::detail::build_start_work(&s.ctx, &w), velix::detail::kStartWorkReady);
    // x2 = 0.5 F1 + e2 with residual variance 0.0004: raised to 0.01 in
    // the units of x2, 0.01 times its variance 0.2504.
    // _GAMMA_ columns: F1, F2, e1, e2, e3.
    const int32_t f1 = 3;
    w.at(f1, f1) = 1.0;
    w.at(1, f1) = 0.5;
    w.at(1, 1) = 0.2504;
    s.ctx.elements.value[s.element_at(3, 1, 0)] = 0.5;
    velix::detail::cosindp(&w);
    EXPECT_DOUBLE_EQ(s.value_at(4, 3, 3), 0.01 * 0.2504);
    EXPECT_EQ(velix::detail::away_from_zero(0.0005, 0.001), 0.001);
    EXPECT_EQ(velix::detail::away_from_zero(-0.0005, 0.001), -0.001);
    EXPECT_EQ(velix::detail::away_from_zero(0.0, 0.01), 0.01);
}

// Two equations that share their coefficient give it one pooled estimate:
// the least-squares solution of s11 b = s12 and s44 b = s43 (not the mean
// of the two separate estimates).
TEST(PooledLeastSquares, ASharedCoefficientIsEstimatedFromEveryEquation) {
    StartValueStep s(
        "proc velix data=hs method=none covariance;\nvar x1-x4;\n"
        "lineqs x2 = b x1 + e2, x3 = b x4 + e3;\nstd x1 = v1, x4 = v4, e2 = v2, e3 = v3;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    const double s11 = s.sample(0, 0), s44 = s.sample(3, 3);
    const double b = (s11 * s.sample(0, 1) + s44 * s.sample(3, 2)) / (s11 * s11 + s44 * s44);
    EXPECT_NEAR(s.start("b"), b, 1e-12 * std::fabs(b));
}

}  // namespace
}  // namespace velix::testing
