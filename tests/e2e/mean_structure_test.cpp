// Whole programs with means (AUGMENT): the standardized solution, the
// squared multiple correlations, the fit summary's independence model and
// indices, the standardized residuals, the predicted moments of the
// manifest and latent variables, the latent score coefficients, the
// coefficients of determination and the OUTSTAT= rows after the fit are
// those of the covariances and means, as R's lavaan 0.6.14 with
// meanstructure = TRUE gives them
// (mean_structure_reference.R beside this file, written to
// tests/fixtures/mean_structure_reference.csv): a two-factor model of hs
// x1-x6 with saturated intercepts, and the linear growth curve of
// demo_growth.csv (lavaan's Demo.growth), also on two covariates in the
// equation and the RAM form.  RMR is compared under VARDEF=N, whose moments
// are lavaan's.  Saturated intercepts leave the results of the same model
// without means: its squared multiple correlations and NFI, and its
// chi-squares and standardized residuals times the ratio of the
// multipliers, N F against (N - 1) F (the residuals by ML and GLS); its
// predicted covariances, latent moments, scores and determination.  The programs run at the default
// stopping criteria; the tolerances are what those leave.  Under GLS the
// independence model (ULS and DWLS print none), under GLS and ULS GFI and
// AGFI, and under ML the average residuals, are compared with their formulas computed here from the data
// and the fitted moments; under WLS with R's minimum of the same
// discrepancy and its GFI and AGFI.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

using Reference = std::map<std::string, double>;

// At the default criteria the standardized estimates agree to about 3e-6,
// the statistics of the fit summary to about 5e-8 and the asymptotically
// standardized residuals, whose variances are differences, to about 2e-4.
constexpr double kEstimateTol = 2e-5, kFitTol = 1e-6, kResidualTol = 5e-4;
// Numbers of one run, in its tables and in its OUTSTAT= data set.
constexpr double kSameTol = 1e-12;
// Sums of the data and the fitted moments formed here and in the program.
constexpr double kSumTol = 1e-10;

const char* const kGrowthVars[] = {"t1", "t2", "t3", "t4", "x1", "x2"};

const char* const kHsMeans =
    "lineqs x1 = a1 Intercept + 1.0 Fvis + E1, x2 = a2 Intercept + l2 Fvis + E2,\n"
    "       x3 = a3 Intercept + l3 Fvis + E3, x4 = a4 Intercept + 1.0 Ftxt + E4,\n"
    "       x5 = a5 Intercept + l5 Ftxt + E5, x6 = a6 Intercept + l6 Ftxt + E6;\n"
    "std Fvis Ftxt = vvis vtxt, E1-E6 = ve1-ve6;\ncov Fvis Ftxt = cvt;\nrun;\n";
const char* const kHsCovariances =
    "lineqs x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
    "       x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6;\n"
    "std Fvis Ftxt = vvis vtxt, E1-E6 = ve1-ve6;\ncov Fvis Ftxt = cvt;\nrun;\n";
const char* const kGrowth =
    "lineqs t1 = 1.0 Fi + E1, t2 = 1.0 Fi + 1.0 Fs + E2, t3 = 1.0 Fi + 2.0 Fs + E3,\n"
    "       t4 = 1.0 Fi + 3.0 Fs + E4, Fi = mi Intercept + DFi, Fs = ms Intercept + DFs;\n"
    "std E1-E4 = ve1-ve4, DFi DFs = vi vs;\ncov DFi DFs = cis;\nrun;\n";
// The growth curve with the latent intercept and slope regressed on the
// covariates x1 and x2, as equations and as a RAM list (t1-t4 x1 x2 are
// 1-6, Intercept 7, Fi 8 and Fs 9).
const char* const kGrowthCovariates =
    "lineqs t1 = 1.0 Fi + E1, t2 = 1.0 Fi + 1.0 Fs + E2, t3 = 1.0 Fi + 2.0 Fs + E3,\n"
    "       t4 = 1.0 Fi + 3.0 Fs + E4, Fi = mi Intercept + b1 x1 + b2 x2 + DFi,\n"
    "       Fs = ms Intercept + c1 x1 + c2 x2 + DFs;\n"
    "std E1-E4 = ve1-ve4, DFi DFs = vi vs;\ncov DFi DFs = cis;\nrun;\n";
// The same with the covariates' variances, covariance and moments with
// the constant named: their estimates are moments about zero.
const char* const kGrowthCovariatesNamed =
    "lineqs t1 = 1.0 Fi + E1, t2 = 1.0 Fi + 1.0 Fs + E2, t3 = 1.0 Fi + 2.0 Fs + E3,\n"
    "       t4 = 1.0 Fi + 3.0 Fs + E4, Fi = mi Intercept + b1 x1 + b2 x2 + DFi,\n"
    "       Fs = ms Intercept + c1 x1 + c2 x2 + DFs;\n"
    "std E1-E4 = ve1-ve4, DFi DFs = vi vs, x1 x2 = v1 v2;\n"
    "cov DFi DFs = cis, x1 x2 = c12, x1 Intercept = m1, x2 Intercept = m2;\nrun;\n";
const char* const kGrowthCovariatesRam =
    "ram 1 1 8 1.0, 1 2 8 1.0, 1 2 9 1.0, 1 3 8 1.0, 1 3 9 2.0, 1 4 8 1.0, 1 4 9 3.0,\n"
    "    1 8 7 mi, 1 9 7 ms, 1 8 5 b1, 1 8 6 b2, 1 9 5 c1, 1 9 6 c2,\n"
    "    2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 8 8 vi, 2 9 9 vs, 2 9 8 cis;\nrun;\n";

// The OUTSTAT= data set of the run `name`.
std::string outstat_path(const std::string& name) { return own_folder("mean_structure") + "/" + name + ".csv"; }

