// The parameter scaling (HESCAL=) of the trust-region, double-dogleg and
// Newton techniques on Rosenbrock's residuals (10 (x2 - x1^2), 1 - x1), whose
// Gauss-Newton cross product 2 J'J has the diagonal 2 (400 x1^2 + 1) and
// 200: the scale is the square root of that diagonal by the kind's rule,
// the path depends on the kind, every kind reaches the minimum, and the
// scaled gradient of GCONV2 is |g_j| / sqrt(H_jj f).
#include <cmath>

#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class Scaling : public NlpStep {};

double first_diagonal(double x1) { return 2.0 * (400.0 * x1 * x1 + 1.0); }

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
            EXPECT_GE(status, kNlpAbsConv);
            EXPECT_LE(status, kNlpGConv2);
            EXPECT_NEAR(t.x[0], 1.0, 1e-5);
            EXPECT_NEAR(t.x[1], 1.0, 1e-5);
            if (kind == 0) {
                unscaledPath = t.path;
                EXPECT_EQ(scale[0], -1.0);  // no scaling touches no scale
                continue;
            }
            // The trust-region steps (and so their paths) change; a Newton
            // step is the same in any variables (and a ridged iteration
            // marks the next scale 1).
            if (technique == kTechNewrap || technique == kTechNrridg) continue;
            EXPECT_NE(t.path, unscaledPath);
            // TRUREG and LEVMAR end on a Hessian of the final point: the
            // latest scale is its diagonal, the running maximum covers the
            // start's (the double dogleg scales by its own matrix).
            if (technique == kTechDbldog) continue;
            // The second diagonal entry is 200 at every point.
            EXPECT_DOUBLE_EQ(scale[1], std::sqrt(200.0));
            // The damped rule never falls below the latest diagonal.
            const double latest = std::sqrt(first_diagonal(t.x[0]));
            if (kind == 3) {
                EXPECT_NEAR(scale[0], latest, 1e-12 * latest);
            } else {
                EXPECT_GE(scale[0], latest * (1 - 1e-12));
            }
            if (kind == 1) {
                EXPECT_GE(scale[0], std::sqrt(first_diagonal(rosenbrock.x0[0])));
            }
            // GCONV2's measure at the final point: max |g_j| / sqrt(H_jj f).
            const double f = t.p.iter.f, g0 = t.p.work.gradient[0], g1 = t.p.work.gradient[1];
            const double measure = std::fmax(std::fabs(g0) / std::sqrt(first_diagonal(t.x[0]) * f),
                                             std::fabs(g1) / std::sqrt(200.0 * f));
            if (f > 0.0) {
                EXPECT_NEAR(t.p.iter.scaledGradMax, measure, 1e-10 * measure);
            }
        }
    }
}

}  // namespace
