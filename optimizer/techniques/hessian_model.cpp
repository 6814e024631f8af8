// The Hessian model of TRUREG and LEVMAR (see hessian_model.h).  Under a
// parameter scaling S the step problem is the plain one in the variables
// S s, on S^-1 H S^-1 and S^-1 g.
#include "optimizer/techniques/hessian_model.h"

#include <cmath>

#include "velix/packed_index.h"

namespace velix::detail {

int64_t HessianModel::doubles(int32_t n) const {
    const int64_t nn = n;
    return nn * (nn + 1) + 3 * nn;
}

void HessianModel::take(Frame* fr) {
    const int32_t n = fr->n;
    scale_ = ParameterScale(fr);
    h_ = fr->take(static_cast<int64_t>(n) * (n + 1) / 2);
    l_ = fr->take(static_cast<int64_t>(n) * (n + 1) / 2);
    gs_ = fr->take(n);
    work_ = fr->take(2 * static_cast<int64_t>(n));
}

bool HessianModel::prepare(Frame* fr) {
    // The matrix that measure() evaluated at this point serves the step.
    const bool reuse = fresh_;
    fresh_ = false;
    return reuse || gather(fr, true);
}

bool HessianModel::gather(Frame* fr, bool mayRestart) {
    unshifted_ = false;
    if (!fr->hessian()) return false;
    fr->gather_hessian(h_);
    // RESTART: the scaling starts again from this point's diagonal.
    scale_.update(mayRestart && fr->restart_due());
    scale_.matrix(h_);
    return true;
}

double HessianModel::step(Frame* fr, const double* g, double radius, double* s) {
    const int32_t k = fr->k;
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
    if (!gather(fr, true)) return HUGE_VAL;
    fresh_ = true;
    // Without a positive definite Hessian the quadratic model has no
    // minimum to measure the distance to.
    unshifted_ = cholesky(k, h_, 0.0, fr->p->opt.singularTol, l_);
    if (!unshifted_) return HUGE_VAL;
    return quadratic_form(fr, g, tmp);
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
