// The active set of bounds and general rows in the dense form: which
// constraints are active at a point, and the entry and removal of one
// constraint at a time with the orthogonal basis Q of the free space, the
// triangular factor T of the active rows and the techniques' carried
// reduced Hessian (or its Cholesky factor) kept up to date by Givens
// rotations (Gill, Murray and Wright, Practical Optimization, 1981, sec.
// 5.2.4; Gill, Golub, Murray and Saunders, "Methods for modifying matrix
// factorizations", Math. Comp. 28, 1974).  The layouts are described in
// active_set.h.
#include "optimizer/core/active_set.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "numerics/qr.h"
#include "numerics/updates.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/multipliers.h"
#include "optimizer/core/reduced_space.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

using namespace velix::detail;
using velix::pk;

namespace velix::detail {

double working_tolerance(const NlpProblem* p, int32_t round) {
    double t = p->opt.feasTol;
    for (int32_t i = 0; i < round; ++i) t *= 10.0;
    return t;
}

double row_residual(NlpProblem* p, int32_t k) {
    p->cb.conRowFn(p, k, p->active.rowBuffer);
    double s = 0.0;
    for (int32_t i = 0; i < p->shape.nParams; ++i) s += p->active.rowBuffer[i] * p->param.x[i];
    return s - p->con.linRhs[k];
}

double row_threshold(double t, double rhs) { return std::fmax(t * (1.0 + std::fabs(rhs)), t); }

bool q_is_identity(const NlpProblem* p) { return p->active.nActiveLin == 0 && !keeps_basis(p->opt.technique); }

void refuse_rows_form(const NlpProblem* p, const char* routine) {
    if (p->opt.conFactorForm == 2) nlp_internal_error(routine);
}

int32_t free_position(const NlpProblem* p, int32_t param) {
    for (int32_t i = 0; i < n_free(p); ++i)
        if (p->active.freeList[i] == param) return i;
    return -1;
}

// ---- the carried matrix ----

void Carried::rotate(int32_t i, int32_t j, double c, double s) {
    if (vector != nullptr) rotate_pair(vector[j], vector[i], c, s);
    if (matrix == nullptr || order == nullptr || j >= *order) return;
    const int32_t m = *order;
    if (mode == 0) {
        // Z'HZ with columns i and j rotated: rows and columns of H.
        for (int32_t k = 0; k < m; ++k) {
            if (k == i || k == j) continue;
            rotate_pair(matrix[pk(j, k)], matrix[pk(i, k)], c, s);
        }
        const double hjj = matrix[pk(j, j)], hii = matrix[pk(i, i)], hij = matrix[pk(i, j)];
        matrix[pk(j, j)] = c * c * hjj + 2.0 * c * s * hij + s * s * hii;
        matrix[pk(i, i)] = c * c * hii - 2.0 * c * s * hij + s * s * hjj;
        matrix[pk(i, j)] = c * s * (hii - hjj) + (c * c - s * s) * hij;
        return;
    }
    // R with columns i and j rotated, then the triangle restored by row
    // rotations (they leave R'R unchanged).
    std::vector<double> r(static_cast<size_t>(m) * m, 0.0);
    for (int32_t col = 0; col < m; ++col)
        for (int32_t row = 0; row <= col; ++row) r[static_cast<size_t>(row) * m + col] = matrix[pk(row, col)];
    for (int32_t row = 0; row < m; ++row) {
        rotate_pair(r[static_cast<size_t>(row) * m + j], r[static_cast<size_t>(row) * m + i], c, s);
    }
    retriangularize(m, r.data(), matrix);
}

void retriangularize(int32_t m, double* r, double* packed) {
    for (int32_t col = 0; col < m; ++col)
        for (int32_t row = m - 1; row > col; --row) {
            double& b = r[static_cast<size_t>(row) * m + col];
            if (b == 0.0) continue;
            double& a = r[static_cast<size_t>(row - 1) * m + col];
            double c = 0.0, s = 0.0;
            zgivcon(&a, &b, &c, &s);
            zgivapl(m - col - 1, 1, 1, c, s, &r[static_cast<size_t>(row - 1) * m + col + 1],
                    &r[static_cast<size_t>(row) * m + col + 1]);
        }
    for (int32_t col = 0; col < m; ++col)
        for (int32_t row = 0; row <= col; ++row) packed[pk(row, col)] = r[static_cast<size_t>(row) * m + col];
}

void Carried::identity_pivots(NlpProblem* p) const {
    if (mode != 2 || order == nullptr || p->active.pivotOrder == nullptr) return;
    for (int32_t r = 0; r < *order; ++r) p->active.pivotOrder[r] = r;
}

void Carried::drop_last() {
    if (matrix != nullptr && order != nullptr && *order > 0) *order -= 1;
}

int32_t Carried::extend(NlpProblem* p, const double* z, const double* hessian) {
    // The new null direction z (n entries by parameter) joins the carried
    // matrix as its last row and column.
    if (matrix == nullptr || order == nullptr) return 0;
    const int32_t m = *order, n = p->shape.nParams;
    for (int32_t k = 0; k < m; ++k) matrix[pk(k, m)] = 0.0;
    *order = m + 1;
    if (mode == 0 || hessian == nullptr) {
        matrix[pk(m, m)] = 1.0;
        return 1;
    }
    std::vector<double> h(static_cast<size_t>(n), 0.0);
    if (p->opt.hessianStorage == 2)
        for (int32_t i = 0; i < n; ++i) h[i] = hessian[i] * z[i];
    else
        znlpsmv(n, nullptr, hessian, z, h.data());
    double delta = 0.0;
    for (int32_t i = 0; i < n; ++i) delta += z[i] * h[i];
    // Z'h over the old null columns, then R'y = Z'h.
    std::vector<double> zh(static_cast<size_t>(m), 0.0), y(static_cast<size_t>(m), 0.0);
    const bool identity = p->active.nullBasis == nullptr;
    for (int32_t k = 0; k < m; ++k) {
        // Row k of the factor belongs to null column c.
        const int32_t c = mode == 2 ? p->active.pivotOrder[k] : k;
        if (identity) {
            zh[k] = h[p->active.freeList[c]];
            continue;
        }
        double s = 0.0;
        for (int32_t i = 0; i < n_free(p); ++i) s += p->active.nullBasis[i * n + c] * h[p->active.freeList[i]];
        zh[k] = s;
    }
    if (m > 0) zqrsol(8, m, 1, 0, m, m, nullptr, matrix, zh.data(), y.data(), nullptr, nullptr);
    double d = delta;
    for (int32_t k = 0; k < m; ++k) {
        matrix[pk(k, m)] = y[k];
        d -= y[k] * y[k];
    }
    if (d > DBL_MIN) {
        matrix[pk(m, m)] = std::sqrt(d);
        return 0;
    }
    for (int32_t k = 0; k < m; ++k) matrix[pk(k, m)] = 0.0;
    matrix[pk(m, m)] = 1.0;
    return 2;
}

}  // namespace velix::detail

