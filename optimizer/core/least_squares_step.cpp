// The point that minimises a quadratic model on the manifold of the active
// constraints: the active rows held as equalities and the held parameters
// on their bounds.  The range-space part meets the rows through the
// triangular factor T, the null-space part solves the reduced Newton
// system (Gill, Murray and Wright, Practical Optimization, 1981, sec.
// 5.1.2).  The feasible-start search uses it to restore equalities.
#include <cfloat>
#include <cmath>
#include <vector>

#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/factor_kinds.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "host/fields.h"
#include "velix/host.h"

using namespace velix::detail;

namespace {

double q_at(const NlpProblem* p, int32_t i, int32_t k) { return p->active.nullBasis[static_cast<size_t>(i) * p->shape.nParams + k]; }


// Column k of the basis at free position i (the identity when Q is not kept).
double basis(const NlpProblem* p, int32_t i, int32_t k) {
    return q_is_identity(p) || p->active.nullBasis == nullptr ? (i == k ? 1.0 : 0.0) : q_at(p, i, k);
}

}  // namespace

namespace velix::detail {

bool range_part(NlpProblem* p, std::vector<double>& xr) {
    const int32_t n = p->shape.nParams, nf = n_free(p), m = p->active.nActiveLin, nz = nf - m;
    std::vector<double> b(static_cast<size_t>(m)), u(static_cast<size_t>(m));
    for (int32_t j = 0; j < m; ++j) {
        const int32_t row = p->active.activeList[j];
        b[j] = p->con.linRhs[row];
        if (p->active.nActiveBounds == 0) continue;
        p->cb.conRowFn(p, row, p->active.rowBuffer);
        for (int32_t i = nf; i < n; ++i) b[j] -= p->active.rowBuffer[p->active.freeList[i]] * held_bound(p, p->active.freeList[i]);
    }
    if (m == 1) {
        if (!(std::fabs(p->active.activeFactor[0]) > DBL_MIN)) return false;
        u[0] = b[0] / p->active.activeFactor[0];
    } else if (znlpqts(1, m, DBL_MIN, p->active.activeFactor, b.data(), u.data()) != 0) {
        return false;
    }
    for (int32_t i = 0; i < nf; ++i) {
        double s = 0.0;
        for (int32_t k = 0; k < m; ++k) s += q_at(p, i, nz + k) * u[k];
        xr[i] = s;
    }
    return true;
}

}  // namespace velix::detail

int32_t lsolv(NlpProblem* p, int32_t, const double* h, double* w) {
    const int32_t nz = n_reduced(p);
    double* rhs = p->work.direction;
    p->iter.ridge = 0.0;
    auto reduce = [&]() {
        if (!p->shape.hasBounds && !p->shape.hasLinCon) {
            for (int32_t i = 0; i < p->shape.packedLen; ++i) w[i] = h[i];
        } else if (p->active.nActiveLin > 0) {
            znlpred(p, 0, h, w);
        } else {
            znlpre2(p, 0, h, w);
        }
    };
    reduce();
    double logdet = 0.0;
    int32_t rank = nz;
    bool pivoted = false;
    if (znlpcde(p, 2, nz, p->opt.singularTol, &logdet, w, w) != 0) {
        reduce();
        const int32_t k = znlpcde(p, 4, nz, p->opt.singularTol, &logdet, w, w);
        pivoted = true;
        if (k > 0) rank = k - 1;
        znlpprm(0, nz, p->active.pivotOrder, rhs);
    }
    if (rank > 0 && znlpcso(p, 2, rank, w, rhs) != 0) return -1;
    for (int32_t i = rank; i < nz; ++i) rhs[i] = 0.0;
    if (pivoted) znlpprm(1, nz, p->active.pivotOrder, rhs);
    return rank < nz ? 1 : 0;
}

int32_t znlplcq(NlpProblem* p, int32_t noMultipliers, int32_t factorCurrent, double sigma, const double* g,
                const double* h, double* w) {
    if (h == nullptr && (wzmis(sigma) || std::fabs(sigma) < p->opt.singularTol)) return -1;
    if (!p->shape.hasLinCon) noMultipliers = 1;
    if (factorCurrent == 0) {
        znlpfch(p, 1, 0, 0);
        znlpfta(p, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    }
    const int32_t n = p->shape.nParams, nf = n_free(p), m = p->active.nActiveLin, nz = nf - m;
    std::vector<double> xr(static_cast<size_t>(nf), 0.0);
    // A failed solve of the active rows is the user's inconsistent rows,
    // not an internal error: the caller hears -3.
    if (m > 0 && !range_part(p, xr)) return -3;
    std::vector<double> xfull(static_cast<size_t>(n), 0.0);
    for (int32_t i = nf; i < n; ++i) xfull[p->active.freeList[i]] = held_bound(p, p->active.freeList[i]);
    for (int32_t i = 0; i < nf; ++i) xfull[p->active.freeList[i]] = xr[i];
    if (nz > 0) {
        // The model gradient at x_r (held parameters on their bounds).
        std::vector<double> wv(static_cast<size_t>(n), 0.0);
        if (h != nullptr)
            znlpsmv(n, nullptr, h, xfull.data(), wv.data());
        else
            for (int32_t i = 0; i < nf; ++i) wv[p->active.freeList[i]] = sigma * xr[i];
        if (g != nullptr)
            for (int32_t i = 0; i < nf; ++i) wv[p->active.freeList[i]] += g[p->active.freeList[i]];
        for (int32_t k = 0; k < nz; ++k) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += basis(p, i, k) * wv[p->active.freeList[i]];
            p->work.direction[k] = -s;
        }
        if (h == nullptr) {
            for (int32_t k = 0; k < nz; ++k) p->work.direction[k] /= sigma;
        } else if (lsolv(p, g != nullptr, h, w) < 0) {
            return -2;
        }
        for (int32_t i = 0; i < nf; ++i) {
            double s = xr[i];
            for (int32_t k = 0; k < nz; ++k) s += basis(p, i, k) * p->work.direction[k];
            xfull[p->active.freeList[i]] = s;
        }
    }
    for (int32_t i = 0; i < n; ++i) p->param.x[i] = xfull[i];
    if (noMultipliers != 0) return 0;
    double* out = p->active.multipliers;
    if (p->active.nActiveBounds + m == 0 || (h == nullptr && g == nullptr)) {
        for (int32_t k = 0; k < p->active.nActiveBounds + m; ++k) out[k] = 0.0;
        return 0;
    }
    std::vector<double> mg(static_cast<size_t>(n), 0.0);
    if (h != nullptr) znlpsmv(n, nullptr, h, p->param.x, mg.data());
    if (g != nullptr)
        for (int32_t i = 0; i < n; ++i) mg[i] += g[i];
    znlpglm(p, 0, mg.data(), out);
    return 0;
}
