// Data sets and moment matrices: the routines of the moment step of a BY
// group (coscorr, declared with the other top-level routines in
// procedure/procedure.h) and the readers, weight builders, printers and
// data-set writers it calls.
//
// Storage conventions: PackedSym, element (i, j), j <= i, at i(i+1)/2 + j;
// a matrix over the moments (WLS) is a PackedSym of order p* = n(n+1)/2
// indexed by the moment number i(i+1)/2 + j (iisub).  Missing values are
// the host's missing doubles.
#pragma once

#include <cstdint>
#include <vector>

#include "velix/proc_context.h"

struct DataView;

// The variance divisor of the divisor kind (recognised by its second
// character): N n, DF n - d, WDF w - d (0.0 when d + 1e-4 (w - d) rounds to
// d), WEIGHT and WGT w; never below 0.0.  Any other kind ends the step with
// kLevelInternal after an internal-error line.
//   kind in: 8 characters, blank-padded
double zvardiv(const char* kind, double n, double d, double w);

// N', the sample-size multiplier of the chi-square (N' F) and of the
// covariance of the estimates (2 / N' times the inverse information):
// N - 1 for moments about the means, N for moments about zero (an origin
// at zero, UCOV or UCORR).  VARDEF= divides the moments and does not
// change N': the chi-square statistic and its asymptotic covariance rest
// on the Wishart distribution of (N - 1) S, whatever divisor S is shown
// with.
double sample_multiplier(const MomentState* moments, const StatementOptions* options);

// Position of the element ((i, j), (k, l)) in a packed matrix over the
// moments, 0-based.
int64_t iisub(int32_t i, int32_t j, int32_t k, int32_t l);

// Reads the current BY group of a TYPE=SYMATRIX DATA= into the moment
// matrix, means, standard deviations, N, the sum of weights and the
// divisor, over the analysis variables and then the PARTIAL ones.
// statedN (in) is the N that NOBS= or EDF= states, missing when neither
// does: the N of a group without an N row.  Returns 0, kLevelNoMoments
// when the moments of a partial variable are missing, or
// kLevelHostFailure when the table of an incomplete matrix cannot be
// published (the matrix keeps its missing values and the step must end); a
// variable count that differs from nVar ends the step with
// kLevelBadVariables.
int32_t cosfico(ProcContext* ctx, double statedN);

// Reads the current BY group of a moment data set (TYPE CORR, COV, UCORR,
// UCOV, SSCP, FACTOR, ACE or EST).
//   data      in   the DATA= handle
//   form      in   'R' (82): deliver correlations
//   stmtList  in   the statement list (not read)
//   listEntry in   entry of the host's variable lists with the analysis variables
//   origin    in   nonzero: moments about zero
//   type      in   the TYPE of the data set, 8 characters
//   matrix    out  PackedSym[n(n+1)/2] over the n variables read: the
//                  analysis variables, then the PARTIAL ones (order
//                  n+1 with an SSCP intercept)
//   means, stdDevs out [n] each
//   work      work [n]
//   vardefKind in  the divisor kind
//   divisor, sumWeights out
//   nObs      in-out in: the N that NOBS= or EDF= states (missing when
//                    neither does), taken by a group without an N row (and,
//                    for SSCP data, without an Intercept x Intercept
//                    element); out: the group's N
//   ctx       in-out in: the variables read (read_variables); out:
//                    moments.meansGiven and countGiven cleared when the
//                    means or N are defaults
// Returns a level: 0, kLevelWarning, kLevelNoMoments (nothing usable) or
// kLevelBadVariables (variables).
int32_t zrcorr(HostDataSet* data, int32_t form, const StatementNode* stmtList, int32_t listEntry,
               int32_t origin, const char* type, double* matrix, double* means, double* stdDevs,
               double* work, const char* vardefKind, double* divisor, double* sumWeights,
               double* nObs, ProcContext* ctx);

