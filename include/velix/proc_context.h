// ProcContext: the procedure's one run context.  It lives in the frame of
// the step driver for the whole step and is passed first to nearly every
// procedure routine.  Only the parse root, the links to the other blocks
// and the error level sit at the top level; everything else is one named
// sub-struct per family whose comment names its owner, the family that
// fills it (every other family only reads it).  The families read it
// through a view bound in one place (model evaluation EvalView, the
// results ResultsView, the data sets DataView, the driver StepView); a
// routine that needs one part may take that part (`const MomentState*`),
// so that its test builds only what it reads.  One name per field: where
// the subsystems' own vocabularies differ, the other spellings are listed
// in the field's comment so that a search finds it.
#pragma once

#include <cstdint>

#include "velix/evaluation_state.h"
#include "velix/host.h"
#include "velix/host_compiler.h"
#include "velix/model.h"
#include "velix/nlp.h"
#include "velix/residual_store.h"
#include "velix/results_state.h"
#include "velix/types.h"

struct StatementNode;
struct DataSetSlot;

// Index of the nine output group handles.
enum KyrGroupIndex : int {
    kGroupModelSpec = 0,
    kGroupModelingStat = 1,
    kGroupOptimization = 2,
    kGroupEstimationResults = 4,  // opened by the model-kind printers, closed by them
    kGroupSupplementary = 5,      // opened by the model-kind printers, closed by cosmini
    kGroupModificationIndex = 8,
    kGroupCount = 9
};

// A program variable that INEST= supplies and OUTEST= writes back.  Owner:
// cosfop2 (records and binds), the OUTEST= writer (fills the cell).
struct StatementVariable {
    int16_t number = 0;           // its INEST= variable number
    CmpSymbol* symbol = nullptr;  // its compiler symbol, whose value cell is `value`
    double value = 0.0;           // its current value, read and written by the program
    double cell = 0.0;            // the row cell bound to INEST= and OUTEST=
};

// The optimizer's per-parameter arrays, allocated together by cosop31 for
// every parameter (independent, added and dependent: nParmAll of them)
// and filled with missing values.  The NlpProblem's parameter fields point
// into them.
struct ParameterArrays {
    int32_t count = 0;              // parameters the arrays hold (nParmAll)
    NameRecord* names = nullptr;    // [count] parameter names (NlpProblem.param.paramNames)
    double* x = nullptr;            // [count] the current point (NlpProblem.param.x)
    double* lower = nullptr;        // [count] lower bounds, missing = none (NlpProblem.param.lower)
    double* upper = nullptr;        // [count] upper bounds, missing = none (NlpProblem.param.upper)
    double* scale = nullptr;        // [count] scaling of each parameter (NlpProblem.param.scale)
    double* row = nullptr;          // [count] cells bound to the parameter variables of OUTEST=
                                    // and INEST= (NlpProblem.param.paramRow)
    double* unit = nullptr;         // [count] each parameter's size in the units of the data, 0
                                    // unknown; written with the start values (NlpProblem.param.unit)
};

