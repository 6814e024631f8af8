// Operations between the full parameter space and the reduced space of the
// free parameters (and, under active general constraints, the null space of
// those constraints): vectors in and out, the projected gradient, the
// directional derivative, bound classification, packed kernels and the
// reverse-triangular solves of the dense active-set factor.
//
// The active-set state they read: n = nParams, nb = nActiveBounds, nl =
// nActiveLin, nf = n - nb free parameters listed first in freeList, nr =
// nf - nl; nullBasis Q with row stride n, row i for parameter freeList[i],
// columns 0 .. nr-1 the null-space basis Z.  Q is applied under general
// constraints when nl > 0 or the technique keeps an accumulated basis
// (DBLDOG, QUANEW primal and dual, HYQUAN, QUADAS).  The sparse active-set
// form (conFactorForm 2) is refused by the routines that read that state.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "optimizer/optimizer.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"

namespace velix::detail {

// The active-set counts: free parameters nf, reduced dimension nr.
inline int32_t n_free(const NlpProblem* p) { return p->shape.nParams - p->active.nActiveBounds; }
inline int32_t n_reduced(const NlpProblem* p) { return n_free(p) - p->active.nActiveLin; }
inline bool has_general(const NlpProblem* p) { return p->shape.hasLinCon != 0 || p->shape.hasNlinCon != 0; }
// One term of the scaled gradient criterion (GCONV2): |g_j| / sqrt|H_jj f|
// where the curvature H_jj is positive and |H_jj f| above DBL_MIN, else 0.
inline double scaled_gradient_term(double g, double hjj, double f) {
    const double hf = std::fabs(hjj * f);
    return hjj > 0.0 && hf > DBL_MIN ? std::fabs(g) / std::sqrt(hf) : 0.0;
}
// The techniques that keep an accumulated null-space basis even without
// active rows.
inline bool keeps_basis(int32_t t) {
    return t == kTechDbldog || t == kTechQuanew || t == kTechDualQuanew || t == kTechHyquan || t == kTechQuadas;
}

}  // namespace velix::detail

// Guarded inner product (terms too small to matter are skipped).
double dotprd(int32_t n, const double* a, const double* b);

// Directional derivative g's: 0 for nr = 0; the guarded sum of a'b over nr
// under linear constraints; the plain sum of g_p s_p over the free
// parameters with bounds only; the guarded sum of g's otherwise.
double znlpgs(const NlpProblem* p, const double* a, const double* b, const double* g, const double* s);


// Full vector v to the reduced space, and back (see the header comment).
void znlpvre(NlpProblem* p, const double* v, double* out);
void znlpvex(NlpProblem* p, const double* r, double* out);

// The transformed gradient over all nf free coordinates.
void znlpgcs(NlpProblem* p, double* out);

// y = A x for the packed A of order n, over the index list when given.
void znlpsmv(int32_t n, const int32_t* idx, const double* a, const double* x, double* y);

// Classifies the parameters against their bounds (push 0 snaps near-bound
// parameters onto them, 1 and others move them inside by 0.001 or 0.1 of
// the room); result: the number fixed or held at a bound.
int32_t znlpfbc(NlpProblem* p, int32_t push);

// Reverse-triangular solves with the dense active-set factor T (row r holds
// T[r][0..r] in PackedSym positions, pivots first); x in reversed order.
// 0, or the position of a pivot not above tol.
int32_t znlpqts(int32_t mode, int32_t m, double tol, const double* t, const double* b, double* x);

// Divides a reduced vector by the parameter scale (scalingKind nonzero).
void znlpscd(NlpProblem* p, double* v);

// The ratio test along d = -Z r (or -r over the free list; scaled to a norm
// of 10 when longer) from x, d left in workN, *index the blocking
// constraint.  1 when no positive step is possible, else 0.
int32_t znlptcs(NlpProblem* p, const double* r, int32_t* index, int32_t flag);

