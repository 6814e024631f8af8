// Line searches 1 to 5 and their fallback: safeguarded searches on
// phi(alpha) = f(x0 + alpha d) with a sufficient-decrease (Armijo) test, a
// slope test governed by LSPRECISION, cubic and quadratic interpolation
// inside a bracket and extrapolation beyond it (More and Thuente, "Line
// search algorithms with guaranteed sufficient decrease", ACM TOMS 20,
// 1994; Fletcher, Practical Methods of Optimization, 2nd ed., 1987, sec.
// 2.6; Dennis and Schnabel, 1983, sec. 6.3).
#include <algorithm>

#include "host/fields.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/line_search_frame.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "velix/host.h"

namespace velix::detail {

LineSearch::LineSearch(NlpProblem* problem) : p(problem), n(problem->shape.nParams) {
    p->run.nLineSearches += 1;
    f0 = p->iter.f;
    fBest = f0;
    gmax0 = p->iter.maxProjGrad;
    amax = p->iter.stepBound;
    if (p->run.nLineSearches <= p->opt.earlyStepSearches) amax = std::fmin(amax, p->opt.earlyStepCap);
}

double LineSearch::slope(const double* g) {
    if (p->shape.hasLinCon || p->shape.hasNlinCon) {
        ra_.resize(static_cast<size_t>(n));
        rb_.resize(static_cast<size_t>(n));
        // Reduce a copy of g: znlpvre reads a full vector.
        znlpvre(p, g, ra_.data());
        znlpvre(p, p->work.direction, rb_.data());
        return znlpgs(p, ra_.data(), rb_.data(), g, p->work.direction);
    }
    return znlpgs(p, nullptr, nullptr, g, p->work.direction);
}

void LineSearch::set_x(double alpha) {
    for (int32_t i = 0; i < n; ++i) p->param.x[i] = p->work.xBase[i] + alpha * p->work.direction[i];
}

bool LineSearch::objective_at(double alpha) {
    set_x(alpha);
    p->run.lastEval = kLastObjective;
    p->run.evalStatus = 0.0;
    const bool ok = p->cb.objectiveFn(p) == 0 && p->run.evalStatus == 0.0;
    aLast_ = alpha;
    lastOk_ = ok;
    if (ok && p->iter.f <= fBest) {
        fBest = p->iter.f;
        aBest = alpha;
    }
    return ok;
}

bool LineSearch::gradient_now() {
    p->run.lastEval = kLastGradient;
    p->run.evalStatus = 0.0;
    return (p->cb.gradientFn == nullptr || p->cb.gradientFn(p) == 0) && p->run.evalStatus == 0.0;
}

bool LineSearch::evaluate_best() {
    if (!objective_at(aBest) || !gradient_now()) {
        restore();
        return false;
    }
    znlpgmx(p, 0, nullptr);
    return true;
}

int32_t LineSearch::accept(double alpha) {
    if (alpha > kTiny && p->iter.f <= f0) {
        p->iter.lastStep = alpha;
        if (p->run.nLineSearches == 5) p->opt.stepCap = 1.0;
        return 0;
    }
    return -1;
}

void LineSearch::restore() {
    set_x(0.0);
    p->iter.f = f0;
    p->iter.lastStep = 0.0;
    p->iter.maxProjGrad = gmax0;
}

double cubic_fraction(double a, double fa, double ga, double b, double fb, double gb, double lo,
                      double hi) {
    const double z = ga + gb + 3.0 * (fa - fb) / (b - a);
    const double q = z * z - ga * gb;
    const double w = q > 0.0 ? std::sqrt(q) : 0.0;
    double r = ga >= -z ? (ga + z + w) / (ga + gb + 2.0 * z) : ga / (ga + z - w);
    if (!std::isfinite(r)) r = 0.5;
    return std::fmin(std::fmax(r, lo), hi);
}

double quadratic_fraction(double a, double fa, double ga, double b, double fb) {
    return 0.5 / (1.0 + (fa - fb) / (ga * (b - a)));
}

double parabola_step(double x1, double f1, double x2, double f2, double x3, double f3) {
    const double mean = (x1 + x2 + x3) / 3.0;
    // The vertex -b / 2a = 0.5 N / D of the interpolating parabola
    // a x^2 + b x + c: a = D / den and b = -N / den with
    // den = (x1 - x2)(x1 - x3)(x2 - x3).
    const double d = (x2 - x3) * f1 + (x3 - x1) * f2 + (x1 - x2) * f3;
    const double num = (x2 * x2 - x3 * x3) * f1 + (x3 * x3 - x1 * x1) * f2 + (x1 * x1 - x2 * x2) * f3;
    if (std::fabs(d) > kMinNormal) {
        const double v = 0.5 * num / d;
        if (v > x1 && v < x3) return v;
    }
    return mean;
}

}  // namespace velix::detail