// The cells of ctx->moments.kurtosisCells: the multivariate kurtosis
// measures of the raw data (missing where they cannot be formed).
enum KurtosisCell : int32_t {
    kKurtMardia = 0,          // Mardia's multivariate kurtosis (first the sum it is formed from)
    kKurtMardiaKappa = 1,     // Mardia based kappa: Mardia over p(p+2)
    kKurtRelativeMulti = 2,   // relative multivariate kurtosis: (Mardia + p(p+2)) / p(p+2)
    kKurtNormalized = 3,      // normalized multivariate kurtosis: Mardia over its standard error
    kKurtMeanScaled = 4,      // mean scaled univariate kurtosis
    kKurtAdjustedScaled = 5,  // adjusted mean scaled univariate kurtosis
    kKurtFourthRatio = 6,     // mean ratio of the fourth moments to their normal values, less 1
    kKurtFourthMoments = 7,   // ratio of the fourth moments to their normal values, less 1
    kKurtCellCount = 8
};

// The five largest kurtosis contributions, in descending order; an
// observation number of 0 ends a shorter list.
struct KurtosisList {
    double contribution[5] = {};
    int32_t observation[5] = {};
    double weight[5] = {};
};

// One pass over the raw observations of the BY group: skewness and
// kurtosis sums per variable (into ctx->moments.skewness and ctx->moments.uniKurtosis) and,
// with an inverse (PackedSym of the covariance with divisor N over the
// variables other than an intercept variable), Mardia's sum (first kurtosis
// cell) with the largest contributions.  Returns 0, or kLevelNoMoments when no
// observation could be used.
int32_t coskurt(ProcContext* ctx, int32_t listEntry, int32_t weightEntry, int32_t freqEntry,
                const double* inverse, KurtosisList* list);

// Prints the input statistics of the BY group: title line, "GenModInfo",
// "SimpleStatistics", the kurtosis tables and the input matrix.
//   partialUsed    in  partial variables swept out
//   kurtosisStatus in  number of listed contributions (0: none)
void cospcor(ProcContext* ctx, int32_t partialUsed, int32_t kurtosisStatus, const KurtosisList* list);

// Replaces the fourth-order moments in ctx->arrays.weightMatrix by the asymptotic
// covariance of the moments of kind 1 (biased), 2 (unbiased) or 3
// (correlations), and fills the last two kurtosis cells.
void cosasco(ProcContext* ctx, int32_t kind);

// Weight matrices: cosfiwt reads a GLS matrix from INWGT= (0 when read);
// cosfiw1 (WLS) and cosfiw2 (DWLS) read INWGT= or accumulate the
// fourth-order moments of the raw data (with the kurtosis sums); 0, or kLevelNoMoments
// when the weights are incomplete or no observation could be used.
int32_t cosfiwt(ProcContext* ctx, int32_t listEntry);
int32_t cosfiw1(ProcContext* ctx, int32_t listEntry, int32_t weightEntry, int32_t freqEntry,
                const double* inverse, KurtosisList* list);
int32_t cosfiw2(ProcContext* ctx, int32_t listEntry, int32_t weightEntry, int32_t freqEntry,
                const double* inverse, KurtosisList* list);

// Binding of the special data sets' variables, once per step after the
// model is built: cosfop1 SYMATRIX DATA= and INRAM=; cosfop2 INEST= and
// INWGT=; cosfop3 the variables, TYPE and label of OUTSTAT=, OUTRAM=,
// OUTWGT= and OUTEST=.  Failures raise the error level and end the step
// above 999.
void cosfop1(ProcContext* ctx);
void cosfop2(ProcContext* ctx);
void cosfop3(ProcContext* ctx);

// Whether `name` is one that the model readers give to a covariance of
// the exogenous manifest variables that no statement gives: "_Exo" (any
// case) and a number.  An INEST= data set may lack such a parameter (an
// ML run's OUTEST= has none): it then starts at the sample value.
bool generated_exogenous_name(const NameRecord& name);

// Logs that variable `number` of `data`, named `name`, is not numeric,
// with the value that made it character when the host knows it.
void log_not_numeric(HostDataSet* data, int32_t number, const char* name);

// Writes one row of role `role` from the bound cells; a failed put is
// reported and the caller goes on.
void cos_write_row(ProcContext* ctx, int32_t role);

