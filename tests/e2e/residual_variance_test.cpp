// The asymptotically standardized residuals r / sqrt(var(s) - var(sigma)):
// with the covariances (and means) of the exogenous observed variables at
// their sample values they are those of the same model with the block
// named (the maximum likelihood estimates of the block are the sample's),
// and under GLS and WLS the variance of the sample moment is the one the
// method's weight describes.  Under GLS the sample's block is no estimate
// of the method: the residual's variance is that of the estimator with the
// block fixed, by the delta method.  Reference numbers from R's lavaan 0.6.14
// (estimates and derivatives of the fitted moments) with the variances
// computed from their definition (residual_variance_reference.R beside
// this file, written to tests/fixtures/residual_variance_reference.csv).
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

// The default stopping criteria leave the residuals, whose variances are
// differences, within about 2e-4 of the minimum's.
constexpr double kResidualTol = 5e-4;

struct BlockCase {
    const char* name;  // the case of the reference
    const char* data;
    const char* options;
    const char* vars;
    const char* model;  // {STD} and {COV} stand for the block's statements
    const char* stdBlock;
    const char* covBlock;
};

const BlockCase kBlockCases[] = {
    {"mimic", "hs", "", "x1-x6",
     "lineqs x4 = 1.0 F + E4, x5 = l5 F + E5, x6 = l6 F + E6, F = g1 x1 + g2 x2 + g3 x3 + DF;\n"
     "std E4-E6 = ve4-ve6, DF = vdf{STD};\n{COV}",
     ", x1-x3 = v1-v3", "cov x1 x2 = c12, x1 x3 = c13, x2 x3 = c23;\n"},
    {"path", "hs", "", "x1-x4",
     "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 E4 = ve1 ve4{STD};\n{COV}", ", x2 x3 = v2 v3",
     "cov x2 x3 = c23;\n"},
    {"growth_x", "demo_growth", "", "t1-t4 x1 x2",
     "lineqs t1 = 1.0 Fi + E1, t2 = 1.0 Fi + 1.0 Fs + E2, t3 = 1.0 Fi + 2.0 Fs + E3,\n"
     "       t4 = 1.0 Fi + 3.0 Fs + E4, Fi = b1 x1 + b2 x2 + DFi, Fs = c1 x1 + c2 x2 + DFs;\n"
     "std E1-E4 = ve1-ve4, DFi DFs = vi vs{STD};\ncov DFi DFs = cis{COV};\n",
     ", x1 x2 = v1 v2", ", x1 x2 = c12"},
    {"growth_x_means", "demo_growth", " augment", "t1-t4 x1 x2",
     "lineqs t1 = 1.0 Fi + E1, t2 = 1.0 Fi + 1.0 Fs + E2, t3 = 1.0 Fi + 2.0 Fs + E3,\n"
     "       t4 = 1.0 Fi + 3.0 Fs + E4, Fi = mi Intercept + b1 x1 + b2 x2 + DFi,\n"
     "       Fs = ms Intercept + c1 x1 + c2 x2 + DFs;\n"
     "std E1-E4 = ve1-ve4, DFi DFs = vi vs{STD};\ncov DFi DFs = cis{COV};\n",
     ", x1 x2 = v1 v2", ", x1 x2 = c12, x1 Intercept = m1, x2 Intercept = m2"},
};

std::string replaced(std::string text, const std::string& key, const std::string& by) {
    const size_t at = text.find(key);
    return at == std::string::npos ? text : text.replace(at, key.size(), by);
}

RunResult run(const std::string& data, const std::string& head, const std::string& vars, const std::string& model) {
    return run_velix("proc velix data=" + data + " covariance residual " + head + ";\nvar " + vars + ";\n" + model +
                         "run;\n",
                     {data + ".csv"});
}

// The asymptotically standardized residual of (a, b) ("mean": the row of
// Intercept); NaN for a cell without a value.
double residual(const RunResult& r, const std::string& a, const std::string& b) {
    const auto found = r.items(0, "matrix", "AsymStdRes");
    if (found.empty()) return NAN;
    const JsonValue& m = *found.front();
    const std::string row = b == "mean" ? "Intercept" : a, column = b == "mean" ? a : b;
    size_t i = 0, j = 0;
    while (i < m["rowLabels"].size() && m["rowLabels"][i].str() != row) ++i;
    while (j < m["columnLabels"].size() && m["columnLabels"][j].str() != column) ++j;
    if (i == m["rowLabels"].size() || j == m["columnLabels"].size()) return NAN;
    const JsonValue& v = m["values"][i][j];
    return v.is_number() ? v.number() : NAN;
}

// Each "ares_a_b" key of the reference as its two names.
std::map<std::string, std::pair<std::string, std::string>> cells(const std::map<std::string, double>& ref) {
    std::map<std::string, std::pair<std::string, std::string>> out;
    for (const auto& [key, value] : ref) {
        const size_t bar = key.find('_', 5);
        out[key] = {key.substr(5, bar - 5), key.substr(bar + 1)};
    }
    return out;
}

