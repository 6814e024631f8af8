// The sparse active-set form under random entries and removals, with the
// columns in memory and on a utility file: the columns stay orthonormal in
// the metric of the Hessian factor, the row factor reproduces the active
// rows, the Hessian factor stays that of the free Hessian, and the
// multipliers of a gradient in the span of the active constraints are the
// ones it was made from, as in the dense form.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "optimizer/core/factor_kinds.h"
#include "optimizer/core/multipliers.h"
#include "tests/optimizer/core/constraint_fixture.h"
#include "tests/optimizer/core/sparse_system.h"

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

// The same changes of the active set with a sparse Hessian factor
// (SparseLLt over the free parameters) and with the dense one: the same
// active set and multipliers, and the same step L^-T W in the parameters'
// space, which does not depend on the factor's row order (a wrong sparse
// factor would change it); G is the held parameters' share of the gradient.
double sym(const std::vector<double>& h, int32_t i, int32_t j) { return h[pk(std::max(i, j), std::min(i, j))]; }

struct FactorRun {
    ConstrainedProblem c;
    std::vector<double> work, gradBase, h, l, linear;
    SparseSystem s;
    bool sparse;

    static FactorRun* of(NlpProblem* p) { return static_cast<FactorRun*>(TestProblem::of(p)->hooks.settings.record); }
    // The technique's restart: the factor of the free Hessian.
    static int32_t refactor(NlpProblem* p) {
        FactorRun* r = of(p);
        const int32_t nf = r->c.nf();
        double logdet = 0.0;
        if (r->sparse) return znlpcde(p, 7, r->c.n(), 1e-12, &logdet, r->s.saA.data(), r->s.saL.data());
        std::vector<double> a(static_cast<size_t>(nf) * (nf + 1) / 2);
        for (int32_t i = 0; i < nf; ++i)
            for (int32_t j = 0; j <= i; ++j) a[pk(i, j)] = sym(r->h, r->c.freeList[i], r->c.freeList[j]);
        return lltdec(nf, 1e-12, &logdet, a.data(), r->l.data());
    }
    double* factor() { return sparse ? s.saL.data() : l.data(); }

    FactorRun(const std::vector<double>& hessian, bool useSparse)
        : c(std::vector<double>{0.3, -0.2, 0.5, 0.1, -0.4, 0.7}), h(hessian), s(6, hessian, {0, 1, 2, 3, 4, 5}),
          sparse(useSparse) {
        const int32_t n = 6;
        c.set_rows({{1, 1, 1, 1, 1, 1}, {1, -1, 0, 2, 0, 1}, {0, 1, 3, 0, -1, 0}, {2, 0, 0, 1, 1, 0}}, {0, 0, 0, 0}, 1);
        c.set_bounds(std::vector<double>(n, -1.0), std::vector<double>(n, 1.0));
        c.p.opt.conFactorForm = 2;
        work.assign(4 * n, 0.0);
        gradBase.assign(n, 0.0);
        linear = {0.5, -1.0, 0.25, 2.0, -0.75, 1.5};
        c.p.active.sparseWork = work.data();
        c.p.work.gradBase = gradBase.data();
        c.p.work.linearTerm = linear.data();
        c.grad = {1.0, -2.0, 0.5, 3.0, -1.5, 0.25};
        l.assign(h.size() + 1, 0.0);
        if (sparse) s.install(&c.p);
        c.p.hess.hessian = sparse ? s.saA.data() : h.data();
        c.hooks.settings.record = this;
        c.p.cb.resetFn = refactor;
        c.active[0] = 0;
        c.p.active.nActiveLin = 1;
    }

