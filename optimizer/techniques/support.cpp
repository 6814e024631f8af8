// The frame of the technique routines (see support.h): work space, slot
// evaluations, the free set of a bound-constrained problem (the active-set
// strategy of Gill, Murray and Wright, Practical Optimization, 1981, sec.
// 5.5.1: a parameter at a bound stays held while its gradient points out of
// the box), the line-search protocol and packed Cholesky kernels.
#include "optimizer/techniques/support.h"

#include <cfloat>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>
#include <utility>

#include "host/fields.h"
#include "numerics/cholesky.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/core.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/techniques/scaling.h"
#include "optimizer/techniques/techniques.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {

// The feasibility tolerance of the current round, at most 0.001.
double feasibility_tolerance(const NlpProblem* p) {
    return std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3);
}

bool usable(const NlpProblem* p, int32_t r) { return r == 0 && p->run.evalStatus == 0.0; }

// What the active set did, for the history's mark and for the termination
// test, which lets no criterion end a run right after a constraint was
// dropped.
void record_change(NlpProblem* p, int32_t added, int32_t dropped) {
    p->active.dropCode = added != 0 && dropped != 0 ? 2147483647 : added != 0 ? 1 : dropped != 0 ? -1 : 0;
    p->active.activeChange = dropped != 0 ? -1 : added != 0 ? 1 : 0;
}

// Row k of the stored linear rows: the row slot lent to a caller without one.
int32_t stored_row_slot(NlpProblem* p, int32_t k, double* row) {
    stored_row(p, k, row);
    return 0;
}

}  // namespace

Frame::Frame(NlpProblem* problem) : p(problem), n(problem->shape.nParams) {
    bounded = p->shape.hasBounds != 0 && p->param.lower != nullptr && p->param.upper != nullptr;
    rows = p->shape.hasLinCon != 0 && p->shape.hasNlinCon == 0 && takes_linear_rows(p);
}

Frame::~Frame() {
    // Lists lent to the problem for the run go back with the pool.
    if (p->active.freeList == lentFree_) p->active.freeList = nullptr;
    if (p->active.boundState == lentState_) p->active.boundState = nullptr;
    for (auto& [field, lent] : lentDoubles_)
        if (field != nullptr && *field == lent) *field = nullptr;
    for (auto& [field, lent] : lentInts_)
        if (field != nullptr && *field == lent) *field = nullptr;
    if (lentRow_) p->cb.conRowFn = nullptr;
    xmpoold(pool_);
}

int64_t Frame::active_set_doubles() const {
    const int64_t m = p->shape.nLinCon;
    return 2 * static_cast<int64_t>(n) * n + 8 * (n + m + 2);
}

void Frame::lend_active_set() {
    // A caller without the core's active-set arrays (a technique run on
    // its own) gets them for the run; the factor is built at the start.
    const int64_t m = p->shape.nLinCon;
    auto lendD = [&](int32_t slot, double** field, int64_t count) {
        lentDoubles_[slot] = {field, nullptr};
        if (*field == nullptr) *field = lentDoubles_[slot].second = take(count);
    };
    auto lendI = [&](int32_t slot, int32_t** field, int64_t count) {
        lentInts_[slot] = {field, nullptr};
        if (*field == nullptr) *field = lentInts_[slot].second = reinterpret_cast<int32_t*>(take(count / 2 + 1));
    };
    if (p->cb.conRowFn == nullptr) {
        p->cb.conRowFn = stored_row_slot;
        lentRow_ = true;
    }
    NlpActiveSet& a = p->active;
    lendD(0, &a.nullBasis, static_cast<int64_t>(n) * n);
    lendD(1, &a.activeFactor, static_cast<int64_t>(n) * n);
    lendD(2, &a.multipliers, n + m + 1);
    lendD(3, &a.rowBuffer, n);
    lendD(4, &a.givensWork, 2 * n);
    lendD(5, &a.reducedGradient, n);
    lendI(0, &a.activeList, m + 1);
    lendI(1, &a.workList, n + m + 1);
    lendI(2, &a.pivotOrder, n);
}

