// The results of a FACTOR model: the estimated loadings with their
// OUTSTAT= rows, the orthomax rotations (quartimax, varimax, equamax,
// parsimax: Harman, Modern Factor Analysis, 3rd ed. 1976, ch. 14) or the
// principal axes of L'L with the reflection of each rotated factor to a
// positive sum of cubes, then the standardized loadings, the squared
// multiple correlations, the factor correlations, the coefficients of
// determination and the regression score coefficients
// B = Sigma^-1 Lambda Phi of the reported loadings (Thurstone; Lawley and
// Maxwell 1971, ch. 8).
//
//   arrays -> loadings, factor covariances, unique variances -> unrotated
//   rows -> rotation -> reflection -> rotated tables and rows -> Sigma at
//   the estimates -> standardized loadings -> SqMultCorr -> FactCorrExog
//   -> Determination -> score coefficients
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "host/message_text.h"
#include "host/output_table.h"
#include "numerics/eigen.h"
#include "numerics/orthomax.h"
#include "numerics/packed.h"
#include "numerics/tridiag.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/procedure.h"
#include "procedure/results/latent_moments.h"
#include "procedure/results/results.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace {

constexpr int32_t kMsgEstimationGroup = 780, kMsgSupplementaryGroup = 800;
constexpr int32_t kMsgRotationNeedsIdentity = 349, kMsgRotationOfMatrices = 350,
                  kMsgRotationFailed = 351, kMsgFactorRowsLeftOut = 352, kMsgNoFactorEvaluation = 354;
constexpr int32_t kMsgRotation = 793, kMsgRotatedLoadings = 794, kMsgSqMultCorr = 804, kMsgFactCorr = 806,
                  kMsgStdLoadings = 807, kMsgDeterminationTitle = 821, kMsgScoreCoef = 827;
constexpr int32_t kMsgRowModel = 603, kMsgRowData = 605;
constexpr double kEvaluationPhase = 20.0;
constexpr double kLogDblMax = 709.782712893384;

// The rotation codes of ROTATE=.
constexpr int32_t kRotateNone = 1, kRotateQuartimax = 2, kRotateVarimax = 3, kRotateEquamax = 4,
                  kRotateParsimax = 5, kRotatePrincipal = 10;

// The working state of one call: L and its untouched copy by columns
// (entry (i, j) at j n + i), P packed, T by vectors (vector j at j m).
struct FactorWork {
    int32_t n = 0, m = 0;
    int32_t fMatrix = 0, pMatrix = 0, uMatrix = 0;  // 0 when the model has none
    std::vector<double> modelVar, uniqueVar, factorVar, loadings, loadings0, factorCov, rotation;
    std::vector<NameRecord> names;
    bool pIdentity = true;
};

double missing() { return host_missing_value(); }

template <typename Visit>
void each_element(const ResultsView& rv, int32_t k, Visit visit) {
    const ModelMatrixTable& mt = *rv.model;
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
        visit(e, rv.elements->row[e], rv.elements->column[e], rv.elements->value[e]);
}

// The unique variances: the diagonal of _U_, squared when _U_ holds
// standard deviations (the _U_ _I_ _U_' form).
void unique_variances(const ResultsView& rv, FactorWork* w) {
    w->uniqueVar.assign(static_cast<size_t>(w->n), 0.0);
    if (w->uMatrix == 0) return;
    each_element(rv, w->uMatrix, [&](int32_t, int32_t r, int32_t c, double v) {
        if (r == c && r < w->n) w->uniqueVar[r] = v;
    });
    if (rv.readers->factorIdentity)
        for (double& u : w->uniqueVar) u *= u;
}

