// The results of a RAM model (McArdle and McDonald 1984: the variables v
// = A v + u with Cov(u) = P, so that the implied covariance of all model
// variables is (I - A)^-1 P (I - A)^-T): the list of the model's matrix
// elements with their estimates, standard errors and t values, then the
// paths in the metric of standard deviations, the squared multiple
// correlations and the correlations of the residual parts (Bollen 1989,
// Structural Equations with Latent Variables, ch. 4 and 8), and the
// derived statistics of the latent variables.
//
//   cospram: modes 1, 2 open the estimation group
//            unless in matrix form: parameter vectors, the element list
//            close the estimation group; modes 1, 2 open the supplementary
//            group; mode 0 or a model of another kind ends here
//            implied moments of all variables; standardized paths, squared
//            multiple correlations, residual correlations
//            latent moments, scores, determination; added parameters
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/message_text.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/lu.h"
#include "procedure/results/equation_statistics.h"
#include "procedure/results/latent_moments.h"
#include "procedure/results/mean_structure.h"
#include "procedure/results/printer_support.h"
#include "procedure/results/results.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/model_echo.h"
#include "velix/packed_index.h"

using velix::detail::close_estimation_group;
using velix::detail::open_results_group;
using velix::detail::blank_missing;
using velix::detail::record_text;
using velix::detail::about_zero_note;
using velix::detail::MomentsAboutZero;

namespace {

// The matrices of a RAM model, by number.
constexpr int32_t kIde = 1, kPaths = 2, kResiduals = 3;
// The Parameter cell of a fixed element.
const char* const kFixedMarker = ".       ";

constexpr int32_t kMsgEstimationGroup = 780, kMsgSupplementaryGroup = 800;
constexpr int32_t kMsgList = 709, kMsgStdPaths = 803, kMsgSqMultCorr = 804, kMsgCorr = 805;

double missing() { return host_missing_value(); }
bool is_missing(double x) { return host_is_missing(x) || std::isnan(x); }

// The model as the printer reads it.
struct RamModel {
    ResultsView rv;
    int32_t nAll = 0;
    int32_t varWidth = 1, parmWidth = 0;

