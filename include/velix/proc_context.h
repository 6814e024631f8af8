// ProcContext: the procedure's one run context.  It lives in the frame of
// the step driver for the whole step and is passed first to nearly every
// procedure routine.  Fields are grouped by the routine family that fills
// them; every other family only reads them.  One name per field: where the
// subsystems' own vocabularies differ, the other spellings are listed in the
// field's comment so that a search finds the one name.
#pragma once

#include <cstdint>

#include "velix/host.h"
#include "velix/host_compiler.h"
#include "velix/model.h"
#include "velix/nlp.h"
#include "velix/results_state.h"
#include "velix/types.h"

struct StatementNode;
struct DataSetSlot;

// Index of the nine output group handles.
enum KyrGroupIndex : int {
    kGroupModelSpec = 0,
    kGroupModelingStat = 1,
    kGroupOptimization = 2,
    kGroupModificationIndex = 8,
    kGroupCount = 9
};

struct ProcContext {
    // ---- parse root (statements and options) ----
    StatementNode* stmtList = nullptr;  // root StatementNode (the PROC statement)
    char dataType[8] = {};              // TYPE of DATA=, blank-padded
    char vardefKind[8] = {};            // divisor kind, "DF      " when not given

    // ---- output row (data-set writers) ----
    OutputRowBuffer outRow;

    // ---- data-set roles, in DataSetRole order ----
    DataSetSlot* dataSetSlot[kRoleCount] = {};   // all code goes through these
    HostDataSet* dataSetHandle[kRoleCount] = {}; // 0 = role not given
    HostBinding* dataSetBinding[kRoleCount] = {}; // variable bindings (xvgeti, xvputi)

    // ---- pools ----
    HostAllocator* runPool[3] = {};  // live for the whole step
    HostAllocator* stagePool = nullptr;
    HostAllocator* jacobianPool = nullptr;
    HostAllocator* invPool = nullptr;  // inverse-store pool
    HostAllocator* byGroupPool = nullptr;

    // ---- utility files ----
    HostFile* scratchFile = nullptr;  // main utility file (patterns, saved optimizer state)
    HostFile* workFile2 = nullptr;
    HostFile* workFile3 = nullptr;
    HostFile* jacColFile = nullptr;   // Jacobian column file
    HostFile* wJacColFile = nullptr;  // weighted column file
    HostFile* jacTermFile = nullptr;  // term-wise Jacobian file

    // ---- flags ----
    int16_t profileWanted = 0;
    int16_t rebuildBeforeDerivs = 0;
    int16_t optimizationFailed[2] = {};
    int16_t rawData = 0;        // raw data through the host accumulator
    int16_t symatrixInput = 0;  // DATA= of TYPE SYMATRIX
    int16_t inramUsed = 0;
    int16_t inwgtUsed = 0;
    int16_t inestUsed = 0;
    int16_t equationModel = 0;  // LINEQS or RAM
    int16_t modelKind = 0;      // ModelKind
    int16_t invertOnce = 0;     // inverses once for all terms
    int16_t hasProgram = 0;     // programming statements present
    int16_t useWeightMatrix = 0;
    int16_t printEnabled = 0;
    int16_t printDetail = 0;    // detailed printing, also the elapsed-time note
    int16_t modIndices = 0;

    // ---- counts ----
    int32_t nByVars = 0;
    int32_t nVar = 0;
    int32_t nManifest = 0;
    int32_t nTerms = 0;
    int32_t nMatrices = 0;
    int32_t nParmFree = 0;   // independent parameters
    int32_t nParmAdded = 0;
    int32_t nParmAll = 0;
    int32_t nCols = 0;
    int32_t nParmDep = 0;
    int32_t nStructEq = 0;

    // ---- methods ----
    int32_t methodRequested = kMethodNone;
    int32_t methodGroup = kMethodNone;  // per-BY-group copy
    int32_t methodStage = kMethodNone;  // method of the stage that ran last
    int32_t jacobianMode = 0;
    int32_t jacobianModeRequested = 0;

    // ---- moment state ----
    int32_t momentOrigin = 0;   // 0 about the means, 1 about zero, -(k+1) intercept variable k
    uint32_t bySyncState = 0;   // mode handed to BY-group synchronisation

    // ---- compiler result areas (written by the host statement compiler) ----
    double compilerResult[2][8] = {};

    // ---- error level: raise only ----
    int32_t errorLevel = 0;

    // ---- sizes ----
    int32_t nMoments = 0;
    int32_t nWeights = 0;
    int32_t nElements = 0;
    int32_t invStoreLen = 0;

    int32_t randomSeed = 0;  // 0 = none

    double elapsed = 0.0;    // start time during the step, elapsed time after

    // ---- N ----
    double nObs = 0.0;       // number of observations of the analysis

    // ---- moments and discrepancy arrays (moment step, model evaluation,
    // numerical kernels); n = nManifest, p* = nMoments = n(n+1)/2; packed
    // means PackedSym ----
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

