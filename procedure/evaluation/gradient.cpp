// Analytic gradient of the discrepancy (Browne, "Generalized least squares
// estimators in the analysis of covariance structures", S. Afr. Stat. J. 8,
// 1974, for the form tr(G dC)): for each matrix the walk visits, G V is
// formed once and each element's share is the inner product of a column of
// U with a column of G V, so the work grows with the elements times n, not
// with the moments.
#include "procedure/evaluation/gradient.h"

#include <algorithm>
#include <string>

#include "procedure/evaluation/term_walker.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"

namespace {

constexpr double kCountedPhase = 7.0;
constexpr int32_t kMsgNotInvertible = 40, kMsgInverseForms = 41;

class GradientVisitor final : public TermVisitor {
public:
    void visit(const EvalView& v, const WalkStep& s) override {
        EvaluationState& st = *v.st;
        const int32_t n = v.n, ld = v.ld;
        const double* g = st.dense;  // G, n x n
        // GV := G V (row length ld), unless V is the identity.
        const double* gv = g;
        int64_t gvLd = n;
        if (!s.vIdentity) {
            for (int32_t i = 0; i < n; ++i) {
                double* out = st.work3 + int64_t{i} * ld;
                std::fill(out, out + s.vCols, 0.0);
                const double* gi = g + int64_t{i} * n;
                for (int32_t m = 0; m < n; ++m) {
                    const double a = gi[m];
                    if (a == 0.0) continue;
                    const double* vm = s.V + int64_t{m} * ld;
                    for (int32_t c = 0; c < s.vCols; ++c) out[c] += a * vm[c];
                }
            }
            gv = st.work3;
            gvLd = ld;
        }
        for_each_share(v, s.matrix, s.scale, [&](int32_t param, double w, int32_t r, int32_t c) {
            double t;
            if (s.uIdentity) {
                t = gv[r * gvLd + c];
            } else {
                t = 0.0;
                for (int32_t i = 0; i < n; ++i) t += s.U[int64_t{i} * ld + r] * gv[i * gvLd + c];
            }
            st.gradient[param] += 2.0 * w * t;
        });
    }
};

}  // namespace

namespace velix::detail {

void report_inversion_failure(const EvalView& v, int32_t matrix) {
    const NameRecord& r = v.mt->name[matrix];
    std::string name(r.text, static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32)));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    xpmlog(kMsgProc, kMsgNotInvertible, name.c_str());
    xpmlog(kMsgProc, kMsgInverseForms);
}

}  // namespace velix::detail

int32_t eval_gradient(const EvalView* view) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    eval_dfdc(view);
    const int32_t n = v.n;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) st.dense[int64_t{i} * n + j] = st.dFdC[velix::pk(i, j)];
    std::fill(st.gradient, st.gradient + v.nParmFree, 0.0);
    GradientVisitor visitor;
    return walk_terms(view, &visitor);
}

int32_t cosgrad(NlpProblem* nlp) {
    const EvalView v = eval_view(nlp->owner);
    if (nlp->evalPhase < kCountedPhase) ++nlp->nGrad;
    if (!v.st->valid) return -1;
    if (const int32_t k = eval_gradient(&v)) {
        velix::detail::report_inversion_failure(v, k);
        return 1;
    }
    std::copy(v.st->gradient, v.st->gradient + v.nParmFree, nlp->gradient);
    return 0;
}
