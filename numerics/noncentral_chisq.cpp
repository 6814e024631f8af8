// Noncentral chi-square distribution as the Poisson mixture of central
// chi-squares, F(x; df, nc) = sum_j p_j P(a + j, y) with y = x/2, a = df/2,
// Poisson weights p_j = e^-lambda lambda^j / j!, lambda = nc/2 (Johnson,
// Kotz and Balakrishnan, Continuous Univariate Distributions 2, ch. 29).
//
// The smaller tail is summed from terms that are all positive, so that no
// digit cancels however small the tail is.  With the gamma terms
// t_i = P(a+i, y) - P(a+i+1, y) = y^(a+i) e^-y / Gamma(a+i+1), summation by
// parts (the form of Ding 1992, AS 275) gives, split at a start index k,
//   lower = sum_{j<=k} p_j P(a+j) + sum_{i>k} t_i (p_{k+1} + ... + p_i),
//   upper = sum_{j>=k} p_j Q(a+j) + sum_{i<k-1} t_i (p_{i+1} + ... + p_{k-1})
//           + Q(a) (p_0 + ... + p_{k-1}),
// in each of which the tail factors grow (P going down, the Poisson sums
// going up, Q going up), where the plain two-sided form subtracts: at
// x = 2500.5, df 1, nc 5000 it lost 24 digits and gave 2.1e-92 for 1.5e-95.
// Each term is held as a product over the term at k, so that nothing
// underflows, and the sum is returned as a logarithm.  The start k is where
// p_j t_j is largest (j (j + a) = y lambda).  The same pass sums
// sum_j p_j t_j = 2 f(x; df + 2, nc) = -2 dF/dnc, the slope the
// noncentrality solver needs.
//
// Where the series would take more than some 10^5 terms (a + k above
// kSeriesShapeLimit, x or nc about 2e8) the Lugannani-Rice saddlepoint
// approximation (Butler, Saddlepoint Approximations with Applications,
// 2007, ch. 1) stands in: its relative error, against the series, is
// 9e-8 at df + nc = 1e5, 8e-11 at 1e7 and 3e-12 at 1e8, 35 standard
// deviations out (less in the body).
//
// The noncentrality for a probability p is the root of F(x; df, nc) = p,
// found by Newton steps on log F (log(1 - F) for p above 1/2) inside a
// bracket that every evaluation narrows, from the normal approximation of
// the noncentral quantile.  For extreme tails the log-probability routines
// also integrate the density (the Bessel form of A&S 26.4.25).
#include "numerics/noncentral_chisq.h"

#include <cmath>

#include "numerics/bessel.h"
#include "numerics/distributions.h"
#include "numerics/log_gamma_family.h"
#include "numerics/quadrature.h"
#include "numerics/gamma_beta.h"
#include "velix/host.h"

using namespace velix;