namespace {

double& q_at(NlpProblem* p, int32_t i, int32_t k) { return p->active.nullBasis[static_cast<size_t>(i) * p->shape.nParams + k]; }

// Columns i and j of Q (over the first nf rows): col_j := c col_j + s
// col_i, col_i := c col_i - s col_j.
void rotate_q(NlpProblem* p, int32_t nf, int32_t i, int32_t j, double c, double s) {
    for (int32_t r = 0; r < nf; ++r) {
        rotate_pair(q_at(p, r, j), q_at(p, r, i), c, s);
    }
}

void set_identity(NlpProblem* p, int32_t order) {
    for (int32_t i = 0; i < order; ++i)
        for (int32_t k = 0; k < order; ++k) q_at(p, i, k) = i == k ? 1.0 : 0.0;
}

// T as nl rows of Q coordinates (nf entries each), and back.
std::vector<double> expand_t(const NlpProblem* p, int32_t nf) {
    const int32_t nl = p->active.nActiveLin;
    std::vector<double> rows(static_cast<size_t>(nl) * nf, 0.0);
    for (int32_t j = 0; j < nl; ++j)
        for (int32_t c = 0; c <= j; ++c) rows[static_cast<size_t>(j) * nf + nf - 1 - j + c] = p->active.activeFactor[pk(j, c)];
    return rows;
}

void pack_t(NlpProblem* p, int32_t nl, int32_t nf, const std::vector<double>& rows, int32_t stride) {
    for (int32_t j = 0; j < nl; ++j)
        for (int32_t c = 0; c <= j; ++c) p->active.activeFactor[pk(j, c)] = rows[static_cast<size_t>(j) * stride + nf - 1 - j + c];
}

// Moves the parameter at free position pos to the end of the free part and
// counts it held.
void hold_parameter(NlpProblem* p, int32_t pos, int32_t status) {
    const int32_t nf = n_free(p), q = p->active.freeList[pos];
    for (int32_t i = pos; i < nf - 1; ++i) p->active.freeList[i] = p->active.freeList[i + 1];
    p->active.freeList[nf - 1] = q;
    p->active.boundState[q] = status;
    p->active.nActiveBounds += 1;
}

// Mode 2: free position pos leaves the pivot order (those above move down).
void drop_pivot_position(const Carried& cm, NlpProblem* p, int32_t pos) {
    if (cm.mode != 2 || cm.order == nullptr || p->active.pivotOrder == nullptr) return;
    int32_t w = 0;
    for (int32_t r = 0; r < *cm.order; ++r) {
        const int32_t v = p->active.pivotOrder[r];
        if (v == pos) continue;
        p->active.pivotOrder[w++] = v > pos ? v - 1 : v;
    }
}

void carried_remove_position(Carried& cm, NlpProblem* p, int32_t pos, int32_t last) {
    // Shortcut form: the carried row and column pos go last and leave.
    if (cm.vector != nullptr) {
        const double v = cm.vector[pos];
        for (int32_t i = pos; i < last; ++i) cm.vector[i] = cm.vector[i + 1];
        cm.vector[last] = v;
    }
    if (cm.matrix == nullptr || cm.order == nullptr) return;
    int32_t k = pos;
    if (cm.mode == 2) {
        k = -1;
        for (int32_t r = 0; r < *cm.order; ++r)
            if (p->active.pivotOrder[r] == pos) k = r;
        drop_pivot_position(cm, p, pos);
        if (k < 0) return;
    }
    const int32_t m = *cm.order;
    if (cm.mode == 0) {
        znlpsym(1, m, k, nullptr, nullptr, cm.matrix);
    } else if (k < m - 1) {
        std::vector<double> work(static_cast<size_t>(m));
        bcupd(k, m, cm.matrix, work.data());
    }
    cm.drop_last();
}

int32_t enter_bound(NlpProblem* p, int32_t testOnly, int32_t skipDep, int32_t status, int32_t param, Carried& cm) {
    const int32_t nf = n_free(p), nl = p->active.nActiveLin, nz = nf - nl;
    if (nz == 0) return -1;
    if (testOnly && nl == 0) return 0;
    const int32_t pos = free_position(p, param);
    if (pos < 0) nlp_internal_error("znlpupd: a bound's parameter is not free");
    if (q_is_identity(p)) {
        // Q stays the identity of the smaller free space.
        carried_remove_position(cm, p, pos, nz - 1);
        hold_parameter(p, pos, status);
        set_identity(p, n_free(p));
        return 0;
    }
    // The rotations that sweep row pos of Q into its last column.
    std::vector<double> w(static_cast<size_t>(nf)), cs(static_cast<size_t>(2 * nf), 0.0);
    for (int32_t k = 0; k < nf; ++k) w[k] = q_at(p, pos, k);
    for (int32_t i = 0; i + 1 < nf; ++i) zgivcon(&w[i + 1], &w[i], &cs[i], &cs[nf + i]);
    // The rows of T in the new coordinates; the new pivots test dependence.
    std::vector<double> t = expand_t(p, nf);
    for (int32_t j = 0; j < nl; ++j)
        for (int32_t i = 0; i + 1 < nf; ++i)
            rotate_pair(t[static_cast<size_t>(j) * nf + i + 1], t[static_cast<size_t>(j) * nf + i], cs[i], cs[nf + i]);
    if (!skipDep)
        for (int32_t j = 0; j < nl; ++j)
            if (std::fabs(t[static_cast<size_t>(j) * nf + nf - 2 - j]) <= p->opt.linDepTol) return -1;
    if (testOnly) return 0;
    for (int32_t i = 0; i + 1 < nf; ++i) {
        rotate_q(p, nf, i, i + 1, cs[i], cs[nf + i]);
        if (i + 1 < nz) cm.rotate(i, i + 1, cs[i], cs[nf + i]);
    }
    for (int32_t i = pos; i + 1 < nf; ++i)
        for (int32_t k = 0; k < nf; ++k) q_at(p, i, k) = q_at(p, i + 1, k);
    pack_t(p, nl, nf - 1, t, nf);
    cm.drop_last();
    cm.identity_pivots(p);
    hold_parameter(p, pos, status);
    return 0;
}

int32_t enter_row(NlpProblem* p, int32_t testOnly, int32_t skipDep, int32_t row, Carried& cm) {
    const int32_t nf = n_free(p), nl = p->active.nActiveLin, nz = nf - nl, n = p->shape.nParams;
    if (nz == 0) return -1;
    p->cb.conRowFn(p, row, p->active.rowBuffer);
    const double norm = zvenorm(n, 1, p->active.rowBuffer);
    std::vector<double> w(static_cast<size_t>(nf), 0.0), cs(static_cast<size_t>(2 * nf), 0.0);
    const bool identity = q_is_identity(p);
    for (int32_t k = 0; k < nf; ++k) {
        if (identity) {
            w[k] = p->active.rowBuffer[p->active.freeList[k]];
            continue;
        }
        double s = 0.0;
        for (int32_t i = 0; i < nf; ++i) s += q_at(p, i, k) * p->active.rowBuffer[p->active.freeList[i]];
        w[k] = s;
    }
    const double tau = skipDep ? 0.0 : norm * p->opt.linDepTol;
    for (int32_t i = 0; i + 1 < nz; ++i) zgivcon(&w[i + 1], &w[i], &cs[i], &cs[nf + i]);
    if (std::fabs(w[nz - 1]) <= tau) return -1;
    if (testOnly) return 0;
    for (int32_t c = 0; c <= nl; ++c) p->active.activeFactor[pk(nl, c)] = w[nz - 1 + c];
    for (int32_t i = 0; i + 1 < nz; ++i) {
        rotate_q(p, nf, i, i + 1, cs[i], cs[nf + i]);
        cm.rotate(i, i + 1, cs[i], cs[nf + i]);
    }
    cm.drop_last();
    cm.identity_pivots(p);
    for (int32_t k = nl + p->active.nDepLin; k > nl; --k) p->active.activeList[k] = p->active.activeList[k - 1];
    p->active.activeList[nl] = row;
    p->active.nActiveLin += 1;
    if (row >= p->shape.nLinCon) p->active.nActiveNlin += 1;
    return 0;
}

// The new null direction (the last null column of Q) as a vector by
// parameter.
std::vector<double> last_null_column(NlpProblem* p) {
    const int32_t nz = n_reduced(p);
    std::vector<double> z(static_cast<size_t>(p->shape.nParams), 0.0);
    for (int32_t i = 0; i < n_free(p); ++i) z[p->active.freeList[i]] = q_at(p, i, nz - 1);
    return z;
}

void gain_null_direction(NlpProblem* p, Carried& cm, const double* hessian, int32_t* result) {
    const std::vector<double> z = last_null_column(p);
    const int32_t nz = n_reduced(p);
    if (cm.vector != nullptr) {
        double s = 0.0;
        for (int32_t i = 0; i < p->shape.nParams; ++i) s += z[i] * p->work.gradient[i];
        cm.vector[nz - 1] = s;
    }
    if (cm.mode == 2 && cm.order != nullptr && cm.matrix != nullptr) p->active.pivotOrder[*cm.order] = nz - 1;
    const int32_t r = cm.extend(p, z.data(), hessian);
    if (*result == 0) *result = r;
}

int32_t drop_bound(NlpProblem* p, int32_t param, Carried& cm, const double* hessian) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nl = p->active.nActiveLin, nz = nf - nl;
    int32_t pos = -1;
    for (int32_t i = nf; i < n; ++i)
        if (p->active.freeList[i] == param) pos = i;
    if (pos < 0) nlp_internal_error("znlpdod: a held parameter is not in the tail of the free list");
    for (int32_t i = pos; i > nf; --i) p->active.freeList[i] = p->active.freeList[i - 1];
    p->active.freeList[nf] = param;
    std::vector<double> t = expand_t(p, nf);
    p->active.boundState[param] = 0;
    p->active.nActiveBounds -= 1;
    // Q grows by row nf and a unit column placed at nz, ahead of the range.
    for (int32_t i = 0; i <= nf; ++i) {
        for (int32_t k = nf; k > nz; --k) q_at(p, i, k) = i < nf ? q_at(p, i, k - 1) : 0.0;
        q_at(p, i, nz) = i == nf ? 1.0 : 0.0;
    }
    for (int32_t k = 0; k < nz; ++k) q_at(p, nf, k) = 0.0;
    // The rows of T gain the parameter's coefficients in column nz; the
    // rotations of column nz with each pivot column clear it.
    const int32_t nf1 = nf + 1;
    std::vector<double> rows(static_cast<size_t>(nl) * nf1, 0.0);
    for (int32_t j = 0; j < nl; ++j) {
        p->cb.conRowFn(p, p->active.activeList[j], p->active.rowBuffer);
        rows[static_cast<size_t>(j) * nf1 + nz] = p->active.rowBuffer[param];
        for (int32_t k = nz; k < nf; ++k) rows[static_cast<size_t>(j) * nf1 + k + 1] = t[static_cast<size_t>(j) * nf + k];
    }
    for (int32_t j = 0; j < nl; ++j) {
        const int32_t pc = nf1 - 1 - j;
        double a = rows[static_cast<size_t>(j) * nf1 + pc], b = rows[static_cast<size_t>(j) * nf1 + nz];
        double c = 0.0, s = 0.0;
        zgivcon(&a, &b, &c, &s);
        for (int32_t r = 0; r < nl; ++r) {
            rotate_pair(rows[static_cast<size_t>(r) * nf1 + pc], rows[static_cast<size_t>(r) * nf1 + nz], c, s);
        }
        rotate_q(p, nf1, nz, pc, c, s);
    }
    pack_t(p, nl, nf1, rows, nf1);
    int32_t result = 0;
    gain_null_direction(p, cm, hessian, &result);
    return result;
}

