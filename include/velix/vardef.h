// The variance divisor of a VARDEF kind: the number that turns sums of
// squares and cross-products into variances and covariances, the usual
// conventions for frequency- and weight-based moments (e.g. Cochran,
// "Sampling Techniques", 3rd ed., sec. 2.4 for the n - 1 divisor).  One
// rule for the module's moment routines and the host's moment accumulation,
// which cannot share a library.
#pragma once

namespace velix {

// The divisor of the kind recognised by its second character: N (NUL or
// blank) n, DF ('F') n - d, WDF ('D') w - d, WEIGHT ('E') and WGT ('G') w;
// never below 0.0.  Returns false, leaving *divisor alone, for any other
// kind.
//   kind     in   the kind, blank-padded (at least 2 characters readable);
//                  null reads as N
//   n        in   number of observations
//   d        in   degrees of freedom taken off by the location estimate
//   w        in   sum of the observation weights
//   divisor  out  the divisor
inline bool vardef_divisor(const char* kind, double n, double d, double w, double* divisor) {
    double r;
    switch (kind ? kind[1] : '\0') {
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
        default:
            return false;
    }
    *divisor = r < 0.0 ? 0.0 : r;
    return true;
}

}  // namespace velix
