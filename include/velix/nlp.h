// The optimizer library's problem block, its hook block and the profile
// settings, with the codes the library shares with its callers.
//
// NlpProblem is the first argument of every optimizer routine.  It is made
// of owned parts: the sizes and problem kind, the options (each with its
// meaning, default, valid range and the routine where it enters), the
// callbacks through which the library reaches its user, and the state of a
// run, grouped by the unit of the optimizer that owns it (the active set,
// the run's counters, the iteration's values, the work vectors, the finite
// differences, the reporting and the output); other units read a part.  The
// owner of the blocks (the procedure, or a test) clears them, links them,
// fills sizes, options and callbacks, and may save and restore them whole.
// The library knows its user only as the opaque pointer `user`.
//
// Conventions: counts and codes are 32-bit integers, real values doubles; a
// value that failed to be computed holds the host's missing value.  Vectors
// hold nParams doubles unless said; symmetric matrices are packed lower
// triangles by rows (PackedSym) of packedLen entries.  Pointers are owned by
// whoever filled them; the library never frees them.
//
// Constraint numbering: general rows 0 .. nLinCon-1 are linear, equalities
// first (a x = b), then inequalities (a x >= b); row nLinCon + j is
// nonlinear constraint j, = 0 for the first nNlinEq, >= 0 for the rest.
// Where one index names a bound or a row: 0 .. n-1 the lower bound of
// parameter j, n .. 2n-1 the upper bound of parameter j-n, 2n + k row k.  A
// lower bound of -DBL_MAX or an upper bound of DBL_MAX is absent.
#pragma once

#include <cstdint>

#include "velix/types.h"

struct HostFile;
struct HostObject;
struct NlpProblem;
struct NlpHookBlock;

// ---------------------------------------------------------------------------
// Codes shared by the library and its callers.

// NlpStatus: result of the driver, the techniques and the termination test.
// A result is usable when it is 0 or more, or -5 or less but neither -10
// nor -11 (nlp_status_usable).
enum NlpStatus : int32_t {
    kNlpContinue = 0,          // go on (termination test); finished without a criterion (driver)
    kNlpAbsConv = 1,           // criteria 1..9, in this order
    kNlpAbsFConv = 2,
    kNlpAbsGConv = 3,
    kNlpAbsXConv = 4,
    kNlpFConv = 5,
    kNlpGConv = 6,
    kNlpXConv = 7,
    kNlpFConv2 = 8,
    kNlpGConv2 = 9,
    kNlpAllFixed = 10,         // every parameter fixed by active bounds and constraints
    kNlpRestart = 100,         // a post-convergence step moved the point: restart from it
    kNlpCountingBase = 100,    // 102..109: stopped while criterion (status - 100) was counting
    kNlpStartFunction = -1,    // objective or constraint values fail at the start point
    kNlpStartDerivative = -2,  // gradient or constraint Jacobian fail at the start, or a check failed
    kNlpFinalFunction = -3,    // objective or constraint values fail at the final point
    kNlpFinalDerivative = -4,  // gradient or constraint Jacobian fail at the final point
    kNlpRose = -5,             // the objective rose by more than ABSFCONV
    kNlpTechniqueStop6 = -6,   // technique-specific stops
    kNlpTechniqueStop7 = -7,
    kNlpLimit = -8,            // iteration or function-call limit
    kNlpTimeLimit = -9,        // time limit
    kNlpInfeasible = -10,      // no feasible start point
    kNlpNotUsable = -11        // the technique's result is not usable (or it is not available)
};

// A run's result can be used by its caller.  -10 (no feasible start point)
// is not a solution even though the rule "-5 or less" would admit it.
constexpr bool nlp_status_usable(int32_t status) {
    return status >= 0 || (status <= kNlpRose && status != kNlpInfeasible && status != kNlpNotUsable);
}

// The default GCONV; a run that could not go on at a point within it
// stopped at a solution.
constexpr double kNlpDefaultGConv = 1e-8;

// A run's result met a convergence criterion (or every parameter was
// fixed): the point is a solution, not only the last point of a run that
// stopped at a limit or could not go on.  Only such a point has standard
// errors.
constexpr bool nlp_status_converged(int32_t status) { return status >= 0 && status <= kNlpAllFixed; }

// UpdateCode (NlpProblem::opt.update): primal QUANEW 2 DFP, else BFGS; dual
// QUANEW, DBLDOG, HYQUAN 1 DBFGS, 2 DDFP; CONGRA 1 PB, 2 FR, 3 PR, 4 CD.
enum UpdateCode : int32_t { kUpdateBfgs = 1, kUpdateDfp = 2 };

// Evaluation phases (NlpProblem::run.evalPhase): why the callbacks are called.
enum NlpEvalPhase : int32_t {
    kPhaseFinal = -1,           // final evaluation after a run
    kPhaseStart = 2,            // start point
    kPhaseConstraintsOnly = 3,  // constraint values or Jacobian alone (feasible-point search)
    kPhaseRun = 4,              // during the run
    kPhasePostConvergence = 6,  // perturbation and negative-curvature steps
    kPhaseFdGradient = 7,       // finite-difference gradient or Jacobian
    kPhaseFdHessianF = 8,       // finite-difference Hessian from function values
    kPhaseFdHessianG = 9,       // finite-difference Hessian from gradients
    kPhaseLagrangeHessian = 10, // Hessian of the Lagrange function
    kPhaseFdConJacobian = 11    // finite-difference constraint Jacobian
};

// What was evaluated last at the current point (NlpProblem::run.lastEval).
enum NlpLastEval : int32_t { kLastObjective = 1, kLastGradient = 2, kLastHessian = 3 };

// ---------------------------------------------------------------------------
// Callback types.  Every slot takes its block first; evaluation callbacks
// read the point from NlpProblem::param.x and return 0 for success, anything else
// for failure.

