// The log incomplete gamma family against the plain incomplete gamma where
// it is representable, against long double series in the far tails, the
// log incomplete beta and the fraction in powers of 1/x against the
// reference values of distributions.R, and the log densities against their
// closed forms.
#include "numerics/log_gamma_family.h"

#include <gtest/gtest.h>

#include <cmath>

#include "numerics/gamma_beta.h"
#include "tests/numerics/reference_values.h"

using velix::test::ReferenceRow;
using velix::test::relative_error;

namespace {

LogGammaWork work(double x, double a) {
    LogGammaWork w;
    w.x = x;
    w.a = a;
    return w;
}

LogBetaWork beta_work(double x, double a, double b) {
    LogBetaWork w;
    w.x = x;
    w.a = a;
    w.b = b;
    return w;
}

}  // namespace

TEST(LogGammaFamily, LogBetaTailsAgainstReference) {
    for (bool upper : {false, true}) {
        const char* fn = upper ? "pbeta_log_upper" : "pbeta_log";
        const auto rows = velix::test::reference_rows(fn);
        ASSERT_FALSE(rows.empty());
        velix::test::WorstCase worst{fn};
        for (const ReferenceRow& r : rows) {
            LogBetaWork w = beta_work(r.a1, r.a2, r.a3);
            ASSERT_EQ(zlogbet(&w), 0) << r.a1 << " " << r.a2 << " " << r.a3;
            const double e = relative_error(upper ? w.logQ : w.logP, r.value);
            worst.add(e, r);
            // From shapes of 1e4 on the log density carries about (a + b)
            // eps of rounding, and the normal approximation its own error.
            const double tol = std::fmax(r.a2, r.a3) >= 1e4 ? 5e-9 : 1e-11;
            EXPECT_LE(e, tol) << fn << "(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
        }
    }
}

TEST(LogGammaFamily, LogBetaEdgesAndFallback) {
    LogBetaWork w = beta_work(0.0, 1.0, 3.0);
    ASSERT_EQ(zlogbet(&w), 0);
    EXPECT_EQ(w.logP, -1.7976931348623157e308);
    EXPECT_EQ(w.logQ, 0.0);
    EXPECT_NEAR(w.logDensity, std::log(3.0), 1e-15);
    for (LogBetaWork bad : {beta_work(1.5, 2.0, 2.0), beta_work(0.5, 0.0, 2.0), beta_work(0.5, 2.0, 3e9)})
        EXPECT_EQ(zlogbet(&bad), 1);
    // Shapes of 2e9: the fraction does not converge in its 200 steps and
    // the normal approximation gives I = 1/2 at the midpoint of a = b.
    w = beta_work(0.5, 2e9, 2e9);
    w.tolerance = 8.0 * 1.1102230246251565e-16;
    EXPECT_EQ(zcnfbet(&w), 1);
    ASSERT_EQ(zlogbet(&w), 0);
    EXPECT_EQ(w.method, 3);
    EXPECT_NEAR(w.logP, -std::log(2.0), 1e-15);
    EXPECT_EQ(w.logQ, w.logP);
}

TEST(LogGammaFamily, FractionInPowersOfOneOverXAgainstReference) {
    velix::test::expect_matches_reference(
        "pgamma_log_upper",
        [](const ReferenceRow& r) {
            LogGammaWork w = work(r.a1, r.a2);
            w.tolerance = 5.0 * 1.1102230246251565e-16;
            EXPECT_EQ(zcnf1gm(&w), 0);
            EXPECT_EQ(w.method, 3);
            return w.logQ;
        },
        1e-13, 1e-13);
    // Far below the mean the fraction turns negative: a failure, not a NaN.
    LogGammaWork w = work(100.0, 200.0);
    EXPECT_EQ(zcnf1gm(&w), 1);
}

TEST(LogGammaFamily, AgreesWithThePlainFunction) {
    for (double a : {0.3, 1.0, 4.5, 30.0, 400.0})
        for (double x : {0.01, 0.8 * a, a, 1.5 * a + 2.0, 150.0 * a}) {
            LogGammaWork w = work(x, a);
            ASSERT_EQ(zloggam(&w), 0) << x << " " << a;
            double p, q, d;
            ASSERT_EQ(zigamma(x, a, &p, &q, &d), 0);
            // References: the smaller tail's log directly, the other through
            // log1p of the smaller, and the density's closed form.
            double refP = p < 0.5 ? std::log(p) : std::log1p(-q);
            double refQ = q < 0.5 ? std::log(q) : std::log1p(-p);
            if (p > 1e-300) {
                EXPECT_LE(relative_error(w.logP, refP), 1e-11) << x << " " << a;
            }
            if (q > 1e-300) {
                EXPECT_LE(relative_error(w.logQ, refQ), 1e-11) << x << " " << a;
            }
            EXPECT_LE(relative_error(w.logDensity, (a - 1.0) * std::log(x) - x - std::lgamma(a)), 1e-12);
        }
}

