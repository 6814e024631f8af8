// The optimizer's work space for one run and the constraint rows it reads:
// every vector and matrix of the problem block that the driver, the
// line searches, the active set and the techniques use, carved from one
// host pool so that a failed allocation is one memory shortage.
#include <algorithm>
#include <cstring>

#include "procedure/estimation/estimation.h"
#include "velix/host.h"

namespace {

// Hands out zeroed blocks of one pool; remembers a failure.
struct Carver {
    HostAllocator* pool;
    bool failed = false;
    void* take(int64_t bytes) {
        if (failed) return nullptr;
        if (bytes <= 0) bytes = 8;
        void* block = pool->allocate(pool, static_cast<size_t>(bytes), alignof(double));
        if (block == nullptr || xmemdef(block) != 0) {
            failed = true;
            xmemmsg(bytes);
            return nullptr;
        }
        std::memset(block, 0, static_cast<size_t>(bytes));
        return block;
    }
    double* doubles(int64_t n) { return static_cast<double*>(take(8 * n)); }
    int32_t* ints(int64_t n) { return static_cast<int32_t*>(take(4 * n)); }
};

}  // namespace

bool estimation_workspace(NlpProblem* nlp, HostAllocator* pool) {
    const int64_t n = nlp->nParams, m = nlp->nFunctions, nc = nlp->nNlinCon, nl = nlp->nLinCon;
    const int64_t packed = n * (n + 1) / 2, rows = nl + nc;
    Carver c{pool};
    nlp->xBase = c.doubles(n);
    nlp->gradient = c.doubles(n);
    nlp->gradBase = c.doubles(n);
    nlp->direction = c.doubles(n);
    nlp->workN = c.doubles(n);
    nlp->workN2 = c.doubles(n);
    nlp->checkWork = c.doubles(2 * n + m + 2 * nc + 8);
    nlp->funValues = c.doubles(m);
    nlp->residualVector = c.doubles(m);
    nlp->funWork = c.doubles(m);
    nlp->hessian = c.doubles(packed);
    nlp->hessianFactor = c.doubles(n * n);
    nlp->reducedHessian = c.doubles(packed);
    nlp->reducedGradient = c.doubles(n);
    nlp->constantFlags = static_cast<int16_t*>(c.take(2 * n));
    nlp->fdForward = c.doubles(n);
    nlp->fdCentral = c.doubles(n);
    // The standard errors of the dependent parameters follow those of the
    // independent ones.
    const int64_t nAll = nlp->procContext != nullptr ? std::max<int64_t>(n, nlp->procContext->sizes.nParmAll) : n;
    nlp->stdErrors = c.doubles(nAll);
    // Missing until computed: a dependent parameter that no model element
    // carries never gets one.
    if (nlp->stdErrors != nullptr) std::fill(nlp->stdErrors, nlp->stdErrors + nAll, host_missing_value());
    nlp->lagrangeGradient = c.doubles(n);
    nlp->multipliers = c.doubles(n + rows);
    nlp->rowBuffer = c.doubles(n);
    nlp->givensWork = c.doubles(2 * n);
    nlp->nullBasis = c.doubles(n * n);
    nlp->activeFactor = c.doubles(n * n);
    nlp->columnBuffer = c.doubles(n);
    nlp->sparseWork = c.doubles(n + rows);
    nlp->pivotOrder = c.ints(n);
    nlp->indexList = c.ints(n);
    nlp->boundState = c.ints(n);
    nlp->freeList = c.ints(n);
    nlp->activeList = c.ints(rows + 1);
    nlp->workList = c.ints(n + rows + 1);
    nlp->critCounts = c.ints(20);
    if (nc > 0) {
        nlp->conValues = c.doubles(nc);
        nlp->conJacobian = c.doubles(nc * n);
    }
    if (c.failed) return false;
    for (int64_t j = 0; j < n; ++j) nlp->freeList[j] = static_cast<int32_t>(j);
    return true;
}

int32_t cosaget(NlpProblem* nlp, int32_t k, double* row) {
    const int32_t n = nlp->nParams;
    if (k >= nlp->nLinCon) {
        std::memcpy(row, nlp->conJacobian + static_cast<int64_t>(k - nlp->nLinCon) * n, sizeof(double) * n);
        return 0;
    }
    if (!nlp->linRowsSparse) {
        std::memcpy(row, nlp->linRows + static_cast<int64_t>(k) * n, sizeof(double) * n);
        return 0;
    }
    std::memset(row, 0, sizeof(double) * n);
    for (int32_t e = k == 0 ? 0 : nlp->linRowEnd[k - 1]; e < nlp->linRowEnd[k]; ++e)
        row[nlp->linColIndex[e]] = nlp->linRows[e];
    return 0;
}