bool Frame::reserve(int64_t doubles) {
    doubles += n;  // the scratch of the row form
    if (rows) doubles += active_set_doubles();
    const int64_t bytes = 8 * (doubles + n + 2);
    pool_ = xmpoolc(bytes, 1024, 4096);
    if (pool_ == nullptr) {
        xmemmsg(bytes);
        return false;
    }
    void* block = pool_->allocate(pool_, static_cast<size_t>(bytes), 4);
    if (block == nullptr || xmemdef(block) != 0) {
        xmemmsg(kMemoryShortage + 20000);
        return false;
    }
    std::memset(block, 0, static_cast<size_t>(bytes));
    next_ = static_cast<double*>(block);
    end_ = next_ + doubles + n + 2;
    int32_t* list = reinterpret_cast<int32_t*>(take(n / 2 + 1));
    int32_t* state = reinterpret_cast<int32_t*>(take(n / 2 + 1));
    // The line searches and the updates read the free list and the bound
    // states from the problem: an owner without them lends ours.
    if (p->active.freeList == nullptr) p->active.freeList = lentFree_ = list;
    if (p->active.boundState == nullptr) p->active.boundState = lentState_ = state;
    idx = p->active.freeList;
    tmp_ = take(n);
    if (rows) lend_active_set();
    return true;
}

double* Frame::take(int64_t count) {
    // Every technique reserves what it takes; running past the end is our bug.
    if (next_ == nullptr || next_ + count > end_) nlp_internal_error("technique work space overrun");
    double* r = next_;
    next_ += count;
    return r;
}

bool Frame::objective() {
    p->run.evalPhase = phase;
    p->run.lastEval = evaluated = kLastObjective;
    p->run.evalStatus = 0.0;
    return usable(p, p->cb.objectiveFn(p)) && std::isfinite(p->iter.f);
}

bool Frame::gradient() {
    p->run.evalPhase = phase;
    p->run.lastEval = evaluated = kLastGradient;
    p->run.evalStatus = 0.0;
    const int32_t r = p->cb.gradientFn != nullptr ? p->cb.gradientFn(p) : znlpfig(p);
    return usable(p, r);
}

bool Frame::hessian() {
    p->run.evalPhase = phase;
    p->run.lastEval = evaluated = kLastHessian;
    p->run.evalStatus = 0.0;
    int32_t r;
    if (p->cb.hessianFn != nullptr) {
        p->run.nHess += 1;
        r = p->cb.hessianFn(p);
    } else {
        r = znlpfh3(p);
    }
    p->run.evalPhase = phase;
    return usable(p, r);
}

int32_t Frame::failure() const { return znlp_failure_status(evaluated); }

bool Frame::hold_bounds() {
    if (rows) return settle_rows();
    int32_t* state = p->active.boundState;
    const double tol = feasibility_tolerance(p);
    int32_t held = 0, added = 0, dropped = 0;
    for (int32_t j = 0; j < n; ++j) {
        int32_t s = 0;
        if (bounded) {
            const double lo = p->param.lower[j], up = p->param.upper[j], x = p->param.x[j], g = p->work.gradient[j];
            if (lo == up)
                s = 2;
            else if (lo > -DBL_MAX && x <= lo + tol * (1.0 + std::fabs(lo)) && g > 0.0)
                s = 1;
            else if (up < DBL_MAX && x >= up - tol * (1.0 + std::fabs(up)) && g < 0.0)
                s = -1;
        }
        if (s != 0 && state[j] == 0) ++added;
        if (s == 0 && state[j] != 0) ++dropped;
        if (s != 0 && state[j] != 0 && s != state[j]) ++added, ++dropped;
        state[j] = s;
        if (s != 0) ++held;
    }
    p->active.nActiveBounds = bounded ? held : 0;
    record_change(p, added, dropped);
    znlpinc(p, 0);
    k = n - held;
    return added != 0 || dropped != 0;
}

namespace {

// The state of the active set, to tell whether a change left it different.
struct ActiveSnapshot {
    std::vector<int32_t> state, list;
    explicit ActiveSnapshot(const NlpProblem* p)
        : state(p->active.boundState, p->active.boundState + p->shape.nParams),
          list(p->active.activeList, p->active.activeList + p->active.nActiveLin) {}
    // Counts of constraints that joined and left since the snapshot.
    void compare(const NlpProblem* p, int32_t* added, int32_t* dropped) const {
        *added = *dropped = 0;
        for (int32_t j = 0; j < p->shape.nParams; ++j) {
            const int32_t now = p->active.boundState[j];
            if (now != state[j]) {
                *added += now != 0 ? 1 : 0;
                *dropped += state[j] != 0 ? 1 : 0;
            }
        }
        auto in = [](const int32_t* v, int32_t m, int32_t r) { return std::find(v, v + m, r) != v + m; };
        const int32_t nl = p->active.nActiveLin;
        for (int32_t r : list) *dropped += in(p->active.activeList, nl, r) ? 0 : 1;
        for (int32_t i = 0; i < nl; ++i) *added += in(list.data(), static_cast<int32_t>(list.size()), p->active.activeList[i]) ? 0 : 1;
    }
};

bool droppable(const NlpProblem* p, int32_t position) {
    const int32_t nb = p->active.nActiveBounds;
    if (position < nb) return p->active.boundState[p->active.freeList[n_free(p) + position]] != 2;
    return p->active.activeList[position - nb] >= p->shape.nLinEq;
}

}  // namespace

