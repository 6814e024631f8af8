// The variables of the special data sets and their binding to the cells of
// the run context: every special data set is exchanged with the host one
// observation at a time through bound cells (the output row with _TYPE_
// and the name variables, the row of numeric values, the RAM and OUTEST=
// cells).  cosfop1 binds a TYPE=SYMATRIX DATA= and INRAM=, cosfop2 INEST=
// and INWGT=, cosfop3 defines the variables of the four output data sets.
//
//   per data set: begin the list; bind (or define) each variable in order;
//   a variable that is absent or of the wrong type: its message, the error
//   level, and the rest of that data set is not bound; end the list
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "host/internal_error.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "velix/codes.h"
#include "velix/host_dataset.h"
#include "velix/messages.h"
#include "velix/packed_index.h"
#include "velix/statements.h"

namespace {

constexpr int32_t kTypeCharacter = 99;  // 'c'
constexpr int32_t kTypeNumeric = 102;   // 'f'

// Messages per data set: variable absent, wrong type, BY variables differ.
struct BindMessages {
    int32_t absent;
    int32_t wrongType;
    int32_t byMismatch;
};
constexpr BindMessages kSymatrixMessages{401, 402, 0};
constexpr BindMessages kInramMessages{404, 405, 403};
constexpr BindMessages kInestMessages{206, 207, 208};
constexpr BindMessages kInwgtMessages{407, 408, 406};

// One read list being built; stops at the first failure.
struct ReadList {
    DataView dv;
    HostDataSet* data;
    HostBinding* binding = nullptr;
    BindMessages messages;
    bool failed = false;

    ReadList(const DataView& view, int role, int32_t count, BindMessages m)
        : dv(view), data(view.dataSets->dataSetHandle[role]), messages(m) {
        xvgeti(data, count, 0, &binding);
        dv.dataSets->dataSetBinding[role] = binding;
    }

    // Binds variable `name` (length) to cell; optional variables may be absent.
    void bind(const char* name, int32_t length, void* cell, bool character, int32_t cellLength,
              bool optional = false) {
        if (failed) return;
        int16_t number = 0;
        if (xvfind(data, name, length, &number, 0) != 0 || number == 0) {
            if (optional) return;
            xpmlog(kMsgProc, messages.absent, length, name);
            raise_error_level(dv.ctx, kLevelBadVariables);
            failed = true;
            return;
        }
        const int32_t rc = xvgetd(binding, number, 0, cell, cellLength,
                                  character ? kTypeCharacter : kTypeNumeric, 0, 0);
        if (rc != 0) {
            xpmlog(kMsgProc, messages.wrongType, length, name);
            // A numeric variable that a value among its numbers made
            // character (an infinity, a word): which value, and its line.
            const char* cause = "";
            if (!character && xvcause(data, number, &cause) == 0 && *cause != '\0') {
                std::string shown(name, static_cast<size_t>(length));
                shown.erase(shown.find_last_not_of(' ') + 1);  // the special names are blank-padded
                log_not_numeric(data, number, shown.c_str());
            }
            raise_error_level(dv.ctx, kLevelBadVariables);
            failed = true;
        }
    }
    void bind_special(const char* name, void* cell, bool character, int32_t cellLength,
                      bool optional = false) {
        bind(name, static_cast<int32_t>(std::strlen(name)), cell, character, cellLength, optional);
    }
};

void check_by(const DataView& dv, int role, int32_t message) {
    if (dv.sizes->nByVars > 0 &&
        xbylist(dv.dataSets->dataSetHandle[kRoleData], dv.dataSets->dataSetHandle[role]) != 0) {
        xpmlog(kMsgProc, message);
        raise_error_level(dv.ctx, kLevelInputError);
    }
}

void exit_above_999(const DataView& dv) {
    if (*dv.errorLevel > kLevelStepEnds) xexit(*dv.errorLevel, 0);
}

// A stored model or weight data set that a run with BY groups wrote holds
// one model or matrix per group, with that run's BY variables before
// _TYPE_.  In a step without BY it is grouped by them, so that its groups
// are read one at a time (as a whole its rows would mix the groups, the
// later overwriting the earlier).  false when it has no such variables.
bool group_by_leading_variables(const DataView& dv, int role) {
    HostDataSet* d = dv.dataSets->dataSetHandle[role];
    int16_t type = 0;
    return dv.sizes->nByVars == 0 && xvfind(d, "_TYPE_", 6, &type, 0) == 0 && type > 1 && xbyvars(d, type - 1) == 0;
}

// The number of groups of the data set of `role`, left before its first;
// `shown` receives the BY values of the first few ("g=1, g=2, ...").
int32_t count_groups(const DataView& dv, int role, std::string* shown) {
    HostDataSet* d = dv.dataSets->dataSetHandle[role];
    constexpr int32_t kShown = 5;  // groups named; the count says how many more
    int32_t groups = 0;
    while (xbynext(d) != 0) {
        DataSetLabel by;
        if (++groups <= kShown && xoinfo(d, kInfoByValues, &by) == 0)
            *shown += (groups > 1 ? ", " : "") + std::string(by.text, static_cast<size_t>(std::max<int16_t>(by.length, 0)));
    }
    if (groups > kShown) *shown += ", ...";
    xbyrwnd(d, kRewindFile);
    return groups;
}

// The numeric variables of the analysis, bound to rowValues[0 .. count-1].
void bind_analysis(ReadList* list, const DataView& dv, int32_t count) {
    for (int32_t i = 0; i < count && !list->failed; ++i) {
        const NameRecord& n = dv.input->manifestNames[i];
        list->bind(n.text, n.length, &dv.cells->rowValues[i], false, 8);
    }
}

// Output list definition.
struct OutputList {
    DataView dv;
    HostBinding* binding = nullptr;
    HostVariableDescriptor d;

