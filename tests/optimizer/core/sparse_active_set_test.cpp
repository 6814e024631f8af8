// The sparse active-set form under random entries and removals, with the
// columns in memory and on a utility file: the columns stay orthonormal in
// the metric of the Hessian factor, the row factor reproduces the active
// rows, the Hessian factor stays that of the free Hessian, and the
// multipliers of a gradient in the span of the active constraints are the
// ones it was made from, as in the dense form.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "optimizer/core/factor_kinds.h"
#include "optimizer/core/multipliers.h"
#include "tests/optimizer/core/constraint_fixture.h"

namespace {

using namespace velix::test;
using velix::pk;

struct SparseForm : NlpStep {
    std::vector<double> work, gradBase, h, l;

    void set_up(ConstrainedProblem& c, std::mt19937& rng, bool onFile) {
        const int32_t n = c.n();
        random_rows_and_hessian(c, rng, 1, &h, &l);
        c.p.opt.conFactorForm = 2;
        work.assign(static_cast<size_t>(4 * n), 0.0);
        gradBase.assign(static_cast<size_t>(n), 0.0);
        c.p.active.sparseWork = work.data();
        c.p.work.gradBase = gradBase.data();
        c.hessian = h;
        c.p.hess.hessian = c.hessian.data();
        if (onFile) {
            ScratchFileRequest request;
            request.attributeWord = 0x82000008;
            ASSERT_EQ(xcopen(&c.p.opt.conFactorFile, &request), 0);
        }
        // The equality row is active from the start.
        c.active[0] = 0;
        c.p.active.nActiveLin = 1;
        ASSERT_EQ(znlpftr(&c.p, 0, 0, l.data()), 0);
    }

    std::vector<double> column(ConstrainedProblem& c, int32_t j) {
        std::vector<double> q(static_cast<size_t>(c.n()));
        if (c.p.opt.conFactorFile == nullptr) return std::vector<double>(c.nullBasis.begin() + j * c.n(), c.nullBasis.begin() + (j + 1) * c.n());
        EXPECT_EQ(xcpoint(c.p.opt.conFactorFile, static_cast<int64_t>(j) * c.n() * 8), 0);
        EXPECT_EQ(xcread(c.p.opt.conFactorFile, q.data(), static_cast<int64_t>(c.n()) * 8), 0);
        return q;
    }

