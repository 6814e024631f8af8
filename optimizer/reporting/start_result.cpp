// The optimizer's start and result tables: the parameters with their
// gradients, approximate standard errors with t tests, bounds and bound
// marks ("ParameterEstimates"), the objective value, the finite-difference
// intervals, the constraint tables, the Lagrange multipliers of the active
// constraints, the projected gradient and the function values of a
// least-squares objective.  The t test of an estimate is the Wald ratio
// estimate / standard error against Student's t with the variance
// divisor's degrees of freedom (e.g. Seber and Wild, "Nonlinear
// Regression", 1989, sec. 5.1).  Printed gradients, multipliers and
// function values carry the reversed sign when the problem maximises.
//
//   znlppre(level, functionSwitch)
//     close the iteration history; ParameterEstimates; objective notes
//     level -10: constraint tables, stop
//     FiniteDiff; |level| >= 2: constraint tables
//     |level| 3: Lagrange (or note 170 with bounds only), ProjGrad
//     functionSwitch and m != 1: OptStartRes
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/distributions.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/reporting/report_table.h"
#include "optimizer/reporting/reporting.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

using namespace velix::report;

namespace {

constexpr double kTLimit = 9999.99;  // the t value is shown within +-9999.99

HostText* msg(int32_t number) { return kyrmsg(kMsgNlp, number); }

// The working feasibility tolerance: feasTol raised tenfold per retry round.
double bound_tolerance(const NlpProblem* p) { return p->opt.feasTol * std::pow(10.0, p->run.feasRound); }

// The bound mark of parameter i (12 characters with the NUL), empty when none.
const char* bound_mark(const NlpProblem* p, int32_t i, double tol) {
    switch (p->active.boundState != nullptr ? p->active.boundState[i] : 0) {
        case 2: return " Equal BC ";
        case 1: return " Lower BC ";
        case -1: return " Upper BC ";
        default: break;
    }
    const char* mark = "";
    const double x = p->param.x[i], lo = p->param.lower[i], up = p->param.upper[i];
    if (lo > -DBL_MAX) {
        const double d = x - lo, th = (std::fabs(lo) + 1.0) * tol;
        if (d < -th) mark = "Violat. BC";
        else if (std::fabs(d) < th) mark = " Lower BC ";
    }
    if (up < DBL_MAX) {
        const double d = up - x, th = (std::fabs(up) + 1.0) * tol;
        if (d < -th) mark = "Violat. BC";
        else if (std::fabs(d) < th) mark = " Upper BC ";
    }
    return mark;
}

bool any_bound_mark(const NlpProblem* p) {
    const double tol = bound_tolerance(p);
    for (int32_t i = 0; i < p->shape.nParams; ++i)
        if (*bound_mark(p, i, tol) != '\0') return true;
    return false;
}

// The t value and its probability for estimate x with standard error se.
void t_test(double x, double se, double df, double* t, double* probt) {
    *t = *probt = host_missing_value();
    if (wzmis(se) || df == 0) return;
    double v = x == 0.0 ? 0.0 : se > DBL_MIN ? x / se : kTLimit;
    v = std::clamp(v, -kTLimit, kTLimit);
    *t = v;
    *probt = zpgt2(v * v, df);
}

// A parameter is among the dependent bounds when it is not free but is
// listed among the free parameters.
bool dependent_bound(const NlpProblem* p, int32_t i) {
    if (p->active.boundState == nullptr || p->active.boundState[i] == 0 || p->active.freeList == nullptr) return false;
    const int32_t nf = p->shape.nParams - p->active.nActiveBounds;
    for (int32_t k = 0; k < nf; ++k)
        if (p->active.freeList[k] == i) return true;
    return false;
}

bool gradient_slot(const NlpProblem* p) {
    return p->cb.gradientFn != nullptr || (p->hooks != nullptr && p->hooks->eval.gradientFn != nullptr);
}

// "ParameterEstimates".  false when a host call failed.
bool parameter_estimates(NlpProblem* p, int32_t level) {
    const int32_t n = p->shape.nParams;
    const bool failed = level == -10;
    const bool withSe = level >= 0 && p->work.stdErrors != nullptr;
    const bool withGrad = !failed && gradient_slot(p) && p->work.gradient != nullptr;
    const bool withLag = !failed && p->opt.conFactorForm != 0 && p->shape.hasNlinCon != 0 && p->work.lagrangeGradient != nullptr;
    const bool bounds = p->shape.hasBounds != 0;
    const bool withMarks = bounds && any_bound_mark(p);
    const bool withLinDep = bounds && level >= 0 && p->active.nDepBounds != 0;
    const int32_t width = std::max(10, p->param.paramNameWidth);
    // The error degrees of freedom follow N, which may pass the range of a
    // 32-bit integer: they stay a double, truncated to a whole number.
    const double df = p->hooks != nullptr ? std::trunc(p->hooks->result.errorDf) : 0.0;

    int32_t number = 0;
    std::vector<char> name(static_cast<size_t>(width) + 1);
    double est = 0, se = 0, t = 0, probt = 0, grad = 0, lag = 0, lo = 0, up = 0;
    char mark[13] = {}, linDep[9] = {};
    OutputTable table = report_table(p->out.kyrObject, "ParameterEstimates", level < 0 ? 719 : 720);
    table.variable("TitleText1", msg(level < 0 ? 147 : 148));
    table.cell_column(kColumnUnsigned, "Number", &number, number_format(number_digits(n)));
    table.cell_column(kColumnChars, "Parameter", name.data(), chars_format(width));
    table.cell_column(kColumnDouble, "Estimate", &est);
    if (withSe) {
        table.cell_column(kColumnDouble, "AppStdErr", &se);
        table.cell_column(kColumnDouble, "tValue", &t);
        table.cell_column(kColumnDouble, "Probt", &probt);
    }
    if (withGrad) table.cell_column(kColumnDouble, "GradObj", &grad);
    if (withLag) table.cell_column(kColumnDouble, "GradLag", &lag);
    if (bounds && level < 0) {
        table.cell_column(kColumnDouble, "LowerBC", &lo);
        table.cell_column(kColumnDouble, "UpperBC", &up);
    }
    if (withMarks) table.cell_column(kColumnChars, "ActiveBC", mark, chars_format(12));
    if (withLinDep) table.cell_column(kColumnChars, "LinDep", linDep, chars_format(8));
    table.end_columns();
    const double tol = bound_tolerance(p), missing = host_missing_value();
    for (int32_t i = 0; i < n && table.ok(); ++i) {
        number = i + 1;
        parameter_label(p, i, name.data(), width);
        est = p->param.x[i];
        // A standard error that overflowed is none: no t test is made on it.
        se = withSe && std::isfinite(p->work.stdErrors[i]) ? p->work.stdErrors[i] : missing;
        t_test(est, se, df, &t, &probt);
        grad = withGrad ? shown(p, p->work.gradient[i]) : missing;
        lag = withLag ? shown(p, p->work.lagrangeGradient[i]) : missing;
        lo = bounds && p->param.lower[i] > -DBL_MAX ? p->param.lower[i] : missing;
        up = bounds && p->param.upper[i] < DBL_MAX ? p->param.upper[i] : missing;
        std::snprintf(mark, sizeof mark, "%s", withMarks ? bound_mark(p, i, tol) : "");
        std::snprintf(linDep, sizeof linDep, "%s", dependent_bound(p, i) ? " LinDep " : "");
        table.add_row();
    }
    table.deliver();
    return table.ok();
}

// The objective note and, with nonlinear constraints in a factored active
// set, the Lagrange function note.
bool objective_notes(NlpProblem* p) {
    HostObject* m = p->out.kyrObject;
    if (!centred_note(m, kyrmsgs(kMsgNlp, kMsgNlpObjectiveValue, shown(p, p->iter.f)))) return false;
    if (p->opt.conFactorForm != 0 && p->shape.hasNlinCon != 0)
        return centred_note(m, kyrmsgs(kMsgNlp, kMsgNlpLagrangeValue, shown(p, p->iter.lagrangeValue)),
                            2);
    return true;
}

// The label of a general constraint c: the texts of messages 381 and 382
// around its number, as "[3]".
void constraint_label(int32_t c, char* out, int32_t width) {
    char open[2] = {' ', '\0'}, close[2] = {' ', '\0'};
    xpmstr(open, 1, kMsgNlp, kMsgNlpOpenBracket);
    xpmstr(close, 1, kMsgNlp, kMsgNlpCloseBracket);
    std::snprintf(out, static_cast<size_t>(width) + 1, "%c%d%c", open[0], c + 1, close[0]);
}

// "Lagrange": the multipliers of the active bounds, then of the active
// linear and nonlinear constraints.
bool lagrange_table(NlpProblem* p) {
    const int32_t n = p->shape.nParams, nb = p->active.nActiveBounds;
    const bool second = p->report.hasSecondOrder != 0 && p->work.workN2 != nullptr;
    const int32_t width = std::max(10, p->param.paramNameWidth);
    char kind[13] = {};
    std::vector<char> name(static_cast<size_t>(width) + 1);
    double value = 0, value2 = 0;
    OutputTable table = report_table(p->out.kyrObject, "Lagrange", 721);
    table.variable("TitleText", msg(second ? 155 : 156));
    table.cell_column(kColumnChars, "Parameter1", kind, chars_format(12));
    table.cell_column(kColumnChars, "Parameter2", name.data(), chars_format(width));
    table.cell_column(kColumnDouble, "Lagrange", &value);
    if (second) table.cell_column(kColumnDouble, "SecondOrder", &value2);
    table.end_columns();
    auto add = [&](int32_t k) {
        value = shown(p, p->active.multipliers[k]);
        value2 = second ? shown(p, p->work.workN2[k]) : 0.0;
        table.add_row();
    };
    for (int32_t k = 0; k < nb && p->shape.hasBounds != 0 && table.ok(); ++k) {
        const int32_t j = p->active.freeList[n - nb + k], state = p->active.boundState[j];
        std::snprintf(kind, sizeof kind, "%s", state == 2 ? " Equal BC " : state > 0 ? " Lower BC " : " Upper BC ");
        parameter_label(p, j, name.data(), width);
        add(k);
    }
    for (int32_t k = 0; k < p->active.nActiveLin && table.ok(); ++k) {
        const int32_t c = p->active.activeList[k];
        const bool linear = c < p->shape.nLinCon;
        if (linear ? p->shape.hasLinCon == 0 : p->shape.hasNlinCon == 0) continue;
        const bool equality = linear ? c < p->shape.nLinEq : c - p->shape.nLinCon < p->shape.nNlinEq;
        std::snprintf(kind, sizeof kind, "%s",
                      linear ? (equality ? " Linear EC" : " Linear IC") : (equality ? " Nonlin EC" : " Nonlin IC"));
        std::fill(name.begin(), name.end() - 1, ' ');
        constraint_label(c, name.data(), width);
        add(nb + k);
    }
    table.deliver();
    return table.ok();
}

// "ProjGrad": the projected gradient over the free dimension.
bool projected_gradient(NlpProblem* p, int32_t freeDim) {
    std::vector<double> pg(static_cast<size_t>(p->shape.nParams), 0.0);
    znlpgmx(p, 1, pg.data());
    int32_t k = 0;
    double value = 0;
    OutputTable table = report_table(p->out.kyrObject, "ProjGrad", 722);
    table.variable("TitleText", msg(159));
    table.cell_column(kColumnUnsigned, "FreeDimension", &k, number_format(number_digits(freeDim)));
    table.cell_column(kColumnDouble, "ProjGrad", &value);
    table.end_columns();
    for (int32_t i = 0; i < freeDim && table.ok(); ++i) {
        k = i + 1;
        value = shown(p, pg[static_cast<size_t>(i)]);
        table.add_row();
    }
    table.deliver();
    return table.ok();
}

// "OptStartRes": the function values of a least-squares objective.
bool function_values(NlpProblem* p, int32_t level) {
    const int32_t m = p->shape.nFunctions;
    const int32_t width = std::max(8, p->param.functionNameWidth);
    int32_t number = 0;
    double value = 0;
    std::vector<char> name(static_cast<size_t>(width) + 1);
    OutputTable table = report_table(p->out.kyrObject, "OptStartRes", level < 0 ? 719 : 720);
    table.variable("TitleText1", msg(level < 0 ? 147 : 148));
    table.cell_column(kColumnUnsigned, "Number", &number, number_format(number_digits(m)));
    table.cell_column(kColumnChars, "Function", name.data(), chars_format(width));
    table.cell_column(kColumnDouble, "Value", &value);
    table.end_columns();
    for (int32_t i = 0; i < m && table.ok(); ++i) {
        number = i + 1;
        std::fill(name.begin(), name.end() - 1, ' ');
        if (p->param.functionNameWidth > 0 && p->param.functionNames != nullptr)
            std::memcpy(name.data(), p->param.functionNames[i].text,
                        static_cast<size_t>(std::min<int32_t>(p->param.functionNames[i].length, width)));
        else
            znamfix(0, "F       ", 8, i + 1, 0, name.data(), 8);
        value = shown(p, p->work.funValues[i]);
        table.add_row();
    }
    table.deliver();
    return table.ok();
}

// The constraint tables of the start (level < 0) or the result.
void constraint_tables(NlpProblem* p, int32_t level) {
    if (p->shape.nLinCon > 0) {
        if (level < 0)
            pricon1(p, level);
        else
            pricon2(p);
    }
    if (p->shape.hasNlinCon != 0) prinlc(p, level);
}

// Step 9 of the detail level 3: false when the report stops here.
bool detail_three(NlpProblem* p) {
    if (wzmis(p->iter.f)) return false;
    const bool general = p->shape.hasLinCon != 0 || p->shape.hasNlinCon != 0;
    if (!general) {
        if (p->active.nActiveBounds >= 1)
            return centred_note(p->out.kyrObject, msg(kMsgNlpActiveBoundsNote));
        return true;
    }
    if (p->opt.conFactorForm == 0) return true;
    if (p->active.nActiveBounds + p->active.nActiveLin > 0 && !lagrange_table(p)) return false;
    if (p->opt.conFactorForm == 2) return false;
    const int32_t freeDim = p->shape.nParams - p->active.nActiveBounds - p->active.nActiveLin;
    return freeDim < 1 || projected_gradient(p, freeDim);
}

}  // namespace

