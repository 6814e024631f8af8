// Analytic Jacobian of the implied moments by the term walk: element (r, c)
// of a visited matrix adds scale (u v' + v u') to the row of its
// parameter, lower triangle only, skipping the rows where u and v both
// vanish (model matrices are sparse).
#include "procedure/evaluation/jacobian.h"

#include <algorithm>

#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/packed_index.h"

namespace {

class JacobianVisitor final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override {
        const int32_t ld = v.ld;
        for_each_share(v, s.matrix, s.scale, [&](int32_t param, double w, int32_t r, int32_t c) {
            double* row = v.st->jacobian + int64_t{param} * v.pstar;
            for (int32_t i = 0; i < v.n; ++i) {
                const double ui = s.U[int64_t{i} * ld + r], vi = s.V[int64_t{i} * ld + c];
                if (ui == 0.0 && vi == 0.0) continue;
                double* out = row + velix::pk_lower(i, 0);
                for (int32_t j = 0; j <= i; ++j)
                    out[j] += w * (ui * s.V[int64_t{j} * ld + c] + s.U[int64_t{j} * ld + r] * vi);
            }
        });
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
    if (const int32_t k = jacobian_walk(view)) {
        velix::detail::report_inversion_failure(*view, k);
        return 1;
    }
    return 0;
}