bool Frame::settle_rows() {
    const ActiveSnapshot before(p);
    // What x reached joins (a step ends on the constraint that bounded it).
    znlpact(p, 0, 0, nullptr, nullptr, nullptr);
    k = n_reduced(p);
    const int32_t held = p->active.nActiveBounds + p->active.nActiveLin;
    if (held > 0) {
        // The most wrong-signed multiplier lets its constraint go once it
        // outweighs the reduced gradient: released earlier, the constraint
        // would be met again along the manifold's own descent.
        znlpglm(p, 0, p->work.gradient, p->active.multipliers);
        double worst = 0.0;
        for (int32_t i = 0; i < held; ++i)
            if (droppable(p, i)) worst = std::fmin(worst, p->active.multipliers[i]);
        gather(p->work.gradient, tmp_);
        if (-worst > std::fmax(gtres(p), max_abs(k, tmp_))) {
            // The core releases by multipliers of a technique with
            // derivatives, as every technique of this frame is.
            const int32_t level = p->opt.derivLevel;
            if (level == 0) p->opt.derivLevel = 1;
            znlpdac(p, 0, 0, nullptr, nullptr, nullptr);
            p->opt.derivLevel = level;
            k = n_reduced(p);
        }
        znlpglm(p, 0, p->work.gradient, p->active.multipliers);
    }
    int32_t added = 0, dropped = 0;
    before.compare(p, &added, &dropped);
    record_change(p, added, dropped);
    return added != 0 || dropped != 0;
}

bool Frame::hold_outward_rows(const double* d) {
    // A constraint x sits on (inactive by its multiplier, or within the
    // tolerance without having joined) that d leaves at once joins the
    // set; the technique then takes its direction again.
    int32_t blocking = -1;
    znlpstl(p, 1, 1, p->param.x, d, &blocking);
    if (blocking < 0 || p->iter.stepBound * max_abs(n, d) > feasibility_tolerance(p)) return false;
    const int32_t status = blocking < n ? 1 : blocking < 2 * n ? -1 : 0;
    const int32_t index = blocking < n ? blocking : blocking < 2 * n ? blocking - n : blocking - 2 * n;
    if (status != 0 && p->param.lower[index] == p->param.upper[index]) return false;
    // A constraint the active ones already imply gives no smaller space.
    if (znlpupd(p, 1, 0, 0, status, index, nullptr, nullptr, nullptr) != 0) return false;
    znlpupd(p, 0, 0, 0, status, index, nullptr, nullptr, nullptr);
    k = n_reduced(p);
    p->active.dropCode = p->active.dropCode < 0 ? 2147483647 : 1;
    changed = true;
    return true;
}

bool Frame::hold_outward(const double* d) {
    if (rows) return hold_outward_rows(d);
    if (!bounded) return false;
    const double tol = feasibility_tolerance(p);
    int32_t held = 0;
    for (int32_t i = 0; i < k; ++i) {
        const int32_t j = idx[i];
        const double lo = p->param.lower[j], up = p->param.upper[j], x = p->param.x[j];
        if (d[j] < 0.0 && lo > -DBL_MAX && x <= lo + tol * (1.0 + std::fabs(lo))) {
            p->active.boundState[j] = 1;
            ++held;
        } else if (d[j] > 0.0 && up < DBL_MAX && x >= up - tol * (1.0 + std::fabs(up))) {
            p->active.boundState[j] = -1;
            ++held;
        }
    }
    if (held == 0) return false;
    p->active.nActiveBounds += held;
    p->active.dropCode = p->active.dropCode < 0 ? 2147483647 : 1;
    znlpinc(p, 0);
    k -= held;
    changed = true;
    return true;
}

