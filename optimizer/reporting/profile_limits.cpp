// Profile-likelihood limits by fixing the parameter: the crossing of each
// target by the profile of parameter k is bracketed between two points of
// the stored trace and refined by regula falsi, each trial value of k fixed
// by equal bounds while the other parameters are re-estimated (Venzon and
// Moolgavkar 1988; Dahlquist and Bjorck, Numerical Methods, 1974, sec.
// 6.2 for the false-position step).  doopt is the one sub-optimization of
// the limits: it fixes the parameter, restores feasibility and runs the
// technique of the problem.
//
//   for each wanted level still missing:
//       t = F + c q(1 - alpha)
//       bracket: the first stored point at or above t after one at or below
//       refine: false position (Illinois form),
//               re-optimize with k fixed, until F(theta) is at t
//       none: the bound when the trace ended on it, else missing
#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "host/internal_error.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/core.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/tables.h"
#include "optimizer/reporting/confidence_limits.h"
#include "optimizer/reporting/report_table.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace velix::limits {

namespace {

// Retries of the feasible-point search before a sub-optimization gives up.
constexpr int32_t kFeasibleRetries = 3;
// The refinement accepts F within this part of the rise t - F of its
// target: tight enough that the limit is good to well below 1e-6 of a
// standard error even where the profile is flat, and F itself is large (a
// tolerance relative to t alone would shrink with N' far more slowly than
// the rise does).
constexpr double kTargetTolerance = 1e-7;
// Refits whose objective is not that accurate end the refinement at the
// steps' limit: its closest point is then taken when within this part of
// the rise (a limit good to about 1e-5 of a standard error).
constexpr double kLooseTolerance = 1e-5;
// Refinement steps of one level before it is given up (the Illinois form
// of false position converges superlinearly: from a bracket of the trace's
// spacing to kTargetTolerance in well under this many refits).
constexpr int32_t kMaxRefinements = 30;
// Relative width of a bracket below which the refinement stops.
constexpr double kJumpWidth = 1e-9;

double missing() { return host_missing_value(); }

// A centred note with the parameter's name (print level 2 or more).
void run_note(NlpProblem* p, int32_t number, int32_t k) {
    if (p->opt.printLevel < 2.0) return;
    char name[33];
    const int32_t width = p->param.paramNameWidth > 0 && p->param.paramNameWidth <= 32 ? p->param.paramNameWidth : 8;
    velix::report::parameter_label(p, k, name, width);
    velix::report::centred_note(p->out.kyrObject, kyrmsgs(kMsgNlp, number, width, name));
}

// The trial point of the refinement: x_in + s (x_out - x_in) with k at
// theta.
void trial_point(NlpProblem* p, int32_t k, double theta, const std::vector<double>& xIn, double thetaIn,
                 const std::vector<double>& xOut, double thetaOut) {
    const double s = std::fabs(theta - thetaIn) / std::fabs(thetaOut - thetaIn);
    for (int32_t i = 0; i < p->shape.nParams; ++i)
        p->param.x[i] = xIn[static_cast<size_t>(i)] + s * (xOut[static_cast<size_t>(i)] - xIn[static_cast<size_t>(i)]);
    p->param.x[k] = theta;
}

// Steps 3 and 4: refines the crossing of target t between the inside and
// outside points.  true when accepted (x holds the point); false when the
// sub-optimization failed (*fatal for a technique that cannot be used).
bool refine(NlpProblem* p, LimitWork* w, double t, std::vector<double> xIn, double fIn, std::vector<double> xOut,
            double fOut, bool* fatal) {
    const int32_t k = w->k;
    double thetaIn = xIn[static_cast<size_t>(k)], thetaOut = xOut[static_cast<size_t>(k)];
    const double tol = kTargetTolerance * (t - w->scaledOptimum);
    int32_t lastEnd = 0;
    double closest = DBL_MAX;
    std::vector<double> xClosest;
    for (int32_t step = 0; step < kMaxRefinements; ++step) {
        // Equal ends cannot be interpolated: the bracket has closed.
        if (thetaIn == thetaOut) {
            std::copy(xIn.begin(), xIn.end(), p->param.x);
            return true;
        }
        // A bracket this narrow that still misses the target holds a jump
        // of the profile (the refits went over to another minimum): more
        // refits would only narrow it further.
        if (std::fabs(thetaOut - thetaIn) <= kJumpWidth * (1.0 + std::fabs(thetaIn))) break;
        const double dIn = fIn - t, dOut = fOut - t, den = dIn - dOut;
        double theta = 0.5 * (thetaIn + thetaOut);
        const double num = dIn * (thetaIn - thetaOut);
        const bool bounded = std::fabs(den) >= 1.0 ? std::fabs(num) < DBL_MAX : std::fabs(num) < DBL_MAX * std::fabs(den);
        if (bounded && den != 0.0) theta = thetaIn - num / den;
        trial_point(p, k, theta, xIn, thetaIn, xOut, thetaOut);
        p->param.lower[k] = p->param.upper[k] = theta;
        w->callsF = 0;
        const int32_t status = doopt(p, 1, k);
        if (status == -2) {
            xpmlog(kMsgNlp, kMsgCannotProfile);
            *fatal = true;
            return false;
        }
        if (status < 0) return false;
        const double f = w->devianceScale * p->iter.f;
        if (std::fabs(t) + std::fabs(f) <= velix::kMachEpsWritten || std::fabs(f - t) <= tol)
            return true;
        if (std::fabs(f - t) < closest) {
            closest = std::fabs(f - t);
            xClosest.assign(p->param.x, p->param.x + p->shape.nParams);
        }
        // False position stalls when one end stays put: the Illinois step
        // halves the stale end's distance from the target.
        const int32_t end = f < t ? 1 : 2;
        if (f < t) {
            xIn.assign(p->param.x, p->param.x + p->shape.nParams);
            thetaIn = theta;
            fIn = f;
            if (end == lastEnd) fOut = t + 0.5 * (fOut - t);
        } else {
            xOut.assign(p->param.x, p->param.x + p->shape.nParams);
            thetaOut = theta;
            fOut = f;
            if (end == lastEnd) fIn = t + 0.5 * (fIn - t);
        }
        lastEnd = end;
    }
    if (closest > kLooseTolerance * (t - w->scaledOptimum)) return false;
    std::copy(xClosest.begin(), xClosest.end(), p->param.x);
    return true;
}

}  // namespace

