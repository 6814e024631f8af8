// QUADAS, first form (znlpqar): the primal active-set method for a convex
// quadratic under bounds and linear rows, with the active set held in the
// sparse form of the optimizer core (one orthonormal column per active row
// in the metric of the Hessian's Cholesky factor L, in memory or on the
// utility file conFactorFile; Gill, Murray and Wright, Practical
// Optimization, 1981, sec. 5.3.2 and 5.2.4.3).  In the metric z = L'x the
// Hessian is the identity, so that with U = L^-1 g the minimum over the
// null space of the active columns is the step W = -(U - sum (q_j'U) q_j)
// that the sparse form keeps.  Each iteration
//   1. takes d = L^-T W over the free parameters (W vanishing: the
//      constraint with the most wrong-signed multiplier is dropped, or, with
//      none, the point is the solution);
//   2. steps along d as far as 1 or the first inactive bound or row that
//      blocks it (znlpstl), which then joins the active set (the factor L
//      loses a held parameter's row and column);
//   3. evaluates f and g at the new point and sets U = L^-1 g again.
// The iterates are those of the dense form (znlpqas) on the same problem.
//
// Reads: x (feasible), f, gradient, the Hessian slot (packed storage; its
// other storages are refused),
// bounds, linear rows through conRowFn, the sparse form's arrays (nullBasis
// or conFactorFile, activeFactor, sparseWork of 4n, rowBuffer, activeList,
// workList, multipliers, boundState, freeList, gradBase; a sparseWork
// whose stated size is below 4n is refused).  Leaves: x, f,
// gradient, xBase, fPrev, direction, lastStep, the active set, multipliers,
// maxProjGrad (the largest element of L W), gconvMeasure (|W|^2 / 2, the
// reduction the next step predicts), iteration and the counters.
// Statuses: those of the termination test, kNlpTechniqueStop6 when the
// Hessian is not positive definite over the free parameters or a released
// bound leaves the factor singular, kNlpFinalFunction when the objective
// failed at the point the run is at, kNlpFinalDerivative when its gradient
// or the Hessian did, kNlpNotUsable without work space or the form's
// arrays (or with too small a sparseWork).
#include <cfloat>
#include <cmath>

#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk_lower;

namespace {

// A step W below this share of 1 + |U| is no step.
constexpr double kZeroStep = 1e-12;

struct SparseQp {
    Frame* fr;
    NlpProblem* p;
    int32_t n;
    double* l;     // L over the free positions (packed, freeList order)
    double* h;     // the Hessian, packed, all parameters
    double* a;     // its free submatrix
    double* step;  // n of work

    int32_t nf() const { return n_free(p); }
    double* u() const { return p->active.sparseWork; }
    double* w() const { return p->active.sparseWork + 2 * n; }

    // L over the current free positions; false when H is not positive
    // definite there.
    bool factor() {
        const int32_t k = nf();
        for (int32_t i = 0; i < k; ++i)
            for (int32_t j = 0; j <= i; ++j) a[pk_lower(i, j)] = h[velix::pk(p->active.freeList[i], p->active.freeList[j])];
        return cholesky(k, a, 0.0, p->opt.singularTol, l);
    }

    // U = L^-1 g over the free positions; V and W follow.
    void refresh() {
        const int32_t k = nf();
        double* uv = u();
        for (int32_t i = 0; i < k; ++i) {
            double s = p->work.gradient[p->active.freeList[i]];
            for (int32_t j = 0; j < i; ++j) s -= l[pk_lower(i, j)] * uv[j];
            uv[i] = s / l[pk_lower(i, i)];
        }
        sparse_project(p);
    }

    // direction := L^-T W over the free parameters, zero at the held ones.
    void direction() {
        const int32_t k = nf();
        copy(k, w(), step);
        for (int32_t i = k - 1; i >= 0; --i) {
            double s = step[i];
            for (int32_t j = i + 1; j < k; ++j) s -= l[pk_lower(j, i)] * step[j];
            step[i] = s / l[pk_lower(i, i)];
        }
        for (int32_t j = 0; j < n; ++j) p->work.direction[j] = 0.0;
        for (int32_t i = 0; i < k; ++i) p->work.direction[p->active.freeList[i]] = step[i];
    }

    // The projected gradient L W and the reduction the step predicts; a
    // wrong-signed multiplier promises a reduction the step does not show,
    // so its size stands in for both (no criterion ends the run first).
    void measures() {
        const int32_t k = nf();
        const double* wv = w();
        double big = 0.0;
        for (int32_t i = 0; i < k; ++i) {
            double s = 0.0;
            for (int32_t j = 0; j <= i; ++j) s += l[pk_lower(i, j)] * wv[j];
            big = std::fmax(big, std::fabs(s));
        }
        const int32_t nb = p->active.nActiveBounds, nl = p->active.nActiveLin;
        double dual = 0.0;
        if (nb + nl > 0) {
            znlpglm(p, 0, p->work.gradient, p->active.multipliers);
            for (int32_t j = 0; j < nb; ++j)
                if (p->active.boundState[p->active.freeList[k + j]] != 2) dual = std::fmax(dual, -p->active.multipliers[j]);
            for (int32_t r = 0; r < nl; ++r)
                if (p->active.activeList[r] >= p->shape.nLinEq) dual = std::fmax(dual, -p->active.multipliers[nb + r]);
        }
        p->iter.maxProjGrad = std::fmax(big, dual);
        p->iter.gconvMeasure = std::fmax(0.5 * dot(k, wv, wv), dual);
    }

