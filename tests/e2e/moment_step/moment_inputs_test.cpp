// Moment input of every kind with METHOD=NONE, checked against direct
// computations from the raw data (sums of squares and cross-products,
// partial covariances S11 - S12 S22^-1 S21, Anderson 2003, sec. 2.5) and
// against round trips: OUTSTAT= read back as DATA=, OUTWGT= read back as
// INWGT=.  Also the singularity tests on data in small units, the constant
// variable that acts as the intercept under weights, the origin of the
// moments of each BY group, the automatic ridge and the input errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "direct_moments.h"
#include "tests/e2e/hs_fixture.h"

namespace {

using namespace velix::test;

constexpr double kTol = 1e-10;

// A one-factor LINEQS model of the variables with unit loadings: it has
// fewer parameters than moments from two variables on.
std::string one_factor(const std::vector<std::string>& names) {
    std::string s = "lineqs ";
    for (size_t i = 0; i < names.size(); ++i)
        s += (i ? ", " : "") + names[i] + " = 1.0 F1 + E" + std::to_string(i + 1);
    const std::string k = std::to_string(names.size());
    return s + ";\nstd F1 = vf, E1-E" + k + " = ve1-ve" + k + ";\n";
}

const std::vector<std::string> kX123 = {"x1", "x2", "x3"};

// ---- OUTSTAT= and OUTWGT= round trips ----

TEST(MomentRoundTrip, OutstatReadBackAsDataGivesTheSameMoments) {
    const Data d = columns(read_csv("hs.csv"), 3);
    const double n = static_cast<double>(d.rows.size());
    struct Case {
        std::string options;  // of both steps
        std::string matrix;   // the input matrix table
        double divisor;       // of the raw-data covariances
    } cases[] = {{"covariance", "InCov", n - 1.0},
                 {"kurtosis", "InCorr", n - 1.0},
                 {"covariance vardef=n", "InCov", n}};
    for (const Case& c : cases) {
        auto r = run_velix("proc velix data=hs method=none pcorr outstat=st " + c.options + ";\nvar x1 x2 x3;\n" +
                               one_factor(kX123) + "run;\nproc velix data=st method=none pcorr " + c.options +
                               ";\n" + one_factor(kX123) + "run;\n",
                           {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << c.options << "\n" << r.log;
        const Matrix raw = matrix_of(r, 0, c.matrix), back = matrix_of(r, 1, c.matrix);
        expect_matrix_near(back, raw, 1e-14, c.options + ": read back");
        Matrix want = cov_of(d, c.divisor);
        if (c.matrix == "InCorr")
            for (size_t i = 0; i < 3; ++i)
                for (size_t j = 0; j < 3; ++j)
                    want[i][j] = cov_of(d, 1.0)[i][j] / std::sqrt(cov_of(d, 1.0)[i][i] * cov_of(d, 1.0)[j][j]);
        expect_matrix_near(raw, want, kTol, c.options + ": direct");
        const JsonValue& s0 = r.table(0, "SimpleStatistics");
        const JsonValue& s1 = r.table(1, "SimpleStatistics");
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_LT(rel(cell(s1, i, "Mean").number(), cell(s0, i, "Mean").number()), 1e-14) << c.options;
            EXPECT_LT(rel(cell(s1, i, "StD").number(), cell(s0, i, "StD").number()), 1e-14) << c.options;
            EXPECT_LT(rel(cell(s0, i, "StD").number(), std::sqrt(cov_of(d, c.divisor)[i][i])), kTol) << c.options;
        }
        EXPECT_EQ(factoid_entry(r, 1, "GenModInfo", 300), n) << c.options;
    }
}

TEST(MomentRoundTrip, OutstatOfByGroupsReadsBackGroupByGroup) {
    const std::string step = "lineqs x1 = 1.0 F1 + E1, x2 = 1.0 F1 + E2, x3 = 1.0 F1 + E3;\n"
                             "std F1 = vf, E1-E3 = ve1-ve3;\nby school;\nrun;\n";
    auto r = run_velix("proc velix data=hs_by method=none covariance pcorr outstat=st;\nvar x1 x2 x3;\n" + step +
                           "proc velix data=st method=none covariance pcorr;\n" + step,
                       {"hs_by.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Data d = read_csv("hs_by.csv");
    for (size_t g = 0; g < 2; ++g) {
        Data group;
        group.names = {"x1", "x2", "x3"};
        for (const auto& o : d.rows)
            if (o[0] == static_cast<double>(g + 1)) group.rows.push_back({o[1], o[2], o[3]});
        const Matrix want = cov_of(group, static_cast<double>(group.rows.size()) - 1.0);
        expect_matrix_near(matrix_of(r, 0, "InCov", g), want, kTol, "raw group " + std::to_string(g + 1));
        expect_matrix_near(matrix_of(r, 1, "InCov", g), want, kTol, "read-back group " + std::to_string(g + 1));
    }
}

TEST(MomentRoundTrip, WeightedMomentsWithTheWdfDivisorReadBackUnchanged) {
    // hs x1-x3 with weights 0.5, 1 and 2 in turn: the covariances about the
    // weighted means with divisor (sum of weights - 1).
    Data d = columns(read_csv("hs.csv"), 3);
    d.names.push_back("w");
    const double weights[3] = {0.5, 1.0, 2.0};
    for (size_t o = 0; o < d.rows.size(); ++o) d.rows[o].push_back(weights[o % 3]);
    const std::string dir = scratch_dir("mi_wdf");
    write_csv(dir + "/hsw.csv", d);
    auto r = run_velix("proc velix data='" + dir + "/hsw.csv' method=none covariance vardef=wdf pcorr outstat='" +
                           dir + "/st.csv';\nvar x1 x2 x3;\nweight w;\n" + one_factor(kX123) +
                           "run;\nproc velix data='" + dir + "/st.csv' method=none covariance vardef=wdf pcorr;\n" +
                           one_factor(kX123) + "run;\n",
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    double sw = 0.0, m[3] = {};
    for (const auto& o : d.rows) {
        sw += o[3];
        for (int i = 0; i < 3; ++i) m[i] += o[3] * o[i];
    }
    for (double& x : m) x /= sw;
    Matrix want(3, std::vector<double>(3, 0.0));
    for (const auto& o : d.rows)
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) want[i][j] += o[3] * (o[i] - m[i]) * (o[j] - m[j]) / (sw - 1.0);
    expect_matrix_near(matrix_of(r, 0, "InCov"), want, kTol, "weighted raw data");
    expect_matrix_near(matrix_of(r, 1, "InCov"), want, kTol, "read back");
}

TEST(MomentRoundTrip, OutwgtReadBackAsInwgtGivesTheSameWeights) {
    const std::string dir = scratch_dir("mi_outwgt");
    const std::string methods[] = {"gls covariance", "wls covariance", "dwls covariance", "wls", "dwls"};
    for (const std::string& m : methods) {
        const std::string first = dir + "/w1.csv", second = dir + "/w2.csv";
        std::remove(first.c_str());
        std::remove(second.c_str());
        const std::string model = "var x1 x2 x3;\n" + one_factor(kX123) + "run;\n";
        auto r = run_velix("proc velix data=hs method=" + m + " outwgt='" + first + "';\n" + model +
                               "proc velix data=hs method=" + m + " inwgt='" + first + "' outwgt='" + second +
                               "';\n" + model,
                           {"hs.csv"});
        ASSERT_EQ(return_code(r, 1), 0) << m << "\n" << r.log;
        const bool wls = m.compare(0, 3, "wls") == 0;
        const Matrix a = read_values(first, wls ? 4 : 2), b = read_values(second, wls ? 4 : 2);
        ASSERT_EQ(a.size(), wls ? 14u : 3u) << m;  // n(n+1)(2n+1)/6 rows of the WLS form
        ASSERT_EQ(b.size(), a.size()) << m;
        for (size_t i = 0; i < a.size(); ++i)
            for (size_t j = 0; j < a[i].size(); ++j) {
                ASSERT_EQ(std::isnan(a[i][j]), std::isnan(b[i][j])) << m << " row " << i;
                if (!std::isnan(a[i][j])) {
                    EXPECT_LT(rel(b[i][j], a[i][j]), 1e-15) << m << " row " << i;
                }
            }
    }
}

// ---- moment data sets ----

TEST(MomentData, CorrelationInputPrintsItsCorrelationsAndGivesTheCovariances) {
    // ability_corr.csv holds the correlations and standard deviations of the
    // covariances in ability.csv.
    std::vector<MomentRow> rows = read_moment_rows(data_path("ability.csv"));
    Matrix s;
    for (const MomentRow& r : rows)
        if (r.type == "COV") s.push_back(r.values);
    ASSERT_EQ(s.size(), 6u);
    Matrix corr = s;
    for (size_t i = 0; i < 6; ++i)
        for (size_t j = 0; j < 6; ++j) corr[i][j] = s[i][j] / std::sqrt(s[i][i] * s[j][j]);
    const std::string model =
        "lineqs general = 1.0 Fg + E1, picture = l2 Fg + E2, blocks = l3 Fg + E3, maze = l4 Fg + E4,\n"
        "       reading = 1.0 Fv + E5, vocab = l6 Fv + E6;\n"
        "std Fg Fv = vg vv, E1-E6 = ve1-ve6;\ncov Fg Fv = cgv;\nrun;\n";
    auto r = run_velix("proc velix data=ability_corr method=none pcorr;\n" + model +
                           "proc velix data=ability_corr method=none covariance pcorr;\n" + model,
                       {"ability_corr.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_matrix_near(matrix_of(r, 0, "InCorr"), corr, kTol, "correlations");
    expect_matrix_near(matrix_of(r, 1, "InCov"), s, kTol, "covariances");
    const JsonValue& stats = r.table(0, "SimpleStatistics");
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_LT(rel(cell(stats, i, "StD").number(), std::sqrt(s[i][i])), kTol);
    }
    EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 300), 112.0);
}


TEST(MomentData, SscpAndEstDataGiveTheMomentsOfTheRawData) {
    const Data d = columns(read_csv("hs.csv"), 3);
    const double n = static_cast<double>(d.rows.size());
    const auto mean = means_of(d);
    const Matrix s = cov_of(d, n - 1.0);
    const std::string dir = scratch_dir("mi_sscp");
    write_sscp(dir + "/sscp.csv", d);
    {
        std::ofstream out(dir + "/est.csv");
        out << "# TYPE=EST\n_TYPE_,_NAME_,x1,x2,x3\nPARMS,";
        for (double m : mean) out << "," << number_text(m);
        out << "\nN,,301,301,301\n";
        for (int i = 0; i < 3; ++i) {
            out << "COV," << kX123[i];
            for (int j = 0; j < 3; ++j) out << "," << number_text(s[i][j]);
            out << "\n";
        }
    }
    for (const char* file : {"sscp", "est"}) {
        auto r = run_velix("proc velix data='" + dir + "/" + file + ".csv' method=none covariance pcorr;\nvar x1 x2 x3;\n" +
                               one_factor(kX123) + "run;\n",
                           {});
        ASSERT_EQ(r.exitStatus, 0) << file << "\n" << r.log;
        expect_matrix_near(matrix_of(r, 0, "InCov"), s, kTol, file);
        const JsonValue& stats = r.table(0, "SimpleStatistics");
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_LT(rel(cell(stats, i, "Mean").number(), mean[i]), kTol) << file;
        }
    }
}

TEST(MomentData, SscpWithoutAVariableListAnalysesItsDataVariables) {
    // The Intercept's sums only centre the data variables: the one-factor
    // model of x1-x4 fits as on the raw data, with lavaan 0.6.14's
    // chi-square (../single_run_reference.R).
    const std::string dir = scratch_dir("mi_sscp_nolist");
    write_sscp(dir + "/sscp.csv", columns(read_csv("hs.csv"), 4));
    const std::string model = "lineqs x1 = 1.0 F + E1, x2 = l2 F + E2, x3 = l3 F + E3, x4 = l4 F + E4;\n"
                              "std F = vf, E1-E4 = ve1-ve4;\nrun;\n";
    auto r = run_velix("proc velix data='" + dir + "/sscp.csv' method=ml covariance;\n" + model +
                           "proc velix data=hs method=ml covariance;\nvar x1-x4;\n" + model,
                       {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 85)) << r.log;
    const double chisq = factoid_entry(r, 0, "Fit", 530);
    EXPECT_LT(rel(chisq, 11.75902318), 1e-6);
    EXPECT_LT(rel(chisq, factoid_entry(r, 1, "Fit", 530)), 1e-8);
}

TEST(MomentData, InvalidRowNamesAreNotedOnceAndTheValidRowsStillRead) {
    // Two rows named by no variable name ("1x", "x-1") give one note and
    // are skipped; the matrix of the valid rows is read unchanged.
    const Data d = columns(read_csv("hs.csv"), 3);
    const Matrix s = cov_of(d, static_cast<double>(d.rows.size()) - 1.0);
    const std::string dir = scratch_dir("mi_badname");
    {
        std::ofstream out(dir + "/cov.csv");
        out << "# TYPE=COV\n_TYPE_,_NAME_,x1,x2,x3\nN,,301,301,301\n";
        for (const char* bad : {"1x", "x-1"}) out << "COV," << bad << ",9,9,9\n";
        for (int i = 0; i < 3; ++i) {
            out << "COV," << kX123[i];
            for (int j = 0; j < 3; ++j) out << "," << number_text(s[i][j]);
            out << "\n";
        }
    }
    auto r = run_velix("proc velix data='" + dir + "/cov.csv' method=none covariance pcorr;\nvar x1 x2 x3;\n" +
                           one_factor(kX123) + "run;\n",
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto m = r.messages(0, 230);
    EXPECT_EQ(std::count(m.begin(), m.end(), 13), 1) << r.log;
    expect_matrix_near(matrix_of(r, 0, "InCov"), s, kTol, "valid rows");
}

// ---- moment data sets without an N row ----

// lavaan 0.6.14's fit of the model of hs to a covariance matrix alone
// (sample.cov, sample.nobs; n_rows_reference.R beside this file).
struct LavaanFit {
    double chisq, l2, l2Se, vvis, vvisSe;
};

void expect_lavaan(const GroupFit& got, const LavaanFit& want, const std::string& what) {
    // The default stopping criteria leave the estimates this close to the
    // minimum.
    constexpr double tol = 2e-5;
    EXPECT_LT(rel(got.chisq, want.chisq), tol) << what << ": chi-square " << got.chisq;
    EXPECT_LT(rel(got.est.at("l2"), want.l2), tol) << what << ": l2 " << got.est.at("l2");
    EXPECT_LT(rel(got.se.at("l2"), want.l2Se), tol) << what << ": SE of l2 " << got.se.at("l2");
    EXPECT_LT(rel(got.est.at("vvis"), want.vvis), tol) << what << ": vvis " << got.est.at("vvis");
    EXPECT_LT(rel(got.se.at("vvis"), want.vvisSe), tol) << what << ": SE of vvis " << got.se.at("vvis");
}

// The variables of d as a moment data set of TYPE type (COV, CORR, UCOV,
// UCORR or SYMATRIX) without an N row: the MEAN row, the STD (USTD) row of
// a correlation matrix and the matrix rows named by _NAME_; lead (with its
// trailing comma) starts each row, a BY value.
std::string moment_rows(const Data& d, const std::string& type, const std::string& lead = "") {
    const size_t p = d.p();
    const double n = static_cast<double>(d.rows.size());
    const bool aboutZero = type[0] == 'U', corr = type.find("CORR") != std::string::npos;
    // Covariances with divisor N - 1 about the means, N about zero.
    Matrix m = cov_of(d, n - 1.0);
    if (aboutZero)
        for (size_t i = 0; i < p; ++i)
            for (size_t j = 0; j < p; ++j) {
                m[i][j] = 0.0;
                for (const auto& o : d.rows) m[i][j] += o[i] * o[j] / n;
            }
    std::vector<double> sd(p);
    for (size_t i = 0; i < p; ++i) sd[i] = std::sqrt(m[i][i]);
    std::ostringstream out;
    auto row = [&](const std::string& t, const std::string& name, const std::vector<double>& v) {
        out << lead << t << "," << name;
        for (double x : v) out << "," << number_text(x);
        out << "\n";
    };
    row("MEAN", "", means_of(d));
    if (corr) row(aboutZero ? "USTD" : "STD", "", sd);
    for (size_t i = 0; i < p; ++i) {
        std::vector<double> v = m[i];
        if (corr)
            for (size_t j = 0; j < p; ++j) v[j] /= sd[i] * sd[j];
        row(type, d.names[i], v);
    }
    return out.str();
}

std::string moment_header(const Data& d, const std::string& type, const std::string& lead = "") {
    std::string h = "# TYPE=" + type + "\n" + lead + "_TYPE_,_NAME_";
    for (const std::string& v : d.names) h += "," + v;
    return h + "\n";
}

TEST(MomentDataWithoutNRow, EachFormUnderNobsOrEdfFitsAsTheRawData) {
    // Without an N row the matrix is that of the N stated, taken as given:
    // the fit of the raw data, and lavaan's of the matrix with N = 301.
    // DFREDUCE= then changes the divisor as it does for raw data, of a
    // symmetric matrix too.
    const Data d = read_csv("hs.csv");
    const std::string dir = scratch_dir("mi_no_n");
    const std::string tail = std::string(" method=ml covariance;\n") + kHsModel + "run;\n";
    std::string program = "proc velix data=hs" + tail;
    std::vector<std::string> what;
    for (const std::string type : {"COV", "CORR", "UCOV", "UCORR", "SYMATRIX"}) {
        std::ofstream(dir + "/" + type + ".csv") << moment_header(d, type) << moment_rows(d, type);
        for (const std::string option : {"nobs=301", "edf=300"}) {
            program += "proc velix data='" + dir + "/" + type + ".csv' " + option + tail;
            what.push_back(type + " " + option);
        }
    }
    const size_t reduced = what.size() + 1;
    program += "proc velix data=hs dfreduce=2" + tail + "proc velix data='" + dir + "/COV.csv' nobs=301 dfreduce=2" +
               tail + "proc velix data='" + dir + "/SYMATRIX.csv' nobs=301 dfreduce=2" + tail;
    auto r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const GroupFit raw = fit_of(r, 0);
    expect_lavaan(raw, {85.0221226, 0.5535006044, 0.09983097809, 0.8120142811, 0.1461903173}, "raw data");
    for (size_t k = 0; k < what.size(); ++k) {
        expect_same_fit(fit_of(r, k + 1), raw, 1e-8, what[k]);
        EXPECT_FALSE(has_message(r, k + 1, 230, 17)) << what[k] << ": N set to 10000";
    }
    expect_same_fit(fit_of(r, reduced + 1), fit_of(r, reduced), 1e-8, "COV nobs=301 dfreduce=2");
    expect_same_fit(fit_of(r, reduced + 2), fit_of(r, reduced), 1e-8, "SYMATRIX nobs=301 dfreduce=2");
}

// The two schools of hs_by.csv (156 and 145 pupils), without the school.
std::vector<Data> schools() {
    const Data d = read_csv("hs_by.csv");
    std::vector<Data> school(2);
    for (Data& s : school) s.names.assign(d.names.begin() + 1, d.names.end());
    for (const auto& o : d.rows) school[o[0] == 1.0 ? 0 : 1].rows.emplace_back(o.begin() + 1, o.end());
    return school;
}

TEST(MomentDataWithoutNRow, EachByGroupTakesTheStatedN) {
    // hs_by's schools of 156 and 145 pupils as two covariance matrices
    // without N rows, read with NOBS=145: school 2 fits as its raw data;
    // school 1 keeps the estimates of its raw data with the standard errors
    // and chi-square of 145 observations, as lavaan gives them.
    const std::vector<Data> school = schools();
    const std::string dir = scratch_dir("mi_no_n_by");
    std::ofstream(dir + "/by.csv") << moment_header(school[0], "COV", "school,") << moment_rows(school[0], "COV", "1,")
                                   << moment_rows(school[1], "COV", "2,");
    const std::string tail = std::string(" method=ml covariance;\n") + kHsModel + "by school;\nrun;\n";
    auto r = run_velix("proc velix data=hs_by" + tail + "proc velix data='" + dir + "/by.csv' nobs=145" + tail,
                       {"hs_by.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_same_fit(fit_of(r, 1, 1), fit_of(r, 0, 1), 1e-8, "school 2");
    const GroupFit first = fit_of(r, 1, 0), firstRaw = fit_of(r, 0, 0);
    for (const auto& [name, v] : firstRaw.est) {
        EXPECT_LT(rel(first.est.at(name), v), 1e-8) << "school 1: " << name;
    }
    expect_lavaan(first, {59.36225192, 0.3937189831, 0.1272472347, 1.103982165, 0.2896408572}, "school 1 as 145");
}

TEST(MomentDataWithoutNRow, SscpTakesItsNFromTheInterceptElement) {
    // The Intercept x Intercept element is N and the sum of weights: the
    // means and the centred matrix are those of the raw data, with or
    // without NOBS=, in covariance and in correlation analysis.
    const Data d = read_csv("hs.csv");
    const std::string dir = scratch_dir("mi_no_n_sscp");
    write_sscp(dir + "/sscp.csv", d, false);
    std::string program;
    for (const std::string analysis : {" covariance", ""})
        for (const std::string& data : {std::string("hs"), "'" + dir + "/sscp.csv' nobs=301", "'" + dir + "/sscp.csv'"})
            program += "proc velix data=" + data + " method=ml" + analysis + ";\n" + kHsModel + "run;\n";
    auto r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto mean = means_of(d);
    for (size_t k = 0; k < 6; ++k) {
        if (k % 3 == 0) continue;
        const std::string what = std::string(k < 3 ? "covariance" : "correlation") + (k % 3 == 1 ? " nobs=301" : "");
        expect_same_fit(fit_of(r, k), fit_of(r, k - k % 3), 1e-8, what);
        const JsonValue& stats = r.table(k, "SimpleStatistics");
        for (size_t i = 0; i < d.p(); ++i) {
            EXPECT_LT(rel(cell(stats, i, "Mean").number(), mean[i]), kTol) << what << " " << d.names[i];
        }
    }
}

// ---- matrix rows matched by their names ----

// Two factors of x1-x6 on `data`, after `statements`.
std::string two_factors(const std::string& data, const std::string& statements = "") {
    return "proc velix data=" + data + " method=ml covariance;\n" + statements +
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,\n"
           "       x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6;\n"
           "std F1 = v1, F2 = v2, E1-E6 = ve1-ve6;\ncov F1 F2 = c12;\nrun;\n";
}

TEST(MomentData, MatrixRowsAreMatchedToTheVariablesByTheirNames) {
    // R's write.csv(cov(hs[, 1:6])) (hs_cov_r.csv), pandas' df.cov().to_csv()
    // of a frame whose columns have a name (the first header "variable"),
    // and R's crossprod with an Intercept column (hs_sscp_r.csv, TYPE=SSCP,
    // N its Intercept element) have rows named after the variables: they
    // are matched by those names, in another VAR order and for 5 of the 6
    // columns, with no WARNING about _TYPE_ or _NAME_; so is the R file read
    // as TYPE=SYMATRIX, analysed as given.  Each gives the fit of the raw
    // data, the two factors lavaan's chi-square of the matrix (r_matrices.R:
    // 24.2803708).
    const std::string dir = scratch_dir("mi_named_rows");
    std::string pandas = read_text(data_path("hs_cov_r.csv"));
    pandas.replace(0, 2, "variable");
    std::ofstream(dir + "/pandas.csv") << pandas;
    const std::vector<std::string> five = {"x5", "x3", "x1", "x2", "x4"};
    const std::string oneFactor = "proc velix method=ml covariance data=";
    std::string program = two_factors("hs") + oneFactor + "hs;\n" + one_factor(five) + "run;\n";
    std::vector<std::string> inputs = {"hs_cov_r(type=cov) nobs=301", "'" + dir + "/pandas.csv'(type=cov) nobs=301",
                                       "hs_sscp_r(type=sscp)", "hs_cov_r(type=symatrix) nobs=301"};
    for (const std::string& data : inputs)
        program += two_factors(data, "var x4 x1 x5 x2 x6 x3;\n") + oneFactor + data + ";\n" + one_factor(five) +
                   "run;\n";
    const auto r = run_velix(program, {"hs.csv", "hs_cov_r.csv", "hs_sscp_r.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_LT(rel(fit_of(r, 0).chisq, 24.2803708), 2e-5) << fit_of(r, 0).chisq;
    for (size_t k = 0; k < inputs.size(); ++k)
        for (size_t m = 0; m < 2; ++m) {
            const std::string what = inputs[k] + (m == 0 ? ", two factors" : ", one factor of five");
            expect_same_fit(fit_of(r, 2 + 2 * k + m), fit_of(r, m), 1e-8, what);
            EXPECT_FALSE(has_message(r, 2 + 2 * k + m, 230, 9) || has_message(r, 2 + 2 * k + m, 230, 10)) << what;
        }
}

TEST(MomentData, EachByGroupMatchesItsRowsByTheirNames) {
    // pandas' df.groupby("school").cov().reset_index().to_csv(index=False)
    // names the rows in its second column (level_1): each school's rows,
    // here with N rows and in reverse order, give the fit of its raw data.
    // Without reset_index() that column has no name ("school,,x1,...");
    // these rows, without _TYPE_ and N rows, fit under NOBS= as they do
    // with the column named.
    const std::vector<Data> school = schools();
    const std::string dir = scratch_dir("mi_named_rows_by");
    std::ofstream out(dir + "/by.csv");
    std::ofstream unnamed(dir + "/unnamed.csv"), named(dir + "/named.csv");
    std::string header = moment_header(school[0], "COV", "school,");
    out << header.replace(header.find("_NAME_"), 6, "level_1");
    unnamed << "school,";
    named << "school,level_1";
    for (const std::string& v : school[0].names) {
        unnamed << "," << v;
        named << "," << v;
    }
    unnamed << "\n";
    named << "\n";
    for (size_t g = 0; g < 2; ++g) {
        const std::string lead = std::to_string(g + 1) + ",";
        std::istringstream rows(moment_rows(school[g], "COV", lead));
        std::vector<std::string> lines;
        for (std::string line; std::getline(rows, line);) lines.push_back(line);
        out << lead << "N,";
        for (size_t j = 0; j < school[g].p(); ++j) out << "," << school[g].rows.size();
        out << "\n";
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) out << *it << "\n";
        for (const std::string& line : lines)
            if (line.compare(lead.size(), 4, "COV,") == 0) {
                unnamed << lead << line.substr(lead.size() + 4) << "\n";
                named << lead << line.substr(lead.size() + 4) << "\n";
            }
    }
    out.close();
    unnamed.close();
    named.close();
    const std::string tail = std::string(" method=ml covariance;\n") + kHsModel + "by school;\nrun;\n";
    const auto r = run_velix("proc velix data=hs_by" + tail + "proc velix data='" + dir + "/by.csv'" + tail +
                                 "proc velix nobs=150 data='" + dir + "/named.csv'(type=cov)" + tail +
                                 "proc velix nobs=150 data='" + dir + "/unnamed.csv'(type=cov)" + tail,
                             {"hs_by.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (size_t g = 0; g < 2; ++g) {
        expect_same_fit(fit_of(r, 1, g), fit_of(r, 0, g), 1e-8, "school " + std::to_string(g + 1));
        expect_same_fit(fit_of(r, 3, g), fit_of(r, 2, g), 1e-8, "unnamed, school " + std::to_string(g + 1));
    }
    EXPECT_FALSE(has_message(r, 1, 230, 10));
    // Without a TYPE its rows are observations: a WARNING says what they
    // look like and how to read them.
    const auto raw = run_velix("proc velix data='" + dir + "/unnamed.csv'" + tail, {});
    EXPECT_NE(raw.log.find("looks like 2 covariance matrices, one after another: column 2 names their rows"),
              std::string::npos)
        << raw.log;
}

TEST(MomentData, RowsTakenInOrderThatGiveAnElementTwoValuesAreAnError) {
    // R's write.csv(cov(hs[, 1:6]), row.names = FALSE): no names, the rows
    // taken in order.  In the file's order they fit as the raw data; in
    // another VAR order they would be another matrix: an ERROR that names
    // the element, and nothing is fitted.
    const std::string dir = scratch_dir("mi_rows_in_order");
    std::istringstream in(read_text(data_path("hs_cov_r.csv")));
    std::ofstream out(dir + "/bare.csv");
    for (std::string line; std::getline(in, line);) out << line.substr(line.find(',') + 1) << "\n";
    out.close();
    const std::string data = "'" + dir + "/bare.csv'(type=cov) nobs=301";
    const auto r = run_velix(two_factors("hs") + two_factors(data, "var x1-x6;\n") +
                                 two_factors(data, "var x2 x1 x3-x6;\n"),
                             {"hs.csv"});
    expect_same_fit(fit_of(r, 1), fit_of(r, 0), 1e-8, "in the file's order");
    EXPECT_NE(r.log.find("ERROR: The matrix rows of the moment data set, taken in order for want of a _NAME_ "
                         "variable, give the element of x2 and x1 two values, 1.3629 and 1.38639: the rows are not "
                         "in the order of the analysis variables."),
              std::string::npos)
        << r.log;
    EXPECT_GE(return_code(r, 2), 108);
    EXPECT_TRUE(r.items(2, "factoid", "Fit").empty()) << "nothing is fitted";
}

// ---- PARTIAL with moment data ----

// Two correlated factors of x1-x8 with x9 partialled out.
const std::string kPartialModel =
    "var x1-x8;\npartial x9;\n"
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x7 = l7 F1 + E7,\n"
    "       x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6, x8 = l8 F2 + E8;\n"
    "std F1 F2 = v1 v2, E1-E8 = e1-e8;\ncov F1 F2 = c12;\nrun;\n";

// The rows of one group of a moment data set over `names`, each after
// `by` (the BY value and its comma, or nothing): the statistic rows, then
// one matrix row of type `matrixType` per variable.
void moment_rows(std::ostream& out, const std::string& by, const std::vector<std::string>& names,
                 const std::vector<std::pair<std::string, std::vector<double>>>& stats,
                 const std::string& matrixType, const Matrix& m) {
    auto row = [&](const std::string& type, const std::string& name, const std::vector<double>& v) {
        out << by << type << "," << name;
        for (double x : v) out << "," << number_text(x);
        out << "\n";
    };
    for (const auto& st : stats) row(st.first, "", st.second);
    for (size_t i = 0; i < names.size(); ++i) row(matrixType, names[i], m[i]);
}

// The moment data sets of d as users type them from papers, written to
// dir/<type>.csv (lower case), every group of `groups` after its BY value
// when there are several.  Moments about the means have the divisor N - 1,
// about zero N.
std::vector<std::string> write_moment_forms(const std::string& dir, const std::vector<Data>& groups) {
    const bool byGroups = groups.size() > 1;
    std::vector<std::string> files;
    for (const std::string type : {"COV", "CORR", "UCOV", "UCORR", "SYMATRIX"}) {
        std::string file = type;
        for (char& c : file) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        files.push_back(file);
        std::ofstream out(dir + "/" + file + ".csv");
        out << "# TYPE=" << type << "\n" << (byGroups ? "school," : "") << "_TYPE_,_NAME_";
        for (const std::string& v : groups[0].names) out << "," << v;
        out << "\n";
        for (size_t g = 0; g < groups.size(); ++g) {
            const Data& d = groups[g];
            const size_t p = d.p();
            const double n = static_cast<double>(d.rows.size());
            const bool aboutZero = type[0] == 'U';
            Matrix m = cov_of(d, n - 1.0);
            for (size_t i = 0; i < p && aboutZero; ++i)
                for (size_t j = 0; j < p; ++j) {
                    double t = 0.0;
                    for (const auto& o : d.rows) t += o[i] * o[j];
                    m[i][j] = t / n;
                }
            std::vector<double> sd(p);
            for (size_t i = 0; i < p; ++i) sd[i] = std::sqrt(m[i][i]);
            if (type.find("CORR") != std::string::npos)
                for (size_t i = 0; i < p; ++i)
                    for (size_t j = 0; j < p; ++j) m[i][j] /= sd[i] * sd[j];
            std::vector<std::pair<std::string, std::vector<double>>> stats = {{"N", std::vector<double>(p, n)}};
            if (type != "SYMATRIX") {
                stats.push_back({"MEAN", means_of(d)});
                stats.push_back({aboutZero ? "USTD" : "STD", sd});
            }
            moment_rows(out, byGroups ? std::to_string(g + 1) + "," : "", d.names, stats, type, m);
        }
    }
    return files;
}

TEST(MomentData, EveryMomentFormSweepsOutThePartialVariablesAsRawDataDo) {
    // R's lavaan 0.6.14 on the partial covariance of hs (partial_reference.R):
    // F, chi-square on 19 df with N - 2 = 299, the loading l2 and its
    // standard error.  The same fit from the raw data and from each moment
    // data set, at the default stopping criteria.
    const double kF = 0.3371287552, kChi = 100.80149780, kL2 = 0.60378892, kSeL2 = 0.14080032;
    const std::string dir = scratch_dir("mi_partial");
    std::vector<std::string> files = write_moment_forms(dir, {read_csv("hs.csv")});
    write_sscp(dir + "/sscp.csv", read_csv("hs.csv"));
    files.push_back("sscp");
    std::string program = "proc velix data=hs method=ml covariance;\n" + kPartialModel;
    for (const std::string& f : files)
        program += "proc velix data='" + dir + "/" + f + ".csv' method=ml covariance;\n" + kPartialModel;
    auto r = run_velix(program, {"hs.csv"});
    const auto fit_of = [&](size_t step) { return factoid_values(*r.items(step, "factoid", "Fit").at(0)); };
    for (size_t step = 0; step <= files.size(); ++step) {
        const std::string what = step == 0 ? "raw data" : files[step - 1];
        ASSERT_EQ(return_code(r, step), 0) << what << "\n" << r.log;
        EXPECT_EQ(factoid_entry(r, step, "GenModInfo", 306), 300.0) << what;
        const auto fit = fit_of(step);
        EXPECT_LT(rel(fit.at("Fit Function"), kF), 1e-8) << what << ": " << fit.at("Fit Function");
        EXPECT_LT(rel(fit.at("Chi-Square"), kChi), 1e-8) << what << ": " << fit.at("Chi-Square");
        // The optimizer stops at its default criteria, a few 1e-6 from
        // lavaan's point; the forms stop where the raw data do.
        const double l2 = column_by_parameter(result_table(r, step), "Estimate").at("l2");
        const double se = column_by_parameter(result_table(r, step), "AppStdErr").at("l2");
        EXPECT_LT(rel(l2, kL2), 2e-5) << what << ": l2 " << l2;
        EXPECT_LT(rel(se, kSeL2), 2e-5) << what << ": its standard error " << se;
        EXPECT_LT(rel(l2, column_by_parameter(result_table(r, 0), "Estimate").at("l2")), 1e-9) << what;
    }
}

TEST(MomentData, PartialVariablesAreSweptOutOfTheMomentsOfEachByGroup) {
    // lavaan's F in each school of hs_by (partial_reference.R).
    const double kF[2] = {0.4483679004, 0.3917041646};
    const std::string dir = scratch_dir("mi_partial_by");
    const Data d = read_csv("hs_by.csv");
    std::vector<Data> groups(2);
    for (Data& g : groups) g.names.assign(d.names.begin() + 1, d.names.end());
    for (const auto& o : d.rows) groups[static_cast<size_t>(o[0]) - 1].rows.emplace_back(o.begin() + 1, o.end());
    const std::vector<std::string> files = write_moment_forms(dir, groups);
    std::string program = "proc velix data=hs_by method=ml covariance;\nby school;\n" + kPartialModel;
    for (const std::string& f : files)
        program += "proc velix data='" + dir + "/" + f + ".csv' method=ml covariance;\nby school;\n" + kPartialModel;
    auto r = run_velix(program, {"hs_by.csv"});
    for (size_t step = 0; step <= files.size(); ++step) {
        const std::string what = step == 0 ? "raw data" : files[step - 1];
        ASSERT_EQ(return_code(r, step), 0) << what << "\n" << r.log;
        const auto fits = r.items(step, "factoid", "Fit");
        ASSERT_EQ(fits.size(), 2u) << what;
        for (size_t g = 0; g < 2; ++g) {
            const double f = factoid_values(*fits[g]).at("Fit Function");
            EXPECT_LT(rel(f, kF[g]), 1e-8) << what << ", school " << g + 1 << ": " << f;
        }
    }
}

// ---- numerical decisions ----

TEST(MomentNumerics, DataInSmallUnitsAreNotDeclaredSingular) {
    // hs x1-x3 times 1e-4: every variance near 1e-8, every fourth moment
    // near 1e-16, yet the matrices are as well conditioned as the unscaled.
    const Data d = columns(read_csv("hs.csv"), 3);
    Data small = d;
    for (auto& o : small.rows)
        for (double& x : o) x *= 1e-4;
    const std::string dir = scratch_dir("mi_small");
    write_csv(dir + "/small.csv", small);
    const double n = static_cast<double>(d.rows.size());
    const Matrix s = cov_of(small, n - 1.0);
    // ln det S by the Cholesky factor of the scaled-up matrix.
    Matrix l = cov_of(d, n - 1.0);
    double logdet = 3.0 * std::log(1e-8);
    for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < j; ++k) l[j][j] -= l[j][k] * l[j][k];
        l[j][j] = std::sqrt(l[j][j]);
        logdet += 2.0 * std::log(l[j][j]);
        for (int i = j + 1; i < 3; ++i) {
            for (int k = 0; k < j; ++k) l[i][j] -= l[i][k] * l[j][k];
            l[i][j] /= l[j][j];
        }
    }
    for (const char* m : {"ml", "gls", "wls", "dwls"}) {
        const std::string out = dir + "/w_" + m + ".csv";
        auto r = run_velix("proc velix data='" + dir + "/small.csv' method=" + m +
                               " covariance kurtosis pcorr pweight outwgt='" + out + "';\n" + one_factor(kX123) +
                               "run;\n",
                           {});
        ASSERT_EQ(return_code(r, 0), 0) << m << "\n" << r.log;
        for (int note : {8, 12, 24, 25}) {
            EXPECT_FALSE(has_message(r, 0, 352, note)) << m << " note " << note;
        }
        const JsonValue& det = r.table(0, "InCovDet");
        EXPECT_LT(std::fabs(cell(det, 0, "LogDet").number() - logdet), 1e-9) << m;
        EXPECT_FALSE(std::isnan(factoid_entry(r, 0, "Kurtosis", 313))) << m << ": Mardia's kurtosis needs the inverse";
        if (std::string(m) == "gls") expect_matrix_near(read_values(out, 2), s, 1e-10, "GLS weights");
        // GLS weighs by the inverse found above; the others factor their own.
        if (std::string(m) == "wls" || std::string(m) == "dwls") {
            const JsonValue& wdet = r.table(0, "WeightsDet");
            EXPECT_TRUE(cell(wdet, 0, "LogDet").is_number()) << m << ": weight matrix declared singular";
        }
    }
}

TEST(MomentNumerics, AConstantVariableUnderWeightsActsAsTheIntercept) {
    // Moments about zero with weights: the weighted second moment of a
    // constant a is (sum of weights / divisor) a^2, which the test must match
    // with that factor, not its square.
    Data d;
    d.names = {"x1", "x2", "c", "w"};
    for (int o = 0; o < 30; ++o)
        d.rows.push_back({std::sin(o + 1.0) + 1.0, std::cos(2.0 * o) + 2.0, 2.5, 0.5 + (o % 3)});
    const std::string dir = scratch_dir("mi_const");
    write_csv(dir + "/cw.csv", d);
    auto r = run_velix("proc velix data='" + dir + "/cw.csv' method=none ucov covariance pcorr;\nvar x1 x2 c;\n"
                       "weight w;\n" + one_factor({"x1", "x2", "c"}) + "run;\n",
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 7)) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 18)) << r.log;
    // With the intercept the divisor is N - 1; the moments stay about zero.
    const double divisor = static_cast<double>(d.rows.size()) - 1.0;
    Matrix want(2, std::vector<double>(2, 0.0));
    double cc = 0.0;
    for (const auto& o : d.rows) {
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) want[i][j] += o[3] * o[i] * o[j] / divisor;
        cc += o[3] * o[2] * o[2] / divisor;
    }
    expect_matrix_near(matrix_of(r, 0, "InCov"), want, kTol, "moments about zero without the intercept");
    const JsonValue& stats = r.table(0, "SimpleStatistics");
    EXPECT_LT(rel(cell(stats, 2, "StD").number(), std::sqrt(cc)), kTol);
}

TEST(MomentNumerics, AnInterceptFoundInOneByGroupDoesNotCarryOver) {
    // Group "k" has a constant variable c, group "v" does not; both orders.
    Data d;
    d.names = {"g", "x1", "x2", "c"};
    for (int o = 0; o < 40; ++o)
        d.rows.push_back({0.0, std::sin(o + 1.0) + 1.0, std::cos(3.0 * o) + 2.0, o < 20 ? 2.0 : 3.0 + std::sin(5.0 * o)});
    const std::string dir = scratch_dir("mi_bygroups");
    for (int order = 0; order < 2; ++order) {
        // The constant group first (order 0) or second (order 1).
        for (int o = 0; o < 40; ++o) d.rows[o][0] = (o < 20) == (order == 0) ? 1.0 : 2.0;
        Data sorted = d;
        std::stable_sort(sorted.rows.begin(), sorted.rows.end(),
                         [](const std::vector<double>& a, const std::vector<double>& b) { return a[0] < b[0]; });
        write_csv(dir + "/byc.csv", sorted);
        auto r = run_velix("proc velix data='" + dir + "/byc.csv' method=none ucov covariance pcorr;\n"
                           "var x1 x2 c;\nby g;\n" + one_factor({"x1", "x2", "c"}) + "run;\n",
                           {});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const size_t constant = order == 0 ? 0 : 1, varying = 1 - constant;
        // The varying group: moments about zero of all three with divisor N.
        Matrix want(3, std::vector<double>(3, 0.0));
        for (int o = 20; o < 40; ++o)
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) want[i][j] += d.rows[o][i + 1] * d.rows[o][j + 1] / 20.0;
        expect_matrix_near(matrix_of(r, 0, "InCov", varying), want, kTol, "group without the intercept");
        EXPECT_EQ(matrix_of(r, 0, "InCov", constant).size(), 2u) << "the intercept leaves the printed matrix";
        int notes = 0;
        for (int m : r.messages(0, 352)) notes += m == 7;
        EXPECT_EQ(notes, 1) << "order " << order;
    }
}

