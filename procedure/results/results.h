// The results of an estimation run: the routines the estimation calls
// after a usable solution (the fit summary) and before the optimization
// (the parameter vectors), and the equation printer the model readers call
// to echo the input model.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// The fit summary of the stage that ran last: the final evaluation, the
// independence model, every fit statistic into ctx->results.fitStats, and
// the group "FitSummary" with "PredModel", "PredModelDet" and the factoid
// "Fit".  Returns 0, or the negative status of a failed output call (the
// group closed).  A failed final evaluation gives message 363 and error
// level 108, and nothing else.
int32_t cosresi(ProcContext* ctx);

// F0 of the independence model diag(d) for the method of the stage into
// ctx->results.nullFitValue (missing for an ML null model with a variance
// not above the smallest normal double).
void fnulmod(ProcContext* ctx);

// Error level of a stage whose solution cannot be evaluated for its fit
// summary.
constexpr int32_t kLevelNoFinalEvaluation = 108;
