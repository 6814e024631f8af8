// NMSIMP with nonlinear constraints (znlpcob): the constrained simplex
// method that models the objective and the nonlinear constraints by linear
// interpolation on a simplex of n + 1 points and steps within a trust
// region (Powell, A direct search optimization method that models the
// objective and constraint functions by linear interpolation, 1994).  With
// the best vertex x0 and radius rho, each iteration
//   1. interpolates g and the constraint rows a_i on the simplex;
//   2. solves min g'd + mu t over |d_j| <= rho, the bounds and the linear
//      rows (kept exactly), c_i + a_i'd + t >= 0 (both signs for an
//      equality) and t >= 0, with the small proximal terms
//      1e-3 (|g| / rho) |d|^2 / 2 and 1e-8 of that for t that make it a strictly
//      convex program (dual_qp.h): the elastic t makes it solvable even
//      where the linearised constraints are not;
//   3. raises the weight mu of the merit function
//      Phi = f + mu max_i violation_i to twice the largest multiplier;
//   4. evaluates x0 + d: a lower merit moves the best vertex there (the
//      vertex farthest from it leaves the simplex; a gain at the region's
//      edge doubles rho up to its first value; a simplex gone flat is
//      built again around x0); otherwise, or when the step is short
//      against rho or the program failed at a feasible x0, rho is halved
//      and the simplex built again around x0.
// The run ends when rho reaches ABSXCONV (the termination test reads it).
//
// Reads: x (within the bounds and linear rows), f, conValues, bounds,
// the linear rows (through the row slot, or dense or compressed), linRhs,
// stepCap (the first radius).  Leaves: x, f,
// conValues (at the best vertex), xBase, fPrev (the merit of the last
// iteration), gconvMeasure (the merit), rho (the radius), lastStep,
// maxConViolation, iteration and the counters.  Statuses: those of the
// termination test, kNlpTechniqueStop6 when the program fails at an
// infeasible point or the radius reaches ABSXCONV there, kNlpFinalFunction after a failed evaluation at the best vertex,
// kNlpNotUsable without work space or without a way to read the linear
// rows.
#include <cfloat>
#include <cmath>
#include <utility>

#include "host/fields.h"
#include "optimizer/techniques/dual_qp.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk_lower;

namespace {

// A step shorter than this share of rho halves rho.
constexpr double kShortStep = 0.1;
// A simplex edge whose part outside the span of the edges before it is
// below this share of its length makes the simplex flat.
constexpr double kFlat = 0.05;
// The proximal weight of d against |g| / rho: small, so that the step is
// nearly that of the linear program and reaches the region's edge along
// the active constraints.
constexpr double kProximal = 1e-3;
// The elastic variable's proximal weight against that of d.
constexpr double kElasticProximal = 1e-8;

struct Cob {
    Frame* fr = nullptr;
    NlpProblem* p = nullptr;
    int32_t n = 0, mc = 0, m = 0;
    double rho = 0.0, mu = 0.0;
    double* v = nullptr;      // the n + 1 vertices, vertex 0 the best
    double* fv = nullptr;     // f at each vertex
    double* cv = nullptr;     // the constraint values at each vertex (mc each)
    double* delta = nullptr;  // n x n work: the edges
    double* rhs = nullptr;    // n work
    double* model = nullptr;  // (1 + mc) x n: g, then the constraint rows
    double* g = nullptr;      // the program: (n + 1) packed, c, rows, values
    double* c = nullptr;
    double* a = nullptr;
    double* b = nullptr;
    double* d = nullptr;
    double* lam = nullptr;
    int32_t* act = nullptr;
    double* qpWork = nullptr;
    double* linearRow = nullptr;  // n: one linear row

    double* vertex(int32_t k) const { return v + static_cast<int64_t>(k) * n; }
    double* values(int32_t k) const { return cv + static_cast<int64_t>(k) * mc; }

