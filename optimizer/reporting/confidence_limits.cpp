// The confidence-limit driver: Wald limits est -+ z se and the profile
// trace from which the profile-likelihood limits are found (see
// confidence_limits.h; Venzon and Moolgavkar 1988).  After a successful
// run it traces the profile of each selected parameter outward from the
// estimate on each side, with the parameter fixed at planned points and
// the others re-estimated, turns the trace into limits by refining the
// crossing of each target (profile_limits.cpp), solves the augmented
// system for a level the trace did not reach (augmented_limits.cpp), and
// prints and writes the limits (limit_tables.cpp).  The problem is the
// same on return as on entry.
//
//   checks; copy the problem; bounds on (limits are found by fixing them)
//   standard errors (given, or from the diagonal of a difference Hessian
//       of the deviance)
//   Wald limits only: tables and rows, done
//   level grid with the requested levels; targets up to T = F + c q(alpha_min)
//   per parameter, lower side then upper side:
//       fixed parameter or estimate on its bound: the limits are known
//       trace the planned points until the objective passes 2T - F, then
//           (without FEASRATIO=) further points until it passes T, each
//           refit started from the secant through the last two points
//       limits from the trace; the augmented system for the rest
//   tables, rows; restore the problem
#include "optimizer/reporting/confidence_limits.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "host/internal_error.h"
#include "host/scratch_file.h"
#include "host/fields.h"
#include "numerics/distributions.h"
#include "optimizer/core/core.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/pending.h"
#include "optimizer/reporting/report_table.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace velix::limits {