int32_t drop_row(NlpProblem* p, int32_t row, Carried& cm, const double* hessian) {
    const int32_t nf = n_free(p), nl = p->active.nActiveLin;
    int32_t j = -1;
    for (int32_t k = 0; k < nl; ++k)
        if (p->active.activeList[k] == row) j = k;
    if (j < 0) return 1;
    std::vector<double> t = expand_t(p, nf);
    for (int32_t k = j + 1; k < nl; ++k) {
        const int32_t left = nf - 1 - k, right = nf - k;
        double a = t[static_cast<size_t>(k) * nf + right], b = t[static_cast<size_t>(k) * nf + left];
        double c = 0.0, s = 0.0;
        zgivcon(&a, &b, &c, &s);
        for (int32_t r = k; r < nl; ++r) {
            rotate_pair(t[static_cast<size_t>(r) * nf + right], t[static_cast<size_t>(r) * nf + left], c, s);
        }
        t[static_cast<size_t>(k) * nf + left] = 0.0;
        rotate_q(p, nf, left, right, c, s);
    }
    // Row j leaves T and the active list; the later rows move down.
    std::vector<double> rest;
    rest.reserve(static_cast<size_t>(nl - 1) * nf);
    for (int32_t k = 0; k < nl; ++k)
        if (k != j) rest.insert(rest.end(), t.begin() + static_cast<ptrdiff_t>(k) * nf, t.begin() + static_cast<ptrdiff_t>(k + 1) * nf);
    for (int32_t k = j; k + 1 < nl + p->active.nDepLin; ++k) p->active.activeList[k] = p->active.activeList[k + 1];
    p->active.nActiveLin -= 1;
    if (row >= p->shape.nLinCon) p->active.nActiveNlin -= 1;
    pack_t(p, nl - 1, nf, rest, nf);
    int32_t result = 0;
    gain_null_direction(p, cm, hessian, &result);
    if (nl == 1 && !keeps_basis(p->opt.technique)) {
        // The last active row left: Q is the identity again, and the
        // carried vector and matrix follow the change of basis.
        std::vector<double> q(static_cast<size_t>(nf) * nf);
        for (int32_t i = 0; i < nf; ++i)
            for (int32_t k = 0; k < nf; ++k) q[static_cast<size_t>(i) * nf + k] = q_at(p, i, k);
        set_identity(p, nf);
        cm.rebase(q.data(), nf);
        if (cm.mode == 2 && p->active.pivotOrder != nullptr)
            for (int32_t i = 0; i < nf; ++i) p->active.pivotOrder[i] = i;
    }
    return result;
}

}  // namespace

