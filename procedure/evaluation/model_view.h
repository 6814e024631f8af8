// The view of the step's context that model evaluation reads: the model
// tables, the element pattern, the moments and weights of the BY group, the
// method of the running stage and the links to the optimizer blocks.  It is
// bound from the ProcContext in one place (eval_view), so that the
// evaluation routines name no other ProcContext field.
//
// Conventions: matrices are numbered 1..nMatrices; term t (1-based) covers
// the matrices termStart[t-1] .. termStart[t]-1, its last one the central
// matrix.  Dense work matrices are row-major with row length ld.
#pragma once

#include <cstdint>
#include <string>

#include "numerics/kernel_support.h"
#include "velix/evaluation_state.h"
#include "velix/model.h"

struct ProcContext;
struct NlpProblem;
struct NlpHookBlock;
struct CmpWork;
struct HostObject;
struct OutputRowBuffer;
struct HostFile;

struct EvalView {
    // Model (read only but for the element values).
    const ModelMatrixTable* mt = nullptr;
    ElementPattern* el = nullptr;
    int32_t n = 0;      // manifest variables, order of S and C
    int32_t pstar = 0;  // n(n+1)/2
    int32_t nTerms = 0, nMatrices = 0, nElements = 0;
    int32_t nParmFree = 0, nParmAll = 0, nParmDep = 0;
    int32_t ld = 0;                     // row length of the dense work matrices
    int32_t lineqs = 0;                 // a LINEQS model: EQSBETA, EQSGAMMA and the reduced shapes
    int32_t nExogenous = 0;             // LINEQS: E, rows of the fourth matrix
    const int32_t* selIndex = nullptr;  // SELECTION rows: column of the one, negative none
    double* invStore = nullptr;         // the InverseStore (offsets are 1-based)
    int32_t invertOnce = 0;             // inverse forms once for all terms
    const NameRecord* columnNames = nullptr;  // the ColumnNameTable (ModelMatrixTable::firstColumnName)
    const NameRecord* manifestNames = nullptr;  // the DATA= variables in use [n]
    int32_t factorUnique = 0;  // FACTOR: the matrix of the unique variances (a row per variable), else 0

    // Moments and method.
    const double* S = nullptr;        // packed order n
    const double* weights = nullptr;  // GLS W (packed n); WLS factor L (packed p*); DWLS w (p*)
    double logDetS = 0.0;
    int32_t method = 0;           // MethodCode of the running stage
    int32_t methodRequested = 0;  // MethodCode of the PROC statement
    bool modIndices = false;      // MODIFICATION: the tests after the fit are wanted
    int32_t* jacobianMode =
        nullptr;            // Jacobian storage mode of the stage (rewritten after the run)
    double nPrime = 0.0;    // N', the multiplier of the chi-square (sample_multiplier)
    int32_t inWgt = 0;      // GLS weights from INWGT=
    double singular = 0.0;  // tolerance of every factorization
    const double* parmUnits = nullptr;  // each parameter's size in the units of the data, 0
                                        // unknown (written with the start values; may be null)
    double nObs = 0.0;      // N of the analysis

    // Programming statements and dependent parameters.
    int32_t hasProgram = 0;
    int32_t quietPrograms = 0;  // neither END note nor program trace asked for
    CmpWork* cmpWork = nullptr;
    int32_t nDepDerivs = 0;
    const double* depDerivCells = nullptr;
    const int16_t* depDerivParm = nullptr;
    const int16_t* depDerivInput = nullptr;
    const int32_t* depParmNumbers = nullptr;
    const int32_t* depInputParms = nullptr;
    int32_t derivativesRequested = 0;
    int32_t fdDepDerivs = 0;  // dependent parameters differentiated by finite differences
    int32_t nDepInputs = 0;   // independent parameters the program reads
    int32_t nConDerivs = 0;   // analytic derivative entries of the constraint variables
    const double* conDerivCells = nullptr;
    const int16_t* conDerivStmt = nullptr;
    const int16_t* conDerivInput = nullptr;