using velix::detail::cubic_fraction;
using velix::detail::kEps;
using velix::detail::kMaxTrials;
using velix::detail::kMinNormal;
using velix::detail::kRelTol;
using velix::detail::kSqrtMin;
using velix::detail::kTiny;
using velix::detail::LineSearch;
using velix::detail::quadratic_fraction;

namespace {

// The differences between searches 1, 2 and 3 in their shared frame.
struct Variant {
    int32_t code;           // 1, 2 or 3
    double fallbackAt;      // bisect only when the entry maxProjGrad exceeds it
    int32_t failure;        // the failure result
    bool gradientAlways;    // the gradient at every usable trial
};

// A search that ends: accept the step, or go to the fallback with ten times
// the step as its upper step.
int32_t finish(LineSearch& s, const Variant& v, double alpha, double g0) {
    if (s.accept(alpha) == 0) return 0;
    if (s.gmax0 > v.fallbackAt && bisect(s.p, s.f0, g0, s.gmax0, 10.0 * alpha) == 0) return 0;
    s.restore();
    return v.failure;
}

int32_t fail(LineSearch& s, const Variant& v) {
    s.restore();
    return v.failure;
}

// The best point (when it improves on f0) or the fallback.
int32_t best_or_fallback(LineSearch& s, const Variant& v, double alpha, double g0) {
    if (s.has_best(true)) return s.evaluate_best() ? finish(s, v, s.aBest, g0) : v.failure;
    if (s.gmax0 > v.fallbackAt && bisect(s.p, s.f0, g0, s.gmax0, 10.0 * alpha) == 0) return 0;
    return fail(s, v);
}

// The best point when it is not worse than f0 (strict: better), else fail.
int32_t best_or_fail(LineSearch& s, const Variant& v, bool strict, double g0) {
    if (s.has_best(strict)) return s.evaluate_best() ? finish(s, v, s.aBest, g0) : v.failure;
    return fail(s, v);
}

// The smallest useful step: the least alpha that moves some component by
// a relative RELTOL.  Its component k gives the bracket width floor w().
struct MinStep {
    double alpha = DBL_MAX;
    int32_t k = -1;
    double width(const NlpProblem* p, double a) const {
        const double dk = std::fabs(p->work.direction[k]);
        return kRelTol * (std::fabs(p->work.xBase[k]) + a * dk) / dk;
    }
};

MinStep min_step(const NlpProblem* p) {
    MinStep m;
    for (int32_t i = 0; i < p->shape.nParams; ++i) {
        const double d = std::fabs(p->work.direction[i]), x = std::fabs(p->work.xBase[i]);
        if (d <= std::fmax(kSqrtMin, kRelTol * x * kSqrtMin)) continue;
        const double a = kRelTol * x / d;
        if (a < m.alpha) {
            m.alpha = a;
            m.k = i;
        }
    }
    return m;
}

int32_t slope_search(NlpProblem* p, const Variant& v) {
    LineSearch s(p);
    const double g0 = s.slope(p->work.gradBase);
    if (g0 > kTiny) return fail(s, v);
    if (g0 > -kTiny || s.amax <= kTiny) return finish(s, v, 0.0, g0);
    const MinStep ms = min_step(p);
    if (ms.k < 0) return fail(s, v);
    const double sigma = p->opt.lsPrecision;
    const double tolInt =
        sigma >= 0.1 && p->opt.derivDigits != 0 && p->opt.fDigits < -std::log10(kRelTol) ? 1e-6 : 0.0;
    const double theta = sigma > 0.2 ? 0.1 : sigma / 2.0;
    const double mu = theta;
    const double missing = host_missing_value();
    double aLo = 0.0, fLo = s.f0, gLo = g0;
    double aHi = 0.0, fHi = missing, gHi = 0.0;
    int32_t flat = 0;
    double alpha = znlpalf(p, g0);

    for (int32_t trial = 0; trial < kMaxTrials; ++trial) {
        const double width = aHi > aLo ? aHi - aLo : alpha - aLo;
        bool usable = s.objective_at(alpha);
        const double f = p->iter.f;
        bool gradientOk = true;
        if (usable && v.gradientAlways) gradientOk = s.gradient_now();
        if (!usable || !gradientOk) {
            if (s.has_best(true)) return best_or_fail(s, v, true, g0);
            if (alpha <= ms.alpha) return fail(s, v);
            if (width <= ms.width(p, alpha)) return best_or_fallback(s, v, alpha, g0);
            aHi = alpha;
            fHi = usable ? f : missing;
            alpha = aLo + 0.1 * width;
            continue;
        }
        if (alpha <= ms.alpha || width <= ms.width(p, alpha)) return best_or_fail(s, v, false, g0);
        if (std::fabs(f - s.f0) <= kMinNormal && flat > 1) return best_or_fail(s, v, false, g0);

        if (f - s.f0 <= alpha * mu * g0) {
            // Sufficient decrease: test the slope.
            flat = 0;
            if (!v.gradientAlways && !s.gradient_now()) {
                if (s.has_best(true)) return best_or_fail(s, v, true, g0);
                aHi = alpha;
                fHi = f;
                alpha = aLo + 0.1 * width;
                continue;
            }
            znlpgmx(p, 0, nullptr);
            const double g = s.slope(p->work.gradient);
            if (g >= sigma * g0) {
                if (v.code == 1 || sigma >= 0.1 || g <= -sigma * g0) return finish(s, v, alpha, g0);
                aHi = alpha;
                fHi = f;
                gHi = g;
                if (alpha - aLo < kRelTol * alpha && s.fBest < s.f0) return best_or_fail(s, v, true, g0);
                alpha = aLo + cubic_fraction(aLo, fLo, gLo, aHi, fHi, gHi, theta, 1 - theta) * (aHi - aLo);
                continue;
            }
            // Still steep: move the low end up.
            if (alpha >= p->opt.stepLimit) return finish(s, v, alpha, g0);
            if (alpha + kTiny >= s.amax) return best_or_fallback(s, v, alpha, g0);
            aLo = alpha;
            fLo = f;
            gLo = g;
            const bool high = !wzmis(fHi) && aHi > aLo;
            if (high && aHi - alpha <= tolInt && s.fBest < s.f0) return best_or_fail(s, v, true, g0);
            if (high && v.code == 1) {
                alpha = aLo + 0.5 * (aHi - aLo);
            } else if (high && gHi > 0.0) {
                alpha = aLo + cubic_fraction(aLo, fLo, gLo, aHi, fHi, gHi, theta, 1 - theta) * (aHi - aLo);
            } else if (high) {
                double r = quadratic_fraction(aLo, fLo, gLo, aHi, fHi);
                r = r > 0.8 ? 0.8 : aHi - aLo <= kEps ? 0.6 : std::fmax(r, 0.2);
                alpha = aLo + r * (aHi - aLo);
            } else {
                const double q = 3.0 * g + g0 - 4.0 * (f - s.f0) / alpha;
                double inc = 9.0 * alpha;
                if (q > 0.0) inc = std::fmin(inc, std::fmax(1.0, -g / q) * alpha);
                alpha = std::fmin(alpha + inc, s.amax);
            }
            continue;
        }

        // Not enough decrease: the trial is the high end.
        const double gTrial = v.gradientAlways ? s.slope(p->work.gradient) : 0.0;
        aHi = alpha;
        fHi = f;
        gHi = gTrial;
        if (alpha - aLo <= tolInt && s.fBest < s.f0) return best_or_fail(s, v, true, g0);
        if (std::fabs(gLo * (alpha - aLo)) <= p->opt.fConv * kRelTol) return best_or_fallback(s, v, alpha, g0);
        double r;
        if (v.gradientAlways)
            r = fLo == f && aLo == 0.0 ? theta : cubic_fraction(aLo, fLo, gLo, alpha, f, gTrial, theta, 1 - theta);
        else if (std::fabs(f - s.f0) > kRelTol * std::fabs(s.f0))
            r = std::fmin(std::fmax(quadratic_fraction(aLo, fLo, gLo, alpha, f), theta), 1 - theta);
        else
            r = 0.25;
        if (std::fabs(f - s.f0) <= kMinNormal && p->iter.maxProjGrad > p->opt.gConv) flat += 1;
        alpha = aLo + r * (alpha - aLo);
    }
    return best_or_fail(s, v, false, g0);
}

// Searches 4 and 5: extrapolate while the slope stays negative and the
// value below f0, then interpolate between 0 and the high end.
int32_t extrapolating_search(NlpProblem* p, bool cubicExtrapolation) {
    const Variant v{cubicExtrapolation ? 4 : 5, 1e-4, 1, true};
    LineSearch s(p);
    const double g0 = s.slope(p->work.gradBase);
    if (g0 > kTiny) return best_or_fallback(s, v, s.amax, g0);
    if (g0 > -kTiny || s.amax <= kTiny) return finish(s, v, 0.0, g0);
    double alpha = znlpalf(p, g0);
    // Trials until one is usable.
    int32_t reductions = 0;
    auto evaluate = [&](double a) { return s.objective_at(a) && s.gradient_now(); };
    while (!evaluate(alpha)) {
        if (alpha < kRelTol) return fail(s, v);
        if (++reductions > 11) return best_or_fallback(s, v, alpha, g0);
        alpha *= 0.1;
        if (!(alpha > 10.0 * kTiny)) return best_or_fallback(s, v, alpha, g0);
    }
    double f = p->iter.f, g = s.slope(p->work.gradient);
    // Extrapolation.
    for (int32_t t = 0; g < 0.0 && f <= s.f0 && t < kMaxTrials; ++t) {
        if (alpha + kTiny >= s.amax || alpha >= p->opt.stepLimit) {
            znlpgmx(p, 0, nullptr);
            return finish(s, v, alpha, g0);
        }
        double inc;
        if (cubicExtrapolation) {
            const double z = g0 + g + 3.0 * (s.f0 - f) / alpha;
            inc = z * z - g0 * g < 0.0 ? 4.0 * alpha
                                       : std::fmax(4.0 * alpha, alpha * cubic_fraction(0.0, s.f0, g0, alpha, f, g, -DBL_MAX, DBL_MAX));
        } else {
            const double q = g0 + 3.0 * g - 4.0 * (f - s.f0) / alpha;
            inc = q > 0.0 ? std::fmin(4.0 * alpha, std::fmax(1.0, -g / q) * alpha) : 4.0 * alpha;
        }
        const double next = std::fmin(alpha + inc, s.amax);
        if (!evaluate(next)) {
            if (next < kRelTol) return fail(s, v);
            return best_or_fallback(s, v, next, g0);
        }
        alpha = next;
        f = p->iter.f;
        g = s.slope(p->work.gradient);
    }
    // Interpolation between (0, f0, g0) and the high end.
    double aHi = alpha, fHi = f, gHi = g;
    const double fRef = std::fmin(s.f0, f);
    for (int32_t t = 0; t < kMaxTrials; ++t) {
        const double r = cubic_fraction(0.0, s.f0, g0, aHi, fHi, gHi, 0.1, 0.9);
        const double trial = r * aHi;
        if (!evaluate(trial)) {
            if (trial < kRelTol) return fail(s, v);
            return best_or_fallback(s, v, trial, g0);
        }
        if (p->iter.f < fRef) {
            znlpgmx(p, 0, nullptr);
            return finish(s, v, trial, g0);
        }
        if (fHi < s.f0) {
            if (!evaluate(aHi)) return fail(s, v);
            znlpgmx(p, 0, nullptr);
            return finish(s, v, aHi, g0);
        }
        const double gt = s.slope(p->work.gradient);
        aHi = trial;
        fHi = p->iter.f;
        gHi = gt;
        if (t >= 11 && gt < 0.0 && aHi < kRelTol) return best_or_fallback(s, v, aHi, g0);
    }
    return best_or_fail(s, v, false, g0);
}

}  // namespace

