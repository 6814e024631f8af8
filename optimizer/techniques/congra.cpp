// CONGRA: nonlinear conjugate gradients with a line search, preconditioned
// by the diagonal P of squared typical parameter sizes (Nocedal and
// Wright, Numerical Optimization, 2nd ed., 2006, sec. 5.2; P is fixed
// between restarts so that the directions stay conjugate).  The direction
// is d = -P g + beta d_prev with beta, its products taken in P, by the
// update code: 1 (and the
// default) Powell-Beale, the Polak-Ribiere beta (kept >= 0) with a restart
// when successive gradients are far from orthogonal (|g'g_prev| >= 0.2 g'g;
// Powell, "Restart procedures for the conjugate gradient method", Math.
// Prog. 12, 1977); 2 Fletcher-Reeves; 3 Polak-Ribiere; 4 conjugate descent
// (Fletcher, Practical Methods of Optimization, 1987, sec. 4.1).  The
// direction restarts from steepest descent every RESTART iterations (n
// when RESTART is 0 or missing), when it is no descent direction and after
// a change of the free set.
//
// Reads: x, f, gradient, update, restart, lineSearch and its options.
// Leaves: x, f, gradient, xBase, gradBase, fPrev, direction, lastStep,
// maxProjGrad, scaledGradMax and gconvMeasure (g'P g), iteration and the
// counters.  Statuses: those of the termination test, kNlpTechniqueStop7
// after a failed line search along steepest descent, kNlpFinalFunction
// when the objective failed at the point the run is at,
// kNlpFinalDerivative when its gradient did, kNlpNotUsable without work
// space.
#include <cmath>

#include "host/fields.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"

using namespace velix::detail;

namespace {

constexpr double kPowellRestart = 0.2;  // |g'g_prev| / g'g that restarts PB

// The dot product a'P b with the diagonal preconditioner P.
double pdot(int32_t k, const double* a, const double* b, const double* pc) {
    double s = 0.0;
    for (int32_t i = 0; i < k; ++i) s += a[i] * pc[i] * b[i];
    return s;
}

double beta(int32_t update, int32_t k, const double* g, const double* gPrev, const double* dPrev, const double* pc) {
    const double gg = pdot(k, g, g, pc), gp = pdot(k, g, gPrev, pc), pp = pdot(k, gPrev, gPrev, pc);
    if (!(pp > 0.0)) return 0.0;
    switch (update) {
        case 2: return gg / pp;
        case 3: return (gg - gp) / pp;
        case 4: {
            const double dg = dot(k, dPrev, gPrev);
            return dg < 0.0 ? -gg / dg : 0.0;
        }
        default:
            if (std::fabs(gp) >= kPowellRestart * gg) return 0.0;
            return std::fmax(0.0, (gg - gp) / pp);
    }
}

}  // namespace

int32_t znlpcog(NlpProblem* p) {
    if (refuses_general_constraints(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    if (!fr.reserve(4 * static_cast<int64_t>(n))) return kNlpNotUsable;
    double* gF = fr.take(n);
    double* gPrev = fr.take(n);
    double* dF = fr.take(n);
    double* pc = fr.take(n);  // the diagonal preconditioner, fixed between restarts
    const int32_t every = !wzmis(p->opt.restart) && p->opt.restart >= 1.0 && p->opt.restart < n ? static_cast<int32_t>(p->opt.restart) : n;
    int32_t since = 0;  // iterations since the last steepest-descent start
    int32_t rc = fr.start();
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart && !fr.restart()) return fr.failure();
        fr.gather(p->work.gradient, gF);
        double b = 0.0;
        if (!fr.changed && since > 0 && since < every) b = beta(p->opt.update, fr.k, gF, gPrev, dF, pc);
        if (b == 0.0) typical_scale(fr, pc);
        for (int32_t i = 0; i < fr.k; ++i) dF[i] = -pc[i] * gF[i] + b * dF[i];
        if (b != 0.0 && dot(fr.k, gF, dF) >= 0.0) {
            b = 0.0;
            typical_scale(fr, pc);
            for (int32_t i = 0; i < fr.k; ++i) dF[i] = -pc[i] * gF[i];
        }
        since = b == 0.0 ? 1 : since + 1;
        fr.scatter(dF, p->work.direction);
        if (fr.hold_outward(p->work.direction)) {
            rc = 0;
            continue;
        }
        const int32_t ls = fr.line_search();
        if (ls < 0) return fr.failure();
        if (ls > 0) {
            if (b == 0.0) return fr.stop(kNlpTechniqueStop7);
            since = 0;  // once more from steepest descent
            rc = 0;
            continue;
        }
        copy(fr.k, gF, gPrev);
        fr.gather(p->work.gradient, gF);
        p->iter.gconvMeasure = pdot(fr.k, gF, gF, pc);
        p->iter.scaledGradMax = p->iter.gconvMeasure;
        rc = fr.next();
    }
    return rc;
}
