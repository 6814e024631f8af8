// What the results after a fit read of the fit itself: the sample-size
// multiplier N' of the chi-square, the model chi-square T and the scale
// kappa that turns the stored inverse information into the covariance of
// the estimates (Bollen 1989, Structural Equations with Latent Variables,
// ch. 4: acov = 2 / N' times the inverse of the expected second derivative
// of F).
#pragma once

#include "procedure/data/data.h"  // sample_multiplier, N'
#include "procedure/results/results_view.h"

// T = N' F: the chi-square of the fit summary when it ran for this fit,
// else N' times the discrepancy of the last evaluation.
double results_model_chisq(const ResultsView& rv);

// kappa with kappa V the covariance of the estimates, V the inverse
// information as the covariance step stores it (EvaluationState::
// covariance).  That information is the expected second derivative of F
// for every method (the WLS and DWLS forms carry the factor 2 of
// F = r'W r), so kappa = 2 / N' for each; 0 when N' is not above DBL_MIN,
// and every statistic built on it is then missing.
double results_kappa(const ResultsView& rv);

// The final evaluation of F at the estimates (the point does not move): it
// leaves the implied moments and their inverse of the point.  Returns the
// objective's result, 0 on success.
int32_t results_final_evaluation(const ResultsView& rv);