namespace {

constexpr double kLog2 = 0.6931471805599453;
// Beyond this shape of the start term (a + k, about half of x or of the
// noncentrality) the series would need more than about 10^5 terms and the
// saddlepoint approximation answers.
constexpr double kSeriesShapeLimit = 1e8;
// The largest log of rho that the sums take unshifted.
constexpr double kRescaleLog = 700.0;
// Steps of the noncentrality solver: Newton steps converge in a handful;
// the rest is room for the bisections of a bracket that starts at
// [0, infinity).
constexpr int kSolverSteps = 200;
// Relative accuracy of the noncentrality.
constexpr double kSolverTol = 1e-12;
// Newton steps are taken where the log tail is within this of log p.
constexpr double kNewtonRange = 1e4;
// Below this shape (df below 2e-15) the upper gamma tail at y <= 1 is
// s E1(y) to double precision.
constexpr double kTinyShape = 1e-15;

// log(1 - e^l) for l <= 0.
double log1m_exp(double l) { return zln1px(-std::exp(l)); }

// k log(k/lambda) + lambda - k, the deviance of the Poisson weight,
// without the cancellation of its parts near k = lambda (Loader 2000).
double poisson_deviance(double k, double lambda) {
    const double t = (k - lambda) / lambda;
    if (t < -0.5 || t > 1.0) return k * std::log(k / lambda) + lambda - k;
    // lambda ((1 + t) log(1 + t) - t) = lambda ((1 + t) (log(1 + t) - t) + t^2).
    return lambda * ((1.0 + t) * detail::log1pmx(t) + t * t);
}

// log p_k = log(e^-lambda lambda^k / k!).
double log_poisson(double k, double lambda) {
    if (k < 10.0) return k * std::log(lambda) - lambda - zlgamma(k + 1.0);
    return -poisson_deviance(k, lambda) - 0.5 * std::log(k) - kLogSqrt2Pi - zlgbern(k);
}

// Logs of the two tails and of the slope sum_j p_j t_j.
struct Tails {
    double logLower = 0.0;
    double logUpper = 0.0;
    double logSlope = 0.0;
};

// The sums of a side's terms and slope terms, every term held over
// e^shift.  The terms are products relative to the term at the start,
// near the largest, so they stay far inside the doubles; only a start
// ratio rho beyond them (a tiny df far above its mean) sets a shift.
struct ScaledSum {
    double sum = 0.0;
    double slope = 0.0;
    double shift = 0.0;
    void add(double term, double slopeTerm) {
        sum += term;
        slope += slopeTerm;
    }
};

// Whether a side is done: its newest term is below tol times the sum (and
// the slope term below tol times the slope sum), and the terms fall (every
// side is unimodal: products and partial sums of log-concave sequences).
bool side_done(double term, double previous, double slopeTerm, const ScaledSum& s, double tol) {
    return term <= previous && term <= tol * s.sum && slopeTerm <= tol * s.slope;
}

// Terms a side may take: several times the spread of its terms from a
// start at the largest one.  The Poisson weights spread over about
// sqrt(lambda) <= sqrt(a + k) of them near k; the gamma terms of shapes
// near a + k fall by y/(a + i) a step, which near their mean takes up to
// about sqrt(74 (a + k)) steps to reach eps.
double side_term_limit(double a, double k) { return 1000.0 + 40.0 * std::sqrt(a + k + 1.0); }

// The lower tail: sum_{j<=k} p_j P(a+j) by P(a+j-1) = P(a+j) + t_{j-1}
// (w), then sum_{i>k} t_i D_i, D_i = p_{k+1} + ... + p_i, by
// t_i D_i = (t_{i-1} D_{i-1}) y/(a+i) + p_i t_i (u); s = p_j t_j.  All
// relative to the term p_k P(a+k), rho = t_k / P(a+k) (given as its log;
// the sums start at the scale acc->shift).  Result 0, or -1 when a side
// reached its term limit.
int32_t lower_sides(double y, double a, double lambda, double k, double logRho, double tol, ScaledSum* acc) {
    const double limit = side_term_limit(a, k);
    double w = std::exp(-acc->shift), s = std::exp(logRho - acc->shift);
    acc->add(w, s);
    double n = 0.0;
    for (double j = k; j > 0.0; j -= 1.0) {
        const double prev = w, f = j / lambda;
        s *= f * ((a + j) / y);
        w = w * f + s;
        acc->add(w, s);
        if (side_done(w, prev, s, *acc, tol)) break;
        if (++n > limit) return -1;
    }
    double u = 0.0, v = std::exp(logRho - acc->shift);
    n = 0.0;
    for (double i = k + 1.0;; i += 1.0) {
        const double prev = u, g = y / (a + i);
        v *= (lambda / i) * g;
        u = u * g + v;
        acc->add(u, v);
        if (side_done(u, prev, v, *acc, tol)) break;
        if (++n > limit) return -1;
    }
    return 0;
}

// The upper tail but its term Q(a) (p_0 + ... + p_{k-1}): sum_{j>=k}
// p_j Q(a+j) by Q(a+j+1) = Q(a+j) + t_j (w), then sum_{i<=k-2} t_i B_i,
// B_i = p_{i+1} + ... + p_{k-1}, by t_i B_i = (t_{i+1} B_{i+1} +
// p_{i+1} t_{i+1}) (a+i+1)/y (u); s = p_j t_j.  Relative to p_k Q(a+k),
// rho = t_k / Q(a+k), as lower_sides.
int32_t upper_sides(double y, double a, double lambda, double k, double logRho, double tol, ScaledSum* acc) {
    const double limit = side_term_limit(a, k);
    double w = std::exp(-acc->shift), s = std::exp(logRho - acc->shift);
    acc->add(w, s);
    double n = 0.0;
    for (double j = k;; j += 1.0) {
        const double prev = w, f = lambda / (j + 1.0);
        w = (w + s) * f;
        s *= f * (y / (a + j + 1.0));
        acc->add(w, s);
        if (side_done(w, prev, s, *acc, tol)) break;
        if (++n > limit) return -1;
    }
    if (k < 1.0) return 0;
    // p_{k-1} t_{k-1}; the two ratios first: k/lambda alone can pass 1e154.
    double u = 0.0, v = std::exp(logRho - acc->shift) * ((k / lambda) * ((a + k) / y));
    acc->add(0.0, v);
    n = 0.0;
    for (double m = k - 1.0; m >= 1.0; m -= 1.0) {
        const double prev = u, g = (a + m) / y;
        u = (u + v) * g;
        v *= (m / lambda) * g;
        acc->add(u, v);
        if (side_done(u, prev, v, *acc, tol)) break;
        if (++n > limit) return -1;
    }
    return 0;
}

// E1(y) = -gamma - log y + sum_{k>=1} (-1)^(k+1) y^k / (k k!) for
// 0 < y <= 1 (A&S 5.1.11), where the terms fall by y/(k+1) at least.
double exponential_integral(double y) {
    constexpr double kEulerGamma = 0.5772156649015329;
    double term = y, sum = y;
    for (int k = 2; k < 40 && std::fabs(term) > kMachEps * std::fabs(sum); ++k) {
        term *= -y * (k - 1) / (static_cast<double>(k) * k);
        sum += term;
    }
    return -kEulerGamma - std::log(y) + sum;
}

// Log P and log Q of the gamma distribution of shape s at y, by the lower
// series below the mean and Legendre's fraction above (never the
// Wilson-Hilferty approximation).  Out, when logRho is given: the log of
// the density term y^s e^-y / Gamma(s + 1) over the lower (lower true) or
// upper tail; where that tail is the method's own, from the ratio the
// method already holds (P = T y sum, Q = T f, T = y^(s-1) e^-y / Gamma(s),
// the term T y / s), not from a difference of two logs, which loses its
// digits as the logs grow.  False when the method fails.
bool exact_gamma_logs(double y, double s, double tol, double* logP, double* logQ, bool lower = true,
                      double* logRho = nullptr) {
    if (s < kTinyShape && y <= 1.0) {
        // Q(s, y) = y^s E_{1-s}(y) / Gamma(s) = s E1(y) (1 + O(s log y)),
        // exact in doubles for these shapes, where the series would leave
        // Q = 1 - P to its rounding (and 1/s can pass the doubles).
        *logQ = std::log(s) + std::log(exponential_integral(y));
        *logP = log1m_exp(*logQ);
        if (logRho != nullptr)
            *logRho = detail::log_gamma_density(y, s + 1.0, INFINITY) - (lower ? *logP : *logQ);
        return std::isfinite(*logQ) && std::isfinite(*logP);
    }
    LogGammaWork w;
    w.x = y;
    w.a = s;
    w.tolerance = tol;
    const bool series = y <= s || y <= 1.0;
    if ((series ? zsergam(&w) : zcnf2gm(&w)) != 0) return false;
    *logP = w.logP;
    *logQ = w.logQ;
    if (logRho != nullptr) {
        if (series == lower)
            *logRho = (series ? 0.0 : std::log(y)) - std::log(s) - std::log(w.partial);
        else
            *logRho = detail::log_gamma_density(y, s + 1.0, INFINITY) - (lower ? w.logP : w.logQ);
    }
    return std::isfinite(w.logP) && std::isfinite(w.logQ) && w.logP <= 0.0 && w.logQ <= 0.0;
}

// log(e^l1 + e^l2) around the larger.
double log_add(double l1, double l2) {
    const double m = std::fmax(l1, l2);
    return m + zln1px(std::exp(std::fmin(l1, l2) - m));
}

// Where p_j t_j is largest: the positive root of j (j + a) = y lambda,
// 2 r^2 / (a + sqrt(a^2 + 4 r^2)) with r^2 = y lambda, formed so that
// neither the square nor the difference leaves the doubles.
double start_index(double y, double a, double lambda) {
    const double r = std::sqrt(y) * std::sqrt(lambda);
    return 2.0 * r * (r / (a + std::hypot(a, 2.0 * r)));
}

// The series of the file comment (in: y, a, lambda > 0, tol; out: t).
// Result 0, 1 when the gamma tails at the start fail, -1 at a term limit
// or when the series would be too long to try (a + k above
// kSeriesShapeLimit).
int32_t series_tails(double y, double a, double lambda, double tol, Tails* t) {
    const bool lowerSide = y < a + lambda;  // x below the mean df + nc
    const double k = std::floor(start_index(y, a, lambda));
    if (!(a + k <= kSeriesShapeLimit)) return -1;
    double logP, logQ, logRho;  // rho = t_k over the tail at k
    if (!exact_gamma_logs(y, a + k, tol, &logP, &logQ, lowerSide, &logRho)) return 1;
    ScaledSum acc;
    // rho can pass the doubles (about y/a above the mean of a tiny df):
    // the sums then start at a scale that holds it.
    acc.shift = std::fmax(logRho - kRescaleLog, 0.0);
    const int32_t st = lowerSide ? lower_sides(y, a, lambda, k, logRho, tol, &acc)
                                 : upper_sides(y, a, lambda, k, logRho, tol, &acc);
    if (st != 0) return st;
    if (!(acc.sum > 0.0 && acc.sum < INFINITY)) return 1;
    const double scale = log_poisson(k, lambda) + (lowerSide ? logP : logQ) + acc.shift;
    double small = scale + std::log(acc.sum);
    if (!lowerSide && k >= 1.0) {
        // Q(a+j) = Q(a) + t_0 + ... + t_{j-1}: the Q(a) parts of the terms
        // below k, Q(a) times the Poisson probability of fewer than k,
        // which is Q(k, lambda).
        double logPa, logQa, logPk, logQk;
        if (!exact_gamma_logs(y, a, tol, &logPa, &logQa) || !exact_gamma_logs(lambda, k, tol, &logPk, &logQk))
            return 1;
        small = log_add(small, logQa + logQk);
    }
    t->logLower = lowerSide ? small : log1m_exp(small);
    t->logUpper = lowerSide ? log1m_exp(small) : small;
    t->logSlope = scale + std::log(acc.slope);
    return 0;
}

// The saddlepoint quantities at x for (df, nc): u = 1/(1 - 2s) at the
// saddlepoint s (K'(s) = df u + nc u^2 = x) and log u, d = u - 1, and the
// root of the signed deviance over d (w = d what).  With r =
// sqrt(df^2/4 + nc x), u = x / (df/2 + r) and d = (x - df - nc) /
// (df/2 + r + nc): neither cancels near the mean nor for x far below it
// (where df/2 - r would), and neither leaves the doubles for any x.
struct Saddlepoint {
    double u = 1.0;
    double logU = 0.0;
    double d = 0.0;
    double what = 0.0;
};

// log(1 + d) for the saddlepoint's d: from log u where d is near -1 or large.
double log1p_of(const Saddlepoint& sp) { return std::fabs(sp.d) < 0.5 ? zln1px(sp.d) : sp.logU; }

// (log(1 + d) - d + d^2/2) / d^3, 1/3 at d = 0; nested so that no power
// of a huge d is formed.
double log1p_cubic(const Saddlepoint& sp) {
    const double d = sp.d;
    if (std::fabs(d) > 0.1) return ((log1p_of(sp) / d - 1.0) / d + 0.5) / d;
    // 1/3 - d/4 + d^2/5 - ...: |d| <= 0.1 takes at most 17 terms.
    double sum = 0.0, power = 1.0;
    for (int k = 3; k < 40; ++k) {
        const double term = power / k;
        sum += (k % 2 == 1) ? term : -term;
        if (std::fabs(term) <= kMachEps * std::fabs(sum)) break;
        power *= d;
    }
    return sum;
}

// (log(1 + d) - d) / d^2, -1/2 at d = 0.
double log1pmx_square(const Saddlepoint& sp) {
    const double d = sp.d;
    if (std::fabs(d) > 0.1) return (log1p_of(sp) / d - 1.0) / d;
    return -0.5 + d * log1p_cubic(sp);
}

Saddlepoint saddlepoint(double x, double df, double nc) {
    const double r = std::hypot(0.5 * df, std::sqrt(nc) * std::sqrt(x));
    Saddlepoint sp;
    sp.u = x / (0.5 * df + r);
    sp.logU = std::log(x) - std::log(0.5 * df + r);
    sp.d = (x - df - nc) / (0.5 * df + r + nc);
    // s x - K(s) = -(df/2) (log(1 + d) - d) + (nc/2) d^2 = (d what)^2 / 2.
    sp.what = std::sqrt(-df * log1pmx_square(sp) + nc);
    return sp;
}

// R(t) - 1/t for t >= 1, R the Mills ratio (1 - Phi(t)) / phi(t): from
// t = 30 on by the asymptotic series -1/t^3 (1 - 3/t^2 + 15/t^4 - ...),
// whose terms fall by (2k+1)/t^2 at least 30 times a step there, else as
// the difference (which keeps its digits to within t^2 eps of 1/t).
// Result 0, or 1 when the Mills ratio fails.
int32_t mills_minus_inverse(double t, double* out) {
    if (t < 30.0) {
        double r = 0.0;
        if (zmillsr(t, &r) != 0) return 1;
        *out = r - 1.0 / t;
        return 0;
    }
    const double t2 = t * t;
    double term = -1.0 / (t * t2), sum = term;
    for (int k = 1; k < 30 && std::fabs(term) > kMachEps * std::fabs(sum); ++k) {
        term *= -(2.0 * k + 1.0) / t2;
        sum += term;
    }
    *out = sum;
    return 0;
}

// The Lugannani-Rice tails: with v = s sqrt(K''(s)) = d vhat,
// vhat = sqrt(df/2 + nc u), the smaller tail is
// phi(w) (R(|w|) + sign(w) (1/v - 1/w)), R the Mills ratio, and
// 1/v - 1/w = N / ((what + vhat) vhat what) with N = (w^2 - v^2)/d^3 =
// -df L3(d) - nc, L3 = log1p_cubic: no cancellation at the mean (from
// |w| = 1 on the sum is taken as (R - 1/|w|) + 1/|v|).  Beyond
// |w| = 1e150 the smaller tail is 0.  The slope 2 f(x; df + 2, nc) by the
// saddlepoint density exp(K(s) - s x) / sqrt(2 pi K''(s)),
// K'' = 2 df u^2 + 4 nc u^3, in logarithms.
int32_t saddlepoint_tails(double x, double df, double nc, Tails* t) {
    const Saddlepoint sp = saddlepoint(x, df, nc);
    const double w = sp.d * sp.what;
    double small = -INFINITY;
    if (std::fabs(w) < 1e150) {
        const double vhat = std::sqrt(0.5 * df + nc * sp.u);
        double factor = 0.0;
        if (std::fabs(w) < 1.0) {
            const double c = (-df * log1p_cubic(sp) - nc) / (sp.what + vhat) / vhat / sp.what;
            double mills = 0.0;
            if (zmillsr(std::fabs(w), &mills) != 0) return 1;
            factor = mills + (w >= 0.0 ? c : -c);
        } else {
            // (R - 1/|w|) + 1/|v|: far above the mean with a small nc, 1/|v|
            // is many orders below 1/|w|, and R - 1/|w| must keep its own
            // digits rather than those of R.
            double lead = 0.0;
            if (mills_minus_inverse(std::fabs(w), &lead) != 0) return 1;
            factor = lead + 1.0 / (std::fabs(sp.d) * vhat);
        }
        if (!(factor > 0.0)) return 1;
        small = -0.5 * w * w - kLogSqrt2Pi + std::log(factor);
    }
    t->logLower = w >= 0.0 ? log1m_exp(small) : small;
    t->logUpper = w >= 0.0 ? small : log1m_exp(small);
    const double df2 = df + 2.0;
    const Saddlepoint s2 = saddlepoint(x, df2, nc);
    const double w2 = s2.d * s2.what;
    const double logK2 = std::log(2.0 * df2 + 4.0 * nc * s2.u) + 2.0 * s2.logU;
    t->logSlope = kLog2 - 0.5 * w2 * w2 - 0.5 * (std::log(2.0 * M_PI) + logK2);
    return 0;
}

// Both tails and the slope at (x > 0, df > 0, nc > 0): the series, or the
// saddlepoint approximation where the series would be long.
int32_t noncentral_tails(double x, double df, double nc, double tol, Tails* t) {
    const double y = 0.5 * x, a = 0.5 * df, lambda = 0.5 * nc;
    if (a + start_index(y, a, lambda) > kSeriesShapeLimit) return saddlepoint_tails(x, df, nc, t);
    return series_tails(y, a, lambda, tol, t);
}

}  // namespace

