// Normal, t and chi-square probabilities and quantiles against the
// reference table, round trips and closed forms.
#include "numerics/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "numerics/gamma_beta.h"
#include "numerics/log_gamma_family.h"
#include "tests/numerics/reference_values.h"
#include "velix/host.h"

using velix::test::expect_matches_reference;
using velix::test::relative_error;
using velix::test::WorstCase;

namespace {

constexpr double kBodyTol = 1e-10;  // relative, body of the distributions
constexpr double kTailTol = 1e-8;   // relative, far tails (value below 1e-12)

}  // namespace

TEST(Distributions, NormalAgainstReference) {
    using Row = velix::test::ReferenceRow;
    expect_matches_reference("pnorm", [](const Row& r) { return zprbnrm(r.a1); }, kBodyTol, kTailTol);
    // Symmetry: 1 - Phi(x) = Phi(-x).
    expect_matches_reference("pnorm_upper", [](const Row& r) { return zprbnrm(-r.a1); }, kBodyTol,
                             kTailTol);
}

TEST(Distributions, NormalEdgeValues) {
    EXPECT_EQ(zprbnrm(0.0), 0.5);
    EXPECT_EQ(zprbnrm(-40.0), 0.0);
    // erf and erfc are complements and odd/reflected.
    for (double x : {-5.0, -2.0, -0.3, 0.1, 0.46875, 0.5, 3.0, 4.5, 6.0}) {
        EXPECT_NEAR(zferf(x) + zferfc(x), 1.0, 1e-15) << x;
        EXPECT_NEAR(zferf(-x), -zferf(x), 1e-15) << x;
    }
}

TEST(Distributions, LogNormalAndMillsRatio) {
    for (double x : {-30.0, -8.0, -5.0, -1.0, 0.0, 0.7, 4.9, 5.0, 12.0, 35.0}) {
        double lo, up, ld;
        ASSERT_EQ(zlognrm(x, &lo, &up, &ld), 0) << x;
        EXPECT_NEAR(ld, -0.5 * x * x - 0.5 * std::log(2.0 * M_PI), 1e-13);
        // Tails against the erfc of the C library, which is independent: the
        // small tail directly, the other one through log1p.
        double small = 0.5 * std::erfc(std::fabs(x) / std::sqrt(2.0));
        double lowerRef = x <= 0.0 ? std::log(small) : std::log1p(-small);
        double upperRef = x <= 0.0 ? std::log1p(-small) : std::log(small);
        EXPECT_LE(relative_error(lo, lowerRef), 1e-12) << x;
        EXPECT_LE(relative_error(up, upperRef), 1e-12) << x;
        double r;
        ASSERT_EQ(zmillsr(x, &r), 0);
        EXPECT_LE(relative_error(std::log(r), upperRef - ld), 1e-12) << x;
    }
}

TEST(Distributions, ProbitAgainstReferenceAndRoundTrip) {
    expect_matches_reference(
        "qnorm", [](const velix::test::ReferenceRow& r) { return zprobit(r.a1); }, kBodyTol, kTailTol);
    WorstCase trip{"pnorm(qnorm)"};
    for (double p = 1e-300; p < 1.0; p *= 7.3) {
        double x = zprobit(p);
        double e = relative_error(zprbnrm(x), p);
        trip.add(e, velix::test::ReferenceRow{"", p});
        EXPECT_LE(e, 1e-10) << p;
    }
    for (double p = 0.02; p < 1.0; p += 0.0371) EXPECT_LE(relative_error(zprbnrm(zprobit(p)), p), 1e-12);
}

TEST(Distributions, ProbitEnds) {
    EXPECT_DOUBLE_EQ(zprobit(0.0), -std::sqrt(2.0 * 708.3964185));
    EXPECT_DOUBLE_EQ(zprobit(1.0), 7.941345326170997);
    EXPECT_DOUBLE_EQ(zprobit(0.5), 0.0);
    EXPECT_TRUE(host_is_missing(zprobit(-0.1)));
    EXPECT_TRUE(host_is_missing(zprobit(1.5)));
    EXPECT_TRUE(host_is_missing(zprobit(NAN)));
    // Deep tail by Newton steps.
    double x = zprobit(1e-20);
    EXPECT_LE(relative_error(zprbnrm(x), 1e-20), 1e-10);
}

TEST(Distributions, ChiSquareUpperAgainstReference) {
    expect_matches_reference(
        "pchisq_upper",
        [](const velix::test::ReferenceRow& r) { return zpgx2(r.a1, static_cast<int32_t>(r.a2)); },
        kBodyTol, kTailTol);
}