RunResult run(const std::string& data, const std::string& options, const std::string& vars,
              const std::string& model, const std::string& outstat = "", const std::string& method = "ml") {
    return run_velix("proc velix data=" + data + " method=" + method +
                         " covariance residual=norm asystand varstand platcov pdeterm predet " + options +
                         (outstat.empty() ? "" : " outstat='" + outstat_path(outstat) + "'") + ";\nvar " + vars +
                         ";\n" + model,
                     {data + ".csv"});
}

class MeanStructure : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        runs_ = new std::map<std::string, RunResult>{
            {"hs_means", run("hs", "augment", "x1-x6", kHsMeans, "hs_means")},
            {"hs_means_n", run("hs", "augment vardef=n", "x1-x6", kHsMeans)},
            {"hs_covariances", run("hs", "", "x1-x6", kHsCovariances, "hs_covariances")},
            {"hs_means_gls", run("hs", "augment", "x1-x6", kHsMeans, "", "gls")},
            {"hs_covariances_gls", run("hs", "", "x1-x6", kHsCovariances, "", "gls")},
            {"growth", run("demo_growth", "augment", "t1-t4", kGrowth)},
            {"growth_n", run("demo_growth", "augment vardef=n", "t1-t4", kGrowth)},
            {"growth_gls", run("demo_growth", "augment", "t1-t4", kGrowth, "", "gls")},
            {"growth_uls", run("demo_growth", "augment", "t1-t4", kGrowth, "", "uls")},
            {"growth_wls", run("demo_growth", "augment", "t1-t4", kGrowth, "", "wls")},
            {"growth_x", run("demo_growth", "augment", "t1-t4 x1 x2", kGrowthCovariates, "growth_x")},
            {"growth_x_ram", run("demo_growth", "augment", "t1-t4 x1 x2", kGrowthCovariatesRam)},
            {"growth_x_named", run("demo_growth", "augment", "t1-t4 x1 x2", kGrowthCovariatesNamed)},
        };
    }
    static void TearDownTestSuite() { delete runs_; }

    static const RunResult& result(const std::string& name) {
        const RunResult& r = runs_->at(name);
        EXPECT_EQ(r.exitStatus, 0) << name << "\n" << r.log;
        return r;
    }
    static Reference reference(const std::string& name) {
        return reference_rows("mean_structure_reference.csv", name);
    }
    static std::map<std::string, double> fit(const std::string& name) {
        const auto found = result(name).items(0, "factoid", "Fit");
        return found.empty() ? std::map<std::string, double>{} : factoid_values(*found.front());
    }

    static std::map<std::string, RunResult>* runs_;
};
std::map<std::string, RunResult>* MeanStructure::runs_ = nullptr;

void expect_relative(double got, double want, double tol, const std::string& what) {
    EXPECT_NEAR(got, want, tol * std::fmax(1.0, std::fabs(want))) << what;
}

// The value of `column` in the row of `table` whose `key` column is `name`.
double row_value(const JsonValue& table, const std::string& key, const std::string& name, const std::string& column) {
    for (size_t row = 0; row < table["rows"].size(); ++row)
        if (cell(table, row, key).str() == name) return cell(table, row, column).number();
    ADD_FAILURE() << "no row " << name;
    return NAN;
}

// The standardized coefficient of `term` in the equation of `lhs`: the
// first row of an equation names the variable of each term.
double coefficient(const JsonValue& table, const std::string& lhs, const std::string& term) {
    for (size_t row = 0; row < table["rows"].size(); ++row) {
        if (cell(table, row, "Variable").str() != lhs) continue;
        for (int k = 1; !cell(table, row, "Parameter" + std::to_string(k)).is_null(); ++k)
            if (cell(table, row, "Parameter" + std::to_string(k)).str() == term)
                return cell(table, row, "Coefficient" + std::to_string(k)).number();
    }
    ADD_FAILURE() << "no term " << term << " of " << lhs;
    return NAN;
}

// The estimate of the row of `table` that joins `a` and `b` (columns
// `first` and `second`, either way round; a number column by its digits).
double pair_value(const JsonValue& table, const std::string& first, const std::string& second, const std::string& a,
                  const std::string& b) {
    auto text = [&](size_t row, const std::string& column) {
        const JsonValue& c = cell(table, row, column);
        return c.is_number() ? std::to_string(static_cast<int>(c.number())) : c.str();
    };
    for (size_t row = 0; row < table["rows"].size(); ++row) {
        const std::string x = text(row, first), y = text(row, second);
        if ((x == a && y == b) || (x == b && y == a)) return cell(table, row, "Estimate").number();
    }
    ADD_FAILURE() << "no row of " << a << " and " << b;
    return NAN;
}

// The value of `column` in the row of a squared multiple correlations
// table whose Index is `index`.
double by_index(const JsonValue& table, int index, const std::string& column) {
    for (size_t row = 0; row < table["rows"].size(); ++row)
        if (cell(table, row, "Index").number() == index) return cell(table, row, column).number();
    ADD_FAILURE() << "no row " << index;
    return NAN;
}

// Cell (row, column) of a matrix item by its labels.
double matrix_cell(const JsonValue& m, const std::string& row, const std::string& column) {
    size_t i = 0, j = 0;
    while (i < m["rowLabels"].size() && m["rowLabels"][i].str() != row) ++i;
    while (j < m["columnLabels"].size() && m["columnLabels"][j].str() != column) ++j;
    if (i == m["rowLabels"].size() || j == m["columnLabels"].size()) {
        ADD_FAILURE() << "no cell " << row << ", " << column;
        return NAN;
    }
    return m["values"][i][j].number();
}

const JsonValue& matrix(const RunResult& r, const std::string& name) {
    static const JsonValue none;
    const auto found = r.items(0, "matrix", name);
    return found.empty() ? none : *found.front();
}