void Frame::projected_gradient() {
    double m = 0.0;
    if (rows) {
        gather(p->work.gradient, tmp_);
        m = max_abs(k, tmp_);
    } else {
        for (int32_t i = 0; i < k; ++i) m = std::fmax(m, std::fabs(p->work.gradient[idx[i]]));
    }
    p->iter.maxProjGrad = m;
}

bool Frame::applies_basis() const { return rows && (p->active.nActiveLin > 0 || keeps_basis(p->opt.technique)); }

void Frame::gather(const double* v, double* out) const {
    if (rows) {
        znlpvre(p, v, out);
        return;
    }
    for (int32_t i = 0; i < k; ++i) out[i] = v[idx[i]];
}

void Frame::scatter(const double* in, double* v) const {
    for (int32_t j = 0; j < n; ++j) v[j] = 0.0;
    if (rows) {
        if (k > 0) znlpvex(p, in, v);
        return;
    }
    for (int32_t i = 0; i < k; ++i) v[idx[i]] = in[i];
}

void Frame::gather_change(const double* now, const double* base, double* out) const {
    for (int32_t j = 0; j < n; ++j) tmp_[j] = now[j] - base[j];
    gather(tmp_, out);
}

void Frame::gather_packed(const double* h, double* out) const {
    if (applies_basis()) {
        if (k > 0) znlpred(p, 0, h, out);
        return;
    }
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j <= i; ++j) out[pk_lower(i, j)] = h[pk(idx[i], idx[j])];
}

void Frame::gather_hessian(double* out, bool full) const {
    const int32_t storage = p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
    if (!full && applies_basis()) {
        if (k > 0) znlpred(p, storage, p->hess.hessian, out);
        return;
    }
    const int32_t m = full ? n : k;
    for (int32_t i = 0; i < m; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const int32_t a = full ? i : idx[i], b = full ? j : idx[j];
            out[pk_lower(i, j)] = storage == 2 ? (a == b ? p->hess.hessian[a] : 0.0) : p->hess.hessian[pk(a, b)];
        }
}

double Frame::step_bound(const double* d) {
    int32_t blocking = -1;
    znlpstl(p, 1, 0, p->param.x, d, &blocking);
    return p->iter.stepBound;
}

void Frame::take_active_set() {
    rebuild_rows();
    hold_bounds();
}

