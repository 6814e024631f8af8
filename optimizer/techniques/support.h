// The frame every technique routine runs in: its work space from a host
// pool (the memory rule), evaluations through the problem's slots, the
// free set of a problem with bounds (parameters held at a bound whose
// gradient points outward are taken out of the step), the projected
// gradient, the line-search protocol, the calls of the termination test,
// and the small dense kernels on packed matrices of the free space.
// Internal to the technique units.
#pragma once

#include <cstdint>
#include <utility>

#include "velix/host.h"
#include "velix/nlp.h"

namespace velix::detail {

class Frame {
public:
    explicit Frame(NlpProblem* p);
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // The work space: one host pool for `doubles` doubles (plus the free
    // index list).  False, with the memory message logged, when the pool or
    // a block cannot be had: the technique then returns kNlpNotUsable.
    bool reserve(int64_t doubles);
    // `count` zeroed doubles from the reserved space.
    double* take(int64_t count);

    // ---- evaluations at x (phase 4); false when the value is unusable ----
    bool objective();
    bool gradient();
    // The Hessian (or its cross-product approximation) into p->hess.hessian,
    // packed; from differences of the gradient when no slot is installed.
    bool hessian();
    // The status a run ends with after the last of these evaluations (or
    // another one that marked its kind in `evaluated`) failed:
    // kNlpFinalFunction for the objective, kNlpFinalDerivative for a
    // derivative at a point whose objective was computed.
    int32_t failure() const;

    // ---- the free set ----
    // Holds the parameters at a bound whose gradient points out of the box
    // and frees the others; fills idx (k entries), boundState and
    // nActiveBounds.  True when the set changed.
    bool hold_bounds();
    // Also holds the free parameters at a bound along which d points out
    // of the box (a Newton or quasi-Newton direction may, where the
    // gradient does not): the technique then takes its direction again on
    // the smaller free set.  True when the free set changed.
    bool hold_outward(const double* d);
    // hold_bounds from the active set of x built anew (a caller between
    // the iterations of a technique with its own factor).
    void take_active_set();
    // Largest projected gradient element into maxProjGrad.
    void projected_gradient();
    // Gather v over the free set into out (k), scatter back with zeros.
    // Under active general rows the free set is the null space of the
    // active constraints that the core keeps (nullBasis): gather is Z'v,
    // scatter Z s.
    void gather(const double* v, double* out) const;
    void scatter(const double* in, double* v) const;
    // The core applies its basis Q (active rows, or a technique that keeps
    // one): otherwise the null space of the row form is the free list.
    bool applies_basis() const;
    // Z'(now - base): the step or gradient change of an update.
    void gather_change(const double* now, const double* base, double* out) const;
    // The packed submatrix of h over the free set into out.
    void gather_packed(const double* h, double* out) const;
    // The same for the Hessian slot's matrix in p->hess.hessian, packed or in
    // the diagonal storage (2) of hessianStorage (of lsqHessStorage for a
    // least-squares problem with a hook block); full: all n parameters.
    void gather_hessian(double* out, bool full = false) const;
    // Largest step factor along d within the bounds (DBL_MAX without).
    double step_bound(const double* d);

    // ---- iteration protocol ----
    // The start test (code 10) after the projected gradient; the status.
    int32_t start();
    // Counts the iteration and calls the termination test with code 1.
    int32_t next();
    // next() in two halves, for a technique that measures the new point
    // after its free set is known: count the iteration and hold the bounds,
    // then the termination test.
    void advance();
    int32_t test();
    // The technique's own stop (negative code) through the termination test.
    int32_t stop(int32_t code);
    // After a restart (status 100): values again at the moved point.
    // False when they fail.
    bool restart();
    // The RESTART option: the matrix of a technique starts again every
    // `restart` iterations (a missing, non-positive or largest value: never).
    bool restart_due() const;
    // xBase, gradBase and fPrev := the current point and values.
    void set_base();
    // The line search along p->work.direction from the current point (protocol
    // of the core) within the bounds' ratio test, or within `bound` when it
    // is not negative; on success the gradient is current.  0, or 1 when
    // the search failed (x, f back at the base), -1 when the gradient
    // failed.
    int32_t line_search(double bound = -1.0);

    NlpProblem* p;
    int32_t n;
    bool rows = false;         // linear rows: the free set is the core's null space
    int32_t k = 0;             // size of the free set
    int32_t* idx = nullptr;    // the free parameters (k), then the held ones
    bool bounded = false;      // the problem has bounds
    bool changed = true;       // the free set changed at the last start, restart or iteration
    double phase = kPhaseRun;  // the evaluation phase of the frame's evaluations
    // The kind (NlpLastEval) of the evaluation last asked for, which
    // failure() reads.  Not p->run.lastEval: a gradient from differences
    // leaves that at the objective's, though what failed is the gradient.
    int32_t evaluated = kLastObjective;

private:
    // After a failed search: the step onto the constraint that bounds it,
    // when that lowers f (x, f and lastStep then set).
    bool onto_bound();
    // hold_bounds under linear rows: the core enters what x reached and
    // releases the constraint whose multiplier is most wrong-signed once
    // the reduced gradient is smaller than it.
    bool settle_rows();
    bool hold_outward_rows(const double* d);
    // The row form's active set and factor built anew at x.
    void rebuild_rows();