// Statements and PROC options.  Owner: cosinit (read_options and its
// helpers, procedure/driver/cosinit.cpp) copies them from the parse once per
// step; every other family only reads them.  A double option "missing when
// not given" holds the host's missing value.
struct StatementOptions {
    struct ProcOptionRecord* procOptions = nullptr;  // payload of the PROC statement
    char vardefKind[8] = {};        // VARDEF= divisor kind, blank-padded; "DF      " when not given
    int16_t covAnalysis = 0;        // COVARIANCE: analyse covariances, not correlations
    int16_t uncorrectedCorr = 0;    // UCORR: correlations about zero
    int16_t uncorrectedCov = 0;     // UCOV: covariances about zero
    int16_t interceptVar = 0;       // AUGMENT: an Intercept variable takes part in the moments
    int16_t kurtosisWanted = 0;     // KURTOSIS (raw data only; cleared for moment input)
    int16_t printEnabled = 0;       // printed output wanted (no NOPRINT)
    int16_t printDetail = 0;        // detailed printing, also the elapsed-time note
    int16_t modIndices = 0;         // MODIFICATION: Lagrange multiplier and Wald tests
    int16_t rebuildBeforeDerivs = 0;  // rebuild the model matrices before derivatives
    int16_t printInputModel = 0;    // print the input model (matrix form or equations)
    int16_t matrixForm = 0;         // print models in matrix form (PRIMAT; COSAN and FACTOR)
    int16_t modelListing = 0;       // model tables ModelStatement, EndogenousVar, ExogenousVar
    int16_t startNotes = 0;         // PINITIAL: notes on start values
    int16_t noDfAdjust = 0;         // NOADJDF: no df adjustment for active bounds and constraints (cosmini)
    int16_t printEffects = 0;       // TOTEFF: total and indirect effects
    uint32_t printFlags = 0;        // further print switches, bit per ProcPrintFlag
    uint32_t optionFlags = 0;       // further option switches, bit per ProcOptionFlag
    double edfGiven = 0.0;          // EDF, missing when not given
    double dfReduce = 0.0;          // DFREDUCE, missing when not given
    double nobsGiven = 0.0;         // NOBS, missing when not given
    double varStartScale = 0.0;     // DEMPHAS, missing when not given
    double ridgeCell = 0.0;         // RIDGE: 0 none, a value, missing automatic
    double wRidge = 0.0;            // WRIDGE: ridge of the weight matrix
    double wPenalty = 0.0;          // WPENALTY, missing when not given
    double alphaEcv = 0.0;          // ALPHAECV / 2: tail of the ECVI interval
    double alphaRms = 0.0;          // ALPHARMS / 2: tail of the RMSEA interval
    double startConst = 0.0;        // START=: start value of elements given none
    double singular = 0.0;          // SINGULAR=: singularity criterion of the moment matrix
    double waldAlpha = 0.0;         // SLMW=: significance of the stepwise Wald tests (0.05)
    int32_t asycovKind = 0;         // ASYCOV: 1 biased, 2 unbiased, 3 correlations
    int32_t randomSeed = 0;         // SEED=: random start values, 0 = none
    int32_t rotation = 1;           // ROTATE=: 1 none, 2 quartimax, 3 varimax, 4 equamax,
                                    // 5 parsimax, 10 principal axes; negated with NORM
    int32_t residualKind = 0;       // RESIDUAL=: 0 by the method, 1 variance standardized,
                                    // 2 asymptotically standardized, 3 normalized
};

// The input data and the variables in use.  Owner: cosinit (the data-set
// roles, the input kind, the special variables of DATA= and the variable
// lists, procedure/driver/cosinit.cpp).
struct InputState {
    char dataType[8] = {};          // TYPE of DATA=, blank-padded (blank for raw data)
    int16_t rawData = 0;            // raw data through the host accumulator
    int16_t symatrixInput = 0;      // DATA= of TYPE SYMATRIX
    int16_t inramUsed = 0;          // INRAM= gives the model
    int16_t inwgtUsed = 0;          // INWGT= gives the weights
    int16_t inestUsed = 0;          // INEST= gives start values
    int16_t typeVar = 0;            // variable number of _TYPE_ in DATA=, 0 when absent
    int16_t interceptVarNumber = 0; // variable number of Intercept in DATA=, 0 when absent
    int16_t nameVar = 0;            // variable number of _NAME_ in DATA=, 0 when absent
    int32_t varNameWidth = 8;       // widest variable name in use
    NameRecord* manifestNames = nullptr;  // names of the DATA= variables in use [nManifest]
    int16_t* manifestNumbers = nullptr;   // their variable numbers [nManifest]
    VariableListRecord* hostLists = nullptr;  // the lists handed to xvdflst (step memory);
                                              // cospar4 defines them again without the
                                              // variables the model does not use
};

