// Reduced-space operations of the optimizer: the techniques work on the
// free parameters and, under active general constraints, in the null space
// Z of the active rows (Gill, Murray and Wright, Practical Optimization,
// 1981, sec. 5.1-5.2).  Vectors and packed symmetric matrices move between
// the spaces here; inner products that feed step decisions are guarded
// against underflow of tiny components.
#include "optimizer/core/reduced_space.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "host/internal_error.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/pending.h"
#include "velix/codes.h"
#include "velix/host.h"

using namespace velix::detail;
using velix::pk;

namespace {

// Below it a factor of a product is negligible (10 times the square root of
// the smallest normalised double).
constexpr double kGuard = 10.0 * velix::kSqrtDblMinWritten;

// Q is applied under general constraints when rows are active or the
// technique accumulates its basis.
bool applies_q(const NlpProblem* p) {
    return has_general(p) && (p->nActiveLin > 0 || keeps_basis(p->technique));
}

void refuse_sparse(const NlpProblem* p, const char* routine) {
    if (p->conFactorForm == 2) nlp_internal_error(routine);
}

double tolerance(const NlpProblem* p) { return p->feasTol * std::pow(10.0, p->feasRound); }

}  // namespace

void nlp_internal_error(const char* what) { internal_error(what); }

double dotprd(int32_t n, const double* a, const double* b) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double m = std::fmax(std::fabs(a[i]), std::fabs(b[i]));
        if (m < kGuard) continue;
        if (m <= 1.0 && std::fabs(a[i] / kGuard * b[i]) < kGuard) continue;
        s += a[i] * b[i];
    }
    return s;
}

double znlpgs(const NlpProblem* p, const double* a, const double* b, const double* g, const double* s) {
    const int32_t nr = n_reduced(p);
    if (nr <= 0) return 0.0;
    if (has_general(p)) return dotprd(nr, a, b);
    if (p->hasBounds) {
        double sum = 0.0;
        for (int32_t i = 0; i < n_free(p); ++i) sum += g[p->freeList[i]] * s[p->freeList[i]];
        return sum;
    }
    return dotprd(p->nParams, g, s);
}

void znlpvre(NlpProblem* p, const double* v, double* out) {
    refuse_sparse(p, "znlpvre: sparse active-set form");
    const int32_t n = p->nParams, nf = n_free(p), nr = n_reduced(p);
    if (nr <= 0) return;
    if (!has_general(p) && !p->hasBounds) {
        for (int32_t i = 0; i < n; ++i) out[i] = v[i];
    } else if (!has_general(p)) {
        for (int32_t i = 0; i < nf; ++i) out[i] = v[p->freeList[i]];
    } else if (applies_q(p)) {
        for (int32_t k = 0; k < nr; ++k) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += p->nullBasis[i * n + k] * v[p->freeList[i]];
            out[k] = s;
        }
    } else {
        for (int32_t i = 0; i < nr; ++i) out[i] = v[p->freeList[i]];
    }
}

void znlpvex(NlpProblem* p, const double* r, double* out) {
    refuse_sparse(p, "znlpvex: sparse active-set form");
    const int32_t n = p->nParams, nf = n_free(p), nr = n_reduced(p);
    if (nr <= 0) return;
    if (!has_general(p) && !p->hasBounds) {
        for (int32_t i = 0; i < n; ++i) out[i] = r[i];
        return;
    }
    if (has_general(p) || p->nActiveBounds > 0)
        for (int32_t i = 0; i < n; ++i) out[i] = 0.0;
    if (!has_general(p)) {
        for (int32_t i = 0; i < nf; ++i) out[p->freeList[i]] = r[i];
    } else if (applies_q(p)) {
        for (int32_t i = 0; i < nf; ++i) {
            double s = 0.0;
            for (int32_t k = 0; k < nr; ++k) s += p->nullBasis[i * n + k] * r[k];
            out[p->freeList[i]] = s;
        }
    } else {
        for (int32_t i = 0; i < nr; ++i) out[p->freeList[i]] = r[i];
    }
}

void znlpgcs(NlpProblem* p, double* out) {
    refuse_sparse(p, "znlpgcs: sparse active-set form");
    const int32_t n = p->nParams, nf = n_free(p);
    const double* g = p->gradient;
    if (has_general(p) && applies_q(p)) {
        for (int32_t k = 0; k < nf; ++k) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += p->nullBasis[i * n + k] * g[p->freeList[i]];
            out[k] = s;
        }
    } else if (has_general(p) || p->hasBounds) {
        for (int32_t i = 0; i < nf; ++i) out[i] = g[p->freeList[i]];
    } else {
        for (int32_t i = 0; i < n; ++i) out[i] = g[i];
    }
}

