// The Nelder-Mead simplex method (Nelder and Mead, "A simplex method for
// function minimization", Computer Journal 7, 1965; the coefficients 1, 2,
// 1/2, 1/2 of Lagarias, Reeds, Wright and Wright, SIAM J. Optim. 9, 1998).
// Bounds are kept by projecting every trial vertex onto the box.  Only
// objective values are used.
//
// An iteration, as the termination test sees it, ends when the best
// vertex improved, or when the simplex collapsed below ABSXCONV or its
// value spread fell below FCONV2 (a converged simplex); reflections that
// move only other vertices are not iterations, so that no test sees a zero
// change.  The measures: x the best vertex, xBase the previous best, f and
// fPrev their values, lastStep and maxProjGrad the simplex diameter (the
// largest distance of a vertex from the best), gconvMeasure the value
// spread f_worst - f_best.
#include "optimizer/techniques/simplex.h"

#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <utility>

#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"

namespace velix::detail {

namespace {

constexpr double kReflect = 1.0, kExpand = 2.0, kContract = 0.5, kShrink = 0.5;
// The first simplex: a step of 5% of |x_j| along each axis, 0.00025 at 0
// (Lagarias et al. and the usual choice of MATLAB-like implementations).
constexpr double kStartStep = 0.05, kZeroStep = 0.00025;
// NMSIM2: probe steps along each axis and the most restarts.
constexpr double kProbeStep = 1e-3;
constexpr int32_t kMostProbeRestarts = 10;

struct Simplex {
    Frame* fr;
    int32_t n;
    double* v;   // n+1 vertices of n
    double* fv;  // their values
    double* c;   // centroid
    double* t1;  // trial points
    double* t2;
    double ft1 = 0.0, ft2 = 0.0;

    double* vertex(int32_t i) const { return v + static_cast<int64_t>(i) * n; }

    // f at point y (projected onto the box first); false on failure.
    bool value(double* y, double* f) {
        NlpProblem* p = fr->p;
        if (fr->bounded)
            for (int32_t j = 0; j < n; ++j) y[j] = std::fmin(std::fmax(y[j], p->param.lower[j]), p->param.upper[j]);
        copy(n, y, p->param.x);
        const bool ok = fr->objective();
        *f = ok ? p->iter.f : DBL_MAX;
        return ok;
    }

    bool build(const double* x0, double f0) {
        copy(n, x0, vertex(0));
        fv[0] = f0;
        for (int32_t i = 1; i <= n; ++i) {
            double* y = vertex(i);
            copy(n, x0, y);
            const double xj = y[i - 1];
            double h = xj != 0.0 ? kStartStep * xj : kZeroStep;
            // Inside the box: the other way when the step would leave it.
            if (fr->bounded && (xj + h > fr->p->param.upper[i - 1] || xj + h < fr->p->param.lower[i - 1])) h = -h;
            y[i - 1] = xj + h;
            if (!value(y, &fv[i])) fv[i] = DBL_MAX;
        }
        order();
        return true;
    }

    // Vertex 0 the best, n the worst (insertion sort: n is small).
    void order() {
        for (int32_t i = 1; i <= n; ++i)
            for (int32_t j = i; j > 0 && fv[j] < fv[j - 1]; --j) {
                std::swap(fv[j], fv[j - 1]);
                for (int32_t m = 0; m < n; ++m) std::swap(vertex(j)[m], vertex(j - 1)[m]);
            }
    }

    double diameter() const {
        double d = 0.0;
        for (int32_t i = 1; i <= n; ++i) {
            double s = 0.0;
            for (int32_t m = 0; m < n; ++m) s += (vertex(i)[m] - v[m]) * (vertex(i)[m] - v[m]);
            d = std::fmax(d, std::sqrt(s));
        }
        return d;
    }

    void replace_worst(const double* y, double f) {
        copy(n, y, vertex(n));
        fv[n] = f;
        order();
    }

