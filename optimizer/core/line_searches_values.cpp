// Line searches 6 to 9, which work mainly with objective values: golden
// section with a final parabola step (Brent, Algorithms for Minimization
// without Derivatives, 1973, ch. 5), the Goldstein tests with bisection
// (Fletcher, Practical Methods of Optimization, 1987, sec. 2.5), expansion
// and backtracking with one parabola step, and the value-only search of the
// negative-curvature step that also keeps the constraint violation from
// growing.
#include <algorithm>

#include "optimizer/core/line_search.h"
#include "optimizer/core/line_search_frame.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"

using velix::detail::kEps;
using velix::detail::kMaxTrials;
using velix::detail::kTiny;
using velix::detail::LineSearch;
using velix::detail::parabola_step;

namespace {

constexpr double kC1 = 0.3819660112501051;  // (3 - sqrt 5) / 2
constexpr double kC2 = 0.6180339887498949;  // (sqrt 5 - 1) / 2

int32_t failed(LineSearch& s) {
    s.restore();
    return 1;
}

// The slope part of the opening.
int32_t slope_opening(LineSearch& s, double* g0, double* margin) {
    NlpProblem* p = s.p;
    if (p->opt.derivLevel == 0) return -1;
    znlpgmx(p, 0, nullptr);
    s.gmax0 = p->iter.maxProjGrad;
    *g0 = s.slope(p->work.gradient);
    if (*g0 > kTiny) return failed(s);
    if (*g0 > -kTiny) {
        p->iter.lastStep = 0.0;
        return 0;
    }
    const double sigma = p->opt.lsPrecision;
    const double mu = 0.2 > sigma ? sigma / 2.0 : 0.1;
    *margin = mu * std::fabs(*g0);
    return -1;
}

// The opening of searches 6 and 8: no room to step succeeds at once; with
// derivLevel the slope from the current gradient and the sufficient-
// decrease margin; the first trial step.  Result -1 to go on, else the
// search's result.
int32_t value_opening(LineSearch& s, double* g0, double* margin, double* alpha0) {
    NlpProblem* p = s.p;
    *g0 = 0.0;
    *margin = 0.0;
    if (s.no_room()) return 0;
    const int32_t r = slope_opening(s, g0, margin);
    *alpha0 = znlpalf(p, *g0);
    return r;
}

// Accept the step of searches 6 and 8: not above f0; the objective again
// when the last evaluation was elsewhere (x and f then belong to the step),
// and with derivLevel the gradient.
int32_t accept_value(LineSearch& s, double alpha, double fAlpha) {
    NlpProblem* p = s.p;
    if (fAlpha > s.f0) return failed(s);
    if (!s.last_at(alpha) && !s.objective_at(alpha)) return failed(s);
    if (p->opt.derivLevel != 0) {
        if (!s.gradient_now()) return failed(s);
        znlpgmx(p, 0, nullptr);
    }
    p->iter.lastStep = alpha;
    if (p->run.nLineSearches == 5) p->opt.stepCap = 1.0;
    return 0;
}

// f at alpha, shrinking by 0.1 while unusable; false below TINY.
bool usable_value(LineSearch& s, double* alpha) {
    while (!s.objective_at(*alpha)) {
        *alpha *= 0.1;
        if (*alpha < kTiny) return false;
    }
    return true;
}

}  // namespace

