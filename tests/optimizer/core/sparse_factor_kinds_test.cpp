// The sparse factor kinds against the dense LL' kind on random sparse
// positive definite matrices under a random permutation (solves, products,
// triangular solves, inverse and log-determinant agree), the free-parameter
// kind with parameters held at a bound, and Newton's method with the sparse
// factor on the extended Rosenbrock function.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "numerics/sparse_llt.h"
#include "optimizer/core/factor_kinds.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "tests/optimizer/core/sparse_system.h"
#include "velix/packed_index.h"

namespace {

using Vec = std::vector<double>;
using Ints = std::vector<int32_t>;
using velix::pk;
using velix::test::SparseSystem;

// Diagonally dominant with about a quarter of the off-diagonal entries.
// Under a random permutation unless `identity`.
SparseSystem random_system(std::mt19937* rng, int32_t n, bool identity = false) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Vec a(static_cast<size_t>(n) * (n + 1) / 2, 0.0), rows(n, 1.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < i; ++j)
            if (u(*rng) > 0.5) {
                a[pk(i, j)] = u(*rng);
                rows[i] += std::fabs(a[pk(i, j)]);
                rows[j] += std::fabs(a[pk(i, j)]);
            }
    for (int32_t i = 0; i < n; ++i) a[pk(i, i)] = rows[i] + u(*rng) + 1.0;
    Ints perm(n);
    std::iota(perm.begin(), perm.end(), 0);
    if (!identity) std::shuffle(perm.begin(), perm.end(), *rng);
    return SparseSystem(n, a, perm);
}

void expect_near(const Vec& a, const Vec& b, double tol, const char* what) {
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], tol) << what << " " << i;
}

TEST(SparseFactorKinds, AgreeWithTheDenseKindOnRandomMatrices) {
    std::mt19937 rng(20261207);
    constexpr int32_t n = 14;
    velix::test::TestProblem t(Vec(n, 0.0), [](const double*) { return 0.0; });
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int rep = 0; rep < 5; ++rep) {
        SparseSystem s = random_system(&rng, n);
        s.install(&t.p);
        Vec dense = s.dense, l(dense.size());
        double ldSparse = 0.0, ldDense = 0.0;
        ASSERT_EQ(znlpcde(&t.p, 6, n, 1e-12, &ldSparse, s.saA.data(), s.saL.data()), 0);
        ASSERT_EQ(znlpcde(&t.p, 2, n, 1e-12, &ldDense, dense.data(), l.data()), 0);
        EXPECT_NEAR(ldSparse, ldDense, 1e-10);
        Vec b(n);
        for (double& v : b) v = u(rng);
        // Solve and product.
        Vec xs = b, xd = b, as = b;
        ASSERT_EQ(znlpcso(&t.p, 6, n, s.saL.data(), xs.data()), 0);
        ASSERT_EQ(znlpcso(&t.p, 2, n, l.data(), xd.data()), 0);
        expect_near(xs, xd, 1e-10, "solve");
        znlpmmu(&t.p, 6, n, s.saL.data(), as.data());
        expect_near(as, s.times(b), 1e-10, "product");
        // The triangular parts: |L^-1 b|^2 = b' A^-1 b for any factor, and
        // each solve undoes its product.
        Vec lb = b, ub = b, ml = b;
        ASSERT_EQ(znlpilm(&t.p, 6, n, s.saL.data(), lb.data()), 0);
        double q = 0.0, qd = 0.0;
        for (int32_t i = 0; i < n; ++i) q += lb[i] * lb[i], qd += b[i] * xd[i];
        EXPECT_NEAR(q, qd, 1e-10);
        znlpumu(&t.p, 6, n, s.saL.data(), ub.data());
        ASSERT_EQ(znlpium(&t.p, 6, n, s.saL.data(), ub.data()), 0);
        expect_near(ub, b, 1e-10, "L' then L'^-1");
        znlplmu(&t.p, 6, n, s.saL.data(), ml.data());
        ASSERT_EQ(znlpilm(&t.p, 6, n, s.saL.data(), ml.data()), 0);
        expect_near(ml, b, 1e-10, "L then L^-1");
        // Inverse: columns of the sparse solves against the dense inverse.
        Vec inv = s.dense;
        ASSERT_EQ(znlpcin(&t.p, 2, n, 0.0, inv.data(), inv.data()), 0);
        for (int32_t j = 0; j < n; ++j) {
            Vec e(n, 0.0);
            e[j] = 1.0;
            ASSERT_EQ(znlpcso(&t.p, 6, n, s.saL.data(), e.data()), 0);
            for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(e[i], inv[pk(std::max(i, j), std::min(i, j))], 1e-10);
        }
        // The sparse product of the Hessian storage.
        Vec y(n);
        znlpmul(&t.p, 1, n, nullptr, s.saA.data(), b.data(), y.data());
        expect_near(y, s.times(b), 1e-12, "znlpmul");
        // Over an index list: the listed rows and columns of the dense matrix.
        const Ints idx{5, 0, 11, 3};
        Vec xl(idx.size()), ys(idx.size());
        for (double& v : xl) v = u(rng);
        znlpmul(&t.p, 1, 4, idx.data(), s.saA.data(), xl.data(), ys.data());
        for (size_t i = 0; i < idx.size(); ++i) {
            double want = 0.0;
            for (size_t j = 0; j < idx.size(); ++j)
                want += s.dense[pk(std::max(idx[i], idx[j]), std::min(idx[i], idx[j]))] * xl[j];
            EXPECT_NEAR(ys[i], want, 1e-12) << "znlpmul over a list, row " << i;
        }
    }
}