int32_t znlpls1(NlpProblem* p) { return slope_search(p, {1, 1e-4, 1, true}); }
int32_t znlpls2(NlpProblem* p) { return slope_search(p, {2, 1e-3, -1, false}); }
int32_t znlpls3(NlpProblem* p) { return slope_search(p, {3, 1e-4, 1, true}); }
int32_t znlpls4(NlpProblem* p) { return extrapolating_search(p, true); }
int32_t znlpls5(NlpProblem* p) { return extrapolating_search(p, false); }

namespace {

// Bisect step 4: f fell at alpha; try 2 alpha and the parabola's vertex.
// Result 0 accepted, -2/-3 failure, 1 next pass.
int32_t bisect_descent(LineSearch& s, double alpha, double fa, bool (*moves)(const LineSearch&, double)) {
    NlpProblem* p = s.p;
    if (!s.objective_at(2.0 * alpha)) return alpha <= 10.0 * kEps ? -3 : 1;
    const double f2 = p->iter.f;
    if (f2 < fa) return -2;
    const double second = s.f0 - 2.0 * fa + f2;
    if (std::fabs(second) > kTiny) {
        const double t = alpha * (3.0 * s.f0 - 4.0 * fa + f2) / (2.0 * second);
        if (t > kTiny && t < 2.0 * alpha && moves(s, t) && s.objective_at(t) && p->iter.f < fa && s.gradient_now()) {
            znlpgmx(p, 0, nullptr);
            p->iter.lastStep = t;
            return 0;
        }
    }
    if (!s.objective_at(alpha)) return -1;
    if (!s.gradient_now()) return alpha <= 10.0 * kEps ? -3 : 1;
    znlpgmx(p, 0, nullptr);
    p->iter.lastStep = alpha;
    return 0;
}

// Bisect step 5: a flat objective; bisect the slope on [0, alpha] toward
// the point of the smallest projected gradient.
int32_t bisect_flat(LineSearch& s, double alpha, double g0, double gmax0) {
    NlpProblem* p = s.p;
    while (!(s.objective_at(alpha) && s.gradient_now())) {
        alpha *= 0.5;
        if (alpha <= kTiny) return -2;
    }
    znlpgmx(p, 0, nullptr);
    double sl = s.slope(p->work.gradient);
    if (!(sl > g0)) return -2;
    double best = p->iter.maxProjGrad < gmax0 ? alpha : 0.0, bestGrad = std::fmin(p->iter.maxProjGrad, gmax0);
    if (p->iter.maxProjGrad > p->opt.absGConv && sl >= 0.0) {
        double lo = 0.0, hi = alpha, sLo = g0, sHi = sl;
        for (int32_t t = 0; t < kMaxTrials; ++t) {
            const double mid = 0.5 * (lo + hi);
            if (hi - lo <= velix::kSqrtMachEpsWritten * mid) break;
            if (!s.objective_at(mid) || p->iter.f > s.f0 || !s.gradient_now()) return -2;
            znlpgmx(p, 0, nullptr);
            const double sm = s.slope(p->work.gradient);
            if (p->iter.maxProjGrad < bestGrad) {
                bestGrad = p->iter.maxProjGrad;
                best = mid;
            }
            if (p->iter.maxProjGrad <= p->opt.absGConv || sm < sLo || sm > sHi) break;
            if (sm >= 0.0) {
                hi = mid;
                sHi = sm;
            } else {
                lo = mid;
                sLo = sm;
            }
        }
    }
    if (!(bestGrad < gmax0) || best <= 0.0) return -2;
    p->iter.lastStep = best;
    if (!s.objective_at(best) || !s.gradient_now()) return -2;
    znlpgmx(p, 0, nullptr);
    return p->iter.f < s.f0 ? 0 : 1;
}

bool moves_enough(const LineSearch& s, double alpha) {
    const NlpProblem* p = s.p;
    bool any = false;
    double largest = 0.0;
    for (int32_t i = 0; i < p->shape.nParams; ++i) {
        const double step = std::fabs(alpha * p->work.direction[i]);
        largest = std::fmax(largest, step);
        if (step >= 10.0 * kEps * std::fabs(p->work.xBase[i]) && step > 0.0) any = true;
    }
    return any && largest > kTiny && alpha > kTiny;
}

}  // namespace