    double violation(const double* cval) const {
        double w = 0.0;
        for (int32_t i = 0; i < mc; ++i) w = std::fmax(w, i < p->shape.nNlinEq ? std::fabs(cval[i]) : -cval[i]);
        return w;
    }
    double merit(int32_t k) const { return fv[k] + mu * violation(values(k)); }
    // The best vertex meets the constraints as a final point must (beyond
    // 0.001 the results call a point violated).
    bool feasible() const { return violation(values(0)) <= 1e-3; }

    // f and the constraint values at y into vertex k's records.
    bool evaluate(const double* y, int32_t k) {
        copy(n, y, p->param.x);
        if (!fr->objective()) return false;
        p->run.evalStatus = 0.0;
        if (p->cb.conValuesFn != nullptr && (p->cb.conValuesFn(p) != 0 || p->run.evalStatus != 0.0)) return false;
        copy(n, y, vertex(k));
        fv[k] = p->iter.f;
        copy(mc, p->con.conValues, values(k));
        return true;
    }

    // The simplex around vertex 0 with edges rho along the axes (inward
    // at an upper bound).
    bool rebuild() {
        for (int32_t j = 0; j < n; ++j) {
            double* y = rhs;
            copy(n, vertex(0), y);
            const double up = fr->bounded ? p->param.upper[j] : DBL_MAX;
            y[j] += y[j] + rho <= up ? rho : -rho;
            if (!evaluate(y, j + 1)) return false;
        }
        return true;
    }

    bool flat() const {
        double* e = delta;
        for (int32_t k = 0; k < n; ++k) {
            double* ek = e + static_cast<int64_t>(k) * n;
            for (int32_t j = 0; j < n; ++j) ek[j] = vertex(k + 1)[j] - vertex(0)[j];
            const double len = norm2(n, ek);
            for (int32_t q = 0; q < k; ++q) {
                const double* eq = e + static_cast<int64_t>(q) * n;
                axpy(n, -dot(n, eq, ek), eq, ek);
            }
            const double rest = norm2(n, ek);
            if (!(rest > kFlat * len)) return true;
            for (int32_t j = 0; j < n; ++j) ek[j] /= rest;
        }
        return false;
    }

    // Step 1: the interpolated gradient of f and of each constraint.
    bool interpolate() {
        for (int32_t f = 0; f <= mc; ++f) {
            for (int32_t k = 0; k < n; ++k) {
                for (int32_t j = 0; j < n; ++j) delta[k * n + j] = vertex(k + 1)[j] - vertex(0)[j];
                rhs[k] = f == 0 ? fv[k + 1] - fv[0] : values(k + 1)[f - 1] - values(0)[f - 1];
            }
            if (!lu_solve(n, delta, rhs)) return false;
            copy(n, rhs, model + static_cast<int64_t>(f) * n);
        }
        return true;
    }

    double* row(int32_t i) const { return a + static_cast<int64_t>(i) * (n + 1); }

    void add(const double* coef, double tcoef, double value) {
        double* r = row(m);
        for (int32_t j = 0; j < n; ++j) r[j] = coef == nullptr ? 0.0 : coef[j];
        r[n] = tcoef;
        b[m] = value;
        ++m;
    }

