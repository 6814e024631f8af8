// QUADAS: the primal active-set method for a convex quadratic objective
// under bounds and linear rows (Nocedal and Wright, Numerical
// Optimization, 2nd ed., 2006, algorithm 16.3; Gill, Murray and Wright,
// Practical Optimization, 1981, sec. 5.3).  The Hessian H comes from the
// Hessian slot once; the gradient at x is H x + c with c from the start
// gradient.  On a working set W (the equality rows always, the inequality
// rows and bounds that block a step) each iteration solves the equality
// problem min g'p + p'Hp/2 subject to A_W p = 0 through its KKT system:
// a zero step with every multiplier of an inequality non-negative is the
// solution; a negative multiplier drops its constraint; otherwise the step
// is taken as far as the first blocking constraint, which joins W.
//
// Reads: x (feasible), f, gradient, the Hessian slot, bounds, the linear
// rows (nLinCon, equalities first; dense, or through the row slot or
// compressed, copied dense), linRhs.  Leaves: x, f, gradient, hessian,
// xBase, gradBase, fPrev, direction, lastStep, boundState, freeList,
// nActiveBounds, nActiveLin, activeList (the working rows), activeChange,
// multipliers (when the owner gave the array: one per working
// constraint), maxProjGrad (the largest KKT violation), gconvMeasure (the
// reduction the next step predicts), iteration and the counters.  Statuses: those of the
// termination test, kNlpTechniqueStop6 when the KKT system is singular (H
// not positive definite on the working set's null space),
// kNlpFinalFunction when the objective failed at the point the run is
// at, kNlpFinalDerivative when its gradient or the Hessian did,
// kNlpNotUsable without work space or without a way to read the rows.
#include <cfloat>
#include <cmath>

#include "optimizer/core/pending.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk;

namespace {

// Relative size below which a step or a multiplier counts as zero.
constexpr double kZero = 1e-10;

// A constraint of the working set: bound (j, side) or row r.
struct Active {
    int32_t row;    // >= 0 a linear row, -1 a bound
    int32_t param;  // the bound's parameter
    double side;    // +1 lower, -1 upper (the bound as side * x >= side * b)
};

struct Qp {
    Frame* fr;
    NlpProblem* p;
    int32_t n;
    double* h;        // packed Hessian
    double* c;        // linear term
    double* kkt;      // (n + n) squared, row-major
    double* rhs;      // n + n
    double* pvec;     // the step
    double* lambda;   // multipliers of W
    Active* w;        // the working set (at most n)
    const double* rows = nullptr;  // the linear rows, dense (nLinCon x n)
    int32_t nw = 0;

    const double* row(int32_t r) const { return rows + static_cast<int64_t>(r) * n; }

    // The coefficient of constraint a at parameter j (as a >= row).
    double coef(const Active& a, int32_t j) const {
        return a.row >= 0 ? row(a.row)[j] : (a.param == j ? a.side : 0.0);
    }

    // Solves the KKT system for the step and the multipliers; false when
    // it is singular.
    bool solve() {
        const int32_t m = n + nw;
        for (int64_t i = 0; i < static_cast<int64_t>(m) * m; ++i) kkt[i] = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            for (int32_t j = 0; j < n; ++j) kkt[i * m + j] = h[pk(i, j)];
            rhs[i] = -p->work.gradient[i];
        }
        for (int32_t k = 0; k < nw; ++k) {
            for (int32_t j = 0; j < n; ++j) {
                kkt[(n + k) * m + j] = coef(w[k], j);
                kkt[j * m + n + k] = -coef(w[k], j);
            }
            rhs[n + k] = 0.0;
        }
        if (!lu_solve(m, kkt, rhs)) return false;
        copy(n, rhs, pvec);
        copy(nw, rhs + n, lambda);
        return true;
    }

