// Releasing active constraints by the signs of their Lagrange multipliers
// (dense form): a bound or inequality whose multiplier is negative beyond
// a threshold holds the point against a direction of descent, so it
// leaves the active set, unless the steepest-descent direction of the
// enlarged null space is blocked at once, in which case it is put back and
// the next candidate is tried (Gill, Murray and Wright, Practical
// Optimization, 1981, sec. 5.8.3).  Candidates are sorted by Shell's method.
#include <cfloat>
#include <climits>
#include <cmath>
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
    return row < p->nLinCon ? row >= p->nLinEq : row - p->nLinCon >= p->nNlinEq;
}

// Shell's sort of idx by key, ascending; an exchange only when the earlier
// key is strictly greater, so equal keys keep their order.
void shell_sort(int32_t c, int32_t* idx, double* key) {
    for (int32_t gap = c / 2; gap > 0; gap /= 2)
        for (int32_t i = gap; i < c; ++i)
            for (int32_t j = i - gap; j >= 0 && key[j] > key[j + gap]; j -= gap) {
                std::swap(key[j], key[j + gap]);
                std::swap(idx[j], idx[j + gap]);
            }
}

// Z'g over the null space (the gradient's free components when Q is the
// identity).
std::vector<double> reduced_gradient(NlpProblem* p) {
    const int32_t nz = n_reduced(p), nf = n_free(p), n = p->nParams;
    std::vector<double> r(static_cast<size_t>(std::max(nz, 0)), 0.0);
    for (int32_t k = 0; k < nz; ++k) {
        if (q_is_identity(p)) {
            r[k] = p->gradient[p->freeList[k]];
            continue;
        }
        double s = 0.0;
        for (int32_t i = 0; i < nf; ++i) s += p->nullBasis[static_cast<size_t>(i) * n + k] * p->gradient[p->freeList[i]];
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
    for (int32_t j = 0; j < p->nActiveBounds; ++j)
        if (p->boundState[p->freeList[nf + j]] != 2) return true;
    for (int32_t k = 0; k < p->nActiveLin; ++k)
        if (is_inequality(p, p->activeList[k])) return true;
    return false;
}

// Bounds only: the bound whose gradient component is most wrong-signed.
int32_t drop_bound_only(NlpProblem* p, int32_t mode, int32_t* order, double* matrix, const double* hessian,
                        double theta) {
    const int32_t n = p->nParams, nf = n_free(p);
    int32_t best = -1;
    double bestG = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t s = p->boundState[i];
        if (s != 1 && s != -1) continue;
        const double g = -s * p->gradient[i];
        if (g > theta && g > bestG) {
            bestG = g;
            best = i;
        }
    }
    if (best < 0) return 0;
    int32_t pos = -1;
    for (int32_t i = nf; i < n; ++i)
        if (p->freeList[i] == best) pos = i;
    if (pos < 0) nlp_internal_error("znlpdac: a held parameter is not in the tail of the free list");
    std::swap(p->freeList[pos], p->freeList[nf]);
    int32_t result = best + 1;
    if (matrix != nullptr && order != nullptr) {
        std::vector<double> z(static_cast<size_t>(n), 0.0);
        z[best] = 1.0;
        if (mode == 2) p->pivotOrder[*order] = nf;
        // With bounds alone the null space is the free space itself.
        Carried cm{mode == 0 ? 1 : mode, order, nullptr, matrix};
        double* basis = p->nullBasis;
        p->nullBasis = nullptr;
        const int32_t r = cm.extend(p, z.data(), hessian);
        p->nullBasis = basis;
        if (r == 2) result = p->hessianStorage == 2 ? -1 : -2;
    }
    p->boundState[best] = 0;
    p->nActiveBounds -= 1;
    p->activeChange = -(p->activeChange + 1);
    p->dropCode = best + 1;
    return result;
}

struct Candidate {
    int32_t status;  // 1, -1 bound, 0 row
    int32_t index;   // parameter or row
};

