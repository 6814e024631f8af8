// The active set in its sparse form, for large quadratic problems: instead
// of an n x n basis it keeps one orthonormal column per active row, taken
// in the metric of the Hessian (the row over the free parameters times the
// inverse of the Hessian's Cholesky factor L), in memory or as fixed-length
// records on a utility file, with the Gram-Schmidt coefficients as the row
// factor (Gill, Murray and Wright, Practical Optimization, 1981, sec.
// 5.2.4.3; Goldfarb and Idnani, "A numerically stable dual method for
// solving strictly convex quadratic programs", Math. Prog. 27, 1983).
// After a change of the active set the columns are rebuilt from the rows,
// which keeps them orthonormal over the current free positions; the work
// vectors U = L^-1 g, V (U along the columns) and W (minus the part of U
// orthogonal to them, the step) follow the change.  The Hessian factor the
// caller passes is dense (PackedSym lower L), diagonal, or sparse (a
// SparseLLt over the free parameters, downdated by rotations when a
// parameter reaches a bound and refactored from its row on when one is
// released).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "host/scratch_file.h"
#include "numerics/sparse_llt.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk;

namespace {

size_t sz(int32_t n) { return static_cast<size_t>(n); }

double* work_u(NlpProblem* p) { return p->active.sparseWork; }
double* work_v(NlpProblem* p) { return p->active.sparseWork + p->shape.nParams; }
double* work_w(NlpProblem* p) { return p->active.sparseWork + 2 * p->shape.nParams; }

}  // namespace

namespace velix::detail {

void sparse_read_column(NlpProblem* p, int32_t j, double* out) {
    const int32_t n = p->shape.nParams;
    if (p->opt.conFactorFile == nullptr) {
        std::copy(p->active.nullBasis + sz(j) * n, p->active.nullBasis + sz(j + 1) * n, out);
        return;
    }
    int32_t r = xcpoint(p->opt.conFactorFile, static_cast<int64_t>(j) * n * 8);
    if (r == 0) r = xcread(p->opt.conFactorFile, out, static_cast<int64_t>(n) * 8);
    scratch_check(r);
}

void sparse_project(NlpProblem* p) {
    const int32_t nf = n_free(p), n = p->shape.nParams;
    double* u = work_u(p);
    double* v = work_v(p);
    double* w = work_w(p);
    for (int32_t i = 0; i < nf; ++i) w[i] = -u[i];
    std::vector<double> q(sz(n));
    for (int32_t j = 0; j < p->active.nActiveLin; ++j) {
        sparse_read_column(p, j, q.data());
        double s = 0.0;
        for (int32_t i = 0; i < nf; ++i) s += q[i] * u[i];
        v[j] = s;
        for (int32_t i = 0; i < nf; ++i) w[i] += s * q[i];
    }
}

}  // namespace velix::detail