double norm_a(double x, double df, double nc, double z) {
    double s = df + nc;
    double h = (1.0 + nc / s) * 0.222222 / s;
    return (std::pow(x / s, 0.333333333) - 1.0 + h) / std::sqrt(h) - z;
}

// Steps:
//   refuse bad input; x = 0 is the trivial case; nc = 0 by the incomplete
//   gamma function;
//   otherwise both tails from the smaller one, summed as the file comment
//   says (or by the saddlepoint approximation for huge arguments).
int32_t zplbcnc(double x, double df, double nc, double* lower, double* upper) {
    *lower = host_missing_value();
    *upper = host_missing_value();
    if (!(x >= 0.0) || !(df > 0.0) || !(nc >= 0.0) || !std::isfinite(x) || !std::isfinite(nc)) return 1;
    if (x == 0.0) {
        *lower = 0.0;
        *upper = 1.0;
        return 0;
    }
    if (nc == 0.0) {
        double pv, qv, dv;
        if (zigamma(0.5 * x, 0.5 * df, &pv, &qv, &dv) != 0) return 1;
        *lower = pv;
        *upper = qv;
        return 0;
    }
    Tails t;
    const int32_t st = noncentral_tails(x, df, nc, kMachEps, &t);
    if (st != 0) return st;
    *lower = std::exp(t.logLower);
    *upper = std::exp(t.logUpper);
    return 0;
}

