// The procedure's top-level routines that the step driver calls, one
// declaration each.  Every routine takes the step's context first.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// Statements, options, data-set roles and the model; ends the step through
// xexit when the step cannot go on.
void cosinit(ProcContext* ctx);

// Optimizer state between BY groups: mode 0 saves it after the set-up,
// mode 1 restores it at the start of a later group.
void cosxinp(ProcContext* ctx, int32_t mode);

// Moments, weights and start values of the current BY group; 0 on success.
int32_t coscorr(ProcContext* ctx);

// Start values after the moments: cosiset sets the covariances of the
// exogenous manifest variables of a LINEQS or RAM model to their sample
// values and corrects modelDf; cosinst makes every parameter's start value
// consistent across its elements, clamps it to its bounds, fills the
// missing ones and runs the programming statements once.
void cosiset(ProcContext* ctx);
void cosinst(ProcContext* ctx);

// Reads the rows of the current BY group of INEST= (in-out: nlp, the
// element values): the last "PARMS" row gives the start values (and the
// statement variables' values), "UPPERBD" and "LOWERBD" the bounds, and
// rows of _TYPE_ "EQ", "GE" and "LE" linear constraints a x (=, >=, <=)
// _RHS_ beside those of the LINCON statements.  A missing value leaves
// the start value or bound as it was.  Nothing without INEST=.
void cosop22(ProcContext* ctx, NlpProblem* nlp);

// Start-value estimators: factor-analytic for a FACTOR model, instrumental
// variables and least squares for an equation-type model; they fill the
// missing element values and the optimizer's parameter vector.
void cosinfa(ProcContext* ctx);
void cosines(ProcContext* ctx);

// The estimation of the BY group; 0 when the last stage gave a usable
// solution.
int32_t cosmini(ProcContext* ctx);

// Lagrange multiplier indices for fixed elements, for released equality
// constraints, and for active bounds with the stepwise Wald tests.
void cosmod1(ProcContext* ctx);
void cosmod2(ProcContext* ctx);
void cosmod3(ProcContext* ctx);

// Writes the OUTRAM= data set of the BY group; `first` is 1 in the first
// group.
void cosoram(ProcContext* ctx, int32_t first);

// Two-column table of labels and values (see procedure/data/cosput.cpp).
void cosput(ProcContext* ctx, HostText* tableName, int32_t titleNumber, HostText* valueColumn,
            int32_t n, const double* values, const int32_t* labelNumbers, HostText* templatePath);
