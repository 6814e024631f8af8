// The parameter scaling of the Newton-type techniques (see scaling.h).
#include "optimizer/techniques/scaling.h"

#include <cfloat>
#include <cmath>

#include "optimizer/core/reduced_space.h"
#include "velix/packed_index.h"

namespace velix::detail {

bool ParameterScale::wanted() const {
    // In the null space of active rows (the core's basis) the coordinates
    // are no parameters: no scaling there.
    const NlpProblem* p = fr_->p;
    return p->opt.scalingKind != 0 && p->param.scale != nullptr && !fr_->applies_basis();
}

namespace {

// The storage the Hessian slot wrote (as Frame::gather_hessian reads it):
// 2 one diagonal entry per parameter, 0 packed.
int32_t slot_storage(const NlpProblem* p) {
    const int32_t storage = p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
    return storage == 2 ? 2 : 0;
}

}  // namespace

void ParameterScale::update(bool restart) {
    NlpProblem* p = fr_->p;
    on_ = wanted();
    if (!on_) return;
    // A scale of 0 takes this point's diagonal under every kind.
    if (restart)
        for (int32_t j = 0; j < fr_->n; ++j) p->param.scale[j] = 0.0;
    znlphsc(p, slot_storage(p), fr_->n, p->hess.hessian);
}

void ParameterScale::update_free(const double* d) {
    NlpProblem* p = fr_->p;
    on_ = wanted();
    if (!on_) return;
    // A held parameter offers its own scale squared, which every kind
    // keeps (1 before it has one).
    diagonal_.resize(static_cast<size_t>(fr_->n));
    for (int32_t j = 0; j < fr_->n; ++j) {
        const double s = p->param.scale[j];
        diagonal_[static_cast<size_t>(j)] = s > 0.0 && std::isfinite(s) ? s * s : 1.0;
    }
    for (int32_t i = 0; i < fr_->k; ++i) diagonal_[static_cast<size_t>(fr_->idx[i])] = d[i];
    znlphsc(p, 2, fr_->n, diagonal_.data());
}

double ParameterScale::of(int32_t i) const { return on_ ? fr_->p->param.scale[fr_->idx[i]] : 1.0; }

double ParameterScale::norm(const double* s) const {
    double t = 0.0;
    for (int32_t i = 0; i < fr_->k; ++i) t += (of(i) * s[i]) * (of(i) * s[i]);
    return std::sqrt(t);
}

void ParameterScale::matrix(double* h) const {
    if (!on_) return;
    for (int32_t i = 0; i < fr_->k; ++i)
        for (int32_t j = 0; j <= i; ++j) h[pk_lower(i, j)] /= of(i) * of(j);
}

void ParameterScale::gather(const double* v, double* out) const {
    fr_->gather(v, out);
    if (!on_) return;
    for (int32_t i = 0; i < fr_->k; ++i) out[i] /= of(i);
}

void ParameterScale::scatter(const double* in, double* v) const {
    fr_->scatter(in, v);
    if (!on_) return;
    for (int32_t i = 0; i < fr_->k; ++i) v[fr_->idx[i]] /= of(i);
}

namespace {

// The criterion with H_jj = diagonal(j).
template <typename Diagonal>
double scaled_gradient_of(const Frame& fr, Diagonal&& diagonal) {
    const NlpProblem* p = fr.p;
    // In the null space of active rows there is no parameter diagonal: the
    // GCONV measure stands for the criterion there.
    if (fr.applies_basis()) return p->iter.gconvMeasure;
    double worst = 0.0;
    for (int32_t i = 0; i < fr.k; ++i) {
        const int32_t j = fr.idx[i];
        worst = std::fmax(worst, scaled_gradient_term(p->work.gradient[j], diagonal(j), p->iter.f));
    }
    return worst;
}

}  // namespace

double scaled_gradient_max(const Frame& fr) {
    const double* h = fr.p->hess.hessian;
    const bool diagonal = slot_storage(fr.p) == 2;
    return scaled_gradient_of(fr, [&](int32_t j) { return diagonal ? h[j] : h[pk(j, j)]; });
}

double scaled_gradient_max(const Frame& fr, const double* diagonal) {
    return scaled_gradient_of(fr, [&](int32_t j) { return diagonal[j]; });
}

}  // namespace velix::detail
