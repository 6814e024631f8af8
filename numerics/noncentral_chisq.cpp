// Noncentral chi-square distribution as the Poisson mixture of central
// chi-squares, F(x; df, nc) = sum_j p_j P(df/2 + j, x/2) with Poisson
// weights p_j = e^(-nc/2) (nc/2)^j / j! (Johnson, Kotz and Balakrishnan,
// Continuous Univariate Distributions 2, ch. 29).  The series is summed
// outward from a start index near its largest terms, in both directions at
// once, with the differences P(a+j) - P(a+k) built from the gamma terms so
// that nothing cancels (Ding 1992, AS 275).  The noncentrality for a given
// probability starts from a secant iteration on the Wilson-Hilferty
// approximation and is refined by Newton steps using
// dF/dnc = (F(x; df+2, nc) - F(x; df, nc))/2.  For extreme tails the
// series is carried in logarithms, or the density (the Bessel form of
// A&S 26.4.25) is integrated numerically.
#include "numerics/noncentral_chisq.h"

#include <cmath>

#include "numerics/bessel.h"
#include "numerics/log_gamma_family.h"
#include "numerics/quadrature.h"
#include "numerics/gamma_beta.h"
#include "velix/host.h"

using namespace velix;

namespace {

constexpr double kLog2 = 0.6931471805599453;
constexpr int kSeriesTerms = 1000;
constexpr int kSecantCap = 200;   // the secant phase converges in a few steps
constexpr int kNewtonPasses = 30;

// Start index of the two-sided series: near the largest terms of the
// mixture, from a Wilson-Hilferty estimate of where x lies.  False when it
// exceeds the range of a 32-bit integer.
bool start_index(double y, double a, double lambda, double* k) {
    if (lambda == 0.0) {
        *k = 0.0;
        return true;
    }
    double s = a + lambda, rho = lambda / s;
    double h = (1.0 + rho) * 0.11111111111 / s;
    double w = -1.2 * rho * (std::pow(y / s, 0.333333) - (1.0 - h)) / std::sqrt(h);
    if (w < 1.0) w = 1.0;
    double kd = std::trunc(lambda / (1.0 + w * 0.5 / std::sqrt(lambda)));
    if (!(kd <= 2147483647.0)) return false;
    *k = kd;
    return true;
}

// log of y^m e^(-y) / Gamma(m + 1), m = a + k.
double log_gamma_term(double y, double m) {
    if (m <= 15.0) return m * std::log(y) - y - zlgamma(m + 1.0);
    double m1 = m + 1.0;
    return (m1 - 0.5) * std::log(y / m1) - (y - m1) - (0.5 * std::log(y) + kLogSqrt2Pi + zlgbern(m1));
}

// The two-sided sum of p_j (P(a+j) - P(a+k)), j != k, with all terms
// multiplied by e^(-scale) (scale 0 for the plain series).  Returns 0,
// or -1 after kSeriesTerms terms; *sum receives the scaled sum.  The
// running sums are rescaled by e^(-700) when they grow past 1.34e154, and
// *scale grows accordingly.
//
// The series stops when the newest pair of terms is below tol times the
// sum itself, not times P(a+k) + sum: in a far tail the start index lies
// where P(a+k) is many orders of magnitude above the terms that make the
// answer (at x = 100.1, df 1, nc 1000 P(a+k) is 4e-125 and the answer
// 6e-104), and against P(a+k) the first, still tiny, terms would end it.
int two_sided_sum(double y, double a, double lambda, double k, double pk, double gk, double tol, double* sum,
                  double* scale) {
    double jb = k, pb = pk, gb = gk, diffb = 0.0;
    double jf = k, pf = pk, gf = gk, difff = 0.0;
    double total = 0.0;
    for (int n = 1; n <= kSeriesTerms; ++n) {
        double contrib = 0.0;
        if (jb > 0.0) {
            gb *= (a + jb) / y;  // g(j-1) = g(j) (a + j)/y
            diffb += gb;
            pb *= jb / lambda;   // p(j-1) = p(j) j/lambda
            jb -= 1.0;
            contrib += pb * diffb;
        }
        difff -= gf;
        jf += 1.0;
        pf *= lambda / jf;       // p(j+1) = p(j) lambda/(j+1)
        contrib += pf * difff;
        gf *= y / (a + jf);      // g(j+1) = g(j) y/(a + j + 1)
        total += contrib;
        if (std::fabs(total) > 1.3407807929943e154 && scale != nullptr) {
            // Keep the scaled quantities in range.  Each later term is a
            // Poisson weight times a running gamma sum, so only one of the
            // two factors (the gamma side) takes the factor with the sum:
            // scaling both would scale every later term twice.
            constexpr double kShift = 700.0;
            double f = std::exp(-kShift);
            total *= f; gb *= f; gf *= f; diffb *= f; difff *= f;
            *scale += kShift;
        }
        if (std::fabs(contrib) < tol * std::fabs(total)) {
            *sum = total;
            return 0;
        }
    }
    *sum = total;
    return -1;
}

// The approximate normal deviate of p (A&S 26.2.23).
double rational_deviate(double p) {
    double q = std::fmin(p, 1.0 - p);
    double t = std::sqrt(-2.0 * std::log(q));
    double z = t - (2.515517 + 0.802853 * t + 0.010328 * t * t) /
                       (1.0 + 1.432788 * t + 0.189269 * t * t + 0.001308 * t * t * t);
    return (p <= 0.5) ? -z : z;
}

}  // namespace

