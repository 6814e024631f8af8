// The variances of the residuals' two parts (see residual_variance.h).
//
//   sample_variance_terms: GLS  s_ii s_jj + s_ij^2 of W^-1 (its covariances
//                               and means with means)
//                          WLS  diag(L L') of the weight's factor, with
//                               means A L L' A' (A the map of the moments
//                               about zero to covariances and means)
//   count_sample_block:    the block's elements fixed at the sample's
//                          moments; their derivatives by the term walk;
//                          V bordered by each (sinvex), its information
//                          with the free parameters and the earlier
//                          elements in the method's metric (not GLS)
//   sample_block_variances: GLS  the block's columns K (with means by its
//                          covariances and means), K - J V J'W K, and the
//                          terms of M var(s) M' that they add
#include "procedure/results/residual_variance.h"

#include <algorithm>
#include <cmath>

#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/term_walker.h"
#include "procedure/results/lagrange.h"
#include "procedure/results/mean_structure.h"
#include "procedure/results/residual_store.h"
#include "velix/codes.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::detail {

namespace {

// A fixed exogenous moment that equals the sample's to the precision of
// the data is the sample's (as the start values set it).
constexpr double kSameAsSample = velix::kSqrtMachEpsWritten;
// Matrices of the exogenous covariances: _PHI_ of LINEQS, _P_ of RAM.
constexpr int32_t kPhiMatrix = 4;
constexpr int32_t kRamP = 3;

// The WLS terms: row norms of L, or of A L with means (the constant's own
// moment, which does not vary, left out).
void wls_terms(const ResultsView& rv, const double* factor, int32_t n, int32_t k, std::vector<double>* terms) {
    const int32_t p = rv.sizes->nMoments;
    std::vector<double> cols(static_cast<size_t>(p) * static_cast<size_t>(p), 0.0);
    for (int32_t a = 0; a < p; ++a)
        for (int32_t j = 0; j <= a; ++j) cols[static_cast<size_t>(j) * p + a] = factor[pk_lower(a, j)];
    if (k >= 0) {
        const int64_t kk = pk(k, k);
        for (int32_t j = 0; j < p; ++j) cols[static_cast<size_t>(j) * p + kk] = 0.0;
        std::vector<double> centred(cols.size());
        center_jacobian(rv.arrays->momentMatrix, n, k, cols.data(), p, centred.data());
        cols.swap(centred);
        // The weight is the covariance of the products of (x, 1), whose
        // means are the moments with the constant as they stand; the
        // analysed moments divide the sums by the divisor, so that their
        // constant's moment c is N / (N - 1) under VARDEF=DF and the map
        // divides the means by it.  Taken back, the mean's variance is its
        // own fourth-order moment, as the covariances' are theirs.
        const double c = rv.arrays->momentMatrix[kk];
        for (int32_t j = 0; j < p; ++j)
            for (int32_t i = 0; i < n; ++i)
                if (i != k) cols[static_cast<size_t>(j) * p + pk(i, k)] *= c;
    }
    terms->assign(static_cast<size_t>(p), 0.0);
    for (int32_t j = 0; j < p; ++j)
        for (int32_t a = 0; a < p; ++a) {
            const double x = cols[static_cast<size_t>(j) * p + a];
            (*terms)[static_cast<size_t>(a)] += x * x;
        }
}

// The elements of the exogenous block that hold the sample's moments:
// fixed, at the moment of S, the constant's own moment left out; with the
// moment (packed index) each holds.
struct SampleBlock {
    std::vector<int32_t> elements, moments, first, second;
};
SampleBlock sample_block(const ResultsView& rv, int32_t k) {
    SampleBlock out;
    const ModelReaderState& rd = *rv.readers;
    if (!rd.equationModel || rd.varPosition == nullptr) return out;
    const int32_t mat = rd.ramModel ? kRamP : kPhiMatrix;
    if (mat > rv.sizes->nMatrices) return out;
    const int32_t e = rd.nEndo, first = rv.model->firstElement[mat], count = rv.model->elementCount[mat];
    std::vector<int32_t> exo;
    for (int32_t i = 0; i < rv.sizes->nManifest; ++i)
        if (rd.varPosition[i] >= e) exo.push_back(i);
    for (size_t a = 0; a < exo.size(); ++a)
        for (size_t b = 0; b <= a; ++b) {
            const int32_t i = exo[a], j = exo[b];
            if (i == k && j == k) continue;
            const int32_t r = rd.ramModel ? i : rd.varPosition[i] - e, c = rd.ramModel ? j : rd.varPosition[j] - e;
            const double s = rv.arrays->momentMatrix[pk(i, j)];
            for (int32_t el = first; el < first + count; ++el) {
                const int32_t er = rv.elements->row[el], ec = rv.elements->column[el];
                if (!((er == r && ec == c) || (er == c && ec == r))) continue;
                const double v = rv.elements->value[el];
                if (rv.elements->parameter[el] == 0 && !host_is_missing(v) &&
                    std::fabs(v - s) <= kSameAsSample * std::max({1.0, std::fabs(v), std::fabs(s)})) {
                    out.elements.push_back(el);
                    out.moments.push_back(static_cast<int32_t>(pk(i, j)));
                    out.first.push_back(i);
                    out.second.push_back(j);
                }
                break;
            }
        }
    return out;
}

// The derivatives of the moments with respect to the block's elements,
// column by column (p* each), from the walk of their matrix.
class BlockColumns final : public TermVisitor {
   public:
    BlockColumns(const LmSetup* s, const std::vector<int32_t>* block, int32_t matrix)
        : s_(s), block_(block), matrix_(matrix), columns(block->size() * static_cast<size_t>(s->pstar), 0.0) {}
    bool wants(const EvalView&, int32_t k) override { return k == matrix_; }
    void visit(const EvalView& v, const WalkStep& step) override {
        const ModelMatrixTable& mt = *v.mt;
        const bool sym = mt.type[step.matrix] == kMatPosDefinit || mt.type[step.matrix] == kMatSymmetric;
        std::vector<double> dC;
        for (size_t a = 0; a < block_->size(); ++a) {
            const int32_t el = (*block_)[a], r = v.el->row[el], c = v.el->column[el];
            const RankTwo parts[2] = {{step.U, step.V, v.ld, r, c, step.scale}, {step.U, step.V, v.ld, c, r, step.scale}};
            lm_element_dc(*s_, parts, sym && r != c ? 2 : 1, &dC);
            zero_diagonal_moments(v, dC.data());
            double* out = columns.data() + a * static_cast<size_t>(s_->pstar);
            for (int32_t m = 0; m < s_->pstar; ++m) out[m] += dC[static_cast<size_t>(m)];
        }
    }

