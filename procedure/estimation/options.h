// The optimizer options of the procedure: presets and the NLOPTIONS
// statement, their completion and checks, the constraints, and the
// per-parameter and PROFILE arrays of the optimizer.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// Presets the option fields of `nlp` (in-out) and reads the NLOPTIONS
// statements of ctx->stmtList into it.
void cosop11(ProcContext* ctx, NlpProblem* nlp);
// Completes and checks the options and installs the termination, update
// and line-search slots; returns an error level (0 when fine).
int32_t cosop12(ProcContext* ctx, NlpProblem* nlp);
// The technique of a problem whose statements name none: NRLINS with
// general linear constraints, else LEVMAR.
int32_t default_technique(const NlpProblem* nlp);
// Counts and assembles the bounds, linear and nonlinear constraints.
void cosop21(ProcContext* ctx, NlpProblem* nlp, HostFile* constraintFile);
// Allocates the per-parameter arrays for `nParmAll` parameters (names, x,
// bounds, scaling, parameter row), filled with missing values, into
// *arrays (out, reset at entry) and points the NlpProblem's parameter
// fields at them.  Raises the error level on failure (arrays stay empty).
void cosop31(ProcContext* ctx, NlpProblem* nlp, ParameterArrays* arrays, int32_t nParmAll);
// Allocates the PROFILE arrays (index list and level list, sized by the
// counts of parclpl mode 0); *block (out) receives them.
void cosop32(ProcContext* ctx, NlpProblem* nlp, void** block);
// Completes the ProfileSettings after the PROFILE statements are read: the
// confidence percentages v become levels alpha = 1 - v/100, the quantile
// factor is 1 (targetScaleKind 2: chi-square targets on the deviance
// scale), tables when printing is on, OUTEST= rows with OUTEST=.
void cosop_profile(ProcContext* ctx);
// The deviance factor of the BY group in hand: N' (N - 1, or N for
// moments about zero) unless PROFILE FFACTOR= gave one; the limits run
// after the last stage only (`last`).
void cosop_profile_stage(ProcContext* ctx, bool last);
