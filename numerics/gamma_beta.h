// Special functions of the numerical library: log gamma, log beta, the
// Stirling correction, log(1+x), the regularized incomplete gamma and beta
// functions with the density at the point, and the corrected
// Wilson-Hilferty approximation of the gamma distribution.
//
// All are plain functions of doubles: no allocation, no printing, no host
// services.  Failures are reported only by result codes and marker values
// (-2.0 from zigamma, -1.0 from zibeta, -99.0 and 99.0 from the log
// functions); callers treat a nonzero result as a failed evaluation.
#pragma once

#include <cstdint>

#include "numerics/kernel_support.h"

namespace velix {

// Constants of the special-function family (the machine constants come
// from kernel_support.h).
constexpr double kLogSqrt2Pi = 0.9189385332046728;        // log(sqrt(2 pi))
constexpr double kExpUnderflow = -708.3964185;            // exp() below this is taken as 0
constexpr double kLogDblMax = 709.78271289339;            // log(DBL_MAX)

namespace detail {
// Polynomial of degree n-1 by Horner's rule (in: c[n], highest power first).
inline double horner(const double* c, int n, double t) {
    double s = c[0];
    for (int i = 1; i < n; ++i) s = s * t + c[i];
    return s;
}

// Legendre's continued fraction for the upper incomplete gamma function,
// x * 1/(x+1-a- 1(1-a)/(x+3-a- 2(2-a)/(x+5-a- ...))), so that
// Q(a, x) = x^(a-1) e^(-x) / Gamma(a) * fraction; forward recurrence with
// power-of-two rescaling (in: x, a, relative tolerance; out: *fraction).
// False after 400 steps.
bool gamma_upper_fraction(double x, double a, double tol, double* fraction);

// The upper incomplete gamma fraction in powers of 1/x (A&S 6.5.31 before
// its even contraction): 1/(1+ (1-a)/x /(1+ 1/x /(1+ (2-a)/x /(1+ 2/x /(1+
// ...))))), so that Q(a, x) = x^(a-1) e^(-x) / Gamma(a) * fraction; same
// recurrence, rescaling and 400-step limit (in: x, a, relative tolerance;
// out: *fraction).  False after 400 steps.
bool gamma_upper_fraction_inverse_x(double x, double a, double tol, double* fraction);

// The incomplete beta fraction converges fast at (x, a, b) itself; else it
// is taken for the complement (1 - x, b, a).
bool beta_fraction_direct(double x, double a, double b);

// The factor f of I_x(a, b) = d x f, d the beta density at x, from the
// continued fraction of A&S 26.5.8 (a first shape below 1 raised by one and
// corrected by the recurrence in a); converged when two successive values
// differ by less than tol times the current one (in: x, a, b, tol;
// out: *f).  False after 200 steps.
bool beta_side(double x, double a, double b, double tol, double* f);

// The cube-root normal deviate of I_x(a, b) (A&S 26.5.21), and whether the
// shapes are large enough to use it when the fraction fails.
double beta_normal_deviate(double x, double a, double b);
bool beta_normal_allowed(double a, double b);
}  // namespace detail

}  // namespace velix

// log Gamma(x) (in: x).  Result -99.0 for x <= 0.
double zlgamma(double x);

// The Stirling correction log Gamma(x) - ((x - 0.5) log x - x + log sqrt(2 pi))
// by its asymptotic series (in: x, meant for x >= about 10).
double zlgbern(double x);

// log(1 + x), accurate for small |x| (in: x > -1).
double zln1px(double x);

// log B(a, b) (in: a, b).  Result 99.0 when a <= 0 or b <= 0.
double zlbeta(double a, double b);

// Regularized incomplete gamma function (in: x >= 0, shape a >= 0;
// out: p = P(a, x) lower tail, q = 1 - P upper tail, d = the gamma density
// x^(a-1) e^(-x) / Gamma(a)).  Result 0; 1 on failure (a < 0, x < 0 or a
// series or continued fraction that does not converge), then p = q = -2.0
// and d = 0.0.
int32_t zigamma(double x, double a, double* p, double* q, double* d);

// Regularized incomplete beta function (in: 0 <= x <= 1, shapes a, b > 0;
// out: p = I_x(a, b), d = the beta density x^(a-1)(1-x)^(b-1)/B(a, b)).
// Result 0; 1 when a or b exceeds 2147483647 (outputs untouched); -1 when
// the continued fraction fails and the normal approximation is not allowed
// (then p = -1.0, d = 0.0).  Callers validate x and the shapes first.
int32_t zibeta(double x, double a, double b, double* p, double* d);

// Corrected Wilson-Hilferty approximation of the gamma distribution (in:
// shape a > 0, x >= 0; out: q the upper tail).  Result: the lower tail P.
double wilhil(double a, double x, double* q);
