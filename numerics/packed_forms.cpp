// Quadratic forms with a packed symmetric matrix (see packed_forms.h).
//
//   for each panel of rows [i0, i1) of V:
//     t(c, i) := 2 sum over j < i0 of V(i, j) b_c(j)     the rows before it
//              + sum over i0 <= j < i1 of V(i, j) b_c(j)  its own square
//     out(c) += sum over i in the panel of b_c(i) t(c, i)
// so that each product below the panels' squares enters once, doubled.
#include "numerics/packed_forms.h"

#include <algorithm>
#include <vector>

#include "numerics/row_products.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {
constexpr int32_t kFormChunk = 256;  // vectors per row product: 512 KiB of a 256-double pass
}  // namespace

const double* packed_panel_in_memory(void* source, int32_t i0, int32_t) {
    return static_cast<const double*>(source) + pk_lower(i0, 0);
}

void packed_quadratic_forms(int32_t q, int32_t m, const double* const* b, PackedPanelFn panel,
                            void* source, double* work, double* out) {
    std::fill(out, out + std::max(m, 0), 0.0);
    if (q < 1 || m < 1) return;
    const double* rows[kFormPanel];
    const double* block[kFormPanel];
    alignas(64) double dense[kFormPanel * kFormPanel];
    std::vector<double*> t(static_cast<size_t>(m));
    std::vector<const double*> bp(static_cast<size_t>(m));
    for (int32_t c = 0; c < m; ++c) t[static_cast<size_t>(c)] = work + int64_t{c} * kFormPanel;
    for (int32_t i0 = 0; i0 < q; i0 += kFormPanel) {
        const int32_t width = std::min(kFormPanel, q - i0);
        const double* p = panel(source, i0, i0 + width);
        // The panel's own square, both triangles, for the products inside it.
        for (int32_t k = 0; k < width; ++k) {
            rows[k] = p + pk_lower(i0 + k, 0) - pk_lower(i0, 0);
            block[k] = dense + k * kFormPanel;
            for (int32_t j = 0; j <= k; ++j)
                dense[k * kFormPanel + j] = dense[j * kFormPanel + k] = rows[k][i0 + j];
        }
        for (int32_t c = 0; c < m; ++c) bp[static_cast<size_t>(c)] = b[c] + i0;
        std::fill(work, work + int64_t{m} * kFormPanel, 0.0);
        // t(c, i) := 2 (rows before the panel) + (the panel's square); a
        // chunk of vectors keeps a pass of the row product in cache while
        // the panel's strips go over it.
        for (int32_t c0 = 0; c0 < m; c0 += kFormChunk) {
            const int32_t mc = std::min(kFormChunk, m - c0);
            rows_product(mc, width, i0, b + c0, rows, 2.0, t.data() + c0, false);
            rows_product(mc, width, width, bp.data() + c0, block, 1.0, t.data() + c0, false);
        }
        for (int32_t c = 0; c < m; ++c) {
            const double* bc = b[c] + i0;
            const double* tc = t[static_cast<size_t>(c)];
            double sum = 0.0;
            for (int32_t k = 0; k < width; ++k) sum += bc[k] * tc[k];
            out[c] += sum;
        }
    }
}

}  // namespace velix::detail
