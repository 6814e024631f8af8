// EvaluationState: the state that model evaluation owns inside the step's
// ProcContext (field `eval`).  The objective writes the implied moments,
// their inverse and the residual term; every derivative routine only reads
// them and works in its own arrays, so that the objective, gradient, cross
// product and Jacobian may be called in any order at one point and give the
// same numbers.  All arrays come from one host pool made by
// commem and are sized once per BY group, so no evaluation
// allocates.
//
// Storage: n = number of manifest variables, p* = n(n+1)/2, q = number of
// independent parameters, ld = leading dimension of the dense work matrices
// (the larger of n and the widest model matrix).  "packed" is PackedSym.
#pragma once

#include <cstdint>
#include <memory>

struct HostAllocator;
struct RowGroupCache;
// Frees a RowGroupCache (defined with it).
struct RowGroupCacheFree {
    void operator()(RowGroupCache* cache) const;
};

// One contribution of one model element to the derivative of the implied
// moments: dC/dtheta[param] += weight (u v' + v u'), u and v columns of
// the term walker's left and right products.  Its vectors lie in
// EvaluationState::contribVectors from `offset` on: u, v, K u, K v (n
// doubles each, K the weight of the cross product).
struct EvalContribution {
    int32_t param = 0;    // 0-based independent parameter
    double weight = 0.0;  // scale of the element times the dependent-parameter derivative
    int32_t offset = 0;   // start of u in EvaluationState::contribVectors
};

// The program-defined nonlinear constraints as the constraint set-up lays
// them out (owner: estimation control; model evaluation reads it).
// Statement i is one NLINCON name: its program variable's value cell, its
// kind (2, 4, 6 equalities; 1, 3, 5 lower limits; -1, -3, -5 upper limits;
// -2, -4, -6 ranges; kinds 5, 6, -5, -6 add into their row) and its rows:
// an equality at firstRow, an inequality at nNlinEq + firstRow - rowBase,
// the upper row of an upper limit or range at nNlinEq + secondRow - rowBase.
struct NlinConTable {
    int32_t count = 0;
    const int16_t* kind = nullptr;
    const int32_t* firstRow = nullptr;
    const int32_t* secondRow = nullptr;
    int32_t rowBase = 0;
    double* const* cells = nullptr;
};

// The Jacobian of the implied moments in the storage forms other than the
// in-memory one (owner: model evaluation).  Mode 2 keeps term-wise records
// on the term file, one per parameter reaching one matrix of one term,
// tagged by the parameter; modes 3 and 6 keep columns on the column files
// (record k at byte 8 p* k); modes 11 and 12 keep the structural nonzeros
// of each parameter's column: parameter k owns entries rowEnd[k-1] ..
// rowEnd[k]-1 (from 0 for k = 0), each a moment (nzRow >= nzCol) in
// ascending order and its value.
struct JacobianStorage {
    int32_t* recordTags = nullptr;  // recordMax: 0-based parameter of each term-wise record
    int32_t recordCount = 0;        // records of the last walk
    int32_t recordMax = 0;          // capacity, counted from the element pattern
    int32_t* rowEnd = nullptr;      // max(recordMax, q): per record while the pattern is
                                    // analysed, then the cumulative ends per parameter
    int32_t* nzRow = nullptr;       // nonzeros: moment row i
    int32_t* nzCol = nullptr;       // nonzeros: moment column j <= i
    double* nzValue = nullptr;      // nonzeros: the value at the current point
    int32_t nonzeros = 0;           // structural nonzeros of the pattern (0: no pattern)
    int32_t nzCapacity = 0;         // nonzeros nzRow, nzCol and nzValue have room for
    double* column = nullptr;       // p*: one column being built or read
    double* weighted = nullptr;     // p*: a weighted column, the moments of a perturbed point
    double* other = nullptr;        // p*: a second column read back
};

// The inverse of I - M of the one IMINUSINV matrix whose inverse is kept in
// sparse rows on the pattern of its fill-in (owner: model evaluation; set
// up once per stage).  Row r holds entries rowEnd[r-1] .. rowEnd[r]-1 (from
// 0 for r = 0), columns ascending.  source: e+1 an off-diagonal element e
// (start -v), -(e+1) a diagonal element (start 1 - v), kUnitSource a unit
// diagonal without element, 0 a fill-in position.
struct SparseInverse {
    static constexpr int32_t kUnitSource = 2147483647;
    int32_t matrix = 0;  // the matrix number; 0 none (or after a failed inversion)
    int32_t order = 0;   // its order (EQSBETA: the endogenous block)
    int32_t* rowEnd = nullptr;
    int32_t* col = nullptr;
    double* val = nullptr;
    int32_t* source = nullptr;
    int32_t* pivotOrder = nullptr;  // the rows in the order they are pivoted
};

// Owner: model evaluation (procedure/evaluation/).
struct EvaluationState {
    HostAllocator* pool = nullptr;  // holds every array below; 0 before set-up
    int32_t n = 0, pstar = 0, q = 0, ld = 0, nMatrices = 0;  // sizes of the arrays
    int32_t nDep = 0, nDepInputs = 0;

