// The constraints of the optimizer from the statements: BOUNDS as lower and
// upper bounds of the named parameters, LINCON as dense linear rows of the
// parameters (equalities first, every inequality turned into a x >= b),
// and the constraint-row slot through which the optimizer reads them.
#include <cfloat>
#include <cstring>

#include "host/fields.h"
#include "procedure/proc_options.h"
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
    return ctx->runPool[0] ? ctx->runPool[0] : v_global_gcb_anchor->stepAllocator;
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
    HostAllocator* pool = pool_of(ctx);
    const size_t bytes = sizeof(double) * static_cast<size_t>((n + 1) * count);
    auto* block = static_cast<double*>(pool->allocate(pool, bytes, alignof(double)));
    if (block == nullptr) {
        xmemmsg(static_cast<int64_t>(bytes));
        raise_error_level(ctx, kLevelNoMemory);
        return;
    }
    std::memset(block, 0, bytes);
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

}  // namespace

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