// The model's kind and what its reader found.  Owner: the model readers
// (cospari and model_kinds.cpp, lineqs.cpp, ram.cpp, cosan.cpp, factor.cpp,
// model_table.cpp in procedure/driver/).  The matrices and elements
// themselves are ProcContext.model and ProcContext.elements.
struct ModelReaderState {
    // The model kind: at most one of the four is 1.
    int16_t lineqsModel = 0;        // LINEQS equations
    int16_t cosanModel = 0;         // COSAN matrix products
    int16_t ramModel = 0;           // RAM list of paths
    int16_t factorModel = 0;        // FACTOR model
    int16_t equationModel = 0;      // LINEQS or RAM (start values by equations, cosiset)
    int16_t perTermInverse = 1;     // 0: inverses shared between terms (cosimat clears marks)
    int16_t matrixSpec = 0;         // MATRIX statements name the model's matrices
    const int16_t* storedTypes = nullptr; // INRAM=: the stored type of each matrix, entries 1 ..
                                    // nStoredTypes - 1; a type correction that reaches it is no change
    int32_t nStoredTypes = 0;       // entries of storedTypes
    int32_t leadingDim = 0;         // leading dimension of model work matrices
    int32_t largestProduct = 0;     // largest rows x columns of a pattern
    NameRecord* columnNames = nullptr;  // the ColumnNameTable [nColumnNames]
    int32_t nColumnNames = 0;       // entries of columnNames
    int32_t parmNameWidth = 0;      // widest parameter name (the result tables' name column)
    int32_t colNameWidth = 0;       // widest column name (the result tables' variable column)
    int32_t nNamedPositions = 0;    // provisional count of free parameters
    // LINEQS results (read by the start values, cosines)
    int32_t nEndoManifest = 0;      // endogenous manifest variables
    int32_t nEndo = 0;              // endogenous variables
    int32_t nExoNonError = 0;       // exogenous variables that are not error terms
    int32_t* errorTermOfEq = nullptr;   // per endogenous variable: 1-based exogenous index of its
                                        // E/D term, 0 none
    int32_t* varPosition = nullptr;     // per DATA= variable: model position or -1
    int32_t nUnusedVars = 0;        // DATA= variables the model does not name
    int32_t* latentStart = nullptr;     // latent variables that need start values [nLatentStart]
    int32_t nLatentStart = 0;       // entries of latentStart
    NameRecord* structEqNames = nullptr;  // names of the STRUCTEQ equations [nStructEq]
    // RAM results
    int32_t nLatent = 0;            // latent variables (model variables N less manifest n)
    int32_t* incomingPaths = nullptr;  // per model variable: elements in its row of _A_
    int32_t nWithIncoming = 0;      // model variables with at least one incoming path
    // FACTOR statement
    int32_t nFactors = 0;           // k, 1 when N= is not given
    double factorSecond = 1.0;      // the statement's second number (negative with its flag)
    int16_t factorNoUnique = 0;     // no unique part (COMPONENT)
    int16_t factorIdentity = 0;     // unique part entered as _U_ _I_ _U_' (HEYWOOD)
    int16_t exoBlockGenerated = 0;  // no statement gives the exogenous block, and WLS or DWLS
                                    // estimate it as the parameters "_Exo<number>"
};

