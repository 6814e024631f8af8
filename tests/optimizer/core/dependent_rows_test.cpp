// Cleaning the linear constraints of HS28 (min (x1+x2)^2 + (x2+x3)^2 with
// x1 + 2x2 + 3x3 = 1, optimum (0.5, -0.5, 0.5)): repeated and dependent
// rows are removed with their messages and table, the optimum of the
// cleaned problem is unchanged, and contradictions are reported.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "tests/optimizer/core/constraint_fixture.h"

namespace {

using namespace velix::test;

struct Hs28Rows : NlpStep {
    ConstrainedProblem c{{-4.0, 1.0, 1.0}};
    void rows(const std::vector<std::vector<double>>& a, const std::vector<double>& b, int32_t nEq) {
        c.set_rows(a, b, nEq);
        c.p.shape.nConTotal = c.p.shape.nLinCon;
        c.p.shape.nEqTotal = nEq;
        c.p.out.kyrObject = manager_;
    }
    int32_t clean() { return znlpldc(&c.p, 1, 0, nullptr, nullptr, c.rows.data()); }
    // The equality-constrained minimum of the quadratic objective.
    void expect_optimum() {
        const std::vector<double> h = {2, 2, 4, 0, 2, 2};
        std::vector<double> w(6);
        ASSERT_EQ(znlplcq(&c.p, 1, 0, 0.0, nullptr, h.data(), w.data()), 0);
        EXPECT_NEAR(c.x[0], 0.5, 1e-12);
        EXPECT_NEAR(c.x[1], -0.5, 1e-12);
        EXPECT_NEAR(c.x[2], 0.5, 1e-12);
    }
};

TEST_F(Hs28Rows, RepeatedRowIsRemoved) {
    rows({{1, 2, 3}, {1, 2, 3}, {1, 0, 0}, {1, 0, 0}, {-1, 0, 0}}, {1, 1, -5, -5, 5}, 2);
    EXPECT_EQ(clean(), 0);
    EXPECT_NE(log().find("NOTE: 2 linear constraint(s) repeating an earlier one were removed."), std::string::npos);
    // The row and its negation are not repeats; one equality remains.
    EXPECT_EQ(c.p.shape.nLinCon, 3);
    EXPECT_EQ(c.p.shape.nLinEq, 1);
    EXPECT_EQ(c.p.shape.nConTotal, 3);
    EXPECT_EQ(c.p.shape.nEqTotal, 1);
    EXPECT_EQ(std::vector<double>(c.rows.begin(), c.rows.begin() + 9), (std::vector<double>{1, 2, 3, 1, 0, 0, -1, 0, 0}));
    EXPECT_EQ(c.rhs[2], 5.0);
    EXPECT_TRUE(item("LinConDel").is_null());
}

TEST_F(Hs28Rows, DependentRowIsRemovedWithItsTable) {
    rows({{1, 2, 3}, {2, 4, 6}, {1, 0, 0}}, {1, 2, -9}, 2);
    c.p.opt.printLevel = 3.0;
    EXPECT_EQ(clean(), 0);
    EXPECT_NE(log().find("NOTE: 1 linear equality constraint(s) depending linearly on earlier ones were removed."),
              std::string::npos);
    EXPECT_EQ(c.p.shape.nLinCon, 2);
    EXPECT_EQ(c.p.shape.nLinEq, 1);
    const JsonValue table = item("LinConDel");
    ASSERT_FALSE(table.is_null());
    // Left, Relation and four columns for each of the three terms; the
    // row reads 2 == 2 X1 + 4 X2 + 6 X3.
    ASSERT_EQ(table["columns"].size(), 14u);
    EXPECT_EQ(table["columns"][13]["name"].str(), "C4_3");
    ASSERT_EQ(table["rows"].size(), 1u);
    EXPECT_EQ(table["rows"][0][0].number(), 2.0);
    EXPECT_EQ(table["rows"][0][1].str(), " ==");
    EXPECT_EQ(table["rows"][0][11].number(), 6.0);
    EXPECT_EQ(table["rows"][0][13].str(), "X3");
    expect_optimum();
}

TEST_F(Hs28Rows, ANegatedRowWithZeroRightHandSideShowsZero) {
    // x3 = 0 and -x3 = 0: the second is dependent and printed negated,
    // 0 == X3, with a plain zero on the left.
    rows({{1, 2, 3}, {0, 0, 1}, {0, 0, -1}}, {1, 0, 0}, 3);
    c.p.opt.printLevel = 3.0;
    EXPECT_EQ(clean(), 0);
    const JsonValue table = item("LinConDel");
    ASSERT_FALSE(table.is_null());
    ASSERT_EQ(table["rows"].size(), 1u);
    EXPECT_EQ(table["rows"][0][0].number(), 0.0);
    EXPECT_FALSE(std::signbit(table["rows"][0][0].number()));
    EXPECT_EQ(table["rows"][0][3].number(), 1.0);
    EXPECT_EQ(table["rows"][0][5].str(), "X3");
}

TEST_F(Hs28Rows, ContradictingDependentRowIsInfeasible) {
    rows({{1, 2, 3}, {1, 2, 3}}, {1, 2}, 2);
    EXPECT_EQ(clean(), -2);
    EXPECT_NE(log().find("ERROR: The linear equality constraint 2 depends on earlier ones but contradicts them"),
              std::string::npos);
    EXPECT_EQ(c.p.shape.nLinCon, 2);
}

TEST_F(Hs28Rows, FixedParametersAndInequalities) {
    // x3 fixed at 1 by its bounds; the equality over x3 alone is dependent
    // (and met); inequality rows are never tested for dependence.
    rows({{1, 2, 3}, {0, 0, 1}, {1, 1, 0}, {2, 2, 0}}, {1, 1, 0, 1}, 2);
    c.set_bounds({-9, -9, 1.0}, {9, 9, 1.0 + 1e-12});
    EXPECT_EQ(clean(), 0);
    EXPECT_EQ(c.state, (std::vector<int32_t>{0, 0, 2}));
    EXPECT_EQ(c.upper[2], 1.0);
    EXPECT_EQ(c.p.shape.nLinCon, 3);
    EXPECT_EQ(c.p.shape.nLinEq, 1);
    // Crossed bounds are an error, not fixed silently.
    c.set_bounds({-9, 2, 0}, {9, 1, 5});
    EXPECT_EQ(clean(), -1);
    EXPECT_EQ(c.upper[1], 1.0);
    EXPECT_NE(log().find("ERROR: The lower bound 2 of parameter 2 is above its upper bound 1."), std::string::npos);
}

// Planted dependencies among seven equality rows over six parameters, x6
// fixed: row 3 = row 1 + 2 row 2, row 4 is over x6 alone, row 6 = row 5 -
// row 2.  The Gram-Schmidt test (form 0 on a file of its own, form 2 in
// memory and on the sparse form's file) removes what the dense test
// removes, and like it finds a planted row that contradicts the others.
TEST_F(Hs28Rows, GramSchmidtFormsFindTheDenseFormsRows) {
    std::mt19937 rng(11);
    std::normal_distribution<double> z;
    std::vector<std::vector<double>> a(4, std::vector<double>(6));
    for (auto& row : a)
        for (double& v : row) v = z(rng);
    std::vector<std::vector<double>> eq{a[0], a[1], a[0], {0, 0, 0, 0, 0, 3.0}, a[2], a[2], a[3]};
    for (int32_t i = 0; i < 6; ++i) eq[2][i] += 2.0 * a[1][i], eq[5][i] -= a[1][i];
    const std::vector<double> x0{0.3, -1.2, 0.7, 2.0, -0.4, 0.5};
    std::vector<double> b;
    for (const auto& row : eq) b.push_back(std::inner_product(row.begin(), row.end(), x0.begin(), 0.0));
    for (const bool contradict : {false, true}) {
        std::vector<std::vector<double>> kept;
        for (const int32_t variant : {0, 1, 2, 3}) {  // forms 1, 0, 2 in memory, 2 on a file
            ConstrainedProblem t(std::vector<double>(6, 0.0));
            t.set_rows(eq, b, 7);
            t.rhs[5] += contradict ? 1.0 : 0.0;
            t.set_bounds({-9, -9, -9, -9, -9, 0.5}, {9, 9, 9, 9, 9, 0.5});
            t.p.shape.nConTotal = t.p.shape.nEqTotal = 7;
            ScratchFileRequest request;
            request.attributeWord = 0x84000008u;
            if (variant == 3) {
                ASSERT_EQ(xcopen(&t.p.opt.conFactorFile, &request), 0);
            }
            const int32_t form = variant == 0 ? 1 : variant == 1 ? 0 : 2;
            const int32_t r = znlpldc(&t.p, form, 0, nullptr, nullptr, t.rows.data());
            if (variant == 3) xcclose(t.p.opt.conFactorFile, 1);
            EXPECT_EQ(r, contradict ? -2 : 0) << "variant " << variant;
            if (contradict) continue;
            EXPECT_EQ(t.p.shape.nLinEq, 4) << "variant " << variant;
            std::vector<std::vector<double>> rows;
            for (int32_t k = 0; k < t.p.shape.nLinCon; ++k) rows.emplace_back(t.rows.begin() + 6 * k, t.rows.begin() + 6 * k + 6);
            if (variant == 0) kept = rows;
            EXPECT_EQ(rows, kept) << "variant " << variant;
        }
    }
}

}  // namespace
