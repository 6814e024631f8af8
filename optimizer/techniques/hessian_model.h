// The trust-region model of TRUREG and LEVMAR: the Hessian slot's matrix
// over the free set in the variables of the parameter scaling (HESCAL=;
// More's diagonal scaling for LEVMAR by default), and the More-Sorensen
// step.  Internal to the technique units.
//
// Where every parameter is free for the whole run (no bounds, no general
// constraints) and the slot's matrix is packed, the model scales the
// slot's array in place instead of copying it, and, when the owner lends
// a buffer for the covariance of the estimates, keeps the factor of its
// last measure there (NlpKeptFactor): the information matrix, its scaled
// copy and its factor would otherwise be three arrays of order n during
// the run and the factor would be made once more after it.
#pragma once

#include "optimizer/techniques/scaling.h"
#include "optimizer/techniques/trust_region.h"

namespace velix::detail {

class HessianModel : public TrustModel {
public:
    int64_t doubles(const NlpProblem* p) const override;
    void take(Frame* fr) override;
    bool prepare(Frame* fr) override;
    double step(Frame* fr, const double* g, double radius, double* s) override;
    double measure(Frame* fr, const double* g, double* tmp) override;
    void restarted() override;
    bool measures_new_point() const override { return true; }
    bool formed() const override { return formed_; }
    double scaled_gradient(const Frame* fr) const override;
    // The radius bounds |S s|.
    double step_norm(const Frame* fr, const double* s) const override;

private:
    // Evaluates the Hessian at the current point into h_ (scaled, with the
    // scaling brought up to date, and started again when a RESTART is due
    // and `mayRestart`); false when it failed.
    bool gather(Frame* fr, bool mayRestart);
    // g'(factor l_)^-1 g in the scaled variables (tmp k doubles); HUGE_VAL
    // when not finite (an unfinished factor measures nothing).
    double quadratic_form(Frame* fr, const double* g, double* tmp) const;
    // The factor l_ of the measure at x, with x and the scale after it, as
    // the problem's kept factor.
    void keep(Frame* fr) const;
    ParameterScale scale_;
    double* h_ = nullptr;      // the (scaled) free-set Hessian
    double* l_ = nullptr;      // factor of H + lambda I
    double* gs_ = nullptr;     // the scaled gradient
    double* work_ = nullptr;
    double* diag_ = nullptr;   // in place: the diagonal of H before it was scaled
    double lambda_ = 0.0;
    bool fresh_ = false;      // h_ holds the Hessian of the current point
    bool unshifted_ = false;  // l_ holds the factor of h_ itself (lambda 0)
    bool inPlace_ = false;    // h_ is the slot's own array, scaled in place
    bool keeps_ = false;      // l_ lies in the owner's buffer for the covariance
    bool formed_ = true;      // the last measure evaluated the Hessian of its point
    int32_t gathered_ = -1;   // in place: run.nHess just after the last gather
};

}  // namespace velix::detail
