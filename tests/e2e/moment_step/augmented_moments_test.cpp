// The augmented moment matrix (AUGMENT): the analysis variables and the
// constant 1, the variable "Intercept", with the moments about zero
//   M = sum_o w_o z_o z_o' / D,   z_o = (x_o, 1),
// D the divisor of the VARDEF kind with one degree of freedom for the
// intercept (N - 1, sum of weights - 1, ...), checked with METHOD=NONE
// against that definition computed here from the data: raw data with and
// without weights and frequencies, moment data (TYPE=COV with means, SSCP
// with an Intercept variable), the kurtosis, OUTSTAT=, INWGT= and the
// GLS, DWLS and WLS weights (the asymptotic covariance of the moments of
// z, Browne 1984), and the LINEQS rule that drops an intercept the model
// does not name.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "direct_moments.h"

namespace {

using namespace velix::test;

constexpr double kTol = 1e-10;

// hs x1-x3 with a weight w (0.5 to 1.98) and a frequency f (1 to 3)
// varying along the observations.
Data weighted_hs() {
    Data d = columns(read_csv("hs.csv"), 3);
    d.names.push_back("w");
    d.names.push_back("f");
    for (size_t o = 0; o < d.rows.size(); ++o) {
        d.rows[o].push_back(0.5 + 0.37 * static_cast<double>((o * 7) % 5));
        d.rows[o].push_back(static_cast<double>(1 + o % 3));
    }
    return d;
}

// The augmented vector z of observation o over the first p variables.
std::vector<double> z_of(const std::vector<double>& o, size_t p) {
    std::vector<double> z(o.begin(), o.begin() + static_cast<long>(p));
    z.push_back(1.0);
    return z;
}

// Observation weight from the columns `weight` and `freq` (-1: none).
double obs_weight(const std::vector<double>& o, int weight, int freq) {
    return (weight >= 0 ? o[static_cast<size_t>(weight)] : 1.0) * (freq >= 0 ? o[static_cast<size_t>(freq)] : 1.0);
}

// M over the first p variables and the constant, with divisor `divisor`.
Matrix augmented(const Data& d, size_t p, int weight, int freq, double divisor) {
    Matrix m(p + 1, std::vector<double>(p + 1, 0.0));
    for (const auto& o : d.rows) {
        const auto z = z_of(o, p);
        const double w = obs_weight(o, weight, freq);
        for (size_t i = 0; i <= p; ++i)
            for (size_t j = 0; j <= p; ++j) m[i][j] += w * z[i] * z[j] / divisor;
    }
    return m;
}

// The matrix of correlations of a moment matrix.
Matrix correlations(const Matrix& m) {
    Matrix r = m;
    for (size_t i = 0; i < m.size(); ++i)
        for (size_t j = 0; j < m.size(); ++j) r[i][j] = m[i][j] / std::sqrt(m[i][i] * m[j][j]);
    return r;
}

Matrix block(const Matrix& m, size_t k) {
    Matrix b(k);
    for (size_t i = 0; i < k; ++i) b[i].assign(m[i].begin(), m[i].begin() + static_cast<long>(k));
    return b;
}

// A saturated regression of x3 on x1, x2 and the intercept.
const std::string kRegression = "lineqs x3 = a0 Intercept + b1 x1 + b2 x2 + E3;\nstd E3 = ve3;\nrun;\n";
const std::string kNoIntercept = "lineqs x3 = b1 x1 + b2 x2 + E3;\nstd E3 = ve3;\nrun;\n";

TEST(AugmentedMoments, RawDataWithWeightsAndFrequenciesFollowTheDefinition) {
    const Data d = weighted_hs();
    const std::string dir = scratch_dir("aug_raw");
    write_csv(dir + "/hsw.csv", d);
    double n = 0.0, sw = 0.0, sf = 0.0;
    for (const auto& o : d.rows) {
        n += 1.0;
        sw += o[3];
        sf += o[4];
    }
    struct Case {
        std::string options, statements;
        int weight, freq;
        double divisor;
        bool covariance;
        std::string method = "none";
    } cases[] = {
        {"covariance", "", -1, -1, n - 1.0, true, "ml"},
        {"covariance", "weight w;\n", 3, -1, n - 1.0, true, "gls"},
        {"covariance", "weight w;\n", 3, -1, n - 1.0, true},
        {"covariance vardef=wdf", "weight w;\n", 3, -1, sw - 1.0, true},
        {"covariance vardef=weight", "weight w;\n", 3, -1, sw, true},
        {"covariance", "freq f;\n", -1, 4, sf - 1.0, true},
        // The error degrees of freedom are the divisor; N counts the intercept.
        {"covariance edf=100", "", -1, -1, 100.0, true},
        {"", "weight w;\n", 3, -1, n - 1.0, false},
    };
    for (const Case& c : cases) {
        const std::string what = c.options + " " + c.statements;
        auto r = run_velix("proc velix data='" + dir + "/hsw.csv' method=" + c.method + " augment pcorr " + c.options +
                               ";\nvar x1 x2 x3;\n" + c.statements + kRegression,
                           {});
        ASSERT_EQ(r.exitStatus, 0) << what << "\n" << r.log;
        const Matrix m = augmented(d, 3, c.weight, c.freq, c.divisor);
        if (c.covariance)
            expect_matrix_near(matrix_of(r, 0, "InCov"), m, kTol, what);
        else
            expect_matrix_near(matrix_of(r, 0, "InCorr"), correlations(m), kTol, what);
        const auto found = r.items(0, "matrix", c.covariance ? "InCov" : "InCorr");
        ASSERT_FALSE(found.empty());
        EXPECT_EQ((*found.front())["rowLabels"][3].str(), "Intercept") << what;

        // Means (weighted, the intercept's 1) and the standard deviations
        // under the divisor: the moments about zero less (sum of weights /
        // divisor) times the squared mean, 0 for the intercept.
        const JsonValue& stats = r.table(0, "SimpleStatistics");
        ASSERT_EQ(stats["rows"].size(), 4u) << what;
        double total = 0.0;
        std::vector<double> mean(3, 0.0);
        for (const auto& o : d.rows) {
            const double w = obs_weight(o, c.weight, c.freq);
            total += w;
            for (size_t i = 0; i < 3; ++i) mean[i] += w * o[i];
        }
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(cell(stats, i, "Variable").str(), i < 3 ? d.names[i] : "Intercept") << what;
            const double xbar = i < 3 ? mean[i] / total : 1.0;
            EXPECT_LT(rel(cell(stats, i, "Mean").number(), xbar), kTol) << what;
            const double sd = i < 3 ? std::sqrt(m[i][i] - total / c.divisor * xbar * xbar) : 0.0;
            EXPECT_LT(rel(cell(stats, i, "StD").number(), sd), 1e-8) << what << " row " << i;
        }
        EXPECT_EQ(stats["dynamic"]["title"].str(), "Means and Standard Deviations") << what;
        EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 301), 4.0) << what;
        EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 303), 10.0) << what;
        EXPECT_FALSE(has_message(r, 0, 352, 235)) << what;
    }
}