namespace {

// The attribute word of the driver's own scratch file.

// Standard errors at or below this are not trusted for the planned points.
constexpr double kSmallStdError = 0.001;
// A curvature below this gives no standard error.
constexpr double kSmallCurvature = 1e-6;
// A failed trace point is halved toward the last accepted one until the
// two lie this close (relative to the standard error or step).
constexpr double kTraceHalving = 1e-3;
// Points the trace may add past the planned ones (the quadratic
// prediction of extension_point usually needs one).
constexpr size_t kExtraPoints = 6;

double missing() { return host_missing_value(); }

int64_t record_bytes(const NlpProblem* p) { return 8 * static_cast<int64_t>(p->shape.nParams) + 28; }

// h_ii by the five-point formula with the step eta^(2/3) (1 + |x_i|).  0,
// or -1 when an objective call fails.  x and f are restored.
int32_t fih(NlpProblem* p, double* diag) {
    const int32_t n = p->shape.nParams;
    const double eta = p->opt.fDigits > 0.0 ? std::pow(10.0, -p->opt.fDigits / 2.0) : 2.0 * 1.0536712127723509e-8;
    const double f0 = p->iter.f, phase = p->run.evalPhase;
    p->run.evalPhase = kPhaseFdHessianF;
    auto at = [&](int32_t i, double xi, double* f) {
        p->param.x[i] = xi;
        p->run.lastEval = kLastObjective;
        const bool ok = p->cb.objectiveFn(p) == 0 && std::isfinite(p->iter.f);
        *f = p->iter.f;
        return ok;
    };
    int32_t result = 0;
    for (int32_t i = 0; i < n && result == 0; ++i) {
        const double xi = p->param.x[i], h = std::pow(eta, 2.0 / 3.0) * (1.0 + std::fabs(xi));
        double fp, fm, fp2, fm2;
        if (!at(i, xi + h, &fp) || !at(i, xi - h, &fm) || !at(i, xi + 2 * h, &fp2) || !at(i, xi - 2 * h, &fm2))
            result = -1;
        else
            diag[i] = (16.0 * fp + 16.0 * fm - 30.0 * f0 - fp2 - fm2) / (12.0 * h * h);
        p->param.x[i] = xi;
    }
    p->iter.f = f0;
    p->run.evalPhase = phase;
    return result;
}

// Step 3: the standard errors of the Wald limits and the planned points.
void standard_errors(NlpProblem* p, LimitWork* w) {
    const int32_t n = p->shape.nParams;
    w->stdErrors.assign(static_cast<size_t>(n), missing());
    bool all = p->work.stdErrors != nullptr;
    for (int32_t i = 0; all && i < n; ++i) all = !wzmis(p->work.stdErrors[i]) && p->work.stdErrors[i] > kSmallStdError;
    if (all) {
        std::copy(p->work.stdErrors, p->work.stdErrors + n, w->stdErrors.begin());
        w->haveStdErrors = true;
        return;
    }
    std::vector<double> h(static_cast<size_t>(n), 0.0);
    if (fih(p, h.data()) != 0) return;
    for (int32_t i = 0; i < n; ++i) {
        const double given = p->work.stdErrors != nullptr ? p->work.stdErrors[i] : missing();
        if (!wzmis(given) && given > 1e-4) {
            w->stdErrors[i] = given;
        } else if (h[i] < kSmallCurvature) {
            w->stdErrors.assign(static_cast<size_t>(n), missing());
            return;
        } else {
            // The curvature of the deviance D f is D h: its inverse times 2
            // is the variance (for D = 2, f a negative log-likelihood,
            // 1/h).
            w->stdErrors[i] = std::sqrt(2.0 / (w->devianceScale * h[i]));
        }
    }
    w->haveStdErrors = true;
}

// A parameter's bound state 2 or lower = upper.
bool fixed_parameter(const LimitWork* w, int32_t j) {
    return w->stateSaved[static_cast<size_t>(j)] == 2 || w->lowerSaved[static_cast<size_t>(j)] == w->upperSaved[static_cast<size_t>(j)];
}

// The finite bound of side s of parameter j, or +-DBL_MAX.
double side_bound(const LimitWork* w, int32_t j, int32_t s) {
    return s == 0 ? w->lowerSaved[static_cast<size_t>(j)] : w->upperSaved[static_cast<size_t>(j)];
}

bool finite_bound(double b) { return b > -DBL_MAX && b < DBL_MAX; }

// The planned trace points of parameter k on side s, outward: the Wald
// limits of the grid levels (a step of 0.1 max(|est|, 1) stands for the
// standard error when there is none), respaced evenly up to the bound when
// one passes it, or up to z_last se startScale when that is given.
std::vector<double> planned_points(const NlpProblem* p, const LimitWork* w, int32_t k, int32_t s) {
    const ProfileSettings* ps = p->hooks->plSettings;
    const double est = w->xEst[static_cast<size_t>(k)], sign = s == 0 ? -1.0 : 1.0;
    const double se = w->haveStdErrors ? w->stdErrors[static_cast<size_t>(k)] : 0.1 * std::fmax(std::fabs(est), 1.0);
    std::vector<double> pts;
    for (const LevelSlot& l : w->levels) pts.push_back(est + sign * wald_z(l.alpha) * se);
    const size_t m = pts.size();
    const double bound = side_bound(w, k, s);
    double reach = 0.0;
    if (!wzmis(ps->startScale) && ps->startScale > 0.0) reach = wald_z(w->levels.back().alpha) * se * ps->startScale;
    if (finite_bound(bound) && sign * (pts.back() - bound) > 0.0 && (reach == 0.0 || reach > std::fabs(bound - est)))
        reach = std::fabs(bound - est);
    if (reach > 0.0)
        for (size_t i = 0; i < m; ++i) pts[i] = est + sign * reach * static_cast<double>(i + 1) / static_cast<double>(m);
    return pts;
}

// The end of the trace so far: its last accepted point (the estimate at
// first) and the one before it.
struct TraceEnd {
    std::vector<double> x, xPrev;
    double theta = 0.0, thetaPrev = 0.0, value = 0.0;
    bool havePrev = false;
    void accept(const double* xNew, double thetaNew, double valueNew) {
        xPrev.swap(x);
        x.assign(xNew, xNew + xPrev.size());
        thetaPrev = theta;
        theta = thetaNew;
        value = valueNew;
        havePrev = true;
    }
};

// The start of the refit at `point`: the last point moved along the secant
// through the last two (first-order continuation: the other parameters
// follow k at the rate the trace has shown), within the bounds.
void predicted_start(NlpProblem* p, const LimitWork* w, const TraceEnd& e, double point) {
    const double s = e.havePrev && e.theta != e.thetaPrev ? (point - e.theta) / (e.theta - e.thetaPrev) : 0.0;
    for (size_t i = 0; i < e.x.size(); ++i)
        p->param.x[i] = std::fmin(std::fmax(e.x[i] + s * (e.x[i] - e.xPrev[i]), w->lowerSaved[i]), w->upperSaved[i]);
    p->param.x[w->k] = point;
}

// One trace point: parameter k fixed at `point` and the others re-estimated
// from the continuation of the trace's end.  A failed sub-optimization is
// retried halfway back toward the last accepted point until the two lie
// within tol.  Result: the accepted value of k (x holds the point),
// missing when the point is skipped; *fatal when a technique that cannot
// be used ends the whole computation.
double trace_point(NlpProblem* p, LimitWork* w, double point, const TraceEnd& end, double tol, bool* fatal) {
    const size_t n = static_cast<size_t>(p->shape.nParams);
    for (;;) {
        predicted_start(p, w, end, point);
        const int32_t status = doopt(p, 1, w->k);
        std::copy(w->lowerSaved.begin(), w->lowerSaved.end(), p->param.lower);
        std::copy(w->upperSaved.begin(), w->upperSaved.end(), p->param.upper);
        std::copy(w->stateSaved.begin(), w->stateSaved.begin() + static_cast<std::ptrdiff_t>(n), p->active.boundState);
        if (status == -2) {
            xpmlog(kMsgNlp, kMsgCannotProfile);
            *fatal = true;
            return missing();
        }
        if (status >= 0) return point;
        if (std::fabs(point - end.theta) <= tol) return missing();
        point = 0.5 * (point + end.theta);
    }
}

// The next point past the planned ones when the trace has not yet passed
// the largest target T: the profile taken as quadratic in theta through
// the estimate and the last point predicts where it meets T; the step
// overshoots that by a tenth so that the point brackets the target, and
// is at least a tenth and at most twice the distance already covered.
// Clamped to the bound of the side.
double extension_point(const LimitWork* w, double thetaLast, double valueLast, double largestTarget) {
    const double est = w->xEst[static_cast<size_t>(w->k)], sign = w->side == 0 ? -1.0 : 1.0;
    const double rise = valueLast - w->scaledOptimum;
    double factor = rise > 0.0 ? 1.1 * std::sqrt((largestTarget - w->scaledOptimum) / rise) : 2.0;
    factor = std::fmin(std::fmax(factor, 1.1), 2.0);
    const double point = est + factor * (thetaLast - est);
    const double bound = side_bound(w, w->k, w->side);
    return sign * (point - bound) > 0.0 ? bound : point;
}

// Step 10: the trace of parameter k on side s.  false when a technique
// that cannot be used ends the whole computation.  Without FEASRATIO= the
// trace goes on past the planned points until it passes the largest
// target, the bound, or kExtraPoints more points: a crossing that the
// trace brackets is refined by refits with k fixed, which hold every
// bound and constraint exactly, and costs far less than the augmented
// system.
bool trace_side(NlpProblem* p, LimitWork* w, int32_t k, int32_t s, double ceiling) {
    const ProfileSettings* ps = p->hooks->plSettings;
    const std::vector<double> pts = planned_points(p, w, k, s);
    TraceEnd end;
    end.x = end.xPrev = w->xEst;
    end.theta = end.thetaPrev = w->xEst[static_cast<size_t>(k)];
    end.value = w->scaledOptimum;
    const double tol = kTraceHalving * std::fabs(pts.front() - end.theta);
    const double largestTarget = 0.5 * (ceiling + w->scaledOptimum);
    const bool extend = wzmis(ps->startScale) || ps->startScale <= 0.0;
    const double bound = side_bound(w, k, s);
    RecordRange& range = w->points[static_cast<size_t>(2 * k + s)];
    range.first = w->nRecords;
    bool fatal = false;
    for (size_t i = 0; !fatal; ++i) {
        const bool planned = i < pts.size();
        if (!planned && (!extend || i >= pts.size() + kExtraPoints || end.value >= largestTarget ||
                         (finite_bound(bound) && end.theta == bound)))
            break;
        const double want = planned ? pts[i] : extension_point(w, end.theta, end.value, largestTarget);
        const double point = trace_point(p, w, want, end, tol, &fatal);
        // A skipped extension would be asked for again: the trace ends.
        if (wzmis(point) && !planned) break;
        if (wzmis(point)) continue;
        const double value = w->devianceScale * p->iter.f;
        LimitRecord r{k, s, kPointKind, planned ? w->levels[i].alpha : missing(), value};
        write_record(w, p, r, p->param.x);
        range.count += 1;
        end.accept(p->param.x, point, value);
        // Past 2T - F every target has been crossed: the trace stops early.
        if (value > ceiling) break;
    }
    restore_point(p, w);
    return !fatal;
}

// Step 9: limits that need no search: a fixed parameter, or an estimate
// on its bound on this side.  false when the side must be searched.
bool known_limits(NlpProblem* p, LimitWork* w, int32_t k, int32_t s) {
    const double est = w->xEst[static_cast<size_t>(k)], bound = side_bound(w, k, s);
    int32_t status = -1;
    double limit = est;
    if (fixed_parameter(w, k)) {
        status = kLimitFixed;
    } else if (finite_bound(bound) && std::fabs(est - bound) < 10.0 * (wzmis(p->opt.feasTol) ? 1e-8 : p->opt.feasTol)) {
        status = s == 0 ? kLimitOnLower : kLimitOnUpper;
        limit = bound;
    }
    if (status < 0) return false;
    for (size_t l = 0; l < w->levels.size(); ++l)
        if (w->levels[l].wanted) write_limit(w, p, status, static_cast<int32_t>(l), limit, w->scaledOptimum, w->xEst.data());
    return true;
}

// One warning for each wanted level of the side in hand that is still
// missing, naming the side, the parameter, the level and why.
void log_missing(const NlpProblem* p, const LimitWork* w) {
    char name[33];
    const int32_t width = p->param.paramNameWidth > 0 && p->param.paramNameWidth <= 32 ? p->param.paramNameWidth : 8;
    velix::report::parameter_label(p, w->k, name, width);
    int32_t len = width;
    while (len > 1 && name[len - 1] == ' ') --len;
    for (const LevelSlot& l : w->levels) {
        if (!l.wanted || !wzmis(l.limit)) continue;
        xpmlog(kMsgNlp, l.failure == kFailRefits ? kMsgRefitsFailed : kMsgNotSolved, w->side == 0 ? "lower" : "upper",
               len, name, l.alpha);
    }
}

// Steps 9 to 11 for every selected parameter.  false when the search was
// ended by a technique that cannot be used.
bool profile_all(NlpProblem* p, LimitWork* w, double ceiling) {
    for (int32_t k : w->selected) {
        for (int32_t s = 0; s < 2; ++s) {
            w->k = k;
            w->side = s;
            for (LevelSlot& l : w->levels) {
                l.limit = l.target = missing();
                l.failure = kFailNone;
            }
            w->limits[static_cast<size_t>(2 * k + s)].first = -1;
            if (known_limits(p, w, k, s)) continue;
            if (!trace_side(p, w, k, s, ceiling)) return false;
            if (znlppcl(p) == -2) return false;
            bool open = false;
            for (const LevelSlot& l : w->levels) open |= l.wanted && wzmis(l.limit);
            if (open && znlpplc(p) == -2) return false;
            if (open) log_missing(p, w);
        }
    }
    return true;
}

// Step 6: the technique and iteration limit of the augmented system.
// Its Jacobian comes from differences of the gradient, so that LEVMAR can
// always be used up to 50 parameters; CONGRA stays CONGRA.
void choose_technique(const NlpProblem* p, LimitWork* w) {
    w->technique = p->opt.technique == kTechCongra ? kTechCongra : (p->shape.nParams <= 50 ? kTechLevmar : kTechQuanew);
    const ProfileSettings* ps = p->hooks->plSettings;
    w->maxIter = !wzmis(ps->maxIter) && ps->maxIter > 0.0 ? ps->maxIter
                 : w->technique == kTechLevmar                ? 100.0
                 : w->technique == kTechQuanew                ? 400.0
                                                              : 1000.0;
}

// Step 1: whether limits can and should be computed.  Result 0 to go on,
// else the driver's result.
int32_t entry_checks(NlpProblem* p, ProfileSettings* ps, double* devianceScale) {
    const bool derivatives = p->cb.gradientFn != nullptr || p->hooks->eval.gradientFn != nullptr ||
                             p->cb.hessianFn != nullptr;
    if (p->opt.technique == kTechNone || !derivatives) {
        xpmlog(kMsgNlp, kMsgCannotProfile);
        return 1;
    }
    // The default is applied before the test, so that a missing scale is
    // not mistaken for a bad one.
    *devianceScale = wzmis(ps->devianceScale) || ps->devianceScale == 0.0 ? 2.0 : ps->devianceScale;
    if (!(*devianceScale > DBL_MIN)) {
        xpmlog(kMsgNlp, kMsgBadDevianceScale, *devianceScale);
        return -1;
    }
    if (ps->method == 0) return 1;
    if (p->hooks->post.outestHook == nullptr) ps->outestRows = ps->outestLimitRows = 0;
    if (ps->printLimits == 0 && ps->outestRows == 0 && ps->outestLimitRows == 0) return 1;
    return 0;
}

// The work record from the problem at the estimate.
void fill_work(NlpProblem* p, LimitWork* w, const ProfileSettings* ps, double devianceScale) {
    const size_t n = static_cast<size_t>(p->shape.nParams);
    w->devianceScale = devianceScale;
    w->scaledOptimum = devianceScale * p->iter.f;
    w->xEst.assign(p->param.x, p->param.x + n);
    w->gradEst.assign(n, 0.0);
    if (p->work.gradient != nullptr) w->gradEst.assign(p->work.gradient, p->work.gradient + n);
    w->lowerSaved.assign(p->param.lower, p->param.lower + n);
    w->upperSaved.assign(p->param.upper, p->param.upper + n);
    w->stateSaved.assign(p->active.boundState, p->active.boundState + n);
    for (size_t i = 0; i < n; ++i) {
        if (wzmis(w->lowerSaved[i])) w->lowerSaved[i] = -DBL_MAX;
        if (wzmis(w->upperSaved[i])) w->upperSaved[i] = DBL_MAX;
    }
    w->points.assign(2 * n, RecordRange{});
    w->limits.assign(2 * n, RecordRange{-1, 0});
    if (ps->nSelected > 0 && ps->selected != nullptr) {
        w->selected.assign(ps->selected, ps->selected + ps->nSelected);
        w->selected.erase(std::remove_if(w->selected.begin(), w->selected.end(),
                                         [&](int32_t j) { return j < 0 || j >= p->shape.nParams; }),
                          w->selected.end());
        std::sort(w->selected.begin(), w->selected.end());
        w->selected.erase(std::unique(w->selected.begin(), w->selected.end()), w->selected.end());
    } else {
        for (int32_t j = 0; j < p->shape.nParams; ++j) w->selected.push_back(j);
    }
    // Without requested levels (or in the default set) the default levels
    // are profiled.
    if (ps->useDefaults == kProfileDefaultSet || ps->nAlpha <= 0 || ps->alphas == nullptr)
        w->levels = merge_levels(kDefaultLevels, 4);
    else
        w->levels = merge_levels(ps->alphas, ps->nAlpha);
    const double sigma2 = p->hooks->result.sigmaSq > 0.0 && !wzmis(p->hooks->result.sigmaSq) ? p->hooks->result.sigmaSq : 1.0;
    w->c = ps->targetScaleKind == 0 || ps->targetScaleKind == 1 ? sigma2 : 1.0;
}

// The arrays the limits change: lent ones when the owner has none.
struct LentArrays {
    std::vector<double> lower, upper;
    std::vector<int32_t> state, freeList;
    void lend(NlpProblem* p) {
        const size_t n = static_cast<size_t>(p->shape.nParams);
        if (p->param.lower == nullptr) p->param.lower = (lower.assign(n, -DBL_MAX), lower.data());
        if (p->param.upper == nullptr) p->param.upper = (upper.assign(n, DBL_MAX), upper.data());
        if (p->active.boundState == nullptr) p->active.boundState = (state.assign(n, 0), state.data());
        if (p->active.freeList == nullptr) {
            freeList.resize(n);
            for (size_t i = 0; i < n; ++i) freeList[i] = static_cast<int32_t>(i);
            p->active.freeList = freeList.data();
        }
    }
};

}  // namespace

