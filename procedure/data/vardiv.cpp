// zvardiv: the divisor that turns sums of squares and cross-products into
// variances and covariances under the VARDEF kind of the PROC statement
// (N, DF, WDF, WEIGHT/WGT); the rule itself is velix::vardef_divisor, shared
// with the host's moment accumulation.  An unknown kind is an internal
// inconsistency and ends the step.
#include "host/host_support.h"
#include "procedure/data/data.h"
#include "velix/vardef.h"

double zvardiv(const char* kind, double n, double d, double w) {
    double r = 0.0;
    if (!velix::vardef_divisor(kind, n, d, w, &r)) {
        char text[40];
        xpsstr(text, sizeof text, "ERROR: impossible vardef, was %.8s.", kind);
        xebug(text, 0);
        xexit(9999, -1);
    }
    return r;
}

int64_t iisub(int32_t i, int32_t j, int32_t k, int32_t l) {
    const int64_t a = i >= j ? int64_t{i} * (i + 1) / 2 + j : int64_t{j} * (j + 1) / 2 + i;
    const int64_t b = k >= l ? int64_t{k} * (k + 1) / 2 + l : int64_t{l} * (l + 1) / 2 + k;
    return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
}
