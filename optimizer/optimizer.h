// The optimizer library's interface for the owner of a problem: run the
// optimizer, complete its options, the routines the owner installs in the
// problem's slots and hook block, the finite-difference derivatives it may
// take in place of analytic ones, and the two constraint services it uses
// before and after a run.  With velix/nlp.h this is all that code outside
// optimizer/ includes; the library knows nothing of its owner.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// ---- running the optimizer ----
// Runs the optimizer on a filled problem.  mode 2 runs the technique; any
// other value (callers pass 1) is the start phase: feasible start point,
// start evaluations, derivative checks and start print.  printSwitches
// (used without a hook block): bit 0 start print, the rest the second
// switch.  derivCheck (start phase): 1 gradient, 2 least-squares Jacobian;
// conCheck nonzero checks the constraint Jacobian.  Result: NlpStatus, also
// stored in lastStatus.
int32_t znlpdrv(NlpProblem* p, int32_t mode, int32_t printSwitches, int32_t derivCheck,
                int32_t conCheck);

// Completes the options of p for its technique: termination thresholds,
// limits, tolerances, step controls and the line-search precision; the
// dense active-set form whenever there are general constraints.
void znlp_default_options(NlpProblem* p);

// ---- the reduced space of a run's final active set ----
// The order of the null space of the active linear rows among the free
// parameters (free parameters less active rows), and out (PackedSym of that
// order) = Z' H Z of the Hessian h over the free parameters, by storage (2
// diagonal, 1 sparse, else PackedSym).  The owner asks whether the Hessian
// is positive definite where the rows leave the parameters free.
int32_t nlp_reduced_order(const NlpProblem* p);
void znlpred(NlpProblem* p, int32_t storage, const double* h, double* out);

// ---- routines for the problem's slots and hook block ----
// The termination test (installed in terminationFn).  code: 10 before the
// first iteration, > 0 after one, 0 a test that must not end the run, < 0 the
// technique's own stop.  Result: NlpStatus.
int32_t znlptrm(NlpProblem* p, int32_t code);
// The run's final point is a solution: a convergence criterion was met,
// every parameter is fixed, or the technique stopped because no step could
// reduce f any more at a point whose GCONV measure is within the default
// GCONV bound (the minimum to the precision of f, where a tighter GCONV
// asked for is out of reach).  A limit of iterations or calls, of 0 too,
// ends short of one (TECHNIQUE=NONE asks for the results at the given
// point: its status 0 counts).  A solution meets its bounds, linear rows
// and nonlinear constraints within the feasibility tolerance LCEPS, not
// only under a raised one.  Only a solution has a covariance of the estimates;
// any other end of a run is reported as not converged.
bool nlp_solution_reached(const NlpProblem* p, int32_t status);
// The final point violates a nonlinear constraint by more than 0.001, the
// size the result table marks as violated: it is no solution, whatever the
// status.
bool nlp_final_point_violated(const NlpProblem* p);
// The line search of a LINESEARCH code (1..8; others 2).
NlpCallback znlp_line_search(int32_t code);
// The update slots (NlpUpdateFn): znlpdfp for UpdateCode 2, znlpbfg for
// the others.  Storage 1: packed inverse approximation H; 2: LDL' factor of
// the Hessian approximation B in packed storage (unit lower triangle, D on
// the diagonal positions); else a Cholesky factor, the PackedSym lower
// triangle L = R' with B = R'R.  Result 0 updated (or nothing to update), 1
// s and y nearly orthogonal, 2 negligible curvature, 3 s'y or the curvature
// not positive, -1 or -2 a factor that lost positive definiteness; a
// nonzero result leaves the matrix as it was (a scaling already applied
// stays).
int32_t znlpdfp(NlpProblem* p, int32_t storage, int32_t scale, int32_t n, double* s, double* y,
                double* matrix, double* work1, double* work2, double* work3);
int32_t znlpbfg(NlpProblem* p, int32_t storage, int32_t scale, int32_t n, double* s, double* y,
                double* matrix, double* work1, double* work2, double* work3);
// The covariance hook (installed in NlpHookBlock::post.covarianceHook): flag 1
// after a usable run, 0 after a successful start phase.  Evaluates and
// stores the requested Jacobian, cross-product matrices and Hessian at x
// and, with flag 1 and a COV type, forms the covariance of the estimates.
void znlpcma(NlpProblem* p, int32_t flag);
// Installed in NlpHookBlock::post.matrixPrintHook: phase 0 after a successful
// start, 1 after a usable run, -1 after a failed start.  Prints the stored
// matrices as switched on and hands them to NlpHookBlock::post.outestHook.
void znlppma(NlpProblem* p, int32_t phase);

// ---- finite-difference derivatives (results as the evaluation slots) ----
// Every routine works at x, calls only the problem's evaluation slots and
// leaves x, f, the function values and evalPhase as it found them.  Result
// 0 success, negative failure.
int32_t znlpfig(NlpProblem* p);  // gradient, forward
int32_t znlpfg2(NlpProblem* p);  // gradient, central
int32_t znlpfcj(NlpProblem* p);  // constraint Jacobian, forward
int32_t znlpfcc(NlpProblem* p);  // constraint Jacobian, central
int32_t znlpfih(NlpProblem* p);  // Hessian from values (three-point) and the gradient
int32_t znlpfh2(NlpProblem* p);  // Hessian from values (five-point) and the gradient
int32_t znlpfh3(NlpProblem* p);  // Hessian from gradients, forward, symmetrised
int32_t znlpfh4(NlpProblem* p);  // Hessian from gradients, central, symmetrised

// ---- constraint services ----
// Removes repeated rows and dependent equality rows from the caller's
// storage (form 1 dense test, else the Gram-Schmidt test; compressed
// nonzero: rows in columnIndex, rowEnd, values), fixes parameters whose
// bounds coincide.  0; -1 a lower bound above its upper bound; -2 a
// removed equality row disagrees with the kept ones (infeasible).
int32_t znlpldc(NlpProblem* p, int32_t form, int32_t compressed, int32_t* columnIndex, int32_t* rowEnd,
                double* values);
// The projected gradient into out (toGiven) or reducedGradient, and its
// largest absolute entry into maxProjGrad.
void znlpgmx(NlpProblem* p, int32_t toGiven, double* out);
// The Lagrange function f - sum of multiplier x constraint residual over
// the active bounds and rows, its value into lagrangeValue and, with
// withGradient, its gradient into lagrangeGradient (and the largest entry
// into lagrangeGradMax), whatever the kinds of the constraints: the run
// keeps them current only under nonlinear constraints.
void nlp_lagrange_function(NlpProblem* p, int32_t withGradient);