namespace {

void write_column(NlpProblem* p, int32_t j, const double* in) {
    const int32_t n = p->shape.nParams;
    if (p->opt.conFactorFile == nullptr) {
        std::copy(in, in + n, p->active.nullBasis + sz(j) * n);
        return;
    }
    int32_t r = xcpoint(p->opt.conFactorFile, static_cast<int64_t>(j) * n * 8);
    if (r == 0) r = xcwrite(p->opt.conFactorFile, in, static_cast<int64_t>(n) * 8);
    scratch_check(r);
}

// The caller's Hessian factor over the free positions: PackedSym lower L
// in free-list order, its diagonal (hessianStorage 2), or a SparseLLt
// (hessianStorage 1) in the parameters' own order over the free
// parameters, whose position map hessianPerm gives each parameter's
// free-list position (negative when held at a bound), so that the vectors
// stay in free-list order whatever the factor's row order.  The sparse
// factor's pattern (hessianFactorPattern) must hold the fill of the whole
// Hessian: deleting a parameter then never fills outside it.
struct HessianFactor {
    NlpProblem* p;
    double* f;
    bool diagonal() const { return p->opt.hessianStorage == 2; }
    bool sparse() const { return f != nullptr && p->opt.hessianStorage == 1; }
    int32_t* map() const { return p->hess.hessianPerm; }
    // After the free list changed: the position map follows it.
    void renumber() const {
        if (!sparse()) return;
        const int32_t n = p->shape.nParams, nf = n_free(p);
        for (int32_t k = 0; k < n; ++k) map()[p->active.freeList[k]] = k < nf ? k : -(k + 1);
    }
    // c := L^-1 c over nf positions; false at a divisor not above DBL_MIN
    // (a sparse factor keeps 0 for the reciprocal of a failed pivot).
    bool solve(int32_t nf, double* c) const {
        if (f == nullptr) return true;
        if (sparse()) {
            for (int32_t i = 0; i < p->shape.nParams; ++i)
                if (map()[i] >= 0 && f[i] == 0.0) return false;
            zslltli(1, p->shape.nParams, map(), p->hess.hessianFactorPattern, f, c);
            return true;
        }
        for (int32_t i = 0; i < nf; ++i) {
            const double d = diagonal() ? f[i] : f[pk(i, i)];
            if (!(std::fabs(d) > DBL_MIN)) return false;
            double s = c[i];
            for (int32_t k = 0; !diagonal() && k < i; ++k) s -= f[pk(i, k)] * c[k];
            c[i] = s / d;
        }
        return true;
    }
    // c := L c.
    void multiply(int32_t nf, double* c) const {
        if (f == nullptr) return;
        if (sparse()) {
            std::vector<double> y(sz(p->shape.nParams), 0.0);
            zslltml(1, p->shape.nParams, map(), p->hess.hessianFactorPattern, f, c, y.data());
            std::copy(y.begin(), y.begin() + nf, c);
            return;
        }
        for (int32_t i = nf - 1; i >= 0; --i) {
            double s = 0.0;
            if (diagonal())
                s = f[i] * c[i];
            else
                for (int32_t k = 0; k <= i; ++k) s += f[pk(i, k)] * c[k];
            c[i] = s;
        }
    }
    // Free position pos of nf leaves the factor (the caller renumbers).
    void remove(int32_t pos, int32_t nf) const {
        if (f == nullptr) return;
        if (sparse()) {
            std::vector<double> w(sz(p->shape.nParams));
            zslltrd(p->shape.nParams, p->active.freeList[pos], map(), p->hess.hessianFactorPattern, nullptr, f, w.data());
            return;
        }
        if (diagonal()) {
            for (int32_t i = pos; i + 1 < nf; ++i) f[i] = f[i + 1];
            return;
        }
        std::vector<double> work(sz(nf));
        bcupd(pos, nf, f, work.data());
    }
    // Parameter q joins as free position nf.  false when the factor would
    // be singular there (it is then unusable).
    bool add(int32_t q, int32_t nf) const {
        if (f == nullptr) return true;
        if (sparse()) return add_sparse(q, nf);
        const double* h = p->hess.hessian;
        if (diagonal()) {
            if (!(h[q] > DBL_MIN)) return false;
            f[nf] = std::sqrt(h[q]);
            return true;
        }
        std::vector<double> y(sz(nf));
        for (int32_t i = 0; i < nf; ++i) y[i] = h[pk(p->active.freeList[i], q)];
        if (!solve(nf, y.data())) return false;
        double d = h[pk(q, q)];
        for (int32_t i = 0; i < nf; ++i) {
            f[pk(nf, i)] = y[i];
            d -= y[i] * y[i];
        }
        if (!(d > DBL_MIN)) return false;
        f[pk(nf, nf)] = std::sqrt(d);
        return true;
    }
    // The new row of q when it comes after every free parameter; else the
    // rows from q on are factored again with q among the free ones.
    bool add_sparse(int32_t q, int32_t nf) const {
        const int32_t n = p->shape.nParams;
        std::vector<double> w(sz(n));
        double diag = 0.0;
        if (zslltf5(n, q, map(), map(), p->hess.hessianPattern, p->hess.hessianFactorPattern, nullptr, p->hess.hessian, f,
                    &diag, w.data()) != 0)
            return false;
        int32_t last = -1;
        for (int32_t i = 0; i < n; ++i)
            if (map()[i] >= 0) last = i;
        map()[q] = nf;
        if (q > last) return true;
        std::vector<int32_t> maskperm(sz(n));
        return zslltra(n, q, map(), maskperm.data(), DBL_MIN, p->hess.hessianPattern, p->hess.hessianFactorPattern, nullptr,
                       p->hess.hessian, f) == 0;
    }
};

// G (the fourth work vector) for the parameters held at a bound under a
// sparse Hessian: G_k = c_k + sum of H_kj x_j over the held j, c the
// quadratic's linear term, so that the gradient component of k is G_k
// plus the terms of the free parameters.
double* work_g(NlpProblem* p) { return p->active.sparseWork + 3 * p->shape.nParams; }
bool keeps_g(const NlpProblem* p, const double* factor) {
    return factor != nullptr && p->opt.hessianStorage == 1 && p->shape.hasBounds != 0;
}
double linear_term(const NlpProblem* p, int32_t i) {
    return p->work.linearTerm != nullptr ? p->work.linearTerm[i] : 0.0;
}

// What G is formed from: the sparse Hessian, the position map, x.
struct GTerms {
    const int32_t* ija;
    const int32_t* map;
    const double* h;
    const double* x;
    double* g;
    explicit GTerms(NlpProblem* p)
        : ija(p->hess.hessianPattern), map(p->hess.hessianPerm), h(p->hess.hessian), x(p->param.x), g(work_g(p)) {}
};

void init_g(NlpProblem* p) {
    const GTerms t(p);
    for (int32_t i = 0; i < p->shape.nParams; ++i) t.g[i] = t.map[i] < 0 ? linear_term(p, i) + t.h[i] * t.x[i] : 0.0;
    for (int32_t i = 0; i < p->shape.nParams; ++i) {
        if (t.map[i] >= 0) continue;
        for (int32_t e = t.ija[i]; e < t.ija[i + 1]; ++e) {
            const int32_t j = t.ija[e];
            if (t.map[j] >= 0) continue;
            t.g[i] += t.h[e] * t.x[j];
            t.g[j] += t.h[e] * t.x[i];
        }
    }
}

void step_fraction(NlpProblem* p, double d) {
    if (d == 0.0) return;
    double* u = work_u(p);
    double* w = work_w(p);
    for (int32_t i = 0; i < n_free(p); ++i) {
        u[i] += d * w[i];
        w[i] = d == 1.0 ? 0.0 : (1.0 - d) * w[i];
    }
}

// The gradient the work vectors stand for (L U at the free parameters,
// the problem's gradient at the held ones).
std::vector<double> current_gradient(NlpProblem* p, const HessianFactor& hf) {
    const int32_t n = p->shape.nParams, nf = n_free(p);
    std::vector<double> g(p->work.gradient, p->work.gradient + n), u(work_u(p), work_u(p) + nf);
    hf.multiply(nf, u.data());
    for (int32_t i = 0; i < nf; ++i) g[p->active.freeList[i]] = u[i];
    return g;
}
void set_gradient(NlpProblem* p, const HessianFactor& hf, const std::vector<double>& g) {
    const int32_t nf = n_free(p);
    double* u = work_u(p);
    for (int32_t i = 0; i < nf; ++i) u[i] = g[p->active.freeList[i]];
    if (!hf.solve(nf, u))
        for (int32_t i = 0; i < nf; ++i) u[i] = 0.0;
    sparse_project(p);
}

// The column of row k in the metric of L, orthonormalised against the
// nActiveLin stored ones into column nActiveLin; its coefficients and the
// norm left go to the row factor.  false when the row is dependent.
bool column_of_row(NlpProblem* p, const HessianFactor& hf, int32_t row, bool store) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nl = p->active.nActiveLin;
    if (nf == nl) return false;
    p->cb.conRowFn(p, row, p->active.rowBuffer);
    std::vector<double> c(sz(n), 0.0), coef(sz(nl) + 1, 0.0);
    for (int32_t i = 0; i < nf; ++i) c[i] = p->active.rowBuffer[p->active.freeList[i]];
    // A negligible divisor of the factor makes the row dependent rather
    // than giving it a zero component.
    if (!hf.solve(nf, c.data())) return false;
    const double size = zvenorm(nf, 1, c.data());
    double rho = 0.0;
    // On a utility file the columns are read one at a time, never all held.
    int32_t r;
    if (p->opt.conFactorFile != nullptr) {
        std::vector<double> own(p->active.columnBuffer == nullptr ? sz(n) : 0);
        r = znlpgso_file(p->opt.conFactorFile, nf, nl, n, c.data(), coef.data(), &rho,
                         p->active.columnBuffer != nullptr ? p->active.columnBuffer : own.data());
    } else {
        r = znlpgso(nf, nl, n, p->active.nullBasis, c.data(), coef.data(), &rho);
    }
    if (r != 0) return false;
    if (!(rho > std::fmax(DBL_MIN, p->opt.linDepTol * size))) return false;
    if (!store) return true;
    for (int32_t k = 0; k < nl; ++k) p->active.activeFactor[pk(nl, k)] = coef[k];
    p->active.activeFactor[pk(nl, nl)] = rho;
    write_column(p, nl, c.data());
    return true;
}

