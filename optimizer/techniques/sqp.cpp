// QUANEW with nonlinear constraints (znlpdq2; both QUANEW forms given
// them) and VMCWD: sequential quadratic programming with a damped BFGS
// approximation of the Lagrange function's Hessian and a line search on the L1 merit function (Han, 1977; Powell,
// A fast algorithm for nonlinearly constrained optimization calculations,
// 1978; Nocedal and Wright, Numerical Optimization, 2nd ed., 2006, sec.
// 18.3 and 18.4).  Each iteration
//   1. linearises the nonlinear constraints, the linear rows and the bounds
//      at x and solves the quadratic program min g'd + d'B d / 2 over them
//      (the dual method of dual_qp.h; in the structured form in variables
//      scaled by the square roots of B's diagonal); inconsistent linearisations of the
//      violated nonlinear constraints are relaxed towards x (their values
//      halved, at most six times, and at last dropped: a constraint whose
//      gradient vanishes at x, such as l*l >= 0.5 at l = 0, cannot be
//      met by any step, and the step on f moves x off that point);
//   2. raises the penalty weights mu_i >= |lambda_i| (Powell's rule
//      mu_i = max(|lambda_i|, (mu_i + |lambda_i|) / 2));
//   3. searches along d for a sufficient decrease of
//      phi(x) = f(x) + sum mu_i violation_i(x) by backtracking with
//      quadratic interpolation from the largest share of d, at most 1, that
//      changes no parameter by more than 0.9 max(|x_j|, 1) (the watchdog
//      of vmcwd.cpp first tries that step);
//   4. updates B with the change of the Lagrange gradient, damped so that B
//      stays positive definite (Powell, 1978);
//   5. solves the next program, whose multipliers and step give the
//      measures the termination test reads.
// Where the problem has a cross product J'WJ in its Hessian slot (a
// cross-product slot in its hook block), B is instead M(x), the slot's
// matrix at each point, its diagonal raised by a Levenberg share of M's
// that follows the merit's actual against predicted reduction (More,
// 1978).  A BFGS matrix learnt from the identity takes far too many steps
// from a far start, where variances and loadings differ in curvature by
// orders; J'WJ carries that curvature at every point, as it does for
// LEVMAR.  The constraints' curvature -sum lambda_i grad^2 c_i is left
// out: learnt by symmetric rank-one updates and added to M, it gained no
// run of the NLINCON sweep (bench/nlincon_sweep.py), lost three of 231 and
// took more iterations; learning the objective's curvature beyond M too
// led far starts into improper regions more often.
//
// Reads: x, f, gradient, conValues, conJacobian (slots), bounds, linRows
// (dense or compressed; equalities first), linRhs, nNlinEq, inHessian,
// stepLimit.  Leaves: x, f, gradient, conValues, conJacobian, xBase,
// gradBase, fPrev, direction, lastStep, lagrangeGradient (when given),
// lagrangeGradMax and maxProjGrad (its largest element), lagrangeValue,
// maxConViolation, gconvMeasure (the merit's predicted reduction by the
// next step), boundState, freeList, activeList, nActiveBounds, nActiveLin
// (the active linear and nonlinear constraints), nActiveNlin,
// multipliers (bounds first, then the active rows), iteration and the
// counters.  Statuses: those of the termination test, kNlpTechniqueStop6
// when the quadratic program has no solution even relaxed,
// kNlpTechniqueStop7 after a failed line search, kNlpFinalFunction when
// the objective or the constraint values failed at the point the run is
// at, kNlpFinalDerivative when the gradient or the constraint Jacobian
// did, kNlpNotUsable without work space.
#include "optimizer/techniques/sqp.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "host/fields.h"
#include "optimizer/core/core.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/techniques/dual_qp.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {

