// The covariance under active constraints Z (Z'AZ)^-1 Z' by variable
// reduction: the closed form of two parameters tied equal, a held
// parameter's zero rows, and random problems against the leading block of
// the inverse of the bordered matrix [A C'; C 0] (LAPACK dgetrf/dgetri),
// which is the same matrix for any basis of the null space of C; the
// release of one held parameter against the bordered inverse without its
// unit row.
#include "numerics/variable_reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/test_matrices.h"
#include "velix/packed_index.h"

extern "C" void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work, const int* lwork,
                        int* info);

namespace vt = velix::test;
using velix::pk;
using velix::detail::VariableReduction;

namespace {

constexpr double kTol = 1e-11;  // relative to the largest element, orders up to 12

// a := a^-1 (dense, order n) by LAPACK's LU.
void invert(vt::Dense* a, int n) {
    std::vector<int> ipiv(static_cast<size_t>(n));
    int info = 0, lwork = n * 8;
    std::vector<double> work(static_cast<size_t>(lwork));
    dgetrf_(&n, &n, a->data(), &n, ipiv.data(), &info);
    ASSERT_EQ(info, 0);
    dgetri_(&n, a->data(), &n, ipiv.data(), work.data(), &lwork, &info);
    ASSERT_EQ(info, 0);
}

// Z (Z'AZ)^-1 Z' for the packed a of order n, through the reduction and
// the inverse of the reduced matrix (LAPACK).
vt::Dense constrained_inverse(const VariableReduction& r, const std::vector<double>& a) {
    const int dim = r.dim();
    std::vector<double> reduced(static_cast<size_t>(dim * (dim + 1) / 2));
    velix::detail::reduce_packed(r, a.data(), reduced.data());
    vt::Dense c = vt::from_packed(reduced, dim);
    invert(&c, dim);
    std::vector<double> out(static_cast<size_t>(r.n * (r.n + 1) / 2));
    velix::detail::expand_packed(r, vt::to_packed(c, dim).data(), out.data());
    return vt::from_packed(out, r.n);
}

// The leading n x n block of the inverse of [A C'; C 0], C the unit rows
// of the held parameters and the general rows.
vt::Dense bordered_inverse(const vt::Dense& a, int n, const std::vector<int32_t>& held, const vt::Dense& rows,
                           int m) {
    const int k = static_cast<int>(held.size()) + m, big = n + k;
    vt::Dense b(static_cast<size_t>(big * big), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) b[i * big + j] = a[i * n + j];
    for (int c = 0; c < k; ++c)
        for (int j = 0; j < n; ++j) {
            const double v = c < static_cast<int>(held.size()) ? (held[c] == j ? 1.0 : 0.0)
                                                                : rows[(c - held.size()) * n + j];
            b[(n + c) * big + j] = b[j * big + n + c] = v;
        }
    invert(&b, big);
    vt::Dense out(static_cast<size_t>(n * n));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) out[i * n + j] = b[i * big + j];
    return out;
}

