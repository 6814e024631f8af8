// The fit's own numbers that the results read (see fit_state.h).
#include "procedure/results/fit_state.h"

#include <cfloat>

double results_model_chisq(const ResultsView& rv) {
    if (rv.results->fitStatsValid && !host_is_missing(rv.results->fitStats.chisq))
        return rv.results->fitStats.chisq;
    return sample_multiplier(rv.moments, rv.options) * rv.eval->discrepancy;
}

double results_kappa(const ResultsView& rv) {
    const double nn = sample_multiplier(rv.moments, rv.options);
    return nn > DBL_MIN ? 2.0 / nn : 0.0;
}