    // ---- constants ----
    double startConst = 0.0;
    double singular = 0.0;
    double waldAlpha = 0.0;

    // ---- links ----
    NlpProblem* nlp = nullptr;
    NlpHookBlock* hooks = nullptr;
    CmpWork* cmpWork = nullptr;

    // ---- output delivery ----
    HostObject* kyrManager = nullptr;     // the KYR output manager
    HostObject* kyrTable = nullptr;       // output handle of the table being built
    HostObject* kyrAnchor = nullptr;      // the object-manager anchor
    HostObject* kyrGroups[kGroupCount] = {};

    // ---- statements and PROC options (cosinit) ----
    struct ProcOptionRecord* procOptions = nullptr;  // payload of the PROC statement
    struct ParseArea2* program = nullptr;            // programming statements (text)
    int16_t covAnalysis = 0;        // COVARIANCE: analyse covariances, not correlations
    int16_t uncorrectedCorr = 0;    // UCORR
    int16_t uncorrectedCov = 0;     // UCOV
    int16_t interceptVar = 0;       // an Intercept variable takes part in the moments
    int16_t kurtosisWanted = 0;     // KURTOSIS (raw data only)
    int16_t fourthOrder = 0;        // the method needs fourth-order moments (WLS, DWLS)
    int16_t printInputModel = 0;    // print the input model (matrix form or equations)
    int16_t matrixForm = 0;         // print models in matrix form (PRIMAT; COSAN and FACTOR)
    int16_t modelListing = 0;       // model tables ModelStatement, EndogenousVar, ExogenousVar
    int16_t startNotes = 0;         // notes on start values (PINITIAL)
    int16_t noDfAdjust = 0;         // NOADJDF
    int16_t printEffects = 0;       // TOTEFF
    uint32_t printFlags = 0;        // further print switches, bit per ProcPrintFlag
    uint32_t optionFlags = 0;       // further option switches, bit per ProcOptionFlag
    double edfGiven = 0.0;          // EDF, missing when not given
    double dfReduce = 0.0;          // DFREDUCE, missing when not given
    double nobsGiven = 0.0;         // NOBS, missing when not given
    double varStartScale = 0.0;     // DEMPHAS, missing when not given
    double ridgeCell = 0.0;         // RIDGE: 0 none, a value, missing automatic
    double wRidge = 0.0;            // WRIDGE
    double wPenalty = 0.0;          // WPENALTY, missing when not given
    double alphaEcv = 0.0;          // ALPHAECV / 2
    double alphaRms = 0.0;          // ALPHARMS / 2
    int32_t asycovKind = 0;         // ASYCOV: 1 biased, 2 unbiased, 3 correlations
    int16_t typeVar = 0;            // variable numbers in DATA= of _TYPE_, Intercept, _NAME_
    int16_t interceptVarNumber = 0;
    int16_t nameVar = 0;
    char dataSetType[4][8] = {};    // TYPE of DATA=, INRAM=, INEST=, INWGT=
    int32_t varNameWidth = 8;       // widest variable name in use
    int32_t labelWidth = 0;         // widest label in use (0 or at least 40)
    NameRecord* manifestNames = nullptr;  // names of the DATA= variables in use [nManifest]
    int16_t* manifestNumbers = nullptr;   // their variable numbers
    VariableListRecord* hostLists = nullptr;  // the lists handed to xvdflst (step memory);
                                              // cospar4 defines them again without the
                                              // variables the model does not use
    int16_t interceptSlot = 0;      // the intercept slot after the variables is in use

    // ---- model (cospari and the readers) ----
    int16_t lineqsModel = 0;        // ModelKind flags
    int16_t cosanModel = 0;
    int16_t ramModel = 0;
    int16_t factorModel = 0;
    int16_t perTermInverse = 1;
    int16_t matrixSpec = 0;         // MATRIX statements name the model's matrices
    int32_t leadingDim = 0;         // leading dimension of model work matrices
    int32_t largestProduct = 0;     // largest rows x columns of a pattern
    ModelMatrixTable model;
    ElementPattern elements;
    NameRecord* columnNames = nullptr;  // the ColumnNameTable
    int32_t nColumnNames = 0;
    int32_t matNameWidth = 0;
    int32_t parmNameWidth = 0;
    int32_t colNameWidth = 0;
    int32_t nNamedPositions = 0;    // provisional count of free parameters
    // LINEQS results
    int32_t nEndoManifest = 0;
    int32_t nEndo = 0;
    int32_t nExoNonError = 0;
    int32_t* errorTermOfEq = nullptr;   // per equation: 1-based exogenous index of its E/D term
    int32_t* varPosition = nullptr;     // per DATA= variable: model position or -1
    int32_t nUnusedVars = 0;
    int32_t* latentStart = nullptr;     // latent variables that need start values
    int32_t nLatentStart = 0;
    NameRecord* structEqNames = nullptr;
    int32_t nDepRef = 0;            // independent parameters the program references
    // RAM results
    int32_t nLatent = 0;            // latent variables (model variables N less manifest n)
    int32_t* incomingPaths = nullptr;  // per model variable: elements in its row of _A_
    int32_t nWithIncoming = 0;      // model variables with at least one incoming path
    // FACTOR statement (cospari)
    int32_t nFactors = 0;           // k, 1 when N= is not given
    double factorSecond = 1.0;      // the statement's second number, kept for its readers
    int16_t factorNoUnique = 0;     // no unique part (COMPONENT)
    int16_t factorIdentity = 0;     // unique part entered as _U_ _I_ _U_' (HEYWOOD)