TEST(ResidualVariance, TheSampleBlockIsCountedAsTheNamedBlockIs) {
    for (const BlockCase& c : kBlockCases) {
        SCOPED_TRACE(c.name);
        const std::string head = std::string("method=ml") + c.options;
        const RunResult sample = run(c.data, head, c.vars, replaced(replaced(c.model, "{STD}", ""), "{COV}", ""));
        const RunResult named =
            run(c.data, head, c.vars, replaced(replaced(c.model, "{STD}", c.stdBlock), "{COV}", c.covBlock));
        ASSERT_EQ(sample.exitStatus, 0) << sample.log;
        ASSERT_EQ(named.exitStatus, 0) << named.log;
        const std::map<std::string, double> ref = reference_rows("residual_variance_reference.csv", c.name);
        for (const auto& [key, names] : cells(ref)) {
            const double want = ref.at(key), got = residual(sample, names.first, names.second);
            EXPECT_NEAR(got, want, kResidualTol * std::fmax(1.0, std::fabs(want))) << key;
            // The block's own residuals are 0 in the one, a difference of
            // the estimates from the sample's at the stop in the other.
            if (want != 0.0) {
                EXPECT_NEAR(residual(named, names.first, names.second), got, kResidualTol * std::fmax(1.0, std::fabs(got)))
                    << key << " with the block named";
            }
        }
    }
}

// With means GLS weighs the moments about zero, and var(s) - J V J' takes
// V at the fitted means where the reference linearizes the estimator
// exactly: the two agree to first order, the covariances among the
// endogenous variables here within 0.4%, the rest (the means among them,
// whose variance has the constant's moment c = N / (N - 1) in it) within
// 1e-4.
constexpr double kMeansGlsTol = 3e-3;

bool endogenous_covariance(const std::pair<std::string, std::string>& names) {
    return names.first[0] == 't' && names.second[0] == 't';
}

// The block of the MIMIC model fixed by the user at R's printed covariances
// of x1-x3 to 15 digits (signif(cov(hs), 15)): the sample's to the precision of
// the data, so the sample's block.
const BlockCase kMimicPrintedBlock = {
    "mimic_printed", "hs", "", "x1-x6", kBlockCases[0].model,
    ", x1-x3 = 1.36289770722045 1.38638981173865 1.279114410299",
    "cov x1 x2 = 0.408729221353821, x1 x3 = 0.581832335560631, x2 x3 = 0.452567483388704;\n"};

TEST(ResidualVariance, GlsWithTheSampleBlockTakesTheVarianceOfItsOwnEstimator) {
    std::vector<BlockCase> cases(std::begin(kBlockCases), std::end(kBlockCases));
    cases.push_back(kMimicPrintedBlock);
    for (const BlockCase& c : cases) {
        const std::string name = c.name;
        if (name == "path") continue;
        const double tol = name == "growth_x_means" ? kMeansGlsTol : kResidualTol;
        SCOPED_TRACE(name);
        const bool printed = name == "mimic_printed";
        const RunResult r = run(c.data, std::string("method=gls") + c.options, c.vars,
                                replaced(replaced(c.model, "{STD}", printed ? c.stdBlock : ""), "{COV}",
                                         printed ? c.covBlock : ""));
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const std::string refCase =
            name == "growth_x_means" ? "growth_x_gls_means" : printed ? "mimic_gls" : name + "_gls";
        const std::map<std::string, double> ref = reference_rows("residual_variance_reference.csv", refCase);
        ASSERT_FALSE(ref.empty());
        for (const auto& [key, names] : cells(ref)) {
            const double want = ref.at(key), within = endogenous_covariance(names) ? tol : kResidualTol;
            EXPECT_NEAR(residual(r, names.first, names.second), want, within * std::fmax(1.0, std::fabs(want))) << key;
        }
    }
}

// WLS with means: the variance of each sample moment is its own
// fourth-order moment, a mean's that of its variable about the mean, under
// every divisor (the constant's moment c = N / d divides the means of the
// moments about zero and not their variances).
TEST(ResidualVariance, WlsWithMeansTakesEachMomentsOwnFourthOrderMoment) {
    const BlockCase& c = kBlockCases[3];
    const std::string model = replaced(replaced(c.model, "{STD}", ""), "{COV}", "");
    for (const char* vardef : {"", " vardef=n"}) {
        SCOPED_TRACE(vardef);
        const RunResult r = run(c.data, std::string("method=wls") + c.options + vardef, c.vars, model);
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const std::map<std::string, double> ref =
            reference_rows("residual_variance_reference.csv", *vardef ? "growth_x_wls_means_n" : "growth_x_wls_means");
        ASSERT_EQ(ref.size(), 27u);
        for (const auto& [key, names] : cells(ref)) {
            const double want = ref.at(key);
            EXPECT_NEAR(residual(r, names.first, names.second), want, kResidualTol * std::fmax(1.0, std::fabs(want)))
                << key;
        }
    }
}

TEST(ResidualVariance, GlsAndWlsTakeTheVarianceOfTheSampleMomentUnderTheirWeight) {
    const std::string model =
        "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x4 = 1.0 F2 + E4, x5 = l5 F2 + E5,\n"
        "       x6 = l6 F2 + E6, x7 = 1.0 F3 + E7, x8 = l8 F3 + E8, x9 = l9 F3 + E9;\n"
        "std F1-F3 = v1-v3, E1-E9 = ve1-ve9;\ncov F1 F2 = c12, F1 F3 = c13, F2 F3 = c23;\n";
    for (const char* method : {"gls", "wls"}) {
        SCOPED_TRACE(method);
        const RunResult r = run("hs", std::string("method=") + method, "x1-x9", model);
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const std::map<std::string, double> ref = reference_rows("residual_variance_reference.csv", method);
        ASSERT_EQ(ref.size(), 45u);
        // Every cell has a value, the variances' among them.
        for (const auto& [key, names] : cells(ref)) {
            const double want = ref.at(key);
            EXPECT_NEAR(residual(r, names.first, names.second), want, kResidualTol * std::fmax(1.0, std::fabs(want)))
                << key;
        }
    }
}

}  // namespace
}  // namespace velix::test