namespace velix::detail {

void Carried::rebase(const double* qOld, int32_t nf) {
    // The null space was spanned by the columns of qOld (nf x nf) and is
    // now spanned by the identity: vector v := Q v, matrix M := Q M Q' (its
    // factor R := the triangle of R Q').
    if (vector != nullptr) {
        std::vector<double> v(vector, vector + nf);
        for (int32_t i = 0; i < nf; ++i) {
            double s = 0.0;
            for (int32_t k = 0; k < nf; ++k) s += qOld[static_cast<size_t>(i) * nf + k] * v[k];
            vector[i] = s;
        }
    }
    if (matrix == nullptr || order == nullptr || *order != nf) return;
    std::vector<double> r(static_cast<size_t>(nf) * nf, 0.0);
    if (mode == 0) {
        std::vector<double> mq(static_cast<size_t>(nf) * nf, 0.0);
        for (int32_t k = 0; k < nf; ++k)
            for (int32_t b = 0; b < nf; ++b) {
                double s = 0.0;
                for (int32_t l = 0; l < nf; ++l) s += matrix[pk(k, l)] * qOld[static_cast<size_t>(b) * nf + l];
                mq[static_cast<size_t>(k) * nf + b] = s;
            }
        for (int32_t a = 0; a < nf; ++a)
            for (int32_t b = 0; b <= a; ++b) {
                double s = 0.0;
                for (int32_t k = 0; k < nf; ++k) s += qOld[static_cast<size_t>(a) * nf + k] * mq[static_cast<size_t>(k) * nf + b];
                r[static_cast<size_t>(a) * nf + b] = s;
            }
        for (int32_t a = 0; a < nf; ++a)
            for (int32_t b = 0; b <= a; ++b) matrix[pk(a, b)] = r[static_cast<size_t>(a) * nf + b];
        return;
    }
    for (int32_t i = 0; i < nf; ++i)
        for (int32_t c = 0; c < nf; ++c) {
            double s = 0.0;
            for (int32_t k = i; k < nf; ++k) s += matrix[pk(i, k)] * qOld[static_cast<size_t>(c) * nf + k];
            r[static_cast<size_t>(i) * nf + c] = s;
        }
    retriangularize(nf, r.data(), matrix);
}

}  // namespace velix::detail