    // ---- moments of the BY group (coscorr and its readers, procedure/data/) ----
    int32_t nPartial = 0;           // PARTIAL variables, read after the manifest ones
    int32_t nRead = 0;              // variables read: nVar + nPartial (+1 with interceptVar)
    int32_t modelDf = 0;            // the model's degrees of freedom, corrected by cosiset
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
    double* rowValues = nullptr;    // [nRead + 1]: cells bound to the numeric variables of
                                    // SYMATRIX DATA=, INWGT=, OUTSTAT= and OUTWGT=
    double* dwlsAsycov[2] = {};     // [p*] each: DWLS fourth moments for ASYCOV=CORR
    double* invStore = nullptr;     // the inverse store of the BY group (invPool)
    int64_t weightFactorStart = 0;  // byte position of the WLS weight factor on scratchFile
    int64_t weightFactorPos = 0;    // running position while it is written
    int64_t weightFactorEnd = 0;    // its end
    int16_t weightsOnFile = 0;      // workFile3 holds the p* diagonal weights of this group
    int16_t varianceBlockWritten = 0;  // cleared by the moment step for every BY group
    int32_t nJacEntries = 0;        // nonzero entries of the derivative of the model elements
                                    // (cosinst); sizes the sparse Jacobian
    int32_t momentOriginOption = 0; // the origin the options ask for (0 or 1), restored
    int16_t momentOriginKept = 0;   // for every BY group once it is kept
    // cells bound to the special variables (cosfop1, cosfop2, cosfop3)
    double ramRow[5] = {};          // _MATNR_, _ROW_, _COL_, _ESTIM_, _STDERR_
    double rhsCell = 0.0;           // _RHS_
    double iterCell = 0.0;          // _ITER_
    double alphaCell = 0.0;         // _ALPHA_

    // ---- optimizer set-up ----
    void* parmBlock = nullptr;      // per-parameter arrays of cosop31
    double nObsCell = 0.0;          // "_NOBS_"
    double sigsqScale = 1.0;        // copied from the hook block
    int64_t saveEnd[3] = {};        // end offset of the optimizer state record

    // ---- programming statements and dependent parameters (cospar5) ----
    double dprocCell = 0.0;             // "_DPROC_"
    int16_t programListing = 0;         // list the program, its symbols and derivatives
    int16_t fdDepDerivs = 0;            // derivatives of program-defined quantities by
                                        // finite differences: no analytic derivative requests
    int16_t depDerivRequest = 1;        // analytic derivatives of the dependent parameters
    int16_t conDerivRequest = 1;        // analytic derivatives of the NLINCON symbols
    CmpList depList;                    // dependent parameters (symbol kind 2)
    CmpList indList;                    // independent parameters the program reads (kind 1)
    CmpList nlcList;                    // the symbols NLINCON names (filled by the constraint set-up)
    int32_t* depParmNumbers = nullptr;  // per depList entry: parameter number, -(index+1) after mode 1
    int32_t* depInputParms = nullptr;   // per indList entry: 1-based parameter number
    int32_t nDepInputs = 0;             // = indList.count
    double* xCopy = nullptr;            // x saved in mode 1, restored at the end of mode 2
    CmpDerivArea derivArea[2];          // 0: dependent parameters, 1: NLINCON symbols
    int32_t nStmtVars = 0;              // program variables of INEST= (extra OUTEST= numerics)
    // The analytic derivative entries (views of derivArea): entry t is the
    // derivative of depList[depDerivParm[t]] (conDerivStmt[t] of nlcList)
    // with respect to indList[depDerivInput[t]], current after every run.
    int32_t nDepDerivs = 0;
    const double* depDerivCells = nullptr;
    const int16_t* depDerivParm = nullptr;
    const int16_t* depDerivInput = nullptr;
    int32_t nConDerivs = 0;
    const double* conDerivCells = nullptr;
    const int16_t* conDerivStmt = nullptr;
    const int16_t* conDerivInput = nullptr;

    // ---- results: the fit statistics for the OUTRAM= STAT rows ----
    ResultsState results;
};

// Raises the error level (the larger value wins).
inline void raise_error_level(ProcContext* ctx, int32_t level) {
    if (level > ctx->errorLevel) ctx->errorLevel = level;
}