// The value of `column` in the OUTSTAT= row of `type` and `name` ("" the
// row without a name).
double outstat_value(const Rows& rows, const std::string& type, const std::string& name, const std::string& column) {
    const size_t j = rows.column(column);
    for (const auto& row : rows.cells)
        if (row.size() > j && row[0] == type && row[1] == name) return std::stod(row[j]);
    ADD_FAILURE() << "no OUTSTAT= row " << type << " " << name << " " << column;
    return NAN;
}

TEST_F(MeanStructure, StandardizedSolutionIsThatOfTheCovariancesAndMeans) {
    // hs: the loadings and the intercepts over the standard deviations.
    const Reference hs = reference("hs_means");
    const JsonValue& hsEq = result("hs_means").table(0, "StdManifestEq");
    const char* const factor[] = {"Fvis", "Fvis", "Fvis", "Ftxt", "Ftxt", "Ftxt"};
    for (int i = 1; i <= 6; ++i) {
        const std::string x = "x" + std::to_string(i), f = factor[i - 1];
        expect_relative(coefficient(hsEq, x, f), hs.at("std_" + f + "_" + x), kEstimateTol, "loading of " + x);
        expect_relative(coefficient(hsEq, x, "Intercept"), hs.at("std_" + x + "_mean"), kEstimateTol,
                        "intercept of " + x);
    }
    // The growth curve on covariates, as equations and as a RAM list: the
    // loadings, the intercepts and effects of the latent intercept and
    // slope, and the correlations of the exogenous variables, among them
    // the covariates' means over their standard deviations.
    const Reference g = reference("growth_x");
    const JsonValue& manifest = result("growth_x").table(0, "StdManifestEq");
    const JsonValue& latent = result("growth_x").table(0, "StdLatentEq");
    const JsonValue& corr = result("growth_x").table(0, "CorrExog");
    const JsonValue& paths = result("growth_x_ram").table(0, "RAMStdEstimates");
    const JsonValue& ramCorr = result("growth_x_ram").table(0, "RAMCorrExog");
    for (int t = 1; t <= 4; ++t) {
        const std::string y = "t" + std::to_string(t);
        expect_relative(coefficient(manifest, y, "Fi"), g.at("std_Fi_" + y), kEstimateTol, "Fi of " + y);
        expect_relative(pair_value(paths, "Row", "Col", std::to_string(t), "8"), g.at("std_Fi_" + y), kEstimateTol,
                        "RAM Fi of " + y);
    }
    const struct {
        const char *lhs, *term, *key, *ram;
    } effects[] = {{"Fi", "Intercept", "std_Fi_mean", "7"}, {"Fi", "x1", "std_Fi_x1", "5"},
                   {"Fi", "x2", "std_Fi_x2", "6"},          {"Fs", "Intercept", "std_Fs_mean", "7"},
                   {"Fs", "x1", "std_Fs_x1", "5"},          {"Fs", "x2", "std_Fs_x2", "6"}};
    for (const auto& e : effects) {
        const std::string what = std::string(e.term) + " on " + e.lhs;
        expect_relative(coefficient(latent, e.lhs, e.term), g.at(e.key), kEstimateTol, what);
        expect_relative(pair_value(paths, "Row", "Col", e.lhs[1] == 'i' ? "8" : "9", e.ram), g.at(e.key),
                        kEstimateTol, "RAM " + what);
    }
    const struct {
        const char *a, *b, *key, *ramA, *ramB;
    } pairs[] = {{"x1", "x2", "std_x1_x2", "5", "6"},
                 {"Intercept", "x1", "std_x1_mean", "7", "5"},
                 {"Intercept", "x2", "std_x2_mean", "7", "6"},
                 {"DFi", "DFs", "std_Fi_Fs", "8", "9"}};
    for (const auto& p : pairs) {
        const std::string what = std::string(p.a) + " with " + p.b;
        expect_relative(pair_value(corr, "Var1", "Var2", p.a, p.b), g.at(p.key), kEstimateTol, what);
        expect_relative(pair_value(ramCorr, "Row", "Col", p.ramA, p.ramB), g.at(p.key), kEstimateTol, "RAM " + what);
    }
}

TEST_F(MeanStructure, SquaredMultipleCorrelationsAreThoseOfTheCovariances) {
    const Reference hs = reference("hs_means"), growth = reference("growth"), g = reference("growth_x");
    const JsonValue& hsSmc = result("hs_means").table(0, "SqMultCorr");
    const JsonValue& plainSmc = result("hs_covariances").table(0, "SqMultCorr");
    for (int i = 1; i <= 6; ++i) {
        const std::string x = "x" + std::to_string(i);
        expect_relative(row_value(hsSmc, "Variable", x, "RSquare"), hs.at("r2_" + x), kEstimateTol, "R-square " + x);
        // Those of the model without means.
        for (const char* column : {"RSquare", "TotalVar"})
            expect_relative(row_value(hsSmc, "Variable", x, column), row_value(plainSmc, "Variable", x, column),
                            kEstimateTol, std::string(column) + " without means " + x);
    }
    const JsonValue& smc = result("growth").table(0, "SqMultCorr");
    for (int t = 1; t <= 4; ++t) {
        const std::string y = "t" + std::to_string(t);
        expect_relative(row_value(smc, "Variable", y, "RSquare"), growth.at("r2_" + y), kEstimateTol, "R-square " + y);
    }
    // The constant explains nothing of the latent intercept and slope.
    for (const char* f : {"Fi", "Fs"}) EXPECT_EQ(row_value(smc, "Variable", f, "RSquare"), 0.0) << f;
    // The covariates explain part of them: equations (Fi and Fs are the
    // fifth and sixth endogenous variables) and RAM list (variables 8, 9).
    const JsonValue& eqSmc = result("growth_x").table(0, "SqMultCorr");
    const JsonValue& ramSmc = result("growth_x_ram").table(0, "SqMultCorr");
    for (const auto& [f, eq, ram] : {std::tuple<std::string, int, int>{"Fi", 5, 8}, {"Fs", 6, 9}}) {
        expect_relative(by_index(eqSmc, eq, "RSquare"), g.at("r2_" + f), kEstimateTol, "R-square " + f);
        expect_relative(by_index(ramSmc, ram, "RSquare"), g.at("r2_" + f), kEstimateTol, "RAM R-square " + f);
    }
}