    OutputList(const DataView& view, int role, int32_t count) : dv(view) {
        HostDataSet* out = dv.dataSets->dataSetHandle[role];
        xvputi(out, count, 0, &binding);
        dv.dataSets->dataSetBinding[role] = binding;
        if (dv.sizes->nByVars > 0) {
            HostDataSet* data = dv.dataSets->dataSetHandle[kRoleData];
            // The BY variables of DATA= come first in every output data set.
            const NameArray& by = dv.options->procOptions->lists[kListBy];
            int16_t numbers[256];
            int32_t k = 0;
            for (int32_t i = 0; i < by.count && k < 256; ++i) {
                int16_t v = 0;
                if (xvfind(data, by.names[i].text, by.names[i].length, &v, 0) == 0) numbers[k++] = v;
            }
            xvputcv(binding, data, numbers, k, 0);
        }
    }
    void reset() {
        xvnamei(&d);
        d.attributeWord[0] = d.attributeWord[1] = 0;
        std::memset(d.attributeName, ' ', sizeof d.attributeName);
    }
    // A special variable with its label message.
    void define(const char* name, int32_t labelMessage, void* cell, int32_t charLength) {
        reset();
        char label[41];
        const int32_t labelLength = labelMessage > 0 ? xpmstr(label, -1 - 40, kMsgProc, labelMessage) : 0;
        d.name = name;
        d.nameLength = static_cast<int16_t>(std::strlen(name));
        d.label = labelLength > 0 ? label : nullptr;
        d.labelLength = static_cast<int16_t>(std::max(labelLength, 0));
        d.type = charLength > 0 ? kVarCharacter : kVarNumeric;
        d.length = d.storedLength = charLength > 0 ? charLength : 8;
        xvputd(binding, &d, 0, cell, charLength, 0, 0);
    }
    // The numeric variables of DATA= in use: name and label pass over.
    void define_data_variables() {
        HostDataSet* data = dv.dataSets->dataSetHandle[kRoleData];
        for (int32_t i = 0; i < dv.sizes->nVar; ++i) {
            const HostVariableDescriptor* src = nullptr;
            reset();
            if (xvname(data, dv.input->manifestNumbers[i], &src) == 0 && src != nullptr) {
                d.name = src->name;
                d.nameLength = src->nameLength;
                d.label = src->label;
                d.labelLength = src->labelLength;
            } else {
                d.name = dv.input->manifestNames[i].text;
                d.nameLength = dv.input->manifestNames[i].length;
            }
            d.type = kVarNumeric;
            d.length = d.storedLength = 8;
            xvputd(binding, &d, 0, &dv.cells->rowValues[i], 0, 0, 0);
        }
    }
};

}  // namespace

