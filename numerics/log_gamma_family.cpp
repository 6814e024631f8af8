// The incomplete gamma function in logarithms (the lower series and
// Legendre's continued fraction of A&S 6.5.29 and 6.5.31, or that fraction
// in powers of 1/x before its contraction, the asymptotic expansion 6.5.32
// for x much larger than a, the corrected Wilson-Hilferty approximation
// for huge shapes), with numerical integration of the density as the last
// resort; the incomplete beta function in logarithms by its continued
// fraction (A&S 26.5.8) with the cube-root normal approximation (26.5.21)
// for huge shapes; and the log gamma and beta densities.  In logarithms the
// prefactor x^a (1-x)^b / B(a, b) cannot underflow, so the tails stay
// accurate where the plain functions return 0.
//
//   zloggam: x = 0 limits; x/a >= 100: asymptotic series; else zbsgam;
//            if that fails, zintgam; a positive log probability is failure.
//   zlogbet: end points; log density; zcnfbet; if the fraction fails and
//            both shapes are large, the normal approximation.
#include "numerics/log_gamma_family.h"

#include <cmath>

#include "numerics/distributions.h"
#include "numerics/gamma_beta.h"
#include "numerics/quadrature.h"
#include "velix/host.h"

using namespace velix;

namespace {

// log(1 - e^l) for l <= 0.
double log1m_exp(double l) { return zln1px(-std::exp(l)); }

}  // namespace

int32_t zldngam(double x, double a, double* out) {
    if (x < 0.0 || !(a > 0.0)) return 1;
    if (x == 0.0) {
        *out = (a == 1.0) ? 0.0 : host_missing_value();
        return 0;
    }
    *out = detail::log_gamma_density(x, a);
    return 0;
}

int32_t zldnbet(double x, double a, double b, double* out) {
    if (!(x >= 0.0 && x <= 1.0) || !(a > 0.0) || !(b > 0.0)) return 1;
    if (x == 0.0) {
        *out = (a == 1.0) ? std::log(b) : host_missing_value();
        return 0;
    }
    if (x == 1.0) {
        *out = (b == 1.0) ? std::log(a) : host_missing_value();
        return 0;
    }
    *out = (a - 1.0) * std::log(x) + (b - 1.0) * zln1px(-x) - zlbeta(a, b);
    return 0;
}

void lwilhil(LogGammaWork* w) {
    double q = 0.0;
    double p = wilhil(w->a, w->x, &q);
    w->logP = std::log(p);
    w->logQ = std::log(q);
}

int32_t zsergam(LogGammaWork* w) {
    double term = 1.0 / w->a, sum = term;
    int k = 0;
    const int32_t limit = detail::gamma_term_limit(920, w->a);
    while (term > w->tolerance * sum) {
        if (++k > limit) return 1;
        term *= w->x / (w->a + k);
        sum += term;
    }
    w->partial = sum;
    w->logP = detail::log_gamma_density(w->x, w->a) + std::log(w->x * sum);
    w->logQ = log1m_exp(w->logP);
    w->method = 0;
    return 0;
}

int32_t zcnf2gm(LogGammaWork* w) {
    double f = 0.0;
    if (!detail::gamma_upper_fraction(w->x, w->a, w->tolerance, &f)) return 1;
    w->partial = f;
    w->logQ = detail::log_gamma_density(w->x, w->a) + std::log(f);
    w->logP = log1m_exp(w->logQ);
    w->method = 4;
    return 0;
}

int32_t zcnf1gm(LogGammaWork* w) {
    double f = 0.0;
    // Far below the mean the convergents can settle on a value that is
    // not positive: no tail to take the log of.
    if (!detail::gamma_upper_fraction_inverse_x(w->x, w->a, w->tolerance, &f) || !(f > 0.0)) return 1;
    w->partial = f;
    w->logQ = detail::log_gamma_density(w->x, w->a) + std::log(f);
    w->logP = log1m_exp(w->logQ);
    w->method = 3;
    return 0;
}

int32_t zasgam(LogGammaWork* w) {
    const double x = w->x, a = w->a;
    double term = 1.0, sum = 0.0;
    for (int k = 1; k <= 100; ++k) {
        term *= (a - k) / x;
        sum += term;
        if (std::fabs(term) <= 1e-12 * std::fabs(1.0 + sum)) {
            w->partial = sum;
            w->logQ = zln1px(sum) - x + (a - 1.0) * std::log(x) - zlgamma(a);
            w->logP = log1m_exp(w->logQ);
            w->method = 5;
            return 0;
        }
    }
    return 1;
}