TEST_F(MeanStructure, IndependenceModelHasFreeMeansAndVariances) {
    for (const char* name : {"hs_means", "growth"}) {
        SCOPED_TRACE(name);
        const Reference ref = reference(name);
        const std::map<std::string, double> f = fit(name);
        expect_relative(f.at("Independence Model Chi-Square"), ref.at("baseline_chisq"), kFitTol, "baseline");
        EXPECT_EQ(f.at("Independence Model Chi-Square DF"), ref.at("baseline_df"));
        expect_relative(f.at("Bentler's Comparative Fit Index"), ref.at("cfi"), kFitTol, "CFI");
        expect_relative(f.at("Bentler & Bonett's (1980) Non-normed Index"), ref.at("tli"), kFitTol, "NNFI");
        expect_relative(f.at("Bentler & Bonett's (1980) NFI"), ref.at("nfi"), kFitTol, "NFI");
        expect_relative(f.at("Goodness of Fit Index (GFI)"), ref.at("gfi"), kFitTol, "GFI");
        expect_relative(f.at("GFI Adjusted for Degrees of Freedom (AGFI)"), ref.at("agfi"), kFitTol, "AGFI");
        // The root mean square residual of moments with divisor N.
        expect_relative(fit(std::string(name) + "_n").at("Root Mean Square Residual (RMR)"), ref.at("rmr"),
                        kEstimateTol, "RMR");
    }
    // Saturated intercepts: the independence chi-square and the model's are
    // N / (N - 1) times those of the covariances, the NFI is theirs.
    const std::map<std::string, double> means = fit("hs_means"), plain = fit("hs_covariances");
    const double scale = 301.0 / 300.0;
    for (const char* label : {"Independence Model Chi-Square", "Chi-Square"})
        expect_relative(means.at(label), scale * plain.at(label), kFitTol, label);
    EXPECT_EQ(means.at("Independence Model Chi-Square DF"), plain.at("Independence Model Chi-Square DF"));
    expect_relative(means.at("Bentler & Bonett's (1980) NFI"), plain.at("Bentler & Bonett's (1980) NFI"), kFitTol,
                    "NFI");
}

TEST_F(MeanStructure, StandardizedResidualsAreThoseOfTheCovariancesAndMeans) {
    const Reference hs = reference("hs_means"), growth = reference("growth");
    // Normalized, asymptotically standardized and variance standardized
    // residuals of the covariances off the diagonal and of the means, in
    // the row of Intercept.
    const struct {
        const char* run;
        const Reference* ref;
        const char* prefix;
        int n;
    } cases[] = {{"hs_means", &hs, "x", 6}, {"growth", &growth, "t", 4}};
    for (const auto& c : cases) {
        const RunResult& r = result(c.run);
        const struct {
            const JsonValue& values;
            const char* key;
        } kinds[] = {{matrix(r, "NormRes"), "nres_"},
                     {matrix(r, "AsymStdRes"), "ares_"},
                     {matrix(r, "VarStdRes"), "vres_"}};
        for (const auto& kind : kinds)
            for (int i = 1; i <= c.n; ++i) {
                const std::string a = c.prefix + std::to_string(i);
                for (int j = 1; j < i; ++j) {
                    const std::string key = kind.key + a + "_" + c.prefix + std::to_string(j);
                    expect_relative(matrix_cell(kind.values, a, c.prefix + std::to_string(j)), c.ref->at(key),
                                    kResidualTol, key);
                }
                const std::string key = kind.key + a + "_mean";
                expect_relative(matrix_cell(kind.values, "Intercept", a), c.ref->at(key), kResidualTol, key);
            }
    }
    // Saturated intercepts: sqrt(N / (N - 1)) times those of the
    // covariances, the chi-square's ratio.
    // So under GLS too, whose variances of the sample moments are those of
    // the sample's covariances.
    const double scale = std::sqrt(301.0 / 300.0);
    const JsonValue& means = matrix(result("hs_means"), "AsymStdRes");
    const JsonValue& plain = matrix(result("hs_covariances"), "AsymStdRes");
    expect_relative(matrix_cell(means, "x5", "x3"), scale * matrix_cell(plain, "x5", "x3"), kResidualTol, "x5, x3");
    const JsonValue& gls = matrix(result("hs_means_gls"), "AsymStdRes");
    const JsonValue& glsPlain = matrix(result("hs_covariances_gls"), "AsymStdRes");
    for (int i = 1; i <= 6; ++i)
        for (int j = 1; j <= i; ++j) {
            const std::string a = "x" + std::to_string(i), b = "x" + std::to_string(j);
            expect_relative(matrix_cell(gls, a, b), scale * matrix_cell(glsPlain, a, b), kResidualTol, "GLS " + a + ", " + b);
        }
}