bool generated_exogenous_name(const NameRecord& name) {
    static const char prefix[] = "_EXO";
    const int32_t len = name.length;
    if (len <= 4) return false;
    for (int32_t i = 0; i < 4; ++i)
        if (std::toupper(static_cast<unsigned char>(name.text[i])) != prefix[i]) return false;
    for (int32_t i = 4; i < len && name.text[i] != ' '; ++i)
        if (std::isdigit(static_cast<unsigned char>(name.text[i])) == 0) return false;
    return true;
}

namespace {

void set_type_and_label(HostDataSet* out, const char* type) {
    char t[8];
    std::memset(t, ' ', 8);
    std::memcpy(t, type, std::strlen(type));
    xoinfo(out, kInfoSetType, t);
    DataSetLabel label;
    label.length =
        static_cast<int16_t>(std::max(0, xpmstr(label.text, -1 - 40, kMsgProc, kMsgOutputLabel)));
    xoinfo(out, kInfoSetLabel, &label);
}

bool wls_form(int32_t method) { return method == kMethodWls || method == kMethodUlsWls; }

}  // namespace

std::vector<velix::detail::ReadVariable> velix::detail::read_variables(const ProcContext* ctx) {
    const int32_t nVar = ctx->sizes.nVar;
    std::vector<ReadVariable> out(static_cast<size_t>(nVar));
    for (int32_t i = 0; i < nVar; ++i) out[i] = {ctx->input.manifestNumbers[i], ctx->input.manifestNames[i]};
    if (ctx->input.hostLists == nullptr) return out;
    const VariableList& partial = ctx->input.hostLists->entry[kHostListPartial];
    for (int32_t k = 0; k < partial.count; ++k) {
        ReadVariable v;
        v.number = partial.numbers[k];
        const HostVariableDescriptor* d = nullptr;
        if (xvname(ctx->dataSets.dataSetHandle[kRoleData], v.number, &d) == 0) {
            v.name.length = static_cast<int16_t>(std::min<int>(d->nameLength, sizeof v.name.text));
            std::memset(v.name.text, ' ', sizeof v.name.text);
            std::memcpy(v.name.text, d->name, v.name.length);
        }
        out.push_back(v);
    }
    return out;
}

bool velix::detail::partials_given(const double* matrix, const std::vector<ReadVariable>& vars, int32_t nAnalysis) {
    const int32_t n = static_cast<int32_t>(vars.size());
    std::string lacking;
    for (int32_t i = nAnalysis; i < n; ++i) {
        bool given = true;
        for (int32_t j = 0; j < n && given; ++j) given = wzmis(matrix[velix::pk(i, j)]) == 0;
        if (given) continue;
        if (!lacking.empty()) lacking += ' ';
        lacking.append(vars[i].name.text, static_cast<size_t>(vars[i].name.length));
    }
    if (lacking.empty()) return true;
    xpmlog(kMsgReader, kMsgReaderPartialMissing, lacking.c_str());
    return false;
}

