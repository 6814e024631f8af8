// HESCAL= on Rosenbrock's residuals (10 (x2 - x1^2), 1 - x1), whose cross
// product 2 J'J has the diagonal 2 (400 x1^2 + 1) and 200: every kind
// reaches the minimum, the trust-region paths change, and for TRUREG and
// LEVMAR (whose last Hessian is of the final point) the scale follows the
// kind's rule and GCONV2's measure is max |g_j| / sqrt(H_jj f).
#include <cmath>

#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Scaling : public NlpStep {};

double diagonal0(double x1) { return 2.0 * (400.0 * x1 * x1 + 1.0); }

TEST_F(Scaling, EachKindReachesTheMinimumWithTheScaleOfItsRule) {
    const Standard& rosenbrock = standard_problems()[0];
    for (const int32_t technique : {kTechTrureg, kTechLevmar, kTechDbldog, kTechNewrap, kTechNrridg}) {
        std::vector<double> unscaledPath;
        for (int32_t kind = 0; kind <= 3; ++kind) {
            SCOPED_TRACE("technique " + std::to_string(technique) + " HESCAL=" + std::to_string(kind));
            TechniqueProblem t(rosenbrock, technique, true);
            std::vector<double> scale(2, -1.0);
            t.p.param.scale = scale.data();
            t.p.opt.scalingKind = kind;
            const int32_t status = run_driver(&t);
            EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << status;
            EXPECT_NEAR(t.x[0], 1.0, 1e-5);
            EXPECT_NEAR(t.x[1], 1.0, 1e-5);
            if (kind == 0) unscaledPath = t.path;
            // A Newton step is the same in any variables.
            if (kind == 0 || technique == kTechNewrap || technique == kTechNrridg) continue;
            EXPECT_NE(t.path, unscaledPath);
            if (technique == kTechDbldog) continue;  // scaled by its own matrix
            const double latest = std::sqrt(diagonal0(t.x[0]));
            EXPECT_DOUBLE_EQ(scale[1], std::sqrt(200.0));
            // The latest diagonal (kind 3), never below it (1 and 2), and the
            // running maximum covers the start's.
            EXPECT_NEAR(scale[0], kind == 3 ? latest : std::fmax(scale[0], latest), 1e-12 * latest);
            EXPECT_GE(scale[0], kind == 1 ? std::sqrt(diagonal0(rosenbrock.x0[0])) : 0.0);
            const double f = t.p.iter.f, g0 = t.p.work.gradient[0], g1 = t.p.work.gradient[1];
            const double measure = std::fmax(std::fabs(g0) / std::sqrt(diagonal0(t.x[0]) * f), std::fabs(g1) / std::sqrt(200.0 * f));
            EXPECT_NEAR(t.p.iter.scaledGradMax, measure, 1e-10 * measure);
        }
    }
}

}  // namespace