    // Output and links.
    int32_t printEnabled = 0;
    HostObject* kyrManager = nullptr;
    ProcContext* ctx = nullptr;         // for the shared table publisher and row writer only
    OutputRowBuffer* outRow = nullptr;  // the output row of the data-set writers
    double* outestCells[3] = {};        // the other numeric OUTEST= cells (_RHS_, _ITER_, _ALPHA_)
    int32_t outestGiven = 0;            // OUTEST= is written
    int32_t* errorLevel = nullptr;
    // Utility files of the Jacobian storage forms (opened by the step).
    HostFile* termFile = nullptr;      // term-wise records (mode 2)
    HostFile* columnFile = nullptr;    // columns (modes 2, 3, 6), the cross product (mode 4)
    HostFile* weightedFile = nullptr;  // WLS and DWLS weighted columns
    NlpProblem* nlp = nullptr;
    NlpHookBlock* hooks = nullptr;
    EvaluationState* st = nullptr;
};

// Binds the view of the context (every pointer refers into ctx).
EvalView eval_view(ProcContext* ctx);

// Sizes and allocates the arrays of ctx->eval for the current model and
// BY group from a host pool of its own (made again when the sizes grew);
// ends the step with the memory code when the pool cannot be had.
void commem(ProcContext* ctx);
// Deletes the pool of ctx->eval.
void evaluation_release(ProcContext* ctx);

namespace velix::detail {
// The singularity bound of a diagonal of the WLS weight factor when it is
// applied: the moment step factored and checked it relative to its scale,
// so only an exact zero is singular here.  An absolute bound (SINGULAR)
// would call the factor of data in small units singular: its diagonal
// scales with the squares of the variances.
constexpr double kCheckedFactorBound = velix::kDblMin;
// The matrix numbers of term t (1-based): first and central (last).
inline int32_t term_first(const EvalView& v, int32_t t) {
    return v.mt->termTable[t - 1];
}
inline int32_t term_central(const EvalView& v, int32_t t) {
    return v.mt->termTable[t] - 1;
}
// The first occurrence of matrix k's name (k itself when it has no earlier
// namesake): the occurrences of one name are one matrix, with one element
// list and one stored inverse, and each links to its nearest earlier one.
inline int32_t name_root(const EvalView& v, int32_t k) {
    for (int32_t guard = 0; guard < v.nMatrices && v.mt->sameName[k] > 0 && v.mt->sameName[k] < k; ++guard)
        k = v.mt->sameName[k];
    return k;
}
// Whether matrix k enters through the sparse-row inverse: every occurrence
// of the name of the matrix it was built for does.
inline bool sparse_inverse_of(const EvalView& v, int32_t k) {
    const int32_t s = v.st->sparseInv.matrix;
    return s != 0 && k != 0 && name_root(v, k) == name_root(v, s);
}
// The stored inverse of matrix k.  The LINEQS and RAM readers size the
// store for their one inverse and lay out no offsets: 0 is the store's start.
inline double* stored_inverse(const EvalView& v, int32_t k) {
    const int32_t offset = v.mt->inverseOffset[k];
    return v.invStore + (offset > 0 ? offset - 1 : 0);
}
// EvaluationState::jacobian (q x p*), taken from the evaluation pool on
// first use; the step ends with the memory code when it cannot be had.
double* jacobian_store(const EvalView& v);
// EvaluationState::contribVectors (4n per share), in the same way.
double* contribution_store(const EvalView& v);
// EvaluationState::secondOrder (packed order q), in the same way.
double* second_order_store(const EvalView& v);
// The derivatives of dependent parameter p (a negative parameter number)
// with respect to the independent parameters, in view.st->depShare (q
// doubles): from the finite-difference table under fdDepDerivs, else from
// the program's analytic derivative entries.
const double* dependent_derivatives(const EvalView& v, int32_t p);
// Ends the step as an internal fault: the WLS weight factor, checked when
// the moments were formed, is singular.
[[noreturn]] void wls_factor_fault();
// Reads or writes a utility-file record at a byte position; a failed
// transfer is reported and ends the step (1020).
void file_put(HostFile* file, int64_t position, const double* data, int32_t count);
void file_get(HostFile* file, int64_t position, double* data, int32_t count);
// The name of model matrix k, without trailing padding.
std::string matrix_name(const EvalView& v, int32_t k);
// Ends the step as an internal fault after numbered message 352/number.
[[noreturn]] void eval_fault(const EvalView& v, int32_t number, int32_t matrix);
}  // namespace velix::detail
