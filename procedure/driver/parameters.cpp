// The parameter table: parameters are identified by name, so every element
// that carries the same name is one parameter (an equality constraint).
// cospar1 reads the element records of the scratch file twice: pass 1
// collects the distinct names in order of first appearance, pass 2 fills
// the element pattern with parameter numbers and the optimizer's names and
// start values (the last element of a name, in file order, gives its start
// value).  Added parameters (PARAMETERS) follow the model parameters.
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/scratch_file.h"
#include "host/internal_error.h"
#include "host/output_table.h"
#include "procedure/driver/model.h"
#include "procedure/driver/program_statements.h"
#include "velix/messages.h"

namespace {

void read_or_exit(HostFile* f, void* buffer, int64_t bytes) {
    scratch_check(xcread(f, buffer, bytes));
}

NameRecord record_name(int16_t length, const char* text) {
    NameRecord r;
    r.length = length;
    std::memcpy(r.text, text, 32);
    return r;
}

int32_t find_name(const std::vector<NameRecord>& names, size_t count, const NameRecord& r) {
    for (size_t i = 0; i < count && i < names.size(); ++i)
        if (same_name(names[i], r)) return static_cast<int32_t>(i);
    return -1;
}

template <typename T>
T* carve(ProcContext* ctx, HostAllocator* pool, size_t n) {
    void* p = pool->allocate(pool, sizeof(T) * (n == 0 ? 1 : n), 4);
    if (p == nullptr || xmemdef(p) != 0) {
        xmemmsg(20000 + 1);
        xexit(std::max(ctx->errorLevel, kLevelNoMemory), 0);
    }
    std::memset(p, 0, sizeof(T) * (n == 0 ? 1 : n));
    return static_cast<T*>(p);
}

// Pass 1: the distinct parameter names of the elements in order of first
// appearance, then the added parameters (a repeated one is reported).
// Returns the number of model parameters.
int32_t collect_names(ProcContext* ctx, int32_t nAdded, std::vector<NameRecord>* table) {
    PatternRecord rec;
    for (int32_t e = 0; e < ctx->nElements; ++e) {
        read_or_exit(ctx->scratchFile, &rec, sizeof rec);
        if (rec.nameLength == 0) continue;
        NameRecord r = record_name(rec.nameLength, rec.name);
        if (find_name(*table, table->size(), r) < 0) table->push_back(r);
    }
    const int32_t nModel = static_cast<int32_t>(table->size());
    AddedParameterRecord add;
    for (int32_t a = 0; a < nAdded; ++a) {
        read_or_exit(ctx->scratchFile, &add, sizeof add);
        NameRecord r = record_name(add.nameLength, add.name);
        if (add.nameLength == 0 || find_name(*table, table->size(), r) >= 0) {
            xpmlog(kMsgProc, kMsgAddedRepeated, static_cast<int32_t>(r.length), r.text);
            continue;
        }
        table->push_back(r);
    }
    return nModel;
}

// Pass 2: the element pattern with parameter numbers, and the optimizer's
// names and start values of the model parameters.
void fill_pattern(ProcContext* ctx, const std::vector<NameRecord>& table, int32_t nModel) {
    NlpProblem* nlp = ctx->nlp;
    PatternRecord rec;
    scratch_check(xcpoint(ctx->scratchFile, 0));
    for (int32_t e = 0; e < ctx->nElements; ++e) {
        read_or_exit(ctx->scratchFile, &rec, sizeof rec);
        int32_t p = 0;
        if (rec.nameLength > 0) {
            NameRecord r = record_name(rec.nameLength, rec.name);
            int32_t i = find_name(table, static_cast<size_t>(nModel), r);
            if (i < 0) {
                internal_error("an element names no parameter");
            }
            p = i + 1;
            nlp->x[i] = rec.value;
            nlp->paramNames[i] = r;
            nlp->paramNameWidth = std::max<int32_t>(nlp->paramNameWidth, r.length);
        }
        ctx->elements.parameter[e] = p;
        ctx->elements.row[e] = rec.row;
        ctx->elements.column[e] = rec.column;
        ctx->elements.value[e] = rec.value;
    }
}

// Notes the manifest variables that no first matrix of a term reaches.
void report_unreached(ProcContext* ctx) {
    int32_t K = 0;
    const ModelMatrixTable& mt = ctx->model;
    for (int32_t t = 0; t < ctx->nTerms; ++t) {
        int32_t k = mt.termTable[t];
        int16_t ty = mt.type[k];
        if (ty == kMatIdentity || ty == kMatZerIdentity || ty == kMatZerDiagonal || ty == kMatSelection ||
            ty == kMatBeta || mt.form[k] == kFormIMinusInverse)
            K = std::max(K, mt.columns[k]);
    }
    for (int32_t j = K; j < ctx->nManifest; ++j) {
        bool reached = false;
        for (int32_t t = 0; t < ctx->nTerms && !reached; ++t) {
            int32_t k = mt.termTable[t];
            for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
                if (ctx->elements.row[e] == j) reached = true;
        }
        if (!reached)
            xpmlog(kMsgProc, kMsgManifestUnreached, static_cast<int32_t>(ctx->input.manifestNames[j].length),
                   ctx->input.manifestNames[j].text);
    }
}

}  // namespace

