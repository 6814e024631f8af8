// Binding of the evaluation view and the evaluation arrays.  This file is
// the one place where model evaluation reads the fields of the step's
// context that other subsystems own; every other evaluation routine works
// on the EvalView and on the EvaluationState.
#include "procedure/evaluation/model_view.h"

#include "procedure/evaluation/cross_product.h"

#include <algorithm>
#include <cstring>

#include "host/internal_error.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/proc_context.h"

EvalView eval_view(ProcContext* ctx) {
    EvalView v;
    v.mt = &ctx->model;
    v.el = &ctx->elements;
    v.n = ctx->sizes.nManifest;
    v.pstar = ctx->sizes.nManifest * (ctx->sizes.nManifest + 1) / 2;
    v.nTerms = ctx->sizes.nTerms;
    v.nMatrices = ctx->sizes.nMatrices;
    v.nElements = ctx->sizes.nElements;
    v.nParmFree = ctx->sizes.nParmFree;
    v.nParmAll = ctx->sizes.nParmAll;
    v.nParmDep = ctx->sizes.nParmDep;
    v.ld = std::max({ctx->sizes.nManifest, ctx->readers.leadingDim, ctx->sizes.nCols, 1});
    v.lineqs = ctx->readers.lineqsModel;
    v.nExogenous = ctx->readers.lineqsModel && ctx->sizes.nMatrices >= 4 ? ctx->model.rows[4] : 0;
    v.selIndex = ctx->readers.varPosition;
    v.invStore = ctx->moments.invStore;
    v.invertOnce = ctx->readers.perTermInverse;
    v.columnNames = ctx->readers.columnNames;
    v.manifestNames = ctx->input.manifestNames;
    if (ctx->readers.factorModel && !ctx->readers.factorNoUnique) v.factorUnique = ctx->readers.nFactors > 0 ? 3 : 1;
    v.S = ctx->arrays.momentMatrix;
    v.parmUnits = ctx->optSetup.parms.unit;
    v.weights = ctx->arrays.weightMatrix;
    v.logDetS = ctx->moments.logDetMoments;
    v.method = ctx->methods.methodStage;
    v.methodRequested = ctx->methods.methodRequested;
    v.modIndices = ctx->options.modIndices != 0;
    v.jacobianMode = &ctx->eval.jacobianMode;
    v.nPrime = sample_multiplier(&ctx->moments, &ctx->options);
    v.inWgt = ctx->input.inwgtUsed;
    v.singular = ctx->options.singular;
    v.nObs = ctx->moments.nObs;
    v.hasProgram = ctx->program.hasProgram && ctx->cmpWork != nullptr;
    v.quietPrograms = 1;
    v.cmpWork = ctx->cmpWork;
    v.nDepDerivs = ctx->program.nDepDerivs;
    v.depDerivCells = ctx->program.depDerivCells;
    v.depDerivParm = ctx->program.depDerivParm;
    v.depDerivInput = ctx->program.depDerivInput;
    v.depParmNumbers = ctx->program.depParmNumbers;
    v.depInputParms = ctx->program.depInputParms;
    v.derivativesRequested = ctx->program.depDerivRequest || ctx->program.conDerivRequest ? 1 : 0;
    v.fdDepDerivs = ctx->program.fdDepDerivs;
    v.nDepInputs = ctx->program.nDepInputs;
    v.nConDerivs = ctx->program.nConDerivs;
    v.conDerivCells = ctx->program.conDerivCells;
    v.conDerivStmt = ctx->program.conDerivStmt;
    v.conDerivInput = ctx->program.conDerivInput;
    v.printEnabled = ctx->options.printEnabled;
    v.kyrManager = ctx->output.kyrManager;
    v.ctx = ctx;
    v.outRow = &ctx->dataSets.outRow;
    v.outestCells[0] = &ctx->cells.rhsCell;
    v.outestCells[1] = &ctx->cells.iterCell;
    v.outestCells[2] = &ctx->cells.alphaCell;
    v.outestGiven = ctx->dataSets.dataSetHandle[kRoleOutest] != nullptr;
    v.errorLevel = &ctx->errorLevel;
    v.termFile = ctx->files.jacTermFile;
    v.columnFile = ctx->files.jacColFile;
    v.weightedFile = ctx->files.wJacColFile;
    v.nlp = ctx->nlp;
    v.hooks = ctx->hooks;
    v.st = &ctx->eval;
    return v;
}

