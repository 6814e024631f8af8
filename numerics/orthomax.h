// Orthomax rotation of a factor-loading matrix.
#pragma once

#include <cstdint>

// Rotates the p x k loadings a (in-out, column j at a[j*p .. j*p+p-1])
// orthogonally to maximise the orthomax criterion
//   sum A(i,j)^4 - (gamma/p) sum_j (sum_i A(i,j)^2)^2
// (gamma = 0 quartimax, 1 varimax, k/2 equamax, p(k-1)/(p+k-2) parsimax,
// any other value the general family).  With normalize nonzero the rows are
// scaled to unit length first (Kaiser normalization) and restored after;
// hn (out, p doubles) receives the row norms then.  t (in-out, k x k, column
// j at t[j*k ..], or null) receives every planar rotation applied to a, so
// that starting from the identity the final a equals the input times t.
// s is work for k doubles.  Result 0 when converged, 1 when 50 sweeps were
// made without convergence (a and t as the 50th sweep left them).
// Converged means the largest planar angle of a sweep fell below 1e-7
// radian or the criterion changed by at most 1e-13 of itself.
int32_t zortmax(double gamma, int32_t normalize, int32_t p, int32_t k, double* a, double* t,
                double* hn, double* s);