using NlpCallback = int32_t (*)(NlpProblem* p);
// Row k of the combined constraint matrix into row[nParams].
using NlpRowCallback = int32_t (*)(NlpProblem* p, int32_t k, double* row);
using NlpHook = void (*)(NlpProblem* p);
// The termination test: (problem, situation code) -> NlpStatus.
using NlpTerminationFn = int32_t (*)(NlpProblem* p, int32_t code);
// A quasi-Newton update of the matrix of the given storage (1 packed
// inverse approximation, 2 LDL' factor of the Hessian approximation, else a
// Cholesky factor) over the free space, from the step s and the gradient
// change y; scale nonzero lets the update rescale the matrix first.  n is
// the full dimension; the update works on k = n - nActiveBounds -
// nActiveLin entries of s and y (s may be overwritten).  work1 and work2
// hold k doubles each, work3 k*k doubles.
using NlpUpdateFn = int32_t (*)(NlpProblem* p, int32_t storage, int32_t scale, int32_t n, double* s,
                                double* y, double* matrix, double* work1, double* work2, double* work3);
// A post-run hook: flag 0 after a successful start phase, 1 after a usable
// run, -1 after a failed start phase (matrix print only).
using NlpPostRunHook = void (*)(NlpProblem* p, int32_t flag);
// Writes output data-set rows of a kind.
using NlpOutestHook = int32_t (*)(NlpProblem* p, int32_t rowKind, const double* data);
// A technique routine of the driver's dispatch table.
using NlpTechniqueFn = int32_t (*)(NlpProblem* p);

// ---------------------------------------------------------------------------
// Profile-limit settings (the PROFILE statement), reached through the hook
// block.  Filled by the procedure's option reader and problem set-up (the
// owner); read by the confidence-limit code of the optimizer's reporting,
// which keeps its work record in `record` for the duration of one call.
struct ProfileSettings {
    void* record = nullptr;        // the confidence-limit driver's work record while it runs
    int32_t method = 0;            // 0 none; nonzero runs the limits after a successful run.  The
                                   // owner writes 1 parameters, 2 default set, 3 parameters with
                                   // levels; the driver rewrites it (2 with useDefaults, else 3 with
                                   // levels, else 1) and computes profile limits from 2 on
    int32_t targetScaleKind = 0;   // 1 (0 is taken as 1): quantiles times sigma2 and reported
                                   // targets divided by devianceScale; any other value: quantile
                                   // factor 1.  The procedure writes 2 unless PROFILE MAX= is given
    int32_t useDefaults = 0;       // ProfileDefaults: 0 as requested, 1 the default set with
                                   // profile limits, 2 Wald limits only
    int32_t nAlpha = 0;            // number of requested levels in alphas
    int32_t printLimits = 0;       // 0 no tables, 1 tables, 2 also the sub-optimizations' output
    int32_t outestLimitRows = 0;   // write each limit point found as an OUTEST= row (-11)
    int32_t outestRows = 0;        // write the Wald, profile-limit and profile rows (-12, -13)
    int32_t nSelected = 0;         // number of parameters to treat; 0 all n
    int32_t* selected = nullptr;   // their 0-based indices (sorted ascending before use)
    double maxIter = 0.0;          // iteration limit of each sub-optimization; missing: 100
                                   // LEVMAR, 400 QUANEW, 1000 CONGRA (> 0)
    double startScale = 0.0;       // factor on the Wald reach of the planned profile points;
                                   // missing: the points are the Wald limits themselves (> 0)
    double devianceScale = 0.0;    // factor that turns the objective into the deviance scale;
                                   // missing: 2.0 (> DBL_MIN); the procedure writes N'
    double* alphas = nullptr;      // the requested levels alpha, each in (0, 1)
    HostFile* limitsFile = nullptr;// the driver's scratch file of profile points and limits
};

// ProfileSettings::useDefaults.
enum ProfileDefaults : int32_t { kProfileAsRequested = 0, kProfileDefaultSet = 1, kProfileWaldOnly = 2 };

// What a confidence-limit row hands to the OUTEST= hook (kinds -11, -12,
// -13) besides its vector.  Owner: the confidence-limit code; cleared after
// each row.
struct NlpLimitRow {
    int32_t side = 0;     // -11: 0 lower, 1 upper; -12: 1 Wald lower, 2 Wald upper, 3 profile
                          // lower, 4 profile upper; -13: -1 the estimates, 1, 2, ... the points
    int32_t param = 0;    // -11: the profiled parameter (0-based)
    double alpha = 0.0;   // the level alpha of the row
    double target = 0.0;  // -11, -12: the target objective of the level
};

// ---------------------------------------------------------------------------
// The current row of the iteration history, refreshed by the termination
// test's history printer before each row; the table's columns read it.
struct NlpIterRecord {
    int32_t activeCount = 0;  // nActiveLin + nActiveBounds
    int32_t iteration = 0;    // the iteration number
    double objective = 0.0;   // f, sign changed when maximising
    double change = 0.0;      // fPrev - f (DBL_MAX at the start)
    double gradient = 0.0;    // largest projected gradient (or Lagrange gradient)
    double extra = 0.0;       // the technique's further value (gconvMeasure)
};

// Handles of the library's output: the KYR object for its notes and tables
// and the open iteration-history table.  Owner: the driver (kyrObject,
// given by the caller) and the history printer (the rest).
struct NlpOutputState {
    HostObject* kyrObject = nullptr;      // the library's KYR object (kyrManager in the reporting code)
    HostObject* iterHistTable = nullptr;  // the open "IterHist" table, null when closed
    HostObject* iterHistOut = nullptr;    // its bound output
    char mark1 = ' ';                     // "Ac1": the action mark of the technique (iterMark1Cell)
    char mark2 = ' ';                     // "Ac2": the active-set change (iterMark2Cell)
};

