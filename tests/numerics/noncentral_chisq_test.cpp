// Noncentral chi-square: the distribution function against the reference
// table and a long double Poisson mixture summed term by term, the far
// tails against the mixture summed in logarithms, the noncentrality solver
// on the RMSEA interval of a published model, and the log-scale routines
// against the plain ones.
#include "numerics/noncentral_chisq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "numerics/gamma_beta.h"
#include "tests/numerics/reference_values.h"
#include "velix/host.h"

using velix::test::expect_matches_reference;
using velix::test::relative_error;

namespace {

// Lower regularized gamma P(m, y) by its power series in long double.
long double series_gamma_lower(long double m, long double y) {
    long double term = 1.0L / m, sum = term;
    for (int k = 1; k < 100000 && term > 1e-21L * sum; ++k) {
        term *= y / (m + k);
        sum += term;
    }
    return std::exp(m * std::log(y) - y - std::lgamma(m)) * sum;
}

// The Poisson mixture sum_j p_j P(df/2 + j, x/2), j from 0, in long double.
long double mixture_lower(double x, double df, double nc) {
    long double y = x / 2.0L, a = df / 2.0L, lam = nc / 2.0L, total = 0.0L;
    int last = static_cast<int>(lam + 40.0L * std::sqrt(lam) + 100.0L);
    for (int j = 0; j <= last; ++j) {
        long double w = std::exp(j * std::log(lam) - lam - std::lgamma(j + 1.0L));
        total += w * series_gamma_lower(a + j, y);
    }
    return total;
}

}  // namespace

TEST(NoncentralChiSquare, DistributionFunctionAgainstReference) {
    expect_matches_reference(
        "pchisq_nc",
        [](const velix::test::ReferenceRow& r) {
            double lo, up;
            EXPECT_EQ(zplbcnc(r.a1, r.a2, r.a3, &lo, &up), 0);
            EXPECT_NEAR(lo + up, 1.0, 1e-15);
            return lo;
        },
        1e-10, 1e-8);
}

TEST(NoncentralChiSquare, DistributionFunctionAgainstMixtureSum) {
    for (double df : {0.5, 3.0, 17.0})
        for (double nc : {0.1, 12.0, 250.0})
            for (double x : {0.05, df + nc, 3.0 * (df + nc)}) {
                double lo, up;
                ASSERT_EQ(zplbcnc(x, df, nc, &lo, &up), 0) << x << " " << df << " " << nc;
                double ref = static_cast<double>(mixture_lower(x, df, nc));
                EXPECT_LE(relative_error(lo, ref), ref < 1e-12 ? 1e-8 : 1e-10) << x << " " << df << " " << nc;
            }
}

// Both tails from the far lower to the far upper end (the reference is
// the Poisson mixture summed in logarithms by distributions.R, the larger
// tail from the smaller), among them far lower tails whose series rescales
// its running sum.  The series must not stop while its terms are
// small against P(a+k) but not against the answer: at x = 100.1, df 1,
// nc 1000 that gave 4e-125 for 6.1e-104.
TEST(NoncentralChiSquare, FarTailsAgainstTheMixtureInLogs) {
    const auto upper = velix::test::reference_rows("pchisq_nc_log_upper");
    const auto lower = velix::test::reference_rows("pchisq_nc_log");
    ASSERT_EQ(lower.size(), upper.size());
    ASSERT_FALSE(lower.empty());
    velix::test::WorstCase worstLog{"zlogcnc"}, worstPlain{"zplbcnc"};
    for (size_t i = 0; i < lower.size(); ++i) {
        const auto& r = lower[i];
        NoncentralLogRecord rec;
        rec.x = r.a1; rec.df = r.a2; rec.nc = r.a3; rec.request = 1;
        ASSERT_EQ(zlogcnc(&rec), 0) << r.a1 << " " << r.a2 << " " << r.a3;
        for (double e : {relative_error(rec.logLower, r.value), relative_error(rec.logUpper, upper[i].value)}) {
            worstLog.add(e, r);
            EXPECT_LE(e, 1e-10) << "zlogcnc(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
        }
        // Up to nc 500 the answer is the series' own (not the integral
        // that stands in when the series fails).
        if (r.a3 <= 500.0) {
            NoncentralLogRecord series;
            series.x = r.a1; series.df = r.a2; series.nc = r.a3; series.tolerance = rec.tolerance;
            ASSERT_EQ(zsercnc(&series), 0) << "zsercnc(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
            EXPECT_EQ(series.logLower, rec.logLower) << "zsercnc(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
        }
        // The plain function never refuses (its terms are held over the
        // one at the start, which may underflow: at x 0.01, df 20, nc
        // 436.09 for a tail of e^-286).  Its terms are all positive and
        // their ratio to the start term is the gamma method's own: a few
        // 1e-13 where a difference of two logs of the start made 9e-13.
        double lo, up;
        ASSERT_EQ(zplbcnc(r.a1, r.a2, r.a3, &lo, &up), 0) << r.a1 << " " << r.a2 << " " << r.a3;
        const double e = r.value < std::log(0.5) ? relative_error(lo, std::exp(r.value))
                                                 : std::fabs(up - std::exp(upper[i].value));
        worstPlain.add(e, r);
        EXPECT_LE(e, 5e-13) << "zplbcnc(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ") = " << lo;
    }
}

