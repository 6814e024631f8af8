// A feasible start point for the bounds and linear rows (dense form): a
// phase-1 search that first drives one violated constraint at a time to
// its boundary along the steepest descent of its violation in the null
// space of the active set (the sequential method, up to three times at a
// growing tolerance), then minimises the sum of violations by projected
// descent with an Armijo search (Gill, Murray and Wright, Practical
// Optimization, 1981, sec. 5.7; Fletcher, Practical Methods of
// Optimization, 1987, sec. 8.4).  A point that is already feasible is left
// bit for bit; a failed search restores the start point.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/reduced_space.h"
#include "host/fields.h"
#include "velix/host.h"

using namespace velix::detail;

namespace {

constexpr int32_t kMsgTimeLimit = 2;  // the run stopped at its time limit

// MAXTIME (a missing limit is a NaN and never compares true): the search
// for a feasible start ends with the run's time limit like every other
// loop of the optimizer.  The driver starts the clock before the search.
bool out_of_time(const NlpProblem* p) {
    if (!(wzdttme() - p->run.timeUsed > p->opt.maxTime)) return false;
    xpmlog(kMsgNlp, kMsgTimeLimit, p->opt.maxTime);
    return true;
}

// The widening rounds of the tolerance end here at the latest, as the
// final feasibility rounds do.
constexpr int32_t kMaxFeasRounds = 10;

}  // namespace

namespace velix::detail {

double tol_now(const NlpProblem* p) { return working_tolerance(p, p->run.feasRound); }

bool lower_violated(const NlpProblem* p, int32_t i, double t) {
    const double l = p->param.lower[i];
    return l > -DBL_MAX && l - p->param.x[i] > (1.0 + std::fabs(l)) * t;
}
bool upper_violated(const NlpProblem* p, int32_t i, double t) {
    const double u = p->param.upper[i];
    return u < DBL_MAX && p->param.x[i] - u > (1.0 + std::fabs(u)) * t;
}
bool on_lower(const NlpProblem* p, int32_t i, double t) {
    const double l = p->param.lower[i];
    return l > -DBL_MAX && std::fabs(p->param.x[i] - l) <= (1.0 + std::fabs(l)) * t;
}
bool on_upper(const NlpProblem* p, int32_t i, double t) {
    const double u = p->param.upper[i];
    return u < DBL_MAX && std::fabs(u - p->param.x[i]) <= (1.0 + std::fabs(u)) * t;
}

bool listed(const NlpProblem* p, int32_t row) {
    for (int32_t j = 0; j < p->active.nActiveLin + p->active.nDepLin; ++j)
        if (p->active.activeList[j] == row) return true;
    return false;
}

int32_t lowest_passing_round(NlpProblem* p) {
    const int32_t raised = p->run.feasRound;
    for (int32_t round = 0; round < raised; ++round)
        if (znlpfch(p, 0, 0, round) == 0) {
            p->run.feasRound = round;
            break;
        }
    return znlpfch(p, 1, 0, p->run.feasRound);
}

// 0 when every held constraint is met at min(feasTol 10^k, 0.001), else
// the code of the last violation (1 fixed, 2 lower, 3 upper, 4 equality).
int32_t tsteqc(NlpProblem* p, int32_t k) {
    const double t = std::fmin(working_tolerance(p, k), 0.001);
    int32_t code = 0;
    for (int32_t i = 0; p->shape.hasBounds && i < p->shape.nParams; ++i) {
        const double l = p->param.lower[i], u = p->param.upper[i], x = p->param.x[i];
        const int32_t s = p->active.boundState[i];
        // A fixed parameter is met within (1 + |l|) t, as everywhere.
        if (s == 2 && std::fabs(x - l) > (1.0 + std::fabs(l)) * t) code = 1;
        if (s == 1 && x - l < -(1.0 + std::fabs(l)) * t) code = 2;
        if (s == -1 && u - x < -(1.0 + std::fabs(u)) * t) code = 3;
    }
    for (int32_t r = 0; p->shape.hasLinCon && r < p->shape.nLinEq; ++r)
        if (std::fabs(row_residual(p, r)) > row_threshold(t, p->con.linRhs[r])) code = 4;
    return code;
}

// One pass's start set: all equality rows, the fixed parameters, and when
// nothing is held the first violated bound or else the first violated
// inequality row.  false when the set is empty.
bool feasible_start_set(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    const double t = tol_now(p);
    p->active.nDepLin = 0;
    p->active.nDepBounds = 0;
    int32_t rows = 0, held = 0;
    for (int32_t k = 0; k < p->shape.nLinEq; ++k) p->active.workList[rows++] = k;
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i) {
        if (p->active.boundState[i] == 2)
            held += 1;
        else
            p->active.boundState[i] = 0;
    }
    if (rows == 0 && held == 0) {
        for (int32_t i = 0; p->shape.hasBounds && i < n && held == 0; ++i) {
            if (lower_violated(p, i, t))
                p->active.boundState[i] = 1;
            else if (upper_violated(p, i, t))
                p->active.boundState[i] = -1;
            if (p->active.boundState[i] != 0) held = 1;
        }
        for (int32_t k = p->shape.nLinEq; held == 0 && k < p->shape.nLinCon && rows == 0; ++k)
            if (row_residual(p, k) < -row_threshold(t, p->con.linRhs[k])) p->active.workList[rows++] = k;
    }
    p->active.nActiveBounds = held;
    p->active.nActiveLin = rows;
    return held + rows > 0;
}

}  // namespace velix::detail