    // One Nelder-Mead step (reflection, expansion, contraction or shrink).
    void step() {
        for (int32_t m = 0; m < n; ++m) {
            double s = 0.0;
            for (int32_t i = 0; i < n; ++i) s += vertex(i)[m];
            c[m] = s / n;
        }
        const double* w = vertex(n);
        for (int32_t m = 0; m < n; ++m) t1[m] = c[m] + kReflect * (c[m] - w[m]);
        value(t1, &ft1);
        if (ft1 < fv[0]) {
            for (int32_t m = 0; m < n; ++m) t2[m] = c[m] + kExpand * (t1[m] - c[m]);
            value(t2, &ft2);
            if (ft2 < ft1)
                replace_worst(t2, ft2);
            else
                replace_worst(t1, ft1);
            return;
        }
        if (ft1 < fv[n - 1]) {
            replace_worst(t1, ft1);
            return;
        }
        // Contraction: outside when the reflection beat the worst vertex.
        const bool outside = ft1 < fv[n];
        for (int32_t m = 0; m < n; ++m)
            t2[m] = outside ? c[m] + kContract * (t1[m] - c[m]) : c[m] + kContract * (w[m] - c[m]);
        value(t2, &ft2);
        if (ft2 < (outside ? ft1 : fv[n])) {
            replace_worst(t2, ft2);
            return;
        }
        for (int32_t i = 1; i <= n; ++i) {
            double* y = vertex(i);
            for (int32_t m = 0; m < n; ++m) y[m] = v[m] + kShrink * (y[m] - v[m]);
            value(y, &fv[i]);
        }
        order();
    }
};

// Puts the best vertex and the measures into the problem.
void publish(Simplex* s) {
    NlpProblem* p = s->fr->p;
    copy(s->n, s->v, p->param.x);
    p->iter.f = s->fv[0];
    p->iter.lastStep = s->diameter();
    p->iter.maxProjGrad = p->iter.lastStep;
    p->iter.gconvMeasure = s->fv[s->n] - s->fv[0];
}

// NMSIM2's check of a converged simplex: a decrease along an axis from the
// point the run ended at (the check of the claim may have moved it below
// the best vertex); true with x and f at the better point, else x and f
// as they were.
bool probe_axes(Simplex* s) {
    NlpProblem* p = s->fr->p;
    const int32_t n = s->n;
    const double fBest = p->iter.f;
    copy(n, p->param.x, s->t2);
    for (int32_t j = 0; j < n; ++j)
        for (double sign : {1.0, -1.0}) {
            copy(n, s->t2, s->t1);
            s->t1[j] += sign * kProbeStep * std::fmax(1.0, std::fabs(s->t1[j]));
            double f = 0.0;
            if (s->value(s->t1, &f) && f < fBest) {
                copy(n, s->t1, p->param.x);
                p->iter.f = f;
                return true;
            }
        }
    copy(n, s->t2, p->param.x);
    p->iter.f = fBest;
    return false;
}

}  // namespace

int32_t simplex_run(NlpProblem* p, bool probe) {
    // Linear rows: the constrained simplex keeps them (its linear models
    // of the rows are exact), the bounds with them.
    if (p->shape.hasLinCon != 0 && p->shape.hasNlinCon == 0 && reads_linear_rows(p)) return znlpcob(p);
    if (refuses_general_constraints(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    const int64_t nn = n;
    if (!fr.reserve((nn + 1) * nn + (nn + 1) + 3 * nn)) return kNlpNotUsable;
    Simplex s{&fr, n, fr.take((nn + 1) * nn), fr.take(nn + 1), fr.take(nn), fr.take(nn), fr.take(nn)};
    int32_t restarts = 0;
    s.build(p->param.x, p->iter.f);
    publish(&s);
    fr.set_base();
    // The start test: the simplex measures are not yet known.
    p->iter.maxProjGrad = DBL_MAX;
    int32_t rc = p->cb.terminationFn(p, 10);
    for (;;) {
        while (rc == 0 || rc == kNlpRestart) {
            if (rc == kNlpRestart) {
                // A new simplex around the moved point, valued anew.
                p->run.nRestarts += 1;
                if (!fr.objective()) return kNlpFinalFunction;
                s.build(p->param.x, p->iter.f);
                rc = 0;
            }
            copy(n, s.v, p->work.xBase);
            p->iter.fPrev = s.fv[0];
            const double best = s.fv[0];
            // Steps until the best vertex improves or the simplex converged.
            for (;;) {
                if (p->run.nFun >= p->opt.maxFunc) {
                    publish(&s);
                    return fr.stop(kNlpLimit);
                }
                s.step();
                if (s.fv[0] < best) break;
                const double d = s.diameter();
                if (d <= p->opt.absXConv || s.fv[n] - s.fv[0] <= p->opt.fConv2) break;
            }
            publish(&s);
            p->run.iteration += 1;
            rc = p->cb.terminationFn(p, 1);
        }
        // NMSIM2: a met criterion is checked along the axes first.
        const bool converged = rc >= kNlpAbsConv && rc <= kNlpGConv2;
        if (!probe || !converged || restarts >= kMostProbeRestarts || !probe_axes(&s)) break;
        restarts += 1;
        p->run.nRestarts += 1;
        s.build(p->param.x, p->iter.f);
        rc = 0;
    }
    return rc;
}

}  // namespace velix::detail
