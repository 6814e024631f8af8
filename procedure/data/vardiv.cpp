// zvardiv: the divisor that turns sums of squares and cross-products into
// variances and covariances under the VARDEF kind of the PROC statement
// (N, DF, WDF, WEIGHT/WGT); the rule itself is velix::vardef_divisor, shared
// with the host's moment accumulation.  An unknown kind is an internal
// inconsistency and ends the step.  Beside it the sample-size multiplier
// N', which no divisor kind changes.
#include "host/host_support.h"
#include "host/internal_error.h"
#include "procedure/data/data.h"
#include "velix/packed_index.h"
#include "velix/vardef.h"

double zvardiv(const char* kind, double n, double d, double w) {
    double r = 0.0;
    if (!velix::vardef_divisor(kind, n, d, w, &r)) {
        internal_errorf("impossible vardef, was %.8s.", kind);
    }
    return r;
}

double sample_multiplier(const MomentState* moments, const StatementOptions* options) {
    // UCOV and UCORR take the moments about zero with the origin option
    // unchanged.
    const bool aboutZero = moments->momentOrigin != 0 || options->uncorrectedCov || options->uncorrectedCorr;
    return aboutZero ? moments->nObs : moments->nObs - 1.0;
}

int64_t iisub(int32_t i, int32_t j, int32_t k, int32_t l) {
    return velix::pk(velix::pk(i, j), velix::pk(k, l));
}