    // The equality rows and the tight inequalities and bounds at x.
    void initial_set() {
        const double tol = std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3);
        nw = 0;
        for (int32_t r = 0; r < p->shape.nLinCon && nw < n; ++r) {
            const double slack = dot(n, row(r), p->param.x) - p->con.linRhs[r];
            if (r < p->shape.nLinEq || std::fabs(slack) <= tol * (1.0 + std::fabs(p->con.linRhs[r]))) w[nw++] = {r, -1, 0.0};
        }
        for (int32_t j = 0; fr->bounded && j < n && nw < n; ++j) {
            if (p->param.lower[j] > -DBL_MAX && p->param.x[j] <= p->param.lower[j] + tol * (1.0 + std::fabs(p->param.lower[j])))
                w[nw++] = {-1, j, 1.0};
            else if (p->param.upper[j] < DBL_MAX && p->param.x[j] >= p->param.upper[j] - tol * (1.0 + std::fabs(p->param.upper[j])))
                w[nw++] = {-1, j, -1.0};
        }
    }

    bool is_equality(const Active& a) const { return a.row >= 0 && a.row < p->shape.nLinEq; }

    // The most negative multiplier of an inequality in W, -1 when none is.
    int32_t most_negative(double scale) const {
        int32_t worst = -1;
        for (int32_t k = 0; k < nw; ++k)
            if (!is_equality(w[k]) && lambda[k] < -kZero * scale && (worst < 0 || lambda[k] < lambda[worst])) worst = k;
        return worst;
    }

    // The counts, bound states, free list, active rows and multipliers
    // (bounds first, then rows) the termination test and the owner read.
    // The test judges "every parameter fixed" by the rows of the list and
    // the held parameters of the free list: left as the start phase had
    // them, it took HS76's vertex (0, 1.5, 0, 2), where a row's multiplier
    // is -1, for a solution.
    void publish() {
        p->active.nActiveLin = 0;
        p->active.nActiveBounds = 0;
        p->active.nDepLin = 0;
        for (int32_t j = 0; j < n; ++j) p->active.boundState[j] = 0;
        for (int32_t k = 0; k < nw; ++k) {
            if (w[k].row >= 0) continue;
            p->active.boundState[w[k].param] = w[k].side > 0.0 ? 1 : -1;
            if (p->active.multipliers != nullptr) p->active.multipliers[p->active.nActiveBounds] = lambda[k];
            p->active.nActiveBounds += 1;
        }
        for (int32_t k = 0; k < nw; ++k) {
            if (w[k].row < 0) continue;
            if (p->active.multipliers != nullptr) p->active.multipliers[p->active.nActiveBounds + p->active.nActiveLin] = lambda[k];
            if (p->active.activeList != nullptr) p->active.activeList[p->active.nActiveLin] = w[k].row;
            p->active.nActiveLin += 1;
        }
        znlpinc(p, 0);
    }

    // KKT violation and predicted reduction of the solved system.  A
    // negative multiplier promises a reduction the step does not show: the
    // violation stands in for it, so that no criterion ends the run first.
    void measures() {
        double dual = 0.0;
        for (int32_t k = 0; k < nw; ++k)
            if (!is_equality(w[k])) dual = std::fmax(dual, -lambda[k]);
        p->iter.maxProjGrad = std::fmax(max_abs(n, pvec) * std::fmax(1.0, max_abs(n, p->work.gradient)), dual);
        double hp = 0.0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) hp += pvec[i] * h[pk(i, j)] * pvec[j];
        p->iter.gconvMeasure = std::fmax(-(dot(n, p->work.gradient, pvec) + 0.5 * hp), dual);
    }

    // The largest step along pvec (at most 1) and the constraint that blocks it.
    double ratio(Active* blocking) const {
        double best = 1.0;
        blocking->row = -2;
        for (int32_t r = p->shape.nLinEq; r < p->shape.nLinCon; ++r) {
            if (in_set(r, -1)) continue;
            const double ad = dot(n, row(r), pvec);
            if (ad >= 0.0) continue;
            const double room = std::fmax(0.0, dot(n, row(r), p->param.x) - p->con.linRhs[r]) / -ad;
            if (room < best) {
                best = room;
                *blocking = {r, -1, 0.0};
            }
        }
        for (int32_t j = 0; fr->bounded && j < n; ++j) {
            if (in_set(-1, j)) continue;
            if (pvec[j] < 0.0 && p->param.lower[j] > -DBL_MAX && (p->param.x[j] - p->param.lower[j]) / -pvec[j] < best) {
                best = std::fmax(0.0, (p->param.x[j] - p->param.lower[j]) / -pvec[j]);
                *blocking = {-1, j, 1.0};
            } else if (pvec[j] > 0.0 && p->param.upper[j] < DBL_MAX && (p->param.upper[j] - p->param.x[j]) / pvec[j] < best) {
                best = std::fmax(0.0, (p->param.upper[j] - p->param.x[j]) / pvec[j]);
                *blocking = {-1, j, -1.0};
            }
        }
        return best;
    }

    bool in_set(int32_t r, int32_t j) const {
        for (int32_t k = 0; k < nw; ++k)
            if (r >= 0 ? w[k].row == r : (w[k].row < 0 && w[k].param == j)) return true;
        return false;
    }
};

