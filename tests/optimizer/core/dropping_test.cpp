// Dropping by multiplier sign: which bound goes with bounds alone, a
// candidate whose release is blocked at once goes back and the next is
// tried, equalities and fixed parameters are never candidates, and the
// automatic threshold.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "tests/optimizer/core/constraint_fixture.h"

namespace {

using namespace velix::test;

// Every parameter held at its lower bound 0 (freeList all tail).
void hold_all(ConstrainedProblem& c) {
    const int32_t n = c.n();
    c.set_bounds(std::vector<double>(static_cast<size_t>(n), 0.0), std::vector<double>(static_cast<size_t>(n), 5.0));
    for (int32_t i = 0; i < n; ++i) {
        c.state[i] = 1;
        c.freeList[i] = i;
    }
    c.p.active.nActiveBounds = n;
    c.p.opt.lagMultTol = 1e-6;
}

TEST(Dropping, BoundsOnlyReleasesTheLargestWrongSignedComponent) {
    ConstrainedProblem c({0.0, 0.0, 0.0, 0.0});
    hold_all(c);
    c.grad = {-1.0, -3.0, -3.0, 2.0};
    EXPECT_EQ(znlpdac(&c.p, 0, 0, nullptr, nullptr, nullptr), 2);
    EXPECT_EQ(c.p.active.dropCode, 2);
    EXPECT_EQ(c.state, (std::vector<int32_t>{1, 0, 1, 1}));
    EXPECT_EQ(c.freeList[0], 1);
    EXPECT_EQ(c.p.active.nActiveBounds, 3);
    // Without derivatives nothing is dropped.
    c.p.opt.derivLevel = 0;
    EXPECT_EQ(znlpdac(&c.p, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(c.p.active.nActiveBounds, 3);
}

TEST(Dropping, BlockedCandidateIsPutBackAndTheNextTried) {
    // At the origin with both lower bounds held and the row x2 - x1 >= 0
    // on its boundary: releasing x1 (multiplier -2) would leave the row at
    // once, releasing x2 (multiplier -1) is free.
    ConstrainedProblem c({0.0, 0.0});
    hold_all(c);
    c.set_rows({{-1.0, 1.0}}, {0.0}, 0);
    c.grad = {-2.0, -1.0};
    EXPECT_EQ(znlpdac(&c.p, 0, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(c.p.active.dropCode, 2);
    EXPECT_EQ(c.state, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(c.p.active.nActiveBounds, 1);
    EXPECT_LT(c.p.active.activeChange, 0);
    expect_factor_consistent(c, 1e-14);
}

// Both held bounds leave in one sweep; the direction is then blocked by the
// row, which enters, and the direction along it, (1, 1), comes free.  The
// code of a bound that is not held is passed over.
TEST(Dropping, OneSweepDropsTheListedCodesAndEntersTheBlocker) {
    ConstrainedProblem c({0.0, 0.0});
    hold_all(c);
    c.set_rows({{-1.0, 1.0}}, {0.0}, 0);
    c.grad = {-2.0, -1.0};
    c.work[0] = 0;      // lower bound of x1
    c.work[1] = 2 + 1;  // upper bound of x2: not held
    c.work[2] = 1;      // lower bound of x2
    std::vector<double> r(2, 0.0);
    EXPECT_EQ(znlpcsr(&c.p, 0, 3, nullptr, r.data(), nullptr, nullptr), 0);
    EXPECT_EQ(c.p.active.dropCode, INT32_MAX);
    EXPECT_EQ(c.state, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(c.p.active.nActiveLin, 1);
    EXPECT_LT(c.p.active.activeChange, 0);
    EXPECT_NEAR(std::fabs(r[0]), 3.0 / std::sqrt(2.0), 1e-14);  // g along (1, 1) / sqrt 2
    expect_factor_consistent(c, 1e-14);
}

// Shell's sort: ascending keys, each index still beside its own key.
TEST(Dropping, IndexSortByKey) {
    std::vector<int32_t> idx{0, 1, 2, 3, 4, 5, 6};
    std::vector<double> key{3.0, -1.0, 3.0, -5.0, 0.0, 2.5, -1.0};
    const std::vector<double> original = key;
    isort2(7, idx.data(), key.data());
    EXPECT_TRUE(std::is_sorted(key.begin(), key.end()));
    for (size_t k = 0; k < idx.size(); ++k) EXPECT_EQ(key[k], original[idx[k]]) << k;
}

TEST(Dropping, EqualitiesAndFixedParametersAreNeverCandidates) {
    ConstrainedProblem c({0.0, 0.0, 0.0});
    c.set_rows({{1, 0, 0}, {0, 1, 0}}, {0, 0}, 1);
    c.state = {2, -1, 0};
    c.freeList = {2, 0, 1};
    c.p.active.nActiveBounds = 2;
    c.p.active.nActiveLin = 2;
    c.active = {0, 1, 0, 0, 0};
    c.p.active.activeList = c.active.data();
    c.mult = {-5.0, -1.0, -7.0, -3.0};
    c.p.active.multipliers = c.mult.data();
    ASSERT_EQ(sortlm(&c.p, 0, 1e-6), 2);
    EXPECT_EQ(c.work[0], 3 + 1);  // n + row 1
    EXPECT_EQ(c.work[1], 1);
    EXPECT_EQ(c.mult[0], -3.0);
    EXPECT_EQ(c.mult[1], -1.0);
}

TEST(Dropping, AutomaticThreshold) {
    ConstrainedProblem c({0.0, 0.0});
    c.p.opt.lagMultTol = host_missing_value();
    c.p.iter.maxProjGrad = 0.5;
    EXPECT_DOUBLE_EQ(gtres(&c.p), 0.0005);  // 0.001 * maxProjGrad
    c.p.active.nActiveBounds = 2;                  // empty null space
    EXPECT_DOUBLE_EQ(gtres(&c.p), 1e-6);    // 0.1 * ABSGCONV
    c.p.opt.lagMultTol = 0.5;
    EXPECT_DOUBLE_EQ(gtres(&c.p), 0.001);   // capped
}

}  // namespace