   private:
    const LmSetup* s_;
    const std::vector<int32_t>* block_;
    int32_t matrix_;

   public:
    std::vector<double> columns;
};

// A column in the two forms the method's information takes: left (the
// weighted column for WLS and DWLS, else the column) and right (weighted,
// or K x K).
struct Weighted {
    std::vector<double> left, right;
};
Weighted weigh(const EvalView& v, const double* x) {
    Weighted w{std::vector<double>(x, x + v.pstar), std::vector<double>(static_cast<size_t>(v.pstar))};
    if (weighted_method(v)) {
        (void)weigh_column(v, w.left.data());
        w.right = w.left;
    } else {
        kron_weight(v, x, w.right.data());
    }
    return w;
}

// The moments whose inverse weighs GLS (S, or the INWGT= matrix; packed).
bool gls_moments(const ResultsView& rv, const EvalView& view, std::vector<double>* m) {
    m->assign(view.weights, view.weights + rv.sizes->nMoments);
    double det[2];
    return coschin(rv.sizes->nManifest, 0.0, det, m->data()) == 0;
}

// The derivatives of the moments about zero with respect to the block's
// elements (p* each, element by element).
bool block_columns(const ResultsView& rv, const EvalView& view, const std::vector<int32_t>& elements,
                   std::vector<double>* columns) {
    LmSetup s;
    s.n = view.n;
    s.pstar = rv.sizes->nMoments;
    const int32_t matrix = rv.readers->ramModel ? kRamP : kPhiMatrix;
    BlockColumns walk(&s, &elements, matrix);
    ModelMatrixTable& mt = *rv.model;
    const int16_t constant = mt.constant[matrix];
    mt.constant[matrix] = 0;
    const int32_t failed = walk_terms(&view, &walk);
    mt.constant[matrix] = constant;
    columns->swap(walk.columns);
    return failed == 0;
}

// With means, the columns with respect to the block's covariances and
// means (the form center_moments gives) in place of its moments about
// zero: each is the columns read through moments_about_zero.
void by_covariances_and_means(const ResultsView& rv, const SampleBlock& block, int32_t k, std::vector<double>* cols) {
    const int32_t n = rv.sizes->nManifest, p = rv.sizes->nMoments;
    const size_t b = block.moments.size(), ps = static_cast<size_t>(p);
    std::vector<double> centred(rv.arrays->momentMatrix, rv.arrays->momentMatrix + p), mean(static_cast<size_t>(n));
    const double c = centred[pk(k, k)];
    center_moments(centred.data(), n, k);
    for (int32_t i = 0; i < n; ++i) mean[static_cast<size_t>(i)] = centred[pk(i, k)];
    std::vector<double> out(cols->size(), 0.0), unit(ps), x(ps);
    for (size_t a = 0; a < b; ++a) {
        std::fill(unit.begin(), unit.end(), 0.0);
        unit[static_cast<size_t>(block.moments[a])] = 1.0;
        moments_about_zero(unit.data(), mean.data(), c, n, k, x.data());
        for (size_t f = 0; f < b; ++f) {
            const double coef = x[static_cast<size_t>(block.moments[f])];
            if (coef == 0.0) continue;
            for (size_t m = 0; m < ps; ++m) out[a * ps + m] += coef * (*cols)[f * ps + m];
        }
    }
    cols->swap(out);
}

// The normal-theory covariance (times N') of the moments (i, j) and (u, v)
// in the form center_moments gives: g the centred moments, c the
// constant's own moment, k the constant (-1 without means).
double moment_covariance(const std::vector<double>& g, double c, int32_t k, int32_t i, int32_t j, int32_t u,
                         int32_t v) {
    const bool mean1 = i == k || j == k, mean2 = u == k || v == k;
    if (mean1 != mean2) return 0.0;
    if (mean1) return g[pk(i == k ? j : i, u == k ? v : u)] / c;
    return g[pk(i, u)] * g[pk(j, v)] + g[pk(i, v)] * g[pk(j, u)];
}

}  // namespace