void znlpgmx(NlpProblem* p, int32_t toGiven, double* out) {
    refuse_sparse(p, "znlpgmx: sparse active-set form");
    const int32_t n = p->nParams, nf = n_free(p), nr = n_reduced(p);
    double* v = toGiven ? out : p->reducedGradient;
    const double* g = p->gradient;
    double worst = 0.0;
    if (has_general(p)) {
        const int32_t len = applies_q(p) ? nr : nf;
        for (int32_t k = 0; k < len; ++k) {
            double s = 0.0;
            if (applies_q(p))
                for (int32_t i = 0; i < nf; ++i) s += p->nullBasis[i * n + k] * g[p->freeList[i]];
            else
                s = g[p->freeList[k]];
            if (v != nullptr) v[k] = s;
            worst = std::fmax(worst, std::fabs(s));
        }
    } else {
        const bool bounds = p->hasBounds != 0;
        const int32_t len = bounds ? nf : n;
        for (int32_t i = 0; i < len; ++i) {
            const double s = g[bounds ? p->freeList[i] : i];
            if (toGiven && out != nullptr) out[i] = s;
            worst = std::fmax(worst, std::fabs(s));
        }
    }
    p->maxProjGrad = nf > 0 ? worst : 0.0;
}

void znlpsmv(int32_t n, const int32_t* idx, const double* a, const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) {
        double s = 0.0;
        const int32_t ri = idx ? idx[i] : i;
        for (int32_t j = 0; j < n; ++j) {
            const int32_t cj = idx ? idx[j] : j;
            const int32_t hi = ri > cj ? ri : cj, lo = ri > cj ? cj : ri;
            s += a[static_cast<size_t>(hi) * (hi + 1) / 2 + lo] * x[j];
        }
        y[i] = s;
    }
}

void znlp_free_list(NlpProblem* p) {
    int32_t k = 0;
    for (int32_t i = 0; i < p->nParams; ++i)
        if (p->boundState[i] == 0) p->freeList[k++] = i;
    for (int32_t i = 0; i < p->nParams; ++i)
        if (p->boundState[i] != 0) p->freeList[k++] = i;
}

int32_t znlpfbc(NlpProblem* p, int32_t push) {
    if (!p->hasBounds) return 0;
    const double tau = tolerance(p);
    const double delta = push == 1 ? 0.001 : 0.1;
    int32_t count = 0;
    for (int32_t i = 0; i < p->nParams; ++i) {
        const double l = p->lower[i], u = p->upper[i];
        const bool lf = l > -DBL_MAX, uf = u < DBL_MAX;
        double& x = p->x[i];
        if (lf && uf && l + tau * (1 + std::fabs(l)) >= u) {
            p->boundState[i] = 2;
            p->upper[i] = x = l;
            ++count;
            continue;
        }
        p->boundState[i] = 0;
        if (lf && x <= l + tau * (1 + std::fabs(l))) {
            double v = l;
            if (push) v = uf ? (u - l < 4 ? l + 0.5 * (u - l) : l + delta * (u - l)) : l + std::fmax(1.0, delta * std::fabs(l));
            if (v <= l + tau * (1 + std::fabs(l))) {
                p->boundState[i] = 1;
                ++count;
            }
            x = v;
        }
        if (uf && x >= u - tau * (1 + std::fabs(u))) {
            double v = u;
            if (push) v = lf ? (u - l < 4 ? u - 0.5 * (u - l) : u - delta * (u - l)) : u - std::fmax(1.0, delta * std::fabs(u));
            if (v >= u - tau * (1 + std::fabs(u))) {
                if (p->boundState[i] == 0) ++count;
                p->boundState[i] = -1;
            }
            x = v;
        }
    }
    return count;
}

int32_t znlpqts(int32_t mode, int32_t m, double tol, const double* t, const double* b, double* x) {
    auto at = [t](int32_t r, int32_t c) { return t[static_cast<size_t>(r) * (r + 1) / 2 + c]; };
    if (mode == 1) {
        for (int32_t i = 0; i < m; ++i) {
            if (std::fabs(at(i, 0)) <= tol) return 1;
            double s = b[i];
            for (int32_t c = 1; c <= i; ++c) s -= at(i, c) * x[m - 1 - i + c];
            x[m - 1 - i] = s / at(i, 0);
        }
        return 0;
    }
    for (int32_t i = m - 1; i >= 0; --i) {
        if (std::fabs(at(i, 0)) <= tol) return i + 1;
        double s = b[m - 1 - i];
        for (int32_t j = i + 1; j < m; ++j) s -= at(j, j - i) * x[j];
        x[i] = s / at(i, 0);
    }
    return 0;
}

void znlpscd(NlpProblem* p, double* v) {
    const int32_t nr = n_reduced(p);
    if (p->scalingKind == 0 || nr <= 0) return;
    if (p->hasLinCon)
        for (int32_t i = 0; i < nr; ++i) v[i] /= p->scale[i];
    else if (p->hasBounds)
        for (int32_t i = 0; i < n_free(p); ++i) v[i] /= p->scale[p->freeList[i]];
    else
        for (int32_t i = 0; i < p->nParams; ++i) v[i] /= p->scale[i];
}

