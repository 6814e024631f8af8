// Residual analysis (see residuals.h).  The standardized forms divide a
// residual r_ij = s_ij - sigma_ij by an estimate of its standard error:
//   variance standardized   sqrt(s_ii s_jj)
//   normalized              sqrt((sigma_ii sigma_jj + sigma_ij^2) / N')
//   asymptotic              sqrt(var(s_ij) - var(sigma_ij)), the second
//                           term J acov J' by the delta method (Browne 1984,
//                           eq. 2.20; Bollen 1989, ch. 7)
//
//   cosnore: store written? group "Residuals"; the kinds to show;
//            raw, then each standardized kind through priresi
//   priresi: averages; matrix and averages tables; diagonal note; disresi;
//            OUTSTAT= rows
//   disresi: ranking; distribution (raw residuals only without a ranking)
#include "procedure/results/residuals.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "host/host_support.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/proc_options.h"
#include "procedure/procedure.h"
#include "procedure/results/fit_state.h"
#include "procedure/results/mean_structure.h"
#include "procedure/results/residual_variance.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::detail {

namespace {

constexpr double kNegligibleRel = 1e-08;      // a residual negligible against its moment
constexpr double kVarianceFloor = 1e-12;      // a variance too small to divide by
constexpr double kCancelRel = 100.0 * velix::kMachEpsWritten;  // 100 eps: cancellation in w
constexpr double kRankRel = velix::kSqrtMachEpsWritten;   // a ranked residual still worth showing
constexpr double kBoundZero =
    100.0 * velix::kMachEpsWritten;                        // a bin bound that is 0 within rounding
constexpr double kSmallWidth = velix::kSqrtDblMinWritten;  // no usable bin width
constexpr int32_t kMaxRanked = 10;
constexpr double kBinWidth = 0.25;
constexpr int32_t kMinBins = 6, kMaxBins = 50;

// Bins of width h over [lo, hi]: straddling 0 they start at a multiple of
// h so that 0 is a bound, else they are centred on the range.
void lay_bins(double lo, double hi, double h, double* start, int32_t* k) {
    if (lo < 0.0 && hi > 0.0) {
        const double a = std::trunc(lo / h), b = std::trunc(hi / h);
        *start = (a - 1.0) * h;
        *k = static_cast<int32_t>(b - a + 2.0);
    } else {
        *k = static_cast<int32_t>(std::trunc((hi - lo) / h)) + 1;
        *start = (lo + hi) / 2.0 - *k * h / 2.0;
    }
}

}  // namespace

void residuals_variance_standardized(const double* s, const double* r, int32_t n, double* out) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double d = s[pk_lower(i, i)] * s[pk_lower(j, j)];
            out[pk_lower(i, j)] = d <= DBL_MIN ? host_missing_value() : r[pk_lower(i, j)] / std::sqrt(d);
        }
}

double residual_standardize(double r, double s, double w) {
    if (std::fabs(r) <= std::fabs(s) * kNegligibleRel) return 0.0;
    // A negative variance is no variance of zero: the residual has no
    // standardized value.
    if (w < 0.0) return host_missing_value();
    if (w <= std::fabs(r) * kNegligibleRel) return 0.0;
    if (w <= kVarianceFloor) return host_missing_value();
    return r / std::sqrt(w);
}

void residual_asymptotic_variances(const double* v, double nn, const double* jac, const double* cov,
                                   double kappa, int32_t q, int32_t pstar, double* w) {
    for (int32_t k = 0; k < pstar; ++k) {
        double u = 0.0;
        for (int32_t i = 0; i < q; ++i) {
            const double ji = jac[int64_t{i} * pstar + k];
            if (ji == 0.0) continue;
            double s = 0.0;
            for (int32_t j = 0; j < i; ++j) s += cov[pk_lower(i, j)] * jac[int64_t{j} * pstar + k];
            u += ji * (2.0 * s + cov[pk_lower(i, i)] * ji);
        }
        const double a = v[k] / nn, b = u * kappa;
        const double x = a - b;
        w[k] = std::fabs(x) <= kCancelRel * (std::fabs(a) + std::fabs(b)) ? 0.0 : x;
    }
}

