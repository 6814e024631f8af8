// FACTOR start values: the starting unique parts psi in the units of the
// parameter they start (a variance from the inverse moment matrix or from
// a share of the variance; its square root for the scale matrix of
// _U_ _I_ _U_'), the loadings of one factor as the leading eigenvector of
// S - diag(psi), and the orthogonal Procrustes rotation, which recovers a
// known rotation.
#include <gtest/gtest.h>

#include <cmath>

#include "procedure/startvalues/factor_starts.h"
#include "start_fixture.h"

namespace velix::testing {
namespace {

// The diagonal element i of the inverse of the 3 x 3 sample moments, by
// cofactors.
double inverse_diagonal(const StartValueStep& s, int32_t i) {
    auto S = [&](int32_t a, int32_t b) { return s.sample(a, b); };
    const double det = S(0, 0) * (S(1, 1) * S(2, 2) - S(1, 2) * S(1, 2)) - S(0, 1) * (S(0, 1) * S(2, 2) - S(1, 2) * S(0, 2)) +
                       S(0, 2) * (S(0, 1) * S(1, 2) - S(1, 1) * S(0, 2));
    const int32_t a = (i + 1) % 3, b = (i + 2) % 3;
    return (S(a, a) * S(b, b) - S(a, b) * S(a, b)) / det;
}

TEST(FactorStarts, UniqueVariancesStartInTheUnitsOfTheirParameters) {
    for (const bool scaleMatrix : {false, true}) {
        SCOPED_TRACE(scaleMatrix ? "_U_ _I_ _U_'" : "_U_");
        StartValueStep s(std::string("proc velix data=hs method=none covariance;\nvar x1-x3;\nfactor n=1") +
                         (scaleMatrix ? " heywood" : "") + ";\nrun;\n");
        ASSERT_TRUE(s.ready) << s.log.str();
        auto unit = [&](double variance) { return scaleMatrix ? std::sqrt(variance) : variance; };
        // With the inverse of S: (1 - k/2n) / s^ii, k = 1, n = 3.
        double psi[3];
        for (int32_t i = 0; i < 3; ++i) {
            psi[i] = unit((1.0 - 1.0 / 6.0) / inverse_diagonal(s, i));
            EXPECT_NEAR(s.value_at(3, i, i), std::max(psi[i], 0.1), 1e-12) << i;
        }
        // (S - diag psi) l = theta l: the ratios agree.
        double ratio[3];
        for (int32_t i = 0; i < 3; ++i) {
            ratio[i] = -psi[i];
            for (int32_t j = 0; j < 3; ++j) ratio[i] += s.sample(i, j) * s.value_at(1, j, 0) / s.value_at(1, i, 0);
            EXPECT_NEAR(ratio[i], ratio[0], 1e-9 * std::fabs(ratio[0])) << i;
        }
        // Without it: 0.36 s_ii, a variance (not 0.36 s_ii squared).
        s.reset_values();
        s.ctx.moments.logDetMoments = host_missing_value();
        cosinfa(&s.ctx);
        for (int32_t i = 0; i < 3; ++i)
            EXPECT_NEAR(s.value_at(3, i, i), std::max(unit(0.36 * s.sample(i, i)), 0.1), 1e-12) << i;
    }
}

TEST(FactorStarts, ProcrustesRecoversAKnownRotation) {
    const int32_t n = 5, k = 2;
    const double a[n * k] = {0.8, 0.1, 0.7, 0.2, 0.6, -0.3, 0.1, 0.9, -0.2, 0.5};
    const double c = std::cos(0.3), sn = std::sin(0.3);
    const double q[k * k] = {c, -sn, sn, c};
    double b[n * k], r[k * k], trace = 0.0;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t f = 0; f < k; ++f) b[i * k + f] = a[i * k] * q[f] + a[i * k + 1] * q[k + f];
    ASSERT_EQ(velix::detail::orproc(n, k, a, b, r, &trace), 0);
    for (int32_t x = 0; x < k * k; ++x) EXPECT_NEAR(r[x], q[x], 1e-12) << x;
}

}  // namespace
}  // namespace velix::testing