void restore_point(NlpProblem* p, const LimitWork* w) {
    const size_t n = static_cast<size_t>(p->shape.nParams);
    std::copy(w->xEst.begin(), w->xEst.end(), p->param.x);
    std::copy(w->lowerSaved.begin(), w->lowerSaved.end(), p->param.lower);
    std::copy(w->upperSaved.begin(), w->upperSaved.end(), p->param.upper);
    std::copy(w->stateSaved.begin(), w->stateSaved.begin() + static_cast<std::ptrdiff_t>(n), p->active.boundState);
}

LimitWork* work_of(const NlpProblem* p) { return static_cast<LimitWork*>(p->hooks->plSettings->record); }

int64_t write_record(LimitWork* w, const NlpProblem* p, const LimitRecord& r, const double* x) {
    const ProfileSettings* ps = p->hooks->plSettings;
    std::vector<unsigned char> b(static_cast<size_t>(record_bytes(p)));
    std::memcpy(b.data(), &r.param, 4);
    std::memcpy(b.data() + 4, &r.side, 4);
    std::memcpy(b.data() + 8, &r.status, 4);
    std::memcpy(b.data() + 12, &r.level, 8);
    std::memcpy(b.data() + 20, &r.value, 8);
    std::memcpy(b.data() + 28, x, 8 * static_cast<size_t>(p->shape.nParams));
    scratch_check(xcpoint(ps->limitsFile, w->nRecords * record_bytes(p)));
    scratch_check(xcwrite(ps->limitsFile, b.data(), record_bytes(p)));
    return w->nRecords++;
}

