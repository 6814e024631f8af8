// zvardiv: the divisor that turns sums of squares and cross-products into
// variances and covariances under the VARDEF kind of the PROC statement
// (N, DF, WDF, WEIGHT/WGT); the rule itself is velix::vardef_divisor, shared
// with the host's moment accumulation.  An unknown kind is an internal
// inconsistency and ends the step.
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

int64_t iisub(int32_t i, int32_t j, int32_t k, int32_t l) {
    return velix::pk(velix::pk(i, j), velix::pk(k, l));
}
