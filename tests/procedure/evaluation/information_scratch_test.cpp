// The scratch the covariance step leaves for the score and Wald tests, on
// the ability model away from its minimum (so that the gradient is not 0):
// the covariance inverts the information matrix, the gradient is the
// central difference of F, and dF/dC gives that gradient again through
// every Jacobian column, <J_k, dF/dC>.
#include "procedure/evaluation/information_scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "evaluation_fixture.h"
#include "numerics/packed.h"
#include "procedure/evaluation/information.h"
#include "procedure/evaluation/jacobian.h"
#include "tests/support/test_matrices.h"

namespace velix::testing {
namespace {

TEST(InformationScratch, HoldsTheInverseTheGradientAndDfdc) {
    EvalStep s(ability_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    for (const ReferenceEstimate& r : kAbilityReference) s.nlp.param.x[parameter_index(s, r.name)] = 1.1 * r.est;
    const int32_t q = s.q(), pstar = s.ctx.sizes.nMoments;
    std::vector<double> h(static_cast<size_t>(velix::pk_lower(q, 0))), se(static_cast<size_t>(s.ctx.sizes.nParmAll));
    s.nlp.hess.hessian = h.data();
    s.nlp.work.stdErrors = se.data();
    ASSERT_EQ(cosicrp(&s.nlp), 0);
    ASSERT_EQ(s.ctx.eval.covStatus, 1);
    const std::vector<double> info(s.ctx.eval.cross, s.ctx.eval.cross + h.size());
    std::vector<double> cov(h.size()), g(static_cast<size_t>(q)), dFdC(static_cast<size_t>(pstar));
    const EvalView v = eval_view(&s.ctx);
    read_information_scratch(&v, cov.data(), g.data(), dFdC.data());

    EXPECT_LT(velix::test::identity_error(velix::test::from_packed(info, q), velix::test::from_packed(cov, q), q), 1e-9);
    ASSERT_EQ(jacobian_walk(&v), 0);
    const std::vector<double> jacobian(s.ctx.eval.jacobian, s.ctx.eval.jacobian + int64_t{q} * pstar);
    const std::vector<double> x = s.x();
    constexpr double kStep = 1e-6;  // central differences: error of order kStep^2 times F'''
    for (int32_t k = 0; k < q; ++k) {
        std::vector<double> xp = x, xm = x;
        xp[static_cast<size_t>(k)] += kStep;
        xm[static_cast<size_t>(k)] -= kStep;
        s.set_x(xp);
        const double fp = s.objective();
        s.set_x(xm);
        const double fd = (fp - s.objective()) / (2.0 * kStep);
        const double gk = g[static_cast<size_t>(k)];
        EXPECT_NEAR(gk, fd, 1e-6 * (1.0 + std::fabs(fd))) << s.parameters()[static_cast<size_t>(k)];
        EXPECT_NEAR(cosinnc(s.ctx.sizes.nManifest, jacobian.data() + int64_t{k} * pstar, dFdC.data()), gk,
                    1e-12 * (1.0 + std::fabs(gk))) << k;
    }
}

}  // namespace
}  // namespace velix::testing
