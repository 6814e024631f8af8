// NRRIDG: Newton with a ridge and no line search.  The full Newton step of
// H + mu I is tried; while it does not decrease f (or H + mu I does not
// factor) the ridge mu is raised fourfold, which shortens the step and
// turns it towards steepest descent (Levenberg, 1944; Marquardt, 1963; Gill,
// Murray and Wright, Practical Optimization, 1981, sec. 4.4.2).  After an
// accepted step the ridge is lowered fourfold for the next iteration.
//
// Reads: x, f, gradient, the Hessian slot.  Leaves: x, f, gradient,
// hessian, xBase, gradBase, fPrev, direction (the accepted step), lastStep
// (1, or less where a bound stops it), ridge, rho (actual over predicted
// reduction), maxProjGrad, gconvMeasure, iteration and the counters.
// Statuses: those of the termination test, kNlpTechniqueStop6 when no
// ridge gives a decrease, kNlpFinalFunction when the objective failed at
// the point the run is at, kNlpFinalDerivative when its gradient or
// Hessian did, kNlpNotUsable without work space.
#include <cfloat>
#include <cmath>

#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/scaling.h"
#include "optimizer/techniques/techniques.h"

using namespace velix::detail;

namespace {

// The tries at one point; the ridge grows by 4^40 over them.
constexpr int32_t kTries = 40;

// Tries steps of growing ridge from the base point; true when one
// decreased f (x, f and the gradient are then current).  *held: a step
// pointed out of the box at a bound, which is now held.
bool ridged_step(Frame* fr, const ParameterScale& scale, NewtonStep* step, const double* hF, double* mu, bool* failed,
                 bool* held) {
    NlpProblem* p = fr->p;
    const int32_t n = fr->n;
    double big = 0.0;
    for (int32_t i = 0; i < fr->k; ++i) big = std::fmax(big, std::fabs(hF[i * (i + 3) / 2]));
    const double start = 1e-8 * (big > 0.0 ? big : 1.0);
    for (int32_t t = 0; t < kTries; ++t) {
        *mu = ridge_factor(fr->k, hF, p->opt.singularTol, *mu, step->l);
        if (*mu == DBL_MAX) return false;
        step->solve(*fr, step->gF, step->dF);
        scale.scatter(step->dF, p->work.direction);
        if (fr->hold_outward(p->work.direction)) {
            *held = true;
            return false;
        }
        const double room = fr->step_bound(p->work.direction);
        const double a = room < 1.0 ? room : 1.0;
        for (int32_t j = 0; j < n; ++j) p->param.x[j] = p->work.xBase[j] + a * p->work.direction[j];
        if (fr->objective() && p->iter.f < p->iter.fPrev) {
            p->iter.ridge = *mu;
            p->iter.lastStep = a;
            // Actual over predicted reduction; with (H + mu I) s = -g the
            // model predicts -a g's (1 - a/2) for the step a s.
            const double pred = -a * dot(fr->k, step->gF, step->dF) * (1.0 - 0.5 * a);
            p->iter.rho = pred > 0.0 ? (p->iter.fPrev - p->iter.f) / pred : 0.0;
            if (!fr->gradient()) *failed = true;
            return true;
        }
        // Back to the base: the next trial's outward test reads x.
        copy(n, p->work.xBase, p->param.x);
        p->iter.f = p->iter.fPrev;
        *mu = *mu < start ? start : 4.0 * *mu;
    }
    return false;
}

}  // namespace

int32_t znlpnrr(NlpProblem* p) {
    if (refuses_general_constraints(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    NewtonStep step{NewtonFactor::kRidge};
    if (!fr.reserve(NewtonStep::doubles(n) + static_cast<int64_t>(n) * (n + 1) / 2)) return kNlpNotUsable;
    step.take(&fr);
    double* hF = fr.take(static_cast<int64_t>(n) * (n + 1) / 2);
    double mu = 0.0;
    bool fresh = false;  // hF holds the Hessian of the current point
    ParameterScale scale(&fr);
    int32_t rc = fr.start();
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            if (!fr.restart()) return fr.failure();
            fresh = false;
        }
        if (!fresh) {
            if (!fr.hessian()) return fr.failure();
            fr.gather_hessian(hF);
        }
        fresh = false;
        // HESCAL: the ridge is added in the scaled variables.
        scale.update();
        scale.matrix(hF);
        scale.gather(p->work.gradient, step.gF);
        fr.set_base();
        bool failed = false, held = false;
        const bool stepped = ridged_step(&fr, scale, &step, hF, &mu, &failed, &held);
        if (held) {
            rc = 0;
            continue;
        }
        if (!stepped) {
            copy(n, p->work.xBase, p->param.x);
            p->iter.f = p->iter.fPrev;
            return fr.stop(kNlpTechniqueStop6);
        }
        if (failed) return fr.failure();
        p->iter.expectedReduction = p->iter.fPrev - p->iter.f;
        p->run.iterMark = p->iter.ridge > 0.0 ? 1 : 0;  // the history marks a ridged step
        scale.gather(p->work.gradient, step.gF);
        step.solve(fr, step.gF, step.dF);
        const double stale = -dot(fr.k, step.gF, step.dF);
        mu *= 0.25;
        // The measure with the Hessian of the new point: the ridged factor
        // of the old one makes a large gradient look small after a long
        // step and ends the run far from a stationary point.
        rc = fresh_measure_test(&fr, stale, hF, step.l, step.dF);
        fresh = true;
    }
    return rc;
}