void insert_row(NlpProblem* p, int32_t row) {
    const int32_t nl = p->active.nActiveLin;
    for (int32_t k = nl + p->active.nDepLin; k > nl; --k) p->active.activeList[k] = p->active.activeList[k - 1];
    p->active.activeList[nl] = row;
    p->active.nActiveLin += 1;
    if (row >= p->shape.nLinCon) p->active.nActiveNlin += 1;
}

// Rebuilds the columns and the row factor from the active rows over the
// current free positions; a row that turns dependent joins the tail.
void rebuild_columns(NlpProblem* p, const HessianFactor& hf) {
    const std::vector<int32_t> rows(p->active.activeList, p->active.activeList + p->active.nActiveLin);
    const std::vector<int32_t> tail(p->active.activeList + p->active.nActiveLin, p->active.activeList + p->active.nActiveLin + p->active.nDepLin);
    p->active.nActiveLin = 0;
    p->active.nActiveNlin = 0;
    p->active.nDepLin = 0;
    for (int32_t row : rows) {
        if (column_of_row(p, hf, row, true))
            insert_row(p, row);
        else
            p->active.activeList[p->active.nActiveLin + p->active.nDepLin++] = row;
    }
    for (int32_t row : tail) p->active.activeList[p->active.nActiveLin + p->active.nDepLin++] = row;
}

