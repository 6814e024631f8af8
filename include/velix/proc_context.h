// ProcContext: the procedure's one run context.  It lives in the frame of
// the step driver for the whole step and is passed first to nearly every
// procedure routine.  Fields are grouped by the routine family that fills
// them; every other family only reads them.  One name per field: where the
// subsystems' own vocabularies differ, the other spellings are listed in the
// field's comment so that a search finds the one name.
#pragma once

#include <cstdint>

#include "velix/host.h"
#include "velix/nlp.h"
#include "velix/types.h"

struct StatementNode;
struct CmpWork;
struct DataSetSlot;

// The five blocks of the step's frame besides the context.
struct CmpWork {
    void* compiler = nullptr;  // the statement compiler's own state
    void* program = nullptr;   // the compiled programming statements
    int32_t status = 0;        // result of the compiler's last service: nonzero = failure
};
struct CmpHandle {
    void* resultArea1 = nullptr;   // word 0: first compiler result area
    void* resultArea2 = nullptr;   // word 1: second compiler result area
    void* reserved[2] = {};        // words 2 and 3 stay 0
    HostObject* manager = nullptr; // word 4: the KYR manager
};

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
};

// Raises the error level (the larger value wins).
inline void raise_error_level(ProcContext* ctx, int32_t level) {
    if (level > ctx->errorLevel) ctx->errorLevel = level;
}