TEST(AugmentedMoments, EachByGroupHasItsOwnAugmentedMoments) {
    const Data d = read_csv("hs_by.csv");
    auto r = run_velix("proc velix data=hs_by method=none covariance augment pcorr;\nvar x1 x2 x3;\nby school;\n" +
                           kRegression,
                       {"hs_by.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (size_t g = 0; g < 2; ++g) {
        Data group;
        for (const auto& o : d.rows)
            if (o[0] == static_cast<double>(g + 1)) group.rows.emplace_back(o.begin() + 1, o.begin() + 4);
        ASSERT_FALSE(group.rows.empty());
        const double n = static_cast<double>(group.rows.size());
        expect_matrix_near(matrix_of(r, 0, "InCov", g), augmented(group, 3, -1, -1, n - 1.0), kTol,
                           "group " + std::to_string(g + 1));
    }
}

TEST(AugmentedMoments, AModelThatDoesNotNameTheInterceptDropsIt) {
    const Data d = columns(read_csv("hs.csv"), 3);
    const double n = static_cast<double>(d.rows.size());
    auto r = run_velix("proc velix data=hs method=none covariance augment pcorr;\nvar x1 x2 x3;\n" + kNoIntercept,
                       {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 235)) << r.log;
    // The ordinary covariances about the means.
    expect_matrix_near(matrix_of(r, 0, "InCov"), cov_of(d, n - 1.0), kTol, "without the intercept");
    EXPECT_EQ(r.table(0, "SimpleStatistics")["rows"].size(), 3u);
    EXPECT_EQ(factoid_entry(r, 0, "GenModInfo", 301), 3.0);
    EXPECT_FALSE(has_message(r, 0, 352, 18));
    // An unused DATA= variable leaves beside the intercept: the table of the
    // removed variables lists the DATA= variable only.
    auto u = run_velix("proc velix data=hs method=none covariance augment pcorr;\nvar x1 x2 x3 x4;\n" + kNoIntercept,
                       {"hs.csv"});
    ASSERT_EQ(u.exitStatus, 0) << u.log;
    EXPECT_TRUE(has_message(u, 0, 352, 235));
    const JsonValue& selection = u.table(0, "VarSelection");
    ASSERT_EQ(selection["columns"].size(), 1u);
    EXPECT_EQ(selection["columns"][0]["name"].str(), "x4");
    expect_matrix_near(matrix_of(u, 0, "InCov"), cov_of(d, n - 1.0), kTol, "x4 and the intercept removed");
    // Kept when the model names it, whatever the case (AUG is AUGMENT).
    auto k = run_velix("proc velix data=hs method=none covariance aug pcorr;\nvar x1 x2 x3;\n"
                       "lineqs x3 = a0 INTERCEPT + b1 x1 + b2 x2 + E3;\nstd E3 = ve3;\nrun;\n",
                       {"hs.csv"});
    ASSERT_EQ(k.exitStatus, 0) << k.log;
    EXPECT_FALSE(has_message(k, 0, 352, 235));
    expect_matrix_near(matrix_of(k, 0, "InCov"), augmented(d, 3, -1, -1, n - 1.0), kTol, "named in capitals");
}

TEST(AugmentedMoments, KurtosisOfTheDataVariablesDoesNotDependOnTheIntercept) {
    // Mardia's coefficients and the uncorrected univariate ones are weighted
    // averages about the weighted means: the augmented analysis (moments
    // about zero) must give those of the ordinary one, with weights whose
    // sum is not N.
    const Data d = weighted_hs();
    const std::string dir = scratch_dir("aug_kurtosis");
    write_csv(dir + "/hsw.csv", d);
    const std::string head = "proc velix data='" + dir + "/hsw.csv' method=none covariance kurtosis biaskur";
    auto r = run_velix(head + " augment;\nvar x1 x2 x3;\nweight w;\n" + kRegression + head +
                           ";\nvar x1 x2 x3;\nweight w;\n" + kNoIntercept,
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (int entry : {313, 510, 511, 512}) {
        const double a = factoid_entry(r, 0, "Kurtosis", entry), b = factoid_entry(r, 1, "Kurtosis", entry);
        ASSERT_FALSE(std::isnan(b)) << entry;
        EXPECT_LT(rel(a, b), 1e-10) << "entry " << entry << ": " << a << " against " << b;
    }
    const JsonValue& stats = r.table(0, "SimpleStatistics");
    const JsonValue& plain = r.table(1, "SimpleStatistics");
    ASSERT_EQ(stats["rows"].size(), 4u);
    ASSERT_EQ(plain["rows"].size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        for (const char* column : {"Skewness", "Kurtosis"}) {
            EXPECT_LT(rel(cell(stats, i, column).number(), cell(plain, i, column).number()), 1e-10)
                << column << " of " << d.names[i];
        }
        // b1 = m3 / m2^1.5 and b2 = m4 / m2^2 - 3, m_k = sum w e^k / sum w.
        double sw = 0.0, mean = 0.0, m2 = 0.0, m3 = 0.0, m4 = 0.0;
        for (const auto& o : d.rows) {
            sw += o[3];
            mean += o[3] * o[i];
        }
        mean /= sw;
        for (const auto& o : d.rows) {
            const double e = o[i] - mean;
            m2 += o[3] * e * e / sw;
            m3 += o[3] * e * e * e / sw;
            m4 += o[3] * e * e * e * e / sw;
        }
        EXPECT_LT(rel(cell(stats, i, "Skewness").number(), m3 / std::pow(m2, 1.5)), 1e-10) << d.names[i];
        EXPECT_LT(rel(cell(stats, i, "Kurtosis").number(), m4 / (m2 * m2) - 3.0), 1e-10) << d.names[i];
    }
    EXPECT_EQ(cell(stats, 3, "Skewness").number(), 0.0);
    EXPECT_EQ(cell(stats, 3, "Kurtosis").number(), -3.0);
}

// The weighted covariances about the weighted means of the first p
// variables with divisor `divisor`, and those means in *mean.
Matrix weighted_centred(const Data& d, size_t p, int weight, double divisor, std::vector<double>* mean) {
    double total = 0.0;
    mean->assign(p, 0.0);
    for (const auto& o : d.rows) {
        total += obs_weight(o, weight, -1);
        for (size_t i = 0; i < p; ++i) (*mean)[i] += obs_weight(o, weight, -1) * o[i];
    }
    for (double& x : *mean) x /= total;
    Matrix c(p, std::vector<double>(p, 0.0));
    for (const auto& o : d.rows)
        for (size_t i = 0; i < p; ++i)
            for (size_t j = 0; j < p; ++j)
                c[i][j] += obs_weight(o, weight, -1) * (o[i] - (*mean)[i]) * (o[j] - (*mean)[j]) / divisor;
    return c;
}

TEST(AugmentedMoments, OutstatHoldsTheMomentsAboutTheMeansAndReadsBack) {
    // The augmented moments about zero cannot be written as COV rows (they
    // would be read as moments about the means, and the intercept has no
    // variable): OUTSTAT= holds the covariances about the means, or the
    // correlations with their STD row, with the MEAN, N and SUMWGT rows,
    // and AUGMENT turns them back into the same augmented moments, also
    // under UCOV, which asks for moments about zero.  The fit of the
    // saturated regression predicts them: its predicted rows are the
    // covariances or correlations, its predicted means in a row without a
    // name the MEAN row, and no row is the constant's, which has no
    // variable.
    const Data d = weighted_hs();
    const double n = static_cast<double>(d.rows.size());
    const std::string dir = scratch_dir("aug_outstat");
    write_csv(dir + "/hsw.csv", d);
    std::vector<double> mean;
    const Matrix c = weighted_centred(d, 3, 3, n - 1.0, &mean);
    const Matrix m = augmented(d, 3, 3, -1, n - 1.0);
    for (const std::string analysis : {"covariance", "ucov", ""}) {
        const bool cov = !analysis.empty();
        auto r = run_velix("proc velix data='" + dir + "/hsw.csv' method=ml augment " + analysis + " outstat='" +
                               dir + "/st.csv';\nvar x1 x2 x3;\nweight w;\n" + kRegression + "proc velix data='" + dir +
                               "/st.csv' method=none augment pcorr " + analysis + ";\n" + kRegression,
                           {});
        ASSERT_EQ(return_code(r, 0), 0) << r.log;
        ASSERT_EQ(return_code(r, 1), 0) << r.log;
        EXPECT_EQ(read_rows(dir + "/st.csv").header, (std::vector<std::string>{"_TYPE_", "_NAME_", "x1", "x2", "x3"}));
        std::vector<std::string> names, predictedNames;
        Matrix values, predicted;
        for (const MomentRow& row : read_moment_rows(dir + "/st.csv")) {
            ASSERT_EQ(row.values.size(), 3u) << row.type;
            EXPECT_NE(row.name, "Intercept") << row.type;
            if (row.type == "COV" || row.type == "CORR") {
                EXPECT_EQ(row.type, cov ? "COV" : "CORR");
                names.push_back(row.name);
                values.push_back(row.values);
            }
            EXPECT_NE(row.type, "USTD");
            if (row.type == "MEAN" || (row.type == "MAXPRED" && row.name.empty()))
                expect_matrix_near({row.values}, {mean}, kTol, row.type + " " + analysis);
            else if (row.type == "MAXPRED") {
                predictedNames.push_back(row.name);
                predicted.push_back(row.values);
            }
            if (row.type == "STD")
                expect_matrix_near({row.values}, {{std::sqrt(c[0][0]), std::sqrt(c[1][1]), std::sqrt(c[2][2])}}, kTol,
                                   "STD");
        }
        ASSERT_EQ(names, (std::vector<std::string>{"x1", "x2", "x3"})) << analysis;
        expect_matrix_near(values, cov ? c : correlations(c), kTol, "OUTSTAT= rows " + analysis);
        ASSERT_EQ(predictedNames, names) << analysis;
        expect_matrix_near(predicted, cov ? c : correlations(c), kTol, "predicted rows " + analysis);
        if (cov)
            expect_matrix_near(matrix_of(r, 1, "InCov"), m, kTol, "read back " + analysis);
        else
            expect_matrix_near(matrix_of(r, 1, "InCorr"), correlations(m), kTol, "read back " + analysis);
    }
}

// Linear growth of lavaan's Demo.growth (t1-t4, N = 400): intercept and
// slope with the time scores 0 to 3, their means on the constant.
const std::string kGrowth =
    "var t1-t4;\nlineqs t1 = Fi + E1, t2 = Fi + 1 Fs + E2, t3 = Fi + 2 Fs + E3, t4 = Fi + 3 Fs + E4,\n"
    "  Fi = mi Intercept + DFi, Fs = ms Intercept + DFs;\nstd E1-E4 = v1-v4, DFi DFs = vi vs;\n"
    "cov DFi DFs = cis;\nrun;\n";

TEST(AugmentedMoments, AGrowthModelFittedToItsOutstatGivesTheFitOfTheRawData) {
    // growth_reference.R: lavaan's chi-square (N F) of the raw data.
    constexpr double kLavaanChiSquare = 8.068733681;
    const std::string dir = scratch_dir("aug_growth");
    auto r = run_velix("proc velix data=demo_growth covariance augment outstat='" + dir + "/gstat.csv';\n" + kGrowth +
                           "proc velix data='" + dir + "/gstat.csv' covariance augment;\n" + kGrowth,
                       {"demo_growth.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    auto chi_square = [&](size_t step) {
        return factoid_values(*r.items(step, "factoid", "Fit").at(0)).at("Chi-Square");
    };
    EXPECT_LT(rel(chi_square(0), kLavaanChiSquare), 1e-6) << chi_square(0);
    EXPECT_LT(rel(chi_square(1), chi_square(0)), 1e-8) << chi_square(1) << " against " << chi_square(0);
    const auto raw = column_by_parameter(result_table(r, 0), "Estimate");
    const auto back = column_by_parameter(result_table(r, 1), "Estimate");
    ASSERT_EQ(raw.size(), 9u);
    for (const auto& [name, estimate] : raw) EXPECT_LT(rel(back.at(name), estimate), 1e-8) << name;
}

TEST(AugmentedMoments, MomentDataGiveTheAugmentedMomentsOfTheRawData) {
    const Data d = weighted_hs();
    const double n = static_cast<double>(d.rows.size());
    const std::string dir = scratch_dir("aug_moment_data");
    write_csv(dir + "/hsw.csv", d);
    // Covariances about the means with MEAN, N and SUMWGT rows, written by
    // an ordinary analysis, read back with AUGMENT.
    for (const std::string weight : {"", "weight w;\n"}) {
        auto r = run_velix("proc velix data='" + dir + "/hsw.csv' method=none covariance outstat='" + dir +
                               "/cov.csv';\nvar x1 x2 x3;\n" + weight + kNoIntercept + "proc velix data='" + dir +
                               "/cov.csv' method=none covariance augment pcorr;\n" + kRegression,
                           {});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        expect_matrix_near(matrix_of(r, 1, "InCov"), augmented(d, 3, weight.empty() ? -1 : 3, -1, n - 1.0), kTol,
                           "TYPE=COV " + weight);
    }
    // Sums of squares and cross-products with an Intercept variable that
    // the variable list names: the moments about zero with the intercept
    // among the analysis variables.
    const Matrix m = augmented(d, 3, -1, -1, n - 1.0);
    {
        const Matrix sums = augmented(d, 3, -1, -1, 1.0);
        std::ofstream out(dir + "/sscp.csv");
        out << "# TYPE=SSCP\n_TYPE_,_NAME_,Intercept,x1,x2,x3\n";
        const char* names[] = {"Intercept", "x1", "x2", "x3"};
        const size_t order[] = {3, 0, 1, 2};  // positions in z
        for (size_t i = 0; i < 4; ++i) {
            out << "SSCP," << names[i];
            for (size_t j = 0; j < 4; ++j) out << "," << number_text(sums[order[i]][order[j]]);
            out << "\n";
        }
        out << "N,,301,301,301,301\n";
    }
    auto s = run_velix("proc velix data='" + dir + "/sscp.csv' method=none covariance pcorr outstat='" + dir +
                           "/st.csv';\nvar x1 x2 x3 Intercept;\n" + kRegression,
                       {});
    ASSERT_EQ(s.exitStatus, 0) << s.log;
    EXPECT_TRUE(has_message(s, 0, 352, 84));
    EXPECT_TRUE(has_message(s, 0, 352, 7));
    // The printed matrix leaves out an intercept that is one of the DATA=
    // variables; OUTSTAT= carries it whole.
    expect_matrix_near(matrix_of(s, 0, "InCov"), block(m, 3), kTol, "SSCP, printed");
    Matrix written;
    for (const MomentRow& row : read_moment_rows(dir + "/st.csv"))
        if (row.type == "COV") written.push_back(row.values);
    expect_matrix_near(written, m, kTol, "SSCP, OUTSTAT=");
}

TEST(AugmentedMoments, MomentDataWithoutTheMeansCannotBeAugmented) {
    // The intercept's row of the augmented moments is made of the means:
    // a data set that lacks them (moments about zero without a MEAN row,
    // SSCP data without the Intercept row of the sums) is an error, as
    // covariances without a MEAN row are, and not a fit to means of 0.
    const Data d = columns(read_csv("hs.csv"), 3);
    const double n = static_cast<double>(d.rows.size());
    const Matrix zero = augmented(d, 3, -1, -1, n);  // moments about zero, divisor N
    const std::vector<double> mean = means_of(d);
    const std::string dir = scratch_dir("aug_no_means");
    auto row = [](std::ofstream& out, const std::string& type, const std::string& name, const std::vector<double>& v) {
        out << type << "," << name << "," << number_text(v[0]) << "," << number_text(v[1]) << "," << number_text(v[2])
            << "\n";
    };
    auto write = [&](const std::string& file, const std::string& type, bool withMean) {
        std::ofstream out(dir + "/" + file);
        out << "# TYPE=" << type << "\n_TYPE_,_NAME_,x1,x2,x3\nN,,301,301,301\n";
        if (withMean) row(out, "MEAN", "", mean);
        if (type == "UCORR") row(out, "USTD", "", {std::sqrt(zero[0][0]), std::sqrt(zero[1][1]), std::sqrt(zero[2][2])});
        // SSCP: the sums of the data variables, without the Intercept row.
        const Matrix values = type == "UCORR" ? correlations(zero) : type == "SSCP" ? augmented(d, 3, -1, -1, 1.0) : zero;
        for (size_t i = 0; i < 3; ++i) row(out, type, d.names[i], values[i]);
    };
    struct Case {
        std::string file, type;
        bool withMean;
        int message;  // of the reader: 0 none
    } cases[] = {
        {"ucov.csv", "UCOV", false, 36},
        {"ucorr.csv", "UCORR", false, 36},
        {"sscp.csv", "SSCP", false, 34},
        {"ucovmean.csv", "UCOV", true, 0},
    };
    for (const Case& c : cases) {
        write(c.file, c.type, c.withMean);
        auto r = run_velix("proc velix data='" + dir + "/" + c.file + "' method=none covariance augment pcorr;\n" +
                               "var x1 x2 x3;\n" + kRegression,
                           {});
        if (c.message != 0) {
            EXPECT_EQ(return_code(r, 0), 108) << c.file << "\n" << r.log;
            EXPECT_TRUE(has_message(r, 0, 230, c.message)) << c.file << "\n" << r.log;
            EXPECT_TRUE(r.items(0, "matrix", "InCov").empty()) << c.file;
        } else {
            EXPECT_EQ(return_code(r, 0), 0) << c.file << "\n" << r.log;
            expect_matrix_near(matrix_of(r, 0, "InCov"), augmented(d, 3, -1, -1, n - 1.0), kTol, c.file);
        }
    }
}

TEST(AugmentedMoments, AModelWithMeansWithoutAugmentIsToldToGiveIt) {
    // Without AUGMENT there is no Intercept: the model that names it, and
    // a stored model with means (LINEQS or RAM) read by INRAM=, end with an
    // error that names the option; with AUGMENT the stored models are read.
    const std::string dir = scratch_dir("aug_needed");
    const std::string ram = "ram 1 3 1 b1, 1 3 2 b2, 1 3 4 a0, 2 3 3 ve3;\nrun;\n";
    const std::string head = "proc velix data=hs method=none covariance";
    auto r = run_velix(head + ";\nvar x1 x2 x3;\n" + kRegression +
                           head + " augment outram='" + dir + "/lineqs.csv';\nvar x1 x2 x3;\n" + kRegression +
                           head + " augment outram='" + dir + "/ram.csv';\nvar x1 x2 x3;\n" + ram,
                       {"hs.csv"});
    EXPECT_EQ(return_code(r, 0), 2000) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 145)) << r.log;
    ASSERT_EQ(return_code(r, 1), 0) << r.log;
    ASSERT_EQ(return_code(r, 2), 0) << r.log;
    for (const std::string stored : {"lineqs", "ram"}) {
        const std::string inram = " inram='" + dir + "/" + stored + ".csv';\nvar x1 x2 x3;\nrun;\n";
        auto s = run_velix(head + inram + head + " augment" + inram, {"hs.csv"});
        EXPECT_EQ(return_code(s, 0), 1008) << stored << "\n" << s.log;
        EXPECT_TRUE(has_message(s, 0, 352, 146)) << stored << "\n" << s.log;
        EXPECT_EQ(return_code(s, 1), 0) << stored << "\n" << s.log;
    }
}

TEST(AugmentedMoments, AnInterceptVariableOfTheDataIsNotDoubled) {
    // Raw data with a column of ones named Intercept among the analysis
    // variables: AUGMENT adds no second intercept; the column is the
    // intercept of the moments about zero.
    Data d = columns(read_csv("hs.csv"), 3);
    d.names.push_back("Intercept");
    for (auto& o : d.rows) o.push_back(1.0);
    const double n = static_cast<double>(d.rows.size());
    const std::string dir = scratch_dir("aug_data_intercept");
    write_csv(dir + "/ones.csv", d);
    auto r = run_velix("proc velix data='" + dir + "/ones.csv' method=none covariance augment outstat='" + dir +
                           "/st.csv';\nvar x1 x2 x3 Intercept;\n" + kRegression,
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_TRUE(has_message(r, 0, 352, 76));
    EXPECT_TRUE(has_message(r, 0, 352, 7));
    EXPECT_EQ(r.table(0, "SimpleStatistics")["rows"].size(), 4u);
    Matrix written;
    for (const MomentRow& row : read_moment_rows(dir + "/st.csv"))
        if (row.type == "COV") written.push_back(row.values);
    expect_matrix_near(written, augmented(columns(d, 3), 3, -1, -1, n - 1.0), kTol, "one intercept");
}

TEST(AugmentedMoments, InwgtMustCarryTheInterceptCompletely) {
    const Data d = columns(read_csv("hs.csv"), 3);
    const double n = static_cast<double>(d.rows.size());
    const Matrix m = augmented(d, 3, -1, -1, n - 1.0);
    const std::string dir = scratch_dir("aug_inwgt");
    const char* names[] = {"x1", "x2", "x3", "Intercept"};
    auto write_weights = [&](const std::string& file, bool holes) {
        std::ofstream out(dir + "/" + file);
        out << "# TYPE=WEIGHT\n_TYPE_,_NAME_,x1,x2,x3,Intercept\n";
        for (size_t i = 0; i < 4; ++i) {
            out << "WEIGHT," << names[i];
            for (size_t j = 0; j < 4; ++j) {
                // The element (Intercept, x2) lost from both of its rows.
                const bool hole = holes && ((i == 3 && j == 1) || (i == 1 && j == 3));
                out << "," << (hole ? "." : number_text(m[i][j]));
            }
            out << "\n";
        }
    };
    write_weights("full.csv", false);
    write_weights("holes.csv", true);
    const std::string proc = "proc velix data=hs covariance augment pweight ";
    const std::string model = "var x1 x2 x3;\n" + kRegression;
    auto r = run_velix(proc + "method=gls inwgt='" + dir + "/full.csv';\n" + model +
                           proc + "method=gls inwgt='" + dir + "/holes.csv';\n" + model +
                           proc + "method=dwls inwgt='" + dir + "/holes.csv';\n" + model +
                           proc + "method=gls outwgt='" + dir + "/out.csv';\n" + model +
                           proc + "method=gls inwgt='" + dir + "/out.csv';\n" + model,
                       {"hs.csv"});
    // Read whole, in the order of the analysis.
    EXPECT_EQ(return_code(r, 0), 0) << r.log;
    expect_matrix_near(matrix_of(r, 0, "Weights"), m, kTol, "GLS weights with the intercept");
    // A missing element never reaches a factor.
    EXPECT_EQ(return_code(r, 1), 1008);
    EXPECT_TRUE(has_message(r, 1, 352, 36));
    EXPECT_TRUE(r.items(1, "table", "WeightsDet").empty());
    EXPECT_EQ(return_code(r, 2), 108);
    EXPECT_TRUE(has_message(r, 2, 352, 36));
    EXPECT_TRUE(has_message(r, 2, 352, 10));
    EXPECT_TRUE(r.items(2, "table", "WeightsDet").empty());
    // OUTWGT= has the Intercept column beside its row: as INWGT= it gives
    // the same weights back.
    EXPECT_EQ(return_code(r, 3), 0);
    EXPECT_EQ(return_code(r, 4), 0) << r.log;
    expect_matrix_near(matrix_of(r, 4, "Weights"), m, kTol, "OUTWGT= read back");
}

TEST(AugmentedMoments, WeightsOfGlsDwlsAndWlsAreThoseOfTheAugmentedMoments) {
    // Two variables of hs: the moments (x1,x1), (x2,x1), (x2,x2), (I,x1),
    // (I,x2), (I,I).  The intercept's own moment is constant; its weight
    // is 1.
    const Data d = columns(read_csv("hs.csv"), 2);
    const double n = static_cast<double>(d.rows.size());
    const Matrix mn = augmented(d, 2, -1, -1, n);  // divisor N
    auto m4 = [&](size_t i, size_t j, size_t k, size_t l) {
        double t = 0.0;
        for (const auto& o : d.rows) {
            const auto z = z_of(o, 2);
            t += z[i] * z[j] * z[k] * z[l];
        }
        return t / n;
    };
    const size_t pairs[6][2] = {{0, 0}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}};
    auto gamma = [&](size_t a, size_t b) {
        if (a == 5 || b == 5) return a == b ? 1.0 : 0.0;
        const size_t i = pairs[a][0], j = pairs[a][1], k = pairs[b][0], l = pairs[b][1];
        return m4(i, j, k, l) - mn[i][j] * mn[k][l];
    };
    const std::string model = "var x1 x2;\nlineqs x2 = a0 Intercept + b1 x1 + E2;\nstd E2 = ve2;\nrun;\n";
    const std::string proc = "proc velix data=hs covariance augment pweight asycov=biased ";
    auto r = run_velix(proc + "method=gls;\n" + model + proc + "method=dwls;\n" + model + proc + "method=wls;\n" +
                           model,
                       {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_matrix_near(matrix_of(r, 0, "Weights"), augmented(d, 2, -1, -1, n - 1.0), kTol, "GLS");
    Matrix dwls(3, std::vector<double>(3));
    for (size_t a = 0; a < 6; ++a) dwls[pairs[a][0]][pairs[a][1]] = dwls[pairs[a][1]][pairs[a][0]] = gamma(a, a);
    expect_matrix_near(matrix_of(r, 1, "Weights"), dwls, 1e-9, "DWLS");
    Matrix wls(6, std::vector<double>(6));
    for (size_t a = 0; a < 6; ++a)
        for (size_t b = 0; b < 6; ++b) wls[a][b] = gamma(a, b);
    expect_matrix_near(matrix_of(r, 2, "Weights"), wls, 1e-9, "WLS");
}

}  // namespace
