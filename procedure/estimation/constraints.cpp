// The constraints of the optimizer from the statements: BOUNDS as lower and
// upper bounds of the named parameters, LINCON as dense linear rows of the
// parameters (equalities first, every inequality turned into a x >= b),
// and the constraint-row slot through which the optimizer reads them; and
// the start values, bounds and linear rows of an INEST= data set (the
// rows that OUTEST= writes), so that a run can start where another ended.
// The linear rows also go, as they were given, to the constraint files
// (procedure/data/constraint_file.h): the LINCON rows once per step, the
// INEST= rows of each BY group, and their merge in the problem's order,
// which is what OUTEST= writes back; the INEST= rows pass through one at a
// time, so no copy of them is held besides the problem's own rows.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "host/internal_error.h"
#include "procedure/data/constraint_file.h"
#include "procedure/data/data.h"
#include "procedure/proc_options.h"
#include "procedure/procedure.h"
#include "procedure/estimation/estimation.h"
#include "procedure/estimation/options.h"
#include "velix/codes.h"
#include "velix/host_compiler.h"
#include "velix/messages.h"
#include "velix/statements.h"

namespace {

// Messages of the constraint set-up (group kMsgProc).
constexpr int32_t kMsgUnknownParameter = 438;  // a constraint names no parameter of the model
constexpr int32_t kMsgEmptyBounds = 439;       // a lower bound above its upper bound
constexpr int32_t kMsgNotAProgramVariable = 440;  // NLINCON names no numeric program variable

// Kinds of a nonlinear constraint row set (NlinConTable): an equality, a
// lower limit, an upper limit, and a range (both limits, two rows).
constexpr int16_t kNlinEquality = 2;
constexpr int16_t kNlinLower = 1;
constexpr int16_t kNlinUpper = -1;
constexpr int16_t kNlinRange = -2;

HostAllocator* pool_of(ProcContext* ctx) {
    return ctx->pools.runPool[0] ? ctx->pools.runPool[0] : v_global_gcb_anchor->stepAllocator;
}

// `count` zeroed objects of T from the constraints' pool; null (with the
// memory message and level) when it cannot give them.
template <typename T>
T* zeroed(ProcContext* ctx, int64_t count) {
    HostAllocator* pool = pool_of(ctx);
    const size_t bytes = sizeof(T) * static_cast<size_t>(count > 0 ? count : 1);
    void* block = pool->allocate(pool, bytes, alignof(T) > 4 ? alignof(T) : 4);
    if (block == nullptr) {
        xmemmsg(static_cast<int64_t>(bytes));
        raise_error_level(ctx, kLevelNoMemory);
        return nullptr;
    }
    std::memset(block, 0, bytes);
    return static_cast<T*>(block);
}

// 0-based index of the independent parameter `name`, -1 when none.
int32_t parameter_index(const NlpProblem* nlp, const NameRecord& name) {
    for (int32_t i = 0; i < nlp->shape.nParams; ++i)
        if (same_name(nlp->param.paramNames[i], name)) return i;
    return -1;
}

// A zeroed block of `count` rows of n coefficients and their `count`
// right-hand sides; null (and the error level raised) when it cannot be had.
double* row_block(ProcContext* ctx, int64_t n, int32_t count) {
    HostAllocator* pool = pool_of(ctx);
    const size_t bytes = sizeof(double) * static_cast<size_t>((n + 1) * count);
    auto* block = static_cast<double*>(pool->allocate(pool, bytes, alignof(double)));
    if (block == nullptr) {
        xmemmsg(static_cast<int64_t>(bytes));
        raise_error_level(ctx, kLevelNoMemory);
        return nullptr;
    }
    std::memset(block, 0, bytes);
    return block;
}

// A constraint statement names `name`, which is no parameter of the model or
// no variable it may take: the message, then its place in the program.
void name_error(ProcContext* ctx, int32_t message, const NameRecord& name, int32_t line) {
    const int32_t length = std::clamp<int32_t>(name.length, 0, static_cast<int32_t>(sizeof name.text));
    xpmlog(kMsgProc, message, length, name.text);
    xpmplace(line, std::string(name.text, static_cast<size_t>(length)).c_str());
    raise_error_level(ctx, kLevelInputError);
}

int32_t name_line(const int32_t* nameLines, int32_t k, int32_t line) {
    return nameLines != nullptr && nameLines[k] > 0 ? nameLines[k] : line;
}

// Whether `name` is a dependent parameter (after the independent ones in
// the per-parameter arrays).
bool dependent_parameter(const ProcContext* ctx, const NlpProblem* nlp, const NameRecord& name) {
    for (int32_t i = nlp->shape.nParams; i < ctx->optSetup.parms.count; ++i)
        if (same_name(nlp->param.paramNames[i], name)) return true;
    return false;
}

// BOUNDS: later statements override earlier ones for a parameter.
void read_bounds(ProcContext* ctx, NlpProblem* nlp) {
    for (const StatementNode* s = find_statement(ctx->stmtList, "BOUNDS  "); s;
         s = find_statement(s->next, "BOUNDS  ")) {
        const auto* b = static_cast<const BoundsPayload*>(s->payload);
        for (int32_t e = 0; e < b->nEntries; ++e) {
            const BoundEntry& entry = b->entries[e];
            for (int32_t k = 0; k < entry.names.count; ++k) {
                const NameRecord& name = entry.names.names[k];
                const int32_t j = parameter_index(nlp, name);
                if (j < 0) {
                    // A dependent parameter has no place of its own in
                    // the parameter vector: its limits are a nonlinear
                    // constraint, and the message says how to write one.
                    if (dependent_parameter(ctx, nlp, name)) {
                        const int32_t l = std::clamp<int32_t>(name.length, 0, static_cast<int32_t>(sizeof name.text));
                        xpmlog(kMsgProc, kMsgBoundsOnDependent, l, name.text, l, name.text, l, name.text);
                        xpmplace(name_line(entry.nameLines, k, entry.line), std::string(name.text, static_cast<size_t>(l)).c_str());
                        raise_error_level(ctx, kLevelInputError);
                    } else {
                        name_error(ctx, kMsgUnknownParameter, name, name_line(entry.nameLines, k, entry.line));
                    }
                    continue;
                }
                if (entry.hasLower) nlp->param.lower[j] = entry.lower;
                if (entry.hasUpper) nlp->param.upper[j] = entry.upper;
                if (nlp->param.lower[j] > nlp->param.upper[j]) {
                    xpmlog(kMsgProc, kMsgEmptyBounds, static_cast<int32_t>(entry.names.names[k].length),
                           entry.names.names[k].text, nlp->param.lower[j], nlp->param.upper[j]);
                    raise_error_level(ctx, kLevelInputError);
                }
            }
        }
    }
}

// The kind of a nonlinear constraint from its limits.
int16_t nlin_kind(const NonlinearConstraint& c) {
    if (c.hasLower && c.hasUpper) return c.lower == c.upper ? kNlinEquality : kNlinRange;
    return c.hasLower ? kNlinLower : kNlinUpper;
}

// Calls visit(constraint) for every constraint of every NLINCON statement.
template <typename Visit>
void for_each_nlincon(const ProcContext* ctx, Visit&& visit) {
    for (const StatementNode* s = find_statement(ctx->stmtList, "NLINCON "); s;
         s = find_statement(s->next, "NLINCON ")) {
        const auto* l = static_cast<const NlinconPayload*>(s->payload);
        for (int32_t c = 0; c < l->nConstraints; ++c) visit(l->constraints[c]);
    }
}

// The arrays of the nonlinear constraints: the table the objective reads
// (kind, rows and value cell of each constraint), the list of their
// program symbols whose derivatives the statement compiler derives, and
// the right-hand sides.  Rows: the equalities 0 .. E-1 in statement order,
// then the inequality rows E + firstRow (a lower limit, or the lower row
// of a range) and E + secondRow (an upper limit, or the upper row of a
// range), row base 0.
// The label of each row (its variable's name, blank-padded to `width`)
// names the row in the optimizer's constraint tables and OUTEST= rows.
struct NlinArrays {
    NlinConTable* table = nullptr;
    int16_t* kind = nullptr;
    int32_t *first = nullptr, *second = nullptr;
    double** cells = nullptr;
    CmpSymbol** symbols = nullptr;
    double* rhs = nullptr;
    char* labels = nullptr;
    int32_t width = 0;
};

bool allocate_nlin(ProcContext* ctx, int32_t count, int32_t rows, int32_t width, NlinArrays* a) {
    a->table = zeroed<NlinConTable>(ctx, 1);
    a->kind = zeroed<int16_t>(ctx, count);
    a->first = zeroed<int32_t>(ctx, count);
    a->second = zeroed<int32_t>(ctx, count);
    a->cells = zeroed<double*>(ctx, count);
    a->symbols = zeroed<CmpSymbol*>(ctx, count);
    a->rhs = zeroed<double>(ctx, rows);
    a->labels = zeroed<char>(ctx, int64_t{rows} * width);
    a->width = width;
    if (a->labels != nullptr) std::memset(a->labels, ' ', static_cast<size_t>(rows) * static_cast<size_t>(width));
    return a->table && a->kind && a->first && a->second && a->cells && a->symbols && a->rhs && a->labels;
}

void label_row(NlinArrays* a, int32_t row, const NameRecord& name) {
    std::memcpy(a->labels + static_cast<size_t>(row) * static_cast<size_t>(a->width), name.text,
                static_cast<size_t>(std::clamp<int16_t>(name.length, 0, static_cast<int16_t>(a->width))));
}

// NLINCON as rows of program variables: each name must be a numeric
// variable of the programming statements, its rows c(x) - b >= 0 or
// b - c(x) >= 0 (= 0 for an equality) laid out as NlinArrays says.
void read_nlincon(ProcContext* ctx, NlpProblem* nlp) {
    int32_t count = 0, equalities = 0, inequalities = 0, width = 1;
    for_each_nlincon(ctx, [&](const NonlinearConstraint& c) {
        const int16_t k = nlin_kind(c);
        ++count;
        equalities += k == kNlinEquality;
        inequalities += k == kNlinRange ? 2 : k == kNlinEquality ? 0 : 1;
        width = std::max<int32_t>(width, std::clamp<int16_t>(c.name.length, 0, 32));
    });
    if (count == 0) return;
    NlinArrays a;
    if (!allocate_nlin(ctx, count, equalities + inequalities, width, &a)) return;
    int32_t i = 0, nextEq = 0, nextIneq = 0;
    bool unknown = false;
    for_each_nlincon(ctx, [&](const NonlinearConstraint& c) {
        CmpSymbol* sym = ctx->cmpWork ? cmpsyms(c.name.text, c.name.length, ctx->cmpWork) : nullptr;
        if (sym != nullptr && !ctx->program.hasProgram) {
            // The statements that would compute it are not run: the
            // constraint could never be evaluated.
            name_error(ctx, kMsgNlinconIgnoredProgram, c.name, c.line);
            unknown = true;
            return;
        }
        if (sym == nullptr || sym->valueType != 'n' || sym->value == nullptr) {
            name_error(ctx, kMsgNotAProgramVariable, c.name, c.line);
            unknown = true;
            return;
        }
        const int16_t k = nlin_kind(c);
        a.kind[i] = k;
        a.symbols[i] = sym;
        a.cells[i] = sym->value;
        if (k == kNlinEquality) {
            a.first[i] = nextEq;
            label_row(&a, nextEq, c.name);
            a.rhs[nextEq++] = c.lower;
        } else {
            if (k != kNlinUpper) {
                a.first[i] = nextIneq;
                label_row(&a, equalities + nextIneq, c.name);
                a.rhs[equalities + nextIneq++] = c.lower;
            }
            if (k != kNlinLower) {
                a.second[i] = nextIneq;
                label_row(&a, equalities + nextIneq, c.name);
                a.rhs[equalities + nextIneq++] = c.upper;
            }
        }
        ++i;
    });
    if (unknown) return;
    *a.table = NlinConTable{count, a.kind, a.first, a.second, 0, a.cells};
    ctx->eval.nlinCon = a.table;
    ctx->program.nlcList = CmpList{count, a.symbols};
    nlp->con.nlcRhs = a.rhs;
    nlp->con.conLabels = a.labels;
    nlp->con.conLabelWidth = a.width;
    nlp->shape.hasNlinCon = 1;
    nlp->shape.nNlinCon = equalities + inequalities;
    nlp->shape.nNlinEq = equalities;
}

// LINCON: one dense row per constraint, equalities first; a <= row is
// negated into a >= row.  Each row also goes, as it was given, to the
// statements' constraint file at its position.
void read_lincon(ProcContext* ctx, NlpProblem* nlp, HostFile* file) {
    int32_t count = 0, equalities = 0;
    for (const StatementNode* s = find_statement(ctx->stmtList, "LINCON  "); s;
         s = find_statement(s->next, "LINCON  ")) {
        const auto* l = static_cast<const LinconPayload*>(s->payload);
        count += l->nConstraints;
        for (int32_t c = 0; c < l->nConstraints; ++c) equalities += l->constraints[c].relation == kRelEq;
    }
    if (count == 0) return;
    if (file == nullptr) internal_error("LINCON without its constraint file");
    const int32_t n = nlp->shape.nParams;
    double* block = row_block(ctx, n, count);
    if (block == nullptr) return;
    nlp->con.linRows = block;
    nlp->con.linRhs = block + int64_t{n} * count;
    int32_t nextEq = 0, nextIneq = equalities;
    for (const StatementNode* s = find_statement(ctx->stmtList, "LINCON  "); s;
         s = find_statement(s->next, "LINCON  ")) {
        const auto* l = static_cast<const LinconPayload*>(s->payload);
        for (int32_t c = 0; c < l->nConstraints; ++c) {
            const LinearConstraint& lc = l->constraints[c];
            const int32_t row = lc.relation == kRelEq ? nextEq++ : nextIneq++;
            double* a = nlp->con.linRows + int64_t{n} * row;
            for (int32_t t = 0; t < lc.nTerms; ++t) {
                const int32_t j = parameter_index(nlp, lc.names[t]);
                if (j < 0) {
                    name_error(ctx, kMsgUnknownParameter, lc.names[t], name_line(lc.nameLines, t, lc.line));
                    continue;
                }
                a[j] += lc.coefs[t];
            }
            const int32_t code = lc.relation == kRelEq ? kConEq : lc.relation == kRelLe ? kConLe : kConGe;
            con_point(file, row * con_record_bytes(n, 0));
            con_write(file, code, lc.rhs, a, n, nullptr, 0);
            const double sign = code == kConLe ? -1.0 : 1.0;
            for (int32_t j = 0; j < n; ++j) a[j] *= sign;
            nlp->con.linRhs[row] = sign * lc.rhs;
        }
    }
    nlp->shape.hasLinCon = 1;
    nlp->shape.nLinCon = count;
    nlp->shape.nLinEq = equalities;
}

// ---- INEST= ----

// One constraint record in memory: the one row that passes through at a
// time while the constraint files are read and written.
struct ConRow {
    int32_t code = kConGe;
    double rhs = 0.0;
    std::vector<double> a, stmt;