TEST_F(MeanStructure, PredictedMomentsScoresAndDeterminationAreThoseOfTheCovariances) {
    // The growth curve on covariates, as equations and as a RAM list (its
    // factors F1 and F2): the fitted covariances with the means in the row
    // of Intercept (the constant's own moment is none of the data), the
    // factors' covariances with the factor means in that row, the score
    // regression with its intercept there, and the determination.
    const Reference g = reference("growth_x");
    const JsonValue& predicted = matrix(result("growth_x"), "PredModel");
    for (size_t a = 0; a < 6; ++a) {
        const std::string x = kGrowthVars[a];
        expect_relative(matrix_cell(predicted, "Intercept", x), g.at("pred_" + x + "_mean"), kEstimateTol, "mean " + x);
        for (size_t b = 0; b <= a; ++b)
            expect_relative(matrix_cell(predicted, x, kGrowthVars[b]), g.at("pred_" + x + "_" + kGrowthVars[b]),
                            kEstimateTol, "covariance " + x + " " + kGrowthVars[b]);
    }
    EXPECT_TRUE(predicted["values"][6][6].is_null());
    for (const auto& [name, fi, fs] : {std::tuple<std::string, std::string, std::string>{"growth_x", "Fi", "Fs"},
                                       {"growth_x_ram", "F1", "F2"}}) {
        SCOPED_TRACE(name);
        const RunResult& r = result(name);
        const JsonValue& latent = matrix(r, "PredMomentLatent");
        const JsonValue& cross = matrix(r, "PredMomentManLat");
        const JsonValue& scores = matrix(r, "LatentScoreCoef");
        const std::pair<std::string, std::string> factors[] = {{"Fi", fi}, {"Fs", fs}};
        for (const auto& [f, column] : factors) {
            for (const auto& [f2, row] : factors)
                expect_relative(matrix_cell(latent, row, column), g.at("lat_" + f + "_" + f2), kEstimateTol,
                                f + " with " + f2);
            for (const char* x : kGrowthVars) {
                expect_relative(matrix_cell(cross, x, column), g.at("lat_" + f + "_" + x), kEstimateTol,
                                f + " with " + x);
                expect_relative(matrix_cell(scores, x, column), g.at("score_" + f + "_" + x), kEstimateTol,
                                "score of " + f + " on " + x);
            }
            expect_relative(matrix_cell(cross, "Intercept", column), g.at("lat_" + f + "_mean"), kEstimateTol,
                            "mean of " + f);
            expect_relative(matrix_cell(scores, "Intercept", column), g.at("score_" + f + "_mean"), kEstimateTol,
                            "score intercept of " + f);
        }
        const JsonValue& det = r.table(0, "Determination");
        for (const char* label : {"All Equations", "Structural Equations"})
            expect_relative(row_value(det, "Label", label, "Determination"), g.at("det_all"), kEstimateTol, label);
        expect_relative(row_value(det, "Label", "Manifest Variables", "Determination"), g.at("det_manifest"),
                        kEstimateTol, "manifest variables");
    }
    // Saturated intercepts: the covariances, their determinant, the latent
    // moments, the scores on the variables and the determination of the
    // model without means.
    const RunResult &means = result("hs_means"), &plain = result("hs_covariances");
    const auto same_cells = [&](const std::string& name, const std::vector<std::string>& rows,
                                const std::vector<std::string>& columns) {
        for (const std::string& a : rows)
            for (const std::string& b : columns)
                expect_relative(matrix_cell(matrix(means, name), a, b), matrix_cell(matrix(plain, name), a, b),
                                kEstimateTol, name + " " + a + " " + b);
    };
    const std::vector<std::string> x = {"x1", "x2", "x3", "x4", "x5", "x6"}, f = {"Fvis", "Ftxt"};
    same_cells("PredModel", x, x);
    same_cells("PredMomentLatent", f, f);
    same_cells("PredMomentManLat", x, f);
    same_cells("LatentScoreCoef", x, f);
    for (const char* table : {"PredModelDet", "Determination"}) {
        const JsonValue &a = means.table(0, table), &b = plain.table(0, table);
        ASSERT_EQ(a["rows"].size(), b["rows"].size()) << table;
        for (size_t row = 0; row < a["rows"].size(); ++row) {
            const std::string column = std::string(table) == "Determination" ? "Determination" : "LogDet";
            expect_relative(cell(a, row, column).number(), cell(b, row, column).number(), kEstimateTol, table);
        }
    }
}

TEST_F(MeanStructure, OutstatRowsAfterTheFitAreThoseOfTheDataVariables) {
    // The rows written after the fit hold covariances, as the COV rows do,
    // the means in a row without a name, as the MEAN row holds them: no row
    // is the constant's, which has no variable.
    const Reference g = reference("growth_x");
    const Rows stat = read_rows(outstat_path("growth_x"));
    ASSERT_FALSE(stat.cells.empty());
    for (const auto& row : stat.cells) EXPECT_NE(row.at(1), "Intercept") << row.at(0);
    for (size_t a = 0; a < 6; ++a) {
        const std::string x = kGrowthVars[a];
        expect_relative(outstat_value(stat, "MAXPRED", "", x), g.at("pred_" + x + "_mean"), kEstimateTol, "mean " + x);
        for (size_t b = 0; b <= a; ++b)
            expect_relative(outstat_value(stat, "MAXPRED", x, kGrowthVars[b]), g.at("pred_" + x + "_" + kGrowthVars[b]),
                            kEstimateTol, "covariance " + x + " " + kGrowthVars[b]);
        for (const char* f : {"Fi", "Fs"}) {
            expect_relative(outstat_value(stat, "MAXPRED", f, x), g.at("lat_" + std::string(f) + "_" + x), kEstimateTol,
                            std::string(f) + " with " + x);
            expect_relative(outstat_value(stat, "SCORE", f, x), g.at("score_" + std::string(f) + "_" + x), kEstimateTol,
                            std::string(f) + " score on " + x);
        }
    }
    // The standardized residuals of the means and covariances as printed.
    const JsonValue& residuals = matrix(result("growth_x"), "AsymStdRes");
    for (const char* x : kGrowthVars) {
        expect_relative(outstat_value(stat, "MAXASRES", "", x), matrix_cell(residuals, "Intercept", x), kSameTol,
                        std::string("residual of the mean of ") + x);
        for (const char* y : kGrowthVars)
            expect_relative(outstat_value(stat, "MAXASRES", x, y), matrix_cell(residuals, x, y), kSameTol,
                            std::string("residual ") + x + " " + y);
    }
    // Saturated intercepts: the sample means and the rows of the model
    // without means.
    const Rows means = read_rows(outstat_path("hs_means")), plain = read_rows(outstat_path("hs_covariances"));
    const std::pair<std::string, std::string> rows[] = {{"MAXPRED", "x2"},   {"MAXPRED", "x5"},
                                                         {"MAXPRED", "Fvis"}, {"MAXPRED", "Ftxt"},
                                                         {"SCORE", "Fvis"},   {"SCORE", "Ftxt"}};
    for (int i = 1; i <= 6; ++i) {
        const std::string a = "x" + std::to_string(i);
        expect_relative(outstat_value(means, "MAXPRED", "", a), outstat_value(means, "MEAN", "", a), kEstimateTol,
                        "mean " + a);
        for (const auto& [type, name] : rows)
            expect_relative(outstat_value(means, type, name, a), outstat_value(plain, type, name, a), kEstimateTol,
                            type + " " + name + " " + a);
    }
}


