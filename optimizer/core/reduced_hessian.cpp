// Hessians in the reduced space: the free submatrix, the null-space
// projection Z'HZ and its expansion back, products by storage, the
// parameter scaling from the Hessian diagonal, and Gram-Schmidt with
// reorthogonalization for the null-space basis (Daniel, Gragg, Kaufman and
// Stewart, "Reorthogonalization and stable algorithms for updating the
// Gram-Schmidt QR factorization", Math. Comp. 30, 1976).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

#include "host/scratch_file.h"
#include "numerics/kernel_support.h"
#include "numerics/sparse_llt.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"

using namespace velix::detail;
using velix::pk;

namespace {

// H(a, b) of the full matrix by storage: a diagonal one is zero off the
// diagonal; a sparse one holds its lower triangle by rows in the pattern
// hessianPattern (columns increasing within a row), zero where the
// pattern has no entry.
double entry(const NlpProblem* p, int32_t storage, const double* h, int32_t a, int32_t b) {
    if (storage == 2) return a == b ? h[a] : 0.0;
    if (storage != 1) return h[pk(a, b)];
    if (a == b) return h[a];
    const int32_t row = std::max(a, b), col = std::min(a, b);
    const int32_t* ija = p->hess.hessianPattern;
    for (int32_t k = ija[row]; k < ija[row + 1] && ija[k] <= col; ++k)
        if (ija[k] == col) return h[k];
    return 0.0;
}

// The sparse Hessian keeps its pattern under bounds alone: the parameters
// held at a bound are marked in hessianPerm (free-list positions, negative
// for the others) and a copy is the scatter into the factor's pattern.
void sparse_reduce(NlpProblem* p, int32_t mode, const double* h, double* out) {
    const int32_t n = p->shape.nParams;
    if (p->shape.hasBounds) {
        znlp_free_list(p);
        for (int32_t k = 0; k < n; ++k) p->hess.hessianPerm[p->active.freeList[k]] = k < n_free(p) ? k : -(k + 1);
        if (mode == 1) return;
        std::vector<int32_t> maskperm(static_cast<size_t>(n));
        zslltiu(p->hess.hessianPerm, maskperm.data(), 0, n, p->hess.hessianPattern, p->hess.hessianFactorPattern, nullptr, h, out);
        return;
    }
    if (mode == 2) zslltiu(nullptr, nullptr, 0, n, p->hess.hessianPattern, p->hess.hessianFactorPattern, p->hess.hessianPerm, h, out);
}

}  // namespace

void znlpmul(NlpProblem* p, int32_t storage, int32_t n, const int32_t* idx, const double* h, const double* x,
             double* y) {
    if (storage == 1) {
        const int32_t all = p->shape.nParams;
        if (idx == nullptr && n == all) {
            zslltma(nullptr, n, p->hess.hessianPattern, h, x, y);
            return;
        }
        // The listed rows and columns (the first n without a list): x
        // scattered to its parameters, the others masked out of the product.
        std::vector<int32_t> map(static_cast<size_t>(all), -1);
        std::vector<double> xs(static_cast<size_t>(all), 0.0), ys(static_cast<size_t>(all));
        for (int32_t i = 0; i < n; ++i) {
            const int32_t q = idx != nullptr ? idx[i] : i;
            map[static_cast<size_t>(q)] = i;
            xs[static_cast<size_t>(q)] = x[i];
        }
        zslltma(map.data(), all, p->hess.hessianPattern, h, xs.data(), ys.data());
        for (int32_t i = 0; i < n; ++i) y[i] = ys[static_cast<size_t>(idx != nullptr ? idx[i] : i)];
        return;
    }
    if (storage == 2) {
        for (int32_t i = 0; i < n; ++i) y[i] = h[idx != nullptr ? idx[i] : i] * x[i];
        return;
    }
    znlpsmv(n, idx, h, x, y);
}

int32_t nlp_reduced_order(const NlpProblem* p) { return velix::detail::n_reduced(p); }