    ConRow(int32_t n, int32_t nStmt) : a(static_cast<size_t>(n), 0.0), stmt(static_cast<size_t>(nStmt), 0.0) {}
    void read(HostFile* f) { con_read(f, &code, &rhs, a.data(), n(), stmt.data(), n_stmt()); }
    void write(HostFile* f) const { con_write(f, code, rhs, a.data(), n(), stmt.data(), n_stmt()); }
    int32_t n() const { return static_cast<int32_t>(a.size()); }
    int32_t n_stmt() const { return static_cast<int32_t>(stmt.size()); }
    // The row as the problem holds it (a x >= b, or = b).
    double sign() const { return code == kConLe ? -1.0 : 1.0; }
};

// What the INEST= rows of a BY group give, missing where they say nothing;
// their constraint rows are on the INEST= constraint file.
struct InestRows {
    std::vector<double> start, lower, upper, stmtValues;
    int32_t nRows = 0;
};

bool type_is(const ProcContext* ctx, const char* type) {
    char padded[8];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, type, std::strlen(type));
    return std::memcmp(ctx->dataSets.outRow.type, padded, sizeof padded) == 0;
}

InestRows read_inest_rows(ProcContext* ctx, const NlpProblem* nlp) {
    const int32_t n = nlp->shape.nParams;
    const size_t un = static_cast<size_t>(n);
    const double missing = host_missing_value();
    InestRows r{std::vector<double>(un, missing), std::vector<double>(un, missing), std::vector<double>(un, missing),
                {}, 0};
    const int32_t nStmt = con_statement_count(&ctx->program);
    r.stmtValues.assign(static_cast<size_t>(nStmt), missing);
    HostFile* file = ctx->files.conInestFile;
    if (file == nullptr) internal_error("INEST= without its constraint file");
    con_point(file, 0);
    ConRow c(n, nStmt);
    const double* row = nlp->param.paramRow;
    // A parameter of the exogenous block that the data set lacks has no
    // cell of its own (an ML run's OUTEST= as INEST= of WLS): it says nothing.
    std::vector<int32_t> absent;
    for (int32_t j = 0; j < n; ++j) {
        const NameRecord& name = nlp->param.paramNames[j];
        int16_t number = 0;
        if (generated_exogenous_name(name) &&
            (xvfind(ctx->dataSets.dataSetHandle[kRoleInest], name.text, name.length, &number, 0) != 0 || number == 0))
            absent.push_back(j);
    }
    while (cos_read_row(ctx, kRoleInest)) {
        if (type_is(ctx, "PARMS")) {
            r.start.assign(row, row + n);
            for (int32_t j : absent) r.start[static_cast<size_t>(j)] = missing;
            for (int32_t k = 0; k < nStmt; ++k) r.stmtValues[static_cast<size_t>(k)] = ctx->program.stmtVars[k].cell;
        } else if (type_is(ctx, "UPPERBD")) {
            r.upper.assign(row, row + n);
            for (int32_t j : absent) r.upper[static_cast<size_t>(j)] = missing;
        } else if (type_is(ctx, "LOWERBD")) {
            r.lower.assign(row, row + n);
            for (int32_t j : absent) r.lower[static_cast<size_t>(j)] = missing;
        } else if (type_is(ctx, "EQ") || type_is(ctx, "GE") || type_is(ctx, "LE")) {
            // A row without a right-hand side says nothing; a missing
            // coefficient is 0.
            if (wzmis(ctx->cells.rhsCell)) continue;
            c.code = type_is(ctx, "EQ") ? kConEq : type_is(ctx, "LE") ? kConLe : kConGe;
            c.rhs = ctx->cells.rhsCell;
            for (int32_t j = 0; j < n; ++j) c.a[static_cast<size_t>(j)] = wzmis(row[j]) ? 0.0 : row[j];
            for (int32_t j : absent) c.a[static_cast<size_t>(j)] = 0.0;
            for (int32_t k = 0; k < nStmt; ++k) c.stmt[static_cast<size_t>(k)] = ctx->program.stmtVars[k].cell;
            c.write(file);
            ++r.nRows;
        }
    }
    return r;
}

