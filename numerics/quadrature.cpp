// Trapezoid rule on a transformed axis with step halving (Davis and
// Rabinowitz, Methods of Numerical Integration, 2nd ed., sec. 3.4: the
// trapezoid rule is exponentially accurate for integrands that decay at
// both ends of the real line).  Kind 2 maps (a, inf) and kind 3 maps (a, b)
// onto the whole line through x = a + e^u and x = (a + b e^u)/(1 + e^u);
// the sums run outward from a centre point in both directions.
//
//   first pass (step h0): centre value, then each side until three
//     consecutive values are negligible; the counts become the side limits;
//   repeat: stop when the last change is below max(sqrt(eps)|I|, eps);
//     add the midpoints (same counts), average with the old estimate,
//     halve the step and double the limits.
//
// In scaling mode the integrand reports values times base^-E and may raise
// E; the running sums then follow by a factor base^(old E - new E).
#include "numerics/quadrature.h"
#include "numerics/kernel_support.h"

#include <cmath>

namespace {

using velix::kDblMax;

constexpr double kBig = 1.3407807929943e+154;
constexpr int kFirstPassCap = 10000;
constexpr int kTermCap = 32767;

enum { kOk = 0, kFail = 1, kEndPoint = 2 };

class Integrator {
public:
    explicit Integrator(QuadratureControl* c) : c_(c) {}

    int32_t run(double* result);

private:
    // Value of the transformed integrand at t.
    int value_at(double t, double* v);
    // Multiplies every running quantity by base^(old - new exponent).
    void follow_exponent();
    double next_t(double t, double signedStep) const {
        return c_->kind == 1 ? t + signedStep : t * std::exp(signedStep);
    }
    bool converged(double change) const;

