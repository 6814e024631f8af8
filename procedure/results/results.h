// The results of an estimation run: the routines the estimation calls
// after a usable solution (the fit summary) and before the optimization
// (the parameter vectors), and the equation printer the model readers call
// to echo the input model.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/results/results_view.h"

// The fit summary of the stage that ran last: the final evaluation, the
// independence model, every fit statistic into ctx->results.fitStats, and
// the group "FitSummary" with "PredModel", "PredModelDet" and the factoid
// "Fit".  Returns 0, or the negative status of a failed output call (the
// group closed).  A failed final evaluation gives message 363 and error
// level 108, and nothing else.
int32_t cosresi(ProcContext* ctx);

// F0 of the independence model diag(d) for the method of the stage into
// ctx->results.nullFitValue (missing for an ML null model with a variance
// not above the smallest normal double).
void fnulmod(ProcContext* ctx);

// Error level of a stage whose solution cannot be evaluated for its fit
// summary.
constexpr int32_t kLevelNoFinalEvaluation = 108;

// The print switches of the results, from the PROC statement's print
// options: the equations and exogenous tables print unless NOPRINT; the
// parameter-vector tables with PESTIM (or PALL); the predicted latent
// moments and score coefficients with PLATCOV (or PALL); the coefficients
// of determination with PDETERM (or PALL); the predicted model matrix with
// PREDET (or PALL).
struct ResultSwitches {
    bool printModel = false;
    bool printParmVectors = false;
    bool printPredictedLatent = false;
    bool printDetermination = false;
    bool printPredModel = false;
};
ResultSwitches result_switches(const StatementOptions* options);

// The kinds of parameter-vector tables.
enum ParameterVectorKind : int32_t {
    kVectorInitial = 0,   // "InitEstimates": the start values
    kVectorEstimates = 1, // "Estimates"
    kVectorStdErrs = 2,   // "StdErrs"
    kVectorTValues = 3,   // "tValues"
    kVectorFirstDer = 4,  // "FirstDer": the gradient
    kVectorGradient = 5,  // "Gradient"
};

// Prints the parameter-vector table of `kind` (and, for kinds 0 to 3, the
// dependent parameters' table "DependParms").
void cosvout(ProcContext* ctx, int32_t kind);

// Prints the table "AddParms" of the additional parameters: mode 1 the
// estimates, modes 2 and 3 with standard errors and t values.
void costout(ProcContext* ctx, int32_t mode);

// The 1-based number of the model matrix that holds the first element
// e >= e0 of parameter p (0-based), negated when the element's parameter
// number is negative; *next := e + 1, or 0 when none.  0 when none is found
// and p is an additional or dependent parameter or e0 > 0; a model
// parameter without any element ends the step (message 397).
int32_t xcheck(const ResultsView& rv, int32_t p, int32_t e0, int32_t* next);

// The LINEQS printer: mode 0 the input model, 1 the estimates, 2 the
// estimates with standard errors and t values, 3 the standardized solution,
// the squared multiple correlations and the derived statistics of the
// latent variables.
void cospeqs(ProcContext* ctx, int32_t mode);

// The implied covariance of all N model variables of a LINEQS model at the
// current element values (E exogenous, nEndo = N - E endogenous first).
//   cov     out  packed N: T Phi T'
//   t       out  N x E row-major: [(I - B)^-1 Gamma ; I]
//   endoVar out  nEndo: the implied variances of the endogenous variables
//   exoVar  out  E: the diagonal of Phi (0 where it has no element)
// Returns false when I - B is singular (the outputs are then undefined).
// For a RAM model (N variables, paths A, residual covariances P) the same
// call gives
//   cov     out  packed N: T P T' with T = (I - A)^-1
//   t       out  N x N row-major: T P
//   endoVar out  N: the implied variances of all variables
//   exoVar  out  N: the diagonal of P (0 where it has no element)
// and returns false when I - A is singular.
bool getvar(const ResultsView& rv, double* cov, double* t, double* endoVar, double* exoVar);
namespace velix::detail {
bool ram_getvar(const ResultsView& rv, double* cov, double* work, double* var, double* pDiag);
// T = (I - A)^-1 of a RAM model (N x N row-major); false when I - A is
// singular.
bool ram_paths_inverse(const ResultsView& rv, std::vector<double>* t);
// The residual moments P of a RAM model (N x N dense, 0 where _P_ has no
// element).
std::vector<double> ram_residual_moments(const ResultsView& rv);
}  // namespace velix::detail

// The RAM printer: mode 0 the input model as a list of its elements; 1 the
// estimates, 2 with standard errors and t values, each followed by the
// standardized paths, squared multiple correlations, residual correlations
// and the derived statistics of the latent variables.  Leaves the
// "SupplementaryResults" group open for the caller.
void cospram(ProcContext* ctx, int32_t mode);

// The model matrices, one table each: stage 0 the initial values
// ("InitParms"), 1 the estimates, 2 with standard errors and t values
// ("EstParms").  A matrix used by several terms is shown once; a constant
// matrix gets a note in place of its table after the estimation.
void cospout(ProcContext* ctx, int32_t stage);

// The results of a FACTOR model: the loadings (rotated as ROTATE= asks),
// the standardized loadings, squared multiple correlations, factor
// correlations, determination and score coefficients, with their OUTSTAT=
// rows.  Leaves the "SupplementaryResults" group open for the caller.
void cospfac(ProcContext* ctx);
