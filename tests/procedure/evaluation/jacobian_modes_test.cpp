// The Jacobian storage modes against the in-memory mode 1 at random points:
// the cross product and gradient of every mode, the columns that the
// term-wise records (summed by tag), the column files and the sparse values
// hold, and the pattern covering every nonzero of J.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "evaluation_fixture.h"
#include "tests/support/fixtures.h"
#include "procedure/evaluation/column_jacobian.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/fd_jacobian.h"
#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/jacobian_pattern.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "velix/host.h"

namespace velix::testing {
namespace {

using Vec = std::vector<double>;

// Largest |a - b| over the largest |b| (at least 1e-300).
double relative_gap(const Vec& a, const Vec& b) {
    double gap = 0.0, scale = 1e-300;
    for (size_t i = 0; i < b.size(); ++i) {
        gap = std::max(gap, std::fabs(a[i] - b[i]));
        scale = std::max(scale, std::fabs(b[i]));
    }
    return gap / scale;
}

struct ModeCase {
    const char* name;
    std::string (*program)(const char*);
    const char* method;
    int32_t code;
    bool diagonalFromData = false;
};

// The factor model with the unique part U I U' (standard deviations).
std::string heywood_program(const char* method) {
    std::string text = factor_program(method);
    return text.insert(text.find("n=2") + 3, " heywood");
}

class JacobianModes : public ::testing::TestWithParam<ModeCase> {
   protected:
    void SetUp() override {
        const ModeCase& c = GetParam();
        s = std::make_unique<EvalStep>(c.program(c.method), c.code);
        ASSERT_TRUE(s->ready) << s->log.str();
        s->ctx.eval.diagFromData = c.diagonalFromData ? 1 : 0;
        view = eval_view(&s->ctx);
        ASSERT_EQ(cosjamv(&view, 0), 0) << s->log.str();
    }
    // H and g of the mode at the point of the last objective.
    std::pair<Vec, Vec> cross(int32_t mode) {
        s->ctx.eval.jacobianMode = mode;
        EXPECT_EQ(cosmcrp(&view), 0) << "mode " << mode;
        const EvaluationState& st = s->ctx.eval;
        return {Vec(st.cross, st.cross + s->q() * (s->q() + 1) / 2),
                Vec(st.gradient, st.gradient + s->q())};
    }
    // The q p* doubles of a column file.
    Vec columns(HostFile* file) {
        Vec all(static_cast<size_t>(s->q()) * view.pstar);
        velix::detail::file_get(file, 0, all.data(), static_cast<int32_t>(all.size()));
        return all;
    }
    Vec weighted(Vec j) {
        for (int32_t k = 0; k < s->q(); ++k)
            EXPECT_EQ(velix::detail::weigh_column(view, j.data() + int64_t{k} * view.pstar), 0);
        return j;
    }
    std::unique_ptr<EvalStep> s;
    EvalView view;
};

TEST_P(JacobianModes, AgreeWithTheInMemoryJacobian) {
    const bool weightedMethod = GetParam().code == kMethodWls || GetParam().code == kMethodDwls;
    const int32_t p = view.pstar, q = s->q();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        s->perturb(seed, 0.1);
        ASSERT_FALSE(std::isnan(s->objective())) << s->log.str();
        ASSERT_EQ(cosfdcj(&s->nlp), 0);  // the cross-product callback forms it first
        ASSERT_EQ(jacobian_walk(&view), 0);
        const Vec j1(s->ctx.eval.jacobian, s->ctx.eval.jacobian + int64_t{q} * p);
        for (int32_t k = 0; k < q && s->ctx.eval.diagFromData; ++k)
            for (int32_t i = 0; i < view.n; ++i)
                ASSERT_EQ(j1[int64_t{k} * p + velix::pk_lower(i, i)], 0.0) << "diagonal row";
        const auto [h1, g1] = cross(1);
        const Vec plainOrWeighted = weightedMethod ? weighted(j1) : j1;
        for (const int32_t mode : {2, 3, 4, 11, 12, 5, 6}) {
            const double tol = mode == 5 || mode == 6 ? 1e-6 : 1e-12;
            const auto [h, g] = cross(mode);
            EXPECT_LT(relative_gap(h, h1), tol) << "cross product, mode " << mode;
            EXPECT_LT(relative_gap(g, g1), tol) << "gradient, mode " << mode;
            if (mode == 2 || mode == 3) {
                EXPECT_LT(relative_gap(columns(view.columnFile), j1), 1e-12) << "mode " << mode;
            }
            if (mode == 3 && weightedMethod) {
                EXPECT_LT(relative_gap(columns(view.weightedFile), plainOrWeighted), 1e-12);
            }
            if (mode == 6) {
                HostFile* file = weightedMethod ? view.weightedFile : view.columnFile;
                EXPECT_LT(relative_gap(columns(file), plainOrWeighted), 1e-6);
            }
        }
        // The sparse values (before any weighting) at the pattern and zero
        // off it; every nonzero of J is in the pattern.
        ASSERT_EQ(cosjasp(&view), 0);
        Vec sparse(static_cast<size_t>(q) * p);
        for (int32_t k = 0; k < q; ++k) spfill(&view, k, sparse.data() + int64_t{k} * p);
        EXPECT_LT(relative_gap(sparse, j1), 1e-12);
        for (size_t m = 0; m < j1.size(); ++m)
            ASSERT_TRUE(j1[m] == 0.0 || sparse[m] != 0.0 || std::fabs(j1[m]) < 1e-300)
                << "moment " << m % p << " of parameter " << m / p << " is off the pattern";
        // The groups kept from the earlier points, taken to this one, are
        // those formed afresh; so they are once a value falls to zero.
        for (const bool zeroed : {false, true}) {
            if (zeroed) s->ctx.eval.jac.nzValue[s->ctx.eval.jac.nonzeros / 2] = 0.0;
            RowGroups fresh;
            spgroup_rows(&view, &fresh);
            spgroup_alike(&fresh);
            const RowGroups& kept = spgroup_rows_kept(&view);
            EXPECT_TRUE(kept.pivot == fresh.pivot && kept.index == fresh.index && kept.value == fresh.value &&
                        kept.alike == fresh.alike && kept.factor == fresh.factor)
                << "seed " << seed << (zeroed ? ", a value zeroed" : "");
        }
        ASSERT_EQ(cosjasp(&view), 0);
        // The weighted sparse column (shares grouped by variable, added in
        // one pass) against one rank-two update per nonzero of the column.
        if (weightedMethod) continue;
        velix::detail::fill_weight_dense(view);
        Vec grouped(static_cast<size_t>(p)), each(static_cast<size_t>(p));
        for (int32_t k = 0; k < q; ++k) {
            spkron(&view, k, grouped.data());
            velix::detail::kron_weight(view, sparse.data() + int64_t{k} * p, each.data());
            EXPECT_LT(relative_gap(grouped, each), 1e-12) << "parameter " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndMethods, JacobianModes,
    ::testing::Values(ModeCase{"lineqs_ml", lineqs_program, "ml", kMethodMl},
                      ModeCase{"ram_ml", ram_program, "ml", kMethodMl},
                      ModeCase{"factor_ml", factor_program, "ml", kMethodMl},
                      ModeCase{"factor_heywood", heywood_program, "ml", kMethodMl},
                      ModeCase{"typed_ml", typed_program, "ml", kMethodMl},
                      ModeCase{"dependent_gls", dependent_program, "gls", kMethodGls},
                      ModeCase{"dependent_fdcode", dependent_program, "ml fdcode", kMethodMl},
                      ModeCase{"cosan_uls", cosan_program, "uls", kMethodUls},
                      ModeCase{"cosan_gls", cosan_program, "gls", kMethodGls},
                      ModeCase{"cosan_ml", cosan_program, "ml", kMethodMl},
                      ModeCase{"cosan_wls", cosan_program, "wls", kMethodWls},
                      ModeCase{"cosan_dwls", cosan_program, "dwls", kMethodDwls},
                      ModeCase{"repeated_ml", repeated_program, "ml", kMethodMl},
                      ModeCase{"repeated_wls", repeated_program, "wls", kMethodWls},
                      ModeCase{"diagonal_uls", cosan_program, "uls", kMethodUls, true},
                      ModeCase{"diagonal_wls", cosan_program, "wls", kMethodWls, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Two records of one parameter merge into its distinct moments, ascending
// (row before column); the other parameters stay empty.
TEST(JacobianPattern, CompressMergesTheRecordsOfAParameter) {
    EvalStep s(cosan_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const EvalView v = eval_view(&s.ctx);
    JacobianStorage& jac = s.ctx.eval.jac;
    jac.recordCount = 2;
    jac.recordTags[0] = jac.recordTags[1] = 1;
    jac.rowEnd[0] = jac.rowEnd[1] = 2;
    const int32_t pairs[] = {2, 1, 0, 0, 2, 2, 2, 1};
    ASSERT_TRUE(compress(&v, pairs));
    ASSERT_EQ(jac.nonzeros, 3);
    EXPECT_EQ(jac.rowEnd[0], 0);
    EXPECT_EQ(jac.rowEnd[1], 3);
    EXPECT_EQ(jac.rowEnd[s.q() - 1], 3);
    EXPECT_EQ(std::vector<int32_t>(jac.nzRow, jac.nzRow + 3), (std::vector<int32_t>{0, 2, 2}));
    EXPECT_EQ(std::vector<int32_t>(jac.nzCol, jac.nzCol + 3), (std::vector<int32_t>{0, 1, 2}));
}

// A program that fails at the point leaves no pattern: the request falls
// back to a dense mode (11 to 1, 0 and 12 to forward differences).
TEST(JacobianPattern, AFailedAnalysisFallsBackToADenseMode) {
    std::string text = ram_program("ml");
    EvalStep s(text.insert(text.rfind("run;"), "l3 = log(l2);\n"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.nlp.param.x[parameter_index(s, "l2")] = -1.0;
    const EvalView v = eval_view(&s.ctx);
    for (const auto& [request, fallback] : {std::pair{11, 1}, {12, 5}, {0, 5}}) {
        const size_t mark = messages_now();
        EXPECT_EQ(sparsji(&v, request, 0), fallback);
        // The program's missing-value warning, then the fallback.
        EXPECT_EQ(messages_since(mark), (std::vector<int32_t>{45, 27}));
    }
    s.nlp.param.x[parameter_index(s, "l2")] = 1.0;
    EXPECT_EQ(sparsji(&v, 0, 0), 0);
    EXPECT_GT(s.ctx.eval.jac.nonzeros, 0);
}

// A program that fails just above the point: the forward difference of l2
// is a failure (never a column from the failed run), and the elements are
// those of x again; a second failure at x itself is a failure too.
TEST(JacobianPattern, AFailedPerturbedRunIsAFailure) {
    std::string text = ram_program("ml");
    EvalStep s(text.insert(text.rfind("run;"), "l3 = log(1.000000005 - l2);\n"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const size_t l2 = parameter_index(s, "l2");
    s.nlp.param.x[l2] = 1.0;
    ASSERT_FALSE(std::isnan(s.objective())) << s.log.str();
    const Vec elements(s.ctx.elements.value, s.ctx.elements.value + s.ctx.sizes.nElements);
    const EvalView v = eval_view(&s.ctx);
    for (const int32_t mode : {5, 6}) {
        s.ctx.eval.jacobianMode = mode;
        EXPECT_EQ(cosjafd(&v), 1) << "mode " << mode;
        EXPECT_EQ(Vec(s.ctx.elements.value, s.ctx.elements.value + s.ctx.sizes.nElements), elements);
    }
    s.nlp.param.x[l2] = 2.0;
    EXPECT_EQ(cosjafd(&v), 1);
}

// The large reference model (tests/fixtures/large): its pattern holds
// the 20340 nonzeros that lavaan's delta matrix has at the estimates
// (0.92% of 7260 x 306), so the system chooses the sparse form.
TEST(JacobianPattern, TheLargeModelHasTheReferenceNonzeros) {
    EvalStep s(velix::test::large_reference_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const EvalView v = eval_view(&s.ctx);
    ASSERT_EQ(cosjamv(&v, 0), 0);
    EXPECT_EQ(s.ctx.eval.jac.nonzeros, 20340);
    EXPECT_NEAR(jacobian_density(&v), 0.92, 0.005);
    EXPECT_TRUE(sparse_pattern_pays(s.ctx.eval.jac.nonzeros, v.pstar, v.nParmFree));
}

// The marked-entry weighting of a packed D gives K D K as the weighting of
// every entry does; an entry below ten units of roundoff of the largest is
// left unmarked, and so out.
TEST(SparseWeighting, MarkedEntriesGiveTheKroneckerWeight) {
    EvalStep s(ability_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.objective();
    const EvalView v = eval_view(&s.ctx);
    const int32_t p = v.pstar;
    std::vector<double> d(static_cast<size_t>(p), 0.0), want(static_cast<size_t>(p)), got(static_cast<size_t>(p));
    for (const auto& [i, j, x] : {std::tuple{3, 1, 0.7}, {2, 2, -1.3}, {5, 0, 0.4}, {5, 3, 2.0}})
        d[static_cast<size_t>(velix::pk_lower(i, j))] = x;
    velix::detail::fill_weight_dense(v);
    velix::detail::kron_weight(v, d.data(), want.data());
    d[static_cast<size_t>(velix::pk_lower(4, 4))] = 1e-16;
    std::vector<int32_t> marks(static_cast<size_t>(p));
    EXPECT_EQ(spkron2(&v, d.data(), marks.data(), got.data()), 4);
    EXPECT_EQ(marks[static_cast<size_t>(velix::pk_lower(4, 4))], 0);
    EXPECT_EQ(marks[static_cast<size_t>(velix::pk_lower(5, 3))], 4);
    EXPECT_LT(relative_gap(got, want), 1e-14);
}

// Groups share a slot exactly when their vectors have the same indices and
// proportional values (to roundoff), the factor taking the slot's vector to
// the group's; the sums of a slot's groups from the slot's products are the
// sums over each group's own entries.
TEST(SparseWeighting, ProportionalGroupsShareASlot) {
    RowGroups rows;
    rows.start = {0};
    const auto group = [&](std::vector<int32_t> idx, std::vector<double> val) {
        rows.pivot.push_back(static_cast<int32_t>(rows.pivot.size()) % 6);
        rows.index.insert(rows.index.end(), idx.begin(), idx.end());
        rows.value.insert(rows.value.end(), val.begin(), val.end());
        rows.start.push_back(static_cast<int32_t>(rows.index.size()));
    };
    group({0, 2, 5}, {0.7, 1.9, 3.1});
    group({0, 2, 5}, {-0.3 * 0.7, -0.3 * 1.9, -0.3 * 3.1});  // alike to 0
    group({0, 2, 5}, {0.7, 1.9, 3.1 + 1e-9});                // not proportional
    group({0, 2, 4}, {0.7, 1.9, 3.1});                       // other indices
    group({1}, {2.0});
    group({0, 2, 5}, {0.1 * 0.7, 0.1 * 1.9, 0.1 * 3.1});     // alike to 0
    group({1}, {5.0});                                       // alike to 4
    rows.rowEnd = {2, 5, 7};
    spgroup_alike(&rows);
    ASSERT_EQ(rows.slotGroup, (std::vector<int32_t>{0, 4}));
    EXPECT_EQ(rows.slotLast, (std::vector<int32_t>{5, 6}));
    EXPECT_EQ(rows.alike, (std::vector<int32_t>{0, 0, -1, -1, 1, 0, 1}));
    for (const auto& [h, f] : {std::pair{1, -0.3}, {5, 0.1}, {6, 2.5}})
        EXPECT_NEAR(rows.factor[static_cast<size_t>(h)], f, 1e-15) << "group " << h;
    // A panel of three shares over six variables, sums with and without the
    // slots' products.
    std::vector<double> store(2 * 6 * kShareChunk), products(2 * 2 * kShareChunk);
    for (size_t i = 0; i < store.size(); ++i) store[i] = std::sin(1.0 + static_cast<double>(i));
    const SharePanel panel{store.data(), store.data() + 6 * kShareChunk, kShareChunk, 3};
    spinn_alike(rows, 0, panel, products.data());
    for (int32_t k = 0; k < 3; ++k) {
        std::vector<double> own(kShareChunk), slotted(kShareChunk);
        spinn_shares(rows, k, panel, nullptr, own.data());
        spinn_shares(rows, k, panel, products.data(), slotted.data());
        EXPECT_LT(relative_gap(slotted, own), 1e-14) << "row " << k;
    }
}

}  // namespace
}  // namespace velix::testing
