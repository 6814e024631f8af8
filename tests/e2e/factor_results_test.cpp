// FACTOR results on Harman's 24 ability tests (N = 145, TYPE=CORR): the
// maximum-likelihood four-factor solution and its varimax rotations against
// R (factanal and varimax; factor_results.R writes the data set and the
// reference numbers), and the standardized loadings, squared multiple
// correlations and score coefficients against their definitions computed
// here from the reported loadings and unique variances.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/moment_step/direct_moments.h"

using velix::test::own_folder;
using velix::test::read_rows;
using velix::test::Rows;
using velix::test::run_velix;
using velix::test::RunResult;

namespace {

constexpr int kVars = 24, kFactors = 4;
using velix::test::Matrix;

// The reference numbers by kind: value[i][j] (1-based in the file).
std::map<std::string, Matrix> reference() {
    std::map<std::string, Matrix> ref;
    const Rows r = read_rows(velix::test::data_path("harman74_reference.csv"));
    for (const auto& row : r.cells) {
        Matrix& m = ref[row[0]];
        const size_t i = std::stoul(row[1]), j = std::stoul(row[2]);
        if (m.size() <= i) m.resize(i + 1);
        if (m[i].size() <= j) m[i].resize(j + 1);
        m[i][j] = std::stod(row[3]);
    }
    return ref;
}

// The OUTSTAT= rows of one _TYPE_: row k holds the values of its variables.
Matrix rows_of(const Rows& stat, const std::string& type) {
    Matrix out;
    for (const auto& row : stat.cells)
        if (row[0] == type) {
            std::vector<double> v;
            for (size_t c = 2; c < row.size(); ++c) v.push_back(row[c] == "." ? NAN : std::stod(row[c]));
            out.push_back(v);
        }
    return out;
}

class Harman : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = own_folder("factor_results");
        std::ifstream in(velix::test::data_path("harman74.csv"));
        std::ofstream(dir_ + "/harman74.csv") << in.rdbuf();
    }
    // A four-factor ML fit with `options`; its OUTSTAT= rows.
    Rows fit(const std::string& options, RunResult* result = nullptr) {
        const RunResult r = run_velix("proc velix data=harman74 method=ml gconv=1e-12 outstat=st outram=ram " +
                                          options + ";\nfactor n=4;\nrun;\n",
                                      {}, {"--lib", dir_});
        EXPECT_EQ(r.exitStatus, 0) << r.log;
        if (result != nullptr) *result = r;
        return read_rows(dir_ + "/st.csv");
    }
    std::string dir_;
};

// Each reference column matches one column of `got` (factors by rows) up to
// sign, every factor used once.
void expect_same_columns(const Matrix& got, const Matrix& want, double tol, const std::string& what) {
    ASSERT_EQ(got.size(), static_cast<size_t>(kFactors)) << what;
    std::vector<bool> used(kFactors, false);
    for (int j = 1; j <= kFactors; ++j) {
        bool matched = false;
        for (int f = 0; f < kFactors && !matched; ++f) {
            if (used[f]) continue;
            for (const double sign : {1.0, -1.0}) {
                bool all = true;
                for (int i = 1; i <= kVars && all; ++i) all = std::fabs(sign * got[f][i - 1] - want[i][j]) <= tol;
                if (all) {
                    used[f] = matched = true;
                    break;
                }
            }
        }
        EXPECT_TRUE(matched) << what << ": reference factor " << j << " has no match";
    }
}

TEST_F(Harman, MaximumLikelihoodSolutionAndVarimaxRotations) {
    const auto ref = reference();
    const Rows stat = fit("rotate=varimax norm");
    const Rows ram = read_rows(dir_ + "/ram.csv");
    double f = NAN;
    for (const auto& row : ram.cells)
        if (row[0] == "STAT" && row[1] == "FIT") f = std::stod(row[5]);
    const double want = ref.at("objective")[0][0];
    EXPECT_NEAR(f, want, 1e-8 * want);
    const Matrix u = rows_of(stat, "UNIQUE_V");
    ASSERT_EQ(u.size(), 1u);
    for (int i = 1; i <= kVars; ++i) EXPECT_NEAR(u[0][i - 1], ref.at("uniqueness")[i][0], 1e-5) << "v" << i;
    expect_same_columns(rows_of(stat, "LOADINGS"), ref.at("varimax_norm"), 1e-4, "varimax, rows normalized");
    expect_same_columns(rows_of(fit("rotate=varimax"), "LOADINGS"), ref.at("varimax_raw"), 1e-4, "varimax");
    for (const char* rotation : {"quartimax", "equamax", "parsimax"})
        expect_same_columns(rows_of(fit(std::string("rotate=") + rotation), "LOADINGS"), ref.at(rotation), 1e-4,
                            rotation);
}

