// The view of the step's context that the results read: the sizes, the
// options, the input and model-reader results, the model, the moments and
// the method, the evaluation at the solution and the estimation run; and
// what they write: the fit statistics, the residual store, the output
// groups, the data-set rows and the error level.  It is bound from the
// ProcContext in one place (results_view), so that the results routines
// name no ProcContext field; a test builds only the parts a routine reads.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

struct ResultsView {
    // Read.
    const ModelSizes* sizes = nullptr;
    const StatementOptions* options = nullptr;
    const InputState* input = nullptr;
    const ModelReaderState* readers = nullptr;
    const MomentArrays* arrays = nullptr;
    const MethodChoice* methods = nullptr;
    const EstimationState* est = nullptr;
    // Read and written: the element values move to the solution and back,
    // the final evaluation refills the evaluation arrays, the modification
    // indices clear the constant marks of the matrices for their walk and
    // the residual store marks its variance block in the moments.
    ModelMatrixTable* model = nullptr;
    MomentState* moments = nullptr;
    ElementPattern* elements = nullptr;
    EvaluationState* eval = nullptr;
    NlpProblem* nlp = nullptr;
    // Written.
    ResultsState* results = nullptr;
    ResidualStore* residualStore = nullptr;
    OutputHandles* output = nullptr;
    DataSetRoles* dataSets = nullptr;
    DataSetCells* cells = nullptr;
    int32_t* errorLevel = nullptr;
    // For the calls into other families only (the objective, the data-set
    // writers, the statement printers).
    ProcContext* ctx = nullptr;
};

// Binds the view of the context (every pointer refers into ctx).
ResultsView results_view(ProcContext* ctx);
