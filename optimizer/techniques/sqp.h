// The sequential quadratic programming iteration shared by QUANEW with
// nonlinear constraints (znlpdq2, and znlpqun and znlpdqn given them) and
// VMCWD (znlpvmc, with the watchdog).
// Internal to the technique units.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

namespace velix::detail {

int32_t sqp_run(NlpProblem* p, bool watchdog);

}  // namespace velix::detail
