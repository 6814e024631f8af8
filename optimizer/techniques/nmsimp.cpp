// NMSIMP: the Nelder-Mead simplex method, bounds kept by projection (the
// iteration is in simplex.cpp).  Uses objective values alone.
//
// Reads: x, f, the objective slot, maxFunc, absXConv and fConv2.  Leaves:
// x and f (the best vertex), xBase and fPrev (the previous best), lastStep
// and maxProjGrad (the simplex diameter), gconvMeasure (the value spread),
// iteration and the counters.  Statuses: those of the termination test,
// kNlpLimit when the function calls ran out inside an iteration,
// kNlpNotUsable without work space.
#include "optimizer/techniques/simplex.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpnms(NlpProblem* p) { return velix::detail::simplex_run(p, false); }
