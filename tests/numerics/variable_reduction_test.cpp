// The covariance under active constraints Z (Z'AZ)^-1 Z' by variable
// reduction: the closed form of two parameters tied equal, a held
// parameter's zero rows, and random problems against the leading block of
// the inverse of the bordered matrix [A C'; C 0] (LAPACK dgetrf/dgetri),
// which is the same matrix for any basis of the null space of C.
#include "numerics/variable_reduction.h"

#include <gtest/gtest.h>

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

}  // namespace