int32_t znlpls6(NlpProblem* p) {
    LineSearch s(p);
    double g0, margin, alpha0 = 0.0;
    if (const int32_t r = value_opening(s, &g0, &margin, &alpha0); r >= 0) return r;
    double alpha = alpha0;
    if (!usable_value(s, &alpha)) return failed(s);
    double f = p->iter.f;
    // The bracket [a, b] with the values at its ends (DBL_MAX: none).
    double a = 0.0, b = alpha, fa = s.f0, fb = f;
    if (f < s.f0) {
        if (alpha >= 0.9 * s.amax) return accept_value(s, alpha, f);
        // Double while the value keeps falling.
        double prev = 0.0, fPrev = s.f0;
        for (int32_t k = 0; k < 9; ++k) {
            const double next = std::fmin(2.0 * alpha, std::fmin(p->opt.stepLimit, s.amax));
            if (next <= alpha) return accept_value(s, f <= fPrev ? alpha : prev, std::fmin(f, fPrev));
            const bool usable = s.objective_at(next);
            if (!usable || p->iter.f >= f) {
                a = prev;
                fa = fPrev;
                b = next;
                fb = usable ? p->iter.f : DBL_MAX;
                break;
            }
            prev = alpha;
            fPrev = f;
            alpha = next;
            f = p->iter.f;
            a = prev;
            fa = fPrev;
            b = 2.0 * alpha;
            fb = DBL_MAX;
        }
    }
    // Golden section on [a, b], keeping the values at the ends.
    double x1 = a + kC1 * (b - a), x2 = a + kC2 * (b - a);
    if (!s.objective_at(x1)) return failed(s);
    double f1 = p->iter.f;
    if (!s.objective_at(x2)) return failed(s);
    double f2 = p->iter.f;
    for (int32_t it = 1;; ++it) {
        const bool firstBetter = f1 <= f2;
        const double fBetter = firstBetter ? f1 : f2, xBetter = firstBetter ? x1 : x2;
        if (fBetter <= s.f0 && (b - a <= 0.001 * alpha0 || it >= 9)) break;
        if (p->opt.derivLevel != 0 ? fBetter < s.f0 - xBetter * margin : fBetter < s.f0 - 0.1 * std::fabs(s.f0)) break;
        if (it > 16 || b - a < kEps * kEps) return failed(s);
        if (firstBetter) {
            b = x2;
            fb = f2;
            x2 = x1;
            f2 = f1;
            x1 = a + kC1 * (b - a);
            if (!s.objective_at(x1)) return failed(s);
            f1 = p->iter.f;
        } else {
            a = x1;
            fa = f1;
            x1 = x2;
            f1 = f2;
            x2 = a + kC2 * (b - a);
            if (!s.objective_at(x2)) return failed(s);
            f2 = p->iter.f;
        }
    }
    // A final parabola step through the better interior point and its two
    // neighbours (a bracket end without a value gives no parabola).
    const bool firstBetter = f1 <= f2;
    double best = firstBetter ? x1 : x2, fBest = firstBetter ? f1 : f2;
    const double lo = firstBetter ? a : x1, flo = firstBetter ? fa : f1;
    const double hi = firstBetter ? x2 : b, fhi = firstBetter ? f2 : fb;
    if (fhi < DBL_MAX) {
        const double v = parabola_step(lo, flo, best, fBest, hi, fhi);
        if (v > lo && v < hi && v != best && s.objective_at(v) && p->iter.f <= fBest) {
            best = v;
            fBest = p->iter.f;
        }
    }
    return accept_value(s, best, fBest);
}

