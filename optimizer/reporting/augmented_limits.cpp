// Profile-likelihood limits by the augmented system: for a level that the
// stored trace does not reach, the limit of parameter k solves, in all n
// parameters at once, g_i(x) = 0 for i != k and F(x) = t (Venzon and
// Moolgavkar 1988), here as the least-squares problem min 1/2 |r|^2 with
// r = (D Z'g, D f - t) on the deviance scale (D the deviance factor),
// parameter k held on its side of the estimate by its bounds.  Z is an
// orthonormal basis of the directions orthogonal to e_k; where bounds or
// linear rows are active, Z is orthogonal to their normals too and each
// active row adds the residual of its equation: at a constrained profile
// point the gradient is a combination of e_k and the active normals, so
// that their components are multipliers, not residuals (Nocedal and
// Wright, Numerical Optimization, 2006, sec. 12.3 and 15.2).  The active
// set is taken from the start point, and revised after each solve: a row
// the solution breaks is added, a held inequality whose multiplier has the
// wrong sign released, what blocked a failed solve added.  The residuals
// are taken on the deviance scale so that the convergence thresholds of
// the sub-problem measure the chi-square scale on which the limit is
// judged.  The Jacobian J of r has Z' times the Hessian rows, the gradient
// and the held rows, the Hessian by forward differences of the owner's
// gradient (the owner's Hessian slot may hold an approximation such as the
// information matrix, which is not the Jacobian of r); the sub-problem's
// gradient is J'r and its Levenberg-Marquardt matrix J'J.
//
//   for each wanted level still missing:
//       start at the stored point nearest above t (else below), else a
//           step from the estimate that passes t
//       hold the bounds and rows tight there
//       repeat a few times:
//           turn the problem into the sub-problem on the held set
//           (bounds of held parameters fixed, held rows as residuals,
//           no other rows); LEVMAR (QUANEW, CONGRA)
//           solved (1/2 |r|^2 small): add the rows it breaks, else
//               release the held inequality of most negative multiplier,
//               else accept
//           not solved: hold what became tight, else give up
//       the level stays missing otherwise
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
// Weight of a held row's residual, its violation over the row's norm: an
// accepted solution lies on the row to about 1e-7.
constexpr double kRowWeight = 100.0;
// Solves of one level under revised active sets.
constexpr int32_t kActiveRounds = 6;
// A bound or row within this of being met (relative to 1 + |its value|)
// is active; the trace's refits meet theirs to the feasibility tolerance.
constexpr double kTight = 1e-6;
// A vector whose part outside a basis is below this share of its norm
// depends on the basis.
constexpr double kDependent = 1e-8;
// A held inequality is released when its multiplier is below -this times
// max(1, |g|): smaller ones are rounding of a zero multiplier.
constexpr double kMultiplierTol = 1e-6;

double missing() { return host_missing_value(); }

NlpCallback outer_objective(const LimitWork* w) {
    const NlpProblem* o = w->outer;
    return o->hooks != nullptr && o->hooks->eval.objectiveFn != nullptr ? o->hooks->eval.objectiveFn : o->cb.objectiveFn;
}
NlpCallback outer_gradient(const LimitWork* w) {
    const NlpProblem* o = w->outer;
    return o->hooks != nullptr && o->hooks->eval.gradientFn != nullptr ? o->hooks->eval.gradientFn : o->cb.gradientFn;
}

// The outer problem's fields around one of its evaluations.
struct OuterSwap {
    NlpProblem* p;
    double* funValues;
    int32_t nFunctions, leastSquares, maximize, derivDigits;
    double phase;
    double f;
    OuterSwap(NlpProblem* sub, const NlpProblem* o)
        : p(sub), funValues(sub->work.funValues), nFunctions(sub->shape.nFunctions), leastSquares(sub->shape.leastSquares),
          maximize(sub->shape.maximize), derivDigits(sub->opt.derivDigits), phase(sub->run.evalPhase), f(sub->iter.f) {
        p->work.funValues = o->work.funValues;
        p->shape.nFunctions = o->shape.nFunctions;
        p->shape.leastSquares = o->shape.leastSquares;
        p->shape.maximize = o->shape.maximize;
        p->opt.derivDigits = o->opt.derivDigits;
        p->run.evalPhase = kPhaseRun;
        p->run.evalStatus = 0.0;
    }
    ~OuterSwap() {
        p->work.funValues = funValues;
        p->shape.nFunctions = nFunctions;
        p->shape.leastSquares = leastSquares;
        p->shape.maximize = maximize;
        p->opt.derivDigits = derivDigits;
        p->run.evalPhase = phase;
        p->iter.f = f;
    }
};