void Frame::rebuild_rows() {
    if (!rows) return;
    // The active set of x and its factor, whatever the block held before.
    znlpfch(p, 1, 0, p->run.feasRound);
    znlpfta(p, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

int32_t Frame::start() {
    p->run.iterSinceStart = 0;
    set_base();
    rebuild_rows();
    hold_bounds();
    changed = true;
    p->active.activeChange = 0;
    projected_gradient();
    return p->cb.terminationFn(p, 10);
}

int32_t Frame::next() {
    advance();
    return test();
}

void Frame::advance() {
    p->run.iteration += 1;
    p->run.iterSinceStart += 1;
    changed = hold_bounds();
    projected_gradient();
}

int32_t Frame::test() { return p->cb.terminationFn(p, 1); }

int32_t Frame::stop(int32_t code) { return p->cb.terminationFn(p, code); }

bool Frame::restart() {
    p->run.nRestarts += 1;
    p->run.iterSinceStart = 0;
    if (!objective() || !gradient()) return false;
    set_base();
    rebuild_rows();
    hold_bounds();
    changed = true;
    projected_gradient();
    return true;
}

bool Frame::restart_due() const {
    const double r = p->opt.restart;
    if (wzmis(r) || !(r >= 1.0) || r >= 2147483647.0) return false;
    return p->run.iterSinceStart > 0 && std::fmod(p->run.iterSinceStart, r) == 0.0;
}

void Frame::set_base() {
    copy(n, p->param.x, p->work.xBase);
    copy(n, p->work.gradient, p->work.gradBase);
    p->iter.fPrev = p->iter.f;
}

bool Frame::onto_bound() {
    // A constraint just ahead (a parameter a rounding short of its bound,
    // free because the tolerance did not reach it) leaves a search no room:
    // the step onto it is taken when it lowers f, and the next iteration
    // holds the constraint.
    const double a = p->iter.stepBound;
    if (!(a > 0.0 && a < 1.0)) return false;
    for (int32_t j = 0; j < n; ++j) p->param.x[j] = p->work.xBase[j] + a * p->work.direction[j];
    if (!objective() || !(p->iter.f < p->iter.fPrev)) return false;
    p->iter.lastStep = a;
    return true;
}

int32_t Frame::line_search(double bound) {
    set_base();
    if (bound >= 0.0)
        p->iter.stepBound = bound;
    else
        step_bound(p->work.direction);
    NlpCallback search = p->cb.lineSearchFn != nullptr ? p->cb.lineSearchFn : znlp_line_search(p->opt.lineSearch);
    p->run.evalPhase = phase;
    if (search(p) != 0 && !onto_bound()) {
        copy(n, p->work.xBase, p->param.x);
        p->iter.f = p->iter.fPrev;
        copy(n, p->work.gradBase, p->work.gradient);
        return 1;
    }
    if (p->run.lastEval != kLastGradient && !gradient()) return -1;
    p->iter.expectedReduction = p->iter.fPrev - p->iter.f;
    return 0;
}

void typical_scale(const Frame& fr, double* out) {
    // The floor keeps parameters near zero (covariances, small paths) on
    // the scale 0.1 rather than freezing them; 1 slowed models with small
    // error variances (by up to three times the iterations).
    constexpr double kTypicalFloor = 0.1;
    const NlpProblem* p = fr.p;
    for (int32_t i = 0; i < fr.k; ++i) {
        if (fr.applies_basis()) {
            // A null-space direction mixes parameters: the diagonal of Z'DZ.
            double s = 0.0;
            for (int32_t r = 0; r < n_free(p); ++r) {
                const double t = std::fmax(kTypicalFloor, std::fabs(p->param.x[fr.idx[r]]));
                const double z = p->active.nullBasis[static_cast<int64_t>(r) * fr.n + i];
                s += z * z * t * t;
            }
            out[i] = s > 0.0 ? s : 1.0;
            continue;
        }
        const double t = std::fmax(kTypicalFloor, std::fabs(p->param.x[fr.idx[i]]));
        out[i] = t * t;
    }
}

bool stored_rows(const NlpProblem* p) {
    return p->con.linRows != nullptr &&
           (p->shape.linRowsSparse == 0 || (p->con.linColIndex != nullptr && p->con.linRowEnd != nullptr));
}

void stored_row(const NlpProblem* p, int32_t k, double* out) {
    const int32_t n = p->shape.nParams;
    if (p->shape.linRowsSparse == 0) {
        copy(n, p->con.linRows + static_cast<int64_t>(k) * n, out);
        return;
    }
    for (int32_t j = 0; j < n; ++j) out[j] = 0.0;
    for (int32_t e = k == 0 ? 0 : p->con.linRowEnd[k - 1]; e < p->con.linRowEnd[k]; ++e) out[p->con.linColIndex[e]] = p->con.linRows[e];
}

bool reads_linear_rows(const NlpProblem* p) { return p->cb.conRowFn != nullptr || stored_rows(p); }

void linear_row(NlpProblem* p, int32_t k, double* out) {
    if (p->cb.conRowFn != nullptr)
        p->cb.conRowFn(p, k, out);
    else
        stored_row(p, k, out);
}

bool takes_linear_rows(const NlpProblem* p) { return p->opt.conFactorForm != 2 && reads_linear_rows(p); }

bool refuses_general_constraints(const NlpProblem* p) {
    if (p->shape.hasNlinCon == 0 && (p->shape.hasLinCon == 0 || takes_linear_rows(p))) return false;
    xpmlog(kMsgNlp, kMsgTechniqueNoConstraints, p->opt.technique);
    return true;
}

// ---- vectors ----

double dot(int32_t n, const double* a, const double* b) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

double norm2(int32_t n, const double* a) { return std::sqrt(dot(n, a, a)); }

double max_abs(int32_t n, const double* a) {
    double m = 0.0;
    for (int32_t i = 0; i < n; ++i) m = std::fmax(m, std::fabs(a[i]));
    return m;
}

void copy(int32_t n, const double* from, double* to) {
    if (n > 0 && from != to) std::memmove(to, from, sizeof(double) * static_cast<size_t>(n));
}

void axpy(int32_t n, double a, const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) y[i] += a * x[i];
}

void sym_mul(int32_t n, const double* h, const double* x, double* y) {
    // One pass along the packed rows: row r's own terms, j <= r, then its
    // terms j > r from the rows below; each y(i) takes its terms in the
    // order of j.
    for (int32_t r = 0; r < n; ++r) {
        const double* hr = h + pk_lower(r, 0);
        const double xr = x[r];
        double s = 0.0;
        for (int32_t c = 0; c < r; ++c) {
            s += hr[c] * x[c];
            y[c] += hr[c] * xr;
        }
        y[r] = s + hr[r] * xr;
    }
}

void set_identity(int32_t n, double scale, double* h) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) h[pk_lower(i, j)] = i == j ? scale : 0.0;
}

