// A feasible start point in the sparse active-set form: the sequential
// phase-1 method of the dense search (each violated constraint driven to
// its boundary along the steepest descent of its violation, projected on
// the active rows), with the active rows held as orthonormal columns in
// memory or on the utility file and every row fetched when it is needed.
// The tolerance is widened at most three times.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk;

namespace {

size_t sz(int32_t n) { return static_cast<size_t>(n); }

// Puts x on the start set: the free part meets the active rows (their
// right-hand sides reduced by the held parameters) and keeps its component
// off them.  false when the set is empty or a pivot is negligible: the pass
// fails.
bool doequc(NlpProblem* p) {
    if (!feasible_start_set(p)) return false;
    const int32_t n = p->shape.nParams;
    const std::vector<int32_t> rows(p->active.workList, p->active.workList + p->active.nActiveLin);
    p->active.nActiveLin = 0;
    p->active.nDepLin = 0;
    znlp_free_list(p);
    for (int32_t row : rows) znlpupr(p, 0, 0, row, 0.0, nullptr);
    const int32_t nf = n_free(p), nl = p->active.nActiveLin;
    for (int32_t i = nf; i < n; ++i) p->param.x[p->active.freeList[i]] = held_bound(p, p->active.freeList[i]);
    std::vector<double> z(sz(nl)), q(sz(n));
    for (int32_t j = 0; j < nl; ++j) {
        p->cb.conRowFn(p, p->active.activeList[j], p->active.rowBuffer);
        double b = p->con.linRhs[p->active.activeList[j]];
        for (int32_t i = nf; i < n; ++i) b -= p->active.rowBuffer[p->active.freeList[i]] * p->param.x[p->active.freeList[i]];
        for (int32_t k = 0; k < j; ++k) b -= p->active.activeFactor[pk(j, k)] * z[k];
        const double d = p->active.activeFactor[pk(j, j)];
        if (!(std::fabs(d) > DBL_MIN)) return false;
        z[j] = b / d;
    }
    for (int32_t j = 0; j < nl; ++j) {
        sparse_read_column(p, j, q.data());
        double c = 0.0;
        for (int32_t i = 0; i < nf; ++i) c += q[i] * p->param.x[p->active.freeList[i]];
        for (int32_t i = 0; i < nf; ++i) p->param.x[p->active.freeList[i]] += (z[j] - c) * q[i];
    }
    return true;
}

// The phase-1 gradient g into U, its projection -W as the direction.
void project_gradient(NlpProblem* p, const std::vector<double>& g, std::vector<double>& d) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    for (int32_t i = 0; i < nf; ++i) p->active.sparseWork[i] = g[p->active.freeList[i]];
    sparse_project(p);
    std::fill(d.begin(), d.end(), 0.0);
    for (int32_t i = 0; i < nf; ++i) d[p->active.freeList[i]] = p->active.sparseWork[2 * n + i];
}

// Releases the active constraint with the most negative multiplier of g.
// 0 released, 1 nothing to release.
int32_t releas(NlpProblem* p, const std::vector<double>& g) {
    const int32_t nf = n_free(p), nb = p->active.nActiveBounds, nl = p->active.nActiveLin;
    if (nb + nl == 0) return 1;
    znlpglm(p, 0, g.data(), p->active.multipliers);
    int32_t status = 0, index = -1;
    double smallest = DBL_MAX, largest = 0.0;
    for (int32_t j = 0; j < nb + nl; ++j) {
        const bool bound = j < nb;
        const int32_t q = bound ? p->active.freeList[nf + j] : -1;
        if (bound ? p->active.boundState[q] == 2 : p->active.activeList[j - nb] < p->shape.nLinEq) continue;
        const double m = p->active.multipliers[j];
        largest = std::fmax(largest, std::fabs(m));
        if (m < smallest) {
            smallest = m;
            status = bound ? p->active.boundState[q] : 0;
            index = bound ? q : j - nb;
        }
    }
    if (index < 0 || !(smallest < -std::fmax(largest, 1.0) * velix::kMachEpsWritten * 1000.0))
        return 1;
    znlpdor(p, status, index, 0.0, nullptr);
    if (p->active.nDepLin + p->active.nDepBounds > 0) znlpldr(p, nullptr);
    return 0;
}

