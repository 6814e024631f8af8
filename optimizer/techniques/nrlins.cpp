// NRLINS: Newton with ridging and a line search, projected onto the null
// space of the active constraints (the projected Newton method: Gill,
// Murray and Wright, Practical Optimization, 1981, sec. 5.2 and 5.5.2).
// Bounds and dense linear rows are kept as rows a x >= b (a x = b for the
// equalities) in the projected Newton blocks, the active ones factored by
// Householder reflections (zconadd adds a row, zcondrp drops one), so that
// Q = H_0 ... H_{t-1} and the null-space basis Z is Q's last n - t
// columns.  Each iteration takes the Newton direction d = Z s of the
// reduced system (Z'HZ + mu I) s = -Z'g, mu raised until it factors, and
// a line search within the inactive constraints; a constraint that blocks
// the step joins the active set.  Where the reduced gradient vanishes, the
// inequality with the most negative multiplier (R lambda = Q_1'g) is
// dropped.
//
// Reads: x (feasible), f, gradient, the Hessian slot, bounds, linRows
// (dense; equalities first), linRhs, lineSearch and its options.  Leaves:
// x, f, gradient, hessian, xBase, gradBase, fPrev, direction, lastStep,
// ridge, rho (actual over predicted reduction), boundState, nActiveBounds, nActiveLin, activeChange, dropCode,
// multipliers (when given: bounds first, then rows), maxProjGrad (the
// reduced gradient, or a negative multiplier when larger), gconvMeasure
// and scaledGradMax,
// iteration and the counters.  Statuses: those of the termination test,
// kNlpTechniqueStop7 after a failed line search, kNlpFinalFunction after a
// failed evaluation, kNlpNotUsable without work space or for sparse rows.
#include <cfloat>
#include <cmath>
#include <initializer_list>

#include "host/fields.h"
#include "numerics/updates.h"
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk_lower;

namespace {

// A row whose part outside the active rows' span is below this share of
// its norm depends on them and is not added.
constexpr double kDependent = 1e-10;

struct Projected {
    Frame* fr = nullptr;
    NlpProblem* p = nullptr;
    int32_t n = 0, nRows = 0;
    ProjNewtonBlock blk;
    ProjNewtonWork w;
    int32_t* param = nullptr;   // by row id: the bound's parameter, -1 for a linear row
    double* side = nullptr;     // by row id: +1 lower bound, -1 upper bound
    double* z = nullptr;        // n x n: null-space basis, column c at c*n
    double* zg = nullptr;       // Z'g (n - t)
    double* lam = nullptr;      // multipliers by position (t)
    double* v = nullptr;        // n of work
    double* h = nullptr;        // the Hessian, packed, all parameters
    double* hz = nullptr;       // the reduced Hessian, packed
    double* l = nullptr;        // its ridged factor
    double* s = nullptr;        // the reduced step

    int32_t t() const { return blk.nact; }
    int32_t nz() const { return n - blk.nact; }
    const double* row(int32_t pos) const { return w.rows + static_cast<int64_t>(pos) * n; }
    // A fixed parameter's bound rows hold like an equality: the one that is
    // active may never be dropped, since its twin was left out as dependent.
    bool equality(int32_t id) const {
        if (param[id] >= 0) return p->param.lower[param[id]] == p->param.upper[param[id]];
        return id < p->shape.nLinEq;
    }

    void build() {
        nRows = 0;
        for (int32_t r = 0; r < p->shape.nLinCon; ++r) {
            copy(n, p->con.linRows + static_cast<int64_t>(r) * n, w.rows + static_cast<int64_t>(nRows) * n);
            w.rowValue[nRows] = p->con.linRhs[r];
            param[nRows] = -1;
            w.activeList[nRows] = nRows;
            ++nRows;
        }
        for (int32_t j = 0; fr->bounded && j < n; ++j)
            for (double sd : {1.0, -1.0}) {
                const double b = sd > 0.0 ? p->param.lower[j] : p->param.upper[j];
                if (sd > 0.0 ? b <= -DBL_MAX : b >= DBL_MAX) continue;
                double* a = w.rows + static_cast<int64_t>(nRows) * n;
                for (int32_t i = 0; i < n; ++i) a[i] = i == j ? sd : 0.0;
                w.rowValue[nRows] = sd * b;
                param[nRows] = j;
                side[nRows] = sd;
                w.activeList[nRows] = nRows;
                ++nRows;
            }
        blk.n = n;
        blk.nact = 0;
        blk.boundsOnly = 0;
    }

