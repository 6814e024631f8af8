// Host vector kernels against direct formulas and the norm's safety at the
// extremes of the double range.
#include "velix/host_vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kTol = 1e-14;  // relative, a few roundings of short sums

TEST(VectorKernels, StridedInnerProductsAndSums) {
    const std::vector<double> x = {1, -2, 3, -4, 5, -6};
    const std::vector<double> y = {2, 1, 0.5, -1, 4, 3};
    EXPECT_DOUBLE_EQ(zinner(x.data(), y.data(), 6), 2 - 2 + 1.5 + 4 + 20 - 18);
    EXPECT_DOUBLE_EQ(zvdot11(x.data(), y.data(), 3), 2 - 2 + 1.5);
    EXPECT_DOUBLE_EQ(zvdotj1(x.data(), 2, y.data(), 3), 1 * 2 + 3 * 1 + 5 * 0.5);
    EXPECT_DOUBLE_EQ(zvdotjj(x.data(), 2, y.data(), 3, 2), 1 * 2 + 3 * -1);
    EXPECT_DOUBLE_EQ(zvasumj(x.data(), 1, 6), 21.0);
    EXPECT_DOUBLE_EQ(zvamxj(x.data(), 2, 3), 5.0);
    EXPECT_DOUBLE_EQ(zvamxj(x.data(), 1, 6), 6.0);
    EXPECT_DOUBLE_EQ(zvsum(x.data(), 6), -3.0);
    EXPECT_EQ(zinner(x.data(), y.data(), 0), 0.0);
    EXPECT_EQ(zvamxj(x.data(), 1, 0), 0.0);
}

TEST(VectorKernels, NormIsOverflowAndUnderflowSafe) {
    const double big = 1e300;
    std::vector<double> x = {3 * big, 4 * big};
    EXPECT_NEAR(zvenorm(2, 1, x.data()) / (5 * big), 1.0, kTol);
    const double tiny = 1e-310;  // subnormal: squares would flush to zero
    x = {3 * tiny, 0.0, 4 * tiny};
    EXPECT_NEAR(zvenorm(2, 2, x.data()) / (5 * tiny), 1.0, 1e-6);
    x = {1, 2, 2, 0, 4};
    EXPECT_NEAR(zvenorm(5, 1, x.data()), 5.0, kTol);
    EXPECT_EQ(zvenorm(0, 1, x.data()), 0.0);
}

TEST(VectorKernels, AxpyVariantsAndRotation) {
    std::vector<double> x = {1, 2, 3, 4};
    std::vector<double> y = {10, 20, 30, 40};
    std::vector<double> d(4);
    zvaxpy(4, 2.0, x.data(), y.data(), d.data());
    EXPECT_EQ(d, (std::vector<double>{12, 24, 36, 48}));
    zvxay11(2, -1.0, x.data(), y.data());
    EXPECT_EQ(y, (std::vector<double>{9, 18, 30, 40}));
    std::vector<double> u = {0, 0};
    zvxay1j(2, 0.5, x.data(), 2, u.data());
    EXPECT_EQ(u, (std::vector<double>{0.5, 1.5}));
    zvxayj1(2, 1.0, u.data(), y.data(), 3);
    EXPECT_EQ(y, (std::vector<double>{9.5, 18, 30, 41.5}));
    zvscl11(4, -1.0, x.data(), d.data());
    EXPECT_EQ(d, (std::vector<double>{-1, -2, -3, -4}));
    std::vector<double> a = {1, 0};
    std::vector<double> b = {0, 1};
    zvrotg(2, a.data(), 1, b.data(), 1, 0.6, 0.8);
    EXPECT_NEAR(a[0], 0.6, kTol);
    EXPECT_NEAR(a[1], 0.8, kTol);
    EXPECT_NEAR(b[0], -0.8, kTol);
    EXPECT_NEAR(b[1], 0.6, kTol);
}

TEST(VectorKernels, QuadraticFormMatchesDenseProduct) {
    // T (2x2) = [[2, 1], [1, 3]], L (3x2).
    const std::vector<double> t = {2, 1, 3};
    const std::vector<double> l = {1, 0, 0, 1, 1, -2};
    const double td[2][2] = {{2, 1}, {1, 3}};
    std::vector<double> out(6), work(2);
    zqform(t.data(), 2, l.data(), 3, out.data(), work.data(), 0);
    int idx = 0;
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int r = 0; r < 2; ++r)
                for (int c = 0; c < 2; ++c) s += l[i * 2 + r] * td[r][c] * l[j * 2 + c];
            worst = std::max(worst, std::fabs(out[idx++] - s));
        }
    EXPECT_LE(worst, kTol) << "worst |LTL' - dense|";
}

}  // namespace
