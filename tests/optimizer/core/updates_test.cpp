// The quasi-Newton updates: over 50 random steps the packed inverse H and
// the factored approximations B (LDL' and Cholesky) of one update formula
// stay inverse to each other and positive definite; the refusals leave the
// matrix; scaling and damping act as their rules say.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "optimizer/core/core.h"
#include "velix/nlp.h"

namespace {

using Vec = std::vector<double>;
size_t pk(int i, int j) { return i >= j ? size_t(i) * (i + 1) / 2 + j : size_t(j) * (j + 1) / 2 + i; }

// The dense B of a factor: LDL' (storage 2) or L L' with L = R' (else).
std::vector<Vec> from_factor(int storage, int k, const Vec& f) {
    std::vector<Vec> b(k, Vec(k, 0.0));
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j)
            for (int m = 0; m <= std::min(i, j); ++m) {
                if (storage == 2) {
                    const double li = i == m ? 1.0 : f[pk(i, m)], lj = j == m ? 1.0 : f[pk(j, m)];
                    b[i][j] += li * f[pk(m, m)] * lj;
                } else {
                    b[i][j] += f[pk(i, m)] * f[pk(j, m)];
                }
            }
    return b;
}

// Largest |H B - I| entry.
double inverse_error(int k, const Vec& h, const std::vector<Vec>& b) {
    double worst = 0.0;
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) {
            double s = 0.0;
            for (int m = 0; m < k; ++m) s += h[pk(i, m)] * b[m][j];
            worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
        }
    return worst;
}

Vec identity(int k) {
    Vec a(size_t(k) * (k + 1) / 2, 0.0);
    for (int i = 0; i < k; ++i) a[pk(i, i)] = 1.0;
    return a;
}

struct Updates : ::testing::TestWithParam<bool> {};  // true: DFP, false: BFGS

TEST_P(Updates, InverseAndFactorsStayConsistentOverRandomSteps) {
    const bool dfp = GetParam();
    const NlpUpdateFn update = dfp ? znlpdfp : znlpbfg;
    const int k = 6;
    NlpProblem p;
    p.shape.nParams = k;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    // y = A s for a fixed A with eigenvalues in [1, 5]: the curvature s'y
    // stays positive and above a tenth of s'Bs, so no update is damped.
    std::vector<Vec> a(k, Vec(k, 0.0));
    for (int i = 0; i < k; ++i) a[i][i] = 1.0 + 4.0 * i / (k - 1);
    Vec h = identity(k), ldl = identity(k), chol = identity(k);
    Vec w1(k), w2(k), w3(k * k);
    double worst = 0.0;
    for (int it = 0; it < 50; ++it) {
        Vec s(k), y(k, 0.0);
        for (int i = 0; i < k; ++i) s[i] = u(rng);
        for (int i = 0; i < k; ++i)
            for (int j = 0; j < k; ++j) y[i] += a[i][j] * s[j];
        Vec s1 = s, s2 = s, s3 = s, y1 = y;
        ASSERT_EQ(update(&p, 1, 0, k, s1.data(), y1.data(), h.data(), w1.data(), w2.data(), w3.data()), 0);
        ASSERT_EQ(update(&p, 2, 0, k, s2.data(), y1.data(), ldl.data(), w1.data(), w2.data(), w3.data()), 0);
        ASSERT_EQ(update(&p, 3, 0, k, s3.data(), y1.data(), chol.data(), w1.data(), w2.data(), w3.data()), 0);
        worst = std::max({worst, inverse_error(k, h, from_factor(2, k, ldl)),
                          inverse_error(k, h, from_factor(3, k, chol))});
        for (int i = 0; i < k; ++i) {
            EXPECT_GT(ldl[pk(i, i)], 0.0);     // D positive
            EXPECT_GT(chol[pk(i, i)], 0.0);    // R with a positive diagonal
        }
    }
    EXPECT_LT(worst, 1e-8) << "largest |H B - I| over 50 updates";
    EXPECT_EQ(p.run.nUpdates, 150);
}

INSTANTIATE_TEST_SUITE_P(DfpAndBfgs, Updates, ::testing::Values(true, false));

TEST(UpdateRefusals, LeaveTheMatrixAsItWas) {
    NlpProblem p;
    p.shape.nParams = 2;
    Vec h = identity(2), w1(2), w2(2), w3(4);
    Vec s = {1.0, 0.0}, y = {0.0, 1.0};  // s'y = 0
    EXPECT_EQ(znlpbfg(&p, 1, 0, 2, s.data(), y.data(), h.data(), w1.data(), w2.data(), w3.data()), 3);
    EXPECT_EQ(h, identity(2));
    Vec y2 = {1e-17, 1.0};  // nearly orthogonal, but positive
    EXPECT_EQ(znlpdfp(&p, 1, 0, 2, s.data(), y2.data(), h.data(), w1.data(), w2.data(), w3.data()), 1);
    EXPECT_EQ(h, identity(2));
    // All parameters at bounds: nothing to update.
    p.active.nActiveBounds = 2;
    EXPECT_EQ(znlpbfg(&p, 1, 0, 2, s.data(), s.data(), h.data(), w1.data(), w2.data(), w3.data()), 0);
    EXPECT_EQ(p.run.nUpdates, 0);
}

TEST(UpdateScaling, DfpScalesByTheClampedLastStep) {
    NlpProblem p;
    p.iter.lastStep = 5000;  // clamped to 1000
    Vec h = identity(1), w(1);
    const double s = 2.0, y = 1.0;
    ASSERT_EQ(dfpupd(&p, 1, 1, &s, &y, h.data(), w.data()), 0);
    // 1000 + s^2/(s y) - (1000 y)^2 / (1000 y^2)
    EXPECT_DOUBLE_EQ(h[0], 1000.0 + 2.0 - 1000.0);
}

TEST(UpdateDamping, BfgsFactorUsesTheDampedChangeOnLowCurvature) {
    // B = I, s = e1, y = 0.05 e1 + e2: s'y = 0.05 < 0.1 s'Bs.  The damped
    // change r = t y + (1 - t) B s has s'r = 0.1, and B+ s = r.
    NlpProblem p;
    Vec l = identity(2), a(2), b(2), work(4);
    Vec s = {1.0, 0.0}, y = {0.05, 1.0};
    ASSERT_EQ(uvbfgs(&p, 0, 2, s.data(), y.data(), l.data(), a.data(), b.data()), 0);
    ASSERT_EQ(llupdat(2, l.data(), a.data(), b.data(), work.data()), 0);
    const auto bplus = from_factor(3, 2, l);
    const double t = 0.9 / (1.0 - 0.05);
    EXPECT_NEAR(bplus[0][0], t * 0.05 + (1 - t), 1e-12);
    EXPECT_NEAR(bplus[1][0], t * 1.0, 1e-12);
}

}  // namespace