TEST(MomentNumerics, PartialVariablesAreSweptOutWithTheirDegreesOfFreedom) {
    const Data d = columns(read_csv("hs.csv"), 5);
    const double n = static_cast<double>(d.rows.size());
    const Matrix c = cov_of(d, 1.0);
    // C11 - C12 C22^-1 C21 over x1-x3 with x4, x5 partialled out.
    Matrix c22 = {{c[3][3], c[3][4]}, {c[4][3], c[4][4]}};
    const Matrix inv = inverse_of(c22);
    Matrix partial(3, std::vector<double>(3, 0.0));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double t = c[i][j];
            for (int a = 0; a < 2; ++a)
                for (int b = 0; b < 2; ++b) t -= c[i][3 + a] * inv[a][b] * c[3 + b][j];
            partial[i][j] = t;
        }
    struct Case {
        std::string options;
        double divisor;  // DF: N - 1 - q; N: N
        double nAfter;   // GenModInfo 306
    } cases[] = {{"", n - 3.0, n - 2.0}, {"vardef=n", n, n}};
    for (const Case& k : cases) {
        auto r = run_velix("proc velix data=hs method=none covariance pcorr " + k.options +
                               ";\nvar x1 x2 x3;\npartial x4 x5;\n" + one_factor(kX123) + "run;\n",
                           {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        Matrix want = partial;
        for (auto& row : want)
            for (double& x : row) x /= k.divisor;
        expect_matrix_near(matrix_of(r, 0, "InCov"), want, kTol, "partial covariances " + k.options);
        EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 302), 2.0);
        EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 306), k.nAfter) << k.options;
        EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 300), n) << k.options;
    }
}