void factor_names(const ResultsView& rv, FactorWork* w) {
    const ModelMatrixTable& mt = *rv.model;
    const int32_t first = mt.firstColumnName != nullptr ? mt.firstColumnName[w->fMatrix] : 0;
    for (int32_t j = 0; j < w->m; ++j) {
        if (rv.readers->nColumnNames > 0 && first > 0 && first - 1 + j < rv.readers->nColumnNames) {
            NameRecord r = rv.readers->columnNames[first - 1 + j];
            r.length = static_cast<int16_t>(wzstrip(r.text, std::clamp<int32_t>(r.length, 0, 32)));
            w->names.push_back(r);
        } else {
            NameRecord r;
            znamfix(0, "FACT", 4, j + 1, 0, r.text, 32);
            r.length = static_cast<int16_t>(wzstrip(r.text, 32));
            w->names.push_back(r);
        }
    }
}

void read_model(const ResultsView& rv, FactorWork* w) {
    const int32_t n = w->n, m = w->m;
    w->loadings.assign(static_cast<size_t>(n) * m, 0.0);
    each_element(rv, w->fMatrix, [&](int32_t, int32_t r, int32_t c, double v) {
        if (r < n && c < m) w->loadings[static_cast<size_t>(c) * n + r] = v;
    });
    w->loadings0 = w->loadings;
    w->factorCov.assign(static_cast<size_t>(m) * (m + 1) / 2, 0.0);
    w->pIdentity = rv.model->type[w->pMatrix] == kMatIdentity;
    if (w->pIdentity) {
        for (int32_t j = 0; j < m; ++j) w->factorCov[velix::pk(j, j)] = 1.0;
    } else {
        each_element(rv, w->pMatrix, [&](int32_t, int32_t r, int32_t c, double v) {
            if (r < m && c < m) w->factorCov[velix::pk(r, c)] = v;
        });
    }
    w->rotation.assign(static_cast<size_t>(m) * m, 0.0);
    for (int32_t j = 0; j < m; ++j) w->rotation[static_cast<size_t>(j) * m + j] = 1.0;
}

// OUTSTAT= rows of one kind, a row per factor: the m values of `columnOf`
// j followed by missing values up to n.
template <typename Column>
void factor_rows(const ResultsView& rv, const FactorWork& w, const char* type, int32_t width, Column columnOf) {
    std::vector<double> row(static_cast<size_t>(std::max(w.n, 1)), missing());
    for (int32_t j = 0; j < w.m; ++j) {
        const double* values = columnOf(j);
        std::copy(values, values + width, row.begin());
        outstat_row(rv, type, w.names[j], row.data(), w.n);
    }
}

bool outstat_given(const ResultsView& rv) { return rv.dataSets->dataSetHandle[kRoleOutstat] != nullptr; }

void unrotated_rows(const ResultsView& rv, const FactorWork& w) {
    if (!outstat_given(rv)) return;
    factor_rows(rv, w, "UNROTATE", w.n, [&](int32_t j) { return &w.loadings[static_cast<size_t>(j) * w.n]; });
    // The factor correlations and the rotation fill m of the n values; a
    // model with more factors than variables has no room for them.
    if (w.m <= w.n) {
        std::vector<double> full(static_cast<size_t>(w.m) * w.m);
        for (int32_t j = 0; j < w.m; ++j)
            for (int32_t k = 0; k < w.m; ++k) full[static_cast<size_t>(j) * w.m + k] = w.factorCov[velix::pk(j, k)];
        factor_rows(rv, w, "FCORR", w.m, [&](int32_t j) { return &full[static_cast<size_t>(j) * w.m]; });
    } else {
        xpmlog(kMsgProc, kMsgFactorRowsLeftOut);
    }
    NameRecord blank;
    std::memset(blank.text, ' ', 8);
    blank.length = 8;
    outstat_row(rv, "UNIQUE_V", blank, w.uniqueVar.data(), w.n);
}

// The orthomax weight gamma of a rotation code.
double orthomax_gamma(int32_t code, int32_t n, int32_t m) {
    switch (code) {
        case kRotateQuartimax: return 0.0;
        case kRotateVarimax: return 1.0;
        case kRotateEquamax: return m / 2.0;
        case kRotateParsimax: return n + m - 2 != 0 ? static_cast<double>(n) * (m - 1) / (n + m - 2) : 1.0;
        default: return 1.0;
    }
}