// The moments of the current BY group.  Owner: the moment step (coscorr and
// its readers, procedure/data/); reset for every BY group.
struct MomentState {
    double nObs = 0.0;              // N: the number of observations of the analysis
    int32_t momentOrigin = 0;       // 0 about the means, 1 about zero, -(k+1) intercept variable k
    int32_t momentOriginOption = 0; // the origin the options ask for (0 or 1), restored
    int16_t momentOriginKept = 0;   // for every BY group once it is kept
    int32_t nPartial = 0;           // PARTIAL variables, read after the manifest ones
    int32_t nRead = 0;              // variables read: nVar + nPartial (+1 with interceptVar)
    int32_t modelDf = 0;            // the group's correction of p* - q: exogenous covariances
                                    // (cosiset), active constraints (cosmini)
    double divisor = 0.0;           // variance divisor in force
    double sumWeights = 0.0;        // sum of the observation weights
    double logDetMoments = 0.0;     // ln det of the analysed matrix (logDetS); special
                                    // missing value 'M' when it cannot be factored
    double kurtosisCells[8] = {};   // kurtosisStats: Mardia, relative, relative multivariate,
                                    // normalised, mean scaled, adjusted mean scaled, two from
                                    // the asymptotic covariance of the moments
    double* means = nullptr;        // [nRead]; stdDevs, skewness and uniKurtosis follow it
    double* stdDevs = nullptr;      // [nRead]
    double* skewness = nullptr;     // [nRead]: sums of cubes, then the coefficients
    double* uniKurtosis = nullptr;  // [nRead]: sums of fourth powers, then the coefficients
    double* stdDevsN = nullptr;     // [nRead]: standard deviations with divisor N
    double* dwlsAsycov[2] = {};     // [p*] each: DWLS fourth moments for ASYCOV=CORR
    double* invStore = nullptr;     // the inverse store of the BY group (invPool)
    int64_t weightFactorStart = 0;  // byte position of the WLS weight factor on scratchFile
    int16_t weightsOnFile = 0;      // workFile3 holds the p* diagonal weights of this group
    int16_t meansGiven = 0;         // the data gave the means (raw data, a MEAN row, SSCP sums);
                                    // set by the moment readers, read by OUTSTAT=
    int16_t countGiven = 0;         // N came from the data, NOBS= or EDF=, not a default;
                                    // set by the moment readers, read by OUTSTAT=
    int16_t varianceBlockWritten = 0;  // the residual store holds this group's variances:
                                       // cleared by the moment step, set by the residual
                                       // writer, read by the residual tables
};

// Cells bound to the numeric and special variables of the data sets.
// Owner: the data-set variable set-up (cosfop1, cosfop2, cosfop3,
// procedure/data/dataset_variables.cpp); the readers and writers move
// values through them.
struct DataSetCells {
    double* rowValues = nullptr;    // [nRead + 1]: the numeric variables of SYMATRIX DATA=,
                                    // INWGT=, OUTSTAT= and OUTWGT=
    double ramRow[5] = {};          // _MATNR_, _ROW_, _COL_, _ESTIM_, _STDERR_
    double rhsCell = 0.0;           // _RHS_
    double iterCell = 0.0;          // _ITER_
    double alphaCell = 0.0;         // _ALPHA_
};

// The procedure's side of the optimizer set-up.  Owner: the problem set-up
// (cospar3, procedure/driver/problem_setup.cpp) and the optimizer state
// record (procedure/driver/optimizer_state.cpp).
struct OptimizerSetup {
    ParameterArrays parms;          // the per-parameter arrays of cosop31
    double nObsCell = 0.0;          // "_NOBS_": the number of observations for the program
    int16_t profileWanted = 0;      // a PROFILE statement asks for profile likelihoods
    int16_t profileScaleGiven = 0;  // PROFILE FFACTOR= gave the deviance factor (else N')
    int32_t profileMethod = 0;      // the ProfileSettings method of the last stage
    int64_t saveEnd[3] = {};        // end offset of the optimizer state record
    int32_t seedAtSetup = 0;        // RANDOM= generator state after the set-up, given back
                                    // to every BY group with the saved optimizer state
};

