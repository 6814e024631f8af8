// The view of the step's context that the step driver, the option reader
// and the model readers use.  They own most of the context: the options,
// the input, the counts, the methods, the reader results, the model and
// its elements, the programming statements and the optimizer set-up; they
// read the moments and write the data-set cells, the pools, the files and
// the output handles.  It is bound from the ProcContext in one place
// (step_view), so that the driver's routines name no part of it.  The
// parse root stays the context's own (ctx->stmtList): the option reader
// sets it and the INRAM= reader reorders it while views are bound.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

struct StepView {
    // Owned: filled by the option reader and the model readers.
    StatementOptions* options = nullptr;
    InputState* input = nullptr;
    ModelSizes* sizes = nullptr;
    MethodChoice* methods = nullptr;
    ModelReaderState* readers = nullptr;
    ModelMatrixTable* model = nullptr;
    ElementPattern* elements = nullptr;
    ProgramState* program = nullptr;
    OptimizerSetup* optSetup = nullptr;
    StepState* step = nullptr;
    // Shared: the start values read the moments (and set the model's
    // degrees of freedom); the readers of INRAM= and INEST= and the saved
    // optimizer state move values through the data-set cells.
    MomentState* moments = nullptr;
    const MomentArrays* arrays = nullptr;
    DataSetRoles* dataSets = nullptr;
    DataSetCells* cells = nullptr;
    StepPools* pools = nullptr;
    UtilityFiles* files = nullptr;
    OutputHandles* output = nullptr;
    // Links.
    NlpProblem* nlp = nullptr;
    NlpHookBlock* hooks = nullptr;
    CmpWork* cmpWork = nullptr;
    int32_t* errorLevel = nullptr;
    // For the calls into other families only.
    ProcContext* ctx = nullptr;
};

// Binds the view of the context (every pointer refers into ctx).
StepView step_view(ProcContext* ctx);
