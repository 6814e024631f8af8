// The trust-region iteration and the More-Sorensen step (see
// trust_region.h; Dennis and Schnabel, 1983, sec. 6.4; Nocedal and Wright,
// Numerical Optimization, 2nd ed., 2006, ch. 4).
#include "optimizer/techniques/trust_region.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "host/fields.h"
#include "numerics/cholesky.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {

constexpr int32_t kSecularSteps = 40;  // Newton steps on the secular equation
constexpr double kBoundaryBand = 0.1;  // |Ds| within 10% of the radius is on the boundary
constexpr double kAccept = 1e-4;       // the least ratio of actual to predicted reduction
constexpr int32_t kShrinks = 60;       // rejected steps at one point before giving up

double predicted(int32_t k, const double* h, const double* g, const double* s, double* tmp) {
    sym_mul(k, h, s, tmp);
    return -(dot(k, g, s) + 0.5 * dot(k, s, tmp));
}

// Takes back a step whose end point lowered f but where the gradient or the
// model could not be evaluated: such a point is no end of an iteration (the
// run could neither step nor measure from it, and would stop there as though
// the objective failed).  In a badly conditioned model the cross product
// J'WJ can come out there with a diagonal below zero by rounding alone.  x
// goes back to the base, where all three were evaluated, and the iteration
// of the step is uncounted when `counted`; false when the base's own
// values fail now.
bool withdraw_step(Frame* fr, bool counted) {
    NlpProblem* p = fr->p;
    if (counted) {
        p->run.iteration -= 1;
        p->run.iterSinceStart -= 1;
    }
    copy(fr->n, p->work.xBase, p->param.x);
    if (!fr->objective() || !fr->gradient()) return false;
    fr->changed = fr->hold_bounds();
    fr->projected_gradient();
    return true;
}

}  // namespace

double more_sorensen(int32_t k, const double* h, const double* g, double radius, double tol, double* lambda,
                     double* l, double* s, double* work, bool* unshifted) {
    double* q = work;
    // Bounds of lambda: below by the most negative diagonal and by
    // |g| / radius less a Gerschgorin bound of H, above by the sum.  The
    // row sums of |H| in one pass along the packed rows, each sum taking
    // its terms in the order of its row (q holds them for the while).
    std::fill(q, q + k, 0.0);
    for (int32_t r = 0; r < k; ++r) {
        const double* hr = h + pk_lower(r, 0);
        for (int32_t c = 0; c < r; ++c) {
            const double a = std::fabs(hr[c]);
            q[r] += a;
            q[c] += a;
        }
        q[r] += std::fabs(hr[r]);
    }
    double hnorm = 0.0, mindiag = DBL_MAX;
    for (int32_t i = 0; i < k; ++i) {
        hnorm = std::fmax(hnorm, q[i]);
        mindiag = std::fmin(mindiag, h[pk_lower(i, i)]);
    }
    const double gnorm = norm2(k, g);
    double lo = std::fmax(0.0, std::fmax(-mindiag, gnorm / radius - hnorm));
    double hi = gnorm / radius + hnorm;
    double lam = std::fmin(std::fmax(*lambda, lo), hi);
    auto solve = [&](double shift) {
        // The factor of H itself may be at hand already.
        if (shift != 0.0 || !*unshifted) {
            *unshifted = false;
            if (!cholesky(k, h, shift, tol, l)) return false;
            *unshifted = shift == 0.0;
        }
        copy(k, g, s);
        chol_solve(k, l, s);
        for (int32_t i = 0; i < k; ++i) s[i] = -s[i];
        return true;
    };
    // The Newton step when H is positive definite and it fits.
    if (solve(0.0) && norm2(k, s) <= (1.0 + kBoundaryBand) * radius) {
        *lambda = 0.0;
        return predicted(k, h, g, s, q);
    }
    bool haveStep = false;
    for (int32_t it = 0; it < kSecularSteps; ++it) {
        if (lam <= lo || lam >= hi) lam = std::fmax(1e-3 * hi, std::sqrt(lo * hi));
        if (!solve(lam)) {
            lo = lam;
            continue;
        }
        haveStep = true;
        const double sn = norm2(k, s);
        if (std::fabs(sn - radius) <= kBoundaryBand * radius) break;
        if (sn < radius)
            hi = lam;
        else
            lo = lam;
        // q solves L q = s; Newton's step on 1/|s(lambda)| - 1/radius.
        copy(k, s, q);
        zchol2(k, l, q);
        const double qn = dot(k, q, q);
        if (!(qn > 0.0)) break;
        lam += (sn * sn / qn) * ((sn - radius) / radius);
        if (!std::isfinite(lam)) lam = lo;
    }
    if (!haveStep) {
        // No shift factored (the hard case unresolved): steepest descent.
        for (int32_t i = 0; i < k; ++i) s[i] = -g[i];
        lam = hi;
    }
    // A step beyond the radius (the iteration stopped early) is pulled in.
    const double sn = norm2(k, s);
    if (sn > radius)
        for (int32_t i = 0; i < k; ++i) s[i] *= radius / sn;
    *lambda = lam;
    return predicted(k, h, g, s, q);
}

