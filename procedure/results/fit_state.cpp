// The fit's own numbers that the results read (see fit_state.h).
#include "procedure/results/fit_state.h"

#include <cfloat>

double results_sample_multiplier(const ProcContext* ctx) {
    // UCOV and UCORR take the moments about zero with the origin option
    // unchanged.
    const bool aboutZero =
        ctx->moments.momentOrigin != 0 || ctx->options.uncorrectedCov || ctx->options.uncorrectedCorr;
    return aboutZero ? ctx->moments.nObs : ctx->moments.nObs - 1.0;
}

double results_model_chisq(const ProcContext* ctx) {
    if (ctx->results.fitStatsValid && !host_is_missing(ctx->results.fitStats.chisq))
        return ctx->results.fitStats.chisq;
    return results_sample_multiplier(ctx) * ctx->eval.discrepancy;
}

double results_kappa(const ProcContext* ctx) {
    const double nn = results_sample_multiplier(ctx);
    return nn > DBL_MIN ? 2.0 / nn : 0.0;
}