namespace {

constexpr double kEps = velix::kMachEpsWritten;
constexpr double kSqrtMin = velix::kSqrtDblMinWritten;

size_t sz(int32_t n) { return static_cast<size_t>(n); }

double basis(const NlpProblem* p, int32_t i, int32_t k) {
    return q_is_identity(p) ? (i == k ? 1.0 : 0.0) : p->active.nullBasis[sz(i) * p->shape.nParams + k];
}

// Q'g over the free positions, then g at the held parameters.
void transform(NlpProblem* p, const double* g, double* out) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    for (int32_t k = 0; k < nf; ++k) {
        double s = 0.0;
        for (int32_t i = 0; i < nf; ++i) s += basis(p, i, k) * g[p->active.freeList[i]];
        out[k] = s;
    }
    for (int32_t k = nf; k < n; ++k) out[k] = g[p->active.freeList[k]];
}

// d = -Z r over the free parameters, 0 elsewhere.
void null_direction(NlpProblem* p, const double* r, double* d) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nz = n_reduced(p);
    for (int32_t i = 0; i < n; ++i) d[i] = 0.0;
    for (int32_t i = 0; i < nf; ++i) {
        double s = 0.0;
        for (int32_t k = 0; k < nz; ++k) s += basis(p, i, k) * r[k];
        d[p->active.freeList[i]] = -s;
    }
}

void set_identity(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t k = 0; k < n; ++k) p->active.nullBasis[sz(i) * n + k] = i == k ? 1.0 : 0.0;
    for (int32_t i = 0; i < p->shape.packedLen; ++i) p->active.activeFactor[i] = 0.0;
}

// Puts x on the start active set (workList, nActiveLin rows).  0, or -1
// when the rows cannot be met (a negligible pivot): the pass fails.
int32_t doequc(NlpProblem* p, int32_t keep) {
    const int32_t n = p->shape.nParams;
    int32_t w = 0;
    for (int32_t i = 0; i < n; ++i)
        if (!p->shape.hasBounds || p->active.boundState[i] == 0) p->active.freeList[w++] = i;
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i)
        if (p->active.boundState[i] != 0) p->active.freeList[w++] = i;
    const int32_t nf = n_free(p);
    if (nf > 0) {
        set_identity(p);
        const std::vector<int32_t> rows(p->active.workList, p->active.workList + p->active.nActiveLin);
        p->active.nActiveLin = 0;
        p->active.nDepLin = 0;
        for (int32_t row : rows) znlpupd(p, 0, 0, 0, 0, row, nullptr, nullptr, nullptr);
        std::vector<double> xr(sz(nf), 0.0);
        const int32_t nz = n_reduced(p);
        if (p->active.nActiveLin > 0) {
            if (!range_part(p, xr)) return -1;
            if (keep && nz > 0) {
                // The component of x in the null space of the rows stays.
                std::vector<double> c(sz(nz), 0.0);
                for (int32_t k = 0; k < nz; ++k)
                    for (int32_t i = 0; i < nf; ++i) c[k] += basis(p, i, k) * p->param.x[p->active.freeList[i]];
                for (int32_t i = 0; i < nf; ++i)
                    for (int32_t k = 0; k < nz; ++k) xr[i] += basis(p, i, k) * c[k];
            }
        } else {
            for (int32_t i = 0; i < nf; ++i) xr[i] = keep ? p->param.x[p->active.freeList[i]] : 0.0;
        }
        for (int32_t i = 0; i < nf; ++i) p->param.x[p->active.freeList[i]] = xr[i];
    }
    for (int32_t i = nf; i < n; ++i) p->param.x[p->active.freeList[i]] = held_bound(p, p->active.freeList[i]);
    return 0;
}