void create_element_pattern(ProcContext* ctx, int64_t estimate, int64_t nElements) {
    HostAllocator* pool = xmpoolc(estimate, 1024, 4096);
    if (pool == nullptr) {
        xmemmsg(estimate);
        xexit(std::max(ctx->errorLevel, kLevelNoMemory), 0);
    }
    ctx->runPool[2] = pool;
    const size_t E = static_cast<size_t>(nElements);
    ctx->elements.parameter = carve<int32_t>(ctx, pool, E);
    ctx->elements.row = carve<int32_t>(ctx, pool, E);
    ctx->elements.column = carve<int32_t>(ctx, pool, E);
    ctx->elements.value = carve<double>(ctx, pool, E);
}

void cospar1(ProcContext* ctx, int32_t nAdded) {
    NlpProblem* nlp = ctx->nlp;
    std::vector<NameRecord> table;  // scratch name table: model, then added parameters
    table.reserve(static_cast<size_t>(std::max(ctx->nParmAll, 1)));
    scratch_check(xcpoint(ctx->scratchFile, 0));

    const int32_t nModel = collect_names(ctx, nAdded, &table);
    ctx->nParmFree = nModel;
    ctx->nParmAll = static_cast<int32_t>(table.size());
    ctx->nParmAdded = ctx->nParmAll - nModel;
    if (ctx->errorLevel > kLevelWarning) xexit(ctx->errorLevel, 0);
    ctx->nParmDep = 0;
    ctx->program.nDepRef = 0;
    const bool programPasses = ctx->program.hasProgram || ctx->nParmAdded > 0;
    if (programPasses) {
        cospar5(ctx, 0, table.data());
        if (ctx->errorLevel > kLevelWarning) xexit(ctx->errorLevel, 0);
    }

    // Optimizer sizes and per-parameter arrays.
    cospopt(1, ctx, nlp);

    // The model pool and the element pattern.
    const int64_t E = ctx->nElements;
    const int64_t estimate = 20 * E + 3 * ctx->nParmAll + 34 * ctx->readers.nColumnNames + 4096;
    create_element_pattern(ctx, estimate, E);
    nlp->paramNameWidth = 0;

    fill_pattern(ctx, table, nModel);

    // Added parameters again, behind the model parameters.
    AddedParameterRecord add;
    int32_t next = nModel;
    for (int32_t a = 0; a < nAdded; ++a) {
        read_or_exit(ctx->scratchFile, &add, sizeof add);
        NameRecord r = record_name(add.nameLength, add.name);
        if (add.nameLength == 0 || find_name(table, static_cast<size_t>(next), r) >= 0) continue;
        nlp->x[next] = add.value;
        nlp->paramNames[next] = r;
        table[static_cast<size_t>(next)] = r;
        ++next;
    }
    ctx->nParmAll = next;
    ctx->nParmAdded = next - nModel;

    // Programming statements, constraints and PROFILE; STRUCTEQ.
    if (programPasses) cospar5(ctx, 1, table.data());
    cospopt(2, ctx, nlp);
    if (programPasses) cospar5(ctx, 2, table.data());
    if (ctx->nStructEq != 0) cosparb(ctx);

    // Too few or too many parameters: the count the optimizer
    // estimates, after the programming statements took out the dependent
    // ones.
    const int32_t nEstimated = ctx->nParmFree;
    if (nEstimated < 1) {
        xpmlog(kMsgProc, kMsgNoFreeParameter);
        if (ctx->options.printEnabled && ctx->kyrManager &&
            !listing_line(ctx->kyrManager, kyrmsg(kMsgProc, kMsgNoFreeParameter)))
            return;
    }
    if (nEstimated > ctx->nMoments) {
        xpmlog(kMsgProc, kMsgTooManyParameters, nEstimated, ctx->nMoments);
        raise_error_level(ctx, kLevelWarning);
    }

    report_unreached(ctx);
    if (ctx->errorLevel > kLevelWarning) xexit(ctx->errorLevel, 0);
}
