// The term walk of the derivative routines: the chain rule through the
// products of the COSAN form (McDonald 1978; Magnus and Neudecker, "Matrix
// Differential Calculus", ch. 8 for d M^-1 = -M^-1 dM M^-1), with the right
// product V extended from the central matrix outwards, so that a term of k
// matrices costs O(k) products for V, and the left product U rebuilt from
// the first matrix for each matrix visited.
//
//   for each term: inverses; U := F_first ... F_last-1, V := U
//     central P (unless constant): with a form V := V P*, U := V; visit P
//     V := V P* unless done
//     for m = last-1 down to first (unless constant):
//       V := V F_j*' for j down to m+1 (to m when F_m has a form)
//       U := F_first ... F_m-1 (... F_m* with a form); visit F_m
#include "procedure/evaluation/term_walker.h"

#include <algorithm>

#include "numerics/packed.h"
#include "numerics/row_products.h"
#include "procedure/evaluation/cosan_kernels.h"
#include "procedure/evaluation/implied_moments.h"
#include "procedure/evaluation/row_pointers.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace {

double derivative_scale(const EvalView& v, int32_t k, bool central) {
    const int16_t type = v.mt->type[k], form = v.mt->form[k];
    double s = central ? 0.5 : 1.0;
    // EQSBETA holds (I - B)^-1 whatever its form.
    if (form == kFormInverse && type != kMatEqsBeta) s = -s;
    if (form == kFormNone && type == kMatBeta) s = -s;
    return s;
}

void copy_rows(const EvalView& v, const double* from, int32_t cols, double* to) {
    for (int32_t i = 0; i < v.n; ++i)
        std::copy(from + int64_t{i} * v.ld, from + int64_t{i} * v.ld + cols,
                  to + int64_t{i} * v.ld);
}

void identity(const EvalView& v, double* to) {
    int32_t rows, cols;
    cosunpa(&v, 0, 0, &rows, &cols, to);
}

// A term of its central matrix alone: U = V = P* (or the identity).
void walk_single(const EvalView& v, int32_t p, TermVisitor* visitor) {
    EvaluationState& st = *v.st;
    WalkStep s;
    s.matrix = p;
    s.scale = derivative_scale(v, p, true);
    if (v.mt->form[p] != kFormNone) {
        int32_t rows;
        cosunpa(&v, 0, p, &rows, &s.uCols, st.work1);
    } else {
        identity(v, st.work1);
        s.uCols = v.n;
        s.uIdentity = s.vIdentity = true;
    }
    copy_rows(v, st.work1, s.uCols, st.work2);
    s.vCols = s.uCols;
    s.U = st.work1;
    s.V = st.work2;
    visitor->visit(v, s);
}

void walk_product(const EvalView& v, int32_t first, int32_t p, TermVisitor* visitor) {
    EvaluationState& st = *v.st;
    const ModelMatrixTable& mt = *v.mt;
    WalkStep s;
    s.U = st.work1;
    s.V = st.work2;
    s.uCols = velix::detail::left_product(v, first, p - 1, st.work1);
    copy_rows(v, st.work1, s.uCols, st.work2);
    s.vCols = s.uCols;
    bool vHoldsP = false;
    if (!mt.constant[p] && visitor->wants(v, p)) {
        if (mt.form[p] != kFormNone) {
            s.vCols = cosposm(&v, 0, p, v.n, s.vCols, st.work2, st.rowBuf);
            copy_rows(v, st.work2, s.vCols, st.work1);
            s.uCols = s.vCols;
            vHoldsP = true;
        }
        s.matrix = p;
        s.scale = derivative_scale(v, p, true);
        visitor->visit(v, s);
    }
    if (!vHoldsP) s.vCols = cosposm(&v, 0, p, v.n, s.vCols, st.work2, st.rowBuf);
    int32_t next = p - 1;  // the next factor to apply transposed to V
    for (int32_t m = p - 1; m >= first; --m) {
        if (mt.constant[m]) continue;
        if (!visitor->wants(v, m)) continue;
        const bool withForm = mt.form[m] != kFormNone;
        for (; next >= (withForm ? m : m + 1); --next)
            s.vCols = cosposm(&v, 1, next, v.n, s.vCols, st.work2, st.rowBuf);
        const int32_t last = withForm ? m : m - 1;
        s.uIdentity = last < first;
        if (s.uIdentity) {
            identity(v, st.work1);
            s.uCols = v.n;
        } else {
            s.uCols = velix::detail::left_product(v, first, last, st.work1);
        }
        s.matrix = m;
        s.scale = derivative_scale(v, m, false);
        visitor->visit(v, s);
        s.uIdentity = false;
    }
}

}  // namespace