    bool no_step() const { return max_abs(nf(), w()) <= kZeroStep * (1.0 + max_abs(nf(), u())); }
};

// The form's arrays, and the Hessian in packed storage (the factor the
// sparse form keeps is then a packed triangle).
bool has_sparse_arrays(const NlpProblem* p) {
    return p->opt.hessianStorage != 1 && p->opt.hessianStorage != 2 && znlp_sparse_work_fits(p) && p->active.activeFactor != nullptr && p->active.activeList != nullptr &&
           p->active.workList != nullptr && p->active.rowBuffer != nullptr && p->active.multipliers != nullptr &&
           p->work.gradBase != nullptr && (p->opt.conFactorFile != nullptr || p->active.nullBasis != nullptr) &&
           (!p->shape.hasLinCon || p->cb.conRowFn != nullptr) && p->active.boundState != nullptr && p->active.freeList != nullptr;
}

// Step 2: along the direction to 1 or the blocking constraint, which
// joins the active set.  False after a failed evaluation; *stop set when
// the factor cannot lose the held parameter.
bool move(SparseQp* q) {
    NlpProblem* p = q->p;
    const int32_t n = q->n;
    int32_t blocking = -1;
    znlpstl(p, 0, 1, p->param.x, p->work.direction, &blocking);
    const double alpha = p->iter.stepBound;
    q->fr->set_base();
    for (int32_t j = 0; j < n; ++j) p->param.x[j] = p->work.xBase[j] + alpha * p->work.direction[j];
    p->iter.lastStep = alpha;
    p->active.activeChange = 0;
    if (blocking >= 0 && blocking < 2 * n) {
        const int32_t j = blocking % n, side = blocking < n ? 1 : -1;
        p->param.x[j] = side > 0 ? p->param.lower[j] : p->param.upper[j];
    }
    if (!q->fr->objective() || !q->fr->gradient()) return false;
    if (blocking >= 0) {
        const int32_t j = blocking % n;
        const int32_t status = blocking < n ? 1 : blocking < 2 * n ? -1 : 0;
        const int32_t index = blocking < 2 * n ? j : blocking - 2 * n;
        if (znlpupr(p, 0, status, index, 0.0, q->l) == 0) p->active.activeChange = 1;
    }
    q->refresh();
    return true;
}

}  // namespace

int32_t znlpqar(NlpProblem* p) {
    if (!has_sparse_arrays(p)) return kNlpNotUsable;
    Frame fr(p);
    const int64_t n = p->shape.nParams;
    if (!fr.reserve(3 * (n * (n + 1) / 2) + n)) return kNlpNotUsable;
    SparseQp q{&fr, p, p->shape.nParams, fr.take(n * (n + 1) / 2), fr.take(n * (n + 1) / 2), fr.take(n * (n + 1) / 2),
               fr.take(n)};
    if (!fr.hessian()) return fr.failure();
    fr.gather_hessian(q.h, true);
    // The active set from nothing but the fixed parameters, then every
    // bound and row tight at x, with the factor over the free positions.
    p->active.nActiveLin = p->active.nDepLin = p->active.nActiveBounds = 0;
    for (int32_t j = 0; j < q.n; ++j) {
        if (p->active.boundState[j] != 2) p->active.boundState[j] = 0;
        if (p->active.boundState[j] == 2) p->active.nActiveBounds += 1;
    }
    znlpinc(p, 0);
    if (!q.factor()) return fr.stop(kNlpTechniqueStop6);
    znlpftr(p, 0, 0, q.l);
    znlpacr(p, 0.0, q.l);
    q.refresh();
    q.measures();
    fr.set_base();
    p->run.iterSinceStart = 0;
    int32_t rc = p->cb.terminationFn(p, 10);
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            if (!fr.objective() || !fr.gradient()) return fr.failure();
            q.refresh();
        }
        if (q.no_step()) {
            // The minimum on the active set: drop a constraint with a
            // wrong-signed multiplier, or stop at the solution.
            const int32_t dropped = znlpdar(p, 0.0, q.l);
            if (dropped < 0) return fr.stop(kNlpTechniqueStop6);
            if (dropped == 0) {
                q.measures();
                p->run.iteration += 1;
                rc = p->cb.terminationFn(p, 1);
                return rc == 0 || rc == kNlpRestart ? kNlpAbsGConv : rc;
            }
            q.refresh();
            continue;  // no step: no test
        }
        q.direction();
        if (!move(&q)) return fr.failure();
        q.measures();
        p->run.iteration += 1;
        p->run.iterSinceStart += 1;
        rc = p->cb.terminationFn(p, 1);
    }
    return rc;
}