// Parameters held at a bound leave the kind 7 factor; solves over the free
// list match the dense factor of the free submatrix.
TEST(SparseFactorKinds, FreeParameterKindMatchesTheDenseFreeSubmatrix) {
    std::mt19937 rng(7);
    constexpr int32_t n = 10;
    velix::test::TestProblem t(Vec(n, 0.0), [](const double*) { return 0.0; });
    Ints state(n, 0), freeList(n);
    SparseSystem s = random_system(&rng, n, true);  // kind 7 keeps the parameters' order
    s.install(&t.p);
    for (int32_t held : {1, 4, 8}) state[held] = 1;
    t.p.shape.hasBounds = 1;
    t.p.active.boundState = state.data();
    t.p.active.freeList = freeList.data();
    t.p.active.nActiveBounds = 3;
    znlphpr(&t.p, 1, 1, 1, nullptr, s.saA.data(), nullptr);
    EXPECT_EQ(s.perm, (Ints{0, -8, 1, 2, -9, 3, 4, 5, -10, 6}));
    const int32_t nf = n - 3;
    Vec sub(static_cast<size_t>(nf) * (nf + 1) / 2), l(sub.size());
    for (int32_t i = 0; i < nf; ++i)
        for (int32_t j = 0; j <= i; ++j) sub[pk(i, j)] = s.dense[pk(freeList[i], freeList[j])];
    double ldSparse = 0.0, ldDense = 0.0;
    ASSERT_EQ(znlpcde(&t.p, 7, n, 1e-12, &ldSparse, s.saA.data(), s.saL.data()), 0);
    ASSERT_EQ(lltdec(nf, 1e-12, &ldDense, sub.data(), l.data()), 0);
    EXPECT_NEAR(ldSparse, ldDense, 1e-10);
    Vec b(n, 0.0);
    for (int32_t i = 0; i < nf; ++i) b[i] = 1.0 + i;
    Vec xd(b.begin(), b.begin() + nf);
    ASSERT_EQ(znlpcso(&t.p, 7, n, s.saL.data(), b.data()), 0);
    ASSERT_EQ(lltsol(nf, 1, l.data(), xd.data()), 0);
    for (int32_t i = 0; i < nf; ++i) EXPECT_NEAR(b[i], xd[i], 1e-10) << i;
}