// Rotates L (and T from the identity) as `code` asks; false after a
// failed eigen decomposition or rotation (message 351).
bool rotate(FactorWork* w, int32_t code) {
    const int32_t n = w->n, m = w->m;
    const bool normalize = code < 0;
    code = std::abs(code);
    std::vector<double> a(static_cast<size_t>(std::max(n, m))), b(static_cast<size_t>(std::max(n, m)));
    if (code == kRotatePrincipal) {
        // The principal axes of L'L: the loadings on its eigenvectors, in
        // decreasing order of the eigenvalues.
        std::vector<double>& t = w->rotation;
        for (int32_t j = 0; j < m; ++j)
            for (int32_t k = 0; k < m; ++k) {
                double s = 0.0;
                for (int32_t i = 0; i < n; ++i)
                    s += w->loadings[static_cast<size_t>(j) * n + i] * w->loadings[static_cast<size_t>(k) * n + i];
                t[static_cast<size_t>(j) * m + k] = s;
            }
        ztred2(m, t.data(), a.data(), b.data());
        if (ztql2(m, t.data(), a.data(), b.data(), '1') != 0) return false;
        zeigref(m, m, t.data());
        const std::vector<double> old = w->loadings;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < m; ++j) {
                double s = 0.0;
                for (int32_t k = 0; k < m; ++k) s += old[static_cast<size_t>(k) * n + i] * t[static_cast<size_t>(j) * m + k];
                w->loadings[static_cast<size_t>(j) * n + i] = s;
            }
        return true;
    }
    return zortmax(orthomax_gamma(code, n, m), normalize ? 1 : 0, n, m, w->loadings.data(), w->rotation.data(),
                   a.data(), b.data()) == 0;
}

// A rotated factor whose loadings have a negative sum of cubes is
// reflected, in L and in its vector of T.
void reflect(FactorWork* w) {
    for (int32_t j = 0; j < w->m; ++j) {
        double* col = &w->loadings[static_cast<size_t>(j) * w->n];
        double cubes = 0.0;
        for (int32_t i = 0; i < w->n; ++i) cubes += col[i] * col[i] * col[i];
        if (cubes >= 0.0) continue;
        for (int32_t i = 0; i < w->n; ++i) col[i] = -col[i];
        for (int32_t k = 0; k < w->m; ++k) w->rotation[static_cast<size_t>(j) * w->m + k] *= -1.0;
    }
}

// Display entry 278 of the matrix tables over the manifest variables:
// correlations unless covariances or moment data are analysed.
int32_t manifest_style(const ResultsView& rv) {
    return rv.options->covAnalysis || !rv.input->rawData ? 0 : 7;
}

bool publish(const ResultsView& rv, const char* name, int32_t title, const double* values, int32_t rows,
             int32_t cols, const NameRecord* rowLabels, const NameRecord* colLabels, const char* storage,
             int32_t style) {
    return velix::detail::publish_matrix(rv.ctx, name, title, values, rows, cols, rowLabels, colLabels, storage,
                                         style) >= 0;
}

// Steps 8 to 11 of the loadings: rotation, reflection, the tables and the
// rows.  False when the results of the group end here.
bool rotation_step(const ResultsView& rv, FactorWork* w, bool printModel) {
    const int32_t code = rv.options->rotation;
    if (code == kRotateNone || w->m <= 1) return true;
    if (!w->pIdentity) {
        xpmlog(kMsgProc, kMsgRotationNeedsIdentity);
        return true;
    }
    if (rv.readers->matrixSpec > 1) xpmlog(kMsgProc, kMsgRotationOfMatrices);
    if (!rotate(w, code)) {
        xpmlog(kMsgProc, kMsgRotationFailed);
        return false;
    }
    reflect(w);
    if (printModel && rv.output->kyrManager != nullptr) {
        if (!publish(rv, "RotatedLoadings", kMsgRotatedLoadings, w->loadings.data(), w->n, w->m,
                     rv.input->manifestNames, w->names.data(), "cc", manifest_style(rv)) ||
            !publish(rv, "Rotation", kMsgRotation, w->rotation.data(), w->m, w->m, w->names.data(),
                     w->names.data(), "rc", 6))
            return false;
    }
    if (outstat_given(rv)) {
        if (w->m <= w->n)
            factor_rows(rv, *w, "TRANSFOR", w->m, [&](int32_t j) { return &w->rotation[static_cast<size_t>(j) * w->m]; });
        factor_rows(rv, *w, "LOADINGS", w->n, [&](int32_t j) { return &w->loadings[static_cast<size_t>(j) * w->n]; });
    }
    return true;
}