TEST(MomentNumerics, TheAutomaticRidgeLiftsTheSmallestEigenvalueToItsTarget) {
    // Two variables correlated r: the correlation matrix has eigenvalues
    // 1 +- r.  A smallest eigenvalue in [0, 0.001) gives the ridge k = 0.001,
    // which adds k (1 + k 1e-8) to each diagonal element and lifts it above
    // the target at once; the determinant follows in closed form.
    // Well-conditioned data stay as they are.
    Data d;
    d.names = {"a", "b"};
    for (int o = 0; o < 50; ++o) {
        const double t = std::sin(0.7 * o) * 3.0;
        d.rows.push_back({t, t + 0.001 * std::cos(1.3 * o)});
    }
    const std::string dir = scratch_dir("mi_ridge");
    write_csv(dir + "/near.csv", d);
    const Matrix c = cov_of(d, 1.0);
    const double r12 = c[1][0] / std::sqrt(c[0][0] * c[1][1]);
    ASSERT_LT(1.0 - r12, 0.001);
    const double k = 0.001;
    const double diag = 1.0 + k * (1.0 + k * 1e-8);
    auto r = run_velix("proc velix data='" + dir + "/near.csv' method=none ridge pcorr;\n" +
                           one_factor({"a", "b"}) + "run;\n",
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 21));
    EXPECT_LT(std::fabs(cell(r.table(0, "InCorrDet"), 0, "LogDet").number() - std::log(diag * diag - r12 * r12)),
              1e-9);

    const Data h = columns(read_csv("hs.csv"), 2);
    const Matrix ch = cov_of(h, 1.0);
    const double rh = ch[1][0] / std::sqrt(ch[0][0] * ch[1][1]);
    auto w = run_velix("proc velix data=hs method=none ridge pcorr;\nvar x1 x2;\n" + one_factor({"x1", "x2"}) +
                           "run;\n",
                       {"hs.csv"});
    ASSERT_EQ(w.exitStatus, 0) << w.log;
    EXPECT_FALSE(has_message(w, 0, 352, 21));
    EXPECT_LT(std::fabs(cell(w.table(0, "InCorrDet"), 0, "LogDet").number() - std::log(1.0 - rh * rh)), 1e-12);
}