void znlpred(NlpProblem* p, int32_t storage, const double* h, double* out) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nr = n_reduced(p);
    // HZ over the free rows, then Z'(HZ).
    std::vector<double> hz(static_cast<size_t>(nf) * nr, 0.0);
    for (int32_t i = 0; i < nf; ++i)
        for (int32_t j = 0; j < nf; ++j) {
            const double hij = entry(p, storage, h, p->active.freeList[i], p->active.freeList[j]);
            if (hij == 0.0) continue;
            for (int32_t k = 0; k < nr; ++k) hz[static_cast<size_t>(i) * nr + k] += hij * p->active.nullBasis[j * n + k];
        }
    for (int32_t a = 0; a < nr; ++a)
        for (int32_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += p->active.nullBasis[i * n + a] * hz[static_cast<size_t>(i) * nr + b];
            out[pk(a, b)] = s;
        }
}

void znlpre2(NlpProblem* p, int32_t storage, const double* h, double* out) {
    const int32_t nf = n_free(p);
    // The free list is in increasing position order among the free
    // parameters only after znlp_free_list; the copy below reads every
    // entry before the same position is written, since the free indices
    // are not below their positions.
    std::vector<double> copy;
    if (h == out) {
        if (storage == 1) nlp_internal_error("znlpre2: a sparse Hessian cannot be reduced in place");
        copy.assign(h, h + (storage == 2 ? p->shape.nParams : p->shape.packedLen));
        h = copy.data();
    }
    for (int32_t i = 0; i < nf; ++i) {
        if (storage == 2) {
            out[i] = h[p->active.freeList[i]];
            continue;
        }
        for (int32_t j = 0; j <= i; ++j) out[pk(i, j)] = entry(p, storage, h, p->active.freeList[i], p->active.freeList[j]);
    }
}

void znlpre3(NlpProblem* p, double* h) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nr = n_reduced(p);
    std::vector<double> d(static_cast<size_t>(nf));
    for (int32_t i = 0; i < nf; ++i) d[i] = h[pk(p->active.freeList[i], p->active.freeList[i])];
    for (int32_t a = 0; a < nr; ++a)
        for (int32_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (int32_t i = 0; i < nf; ++i) s += p->active.nullBasis[i * n + a] * d[i] * p->active.nullBasis[i * n + b];
            h[pk(a, b)] = s;
        }
}

void znlpexp(NlpProblem* p, const double* m, double* out) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nr = n_reduced(p);
    for (int32_t i = 0; i < p->shape.packedLen; ++i) out[i] = 0.0;
    std::vector<double> zm(static_cast<size_t>(nf) * nr, 0.0);
    for (int32_t i = 0; i < nf; ++i)
        for (int32_t k = 0; k < nr; ++k)
            for (int32_t l = 0; l < nr; ++l) zm[static_cast<size_t>(i) * nr + l] += p->active.nullBasis[i * n + k] * m[pk(k, l)];
    for (int32_t i = 0; i < nf; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int32_t l = 0; l < nr; ++l) s += zm[static_cast<size_t>(i) * nr + l] * p->active.nullBasis[j * n + l];
            out[pk(p->active.freeList[i], p->active.freeList[j])] = s;
        }
}

void znlphpr(NlpProblem* p, int32_t mode, int32_t useQ, int32_t storage, double*, double* h, double* out) {
    if (p->opt.conFactorForm == 2) nlp_internal_error("znlphpr: sparse active-set form");
    if (has_general(p)) {
        // The reduced matrix is dense (PackedSym); a sparse Hessian cannot
        // hold it, so it goes to the output in either mode.
        double* target = mode == 1 && storage != 1 ? h : out;
        if (target == nullptr) nlp_internal_error("znlphpr: no output for the reduced sparse Hessian");
        const bool q = useQ != 0 && (p->active.nActiveLin > 0 || keeps_basis(p->opt.technique));
        if (q) {
            std::vector<double> r(static_cast<size_t>(n_reduced(p)) * (n_reduced(p) + 1) / 2);
            znlpred(p, storage, h, r.data());
            std::copy(r.begin(), r.end(), target);
        } else {
            znlpre2(p, storage, h, target);
        }
        return;
    }
    if (storage == 1) {
        sparse_reduce(p, mode, h, out);
        return;
    }
    double* target = mode == 1 ? h : out;
    if (p->shape.hasBounds) {
        if (mode == 1) znlp_free_list(p);
        znlpre2(p, storage, h, target);
        return;
    }
    if (mode == 2) {
        const int32_t len = storage == 2 ? p->shape.nParams : p->shape.packedLen;
        for (int32_t i = 0; i < len; ++i) out[i] = h[i];
    }
}