double norm_a(double x, double df, double nc, double z) {
    double s = df + nc;
    double h = (1.0 + nc / s) * 0.222222 / s;
    return (std::pow(x / s, 0.333333333) - 1.0 + h) / std::sqrt(h) - z;
}

// Steps:
//   refuse bad input; x = 0 is the trivial case;
//   k := start index; P(a+k), Q(a+k) by the incomplete gamma; done if nc = 0;
//   log gamma term and log Poisson weight at k (refuse when they underflow);
//   lower := P(a+k) + the two-sided sum; upper := 1 - lower.
int32_t zplbcnc(double x, double df, double nc, double* lower, double* upper) {
    *lower = host_missing_value();
    *upper = host_missing_value();
    if (!(x >= 0.0) || !(df > 0.0) || !(nc >= 0.0)) return 1;
    if (x == 0.0) {
        *lower = 0.0;
        *upper = 1.0;
        return 0;
    }
    double y = 0.5 * x, a = 0.5 * df, lambda = 0.5 * nc;
    double k = 0.0;
    if (!start_index(y, a, lambda, &k)) return 1;
    double pv, qv, dv;
    if (zigamma(y, a + k, &pv, &qv, &dv) != 0) return 1;
    if (lambda == 0.0) {
        *lower = pv;
        *upper = qv;
        return 0;
    }
    double logG = log_gamma_term(y, a + k);
    double logP = k * std::log(lambda) - (zlgamma(k + 1.0) + lambda);
    if (logG + logP <= kExpUnderflow) return 1;
    double sum = 0.0;
    if (two_sided_sum(y, a, lambda, k, std::exp(logP), std::exp(logG), kMachEps, &sum, nullptr) != 0)
        return -1;
    double lo = std::fmax(pv + sum, 0.0);
    if (lo >= 1.0) {
        *lower = 1.0;
        *upper = 0.0;
    } else {
        *lower = lo;
        *upper = 1.0 - lo;
    }
    return 0;
}

