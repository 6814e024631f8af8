// The constraint machinery of the optimizer core: the active set of bounds
// and general rows with its factors (dense form in memory), the choice of
// constraints to release by the signs of their multipliers, feasible start
// points, the projected least-squares step, the cleaning of repeated and
// dependent linear rows, and the search for a point that satisfies the
// nonlinear constraints.
//
// The active-set state lives in the problem block (velix/nlp.h): n =
// nParams, nf = n - nActiveBounds free parameters first in freeList, nl =
// nActiveLin independent active rows first in activeList (nDepLin dependent
// ones behind them), nZ = nf - nl.  nullBasis Q (row stride n, row i for
// freeList[i]): columns 0 .. nZ-1 span the null space of the active rows,
// the last nl their range.  activeFactor T: segment j (j+1 entries at
// j(j+1)/2) belongs to activeList[j]; its first entry is the row's
// component along column nf-1-j of Q, the others along the columns to the
// right of it.
//
// Carried matrix of the techniques (the "mode" of the operations): 0 a
// PackedSym reduced Hessian Z'HZ of order *order; 1 its Cholesky factor R
// (R(i, j), i <= j, at j(j+1)/2 + i, R'R = Z'HZ); 2 as 1, with the factor's
// rows following pivotOrder.  Each operation keeps it consistent with the
// new null space.  A null matrix or vector is not carried.
//
// Single constraints: status 0 a general row (index = row number), 1 lower
// bound, -1 upper bound, 2 fixed (index = parameter).
#pragma once

#include <cstdint>

#include "optimizer/optimizer.h"
#include "velix/nlp.h"

// ---- feasibility check and rebuild ----
// 0 when no bound or row (withNonlinear: nor nonlinear constraint) is
// violated beyond feasTol * 10^round, else -1.  setActive also builds
// boundState, activeList, the counts and maxConViolation.
int32_t znlpfch(NlpProblem* p, int32_t setActive, int32_t withNonlinear, int32_t round);
// Rebuilds the factorisation from the states and the active list; rebuild
// nonzero lets wrong-signed constraints go (znlpdac); multMode 1 computes
// the multipliers of the gradient, 2 second-order ones first.  0.
int32_t znlpfta(NlpProblem* p, int32_t rebuild, int32_t multMode, int32_t mode, int32_t* order,
                double* vector, double* matrix, const double* hessian);

// ---- single changes (dense form) ----
// Enters what is active at x (feasTol * 10^feasRound).  0, or with
// countViolations minus the number of violated bounds and rows.
int32_t znlpact(NlpProblem* p, int32_t mode, int32_t countViolations, int32_t* order, double* vector,
                double* matrix);
// Enters one constraint (testOnly: only the dependence test).  0 entered,
// 1 dependent (held apart unless testOnly).
int32_t znlpupd(NlpProblem* p, int32_t testOnly, int32_t mode, int32_t skipDepTest, int32_t status,
                int32_t index, int32_t* order, double* vector, double* matrix);
// Removes one constraint; the carried vector (reduced gradient, nZ+1
// entries of room) gains the new null direction's gradient component and
// the carried matrix a row and column.  0 done; 1 not active, or no
// Hessian to extend the factor with; 2 the new pivot was not positive.
int32_t znlpdod(NlpProblem* p, int32_t mode, int32_t status, int32_t index, int32_t* order,
                double* reducedGradient, double* matrix, const double* hessian);
// Moves column k of the packed triangular factor R of order m to the end
// and restores the triangle by rotations; work holds m doubles.
void bcupd(int32_t k, int32_t m, double* r, double* work);

// ---- the sparse form (conFactorForm 2) ----
// Columns of the active rows in the metric of the caller's Hessian factor
// (by hessianStorage: PackedSym lower L over the free list, its diagonal,
// or a SparseLLt over the free parameters that hessianPerm maps to their
// free-list positions and the form keeps mapped; null: the identity), in nullBasis
// (column j at j n) or as records on conFactorFile; the row factor holds
// the Gram-Schmidt coefficients with the norm left last.  sparseWork holds
// U = L^-1 g, V (U along the columns) and W (the step).  d is the fraction
// of W taken before the change (U += d W, W *= 1 - d).
// Rebuilds the columns from the states and the active list; dropFlag lets
// wrong-signed constraints go, multFlag computes the multipliers.  0.
int32_t znlpftr(NlpProblem* p, int32_t dropFlag, int32_t multFlag, double* factor);
// The sparse form's work vectors fit in sparseWork (4n doubles, or the
// owner did not state its size).
bool znlp_sparse_work_fits(const NlpProblem* p);
// Enters a bound or row.  0 entered; 1 dependent (held apart unless
// testOnly) or no freedom left.
int32_t znlpupr(NlpProblem* p, int32_t testOnly, int32_t status, int32_t index, double d, double* factor);
// Removes a bound (index = parameter) or row (index = active position).
// 0; -1 when the factor cannot take a released parameter (unusable).
int32_t znlpdor(NlpProblem* p, int32_t status, int32_t index, double d, double* factor);
// Enters what is active at x.  1 when anything entered.
int32_t znlpacr(NlpProblem* p, double d, double* factor);
// Drops the most wrong-signed constraint, repeatedly while dependent ones
// enter.  1 dropped, 0 nothing, -1 a removal failed.
int32_t znlpdar(NlpProblem* p, double d, double* factor);
// Offers the dependent bounds and rows again.  1 when any entered.
int32_t znlpldr(NlpProblem* p, double* factor);
// G, the held parameters' share of the gradient under a sparse Hessian
// (fourth vector of sparseWork): parameter i joins the held ones (release
// 0, after its hessianPerm entry turned negative) or leaves them (1).
void gmupd(NlpProblem* p, int32_t release, int32_t i);