namespace {

// The normal approximation of the noncentrality that puts x at the p point:
// x = df + nc + z sqrt(2 (df + 2 nc)), z the normal quantile of p, solved
// for nc (a quadratic in sqrt(2 df + 4 nc)); 0 when it has no positive root.
double normal_start(double x, double df, double p) {
    const double z = zprobit(p);
    const double half = -z + std::sqrt(std::fmax(z * z + x - 0.5 * df, 0.0));  // sqrt(2 df + 4 nc) / 2
    return std::fmax(half * half - 0.5 * df, 0.0);
}

// g(nc) = log F - log p (p <= 1/2) or log(1 - F) - log(1 - p), and its
// derivative from dF/dnc = -(1/2) sum p_j t_j.  Result as noncentral_tails.
int32_t root_function(double x, double df, double nc, double p, double* g, double* dg, bool* above) {
    Tails t;
    const int32_t st = noncentral_tails(x, df, nc, kMachEps, &t);
    if (st != 0) return st;
    if (p <= 0.5) {
        *g = t.logLower - std::log(p);
        *dg = -0.5 * std::exp(t.logSlope - t.logLower);
    } else {
        *g = t.logUpper - zln1px(-p);
        *dg = 0.5 * std::exp(t.logSlope - t.logUpper);
    }
    // F above p: the root lies at a larger noncentrality.
    *above = p <= 0.5 ? *g > 0.0 : *g < 0.0;
    return 0;
}

}  // namespace