// The constant of AUGMENT takes part in a model only as a predictor and
// through its covariances: a variance, an equation, a path that points to
// it or a factor model's loadings would fit moments that no model with
// means has (the growth curve above with `Intercept = 2` in its STD list
// gave a chi-square of 84.8 on 6 df where the model is 8.07 on 5).  Each is
// an error that names the statement.
TEST(ConstantOfAugment, IsNeverARandomVariable) {
    const std::string head = "proc velix data=demo_growth method=ml covariance augment;\nvar t1-t4;\n";
    std::string variance = kGrowth, equation = kGrowth;
    variance.replace(variance.find("DFi DFs = vi vs;"), 16, "DFi DFs = vi vs, Intercept = 2;");
    equation.replace(equation.find("+ DFs;"), 6, "+ DFs, Intercept = a Fi + E9;");
    equation.replace(equation.find("vi vs;"), 6, "vi vs, E9 = v9;");
    // t1-t4 are 1-4, Intercept 5, Fi 6 and Fs 7.
    const std::string ram =
        "ram 1 1 6 1.0, 1 2 6 1.0, 1 2 7 1.0, 1 3 6 1.0, 1 3 7 2.0, 1 4 6 1.0, 1 4 7 3.0, 1 6 5 mi, 1 7 5 ms,\n"
        "    2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 6 6 vi, 2 7 7 vs, 2 7 6 cis";
    const struct {
        std::string model, gives;
    } cases[] = {
        {variance, "the STD statement gives it a variance."},
        {equation, "the LINEQS statement gives it an equation."},
        {ram + ", 1 5 6 a;\nrun;\n", "the RAM statement gives it a path that points to it."},
        {ram + ", 2 5 5 2.0;\nrun;\n", "the RAM statement gives it a variance."},
        {"factor n=1;\nrun;\n", "the FACTOR statement gives it loadings and a unique variance"},
    };
    for (const auto& c : cases) {
        const RunResult r = run_velix(head + c.model, {"demo_growth.csv"});
        EXPECT_EQ(r.exitStatus, 2) << c.model << r.log;
        EXPECT_NE(r.log.find("ERROR: Intercept is the constant 1 of the PROC VELIX option AUGMENT, not a random "
                             "variable: " + c.gives),
                  std::string::npos)
            << c.model << r.log;
        EXPECT_TRUE(r.items(0, "factoid", "Fit").empty()) << c.model;
    }
}

// The sample's covariances (divisor N - 1) and means of t1-t4 of
// demo_growth.csv, and the fitted ones of a run (PredModel: the means in
// the row of Intercept), as dense 4 x 4 and 4-vectors.
struct GrowthMoments {
    double n = 0.0;
    double s[4][4] = {}, xbar[4] = {}, sigma[4][4] = {}, mu[4] = {};
};
GrowthMoments growth_moments(const RunResult& r) {
    GrowthMoments g;
    const Rows data = read_rows(fixture_path("demo_growth.csv"));
    g.n = static_cast<double>(data.cells.size());
    std::vector<std::vector<double>> x;
    for (const auto& row : data.cells)
        x.push_back({std::stod(row[0]), std::stod(row[1]), std::stod(row[2]), std::stod(row[3])});
    for (const auto& v : x)
        for (int i = 0; i < 4; ++i) g.xbar[i] += v[i] / g.n;
    for (const auto& v : x)
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) g.s[i][j] += (v[i] - g.xbar[i]) * (v[j] - g.xbar[j]) / (g.n - 1.0);
    const JsonValue& predicted = matrix(r, "PredModel");
    for (int i = 0; i < 4; ++i) {
        const std::string a = "t" + std::to_string(i + 1);
        g.mu[i] = matrix_cell(predicted, "Intercept", a);
        for (int j = 0; j < 4; ++j) g.sigma[i][j] = matrix_cell(predicted, a, "t" + std::to_string(j + 1));
    }
    return g;
}

// The inverse of a 4 x 4 symmetric positive definite matrix (Gauss-Jordan).
void invert4(const double a[4][4], double out[4][4]) {
    double m[4][8] = {};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) m[i][j] = a[i][j];
        m[i][4 + i] = 1.0;
    }
    for (int c = 0; c < 4; ++c) {
        const double pivot = m[c][c];
        for (double& x : m[c]) x /= pivot;
        for (int r = 0; r < 4; ++r)
            if (r != c) {
                const double f = m[r][c];
                for (int k = 0; k < 8; ++k) m[r][k] -= f * m[c][k];
            }
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[i][j] = m[i][4 + j];
}