// The OUTEST= rows of a row kind (the optimizer's OUTEST= hook): -1 the
// start point, 10 a failed start, 0 the solution with its bounds,
// constraints and multipliers, 2..8, 11, 12 the matrix `data` with its
// determinant summary, 9 the constraint Jacobian.  Nothing without an
// OUTEST= binding.  Returns 0.
int32_t cosfoes(NlpProblem* p, int32_t kind, const double* data);
// The OUTEST= rows of the current iteration (the iteration output hook).
void cosfoit(NlpProblem* p);
// Reads the next observation of the current BY group of role `role` into
// its bound cells: 1 when one was read, 0 at the end of the group.
int32_t cos_read_row(ProcContext* ctx, int32_t role);

// Writes the OUTSTAT= rows (mode 1) or the OUTWGT= rows (mode 0) of the BY
// group.
void cosfout(ProcContext* ctx, int32_t mode);

// Publishes one determinant as a one-row output table named tableName
// (title message 352/titleNumber, template path templatePath) with the
// columns Label1 (message 352/rowLabelNumber), Determinant, CharDet (the
// determinant as text in at most 12 characters), Label2 (message 352/601)
// and LogDet.
//   logDet  the natural log of the determinant; a missing value of kind
//           'M' shows the determinant 0 ("0"); logDet >= 709.78271289339
//           (beyond the double range) shows "1.0E<decimal exponent>" and the
//           largest double as Determinant.
// A failing output call is reported through the host and stops the table.
void cosdet(ProcContext* ctx, HostText* tableName, int32_t titleNumber, double logDet,
            int32_t rowLabelNumber, HostText* templatePath);

