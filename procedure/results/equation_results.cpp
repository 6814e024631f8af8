// The results of a LINEQS model (Bentler and Weeks 1980: endogenous
// variables eta = B eta + Gamma xi, exogenous covariances Phi): the
// equations with their estimates, standard errors and t values, the
// variances and covariances of the exogenous variables, and, in the
// standardized mode, the equations in the metric of standard deviations,
// the squared multiple correlations and the exogenous correlations (Bollen
// 1989, Structural Equations with Latent Variables, ch. 4 and 8).  The
// implied covariance of all model variables is T Phi T' with
// T = [(I - B)^-1 Gamma ; I].
//
//   cospeqs: open the group of the mode; parameter vectors
//            equation tables, manifest block then latent block
//            exogenous variances (mode 3: squared multiple correlations)
//            exogenous covariances (mode 3: correlations)
//            close the estimation group; mode 3: latent moments, scores,
//            determination; added parameters
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/message_text.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
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

namespace {

// The matrices of a LINEQS model, by number.
constexpr int32_t kBeta = 2, kGamma = 3, kPhi = 4;
// Code of the host's missing value '_': a cell without a value.
constexpr int kMissingBlank = 1;
// Standard errors not above this give no t value in the equations.
constexpr double kSmallestStdErr = velix::kMachEps;

constexpr int32_t kMsgStdErrLabel = 344, kMsgTValueLabel = 345;
constexpr int32_t kMsgEstimationGroup = 780, kMsgSupplementaryGroup = 800;
constexpr int32_t kMsgManifestTitle = 705, kMsgLatentTitle = 706;
constexpr int32_t kMsgVarExog = 707, kMsgCovExog = 708, kMsgSqMultCorr = 804, kMsgCorrExog = 805;
// Notes above the equation blocks: modes 0, 1-2, 3 (manifest; latent + 1).
constexpr int32_t kMsgBlockNote[] = {321, 323, 323, 325};

double blank_value() { return host_special_missing(kMissingBlank); }
double missing() { return host_missing_value(); }
bool is_missing(double x) { return host_is_missing(x) || std::isnan(x); }

std::string trimmed(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

// One term of an equation: a _BETA_ element (an endogenous variable) or a
// _GAMMA_ element (an exogenous variable).
struct Term {
    int32_t element = 0;
    bool beta = false;
    int32_t variable = 0;  // endogenous index (beta) or exogenous index
};

// The model as the printer reads it.
struct EquationModel {
    ResultsView rv;
    int32_t nAll = 0, nExo = 0, nEndo = 0, nManEndo = 0;
    std::vector<std::vector<Term>> terms;  // per endogenous variable
    std::vector<int32_t> errorTerm;        // per endogenous variable: exogenous index or -1
    int32_t varWidth = 2, parmWidth = 0;

    explicit EquationModel(const ResultsView& view) : rv(view) {
        const ModelMatrixTable& mt = *rv.model;
        nAll = mt.rows[kBeta];
        nExo = mt.rows[kPhi];
        nEndo = nAll - nExo;
        nManEndo = rv.readers->nEndoManifest;
        terms.resize(static_cast<size_t>(nEndo));
        errorTerm.assign(static_cast<size_t>(nEndo), -1);
        for (int32_t k : {kBeta, kGamma})
            for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
                const int32_t i = rv.elements->row[e];
                if (i < 0 || i >= nEndo) continue;
                terms[static_cast<size_t>(i)].push_back({e, k == kBeta, rv.elements->column[e]});
            }
        // The error term of an equation is its E or D variable: latent, so
        // past the exogenous manifest variables.
        const int32_t nExoManifest = rv.sizes->nManifest - nManEndo;
        for (int32_t i = 0; i < nEndo; ++i)
            for (const Term& t : terms[static_cast<size_t>(i)]) {
                if (t.beta || t.variable < nExoManifest) continue;
                const char c0 = static_cast<char>(std::toupper(static_cast<unsigned char>(name(nEndo + t.variable)[0])));
                if (c0 == 'E' || c0 == 'D') errorTerm[static_cast<size_t>(i)] = t.variable;
            }
        for (int32_t v = 0; v < nAll; ++v) varWidth = std::max<int32_t>(varWidth, static_cast<int32_t>(name(v).size()));
        for (int32_t p = 0; p < rv.sizes->nParmAll; ++p)
            parmWidth = std::max<int32_t>(parmWidth, static_cast<int32_t>(trimmed(rv.nlp->param.paramNames[p]).size()));
    }
    std::string name(int32_t v) const { return trimmed(rv.readers->columnNames[v]); }
    double value(int32_t e) const { return rv.elements->value[e]; }
    int32_t parameter(int32_t e) const { return std::abs(rv.elements->parameter[e]); }
    std::string parameter_name(int32_t e) const {
        const int32_t p = parameter(e);
        return p > 0 ? trimmed(rv.nlp->param.paramNames[p - 1]) : std::string();
    }
    double std_error(int32_t e) const {
        const int32_t p = parameter(e);
        return p > 0 && rv.nlp->work.stdErrors != nullptr ? rv.nlp->work.stdErrors[p - 1] : missing();
    }
    std::string term_name(const Term& t) const { return name(t.beta ? t.variable : nEndo + t.variable); }
};

// The standardized values the mode-3 tables show.  A model with means
// standardizes its covariances and means: `centred` holds them (see
// center_moments) and endoVar and exoVar are read from it.
struct Standardized {
    std::vector<double> cov, t, endoVar, exoVar;
    std::vector<double> centred;  // empty without means
    bool ok = false;
};

// The variances, covariances and means of a model with means in place of
// its moments about zero; the constant is the exogenous manifest variable
// at its model position.
void center_standardized(const EquationModel& m, Standardized* std) {
    const int32_t k = results_intercept(m.rv);
    if (k < 0) return;
    const int32_t at = m.rv.readers->varPosition[k];
    if (at < m.nEndo || at >= m.nAll) return;
    // Phi is the exogenous block of the implied moments, as getvar left it.
    const size_t nExo = static_cast<size_t>(m.nExo);
    std::vector<double> phi(nExo * nExo), centred(std->cov.size());
    for (int32_t a = 0; a < m.nExo; ++a)
        for (int32_t b = 0; b < m.nExo; ++b)
            phi[static_cast<size_t>(a) * nExo + static_cast<size_t>(b)] = std->cov[velix::pk(m.nEndo + a, m.nEndo + b)];
    if (!centered_implied_moments(std->t.data(), phi.data(), static_cast<size_t>(m.nAll), nExo, at, at - m.nEndo,
                                  centred.data()))
        return;
    for (int32_t i = 0; i < m.nEndo; ++i) std->endoVar[static_cast<size_t>(i)] = centred[velix::pk(i, i)];
    for (int32_t x = 0; x < m.nExo; ++x)
        std->exoVar[static_cast<size_t>(x)] = centred[velix::pk(m.nEndo + x, m.nEndo + x)];
    std->centred = std::move(centred);
}

// ---------------------------------------------------------------------------
// Equation tables.

class EquationTable {
public:
    EquationTable(const EquationModel& m, int32_t mode, const Standardized* std, int32_t first, int32_t last,
                  bool latentBlock, bool single)
        : m_(m), mode_(mode), std_(std), first_(first), last_(last) {
        for (int32_t i = first; i < last; ++i)
            terms_ = std::max(terms_, static_cast<int32_t>(m.terms[static_cast<size_t>(i)].size()));
        const char* prefix = mode == 0 ? "In" : mode == 3 ? "Std" : "Est";
        name_ = std::string(prefix) + (single ? "" : latentBlock ? "LatentEq" : "ManifestEq");
        title_ = latentBlock ? kMsgLatentTitle : kMsgManifestTitle;
        stdErrLabel_ = label(kMsgStdErrLabel, "Std Err");
        tValueLabel_ = label(kMsgTValueLabel, "t Value");
    }