// The model-implied moment matrix at the estimates (phase 20); false after
// a failed evaluation (message 354, with a note when printing).
bool evaluate(const ResultsView& rv, FactorWork* w) {
    NlpProblem* nlp = rv.nlp;
    nlp->evalPhase = kEvaluationPhase;
    // This phase forms the implied moments alone (no discrepancy).
    const int32_t rc = cosfunc(nlp);
    nlp->evalPhase = -1.0;
    if (rc != 0) {
        xpmlog(kMsgProc, kMsgNoFactorEvaluation);
        if (rv.options->printEnabled && rv.output->kyrManager != nullptr)
            kyr_note(rv.output->kyrManager, kyrmsg(kMsgProc, kMsgNoFactorEvaluation), 'l');
        return false;
    }
    w->modelVar.resize(static_cast<size_t>(w->n));
    for (int32_t i = 0; i < w->n; ++i) w->modelVar[i] = rv.eval->implied[velix::pk(i, i)];
    w->factorVar.assign(static_cast<size_t>(w->m), 1.0);
    if (w->m > 0 && !w->pIdentity) {
        std::fill(w->factorVar.begin(), w->factorVar.end(), 0.0);
        each_element(rv, w->pMatrix, [&](int32_t, int32_t r, int32_t c, double v) {
            if (r == c && r < w->m) w->factorVar[r] = v;
        });
    }
    return true;
}

// Standardized loadings in place: L(i, j) sqrt(phi_j) / sqrt(sigma_ii),
// missing where a variance is not positive.
void standardize(FactorWork* w) {
    for (int32_t i = 0; i < w->n; ++i) {
        const bool ok = w->modelVar[i] > DBL_MIN;
        const double s = ok ? 1.0 / std::sqrt(w->modelVar[i]) : 0.0;
        for (int32_t j = 0; j < w->m; ++j) {
            double& l = w->loadings[static_cast<size_t>(j) * w->n + i];
            l = ok && w->factorVar[j] >= 0.0 ? l * s * std::sqrt(w->factorVar[j]) : missing();
        }
    }
}

bool squared_multiple_correlations(const ResultsView& rv, const FactorWork& w) {
    OutputTable t(rv.output->kyrManager, "SqMultCorr", kyrmsg(kMsgProc, kMsgSqMultCorr), "Tesk.Velix.SqMultCorr");
    t.int_column("Index");
    t.text_column("Variable", std::max<int32_t>(rv.input->varNameWidth, 1));
    t.double_column("ErrorVar");
    t.double_column("TotalVar");
    t.double_column("RSquare");
    if (!t.end_columns()) return false;
    for (int32_t i = 0; i < w.n; ++i) {
        const NameRecord& name = rv.input->manifestNames[i];
        t.set_int(0, i + 1);
        t.set_text(1, std::string(name.text, static_cast<size_t>(std::clamp<int16_t>(name.length, 0, 32))));
        t.set_double(2, w.uniqueVar[i]);
        t.set_double(3, w.modelVar[i]);
        t.set_double(4, w.modelVar[i] > DBL_MIN ? 1.0 - w.uniqueVar[i] / w.modelVar[i] : missing());
        if (!t.add_row()) return false;
    }
    return t.deliver();
}

