// The optimizer library's problem block, its hook block and the profile
// settings.  One struct each, fields named; the optimizer subsystems add the
// fields they own next to their group.
#pragma once

#include <cstdint>

#include "velix/types.h"

struct ProcContext;
struct HostFile;
struct NlpHookBlock;

// Profile-limit settings, in order.
struct ProfileSettings {
    void* link = nullptr;          // used by the optimizer
    int32_t method = 0;            // 0 none, 1 parameters, 2 default set, 3 parameters with levels
    int32_t countOption = 0;
    int32_t defaultSet = 0;        // set by the option reader
    int32_t nLevels = 0;           // number of confidence levels
    int32_t limitFlag1 = 0;        // 2 from PROFILE bit 16
    int32_t limitFlag2 = 0;        // 1 from PROFILE bit 32
    int32_t nProfiled = 0;         // number of profiled parameters
    int32_t* indexList = nullptr;  // 0-based indices of the profiled parameters
    double options[3] = {};
    double* levels = nullptr;      // confidence levels
};

using NlpCallback = int32_t (*)(struct NlpProblem* nlp);
using NlpRowCallback = int32_t (*)(struct NlpProblem* nlp, int32_t row, double* out);
using NlpHook = void (*)(struct NlpProblem* nlp);

struct NlpProblem {
    // Links and files.
    ProcContext* owner = nullptr;      // back link to the procedure's context
    NlpHookBlock* hooks = nullptr;     // the hook block
    HostFile* utilityFile = nullptr;   // the optimizer's own utility file

    // Callback slots.
    NlpCallback objectiveFn = nullptr;
    NlpCallback gradientFn = nullptr;
    NlpCallback hessianFn = nullptr;
    NlpCallback conJacobianFn = nullptr;
    NlpRowCallback conRowFn = nullptr;
    NlpHook iterOutputHook = nullptr;

    // Sizes and problem kind (set by the optimizer set-up of the model).
    int32_t nParams = 0;        // n
    int32_t packedLen = 0;      // n(n+1)/2
    int32_t nFunctions = 0;     // m, least-squares functions (the distinct moments)
    int32_t nFunctionRows = 0;  // m again; every writer sets both
    double printLevel = 0.0;
    int32_t maximize = 0;
    int32_t leastSquares = 0;
    int32_t noSave = 0;         // 1: the library keeps no copy of the problem

    // Technique, update, line search (a given 0 keeps the preset).
    int32_t technique = 0;      // TechniqueCode
    int32_t techVariant = 2;
    int32_t update = 0;         // UpdateCode
    int32_t lineSearch = 0;

    // Constraints present and their counts.
    int32_t hasBounds = 0;
    int32_t hasLinCon = 0;
    int32_t hasNlinCon = 0;
    int32_t nLinCon = 0;        // general linear rows, equalities first
    int32_t nLinEq = 0;
    int32_t nNlinCon = 0;
    int32_t nNlinEq = 0;

    // Options.  Doubles are the host missing value until given or completed
    // by the option set-up.
    double feasTol = 0.0;       // LCEPS
    double linDepTol = 0.0;     // LCSINGULAR
    double lagMultTol = 0.0;    // LCDEACT
    double stepCap = 0.0;       // MAXSTEP
    double earlyStepCap = 0.0;  // DAMPSTEP
    double inStep = 0.0;        // INSTEP, also the PROC step parameter
    double lsPrecision = 0.0;   // LSPRECISION
    double singularTol = 0.0;   // SINGULAR
    double inHessian = 0.0;     // INHESSIAN
    double fDigits = 0.0;       // FDIGITS
    double cDigits = 0.0;       // CDIGITS
    double hesCal = 0.0;        // HESCAL
    double restart = 0.0;       // RESTART
    int32_t derivCheckMode = 0; // 0 none, 1 start-phase checks, 2 with the Hessian, 3 asked by GRADCHECK
    int32_t derivDigits = 0;    // FD codes: units gradient, thousands Hessian (FD=, FDHESSIAN=)
    int32_t refreshFBeforeConJac = 0;

