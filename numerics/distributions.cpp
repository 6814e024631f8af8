// Normal, Student t, chi-square and inverse Gaussian distributions.
//
// erf and erfc are W. J. Cody's rational Chebyshev approximations
// (Math. Comp. 23, 1969, 631-637).  The normal quantile is a rational
// approximation in sqrt(-2 log q), refined in the deep tail by Newton steps
// on log Phi.  The t and chi-square probabilities come from the incomplete
// beta and gamma functions (A&S 26.7.1 and 26.4.19); the chi-square
// quantile starts from the Wilson-Hilferty approximation and is refined by
// Newton and Halley steps on the incomplete gamma function (in the manner
// of Best and Roberts, AS 91).
#include "numerics/distributions.h"

#include <cmath>

#include "numerics/gamma_beta.h"
#include "numerics/log_gamma_family.h"
#include "velix/host.h"

using namespace velix;
using velix::detail::horner;

namespace {

// Cody's coefficients: erf on |x| <= 0.46875 (a, b), erfc on (0.46875, 4]
// (c, d) and the asymptotic part beyond 4 (p, q).
constexpr double kA[5] = {3.16112374387056560e00, 1.13864154151050156e02, 3.77485237685302021e02,
                          3.20937758913846947e03, 1.85777706184603153e-1};
constexpr double kB[4] = {2.36012909523441209e01, 2.44024637934444173e02, 1.28261652607737228e03,
                          2.84423683343917062e03};
constexpr double kC[9] = {5.64188496988670089e-1, 8.88314979438837594e00, 6.61191906371416295e01,
                          2.98635138197400131e02, 8.81952221241769090e02, 1.71204761263407058e03,
                          2.05107837782607147e03, 1.23033935479799725e03, 2.15311535474403846e-8};
constexpr double kD[8] = {1.57449261107098347e01, 1.17693950891312499e02, 5.37181101862009858e02,
                          1.62138957456669019e03, 3.29079923573345963e03, 4.36261909014324716e03,
                          3.43936767414372164e03, 1.23033935480374942e03};
constexpr double kP[6] = {3.05326634961232344e-1, 3.60344899949804439e-1, 1.25781726111229246e-1,
                          1.60837851487422766e-2, 6.58749161529837803e-4, 1.63153871373020978e-2};
constexpr double kQ[5] = {2.56852019228982242e00, 1.87295284992346725e00, 5.27905102951428412e-1,
                          6.05183413124413191e-2, 2.33520497626869185e-3};

constexpr double kOneOverSqrtPi = 0.5641895835477563;
constexpr double kSqrtHalf = 0.70710678118654752440;
constexpr double kInvSqrt2Pi = 0.3989422804014327;
// The normal quantile at p = 0 and p = 1: where Phi leaves the range of
// doubles on either side.
const double kProbitLow = -std::sqrt(2.0 * 708.3964185);
constexpr double kProbitHigh = 7.941345326170997;
constexpr int kProbitNewtonCap = 100;  // the deep-tail Newton steps converge in a handful

// The asymptotic part r(z) of erfc beyond 4: erfc(z) = exp(-z^2)/z (1/sqrt(pi) - r).
double erfc_asymptotic_r(double y) {
    double ysq = 1.0 / (y * y);
    double xnum = kP[5] * ysq, xden = ysq;
    for (int i = 0; i < 4; ++i) {
        xnum = (xnum + kP[i]) * ysq;
        xden = (xden + kQ[i]) * ysq;
    }
    return ysq * (xnum + kP[4]) / (xden + kQ[4]);
}

// Rational normal-quantile coefficients (highest power first).
constexpr double kNc[8] = {0.00023850990628812184, 0.007748014532123519, 0.09433047102597236,
                           0.5906175347671243,     2.0524292014826053,   3.926527220876258,
                           3.827787912267809,      1.4756646266356057};
constexpr double kMc[8] = {0.00023846672191006805, 0.007472090148248392, 0.08675117268832777,
                           0.5155497927835685,     1.6853868285749263,   3.0193046324086072,
                           2.757985744718407,      1.0};
constexpr double kNt[9] = {2.2366406817573622e-07, 1.4756630668977935,    2.9349133839409465,
                           2.302486886454419,      0.9208235553699621,    0.1971184884114817,
                           0.021322238814693088,   0.0009933095513250212, 1.3896718225467155e-05};
constexpr double kMt[8] = {1.0,                  2.152916059924272,     1.8195065884540687,
                           0.7785719242838022,   0.1775558927085442,    0.020255719894916695,
                           0.000977052221781334, 1.389640654034189e-05};
// sqrt(-2 log 0.5): makes the central rational form vanish at p = 0.5.
constexpr double kProbitShift = 1.1774100225154747;

}  // namespace