    // The step in the parameters' space, zero at the held ones.
    std::vector<double> step() {
        const int32_t n = c.n(), nf = c.nf();
        std::vector<double> w(work.begin() + 2 * n, work.begin() + 3 * n), d(static_cast<size_t>(n), 0.0);
        if (sparse)
            zslltui(1, n, s.perm.data(), s.ijaL.data(), s.saL.data(), w.data());
        else
            for (int32_t i = nf - 1; i >= 0; --i) {
                for (int32_t k = i + 1; k < nf; ++k) w[i] -= l[pk(k, i)] * w[k];
                w[i] /= l[pk(i, i)];
            }
        for (int32_t i = 0; i < nf; ++i) d[c.freeList[i]] = w[i];
        return d;
    }
};

TEST(SparseFormFactors, ASparseHessianFactorTakesTheDenseFormsSteps) {
    std::vector<double> h(21, 0.0);
    for (int32_t i = 0; i < 6; ++i) h[pk(i, i)] = 4.0 + i;
    for (int32_t i = 1; i < 6; ++i) h[pk(i, i - 1)] = -1.0;
    h[pk(5, 1)] = 0.5;
    h[pk(4, 0)] = 0.75;
    FactorRun dense(h, false), sparse(h, true);
    // (bound status or 0 for a row, index) and whether it enters (1) or leaves (0).
    const std::vector<std::array<int32_t, 3>> changes{
        {1, 1, 2}, {1, 0, 1}, {1, -1, 4}, {1, 1, 5}, {0, 1, 2}, {0, 0, 1}, {0, 1, 5},
        {1, 1, 0}, {0, -1, 4}, {1, 0, 3}, {0, 1, 0}, {1, -1, 1}};
    for (FactorRun* r : {&dense, &sparse}) ASSERT_EQ(znlpftr(&r->c.p, 0, 0, r->factor()), 0);
    for (size_t k = 0; k <= changes.size(); ++k) {
        for (FactorRun* r : {&dense, &sparse}) {
            if (k == changes.size()) {
                ASSERT_EQ(znlpftr(&r->c.p, 0, 1, r->factor()), 0);  // the rebuild restores the bounds
                continue;
            }
            const auto [enter, status, index] = changes[k];
            if (enter)
                znlpupr(&r->c.p, 0, status, index, 0.0, r->factor());
            else
                ASSERT_EQ(znlpdor(&r->c.p, status, index, 0.0, r->factor()), 0);
        }
        SCOPED_TRACE("after change " + std::to_string(k));
        ASSERT_EQ(dense.c.state, sparse.c.state);
        ASSERT_EQ(dense.c.freeList, sparse.c.freeList);
        ASSERT_EQ(dense.c.active, sparse.c.active);
        ASSERT_EQ(dense.c.p.active.nActiveLin, sparse.c.p.active.nActiveLin);
        ASSERT_EQ(dense.c.p.active.nDepLin, sparse.c.p.active.nDepLin);
        const std::vector<double> dd = dense.step(), ds = sparse.step();
        for (int32_t i = 0; i < 6; ++i) EXPECT_NEAR(dd[i], ds[i], 1e-10) << "step " << i;
        const int32_t m = dense.c.p.active.nActiveBounds + dense.c.p.active.nActiveLin;
        znlpglm(&dense.c.p, 0, dense.c.grad.data(), dense.c.mult.data());
        znlpglm(&sparse.c.p, 0, sparse.c.grad.data(), sparse.c.mult.data());
        for (int32_t j = 0; j < m; ++j) EXPECT_NEAR(dense.c.mult[j], sparse.c.mult[j], 1e-10) << "multiplier " << j;
        const int32_t nf = sparse.c.nf();
        for (int32_t a = nf; a < 6; ++a) {
            const int32_t q = sparse.c.freeList[a];
            double g = sparse.linear[q];
            for (int32_t b = nf; b < 6; ++b) g += sym(h, q, sparse.c.freeList[b]) * sparse.c.x[sparse.c.freeList[b]];
            EXPECT_NEAR(sparse.work[18 + q], g, 1e-12) << "G of held parameter " << q;
        }
    }
}

}  // namespace
