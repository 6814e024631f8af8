// Releasing active constraints by the signs of their Lagrange multipliers
// (dense form): a bound or inequality whose multiplier is negative beyond
// a threshold holds the point against a direction of descent, so it
// leaves the active set, unless the steepest-descent direction of the
// enlarged null space is blocked at once, in which case it is put back and
// the next candidate is tried (Gill, Murray and Wright, Practical
// Optimization, 1981, sec. 5.8.3).  Candidates are sorted by Shell's method.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "host/fields.h"
#include "velix/host.h"

using namespace velix::detail;

namespace {

constexpr int32_t kSeveralDropped = INT32_MAX;

bool is_inequality(const NlpProblem* p, int32_t row) {
    return row < p->shape.nLinCon ? row >= p->shape.nLinEq : row - p->shape.nLinCon >= p->shape.nNlinEq;
}

// Z'g over the null space (the gradient's free components when Q is the
// identity).
std::vector<double> reduced_gradient(NlpProblem* p) {
    const int32_t nz = n_reduced(p), nf = n_free(p), n = p->shape.nParams;
    std::vector<double> r(static_cast<size_t>(std::max(nz, 0)), 0.0);
    for (int32_t k = 0; k < nz; ++k) {
        if (q_is_identity(p)) {
            r[k] = p->work.gradient[p->active.freeList[k]];
            continue;
        }
        double s = 0.0;
        for (int32_t i = 0; i < nf; ++i) s += p->active.nullBasis[static_cast<size_t>(i) * n + k] * p->work.gradient[p->active.freeList[i]];
        r[k] = s;
    }
    return r;
}

bool direction_blocked(NlpProblem* p, int32_t* blocking) {
    std::vector<double> r = reduced_gradient(p);
    *blocking = -1;
    if (r.empty()) return true;
    return znlptcs(p, r.data(), blocking, 0) != 0;
}

bool anything_to_drop(const NlpProblem* p) {
    const int32_t nf = n_free(p);
    for (int32_t j = 0; j < p->active.nActiveBounds; ++j)
        if (p->active.boundState[p->active.freeList[nf + j]] != 2) return true;
    for (int32_t k = 0; k < p->active.nActiveLin; ++k)
        if (is_inequality(p, p->active.activeList[k])) return true;
    return false;
}

// Bounds only: the bound whose gradient component is most wrong-signed.
int32_t drop_bound_only(NlpProblem* p, int32_t mode, int32_t* order, double* matrix, const double* hessian,
                        double theta) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    int32_t best = -1;
    double bestG = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t s = p->active.boundState[i];
        if (s != 1 && s != -1) continue;
        const double g = -s * p->work.gradient[i];
        if (g > theta && g > bestG) {
            bestG = g;
            best = i;
        }
    }
    if (best < 0) return 0;
    int32_t pos = -1;
    for (int32_t i = nf; i < n; ++i)
        if (p->active.freeList[i] == best) pos = i;
    if (pos < 0) nlp_internal_error("znlpdac: a held parameter is not in the tail of the free list");
    std::swap(p->active.freeList[pos], p->active.freeList[nf]);
    int32_t result = best + 1;
    if (matrix != nullptr && order != nullptr) {
        std::vector<double> z(static_cast<size_t>(n), 0.0);
        z[best] = 1.0;
        if (mode == 2) p->active.pivotOrder[*order] = nf;
        // With bounds alone the null space is the free space itself.
        Carried cm{mode == 0 ? 1 : mode, order, nullptr, matrix};
        double* basis = p->active.nullBasis;
        p->active.nullBasis = nullptr;
        const int32_t r = cm.extend(p, z.data(), hessian);
        p->active.nullBasis = basis;
        if (r == 2) result = p->opt.hessianStorage == 2 ? -1 : -2;
    }
    p->active.boundState[best] = 0;
    p->active.nActiveBounds -= 1;
    p->active.activeChange = -(p->active.activeChange + 1);
    p->active.dropCode = best + 1;
    return result;
}

struct Candidate {
    int32_t status;  // 1, -1 bound, 0 row
    int32_t index;   // parameter or row
};