// Steps:
//   refuse bad input; P0 := the central probability; no root when p > P0,
//     nc = 0 when p = P0;
//   start from the normal approximation; bracket [0, infinity);
//   repeat: g and g' at nc (each evaluation narrows the bracket); a Newton
//     step on g, or the bracket's midpoint (double the point while the
//     bracket is open) when the step leaves it; converged when the step is
//     below 1e-12 of nc or the bracket has closed to that width.
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
    if (!std::isfinite(x)) return 1;
    double p0, q0, d0;
    if (zigamma(0.5 * x, 0.5 * df, &p0, &q0, &d0) != 0) return 1;
    if (p > p0) return 1;
    if (p == p0) {
        *nc = 0.0;
        return 0;
    }
    double lo = 0.0, hi = INFINITY;
    double cur = normal_start(x, df, p);
    if (!(cur > 0.0)) cur = 1.0;
    for (int pass = 0; pass < kSolverSteps; ++pass) {
        double g, dg;
        bool above;
        if (root_function(x, df, cur, p, &g, &dg, &above) != 0) return 1;
        if (g == 0.0) {
            *nc = cur;
            return 0;
        }
        (above ? lo : hi) = cur;
        // Far from the root (the tail e^-1e4 times p or smaller) the slope
        // can over- or underflow against the tail, or for huge arguments
        // lose every digit in the difference of two logs near -1e288: no
        // Newton step there, only the bracket.
        const double step = g / dg;
        const bool newton = std::fabs(g) <= kNewtonRange && std::isfinite(dg) && dg != 0.0 && std::isfinite(step);
        // A step this small is the root to rounding (it may not even move
        // cur, so it is not tried against the bracket).
        if (newton && std::fabs(step) <= kSolverTol * cur) {
            *nc = std::fmax(cur - step, 0.0);
            return 0;
        }
        double next = newton ? cur - step : NAN;
        if (!(next > lo && next < hi)) next = std::isfinite(hi) ? 0.5 * (lo + hi) : 2.0 * cur;
        if ((std::isfinite(hi) && hi - lo <= kSolverTol * hi) || !std::isfinite(next)) {
            *nc = next;
            return std::isfinite(next) ? 0 : 1;
        }
        cur = next;
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

namespace {

// The central case of the log routines: both log tails and the log density
// by the log incomplete gamma function at (x/2, df/2).
int32_t central_logs(NoncentralLogRecord* rec) {
    LogGammaWork g;
    g.x = 0.5 * rec->x;
    g.a = 0.5 * rec->df;
    g.tolerance = rec->tolerance;
    if (zloggam(&g) != 0) return 1;
    rec->logLower = g.logP;
    rec->logUpper = g.logQ;
    rec->logDensity = g.logDensity - kLog2;
    return 0;
}

}  // namespace

// Steps: refuse bad input; x = 0 and nc = 0 directly (the latter by the
// log incomplete gamma); otherwise the series of zplbcnc, whose smaller
// tail is already a logarithm.
int32_t zsercnc(NoncentralLogRecord* rec) {
    const double x = rec->x, df = rec->df, nc = rec->nc;
    if (!(x >= 0.0) || !(df > 0.0) || !(nc >= 0.0)) return 1;
    if (x == 0.0) {
        rec->logLower = -kDblMax;
        rec->logUpper = 0.0;
        return 0;
    }
    if (nc == 0.0) return central_logs(rec);
    Tails t;
    const int32_t st = series_tails(0.5 * x, 0.5 * df, 0.5 * nc, std::fmax(rec->tolerance, kMachEps), &t);
    if (st != 0) return st;
    rec->logLower = t.logLower;
    rec->logUpper = t.logUpper;
    return 0;
}

// Steps: refuse bad input; nc = 0 through the log incomplete gamma; set the
// small-lower-tail flag from the Wilson-Hilferty deviate; the density by
// zldncnc on request; the probabilities by the series for nc <= 500, by
// integration beyond or when the series fails.
int32_t zlogcnc(NoncentralLogRecord* rec) {
    const double x = rec->x, df = rec->df, nc = rec->nc;
    if (!(x > 0.0) || !(df >= 1e-8) || !(nc >= 0.0)) return 1;
    rec->tolerance = std::fmax(rec->tolerance, 5.0 * kMachEps);
    if (nc == 0.0) return central_logs(rec);
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
