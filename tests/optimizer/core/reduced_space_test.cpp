// Reduced-space operations: the guarded inner product, bound
// classification with and without a push into the interior, vectors to and
// from the free space, the projected gradient, and the reverse-triangular
// solves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "optimizer/core/reduced_space.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace {

using namespace velix::test;

double zero(const double*) { return 0.0; }

TEST(ReducedSpace, GuardedInnerProductSkipsNegligibleTerms) {
    const double a[] = {1e-160, 1e-160, 2.0}, b[] = {1e-160, 1e10, 3.0};
    EXPECT_DOUBLE_EQ(dotprd(1, a, b), 0.0);
    EXPECT_DOUBLE_EQ(dotprd(3, a, b), 1e-150 + 6.0);
}

TEST(ReducedSpace, BoundClassification) {
    TestProblem t({0.0, 0.0, 1.0}, zero);
    std::vector<int32_t> state(3);
    t.p.active.boundState = state.data();
    t.p.shape.hasBounds = 1;
    t.lower = {0.0, 0.0, 1.0};
    t.upper = {10.0, DBL_MAX, 1.0};
    EXPECT_EQ(znlpfbc(&t.p, 0), 3);  // two at their lower bounds, one fixed
    EXPECT_EQ(state, (std::vector<int32_t>{1, 1, 2}));
    EXPECT_EQ(t.x[0], 0.0);
    t.x = {0.0, 0.0, 1.0};
    EXPECT_EQ(znlpfbc(&t.p, 1), 1);  // pushed inside: only the fixed one counts
    EXPECT_DOUBLE_EQ(t.x[0], 0.01);
    EXPECT_DOUBLE_EQ(t.x[1], 1.0);
    EXPECT_EQ(state[0], 0);
    t.upper[0] = 2.0;
    t.x[0] = 0.0;
    znlpfbc(&t.p, 2);
    EXPECT_DOUBLE_EQ(t.x[0], 1.0);  // half the small gap
}

TEST(ReducedSpace, FreeSpaceVectorsAndTheProjectedGradient) {
    TestProblem t({1.0, 2.0, 3.0}, zero);
    std::vector<int32_t> state = {0, 1, 0}, freeList(3);
    t.p.active.boundState = state.data();
    t.p.active.freeList = freeList.data();
    t.p.shape.hasBounds = 1;
    t.p.active.nActiveBounds = 1;
    znlp_free_list(&t.p);
    EXPECT_EQ(freeList, (std::vector<int32_t>{0, 2, 1}));
    const double v[] = {5.0, 6.0, 7.0};
    double r[2], full[3] = {9, 9, 9};
    znlpvre(&t.p, v, r);
    EXPECT_EQ(r[0], 5.0);
    EXPECT_EQ(r[1], 7.0);
    znlpvex(&t.p, r, full);
    EXPECT_EQ(full[1], 0.0);
    EXPECT_EQ(full[2], 7.0);
    t.grad = {-1.0, 100.0, 0.5};
    znlpgmx(&t.p, 0, nullptr);
    EXPECT_EQ(t.p.iter.maxProjGrad, 1.0);  // the bound parameter's element does not count
}

TEST(ReducedSpace, ReverseTriangularSolves) {
    // T rows: [2], [1, 4], pivots first (T[0][0] = 2, T[1][0] = 1).
    // Backward: x1 = b0 / T[1][0], x0 = (b1 - T[1][1] x1) / T[0][0].
    const double t[] = {2.0, 1.0, 4.0}, b[] = {2.0, 9.0};
    double x[2];
    ASSERT_EQ(znlpqts(2, 2, 0.0, t, b, x), 0);
    EXPECT_DOUBLE_EQ(x[1], 2.0);
    EXPECT_DOUBLE_EQ(x[0], (9.0 - 4.0 * 2.0) / 2.0);
    const double zeroPivot[] = {0.0, 1.0, 4.0};
    EXPECT_EQ(znlpqts(1, 2, 0.0, zeroPivot, b, x), 1);
    EXPECT_EQ(znlpqts(2, 2, 0.0, zeroPivot, b, x), 1);
}

TEST(ReducedSpace, NullSpaceProjectionAndExpansion) {
    // One active row x0 + x1 = c over two free parameters: Z = (1, -1)/sqrt 2.
    TestProblem t({0.0, 0.0}, zero);
    std::vector<int32_t> freeList = {0, 1};
    const double r = 1.0 / std::sqrt(2.0);
    std::vector<double> q = {r, r, -r, r};  // row i: Z[i], Y[i]
    t.p.active.freeList = freeList.data();
    t.p.active.nullBasis = q.data();
    t.p.shape.hasLinCon = 1;
    t.p.active.nActiveLin = 1;
    const double h[] = {2.0, 1.0, 4.0};
    double zhz = 0.0;
    znlpred(&t.p, 0, h, &zhz);
    EXPECT_NEAR(zhz, (2.0 - 2.0 + 4.0) / 2.0, 1e-15);  // z'Hz with z = (1, -1)/sqrt 2
    double full[3];
    znlpexp(&t.p, &zhz, full);
    EXPECT_NEAR(full[0], zhz / 2, 1e-15);
    EXPECT_NEAR(full[1], -zhz / 2, 1e-15);
}

