// Adaptive trapezoid quadrature on a transformed axis.
#pragma once

#include <cstdint>

namespace velix {
// Smallest useful tolerance for integrals to an end point a != 0: near it
// the transformed integrand decays like the distance to a, which doubles
// resolve only to about 1e-16 relative, so a tolerance much below 1e-12
// ends on the end point instead of converging.  The tail integrals of the
// log-probability routines use it as their floor.
constexpr double kQuadratureTolFloor = 1e-12;
}  // namespace velix

// Integrand: f(x) into *value (in: x, data); 0 on success.
using QuadratureIntegrand = int32_t (*)(double x, void* data, double* value);

// Control block of zhrdys: the caller fills the inputs, the routine
// updates the rest.
struct QuadratureControl {
    double passSum = 0.0;       // sum of the current pass
    double eps = 0.0;           // in: relative tolerance
    double epsThird = 0.0;      // eps/3, set by the routine
    double lastValue = 0.0;     // the last integrand value taken
    double refMagnitude = 0.0;  // reference magnitude of the end-point test (|centre value|)
    double a = 0.0, b = 0.0;    // in: ends of the range (b unused by kinds 1 and 2)
    double width = 0.0;         // b - a (kind 3)
    double estimate = 0.0;      // the estimate of the integral
    int32_t termLimit[2] = {0, 0};  // terms per side (minus, plus)
    int32_t errorFlag = 0;      // a running sum overflowed
    int32_t endPointCode = 1;   // in: result when an abscissa falls on an end while still significant
    double centre = 0.0;        // in: hint point; kinds 2, 3 turn it into the transformed centre
    double h0 = 1.0;            // in: initial step
    double step = 0.0, nextStep = 0.0;
    int32_t maxHalvings = 10;   // in
    int32_t halvings = 0;
    int32_t kind = 1;           // in: 1 x = t; 2 x = a + t; 3 x = (a + b t)/(1 + t)
    int32_t noAbsoluteFloor = 0;  // in: nonzero drops the absolute floor eps of the stopping test
    double relChange = 0.0;     // relative change of the last halving
    double base = 2.718281828459045;  // in: base of the scaling
    double invLogBase = 0.0;    // 1/log(base), set by the routine
    int32_t exponent = -100000; // in-out: exponent the sums are held in (value * base^exponent)
    int32_t reportedExponent = -2147483647;  // in-out: exponent the integrand reports (only raises it)
    int32_t scaling = 0;        // in: nonzero when the integrand reports scaled values
    void* data = nullptr;       // in: the integrand's data
    QuadratureIntegrand integrand = nullptr;  // in
};

// Integrates (in-out: control; out: *result).  Result 0 with the integral
// (times base^exponent when scaling) in *result; 1 on failure (too many
// halvings, a term limit above 32767, an integrand failure, an overflow or
// a vanishing centre value); control->endPointCode when an abscissa fell
// on an end point while the integrand was still significant.
int32_t zhrdys(QuadratureControl* control, double* result);

// Prepares *control (out) for the scaled integral of a log-scale density
// over one tail: [0, x] (kind 3, hint 0.999 x) when lowerTail, else
// [x, inf) (kind 2, hint `hint`); tolerance max(eps, kQuadratureTolFloor)
// without the absolute floor, step 1.0, 10 halvings, base e, exponent
// limit -100000 and starting exponent -2147483647.
void zhrdys_tail_setup(QuadratureControl* control, bool lowerTail, double x, double hint, double eps,
                       QuadratureIntegrand integrand, void* data);

// For a scaled integrand: raises control->reportedExponent (in-out) to
// the integer part of logValue plus 1 when logValue exceeds it, and
// stores e^(logValue - exponent) in *value (out).  Result 0, or 1 when
// logValue is outside the range of a 32-bit exponent.
int32_t zhrdys_report_scaled(QuadratureControl* control, double logValue, double* value);