// The correlations among the factors, one row per off-diagonal element of
// _P_.  The names come from _P_'s columns.
bool factor_correlations(const ResultsView& rv, const FactorWork& w) {
    const ModelMatrixTable& mt = *rv.model;
    const int32_t type = mt.type[w.pMatrix];
    if (w.m == 0 || type == kMatDiagonal || type == kMatIdentity) return true;
    OutputTable t(rv.output->kyrManager, "FactCorrExog", kyrmsg(kMsgProc, kMsgFactCorr), "Tesk.Velix.FactCorrExog");
    const int32_t nameWidth = std::max<int32_t>(rv.readers->colNameWidth, 1);
    t.int_column("Row");
    t.int_column("Col");
    t.text_column("RowName", nameWidth);
    t.text_column("ColName", nameWidth);
    t.text_column("Parameter", std::max<int32_t>(rv.readers->parmNameWidth, 8));
    t.double_column("Estimate");
    if (!t.end_columns()) return false;
    const int32_t first = mt.firstColumnName != nullptr ? mt.firstColumnName[w.pMatrix] : 0;
    auto column_name = [&](int32_t c) {
        if (first <= 0 || first - 1 + c >= rv.readers->nColumnNames) return std::string();
        const NameRecord& r = rv.readers->columnNames[first - 1 + c];
        std::string s(r.text, static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32)));
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    bool ok = true;
    each_element(rv, w.pMatrix, [&](int32_t e, int32_t r, int32_t c, double v) {
        if (!ok || r == c) return;
        const double pr = w.factorVar[r], pc = w.factorVar[c];
        const bool valid = !wzmis(pr) && !wzmis(pc) && pr > 0.0 && pc > 0.0;
        const int32_t p = std::abs(rv.elements->parameter[e]);
        t.set_int(0, r + 1);
        t.set_int(1, c + 1);
        t.set_text(2, column_name(r));
        t.set_text(3, column_name(c));
        t.set_text(4, p != 0 ? std::string(rv.nlp->paramNames[p - 1].text,
                                           static_cast<size_t>(std::clamp<int16_t>(rv.nlp->paramNames[p - 1].length, 0, 32)))
                             : std::string("    .   "));
        t.set_double(5, valid ? v / (std::sqrt(pr) * std::sqrt(pc)) : missing());
        ok = t.add_row();
    });
    return ok && t.deliver();
}

// 1 - |U| / |Sigma| and 1 - |U| / |S|, from log-determinants; missing where
// a determinant is missing.  No table when a unique variance is not
// positive.
void determination(const ResultsView& rv, const FactorWork& w) {
    double sumLog = 0.0;
    for (double u : w.uniqueVar) {
        if (!(u > DBL_MIN)) return;
        sumLog += std::log(u);
    }
    const double logDetModel = rv.results->logDetModel, logDetData = rv.moments->logDetMoments;
    const auto one_minus = [&](double logDet) {
        if (wzmis(logDet) || logDet == -DBL_MAX) return missing();
        // |U| / |M| = exp(sum ln u - ln |M|), formed in logs so that neither
        // determinant overflows on its own.
        return 1.0 - std::exp(std::min(sumLog - logDet, kLogDblMax));
    };
    const double values[2] = {one_minus(logDetModel), one_minus(logDetData)};
    const int32_t labels[2] = {kMsgRowModel, kMsgRowData};
    if (!rv.options->printEnabled || rv.output->kyrManager == nullptr) return;
    cosput(rv.ctx, kyrtxt("Determination", -1), kMsgDeterminationTitle, kyrtxt("Determination", -1), 2, values,
           labels, kyrtxt("Tesk.Velix.Determination", -1));
}

