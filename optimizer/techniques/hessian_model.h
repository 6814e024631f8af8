// The trust-region model of TRUREG and LEVMAR: the Hessian slot's matrix
// over the free set in the variables of the parameter scaling (HESCAL=;
// More's diagonal scaling for LEVMAR by default), and the More-Sorensen
// step.  Internal to the technique units.
#pragma once

#include "optimizer/techniques/scaling.h"
#include "optimizer/techniques/trust_region.h"

namespace velix::detail {

class HessianModel : public TrustModel {
public:
    int64_t doubles(int32_t n) const override;
    void take(Frame* fr) override;
    bool prepare(Frame* fr) override;
    double step(Frame* fr, const double* g, double radius, double* s) override;
    double measure(Frame* fr, const double* g, double* tmp) override;
    void restarted() override;
    bool measures_new_point() const override { return true; }
    double scaled_gradient(const Frame* fr) const override { return scaled_gradient_max(*fr); }
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
    ParameterScale scale_;
    double* h_ = nullptr;      // the (scaled) free-set Hessian
    double* l_ = nullptr;      // factor of H + lambda I
    double* gs_ = nullptr;     // the scaled gradient
    double* work_ = nullptr;
    double lambda_ = 0.0;
    bool fresh_ = false;      // h_ holds the Hessian of the current point
    bool unshifted_ = false;  // l_ holds the factor of h_ itself (lambda 0)
};

}  // namespace velix::detail