ResidualAverages residual_averages(const double* r, int32_t n) {
    double sum = 0.0, sumOff = 0.0, maxDiag = 0.0;
    int32_t count = 0, countOff = 0;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double x = r[pk_lower(i, j)];
            if (host_is_missing(x)) continue;
            sum += std::fabs(x);
            ++count;
            if (i == j) {
                maxDiag = std::max(maxDiag, std::fabs(x));
            } else {
                sumOff += std::fabs(x);
                ++countOff;
            }
        }
    return {count ? sum / count : host_missing_value(), countOff ? sumOff / countOff : host_missing_value(),
            maxDiag};
}

std::vector<RankedResidual> residual_ranking(const double* r, int32_t n) {
    const int32_t pstar = n * (n + 1) / 2;
    const size_t k = static_cast<size_t>(std::min(pstar / 2, kMaxRanked));
    std::vector<RankedResidual> kept;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double x = r[pk_lower(i, j)];
            if (host_is_missing(x)) continue;
            auto at = std::find_if(kept.begin(), kept.end(),
                                   [&](const RankedResidual& e) { return std::fabs(e.value) < std::fabs(x); });
            if (static_cast<size_t>(at - kept.begin()) >= k) continue;
            kept.insert(at, {i, j, x});
            if (kept.size() > k) kept.pop_back();
        }
    const double top = kept.empty() ? 0.0 : std::fabs(kept.front().value);
    auto cut = std::find_if(kept.begin(), kept.end(), [&](const RankedResidual& e) {
        return std::fabs(e.value) <= kRankRel || std::fabs(e.value) < top * kRankRel;
    });
    kept.erase(cut, kept.end());
    return kept;
}

ResidualBins residual_bins(const double* r, int32_t pstar) {
    ResidualBins out;
    double lo = DBL_MAX, hi = -DBL_MAX;
    int32_t m = 0;
    for (int32_t k = 0; k < pstar; ++k)
        if (!host_is_missing(r[k])) {
            lo = std::min(lo, r[k]);
            hi = std::max(hi, r[k]);
            ++m;
        }
    if (m == 0) return out;
    double h = kBinWidth, start = 0.0;
    int32_t k = 0;
    lay_bins(lo, hi, h, &start, &k);
    if (k < kMinBins || k > kMaxBins) {
        h = (hi - lo) / (k < kMinBins ? kMinBins : kMaxBins);
        if (h < kSmallWidth) return out;
        lay_bins(lo, hi, h, &start, &k);
    }
    out.start = start;
    out.width = h;
    out.counts.assign(static_cast<size_t>(k), 0);
    for (int32_t e = 0; e < pstar; ++e) {
        if (host_is_missing(r[e])) continue;
        int32_t b = 0;
        for (; b < k - 1; ++b) {
            double upper = start + (b + 1) * h;
            if (std::fabs(upper) <= kBoundZero) upper = 0.0;
            if (upper > r[e]) break;
        }
        ++out.counts[static_cast<size_t>(b)];
    }
    return out;
}

int32_t residual_bar_length(int32_t count, int32_t perStar, int32_t width) {
    return std::clamp(count / perStar + 1, 1, width);
}

}  // namespace velix::detail

namespace {

using namespace velix::detail;

// Messages and titles (group kMsgProc).
constexpr int32_t kMsgPerStar = 187;       // each '*' stands for %i residuals
constexpr int32_t kMsgGeneralized = 188;   // generalized inverse: normalized instead
constexpr int32_t kMsgNoCovariance = 189;  // no covariance of the estimates: normalized instead
constexpr int32_t kMsgDiagonal = 197;      // large diagonal residual of a correlation matrix
constexpr int32_t kMsgResidualsGroup = 760;
constexpr double kDiagonalLimit = 0.01;
constexpr int32_t kBarColumns = 27;        // the bar of the largest count, less its digits

struct KindInfo {
    const char* name;
    int32_t matrixTitle, aveTitle, rankTitle, distTitle;
    int32_t aveLabels[2];
    const char* types[5];  // OUTSTAT= _TYPE_ for ULS, GLS, ML, WLS, other
};

const KindInfo& kind_info(int32_t kind) {
    static const KindInfo kinds[] = {
        {"RawRes", 761, 762, 763, 764, {610, 613}, {}},
        {"NormRes", 765, 766, 767, 768, {611, 614}, {"ULSNRES", "GLSNRES", "MAXNRES", "WLSNRES", "DWLSNRES"}},
        {"VarStdRes", 769, 770, 771, 772, {612, 615}, {"ULSSRES", "GLSSRES", "MAXSRES", "WLSSRES", "DWLSSRES"}},
        {"AsymStdRes", 773, 774, 775, 776, {612, 615},
         {"ULSASRES", "GLSASRES", "MAXASRES", "WLSASRES", "DWLSASRS"}},
    };
    return kinds[kind - 1];
}

const char* outstat_type(const KindInfo& info, int32_t method) {
    switch (method) {
        case kMethodUls: return info.types[0];
        case kMethodGls: return info.types[1];
        case kMethodMl: return info.types[2];
        case kMethodWls: return info.types[3];
        default: return info.types[4];
    }
}

std::string name_of(const NameRecord& r) {
    return std::string(r.text, static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32)));
}

