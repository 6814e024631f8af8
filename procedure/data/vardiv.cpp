// zvardiv: the divisor that turns sums of squares and cross-products into
// variances and covariances under the VARDEF kind of the PROC statement
// (N, DF, WDF, WEIGHT/WGT), the usual conventions for frequency- and
// weight-based moments (e.g. Cochran, "Sampling Techniques", 3rd ed.,
// sec. 2.4 for the n - 1 divisor).
#include "host/host_support.h"
#include "procedure/data/data.h"

double zvardiv(const char* kind, double n, double d, double w) {
    double r = 0.0;
    switch (kind[1]) {
        case '\0':
        case ' ':
            r = n;
            break;
        case 'F':
            r = n - d;
            break;
        case 'D':
            // A sum of weights that does not move d by a ten-thousandth of
            // the difference is rounding noise: no information is left.
            r = (d + 0.0001 * (w - d) == d) ? 0.0 : w - d;
            break;
        case 'E':
        case 'G':
            r = w;
            break;
        default: {
            char text[40];
            xpsstr(text, sizeof text, "ERROR: impossible vardef, was %.8s.", kind);
            xebug(text, 0);
            xexit(9999, -1);
        }
    }
    return r < 0.0 ? 0.0 : r;
}

int64_t iisub(int32_t i, int32_t j, int32_t k, int32_t l) {
    const int64_t a = i >= j ? int64_t{i} * (i + 1) / 2 + j : int64_t{j} * (j + 1) / 2 + i;
    const int64_t b = k >= l ? int64_t{k} * (k + 1) / 2 + l : int64_t{l} * (l + 1) / 2 + k;
    return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
}
