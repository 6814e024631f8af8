// The shared work of the start-value estimators: the start moments (the
// sample moments of the manifest variables bordered by the still unknown
// moments of the latent variables), the maps between the model's variable
// indices and the rows of that matrix, the paths and variance elements of
// the model read as regression equations, and the helpers every estimator
// uses (the count of missing values, the spread of known values over equal
// parameters, the fill-in of latent moments by the model equations and the
// rule that moves estimates away from zero).
//
// Every estimator works on the LISREL-type reading of the model: variable
// `row` of a path is regressed on variable `col` (Joreskog and Sorbom,
// "LISREL 8 User's Reference Guide", 1996, ch. 1).
#pragma once

#include <cstdint>
#include <vector>

#include "numerics/kernel_support.h"
#include "velix/proc_context.h"

namespace velix::detail {

// Thresholds shared by the estimators: machine epsilon (relative
// negligibility), the square root of the smallest normal double (a
// vanishing sum of squares), and the floor that keeps coefficients and
// loadings away from zero (a start at exactly zero leaves some techniques
// without a direction).
constexpr double kStartEpsilon = velix::kMachEpsWritten;
constexpr double kStartTiny = velix::kSqrtDblMinWritten;
constexpr double kCoefficientFloor = 0.01;

// The model kinds the estimators read.
enum class StartKind { kRam, kLineqs, kFactor };

// A path: element `e` makes variable `row` depend on variable `col`
// (positions of the start moments).
struct StartPath {
    int32_t e, row, col;
};

// A variance or covariance element `e` of the variables at positions
// (r, c), r >= c not required.
struct StartVariance {
    int32_t e, r, c;
};

// The start moments and the maps of one call of a start-value cascade.
// Owner: the cascade (cosines, cosinfa), which builds it once per call and
// hands it to every estimator; the estimators only write element values and
// entries of `s`.
struct StartWork {
    ProcContext* ctx = nullptr;
    StartKind kind = StartKind::kRam;
    int32_t n = 0;                 // manifest variables (positions 0..n-1)
    int32_t order = 0;             // N: all positions, latent after the manifest
    HostAllocator* pool = nullptr; // the call's memory pool, deleted with the work
    double* s = nullptr;           // PackedSym[N(N+1)/2] from the pool; missing = not yet known
    int64_t sCount = 0;            // N(N+1)/2
    std::vector<int32_t> complete; // [N] 1 when row i of s has no missing entry
    std::vector<int32_t> varCode;  // [N] LINEQS variable code of each position
    std::vector<int32_t> endoMap;  // [endogenous indices] position, -1 none
    std::vector<int32_t> exoMap;   // [exogenous indices] position, -1 none
    std::vector<int32_t> phiMap;   // [_PHI_ indices] position, -1 none
    int32_t range[3][2] = {};      // first and one-past-last element of modes 0, 1, 2
    std::vector<StartPath> paths;           // every path with both ends placed
    std::vector<StartVariance> variances;   // every variance element with both ends placed
    std::vector<std::vector<int32_t>> equation;  // [N] indices into paths of row i
    // Elements [first, last) that hold standard deviations rather than
    // variances (the FACTOR unique part entered as _U_ _I_ _U_'): a variance
    // estimate is written there as its square root.
    int32_t sdElements[2] = {0, 0};
    // Set by the cascade when the latent step leaves no coefficient
    // missing: it goes on to the variances at once.
    bool skipCoefficients = false;

    StartWork() = default;
    StartWork(const StartWork&) = delete;
    StartWork& operator=(const StartWork&) = delete;
    ~StartWork();

