// Programming statements and dependent parameters.  A parameter that the
// program assigns is a dependent parameter: a function of the independent
// ones, computed by every run of the program.  cospar5 binds the program's
// special variables to cells of the optimizer and the context, sorts the
// dependent parameters behind all others in the parameter table (so that
// the optimizer sees only the first nParmFree entries of x), points the
// parameters' symbols at their slots of x, and has the statement compiler
// derive the analytic first derivatives of the dependent parameters and of
// the NLINCON symbols with respect to the independent parameters the
// program reads.  The sort is a Shell sort with gaps n/2, n/4, ..., 1
// (Knuth, TAOCP vol. 3, 5.2.1).
#include "procedure/driver/program_statements.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "host/internal_error.h"
#include "procedure/driver/model.h"
#include "procedure/driver/step_view.h"
#include "velix/host.h"
#include "velix/host_dataset.h"
#include "velix/messages.h"

namespace {

constexpr uint8_t kBindFlags = kCmpBoundByHost | kCmpHostFlag02;


template <typename T>
T* step_array(size_t n) {
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    void* p = a->allocate(a, sizeof(T) * std::max<size_t>(n, 1), 4);
    if (p == nullptr) xexit(kLevelNoMemory, 0);
    std::memset(p, 0, sizeof(T) * std::max<size_t>(n, 1));
    return static_cast<T*>(p);
}

// A symbol bound by this routine must be numeric: message 243 otherwise.
void check_numeric(const StepView& sv, const CmpSymbol* s) {
    if (s->valueType == 'n') return;
    xpmlog(kMsgProc, kMsgProgramVariableNotNumeric, static_cast<int32_t>(s->nameLength), s->name);
    raise_error_level(sv.ctx, kLevelInputError);
}

// The text of a message of the procedure (empty when it does not exist).
std::string message(int32_t number) {
    const char* text = nullptr;
    int32_t length = 0;
    if (wkread(kMsgProc, number, &text, &length) != 0 || !text) return std::string();
    return std::string(text, static_cast<size_t>(length));
}

NameRecord symbol_name(const CmpSymbol* s) {
    NameRecord r;
    r.length = std::min<int16_t>(s->nameLength, 32);
    std::memset(r.text, ' ', sizeof r.text);
    std::memcpy(r.text, s->name, static_cast<size_t>(r.length));
    return r;
}

// The 1-based number of the parameter named like the symbol, 0 when none.
int32_t parameter_number(const StepView& sv, const CmpSymbol* s) {
    NameRecord r = symbol_name(s);
    for (int32_t k = 0; k < sv.sizes->nParmAll; ++k)
        if (same_name(sv.nlp->paramNames[k], r)) return k + 1;
    return 0;
}

bool is_reserved_name(const CmpSymbol* s) {
    static const char* kNames[] = {"_TYPE_", "_ITER_", "_RHS_"};
    for (const char* n : kNames) {
        int32_t len = static_cast<int32_t>(std::strlen(n));
        if (s->nameLength != len) continue;
        bool same = true;
        for (int32_t k = 0; k < len && same; ++k)
            same = std::toupper(static_cast<unsigned char>(s->name[k])) == n[k];
        if (same) return true;
    }
    return false;
}

void mode0(const StepView& sv, NameRecord* table) {
    CmpWork* work = sv.cmpWork;
    NlpProblem* nlp = sv.nlp;
    struct Special {
        const char* name;
        double* cell;
        uint8_t kind;
    };
    const Special specials[] = {
        {"_DF_", &sv.hooks->nParamsForDf, 0},  {"_NOBS_", &sv.optSetup->nObsCell, 0},
        {"_INDF_", &nlp->evalPhase, 0},          {"_ITER_", &nlp->iteration, 0},
        {"_LIST_", &nlp->printLevel, 0},         {"_TOOBIG_", &nlp->evalStatus, 0},
        {"_DPROC_", &sv.program->dprocCell, 19}};
    for (const Special& sp : specials) {
        int32_t len = static_cast<int32_t>(std::strlen(sp.name));
        if (cmpsyma(sp.name, len, 'n', 8, sp.cell, work) != 0) internal_error("a special variable cannot be defined");
        CmpSymbol* s = cmpsyms(sp.name, len, work);
        if (!s) internal_error("a special variable is not found");
        s->flags |= kBindFlags;
        if (sp.kind) s->kind = sp.kind;
        check_numeric(sv, s);
    }
    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);