TEST_F(Harman, PrincipalAxesAreOrthogonalInDecreasingOrder) {
    // The loadings on the eigenvectors of L'L: their columns are orthogonal
    // and their sums of squares (the eigenvalues) decrease; the rotation
    // keeps every row's communality.
    const Rows stat = fit("rotate=principal");
    const Matrix l = rows_of(stat, "LOADINGS"), un = rows_of(stat, "UNROTATE");
    ASSERT_EQ(l.size(), static_cast<size_t>(kFactors));
    auto dot = [&](const Matrix& m, int a, int b) {
        double s = 0.0;
        for (int i = 0; i < kVars; ++i) s += m[a][i] * m[b][i];
        return s;
    };
    for (int a = 0; a < kFactors; ++a) {
        for (int b = 0; b < a; ++b) EXPECT_NEAR(dot(l, a, b), 0.0, 1e-10) << a << "," << b;
        if (a > 0) {
            EXPECT_GE(dot(l, a - 1, a - 1), dot(l, a, a));
        }
    }
    for (int i = 0; i < kVars; ++i) {
        double h = 0.0, h0 = 0.0;
        for (int j = 0; j < kFactors; ++j) {
            h += l[j][i] * l[j][i];
            h0 += un[j][i] * un[j][i];
        }
        EXPECT_NEAR(h, h0, 1e-12) << "v" << i + 1;
    }
}

// The standardized loadings follow from the reported (rotated) loadings;
// the score coefficients Sigma^-1 Lambda score the factors as estimated
// (UNROTATE), which the TRANSFOR rows beside them rotate.
TEST_F(Harman, StandardizedSolutionAndScoresFollowFromTheirLoadings) {
    RunResult r;
    const Rows stat = fit("rotate=varimax cov", &r);
    const Matrix l = rows_of(stat, "LOADINGS"), std = rows_of(stat, "STD_LOAD"), score = rows_of(stat, "SCORE");
    const Matrix un = rows_of(stat, "UNROTATE");
    ASSERT_EQ(un.size(), l.size());
    const Matrix u = rows_of(stat, "UNIQUE_V");
    ASSERT_EQ(l.size(), static_cast<size_t>(kFactors));
    ASSERT_EQ(std.size(), l.size());
    ASSERT_EQ(score.size(), l.size());
    // Sigma = L L' + U with the rotated loadings (the rotation is
    // orthogonal).
    Matrix sigma(kVars, std::vector<double>(kVars, 0.0));
    for (int i = 0; i < kVars; ++i) {
        for (int k = 0; k < kVars; ++k)
            for (int j = 0; j < kFactors; ++j) sigma[i][k] += l[j][i] * l[j][k];
        sigma[i][i] += u[0][i];
    }
    const Matrix inv = velix::test::inverse_of(sigma);
    const auto& table = r.table(0, "SqMultCorr");
    ASSERT_EQ(table["rows"].size(), static_cast<size_t>(kVars));
    for (int i = 0; i < kVars; ++i) {
        const double s = std::sqrt(sigma[i][i]);
        for (int j = 0; j < kFactors; ++j) {
            EXPECT_NEAR(std[j][i], l[j][i] / s, 1e-8) << "standardized loading " << i << "," << j;
            double b = 0.0;
            for (int k = 0; k < kVars; ++k) b += inv[i][k] * un[j][k];
            EXPECT_NEAR(score[j][i], b, 1e-7) << "score coefficient " << i << "," << j;
        }
        const double r2 = velix::test::cell(table, static_cast<size_t>(i), "RSquare").number();
        EXPECT_NEAR(r2, 1.0 - u[0][i] / sigma[i][i], 1e-8) << "v" << i + 1;
    }
}