    double slack(int32_t pos) const { return dot(n, row(pos), p->param.x) - w.rowValue[pos]; }

    // Adds the row at position pos unless it depends on the active rows.
    bool add(int32_t pos) {
        if (t() >= n) return false;
        const double norm = norm2(n, row(pos));
        double out = 0.0;
        zconadd(&blk, &w, pos, &out);
        // refactor_row left the reflected row in scratch: its diagonal entry.
        if (std::fabs(w.scratch[t() - 1]) <= kDependent * norm) {
            zcondrp(&blk, &w, t() - 1, &out);
            return false;
        }
        return true;
    }

    void drop(int32_t pos) {
        double out = 0.0;
        zcondrp(&blk, &w, pos, &out);
    }

    // The equalities and the inequalities tight at x.
    void initial_set() {
        blk.nact = 0;
        const double tol = std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3);
        for (int32_t pos = 0; pos < nRows; ++pos) {
            const int32_t id = w.activeList[pos];
            if (equality(id) || std::fabs(slack(pos)) <= tol * (1.0 + std::fabs(w.rowValue[pos]))) add(pos);
        }
    }

    // Q'v (reflections 0 .. t-1) in place.
    void q_transpose(double* x) const {
        for (int32_t k = 0; k < t(); ++k) zhh2(x, w.hhStore, k, w.hhBeta[k], 1, n);
    }

    // The basis Z, the reduced gradient and the first-order multipliers.
    void reduce() {
        const int32_t a = t();
        for (int32_t c = 0; c < nz(); ++c) {
            double* zc = z + static_cast<int64_t>(c) * n;
            for (int32_t i = 0; i < n; ++i) zc[i] = i == a + c ? 1.0 : 0.0;
            for (int32_t k = a - 1; k >= 0; --k) zhh2(zc, w.hhStore, k, w.hhBeta[k], 1, n);
            zg[c] = dot(n, zc, p->work.gradient);
        }
        // R lambda = (Q'g)_1 with column k of R the reflected row k.
        copy(n, p->work.gradient, v);
        q_transpose(v);
        copy(a, v, lam);
        for (int32_t k = a - 1; k >= 0; --k) {
            copy(n, row(k), s);
            for (int32_t m = 0; m <= k; ++m) zhh2(s, w.hhStore, m, w.hhBeta[m], 1, n);
            // s now holds column k of R; back-substitution column-wise.
            lam[k] /= s[k];
            for (int32_t m = 0; m < k; ++m) lam[m] -= s[m] * lam[k];
        }
    }

    // The position of the inequality with the most negative multiplier
    // below -tol, -1 when none.
    int32_t most_negative(double tol) const {
        int32_t worst = -1;
        for (int32_t k = 0; k < t(); ++k)
            if (!equality(w.activeList[k]) && lam[k] < -tol && (worst < 0 || lam[k] < lam[worst])) worst = k;
        return worst;
    }

    double dual_violation() const {
        double v0 = 0.0;
        for (int32_t k = 0; k < t(); ++k)
            if (!equality(w.activeList[k])) v0 = std::fmax(v0, -lam[k]);
        return v0;
    }