// The programming statements and the dependent parameters.  Owner: the
// program set-up (cospar5 and its helpers,
// procedure/driver/program_statements.cpp) with the parameter table
// (cospar4, parameters.cpp).
struct ProgramState {
    struct ParseArea2* statements = nullptr;  // programming statements (text), from cosinit
    int16_t hasProgram = 0;             // programming statements present
    double dprocCell = 0.0;             // "_DPROC_"
    int16_t programListing = 0;         // list the program, its symbols and derivatives
    int16_t fdDepDerivs = 0;            // derivatives of program-defined quantities by
                                        // finite differences: no analytic derivative requests
    int16_t depDerivRequest = 1;        // analytic derivatives of the dependent parameters
    int16_t conDerivRequest = 1;        // analytic derivatives of the NLINCON symbols
    int32_t nDepRef = 0;                // independent parameters the program references
    CmpList depList;                    // dependent parameters (symbol kind 2)
    CmpList indList;                    // independent parameters the program reads (kind 1)
    CmpList nlcList;                    // the symbols NLINCON names (filled by the constraint set-up)
    int32_t* depParmNumbers = nullptr;  // per depList entry: parameter number, -(index+1) after mode 1
    int32_t* depInputParms = nullptr;   // per indList entry: 1-based parameter number
    int32_t nDepInputs = 0;             // = indList.count
    double* xCopy = nullptr;            // x saved in mode 1, restored at the end of mode 2
    CmpDerivArea derivArea[2];          // 0: dependent parameters, 1: NLINCON symbols
    int32_t nStmtVars = 0;              // program variables of INEST= (extra OUTEST= numerics)
    StatementVariable* stmtVars = nullptr; // nStmtVars records (cosfop2)
    // The analytic derivative entries (views of derivArea): entry t is the
    // derivative of depList[depDerivParm[t]] (conDerivStmt[t] of nlcList)
    // with respect to indList[depDerivInput[t]], current after every run.
    int32_t nDepDerivs = 0;             // entries of the dependent parameters' derivatives
    const double* depDerivCells = nullptr;  // [nDepDerivs] their values
    const int16_t* depDerivParm = nullptr;  // [nDepDerivs] index into depList
    const int16_t* depDerivInput = nullptr; // [nDepDerivs] index into indList
    int32_t nConDerivs = 0;             // entries of the NLINCON symbols' derivatives
    const double* conDerivCells = nullptr;  // [nConDerivs] their values
    const int16_t* conDerivStmt = nullptr;  // [nConDerivs] index into nlcList
    const int16_t* conDerivInput = nullptr; // [nConDerivs] index into indList
};

// The state of the estimation run of a BY group.  Owner: cosmini.
struct EstimationState {
    int32_t nActive = 0;          // active constraints at the solution ("N_ACT" of OUTRAM=)
    int32_t status = 0;           // the optimizer's status of the last stage
    int32_t usable = 0;           // the last stage gave a usable solution
    int32_t techniqueRun = 0;     // the technique of the last stage (after any fallback)
    HostAllocator* stagePool = nullptr; // the optimizer's work arrays of the last stage
    // The Hessian the Newton-type techniques iterate with (estimation_hessian),
    // for the run in progress: the relative Newton decrement at the previous
    // call, and the run's choice (0 J'WJ, 1 the exact Hessian, -1 J'WJ again
    // after exact steps that did not converge fast, until the decrement has
    // fallen far enough to try them once more).
    double lastDecrement = 0.0;
    int32_t exactHessian = 0;
    double scoringSince = 0.0;    // the decrement when the exact steps gave way to J'WJ
    int32_t exactRetries = 0;     // times the exact Hessian was taken up again in the run
    int32_t secondOrderKept = 0;  // 1: eval.secondOrder holds that of an exact Hessian of the
                                  // run's present exact steps
};

// The step frame.  Owner: the step driver (step.cpp) and cosinit.
struct StepState {
    double elapsed = 0.0;           // start time during the step, elapsed time after
    double compilerResult[2][8] = {};  // result areas written by the host statement compiler
                                       // (CmpHandle words 0 and 1)
    uint32_t bySyncState = 0;       // mode handed to BY-group synchronisation (zbysync)
};

// The data sets of the step, in DataSetRole order.  Owner: cosinit (the
// roles) and the data-set variable set-up (the bindings and the row).
struct DataSetRoles {
    DataSetSlot* dataSetSlot[kRoleCount] = {};   // all code goes through these
    HostDataSet* dataSetHandle[kRoleCount] = {}; // 0 = role not given
    HostBinding* dataSetBinding[kRoleCount] = {}; // variable bindings (xvgeti, xvputi)
    OutputRowBuffer outRow;         // _TYPE_ and _NAME_ cells of the data-set writers
};

