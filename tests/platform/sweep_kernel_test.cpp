// The symmetric sweep operator against its defining identities: a full
// sweep gives minus the inverse, a partial sweep the regression
// coefficients and the Schur complement, sweeps commute, a second sweep
// restores up to the sign of the pivot's row, and unswept pivots change
// nothing.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace {

constexpr double kTol = 1e-12;

using velix::pk;

// Packed B B' + I for a seeded random B: positive definite.
std::vector<double> spd(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> b(n * n);
    for (double& v : b) v = u(gen);
    std::vector<double> a(n * (n + 1) / 2);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = i == j ? 1.0 : 0.0;
            for (int k = 0; k < n; ++k) s += b[i * n + k] * b[j * n + k];
            a[pk(i, j)] = s;
        }
    return a;
}

TEST(Zsweep, AllPivotsGiveMinusTheInverse) {
    const int n = 7;
    const std::vector<double> a = spd(n, 1);
    std::vector<double> s = a, work(n);
    std::string flags(n, '0');
    for (int k = 0; k < n; ++k) zsweep(s.data(), k, n, flags.data(), work.data(), -DBL_MIN);
    EXPECT_EQ(flags, std::string(n, '1'));
    double worst = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double v = 0;
            for (int k = 0; k < n; ++k) v -= a[pk(i, k)] * s[pk(k, j)];
            worst = std::max(worst, std::fabs(v - (i == j ? 1.0 : 0.0)));
        }
    EXPECT_LT(worst, kTol) << "max |A (-S) - I| = " << worst;
    for (int k = 0; k < n; ++k) EXPECT_LT(s[pk(k, k)], 0.0);
}

TEST(Zsweep, PartialSweepGivesRegressionAndSchurComplement) {
    const int n = 5;
    const std::vector<double> a = spd(n, 2);
    std::vector<double> s = a, work(n);
    std::string flags(n, '0');
    const int p[2] = {1, 3};
    const int q[3] = {0, 2, 4};
    for (int k : p) zsweep(s.data(), k, n, flags.data(), work.data(), 0.0);
    EXPECT_EQ(flags, "01010");
    for (int i : q) {
        // Coefficients b solve b A_PP = A_iP.
        for (int j : p) {
            double v = 0;
            for (int l : p) v += s[pk(i, l)] * a[pk(l, j)];
            EXPECT_NEAR(v, a[pk(i, j)], kTol);
        }
        // Residual block: A_QQ - b A_PQ.
        for (int j : q) {
            double v = a[pk(i, j)];
            for (int l : p) v -= s[pk(i, l)] * a[pk(l, j)];
            EXPECT_NEAR(s[pk(i, j)], v, kTol);
        }
    }
}

TEST(Zsweep, SweepsCommute) {
    const int n = 4;
    std::vector<double> x = spd(n, 3), y = x, work(n);
    std::string f1(n, '0'), f2(n, '0');
    zsweep(x.data(), 0, n, f1.data(), work.data(), 0.0);
    zsweep(x.data(), 2, n, f1.data(), work.data(), 0.0);
    zsweep(y.data(), 2, n, f2.data(), work.data(), 0.0);
    zsweep(y.data(), 0, n, f2.data(), work.data(), 0.0);
    for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(x[i], y[i], kTol);
}

TEST(Zsweep, SecondSweepRestoresUpToTheSignOfThePivotRow) {
    const int n = 5, k = 2;
    const std::vector<double> a = spd(n, 4);
    std::vector<double> s = a, work(n);
    std::string flags(n, '0');
    zsweep(s.data(), k, n, flags.data(), work.data(), 0.0);
    // The pivot is now negative: a tolerance of -DBL_MIN leaves it alone.
    const std::vector<double> once = s;
    zsweep(s.data(), k, n, flags.data(), work.data(), -DBL_MIN);
    EXPECT_EQ(s, once);
    zsweep(s.data(), k, n, flags.data(), work.data(), -DBL_MAX);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            const double sign = (i == k) != (j == k) ? -1.0 : 1.0;
            EXPECT_NEAR(s[pk(i, j)], sign * a[pk(i, j)], kTol) << i << "," << j;
        }
}

TEST(Zsweep, UnsweptPivotChangesNothing) {
    const int n = 3;
    std::vector<double> a = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};  // a(0,0) = 0
    const std::vector<double> saved = a;
    std::vector<double> work(n);
    std::string flags = "000";
    zsweep(a.data(), 0, n, flags.data(), work.data(), -DBL_MIN);  // zero pivot
    zsweep(a.data(), 1, n, flags.data(), work.data(), 2.5);       // pivot 2 not above 2.5
    zsweep(a.data(), 3, n, flags.data(), work.data(), 0.0);       // outside the matrix
    zsweep(a.data(), -1, n, flags.data(), work.data(), 0.0);
    EXPECT_EQ(a, saved);
    EXPECT_EQ(flags, "000");
    zsweep(a.data(), 2, n, flags.data(), work.data(), 2.5);  // pivot 5 is above
    EXPECT_EQ(flags, "001");
    EXPECT_DOUBLE_EQ(a[5], -0.2);
    EXPECT_DOUBLE_EQ(a[3], 3.0 / 5.0);
}

}  // namespace
