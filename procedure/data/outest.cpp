// The OUTEST= rows: everything the optimizer knows about the estimates, as
// rows of the estimate data set (TYPE=EST): the start point, each
// iteration, the termination criterion, parameters, gradient, standard
// errors, bounds and active bounds, the linear constraints with their
// active marks, the projected gradient, Lagrange multipliers, nonlinear
// constraints and the derivative and covariance matrices with their
// determinant summaries.  The optimizer calls cosfoes through its OUTEST=
// hook and cosfoit at each termination test.  The "PARMS", "UPPERBD",
// "LOWERBD", "GE", "LE" and "EQ" rows are what INEST= reads back; the
// linear constraints are written as they were given, from the constraint
// file that the constraint set-up leaves (constraint_file.h).  When the
// problem maximises, objective values, gradients and multipliers carry the
// sign of the maximised function.
#include <algorithm>
#include <cfloat>
#include <cstring>
#include <vector>

#include "host/host_support.h"
#include "host/internal_error.h"
#include "procedure/data/constraint_file.h"
#include "optimizer/optimizer.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"

namespace {

// Row kinds of the optimizer's OUTEST= hook.
constexpr int32_t kRowInitial = -1;
constexpr int32_t kRowFinal = 0;
constexpr int32_t kRowFailedStart = 10;
constexpr int32_t kRowConJacobian = 9;
constexpr int32_t kRowCovariance = 6;
constexpr int32_t kRowLimitPoint = -11;
constexpr int32_t kRowLimit = -12;
constexpr int32_t kRowProfile = -13;

double missing() { return host_missing_value(); }

// The row being filled: the output row and the cells of the OUTEST= binding.
struct Row {
    DataView dv;
    NlpProblem* p;
    int32_t n;

    void type(const char* t) {
        std::memset(dv.dataSets->outRow.type, ' ', sizeof dv.dataSets->outRow.type);
        std::memcpy(dv.dataSets->outRow.type, t, std::min(std::strlen(t), sizeof dv.dataSets->outRow.type));
    }
    // _NAME_ := text, its length `length` (8 for the fixed names).
    void name(const char* text, int32_t length = 8) {
        NameRecord& r = dv.dataSets->outRow.name;
        std::memset(r.text, ' ', sizeof r.text);
        std::memcpy(r.text, text, std::min<size_t>(std::strlen(text), sizeof r.text));
        r.length = static_cast<int16_t>(length);
    }
    void name_record(const NameRecord& record) {
        NameRecord& r = dv.dataSets->outRow.name;
        std::memset(r.text, ' ', sizeof r.text);
        std::memcpy(r.text, record.text, static_cast<size_t>(std::min<int16_t>(record.length, 32)));
        r.length = 32;
    }
    void method_name() {
        switch (dv.methods->methodStage) {
            case kMethodUls: name("ULS"); break;
            case kMethodGls: name("GLS"); break;
            case kMethodMl: name("ML"); break;
            case kMethodWls: name("WLS"); break;
            default: name("DWLS"); break;
        }
    }
    double signed_(double v) const { return p->shape.maximize != 0 && !wzmis(v) ? -v : v; }
    void all(double v) {
        for (int32_t i = 0; i < n; ++i) p->param.paramRow[i] = v;
    }
    void values(const double* v, bool sign) {
        for (int32_t i = 0; i < n; ++i) p->param.paramRow[i] = sign ? signed_(v[i]) : v[i];
    }
    void write() { cos_write_row(dv.ctx, kRoleOutest); }

