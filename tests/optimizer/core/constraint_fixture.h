// A test problem with bounds and dense linear rows: the active-set arrays
// the owner provides, the row callback over the rows, and checks of the
// active set's invariants (Q orthogonal, T reproducing the active rows).
#pragma once

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "optimizer/core/active_set.h"
#include "optimizer/core/factor_kinds.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "velix/packed_index.h"

namespace velix::test {

// The active-set arrays a problem's owner provides (sized for the rows
// the problem has), and the row slot over its dense rows and the
// nonlinear constraints' Jacobian.
struct ActiveSetArrays {
    std::vector<double> nullBasis, factor, mult, rowBuf, reduced, givens, sparse;
    std::vector<int32_t> state, freeList, active, work, pivots;

    // Rows past the linear ones are the nonlinear constraints' gradients.
    static int32_t dense_row(NlpProblem* p, int32_t k, double* out) {
        const double* r = k < p->shape.nLinCon ? p->con.linRows + static_cast<size_t>(k) * p->shape.nParams
                                         : p->con.conJacobian + static_cast<size_t>(k - p->shape.nLinCon) * p->shape.nParams;
        std::copy(r, r + p->shape.nParams, out);
        return 0;
    }
    explicit ActiveSetArrays(NlpProblem* p) {
        const size_t n = static_cast<size_t>(p->shape.nParams), m = static_cast<size_t>(p->shape.nLinCon);
        nullBasis.assign(n * n, 0.0);
        for (size_t i = 0; i < n; ++i) nullBasis[i * n + i] = 1.0;
        factor.assign(n * (n + 1) / 2 + 1, 0.0);
        for (auto* v : {&mult, &rowBuf, &reduced, &givens, &sparse}) v->assign(4 * n + 8, 0.0);
        state.assign(n, 0);
        freeList.assign(n, 0);
        for (size_t i = 0; i < n; ++i) freeList[i] = static_cast<int32_t>(i);
        pivots.assign(n + 1, 0);
        active.assign(m + n + 2, 0);
        work.assign(m + 2 * n + 2, 0);
        p->active.nullBasis = nullBasis.data();
        p->active.activeFactor = factor.data();
        p->active.multipliers = mult.data();
        p->active.rowBuffer = rowBuf.data();
        p->active.reducedGradient = reduced.data();
        p->active.givensWork = givens.data();
        p->active.sparseWork = sparse.data();
        p->active.boundState = state.data();
        p->active.freeList = freeList.data();
        p->active.pivotOrder = pivots.data();
        p->active.activeList = active.data();
        p->active.workList = work.data();
        p->cb.conRowFn = dense_row;
    }
};

struct ConstrainedProblem : TestProblem, ActiveSetArrays {
    std::vector<double> rows, rhs;

    static double zero(const double*) { return 0.0; }

    explicit ConstrainedProblem(const std::vector<double>& x0, Objective fn = zero, Gradient gr = {})
        : TestProblem(x0, std::move(fn), std::move(gr)), ActiveSetArrays(&p) {
        p.opt.derivLevel = 1;
        p.opt.conFactorForm = 1;
    }
    // Rows (nEq equalities first) with their right-hand sides.
    void set_rows(const std::vector<std::vector<double>>& a, const std::vector<double>& b, int32_t nEq) {
        const size_t n = x.size();
        rows.clear();
        for (const auto& r : a) rows.insert(rows.end(), r.begin(), r.begin() + static_cast<long>(n));
        rhs = b;
        active.assign(a.size() + n + 2, 0);
        work.assign(a.size() + 2 * n + 2, 0);
        p.active.activeList = active.data();
        p.active.workList = work.data();
        p.con.linRhs = rhs.data();
        p.con.linRows = rows.data();
        p.shape.nLinCon = static_cast<int32_t>(a.size());
        p.shape.nLinEq = nEq;
        p.shape.hasLinCon = a.empty() ? 0 : 1;
    }
    void set_bounds(const std::vector<double>& l, const std::vector<double>& u) {
        lower = l;
        upper = u;
        p.param.lower = lower.data();
        p.param.upper = upper.data();
        p.shape.hasBounds = 1;
    }
    int32_t n() const { return p.shape.nParams; }
    int32_t nf() const { return p.shape.nParams - p.active.nActiveBounds; }
    double q(int32_t i, int32_t k) const { return nullBasis[static_cast<size_t>(i) * n() + k]; }
    double a(int32_t k, int32_t i) const { return rows[static_cast<size_t>(k) * n() + i]; }
    // Bounds and rows met within tol.
    bool feasible(double tol) const {
        for (int32_t i = 0; i < n(); ++i) {
            if (p.shape.hasBounds && (x[i] < lower[i] - tol * (1 + std::fabs(lower[i])) ||
                                x[i] > upper[i] + tol * (1 + std::fabs(upper[i]))))
                return false;
        }
        for (int32_t k = 0; k < p.shape.nLinCon; ++k) {
            double r = -rhs[k];
            for (int32_t i = 0; i < n(); ++i) r += a(k, i) * x[i];
            const double s = tol * (1 + std::fabs(rhs[k]));
            if (k < p.shape.nLinEq ? std::fabs(r) > s : r < -s) return false;
        }
        return true;
    }
};

// Random rows (n x n) and bounds -1 .. 1 with nEq equalities; a random
// positive definite H = B'B + I (packed) with its Cholesky factor in l.
inline void random_rows_and_hessian(ConstrainedProblem& c, std::mt19937& rng, int32_t nEq, std::vector<double>* h,
                                    std::vector<double>* l) {
    const int32_t n = c.n();
    std::normal_distribution<double> z;
    std::vector<std::vector<double>> a(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n)));
    for (auto& row : a)
        for (double& v : row) v = z(rng);
    c.set_rows(a, std::vector<double>(static_cast<size_t>(n), 0.0), nEq);
    c.set_bounds(std::vector<double>(static_cast<size_t>(n), -1.0), std::vector<double>(static_cast<size_t>(n), 1.0));
    std::vector<double> b(static_cast<size_t>(n) * n);
    for (double& v : b) v = z(rng);
    h->assign(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double s = i == j ? 1.0 : 0.0;
            for (int32_t k = 0; k < n; ++k) s += b[k * n + i] * b[k * n + j];
            (*h)[velix::pk(i, j)] = s;
        }
    l->assign(h->size() + 1, 0.0);
    double logdet = 0.0;
    EXPECT_EQ(lltdec(n, 1e-12, &logdet, h->data(), l->data()), 0);
    for (int32_t i = 0; i < n; ++i) c.grad[i] = z(rng);
}

// Q orthogonal over the free block; every active row's free part in Q
// coordinates is zero left of its pivot column and equals its T segment.
inline void expect_factor_consistent(const ConstrainedProblem& c, double tol) {
    const int32_t nf = c.nf(), nl = c.p.active.nActiveLin;
    for (int32_t a = 0; a < nf; ++a)
        for (int32_t b = 0; b < nf; ++b) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += c.q(i, a) * c.q(i, b);
            ASSERT_NEAR(s, a == b ? 1.0 : 0.0, tol) << "Q'Q at " << a << "," << b;
        }
    for (int32_t j = 0; j < nl; ++j) {
        const int32_t row = c.p.active.activeList[j];
        for (int32_t k = 0; k < nf; ++k) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += c.q(i, k) * c.a(row, c.freeList[i]);
            const int32_t first = nf - 1 - j;
            const double want = k < first ? 0.0 : c.factor[velix::pk(j, k - first)];
            ASSERT_NEAR(s, want, tol) << "active row " << j << " column " << k;
        }
    }
}

}  // namespace velix::test