    int32_t dep = 0, ind = 0;
    for (int32_t k = 0; k < sv.sizes->nParmAll; ++k) {
        CmpSymbol* s = cmpsyms(table[k].text, table[k].length, work);
        if (!s) continue;
        s->binding = 'a';
        if (s->flags & kCmpAssigned) {
            s->kind = 2;
            ++dep;
        } else if (s->flags & kCmpReferenced) {
            s->kind = 1;
            ++ind;
        }
    }
    sv.sizes->nParmDep = dep;
    sv.program->nDepRef = ind;
}

// Drops added parameter number q (1-based) from the table, x, the element
// pattern and both lists.
void drop_added(const StepView& sv, NameRecord* table, int32_t q, int32_t* depNumbers, int32_t nDep,
                int32_t* indNumbers, int32_t nInd) {
    NlpProblem* nlp = sv.nlp;
    xpmlog(kMsgProc, kMsgAddedUnused, static_cast<int32_t>(table[q - 1].length), table[q - 1].text);
    for (int32_t k = q; k < sv.sizes->nParmAll; ++k) {
        table[k - 1] = table[k];
        nlp->paramNames[k - 1] = nlp->paramNames[k];
        nlp->x[k - 1] = nlp->x[k];
    }
    --sv.sizes->nParmAll;
    --sv.sizes->nParmAdded;
    for (int32_t e = 0; e < sv.sizes->nElements; ++e)
        if (sv.elements->parameter[e] > q) --sv.elements->parameter[e];
    for (int32_t k = 0; k < nDep; ++k)
        if (depNumbers[k] > q) --depNumbers[k];
    for (int32_t k = 0; k < nInd; ++k)
        if (indNumbers[k] > q) --indNumbers[k];
}

