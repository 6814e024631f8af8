// Sparse Jacobian of the implied moments: the term walk's rank-two shares
// u v' + v u' evaluated at the pattern's positions only, so that the work
// and memory follow the structural nonzeros (Duff, Erisman and Reid,
// "Direct Methods for Sparse Matrices", ch. 2, for the compressed rows and
// the merge of two sorted rows).
#include "procedure/evaluation/sparse_jacobian.h"

#include <algorithm>

#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/packed_index.h"

using velix::pk_lower;

namespace {

int32_t row_begin(const JacobianStorage& jac, int32_t k) {
    return k == 0 ? 0 : jac.rowEnd[k - 1];
}

class SparseVisitor final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override {
        JacobianStorage& jac = v.st->jac;
        const int32_t ld = v.ld;
        for_each_share(v, s.matrix, s.scale, [&](int32_t k, double w, int32_t r, int32_t c) {
            for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t) {
                const int64_t i = jac.nzRow[t], j = jac.nzCol[t];
                jac.nzValue[t] += w * (s.U[i * ld + r] * s.V[j * ld + c] +
                                       s.U[j * ld + r] * s.V[i * ld + c]);
            }
        });
    }
};

}  // namespace

int32_t cosjasp(const EvalView* view) {
    const EvalView& v = *view;
    JacobianStorage& jac = v.st->jac;
    std::fill(jac.nzValue, jac.nzValue + jac.nonzeros, 0.0);
    SparseVisitor visitor;
    if (const int32_t m = walk_terms(view, &visitor)) {
        velix::detail::report_inversion_failure(v, m);
        return 1;
    }
    if (v.st->diagFromData)
        for (int32_t t = 0; t < jac.nonzeros; ++t)
            if (jac.nzRow[t] == jac.nzCol[t]) jac.nzValue[t] = 0.0;
    return 0;
}

int32_t spgroups(const EvalView* view, int32_t k, double* kRows, double* wRows) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    const JacobianStorage& jac = st.jac;
    const double* K = st.kDense;
    const int32_t n = v.n, t0 = row_begin(jac, k), t1 = jac.rowEnd[k];
    // The nonzeros that share a variable i sum to e_i a' + a e_i', whose
    // weighted form is k_i w' + w k_i' with w = K a: one rank-two share
    // per such group instead of one per nonzero.  The variable in most of
    // the remaining nonzeros is taken first.
    int32_t* done = st.nzIndex;  // per nonzero of the row (at most p* <= n ld)
    int32_t* count = st.pivots;  // per variable (ld >= n)
    double* a = st.work3;        // n
    int32_t groups = 0;
    for (int32_t t = t0; t < t1; ++t) done[t - t0] = jac.nzValue[t] == 0.0;
    for (;; ++groups) {
        std::fill(count, count + n, 0);
        for (int32_t t = t0; t < t1; ++t) {
            if (done[t - t0]) continue;
            ++count[jac.nzRow[t]];
            if (jac.nzCol[t] != jac.nzRow[t]) ++count[jac.nzCol[t]];
        }
        const int32_t i = static_cast<int32_t>(std::max_element(count, count + n) - count);
        if (count[i] == 0) break;
        std::fill(a, a + n, 0.0);
        for (int32_t t = t0; t < t1; ++t) {
            const int32_t r = jac.nzRow[t], c = jac.nzCol[t];
            if (done[t - t0] || (r != i && c != i)) continue;
            // A diagonal moment stands once: half of the symmetric share.
            a[r == i ? c : r] += r == c ? 0.5 * jac.nzValue[t] : jac.nzValue[t];
            done[t - t0] = 1;
        }
        double* w = wRows + int64_t{groups} * n;
        std::fill(w, w + n, 0.0);
        for (int32_t m = 0; m < n; ++m)
            if (a[m] != 0.0)
                for (int32_t b = 0; b < n; ++b) w[b] += a[m] * K[int64_t{m} * n + b];
        std::copy(K + int64_t{i} * n, K + int64_t{i + 1} * n, kRows + int64_t{groups} * n);
    }
    return groups;
}

int32_t spkron(const EvalView* view, int32_t k, double* out) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    std::fill(out, out + v.pstar, 0.0);
    const int32_t groups = spgroups(view, k, st.work1, st.work2);
    velix::detail::add_rank_two_sum(v.n, groups, st.work1, st.work2, out);
    return st.jac.rowEnd[k];
}

void spinn_shares(const EvalView* view, int32_t k, const SharePanel& panel, double* sums) {
    const JacobianStorage& jac = view->st->jac;
    const int64_t stride = panel.stride;
    const int32_t t0 = row_begin(jac, k), t1 = jac.rowEnd[k];
    // Eight shares at a time, their sums held in registers over the row.
    for (int32_t g0 = 0; g0 < panel.used; g0 += kShareChunk) {
        double acc[kShareChunk] = {};
        for (int32_t t = t0; t < t1; ++t) {
            const int64_t r = jac.nzRow[t] * stride + g0, c = jac.nzCol[t] * stride + g0;
            const double* __restrict kr = panel.k + r;
            const double* __restrict kc = panel.k + c;
            const double* __restrict wr = panel.w + r;
            const double* __restrict wc = panel.w + c;
            const double x = jac.nzRow[t] != jac.nzCol[t] ? 2.0 * jac.nzValue[t] : jac.nzValue[t];
            for (int32_t g = 0; g < kShareChunk; ++g) acc[g] += x * (kr[g] * wc[g] + wr[g] * kc[g]);
        }
        std::copy(acc, acc + kShareChunk, sums + g0);
    }
}

double spinn1(const EvalView* view, int32_t twice, int32_t k, const double* vec) {
    const JacobianStorage& jac = view->st->jac;
    double s = 0.0;
    for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t) {
        const double x = jac.nzValue[t] * vec[pk_lower(jac.nzRow[t], jac.nzCol[t])];
        s += twice && jac.nzRow[t] != jac.nzCol[t] ? 2.0 * x : x;
    }
    return s;
}

double spinn2(const EvalView* view, int32_t twice, int32_t i, int32_t j) {
    const JacobianStorage& jac = view->st->jac;
    int32_t a = row_begin(jac, i), b = row_begin(jac, j);
    double s = 0.0;
    while (a < jac.rowEnd[i] && b < jac.rowEnd[j]) {
        const int64_t pa = pk_lower(jac.nzRow[a], jac.nzCol[a]);
        const int64_t pb = pk_lower(jac.nzRow[b], jac.nzCol[b]);
        if (pa < pb) {
            ++a;
        } else if (pb < pa) {
            ++b;
        } else {
            const double x = jac.nzValue[a] * jac.nzValue[b];
            s += twice && jac.nzRow[a] != jac.nzCol[a] ? 2.0 * x : x;
            ++a;
            ++b;
        }
    }
    return s;
}

void spfill(const EvalView* view, int32_t k, double* out) {
    const JacobianStorage& jac = view->st->jac;
    std::fill(out, out + view->pstar, 0.0);
    for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t)
        out[pk_lower(jac.nzRow[t], jac.nzCol[t])] = jac.nzValue[t];
}

void spvmul(const EvalView* view, int32_t k, const double* w) {
    JacobianStorage& jac = view->st->jac;
    for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t)
        jac.nzValue[t] *= w[pk_lower(jac.nzRow[t], jac.nzCol[t])];
}