const char* velix::detail::outstat_matrix_type(const ProcContext* ctx) {
    if (ctx->input.symatrixInput) return "SYMATRIX";
    // An AUGMENT run writes the moments about the means with their MEAN
    // row, whatever origin UCOV or UCORR ask for.
    if (ctx->options.interceptVar) return ctx->options.covAnalysis ? "COV" : "CORR";
    if (ctx->options.uncorrectedCorr) return "UCORR";
    if (ctx->options.uncorrectedCov) return "UCOV";
    // Moments about zero (NOINT) need the U type to be read back as such.
    // A matrix that holds an Intercept variable among the analysis
    // variables carries the means in that row and is written by its COV or
    // CORR type.
    const int16_t* vars = ctx->input.manifestNumbers;
    const bool interceptAnalysed =
        ctx->input.interceptVarNumber > 0 && vars != nullptr &&
        std::find(vars, vars + ctx->sizes.nVar, ctx->input.interceptVarNumber) != vars + ctx->sizes.nVar;
    const bool aboutZero = ctx->moments.momentOrigin != 0 && !interceptAnalysed;
    if (ctx->options.covAnalysis) return aboutZero ? "UCOV" : "COV";
    return aboutZero ? "UCORR" : "CORR";
}

void cosfop1(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    velix::detail::allocate_moment_arrays(dv.ctx);
    dv.dataSets->outRow.name.length = 32;
    if (dv.input->symatrixInput) {
        // The analysis variables, then the PARTIAL ones.
        const std::vector<velix::detail::ReadVariable> vars = velix::detail::read_variables(dv.ctx);
        const int32_t n = static_cast<int32_t>(vars.size());
        ReadList list(dv, kRoleData, dv.sizes->nByVars + n + 2, kSymatrixMessages);
        if (dv.input->typeVar > 0) list.bind_special("_TYPE_", dv.dataSets->outRow.type, true, 8);
        if (dv.input->nameVar > 0) list.bind_special("_NAME_", dv.dataSets->outRow.name.text, true, 32);
        for (int32_t i = 0; i < n; ++i)
            list.bind(vars[i].name.text, vars[i].name.length, &dv.cells->rowValues[i], false, 8);
        xvgete(list.binding);
    }
    if (dv.input->inramUsed) {
        check_by(dv, kRoleInram, kInramMessages.byMismatch);
        // The model is read from the first group (as in a step with BY).
        group_by_leading_variables(dv, kRoleInram);
        ReadList list(dv, kRoleInram, dv.sizes->nByVars + 7, kInramMessages);
        list.bind_special("_TYPE_", dv.dataSets->outRow.type, true, 8);
        list.bind_special("_NAME_", dv.dataSets->outRow.name.text, true, 32);
        static const char* const kRam[] = {"_MATNR_", "_ROW_", "_COL_", "_ESTIM_", "_STDERR_"};
        for (int k = 0; k < 5; ++k) list.bind_special(kRam[k], &dv.cells->ramRow[k], false, 8);
        xvsele(dv.dataSets->dataSetHandle[kRoleInram]);
        xvgete(list.binding);
    }
    exit_above_999(dv);
}

bool same_name(const char* a, int32_t la, const char* b, int32_t lb) {
    return la == lb && std::memcmp(a, b, static_cast<size_t>(la)) == 0;
}