TEST_F(Harman, AMissingRotationLeavesTheLoadingsAsEstimated) {
    const Rows stat = fit("");
    EXPECT_TRUE(rows_of(stat, "LOADINGS").empty());
    EXPECT_TRUE(rows_of(stat, "TRANSFOR").empty());
    const Matrix un = rows_of(stat, "UNROTATE");
    ASSERT_EQ(un.size(), static_cast<size_t>(kFactors));
    // The exploratory pattern: nothing above the diagonal, no reflection.
    for (int j = 1; j < kFactors; ++j)
        for (int i = 0; i < j; ++i) EXPECT_EQ(un[j][i], 0.0);
}

TEST(ConfirmatoryFactor, StandardizedSolutionOfTheReferenceFit) {
    // The confirmatory FACTOR form of hs_cfa_ml: its standardized loadings
    // lambda sqrt(phi) / sqrt(lambda^2 phi + theta) and factor correlations
    // c / sqrt(phi phi'), computed from the reference estimates; the
    // OUTSTAT= kinds in order, with LSSCORE under ULS.
    const std::string dir = own_folder("confirmatory_factor");
    std::ifstream in(velix::test::data_path("hs.csv"));
    std::ofstream(dir + "/hs.csv") << in.rdbuf();
    std::string program = velix::test::read_text(std::string(VELIX_SOURCE_DIR) + "/examples/hs_cfa_factor.vx");
    const size_t at = program.find("method=ml");
    ASSERT_NE(at, std::string::npos);
    const velix::test::JsonValue ref =
        velix::test::JsonValue::parse(velix::test::read_text(velix::test::data_path("hs_cfa_ml.expected.json")))["params"];
    auto est = [&](const std::string& name) { return ref[name]["est"].number(); };
    for (const char* method : {"ml", "uls"}) {
        std::string p = program;
        p.replace(at, 9, std::string("method=") + method + " gconv=1e-14 outstat=st");
        p.replace(p.rfind("run;"), 4, "nloptions absgconv=1e-12;\nrun;");
        const RunResult r = run_velix(p, {}, {"--lib", dir});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const Rows stat = read_rows(dir + "/st.csv");
        std::vector<std::string> kinds;
        for (const auto& row : stat.cells)
            if (kinds.empty() || kinds.back() != row[0]) kinds.push_back(row[0]);
        const std::string score = std::string(method) == "uls" ? "LSSCORE" : "SCORE";
        const std::vector<std::string> tail(kinds.end() - 5, kinds.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"UNROTATE", "FCORR", "UNIQUE_V", "STD_LOAD", score})) << method;
        if (std::string(method) != "ml") continue;
        const Matrix std = rows_of(stat, "STD_LOAD");
        ASSERT_EQ(std.size(), 3u);
        const char* loading[9] = {"", "l2", "l3", "", "l5", "l6", "", "l8", "l9"};
        const char* variance[3] = {"vvis", "vtxt", "vspd"};
        for (int i = 0; i < 9; ++i) {
            const int f = i / 3;
            const double l = loading[i][0] ? est(loading[i]) : 1.0, phi = est(variance[f]);
            const double theta = est("ve" + std::to_string(i + 1));
            const double want = l * std::sqrt(phi) / std::sqrt(l * l * phi + theta);
            EXPECT_NEAR(std[f][i], want, 1e-5) << "x" << i + 1;
        }
        const auto& corr = r.table(0, "FactCorrExog");
        ASSERT_EQ(corr["rows"].size(), 3u);
        for (size_t k = 0; k < 3; ++k) {
            const std::string name = velix::test::cell(corr, k, "Parameter").str();
            const size_t a = name == "cts" ? 1 : 0, b = name == "cvt" ? 1 : 2;
            const double want = est(name) / std::sqrt(est(variance[a]) * est(variance[b]));
            EXPECT_NEAR(velix::test::cell(corr, k, "Estimate").number(), want, 1e-5) << name;
        }
    }
}

}  // namespace