    // The core's active-set arrays lent for the run where the caller has
    // none (field, what we put there).
    int64_t active_set_doubles() const;
    void lend_active_set();
    std::pair<double**, double*> lentDoubles_[6] = {};
    std::pair<int32_t**, int32_t*> lentInts_[3] = {};
    bool lentRow_ = false;

    HostAllocator* pool_ = nullptr;
    int32_t* lentFree_ = nullptr;   // our lists lent to a problem that had none
    int32_t* lentState_ = nullptr;
    double* tmp_ = nullptr;    // n doubles of scratch for the row form
    double* next_ = nullptr;   // the unused part of the work space
    double* end_ = nullptr;
};

// The squared typical sizes of the free parameters, max(|x_i|, 0.1)^2,
// into out (k): the diagonal that scales a quasi-Newton start matrix and
// preconditions the conjugate gradients, so that a variance of 60 and a
// loading of 0.4 move on their own scales (Dennis and Schnabel, 1983, sec.
// 7.1).  Without it the curvature of models with such parameters spans
// several orders of magnitude.
void typical_scale(const Frame& fr, double* out);

// The techniques of the frame keep bounds and linear rows through the
// core's dense active set; they refuse nonlinear constraints, and linear
// rows where that active set is not at hand (the sparse form, or a caller
// without its arrays): true after the message.
bool refuses_general_constraints(const NlpProblem* p);
// The frame can keep the problem's linear rows on the core's active set.
bool takes_linear_rows(const NlpProblem* p);
// The linear rows are stored with the problem: dense (nLinCon x n), or
// compressed (linRowsSparse: the nonzeros of row k at linRowEnd[k-1] ..
// linRowEnd[k]-1, 0 for k = 0, their columns in linColIndex).
bool stored_rows(const NlpProblem* p);
// Row k (n doubles) from that storage into out.
void stored_row(const NlpProblem* p, int32_t k, double* out);
// The linear rows can be read: through the row slot, or from the storage.
bool reads_linear_rows(const NlpProblem* p);
// Row k into out: through the row slot when the problem has one, else
// from the storage.
void linear_row(NlpProblem* p, int32_t k, double* out);

// Column j (m doubles) of the least-squares Jacobian store into out.
void read_column(NlpProblem* p, int32_t j, double* out);

// ---- vectors ----
double dot(int32_t n, const double* a, const double* b);
double norm2(int32_t n, const double* a);
double max_abs(int32_t n, const double* a);
void copy(int32_t n, const double* from, double* to);
// y := y + a x
void axpy(int32_t n, double a, const double* x, double* y);
// y := H x with H packed symmetric.
void sym_mul(int32_t n, const double* h, const double* x, double* y);
// Packed identity of order n times `scale`.
void set_identity(int32_t n, double scale, double* h);

// Solves A x = b in place by Gaussian elimination with partial pivoting (A,
// m x m row-major, is destroyed); false when a pivot is not above 1e-13
// times A's largest element.
bool lu_solve(int32_t m, double* a, double* b);

// ---- the GCONV measure at a new point ----
// Counts the iteration (Frame::advance), measures g'H^-1 g over the free
// set with the Hessian slot's matrix at the current point, unshifted, into
// gconvMeasure and scaledGradMax, and runs the termination test (its
// status; kNlpFinalDerivative when the slot failed).  The matrix is left in
// hF for the next iteration's step, l receives its factor, tmp takes k
// doubles.  The slot may read the measure of the last test: it finds
// `stale` there, the measure of the step's own (shifted, previous) factor,
// as it did when it was called at the top of the next iteration.  Without
// a positive definite H the measure is HUGE_VAL (the model has no minimum
// to measure the distance to).
int32_t fresh_measure_test(Frame* fr, double stale, double* hF, double* l, double* tmp);

// ---- Cholesky on packed matrices ----
// L L' = A + shift I into l (packed); false when a pivot is not above
// `tol` times the largest diagonal of A, and A + shift I with a diagonal of
// positive values spread wider than 1/tol fails the same test scaled to a
// unit diagonal (unit_diagonal_cholesky), which does not depend on the
// units of the parameters.
bool cholesky(int32_t n, const double* a, double shift, double tol, double* l);
bool unit_diagonal_cholesky(int32_t n, const double* a, double shift, double tol, double* l);
// Solves L L' x = b in place.
void chol_solve(int32_t n, const double* l, double* b);
// Solves with L L' = P'(A + E)P from the modified Cholesky factorization;
// work n doubles.
void mchol_solve(int32_t n, const double* l, const int32_t* perm, double* b, double* work);

}  // namespace velix::detail