namespace {

// Calls fn(parameter) once for every element of every matrix slot: a
// matrix repeated in several terms shares its elements with its first
// occurrence, and the term walk visits it once per occurrence.
template <typename Fn>
void for_each_slot_element(const EvalView& v, Fn&& fn) {
    for (int32_t k = 1; k <= v.nMatrices; ++k) {
        const int32_t e0 = v.mt->firstElement[k], e1 = e0 + v.mt->elementCount[k];
        for (int32_t e = e0; e < e1; ++e) fn(v.el->parameter[e]);
    }
}

// Contributions one walk can emit: two per element (a symmetric matrix's
// off-diagonal element stands for two positions), times the inputs of a
// dependent parameter.
int32_t contribution_capacity(const EvalView& v) {
    const int32_t inputs = std::max(1, v.nParmFree);
    int64_t count = 0;
    for_each_slot_element(v, [&](int32_t p) {
        if (p > 0)
            count += 2;
        else if (p < 0)
            count += 2 * inputs;
    });
    return static_cast<int32_t>(std::max<int64_t>(count, 1));
}

// Term-wise Jacobian records one walk can write: one per independent
// parameter element, one per derivative entry (or program input) of a
// dependent one.
int32_t record_capacity(const EvalView& v) {
    int64_t count = 0;
    for_each_slot_element(v, [&](int32_t p) {
        if (p > 0) {
            ++count;
        } else if (p < 0 && v.fdDepDerivs) {
            count += v.nDepInputs;
        } else if (p < 0) {
            for (int32_t t = 0; t < v.nDepDerivs; ++t)
                if (v.depParmNumbers[v.depDerivParm[t]] == p) ++count;
        }
    });
    return static_cast<int32_t>(count);
}

template <typename T>
T* carve(HostAllocator* pool, int64_t count) {
    void* p =
        pool->allocate(pool, static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(T), 4096);
    if (p != nullptr)
        std::memset(p, 0, static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(T));
    return static_cast<T*>(p);
}

// *slot, count doubles carved from the evaluation pool when it is first
// asked for; the step ends with the memory code when it cannot be had.
double* made_on_first_use(const EvalView& v, double** slot, int64_t count) {
    if (*slot == nullptr) {
        *slot = carve<double>(v.st->pool, count);
        if (const int32_t c = xmemdef(*slot)) {
            xmemmsg(c + 20000);
            xexit(std::max(kLevelNoMemory, *v.errorLevel), 0);
        }
    }
    return *slot;
}

}  // namespace

void commem(ProcContext* ctx) {
    const EvalView v = eval_view(ctx);
    EvaluationState& st = ctx->eval;
    const int32_t maxContrib = contribution_capacity(v);
    if (st.pool != nullptr && st.n == v.n && st.q == v.nParmFree && st.ld == v.ld &&
        st.nMatrices == v.nMatrices && st.maxContrib == maxContrib && st.nDep == v.nParmDep &&
        st.nDepInputs == v.nDepInputs && st.jac.recordMax == record_capacity(v)) {
        st.valid = 0;
        velix::detail::cross_rewritten(v);
        return;
    }
    evaluation_release(ctx);
    const int64_t n = v.n, p = v.pstar, q = v.nParmFree, ld = v.ld;
    const int64_t doubles = 3 * n * (n + 1) / 2 + 2 * p + 4 * n * ld + ld + 3 * n * n + ld * ld +
                            q * (q + 1) + 7 * q + 4 * n * int64_t{maxContrib} +
                            int64_t{v.nParmDep} * (v.nDepInputs + 1) + v.nlp->shape.nNlinCon + 64;
    const int32_t records = record_capacity(v);
    const int64_t bytes = 8 * (doubles + 3 * p) + 4 * (ld + 2 * int64_t{records} + q) +
                          2 * (v.nMatrices + 1) +
                          int64_t{maxContrib} * static_cast<int64_t>(sizeof(EvalContribution)) +
                          4096;
    HostAllocator* pool = xmpoolc(bytes, 1024, 4096);
    if (pool == nullptr) {
        xmemmsg(bytes);
        xexit(std::max(kLevelNoMemory, ctx->errorLevel), 0);
    }
    st.pool = pool;
    st.n = v.n;
    st.pstar = v.pstar;
    st.q = v.nParmFree;
    st.ld = v.ld;
    st.nMatrices = v.nMatrices;
    st.nDep = v.nParmDep;
    st.nDepInputs = v.nDepInputs;
    st.maxContrib = maxContrib;
    st.implied = carve<double>(pool, p);
    st.impliedInv = carve<double>(pool, p);
    st.residual = carve<double>(pool, p);
    st.product = carve<double>(pool, n * n);
    st.dFdC = carve<double>(pool, p);
    st.work1 = carve<double>(pool, n * ld);
    st.work2 = carve<double>(pool, n * ld);
    st.work3 = carve<double>(pool, n * ld);
    st.rowBuf = carve<double>(pool, ld);
    st.dense = carve<double>(pool, n * n);
    st.kDense = carve<double>(pool, n * n);
    st.factor = carve<double>(pool, ld * ld);
    st.pivots = carve<int32_t>(pool, ld);
    st.nzIndex = carve<int32_t>(pool, n * ld);
    st.invDone = carve<int16_t>(pool, v.nMatrices + 1);
    st.cross = carve<double>(pool, q * (q + 1) / 2);
    // With room for the point and the scale of a factor the optimizer
    // keeps there until the inverse takes its place (NlpCovResults).
    st.covariance = carve<double>(pool, q * (q + 1) / 2 + 2 * q);
    st.gradient = carve<double>(pool, q);
    st.crossAt = carve<double>(pool, q);
    st.crossGradient = carve<double>(pool, q);
    velix::detail::cross_rewritten(v);
    st.depShare = carve<double>(pool, q);
    st.depFdJacobian = carve<double>(pool, int64_t{v.nParmDep} * v.nDepInputs);
    st.depBase = carve<double>(pool, v.nParmDep);
    st.conBase = carve<double>(pool, v.nlp->shape.nNlinCon);
    st.contrib = carve<EvalContribution>(pool, maxContrib);
    st.jac.recordMax = records;
    st.jac.recordTags = carve<int32_t>(pool, records);
    // Indexed by record while the pattern is analysed, by parameter after.
    st.jac.rowEnd = carve<int32_t>(pool, std::max<int64_t>(records, q));
    st.jac.column = carve<double>(pool, p);
    st.jac.weighted = carve<double>(pool, p);
    st.jac.other = carve<double>(pool, p);
    if (const int32_t c = xmemdef(st.jac.other)) {
        xmemmsg(c + 20000);
        xexit(std::max(kLevelNoMemory, ctx->errorLevel), 0);
    }
    st.valid = 0;
}

