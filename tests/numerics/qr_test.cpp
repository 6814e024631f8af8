// Householder QR against A P = Q R with orthogonal Q (Q rebuilt from the
// stored reflections), LAPACK's dgeqrf, the pivoting rules and the modes of
// the triangular solver.
#include "numerics/qr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-12;  // relative, random matrices up to 60 x 40

struct Factored {
    vt::Dense q;  // m x m
    vt::Dense r;  // m x n
};

// Rebuilds Q = H_0 H_1 ... and R from zqrdec's output.  A reflection with
// u(l) == 0 was skipped (a negligible column).
Factored rebuild(const vt::Dense& f, const std::vector<double>& diag, int m, int n) {
    const int steps = std::min(m, n);
    Factored out{vt::Dense(m * m, 0.0), vt::Dense(m * n, 0.0)};
    for (int i = 0; i < m; ++i) out.q[i * m + i] = 1.0;
    for (int l = steps - 1; l >= 0; --l) {
        const double ul = f[l * n + l];
        if (ul == 0.0) continue;
        for (int c = 0; c < m; ++c) {
            double s = 0.0;
            for (int i = l; i < m; ++i) s += f[i * n + l] * out.q[i * m + c];
            for (int i = l; i < m; ++i) out.q[i * m + c] -= s / ul * f[i * n + l];
        }
    }
    for (int i = 0; i < steps; ++i) {
        out.r[i * n + i] = diag[i];
        for (int j = i + 1; j < n; ++j) out.r[i * n + j] = f[i * n + j];
    }
    return out;
}

// A with its columns permuted: column j of the result is column jpvt[j] of a.
vt::Dense permute_columns(const vt::Dense& a, int m, int n, const std::vector<int32_t>& jpvt) {
    vt::Dense p(m * n);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) p[i * n + j] = a[i * n + jpvt[j]];
    return p;
}

void expect_qr_identity(const vt::Dense& a, const vt::Dense& f, const std::vector<double>& diag,
                        int m, int n, const std::vector<int32_t>& jpvt, const char* what) {
    const Factored qr = rebuild(f, diag, m, n);
    const double orth = vt::identity_error(vt::transpose(qr.q, m, m), qr.q, m);
    EXPECT_LE(orth, kTol * m) << what << " worst |Q'Q - I|";
    const vt::Dense ap = permute_columns(a, m, n, jpvt);
    if (m >= n) {
        const double err = vt::max_abs_diff(vt::matmul(qr.q, qr.r, m, m, n), ap);
        EXPECT_LE(err, kTol * m) << what << " worst |QR - AP|";
    }
}

std::vector<int32_t> identity_perm(int n) {
    std::vector<int32_t> p(n);
    for (int i = 0; i < n; ++i) p[i] = i;
    return p;
}

TEST(Zqrdec, UnpivotedMatchesLapackAndIdentity) {
    for (auto [m, n] : {std::pair{1, 1}, std::pair{5, 5}, std::pair{30, 12}, std::pair{60, 40}}) {
        const vt::Dense a = vt::random_dense(m, n, 600 + m + n);
        vt::Dense f = a;
        const vt::Dense b0 = vt::random_dense(m, 2, 601);
        vt::Dense b = b0;
        std::vector<double> diag(n), work(n);
        ASSERT_EQ(zqrdec(m, n, 2, n, 2, nullptr, 0.0, f.data(), b.data(), diag.data(), work.data()), 0);
        expect_qr_identity(a, f, diag, m, n, identity_perm(n), "unpivoted");
        // b holds Q'b.
        const Factored qr = rebuild(f, diag, m, n);
        const vt::Dense qtb = vt::matmul(vt::transpose(qr.q, m, m), b0, m, m, 2);
        EXPECT_LE(vt::max_abs_diff(b, qtb), kTol * m);
        vt::Dense g = vt::transpose(a, m, n);  // column-major for LAPACK
        std::vector<double> tau(n), lw(64 * n);
        int lwork = static_cast<int>(lw.size()), info = 0;
        dgeqrf_(&m, &n, g.data(), &m, tau.data(), lw.data(), &lwork, &info);
        ASSERT_EQ(info, 0);
        double worst = 0.0;
        for (int i = 0; i < std::min(m, n); ++i)
            worst = std::max(worst, std::fabs(std::fabs(diag[i]) - std::fabs(g[i * m + i])));
        EXPECT_LE(worst, kTol * m) << "m=" << m << " worst ||R_ii| - |R_ii lapack||";
    }
}

TEST(Zqrdec, PivotedNormsDecreaseAndIdentityHolds) {
    const int m = 25, n = 10;
    vt::Dense a = vt::random_dense(m, n, 700);
    for (int i = 0; i < m; ++i) a[i * n + 3] *= 10.0;  // a dominant column
    vt::Dense f = a;
    std::vector<int32_t> jpvt(n, 0);
    std::vector<double> diag(n), work(n);
    ASSERT_EQ(zqrdec(m, n, 0, n, 0, jpvt.data(), 0.0, f.data(), nullptr, diag.data(), work.data()), 0);
    EXPECT_EQ(jpvt[0], 3);
    for (int l = 1; l < n; ++l) EXPECT_LE(std::fabs(diag[l]), std::fabs(diag[l - 1]) * (1 + 1e-12));
    expect_qr_identity(a, f, diag, m, n, jpvt, "pivoted");
}

