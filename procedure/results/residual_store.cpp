// The residual store of a fit (see velix/residual_store.h).  The variance
// term sigma_ii sigma_jj + sigma_ij^2 is (N') times the normal-theory
// variance of s_ij (Browne 1984, eq. 2.4); it is written at every stage,
// since a second stage moves Sigma and an earlier stage's terms would
// standardize the later residuals wrongly.
#include "procedure/results/residual_store.h"

#include <cmath>

#include "numerics/kernel_support.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/results/results_view.h"
#include "velix/packed_index.h"

namespace {

// The relative precision below which a residual counts as exactly zero.
constexpr double kResidualRelTol = velix::kSqrtMachEpsWritten;
// The final evaluation of the objective: it may not move the point.
constexpr double kFinalPhase = -1.0;

}  // namespace

void residual_store_write(ResidualStore* store, const double* s, const double* sigma, int32_t n) {
    const int32_t pstar = n * (n + 1) / 2;
    store->nMoments = pstar;
    store->variance.assign(static_cast<size_t>(pstar), 0.0);
    store->residual.assign(static_cast<size_t>(pstar), 0.0);
    store->predicted.assign(sigma, sigma + pstar);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const int64_t k = velix::pk_lower(i, j);
            const double sij = sigma[k];
            store->variance[k] = sigma[velix::pk_lower(i, i)] * sigma[velix::pk_lower(j, j)] + sij * sij;
            const double r = s[k] - sij;
            store->residual[k] = std::fabs(r) < std::fabs(s[k]) * kResidualRelTol ? 0.0 : r;
        }
}

int32_t residual_store_fill(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    NlpProblem* nlp = rv.nlp;
    const double phase = nlp->evalPhase;
    nlp->evalPhase = kFinalPhase;
    const int32_t rc = cosfunc(nlp);
    nlp->evalPhase = phase;
    if (rc != 0) return 1;
    residual_store_write(rv.residualStore, rv.arrays->momentMatrix, rv.eval->implied, rv.sizes->nManifest);
    rv.moments->varianceBlockWritten = 1;
    return 0;
}
