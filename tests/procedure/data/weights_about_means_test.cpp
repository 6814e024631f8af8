// The WLS weight of a model with means formed about the sample means: the
// covariance of the products about zero that it gives is the one taken
// directly from those products, and its factor is a lower triangular root
// of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/packed.h"
#include "procedure/data/data.h"
#include "velix/packed_index.h"

namespace {

using velix::pk;

// The covariance (divisor N) of the packed products of the rows of x
// (N x n, row-major), the constant's own product's row and column 0 but
// for a 1 on the diagonal.
std::vector<double> product_covariance(const std::vector<double>& x, int32_t rows, int32_t n) {
    const int32_t p = n * (n + 1) / 2;
    std::vector<double> mean(p, 0.0), gamma(static_cast<size_t>(p) * (p + 1) / 2, 0.0), t(p);
    auto products = [&](int32_t r) {
        for (int32_t i = 0, a = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j, ++a) t[a] = x[r * n + i] * x[r * n + j];
    };
    for (int32_t r = 0; r < rows; ++r) {
        products(r);
        for (int32_t a = 0; a < p; ++a) mean[a] += t[a] / rows;
    }
    for (int32_t r = 0; r < rows; ++r) {
        products(r);
        for (int32_t a = 0; a < p; ++a)
            for (int32_t b = 0; b <= a; ++b) gamma[pk(a, b)] += (t[a] - mean[a]) * (t[b] - mean[b]) / rows;
    }
    const int64_t kk = pk(n - 1, n - 1);
    for (int32_t b = 0; b < p; ++b) gamma[pk(kk, b)] = 0.0;
    gamma[pk(kk, kk)] = 1.0;
    return gamma;
}

TEST(WeightsAboutMeans, GiveTheCovarianceOfTheProductsAboutZeroAndARootOfIt) {
    // Three variables and the constant; a fixed pseudo-random sample whose
    // means lie a few standard deviations from zero, where the products
    // about zero still give their covariance to about 12 digits.
    const int32_t n = 4, rows = 40, p = n * (n + 1) / 2;
    std::vector<double> x(rows * n), z(rows * n), means(n, 0.0);
    uint32_t state = 12345;
    auto uniform = [&] { state = state * 1664525u + 1013904223u; return (state >> 8) / 16777216.0 - 0.5; };
    const double shift[3] = {3.0, -2.0, 5.0};
    for (int32_t r = 0; r < rows; ++r) {
        const double e = uniform();
        for (int32_t i = 0; i < 3; ++i) x[r * n + i] = shift[i] + uniform() + (i + 1) * e * e;
        x[r * n + 3] = 1.0;
    }
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t i = 0; i < 3; ++i) means[i] += x[r * n + i] / rows;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t i = 0; i < 3; ++i) z[r * n + i] = x[r * n + i] - means[i];
        z[r * n + 3] = 1.0;
    }
    const std::vector<double> aboutZero = product_covariance(x, rows, n), centred = product_covariance(z, rows, n);

    std::vector<double> gamma(centred.size());
    velix::detail::gamma_about_zero(means.data(), n, n - 1, centred.data(), gamma.data());
    double worst = 0.0;
    for (size_t e = 0; e < gamma.size(); ++e)
        worst = std::max(worst, std::fabs(gamma[e] - aboutZero[e]) / std::max(1.0, std::fabs(aboutZero[e])));
    EXPECT_LT(worst, 1e-11) << "B Gamma_t B' against the products about zero";

    std::vector<double> root = centred, factor(centred.size());
    double logdet = 0.0;
    ASSERT_EQ(coscdec(p, 0.0, &logdet, root.data()), 0);
    velix::detail::factor_about_zero(means.data(), n, n - 1, root.data(), factor.data());
    worst = 0.0;
    for (int32_t a = 0; a < p; ++a) {
        EXPECT_GT(factor[pk(a, a)], 0.0) << "diagonal " << a;
        for (int32_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (int32_t c = 0; c <= b; ++c) s += factor[pk(a, c)] * factor[pk(b, c)];
            worst = std::max(worst, std::fabs(s - aboutZero[pk(a, b)]) / std::max(1.0, std::fabs(aboutZero[pk(a, b)])));
        }
    }
    EXPECT_LT(worst, 1e-11) << "L L' against the products about zero";
}

}  // namespace