TEST(Zqrdec, FixedColumnsStayInPlace) {
    const int m = 12, n = 6;
    const vt::Dense a = vt::random_dense(m, n, 710);
    vt::Dense f = a;
    // Column 4 first, column 0 last (position 6), the rest free.
    std::vector<int32_t> jpvt = {-6, 0, 0, 0, 1, 0};
    std::vector<double> diag(n), work(n);
    ASSERT_EQ(zqrdec(m, n, 0, n, 0, jpvt.data(), 0.0, f.data(), nullptr, diag.data(), work.data()), 0);
    EXPECT_EQ(jpvt[0], 4);
    EXPECT_EQ(jpvt[n - 1], 0);
    expect_qr_identity(a, f, diag, m, n, jpvt, "fixed");
    // A missing initial position is reported before any elimination.
    f = a;
    jpvt = {2, 0, 0, 0, 0, 0};
    EXPECT_EQ(zqrdec(m, n, 0, n, 0, jpvt.data(), 0.0, f.data(), nullptr, diag.data(), work.data()), -1);
    jpvt = {0, 0, -5, 0, 0, 0};
    EXPECT_EQ(zqrdec(m, n, 0, n, 0, jpvt.data(), 0.0, f.data(), nullptr, diag.data(), work.data()), -6);
}

TEST(Zqrdec, NegligibleColumns) {
    const int m = 5, n = 3;
    vt::Dense a = vt::random_dense(m, n, 720);
    for (int i = 0; i < m; ++i) a[i * n + 1] = 0.0;
    vt::Dense f = a;
    std::vector<double> diag(n), work(n);
    ASSERT_EQ(zqrdec(m, n, 0, n, 0, nullptr, 0.0, f.data(), nullptr, diag.data(), work.data()), 1);
    EXPECT_EQ(f[1 * n + 1], 0.0);
    EXPECT_EQ(diag[1], 0.0);
    expect_qr_identity(a, f, diag, m, n, identity_perm(n), "zero column");
    // Fixed as the initial column it is moved to the end and counted there.
    f = a;
    std::vector<int32_t> jpvt = {0, 1, 0};
    ASSERT_EQ(zqrdec(m, n, 0, n, 0, jpvt.data(), 0.0, f.data(), nullptr, diag.data(), work.data()), 1);
    EXPECT_EQ(jpvt, (std::vector<int32_t>{0, 2, 1}));
    EXPECT_EQ(diag[2], 0.0);
    expect_qr_identity(a, f, diag, m, n, jpvt, "moved zero column");
    // A zero column with a negative tolerance is still negligible.
    f = a;
    EXPECT_EQ(zqrdec(m, n, 0, n, 0, nullptr, -1.0, f.data(), nullptr, diag.data(), work.data()), 1);
}

TEST(Zqrdec, TiesAndWideMatrices) {
    vt::Dense a = {1, 0, 0, 1};
    std::vector<int32_t> jpvt = {0, 0};
    std::vector<double> diag(2), work(2);
    ASSERT_EQ(zqrdec(2, 2, 0, 2, 0, jpvt.data(), 0.0, a.data(), nullptr, diag.data(), work.data()), 0);
    EXPECT_EQ(jpvt[0], 1);  // equal norms: the later column first
    // m < n: only m columns are processed; the last keeps its norm in diag.
    const int m = 2, n = 4;
    const vt::Dense w = vt::random_dense(m, n, 730);
    vt::Dense f = w;
    std::vector<double> d4(n), w4(n);
    ASSERT_EQ(zqrdec(m, n, 0, n, 0, nullptr, 0.0, f.data(), nullptr, d4.data(), w4.data()), 0);
    EXPECT_NEAR(d4[3], std::hypot(w[3], w[n + 3]), 1e-15);
    const Factored qr = rebuild(f, d4, m, n);
    vt::Dense r = qr.r;  // columns 2, 3 of R are the reflected columns
    for (int i = 0; i < m; ++i)
        for (int j = m; j < n; ++j) r[i * n + j] = f[i * n + j];
    EXPECT_LE(vt::max_abs_diff(vt::matmul(qr.q, r, m, m, n), w), kTol);
}

// Dense upper triangular R (n x n) with unit-ish diagonal, and its packed form.
struct Tri {
    vt::Dense dense;
    std::vector<double> packed;
};
Tri random_upper(int n, uint32_t seed) {
    Tri t{vt::random_dense(n, n, seed), std::vector<double>(n * (n + 1) / 2)};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) t.dense[i * n + j] = 0.0;
        t.dense[i * n + i] = 2.0 + i * 0.1;
        for (int j = i; j < n; ++j) t.packed[j * (j + 1) / 2 + i] = t.dense[i * n + j];
    }
    return t;
}