// The outer objective and gradient at x: f into *f, the gradient into g.
// The sub-problem's own f is kept.
bool outer_values(NlpProblem* p, LimitWork* w, double* f, double* g) {
    OuterSwap swap(p, w->outer);
    p->run.lastEval = kLastObjective;
    if (outer_objective(w)(p) != 0 || p->run.evalStatus != 0.0 || !std::isfinite(p->iter.f)) return false;
    *f = p->iter.f;
    double* keep = p->work.gradient;
    p->work.gradient = g;
    p->run.lastEval = kLastGradient;
    const NlpCallback grad = outer_gradient(w);
    const bool ok = grad != nullptr && grad(p) == 0 && p->run.evalStatus == 0.0;
    p->work.gradient = keep;
    return ok;
}

// ---- the active set and its basis ----

double dot(const double* a, const double* b, size_t n) {
    double s = 0.0;
    for (size_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

// v less its projection on the orthonormal columns of `basis` (two passes
// of modified Gram-Schmidt, enough for orthogonality to rounding).
void outside(const std::vector<double>& basis, size_t n, std::vector<double>* v) {
    const size_t cols = basis.size() / n;
    for (int32_t pass = 0; pass < 2; ++pass)
        for (size_t c = 0; c < cols; ++c) {
            const double* q = basis.data() + c * n;
            const double a = dot(q, v->data(), n);
            for (size_t i = 0; i < n; ++i) (*v)[i] -= a * q[i];
        }
}

// Appends v's part outside `basis`, normalised, unless it is below `share`
// of |v|.  true when appended.
bool extend_basis(std::vector<double>* basis, size_t n, std::vector<double> v, double share) {
    const double before = std::sqrt(dot(v.data(), v.data(), n));
    outside(*basis, n, &v);
    const double after = std::sqrt(dot(v.data(), v.data(), n));
    if (!(after > share * before) || after == 0.0) return false;
    for (double& e : v) e /= after;
    basis->insert(basis->end(), v.begin(), v.end());
    return true;
}

int32_t outer_rows(const LimitWork* w) { return w->outer->shape.hasLinCon ? w->outer->shape.nLinCon : 0; }

// The outer problem's linear rows, dense, with their norms.
void load_rows(LimitWork* w) {
    const NlpProblem* o = w->outer;
    const size_t n = static_cast<size_t>(o->shape.nParams);
    const int32_t m = outer_rows(w);
    AugmentedActive& a = w->active;
    a.rows.assign(static_cast<size_t>(m) * n, 0.0);
    a.rowNorm.assign(static_cast<size_t>(m), 0.0);
    for (int32_t r = 0; r < m; ++r) {
        double* out = a.rows.data() + static_cast<size_t>(r) * n;
        if (o->shape.linRowsSparse) {
            for (int32_t e = r == 0 ? 0 : o->con.linRowEnd[r - 1]; e < o->con.linRowEnd[r]; ++e)
                out[o->con.linColIndex[e]] = o->con.linRows[e];
        } else {
            std::copy(o->con.linRows + static_cast<size_t>(r) * n, o->con.linRows + static_cast<size_t>(r + 1) * n, out);
        }
        a.rowNorm[static_cast<size_t>(r)] = std::sqrt(dot(out, out, n));
    }
}

// a x - b of outer row r (>= 0 when an inequality holds).
double row_slack(const LimitWork* w, const double* x, int32_t r) {
    const size_t n = w->xEst.size();
    return dot(w->active.rows.data() + static_cast<size_t>(r) * n, x, n) - w->outer->con.linRhs[r];
}

bool tight(double slack, double value) { return std::fabs(slack) <= kTight * (1.0 + std::fabs(value)); }

// The inward normals of e_k and the held constraints: e_k first, then the
// held rows, then the held bounds.
std::vector<std::vector<double>> held_normals(const LimitWork* w) {
    const size_t n = w->xEst.size();
    const AugmentedActive& a = w->active;
    std::vector<std::vector<double>> out(1, std::vector<double>(n, 0.0));
    out[0][static_cast<size_t>(w->k)] = 1.0;
    for (int32_t r : a.heldRow)
        out.emplace_back(a.rows.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(r) * n),
                         a.rows.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(r + 1) * n));
    for (size_t j = 0; j < a.heldParam.size(); ++j) {
        out.emplace_back(n, 0.0);
        out.back()[static_cast<size_t>(a.heldParam[j])] = a.heldSign[j];
    }
    return out;
}

