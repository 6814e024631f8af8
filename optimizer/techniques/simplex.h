// The Nelder-Mead simplex iteration shared by NMSIMP and NMSIM2.
// Internal to the technique units.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

namespace velix::detail {

// Runs the simplex from x (a new simplex around it) until the termination
// test ends the run; the status.  probe: after a met criterion, probe each
// axis from the best vertex and start again on a decrease (NMSIM2).
int32_t simplex_run(NlpProblem* p, bool probe);

}  // namespace velix::detail
