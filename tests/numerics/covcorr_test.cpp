// Covariance to correlation and the covariance inverse: inverse times A = I
// on definite, indefinite and badly scaled matrices, the info block against
// LAPACK's dsyev eigenvalues, the singular and determinant-only paths and
// the diagonal case.
#include "numerics/covcorr.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <vector>

#include "numerics/udu.h"
#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-10;  // relative, order up to 40
constexpr double kCrit = 1e-12;  // the three singularity criteria

TEST(Zcovcor, CorrelationsAndZeroVariance) {
    std::vector<double> a = {4, 3, 9}, sd(3);
    zcovcor(2, a.data(), sd.data());
    EXPECT_EQ(sd[0], 2.0);
    EXPECT_EQ(sd[1], 3.0);
    EXPECT_EQ(a, (std::vector<double>{1.0, 0.5, 1.0}));
    a = {4, 1, 0, 3, 0, 9};
    zcovcor(3, a.data(), sd.data());
    EXPECT_EQ(sd[1], 0.0);
    EXPECT_EQ(a[1], 0.0);
    EXPECT_EQ(a[2], 0.0);
    EXPECT_EQ(a[4], 0.0);
    EXPECT_DOUBLE_EQ(a[3], 0.5);
    // A negligible correlation is cleared.
    a = {1, 1e-14, 1};
    zcovcor(2, a.data(), sd.data());
    EXPECT_EQ(a[1], 0.0);
}

TEST(Zcovinv, InverseAndInfoOnDefiniteIndefiniteAndScaledMatrices) {
    struct Case { const char* name; vt::Dense a; int n; };
    std::vector<Case> cases;
    cases.push_back({"spd", vt::random_spd(15, 1700), 15});
    cases.push_back({"indefinite", vt::random_symmetric(40, 1701), 40});
    vt::Dense bad = vt::random_spd(8, 1702);
    for (int i = 0; i < 8; ++i)  // diagonal scales from 1e-6 to 1e8
        for (int j = 0; j < 8; ++j) bad[i * 8 + j] *= std::pow(10.0, i - 3) * std::pow(10.0, j - 3);
    cases.push_back({"badly scaled", bad, 8});
    for (const Case& c : cases) {
        const int n = c.n;
        std::vector<double> p = vt::to_packed(c.a, n), sd(n), tolv(n);
        std::vector<int32_t> kpvt(n);
        double info[5];
        // No criterion relative to the largest diagonal: the badly scaled
        // matrix spans 14 decades of variance.
        ASSERT_EQ(zcovinv(0, 0, n, kCrit, 0.0, kCrit, p.data(), info, sd.data(), tolv.data(), kpvt.data()), 1)
            << c.name;
        // Judge the inverse on the equilibrated scale: D^-1 A D^-1 times D X D.
        const vt::Dense inv = vt::from_packed(p, n);
        vt::Dense s1(n * n), s2(n * n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                s1[i * n + j] = c.a[i * n + j] / (sd[i] * sd[j]);
                s2[i * n + j] = inv[i * n + j] * sd[i] * sd[j];
            }
        EXPECT_LE(vt::identity_error(s2, s1, n), kTol * n) << c.name << " worst |inv(A) A - I|";
        const std::vector<double> w = vt::eigenvalues(c.a, n);
        int pos = 0, neg = 0;
        double logdet = 0.0;
        for (double v : w) {
            pos += v > 0;
            neg += v < 0;
            logdet += std::log10(std::fabs(v));
        }
        EXPECT_EQ(info[2], pos) << c.name;
        EXPECT_EQ(info[3], neg) << c.name;
        EXPECT_EQ(info[4], 0.0) << c.name;
        EXPECT_NEAR(vt::pair_log10(info), logdet, 1e-9 * n) << c.name;
    }
}