bool printing(const ResultsView& rv) {
    return rv.options->printEnabled &&
           (rv.options->printFlags & (kPrintResidual | kPrintPall)) != 0;
}

bool outstat_given(const ResultsView& rv) {
    return rv.dataSets->dataSetHandle[kRoleOutstat] != nullptr;
}

void rank_table(const ResultsView& rv, const KindInfo& info, const std::vector<RankedResidual>& ranked) {
    const NameRecord* names = rv.input->manifestNames;
    int32_t width = 1;
    for (const RankedResidual& e : ranked)
        width = std::max({width, static_cast<int32_t>(names[e.row].length), static_cast<int32_t>(names[e.column].length)});
    HostText* title = kyrmsgs(kMsgProc, info.rankTitle, static_cast<int32_t>(ranked.size()));
    OutputTable t(rv.output->kyrManager, std::string("Rank") + info.name, title,
                  std::string("Tesk.Velix.Rank") + info.name, title);
    t.text_column("Row", width);
    t.text_column("Column", width);
    t.double_column("Residual");
    if (!t.end_columns()) return;
    for (const RankedResidual& e : ranked) {
        t.set_text(0, name_of(names[e.row]));
        t.set_text(1, name_of(names[e.column]));
        t.set_double(2, e.value);
        if (!t.add_row()) return;
    }
    t.deliver();
}

void distribution_table(const ResultsView& rv, const KindInfo& info, const ResidualBins& bins, int32_t pstar) {
    const int32_t most = std::max(1, *std::max_element(bins.counts.begin(), bins.counts.end()));
    const int32_t digits = static_cast<int32_t>(std::trunc(std::log10(static_cast<double>(most))));
    const int32_t width = kBarColumns - digits;
    const int32_t perStar = (most - 1) / width + 1;
    OutputTable t(rv.output->kyrManager, std::string("Dist") + info.name, kyrmsg(kMsgProc, info.distTitle),
                  std::string("Tesk.Velix.Dist") + info.name, kyrmsgs(kMsgProc, kMsgPerStar, perStar));
    t.double_column("Lower");
    t.double_column("Upper");
    t.int_column("Freq");
    t.double_column("Percent");
    t.text_column("Bar", width);
    if (!t.end_columns()) return;
    auto bound = [](double x) { return std::fabs(x) <= kBoundZero ? 0.0 : x; };
    for (size_t b = 0; b < bins.counts.size(); ++b) {
        const double lower = bins.start + static_cast<double>(b) * bins.width;
        const int32_t count = bins.counts[b];
        t.set_double(0, bound(lower));
        t.set_double(1, bound(lower + bins.width));
        t.set_int(2, count);
        t.set_double(3, 100.0 * count / pstar);
        t.set_text(4, std::string(static_cast<size_t>(residual_bar_length(count, perStar, width)), '*'));
        if (!t.add_row()) return;
    }
    t.deliver();
}

// disresi: the ranking and, but for raw residuals that were ranked, the
// distribution.
void disresi(const ResultsView& rv, int32_t kind, const double* r) {
    const KindInfo& info = kind_info(kind);
    const std::vector<RankedResidual> ranked = residual_ranking(r, rv.sizes->nManifest);
    if (!ranked.empty()) rank_table(rv, info, ranked);
    if (kind == kResidualRaw && !ranked.empty()) return;
    const ResidualBins bins = residual_bins(r, rv.sizes->nMoments);
    if (!bins.counts.empty()) distribution_table(rv, info, bins, rv.sizes->nMoments);
}