    bool print(HostObject* manager) {
        OutputTable t(manager, name_, kyrmsg(kMsgProc, title_), "Tesk.Velix." + name_);
        define_columns(&t);
        if (!t.end_columns()) return false;
        for (int32_t i = first_; i < last_; ++i)
            if (!equation_rows(&t, i)) return false;
        return t.deliver();
    }

private:
    // A row label from the message file, cut to 20 characters.
    static std::string label(int32_t number, const char* fallback) {
        const char* text = nullptr;
        int32_t length = 0;
        if (wkread(kMsgProc, number, &text, &length) != 0 || text == nullptr) return fallback;
        std::string s(text, static_cast<size_t>(std::clamp<int32_t>(length, 0, 20)));
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s.empty() ? fallback : s;
    }

    void define_columns(OutputTable* t) {
        const int32_t varWidth = std::max({m_.varWidth, static_cast<int32_t>(stdErrLabel_.size()),
                                           static_cast<int32_t>(tValueLabel_.size())});
        int32_t nameWidth = std::max(m_.varWidth, m_.parmWidth);
        if (mode_ == 2) nameWidth = std::max(nameWidth, 8);
        t->text_column("Control", 1);
        t->text_column("Variable", varWidth);
        t->text_column("Equals", 1);
        for (int32_t k = 1; k <= terms_; ++k) {
            const std::string n = std::to_string(k);
            if (k > 1) t->text_column("Sign" + n, 1);
            t->double_column("Coefficient" + n);
            t->text_column("Asterisk" + n, 1);
            t->text_column("Parameter" + n, nameWidth);
        }
    }