void calerf(double x, double* result, int32_t kind) {
    double y = std::fabs(x);
    if (y <= 0.46875) {
        // Below 4.2e-16 the square no longer matters.
        double ysq = (y > 4.2e-16) ? y * y : 0.0;
        double xnum = kA[4] * ysq, xden = ysq;
        for (int i = 0; i < 3; ++i) {
            xnum = (xnum + kA[i]) * ysq;
            xden = (xden + kB[i]) * ysq;
        }
        double r = x * (xnum + kA[3]) / (xden + kB[3]);
        *result = (kind == 0) ? r : 1.0 - r;
        return;
    }
    double erfcy;
    if (y > kLogDblMax * 1.4142135623730951) {
        erfcy = 0.0;
    } else if (y <= 4.0) {
        double xnum = kC[8] * y, xden = y;
        for (int i = 0; i < 7; ++i) {
            xnum = (xnum + kC[i]) * y;
            xden = (xden + kD[i]) * y;
        }
        erfcy = std::exp(-y * y) * (xnum + kC[7]) / (xden + kD[7]);
    } else if (-y * y < kExpUnderflow) {
        erfcy = 0.0;
    } else {
        erfcy = std::exp(-y * y) / y * (kOneOverSqrtPi - erfc_asymptotic_r(y));
    }
    if (kind == 0) {
        double e = (0.5 - erfcy) + 0.5;
        *result = (x < 0.0) ? -e : e;
    } else {
        *result = (x < 0.0) ? 2.0 - erfcy : erfcy;
    }
}

double zferf(double x) {
    double r;
    calerf(x, &r, 0);
    return r;
}

double zferfc(double x) {
    double r;
    calerf(x, &r, 1);
    return r;
}

double zprbnrm(double x) {
    if (x > 0.0) return std::ldexp(1.0 + zferf(x * kSqrtHalf), -1);
    return std::ldexp(zferfc(-x * kSqrtHalf), -1);
}

int32_t zcnfmill(double x, double* r) {
    double t = 1.0 / x, t2 = t * t;
    double aPrev = 0.0, aCur = t;
    double bPrev = 1.0, bCur = 1.0;
    double last = t;
    for (int k = 1; k <= 100; ++k) {
        double aNew = aCur + k * t2 * aPrev;
        double bNew = bCur + k * t2 * bPrev;
        aPrev = aCur; aCur = aNew;
        bPrev = bCur; bCur = bNew;
        double rk = aCur / bCur;
        *r = rk;
        if (std::fabs(rk - last) <= 5.0 * kMachEps * rk) return 0;
        last = rk;
    }
    return 1;
}

int32_t zmillsr(double x, double* r) {
    if (x >= 5.0) return zcnfmill(x, r);
    double v = std::exp(0.5 * x * x + kLogSqrt2Pi);
    // Below -10, Phi(-x) is 1 to double precision.
    if (x >= -10.0) v *= zprbnrm(-x);
    *r = v;
    return 0;
}