// The ratio test of this form along d from x: the step allowed into
// lastStep and the blocking constraint.  -2 one on its boundary would be
// left (lastStep 0), 0 a positive step, 1 a step within the tolerance.
int32_t stepl(NlpProblem* p, const double* d, int32_t* blocking) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    const double t = tol_now(p);
    double dmax = 0.0;
    for (int32_t i = 0; i < n; ++i) dmax = std::fmax(dmax, std::fabs(d[i]));
    const double dtol = std::fmax(1e-8 * dmax, 1000.0 * DBL_MIN);
    double cap = p->iter.stepBound;
    *blocking = -1;
    // A constraint that is violated already does not stop the step: it is
    // driven to its boundary in its own turn (stopping there would release
    // constraints of a feasible problem until the search gives up).
    auto test = [&](double room, double slack, double rate, int32_t number) {
        if (std::fabs(room) <= slack) return -2;
        if (room < -slack) return 0;
        if (room / rate < cap) {
            cap = room / rate;
            *blocking = number;
        }
        return 0;
    };
    int32_t mark = 0;
    for (int32_t k = 0; k < nf && mark == 0; ++k) {
        const int32_t i = p->active.freeList[k];
        if (!p->shape.hasBounds || std::fabs(d[i]) <= dtol) continue;
        const double l = p->param.lower[i], u = p->param.upper[i];
        if (d[i] < -dtol && l > -DBL_MAX) mark = test(p->param.x[i] - l, (1.0 + std::fabs(l)) * t, -d[i], i);
        if (mark == 0 && d[i] > 0.0 && u < DBL_MAX) mark = test(u - p->param.x[i], (1.0 + std::fabs(u)) * t, d[i], n + i);
        if (mark != 0) *blocking = d[i] < 0.0 ? i : n + i;
    }
    for (int32_t k = p->shape.nLinEq; p->shape.hasLinCon && k < p->shape.nLinCon && mark == 0; ++k) {
        if (listed(p, k)) continue;
        const double r = row_residual(p, k);
        double slope = 0.0;
        for (int32_t i = 0; i < n; ++i) slope += p->active.rowBuffer[i] * d[i];
        if (slope >= -dtol) continue;
        mark = test(r, row_threshold(t, p->con.linRhs[k]), -slope, 2 * n + k);
        if (mark != 0) *blocking = 2 * n + k;
    }
    p->iter.lastStep = mark != 0 ? 0.0 : cap;
    return mark != 0 ? mark : (cap > t ? 0 : 1);
}

bool met(NlpProblem* p, int32_t j, double t) {
    const int32_t n = p->shape.nParams;
    if (j < n) return !lower_violated(p, j, t);
    if (j < 2 * n) return !upper_violated(p, j - n, t);
    const int32_t k = j - 2 * n;
    const double r = row_residual(p, k), s = row_threshold(t, p->con.linRhs[k]);
    return k < p->shape.nLinEq ? std::fabs(r) <= s : r >= -s;
}

}  // namespace