void znlppre(NlpProblem* p, int32_t level, int32_t functionSwitch) {
    HostObject* m = p->out.kyrObject;
    if (p->opt.printLevel == 0.0 || m == nullptr) return;
    if (p->out.iterHistTable != nullptr) {
        HostObject* open = p->out.iterHistTable;
        p->out.iterHistTable = nullptr;
        if (!OutputTable::resume(m, open, p->out.iterHistOut).deliver()) return;
    }
    if (level != 0 && !begin_output(m)) return;
    if (!parameter_estimates(p, level) || !objective_notes(p)) return;
    if (level == -10) {
        if (p->shape.nLinCon > 0) pricon1(p, level);
        if (p->shape.hasNlinCon != 0) prinlc(p, level);
        return;
    }
    if (p->opt.fdIntervalMode != 0) prifdh(p);
    const int32_t detail = std::abs(level);
    if (detail >= 2) constraint_tables(p, level);
    if (detail >= 3 && !detail_three(p)) return;
    if (functionSwitch != 0 && p->shape.nFunctions != 1 && p->work.funValues != nullptr) function_values(p, level);
}

void prifdh(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    const int32_t width = std::max(8, p->param.paramNameWidth);
    bool anyConstant = false;
    for (int32_t i = 0; i < n && p->fd.constantFlags != nullptr; ++i) anyConstant |= p->fd.constantFlags[i] != 0;
    int32_t number = 0;
    double est = 0, fwd = 0, cen = 0;
    char constant[13] = {};
    std::vector<char> name(static_cast<size_t>(width) + 1);
    OutputTable table = report_table(p->out.kyrObject, "FiniteDiff", 723);
    table.variable("TitleText2", msg(233 + p->opt.fdIntervalMode));
    table.cell_column(kColumnUnsigned, "Number", &number, number_format(number_digits(n)));
    table.cell_column(kColumnChars, "Parameter", name.data(), chars_format(width));
    table.cell_column(kColumnDouble, "Estimate", &est);
    table.cell_column(kColumnDouble, "Forward", &fwd);
    table.cell_column(kColumnDouble, "Central", &cen);
    if (anyConstant) table.cell_column(kColumnChars, "Constant", constant, chars_format(12));
    table.end_columns();
    const double missing = host_missing_value();
    for (int32_t i = 0; i < n && table.ok(); ++i) {
        number = i + 1;
        parameter_label(p, i, name.data(), width);
        est = p->param.x[i];
        fwd = p->fd.fdForward != nullptr ? p->fd.fdForward[i] : missing;
        cen = p->fd.fdCentral != nullptr ? p->fd.fdCentral[i] : missing;
        std::snprintf(constant, sizeof constant, "%s", anyConstant && p->fd.constantFlags[i] != 0 ? "Constant Grd" : "");
        table.add_row();
    }
    table.deliver();
}
