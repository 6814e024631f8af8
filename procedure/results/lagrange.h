// The machinery that the Lagrange multiplier and Wald tests share: the
// state at the solution (information, gradient, Jacobian, the method's
// weight), the derivative of the implied moments with respect to one model
// element with its weighting, and the bordered inverse that adds one
// parameter to an inverse information matrix.  Sorbom (1989), Model
// modification, Psychometrika 54; Bentler (1986) for the multivariate
// Lagrange multiplier and Wald tests.
//
// Conventions: the trace inner product of two packed symmetric matrices
// counts an off-diagonal product twice; F's gradient dF/dC is in that
// convention for every method.  The information is the expected second
// derivative of F, V its inverse, kappa V the covariance of the estimates
// (fit_state.h), and an index is LM = gamma^2 rho / kappa with gamma the
// derivative of F along the element and 1/rho the element's information
// less what the free parameters explain of it.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/evaluation/model_view.h"
#include "procedure/results/results_view.h"

// Where the columns of the Jacobian at the estimates are read: the
// structural nonzeros of the sparse Jacobian (modes 11 and 12, not for WLS,
// whose weighting mixes every moment), the Jacobian in memory (modes 1 and
// 5, weighted by L^-1 in place for WLS), or the column files (the other
// modes, and WLS in the sparse modes; the weighted file for WLS).
enum class LmSource : int8_t { kSparse, kMemory, kFile };

// The state at the solution.  Owner: the routine that builds it; it lives
// for one call of a test routine.
struct LmSetup {
    ResultsView rv;
    EvalView view;
    int32_t method = 0, n = 0, pstar = 0, q = 0;
    double kappa = 0.0;   // kappa V = covariance of the estimates; 0: statistics undefined
    double chisq = 0.0;   // T, which bounds the reported statistics
    const double* K = nullptr;       // GLS W, ML C^-1 (packed n); WLS: none
    const double* factor = nullptr;  // WLS: Cholesky factor of the weight matrix (packed p*)
    LmSource source = LmSource::kMemory;
    std::vector<double> dFdC;        // p*
    std::vector<double> V;           // packed q: the inverse information, when held (lm_setup)
    std::vector<double> g;           // q: the gradient
    mutable std::vector<double> column;  // p*: a column read from a file
    mutable std::vector<int32_t> marks;  // p*: the marked entries of the sparse weighting
};

// One position of an element in the derivative: scale (u v' + v u') with
// u = column r of U, v = column c of V (the term walker's products, rows
// of length ld over the n manifest variables).
struct RankTwo {
    const double* U = nullptr;
    const double* V = nullptr;
    int32_t ld = 0, r = 0, c = 0;
    double scale = 0.0;
};

// The derivative of an element and what the tests take of it: dC (p*),
// wx (p*) the weighted derivative for the inner products (WLS: 2 L^-1 dC,
// with dCx = L^-1 dC), gamma and delta.
struct LmDerivative {
    std::vector<double> dC, dCx, wx;
    double gamma = 0.0, delta = 0.0;
};

namespace velix::detail {

// The common entry of the tests: nothing unless modification indices are
// asked for and a method ran; the covariance of the estimates when
// `needCovariance`; the state at the solution into *s, with s->V read when
// `holdCovariance`.  false (after the note that the tests are not
// available, where one is due) when a test routine has nothing to do.
bool lm_begin(const ResultsView& rv, bool needCovariance, bool holdCovariance, LmSetup* s);
// The note that the tests are not available.
void lm_unavailable();

// The covariance step left an inverse (regular or generalized) of the
// information; after a failed inversion its array is stale.
bool lm_covariance_usable(const ResultsView& rv);

// Builds the state at the current parameters: F (final phase) and the
// Jacobian's columns where s->source says; the gradient, dF/dC (and V when
// `holdCovariance`) as the covariance step left them on its scratch
// (information_scratch.h), which it writes whenever the covariance is
// usable (dF/dC formed here when there are no independent parameters).
// false when F or the Jacobian cannot be had.
bool lm_setup(const ResultsView& rv, LmSetup* s, bool holdCovariance);

// dC (p*) of the positions parts[0..count).
void lm_element_dc(const LmSetup& s, const RankTwo* parts, int32_t count, std::vector<double>* dC);

// Weighs a given dC (d->dC filled by the caller): gamma = <dC, dF/dC>,
// delta = the element's information.  With the sparse Jacobian the GLS and
// ML weighting takes the marked entries of dC only (spkron2).
void lm_weigh(const LmSetup& s, LmDerivative* d);

// The informations between free parameter i and the weighted derivatives
// a and b, for every i but `skip`, in order: one column read per parameter.
void lm_informations(const LmSetup& s, const LmDerivative& a, const LmDerivative& b, int32_t skip,
                     std::vector<double>* ia, std::vector<double>* ib);
// The information between two weighted derivatives.
double lm_cross(const LmSetup& s, const LmDerivative& a, const LmDerivative& b);

// Column i of the Jacobian at the estimates as the source holds it (the
// weighted column L^-1 J_i for WLS); kSparse has no dense column.  The
// pointer holds until the next call.
const double* lm_column(const LmSetup& s, int32_t i);

// The trace inner product of two packed symmetric matrices of order n.
double trace_inner(const double* x, const double* y, int32_t n);

}  // namespace velix::detail

// Bordered inverse: V (packed, order q) is the inverse of a matrix A;
// b (q + 1) holds the new row of A with its diagonal last.  On success V
// and b hold the inverse of the bordered matrix [[A, b], [b', b_q]] (V its
// leading block, b its last row) and the result is 0; -1 when the Schur
// complement sigma = b_q - b'V b is not above tol |b_q| q (V and b then
// unchanged), -2 when q < 0.  work: q doubles.  With q = 0, b_0 := 1/b_0.
int32_t sinvex(int32_t q, double tol, double* V, double* b, double* work);

// Removes parameter k from an inverse information matrix V (packed, order
// q): compacted in place to order q - 1, V := V - u u' / V_kk with u the
// removed row (into work, q doubles); the result is the inverse of the
// information of the other parameters.  0, or -1 when |V_kk| <= tol.
int32_t sinvre(int32_t k, int32_t q, double tol, double* V, double* work);
