// The optimizer's constraint tables: the linear constraints written out as
// equations at the start ("LinCon", with the constraint turned so that its
// terms are mostly positive) and at the solution ("LinConSol", as residual
// = -b + sum a_i x_i), the nonlinear constraints with their residuals,
// multipliers and marks ("NonLinCons"), and the constraints that the active
// set found linearly dependent ("DepBoundCons", "LinDepLinCon",
// "DepNonlinCon", "LinDepGradNonLin").  A linear row k means a x - b >= 0
// (or = 0 for the first nLinEq rows); a coefficient is present when its
// magnitude exceeds DBL_MIN.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "host/message_text.h"
#include "host/object_dispatch.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/reporting/report_table.h"
#include "optimizer/reporting/reporting.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

using namespace velix::report;

namespace {

constexpr char kNearlyViolated[] = "   *?*";

HostText* msg(int32_t number) { return kyrmsg(kMsgNlp, number); }

int sign_of(double v) { return v > DBL_MIN ? 1 : v < -DBL_MIN ? -1 : 0; }

// The linear rows with their present terms.
struct LinearRows {
    std::vector<std::vector<double>> rows;
    int32_t maxTerms = 0;     // T
    int32_t nameWidth = 8;    // W
};

LinearRows read_rows(NlpProblem* p) {
    LinearRows lr;
    const int32_t n = p->nParams;
    lr.rows.assign(static_cast<size_t>(p->nLinCon), std::vector<double>(static_cast<size_t>(n), 0.0));
    for (int32_t k = 0; k < p->nLinCon; ++k) {
        p->conRowFn(p, k, lr.rows[static_cast<size_t>(k)].data());
        int32_t count = 0;
        for (int32_t i = 0; i < n; ++i) {
            if (std::fabs(lr.rows[static_cast<size_t>(k)][static_cast<size_t>(i)]) <= DBL_MIN) continue;
            ++count;
            if (p->paramNameWidth > 0 && p->paramNames != nullptr)
                lr.nameWidth = std::max<int32_t>(lr.nameWidth, p->paramNames[i].length);
        }
        lr.maxTerms = std::max(lr.maxTerms, count);
    }
    return lr;
}

// The cells of the term columns C1_t (sign), C2_t (coefficient), C3_t
// ("*") and C4_t (parameter), bound to the table.
struct Terms {
    int32_t count = 0, width = 8;
    std::vector<std::string> names;
    std::vector<char> sign, star, param;
    std::vector<double> coef;

