// The quasi-Newton matrix and the QUANEW iteration (see quasi_newton.h and
// quanew.cpp).
#include "optimizer/techniques/quasi_newton.h"
#include "optimizer/techniques/sqp.h"

#include <cmath>

#include "host/fields.h"
#include "optimizer/core/core.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

namespace velix::detail {

int64_t QuasiNewton::doubles(int32_t n) {
    const int64_t nn = n;
    return nn * (nn + 1) / 2 + 4 * nn + nn * nn;
}

void QuasiNewton::take(Frame* fr) {
    const int32_t n = fr->n;
    m = fr->take(static_cast<int64_t>(n) * (n + 1) / 2);
    s = fr->take(n);
    y = fr->take(n);
    w1 = fr->take(n);
    w2 = fr->take(n);
    w3 = fr->take(static_cast<int64_t>(n) * n);
}

void QuasiNewton::reset(Frame* fr) {
    NlpProblem* p = fr->p;
    fresh = true;
    // The start matrix of the options: INHESSIAN times I (or the automatic
    // multiple of I from the gradient), or the Hessian at x; reduced to the
    // free set and inverted or factored.  Without it, the identity.
    int32_t full = 0;
    if (p->opt.startFromHessian != 0 && fr->hessian()) {
        fr->gather_hessian(m, true);
        full = 1;
    }
    const int32_t kind = form == QuasiNewtonForm::kInverse ? 0 : 2;
    if (full == 0) znlphin(p, 1, 0, 0, kind, m);
    if (znlphin(p, 2, full, 0, kind, m) != 0) set_identity(fr->k, 1.0, m);
    // The automatic start d I over the free space becomes d times the
    // diagonal of squared typical sizes (H) or its inverse (B), on the
    // null space of active rows the diagonal of Z'DZ; the first update
    // then rescales it as a whole.
    if (full == 0 && wzmis(p->opt.inHessian)) {
        typical_scale(*fr, w1);
        for (int32_t i = 0; i < fr->k; ++i) {
            double& e = m[pk_lower(i, i)];
            e = form == QuasiNewtonForm::kInverse ? e * w1[i] : e / std::sqrt(w1[i]);
        }
    }
}

void QuasiNewton::direction(const Frame& fr, const double* g, double* out) const {
    if (form == QuasiNewtonForm::kInverse) {
        sym_mul(fr.k, m, g, out);
    } else {
        copy(fr.k, g, out);
        chol_solve(fr.k, m, out);
    }
    for (int32_t i = 0; i < fr.k; ++i) out[i] = -out[i];
}

double QuasiNewton::measure(const Frame& fr, const double* g, double* tmp) const {
    direction(fr, g, tmp);
    return -dot(fr.k, g, tmp);
}

void QuasiNewton::update(Frame* fr) {
    NlpProblem* p = fr->p;
    fr->gather_change(p->param.x, p->work.xBase, s);
    fr->gather_change(p->work.gradient, p->work.gradBase, y);
    const NlpUpdateFn fn = p->cb.updateFn != nullptr ? p->cb.updateFn : znlpbfg;
    // A refused update (nearly orthogonal s and y, no curvature) keeps
    // the matrix; the next step tries again.
    // The history marks an iteration whose update was refused.
    const bool done = fn(p, static_cast<int32_t>(form), fresh ? 1 : 0, fr->n, s, y, m, w1, w2, w3) == 0;
    p->run.iterMark = done ? 0 : 1;
    if (done) fresh = false;
}

int32_t quasi_newton_run(NlpProblem* p, QuasiNewtonForm form) {
    // Nonlinear constraints: the quasi-Newton matrix of the Lagrange
    // function in the sequential quadratic programming iteration.  Linear
    // rows stay on the core's active set, the matrix on its null space.
    if (p->shape.hasNlinCon != 0) return sqp_run(p, false);
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    QuasiNewton qn{form};
    if (!fr.reserve(QuasiNewton::doubles(n) + 2 * static_cast<int64_t>(n))) return kNlpNotUsable;
    qn.take(&fr);
    double* gF = fr.take(n);
    double* dF = fr.take(n);
    int32_t rc = fr.start();
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart && !fr.restart()) return fr.failure();
        if (fr.changed || fr.restart_due()) qn.reset(&fr);
        fr.gather(p->work.gradient, gF);
        qn.direction(fr, gF, dF);
        // An updated matrix that gives no descent is started again.
        if (dot(fr.k, gF, dF) >= 0.0 && !qn.fresh) {
            qn.reset(&fr);
            qn.direction(fr, gF, dF);
        }
        fr.scatter(dF, p->work.direction);
        if (fr.hold_outward(p->work.direction)) {
            rc = 0;
            continue;
        }
        const int32_t ls = fr.line_search();
        if (ls < 0) return fr.failure();
        if (ls > 0) {
            // Along an updated matrix's direction: once more along steepest descent.
            if (qn.fresh) return fr.stop(kNlpTechniqueStop7);
            qn.reset(&fr);
            fr.changed = false;
            rc = 0;
            continue;
        }
        qn.update(&fr);
        fr.gather(p->work.gradient, gF);
        p->iter.gconvMeasure = qn.measure(fr, gF, dF);
        rc = fr.next();
    }
    return rc;
}

}  // namespace velix::detail