void mode1(const StepView& sv, NameRecord* table) {
    CmpWork* work = sv.cmpWork;
    NlpProblem* nlp = sv.nlp;
    CmpList ind, dep;
    if (cmplstb(&ind, 1, -1, work) != 0 || cmplstb(&dep, 2, -1, work) != 0)
        internal_error("the symbol lists of the program cannot be built");
    if (sv.program->programListing) {
        xpsout("%n%s%n", message(kMsgProgramWithDependents).c_str());
        cmpplst(&ind, "  Independent:", 0, 1, 1, 0, 1, work);
        cmpplst(&dep, "    Dependent:", 0, 1, 1, 0, 1, work);
    }
    if (dep.count != sv.sizes->nParmDep || ind.count != sv.program->nDepRef) {
        xpmlog(kMsgProc, kMsgProgramParametersChanged);
        xexit(kLevelInternal, 0);
    }
    sv.program->dprocCell = 0.0;

    // Parameter numbers of the list entries.
    int32_t* depNumbers = step_array<int32_t>(static_cast<size_t>(dep.count));
    int32_t* indNumbers = step_array<int32_t>(static_cast<size_t>(ind.count));
    for (int32_t k = 0; k < dep.count; ++k)
        if ((depNumbers[k] = parameter_number(sv, dep.symbols[k])) == 0)
            internal_error("a dependent parameter has no name in the table");
    for (int32_t k = 0; k < ind.count; ++k)
        if ((indNumbers[k] = parameter_number(sv, ind.symbols[k])) == 0)
            internal_error("an independent parameter has no name in the table");

    // Added parameters the program does not mention, from the last one so
    // that the numbers still to be tested do not move.
    const int32_t nModel = sv.sizes->nParmAll - sv.sizes->nParmAdded;
    for (int32_t q = sv.sizes->nParmAll; q > nModel; --q) {
        bool used = std::find(depNumbers, depNumbers + dep.count, q) != depNumbers + dep.count ||
                    std::find(indNumbers, indNumbers + ind.count, q) != indNumbers + ind.count;
        if (!used) drop_added(sv, table, q, depNumbers, dep.count, indNumbers, ind.count);
    }

    // New positions: independent parameters first, dependent ones last.
    const int32_t total = sv.sizes->nParmAll;
    const int32_t D = dep.count;
    const int32_t I = total - D;
    std::vector<int32_t> position(static_cast<size_t>(total));
    std::vector<int32_t> newNumber(static_cast<size_t>(total) + 1, 0);  // by old number
    int32_t nextDep = I, nextInd = 0;
    auto bind = [&](CmpSymbol* s, int32_t pos) {
        s->value = &nlp->x[pos];
        s->storageClass = 'v';
        s->binding = 'a';
        s->flags |= kBindFlags;
        check_numeric(sv, s);
    };
    for (int32_t k = 0; k < total; ++k) {
        const int32_t q = k + 1;
        const int32_t d = static_cast<int32_t>(std::find(depNumbers, depNumbers + D, q) - depNumbers);
        const int32_t i = static_cast<int32_t>(std::find(indNumbers, indNumbers + ind.count, q) - indNumbers);
        if (d < D) {
            int32_t pos = nextDep++;
            position[static_cast<size_t>(k)] = pos;
            newNumber[static_cast<size_t>(q)] = -(pos + 1);
            depNumbers[d] = -(pos + 1);
            if (q > nModel) --sv.sizes->nParmAdded;
            // Bound after the sort below: the slot then holds this parameter.
            bind(dep.symbols[d], pos);
        } else {
            int32_t pos = nextInd++;
            position[static_cast<size_t>(k)] = pos;
            newNumber[static_cast<size_t>(q)] = pos + 1;
            if (i < ind.count) {
                indNumbers[i] = pos + 1;
                bind(ind.symbols[i], pos);
            }
        }
    }
    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
    if (nextDep != total) {
        xpmlog(kMsgProc, kMsgDependentPositions, nextDep - I, D);
        xexit(kLevelInternal, 0);
    }
    if (nextInd != I) {
        xpmlog(kMsgProc, kMsgIndependentPositions, nextInd, I);
        xexit(kLevelInternal, 0);
    }
    for (int32_t e = 0; e < sv.sizes->nElements; ++e) {
        int32_t p = sv.elements->parameter[e];
        if (p > 0) sv.elements->parameter[e] = newNumber[static_cast<size_t>(p)];
    }
    sv.sizes->nParmFree = I;

    // Sort names and start values by their new positions.
    for (int32_t gap = total / 2; gap > 0; gap /= 2) {
        for (int32_t k = gap; k < total; ++k) {
            for (int32_t j = k - gap; j >= 0 && position[static_cast<size_t>(j)] > position[static_cast<size_t>(j + gap)]; j -= gap) {
                std::swap(position[static_cast<size_t>(j)], position[static_cast<size_t>(j + gap)]);
                std::swap(nlp->paramNames[j], nlp->paramNames[j + gap]);
                std::swap(nlp->x[j], nlp->x[j + gap]);
            }
        }
    }
    sv.program->xCopy = step_array<double>(static_cast<size_t>(total));
    std::copy(nlp->x, nlp->x + total, sv.program->xCopy);

    // Program variables that INEST= supplies.
    sv.program->nStmtVars = 0;
    HostDataSet* inest = sv.dataSets->dataSetHandle[kRoleInest];
    if (sv.input->inestUsed && inest) {
        for (CmpSymbol* s = cmplstv(work); s; s = s->next) {
            if (!(s->flags & kCmpReferenced) || s->kind == 1 || is_reserved_name(s)) continue;
            int16_t number = 0;
            if (xvfind(inest, s->name, s->nameLength, &number, 0) & 0x803FFFFF) continue;
            s->flags |= kCmpBoundByHost;
            ++sv.program->nStmtVars;
        }
    }

    sv.program->depList = dep;
    sv.program->indList = ind;
    sv.program->depParmNumbers = depNumbers;
    sv.program->depInputParms = indNumbers;
    sv.program->nDepInputs = ind.count;
}