void evaluation_release(ProcContext* ctx) {
    EvaluationState& st = ctx->eval;
    if (st.pool != nullptr) xmpoold(st.pool);
    spgroup_release(&st);
    // The data's diagonal, the Jacobian-pattern request and the constraint
    // set-up's table of nonlinear constraints belong to the step, not to
    // the arrays released here.
    const int16_t diag = st.diagFromData, pattern = st.printJacPattern;
    const NlinConTable* nlinCon = st.nlinCon;
    st = EvaluationState();
    st.diagFromData = diag;
    st.printJacPattern = pattern;
    st.nlinCon = nlinCon;
}

namespace velix::detail {

// The ULS, GLS and ML cross products need no stored Jacobian.
double* jacobian_store(const EvalView& v) {
    return made_on_first_use(v, &v.st->jacobian, int64_t{v.nParmFree} * v.pstar);
}

// Only the cross products formed from the walk's shares (not from the
// sparse pattern or a stored Jacobian) keep their vectors: 4n doubles for
// each of two shares of every element, more than the information matrix
// itself on a large model.
double* contribution_store(const EvalView& v) {
    return made_on_first_use(v, &v.st->contribVectors, 4 * int64_t{v.n} * v.st->maxContrib);
}

// Only runs that turn to the exact Hessian keep its second-order part.
double* second_order_store(const EvalView& v) {
    const int64_t q = v.nParmFree;
    return made_on_first_use(v, &v.st->secondOrder, q * (q + 1) / 2);
}

const double* dependent_derivatives(const EvalView& v, int32_t p) {
    double* g = v.st->depShare;
    std::fill(g, g + v.nParmFree, 0.0);
    auto add = [&](int32_t input, double d) {
        const int32_t q = v.depInputParms[input] - 1;
        if (q >= 0 && q < v.nParmFree) g[q] += d;
    };
    if (v.fdDepDerivs) {
        for (int32_t r = 0; r < v.nParmDep; ++r)
            if (v.depParmNumbers[r] == p)
                for (int32_t j = 0; j < v.nDepInputs; ++j)
                    add(j, v.st->depFdJacobian[int64_t{r} * v.nDepInputs + j]);
        return g;
    }
    for (int32_t t = 0; t < v.nDepDerivs; ++t)
        if (v.depParmNumbers[v.depDerivParm[t]] == p) add(v.depDerivInput[t], v.depDerivCells[t]);
    return g;
}

void file_put(HostFile* file, int64_t position, const double* data, int32_t count) {
    int32_t rc = xcpoint(file, position);
    if (rc == 0) rc = xcwrite(file, data, 8 * int64_t{count});
    if (rc != 0) {
        xprrlog(0, rc);
        xexit(kLevelHostFailure, 0);
    }
}

void file_get(HostFile* file, int64_t position, double* data, int32_t count) {
    int32_t rc = xcpoint(file, position);
    if (rc == 0) rc = xcread(file, data, 8 * int64_t{count});
    if (rc != 0) {
        xprrlog(0, rc);
        xexit(kLevelHostFailure, 0);
    }
}

void wls_factor_fault() {
    internal_error("the WLS weight factor is singular");
}

std::string matrix_name(const EvalView& v, int32_t k) {
    const NameRecord& n = v.mt->name[k];
    return std::string(n.text, static_cast<size_t>(std::clamp<int16_t>(n.length, 0, 32)));
}

void eval_fault(const EvalView& v, int32_t number, int32_t matrix) {
    if (matrix > 0) {
        xpmlog(kMsgProc, number, matrix_name(v, matrix).c_str());
    } else {
        xpmlog(kMsgProc, number);
    }
    xexit(std::max(kLevelInternal, *v.errorLevel), 0);
}

}  // namespace velix::detail