Candidate decode(const NlpProblem* p, int32_t code) {
    if (code < p->nParams) return {p->boundState[code], code};
    return {0, code - p->nParams};
}

int32_t drop_code_of(const NlpProblem* p, Candidate c) {
    return c.status != 0 ? c.index + 1 : p->nParams + c.index + 1;
}

// Fresh multipliers and the sorted candidates.
int32_t candidates(NlpProblem* p, int32_t useSecondOrder, double theta, std::vector<Candidate>* out) {
    bool second = false;
    if (useSecondOrder) second = znlplm2(p) == 0;
    znlpglm(p, 0, p->gradient, p->multipliers);
    const int32_t c = sortlm(p, second ? 1 : 0, theta);
    out->clear();
    for (int32_t k = 0; k < c; ++k) out->push_back(decode(p, p->workList[k]));
    return c;
}

void enter_blocker(NlpProblem* p, int32_t mode, int32_t* order, double* matrix, int32_t code) {
    const int32_t n = p->nParams;
    if (code < n)
        znlpupd(p, 0, mode, 0, 1, code, order, nullptr, matrix);
    else if (code < 2 * n)
        znlpupd(p, 0, mode, 0, -1, code - n, order, nullptr, matrix);
    else
        znlpupd(p, 0, mode, 0, 0, code - 2 * n, order, nullptr, matrix);
}

bool is_active(const NlpProblem* p, int32_t code) {
    const int32_t n = p->nParams;
    if (code < 2 * n) return p->boundState[code % n] != 0;
    for (int32_t k = 0; k < p->nActiveLin + p->nDepLin; ++k)
        if (p->activeList[k] == code - 2 * n) return true;
    return false;
}

// Step e: every candidate at once; blockers re-entered one at a time.
void multiple_drop(NlpProblem* p, int32_t mode, int32_t useSecondOrder, int32_t* order, double* matrix,
                   const double* hessian, double theta, bool* failure) {
    std::vector<Candidate> list;
    int32_t c = candidates(p, useSecondOrder, theta, &list);
    if (theta < 1e-6)
        for (int32_t k = 0; k < c; ++k)
            if (p->multipliers[k] > -1e-6) {
                c = k + 1;
                break;
            }
    if (c < 2) return;
    for (int32_t k = 0; k < c; ++k)
        if (znlpdod(p, mode, list[k].status, list[k].index, order, nullptr, matrix, hessian) == 2) *failure = true;
    znlpcld(p, mode, order, nullptr, matrix);
    int32_t blocking = -1;
    while (p->nActiveBounds + p->nActiveLin < p->nParams) {
        if (!direction_blocked(p, &blocking)) {
            p->dropCode = kSeveralDropped;
            return;
        }
        if (blocking < 0 || is_active(p, blocking)) break;
        enter_blocker(p, mode, order, matrix, blocking);
    }
    p->dropCode = -c;
}

}  // namespace

double gtres(const NlpProblem* p) {
    double theta;
    if (!wzmis(p->lagMultTol) && p->lagMultTol > 0.0)
        theta = p->lagMultTol;
    else
        theta = n_free(p) != p->nActiveLin ? 0.001 * p->maxProjGrad : velix::kMachEpsWritten;
    theta = std::fmax(theta, 0.1 * p->absGConv);
    return std::fmin(theta, 0.001);
}

int32_t sortlm(NlpProblem* p, int32_t useSecondOrder, double threshold) {
    const int32_t n = p->nParams, nf = n_free(p), nb = p->nActiveBounds;
    const double* mult = useSecondOrder ? p->workN2 : p->multipliers;
    std::vector<double> key;
    int32_t c = 0;
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->freeList[nf + j];
        if (p->boundState[q] == 2 || !(mult[j] < -threshold)) continue;
        p->workList[c++] = q;
        key.push_back(mult[j]);
    }
    for (int32_t k = 0; k < p->nActiveLin; ++k) {
        const int32_t row = p->activeList[k];
        if (!is_inequality(p, row) || !(mult[nb + k] < -threshold)) continue;
        p->workList[c++] = n + row;
        key.push_back(mult[nb + k]);
    }
    shell_sort(c, p->workList, key.data());
    for (int32_t k = 0; k < c; ++k) p->multipliers[k] = key[k];
    return c;
}

