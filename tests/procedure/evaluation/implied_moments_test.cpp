// The implied moments of the typed kernels against a direct dense
// computation from the element pattern, for each model kind at random
// parameter vectors around the start values.
#include <gtest/gtest.h>

#include "evaluation_fixture.h"

namespace velix::testing {
namespace {

struct KindCase {
    const char* kind;
    std::string (*program)(const char*);
};

class ImpliedMoments : public ::testing::TestWithParam<KindCase> {};

TEST_P(ImpliedMoments, MatchDenseProductsAtRandomPoints) {
    EvalStep s(GetParam().program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const int32_t n = s.ctx.sizes.nManifest;
    const std::vector<double> start = s.x();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        s.set_x(start);
        s.perturb(seed, 0.2);
        ASSERT_FALSE(std::isnan(s.objective())) << "seed " << seed << "\n" << s.log.str();
        const Dense ref = s.implied_reference();
        double worst = 0.0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const double got = s.ctx.eval.implied[velix::pk_lower(i, j)];
                worst = std::max(worst, std::fabs(got - ref[i][j]) / (1.0 + std::fabs(ref[i][j])));
            }
        EXPECT_LT(worst, 1e-12) << GetParam().kind << " seed " << seed;
    }
    // Inverse forms term by term instead of once for all terms: the same C.
    const std::vector<double> once(s.ctx.eval.implied, s.ctx.eval.implied + s.ctx.sizes.nMoments);
    s.ctx.readers.perTermInverse = 0;
    s.objective();
    EXPECT_EQ(std::vector<double>(s.ctx.eval.implied, s.ctx.eval.implied + s.ctx.sizes.nMoments), once);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImpliedMoments,
                         ::testing::Values(KindCase{"lineqs", lineqs_program},
                                           KindCase{"ram", ram_program},
                                           KindCase{"cosan", cosan_program},
                                           KindCase{"factor", factor_program},
                                           KindCase{"typed", typed_program}),
                         [](const auto& info) { return std::string(info.param.kind); });

}  // namespace
}  // namespace velix::testing
