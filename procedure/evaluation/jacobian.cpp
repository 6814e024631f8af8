// Analytic Jacobian of the implied moments by the term walk: element (r, c)
// of a visited matrix adds scale (u v' + v u') to the row of its
// parameter, lower triangle only, skipping the rows where u and v both
// vanish (model matrices are sparse).  The term-wise form writes, for each
// matrix visited, one record per parameter holding all of the matrix's
// elements of that parameter, so that memory holds one record at a time.
#include "procedure/evaluation/jacobian.h"

#include <algorithm>

#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/term_walker.h"
#include "host/internal_error.h"
#include "numerics/packed.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace velix::detail {

void add_share(const EvalView& v, const WalkStep& s, double w, int32_t r, int32_t c, double* y) {
    const int32_t ld = v.ld;
    for (int32_t i = 0; i < v.n; ++i) {
        const double ui = s.U[int64_t{i} * ld + r], vi = s.V[int64_t{i} * ld + c];
        if (ui == 0.0 && vi == 0.0) continue;
        double* out = y + velix::pk_lower(i, 0);
        for (int32_t j = 0; j <= i; ++j)
            out[j] += w * (ui * s.V[int64_t{j} * ld + c] + s.U[int64_t{j} * ld + r] * vi);
    }
}

void zero_diagonal_moments(const EvalView& v, double* column) {
    if (v.st->diagFromData)
        for (int32_t i = 0; i < v.n; ++i) column[velix::pk_lower(i, i)] = 0.0;
}

int32_t weigh_column(const EvalView& v, double* column) {
    if (v.method == kMethodWls) return cosfsub(v.pstar, 1, kCheckedFactorBound, v.weights, column) != 0;
    for (int32_t m = 0; m < v.pstar; ++m) column[m] *= v.weights[m];
    return 0;
}

int32_t records_to_columns(const EvalView& v) {
    JacobianStorage& jac = v.st->jac;
    const int32_t p = v.pstar;
    const bool weighted = v.method == kMethodWls || v.method == kMethodDwls;
    for (int32_t k = 0; k < v.nParmFree; ++k) {
        std::fill(jac.column, jac.column + p, 0.0);
        for (int32_t r = 0; r < jac.recordCount; ++r) {
            if (jac.recordTags[r] != k) continue;
            file_get(v.termFile, 8 * int64_t{p} * r, jac.other, p);
            for (int32_t m = 0; m < p; ++m) jac.column[m] += jac.other[m];
        }
        file_put(v.columnFile, 8 * int64_t{p} * k, jac.column, p);
        if (!weighted) continue;
        if (weigh_column(v, jac.column) != 0) return 1;
        file_put(v.weightedFile, 8 * int64_t{p} * k, jac.column, p);
    }
    return 0;
}

}  // namespace velix::detail

namespace {

class JacobianVisitor final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override { jadvdx1(v, s); }

   private:
    // The shares of the elements of the visited matrix in the rows of the
    // Jacobian in memory (mode 1).
    static void jadvdx1(const EvalView& v, const WalkStep& s) {
        for_each_share(v, s.matrix, s.scale, [&](int32_t param, double w, int32_t r, int32_t c) {
            velix::detail::add_share(v, s, w, r, c, v.st->jacobian + int64_t{param} * v.pstar);
        });
    }
};

class TermRecords final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override { jadvdx2(v, s); }

   private:
    // The term-wise records of the visited matrix (mode 2): one per
    // parameter, holding every element of that parameter in the matrix; a
    // dependent parameter gives one record per independent parameter it
    // moves with (their derivatives summed).
    static void jadvdx2(const EvalView& v, const WalkStep& s) {
        const ModelMatrixTable& mt = *v.mt;
        const int32_t e0 = mt.firstElement[s.matrix], e1 = e0 + mt.elementCount[s.matrix];
        for (int32_t e = e0; e < e1; ++e) {
            const int32_t p = v.el->parameter[e];
            if (p == 0 || p > v.nParmFree || first_of(v, e0, e) != e) continue;
            if (p > 0) {
                record(v, s, e, p - 1, s.scale);
                continue;
            }
            const double* g = velix::detail::dependent_derivatives(v, p);
            for (int32_t k = 0; k < v.nParmFree; ++k)
                if (g[k] != 0.0) record(v, s, e, k, s.scale * g[k]);
        }
    }
    static int32_t first_of(const EvalView& v, int32_t e0, int32_t e) {
        for (int32_t f = e0; f < e; ++f)
            if (v.el->parameter[f] == v.el->parameter[e]) return f;
        return e;
    }
    static void record(const EvalView& v, const WalkStep& s, int32_t e, int32_t tag, double w) {
        JacobianStorage& jac = v.st->jac;
        const ModelMatrixTable& mt = *v.mt;
        const bool symmetric =
            mt.type[s.matrix] == kMatPosDefinit || mt.type[s.matrix] == kMatSymmetric;
        const int32_t e1 = mt.firstElement[s.matrix] + mt.elementCount[s.matrix];
        // The capacity was counted from the element pattern; a record
        // beyond it is our fault, caught before it is written.
        if (jac.recordCount >= jac.recordMax)
            internal_error("more term-wise Jacobian records than counted");
        std::fill(jac.column, jac.column + v.pstar, 0.0);
        for (int32_t f = e; f < e1; ++f) {
            if (v.el->parameter[f] != v.el->parameter[e]) continue;
            const int32_t r = v.el->row[f], c = v.el->column[f];
            velix::detail::add_share(v, s, w, r, c, jac.column);
            if (symmetric && r != c) velix::detail::add_share(v, s, w, c, r, jac.column);
        }
        velix::detail::zero_diagonal_moments(v, jac.column);
        velix::detail::file_put(v.termFile, 8 * int64_t{v.pstar} * jac.recordCount, jac.column,
                                v.pstar);
        jac.recordTags[jac.recordCount++] = tag;
    }
};

}  // namespace

int32_t jacobian_walk(const EvalView* view) {
    const EvalView& v = *view;
    double* jacobian = velix::detail::jacobian_store(v);
    std::fill(jacobian, jacobian + int64_t{v.nParmFree} * v.pstar, 0.0);
    JacobianVisitor visitor;
    if (const int32_t k = walk_terms(view, &visitor)) return k;
    // With the diagonal of C taken from S the diagonal moments do not move.
    if (v.st->diagFromData)
        for (int32_t k = 0; k < v.nParmFree; ++k)
            for (int32_t i = 0; i < v.n; ++i)
                v.st->jacobian[int64_t{k} * v.pstar + velix::pk_lower(i, i)] = 0.0;
    return 0;
}

int32_t cosjac1(const EvalView* view) {
    if (cosfdcj(view->nlp) != 0) return -1;
    if (*view->jacobianMode == 2) {
        view->st->jac.recordCount = 0;
        TermRecords records;
        if (const int32_t k = walk_terms(view, &records)) {
            velix::detail::report_inversion_failure(*view, k);
            return 1;
        }
        return 0;
    }
    if (const int32_t k = jacobian_walk(view)) {
        velix::detail::report_inversion_failure(*view, k);
        return 1;
    }
    return 0;
}