    // The program variables' cells: their current values, or missing.
    void statement_variables(bool current) {
        for (int32_t k = 0; k < dv.program->nStmtVars && dv.program->stmtVars != nullptr; ++k)
            dv.program->stmtVars[k].cell = current ? dv.program->stmtVars[k].value : host_missing_value();
    }
    void parms() {
        type("PARMS");
        dv.cells->rhsCell = signed_(p->iter.f);
        values(p->param.x, false);
        statement_variables(true);
        write();
        statement_variables(false);
    }
    void grad() {
        if (p->hooks == nullptr || p->hooks->matrices.outestGradient == 0 || p->work.gradient == nullptr) return;
        type("GRAD");
        dv.cells->rhsCell = missing();
        values(p->work.gradient, true);
        write();
    }
};

const char* criterion_name(int32_t s) {
    static const char* const kNames[] = {"ABSTOL", "ABSFTOL", "ABSGTOL", "ABSXTOL", "FTOL",
                                         "GTOL",   "XTOL",    "FTOL2",   "GTOL2"};
    if (s > 100) s -= 100;
    if (s >= 1 && s <= 9) return kNames[s - 1];
    if (s == 10) return "N_ACTIVE";
    return s < 0 ? "PROBLEMS" : "";
}

void terminat_row(Row& r) {
    NlpProblem* p = r.p;
    if (!(p->run.evalPhase < 0.0) || p->run.lastStatus == 0) return;
    r.type("TERMINAT");
    r.all(missing());
    r.dv.cells->rhsCell = p->run.lastStatus;
    r.name(criterion_name(p->run.lastStatus));
    r.write();
    r.dv.cells->rhsCell = missing();
    r.method_name();
}

// UPPERBD or LOWERBD: written unless every bound is absent.
void bound_row(Row& r, const char* type, const double* bounds, bool upper) {
    int32_t present = 0;
    for (int32_t i = 0; i < r.n; ++i) {
        const bool absent = upper ? bounds[i] >= DBL_MAX : bounds[i] <= -DBL_MAX;
        r.p->param.paramRow[i] = absent ? missing() : bounds[i];
        present += absent ? 0 : 1;
    }
    if (present == 0) return;
    r.type(type);
    r.write();
}

// The count of active constraints of a kind in every value, and of the
// dependent ones when there are any.
void count_rows(Row& r, const char* activeType, int32_t active, const char* dependentType, int32_t dependent) {
    r.type(activeType);
    r.all(active);
    r.write();
    if (dependent < 1) return;
    r.type(dependentType);
    r.all(dependent);
    r.write();
}

void bound_rows(Row& r) {
    NlpProblem* p = r.p;
    r.dv.cells->rhsCell = missing();
    bound_row(r, "UPPERBD", p->param.upper, true);
    bound_row(r, "LOWERBD", p->param.lower, false);
    count_rows(r, "NACTBC", p->active.nActiveBounds, "NLDACTBC", p->active.nDepBounds);
    if (p->active.nActiveBounds < 1) return;
    r.type("ACTBC");
    const struct { int32_t state; const char* name; } kStates[] = {{1, "GE"}, {-1, "LE"}, {2, "EQ"}};
    for (const auto& s : kStates) {
        bool any = false;
        for (int32_t j = 0; j < r.n; ++j) {
            const bool has = p->active.boundState[j] == s.state;
            p->param.paramRow[j] = has ? 1.0 : 0.0;
            any = any || has;
        }
        if (!any) continue;
        r.name(s.name);
        r.write();
    }
    r.method_name();
}

// The owner's label of nonlinear constraint k (at most 32 characters).
NameRecord constraint_label(const NlpProblem* p, int32_t k) {
    NameRecord label;
    label.length = static_cast<int16_t>(std::min(p->con.conLabelWidth, 32));
    std::memcpy(label.text, p->con.conLabels + static_cast<size_t>(k) * p->con.conLabelWidth,
                static_cast<size_t>(label.length));
    return label;
}

// Position of constraint c in the active list: below nActiveLin active,
// after it dependent, -1 absent.
int32_t active_position(const NlpProblem* p, int32_t c) {
    for (int32_t k = 0; k < p->active.nActiveLin + p->active.nDepLin; ++k)
        if (p->active.activeList[k] == c) return k;
    return -1;
}

// True when the record (code, rhs, a) is problem row i (row: its
// coefficients), which holds a <= record negated.  Both come from the same
// numbers, so they are compared exactly.
bool is_problem_row(const NlpProblem* p, int32_t i, int32_t code, double rhs, const double* a, const double* row) {
    const double sign = code == kConLe ? -1.0 : 1.0;
    bool same = sign * rhs == p->con.linRhs[i];
    for (int32_t j = 0; j < p->shape.nParams && same; ++j) same = sign * a[j] == row[j];
    return same;
}

// The linear constraints as they were given, with the statement values of
// their INEST= rows, read from the constraint file from byte 0.  The
// optimizer drops a row that repeats an earlier one before it starts; its
// record stays on the file and is passed over here.
void constraint_rows(Row& r) {
    NlpProblem* p = r.p;
    HostFile* file = r.dv.files->conFile;
    if (p->shape.nLinCon > 0 && file == nullptr) internal_error("linear constraints without their constraint file");
    if (file != nullptr) con_point(file, 0);
    StatementVariable* vars = r.dv.program->stmtVars;
    const int32_t nStmt = con_statement_count(r.dv.program);
    std::vector<double> stmt(static_cast<size_t>(nStmt)), row(static_cast<size_t>(r.n));
    int32_t spare = r.dv.files->conFileRows - p->shape.nLinCon;
    for (int32_t i = 0; i < p->shape.nLinCon; ++i) {
        p->cb.conRowFn(p, i, row.data());
        int32_t code = 0;
        do {
            con_read(file, &code, &r.dv.cells->rhsCell, p->param.paramRow, r.n, stmt.data(), nStmt);
        } while (!is_problem_row(p, i, code, r.dv.cells->rhsCell, p->param.paramRow, row.data()) && spare-- > 0);
        for (int32_t k = 0; k < nStmt; ++k) vars[k].cell = stmt[static_cast<size_t>(k)];
        const int32_t at = active_position(p, i);
        r.name(at < 0 ? "" : at < p->active.nActiveLin ? "ACTLC" : "LDACTLC");
        r.type(i < p->shape.nLinEq ? "EQ" : code > 0 ? "GE" : "LE");
        r.write();
    }
    r.statement_variables(false);
}

// The linear constraint rows; false when there is no factored active set
// (the multipliers are then not written).
bool linear_rows(Row& r) {
    NlpProblem* p = r.p;
    r.dv.cells->rhsCell = missing();
    count_rows(r, "NACTLC", p->active.nActiveLin, "NLDACTLC", p->active.nDepLin);
    constraint_rows(r);
    r.method_name();
    if (p->opt.conFactorForm == 0) return false;
    const int32_t m = p->shape.nParams - p->active.nActiveBounds - p->active.nActiveLin;
    if (m >= 1) {
        std::vector<double> pg(static_cast<size_t>(p->shape.nParams), 0.0);
        znlpgmx(p, 1, pg.data());
        r.type("PROJGRAD");
        r.dv.cells->rhsCell = missing();
        r.all(missing());
        for (int32_t i = 0; i < m; ++i) p->param.paramRow[i] = r.signed_(pg[static_cast<size_t>(i)]);
        r.write();
    }
    return true;
}

// A pair of multiplier rows ("..._NUM", "..._VAL") for the active entries
// selected by `take`.
template <class Take>
void multiplier_pair(Row& r, const char* numName, const char* valName, Take take) {
    NlpProblem* p = r.p;
    std::vector<int32_t> at;
    for (int32_t k = 0; k < p->active.nActiveLin; ++k)
        if (take(p->active.activeList[k])) at.push_back(k);
    if (at.empty()) return;
    r.all(missing());
    for (size_t q = 0; q < at.size(); ++q) p->param.paramRow[q] = p->active.activeList[at[q]] + 1.0;
    r.name(numName);
    r.write();
    for (size_t q = 0; q < at.size(); ++q) p->param.paramRow[q] = r.signed_(p->active.multipliers[p->active.nActiveBounds + at[q]]);
    r.name(valName);
    r.write();
}

void lagrange_rows(Row& r) {
    NlpProblem* p = r.p;
    const int32_t n = p->shape.nParams, nb = p->active.nActiveBounds, nl = p->shape.nLinCon;
    r.dv.cells->rhsCell = missing();
    if (p->shape.hasBounds != 0 && nb > 0) {
        r.type("LAGM BC");
        const struct { int32_t state; const char* name; } kStates[] = {{1, "GE"}, {-1, "LE"}, {2, "EQ"}};
        for (const auto& s : kStates) {
            bool any = false;
            r.all(missing());
            for (int32_t k = 0; k < nb; ++k) {
                const int32_t j = p->active.freeList[n - nb + k];
                if (p->active.boundState[j] != s.state) continue;
                p->param.paramRow[j] = r.signed_(p->active.multipliers[k]);
                any = true;
            }
            if (!any) continue;
            r.name(s.name);
            r.write();
        }
    }
    r.type("LAGM LC");
    multiplier_pair(r, "LEC_NUM", "LEC_VAL", [&](int32_t c) { return c < p->shape.nLinEq; });
    multiplier_pair(r, "LIC_NUM", "LIC_VAL", [&](int32_t c) { return c >= p->shape.nLinEq && c < nl; });
    r.type("LAGM NLC");
    multiplier_pair(r, "NLEC_NUM", "NLEC_VAL", [&](int32_t c) { return c >= nl && c < nl + p->shape.nNlinEq; });
    multiplier_pair(r, "NLIC_NUM", "NLIC_VAL", [&](int32_t c) { return c >= nl + p->shape.nNlinEq; });
    r.method_name();
}

void nonlinear_rows(Row& r) {
    NlpProblem* p = r.p;
    const bool labels = p->con.conLabels != nullptr && p->con.conLabelWidth > 0;
    const bool described = p->con.nlcRhs != nullptr && p->con.conKinds != nullptr;
    for (int32_t k = 0; k < p->shape.nNlinCon && r.n > 0; ++k) {
        const int32_t c = p->shape.nLinCon + k, at = active_position(p, c);
        const int16_t kind = described ? static_cast<int16_t>(p->con.conKinds[k]) : 0;
        r.type(at < 0 ? "NLC" : at < p->active.nActiveLin ? "NLCACT" : "NLCACTLD");
        if (labels) {
            const NameRecord label = constraint_label(p, k);
            r.name_record(label);
            r.dv.dataSets->outRow.name.length = label.length;
        } else if (described) {
            r.name(k < p->shape.nNlinEq ? "NLC_EQ" : kind >= 0 ? "NLC_LE" : "NLC_GE");
        } else {
            r.name(k < p->shape.nNlinEq ? "NLC_EC" : "NLC_IC");
        }
        const double v = p->con.conValues != nullptr ? p->con.conValues[k] : missing();
        r.dv.cells->rhsCell = v;
        r.all(missing());
        if (labels && described) {
            const double base = p->con.nlcRhs[k];
            p->param.paramRow[0] = wzmis(v) || wzmis(base) ? missing() : kind >= 0 ? base + v : base - v;
            if (r.n > 1) p->param.paramRow[1] = c + 1.0;
        } else {
            p->param.paramRow[0] = c + 1.0;
        }
        r.write();
    }
    r.method_name();
}

// Whether the covariance of the estimates gave standard errors: a run that
// stopped short of a solution, or whose covariance could not be formed,
// leaves them all missing, and a row of missing values says nothing.
bool standard_errors_formed(const NlpProblem* p) {
    if (p->work.stdErrors == nullptr) return false;
    return std::any_of(p->work.stdErrors, p->work.stdErrors + p->shape.nParams,
                       [](double se) { return !wzmis(se); });
}

void final_rows(Row& r) {
    NlpProblem* p = r.p;
    terminat_row(r);
    if (p->hooks != nullptr && p->hooks->matrices.outestTime != 0) {
        r.type("_TIME_");
        r.all(missing());
        r.dv.cells->rhsCell = p->run.timeUsed;
        r.write();
    }
    r.parms();
    r.grad();
    r.dv.cells->rhsCell = missing();
    if (p->hooks != nullptr && p->hooks->cov.wantCovariance != 0 && standard_errors_formed(p)) {
        r.type("STDERR");
        r.values(p->work.stdErrors, false);
        r.write();
    }
    r.type("_NOBS_");
    r.all(r.dv.moments->nObs);
    r.write();
    if (p->shape.hasBounds != 0) bound_rows(r);
    bool factored = true;
    if (p->shape.hasLinCon != 0) factored = linear_rows(r);
    if (factored && (p->shape.hasLinCon != 0 || p->shape.hasNlinCon != 0) && p->active.nActiveBounds + p->active.nActiveLin > 0)
        lagrange_rows(r);
    if (p->shape.hasNlinCon != 0) nonlinear_rows(r);
    if (p->opt.conFactorForm != 0 && p->work.lagrangeGradient != nullptr) {
        // Under linear constraints alone the run never formed the Lagrange
        // function: at the solution it is the objective less the active
        // rows and bounds times their multipliers.
        if (p->shape.hasNlinCon == 0) nlp_lagrange_function(p, 1);
        r.type("GRAD_LF");
        r.dv.cells->rhsCell = r.signed_(p->iter.lagrangeValue);
        r.values(p->work.lagrangeGradient, true);
        r.write();
    }
}

const char* matrix_type(const DataView& dv, int32_t kind) {
    switch (kind) {
        case 2: return "CRPJAC";
        case 3: return "HESSIAN";
        case 4: return "PROJCRPJ";
        case 5: return "PROJHESS";
        case 6: return dv.methods->methodStage == kMethodUls ? "LSCOV" : "COV";
        case 7: return "HESS_LF";
        case 8: return "PHESS_LF";
        case 11: return "CRPJ_LF";
        default: return "PCRPJ_LF";
    }
}

int32_t matrix_storage(const NlpProblem* p, int32_t kind) {
    const NlpHookBlock* h = p->hooks;
    const bool constrained = p->shape.hasLinCon != 0 || p->shape.hasNlinCon != 0;
    const int32_t hess = p->shape.leastSquares ? h->cov.lsqHessStorage : p->opt.hessianStorage;
    const int32_t cross = p->shape.leastSquares ? p->opt.hessianStorage : h->cov.crossProductStorage;
    switch (kind) {
        case 3: return hess;
        case 5: return constrained ? 0 : hess;
        case 2: return cross;
        case 4: return constrained ? 0 : cross;
        case 6: return h->cov.covStorage == 2 ? 2 : 0;
        default: return 0;
    }
}

void matrix_rows(Row& r, int32_t kind, const double* data) {
    NlpProblem* p = r.p;
    if (kind == kRowCovariance && (p->hooks == nullptr || p->hooks->cov.wantCovariance == 0)) return;
    if (data == nullptr || p->hooks == nullptr) return;
    const bool projected = kind == 4 || kind == 5 || kind == 8 || kind == 12;
    const int32_t m = projected ? r.n - p->active.nActiveBounds - p->active.nActiveLin : r.n;
    if (m <= 0) return;
    const int32_t storage = matrix_storage(p, kind);
    r.type(matrix_type(r.dv, kind));
    for (int32_t i = 0; i < m; ++i) {
        if (m == r.n && p->param.paramNames != nullptr)
            r.name_record(p->param.paramNames[i]);
        else
            r.name("");
        r.dv.cells->rhsCell = i + 1.0;
        r.all(missing());
        for (int32_t j = 0; j < m; ++j)
            p->param.paramRow[j] = storage == 2 ? (i == j ? data[i] : 0.0) : data[velix::pk(std::max(i, j), std::min(i, j))];
        r.write();
    }
    r.all(missing());
    const DeterminantRecord& s = p->report.matrixHeader;
    const int16_t length = r.dv.dataSets->outRow.name.length;
    auto summary = [&](const char* type, double rhs) {
        r.type(type);
        r.dv.cells->rhsCell = rhs;
        r.write();
    };
    r.name(matrix_type(r.dv, kind), length);
    if (kind == kRowCovariance) {
        summary("COVRANK", s.nPositive);
        summary("SIGSQ", p->hooks->result.sigmaSq);
    } else if (s.nNegative >= 0.0) {
        p->param.paramRow[0] = s.mantissa;
        summary("DETERMIN", s.exponent);
        p->param.paramRow[0] = missing();
        summary("NEIGPOS", s.nPositive);
        summary("NEIGNEG", s.nNegative);
        summary("NEIGZERO", s.nZero);
    }
    r.method_name();
}

void constraint_jacobian_rows(Row& r) {
    NlpProblem* p = r.p;
    if (p->cb.conRowFn == nullptr) return;
    const bool labels = p->con.conLabels != nullptr && p->con.conLabelWidth > 0;
    r.type("JACNLC");
    for (int32_t k = 0; k < p->shape.nNlinCon; ++k) {
        const int32_t c = p->shape.nLinCon + k, at = active_position(p, c);
        p->cb.conRowFn(p, c, p->param.paramRow);
        const int32_t length = std::max(labels ? p->con.conLabelWidth : 0, 8);
        if (labels) {
            const NameRecord label = constraint_label(p, k);
            r.name_record(label);
        } else {
            r.name(at < 0 ? "" : at < p->active.nActiveLin ? "ACTIVE" : "LDACTIVE");
        }
        r.dv.dataSets->outRow.name.length = static_cast<int16_t>(std::min(length, 32));
        double v = p->con.conValues != nullptr ? p->con.conValues[k] : missing();
        if (p->con.conKinds != nullptr && static_cast<int16_t>(p->con.conKinds[k]) < 0) {
            v = wzmis(v) ? v : -v;
            for (int32_t i = 0; i < r.n; ++i) p->param.paramRow[i] = -p->param.paramRow[i];
        }
        r.dv.cells->rhsCell = v;
        r.write();
    }
    r.method_name();
}

// Kinds -11, -12 and -13: a limit point found by the profile search, a
// confidence limit (Wald sides 1 and 2, profile sides 3 and 4, lower
// first) and a profile point (side -1 the estimates).  The optimizer leaves
// side, parameter, level and target in NlpProblem::limitRow; a profile
// point's data are x, then the objective entries of "L(THETA)".
void limit_rows(Row& r, int32_t kind, const double* data) {
    const NlpLimitRow& l = r.p->limitRow;
    r.dv.cells->iterCell = missing();
    r.dv.cells->alphaCell = l.alpha;
    r.dv.cells->rhsCell = l.target;
    if (kind == kRowLimitPoint) {
        r.type(l.side == 0 ? "PLCL_LOW" : "PLCL_UPP");
        if (r.p->param.paramNames != nullptr) r.name_record(r.p->param.paramNames[l.param]);
        r.values(data, false);
        r.write();
    } else if (kind == kRowLimit) {
        r.type(l.side <= 2 ? "WALD_CL" : "PL_CL");
        r.name(l.side == 1 || l.side == 3 ? "LOWER" : "UPPER");
        r.values(data, false);
        r.write();
    } else {
        r.dv.cells->rhsCell = missing();
        r.dv.cells->alphaCell = l.side < 0 ? 1.0 : missing();
        r.type("PROFILE");
        r.name("L(THETA)");
        r.values(data + r.n, false);
        r.write();
        r.name("THETA");
        r.values(data, false);
        r.write();
    }
    r.method_name();
}

}  // namespace