TEST(MomentNumerics, KurtosisContributionsNameTheDataSetObservationOnEveryPath) {
    // hs x1-x3 with x2 missing in every seventh observation: the largest
    // contributions w (d' S^-1 d)^2 (S with divisor N over the complete
    // observations, Mardia 1970), normalised (c - p(p+2)) / sqrt(8 p(p+2) / N),
    // are listed under their observation numbers in the data set, whether
    // the kurtosis pass or the WLS or DWLS weight pass reads the data.
    Data d = columns(read_csv("hs.csv"), 3);
    for (size_t o = 0; o < d.rows.size(); o += 7) d.rows[o][1] = std::nan("");
    const std::string dir = scratch_dir("mi_kurtosis");
    write_csv(dir + "/hsm.csv", d);
    Data complete;
    complete.names = d.names;
    std::vector<int> number;
    for (size_t o = 0; o < d.rows.size(); ++o)
        if (!std::isnan(d.rows[o][1])) {
            complete.rows.push_back(d.rows[o]);
            number.push_back(static_cast<int>(o) + 1);
        }
    const double n = static_cast<double>(complete.rows.size());
    const auto mean = means_of(complete);
    const Matrix inv = inverse_of(cov_of(complete, n));
    std::vector<std::pair<double, int>> c;
    for (size_t o = 0; o < complete.rows.size(); ++o) {
        double q = 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) q += (complete.rows[o][i] - mean[i]) * inv[i][j] * (complete.rows[o][j] - mean[j]);
        c.emplace_back(q * q, number[o]);
    }
    std::sort(c.begin(), c.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const double m = 15.0, sigma = std::sqrt(8.0 * m / n);
    for (const char* method : {"none", "wls", "dwls"}) {
        auto r = run_velix("proc velix data='" + dir + "/hsm.csv' method=" + method + " covariance kurtosis;\n" +
                               one_factor(kX123) + "run;\n",
                           {});
        ASSERT_EQ(return_code(r, 0), 0) << method << "\n" << r.log;
        const auto found = r.items(0, "matrix", "ContKurtosis");
        ASSERT_EQ(found.size(), 1u) << method;
        const JsonValue& t = *found.front();
        ASSERT_EQ(t["rowLabels"].size(), 5u) << method;
        for (size_t k = 0; k < 5; ++k) {
            EXPECT_EQ(t["rowLabels"][k].str(), "Observation " + std::to_string(c[k].second))
                << method << " place " << k;
            EXPECT_LT(rel(t["values"][k][0].number(), (c[k].first - m) / sigma), 1e-9) << method << " place " << k;
        }
    }
}

