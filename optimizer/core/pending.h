// Routines of other optimizer units that the core calls: the start and
// result printer, the matrix table writer and the confidence limits of the
// reporting unit, the ratio test, the post-convergence steps and the
// Jacobian store of the techniques.  Each is declared here with the
// contract the core relies on and defined by its own unit, so that the core
// includes neither optimizer/techniques/ nor optimizer/reporting/.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// Result of a routine that is not built yet (never a status of a built one).
constexpr int32_t kNlpRoutinePending = -1000;
// Message of group kMsgNlp naming a technique code that is not built yet.
constexpr int32_t kMsgTechniquePending = 901;

// ---- the least-squares Jacobian store of the techniques ----
// Appends Jacobian column j (m doubles) to the store on jacobianFile (j = 0
// rewinds it).  0, or nonzero on failure.
int32_t znlpjwt(NlpProblem* p, int32_t zero, int32_t j, int32_t one, const double* column);
// Row j of the cross product from the stored columns, into the packed row
// starting at `row`.  0, or nonzero on failure.
int32_t znlpjdt(NlpProblem* p, int32_t j, const double* base, const double* column, double* row);
// out = J u (m doubles) from the store.
int32_t znlpjve(NlpProblem* p, const double* u, double* out);
// The whole Jacobian from the store into jac (m x n, by rows).  0, or
// nonzero when there is no store.
int32_t znlpjrd(NlpProblem* p, double* jac /* out: m x n */);

// ---- reporting ----
// Start tables (level -1..-3, -10 after a failed start) or result tables
// (1..3); functionSwitch nonzero adds the function values.  Nothing when
// printLevel is 0.
void znlppre(NlpProblem* p, int32_t level, int32_t functionSwitch);
// Publishes a matrix table "Orvo.NLP.<name>" in one call.  shape k >= 1: k
// rows of count values; -1 dense count x count; 0 PackedSym of order count;
// -2 the parameters then the gradient (rows "Parms", "Grad"); -3 the
// parameters alone; below -3 nothing.  labels: count NameRecords, or null
// for "X1", "X2", ...  labelMessage (0 none) and titleMessage are numbers
// of group kMsgNlp.  Result 0, or the negative status of the failed call.
int32_t znlppmt(HostObject* manager, const char* name, int32_t shape, int32_t count,
                const double* values, const NameRecord* labels, int32_t labelMessage,
                int32_t titleMessage);
// Wald and profile-likelihood confidence limits after a successful run
// (built in optimizer/reporting).  0 done, 1 nothing to compute, -1 or -2
// failure; the problem is the same on return as on entry.
int32_t znlppli(NlpProblem* p);

// ---- the ratio test of the techniques ----
// The largest feasible step factor from `base` along `direction` for the
// bounds and general linear rows, into stepBound (at most 1 with no
// blocking constraint in mode 0); the blocking constraint's number into
// *blocking (bounds 0 .. 2n-1, 2n + k rows; -1 none).  0, or -1 when no
// positive step is possible.
int32_t znlpstl(NlpProblem* p, int32_t mode, int32_t flag, const double* base, const double* direction,
                int32_t* blocking);

// ---- post-convergence steps of the techniques ----
// The perturbation test after convergence (flag 0 at the start test, else
// 1): nonzero when it found and kept a feasible decrease of the objective.
int32_t znlpnoi(NlpProblem* p, int32_t flag);
// The step along a direction of negative curvature: 0 when it stepped, -1
// when it cannot proceed.
int32_t znlpdnc(NlpProblem* p, int32_t flag);

// The results of the probe of a convergence claim (znlpstn).
enum NlpProbeResult : int32_t {
    kProbeNoMeasure = -1,     // no matrix to measure with (no slot, sparse storage)
    kProbeStationary = 0,     // x is stationary
    kProbePolished = 1,       // x moved to a lower point that is stationary
    kProbeNotStationary = 2,  // x is not stationary (no step was asked for)
    kProbeLower = 4,          // x moved to a lower point that is not yet stationary
    kProbeRefuted = 5,        // x is not stationary and no lower point was found, or
                              // its matrix could not be evaluated there
    kProbeNoDerivatives = 6,  // the values or derivatives at x itself could not be
                              // evaluated (p->run.lastEval says which)
};

// The stationarity of x measured with an owner's information matrix (or
// the Hessian slot's matrix), not with the technique's own: the Newton
// decrement g'W^+g of the Lagrange function over the parameters not held
// at a bound (by the sign of their gradient, not by the technique's
// choice) and on the null space of the active linear and nonlinear
// constraints (W: the matrix less the multipliers times the curvature of
// the active nonlinear constraints; eigenvalues by their size, raised to a
// small share of the largest) into *decrement; where the matrix is
// singular, the exact Hessian from differences of the gradient decides and
// looks for negative curvature, and where its slot fails it stands in.  A
// measure whose evaluations fail confirms nothing (kProbeRefuted, or
// kProbeNoDerivatives at x itself).  x is stationary when the decrement is
// within `relative` times max(|f|, FSIZE), or the Newton step moves no
// parameter beyond sqrt(machine epsilon) of its size or its unit
// (NlpParams::unit), with the nonlinear constraints met within the
// feasibility tolerance and, where the matrix is singular, the units of
// the data not refuting it (f changes at first order when a parameter
// moves by its own size or by its unit, or a parameter lies beyond a
// hundred units).  With `descend` nonzero a point that is not stationary is
// left downhill by a few Newton steps of the Lagrange function (onto the
// linearised constraints, the nonlinear ones restored by second-order
// corrections, kept on a decrease of f plus the weighted violations; the
// exact Hessian's steps once the information matrix converges slowly) or
// along the negative curvature, within the bounds and the linear rows;
// and a stationary point (x, or the lower point reached) held by an active
// constraint (a linear row, a nonlinear constraint or a bound) is taken on
// by such steps while each lowers the merit and leaves at most a tenth of
// the decrement, to the rounding of x (kProbePolished when x moved).
// Unless the result is kProbePolished or kProbeLower, x, f, the gradient
// and the constraint values and Jacobian are as on entry.  The Hessian
// slot's array is overwritten.
int32_t znlpstn(NlpProblem* p, double relative, int32_t descend, double* decrement);

// The technique slot of a technique that is not built: reports it and
// returns kNlpNotUsable.
int32_t znlp_technique_pending(NlpProblem* p);