// The determinant record of a stored matrix: the determinant is
// mantissa x 10^exponent (1 <= |mantissa| < 10), then the numbers of
// positive, negative and zero eigenvalues; a negative count of negative
// eigenvalues marks a record not yet computed.  Kept on the matrix file in
// front of each matrix.
struct DeterminantRecord {
    double mantissa = 0.0;    // 1 <= |mantissa| < 10, the determinant's sign included
    double exponent = 0.0;    // the power of ten
    double nPositive = 0.0;   // positive eigenvalues
    double nNegative = -1.0;  // negative eigenvalues; negative: not yet computed
    double nZero = 0.0;       // zero eigenvalues
};

// State of the covariance and matrix reporting.  Owner: optimizer/reporting.
struct NlpReportState {
    DeterminantRecord matrixHeader;  // the record of the matrix in hand
    int32_t crossProductVariant = 0; // 1 while the hook asks crossProductFn for the second
                                     // cross-product matrix, else 0 (read by the callback)
    int32_t hasSecondOrder = 0;      // the technique left second-order multipliers in workN2
};

// ---------------------------------------------------------------------------
// The parts of NlpProblem.  Each is one named member of the block; its
// comment names the owner that fills it.  Other units only read a part.

// Sizes and problem kind.  Owner: the library's user, before the driver
// runs (nEqTotal and nConTotal are then lowered by the active set for each
// dependent row).
struct NlpShape {
    int32_t nParams = 0;        // n, number of parameters (>= 0)
    int32_t packedLen = 0;      // n(n+1)/2
    int32_t nFunctions = 0;     // m, functions of a least-squares objective: length of funValues,
                                // rows of its Jacobian, count of functionNames (once nFunctionRows)
    int32_t maximize = 0;       // nonzero: maximise; the termination test and printed values
                                // change its sign
    int32_t leastSquares = 0;   // the objective is a sum of squares of the nFunctions functions
    int32_t sumAbsolute = 0;    // the objective is the sum of absolute values of the functions
    int32_t scalarObjective = 0;// the objective has no function vector
    int32_t quadraticOnFile = 0;// a quadratic objective kept on a utility file (2: with its
                                // linearTerm); derivative checks are skipped then
    HostFile* hessianFile = nullptr; // the utility file of that quadratic: its Hessian record
                                // (count, positions, values) from byte 0 (znlphlo)
    int32_t hasBounds = 0;      // bounds present (lower, upper)
    int32_t hasLinCon = 0;      // general linear constraints present
    int32_t hasNlinCon = 0;     // nonlinear constraints present
    int32_t nLinCon = 0;        // general linear rows, equalities first
    int32_t nLinEq = 0;         // linear equalities among them
    int32_t nNlinCon = 0;       // nonlinear constraints: length of conValues, rows of conJacobian
    int32_t nNlinEq = 0;        // nonlinear equalities, the first rows
    int32_t nEqTotal = 0;       // equality constraints of every kind (lowered per dependent row)
    int32_t nConTotal = 0;      // constraints of every kind (lowered per dependent row)
    int32_t linRowsSparse = 0;  // linRows holds compressed rows (linColIndex, linRowEnd)
};

// The options.  Owner: the option set-up (the procedure's, or the caller's),
// which stores the user's values, validates them and then calls
// znlp_default_options.  Doubles are the host missing value until given.
// "Default" below is the value znlp_default_options writes over a missing
// (or, for the step controls, out-of-range) value, by technique where
// said; an option without one keeps the value its owner wrote (the field's
// initial value unless said).
struct NlpOptions {
    // Print and technique.
    double printLevel = 0.0;    // >= 0: 0 nothing; >1 iteration history; >3 option table; >4 the
                                // parameters after each history row; 3, >=4 more detailed start
                                // and result tables.  Enters: driver, termination test, printers
    int32_t technique = 0;      // TechniqueCode; 0 keeps the preset.  Enters: driver dispatch
    int32_t techVariant = 2;    // 1..3, default 2; QUADAS with 1 runs its first form.  Enters:
                                // driver, znlp_default_options (conFactorForm)
    int32_t update = 0;         // UpdateCode, 0 the technique's own.  Enters: the option set-up's
                                // update slot choice, the lsPrecision default
    int32_t lineSearch = 0;     // LINESEARCH 1..8 (others: 2); not given: 11 GAUNEW, 12 HYQUAN,
                                // 2 CONGRA, QUANEW, NEWRAP, else 0.  Enters: the line-search slot
    int32_t scalingKind = 0;    // Newton-type parameter scaling: 0 none, 1 running maximum,
                                // 2 damped, 3 latest
    double hesCal = 0.0;        // HESCAL as read; the option set-up turns 1..3 into scalingKind,
                                // any other value into 0; missing: 1 for LEVMAR, else 0
    int32_t startFromHessian = 0; // quasi-Newton start matrix from the Hessian
    double inHessian = 0.0;     // INHESSIAN; missing = automatic start matrix (Hessian start)
    double restart = 0.0;       // RESTART; missing: 0 CONGRA, 60 LEVMAR, 2147483647 others
    int32_t activeSetOption = 0;// nonzero: the final factor reset keeps the active set (k = 2).
                                // Enters: driver