int32_t znlpupd(NlpProblem* p, int32_t testOnly, int32_t mode, int32_t skipDepTest, int32_t status,
                int32_t index, int32_t* order, double* vector, double* matrix) {
    refuse_rows_form(p, "znlpupd: sparse active-set form");
    Carried cm{mode, order, vector, matrix};
    const int32_t r = status != 0 ? enter_bound(p, testOnly, skipDepTest, status, index, cm)
                                  : enter_row(p, testOnly, skipDepTest, index, cm);
    if (r == 0) return 0;
    if (testOnly) return 1;
    // Dependent: held apart until the dependent ones are offered again.
    if (status != 0) {
        p->active.boundState[index] = status;
        p->active.nDepBounds += 1;
    } else {
        p->active.activeList[p->active.nActiveLin + p->active.nDepLin] = index;
        p->active.nDepLin += 1;
    }
    return 1;
}

int32_t znlpdod(NlpProblem* p, int32_t mode, int32_t status, int32_t index, int32_t* order,
                double* reducedGradient, double* matrix, const double* hessian) {
    refuse_rows_form(p, "znlpdod: sparse active-set form");
    Carried cm{mode, order, reducedGradient, matrix};
    return status != 0 ? drop_bound(p, index, cm, hessian) : drop_row(p, index, cm, hessian);
}

