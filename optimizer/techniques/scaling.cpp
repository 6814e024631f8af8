// The parameter scaling of the Newton-type techniques (see scaling.h).
#include "optimizer/techniques/scaling.h"

#include "optimizer/core/reduced_space.h"
#include "velix/packed_index.h"

namespace velix::detail {

void ParameterScale::update(bool restart) {
    NlpProblem* p = fr_->p;
    on_ = p->opt.scalingKind != 0 && p->param.scale != nullptr;
    if (!on_) return;
    // The storage the Hessian slot wrote (as Frame::gather_hessian reads it).
    const int32_t storage = p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
    // A scale of 0 takes this point's diagonal under every kind.
    if (restart)
        for (int32_t j = 0; j < fr_->n; ++j) p->param.scale[j] = 0.0;
    znlphsc(p, storage == 2 ? 2 : 0, fr_->n, p->hess.hessian);
}

double ParameterScale::of(int32_t i) const { return on_ ? fr_->p->param.scale[fr_->idx[i]] : 1.0; }

void ParameterScale::matrix(double* h) const {
    if (!on_) return;
    for (int32_t i = 0; i < fr_->k; ++i)
        for (int32_t j = 0; j <= i; ++j) h[pk_lower(i, j)] /= of(i) * of(j);
}

void ParameterScale::gather(const double* v, double* out) const {
    for (int32_t i = 0; i < fr_->k; ++i) out[i] = v[fr_->idx[i]] / of(i);
}

void ParameterScale::scatter(const double* in, double* v) const {
    fr_->scatter(in, v);
    for (int32_t i = 0; i < fr_->k; ++i) v[fr_->idx[i]] /= of(i);
}

}  // namespace velix::detail
