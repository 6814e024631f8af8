// Predicted latent moments, latent score coefficients and coefficients of
// determination of a LINEQS or RAM model (see latent_moments.h).
//
//   latent block L and cross block M of the implied covariance; print, and
//       one OUTSTAT= row per latent variable
//   Sigma^-1 M: the score coefficients; print, and OUTSTAT= rows
//   determination of all equations, of the structural equations and of
//       the manifest variables from log-determinants
#include "procedure/results/latent_moments.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "host/output_table.h"
#include "numerics/packed.h"
#include "procedure/data/data.h"
#include "procedure/procedure.h"
#include "procedure/results/equation_statistics.h"
#include "procedure/results/mean_structure.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/types.h"

using velix::pk;

namespace {

constexpr int32_t kPhi = 4;
// The matrices of a RAM model: paths and residual covariances.
constexpr int32_t kRamA = 2, kRamP = 3;
constexpr int32_t kMsgDetManifest = 347, kMsgNoScores = 354, kMsgDetEquations = 358, kMsgDetStructural = 359;
constexpr int32_t kMsgRowEquations = 603, kMsgRowStructural = 604, kMsgRowManifest = 605;
constexpr int32_t kMsgDeterminationTitle = 821, kMsgStructEqTitle = 822, kMsgScoreTitle = 826;
constexpr int32_t kMsgLatentTitle = 830, kMsgManLatTitle = 832;

std::string trimmed(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

// A numbered note in the log and, when printing, in the listing.
void note(const ResultsView& rv, int32_t number) {
    xpmlog(kMsgProc, number);
    if (rv.options->printEnabled && rv.output->kyrManager != nullptr) listing_line(rv.output->kyrManager, kyrmsg(kMsgProc, number));
}

// The residual covariance at (a, b) in either orientation: the _PHI_
// element of a LINEQS model, the _P_ element of a RAM model; 0 when the
// matrix has none there.  With means, the covariance about the means.
double residual_value(const ResultsView& rv, const LatentMomentsInput* in, int32_t a, int32_t b) {
    if (in->residualCentred != nullptr) return in->residualCentred[pk(a, b)];
    const int32_t k = in->ram ? kRamP : kPhi;
    const int32_t first = rv.model->firstElement[k];
    for (int32_t e = first; e < first + rv.model->elementCount[k]; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        if ((r == a && c == b) || (r == b && c == a)) return rv.elements->value[e];
    }
    return 0.0;
}

// The implied covariances of all model variables: with means, those about
// the means.
const double* covariances(const LatentMomentsInput* in) { return in->centred != nullptr ? in->centred : in->cov; }

// ln det of a packed positive definite matrix by Cholesky at `tol`; the
// host missing value when the factorization fails.
double log_det(std::vector<double> a, int32_t n, double tol) {
    double logdet = 0.0;
    if (n < 1 || coscdec(n, tol, &logdet, a.data()) != 0) return host_missing_value();
    return logdet;
}

// Theta over the variables whose exogenous residual index is u (u < 0: no
// residual part, its row and column zero).
std::vector<double> residual_covariance(const ResultsView& rv, const LatentMomentsInput* in,
                                        const std::vector<int32_t>& u) {
    const int32_t n = static_cast<int32_t>(u.size());
    std::vector<double> theta(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            if (u[static_cast<size_t>(i)] >= 0 && u[static_cast<size_t>(j)] >= 0)
                theta[pk(i, j)] = residual_value(rv, in, u[static_cast<size_t>(i)], u[static_cast<size_t>(j)]);
    return theta;
}

// D = 1 - |Theta| / |Sigma_XX| over the variables idx with residual indices
// u; '.' with the message when either determinant is missing.
double determination(const ResultsView& rv, const LatentMomentsInput* in, const std::vector<int32_t>& idx,
                     const std::vector<int32_t>& u, int32_t message) {
    const int32_t n = static_cast<int32_t>(idx.size());
    const double tol = rv.options->singular;
    const double logSigma = log_det(packed_submatrix(covariances(in), idx), n, tol);
    const double logTheta = host_is_missing(logSigma) ? logSigma : log_det(residual_covariance(rv, in, u), n, tol);
    const double d = determination_coefficient(logTheta, logSigma);
    if (host_is_missing(d)) note(rv, message);
    return d;
}

// The variables of the structural equations: those named by STRUCTEQ,
// else, in a LINEQS model, those that a _BETA_ element joins to another
// endogenous variable, and in a RAM model those with a path in and a path
// out, or with a path in from a variable that has a path in itself.
std::vector<int32_t> structural_variables(const ResultsView& rv, const LatentMomentsInput* in) {
    std::vector<int32_t> s;
    std::vector<bool> in_set(static_cast<size_t>(in->nAll), false);
    if (rv.sizes->nStructEq > 0) {
        for (int32_t v = 0; v < in->nAll; ++v)
            for (int32_t k = 0; k < rv.sizes->nStructEq; ++k) {
                const std::string a = trimmed(rv.readers->columnNames[v]), b = trimmed(rv.readers->structEqNames[k]);
                if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
                    }))
                    in_set[static_cast<size_t>(v)] = true;
            }
    } else if (in->ram) {
        const int32_t first = rv.model->firstElement[kRamA], count = rv.model->elementCount[kRamA];
        std::vector<bool> pathIn(static_cast<size_t>(in->nAll), false), pathOut(pathIn);
        for (int32_t e = first; e < first + count; ++e) {
            pathIn[static_cast<size_t>(rv.elements->row[e])] = true;
            pathOut[static_cast<size_t>(rv.elements->column[e])] = true;
        }
        for (int32_t e = first; e < first + count; ++e) {
            const size_t r = static_cast<size_t>(rv.elements->row[e]);
            if (pathOut[r] || pathIn[static_cast<size_t>(rv.elements->column[e])]) in_set[r] = true;
        }
    } else {
        constexpr int32_t kBeta = 2;
        const int32_t first = rv.model->firstElement[kBeta];
        for (int32_t e = first; e < first + rv.model->elementCount[kBeta]; ++e) {
            const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
            if (r < in->nEndo && c < in->nEndo) in_set[static_cast<size_t>(r)] = in_set[static_cast<size_t>(c)] = true;
        }
    }
    for (int32_t v = 0; v < in->nAll; ++v)
        if (in_set[static_cast<size_t>(v)]) s.push_back(v);
    return s;
}

