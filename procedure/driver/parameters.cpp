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
#include "procedure/driver/step_view.h"
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
T* carve(const StepView& sv, HostAllocator* pool, size_t n) {
    void* p = pool->allocate(pool, sizeof(T) * (n == 0 ? 1 : n), 4);
    if (p == nullptr || xmemdef(p) != 0) {
        xmemmsg(20000 + 1);
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
    std::memset(p, 0, sizeof(T) * (n == 0 ? 1 : n));
    return static_cast<T*>(p);
}

// Pass 1: the distinct parameter names of the elements in order of first
// appearance, then the added parameters (a repeated one is reported).
// Returns the number of model parameters.
int32_t collect_names(const StepView& sv, int32_t nAdded, std::vector<NameRecord>* table) {
    PatternRecord rec;
    for (int32_t e = 0; e < sv.sizes->nElements; ++e) {
        read_or_exit(sv.files->scratchFile, &rec, sizeof rec);
        if (rec.nameLength == 0) continue;
        NameRecord r = record_name(rec.nameLength, rec.name);
        if (find_name(*table, table->size(), r) < 0) table->push_back(r);
    }
    const int32_t nModel = static_cast<int32_t>(table->size());
    AddedParameterRecord add;
    for (int32_t a = 0; a < nAdded; ++a) {
        read_or_exit(sv.files->scratchFile, &add, sizeof add);
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
void fill_pattern(const StepView& sv, const std::vector<NameRecord>& table, int32_t nModel) {
    NlpProblem* nlp = sv.nlp;
    PatternRecord rec;
    scratch_check(xcpoint(sv.files->scratchFile, 0));
    for (int32_t e = 0; e < sv.sizes->nElements; ++e) {
        read_or_exit(sv.files->scratchFile, &rec, sizeof rec);
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
        sv.elements->parameter[e] = p;
        sv.elements->row[e] = rec.row;
        sv.elements->column[e] = rec.column;
        sv.elements->value[e] = rec.value;
    }
}

// Notes the manifest variables that no first matrix of a term reaches.
void report_unreached(const StepView& sv) {
    int32_t K = 0;
    const ModelMatrixTable& mt = *sv.model;
    for (int32_t t = 0; t < sv.sizes->nTerms; ++t) {
        int32_t k = mt.termTable[t];
        int16_t ty = mt.type[k];
        if (ty == kMatIdentity || ty == kMatZerIdentity || ty == kMatZerDiagonal || ty == kMatSelection ||
            ty == kMatBeta || mt.form[k] == kFormIMinusInverse)
            K = std::max(K, mt.columns[k]);
    }
    for (int32_t j = K; j < sv.sizes->nManifest; ++j) {
        bool reached = false;
        for (int32_t t = 0; t < sv.sizes->nTerms && !reached; ++t) {
            int32_t k = mt.termTable[t];
            for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
                if (sv.elements->row[e] == j) reached = true;
        }
        if (!reached)
            xpmlog(kMsgProc, kMsgManifestUnreached, static_cast<int32_t>(sv.input->manifestNames[j].length),
                   sv.input->manifestNames[j].text);
    }
}

}  // namespace

void create_element_pattern(ProcContext* ctx, int64_t estimate, int64_t nElements) {
    const StepView sv = step_view(ctx);
    HostAllocator* pool = xmpoolc(estimate, 1024, 4096);
    if (pool == nullptr) {
        xmemmsg(estimate);
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
    sv.pools->runPool[2] = pool;
    const size_t E = static_cast<size_t>(nElements);
    sv.elements->parameter = carve<int32_t>(sv, pool, E);
    sv.elements->row = carve<int32_t>(sv, pool, E);
    sv.elements->column = carve<int32_t>(sv, pool, E);
    sv.elements->value = carve<double>(sv, pool, E);
}

void cospar1(ProcContext* ctx, int32_t nAdded) {
    const StepView sv = step_view(ctx);
    NlpProblem* nlp = sv.nlp;
    std::vector<NameRecord> table;  // scratch name table: model, then added parameters
    table.reserve(static_cast<size_t>(std::max(sv.sizes->nParmAll, 1)));
    scratch_check(xcpoint(sv.files->scratchFile, 0));

    const int32_t nModel = collect_names(sv, nAdded, &table);
    sv.sizes->nParmFree = nModel;
    sv.sizes->nParmAll = static_cast<int32_t>(table.size());
    sv.sizes->nParmAdded = sv.sizes->nParmAll - nModel;
    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
    sv.sizes->nParmDep = 0;
    sv.program->nDepRef = 0;
    const bool programPasses = sv.program->hasProgram || sv.sizes->nParmAdded > 0;
    if (programPasses) {
        cospar5(sv.ctx, 0, table.data());
        if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
    }

    // Optimizer sizes and per-parameter arrays.
    cospopt(1, sv.ctx, nlp);

    // The model pool and the element pattern.
    const int64_t E = sv.sizes->nElements;
    const int64_t estimate = 20 * E + 3 * sv.sizes->nParmAll + 34 * sv.readers->nColumnNames + 4096;
    create_element_pattern(sv.ctx, estimate, E);
    nlp->paramNameWidth = 0;

    fill_pattern(sv, table, nModel);

    // Added parameters again, behind the model parameters.
    AddedParameterRecord add;
    int32_t next = nModel;
    for (int32_t a = 0; a < nAdded; ++a) {
        read_or_exit(sv.files->scratchFile, &add, sizeof add);
        NameRecord r = record_name(add.nameLength, add.name);
        if (add.nameLength == 0 || find_name(table, static_cast<size_t>(next), r) >= 0) continue;
        nlp->x[next] = add.value;
        nlp->paramNames[next] = r;
        table[static_cast<size_t>(next)] = r;
        ++next;
    }
    sv.sizes->nParmAll = next;
    sv.sizes->nParmAdded = next - nModel;

    // Programming statements, constraints and PROFILE; STRUCTEQ.
    if (programPasses) cospar5(sv.ctx, 1, table.data());
    cospopt(2, sv.ctx, nlp);
    if (programPasses) cospar5(sv.ctx, 2, table.data());
    if (sv.sizes->nStructEq != 0) cosparb(sv.ctx);

    // Too few or too many parameters: the count the optimizer
    // estimates, after the programming statements took out the dependent
    // ones.
    const int32_t nEstimated = sv.sizes->nParmFree;
    if (nEstimated < 1) {
        xpmlog(kMsgProc, kMsgNoFreeParameter);
        if (sv.options->printEnabled && sv.output->kyrManager &&
            !listing_line(sv.output->kyrManager, kyrmsg(kMsgProc, kMsgNoFreeParameter)))
            return;
    }
    if (nEstimated > sv.sizes->nMoments) {
        xpmlog(kMsgProc, kMsgTooManyParameters, nEstimated, sv.sizes->nMoments);
        raise_error_level(sv.ctx, kLevelWarning);
    }

    report_unreached(sv);
    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
}