    // Written only by the objective (cosfunc).
    double* implied = nullptr;     // C, packed order n
    double* impliedInv = nullptr;  // ML: C^-1, packed order n
    double* residual = nullptr;    // p*: ULS, GLS, ML C - S; WLS L^-1 (C - S); DWLS w .* (C - S)
    double* product = nullptr;     // n x n dense: GLS W (C - S), ML C^-1 S
    int32_t valid = 0;             // 1: the arrays above belong to the last point evaluated
    double logDetC = 0.0;          // ln det C of the last ML evaluation; -DBL_MAX after a failure
    double discrepancy = 0.0;      // F of the last evaluation; DBL_MAX after a failure
    double discrepancyRaw = 0.0;   // the unscaled quantity (see discrepancy_functions.h)
    int32_t nEvalFail = 0;         // failed program runs
    int32_t pointMoved = 0;        // 1: the last objective call moved the point by a retry
    int32_t failedMatrix = 0;      // matrix number of the last failed inversion, 0 none

    // Work of the derivative routines and the kernels.
    double* dFdC = nullptr;           // p*: dF/dC in the trace-product convention
    double* work1 = nullptr;          // n x ld: left product U
    double* work2 = nullptr;          // n x ld: right product V
    double* work3 = nullptr;          // n x ld: scratch product
    double* rowBuf = nullptr;         // ld: the kernels' row buffer
    double* dense = nullptr;          // n x n: scratch (dense G, products of the objective)
    double* kDense = nullptr;         // n x n: the weight K of the cross product, dense
    double* factor = nullptr;         // ld x ld: factorization scratch of cosimat
    int32_t* pivots = nullptr;        // ld
    int32_t* nzIndex = nullptr;       // n x ld: column indices of the nonzeros of a product's rows
    int16_t* invDone = nullptr;       // nMatrices + 1: inverse form current
    double* jacobian = nullptr;       // q x p*: row k is dC/dtheta_k (packed); made on first use
    double* cross = nullptr;          // packed order q: the cross product is built here (lent to
                                      // the optimizer's covariance code, which takes K1 in it)
    double* secondOrder = nullptr;    // packed order q: the last exact Hessian of a run less J'WJ
                                      // at its point (estimation_hessian); made on first use
    double* gradient = nullptr;       // q: the gradient is built here
    // Where `cross` was last formed by the cross-product callback: the
    // point (q), the storage mode and the method, and the gradient formed
    // with it (q); mode -1 once it is formed again or its space lent.  The
    // callback itself and the covariance step take it as it is at the same
    // point instead of forming it again.
    double* crossAt = nullptr;
    double* crossGradient = nullptr;
    int32_t crossMode = -1;
    int32_t crossMethod = -1;
    double* depShare = nullptr;       // q: derivatives of one dependent parameter
    double* depFdJacobian = nullptr;  // nParmDep x nDepInputs: finite-difference derivatives of
                                      // the dependent parameters (row r: depParmNumbers[r])
    double* depBase = nullptr;        // nParmDep: dependent parameters at the base point
    double* conBase = nullptr;        // nNlinCon: constraint values at the base point

    // Contributions of the last walk (see EvalContribution).
    EvalContribution* contrib = nullptr;
    int32_t nContrib = 0, maxContrib = 0;
    double* contribVectors = nullptr;  // 4n doubles per contribution; made on first use
    int32_t contribVectorsUsed = 0;

    // The nonlinear constraints of the program (0: none laid out).
    const NlinConTable* nlinCon = nullptr;

    // Jacobian storage mode of the running stage: set by the estimation for
    // each stage, rewritten by the covariance step.  1 in memory; 2 term-wise
    // records; 3 columns on files; 4 the cross product on a file; 5 and 6
    // forward differences in memory and on files; 11 and 12 the structural
    // nonzeros (the two differ only in the mode the estimation falls back
    // to when the pattern cannot be found: 1 and 5).
    int32_t jacobianMode = 0;
    JacobianStorage jac;
    // The nonzeros of the pattern's rows in groups, formed by the first
    // cross product of a pattern and kept for the later ones (owner: the
    // sparse Jacobian; freed with the arrays above, or with the state when
    // a step exit unwinds it).
    std::unique_ptr<RowGroupCache, RowGroupCacheFree> rowGroups;
    SparseInverse sparseInv;

    // Options and results of the covariance step.
    int16_t diagFromData = 0;      // the diagonal of C is taken from S (PROC option)
    int16_t printJacPattern = 0;   // PJACPAT: show the Jacobian pattern (PROC option)
    int32_t covStatus = 0;         // 0 none, 1 regular inverse, 2 generalized, 3 failed
    double* covariance = nullptr;  // packed order q: the inverse of the information matrix
                                   // (of the model under the active constraints), and 2q more:
                                   // lent to the optimizer for the run (NlpCovResults), where
                                   // a technique keeps the factor it then inverts
};