void read_record(const LimitWork*, const NlpProblem* p, int64_t index, LimitRecord* r, double* x) {
    const ProfileSettings* ps = p->hooks->plSettings;
    std::vector<unsigned char> b(static_cast<size_t>(record_bytes(p)));
    scratch_check(xcpoint(ps->limitsFile, index * record_bytes(p)));
    scratch_check(xcread(ps->limitsFile, b.data(), record_bytes(p)));
    std::memcpy(&r->param, b.data(), 4);
    std::memcpy(&r->side, b.data() + 4, 4);
    std::memcpy(&r->status, b.data() + 8, 4);
    std::memcpy(&r->level, b.data() + 12, 8);
    std::memcpy(&r->value, b.data() + 20, 8);
    if (x != nullptr) std::memcpy(x, b.data() + 28, 8 * static_cast<size_t>(p->shape.nParams));
}

void write_limit(LimitWork* w, NlpProblem* p, int32_t status, int32_t l, double limit, double target,
                 const double* x) {
    LevelSlot& slot = w->levels[static_cast<size_t>(l)];
    slot.limit = limit;
    slot.target = target;
    std::vector<double> point(x, x + p->shape.nParams);
    point[static_cast<size_t>(w->k)] = limit;
    const int64_t at = write_record(w, p, LimitRecord{w->k, w->side, status, slot.alpha, target}, point.data());
    RecordRange& range = w->limits[static_cast<size_t>(2 * w->k + w->side)];
    if (range.first < 0) range.first = at;
    range.count += 1;
}