TEST_F(MeanStructure, IndependenceModelOfGlsAndWls) {
    // GLS weighs by the sample's moments, at whose means the independence
    // model's means are stationary: its variances d solve the least
    // squares of I - S^-1 D, (A o A) d = diag(A) with A = S^-1, and
    // F0 = (p - diag(A)'d) / 2, T0 = N F0 (225.1674, as R gives it).
    const GrowthMoments g = growth_moments(result("growth_gls"));
    double a[4][4], aa[4][4], aaInv[4][4];
    invert4(g.s, a);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) aa[i][j] = a[i][j] * a[i][j];
    invert4(aa, aaInv);
    double f0 = 4.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) f0 -= a[i][i] * aaInv[i][j] * a[j][j];
    // WLS ties the means to the covariances: R's optim finds its minimum
    // (mean_structure_reference.R).
    const double df0 = 6.0;
    for (const auto& [name, t0] : {std::pair<std::string, double>{"growth_gls", g.n * f0 / 2.0},
                                   {"growth_wls", reference("growth_wls").at("baseline_chisq")}}) {
        SCOPED_TRACE(name);
        const std::map<std::string, double> f = fit(name);
        expect_relative(f.at("Independence Model Chi-Square"), t0, kFitTol, "baseline");
        EXPECT_EQ(f.at("Independence Model Chi-Square DF"), df0);
        const double t = f.at("Chi-Square"), df = f.at("Chi-Square DF");
        expect_relative(f.at("Bentler's Comparative Fit Index"), 1.0 - std::fmax(t - df, 0.0) / (t0 - df0), kFitTol,
                        "CFI");
    }
}

TEST_F(MeanStructure, GfiAndAgfiWeighCovariancesAndMeans) {
    // GFI = 1 - G / D with G = tr((W (S - Sigma))^2) + 2c r'W r,
    // D = tr((W S)^2) + 2c xbar'W xbar, r = xbar - mu, c = N / (N - 1):
    // W = S^-1 for GLS, I for ULS; AGFI = 1 - p* (G / D) / df with p* the
    // 10 covariances and 4 means and df = 14 - 9 parameters.
    for (const char* name : {"growth_gls", "growth_uls"}) {
        SCOPED_TRACE(name);
        const GrowthMoments g = growth_moments(result(name));
        double w[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
        if (std::string(name) == "growth_gls") invert4(g.s, w);
        const double c = g.n / (g.n - 1.0);
        double wr[4][4] = {}, ws[4][4] = {}, G = 0.0, D = 0.0;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                for (int k = 0; k < 4; ++k) {
                    wr[i][j] += w[i][k] * (g.s[k][j] - g.sigma[k][j]);
                    ws[i][j] += w[i][k] * g.s[k][j];
                }
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                G += wr[i][j] * wr[j][i] + 2.0 * c * (g.xbar[i] - g.mu[i]) * w[i][j] * (g.xbar[j] - g.mu[j]);
                D += ws[i][j] * ws[j][i] + 2.0 * c * g.xbar[i] * w[i][j] * g.xbar[j];
            }
        const std::map<std::string, double> f = fit(name);
        const double df = 5.0;
        // The same sums: as close as rounding leaves them (the constant's
        // c differs from 1 by 1 / (N - 1), and G / D is small).
        expect_relative(f.at("Goodness of Fit Index (GFI)"), 1.0 - G / D, kSumTol, "GFI");
        expect_relative(f.at("GFI Adjusted for Degrees of Freedom (AGFI)"), 1.0 - 14.0 * (G / D) / df, kSumTol, "AGFI");
    }
    // WLS weighs the same residuals, mapped to moments about zero at the
    // sample means, by its fourth-order weights: R fits the model and
    // forms G and D (mean_structure_reference.R).
    const Reference wls = reference("growth_wls");
    const std::map<std::string, double> f = fit("growth_wls");
    expect_relative(f.at("Chi-Square"), wls.at("chisq"), kFitTol, "WLS chi-square");
    expect_relative(f.at("Goodness of Fit Index (GFI)"), wls.at("gfi"), kFitTol, "WLS GFI");
    expect_relative(f.at("GFI Adjusted for Degrees of Freedom (AGFI)"), wls.at("agfi"), kFitTol, "WLS AGFI");
}

