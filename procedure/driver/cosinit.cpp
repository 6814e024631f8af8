// cosinit: the step's set-up.  Parses the statements, copies the PROC
// options into the run context and the optimizer blocks (with their
// defaults and corrections), binds the eight data-set roles and checks the
// input TYPEs, decides between raw and moment input, defines the variable
// lists on DATA=, opens the utility files, sizes the first step pool and
// builds the model.
//
//   parse -> optimizer options (cosop11) -> roles -> option cells and flag
//   bits -> input kind and weight checks -> variable lists -> utility files
//   -> pool -> model (cospari) -> final checks
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/internal_error.h"
#include "host/fields.h"
#include "host/scratch_file.h"
#include "procedure/driver/grammar.h"
#include "procedure/driver/model.h"
#include "procedure/driver/step_view.h"
#include "procedure/estimation/options.h"
#include "procedure/data/data.h"
#include "procedure/procedure.h"
#include "velix/host_dataset.h"
#include "velix/messages.h"

namespace {

const OptionCell& cell(const ProcOptionRecord* r, ProcCell c) { return r->cells[c]; }

// The option's value when given, else its row's default (the missing value
// for a row that says so).
double cell_value(const ProcOptionRecord* r, ProcCell c) {
    const OptionCell& oc = cell(r, c);
    if (oc.given) return oc.value;
    const ProcCellRow& row = proc_cell_row(c);
    return row.kind == CellDefault::kMissing ? host_missing_value() : row.value;
}

// Stores a given, non-missing option double; the target keeps its preset
// otherwise.
void store_given(const ProcOptionRecord* r, ProcCell c, double* target) {
    const OptionCell& oc = cell(r, c);
    if (oc.given && !wzmis(oc.value)) *target = oc.value;
}

bool flag(const StatementNode* node, NodeFlag f) { return node_flag(node, f); }

bool type_is(const char* type8, const char* want) {
    char w[8];
    std::memset(w, ' ', 8);
    std::memcpy(w, want, std::strlen(want));
    return std::memcmp(type8, w, 8) == 0;
}

// Scratch files: attribute words of the two record kinds.

void open_file(HostFile** handle, uint32_t attribute) {
    ScratchFileRequest req;
    req.attributeWord = attribute;
    int32_t rc = xcopen(handle, &req);
    if (rc == 0) rc = xcpoint(*handle, 0);
    scratch_check(rc);
}

void step_exit_above(const StepView& sv, int32_t level) {
    if (*sv.errorLevel > level) xexit(*sv.errorLevel, 0);
}

// The variable of DATA= that a list name cut short at a "." or a blank
// ("Life" of "Life Exp", "Wr" of "Wr.Hnd"), which no statement can name;
// "" when there is none.
std::string unnameable_variable(HostDataSet* data, int32_t nVariables, const std::string& upperName) {
    for (int32_t v = 1; v <= nVariables; ++v) {
        const HostVariableDescriptor* d = nullptr;
        if (xvname(data, v, &d) != 0 || d->nameLength <= static_cast<int16_t>(upperName.size())) continue;
        const std::string name(d->name, static_cast<size_t>(d->nameLength));
        const char after = name[upperName.size()];
        if (after != '.' && after != ' ') continue;
        bool same = true;
        for (size_t k = 0; k < upperName.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(name[k])) == upperName[k];
        if (same) return name;
    }
    return "";
}

// Resolves list k of the PROC record to variable numbers of DATA=;
// _NUMERIC_ and _ALL_ stand for every numeric variable.  Unknown names:
// message 86; a character variable in any list but BY (groups are runs of
// equal texts as well as of equal numbers): message 87.  Each message is
// placed at its name in the statements.
std::vector<int16_t> resolve_list(const StepView& sv, HostDataSet* data, const ProcOptionRecord* r, int k) {
    const NameArray& names = r->lists[k];
    const int32_t* lines = r->listLines[k];
    std::vector<int16_t> out;
    DataSetInfo info;
    xoinfo(data, kInfoDescription, &info);
    for (int32_t i = 0; i < names.count; ++i) {
        std::string n(names.names[i].text, names.names[i].length);
        std::string u = n;
        for (char& ch : u) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (u == "_NUMERIC_" || u == "_ALL_") {
            for (int32_t v = 1; v <= info.nVariables; ++v) {
                const HostVariableDescriptor* d = nullptr;
                if (xvname(data, v, &d) == 0 && d->type == kVarNumeric) out.push_back(static_cast<int16_t>(v));
            }
            continue;
        }
        int16_t number = 0;
        if (xvfind(data, n.data(), static_cast<int32_t>(n.size()), &number, 0) != 0) {
            if (const std::string whole = unnameable_variable(data, info.nVariables, u); !whole.empty())
                xpmlog(kMsgProc, kMsgVariableCutShort, n.c_str(), whole.c_str());
            else
                xpmlog(kMsgProc, kMsgVariableNotInData, n.c_str());
            xpmplace(lines != nullptr ? lines[i] : 0, n.c_str());
            raise_error_level(sv.ctx, kLevelInputError);
            continue;
        }
        const HostVariableDescriptor* d = nullptr;
        if (k != kListBy && xvname(data, number, &d) == 0 && d->type != kVarNumeric) {
            log_not_numeric(data, number, n.c_str());
            xpmplace(lines != nullptr ? lines[i] : 0, n.c_str());
            raise_error_level(sv.ctx, kLevelInputError);
            continue;
        }
        out.push_back(number);
    }
    return out;
}

// Removes repeated variable numbers, keeping the first; true when any went.
bool remove_repeats(std::vector<int16_t>* v) {
    std::vector<int16_t> kept;
    for (int16_t x : *v)
        if (std::find(kept.begin(), kept.end(), x) == kept.end()) kept.push_back(x);
    bool removed = kept.size() != v->size();
    *v = kept;
    return removed;
}

// An option value for an integer target: truncated toward zero.  A value
// outside the 32-bit range is held at its end, and a missing value (or any
// NaN) counts as 0, so that no user value reaches an undefined conversion.
int32_t option_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Reads the option cells of the PROC statement.
void read_option_cells(const StepView& sv, const StatementNode* proc, const ProcOptionRecord* r) {
    NlpProblem* nlp = sv.nlp;
    NlpHookBlock* hooks = sv.hooks;
    const double missing = host_missing_value();

    sv.methods->methodRequested = option_int(cell_value(r, kProcMethod));
    // TECHNIQUE=, UPDATE=, LINESEARCH=, G4=: 0 keeps the preset.
    auto keep_preset = [&](ProcCell c, int32_t* target) {
        const OptionCell& oc = cell(r, c);
        if (oc.given && option_int(oc.value) != 0) *target = option_int(oc.value);
    };
    keep_preset(kProcTechnique, &nlp->opt.technique);
    keep_preset(kProcUpdate, &nlp->opt.update);
    keep_preset(kProcLineSearch, &nlp->opt.lineSearch);
    store_given(r, kProcInStep, &nlp->opt.inStep);
    store_given(r, kProcLsPrecision, &nlp->opt.lsPrecision);
    store_given(r, kProcMaxTime, &nlp->opt.maxTime);
    store_given(r, kProcMaxIter, &nlp->opt.maxIter);
    store_given(r, kProcMaxIterNlc, &nlp->opt.nlcIterLimit);
    store_given(r, kProcMaxFunc, &nlp->opt.maxFunc);
    store_given(r, kProcFConv, &nlp->opt.fConv);
    store_given(r, kProcGConv, &nlp->opt.gConv);

    const OptionCell& sing = cell(r, kProcSingular);
    const ProcCellRow& singRow = proc_cell_row(kProcSingular);
    // An out-of-range value is replaced for the procedure's factorizations
    // and so for the optimizer's, which would refuse it.
    if (sing.given && in_range(singRow, sing.value)) nlp->opt.singularTol = sing.value;
    sv.options->singular =
        sing.given && in_range(singRow, sing.value) ? sing.value : singRow.value;

    sv.methods->jacobianModeRequested = option_int(cell_value(r, kProcHessAlg));
    if (!in_range(proc_cell_row(kProcHessAlg), sv.methods->jacobianModeRequested) ||
        (sv.methods->jacobianModeRequested >= 7 && sv.methods->jacobianModeRequested <= 10)) {
        xpmlog(kMsgProc, kMsgBadJacobianMode, sv.methods->jacobianModeRequested);
        sv.methods->jacobianModeRequested = static_cast<int32_t>(proc_cell_row(kProcHessAlg).value);
    }

    sv.options->edfGiven = cell_value(r, kProcEdf);
    sv.options->dfReduce = cell_value(r, kProcDfReduce);
    sv.options->randomSeed = option_int(cell_value(r, kProcRandom));
    std::memcpy(sv.options->vardefKind,
                cell(r, kProcVardef).given ? cell(r, kProcVardef).name : kVardefDefault, 8);

    const OptionCell& start = cell(r, kProcStart);
    const double startDefault = proc_cell_row(kProcStart).value;
    sv.options->startConst = cell_value(r, kProcStart);
    // A missing START= counts as 0, as for the integer options: no model
    // element may be left without a start value.
    if (start.given && (start.value == 0.0 || wzmis(start.value))) {
        xpmlog(kMsgProc, kMsgBadStartConstant);
        sv.options->startConst = startDefault;
    }
    sv.options->waldAlpha = cell_value(r, kProcSlmw);
    if (!in_range(proc_cell_row(kProcSlmw), sv.options->waldAlpha))
        sv.options->waldAlpha = proc_cell_row(kProcSlmw).value;

    keep_preset(kProcG4, &hooks->cov.ginvMaxParams);
    if (hooks->cov.ginvMaxParams < 0) hooks->cov.ginvMaxParams = kDefaultGinvMax;

    sv.options->varStartScale = cell_value(r, kProcDemphas);
    sv.options->ridgeCell = cell_value(r, kProcRidge);
    if (wzmis(sv.options->ridgeCell))
        sv.options->ridgeCell = flag(proc, kFlagRidge) ? missing : 0.0;
    sv.options->wRidge = cell_value(r, kProcWRidge);
    sv.options->asycovKind = option_int(cell_value(r, kProcAsycov));
    sv.options->rotation = option_int(cell_value(r, kProcRotate));
    sv.options->residualKind = option_int(cell_value(r, kProcResidual));
    if (flag(proc, kFlagNorm)) sv.options->rotation = -sv.options->rotation;
    sv.options->wPenalty = cell_value(r, kProcWPenalty);
    if (!wzmis(sv.options->wPenalty) &&
        !in_range(proc_cell_row(kProcWPenalty), sv.options->wPenalty))
        sv.options->wPenalty = 0.0;
    sv.options->nobsGiven = cell_value(r, kProcNobs);
    // Confidence levels are stored as the probability of each tail.
    sv.options->alphaEcv = 0.5 * cell_value(r, kProcAlphaEcv);
    sv.options->alphaRms = 0.5 * cell_value(r, kProcAlphaRms);
    store_given(r, kProcASingular, &hooks->cov.covSingAbs);
    store_given(r, kProcMSingular, &hooks->cov.covSingRel);
    store_given(r, kProcVSingular, &hooks->cov.covSingVar);
    store_given(r, kProcCovSing, &hooks->cov.ginvTol);
}

// Reads the flag bits of the PROC statement.
void read_flag_bits(const StepView& sv, const StatementNode* proc) {
    NlpProblem* nlp = sv.nlp;
    NlpHookBlock* hooks = sv.hooks;
    // Uncorrected covariances are covariances too.
    sv.options->covAnalysis = flag(proc, kFlagCovariance) || flag(proc, kFlagUcov);
    sv.options->uncorrectedCorr = flag(proc, kFlagUcorr);
    sv.options->uncorrectedCov = flag(proc, kFlagUcov);
    sv.options->interceptVar = flag(proc, kFlagAug);
    // Growth models fix time scores and fit means, which hold only in the
    // metric of the data: on the correlations they fit another model.
    if (sv.options->interceptVar && !sv.options->covAnalysis) xpmlog(kMsgProc, kMsgAugmentCorrelations);
    if (flag(proc, kFlagNoint)) {
        sv.moments->momentOrigin = 1;
        xpmlog(kMsgProc, kMsgMomentsAboutZero);
    }
    if (flag(proc, kFlagGradCheck) && nlp->opt.derivCheckMode == 0) nlp->opt.derivCheckMode = 3;
    sv.options->noDfAdjust = flag(proc, kFlagNoAdjDf);
    sv.options->printEnabled = !flag(proc, kFlagNoPrint);
    hooks->cov.printCovariance = flag(proc, kFlagPcoves);
    sv.options->modIndices = flag(proc, kFlagModification);
    sv.options->kurtosisWanted = flag(proc, kFlagKurtosis);
    sv.options->printDetail = flag(proc, kFlagDetail);
    sv.options->matrixForm = flag(proc, kFlagPrimat);
    sv.options->rebuildBeforeDerivs = flag(proc, kFlagFdCode);
    // FDCODE: the derivatives of the programming statements come from finite
    // differences of the rebuilt model, so no analytic ones are requested.
    sv.program->fdDepDerivs = sv.options->rebuildBeforeDerivs;
    sv.program->programListing = flag(proc, kFlagList);
    sv.options->startNotes = flag(proc, kFlagPinitial);
    hooks->cov.printCrossProduct = flag(proc, kFlagPcrpjac);
    hooks->cov.printHessian = flag(proc, kFlagPhessian);
    hooks->cov.outestJacobian = flag(proc, kFlagOutjac);
    sv.ctx->eval.printJacPattern = static_cast<int16_t>(flag(proc, kFlagPjacpat));
    // NODIAG: the model's variances are those of the data, so only the
    // covariances enter the fit.
    sv.ctx->eval.diagFromData = static_cast<int16_t>(flag(proc, kFlagNoDiag));
    sv.options->printEffects = flag(proc, kFlagTotEff);
    // The remaining print and option bits are kept whole for their readers.
    constexpr NodeFlag kKeptPrint[] = {kFlagPall,    kFlagPrint,  kFlagPshort,   kFlagPsummary, kFlagTotEff,
                                       kFlagPweight, kFlagPcorr,  kFlagPrimat,   kFlagResidual, kFlagPestim,
                                       kFlagPredet,  kFlagPlatcov, kFlagPdeterm};
    constexpr NodeFlag kKeptOption[] = {kFlagNoDiag, kFlagBiasKur, kFlagVarStand, kFlagAsyStand};
    sv.options->printFlags = sv.options->optionFlags = 0;
    for (NodeFlag f : kKeptPrint)
        if (flag(proc, f)) sv.options->printFlags |= kept_bit(f, kPrintFlagsFirstByte);
    for (NodeFlag f : kKeptOption)
        if (flag(proc, f)) sv.options->optionFlags |= kept_bit(f, kOptionFlagsFirstByte);
}

// Print settings: NOPRINT clears everything; otherwise the print level
// switches the lower levels' output on (PALL > PRINT > default > PSHORT
// > PSUMMARY).  Then whether the covariance of the estimates is wanted.
void settle_print_level(const StepView& sv, const StatementNode* proc, const ProcOptionRecord* r) {
    NlpHookBlock* hooks = sv.hooks;
    const bool noStdErr = flag(proc, kFlagNoStdErr);
    const bool noMod = flag(proc, kFlagNoMod);
    if (!sv.options->printEnabled) {
        sv.options->printFlags = 0;
        sv.program->programListing = 0;
        sv.options->modIndices = 0;
        sv.options->kurtosisWanted = 0;
        sv.options->printDetail = 0;
        hooks->cov.printCovariance = hooks->cov.printCrossProduct = hooks->cov.printHessian = 0;
        // The optimizer's tables are part of the printed output too.
        sv.nlp->opt.printLevel = velix::detail::kNlLevelNoprint;
    } else {
        const bool pall = flag(proc, kFlagPall), print = flag(proc, kFlagPrint);
        const bool pshort = flag(proc, kFlagPshort), psummary = flag(proc, kFlagPsummary);
        const bool reduced = (pshort || psummary) && !pall && !print;
        sv.options->modelListing = !psummary || pall || print;
        sv.options->printInputModel = !reduced;
        if (pall) {
            sv.options->modIndices = 1;
            sv.options->printDetail = 1;
            sv.options->printEffects = 1;
            hooks->cov.printCovariance = 1;
        }
        if (noMod) sv.options->modIndices = 0;
    }
    // The estimation results (covariance of the estimates) are wanted
    // unless neither standard errors nor modification indices are.
    if (noStdErr) hooks->cov.printCovariance = hooks->cov.printCrossProduct = 0;
    if (noStdErr && noMod) {
        hooks->cov.wantCovariance = 0;
    } else {
        hooks->cov.wantCovariance = r->dataSets[kCellOutest].handle || r->dataSets[kCellOutram].handle ||
                                        hooks->cov.printCovariance || hooks->cov.printCrossProduct || !noStdErr
                                    ? 1
                                    : 0;
    }
    if (hooks->cov.wantCovariance == 0) {
        sv.options->modIndices = 0;
        hooks->cov.printCovariance = hooks->cov.printCrossProduct = 0;
    }
}

// Reads the option cells and flag bits of the PROC statement.
void read_options(const StepView& sv, const StatementNode* proc, const ProcOptionRecord* r) {
    read_option_cells(sv, proc, r);
    read_flag_bits(sv, proc);
    settle_print_level(sv, proc, r);
}

// A copy of the variable lists in step memory, for cospar4 to define them
// again (the read list is left out: xvdflst makes it).
VariableListRecord* keep_lists(const VariableListRecord& lists) {
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    auto* kept = static_cast<VariableListRecord*>(a->allocate(a, sizeof(VariableListRecord), 8));
    if (kept == nullptr) xexit(kLevelNoMemory, 0);
    new (kept) VariableListRecord();
    for (int e = 0; e < kHostListCount; ++e) {
        const VariableList& l = lists.entry[e];
        if (e == kHostListRead || l.count <= 0) continue;
        auto* numbers = static_cast<int16_t*>(
            a->allocate(a, sizeof(int16_t) * static_cast<size_t>(l.count), 2));
        if (numbers == nullptr) xexit(kLevelNoMemory, 0);
        std::copy(l.numbers, l.numbers + l.count, numbers);
        kept->entry[e].count = l.count;
        kept->entry[e].numbers = numbers;
    }
    return kept;
}

// The numeric variables of DATA= that neither are the Intercept nor belong
// to another list: the variables of SSCP input without a VAR list.
std::vector<int16_t> variables_beside_intercept(const StepView& sv, HostDataSet* data,
                                                const std::vector<int16_t> (&store)[kHostListCount]) {
    DataSetInfo info;
    xoinfo(data, kInfoDescription, &info);
    std::vector<int16_t> out;
    for (int32_t v = 1; v <= info.nVariables; ++v) {
        const auto number = static_cast<int16_t>(v);
        const HostVariableDescriptor* d = nullptr;
        bool listed = number == sv.input->interceptVarNumber;
        for (int k : {kHostListBy, kHostListPartial, kHostListWeight, kHostListFreq})
            listed = listed || std::find(store[k].begin(), store[k].end(), number) != store[k].end();
        if (!listed && xvname(data, v, &d) == 0 && d->type == kVarNumeric) out.push_back(number);
    }
    return out;
}

// Defines the variable lists on DATA= and copies the analysis variables into
// the context.
void define_variables(const StepView& sv, HostDataSet* data, const ProcOptionRecord* r) {
    VariableListRecord lists;
    std::vector<int16_t> store[kHostListCount];
    store[kHostListBy] = resolve_list(sv, data, r, kListBy);
    store[kHostListVar] = resolve_list(sv, data, r, kListVar);
    store[kHostListPartial] = resolve_list(sv, data, r, kListPartial);
    store[kHostListWeight] = resolve_list(sv, data, r, kListWeight);
    store[kHostListFreq] = resolve_list(sv, data, r, kListFreq);
    if (store[kHostListWeight].size() > 1 || store[kHostListFreq].size() > 1) {
        xpmlog(kMsgProc, kMsgWeightFreqOne);
        raise_error_level(sv.ctx, kLevelInputError);
    }

    // SSCP input with an Intercept variable: without a list the data
    // variables are analysed, the intercept's sums serving only to centre
    // them; a list that names it asks for moments about zero.
    if (type_is(sv.input->dataType, "SSCP") && sv.input->interceptVarNumber > 0) {
        std::vector<int16_t>& v = store[kHostListVar];
        if (v.empty() && !sv.options->interceptVar) {
            v = variables_beside_intercept(sv, data, store);
            xpmlog(kMsgProc, kMsgInterceptIsList);
        } else if (std::find(v.begin(), v.end(), sv.input->interceptVarNumber) != v.end()) {
            sv.moments->momentOrigin = 1;
            xpmlog(kMsgProc, kMsgInterceptListed);
        }
    }
    bool removed = false;
    for (auto& s : store) removed |= remove_repeats(&s);
    // A partial variable is swept out of the analysis variables, so it
    // cannot be one of them (PARTIAL _NUMERIC_ beside a VAR list): the moment
    // arrays hold each read variable once.
    std::vector<int16_t>& partial = store[kHostListPartial];
    const std::vector<int16_t>& analysis = store[kHostListVar];
    const auto analysed = [&](int16_t v) {
        return std::find(analysis.begin(), analysis.end(), v) != analysis.end();
    };
    const size_t partialGiven = partial.size();
    partial.erase(std::remove_if(partial.begin(), partial.end(), analysed), partial.end());
    removed |= partial.size() != partialGiven;
    if (removed) xpmlog(kMsgProc, kMsgRepeatedVariables);

    for (int k = 0; k < kHostListCount; ++k) {
        lists.entry[k].count = static_cast<int16_t>(store[k].size());
        lists.entry[k].numbers = store[k].empty() ? nullptr : store[k].data();
    }
    if (*sv.errorLevel <= kLevelStepEnds && xvdflst(data, &lists) != 0) {
        xpmlog(kMsgProc, kMsgListsDoNotFit);
        raise_error_level(sv.ctx, kLevelInputError);
    }
    sv.input->hostLists = keep_lists(lists);
    sv.sizes->nByVars = lists.entry[kHostListBy].count;
    sv.moments->nPartial = lists.entry[kHostListPartial].count;
    const VariableList& var = lists.entry[kHostListVar];
    // An Intercept variable of DATA= among the analysis variables is the
    // intercept of the augmented moments: a second one of the same name
    // would duplicate it.
    if (sv.options->interceptVar && sv.input->interceptVarNumber > 0 &&
        std::find(var.numbers, var.numbers + var.count, sv.input->interceptVarNumber) !=
            var.numbers + var.count) {
        sv.options->interceptVar = 0;
        sv.moments->momentOrigin = 1;
        xpmlog(kMsgProc, kMsgInterceptAnalysed);
    }
    sv.sizes->nManifest = sv.sizes->nVar = var.count;
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    sv.input->manifestNames =
        static_cast<NameRecord*>(a->allocate(a, sizeof(NameRecord) * (var.count + 1), 4));
    sv.input->manifestNumbers =
        static_cast<int16_t*>(a->allocate(a, sizeof(int16_t) * (var.count + 1), 4));
    if (!sv.input->manifestNames || !sv.input->manifestNumbers) xexit(kLevelNoMemory, 0);
    int32_t width = 8;
    for (int32_t i = 0; i < var.count; ++i) {
        const HostVariableDescriptor* d = nullptr;
        sv.input->manifestNumbers[i] = var.numbers[i];
        if (xvname(data, var.numbers[i], &d) != 0) internal_error("a listed variable of DATA= has no descriptor");
        NameRecord& n = sv.input->manifestNames[i];
        n = NameRecord();
        n.length = static_cast<int16_t>(std::min<int>(d->nameLength, 32));
        std::memset(n.text, ' ', sizeof n.text);
        std::memcpy(n.text, d->name, n.length);
        // Only a variable that a cell beyond the range of doubles (Inf)
        // made character stands in the list without VAR: the moment
        // reader would take its cells as missing, as raw data's reader
        // would not, and the matrix would lose the variable or be wrong.
        if (!sv.input->rawData && d->type != kVarNumeric) {
            log_not_numeric(data, var.numbers[i], std::string(n.text, static_cast<size_t>(n.length)).c_str());
            raise_error_level(sv.ctx, kLevelInputError);
        }
        width = std::max<int32_t>(width, n.length);
    }
    // The augmented moment matrix: the constant 1 joins the analysis
    // variables after them as the variable "Intercept", which the model may
    // name like any other manifest variable.
    if (sv.options->interceptVar && var.count > 0) {
        NameRecord& n = sv.input->manifestNames[var.count];
        n = NameRecord();
        std::memset(n.text, ' ', sizeof n.text);
        std::memcpy(n.text, "Intercept", 9);
        n.length = 9;
        sv.input->manifestNumbers[var.count] = 0;
        sv.sizes->nManifest = var.count + 1;
        width = std::max<int32_t>(width, n.length);
    }
    sv.input->varNameWidth = width;
    if (var.count == 0 && *sv.errorLevel <= kLevelStepEnds) {
        xpmlog(kMsgProc, kMsgNoVariablesLeft);
        raise_error_level(sv.ctx, kLevelBadVariables);
    }
}

// Parses the statements of the step; the option record of the PROC
// statement.
ProcOptionRecord* parse_statements(const StepView& sv) {
    auto* result = new (v_global_gcb_anchor->stepAllocator->allocate(
        v_global_gcb_anchor->stepAllocator, sizeof(ParseResult), 4)) ParseResult();
    auto* area2 = new (v_global_gcb_anchor->stepAllocator->allocate(
        v_global_gcb_anchor->stepAllocator, sizeof(ParseArea2), 4)) ParseArea2();
    if (cmppars(cosang(), result, area2, 1, sv.cmpWork) != 0) xexit(result->status, 0);
    sv.ctx->stmtList = result->root;
    sv.program->statements = area2;
    sv.program->hasProgram = area2->nProgramStatements != 0;
    if (area2->nProgramStatements > 0)
        xpmlog(kMsgProc, kMsgProgramStatements, area2->nProgramStatements);
    auto* rec = static_cast<ProcOptionRecord*>(sv.ctx->stmtList->payload);
    sv.options->procOptions = rec;
    return rec;
}

// Makes the role slots and binds the data sets of the PROC statement to
// their roles; a step without DATA= ends here, before any data-set service
// is called.
void bind_data_sets(const StepView& sv, const ProcOptionRecord* rec) {
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    for (int k = 0; k < kRoleCount; ++k) {
        void* p = a->allocate(a, sizeof(DataSetSlot), 4);
        if (p == nullptr) xexit(kLevelNoMemory, 0);
        sv.dataSets->dataSetSlot[k] = new (p) DataSetSlot();
    }
    auto bind = [&](int role, int cellIndex) {
        sv.dataSets->dataSetHandle[role] = rec->dataSets[cellIndex].handle;
        sv.dataSets->dataSetSlot[role]->handle = rec->dataSets[cellIndex].handle;
    };
    if (rec->dataSets[kCellData].handle == nullptr) {
        xpmlog(kMsgProc, kMsgNoData);
        raise_error_level(sv.ctx, kLevelInputError);
        xexit(*sv.errorLevel, 0);
    }
    bind(kRoleData, kCellData);
    DataSetInfo info;
    xoinfo(sv.dataSets->dataSetHandle[kRoleData], kInfoDescription, &info);
    std::memcpy(sv.input->dataType, info.type, 8);
    sv.step->bySyncState = 0;

    if (rec->dataSets[kCellInram].handle) {
        bind(kRoleInram, kCellInram);
        sv.input->inramUsed = 1;
        xoinfo(sv.dataSets->dataSetHandle[kRoleInram], kInfoDescription, &info);
        if (std::memcmp(info.type, "RAM", 3) != 0) xpmlog(kMsgProc, kMsgInramNotRam);
    }
    bind(kRoleOutstat, kCellOutstat);
    bind(kRoleOutram, kCellOutram);
    bind(kRoleInwgt, kCellInwgt);
    bind(kRoleOutwgt, kCellOutwgt);
    bind(kRoleOutest, kCellOutest);
    if (rec->dataSets[kCellInest].handle) {
        bind(kRoleInest, kCellInest);
        sv.input->inestUsed = 1;
        xoinfo(sv.dataSets->dataSetHandle[kRoleInest], kInfoDescription, &info);
        if (!type_is(info.type, "EST")) xpmlog(kMsgProc, kMsgInestNotEst);
    }
}

// The kind of input DATA= holds (raw data, moments or a symmetric matrix)
// and its special variables.
void classify_input(const StepView& sv, HostDataSet* data) {
    if (type_is(sv.input->dataType, "RAM")) {
        // Its rows are model elements, not observations.
        xpmlog(kMsgProc, kMsgDataIsRam);
        raise_error_level(sv.ctx, kLevelInputError);
    }
    sv.input->rawData = 1;
    for (const char* t : kMomentDataTypes)
        if (type_is(sv.input->dataType, t)) sv.input->rawData = 0;
    sv.input->symatrixInput = type_is(sv.input->dataType, "SYMATRIX");

    xvfind(data, "_TYPE_", 6, &sv.input->typeVar, 0);
    if (xvfind(data, "Intercept", 9, &sv.input->interceptVarNumber, 0) != 0)
        xvfind(data, "Intercep", 8, &sv.input->interceptVarNumber, 0);
    xvfind(data, "_NAME_", 6, &sv.input->nameVar, 0);

    if (!sv.input->rawData) sv.options->kurtosisWanted = 0;
    if (sv.input->symatrixInput) {
        xpmlog(kMsgProc, kMsgSymmetricInput);
        sv.options->interceptVar = sv.options->uncorrectedCov = sv.options->uncorrectedCorr = 0;
        sv.options->asycovKind = 0;
        sv.moments->momentOrigin = 0;
    }
}

// Whether the method uses a weight matrix, and INWGT= and OUTWGT= against
// it.
void check_weight_data_sets(const StepView& sv, const ProcOptionRecord* rec) {
    const int32_t m = sv.methods->methodRequested;
    sv.methods->useWeightMatrix = m == 3 || m == 5 || m == 7 || m == 8 || m == 9 || m == 10;
    sv.methods->fourthOrder = m == 7 || m == 8 || m == 9 || m == 10;
    if (rec->dataSets[kCellInwgt].handle && !sv.methods->useWeightMatrix) {
        xpmlog(kMsgProc, kMsgInwgtIgnored);
        sv.dataSets->dataSetHandle[kRoleInwgt] = nullptr;
        sv.dataSets->dataSetSlot[kRoleInwgt]->handle = nullptr;
    }
    // Without INWGT= the weights come from the data: a symmetric matrix
    // gives no weights at all, and any moment input lacks the fourth-order
    // moments that WLS and DWLS need.  (GLS on TYPE=COV or CORR data is
    // valid: its weights are the moments themselves.)
    const bool needsFourth = sv.methods->fourthOrder && !sv.input->rawData;
    if (sv.dataSets->dataSetHandle[kRoleInwgt] == nullptr &&
        ((sv.input->symatrixInput && sv.methods->useWeightMatrix) || needsFourth)) {
        xpmlog(kMsgProc, kMsgWeightsNeedInwgt);
        xexit(std::max(*sv.errorLevel, kLevelInputError), 0);
    }
    if (sv.dataSets->dataSetHandle[kRoleInwgt]) {
        sv.input->inwgtUsed = 1;
        DataSetInfo info;
        xoinfo(sv.dataSets->dataSetHandle[kRoleInwgt], kInfoDescription, &info);
        if (std::memcmp(info.type, "WEIGHT", 6) != 0) xpmlog(kMsgProc, kMsgInwgtNotWeight);
    }
    if (sv.dataSets->dataSetHandle[kRoleOutwgt] && !sv.methods->useWeightMatrix) {
        xpmlog(kMsgProc, kMsgOutwgtNotWritten);
        sv.dataSets->dataSetHandle[kRoleOutwgt] = nullptr;
        sv.dataSets->dataSetSlot[kRoleOutwgt]->handle = nullptr;
    }
}

// The utility files of the step.
void open_work_files(const StepView& sv) {
    open_file(&sv.files->workFile2, kFileSequential);
    open_file(&sv.files->workFile3, kFileSequential);
    open_file(&sv.files->scratchFile, kFileDirect);
    open_file(&sv.files->jacColFile, kFileDirect);
    open_file(&sv.files->jacTermFile, kFileSequential);
    open_file(&sv.files->wJacColFile, kFileDirect);
    // The optimizer's matrix file: the covariance hook keeps its matrices there.
    open_file(&sv.hooks->cov.utilityFile, kFileDirect);
    // The constraint files: the statements' rows, the INEST= rows, and the
    // rows OUTEST= writes back, which either kind may fill.
    const StatementNode* stmts = sv.ctx->stmtList;
    const bool constrained = find_statement(stmts, "BOUNDS  ") != nullptr ||
                             find_statement(stmts, "LINCON  ") != nullptr ||
                             find_statement(stmts, "NLINCON ") != nullptr;
    const bool inest = sv.input->inestUsed != 0;
    if (constrained) open_file(&sv.files->conStmtFile, kFileDirect);
    if (inest) open_file(&sv.files->conInestFile, kFileDirect);
    if (constrained || inest) open_file(&sv.files->conFile, kFileDirect);
}

// The first step pool, sized from the variable counts and, for
// weight-using methods, the weights.
void allocate_first_pool(const StepView& sv) {
    const int64_t n = sv.sizes->nManifest;
    const int32_t m = sv.methods->methodRequested;
    const int64_t weights = (m == 7 || m == 9) ? sv.sizes->nWeights : (sv.methods->useWeightMatrix ? sv.sizes->nMoments : 0);
    const int64_t estimate = 8 * (n * n * 6 + sv.sizes->nMoments * 4 + weights) + 20000;
    // A trial pool tells what one allocation may take; a step whose moments
    // alone cannot fit stops here rather than at some later allocation.
    HostAllocator* trial = xmpoolc(1024, 1024, 4096);
    const int64_t available = trial != nullptr ? xmsize(trial) : 0;
    xmpoold(trial);
    if (estimate - 8 * weights > available - 20000) {
        xpmlog(kMsgProc, kMsgNotEnoughMemory, static_cast<double>(estimate - 8 * weights),
               static_cast<double>(available));
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
    sv.pools->runPool[0] = xmpoolc(estimate, 1024, 4096);
    if (sv.pools->runPool[0] == nullptr) {
        xmemmsg(estimate);
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
}

}  // namespace

void cosinit(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    NlpProblem* nlp = sv.nlp;
    ProcOptionRecord* rec = parse_statements(sv);
    cosop11(sv.ctx, nlp);
    bind_data_sets(sv, rec);
    nlp->opt.refreshFBeforeConJac = 1;
    read_options(sv, sv.ctx->stmtList, rec);
    HostDataSet* data = sv.dataSets->dataSetHandle[kRoleData];
    classify_input(sv, data);
    check_weight_data_sets(sv, rec);
    define_variables(sv, data, rec);

    const int64_t n = sv.sizes->nManifest;
    sv.sizes->nMoments = static_cast<int32_t>(n * (n + 1) / 2);
    sv.sizes->nWeights = static_cast<int32_t>(static_cast<int64_t>(sv.sizes->nMoments) * (sv.sizes->nMoments + 1) / 2);
    step_exit_above(sv, kLevelStepEnds);
    open_work_files(sv);
    allocate_first_pool(sv);

    // The model.
    if (sv.input->inramUsed || sv.input->symatrixInput) cosfop1(sv.ctx);
    if (sv.input->inramUsed)
        cosiram(sv.ctx);
    else
        cospari(sv.ctx);
    sv.sizes->nCols = std::max(sv.sizes->nManifest, sv.readers->leadingDim);

    // Variables of INWGT= and INEST=, and of the output data sets.
    if (sv.input->inwgtUsed || sv.input->inestUsed) cosfop2(sv.ctx);
    if (sv.dataSets->dataSetHandle[kRoleOutstat] || sv.dataSets->dataSetHandle[kRoleOutram] ||
        sv.dataSets->dataSetHandle[kRoleOutwgt] || sv.dataSets->dataSetHandle[kRoleOutest])
        cosfop3(sv.ctx);

    // DATA= must be readable and keep variables in use.
    if (xvsele(data) != 0) xexit(kLevelBadVariables, 0);
    int32_t readable = 0;
    xoinfo(data, kInfoReadable, &readable);
    if (readable != 1) xexit(kLevelBadVariables, 0);
    if (sv.sizes->nManifest == 0) {
        raise_error_level(sv.ctx, kLevelBadVariables);
        xpmlog(kMsgProc, kMsgNoVariablesLeft);
    }
    step_exit_above(sv, kLevelStepEnds);
}