    // Constraints and factors.
    double feasTol = 0.0;       // LCEPS, base feasibility tolerance (> 0); the working one is
                                // feasTol * 10^feasRound.  Default 1e-8.  Enters: feasibility tests
    double linDepTol = 0.0;     // LCSINGULAR, linear dependence of entering rows (> 0).
                                // Default 1e-8.  Enters: active set
    double lagMultTol = 0.0;    // LCDEACT, multiplier threshold of the active set; missing or
                                // <= 0: automatic.  Enters: multipliers and dropping
    int32_t conFactorForm = 0;  // 0 no general constraints, 1 dense active-set factor in memory,
                                // 2 sparse on conFactorFile (every other value is treated as 1).
                                // Always written: 0 without general constraints, 2 for the first
                                // form of QUADAS, else 1.  Enters: active set, techniques
    HostFile* conFactorFile = nullptr; // utility file of the sparse form, 0 for memory
    double singularTol = 0.0;   // SINGULAR, singularity tolerance of the factorizations (> 0).
                                // Default 1.053671212772351e-08.  Enters: factor kinds,
                                // reduced-space operations

    // Line search.
    double stepCap = 0.0;       // MAXSTEP, largest step factor (> 0).  Default 1 (0.5 NMSIMP with
                                // nonlinear constraints).  Enters: line searches
    double earlyStepCap = 0.0;  // DAMPSTEP, cap of the first earlyStepSearches steps (> 0);
                                // default DBL_MAX (off).  Enters: line searches
    int32_t earlyStepSearches = 0; // number of line searches the early cap applies to (>= 0;
                                // 0 turns the cap off); DAMPSTEP= given: the first 5
    double inStep = 0.0;        // INSTEP, first trial step (> 0); missing: automatic (NEWRAP 4).
                                // Also the PROC step parameter.  Enters: line searches
    double lsPrecision = 0.0;   // LSPRECISION in (0, 1): 0.9 NEWRAP, 0.06 quasi-Newton with DFP,
                                // 0.4 QUANEW with BFGS, else 0.1.  Enters: line searches
    double stepLimit = 0.0;     // absolute upper limit of a trial step (> 0); default 1e20.
                                // Enters: line searches, termination test (note 40/41)
    double perturbSize = 0.0;   // size of the post-convergence perturbation; missing (the
                                // procedure's preset) turns the post-convergence steps off.
                                // Enters: termination test

    // Derivatives.
    int32_t derivCheckMode = 0; // 0 no derivative checks; nonzero allows the start-phase checks;
                                // 2 adds the Hessian check; 3 asked by GRADCHECK.  Enters: driver
    int32_t derivLevel = 0;     // derivative level of the technique, 0 none, 1..4; line searches
                                // 6 and 8 use the slope when nonzero
    int32_t derivDigits = 0;    // FD=, FDHESSIAN= digits (derivOpts in the reporting code): 0
                                // analytic, 1 forward, 2+ central differences; units gradient, tens
                                // least-squares Jacobian, hundreds cross product, thousands Hessian
                                // (3, 4 forward, central from gradients), ten-thousands constraint
                                // Jacobian.  Enters: finite differences, termination test
    double fdSwitchFactor = 0.0;// factor on the gradient thresholds of the switch from forward to
                                // central differences; <= 0 turns it off.  Enters: termination test
    int32_t fdIntervalMode = 0; // interval estimation before the first gradient: 0 off,
                                // 1 objective, 2 constraints, 3 both.  Enters: driver
    double fDigits = 0.0;       // FDIGITS, accurate digits of the objective (> 0); default
                                // -log10(2 eps).  Enters: finite-difference intervals, fConv
    double cDigits = 0.0;       // CDIGITS, accurate digits of the constraints (> 0); default as
                                // fDigits.  Enters: finite-difference intervals
    int32_t crossProductForm = 0; // form of the cross-product terms: 0 plain J'J; else least
                                // squares weighs them by the squared function value, another
                                // composite objective divides them by the function value.
                                // Enters: Jacobian store, finite-difference cross products
    int32_t hessianStorage = 0; // storage of hessian: 1 sparse (hessianPattern), 2 diagonal,
                                // else PackedSym
    HostFile* jacobianFile = nullptr; // utility file of the least-squares Jacobian store
    int32_t refreshFBeforeConJac = 0; // with nonlinear constraints, evaluate the objective again
                                // before the constraint Jacobian.  Enters: driver

    // Limits (missing or DBL_MAX: none; a value not above 0 stops the run at
    // once with -8 or -9).  Enters: driver, termination test.
    double maxTime = 0.0;       // MAXTIME seconds; default DBL_MAX
    int32_t minIter = 0;        // MINITER, iterations before a criterion other than ABSCONV may
                                // end the run (>= 0); default 0
    double maxIter = 0.0;       // MAXITER; default by technique (200 Newton-type, 500
                                // quasi-Newton and CONGRA, 1000 simplex)
    double nlcIterLimit = 0.0;  // the second MAXITER number (nonlinear constraints); default
                                // maxIter
    double maxFunc = 0.0;       // MAXFUNC, function calls; default 500 Newton-type, 3000
                                // simplex, else 1000

    // Termination thresholds (>= 0 unless said), in the order of the
    // criteria 1 to 9; defaults by the option set-up.  Enters: termination test.
    double absConv = 0.0;       // ABSCONV: -1.3407807929943e+154 (+ when maximising)
    double absFConv = 0.0;      // ABSFCONV: 0
    double fConv = 0.0;         // FCONV: 10^-fDigits
    double fConv2 = 0.0;        // FCONV2: 1e-6 with nonlinear constraints or for simplex, else 0
    double absXConv = 0.0;      // ABSXCONV: 0 (simplex 1e-8, 1e-4 with nonlinear constraints)
    double xConv = 0.0;         // XCONV: 0 (simplex 1e-8)
    double absGConv = 0.0;      // ABSGCONV: 1e-5 (simplex 0)
    double gConv = 0.0;         // GCONV: 1e-8 (simplex 0)
    double gConv2 = 0.0;        // GCONV2: 0
    double fSize = 0.0;         // FSIZE: 0, floor of |f| in the relative tests
    double xSize = 0.0;         // XSIZE: 0, floor of |x| in the relative tests
    int32_t* critCounts = nullptr; // [20]: entry k-1 the successive iterations criterion k (2..9)
                                // must hold (0 not counted), entry k+9 how many it has held
    int32_t presetCriteria = 0; // bit k set: the threshold of criterion k (1..9) is the preset
                                // the option set-up filled in, not one the user gave.  A claim
                                // of a preset criterion is checked before it ends a run
    int32_t claimsUnchecked = 0;// 1: no claim of the run is checked (a sub-problem whose objective
                                // is not the owner's, whose matrices the check would read)
};

