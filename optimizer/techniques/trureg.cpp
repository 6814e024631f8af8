// TRUREG: trust-region Newton.  At every iteration the Hessian is
// evaluated and the step minimises the quadratic model within the radius
// (the More-Sorensen step: Cholesky factors of H + lambda I and Newton's
// iteration on lambda; More and Sorensen, SIAM J. Sci. Stat. Comput. 4,
// 1983).  The ratio of actual to predicted reduction accepts the step and
// sets the next radius (Dennis and Schnabel, 1983, sec. 6.4).
//
// Reads: x, f, gradient, the Hessian slot, inStep (the first radius).
// Leaves: x, f, gradient, hessian, xBase, gradBase, fPrev, direction (the
// step), lastStep, radius, lambda, rho, maxProjGrad, gconvMeasure
// (g'(H + lambda I)^-1 g), iteration and the counters.  Statuses: those of
// the termination test, kNlpTechniqueStop6 when the radius collapsed
// without a decrease, kNlpFinalFunction when the objective failed at the
// point the run is at, kNlpFinalDerivative when its gradient or Hessian
// did (a step to a point without them is taken back; the run ends so only
// where it cannot be), kNlpNotUsable without work space.
#include "optimizer/techniques/hessian_model.h"
#include "optimizer/techniques/techniques.h"

int32_t znlptre(NlpProblem* p) {
    velix::detail::HessianModel model;
    return velix::detail::trust_region_run(p, &model);
}
