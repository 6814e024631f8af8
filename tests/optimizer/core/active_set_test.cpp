// The dense active set under random entries and removals: Q stays
// orthogonal, T reproduces the active rows, the carried reduced gradient
// stays Z'g and the carried factor R'R = Z'HZ; dependent rows and bounds
// are held apart; the feasibility check marks what is active.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "optimizer/core/factor_kinds.h"
#include "tests/optimizer/core/constraint_fixture.h"

namespace {

using namespace velix::test;
using velix::pk;

struct RandomActiveSet {
    ConstrainedProblem c;
    std::vector<double> h, r, vec;
    int32_t order;
    std::mt19937 rng;

    RandomActiveSet(int32_t n, int32_t technique, uint32_t seed)
        : c(std::vector<double>(static_cast<size_t>(n), 0.0)), order(n), rng(seed) {
        random_rows_and_hessian(c, rng, 0, &h, &r);
        c.p.opt.technique = technique;
        vec.assign(c.grad.begin(), c.grad.end());
        vec.resize(static_cast<size_t>(n) + 1);
    }

    int32_t nz() const { return c.nf() - c.p.active.nActiveLin; }
    double zcol(int32_t k, int32_t param) const {
        for (int32_t i = 0; i < c.nf(); ++i)
            if (c.freeList[i] == param) return c.q(i, k);
        return 0.0;
    }
    double zhz(int32_t a, int32_t b) const {
        double s = 0.0;
        for (int32_t i = 0; i < c.n(); ++i)
            for (int32_t j = 0; j < c.n(); ++j) s += zcol(a, i) * h[pk(i, j)] * zcol(b, j);
        return s;
    }
    void expect_carried(bool factor) {
        ASSERT_EQ(order, nz());
        for (int32_t k = 0; k < nz(); ++k) {
            double s = 0.0;
            for (int32_t i = 0; i < c.n(); ++i) s += zcol(k, i) * c.grad[i];
            ASSERT_NEAR(vec[k], s, 1e-10) << "Z'g at " << k;
        }
        for (int32_t a = 0; a < nz(); ++a)
            for (int32_t b = 0; b <= a; ++b) {
                double m = r[pk(a, b)];
                if (factor) {
                    m = 0.0;
                    for (int32_t k = 0; k <= b; ++k) m += r[pk(k, a)] * r[pk(k, b)];
                }
                ASSERT_NEAR(m, zhz(a, b), 1e-10 * (1.0 + std::fabs(m))) << a << "," << b;
            }
    }

