// The fit summary of an estimation stage: the final evaluation at the
// estimates, the independence model diag(d) fitted by the stage's method,
// the GFI denominators, the fit statistics (fit_indices.h) stored for the
// OUTRAM= STAT rows, and the group "FitSummary" with the predicted moment
// matrix, its determinant and the factoid "Fit" of labelled statistics
// (labels are messages of the procedure's group; the confidence limits'
// labels carry the interval's percent).  Joreskog and Sorbom (1984),
// LISREL VI; Bollen (1989), Structural Equations with Latent Variables,
// ch. 7.
//
//   cosresi: final evaluation (failure: message, level, stop)
//            ln det Sigma; group; PredModel and its determinant
//            RMR; GFI denominator by method; independence model
//            statistics into the results' state; the factoid "Fit"
//            close the group
#include "procedure/results/fit_summary.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/output_table.h"
#include "numerics/packed.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/results/fit_state.h"
#include "procedure/results/latent_moments.h"
#include "procedure/results/mean_structure.h"
#include "procedure/results/results.h"
#include "procedure/results/results_view.h"
#include "velix/messages.h"
#include "velix/packed_index.h"
#include "velix/codes.h"
#include "velix/types.h"

namespace {

// Display widths and decimals of the entries: statistics 10.4, the
// chi-square degrees of freedom as integers, the null chi-square 6.4 and
// the critical N 8.0.
constexpr int32_t kStatWidth = 10, kStatDecimals = 4;
constexpr int32_t kDfWidth = 5, kDfDecimals = 99;
constexpr int32_t kNullWidth = 6, kNullDecimals = 4;
constexpr int32_t kCountWidth = 8, kCountDecimals = 0;

void stat(FactoidTable* t, int32_t number, double value) {
    t->entry(kyrmsg(kMsgProc, number), value, kStatWidth, kStatDecimals);
}

// A confidence limit: its label carries the interval's percent.
void limit(FactoidTable* t, int32_t number, double alpha, double value) {
    t->entry(kyrmsgs(kMsgProc, number, (1.0 - 2.0 * alpha) * 100.0), value, kStatWidth,
             kStatDecimals);
}

void chisq_block(FactoidTable* t, const FitStatistics* s, const FitInputs* in) {
    stat(t, kMsgChiSquare, s->chisq);
    t->entry(kyrmsg(kMsgProc, kMsgChiSquareDf), in->df, kDfWidth, kDfDecimals);
    t->probability_entry(kyrmsg(kMsgProc, kMsgChiSquareProb), s->pChisq);
    t->entry(kyrmsg(kMsgProc, kMsgIndependenceChiSq), s->chisqNull, kNullWidth, kNullDecimals);
    t->entry(kyrmsg(kMsgProc, kMsgIndependenceDf), in->df0, kDfWidth, kDfDecimals);
    stat(t, kMsgRmsea, s->rmsea);
    limit(t, kMsgRmseaLower, in->alphaRmsea, s->rmseaLower);
    limit(t, kMsgRmseaUpper, in->alphaRmsea, s->rmseaUpper);
    stat(t, kMsgEcvi, s->ecvi);
    limit(t, kMsgEcviLower, in->alphaEcvi, s->ecviLower);
    limit(t, kMsgEcviUpper, in->alphaEcvi, s->ecviUpper);
    t->probability_entry(kyrmsg(kMsgProc, kMsgCloseFitProb), s->pClose);
    stat(t, kMsgCfi, s->cfi);
    if (!host_is_missing(s->adjChisq)) {
        stat(t, kMsgKurtosisAdjustedChiSq, s->adjChisq);
        t->probability_entry(kyrmsg(kMsgProc, kMsgKurtosisAdjustedProb), s->pAdjChisq);
    }
    if (!host_is_missing(s->rlsChisq)) stat(t, kMsgReweightedChiSq, s->rlsChisq);
    const struct {
        int32_t number;
        double value;
    } indices[] = {{378, s->aic},  {379, s->caic}, {380, s->sbc},  {522, s->centrality},
                   {523, s->nnfi}, {524, s->nfi},  {525, s->pnfi}, {526, s->zWilsonHilferty},
                   {527, s->rho1}, {528, s->delta2}};
    for (const auto& e : indices) stat(t, e.number, e.value);
    t->entry(kyrmsg(kMsgProc, kMsgCriticalN), s->hoelter, kCountWidth, kCountDecimals);
}

}  // namespace