    explicit RamModel(const ResultsView& view) : rv(view) {
        nAll = rv.model->rows[kResiduals];
        varWidth = std::max(rv.readers->colNameWidth, 1);
        parmWidth = rv.readers->parmNameWidth;
    }
    const ModelMatrixTable& mt() const { return *rv.model; }
    int32_t parameter(int32_t e) const { return std::abs(rv.elements->parameter[e]); }
    double value(int32_t e) const { return rv.elements->value[e]; }
    std::string parameter_cell(int32_t e) const {
        const int32_t p = parameter(e);
        return p > 0 ? record_text(rv.nlp->param.paramNames[p - 1]) : kFixedMarker;
    }
    double std_error(int32_t e) const {
        const int32_t p = parameter(e);
        return p > 0 && rv.nlp->work.stdErrors != nullptr ? rv.nlp->work.stdErrors[p - 1] : missing();
    }
    // Entry i of the column names of matrix k; empty when it has none.
    std::string column_name(int32_t k, int32_t i) const {
        const int32_t first = mt().firstColumnName != nullptr ? mt().firstColumnName[k] : 0;
        if (first <= 0 || first - 1 + i >= rv.readers->nColumnNames) return {};
        return record_text(rv.readers->columnNames[first - 1 + i]);
    }
    bool has_column_names(int32_t k) const { return mt().firstColumnName != nullptr && mt().firstColumnName[k] > 0; }
    bool endogenous(int32_t v) const { return rv.readers->incomingPaths[v] > 0; }
};

// The row name of an element of matrix k, the first..last matrix of its
// term: the manifest name for the first matrix, the matrix's own column
// names for a symmetric or the last matrix, else those of the matrix before.
std::string row_name(const RamModel& m, int32_t k, int32_t first, int32_t last, int32_t row) {
    if (k == first) return row < m.rv.sizes->nManifest ? record_text(m.rv.input->manifestNames[row]) : std::string();
    const int16_t type = m.mt().type[k];
    if (type == kMatPosDefinit || type == kMatSymmetric || k == last) return m.column_name(k, row);
    return m.column_name(k - 1, row);
}

// The element list ("InitRAMEstimates" or "RAMEstimates"); false after a
// failed output call.
bool element_list(HostObject* manager, const RamModel& m, int32_t mode) {
    const ResultsView& rv = m.rv;
    if (!begin_output(manager)) return false;
    const std::string name = mode == 0 ? "InitRAMEstimates" : "RAMEstimates";
    OutputTable t(manager, name, kyrmsg(kMsgProc, kMsgList), "Tesk.Velix." + name);
    t.int_column("Term");
    t.int_column("Matrix");
    t.text_column("RowName", m.varWidth);
    t.int_column("Row");
    t.text_column("ColName", m.varWidth);
    t.int_column("Col");
    t.text_column("Parameter", std::max(m.parmWidth, 8));
    velix::detail::estimate_columns(t, mode == 2);
    if (!t.end_columns()) return false;
    // After the fit a model with means shows the covariances and means of
    // _P_ (Intercept is variable k of the RAM order).
    const int32_t intercept = mode == 0 ? -1 : results_intercept(rv);
    const MomentsAboutZero moments(rv, kResiduals, intercept);
    std::vector<std::string> aboutZero;
    for (int32_t term = 1; term <= rv.sizes->nTerms; ++term) {
        const int32_t first = m.mt().termTable[term - 1], last = m.mt().termTable[term] - 1;
        for (int32_t k = first; k <= last; ++k)
            for (int32_t e = m.mt().firstElement[k]; e < m.mt().firstElement[k] + m.mt().elementCount[k]; ++e) {
                const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
                const bool central = k == kResiduals;
                if (central && moments.constant_own(e)) continue;
                if (central && moments.about_zero(e)) aboutZero.push_back(m.parameter_cell(e));
                const bool named = m.has_column_names(k);
                t.set_int(0, term);
                t.set_int(1, k);
                t.set_text(2, named ? row_name(m, k, first, last, r) : std::string());
                t.set_int(3, r + 1);
                t.set_text(4, named ? m.column_name(k, c) : std::string());
                t.set_int(5, c + 1);
                t.set_text(6, m.parameter_cell(e));
                t.set_double(7, central ? moments.shown(e) : m.value(e));
                if (mode == 2) {
                    const bool free = m.parameter(e) > 0;
                    const double se = free ? m.std_error(e) : blank_missing();
                    const double x = m.value(e);
                    t.set_double(8, se);
                    t.set_double(9, !free ? blank_missing()
                                          : !is_missing(se) && se > 0.0 && !is_missing(x) ? x / se : missing());
                }
                if (!t.add_row()) return false;
            }
    }
    return t.deliver() && about_zero_note(manager, aboutZero);
}

// The implied moments of all variables at the estimates.  A model with
// means standardizes the covariances and means of its variables and of
// their residual parts: var and pDiag are then read from them, and
// pCentred holds those of the residual parts (see center_moments).
struct Implied {
    double* cov = nullptr;   // packed N
    double* work = nullptr;  // N x N: (I - A)^-1 P
    double* var = nullptr;   // N: implied variances
    double* pDiag = nullptr; // N: the diagonal of P (0 where it has none)
    std::vector<double> pCentred;  // packed N; empty without means
    std::vector<double> centred;   // packed N: the covariances and means; empty without means
};

// The variances, covariances and means of a model with means in place of
// its moments about zero: the constant is manifest variable k, so model
// variable k too.  Only var, pDiag, pCentred and centred change; cov stays
// the moments about zero that the latent score coefficients read.
void center_implied(const RamModel& m, Implied* im) {
    const ResultsView& rv = m.rv;
    const int32_t k = results_intercept(rv);
    // The constant is a variable of its own only while no path leads to it.
    if (k < 0 || k >= m.nAll || m.endogenous(k)) return;
    const size_t nn = static_cast<size_t>(m.nAll);
    std::vector<double> t, cov(nn * (nn + 1) / 2), p(nn * (nn + 1) / 2);
    const std::vector<double> dense = velix::detail::ram_residual_moments(rv);
    for (int32_t r = 0; r < m.nAll; ++r)
        for (int32_t c = 0; c <= r; ++c) p[velix::pk_lower(r, c)] = dense[static_cast<size_t>(r) * nn + c];
    if (!velix::detail::ram_paths_inverse(rv, &t) ||
        !centered_implied_moments(t.data(), dense.data(), nn, nn, k, k, cov.data()) ||
        !center_moments(p.data(), m.nAll, k))
        return;
    for (int32_t v = 0; v < m.nAll; ++v) {
        im->var[v] = cov[velix::pk(v, v)];
        im->pDiag[v] = p[velix::pk(v, v)];
    }
    im->pCentred = std::move(p);
    im->centred = std::move(cov);
}

// The paths in the metric of standard deviations: a_ij sqrt(w_j) /
// sqrt(v_i) with w_j the implied variance of an endogenous cause and its
// _P_ variance otherwise.
bool standardized_paths(HostObject* manager, const RamModel& m, const Implied& im) {
    const ResultsView& rv = m.rv;
    const bool names = m.has_column_names(kIde) && m.has_column_names(kPaths);
    const bool parms = m.parmWidth > 0;
    OutputTable t(manager, "RAMStdEstimates", kyrmsg(kMsgProc, kMsgStdPaths), "Tesk.Velix.RAMStdEstimates");
    if (names) t.text_column("RowName", m.varWidth);
    t.int_column("Row");
    if (names) t.text_column("ColName", m.varWidth);
    t.int_column("Col");
    if (parms) t.text_column("Parameter", std::max(m.parmWidth, 8));
    t.double_column("Estimate");
    if (!t.end_columns()) return false;
    for (int32_t e = m.mt().firstElement[kPaths]; e < m.mt().firstElement[kPaths] + m.mt().elementCount[kPaths]; ++e) {
        const int32_t i = rv.elements->row[e], j = rv.elements->column[e];
        const double w = m.endogenous(j) ? im.var[j] : im.pDiag[j];
        size_t col = 0;
        if (names) t.set_text(col++, m.column_name(kIde, i));
        t.set_int(col++, i + 1);
        if (names) t.set_text(col++, m.column_name(kPaths, j));
        t.set_int(col++, j + 1);
        if (parms) t.set_text(col++, m.parameter_cell(e));
        t.set_double(col, standardized_coefficient(m.value(e), w, im.var[i]));
        if (!t.add_row()) return false;
    }
    return t.deliver();
}

// R^2 = 1 - p_i / v_i of every endogenous variable.
bool squared_multiple_correlations(HostObject* manager, const RamModel& m, const Implied& im) {
    const bool names = m.has_column_names(kIde);
    OutputTable t(manager, "SqMultCorr", kyrmsg(kMsgProc, kMsgSqMultCorr), "Tesk.Velix.SqMultCorr");
    t.int_column("Index");
    if (names) t.text_column("Variable", m.varWidth);
    t.double_column("ErrorVar");
    t.double_column("TotalVar");
    t.double_column("RSquare");
    if (!t.end_columns()) return false;
    for (int32_t i = 0; i < m.nAll; ++i) {
        if (!m.endogenous(i)) continue;
        size_t col = 0;
        t.set_int(col++, i + 1);
        if (names) t.set_text(col++, m.column_name(kIde, i));
        t.set_double(col++, im.pDiag[i]);
        t.set_double(col++, im.var[i]);
        t.set_double(col, squared_multiple_correlation(im.pDiag[i], im.var[i]));
        if (!t.add_row()) return false;
    }
    return t.deliver();
}

// p_rc / sqrt(p_r p_c) of every off-diagonal _P_ element.
bool residual_correlations(HostObject* manager, const RamModel& m, const Implied& im) {
    const ResultsView& rv = m.rv;
    const bool names = m.has_column_names(kResiduals);
    const bool parms = m.parmWidth > 0;
    OutputTable t(manager, "RAMCorrExog", kyrmsg(kMsgProc, kMsgCorr), "Tesk.Velix.RAMCorrExog");
    t.int_column("Row");
    t.int_column("Col");
    if (names) {
        t.text_column("RowName", m.varWidth);
        t.text_column("ColName", m.varWidth);
    }
    if (parms) t.text_column("Parameter", std::max(m.parmWidth, 8));
    t.double_column("Estimate");
    if (!t.end_columns()) return false;
    const int32_t first = m.mt().firstElement[kResiduals];
    for (int32_t e = first; e < first + m.mt().elementCount[kResiduals]; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        if (r == c) continue;
        const double pr = im.pDiag[r], pc = im.pDiag[c];
        // With means: the covariance about the means, or the mean itself
        // where the element pairs a variable with the constant.
        double x = m.value(e);
        if (!im.pCentred.empty() && !is_missing(x)) x = im.pCentred[velix::pk(r, c)];
        size_t col = 0;
        t.set_int(col++, r + 1);
        t.set_int(col++, c + 1);
        if (names) {
            t.set_text(col++, m.column_name(kResiduals, r));
            t.set_text(col++, m.column_name(kResiduals, c));
        }
        if (parms) t.set_text(col++, m.parameter_cell(e));
        t.set_double(col, is_missing(x) || is_missing(pr) || is_missing(pc) || !(pr > 0.0) || !(pc > 0.0)
                              ? missing()
                              : x / (std::sqrt(pr) * std::sqrt(pc)));
        if (!t.add_row()) return false;
    }
    return t.deliver();
}

// Steps up to the closing of the estimation group; false after a failed
// output call.
bool estimates(const ResultsView& rv, const RamModel& m, int32_t mode, const ResultSwitches& sw) {
    if (rv.options->matrixForm) return true;
    velix::detail::print_parameter_vectors(rv, mode, sw);
    return !sw.printModel || element_list(rv.output->kyrManager, m, mode);
}

// The standardized part and the derived statistics.  A pool that cannot be
// had ends the printer after the memory message, not the step: the
// estimates are printed and kept.  False when the printer ends here.
bool supplementary(const ResultsView& rv, const RamModel& m, const ResultSwitches& sw) {
    const int64_t n = m.nAll, cols = std::max(rv.sizes->nCols, m.nAll);
    velix::detail::PrinterPool pool((n * cols + n) * 16 + n * 34 + n * 4 + 1024);
    Implied im;
    im.cov = pool.take<double>(n * (n + 1) / 2);
    im.work = pool.take<double>(n * n);
    im.var = pool.take<double>(n);
    im.pDiag = pool.take<double>(n);
    if (!pool.check()) return false;
    // A singular I - A has no implied moments: nothing is standardized.
    if (!getvar(rv, im.cov, im.work, im.var, im.pDiag)) return true;
    center_implied(m, &im);
    if (sw.printModel && rv.output->kyrManager != nullptr) {
        HostObject* manager = rv.output->kyrManager;
        if (!standardized_paths(manager, m, im) || !begin_output(manager) ||
            !squared_multiple_correlations(manager, m, im) ||
            !residual_correlations(manager, m, im))
            return false;
    }
    LatentMomentsInput in;
    in.cov = im.cov;
    in.nAll = m.nAll;
    in.ram = true;
    if (!im.centred.empty()) {
        in.centred = im.centred.data();
        in.residualCentred = im.pCentred.data();
        in.intercept = results_intercept(rv);
    }
    latent_results(rv, &in, sw);
    return true;
}

// The model readers echo a RAM model through this printer (mode 0).
const bool kEchoRegistered = [] {
    input_model_echo().ramList = cospram;
    return true;
}();

}  // namespace