// Start values: the parameter and every element that carries it.
void apply_start_values(ProcContext* ctx, NlpProblem* nlp, const InestRows& r) {
    for (int32_t i = 0; i < nlp->shape.nParams; ++i) {
        const double v = r.start[static_cast<size_t>(i)];
        if (wzmis(v)) continue;
        nlp->param.x[i] = v;
        for (int32_t e = 0; e < ctx->sizes.nElements; ++e)
            if (std::abs(ctx->elements.parameter[e]) == i + 1) ctx->elements.value[e] = v;
    }
    for (int32_t k = 0; k < static_cast<int32_t>(r.stmtValues.size()); ++k)
        if (!wzmis(r.stmtValues[static_cast<size_t>(k)])) ctx->program.stmtVars[k].value = r.stmtValues[static_cast<size_t>(k)];
}

void apply_bounds(NlpProblem* nlp, const InestRows& r) {
    for (int32_t j = 0; j < nlp->shape.nParams; ++j) {
        const size_t k = static_cast<size_t>(j);
        if (!wzmis(r.lower[k])) nlp->param.lower[j] = r.lower[k];
        if (!wzmis(r.upper[k])) nlp->param.upper[j] = r.upper[k];
        nlp->shape.hasBounds |= nlp->param.lower[j] > -DBL_MAX || nlp->param.upper[j] < DBL_MAX;
    }
}

