// Profile-likelihood limits by the augmented system: for a level that the
// stored trace does not reach, the limit of parameter k solves, in all n
// parameters at once, g_i(x) = 0 for i != k and F(x) = t (Venzon and
// Moolgavkar 1988), here as the least-squares problem min 1/2 |r|^2 with
// r_i = D g_i (i != k) and r_k = D f - t on the deviance scale (D the
// deviance factor), parameter k held on its side of the estimate by its
// bounds.  The residuals are taken on the deviance scale so that the
// convergence thresholds of the sub-problem measure the chi-square scale
// on which the limit is judged.  The Jacobian J of r has the gradient
// (times D) as row k and Hessian rows elsewhere, by forward differences of
// the owner's gradient (the owner's Hessian slot may hold an approximation
// such as the information matrix, which is not the Jacobian of r); the
// sub-problem's gradient is J'r and its Levenberg-Marquardt matrix J'J.
//
//   for each wanted level still missing:
//       start at the stored point nearest above t (else below), else a
//           step from the estimate that passes t
//       turn the problem into the sub-problem; LEVMAR (QUANEW, CONGRA)
//       accept when 1/2 |r|^2 is small; the level stays missing otherwise
#include <cfloat>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "numerics/distributions.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/core.h"
#include "optimizer/core/line_search.h"
#include "optimizer/reporting/confidence_limits.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/packed_index.h"

namespace velix::limits {

namespace {

// Thresholds of the sub-problem on the deviance scale.
constexpr double kSubAbsConv = 1e-12;
constexpr double kSubAbsGConv = 1e-9;
constexpr double kSubGConv = 1e-12;
// Solves of one level, its continuation steps included.
constexpr int32_t kMaxContinuation = 30;
// A solution is accepted when 1/2 |r|^2 is at most this (|D f - t| below
// 1.4e-5 on the chi-square scale).
constexpr double kAccept = 1e-10;

double missing() { return host_missing_value(); }

NlpCallback outer_objective(const LimitWork* w) {
    const NlpProblem* o = w->outer;
    return o->hooks != nullptr && o->hooks->objectiveFn != nullptr ? o->hooks->objectiveFn : o->objectiveFn;
}
NlpCallback outer_gradient(const LimitWork* w) {
    const NlpProblem* o = w->outer;
    return o->hooks != nullptr && o->hooks->gradientFn != nullptr ? o->hooks->gradientFn : o->gradientFn;
}

// The outer problem's fields around one of its evaluations.
struct OuterSwap {
    NlpProblem* p;
    double* funValues;
    int32_t nFunctions, leastSquares, maximize, derivDigits;
    double phase;
    double f;
    OuterSwap(NlpProblem* sub, const NlpProblem* o)
        : p(sub), funValues(sub->funValues), nFunctions(sub->nFunctions), leastSquares(sub->leastSquares),
          maximize(sub->maximize), derivDigits(sub->derivDigits), phase(sub->evalPhase), f(sub->f) {
        p->funValues = o->funValues;
        p->nFunctions = o->nFunctions;
        p->leastSquares = o->leastSquares;
        p->maximize = o->maximize;
        p->derivDigits = o->derivDigits;
        p->evalPhase = kPhaseRun;
        p->evalStatus = 0.0;
    }
    ~OuterSwap() {
        p->funValues = funValues;
        p->nFunctions = nFunctions;
        p->leastSquares = leastSquares;
        p->maximize = maximize;
        p->derivDigits = derivDigits;
        p->evalPhase = phase;
        p->f = f;
    }
};

// The outer objective and gradient at x: f into *f, the gradient into g.
// The sub-problem's own f is kept.
bool outer_values(NlpProblem* p, LimitWork* w, double* f, double* g) {
    OuterSwap swap(p, w->outer);
    p->lastEval = kLastObjective;
    if (outer_objective(w)(p) != 0 || p->evalStatus != 0.0 || !std::isfinite(p->f)) return false;
    *f = p->f;
    double* keep = p->gradient;
    p->gradient = g;
    p->lastEval = kLastGradient;
    const NlpCallback grad = outer_gradient(w);
    const bool ok = grad != nullptr && grad(p) == 0 && p->evalStatus == 0.0;
    p->gradient = keep;
    return ok;
}

// The Jacobian of r at x into w->jac (n x n, row-major): row k the outer
// gradient w->gOuter of the last fplc call at x, the others forward
// differences of the outer gradient.  Kept for the Hessian call at the
// same x.
bool jacobian(NlpProblem* p, LimitWork* w) {
    const int32_t n = p->nParams, k = w->k;
    const size_t nn = static_cast<size_t>(n);
    if (w->jacX.size() == nn && std::equal(w->jacX.begin(), w->jacX.end(), p->x)) return true;
    const double d = w->devianceScale, eta = std::sqrt(2.0 * velix::kMachEps);
    w->jac.assign(nn * nn, 0.0);
    w->jacX.clear();
    std::vector<double> g(nn);
    double f = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        const double xj = p->x[j], h = eta * (1.0 + std::fabs(xj));
        p->x[j] = xj + h;
        const bool ok = outer_values(p, w, &f, g.data());
        p->x[j] = xj;
        if (!ok) return false;
        for (size_t i = 0; i < nn; ++i) w->jac[i * nn + static_cast<size_t>(j)] = d * (g[i] - w->gOuter[i]) / h;
    }
    for (size_t j = 0; j < nn; ++j) w->jac[static_cast<size_t>(k) * nn + j] = d * w->gOuter[j];
    w->jacX.assign(p->x, p->x + n);
    return true;
}

// The sub-problem's objective: r and 1/2 |r|^2.
int32_t fplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (++w->callsF > p->maxFunc) return -1;
    double f = 0.0;
    w->jacX.clear();
    if (!outer_values(p, w, &f, w->gOuter.data())) {
        p->f = DBL_MAX;
        return -3;
    }
    const int32_t n = p->nParams;
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double r = i == w->k ? w->devianceScale * f - w->target : w->devianceScale * w->gOuter[static_cast<size_t>(i)];
        w->r[static_cast<size_t>(i)] = r;
        s += r * r;
    }
    p->f = 0.5 * s;
    return 0;
}