int32_t znlpls7(NlpProblem* p) {
    LineSearch s(p);
    if (s.no_room()) return 0;
    znlpgmx(p, 0, nullptr);
    s.gmax0 = p->iter.maxProjGrad;
    const double g0 = s.slope(p->work.gradient);
    if (g0 > kTiny) return failed(s);
    if (g0 > -kTiny) {
        p->iter.lastStep = 0.0;
        return 0;
    }
    const double sigma = p->opt.lsPrecision;
    const double mu = 0.2 > sigma ? sigma / 2.0 : 0.1;
    auto longEnough = [&](double a, double f) { return (s.f0 - f) + a * (1.0 - mu) * g0 <= 0.0; };
    auto shortEnough = [&](double a, double f) { return (s.f0 - f) + a * mu * g0 >= 0.0; };
    const double alpha0 = znlpalf(p, g0);
    // An unusable value shrinks the trial (as in the other searches)
    // instead of abandoning the search at once.
    double alpha = alpha0;
    if (!usable_value(s, &alpha)) return failed(s);
    double delta = alpha;
    double f = p->iter.f;
    double lo = 0.0;
    while (!longEnough(alpha, f)) {
        if (alpha >= s.amax) break;
        lo = alpha;
        delta *= 4.0;
        double next = std::fmin(alpha + delta, s.amax);
        while (!s.objective_at(next)) {
            next = lo + 0.1 * (next - lo);
            if (next - lo < kTiny) return failed(s);
        }
        delta = next - lo;
        alpha = next;
        f = p->iter.f;
    }
    if (longEnough(alpha, f) && !shortEnough(alpha, f)) {
        // Bisection between the last step that was too short and the
        // trial that was long enough (that trial stays in the bracket).
        double hi = alpha;
        for (int32_t k = 1; k < kMaxTrials; ++k) {
            const double mid = 0.5 * (lo + hi);
            if (!s.objective_at(mid)) {
                hi = mid;
                continue;
            }
            alpha = mid;
            f = p->iter.f;
            const bool le = longEnough(mid, f), se = shortEnough(mid, f);
            if (le && se) break;
            if (f <= s.f0 && (hi - lo <= 0.001 * alpha0 || k > 8)) break;
            if (!le)
                lo = mid;
            else
                hi = mid;
        }
    }
    if (f > s.f0) return failed(s);
    s.set_x(alpha);
    p->iter.f = f;
    if (!s.gradient_now()) return failed(s);
    znlpgmx(p, 0, nullptr);
    p->iter.lastStep = alpha;
    if (p->run.nLineSearches >= 5) p->opt.stepCap = 1.0;
    return 0;
}

namespace {

// Steps 4 and 5 of search 8: backtracking from alpha (whose value f is
// known when `known`), with (prev, fPrev) as the second point of the
// closing parabola.
int32_t backtrack(LineSearch& s, double alpha0, double margin, double alpha, double f, bool known,
                  double prev, double fPrev) {
    NlpProblem* p = s.p;
    int32_t reductions = 0;
    for (;;) {
        if (!known) {
            while (!s.objective_at(alpha)) {
                alpha *= 0.1;
                if (alpha < kTiny) return failed(s);
            }
            f = p->iter.f;
        }
        known = false;
        const bool enough = p->opt.derivLevel == 0 ? f < s.f0 - 0.1 * std::fabs(s.f0) : s.f0 - f >= alpha * margin;
        if (alpha <= 1e-8 * alpha0 || reductions > 8 || enough) break;
        prev = alpha;
        fPrev = f;
        alpha *= 0.25;
        ++reductions;
    }
    if (reductions > 0 && f < s.f0 && f < fPrev && alpha < prev) {
        const double v = parabola_step(0.0, s.f0, alpha, f, prev, fPrev);
        if (v > 0.0 && v < prev && v != alpha && s.objective_at(v) && p->iter.f <= f)
            return accept_value(s, v, p->iter.f);
    }
    return accept_value(s, alpha, f);
}

}  // namespace

int32_t znlpls8(NlpProblem* p) {
    LineSearch s(p);
    double g0, margin, alpha0 = 0.0;
    if (const int32_t r = value_opening(s, &g0, &margin, &alpha0); r >= 0) return r;
    double alpha = alpha0;
    if (!s.objective_at(alpha)) return backtrack(s, alpha0, margin, 0.1 * alpha, 0.0, false, alpha, s.f0);
    double f = p->iter.f;
    if (f >= s.f0) return backtrack(s, alpha0, margin, alpha, f, true, alpha, f);
    if (alpha >= 0.9 * s.amax) return accept_value(s, alpha, f);
    // Expansion: increments alpha0, 2 alpha0, 4 alpha0, ...
    double inc = alpha0;
    for (int32_t k = 1;; ++k) {
        if (k > 8 || alpha >= p->opt.stepLimit || alpha >= s.amax) return accept_value(s, alpha, f);
        inc *= 2.0;
        const double next = std::fmin(alpha + inc, s.amax);
        const bool ok = s.objective_at(next);
        if (!ok || p->iter.f >= f) return backtrack(s, alpha0, margin, alpha, f, true, next, ok ? p->iter.f : DBL_MAX);
        alpha = next;
        f = p->iter.f;
    }
}