TEST(Zcovinv, SingularDeterminantOnlyEmptyAndUnscaled) {
    const vt::Dense rank2 = {1, 2, 3, 2, 5, 7, 3, 7, 10};
    std::vector<double> p = vt::to_packed(rank2, 3), sd(3), tolv(3);
    std::vector<int32_t> kpvt(3);
    double info[5];
    EXPECT_EQ(zcovinv(0, 0, 3, kCrit, kCrit, 1e-8, p.data(), info, sd.data(), tolv.data(), kpvt.data()), -1);
    EXPECT_EQ(info[0], 0.0);
    EXPECT_EQ(info[1], 0.0);
    EXPECT_EQ(info[4], 1.0);
    EXPECT_EQ(info[2] + info[3], 2.0);
    // Determinant only: the factors stay, the pair is that of the unscaled matrix.
    const vt::Dense a = {4, 2, 2, 3};  // det 8
    p = vt::to_packed(a, 2);
    EXPECT_EQ(zcovinv(1, 0, 2, kCrit, kCrit, kCrit, p.data(), info, sd.data(), tolv.data(), kpvt.data()), 1);
    EXPECT_NEAR(std::pow(10.0, vt::pair_log10(info)), 8.0, 1e-12);
    EXPECT_NE(p, vt::to_packed(a, 2));
    std::vector<double> untouched = {7.0};
    EXPECT_EQ(zcovinv(0, 0, 0, kCrit, kCrit, kCrit, untouched.data(), info, sd.data(), tolv.data(), kpvt.data()), 0);
    EXPECT_EQ(untouched[0], 7.0);
    // A zero diagonal prevents the scaling: unscaled inverse, result 0.
    p = {0, 1, 0};
    EXPECT_EQ(zcovinv(0, 0, 2, kCrit, kCrit, kCrit, p.data(), info, sd.data(), tolv.data(), kpvt.data()), 0);
    EXPECT_EQ(p, (std::vector<double>{0, 1, 0}));
    EXPECT_EQ(info[0], -1.0);
}

// From order 80 a definite matrix takes the blocked Cholesky inverse: the
// same inverse as the UDU' decomposition's to rounding, and the same info
// block.  A matrix with a pivot under its tolerance, and an indefinite one,
// stay with UDU'.
TEST(Zcovinv, BlockedCholeskyAgreesWithTheUduInverse) {
    const int n = 150;
    vt::Dense a = vt::random_spd(n, 1710);
    for (int i = 0; i < n; ++i)  // variances from 1e-2 to 1e2
        for (int j = 0; j < n; ++j) a[i * n + j] *= std::pow(10.0, (i % 5 + j % 5) / 2.0 - 2.0);
    std::vector<double> p = vt::to_packed(a, n), udu = p, sd(n), tolv(n), work(n);
    std::vector<int32_t> kpvt(n);
    double info[5], uduInfo[5];
    ASSERT_EQ(zcovinv(0, 0, n, kCrit, kCrit, kCrit, p.data(), info, sd.data(), tolv.data(), kpvt.data()), 1);
    ASSERT_EQ(zududec(n, 0.0, uduInfo, udu.data(), kpvt.data()), 0);
    zuduinv(n, udu.data(), kpvt.data(), work.data());
    double worst = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            const double scale = std::sqrt(udu[vt::pk(i, i)] * udu[vt::pk(j, j)]);
            worst = std::max(worst, std::fabs(p[vt::pk(i, j)] - udu[vt::pk(i, j)]) / scale);
        }
    EXPECT_LE(worst, 1e-12) << "worst difference relative to the diagonal";
    EXPECT_NEAR(vt::pair_log10(info), vt::pair_log10(uduInfo), 1e-12 * n);
    EXPECT_EQ(info[2], n);
    EXPECT_EQ(info[3] + info[4], 0.0);
    // The last column made a combination of two others to 1e-7: a pivot
    // falls under VSINGULAR=1e-8, and the UDU' decomposition the blocked
    // form gives way to finds the matrix singular.
    vt::Dense dep = vt::random_spd(n, 1711);
    for (int i = 0; i < n; ++i) dep[i * n + n - 1] = dep[(n - 1) * n + i] = dep[i * n + 3] + dep[i * n + 7];
    dep[n * n - 1] = dep[3 * n + 3] + 2 * dep[3 * n + 7] + dep[7 * n + 7] + 1e-7;
    p = vt::to_packed(dep, n);
    EXPECT_EQ(zcovinv(0, 0, n, kCrit, kCrit, 1e-8, p.data(), info, sd.data(), tolv.data(), kpvt.data()), -1);
    EXPECT_EQ(info[4], 1.0);
    EXPECT_EQ(info[0], 0.0);
    const vt::Dense indefinite = vt::random_symmetric(100, 1712);
    p = vt::to_packed(indefinite, 100);
    ASSERT_GE(zcovinv(0, 0, 100, kCrit, kCrit, kCrit, p.data(), info, sd.data(), tolv.data(), kpvt.data()), 0);
    EXPECT_GT(info[3], 0.0);
    EXPECT_LE(vt::identity_error(vt::from_packed(p, 100), indefinite, 100), 1e-8);
}