// The program variables that INEST= holds: each is taken from the
// compiler's bookkeeping (bound by the host, no derivative flags), and
// unless it is a parameter or a special variable it is recorded with its
// INEST= variable number and its symbol is pointed at the record's value.
// Their number was counted with the program; any other number now is an
// internal inconsistency.  Programming statements that are ignored (those
// of the default FACTOR model) have no statement variables.
void record_statement_variables(const DataView& dv) {
    HostDataSet* inest = dv.dataSets->dataSetHandle[kRoleInest];
    const NlpProblem* nlp = dv.nlp;
    if (!dv.program->hasProgram) dv.program->nStmtVars = 0;
    if (dv.cmpWork == nullptr || inest == nullptr || !dv.program->hasProgram) return;
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    const size_t bytes = sizeof(StatementVariable) * static_cast<size_t>(std::max(dv.program->nStmtVars, 1));
    auto* records = static_cast<StatementVariable*>(a->allocate(a, bytes, 4));
    if (records == nullptr) xexit(kLevelNoMemory, 0);
    int32_t k = 0;
    for (CmpSymbol* s = cmplstv(dv.cmpWork); s != nullptr; s = s->next) {
        int16_t number = 0;
        if (!(s->flags & kCmpReferenced) || xvfind(inest, s->name, s->nameLength, &number, 0) != 0 || number == 0)
            continue;
        s->flags = static_cast<uint8_t>(s->flags & ~(kCmpHostFlag02 | kCmpHostFlag10));
        s->binding = 'a';
        s->count = 0;
        // As the program's reader counted them: parameters and the special
        // variables (in any case) are not statement variables.
        bool skip = s->kind == 1;
        for (const char* special : {"_TYPE_", "_ITER_", "_RHS_"})
            skip = skip || wzsteqn(s->name, s->nameLength, special, static_cast<int32_t>(std::strlen(special))) != 0;
        for (int32_t i = 0; i < dv.sizes->nParmFree && nlp != nullptr && nlp->param.paramNames != nullptr && !skip; ++i)
            skip = same_name(s->name, s->nameLength, nlp->param.paramNames[i].text, nlp->param.paramNames[i].length);
        if (skip) continue;
        if (k >= dv.program->nStmtVars) internal_error("INEST= holds more statement variables than the program counted");
        records[k] = StatementVariable{number, s, host_missing_value(), host_missing_value()};
        s->value = &records[k].value;
        ++k;
    }
    if (k != dv.program->nStmtVars) internal_error("INEST= holds fewer statement variables than the program counted");
    dv.program->stmtVars = records;
}

void cosfop2(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    velix::detail::allocate_moment_arrays(dv.ctx);
    dv.dataSets->outRow.name.length = 32;
    if (!dv.input->inestUsed && !dv.input->inwgtUsed) return;
    if (dv.input->inestUsed) {
        // The parameters of INEST=; statement variables come with the
        // programming statements' reader.
        record_statement_variables(dv);
        check_by(dv, kRoleInest, kInestMessages.byMismatch);
        NlpProblem* nlp = dv.nlp;
        ReadList list(dv, kRoleInest, dv.sizes->nByVars + dv.sizes->nParmFree + dv.program->nStmtVars + 3, kInestMessages);
        list.bind_special("_TYPE_", dv.dataSets->outRow.type, true, 8);
        list.bind_special("_RHS_", &dv.cells->rhsCell, false, 8, true);
        list.bind_special("_ITER_", &dv.cells->iterCell, false, 8, true);
        for (int32_t k = 0; k < dv.program->nStmtVars && dv.program->stmtVars != nullptr; ++k) {
            const CmpSymbol* s = dv.program->stmtVars[k].symbol;
            list.bind(s->name, s->nameLength, &dv.program->stmtVars[k].cell, false, 8);
        }
        for (int32_t i = 0; i < dv.sizes->nParmFree && nlp->param.paramNames && nlp->param.paramRow; ++i) {
            const NameRecord& n = nlp->param.paramNames[i];
            list.bind(n.text, n.length, &nlp->param.paramRow[i], false, 8, generated_exogenous_name(n));
        }
        xvsele(dv.dataSets->dataSetHandle[kRoleInest]);
        xvgete(list.binding);
        exit_above_999(dv);
    }
    if (dv.input->inwgtUsed) {
        check_by(dv, kRoleInwgt, kInwgtMessages.byMismatch);
        // The weights of one group are no weights of the data of all: which
        // group's were meant is the user's to say.
        std::string shown;
        int32_t groups = 1;
        if (group_by_leading_variables(dv, kRoleInwgt) && (groups = count_groups(dv, kRoleInwgt, &shown)) > 1) {
            DataSetInfo info;
            xoinfo(dv.dataSets->dataSetHandle[kRoleInwgt], kInfoDescription, &info);
            xpmlog(kMsgProc, kMsgInwgtSeveralGroups, static_cast<int32_t>(wzstrip(info.name, 32)), info.name, groups,
                   shown.c_str());
            raise_error_level(dv.ctx, kLevelInputError);
            exit_above_999(dv);
        }
        const bool wls = wls_form(dv.methods->methodRequested);
        // Weights over pairs of moments (the WLS form, with _NAM2_) read as
        // a matrix over the variables would be silently misread: refused.
        int16_t pairNames = 0;
        if (!wls && xvfind(dv.dataSets->dataSetHandle[kRoleInwgt], "_NAM2_", 6, &pairNames, 0) == 0) {
            xpmlog(kMsgProc, kMsgInwgtPairWeights);
            raise_error_level(dv.ctx, kLevelBadVariables);
            exit_above_999(dv);
        }
        ReadList list(dv, kRoleInwgt, dv.sizes->nByVars + (wls ? 4 : 2) + dv.sizes->nManifest, kInwgtMessages);
        list.bind_special("_TYPE_", dv.dataSets->outRow.type, true, 8);
        list.bind_special("_NAME_", dv.dataSets->outRow.name.text, true, 32);
        if (wls) {
            list.bind_special("_NAM2_", dv.dataSets->outRow.name2.text, true, 32);
            list.bind_special("_NAM3_", dv.dataSets->outRow.name3.text, true, 32);
        }
        bind_analysis(&list, dv, dv.sizes->nManifest);
        xvsele(dv.dataSets->dataSetHandle[kRoleInwgt]);
        xvgete(list.binding);
        exit_above_999(dv);
    }
}

