// The variance divisor of each VARDEF kind, the moment-pair index and the
// compaction of the WLS weight matrix without the variance moments.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/step_exit.h"
#include "procedure/data/data.h"
#include "velix/vardef.h"

namespace {

TEST(Vardiv, EachKindGivesItsDivisorAndNeverANegativeOne) {
    EXPECT_EQ(zvardiv("N       ", 10, 1, 12.5), 10.0);
    EXPECT_EQ(zvardiv("DF      ", 10, 1, 12.5), 9.0);
    EXPECT_EQ(zvardiv("WDF     ", 10, 1, 12.5), 11.5);
    EXPECT_EQ(zvardiv("WEIGHT  ", 10, 1, 12.5), 12.5);
    EXPECT_EQ(zvardiv("WGT     ", 10, 1, 12.5), 12.5);
    EXPECT_EQ(zvardiv("DF      ", 1, 1, 1), 0.0);
    EXPECT_EQ(zvardiv("DF      ", 0, 1, 0), 0.0);
    EXPECT_EQ(zvardiv("WDF     ", 5, 1, 1), 0.0);
    // A difference that does not move d by a ten-thousandth is no information.
    EXPECT_EQ(zvardiv("WDF     ", 5, 1e20, 1e20 + 1e4), 0.0);
}

TEST(Vardiv, AnUnknownKindEndsTheStepWith9999) {
    try {
        zvardiv("XYZ     ", 10, 1, 1);
        FAIL() << "no step exit";
    } catch (const velix::platform::StepExit& e) {
        EXPECT_EQ(e.code, 9999);
    }
}

TEST(Vardiv, TheSharedRuleRefusesAnUnknownKindWithoutTouchingTheDivisor) {
    double d = -7.0;
    EXPECT_FALSE(velix::vardef_divisor("XYZ     ", 10, 1, 1, &d));
    EXPECT_EQ(d, -7.0);
    // The host passes no kind for plain counts: that is N.
    ASSERT_TRUE(velix::vardef_divisor(nullptr, 10, 1, 12.5, &d));
    EXPECT_EQ(d, 10.0);
}

TEST(MomentPairIndex, IsSymmetricInBothPairsAndEnumeratesThePackedMatrix) {
    const int n = 4;
    int64_t q = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            for (int k = 0; k <= i; ++k)
                for (int l = 0; l <= (k < i ? k : j); ++l, ++q) {
                    EXPECT_EQ(iisub(i, j, k, l), q);
                    EXPECT_EQ(iisub(j, i, l, k), q);
                    EXPECT_EQ(iisub(k, l, i, j), q);
                }
}

TEST(WlsCompaction, PutinRestoresTheCompactedElementsAndThePenaltyStructure) {
    ProcContext ctx;
    ctx.sizes.nManifest = 3;
    const int64_t pstar = 6, total = pstar * (pstar + 1) / 2;
    std::vector<double> w(total), original(total);
    for (int64_t q = 0; q < total; ++q) original[q] = w[q] = 1.0 + q;
    ctx.arrays.weightMatrix = w.data();
    velix::detail::takout(&ctx);
    velix::detail::putin(&ctx, 0.25);
    const int n = 3;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            for (int k = 0; k <= i; ++k)
                for (int l = 0; l <= (k < i ? k : j); ++l) {
                    const int64_t q = iisub(i, j, k, l);
                    if (i == j && k == l && i == k)
                        EXPECT_EQ(w[q], 0.5);
                    else if (i == j || k == l)
                        EXPECT_EQ(w[q], 0.0);
                    else
                        EXPECT_EQ(w[q], original[q]);
                }
}

}  // namespace