Candidate decode(const NlpProblem* p, int32_t code) {
    if (code < p->shape.nParams) return {p->active.boundState[code], code};
    return {0, code - p->shape.nParams};
}

int32_t drop_code_of(const NlpProblem* p, Candidate c) {
    return c.status != 0 ? c.index + 1 : p->shape.nParams + c.index + 1;
}

// Fresh multipliers and the sorted candidates.
int32_t candidates(NlpProblem* p, int32_t useSecondOrder, double theta, std::vector<Candidate>* out) {
    bool second = false;
    if (useSecondOrder) second = znlplm2(p) == 0;
    znlpglm(p, 0, p->work.gradient, p->active.multipliers);
    const int32_t c = sortlm(p, second ? 1 : 0, theta);
    out->clear();
    for (int32_t k = 0; k < c; ++k) out->push_back(decode(p, p->active.workList[k]));
    return c;
}

void enter_blocker(NlpProblem* p, int32_t mode, int32_t* order, double* matrix, int32_t code) {
    const int32_t n = p->shape.nParams;
    if (code < n)
        znlpupd(p, 0, mode, 0, 1, code, order, nullptr, matrix);
    else if (code < 2 * n)
        znlpupd(p, 0, mode, 0, -1, code - n, order, nullptr, matrix);
    else
        znlpupd(p, 0, mode, 0, 0, code - 2 * n, order, nullptr, matrix);
}

bool is_active(const NlpProblem* p, int32_t code) {
    const int32_t n = p->shape.nParams;
    if (code < 2 * n) return p->active.boundState[code % n] != 0;
    for (int32_t k = 0; k < p->active.nActiveLin + p->active.nDepLin; ++k)
        if (p->active.activeList[k] == code - 2 * n) return true;
    return false;
}

// Every listed candidate leaves at once and the pending dependents are
// offered again; then, while the steepest-descent direction of the new
// null space is blocked, the blocker enters, one at a time.  dropCode:
// kSeveralDropped when the direction comes free, else minus the count.
void drop_all(NlpProblem* p, int32_t mode, int32_t* order, double* matrix, const double* hessian,
              const std::vector<Candidate>& list, bool* failure) {
    for (const Candidate& cand : list)
        if (znlpdod(p, mode, cand.status, cand.index, order, nullptr, matrix, hessian) == 2) *failure = true;
    znlpcld(p, mode, order, nullptr, matrix);
    int32_t blocking = -1;
    while (p->active.nActiveBounds + p->active.nActiveLin < p->shape.nParams) {
        if (!direction_blocked(p, &blocking)) {
            p->active.dropCode = kSeveralDropped;
            return;
        }
        if (blocking < 0 || is_active(p, blocking)) break;
        enter_blocker(p, mode, order, matrix, blocking);
    }
    p->active.dropCode = -static_cast<int32_t>(list.size());
}

// Step e: every candidate at once; blockers re-entered one at a time.
void multiple_drop(NlpProblem* p, int32_t mode, int32_t useSecondOrder, int32_t* order, double* matrix,
                   const double* hessian, double theta, bool* failure) {
    std::vector<Candidate> list;
    int32_t c = candidates(p, useSecondOrder, theta, &list);
    if (theta < 1e-6)
        for (int32_t k = 0; k < c; ++k)
            if (p->active.multipliers[k] > -1e-6) {
                c = k + 1;
                break;
            }
    if (c < 2) return;
    list.resize(static_cast<size_t>(c));
    drop_all(p, mode, order, matrix, hessian, list, failure);
}

// A candidate coded as the blockers are (p lower bound, n + p upper bound,
// 2n + row) that can leave: a bound held at that side, a row among the
// active (not the dependent) ones.
bool droppable(const NlpProblem* p, int32_t code, Candidate* out) {
    const int32_t n = p->shape.nParams;
    if (code < 0) return false;
    if (code < 2 * n) {
        const int32_t q = code % n, side = code < n ? 1 : -1;
        *out = {side, q};
        return p->active.boundState[q] == side;
    }
    *out = {0, code - 2 * n};
    for (int32_t k = 0; k < p->active.nActiveLin; ++k)
        if (p->active.activeList[k] == out->index) return true;
    return false;
}

}  // namespace

