// Quadratic forms b'Vb of many vectors with one symmetric matrix V held
// packed (its lower triangle by rows, PackedSym).  V is read in panels of
// consecutive rows, which a caller can take from memory or stream from a
// file, and is never changed: the bordered inverses of score tests need
// only the Schur complement d - b'Vb of each bordering row b, so the
// rank-one update of V and its restoration before the next row are not
// needed.  The work is q^2/2 multiply-adds per vector, most of it in the
// register-tiled row product (row_products.h) over the rows before each
// panel.
#pragma once

#include <cstdint>

namespace velix::detail {

// Rows of V per panel (a multiple of the row product's strip of eight).
inline constexpr int32_t kFormPanel = 64;

// Returns the rows i0 .. i1-1 of the packed lower triangle of V, contiguous
// (row i at offset pk_lower(i, 0) - pk_lower(i0, 0), i + 1 doubles); the
// pointer holds until the next call.
using PackedPanelFn = const double* (*)(void* source, int32_t i0, int32_t i1);

// out[c] := b_c' V b_c for c < m.
//   q       in   order of V (nothing is done for q < 1: out := 0)
//   b       in   m row pointers, q doubles each
//   panel   in   the rows of V by panels (called with i1 - i0 <= kFormPanel,
//                i0 ascending from 0)
//   work    out  m * kFormPanel doubles of scratch
void packed_quadratic_forms(int32_t q, int32_t m, const double* const* b, PackedPanelFn panel,
                            void* source, double* work, double* out);

// The panel function of a V held whole in memory (source: the packed array).
const double* packed_panel_in_memory(void* source, int32_t i0, int32_t i1);

}  // namespace velix::detail