double reported(const NlpProblem* p, const LimitWork* w, double v) {
    const ProfileSettings* ps = p->hooks->plSettings;
    if (ps->targetScaleKind == 0 || ps->targetScaleKind == 1) v /= w->devianceScale;
    return w->outer->shape.maximize ? -v : v;
}

void limit_found_row(NlpProblem* p, const LimitWork* w, const LevelSlot& l) {
    if (p->hooks->plSettings->outestLimitRows == 0 || p->hooks->post.outestHook == nullptr) return;
    p->limitRow = NlpLimitRow{w->side, w->k, l.alpha, reported(p, w, l.target)};
    p->hooks->post.outestHook(p, -11, p->param.x);
    p->limitRow = NlpLimitRow{};
}

std::vector<LevelSlot> merge_levels(const double* requested, int32_t count) {
    std::vector<LevelSlot> list;
    for (double a : kGridLevels) list.push_back(LevelSlot{a, false, missing(), missing(), kFailNone});
    std::vector<double> user(requested, requested + std::max(count, 0));
    std::sort(user.begin(), user.end(), std::greater<double>());
    for (double a : user) {
        if (!(a > 0.0 && a < 1.0)) continue;
        auto at = std::find_if(list.begin(), list.end(), [&](const LevelSlot& l) { return l.alpha <= a; });
        if (at != list.end() && at->alpha == a)
            at->wanted = true;
        else
            list.insert(at, LevelSlot{a, true, missing(), missing(), kFailNone});
    }
    // Unmarked interior levels too close to a neighbour add trace points
    // without adding a limit.
    for (bool dropped = true; dropped;) {
        dropped = false;
        for (size_t i = 1; i + 1 < list.size(); ++i) {
            if (list[i].wanted) continue;
            const double a = list[i].alpha, up = list[i - 1].alpha - a, down = a - list[i + 1].alpha;
            const bool close = a > 0.2 ? (up < 0.05 || down < 0.05 || list[i - 1].alpha - list[i + 1].alpha < 0.1)
                                       : (up < 0.001 || down < 0.001);
            if (close) {
                list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                dropped = true;
                break;
            }
        }
    }
    return list;
}