// One row per manifest variable.  Those of a model with means are of the
// DATA= variables, as the rest of the data set: the residuals of the means
// first, in a row without a name (the MEAN row comes before the matrix),
// then those of the covariances; the constant has no variable.
void outstat_rows(const ResultsView& rv, const KindInfo& info, const double* r) {
    const char* type = outstat_type(info, rv.methods->methodStage);
    std::memset(rv.dataSets->outRow.type, ' ', sizeof rv.dataSets->outRow.type);
    std::memcpy(rv.dataSets->outRow.type, type, std::strlen(type));
    const int32_t nv = std::min(rv.sizes->nVar, rv.sizes->nManifest), k = rv.residualStore->intercept;
    NameRecord& name = rv.dataSets->outRow.name;
    name.length = static_cast<int16_t>(sizeof name.text);
    if (k >= 0) {
        std::memset(name.text, ' ', sizeof name.text);
        for (int32_t j = 0; j < nv; ++j) rv.cells->rowValues[j] = r[velix::pk(k, j)];
        cos_write_row(rv.ctx, kRoleOutstat);
    }
    for (int32_t i = 0; i < rv.sizes->nManifest; ++i) {
        if (i == k) continue;
        std::memset(name.text, ' ', sizeof name.text);
        const NameRecord& from = rv.input->manifestNames[i];
        std::memcpy(name.text, from.text, static_cast<size_t>(std::clamp<int16_t>(from.length, 0, 32)));
        for (int32_t j = 0; j < nv; ++j) rv.cells->rowValues[j] = r[velix::pk(i, j)];
        cos_write_row(rv.ctx, kRoleOutstat);
    }
}

void diagonal_note(const ResultsView& rv, double largest) {
    const int32_t m = rv.methods->methodStage;
    if (rv.options->covAnalysis || largest <= kDiagonalLimit ||
        (m != kMethodGls && m != kMethodMl && m != kMethodWls))
        return;
    xpmlog(kMsgProc, kMsgDiagonal, largest);
    if (rv.options->printEnabled) kyr_failed(kyr_note(rv.output->kyrManager, kyrmsgs(kMsgProc, kMsgDiagonal, largest), 'l'));
}

// priresi: one residual matrix of a kind with its averages, notes,
// ranking, distribution and OUTSTAT= rows.
void priresi(const ResultsView& rv, int32_t kind, const double* r) {
    const KindInfo& info = kind_info(kind);
    const ResidualAverages ave = residual_averages(r, rv.sizes->nManifest);
    if (printing(rv)) {
        const int32_t style = rv.options->covAnalysis || rv.input->symatrixInput ? 0 : 7;
        if (publish_matrix(rv.ctx, info.name, info.matrixTitle, r, rv.sizes->nManifest, rv.sizes->nManifest,
                           rv.input->manifestNames, rv.input->manifestNames, "sf", style) < 0)
            return;
        const double values[2] = {ave.meanAbs, ave.meanAbsOff};
        cosput(rv.ctx, kyrtxts("Ave%s", -1, info.name), info.aveTitle, kyrtxt("AveResValue", -1), 2, values,
               info.aveLabels, kyrtxts("Tesk.Velix.Ave%s", -1, info.name));
    }
    if (kind == kResidualRaw) diagonal_note(rv, ave.maxAbsDiag);
    if (printing(rv)) disresi(rv, kind, r);
    if (kind != kResidualRaw && outstat_given(rv)) outstat_rows(rv, info, r);
}

// The standardized kinds to show after the raw residuals, in order.
std::vector<int32_t> chosen_kinds(const ResultsView& rv) {
    const int32_t status = rv.eval->covStatus, asked = rv.options->residualKind;
    const bool varStd = (rv.options->optionFlags & kOptionVarStand) != 0 || asked == kResidualAskVarStand;
    const bool asym = (rv.options->optionFlags & kOptionAsyStand) != 0 || asked == kResidualAskAsyStand;
    const bool norm = asked == kResidualAskNorm;
    std::vector<int32_t> kinds;
    if (norm) kinds.push_back(kResidualNormalized);
    if (varStd) kinds.push_back(kResidualVarStandardized);
    if (asym) {
        if (rv.eval->jacobianMode < 0 || status != 1) {
            xpmlog(kMsgProc, status < 2 ? kMsgNoCovariance : kMsgGeneralized);
            if (!norm) kinds.push_back(kResidualNormalized);
        } else {
            kinds.push_back(kResidualAsymptotic);
        }
    }
    if (!kinds.empty()) return kinds;
    if (status > 1) xpmlog(kMsgProc, kMsgGeneralized);
    const int32_t m = rv.methods->methodStage;
    if (m == kMethodNone || m == kMethodUls || m == kMethodDwls)
        kinds.push_back(kResidualVarStandardized);
    else
        kinds.push_back(status == 1 ? kResidualAsymptotic : kResidualNormalized);
    return kinds;
}

