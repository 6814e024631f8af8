// The moments of a model with means: the covariances and means out of the
// moments about zero (their closed form, and the derivatives against
// central differences), the map back (its quadratic forms against the
// closed form of the covariances and means), and the independence model
// with free means against its stationarity, computed here from each
// method's discrepancy, and against the closed forms of GLS and ML.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "numerics/packed.h"
#include "procedure/results/fit_indices.h"
#include "procedure/results/mean_structure.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace {

using velix::pk;
using Packed = std::vector<double>;

// Three variables and the constant (last): covariances Sigma, means mu and
// the constant's moment c, and the moments about zero they make.
constexpr int32_t kN = 4, kK = 3, kP = kN * (kN + 1) / 2;
const double kSigma[3][3] = {{2.0, 0.6, -0.3}, {0.6, 1.5, 0.4}, {-0.3, 0.4, 1.2}};
const double kMu[3] = {1.5, -0.7, 3.2};
constexpr double kC = 301.0 / 300.0;

Packed about_zero(const double sigma[3][3], const double* mu, double c) {
    Packed a(kP);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j <= i; ++j) a[pk(i, j)] = sigma[i][j] + c * mu[i] * mu[j];
        a[pk(i, kK)] = c * mu[i];
    }
    a[pk(kK, kK)] = c;
    return a;
}

// The sample of the null-model tests: data moments with correlations, so
// that the independence model misfits, and means away from 0.
Packed sample() {
    const double s[3][3] = {{1.8, 0.9, 0.5}, {0.9, 2.2, 0.7}, {0.5, 0.7, 1.1}};
    const double m[3] = {2.0, -1.0, 4.0};
    return about_zero(s, m, kC);
}

TEST(MeanStructure, CenteringGivesTheCovariancesAndMeans) {
    Packed a = about_zero(kSigma, kMu, kC);
    ASSERT_TRUE(center_moments(a.data(), kN, kK));
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j <= i; ++j) EXPECT_NEAR(a[pk(i, j)], kSigma[i][j], 1e-14) << i << "," << j;
        EXPECT_NEAR(a[pk(i, kK)], kMu[i], 1e-14) << "mean " << i;
    }
    EXPECT_EQ(a[pk(kK, kK)], 1.0);
    Packed none = about_zero(kSigma, kMu, 0.0);
    EXPECT_FALSE(center_moments(none.data(), kN, kK));

    // From a model: y = 2 + 1.5 e1 + 0.5 e2, z = 3 + e2 and the constant
    // (variables 0, 1, 2) of the parts (constant, e1, e2) with P; the
    // covariances and means of T P T' centred, and z's variance that of e2
    // exactly.
    const double t[3][3] = {{2.0, 1.5, 0.5}, {3.0, 0.0, 1.0}, {1.0, 0.0, 0.0}};
    const double p[3][3] = {{kC, 0.0, 0.0}, {0.0, 0.7, 0.1}, {0.0, 0.1, 0.3}};
    Packed moments(6, 0.0), out(6);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j)
            for (int x = 0; x < 3; ++x)
                for (int y = 0; y < 3; ++y) moments[pk(i, j)] += t[i][x] * p[x][y] * t[j][y];
    ASSERT_TRUE(centered_implied_moments(&t[0][0], &p[0][0], 3, 3, 2, 0, out.data()));
    ASSERT_TRUE(center_moments(moments.data(), 3, 2));
    for (int e = 0; e < 6; ++e) EXPECT_NEAR(out[e], moments[e], 1e-13) << "element " << e;
    EXPECT_EQ(out[pk(1, 1)], 0.3);
    EXPECT_EQ(out[pk(1, 2)], 3.0);
}