TEST(Dodiag, DiagonalCase) {
    std::vector<double> d = {2, -4};
    double info[5];
    ASSERT_EQ(dodiag(0, 2, kCrit, kCrit, d.data(), info), 0);
    EXPECT_EQ(d, (std::vector<double>{0.5, -0.25}));
    EXPECT_EQ(info[0], -8.0);
    EXPECT_EQ(info[1], 0.0);
    EXPECT_EQ(info[2], 1.0);
    EXPECT_EQ(info[3], 1.0);
    // Through zcovinv with the diagonal form, determinant only.
    d = {2, -4};
    std::vector<double> sd(2), tolv(2);
    std::vector<int32_t> kpvt(2);
    EXPECT_EQ(zcovinv(1, 2, 2, kCrit, kCrit, kCrit, d.data(), info, sd.data(), tolv.data(), kpvt.data()), 0);
    EXPECT_EQ(d, (std::vector<double>{2, -4}));
    d = {1e6, 1e-9, 3};
    EXPECT_EQ(dodiag(0, 3, 0.0, 1e-12, d.data(), info), -1);
    EXPECT_EQ(info[4], 1.0);
    EXPECT_EQ(info[2], 2.0);
    EXPECT_EQ(info[0], 0.0);
    EXPECT_EQ(d[1], 1e-9);
}

// Judged on the correlation form, the criteria give one verdict at any
// diagonal scale S (here 1e-8 to 1e8): x3 = x1 + x2 exactly is singular,
// and x3 = x1 + x2 + noise with 1 - R^2 = 1e-6 is regular under the
// defaults but negligible under a criterion above 1e-6, whichever of the
// three carries it.  The raw defaults, with the bound relative to the
// largest diagonal, call the scaled regular matrix singular.
TEST(UnitFreeCriteria, OneVerdictAtAnyScale) {
    const double asing = 1.491668146240041e-154, msing = 1e-12, vsing = 1.053671212772351e-08;
    auto pivots_negligible = [](const vt::Dense& base, double s3, SingularityCriteria c) {
        const double s[3] = {1.0, 1e-8 * s3, s3};
        vt::Dense a = base;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) a[i * 3 + j] *= s[i] * s[j];
        std::vector<double> p = vt::to_packed(a, 3), sd(3), tolv(3);
        std::vector<int32_t> kpvt(3);
        double info[5];
        return zcovinv(0, 0, 3, c.absolute, c.largest, c.own, p.data(), info, sd.data(), tolv.data(), kpvt.data()) < 0;
    };
    // Cov of x1, x2 (unit variances, uncorrelated) and x3 = x1 + x2 + e.
    const double e = 2e-6;  // Var e: 1 - R^2 = e / (2 + e)
    const vt::Dense singular = {1, 0, 1, 0, 1, 1, 1, 1, 2};
    const vt::Dense regular = {1, 0, 1, 0, 1, 1, 1, 1, 2 + e};
    for (const double s3 : {1e-8, 1.0, 1e8}) {
        SCOPED_TRACE(s3);
        EXPECT_TRUE(pivots_negligible(singular, s3, unit_free_criteria(asing, msing, vsing)));
        EXPECT_FALSE(pivots_negligible(regular, s3, unit_free_criteria(asing, msing, vsing)));
        EXPECT_TRUE(pivots_negligible(regular, s3, unit_free_criteria(1e-5, msing, vsing)));
        EXPECT_TRUE(pivots_negligible(regular, s3, unit_free_criteria(asing, 1e-5, vsing)));
        EXPECT_TRUE(pivots_negligible(regular, s3, unit_free_criteria(asing, msing, 1e-5)));
    }
    EXPECT_TRUE(pivots_negligible(regular, 1e8, {asing, msing, vsing}));
}

}  // namespace