// The callback slots.  Owner: the library's user (evaluation) and the
// option set-up (the library's own routines).  An empty gradient,
// constraint-value or constraint-Jacobian slot counts as success; the
// objective must be set.
struct NlpCallbacks {
    NlpCallback objectiveFn = nullptr;       // f at x into f; counts nFun
    NlpCallback gradientFn = nullptr;        // the gradient at x into gradient
    NlpCallback residualJacobianFn = nullptr;// the m x n least-squares Jacobian to its store
    NlpCallback hessianFn = nullptr;         // the Hessian or its cross-product approximation
    NlpCallback conValuesFn = nullptr;       // conValues at x
    NlpCallback conJacobianFn = nullptr;     // conJacobian at x
    NlpCallback resetFn = nullptr;           // restart notification (hybrid quasi-Newton)
    NlpHook iterOutputHook = nullptr;        // per-iteration output row; result ignored
    NlpTerminationFn terminationFn = nullptr;// the termination test (znlptrm)
    NlpRowCallback conRowFn = nullptr;       // row k of the combined constraint matrix
    NlpUpdateFn updateFn = nullptr;          // quasi-Newton update (znlpdfp or znlpbfg)
    NlpCallback lineSearchFn = nullptr;      // line search from xBase along direction
};

// The parameters: their names, the point, its bounds and scaling.  Owner:
// the library's user, which fills the arrays (n entries each) and reads the
// solution from x; the driver measures the name widths at the start.
struct NlpParams {
    NameRecord* paramNames = nullptr;     // n names, may be null
    NameRecord* functionNames = nullptr;  // m names, may be null
    int32_t paramNameWidth = 0;           // longest parameter name (driver start phase)
    int32_t functionNameWidth = 0;        // longest function name (driver start phase)
    double* x = nullptr;         // the current point
    double* lower = nullptr;     // lower bounds, -DBL_MAX when absent (lowerBounds in reporting)
    double* upper = nullptr;     // upper bounds, DBL_MAX when absent (upperBounds in reporting)
    double* scale = nullptr;     // parameter scaling
    double* paramRow = nullptr;  // cells bound to the parameter variables of OUTEST= and INEST=
    double* unit = nullptr;      // the size of each parameter in the units of its problem's data
                                 // (0 unknown), or null: what the claim check takes as large
};

// The constraints: the linear rows and the nonlinear constraints' values.
// Owner: the library's user for the rows, labels and right-hand sides; the
// driver's evaluation wrappers for conValues and conJacobian.
struct NlpConstraints {
    double* linRows = nullptr;       // linear rows, dense (nLinCon x n) or compressed nonzeros
    double* linRhs = nullptr;        // their right-hand sides
    int32_t* linColIndex = nullptr;  // compressed rows: column of each nonzero
    int32_t* linRowEnd = nullptr;    // compressed rows: one past the last nonzero of each row
    uint16_t* conKinds = nullptr;    // kind of each nonlinear constraint, read as int16_t: from
                                     // 0 its value is body - nlcRhs, negative nlcRhs - body
    double* nlcRhs = nullptr;        // right-hand sides of the owner's nonlinear constraints
                                     // (conBase in reporting)
    const char* conLabels = nullptr; // nNlinCon labels of conLabelWidth characters, or null
    int32_t conLabelWidth = 0;       // 0: no labels
    double* conValues = nullptr;     // nNlinCon constraint values at x
    double* conJacobian = nullptr;   // nNlinCon rows of n doubles at x
};

// The active set: which bounds and rows hold with equality, the factor of
// the active rows and the multipliers.  Owner: the active-set routines
// (adding, dropping, factor updates, multipliers); techniques read it.
struct NlpActiveSet {
    int32_t* boundState = nullptr;   // n: 0 free, 1 at lower, -1 at upper, 2 fixed
    int32_t* freeList = nullptr;     // n: free parameters first (freeIndex elsewhere)
    int32_t* activeList = nullptr;   // active rows
    int32_t* workList = nullptr;     // n + rows + 1 indices of scratch: the rows and bounds being
                                     // sorted for dropping, saved or re-entered active lists
    int32_t* pivotOrder = nullptr;   // n: the pivot order of the active rows' factor when it is
                                     // built with pivoting (the multipliers undo it)
    double* reducedHessian = nullptr;// packed Z'HZ on the null space of the active rows
    double* reducedGradient = nullptr;// Z'g, the gradient in the null space of the active rows
    double* multipliers = nullptr;   // bounds first, then active rows; an upper bound's negated
    double* rowBuffer = nullptr;     // n doubles: one constraint row
    double* givensWork = nullptr;    // 2n doubles
    double* nullBasis = nullptr;     // n x n: basis of the null space of the active rows
    double* activeFactor = nullptr;  // factor of the active rows
    double* columnBuffer = nullptr;  // n doubles: one column of the sparse form's factor
    double* sparseWork = nullptr;    // 4n doubles of the sparse form (and of sparse QUADAS): the
                                     // free-space vectors U, V (the rows' coefficients), W and G
    int64_t sparseWorkDoubles = 0;   // doubles at sparseWork; the sparse form refuses fewer than
                                     // 4n (0: not stated, taken as 4n)
    int32_t nActiveNlin = 0;         // active nonlinear constraints
    int32_t nActiveLin = 0;          // active general rows
    int32_t nActiveBounds = 0;       // active bounds
    int32_t nDepLin = 0;             // dependent linear rows (nDepCon elsewhere)
    int32_t nDepBounds = 0;          // bounds dependent on the active rows (dropped from the set)
    int32_t activeChange = 0;        // the last step changed the active set (< 0 dropped)
    int32_t dropCode = 0;            // what the active set did: 0 nothing, > 0 added,
                                     // < 0 dropped, 2147483647 both
};