// Releases the active constraint with the most negative multiplier of the
// phase-1 gradient r (transformed).  0 released, 1 nothing to release.
int32_t releas(NlpProblem* p, const double* r) {
    const int32_t nf = n_free(p), nb = p->active.nActiveBounds, nl = p->active.nActiveLin;
    if (nb + nl == 0) return 1;
    znlpglm(p, 1, r, p->active.multipliers);
    int32_t best = -1, status = 0, index = 0;
    double smallest = DBL_MAX, largest = 0.0;
    auto offer = [&](int32_t k, int32_t st, int32_t idx) {
        const double m = p->active.multipliers[k];
        largest = std::fmax(largest, std::fabs(m));
        if (m < smallest) {
            smallest = m;
            best = k;
            status = st;
            index = idx;
        }
    };
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->active.freeList[nf + j];
        if (p->active.boundState[q] != 2) offer(j, p->active.boundState[q], q);
    }
    for (int32_t k = 0; k < nl; ++k)
        if (p->active.activeList[k] >= p->shape.nLinEq) offer(nb + k, 0, p->active.activeList[k]);
    if (best < 0 || !(smallest < -std::fmax(largest, 1.0) * kEps * 1000.0)) return 1;
    znlpdod(p, 0, status, index, nullptr, nullptr, nullptr, nullptr);
    if (p->active.nDepLin != 0 || p->active.nDepBounds != 0) znlpcld(p, 0, nullptr, nullptr, nullptr);
    return 0;
}

void enter(NlpProblem* p, int32_t number) {
    const int32_t n = p->shape.nParams;
    if (number < n)
        znlpupd(p, 0, 0, 0, 1, number, nullptr, nullptr, nullptr);
    else if (number < 2 * n)
        znlpupd(p, 0, 0, 0, -1, number - n, nullptr, nullptr, nullptr);
    else
        znlpupd(p, 0, 0, 0, 0, number - 2 * n, nullptr, nullptr, nullptr);
}

// Step 1 of both methods: x on the start set, equalities restored by the
// least-squares correction nearest the point.  false when they cannot be.
bool restore_equalities(NlpProblem* p, int32_t keep) {
    if (doequc(p, keep) != 0) return false;
    if (tsteqc(p, 0) == 0) return true;
    for (int32_t i = 0; i < p->shape.nParams; ++i) p->work.gradient[i] = -2.0 * p->param.x[i];
    znlplcq(p, 1, 0, 2.0, p->work.gradient, nullptr, nullptr);
    return tsteqc(p, 0) == 0;
}

// ---- the sequential method ----

// The rate at which the direction d reduces the violation of constraint j
// and the distance to go.
void distance_to(NlpProblem* p, int32_t j, const double* d, double* dist, double* rate) {
    const int32_t n = p->shape.nParams;
    if (j < n) {
        *dist = p->param.lower[j] - p->param.x[j];
        *rate = d[j];
    } else if (j < 2 * n) {
        *dist = p->param.x[j - n] - p->param.upper[j - n];
        *rate = -d[j - n];
    } else {
        const int32_t k = j - 2 * n;
        const double r = row_residual(p, k);
        double slope = 0.0;
        for (int32_t i = 0; i < n; ++i) slope += p->active.rowBuffer[i] * d[i];
        const bool above = k < p->shape.nLinEq && r > 0.0;
        *dist = above ? r : -r;
        *rate = above ? -slope : slope;
    }
}