// The residual index of each variable of idx: an endogenous variable's
// error term, an exogenous variable itself (in a RAM model every variable
// itself).  *complete (out) is false when an endogenous variable has no
// error term.
std::vector<int32_t> residual_indices(const LatentMomentsInput* in, const std::vector<int32_t>& idx, bool* complete) {
    std::vector<int32_t> u;
    *complete = true;
    if (in->ram) return idx;
    for (int32_t v : idx) {
        const int32_t r = v < in->nEndo ? in->errorTerm[v] : v - in->nEndo;
        if (r < 0) *complete = false;
        u.push_back(r);
    }
    return u;
}

void print_determination(const ResultsView& rv, const LatentMomentsInput* in, int32_t nLatent,
                         const std::vector<int32_t>& manifest) {
    std::vector<double> values;
    std::vector<int32_t> labels;
    std::vector<int32_t> endo;
    for (int32_t i = 0; i < (in->ram ? in->nAll : in->nEndo); ++i)
        if (!in->ram || rv.readers->incomingPaths[i] > 0) endo.push_back(i);
    bool complete = true;
    if (!endo.empty()) {
        const std::vector<int32_t> u = residual_indices(in, endo, &complete);
        values.push_back(determination(rv, in, endo, u, kMsgDetEquations));
        labels.push_back(kMsgRowEquations);
    }
    const std::vector<int32_t> s = structural_variables(rv, in);
    if (!s.empty()) {
        const std::vector<int32_t> u = residual_indices(in, s, &complete);
        values.push_back(determination(rv, in, s, u, kMsgDetStructural));
        labels.push_back(kMsgRowStructural);
    }
    if (nLatent > 0) {
        // With means, the variables without the constant, against their
        // covariances: |M| = |S| m_kk for the moments about zero M.
        std::vector<int32_t> vars;
        for (int32_t v : manifest)
            if (v != in->intercept) vars.push_back(v);
        double logDetS = rv.moments->logDetMoments;
        const int32_t k = results_intercept(rv);
        if (in->centred != nullptr && k >= 0 && !host_is_missing(logDetS))
            logDetS -= std::log(rv.arrays->momentMatrix[pk(k, k)]);
        const std::vector<int32_t> u = residual_indices(in, vars, &complete);
        double d = host_missing_value();
        if (complete) {
            const int32_t n = static_cast<int32_t>(vars.size());
            const double logTheta = log_det(residual_covariance(rv, in, u), n, rv.options->singular);
            d = determination_coefficient(logTheta, logDetS);
            if (host_is_missing(d)) note(rv, kMsgDetManifest);
        }
        values.push_back(d);
        labels.push_back(kMsgRowManifest);
    }
    if (!rv.options->printEnabled || rv.output->kyrManager == nullptr || values.empty()) return;
    cosput(rv.ctx, kyrtxt("Determination", -1), kMsgDeterminationTitle, kyrtxt("Determination", -1),
           static_cast<int32_t>(values.size()), values.data(), labels.data(), kyrtxt("Tesk.Velix.Determination", -1));
    if (s.empty()) return;
    OutputTable t(rv.output->kyrManager, "StructEq", kyrmsg(kMsgProc, kMsgStructEqTitle), "Tesk.Velix.StructEq");
    for (int32_t v : s) t.name_column(trimmed(rv.readers->columnNames[v]));
    if (t.end_columns() && t.add_row()) t.deliver();
}

