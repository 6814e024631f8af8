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
#include "velix/statements.h"

namespace {

// Messages of the constraint set-up (group kMsgProc).
constexpr int32_t kMsgUnknownParameter = 438;  // a constraint names no parameter of the model
constexpr int32_t kMsgEmptyBounds = 439;       // a lower bound above its upper bound
constexpr int32_t kMsgNlinconPending = 440;    // NLINCON is not applied in this version

HostAllocator* pool_of(ProcContext* ctx) {
    return ctx->runPool[0] ? ctx->runPool[0] : v_global_gcb_anchor->stepAllocator;
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
    if (nlp->hasNlinCon && ctx->eval.nlinCon == nullptr) {
        // The constraint table of the program's variables is not laid out
        // yet: say so rather than let the statement pass for one that holds.
        xpmlog(kMsgProc, kMsgNlinconPending);
        raise_error_level(ctx, kLevelWarning);
        nlp->hasNlinCon = 0;
        nlp->nNlinCon = nlp->nNlinEq = 0;
    }
    nlp->nEqTotal = nlp->nLinEq + nlp->nNlinEq;
    nlp->nConTotal = nlp->nLinCon + nlp->nNlinCon;
    nlp->conRowFn = cosaget;
}