    // Limits and termination thresholds (Part of the termination test).
    double maxTime = 0.0;
    int32_t minIter = 0;
    double maxIter = 0.0;
    double nlcIterLimit = 0.0;  // the second MAXITER number
    double maxFunc = 0.0;
    double absConv = 0.0;
    double absFConv = 0.0;
    double fConv = 0.0;
    double fConv2 = 0.0;
    double absXConv = 0.0;
    double xConv = 0.0;
    double absGConv = 0.0;
    double gConv = 0.0;
    double gConv2 = 0.0;
    double fSize = 0.0;
    double xSize = 0.0;

    // Parameters: names, the current point and bounds (per-parameter arrays
    // allocated by cosop31).
    NameRecord* paramNames = nullptr;
    int32_t paramNameWidth = 0;
    double* x = nullptr;
    double* lower = nullptr;     // lowerBounds in the reporting code
    double* upper = nullptr;     // upperBounds in the reporting code
    double* scale = nullptr;
    double* paramRow = nullptr;  // cells bound to the parameter variables of OUTEST= and INEST=

    // Run state.  The doubles are bound to program symbols.
    double evalStatus = 0.0;    // "_TOOBIG_"
    double iteration = 0.0;     // "_ITER_"
    double evalPhase = 0.0;     // "_INDF_"
    int32_t lastStatus = 0;

    // Evaluation results: what the callbacks leave for the optimizer.
    // Arrays are the optimizer's (n doubles, packed n(n+1)/2 for the
    // Hessian); the callbacks write only the entries of the free parameters.
    double f = 0.0;               // objective at x; the host missing value after a failure
    double* gradient = nullptr;   // [n] gradient at x
    double* hessian = nullptr;    // packed [n(n+1)/2]: cross product, then the covariance
    double* stdErrors = nullptr;  // [nParmAll] standard errors; dependent parameters after n
    int32_t nFun = 0;             // objective evaluations (phases below 7)
    int32_t nGrad = 0;            // gradient evaluations (phases below 7)
    int32_t nHess = 0;            // second-derivative evaluations
    int32_t nConEval = 0;         // constraint evaluations with the objective
    int32_t pointMoved = 0;       // 1: the objective moved x by a retry; f belongs to the moved x
    double* conValues = nullptr;  // [nNlinCon] nonlinear constraint values, equalities first
    double* conJacobian = nullptr;  // [nNlinCon x nParams] their Jacobian, row-major
    double* nlcRhs = nullptr;     // [nNlinCon] right-hand sides of the nonlinear constraints
    int32_t nConJac = 0;          // constraint-Jacobian evaluations
};

struct NlpHookBlock {
    ProfileSettings* profile = nullptr;  // the driver points it at the block itself
    ProfileSettings settings;            // the profile-limit settings it points to

    NlpCallback objectiveFn = nullptr;
    NlpCallback gradientFn = nullptr;
    NlpCallback crossProductFn = nullptr;
    NlpCallback hessianFn = nullptr;
    NlpCallback conJacobianFn = nullptr;
    NlpHook outestHook = nullptr;

    // Set by the option reader and the optimizer set-up.
    int32_t optionWord = 0;         // 0, 2 or 3 accepted
    double nParamsForDf = 0.0;      // n as a double, "_DF_"
    double sigsqFactor = 1.0;       // scale copied into ProcContext.sigsqScale
    double* nObsRef = nullptr;      // the ProcContext cell "_NOBS_"
    int32_t setupFlag[3] = {};      // two set to 1, the third cleared after cosop12
    int32_t wantCovariance = 0;     // the estimation results are wanted
    int32_t printCovariance = 0;    // PCOVES
    int32_t printCrossProduct = 0;  // PCRPJAC
    int32_t printHessian = 0;       // PHESSIAN
    double covTol1 = 0.0;           // ASINGULAR
    double covTol2 = 0.0;           // MSINGULAR
    double covTol3 = 0.0;           // VSINGULAR
    double ginvTol = 0.0;           // COVSING
    int32_t ginvMaxParams = 0;      // G4
    int32_t outestJacobian = 0;     // JACOBIAN rows of the moments' Jacobian in OUTEST= (0 no,
                                    // 1 yes; default 0); read by the information step
};