int32_t doopt(NlpProblem* p, int32_t fix, int32_t k) {
    if (fix != 0) {
        if (p->active.boundState != nullptr) p->active.boundState[k] = 2;
        p->param.lower[k] = p->param.upper[k] = p->param.x[k];
    }
    if (p->opt.critCounts != nullptr)
        for (int32_t i = fix != 0 ? 10 : 0; i < 20; ++i) p->opt.critCounts[i] = 0;
    run_note(p, fix != 0 ? kMsgFixedRun : kMsgFreeRun, k);
    if (fix != 0 || p->shape.hasBounds || p->shape.hasLinCon) {
        std::vector<double> x0(p->param.x, p->param.x + p->shape.nParams);
        p->run.feasRound = 0;
        int32_t retries = 0;
        while (znlpfea(p, -1) < 0) {
            std::copy(x0.begin(), x0.end(), p->param.x);
            if (p->shape.hasNlinCon && znlpfnc(p, 1) == 0) break;
            std::copy(x0.begin(), x0.end(), p->param.x);
            if (++retries >= kFeasibleRetries) {
                xpslog(" Error computing feasible point");
                p->iter.f = DBL_MAX;
                return -1;
            }
            p->run.feasRound = retries;
        }
    }
    const NlpTechniqueFn fn = znlp_technique_for(p);
    if (fn == nullptr || fn == znlp_technique_pending) {
        xpmlog(kMsgNlp, kMsgCannotProfile);
        return -2;
    }
    // Each sub-optimization has its own iteration and call limits.
    p->run.iteration = 0.0;
    p->run.nFun = p->run.nGrad = p->run.nHess = p->run.nConEval = p->run.nConJac = 0;
    p->run.nUpdates = p->run.nLineSearches = p->run.iterSinceStart = p->run.nRestarts = p->run.claimRefusals = 0;
    p->active.nActiveBounds = p->active.nActiveLin = 0;
    // The techniques start from the objective and gradient at x, as the
    // driver's start phase leaves them.  They are evaluated as during a
    // run: a level the model cannot reach is an answer of the search, not
    // an error of the step to be logged at every trial.
    p->run.evalPhase = kPhaseRun;
    p->run.evalStatus = 0.0;
    p->run.lastEval = kLastObjective;
    if (p->cb.objectiveFn(p) != 0 || p->run.evalStatus != 0.0 || !std::isfinite(p->iter.f)) return kNlpStartFunction;
    p->run.lastEval = kLastGradient;
    if ((p->cb.gradientFn != nullptr ? p->cb.gradientFn(p) : znlpfig(p)) != 0 || p->run.evalStatus != 0.0)
        return kNlpStartDerivative;
    p->run.evalPhase = kPhaseRun;
    const int32_t status = fn(p);
    if (p->opt.printLevel >= 2.0) {
        znlpptm(p, status, 0);
        run_note(p, kMsgProfiled, k);
    }
    return status;
}