void znlphgp(NlpProblem* p, int32_t mode, int32_t storage, double* gout, double* h, double* rout) {
    if (n_free(p) == 0) {
        p->iter.maxProjGrad = p->iter.scaledGradMax = 0.0;
        return;
    }
    znlphpr(p, mode == 0 ? 1 : 2, keeps_basis(p->opt.technique) ? 0 : 1, storage, nullptr, h, rout);
    if (mode == 0 || p->opt.technique == kTechQuadas) return;
    znlpgmx(p, 1, gout);
    // The scaled gradient criterion: |g_i| / sqrt(|h_ii f|) over the
    // reduced space.
    const bool reduced = has_general(p) || p->shape.hasBounds;
    const bool sparse = storage == 1 && !has_general(p);
    const double* diag = reduced && !sparse ? rout : h;
    const bool packed = has_general(p) || storage > 2 || storage < 1;
    double worst = 0.0;
    for (int32_t i = 0; i < n_reduced(p); ++i) {
        const int32_t at = sparse && p->shape.hasBounds ? p->active.freeList[i] : i;
        const double hii = packed ? diag[pk(i, i)] : diag[at];
        worst = std::fmax(worst, scaled_gradient_term(gout[i], hii, p->iter.f));
    }
    p->iter.scaledGradMax = worst;
}

void znlphsc(NlpProblem* p, int32_t storage, int32_t count, const double* h) {
    const bool first = p->run.iterSinceStart == 0 || (p->shape.hasLinCon && p->active.activeChange != 0);
    for (int32_t i = 0; i < count; ++i) {
        const double hii = storage == 1 || storage == 2 ? h[i] : h[pk(i, i)];
        // sqrt|H_ii|, with no floor but at 0 (no curvature, no size: 1).
        // A fixed floor such as sqrt(eps) would make the scaled step depend
        // on the units of a parameter whose curvature is below eps (a
        // variance in units of 1e8 has H_ii near 1e-32): ML estimates in
        // such units then fail to converge.
        const double root = std::sqrt(std::fabs(hii));
        const double v = root > 0.0 ? root : 1.0;
        double& s = p->param.scale[i];
        if (p->run.iterMark != 0 || p->opt.scalingKind == 0)
            s = 1.0;
        else if (first)
            s = v;
        else if (p->opt.scalingKind == 1)
            s = std::fmax(s, v);
        else if (p->opt.scalingKind == 2)
            s = v >= 0.6 * s ? v : 0.6 * s;
        else if (p->opt.scalingKind == 3)
            s = v;
    }
}

double znlphs2(NlpProblem* p, int32_t storage, double* out) {
    const int32_t nr = n_reduced(p);
    const bool linear = p->shape.hasLinCon != 0;
    double* h = linear ? p->active.reducedHessian : p->hess.hessian;
    const bool diagonal = !linear && storage == 2;
    double norm = 0.0;
    for (int32_t i = 0; i < nr; ++i) {
        const double v = linear ? p->active.reducedGradient[i] : p->shape.hasBounds ? p->work.gradient[p->active.freeList[i]] : p->work.gradient[i];
        const double s = p->opt.scalingKind != 0 ? p->param.scale[i] : 1.0;
        out[i] = -v / s;
        norm += out[i] * out[i];
        if (p->opt.scalingKind == 0) continue;
        if (diagonal) {
            h[i] /= s * s;
            continue;
        }
        for (int32_t j = 0; j <= i; ++j) h[pk(i, j)] /= s * p->param.scale[j];
    }
    return std::sqrt(norm);
}

