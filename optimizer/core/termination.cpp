// The termination test of the optimizer: every technique calls it through
// NlpProblem::cb.terminationFn before its first iteration and after each one.
// It writes the per-iteration output, prints the history row, tests the
// nine convergence criteria (each may be required to hold for several
// successive iterations), applies the iteration, call and time limits, runs
// the post-convergence steps and may switch forward differences to central
// ones near the solution.  The criteria are the usual relative and absolute
// tests on f, x and the gradient (Dennis and Schnabel, Numerical Methods for
// Unconstrained Optimization, 1983, sec. 7.2; Gill, Murray and Wright,
// Practical Optimization, 1981, sec. 8.2.3).
#include <cfloat>
#include <cmath>

#include "host/fields.h"
#include "host/interrupt.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/core.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/pending.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

// 10000 times the smallest normalised double: below it a value counts as
// zero in the relative parameter change.
constexpr double kTiny = velix::kDblMinE4Written;
constexpr int32_t kMsgStepAtLimit = 40;     // the step reached stepLimit (minimising)
constexpr int32_t kMsgStepAtLimitMax = 41;  // the same when maximising
constexpr double kSmallestRise = velix::detail::kMinPos;
// The largest GCONV measure, relative to max(|f|, FSIZE), at which a test
// on the change of f or of x alone may end the run: ten thousand times the
// default GCONV.  A step that stalls where the quadratic model still
// promises more (a line search or a trust region that cannot follow a
// curved valley) changes neither f nor x, and must not be taken for
// convergence.
constexpr double kStalledBound = 1e-4;
// A nonlinear constraint violated by more than this at the end is violated
// (the result table's mark); below it the point passes as feasible.
constexpr double kViolatedEnd = 0.001;
// The largest gradient element at which a technique that stopped with a
// singular Hessian stopped at a solution (a hundred times ABSGCONV's
// default).
constexpr double kSingularStopGradient = 1e-3;

// The history layout (first, last) of a technique; first 0: no history.
void history_layout(const NlpProblem* p, int32_t* first, int32_t* last) {
    const bool nlc = p->shape.hasNlinCon != 0;
    *first = 0;
    *last = 0;
    switch (p->opt.technique) {
        case kTechTrureg: *first = 11; *last = 31; break;
        case kTechLevmar: *first = 11; *last = 13; break;
        case kTechGaunew: *first = 16; *last = 23; break;
        case kTechNrridg:
        case kTechNrlins:
        case kTechOldrap: *first = 16; *last = 18; break;
        case kTechQuanew:
        case kTechDualQuanew:
            *first = nlc ? 37 : 21;
            *last = nlc ? 38 : 23;
            break;
        case kTechHyquan:
        case kTechNewrap:
        case kTechCongra:
        case kTechQuadas: *first = 21; *last = 23; break;
        case kTechDbldog: *first = 11; *last = 15; break;
        case kTechNmsimp:
        case kTechNmsim2:
            *first = nlc ? 29 : 26;
            *last = nlc ? 39 : 28;
            break;
        default: break;
    }
}

// The reference values of one test.
struct Measures {
    double fr, d, fs, fconvBound, gconvBound, grad, gconv, congra, levmar;
};

Measures measures_of(const NlpProblem* p, int32_t code) {
    const bool nlc = p->shape.hasNlinCon != 0;
    Measures m{};
    m.fr = nlc || code == 10 ? p->iter.f : p->iter.fPrev;
    m.d = !nlc && code != 10 ? p->iter.fPrev - p->iter.f : DBL_MAX;
    if (p->shape.maximize) m.fr = -m.fr;
    m.fs = std::fmax(std::fabs(m.fr), p->opt.fSize);
    m.fconvBound = p->opt.fConv * m.fs;
    m.gconvBound = p->opt.gConv * m.fs;
    m.grad = nlc ? p->iter.lagrangeGradMax : p->iter.maxProjGrad;
    m.gconv = code == 10 ? DBL_MAX : std::fabs(p->iter.gconvMeasure);
    m.congra = code == 10 ? DBL_MAX : p->iter.scaledGradMax;
    m.levmar = code == 10 ? DBL_MAX : p->iter.lmGconvMeasure;
    return m;
}

// The criteria met by one test: the status (the last criterion met, or a
// stop) and bit k of every criterion k met.
struct Met {
    int32_t status = 0;
    uint32_t mask = 0;
};