// The problem's row that c gives again (the same constraint given by
// LINCON and read back from an earlier OUTEST=), -1 when none.
int32_t known_row(const NlpProblem* nlp, const ConRow& c) {
    constexpr double kSameRow = 1e-12;  // relative agreement of a written and a given row
    const int64_t n = nlp->shape.nParams;
    const double sign = c.sign(), rhs = sign * c.rhs;
    for (int32_t i = 0; i < nlp->shape.nLinCon; ++i) {
        if ((i < nlp->shape.nLinEq) != (c.code == kConEq)) continue;
        const double* a = nlp->con.linRows + n * i;
        bool same = std::fabs(nlp->con.linRhs[i] - rhs) <= kSameRow * (1.0 + std::fabs(rhs));
        for (int64_t j = 0; j < n && same; ++j)
            same = std::fabs(a[j] - sign * c.a[static_cast<size_t>(j)]) <= kSameRow * (1.0 + std::fabs(a[j]));
        if (same) return i;
    }
    return -1;
}

// Where the rows go in the merged order: the statements' equalities, the
// new equalities, the statements' inequalities, the new inequalities.
struct MergedOrder {
    int32_t nLin = 0, nEq = 0;      // the statements' rows and equalities
    int32_t newEq = 0, newIneq = 0; // the new rows of INEST=
    int32_t of_statement_row(int32_t i) const { return i < nEq ? i : i + newEq; }
    int32_t total() const { return nLin + newEq + newIneq; }
};

