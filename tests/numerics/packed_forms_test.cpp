// Quadratic forms with a packed symmetric matrix against the plain double
// sum over the dense matrix, for orders below, at and across the panel
// width, with V in memory and streamed through a copying panel function.
#include "numerics/packed_forms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;
using velix::detail::kFormPanel;

namespace {

// A panel function that copies the rows out, as a file read would.
struct Copier {
    const std::vector<double>* packed;
    std::vector<double> buffer;
};
const double* copied_panel(void* source, int32_t i0, int32_t i1) {
    auto* c = static_cast<Copier*>(source);
    c->buffer.assign(c->packed->begin() + velix::pk_lower(i0, 0), c->packed->begin() + velix::pk_lower(i1, 0));
    return c->buffer.data();
}

TEST(PackedQuadraticForms, MatchTheDenseDoubleSum) {
    for (const int q : {1, 5, kFormPanel, kFormPanel + 1, 150}) {
        const int m = 7;
        const vt::Dense v = vt::random_symmetric(q, 21);
        std::vector<double> packed = vt::to_packed(v, q);
        const vt::Dense b = vt::random_dense(m, q, 22);
        std::vector<const double*> rows;
        for (int c = 0; c < m; ++c) rows.push_back(b.data() + c * q);
        std::vector<double> work(static_cast<size_t>(m) * kFormPanel), inMemory(m), streamed(m);
        velix::detail::packed_quadratic_forms(q, m, rows.data(), velix::detail::packed_panel_in_memory,
                                              packed.data(), work.data(), inMemory.data());
        Copier copier{&packed, {}};
        velix::detail::packed_quadratic_forms(q, m, rows.data(), copied_panel, &copier, work.data(), streamed.data());
        for (int c = 0; c < m; ++c) {
            double want = 0.0;
            for (int i = 0; i < q; ++i)
                for (int j = 0; j < q; ++j) want += rows[c][i] * v[i * q + j] * rows[c][j];
            // q^2 products of numbers below 1: rounding of order q^2 eps.
            EXPECT_NEAR(inMemory[c], want, 1e-15 * q * q) << "q " << q << ", vector " << c;
            EXPECT_EQ(streamed[c], inMemory[c]) << "q " << q << ", vector " << c;
        }
    }
}

}  // namespace
