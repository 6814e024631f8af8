// The dual quadratic programming method: Nocedal and Wright's example 16.4
// (solution (1.4, 1.7), multiplier 0.8 of the first row), an empty feasible
// set, a repeated equality, and random strictly convex programs whose solutions must meet the
// KKT conditions (stationarity, feasibility, non-negative multipliers,
// complementarity) with dependent and repeated rows among them.
#include "optimizer/techniques/dual_qp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "velix/packed_index.h"

namespace {

using velix::pk;
using namespace velix::detail;

struct Program {
    int32_t n, m, meq;
    std::vector<double> g, c, a, b, d, lambda, work;
    std::vector<int32_t> active;
    Program(int32_t n_, int32_t m_, int32_t meq_)
        : n(n_), m(m_), meq(meq_), g(static_cast<size_t>(n_ * (n_ + 1) / 2)), c(n_), a(static_cast<size_t>(m_ * n_)),
          b(m_), d(n_), lambda(m_), work(static_cast<size_t>(DualQp::doubles(n_, m_))), active(m_) {}
    int32_t solve() {
        DualQp qp{n, m, meq, g.data(), c.data(), a.data(), b.data(), d.data(), lambda.data(), active.data()};
        return qp.solve(work.data());
    }
    double row_value(int32_t i) const {
        double s = b[i];
        for (int32_t j = 0; j < n; ++j) s += a[i * n + j] * d[j];
        return s;
    }
    // The largest violation of the KKT conditions.
    double kkt_error() const {
        double e = 0.0;
        for (int32_t j = 0; j < n; ++j) {
            double r = c[j];
            for (int32_t k = 0; k < n; ++k) r += g[pk(j, k)] * d[k];
            for (int32_t i = 0; i < m; ++i) r -= lambda[i] * a[i * n + j];
            e = std::fmax(e, std::fabs(r));
        }
        for (int32_t i = 0; i < m; ++i) {
            const double v = row_value(i);
            e = std::fmax(e, i < meq ? std::fabs(v) : std::fmax(0.0, -v));
            if (i >= meq) e = std::fmax(e, std::fmax(-lambda[i], std::fabs(lambda[i] * v)));
        }
        return e;
    }
};

TEST(DualQp, SolvesTheTextbookExample) {
    Program q(2, 5, 0);
    q.g = {2, 0, 2};
    q.c = {-2, -5};
    q.a = {1, -2, -1, -2, -1, 2, 1, 0, 0, 1};
    q.b = {2, 6, 2, 0, 0};
    ASSERT_EQ(q.solve(), kQpSolved);
    EXPECT_NEAR(q.d[0], 1.4, 1e-12);
    EXPECT_NEAR(q.d[1], 1.7, 1e-12);
    EXPECT_NEAR(q.lambda[0], 0.8, 1e-12);
    EXPECT_EQ(q.active, (std::vector<int32_t>{1, 0, 0, 0, 0}));
}

TEST(DualQp, FindsAnEmptyFeasibleSet) {
    Program q(2, 2, 0);
    q.g = {1, 0, 1};
    q.c = {0, 0};
    q.a = {1, 1, -1, -1};
    q.b = {-3, 1};  // x1 + x2 >= 3 and x1 + x2 <= 1
    EXPECT_EQ(q.solve(), kQpInfeasible);
}

// A repeated equality (the first row doubled) is held without a
// multiplier of its own: min |d|^2 / 2 with d1 + d2 = 1 gives (1/2, 1/2).
TEST(DualQp, ImpliedEqualityIsHeldWithoutMultiplier) {
    Program q(2, 2, 2);
    q.g = {1, 0, 1};
    q.c = {0, 0};
    q.a = {1, 1, 2, 2};
    q.b = {-1, -2};
    ASSERT_EQ(q.solve(), kQpSolved);
    EXPECT_NEAR(q.d[0], 0.5, 1e-14);
    EXPECT_NEAR(q.d[1], 0.5, 1e-14);
    EXPECT_EQ(q.active, (std::vector<int32_t>{1, 2}));
    EXPECT_NEAR(q.lambda[0], 0.5, 1e-14);
    EXPECT_EQ(q.lambda[1], 0.0);
}

TEST(DualQp, RandomProgramsMeetTheKktConditions) {
    std::mt19937 rng(7);
    std::normal_distribution<double> z;
    double worst = 0.0;
    for (int32_t trial = 0; trial < 40; ++trial) {
        const int32_t n = 2 + trial % 9, meq = trial % 3, m = meq + 3 + trial % 11;
        Program q(n, m, meq);
        std::vector<double> f(static_cast<size_t>(n * n)), x0(n);
        for (double& v : f) v = z(rng);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                double s = i == j ? 1.0 : 0.0;
                for (int32_t k = 0; k < n; ++k) s += f[i * n + k] * f[j * n + k];
                q.g[pk(i, j)] = s;
            }
        for (double& v : q.c) v = 3 * z(rng);
        for (double& v : x0) v = z(rng);
        // Rows through a point near x0, so the set is not empty; every
        // fourth row repeats the one before it (scaled).
        for (int32_t i = 0; i < m; ++i) {
            double s = 0.0;
            for (int32_t j = 0; j < n; ++j) {
                q.a[i * n + j] = i % 4 == 3 ? 2.0 * q.a[(i - 1) * n + j] : z(rng);
                s += q.a[i * n + j] * x0[j];
            }
            q.b[i] = i < meq || i % 4 == 3 ? -s : -s + std::fabs(z(rng));
        }
        ASSERT_EQ(q.solve(), kQpSolved) << trial;
        worst = std::fmax(worst, q.kkt_error());
    }
    EXPECT_LE(worst, 1e-8);
}

}  // namespace
