// Programming statements and dependent parameters: the passes that connect
// the compiled program to the parameter table.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// Mode 0 binds the special variables and counts the dependent and the
// referenced independent parameters; mode 1 drops unused added parameters,
// moves the dependent parameters behind all others and binds the
// parameters' symbols to the optimizer's x; mode 2 requests the analytic
// derivatives and checks and generates the program.
//   table: in-out, the scratch name table of the parameter-table builder
//   (model parameters, then added ones; nParmAll entries; mode 1 keeps it
//   in step when it drops added parameters).
// Ends the step through xexit on the failures of its table.
void cospar5(ProcContext* ctx, int32_t mode, NameRecord* table);