// The block (a, j) of the packed `cov` over the variables rows (a) and
// columns (j), rows.size() x columns.size() row-major.
std::vector<double> cross_block(const double* cov, const std::vector<int32_t>& rows, const std::vector<int32_t>& columns) {
    std::vector<double> m;
    m.reserve(rows.size() * columns.size());
    for (int32_t a : rows)
        for (int32_t j : columns) m.push_back(cov[pk(a, j)]);
    return m;
}

// A matrix table of the latent results, with the display entry of the
// analysed matrix's kind.
void publish(const ResultsView& rv, const char* name, int32_t title, const double* values, int32_t rows, int32_t columns,
             const NameRecord* rowLabels, const NameRecord* columnLabels, const char* storage) {
    const int32_t style = rv.options->covAnalysis || rv.input->dataType[0] != ' ' ? 0 : 7;
    (void)velix::detail::publish_matrix(rv.ctx, name, title, values, rows, columns, rowLabels, columnLabels, storage,
                                        style);
}

}  // namespace

void lineqs_variable_indices(const ResultsView& rv, std::vector<int32_t>* latent, std::vector<int32_t>* manifest) {
    latent->clear();
    manifest->clear();
    const int32_t nAll = rv.readers->nColumnNames;
    std::vector<bool> isManifest(static_cast<size_t>(nAll), false);
    for (int32_t m = 0; m < rv.sizes->nManifest; ++m) {
        const int32_t v = rv.readers->varPosition[m];
        manifest->push_back(v);
        if (v >= 0 && v < nAll) isManifest[static_cast<size_t>(v)] = true;
    }
    for (int32_t v = 0; v < nAll; ++v) {
        const NameRecord& r = rv.readers->columnNames[v];
        if (!isManifest[static_cast<size_t>(v)] && r.length > 0 && std::toupper(static_cast<unsigned char>(r.text[0])) == 'F')
            latent->push_back(v);
    }
}

std::vector<double> packed_submatrix(const double* cov, const std::vector<int32_t>& idx) {
    const int32_t n = static_cast<int32_t>(idx.size());
    std::vector<double> out(static_cast<size_t>(n) * (n + 1) / 2);
    for (int32_t a = 0; a < n; ++a)
        for (int32_t b = 0; b <= a; ++b) out[pk(a, b)] = cov[pk(idx[static_cast<size_t>(a)], idx[static_cast<size_t>(b)])];
    return out;
}

bool latent_score_coefficients(const double* sigma, int32_t n, const double* m, int32_t k, double tol,
                               std::vector<double>* w) {
    std::vector<double> inv(sigma, sigma + static_cast<size_t>(n) * (n + 1) / 2);
    double det[2];
    if (coschin(n, tol, det, inv.data()) != 0) return false;
    w->assign(static_cast<size_t>(n) * k, 0.0);
    for (int32_t j = 0; j < k; ++j)
        for (int32_t a = 0; a < n; ++a) {
            double sum = 0.0;
            for (int32_t b = 0; b < n; ++b) sum += inv[pk(a, b)] * m[static_cast<size_t>(b) * k + j];
            (*w)[static_cast<size_t>(j) * n + a] = sum;
        }
    return true;
}