void bcupd(int32_t k, int32_t m, double* r, double* work) {
    if (k >= m - 1) return;
    std::vector<double> full(static_cast<size_t>(m) * m, 0.0);
    for (int32_t col = 0; col < m; ++col) {
        const int32_t src = col < k ? col : (col < m - 1 ? col + 1 : k);
        for (int32_t row = 0; row <= src; ++row) full[static_cast<size_t>(row) * m + col] = r[pk(row, src)];
    }
    (void)work;
    retriangularize(m, full.data(), r);
}

int32_t znlpfch(NlpProblem* p, int32_t setActive, int32_t withNonlinear, int32_t round) {
    // The check reads rows and bounds only: it serves both factor forms.
    if (!p->shape.hasBounds && !p->shape.hasLinCon && !p->shape.hasNlinCon) return 0;
    const int32_t n = p->shape.nParams;
    const double tol = working_tolerance(p, round);
    double maxViol = 0.0;
    int32_t violations = 0, active = 0, nlinActive = 0;
    auto note = [&](double v, bool violated) {
        maxViol = std::fmax(maxViol, v);
        if (violated) violations += 1;
    };
    if (p->shape.hasBounds) {
        for (int32_t i = 0; i < n; ++i) {
            const double l = p->param.lower[i], u = p->param.upper[i], x = p->param.x[i];
            if (setActive && l > -DBL_MAX && u < DBL_MAX && l + (1.0 + std::fabs(l)) * p->opt.feasTol >= u)
                p->active.boundState[i] = 2;
            if (p->active.boundState[i] == 2) {
                // A fixed parameter is met within (1 + |l|) t, so a bound of
                // 0 does not demand exact equality.
                note(std::fabs(x - l), std::fabs(x - l) > (1.0 + std::fabs(l)) * tol);
                continue;
            }
            if (setActive) p->active.boundState[i] = 0;
            if (l > -DBL_MAX) {
                const double d = x - l, t = (1.0 + std::fabs(l)) * tol;
                note(-d, d < -t);
                if (setActive && d <= t) p->active.boundState[i] = 1;
            }
            if (u < DBL_MAX) {
                const double d = u - x, t = (1.0 + std::fabs(u)) * tol;
                note(-d, d < -t);
                if (setActive && d <= t) p->active.boundState[i] = -1;
            }
        }
        if (setActive) {
            p->active.nActiveBounds = 0;
            for (int32_t i = 0; i < n; ++i)
                if (p->active.boundState[i] != 0) p->active.nActiveBounds += 1;
        }
    }
    auto append = [&](int32_t row, bool nonlinear) {
        if (setActive) p->active.activeList[active] = row;
        active += 1;
        if (nonlinear) nlinActive += 1;
    };
    if (p->shape.hasLinCon)
        for (int32_t k = 0; k < p->shape.nLinEq; ++k) {
            const double r = row_residual(p, k);
            note(std::fabs(r), std::fabs(r) > row_threshold(tol, p->con.linRhs[k]));
            append(k, false);
        }
    const bool nonlinear = withNonlinear && p->shape.hasNlinCon;
    if (nonlinear)
        for (int32_t j = 0; j < p->shape.nNlinEq; ++j) {
            note(std::fabs(p->con.conValues[j]), std::fabs(p->con.conValues[j]) > tol);
            append(p->shape.nLinCon + j, true);
        }
    if (p->shape.hasLinCon)
        for (int32_t k = p->shape.nLinEq; k < p->shape.nLinCon; ++k) {
            const double r = row_residual(p, k), t = row_threshold(tol, p->con.linRhs[k]);
            note(-r, r < -t);
            if (r <= t) append(k, false);
        }
    if (nonlinear)
        for (int32_t j = p->shape.nNlinEq; j < p->shape.nNlinCon; ++j) {
            const double c = p->con.conValues[j];
            note(-c, c < -tol);
            if (c <= tol) append(p->shape.nLinCon + j, true);
        }
    if (setActive) {
        p->active.nActiveLin = active;
        p->active.nActiveNlin = nlinActive;
        p->iter.maxConViolation = maxViol;
    }
    return violations > 0 ? -1 : 0;
}