// Large shapes near and away from the mean (at x = a = 1e5 the series
// stopped at 920 terms and the log fell back to a failing quadrature),
// and the beta fraction where only the side the rule does not pick
// converges.
TEST(LogGammaFamily, LargeShapesAndTinyFirstShapesAgainstReference) {
    struct Family {
        const char* lower;
        const char* upper;
        bool beta;
    };
    for (const Family& f : {Family{"lpgamma_wide", "lpgamma_wide_upper", false},
                            Family{"lpbeta_wide", "lpbeta_wide_upper", true}}) {
        const auto lower = velix::test::reference_rows(f.lower);
        const auto upper = velix::test::reference_rows(f.upper);
        ASSERT_FALSE(lower.empty());
        ASSERT_EQ(lower.size(), upper.size());
        velix::test::WorstCase worst{f.lower};
        for (size_t i = 0; i < lower.size(); ++i) {
            const ReferenceRow& r = lower[i];
            double logP, logQ;
            if (f.beta) {
                LogBetaWork w = beta_work(r.a1, r.a2, r.a3);
                ASSERT_EQ(zlogbet(&w), 0) << r.a1 << " " << r.a2 << " " << r.a3;
                logP = w.logP;
                logQ = w.logQ;
            } else {
                LogGammaWork w = work(r.a1, r.a2);
                ASSERT_EQ(zloggam(&w), 0) << r.a1 << " " << r.a2;
                logP = w.logP;
                logQ = w.logQ;
            }
            for (double e : {relative_error(logP, r.value), relative_error(logQ, upper[i].value)}) {
                worst.add(e, r);
                EXPECT_LE(e, 1e-12) << f.lower << "(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ")";
            }
        }
    }
}

TEST(LogGammaFamily, FarTailsBeyondTheRangeOfDoubles) {
    // Upper tail at x = 2000, a = 3: Q = e^-x (x^2/2 + x + 1) exactly.
    LogGammaWork w = work(2000.0, 3.0);
    ASSERT_EQ(zloggam(&w), 0);
    EXPECT_LE(relative_error(w.logQ, -2000.0 + std::log(2000.0 * 2000.0 / 2 + 2000.0 + 1.0)), 1e-13);
    // Lower tail at x = 1e-3, a = 200: log P from the series in long double.
    w = work(1e-3, 200.0);
    ASSERT_EQ(zloggam(&w), 0);
    long double term = 1.0L / 200.0L, sum = term;
    for (int k = 1; k < 50; ++k) sum += (term *= 1e-3L / (200.0L + k));
    long double ref = 200.0L * std::log(1e-3L) - 1e-3L - std::lgamma(200.0L) + std::log(sum);
    EXPECT_LE(relative_error(w.logP, static_cast<double>(ref)), 1e-13);
}

TEST(LogGammaFamily, SingleMethodsAgree) {
    LogGammaWork s = work(3.0, 5.0), c = work(9.0, 5.0), i = work(9.0, 5.0), as = work(800.0, 2.5);
    for (LogGammaWork* w : {&s, &c, &i, &as}) w->tolerance = 5.0 * 1.1102230246251565e-16;
    ASSERT_EQ(zsergam(&s), 0);
    ASSERT_EQ(zcnf2gm(&c), 0);
    ASSERT_EQ(zintgam(&i), 0);
    ASSERT_EQ(zasgam(&as), 0);
    double p, q, d;
    zigamma(3.0, 5.0, &p, &q, &d);
    EXPECT_LE(relative_error(s.logP, std::log(p)), 1e-13);
    zigamma(9.0, 5.0, &p, &q, &d);
    EXPECT_LE(relative_error(c.logQ, std::log(q)), 1e-13);
    EXPECT_LE(relative_error(i.logQ, std::log(q)), 1e-7);
    EXPECT_EQ(i.method, 6);
    LogGammaWork cf = work(800.0, 2.5);
    cf.tolerance = s.tolerance;
    ASSERT_EQ(zcnf2gm(&cf), 0);
    EXPECT_LE(relative_error(as.logQ, cf.logQ), 1e-12);
}

TEST(LogGammaFamily, EdgesAndDensities) {
    LogGammaWork w = work(0.0, 2.0);
    ASSERT_EQ(zloggam(&w), 0);
    EXPECT_EQ(w.logQ, 0.0);
    EXPECT_EQ(w.logP, -1.7976931348623157e308);
    w = work(-1.0, 2.0);
    EXPECT_EQ(zloggam(&w), 1);
    w = work(1.0, 1e-10);
    EXPECT_EQ(zloggam(&w), 1);
    double out = 0.0;
    ASSERT_EQ(zldngam(2.0, 3.0, &out), 0);
    EXPECT_NEAR(out, std::log(2.0 * 2.0 * std::exp(-2.0) / 2.0), 1e-14);
    ASSERT_EQ(zldngam(0.0, 1.0, &out), 0);
    EXPECT_EQ(out, 0.0);
    EXPECT_EQ(zldngam(1.0, 0.0, &out), 1);
    ASSERT_EQ(zldnbet(0.3, 2.0, 3.0, &out), 0);
    EXPECT_NEAR(out, std::log(12.0 * 0.3 * 0.7 * 0.7), 1e-14);
    ASSERT_EQ(zldnbet(0.0, 1.0, 4.0, &out), 0);
    EXPECT_NEAR(out, std::log(4.0), 1e-15);
    ASSERT_EQ(zldnbet(1.0, 2.5, 1.0, &out), 0);
    EXPECT_NEAR(out, std::log(2.5), 1e-15);
    EXPECT_EQ(zldnbet(1.2, 2.0, 3.0, &out), 1);
}