bool sample_variance_terms(const ResultsView& rv, const EvalView& view, std::vector<double>* terms) {
    const int32_t n = rv.sizes->nManifest, k = rv.residualStore->intercept;
    if (view.method == kMethodWls) {
        wls_terms(rv, view.weights, n, k, terms);
        return true;
    }
    if (view.method != kMethodGls) return true;
    std::vector<double> m;
    if (!gls_moments(rv, view, &m)) return false;
    ResidualStore at;
    if (k < 0 || !residual_store_write_means(&at, rv.arrays->momentMatrix, m.data(), n, k))
        residual_store_write(&at, rv.arrays->momentMatrix, m.data(), n);
    *terms = at.variance;
    return true;
}

bool count_sample_block(const ResultsView& rv, const EvalView& view, const double* V, CountedEstimates* out) {
    const int32_t q = rv.sizes->nParmFree, p = rv.sizes->nMoments;
    const double* jac = jacobian_store(view);
    out->q = q;
    out->jac.assign(jac, jac + static_cast<int64_t>(q) * p);
    out->cov.assign(V, V + pk_lower(q, 0));
    if (view.method == kMethodGls) return true;  // see sample_block_variances
    const std::vector<int32_t> block = sample_block(rv, results_intercept(rv)).elements;
    if (block.empty()) return true;
    std::vector<double> columns;
    if (!block_columns(rv, view, block, &columns)) return false;
    if (!weighted_method(view)) fill_weight_dense(view);
    std::vector<Weighted> counted;
    for (int32_t i = 0; i < q; ++i) counted.push_back(weigh(view, jac + static_cast<int64_t>(i) * p));
    for (size_t a = 0; a < block.size(); ++a) {
        const double* x = columns.data() + a * static_cast<size_t>(p);
        Weighted wx = weigh(view, x);
        const int32_t q1 = out->q;
        std::vector<double> b(static_cast<size_t>(q1) + 1), work(static_cast<size_t>(q1) + 1);
        for (int32_t i = 0; i < q1; ++i)
            b[static_cast<size_t>(i)] = column_product(view, counted[static_cast<size_t>(i)].left.data(), wx.right.data());
        b[static_cast<size_t>(q1)] = column_product(view, wx.left.data(), wx.right.data());
        std::vector<double> cov(static_cast<size_t>(pk_lower(q1 + 1, 0)));
        std::copy(out->cov.begin(), out->cov.end(), cov.begin());
        // An element that the free parameters explain adds nothing.
        if (sinvex(q1, rv.options->singular, cov.data(), b.data(), work.data()) != 0) continue;
        std::copy(b.begin(), b.end(), cov.begin() + pk_lower(q1, 0));
        out->cov.swap(cov);
        out->jac.insert(out->jac.end(), x, x + p);
        counted.push_back(std::move(wx));
        ++out->q;
    }
    return true;
}

