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
// Terms of the lower incomplete gamma series and steps of its upper
// continued fraction allowed before they count as failed: the fixed base,
// raised for large shapes.  Near the mean of a shape a the series' terms
// fall like exp(-k^2 / (2a)), so 5 eps (e^-35.3) takes about sqrt(71 a)
// of them, and the fraction's convergents settle as slowly; 9 sqrt(a)
// more covers both.  A result that converges within the base is the same
// as before; only what used to stop half way now finishes.
int32_t gamma_term_limit(int32_t base, double a);

// log(1 + t) - t for t > -1, without the cancellation of its two parts
// for small |t| (where it is about -t^2/2).
double log1pmx(double t);

// log of the gamma density x^(a-1) e^(-x) / Gamma(a) (in: x > 0, a > 0).
// For a >= 10 within stirlingBand of x/a = 1 by the Stirling form
// (a-1) log(x/a) - 0.5 log a + a - x - zlgbern(a) - log sqrt(2 pi), whose
// two large parts (a-1) log(x/a) and a - x are taken together as
// (a-1) log1pmx(t) - t, t = (x-a)/a: summed apart they leave a rounding of
// about a eps (4.9e-12 in log P at a = x = 1e5).  Otherwise
// (a-1) log x - x - log Gamma(a), which leaves about a eps too: the
// incomplete gamma functions keep the band 0.3, callers that want the
// Stirling form for every x pass an infinite band.
double log_gamma_density(double x, double a, double stirlingBand = 0.3);

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
// False after gamma_term_limit(400, a) steps.
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
// differ by less than tol times the current one (in: x, a, b, tol, the
// step limit; out: *f).  False after maxSteps steps.
constexpr int32_t kBetaFractionSteps = 200;
bool beta_side(double x, double a, double b, double tol, double* f, int32_t maxSteps = kBetaFractionSteps);

// The fraction on the side beta_fraction_direct picks, and when that one
// does not converge in maxSteps, on the other: the rule can pick a side
// that never converges (x = 0.001 with a = 0.001, b = 100 goes to the
// complement, whose fraction at 0.999 with shapes 100 and 0.001 does not
// settle, where the direct one needs a few steps).  Out: *direct (the side
// used: I = d x f when true, 1 - I = d (1 - x) f when false) and *f.
// False when neither side converged.
bool beta_either_side(double x, double a, double b, double tol, int32_t maxSteps, bool* direct, double* f);

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
// series or continued fraction that does not converge within the limits
// of gamma_term_limit), then p = q = -2.0 and d = 0.0.  Accuracy against
// R: a relative error in the smaller tail below 2e-11 (below 1e-13 for
// shapes under 300: the rounding of the log prefactor grows with a),
// except near the mean of shapes from 10000 on (|x - a| <= 0.7 sqrt(a) +
// 0.02 a), where the corrected Wilson-Hilferty approximation answers:
// about 1e-6 at a = 1e4 and 1e-9 at 1e9 in the body, up to 2e-5 far out
// in the band (a = 1e6, 20 standard deviations).  Callers that need the
// tail exactly there take zsergam or zcnf2gm (about 1e-12 up to 1e9).
int32_t zigamma(double x, double a, double* p, double* q, double* d);

// Regularized incomplete beta function (in: 0 <= x <= 1, shapes a, b > 0;
// out: p = I_x(a, b), d = the beta density x^(a-1)(1-x)^(b-1)/B(a, b)).
// Result 0; 1 when a or b exceeds 2147483647 (outputs untouched); -1 when
// the continued fraction fails on both sides and the shapes are too small
// for the normal approximation (then p = -1.0, d = 0.0; on shapes from
// 0.001 to 3e7 and x within 40 standard deviations of the mean that does
// not happen).  Callers validate x and the shapes first.
int32_t zibeta(double x, double a, double b, double* p, double* d);

// Corrected Wilson-Hilferty approximation of the gamma distribution (in:
// shape a > 0, x >= 0; out: q the upper tail).  Result: the lower tail P.
double wilhil(double a, double x, double* q);