// One move along the solved step: to the optimum of the working set or to
// the first blocking constraint (which joins W).  False after a failed
// evaluation.
bool move(Qp* q) {
    NlpProblem* p = q->p;
    Active blocking{};
    const double alpha = q->ratio(&blocking);
    q->fr->set_base();
    copy(q->n, q->pvec, p->work.direction);
    for (int32_t j = 0; j < q->n; ++j) p->param.x[j] = p->work.xBase[j] + alpha * q->pvec[j];
    // A bound that blocks is met exactly.
    if (blocking.row == -1) p->param.x[blocking.param] = blocking.side > 0.0 ? p->param.lower[blocking.param] : p->param.upper[blocking.param];
    p->iter.lastStep = alpha;
    p->active.activeChange = 0;
    if (blocking.row != -2 && q->nw < q->n) {
        q->w[q->nw++] = blocking;
        p->active.activeChange = 1;
    }
    return q->fr->objective() && q->fr->gradient();
}

}  // namespace

int32_t znlpqas(NlpProblem* p) {
    if (p->shape.hasLinCon && !reads_linear_rows(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    const int64_t nn = n, m = 2 * nn;
    const int64_t activeDoubles = (nn * static_cast<int64_t>(sizeof(Active)) + 7) / 8;
    // Rows held in any other form than dense are read once into a dense copy.
    const bool dense = p->con.linRows != nullptr && p->shape.linRowsSparse == 0;
    const int64_t copied = p->shape.hasLinCon && !dense ? nn * p->shape.nLinCon : 0;
    if (!fr.reserve(nn * (nn + 1) / 2 + 2 * nn + m * m + m + nn + activeDoubles + copied)) return kNlpNotUsable;
    Qp q{&fr, p, n, fr.take(nn * (nn + 1) / 2), fr.take(nn), fr.take(m * m), fr.take(m), fr.take(nn), fr.take(nn),
         reinterpret_cast<Active*>(fr.take(activeDoubles))};
    q.rows = p->con.linRows;
    if (copied > 0) {
        double* own = fr.take(copied);
        for (int32_t r = 0; r < p->shape.nLinCon; ++r) linear_row(p, r, own + static_cast<int64_t>(r) * n);
        q.rows = own;
    }
    if (!fr.hessian()) return fr.failure();
    fr.gather_hessian(q.h, true);
    // c = g(x0) - H x0.
    sym_mul(n, q.h, p->param.x, q.c);
    for (int32_t j = 0; j < n; ++j) q.c[j] = p->work.gradient[j] - q.c[j];
    q.initial_set();
    if (!q.solve()) return kNlpTechniqueStop6;
    q.measures();
    q.publish();
    fr.set_base();
    int32_t rc = p->cb.terminationFn(p, 10);
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            if (!fr.objective() || !fr.gradient()) return fr.failure();
            q.initial_set();
            if (!q.solve()) return kNlpTechniqueStop6;
            // The restart is handled.  Left pending, a drop below (which
            // calls no test) came back here and rebuilt the working set it
            // had dropped from, for ever (HS76 from (2.33, 1.69, 1.87, 4.98)).
            rc = 0;
        }
        const double scale = std::fmax(1.0, max_abs(n, p->work.gradient));
        if (max_abs(n, q.pvec) <= kZero * std::fmax(1.0, max_abs(n, p->param.x))) {
            const int32_t drop = q.most_negative(scale);
            if (drop < 0) {
                // The working set's optimum with no negative multiplier: the
                // solution.  A test that still goes on cannot move it.
                q.measures();
                q.publish();
                p->run.iteration += 1;
                rc = p->cb.terminationFn(p, 1);
                return rc == 0 || rc == kNlpRestart ? kNlpAbsGConv : rc;
            }
            q.w[drop] = q.w[--q.nw];
            p->active.activeChange = -1;
            if (!q.solve()) return kNlpTechniqueStop6;
            continue;  // no step: no test
        }
        if (!move(&q)) return fr.failure();
        if (!q.solve()) return kNlpTechniqueStop6;
        q.measures();
        q.publish();
        p->run.iteration += 1;
        rc = p->cb.terminationFn(p, 1);
    }
    return rc;
}