TEST(MeanStructure, JacobianOfTheCenteringMatchesCentralDifferences) {
    const Packed a = about_zero(kSigma, kMu, kC);
    // Two directions of the moments about zero, one moving the constant's
    // moment too.
    Packed d(2 * kP);
    for (int32_t e = 0; e < kP; ++e) {
        d[e] = std::sin(1.0 + e);
        d[kP + e] = std::cos(2.0 * e);
    }
    d[pk(kK, kK)] = 0.0;
    Packed out(2 * kP);
    center_jacobian(a.data(), kN, kK, d.data(), 2, out.data());
    const double h = 1e-6;
    for (int32_t r = 0; r < 2; ++r)
        for (int32_t e = 0; e < kP; ++e) {
            Packed up = a, down = a;
            for (int32_t f = 0; f < kP; ++f) {
                up[f] += h * d[r * kP + f];
                down[f] -= h * d[r * kP + f];
            }
            center_moments(up.data(), kN, kK);
            center_moments(down.data(), kN, kK);
            EXPECT_NEAR(out[r * kP + e], (up[e] - down[e]) / (2 * h), 1e-8) << "direction " << r << " moment " << e;
        }
}

TEST(MeanStructure, QuadraticFormsReadThroughTheMapAreThoseOfCovariancesAndMeans) {
    const Packed a = about_zero(kSigma, kMu, kC);
    Packed inverse = a;
    double det[2];
    ASSERT_EQ(coschin(kN, 1e-12, det, inverse.data()), 0);
    // A change R of the covariances and r of the means.
    const double R[3][3] = {{0.3, -0.2, 0.1}, {-0.2, 0.5, 0.05}, {0.1, 0.05, -0.4}};
    const double r[3] = {0.25, -0.1, 0.35};
    Packed v(kP, 0.0);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j <= i; ++j) v[pk(i, j)] = R[i][j];
        v[pk(i, kK)] = r[i];
    }
    const double mean[4] = {kMu[0], kMu[1], kMu[2], 0.0};
    Packed x(kP);
    moments_about_zero(v.data(), mean, kC, kN, kK, x.data());
    // tr((Sigma^-1 R)^2) + 2c r' Sigma^-1 r, Sigma^-1 from the covariances.
    Packed sigma(6), sigmaInv(6);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) sigma[pk(i, j)] = kSigma[i][j];
    sigmaInv = sigma;
    ASSERT_EQ(coschin(3, 1e-12, det, sigmaInv.data()), 0);
    Packed rPacked(6);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) rPacked[pk(i, j)] = R[i][j];
    double quad = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) quad += r[i] * sigmaInv[pk(i, j)] * r[j];
    const double want = fit_gfi_denominator_gls(sigmaInv.data(), rPacked.data(), 3) + 2.0 * kC * quad;
    EXPECT_NEAR(fit_gfi_denominator_gls(inverse.data(), x.data(), kN), want, 1e-12 * want);
}

// The independence model's moments at theta = (variances, means).
Packed null_moments(const std::vector<double>& theta, double c) {
    const double d[3][3] = {{theta[0], 0, 0}, {0, theta[1], 0}, {0, 0, theta[2]}};
    return about_zero(d, theta.data() + 3, c);
}

// Each method's discrepancy of M - Sigma0, written from its definition.
double discrepancy(int32_t method, const Packed& w, const Packed& m, const Packed& s0) {
    Packed r(kP);
    for (int32_t e = 0; e < kP; ++e) r[e] = m[e] - s0[e];
    double f = 0.0;
    if (method == kMethodUls) {
        for (int32_t i = 0; i < kN; ++i)
            for (int32_t j = 0; j < kN; ++j) f += 0.5 * r[pk(i, j)] * r[pk(i, j)];
    } else if (method == kMethodGls) {
        f = 0.5 * fit_gfi_denominator_gls(w.data(), r.data(), kN);
    } else if (method == kMethodDwls) {
        for (int32_t e = 0; e < kP; ++e) f += w[e] * w[e] * r[e] * r[e];
    } else {  // WLS: r' (L L')^-1 r
        Packed y = r;
        cosfsub(kP, 1, 0.0, w.data(), y.data());
        for (double t : y) f += t * t;
    }
    return f;
}