    QuadratureControl* c_;
    double f0_ = 0.0;
    double sides_[2] = {0.0, 0.0};
    double window_[3] = {kBig, kBig, kBig};
};

int Integrator::value_at(double t, double* v) {
    QuadratureControl* c = c_;
    if (!(t <= kBig)) return kFail;
    double x, jac;
    bool atEnd = false;
    if (c->kind == 2) {
        x = c->a + t;
        jac = t;
        atEnd = (x == c->a);
    } else if (c->kind == 3) {
        x = (c->a + c->b * t) / (1.0 + t);
        jac = t / ((1.0 + t) * (1.0 + t));
        atEnd = (x == c->a || x == c->b);
    } else {
        x = t;
        jac = 1.0;
    }
    if (atEnd) {
        *v = 0.0;
        if (std::fabs(c->lastValue) > c->eps * c->refMagnitude) return kEndPoint;
        c->lastValue = 0.0;
        return kOk;
    }
    double f = 0.0;
    if (c->integrand(x, c->data, &f) != 0) return kFail;
    if (c->scaling && c->reportedExponent != c->exponent) follow_exponent();
    *v = f * jac;
    c->lastValue = *v;
    return kOk;
}

void Integrator::follow_exponent() {
    QuadratureControl* c = c_;
    // The integrand only raises the exponent, so the factor is at most 1.
    double factor = std::exp((static_cast<double>(c->exponent) - c->reportedExponent) / c->invLogBase);
    c->exponent = c->reportedExponent;
    f0_ *= factor;
    sides_[0] *= factor;
    sides_[1] *= factor;
    c->passSum *= factor;
    c->estimate *= factor;
    c->lastValue *= factor;
    c->refMagnitude *= factor;
    for (double& w : window_)
        if (w != kBig) w *= factor;
}

bool Integrator::converged(double change) const {
    const QuadratureControl* c = c_;
    double ac = std::fabs(change);
    if (ac < std::sqrt(c->eps) * std::fabs(c->estimate)) return true;
    if (c->noAbsoluteFloor) return false;
    if (c->scaling) {
        if (ac == 0.0) return true;
        return std::log(ac) * c->invLogBase + c->exponent < std::log(c->eps) * c->invLogBase;
    }
    return ac < c->eps;
}

int32_t Integrator::run(double* result) {
    QuadratureControl* c = c_;
    c->epsThird = c->eps * 0.33333333333333;
    if (c->scaling) c->invLogBase = 1.0 / std::log(c->base);
    c->errorFlag = 0;
    c->halvings = 0;
    c->lastValue = 0.0;
    double h = c->h0;
    c->step = h;

    double t0;
    if (c->kind == 2) {
        t0 = c->centre - c->a;
        if (!(t0 > 0.0)) t0 = c->h0;
    } else if (c->kind == 3) {
        c->width = c->b - c->a;
        t0 = (c->centre - c->a) / (c->b - c->centre);
        if (std::fabs(c->b - c->centre) <= velix::kSqrtMachEpsWritten * std::fabs(c->b) || t0 < 0.0)
            t0 = 1.0;
    } else {
        t0 = c->centre;
    }
    c->centre = t0;
    c->refMagnitude = kBig;  // nothing counts as an end point before the centre value
    int st = value_at(t0, &f0_);
    if (st != kOk) return st == kEndPoint ? c->endPointCode : 1;
    if (!(std::fabs(f0_) >= 1.0 / c->eps / kDblMax)) return 1;
    c->refMagnitude = std::fabs(f0_);

    int32_t accumulated[2] = {0, 0};
    for (int side = 0; side < 2; ++side) {
        double signedStep = side == 0 ? -h : h;
        double t = next_t(t0, signedStep);
        window_[0] = window_[1] = window_[2] = kBig;
        sides_[side] = 0.0;
        int n = 0;
        while (n < kFirstPassCap) {
            double v = 0.0;
            st = value_at(t, &v);
            if (st != kOk) return st == kEndPoint ? c->endPointCode : 1;
            ++n;
            sides_[side] += v;
            if (std::fabs(sides_[side]) > kBig) c->errorFlag = 1;
            window_[0] = window_[1];
            window_[1] = window_[2];
            window_[2] = std::fabs(v);
            if (window_[0] + window_[1] + window_[2] <= c->epsThird * std::fabs(sides_[side])) break;
            t = next_t(t, signedStep);
        }
        c->termLimit[side] = n;
        accumulated[side] = n;
    }
    c->passSum = sides_[0] + sides_[1];
    c->estimate = h * (c->passSum + f0_);
    if (c->kind == 3) c->estimate *= c->width;

    double change = kBig - c->estimate;
    for (;;) {
        if (converged(change)) {
            *result = c->estimate;
            return 0;
        }
        if (++c->halvings > c->maxHalvings || c->errorFlag) return 1;
        for (int side = 0; side < 2; ++side) {
            double signedStep = side == 0 ? -h : h;
            double t = next_t(t0, 0.5 * signedStep);
            sides_[side] = 0.0;
            for (int i = 0; i < c->termLimit[side]; ++i) {
                double v = 0.0;
                st = value_at(t, &v);
                if (st != kOk) return st == kEndPoint ? c->endPointCode : 1;
                sides_[side] += v;
                if (std::fabs(sides_[side]) > kBig) c->errorFlag = 1;
                t = next_t(t, signedStep);
            }
        }
        c->passSum = sides_[0] + sides_[1];
        double old = c->estimate;
        double add = h * c->passSum;
        if (c->kind == 3) add *= c->width;
        c->estimate = 0.5 * (add + old);
        h *= 0.5;
        c->step = h;
        c->nextStep = 0.5 * h;
        for (int side = 0; side < 2; ++side) {
            c->termLimit[side] *= 2;
            accumulated[side] += c->termLimit[side];
            if (accumulated[side] > kTermCap) return 1;
        }
        change = old - c->estimate;
        c->relChange = (c->estimate != 0.0) ? std::fabs(change) / std::fabs(c->estimate) : kBig;
    }
}

}  // namespace

int32_t zhrdys(QuadratureControl* control, double* result) {
    Integrator integrator(control);
    return integrator.run(result);
}

void zhrdys_tail_setup(QuadratureControl* q, bool lowerTail, double x, double hint, double eps,
                       QuadratureIntegrand integrand, void* data) {
    *q = QuadratureControl();
    q->eps = std::fmax(eps, velix::kQuadratureTolFloor);
    q->h0 = 1.0;
    q->maxHalvings = 10;
    q->kind = lowerTail ? 3 : 2;
    q->a = lowerTail ? 0.0 : x;
    q->b = x;
    q->centre = lowerTail ? 0.999 * x : hint;
    q->noAbsoluteFloor = 1;  // a tail probability is wanted to relative accuracy
    q->base = 2.718281828459045;
    q->exponent = -100000;
    q->reportedExponent = -2147483647;
    q->scaling = 1;
    q->data = data;
    q->integrand = integrand;
}

int32_t zhrdys_report_scaled(QuadratureControl* q, double logValue, double* value) {
    if (q->scaling && logValue > q->reportedExponent) {
        if (!(std::fabs(logValue) <= 2147483646.0)) return 1;
        q->reportedExponent = static_cast<int32_t>(logValue) + 1;
    }
    *value = std::exp(logValue - q->reportedExponent);
    return 0;
}
