// The sequential quadratic programming iteration shared by QUANEW with
// general constraints (znlpdq2, and znlpqun and znlpdqn given linear rows)
// and VMCWD (znlpvmc, with the watchdog), and the ridged Newton iteration
// over the same programs.
// Internal to the technique units.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

namespace velix::detail {

int32_t sqp_run(NlpProblem* p, bool watchdog);

// Newton with a ridge under bounds and linear rows (NRRIDG, TRUREG and
// LEVMAR given linear rows): each step is the program's with G = H + ridge
// I over the rows and bounds, the ridge raised until f falls by a share of
// the predicted reduction, dropped after a good prediction and lowered
// after a fair one; the points stay feasible.  Reads the Hessian slot (or
// its cross product); leaves ridge, lambda (the ridge), radius (the step's
// length), rho, gconvMeasure, lmGconvMeasure and scaledGradMax (the
// predicted reduction) and the fields of sqp_run.
int32_t ridged_newton_run(NlpProblem* p);

// The techniques that take linear rows through ridged_newton_run: linear
// rows and no nonlinear constraints.
inline bool linear_rows_only(const NlpProblem* p) { return p->shape.hasLinCon != 0 && p->shape.hasNlinCon == 0; }

}  // namespace velix::detail