bool constraint_met(NlpProblem* p, int32_t j, double t) {
    const int32_t n = p->shape.nParams;
    if (j < n) return p->active.boundState[j] == 1 || !lower_violated(p, j, t);
    if (j < 2 * n) return p->active.boundState[j - n] == -1 || !upper_violated(p, j - n, t);
    const int32_t k = j - 2 * n;
    if (listed(p, k)) return true;
    const double r = row_residual(p, k), s = row_threshold(t, p->con.linRhs[k]);
    return k < p->shape.nLinEq ? std::fabs(r) <= s : r >= -s;
}

}  // namespace

// Drives constraint j (bound or row number) to feasibility.  0 met, -2
// nothing left to release, -3 too many releases.
int32_t znlplip(NlpProblem* p, int32_t j, int32_t) {
    const int32_t n = p->shape.nParams;
    const double t = tol_now(p);
    std::vector<double> g(sz(n), 0.0), r(sz(n), 0.0), d(sz(n), 0.0);
    if (j < n) {
        g[j] = -1.0;
    } else if (j < 2 * n) {
        g[j - n] = 1.0;
    } else {
        const int32_t k = j - 2 * n;
        const bool above = k < p->shape.nLinEq && row_residual(p, k) > 0.0;
        p->cb.conRowFn(p, k, p->active.rowBuffer);
        for (int32_t i = 0; i < n; ++i) g[i] = above ? p->active.rowBuffer[i] : -p->active.rowBuffer[i];
    }
    int32_t releases = 0;
    for (;;) {
        if (out_of_time(p)) return -3;
        transform(p, g.data(), r.data());
        bool release = n_reduced(p) == 0;
        if (!release) {
            null_direction(p, r.data(), d.data());
            bool any = false;
            for (int32_t i = 0; i < n; ++i) {
                if (std::fabs(d[i]) <= kEps * std::fmax(1.0, std::fabs(p->param.x[i]))) d[i] = 0.0;
                any = any || d[i] != 0.0;
            }
            release = !any;
        }
        if (!release) {
            int32_t blocking = -1;
            znlpstl(p, 1, 0, p->param.x, d.data(), &blocking);
            double dist = 0.0, rate = 0.0;
            distance_to(p, j, d.data(), &dist, &rate);
            if (rate > 0.0 && dist / rate < p->iter.stepBound) p->iter.stepBound = dist / rate;
            release = !(p->iter.stepBound > 10.0 * DBL_MIN) || p->iter.stepBound >= DBL_MAX;
            if (!release) {
                for (int32_t i = 0; i < n; ++i) p->param.x[i] += p->iter.stepBound * d[i];
                znlpact(p, 0, 1, nullptr, nullptr, nullptr);
                if (constraint_met(p, j, t)) {
                    if (j < 2 * n && p->active.boundState[j % n] == 0) {
                        const int32_t q = j % n;
                        if ((j < n && on_lower(p, q, t)) || (j >= n && on_upper(p, q, t))) enter(p, j);
                    }
                    return 0;
                }
                continue;
            }
        }
        if (releas(p, r.data()) != 0) return -2;
        if (++releases > 5 * (p->shape.nLinCon + n)) return -3;
    }
}

int32_t znlpfe2(NlpProblem* p, int32_t keep, int32_t hint) {
    const int32_t n = p->shape.nParams;
    const double t = tol_now(p);
    if (!restore_equalities(p, keep)) return -3;
    if (znlpfch(p, 0, 0, p->run.feasRound) == 0) return 0;
    if (p->active.nActiveBounds + p->active.nActiveLin > n) return -2;
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i) {
        if (p->active.boundState[i] != 0) continue;
        if (on_lower(p, i, t)) {
            enter(p, i);
        } else if (lower_violated(p, i, t)) {
            if (znlplip(p, i, hint) != 0) return -2;
        } else if (on_upper(p, i, t)) {
            enter(p, n + i);
        } else if (upper_violated(p, i, t)) {
            if (znlplip(p, n + i, hint) != 0) return -2;
        }
    }
    for (int32_t k = 0; k < p->shape.nLinCon; ++k) {
        if (listed(p, k)) continue;
        const double r = row_residual(p, k), s = row_threshold(t, p->con.linRhs[k]);
        if (std::fabs(r) <= s)
            enter(p, 2 * n + k);
        else if (r < -s || k < p->shape.nLinEq)
            if (znlplip(p, 2 * n + k, hint) != 0) return -2;
    }
    return 0;
}

// ---- the descent method ----