// The asymptotic variances of the residuals (w, p*): the variances of the
// sample moments under the method's weight less those of the fitted ones,
// with the exogenous block at its sample values counted among the
// estimates (under GLS, whose estimates it is not, the estimator's with the
// block fixed); for a model with means those of its covariances and means.
bool asymptotic_variances(const ResultsView& rv, double nn, std::vector<double>* w) {
    const ResidualStore& st = *rv.residualStore;
    const EvalView view = eval_view(rv.ctx);
    if (results_final_evaluation(rv) != 0 || jacobian_walk(&view) != 0) return false;
    CountedEstimates counted;
    std::vector<double> terms = st.variance;
    if (!count_sample_block(rv, view, rv.eval->covariance, &counted) ||
        !sample_variance_terms(rv, view, &terms))
        return false;
    const int32_t pstar = rv.sizes->nMoments;
    std::vector<double> jac = counted.jac;
    if (st.intercept >= 0)
        center_jacobian(st.predicted.data(), rv.sizes->nManifest, st.intercept, counted.jac.data(), counted.q,
                        jac.data());
    residual_asymptotic_variances(terms.data(), nn, jac.data(), counted.cov.data(), results_kappa(rv), counted.q,
                                  pstar, w->data());
    return sample_block_variances(rv, view, jac.data(), counted.cov.data(), results_kappa(rv), nn, w->data());
}

// The standardized residuals of a kind into out (p*); false when the kind
// has no values here.
bool standardized(const ResultsView& rv, int32_t kind, std::vector<double>* out) {
    const ResidualStore& st = *rv.residualStore;
    const int32_t n = rv.sizes->nManifest, pstar = rv.sizes->nMoments, k = st.intercept;
    const double* s = rv.arrays->momentMatrix;
    // A model with means: the residuals are those of the covariances and
    // the means, measured against them.
    std::vector<double> centred;
    if (k >= 0) {
        centred.assign(s, s + pstar);
        center_moments(centred.data(), n, k);
        s = centred.data();
    }
    out->assign(static_cast<size_t>(pstar), 0.0);
    if (kind == kResidualVarStandardized) {
        residuals_variance_standardized(s, st.residual.data(), n, out->data());
    } else {
        const double nn = sample_multiplier(rv.moments, rv.options);
        if (nn <= DBL_MIN) return false;
        std::vector<double> w(static_cast<size_t>(pstar));
        if (kind == kResidualNormalized) {
            for (int32_t e = 0; e < pstar; ++e) w[static_cast<size_t>(e)] = st.variance[static_cast<size_t>(e)] / nn;
        } else if (!asymptotic_variances(rv, nn, &w)) {
            return false;
        }
        for (int32_t e = 0; e < pstar; ++e)
            (*out)[static_cast<size_t>(e)] =
                residual_standardize(st.residual[static_cast<size_t>(e)], s[e], w[static_cast<size_t>(e)]);
    }
    // The constant's own moment has no residual.
    if (k >= 0) (*out)[velix::pk(k, k)] = host_missing_value();
    return true;
}

}  // namespace

int32_t cosnore(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    if (!printing(rv) && !outstat_given(rv)) return 0;
    if (!rv.moments->varianceBlockWritten || rv.residualStore->nMoments != rv.sizes->nMoments) return 1;
    HostObject* group =
        open_output_group(rv.output->kyrManager, "Residuals", kyrmsg(kMsgProc, kMsgResidualsGroup));
    priresi(rv, kResidualRaw, rv.residualStore->residual.data());
    std::vector<double> values;
    for (int32_t kind : chosen_kinds(rv))
        if (standardized(rv, kind, &values)) priresi(rv, kind, values.data());
    close_output_group(group);
    return 0;
}
