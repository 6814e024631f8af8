// Derivatives against central differences: the gradient of F, the
// Jacobian of C, and the cross product against J'WJ formed from a
// finite-difference Jacobian with the method's weight, for every model kind
// and method at random points.
#include <gtest/gtest.h>

#include "evaluation_fixture.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/jacobian.h"

namespace velix::testing {
namespace {

// Central-difference step of parameter p.
double step_of(double x) {
    return 1e-5 * (1.0 + std::fabs(x));
}

// Central differences of F and of the packed C over the free parameters.
struct Differences {
    std::vector<double> gradient;
    std::vector<std::vector<double>> jacobian;  // [q][p*]
};

Differences differences(EvalStep& s) {
    const std::vector<double> x0 = s.x();
    Differences d;
    const int32_t p = s.ctx.sizes.nMoments;
    for (int32_t k = 0; k < s.q(); ++k) {
        const double h = step_of(x0[k]);
        std::vector<double> x = x0;
        x[k] = x0[k] + h;
        s.set_x(x);
        const double fp = s.objective();
        const std::vector<double> cp(s.ctx.eval.implied, s.ctx.eval.implied + p);
        x[k] = x0[k] - h;
        s.set_x(x);
        const double fm = s.objective();
        d.gradient.push_back((fp - fm) / (2 * h));
        std::vector<double> col(static_cast<size_t>(p));
        for (int32_t m = 0; m < p; ++m) col[m] = (cp[m] - s.ctx.eval.implied[m]) / (2 * h);
        d.jacobian.push_back(col);
    }
    s.set_x(x0);
    s.objective();
    return d;
}

// J_i' W J_j of the method with the step's weights and C (dense formulas).
double weighted_product(const EvalStep& s, int32_t method, const std::vector<double>& a,
                        const std::vector<double>& b) {
    const int32_t n = s.ctx.sizes.nManifest, p = s.ctx.sizes.nMoments;
    if (method == kMethodWls || method == kMethodDwls) {
        auto solve = [&](std::vector<double> r) {
            const double* l = s.ctx.arrays.weightMatrix;
            for (int32_t i = 0; i < p; ++i) {
                if (method == kMethodDwls) {
                    r[i] *= l[i];
                    continue;
                }
                double y = r[i];
                for (int32_t j = 0; j < i; ++j) y -= l[velix::pk_lower(i, j)] * r[j];
                r[i] = y / l[velix::pk_lower(i, i)];
            }
            return r;
        };
        const std::vector<double> ya = solve(a), yb = solve(b);
        double t = 0.0;
        for (int32_t m = 0; m < p; ++m) t += ya[m] * yb[m];
        return 2.0 * t;
    }
    Dense k = zeros(n, n);
    for (int32_t i = 0; i < n; ++i) k[i][i] = 1.0;
    if (method == kMethodGls) k = expand(n, s.ctx.arrays.weightMatrix);
    if (method == kMethodMl) {
        Dense c = s.implied_reference();
        if (s.ctx.eval.diagFromData)
            for (int32_t i = 0; i < n; ++i) c[i][i] = s.ctx.arrays.momentMatrix[velix::pk_lower(i, i)];
        k = inverse(c);
    }
    const Dense m = multiply(multiply(k, expand(n, a.data())), multiply(k, expand(n, b.data())));
    double t = 0.0;
    for (int32_t i = 0; i < n; ++i) t += m[i][i];
    return t;
}

struct Case {
    const char* name;
    std::string (*program)(const char*);
    const char* method;
    int32_t code;
    bool diagonalFromData = false;
};

class Derivatives : public ::testing::TestWithParam<Case> {};

TEST_P(Derivatives, MatchCentralDifferences) {
    const Case& c = GetParam();
    EvalStep s(c.program(c.method), c.code);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.ctx.eval.diagFromData = c.diagonalFromData ? 1 : 0;
    const int32_t q = s.q(), p = s.ctx.sizes.nMoments;
    std::vector<double> gradient(static_cast<size_t>(q)),
        hessian(static_cast<size_t>(q * (q + 1) / 2));
    s.nlp.work.gradient = gradient.data();
    s.nlp.hess.hessian = hessian.data();
    s.perturb(7, 0.15);
    ASSERT_FALSE(std::isnan(s.objective())) << s.log.str();
    const Differences d = differences(s);
    const EvalView view = eval_view(&s.ctx);

    ASSERT_EQ(cosgrad(&s.nlp), 0);
    double scale = 1.0, worst = 0.0;
    for (double g : d.gradient) scale = std::max(scale, std::fabs(g));
    for (int32_t k = 0; k < q; ++k)
        worst = std::max(worst, std::fabs(gradient[k] - d.gradient[k]) / scale);
    EXPECT_LT(worst, 1e-6) << "gradient";

    ASSERT_EQ(cosjac1(&view), 0);
    worst = 0.0;
    for (int32_t k = 0; k < q; ++k)
        for (int32_t m = 0; m < p; ++m)
            worst = std::max(worst,
                             std::fabs(s.ctx.eval.jacobian[int64_t{k} * p + m] - d.jacobian[k][m]) /
                                 (1.0 + std::fabs(d.jacobian[k][m])));
    EXPECT_LT(worst, 1e-6) << "Jacobian";

    ASSERT_EQ(coscrpj(&s.nlp), 0);
    worst = 0.0;
    scale = 1.0;
    for (int32_t i = 0; i < q; ++i)
        scale = std::max(scale, std::fabs(hessian[velix::pk_lower(i, i)]));
    for (int32_t i = 0; i < q; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double expected = weighted_product(s, c.code, d.jacobian[i], d.jacobian[j]);
            worst = std::max(worst, std::fabs(hessian[velix::pk_lower(i, j)] - expected) / scale);
        }
    EXPECT_LT(worst, 1e-6) << "cross product";
    worst = 0.0;
    for (int32_t k = 0; k < q; ++k)
        worst = std::max(worst,
                         std::fabs(gradient[k] - d.gradient[k]) / (1.0 + std::fabs(d.gradient[k])));
    EXPECT_LT(worst, 1e-6) << "gradient of the cross-product call";
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndMethods, Derivatives,
    ::testing::Values(Case{"lineqs_ml", lineqs_program, "ml", kMethodMl},
                      Case{"ram_ml", ram_program, "ml", kMethodMl},
                      Case{"dependent_ml", dependent_program, "ml", kMethodMl},
                      Case{"dependent_wls", dependent_program, "wls", kMethodWls},
                      Case{"dependent_fdcode", dependent_program, "ml fdcode", kMethodMl},
                      Case{"factor_ml", factor_program, "ml", kMethodMl},
                      Case{"typed_ml", typed_program, "ml", kMethodMl},
                      Case{"cosan_uls", cosan_program, "uls", kMethodUls},
                      Case{"cosan_gls", cosan_program, "gls", kMethodGls},
                      Case{"cosan_ml", cosan_program, "ml", kMethodMl},
                      Case{"cosan_wls", cosan_program, "wls", kMethodWls},
                      Case{"cosan_dwls", cosan_program, "dwls", kMethodDwls},
                      // The diagonal of C taken from the data: its rows of J
                      // and of dF/dC vanish on every road.
                      Case{"diagonal_uls", cosan_program, "uls", kMethodUls, true},
                      Case{"diagonal_ml", cosan_program, "ml", kMethodMl, true},
                      Case{"diagonal_wls", cosan_program, "wls", kMethodWls, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The callbacks read what the objective left and write only their own
// arrays: objective, gradient, cross product in any order at one point
// give the same numbers, also when the cross product formed there is
// taken again after a gradient at another point.
TEST(Derivatives, AnyOrderOfCallsAtAPointGivesTheSameNumbers) {
    for (const auto& [method, code] :
         {std::pair{"ml", kMethodMl}, std::pair{"gls", kMethodGls}, std::pair{"wls", kMethodWls}}) {
        EvalStep s(cosan_program(method), code);
        ASSERT_TRUE(s.ready) << s.log.str();
        const int32_t q = s.q();
        std::vector<double> g1(static_cast<size_t>(q)), g2(g1), gh(g1), g3(g1), elsewhere(g1),
            h1(static_cast<size_t>(q * (q + 1) / 2)), h2(h1), h3(h1);
        const double f1 = s.objective();
        s.nlp.work.gradient = g1.data();
        ASSERT_EQ(cosgrad(&s.nlp), 0);
        s.nlp.hess.hessian = h1.data();
        s.nlp.work.gradient = gh.data();
        ASSERT_EQ(coscrpj(&s.nlp), 0);
        s.nlp.hess.hessian = h2.data();
        ASSERT_EQ(coscrpj(&s.nlp), 0);
        s.nlp.work.gradient = g2.data();
        ASSERT_EQ(cosgrad(&s.nlp), 0);
        const double x0 = s.nlp.param.x[0];
        s.nlp.param.x[0] = 1.01 * x0;
        s.objective();
        s.nlp.work.gradient = elsewhere.data();
        ASSERT_EQ(cosgrad(&s.nlp), 0);
        s.nlp.param.x[0] = x0;
        ASSERT_EQ(s.objective(), f1) << method;
        s.nlp.hess.hessian = h3.data();
        s.nlp.work.gradient = g3.data();
        ASSERT_EQ(coscrpj(&s.nlp), 0);
        EXPECT_NE(elsewhere, g1) << method;
        EXPECT_EQ(h1, h2) << method;
        EXPECT_EQ(h1, h3) << method;
        EXPECT_EQ(g3, gh) << method;
        EXPECT_EQ(g1, g2) << method;
        EXPECT_EQ(s.objective(), f1) << method;
        for (int32_t k = 0; k < q; ++k)
            EXPECT_NEAR(gh[k], g1[k], 1e-12 * (1.0 + std::fabs(g1[k]))) << method;
    }
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// Fisher scoring with the callbacks alone (x := x - t H^-1 g, H the cross
// product, t halved until F decreases) reaches the reference minimum of the
// ability model from the start values: the gradient vanishes where F is
// smallest, and H is the information of the ML discrepancy.
TEST(Derivatives, FisherScoringReachesTheReferenceMinimum) {
    EvalStep s(ability_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const int32_t q = s.q();
    std::vector<double> g(static_cast<size_t>(q)), h(static_cast<size_t>(q * (q + 1) / 2)), d(g);
    s.nlp.work.gradient = g.data();
    s.nlp.hess.hessian = h.data();
    double f = s.objective();
    ASSERT_FALSE(std::isnan(f));
    for (int iteration = 0; iteration < 100; ++iteration) {
        ASSERT_EQ(coscrpj(&s.nlp), 0);
        const Dense inv = inverse(expand(q, h.data()));
        for (int32_t k = 0; k < q; ++k) {
            d[k] = 0.0;
            for (int32_t l = 0; l < q; ++l) d[k] += inv[k][l] * g[l];
        }
        const std::vector<double> x0 = s.x();
        double t = 1.0, fNew = NAN;
        for (int halving = 0; halving < 40; ++halving, t *= 0.5) {
            std::vector<double> x = x0;
            for (int32_t k = 0; k < q; ++k) x[k] -= t * d[k];
            s.set_x(x);
            fNew = s.objective();
            if (!std::isnan(fNew) && fNew <= f) break;
        }
        ASSERT_FALSE(std::isnan(fNew)) << "iteration " << iteration;
        const bool done = f - fNew < 1e-15;
        f = fNew;
        if (done) break;
    }
    EXPECT_NEAR(f, 0.222592451063, 1e-9);
    for (const ReferenceEstimate& r : kAbilityReference)
        EXPECT_NEAR(s.nlp.param.x[parameter_index(s, r.name)], r.est, 1e-5 * std::fabs(r.est)) << r.name;
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// FD= and FDHESSIAN= hand the derivatives over to the optimizer's finite
// differences: a forward-difference gradient close to the analytic one, and
// the Hessian callback's differences of the analytic gradient.
TEST(Derivatives, FiniteDifferenceOptionsHandOverToTheOptimizer) {
    EvalStep s(cosan_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const int32_t q = s.q();
    std::vector<double> g(static_cast<size_t>(q)), fd(g), h(static_cast<size_t>(q * (q + 1) / 2));
    s.nlp.hess.hessian = h.data();
    s.objective();
    s.nlp.work.gradient = g.data();
    ASSERT_EQ(cosgrad(&s.nlp), 0);
    s.nlp.work.gradient = fd.data();
    s.nlp.opt.derivDigits = 1;
    ASSERT_EQ(cosgrad(&s.nlp), 0);
    double scale = 1.0;
    for (double x : g) scale = std::max(scale, std::fabs(x));
    for (int32_t k = 0; k < q; ++k) EXPECT_NEAR(fd[k], g[k], 1e-5 * scale) << k;

    // The Hessian from central differences of the analytic gradient.
    s.nlp.opt.derivDigits = 0;
    s.nlp.work.gradient = g.data();
    ASSERT_EQ(coshess(&s.nlp), 0);
    const std::vector<double> x0 = s.x();
    std::vector<double> gp(g), gm(g);
    double worst = 0.0, hscale = 1.0;
    for (int32_t i = 0; i < q; ++i) hscale = std::max(hscale, std::fabs(h[velix::pk_lower(i, i)]));
    for (int32_t j = 0; j < q; ++j) {
        const double step = 1e-5 * (1.0 + std::fabs(x0[j]));
        for (const auto& [sign, out] : {std::pair{1.0, &gp}, std::pair{-1.0, &gm}}) {
            std::vector<double> x = x0;
            x[j] += sign * step;
            s.set_x(x);
            s.objective();
            s.nlp.work.gradient = out->data();
            ASSERT_EQ(cosgrad(&s.nlp), 0);
        }
        for (int32_t i = j; i < q; ++i)
            worst = std::max(
                worst, std::fabs(h[velix::pk_lower(i, j)] - (gp[i] - gm[i]) / (2 * step)) / hscale);
    }
    EXPECT_LT(worst, 1e-4);
}

}  // namespace
}  // namespace velix::testing