    // One random entry (bound or row) or, when drops are allowed, removal.
    void step(int32_t mode, bool drops) {
        std::uniform_int_distribution<int32_t> pick(0, 1 << 20);
        const int32_t n = c.n();
        if (drops && (nz() == 0 || pick(rng) % 2 == 0) && c.p.active.nActiveBounds + c.p.active.nActiveLin > 0) {
            const int32_t k = pick(rng) % (c.p.active.nActiveBounds + c.p.active.nActiveLin);
            const int32_t nf = c.nf();
            if (k < c.p.active.nActiveBounds) {
                const int32_t q = c.freeList[nf + k];
                ASSERT_LE(znlpdod(&c.p, mode, c.state[q], q, &order, vec.data(), r.data(), h.data()), 1);
            } else {
                ASSERT_EQ(znlpdod(&c.p, mode, 0, c.active[k - c.p.active.nActiveBounds], &order, vec.data(), r.data(),
                                  h.data()),
                          0);
            }
            return;
        }
        if (nz() == 0) return;
        if (pick(rng) % 2 == 0) {
            const int32_t q = c.freeList[pick(rng) % c.nf()];
            znlpupd(&c.p, 0, mode, 0, pick(rng) % 2 ? 1 : -1, q, &order, vec.data(), r.data());
        } else {
            const int32_t row = pick(rng) % n;
            for (int32_t j = 0; j < c.p.active.nActiveLin + c.p.active.nDepLin; ++j)
                if (c.active[j] == row) return;
            znlpupd(&c.p, 0, mode, 0, 0, row, &order, vec.data(), r.data());
        }
    }
};

TEST(ActiveSet, RandomAddsAndDropsKeepTheFactorsConsistent) {
    // Factor mode 1 with and without the identity shortcut (NRRIDG keeps
    // no basis, QUANEW does): 1000 random changes in all.
    int32_t changes = 0;
    for (uint32_t seed = 1; changes < 1000; ++seed) {
        const int32_t n = 3 + static_cast<int32_t>(seed % 10);
        RandomActiveSet s(n, seed % 2 ? kTechNrridg : kTechQuanew, seed);
        for (int32_t k = 0; k < 40; ++k, ++changes) {
            s.step(1, true);
            SCOPED_TRACE(testing::Message() << "step " << k << " nb " << s.c.p.active.nActiveBounds << " nl " << s.c.p.active.nActiveLin);
            ASSERT_NO_FATAL_FAILURE(expect_factor_consistent(s.c, 1e-12)) << "seed " << seed;
            ASSERT_NO_FATAL_FAILURE(s.expect_carried(true)) << "seed " << seed;
        }
    }
}

TEST(ActiveSet, CarriedReducedHessianFollowsEntries) {
    // Factor mode 0 carries Z'HZ itself; entries only shrink the space.
    for (uint32_t seed = 1; seed < 30; ++seed) {
        RandomActiveSet s(4 + static_cast<int32_t>(seed % 8), seed % 2 ? kTechNrridg : kTechQuanew, seed);
        s.r = s.h;
        while (s.nz() > 0) {
            s.step(0, false);
            ASSERT_NO_FATAL_FAILURE(expect_factor_consistent(s.c, 1e-12));
            ASSERT_NO_FATAL_FAILURE(s.expect_carried(false)) << "seed " << seed;
        }
    }
}

TEST(ActiveSet, MultipleOfAnActiveRowJoinsTheDependentTail) {
    ConstrainedProblem c({0.0, 0.0, 0.0});
    c.set_rows({{1, 2, 3}, {-2, -4, -6}, {0, 1, 0}}, {0, 0, 0}, 0);
    c.p.opt.technique = kTechQuanew;
    ASSERT_EQ(znlpupd(&c.p, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(znlpupd(&c.p, 1, 0, 0, 0, 1, nullptr, nullptr, nullptr), 1);  // test only: nothing held
    EXPECT_EQ(c.p.active.nDepLin, 0);
    EXPECT_EQ(znlpupd(&c.p, 0, 0, 0, 0, 1, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(c.p.active.nActiveLin, 1);
    EXPECT_EQ(c.p.active.nDepLin, 1);
    ASSERT_EQ(znlpupd(&c.p, 0, 0, 0, 0, 2, nullptr, nullptr, nullptr), 0);
    // The independent row enters ahead of the dependent tail.
    EXPECT_EQ((std::vector<int32_t>{c.active[0], c.active[1], c.active[2]}), (std::vector<int32_t>{0, 2, 1}));
    expect_factor_consistent(c, 1e-12);
    // With no freedom left every bound is dependent.
    c.set_bounds({-1, -1, -1}, {1, 1, 1});
    c.active = {0, 2, 1, 0, 0, 0};
    c.p.active.activeList = c.active.data();
    ASSERT_EQ(znlpupd(&c.p, 0, 0, 0, 1, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(znlpupd(&c.p, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(c.p.active.nDepBounds, 1);
}

TEST(ActiveSet, FeasibilityCheckMarksTheActiveSet) {
    // x1 fixed by coinciding bounds, x2 within tolerance of both bounds
    // (held at its upper one), x3 violating its lower bound; the equality
    // row active, the inequality active at its boundary.
    ConstrainedProblem c({0.5, 0.75e-8, -2.0});
    c.set_bounds({0.5, 0.0, -1.0}, {0.5 + 1e-10, 1.5e-8, 3.0});
    c.set_rows({{1, 1, 0}, {0, 0, 1}}, {0.5, -2.0}, 1);
    EXPECT_EQ(znlpfch(&c.p, 1, 0, 0), -1);
    EXPECT_EQ(c.state, (std::vector<int32_t>{2, -1, 1}));
    EXPECT_EQ(c.p.active.nActiveBounds, 3);
    EXPECT_EQ(c.p.active.nActiveLin, 2);
    EXPECT_DOUBLE_EQ(c.p.iter.maxConViolation, 1.0);
    // A fixed parameter at 0 is met within the tolerance, not exactly.
    c.set_bounds({0.0, 0.0, -3.0}, {0.0, 1.5e-8, 3.0});
    c.x = {1e-9, 1e-9, -2.0};
    c.p.param.x = c.x.data();
    c.rhs = {1e-9 + 1e-9, -2.0};
    EXPECT_EQ(znlpfch(&c.p, 1, 0, 0), 0);
}

}  // namespace

namespace {

TEST(ActiveSet, PivotOrderedFactorFollowsBoundChanges) {
    // Bounds alone with factor mode 2: row r of R belongs to free position
    // pivotOrder[r]; R'R stays the free Hessian in that order.
    for (uint32_t seed = 1; seed < 20; ++seed) {
        const int32_t n = 4 + static_cast<int32_t>(seed % 5);
        RandomActiveSet s(n, kTechNrridg, seed);
        s.c.p.shape.hasLinCon = 0;
        std::vector<int32_t> perm(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) perm[i] = i;
        std::shuffle(perm.begin(), perm.end(), s.rng);
        std::vector<double> hp(s.h.size());
        for (int32_t a = 0; a < n; ++a)
            for (int32_t b = 0; b <= a; ++b) hp[pk(a, b)] = s.h[pk(perm[a], perm[b])];
        double logdet = 0.0;
        ASSERT_EQ(lltdec(n, 1e-12, &logdet, hp.data(), s.r.data()), 0);
        for (int32_t i = 0; i < n; ++i) s.c.pivots[i] = perm[i];
        std::uniform_int_distribution<int32_t> pick(0, 1 << 20);
        for (int32_t k = 0; k < 30; ++k) {
            const int32_t nf = s.c.nf();
            if (nf > 0 && (s.c.p.active.nActiveBounds == 0 || pick(s.rng) % 2)) {
                znlpupd(&s.c.p, 0, 2, 0, 1, s.c.freeList[pick(s.rng) % nf], &s.order, nullptr, s.r.data());
            } else if (s.c.p.active.nActiveBounds > 0) {
                const int32_t q = s.c.freeList[nf + pick(s.rng) % s.c.p.active.nActiveBounds];
                znlpdod(&s.c.p, 2, 1, q, &s.order, nullptr, s.r.data(), s.h.data());
            }
            ASSERT_EQ(s.order, s.c.nf());
            for (int32_t a = 0; a < s.order; ++a)
                for (int32_t b = 0; b <= a; ++b) {
                    double m = 0.0;
                    for (int32_t t = 0; t <= b; ++t) m += s.r[pk(t, a)] * s.r[pk(t, b)];
                    const int32_t pa = s.c.freeList[s.c.pivots[a]], pb = s.c.freeList[s.c.pivots[b]];
                    ASSERT_NEAR(m, s.h[pk(pa, pb)], 1e-10 * (1.0 + std::fabs(m))) << "seed " << seed << " step " << k;
                }
        }
    }
}

}  // namespace