    // The reduced Newton direction into p->work.direction; the ridge.
    void direction() {
        const int32_t m = nz();
        for (int32_t a = 0; a < m; ++a) {
            sym_mul(n, h, z + static_cast<int64_t>(a) * n, v);
            for (int32_t b = 0; b <= a; ++b) hz[pk_lower(a, b)] = dot(n, z + static_cast<int64_t>(b) * n, v);
        }
        p->iter.ridge = ridge_factor(m, hz, p->opt.singularTol, 0.0, l);
        for (int32_t c = 0; c < m; ++c) s[c] = -zg[c];
        chol_solve(m, l, s);
        for (int32_t i = 0; i < n; ++i) p->work.direction[i] = 0.0;
        for (int32_t c = 0; c < m; ++c) axpy(n, s[c], z + static_cast<int64_t>(c) * n, p->work.direction);
        // A parameter held at a bound does not move, not even by rounding.
        for (int32_t k = 0; k < t(); ++k)
            if (param[w.activeList[k]] >= 0) p->work.direction[param[w.activeList[k]]] = 0.0;
    }

    // The largest step along the direction within the inactive rows; the
    // blocking position into *blocking (-1 none).
    double ratio(int32_t* blocking) const {
        double best = DBL_MAX;
        *blocking = -1;
        const double dn = norm2(n, p->work.direction);
        for (int32_t pos = t(); pos < nRows; ++pos) {
            const double ad = dot(n, row(pos), p->work.direction);
            if (ad >= -1e-14 * norm2(n, row(pos)) * dn) continue;
            const double room = std::fmax(0.0, slack(pos)) / -ad;
            if (room < best) {
                best = room;
                *blocking = pos;
            }
        }
        return best;
    }

    void publish() {
        p->active.nActiveLin = 0;
        p->active.nActiveBounds = 0;
        for (int32_t j = 0; j < n; ++j) p->active.boundState[j] = 0;
        for (int32_t k = 0; k < t(); ++k) {
            const int32_t id = w.activeList[k];
            if (param[id] < 0) continue;
            p->active.boundState[param[id]] = side[id] > 0.0 ? 1 : -1;
            if (p->active.multipliers != nullptr) p->active.multipliers[p->active.nActiveBounds] = lam[k];
            p->active.nActiveBounds += 1;
        }
        for (int32_t k = 0; k < t(); ++k) {
            if (param[w.activeList[k]] >= 0) continue;
            if (p->active.multipliers != nullptr) p->active.multipliers[p->active.nActiveBounds + p->active.nActiveLin] = lam[k];
            p->active.nActiveLin += 1;
        }
        p->iter.maxProjGrad = std::fmax(max_abs(nz(), zg), dual_violation());
        // The line searches reduce along the free list and, with active
        // rows, along the null-space basis over the free parameters: Z's
        // rows of the free parameters are that basis.
        znlpinc(p, 0);
        const int32_t nf = n - p->active.nActiveBounds;
        for (int32_t i = 0; p->active.nullBasis != nullptr && i < nf; ++i)
            for (int32_t c = 0; c < nz(); ++c) p->active.nullBasis[i * n + c] = z[static_cast<int64_t>(c) * n + p->active.freeList[i]];
    }

    // The point's reduced gradient; one that is small, vanished or below
    // half the most negative multiplier, drops that multiplier's
    // inequality (once): a multiplier that outweighs the reduced gradient
    // is no rounding, and the relative tests could otherwise stop at the
    // vertex (Gill, Murray and Wright, sec. 5.8.3).  True when one was
    // dropped.
    bool reduce_and_drop(double tol) {
        reduce();
        const int32_t k = most_negative(tol);
        if (k < 0 || max_abs(nz(), zg) > std::fmax(tol, -0.5 * lam[k])) return false;
        drop(k);
        reduce();
        p->active.activeChange = -1;
        p->active.dropCode = -1;
        return true;
    }
};

// The null-space basis lent to a problem that has none, for the run.
struct LentBasis {
    NlpProblem* p;
    double* lent;
    ~LentBasis() {
        if (p->active.nullBasis == lent) p->active.nullBasis = nullptr;
    }
};

}  // namespace

