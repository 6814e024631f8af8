// The trust-region iteration shared by TRUREG, LEVMAR and DBLDOG: a step
// of the local quadratic model within the radius, the ratio of actual to
// predicted reduction, and the radius update; the More-Sorensen step that
// TRUREG and LEVMAR take.  Internal to the technique units.
#pragma once

#include <cstdint>

#include "optimizer/techniques/support.h"

namespace velix::detail {

// The model of one technique: it prepares the model at the current point
// and gives the step of a radius.
struct TrustModel {
    virtual ~TrustModel() = default;
    // The doubles the model takes from the frame for the problem.
    virtual int64_t doubles(const NlpProblem* p) const = 0;
    virtual void take(Frame* fr) = 0;
    // The model at the current point (Hessian or quasi-Newton matrix);
    // false when an evaluation failed.
    virtual bool prepare(Frame* fr) = 0;
    // The step over the free set within `radius` into s (k doubles) and
    // its predicted reduction -(g's + s'Bs/2).
    virtual double step(Frame* fr, const double* g, double radius, double* s) = 0;
    // The length of a step over the free set in the metric of the radius.
    virtual double step_norm(const Frame* fr, const double* s) const { return norm2(fr->k, s); }
    // After an accepted step (x, gradient current, xBase the old point).
    virtual void accepted(Frame* fr) {}
    // After a restart from a moved point: what the model learned goes.
    virtual void restarted() {}
    // g'B^-1 g at the current gradient over the free set (tmp k doubles).
    virtual double measure(Frame* fr, const double* g, double* tmp) = 0;
    // False when the last measure() could not evaluate the model at the
    // point (its Hessian slot failed there).
    virtual bool formed() const { return true; }
    // measure() evaluates the model at the new point, after the iteration
    // is counted and the bounds are held (else before).
    virtual bool measures_new_point() const { return false; }
    // The GCONV2 measure after measure() (the model's measure without a
    // Hessian of the point).
    virtual double scaled_gradient(const Frame* fr) const { return fr->p->iter.gconvMeasure; }
};

// The trust-region iteration around a model.
int32_t trust_region_run(NlpProblem* p, TrustModel* model);

// The More-Sorensen step: s minimises g's + s'Hs/2 over |s| <= radius by
// Newton's iteration on the secular equation 1/|s(lambda)| = 1/radius
// with safeguards (More and Sorensen, "Computing a trust region step",
// SIAM J. Sci. Stat. Comput. 4, 1983).  h packed of order k; l receives
// the factor of H + lambda I; work k doubles.  *lambda is the start and
// the result.  *unshifted in: l holds the factor of H itself (it is not
// formed again); out: whether it does now.  The predicted reduction.
double more_sorensen(int32_t k, const double* h, const double* g, double radius, double tol, double* lambda,
                     double* l, double* s, double* work, bool* unshifted);

}  // namespace velix::detail