namespace {

// Gram-Schmidt with reorthogonalization against k orthonormal columns that
// column(j) delivers (each m long), from memory or read from a file.
template <typename Column>
int32_t gram_schmidt(int32_t m, int32_t k, Column column, double* v, double* coef, double* norm) {
    if (m < k) return -1;
    auto nrm = [&]() {
        double s = 0.0;
        for (int32_t i = 0; i < m; ++i) s += v[i] * v[i];
        return std::sqrt(s);
    };
    const double start = nrm();
    *norm = start;
    if (start <= DBL_MIN) return -2;
    for (int32_t j = 0; j < k; ++j) coef[j] = 0.0;
    constexpr double kSmall = velix::kMachEpsWritten / 10.0;
    bool replaced = false, accumulate = true;
    double before = start;
    for (int32_t pass = 0;; ++pass) {
        if (pass >= 10) return -3;
        double sum = 0.0;
        for (int32_t j = 0; j < k; ++j) {
            const double* col = column(j);
            double r = 0.0;
            for (int32_t i = 0; i < m; ++i) r += col[i] * v[i];
            for (int32_t i = 0; i < m; ++i) v[i] -= r * col[i];
            if (accumulate) coef[j] += r;
            sum += r * r;
        }
        const double after = nrm();
        if (before + 1e-8 * std::sqrt(sum) < std::sqrt(2.0) * after) {
            *norm = accumulate ? after : 0.0;
            for (int32_t i = 0; i < m; ++i) v[i] /= after;
            return 0;
        }
        if (after <= kSmall * start && !replaced) {
            // v lies in the span: replace it by the coordinate vector the
            // columns cover least, and start again.
            replaced = true;
            accumulate = false;
            std::vector<double> cover(static_cast<size_t>(m), 0.0);
            for (int32_t j = 0; j < k; ++j) {
                const double* col = column(j);
                for (int32_t i = 0; i < m; ++i) cover[static_cast<size_t>(i)] += col[i] * col[i];
            }
            int32_t best = 0;
            double least = DBL_MAX;
            for (int32_t i = 0; i < m; ++i)
                if (cover[static_cast<size_t>(i)] <= least) least = cover[static_cast<size_t>(i)], best = i;
            const double scale = after <= DBL_MIN ? 1.0 : after;
            for (int32_t i = 0; i < m; ++i) v[i] = i == best ? scale : 0.0;
            before = scale;
            pass = -1;
            continue;
        }
        before = after;
    }
}

}  // namespace

int32_t znlpgso(int32_t m, int32_t k, int32_t stride, const double* q, double* v, double* coef, double* norm) {
    return gram_schmidt(m, k, [&](int32_t j) { return q + static_cast<size_t>(j) * stride; }, v, coef, norm);
}

int32_t znlpgso_file(HostFile* file, int32_t m, int32_t k, int32_t recordLength, double* v, double* coef,
                     double* norm, double* work) {
    auto column = [&](int32_t j) {
        int32_t r = xcpoint(file, static_cast<int64_t>(j) * recordLength * 8);
        if (r == 0) r = xcread(file, work, static_cast<int64_t>(recordLength) * 8);
        scratch_check(r);
        return static_cast<const double*>(work);
    };
    return gram_schmidt(m, k, column, v, coef, norm);
}

void znlpqf3(int32_t add, int32_t n, const double* a, const double* b, double* e) {
    // T = A B column by column, then E_ij = sum_k B_ik T_kj.
    std::vector<double> t(static_cast<size_t>(n) * n);
    for (int32_t k = 0; k < n; ++k)
        for (int32_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (int32_t m = 0; m < n; ++m) s += a[pk(k, m)] * b[pk(m, j)];
            t[static_cast<size_t>(k) * n + j] = s;
        }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < n; ++k) s += b[pk(i, k)] * t[static_cast<size_t>(k) * n + j];
            e[pk(i, j)] = add != 0 ? e[pk(i, j)] + s : s;
        }
}

void znlpquf(int32_t mode, int32_t n, int32_t m, int32_t form, const double* s, const double* b, double* out) {
    // Every mode is B'SB: B the dense n x m matrix, or L (mode 2) or L'
    // (mode 3) of order n, L lower triangular in PackedSym positions.
    if (mode >= 2) m = n;
    auto bij = [&](int32_t i, int32_t c) {
        if (mode < 2) return b[static_cast<size_t>(i) * m + c];
        if (mode == 3) std::swap(i, c);
        return c <= i ? b[pk(i, c)] : 0.0;
    };
    auto sij = [&](int32_t i, int32_t j) { return form == 2 ? (i == j ? s[i] : 0.0) : s[pk(i, j)]; };
    // T = S B, then out_ab = sum_i B_ia T_ib.
    std::vector<double> t(static_cast<size_t>(n) * m, 0.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) {
            const double v = sij(i, j);
            if (v == 0.0) continue;
            for (int32_t c = 0; c < m; ++c) t[static_cast<size_t>(i) * m + c] += v * bij(j, c);
        }
    for (int32_t a = 0; a < m; ++a)
        for (int32_t c = 0; c <= a; ++c) {
            double sum = 0.0;
            for (int32_t i = 0; i < n; ++i) sum += bij(i, a) * t[static_cast<size_t>(i) * m + c];
            out[pk(a, c)] = sum;
        }
}