int32_t znlpact(NlpProblem* p, int32_t mode, int32_t countViolations, int32_t* order, double* vector,
                double* matrix) {
    if (!p->shape.hasBounds && !p->shape.hasLinCon) return 0;
    refuse_rows_form(p, "znlpact: sparse active-set form");
    const int32_t n = p->shape.nParams, nb0 = p->active.nActiveBounds, nl0 = p->active.nActiveLin;
    const double tol = working_tolerance(p, p->run.feasRound);
    int32_t violations = 0;
    if (p->shape.hasBounds)
        for (int32_t i = 0; i < n; ++i) {
            if (p->active.boundState[i] != 0) continue;
            int32_t state = 0;
            const double l = p->param.lower[i], u = p->param.upper[i], x = p->param.x[i];
            if (l > -DBL_MAX) {
                const double d = x - l, s = 1.0 + std::fabs(l);
                if (d < -tol * s && countViolations) violations += 1;
                if (std::fabs(d) <= tol * s) state = 1;
            }
            if (u < DBL_MAX) {
                const double d = u - x, s = 1.0 + std::fabs(u);
                if (d < -tol * s && countViolations) violations += 1;
                if (std::fabs(d) <= tol * s) state = -1;
            }
            if (state != 0) znlpupd(p, 0, mode, 0, state, i, order, vector, matrix);
        }
    if (p->shape.hasLinCon)
        for (int32_t k = 0; k < p->shape.nLinCon; ++k) {
            bool listed = false;
            for (int32_t j = 0; j < p->active.nActiveLin + p->active.nDepLin && !listed; ++j) listed = p->active.activeList[j] == k;
            if (listed) continue;
            const double r = row_residual(p, k), t = row_threshold(tol, p->con.linRhs[k]);
            if (r < -t && countViolations) violations += 1;
            if (std::fabs(r) <= t) znlpupd(p, 0, mode, 0, 0, k, order, vector, matrix);
        }
    p->active.activeChange = std::max(0, p->active.nActiveBounds - nb0) + std::max(0, p->active.nActiveLin - nl0);
    return -violations;
}

