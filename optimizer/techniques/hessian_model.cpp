// The Hessian model of TRUREG and LEVMAR (see hessian_model.h).  Under a
// parameter scaling S the step problem is the plain one in the variables
// S s, on S^-1 H S^-1 and S^-1 g.
#include "optimizer/techniques/hessian_model.h"

#include <algorithm>
#include <cmath>

#include "velix/packed_index.h"

namespace velix::detail {

namespace {

int64_t packed(int64_t n) { return n * (n + 1) / 2; }

// The slot's array may serve as the model's matrix, scaled in place: every
// parameter is free for the whole run (the free set is the parameter
// vector in its order), so that no one else reads that array between our
// evaluations of it (an evaluation by another, as the check of a
// convergence claim makes, counts in run.nHess and is seen), and the slot
// stores it packed.
bool slot_array_serves(const NlpProblem* p) {
    const int32_t storage =
        p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
    return p->hess.hessian != nullptr && storage == 0 && p->shape.hasBounds == 0 && p->shape.hasLinCon == 0 &&
           p->shape.hasNlinCon == 0;
}

// The owner's buffer for the covariance of the estimates, where the factor
// of the last measure is kept; null when no covariance is wanted.
double* factor_home(const NlpProblem* p) {
    const NlpHookBlock* h = p->hooks;
    if (h == nullptr || h->cov.wantCovariance == 0 || h->post.covarianceHook == nullptr) return nullptr;
    return h->result.inverseBuffer;
}

}  // namespace

int64_t HessianModel::doubles(const NlpProblem* p) const {
    const int64_t n = p->shape.nParams;
    const bool inPlace = slot_array_serves(p), keeps = inPlace && factor_home(p) != nullptr;
    return (inPlace ? n : packed(n)) + (keeps ? 0 : packed(n)) + 3 * n;
}

void HessianModel::take(Frame* fr) {
    const int32_t n = fr->n;
    NlpProblem* p = fr->p;
    scale_ = ParameterScale(fr);
    inPlace_ = slot_array_serves(p);
    double* const home = inPlace_ ? factor_home(p) : nullptr;
    keeps_ = home != nullptr;
    h_ = inPlace_ ? p->hess.hessian : fr->take(packed(n));
    diag_ = inPlace_ ? fr->take(n) : nullptr;
    l_ = keeps_ ? home : fr->take(packed(n));
    if (keeps_) {
        // The buffer no longer holds the inverse it may have held, and a
        // factor starts from zeros as the frame's own space does.
        p->hooks->result.inverseTag = -1;
        std::fill(l_, l_ + packed(n), 0.0);
    }
    gs_ = fr->take(n);
    work_ = fr->take(2 * static_cast<int64_t>(n));
    p->hess.kept = NlpKeptFactor{};
}

bool HessianModel::prepare(Frame* fr) {
    // The matrix that measure() evaluated at this point serves the step,
    // unless another evaluation has since taken the slot's array.
    const bool reuse = fresh_ && (!inPlace_ || gathered_ == fr->p->run.nHess);
    fresh_ = false;
    return reuse || gather(fr, true);
}

bool HessianModel::gather(Frame* fr, bool mayRestart) {
    NlpProblem* p = fr->p;
    unshifted_ = false;
    p->hess.kept = NlpKeptFactor{};
    if (!fr->hessian()) return false;
    if (inPlace_) {
        h_ = p->hess.hessian;
        for (int32_t i = 0; i < fr->n; ++i) diag_[i] = h_[pk_lower(i, i)];
        gathered_ = p->run.nHess;
    } else {
        fr->gather_hessian(h_);
    }
    // RESTART: the scaling starts again from this point's diagonal.
    scale_.update(mayRestart && fr->restart_due());
    scale_.matrix(h_);
    return true;
}

double HessianModel::step(Frame* fr, const double* g, double radius, double* s) {
    const int32_t k = fr->k;
    // The step may factor a shifted matrix into l_.
    fr->p->hess.kept = NlpKeptFactor{};
    for (int32_t i = 0; i < k; ++i) gs_[i] = g[i] / scale_.of(i);
    const double pred =
        more_sorensen(k, h_, gs_, radius, fr->p->opt.singularTol, &lambda_, l_, s, work_, &unshifted_);
    for (int32_t i = 0; i < k; ++i) s[i] /= scale_.of(i);
    fr->p->iter.lambda = lambda_;
    return pred;
}

double HessianModel::step_norm(const Frame* fr, const double* s) const {
    return scale_.norm(s);
}

double HessianModel::scaled_gradient(const Frame* fr) const {
    return inPlace_ ? scaled_gradient_max(*fr, diag_) : scaled_gradient_max(*fr);
}

void HessianModel::restarted() {
    // The scaling starts again with the run's count of iterations.
    lambda_ = 0.0;
    fresh_ = false;
}

double HessianModel::measure(Frame* fr, const double* g, double* tmp) {
    // g'H^-1 g with the Hessian of this point, unshifted.  The factor the
    // last step left belongs to the point before the step and carries the
    // step's shift: after a long step (from a far start, or across a badly
    // scaled valley) it makes a large gradient look small and ends the run
    // far from any stationary point.
    const int32_t k = fr->k;
    // The Hessian slot may read the measure of the last test (the
    // procedure's choice between scoring and the exact Hessian does): it
    // sees the step model's measure at this point, as at the start of the
    // next iteration, where it was evaluated before.
    fr->p->iter.gconvMeasure = fr->p->iter.lmGconvMeasure = quadratic_form(fr, g, tmp);
    formed_ = gather(fr, true);
    if (!formed_) return HUGE_VAL;
    fresh_ = true;
    // Without a positive definite Hessian the quadratic model has no
    // minimum to measure the distance to.
    unshifted_ = cholesky(k, h_, 0.0, fr->p->opt.singularTol, l_);
    if (!unshifted_) return HUGE_VAL;
    keep(fr);
    return quadratic_form(fr, g, tmp);
}

void HessianModel::keep(Frame* fr) const {
    if (!keeps_) return;
    NlpProblem* p = fr->p;
    const int32_t n = fr->n;
    double* x = l_ + packed(n);
    double* s = x + n;
    for (int32_t i = 0; i < n; ++i) {
        x[i] = p->param.x[i];
        s[i] = scale_.of(i);
    }
    p->hess.kept = NlpKeptFactor{l_, h_, x, s, gathered_};
}

double HessianModel::quadratic_form(Frame* fr, const double* g, double* tmp) const {
    const int32_t k = fr->k;
    for (int32_t i = 0; i < k; ++i) tmp[i] = g[i] / scale_.of(i);
    chol_solve(k, l_, tmp);
    double m = 0.0;
    for (int32_t i = 0; i < k; ++i) m += tmp[i] * g[i] / scale_.of(i);
    return std::isfinite(m) ? m : HUGE_VAL;
}

}  // namespace velix::detail