namespace velix::detail {

bool ram_paths_inverse(const ResultsView& rv, std::vector<double>* t) {
    const ModelMatrixTable& mt = *rv.model;
    const int32_t n = mt.rows[kResiduals];
    const size_t nn = static_cast<size_t>(n);
    std::vector<double> scratch(nn);
    std::vector<int32_t> pivots(nn);
    t->assign(nn * nn, 0.0);
    for (size_t i = 0; i < nn; ++i) (*t)[i * nn + i] = 1.0;
    for (int32_t e = mt.firstElement[kPaths]; e < mt.firstElement[kPaths] + mt.elementCount[kPaths]; ++e)
        (*t)[static_cast<size_t>(rv.elements->row[e]) * nn + static_cast<size_t>(rv.elements->column[e])] -=
            rv.elements->value[e];
    if (n > 0) {
        if (zludec(n, n, 0.0, nullptr, t->data(), pivots.data()) != 0) return false;
        zluinv(n, n, t->data(), pivots.data(), scratch.data());
    }
    return true;
}

std::vector<double> ram_residual_moments(const ResultsView& rv) {
    const ModelMatrixTable& mt = *rv.model;
    const size_t nn = static_cast<size_t>(mt.rows[kResiduals]);
    std::vector<double> p(nn * nn, 0.0);
    for (int32_t e = mt.firstElement[kResiduals]; e < mt.firstElement[kResiduals] + mt.elementCount[kResiduals];
         ++e) {
        const size_t r = static_cast<size_t>(rv.elements->row[e]), c = static_cast<size_t>(rv.elements->column[e]);
        p[r * nn + c] = p[c * nn + r] = rv.elements->value[e];
    }
    return p;
}

bool ram_getvar(const ResultsView& rv, double* cov, double* work, double* var, double* pDiag) {
    const size_t nn = static_cast<size_t>(rv.model->rows[kResiduals]);
    // T = (I - A)^-1.
    std::vector<double> t;
    if (!ram_paths_inverse(rv, &t)) return false;
    const std::vector<double> p = ram_residual_moments(rv);
    for (size_t i = 0; i < nn; ++i) pDiag[i] = p[i * nn + i];
    implied_covariance(t.data(), p.data(), nn, nn, work, cov);
    for (size_t i = 0; i < nn; ++i) var[i] = cov[velix::pk_lower(static_cast<int32_t>(i), static_cast<int32_t>(i))];
    return true;
}

}  // namespace velix::detail

void cospram(ProcContext* ctx, int32_t mode) {
    const ResultsView rv = results_view(ctx);
    if (rv.sizes->nMatrices < kResiduals) return;
    const ResultSwitches sw = result_switches(rv.options);
    const RamModel m(rv);
    const bool output = rv.output->kyrManager != nullptr && rv.options->printEnabled;
    if (output) {
        if (mode > 0) open_results_group(rv, kGroupEstimationResults, "EstimationResults", kMsgEstimationGroup);
        const bool printed = estimates(rv, m, mode, sw);
        close_estimation_group(rv);
        if (!printed) return;
        if (mode > 0) open_results_group(rv, kGroupSupplementary, "SupplementaryResults", kMsgSupplementaryGroup);
    }
    if (mode > 0 && rv.readers->ramModel && !supplementary(rv, m, sw)) return;
    if (mode > 0 && rv.sizes->nParmAdded > 0 && output) costout(rv.ctx, mode);
    zmsgsav(0, 0, nullptr, 0);
}