TEST(MomentNumerics, AFrequencyCountsItsFloorOnEveryPassLikeRepeatedObservations) {
    // FREQ values 1.5, 2.7, 1 and 0.5 in turn act as 1, 2, 1 and 0 copies of
    // the observation: the moments, the WLS weights of the weight pass and
    // the kurtosis equal those of the data with the copies written out.
    const Data d = columns(read_csv("hs.csv"), 3);
    const double freq[4] = {1.5, 2.7, 1.0, 0.5};
    Data withFreq, copies;
    withFreq.names = {"x1", "x2", "x3", "f"};
    copies.names = kX123;
    for (size_t o = 0; o < 60; ++o) {
        std::vector<double> row = d.rows[o];
        for (int c = 0; c < static_cast<int>(freq[o % 4]); ++c) copies.rows.push_back(row);
        row.push_back(freq[o % 4]);
        withFreq.rows.push_back(row);
    }
    const std::string dir = scratch_dir("mi_freq");
    write_csv(dir + "/f.csv", withFreq);
    write_csv(dir + "/c.csv", copies);
    const std::string tail = " method=wls covariance kurtosis pcorr outwgt='" + dir;
    auto r = run_velix("proc velix data='" + dir + "/f.csv'" + tail + "/wf.csv';\nvar x1 x2 x3;\nfreq f;\n" +
                           one_factor(kX123) + "run;\nproc velix data='" + dir + "/c.csv'" + tail + "/wc.csv';\n" +
                           one_factor(kX123) + "run;\n",
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 300), static_cast<double>(copies.rows.size()));
    expect_matrix_near(matrix_of(r, 0, "InCov"), matrix_of(r, 1, "InCov"), 1e-12, "moments");
    expect_matrix_near(read_values(dir + "/wf.csv", 4), read_values(dir + "/wc.csv", 4), 1e-12, "WLS weights");
    for (int entry : {313, 510, 511, 512, 314, 513}) {
        EXPECT_LT(std::fabs(factoid_entry(r, 0, "Kurtosis", entry) - factoid_entry(r, 1, "Kurtosis", entry)), 1e-12)
            << "kurtosis entry " << entry;
    }
}