int32_t enter_bound(NlpProblem* p, const HessianFactor& hf, int32_t testOnly, int32_t status, int32_t q, double d) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nl = p->active.nActiveLin;
    bool dependent = nf == nl;
    if (!dependent && testOnly && nl == 0) return 0;
    const int32_t pos = free_position(p, q);
    if (!dependent && pos < 0) nlp_internal_error("znlpupr: a bound's parameter is not free");
    if (!dependent && nl > 0) {
        double s = 0.0;
        std::vector<double> col(sz(n));
        for (int32_t j = 0; j < nl; ++j) {
            sparse_read_column(p, j, col.data());
            s += col[pos] * col[pos];
        }
        dependent = 1.0 - s <= p->opt.linDepTol;
    }
    if (testOnly) return dependent ? 1 : 0;
    if (dependent) {
        p->active.boundState[q] = status;
        p->active.nDepBounds += 1;
        return 1;
    }
    step_fraction(p, d);
    const std::vector<double> g = current_gradient(p, hf);
    hf.remove(pos, nf);
    for (int32_t i = pos; i + 1 < nf; ++i) p->active.freeList[i] = p->active.freeList[i + 1];
    p->active.freeList[nf - 1] = q;
    p->active.boundState[q] = status;
    p->active.nActiveBounds += 1;
    hf.renumber();
    if (keeps_g(p, hf.f)) gmupd(p, 0, q);
    rebuild_columns(p, hf);
    set_gradient(p, hf, g);
    return 0;
}