int32_t bisect(NlpProblem* p, double f0, double g0, double gmax0, double upper) {
    // A frame of its own that shares the caller's x0 and f0 (it does not
    // count as a search).
    p->run.nLineSearches -= 1;
    LineSearch s(p);
    s.f0 = f0;
    s.fBest = f0;
    s.gmax0 = gmax0;
    double alpha = std::fmin(upper, 1.0);
    double factor = 0.1;
    for (int32_t pass = 0; pass < kMaxTrials; ++pass) {
        alpha *= factor;
        factor = 0.1;
        if (!moves_enough(s, alpha)) return -1;
        if (!s.objective_at(alpha)) {
            if (alpha <= 10.0 * kEps) return -3;
            continue;
        }
        const double fa = p->iter.f;
        if (fa > f0) {
            // The larger the rise, the smaller the next step: the strongest
            // test first, so that each factor can act.
            factor = f0 < 0.01 * fa ? 0.001 : f0 < 0.1 * fa ? 0.01 : 0.1;
            continue;
        }
        const int32_t r = fa < f0 ? bisect_descent(s, alpha, fa, moves_enough) : bisect_flat(s, alpha, g0, gmax0);
        if (r != 1 || fa == f0) return r;
    }
    return -1;
}

NlpCallback znlp_line_search(int32_t code) {
    switch (code) {
        case 1: return znlpls1;
        case 3: return znlpls3;
        case 4: return znlpls4;
        case 5: return znlpls5;
        case 6: return znlpls6;
        case 7: return znlpls7;
        case 8: return znlpls8;
        default: return znlpls2;
    }
}