int32_t znlpfta(NlpProblem* p, int32_t rebuild, int32_t multMode, int32_t mode, int32_t* order,
                double* vector, double* matrix, const double* hessian) {
    if (!p->shape.hasBounds && !p->shape.hasLinCon && !p->shape.hasNlinCon) return 0;
    refuse_rows_form(p, "znlpfta: sparse active-set form");
    const int32_t n = p->shape.nParams;
    p->active.nActiveNlin = 0;
    p->active.nDepLin = 0;
    p->active.nDepBounds = 0;
    p->active.activeChange = 0;
    const int32_t dropMode = matrix != nullptr ? 1 : 0;
    if (!has_general(p)) {
        int32_t w = 0;
        for (int32_t i = 0; i < n; ++i)
            if (p->active.boundState[i] == 0) p->active.freeList[w++] = i;
        for (int32_t i = 0; i < n; ++i)
            if (p->active.boundState[i] != 0) p->active.freeList[w++] = i;
        if (matrix != nullptr && order != nullptr) {
            // The carried factor was over all parameters in index order.
            std::vector<double> work(static_cast<size_t>(n));
            std::vector<int32_t> pos(static_cast<size_t>(n));
            for (int32_t i = 0; i < n; ++i) pos[i] = i;
            int32_t m = *order;
            for (int32_t i = 0; i < n; ++i) {
                if (p->active.boundState[i] == 0) continue;
                int32_t k = -1;
                for (int32_t r = 0; r < m; ++r)
                    if (pos[r] == i) k = r;
                if (k < 0) nlp_internal_error("znlpfta: a held parameter is not in the carried factor");
                bcupd(k, m, matrix, work.data());
                pos.erase(pos.begin() + k);
                m -= 1;
            }
            *order = m;
        }
        if (rebuild && p->active.nActiveBounds > 0) znlpdac(p, dropMode, 0, order, matrix, hessian);
    } else {
        set_identity(p, n);
        for (int32_t i = 0; i < p->shape.packedLen; ++i) p->active.activeFactor[i] = 0.0;
        for (int32_t i = 0; i < n; ++i) p->active.freeList[i] = i;
        const std::vector<int32_t> saved(p->active.activeList, p->active.activeList + p->active.nActiveLin);
        for (size_t k = 0; k < saved.size(); ++k) p->active.workList[k] = saved[k];
        const int32_t oldBounds = p->active.nActiveBounds;
        std::vector<int32_t> states(p->active.boundState, p->active.boundState + n);
        p->active.nActiveLin = 0;
        p->active.nActiveBounds = 0;
        for (int32_t i = 0; i < n; ++i)
            if (states[i] != 0) p->active.boundState[i] = 0;
        auto enter = [&](int32_t status, int32_t index) { znlpupd(p, 0, mode, 0, status, index, order, vector, matrix); };
        for (int32_t i = 0; i < n; ++i)
            if (states[i] == 2) enter(2, i);
        const int32_t nLin = p->shape.nLinCon;
        auto equality = [&](int32_t row) { return row < nLin ? row < p->shape.nLinEq : row - nLin < p->shape.nNlinEq; };
        for (int32_t row : saved)
            if (equality(row)) enter(0, row);
        if (oldBounds > p->active.nActiveBounds)
            for (int32_t i = 0; i < n; ++i)
                if (states[i] == 1 || states[i] == -1) enter(states[i], i);
        for (int32_t row : saved)
            if (!equality(row)) enter(0, row);
        if (rebuild && p->active.nActiveBounds + p->active.nActiveLin > 0)
            znlpdac(p, dropMode, multMode == 2 ? 1 : 0, order, matrix, hessian);
    }
    const int32_t nb = p->active.nActiveBounds, nl = p->active.nActiveLin;
    if (multMode != 0 && nb + nl > 0) {
        if (multMode == 2 && has_general(p)) znlplm2(p);
        if (has_general(p)) {
            znlpglm(p, 0, p->work.gradient, p->active.multipliers);
        } else {
            // Bounds alone: the multipliers are the gradient components,
            // negated at an upper bound.
            const int32_t nf = n_free(p);
            for (int32_t j = 0; j < nb; ++j) {
                const int32_t q = p->active.freeList[nf + j];
                p->active.multipliers[j] = p->active.boundState[q] < 0 ? -p->work.gradient[q] : p->work.gradient[q];
            }
        }
        if (!rebuild) {
            const double theta = gtres(p);
            p->active.dropCode = 0;
            const int32_t nf = n_free(p);
            for (int32_t j = 0; j < nb; ++j)
                if (p->active.boundState[p->active.freeList[nf + j]] != 2 && p->active.multipliers[j] < -theta) p->active.dropCode = -1;
            for (int32_t k = 0; k < nl; ++k) {
                const int32_t row = p->active.activeList[k];
                const bool inequality = row < p->shape.nLinCon ? row >= p->shape.nLinEq : row - p->shape.nLinCon >= p->shape.nNlinEq;
                if (inequality && p->active.multipliers[nb + k] < -theta) p->active.dropCode = -1;
            }
        }
    }
    znlpgmx(p, 0, nullptr);
    if (p->shape.hasNlinCon) znlplfg(p, 1);
    return 0;
}