int32_t trust_region_run(NlpProblem* p, TrustModel* model) {
    if (refuses_general_constraints(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    if (!fr.reserve(model->doubles(p) + 3 * static_cast<int64_t>(n))) return kNlpNotUsable;
    model->take(&fr);
    double* gF = fr.take(n);
    double* sF = fr.take(n);
    double* tmp = fr.take(n);
    // The first radius (again after a restart): INSTEP when given, else the
    // size of x (at least 1).
    // The size is taken in the metric of the radius (|D x| for LEVMAR), so
    // that the first steps do not depend on the units of the parameters;
    // it needs the model of the first point.
    auto first_radius = [&]() {
        if (!wzmis(p->opt.inStep) && p->opt.inStep > 0.0) return p->opt.inStep;
        fr.gather(p->param.x, tmp);
        return std::fmax(1.0, model->step_norm(&fr, tmp));
    };
    double radius = 0.0;
    int32_t rc = fr.start();
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            if (!fr.restart()) return fr.failure();
            radius = 0.0;
            model->restarted();
        }
        if (!model->prepare(&fr)) return fr.failure();
        if (radius == 0.0) radius = first_radius();
        fr.gather(p->work.gradient, gF);
        fr.set_base();
        bool accepted = false, held = false;
        double acceptedNorm = 0.0;
        for (int32_t t = 0; t < kShrinks && !accepted && !held; ++t) {
            double pred = model->step(&fr, gF, radius, sF);
            fr.scatter(sF, p->work.direction);
            held = fr.hold_outward(p->work.direction);
            if (held) break;
            const double room = fr.step_bound(p->work.direction);
            const double a = room < 1.0 ? room : 1.0;
            pred *= a;  // a lower bound of the shortened step's reduction for a convex model
            for (int32_t j = 0; j < n; ++j) p->param.x[j] = p->work.xBase[j] + a * p->work.direction[j];
            const double snorm = a * model->step_norm(&fr, sF);
            const bool ok = fr.objective();
            const double actual = ok ? p->iter.fPrev - p->iter.f : -DBL_MAX;
            p->iter.rho = pred > 0.0 ? actual / pred : -1.0;
            if (ok && actual > 0.0 && p->iter.rho >= kAccept) {
                accepted = true;
                acceptedNorm = snorm;
                p->iter.lastStep = a;
                // A step on the boundary is one within the band the step
                // iteration accepts as on it: with a narrower test a
                // step that ends short of the radius inside that band never
                // lets the radius grow, and the run creeps on with a
                // rising lambda.
                if (p->iter.rho > 0.75 && snorm >= (1.0 - kBoundaryBand) * radius)
                    radius *= 2.0;
                else if (p->iter.rho < 0.25)
                    radius = 0.25 * snorm;
            } else {
                // Back to the base: the next trial's outward test reads x.
                copy(n, p->work.xBase, p->param.x);
                p->iter.f = p->iter.fPrev;
                radius = 0.25 * (snorm > 0.0 ? snorm : radius);
                if (radius <= 1e-300) break;
            }
        }
        p->iter.radius = radius;
        if (held) {  // the model again on the smaller free set
            rc = 0;
            continue;
        }
        if (!accepted) {
            copy(n, p->work.xBase, p->param.x);
            p->iter.f = p->iter.fPrev;
            return fr.stop(kNlpTechniqueStop6);
        }
        const bool late = model->measures_new_point();
        bool formed = fr.gradient(), counted = false;
        if (formed) {
            p->iter.expectedReduction = p->iter.fPrev - p->iter.f;
            model->accepted(&fr);
            counted = late;
            if (late) fr.advance();
            fr.gather(p->work.gradient, gF);
            p->iter.gconvMeasure = model->measure(&fr, gF, tmp);
            formed = model->formed();
        }
        if (!formed) {
            if (!withdraw_step(&fr, counted)) return fr.failure();
            radius = 0.25 * acceptedNorm;
            rc = 0;
            continue;
        }
        p->iter.lmGconvMeasure = p->iter.gconvMeasure;
        p->iter.scaledGradMax = model->scaled_gradient(&fr);
        rc = late ? fr.test() : fr.next();
    }
    return rc;
}

}  // namespace velix::detail