    // Column numbers of term k (1-based): sign (none for k = 1),
    // coefficient, asterisk, name.
    static size_t sign_col(int32_t k) { return 3 + 4 * static_cast<size_t>(k - 1) - 1; }
    static size_t coef_col(int32_t k) { return k == 1 ? 3 : sign_col(k) + 1; }

    void set_term(OutputTable* t, int32_t k, const std::string& sign, double coef, const std::string& asterisk,
                  const std::string& name) {
        if (k > 1) t->set_text(sign_col(k), sign);
        t->set_double(coef_col(k), coef);
        t->set_text(coef_col(k) + 1, asterisk);
        t->set_text(coef_col(k) + 2, name);
    }

    // The coefficient of row 1: the estimate, standardized in mode 3.
    double row1_value(int32_t i, const Term& term) const {
        const double x = m_.value(term.element);
        if (is_missing(x) || mode_ != 3) return x;
        const double w = term.beta ? std_->endoVar[static_cast<size_t>(term.variable)]
                                   : std_->exoVar[static_cast<size_t>(term.variable)];
        return standardized_coefficient(x, w, std_->endoVar[static_cast<size_t>(i)]);
    }

    bool equation_rows(OutputTable* t, int32_t i) {
        const std::vector<Term>& terms = m_.terms[static_cast<size_t>(i)];
        const int32_t n = static_cast<int32_t>(terms.size());
        bool anyParameter = false;
        for (const Term& term : terms) anyParameter = anyParameter || m_.parameter(term.element) > 0;
        // Row 1: the equation.
        t->set_text(0, "b");
        t->set_text(1, m_.name(i));
        t->set_text(2, "=");
        for (int32_t k = 1; k <= terms_; ++k) {
            if (k > n) {
                set_term(t, k, "", blank_value(), "", "");
                continue;
            }
            const Term& term = terms[static_cast<size_t>(k - 1)];
            set_term(t, k, k > 1 ? "+" : "", row1_value(i, term), m_.parameter(term.element) > 0 ? "*" : "",
                     m_.term_name(term));
        }
        if (!t->add_row()) return false;
        if (!anyParameter) return true;
        // Row 2: the parameter names, or in mode 2 the standard errors.
        t->set_text(0, "");
        t->set_text(1, mode_ == 2 ? stdErrLabel_ : "");
        t->set_text(2, "");
        for (int32_t k = 1; k <= terms_; ++k) {
            double v = blank_value();
            std::string name;
            if (k <= n) {
                const int32_t e = terms[static_cast<size_t>(k - 1)].element;
                const bool free = m_.parameter(e) > 0;
                if (mode_ != 2) {
                    name = m_.parameter_name(e);
                } else if (free && !is_missing(m_.value(e))) {
                    v = m_.std_error(e);
                    name = m_.parameter_name(e);
                } else if (free) {
                    v = missing();
                }
            }
            set_term(t, k, "", v, "", name);
        }
        if (!t->add_row()) return false;
        if (mode_ != 2) return true;
        // Row 3: the t values.
        t->set_text(1, tValueLabel_);
        for (int32_t k = 1; k <= terms_; ++k) {
            double v = blank_value();
            if (k <= n) {
                const int32_t e = terms[static_cast<size_t>(k - 1)].element;
                if (m_.parameter(e) > 0) {
                    const double x = m_.value(e), se = m_.std_error(e);
                    v = !is_missing(x) && !is_missing(se) && std::fabs(se) > kSmallestStdErr ? x / se : missing();
                }
            }
            set_term(t, k, "", v, "", "");
        }
        return t->add_row();
    }

