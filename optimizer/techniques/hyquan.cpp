// HYQUAN: the hybrid Gauss-Newton / quasi-Newton method for least squares
// (Fletcher and Xu, "Hybrid methods for nonlinear least squares", IMA J.
// Numer. Anal. 7, 1987).  The matrix B = L L' starts as the cross product
// 2 J'J of the Hessian slot; after a step that reduces f by at least a
// fifth (a small-residual problem) it is the cross product at the new
// point again, else it is changed by the BFGS (or DFP) update of the
// dual quasi-Newton form; every RESTART iterations it is the cross product
// again.  The direction solves B d = -g; a line search follows.
//
// Reads: x, f, gradient, the Hessian slot, update, restart, lineSearch and
// its options; calls the reset slot (resetFn) at each restart.  Leaves: x, f, gradient, hessian, xBase, gradBase, fPrev,
// direction, lastStep, ridge, maxProjGrad, gconvMeasure (g'B^-1 g),
// iteration and the counters.  Statuses: as QUANEW (see quanew.cpp).
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/quasi_newton.h"
#include "optimizer/techniques/techniques.h"

using namespace velix::detail;

namespace {

constexpr double kGaussNewtonShare = 0.2;  // the share of f a step must remove to keep J'J

// B := the cross product at x, factored over the free set (with a ridge
// where J is rank deficient).
bool cross_product(Frame* fr, QuasiNewton* qn, double* hF) {
    NlpProblem* p = fr->p;
    if (!fr->hessian()) return false;
    fr->gather_hessian(hF);
    p->iter.ridge = ridge_factor(fr->k, hF, p->opt.singularTol, 0.0, qn->m);
    qn->fresh = false;
    return true;
}

}  // namespace

int32_t znlphqn(NlpProblem* p) {
    if (refuses_general_constraints(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    QuasiNewton qn{QuasiNewtonForm::kFactor};
    if (!fr.reserve(QuasiNewton::doubles(n) + static_cast<int64_t>(n) * (n + 1) / 2 + 2 * static_cast<int64_t>(n)))
        return kNlpNotUsable;
    qn.take(&fr);
    double* hF = fr.take(static_cast<int64_t>(n) * (n + 1) / 2);
    double* gF = fr.take(n);
    double* dF = fr.take(n);
    int32_t rc = fr.start();
    bool gaussNewton = true, retry = false;
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart && !fr.restart()) return fr.failure();
        // A restart (a moved point, RESTART, a failed search) is announced
        // through the reset slot.
        if (rc == kNlpRestart || retry || fr.restart_due()) znlpinc(p, 1);
        if ((fr.changed || gaussNewton || retry || fr.restart_due()) && !cross_product(&fr, &qn, hF))
            return fr.failure();
        retry = false;
        fr.gather(p->work.gradient, gF);
        qn.direction(fr, gF, dF);
        fr.scatter(dF, p->work.direction);
        if (fr.hold_outward(p->work.direction)) {
            rc = 0;
            continue;
        }
        const int32_t ls = fr.line_search();
        if (ls < 0) return fr.failure();
        if (ls > 0) {
            if (gaussNewton) return fr.stop(kNlpTechniqueStop7);
            // Once more from the cross product; a search that fails along
            // its direction too ends the run (else the two would alternate
            // without end, no iteration being counted).
            retry = gaussNewton = true;
            rc = 0;
            continue;
        }
        gaussNewton = p->iter.fPrev - p->iter.f >= kGaussNewtonShare * p->iter.fPrev;
        if (!gaussNewton) qn.update(&fr);
        fr.gather(p->work.gradient, gF);
        p->iter.gconvMeasure = qn.measure(fr, gF, dF);
        rc = fr.next();
    }
    return rc;
}