// Where the old series failed, stopped at its term limit or cancelled
// (the mixture summed in logarithms by distributions.R): far lower tails
// under large noncentralities (x = 2500.5, df 1, nc 5000 gave 2.1e-92 for
// 1.5e-95), noncentralities of 3e4 and 5e5, 1e4 and 1e5 df, a lower tail
// below the doubles (x = 110, df 105, nc 2625, where the close fit of
// N = 10001 is 1), and arguments past 1e8, where the saddlepoint
// approximation answers (to 1e-10 here; the series to 1e-12).
TEST(NoncentralChiSquare, TailsOfLargeArgumentsAgainstTheMixtureInLogs) {
    const auto lower = velix::test::reference_rows("pchisq_nc_far");
    const auto upper = velix::test::reference_rows("pchisq_nc_far_upper");
    ASSERT_FALSE(lower.empty());
    ASSERT_EQ(lower.size(), upper.size());
    velix::test::WorstCase worstLog{"log tails"}, worstPlain{"zplbcnc far"};
    for (size_t i = 0; i < lower.size(); ++i) {
        const auto& r = lower[i];
        const double tol = r.a2 + r.a3 >= 2e8 ? 1e-10 : 1e-12;
        const bool lowerSmall = r.value < upper[i].value;
        const double small = lowerSmall ? r.value : upper[i].value;
        double lo, up;
        ASSERT_EQ(zplbcnc(r.a1, r.a2, r.a3, &lo, &up), 0) << r.a1 << " " << r.a2 << " " << r.a3;
        EXPECT_NEAR(lo + up, 1.0, 1e-15);
        // The smaller tail to its relative accuracy while it is a double,
        // 0 below; the larger one from it.
        const double e = small > -700.0 ? relative_error(lowerSmall ? lo : up, std::exp(small))
                                        : std::fabs(lowerSmall ? lo : up);
        worstPlain.add(e, r);
        EXPECT_LE(e, tol) << "zplbcnc(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
        if (r.a2 + r.a3 >= 2e8) continue;  // the series alone stops short of these
        NoncentralLogRecord rec;
        rec.x = r.a1; rec.df = r.a2; rec.nc = r.a3;
        ASSERT_EQ(zsercnc(&rec), 0) << r.a1 << " " << r.a2 << " " << r.a3;
        const double el = relative_error(lowerSmall ? rec.logLower : rec.logUpper, small);
        worstLog.add(el, r);
        EXPECT_LE(el, tol) << "zsercnc(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
    }
}

// The noncentralities of RMSEA limits where the old search failed (its
// start ran to where the probability refused, or past the series' term
// limit), against R's root finder on pchisq(ncp =), which holds about
// 1e-12.
TEST(NoncentralChiSquare, NoncentralityOfLargeChiSquaresAgainstReference) {
    expect_matches_reference(
        "ncp_root",
        [](const velix::test::ReferenceRow& r) {
            double nc = -1.0;
            EXPECT_EQ(zncc(r.a1, r.a2, r.a3, &nc), 0) << r.a1 << " " << r.a2 << " " << r.a3;
            return nc;
        },
        5e-11, 5e-11);
}