    const EquationModel& m_;
    int32_t mode_;
    const Standardized* std_;
    int32_t first_, last_;
    int32_t terms_ = 0;
    std::string name_;
    int32_t title_ = 0;
    std::string stdErrLabel_, tValueLabel_;
};

// The two blocks: manifest endogenous variables, then latent ones (one
// block of all when none is manifest).  False after a failed output call.
bool equation_tables(HostObject* manager, const EquationModel& m, int32_t mode, const Standardized* std) {
    const bool single = m.nManEndo == 0;
    const int32_t bounds[3] = {0, single ? m.nEndo : m.nManEndo, m.nEndo};
    for (int32_t b = 0; b < (single ? 1 : 2); ++b) {
        if (bounds[b] >= bounds[b + 1]) continue;
        if (!begin_output(manager)) return false;
        if (!single && kyr_failed(kyr_note(manager, kyrmsg(kMsgProc, kMsgBlockNote[mode] + b), 'c')))
            return false;
        EquationTable table(m, mode, std, bounds[b], bounds[b + 1], b == 1, single);
        if (!table.print(manager)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Exogenous tables.

// Standard error and t value of an exogenous element in mode 2; '.' for a
// parameter and '_' for a fixed element otherwise.
void exogenous_inference(const EquationModel& m, int32_t e, int32_t mode, double* se, double* t) {
    const bool free = m.parameter(e) > 0;
    *se = *t = free ? missing() : blank_value();
    if (mode != 2 || !free) return;
    *se = m.std_error(e);
    *t = t_value(m.value(e), *se);
}

std::string parameter_cell(const EquationModel& m, int32_t e) {
    return m.parameter(e) > 0 ? m.parameter_name(e) : std::string(8, ' ');
}

// The constant's row of _PHI_ in the tables after the fit of a model with
// means (modes 1 and 2); -1 otherwise.
int32_t exogenous_constant(const EquationModel& m, int32_t mode) {
    const int32_t k = results_intercept(m.rv);
    if (mode == 0 || mode == 3 || k < 0) return -1;
    const int32_t at = m.rv.readers->varPosition[k] - m.nEndo;
    return at >= 0 && at < m.nExo ? at : -1;
}

// Variances (modes 0 to 2) or squared multiple correlations (mode 3).
bool variance_table(HostObject* manager, const EquationModel& m, int32_t mode, const Standardized* std) {
    const ResultsView& rv = m.rv;
    if (mode == 3) {
        OutputTable t(manager, "SqMultCorr", kyrmsg(kMsgProc, kMsgSqMultCorr), "Tesk.Velix.SqMultCorr");
        t.int_column("Index");
        t.text_column("Variable", m.varWidth);
        t.double_column("ErrorVar");
        t.double_column("TotalVar");
        t.double_column("RSquare");
        if (!t.end_columns()) return false;
        for (int32_t i = 0; i < m.nEndo; ++i) {
            const int32_t err = m.errorTerm[static_cast<size_t>(i)];
            const double total = std->endoVar[static_cast<size_t>(i)];
            const double error = err >= 0 ? std->exoVar[static_cast<size_t>(err)] : missing();
            t.set_int(0, i + 1);
            t.set_text(1, m.name(i));
            t.set_double(2, error);
            t.set_double(3, total);
            t.set_double(4, err >= 0 ? squared_multiple_correlation(error, total) : missing());
            if (!t.add_row()) return false;
        }
        return t.deliver();
    }
    const std::string name = mode == 0 ? "InVarExog" : "EstVarExog";
    OutputTable t(manager, name, kyrmsg(kMsgProc, kMsgVarExog), "Tesk.Velix." + name, kyrmsg(kMsgProc, kMsgVarExog));
    t.text_column("Variable", m.varWidth);
    t.text_column("Parameter", std::max(m.parmWidth, 8));
    velix::detail::estimate_columns(t, mode == 2);
    if (!t.end_columns()) return false;
    const ModelMatrixTable& mt = *rv.model;
    const velix::detail::MomentsAboutZero moments(rv, kPhi, exogenous_constant(m, mode));
    std::vector<std::string> aboutZero;
    for (int32_t x = 0; x < m.nExo; ++x)
        for (int32_t e = mt.firstElement[kPhi]; e < mt.firstElement[kPhi] + mt.elementCount[kPhi]; ++e) {
            if (rv.elements->row[e] != x || rv.elements->column[e] != x || moments.constant_own(e)) continue;
            if (moments.about_zero(e)) aboutZero.push_back(m.parameter_name(e));
            t.set_text(0, m.name(m.nEndo + x));
            t.set_text(1, parameter_cell(m, e));
            t.set_double(2, moments.shown(e));
            if (mode == 2) {
                double se = 0.0, tv = 0.0;
                exogenous_inference(m, e, mode, &se, &tv);
                t.set_double(3, se);
                t.set_double(4, tv);
            }
            if (!t.add_row()) return false;
        }
    return t.deliver() && velix::detail::about_zero_note(manager, aboutZero);
}

// Covariances (modes 0 to 2) or correlations (mode 3) of the exogenous
// variables: the off-diagonal elements of _PHI_ by row variable.
bool covariance_table(HostObject* manager, const EquationModel& m, int32_t mode, const Standardized* std) {
    const ResultsView& rv = m.rv;
    const ModelMatrixTable& mt = *rv.model;
    const int32_t first = mt.firstElement[kPhi], count = mt.elementCount[kPhi];
    bool any = false;
    for (int32_t e = first; e < first + count; ++e) any = any || rv.elements->row[e] != rv.elements->column[e];
    if (!any) return true;
    const std::string name = mode == 0 ? "InCovExog" : mode == 3 ? "CorrExog" : "EstCovExog";
    const int32_t title = mode == 3 ? kMsgCorrExog : kMsgCovExog;
    OutputTable t(manager, name, kyrmsg(kMsgProc, title), "Tesk.Velix." + name, kyrmsg(kMsgProc, title));
    t.text_column("Var1", m.varWidth);
    t.text_column("Var2", m.varWidth);
    const bool parms = m.parmWidth > 0;
    if (parms) t.text_column("Parameter", std::max(m.parmWidth, 8));
    velix::detail::estimate_columns(t, mode == 2);
    if (!t.end_columns()) return false;
    const size_t at = parms ? 3 : 2;
    const velix::detail::MomentsAboutZero moments(rv, kPhi, exogenous_constant(m, mode));
    std::vector<std::string> aboutZero;
    for (int32_t x = 0; x < m.nExo; ++x)
        for (int32_t e = first; e < first + count; ++e) {
            const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
            if (r != x || c == r) continue;
            if (moments.about_zero(e)) aboutZero.push_back(m.parameter_name(e));
            double v = moments.shown(e);
            if (mode == 3) {
                // With means: the covariance about the means, or the mean
                // itself where the element pairs a variable with the
                // constant.
                if (!std->centred.empty() && !is_missing(v)) v = std->centred[velix::pk(m.nEndo + r, m.nEndo + c)];
                const double vr = std->exoVar[static_cast<size_t>(r)], vc = std->exoVar[static_cast<size_t>(c)];
                v = is_missing(v) || !(vr > 0.0) || !(vc > 0.0) ? missing() : v / (std::sqrt(vc) * std::sqrt(vr));
            }
            t.set_text(0, m.name(m.nEndo + c));
            t.set_text(1, m.name(m.nEndo + r));
            if (parms) t.set_text(2, parameter_cell(m, e));
            t.set_double(at, v);
            if (mode == 2) {
                double se = 0.0, tv = 0.0;
                exogenous_inference(m, e, mode, &se, &tv);
                t.set_double(at + 1, se);
                t.set_double(at + 2, tv);
            }
            if (!t.add_row()) return false;
        }
    return t.deliver() && velix::detail::about_zero_note(manager, aboutZero);
}

// The printed part of cospeqs; false after a failed output call.
bool print_tables(const ResultsView& rv, const EquationModel& m, int32_t mode, const Standardized* std,
                  const ResultSwitches& sw) {
    HostObject* manager = rv.output->kyrManager;
    velix::detail::print_parameter_vectors(rv, mode, sw);
    if (!sw.printModel) return true;
    if (m.nEndo > 0 && !(mode <= 2 && rv.options->matrixForm) && !equation_tables(manager, m, mode, std))
        return false;
    return variance_table(manager, m, mode, std) && covariance_table(manager, m, mode, std);
}

// The model readers echo a LINEQS model through this printer (mode 0).
const bool kEchoRegistered = [] {
    input_model_echo().equations = cospeqs;
    return true;
}();

}  // namespace

bool getvar(const ResultsView& rv, double* cov, double* t, double* endoVar, double* exoVar) {
    if (rv.readers->ramModel) return velix::detail::ram_getvar(rv, cov, t, endoVar, exoVar);
    const EquationModel m(rv);
    const size_t nAll = static_cast<size_t>(m.nAll), nExo = static_cast<size_t>(m.nExo),
                 nEndo = static_cast<size_t>(m.nEndo);
    const ModelMatrixTable& mt = *rv.model;
    // A = I - B over the endogenous variables, inverted.
    std::vector<double> a(nEndo * nEndo, 0.0), work(nEndo);
    std::vector<int32_t> pivots(nEndo);
    for (size_t i = 0; i < nEndo; ++i) a[i * nEndo + i] = 1.0;
    bool identity = true;  // no path among the endogenous variables: A^-1 = I as it stands
    for (int32_t e = mt.firstElement[kBeta]; e < mt.firstElement[kBeta] + mt.elementCount[kBeta]; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        if (r < m.nEndo && c < m.nEndo) {
            a[static_cast<size_t>(r) * nEndo + static_cast<size_t>(c)] -= m.value(e);
            identity = false;
        }
    }
    if (nEndo > 0 && !identity) {
        if (zludec(m.nEndo, m.nEndo, 0.0, nullptr, a.data(), pivots.data()) != 0) return false;
        zluinv(m.nEndo, m.nEndo, a.data(), pivots.data(), work.data());
    }
    std::vector<double> g(nEndo * nExo, 0.0), phi(nExo * nExo, 0.0);
    for (int32_t e = mt.firstElement[kGamma]; e < mt.firstElement[kGamma] + mt.elementCount[kGamma]; ++e) {
        const int32_t r = rv.elements->row[e];
        if (r < m.nEndo) g[static_cast<size_t>(r) * nExo + static_cast<size_t>(rv.elements->column[e])] = m.value(e);
    }
    std::fill(exoVar, exoVar + nExo, 0.0);
    for (int32_t e = mt.firstElement[kPhi]; e < mt.firstElement[kPhi] + mt.elementCount[kPhi]; ++e) {
        const size_t r = static_cast<size_t>(rv.elements->row[e]), c = static_cast<size_t>(rv.elements->column[e]);
        phi[r * nExo + c] = phi[c * nExo + r] = m.value(e);
        if (r == c) exoVar[r] = m.value(e);
    }
    // T = [A^-1 G ; I].
    std::fill(t, t + nAll * nExo, 0.0);
    for (size_t i = 0; i < nEndo; ++i)
        for (size_t k = 0; k < nEndo; ++k) {
            const double aik = a[i * nEndo + k];
            if (aik == 0.0) continue;
            for (size_t x = 0; x < nExo; ++x) t[i * nExo + x] += aik * g[k * nExo + x];
        }
    for (size_t x = 0; x < nExo; ++x) t[(nEndo + x) * nExo + x] = 1.0;
    // Cov = (T Phi) T'.
    std::vector<double> tp(nAll * nExo);
    velix::detail::implied_covariance(t, phi.data(), nAll, nExo, tp.data(), cov);
    for (size_t i = 0; i < nEndo; ++i) endoVar[i] = cov[velix::pk_lower(static_cast<int32_t>(i), static_cast<int32_t>(i))];
    return true;
}

void cospeqs(ProcContext* ctx, int32_t mode) {
    const ResultsView rv = results_view(ctx);
    if (!rv.readers->lineqsModel || rv.sizes->nMatrices < kPhi) return;
    const ResultSwitches sw = result_switches(rv.options);
    const EquationModel m(rv);
    Standardized std;
    if (mode == 3) {
        const size_t nAll = static_cast<size_t>(m.nAll), nExo = static_cast<size_t>(m.nExo);
        std.cov.resize(nAll * (nAll + 1) / 2);
        std.t.resize(nAll * nExo);
        std.endoVar.resize(static_cast<size_t>(m.nEndo));
        std.exoVar.resize(nExo);
        std.ok = getvar(rv, std.cov.data(), std.t.data(), std.endoVar.data(), std.exoVar.data());
        // A singular I - B has no implied moments: nothing is standardized.
        if (!std.ok) return;
        center_standardized(m, &std);
    }
    if (rv.output->kyrManager != nullptr && rv.options->printEnabled) {
        if (mode == 3)
            open_results_group(rv, kGroupSupplementary, "SupplementaryResults", kMsgSupplementaryGroup);
        else if (mode > 0)
            open_results_group(rv, kGroupEstimationResults, "EstimationResults", kMsgEstimationGroup);
        const bool printed = print_tables(rv, m, mode, &std, sw);
        close_estimation_group(rv);
        if (!printed) return;
    }
    if (mode == 3) {
        LatentMomentsInput in;
        in.cov = std.cov.data();
        in.nAll = m.nAll;
        in.nEndo = m.nEndo;
        in.errorTerm = m.errorTerm.data();
        // With means: the residual parts are the exogenous variables.
        std::vector<double> exogenous;
        if (!std.centred.empty()) {
            std::vector<int32_t> idx(static_cast<size_t>(m.nExo));
            for (int32_t x = 0; x < m.nExo; ++x) idx[static_cast<size_t>(x)] = m.nEndo + x;
            exogenous = packed_submatrix(std.centred.data(), idx);
            in.centred = std.centred.data();
            in.residualCentred = exogenous.data();
            in.intercept = rv.readers->varPosition[results_intercept(rv)];
        }
        latent_results(rv, &in, sw);
        if (rv.sizes->nParmAdded > 0 && rv.options->printEnabled) costout(rv.ctx, 3);
    }
    zmsgsav(0, 0, nullptr, 0);
}