// One counted criterion k (2..9): a holding test adds 1 to its counter and
// meets it when the counter reaches the required number; a failing test
// resets the counter.  Without a counter array a test meets it at once.
void criterion(NlpProblem* p, int32_t k, bool holds, Met* met) {
    int32_t* c = p->opt.critCounts;
    if (c != nullptr && !holds) c[k + 9] = 0;
    if (!holds) return;
    if (c != nullptr) c[k + 9] += 1;
    if (c == nullptr || c[k + 9] >= c[k - 1]) {
        met->status = k;
        met->mask |= 1u << k;
    }
}

bool is_least_squares_newton(int32_t t) {
    return t == kTechTrureg || t == kTechNewrap || t == kTechNrridg || t == kTechNrlins ||
           t == kTechOldrap || t == kTechGaunew || t == kTechLevmar;
}

// Step 10: the criteria after ABSCONV.  Result: the status (0 none met)
// and the criteria met.
Met other_criteria(NlpProblem* p, int32_t code, const Measures& m, double t) {
    const bool nlc = p->shape.hasNlinCon != 0;
    const bool simplex = p->opt.technique == kTechNmsimp || p->opt.technique == kTechNmsim2;
    Met s;
    // Under linear rows the simplex techniques run the constrained simplex
    // too, whose iterations may keep f while the radius shrinks.
    if (simplex && (nlc || p->shape.hasLinCon != 0)) {
        criterion(p, 4, p->iter.rho <= p->opt.absXConv, &s);
        return s;
    }
    if (simplex) {
        if (m.d < -p->opt.absFConv) return Met{kNlpRose, 0};
        criterion(p, 2, m.d <= p->opt.absFConv, &s);
        if (code != 10) {
            criterion(p, 4, p->iter.lastStep <= p->opt.absXConv || m.grad <= p->opt.absXConv, &s);
            criterion(p, 7, reldx(p->shape.nParams, p->opt.xSize, p->param.x, p->work.xBase) <= p->opt.xConv, &s);
        }
        criterion(p, 5, m.d <= m.fconvBound, &s);
        criterion(p, 8, m.gconv <= p->opt.fConv2, &s);
        return s;
    }
    if (nlc) {
        criterion(p, 3, m.grad <= p->opt.absGConv && p->iter.maxConViolation <= t, &s);
        criterion(p, 6, m.gconv <= m.gconvBound, &s);
        criterion(p, 8, m.gconv <= p->opt.fConv2, &s);
        return s;
    }
    if (m.d < -p->opt.absFConv) return Met{kNlpRose, 0};
    const double g = p->opt.technique == kTechCongra   ? m.congra
                     : p->opt.technique == kTechLevmar ? m.levmar
                                                   : m.gconv;
    // A stalled step is no stationary point: the preset tests on the
    // change of f or x alone hold only where the gradient's own measure is
    // small too.  A threshold the user gave is met as it is defined.
    const bool still = code == 10 || g <= kStalledBound * m.fs;
    auto change = [&](int32_t k) { return still || (p->opt.presetCriteria & (1 << k)) == 0; };
    criterion(p, 2, m.d <= p->opt.absFConv && change(2), &s);
    criterion(p, 3, m.grad <= p->opt.absGConv, &s);
    if (code != 10) criterion(p, 4, xdif(p->shape.nParams, p->param.x, p->work.xBase) <= p->opt.absXConv && change(4), &s);
    criterion(p, 5, m.d <= m.fconvBound && change(5), &s);
    if (code != 10) {
        criterion(p, 6, g <= m.gconvBound, &s);
        criterion(p, 7, reldx(p->shape.nParams, p->opt.xSize, p->param.x, p->work.xBase) <= p->opt.xConv && change(7), &s);
    }
    if (p->shape.leastSquares) {
        const double g = p->opt.technique == kTechLevmar ? m.levmar : m.gconv;
        criterion(p, 8, 0.5 * g <= p->opt.fConv2, &s);
        if (is_least_squares_newton(p->opt.technique)) criterion(p, 9, m.congra <= p->opt.gConv2, &s);
    }
    return s;
}