// The most wrong-signed candidate and its value (bounds only: state times
// gradient; else the multipliers).
bool drop_candidate(NlpProblem* p, int32_t* status, int32_t* index, double* value) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nb = p->active.nActiveBounds;
    *value = 0.0;
    bool found = false;
    if (p->active.nActiveLin == 0) {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t s = p->active.boundState[i];
            if ((s == 1 || s == -1) && s * p->work.gradient[i] < *value) {
                *value = s * p->work.gradient[i];
                *status = s;
                *index = i;
                found = true;
            }
        }
        return found;
    }
    znlpglm(p, 0, p->work.gradient, p->active.multipliers);
    *value = DBL_MAX;
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->active.freeList[nf + j];
        if (p->active.boundState[q] != 2 && p->active.multipliers[j] < *value) {
            *value = p->active.multipliers[j];
            *status = p->active.boundState[q];
            *index = q;
            found = true;
        }
    }
    for (int32_t k = 0; k < p->active.nActiveLin; ++k)
        if (p->active.activeList[k] >= p->shape.nLinEq && p->active.multipliers[nb + k] < *value) {
            *value = p->active.multipliers[nb + k];
            *status = 0;
            *index = k;
            found = true;
        }
    return found;
}

}  // namespace

int32_t znlpupr(NlpProblem* p, int32_t testOnly, int32_t status, int32_t index, double d, double* factor) {
    const HessianFactor hf{p, factor};
    if (status != 0) return enter_bound(p, hf, testOnly, status, index, d);
    const bool independent = column_of_row(p, hf, index, !testOnly);
    if (testOnly) return independent ? 0 : 1;
    if (!independent) {
        p->active.activeList[p->active.nActiveLin + p->active.nDepLin] = index;
        p->active.nDepLin += 1;
        return 1;
    }
    step_fraction(p, d);
    insert_row(p, index);
    sparse_project(p);
    return 0;
}

int32_t znlpdor(NlpProblem* p, int32_t status, int32_t index, double d, double* factor) {
    const HessianFactor hf{p, factor};
    step_fraction(p, d);
    const std::vector<double> g = current_gradient(p, hf);
    bool usable = true;
    if (status == 0) {
        const int32_t row = p->active.activeList[index];
        for (int32_t k = index; k + 1 < p->active.nActiveLin + p->active.nDepLin; ++k) p->active.activeList[k] = p->active.activeList[k + 1];
        p->active.nActiveLin -= 1;
        if (row >= p->shape.nLinCon) p->active.nActiveNlin -= 1;
    } else {
        const int32_t n = p->shape.nParams, nf = n_free(p);
        int32_t pos = -1;
        for (int32_t i = nf; i < n; ++i)
            if (p->active.freeList[i] == index) pos = i;
        if (pos < 0) nlp_internal_error("znlpdor: a held parameter is not in the tail of the free list");
        for (int32_t i = pos; i > nf; --i) p->active.freeList[i] = p->active.freeList[i - 1];
        p->active.freeList[nf] = index;
        // A factor that cannot take the parameter is unusable: the
        // technique hears it and stops.
        if (!hf.add(index, nf)) {
            xpsout("Singular Cholesky decomposition");
            usable = false;
        }
        p->active.boundState[index] = 0;
        p->active.nActiveBounds -= 1;
        hf.renumber();
        if (keeps_g(p, factor)) gmupd(p, 1, index);
    }
    rebuild_columns(p, hf);
    set_gradient(p, hf, g);
    return usable ? 0 : -1;
}