TEST(MomentNumerics, RowsLeftOutAreCountedByReasonAndChangeNothingElse) {
    // Of 60 rows two miss an analysis value and two a usable weight; one
    // misses a value of a variable that is not analysed and stays.  The
    // moments and N are those of the data without the four rows, and a
    // NOTE says how many rows were left out and why.
    const Data d = columns(read_csv("hs.csv"), 4);
    Data all, kept;
    all.names = kept.names = {"x1", "x2", "x3", "x4", "w"};
    for (size_t o = 0; o < 60; ++o) {
        std::vector<double> row = d.rows[o];
        row.push_back(1.0);
        if (o == 3) row[0] = std::nan("");
        if (o == 10) row[2] = std::nan("");
        if (o == 20) row[3] = std::nan("");
        if (o == 30) row[4] = 0.0;
        if (o == 40) row[4] = std::nan("");
        all.rows.push_back(row);
        if (o != 3 && o != 10 && o != 30 && o != 40) kept.rows.push_back(row);
    }
    const std::string dir = scratch_dir("mi_missing");
    write_csv(dir + "/all.csv", all);
    write_csv(dir + "/kept.csv", kept);
    const std::string rest = " method=none covariance pcorr;\nvar x1 x2 x3;\nweight w;\n" + one_factor(kX123) + "run;\n";
    auto r = run_velix("proc velix data='" + dir + "/all.csv'" + rest + "proc velix data='" + dir + "/kept.csv'" + rest,
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 300), 56.0);
    expect_matrix_near(matrix_of(r, 0, "InCov"), matrix_of(r, 1, "InCov"), 1e-12, "moments");
    const std::string note = "NOTE: 4 of the 60 observations of data set " + dir +
                             "/all.csv were not used: 2 with a missing value of an analysis variable, 2 with a "
                             "WEIGHT value that is missing or not positive.";
    EXPECT_NE(r.log.find(note), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("were not used"), r.log.rfind("were not used")) << "a note for the complete data";
}