double gtres(const NlpProblem* p) {
    double theta;
    if (!wzmis(p->opt.lagMultTol) && p->opt.lagMultTol > 0.0)
        theta = p->opt.lagMultTol;
    else
        theta = n_free(p) != p->active.nActiveLin ? 0.001 * p->iter.maxProjGrad : velix::kMachEpsWritten;
    theta = std::fmax(theta, 0.1 * p->opt.absGConv);
    return std::fmin(theta, 0.001);
}

int32_t sortlm(NlpProblem* p, int32_t useSecondOrder, double threshold) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nb = p->active.nActiveBounds;
    const double* mult = useSecondOrder ? p->work.workN2 : p->active.multipliers;
    std::vector<double> key;
    int32_t c = 0;
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->active.freeList[nf + j];
        if (p->active.boundState[q] == 2 || !(mult[j] < -threshold)) continue;
        p->active.workList[c++] = q;
        key.push_back(mult[j]);
    }
    for (int32_t k = 0; k < p->active.nActiveLin; ++k) {
        const int32_t row = p->active.activeList[k];
        if (!is_inequality(p, row) || !(mult[nb + k] < -threshold)) continue;
        p->active.workList[c++] = n + row;
        key.push_back(mult[nb + k]);
    }
    isort2(c, p->active.workList, key.data());
    for (int32_t k = 0; k < c; ++k) p->active.multipliers[k] = key[k];
    return c;
}

int32_t znlpcld(NlpProblem* p, int32_t mode, int32_t* order, double* vector, double* matrix) {
    bool entered = false;
    const int32_t nf = n_free(p);
    for (int32_t i = 0; i < nf && p->active.nDepBounds > 0; ++i) {
        const int32_t q = p->active.freeList[i], s = p->active.boundState[q];
        if (s == 0) continue;
        p->active.boundState[q] = 0;
        p->active.nDepBounds -= 1;
        if (znlpupd(p, 0, mode, 0, s, q, order, vector, matrix) == 0) {
            entered = true;
            i -= 1;  // the list moved up past position i
        }
    }
    const std::vector<int32_t> tail(p->active.activeList + p->active.nActiveLin, p->active.activeList + p->active.nActiveLin + p->active.nDepLin);
    p->active.nDepLin = 0;
    for (int32_t row : tail)
        if (znlpupd(p, 0, mode, 0, 0, row, order, vector, matrix) == 0) entered = true;
    return entered ? 1 : 0;
}