void mode2(const StepView& sv) {
    CmpWork* work = sv.cmpWork;
    NlpProblem* nlp = sv.nlp;
    const bool nlincon = nlp->hasNlinCon != 0;
    if (sv.sizes->nParmDep == 0 && !nlincon) {
        xpmlog(kMsgProc, kMsgProgramNotRun);
        sv.program->hasProgram = 0;
        return;
    }
    if (sv.program->fdDepDerivs) {
        sv.program->depDerivRequest = 0;
        sv.program->conDerivRequest = 0;
    }
    const bool request = sv.program->depDerivRequest || sv.program->conDerivRequest;
    HostAllocator* pool = nullptr;
    if (request) {
        int32_t code = cmpdfla(&pool, 0, 0, sv.program->programListing, 0, work);
        if (code == 0 && pool) code = xmemdef(pool);
        if (code != 0) {
            work->status += code;
            xmemmsg(20000 + code);
            xexit(kLevelNoMemory, 0);
        }
    }
    if (sv.program->programListing && nlincon)
        cmpplst(&sv.program->nlcList, " NLINCON:", 0, 1, 1, 0, 1, work);

    sv.program->derivArea[0] = CmpDerivArea();
    sv.program->derivArea[1] = CmpDerivArea();
    if (sv.program->indList.count > 0) {
        if (sv.program->depDerivRequest && sv.sizes->nParmDep >= 1 &&
            cmpder(&sv.program->derivArea[0], &sv.program->depList, &sv.program->indList, 101,
                   101, 0, 0, work) != 0)
            xexit(kLevelNoMemory, 0);
        if (sv.program->conDerivRequest && nlincon &&
            cmpder(&sv.program->derivArea[1], &sv.program->nlcList, &sv.program->indList, 102,
                   101, 0, 0, work) != 0)
            xexit(kLevelNoMemory, 0);
    }
    if (request) xmpoold(pool);
    sv.program->nDepDerivs = sv.program->derivArea[0].count;
    sv.program->depDerivCells = sv.program->derivArea[0].values;
    sv.program->depDerivParm = sv.program->derivArea[0].exprIndex;
    sv.program->depDerivInput = sv.program->derivArea[0].varIndex;
    sv.program->nConDerivs = sv.program->derivArea[1].count;
    sv.program->conDerivCells = sv.program->derivArea[1].values;
    sv.program->conDerivStmt = sv.program->derivArea[1].exprIndex;
    sv.program->conDerivInput = sv.program->derivArea[1].varIndex;

    if (sv.program->programListing) {
        cmppsts(message(kMsgProgramTitle).c_str(), work);
        if (sv.program->depDerivRequest)
            cmppder(&sv.program->derivArea[0], message(kMsgDependentDerivatives).c_str(), work);
    }

    int32_t notes = 0, faults = 0;
    cmpchck(1, &notes, &faults, 0, work);
    if (faults > 0) {
        xpmlog(kMsgProc, kMsgProgramFaults, faults);
        if (sv.options->printEnabled) xpsout((message(kMsgProgramFaults) + "%n").c_str(), faults);
        xexit(kLevelInputError, 0);
    }
    if (cmppdv(0, nullptr, 0, work) != 0 || cmpgen(work) != 0) xexit(kLevelNoMemory, 0);
    // MAXTIME= bounds the step's time, the statements' loops included.
    cmptime(nlp->maxTime, work);
    std::copy(sv.program->xCopy, sv.program->xCopy + sv.sizes->nParmAll, nlp->x);
}

}  // namespace

void cospar5(ProcContext* ctx, int32_t mode, NameRecord* table) {
    const StepView sv = step_view(ctx);
    switch (mode) {
        case 0: mode0(sv, table); break;
        case 1: mode1(sv, table); break;
        case 2: mode2(sv); break;
        default: internal_error("cospar5 called with an unknown mode");
    }
}