bool sample_block_variances(const ResultsView& rv, const EvalView& view, const double* jacCentred, const double* V,
                            double kappa, double nn, double* w) {
    if (view.method != kMethodGls) return true;
    const int32_t n = rv.sizes->nManifest, p = rv.sizes->nMoments, q = rv.sizes->nParmFree;
    const int32_t k = rv.residualStore->intercept;
    const SampleBlock block = sample_block(rv, results_intercept(rv));
    const size_t b = block.moments.size(), ps = static_cast<size_t>(p), qs = static_cast<size_t>(q);
    if (b == 0) return true;
    std::vector<double> cols, g;
    if (!block_columns(rv, view, block.elements, &cols) || !gls_moments(rv, view, &g)) return false;
    if (k >= 0) by_covariances_and_means(rv, block, k, &cols);
    // (I - J A) K: less what the free parameters take up of a change of
    // the block, A = (J'WJ)^-1 J'W.
    const double* jac = jacobian_store(view);
    fill_weight_dense(view);
    std::vector<double> t(qs), u(qs);
    for (size_t a = 0; a < b; ++a) {
        double* x = cols.data() + a * ps;
        const Weighted wx = weigh(view, x);
        for (int32_t i = 0; i < q; ++i) t[static_cast<size_t>(i)] = column_product(view, jac + int64_t{i} * p, wx.right.data());
        for (int32_t i = 0; i < q; ++i) {
            double sum = 0.0;
            for (int32_t j = 0; j < q; ++j) sum += V[pk(i, j)] * t[static_cast<size_t>(j)];
            u[static_cast<size_t>(i)] = sum;
        }
        for (int32_t i = 0; i < q; ++i)
            for (size_t m = 0; m < ps; ++m) x[m] -= u[static_cast<size_t>(i)] * jac[int64_t{i} * p + static_cast<int64_t>(m)];
    }
    std::vector<double> kc = cols;
    double c = 1.0;
    if (k >= 0) {
        center_jacobian(rv.residualStore->predicted.data(), n, k, cols.data(), static_cast<int32_t>(b), kc.data());
        c = g[pk(k, k)];
        center_moments(g.data(), n, k);
    }
    // H = var(s) - J kappa V J' at the block's moments: h[f * p* + e].
    std::vector<double> h(b * ps);
    for (size_t f = 0; f < b; ++f) {
        const int32_t mf = block.moments[f];
        for (int32_t i = 0; i < q; ++i) {
            double sum = 0.0;
            for (int32_t j = 0; j < q; ++j) sum += V[pk(i, j)] * jacCentred[int64_t{j} * p + mf];
            u[static_cast<size_t>(i)] = sum;
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const int64_t e = pk(i, j);
                double x = 0.0;
                for (int32_t r = 0; r < q; ++r) x += jacCentred[int64_t{r} * p + e] * u[static_cast<size_t>(r)];
                h[f * ps + static_cast<size_t>(e)] =
                    moment_covariance(g, c, k, i, j, block.first[f], block.second[f]) / nn - kappa * x;
            }
    }
    // var(r) = H - K~ H_b - H_b' K~' + K~ H_bb K~', K~ = (I - J A) K.
    for (size_t e = 0; e < ps; ++e) {
        double x = 0.0;
        for (size_t a = 0; a < b; ++a) {
            const double ka = kc[a * ps + e];
            if (ka == 0.0) continue;
            x -= 2.0 * ka * h[a * ps + e];
            for (size_t f = 0; f < b; ++f) x += ka * kc[f * ps + e] * h[f * ps + static_cast<size_t>(block.moments[a])];
        }
        w[e] += x;
    }
    return true;
}

}  // namespace velix::detail