// Takes the block of the merged rows, whose new rows are filled, as the
// problem's: the statements' rows are copied to their merged places.
void adopt_rows(NlpProblem* nlp, const MergedOrder& m, double* rows, double* rhs) {
    const int64_t n = nlp->shape.nParams;
    for (int32_t i = 0; i < m.nLin; ++i) {
        const int32_t at = m.of_statement_row(i);
        std::memcpy(rows + n * at, nlp->con.linRows + n * i, sizeof(double) * static_cast<size_t>(n));
        rhs[at] = nlp->con.linRhs[i];
    }
    nlp->con.linRows = rows;
    nlp->con.linRhs = rhs;
    nlp->shape.nLinCon = m.total();
    nlp->shape.nLinEq = m.nEq + m.newEq;
    nlp->shape.nEqTotal = nlp->shape.nLinEq + nlp->shape.nNlinEq;
    nlp->shape.nConTotal = nlp->shape.nLinCon + nlp->shape.nNlinCon;
    if (!nlp->shape.hasLinCon) {
        // The statements had no linear constraints: the problem now needs
        // the dense active-set factor and a technique that takes them.
        nlp->shape.hasLinCon = 1;
        if (nlp->opt.conFactorForm == 0) nlp->opt.conFactorForm = 1;
        if (nlp->opt.technique == kTechLevmar) nlp->opt.technique = default_technique(nlp);
    }
}

