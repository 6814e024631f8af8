// Modified Bessel function of the first kind against the reference table
// (plain and exponentially scaled), the Wronskian-free recurrence identity
// and the limits at 0.
#include "numerics/bessel.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/numerics/reference_values.h"

using velix::test::expect_matches_reference;
using velix::test::relative_error;

namespace {

BesselRequest run(double x, double nu, int form) {
    BesselRequest r;
    r.x = x;
    r.nu = nu;
    r.form = form;
    zibess(&r);
    return r;
}

}  // namespace

TEST(Bessel, PlainAndScaledAgainstReference) {
    // The table's arguments cover all five methods (series, large argument,
    // both recurrences and the uniform expansion).
    expect_matches_reference(
        "besselI",
        [](const velix::test::ReferenceRow& r) {
            BesselRequest b = run(r.a1, r.a2, 0);
            EXPECT_EQ(b.status, 0) << r.a1 << " " << r.a2;
            return b.result;
        },
        1e-10, 1e-10);
    expect_matches_reference(
        "besselI_scaled",
        [](const velix::test::ReferenceRow& r) {
            BesselRequest b = run(r.a1, r.a2, 1);
            EXPECT_EQ(b.status, 0);
            // The log form agrees with the plain one.
            BesselRequest l = run(r.a1, r.a2, 2);
            EXPECT_NEAR(l.result, std::log(b.result) + r.a1, 1e-12 * (1.0 + std::fabs(l.result)));
            return b.result;
        },
        1e-10, 1e-10);
}

TEST(Bessel, RecurrenceAcrossMethodBoundaries) {
    // I_(v-1)(x) - I_(v+1)(x) = (2v/x) I_v(x), in scaled form.
    for (double x : {0.3, 1.99, 2.5, 11.9, 12.5, 16.9, 17.5, 60.0, 300.0})
        for (double v : {1.0, 1.5, 4.25, 20.0, 34.5, 36.0, 80.0}) {
            double lo = run(x, v - 1.0, 1).result, mid = run(x, v, 1).result, hi = run(x, v + 1.0, 1).result;
            EXPECT_LE(relative_error(lo - hi, 2.0 * v / x * mid), 1e-9) << x << " " << v;
        }
}

TEST(Bessel, LimitsAndRefusals) {
    BesselRequest r = run(0.0, 0.0, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.result, 1.0);
    r = run(0.0, 2.5, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.result, 0.0);
    r = run(0.0, 2.5, 2);
    EXPECT_EQ(r.result, -1.3407807929943e+154);
    r = run(-1.0, 0.0, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.result, -1.7976931348623157e+308);
    EXPECT_EQ(run(1.0, -0.5, 0).status, 1);
    // Overflow of the plain form leaves the logarithm; the scaled form is fine.
    r = run(720.0, 0.0, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_NEAR(r.result, 720.0 - 0.5 * std::log(2.0 * M_PI * 720.0), 1e-3);
    r = run(720.0, 0.0, 1);
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(relative_error(r.result, 1.0 / std::sqrt(2.0 * M_PI * 720.0)), 2e-4);
}

TEST(Bessel, NegativeOrderByRecurrence) {
    // I_(-1/2)(x) = sqrt(2/(pi x)) cosh x.
    for (double x : {0.5, 3.0, 25.0}) {
        BesselRequest r;
        r.x = x;
        r.nu = -0.5;
        ASSERT_EQ(zbess(&r), 0);
        EXPECT_EQ(r.nu, -0.5);
        EXPECT_LE(relative_error(r.result, std::log(std::sqrt(2.0 / (M_PI * x)) * std::cosh(x))), 1e-12);
    }
}