int32_t znlpldr(NlpProblem* p, double* factor) {
    if (p->active.nDepLin + p->active.nDepBounds == 0) return 0;
    bool entered = false;
    for (int32_t i = 0; i < n_free(p) && p->active.nDepBounds > 0; ++i) {
        const int32_t q = p->active.freeList[i], s = p->active.boundState[q];
        if (s == 0) continue;
        p->active.boundState[q] = 0;
        p->active.nDepBounds -= 1;
        if (znlpupr(p, 0, s, q, 0.0, factor) == 0) {
            entered = true;
            i -= 1;
        }
    }
    const std::vector<int32_t> tail(p->active.activeList + p->active.nActiveLin, p->active.activeList + p->active.nActiveLin + p->active.nDepLin);
    p->active.nDepLin = 0;
    for (int32_t row : tail)
        if (znlpupr(p, 0, 0, row, 0.0, factor) == 0) entered = true;
    return entered ? 1 : 0;
}

int32_t znlpdar(NlpProblem* p, double d, double* factor) {
    double theta = wzmis(p->opt.lagMultTol) ? std::sqrt(static_cast<double>(p->shape.nParams)) * 1e-8
                                        : std::fmax(p->opt.lagMultTol, 1e-12);
    const int32_t entry = p->active.nActiveBounds + p->active.nActiveLin;
    int32_t dropped = 0;
    bool failed = false;
    for (;;) {
        p->active.dropCode = 0;
        if (p->active.nActiveBounds + p->active.nActiveLin == 0) break;
        int32_t status = 0, index = 0;
        double value = 0.0;
        if (!drop_candidate(p, &status, &index, &value) || !(value < -theta)) break;
        if (znlpdor(p, status, index, dropped == 0 ? d : 0.0, factor) != 0) {
            p->active.dropCode = -1;
            failed = true;
            break;
        }
        dropped += 1;
        if (p->active.nDepLin + p->active.nDepBounds == 0 || znlpldr(p, factor) == 0) break;
    }
    if (p->active.nActiveBounds + p->active.nActiveLin < entry) {
        p->active.dropCode = dropped;
        p->active.activeChange = -(p->active.activeChange + 1);
        return failed ? -1 : 1;
    }
    return failed ? -1 : 0;
}

int32_t znlpacr(NlpProblem* p, double d, double* factor) {
    const int32_t n = p->shape.nParams, nb0 = p->active.nActiveBounds, nl0 = p->active.nActiveLin;
    const double tol = working_tolerance(p, p->run.feasRound);
    int32_t entered = 0;
    auto offer = [&](int32_t status, int32_t index) {
        if (znlpupr(p, 0, status, index, entered == 0 ? d : 0.0, factor) == 0) entered += 1;
    };
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i) {
        if (p->active.boundState[i] != 0) continue;
        int32_t state = 0;
        const double l = p->param.lower[i], u = p->param.upper[i], x = p->param.x[i];
        if (l > -DBL_MAX && std::fabs(x - l) <= tol * (1.0 + std::fabs(l))) state = 1;
        if (u < DBL_MAX && std::fabs(u - x) <= tol * (1.0 + std::fabs(u))) state = -1;
        if (state != 0) offer(state, i);
    }
    for (int32_t k = 0; p->shape.hasLinCon && k < p->shape.nLinCon; ++k) {
        bool listed = false;
        for (int32_t j = 0; j < p->active.nActiveLin + p->active.nDepLin && !listed; ++j) listed = p->active.activeList[j] == k;
        if (!listed && std::fabs(row_residual(p, k)) <= row_threshold(tol, p->con.linRhs[k])) offer(0, k);
    }
    p->active.activeChange = std::max(0, p->active.nActiveBounds - nb0) + std::max(0, p->active.nActiveLin - nl0);
    if (p->active.activeChange != entered) nlp_internal_error("znlpacr: the entries disagree with the counts");
    return entered > 0 ? 1 : 0;
}