double znlpsp2(NlpProblem* p, int32_t kind, double* step, double* out) {
    const int32_t nr = n_reduced(p);
    if (nr <= 0) return 0.0;
    if (p->hasBounds && !has_general(p)) {
        const double tau = tolerance(p);
        for (int32_t i = 0; i < n_free(p); ++i) {
            const int32_t q = p->freeList[i];
            const double l = p->lower[q], u = p->upper[q], x = p->xBase[q];
            if (l > -DBL_MAX && x + step[i] - l <= tau * (1 + std::fabs(l))) step[i] = l - x;
            if (u < DBL_MAX && u - (x + step[i]) <= tau * (1 + std::fabs(u))) step[i] = u - x;
        }
    }
    double result = 0.0;
    if (kind == 1) {
        double s = 0.0;
        for (int32_t i = 0; i < nr; ++i) {
            const double v = p->scalingKind ? step[i] * p->scale[i] : step[i];
            s += v * v;
        }
        result = std::sqrt(s);
    } else if (kind == 2) {
        double s = 0.0;
        for (int32_t i = 0; i < nr; ++i) {
            const double g = p->hasLinCon ? p->reducedGradient[i]
                             : p->hasBounds ? p->gradient[p->freeList[i]]
                                            : p->gradient[i];
            s += g * step[i];
        }
        result = -0.5 * s;
    }
    znlpvex(p, step, out);
    return result;
}

void znlpsym(int32_t mode, int32_t n, int32_t k, const int32_t* flags, const double* v, double* a) {
    auto pk = [](int32_t i, int32_t j) { return static_cast<size_t>(i) * (i + 1) / 2 + j; };
    // The positions of the reduced matrix: the flag-0 parameters (and k in
    // modes 2, 4, 5, 6), in index order.
    std::vector<int32_t> pos;
    for (int32_t i = 0; i < n; ++i)
        if ((flags != nullptr && flags[i] == 0) || (mode != 1 && mode != 3 && i == k) || (mode == 1))
            pos.push_back(i);
    if (mode == 1 || mode == 2) {
        // Delete row and column of k (mode 1: position k of an order-n matrix).
        const int32_t m = static_cast<int32_t>(pos.size());
        int32_t kk = mode == 1 ? k : -1;
        for (int32_t r = 0; mode == 2 && r < m; ++r)
            if (pos[r] == k) kk = r;
        if (kk < 0) return;
        size_t o = 0;
        for (int32_t i = 0; i < m; ++i) {
            if (i == kk) continue;
            for (int32_t j = 0; j <= i; ++j)
                if (j != kk) a[o++] = a[pk(i, j)];
        }
    } else if (mode == 3) {
        size_t o = 0;
        for (int32_t i = 0; i < n; ++i) {
            if (flags[i] != 0) continue;
            for (int32_t j = 0; j <= i; ++j)
                if (flags[j] == 0) a[o++] = a[pk(i, j)];
        }
    } else if (mode == 4) {
        const int32_t m = static_cast<int32_t>(pos.size());
        for (int32_t r = 0; r < m; ++r)
            if (pos[r] == k) {
                for (int32_t c = 0; c < m; ++c) a[r >= c ? pk(r, c) : pk(c, r)] = 0.0;
                a[pk(r, r)] = v[0];
            }
    } else if (mode == 5 || mode == 6) {
        // Insert k into a matrix over the other flag-0 parameters: move the
        // trailing entries back from the end.
        const int32_t m = static_cast<int32_t>(pos.size());
        int32_t kk = 0;
        while (kk < m && pos[kk] != k) ++kk;
        for (int32_t i = m - 1; i >= 0; --i)
            for (int32_t j = i; j >= 0; --j) {
                if (i == kk || j == kk) continue;
                const int32_t oi = i > kk ? i - 1 : i, oj = j > kk ? j - 1 : j;
                a[pk(i, j)] = a[pk(oi, oj)];
            }
        for (int32_t c = 0; c < m; ++c) a[kk >= c ? pk(kk, c) : pk(c, kk)] = mode == 6 ? v[pos[c]] : 0.0;
        a[pk(kk, kk)] = mode == 6 ? v[k] : v[0];
    }
}

int32_t znlptcs(NlpProblem* p, const double* r, int32_t* index, int32_t flag) {
    refuse_sparse(p, "znlptcs: sparse active-set form");
    const int32_t n = p->nParams;
    double* d = p->workN;
    std::vector<double> negated(r, r + n_reduced(p));
    for (double& v : negated) v = -v;
    for (int32_t i = 0; i < n; ++i) d[i] = 0.0;
    znlpvex(p, negated.data(), d);
    const double norm = std::sqrt(dotprd(n, d, d));
    if (norm > 10.0)
        for (int32_t i = 0; i < n; ++i) d[i] /= norm;
    *index = -1;
    return znlpstl(p, 0, flag, p->x, d, index) < 0 ? 1 : 0;
}