TEST(ReducedSpace, GramSchmidtGivesAnOrthonormalComplement) {
    const double q[] = {1.0, 0.0, 0.0};  // one column e0
    double v[] = {3.0, 4.0, 0.0}, coef[1], norm;
    ASSERT_EQ(znlpgso(3, 1, 3, q, v, coef, &norm), 0);
    EXPECT_EQ(coef[0], 3.0);
    EXPECT_DOUBLE_EQ(norm, 4.0);
    EXPECT_DOUBLE_EQ(v[1], 1.0);
    // A vector in the span is replaced by the least covered coordinate.
    double w[] = {2.0, 0.0, 0.0};
    ASSERT_EQ(znlpgso(3, 1, 3, q, w, coef, &norm), 0);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_EQ(norm, 0.0);
    double zero3[] = {0.0, 0.0, 0.0};
    EXPECT_EQ(znlpgso(3, 1, 3, q, zero3, coef, &norm), -2);
}

// The columns read one by one from a utility file (records of 4 doubles,
// 3 significant) give what the same columns in memory give.
TEST(ReducedSpace, GramSchmidtFromAFileAgreesWithMemory) {
    const double s = std::sqrt(0.5);
    const double q[] = {s, s, 0.0, 9.0, 0.0, 0.0, 1.0, 9.0};  // two orthonormal columns, stride 4
    HostFile* file = nullptr;
    ScratchFileRequest request;
    request.attributeWord = 0x82000008;
    ASSERT_EQ(xcopen(&file, &request), 0);
    ASSERT_EQ(xcwrite(file, q, sizeof q), 0);
    double a[] = {1.0, 2.0, 3.0}, b[] = {1.0, 2.0, 3.0}, coefA[2], coefB[2], normA, normB, work[4];
    ASSERT_EQ(znlpgso(3, 2, 4, q, a, coefA, &normA), 0);
    ASSERT_EQ(znlpgso_file(file, 3, 2, 4, b, coefB, &normB, work), 0);
    xcclose(file, 1);
    EXPECT_DOUBLE_EQ(normA, normB);
    for (int i = 0; i < 2; ++i) EXPECT_DOUBLE_EQ(coefA[i], coefB[i]);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(a[i], b[i]);
    EXPECT_NEAR(normA, std::sqrt(0.5), 1e-15);  // (1, 2, 3) less its part along the columns: (-0.5, 0.5, 0)
}

// B A B for A = diag(1, 2) and B = [2 1; 1 3]: [6 8; 8 19], and added to E.
TEST(ReducedSpace, CongruenceOfPackedMatrices) {
    const double a[] = {1, 0, 2}, b[] = {2, 1, 3};
    double e[] = {1, 1, 1};
    znlpqf3(1, 2, a, b, e);
    EXPECT_EQ(e[0], 7.0);
    EXPECT_EQ(e[1], 9.0);
    EXPECT_EQ(e[2], 20.0);
    znlpqf3(0, 2, a, b, e);
    EXPECT_EQ(e[2], 19.0);
}

// The congruence products against the full matrices multiplied out: S
// PackedSym and diagonal, B dense 4 x 3, L lower triangular of order 4.
TEST(ReducedSpace, CongruenceWithDenseAndTriangularMatrices) {
    constexpr int32_t n = 4, m = 3;
    std::vector<double> s(10), d{1, 2, 3, 4}, b(n * m), l(10), out(10);
    for (size_t k = 0; k < s.size(); ++k) s[k] = std::sin(1.0 + k), l[k] = std::cos(2.0 + 3.0 * k);
    for (size_t k = 0; k < b.size(); ++k) b[k] = std::sin(0.5 * k - 1.0);
    auto lower = [&](int32_t i, int32_t j) { return j <= i ? l[velix::pk(i, j)] : 0.0; };
    // The full B of each mode: B, L, L'.
    auto full_b = [&](int32_t mode, int32_t i, int32_t c) {
        return mode == 0 ? b[i * m + c] : mode == 2 ? lower(i, c) : lower(c, i);
    };
    for (int32_t form : {0, 2})
        for (int32_t mode : {0, 2, 3}) {
            const int32_t k = mode == 0 ? m : n;
            znlpquf(mode, n, m, form, form == 2 ? d.data() : s.data(), mode == 0 ? b.data() : l.data(), out.data());
            for (int32_t a = 0; a < k; ++a)
                for (int32_t c = 0; c <= a; ++c) {
                    double want = 0.0;
                    for (int32_t i = 0; i < n; ++i)
                        for (int32_t j = 0; j < n; ++j) {
                            const double sij = form == 2 ? (i == j ? d[i] : 0.0) : s[velix::pk(std::max(i, j), std::min(i, j))];
                            want += full_b(mode, i, a) * sij * full_b(mode, j, c);
                        }
                    EXPECT_NEAR(out[velix::pk(a, c)], want, 1e-13) << "mode " << mode << " form " << form;
                }
        }
}

}  // namespace