bool znlp_sparse_work_fits(const NlpProblem* p) {
    const int64_t have = p->active.sparseWorkDoubles;
    return p->active.sparseWork != nullptr && (have == 0 || have >= 4 * static_cast<int64_t>(p->shape.nParams));
}

int32_t znlpftr(NlpProblem* p, int32_t dropFlag, int32_t multFlag, double* factor) {
    if (!p->shape.hasBounds && !p->shape.hasLinCon && !p->shape.hasNlinCon) return 0;
    const int32_t n = p->shape.nParams;
    std::copy(p->work.gradient, p->work.gradient + n, p->work.gradBase);
    const std::vector<int32_t> saved(p->active.activeList, p->active.activeList + p->active.nActiveLin);
    p->active.nActiveLin = p->active.nActiveBounds = p->active.nDepLin = p->active.nDepBounds = 0;
    p->active.nActiveNlin = 0;
    // The bound states before the rebuild, in a vector of their own.
    const std::vector<int32_t> old(p->active.boundState, p->active.boundState + n);
    std::vector<bool> restored(sz(n), false);
    int32_t fixed = 0, back = 0;
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i) {
        if (old[i] == 2)
            fixed += 1;
        else
            p->active.boundState[i] = 0;
    }
    for (int32_t i = 0; p->shape.hasBounds && i < n && fixed + p->shape.nLinEq + back < n; ++i)
        if (old[i] == 1 || old[i] == -1) {
            p->active.boundState[i] = old[i];
            restored[i] = true;
            back += 1;
        }
    p->active.nActiveBounds = fixed + back;
    znlp_free_list(p);
    const HessianFactor hf{p, factor};
    hf.renumber();
    // A technique that passes its factor is told of the restart, when it
    // installed a routine for that: the factor must be that of the free
    // parameters now listed (for a sparse factor, those hessianPerm maps).
    if (factor != nullptr && p->cb.resetFn != nullptr) p->cb.resetFn(p);
    for (int32_t row : saved) {
        if (row >= p->shape.nLinEq) continue;
        if (column_of_row(p, hf, row, true))
            insert_row(p, row);
        else
            p->active.activeList[p->active.nActiveLin + p->active.nDepLin++] = row;
    }
    set_gradient(p, hf, std::vector<double>(p->work.gradient, p->work.gradient + n));
    if (keeps_g(p, factor)) init_g(p);
    for (int32_t i = 0; p->shape.hasBounds && i < n; ++i)
        if ((old[i] == 1 || old[i] == -1) && !restored[i]) znlpupr(p, 0, old[i], i, 0.0, factor);
    for (int32_t row : saved)
        if (row >= p->shape.nLinEq) znlpupr(p, 0, 0, row, 0.0, factor);
    if (dropFlag && p->active.nActiveBounds + p->active.nActiveLin > 0) {
        znlpdar(p, 0.0, factor);
        return 0;
    }
    if (multFlag && p->active.nActiveLin > 0) znlpglm(p, 0, p->work.gradient, p->active.multipliers);
    return 0;
}

void gmupd(NlpProblem* p, int32_t release, int32_t i) {
    const GTerms t(p);
    const double sign = release != 0 ? -1.0 : 1.0;
    if (release != 0)
        t.g[i] -= t.x[i] * t.h[i];
    else
        t.g[i] = t.x[i] * t.h[i] + linear_term(p, i);
    // The partners of i: the entries of row i, and of the later rows at column i.
    auto partner = [&](int32_t j, double hij) {
        if (t.map[j] >= 0) return;
        t.g[j] += sign * hij * t.x[i];
        if (release == 0) t.g[i] += hij * t.x[j];
    };
    for (int32_t e = t.ija[i]; e < t.ija[i + 1]; ++e) partner(t.ija[e], t.h[e]);
    for (int32_t r = i + 1; r < p->shape.nParams; ++r)
        for (int32_t e = t.ija[r]; e < t.ija[r + 1] && t.ija[e] <= i; ++e)
            if (t.ija[e] == i) partner(r, t.h[e]);
}