TEST(MeanStructure, IndependenceModelWithFreeMeansIsStationary) {
    const Packed m = sample();
    Packed mInverse = m;
    double det[2];
    ASSERT_EQ(coschin(kN, 1e-12, det, mInverse.data()), 0);
    // A GLS weight that is not M^-1, DWLS weights, and a WLS factor: the
    // lower triangle of a well-conditioned matrix.
    Packed glsOther = mInverse, dwls(kP), wls(kP * (kP + 1) / 2, 0.0);
    for (int32_t i = 0; i < kN; ++i) glsOther[pk(i, i)] *= 1.5;
    for (int32_t e = 0; e < kP; ++e) dwls[e] = 0.5 + 0.1 * e;
    for (int32_t i = 0; i < kP; ++i)
        for (int32_t j = 0; j <= i; ++j) wls[pk(i, j)] = i == j ? 1.0 + 0.2 * i : 0.05 * std::sin(i + 2.0 * j);
    const struct {
        int32_t method;
        const Packed* weight;
    } cases[] = {{kMethodUls, nullptr}, {kMethodGls, &mInverse}, {kMethodGls, &glsOther},
                 {kMethodDwls, &dwls},  {kMethodWls, &wls}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.method);
        MomentMetric metric;
        metric.method = c.method;
        metric.weight = c.weight ? c.weight->data() : nullptr;
        const Packed w = c.weight ? *c.weight : Packed();
        double f0 = 0.0;
        std::vector<double> theta(6);
        ASSERT_TRUE(fit_null_means(metric, m.data(), kN, kK, &f0, theta.data()));
        EXPECT_NEAR(discrepancy(c.method, w, m, null_moments(theta, kC)), f0, 1e-12 * f0);
        // Each parameter moved either way raises F: a minimum.
        for (size_t t = 0; t < theta.size(); ++t)
            for (double h : {-1e-4, 1e-4}) {
                std::vector<double> moved = theta;
                moved[t] += h;
                EXPECT_GT(discrepancy(c.method, w, m, null_moments(moved, kC)), f0) << "parameter " << t << " by " << h;
            }
    }
}

TEST(MeanStructure, IndependenceModelOfGlsAndMaximumLikelihoodKeepsTheSampleMeans) {
    const Packed m = sample();
    Packed s = m;
    ASSERT_TRUE(center_moments(s.data(), kN, kK));
    Packed cov(6), covInverse(6);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j) cov[pk(i, j)] = s[pk(i, j)];
    covInverse = cov;
    double det[2];
    ASSERT_EQ(coschin(3, 1e-12, det, covInverse.data()), 0);
    const double logDetS = std::log(det[0]) + det[1] * std::log(10.0);
    const double diagS[3] = {cov[0], cov[2], cov[5]};

    // GLS with the weight M^-1: the sample means, and the covariances' own
    // independence model with the weight S^-1.
    Packed mInverse = m;
    ASSERT_EQ(coschin(kN, 1e-12, det, mInverse.data()), 0);
    MomentMetric metric;
    metric.method = kMethodGls;
    metric.weight = mInverse.data();
    double f0 = 0.0;
    std::vector<double> theta(6);
    ASSERT_TRUE(fit_null_means(metric, m.data(), kN, kK, &f0, theta.data()));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(theta[3 + i], s[pk(i, kK)], 1e-10) << "mean " << i;
    bool solved = false;
    const double f0Cov = fit_null_gls(covInverse.data(), nullptr, diagS, 3, &solved);
    ASSERT_TRUE(solved);
    EXPECT_NEAR(f0, f0Cov, 1e-12 * f0Cov);

    // ML: sum ln s_ii - ln det S, whatever the constant's moment.
    const double logDetM = logDetS + std::log(kC);
    EXPECT_NEAR(fit_null_ml_means(m.data(), kN, kK, logDetM), fit_null_ml(diagS, 3, logDetS), 1e-13);
}

}  // namespace