// Step 12: the post-convergence steps, only after a met criterion (after a
// failed evaluation there is no point to move from) and only with a
// perturbation size (a missing one means none).
int32_t post_convergence(NlpProblem* p, int32_t code, int32_t status, double t) {
    if (wzmis(p->opt.perturbSize)) return status;
    if (p->shape.hasNlinCon && p->iter.maxConViolation > 0.001) {
        const int32_t r = znlpfnc(p, 1);
        if (r >= 0) return kNlpRestart;
        if (r == kNlpRoutinePending) return status;
    }
    const double phase = p->run.evalPhase;
    p->run.evalPhase = kPhasePostConvergence;
    int32_t s = status;
    if (znlpnoi(p, code == 10 ? 0 : 1) != 0)
        s = kNlpRestart;
    else if (p->iter.maxConViolation < t && znlpdnc(p, 1) == 0)
        s = kNlpRestart;
    p->run.evalPhase = phase;
    return s;
}

// Step 13: the limits (a missing limit is a NaN and never compares true).
int32_t limits(const NlpProblem* p, int32_t status) {
    if (status != 0 && status != kNlpRestart) return status;
    if (p->run.iteration >= p->opt.maxIter) return kNlpLimit;
    if (p->run.nFun >= p->opt.maxFunc) return kNlpLimit;
    if (wzdttme() - p->run.timeUsed > p->opt.maxTime) return kNlpTimeLimit;
    return status;
}

// A digit of derivDigits at `place` (1, 10, 100, ...) changed from `from` to `to`.
int32_t switch_digit(int32_t digits, int32_t place, int32_t from, int32_t to) {
    return digits / place % 10 == from ? digits + (to - from) * place : digits;
}

// Step 14: near the solution forward differences become central ones.
void derivative_switch(NlpProblem* p, int32_t code, int32_t status, const Measures& m) {
    const double s = p->opt.fdSwitchFactor;
    const int32_t t = p->opt.technique;
    if (p->opt.derivDigits == 0 || !(s > 0.0) || status != 0 || code == 10 || t == kTechQuadas ||
        t == kTechNmsimp || t == kTechNmsim2)
        return;
    double b = t == kTechLevmar ? s * p->opt.gConv : s * m.gconvBound;
    if (b < 1e-6) b = 1e-6;
    if (!(m.grad <= s * p->opt.absGConv || m.gconv <= b)) return;
    int32_t d = p->opt.derivDigits;
    d = switch_digit(d, 1, 1, 2);
    d = switch_digit(d, 10, 1, 2);
    d = switch_digit(d, 100, 1, 2);
    d = switch_digit(d, 1000, 1, 2);
    d = switch_digit(d, 1000, 3, 4);
    p->opt.derivDigits = d;
}

}  // namespace

int32_t znlp_failure_status(int32_t evaluation) {
    return evaluation == kLastGradient || evaluation == kLastHessian ? kNlpFinalDerivative : kNlpFinalFunction;
}

