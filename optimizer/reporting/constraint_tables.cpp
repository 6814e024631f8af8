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
    void define(OutputTable& table) {
        for (int32_t j = 0; j < count; ++j) {
            table.cell_column(kColumnChars, names[static_cast<size_t>(j)].c_str(),
                              &sign[static_cast<size_t>(j) * 4], chars_format(3, "Sign"));
            table.cell_column(kColumnDouble, names[static_cast<size_t>(count + j)].c_str(),
                              &coef[static_cast<size_t>(j)], template_format("Coefficient"));
            table.cell_column(kColumnChars, names[static_cast<size_t>(2 * count + j)].c_str(),
                              &star[static_cast<size_t>(j) * 2], chars_format(1, "Asterisk"));
            table.cell_column(kColumnChars, names[static_cast<size_t>(3 * count + j)].c_str(),
                              &param[static_cast<size_t>(j) * (width + 1)],
                              chars_format(width, "Parameter"));
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
    OutputTable table =
        report_table(p->out.kyrObject, start ? "LinCon" : "LinConSol", start ? 163 : 724);
    table.variable("TitleText", msg(start ? 163 : 164));
    table.cell_column(kColumnUnsigned, "Number", &number, number_format(number_digits(p->nLinCon)));
    if (start) {
        table.cell_column(kColumnDouble, "Residual", &residual);
        table.cell_column(kColumnChars, "Colon", colon, chars_format(1));
        table.cell_column(kColumnChars, "Restriction", restriction, chars_format(3));
        table.cell_column(kColumnDouble, "Left", &left);
        table.cell_column(kColumnChars, "Relation", relation, chars_format(4));
    } else {
        table.cell_column(kColumnChars, "Restriction", restriction, chars_format(3));
        table.cell_column(kColumnDouble, "Residual", &residual);
        table.cell_column(kColumnChars, "Relation", relation, chars_format(3));
        table.cell_column(kColumnDouble, "Left", &left);
    }
    terms.define(table);
    table.end_columns();
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
        table.add_row();
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
    const std::string path = std::string("Orvo.NLP.") + name;
    MatrixTable m;
    m.templatePath = kyrtxt(path.c_str(), -1);
    m.name = kyrtxt(name, -1);
    m.title = msg(title);
    m.description = msg(description);
    m.values = numbers.data();
    m.rows = 1;
    m.columns = static_cast<int32_t>(numbers.size());
    m.storage = "rf";
    m.pieceStyle = 0;
    m.listingSwitches = true;
    kyr_publish_matrix(p->out.kyrObject, m);
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
    OutputTable table = report_table(p->out.kyrObject, "DepBoundCons", 725);
    table.cell_column(kColumnChars, "Parameter", name.data(), chars_format(width));
    table.cell_column(kColumnUnsigned, "Number", &number, number_format(number_digits(n)));
    table.cell_column(kColumnChars, "Kind", kind, chars_format(12));
    table.end_columns();
    for (int32_t j = 0; j < n && table.ok(); ++j) {
        if (!listed[static_cast<size_t>(j)]) continue;
        parameter_label(p, j, name.data(), width);
        number = j + 1;
        const int32_t state = p->boundState[j], piece = state == 2 ? 0 : state == 1 ? 1 : 2;
        std::memcpy(kind, pieces + piece * 12, 12);
        table.add_row();
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
    OutputTable table = report_table(p->out.kyrObject, "NonLinCons", 727);
    table.cell_column(kColumnChars, "lbr", open, chars_format(1));
    table.cell_column(kColumnUnsigned, "Number", &number,
                      number_format(number_digits(p->nLinCon + p->nNlinCon)));
    table.cell_column(kColumnChars, "rbr", close, chars_format(1));
    if (labels)
        table.cell_column(kColumnChars, "Parameter", label.data(), chars_format(p->conLabelWidth));
    if (values) table.cell_column(kColumnDouble, "Value", &value);
    table.cell_column(kColumnDouble, "Residual", &residual);
    if (lagrange) table.cell_column(kColumnDouble, "Lagrange", &multiplier);
    table.cell_column(kColumnChars, "Restriction", restriction, chars_format(12));
    table.cell_column(kColumnChars, "LinDep", linDep, chars_format(8));
    table.end_columns();
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
        table.add_row();
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
    OutputTable table = report_table(p->out.kyrObject, "DepNonlinCon", 726);
    table.cell_column(kColumnChars, "Parameter", label.data(), chars_format(p->conLabelWidth));
    table.cell_column(kColumnUnsigned, "Number", &number,
                      number_format(number_digits(p->nLinCon + p->nNlinCon)));
    table.end_columns();
    for (int32_t c : nonlinearEntries) {
        if (!table.ok()) break;
        std::snprintf(label.data(), label.size(), "%s", constraint_name(p, c - p->nLinCon).c_str());
        number = c + 1;
        table.add_row();
    }
    table.deliver();
}
