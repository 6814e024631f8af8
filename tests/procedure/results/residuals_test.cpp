// The pieces of the residual analysis: the standardizing rules, the
// asymptotic variance against a dense J (kappa V) J', the ranking, the bins
// and the bars, each against a value worked out here.
#include "procedure/results/residuals.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/test_matrices.h"

namespace {

using namespace velix::detail;

TEST(ResidualStandardize, ZeroAndMissingAreKeptApart) {
    EXPECT_EQ(residual_standardize(1e-10, 1.0, 4.0), 0.0);  // negligible against s
    EXPECT_EQ(residual_standardize(0.5, 1.0, 0.0), 0.0);    // no variance at all
    EXPECT_TRUE(host_is_missing(residual_standardize(0.5, 1.0, -1e-3)));  // negative beyond rounding
    EXPECT_TRUE(host_is_missing(residual_standardize(1e-5, 1.0, 5e-13)));  // too small to divide by
    EXPECT_DOUBLE_EQ(residual_standardize(0.5, 1.0, 0.04), 2.5);
}

TEST(ResidualAsymptoticVariances, AreTheVarianceTermLessJAcovJ) {
    const int q = 3, pstar = 6;
    const velix::test::Dense jac = velix::test::random_dense(q, pstar, 3u);
    const velix::test::Dense v = velix::test::random_spd(q, 4u);
    const std::vector<double> cov = velix::test::to_packed(v, q);
    std::vector<double> terms(pstar), w(pstar);
    for (int k = 0; k < pstar; ++k) terms[static_cast<size_t>(k)] = 50.0 + k;
    const double nn = 100.0, kappa = 0.02;
    residual_asymptotic_variances(terms.data(), nn, jac.data(), cov.data(), kappa, q, pstar, w.data());
    for (int k = 0; k < pstar; ++k) {
        double u = 0.0;
        for (int i = 0; i < q; ++i)
            for (int j = 0; j < q; ++j) u += jac[i * pstar + k] * v[i * q + j] * jac[j * pstar + k];
        EXPECT_NEAR(w[static_cast<size_t>(k)], terms[static_cast<size_t>(k)] / nn - kappa * u, 1e-13) << k;
    }
    // A difference within rounding of its terms is exactly 0.
    const double one = 1.0, j1 = 1.0, c1 = 25.0;
    double w1 = 1.0;
    residual_asymptotic_variances(&one, 2.0, &j1, &c1, 0.02, 1, 1, &w1);
    EXPECT_EQ(w1, 0.0);
}

TEST(ResidualRanking, KeepsTheLargestInFallingOrderEarlierFirst) {
    // n = 3, p* = 6: K = 3.  Packed: (0,0) (1,0) (1,1) (2,0) (2,1) (2,2).
    const double r[6] = {0.1, -0.5, 0.5, 0.2, 1e-12, 0.3};
    const std::vector<RankedResidual> ranked = residual_ranking(r, 3);
    ASSERT_EQ(ranked.size(), 3u);
    EXPECT_EQ(ranked[0].value, -0.5);
    EXPECT_EQ(ranked[0].row, 1);
    EXPECT_EQ(ranked[1].value, 0.5);
    EXPECT_EQ(ranked[2].value, 0.3);
    const double one[1] = {2.0};
    EXPECT_TRUE(residual_ranking(one, 1).empty());  // p* = 1: K = 0
    const double tiny[3] = {1.0, 1e-9, 0.0};
    EXPECT_EQ(residual_ranking(tiny, 2).size(), 1u);  // cut at a negligible entry
}

TEST(ResidualBins, LayoutFollowsTheRange) {
    // Straddling 0 with width 0.25: a = -2, b = 3, start -0.75, 7 bins.
    const double mixed[6] = {-0.6, -0.1, 0.0, 0.2, 0.55, 0.8};
    ResidualBins b = residual_bins(mixed, 6);
    EXPECT_DOUBLE_EQ(b.start, -0.75);
    EXPECT_DOUBLE_EQ(b.width, 0.25);
    ASSERT_EQ(b.counts.size(), 7u);
    EXPECT_EQ(b.counts, (std::vector<int32_t>{1, 0, 1, 2, 0, 1, 1}));
    // All of one sign and narrow: 4 bins of 0.25 are too few, so 7 bins
    // of (hi - lo) / 6 centred on the range.
    const double positive[3] = {1.0, 1.5, 1.75};
    b = residual_bins(positive, 3);
    EXPECT_DOUBLE_EQ(b.width, 0.125);
    EXPECT_EQ(b.counts, (std::vector<int32_t>{1, 0, 0, 0, 1, 0, 1}));
    EXPECT_DOUBLE_EQ(b.start, 0.9375);
    // A wide range: bins of (hi - lo) / 50, centred, half a bin beyond
    // each end.
    const double wide[2] = {1.0, 51.0};
    b = residual_bins(wide, 2);
    EXPECT_DOUBLE_EQ(b.width, 1.0);
    EXPECT_EQ(b.counts.size(), 51u);
    const double same[2] = {1.0, 1.0};
    EXPECT_TRUE(residual_bins(same, 2).counts.empty());
}

TEST(ResidualBar, NeverOutgrowsItsColumnAndShowsAnEmptyBin) {
    EXPECT_EQ(residual_bar_length(0, 1, 27), 1);
    for (int count = 1; count <= 27; ++count) EXPECT_LE(residual_bar_length(count, 1, 27), 27) << count;
    EXPECT_EQ(residual_bar_length(26, 1, 27), 27);
}

}  // namespace