// The sub-problem's gradient J'r.
int32_t gplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (!jacobian(p, w)) {
        p->f = DBL_MAX;
        return -3;
    }
    const int32_t n = p->nParams;
    for (int32_t j = 0; j < n; ++j) {
        double s = 0.0;
        for (int32_t i = 0; i < n; ++i) s += w->jac[static_cast<size_t>(i) * n + j] * w->r[static_cast<size_t>(i)];
        p->gradient[j] = s;
    }
    return 0;
}

// The sub-problem's Gauss-Newton matrix J'J, packed.
int32_t hplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (!jacobian(p, w)) {
        p->f = DBL_MAX;
        return -3;
    }
    const int32_t n = p->nParams;
    for (int32_t a = 0; a < n; ++a)
        for (int32_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (int32_t i = 0; i < n; ++i) s += w->jac[static_cast<size_t>(i) * n + a] * w->jac[static_cast<size_t>(i) * n + b];
            p->hessian[pk(a, b)] = s;
        }
    return 0;
}

// The start into x: the stored point (or the last solution of the side)
// nearest above t, else nearest below; else the estimate with parameter k
// moved by the Wald step of the smallest level (0.1 max(|est|, 1) standing
// for a missing standard error), at most three quarters of the way to its
// bound.
void gtinit(NlpProblem* p, LimitWork* w, double t) {
    const RecordRange& range = w->points[static_cast<size_t>(2 * w->k + w->side)];
    const int32_t n = p->nParams;
    std::vector<double> x(static_cast<size_t>(n)), best;
    double above = DBL_MAX, below = -DBL_MAX;
    std::vector<double> bestBelow;
    for (int32_t j = 0; j < range.count; ++j) {
        LimitRecord r;
        read_record(w, p, range.first + j, &r, x.data());
        if (wzmis(r.value)) continue;
        if (r.value >= t && r.value < above) above = r.value, best = x;
        if (r.value < t && r.value > below) below = r.value, bestBelow = x;
    }
    // The last solution of this side counts as a point of the trace.
    if (!w->solved.empty() && w->solvedValue >= t && w->solvedValue < above) best = w->solved;
    if (!w->solved.empty() && w->solvedValue < t && w->solvedValue > below) bestBelow = w->solved;
    if (best.empty()) best = bestBelow;
    if (!best.empty()) {
        std::copy(best.begin(), best.end(), p->x);
        return;
    }
    const int32_t k = w->k;
    const double est = w->xEst[static_cast<size_t>(k)], sign = w->side == 0 ? -1.0 : 1.0;
    const double se = w->haveStdErrors ? w->stdErrors[static_cast<size_t>(k)] : 0.1 * std::fmax(std::fabs(est), 1.0);
    std::copy(w->xEst.begin(), w->xEst.end(), p->x);
    p->x[k] = est + sign * zprobit(1.0 - 0.5 * w->levels.back().alpha) * se;
    const double bound = w->side == 0 ? w->lowerSaved[static_cast<size_t>(k)] : w->upperSaved[static_cast<size_t>(k)];
    if (sign * (p->x[k] - bound) > 0.0) p->x[k] = est + 0.75 * (bound - est);
}

