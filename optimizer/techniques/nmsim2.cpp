// NMSIM2: the Nelder-Mead simplex method with a check after convergence:
// from the best vertex each axis is probed a step of 0.001 (relative
// beyond 1) either way; a decrease starts a new simplex there, at most ten
// times (the iteration is in simplex.cpp).
//
// Reads and leaves the fields NMSIMP does (see nmsimp.cpp) and counts the
// probe restarts in nRestarts.  Statuses: as NMSIMP.
#include "optimizer/techniques/simplex.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpnm2(NlpProblem* p) { return velix::detail::simplex_run(p, true); }