    // Step 2 and 3: the program in (d, t); its step into d.
    int32_t program() {
        const int32_t nt = n + 1;
        const double gn = norm2(n, model);
        const double sigma = kProximal * std::fmax(gn, 1e-8 * (1.0 + std::fabs(fv[0]))) / rho;
        for (int32_t i = 0; i < nt; ++i)
            for (int32_t j = 0; j <= i; ++j) g[pk_lower(i, j)] = i != j ? 0.0 : i < n ? sigma : kElasticProximal * sigma;
        copy(n, model, c);
        // The elastic weight: large enough that t stays 0 wherever the
        // linearised constraints can be met.
        const double weight = std::fmax(2.0 * mu, 1e6 * (1.0 + gn));
        c[n] = weight;
        m = 0;
        const double* x0 = vertex(0);
        double* coef = rhs;
        for (int32_t i = 0; i < mc; ++i) {
            const double* ai = model + static_cast<int64_t>(i + 1) * n;
            add(ai, 1.0, values(0)[i]);
            if (i < p->shape.nNlinEq) {
                for (int32_t j = 0; j < n; ++j) coef[j] = -ai[j];
                add(coef, 1.0, -values(0)[i]);
            }
        }
        add(nullptr, 1.0, 0.0);
        for (int32_t k = 0; p->shape.hasLinCon && k < p->shape.nLinCon; ++k) {
            double* lr = linearRow;
            linear_row(p, k, lr);
            const double val = dot(n, lr, x0) - p->con.linRhs[k];
            add(lr, 0.0, val);
            if (k < p->shape.nLinEq) {
                for (int32_t j = 0; j < n; ++j) coef[j] = -lr[j];
                add(coef, 0.0, -val);
            }
        }
        for (int32_t j = 0; j < n; ++j) {
            for (int32_t e = 0; e < n; ++e) coef[e] = e == j ? 1.0 : 0.0;
            const double lo = fr->bounded ? std::fmax(p->param.lower[j] - x0[j], -rho) : -rho;
            const double up = fr->bounded ? std::fmin(p->param.upper[j] - x0[j], rho) : rho;
            add(coef, 0.0, -std::fmin(lo, 0.0));
            coef[j] = -1.0;
            add(coef, 0.0, std::fmax(up, 0.0));
        }
        DualQp qp{nt, m, 0, g, c, a, b, d, lam, act};
        const int32_t status = qp.solve(qpWork);
        if (status != kQpSolved) return status;
        double big = 0.0;
        for (int32_t i = 0; i < mc + p->shape.nNlinEq; ++i) big = std::fmax(big, lam[i]);
        if (big < 0.5 * weight) mu = std::fmax(mu, 2.0 * big);
        return kQpSolved;
    }

    // The vertex farthest from y (1 .. n, vertex 0 kept when keepBest).
    int32_t farthest(const double* y, bool keepBest) const {
        int32_t far = keepBest ? 1 : 0;
        double best = -1.0;
        for (int32_t k = keepBest ? 1 : 0; k <= n; ++k) {
            double s = 0.0;
            for (int32_t j = 0; j < n; ++j) s += (vertex(k)[j] - y[j]) * (vertex(k)[j] - y[j]);
            if (s > best) best = s, far = k;
        }
        return far;
    }

    void swap_vertices(int32_t i, int32_t k) {
        for (int32_t j = 0; j < n; ++j) std::swap(vertex(i)[j], vertex(k)[j]);
        for (int32_t j = 0; j < mc; ++j) std::swap(values(i)[j], values(k)[j]);
        std::swap(fv[i], fv[k]);
    }

    // The best vertex's point and values in the problem, and the measures.
    void publish(double meritBefore) {
        copy(n, vertex(0), p->param.x);
        p->iter.f = fv[0];
        copy(mc, values(0), p->con.conValues);
        p->iter.fPrev = meritBefore;
        p->iter.gconvMeasure = merit(0);
        p->iter.rho = rho;
        p->iter.maxConViolation = violation(values(0));
    }
};

}  // namespace