// The state of a run and its counters.  Owner: the driver, the evaluation
// wrappers and the termination test; techniques count their line searches,
// updates and restarts.  The first three are bound to program symbols.
struct NlpRunState {
    double evalStatus = 0.0;    // "_TOOBIG_": 0 before an evaluation, any other value: unusable
    double iteration = 0.0;     // "_ITER_": iteration counter
    double evalPhase = 0.0;     // "_INDF_": NlpEvalPhase
    int32_t lastStatus = 0;     // NlpStatus of the last driver call or termination test
    int32_t lastEval = 0;       // NlpLastEval
    int32_t pointMoved = 0;     // 1: the objective's retries moved x; f belongs to the moved x,
                                // which the caller takes over or refuses
    int32_t feasRound = 0;      // times the feasibility tolerance was raised tenfold, 0..10
                                // (retryRound elsewhere)
    int32_t iterMsgLevel = 1;   // 1..3 from the host debug keyword "-nlpitermsg"
    double timeUsed = 0.0;      // start time of the run, then the elapsed seconds

    int32_t nFun = 0;           // objective evaluations
    int32_t nGrad = 0;          // gradient evaluations
    int32_t nHess = 0;          // Hessian evaluations
    int32_t nConEval = 0;       // constraint evaluations
    int32_t nConJac = 0;        // constraint-Jacobian evaluations
    int32_t nUpdates = 0;       // quasi-Newton updates carried out
    int32_t nLineSearches = 0;  // line searches of the run (the early step cap counts them)
    int32_t iterSinceStart = 0; // iterations since the technique's last restart
    int32_t nRestarts = 0;      // restarts of the technique
    int32_t claimRefusals = 0;  // convergence claims the check of the termination test refused
                                // in this run (each moved x to a lower point)
    int32_t endStationary = -1; // after a technique's own stop (-6, -7) or a criterion the user gave
                                // looser than the check: 1 when the final point is stationary by
                                // the check, 0 when not, -1 no verdict
    double startObjective = 0.0;// |f| at the technique's start test: the scale below which the
                                // check takes a decrement for rounding (a fit whose minimum is 0)
    int32_t iterMark = 0;       // the technique's action mark of the iteration ("Ac1")
};

// The values of the current iteration.  Owner: the techniques (and the
// multiplier routines for the Lagrange values); read by the termination
// test and the history printer.
struct NlpIterValues {
    double f = 0.0;             // objective at x
    double fPrev = 0.0;         // objective at xBase
    double maxProjGrad = 0.0;   // largest projected gradient element
    double gconvMeasure = 0.0;  // the GCONV measure (predicted reduction)
    double ridge = 0.0;         // ridge added to the Hessian's diagonal by the last Newton-type
                                // step (0: none); the history marks such a step
    double radius = 0.0;        // trust-region radius
    double lambda = 0.0;        // the step's Levenberg-Marquardt or trust-region parameter (the
                                // history's "Lambda")
    double rho = 0.0;           // ratio of the actual to the predicted reduction of the last
                                // step (the simplex: its current radius)
    double scaledGradMax = 0.0; // the CONGRA and GCONV2 measure
    double lmGconvMeasure = 0.0;// the LEVMAR GCONV measure
    double expectedReduction = 0.0; // missing when unknown
    double lastStep = 0.0;      // step length of the last line search
    double stepBound = 0.0;     // largest feasible step factor along direction
    double lagrangeValue = 0.0; // the Lagrange function at x (nonlinear constraints)
    double lagrangeGradMax = 0.0; // largest element of the Lagrange gradient
    double maxConViolation = 0.0; // largest violation of a nonlinear constraint at x
};

// The vectors of a run.  Owner of the arrays: the library's user, which
// allocates them; the driver and techniques fill them.
struct NlpWork {
    double* xBase = nullptr;     // the point the current step is taken from
    double* gradient = nullptr;  // gradient at x
    double* gradBase = nullptr;  // gradient at xBase
    double* direction = nullptr; // search direction
    double* funValues = nullptr; // m function values (funcValues in reporting)
    double* residualVector = nullptr; // m doubles: the residuals of the Jacobian check
    double* workN = nullptr;     // n doubles of work
    double* workN2 = nullptr;    // n doubles of work (multipliers2 in reporting)
    double* lagrangeGradient = nullptr; // n doubles: the gradient of the Lagrange function
    double* linearTerm = nullptr;// the quadratic objective's linear term
    double* stdErrors = nullptr; // standard errors
};

// The factor that the last measure of a technique made of the Hessian
// slot's matrix H at the point x, kept for the covariance of the
// estimates: when that matrix is the cross product the covariance inverts,
// its factor need not be made again.  Owner: the technique that made it
// (TRUREG and LEVMAR, with the whole parameter vector free) sets it after
// its factor and clears it before it factors again; the driver clears it
// at the start of a run; the covariance hook takes it, checking that the
// matrix it inverts is the matrix factored, and clears it.
struct NlpKeptFactor {
    const double* factor = nullptr;  // packed lower L of order nParams, L L' = S^-1 H S^-1; null: none
    const double* matrix = nullptr;  // S^-1 H S^-1 (packed) as it was factored, where the technique left it
    const double* point = nullptr;   // x (nParams)
    const double* scale = nullptr;   // the diagonal of S (nParams)
    int32_t hessianCalls = -1;       // run.nHess just after H was evaluated: any later Hessian
                                     // evaluation may have overwritten `matrix`
};

