// The implied moments of all variables of a LINEQS model against the
// evaluation's implied moments of the manifest ones, the parameter places
// and t values of the vector tables, and the standardized tables of the
// printer on a model with a structural path.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../evaluation/evaluation_fixture.h"
#include "procedure/proc_options.h"
#include "procedure/results/results.h"

namespace velix::testing {
namespace {

// Two factors with a path between them; l2 stands in two equations.
const char* const kProgram =
    "proc velix data=hs method=ml covariance;\n"
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l2 F1 + E3,\n"
    "       x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6, F2 = b F1 + D2;\n"
    "std F1 = vf, E1-E6 = ve1-ve6, D2 = vd;\n";

// The last output item of the step with the name; null when none.
const velix::platform::OutItem* last_item(const std::string& name) {
    const velix::platform::OutItem* found = nullptr;
    for (const auto& it : velix::platform::current_step().items)
        if (it.name == name) found = &it;
    return found;
}

struct ImpliedAll {
    std::vector<double> cov, t, endoVar, exoVar;
    bool ok = false;
    explicit ImpliedAll(ProcContext* ctx) {
        const size_t nAll = static_cast<size_t>(ctx->model.rows[2]), nExo = static_cast<size_t>(ctx->model.rows[4]);
        cov.resize(nAll * (nAll + 1) / 2);
        t.resize(nAll * nExo);
        endoVar.resize(nAll - nExo);
        exoVar.resize(nExo);
        ok = getvar(results_view(ctx), cov.data(), t.data(), endoVar.data(), exoVar.data());
    }
};

// At a point away from the start, S Cov S' (S the selection of the
// manifest variables) is the implied matrix of the evaluation, and the
// implied variance of F2 is b^2 vf + vd.
TEST(EquationResults, ImpliedMomentsOfAllVariablesContainTheModelMoments) {
    EvalStep s(kProgram, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.perturb(7, 0.2);
    ASSERT_FALSE(std::isnan(s.objective()));
    const ImpliedAll all(&s.ctx);
    ASSERT_TRUE(all.ok);
    double worst = 0.0;
    for (int32_t i = 0; i < s.ctx.sizes.nManifest; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const int32_t a = s.ctx.readers.varPosition[i], b = s.ctx.readers.varPosition[j];
            worst = std::max(worst, std::fabs(all.cov[velix::pk(a, b)] - s.ctx.eval.implied[velix::pk_lower(i, j)]));
        }
    EXPECT_LT(worst, 1e-12);
    const auto x = [&](const char* name) { return s.nlp.x[parameter_index(s, name)]; };
    const std::vector<std::string> names = s.column_names();
    const size_t f2 = static_cast<size_t>(std::find(names.begin(), names.end(), "F2") - names.begin());
    ASSERT_LT(f2, all.endoVar.size());
    EXPECT_NEAR(all.endoVar[f2], x("b") * x("b") * x("vf") + x("vd"), 1e-12);
}

// The vector tables list each parameter's places ("l2" in two equations)
// and give no t value where the standard error is 0 or missing.
TEST(EquationResults, ParameterVectorTables) {
    EvalStep s(kProgram, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.ctx.options.printFlags |= kPrintPestim;
    const size_t l2 = parameter_index(s, "l2"), b = parameter_index(s, "b");
    std::vector<double> se(static_cast<size_t>(s.ctx.sizes.nParmAll), 0.5);
    se[l2] = 0.0;
    se[b] = host_missing_value();
    s.nlp.stdErrors = se.data();
    cosvout(&s.ctx, kVectorEstimates);
    cosvout(&s.ctx, kVectorTValues);
    s.nlp.stdErrors = nullptr;
    const velix::platform::OutItem* estimates = last_item("Estimates");
    const velix::platform::OutItem* tValues = last_item("tValues");
    ASSERT_NE(estimates, nullptr);
    ASSERT_NE(tValues, nullptr);
    const std::string type = estimates->rows[l2][3].text;
    EXPECT_NE(type.find("_GAMMA_[2:"), std::string::npos) << type;
    EXPECT_NE(type.find("_GAMMA_[3:"), std::string::npos) << type;
    EXPECT_TRUE(host_is_missing(tValues->rows[l2][2].real));
    EXPECT_TRUE(host_is_missing(tValues->rows[b][2].real));
    const size_t vf = parameter_index(s, "vf");
    EXPECT_DOUBLE_EQ(tValues->rows[vf][2].real, s.nlp.x[vf] / 0.5);
}

// The standardized solution of the printer: an equation's coefficients are
// its estimates times the standard deviation of the cause over that of the
// effect, and R^2 = 1 - error variance / implied variance.
TEST(EquationResults, StandardizedTablesFollowTheImpliedVariances) {
    EvalStep s(kProgram, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    ASSERT_FALSE(std::isnan(s.objective()));
    cospeqs(&s.ctx, 3);
    const velix::platform::OutItem* latent = last_item("StdLatentEq");
    const velix::platform::OutItem* smc = last_item("SqMultCorr");
    ASSERT_NE(latent, nullptr);
    ASSERT_NE(smc, nullptr);
    const auto x = [&](const char* name) { return s.nlp.x[parameter_index(s, name)]; };
    const double v2 = x("b") * x("b") * x("vf") + x("vd");
    EXPECT_NEAR(latent->rows[0][3].real, x("b") * std::sqrt(x("vf") / v2), 1e-12);
    const auto& last = smc->rows.back();  // F2, the last endogenous variable
    EXPECT_NEAR(last[3].real, v2, 1e-12);
    EXPECT_NEAR(last[4].real, 1.0 - x("vd") / v2, 1e-12);
}

}  // namespace
}  // namespace velix::testing