namespace {

// The phase-1 value (sum of violations of free bounds and inactive
// inequality rows) and, when wanted, its gradient.  1 when anything is
// violated.
int32_t lfgrad(NlpProblem* p, int32_t wantGradient, double* phi, double* g) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    const double t = tol_now(p);
    double v = 0.0;
    bool any = false;
    if (wantGradient)
        for (int32_t i = 0; i < n; ++i) g[i] = 0.0;
    for (int32_t k = 0; p->shape.hasBounds && k < nf; ++k) {
        const int32_t i = p->active.freeList[k];
        if (lower_violated(p, i, t)) {
            v += p->param.lower[i] - p->param.x[i];
            if (wantGradient) g[i] = -1.0;
            any = true;
        } else if (upper_violated(p, i, t)) {
            v += p->param.x[i] - p->param.upper[i];
            if (wantGradient) g[i] = 1.0;
            any = true;
        }
    }
    for (int32_t k = p->shape.nLinEq; p->shape.hasLinCon && k < p->shape.nLinCon; ++k) {
        if (listed(p, k)) continue;
        const double r = row_residual(p, k);
        if (r >= -row_threshold(t, p->con.linRhs[k])) continue;
        v -= r;
        any = true;
        if (wantGradient)
            for (int32_t i = 0; i < n; ++i) g[i] -= p->active.rowBuffer[i];
    }
    *phi = v;
    return any ? 1 : 0;
}

// The ratio test of the descent method (see the unit's comment): a
// constraint number to enter, -1 (line search), -2 (step to stepBound).
int32_t stepl(NlpProblem* p, const double* d) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    const double t = tol_now(p);
    double minSat = DBL_MAX, maxViol = 0.0;
    int32_t sat = -1, viol = -1;
    auto consider = [&](double room, double rate, double scale, int32_t number) {
        // room >= 0 when satisfied; rate > 0 moves towards the boundary
        // from the satisfied side.
        if (std::fabs(rate) <= scale * t * kEps) return;
        if (room >= -scale * t) {
            if (rate > 0.0 && std::fmax(room, 0.0) / rate < minSat) {
                minSat = std::fmax(room, 0.0) / rate;
                sat = number;
            }
        } else if (rate < 0.0 && -room / -rate > maxViol) {
            maxViol = room / rate;
            viol = number;
        }
    };
    for (int32_t k = 0; p->shape.hasBounds && k < nf; ++k) {
        const int32_t i = p->active.freeList[k];
        if (std::fabs(d[i]) < t) continue;
        if (p->param.lower[i] > -DBL_MAX) consider(p->param.x[i] - p->param.lower[i], -d[i], 1.0 + std::fabs(p->param.lower[i]), i);
        if (p->param.upper[i] < DBL_MAX) consider(p->param.upper[i] - p->param.x[i], d[i], 1.0 + std::fabs(p->param.upper[i]), n + i);
    }
    for (int32_t k = p->shape.nLinEq; p->shape.hasLinCon && k < p->shape.nLinCon; ++k) {
        if (listed(p, k)) continue;
        const double r = row_residual(p, k);
        double slope = 0.0;
        for (int32_t i = 0; i < n; ++i) slope += p->active.rowBuffer[i] * d[i];
        consider(r, -slope, 1.0 + std::fabs(p->con.linRhs[k]), 2 * n + k);
    }
    if (sat >= 0) {
        if (minSat <= t) return sat;
        p->iter.stepBound = DBL_MAX;
        return -1;
    }
    if (viol < 0) {
        p->iter.stepBound = DBL_MAX;
        return -1;
    }
    p->iter.stepBound = maxViol;
    return -2;
}