// Any argument the doubles hold has both tails, in [0, 1], summing to 1,
// and the lower tail falls as nc grows: from 1e-300 to 1e300 in x and nc
// and 1e-300 to 1e12 df (the rescaled gamma fractions, the saddlepoint's
// forms without overflow, the upper gamma tail of tiny shapes, products
// of ratios near 1e160 and 1e-150).  The noncentrality solver answers
// wherever a root exists, to 1e-10 of it.
TEST(NoncentralChiSquare, EveryArgumentHasItsTailsAndItsNoncentrality) {
    for (double x : {1e-300, 1e-3, 50.0, 1e5, 1e20, 1e160, 1e300})
        for (double df : {1e-300, 1e-10, 1.0, 1e4, 1e12}) {
            double previous = 1.0;
            for (double nc : {0.0, 1e-300, 1e-150, 1e-10, 1.0, 1e4, 1e12, 1e300}) {
                double lo, up;
                ASSERT_EQ(zplbcnc(x, df, nc, &lo, &up), 0) << x << " " << df << " " << nc;
                ASSERT_TRUE(lo >= 0.0 && lo <= 1.0 && up >= 0.0 && up <= 1.0) << x << " " << df << " " << nc;
                EXPECT_NEAR(lo + up, 1.0, 1e-15) << x << " " << df << " " << nc;
                EXPECT_LE(lo, previous * (1.0 + 1e-12)) << x << " " << df << " " << nc;
                previous = lo;
            }
        }
    for (double x : {1e-3, 85.0, 1e6, 1e13, 1e300})
        for (double df : {1.0, 24.0, 1e5})
            for (double p : {0.05, 0.95}) {
                double p0, q0, d0, nc = -1.0;
                zigamma(0.5 * x, 0.5 * df, &p0, &q0, &d0);
                const int32_t rc = zncc(x, df, p, &nc);
                if (p > p0) {
                    EXPECT_EQ(rc, 1) << x << " " << df << " " << p;
                    continue;
                }
                ASSERT_EQ(rc, 0) << x << " " << df << " " << p;
                ASSERT_TRUE(nc >= 0.0 && std::isfinite(nc)) << x << " " << df << " " << p;
                // The root lies within 1e-10 of nc: F falls through p there.
                double below, above, up;
                ASSERT_EQ(zplbcnc(x, df, nc * (1.0 - 1e-10), &below, &up), 0);
                ASSERT_EQ(zplbcnc(x, df, nc * (1.0 + 1e-10) + 1e-300, &above, &up), 0);
                EXPECT_GE(below, p * (1.0 - 1e-12)) << x << " " << df << " " << p << " nc " << nc;
                EXPECT_LE(above, p * (1.0 + 1e-12)) << x << " " << df << " " << p << " nc " << nc;
            }
}

TEST(NoncentralChiSquare, CentralCaseAndEdges) {
    double lo, up, p, q, d;
    ASSERT_EQ(zplbcnc(7.3, 5.0, 0.0, &lo, &up), 0);
    zigamma(7.3 / 2, 5.0 / 2, &p, &q, &d);
    EXPECT_EQ(lo, p);
    EXPECT_EQ(up, q);
    ASSERT_EQ(zplbcnc(0.0, 5.0, 3.0, &lo, &up), 0);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(up, 1.0);
    EXPECT_EQ(zplbcnc(-1.0, 5.0, 3.0, &lo, &up), 1);
    EXPECT_TRUE(host_is_missing(lo));
    EXPECT_TRUE(host_is_missing(up));
    EXPECT_EQ(zplbcnc(1.0, 0.0, 3.0, &lo, &up), 1);
    EXPECT_EQ(zplbcnc(1.0, 2.0, -3.0, &lo, &up), 1);
}

