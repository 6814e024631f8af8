// Blocked products of rows (see row_products.h), in the form of the tuned
// matrix-multiplication kernels: a pass of kDepth along the rows, a strip
// of eight rows of B copied across (element t of the eight side by side,
// 16 KiB that stays in the first-level cache), and a block of six rows of
// A against the strip whose 6 x 8 sums live in SIMD registers, each
// element of A broadcast against eight of B.
//
//   for each pass [k0, k1) along the rows:
//     for each strip of eight rows of B: copy it across (zeros past nb)
//       for each group of six rows of A (the last one repeats a row; with
//       `lower`, from the group that reaches the strip's diagonal):
//         48 sums over [k0, k1), each in the order of t; add alpha times
//         each to its element
#include "numerics/row_products.h"

#include <algorithm>
#include <cstring>

#include "numerics/kernel_support.h"

namespace {

constexpr int32_t kStrip = 8;    // rows of B per strip: one SIMD value of eight doubles
constexpr int32_t kGroup = 6;    // rows of A per register block
constexpr int32_t kDepth = 256;  // doubles per pass: a strip copy of 16 KiB

// Eight doubles in one SIMD value (one AVX-512 register, two AVX ones).
typedef double Lanes __attribute__((vector_size(kStrip * sizeof(double))));

// s[i] := sum over t < kk of a[i][t] strip[t], lanes j = the strip's rows.
// The six sums are named so that they stay in registers.
[[gnu::always_inline]] inline void group_sums(const double* const* a, const double* strip,
                                              int32_t kk, Lanes* s) {
    static_assert(kGroup == 6);
    const double *a0 = a[0], *a1 = a[1], *a2 = a[2], *a3 = a[3], *a4 = a[4], *a5 = a[5];
    Lanes s0 = {}, s1 = {}, s2 = {}, s3 = {}, s4 = {}, s5 = {};
    for (int32_t t = 0; t < kk; ++t) {
        Lanes bt;
        std::memcpy(&bt, strip + int64_t{t} * kStrip, sizeof bt);
        s0 += a0[t] * bt;
        s1 += a1[t] * bt;
        s2 += a2[t] * bt;
        s3 += a3[t] * bt;
        s4 += a4[t] * bt;
        s5 += a5[t] * bt;
    }
    s[0] = s0;
    s[1] = s1;
    s[2] = s2;
    s[3] = s3;
    s[4] = s4;
    s[5] = s5;
}

}  // namespace

namespace velix::detail {

VELIX_KERNEL_CLONES
void rows_product(int32_t m, int32_t nb, int32_t k, const double* const* a, const double* const* b,
                  double alpha, double* const* c, bool lower) {
    if (m < 1 || nb < 1 || k < 1) return;
    alignas(64) double strip[kDepth * kStrip];
    for (int32_t k0 = 0; k0 < k; k0 += kDepth) {
        const int32_t kk = std::min(kDepth, k - k0);
        for (int32_t j0 = 0; j0 < nb; j0 += kStrip) {
            const int32_t nj = std::min(kStrip, nb - j0);
            for (int32_t t = 0; t < kk; ++t)
                for (int32_t j = 0; j < kStrip; ++j)
                    strip[t * kStrip + j] = j < nj ? b[j0 + j][k0 + t] : 0.0;
            for (int32_t i0 = lower ? j0 / kGroup * kGroup : 0; i0 < m; i0 += kGroup) {
                const int32_t mi = std::min(kGroup, m - i0);
                const double* ar[kGroup];
                for (int32_t i = 0; i < kGroup; ++i) ar[i] = a[i0 + std::min(i, mi - 1)] + k0;
                Lanes s[kGroup];
                group_sums(ar, strip, kk, s);
                for (int32_t i = 0; i < mi; ++i) {
                    const int32_t jLast = lower ? std::min(nj, i0 + i - j0 + 1) : nj;
                    for (int32_t j = 0; j < jLast; ++j) c[i0 + i][j0 + j] += alpha * s[i][j];
                }
            }
        }
    }
}

VELIX_KERNEL_CLONES
void gathered_rows_sum(int32_t n, int32_t count, const double* base, int64_t ld,
                       const int32_t* idx, const double* scale, double* out) {
    std::fill(out, out + n, 0.0);
    int32_t e = 0;
    for (; e + 4 <= count; e += 4) {
        const double* __restrict r0 = base + idx[e] * ld;
        const double* __restrict r1 = base + idx[e + 1] * ld;
        const double* __restrict r2 = base + idx[e + 2] * ld;
        const double* __restrict r3 = base + idx[e + 3] * ld;
        const double s0 = scale[e], s1 = scale[e + 1], s2 = scale[e + 2], s3 = scale[e + 3];
        for (int32_t b = 0; b < n; ++b) out[b] += (s0 * r0[b] + s1 * r1[b]) + (s2 * r2[b] + s3 * r3[b]);
    }
    for (; e < count; ++e) {
        const double* __restrict r = base + idx[e] * ld;
        for (int32_t b = 0; b < n; ++b) out[b] += scale[e] * r[b];
    }
}

}  // namespace velix::detail