// Share of the merit's slope a step must gain (Armijo).
constexpr double kArmijo = 0.1;
// Powell's damping: s'y is kept at least this share of s'Bs.
constexpr double kDamping = 0.2;
// Backtracking: at most this many trials, each at least this share of the last.
constexpr int32_t kMaxTrials = 40;
constexpr double kShrinkFloor = 0.1;
// Halvings of the violated nonlinear constraints' values before the last
// try, which asks only that they grow no further to first order.
constexpr int32_t kMaxRelaxations = 6;
// The structured form: the first share of M's diagonal added when B does
// not factor, the floor of that diagonal against its largest element, and
// the factor's pivot tolerance.
constexpr double kFirstShift = 1e-6;
constexpr double kDiagFloor = 1e-8;
constexpr double kFactorTol = 1e-10;
// The Levenberg share: the smallest share it is raised to from 0 (a
// thousandth of M's diagonal bends a step that M barely curves, and is lost
// in the rounding of the steps it leaves alone), and the largest past
// which a failed search ends the run instead of raising it once more.
constexpr double kNuFloor = 1e-3;
constexpr double kNuMax = 1e6;
// A step changes no parameter by more than this share of its size, or of
// the typical size 1 where it is smaller (Dennis and Schnabel, 1983, sec.
// 7.1): a variance cannot go to zero or through it, nor a loading of 0.1
// to -27, in one step.  Such steps are what lead a far start into an
// improper region (a factor variance at 0 and its loadings beyond any
// bound) that the run never leaves.
constexpr double kRelStep = 0.9;
constexpr double kTypicalSize = 1.0;
// A first trial that the step cap cuts below this share of the program's
// step counts as a failure of the model, as a step outside a trust region
// would: the step is then mostly the move along a direction that M barely
// curves, and shortening it keeps that direction where a larger share of
// the diagonal bends it towards the gradient.
constexpr double kCapFail = 0.1;

enum RowKind : int32_t { kNonlinear = 0, kLinear = 1, kLower = 2, kUpper = 3 };

struct Sqp {
    Frame* fr = nullptr;
    NlpProblem* p = nullptr;
    int32_t n = 0, m = 0, meq = 0;
    double* hess = nullptr;   // B, packed
    double* rows = nullptr;   // the linearised constraints (m x n)
    double* b = nullptr;      // their values at x
    double* lam = nullptr;    // multipliers of the last program
    double* mu = nullptr;     // penalty weights
    double* d = nullptr;      // the last program's step
    double* gl = nullptr;     // g - A'lambda at x
    double* qpWork = nullptr;
    double* s = nullptr;      // update pair and work
    double* y = nullptr;
    double* bs = nullptr;
    int32_t* kind = nullptr;  // RowKind of each row
    int32_t* src = nullptr;   // its constraint, linear row or parameter
    int32_t* act = nullptr;   // active at the program's solution
    double relax = 1.0;       // the factor of the violated nonlinear values in the last program
    bool fresh = true;        // B is the start matrix
    // The structured form (a Hessian slot installed): B = M(x), the slot's
    // matrix at x, with a share of its diagonal.
    bool structured = false;
    double* slot = nullptr;   // M at xSlot, packed
    double* xSlot = nullptr;  // the point of M
    double* lwork = nullptr;  // a factor's work, packed
    // The program in the variables d_j / sc_j, sc_j = 1 / sqrt(B_jj): J'WJ
    // of parameters whose sizes differ by orders (a variable in units of
    // 1e-3: its variance near 1e-6, the loadings on its factor near 1e3) has
    // diagonal elements 1e12 apart, and the dual method then stops for
    // rounding (kQpNoProgress) where the scaled program has a unit diagonal.
    double* sc = nullptr;
    double* hs = nullptr;     // sc B sc, packed
    double* as = nullptr;     // the rows times sc (m x n)
    double* cs = nullptr;     // sc g
    bool slotValid = false;
    double nu = 0.0;          // the Levenberg share of M's diagonal added to B
    double predicted = 0.0;   // the merit's reduction the model predicts for the first trial step
    double ratio = 1.0;       // the first trial step's reduction against it
    double first = 1.0;       // the share of d of the first trial step
    double violations = 0.0;  // the sum of the violations at x

    const double* row(int32_t i) const { return rows + static_cast<int64_t>(i) * n; }

    void add_row(int32_t k, int32_t source) {
        kind[m] = k;
        src[m] = source;
        ++m;
    }

    // Equalities first (nonlinear, then linear), then the inequalities and
    // the finite bounds.
    void layout() {
        m = 0;
        for (int32_t j = 0; p->shape.hasNlinCon && j < p->shape.nNlinEq; ++j) add_row(kNonlinear, j);
        for (int32_t k = 0; p->shape.hasLinCon && k < p->shape.nLinEq; ++k) add_row(kLinear, k);
        meq = m;
        for (int32_t j = p->shape.nNlinEq; p->shape.hasNlinCon && j < p->shape.nNlinCon; ++j) add_row(kNonlinear, j);
        for (int32_t k = p->shape.nLinEq; p->shape.hasLinCon && k < p->shape.nLinCon; ++k) add_row(kLinear, k);
        for (int32_t j = 0; fr->bounded && j < n; ++j) {
            if (p->param.lower[j] > -DBL_MAX) add_row(kLower, j);
            if (p->param.upper[j] < DBL_MAX) add_row(kUpper, j);
        }
    }

