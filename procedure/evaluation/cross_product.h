// The cross-product (Gauss-Newton) approximation of the Hessian of F,
// H = J' W J with the weight of the method in force, and the gradient
// g = J' d at the same point.  H is the expected second derivative of F for
// every method (WLS and DWLS carry the factor 2 of F = r' W r), so
// 2 / (N - 1) H^-1 is the covariance of the estimates for each of them.
//
// Storage: H packed of order q (independent parameters), built in
// EvaluationState::cross and copied out (the optimizer's covariance code
// may ask for it in EvaluationState::cross itself, which the estimation
// lends it); g in EvaluationState::gradient.
//   ULS, GLS, ML:  H(i, j) = tr(K Ji K Jj), K = I, W or C^-1, formed from
//                  the walk's rank-two shares without any p* x p* matrix:
//                  tr(K (a b' + b a') K (c d' + d c')) =
//                  2 [(a'K c)(b'K d) + (a'K d)(b'K c)]
//   WLS, DWLS:     y_k = L^-1 J_k or w .* J_k, H(i, j) = 2 y_i'y_j
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

struct NlpProblem;

// Cross-product callback.  out: nlp->hess.hessian (packed q), nlp->work.gradient.
// Returns 0; -1 without an objective at the point; 1 when a matrix cannot
// be inverted; -3 when a diagonal element of H is clearly negative.  A
// hundreds digit of FDHESSIAN= hands over to the optimizer's finite-
// difference Hessian and returns its result.
int32_t coscrpj(NlpProblem* nlp);

// Hessian callback of the hook block: the optimizer's finite-difference
// Hessian that the thousands digit of FDHESSIAN= names (0 as 3, from
// forward differences of the gradient).  Returns that routine's result.
int32_t coshess(NlpProblem* nlp);

// H and g at the point of the last objective, from the Jacobian in the
// storage form of view.st->jacobianMode (1 and the modes without storage:
// the in-memory walk below).  Returns 0, or the nonzero result of the
// Jacobian routine (its messages written).
int32_t cosmcrp(const EvalView* view);

// H and g at the point of the last objective into view.st->cross and
// view.st->gradient.  Returns 0, or the number of a matrix that could not
// be inverted.
int32_t eval_cross_product(const EvalView* view);

namespace velix::detail {
// st.cross is written anew (or its space lent): it is no longer the cross
// product the callback formed, nor the matrix of the tag the optimizer's
// covariance code knows it by (NlpCovResults::crossProductTag).
void cross_rewritten(const EvalView& v);
// The cross product the last cross-product callback left in st.cross is
// the one at the point of the problem when it was formed there, in this
// storage mode and by this method, and that callback flushed no diagonal
// to 0: the same sums would come out again.
bool cross_product_at_hand(const EvalView& v);
// K of the Kronecker weight (I for ULS, W for GLS, C^-1 for ML) densely
// into view.st->kDense.
void fill_weight_dense(const EvalView& v);
// out (packed p*) := K D K for a packed symmetric D, one rank-two update
// per nonzero of D.
void kron_weight(const EvalView& v, const double* column, double* out);
// out (packed order n) += x (k_r k_c' + k_c k_r'), lower triangle: the
// weighted share K (e_r e_c' + e_c e_r') K of one moment (x halved by the
// caller for a diagonal moment).
void add_rank_two(int32_t n, double x, const double* __restrict kr, const double* __restrict kc,
                  double* __restrict out);
// out (packed order n) += sum over g < r of (R_g W_g' + W_g R_g'), lower
// triangle, R_g and W_g the rows g of the r x n arrays R and W: the rank-two
// updates of add_rank_two (x = 1) made in one pass over out, in blocks of
// columns that keep the 2r row pieces in cache.  Each element receives its
// r terms in the order of g.
void add_rank_two_sum(int32_t n, int32_t r, const double* __restrict R,
                      const double* __restrict W, double* __restrict out);
// WLS or DWLS: the columns of the cross product are weighted ones.
bool weighted_method(const EvalView& v);
// g_k from column k (weighted for WLS and DWLS) and the objective's terms.
double column_gradient(const EvalView& v, const double* column);
// H(k, l) from column k and the weighted column l: the trace product with
// K J_l K, or 2 y_k' y_l for WLS and DWLS.
double column_product(const EvalView& v, const double* a, const double* wb);
}  // namespace velix::detail