// The problem's rows and the new rows of INEST= in one block, in the
// merged order, and the constraint file that OUTEST= reads: every row as
// it was given, with the statement values of its INEST= row (missing for
// a row only the statements give).  Raises the error level when the block
// cannot be had.
void merge_linear_rows(ProcContext* ctx, NlpProblem* nlp, int32_t nInestRows) {
    HostFile* out = ctx->files.conFile;
    HostFile* in = ctx->files.conInestFile;
    const int32_t n = nlp->shape.nParams, nStmt = con_statement_count(&ctx->program);
    MergedOrder m{nlp->shape.nLinCon, nlp->shape.nLinEq, 0, 0};
    if (out == nullptr) {
        if (m.nLin > 0 || nInestRows > 0) internal_error("linear constraints without their constraint file");
        return;
    }
    ConRow c(n, nStmt);
    if (nInestRows > 0) con_point(in, 0);
    for (int32_t k = 0; k < nInestRows; ++k) {
        c.read(in);
        if (known_row(nlp, c) < 0) ++(c.code == kConEq ? m.newEq : m.newIneq);
    }
    const int64_t bytes = con_record_bytes(n, nStmt);
    // The statements' rows, without statement values.
    std::fill(c.stmt.begin(), c.stmt.end(), host_missing_value());
    if (m.nLin > 0) con_point(ctx->files.conStmtFile, 0);
    for (int32_t i = 0; i < m.nLin; ++i) {
        con_read(ctx->files.conStmtFile, &c.code, &c.rhs, c.a.data(), n, nullptr, 0);
        con_point(out, m.of_statement_row(i) * bytes);
        c.write(out);
    }
    double *rows = nullptr, *rhs = nullptr;
    if (m.newEq + m.newIneq > 0) {
        rows = row_block(ctx, n, m.total());
        if (rows == nullptr) return;
        rhs = rows + int64_t{n} * m.total();
    }
    int32_t nextEq = m.nEq, nextIneq = m.nLin + m.newEq;
    if (nInestRows > 0) con_point(in, 0);
    for (int32_t k = 0; k < nInestRows; ++k) {
        c.read(in);
        const int32_t known = known_row(nlp, c);
        if (known >= 0) {
            // The statement values of a row the statements give as well.
            con_point(out, m.of_statement_row(known) * bytes + (bytes - 8 * int64_t{nStmt}));
            con_write_values(out, c.stmt.data(), nStmt);
            continue;
        }
        const int32_t at = c.code == kConEq ? nextEq++ : nextIneq++;
        con_point(out, at * bytes);
        c.write(out);
        for (int32_t j = 0; j < n; ++j) rows[int64_t{n} * at + j] = c.sign() * c.a[static_cast<size_t>(j)];
        rhs[at] = c.sign() * c.rhs;
    }
    ctx->files.conFileRows = m.total();
    if (rows != nullptr) adopt_rows(nlp, m, rows, rhs);
}

}  // namespace