// Steps:
//   refuse bad input; P0 := central probability; nc = 0 when p = P0;
//   start: secant steps anchored at 0 on the Wilson-Hilferty deviate, kept
//     above L = 2 log(P0/p) (at most kSecantCap steps, stop on NaN);
//   Newton passes on F(nc) - p (the first on log F), nc kept >= 0, until F
//     changes by less than 1e-7 p between passes.
int32_t zncc(double x, double df, double p, double* nc) {
    if (!(x > 0.0) || !(df > 0.0)) return 1;
    if (!(p >= 0.0 && p <= 1.0)) {
        *nc = host_missing_value();
        return 1;
    }
    if (p == 0.0 || p > 1.0 - 1e-12) {
        *nc = kDblMax;
        return 1;
    }
    *nc = host_missing_value();
    double p0, q0, d0;
    if (zigamma(0.5 * x, 0.5 * df, &p0, &q0, &d0) != 0) return 1;
    if (p > p0) return 1;
    if (p == p0) {
        *nc = 0.0;
        return 0;
    }
    double floorL = 2.0 * std::log(p0 / p);
    double cur = std::fmax(floorL, 1.0);
    double z = rational_deviate(p);
    double f0 = norm_a(x, df, 0.0, z);
    for (int it = 0; it < kSecantCap; ++it) {
        double next = cur * f0 / (f0 - norm_a(x, df, cur, z));
        if (!std::isfinite(next) || next < floorL) break;
        if (std::fabs(cur - next) <= 1.0) {
            cur = next;
            break;
        }
        cur = next;
    }

    const double tol = 1e-7 * p;
    double prevP1 = 0.0;
    for (int pass = 1; pass <= kNewtonPasses; ++pass) {
        double p1, u1, p2, u2;
        if (zplbcnc(x, df, cur, &p1, &u1) != 0) return 1;
        if (zplbcnc(x, df + 2.0, cur, &p2, &u2) != 0) return 1;
        if (p1 == 0.0 && p2 == 0.0) return 1;
        if (pass > 1 && std::fabs(p1 - prevP1) < tol) {
            *nc = cur;
            return 0;
        }
        double step;
        if (pass == 1 && p1 > 0.0) step = 2.0 * p1 * std::log(p / p1) / (p2 - p1);
        else step = -2.0 * (p1 - p) / (p2 - p1);
        if (!std::isfinite(step)) return 1;
        double next = cur + step;
        // The noncentrality is never negative: approach 0 by halving instead.
        cur = (next < 0.0) ? 0.5 * cur : next;
        prevP1 = p1;
    }
    *nc = cur;
    return 1;
}

int32_t zldncnc(double x, double df, double nc, double* logDensity) {
    if (!(x > 0.0) || !(df > 0.0) || !(nc >= 0.0)) return 1;
    if (nc == 0.0) {
        double v = 0.0;
        if (zldngam(0.5 * x, 0.5 * df, &v) != 0) return 1;
        *logDensity = v - kLog2;
        return 0;
    }
    BesselRequest r;
    r.nu = 0.5 * df - 1.0;
    r.x = std::sqrt(nc * x);
    r.form = 2;
    int32_t st = zbess(&r);
    if (st != 0) return st;
    double rootDiff = std::sqrt(nc) - std::sqrt(x);
    *logDensity = -0.5 * rootDiff * rootDiff + 0.5 * r.nu * std::log(x / nc) + r.result - r.x - kLog2;
    return 0;
}

int32_t fntrcnc(double t, void* record, double* value) {
    auto* rec = static_cast<NoncentralLogRecord*>(record);
    BesselRequest r;
    r.nu = rec->nu;
    r.x = rec->sqrtNc * std::sqrt(t);
    r.form = 2;
    if (zbess(&r) != 0) return 1;
    double rootDiff = rec->sqrtNc - std::sqrt(t);
    double logF = -0.5 * rootDiff * rootDiff + rec->halfNu * std::log(t / rec->nc) + r.result - r.x;
    // The factor 0.5 is the density's log 2 term.
    if (zhrdys_report_scaled(rec->quadrature, logF, value) != 0) return 1;
    *value *= 0.5;
    return 0;
}

int32_t zintcnc(NoncentralLogRecord* rec) {
    QuadratureControl q;
    const bool lowerTail = rec->smallLowerTail != 0;
    zhrdys_tail_setup(&q, lowerTail, rec->x, std::fmax(rec->x + 1.0, rec->nc), rec->tolerance, fntrcnc, rec);
    rec->nu = 0.5 * rec->df - 1.0;
    rec->halfNu = 0.5 * rec->nu;
    rec->sqrtNc = std::sqrt(rec->nc);
    rec->quadrature = &q;
    double integral = 0.0;
    int32_t st = zhrdys(&q, &integral);
    rec->quadrature = nullptr;
    if (st != 0 || !(integral > 0.0)) return 1;
    double tail = std::log(integral) + q.exponent;
    double other = zln1px(-std::exp(tail));
    rec->logLower = lowerTail ? tail : other;
    rec->logUpper = lowerTail ? other : tail;
    return 0;
}

