// The optimizer's work space for one run and the constraint rows it reads:
// every vector and matrix of the problem block that the driver, the
// line searches, the active set and the techniques use, carved from one
// host pool so that a failed allocation is one memory shortage.
#include <algorithm>
#include <cstring>

#include "numerics/cholesky.h"
#include "procedure/estimation/estimation.h"
#include "velix/host.h"
#include "velix/proc_context.h"

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
    const int64_t n = nlp->shape.nParams, m = nlp->shape.nFunctions, nc = nlp->shape.nNlinCon, nl = nlp->shape.nLinCon;
    const int64_t packed = n * (n + 1) / 2, rows = nl + nc;
    Carver c{pool};
    nlp->work.xBase = c.doubles(n);
    nlp->work.gradient = c.doubles(n);
    nlp->work.gradBase = c.doubles(n);
    nlp->work.direction = c.doubles(n);
    nlp->work.workN = c.doubles(n);
    nlp->work.workN2 = c.doubles(n);
    nlp->fd.checkWork = c.doubles(2 * n + m + 2 * nc + 8);
    nlp->work.funValues = c.doubles(m);
    nlp->work.residualVector = c.doubles(m);
    nlp->fd.funWork = c.doubles(m);
    // The packed Hessian (or its approximation, or the information matrix
    // after the run) serves every technique.  No technique keeps a dense
    // factor of it here: each reserves its own matrices for its run, so
    // that after a memory shortage a less demanding technique (CONGRA
    // needs vectors only) asks for less.  After the run the covariance of
    // the estimates takes it as the work of its blocked inverse, which
    // needs a little more than the packed matrix (below that inverse's
    // order the work is small and taken apart).
    const int64_t hessianDoubles =
        n >= velix::detail::kBlockedInverseOrder
            ? std::max(packed, velix::detail::packed_inverse_work(static_cast<int32_t>(n)))
            : packed;
    nlp->hess.hessian = c.doubles(hessianDoubles);
    nlp->hess.hessianDoubles = hessianDoubles;
    nlp->active.reducedGradient = c.doubles(n);
    nlp->fd.constantFlags = static_cast<int16_t*>(c.take(2 * n));
    nlp->fd.fdForward = c.doubles(n);
    nlp->fd.fdCentral = c.doubles(n);
    // The standard errors of the dependent parameters follow those of the
    // independent ones.
    const int64_t nAll = proc_context(nlp) != nullptr ? std::max<int64_t>(n, proc_context(nlp)->sizes.nParmAll) : n;
    nlp->work.stdErrors = c.doubles(nAll);
    // Missing until computed: a dependent parameter that no model element
    // carries never gets one.
    if (nlp->work.stdErrors != nullptr) std::fill(nlp->work.stdErrors, nlp->work.stdErrors + nAll, host_missing_value());
    nlp->work.lagrangeGradient = c.doubles(n);
    nlp->active.multipliers = c.doubles(n + rows);
    nlp->active.rowBuffer = c.doubles(n);
    nlp->active.givensWork = c.doubles(2 * n);
    // The basis of the null space of the active rows, the factor of those
    // rows and the Hessian reduced to their null space exist only with
    // general (linear or nonlinear) constraints; active bounds alone are
    // kept by the free list.
    const bool general = nlp->shape.hasLinCon || nlp->shape.hasNlinCon || nl + nc > 0;
    nlp->active.nullBasis = general ? c.doubles(n * n) : nullptr;
    nlp->active.activeFactor = general ? c.doubles(n * n) : nullptr;
    nlp->active.reducedHessian = general ? c.doubles(packed) : nullptr;
    nlp->active.columnBuffer = c.doubles(n);
    // The sparse form's four vectors U, V, W and G (the multipliers read
    // the rows' coefficients in V).
    nlp->active.sparseWorkDoubles = std::max(4 * n, n + rows);
    nlp->active.sparseWork = c.doubles(nlp->active.sparseWorkDoubles);
    nlp->active.pivotOrder = c.ints(n);
    nlp->fd.indexList = c.ints(n);
    nlp->active.boundState = c.ints(n);
    nlp->active.freeList = c.ints(n);
    nlp->active.activeList = c.ints(rows + 1);
    nlp->active.workList = c.ints(n + rows + 1);
    nlp->opt.critCounts = c.ints(20);
    if (nc > 0) {
        nlp->con.conValues = c.doubles(nc);
        nlp->con.conJacobian = c.doubles(nc * n);
    }
    if (c.failed) return false;
    for (int64_t j = 0; j < n; ++j) nlp->active.freeList[j] = static_cast<int32_t>(j);
    return true;
}

int32_t cosaget(NlpProblem* nlp, int32_t k, double* row) {
    const int32_t n = nlp->shape.nParams;
    if (k >= nlp->shape.nLinCon) {
        std::memcpy(row, nlp->con.conJacobian + static_cast<int64_t>(k - nlp->shape.nLinCon) * n, sizeof(double) * n);
        return 0;
    }
    if (!nlp->shape.linRowsSparse) {
        std::memcpy(row, nlp->con.linRows + static_cast<int64_t>(k) * n, sizeof(double) * n);
        return 0;
    }
    std::memset(row, 0, sizeof(double) * n);
    for (int32_t e = k == 0 ? 0 : nlp->con.linRowEnd[k - 1]; e < nlp->con.linRowEnd[k]; ++e)
        row[nlp->con.linColIndex[e]] = nlp->con.linRows[e];
    return 0;
}