int32_t znlpdac(NlpProblem* p, int32_t mode, int32_t useSecondOrder, int32_t* order, double* matrix,
                const double* hessian) {
    refuse_rows_form(p, "znlpdac: sparse active-set form");
    // Without derivatives there are no multipliers to judge by.
    if (p->opt.derivLevel == 0) return 0;
    p->active.dropCode = 0;
    const double theta = gtres(p);
    if (!has_general(p)) return drop_bound_only(p, mode, order, matrix, hessian, theta);
    // Second-order multipliers need a technique with a Hessian.
    const int32_t t = p->opt.technique;
    if (t != kTechTrureg && t != kTechNewrap && t != kTechNrridg && t != kTechLevmar) useSecondOrder = 0;
    const int32_t nb0 = p->active.nActiveBounds, nl0 = p->active.nActiveLin, change0 = p->active.activeChange;
    bool failure = false;
    for (bool restart = true; restart;) {
        restart = false;
        if (!anything_to_drop(p)) break;
        std::vector<Candidate> list;
        const int32_t c = candidates(p, useSecondOrder, theta, &list);
        if (c == 0) break;
        bool dropped = false;
        for (const Candidate& cand : list) {
            const int32_t dep0 = p->active.nDepLin + p->active.nDepBounds;
            if (znlpdod(p, mode, cand.status, cand.index, order, nullptr, matrix, hessian) == 2) failure = true;
            if (p->active.nDepLin + p->active.nDepBounds > 0 && znlpcld(p, mode, order, nullptr, matrix) != 0) {
                restart = true;
                break;
            }
            int32_t blocking = -1;
            if (!direction_blocked(p, &blocking)) {
                p->active.dropCode = drop_code_of(p, cand);
                dropped = true;
                break;
            }
            // Blocked at once: the candidate goes back.
            int32_t r;
            if (p->active.nDepLin + p->active.nDepBounds != dep0)
                r = znlpact(p, mode, 0, order, nullptr, matrix) == 0 ? 0 : 1;
            else
                r = znlpupd(p, 0, mode, 1, cand.status, cand.index, order, nullptr, matrix);
            if (r != 0) nlp_internal_error("znlpdac: a released constraint cannot be put back");
        }
        if (restart || dropped) continue;
        if ((p->active.activeChange != 0 && p->active.nActiveBounds + p->active.nActiveLin < p->shape.nParams) || c == 1) {
            p->active.dropCode = 0;
            break;
        }
        multiple_drop(p, mode, useSecondOrder, order, matrix, hessian, theta, &failure);
    }
    if (p->active.nActiveBounds < nb0 || p->active.nActiveLin < nl0) p->active.activeChange = -(change0 + 1);
    if (failure) return p->active.dropCode > 0 ? -1 : (p->active.dropCode < 0 ? -2 : -3);
    return p->active.dropCode > 0 ? 1 : (p->active.dropCode < 0 ? 2 : 0);
}

void isort2(int32_t count, int32_t* idx, double* key) {
    for (int32_t gap = count / 2; gap > 0; gap /= 2)
        for (int32_t i = gap; i < count; ++i)
            for (int32_t j = i - gap; j >= 0 && key[j] > key[j + gap]; j -= gap) {
                std::swap(key[j], key[j + gap]);
                std::swap(idx[j], idx[j + gap]);
            }
}

int32_t znlpcsr(NlpProblem* p, int32_t mode, int32_t count, int32_t* order, double* reducedGradient, double* matrix,
                const double* hessian) {
    refuse_rows_form(p, "znlpcsr: sparse active-set form");
    // The codes first: the removals and the direction test reuse workList.
    std::vector<Candidate> list;
    for (int32_t k = 0; k < count; ++k) {
        Candidate cand{};
        if (droppable(p, p->active.workList[k], &cand)) list.push_back(cand);
    }
    p->active.dropCode = 0;
    if (list.empty()) return 0;
    const int32_t nb0 = p->active.nActiveBounds, nl0 = p->active.nActiveLin, change0 = p->active.activeChange;
    bool failure = false;
    drop_all(p, mode, order, matrix, hessian, list, &failure);
    if (p->active.nActiveBounds < nb0 || p->active.nActiveLin < nl0) p->active.activeChange = -(change0 + 1);
    if (reducedGradient != nullptr) {
        const std::vector<double> r = reduced_gradient(p);
        std::copy(r.begin(), r.end(), reducedGradient);
    }
    return failure ? 1 : 0;
}

namespace {

// Row k of the active list (a linear row or, from nLinCon on, a nonlinear
// constraint's gradient) into out; false when the rows cannot be read.
bool active_row(NlpProblem* p, int32_t k, double* out) {
    const int32_t n = p->shape.nParams;
    if (k >= p->shape.nLinCon) {
        if (p->con.conJacobian == nullptr) return false;
        const double* r = p->con.conJacobian + static_cast<int64_t>(k - p->shape.nLinCon) * n;
        std::copy(r, r + n, out);
        return true;
    }
    if (p->cb.conRowFn != nullptr) return p->cb.conRowFn(p, k, out) == 0;
    if (p->con.linRows == nullptr) return false;
    if (p->shape.linRowsSparse == 0) {
        std::copy(p->con.linRows + static_cast<int64_t>(k) * n, p->con.linRows + static_cast<int64_t>(k + 1) * n, out);
        return true;
    }
    std::fill(out, out + n, 0.0);
    for (int32_t e = k == 0 ? 0 : p->con.linRowEnd[k - 1]; e < p->con.linRowEnd[k]; ++e)
        out[p->con.linColIndex[e]] = p->con.linRows[e];
    return true;
}

// Pivots below this share of a unit row leave the active rows dependent.
constexpr double kDependentPivot = 1e-10;

}  // namespace