    // The rows at x: the nonlinear ones from conJacobian (the others do not
    // change) and every value.
    void build(bool all) {
        for (int32_t i = 0; i < m; ++i) {
            double* r = rows + static_cast<int64_t>(i) * n;
            const int32_t j = src[i];
            switch (kind[i]) {
                case kNonlinear:
                    copy(n, p->con.conJacobian + static_cast<int64_t>(j) * n, r);
                    break;
                case kLinear:
                    if (all) stored_row(p, j, r);
                    break;
                default:
                    if (all)
                        for (int32_t e = 0; e < n; ++e) r[e] = e == j ? (kind[i] == kLower ? 1.0 : -1.0) : 0.0;
            }
        }
        values();
    }

    void values() {
        for (int32_t i = 0; i < m; ++i) {
            const int32_t j = src[i];
            switch (kind[i]) {
                case kNonlinear: b[i] = p->con.conValues[j]; break;
                case kLinear: b[i] = dot(n, row(i), p->param.x) - p->con.linRhs[j]; break;
                case kLower: b[i] = p->param.x[j] - p->param.lower[j]; break;
                default: b[i] = p->param.upper[j] - p->param.x[j];
            }
        }
    }

    // x := base + alpha d, kept within the bounds against rounding (the
    // program's step meets them to its tolerance only).
    void move(const double* base, double alpha, const double* dir) {
        for (int32_t j = 0; j < n; ++j) {
            double v = base[j] + alpha * dir[j];
            if (fr->bounded) v = std::fmin(std::fmax(v, p->param.lower[j]), p->param.upper[j]);
            p->param.x[j] = v;
        }
    }

    // The largest share of d, at most 1, along which no parameter changes
    // by more than kRelStep times max(|x_j|, kTypicalSize).
    double step_cap() const {
        double t = 1.0;
        for (int32_t j = 0; j < n; ++j) {
            const double lim = kRelStep * std::fmax(std::fabs(p->param.x[j]), kTypicalSize);
            if (std::fabs(d[j]) * t > lim) t = lim / std::fabs(d[j]);
        }
        return t;
    }

    // The share of d of the first trial step at xBase (the step cap's, and
    // STEPLIMIT's), with the reduction the model predicts for it.
    double first_trial() {
        first = step_cap();
        const double dn = max_abs(n, d);
        if (!wzmis(p->opt.stepLimit) && p->opt.stepLimit > 0.0 && dn * first > p->opt.stepLimit) first = p->opt.stepLimit / dn;
        if (structured) predicted = predicted_reduction(first);
        return first;
    }

    double violation(int32_t i) const { return i < meq ? std::fabs(b[i]) : std::fmax(0.0, -b[i]); }