double wald_z(double alpha) { return zprobit(1.0 - 0.5 * alpha); }

double wald_limit(const NlpProblem* p, const LimitWork* w, int32_t j, int32_t side, double alpha) {
    const double se = w->stdErrors[static_cast<size_t>(j)];
    if (!w->haveStdErrors || wzmis(se)) return missing();
    const double est = w->xEst[static_cast<size_t>(j)], z = wald_z(alpha);
    // An absent bound is -+DBL_MAX and clamps nothing.
    return side == 0 ? std::fmax(est - z * se, w->lowerSaved[static_cast<size_t>(j)])
                     : std::fmin(est + z * se, w->upperSaved[static_cast<size_t>(j)]);
}

bool level_target(const LimitWork* w, double alpha, double* target) {
    double q = 0.0;
    if (zqc(1.0 - alpha, 1.0, &q) != 0) {
        xpmlog(kMsgNlp, kMsgNoQuantile, alpha);
        return false;
    }
    *target = w->scaledOptimum + w->c * q;
    return true;
}

int32_t each_open_level(NlpProblem* p, LimitWork* w, const std::function<int32_t(size_t, double)>& fn) {
    for (size_t l = 0; l < w->levels.size(); ++l) {
        const LevelSlot& slot = w->levels[l];
        if (!slot.wanted || !wzmis(slot.limit)) continue;
        if (!level_target(w, slot.alpha, &w->target)) return -2;
        const int32_t r = fn(l, w->target);
        restore_point(p, w);
        if (r < 0) return r;
    }
    return 0;
}

}  // namespace velix::limits

