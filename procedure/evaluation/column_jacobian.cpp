// Column-wise Jacobian of the implied moments: the term walk restricted to
// the matrices that hold one parameter (directly or through a dependent
// parameter that moves with it), so that a column costs the products of
// those matrices only.  Mode 4 trades time for memory: H(k, l) is formed
// from column k weighted once and column l formed again, q(q+1)/2 columns
// in all (the Gauss-Newton cross product without a stored Jacobian).
//
//   mode 3: for each k: J_k; write; WLS, DWLS: weigh, write
//   mode 4: for each k: J_k (weighed), g_k, W J_k; for l >= k: J_l, H(k, l)
#include "procedure/evaluation/column_jacobian.h"

#include <algorithm>

#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/term_walker.h"

namespace {

// The shares of parameter k alone; matrices without one are not visited.
class ColumnVisitor final : public TermVisitor {
   public:
    explicit ColumnVisitor(int32_t k) : k_(k) {}
    bool wants(const EvalView& v, int32_t m) override {
        const int32_t e0 = v.mt->firstElement[m], e1 = e0 + v.mt->elementCount[m];
        for (int32_t e = e0; e < e1; ++e) {
            const int32_t p = v.el->parameter[e];
            if (p == k_ + 1) return true;
            if (p < 0 && velix::detail::dependent_derivatives(v, p)[k_] != 0.0) return true;
        }
        return false;
    }
    void visit(const EvalView& v, const WalkStep& s) override { jadvdx34(v, s, k_); }

   private:
    // The shares of parameter k in the visited matrix, into column k.
    static void jadvdx34(const EvalView& v, const WalkStep& s, int32_t k) {
        for_each_share(v, s.matrix, s.scale, [&](int32_t param, double w, int32_t r, int32_t c) {
            if (param == k) velix::detail::add_share(v, s, w, r, c, v.st->jac.column);
        });
    }
    int32_t k_;
};

// Column k, weighted for WLS and DWLS; returns 0, or 1 after the messages.
int32_t weighted_column(const EvalView& v, int32_t k) {
    if (const int32_t m = jac34(&v, k)) {
        velix::detail::report_inversion_failure(v, m);
        return 1;
    }
    if (velix::detail::weighted_method(v)) return velix::detail::weigh_column(v, v.st->jac.column);
    return 0;
}

}  // namespace

int32_t jac34(const EvalView* view, int32_t k) {
    const EvalView& v = *view;
    std::fill(v.st->jac.column, v.st->jac.column + v.pstar, 0.0);
    ColumnVisitor visitor(k);
    if (const int32_t m = walk_terms(view, &visitor)) return m;
    velix::detail::zero_diagonal_moments(v, v.st->jac.column);
    return 0;
}

int32_t cosjac3(const EvalView* view) {
    const EvalView& v = *view;
    const int32_t p = v.pstar;
    double* column = v.st->jac.column;
    for (int32_t k = 0; k < v.nParmFree; ++k) {
        if (const int32_t m = jac34(view, k)) {
            velix::detail::report_inversion_failure(v, m);
            return 1;
        }
        velix::detail::file_put(v.columnFile, 8 * int64_t{p} * k, column, p);
        if (!velix::detail::weighted_method(v)) continue;
        if (velix::detail::weigh_column(v, column) != 0) return 1;
        velix::detail::file_put(v.weightedFile, 8 * int64_t{p} * k, column, p);
    }
    return 0;
}

int32_t cosjac4(const EvalView* view) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    JacobianStorage& jac = st.jac;
    const int32_t p = v.pstar, q = v.nParmFree;
    const bool kron = v.method != kMethodUls && !velix::detail::weighted_method(v);
    if (kron) velix::detail::fill_weight_dense(v);
    int64_t position = 0;
    for (int32_t k = 0; k < q; ++k) {
        if (weighted_column(v, k) != 0) return 1;
        std::copy(jac.column, jac.column + p, jac.weighted);  // J_k
        st.gradient[k] = velix::detail::column_gradient(v, jac.weighted);
        const double* wk = jac.weighted;
        if (kron) {
            velix::detail::kron_weight(v, jac.weighted, jac.other);
            wk = jac.other;
        }
        for (int32_t l = k; l < q; ++l) {
            const double* jl = jac.weighted;
            if (l > k) {
                if (weighted_column(v, l) != 0) return 1;
                jl = jac.column;
            }
            const double h = velix::detail::column_product(v, jl, wk);
            velix::detail::file_put(v.columnFile, position, &h, 1);
            position += 8;
        }
    }
    return 0;
}
