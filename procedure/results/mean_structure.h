// The results of a model with means (AUGMENT).  Such a model is fitted to
// the moments about zero of the variables and of the constant 1, the
// variable "Intercept" k:
//   M = [ S + c m m'   c m ]
//       [ c m'         c   ],
// c the constant's own moment (N / D under the divisor D), m the means and
// S the covariances; the model's moments have the same form with its
// covariances Sigma and means mu.  Every result that speaks of variances,
// covariances or residuals is one of the covariances and the means, never of
// the moments about zero: the covariances are the Schur complement
// M_xx - M_xk M_xk' / M_kk and the means M_xk / M_kk (Joreskog and Sorbom
// 1984, LISREL VI, on moments about zero; Bollen 1989, Structural
// Equations with Latent Variables, ch. 8 on means).
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/results/results_view.h"

// The constant's place among the manifest variables (the last one) when the
// model has means; -1 otherwise.
int32_t results_intercept(const ResultsView& rv);

// Moments about zero into covariances and means, in place.
//   a in-out  PackedSym of order n; on return a_vw - a_vk a_wk / a_kk for
//             v, w != k, the means a_vk / a_kk in row k, and 1 at (k, k):
//             the constant standardizes a mean as a variable of variance 1
//             standardizes a covariance, so that mean / sqrt(var) and
//             cov / sqrt(var var) are one formula
//   k in      the constant's index
// False, a unchanged, when a_kk is not positive.
bool center_moments(double* a, int32_t n, int32_t k);

// The covariances and means of a model's variables, in the form
// center_moments gives, from the model itself: T P_c T' with P_c the
// covariances of the exogenous parts about their means (P less
// p_j p_j' / p_jj, row and column j exactly 0), so that no variance is a
// difference of large moments and a variable that the constant and one
// exogenous part form has that part's variance exactly.
//   t   in   n x m row-major: the model's moments about zero are T P T'
//   p   in   m x m dense symmetric: the moments about zero of the exogenous
//            parts, the constant at j
//   k   in   the constant among the n variables (row k of T is unit row j)
//   out out  packed n: the covariances, the means (T p_j / p_jj) in row k,
//            1 at (k, k)
// False, out unchanged, when p_jj is not positive.
bool centered_implied_moments(const double* t, const double* p, size_t n, size_t m, int32_t k, int32_t j,
                              double* out);

// The derivatives of the covariances and means (the form center_moments
// gives) from those of the moments about zero: q rows of p* = n(n+1)/2,
// jac (in) of the moments sigma (in, PackedSym of order n, the constant at
// k), out (q x p*) of the covariances and means.
void center_jacobian(const double* sigma, int32_t n, int32_t k, const double* jac, int32_t q, double* out);

// The moments about zero that a change v of the covariances and means (in
// the form center_moments gives; (k, k) not read) makes at means `mean`
// (n, the constant's entry not read) and constant moment c:
//   x_ij = v_ij + c (mean_i v_jk + mean_j v_ik), x_ik = c v_ik, x_kk = 0.
// A quadratic form of the moments about zero read through this map is the
// same form of the covariances and means: tr((Sigma_a^-1 x)^2) is
// tr((Sigma^-1 R)^2) + 2c r'Sigma^-1 r for R, r the covariance and mean
// parts of v, when Sigma_a holds the means `mean`.
void moments_about_zero(const double* v, const double* mean, double c, int32_t n, int32_t k, double* out);

// The metric of a method's discrepancy over the moments about zero:
// F = |z(r)|^2 of a residual r, with the whitened form z.
struct MomentMetric {
    int32_t method = 0;            // kMethodUls, kMethodGls, kMethodWls or kMethodDwls
    const double* weight = nullptr;  // GLS: W, PackedSym of order n (F = 0.5 tr((W r)^2));
                                     // WLS: lower factor L of order p* (F = |L^-1 r|^2);
                                     // DWLS: the p* weights w (F = sum (w_k r_k)^2)
    double tol = 0.0;              // WLS: the tolerance of the forward substitution
};

// The independence model of a model with means: free means and variances
// and zero covariances, fitted to M (PackedSym of order n, constant at k,
// its moment fixed) by the metric's least squares.  Gauss-Newton from the
// sample's means and variances; the means stay the sample's for GLS with
// the weight M^-1, where they are stationary, and move for the other
// metrics, which tie the means to the covariances.
//   f0    out  the discrepancy
//   theta out  (may be null) 2(n - 1): the variances, then the means, of the
//              variables other than k in their order
// False when the normal equations or the GLS weights are singular or a
// substitution fails: f0 and theta are then those of the sample's means
// and variances (f0 missing when even that cannot be evaluated).
bool fit_null_means(const MomentMetric& metric, const double* m, int32_t n, int32_t k, double* f0,
                    double* theta = nullptr);

// The maximum likelihood independence model of a model with means: the
// sample means and variances, F0 = sum ln s_ii - ln det S over the
// covariances S (out of M, PackedSym of order n, constant at k, whose log
// determinant logDetM is ln det S + ln c).  Missing as fit_null_ml.
double fit_null_ml_means(const double* m, int32_t n, int32_t k, double logDetM);