// The Hessian and its factor.  Owner: the library's user allocates them;
// the techniques and the factor kinds fill them.
struct NlpHessian {
    double* hessian = nullptr;   // the Hessian or its approximation (opt.hessianStorage)
    int64_t hessianDoubles = 0;  // doubles at `hessian`, at least shape.packedLen; where they
                                 // reach packed_inverse_work(nParams), the covariance code
                                 // takes the array as the work of its inverse (0: packedLen)
    double* hessianFactor = nullptr; // its factor
    int32_t* hessianPattern = nullptr;  // sparse Hessian: the SparseLLt index array of its lower
                                        // triangle (hessian holds the matching values)
    int32_t* hessianFactorPattern = nullptr; // the SparseLLt index array of its factor, fill
                                        // included (factor kinds 6 and 7)
    int32_t* hessianPerm = nullptr;     // kind 6: the factor position of each parameter (a
                                        // permutation); kind 7 and the bounds-only reduction:
                                        // the free-list position, negative when held at a bound
    NlpKeptFactor kept;                 // the factor of the last measure (see above)
};

// Finite differences and the derivative checks.  Owner: the
// finite-difference and derivative-check routines (arrays allocated by
// the library's user).
struct NlpFdState {
    double* fdForward = nullptr; // forward-difference intervals
    double* fdCentral = nullptr; // central-difference intervals
    double* funWork = nullptr;   // m doubles of finite-difference work
    double* checkWork = nullptr; // max(2n, m, 2 nNlinCon) doubles for the derivative checks
    int32_t* indexList = nullptr;// n ints: the derivative checks' per-parameter counters
    int16_t* constantFlags = nullptr; // per parameter: the objective does not depend on it
    int32_t intervalsRefined = 0;// the check of a claim refined intervals of the gradient: the
                                // gradient's differences take fdForward or fdCentral for the rest
                                // of the run (interval modes 0 and 1).  Reset by the run's start
};

// ---------------------------------------------------------------------------
struct NlpProblem {
    NlpShape shape;             // sizes and problem kind
    NlpOptions opt;             // options
    NlpCallbacks cb;            // callback slots
    void* user = nullptr;       // the library's user: opaque to the library, which hands it
                                // back through the block; callbacks cast it to their data
    NlpHookBlock* hooks = nullptr; // the hook block (may be null)

    NlpParams param;            // names, point, bounds, scaling
    NlpConstraints con;         // linear rows, nonlinear constraint values
    NlpActiveSet active;        // the active set
    NlpRunState run;            // status and counters of the run
    NlpIterValues iter;         // values of the current iteration
    NlpWork work;               // vectors of the run
    NlpHessian hess;            // the Hessian and its factor
    NlpFdState fd;              // finite differences and derivative checks

    // The covariance and matrix reporting (owner: optimizer/reporting; the
    // evaluation callbacks read crossProductVariant).
    NlpReportState report;
    NlpLimitRow limitRow;       // the confidence-limit row in hand (owner: optimizer/reporting)

    // Output (owner: the driver and the printers).
    NlpOutputState out;
    NlpIterRecord iterRecord;   // the current history row
};

// ---------------------------------------------------------------------------
// What the covariance hook evaluates and stores at the final point (want*,
// also the start phase's requests through print*), what the matrix printer
// shows and what reaches OUTEST=.  Zero: off.
struct NlpMatrixRequests {
    int32_t wantJacobian = 0;       // evaluate the least-squares Jacobian
    int32_t wantHessian = 0;        // evaluate and store the Hessian
    int32_t wantCrossProduct = 0;   // evaluate and store the cross-product matrix
    int32_t storedConJacobian = 0;  // the constraint Jacobian is held (nonlinear constraints)
    int16_t printJacobian = 0;      // print the least-squares Jacobian (also a start-phase request)
    int16_t printConJacobian = 0;   // print the constraint Jacobian (also a start-phase request)
    int16_t noDeterminant = 0;      // no determinant and eigenvalue-sign notes
    int16_t outestCrossProduct = 0; // the cross-product matrix reaches OUTEST=
    int16_t outestHessian = 0;      // the Hessian reaches OUTEST=
    int16_t outestConJacobian = 0;  // the constraint Jacobian reaches OUTEST=
    int16_t outestGradient = 0;     // "GRAD" rows with the parameter rows
    int16_t outestIterations = 0;   // rows of every iteration
    int16_t outestTime = 0;         // "_TIME_" rows
    int16_t ginvDetail = 0;         // generalized inverse of kind 4 and the dependency listing
    int16_t plainMatrices = 0;      // never use the Lagrangian records
    char vardef[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}; // VARDEF kind of the divisor
                                    // (blank N, DF, WDF, WEIGHT, WGT)
    double sigmaSqGiven = 0.0;      // given variance factor; missing or 0 computes it
};

// ---------------------------------------------------------------------------
// The parts of NlpHookBlock.

// Evaluation overrides: when set, the driver calls these instead of the
// problem's slots; crossProductFn and hessianFn serve the covariance code.
// Owner: the library's user.
struct NlpEvalOverrides {
    NlpCallback objectiveFn = nullptr;     // f at x
    NlpCallback gradientFn = nullptr;      // the gradient at x
    NlpCallback jacobianFn = nullptr;      // the least-squares Jacobian at the final point; may
                                           // stay null (a Jacobian request then fails, 549/192)
    NlpCallback crossProductFn = nullptr;  // the cross-product matrix (J'J or its second variant)
    NlpCallback hessianFn = nullptr;       // the Hessian at x
    NlpCallback conValuesFn = nullptr;     // the nonlinear constraints' values at x
    NlpCallback conJacobianFn = nullptr;   // their Jacobian at x
};