void store_fit_statistics(ResultsState* results, const FitInputs* in, FitNotes* notes) {
    compute_fit_statistics(in, &results->fitStats, notes);
    results->fitStatsValid = 1;
}

int32_t print_fit_factoid(HostObject* manager, const FitStatistics* s, const FitInputs* in,
                          const FitNotes* notes) {
    FactoidTable t(manager, "Fit", "Tesk.Velix.Fit", kyrmsg(kMsgProc, kMsgFitSummary));
    stat(&t, kMsgFitFunction, s->fit);
    stat(&t, kMsgGfi, s->gfi);
    stat(&t, kMsgAgfi, s->agfi);
    stat(&t, kMsgRmr, s->rmr);
    if (!host_is_missing(s->pgfi)) stat(&t, kMsgPgfi, s->pgfi);
    if (notes->chisqFamily) chisq_block(&t, s, in);
    return t.end() ? 0 : -1;
}

namespace {

constexpr int32_t kMsgNoFinalEvaluation = 363;
constexpr int32_t kMsgNoCriticalN = 520;
constexpr int32_t kMsgNullModelSingular = 521;
constexpr int32_t kMsgFitSummaryGroup = 750;
constexpr int32_t kMsgPredModelTitle = 752;
constexpr double kLn10 = 2.302585092994046;
// The phase of the final evaluation: a plain objective call at the
// estimates, without perturbation retries.
constexpr double kFinalEvaluationPhase = -1.0;
// The tail of each side of the RMSEA and ECVI intervals when the option
// does not give it (90% intervals).
constexpr double kDefaultAlpha = 0.05;

bool is_missing(double x) { return host_is_missing(x) || std::isnan(x); }

// The diagonal of a packed symmetric matrix of order n.
std::vector<double> diagonal(const double* a, int32_t n) {
    std::vector<double> d(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) d[static_cast<size_t>(i)] = a[int64_t{i} * (i + 3) / 2];
    return d;
}

double alpha_or_default(double alpha) {
    return is_missing(alpha) || !(alpha > 0.0) || alpha >= 0.5 ? kDefaultAlpha : alpha;
}

// ln det Sigma: the ML objective leaves it; for the other methods Sigma is
// factored here (-DBL_MAX when it is not positive definite).
double log_det_model(const ResultsView& rv) {
    if (rv.methods->methodStage == kMethodMl) return rv.eval->logDetC;
    std::vector<double> c(rv.eval->implied, rv.eval->implied + rv.sizes->nMoments);
    double det[2] = {};
    if (coschin(rv.sizes->nManifest, rv.options->singular, det, c.data()) != 0) return -DBL_MAX;
    return std::log(det[0]) + det[1] * kLn10;
}

// The GFI denominator D of the stage's method: the weighted norm of the
// moments alone, in the metric of the numerator G the objective left.
double gfi_denominator(const ResultsView& rv) {
    const int32_t n = rv.sizes->nManifest;
    const double* s = rv.arrays->momentMatrix;
    switch (rv.methods->methodStage) {
        case kMethodUls: return fit_gfi_denominator_uls(s, n);
        case kMethodGls:
            // Without INWGT= the weight inverts S: tr((W S)^2) = n.
            return rv.input->inwgtUsed ? fit_gfi_denominator_gls(rv.arrays->weightMatrix, s, n) : n;
        case kMethodMl: return fit_trace_square(rv.eval->product, n);
        case kMethodWls: {
            double d = 0.0;
            // The factor served every evaluation of the run: it is checked
            // as the discrepancy checks it.
            if (!fit_gfi_denominator_wls(rv.arrays->weightMatrix, s, rv.sizes->nMoments, velix::detail::kCheckedFactorBound,
                                         &d))
                velix::detail::wls_factor_fault();
            return d;
        }
        default: return fit_gfi_denominator_dwls(s, rv.arrays->weightMatrix, rv.sizes->nMoments);
    }
}

// A model with means: the GFI's norms G and D of the residuals and moments
// of its covariances and means (v, in the form center_moments gives), in
// the stage's weights read through the map to moments about zero at the
// means the weights are built around: the fitted ones for ML (Sigma^-1),
// the sample's for GLS, WLS and DWLS.  ML and GLS with their default
// weights so give tr((W R)^2) + 2c r'W r, with W = Sigma^-1 or S^-1; ULS
// the same with W = I.  Missing when Sigma is not positive definite (ML).
double mean_structure_norm(const ResultsView& rv, int32_t k, const std::vector<double>& v,
                           const std::vector<double>& mean, double c) {
    const int32_t n = rv.sizes->nManifest, p = rv.sizes->nMoments;
    std::vector<double> x(static_cast<size_t>(p));
    switch (rv.methods->methodStage) {
        case kMethodUls:
            x = v;
            for (int32_t i = 0; i < n; ++i)
                if (i != k) x[velix::pk(i, k)] *= std::sqrt(c);
            x[velix::pk(k, k)] = 0.0;
            return fit_gfi_denominator_uls(x.data(), n);
        case kMethodMl: {
            std::vector<double> inverse(rv.eval->implied, rv.eval->implied + p);
            double det[2] = {};
            if (coschin(n, rv.options->singular, det, inverse.data()) != 0) return host_missing_value();
            moments_about_zero(v.data(), mean.data(), c, n, k, x.data());
            return fit_gfi_denominator_gls(inverse.data(), x.data(), n);
        }
        case kMethodGls:
            moments_about_zero(v.data(), mean.data(), c, n, k, x.data());
            return fit_gfi_denominator_gls(rv.arrays->weightMatrix, x.data(), n);
        case kMethodWls: {
            double d = 0.0;
            moments_about_zero(v.data(), mean.data(), c, n, k, x.data());
            if (!fit_gfi_denominator_wls(rv.arrays->weightMatrix, x.data(), p, velix::detail::kCheckedFactorBound, &d))
                velix::detail::wls_factor_fault();
            return d;
        }
        default:
            moments_about_zero(v.data(), mean.data(), c, n, k, x.data());
            return fit_gfi_denominator_dwls(x.data(), rv.arrays->weightMatrix, p);
    }
}

// The inputs of a model with means that differ from those of its moments
// about zero: GFI, AGFI and RMR over the residuals of the covariances and
// means, p* - 1 moments (the constant's own is fixed) of n - 1 variables,
// and the independence model's (n - 1)(n - 2) / 2 degrees of freedom (free
// means and variances).
void mean_structure_inputs(const ResultsView& rv, int32_t k, FitInputs* in) {
    const int32_t n = rv.sizes->nManifest, p = rv.sizes->nMoments;
    std::vector<double> s(rv.arrays->momentMatrix, rv.arrays->momentMatrix + p);
    std::vector<double> sigma(rv.eval->implied, rv.eval->implied + p);
    const double cS = s[velix::pk(k, k)], cSigma = sigma[velix::pk(k, k)];
    if (!center_moments(s.data(), n, k) || !center_moments(sigma.data(), n, k)) return;
    std::vector<double> r(static_cast<size_t>(p)), sampleMean(static_cast<size_t>(n)),
        fittedMean(static_cast<size_t>(n));
    for (size_t e = 0; e < r.size(); ++e) r[e] = s[e] - sigma[e];
    for (int32_t i = 0; i < n; ++i) {
        sampleMean[static_cast<size_t>(i)] = s[velix::pk(i, k)];
        fittedMean[static_cast<size_t>(i)] = sigma[velix::pk(i, k)];
    }
    const bool ml = rv.methods->methodStage == kMethodMl;
    const std::vector<double>& mean = ml ? fittedMean : sampleMean;
    const double c = ml ? cSigma : cS;
    in->gfiNumerator = mean_structure_norm(rv, k, r, mean, c);
    in->gfiDenominator = mean_structure_norm(rv, k, s, mean, c);
    in->nMoments = p - 1;
    in->nManifest = n - 1;
    in->df0 = in->nMoments - 2.0 * (n - 1);
    // The constant is the last variable: its moment, the last, is left out.
    in->rmr = fit_rmr(s.data(), sigma.data(), p - 1);
}

FitInputs fit_inputs(const ResultsView& rv) {
    FitInputs in;
    const double n = rv.sizes->nManifest;
    in.f = rv.eval->discrepancy;
    in.f0 = rv.results->nullFitValue;
    in.gfiNumerator = rv.eval->discrepancyRaw;
    in.gfiDenominator = gfi_denominator(rv);
    // The moments less the independent parameters, with the corrections
    // the start values (exogenous covariances set to the sample's) and the
    // run (active constraints) keep in modelDf.
    in.df = rv.sizes->nMoments - rv.sizes->nParmFree + rv.moments->modelDf;
    in.nMoments = rv.sizes->nMoments;
    in.nManifest = n;
    in.df0 = in.nMoments - n;
    in.nObs = rv.moments->nObs;
    in.nn = sample_multiplier(rv.moments, rv.options);
    // An active constraint takes a parameter out of the count as it gives
    // a degree of freedom back.
    in.nParm = rv.sizes->nParmFree - (rv.options->noDfAdjust ? 0 : rv.est->nActive);
    in.rmr = fit_rmr(rv.arrays->momentMatrix, rv.eval->implied, rv.sizes->nMoments);
    // The relative multivariate kurtosis of the moment step, when computed.
    in.kurtosis = rv.options->kurtosisWanted ? rv.moments->kurtosisCells[kKurtRelativeMulti]
                                              : host_missing_value();
    in.alphaRmsea = alpha_or_default(rv.options->alphaRms);
    in.alphaEcvi = alpha_or_default(rv.options->alphaEcv);
    in.method = rv.methods->methodStage;
    in.wantAll = rv.options->printEnabled || rv.dataSets->dataSetHandle[kRoleOutram] != nullptr;
    const int32_t k = results_intercept(rv);
    if (k >= 0) mean_structure_inputs(rv, k, &in);
    return in;
}

// "PredModel", Sigma with the manifest names, and its determinant.  A
// model with means shows its covariances and, in the row of Intercept, its
// means, as the residuals are shown: the constant's own moment is no
// moment of the data (its cell is missing), and the determinant is that of
// the covariances, |Sigma| / sigma_kk.
int32_t print_predicted_moments(const ResultsView& rv) {
    const int32_t style = rv.options->covAnalysis || rv.input->dataType[0] != ' ' ? 0 : 7;
    const int32_t n = rv.sizes->nManifest, k = results_intercept(rv);
    std::vector<double> sigma(rv.eval->implied, rv.eval->implied + rv.sizes->nMoments);
    double logDet = rv.results->logDetModel;
    if (k >= 0 && center_moments(sigma.data(), n, k)) {
        sigma[velix::pk(k, k)] = host_missing_value();
        if (logDet > -DBL_MAX) logDet -= std::log(rv.eval->implied[velix::pk(k, k)]);
    }
    const int32_t rc = velix::detail::publish_matrix(rv.ctx, "PredModel", kMsgPredModelTitle, sigma.data(), n, n,
                                                     rv.input->manifestNames, rv.input->manifestNames, "sc", style);
    if (rc < 0) return rc;
    cosdet(rv.ctx, kyrtxt("PredModelDet", -1), kMsgDeterminantTitle, logDet, kMsgDeterminantRow,
           kyrtxt("Tesk.Velix.PredModelDet", -1));
    return 0;
}

// The predicted moments of a model with means in the form of its OUTSTAT=
// data set, whose rows are of the DATA= variables only: the means (out,
// nv) and the covariances about them (out, packed nv), in correlation
// analysis over the sample's standard deviations about the means, as its
// CORR rows hold the sample's.  The analysed matrix of a correlation
// analysis is D^-1 M D^-1 (D the roots of the diagonal of the moments
// about zero M), which leaves each mean divided by d_i / d_k.  False when
// a constant's moment is not positive.
bool outstat_predicted_moments(const ResultsView& rv, int32_t k, std::vector<double>* means,
                               std::vector<double>* cov) {
    const int32_t n = rv.sizes->nManifest, nv = rv.sizes->nVar, p = rv.sizes->nMoments;
    std::vector<double> sigma(rv.eval->implied, rv.eval->implied + p), s(rv.arrays->momentMatrix,
                                                                         rv.arrays->momentMatrix + p);
    if (!center_moments(sigma.data(), n, k) || !center_moments(s.data(), n, k)) return false;
    const bool corr = !rv.options->covAnalysis;
    const double* d = rv.moments->stdDevs;
    means->resize(static_cast<size_t>(nv));
    cov->resize(static_cast<size_t>(nv) * (nv + 1) / 2);
    for (int32_t i = 0; i < nv; ++i) {
        (*means)[static_cast<size_t>(i)] = sigma[velix::pk(i, k)] * (corr ? d[i] / d[k] : 1.0);
        for (int32_t j = 0; j <= i; ++j)
            (*cov)[velix::pk(i, j)] = corr ? sigma[velix::pk(i, j)] / std::sqrt(s[velix::pk(i, i)] * s[velix::pk(j, j)])
                                           : sigma[velix::pk(i, j)];
    }
    return true;
}

// One OUTSTAT= row per manifest variable: its row of Sigma.  A model with
// means writes its predicted means first, as the data set holds the MEAN
// row before the matrix, in a row without a name, then the rows of its
// covariances: the constant has no variable.
void predicted_moment_rows(const ResultsView& rv) {
    const char* type = predicted_row_type(rv.methods->methodStage);
    const int32_t n = rv.sizes->nManifest, k = results_intercept(rv);
    std::vector<double> means, cov;
    if (k >= 0 && outstat_predicted_moments(rv, k, &means, &cov)) {
        const int32_t nv = rv.sizes->nVar;
        std::vector<double> row(static_cast<size_t>(nv));
        NameRecord blank;
        std::memset(blank.text, ' ', sizeof blank.text);
        blank.length = 0;
        outstat_row(rv, type, blank, means.data(), nv);
        for (int32_t i = 0; i < nv; ++i) {
            for (int32_t j = 0; j < nv; ++j) row[static_cast<size_t>(j)] = cov[velix::pk(i, j)];
            outstat_row(rv, type, rv.input->manifestNames[i], row.data(), nv);
        }
        return;
    }
    std::vector<double> row(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) row[static_cast<size_t>(j)] = rv.eval->implied[velix::pk(i, j)];
        outstat_row(rv, type, rv.input->manifestNames[i], row.data(), n);
    }
}

}  // namespace

