// Standard errors from the information matrix: the ability model at the
// reference estimates of an independent package, and a saturated model of
// two variables whose standard errors have a closed form by ML and by WLS.
#include "procedure/evaluation/information.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/fixtures.h"

#include "evaluation_fixture.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/jacobian_pattern.h"
#include "platform/dataset.h"

namespace velix::testing {
namespace {

// Runs cosicrp at the current x; standard errors by parameter name.
std::vector<double> standard_errors(EvalStep& s, std::vector<double>* hessian) {
    const int32_t q = s.q();
    hessian->assign(static_cast<size_t>(q * (q + 1) / 2), 0.0);
    std::vector<double> se(static_cast<size_t>(s.ctx.sizes.nParmAll), -1.0);
    s.nlp.hess.hessian = hessian->data();
    s.nlp.work.stdErrors = se.data();
    EXPECT_EQ(cosicrp(&s.nlp), 0);
    EXPECT_EQ(s.ctx.eval.covStatus, 1);
    return se;
}

// The saturated model C = (c11; c21 c22) of x1 and x2 by a method.
std::string saturated_program(const std::string& method) {
    return "proc velix data=hs method=" + method +
           " covariance;\nvar x1 x2;\ncosan C(2, SYM);\nmatrix C [1, ] = c11, [2, ] = c21 c22;\nrun;\n";
}

// Standard errors of the saturated model at its solution C = S.
std::vector<double> saturated_standard_errors(EvalStep& s) {
    const double* S = s.ctx.arrays.momentMatrix;
    for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e)
        s.nlp.param.x[s.ctx.elements.parameter[e] - 1] = S[velix::pk(s.ctx.elements.row[e], s.ctx.elements.column[e])];
    std::vector<double> hessian;
    return standard_errors(s, &hessian);
}

// The cross product the optimizer formed last, a little away from the
// reference estimates, is not the information there: it is formed again.
TEST(Information, StandardErrorsOfTheAbilityModelMatchTheReference) {
    EvalStep s(ability_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    std::vector<double> hessian(static_cast<size_t>(s.q() * (s.q() + 1) / 2)), g(static_cast<size_t>(s.q()));
    s.nlp.hess.hessian = hessian.data();
    s.nlp.work.gradient = g.data();
    for (const ReferenceEstimate& r : kAbilityReference)
        s.nlp.param.x[parameter_index(s, r.name)] = 1.1 * r.est;
    s.ctx.eval.jacobianMode = 1;
    ASSERT_FALSE(std::isnan(s.objective()));
    ASSERT_EQ(coscrpj(&s.nlp), 0);
    for (const ReferenceEstimate& r : kAbilityReference)
        s.nlp.param.x[parameter_index(s, r.name)] = r.est;
    const std::vector<double> se = standard_errors(s, &hessian);
    for (const ReferenceEstimate& r : kAbilityReference)
        EXPECT_NEAR(se[parameter_index(s, r.name)], r.se, 1e-6 * r.se) << r.name;

    // The optimizer's covariance code may leave its inverse of the
    // information, which it took in the cross product's own array, in the
    // covariance buffer: it stands for the matrix that array holds while
    // the array keeps the tag it had then, not for one formed there since.
    // A kept inverse four times the direct one shows which was used.
    const int64_t packed = s.q() * (s.q() + 1) / 2;
    const std::vector<double> direct(s.ctx.eval.covariance, s.ctx.eval.covariance + packed);
    // The optimizer takes K1 from the cross-product callback at the point.
    ASSERT_EQ(coscrpj(&s.nlp), 0);
    for (const bool same : {true, false}) {
        for (int64_t k = 0; k < packed; ++k) s.ctx.eval.covariance[k] = 4.0 * direct[static_cast<size_t>(k)];
        s.hooks.result.inverseBuffer = s.ctx.eval.covariance;
        s.hooks.result.crossProductBuffer = s.ctx.eval.cross;
        s.hooks.result.inverseTag = s.hooks.result.crossProductTag - (same ? 0 : 1);
        const std::vector<double> kept = standard_errors(s, &hessian);
        for (const ReferenceEstimate& r : kAbilityReference) {
            const size_t k = parameter_index(s, r.name);
            EXPECT_NEAR(kept[k], (same ? 2.0 : 1.0) * se[k], 1e-12 * se[k]) << r.name << (same ? "" : " (differs)");
        }
    }
}

// Saturated model of two variables at C = S: the standard errors of the
// variances are sqrt(2 s_ii^2 / (N-1)), that of the covariance
// sqrt((s_11 s_22 + s_21^2) / (N-1)) (the Wishart moments of S).
TEST(Information, SaturatedModelHasTheTextbookStandardErrors) {
    EvalStep s(saturated_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const std::vector<double> se = saturated_standard_errors(s);
    const double* S = s.ctx.arrays.momentMatrix;
    const double n1 = s.ctx.moments.divisor;
    const auto names = s.parameters();
    for (size_t p = 0; p < names.size(); ++p) {
        const double expected = names[p] == "c11"   ? std::sqrt(2.0 * S[0] * S[0] / n1)
                                : names[p] == "c22" ? std::sqrt(2.0 * S[2] * S[2] / n1)
                                                    : std::sqrt((S[0] * S[2] + S[1] * S[1]) / n1);
        EXPECT_NEAR(se[p], expected, 1e-10 * expected) << names[p];
    }
}

// The same model by WLS with the fourth-moment weights (ASYCOV=BIASED): the
// Jacobian is the identity, so the covariance is Gamma/(N-1) with Gamma of
// the raw data, Gamma_(ij)(ij) = mean((x_i - m_i)^2 (x_j - m_j)^2) -
// s_ij^2 (moments with divisor N; Browne 1984, eq. 2.12 and 3.1), computed
// here from the file.
TEST(Information, SaturatedWlsModelHasTheFourthMomentStandardErrors) {
    EvalStep s(saturated_program("wls asycov=biased"), kMethodWls);
    ASSERT_TRUE(s.ready) << s.log.str();
    std::vector<double> x1, x2;
    std::ifstream in(velix::test::fixture_path("hs.csv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        double a = 0.0, b = 0.0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf", &a, &b), 2);
        x1.push_back(a);
        x2.push_back(b);
    }
    const double n = static_cast<double>(x1.size());
    auto mean = [&](auto f) {
        double t = 0.0;
        for (size_t i = 0; i < x1.size(); ++i) t += f(i);
        return t / n;
    };
    const double m1 = mean([&](size_t i) { return x1[i]; }), m2 = mean([&](size_t i) { return x2[i]; });
    auto moment = [&](int a, int b) {  // mean of (x1 - m1)^a (x2 - m2)^b
        return mean([&](size_t i) { return std::pow(x1[i] - m1, a) * std::pow(x2[i] - m2, b); });
    };
    const double gamma11 = moment(4, 0) - std::pow(moment(2, 0), 2);
    const double gamma21 = moment(2, 2) - std::pow(moment(1, 1), 2);
    const double gamma22 = moment(0, 4) - std::pow(moment(0, 2), 2);
    const std::vector<double> se = saturated_standard_errors(s);
    const double n1 = n - 1.0;
    const auto names = s.parameters();
    for (size_t p = 0; p < names.size(); ++p) {
        const double g = names[p] == "c11" ? gamma11 : names[p] == "c22" ? gamma22 : gamma21;
        EXPECT_NEAR(se[p], std::sqrt(g / n1), 1e-8 * std::sqrt(g / n1)) << names[p];
    }
}

// A dependent parameter l3 = l2^2 has the delta-method standard error
// 2 |l2| se(l2), and so has q3 = l2^2, which no model element carries.
TEST(Information, DependentParameterByTheDeltaMethod) {
    std::string program = dependent_program("ml");
    program.insert(program.rfind("run;"), "parameters q3;\nq3 = l2 * l2;\n");
    EvalStep s(program, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const size_t l2 = parameter_index(s, "l2"), l3 = parameter_index(s, "l3"), q3 = parameter_index(s, "q3");
    ASSERT_GE(l3, static_cast<size_t>(s.q())) << "l3 is dependent";
    std::vector<double> hessian;
    const std::vector<double> se = standard_errors(s, &hessian);
    EXPECT_NEAR(se[l3], 2.0 * std::fabs(s.nlp.param.x[l2]) * se[l2], 1e-12 * se[l3]);
    EXPECT_NEAR(se[q3], se[l3], 1e-12 * se[l3]);

    // From a saved diagonal covariance C_kk = k + 1 (the directory word at
    // byte 44 points to its record): sqrt(sum of g_k^2 C_kk) = 2 |l2|
    // sqrt(C_l2), whatever the off-diagonal entries a packed read would take.
    s.hooks.cov.depStdErr = 1;
    s.hooks.cov.covStorage = 2;
    const int32_t at = 80;
    ASSERT_EQ(xcpoint(s.hooks.cov.utilityFile, 44), 0);
    ASSERT_EQ(xcwrite(s.hooks.cov.utilityFile, &at, 4), 0);
    DeterminantRecord summary;
    std::vector<double> diagonal(static_cast<size_t>(s.q()));
    for (size_t k = 0; k < diagonal.size(); ++k) diagonal[k] = static_cast<double>(k + 1);
    velix::detail::file_put(s.hooks.cov.utilityFile, at, &summary.mantissa, sizeof summary / 8);
    velix::detail::file_put(s.hooks.cov.utilityFile, at + static_cast<int64_t>(sizeof summary),
                            diagonal.data(), s.q());
    const std::vector<double> saved = standard_errors(s, &hessian);
    EXPECT_NEAR(saved[l3], 2.0 * std::fabs(s.nlp.param.x[l2]) * std::sqrt(l2 + 1.0), 1e-12 * saved[l3]);
    EXPECT_NEAR(saved[q3], saved[l3], 1e-12 * saved[l3]);
}

// PCRPJAC shows the information matrix as the "Information" table, labelled
// by the parameter names.
TEST(Information, InformationTableOnRequest) {
    EvalStep s(ability_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.hooks.cov.printCrossProduct = 1;
    s.ctx.options.printEnabled = 1;
    std::vector<double> hessian;
    standard_errors(s, &hessian);
    const auto& items = velix::platform::current_step().items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [](const auto& i) { return i.name == "Information"; });
    ASSERT_NE(it, items.end());
    EXPECT_EQ(it->path, "Tesk.Velix.Information");
    EXPECT_EQ(it->nRows, s.q());
    EXPECT_EQ(it->nColumns, s.q());
    ASSERT_EQ(it->rowLabels.size(), static_cast<size_t>(s.q()));
    EXPECT_EQ(it->rowLabels[0].substr(0, 2), s.parameters()[0].substr(0, 2));
}

// METHOD=NONE gives no information matrix.
TEST(Information, NoneForMethodNone) {
    EvalStep s(factor_program("none"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    EXPECT_EQ(cosicrp(&s.nlp), 1);
    EXPECT_EQ(s.ctx.eval.covStatus, 0);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The OUTEST= rows: INFORMAT rows of the information matrix and, on
// request, JACOBIAN rows of the plain Jacobian of the moments, the same
// from memory, the term-wise records, the column file and the sparse form.
TEST(Information, OutestRows) {
    const std::string path = std::string(VELIX_BINARY_DIR) + "/information_outest_" +
                             std::to_string(::getpid()) + ".csv";
    std::string program = ability_program();
    program.insert(program.find(" covariance;"), " outest='" + path + "'");
    std::vector<std::string> firstRows;
    for (const int32_t mode : {1, 2, 3, 11}) {
        int32_t q = 0, pstar = 0;
        std::vector<double> hessian;
        {
            EvalStep s(program, kMethodMl);
            ASSERT_TRUE(s.ready) << s.log.str();
            s.hooks.cov.outestJacobian = 1;
            for (const ReferenceEstimate& r : kAbilityReference)
                s.nlp.param.x[parameter_index(s, r.name)] = r.est;
            const EvalView v = eval_view(&s.ctx);
            if (mode == 11) {
                ASSERT_EQ(cosjamv(&v, 0), 0);
            }
            s.ctx.eval.jacobianMode = mode;
            standard_errors(s, &hessian);
            q = s.q();
            pstar = s.ctx.sizes.nMoments;
            // The host puts the output data sets in place at the step's end.
            EXPECT_TRUE(velix::platform::dataset_commit_outputs(0));
        }
        std::ifstream in(path);
        std::vector<std::string> jacobianRows;
        int32_t informationRows = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("JACOBIAN,ML,", 0) == 0) jacobianRows.push_back(line);
            informationRows += line.rfind("INFORMAT,", 0) == 0;
        }
        EXPECT_EQ(jacobianRows.size(), static_cast<size_t>(pstar));
        EXPECT_EQ(informationRows, q);
        if (mode == 1) firstRows = jacobianRows;
        EXPECT_EQ(jacobianRows, firstRows) << "mode " << mode;
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// A factor whose loadings and variance are all free is not identified: the
// information matrix is singular, the dependency is listed and the
// covariance is a generalized inverse G with H G H = H.
TEST(Information, SingularInformationGivesAGeneralizedInverse) {
    EvalStep s(
        "proc velix data=ability method=ml covariance;\n"
        "cosan F(1, GEN) * P(1, SYM) + U(6, DIA);\n"
        "matrix F [ , 1] = f1-f6 (3 1 5 2 4 6);\nmatrix P [1, 1] = phi (2);\n"
        "matrix U [1, 1] = u1-u6 (10 5 60 10 10 30);\nrun;\n",
        kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const int32_t q = s.q();
    std::vector<double> hessian(static_cast<size_t>(q * (q + 1) / 2)),
        se(static_cast<size_t>(s.ctx.sizes.nParmAll));
    s.nlp.hess.hessian = hessian.data();
    s.nlp.work.stdErrors = se.data();
    s.hooks.cov.covSingRel = 1e-10;  // MSINGULAR: relative to the largest diagonal
    ASSERT_EQ(cosicrp(&s.nlp), 0);
    EXPECT_EQ(s.ctx.eval.covStatus, 2);
    const Dense h = expand(q, s.ctx.eval.cross), g = expand(q, s.ctx.eval.covariance);
    const Dense hgh = multiply(multiply(h, g), h);
    double worst = 0.0, scale = 0.0;
    for (int32_t i = 0; i < q; ++i)
        for (int32_t j = 0; j < q; ++j) {
            worst = std::max(worst, std::fabs(hgh[i][j] - h[i][j]));
            scale = std::max(scale, std::fabs(h[i][j]));
        }
    EXPECT_LT(worst, 1e-8 * scale);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// An information matrix that is not finite (l3 = sqrt(l2) at l2 = 0: an
// infinite derivative) has neither an inverse nor a generalized inverse:
// no covariance, the warning 54, and the dependencies listed twice, once
// after each failed inversion.
TEST(Information, AFailedGeneralizedInverseListsTheDependenciesAgain) {
    std::string text = ram_program("ml");
    EvalStep s(text.insert(text.rfind("run;"), "l3 = sqrt(l2);\n"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.nlp.param.x[parameter_index(s, "l2")] = 0.0;
    const int32_t q = s.q();
    std::vector<double> hessian(static_cast<size_t>(q * (q + 1) / 2)), se(static_cast<size_t>(s.ctx.sizes.nParmAll));
    s.nlp.hess.hessian = hessian.data();
    s.nlp.work.stdErrors = se.data();
    s.ctx.options.printEnabled = 1;
    const auto& items = velix::platform::current_step().items;
    const auto lindep = [&] { return std::count_if(items.begin(), items.end(), [](const auto& i) { return i.name == "LinDep"; }); };
    const auto before = lindep();  // the tests of one process share the step
    const size_t mark = messages_now();
    EXPECT_EQ(cosicrp(&s.nlp), 0);
    EXPECT_EQ(s.ctx.eval.covStatus, 3);
    EXPECT_EQ(messages_since(mark), std::vector<int32_t>{54});
    EXPECT_EQ(lindep() - before, 2);
}

}  // namespace
}  // namespace velix::testing