// Step search on the phase-1 value along d from the current x.  1 decrease
// found, 0 feasible point reached, -1 direction negligible, -2 no decrease.
int32_t armijo(NlpProblem* p, const double* d, double* step, double* phi, double phi0) {
    const int32_t n = p->shape.nParams;
    const double eps100 = 100.0 * kEps;
    const std::vector<double> x0(p->param.x, p->param.x + n);
    double smallest = DBL_MAX;
    bool any = false;
    for (int32_t i = 0; i < n; ++i)
        if (std::fabs(d[i]) > std::fmax(kSqrtMin, eps100 * std::fabs(x0[i]) * kSqrtMin)) {
            smallest = std::fmin(smallest, eps100 * std::fabs(x0[i]) / std::fabs(d[i]));
            any = true;
        }
    if (!any) return -1;
    auto at = [&](double s) {
        for (int32_t i = 0; i < n; ++i) p->param.x[i] = x0[i] + s * d[i];
        return lfgrad(p, 0, phi, nullptr);
    };
    double ref = phi0, best = -1.0, bestPhi = 0.0;
    for (double s = *step; s < 10.0; s *= 2.0) {
        if (at(s) == 0) return 0;
        if (!(*phi < ref * (1.0 - eps100))) break;
        best = s;
        bestPhi = *phi;
        ref = *phi;
    }
    if (best > 0.0) {
        at(best);
        *phi = bestPhi;
        *step = best;
        return 1;
    }
    for (double s = *step * 0.5;; s *= 0.1) {
        if (at(s) == 0) return 0;
        if (*phi < phi0 * (1.0 - eps100)) {
            *step = s;
            return 1;
        }
        if (s <= smallest) {
            for (int32_t i = 0; i < n; ++i) p->param.x[i] = x0[i];
            return -2;
        }
    }
}

}  // namespace

int32_t znlpfe1(NlpProblem* p, int32_t keep, int32_t) {
    const int32_t n = p->shape.nParams;
    if (!restore_equalities(p, keep)) return -3;
    if (znlpfch(p, 0, 0, p->run.feasRound) == 0) return 0;
    if (n - p->active.nActiveBounds - p->active.nActiveLin < 0) return -4;
    std::vector<double> r(sz(n)), d(sz(n));
    for (int32_t outer = 1; outer <= 100; ++outer) {
        double phi = 0.0;
        if (lfgrad(p, 1, &phi, p->work.gradient) == 0) return znlpfch(p, 0, 0, p->run.feasRound) == 0 ? 0 : -1;
        transform(p, p->work.gradient, r.data());
        releas(p, r.data());
        for (bool next = false; !next;) {
            if (out_of_time(p)) return -1;
            transform(p, p->work.gradient, r.data());
            const int32_t nz = n_reduced(p);
            double norm = 0.0;
            for (int32_t k = 0; k < nz; ++k) norm += r[k] * r[k];
            if (nz <= 0 || std::sqrt(norm) <= (n - p->active.nActiveBounds) * tol_now(p))
                return znlpfch(p, 0, 0, p->run.feasRound) == 0 ? 0 : -2;
            null_direction(p, r.data(), d.data());
            double total = 0.0;
            for (int32_t i = 0; i < n; ++i) total += std::fabs(d[i]);
            if (total <= kSqrtMin) return 1;
            // Lengthen d until the step it realises is not lost in rounding.
            double factor = 1.0;
            for (;;) {
                double moved = 0.0;
                for (int32_t i = 0; i < n; ++i) {
                    const double c = (p->param.x[i] + factor * d[i]) - p->param.x[i];
                    moved += c * c;
                }
                if (!(moved < 100.0 * kEps) || factor > 100.0) break;
                factor *= 2.0;
            }
            for (int32_t i = 0; i < n; ++i) d[i] *= factor;
            const int32_t s = stepl(p, d.data());
            if (s >= 0) {
                enter(p, s);
                continue;
            }
            if (s == -2) {
                for (int32_t i = 0; i < n; ++i) p->param.x[i] += p->iter.stepBound * d[i];
                if (znlpfch(p, 0, 0, p->run.feasRound) == 0) return 0;
                next = true;
                continue;
            }
            double step = 1.0;
            if (armijo(p, d.data(), &step, &phi, phi) >= 0) {
                znlpact(p, 0, 1, nullptr, nullptr, nullptr);
                if (znlpfch(p, 0, 0, p->run.feasRound) == 0) return 0;
                next = true;
                continue;
            }
            transform(p, p->work.gradient, r.data());
            if (releas(p, r.data()) != 0) return -2;
        }
    }
    return -10;
}