int32_t znlptrm(NlpProblem* p, int32_t code) {
    // Between iterations is where a long fit can stop when the user asks.
    stop_if_interrupted();
    const double t = p->opt.feasTol * std::pow(10.0, p->run.feasRound);
    // Every technique tests its start point first: the size of f there
    // scales what the check of a claim takes for rounding.
    if (code == 10 && p->run.iteration == 0.0) p->run.startObjective = std::fabs(p->iter.f);
    if (p->cb.iterOutputHook != nullptr) p->cb.iterOutputHook(p);
    int32_t first = 0, last = 0;
    history_layout(p, &first, &last);
    if (p->opt.printLevel != 0.0 && first != 0) prihist(p, code, first, last);
    const Measures m = measures_of(p, code);

    int32_t status = 0;
    uint32_t metMask = 0;
    bool testCriteria = true;
    // Every parameter fixed ends the run only at a solution: a point that
    // meets the constraints, held by multipliers of the right signs.
    if (p->active.nActiveLin + p->active.nActiveBounds == p->shape.nParams && code != 10 && znlp_all_fixed_holds(p, t)) {
        status = kNlpAllFixed;
        testCriteria = false;
    } else if (code < 0) {
        status = code;
        if (code == kNlpRose || code == kNlpLimit || code == kNlpTimeLimit) {
            for (int32_t k = 2; p->opt.critCounts != nullptr && k <= 9; ++k)
                if (p->opt.critCounts[k - 1] != 0 && p->opt.critCounts[k + 9] != 0) {
                    status = kNlpCountingBase + k;
                    break;
                }
        }
        testCriteria = false;
    } else if (p->run.evalStatus != 0.0) {
        status = znlp_failure_status(p->run.lastEval);
        testCriteria = false;
    } else if (code == 0 || (p->opt.technique == kTechQuadas && p->active.activeChange != 0) ||
               (p->active.activeChange < 0 && m.d > kSmallestRise)) {
        testCriteria = false;  // no criterion may end the run now
    }
    if (testCriteria) {
        if (code > 0 && code != 10 && p->iter.lastStep >= p->opt.stepLimit)
            xpmlog(kMsgNlp, p->shape.maximize ? kMsgStepAtLimitMax : kMsgStepAtLimit);
        // f holds the negated objective of a maximisation.
        if (p->shape.maximize ? -p->iter.f >= p->opt.absConv : p->iter.f <= p->opt.absConv) {
            status = kNlpAbsConv;
        } else {
            const Met met = other_criteria(p, code, m, t);
            status = met.status;
            metMask = met.mask;
            if (status != kNlpRose && p->run.iteration < p->opt.minIter) status = 0;
        }
    }
    // Under nonlinear constraints no criterion ends the run at a point
    // that breaks them beyond the feasibility tolerance LCEPS (the final
    // point must meet them without a raised one): the technique goes on
    // towards them (its next step), or stops at a limit without a claim.
    if (status >= kNlpAbsConv && status <= kNlpGConv2 && p->shape.hasNlinCon && !(p->iter.maxConViolation <= p->opt.feasTol))
        status = 0;
    // A claim is checked before it ends the run (ABSCONV is a target value
    // of f, not a claim of stationarity).
    if (status > kNlpAbsConv && status <= kNlpGConv2 && code > 0) status = znlp_verify_claim(p, status, metMask);
    if (status >= kNlpAbsConv && status <= kNlpGConv2 && std::abs(code) <= 10)
        status = post_convergence(p, code, status, t);
    status = limits(p, status);
    derivative_switch(p, code, status, m);
    if (status == 0) p->active.dropCode = 0;
    return p->run.lastStatus = status;
}

bool nlp_final_point_violated(const NlpProblem* p) { return p->shape.hasNlinCon && p->iter.maxConViolation > kViolatedEnd; }

bool nlp_solution_reached(const NlpProblem* p, int32_t status) {
    if (nlp_final_point_violated(p)) return false;
    // A solution meets its bounds, linear rows and nonlinear constraints
    // within LCEPS: a final point that passed the feasibility check only
    // with a raised tolerance is none.
    if (p->run.feasRound > 0) return false;
    if (nlp_status_converged(status)) return true;
    if (status != kNlpTechniqueStop6 && status != kNlpTechniqueStop7) return false;
    // The check's verdict on the final point, when it has one.
    if (p->run.endStationary >= 0) return p->run.endStationary == 1;
    const double measure = p->opt.technique == kTechCongra   ? p->iter.scaledGradMax
                           : p->opt.technique == kTechLevmar ? p->iter.lmGconvMeasure
                                                         : p->iter.gconvMeasure;
    // A singular Hessian (parameters that are not identified) measures
    // nothing: a small gradient stands for the measure there.
    if (!(std::fabs(measure) < HUGE_VAL)) return p->iter.maxProjGrad <= kSingularStopGradient;
    const double fs = std::fmax(std::fabs(p->iter.f), p->opt.fSize);
    return std::fabs(measure) <= std::fmax(p->opt.gConv, kNlpDefaultGConv) * fs;
}

double reldx(int32_t n, double floor, const double* x, const double* y) {
    double worst = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double a = std::fabs(y[i]), b = std::fabs(x[i]), d = std::fabs(x[i] - y[i]);
        const double m = std::fmax(std::fmax(a, b), floor);
        double r;
        if (m > kTiny)
            r = m < 1.0 && d > 1.0 && d > m * 1e-4 * DBL_MAX ? DBL_MAX : d / m;
        else
            r = d <= kTiny ? 0.0 : DBL_MAX;
        if (r > worst) worst = r;
    }
    return worst;
}

double xdif(int32_t n, const double* x, const double* y) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += (x[i] - y[i]) * (x[i] - y[i]);
    return std::sqrt(s);
}
