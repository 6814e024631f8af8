// The shared machinery of the Lagrange multiplier and Wald tests (see
// lagrange.h).  The weighting of a derivative dC by the method:
//   GLS, ML:  w = K dC K (K = S^-1 or C^-1); <w, x> the trace inner product
//   WLS:      y = L^-1 dC; w = 2 y (F = r' (L L')^-1 r carries the factor 2);
//             <w, L^-1 x> the plain dot product
// so that <w(dC_i), J_j> is the information that the covariance step
// inverted (cross_product.h).
#include "procedure/results/lagrange.h"

#include <algorithm>
#include <cmath>

#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/information_scratch.h"
#include "procedure/evaluation/column_jacobian.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "procedure/evaluation/term_walker.h"
#include "procedure/results/fit_state.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::detail {

namespace {

constexpr double kFinalPhase = -1.0;
constexpr int32_t kMsgNoCovariance = 151;  // the tests are not available
// A pivot of the WLS factor: it was checked when the weights were formed.
constexpr double kFactorBound = velix::kDblMin;

// y := L^-1 y (p* entries); the factor was checked when it was formed.
void forward(const LmSetup& s, double* y) {
    (void)cosfsub(s.pstar, 1, kFactorBound, s.factor, y);
}

}  // namespace

double trace_inner(const double* x, const double* y, int32_t n) {
    double diag = 0.0, off = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double* xi = x + pk_lower(i, 0);
        const double* yi = y + pk_lower(i, 0);
        for (int32_t j = 0; j < i; ++j) off += xi[j] * yi[j];
        diag += xi[i] * yi[i];
    }
    return diag + 2.0 * off;
}

void lm_unavailable() {
    xpmlog(kMsgProc, kMsgNoCovariance);
}

bool lm_begin(const ResultsView& rv, bool needCovariance, bool holdCovariance, LmSetup* s) {
    if (rv.methods->methodRequested == kMethodNone || !rv.options->modIndices) return false;
    if ((needCovariance && !lm_covariance_usable(rv)) || !lm_setup(rv, s, holdCovariance)) {
        lm_unavailable();
        return false;
    }
    return true;
}

bool lm_covariance_usable(const ResultsView& rv) {
    return rv.eval->covStatus == 1 || rv.eval->covStatus == 2;
}

namespace {

// The columns of the Jacobian at the estimates where the source keeps them.
// Returns 0, or nonzero when they cannot be formed.
int32_t prepare_columns(LmSetup* s) {
    const int32_t mode = *s->view.jacobianMode;
    JacobianStorage& jac = s->rv.eval->jac;
    if ((mode == 11 || mode == 12) && s->factor == nullptr && jac.nonzeros > 0) {
        // The covariance step left the values at the estimates on its scratch.
        s->source = LmSource::kSparse;
        s->marks.assign(static_cast<size_t>(s->pstar), 0);
        read_information_scratch_jacobian(&s->view);
        return 0;
    }
    if (mode == 1 || mode == 5) {
        s->source = LmSource::kMemory;
        if (const int32_t rc = jacobian_walk(&s->view)) return rc;
        if (s->factor != nullptr)
            for (int32_t i = 0; i < s->q; ++i) forward(*s, s->rv.eval->jacobian + int64_t{i} * s->pstar);
        return 0;
    }
    // One analytic column at a time onto the column files (weighted ones
    // for WLS), whatever storage the stage used.
    s->source = LmSource::kFile;
    s->column.assign(static_cast<size_t>(s->pstar), 0.0);
    return cosjac3(&s->view);
}

}  // namespace