// The host pools.  Owner: cosinit (the run pools) and the moment step (the
// inverse store); the step driver frees them.
struct StepPools {
    HostAllocator* runPool[3] = {};  // live for the whole step
    HostAllocator* invPool = nullptr;  // inverse-store pool of the BY group
};

// The utility files.  Owner: cosinit opens them, the step driver closes
// them.
struct UtilityFiles {
    HostFile* scratchFile = nullptr;  // main utility file (patterns, saved optimizer state)
    HostFile* workFile2 = nullptr;    // the information scratch of the covariance step
                                      // (procedure/evaluation/information_scratch.h)
    HostFile* workFile3 = nullptr;    // sequential: the DWLS diagonal weights
    HostFile* jacColFile = nullptr;   // Jacobian columns (storage modes 2, 3, 6) and the cross
                                      // product (mode 4)
    HostFile* wJacColFile = nullptr;  // WLS and DWLS weighted Jacobian columns
    HostFile* jacTermFile = nullptr;  // term-wise Jacobian records (storage mode 2)
    // The constraint files (records: procedure/data/constraint_file.h), open
    // only when the step has constraints or INEST=; the host frees them
    // with the step.
    HostFile* conStmtFile = nullptr;  // the LINCON rows as given (cosop21); with any constraint
    HostFile* conInestFile = nullptr; // the INEST= rows of the BY group (cosop22); with INEST=
    HostFile* conFile = nullptr;      // every linear row with its statement values, in the
                                      // problem's order: what OUTEST= writes (cosop22)
    int32_t conFileRows = 0;          // the records on conFile (cosop22)
};

// Counts and sizes of the model and its arrays.  Owner: cosinit and the
// model readers; the inverse store (invStoreLen) and the start values
// (nJacEntries) add theirs.
struct ModelSizes {
    int32_t nByVars = 0;      // BY variables
    int32_t nVar = 0;         // DATA= variables in use
    int32_t nManifest = 0;    // manifest variables n of the model
    int32_t nTerms = 0;       // terms of the model (COSAN sums of products)
    int32_t nMatrices = 0;    // model matrices
    int32_t nParmFree = 0;    // independent parameters
    int32_t nParmAdded = 0;   // parameters added by the readers (variances, covariances)
    int32_t nParmAll = 0;     // all parameters: independent, added and dependent
    int32_t nCols = 0;        // columns of the model work matrices: max(n, leadingDim)
    int32_t nParmDep = 0;     // dependent parameters (defined by the program)
    int32_t nStructEq = 0;    // STRUCTEQ equations
    int32_t nMoments = 0;     // p* = n(n+1)/2
    int32_t nWeights = 0;     // p*(p*+1)/2: the WLS weight matrix
    int32_t nElements = 0;    // model-matrix elements
    int32_t invStoreLen = 0;  // doubles of the inverse store
    int32_t nJacEntries = 0;  // nonzero entries of the derivative of the model elements
                              // (cosinst); sizes the sparse Jacobian
};

// The estimation methods.  Owner: cosinit; the moment step and the
// estimation set them per BY group and per stage.
struct MethodChoice {
    int32_t methodRequested = kMethodNone;  // METHOD=
    int32_t methodGroup = kMethodNone;  // per-BY-group copy
    int32_t methodStage = kMethodNone;  // method of the stage that ran last
    int32_t jacobianModeRequested = 0;  // the Jacobian mode the options ask for
    int16_t useWeightMatrix = 0;  // the method uses a weight matrix (GLS, WLS, DWLS, ...)
    int16_t fourthOrder = 0;      // the method needs fourth-order moments (WLS, DWLS)
};