TEST(Zqrsol, SolveAndMultiplyModesAgreeWithDenseAlgebra) {
    const int n = 7, nrhs = 2;
    const Tri t = random_upper(n, 800);
    const vt::Dense rt = vt::transpose(t.dense, n, n);
    const std::vector<int32_t> perm = {3, 0, 6, 1, 5, 2, 4};
    const vt::Dense bcols = vt::random_dense(n, nrhs, 801);  // element i of rhs c at i*nrhs + c
    const vt::Dense brows = vt::transpose(bcols, n, nrhs);   // at c*n + i
    for (int mode : {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18}) {
        for (const std::vector<int32_t>* jp : {static_cast<const std::vector<int32_t>*>(nullptr), &perm}) {
            const int base = mode > 10 ? mode - 10 : mode;
            const bool rows = base == 3 || base == 4 || base == 7 || base == 8;
            const double* a = base >= 5 ? t.packed.data() : t.dense.data();
            const vt::Dense& b = rows ? brows : bcols;
            const int ldb = rows ? n : nrhs;
            vt::Dense x(nrhs * n), work(n);
            ASSERT_EQ(zqrsol(mode, n, nrhs, n, ldb, n, jp ? jp->data() : nullptr, a, b.data(),
                             x.data(), nullptr, work.data()),
                      0);
            // Check each rhs against the defining relation.
            for (int c = 0; c < nrhs; ++c) {
                std::vector<double> bc(n), xc(x.begin() + c * n, x.begin() + (c + 1) * n), y(n);
                for (int i = 0; i < n; ++i) bc[i] = bcols[i * nrhs + c];
                const auto P = [&](int i) { return jp ? (*jp)[i] : i; };
                double err = 0.0;
                if (base % 2 == 1) {
                    for (int i = 0; i < n; ++i) y[i] = xc[P(i)];  // y = P' x
                    const std::vector<double> ry = vt::matmul(t.dense, y, n, n, 1);
                    const std::vector<double> rb = vt::matmul(t.dense, bc, n, n, 1);
                    err = mode < 10 ? vt::max_abs_diff(ry, bc) : vt::max_abs_diff(y, rb);
                } else {
                    std::vector<double> pb(n);
                    for (int i = 0; i < n; ++i) pb[i] = bc[P(i)];  // P' b
                    err = mode < 10 ? vt::max_abs_diff(vt::matmul(rt, xc, n, n, 1), pb)
                                    : vt::max_abs_diff(xc, vt::matmul(rt, pb, n, n, 1));
                }
                EXPECT_LE(err, kTol) << "mode " << mode << (jp ? " pivoted" : "") << " rhs " << c;
            }
        }
    }
}

TEST(Zqrsol, ProductRtRInPlaceAndResultCodes) {
    const int n = 5;
    const Tri t = random_upper(n, 810);
    std::vector<double> v = vt::random_dense(1, n, 811), work(n);
    const std::vector<double> v0 = v;
    ASSERT_EQ(zqrsol(17, n, 1, 0, n, n, nullptr, t.packed.data(), v.data(), v.data(), nullptr, work.data()), 0);
    ASSERT_EQ(zqrsol(18, n, 1, 0, n, n, nullptr, t.packed.data(), v.data(), v.data(), nullptr, work.data()), 0);
    const vt::Dense rtr = vt::matmul(vt::transpose(t.dense, n, n), t.dense, n, n, n);
    EXPECT_LE(vt::max_abs_diff(v, vt::matmul(rtr, v0, n, n, 1)), kTol);
    // Solve modes 7 and 8 in place undo it.
    ASSERT_EQ(zqrsol(8, n, 1, 0, n, n, nullptr, t.packed.data(), v.data(), v.data(), nullptr, work.data()), 0);
    ASSERT_EQ(zqrsol(7, n, 1, 0, n, n, nullptr, t.packed.data(), v.data(), v.data(), nullptr, work.data()), 0);
    EXPECT_LE(vt::max_abs_diff(v, v0), kTol);
    for (int mode : {0, 9, 10, 19}) {
        EXPECT_EQ(zqrsol(mode, n, 1, n, 1, n, nullptr, t.dense.data(), v.data(), v.data(), nullptr, work.data()), -1);
    }
    EXPECT_EQ(zqrsol(1, n, 0, n, 1, n, nullptr, t.dense.data(), v.data(), v.data(), nullptr, work.data()), 0);
    // One zero diagonal element in diag, three right-hand sides: 3 / 3.
    std::vector<double> diag(n);
    for (int i = 0; i < n; ++i) diag[i] = t.dense[i * n + i];
    diag[2] = 0.0;
    vt::Dense b(n * 3, 1.0), x(3 * n);
    EXPECT_EQ(zqrsol(1, n, 3, n, 3, n, nullptr, t.dense.data(), b.data(), x.data(), diag.data(), work.data()), 1);
    EXPECT_EQ(x[2], 0.0);
}

}  // namespace