void fnulmod(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    const int32_t n = rv.sizes->nManifest;
    const double* s = rv.arrays->momentMatrix;
    const std::vector<double> diagS = diagonal(s, n);
    double f0 = host_missing_value();
    bool solved = true;
    const int32_t k = results_intercept(rv);
    if (k >= 0) {
        // A model with means: the independence model has free means and
        // variances; the constant's moment stays fixed.
        if (rv.methods->methodStage == kMethodMl) {
            f0 = fit_null_ml_means(s, n, k, rv.moments->logDetMoments);
        } else {
            MomentMetric metric;
            metric.method = rv.methods->methodStage;
            metric.weight = rv.arrays->weightMatrix;
            metric.tol = velix::detail::kCheckedFactorBound;
            solved = fit_null_means(metric, s, n, k, &f0);
        }
        if (!solved) xpmlog(kMsgProc, kMsgNullModelSingular);
        rv.results->nullFitValue = f0;
        return;
    }
    switch (rv.methods->methodStage) {
        case kMethodUls: f0 = fit_null_uls(s, n); break;
        case kMethodGls:
            // INWGT= weights measure Sigma0 - S in their own metric; the
            // default weight inverts S.
            f0 = fit_null_gls(rv.arrays->weightMatrix, rv.input->inwgtUsed ? s : nullptr, diagS.data(), n,
                              &solved);
            break;
        case kMethodMl: f0 = fit_null_ml(diagS.data(), n, rv.moments->logDetMoments); break;
        case kMethodWls:
            if (!fit_null_wls(rv.arrays->weightMatrix, s, n, velix::detail::kCheckedFactorBound, &f0, &solved))
                velix::detail::wls_factor_fault();
            break;
        default: f0 = fit_null_dwls(s, rv.arrays->weightMatrix, n); break;
    }
    if (!solved) xpmlog(kMsgProc, kMsgNullModelSingular);
    rv.results->nullFitValue = f0;
}

