// The statistics an equation-type model derives from the implied covariance
// of all its variables: the predicted moments of the latent variables and
// between manifest and latent variables, the regression coefficients of
// the latent scores on the manifest variables (Lawley and Maxwell 1971,
// Factor Analysis as a Statistical Method, ch. 8), and the coefficients of
// determination 1 - |Theta| / |Sigma_XX| of all equations, of the
// structural equations and of the manifest variables (Joreskog and Sorbom
// 1984), with the rows they add to OUTSTAT=.
//
// A model with means takes them over its covariances and means, the
// constant no variable: the predicted moments are covariances, with the
// latent means in the row of Intercept; the determination compares
// covariances, of the residual parts too.  The score coefficients stay the
// regression on the moments about zero of the manifest variables and the
// constant, which is the regression on the covariances with the constant's
// coefficient as its intercept (mean of the score less the weighted means).
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/results/results.h"

// The implied moments of all model variables and the model's layout, as
// the equation printer prepares them.
struct LatentMomentsInput {
    const double* cov = nullptr;         // packed N: implied covariance of all model variables
    int32_t nAll = 0;                    // N
    int32_t nEndo = 0;                   // endogenous variables, model variables 0 .. nEndo - 1
    const int32_t* errorTerm = nullptr;  // per endogenous variable: its error's exogenous index, -1 none
    // The RAM form: the manifest variables are model variables 0 .. n - 1
    // and the latent ones follow; a variable is endogenous when a path of
    // _A_ leads to it (nEndo and errorTerm are then not read); residual
    // covariances are the _P_ elements of the variables themselves.
    bool ram = false;
    // A model with means: the covariances and means of all model variables
    // in the form center_moments gives (packed N, the means in row
    // `intercept`, the constant's model index), and the covariances of the
    // residual parts in the indices the residual covariances are read by
    // (LINEQS: the exogenous variables; RAM: all).  Null without means.
    const double* centred = nullptr;
    const double* residualCentred = nullptr;
    int32_t intercept = -1;
};

// The model-variable indices of the latent variables of a LINEQS model (the
// F variables, in model order) and of the manifest variables (in data
// order).
void lineqs_variable_indices(const ResultsView& rv, std::vector<int32_t>* latent,
                             std::vector<int32_t>* manifest);

// The principal submatrix of the packed matrix `cov` over the variables
// idx (packed, in their order).
std::vector<double> packed_submatrix(const double* cov, const std::vector<int32_t>& idx);

// The latent score coefficients W = Sigma^-1 M (n x k by columns, W_j = the
// n values of column j) from the manifest covariance Sigma (packed n) and
// the manifest-latent covariances M (n x k row-major).  False when Sigma is
// not positive definite at tolerance `tol`.
bool latent_score_coefficients(const double* sigma, int32_t n, const double* m, int32_t k, double tol,
                               std::vector<double>* w);

// Steps of the derived statistics: predicted moments and score
// coefficients (when latent variables exist and they are printed or
// OUTSTAT= is given), then the determination (when asked for).
void latent_results(const ResultsView& rv, const LatentMomentsInput* in, const ResultSwitches& sw);

// Writes one OUTSTAT= row: _TYPE_ `type`, _NAME_ `name`, the n values.
void outstat_row(const ResultsView& rv, const char* type, const NameRecord& name, const double* values, int32_t n);

// The _TYPE_ of predicted-moment rows for the stage's method.
const char* predicted_row_type(int32_t method);