int32_t zbsgam(LogGammaWork* w) {
    const double x = w->x, a = w->a;
    w->shape1 = a - 1.0;
    w->logDensity = detail::log_gamma_density(x, a);
    if (a >= 1e7 && std::fabs(x - a) <= 0.7 * std::sqrt(a) + 0.02 * a) {
        lwilhil(w);
        w->method = 3;
        return 0;
    }
    if (x <= a || x <= 1.0) {
        if (zsergam(w) != 0) return 1;
        w->method = 2;
        return 0;
    }
    return zcnf2gm(w);
}

int32_t fntrgam(double t, void* work, double* value) {
    auto* w = static_cast<LogGammaWork*>(work);
    double logF = (w->a - 1.0) * std::log(t) - t - w->logNormaliser;
    return zhrdys_report_scaled(w->quadrature, logF, value);
}

int32_t zintgam(LogGammaWork* w) {
    QuadratureControl q;
    bool lowerTail = w->x < w->a;
    zhrdys_tail_setup(&q, lowerTail, w->x, std::fmax(w->x + 1.0, w->a), w->tolerance, fntrgam, w);
    w->quadrature = &q;
    w->logNormaliser = zlgamma(w->a);
    double integral = 0.0;
    int32_t st = zhrdys(&q, &integral);
    w->quadrature = nullptr;
    if (st != 0 || !(integral > 0.0)) return 1;
    w->scaleExponent = q.exponent;
    double tail = std::log(integral) + q.exponent;
    if (lowerTail) {
        w->logP = tail;
        w->logQ = log1m_exp(tail);
    } else {
        w->logQ = tail;
        w->logP = log1m_exp(tail);
    }
    w->method = 6;
    return 0;
}

int32_t zloggam(LogGammaWork* w) {
    const double x = w->x, a = w->a;
    if (!(x >= 0.0) || !(a > 1e-9)) return 1;
    w->tolerance = std::fmax(w->tolerance, 5.0 * kMachEps);
    if (x == 0.0) {
        w->logP = -kDblMax;
        w->logQ = 0.0;
        w->logDensity = (a > 1.0) ? -kDblMax : (a == 1.0 ? 0.0 : kDblMax);
        return 0;
    }
    w->logDensity = detail::log_gamma_density(x, a);
    bool done = false;
    if (x / a >= 100.0 && a >= 0.5) done = (zasgam(w) == 0);
    if (!done) done = (zbsgam(w) == 0);
    if (!done && zintgam(w) != 0) return 1;
    w->logDensity = detail::log_gamma_density(x, a);
    if (w->logP > 0.0 || w->logQ > 0.0) return 1;
    return 0;
}

int32_t zcnfbet(LogBetaWork* w) {
    const double x = w->x, a = w->a, b = w->b;
    bool direct = true;
    double f = 0.0;
    if (!detail::beta_either_side(x, a, b, w->tolerance, detail::kBetaFractionSteps, &direct, &f) || !(f > 0.0))
        return 1;
    w->partial = f;
    // The density is symmetric in (x, a) and (1 - x, b): the fraction's
    // side takes I = density * x * f with its own x.
    const double tail = w->logDensity + std::log(direct ? x : 1.0 - x) + std::log(f);
    w->logP = direct ? tail : log1m_exp(tail);
    w->logQ = direct ? log1m_exp(tail) : tail;
    w->method = direct ? 1 : 2;
    return 0;
}

int32_t zlogbet(LogBetaWork* w) {
    const double x = w->x, a = w->a, b = w->b;
    if (!(x >= 0.0 && x <= 1.0) || !(a > 0.0) || !(b > 0.0) || a > 2147483647.0 || b > 2147483647.0) return 1;
    // The fraction's own tolerance, as in the plain incomplete beta.
    w->tolerance = std::fmax(w->tolerance, 8.0 * kMachEps);
    if (x == 0.0 || x == 1.0) {
        const double shape = x == 0.0 ? a : b;
        w->logP = x == 0.0 ? -kDblMax : 0.0;
        w->logQ = x == 0.0 ? 0.0 : -kDblMax;
        w->logDensity = shape > 1.0 ? -kDblMax : shape < 1.0 ? kDblMax : std::log(x == 0.0 ? b : a);
        return 0;
    }
    zldnbet(x, a, b, &w->logDensity);
    if (zcnfbet(w) == 0) return 0;
    if (!detail::beta_normal_allowed(a, b)) return 1;
    double logDensityZ = 0.0;
    if (zlognrm(detail::beta_normal_deviate(x, a, b), &w->logP, &w->logQ, &logDensityZ) != 0) return 1;
    w->method = 3;
    return 0;
}