TEST(NoncentralChiSquare, RmseaIntervalOfTheThreeFactorModel) {
    // Chi-square 85.022114722135 on 24 df, N = 301; the 90% interval ends
    // of lavaan 0.6.14 for the Holzinger-Swineford three-factor model.
    const double chisq = 85.022114722135, df = 24.0, n = 301.0;
    const double lavaanLo = 0.07131506849352, lavaanHi = 0.1136613500733;
    double ncLo = -1.0, ncHi = -1.0;
    ASSERT_EQ(zncc(chisq, df, 0.95, &ncLo), 0);
    ASSERT_EQ(zncc(chisq, df, 0.05, &ncHi), 0);
    double rmseaLo = std::sqrt(std::fmax(ncLo / (n - 1.0) / df, 0.0));
    double rmseaHi = std::sqrt(std::fmax(ncHi / (n - 1.0) / df, 0.0));
    // lavaan finds the ends by a root finder of its own tolerance.
    EXPECT_NEAR(rmseaLo, lavaanLo, 1e-6);
    EXPECT_NEAR(rmseaHi, lavaanHi, 1e-6);
    // The defining equations, checked with the long double mixture.
    EXPECT_NEAR(static_cast<double>(mixture_lower(chisq, df, ncLo)), 0.95, 1e-10);
    EXPECT_NEAR(static_cast<double>(mixture_lower(chisq, df, ncHi)), 0.05, 1e-10);
}

TEST(NoncentralChiSquare, NoncentralitySolverRoundTrip) {
    for (double df : {1.0, 6.0, 40.0})
        for (double nc : {0.5, 8.0, 120.0})
            for (double quant : {0.1, 0.5, 0.9}) {
                // x at the given probability of (df, nc) by bisection on zplbcnc.
                double lo = 0.0, hi = 10.0 * (df + nc) + 100.0;
                for (int i = 0; i < 200; ++i) {
                    double mid = 0.5 * (lo + hi), pl, pu;
                    zplbcnc(mid, df, nc, &pl, &pu);
                    (pl < quant ? lo : hi) = mid;
                }
                double x = 0.5 * (lo + hi), found = -1.0;
                ASSERT_EQ(zncc(x, df, quant, &found), 0) << df << " " << nc << " " << quant;
                EXPECT_NEAR(found, nc, 1e-5 * (1.0 + nc)) << df << " " << nc << " " << quant;
            }
}

TEST(NoncentralChiSquare, NoncentralitySolverRefusals) {
    double nc = 123.0;
    EXPECT_EQ(zncc(0.0, 3.0, 0.5, &nc), 1);
    EXPECT_EQ(nc, 123.0);  // untouched
    EXPECT_EQ(zncc(5.0, 3.0, 0.0, &nc), 1);
    EXPECT_EQ(nc, 1.7976931348623157e308);
    EXPECT_EQ(zncc(5.0, 3.0, 1.5, &nc), 1);
    EXPECT_TRUE(host_is_missing(nc));
    EXPECT_EQ(zncc(5.0, 3.0, -0.5, &nc), 1);
    EXPECT_TRUE(host_is_missing(nc));
    EXPECT_EQ(zncc(5.0, 3.0, NAN, &nc), 1);
    EXPECT_TRUE(host_is_missing(nc));
    // Above the central probability no noncentrality reaches p.
    double p, q, d;
    zigamma(2.5, 1.5, &p, &q, &d);
    EXPECT_EQ(zncc(5.0, 3.0, std::fmin(p + 0.05, 0.99), &nc), 1);
    EXPECT_TRUE(host_is_missing(nc));
    // At the central probability the answer is 0.
    ASSERT_EQ(zncc(5.0, 3.0, p, &nc), 0);
    EXPECT_EQ(nc, 0.0);
    // Just below it the answer is small and never negative.
    ASSERT_EQ(zncc(5.0, 3.0, p * (1.0 - 1e-9), &nc), 0);
    EXPECT_GE(nc, 0.0);
    EXPECT_LT(nc, 1e-6);
}

