// Whether the gradient at the end of a run is large: the scaled gradient
// max_j |g_j| / sqrt(|f| H_jj) over the free parameters, H the curvature
// at the final point (J'J of a least-squares objective, else the
// Hessian), the measure of the GCONV2 criterion (Dennis and Schnabel,
// "Numerical Methods for Unconstrained Optimization and Nonlinear
// Equations", 1983, sec. 7.2, on measuring the gradient relative to the
// scale of the parameters and of f).
//
// Why this scale: a change of the units of parameter j by a factor c
// divides g_j by c and H_jj by c^2, and a common factor of f (the units of
// a least-squares objective, N in a likelihood) multiplies g, H and f
// alike; the ratio moves with neither.  The absolute gradient called one
// and the same minimum optimal in one unit and not in another.
//
// Why 1e-3: a stop by GCONV at its default 1e-8 bounds g'H^-1 g by 1e-8 |f|
// (H the technique's matrix, J'J or close to it at a minimum), and each
// g_j^2 / H_jj is at most g'H^-1 g (Cauchy-Schwarz in the H inner
// product), so the measure is at most about 1e-4 there; the test speaks
// at ten times that.
//
// At a fit with zero residuals f and g both go to 0 and their ratio to
// noise, so that no relative measure settles; there, as in the check of a
// convergence claim, a gradient within ABSGCONV needs no curvature to back
// it, and a parameter whose Newton step |g_j| / H_jj is below
// sqrt(machine epsilon) of its own size is settled whatever the ratio.
// Neither exemption can make a minimum look unsettled in other units: a
// warning needs the scaled measure, which no unit moves.
//
// Without a usable curvature (no Hessian slot, sparse storage, a failed
// evaluation) or under active general constraints, where the gradient
// does not vanish at a minimum and the projected gradient has no
// per-parameter scale, the absolute bound of 1e-3 on the projected
// gradient stands.
//
//   general constraints active: |projected g| > 1e-3
//   projected gradient within ABSGCONV: not large
//   no usable H: |projected g| > 1e-3
//   H at x (the technique's matrix and the gradient are kept); for each free j with H_jj > 0: the ratio, unless settled
#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "optimizer/core/core.h"
#include "velix/packed_index.h"

namespace {

constexpr double kLargeScaledGradient = 1e-3;
constexpr double kLargeGradient = 1e-3;  // the absolute fallback

// The diagonal of the curvature at x (n entries): the cross product J'J of
// a least-squares objective from the hook block's slot (the Gauss-Newton
// Hessian, the information of a discrepancy function), else the Hessian
// slot's matrix.  false when there is none to have.  The problem's matrix,
// gradient, phase and counters stay as they were.
bool curvature_diagonal(NlpProblem* p, std::vector<double>* diag) {
    const bool cross = p->shape.leastSquares && p->hooks != nullptr && p->hooks->eval.crossProductFn != nullptr;
    const NlpCallback fn = cross ? p->hooks->eval.crossProductFn : p->cb.hessianFn;
    const int32_t storage = !cross && p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage
                                                                                    : p->opt.hessianStorage;
    if (fn == nullptr || storage == 1) return false;
    const int32_t n = p->shape.nParams;
    // The cross product goes to the owner's array for it when the owner
    // lends one (where the slot may find it formed already).
    double* const lent = cross ? p->hooks->result.crossProductBuffer : nullptr;
    std::vector<double> own(lent != nullptr ? 0 : static_cast<size_t>(p->shape.packedLen) + 1);
    double* const matrix = lent != nullptr ? lent : own.data();
    const std::vector<double> g(p->work.gradient, p->work.gradient + n);
    double* const kept = p->hess.hessian;
    const double phase = p->run.evalPhase;
    const int32_t calls = p->run.nHess, last = p->run.lastEval;
    p->hess.hessian = matrix;
    p->run.evalPhase = kPhasePostConvergence;
    p->run.lastEval = kLastHessian;
    const bool ok = fn(p) == 0;
    p->hess.hessian = kept;
    p->run.evalPhase = phase;
    p->run.nHess = calls;
    p->run.lastEval = last;
    std::copy(g.begin(), g.end(), p->work.gradient);
    diag->resize(static_cast<size_t>(n));
    for (int32_t j = 0; ok && j < n; ++j)
        (*diag)[static_cast<size_t>(j)] = storage == 2 ? matrix[static_cast<size_t>(j)] : matrix[velix::pk(j, j)];
    return ok;
}

}  // namespace

bool znlp_final_gradient_large(NlpProblem* p) {
    const bool general = p->shape.hasNlinCon || p->active.nActiveLin > 0;
    if (!general && p->iter.maxProjGrad <= p->opt.absGConv) return false;
    std::vector<double> h;
    if (general || !curvature_diagonal(p, &h)) return p->iter.maxProjGrad > kLargeGradient;
    const double f = std::fabs(p->iter.f);
    for (int32_t j = 0; j < p->shape.nParams; ++j) {
        if (p->shape.hasBounds && p->active.boundState != nullptr && p->active.boundState[j] != 0) continue;
        const double g = std::fabs(p->work.gradient[j]), hjj = h[static_cast<size_t>(j)];
        if (!(hjj > 0.0)) continue;
        if (g / hjj <= velix::kSqrtMachEpsWritten * std::fabs(p->param.x[j])) continue;
        if (!(g <= kLargeScaledGradient * std::sqrt(f * hjj))) return true;
    }
    return false;
}
