// The two parts of the asymptotic variance of a residual r = s - sigma
// (Browne 1984, eq. 2.20; Bollen 1989, ch. 7):
//   var(r) = var(s) - var(sigma),  var(sigma) = J acov J'.
// Both parts are taken under the weight of the method, so that their
// difference is a variance: var(s) normal-theory at the fitted moments for
// ML and ULS, at the moments whose inverse weighs GLS (S, or the INWGT=
// matrix), and the fourth-order moments that weigh WLS; DWLS keeps the
// normal-theory terms at the fitted moments.  The fitted moments also vary
// with the covariances (and means) of the exogenous observed variables
// that the model takes at their sample values: they are counted among the
// estimates, so that var(sigma) is that of the same model with the block
// named (the sample's moments are the block's maximum likelihood
// estimates); under GLS they are no estimate of the method, and the
// residuals' variance is that of the estimator with the block fixed.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/evaluation/model_view.h"
#include "procedure/results/results_view.h"

namespace velix::detail {

// var(s) times N' of each moment of the residual store's form (p*; with
// means those of the covariances and means).  terms in: the store's
// normal-theory terms at the fitted moments, replaced for GLS and WLS.
// False when the GLS weight cannot be inverted back (terms unchanged).
bool sample_variance_terms(const ResultsView& rv, const EvalView& view, std::vector<double>* terms);

// The estimates with the exogenous block at its sample values counted:
// jac (rows q' of p*) the derivatives of the moments about zero (the free
// parameters' rows first, as the Jacobian at the estimates holds them),
// cov (packed q') the inverse information bordered by the block's
// elements.  V the inverse information of the q free parameters (packed).
struct CountedEstimates {
    int32_t q = 0;
    std::vector<double> jac, cov;
};
// Fills *out from the Jacobian in view's store and V; an element of the
// block whose information the free parameters explain is left out.  Under
// GLS only the free parameters (sample_block_variances takes the block).
// False when the walk of the derivatives fails.
bool count_sample_block(const ResultsView& rv, const EvalView& view, const double* V, CountedEstimates* out);

// GLS with the block at its sample values: the estimates are those of the
// moments with the block fixed at the sample's, so that the residuals are
// M (s - sigma), M = (I - J A)(I - K P) (K the derivatives of the moments
// with respect to the block, P the block's moments, A = (J'WJ)^-1 J'W),
// and var(r) = M var(s) M'.  Adds to w (p*, J kappa V J' already taken
// from var(s)) the terms of K; jacCentred the free parameters' rows of
// the Jacobian in the residuals' form, V their packed inverse information.
// False when the walk of the derivatives fails.
bool sample_block_variances(const ResultsView& rv, const EvalView& view, const double* jacCentred, const double* V,
                            double kappa, double nn, double* w);

}  // namespace velix::detail