namespace {

// Steps 2 to 6 for level l with target t: bracket, refine, or the bound.
// 0, or -2 when a technique that cannot be used ends the search.
int32_t level_limit(NlpProblem* p, LimitWork* w, size_t l, double t) {
    const int32_t k = w->k, n = p->shape.nParams;
    const size_t kk = static_cast<size_t>(k);
    const RecordRange& range = w->points[static_cast<size_t>(2 * k + w->side)];
    // Step 2: the first stored point at or above t after one at or below.
    std::vector<double> xIn(w->xEst), xOut(static_cast<size_t>(n)), xLast(static_cast<size_t>(n));
    double fIn = w->scaledOptimum, fOut = 0.0, lastValue = missing();
    bool found = false;
    for (int32_t j = 0; j < range.count && !found; ++j) {
        LimitRecord r;
        read_record(w, p, range.first + j, &r, xOut.data());
        if (wzmis(r.value)) continue;
        found = r.value >= t && fIn <= t;
        if (found) {
            fOut = r.value;
        } else {
            fIn = lastValue = r.value;
            xIn = xLast = xOut;
        }
    }
    if (found) {
        const double sign = w->side == 0 ? -1.0 : 1.0;
        if (sign * (xOut[kk] - xIn[kk]) < 0.0) internal_errorf(" Bad: gole=%i xl=%g xu=%g", w->side, xIn[kk], xOut[kk]);
        bool fatal = false;
        if (refine(p, w, t, xIn, fIn, xOut, fOut, &fatal)) {
            write_limit(w, p, kLimitFound, static_cast<int32_t>(l), p->param.x[k], t, p->param.x);
            limit_found_row(p, w, w->levels[l]);
        } else {
            w->levels[l].failure = kFailRefits;
        }
        return fatal ? -2 : 0;
    }
    // Step 5: a profile that stays below its target up to a finite bound
    // has the bound as its limit.
    const double bound = w->side == 0 ? w->lowerSaved[kk] : w->upperSaved[kk];
    if (range.count > 0 && !wzmis(lastValue) && bound > -DBL_MAX && bound < DBL_MAX &&
        std::fabs(xLast[kk] - bound) <= 1e-8 * (1.0 + std::fabs(bound))) {
        write_limit(w, p, kLimitAtBound, static_cast<int32_t>(l), bound, lastValue, xLast.data());
        std::copy(xLast.begin(), xLast.end(), p->param.x);
        limit_found_row(p, w, w->levels[l]);
    }
    return 0;
}

}  // namespace

int32_t znlppcl(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (w->levels.empty()) internal_error("profile limits without levels");
    return each_open_level(p, w, [&](size_t l, double t) { return level_limit(p, w, l, t); });
}

}  // namespace velix::limits