    // Row i holds at x as an equality: its value is within the
    // feasibility tolerance of the round, at most 1e-3 (relative to the
    // right-hand side or bound of a linear row or a bound, absolute for a
    // nonlinear constraint, as the feasibility check takes them).  A row
    // the program holds that x has not reached is the next step's: counted
    // at x, a violated equality or an inequality still away from its limit
    // made "every parameter fixed" end runs at points that are no solution.
    bool tight(int32_t i) const {
        const double t = std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3);
        if (kind[i] == kNonlinear) return std::fabs(b[i]) <= t;
        const int32_t j = src[i];
        const double size = kind[i] == kLinear ? p->con.linRhs[j]
                            : kind[i] == kLower ? p->param.lower[j]
                            : kind[i] == kUpper ? p->param.upper[j]
                                                : 0.0;
        return std::fabs(b[i]) <= t * (1.0 + std::fabs(size));
    }

    double merit(const double* weights) const {
        double phi = p->iter.f;
        for (int32_t i = 0; i < m; ++i) phi += weights[i] * violation(i);
        return phi;
    }

    // ---- evaluations (phase 4) ----
    bool constraint_values() {
        if (!p->shape.hasNlinCon || p->cb.conValuesFn == nullptr) return true;
        p->run.evalPhase = kPhaseRun;
        p->run.evalStatus = 0.0;
        fr->evaluated = kLastObjective;
        return p->cb.conValuesFn(p) == 0 && p->run.evalStatus == 0.0;
    }
    bool constraint_jacobian() {
        if (!p->shape.hasNlinCon) return true;
        p->run.evalPhase = kPhaseRun;
        p->run.evalStatus = 0.0;
        fr->evaluated = kLastGradient;
        const int32_t r = p->cb.conJacobianFn != nullptr ? p->cb.conJacobianFn(p) : znlpfcj(p);
        p->run.evalPhase = kPhaseRun;
        return r == 0 && p->run.evalStatus == 0.0;
    }
    // f and the constraint values at x, with the rows' values.
    bool point() {
        if (!fr->objective() || !constraint_values()) return false;
        values();
        return true;
    }
    bool derivatives() {
        if (!fr->gradient() || !constraint_jacobian()) return false;
        build(false);
        return true;
    }

    // out := g - A' weights.
    void lagrange_gradient(const double* weights, double* out) const {
        copy(n, p->work.gradient, out);
        for (int32_t i = 0; i < m; ++i)
            if (weights[i] != 0.0) axpy(n, -weights[i], row(i), out);
    }

    // Step 1 and 2: the program at x, the penalty weights and g - A'lambda.
    // The scaled program's matrix, rows and linear term.
    void scale_program() {
        for (int32_t j = 0; j < n; ++j) {
            sc[j] = 1.0 / std::sqrt(hess[pk_lower(j, j)]);
            cs[j] = sc[j] * p->work.gradient[j];
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) hs[pk_lower(i, j)] = sc[i] * hess[pk_lower(i, j)] * sc[j];
        for (int64_t e = 0; e < static_cast<int64_t>(m) * n; ++e) as[e] = rows[e] * sc[e % n];
    }

    int32_t program() {
        if (structured && !assemble()) return kQpNotConvex;
        if (structured) scale_program();
        DualQp qp;
        qp.n = n;
        qp.m = m;
        qp.meq = meq;
        qp.g = structured ? hs : hess;
        qp.c = structured ? cs : p->work.gradient;
        qp.a = structured ? as : rows;
        qp.d = d;
        qp.lambda = lam;
        qp.active = act;
        // The relaxed values go into a copy.
        double* relaxed = y;
        qp.b = relaxed;
        relax = 1.0;
        int32_t status = kQpInfeasible;
        for (int32_t round = 0; round <= kMaxRelaxations + 1; ++round) {
            if (round > kMaxRelaxations) relax = 0.0;
            for (int32_t i = 0; i < m; ++i)
                relaxed[i] = kind[i] == kNonlinear && violation(i) > 0.0 ? relax * b[i] : b[i];
            status = qp.solve(qpWork);
            if (status != kQpInfeasible) break;
            relax *= 0.5;
        }
        if (status != kQpSolved) return status;
        for (int32_t j = 0; structured && j < n; ++j) d[j] *= sc[j];
        for (int32_t i = 0; i < m; ++i) {
            const double l = std::fabs(lam[i]);
            mu[i] = std::fmax(l, 0.5 * (mu[i] + l));
        }
        lagrange_gradient(lam, gl);
        return kQpSolved;
    }

    // The merit's directional derivative along d (each violation falls at
    // the rate its linearisation promises: relaxed ones by `relax`).
    double slope(const double* weights) const {
        double D = dot(n, p->work.gradient, d);
        for (int32_t i = 0; i < m; ++i) D -= weights[i] * (kind[i] == kNonlinear ? relax : 1.0) * violation(i);
        return D;
    }

    // Step 4: the damped BFGS update with s = x - xBase and y given (the
    // structured form learns nothing: M is taken anew at each point).
    void update(double* yv) {
        if (structured) return;
        for (int32_t j = 0; j < n; ++j) s[j] = p->param.x[j] - p->work.xBase[j];
        double sy = dot(n, s, yv);
        if (fresh) {
            // The first update scales the start matrix to the curvature seen.
            const double yy = dot(n, yv, yv);
            if (sy > 0.0 && yy > 0.0 && (wzmis(p->opt.inHessian) || !(p->opt.inHessian > 0.0))) set_identity(n, yy / sy, hess);
        }
        sym_mul(n, hess, s, bs);
        const double sbs = dot(n, s, bs);
        if (!(sbs > 0.0)) return;
        if (sy < kDamping * sbs) {
            const double theta = (1.0 - kDamping) * sbs / (sbs - sy);
            for (int32_t j = 0; j < n; ++j) yv[j] = theta * yv[j] + (1.0 - theta) * bs[j];
            sy = dot(n, s, yv);
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) hess[pk_lower(i, j)] += yv[i] * yv[j] / sy - bs[i] * bs[j] / sbs;
        fresh = false;
        p->run.nUpdates += 1;
    }

    void reset_matrix() {
        fresh = true;
        if (structured) return;
        const double h = wzmis(p->opt.inHessian) || !(p->opt.inHessian > 0.0) ? 1.0 : p->opt.inHessian;
        set_identity(n, h, hess);
    }

    // M at x, evaluated once per point.
    bool slot_matrix() {
        if (slotValid && std::equal(xSlot, xSlot + n, p->param.x)) return true;
        if (!fr->hessian()) return false;
        fr->gather_hessian(slot, true);
        copy(n, p->param.x, xSlot);
        slotValid = true;
        return true;
    }

    // B := M, its diagonal raised by shares of M's (a share ten times the
    // last) until B factors well: M may be singular (a parameter that the
    // moments do not determine at x), and the program needs B positive
    // definite.
    bool assemble() {
        if (!slot_matrix()) return false;
        const int64_t np = static_cast<int64_t>(n) * (n + 1) / 2;
        double big = 0.0;
        for (int32_t i = 0; i < n; ++i) big = std::fmax(big, std::fabs(slot[pk_lower(i, i)]));
        if (!(big > 0.0)) big = 1.0;
        for (double share = nu; share < 1e12; share = std::fmax(10.0 * share, kFirstShift)) {
            std::copy(slot, slot + np, hess);
            for (int32_t i = 0; i < n; ++i) hess[pk_lower(i, i)] += share * std::fmax(std::fabs(slot[pk_lower(i, i)]), kDiagFloor * big);
            if (cholesky(n, hess, 0.0, kFactorTol, lwork)) return true;
        }
        return false;
    }

    // The Levenberg share after a step of length alpha along the program's
    // step, whose first trial was alpha0 (1, or the share step_cap allows):
    // raised when that trial gained less than a quarter of the predicted
    // reduction, was cut, or was capped below kCapFail, shrunk when it
    // gained more than three quarters, so that the steps stay where the
    // model holds (as a trust region would keep them).  Where M is nearly
    // singular along a valley (the wheaton COSAN model under b1 b2 >= -0.5
    // from its default start) the share alone swung between 0 and the
    // floor, every other step cut to a tenth, 108 to 366 iterations; the
    // capped steps that led there now raise it, 31 to 55.
    void adapt(double alpha, double alpha0) {
        if (!structured) return;
        if (ratio < 0.25 || alpha < alpha0 || alpha0 < kCapFail)
            nu = std::fmax(4.0 * nu, kNuFloor);
        else if (ratio > 0.75)
            nu = nu < 2.0 * kNuFloor ? 0.0 : nu / 3.0;
    }

    // The merit's reduction the program's model predicts for the step
    // alpha d: the quadratic's and the violations' that the linearisation
    // removes (at xBase, before the step is taken).
    double predicted_reduction(double alpha) {
        sym_mul(n, hess, d, lwork);
        double pred = -alpha * dot(n, p->work.gradient, d) - 0.5 * alpha * alpha * dot(n, d, lwork);
        for (int32_t i = 0; i < m; ++i) {
            const double lin = b[i] + alpha * dot(n, row(i), d);
            pred += mu[i] * (violation(i) - (i < meq ? std::fabs(lin) : std::fmax(0.0, -lin)));
        }
        return pred;
    }

    // Row i is active at the program's solution and at x.
    bool held(int32_t i) const { return act[i] == 1 && tight(i); }

    // The measures the termination test and the history read, and the
    // active set the results print.
    void publish() {
        double lv = p->iter.f, viol = 0.0;
        for (int32_t i = 0; i < m; ++i) {
            lv -= lam[i] * b[i];
            viol = std::fmax(viol, violation(i));
        }
        p->iter.lagrangeValue = lv;
        p->iter.lagrangeGradMax = max_abs(n, gl);
        p->iter.maxProjGrad = p->iter.lagrangeGradMax;
        if (p->work.lagrangeGradient != nullptr) copy(n, gl, p->work.lagrangeGradient);
        p->iter.maxConViolation = viol;
        // The predicted change: the objective's along d and the violations
        // weighted by at least 1 (apart, so that they cannot cancel, and
        // counted where a multiplier vanishes).
        double pred = std::fabs(dot(n, p->work.gradient, d));
        violations = 0.0;
        for (int32_t i = 0; i < m; ++i) {
            pred += std::fmax(mu[i], 1.0) * violation(i);
            violations += violation(i);
        }
        p->iter.gconvMeasure = pred;
        for (int32_t j = 0; j < n; ++j) p->active.boundState[j] = 0;
        int32_t nb = 0;
        // Equalities the active rows imply (act 2) stay out of the lists,
        // as a dependent row does; so do the program's active rows that x
        // does not meet as equalities (see tight).
        for (int32_t i = 0; i < m; ++i)
            if (held(i) && kind[i] >= kLower) {
                const int32_t j = src[i];
                p->active.boundState[j] = p->param.lower[j] == p->param.upper[j] ? 2 : kind[i] == kLower ? 1 : -1;
                ++nb;
            }
        p->active.nActiveBounds = nb;
        znlpinc(p, 0);
        int32_t* atBound = p->active.freeList + (n - nb);
        for (int32_t k = 0; p->active.multipliers != nullptr && k < nb; ++k)
            for (int32_t i = 0; i < m; ++i)
                if (held(i) && kind[i] >= kLower && src[i] == atBound[k]) p->active.multipliers[k] = lam[i];
        int32_t nl = 0, nn = 0;
        for (int32_t i = 0; i < m; ++i) {
            if (!held(i) || kind[i] >= kLower) continue;
            if (p->active.activeList != nullptr) p->active.activeList[nl] = kind[i] == kLinear ? src[i] : p->shape.nLinCon + src[i];
            if (p->active.multipliers != nullptr) p->active.multipliers[nb + nl] = lam[i];
            ++nl;
            if (kind[i] == kNonlinear) ++nn;
        }
        p->active.nActiveLin = nl;
        p->active.nActiveNlin = nn;
    }
};

