// DBLDOG: the double-dogleg trust-region method with a dual quasi-Newton
// matrix.  B = L L' is kept as its Cholesky factor and updated by the BFGS
// (or DFP) update after each accepted step; the step within the radius
// follows the double-dogleg path from the Cauchy point towards eta times
// the quasi-Newton step, eta = 0.2 + 0.8 (g'g)^2 / ((g'Bg)(g'B^-1 g))
// (Dennis and Mei, "Two new unconstrained optimization algorithms which use
// function and gradient values", JOTA 28, 1979; Dennis and Schnabel, 1983,
// sec. 6.4.2).
//
// Under HESCAL= the path is taken in the variables S s of the parameter
// scaling, S from the diagonal of B (the radius bounds |S s|).
//
// The start matrix and its restarts are QUANEW's (see quanew.cpp).  Before
// a DFP update B is scaled by s'y / s'Bs (Oren and Luenberger,
// Self-scaling variable metric algorithms, Management Science 20, 1974).
//
// Reads: x, f, gradient, update, inHessian, startFromHessian, restart,
// inStep (the first radius).  Leaves: x, f,
// gradient, xBase, gradBase, fPrev, direction (the step), lastStep,
// radius, rho, maxProjGrad, gconvMeasure (g'B^-1 g), iteration and the
// counters.  Statuses: as TRUREG (see trureg.cpp).
#include <cmath>

#include "optimizer/techniques/quasi_newton.h"
#include "optimizer/techniques/scaling.h"
#include "optimizer/techniques/techniques.h"
#include "optimizer/techniques/trust_region.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk_lower;

namespace {

class DoglegModel : public TrustModel {
public:
    int64_t doubles(const NlpProblem* p) const override {
        const int32_t n = p->shape.nParams;
        return QuasiNewton::doubles(n) + 4 * static_cast<int64_t>(n);
    }
    void take(Frame* fr) override {
        qn_.take(fr);
        scale_ = ParameterScale(fr);
        newton_ = fr->take(fr->n);
        cauchy_ = fr->take(fr->n);
        bs_ = fr->take(fr->n);
        gs_ = fr->take(fr->n);
    }
    bool prepare(Frame* fr) override {
        if (fr->changed || fr->restart_due()) qn_.reset(fr);
        fr->changed = false;
        // The scale from the diagonal of B = L L'.
        for (int32_t i = 0; i < fr->k; ++i) {
            double d = 0.0;
            for (int32_t j = 0; j <= i; ++j) d += qn_.m[pk_lower(i, j)] * qn_.m[pk_lower(i, j)];
            gs_[i] = d;
        }
        scale_.update_free(gs_);
        return true;
    }
    double step(Frame* fr, const double* g, double radius, double* s) override;
    double step_norm(const Frame* fr, const double* s) const override { return scale_.norm(s); }
    void accepted(Frame* fr) override {
        if (fr->p->opt.update == kUpdateDfp) self_scale(fr);
        qn_.update(fr);
    }
    double measure(Frame* fr, const double* g, double* tmp) override { return qn_.measure(*fr, g, tmp); }

private:
    // B := B s'y / s'Bs before a DFP update (Oren and Luenberger's self
    // scaling): without a line search DFP does not correct a B that is too
    // large along the step, and the trust region would shrink to crawl.
    void self_scale(Frame* fr);
    // out := B v = L L' v.
    void times_b(int32_t k, const double* v, double* out) const;

    QuasiNewton qn_{QuasiNewtonForm::kFactor};
    ParameterScale scale_;
    double* newton_ = nullptr;
    double* cauchy_ = nullptr;
    double* bs_ = nullptr;
    double* gs_ = nullptr;  // the scaled gradient S^-1 g
};

void DoglegModel::times_b(int32_t k, const double* v, double* out) const {
    const double* l = qn_.m;
    for (int32_t j = 0; j < k; ++j) {
        double t = 0.0;
        for (int32_t i = j; i < k; ++i) t += l[pk_lower(i, j)] * v[i];
        bs_[j] = t;  // L'v
    }
    for (int32_t i = 0; i < k; ++i) {
        double t = 0.0;
        for (int32_t j = 0; j <= i; ++j) t += l[pk_lower(i, j)] * bs_[j];
        out[i] = t;
    }
}

void DoglegModel::self_scale(Frame* fr) {
    const int32_t k = fr->k;
    NlpProblem* p = fr->p;
    fr->gather_change(p->param.x, p->work.xBase, newton_);
    fr->gather_change(p->work.gradient, p->work.gradBase, cauchy_);
    const double sy = dot(k, newton_, cauchy_);
    times_b(k, newton_, cauchy_);
    const double sbs = dot(k, newton_, cauchy_);
    if (!(sy > 0.0 && sbs > 0.0)) return;
    const double root = std::sqrt(sy / sbs);
    for (int64_t e = 0; e < static_cast<int64_t>(k) * (k + 1) / 2; ++e) qn_.m[e] *= root;
}

double DoglegModel::step(Frame* fr, const double* gIn, double radius, double* s) {
    // In the scaled variables: g := S^-1 g, the Newton step S (-B^-1 g),
    // and the products with S^-1 B S^-1.
    const int32_t k = fr->k;
    qn_.direction(*fr, gIn, newton_);  // -B^-1 g
    for (int32_t i = 0; i < k; ++i) {
        newton_[i] *= scale_.of(i);
        gs_[i] = gIn[i] / scale_.of(i);
    }
    const double* g = gs_;
    const double nn = norm2(k, newton_);
    if (nn <= radius) {
        copy(k, newton_, s);
    } else {
        for (int32_t i = 0; i < k; ++i) s[i] = g[i] / scale_.of(i);
        times_b(k, s, cauchy_);
        for (int32_t i = 0; i < k; ++i) cauchy_[i] /= scale_.of(i);
        const double gg = dot(k, g, g), gbg = dot(k, g, cauchy_), gbig = -dot(k, g, newton_);
        const double eta = 0.2 + 0.8 * gg * gg / (gbg * gbig);
        const double gn = std::sqrt(gg);
        for (int32_t i = 0; i < k; ++i) cauchy_[i] = -(gg / gbg) * g[i];
        const double cn = norm2(k, cauchy_);
        if (eta * nn <= radius) {
            for (int32_t i = 0; i < k; ++i) s[i] = (radius / nn) * newton_[i];
        } else if (cn >= radius) {
            for (int32_t i = 0; i < k; ++i) s[i] = -(radius / gn) * g[i];
        } else {
            // From the Cauchy point towards eta times the Newton step, to
            // the boundary: |c + t (eta n - c)| = radius.
            for (int32_t i = 0; i < k; ++i) newton_[i] = eta * newton_[i] - cauchy_[i];
            const double a = dot(k, newton_, newton_), b = dot(k, cauchy_, newton_), c = cn * cn - radius * radius;
            const double t = (-b + std::sqrt(b * b - a * c)) / a;
            for (int32_t i = 0; i < k; ++i) s[i] = cauchy_[i] + t * newton_[i];
        }
    }
    for (int32_t i = 0; i < k; ++i) s[i] /= scale_.of(i);
    times_b(k, s, cauchy_);
    return -(dot(k, gIn, s) + 0.5 * dot(k, s, cauchy_));
}

}  // namespace

int32_t znlpddl(NlpProblem* p) {
    DoglegModel model;
    return trust_region_run(p, &model);
}