    double& at(int32_t i, int32_t j);
    double get(int32_t i, int32_t j) const;
    double& value(int32_t e) const { return ctx->elements.value[e]; }
    int32_t parameter(int32_t e) const;  // |parameter number|
};

// The units of a path coefficient from its column c to its row r:
// sqrt(s_rr / s_cc) from the start moments, 1 when either is unknown.  The
// floor of a coefficient is taken in these units, so that a change of the
// units of a variable changes the start values by its factor and no more.
double path_units(const StartWork* w, const StartPath& a);

// Results of build_start_work.
enum StartWorkStatus : int32_t {
    kStartWorkReady = 0,
    kStartWorkInconsistent = 1,  // the model's tables do not allow it: reported by the caller
    kStartWorkNoMemory = 2,      // the pool failed: the memory messages are logged
};

// Builds the work of an equation model (RAM or LINEQS) or of a FACTOR model
// with k factors.
//   ctx in      the model, its reader results and the moments of the group
//   w   out     the start moments (manifest part from the sample, latent rows
//               missing), the maps, paths and variance elements
StartWorkStatus build_start_work(ProcContext* ctx, StartWork* w);

// The number of missing element values in the range of `mode` (0 all, 1
// the coefficients, 2 the variances and covariances), after writing
// `complete` (out) and spreading known values over equal parameters
// (in-out: the element values).
int32_t parmis(StartWork* w, int32_t mode);

// Fills missing latent entries of s (in-out) from the model equations and
// the known coefficients, pass by pass until a pass fills nothing.
void getcov(StartWork* w);

// The count of pairs of missing elements in [first, last) that share a
// parameter.
int32_t equality_pairs(const StartWork* w, int32_t first, int32_t last);

// Moves an estimate away from zero: |v| < floor becomes -floor or floor.
double away_from_zero(double v, double floor);

// Writes the start-value note `number` of group 352 when the notes are
// wanted; false when the note call failed (the caller stops).
bool start_note(ProcContext* ctx, int32_t number);

// Copies every known element value to the optimizer's start vector (the
// mean over the elements of a parameter); a value that is not finite is set
// back to missing first.
void values_to_start_vector(ProcContext* ctx);

// The singularity bound `tol` in the units of the packed matrix a (order
// n): tol times its smallest positive diagonal element (tol itself when
// there is none).  The moments of variables in small units, or of many
// observations (which scale every moment), then keep their pivots; a row
// whose pivot is a share of at most tol of its diagonal is still
// negligible.
double tol_in_units(double tol, int32_t n, const double* a);

// Solves the symmetric positive definite system a x = b by Cholesky.
//   a  in      PackedSym[k(k+1)/2] (a copy)
//   b  in-out  k doubles: the right-hand side, replaced by x
// False when a pivot is not above tol.
bool cholesky_solve(int32_t k, double tol, std::vector<double> a, std::vector<double>* b);

// The elements on the constant of a model with means, set aside while the
// cascade runs on the covariances about the means (mean_starts.cpp).
struct MeanStartWork {
    int32_t at = -1;              // position of the constant, -1 when the model has none
    std::vector<double> means;    // [at] the sample means of the other manifest variables
    std::vector<int32_t> elements;  // paths from the constant and covariances with it
    std::vector<double> saved;      // their values before the cascade (missing = to estimate)
};

// Turns the manifest moments of w about zero into covariances about the
// means, the constant uncorrelated with its own moment kept, and sets the
// elements on the constant to 0 for the cascade.  Does nothing for a model
// without the constant of AUGMENT.
//   w  in-out  the start moments and element values
//   m  out     the means and the elements set aside
void centre_for_means(StartWork* w, MeanStartWork* m);

// Gives the elements on the constant their values back and estimates the
// missing ones by least squares from the sample means, the other element
// values as the cascade left them.
//   w  in-out  element values
//   m  in      what centre_for_means set aside
void mean_starts(StartWork* w, const MeanStartWork& m);

// The estimators of the cascade, each on the shared work (in-out: the
// missing element values of free parameters and the entries of s).
// Results as the cascade reads them: 0 success, nonzero nothing assigned or
// a failure (cosindp: the number of variances whose equation still lacks a
// coefficient).
int32_t cosindc(StartWork* w);  // composites for the latent moments
int32_t cosinda(StartWork* w);  // pooled least squares of all coefficients
int32_t cosindb(StartWork* w);  // least squares equation by equation
int32_t cosindp(StartWork* w);  // error variances and covariances
int32_t cosin2s(StartWork* w);  // two-stage least squares
int32_t cosinjo(StartWork* w);  // latent moments by instrumental variables
int32_t cosinf2(StartWork* w);  // latent moments by principal factors

}  // namespace velix::detail