using namespace velix::limits;

// The driver (declared with the routines the optimizer core calls).

int32_t znlppli(NlpProblem* p) {
    if (p->hooks == nullptr || p->hooks->plSettings == nullptr) return 1;
    ProfileSettings* ps = p->hooks->plSettings;
    double devianceScale = 2.0;
    const int32_t checked = entry_checks(p, ps, &devianceScale);
    if (checked == 1) return 0;
    if (checked != 0) return checked;
    ps->method = ps->useDefaults != kProfileAsRequested ? 2 : (ps->nAlpha > 0 ? 3 : 1);

    // Step 2: the copy that restores the problem, and the bounds by which
    // parameters are fixed.
    const NlpProblem saved = *p;
    LentArrays lent;
    lent.lend(p);
    const std::vector<double> originalLower(p->param.lower, p->param.lower + p->shape.nParams),
        originalUpper(p->param.upper, p->param.upper + p->shape.nParams);
    LimitWork w;
    NlpProblem outerCopy = saved;
    w.outer = &outerCopy;
    ps->record = &w;
    fill_work(p, &w, ps, devianceScale);
    p->shape.hasBounds = 1;
    p->opt.printLevel = ps->printLimits > 1 ? 2.0 : 0.0;
    std::copy(w.lowerSaved.begin(), w.lowerSaved.end(), p->param.lower);
    std::copy(w.upperSaved.begin(), w.upperSaved.end(), p->param.upper);
    standard_errors(p, &w);

    ScratchFileRequest request;
    request.attributeWord = kFileSequential;
    scratch_check(xcopen(&ps->limitsFile, &request));
    int32_t result = 0;
    if (ps->useDefaults == kProfileWaldOnly) {
        if (!w.haveStdErrors) {
            xpmlog(kMsgNlp, kMsgNoStdErrors);
            result = 1;
        } else {
            if (ps->printLimits != 0) priplc(p, 1);
            if (ps->outestRows != 0) foplc(p, 1);
        }
    } else {
        choose_technique(p, &w);
        double target = 0.0;
        if (!level_target(&w, w.levels.back().alpha, &target)) {
            result = -2;
        } else if (profile_all(p, &w, 2.0 * target - w.scaledOptimum)) {
            if (ps->printLimits != 0) priplc(p, 2);
            if (ps->outestRows != 0) foplc(p, 2);
        }
    }
    const size_t n = static_cast<size_t>(p->shape.nParams);
    std::copy(originalLower.begin(), originalLower.end(), p->param.lower);
    std::copy(originalUpper.begin(), originalUpper.end(), p->param.upper);
    std::copy(w.stateSaved.begin(), w.stateSaved.begin() + static_cast<std::ptrdiff_t>(n), p->active.boundState);
    *p = saved;
    std::copy(w.xEst.begin(), w.xEst.end(), p->param.x);
    // The owner's evaluation state belongs to the last profile point: one
    // evaluation at the estimate gives it back; f and the gradient are then
    // the saved ones.
    p->run.lastEval = kLastObjective;
    (void)(p->hooks->eval.objectiveFn != nullptr ? p->hooks->eval.objectiveFn : p->cb.objectiveFn)(p);
    const NlpCallback gradient = p->hooks->eval.gradientFn != nullptr ? p->hooks->eval.gradientFn : p->cb.gradientFn;
    if (gradient != nullptr && p->work.gradient != nullptr) {
        p->run.lastEval = kLastGradient;
        (void)gradient(p);
    }
    *p = saved;
    if (p->work.gradient != nullptr) std::copy(w.gradEst.begin(), w.gradEst.end(), p->work.gradient);
    scratch_check(xcclose(ps->limitsFile, 1));
    ps->limitsFile = nullptr;
    ps->record = nullptr;
    return result;
}