TEST(MomentNumerics, AFailedGlsWeightFactorFallsBackToUlsWithoutWeightOutput) {
    // WRIDGE=-1 zeroes the diagonal of the GLS weights: the factor fails.
    // ULS then GLS goes on with ULS (note 24), which is not what was asked
    // for: 108; GLS alone stops (note 25).  Both name the weight matrix.
    const std::string dir = scratch_dir("mi_glsfail");
    const std::string model = "var x1 x2 x3;\n" + one_factor(kX123) + "run;\n";
    auto r = run_velix("proc velix data=hs method=lsgls covariance wridge=-1 outwgt='" + dir + "/w.csv';\n" + model +
                           "proc velix data=hs method=gls covariance wridge=-1 outwgt='" + dir + "/g.csv';\n" + model,
                       {"hs.csv"});
    EXPECT_EQ(return_code(r, 0), 108) << r.log;
    for (int note : {11, 24}) {
        EXPECT_TRUE(has_message(r, 0, 352, note)) << "note " << note;
    }
    EXPECT_NE(r.log.find("WARNING: The weight matrix is singular; the analysis is by ULS only.\n"), std::string::npos)
        << r.log;
    EXPECT_NE(r.log.find("ERROR: The weight matrix is singular; METHOD=GLS cannot be used.\n"), std::string::npos);
    EXPECT_TRUE(read_values(dir + "/w.csv", 2).empty()) << "weights written from a failed factor";
    EXPECT_EQ(return_code(r, 1), 108);
    EXPECT_TRUE(has_message(r, 1, 352, 25));
    EXPECT_TRUE(read_values(dir + "/g.csv", 2).empty());
}