int32_t znlplir(NlpProblem* p, int32_t j) {
    const int32_t n = p->shape.nParams;
    const double t = tol_now(p);
    std::vector<double> g(sz(n), 0.0), d(sz(n), 0.0);
    if (j < 2 * n) {
        g[j % n] = j < n ? -1.0 : 1.0;
    } else {
        const int32_t k = j - 2 * n;
        const bool above = k < p->shape.nLinEq && row_residual(p, k) > 0.0;
        p->cb.conRowFn(p, k, p->active.rowBuffer);
        for (int32_t i = 0; i < n; ++i) g[i] = above ? p->active.rowBuffer[i] : -p->active.rowBuffer[i];
    }
    // Every pass moves, enters or releases; the passes are bounded like
    // the releases.
    for (int32_t releases = 0, passes = 0;; ++passes) {
        if (passes > 20 * (p->shape.nLinCon + n)) return -3;
        project_gradient(p, g, d);
        bool any = false;
        for (int32_t i = 0; i < n; ++i)
            any = any ||
                  std::fabs(d[i]) > velix::kMachEpsWritten * std::fmax(1.0, std::fabs(p->param.x[i]));
        bool release = !any;
        if (!release) {
            // The step at which constraint j is met caps the ratio test.
            double rate = 0.0, dist = 0.0;
            for (int32_t i = 0; i < n; ++i) rate -= g[i] * d[i];
            if (j < n)
                dist = p->param.lower[j] - p->param.x[j];
            else if (j < 2 * n)
                dist = p->param.x[j - n] - p->param.upper[j - n];
            else
                dist = std::fabs(row_residual(p, j - 2 * n));
            p->iter.stepBound = rate > 0.0 ? dist / rate : DBL_MAX;
            int32_t blocking = -1;
            const int32_t r = stepl(p, d.data(), &blocking);
            // On its boundary: it enters, and the direction is new; when it
            // cannot enter, a constraint is released.
            if (r == -2 && znlpacr(p, 0.0, nullptr) != 0) continue;
            release = r == -2 || !(p->iter.lastStep > 10.0 * DBL_MIN) || p->iter.lastStep >= DBL_MAX;
            if (!release) {
                for (int32_t i = 0; i < n; ++i) p->param.x[i] += p->iter.lastStep * d[i];
                znlpacr(p, 0.0, nullptr);
                if (met(p, j, t)) return 0;
                continue;
            }
        }
        if (releas(p, g) != 0) return -2;
        if (++releases > 5 * (p->shape.nLinCon + n)) return -3;
    }
}

namespace {

// The bounds pass and the rows pass of the sequential method.
int32_t lpfeas(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    const double t = tol_now(p);
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i) {
        if (p->active.boundState[i] != 0) continue;
        if (on_lower(p, i, t))
            znlpupr(p, 0, 1, i, 0.0, nullptr);
        else if (lower_violated(p, i, t) && znlplir(p, i) != 0)
            return -2;
        else if (on_upper(p, i, t))
            znlpupr(p, 0, -1, i, 0.0, nullptr);
        else if (upper_violated(p, i, t) && znlplir(p, n + i) != 0)
            return -2;
    }
    for (int32_t k = 0; k < p->shape.nLinCon; ++k) {
        if (listed(p, k)) continue;
        const double r = row_residual(p, k), s = row_threshold(t, p->con.linRhs[k]);
        if (std::fabs(r) <= s)
            znlpupr(p, 0, 0, k, 0.0, nullptr);
        else if ((r < -s || k < p->shape.nLinEq) && znlplir(p, 2 * n + k) != 0)
            return -2;
    }
    return 0;
}

int32_t restored(NlpProblem* p, int32_t result) {
    std::copy(p->work.xBase, p->work.xBase + p->shape.nParams, p->param.x);
    return result;
}

}  // namespace

int32_t znlpfer(NlpProblem* p) {
    if (!p->shape.hasBounds && !p->shape.hasLinCon) return 0;
    p->active.nActiveLin = 0;
    p->active.nActiveBounds = 0;
    if (znlpfch(p, 1, 0, p->run.feasRound) == 0) return 0;
    std::copy(p->param.x, p->param.x + p->shape.nParams, p->work.xBase);
    if (p->shape.hasBounds) {
        p->active.nActiveBounds = znlpfbc(p, 0);
        if (znlpfch(p, 1, 0, p->run.feasRound) == 0) return 1;
    }
    if (p->shape.hasLinCon) {
        int32_t r = 0;
        for (;;) {
            // An empty start set or a negligible pivot fails the search.
            if (!doequc(p) || tsteqc(p, 0) != 0) {
                r = -2;
                break;
            }
            if (znlpfch(p, 0, 0, p->run.feasRound) == 0 || lpfeas(p) == 0 || znlpfch(p, 1, 0, p->run.feasRound) == 0) break;
            if (p->run.feasRound >= 3) {
                r = -1;
                break;
            }
            p->run.feasRound += 1;
            if (p->shape.hasBounds) p->active.nActiveBounds = znlpfbc(p, 0);
        }
        if (r != 0) return restored(p, -2);
        if (lowest_passing_round(p) == 0) return 2;
    }
    p->run.feasRound += 1;
    if (znlpfch(p, 1, 0, p->run.feasRound) == 0) return 3;
    return restored(p, -3);
}