int32_t cosresi(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    NlpProblem* nlp = rv.nlp;
    nlp->run.evalPhase = kFinalEvaluationPhase;
    if (cosfunc(nlp) != 0 || !rv.eval->valid) {
        xpmlog(kMsgProc, kMsgNoFinalEvaluation);
        raise_error_level(rv.ctx, kLevelNoFinalEvaluation);
        return 0;
    }
    fnulmod(rv.ctx);
    if (rv.dataSets->dataSetHandle[kRoleOutstat] != nullptr) predicted_moment_rows(rv);
    rv.results->logDetModel = log_det_model(rv);
    const FitInputs in = fit_inputs(rv);
    FitNotes notes;
    store_fit_statistics(rv.results, &in, &notes);
    if (notes.criticalNFailed) xpmlog(kMsgProc, kMsgNoCriticalN);

    if (rv.output->kyrManager == nullptr || !rv.options->printEnabled) return 0;
    HostObject* group = open_output_group(rv.output->kyrManager, "FitSummary", kyrmsg(kMsgProc, kMsgFitSummaryGroup));
    if (group == nullptr) return -1;
    int32_t rc = 0;
    if (result_switches(rv.options).printPredModel) rc = print_predicted_moments(rv);
    if (rc >= 0) rc = print_fit_factoid(rv.output->kyrManager, &rv.results->fitStats, &in, &notes);
    close_output_group(group);
    return rc;
}
