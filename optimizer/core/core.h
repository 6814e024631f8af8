// The optimizer core's routines that its other units call: the technique
// dispatch, the floating-point exception handler, the history printer and
// the quasi-Newton updates behind the update slots.  The routines an owner
// of a problem calls (the driver, the termination test, the update slots)
// are declared in optimizer/optimizer.h, which this header includes.
// Every routine takes the NlpProblem first (velix/nlp.h); the core knows
// nothing of the owner, the techniques or the reporting unit beyond the
// declarations it makes itself (here and in optimizer/core/pending.h).
#pragma once

#include <cstdint>

#include "optimizer/optimizer.h"
#include "velix/host.h"
#include "velix/nlp.h"

// ---- technique dispatch ----
// The technique routine the driver runs for a TechniqueCode (and, for the
// codes that have two forms, the problem's nonlinear constraints or variant).
// A slot of a technique that is not built reports it and returns
// kNlpNotUsable.  in: p, the problem the choice depends on.
NlpTechniqueFn znlp_technique_for(const NlpProblem* p);

// The dispatch slot of a technique routine by its dispatch name ("znlptre",
// "znlpdq2", ...), so that a technique unit, a sub-problem or a test can put
// its routine in; null for an unknown name.  The table is filled where the
// techniques are built (optimizer/techniques/dispatch.cpp).
NlpTechniqueFn* znlp_dispatch_slot(const char* routineName);

// The floating-point exception handler exported for the host, znlpmer, is
// declared with the host interface (velix/host.h).

// ---- the Hessian of a quadratic objective kept on a file ----
// Loads hessian from the record at byte 0 of shape.hessianFile: an int32
// count c, c int32 positions into the Hessian array of opt.hessianStorage
// (PackedSym positions; parameter indices for the diagonal storage; value
// positions of the SparseLLt for the sparse one), then the c values.  The
// other entries become 0.  A failed read is reported and ends the step
// (1020); a position outside the array is an internal error.
void znlphlo(NlpProblem* p);

// ---- check and history of the termination test ----
// The status of a run that ends because an evaluation failed at its
// current point, from the kind of that evaluation (NlpLastEval): values
// (kLastObjective: the objective or the constraints) leave the point
// without them, kNlpFinalFunction; a derivative (kLastGradient: the
// gradient or a Jacobian; kLastHessian: the Hessian or a cross product)
// failed where the values were computed, kNlpFinalDerivative.  The user
// learns whether the model or only its derivatives broke down there.
int32_t znlp_failure_status(int32_t evaluation);
// The check of a met criterion (status) that does not trust the
// technique's own matrices (stationarity.cpp); `met` holds bit k of every
// criterion k met at this test (0: the status's alone).  A met criterion
// whose threshold the user gave looser than the check stands as it is (the
// highest such status is returned); else the claim stands when the probe
// finds the point stationary, at x or at the lower point its steps reached
// (x, f and the gradient then that point's).  Else kNlpRestart, with x
// moved to a lower point or unmoved; or kNlpTechniqueStop7 when the run has
// refused too many claims (gconvMeasure then holds the decrement).  A run
// with claimsUnchecked set keeps every claim.
int32_t znlp_verify_claim(NlpProblem* p, int32_t status, uint32_t met = 0);
// Whether the gradient at the end of a run is large: the scaled gradient
// |g_j| / sqrt(|f| H_jj) of a free parameter with H from the Hessian slot
// at x above 1e-3 (the absolute projected gradient above 1e-3 where there
// is no such H or general constraints are active).  The technique's
// matrix, the gradient and the counters are kept.
bool znlp_final_gradient_large(NlpProblem* p);
// The run ended on a criterion (status) whose threshold the user gave
// looser than the check: the check has not measured the point.
bool znlp_claim_looser(const NlpProblem* p, int32_t status);
// After the final evaluation of a run that a technique's own stop or a
// looser criterion ended: 1 when the point is stationary by the same
// measure, 0 when it is not, -1 without a verdict.
int32_t znlp_end_verdict(NlpProblem* p);
// Prints the iteration history (start tables at iteration 0 with code 10,
// then one row per call); first and last select the layout.
void prihist(NlpProblem* p, int32_t code, int32_t first, int32_t last);
// Largest relative difference of x and y with |x|, |y| floored by `floor`.
double reldx(int32_t n, double floor, const double* x, const double* y);
// Euclidean distance of x and y (0 for n < 1).
double xdif(int32_t n, const double* x, const double* y);

// ---- quasi-Newton updates (updates.cpp) ----
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