// Step 3: backtracking on the merit function from xBase along d.  0, 1
// when no step gained, -1 when the derivatives failed at the new point.
int32_t merit_search(Sqp* q) {
    NlpProblem* p = q->p;
    const int32_t n = q->n;
    const double phi0 = q->merit(q->mu), D = q->slope(q->mu);
    if (!(D < 0.0)) return 1;
    const double dn = max_abs(n, q->d);
    double alpha = q->first_trial();
    p->run.nLineSearches += 1;
    for (int32_t trial = 0; trial < kMaxTrials; ++trial) {
        q->move(p->work.xBase, alpha, q->d);
        const bool ok = q->point();
        const double phi = ok ? q->merit(q->mu) : HUGE_VAL;
        if (trial == 0) q->ratio = (phi0 - phi) / q->predicted;
        if (ok && phi <= phi0 + kArmijo * alpha * D) {
            p->iter.lastStep = alpha;
            return q->derivatives() ? 0 : -1;
        }
        // The minimum of the quadratic through phi0, D and phi(alpha), kept
        // within [0.1, 0.5] of alpha (a failed evaluation: a tenth).
        double next = kShrinkFloor * alpha;
        if (ok) {
            const double curv = phi - phi0 - alpha * D;
            if (curv > 0.0) next = std::fmax(next, std::fmin(0.5 * alpha, -D * alpha * alpha / (2.0 * curv)));
        }
        alpha = next;
        if (alpha * dn <= 1e-15 * (1.0 + max_abs(n, p->work.xBase))) break;
    }
    copy(n, p->work.xBase, p->param.x);
    p->iter.f = p->iter.fPrev;
    if (!q->point()) return -1;
    return 1;
}