bool lm_setup(const ResultsView& rv, LmSetup* s, bool holdCovariance) {
    s->rv = rv;
    s->view = eval_view(rv.ctx);
    s->method = rv.methods->methodStage;
    s->n = rv.sizes->nManifest;
    s->pstar = rv.sizes->nMoments;
    s->q = rv.sizes->nParmFree;
    s->kappa = results_kappa(rv);
    NlpProblem* nlp = rv.nlp;
    const double phase = nlp->run.evalPhase;
    nlp->run.evalPhase = kFinalPhase;
    const int32_t rc = cosfunc(nlp);
    nlp->run.evalPhase = phase;
    if (rc != 0) return false;
    s->chisq = results_model_chisq(rv);
    if (s->method == kMethodMl) s->K = rv.eval->impliedInv;
    if (s->method == kMethodGls) s->K = rv.arrays->weightMatrix;
    if (s->method == kMethodWls) s->factor = rv.arrays->weightMatrix;
    s->g.assign(static_cast<size_t>(s->q), 0.0);
    s->V.assign(holdCovariance ? static_cast<size_t>(pk_lower(s->q, 0)) : 0u, 0.0);
    s->dFdC.assign(static_cast<size_t>(s->pstar), 0.0);
    if (s->q == 0) {
        eval_dfdc(&s->view);
        s->dFdC.assign(rv.eval->dFdC, rv.eval->dFdC + s->pstar);
        return true;
    }
    // The covariance step left the covariance, the gradient and dF/dC at
    // the estimates on its scratch.
    read_information_scratch(&s->view, holdCovariance ? s->V.data() : nullptr, s->g.data(), s->dFdC.data());
    return prepare_columns(s) == 0;
}

void lm_element_dc(const LmSetup& s, const RankTwo* parts, int32_t count, std::vector<double>* dC) {
    const int32_t n = s.n;
    dC->assign(static_cast<size_t>(s.pstar), 0.0);
    for (int32_t p = 0; p < count; ++p) {
        const RankTwo& t = parts[p];
        for (int32_t i = 0; i < n; ++i) {
            const double ui = t.U[int64_t{i} * t.ld + t.r], vi = t.V[int64_t{i} * t.ld + t.c];
            if (ui == 0.0 && vi == 0.0) continue;
            double* row = dC->data() + pk_lower(i, 0);
            for (int32_t j = 0; j <= i; ++j)
                row[j] += t.scale * (ui * t.V[int64_t{j} * t.ld + t.c] + t.U[int64_t{j} * t.ld + t.r] * vi);
        }
    }
}

namespace {

// GLS and ML on the sparse Jacobian: the marked entries of dC only, gamma
// and delta their sums (off-diagonal entries twice).
void marked_weigh(const LmSetup& s, LmDerivative* d) {
    d->dCx = d->dC;
    d->wx.assign(static_cast<size_t>(s.pstar), 0.0);
    (void)spkron2(&s.view, d->dC.data(), s.marks.data(), d->wx.data());
    double gamma = 0.0, delta = 0.0;
    for (int32_t i = 0, t = 0; i < s.n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++t) {
            if (s.marks[static_cast<size_t>(t)] == 0) continue;
            const double f = i == j ? 1.0 : 2.0, x = d->dC[static_cast<size_t>(t)];
            gamma += f * x * s.dFdC[static_cast<size_t>(t)];
            delta += f * x * d->wx[static_cast<size_t>(t)];
        }
    d->gamma = gamma;
    d->delta = delta;
}

}  // namespace

void lm_weigh(const LmSetup& s, LmDerivative* d) {
    const int32_t n = s.n, pstar = s.pstar;
    if (s.source == LmSource::kSparse) return marked_weigh(s, d);
    d->gamma = trace_inner(d->dC.data(), s.dFdC.data(), n);
    d->wx.assign(static_cast<size_t>(pstar), 0.0);
    if (s.factor != nullptr) {
        d->dCx = d->dC;
        forward(s, d->dCx.data());
        for (int32_t k = 0; k < pstar; ++k) d->wx[static_cast<size_t>(k)] = 2.0 * d->dCx[static_cast<size_t>(k)];
        d->delta = lm_cross(s, *d, *d);
        return;
    }
    d->dCx = d->dC;
    // w = K dC K through the dense product K dC (n x n).
    std::vector<double> kd(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) {
            double x = 0.0;
            for (int32_t k = 0; k < n; ++k) x += s.K[pk(i, k)] * d->dC[static_cast<size_t>(pk(k, j))];
            kd[static_cast<size_t>(i * n + j)] = x;
        }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double x = 0.0;
            for (int32_t k = 0; k < n; ++k) x += kd[static_cast<size_t>(i * n + k)] * s.K[pk(k, j)];
            d->wx[static_cast<size_t>(pk_lower(i, j))] = x;
        }
    d->delta = lm_cross(s, *d, *d);
}

