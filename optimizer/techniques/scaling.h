// The parameter scaling of the Newton-type techniques (HESCAL=): a
// diagonal S from the Hessian diagonal, s_j = max(sqrt|H_jj|, sqrt eps),
// kept by the scaling kind (running maximum, damped, latest) and applied as
// the change of variables y = S x, so that the model's matrix becomes
// S^-1 H S^-1 and its gradient S^-1 g (Dennis and Schnabel, Numerical
// Methods for Unconstrained Optimization, 1983, sec. 7.1; More, "The
// Levenberg-Marquardt algorithm: implementation and theory", 1978).  A
// Newton step is the same in either variables; the scaling changes the
// shape of the ridge, the modified factorization and the trust region.
// Internal to the technique units.
#pragma once

#include <cstdint>
#include <vector>

#include "optimizer/techniques/support.h"

namespace velix::detail {

class ParameterScale {
public:
    explicit ParameterScale(const Frame* fr = nullptr) : fr_(fr) {}

    // After the Hessian slot left the matrix of the current point in
    // p->hess.hessian: the scale of every parameter brought up to date by
    // the scaling kind (znlphsc); `restart` starts it again from this
    // point's diagonal.  Without a scaling kind (or scale storage), and in
    // the null space of active rows, nothing is scaled.
    void update(bool restart = false);
    // The same from the diagonal d (k entries, over the free set) of a
    // technique's own matrix (the quasi-Newton B of the double dogleg); the
    // held parameters keep their scale.
    void update_free(const double* d);
    bool on() const { return on_; }
    // The scale of free parameter i; 1 without scaling.
    double of(int32_t i) const;
    // |S s| of a step s over the free set (k).
    double norm(const double* s) const;
    // h := S^-1 h S^-1 for the packed free-set matrix h (order k).
    void matrix(double* h) const;
    // out := S^-1 v over the free set (v full length, out k).
    void gather(const double* v, double* out) const;
    // v := S^-1 in at the free parameters, 0 elsewhere (in k, v full).
    void scatter(const double* in, double* v) const;

private:
    // Whether scaling is asked for and has its storage.
    bool wanted() const;

    const Frame* fr_;
    bool on_ = false;
    std::vector<double> diagonal_;  // n entries for update_free
};

// The scaled gradient criterion of GCONV2 at the current point: the
// largest |g_j| / sqrt|H_jj f| over the free parameters with H_jj > 0 (and
// |H_jj f| above DBL_MIN), H the Hessian slot's matrix of that point in
// p->hess.hessian; 0 when no parameter qualifies.  In the null space of
// active rows: the GCONV measure.
double scaled_gradient_max(const Frame& fr);
// The same with the diagonal of H given per parameter (n entries).
double scaled_gradient_max(const Frame& fr, const double* diagonal);

}  // namespace velix::detail
