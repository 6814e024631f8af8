// Bound states, the test of releasing a bound and the stepwise Wald test,
// against statistics worked out here from V and x.
#include "procedure/results/bounds_wald.h"

#include <gtest/gtest.h>

#include <cfloat>

#include "numerics/distributions.h"
#include "numerics/packed.h"
#include "tests/support/test_matrices.h"

namespace {

using namespace velix::detail;

TEST(BoundState, LowerFirstThenUpperThenEqualBounds) {
    EXPECT_EQ(bound_state(0.0, 0.0, 1.0), 1);
    EXPECT_EQ(bound_state(1.0, 0.0, 1.0), -1);  // both bounds given, the upper one holds
    EXPECT_EQ(bound_state(0.5, 0.0, 1.0), 0);
    EXPECT_EQ(bound_state(-2.0, -2.0, -2.0 + 1e-9), 2);  // equal within tolerance, negative bounds
    EXPECT_EQ(bound_state(3.0, -DBL_MAX, 3.0), -1);
    EXPECT_EQ(bound_state(3.0, -DBL_MAX, DBL_MAX), 0);
}

TEST(BoundTest, IndexFromTheScoreAndVarianceOfTheRelease) {
    const double release[3] = {0.3, 2.0, -0.55};  // score, variance, change
    const BoundTest t = bound_test(release, 0.01, 50.0);
    ASSERT_TRUE(t.valid);
    EXPECT_DOUBLE_EQ(t.lm, 0.09 * 2.0 / 0.01);
    EXPECT_DOUBLE_EQ(t.change, -0.55);
    EXPECT_FALSE(bound_test(release, 0.0001, 0.5).valid);  // LM 1800 above 100 T and 100
    const double negative[3] = {0.3, -1.0, 0.0};
    EXPECT_FALSE(bound_test(negative, 0.01, 50.0).valid);
}

// The joint statistic x_S' (kappa V_SS)^-1 x_S, by the Cholesky inverse.
double joint(const velix::test::Dense& v, int q, const std::vector<int>& set, const std::vector<double>& x,
             double kappa) {
    const int k = static_cast<int>(set.size());
    velix::test::Dense a(static_cast<size_t>(k * k));
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) a[static_cast<size_t>(i * k + j)] = kappa * v[static_cast<size_t>(set[i] * q + set[j])];
    std::vector<double> inv = velix::test::to_packed(a, k);
    double det[2];
    EXPECT_EQ(coschin(k, 1e-14, det, inv.data()), 0);
    double w = 0.0;
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) w += x[static_cast<size_t>(set[i])] * inv[static_cast<size_t>(velix::pk(i, j))] * x[static_cast<size_t>(set[j])];
    return w;
}

// Fourteen small estimates: every parameter is dropped, the later steps by
// bordering the saved inverse; each step's choice and statistic equal the
// dense search.
TEST(StepwiseWald, DropsTheSmallestJointStatisticUntilAllAreDropped) {
    const int q = 14;
    const velix::test::Dense v = velix::test::random_spd(q, 9u, 2.0);
    std::vector<double> x(q);
    for (int i = 0; i < q; ++i) x[static_cast<size_t>(i)] = 0.001 * (i % 5 + 1);
    const double kappa = 0.01;
    int singular = -1;
    const std::vector<WaldStep> steps = stepwise_wald(velix::test::to_packed(v, q), x.data(), kappa, 0.05, 1e-12, &singular);
    EXPECT_EQ(singular, 0);
    ASSERT_EQ(steps.size(), static_cast<size_t>(q));
    std::vector<int> dropped;
    double previous = 0.0;
    for (const WaldStep& s : steps) {
        int best = -1;
        double bestW = 0.0;
        for (int j = 0; j < q; ++j) {
            if (std::find(dropped.begin(), dropped.end(), j) != dropped.end()) continue;
            std::vector<int> set = dropped;
            set.push_back(j);
            const double w = joint(v, q, set, x, kappa);
            if (best < 0 || w < bestW) best = j, bestW = w;
        }
        EXPECT_EQ(s.parameter, best) << "step " << s.df;
        EXPECT_NEAR(s.chisq, bestW, 1e-10 * std::max(1.0, bestW)) << "step " << s.df;
        EXPECT_EQ(s.df, static_cast<int32_t>(dropped.size()) + 1);
        EXPECT_NEAR(s.increase, std::max(bestW - previous, 0.0), 1e-10);
        dropped.push_back(best);
        previous = bestW;
    }
}

TEST(StepwiseWald, StopsAtTheFirstSignificantIncreaseAndPrefersTheEarlierOfEqualStatistics) {
    // Diagonal V: W grows by x_j^2 / (kappa V_jj) per step: 1, 1, 16.
    const std::vector<double> v = {1.0, 0.0, 1.0, 0.0, 0.0, 1.0};
    const double x[3] = {0.4, 0.1, 0.1};
    int singular = 0;
    const std::vector<WaldStep> steps = stepwise_wald(v, x, 0.01, 0.05, 1e-12, &singular);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].parameter, 1);
    EXPECT_EQ(steps[1].parameter, 2);
    EXPECT_DOUBLE_EQ(steps[1].chisq, 2.0);
    EXPECT_DOUBLE_EQ(steps[0].prob, steps[0].increaseProb);  // the first step's increase is its W
    EXPECT_NEAR(steps[1].prob, zpgx2(2.0, 2), 1e-15);
    // Equal within rounding, the later a few units in the last place the
    // smaller: still the earlier; smaller by a millionth, the later.
    for (const auto& [x2, first] : {std::pair{0.1 * (1 - 8 * DBL_EPSILON), 1}, std::pair{0.1 * (1 - 1e-6), 2}}) {
        const double near[3] = {0.4, 0.1, x2};
        EXPECT_EQ(stepwise_wald(v, near, 0.01, 0.05, 1e-12, &singular).at(0).parameter, first) << x2;
    }
    // A first step below the level gives nothing.
    const double large[3] = {1.0, 1.0, 1.0};
    EXPECT_TRUE(stepwise_wald(v, large, 0.01, 0.05, 1e-12, &singular).empty());
}

}  // namespace