int32_t znlpcob(NlpProblem* p) {
    if (p->shape.hasLinCon && !reads_linear_rows(p)) return kNlpNotUsable;
    // It keeps no active set: the start phase's counts would read as
    // parameters held (the final evaluation counts again at its point).
    p->active.nActiveBounds = p->active.nActiveLin = p->active.nActiveNlin = 0;
    Frame fr(p);
    const int64_t n = p->shape.nParams, mc = p->shape.nNlinCon, nt = n + 1;
    const int64_t rows = mc + p->shape.nNlinEq + 1 + 2 * (p->shape.hasLinCon ? p->shape.nLinCon : 0) + 2 * n;
    if (!fr.reserve((n + 1) * n + (n + 1) + (n + 1) * mc + n * n + 2 * n + (1 + mc) * n + nt * (nt + 1) / 2 + nt +
                    rows * nt + 2 * rows + nt + rows / 2 + 1 + DualQp::doubles(static_cast<int32_t>(nt), static_cast<int32_t>(rows))))
        return kNlpNotUsable;
    Cob q;
    q.fr = &fr;
    q.p = p;
    q.n = p->shape.nParams;
    q.mc = p->shape.nNlinCon;
    q.v = fr.take((n + 1) * n);
    q.fv = fr.take(n + 1);
    q.cv = fr.take((n + 1) * mc);
    q.delta = fr.take(n * n);
    q.rhs = fr.take(n);
    q.model = fr.take((1 + mc) * n);
    q.g = fr.take(nt * (nt + 1) / 2);
    q.c = fr.take(nt);
    q.a = fr.take(rows * nt);
    q.b = fr.take(rows);
    q.lam = fr.take(rows);
    q.d = fr.take(nt);
    q.act = reinterpret_cast<int32_t*>(fr.take(rows / 2 + 1));
    q.qpWork = fr.take(DualQp::doubles(static_cast<int32_t>(nt), static_cast<int32_t>(rows)));
    q.linearRow = fr.take(n);
    q.rho = wzmis(p->opt.stepCap) || !(p->opt.stepCap > 0.0) ? 0.5 : p->opt.stepCap;
    const double rhoBegin = q.rho;
    copy(q.n, p->param.x, q.rhs);
    if (!q.evaluate(q.rhs, 0) || !q.rebuild()) return kNlpFinalFunction;
    q.publish(q.merit(0));
    fr.set_base();
    p->run.iterSinceStart = 0;
    int32_t rc = p->cb.terminationFn(p, 10);
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            p->run.nRestarts += 1;
            copy(q.n, p->param.x, q.rhs);
            if (!q.evaluate(q.rhs, 0) || !q.rebuild()) return kNlpFinalFunction;
        }
        const double before = q.merit(0);
        fr.set_base();
        bool shrink = true;
        // A program the dual method cannot solve at a feasible vertex (a
        // degenerate corner of the bounds, rows and region) is tried again
        // in a smaller region; at an infeasible one the run cannot go on.
        const bool modelled = q.interpolate();
        const bool solved = modelled && q.program() == kQpSolved;
        if (modelled && !solved && !q.feasible()) return fr.stop(kNlpTechniqueStop6);
        if (solved) {
            const double len = max_abs(q.n, q.d);
            p->iter.lastStep = len;
            if (len >= kShortStep * q.rho) {
                double* y = q.rhs;
                for (int32_t j = 0; j < q.n; ++j) y[j] = q.vertex(0)[j] + q.d[j];
                const int32_t out = q.farthest(y, true);
                // A failed trial is a step too long: rho is halved.
                if (q.evaluate(y, out)) {
                    shrink = !(q.merit(out) < q.merit(0));
                    if (!shrink) q.swap_vertices(0, out);
                    // A gain at the region's edge: the region may grow again
                    // (to the first radius at most).
                    if (!shrink && len >= 0.9 * q.rho) q.rho = std::fmin(2.0 * q.rho, rhoBegin);
                    // A simplex gone flat along the path is built again at
                    // the same radius.
                    if (!shrink && q.flat() && !q.rebuild()) return kNlpFinalFunction;
                }
            }
        }
        if (shrink) {
            q.rho *= 0.5;
            if (!q.rebuild()) return kNlpFinalFunction;
        }
        q.publish(before);
        p->run.iteration += 1;
        p->run.iterSinceStart += 1;
        // The region shrunk to ABSXCONV around a point that is still
        // infeasible: the radius test would call it converged.
        if (!q.feasible() && q.rho <= p->opt.absXConv) return fr.stop(kNlpTechniqueStop6);
        rc = p->cb.terminationFn(p, 1);
    }
    return rc;
}
