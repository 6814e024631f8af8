// A stand-in technique for the tests and the benchmark of the optimizer
// core, until the techniques are built: quasi-Newton on a packed inverse
// approximation (identity start) through the problem's update slot when it
// is set, else steepest descent; the problem's line search when it is set,
// else halving until the Armijo test holds.  It drives the termination test
// as the techniques do.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

namespace velix::test {

int32_t stand_in_technique(NlpProblem* p);

}  // namespace velix::test