TEST(NoncentralChiSquare, LogDensityAgainstPoissonMixtureOfDensities) {
    // f(x; df, nc) = sum_j p_j f(x; df + 2j), the central densities in long double.
    for (double df : {0.7, 2.0, 9.0})
        for (double nc : {0.0, 3.0, 60.0})
            for (double x : {0.4, 5.0, 70.0}) {
                double ld = 0.0;
                ASSERT_EQ(zldncnc(x, df, nc, &ld), 0);
                long double lam = nc / 2.0L, y = x / 2.0L, dens = 0.0L;
                int last = static_cast<int>(lam + 40.0L * std::sqrt(lam) + 100.0L);
                for (int j = 0; j <= last; ++j) {
                    long double a = df / 2.0L + j;
                    long double logw = (nc == 0.0) ? (j == 0 ? 0.0L : -INFINITY)
                                                   : j * std::log(lam) - lam - std::lgamma(j + 1.0L);
                    dens += std::exp(logw + (a - 1.0L) * std::log(y) - y - std::lgamma(a)) / 2.0L;
                }
                EXPECT_LE(relative_error(ld, static_cast<double>(std::log(dens))), 1e-12)
                    << x << " " << df << " " << nc;
            }
}

TEST(NoncentralChiSquare, LogProbabilitiesBySeriesAndIntegration) {
    // Where the plain probabilities are representable both must agree.
    for (double nc : {0.0, 4.0, 80.0})
        for (double x : {1.0, 30.0, 150.0}) {
            NoncentralLogRecord rec;
            rec.x = x; rec.df = 6.0; rec.nc = nc; rec.request = 3;
            ASSERT_EQ(zlogcnc(&rec), 0) << x << " " << nc;
            double lo, up;
            ASSERT_EQ(zplbcnc(x, 6.0, nc, &lo, &up), 0);
            if (lo > 1e-300) {
                EXPECT_LE(relative_error(rec.logLower, std::log(lo)), 1e-9) << x << " " << nc;
            }
            if (up > 1e-300) {
                EXPECT_LE(relative_error(rec.logUpper, std::log(up)), 1e-9) << x << " " << nc;
            }
        }
    // A lower tail far below the range of doubles by the series, against
    // the long double mixture's logarithm.
    NoncentralLogRecord far;
    far.x = 0.5; far.df = 300.0; far.nc = 20.0; far.request = 1;
    ASSERT_EQ(zlogcnc(&far), 0);
    double refLog = static_cast<double>(std::log(mixture_lower(0.5, 300.0, 20.0)));
    EXPECT_LE(relative_error(far.logLower, refLog), 1e-9);
    // nc = 600: both requests, the probabilities by integration.
    NoncentralLogRecord big;
    big.x = 500.0; big.df = 10.0; big.nc = 600.0; big.request = 3; big.tolerance = 1e-10;
    ASSERT_EQ(zlogcnc(&big), 0);
    EXPECT_EQ(big.smallLowerTail, 1);
    double lo, up, ld;
    ASSERT_EQ(zplbcnc(500.0, 10.0, 600.0, &lo, &up), 0);
    EXPECT_LE(relative_error(big.logLower, std::log(lo)), 1e-7);
    ASSERT_EQ(zldncnc(500.0, 10.0, 600.0, &ld), 0);
    EXPECT_EQ(big.logDensity, ld);
    // Integration directly on the upper side agrees with the series.
    NoncentralLogRecord up1;
    up1.x = 40.0; up1.df = 6.0; up1.nc = 9.0; up1.tolerance = 1e-10;
    NoncentralLogRecord up2 = up1;
    ASSERT_EQ(zsercnc(&up1), 0);
    ASSERT_EQ(zintcnc(&up2), 0);
    EXPECT_LE(relative_error(up2.logUpper, up1.logUpper), 1e-8);
}

TEST(NoncentralChiSquare, WilsonHilfertyDeviate) {
    // The deviate is 0 near the median of the approximation and grows with x.
    EXPECT_LT(norm_a(5.0, 4.0, 2.0, 0.0), norm_a(9.0, 4.0, 2.0, 0.0));
    EXPECT_NEAR(norm_a(6.0, 4.0, 2.0, 1.0), norm_a(6.0, 4.0, 2.0, 0.0) - 1.0, 1e-15);
}
