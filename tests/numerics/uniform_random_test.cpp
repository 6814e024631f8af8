// The uniform generator: its defining recurrence, its range, the repair of
// seeds outside 1 .. 2^31 - 2 and a frequency check.
#include "numerics/uniform_random.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(UniformRandom, FirstStepFromSeedOne) {
    int32_t seed = 1;
    double u = zranuni(&seed);
    EXPECT_EQ(seed, 397204094);
    EXPECT_DOUBLE_EQ(u, 397204094.0 / 2147483647.0);
}

TEST(UniformRandom, FollowsTheRecurrenceAndStaysInsideTheUnitInterval) {
    int32_t seed = 12345;
    // Multiplication by doubling and adding modulo m in 32-bit unsigned
    // arithmetic, independent of the 64-bit product of the routine.
    const uint32_t m = 2147483647u, a = 397204094u;
    auto mulmod = [&](uint32_t x) {
        uint32_t result = 0, addend = x, k = a;
        while (k != 0) {
            if (k & 1u) result = (result + addend) % m;  // both below 2^31: no overflow
            addend = (addend * 2u) % m;
            k >>= 1;
        }
        return result;
    };
    uint32_t ref = 12345;
    for (int i = 0; i < 10000; ++i) {
        ref = mulmod(ref);
        double u = zranuni(&seed);
        ASSERT_EQ(static_cast<uint32_t>(seed), ref) << "step " << i;
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
}

TEST(UniformRandom, SeedsOutsideTheRangeAreFolded) {
    // Each is first folded by 1 + (|s| mod (2^31 - 2)), then advanced.
    struct Case { int32_t given; int32_t folded; };
    const Case cases[] = {{0, 1}, {-5, 6}, {2147483647, 2}, {INT32_MIN + 1, 2}};
    for (const auto& c : cases) {
        int32_t s = c.given, f = c.folded;
        double u = zranuni(&s);
        double v = zranuni(&f);
        EXPECT_EQ(u, v) << c.given;
        EXPECT_GT(u, 0.0);
    }
    int32_t s = INT32_MIN;  // |s| = 2^31 does not fit in 32 bits
    double u = zranuni(&s);
    EXPECT_GT(u, 0.0);
    EXPECT_LT(u, 1.0);
}

TEST(UniformRandom, DecilesAreEvenlyFilled) {
    int32_t seed = 987654321;
    const int n = 100000;
    int count[10] = {};
    for (int i = 0; i < n; ++i) ++count[static_cast<int>(zranuni(&seed) * 10.0)];
    double chi2 = 0.0;
    for (int c : count) chi2 += (c - n / 10.0) * (c - n / 10.0) / (n / 10.0);
    EXPECT_LT(chi2, 27.88);  // the 0.999 quantile of chi-square with 9 df
}
