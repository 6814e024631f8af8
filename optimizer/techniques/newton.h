// The Newton step shared by NEWRAP, NRRIDG and GAUNEW (and the ridge of
// NRLINS): the Hessian (or its cross-product approximation) over the free
// set, factored either by the modified Cholesky factorization or with a
// ridge raised until it is positive definite, the direction it gives, and
// the line-search iteration around it.  Internal to the technique units.
#pragma once

#include <cstdint>

#include "optimizer/techniques/support.h"

namespace velix::detail {

// kMinimumNorm: the truncated eigen (minimum-norm) solution of a positive
// semidefinite cross product J'J, eigenvalues below the square of the
// singularity tolerance relative to the largest counting as zero.
enum class NewtonFactor { kModifiedCholesky, kRidge, kMinimumNorm };
// Where the matrix comes from: the Hessian slot, or for Gauss-Newton the
// cross product of the least-squares Jacobian store when the problem has
// one (its Jacobian slot, a store file and function values), else the
// Hessian slot's cross product.
enum class NewtonMatrix { kHessian, kGaussNewton };

struct NewtonStep {
    NewtonFactor kind;
    double* l = nullptr;       // the factor, packed, order k
    int32_t* perm = nullptr;   // the pivot order of the modified factor
    double* gF = nullptr;      // gradient and direction over the free set
    double* dF = nullptr;
    double* work = nullptr;    // 2n doubles
    bool permuted = false;     // l is the modified factor in pivot order
    // The minimum-norm form: eigenvectors by columns (k x k), eigenvalues
    // (descending), the number kept, and the eigen work space.
    double* vectors = nullptr;
    double* values = nullptr;
    double* eigenWork = nullptr;
    int32_t kept = 0;
    double cut = 0.0;          // eigenvalues at or below it are dropped
    bool spectral = false;     // the last factor is the truncated eigen form

    static int64_t doubles(int32_t n, NewtonFactor kind = NewtonFactor::kRidge);
    void take(Frame* fr);
    // Factors the packed free-set Hessian h (order fr.k, overwritten for
    // the modified form); the ridge lands in p->iter.ridge.
    void factor(Frame* fr, double* h);
    // The minimum-norm form of h (order k) with eigenvalues at or below
    // tol^2 times the largest dropped; false when no eigenvalue is kept or
    // the decomposition failed.
    bool truncated_eigen(int32_t k, const double* h, double tol);
    // out := -(factored matrix)^-1 g over the free set (the pseudo-inverse
    // of the truncated eigen form).
    void solve(const Frame& fr, const double* g, double* out) const;
    // The predicted reduction -g'd of the direction d = solve(g), with the
    // gradient along dropped eigenvectors charged at the cut.
    double measure(const Frame& fr, const double* g, const double* d) const;
};

// Raises the ridge mu (from *mu) until H + mu I factors into l; the ridge
// used.  tol is the singularity tolerance.
double ridge_factor(int32_t k, const double* h, double tol, double mu, double* l);

// The line-search Newton iteration with the given factor and matrix.
int32_t newton_run(NlpProblem* p, NewtonFactor kind, NewtonMatrix matrix = NewtonMatrix::kHessian);

}  // namespace velix::detail