bool znlp_all_fixed_holds(NlpProblem* p, double t) {
    const int32_t n = p->shape.nParams, nb = p->active.nActiveBounds, nf = n_free(p);
    if (p->shape.hasNlinCon && !(p->iter.maxConViolation <= t)) return false;
    // Without the lists the count alone decides.
    if ((nb > 0 && (p->active.freeList == nullptr || p->active.boundState == nullptr)) ||
        (p->active.nActiveLin > 0 && p->active.activeList == nullptr) || p->work.gradient == nullptr)
        return true;
    // The transposed rows, column k the unit normal of active constraint
    // k, with its norm and whether it is an inequality (its multiplier
    // must not be negative).
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0), norm(static_cast<size_t>(n), 1.0), row(static_cast<size_t>(n));
    std::vector<char> inequality(static_cast<size_t>(n), 0);
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->active.freeList[nf + j], s = p->active.boundState[q];
        a[static_cast<size_t>(q) * n + j] = s == -1 ? -1.0 : 1.0;
        inequality[static_cast<size_t>(j)] = s == 1 || s == -1;
    }
    for (int32_t k = 0; k < p->active.nActiveLin; ++k) {
        const int32_t r = p->active.activeList[k], c = nb + k;
        if (!active_row(p, r, row.data())) return true;
        double s = 0.0;
        for (const double v : row) s += v * v;
        norm[static_cast<size_t>(c)] = std::sqrt(s);
        if (!(norm[static_cast<size_t>(c)] > 0.0)) return false;
        for (int32_t i = 0; i < n; ++i) a[static_cast<size_t>(i) * n + c] = row[static_cast<size_t>(i)] / norm[static_cast<size_t>(c)];
        inequality[static_cast<size_t>(c)] = is_inequality(p, r);
    }
    // g = A' lambda by elimination with partial pivoting.
    std::vector<double> lambda(p->work.gradient, p->work.gradient + n);
    for (int32_t c = 0; c < n; ++c) {
        int32_t piv = c;
        for (int32_t i = c + 1; i < n; ++i)
            if (std::fabs(a[static_cast<size_t>(i) * n + c]) > std::fabs(a[static_cast<size_t>(piv) * n + c])) piv = i;
        if (!(std::fabs(a[static_cast<size_t>(piv) * n + c]) > kDependentPivot)) return false;
        if (piv != c) {
            std::swap_ranges(a.begin() + static_cast<int64_t>(piv) * n, a.begin() + static_cast<int64_t>(piv + 1) * n,
                             a.begin() + static_cast<int64_t>(c) * n);
            std::swap(lambda[static_cast<size_t>(piv)], lambda[static_cast<size_t>(c)]);
        }
        for (int32_t i = c + 1; i < n; ++i) {
            const double f = a[static_cast<size_t>(i) * n + c] / a[static_cast<size_t>(c) * n + c];
            for (int32_t j = c; j < n; ++j) a[static_cast<size_t>(i) * n + j] -= f * a[static_cast<size_t>(c) * n + j];
            lambda[static_cast<size_t>(i)] -= f * lambda[static_cast<size_t>(c)];
        }
    }
    for (int32_t c = n - 1; c >= 0; --c) {
        double v = lambda[static_cast<size_t>(c)];
        for (int32_t j = c + 1; j < n; ++j) v -= a[static_cast<size_t>(c) * n + j] * lambda[static_cast<size_t>(j)];
        lambda[static_cast<size_t>(c)] = v / a[static_cast<size_t>(c) * n + c];
    }
    const double theta = gtres(p);
    for (int32_t c = 0; c < n; ++c)
        if (inequality[static_cast<size_t>(c)] && lambda[static_cast<size_t>(c)] / norm[static_cast<size_t>(c)] < -theta) return false;
    return true;
}
