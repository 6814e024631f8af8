// The printers that echo the input model once it is read: in matrix form,
// as a RAM list, or as equations (`mode` 0: the model as the user wrote
// it).  The model readers call them; they belong to the results printers,
// which register them here, so that the readers need not know the results.
// A printer not registered prints nothing.
#pragma once

#include <cstdint>

struct ProcContext;

struct InputModelEcho {
    void (*matrixForm)(ProcContext* ctx, int32_t mode) = nullptr;  // cospout
    void (*ramList)(ProcContext* ctx, int32_t mode) = nullptr;     // cospram
    void (*equations)(ProcContext* ctx, int32_t mode) = nullptr;   // cospeqs
};
InputModelEcho& input_model_echo();