void cosop22(ProcContext* ctx, NlpProblem* nlp) {
    int32_t nInestRows = 0;
    if (ctx->input.inestUsed && nlp->param.paramRow != nullptr) {
        const InestRows r = read_inest_rows(ctx, nlp);
        apply_bounds(nlp, r);
        apply_start_values(ctx, nlp, r);
        nInestRows = r.nRows;
    }
    merge_linear_rows(ctx, nlp, nInestRows);
}

void cosop21(ProcContext* ctx, NlpProblem* nlp, HostFile* constraintFile) {
    // A bound not given is absent.
    for (int32_t j = 0; j < nlp->shape.nParams; ++j) {
        if (wzmis(nlp->param.lower[j])) nlp->param.lower[j] = -DBL_MAX;
        if (wzmis(nlp->param.upper[j])) nlp->param.upper[j] = DBL_MAX;
    }
    nlp->shape.hasBounds = 0;
    read_bounds(ctx, nlp);
    for (int32_t j = 0; j < nlp->shape.nParams; ++j)
        nlp->shape.hasBounds |= nlp->param.lower[j] > -DBL_MAX || nlp->param.upper[j] < DBL_MAX;
    nlp->shape.hasLinCon = 0;
    nlp->shape.nLinCon = nlp->shape.nLinEq = 0;
    read_lincon(ctx, nlp, constraintFile);
    nlp->shape.hasNlinCon = 0;
    nlp->shape.nNlinCon = nlp->shape.nNlinEq = 0;
    read_nlincon(ctx, nlp);
    nlp->shape.nEqTotal = nlp->shape.nLinEq + nlp->shape.nNlinEq;
    nlp->shape.nConTotal = nlp->shape.nLinCon + nlp->shape.nNlinCon;
    nlp->cb.conRowFn = cosaget;
}
