// The fit's own numbers that the results read (see fit_state.h).
#include "procedure/results/fit_state.h"

#include <cfloat>

#include "procedure/evaluation/discrepancy_functions.h"

double results_model_chisq(const ResultsView& rv) {
    if (rv.results->fitStatsValid && !host_is_missing(rv.results->fitStats.chisq))
        return rv.results->fitStats.chisq;
    return sample_multiplier(rv.moments, rv.options) * rv.eval->discrepancy;
}

double results_kappa(const ResultsView& rv) {
    const double nn = sample_multiplier(rv.moments, rv.options);
    return nn > DBL_MIN ? 2.0 / nn : 0.0;
}

int32_t results_final_evaluation(const ResultsView& rv) {
    constexpr double kFinalPhase = -1.0;  // the optimizer's phase of a final evaluation
    NlpProblem* nlp = rv.nlp;
    const double phase = nlp->run.evalPhase;
    nlp->run.evalPhase = kFinalPhase;
    const int32_t rc = cosfunc(nlp);
    nlp->run.evalPhase = phase;
    return rc;
}
