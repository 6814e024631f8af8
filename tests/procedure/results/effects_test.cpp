// The stability coefficient and the negligible-entry rule of the effects.
#include "procedure/results/effects.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace velix::detail;

TEST(EffectsStability, IsTheLargestEigenvalueOfDDt) {
    EXPECT_DOUBLE_EQ(effects_stability({0.7}, 1), 0.49);
    // D = [0 a; b 0]: D D' = diag(a^2, b^2).
    EXPECT_DOUBLE_EQ(effects_stability({0.0, 0.6, -0.9, 0.0}, 2), 0.81);
    // D = [1 1; 0 1]: D D' = [2 1; 1 1], largest eigenvalue (3 + sqrt 5) / 2,
    // above the spectral radius 1 of D.
    EXPECT_NEAR(effects_stability({1.0, 1.0, 0.0, 1.0}, 2), (3.0 + std::sqrt(5.0)) / 2.0, 1e-14);
    EXPECT_TRUE(host_is_missing(effects_stability({0.0, 0.0, 0.0, 0.0}, 2)));
}

// The spectral radius against closed forms: a 2-cycle [0 a; b 0] has
// eigenvalues +-sqrt(ab); a 3-cycle with a, b, c on its cycle the cube
// roots of abc; a recursive chain none but 0; a Jordan block
// [r 1; 0 r] the radius r (its powers grow as n r^(n-1), which the
// squaring must not take for a larger radius).
TEST(EffectsSpectralRadius, IsTheLargestModulusOfTheEigenvalues) {
    EXPECT_NEAR(effects_spectral_radius({0.0, 1.5, 0.9, 0.0}, 2), std::sqrt(1.35), 1e-9);
    const double a = 0.74973, b = 0.5679, c = 0.5679;
    const std::vector<double> cycle = {0.0, a, 0.0, 0.0, 0.0, b, c, 0.0, 0.0};
    const double radius = std::cbrt(a * b * c);
    EXPECT_NEAR(effects_spectral_radius(cycle, 3), radius, 1e-9);
    EXPECT_EQ(effects_spectral_radius({0.0, 0.0, 0.0, 0.8, 0.0, 0.0, 0.0, 0.5, 0.0}, 3), 0.0);
    EXPECT_NEAR(effects_spectral_radius({0.9, 1.0, 0.0, 0.9}, 2), 0.9, 1e-9);
    EXPECT_NEAR(effects_spectral_radius({-1.2}, 1), 1.2, 1e-12);
    // The stability coefficient of the 3-cycle, max(a, b, c)^2 = 0.5621,
    // bounds the square of the radius (0.3881) but not the radius (0.6230).
    const double stability = effects_stability(cycle, 3);
    EXPECT_NEAR(stability, a * a, 1e-12);
    EXPECT_GE(stability, radius * radius);
    EXPECT_LT(stability, radius);
}

TEST(EffectsNegligible, EntriesWithinRoundingOfTheLargestBecomeZero) {
    std::vector<double> t = {2.0, 1e-14, -3e-13, 0.5};
    effects_clear_negligible(&t);
    EXPECT_EQ(t, (std::vector<double>{2.0, 0.0, -3e-13, 0.5}));
}

}  // namespace
