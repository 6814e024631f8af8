// Transformed trapezoid quadrature on closed forms, its failure paths and
// its scaling mode.
#include "numerics/quadrature.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Counter {
    int calls = 0;
    int failAfter = -1;
};

int32_t bell(double x, void* data, double* v) {
    auto* c = static_cast<Counter*>(data);
    if (c != nullptr && c->failAfter >= 0 && ++c->calls > c->failAfter) return 1;
    *v = std::exp(-x * x);
    return 0;
}

int32_t cubic_on_unit(double x, void*, double* v) {
    *v = x * x * x * std::sqrt(x);
    return 0;
}

int32_t exp_decay(double x, void*, double* v) {
    *v = std::exp(-2.0 * x);
    return 0;
}

int32_t zero(double, void*, double* v) {
    *v = 0.0;
    return 0;
}

QuadratureControl control(int kind, double a, double b, double centre, QuadratureIntegrand f, void* data) {
    QuadratureControl q;
    q.eps = 1e-10;
    q.kind = kind;
    q.a = a;
    q.b = b;
    q.centre = centre;
    q.h0 = 1.0;
    q.maxHalvings = 10;
    q.integrand = f;
    q.data = data;
    return q;
}

}  // namespace

TEST(Quadrature, ClosedFormsOfTheThreeKinds) {
    double r = 0.0;
    QuadratureControl q1 = control(1, 0, 0, 0.3, bell, nullptr);
    ASSERT_EQ(zhrdys(&q1, &r), 0);
    EXPECT_NEAR(r, std::sqrt(M_PI), 1e-12);
    QuadratureControl q2 = control(2, 1.0, 0, 2.0, exp_decay, nullptr);
    ASSERT_EQ(zhrdys(&q2, &r), 0);
    EXPECT_NEAR(r, 0.5 * std::exp(-2.0), 1e-12);
    QuadratureControl q3 = control(3, 0.0, 1.0, 0.5, cubic_on_unit, nullptr);
    ASSERT_EQ(zhrdys(&q3, &r), 0);
    EXPECT_NEAR(r, 1.0 / 4.5, 1e-10);  // a smooth integrand on a finite range
    EXPECT_LE(q3.halvings, 10);
}

TEST(Quadrature, Failures) {
    double r = 0.0;
    QuadratureControl q = control(1, 0, 0, 0.0, zero, nullptr);
    EXPECT_EQ(zhrdys(&q, &r), 1);  // vanishing centre value
    Counter c;
    c.failAfter = 5;
    QuadratureControl q2 = control(1, 0, 0, 0.0, bell, &c);
    EXPECT_EQ(zhrdys(&q2, &r), 1);
    QuadratureControl q3 = control(3, 0.0, 1.0, 0.5, cubic_on_unit, nullptr);
    q3.maxHalvings = 0;
    EXPECT_EQ(zhrdys(&q3, &r), 1);
}

namespace {

// exp(-x^2 + 2000), far beyond the range of doubles, in scaled form.
struct Scaled {
    QuadratureControl* q = nullptr;
};

int32_t scaled_bell(double x, void* data, double* v) {
    auto* s = static_cast<Scaled*>(data);
    double logF = -x * x + 2000.0;
    if (logF > s->q->reportedExponent) s->q->reportedExponent = static_cast<int32_t>(logF) + 1;
    *v = std::exp(logF - s->q->reportedExponent);
    return 0;
}

}  // namespace

TEST(Quadrature, ScalingModeFollowsTheIntegrandsExponent) {
    Scaled s;
    QuadratureControl q = control(1, 0, 0, 0.7, scaled_bell, &s);
    s.q = &q;
    q.scaling = 1;
    q.noAbsoluteFloor = 1;
    double r = 0.0;
    ASSERT_EQ(zhrdys(&q, &r), 0);
    EXPECT_NEAR(std::log(r) + q.exponent, 2000.0 + 0.5 * std::log(M_PI), 1e-10);
}
