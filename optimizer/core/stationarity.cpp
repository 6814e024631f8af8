// The check of a convergence claim that does not trust the technique's own
// matrix.  Quasi-Newton, double-dogleg, hybrid and conjugate-gradient runs
// measure the gradient with a matrix they built from gradient differences
// (g'B^-1 g); along a flat valley that matrix can overstate the curvature
// by orders of magnitude, the measure meets GCONV and the run stops well
// short of the minimum.  Here the gradient is measured again with the
// Hessian slot's matrix H at the point: the Newton decrement g'H^-1 g over
// the free parameters, relative to max(|f|, FSIZE) as GCONV takes it
// (Boyd and Vandenberghe, Convex Optimization, 2004, sec. 9.5.1; Nocedal
// and Wright, Numerical Optimization, 2nd ed., sec. 6.1 on what the BFGS
// matrix does and does not know of the curvature).
//
//   criterion met by a technique with a matrix of its own, no nonlinear or
//   active linear constraints, the gradient above ABSGCONV, a Hessian slot
//   with packed storage:
//       H at x over the free parameters; not positive definite: no verdict
//       decrement within the bound: the claim stands
//       else, while restarts are left: restart the technique at x (its
//           matrix starts again)
//       else: the run stops without a criterion, with the decrement as its
//           measure
#include <cmath>
#include <vector>

#include "numerics/cholesky.h"
#include "optimizer/core/core.h"
#include "velix/packed_index.h"

namespace {

// A claim stands when the decrement is within this many GCONV bounds: the
// technique's measure and the Newton decrement agree to a factor of a few
// at a minimum, while a run stopped short leaves them orders apart.
constexpr double kAgreement = 100.0;
// Restarts a run may take on a refused claim before it is stopped.
constexpr int32_t kRestarts = 5;
// Relative pivot below which H is not taken as positive definite.
constexpr double kPivotTolerance = 1e-12;

bool own_matrix(int32_t technique) {
    return technique == kTechQuanew || technique == kTechDualQuanew || technique == kTechDbldog ||
           technique == kTechCongra || technique == kTechHyquan;
}

// g'H^-1 g over the free parameters with H from the Hessian slot at x; a
// negative value when there is no verdict (no matrix, a failed slot, or H
// not positive definite on the free set).  The gradient stays as it was.
double newton_decrement(NlpProblem* p) {
    const int32_t storage = p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
    if (p->cb.hessianFn == nullptr || storage == 2 || p->hess.hessian == nullptr) return -1.0;
    const int32_t n = p->shape.nParams;
    const std::vector<double> g(p->work.gradient, p->work.gradient + n);
    const double phase = p->run.evalPhase;
    p->run.evalPhase = kPhasePostConvergence;
    p->run.nHess += 1;
    const int32_t r = p->cb.hessianFn(p);
    p->run.evalPhase = phase;
    std::copy(g.begin(), g.end(), p->work.gradient);
    if (r != 0) return -1.0;
    std::vector<int32_t> free;
    for (int32_t j = 0; j < n; ++j)
        if (!p->shape.hasBounds || p->active.boundState == nullptr || p->active.boundState[j] == 0) free.push_back(j);
    const int32_t k = static_cast<int32_t>(free.size());
    std::vector<double> l(static_cast<size_t>(k) * (k + 1) / 2), b(static_cast<size_t>(k));
    double big = 0.0;
    for (int32_t i = 0; i < k; ++i) {
        for (int32_t j = 0; j <= i; ++j) l[velix::pk_lower(i, j)] = p->hess.hessian[velix::pk(free[i], free[j])];
        big = std::fmax(big, std::fabs(l[velix::pk_lower(i, i)]));
        b[i] = g[free[i]];
    }
    for (int32_t i = 0; i < k; ++i)
        if (!(zchol(i, l.data(), 0.0) > kPivotTolerance * big)) return -1.0;
    zchol2(k, l.data(), b.data());
    double m = 0.0;
    for (double v : b) m += v * v;
    return std::isfinite(m) ? m : -1.0;
}

}  // namespace

int32_t znlp_verify_claim(NlpProblem* p, int32_t status) {
    if (!own_matrix(p->opt.technique) || p->shape.hasNlinCon || p->active.nActiveLin > 0) return status;
    // A gradient within ABSGCONV needs no curvature to back it: near a
    // minimum of 0 (a zero-residual fit) no relative measure settles.
    if (p->iter.maxProjGrad <= p->opt.absGConv) return status;
    const double m = newton_decrement(p);
    if (m < 0.0) return status;
    const double fs = std::fmax(std::fabs(p->iter.f), p->opt.fSize);
    if (m <= kAgreement * std::fmax(p->opt.gConv, kNlpDefaultGConv) * fs) return status;
    if (p->run.nRestarts < kRestarts) return kNlpRestart;
    p->iter.gconvMeasure = p->iter.scaledGradMax = m;
    return kNlpTechniqueStop7;
}