TEST(Distributions, ChiSquareQuantileAgainstReferenceAndRoundTrip) {
    expect_matches_reference(
        "qchisq",
        [](const velix::test::ReferenceRow& r) {
            double x = -1.0;
            EXPECT_EQ(zqc(r.a1, r.a2, &x), 0) << r.a1 << " " << r.a2;
            return x;
        },
        kBodyTol, kBodyTol);
    for (int df : {1, 3, 8, 40, 300}) {
        for (double p : {1e-6, 0.01, 0.3, 0.5, 0.77, 0.99, 0.999999}) {
            double x = 0.0;
            ASSERT_EQ(zqc(p, df, &x), 0);
            double lower = 1.0 - zpgx2(x, df);
            double pp, qq, dd;
            zigamma(0.5 * x, 0.5 * df, &pp, &qq, &dd);
            EXPECT_LE(relative_error(pp, p), 1e-10) << p << " " << df;
            EXPECT_NEAR(lower, p, 1e-10);
        }
    }
    double x = 0.0;
    ASSERT_EQ(zqc(0.95, 1.0, &x), 0);
    EXPECT_NEAR(x, 3.841458820694124, 1e-9);  // 1.959963984540054^2, the normal quantile squared
    EXPECT_EQ(zqc(1.0, 1.0, &x), 1);
    EXPECT_EQ(zqc(-0.1, 1.0, &x), 1);
    EXPECT_EQ(zqc(0.5, 0.0, &x), 1);
    ASSERT_EQ(zqc(0.0, 4.0, &x), 0);
    EXPECT_EQ(x, 0.0);
}

// Probabilities at the ends of their range: 1e-300 with up to 1e5 df (the
// first step put x where P underflows, and the restarts then halved it),
// quantiles below the smallest double (0), and one unit below 1, where
// P = 1 - Q matched p while x was still 6e-8 off.  Subnormal p has its
// quantile checked by the log lower tail there.
TEST(Distributions, ChiSquareQuantileOfExtremeProbabilities) {
    for (bool upper : {false, true}) {
        expect_matches_reference(
            upper ? "qchisq_wide_upper" : "qchisq_wide",
            [upper](const velix::test::ReferenceRow& r) {
                double x = -1.0;
                EXPECT_EQ(zqc(upper ? 1.0 - r.a1 : r.a1, r.a2, &x), 0) << r.a1 << " " << r.a2;
                return x;
            },
            1e-13, 1e-13);
    }
    for (double p : {1e-310, 1e-320})
        for (double df : {3.0, 1000.0}) {
            double x = 0.0;
            ASSERT_EQ(zqc(p, df, &x), 0) << p << " " << df;
            LogGammaWork w;
            w.x = 0.5 * x;
            w.a = 0.5 * df;
            ASSERT_EQ(zloggam(&w), 0);
            EXPECT_LE(relative_error(w.logP, std::log(p)), 1e-12) << p << " " << df;
        }
}

TEST(Distributions, StudentTAgainstReference) {
    // pt from the two-sided tail: half of it below -|t|, the rest above.
    expect_matches_reference(
        "pt",
        [](const velix::test::ReferenceRow& r) {
            double two = zpgt2(r.a1 * r.a1, static_cast<int32_t>(r.a2));
            return r.a1 < 0.0 ? 0.5 * two : 1.0 - 0.5 * two;
        },
        kBodyTol, kTailTol);
    EXPECT_EQ(zpgt2(0.0, 7), 1.0);
    // t with 1 df is Cauchy: P(|T| >= t) = 1 - 2 atan(t)/pi.
    for (double t : {0.2, 1.0, 3.0, 40.0})
        EXPECT_LE(relative_error(zpgt2(t * t, 1), 1.0 - 2.0 * std::atan(t) / M_PI), 1e-12);
}

TEST(Distributions, InverseGaussian) {
    EXPECT_EQ(zprbigs(0.0, 2.0), 0.0);
    // The distribution function against its density integrated by Simpson's rule.
    for (double lambda : {0.5, 2.0, 30.0}) {
        auto dens = [&](double x) {
            return std::sqrt(lambda / (2.0 * M_PI * x * x * x)) *
                   std::exp(-lambda * (x - 1.0) * (x - 1.0) / (2.0 * x));
        };
        for (double x : {0.3, 1.0, 2.5}) {
            const int n = 20000;
            double lo = 1e-9, h = (x - lo) / n, s = dens(lo) + dens(x);
            for (int i = 1; i < n; ++i) s += dens(lo + i * h) * (i % 2 ? 4.0 : 2.0);
            EXPECT_NEAR(zprbigs(x, lambda), s * h / 3.0, 1e-9) << x << " " << lambda;
        }
    }
}