bool lu_solve(int32_t m, double* a, double* b) {
    double big = 0.0;
    for (int64_t i = 0; i < static_cast<int64_t>(m) * m; ++i) big = std::fmax(big, std::fabs(a[i]));
    const double tol = 1e-13 * (big > 0.0 ? big : 1.0);
    for (int32_t k = 0; k < m; ++k) {
        int32_t piv = k;
        for (int32_t i = k + 1; i < m; ++i)
            if (std::fabs(a[i * m + k]) > std::fabs(a[piv * m + k])) piv = i;
        if (std::fabs(a[piv * m + k]) <= tol) return false;
        if (piv != k) {
            for (int32_t j = 0; j < m; ++j) std::swap(a[k * m + j], a[piv * m + j]);
            std::swap(b[k], b[piv]);
        }
        for (int32_t i = k + 1; i < m; ++i) {
            const double f = a[i * m + k] / a[k * m + k];
            for (int32_t j = k; j < m; ++j) a[i * m + j] -= f * a[k * m + j];
            b[i] -= f * b[k];
        }
    }
    for (int32_t k = m - 1; k >= 0; --k) {
        double s = b[k];
        for (int32_t j = k + 1; j < m; ++j) s -= a[k * m + j] * b[j];
        b[k] = s / a[k * m + k];
    }
    return true;
}

// ---- the GCONV measure at a new point ----

int32_t fresh_measure_test(Frame* fr, double stale, double* hF, double* l, double* tmp) {
    NlpProblem* p = fr->p;
    fr->advance();
    p->iter.gconvMeasure = p->iter.scaledGradMax = stale;
    if (!fr->hessian()) return fr->failure();
    fr->gather_hessian(hF);
    const int32_t k = fr->k;
    double m = HUGE_VAL;
    if (cholesky(k, hF, 0.0, p->opt.singularTol, l)) {
        // g'H^-1 g = |L^-1 g|^2.
        fr->gather(p->work.gradient, tmp);
        zchol2(k, l, tmp);
        m = dot(k, tmp, tmp);
        if (!std::isfinite(m)) m = HUGE_VAL;
    }
    p->iter.gconvMeasure = m;
    p->iter.scaledGradMax = scaled_gradient_max(*fr);
    return fr->test();
}

// ---- Cholesky ----

// Parameters of very different units (a variance of 7000 beside one of
// 5e-5) make a positive definite matrix whose small diagonals fall under a
// pivot test against the largest diagonal.  Such a matrix is factored with
// a unit diagonal, D(A + shift I)D with D the inverse square roots of the
// diagonal, where the test does not depend on the units, and L is D^-1
// times that factor.  False when the diagonal is not of such spread (the
// first test was the right one) or the scaled matrix fails its test too.
bool unit_diagonal_cholesky(int32_t n, const double* a, double shift, double tol, double* l) {
    double big = 0.0, least = HUGE_VAL;
    for (int32_t i = 0; i < n; ++i) {
        const double d = a[pk_lower(i, i)] + shift;
        big = std::fmax(big, d);
        least = std::fmin(least, d);
    }
    if (!(least > 0.0) || !(least < tol * big)) return false;
    std::vector<double> d(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) d[i] = 1.0 / std::sqrt(a[pk_lower(i, i)] + shift);
    for (int32_t i = 0; i < n; ++i) {
        double* li = l + pk_lower(i, 0);
        const double* ai = a + pk_lower(i, 0);
        for (int32_t j = 0; j < i; ++j) li[j] = d[i] * ai[j] * d[j];
        li[i] = 1.0;
    }
    if (!packed_cholesky(n, l, 0.0, tol, l)) return false;
    for (int32_t i = 0; i < n; ++i) {
        double* li = l + pk_lower(i, 0);
        for (int32_t j = 0; j <= i; ++j) li[j] /= d[i];
    }
    return true;
}