// ---- input errors ----

TEST(MomentErrors, BadInputGivesItsMessageAndCode) {
    const std::string dir = scratch_dir("mi_errors");
    const std::string ab = one_factor({"a", "b"}) + "run;\n";
    // A character analysis variable.
    std::ofstream(dir + "/chr.csv") << "a,s\n1,x\n2,y\n3,z\n4,w\n";
    auto chr = run_velix("proc velix data='" + dir + "/chr.csv' method=none covariance;\nvar a s;\n" +
                             one_factor({"a", "s"}) + "run;\n",
                         {});
    EXPECT_EQ(return_code(chr, 0), 2000);
    EXPECT_TRUE(has_message(chr, 0, 352, 87)) << chr.log;
    EXPECT_TRUE(chr.items(0, "table", "SimpleStatistics").empty());
    // No usable observation: every row misses a value or has no weight.
    std::ofstream(dir + "/empty.csv") << "a,b,w\n1,.,1\n.,2,1\n3,4,0\n";
    auto e = run_velix("proc velix data='" + dir + "/empty.csv' method=none covariance;\nweight w;\n" + ab, {});
    EXPECT_EQ(return_code(e, 0), 108) << e.log;
    EXPECT_NE(e.log.find("No observation of data set"), std::string::npos) << e.log;
    EXPECT_TRUE(e.items(0, "table", "SimpleStatistics").empty());
    // A moment data set without its matrix rows, and one with a row short.
    std::ofstream(dir + "/nomat.csv") << "# TYPE=COV\n_TYPE_,_NAME_,a,b\nN,,10,10\nMEAN,,1,2\n";
    std::ofstream(dir + "/half.csv") << "# TYPE=CORR\n_TYPE_,_NAME_,a,b\nN,,10,10\nCORR,a,1,.\n";
    for (const char* f : {"nomat", "half"}) {
        auto m = run_velix("proc velix data='" + dir + "/" + f + ".csv' method=none covariance;\n" + ab, {});
        EXPECT_EQ(return_code(m, 0), 108) << f << "\n" << m.log;
        EXPECT_TRUE(has_message(m, 0, 230, 15)) << f << "\n" << m.log;
    }
    // The row that is missing is named.
    const auto half = run_velix("proc velix data='" + dir + "/half.csv' method=none;\n" + ab, {});
    EXPECT_TRUE(has_message(half, 0, 230, 60) && half.log.find("has no row of b") != std::string::npos) << half.log;
    // An SSCP data set whose INTERCEPT variable is character cannot carry
    // the intercept's sums.
    std::ofstream(dir + "/sscpchr.csv") << "# TYPE=SSCP\n_TYPE_,_NAME_,a,b,INTERCEPT\nN,,10,10,x\n"
                                           "SSCP,a,30,20,y\nSSCP,b,20,40,z\nSSCP,INTERCEPT,10,12,w\n";
    auto sc = run_velix("proc velix data='" + dir + "/sscpchr.csv' method=none covariance;\nvar a b;\n" + ab, {});
    EXPECT_EQ(return_code(sc, 0), 1008) << sc.log;
    EXPECT_TRUE(has_message(sc, 0, 230, 32)) << sc.log;
    // A PARTIAL variable of the data set without its matrix row cannot be
    // swept out: an error that names it, for SYMATRIX too.
    for (const char* type : {"COV", "SYMATRIX"}) {
        std::ofstream(dir + "/nopartial.csv") << "# TYPE=" << type << "\n_TYPE_,_NAME_,a,b,c\nN,,10,10,10\n"
                                              << type << ",a,2,1,0.5\n" << type << ",b,1,3,0.5\n";
        auto np = run_velix("proc velix data='" + dir + "/nopartial.csv' method=none covariance;\nvar a b;\n"
                            "partial c;\n" + ab, {});
        EXPECT_EQ(return_code(np, 0), 108) << type << "\n" << np.log;
        EXPECT_NE(np.log.find("ERROR: The moment data set lacks moments of the PARTIAL variables c."),
                  std::string::npos) << type << "\n" << np.log;
    }
}

TEST(MomentErrors, AnInwgtOfTheWrongOrderIsRefused) {
    const std::string dir = scratch_dir("mi_inwgt");
    const std::string three = "var x1 x2 x3;\n" + one_factor(kX123) + "run;\n";
    const std::string two = "var x1 x2;\n" + one_factor({"x1", "x2"}) + "run;\n";
    struct Case {
        std::string method;
        int code;                   // return code of the second step
        std::vector<int> messages;  // of group 352
    } cases[] = {{"gls", 1008, {36}}, {"dwls", 108, {36, 10}}, {"wls", 108, {38, 36, 10}}};
    for (const Case& c : cases) {
        // Weights of two variables for a model of three: the third is absent
        // from INWGT=.
        auto r = run_velix("proc velix data=hs method=" + c.method + " covariance outwgt='" + dir + "/w2.csv';\n" +
                               two + "proc velix data=hs method=" + c.method + " covariance inwgt='" + dir +
                               "/w2.csv';\n" + three,
                           {"hs.csv"});
        EXPECT_EQ(return_code(r, 1), 1008) << c.method << "\n" << r.log;
        EXPECT_TRUE(has_message(r, 1, 352, 407)) << c.method << "\n" << r.log;
        // Weights of three variables whose rows of x3 are lost.
        auto w = run_velix("proc velix data=hs method=" + c.method + " covariance outwgt='" + dir + "/w3.csv';\n" +
                               three,
                           {"hs.csv"});
        ASSERT_EQ(return_code(w, 0), 0) << w.log;
        std::ifstream in(dir + "/w3.csv");
        std::string line, kept;
        while (std::getline(in, line))
            if (line.rfind("WEIGHT,x3", 0) != 0) kept += line + "\n";
        in.close();
        std::ofstream(dir + "/cut.csv") << kept;
        auto cut = run_velix("proc velix data=hs method=" + c.method + " covariance inwgt='" + dir + "/cut.csv';\n" +
                                 three,
                             {"hs.csv"});
        EXPECT_EQ(return_code(cut, 0), c.code) << c.method << "\n" << cut.log;
        for (int m : c.messages) {
            EXPECT_TRUE(has_message(cut, 0, 352, m)) << c.method << " message " << m;
        }
        EXPECT_EQ(cut.log.find("cut     "), std::string::npos) << "the data set name is padded: " << cut.log;
    }
    // Weights over the moment pairs for a method that weighs the variables,
    // and the other way round.
    auto wls = run_velix("proc velix data=hs method=wls covariance outwgt='" + dir + "/pairs.csv';\n" + three +
                             "proc velix data=hs method=gls covariance inwgt='" + dir + "/pairs.csv';\n" + three +
                             "proc velix data=hs method=dwls covariance inwgt='" + dir + "/pairs.csv';\n" + three +
                             "proc velix data=hs method=gls covariance outwgt='" + dir + "/matrix.csv';\n" + three +
                             "proc velix data=hs method=wls covariance inwgt='" + dir + "/matrix.csv';\n" + three,
                         {"hs.csv"});
    ASSERT_EQ(return_code(wls, 0), 0) << wls.log;
    for (size_t step : {1, 2}) {
        EXPECT_EQ(return_code(wls, step), 1008) << "step " << step << "\n" << wls.log;
        EXPECT_TRUE(has_message(wls, step, 352, 415)) << "step " << step;
    }
    EXPECT_EQ(return_code(wls, 4), 1008);
    EXPECT_TRUE(has_message(wls, 4, 352, 407));
}

}  // namespace