int32_t cosfoes(NlpProblem* p, int32_t kind, const double* data) {
    if (proc_context(p) == nullptr) return 0;
    const DataView dv = data_view(proc_context(p));
    if (dv.dataSets->dataSetBinding[kRoleOutest] == nullptr || p->param.paramRow == nullptr) return 0;
    Row r{dv, p, p->shape.nParams};
    // Only the confidence-limit rows carry an alpha.
    dv.cells->alphaCell = missing();
    r.method_name();
    dv.cells->rhsCell = missing();
    dv.cells->iterCell = p->run.evalPhase < 0.0 && kind != kRowInitial ? missing() : 0.0;
    r.all(missing());
    r.statement_variables(false);
    switch (kind) {
        case kRowInitial:
            r.type("INITIAL");
            dv.cells->rhsCell = r.signed_(p->iter.f);
            r.values(p->param.x, false);
            r.write();
            r.grad();
            break;
        case kRowFailedStart:
            r.parms();
            r.grad();
            break;
        case kRowFinal: final_rows(r); break;
        case kRowConJacobian: constraint_jacobian_rows(r); break;
        case kRowLimitPoint: case kRowLimit: case kRowProfile: limit_rows(r, kind, data); break;
        case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 11: case 12:
            matrix_rows(r, kind, data);
            break;
        default: break;
    }
    return 0;
}

void cosfoit(NlpProblem* p) {
    if (proc_context(p) == nullptr) return;
    const DataView dv = data_view(proc_context(p));
    if (dv.dataSets->dataSetBinding[kRoleOutest] == nullptr || p->param.paramRow == nullptr) return;
    if (p->hooks == nullptr || p->hooks->matrices.outestIterations == 0 || p->shape.nParams == 0) return;
    Row r{dv, p, p->shape.nParams};
    dv.cells->alphaCell = missing();
    r.method_name();
    dv.cells->iterCell = p->run.iteration;
    r.parms();
    r.grad();
    if (p->hooks->matrices.outestTime != 0) {
        r.type("_TIME_");
        dv.cells->rhsCell = wzdttme() - p->run.timeUsed;
        r.all(missing());
        r.write();
    }
}