std::vector<double> orthonormal(const std::vector<std::vector<double>>& vectors, size_t n) {
    std::vector<double> q;
    for (const auto& v : vectors) extend_basis(&q, n, v, kDependent);
    return q;
}

// Holds the rows that x breaks and, with tightToo, the bounds and rows it
// meets (every equality), when independent of those already held.  true
// when something was added.
bool hold(const double* x, LimitWork* w, bool tightToo) {
    AugmentedActive& a = w->active;
    const size_t n = w->xEst.size();
    std::vector<double> q = orthonormal(held_normals(w), n);
    bool added = false;
    const int32_t nEq = w->outer->shape.nLinEq;
    for (int32_t r = 0; r < outer_rows(w); ++r) {
        if (std::find(a.heldRow.begin(), a.heldRow.end(), r) != a.heldRow.end()) continue;
        const double slack = row_slack(w, x, r), rhs = w->outer->con.linRhs[r];
        const bool broken = (r < nEq || slack < 0.0) && !tight(slack, rhs);
        if (!broken && !(tightToo && (r < nEq || tight(slack, rhs)))) continue;
        std::vector<double> v(a.rows.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(r) * n),
                              a.rows.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(r + 1) * n));
        if (!extend_basis(&q, n, v, kDependent)) continue;
        a.heldRow.push_back(r);
        added = true;
    }
    for (size_t i = 0; tightToo && i < n; ++i) {
        if (static_cast<int32_t>(i) == w->k ||
            std::find(a.heldParam.begin(), a.heldParam.end(), static_cast<int32_t>(i)) != a.heldParam.end())
            continue;
        const double lo = w->lowerSaved[i], up = w->upperSaved[i];
        const double sign = lo > -DBL_MAX && tight(x[i] - lo, lo) ? 1.0 : up < DBL_MAX && tight(up - x[i], up) ? -1.0 : 0.0;
        std::vector<double> v(n, 0.0);
        v[i] = 1.0;
        if (sign == 0.0 || !extend_basis(&q, n, v, kDependent)) continue;
        a.heldParam.push_back(static_cast<int32_t>(i));
        a.heldSign.push_back(sign);
        added = true;
    }
    return added;
}

// Z: the orthonormal complement of e_k and the held normals, from the
// unit vectors.
void build_basis(LimitWork* w) {
    const size_t n = w->xEst.size();
    std::vector<double> all = orthonormal(held_normals(w), n);
    const size_t held = all.size() / n;
    for (size_t j = 0; j < n && all.size() < n * n; ++j) {
        std::vector<double> e(n, 0.0);
        e[j] = 1.0;
        // A unit vector has at least this part outside the span when it
        // adds a direction worth keeping.
        extend_basis(&all, n, e, 1e-3);
    }
    w->active.basis.assign(all.begin() + static_cast<std::ptrdiff_t>(held * n), all.end());
    w->active.nz = static_cast<int32_t>(w->active.basis.size() / n);
}

