// The confidence-limit code of the optimizer's reporting: Wald limits
// est -+ z se and profile-likelihood limits, the parameter values at which
// the profiled objective (the others re-estimated) rises by a chi-square
// quantile with one degree of freedom (Venzon and Moolgavkar, "A method for
// computing profile-likelihood-based confidence intervals", Applied
// Statistics 37, 1988; Pawitan, In All Likelihood, 2001, sec. 3.4).
//
// The driver znlppli keeps one work record (LimitWork) for the duration of
// a call; ProfileSettings::record points at it so that the callbacks of the
// augmented system reach it.  Profile points and limits are fixed-length
// records on ProfileSettings::limitsFile: i32 parameter, i32 side (0 lower,
// 1 upper), i32 point kind or status, f64 level, f64 objective on the
// deviance scale, then the n-vector x of the point (n x 8 + 28 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "velix/nlp.h"

namespace velix::limits {

// Status of a limit record.  Found limits are 0; a fixed parameter 1; an
// estimate on its lower or upper bound 2 or 3; a limit at the bound that the
// profile met before its target 4.  A trace point has kind kPointKind.
enum LimitStatus : int32_t {
    kLimitFound = 0,
    kLimitFixed = 1,
    kLimitOnLower = 2,
    kLimitOnUpper = 3,
    kLimitAtBound = 4,
    kPointKind = 10
};

// One record of the limits file (the x vector is kept apart).
struct LimitRecord {
    int32_t param = 0;
    int32_t side = 0;
    int32_t status = 0;
    double level = 0.0;
    double value = 0.0;
};

// The records of one parameter side on the file: first index and count.
struct RecordRange {
    int64_t first = 0;
    int32_t count = 0;
};

// One level of the merged list: its alpha, whether it was requested, and
// the result slots of the side in hand (missing until found).
struct LevelSlot {
    double alpha = 0.0;
    bool wanted = false;
    double limit = 0.0;
    double target = 0.0;
    int32_t failure = 0;  // why a searched limit is missing (LimitFailure)
};

// Why a wanted limit stayed missing, for the log.
enum LimitFailure : int32_t {
    kFailNone = 0,
    kFailRefits = 1,     // the trace bracketed the target; the refits did not close in on it
    kFailAugmented = 2,  // the trace did not reach the target; the augmented system was not solved
};

// The constraints the augmented system holds with equality, taken from
// its start point and revised between its solves: bounds met by
// parameters other than k and the outer linear rows met there (every
// equality).  The residuals of the gradient live in Z, an orthonormal
// basis of the directions orthogonal to e_k and to these constraints'
// normals, so that the multipliers of the held constraints, like that of
// k, are no residuals; each held row adds a residual that keeps x on it.
struct AugmentedActive {
    std::vector<int32_t> heldParam;  // parameters held at a bound
    std::vector<double> heldSign;    // their inward normal: +1 at the lower bound, -1 at the upper
    std::vector<int32_t> heldRow;    // outer linear rows held with equality
    std::vector<double> rows;        // the outer linear rows, dense (nLinCon x n)
    std::vector<double> rowNorm;     // their Euclidean norms
    std::vector<double> basis;       // Z, column c at c n
    int32_t nz = 0;                  // its columns
};

// The driver's work record, reached by the callbacks of the augmented
// system through ProfileSettings::record.
struct LimitWork {
    NlpProblem* outer = nullptr;        // the saved copy of the whole outer problem
    int32_t technique = 0;              // technique of the augmented system
    int32_t callsF = 0;                 // objective calls of the augmented system
    int32_t k = 0;                      // the profiled parameter
    int32_t side = 0;                   // 0 lower, 1 upper
    double target = 0.0;                // the level's target on the deviance scale
    double scaledOptimum = 0.0;         // F = devianceScale x f at the estimate
    double c = 1.0;                     // factor of the quantiles
    double devianceScale = 2.0;         // ProfileSettings::devianceScale or its default
    double maxIter = 0.0;               // of each sub-optimization
    bool haveStdErrors = false;
    std::vector<double> stdErrors;      // used for the Wald limits and the planned points
    std::vector<LevelSlot> levels;      // the merged level list (descending alpha)
    std::vector<int32_t> selected;      // the treated parameters, ascending
    std::vector<RecordRange> points;    // per parameter and side (2k + side): the trace points
    std::vector<RecordRange> limits;    // per parameter and side: the limit records
    int64_t nRecords = 0;               // records written to the file
    std::vector<double> xEst, gradEst, lowerSaved, upperSaved;
    std::vector<int32_t> stateSaved;
    std::vector<double> r, gOuter, funWork;  // the augmented system's vectors
    std::vector<double> jac, jacX;      // its Jacobian and the point it belongs to
    std::vector<double> solved;         // its last solution on the side in hand (empty: none)
    AugmentedActive active;             // its active set
    double solvedValue = 0.0;           // the target that solution met
};

// Messages of the limits (group kMsgNlp).
constexpr int32_t kMsgNoQuantile = 271;      // a chi-square quantile failed (the level)
constexpr int32_t kMsgCannotProfile = 280;   // no technique or derivatives for the limits
constexpr int32_t kMsgProfiled = 281;        // end of a sub-optimization (the parameter)
constexpr int32_t kMsgNoStdErrors = 282;     // Wald limits asked for without standard errors
constexpr int32_t kMsgBadDevianceScale = 284;// devianceScale not positive (its value)
constexpr int32_t kMsgFreeRun = 285;         // a sub-optimization with the parameter free
constexpr int32_t kMsgFixedRun = 286;        // a sub-optimization with the parameter fixed
constexpr int32_t kMsgRefitsFailed = 287;    // a limit abandoned: side, parameter, alpha (kFailRefits)
constexpr int32_t kMsgNotSolved = 288;       // a limit abandoned: side, parameter, alpha (kFailAugmented)

// The levels of the profile grid, outward.
constexpr double kGridLevels[] = {0.75, 0.5, 0.35, 0.2, 0.15, 0.1, 0.075, 0.05, 0.035, 0.0225, 0.015, 0.01};
// The default set of requested levels.
constexpr double kDefaultLevels[] = {0.5, 0.1, 0.05, 0.01};

// ---- records (confidence_limits.cpp) ----
// Appends a record with the point x (n doubles); result its index.
int64_t write_record(LimitWork* w, const NlpProblem* p, const LimitRecord& r, const double* x);
// Reads record `index` and, when x is not null, its point.
void read_record(const LimitWork* w, const NlpProblem* p, int64_t index, LimitRecord* r, double* x);
// Appends a limit record for level slot `l` of the side in hand and counts
// it in the side's limit range.
void write_limit(LimitWork* w, NlpProblem* p, int32_t status, int32_t l, double limit, double target,
                 const double* x);

// A target or objective of the deviance scale as reported: divided by the
// deviance factor when the quantiles carry sigma2 (targetScaleKind 0 or 1),
// negated when the outer problem maximises.
double reported(const NlpProblem* p, const LimitWork* w, double v);
// Hands the limit of level slot `l` just found at x to the OUTEST= hook as
// row kind -11, when the limit points are asked for.
void limit_found_row(NlpProblem* p, const LimitWork* w, const LevelSlot& l);

// ---- the level grid and the Wald limits (confidence_limits.cpp) ----
// The merged, thinned level list: the grid with the requested levels marked
// or inserted (alphas in (0, 1)), descending.
std::vector<LevelSlot> merge_levels(const double* requested, int32_t count);
// z = Phi^-1(1 - alpha/2).
double wald_z(double alpha);
// The Wald limit of parameter j on `side` at alpha, clamped to its bounds;
// missing without a standard error.
double wald_limit(const NlpProblem* p, const LimitWork* w, int32_t j, int32_t side, double alpha);
// The chi-square quantile target F + c q of level alpha; false (message
// kMsgNlp/271) when the quantile cannot be computed.
bool level_target(const LimitWork* w, double alpha, double* target);

// Calls fn(l, t) for each wanted level l of the side in hand whose limit
// is still missing, t its target (also in w->target), and goes back to
// the estimate after each.  0, or -2 when a quantile cannot be computed
// or fn answers -2.
int32_t each_open_level(NlpProblem* p, LimitWork* w, const std::function<int32_t(size_t, double)>& fn);

// ---- profile limits by fixing the parameter (profile_limits.cpp) ----
// One sub-optimization from the current x with parameter k fixed at x[k]
// (fix) or free: the technique's status, -1 no feasible point, -2 a
// technique that cannot be used.
int32_t doopt(NlpProblem* p, int32_t fix, int32_t k);
// The limits of the side in hand from its stored trace.  0, or -2 when a
// technique failure ends the search.
int32_t znlppcl(NlpProblem* p);

// ---- profile limits by the augmented system (augmented_limits.cpp) ----
// The missing levels of the side in hand.  0, or -2 when a quantile cannot
// be computed.
int32_t znlpplc(NlpProblem* p);

// ---- tables and OUTEST= rows (limit_tables.cpp) ----
// mode 1 Wald limits only, 2 Wald and profile limits.
void priplc(NlpProblem* p, int32_t mode);
void foplc(NlpProblem* p, int32_t mode);

// Back to the estimate: x, the bounds and the bound states.
void restore_point(NlpProblem* p, const LimitWork* w);
// The work record of the call in progress.
LimitWork* work_of(const NlpProblem* p);

}  // namespace velix::limits