// Under general constraints the reduced matrix of a sparse Hessian, Z'HZ
// with an active basis and the free submatrix without one, in either mode,
// is that of the same matrix held packed.
TEST(SparseFactorKinds, ReducedHessianUnderGeneralConstraintsMatchesThePackedMatrix) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    constexpr int32_t n = 9, nf = 7;
    velix::test::TestProblem t(Vec(n, 0.0), [](const double*) { return 0.0; });
    SparseSystem s = random_system(&rng, n);
    s.install(&t.p);
    // Parameters 2 and 6 held at a bound; Q a Householder reflection over
    // the seven free parameters (row i belongs to freeList[i]).
    Ints freeList{0, 1, 3, 4, 5, 7, 8, 2, 6};
    Vec v(nf), q(static_cast<size_t>(nf) * n, 0.0);
    double vv = 0.0;
    for (double& x : v) {
        x = u(rng);
        vv += x * x;
    }
    for (int32_t i = 0; i < nf; ++i)
        for (int32_t j = 0; j < nf; ++j) q[static_cast<size_t>(i) * n + j] = (i == j ? 1.0 : 0.0) - 2.0 * v[i] * v[j] / vv;
    t.p.opt.technique = kTechNrridg;  // keeps no basis of its own
    t.p.opt.conFactorForm = 1;
    t.p.shape.hasLinCon = t.p.shape.hasBounds = 1;
    t.p.active.freeList = freeList.data();
    t.p.active.nullBasis = q.data();
    t.p.active.nActiveBounds = 2;
    for (int32_t nl : {2, 0})
        for (int32_t mode : {1, 2}) {
            t.p.active.nActiveLin = nl;
            const size_t len = static_cast<size_t>(nf - nl) * (nf - nl + 1) / 2;
            Vec sparse(len, NAN), packed = s.dense, out(len, NAN);
            const Vec saA = s.saA;
            znlphpr(&t.p, mode, 1, 1, nullptr, s.saA.data(), sparse.data());
            znlphpr(&t.p, mode, 1, 0, nullptr, packed.data(), out.data());
            if (mode == 1) out.assign(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(len));
            expect_near(sparse, out, 1e-14, nl > 0 ? "Z'HZ" : "free submatrix");
            EXPECT_EQ(s.saA, saA) << "the sparse Hessian itself is left as it was";
        }
}

// Extended Rosenbrock (n = 8, pairs (x_2k, x_2k+1)), Newton steps with the
// sparse factor of its block-diagonal Hessian, halved until f decreases.
double rosenbrock(const double* x) {
    double f = 0.0;
    for (int32_t k = 0; k < 8; k += 2) f += 100.0 * std::pow(x[k + 1] - x[k] * x[k], 2) + std::pow(1.0 - x[k], 2);
    return f;
}

TEST(SparseFactorKinds, NewtonWithTheSparseFactorSolvesExtendedRosenbrock) {
    constexpr int32_t n = 8;
    Vec x0(n);
    for (int32_t k = 0; k < n; k += 2) x0[k] = -1.2, x0[k + 1] = 1.0;
    velix::test::TestProblem t(x0, rosenbrock);
    Vec pattern(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
    for (int32_t k = 0; k < n; k += 2) pattern[pk(k, k)] = pattern[pk(k + 1, k)] = pattern[pk(k + 1, k + 1)] = 1.0;
    SparseSystem s(n, pattern, Ints{7, 6, 5, 4, 3, 2, 1, 0});
    s.install(&t.p);
    Vec g(n), d(n), xt(n), rhs(n);
    int32_t iter = 0;
    for (; iter < 100; ++iter) {
        double* x = t.p.param.x;
        for (int32_t k = 0; k < n; k += 2) {
            const double a = x[k], b = x[k + 1];
            g[k] = -400.0 * a * (b - a * a) - 2.0 * (1.0 - a);
            g[k + 1] = 200.0 * (b - a * a);
            s.saA[k] = 1200.0 * a * a - 400.0 * b + 2.0;
            s.saA[k + 1] = 200.0;
            s.saA[s.ijaA[k + 1]] = -400.0 * a;  // row k+1's one entry, column k
        }
        double gmax = 0.0;
        for (double v : g) gmax = std::fmax(gmax, std::fabs(v));
        if (gmax < 1e-10) break;
        double logdet = 0.0;
        for (int32_t i = 0; i < n; ++i) rhs[i] = -g[i];
        const bool pd = znlpcde(&t.p, 6, n, 1e-12, &logdet, s.saA.data(), s.saL.data()) == 0;
        ASSERT_EQ(znlpsdi(&t.p, pd ? 1 : 0, 0, 6, n, d.data(), rhs.data(), s.saL.data()), 0);
        const double f0 = rosenbrock(x);
        double alpha = 1.0;
        for (int h = 0; h < 40; ++h, alpha *= 0.5) {
            for (int32_t i = 0; i < n; ++i) xt[i] = x[i] + alpha * t.p.work.direction[i];
            if (rosenbrock(xt.data()) < f0) break;
        }
        std::copy(xt.begin(), xt.end(), x);
    }
    EXPECT_LT(iter, 40);
    for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(t.p.param.x[i], 1.0, 1e-8) << i;
}

}  // namespace
