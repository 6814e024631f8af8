// The walk over the terms of the COSAN form that every derivative routine
// shares (gradient, Jacobian, cross product, information matrix).
//
// For every model matrix M_k of a term that holds parameters the walk
// prepares a left product U (n x uCols) and a right product V (n x vCols)
// such that the derivative of the term with respect to element (r, c) of
// M_k is
//     scale (u v' + v u'),   u = column r of U, v = column c of V;
// scale is 0.5 for the central matrix and 1 for a left factor, negated
// when M_k enters as its inverse (d M^-1 = -M^-1 dM M^-1) and for a BETA
// matrix without a form (it enters as I - B).  For a factor F_m of
// X P X' (X = F_1 ... F_k) U = F_1 ... F_(m-1) (with F_m as it enters
// when it has a form) and V = X P F_k' ... F_(m+1)' (... F_m' with a form).
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

struct WalkStep {
    int32_t matrix = 0;  // k
    double scale = 0.0;
    const double* U = nullptr;  // row length view.ld
    int32_t uCols = 0;
    bool uIdentity = false;  // U is the identity of order n
    const double* V = nullptr;
    int32_t vCols = 0;
    bool vIdentity = false;
};

class TermVisitor {
   public:
    virtual void visit(const EvalView& v, const WalkStep& step) = 0;
    // Whether matrix k is to be visited: the left product of a matrix that
    // is not is never formed.
    virtual bool wants(const EvalView&, int32_t) { return true; }
    // Forms the inverse forms of term t before its products (the objective's
    // inverses unless they are formed once); returns 0 or the matrix that
    // could not be inverted.
    virtual int32_t prepare(const EvalView& v, int32_t t);

   protected:
    ~TermVisitor() = default;
};

// Walks every term at the current element values, forming each term's
// inverses first unless they are formed once for all terms.  Uses
// EvaluationState::work1 (U), work2 (V) and rowBuf.  Returns 0, or the
// number of a matrix that could not be inverted.
int32_t walk_terms(const EvalView* view, TermVisitor* visitor);

// Calls share(param, weight, r, c) for every position of an element of
// matrix k that depends on an independent parameter: weight is `scale`
// times the derivative of a dependent parameter with respect to the
// independent one (1 for an independent parameter); an off-diagonal
// element of a symmetric matrix gives (r, c) and (c, r).
template <typename Share>
void for_each_share(const EvalView& v, int32_t k, double scale, Share&& share);

// dF/dC of the method in force into view.st->dFdC in the trace-product
// convention (dF = sum over i, j of G(i, j) dC(i, j); packed G), from what
// the objective left.  WLS and DWLS carry the factor 2 of F = r' W r.
void eval_dfdc(const EvalView* view);

#include "procedure/evaluation/term_walker_shares.h"
