// QUANEW: quasi-Newton minimisation with a line search.  The primal form
// (znlpqun) keeps an approximation H of the inverse Hessian and takes
// d = -H g; the dual form (znlpdqn) keeps the Cholesky factor L of an
// approximation B = L L' of the Hessian and solves L L' d = -g.  Either is
// changed after each step by the BFGS or the DFP update of the problem's
// update slot (Broyden, Fletcher, Goldfarb and Shanno, 1970; Davidon,
// Fletcher and Powell, 1963; the factored forms of Gill and Murray, 1972;
// Dennis and Schnabel, 1983, sec. 9.2).  The start matrix is INHESSIAN
// times the identity, or with startFromHessian the Hessian at x, or
// automatically a multiple of the identity from the gradient scaled by the
// squared typical sizes of the parameters (Dennis and Schnabel, sec. 7.1);
// the first update rescales it.
// The matrix starts again every RESTART iterations and, with bounds (where
// it lives on the free set), whenever the free set changes.
//
// Reads: x, f, gradient (start phase), update, inHessian,
// startFromHessian, restart, lineSearch and its options.
// Leaves: x, f, gradient, xBase, gradBase, fPrev, direction, lastStep,
// maxProjGrad, gconvMeasure (g'H g, the predicted reduction times two),
// iteration and the counters.  Statuses: those of the termination test,
// kNlpTechniqueStop7 after a failed line search along steepest descent,
// kNlpFinalFunction when the objective (or a constraint) failed at the
// point the run is at, kNlpFinalDerivative when the gradient (or the
// constraint Jacobian) did, kNlpNotUsable without work space.
#include "optimizer/core/core.h"
#include "optimizer/techniques/quasi_newton.h"
#include "optimizer/techniques/support.h"
#include "optimizer/techniques/techniques.h"

using namespace velix::detail;

int32_t znlpqun(NlpProblem* p) { return quasi_newton_run(p, QuasiNewtonForm::kInverse); }

int32_t znlpdqn(NlpProblem* p) { return quasi_newton_run(p, QuasiNewtonForm::kFactor); }