// Steps: as zplbcnc, with the gamma and Poisson terms scaled by e^(-S)
// (S the integer part of the log gamma term at the start index), then
// log lower = log(P + sum e^S) and log upper = log(Q - sum e^S), each
// formed around the larger logarithm.
int32_t zsercnc(NoncentralLogRecord* rec) {
    const double x = rec->x, df = rec->df, nc = rec->nc;
    if (!(x >= 0.0) || !(df > 0.0) || !(nc >= 0.0)) return 1;
    if (x == 0.0) {
        rec->logLower = -kDblMax;
        rec->logUpper = 0.0;
        return 0;
    }
    double y = 0.5 * x, a = 0.5 * df, lambda = 0.5 * nc;
    double k = 0.0;
    if (!start_index(y, a, lambda, &k)) return 1;
    LogGammaWork g;
    g.x = y;
    g.a = a + k;
    g.tolerance = rec->tolerance;
    if (zloggam(&g) != 0) return 1;
    if (lambda == 0.0) {
        rec->logLower = g.logP;
        rec->logUpper = g.logQ;
        rec->logDensity = g.logDensity - kLog2;
        return 0;
    }
    double logG = log_gamma_term(y, a + k);
    double scale = std::trunc(logG);
    double logP = k * std::log(lambda) - (zlgamma(k + 1.0) + lambda);
    if (logG - scale + logP <= kExpUnderflow) return 1;
    double sum = 0.0;
    if (two_sided_sum(y, a, lambda, k, std::exp(logP), std::exp(logG - scale), rec->tolerance, &sum, &scale) != 0)
        return -1;
    if (sum == 0.0) {
        rec->logLower = g.logP;
        rec->logUpper = g.logQ;
        return 0;
    }
    double lb = std::log(std::fabs(sum)) + scale;
    // log(e^l1 + e^l2) around the larger; the smaller part through zln1px
    // keeps a log tail near 0 (the larger tail) to its last digits.
    auto log_add = [](double l1, double l2) {
        double m = std::fmax(l1, l2);
        return m + zln1px(std::exp(std::fmin(l1, l2) - m));
    };
    // log(e^l1 - e^l2) for l2 < l1; failure when the difference is not positive.
    auto log_sub = [](double l1, double l2, double* out) {
        if (!(l2 < l1)) return false;
        *out = l1 + zln1px(-std::exp(l2 - l1));
        return true;
    };
    bool ok;
    if (sum > 0.0) {
        rec->logLower = log_add(g.logP, lb);
        ok = log_sub(g.logQ, lb, &rec->logUpper);
    } else {
        ok = log_sub(g.logP, lb, &rec->logLower);
        rec->logUpper = log_add(g.logQ, lb);
    }
    return ok ? 0 : 1;
}

// Steps: refuse bad input; nc = 0 through the log incomplete gamma; set the
// small-lower-tail flag from the Wilson-Hilferty deviate; the density by
// zldncnc on request; the probabilities by the series for nc <= 500, by
// integration beyond or when the series fails.
int32_t zlogcnc(NoncentralLogRecord* rec) {
    const double x = rec->x, df = rec->df, nc = rec->nc;
    if (!(x > 0.0) || !(df >= 1e-8) || !(nc >= 0.0)) return 1;
    rec->tolerance = std::fmax(rec->tolerance, 5.0 * kMachEps);
    if (nc == 0.0) {
        LogGammaWork g;
        g.x = 0.5 * x;
        g.a = 0.5 * df;
        g.tolerance = rec->tolerance;
        if (zloggam(&g) != 0) return 1;
        rec->logLower = g.logP;
        rec->logUpper = g.logQ;
        rec->logDensity = g.logDensity - kLog2;
        return 0;
    }
    double s = df + nc;
    double h = (1.0 + nc / s) * 0.2222222222222222 / s;
    // The Wilson-Hilferty cube-root deviate of x: two standard deviations
    // below the mean makes the lower tail the small one.
    rec->smallLowerTail = ((std::cbrt(x / s) - (1.0 - h)) / std::sqrt(h) <= -2.0) ? 1 : 0;
    if (rec->request & 2) {
        int32_t st = zldncnc(x, df, nc, &rec->logDensity);
        if (st != 0) return st;
    }
    if (rec->request & 1) {
        int32_t st = 1;
        if (nc <= 500.0) st = zsercnc(rec);
        if (st != 0) st = zintcnc(rec);
        if (st != 0) return st;
    }
    return 0;
}
