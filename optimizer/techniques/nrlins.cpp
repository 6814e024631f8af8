// NRLINS: Newton with a ridge and a line search, projected onto the null
// space of the active constraints (the projected Newton method: Gill,
// Murray and Wright, Practical Optimization, 1981, sec. 5.2 and 5.5.2).
// Bounds and linear rows are kept on the optimizer core's active set: each
// iteration takes the Newton direction d = Z s of the reduced system
// (Z'HZ + mu I) s = -Z'g, mu raised from 0 until the matrix factors, and a
// line search within the inactive constraints; a constraint the step
// reaches joins the set, and one whose multiplier's sign holds the point
// against descent leaves it.  A parameter fixed by equal bounds stays held.
//
// Reads: x (feasible), f, gradient, the Hessian slot, bounds, linear rows,
// lineSearch and its options.  Leaves: x, f, gradient, hessian, xBase,
// gradBase, fPrev, direction, lastStep, ridge, rho (actual over predicted
// reduction), the active set with its multipliers, maxProjGrad (the
// reduced gradient), gconvMeasure and scaledGradMax (g'Z (Z'HZ)^-1 Z'g at
// the new point), iteration and the counters.  Statuses: those of the
// termination test, kNlpTechniqueStop7 after a failed line search,
// kNlpFinalFunction when the objective failed at the point the run is at,
// kNlpFinalDerivative when its gradient or Hessian did, kNlpNotUsable
// without work space, for the sparse active-set form or with nonlinear
// constraints.
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpnrl(NlpProblem* p) { return velix::detail::newton_run(p, velix::detail::NewtonFactor::kRidge); }
