// The residual store of a fit (see velix/residual_store.h).  The variance
// term sigma_ii sigma_jj + sigma_ij^2 is (N') times the normal-theory
// variance of s_ij (Browne 1984, eq. 2.4); it is written at every stage,
// since a second stage moves Sigma and an earlier stage's terms would
// standardize the later residuals wrongly.
#include "procedure/results/residual_store.h"

#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "procedure/results/fit_state.h"
#include "procedure/results/mean_structure.h"
#include "procedure/results/results_view.h"
#include "velix/host.h"
#include "velix/packed_index.h"

namespace {

// The relative precision below which a residual counts as exactly zero.
constexpr double kResidualRelTol = velix::kSqrtMachEpsWritten;

}  // namespace

void residual_store_write(ResidualStore* store, const double* s, const double* sigma, int32_t n) {
    const int32_t pstar = n * (n + 1) / 2;
    store->nMoments = pstar;
    store->intercept = -1;
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

bool residual_store_write_means(ResidualStore* store, const double* s, const double* sigma, int32_t n, int32_t k) {
    const int32_t pstar = n * (n + 1) / 2;
    std::vector<double> sc(s, s + pstar), cc(sigma, sigma + pstar);
    const double c = sigma[velix::pk(k, k)];
    if (!center_moments(sc.data(), n, k) || !center_moments(cc.data(), n, k)) return false;
    residual_store_write(store, sc.data(), cc.data(), n);
    store->predicted.assign(sigma, sigma + pstar);
    store->intercept = k;
    for (int32_t i = 0; i < n; ++i)
        if (i != k) store->variance[velix::pk(i, k)] = cc[velix::pk(i, i)] / c;
    // The constant's own moment is no moment of the data: it has no
    // residual, and the averages, ranking and distribution leave it out.
    store->variance[velix::pk(k, k)] = 0.0;
    store->residual[velix::pk(k, k)] = host_missing_value();
    return true;
}

int32_t residual_store_fill(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    if (results_final_evaluation(rv) != 0) return 1;
    const int32_t k = results_intercept(rv);
    if (k < 0 || !residual_store_write_means(rv.residualStore, rv.arrays->momentMatrix, rv.eval->implied,
                                             rv.sizes->nManifest, k))
        residual_store_write(rv.residualStore, rv.arrays->momentMatrix, rv.eval->implied, rv.sizes->nManifest);
    rv.moments->varianceBlockWritten = 1;
    return 0;
}
