// The technique routines of the optimizer driver's dispatch table and the
// routines around them.  Each technique takes the NlpProblem alone, starts
// from the point, values and free set that the start phase left, evaluates
// through the problem's slots with evalPhase 4, calls the termination test
// with code 10 before its first iteration and with a positive code after
// each one, goes on while it answers 0 or 100 (100: restart from the moved
// point), and returns the NlpStatus it ends with.
//
// Statuses a technique adds to those of the termination test:
//   kNlpTechniqueStop6  the technique cannot make progress from this point
//                       (no descent direction, the trust region collapsed)
//   kNlpTechniqueStop7  the line search failed along a descent direction
//   kNlpNotUsable       its work space could not be had from the host pool
//                       (the memory message is logged); estimation control
//                       repeats the run with a less demanding technique.
//                       Also, with message 902, a technique given
//                       nonlinear constraints that it does not take (all
//                       but QUANEW, VMCWD and NMSIMP), or linear rows in
//                       the sparse active-set form, which the techniques
//                       of the dense active set do not take
//   kNlpFinalFunction   the objective (or a constraint) failed at the
//                       point the run is at (Frame::failure)
//   kNlpFinalDerivative a derivative (gradient, Hessian, cross product,
//                       Jacobian) failed at a point whose objective was
//                       computed
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// Message of group kMsgNlp: the technique (its code the argument) keeps
// bounds only and refuses general linear or nonlinear constraints.
constexpr int32_t kMsgTechniqueNoConstraints = 902;

// ---- the techniques: bounds and linear rows (all: on the core's active
// set, NMSIMP and NMSIM2 in the constrained simplex, QUADAS in its own
// forms), nonlinear constraints (QUANEW, VMCWD, NMSIMP) ----
int32_t znlptre(NlpProblem* p);  // TRUREG: trust region, More-Sorensen step
int32_t znlpnra(NlpProblem* p);  // NEWRAP: Newton with modified Cholesky and line search
int32_t znlpnrr(NlpProblem* p);  // NRRIDG: Newton with a ridge raised until f decreases
int32_t znlpnrl(NlpProblem* p);  // NRLINS: projected ridged Newton with line search
int32_t znlpgan(NlpProblem* p);  // GAUNEW: Gauss-Newton with line search
int32_t znlplma(NlpProblem* p);  // LEVMAR: Levenberg-Marquardt with More's lambda
int32_t znlpddl(NlpProblem* p);  // DBLDOG: double dogleg, dual quasi-Newton factor
int32_t znlpqun(NlpProblem* p);  // QUANEW primal: BFGS or DFP inverse update
int32_t znlpdqn(NlpProblem* p);  // QUANEW dual: BFGS or DFP on the Cholesky factor
int32_t znlphqn(NlpProblem* p);  // HYQUAN: hybrid Gauss-Newton / quasi-Newton
int32_t znlpcog(NlpProblem* p);  // CONGRA: nonlinear conjugate gradient
int32_t znlpnms(NlpProblem* p);  // NMSIMP: Nelder-Mead with bounds by projection
int32_t znlpnm2(NlpProblem* p);  // NMSIM2: Nelder-Mead with a restart check
int32_t znlpqas(NlpProblem* p);  // QUADAS: primal active-set quadratic programming, dense rows
int32_t znlpqar(NlpProblem* p);  // QUADAS first form: the same on the sparse active set

// ---- the techniques for nonlinear constraints (with bounds and linear
// rows: dense or compressed for the SQP, dense for the simplex) ----
int32_t znlpdq2(NlpProblem* p);  // QUANEW dual: SQP, damped BFGS, L1 merit line search
int32_t znlpvmc(NlpProblem* p);  // VMCWD: the same SQP with the watchdog
int32_t znlpcob(NlpProblem* p);  // NMSIMP: constrained simplex, linear models in a trust region

// ---- around the techniques ----
// Declared with the core's other routines in optimizer/core/pending.h and
// built here: the ratio test along a direction (znlpstl, support.cpp), the
// post-convergence steps (znlpnoi, znlpdnc, post_convergence.cpp) and the
// least-squares Jacobian store (znlpjwt, znlpjdt, znlpjve, znlpjrd,
// jacobian_store.cpp).

// Rebuilds freeList from boundState: free parameters first in index
// order, then those held at a bound; with reset set and resetFn installed
// it calls that slot.  0.
int32_t znlpinc(NlpProblem* p, int32_t reset);