namespace {

int32_t feasol(NlpProblem* p, int32_t keep, int32_t variant) {
    const int32_t round0 = p->run.feasRound;
    for (int32_t attempts = 0;;) {
        // An empty start set fails the search (it is the user's problem,
        // not an internal error).
        if (!feasible_start_set(p)) return -1;
        if (attempts > 2) {
            p->run.feasRound = round0;
            return znlpfe1(p, keep, -1) == 0 ? 0 : -1;
        }
        if (znlpfe2(p, keep, -1) == 0) return 0;
        if (attempts == 0) std::copy(p->work.xBase, p->work.xBase + p->shape.nParams, p->param.x);
        attempts += 1;
        p->run.feasRound += 1;
        if (p->run.feasRound > 3) {
            attempts = 5;
            p->run.feasRound = round0;
        }
        znlpfch(p, 1, 0, p->run.feasRound);
        if (p->shape.hasBounds) p->active.nActiveBounds = znlpfbc(p, variant);
    }
}

// The work memory of a search without a dense factor of its own.  The
// owner's pointers come back when it is released, so that the driver
// rebuilds the factor in the owner's arrays before any technique reads it.
struct TemporaryFactor {
    HostAllocator* pool = nullptr;
    bool failed = false;
    double* saved[5] = {};
    explicit TemporaryFactor(NlpProblem* p) {
        if (p->opt.conFactorForm != 0) return;
        const int64_t n = p->shape.nParams;
        pool = xmpoolc(32 * n + 8 * n * n + 8 * static_cast<int64_t>(p->shape.packedLen), 1024, 4096);
        if (pool == nullptr) {
            failed = true;
            return;
        }
        double** fields[5] = {&p->active.multipliers, &p->active.reducedGradient, &p->active.givensWork, &p->active.nullBasis, &p->active.activeFactor};
        for (int32_t i = 0; i < 5; ++i) saved[i] = *fields[i];
        auto take = [&](int64_t count) {
            return static_cast<double*>(pool->allocate(pool, static_cast<size_t>(std::max<int64_t>(count, 1)) * 8, 0));
        };
        double* mult = take(2 * n);
        p->active.multipliers = mult;
        p->active.reducedGradient = mult != nullptr ? mult + n : nullptr;
        p->active.givensWork = take(2 * n);
        p->active.nullBasis = take(n * n);
        p->active.activeFactor = take(p->shape.packedLen);
        failed = xmemdef(p->active.activeFactor) != 0 || p->active.multipliers == nullptr || p->active.givensWork == nullptr ||
                 p->active.nullBasis == nullptr || p->active.activeFactor == nullptr;
    }
    void release(NlpProblem* p) {
        if (pool == nullptr) return;
        xmpoold(pool);
        pool = nullptr;
        double** fields[5] = {&p->active.multipliers, &p->active.reducedGradient, &p->active.givensWork, &p->active.nullBasis, &p->active.activeFactor};
        for (int32_t i = 0; i < 5; ++i) *fields[i] = saved[i];
    }
};

int32_t restored(NlpProblem* p, int32_t result) {
    std::copy(p->work.xBase, p->work.xBase + p->shape.nParams, p->param.x);
    return result;
}

}  // namespace

int32_t znlpfea(NlpProblem* p, int32_t mode) {
    if (!p->shape.hasBounds && !p->shape.hasLinCon) return 0;
    refuse_rows_form(p, "znlpfea: sparse active-set form");
    p->active.nActiveLin = 0;
    p->active.nActiveBounds = 0;
    p->run.feasRound = 0;
    double t0 = wzmis(p->opt.feasTol) ? 1e-8 : p->opt.feasTol;
    if (znlpfch(p, 1, 0, 0) == 0) return 0;
    std::copy(p->param.x, p->param.x + p->shape.nParams, p->work.xBase);
    bool widen = !p->shape.hasLinCon;
    if (p->shape.hasBounds) {
        p->active.nActiveBounds = znlpfbc(p, std::max(mode, 0));
        if (znlpfch(p, 1, 0, p->run.feasRound) == 0) return 1;
    }
    if (!widen) {
        TemporaryFactor work(p);
        if (work.failed) {
            work.release(p);
            return restored(p, -1);
        }
        const int32_t r = feasol(p, std::abs(mode), std::max(mode, 0));
        work.release(p);
        if (r != 0) return restored(p, -2);
        if (lowest_passing_round(p) == 0) return 2;
    }
    do {
        t0 *= 10.0;
        p->run.feasRound += 1;
        if (znlpfch(p, 1, 0, p->run.feasRound) == 0) return 3;
    } while (t0 < 0.001 && p->run.feasRound < kMaxFeasRounds && !out_of_time(p));
    return restored(p, -2);
}