// Two parameters tied equal, theta_1 = theta_2 = t: the information of t
// is 1'A1 = a11 + 2 a12 + a22, every element of the covariance of the pair
// is its inverse, and Z'g = g1 + g2; the third parameter, held, has 0.
TEST(VariableReduction, TiedPairHasTheVarianceOfTheCommonEstimate) {
    const std::vector<double> a = {4.0, 1.5, 3.0, 0.7, -0.2, 5.0};  // packed 3 x 3
    const double row[3] = {1.0, -1.0, 0.0};
    const int32_t held[1] = {2};
    VariableReduction r;
    ASSERT_EQ(velix::detail::variable_reduction(3, 1, held, 1, row, &r), 1);
    ASSERT_EQ(r.dim(), 1);
    const vt::Dense cov = constrained_inverse(r, a);
    const double common = 1.0 / (4.0 + 2.0 * 1.5 + 3.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(cov[i * 3 + j], i < 2 && j < 2 ? common : 0.0, kTol) << i << j;
    const double g[3] = {0.25, -1.5, 9.0};
    double zg = 0.0;
    velix::detail::reduce_vector(r, g, &zg);
    EXPECT_NEAR(zg, 0.25 - 1.5, kTol);
}

// Random positive definite A with held parameters and general rows (one of
// them a combination of the others, which adds no basic parameter):
// Z (Z'AZ)^-1 Z' is the leading block of the bordered inverse.
TEST(VariableReduction, RandomProblemsEqualTheBorderedInverse) {
    struct Case { int n; std::vector<int32_t> held; int m; bool dependent; };
    for (const Case& c : {Case{5, {}, 1, false}, Case{6, {4}, 2, false}, Case{8, {0, 7}, 3, true},
                          Case{12, {3, 5, 9}, 4, false}}) {
        SCOPED_TRACE(c.n);
        const vt::Dense a = vt::random_spd(c.n, 70 + c.n);
        vt::Dense rows = vt::random_dense(c.m, c.n, 90 + c.n, -3.0, 3.0);
        if (c.dependent)
            for (int j = 0; j < c.n; ++j) rows[(c.m - 1) * c.n + j] = 2.0 * rows[j] - 0.5 * rows[c.n + j];
        const int independent = c.dependent ? c.m - 1 : c.m;
        VariableReduction r;
        ASSERT_EQ(velix::detail::variable_reduction(c.n, static_cast<int32_t>(c.held.size()), c.held.data(), c.m,
                                                    rows.data(), &r),
                  independent);
        ASSERT_EQ(r.dim(), c.n - static_cast<int>(c.held.size()) - independent);
        const vt::Dense got = constrained_inverse(r, vt::to_packed(a, c.n));
        // The bordered matrix is singular with a dependent row: border
        // with the independent rows only.
        const vt::Dense want = bordered_inverse(a, c.n, c.held, rows, independent);
        EXPECT_LE(vt::max_abs_diff(got, want), kTol * vt::max_abs(want));
        for (int32_t h : c.held)
            for (int j = 0; j < c.n; ++j) EXPECT_EQ(got[h * c.n + j], 0.0);
    }
}

// Releasing held parameter i with the other constraints kept: V* is the
// bordered inverse without i's unit row.  With g = A_{-i}'lambda + mu e_i
// (the gradient at a constrained minimum) the score is mu, the variance
// V*_ii and the change -(V* g)_i.  Cases: i the only constraint (V* = A^-1
// and the score g_i for any g: the test of a lone bound); other held
// parameters and rows that leave i out; rows through i, with i free or
// basic in the reduction of the others; i fixed by the others.
TEST(VariableReduction, ReleasingOneHeldParameterEqualsTheBorderedInverseWithoutIt) {
    // atI scales the rows' column i: 0 leaves i out, a small one lets the
    // pivoting keep i free, a large one makes it basic.
    struct Case { int n; std::vector<int32_t> others; int m; double atI; bool basic; };
    const int32_t i = 2;
    for (const Case& c : {Case{5, {}, 0, 0.0, false}, Case{7, {0, 6}, 2, 0.0, false},
                          Case{8, {5}, 2, 0.05, false}, Case{6, {}, 1, 10.0, true}}) {
        SCOPED_TRACE(c.n * 10 + c.m);
        const vt::Dense a = vt::random_spd(c.n, 30 + c.n);
        vt::Dense rows = vt::random_dense(c.m, c.n, 40 + c.n, -3.0, 3.0);
        for (int k = 0; k < c.m; ++k) {
            for (int32_t h : c.others) rows[k * c.n + h] = 0.0;
            rows[k * c.n + i] *= c.atI;
        }
        std::vector<int32_t> all = c.others;
        all.push_back(i);
        VariableReduction every, released;
        velix::detail::variable_reduction(c.n, static_cast<int32_t>(all.size()), all.data(), c.m, rows.data(), &every);
        velix::detail::variable_reduction(c.n, static_cast<int32_t>(c.others.size()), c.others.data(), c.m, rows.data(),
                                          &released);
        const std::vector<double> cov = vt::to_packed(constrained_inverse(every, vt::to_packed(a, c.n)), c.n);
        const vt::Dense star = bordered_inverse(a, c.n, c.others, rows, c.m);
        // g: the rows and the other held parameters' unit rows times
        // multipliers, plus mu at i; with i alone, any g.
        std::vector<double> g = vt::random_dense(1, c.n, 50 + c.n, -2.0, 2.0);
        const double mu = 0.75;
        if (!c.others.empty() || c.m > 0) {
            std::fill(g.begin(), g.end(), 0.0);
            for (int k = 0; k < c.m; ++k)
                for (int j = 0; j < c.n; ++j) g[j] += (1.0 + k) * rows[k * c.n + j];
            for (int32_t h : c.others) g[h] += -1.5;
            g[i] += mu;
        }
        EXPECT_EQ(std::count(released.basic.begin(), released.basic.end(), i), c.basic ? 1 : 0);
        std::vector<double> z(static_cast<size_t>(c.n));
        ASSERT_TRUE(velix::detail::moving_direction(released, i, z.data()));
        const auto t = velix::detail::release_constraint(c.n, vt::to_packed(a, c.n).data(), cov.data(), g.data(),
                                                         z.data(), i);
        ASSERT_TRUE(t.valid);
        double change = 0.0;
        for (int j = 0; j < c.n; ++j) change -= star[i * c.n + j] * g[j];
        const double scale = vt::max_abs(star);
        EXPECT_NEAR(t.variance, star[i * c.n + i], kTol * scale);
        EXPECT_NEAR(t.change, change, kTol * scale * 10.0);
        if (c.others.empty() && c.m == 0)
            EXPECT_EQ(t.score, g[i]);  // exactly the old test of a lone bound
        else
            EXPECT_NEAR(t.score, mu, kTol * 10.0);
    }
    // A row x_2 + x_4 = 0 with x_4 held fixes x_2: nothing to release.
    vt::Dense row(5, 0.0);
    row[2] = row[4] = 1.0;
    const int32_t other[1] = {4};
    VariableReduction released;
    velix::detail::variable_reduction(5, 1, other, 1, row.data(), &released);
    std::vector<double> z(5);
    EXPECT_FALSE(velix::detail::moving_direction(released, i, z.data()));
}

}  // namespace