// The sub-problem's fields over the outer problem (the driver restores it).
void sub_problem(NlpProblem* p, LimitWork* w) {
    const ProfileSettings* ps = p->hooks->plSettings;
    const int32_t n = p->nParams;
    p->technique = w->technique;
    p->nFunctions = n;
    p->funValues = w->r.data();
    p->funWork = w->funWork.data();
    p->printLevel = ps->printLimits > 1 ? 2.0 : 0.0;
    p->maximize = 0;
    p->leastSquares = 1;
    p->scalarObjective = 0;
    p->update = kUpdateBfgs;
    p->scalingKind = w->technique == kTechLevmar ? 1 : 0;
    p->hasBounds = 1;
    p->lineSearch = 2;
    p->stepCap = 1.0;
    p->earlyStepCap = DBL_MAX;
    p->inStep = missing();
    p->lsPrecision = 0.4;
    p->singularTol = 1e-8;
    p->perturbSize = missing();
    p->derivDigits = 0;
    p->fDigits = p->cDigits = -std::log10(2.0 * velix::kMachEpsWritten);
    p->maxIter = w->maxIter;
    p->maxFunc = 10.0 * w->maxIter * 2.0 * n;
    p->absConv = kSubAbsConv;
    p->absGConv = kSubAbsGConv;
    p->gConv = kSubGConv;
    p->absFConv = p->fConv = p->fConv2 = p->absXConv = p->xConv = p->gConv2 = p->fSize = p->xSize = 0.0;
    p->minIter = 0;
    p->objectiveFn = fplc;
    p->gradientFn = gplc;
    p->hessianFn = hplc;
    p->hessianStorage = 0;
    p->terminationFn = znlptrm;
    p->updateFn = znlpbfg;
    p->lineSearchFn = znlp_line_search(2);
    p->iterOutputHook = nullptr;
    p->residualJacobianFn = nullptr;
}

}  // namespace

namespace {

// One solve of the augmented system for target t from the best start.
// true when its residual is small; the solution is then w->solved.  The
// problem is given back as `before` (and x as it was).
bool solve(NlpProblem* p, LimitWork* w, double t, const NlpProblem& before) {
    const int32_t k = w->k;
    const int32_t lsqStorage = p->hooks->lsqHessStorage;
    std::vector<int32_t> counts;
    if (p->critCounts != nullptr) counts.assign(p->critCounts, p->critCounts + 20);
    w->target = t;
    sub_problem(p, w);
    p->hooks->lsqHessStorage = 0;
    // Parameter k stays on the searched side of its estimate.
    if (w->side == 0)
        p->upper[k] = w->xEst[static_cast<size_t>(k)];
    else
        p->lower[k] = w->xEst[static_cast<size_t>(k)];
    gtinit(p, w, t);
    w->callsF = 0;
    const bool ok = doopt(p, 0, k) >= 0 && p->f <= kAccept;
    if (ok) {
        w->solved.assign(p->x, p->x + p->nParams);
        w->solvedValue = t;
    }
    *p = before;
    p->hooks->lsqHessStorage = lsqStorage;
    if (!counts.empty()) std::copy(counts.begin(), counts.end(), p->critCounts);
    restore_point(p, w);
    return ok;
}

}  // namespace

int32_t znlpplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    const size_t n = static_cast<size_t>(p->nParams);
    w->r.assign(n, 0.0);
    w->funWork.assign(3 * n, 0.0);
    w->gOuter.assign(n, 0.0);
    w->solved.clear();
    double solvedAlpha = 1.0;  // the estimate
    const NlpProblem before = *p;
    return each_open_level(p, w, [&](size_t l, double t) {
        // A level that fails is approached by continuation: the midpoint
        // of it and the last solved level is solved first.
        const double alpha = w->levels[l].alpha;
        double current = alpha, target = t;
        for (int32_t attempt = 0; attempt < kMaxContinuation; ++attempt) {
            if (solve(p, w, target, before)) {
                solvedAlpha = current;
                if (current == alpha) {
                    std::copy(w->solved.begin(), w->solved.end(), p->x);
                    write_limit(w, p, kLimitFound, static_cast<int32_t>(l), p->x[w->k], t, p->x);
                    limit_found_row(p, w, w->levels[l]);
                    return 0;
                }
                current = alpha;
            } else if (solvedAlpha - current > 0.01) {
                current = 0.5 * (solvedAlpha + current);
            } else {
                return 0;
            }
            if (current == alpha) {
                target = t;
            } else if (!level_target(w, current, &target)) {
                return -2;
            }
        }
        return 0;
    });
}

}  // namespace velix::limits