int32_t znlpcld(NlpProblem* p, int32_t mode, int32_t* order, double* vector, double* matrix) {
    bool entered = false;
    const int32_t nf = n_free(p);
    for (int32_t i = 0; i < nf && p->nDepBounds > 0; ++i) {
        const int32_t q = p->freeList[i], s = p->boundState[q];
        if (s == 0) continue;
        p->boundState[q] = 0;
        p->nDepBounds -= 1;
        if (znlpupd(p, 0, mode, 0, s, q, order, vector, matrix) == 0) {
            entered = true;
            i -= 1;  // the list moved up past position i
        }
    }
    const std::vector<int32_t> tail(p->activeList + p->nActiveLin, p->activeList + p->nActiveLin + p->nDepLin);
    p->nDepLin = 0;
    for (int32_t row : tail)
        if (znlpupd(p, 0, mode, 0, 0, row, order, vector, matrix) == 0) entered = true;
    return entered ? 1 : 0;
}

int32_t znlpdac(NlpProblem* p, int32_t mode, int32_t useSecondOrder, int32_t* order, double* matrix,
                const double* hessian) {
    refuse_rows_form(p, "znlpdac: sparse active-set form");
    // Without derivatives there are no multipliers to judge by.
    if (p->derivLevel == 0) return 0;
    p->dropCode = 0;
    const double theta = gtres(p);
    if (!has_general(p)) return drop_bound_only(p, mode, order, matrix, hessian, theta);
    // Second-order multipliers need a technique with a Hessian.
    const int32_t t = p->technique;
    if (t != kTechTrureg && t != kTechNewrap && t != kTechNrridg && t != kTechLevmar) useSecondOrder = 0;
    const int32_t nb0 = p->nActiveBounds, nl0 = p->nActiveLin, change0 = p->activeChange;
    bool failure = false;
    for (bool restart = true; restart;) {
        restart = false;
        if (!anything_to_drop(p)) break;
        std::vector<Candidate> list;
        const int32_t c = candidates(p, useSecondOrder, theta, &list);
        if (c == 0) break;
        bool dropped = false;
        for (const Candidate& cand : list) {
            const int32_t dep0 = p->nDepLin + p->nDepBounds;
            if (znlpdod(p, mode, cand.status, cand.index, order, nullptr, matrix, hessian) == 2) failure = true;
            if (p->nDepLin + p->nDepBounds > 0 && znlpcld(p, mode, order, nullptr, matrix) != 0) {
                restart = true;
                break;
            }
            int32_t blocking = -1;
            if (!direction_blocked(p, &blocking)) {
                p->dropCode = drop_code_of(p, cand);
                dropped = true;
                break;
            }
            // Blocked at once: the candidate goes back.
            int32_t r;
            if (p->nDepLin + p->nDepBounds != dep0)
                r = znlpact(p, mode, 0, order, nullptr, matrix) == 0 ? 0 : 1;
            else
                r = znlpupd(p, 0, mode, 1, cand.status, cand.index, order, nullptr, matrix);
            if (r != 0) nlp_internal_error("znlpdac: a released constraint cannot be put back");
        }
        if (restart || dropped) continue;
        if ((p->activeChange != 0 && p->nActiveBounds + p->nActiveLin < p->nParams) || c == 1) {
            p->dropCode = 0;
            break;
        }
        multiple_drop(p, mode, useSecondOrder, order, matrix, hessian, theta, &failure);
    }
    if (p->nActiveBounds < nb0 || p->nActiveLin < nl0) p->activeChange = -(change0 + 1);
    if (failure) return p->dropCode > 0 ? -1 : (p->dropCode < 0 ? -2 : -3);
    return p->dropCode > 0 ? 1 : (p->dropCode < 0 ? 2 : 0);
}
