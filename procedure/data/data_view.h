// The view of the step's context that the data-set routines use: the
// options, the input and the model they read; the moments, their arrays,
// the data-set bindings and cells they own and fill.  It is bound from the
// ProcContext in one place (data_view), so that the data-set routines name
// no ProcContext field; a test builds only the parts a routine reads.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

struct DataView {
    // Read.
    const ModelSizes* sizes = nullptr;
    const InputState* input = nullptr;
    const ModelReaderState* readers = nullptr;
    const ModelMatrixTable* model = nullptr;
    const ElementPattern* elements = nullptr;
    const EstimationState* est = nullptr;
    const ResultsState* results = nullptr;
    const StatementNode* stmtList = nullptr;
    // Owned and filled by the moment step and the data-set variable set-up.
    MomentState* moments = nullptr;
    MomentArrays* arrays = nullptr;
    MethodChoice* methods = nullptr;
    DataSetRoles* dataSets = nullptr;
    DataSetCells* cells = nullptr;
    StepPools* pools = nullptr;
    UtilityFiles* files = nullptr;
    // Written: the program variables that INEST= supplies, the output
    // handles of the tables being built, the optimizer's point (OUTEST=),
    // the "_NOBS_" cell of the optimizer set-up; the moment step clears
    // KURTOSIS for moment input and draws the random start values from
    // the SEED= option's stream.
    StatementOptions* options = nullptr;
    OptimizerSetup* optSetup = nullptr;
    ProgramState* program = nullptr;
    OutputHandles* output = nullptr;
    NlpProblem* nlp = nullptr;
    CmpWork* cmpWork = nullptr;
    int32_t* errorLevel = nullptr;
    // For the calls into other families only.
    ProcContext* ctx = nullptr;
};

// Binds the view of the context (every pointer refers into ctx).
DataView data_view(ProcContext* ctx);