// The moment and discrepancy arrays.  Owner: the moment step allocates
// them; model evaluation and the numerical kernels use them.  n =
// nManifest, p* = nMoments = n(n+1)/2; packed means PackedSym.
struct MomentArrays {
    double* momentMatrix = nullptr;    // S, packed order n: the analysed moments
    double* momentInverse = nullptr;   // packed order n: the moment step leaves the inverse of
                                       // the analysed matrix here; the objective overwrites it
                                       // with the implied matrix Sigma of the current parameters
    double* weightMatrix = nullptr;    // GLS: packed order n; WLS: lower Cholesky factor of the
                                       // weight matrix, packed order p*; DWLS: p* weight factors
    double* impliedInverse = nullptr;  // packed order n: Sigma^-1 for ML; also the first output
                                       // area of coskron and costrip
    double* residualTerm = nullptr;    // left by the objective: ULS Sigma - S, WLS L^-1 (Sigma - S),
                                       // DWLS weighted Sigma - S (p* values); GLS W (Sigma - S),
                                       // ML I - Sigma^-1 S (dense n x n, row-major)
    double* dfdc = nullptr;            // p* values, packed: dF/dSigma from cosdfdc
    double* kronResult = nullptr;      // packed order n: second output area of coskron
    double* workMatrix = nullptr;      // dense n x n: second output area of costrip
};

// The output delivery handles.  Owner: the step driver; the group and
// table handles change as the printers open and close them.
struct OutputHandles {
    HostObject* kyrManager = nullptr;     // the KYR output manager
    HostObject* kyrTable = nullptr;       // output handle of the table being built
    HostObject* kyrAnchor = nullptr;      // the object-manager anchor
    HostObject* kyrGroups[kGroupCount] = {};  // open output groups, by KyrGroupIndex
};

// The step's context.  Besides the parse root, the links to the other
// blocks and the error level, it holds only owned parts: one named
// sub-struct per family, its owner in the part's comment (every other
// family only reads it).  A subsystem adds its state the same way.
struct ProcContext {
    StatementNode* stmtList = nullptr;  // root StatementNode (the PROC statement), from cosinit
    NlpProblem* nlp = nullptr;      // the optimizer's problem block (step driver)
    NlpHookBlock* hooks = nullptr;  // the optimizer's hook block (step driver)
    CmpWork* cmpWork = nullptr;     // the statement compiler's work area (step driver)
    int32_t errorLevel = 0;         // raise only (raise_error_level); above 999 the step ends

    StepState step;                 // the step frame (step driver)
    DataSetRoles dataSets;          // data-set roles, bindings and output row (cosinit)
    StepPools pools;                // host pools (cosinit, the moment step)
    UtilityFiles files;             // utility files (cosinit)
    ModelSizes sizes;               // counts and sizes (cosinit, the model readers)
    MethodChoice methods;           // estimation methods (cosinit, per group and stage)
    MomentArrays arrays;            // moment and discrepancy arrays (the moment step)
    OutputHandles output;           // output delivery handles (step driver)
    ModelMatrixTable model;         // the model matrices (the model readers)
    ElementPattern elements;        // their elements (the model readers)
    StatementOptions options;       // statements and PROC options (cosinit)
    InputState input;               // input data and variables in use (cosinit)
    ModelReaderState readers;       // model kind and reader results (the model readers)
    MomentState moments;            // moments of the BY group (the moment step)
    DataSetCells cells;             // cells bound to data-set variables (cosfop1-3)
    OptimizerSetup optSetup;        // the procedure's side of the optimizer set-up (cospar3)
    ProgramState program;           // programming statements (cospar5)
    EvaluationState eval;           // model evaluation (procedure/evaluation/)
    EstimationState est;            // the estimation run (cosmini)
    ResultsState results;           // fit statistics for the OUTRAM= STAT rows (the fit summary)
    ResidualStore residualStore;    // residuals of the last stage (the residual writer)
};

// Raises the error level (the larger value wins).
inline void raise_error_level(ProcContext* ctx, int32_t level) {
    if (level > ctx->errorLevel) ctx->errorLevel = level;
}

// The run context behind an optimizer problem block: the step driver hands
// its context to the library as the block's opaque user pointer, and the
// procedure's callbacks take it back here.
inline ProcContext* proc_context(const NlpProblem* nlp) { return static_cast<ProcContext*>(nlp->user); }