// The saved state of an iteration's start for the watchdog's way back.
struct Saved {
    double *d, *mu, *lam, *gl;
    double relax;
};

// The watchdog's try: the full step (as far as the step cap allows) and,
// when it raises the merit, one more such step from there.  1 when the try was kept (its point
// evaluated, the program solved and B updated), 0 when the run goes back
// to xBase (everything there restored, the line search follows), -1 after
// failed derivatives.
int32_t watchdog_try(Sqp* q, const Saved& sv) {
    NlpProblem* p = q->p;
    const int32_t n = q->n;
    const double phi0 = q->merit(q->mu), D = q->slope(q->mu), t = q->first_trial();
    q->move(p->work.xBase, t, q->d);
    if (!q->point()) return 0;
    q->ratio = (phi0 - q->merit(q->mu)) / q->predicted;
    if (q->merit(q->mu) <= phi0 + kArmijo * t * D) {
        p->iter.lastStep = t;
        if (!q->derivatives()) return -1;
        return 2;
    }
    // The relaxed step: a second full step must bring the merit (with the
    // first weights) below the first step's sufficient decrease.
    if (!q->derivatives()) return -1;
    q->lagrange_gradient(sv.lam, q->bs);
    for (int32_t j = 0; j < n; ++j) q->bs[j] -= sv.gl[j];
    copy(n, q->bs, q->s + n);  // s has 2n doubles: y of the first step behind it
    if (q->program() == kQpSolved) {
        double* x1 = q->s + 2 * n;
        copy(n, p->param.x, x1);
        const double f1 = p->iter.f;
        q->move(x1, q->step_cap(), q->d);
        if (q->point() && q->merit(sv.mu) <= phi0 + kArmijo * t * D) {
            // Kept: B learns both steps.
            double* x2 = q->s + 3 * n;
            copy(n, p->param.x, x2);
            copy(n, x1, p->param.x);
            // The structured form learns the second step only: M is not
            // evaluated at x1 again.
            if (!q->structured) q->update(q->s + n);
            copy(n, x2, p->param.x);
            copy(n, x1, p->work.xBase);
            copy(n, p->work.gradient, p->work.gradBase);
            p->iter.fPrev = f1;
            if (!q->derivatives()) return -1;
            q->lagrange_gradient(q->lam, q->bs);
            for (int32_t j = 0; j < n; ++j) q->y[j] = q->bs[j] - q->gl[j];
            q->update(q->y);
            p->iter.lastStep = t;
            return 1;
        }
    }
    // Back to xBase with its step, multipliers and weights.
    copy(n, p->work.xBase, p->param.x);
    copy(n, p->work.gradBase, p->work.gradient);
    p->iter.f = p->iter.fPrev;
    if (!q->constraint_values() || !q->constraint_jacobian()) return -1;
    q->build(false);
    copy(n, sv.d, q->d);
    copy(q->m, sv.mu, q->mu);
    copy(q->m, sv.lam, q->lam);
    copy(n, sv.gl, q->gl);
    q->relax = sv.relax;
    return 0;
}

}  // namespace

