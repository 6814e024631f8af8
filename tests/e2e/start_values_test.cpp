// Start values as users meet them.  Growth curves with means (AUGMENT)
// fitted from the default start values reach lavaan's fit: linear and
// quadratic curves, with and without covariates, on data far from their
// origin as given (Orthodont, mean distance about 24; Demo.growth, and the
// same with 20 added to every variable), and a COSAN model of reverse-keyed
// items under every method, and its FACTOR form.  A start value the statements give
// to the exogenous block is the start under WLS, which estimates the block:
// at lavaan's WLS estimates the chi-square is lavaan's; a WLS fit started
// from an ML run's OUTEST= reaches lavaan's WLS minimum where the default
// start ends at a local one.  Reference numbers:
// start_values_reference.R beside this file (lavaan 0.6.14), written to
// tests/fixtures/start_values_reference.csv.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

// At the default stopping criteria the chi-squares agree to about 1e-8 and
// the means and the other estimates to a few 1e-5 (relative).
constexpr double kChiSquareTol = 1e-6, kMeanTol = 1e-4;

std::map<std::string, double> reference(const std::string& name) {
    return reference_rows("start_values_reference.csv", name);
}

void expect_relative(double got, double want, double tol, const std::string& what) {
    EXPECT_NEAR(got, want, tol * std::fmax(1.0, std::fabs(want))) << what;
}

// The equations of a growth curve over four occasions y, with the latent
// intercept and slope (and quadratic term) and their means; `covariates`
// predict the intercept and the slope.
std::string growth_curve(const std::vector<std::string>& y, bool quadratic, const std::string& covariates) {
    std::string s = "lineqs ";
    for (int t = 0; t < 4; ++t) {
        s += y[static_cast<size_t>(t)] + " = 1.0 Fi";
        if (t > 0) s += " + " + std::to_string(t) + ".0 Fs";
        if (t > 0 && quadratic) s += " + " + std::to_string(t * t) + ".0 Fq";
        s += " + E" + std::to_string(t + 1) + ",\n       ";
    }
    std::string bi, bs;
    int k = 0;
    for (size_t at = 0; at < covariates.size();) {
        const size_t end = std::min(covariates.find(' ', at), covariates.size());
        const std::string x = covariates.substr(at, end - at);
        ++k;
        bi += " + b" + std::to_string(k) + " " + x;
        bs += " + c" + std::to_string(k) + " " + x;
        at = end + 1;
    }
    s += "Fi = mi Intercept" + bi + " + DFi, Fs = ms Intercept" + bs + " + DFs";
    if (quadratic) s += ", Fq = mq Intercept + DFq";
    s += ";\nstd E1-E4 = ve1-ve4, DFi DFs = vi vs";
    if (quadratic) s += ", DFq = vq";
    s += ";\ncov DFi DFs = cis";
    // lavaan's growth() leaves the quadratic term of a curve with
    // covariates uncorrelated with the other two, which are endogenous.
    if (quadratic && covariates.empty()) s += ", DFq DFi = ciq, DFq DFs = csq";
    return s + ";\nrun;\n";
}