// Expands the reduced step p into out and returns by kind: 1 its (scaled)
// Euclidean norm, 2 the predicted reduction -0.5 g'p, 3 zero.  With bounds
// only, components that end within the tolerance of a bound are moved onto it.
double znlpsp2(NlpProblem* p, int32_t kind, double* step, double* out);

// Edits a packed symmetric matrix (modes 1..6 of the active-set changes).
void znlpsym(int32_t mode, int32_t n, int32_t k, const int32_t* flags, const double* v, double* a);

// E := B A B, plus the old E when add is nonzero; A, B and E PackedSym of
// order n (E may not share storage with A or B).
void znlpqf3(int32_t add, int32_t n, const double* a, const double* b, double* e);

// Congruence products out = B'SB of the symmetric S of order n (form 2: its
// n diagonal entries, else PackedSym) into the PackedSym out:
//   mode below 2: B dense n x m, element (i, c) at b[i * m + c], out of order m;
//   mode 2: L'SL, and mode 3: LSL', with L lower triangular of order n in
//   PackedSym positions (m is not read), out of order n.
// out may not share storage with s or b.
void znlpquf(int32_t mode, int32_t n, int32_t m, int32_t form, const double* s, const double* b, double* out);

// ---- Hessians in the reduced space (reduced_hessian.cpp) ----
// Storage: 2 diagonal (n entries), 1 sparse (SparseLLt values in the
// pattern hessianPattern), else PackedSym.

// y = H x by storage, over the n listed parameters (y_i = sum_j
// H[idx_i][idx_j] x_j; without a list the first n).
void znlpmul(NlpProblem* p, int32_t storage, int32_t n, const int32_t* idx, const double* h, const double* x,
             double* y);
// znlpred (Z' H Z over the free parameters) is declared in optimizer/optimizer.h.
// out = the free submatrix of H (order nf; may be H itself unless H is
// sparse).
void znlpre2(NlpProblem* p, int32_t storage, const double* h, double* out);
// H := Z' D Z (order nr), D the diagonal of H at the free parameters.
void znlpre3(NlpProblem* p, double* h);
// out (PackedSym of order n) = Z M Z' at the free rows and columns.
void znlpexp(NlpProblem* p, const double* m, double* out);
// The reduced Hessian: mode 1 in place, 2 into out; useQ 0 takes the free
// submatrix even where Q would apply.  Under general constraints a sparse
// H gives its dense (PackedSym) reduction into out in either mode.
void znlphpr(NlpProblem* p, int32_t mode, int32_t useQ, int32_t storage, double* work, double* h, double* out);
// The reduced Hessian and the projected gradient into gout, with the
// scaled gradient criterion (scaledGradMax) for mode nonzero.
void znlphgp(NlpProblem* p, int32_t mode, int32_t storage, double* gout, double* h, double* rout);
// Updates scale from the Hessian diagonal by scalingKind.
void znlphsc(NlpProblem* p, int32_t storage, int32_t count, const double* h);
// Applies the scale to the Hessian and writes the scaled negative
// gradient; returns its Euclidean norm.
double znlphs2(NlpProblem* p, int32_t storage, double* out);
// Orthogonalizes v (m entries) against the k orthonormal columns of q
// (column c at q + c * stride) with reorthogonalization: coef receives the
// coefficients, *norm the norm of v before normalization.  0, -1 (m < k),
// -2 (v is zero), -3 (no convergence in 10 passes).
int32_t znlpgso(int32_t m, int32_t k, int32_t stride, const double* q, double* v, double* coef, double* norm);
// The same with the columns read one by one from a utility file (record j
// of recordLength doubles at byte j * recordLength * 8, its first m
// entries the column) into work (recordLength doubles); a failed read is
// reported to the host and ends the step.
int32_t znlpgso_file(HostFile* file, int32_t m, int32_t k, int32_t recordLength, double* v, double* coef,
                     double* norm, double* work);

// Ends the step as an internal error of the optimizer (logged with `what`).
[[noreturn]] void nlp_internal_error(const char* what);

// Rebuilds freeList from boundState: free parameters first, in index order.
void znlp_free_list(NlpProblem* p);
