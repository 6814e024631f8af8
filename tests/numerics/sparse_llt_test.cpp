// The sparse LL' factor against a dense Cholesky (LAPACK dpotrf) of the
// same permuted matrix, its solves and products against the dense
// identities, the masked factor and the updates for a variable entering or
// leaving against refactorizations of the active submatrix, the exact
// result codes on singular and indefinite matrices, the converter's codes,
// the permutation and the sorts, and the listing print.
#include "numerics/sparse_llt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/step_exit.h"
#include "tests/support/test_matrices.h"
#include "tests/support/session_fixture.h"

namespace vt = velix::test;
using velix::platform::StepExit;

namespace {

constexpr double kTol = 1e-11;

// A sparse symmetric positive definite matrix of order n with its triplets
// (lower triangle, diagonal included), a random symmetric permutation and
// the symbolic pattern of the factor of the permuted matrix.
struct Problem {
    int n = 0;
    std::vector<int32_t> irow, icol;
    std::vector<double> val;
    vt::Dense dense;             // A, row-major
    std::vector<int32_t> perm;   // factor position of each variable
    std::vector<int32_t> ijaA, ijaL;
    std::vector<double> saA, saL;
};

Problem make_problem(int n, unsigned seed) {
    Problem p;
    p.n = n;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, n - 1);
    p.dense.assign(static_cast<size_t>(n) * n, 0.0);
    for (int k = 0; k < 2 * n; ++k) {
        int i = pick(gen), j = pick(gen);
        if (i == j) continue;
        const double v = u(gen);
        p.dense[i * n + j] = p.dense[j * n + i] = v;
    }
    for (int i = 0; i + 1 < n; ++i) p.dense[(i + 1) * n + i] = p.dense[i * n + i + 1] = 0.5;
    for (int i = 0; i < n; ++i) {
        double s = 0;
        for (int j = 0; j < n; ++j) s += std::fabs(p.dense[i * n + j]);
        p.dense[i * n + i] = s + 1.0;  // diagonally dominant
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            if (p.dense[i * n + j] != 0.0) {
                p.irow.push_back(i);
                p.icol.push_back(j);
                p.val.push_back(p.dense[i * n + j]);
            }
    p.perm.resize(n);
    std::iota(p.perm.begin(), p.perm.end(), 0);
    std::shuffle(p.perm.begin(), p.perm.end(), gen);

    const int nnz = static_cast<int>(p.irow.size());
    p.ijaA.resize(n + 1 + nnz);
    p.saA.resize(n + 1 + nnz);
    EXPECT_EQ(zslltco(2, n, nnz, p.irow.data(), p.icol.data(), p.val.data(), p.ijaA.data(), p.saA.data()), 0);

    // Symbolic elimination on the permuted pattern.
    std::vector<char> b(static_cast<size_t>(n) * n, 0);
    for (int k = 0; k < nnz; ++k) {
        const int r = std::max(p.perm[p.irow[k]], p.perm[p.icol[k]]);
        const int c = std::min(p.perm[p.irow[k]], p.perm[p.icol[k]]);
        b[r * n + c] = 1;
    }
    for (int k = 0; k < n; ++k)
        for (int i = k + 1; i < n; ++i)
            if (b[i * n + k])
                for (int j = k + 1; j <= i; ++j)
                    if (b[j * n + k]) b[i * n + j] = 1;
    std::vector<int32_t> lr, lc;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            if (b[i * n + j] || i == j) {
                lr.push_back(i);
                lc.push_back(j);
            }
    p.ijaL.resize(n + 1 + lr.size());
    p.saL.resize(n + 1 + lr.size());
    EXPECT_EQ(zslltco(0, n, static_cast<int>(lr.size()), lr.data(), lc.data(), nullptr, p.ijaL.data(),
                      p.saL.data()),
              0);
    return p;
}

// Dense lower factor (row-major) of a factor in SparseLLt storage.
vt::Dense dense_factor(const Problem& p, const std::vector<double>& sa) {
    const int n = p.n;
    vt::Dense l(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
        l[i * n + i] = sa[i] != 0.0 ? 1.0 / sa[i] : 0.0;
        for (int q = p.ijaL[i]; q < p.ijaL[i + 1]; ++q) l[i * n + p.ijaL[q]] = sa[q];
    }
    return l;
}

// P A P' restricted to the active positions (others zero rows/columns and
// unit diagonal), factored by dpotrf.
vt::Dense lapack_factor(const Problem& p, const std::vector<int>& active) {
    const int n = p.n;
    vt::Dense b(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (active[i] && active[j]) b[p.perm[i] * n + p.perm[j]] = p.dense[i * n + j];
    for (int i = 0; i < n; ++i)
        if (!active[i]) b[p.perm[i] * n + p.perm[i]] = 1.0;
    int nn = n, info = 0;
    // Row-major lower = column-major upper.
    dpotrf_("U", &nn, b.data(), &nn, &info);
    EXPECT_EQ(info, 0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) b[i * n + j] = 0.0;
    for (int i = 0; i < n; ++i)
        if (!active[i]) b[p.perm[i] * n + p.perm[i]] = 0.0;
    return b;
}

TEST(SparseLLt, FactorMatchesDenseCholeskyAndSolves) {
    for (int n : {1, 2, 9, 40}) {
        Problem p = make_problem(n, 7 + n);
        ASSERT_EQ(zslltnf(1, 0, n, 0.0, p.ijaA.data(), p.ijaL.data(), p.perm.data(), p.saA.data(),
                          p.saL.data()),
                  0);
        const std::vector<int> all(n, 1);
        const double diff = vt::max_abs_diff(dense_factor(p, p.saL), lapack_factor(p, all));
        EXPECT_LT(diff, kTol) << "order " << n;

        // Solve A x = b and check the residual and against the dense solve.
        std::vector<double> b = vt::random_dense(1, n, 3);
        std::vector<double> x = b, r(n);
        const std::vector<int32_t> permBefore = p.perm;
        zslltso(n, p.perm.data(), p.ijaL.data(), p.saL.data(), x.data());
        EXPECT_EQ(p.perm, permBefore);
        EXPECT_LT(zslltre(n, p.ijaA.data(), p.saA.data(), x.data(), b.data(), r.data()), kTol);
        std::vector<double> ax(n);
        for (int i = 0; i < n; ++i) {
            ax[i] = 0;
            for (int j = 0; j < n; ++j) ax[i] += p.dense[i * n + j] * x[j];
        }
        EXPECT_LT(vt::max_abs_diff(ax, b), kTol);

        // The two halves compose to the full solve; the position-map solve
        // agrees.
        std::vector<double> y = b;
        zslltli(0, n, p.perm.data(), p.ijaL.data(), p.saL.data(), y.data());
        zslltui(0, n, p.perm.data(), p.ijaL.data(), p.saL.data(), y.data());
        EXPECT_LT(vt::max_abs_diff(y, x), kTol);
        std::vector<int32_t> pos(n);
        for (int i = 0; i < n; ++i) pos[p.perm[i]] = i;
        std::vector<double> z = b;
        zsllts2(n, pos.data(), p.ijaL.data(), p.saL.data(), z.data());
        EXPECT_LT(vt::max_abs_diff(z, x), kTol);

        // L (L' v) = A v, with a permutation and with a position map.
        std::vector<double> v = vt::random_dense(1, n, 4), t(n), lv(n), av(n);
        zslltmu(0, n, p.perm.data(), p.ijaL.data(), p.saL.data(), v.data(), t.data());
        zslltml(0, n, p.perm.data(), p.ijaL.data(), p.saL.data(), t.data(), lv.data());
        zslltma(nullptr, n, p.ijaA.data(), p.saA.data(), v.data(), av.data());
        EXPECT_LT(vt::max_abs_diff(lv, av), kTol);
        zslltmu(1, n, pos.data(), p.ijaL.data(), p.saL.data(), v.data(), t.data());
        zslltml(1, n, pos.data(), p.ijaL.data(), p.saL.data(), t.data(), lv.data());
        EXPECT_LT(vt::max_abs_diff(lv, av), kTol);
    }
}

TEST(SparseLLt, QuadraticFormMatchesDense) {
    const int n = 12, m = 3;
    Problem p = make_problem(n, 5);
    const vt::Dense b = vt::random_dense(n, m, 6);
    std::vector<double> q(m * (m + 1) / 2), w(n);
    EXPECT_EQ(zslltqf(n, m, m, p.ijaA.data(), p.saA.data(), b.data(), q.data(), w.data()), n);
    const vt::Dense ab = vt::matmul(p.dense, b, n, n, m);
    const vt::Dense bab = vt::matmul(vt::transpose(b, n, m), ab, m, n, m);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) EXPECT_NEAR(q[vt::pk(i, j)], bab[i * m + j], kTol);
}

TEST(SparseLLt, MaskedFactorIsTheFactorOfTheActiveSubmatrix) {
    const int n = 20;
    Problem p = make_problem(n, 11);
    std::vector<int32_t> mask(n, 0), maskperm(n);
    std::vector<int> active(n, 1);
    for (int i : {3, 8, 15}) {
        mask[i] = -1;
        active[i] = 0;
    }
    ASSERT_EQ(zslltf2(1, mask.data(), maskperm.data(), 0, n, 0.0, p.ijaA.data(), p.ijaL.data(),
                      p.perm.data(), p.saA.data(), p.saL.data()),
              0);
    for (int i = 0; i < n; ++i) EXPECT_EQ(maskperm[p.perm[i]], mask[i]);
    EXPECT_LT(vt::max_abs_diff(dense_factor(p, p.saL), lapack_factor(p, active)), kTol);
}

TEST(SparseLLt, DeletingAndAddingVariablesKeepsTheActiveFactor) {
    const int n = 25;
    Problem p = make_problem(n, 13);
    std::vector<int32_t> mask(n, 0), maskperm(n);
    std::vector<int> active(n, 1);
    ASSERT_EQ(zslltf2(1, mask.data(), maskperm.data(), 0, n, 0.0, p.ijaA.data(), p.ijaL.data(),
                      p.perm.data(), p.saA.data(), p.saL.data()),
              0);
    std::vector<double> w(n);
    // Delete three variables one by one, including the first and the last
    // factor position.
    const int first = static_cast<int>(std::find(p.perm.begin(), p.perm.end(), 0) - p.perm.begin());
    const int last = static_cast<int>(std::find(p.perm.begin(), p.perm.end(), n - 1) - p.perm.begin());
    for (int j : {7, first, last}) {
        mask[j] = -1;
        maskperm[p.perm[j]] = -1;
        active[j] = 0;
        zslltrd(n, j, maskperm.data(), p.ijaL.data(), p.perm.data(), p.saL.data(), w.data());
        EXPECT_LT(vt::max_abs_diff(dense_factor(p, p.saL), lapack_factor(p, active)), 1e-10)
            << "after deleting " << j;
    }
    // Add them back: the last position completes in zslltf5, the others
    // through zslltra.
    for (int j : {last, 7, first}) {
        double diag = 0;
        ASSERT_EQ(zslltf5(n, j, mask.data(), maskperm.data(), p.ijaA.data(), p.ijaL.data(), p.perm.data(),
                          p.saA.data(), p.saL.data(), &diag, w.data()),
                  0);
        mask[j] = 0;
        active[j] = 1;
        const vt::Dense ref = lapack_factor(p, active);
        // diag^2 is the Schur complement of j in the new active matrix,
        // 1 / (A^-1)_jj, from the dense factor: L y = e_p, L' z = y.
        const int pj = p.perm[j];
        std::vector<double> z(n, 0.0);
        z[pj] = 1.0;
        for (int i = 0; i < n; ++i) {
            if (ref[i * n + i] == 0.0) continue;
            for (int k = 0; k < i; ++k) z[i] -= ref[i * n + k] * z[k];
            z[i] /= ref[i * n + i];
        }
        for (int i = n - 1; i >= 0; --i) {
            if (ref[i * n + i] == 0.0) continue;
            for (int k = i + 1; k < n; ++k) z[i] -= ref[k * n + i] * z[k];
            z[i] /= ref[i * n + i];
        }
        EXPECT_NEAR(diag, 1.0 / std::sqrt(z[pj]), 1e-10);
        if (j == last) {
            maskperm[p.perm[j]] = 0;
        } else {
            ASSERT_EQ(zslltra(n, j, mask.data(), maskperm.data(), 0.0, p.ijaA.data(), p.ijaL.data(),
                              p.perm.data(), p.saA.data(), p.saL.data()),
                      0);
        }
        EXPECT_LT(vt::max_abs_diff(dense_factor(p, p.saL), ref), 1e-10) << "after adding " << j;
    }
}

// A 3 x 3 matrix from lower-triangle triplets with the identity order and a
// full factor pattern.
struct Small {
    std::vector<int32_t> ijaA, ijaL;
    std::vector<double> saA, saL;
};

Small small(const std::vector<double>& lower) {  // (0,0) (1,0) (1,1) (2,0) (2,1) (2,2)
    const std::vector<int32_t> r = {0, 1, 1, 2, 2, 2}, c = {0, 0, 1, 0, 1, 2};
    Small s;
    s.ijaA.resize(10);
    s.saA.resize(10);
    s.ijaL.resize(10);
    s.saL.resize(10);
    EXPECT_EQ(zslltco(2, 3, 6, r.data(), c.data(), lower.data(), s.ijaA.data(), s.saA.data()), 0);
    EXPECT_EQ(zslltco(0, 3, 6, r.data(), c.data(), nullptr, s.ijaL.data(), s.saL.data()), 0);
    return s;
}

TEST(SparseLLt, SingularAndIndefiniteResultCodes) {
    // Positive semidefinite: row 1 repeats row 0.
    Small s = small({1, 1, 1, 0, 0, 2});
    EXPECT_EQ(zslltnf(1, 0, 3, 1e-12, s.ijaA.data(), s.ijaL.data(), nullptr, s.saA.data(), s.saL.data()), 2);
    EXPECT_EQ(s.saL[1], 0.0);
    EXPECT_NEAR(s.saL[2], 1.0 / std::sqrt(2.0), 1e-15);
    // Indefinite first, then a negligible pivot: the negative code stays.
    Small t = small({1, 2, 1, 0, 0, 1e-300});
    EXPECT_EQ(zslltnf(1, 0, 3, 1e-12, t.ijaA.data(), t.ijaL.data(), nullptr, t.saA.data(), t.saL.data()), -2);
    EXPECT_EQ(t.saL[1], 0.0);
    // 1 x 1.
    int32_t r0 = 0;
    double v = 4.0;
    std::vector<int32_t> ija(2);
    std::vector<double> sa(2), sl(2);
    ASSERT_EQ(zslltco(2, 1, 1, &r0, &r0, &v, ija.data(), sa.data()), 0);
    EXPECT_EQ(zslltnf(1, 0, 1, 0.0, ija.data(), ija.data(), nullptr, sa.data(), sl.data()), 0);
    EXPECT_EQ(sl[0], 0.5);
}

TEST(SparseLLt, ConverterCodes) {
    std::vector<int32_t> ija(10);
    std::vector<double> sa(10);
    const int32_t up[2] = {0, 0}, upc[2] = {0, 1};
    const double two[2] = {1, 1};
    EXPECT_EQ(zslltco(2, 2, 2, up, upc, two, ija.data(), sa.data()), 1);
    const int32_t dr[3] = {1, 1, 1}, dc[3] = {0, 0, 1};
    const double three[3] = {1, 2, 3};
    EXPECT_EQ(zslltco(2, 2, 3, dr, dc, three, ija.data(), sa.data()), 2);
    const int32_t out[1] = {5};
    EXPECT_EQ(zslltco(2, 2, 1, out, out, two, ija.data(), sa.data()), 4);
    // Structure (1,0) then values with an entry not in it.
    const int32_t sr[3] = {0, 1, 1}, sc[3] = {0, 0, 1};
    ASSERT_EQ(zslltco(0, 2, 3, sr, sc, nullptr, ija.data(), sa.data()), 0);
    EXPECT_EQ(ija[0], 3);
    EXPECT_EQ(sa[2], 1.0);  // one off-diagonal entry
    const int32_t xr[2] = {1, 2}, xc[2] = {0, 1};
    std::vector<int32_t> ija3(12);
    std::vector<double> sa3(12);
    const int32_t tr[3] = {0, 1, 2}, tc[3] = {0, 0, 2};
    ASSERT_EQ(zslltco(0, 3, 3, tr, tc, nullptr, ija3.data(), sa3.data()), 0);
    EXPECT_EQ(zslltco(1, 3, 2, xr, xc, two, ija3.data(), sa3.data()), 3);
    // A zero diagonal in a row with off-diagonal entries: -(row+1).
    const double zero_diag[3] = {1, 0.5, 0.0};
    EXPECT_EQ(zslltco(2, 2, 3, sr, sc, zero_diag, ija.data(), sa.data()), -2);
    // Columns are sorted within a row, values moved along.
    const int32_t ur[4] = {3, 3, 3, 3}, uc[4] = {2, 0, 3, 1};
    const double uv[4] = {20, 0.5, 9, 10};
    std::vector<int32_t> ija4(8);
    std::vector<double> sa4(8);
    ASSERT_EQ(zslltco(3, 4, 4, ur, uc, uv, ija4.data(), sa4.data()), 0);
    EXPECT_EQ(std::vector<int32_t>(ija4.begin() + 5, ija4.end()), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(std::vector<double>(sa4.begin() + 5, sa4.end()), (std::vector<double>{0.5, 10, 20}));
    EXPECT_EQ(sa4[3], 9.0);
}

class StructuralFaults : public PlatformStep {};

// The exit code with which f ends the step, or -1 when it returns.
template <class F>
int32_t step_exit_code(F f) {
    try {
        f();
    } catch (const StepExit& e) {
        return e.code;
    }
    return -1;
}

TEST_F(StructuralFaults, PermutScatterThenGatherRestoresAndRejectsBadEntries) {
    const int n = 7;
    std::vector<int32_t> perm = {3, 0, 6, 1, 5, 4, 2};
    const std::vector<int32_t> saved = perm;
    std::vector<double> x = {10, 11, 12, 13, 14, 15, 16};
    const std::vector<double> x0 = x;
    permut(1, n, perm.data(), x.data());
    for (int k = 0; k < n; ++k) EXPECT_EQ(x[perm[k]], x0[k]);
    EXPECT_EQ(perm, saved);
    permut(0, n, perm.data(), x.data());
    EXPECT_EQ(x, x0);
    EXPECT_EQ(perm, saved);

    std::vector<int32_t> bad = {1, 7, 0};
    std::vector<double> y = {1, 2, 3};
    EXPECT_EQ(step_exit_code([&] { permut(1, 3, bad.data(), y.data()); }), 9999);
    std::vector<int32_t> twice = {1, 1, 0};
    EXPECT_EQ(step_exit_code([&] { permut(0, 3, twice.data(), y.data()); }), 9999);
    EXPECT_EQ(twice, (std::vector<int32_t>{1, 1, 0}));
    EXPECT_NE(log().find("internal error"), std::string::npos) << log();
}

TEST(Lsort, SortsLikeTheStandardLibrary) {
    std::mt19937 gen(3);
    std::uniform_int_distribution<int> u(-50, 50);
    for (int n : {0, 1, 2, 17, 100}) {
        std::vector<int32_t> a(n);
        for (auto& v : a) v = u(gen);
        std::vector<double> b(a.begin(), a.end());
        std::vector<int32_t> sorted = a;
        std::sort(sorted.begin(), sorted.end());
        std::vector<int32_t> a2 = a;
        lsort(n, a.data());
        EXPECT_EQ(a, sorted);
        lsort2(n, a2.data(), b.data());
        EXPECT_EQ(a2, sorted);
        for (int i = 0; i < n; ++i) EXPECT_EQ(b[i], a2[i]);
    }
}

TEST_F(StructuralFaults, EntryOutsideThePatternEndsTheStep) {
    Small s = small({4, 1, 4, 0, 1, 4});
    // A factor pattern without (2,1).
    const int32_t r[4] = {0, 1, 1, 2}, c[4] = {0, 0, 1, 2};
    std::vector<int32_t> ijaL(8);
    std::vector<double> saL(8);
    ASSERT_EQ(zslltco(0, 3, 4, r, c, nullptr, ijaL.data(), saL.data()), 0);
    EXPECT_EQ(step_exit_code([&] {
                  zslltnf(1, 0, 3, 0.0, s.ijaA.data(), ijaL.data(), nullptr, s.saA.data(), saL.data());
              }),
              9999);
    EXPECT_NE(log().find("internal error"), std::string::npos) << log();
}

class SparsePrint : public PlatformStep {};

// Order 3 with the entries (0,0), (1,1), (2,0) and (2,2).
void print_example(std::vector<int32_t>* ija, std::vector<double>* sa) {
    const int32_t r[4] = {0, 1, 2, 2}, c[4] = {0, 1, 0, 2};
    const double v[4] = {1.5, 2.5, -0.25, 3.0};
    ASSERT_EQ(zslltco(2, 3, 4, r, c, v, ija->data(), sa->data()), 0);
}

TEST_F(SparsePrint, SparseAndDenseModes) {
    std::vector<int32_t> ija(8);
    std::vector<double> sa(8);
    print_example(&ija, &sa);
    zslltpr(1, 3, nullptr, ija.data(), sa.data());
    const std::string l = listing();
    EXPECT_NE(l.find("Sparse Matrix (3,3)"), std::string::npos) << l;
    EXPECT_NE(l.find("     xxx"), std::string::npos) << l;    // (1,0) is outside the pattern
    EXPECT_NE(l.find("   -0.2500"), std::string::npos) << l;  // (2,0), and (0,2) from it
    size_t count = 0;
    for (size_t at = l.find("-0.2500"); at != std::string::npos; at = l.find("-0.2500", at + 1)) ++count;
    EXPECT_EQ(count, 2u) << "the entry prints in both triangles";
    std::vector<double> packed = {1, 2, 3, 4, 5, 6};
    zslltpr(-1, 3, nullptr, ija.data(), packed.data());
    EXPECT_NE(listing().find("Dense Matrix (3,3)"), std::string::npos);
    EXPECT_NE(listing().find("     3 :    4.0000    5.0000    6.0000"), std::string::npos) << listing();
}

}  // namespace

namespace {

TEST_F(SparsePrint, MaskedRowsAndColumnsAreSkipped) {
    std::vector<int32_t> ija(8);
    std::vector<double> sa(8);
    print_example(&ija, &sa);
    const int32_t mask[3] = {0, -1, 0};
    zslltpr(1, 3, mask, ija.data(), sa.data());
    const std::string l = listing();
    EXPECT_EQ(l.find("xxx"), std::string::npos) << l;  // (1,0) belongs to the skipped row
    EXPECT_EQ(l.find("     2 :"), std::string::npos) << l;
    EXPECT_NE(l.find("     3 :   -0.2500    3.0000"), std::string::npos) << l;
}

}  // namespace

namespace {

TEST_F(SparsePrint, PrinterLayoutWithRowLabels) {
    std::vector<int32_t> ija(8);
    std::vector<double> sa(8);
    print_example(&ija, &sa);
    zslltpr(0, 3, nullptr, ija.data(), sa.data());
    const std::string l = listing();
    EXPECT_NE(l.find("Sparse Matrix (3,3)"), std::string::npos) << l;
    for (const char* label : {"ROW1", "ROW2", "ROW3"}) EXPECT_NE(l.find(label), std::string::npos) << l;
    // Row 3 holds (2,0) = -0.25, (2,1) outside the pattern, (2,2) = 3.
    std::istringstream lines(l);
    std::string line, row3;
    while (std::getline(lines, line))
        if (line.find("ROW3") != std::string::npos) row3 = line;
    EXPECT_NE(row3.find("-0.2500"), std::string::npos) << l;
    EXPECT_NE(row3.find("3.0000"), std::string::npos) << l;
    // (2,1) and (1,2) lie outside the pattern; structural entries print
    // from whichever triangle they are asked for.
    EXPECT_NE(row3.find("     xxx"), std::string::npos) << l;
    std::string row1;
    std::istringstream again(l);
    while (std::getline(again, line))
        if (line.find("ROW1") != std::string::npos) row1 = line;
    EXPECT_NE(row1.find("-0.2500"), std::string::npos) << l;  // (0,2) from the entry (2,0)
    EXPECT_NE(row1.find("     xxx"), std::string::npos) << l;  // (0,1)
}

}  // namespace