TEST(StartValues, GrowthCurvesWithMeansReachTheFitFromTheDefaultStart) {
    const std::vector<std::string> t = {"t1", "t2", "t3", "t4"}, d = {"d8", "d10", "d12", "d14"};
    struct Case {
        std::string name, data, vars, model;
    };
    std::vector<Case> cases;
    for (const std::string data : {"demo_growth", "demo_growth_plus20"}) {
        const std::string prefix = data == "demo_growth" ? "growth" : "growth20";
        cases.push_back({prefix + "_linear", data, "t1-t4", growth_curve(t, false, "")});
        cases.push_back({prefix + "_linear_x", data, "t1-t4 x1 x2", growth_curve(t, false, "x1 x2")});
        cases.push_back({prefix + "_quadratic", data, "t1-t4", growth_curve(t, true, "")});
        cases.push_back({prefix + "_quadratic_x", data, "t1-t4 x1 x2", growth_curve(t, true, "x1 x2")});
    }
    cases.push_back({"orthodont_linear", "orthodont", "d8 d10 d12 d14", growth_curve(d, false, "")});
    cases.push_back({"orthodont_linear_x", "orthodont", "d8 d10 d12 d14 male", growth_curve(d, false, "male")});
    cases.push_back({"orthodont_quadratic", "orthodont", "d8 d10 d12 d14", growth_curve(d, true, "")});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = run_velix("proc velix data=" + c.data + " method=ml covariance augment;\nvar " + c.vars +
                                     ";\n" + c.model,
                                 {c.data + ".csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const auto ref = reference(c.name);
        const auto fit = factoid_values(*r.items(0, "factoid", "Fit").at(0));
        expect_relative(fit.at("Chi-Square"), ref.at("chisq"), kChiSquareTol, "chi-square");
        EXPECT_EQ(fit.at("Chi-Square DF"), ref.at("df"));
        const auto estimates = column_by_parameter(result_table(r), "Estimate");
        expect_relative(estimates.at("mi"), ref.at("mi"), kMeanTol, "mi");
        expect_relative(estimates.at("ms"), ref.at("ms"), kMeanTol, "ms");
    }
}

// Latent means given as covariances with the constant (cov Fi Intercept =
// mi): the implied means start at the least-squares ones from the sample
// means, so each covariance starts at its mean times the constant's own
// moment N / (N - 1) (start_values_reference.R, case growth_constant_cov).
TEST(StartValues, LatentMeansGivenAsCovariancesWithTheConstantStartAtTheSampleMeans) {
    const auto ref = reference("growth_constant_cov");
    const auto r = run_velix(
        "proc velix data=demo_growth method=ml covariance augment technique=none;\nvar t1-t4;\n"
        "lineqs t1 = 1.0 Fi + E1, t2 = 1.0 Fi + 1.0 Fs + E2, t3 = 1.0 Fi + 2.0 Fs + E3, t4 = 1.0 Fi + 3.0 Fs + E4;\n"
        "std E1-E4 = ve1-ve4, Fi Fs = vi vs;\ncov Fi Fs = cis, Fi Intercept = mi, Fs Intercept = ms;\nrun;\n",
        {"demo_growth.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto estimates = column_by_parameter(result_table(r), "Estimate");
    expect_relative(estimates.at("mi"), ref.at("mi"), 1e-12, "mi");
    expect_relative(estimates.at("ms"), ref.at("ms"), 1e-12, "ms");
}

// Two factors of ten bfi items, whose first marker (a1) is reverse-keyed
// against the other four items and whose second (c1) against c4 and c5,
// with every parameter left to the default start.  As a COSAN model each
// method, alone and after a ULS stage, reaches lavaan's minimum, and so
// does the FACTOR form: F (the chi-square over N - 1 where the method has
// one) and every estimate.  The default COSAN loadings take the sign of
// their indicator's covariance with the marker (all at +0.5, the
// least-squares methods ran off, the first factor's variance to minus
// infinity); the FACTOR start's composites take each indicator with that
// sign (unit-weighted, a1 cancelled the others, and even ML ran off).
TEST(StartValues, AModelOfReverseKeyedItemsReachesTheMinimumFromTheDefaultStart) {
    const std::string cosan =
        "cosan F(2, GEN) * P(2, SYM) + U(10, SYM);\nmatrix F [ , 1] = 1.0 l2-l5, [ , 2] = 0 0 0 0 0 1.0 l7-l10;\n"
        "matrix P [1, 1] = va vc, [2, 1] = cac;\nmatrix U [1, 1] = ve1-ve10;\nrun;\n";
    const std::string factor =
        "factor n=2;\nmatrix _F_ [ , 1] = 1.0 l2-l5, [ , 2] = 0 0 0 0 0 1.0 l7-l10;\n"
        "matrix _P_ [1, 1] = va vc, [2, 1] = cac;\nmatrix _U_ [1, 1] = ve1-ve10;\nrun;\n";
    const struct {
        const char *method, *reference;
        const std::string& model;
    } cases[] = {{"uls", "bfi_uls", cosan},     {"gls", "bfi_gls", cosan},     {"ml", "bfi_ml", cosan},
                 {"wls", "bfi_wls", cosan},     {"dwls", "bfi_dwls", cosan},   {"lsgls", "bfi_gls", cosan},
                 {"lsml", "bfi_ml", cosan},     {"lswls", "bfi_wls", cosan},   {"lsdwls", "bfi_dwls", cosan},
                 {"ml", "bfi_ml", factor}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.model.substr(0, c.model.find(' ')));
        const auto r = run_velix(std::string("proc velix data=bfi_ac covariance method=") + c.method + ";\n" + c.model,
                                 {"bfi_ac.csv"});
        EXPECT_EQ(r.return_code(), 0) << r.log;
        if (r.return_code() != 0) continue;
        const auto ref = reference(c.reference);
        expect_relative(final_f(r), ref.at("F"), kChiSquareTol, "F");
        const auto estimates = column_by_parameter(result_table(r), "Estimate");
        for (const auto& [name, value] : ref)
            if (name != "F") expect_relative(estimates.at(name), value, kMeanTol, name);
    }
}

// A start point the objective cannot be evaluated at (a covariance of the
// latent intercept and slope far beyond their variances, which leaves the
// implied moments indefinite) says what to do about it.
TEST(StartValues, AStartPointWithoutAnObjectiveNamesTheStartValues) {
    std::string model = growth_curve({"d8", "d10", "d12", "d14"}, false, "");
    model.replace(model.find("vi vs;"), 6, "vi (1) vs (1);");
    model.replace(model.find("= cis"), 5, "= cis (1e4)");
    const auto r = run_velix("proc velix data=orthodont method=ml covariance augment;\nvar d8 d10 d12 d14;\n" + model,
                             {"orthodont.csv"});
    EXPECT_EQ(r.return_code(), 108) << r.log;
    EXPECT_NE(r.log.find("give start values nearer to it in parentheses after the parameter names"),
              std::string::npos)
        << r.log;
}

// lavaan's WLS estimates of a path model whose exogenous block WLS
// estimates, given as start values with TECHNIQUE=NONE: the fit is
// evaluated where the statements start it, so its chi-square is lavaan's.
TEST(StartValues, StartValuesOfTheExogenousBlockAreTheStartUnderWls) {
    const auto ref = reference("burns_wls");
    auto v = [&](const char* key) {
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", ref.at(key));
        return std::string(" (") + text + ")";
    };
    const std::string program =
        "proc velix data=facialburns method=wls covariance technique=none;\n"
        "var Selfesteem HADS Age TBSA RUM;\n"
        "lineqs HADS = b1" + v("HADS~Age") + " Age + b2" + v("HADS~TBSA") + " TBSA + b3" + v("HADS~RUM") +
        " RUM + E1,\n  Selfesteem = c1" + v("Selfesteem~HADS") + " HADS + c2" + v("Selfesteem~Age") +
        " Age + c3" + v("Selfesteem~TBSA") + " TBSA + E2;\n"
        "std E1 = ve1" + v("HADS~~HADS") + ", E2 = ve2" + v("Selfesteem~~Selfesteem") + ", Age = vA" +
        v("Age~~Age") + ", TBSA = vT" + v("TBSA~~TBSA") + ", RUM = vR" + v("RUM~~RUM") + ";\n"
        "cov Age TBSA = cAT" + v("Age~~TBSA") + ", Age RUM = cAR" + v("Age~~RUM") + ", TBSA RUM = cTR" +
        v("TBSA~~RUM") + ";\nrun;\n";
    const auto r = run_velix(program, {"facialburns.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto fit = factoid_values(*r.items(0, "factoid", "Fit").at(0));
    expect_relative(fit.at("Chi-Square"), ref.at("chisq"), 1e-7, "chi-square at lavaan's estimates");
}

// The iris path model SL on PL and PW, SW on PW and SL by WLS ends at a
// local minimum from the default start (chi-square 53.5591).  An ML run's
// OUTEST= as INEST= starts it at the ML solution, which carries no
// parameters for the exogenous block (ML keeps it at the sample values):
// the block starts at the sample values, and WLS reaches lavaan's minimum.
TEST(StartValues, WlsStartsFromTheOutestOfAnMlRun) {
    const std::string model =
        "var SL SW PL PW;\nlineqs SL = b1 PL + b2 PW + E1, SW = b3 PW + b4 SL + E2;\nstd E1 E2 = ve1 ve2;\nrun;\n";
    const auto r = run_velix("proc velix data=iris covariance method=ml outest=mlest noprint;\n" + model +
                                 "proc velix data=iris covariance method=wls inest=mlest;\n" + model,
                             {"iris.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto fit = factoid_values(*r.items(1, "factoid", "Fit").at(0));
    expect_relative(fit.at("Chi-Square"), reference("iris_wls").at("chisq"), kChiSquareTol, "WLS from the ML start");
}

}  // namespace
}  // namespace velix::test
