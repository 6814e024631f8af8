// Finite differences of program-defined parameters (FDCODE): the
// derivatives they give, the restored base point, and the end of the
// step halving when the program fails at every shifted point.
#include "procedure/evaluation/finite_differences.h"

#include <gtest/gtest.h>

#include "evaluation_fixture.h"
#include "procedure/evaluation/gradient.h"

namespace velix::testing {
namespace {

std::string fdcode_program(const std::string& statements) {
    std::string text = ram_program("ml");
    text.insert(text.find(" covariance;"), " fdcode");
    return text.insert(text.rfind("run;"), statements);
}

TEST(FiniteDifferences, DerivativeOfAProgramDefinedParameter) {
    EvalStep s(fdcode_program("l3 = l2 * l2;\n"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    ASSERT_EQ(s.ctx.program.fdDepDerivs, 1);
    ASSERT_FALSE(std::isnan(s.objective()));
    const std::vector<double> before = s.x();
    std::vector<double> elements(s.ctx.elements.value, s.ctx.elements.value + s.ctx.sizes.nElements);
    ASSERT_EQ(cosfdcj(&s.nlp), 0);
    const double l2 = s.nlp.x[parameter_index(s, "l2")];
    // Forward differences of l2^2: 2 l2 + h (1 + |l2|), h = 2.1e-8.
    EXPECT_NEAR(s.ctx.eval.depFdJacobian[0], 2.0 * l2, 1e-6);
    EXPECT_EQ(s.x(), before);
    EXPECT_EQ(std::vector<double>(s.ctx.elements.value, s.ctx.elements.value + s.ctx.sizes.nElements),
              elements);
}

// At l2 = 1e6 every shifted run fails (the program leaves l3 missing); the
// step is halved down to its floor relative to |l2| and the gradient fails.
TEST(FiniteDifferences, ProgramFailingAtEveryStepEndsInFailure) {
    EvalStep s(fdcode_program("l3 = l2 * l2;\nif l2 > 1e6 then l3 = .;\n"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    std::vector<double> x = s.x();
    x[parameter_index(s, "l2")] = 1e6;
    s.set_x(x);
    s.objective();
    const std::vector<double> base = s.x();
    std::vector<double> gradient(static_cast<size_t>(s.q()));
    s.nlp.gradient = gradient.data();
    s.ctx.eval.valid = 1;  // the point's objective may be huge; the gradient is what is tested
    EXPECT_EQ(cosfdcj(&s.nlp), -2);
    EXPECT_EQ(cosgrad(&s.nlp), -1);
    EXPECT_EQ(s.x(), base);
}

}  // namespace
}  // namespace velix::testing