// Releases the held inequality (bound or row) whose multiplier at x,
// g'd / |d|^2 with d its normal outside the others', is most negative.
// g is the outer gradient at x.  true when one was released.
bool release_wrong_sign(LimitWork* w, const double* g) {
    AugmentedActive& a = w->active;
    const size_t n = w->xEst.size();
    const std::vector<std::vector<double>> normals = held_normals(w);
    double gmax = 1.0;
    for (size_t i = 0; i < n; ++i) gmax = std::fmax(gmax, std::fabs(g[i]));
    double worst = -kMultiplierTol * gmax;
    size_t pick = 0;
    const size_t nRows = a.heldRow.size();
    for (size_t c = 1; c < normals.size(); ++c) {
        if (c <= nRows && a.heldRow[c - 1] < w->outer->shape.nLinEq) continue;
        std::vector<std::vector<double>> others(normals);
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(c));
        std::vector<double> d(normals[c]);
        outside(orthonormal(others, n), n, &d);
        const double dd = dot(d.data(), d.data(), n);
        if (!(dd > kDependent * kDependent * dot(normals[c].data(), normals[c].data(), n))) continue;
        const double lambda = dot(g, d.data(), n) / dd;
        if (lambda < worst) worst = lambda, pick = c;
    }
    if (pick == 0) return false;
    if (pick <= nRows) {
        a.heldRow.erase(a.heldRow.begin() + static_cast<std::ptrdiff_t>(pick - 1));
    } else {
        a.heldParam.erase(a.heldParam.begin() + static_cast<std::ptrdiff_t>(pick - 1 - nRows));
        a.heldSign.erase(a.heldSign.begin() + static_cast<std::ptrdiff_t>(pick - 1 - nRows));
    }
    return true;
}

// ---- the sub-problem's callbacks ----

// The Jacobian of r at x into w->jac (n x n, row-major): D Z' times the
// Hessian by forward differences of the outer gradient (columns of held
// parameters, fixed in the sub-problem, left 0), the row D g' from
// w->gOuter of the last fplc call at x, and the held rows.  Kept for the
// Hessian call at the same x.
bool jacobian(NlpProblem* p, LimitWork* w) {
    const int32_t n = p->shape.nParams;
    const size_t nn = static_cast<size_t>(n);
    if (w->jacX.size() == nn && std::equal(w->jacX.begin(), w->jacX.end(), p->param.x)) return true;
    const AugmentedActive& a = w->active;
    const double d = w->devianceScale, eta = std::sqrt(2.0 * velix::kMachEps);
    std::vector<double> h(nn * nn, 0.0), g(nn);  // h[i n + j] = dg_i/dx_j
    w->jacX.clear();
    double f = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        if (std::find(a.heldParam.begin(), a.heldParam.end(), j) != a.heldParam.end()) continue;
        const double xj = p->param.x[j], step = eta * (1.0 + std::fabs(xj));
        p->param.x[j] = xj + step;
        const bool ok = outer_values(p, w, &f, g.data());
        p->param.x[j] = xj;
        if (!ok) return false;
        for (size_t i = 0; i < nn; ++i) h[i * nn + static_cast<size_t>(j)] = (g[i] - w->gOuter[i]) / step;
    }
    w->jac.assign(nn * nn, 0.0);
    const size_t nz = static_cast<size_t>(a.nz);
    for (size_t c = 0; c < nz; ++c) {
        const double* zc = a.basis.data() + c * nn;
        double* row = w->jac.data() + c * nn;
        for (size_t i = 0; i < nn; ++i) {
            if (zc[i] == 0.0) continue;
            for (size_t j = 0; j < nn; ++j) row[j] += d * zc[i] * h[i * nn + j];
        }
    }
    for (size_t j = 0; j < nn; ++j) w->jac[nz * nn + j] = d * w->gOuter[j];
    for (size_t m = 0; m < a.heldRow.size(); ++m) {
        const size_t r = static_cast<size_t>(a.heldRow[m]);
        for (size_t j = 0; j < nn; ++j)
            w->jac[(nz + 1 + m) * nn + j] = kRowWeight * a.rows[r * nn + j] / a.rowNorm[r];
    }
    w->jacX.assign(p->param.x, p->param.x + n);
    return true;
}

// The sub-problem's objective: r and 1/2 |r|^2.
int32_t fplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (++w->callsF > p->opt.maxFunc) return -1;
    double f = 0.0;
    w->jacX.clear();
    if (!outer_values(p, w, &f, w->gOuter.data())) {
        p->iter.f = DBL_MAX;
        return -3;
    }
    const AugmentedActive& a = w->active;
    const size_t nn = static_cast<size_t>(p->shape.nParams), nz = static_cast<size_t>(a.nz);
    std::fill(w->r.begin(), w->r.end(), 0.0);
    for (size_t c = 0; c < nz; ++c) w->r[c] = w->devianceScale * dot(a.basis.data() + c * nn, w->gOuter.data(), nn);
    w->r[nz] = w->devianceScale * f - w->target;
    for (size_t m = 0; m < a.heldRow.size(); ++m) {
        const int32_t r = a.heldRow[m];
        w->r[nz + 1 + m] = kRowWeight * row_slack(w, p->param.x, r) / a.rowNorm[static_cast<size_t>(r)];
    }
    p->iter.f = 0.5 * dot(w->r.data(), w->r.data(), nn);
    return 0;
}