bool cholesky(int32_t n, const double* a, double shift, double tol, double* l) {
    double big = 0.0;
    for (int32_t i = 0; i < n; ++i) big = std::fmax(big, std::fabs(a[pk_lower(i, i)] + shift));
    return packed_cholesky(n, a, shift, tol * (big > 0.0 ? big : 1.0), l) ||
           unit_diagonal_cholesky(n, a, shift, tol, l);
}

void chol_solve(int32_t n, const double* l, double* b) {
    zchol2(n, l, b);
    zbaksub(n, l, b);
}

void mchol_solve(int32_t n, const double* l, const int32_t* perm, double* b, double* work) {
    for (int32_t j = 0; j < n; ++j) work[j] = b[perm[j]];
    chol_solve(n, l, work);
    for (int32_t j = 0; j < n; ++j) b[perm[j]] = work[j];
}

}  // namespace velix::detail

// ---- the routines around the techniques ----

// The ratio test: mode 0 caps the factor at 1 (mode 1 leaves DBL_MAX when
// nothing blocks); flag nonzero skips the bounds that boundState holds
// active, which a step of the free space does not move.  The tolerance is
// feasTol times 10 per feasibility round, at most 0.001.
int32_t znlpstl(NlpProblem* p, int32_t mode, int32_t flag, const double* base, const double* d, int32_t* blocking) {
    const int32_t n = p->shape.nParams;
    const double tol = std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3);
    double best = mode == 0 ? 1.0 : DBL_MAX;
    *blocking = -1;
    if (p->shape.hasBounds && p->param.lower != nullptr && p->param.upper != nullptr) {
        for (int32_t j = 0; j < n; ++j) {
            if (flag != 0 && p->active.boundState != nullptr && p->active.boundState[j] != 0) continue;
            double room;
            if (d[j] < 0.0 && p->param.lower[j] > -DBL_MAX) {
                room = (base[j] - p->param.lower[j]) / -d[j];
                if (room < best) {
                    best = room;
                    *blocking = j;
                }
            } else if (d[j] > 0.0 && p->param.upper[j] < DBL_MAX) {
                room = (p->param.upper[j] - base[j]) / d[j];
                if (room < best) {
                    best = room;
                    *blocking = n + j;
                }
            }
        }
    }
    // Inequality rows a x >= b that are not active (equalities and active
    // rows stay met along any step of the reduced space); a row comes from
    // the dense store, or through the row slot (or from the compressed
    // store) into the row buffer, ours when the owner gave none.
    if (p->shape.hasLinCon && velix::detail::reads_linear_rows(p)) {
        std::vector<double> own;
        double* buffer = p->active.rowBuffer;
        if (buffer == nullptr) {
            own.resize(static_cast<size_t>(n));
            buffer = own.data();
        }
        for (int32_t r = p->shape.nLinEq; r < p->shape.nLinCon; ++r) {
            bool active = false;
            for (int32_t k = 0; p->active.activeList != nullptr && k < p->active.nActiveLin + p->active.nDepLin && !active; ++k)
                active = p->active.activeList[k] == r;
            if (active) continue;
            const double* a = p->con.linRows + static_cast<int64_t>(r) * n;
            if (p->con.linRows == nullptr || p->shape.linRowsSparse != 0) {
                velix::detail::linear_row(p, r, buffer);
                a = buffer;
            }
            const double ad = velix::detail::dot(n, a, d);
            if (ad >= 0.0) continue;
            const double room = (velix::detail::dot(n, a, base) - p->con.linRhs[r]) / -ad;
            if (room < best) {
                best = room;
                *blocking = 2 * n + r;
            }
        }
    }
    if (best < 0.0) best = 0.0;
    p->iter.stepBound = best;
    return best * velix::detail::max_abs(n, d) > tol || best == DBL_MAX ? 0 : -1;
}

int32_t znlpinc(NlpProblem* p, int32_t reset) {
    const int32_t n = p->shape.nParams;
    int32_t at = 0;
    for (int32_t j = 0; j < n; ++j)
        if (p->active.boundState == nullptr || p->active.boundState[j] == 0) p->active.freeList[at++] = j;
    for (int32_t j = 0; p->active.boundState != nullptr && j < n; ++j)
        if (p->active.boundState[j] != 0) p->active.freeList[at++] = j;
    if (reset != 0 && p->cb.resetFn != nullptr) p->cb.resetFn(p);
    return 0;
}