const double* lm_column(const LmSetup& s, int32_t i) {
    if (s.source == LmSource::kMemory) return s.rv.eval->jacobian + int64_t{i} * s.pstar;
    HostFile* file = s.factor != nullptr ? s.view.weightedFile : s.view.columnFile;
    file_get(file, 8 * int64_t{s.pstar} * i, s.column.data(), s.pstar);
    return s.column.data();
}

void lm_informations(const LmSetup& s, const LmDerivative& a, const LmDerivative& b, int32_t skip,
                     std::vector<double>* ia, std::vector<double>* ib) {
    ia->clear();
    ib->clear();
    for (int32_t i = 0; i < s.q; ++i) {
        if (i == skip) continue;
        if (s.source == LmSource::kSparse) {
            ia->push_back(spinn1(&s.view, 1, i, a.wx.data()));
            ib->push_back(spinn1(&s.view, 1, i, b.wx.data()));
            continue;
        }
        const double* col = lm_column(s, i);
        if (s.factor != nullptr) {
            double x = 0.0, y = 0.0;
            for (int32_t k = 0; k < s.pstar; ++k) {
                x += a.wx[static_cast<size_t>(k)] * col[k];
                y += b.wx[static_cast<size_t>(k)] * col[k];
            }
            ia->push_back(x);
            ib->push_back(y);
        } else {
            ia->push_back(trace_inner(a.wx.data(), col, s.n));
            ib->push_back(trace_inner(b.wx.data(), col, s.n));
        }
    }
}

double lm_cross(const LmSetup& s, const LmDerivative& a, const LmDerivative& b) {
    if (s.factor != nullptr) {
        double x = 0.0;
        for (int32_t k = 0; k < s.pstar; ++k) x += a.wx[static_cast<size_t>(k)] * b.dCx[static_cast<size_t>(k)];
        return x;
    }
    return trace_inner(a.wx.data(), b.dC.data(), s.n);
}

}  // namespace velix::detail

int32_t sinvex(int32_t q, double tol, double* V, double* b, double* work) {
    if (q < 0) return -2;
    if (q == 0) {
        if (std::fabs(b[0]) <= tol) {
            b[0] = 0.0;
            return -1;
        }
        b[0] = 1.0 / b[0];
        return 0;
    }
    for (int32_t i = 0; i < q; ++i) {
        double x = 0.0;
        for (int32_t j = 0; j < q; ++j) x += V[velix::pk(i, j)] * b[j];
        work[i] = x;
    }
    double sigma = b[q];
    for (int32_t i = 0; i < q; ++i) sigma -= work[i] * b[i];
    if (sigma <= tol * std::fabs(b[q]) * q) return -1;
    const double rho = 1.0 / sigma;
    for (int32_t i = 0; i < q; ++i)
        for (int32_t j = 0; j <= i; ++j) V[velix::pk_lower(i, j)] += rho * work[i] * work[j];
    for (int32_t i = 0; i < q; ++i) b[i] = -rho * work[i];
    b[q] = rho;
    return 0;
}

int32_t sinvre(int32_t k, int32_t q, double tol, double* V, double* work) {
    for (int32_t i = 0; i < q; ++i) work[i] = V[velix::pk(i, k)];
    const double vkk = work[k];
    if (std::fabs(vkk) <= tol) return -1;
    int64_t out = 0;
    for (int32_t i = 0; i < q; ++i) {
        if (i == k) continue;
        for (int32_t j = 0; j <= i; ++j) {
            if (j == k) continue;
            V[out++] = V[velix::pk_lower(i, j)] - work[i] * work[j] / vkk;
        }
    }
    return 0;
}
