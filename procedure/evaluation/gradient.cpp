// Analytic gradient of the discrepancy (Browne, "Generalized least squares
// estimators in the analysis of covariance structures", S. Afr. Stat. J. 8,
// 1974, for the form tr(G dC)): for each matrix the walk visits, G V is
// formed once and each element's share is the inner product of a column of
// U with a column of G V, so the work grows with the elements times n, not
// with the moments.
#include "procedure/evaluation/gradient.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "host/interrupt.h"
#include "optimizer/optimizer.h"
#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"

namespace {

constexpr double kCountedPhase = 7.0;
constexpr int32_t kMsgNotInvertible = 40, kMsgInverseForms = 41;

// Nonzeros of the first cols columns of an n-row work matrix.
// Two columns at a time: a vector compare gives -1 for a nonzero (NaN
// included, as != does) where a scalar compare needs a branch or three
// instructions for the unordered case.
int64_t nonzeros(const EvalView& v, const double* x, int32_t cols) {
    typedef double Pair __attribute__((vector_size(16)));
    typedef int64_t Mask __attribute__((vector_size(16)));
    const Pair zero = {};
    Mask minus = {};
    int64_t count = 0;
    for (int32_t i = 0; i < v.n; ++i) {
        const double* xi = x + int64_t{i} * v.ld;
        int32_t c = 0;
        for (Pair pair; c + 2 <= cols; c += 2) {
            std::memcpy(&pair, xi + c, sizeof pair);
            minus += pair != zero;
        }
        if (c < cols) count += xi[c] != 0.0;
    }
    return count - minus[0] - minus[1];
}

// PT := (G X)' for the dense symmetric G (n x n) and the work matrix X
// (n x cols): column c of G X is the sum of the rows m of G times X(m, c),
// so the work is n times the nonzeros of X.  PT has row length n.
void weigh_columns(const EvalView& v, const double* g, const double* x, int32_t cols, double* pt) {
    const int32_t n = v.n;
    std::fill(pt, pt + int64_t{cols} * n, 0.0);
    for (int32_t m = 0; m < n; ++m) {
        const double* xm = x + int64_t{m} * v.ld;
        const double* gm = g + int64_t{m} * n;
        for (int32_t c = 0; c < cols; ++c) {
            const double a = xm[c];
            if (a == 0.0) continue;
            double* out = pt + int64_t{c} * n;
            for (int32_t i = 0; i < n; ++i) out[i] += a * gm[i];
        }
    }
}

class GradientVisitor final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override {
        if (v.method == kMethodWls || v.method == kMethodDwls)
            gtdvdx2(v, s);
        else
            gtdvdx1(v, s);
    }

   private:
    // The shares of the elements of the visited matrix in the gradient, for
    // ULS, GLS and ML, whose dF/dC is the symmetric G: each share adds
    // 2 w u'G v.  G is applied to the sparser of U and V once per visit, and
    // each share takes one inner product of length n.
    static void gtdvdx1(const EvalView& v, const WalkStep& s) {
        EvaluationState& st = *v.st;
        const int32_t n = v.n, ld = v.ld;
        const bool weighU = nonzeros(v, s.U, s.uCols) <= nonzeros(v, s.V, s.vCols);
        weigh_columns(v, st.dense, weighU ? s.U : s.V, weighU ? s.uCols : s.vCols, st.work3);
        for_each_share(v, s.matrix, s.scale, [&](int32_t param, double w, int32_t r, int32_t c) {
            const double* pt = st.work3 + int64_t{weighU ? r : c} * n;
            const double* other = weighU ? s.V + c : s.U + r;
            double t = 0.0;
            for (int32_t i = 0; i < n; ++i) t += pt[i] * other[int64_t{i} * ld];
            st.gradient[param] += 2.0 * w * t;
        });
    }
    // The same for WLS and DWLS, whose dF/dC is a vector d over the p*
    // moments.  eval_dfdc leaves d with its diagonal doubled, so that d laid
    // out as the symmetric G gives u'G v = the sum over the moments (a, b),
    // b <= a, of d(ab) (u_a v_b + u_b v_a): the shares are gtdvdx1's.
    static void gtdvdx2(const EvalView& v, const WalkStep& s) { gtdvdx1(v, s); }
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
    stop_if_interrupted();  // a safe point, as each evaluation of the function is
    // FD= asks for the optimizer's finite differences instead.
    const int32_t digit = nlp->opt.derivDigits % 10;
    if (digit == 1) return znlpfig(nlp);
    if (digit != 0) return znlpfg2(nlp);
    const EvalView v = eval_view(proc_context(nlp));
    if (nlp->run.evalPhase < kCountedPhase) ++nlp->run.nGrad;
    if (!v.st->valid) return -1;
    if (cosfdcj(nlp) != 0) return -1;
    if (const int32_t k = eval_gradient(&v)) {
        velix::detail::report_inversion_failure(v, k);
        return 1;
    }
    std::copy(v.st->gradient, v.st->gradient + v.nParmFree, nlp->work.gradient);
    return 0;
}
