// The model-building routines of the procedure driver: the model
// dispatcher and its table, element patterns, the LINEQS reader, the
// parameter table, added parameters, STRUCTEQ, variable selection and the
// optimizer problem set-up.  Every routine takes the step's context first
// and ends the step through xexit on the fatal conditions it documents.
#pragma once

#include <cstdint>

#include "procedure/proc_options.h"
#include "velix/codes.h"
#include "velix/proc_context.h"
#include "velix/statements.h"

// Chooses the model kind from the statements, sizes and allocates the model
// tables and calls the reader of that kind.
void cospari(ProcContext* ctx);
// Reads the model stored in the first BY group of INRAM= and builds it as
// the dispatcher builds a model from its statements.
void cosiram(ProcContext* ctx);
// Prints the "ModelStatement" table (when printing is enabled).
void cosmcon(ProcContext* ctx);

// The printers that echo the input model once it is read: in matrix form,
// as a RAM list, or as equations (`mode` 0: the model as the user wrote it).  They
// belong to the results printers, which register them here; a printer not
// registered prints nothing.
struct InputModelEcho {
    void (*matrixForm)(ProcContext* ctx, int32_t mode) = nullptr;  // cospout
    void (*ramList)(ProcContext* ctx, int32_t mode) = nullptr;     // cospram
    void (*equations)(ProcContext* ctx, int32_t mode) = nullptr;   // cospeqs
};
InputModelEcho& input_model_echo();

// Writes the element pattern of matrix k (in: names[npos], values[npos],
// row by row) as PatternRecords to the scratch file, counts the elements and
// narrows the matrix type to the written shape.  `text80` receives the text
// of the type-change message.  Returns the last type-change text number or 0.
int32_t patwrt(char* text80, ProcContext* ctx, int32_t k, const NameRecord* names,
               const double* values);

// Reads a LINEQS model (with its STD and COV statements).
void cospare(ProcContext* ctx);

// Builds the parameter table from the scratch file's element records and
// the `nAdded` added-parameter records behind them.
void cospar1(ProcContext* ctx, int32_t nAdded);
// Creates the run-long model pool (runPool[2]) from the byte `estimate` and
// carves the ElementPattern of `nElements` entries from it, zeroed.
void create_element_pattern(ProcContext* ctx, int64_t estimate, int64_t nElements);

// PARAMETERS and STRUCTEQ: appends the added-parameter records (buffers of
// `capacity` entries each, scratch space of the caller) and counts the
// STRUCTEQ names.
void cospar3(ProcContext* ctx, NameRecord* nameBuffer, double* valueBuffer, int32_t capacity);
// Copies the STRUCTEQ names into the model.
void cosparb(ProcContext* ctx);
// Removes the manifest variables an equation model does not use.
void cospar4(ProcContext* ctx);

// Optimizer problem set-up: mode 1 before the element pass, mode 2 after the
// parameter table is complete.  Returns 1 after mode 1, 4096 after mode 2.
int32_t cospopt(int32_t mode, ProcContext* ctx, NlpProblem* nlp);
// PROFILE statements: mode 0 counts, mode 1 fills.
int32_t parclpl(ProcContext* ctx, int32_t mode);

// The names of matrix types and forms as the model tables show them.
const char* matrix_type_name(int32_t type);
const char* matrix_form_name(int32_t form);