// ---- dropping by multiplier sign ----
// The multiplier threshold (LCDEACT, or automatic).
double gtres(const NlpProblem* p);
// Every parameter fixed by the active bounds and rows (their counts add up
// to n) ends a run only at a solution: true when the point meets the
// nonlinear constraints within t (maxConViolation) and the multipliers of
// g = A'lambda over the active bounds and rows have the signs of a minimum
// (no inequality's below -gtres); false also where the active rows are
// dependent (they fix fewer than n directions).  Rows that cannot be read
// leave the count to decide (true).
bool znlp_all_fixed_holds(NlpProblem* p, double t);
// Drop candidates (non-fixed bounds, inequality rows) with multipliers
// below -threshold, sorted most negative first into workList (bounds as
// the parameter, rows as n + row), their multipliers into multipliers.
int32_t sortlm(NlpProblem* p, int32_t useSecondOrder, double threshold);
// Releases wrong-signed constraints (see dropCode).  0 nothing dropped, 1
// or 2 dropped (dropCode > 0 or < 0), index + 1 with bounds only; negative
// after a factor failure.
int32_t znlpdac(NlpProblem* p, int32_t mode, int32_t useSecondOrder, int32_t* order, double* matrix,
                const double* hessian);
// Offers the dependent bounds and rows again.  1 when any entered.
int32_t znlpcld(NlpProblem* p, int32_t mode, int32_t* order, double* vector, double* matrix);
// Drops, in one sweep, the bounds and rows of the first count codes of
// workList (p the lower bound of parameter p, n + p its upper bound, 2n +
// row a row; codes not active are passed over), offers the dependent ones
// again and re-enters blockers as the multiple drop of znlpdac does
// (dropCode kSeveralDropped or minus the number dropped).  mode, order,
// matrix and hessian as for znlpdac; reducedGradient (may be null, else n
// doubles) receives Z'g of the final null space.  1 when a removal
// reported a factor failure, else 0.
int32_t znlpcsr(NlpProblem* p, int32_t mode, int32_t count, int32_t* order, double* reducedGradient, double* matrix,
                const double* hessian);
// Shell's sort of idx (count entries) by key, ascending, the keys along;
// an exchange only when the earlier key is strictly greater.
void isort2(int32_t count, int32_t* idx, double* key);

// ---- least-squares step on the active manifold ----
// Minimises 1/2 x'Hx + g'x (H null: sigma/2 x'x + g'x) with the active rows
// held as equalities and held parameters on their bounds; x receives the
// point, multipliers (noMultipliers 0) those of the model gradient there.
// W: PackedSym work of order nZ.  0; -1 no H and a missing or negligible
// sigma; -2 the reduced system cannot be solved; -3 the active rows cannot
// be solved for their right-hand sides.
int32_t znlplcq(NlpProblem* p, int32_t noMultipliers, int32_t factorCurrent, double sigma, const double* g,
                const double* h, double* w);
// The reduced Newton system (rhs and result in direction[0 .. nZ-1]).  0
// full rank, 1 rank-deficient (trailing components 0), -1 failed.
int32_t lsolv(NlpProblem* p, int32_t gGiven, const double* h, double* w);

// ---- feasible start points ----
// Moves x to a point that meets the bounds and linear rows (dense form):
// 0 feasible as given, 1 after fixing coinciding bounds, 2 moved, 3 at a
// widened tolerance; -1 no work memory, -2 none found (x restored).
int32_t znlpfea(NlpProblem* p, int32_t mode);
// The same in the sparse form, with the sequential method alone: results
// as znlpfea, and -3 still infeasible after one more widening.
int32_t znlpfer(NlpProblem* p);
// Drives constraint j (bound or row number) to feasibility in the sparse
// form.  0 met, -2 nothing left to release, -3 too many releases.
int32_t znlplir(NlpProblem* p, int32_t j);
// Moves x towards the region of all constraints by least squares on the
// violations: 0 feasible, 3 improved, negative failed (x restored).
int32_t znlpfnc(NlpProblem* p, int32_t mode);

// ---- repeated and dependent linear rows ----
