// The factor kinds of the (reduced) Hessian and its approximations, behind
// one family of dispatchers, so that a technique is written once for a
// dense, diagonal or sparse matrix:
//   0 automatic: 2 without bounds and linear rows (3 for a diagonal
//     Hessian), else 4 (5 for a diagonal Hessian)
//   1 LDL' (PackedSym: D on the diagonal, unit L below)
//   2 LL' (PackedSym lower L)
//   3 diagonal LL' (n square roots)
//   4 LL' with diagonal pivoting, in place (order in pivotOrder)
//   5 diagonal LL' in decreasing order (order in pivotOrder)
//   6 sparse LL' (SparseLLt values in the pattern hessianFactorPattern,
//     P A P' = L L' with P from the permutation hessianPerm); A is the
//     sparse Hessian's values in the pattern hessianPattern
//   7 sparse LL' over the free parameters: the factor keeps the
//     parameters' order, hessianPerm is the free-list position of each
//     parameter (negative when held at a bound) and vectors are in
//     free-list order; decompose and solve only
// A sparse decomposition's failure is the SparseLLt kernel's (a singular
// pivot i+1, an indefinite one -(i+1)); the sparse solves always give 0.
// An unsupported kind for an operation is an internal error (9999).
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// Decomposes A (order n) into F (may be A); logdet receives log det A.
// 0, or the 1-based position of the failing pivot.
int32_t znlpcde(NlpProblem* p, int32_t kind, int32_t n, double tol, double* logdet, double* a,
                double* f);
// Solves A x = b with the factor (b overwritten).  0, or 1 on a negligible pivot.
int32_t znlpcso(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* b);
// v := L^-1 v and v := L'^-1 v (kind 1 on L D^1/2).  0, or nonzero on a
// negligible pivot.
int32_t znlpilm(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v);
int32_t znlpium(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v);
// v := A v, v := L' v, v := L v.
void znlpmmu(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v);
void znlpumu(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v);
void znlplmu(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v);
// The inverse of A into out (may be A); kinds 1, 2, 3 (and 0 resolving to
// 2 or 3); the pivoted and sparse kinds are refused.  0, or nonzero on failure.
int32_t znlpcin(NlpProblem* p, int32_t kind, int32_t n, double tol, double* a, double* out);

// Kernels.
int32_t ldudec(int32_t n, double tol, double* logdet, const double* a, double* f);
int32_t lltdec(int32_t n, double tol, double* logdet, const double* a, double* f);
int32_t lltde2(int32_t n, double tol, int32_t* perm, double* logdet, double* a);
int32_t lltcd2(int32_t n, int32_t* perm, double tol, const double* a, double* f);
int32_t ldusol(int32_t n, int32_t nrhs, const double* f, double* b);
int32_t lltsol(int32_t n, int32_t nrhs, const double* f, double* b);
int32_t lltinv(int32_t n, double* f);
// Ridged tridiagonal factor (d diagonal, e[1..n-1] subdiagonal) and solve.
int32_t znlpcd3(int32_t n, double tol, const double* d, const double* e, double* l, double* c);
int32_t znlpcs3(int32_t n, const double* l, const double* c, const double* b, double* x);
// Permutes v into pivot order (direction 0: v'[i] = v[perm[i]]) or back (1).
void znlpprm(int32_t direction, int32_t n, int32_t* perm, double* v);

// The null vector of a packed lower factor L (L L' = P A P') that is
// singular at its 1-based pivot k: out (n) is zero but for its first k
// entries, entry k-1 is 1 and the others solve the leading triangular
// system of order k-1 backwards (L' z = 0 over the first k rows), scattered
// back with perm (null: no permutation).  0, or 1 when a pivot before k is
// at most DBL_MIN.
int32_t znlpsbs(int32_t n, int32_t k, int32_t* perm, const double* l, double* out);
// An estimate of the infinity-norm condition number of the packed
// triangular matrix T (lower when upper is 0, else its transpose):
// ||T|| ||y|| with T y = b, each b_i = +1 or -1 chosen against the running
// solution to enlarge y (the sign-choosing estimator of Cline, Moler,
// Stewart and Wilkinson, 1979); work n doubles.  0 for n = 0, DBL_MAX for
// a zero on the diagonal.
double znlptrc(int32_t upper, int32_t n, const double* t, double* work);