namespace {

// The rows of every constraint kind the problem has.
int64_t rows_max(const NlpProblem* p) {
    return (p->shape.hasNlinCon ? p->shape.nNlinCon : 0) + (p->shape.hasLinCon ? p->shape.nLinCon : 0) + 2 * static_cast<int64_t>(p->shape.nParams);
}

// The work space of the program and its rows, with `extra` doubles more;
// the rows laid out.  False without work space.
bool set_up(Frame* fr, Sqp* q, int64_t extra) {
    NlpProblem* p = fr->p;
    const int64_t n = p->shape.nParams, rowsMax = rows_max(p);
    const int64_t mAll = rowsMax > n ? rowsMax : n;
    // The structured form wants a positive semidefinite M, the cross
    // product J'WJ that a problem with a cross-product slot puts in its
    // Hessian slot; an exact Hessian of f may be indefinite far from the
    // solution, and the problem then keeps the quasi-Newton matrix.
    q->structured = p->cb.hessianFn != nullptr && p->hooks != nullptr && p->hooks->eval.crossProductFn != nullptr;
    // The structured form's own arrays: M, a factor's work, the scaled
    // matrix (three packed), x of M, the scales and the scaled gradient
    // (three of n) and the scaled rows.
    const int64_t structuredDoubles = q->structured ? 3 * n * (n + 1) / 2 + 3 * n + rowsMax * n : 0;
    if (!fr->reserve(n * (n + 1) / 2 + structuredDoubles + rowsMax * n + 3 * rowsMax + 6 * n + 2 * mAll +
                     3 * (rowsMax / 2 + 1) + DualQp::doubles(static_cast<int32_t>(n), static_cast<int32_t>(rowsMax)) +
                     extra))
        return false;
    q->fr = fr;
    q->p = p;
    q->n = p->shape.nParams;
    q->hess = fr->take(n * (n + 1) / 2);
    q->rows = fr->take(rowsMax * n);
    q->b = fr->take(rowsMax);
    q->lam = fr->take(rowsMax);
    q->mu = fr->take(rowsMax);
    q->d = fr->take(n);
    q->gl = fr->take(n);
    q->s = fr->take(4 * n);
    q->y = fr->take(mAll);
    q->bs = fr->take(mAll);
    q->kind = reinterpret_cast<int32_t*>(fr->take(rowsMax / 2 + 1));
    q->src = reinterpret_cast<int32_t*>(fr->take(rowsMax / 2 + 1));
    q->act = reinterpret_cast<int32_t*>(fr->take(rowsMax / 2 + 1));
    q->qpWork = fr->take(DualQp::doubles(q->n, static_cast<int32_t>(rowsMax)));
    if (q->structured) {
        q->slot = fr->take(n * (n + 1) / 2);
        q->lwork = fr->take(n * (n + 1) / 2);
        q->xSlot = fr->take(n);
        q->sc = fr->take(n);
        q->cs = fr->take(n);
        q->hs = fr->take(n * (n + 1) / 2);
        q->as = fr->take(rowsMax * n);
    }
    q->layout();
    return true;
}

// A claim of a criterion the user loosened (GCONV=1e-4, FCONV=0.01) at a
// point whose violations add up to more than the feasibility tolerance
// FEASTOL: the run goes on from x, as after a restart, until they are that
// small (the iterates meet the nonlinear constraints only in the limit, and
// a loosened criterion is met early on the way).
int32_t claim_waits(const Sqp* q, int32_t rc) {
    const NlpProblem* p = q->p;
    if (!znlp_claim_looser(p, rc)) return rc;
    return q->violations > p->opt.feasTol ? kNlpRestart : rc;
}

// The start test after the first program.
int32_t start_test(Sqp* q) {
    q->publish();
    q->p->run.iterSinceStart = 0;
    q->fr->set_base();
    return claim_waits(q, q->p->cb.terminationFn(q->p, 10));
}

void note_restart(NlpProblem* p) {
    p->run.nRestarts += 1;
    p->run.iterSinceStart = 0;
}

// The test after an iteration.
int32_t iteration_test(NlpProblem* p) {
    p->run.iteration += 1;
    p->run.iterSinceStart += 1;
    return p->cb.terminationFn(p, 1);
}

// The program's step vanished: x is a stationary point of the program and
// nothing moves it; a test that goes on ends the run.  True when so, the
// status in *rc.
bool stationary(Sqp* q, int32_t* rc) {
    if (max_abs(q->n, q->d) > 1e-14 * (1.0 + max_abs(q->n, q->p->param.x))) return false;
    *rc = iteration_test(q->p);
    if (*rc == 0 || *rc == kNlpRestart) *rc = q->fr->stop(kNlpTechniqueStop6);
    return true;
}

}  // namespace