int32_t zlognrm(double x, double* logLower, double* logUpper, double* logDensity) {
    double ax = std::fabs(x);
    double logPhi = -0.5 * x * x - kLogSqrt2Pi;
    *logDensity = logPhi;
    double tail;
    if (ax >= 5.0) {
        double r = 0.0;
        if (zmillsr(ax, &r) != 0) return 1;
        tail = std::log(r) + logPhi;
    } else {
        tail = std::log(zferfc(ax * kSqrtHalf) * 0.5);
    }
    double other = zln1px(-std::exp(tail));
    if (x > 0.0) {
        *logUpper = tail;
        *logLower = other;
    } else {
        *logLower = tail;
        *logUpper = other;
    }
    return 0;
}

double szprobit(double p) {
    double x = -std::sqrt(-2.0 * std::log(p));
    for (int it = 0; it < kProbitNewtonCap; ++it) {
        double big = zprbnrm(x);
        if (big == 0.0) return kProbitLow;
        double phi = kInvSqrt2Pi * std::exp(-0.5 * x * x);
        double delta = std::log(p / big) * big / phi;
        if (!std::isfinite(delta)) return host_missing_value();
        if (std::fabs(big - p) <= 1e-12 * p) return x + delta;
        x += delta;
    }
    return host_missing_value();
}

double zprobit(double p) {
    if (!(p >= 0.0 && p <= 1.0)) return host_missing_value();
    if (p == 0.0) return kProbitLow;
    if (p == 1.0) return kProbitHigh;
    if (p < 1e-16) return szprobit(p);
    double q = std::fmin(p, 1.0 - p);
    double r = std::sqrt(-2.0 * std::log(q));
    double u = r - kProbitShift;
    double x;
    if (q <= 0.01) {
        double t = 1.0 / u;
        x = u * horner(kNt, 9, t) / horner(kMt, 8, t);
    } else {
        x = u * horner(kNc, 8, u) / horner(kMc, 8, u);
    }
    return (p > 0.5) ? x : -x;
}

double zpgt2(double t2, double df) {
    double x = df / (t2 + df);
    double p = 0.0, d = 0.0;
    if (zibeta(x, 0.5 * df, 0.5, &p, &d) != 0) return -2.0;
    return p;
}

double zpgx2(double x, int32_t df) {
    double p, q, d;
    if (zigamma(0.5 * x, 0.5 * df, &p, &q, &d) != 0) return host_missing_value();
    return q;
}

namespace {

// Below this the lower tail P is taken in logarithms: it nears the
// subnormal doubles, where neither P nor the absolute tolerance 1e-7 p
// keeps its digits.
constexpr double kLogScaleTail = 1e-290;
// log(1e-304): below it the power-form start is the quantile itself.
constexpr double kPowerFormExact = -699.98;

// One Newton step on log P against log x for a far lower tail, in
// logarithms throughout (in: p, a, *x; out: *x).  Result 0 with a new
// *x, 1 when the log-scale routine fails, 2 when log P is within 1e-7 of
// log p (the relative tolerance of the plain steps).
int32_t log_tail_step(double p, double a, double* x) {
    LogGammaWork w;
    w.x = *x;
    w.a = a;
    if (zloggam(&w) != 0) return 1;
    const double d = std::log(p) - w.logP;
    if (std::fabs(d) <= 1e-7) return 2;
    // d log P / d log x = x f / P, f the density.
    *x *= std::exp(d * std::exp(w.logP - w.logDensity) / *x);
    return 0;
}

}  // namespace

