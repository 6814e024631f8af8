// The defaults of the optimizer's options: the one place where an option
// left missing (or out of its range) gets its value, as the field comments
// of NlpProblem state them.  The owner's option set-up calls it after it
// has stored the options given.
#pragma once

#include "velix/nlp.h"

// Completes the options of p for its technique: termination thresholds,
// limits, tolerances, step controls and the line-search precision; the
// dense active-set form whenever there are general constraints.
void znlp_default_options(NlpProblem* p);
