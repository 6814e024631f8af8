// Implied moments of the COSAN form (McDonald 1978): the stored inverse of
// every matrix entered as M^-1 or (I - M)^-1, by the factorization its type
// allows (element-wise for diagonal types, Gauss-Jordan for triangles,
// Cholesky for positive definite, Bunch-Kaufman UDU' for symmetric and LU
// with partial pivoting for general matrices; Golub and Van Loan, "Matrix
// Computations", ch. 4), and the sum of the term products A P A' with only
// their lower triangle accumulated.
#include "procedure/evaluation/implied_moments.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numerics/lu.h"
#include "numerics/packed.h"
#include "numerics/udu.h"
#include "procedure/evaluation/cosan_kernels.h"
#include "procedure/evaluation/sparse_inverse.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/packed_index.h"
#include "velix/types.h"

using velix::pk_lower;

namespace {

constexpr int32_t kMsgBadForm = 62;
constexpr int32_t kMsgSparseInverseFailed = 61;

// Fills the packed triangle (or dense square) of s M (+ I for IMINUSINV)
// into `a` and factors it; returns true when the inverse was formed.
bool invert_matrix(const EvalView& v, int32_t k, double* a, int32_t order) {
    const ModelMatrixTable& mt = *v.mt;
    const int16_t type = mt.type[k], form = mt.form[k];
    const double s = form == kFormInverse ? 1.0 : -1.0;
    const int32_t e0 = mt.firstElement[k], e1 = e0 + mt.elementCount[k];
    const bool iminus = form == kFormIMinusInverse;
    EvaluationState& st = *v.st;
    double det[2];
    switch (type) {
        case kMatDiagonal: {
            // No storage: every diagonal position needs an element.
            std::fill(st.rowBuf, st.rowBuf + order, 0.0);
            for (int32_t e = e0; e < e1; ++e)
                if (v.el->row[e] == v.el->column[e]) st.rowBuf[v.el->row[e]] = v.el->value[e];
            for (int32_t i = 0; i < order; ++i) {
                const double d = iminus ? 1.0 - st.rowBuf[i] : st.rowBuf[i];
                if (!(std::fabs(d) > v.singular)) return false;
            }
            return true;
        }
        case kMatLower:
        case kMatUpper:
        case kMatPosDefinit:
        case kMatSymmetric: {
            std::fill(a, a + pk_lower(order, 0), 0.0);
            for (int32_t e = e0; e < e1; ++e)
                a[velix::pk(v.el->row[e], v.el->column[e])] = s * v.el->value[e];
            if (iminus)
                for (int32_t i = 0; i < order; ++i) a[pk_lower(i, i)] += 1.0;
            if (iminus && e0 == e1) return true;  // the identity
            if (type == kMatLower || type == kMatUpper)
                return zinvlo(a, order, st.rowBuf, v.singular) == 0;
            if (type == kMatPosDefinit) return coschin(order, v.singular, det, a) == 0;
            if (zududec(order, v.singular, nullptr, a, st.pivots) != 0) return false;
            zuduinv(order, a, st.pivots, st.rowBuf);
            return true;
        }
        case kMatGeneral:
        case kMatBeta:
        case kMatEqsBeta: {
            std::fill(a, a + int64_t{order} * order, 0.0);
            // EQSBETA always holds I - B, whatever its form.
            const bool eqs = type == kMatEqsBeta;
            for (int32_t e = e0; e < e1; ++e)
                a[int64_t{v.el->row[e]} * order + v.el->column[e]] =
                    (eqs ? -1.0 : s) * v.el->value[e];
            if (iminus || eqs)
                for (int32_t i = 0; i < order; ++i) a[int64_t{i} * order + i] += 1.0;
            if ((iminus || eqs) && e0 == e1) return true;
            if (zludec(order, order, v.singular, det, a, st.pivots) != 0) return false;
            zluinv(order, order, a, st.pivots, st.rowBuf);
            return true;
        }
        default:
            velix::detail::eval_fault(v, kMsgBadForm, k);
    }
}

// Every occurrence of k's name shares the inverse just formed.
void mark_done(const EvalView& v, int32_t k) {
    const int32_t root = velix::detail::name_root(v, k);
    for (int32_t l = 1; l <= v.nMatrices; ++l)
        if (velix::detail::name_root(v, l) == root) v.st->invDone[l] = 1;
}

// C += lower triangle of B A' (B and A n x cols): the nonzero columns of
// each row of A are listed once, so a sparse A (loadings, selection rows)
// costs its nonzeros instead of n^2 cols.
void add_product(const EvalView& v, const double* b, const double* a, int32_t cols, double* c) {
    const int32_t n = v.n, ld = v.ld;
    int32_t* nz = v.st->nzIndex;
    int32_t* count = v.st->pivots;  // reused as n row counts: ld >= n
    for (int32_t j = 0; j < n; ++j) {
        int32_t k = 0;
        for (int32_t m = 0; m < cols; ++m)
            if (a[int64_t{j} * ld + m] != 0.0) nz[int64_t{j} * ld + k++] = m;
        count[j] = k;
    }
    for (int32_t i = 0; i < n; ++i) {
        const double* bi = b + int64_t{i} * ld;
        for (int32_t j = 0; j <= i; ++j) {
            const double* aj = a + int64_t{j} * ld;
            const int32_t* idx = nz + int64_t{j} * ld;
            double s = 0.0;
            for (int32_t k = 0; k < count[j]; ++k) s += bi[idx[k]] * aj[idx[k]];
            c[pk_lower(i, j)] += s;
        }
    }
}

}  // namespace