// Steps:
//   a := df/2; start z from a rational normal quantile, then x from the
//   Wilson-Hilferty cube (or the small-x power form of P when that is not
//   positive);
//   repeat: P, Q, density at x; a Newton step on log P (p < 0.2; in
//   logarithms throughout where P nears the subnormal doubles, which also
//   keeps a P that underflows from sending x the wrong way), on log Q
//   (p > 0.8) or a Halley step on P; restart with x/2 when Q or the
//   density vanishes, with 2x when P does; converged when |p - P| <= 1e-7 q
//   (|1 - p - Q| for p > 0.8).
int32_t zqc(double p, double df, double* quantile) {
    if (!(p >= 0.0) || !(p < 1.0) || !(df > 0.0)) return 1;
    if (p == 0.0) {
        *quantile = 0.0;
        return 0;
    }
    double a = 0.5 * df;
    double q = std::fmin(p, 1.0 - p);
    double t = std::sqrt(-2.0 * std::log(q));
    double z = t - (2.30753 + 0.27061 * t) / (1.0 + (0.99229 + 0.04481 * t) * t);
    if (p < 0.5) z = -z;
    double g = 1.0 - 1.0 / (9.0 * a) + z / std::sqrt(9.0 * a);
    double x;
    if (g > 0.0) {
        x = a * g * g * g;
    } else {
        // P = x^a / Gamma(a + 1) (1 - a x / (a + 1) + ...): the power form
        // is the quantile to a relative error of about x.  Below 1e-304
        // that is exact in doubles, and the iteration would only watch x
        // leave their range (p = 1e-200 with df = 1 has its quantile near
        // 1e-400, which is 0).
        const double logX = (std::log(p) + std::log(a) + zlgamma(a)) / a;
        if (logX < kPowerFormExact) {
            *quantile = 2.0 * std::exp(logX);
            return 0;
        }
        x = std::exp(logX);
    }
    if (!(x > 0.0)) x = a;

    const double tol = 1e-7 * q;
    // A pass restarts after x was halved or doubled; ten passes of thirty
    // steps are far more than the refinement ever needs.
    for (int pass = 0; pass < 10; ++pass) {
        bool restart = false;
        for (int step = 0; step < 30 && !restart; ++step) {
            double pv, qv, dens;
            if (zigamma(x, a, &pv, &qv, &dens) != 0 || x == 0.0) return 1;
            if (p < 0.2 && (pv < kLogScaleTail || p < kLogScaleTail)) {
                const int32_t st = log_tail_step(p, a, &x);
                if (st == 1 || !(x > 0.0) || !std::isfinite(x)) return 1;
                if (st == 2) {
                    *quantile = 2.0 * x;
                    return 0;
                }
                continue;
            }
            if (qv == 0.0 || dens == 0.0) {
                x *= 0.5;
                restart = true;
                continue;
            }
            if (pv == 0.0) {
                x *= 2.0;
                restart = true;
                continue;
            }
            if (p < 0.2) {
                x *= std::pow(p / pv, pv / (x * dens));
            } else if (p > 0.8) {
                // Newton on log Q.  (P - p)/(1 - P) is formed as ((1 - p) - Q)/Q:
                // 1 - p is exact here and Q carries the full precision that
                // P = 1 - Q has lost near p = 1.
                x -= zln1px(((1.0 - p) - qv) / qv) * qv / dens;
            } else {
                double dd = p - pv;
                x += dd / (dens + dd * 0.5 * (std::fmax(a - 1.0, 0.0) / x - 1.0));
            }
            if (!std::isfinite(x)) return 1;
            // Near p = 1 the test, as the step, takes Q: P = 1 - Q is
            // quantized to 1.1e-16 there, which an x 6e-8 off the quantile
            // of p = 1 - 1e-16 with df 0.5 already matches exactly.
            if ((p > 0.8 ? std::fabs((1.0 - p) - qv) : std::fabs(p - pv)) <= tol) {
                *quantile = 2.0 * x;
                return 0;
            }
        }
        if (!restart) return 1;
    }
    return 1;
}

double zprbigs(double x, double lambda) {
    if (x == 0.0) return 0.0;
    double s = std::sqrt(x), t = 1.0 / s, r = std::sqrt(lambda);
    double z = r * (s + t) * kSqrtHalf;
    double second;
    if (z <= 4.0) {
        second = 0.5 * std::exp(2.0 * lambda) * zferfc(z);
    } else {
        double e = 2.0 * lambda - z * z;
        second = (e < kExpUnderflow)
                     ? 0.0
                     : std::exp(e) / z * (kOneOverSqrtPi - erfc_asymptotic_r(z)) * 0.5;
    }
    double w = r * (s - t) * kSqrtHalf;
    double first = (w > 0.0) ? 0.5 * (1.0 + zferf(w)) : 0.5 * zferfc(-w);
    return first + second;
}
