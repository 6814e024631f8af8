// The constraints of the optimizer from the statements: BOUNDS as lower and
// upper bounds of the named parameters, LINCON as dense linear rows of the
// parameters (equalities first, every inequality turned into a x >= b),
// and the constraint-row slot through which the optimizer reads them; and
// the start values, bounds and linear rows of an INEST= data set (the
// rows that OUTEST= writes), so that a run can start where another ended.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "procedure/data/data.h"
#include "procedure/proc_options.h"
#include "procedure/procedure.h"
#include "procedure/estimation/estimation.h"
#include "procedure/estimation/options.h"
#include "velix/codes.h"
#include "velix/host_compiler.h"
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
    for (int32_t i = 0; i < nlp->nParams; ++i)
        if (same_name(nlp->paramNames[i], name)) return i;
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

void unknown_name(ProcContext* ctx, const NameRecord& name, int32_t line) {
    xpmlog(kMsgProc, kMsgUnknownParameter, static_cast<int32_t>(name.length), name.text, line);
    raise_error_level(ctx, kLevelInputError);
}

// BOUNDS: later statements override earlier ones for a parameter.
void read_bounds(ProcContext* ctx, NlpProblem* nlp) {
    for (const StatementNode* s = find_statement(ctx->stmtList, "BOUNDS  "); s;
         s = find_statement(s->next, "BOUNDS  ")) {
        const auto* b = static_cast<const BoundsPayload*>(s->payload);
        for (int32_t e = 0; e < b->nEntries; ++e) {
            const BoundEntry& entry = b->entries[e];
            for (int32_t k = 0; k < entry.names.count; ++k) {
                const int32_t j = parameter_index(nlp, entry.names.names[k]);
                if (j < 0) {
                    unknown_name(ctx, entry.names.names[k], entry.line);
                    continue;
                }
                if (entry.hasLower) nlp->lower[j] = entry.lower;
                if (entry.hasUpper) nlp->upper[j] = entry.upper;
                if (nlp->lower[j] > nlp->upper[j]) {
                    xpmlog(kMsgProc, kMsgEmptyBounds, static_cast<int32_t>(entry.names.names[k].length),
                           entry.names.names[k].text, nlp->lower[j], nlp->upper[j]);
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
struct NlinArrays {
    NlinConTable* table = nullptr;
    int16_t* kind = nullptr;
    int32_t *first = nullptr, *second = nullptr;
    double** cells = nullptr;
    CmpSymbol** symbols = nullptr;
    double* rhs = nullptr;
};

bool allocate_nlin(ProcContext* ctx, int32_t count, int32_t rows, NlinArrays* a) {
    a->table = zeroed<NlinConTable>(ctx, 1);
    a->kind = zeroed<int16_t>(ctx, count);
    a->first = zeroed<int32_t>(ctx, count);
    a->second = zeroed<int32_t>(ctx, count);
    a->cells = zeroed<double*>(ctx, count);
    a->symbols = zeroed<CmpSymbol*>(ctx, count);
    a->rhs = zeroed<double>(ctx, rows);
    return a->table && a->kind && a->first && a->second && a->cells && a->symbols && a->rhs;
}

// NLINCON as rows of program variables: each name must be a numeric
// variable of the programming statements, its rows c(x) - b >= 0 or
// b - c(x) >= 0 (= 0 for an equality) laid out as NlinArrays says.
void read_nlincon(ProcContext* ctx, NlpProblem* nlp) {
    int32_t count = 0, equalities = 0, inequalities = 0;
    for_each_nlincon(ctx, [&](const NonlinearConstraint& c) {
        const int16_t k = nlin_kind(c);
        ++count;
        equalities += k == kNlinEquality;
        inequalities += k == kNlinRange ? 2 : k == kNlinEquality ? 0 : 1;
    });
    if (count == 0) return;
    NlinArrays a;
    if (!allocate_nlin(ctx, count, equalities + inequalities, &a)) return;
    int32_t i = 0, nextEq = 0, nextIneq = 0;
    bool unknown = false;
    for_each_nlincon(ctx, [&](const NonlinearConstraint& c) {
        CmpSymbol* sym = ctx->cmpWork ? cmpsyms(c.name.text, c.name.length, ctx->cmpWork) : nullptr;
        if (sym == nullptr || sym->valueType != 'n' || sym->value == nullptr) {
            xpmlog(kMsgProc, kMsgNotAProgramVariable, static_cast<int32_t>(c.name.length), c.name.text, c.line);
            raise_error_level(ctx, kLevelInputError);
            unknown = true;
            return;
        }
        const int16_t k = nlin_kind(c);
        a.kind[i] = k;
        a.symbols[i] = sym;
        a.cells[i] = sym->value;
        if (k == kNlinEquality) {
            a.first[i] = nextEq;
            a.rhs[nextEq++] = c.lower;
        } else {
            if (k != kNlinUpper) {
                a.first[i] = nextIneq;
                a.rhs[equalities + nextIneq++] = c.lower;
            }
            if (k != kNlinLower) {
                a.second[i] = nextIneq;
                a.rhs[equalities + nextIneq++] = c.upper;
            }
        }
        ++i;
    });
    if (unknown) return;
    *a.table = NlinConTable{count, a.kind, a.first, a.second, 0, a.cells};
    ctx->eval.nlinCon = a.table;
    ctx->program.nlcList = CmpList{count, a.symbols};
    nlp->nlcRhs = a.rhs;
    nlp->hasNlinCon = 1;
    nlp->nNlinCon = equalities + inequalities;
    nlp->nNlinEq = equalities;
}

// LINCON: one dense row per constraint, equalities first; a <= row is
// negated into a >= row.
void read_lincon(ProcContext* ctx, NlpProblem* nlp) {
    int32_t count = 0, equalities = 0;
    for (const StatementNode* s = find_statement(ctx->stmtList, "LINCON  "); s;
         s = find_statement(s->next, "LINCON  ")) {
        const auto* l = static_cast<const LinconPayload*>(s->payload);
        count += l->nConstraints;
        for (int32_t c = 0; c < l->nConstraints; ++c) equalities += l->constraints[c].relation == kRelEq;
    }
    if (count == 0) return;
    const int64_t n = nlp->nParams;
    double* block = row_block(ctx, n, count);
    if (block == nullptr) return;
    nlp->linRows = block;
    nlp->linRhs = block + n * count;
    int32_t nextEq = 0, nextIneq = equalities;
    for (const StatementNode* s = find_statement(ctx->stmtList, "LINCON  "); s;
         s = find_statement(s->next, "LINCON  ")) {
        const auto* l = static_cast<const LinconPayload*>(s->payload);
        for (int32_t c = 0; c < l->nConstraints; ++c) {
            const LinearConstraint& lc = l->constraints[c];
            const int32_t row = lc.relation == kRelEq ? nextEq++ : nextIneq++;
            const double sign = lc.relation == kRelLe ? -1.0 : 1.0;
            double* a = nlp->linRows + n * row;
            for (int32_t t = 0; t < lc.nTerms; ++t) {
                const int32_t j = parameter_index(nlp, lc.names[t]);
                if (j < 0) {
                    unknown_name(ctx, lc.names[t], lc.line);
                    continue;
                }
                a[j] += sign * lc.coefs[t];
            }
            nlp->linRhs[row] = sign * lc.rhs;
        }
    }
    nlp->hasLinCon = 1;
    nlp->nLinCon = count;
    nlp->nLinEq = equalities;
}

// ---- INEST= ----

// A linear row a x >= b (or = b) of INEST=.
struct InestRow {
    bool equality = false;
    double rhs = 0.0;
    std::vector<double> a;
};

// What the INEST= rows of a BY group give; missing where they say nothing.
struct InestRows {
    std::vector<double> start, lower, upper, stmtValues;
    std::vector<InestRow> rows;
};

bool type_is(const ProcContext* ctx, const char* type) {
    char padded[8];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, type, std::strlen(type));
    return std::memcmp(ctx->dataSets.outRow.type, padded, sizeof padded) == 0;
}

InestRows read_inest_rows(ProcContext* ctx, const NlpProblem* nlp) {
    const size_t n = static_cast<size_t>(nlp->nParams);
    const double missing = host_missing_value();
    InestRows r{std::vector<double>(n, missing), std::vector<double>(n, missing), std::vector<double>(n, missing),
                {}, {}};
    const int32_t nStmt = ctx->program.stmtVars != nullptr ? ctx->program.nStmtVars : 0;
    r.stmtValues.assign(static_cast<size_t>(nStmt), missing);
    const double* row = nlp->paramRow;
    while (cos_read_row(ctx, kRoleInest)) {
        if (type_is(ctx, "PARMS")) {
            r.start.assign(row, row + n);
            for (int32_t k = 0; k < nStmt; ++k) r.stmtValues[static_cast<size_t>(k)] = ctx->program.stmtVars[k].cell;
        } else if (type_is(ctx, "UPPERBD")) {
            r.upper.assign(row, row + n);
        } else if (type_is(ctx, "LOWERBD")) {
            r.lower.assign(row, row + n);
        } else if (type_is(ctx, "EQ") || type_is(ctx, "GE") || type_is(ctx, "LE")) {
            // A <= row is turned into a >= row, as LINCON's are; a missing
            // coefficient is 0.
            const double sign = type_is(ctx, "LE") ? -1.0 : 1.0;
            InestRow c{type_is(ctx, "EQ"), sign * ctx->cells.rhsCell, std::vector<double>(n, 0.0)};
            if (wzmis(ctx->cells.rhsCell)) continue;
            for (size_t j = 0; j < n; ++j) c.a[j] = wzmis(row[j]) ? 0.0 : sign * row[j];
            r.rows.push_back(std::move(c));
        }
    }
    return r;
}

// Start values: the parameter and every element that carries it.
void apply_start_values(ProcContext* ctx, NlpProblem* nlp, const InestRows& r) {
    for (int32_t i = 0; i < nlp->nParams; ++i) {
        const double v = r.start[static_cast<size_t>(i)];
        if (wzmis(v)) continue;
        nlp->x[i] = v;
        for (int32_t e = 0; e < ctx->sizes.nElements; ++e)
            if (std::abs(ctx->elements.parameter[e]) == i + 1) ctx->elements.value[e] = v;
    }
    for (int32_t k = 0; k < static_cast<int32_t>(r.stmtValues.size()); ++k)
        if (!wzmis(r.stmtValues[static_cast<size_t>(k)])) ctx->program.stmtVars[k].value = r.stmtValues[static_cast<size_t>(k)];
}

void apply_bounds(NlpProblem* nlp, const InestRows& r) {
    for (int32_t j = 0; j < nlp->nParams; ++j) {
        const size_t k = static_cast<size_t>(j);
        if (!wzmis(r.lower[k])) nlp->lower[j] = r.lower[k];
        if (!wzmis(r.upper[k])) nlp->upper[j] = r.upper[k];
        nlp->hasBounds |= nlp->lower[j] > -DBL_MAX || nlp->upper[j] < DBL_MAX;
    }
}

// True when row c is already one of the problem's rows (the same
// constraint given by LINCON and read back from an earlier OUTEST=).
bool known_row(const NlpProblem* nlp, const InestRow& c) {
    constexpr double kSameRow = 1e-12;  // relative agreement of a written and a given row
    const int64_t n = nlp->nParams;
    for (int32_t i = 0; i < nlp->nLinCon; ++i) {
        if ((i < nlp->nLinEq) != c.equality) continue;
        const double* a = nlp->linRows + n * i;
        bool same = std::fabs(nlp->linRhs[i] - c.rhs) <= kSameRow * (1.0 + std::fabs(c.rhs));
        for (int64_t j = 0; j < n && same; ++j)
            same = std::fabs(a[j] - c.a[static_cast<size_t>(j)]) <= kSameRow * (1.0 + std::fabs(a[j]));
        if (same) return true;
    }
    return false;
}

// The problem's rows and the new rows of INEST= in one block, equalities
// first.  Raises the error level when the block cannot be had.
void add_linear_rows(ProcContext* ctx, NlpProblem* nlp, const InestRows& r) {
    std::vector<const InestRow*> added;
    for (const InestRow& c : r.rows)
        if (!known_row(nlp, c)) added.push_back(&c);
    if (added.empty()) return;
    const int64_t n = nlp->nParams;
    const int32_t count = nlp->nLinCon + static_cast<int32_t>(added.size());
    double* block = row_block(ctx, n, count);
    if (block == nullptr) return;
    double* rows = block;
    double* rhs = block + n * count;
    int32_t next = 0;
    auto put = [&](const double* a, double b) {
        std::memcpy(rows + n * next, a, sizeof(double) * static_cast<size_t>(n));
        rhs[next++] = b;
    };
    int32_t equalities = nlp->nLinEq;
    for (int32_t i = 0; i < nlp->nLinEq; ++i) put(nlp->linRows + n * i, nlp->linRhs[i]);
    for (const InestRow* c : added)
        if (c->equality) {
            put(c->a.data(), c->rhs);
            ++equalities;
        }
    for (int32_t i = nlp->nLinEq; i < nlp->nLinCon; ++i) put(nlp->linRows + n * i, nlp->linRhs[i]);
    for (const InestRow* c : added)
        if (!c->equality) put(c->a.data(), c->rhs);
    nlp->linRows = rows;
    nlp->linRhs = rhs;
    nlp->nLinCon = count;
    nlp->nLinEq = equalities;
    nlp->nEqTotal = nlp->nLinEq + nlp->nNlinEq;
    nlp->nConTotal = nlp->nLinCon + nlp->nNlinCon;
    if (!nlp->hasLinCon) {
        // The statements had no linear constraints: the problem now needs
        // the dense active-set factor and a technique that takes them.
        nlp->hasLinCon = 1;
        if (nlp->conFactorForm == 0) nlp->conFactorForm = 1;
        if (nlp->technique == kTechLevmar) nlp->technique = default_technique(nlp);
    }
}

}  // namespace

void cosop22(ProcContext* ctx, NlpProblem* nlp) {
    if (!ctx->input.inestUsed || nlp->paramRow == nullptr) return;
    const InestRows r = read_inest_rows(ctx, nlp);
    apply_bounds(nlp, r);
    apply_start_values(ctx, nlp, r);
    add_linear_rows(ctx, nlp, r);
}

void cosop21(ProcContext* ctx, NlpProblem* nlp, HostFile* /*constraintFile*/) {
    // A bound not given is absent.
    for (int32_t j = 0; j < nlp->nParams; ++j) {
        if (wzmis(nlp->lower[j])) nlp->lower[j] = -DBL_MAX;
        if (wzmis(nlp->upper[j])) nlp->upper[j] = DBL_MAX;
    }
    nlp->hasBounds = 0;
    read_bounds(ctx, nlp);
    for (int32_t j = 0; j < nlp->nParams; ++j)
        nlp->hasBounds |= nlp->lower[j] > -DBL_MAX || nlp->upper[j] < DBL_MAX;
    nlp->hasLinCon = 0;
    nlp->nLinCon = nlp->nLinEq = 0;
    read_lincon(ctx, nlp);
    nlp->hasNlinCon = 0;
    nlp->nNlinCon = nlp->nNlinEq = 0;
    read_nlincon(ctx, nlp);
    nlp->nEqTotal = nlp->nLinEq + nlp->nNlinEq;
    nlp->nConTotal = nlp->nLinCon + nlp->nNlinCon;
    nlp->conRowFn = cosaget;
}