// The sub-problem's gradient J'r.
int32_t gplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (!jacobian(p, w)) {
        p->iter.f = DBL_MAX;
        return -3;
    }
    const int32_t n = p->shape.nParams;
    for (int32_t j = 0; j < n; ++j) {
        double s = 0.0;
        for (int32_t i = 0; i < n; ++i) s += w->jac[static_cast<size_t>(i) * n + j] * w->r[static_cast<size_t>(i)];
        p->work.gradient[j] = s;
    }
    return 0;
}

// The sub-problem's Gauss-Newton matrix J'J, packed.
int32_t hplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    if (!jacobian(p, w)) {
        p->iter.f = DBL_MAX;
        return -3;
    }
    const int32_t n = p->shape.nParams;
    for (int32_t a = 0; a < n; ++a)
        for (int32_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (int32_t i = 0; i < n; ++i) s += w->jac[static_cast<size_t>(i) * n + a] * w->jac[static_cast<size_t>(i) * n + b];
            p->hess.hessian[pk(a, b)] = s;
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
    const int32_t n = p->shape.nParams;
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
        std::copy(best.begin(), best.end(), p->param.x);
        return;
    }
    const int32_t k = w->k;
    const double est = w->xEst[static_cast<size_t>(k)], sign = w->side == 0 ? -1.0 : 1.0;
    const double se = w->haveStdErrors ? w->stdErrors[static_cast<size_t>(k)] : 0.1 * std::fmax(std::fabs(est), 1.0);
    std::copy(w->xEst.begin(), w->xEst.end(), p->param.x);
    p->param.x[k] = est + sign * zprobit(1.0 - 0.5 * w->levels.back().alpha) * se;
    const double bound = w->side == 0 ? w->lowerSaved[static_cast<size_t>(k)] : w->upperSaved[static_cast<size_t>(k)];
    if (sign * (p->param.x[k] - bound) > 0.0) p->param.x[k] = est + 0.75 * (bound - est);
}

// The sub-problem's fields over the outer problem (the driver restores it).
void sub_problem(NlpProblem* p, LimitWork* w) {
    const ProfileSettings* ps = p->hooks->plSettings;
    const int32_t n = p->shape.nParams;
    p->opt.technique = w->technique;
    p->shape.nFunctions = n;
    p->work.funValues = w->r.data();
    p->fd.funWork = w->funWork.data();
    p->opt.printLevel = ps->printLimits > 1 ? 2.0 : 0.0;
    p->shape.maximize = 0;
    p->shape.leastSquares = 1;
    p->shape.scalarObjective = 0;
    p->opt.update = kUpdateBfgs;
    p->opt.scalingKind = w->technique == kTechLevmar ? 1 : 0;
    p->shape.hasBounds = 1;
    // The held rows are residuals; the others are checked after a solve.
    p->shape.hasLinCon = 0;
    p->shape.nLinCon = p->shape.nLinEq = 0;
    p->opt.lineSearch = 2;
    p->opt.stepCap = 1.0;
    p->opt.earlyStepCap = DBL_MAX;
    p->opt.inStep = missing();
    p->opt.lsPrecision = 0.4;
    p->opt.singularTol = 1e-8;
    p->opt.perturbSize = missing();
    p->opt.derivDigits = 0;
    p->opt.fDigits = p->opt.cDigits = -std::log10(2.0 * velix::kMachEpsWritten);
    p->opt.maxIter = w->maxIter;
    p->opt.maxFunc = 10.0 * w->maxIter * 2.0 * n;
    p->opt.absConv = kSubAbsConv;
    p->opt.absGConv = kSubAbsGConv;
    p->opt.gConv = kSubGConv;
    p->opt.absFConv = p->opt.fConv = p->opt.fConv2 = p->opt.absXConv = p->opt.xConv = p->opt.gConv2 = p->opt.fSize = p->opt.xSize = 0.0;
    // The owner's information matrix belongs to the outer objective: no
    // claim of the augmented system is measured with it (a solve judges
    // its residual itself).
    p->opt.presetCriteria = 0;
    p->opt.claimsUnchecked = 1;
    p->opt.minIter = 0;
    p->cb.objectiveFn = fplc;
    p->cb.gradientFn = gplc;
    p->cb.hessianFn = hplc;
    p->opt.hessianStorage = 0;
    p->cb.terminationFn = znlptrm;
    p->cb.updateFn = znlpbfg;
    p->cb.lineSearchFn = znlp_line_search(2);
    p->cb.iterOutputHook = nullptr;
    p->cb.residualJacobianFn = nullptr;
}

}  // namespace

