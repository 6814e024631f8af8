// Products of rows: C += alpha A B' where every row of A and B is a
// contiguous run of doubles and C is reached through its own row pointers,
// so that the same kernel serves dense row-major matrices and the rows of
// the packed lower triangle (PackedSym rows are contiguous).  The kernel is
// blocked for the cache and register-tiled (Goto and van de Geijn, "Anatomy
// of high-performance matrix multiplication", ACM TOMS 34, 2008), eight
// rows of B side by side in SIMD lanes; on x86-64 it is compiled for the
// vector extensions the processor offers and chosen when the program
// starts.  Each element's sum runs along the row in order, in passes of
// 256 that are added to C one after the other.
#pragma once

#include <cstdint>

namespace velix::detail {

// c[i][j] += alpha * sum over t < k of a[i][t] * b[j][t], for i < m, j < nb.
//   a      in      m row pointers, each k doubles
//   b      in      nb row pointers, each k doubles
//   c      in-out  m row pointers, each nb doubles (with `lower`, row i
//                  needs only i + 1)
//   lower  in      only j <= i is formed and written (the lower triangle of
//                  a symmetric result, a and b the same rows)
// Nothing for m, nb or k below 1.
void rows_product(int32_t m, int32_t nb, int32_t k, const double* const* a, const double* const* b,
                  double alpha, double* const* c, bool lower);

}  // namespace velix::detail

namespace velix::detail {

// out[b] := sum over e < count of scale[e] * base[idx[e] * ld + b], b < n:
// a combination of chosen rows of a dense matrix, four rows per pass over
// out.
void gathered_rows_sum(int32_t n, int32_t count, const double* base, int64_t ld,
                       const int32_t* idx, const double* scale, double* out);

// rows[i] := base + i * ld for i < count (the rows of a dense row-major
// matrix for rows_product).
template <typename T>
void dense_rows(T* base, int64_t ld, int32_t count, T** rows) {
    for (int32_t i = 0; i < count; ++i) rows[i] = base + i * ld;
}

}  // namespace velix::detail