int32_t znlpnrl(NlpProblem* p) {
    if (p->shape.linRowsSparse != 0 || (p->shape.hasLinCon && p->con.linRows == nullptr)) return kNlpNotUsable;
    Frame fr(p);
    const int64_t n = p->shape.nParams, rows = p->shape.nLinCon + 2 * n;
    const int64_t packed = n * (n + 1) / 2;
    if (!fr.reserve(rows * n + 3 * rows + 2 + 2 * n * n + 7 * n + 4 * packed)) return kNlpNotUsable;
    LentBasis basis{p, p->active.nullBasis == nullptr ? fr.take(n * n) : nullptr};
    if (basis.lent != nullptr) p->active.nullBasis = basis.lent;
    Projected q;
    q.fr = &fr;
    q.p = p;
    q.n = p->shape.nParams;
    q.w.rows = fr.take(rows * n);
    q.w.rowValue = fr.take(rows);
    q.w.scratch = fr.take(n);
    q.w.hhStore = fr.take(packed + n);
    q.w.activeList = reinterpret_cast<int32_t*>(fr.take(rows / 2 + 1));
    q.param = reinterpret_cast<int32_t*>(fr.take(rows / 2 + 1));
    q.w.hhBeta = fr.take(n);
    q.side = fr.take(rows);
    q.z = fr.take(n * n);
    q.zg = fr.take(n);
    q.lam = fr.take(n);
    q.v = fr.take(n);
    q.s = fr.take(n);
    q.h = fr.take(packed);
    q.hz = fr.take(packed);
    q.l = fr.take(packed);
    p->run.iterSinceStart = 0;
    q.build();
    q.initial_set();
    const double tol = std::fmax(wzmis(p->opt.absGConv) ? 0.0 : p->opt.absGConv, 1e-8);
    fr.set_base();
    q.reduce_and_drop(tol);
    q.publish();
    p->active.activeChange = 0;
    int32_t rc = p->cb.terminationFn(p, 10);
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            // From the moved point: its values and active set anew.
            p->run.nRestarts += 1;
            p->run.iterSinceStart = 0;
            if (!fr.objective() || !fr.gradient()) return kNlpFinalFunction;
            fr.set_base();
            q.initial_set();
            q.reduce();
            q.publish();
        }
        if (!fr.hessian()) return kNlpFinalFunction;
        fr.gather_hessian(q.h, true);
        q.direction();
        p->run.iterMark = p->iter.ridge > 0.0 ? 1 : 0;
        int32_t blocking = -1;
        const double room = q.ratio(&blocking);
        const int32_t ls = fr.line_search(room);
        if (ls < 0) return kNlpFinalFunction;
        if (ls > 0) return fr.stop(kNlpTechniqueStop7);
        // Actual over predicted reduction of the step taken.
        const double a = p->iter.lastStep, gd = dot(q.n, p->work.gradBase, p->work.direction);
        sym_mul(q.n, q.h, p->work.direction, q.v);
        const double pred = -(a * gd + 0.5 * a * a * dot(q.n, p->work.direction, q.v));
        p->iter.rho = pred > 0.0 ? (p->iter.fPrev - p->iter.f) / pred : 0.0;
        p->active.activeChange = 0;
        p->active.dropCode = 0;
        if (blocking >= 0 && p->iter.lastStep >= room * (1.0 - 1e-12)) {
            // A blocking bound is met exactly.
            const int32_t id = q.w.activeList[blocking];
            if (q.param[id] >= 0) p->param.x[q.param[id]] = q.side[id] > 0.0 ? p->param.lower[q.param[id]] : p->param.upper[q.param[id]];
            if (q.add(blocking)) p->active.activeChange = p->active.dropCode = 1;
        }
        q.reduce_and_drop(tol);
        q.publish();
        // The predicted reduction of the next Newton step (g'Z (Z'HZ)^-1 Z'g
        // with the last factor while the active set stands).
        if (p->active.activeChange == 0) {
            copy(q.nz(), q.zg, q.s);
            chol_solve(q.nz(), q.l, q.s);
            p->iter.gconvMeasure = dot(q.nz(), q.zg, q.s);
        } else {
            p->iter.gconvMeasure = HUGE_VAL;
        }
        // The least-squares GCONV2 test of the Newton-type techniques reads
        // the same measure.
        p->iter.scaledGradMax = p->iter.gconvMeasure;
        p->run.iteration += 1;
        p->run.iterSinceStart += 1;
        rc = p->cb.terminationFn(p, 1);
    }
    return rc;
}