// The post-run hooks the driver calls after the start phase and after a
// run.  Owner: the library's user.
struct NlpPostRunHooks {
    NlpPostRunHook covarianceHook = nullptr;   // evaluates and stores the final matrices
    NlpPostRunHook matrixPrintHook = nullptr;  // prints them and hands them to OUTEST=
    NlpOutestHook outestHook = nullptr;        // writes OUTEST= rows
};

// Print switches of the driver and the derivative checks.  Owner: the
// library's user.
struct NlpPrintSwitches {
    int16_t printStart = 0;        // print the start phase
    int16_t printExtra = 0;        // second switch handed to the start and result printer
    int16_t forceResultPrint = 0;  // result print at level 1 even when printLevel asks for none;
                                   // also skips the asymmetry tables of the Hessian check
    int16_t suppressGradTest = 0;  // no "GradTest" table
};

// Covariance settings.  Owner: the procedure's option reader and problem
// set-up; read by the covariance and reporting code.  The COV type in
// force is lsCovKind for a least-squares objective and covKind otherwise;
// the singularity criteria are covSingAbs, covSingRel and covSingVar,
// applied to the correlation form of each matrix (unit_free_criteria);
// the matrices lie on utilityFile (opened and closed by the owner).
struct NlpCovSettings {
    int32_t optionWord = 0;         // 0, 2 or 3 accepted (another value ends the step with 3000)
    double nParamsForDf = 0.0;      // n as a double, "_DF_"
    double sigsqFactor = 1.0;       // factor of the variance estimate of least-squares COV types
                                    // 2-4 (missing: 2f/d is used); copied into the procedure's
                                    // sigsqScale
    double* nObsRef = nullptr;      // the owner's "_NOBS_" cell
    int32_t wantCovariance = 0;     // the estimation results are wanted
    int32_t printCovariance = 0;    // PCOVES
    int32_t printCrossProduct = 0;  // PCRPJAC
    int32_t printHessian = 0;       // PHESSIAN
    double covSingAbs = 0.0;        // ASINGULAR: absolute singularity bound of a pivot
    double covSingRel = 0.0;        // MSINGULAR: pivot bound relative to the largest pivot
    double covSingVar = 0.0;        // VSINGULAR: pivot bound relative to its row's variance
    double ginvTol = 0.0;           // COVSING: eigenvalue tolerance of a generalized inverse
    int32_t ginvMaxParams = 0;      // G4: largest order of a generalized inverse
    HostFile* utilityFile = nullptr;// the matrices saved for the covariance and reporting code
    // Storage kinds: 2 diagonal, else PackedSym.
    int32_t covStorage = 0;         // of the saved covariance
    int32_t lsqHessStorage = 0;     // of the finite-difference second derivatives of a
                                    // least-squares objective (else the problem's hessianStorage)
    int32_t crossProductStorage = 0;// of the cross product of a general composite objective
    int32_t covKind = 0;            // COV type of a general objective (0 none)
    int32_t lsCovKind = 0;          // COV type of a least-squares objective (0 none)
    int32_t depStdErr = 0;          // also the standard errors of the dependent parameters
    int16_t outestJacobian = 0;     // the least-squares Jacobian reaches OUTEST=
};

// Results of the covariance code.  Owner: optimizer/reporting (znlpcov).
struct NlpCovResults {
    double sigmaSq = 0.0;           // the variance factor actually used
    double errorDf = 0.0;           // the variance divisor d actually used (the t tests' df)
    // Arrays the owner lends the covariance code, or null, so that the
    // information matrix, its factor and its inverse are held once.
    //
    // inverseBuffer, nParams(nParams+1)/2 + 2 nParams doubles: when the
    // covariance code inverts the cross product K1 of all parameters
    // regularly, it leaves the inverse (PackedSym, not scaled by sigma^2)
    // there, and in inverseTag the tag of that K1, so that the owner,
    // holding the same matrix, need not factor it again; -1: the buffer
    // holds no such inverse.  Until then a technique may keep the factor
    // of its last measure there (NlpKeptFactor), with the point and the
    // scale after it.
    double* inverseBuffer = nullptr;
    int64_t inverseTag = -1;
    // crossProductBuffer, nParams(nParams+1)/2 doubles: the owner's array
    // in which the covariance code takes K1 from the hook block's
    // cross-product slot (the slot writes its matrix there, or finds it
    // there already).  The owner changes crossProductTag whenever it
    // writes that array anew.
    double* crossProductBuffer = nullptr;
    int64_t crossProductTag = 0;
};

// ---------------------------------------------------------------------------
// Optional user hooks: they override the evaluation callbacks in the driver
// and add the post-run hooks.  Saved and restored with NlpProblem.
struct NlpHookBlock {
    ProfileSettings* plSettings = nullptr; // the profile-limit settings; the owner points it at
                                           // `settings`, null runs no confidence limits
    ProfileSettings settings;              // the settings themselves (owner: the procedure)

    NlpEvalOverrides eval;          // evaluation overrides
    NlpPostRunHooks post;           // post-run hooks
    NlpPrintSwitches print;         // print switches
    NlpCovSettings cov;             // covariance settings
    // Requests, print and OUTEST= switches of the covariance and matrix
    // reporting.  Owner: the option set-up of the library's user; read by
    // optimizer/reporting.
    NlpMatrixRequests matrices;
    NlpCovResults result;           // results of the covariance code
};
