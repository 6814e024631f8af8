// The latent-variable estimators on two-factor and one-factor models of the
// reference data: the instrumental-variable loading of a non-reference
// indicator is its two-stage least squares coefficient on the reference
// indicator with the other non-reference indicators as instruments
// (computed here from the sample moments), and the principal-factor
// loadings of a factor with a fixed unit variance satisfy the eigen
// equation of the reduced moment matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "start_fixture.h"
#include "tests/support/fixtures.h"

namespace velix::testing {
namespace {

// The two-stage least squares coefficient of indicator `row` on the
// reference indicator `ref` of its factor, the non-reference indicators
// other than `row` as instruments: g'S(I, row) / g'S(I, ref) with
// g = S_II^-1 S(I, ref), each inverse formed anew.
double two_stage_loading(const StartValueStep& s, const std::vector<int32_t>& nonRef, int32_t row, int32_t ref) {
    std::vector<int32_t> inst;
    for (int32_t j : nonRef)
        if (j != row) inst.push_back(j);
    std::vector<double> sIr, sIx;
    for (int32_t i : inst) sIr.push_back(s.sample(i, ref)), sIx.push_back(s.sample(i, row));
    const std::vector<double> g = solve(s.block(inst, inst), sIr);
    double num = 0.0, den = 0.0;
    for (size_t a = 0; a < g.size(); ++a) num += g[a] * sIx[a], den += g[a] * sIr[a];
    return num / den;
}

TEST(InstrumentalVariables, ANonReferenceLoadingIsItsTwoStageCoefficient) {
    StartValueStep s(
        "proc velix data=hs method=none covariance;\nvar x1-x6;\n"
        "lineqs x1 = 1.0 F1 + e1, x2 = l2 F1 + e2, x3 = l3 F1 + e3,\n"
        "       x4 = 1.0 F2 + e4, x5 = l5 F2 + e5, x6 = l6 F2 + e6;\n"
        "std F1 = v1, F2 = v2, e1-e6 = ve1-ve6;\ncov F1 F2 = c;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    // The reference indicators are x1 and x4 (their loadings are fixed);
    // each other indicator is instrumented by the remaining non-reference
    // ones (x2 by x3, x5 and x6): l = g'S(I, x) / g'S(I, ref) with
    // g = S_II^-1 S(I, ref).
    const std::vector<int32_t> nonRef = {1, 2, 4, 5};
    const struct {
        const char* name;
        int32_t row, ref;
    } loadings[] = {{"l2", 1, 0}, {"l3", 2, 0}, {"l5", 4, 3}, {"l6", 5, 3}};
    for (const auto& l : loadings) {
        const double expected = two_stage_loading(s, nonRef, l.row, l.ref);
        EXPECT_NEAR(s.start(l.name), expected, 1e-10 * std::fabs(expected)) << l.name;
    }
}

// The large models of ten indicators per factor (v1, v11, ... the
// reference indicators), where the start takes one inverse over all
// non-reference indicators and deletes each row from it: every
// `stride`-th loading against its own two-stage coefficient.  The
// 120-variable model is in tests/fixtures/large; the 240-variable one is
// read when its compressed data are beside the sources.
void expect_two_stage_starts(const std::string& program, const std::string& data, int32_t p, int32_t stride) {
    std::string text = program;
    text.replace(text.find("data="), text.find(" method") - text.find("data="), "data='" + data + "'");
    StartValueStep s(text);
    ASSERT_TRUE(s.ready) << s.log.str();
    std::vector<int32_t> nonRef;
    for (int32_t j = 0; j < p; ++j)
        if (j % 10 != 0) nonRef.push_back(j);
    for (size_t k = 0; k < nonRef.size(); k += stride) {
        const int32_t row = nonRef[k];
        const double expected = two_stage_loading(s, nonRef, row, row - row % 10);
        EXPECT_NEAR(s.start("l" + std::to_string(row + 1)), expected, 1e-10 * std::fabs(expected)) << row;
    }
}

TEST(InstrumentalVariables, TheLargeModelsStartAtTheTwoStageCoefficients) {
    expect_two_stage_starts(velix::test::large_reference_program(), velix::test::fixture_path("large/large.csv"), 120,
                            1);
    const std::string ref = std::string(VELIX_SOURCE_DIR) + "/../shared/reference";
    const std::string scale = read_file(ref + "/scale/p240.vx");
    const std::string csv = ::testing::TempDir() + "p240.csv";
    if (scale.empty() || std::system(("gunzip -c '" + ref + "/scale/p240.csv.gz' > '" + csv + "'").c_str()) != 0) return;
    expect_two_stage_starts(scale, csv, 240, 9);
    std::remove(csv.c_str());
}

TEST(PrincipalFactors, LoadingsSolveTheReducedEigenEquationAndTheFixedVarianceHolds) {
    StartValueStep s(
        "proc velix data=hs method=none covariance;\nvar x1-x4;\n"
        "lineqs x1 = l1 F + e1, x2 = l2 F + e2, x3 = l3 F + e3, x4 = l4 F + e4;\n"
        "std F = 1.0, e1-e4 = ve1-ve4;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    s.reset_values();
    // Without a usable inverse of S the unique variances start at 0.36 s_jj,
    // and the principal factors subtract their square roots.
    s.ctx.moments.logDetMoments = host_missing_value();
    velix::detail::StartWork w;
    ASSERT_EQ(velix::detail::build_start_work(&s.ctx, &w), velix::detail::kStartWorkReady);
    velix::detail::parmis(&w, 1);
    EXPECT_EQ(velix::detail::cosinf2(&w), 0);
    std::vector<double> l;
    for (int32_t i = 0; i < 4; ++i) l.push_back(s.value_at(3, i, 0));
    // (S - diag sqrt(0.36 s_jj)) l = theta l: the ratios agree.
    std::vector<double> ratio;
    for (int32_t i = 0; i < 4; ++i) {
        double v = -std::sqrt(0.36 * s.sample(i, i)) * l[static_cast<size_t>(i)];
        for (int32_t j = 0; j < 4; ++j) v += s.sample(i, j) * l[static_cast<size_t>(j)];
        ratio.push_back(v / l[static_cast<size_t>(i)]);
    }
    for (double r : ratio) EXPECT_NEAR(r, ratio[0], 1e-9 * std::fabs(ratio[0]));
    // The factor keeps its fixed variance in the start moments.
    EXPECT_NEAR(w.get(4, 4), 1.0, 1e-12);
}

// A second-order factor: the moments of the general factor with the
// manifest variables go down through the first-order loadings,
// cov(x, G) = l_x cov(F, G) for the first-order factor F of x.
TEST(InstrumentalVariables, SecondOrderMomentsReachTheManifestVariablesThroughTheLoadings) {
    StartValueStep s(
        "proc velix data=hs method=none covariance;\nvar x1-x9;\n"
        "lineqs x1 = 1.0 Fvis + e1, x2 = l2 Fvis + e2, x3 = l3 Fvis + e3,\n"
        "       x4 = 1.0 Ftxt + e4, x5 = l5 Ftxt + e5, x6 = l6 Ftxt + e6,\n"
        "       x7 = 1.0 Fspd + e7, x8 = l8 Fspd + e8, x9 = l9 Fspd + e9,\n"
        "       Fvis = 1.0 Fg + d1, Ftxt = g2 Fg + d2, Fspd = g3 Fg + d3;\n"
        "std Fg = vg, e1-e9 = ve1-ve9, d1-d3 = vd1-vd3;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    s.reset_values();
    velix::detail::StartWork w;
    ASSERT_EQ(velix::detail::build_start_work(&s.ctx, &w), velix::detail::kStartWorkReady);
    velix::detail::parmis(&w, 1);
    ASSERT_EQ(velix::detail::cosinjo(&w), 0);
    auto position = [&](const std::string& name) {
        const auto names = s.column_names();
        for (int32_t p = 0; p < w.order; ++p)
            if (names[static_cast<size_t>(w.varCode[static_cast<size_t>(p)])] == name) return p;
        ADD_FAILURE() << name;
        return 0;
    };
    const int32_t g = position("Fg");
    const struct {
        int32_t x;
        const char* factor;
        const char* loading;
    } cases[] = {{0, "Fvis", ""}, {1, "Fvis", "l2"}, {5, "Ftxt", "l6"}, {8, "Fspd", "l9"}};
    for (const auto& c : cases) {
        double l = 1.0;
        for (int32_t e = 0; e < s.ctx.sizes.nElements && *c.loading; ++e)
            if (s.parameter_of(e) == c.loading) l = s.ctx.elements.value[e];
        const double expected = l * w.get(position(c.factor), g);
        EXPECT_NEAR(w.get(c.x, g), expected, 1e-12 * std::fabs(expected)) << "x" << c.x + 1;
    }
}

}  // namespace
}  // namespace velix::testing