// WLS and ML fits of a model with means do not depend on the origin of the
// data: the growth curve on t1-t4 shifted by 1000 and by 2000
// (some 500 and 1000 standard deviations) has the chi-square and the
// standard errors of the data as they are, to what rounding the shift
// leaves, and the WLS chi-square is R's minimum.  (Formed from the fourth
// moments about zero, the WLS weight had lost its digits there: 8.1978 and
// 8.2636 for 8.2044.)  Tight criteria, so that the stops agree too.  The
// kurtosis measures of WLS, ratios of the fourth moments about the means,
// do not move either.
TEST(MeanStructureOrigin, ShiftedDataFitAsTheDataAsTheyAre) {
    const std::string dir = own_folder("mean_structure_origin");
    const Rows data = read_rows(fixture_path("demo_growth.csv"));
    for (const int shift : {0, 1000, 2000}) {
        std::ofstream out(dir + "/growth" + std::to_string(shift) + ".csv");
        out << std::setprecision(17) << "t1,t2,t3,t4\n";
        for (const auto& row : data.cells)
            for (int i = 0; i < 4; ++i) out << std::stod(row[static_cast<size_t>(i)]) + shift << (i < 3 ? "," : "\n");
    }
    const double wlsChiSquare = reference_rows("mean_structure_reference.csv", "growth_wls").at("chisq");
    for (const char* method : {"wls", "ml"}) {
        std::map<std::string, double> chiSquare, errors, kurtosis;
        for (const int shift : {0, 1000, 2000}) {
            SCOPED_TRACE(std::string(method) + " +" + std::to_string(shift));
            const RunResult r = run_velix("proc velix data='" + dir + "/growth" + std::to_string(shift) +
                                              ".csv' covariance augment kurtosis gconv=1e-14 method=" + method +
                                              ";\nvar t1-t4;\n" + kGrowth,
                                          {});
            ASSERT_EQ(r.exitStatus, 0) << r.log;
            const auto fitted = r.items(0, "factoid", "Fit");
            ASSERT_FALSE(fitted.empty());
            const double t = factoid_values(*fitted.front()).at("Chi-Square");
            const std::map<std::string, double> se = column_by_parameter(result_table(r), "AppStdErr");
            const auto measures = r.items(0, "factoid", "Kurtosis");
            ASSERT_FALSE(measures.empty());
            const std::map<std::string, double> k = factoid_values(*measures.front());
            if (shift == 0) {
                chiSquare[method] = t;
                errors = se;
                kurtosis = k;
                if (std::string(method) == "wls") expect_relative(t, wlsChiSquare, kFitTol, "R's chi-square");
                continue;
            }
            expect_relative(t, chiSquare.at(method), kFitTol, "chi-square");
            for (const auto& [name, value] : errors) expect_relative(se.at(name), value, kFitTol, "error of " + name);
            for (const auto& [name, value] : kurtosis) expect_relative(k.at(name), value, kFitTol, name);
        }
    }
    std::filesystem::remove_all(dir);
}

TEST_F(MeanStructure, AverageResidualLeavesTheConstantsOwnCellOut) {
    // The raw residuals of the 10 covariances and 4 means; the constant's
    // own moment is no residual and counts in neither average.
    const RunResult& r = result("growth");
    const GrowthMoments g = growth_moments(r);
    double all = 0.0, off = 0.0;
    for (int i = 0; i < 4; ++i) {
        const double mean = std::fabs(g.xbar[i] - g.mu[i]);
        all += mean + std::fabs(g.s[i][i] - g.sigma[i][i]);
        off += mean;
        for (int j = 0; j < i; ++j) {
            all += std::fabs(g.s[i][j] - g.sigma[i][j]);
            off += std::fabs(g.s[i][j] - g.sigma[i][j]);
        }
    }
    const JsonValue& averages = r.table(0, "AveRawRes");
    expect_relative(cell(averages, 0, "AveResValue").number(), all / 14.0, kEstimateTol, "average");
    expect_relative(cell(averages, 1, "AveResValue").number(), off / 10.0, kEstimateTol, "off the diagonal");
}

TEST_F(MeanStructure, ExogenousTablesShowCovariancesAndMeans) {
    // The covariates' block at its sample values: variances, covariance and
    // means (R's), no row for the constant's own moment; in the equation
    // tables and in the RAM list (x1, x2, Intercept are variables 5-7).
    const Reference g = reference("growth_x");
    const JsonValue& variances = result("growth_x").table(0, "EstVarExog");
    const JsonValue& covariances = result("growth_x").table(0, "EstCovExog");
    const JsonValue& list = result("growth_x_ram").table(0, "RAMEstimates");
    auto list_value = [&](int row, int column) -> double {
        for (size_t i = 0; i < list["rows"].size(); ++i)
            if (cell(list, i, "Matrix").number() == 3 && cell(list, i, "Row").number() == row &&
                cell(list, i, "Col").number() == column)
                return cell(list, i, "Estimate").number();
        return NAN;
    };
    for (int a = 0; a < 2; ++a) {
        const std::string x = a == 0 ? "x1" : "x2";
        expect_relative(row_value(variances, "Variable", x, "Estimate"), g.at("pred_" + x + "_" + x), kEstimateTol,
                        "variance of " + x);
        expect_relative(pair_value(covariances, "Var1", "Var2", x, "Intercept"), g.at("pred_" + x + "_mean"),
                        kEstimateTol, "mean of " + x);
        expect_relative(list_value(5 + a, 5 + a), g.at("pred_" + x + "_" + x), kEstimateTol, "RAM variance of " + x);
        expect_relative(list_value(7, 5 + a), g.at("pred_" + x + "_mean"), kEstimateTol, "RAM mean of " + x);
    }
    expect_relative(pair_value(covariances, "Var1", "Var2", "x1", "x2"), g.at("pred_x2_x1"), kEstimateTol, "x1, x2");
    expect_relative(list_value(6, 5), g.at("pred_x2_x1"), kEstimateTol, "RAM x1, x2");
    EXPECT_TRUE(std::isnan(list_value(7, 7)));
    for (size_t i = 0; i < variances["rows"].size(); ++i) EXPECT_NE(cell(variances, i, "Variable").str(), "Intercept");
    // Named, the same block's estimates are moments about zero, and a note
    // says which.
    const RunResult& named = result("growth_x_named");
    EXPECT_NE(named.listing.find("estimates of v1 v2 are moments about zero"), std::string::npos) << named.listing;
    EXPECT_NE(named.listing.find("estimates of c12 are moments about zero"), std::string::npos);
    EXPECT_EQ(result("growth_x").listing.find("are moments about zero"), std::string::npos);
    // The correlations are those of the covariances about the means: no
    // note follows them.
    const size_t corr = named.listing.find("Correlations among Exogenous Variables");
    ASSERT_NE(corr, std::string::npos);
    const std::string after = named.listing.substr(corr, named.listing.find("Predicted Moments", corr) - corr);
    EXPECT_EQ(after.find("moments about zero"), std::string::npos) << after;
}

}  // namespace
}  // namespace velix::test