// B = Sigma^-1 Lambda Phi from the loadings and factor covariances as
// estimated, never the rotated loadings: the score rows of OUTSTAT= stand
// beside the UNROTATE and TRANSFOR rows that rotate them.  False after a
// singular Sigma (message 354).
bool score_coefficients(const ResultsView& rv, FactorWork* w, bool printModel) {
    const int32_t n = w->n, m = w->m;
    std::vector<double> inverse(rv.eval->implied, rv.eval->implied + rv.sizes->nMoments);
    double det[2] = {};  // mantissa and power of ten
    if (coschin(n, rv.options->singular, det, inverse.data()) != 0) {
        xpmlog(kMsgProc, kMsgNoFactorEvaluation);
        if (rv.options->printEnabled && rv.output->kyrManager != nullptr)
            kyr_note(rv.output->kyrManager, kyrmsg(kMsgProc, kMsgNoFactorEvaluation), 'l');
        return false;
    }
    std::vector<double> sl(static_cast<size_t>(n) * m, 0.0), b(sl.size(), 0.0);
    for (int32_t j = 0; j < m; ++j)
        for (int32_t i = 0; i < n; ++i) {
            double s = 0.0;
            for (int32_t k = 0; k < n; ++k) s += inverse[velix::pk(i, k)] * w->loadings0[static_cast<size_t>(j) * n + k];
            sl[static_cast<size_t>(j) * n + i] = s;
        }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < m; ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < m; ++k) s += sl[static_cast<size_t>(k) * n + i] * w->factorCov[velix::pk(k, j)];
            b[static_cast<size_t>(j) * n + i] = s;
        }
    if (printModel && rv.output->kyrManager != nullptr &&
        !publish(rv, "FactScoreCoef", kMsgScoreCoef, b.data(), n, m, rv.input->manifestNames, w->names.data(),
                 "cc", manifest_style(rv)))
        return false;
    if (outstat_given(rv))
        factor_rows(rv, *w, rv.methods->methodStage == kMethodUls ? "LSSCORE" : "SCORE", n,
                    [&](int32_t j) { return &b[static_cast<size_t>(j) * n]; });
    return true;
}

void supplementary(const ResultsView& rv, FactorWork* w, const ResultSwitches& sw) {
    if (!evaluate(rv, w)) return;
    HostObject*& estimation = rv.output->kyrGroups[kGroupEstimationResults];
    close_output_group(estimation);
    estimation = nullptr;
    if (rv.output->kyrGroups[kGroupSupplementary] == nullptr && rv.output->kyrManager != nullptr && rv.options->printEnabled)
        rv.output->kyrGroups[kGroupSupplementary] =
            open_output_group(rv.output->kyrManager, "SupplementaryResults", kyrmsg(kMsgProc, kMsgSupplementaryGroup));
    const bool printModel = sw.printModel && rv.output->kyrManager != nullptr;
    if (w->m > 0) {
        standardize(w);
        if (printModel && !publish(rv, "StdLoadings", kMsgStdLoadings, w->loadings.data(), w->n, w->m,
                                   rv.input->manifestNames, w->names.data(), "cc", manifest_style(rv)))
            return;
        if (outstat_given(rv))
            factor_rows(rv, *w, "STD_LOAD", w->n, [&](int32_t j) { return &w->loadings[static_cast<size_t>(j) * w->n]; });
    }
    if (printModel && !squared_multiple_correlations(rv, *w)) return;
    if (printModel && !factor_correlations(rv, *w)) return;
    if (sw.printDetermination) determination(rv, *w);
    if (w->m > 0 && (outstat_given(rv) || printModel)) score_coefficients(rv, w, printModel);
}

}  // namespace

void cospfac(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    FactorWork w;
    w.n = rv.sizes->nManifest;
    w.m = rv.readers->nFactors;
    const bool unique = !rv.readers->factorNoUnique;
    if (w.m > 0) {
        w.fMatrix = 1;
        w.pMatrix = 2;
        w.uMatrix = unique ? 3 : 0;
    } else {
        w.uMatrix = 1;
    }
    const ResultSwitches sw = result_switches(rv.options);
    if (rv.output->kyrGroups[kGroupEstimationResults] == nullptr && rv.output->kyrManager != nullptr && rv.options->printEnabled)
        rv.output->kyrGroups[kGroupEstimationResults] =
            open_output_group(rv.output->kyrManager, "EstimationResults", kyrmsg(kMsgProc, kMsgEstimationGroup));
    unique_variances(rv, &w);
    if (w.m > 0) {
        factor_names(rv, &w);
        read_model(rv, &w);
        unrotated_rows(rv, w);
        if (!rotation_step(rv, &w, sw.printModel)) {
            zmsgsav(0, 0, nullptr, 0);
            return;
        }
    }
    supplementary(rv, &w, sw);
    zmsgsav(0, 0, nullptr, 0);
}