const char* predicted_row_type(int32_t method) {
    switch (method) {
        case kMethodUls: return "ULSPRED";
        case kMethodGls: return "GLSPRED";
        case kMethodMl: return "MAXPRED";
        case kMethodWls: return "WLSPRED";
        default: return "DWLSPRED";
    }
}

void outstat_row(const ResultsView& rv, const char* type, const NameRecord& name, const double* values, int32_t n) {
    std::memset(rv.dataSets->outRow.type, ' ', sizeof rv.dataSets->outRow.type);
    std::memcpy(rv.dataSets->outRow.type, type, std::min(std::strlen(type), sizeof rv.dataSets->outRow.type));
    std::memset(rv.dataSets->outRow.name.text, ' ', sizeof rv.dataSets->outRow.name.text);
    std::memcpy(rv.dataSets->outRow.name.text, name.text, static_cast<size_t>(std::clamp<int16_t>(name.length, 0, 32)));
    rv.dataSets->outRow.name.length = 32;
    std::copy(values, values + std::min(n, rv.sizes->nVar), rv.cells->rowValues);
    cos_write_row(rv.ctx, kRoleOutstat);
}

void latent_results(const ResultsView& rv, const LatentMomentsInput* in, const ResultSwitches& sw) {
    std::vector<int32_t> latent, manifest;
    if (in->ram) {
        for (int32_t v = 0; v < in->nAll; ++v) (v < rv.sizes->nManifest ? manifest : latent).push_back(v);
    } else {
        lineqs_variable_indices(rv, &latent, &manifest);
    }
    const int32_t k = static_cast<int32_t>(latent.size()), n = static_cast<int32_t>(manifest.size());
    const bool outstat = rv.dataSets->dataSetHandle[kRoleOutstat] != nullptr;
    const bool print = sw.printPredictedLatent && rv.options->printEnabled && rv.output->kyrManager != nullptr;
    if (k > 0 && (print || outstat)) {
        std::vector<NameRecord> names;
        for (int32_t v : latent) names.push_back(rv.readers->columnNames[v]);
        const std::vector<double> l = packed_submatrix(covariances(in), latent);
        const std::vector<double> m = cross_block(covariances(in), manifest, latent);
        if (print) {
            publish(rv, "PredMomentLatent", kMsgLatentTitle, l.data(), k, k, names.data(), names.data(), "sc");
            publish(rv, "PredMomentManLat", kMsgManLatTitle, m.data(), n, k, rv.input->manifestNames, names.data(),
                    "rc");
        }
        std::vector<double> column(static_cast<size_t>(n));
        if (outstat)
            for (int32_t j = 0; j < k; ++j) {
                for (int32_t a = 0; a < n; ++a) column[static_cast<size_t>(a)] = m[static_cast<size_t>(a) * k + j];
                outstat_row(rv, predicted_row_type(rv.methods->methodStage), names[static_cast<size_t>(j)], column.data(), n);
            }
        // The scores regress on the moments about zero (see latent_moments.h).
        const std::vector<double> sigma = packed_submatrix(in->cov, manifest);
        const std::vector<double> cross = in->centred != nullptr ? cross_block(in->cov, manifest, latent) : m;
        std::vector<double> w;
        if (!latent_score_coefficients(sigma.data(), n, cross.data(), k, rv.options->singular, &w)) {
            note(rv, kMsgNoScores);
        } else {
            if (print)
                publish(rv, "LatentScoreCoef", kMsgScoreTitle, w.data(), n, k, rv.input->manifestNames, names.data(),
                        "cc");
            if (outstat)
                for (int32_t j = 0; j < k; ++j)
                    outstat_row(rv, rv.methods->methodStage == kMethodUls ? "LSSCORE" : "SCORE", names[static_cast<size_t>(j)],
                                w.data() + static_cast<size_t>(j) * n, n);
        }
    }
    if (sw.printDetermination) print_determination(rv, in, k, manifest);
}