int32_t cosimat(const EvalView* view, int32_t constantOnly, int32_t term) {
    const EvalView& v = *view;
    const ModelMatrixTable& mt = *v.mt;
    const int32_t t0 = term == 0 ? 1 : term, t1 = term == 0 ? v.nTerms : term;
    for (int32_t t = t0; t <= t1; ++t) {
        const int32_t first = velix::detail::term_first(v, t),
                      last = velix::detail::term_central(v, t);
        if (!v.invertOnce)
            for (int32_t k = 1; k <= v.nMatrices; ++k)
                if (mt.inverseReuse[k] == first) v.st->invDone[k] = 0;
        for (int32_t k = first; k <= last; ++k) {
            if (mt.form[k] == kFormNone || (constantOnly && !mt.constant[k]) || v.st->invDone[k])
                continue;
            if (mt.rows[k] != mt.columns[k]) velix::detail::eval_fault(v, kMsgNotSquare, k);
            if (velix::detail::sparse_inverse_of(v, k)) {
                if (cosinsp(view, v.st->sparseInv.matrix) == 0) {
                    mark_done(v, k);
                    continue;
                }
                // Once failed, the matrix takes the dense inverse for good.
                v.st->sparseInv.matrix = 0;
                xpmlog(kMsgProc, kMsgSparseInverseFailed, velix::detail::matrix_name(v, k).c_str());
            }
            int32_t order = mt.rows[k];
            if (mt.type[k] == kMatEqsBeta) order -= v.nExogenous;
            double* a = mt.type[k] == kMatDiagonal ? nullptr : velix::detail::stored_inverse(v, k);
            if (!invert_matrix(v, k, a, order)) return k;
            mark_done(v, k);
        }
    }
    return 0;
}

namespace velix::detail {

int32_t left_product(const EvalView& v, int32_t first, int32_t last, double* work) {
    int32_t rows, cols;
    cosunpa(&v, 0, first, &rows, &cols, work);
    for (int32_t k = first + 1; k <= last; ++k)
        cols = cosposm(&v, 0, k, rows, cols, work, v.st->rowBuf);
    return cols;
}

}  // namespace velix::detail

int32_t cosimpl(const EvalView* view) {
    return implied_moments(view, view->st->implied);
}

int32_t implied_moments(const EvalView* view, double* c) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    std::fill(c, c + v.pstar, 0.0);
    const int32_t ld = v.ld;
    for (int32_t t = 1; t <= v.nTerms; ++t) {
        if (!v.invertOnce)
            if (const int32_t k = cosimat(view, 0, t)) return k;
        const int32_t first = velix::detail::term_first(v, t),
                      p = velix::detail::term_central(v, t);
        if (first == p) {
            int32_t rows, cols;
            cosunpa(view, 0, p, &rows, &cols, st.work1);
            for (int32_t i = 0; i < v.n; ++i)
                for (int32_t j = 0; j <= i; ++j) c[pk_lower(i, j)] += st.work1[int64_t{i} * ld + j];
            continue;
        }
        const int32_t cols = velix::detail::left_product(v, first, p - 1, st.work1);
        for (int32_t i = 0; i < v.n; ++i)
            std::copy(st.work1 + int64_t{i} * ld, st.work1 + int64_t{i} * ld + cols,
                      st.work2 + int64_t{i} * ld);
        const int32_t bc = cosposm(view, 0, p, v.n, cols, st.work2, st.rowBuf);
        add_product(v, st.work2, st.work1, bc, c);
    }
    return 0;
}