double gtcmx(NlpProblem* p) {
    double worst = 0.0;
    if (p->shape.hasLinCon && p->shape.nLinCon > 0) {
        for (int32_t k = 0; k < p->shape.nLinCon; ++k) {
            p->cb.conRowFn(p, k, p->active.rowBuffer);
            double r = -p->con.linRhs[k];
            for (int32_t i = 0; i < p->shape.nParams; ++i) r += p->active.rowBuffer[i] * p->param.x[i];
            worst = std::fmax(worst, k < p->shape.nLinEq ? std::fabs(r) : std::fmax(0.0, -r));
        }
    }
    if (p->shape.hasNlinCon) {
        if (p->cb.conValuesFn != nullptr && p->cb.conValuesFn(p) != 0) return DBL_MAX;
        for (int32_t j = 0; j < p->shape.nNlinCon; ++j) {
            const double c = p->con.conValues[j];
            worst = std::fmax(worst, j < p->shape.nNlinEq ? std::fabs(c) : std::fmax(0.0, -c));
        }
    }
    return worst;
}

namespace {

// Search 9 without its acceptance: the step to accept, or a negative value
// when the search fails.  f and v are the value and violation at the last
// evaluation.
struct ValueSearch {
    LineSearch& s;
    double v0, f = 0.0, v = 0.0;

    bool at(double a) {
        if (!s.objective_at(a)) return false;
        f = s.p->iter.f;
        v = gtcmx(s.p);
        return true;
    }
    bool good() const { return f <= s.f0 && v <= v0; }
    // Evaluates at alpha, shrinking by 0.1 while unusable.
    bool usable_at(double* alpha) {
        while (!at(*alpha)) {
            *alpha *= 0.1;
            if (*alpha < kTiny) return false;
        }
        return true;
    }
    double shrink(double alpha, double alpha0) {
        for (int32_t k = 0;; ++k) {
            if (!usable_at(&alpha)) return -1.0;
            if (good()) return alpha;
            if (alpha <= 1e-8 * alpha0 || k >= 10) return -1.0;
            alpha *= kC2;
        }
    }
    double step(double alpha0) {
        NlpProblem* p = s.p;
        double alpha = alpha0;
        if (!usable_at(&alpha)) return -1.0;
        if (!(f < s.f0 && v <= v0)) return shrink(alpha0, alpha0);
        if (alpha >= 0.9 * s.amax) return alpha;
        double prev = alpha, fPrev = f, inc = alpha0;
        for (int32_t k = 1;; ++k) {
            if (k > 1) inc *= 4.0;
            const double trial = std::fmin(prev + inc, s.amax);
            if (!at(trial)) return at(prev) && good() ? prev : -1.0;
            if (f >= fPrev || v > v0) return shrink(prev + kC2 * (trial - prev), alpha0);
            if (k > 10 || trial >= p->opt.stepLimit || trial >= s.amax) return trial;
            prev = trial;
            fPrev = f;
        }
    }
};

}  // namespace

int32_t znlpls9(NlpProblem* p) {
    LineSearch s(p);
    const double v0 = p->iter.maxConViolation;
    if (s.no_room()) return 0;
    ValueSearch vs{s, v0};
    const double alpha = vs.step(znlpalf(p, 0.0));
    if (alpha < 0.0 || !vs.at(alpha) || !vs.good()) {
        p->iter.maxConViolation = v0;
        return failed(s);
    }
    p->iter.lastStep = alpha;
    p->iter.maxConViolation = vs.v;
    if (p->run.nLineSearches >= 5) p->opt.stepCap = 1.0;
    return 0;
}