int32_t sqp_run(NlpProblem* p, bool watchdog) {
    Frame fr(p);
    Sqp q;
    const int64_t n = p->shape.nParams, rowsMax = rows_max(p);
    if (!set_up(&fr, &q, 2 * rowsMax + 3 * n)) return kNlpNotUsable;
    Saved sv{fr.take(n), fr.take(rowsMax), fr.take(rowsMax), fr.take(n), 1.0};
    double* yOld = fr.take(n);
    q.reset_matrix();
    if (!q.constraint_values() || !q.constraint_jacobian()) return fr.failure();
    q.build(true);
    if (q.program() != kQpSolved) return fr.stop(kNlpTechniqueStop6);
    int32_t rc = start_test(&q);
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            note_restart(p);
            if (!q.point() || !q.derivatives()) return fr.failure();
            q.reset_matrix();
            if (q.program() != kQpSolved) return fr.stop(kNlpTechniqueStop6);
        }
        fr.set_base();
        copy(q.n, q.d, p->work.direction);
        if (stationary(&q, &rc)) return rc;
        copy(q.n, q.d, sv.d);
        copy(q.m, q.mu, sv.mu);
        copy(q.m, q.lam, sv.lam);
        copy(q.n, q.gl, sv.gl);
        sv.relax = q.relax;
        int32_t tried = watchdog ? watchdog_try(&q, sv) : 0;
        if (tried < 0) return fr.failure();
        if (tried != 1) {
            const int32_t ls = tried == 2 ? 0 : merit_search(&q);
            if (ls < 0) return fr.failure();
            if (ls > 0) {
                // Along a learnt matrix's step: once more from the start
                // matrix (the structured form: and a larger share).
                if (q.fresh && !(q.structured && q.nu < kNuMax)) return fr.stop(kNlpTechniqueStop7);
                if (q.structured) q.nu = std::fmax(10.0 * q.nu, kNuFloor);
                q.reset_matrix();
                if (q.program() != kQpSolved) return fr.stop(kNlpTechniqueStop6);
                continue;
            }
            // y = the change of g - A'lambda with the step's multipliers.
            q.lagrange_gradient(sv.lam, yOld);
            for (int32_t j = 0; j < q.n; ++j) yOld[j] -= sv.gl[j];
            q.update(yOld);
        }
        q.adapt(p->iter.lastStep, q.first);
        if (q.program() != kQpSolved) return fr.stop(kNlpTechniqueStop6);
        q.publish();
        p->iter.expectedReduction = p->iter.fPrev - p->iter.f;
        rc = claim_waits(&q, iteration_test(p));
    }
    return rc;
}

}  // namespace velix::detail

int32_t znlpdq2(NlpProblem* p) { return velix::detail::sqp_run(p, false); }
