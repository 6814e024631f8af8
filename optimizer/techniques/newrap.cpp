// NEWRAP: Newton-Raphson with a line search.  The Hessian is evaluated at
// every iteration; where it is not positive definite the modified Cholesky
// factorization (Schnabel and Eskow, 1990) finds the diagonal shift that
// makes it so, the largest shift is added to the whole diagonal (Dennis
// and Schnabel, 1983, algorithm A5.5.1), and the line search runs along
// the Newton direction of the shifted matrix (sec. 6.3).
//
// Reads: x, f, gradient, the Hessian slot (central differences of the
// gradient without one), lineSearch and its options.  Leaves: x, f,
// gradient, hessian, xBase, gradBase, fPrev, direction, lastStep, ridge
// (the largest shift), maxProjGrad, gconvMeasure (g'H^-1 g), iteration and
// the counters.  Statuses: those of the termination test,
// kNlpTechniqueStop7 after a failed line search, kNlpFinalFunction when
// the objective failed at the point the run is at, kNlpFinalDerivative
// when its gradient or Hessian did, kNlpNotUsable without work space.
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpnra(NlpProblem* p) { return velix::detail::newton_run(p, velix::detail::NewtonFactor::kModifiedCholesky); }