namespace velix::detail {

// The arrays of the moment step (means, standard deviations, skewness,
// kurtosis, the bound row, the moment, inverse and weight matrices), made
// once per step from the step allocator; later calls do nothing.
void allocate_moment_arrays(ProcContext* ctx);

// The WLS weight matrix between order p* and order p* - n (the variance
// moments dropped) and back for its factor (penalty value v on the variance
// diagonal).
void takout(ProcContext* ctx);
void putin(ProcContext* ctx, double penalty);

// Automatic ridge: when *r is missing, the ridge that lifts the smallest
// eigenvalue of the packed matrix a (destroyed) to 0.001; 0, or -1 with
// *r missing when the eigenvalue could not be found.
//   work  work [6n];  index work [n]
int32_t ridge(int32_t n, double* a, double* work, int16_t* index, double* r);

// Missing start values of the model elements from random numbers or the
// start constant.
void setini(ProcContext* ctx);

// Completes the univariate and multivariate kurtosis measures from the
// sums of the raw pass.  d0, dm1, d2, d3: the divisors with 0, -1, 2 and 3
// degrees of freedom; haveInverse: Mardia's sum was accumulated.  Returns
// the number of listed contributions (0 when none are shown); the list's
// contributions become normalised.
int32_t kurtosis_coefficients(ProcContext* ctx, double d0, double dm1, double d2, double d3,
                              bool haveInverse, KurtosisList* list);

// Publishes a matrix table (manager method 388): name and template path
// "Tesk.Velix.<name>", title message 352/title, values stored by `storage`
// ("sc" symmetric packed, "r" by rows), rows and columns, NameRecord row and
// column labels (null: none), display integer 278 = style.  Returns the
// status of the call (negative: reported, nothing published).
int32_t publish_matrix(ProcContext* ctx, const char* name, int32_t title, const double* values,
                       int32_t rows, int32_t columns, const NameRecord* rowLabels,
                       const NameRecord* columnLabels, const char* storage, int32_t style);

// The NameRecords of the moment-matrix variables (the DATA= variables in
// use, then "Intercept" with an intercept variable), for labels and names.
const NameRecord* moment_names(ProcContext* ctx);

// The variables the moment readers take from DATA=: the nVar analysis
// variables, then the PARTIAL ones as resolved on DATA= (PARTIAL _NUMERIC_
// names none of them itself), each with its number on DATA= and its name.
struct ReadVariable {
    int16_t number = 0;
    NameRecord name;
};
std::vector<ReadVariable> read_variables(const ProcContext* ctx);
// Whether the packed moment matrix over `vars` (nAnalysis analysis
// variables, then the partial ones) gives every moment of the partial
// variables; if not, an ERROR names those whose moments are missing (they
// could not be swept out, and the analysis would silently be that of the
// moments without them).
bool partials_given(const double* matrix, const std::vector<ReadVariable>& vars, int32_t nAnalysis);

// The variable that names the matrix rows (of _TYPE_ dataType, or every
// row that is no MEAN, STD, USTD, N or SUMWGT row) of the current BY group
// of a data set without _NAME_: the row names that R's write.csv(cov(d))
// and pandas' to_csv() write; 0 when no character variable serves.
int16_t row_name_column(HostDataSet* data, int16_t typeVar, const char* dataType);

// An N row of a moment data set, row[count], read into *n by the rule of
// the N rows (the smallest value given; missing when none is) with what is
// wrong in it named: a second N row (*n given on entry), a value that is
// not a whole number; *conflict when the values differ, for the caller's
// message.  A negative value is an ERROR: false, *n unchanged.  quiet: the
// group is read again, its rows were named the first time.
bool read_n_row(const double* row, int32_t count, bool quiet, double* n, bool* conflict);

// A second statistic row (MEAN, STD, USTD, SUMWGT) of one group, `later`,
// that replaces `earlier` (both over vars, missing where not given): a
// WARNING names the row type, the first variable whose two values differ
// and both values.  Rows that agree say nothing.
void note_second_row(const char* type, const std::vector<ReadVariable>& vars, const double* earlier,
                     const double* later);

// The TYPE of OUTSTAT= and of its matrix rows: "SYMATRIX" for such input,
// "UCOV" or "UCORR" for moments about zero (UCOV, UCORR, NOINT without an
// intercept among the moments), else "COV" or "CORR".  A later step that
// reads the data set back gets the moments that were analysed.
const char* outstat_matrix_type(const ProcContext* ctx);

// The regression of the manifest variables on the PARTIAL ones, from the
// moment matrix of the variables read as the moment step holds it before
// it sweeps the partial variables out (correlations and the standard
// deviations under the divisor in force).  coefficients (when not null):
// n x q, the coefficient of manifest variable i on partial variable k at
// i*q + k, in the units of the data (0 for a partial variable that the
// others determine, which is not swept); residualCov (when not null): the
// packed covariance matrix of the residuals, order n, under the divisor in
// force.  n = nManifest, q = nPartial.
void partial_regression(ProcContext* ctx, std::vector<double>* coefficients, std::vector<double>* residualCov);

// The Mardia term d' A d of one centred observation d[m] over the packed
// inverse A of the variables other than `skip` (-1: none).
double mardia_term(const double* d, int32_t m, int32_t skip, const double* inverse);

// The WLS weight of a model with means (weights_about_means.cpp): the
// moments about zero of u = (x, 1) are weighed by the inverse of the
// covariance Gamma_0 of their products, formed about the sample means m as
// Gamma_0 = B Gamma_t B', Gamma_t the covariance of the products of
// (x - m, 1) and B the map of those products to the products about zero.
// True when this BY group's WLS weights are formed so: WLS from raw data
// of a model with means (the constant last among the manifest variables),
// covariances analysed, no partial variables.
bool wls_weights_about_means(const DataView& dv);
// Gamma_0 = B Gamma_t B' (packed, order p* = n(n+1)/2) from centred (packed
// Gamma_t over the same moments), the means m[n] (the constant's entry not
// read) and the constant k = n - 1.
void gamma_about_zero(const double* means, int32_t n, int32_t k, const double* centred, double* gamma);
// The Cholesky factor L of Gamma_0 (packed lower, order p*; L L' =
// B L_t L_t' B') from that of Gamma_t, centredFactor, without forming
// Gamma_0.  k = n - 1.
void factor_about_zero(const double* means, int32_t n, int32_t k, const double* centredFactor, double* factor);

}  // namespace velix::detail
