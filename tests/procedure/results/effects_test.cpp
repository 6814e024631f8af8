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

TEST(EffectsNegligible, EntriesWithinRoundingOfTheLargestBecomeZero) {
    std::vector<double> t = {2.0, 1e-14, -3e-13, 0.5};
    effects_clear_negligible(&t);
    EXPECT_EQ(t, (std::vector<double>{2.0, 0.0, -3e-13, 0.5}));
}

}  // namespace