void cosfop3(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    velix::detail::allocate_moment_arrays(dv.ctx);
    if (HostDataSet* out = dv.dataSets->dataSetHandle[kRoleOutstat]) {
        set_type_and_label(out, velix::detail::outstat_matrix_type(dv.ctx));
        OutputList list(dv, kRoleOutstat, dv.sizes->nByVars + dv.sizes->nVar + 2);
        list.define("_TYPE_", 410, dv.dataSets->outRow.type, 8);
        list.define("_NAME_", 411, dv.dataSets->outRow.name.text, 32);
        list.define_data_variables();
        xvpute(list.binding);
    }
    if (HostDataSet* out = dv.dataSets->dataSetHandle[kRoleOutram]) {
        set_type_and_label(out, "RAM");
        OutputList list(dv, kRoleOutram, dv.sizes->nByVars + 7);
        list.define("_TYPE_", 410, dv.dataSets->outRow.type, 8);
        list.define("_NAME_", 411, dv.dataSets->outRow.name.text, 32);
        static const char* const kRam[] = {"_MATNR_", "_ROW_", "_COL_", "_ESTIM_", "_STDERR_"};
        for (int k = 0; k < 5; ++k) {
            list.reset();
            list.d.name = kRam[k];
            list.d.nameLength = static_cast<int16_t>(std::strlen(kRam[k]));
            list.d.label = kRam[k];
            list.d.labelLength = list.d.nameLength;
            xvputd(list.binding, &list.d, 0, &dv.cells->ramRow[k], 0, 0, 0);
        }
        xvpute(list.binding);
    }
    if (HostDataSet* out = dv.dataSets->dataSetHandle[kRoleOutwgt]) {
        set_type_and_label(out, "WEIGHT");
        const bool wls = wls_form(dv.methods->methodRequested);
        const int32_t intercept = dv.options->interceptVar ? 1 : 0;
        OutputList list(dv, kRoleOutwgt, dv.sizes->nByVars + dv.sizes->nVar + intercept + (wls ? 4 : 2));
        list.define("_TYPE_", 410, dv.dataSets->outRow.type, 8);
        list.define("_NAME_", 412, dv.dataSets->outRow.name.text, 32);
        if (wls) {
            list.define("_NAM2_", 413, dv.dataSets->outRow.name2.text, 32);
            list.define("_NAM3_", 414, dv.dataSets->outRow.name3.text, 32);
        }
        list.define_data_variables();
        // The weights of an AUGMENT run are over the intercept too: its
        // column, beside its row, lets INWGT= read them back whole.
        if (intercept) list.define("Intercept", 0, &dv.cells->rowValues[dv.sizes->nVar], 0);
        xvpute(list.binding);
    }
    if (HostDataSet* out = dv.dataSets->dataSetHandle[kRoleOutest]) {
        set_type_and_label(out, "EST");
        NlpProblem* nlp = dv.nlp;
        // The confidence-limit rows carry their level.
        const bool alpha = nlp->hooks && nlp->hooks->plSettings && nlp->hooks->plSettings->method != 0;
        OutputList list(dv, kRoleOutest, dv.sizes->nByVars + dv.sizes->nParmFree + dv.program->nStmtVars + (alpha ? 5 : 4));
        list.define("_TYPE_", 410, dv.dataSets->outRow.type, 8);
        list.define("_NAME_", 411, dv.dataSets->outRow.name.text, 32);
        dv.dataSets->outRow.name.length = 32;
        list.define("_RHS_", 0, &dv.cells->rhsCell, 0);
        list.reset();
        list.d.name = "_ITER_";
        list.d.nameLength = 6;
        list.d.label = "Iteration ";
        list.d.labelLength = 10;
        xvputd(list.binding, &list.d, 0, &dv.cells->iterCell, 0, 0, 0);
        if (alpha) {
            list.reset();
            list.d.name = "_ALPHA_";
            list.d.nameLength = 7;
            list.d.label = "Alpha PL Conf. Limit";
            list.d.labelLength = 20;
            xvputd(list.binding, &list.d, 0, &dv.cells->alphaCell, 0, 0, 0);
        }
        HostDataSet* inest = dv.input->inestUsed ? dv.dataSets->dataSetHandle[kRoleInest] : nullptr;
        for (int32_t i = 0; i < dv.sizes->nParmFree && nlp->param.paramNames && nlp->param.paramRow; ++i) {
            const NameRecord& n = nlp->param.paramNames[i];
            list.reset();
            int16_t number = 0;
            const HostVariableDescriptor* src = nullptr;
            if (inest && xvfind(inest, n.text, n.length, &number, 0) == 0 &&
                xvname(inest, number, &src) == 0 && src != nullptr) {
                list.d = *src;
            } else {
                list.d.name = n.text;
                list.d.nameLength = n.length;
                list.d.label = n.text;
                list.d.labelLength = n.length;
            }
            xvputd(list.binding, &list.d, 0, &nlp->param.paramRow[i], 0, 0, 0);
        }
        // The program variables, described as INEST= describes them.
        for (int32_t k = 0; k < dv.program->nStmtVars && dv.program->stmtVars != nullptr && inest != nullptr; ++k) {
            list.reset();
            const HostVariableDescriptor* src = nullptr;
            if (xvname(inest, dv.program->stmtVars[k].number, &src) == 0 && src != nullptr) list.d = *src;
            xvputd(list.binding, &list.d, 0, &dv.program->stmtVars[k].cell, 0, 0, 0);
        }
        xvpute(list.binding);
    }
    zmsgsav(0, 0, nullptr, 0);
}

void log_not_numeric(HostDataSet* data, int32_t number, const char* name) {
    const char* cause = "";
    if (xvcause(data, number, &cause) != 0) cause = "";
    xpmlog(kMsgProc, kMsgVariableNotNumeric, name, *cause != '\0' ? ": " : "", cause);
}

void cos_write_row(ProcContext* ctx, int32_t role) {
    const DataView dv = data_view(ctx);
    HostBinding* b = dv.dataSets->dataSetBinding[role];
    DataSetSlot* s = dv.dataSets->dataSetSlot[role];
    if (b == nullptr) return;
    const int32_t rc = xyvput(b, 0);
    if (rc != 0 && s != nullptr) {
        s->status = rc;
        xofprc(s, rc, 4);
    }
}

int32_t cos_read_row(ProcContext* ctx, int32_t role) {
    const DataView dv = data_view(ctx);
    DataSetSlot* s = dv.dataSets->dataSetSlot[role];
    if (s == nullptr || s->handle == nullptr) return 0;
    if (xybyget(s) == 0) return 0;
    const int32_t rc = xyvget(dv.dataSets->dataSetBinding[role], 0);
    if (rc != 0) {
        xofprc(s, rc, 1);
        return 0;
    }
    return 1;
}