    Terms(int32_t t, int32_t w) : count(t), width(w) {
        sign.assign(static_cast<size_t>(t) * 4, '\0');
        star.assign(static_cast<size_t>(t) * 2, '\0');
        param.assign(static_cast<size_t>(t) * (w + 1), '\0');
        coef.assign(static_cast<size_t>(t), 0.0);
        for (int32_t k = 1; k <= 4; ++k)
            for (int32_t j = 1; j <= t; ++j) {
                char field[16] = {};
                const char prefix[] = {'C', static_cast<char>('0' + k), '_', ' ', ' ', ' ', ' ', ' ', '\0'};
                const int32_t len = znamfix(0, prefix, 8, j, 0, field, 15);
                names.emplace_back(field, static_cast<size_t>(len));
            }
    }
    void define(ReportTable& table) {
        for (int32_t j = 0; j < count; ++j) {
            table.chars(names[static_cast<size_t>(j)].c_str(), &sign[static_cast<size_t>(j) * 4], 3, "Sign");
            table.real(names[static_cast<size_t>(count + j)].c_str(), &coef[static_cast<size_t>(j)], "Coefficient");
            table.chars(names[static_cast<size_t>(2 * count + j)].c_str(), &star[static_cast<size_t>(j) * 2], 1,
                        "Asterisk");
            table.chars(names[static_cast<size_t>(3 * count + j)].c_str(),
                        &param[static_cast<size_t>(j) * (width + 1)], width, "Parameter");
        }
    }
    // The present terms of row a, each coefficient multiplied by factor.
    void fill(const NlpProblem* p, const std::vector<double>& a, double factor) {
        int32_t j = 0;
        for (int32_t i = 0; i < p->nParams; ++i) {
            const double v = factor * a[static_cast<size_t>(i)];
            if (std::fabs(v) <= DBL_MIN) continue;
            if (j >= count) nlp_internal_error("constraint tables: a row has more terms than counted");
            std::snprintf(&sign[static_cast<size_t>(j) * 4], 4, "%s", v < 0.0 ? " - " : " + ");
            coef[static_cast<size_t>(j)] = std::fabs(v);
            std::snprintf(&star[static_cast<size_t>(j) * 2], 2, "*");
            parameter_label(p, i, &param[static_cast<size_t>(j) * (width + 1)], width);
            ++j;
        }
        for (; j < count; ++j) {
            sign[static_cast<size_t>(j) * 4] = star[static_cast<size_t>(j) * 2] = '\0';
            param[static_cast<size_t>(j) * (width + 1)] = '\0';
            coef[static_cast<size_t>(j)] = host_missing_value();
        }
    }
};

double dot(const NlpProblem* p, const std::vector<double>& a) {
    double s = 0.0;
    for (int32_t i = 0; i < p->nParams; ++i) s += a[static_cast<size_t>(i)] * p->x[i];
    return s;
}

// "VIO", "ACT" or blank for residual r of row k with right-hand side b.
const char* linear_restriction(const NlpProblem* p, int32_t k, double r, double b) {
    const double theta = p->feasTol * std::pow(10.0, p->feasRound) * (std::fabs(b) + 1.0);
    if (k < p->nLinEq) return std::fabs(r) > theta ? "VIO" : "ACT";
    return r < -theta ? "VIO" : r <= theta ? "ACT" : "";
}

void dependencies_after(NlpProblem* p) {
    if (p->hasNlinCon != 0) return;
    if (p->nDepLin != 0 || p->nDepBounds != 0) pricon3(p);
}

// The common body of "LinCon" (start) and "LinConSol" (solution).
void linear_table(NlpProblem* p, bool start) {
    if (p->nLinCon == 0 || p->conRowFn == nullptr) return;
    const LinearRows lr = read_rows(p);
    Terms terms(lr.maxTerms, lr.nameWidth);
    int32_t number = 0;
    double residual = 0, left = 0;
    char colon[2] = ":", restriction[4] = {}, relation[5] = {};
    ReportTable table(p->out.kyrObject, start ? "LinCon" : "LinConSol",
                      start ? kMsgNlpLinearConstraintsTitle : kMsgNlpLinearAtSolutionTable);
    table.title_variable("TitleText",
                         msg(start ? kMsgNlpLinearConstraintsTitle : kMsgNlpLinearAtSolutionTitle));
    table.integer("Number", &number, number_digits(p->nLinCon));
    if (start) {
        table.real("Residual", &residual);
        table.chars("Colon", colon, 1);
        table.chars("Restriction", restriction, 3);
        table.real("Left", &left);
        table.chars("Relation", relation, 4);
    } else {
        table.chars("Restriction", restriction, 3);
        table.real("Residual", &residual);
        table.chars("Relation", relation, 3);
        table.real("Left", &left);
    }
    terms.define(table);
    table.bind();
    for (int32_t k = 0; k < p->nLinCon && table.ok(); ++k) {
        const std::vector<double>& a = lr.rows[static_cast<size_t>(k)];
        const double b = p->linRhs[k];
        number = k + 1;
        residual = dot(p, a) - b;
        std::snprintf(restriction, sizeof restriction, "%s", linear_restriction(p, k, residual, b));
        if (start) {
            int s = sign_of(b);
            for (double v : a) s += sign_of(v);
            const bool turned = s < 0;
            left = turned ? -b : b;
            std::snprintf(relation, sizeof relation, "%s", k < p->nLinEq ? " == " : turned ? " >= " : " <= ");
            terms.fill(p, a, turned ? -1.0 : 1.0);
        } else {
            left = -b;
            std::snprintf(relation, sizeof relation, " = ");
            terms.fill(p, a, 1.0);
        }
        table.row();
    }
    table.deliver();
    if (!table.ok()) return;
    dependencies_after(p);
}

bool dependent_entry(const NlpProblem* p, int32_t c) {
    for (int32_t k = p->nActiveLin; k < p->nActiveLin + p->nDepLin; ++k)
        if (p->activeList[k] == c) return true;
    return false;
}

// The label of nonlinear constraint k without trailing blanks.
std::string constraint_name(const NlpProblem* p, int32_t k) {
    std::string s(p->conLabels + static_cast<size_t>(k) * p->conLabelWidth, static_cast<size_t>(p->conLabelWidth));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// One row of numbers (the dependent constraints) as a matrix table.
void dependency_matrix(NlpProblem* p, const char* name, int32_t title, int32_t description,
                       const std::vector<double>& numbers) {
    const int32_t zero = 0;
    const std::string path = std::string("Orvo.NLP.") + name;
    KyrArg args[] = {
        kyr_text(kAttrTemplatePath, kyrtxt(path.c_str(), -1)), kyr_text(kAttrName, kyrtxt(name, -1)), kyr_text(kAttrDescription, msg(description)),
        kyr_text(kAttrLabel, msg(title)), kyr_address(kAttrValues, kKyrDoubles, numbers.data()), kyr_int(kAttrRows, 1),
        kyr_int(kAttrColumns, static_cast<int32_t>(numbers.size())), kyr_counted(kAttrStorage, "rf", 2), kyr_int(kAttrLabelWidth, 0),
        kyr_int(kAttrSwitch280, 1), kyr_int(kAttrSwitch371, 1), kyr_address(kAttrPieceStyle, kKyrCell, &zero)};
    const int32_t rc = wobmth(p->out.kyrObject, nullptr, kKyrMethodPublishMatrix, 12, args);
    if (kyr_failed(rc)) xprrlog(0, rc);
}

// "DepBoundCons": the parameters whose bounds are dependent.
bool dependent_bounds(NlpProblem* p) {
    const int32_t n = p->nParams, nf = n - p->nActiveBounds;
    std::vector<bool> listed(static_cast<size_t>(n), false);
    int32_t width = 8;
    for (int32_t k = 0; k < nf; ++k) {
        const int32_t j = p->freeList[k];
        if (p->boundState[j] == 0) continue;
        listed[static_cast<size_t>(j)] = true;
        if (p->paramNameWidth > 0 && p->paramNames != nullptr)
            width = std::max<int32_t>(width, p->paramNames[j].length);
    }
    char pieces[36];
    zmsgtxa(kMsgNlp, kMsgNlpConstraintKinds, pieces, 12, 3);
    std::vector<char> name(static_cast<size_t>(width) + 1);
    int32_t number = 0;
    char kind[13] = {};
    ReportTable table(p->out.kyrObject, "DepBoundCons", kMsgNlpDependentBoundsTable);
    table.chars("Parameter", name.data(), width);
    table.integer("Number", &number, number_digits(n));
    table.chars("Kind", kind, 12);
    table.bind();
    for (int32_t j = 0; j < n && table.ok(); ++j) {
        if (!listed[static_cast<size_t>(j)]) continue;
        parameter_label(p, j, name.data(), width);
        number = j + 1;
        const int32_t state = p->boundState[j], piece = state == 2 ? 0 : state == 1 ? 1 : 2;
        std::memcpy(kind, pieces + piece * 12, 12);
        table.row();
    }
    table.deliver();
    return table.ok();
}

}  // namespace

void pricon1(NlpProblem* p, int32_t /*level*/) { linear_table(p, true); }

void pricon2(NlpProblem* p) { linear_table(p, false); }

void prinlc(NlpProblem* p, int32_t level) {
    if (p->nNlinCon < 1) return;
    const bool labels = p->conLabels != nullptr && p->conLabelWidth > 0;
    const bool values = p->nlcRhs != nullptr && p->conKinds != nullptr;
    const bool lagrange = p->conFactorForm != 0;
    char open[2] = {}, close[2] = {}, pieces[49] = {};
    xpmstr(open, 1, kMsgNlp, kMsgNlpOpenBracket);
    xpmstr(close, 1, kMsgNlp, kMsgNlpCloseBracket);
    zmsgtxa(kMsgNlp, kMsgNlpConstraintStates, pieces, 12, 4);
    int32_t number = 0, nearly = 0;
    double value = 0, residual = 0, multiplier = 0;
    std::vector<char> label(static_cast<size_t>(std::max(p->conLabelWidth, 1)) + 1);
    char restriction[13] = {}, linDep[9] = {};
    ReportTable table(p->out.kyrObject, "NonLinCons", kMsgNlpNonlinearConstraintsTable);
    table.chars("lbr", open, 1);
    table.integer("Number", &number, number_digits(p->nLinCon + p->nNlinCon));
    table.chars("rbr", close, 1);
    if (labels) table.chars("Parameter", label.data(), p->conLabelWidth);
    if (values) table.real("Value", &value);
    table.real("Residual", &residual);
    if (lagrange) table.real("Lagrange", &multiplier);
    table.chars("Restriction", restriction, 12);
    table.chars("LinDep", linDep, 8);
    table.bind();
    const double missing = host_missing_value(), tol = p->feasTol;
    for (int32_t k = 0; k < p->nNlinCon && table.ok(); ++k) {
        const int32_t c = p->nLinCon + k;
        number = c + 1;
        if (labels) std::snprintf(label.data(), label.size(), "%s", constraint_name(p, k).c_str());
        const double v = p->conValues != nullptr ? p->conValues[k] : missing;
        value = missing;
        if (values && !wzmis(v) && !wzmis(p->nlcRhs[k]))
            value = static_cast<int16_t>(p->conKinds[k]) >= 0 ? p->nlcRhs[k] + v : p->nlcRhs[k] - v;
        const bool equality = k < p->nNlinEq;
        residual = wzmis(v) ? missing : equality ? std::fabs(v) : -v;
        multiplier = missing;
        for (int32_t a = 0; a < p->nActiveLin; ++a)
            if (p->activeList[a] == c) multiplier = shown(p, p->multipliers[p->nActiveBounds + a]);
        std::snprintf(linDep, sizeof linDep, "%s", p->nDepLin > 0 && dependent_entry(p, c) ? " LinDep " : "");
        const char* first = pieces + (equality ? 0 : 24);
        const char* second = first + 12;
        restriction[0] = '\0';
        if (!wzmis(residual)) {
            const double r = residual;
            if ((level < 0 && r > tol) || (level >= 0 && r > 0.001))
                std::snprintf(restriction, sizeof restriction, "%.12s", second);
            else if (level >= 0 && r > tol) {
                std::snprintf(restriction, sizeof restriction, "%s", kNearlyViolated);
                ++nearly;
            } else if (r >= -tol)
                std::snprintf(restriction, sizeof restriction, "%.12s", first);
        }
        table.row();
    }
    table.deliver();
    if (!table.ok()) return;
    if (nearly != 0 &&
        !centred_note(p->out.kyrObject, kyrmsgs(kMsgNlp, kMsgNlpNearlyViolated, nearly)))
        return;
    if (level != -10 && (p->nDepLin != 0 || p->nDepBounds != 0)) pricon3(p);
}

void pricon3(NlpProblem* p) {
    if (p->nDepLin == 0 && p->nDepBounds == 0) return;
    if (p->nDepBounds != 0 && !dependent_bounds(p)) return;
    if (p->nDepLin == 0) return;
    std::vector<double> linear, nonlinear;
    std::vector<int32_t> nonlinearEntries;
    for (int32_t k = p->nActiveLin; k < p->nActiveLin + p->nDepLin; ++k) {
        const int32_t c = p->activeList[k];
        if (c < p->nLinCon) {
            linear.push_back(c + 1.0);
        } else {
            nonlinear.push_back(c + 1.0);
            nonlinearEntries.push_back(c);
        }
    }
    if (!linear.empty())
        dependency_matrix(p, "LinDepLinCon", kMsgNlpDependentLinearTable,
                          kMsgNlpDependentActiveLinear, linear);
    if (nonlinear.empty()) return;
    if (p->conLabels == nullptr || p->conLabelWidth <= 0) {
        dependency_matrix(p, "LinDepGradNonLin", kMsgNlpDependentNlcGradTable,
                          kMsgNlpDependentNlcGradients, nonlinear);
        return;
    }
    // Each dependent nonlinear constraint with its own label.
    std::vector<char> label(static_cast<size_t>(p->conLabelWidth) + 1);
    int32_t number = 0;
    ReportTable table(p->out.kyrObject, "DepNonlinCon", kMsgNlpDependentNlcTable);
    table.chars("Parameter", label.data(), p->conLabelWidth);
    table.integer("Number", &number, number_digits(p->nLinCon + p->nNlinCon));
    table.bind();
    for (int32_t c : nonlinearEntries) {
        if (!table.ok()) break;
        std::snprintf(label.data(), label.size(), "%s", constraint_name(p, c - p->nLinCon).c_str());
        number = c + 1;
        table.row();
    }
    table.deliver();
}