int32_t TermVisitor::prepare(const EvalView& v, int32_t t) {
    return v.invertOnce ? 0 : cosimat(&v, 0, t);
}

int32_t walk_terms(const EvalView* view, TermVisitor* visitor) {
    const EvalView& v = *view;
    for (int32_t t = 1; t <= v.nTerms; ++t) {
        if (const int32_t k = visitor->prepare(v, t)) return k;
        const int32_t first = velix::detail::term_first(v, t),
                      p = velix::detail::term_central(v, t);
        if (first == p) {
            if (!v.mt->constant[p] && visitor->wants(v, p)) walk_single(v, p, visitor);
        } else {
            walk_product(v, first, p, visitor);
        }
    }
    return 0;
}

namespace {

// G := X - M Y (lower triangle, packed), M the objective's dense product,
// Y packed symmetric (expanded into the scratch so that G(i, j) is the
// product of row i of M with row j of Y, the blocked row product); with X
// null G := M Y.
//   GLS: W (C - S) W = M W;   ML: C^-1 (C - S) C^-1 = C^-1 - M C^-1
void product_form(const EvalView& v, const double* x, const double* y) {
    EvaluationState& st = *v.st;
    const int32_t n = v.n;
    double* yd = st.kDense;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            yd[int64_t{i} * n + j] = yd[int64_t{j} * n + i] = y[velix::pk_lower(i, j)];
    if (x)
        std::copy(x, x + v.pstar, st.dFdC);
    else
        std::fill(st.dFdC, st.dFdC + v.pstar, 0.0);
    const velix::detail::RowPointers rows = velix::detail::row_pointers(n);
    velix::detail::dense_rows<const double>(st.product, n, n, rows.a);
    velix::detail::dense_rows<const double>(yd, n, n, rows.b);
    for (int32_t i = 0; i < n; ++i) rows.c[i] = st.dFdC + velix::pk_lower(i, 0);
    velix::detail::rows_product(n, n, n, rows.a, rows.b, x ? -1.0 : 1.0, rows.c, true);
}

void plain_dfdc(const EvalView& v) {
    EvaluationState& st = *v.st;
    const int32_t pstar = v.pstar;
    if (v.method == kMethodMl) return product_form(v, st.impliedInv, st.impliedInv);
    if (v.method == kMethodGls) return product_form(v, nullptr, v.weights);
    std::copy(st.residual, st.residual + pstar, st.dFdC);
    if (v.method != kMethodWls && v.method != kMethodDwls) return;
    // d = 2 W r (W = (L L')^-1, or w^2 for DWLS) as a plain gradient over
    // the p* moments; an off-diagonal moment stands for two positions of
    // C, so G takes half of it.
    if (v.method == kMethodWls) {
        if (cosbsub(pstar, 1, velix::detail::kCheckedFactorBound, v.weights, st.dFdC) != 0)
            velix::detail::wls_factor_fault();
    } else {
        for (int32_t k = 0; k < pstar; ++k) st.dFdC[k] *= v.weights[k];
    }
    for (int32_t i = 0; i < v.n; ++i)
        for (int32_t j = 0; j <= i; ++j) st.dFdC[velix::pk_lower(i, j)] *= i == j ? 2.0 : 1.0;
}

}  // namespace

void eval_dfdc(const EvalView* view) {
    plain_dfdc(*view);
    // With the diagonal of C taken from S, F does not depend on it.
    if (view->st->diagFromData)
        for (int32_t i = 0; i < view->n; ++i) view->st->dFdC[velix::pk_lower(i, i)] = 0.0;
}