namespace {

// The bounds of a round: the saved ones, parameter k on the searched side
// of its estimate, the held parameters fixed at their bounds.
void round_bounds(NlpProblem* p, const LimitWork* w) {
    const int32_t n = p->shape.nParams, k = w->k;
    std::copy(w->lowerSaved.begin(), w->lowerSaved.end(), p->param.lower);
    std::copy(w->upperSaved.begin(), w->upperSaved.end(), p->param.upper);
    std::copy(w->stateSaved.begin(), w->stateSaved.begin() + n, p->active.boundState);
    if (w->side == 0)
        p->param.upper[k] = w->xEst[static_cast<size_t>(k)];
    else
        p->param.lower[k] = w->xEst[static_cast<size_t>(k)];
    const AugmentedActive& a = w->active;
    for (size_t j = 0; j < a.heldParam.size(); ++j) {
        const size_t i = static_cast<size_t>(a.heldParam[j]);
        const double b = a.heldSign[j] > 0.0 ? w->lowerSaved[i] : w->upperSaved[i];
        p->param.x[i] = p->param.lower[i] = p->param.upper[i] = b;
        p->active.boundState[i] = 2;
    }
}

// One solve of the augmented system for target t from the best start,
// with its rounds of the active set.  true when its residual is small;
// the solution is then w->solved.  The problem is given back as `before`
// (and x as it was).
bool solve(NlpProblem* p, LimitWork* w, double t, const NlpProblem& before) {
    const int32_t k = w->k, n = p->shape.nParams;
    const int32_t lsqStorage = p->hooks->cov.lsqHessStorage;
    std::vector<int32_t> counts;
    if (p->opt.critCounts != nullptr) counts.assign(p->opt.critCounts, p->opt.critCounts + 20);
    w->target = t;
    sub_problem(p, w);
    p->hooks->cov.lsqHessStorage = 0;
    gtinit(p, w, t);
    AugmentedActive& a = w->active;
    a.heldParam.clear();
    a.heldSign.clear();
    a.heldRow.clear();
    hold(p->param.x, w, true);
    bool ok = false;
    for (int32_t round = 0; round < kActiveRounds && !ok; ++round) {
        round_bounds(p, w);
        build_basis(w);
        w->callsF = 0;
        w->jacX.clear();
        const bool solved = doopt(p, 0, k) >= 0 && p->iter.f <= kAccept;
        bool changed = false;
        if (solved) {
            // A solution is a limit when it keeps every row and each held
            // inequality's multiplier has its sign.
            std::vector<double> g(static_cast<size_t>(n));
            double f = 0.0;
            changed = hold(p->param.x, w, false) || (outer_values(p, w, &f, g.data()) && release_wrong_sign(w, g.data()));
        } else {
            changed = hold(p->param.x, w, true);
        }
        ok = solved && !changed;
        if (!changed) break;
    }
    if (ok) {
        w->solved.assign(p->param.x, p->param.x + n);
        w->solvedValue = t;
    }
    *p = before;
    p->hooks->cov.lsqHessStorage = lsqStorage;
    if (!counts.empty()) std::copy(counts.begin(), counts.end(), p->opt.critCounts);
    restore_point(p, w);
    return ok;
}

}  // namespace

int32_t znlpplc(NlpProblem* p) {
    LimitWork* w = work_of(p);
    const size_t n = static_cast<size_t>(p->shape.nParams);
    w->r.assign(n, 0.0);
    w->funWork.assign(3 * n, 0.0);
    w->gOuter.assign(n, 0.0);
    w->solved.clear();
    load_rows(w);
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
                    std::copy(w->solved.begin(), w->solved.end(), p->param.x);
                    write_limit(w, p, kLimitFound, static_cast<int32_t>(l), p->param.x[w->k], t, p->param.x);
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
