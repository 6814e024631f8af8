// The checks of moment data sets against the fit of their raw data: the
// count and the sum of weights of SSCP data, standard deviations and
// correlations out of range, a symmetric matrix analysed as given, and the
// messages that name what is wrong in a moment data set.  Reference
// numbers: the raw data's fit (the weighted one through the WEIGHT
// statement) and lavaan 0.6.14 (moment_checks_reference.R and
// n_rows_reference.R beside this file).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "direct_moments.h"
#include "tests/e2e/hs_fixture.h"

namespace {

using namespace velix::test;

// The observations' weights of the weighted fits: from 0.5 to 2.
std::vector<double> weights_of(const Data& d) {
    std::vector<double> w(d.rows.size());
    for (size_t i = 0; i < w.size(); ++i) w[i] = 0.5 + 0.25 * static_cast<double>(i % 7);
    return w;
}

// The SSCP rows of d (the weighted sums of squares and cross-products, the
// Intercept's row first, whose own cell is the sum of weights) after
// `lead` (a BY value and its comma), with an Intercept column when
// `column`, and an N row of the count.
std::string sscp_rows(const Data& d, const std::vector<double>& w, bool column, const std::string& lead = "") {
    std::string out;
    const size_t p = d.p();
    for (size_t i = 0; i <= p; ++i) {
        out += lead + "SSCP," + (i == 0 ? "Intercept" : d.names[i - 1]);
        for (size_t j = column ? 0 : 1; j <= p; ++j) {
            double t = 0.0;
            for (size_t k = 0; k < d.rows.size(); ++k)
                t += w[k] * (i ? d.rows[k][i - 1] : 1.0) * (j ? d.rows[k][j - 1] : 1.0);
            out += "," + number_text(t);
        }
        out += "\n";
    }
    return out;
}

std::string n_row(const Data& d, bool column, const std::string& lead = "") {
    std::string out = lead + "N,";
    for (size_t j = column ? 0 : 1; j <= d.p(); ++j) out += "," + std::to_string(d.rows.size());
    return out + "\n";
}

std::string sscp_header(const Data& d, bool column, const std::string& lead = "") {
    std::string h = "# TYPE=SSCP\n" + lead + "_TYPE_,_NAME_" + (column ? ",Intercept" : "");
    for (const std::string& v : d.names) h += "," + v;
    return h + "\n";
}

// d with its weights as the variable w.
void write_weighted(const std::string& path, const Data& d, const std::vector<double>& w) {
    std::ofstream out(path);
    for (const std::string& v : d.names) out << v << ",";
    out << "w\n";
    for (size_t k = 0; k < d.rows.size(); ++k) {
        for (double x : d.rows[k]) out << number_text(x) << ",";
        out << number_text(w[k]) << "\n";
    }
}

bool logged(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool logged(const RunResult& r, const std::string& part) { return logged(r.log, part); }

// Value `column` (0-based) of the row that starts with `start` becomes v.
void set_cell(std::string* rows, const std::string& start, size_t column, const std::string& v) {
    size_t at = rows->find(start) + start.size();
    for (size_t k = 0; k < column; ++k) at = rows->find(',', at) + 1;
    rows->replace(at, rows->find_first_of(",\n", at) - at, v);
}

// A step of the hs model on data `data` (with its options) in covariance
// analysis, `extra` statements before the model.
std::string hs_step(const std::string& data, const std::string& extra = "") {
    return "proc velix data=" + data + " method=ml covariance;\n" + extra + kHsModel + "run;\n";
}

std::string sumwgt_row(const Data& d, const std::vector<double>& w, bool column = false) {
    double sw = 0.0;
    for (double x : w) sw += x;
    std::string out = "SUMWGT,";
    for (size_t j = column ? 0 : 1; j <= d.p(); ++j) out += "," + number_text(sw);
    return out + "\n";
}

TEST(SscpCounts, TheInterceptCellIsTheSumOfWeightsAndWithoutItTheCountMustBeStated) {
    // hs with weights from 0.5 to 2: the SSCP data set with the Intercept
    // column and an N row, and one with the Intercept row alone, an N and a
    // SUMWGT row, fit as the weighted raw data; the unweighted sums without
    // Intercept column and N row fit as the raw data with NOBS= (lavaan's
    // chi-square 85.0221, n_rows_reference.R) and are an ERROR that names
    // NOBS= without it; an Intercept cell that is not positive is an ERROR,
    // and so is a SUMWGT row that gives another sum of weights than the
    // Intercept cell (by ML and ULS).
    const Data d = read_csv("hs.csv");
    const std::vector<double> w = weights_of(d), one(d.rows.size(), 1.0);
    const std::string dir = scratch_dir("mc_sscp");
    write_weighted(dir + "/hsw.csv", d, w);
    std::ofstream(dir + "/cell.csv") << sscp_header(d, true) << sscp_rows(d, w, true) << n_row(d, true)
                                     << sumwgt_row(d, w, true);
    std::ofstream(dir + "/twosums.csv") << sscp_header(d, true) << sscp_rows(d, w, true) << n_row(d, true)
                                        << sumwgt_row(d, one, true);
    std::ofstream(dir + "/row.csv") << sscp_header(d, false) << sscp_rows(d, w, false) << n_row(d, false)
                                    << sumwgt_row(d, w);
    std::ofstream(dir + "/bare.csv") << sscp_header(d, false) << sscp_rows(d, one, false);
    std::string program = hs_step("'" + dir + "/hsw.csv'", "weight w;\n") + hs_step("'" + dir + "/cell.csv'") +
                          hs_step("'" + dir + "/row.csv'") + hs_step("hs") + hs_step("'" + dir + "/bare.csv' nobs=301") +
                          hs_step("'" + dir + "/bare.csv'");
    for (const char* cell : {"0", "-21"}) {
        std::string rows = sscp_rows(d, one, true);
        set_cell(&rows, "SSCP,Intercept,", 0, cell);
        std::ofstream(dir + "/cell" + cell + ".csv") << sscp_header(d, true) << rows << n_row(d, true);
        program += hs_step("'" + dir + "/cell" + cell + ".csv'");
    }
    program += hs_step("'" + dir + "/twosums.csv'") + "proc velix data='" + dir + "/twosums.csv' method=uls covariance;\n" +
               kHsModel + "run;\n";
    auto r = run_velix(program, {"hs.csv"});
    const GroupFit weighted = fit_of(r, 0), raw = fit_of(r, 3);
    expect_same_fit(fit_of(r, 1), weighted, 1e-8, "Intercept column, N row");
    expect_same_fit(fit_of(r, 2), weighted, 1e-8, "Intercept row, N and SUMWGT rows");
    EXPECT_TRUE(has_message(r, 2, 230, 52) && logged(r, "from its SUMWGT row")) << r.log;
    EXPECT_LT(rel(raw.chisq, 85.0221226), 1e-7);
    expect_same_fit(fit_of(r, 4), raw, 1e-8, "no Intercept column, NOBS=301");
    EXPECT_TRUE(has_message(r, 5, 230, 51)) << r.log;
    EXPECT_TRUE(logged(r, "State N with NOBS=."));
    EXPECT_FALSE(has_message(r, 5, 230, 17)) << "N set to 10000";
    EXPECT_EQ(return_code(r, 5), 108);
    for (size_t k : {6u, 7u}) {
        EXPECT_TRUE(has_message(r, k, 230, 50)) << k << "\n" << r.log;
        EXPECT_EQ(return_code(r, k), 108) << k;
    }
    EXPECT_TRUE(logged(r, "The Intercept x Intercept element of the SSCP data set is -21;"));
    for (size_t k : {8u, 9u}) {
        EXPECT_TRUE(has_message(r, k, 230, 65)) << k << "\n" << r.log;
        EXPECT_EQ(return_code(r, k), 108) << k;
    }
    // 43 cycles of the weights 0.5 to 2 sum to 376.25.
    EXPECT_TRUE(logged(r, "SUMWGT row of the SSCP data set gives the sum of weights 301, but its Intercept x Intercept "
                          "element, the sum of weights of its sums, is 376.25."))
        << r.log;
}

// The two schools of hs_by, without the school variable.
std::vector<Data> schools() {
    const Data by = read_csv("hs_by.csv");
    std::vector<Data> school(2);
    for (Data& s : school) s.names.assign(by.names.begin() + 1, by.names.end());
    for (const auto& o : by.rows) school[o[0] == 1.0 ? 0 : 1].rows.emplace_back(o.begin() + 1, o.end());
    return school;
}

// The rows of a moment data set of d after lead: N, then STD with the
// correlations (CORR), or the covariances (SYMATRIX), with divisor N - 1.
std::string matrix_rows(const Data& d, const std::string& type, const std::string& lead = "") {
    const Matrix c = cov_of(d, static_cast<double>(d.rows.size()) - 1.0);
    std::string out = n_row(d, false, lead);
    const bool corr = type == "CORR";
    if (corr) {
        out += lead + "STD,";
        for (size_t i = 0; i < d.p(); ++i) out += "," + number_text(std::sqrt(c[i][i]));
        out += "\n";
    }
    for (size_t i = 0; i < d.p(); ++i) {
        out += lead + type + "," + d.names[i];
        for (size_t j = 0; j < d.p(); ++j)
            out += "," + number_text(corr ? c[i][j] / std::sqrt(c[i][i] * c[j][j]) : c[i][j]);
        out += "\n";
    }
    return out;
}

std::string matrix_header(const Data& d, const std::string& type, const std::string& lead = "") {
    std::string h = "# TYPE=" + type + "\n" + lead + "_TYPE_,_NAME_";
    for (const std::string& v : d.names) h += "," + v;
    return h + "\n";
}

TEST(SscpCounts, EachByGroupAndTheAugmentedMomentsTakeTheirCountFromTheData) {
    // The two schools of hs_by weighted, as one SSCP data set with the
    // Intercept column and N rows: each group fits as its weighted raw
    // data.  lavaan's Demo.growth under AUGMENT from the sums with the
    // Intercept row and an N row: chi-square 8.0687 (growth_reference.R),
    // as the raw data give it.
    const std::vector<Data> school = schools();
    const std::string dir = scratch_dir("mc_sscp_by");
    {
        std::ofstream raw(dir + "/byw.csv");
        raw << "school";
        for (const std::string& v : school[0].names) raw << "," << v;
        raw << ",w\n";
        std::ofstream sscp(dir + "/bys.csv");
        sscp << sscp_header(school[0], true, "school,");
        for (int g = 0; g < 2; ++g) {
            const std::vector<double> w = weights_of(school[g]);
            const std::string lead = std::to_string(g + 1) + ",";
            for (size_t k = 0; k < w.size(); ++k) {
                raw << g + 1;
                for (double x : school[g].rows[k]) raw << "," << number_text(x);
                raw << "," << number_text(w[k]) << "\n";
            }
            sscp << sscp_rows(school[g], w, true, lead) << n_row(school[g], true, lead);
        }
    }
    const Data growth = columns(read_csv("demo_growth.csv"), 4);
    std::ofstream(dir + "/growth.csv") << sscp_header(growth, false)
                                       << sscp_rows(growth, std::vector<double>(growth.rows.size(), 1.0), false)
                                       << n_row(growth, false);
    const std::string growthModel =
        " covariance augment;\nvar t1-t4;\nlineqs t1 = Fi + E1, t2 = Fi + 1 Fs + E2, t3 = Fi + 2 Fs + E3,\n"
        "t4 = Fi + 3 Fs + E4, Fi = mi Intercept + DFi, Fs = ms Intercept + DFs;\n"
        "std E1-E4 = v1-v4, DFi DFs = vi vs;\ncov DFi DFs = cis;\nrun;\n";
    auto r = run_velix(hs_step("'" + dir + "/byw.csv'", "weight w;\nby school;\n") +
                           hs_step("'" + dir + "/bys.csv'", "by school;\n") + "proc velix data=demo_growth" +
                           growthModel + "proc velix data='" + dir + "/growth.csv'" + growthModel,
                       {"hs_by.csv", "demo_growth.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (size_t g = 0; g < 2; ++g) expect_same_fit(fit_of(r, 1, g), fit_of(r, 0, g), 1e-8, "school " + std::to_string(g + 1));
    EXPECT_LT(rel(fit_of(r, 2).chisq, 8.0687), 1e-4);
    expect_same_fit(fit_of(r, 3), fit_of(r, 2), 1e-8, "Demo.growth, Intercept row and N row");
    EXPECT_TRUE(has_message(r, 3, 230, 52) && logged(r, "from its N row")) << r.log;
    EXPECT_FALSE(has_message(r, 3, 230, 31)) << "no INTERCEPT row, said of a data set that has one";
}

TEST(MomentRanges, ANegativeStdIsAnErrorAndACorrelationBeyondOneIsAnalysedAsGiven) {
    // A CORR data set of the two schools whose second group gives the
    // correlation of x1 and x2 as 1.0001: the first group's matrix is its
    // raw data's, the second keeps 1.0001 (not r s1 s2 (N - 1)), with a
    // WARNING that names the pair; a negative STD is an ERROR naming x2.
    const std::vector<Data> school = schools();
    const std::string dir = scratch_dir("mc_ranges");
    std::string second = matrix_rows(school[1], "CORR", "2,");
    set_cell(&second, "2,CORR,x2,", 0, "1.0001");
    set_cell(&second, "2,CORR,x1,", 1, "1.0001");
    std::ofstream(dir + "/by.csv") << matrix_header(school[0], "CORR", "school,") << matrix_rows(school[0], "CORR", "1,")
                                   << second;
    std::string neg = matrix_rows(school[0], "CORR");
    set_cell(&neg, "STD,,", 1, "-" + number_text(std::sqrt(cov_of(school[0], school[0].rows.size() - 1.0)[1][1])));
    std::ofstream(dir + "/neg.csv") << matrix_header(school[0], "CORR") << neg;
    auto r = run_velix("proc velix data='" + dir + "/by.csv' method=none pcorr;\nby school;\n" + kHsModel + "run;\n" +
                           hs_step("'" + dir + "/neg.csv'"),
                       {});
    for (size_t g = 0; g < 2; ++g) {
        const Matrix c = cov_of(school[g], 1.0);
        Matrix want = c;
        for (size_t i = 0; i < c.size(); ++i)
            for (size_t j = 0; j < c.size(); ++j) want[i][j] = c[i][j] / std::sqrt(c[i][i] * c[j][j]);
        if (g == 1) want[1][0] = want[0][1] = 1.0001;
        expect_matrix_near(matrix_of(r, 0, "InCorr", g), want, 1e-10, "school " + std::to_string(g + 1));
    }
    EXPECT_TRUE(has_message(r, 0, 230, 25) && logged(r, "The correlation of x2 and x1 is 1.0001")) << r.log;
    EXPECT_TRUE(has_message(r, 1, 230, 54) && logged(r, "Variable x2 has the standard deviation -")) << r.log;
    EXPECT_EQ(return_code(r, 1), 108);
}

// Two correlated factors of x1-x8 with x9 partialled out, as
// moment_checks_reference.R fits them.
const char* const kPartialModel =
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x7 = l7 F1 + E7,\n"
    "       x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6, x8 = l8 F2 + E8;\n"
    "std F1 F2 = v1 v2, E1-E8 = e1-e8;\ncov F1 F2 = c12;\nrun;\n";

TEST(SymmetricMatrix, IsAnalysedAsGivenUnsweptAndSweptAsTheRawDataInEveryByGroup) {
    // R's cov() of hs as TYPE=SYMATRIX in the default correlation analysis:
    // the covariance analysis of the raw data, by school too, under its own
    // title.  With PARTIAL x9 the swept matrix moves to the divisor of the
    // partial moments, as the raw data's does: in covariance analysis, by ML
    // and ULS, with and without DFREDUCE=5, the fit of the raw data, which
    // is lavaan's on their partial covariances (moment_checks_reference.R);
    // in correlation analysis the raw data's partial correlations.
    const Data d = read_csv("hs.csv");
    const std::vector<Data> school = schools();
    const std::string dir = scratch_dir("mc_symatrix");
    std::ofstream(dir + "/s.csv") << matrix_header(d, "SYMATRIX") << matrix_rows(d, "SYMATRIX");
    std::ofstream(dir + "/by.csv") << matrix_header(d, "SYMATRIX", "school,")
                                   << matrix_rows(school[0], "SYMATRIX", "1,") << matrix_rows(school[1], "SYMATRIX", "2,");
    const std::string s = "'" + dir + "/s.csv'";
    std::string program = hs_step("hs") + "proc velix data=" + s + " method=ml;\n" + kHsModel + "run;\n" +
                          hs_step("hs_by", "by school;\n") + "proc velix data='" + dir +
                          "/by.csv' method=ml;\nby school;\n" + kHsModel + "run;\n";
    const std::string partial = ";\nvar x1-x8;\npartial x9;\n" + std::string(kPartialModel);
    for (const std::string options : {" method=ml covariance", " method=ml covariance dfreduce=5",
                                      " method=uls covariance", " method=uls covariance dfreduce=5", " method=ml"})
        program += "proc velix data=hs" + options + partial + "proc velix data=" + s + options + partial;
    auto r = run_velix(program, {"hs.csv", "hs_by.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    // The two analyses stop at the default criteria from different scales.
    expect_same_fit(fit_of(r, 1), fit_of(r, 0), 5e-5, "SYMATRIX");
    for (size_t g = 0; g < 2; ++g) expect_same_fit(fit_of(r, 3, g), fit_of(r, 2, g), 5e-5, "SYMATRIX by school");
    EXPECT_TRUE(logged(r.listing, "Analysis of the Symmetric Matrix as Given"));
    // lavaan: l2, l5, v1, c12 and the chi-square, by ML with N - 1 = 300
    // and with N - 6 = 295 observations, and by ULS.
    const double lavaan[4][5] = {{0.6037889207, 1.107589283, 0.5931545114, 0.2876682384, 100.8014978},
                                 {0.6037889207, 1.107589283, 0.5931545114, 0.2876682384, 99.11585402},
                                 {0.496088713, 1.053168005, 0.8027967424, 0.3133805522, NAN},
                                 {0.4960887108, 1.053168006, 0.8027967465, 0.3133805528, NAN}};
    const char* const names[4] = {"l2", "l5", "v1", "c12"};
    // ULS has no chi-square.
    const auto chisq = [&](size_t step) { return factoid_values(*r.items(step, "factoid", "Fit").at(0)).at("Chi-Square"); };
    for (size_t k = 0; k < 5; ++k) {
        const std::string what = "PARTIAL, case " + std::to_string(k);
        const auto raw = column_by_parameter(result_table(r, 4 + 2 * k), "Estimate");
        const auto symmetric = column_by_parameter(result_table(r, 5 + 2 * k), "Estimate");
        ASSERT_EQ(raw.size(), symmetric.size()) << what << "\n" << r.log;
        for (const auto& [name, v] : raw)
            EXPECT_LT(rel(symmetric.at(name), v), 1e-6) << what << ": " << name << " " << symmetric.at(name)
                                                        << " against the raw data's " << v;
        const bool ml = k < 2 || k == 4;
        if (ml) {
            EXPECT_LT(rel(chisq(5 + 2 * k), chisq(4 + 2 * k)), 1e-6) << what << ": chi-square";
        }
        if (k == 4) continue;  // the correlation analysis: the raw data's alone
        for (size_t p = 0; p < 4; ++p)
            EXPECT_LT(rel(raw.at(names[p]), lavaan[k][p]), 2e-5) << what << ": " << names[p] << " " << raw.at(names[p]);
        if (ml) {
            EXPECT_LT(rel(chisq(4 + 2 * k), lavaan[k][4]), 1e-6) << what << ": chi-square " << chisq(4 + 2 * k);
        }
    }
}

TEST(MomentMessages, EachFaultOfAMomentDataSetIsNamed) {
    // A covariance matrix of a, b and c with its N and MEAN rows, spoilt
    // one way at a time, fitted by ML and by ULS: the reader's messages do
    // not depend on the method.
    const std::string good = "N,,50,50,50\nMEAN,,1,2,3\nCOV,a,2,0.5,0.3\nCOV,b,0.5,3,0.4\nCOV,c,0.3,0.4,4\n";
    // The same moments about zero (divisor N) but for UCOV(a, a) = 0.9,
    // below the squared mean of a.
    const std::string aboutZero =
        "N,,50,50,50\nMEAN,,1,2,3\nCOV,a,0.9,2.49,3.294\nCOV,b,2.49,6.94,6.392\nCOV,c,3.294,6.392,12.92\n";
    struct Case {
        std::string rows;     // the type of the matrix rows, written over "COV"
        std::string from, to, options;
        int group, number;
        std::string text;
        int code;             // the step's return code
        int ulsCode = -1;     // under ULS, when it differs
    } cases[] = {
        {"COV", "N,,50,50,50", "N,,1,1,1", "", 230, 58, "N = 1 of the moment data set is too small", 108},
        {"COV", "N,,50,50,50", "N,,-21,-21,-21", "", 230, 55, "The N row of the moment data set gives -21", 108},
        {"COV", "MEAN,,1,2,3", "MEAN,,1,.,3", " ucov", 230, 59, "has no value for b", 108},
        {"COV", "COV,c,0.3,0.4,4\n", "", "", 230, 60, "has no row of c", 108},
        {"COV", "0.5,0.3\nCOV,b,0.5,3,0.4\nCOV,c,0.3,", "0.5,.\nCOV,b,0.5,3,0.4\nCOV,c,.,", "", 230, 16,
         "has no element of c and a", 108},
        {"COV", "N,,50,50,50", "N,,20.5,20.5,20.5", "", 230, 56, "gives 20.5, which is not a whole number", 0},
        {"COV", "N,,50,50,50", "N,,50,50,50\nN,,40,40,40", "", 230, 57, "more than one N row (50, then 40)", 0},
        {"COV", "MEAN,,1,2,3", "MEAN,,1,2,3\nCVO,a,9,9,9", "", 230, 62, "Rows of _TYPE_ CVO are not moment rows", 0},
        {"SYMATRIX", "COV,b,0.5,", "COV,b,0.6,", "", 352, 202, "its element of b and a is 0.5 in one row and 0.6", 0},
        {"SYMATRIX", "N,,50,50,50", "N,,-21,-21,-21", "", 230, 55, "The N row of the moment data set gives -21", 108},
        {"SYMATRIX", "N,,50,50,50", "N,,50,50,50\nN,,40,40,40", "", 230, 57, "more than one N row (50, then 40)", 0},
        // Two values of a symmetric matrix's element 0.001 apart; a
        // covariance that makes a correlation of 1.2; a standard deviation
        // between -1 and 0.
        {"SYMATRIX", "COV,b,0.5,", "COV,b,0.501,", "", 352, 202, "element of b and a is 0.5 in one row and 0.501", 0},
        {"COV", "COV,a,2,0.5,0.3\nCOV,b,0.5,", "COV,a,2,2.94,0.3\nCOV,b,2.94,", "", 230, 25,
         "The correlation of b and a is 1.20025, beyond 1", 108, 4},
        {"CORR", "N,,50,50,50", "N,,50,50,50\nSTD,,1,-0.9,2", "", 230, 54, "b has the standard deviation -0.9", 108},
        // Moment data sets that contradict themselves.
        {"COV", "MEAN,,1,2,3", "MEAN,,1,2,3\nMEAN,,1,0,3", "", 230, 63,
         "more than one MEAN row (the value of b is 2, then 0); the last one is used", 0},
        {"COV", "N,,50,50,50", "N,,50,50,50\nSTD,,1,1,1\nSTD,,1,2,1", "", 230, 63,
         "more than one STD row (the value of b is 1, then 2)", 0},
        {"SYMATRIX", "N,,50,50,50", "N,,50,50,50\nSTD,,1,1,1\nSTD,,1,2,1", "", 230, 63,
         "more than one STD row (the value of b is 1, then 2)", 0},
        {"COV", "COV,c,0.3,0.4,4\n", "COV,c,0.3,0.4,4\nCOV,b,0.5,3.5,0.4\n", "", 230, 64,
         "more than one COV row of b: its element of b and b is 3, then 3.5; the values of the last one are used", 0},
        {"SYMATRIX", "COV,c,0.3,0.4,4\n", "COV,c,0.3,0.4,4\nCOV,b,0.5,3.5,0.4\n", "", 230, 64,
         "more than one SYMATRIX row of b: its element of b and b is 3, then 3.5", 0},
        {"COV", "COV,b,0.5,", "COV,b,0.6,", "", 230, 23,
         "its element of b and a is 0.5 in the row of a and 0.6 in the row of b; the later one is used", 0},
        {"UCOV", good, aboutZero, "", 230, 66,
         "Variable a has the mean 1 and the second moment about zero 0.9: its variance about the means, "
         "-0.102041, is negative.",
         108},
        {"COV", "MEAN,,1,2,3", "MEAN,,1,.,3", "", 230, 67,
         "MEAN row of the moment data set has no value for b; the means are taken as 0.", 0},
    };
    const std::string dir = scratch_dir("mc_messages");
    std::string program;
    const std::string model =
        ";\nlineqs a = 1.0 F + E1, b = l2 F + E2, c = l3 F + E3;\nstd F = vf, E1-E3 = e1-e3;\nrun;\n";
    for (const std::string method : {"ml", "uls"}) {
        for (size_t k = 0; k < std::size(cases); ++k) {
            std::string rows = good;
            const Case& c = cases[k];
            rows.replace(rows.find(c.from), c.from.size(), c.to);
            if (c.rows != "COV")
                for (size_t at = rows.find("COV,"); at != std::string::npos; at = rows.find("COV,", at + c.rows.size()))
                    rows.replace(at, 3, c.rows);
            const std::string file = dir + "/m" + std::to_string(k) + ".csv";
            std::ofstream(file) << "# TYPE=" << c.rows << "\n_TYPE_,_NAME_,a,b,c\n" << rows;
            program += "proc velix data='" + file + "' method=" + method + " covariance" + c.options + model;
        }
    }
    // numpy's savetxt(header="a,b,c") puts the names behind '#'.
    std::ofstream(dir + "/np.csv") << "# a,b,c\n1.5,2.5,3.5\n2,1,4\n3,4,1\n";
    program += "proc velix data='" + dir + "/np.csv' method=ml covariance" + model;
    auto r = run_velix(program, {});
    for (size_t m = 0; m < 2; ++m)
        for (size_t k = 0; k < std::size(cases); ++k) {
            const Case& c = cases[k];
            const size_t step = m * std::size(cases) + k;
            const std::string what = std::to_string(k) + (m ? " ULS: " : " ML: ") + c.text;
            EXPECT_TRUE(has_message(r, step, c.group, c.number)) << what << "\n" << r.log;
            EXPECT_TRUE(logged(r, c.text)) << what;
            EXPECT_EQ(return_code(r, step), m == 1 && c.ulsCode >= 0 ? c.ulsCode : c.code) << what;
        }
    EXPECT_TRUE(logged(r, "NOTE: Line 1 of np.csv, \"# a,b,c\", is a comment")) << r.log;
    EXPECT_TRUE(logged(r, "comments=\"\""));
}

}  // namespace
