// The optimizer core's routines that its other units, the techniques and the
// owner of a problem call: the driver, the termination test with its history
// printer, the quasi-Newton update slots and updates, and the line searches.
// Every routine takes the NlpProblem first (velix/nlp.h).  The library is
// reached only through these declarations and the problem's callback slots;
// it knows nothing of its owner.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// ---- driver ----
// Runs the optimizer on a filled problem.  mode 2 runs the technique; any
// other value (callers pass 1) is the start phase: feasible start point,
// start evaluations, derivative checks and start print.  printSwitches
// (used without a hook block): bit 0 start print, the rest the second
// switch.  derivCheck (start phase): 1 gradient, 2 least-squares Jacobian;
// conCheck nonzero checks the constraint Jacobian.  Result: NlpStatus, also
// stored in lastStatus.
int32_t znlpdrv(NlpProblem* p, int32_t mode, int32_t printSwitches, int32_t derivCheck,
                int32_t conCheck);

// The technique routine the driver runs for a TechniqueCode (and, for the
// codes that have two forms, the problem's nonlinear constraints or variant).
// A slot of a technique that is not built reports it and returns
// kNlpNotUsable.  in: p, the problem the choice depends on.
NlpTechniqueFn znlp_technique_for(const NlpProblem* p);

// The dispatch slot of a technique routine by its dispatch name ("znlptre",
// "znlpdq2", ...), so that a technique unit, a sub-problem or a test can put
// its routine in; null for an unknown name.
NlpTechniqueFn* znlp_dispatch_slot(const char* routineName);

// The host's floating-point exception record: its kind is the fifth word.
struct HostMathException {
    int32_t words[4] = {};
    int32_t kind = 0;
};
// The floating-point exception handler exported for the host: logs the kind
// and answers -1 (stop) or 0 (underflow: go on).
int32_t znlpmer(const HostMathException* e);

// ---- termination test and history ----
// The termination test (installed in terminationFn).  code: 10 before the
// first iteration, > 0 after one, 0 a test that must not end the run, < 0 the
// technique's own stop.  Result: NlpStatus.
int32_t znlptrm(NlpProblem* p, int32_t code);
// The run's final point is a solution: a convergence criterion was met,
// every parameter is fixed, no iteration was allowed (the results at the
// given point are asked for), or the technique stopped because no step could
// reduce f any more at a point whose GCONV measure is within the default
// GCONV bound (the minimum to the precision of f, where a tighter GCONV
// asked for is out of reach).  Only a solution has a covariance of the
// estimates; any other end of a run is reported as not converged.
bool nlp_solution_reached(const NlpProblem* p, int32_t status);
// The final point violates a nonlinear constraint by more than 0.001, the
// size the result table marks as violated: it is no solution, whatever the
// status.
bool nlp_final_point_violated(const NlpProblem* p);
// The check of a met criterion (status) against the Newton decrement of
// the Hessian slot's matrix, for techniques that measure with a matrix of
// their own: the status itself when the claim stands or no verdict can be
// had, kNlpRestart to restart the technique at x, or kNlpTechniqueStop7
// when restarts did not help (gconvMeasure then holds the decrement).
int32_t znlp_verify_claim(NlpProblem* p, int32_t status);
// Prints the iteration history (start tables at iteration 0 with code 10,
// then one row per call); first and last select the layout.
void prihist(NlpProblem* p, int32_t code, int32_t first, int32_t last);
// Largest relative difference of x and y with |x|, |y| floored by `floor`.
double reldx(int32_t n, double floor, const double* x, const double* y);
// Euclidean distance of x and y (0 for n < 1).
double xdif(int32_t n, const double* x, const double* y);

// ---- quasi-Newton updates (updates.cpp) ----
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

// The update routines behind the slots; k the order, w (and v) k doubles.
int32_t dfpupd(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* h,
               double* w);
int32_t bfgsupd(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* h,
                double* w);
// v: k doubles of work; s is overwritten by dudfpup.
int32_t dudfpup(NlpProblem* p, int32_t scale, int32_t k, double* s, const double* y, double* ldl,
                double* w, double* v);
int32_t dubfgsup(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y,
                 double* ldl, double* w);
// The Cholesky forms: the rank-one change R + a b' that the update asks
// for, in a (k) and b (k).
int32_t uvdfp(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* l,
              double* a, double* b);
int32_t uvbfgs(NlpProblem* p, int32_t scale, int32_t k, const double* s, const double* y, double* l,
               double* a, double* b);
// R := the triangular factor of R + a b' (Givens rotations; a is
// overwritten; work k*k doubles).  0, or -1 when a diagonal element
// vanished.
int32_t llupdat(int32_t k, double* l, double* a, const double* b, double* work);
// LDL' := LDL' + alpha z z' (z overwritten).  Returns k, or the first column
// whose pivot would not stay positive (it is then held at a small positive
// value and the change goes on).
int32_t ldlupd(int32_t k, double alpha, double* ldl, double* z);