    void expect_consistent(ConstrainedProblem& c) {
        const int32_t nf = c.nf(), nl = c.p.active.nActiveLin;
        // L L' is the free Hessian.
        for (int32_t a = 0; a < nf; ++a)
            for (int32_t b = 0; b <= a; ++b) {
                double s = 0.0;
                for (int32_t k = 0; k <= b; ++k) s += l[pk(a, k)] * l[pk(b, k)];
                ASSERT_NEAR(s, h[pk(c.freeList[a], c.freeList[b])], 1e-9 * (1 + std::fabs(s)));
            }
        std::vector<std::vector<double>> q;
        for (int32_t j = 0; j < nl; ++j) q.push_back(column(c, j));
        for (int32_t j = 0; j < nl; ++j) {
            for (int32_t k = 0; k <= j; ++k) {
                double s = 0.0;
                for (int32_t i = 0; i < nf; ++i) s += q[j][i] * q[k][i];
                ASSERT_NEAR(s, j == k ? 1.0 : 0.0, 1e-12);
            }
            // L (sum_k T_jk q_k) is the row over the free parameters.
            std::vector<double> v(static_cast<size_t>(nf), 0.0);
            for (int32_t k = 0; k <= j; ++k)
                for (int32_t i = 0; i < nf; ++i) v[i] += c.factor[pk(j, k)] * q[k][i];
            for (int32_t i = 0; i < nf; ++i) {
                double s = 0.0;
                for (int32_t k = 0; k <= i; ++k) s += l[pk(i, k)] * v[k];
                ASSERT_NEAR(s, c.a(c.active[j], c.freeList[i]), 1e-9);
            }
        }
    }
};

TEST_F(SparseForm, RandomChangesInMemoryAndOnFile) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int32_t> pick(0, 1 << 20);
    for (int32_t trial = 0; trial < 16; ++trial) {
        const int32_t n = 3 + trial % 6;
        ConstrainedProblem c(std::vector<double>(static_cast<size_t>(n), 0.0));
        ASSERT_NO_FATAL_FAILURE(set_up(c, rng, trial % 2 == 1));
        for (int32_t k = 0; k < 25; ++k) {
            const int32_t nf = c.nf(), held = c.p.active.nActiveBounds, nl = c.p.active.nActiveLin;
            const int32_t what = pick(rng) % 4;
            if (what == 0 && nf > nl) {
                znlpupr(&c.p, 0, 1, c.freeList[pick(rng) % nf], 0.0, l.data());
            } else if (what == 1 && nf > nl) {
                const int32_t row = 1 + pick(rng) % (n - 1);
                bool listed = false;
                for (int32_t j = 0; j < nl + c.p.active.nDepLin; ++j) listed = listed || c.active[j] == row;
                if (!listed) znlpupr(&c.p, 0, 0, row, 0.0, l.data());
            } else if (what == 2 && held > 0) {
                const int32_t q = c.freeList[nf + pick(rng) % held];
                ASSERT_EQ(znlpdor(&c.p, c.state[q], q, 0.0, l.data()), 0);
            } else if (what == 3 && nl > 1) {
                ASSERT_EQ(znlpdor(&c.p, 0, 1 + pick(rng) % (nl - 1), 0.0, l.data()), 0);
            }
            ASSERT_NO_FATAL_FAILURE(expect_consistent(c)) << "trial " << trial << " step " << k;
        }
        // A gradient made from known multipliers gives them back (after a
        // rebuild, which orders the held parameters by index).
        ASSERT_EQ(znlpftr(&c.p, 0, 0, l.data()), 0);
        const int32_t nf = c.nf(), nb = c.p.active.nActiveBounds, nl = c.p.active.nActiveLin;
        std::vector<double> lambda(static_cast<size_t>(nb + nl));
        for (int32_t j = 0; j < nb + nl; ++j) lambda[j] = 0.5 + j;
        std::fill(c.grad.begin(), c.grad.end(), 0.0);
        for (int32_t k = 0; k < nl; ++k)
            for (int32_t i = 0; i < n; ++i) c.grad[i] += lambda[nb + k] * c.a(c.active[k], i);
        for (int32_t j = 0; j < nb; ++j) {
            const int32_t q = c.freeList[nf + j];
            c.grad[q] += c.state[q] < 0 ? -lambda[j] : lambda[j];
        }
        ASSERT_EQ(znlpftr(&c.p, 0, 1, l.data()), 0);
        znlpglm(&c.p, 0, c.grad.data(), c.mult.data());
        for (int32_t j = 0; j < nb + nl; ++j) EXPECT_NEAR(c.mult[j], lambda[j], 1e-8) << "trial " << trial;
        if (c.p.opt.conFactorFile != nullptr) xcclose(c.p.opt.conFactorFile, 1);
    }
}

TEST_F(SparseForm, DroppingTheMostNegativeMultiplier) {
    // Bounds only: x1 and x2 held at their lower bounds, the gradient
    // pushing x2 inside; lagMultTol missing: theta = sqrt(n) 1e-8.
    ConstrainedProblem c({-1.0, -1.0});
    c.set_bounds({-1.0, -1.0}, {1.0, 1.0});
    c.p.opt.conFactorForm = 2;
    work.assign(8, 0.0);
    gradBase.assign(2, 0.0);
    c.p.active.sparseWork = work.data();
    c.p.work.gradBase = gradBase.data();
    c.p.opt.lagMultTol = host_missing_value();
    c.state = {1, 1};
    c.p.active.nActiveBounds = 2;
    c.freeList = {0, 1};
    c.grad = {1.0, -2.0};
    EXPECT_EQ(znlpdar(&c.p, 0.0, nullptr), 1);
    EXPECT_EQ(c.state, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(c.p.active.dropCode, 1);
    // A step fraction of 1 moves W into U before the change; the released
    // parameter brings its gradient component, and W is the new step.
    work[2 * 2] = 0.5;
    c.state[0] = 1;
    c.grad[0] = 3.0;
    EXPECT_EQ(znlpdor(&c.p, 1, 0, 1.0, nullptr), 0);
    EXPECT_EQ(work[0], -1.5);
    EXPECT_EQ(work[1], 3.0);
    EXPECT_EQ(work[2 * 2], 1.5);
    EXPECT_EQ(work[2 * 2 + 1], -3.0);
}

}  // namespace
