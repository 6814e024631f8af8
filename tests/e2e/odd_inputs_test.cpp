// Whole programs with odd but plausible inputs: missing option values,
// empty or tiny DATA= sets, options a method cannot take, huge N.  Each
// ends with a clear message and a return code, never an internal error or
// a silent success.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include "hs_fixture.h"

namespace velix::test {
namespace {

// One factor of x1-x3 on the data set `data` with the PROC options given.
std::string one_factor(const std::string& data, const std::string& options) {
    return "proc velix data=" + data + " " + options + ";\n"
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
           "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";
}

// The first `rows` observations of hs.csv in a data set of their own.
std::string hs_head(const std::string& dir, int rows) {
    std::ifstream in(data_path("hs.csv"));
    const std::string path = dir + "/hs" + std::to_string(rows) + ".csv";
    std::ofstream out(path);
    std::string line;
    for (int k = 0; k <= rows && std::getline(in, line); ++k) out << line << '\n';
    return "'" + path + "'";
}

// The parameter row of the last PARMS row of an OUTEST= data set.
std::vector<std::string> parms(const std::string& path) {
    std::vector<std::string> last;
    for (const auto& r : read_rows(path).cells)
        if (r[0] == "PARMS") last.assign(r.begin() + 2, r.end());
    return last;
}

const char* const kTwoFactors =
    "var x1-x6;\n"
    "lineqs x1 = l1 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,\n"
    "       x4 = l4 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6;\n"
    "std F1 = 1.0, F2 = 1.0, E1-E6 = ve1-ve6;\ncov F1 F2 = c12;\nrun;\n";

TEST(OddInputs, MissingStartConstantIsTheInvalidZeroAndNotAnInternalError) {
    // START=. once ended the step with 9999; it reads as the invalid START=0.
    for (const char* method : {"method=ml", "method=gls", "method=wls", "method=lsdwls"}) {
        const std::string opts = std::string("covariance pinitial ") + method;
        const RunResult missing = run_velix(one_factor("hs", opts + " start=."), {"hs.csv"});
        ASSERT_TRUE(missing.json.is_object()) << missing.log;
        EXPECT_EQ(missing.return_code(), 0) << method << "\n" << missing.log;
        EXPECT_TRUE(missing.has_message(352, 74)) << method;
        EXPECT_EQ(missing.listing, run_velix(one_factor("hs", opts + " start=0"), {"hs.csv"}).listing) << method;
    }
}

TEST(OddInputs, MissingOptionValuesPrintAsAMissingValueInMessages) {
    // The note on too few observations names DFREDUCE=, which is not given.
    const std::string dir = own_folder("odd_inputs_edf");
    std::ofstream(dir + "/w.csv") << "w,x1,x2,x3\n1,1,2,3\n2,2,1,4\n1,3,5,2\n1,4,4,6\n1,5,7,5\n";
    std::string program = one_factor("'" + dir + "/w.csv'", "covariance edf=0");
    program.insert(program.find("lineqs"), "weight w;\n");
    const RunResult r = run_velix(program, {});
    EXPECT_TRUE(r.has_message(352, 6)) << r.log;
    EXPECT_NE(r.log.find("DFREDUCE= ."), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("nan"), std::string::npos) << r.log;
}

TEST(OddInputs, DataSetWithoutObservationsIsAnErrorNotACleanRun) {
    // A header line only is no BY group: once a return code of 0 and not a
    // word, now messages 4 and 108 under every method, with BY or without.
    const std::string dir = own_folder("odd_inputs_empty");
    std::ofstream(dir + "/header.csv") << "g,x1,x2,x3\n";
    for (const char* by : {"", "by g;\n"})
        for (const char* method : {"ml", "uls", "gls", "wls", "dwls", "lsgls", "lswls", "lsdwls"}) {
            std::string program = one_factor("'" + dir + "/header.csv'", std::string("covariance method=") + method);
            program.insert(program.find("lineqs"), std::string("var x1-x3;\n") + by);
            const RunResult r = run_velix(program, {});
            ASSERT_TRUE(r.json.is_object()) << r.log;
            EXPECT_EQ(r.return_code(), 108) << method << by << "\n" << r.log;
            EXPECT_EQ(r.exitStatus, 1) << method;
            EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 0u) << method;
            EXPECT_TRUE(r.has_message(352, 4)) << method << by;
        }
    // One observation is a group: the moments stage reports it instead.
    std::ofstream(dir + "/one.csv") << "x1,x2,x3\n1,2,3\n";
    const RunResult r = run_velix(one_factor("'" + dir + "/one.csv'", "covariance"), {});
    EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 1u);
    EXPECT_FALSE(r.has_message(352, 4));
}

TEST(OddInputs, NoPenaltyForWlsOnCorrelationsIsAnInputError) {
    // WPENALTY=0 (or a negative value, read as 0) leaves the WLS weights of
    // correlations singular: once an internal error.  DWLS leaves those
    // moments out and fits.
    for (const std::string method : {"wls", "lswls", "dwls"})
        for (const std::string penalty : {"0", "-1"}) {
            const RunResult r =
                run_velix("proc velix data=hs method=" + method + " wpenalty=" + penalty + ";\n" + kTwoFactors, {"hs.csv"});
            const bool refused = method != "dwls";
            EXPECT_EQ(r.has_message(352, 471), refused) << method << penalty << "\n" << r.log;
            EXPECT_TRUE(refused ? r.return_code() == 2000 : r.return_code() <= 4) << method << penalty << "\n" << r.log;
        }
}

TEST(OddInputs, LeastSquaresStageRunsAloneWhenTheWeightsCannotBeFormed) {
    // Three observations are too few for fourth-order moments: LSWLS and
    // LSDWLS warn and give the estimates of METHOD=ULS.
    const std::string dir = own_folder("odd_inputs_tiny");
    const std::string data = hs_head(dir, 3);
    for (const std::string method : {"uls", "lswls", "lsdwls"}) {
        const RunResult r =
            run_velix(one_factor(data, "covariance method=" + method + " outest='" + dir + "/" + method + ".csv'"), {});
        if (method == "uls") continue;
        EXPECT_EQ(r.return_code(), 4) << method << "\n" << r.log;
        const std::string named = method == "lswls" ? "LSWLS" : "LSDWLS";
        EXPECT_NE(r.log.find("WARNING: The weights of METHOD=" + named +
                             " cannot be formed; the model is fitted by METHOD=ULS only."),
                  std::string::npos) << r.log;
        EXPECT_EQ(r.log.find("ERROR"), std::string::npos) << r.log;
        EXPECT_EQ(parms(dir + "/" + method + ".csv"), parms(dir + "/uls.csv")) << method;
    }
}

TEST(OddInputs, WlsWeightsThatMustBeSingularAreRefusedAtOnce) {
    // The weights of p* = 21 moments are a sum of N - 1 outer products:
    // 21 observations cannot give them full rank, 22 can.  LSWLS then fits
    // by ULS alone.
    const std::string dir = own_folder("odd_inputs_rank");
    const std::string head = "proc velix covariance method=";
    for (const int rows : {21, 22})
        for (const std::string method : {"wls", "lswls"}) {
            const RunResult r = run_velix(head + method + " data=" + hs_head(dir, rows) + ";\n" + kTwoFactors, {});
            EXPECT_EQ(r.has_message(352, 472), rows == 21) << rows << method << "\n" << r.log;
            if (rows == 22) continue;
            EXPECT_EQ(r.has_message(352, 12), method == "wls") << method;
            EXPECT_EQ(r.return_code(), method == "wls" ? 108 : 4) << method << "\n" << r.log;
        }
    // MAXTIME= covers the forming of the weights (a limit of 0 has passed).
    const RunResult r = run_velix(head + "wls maxtime=0 data=hs;\n" + kTwoFactors, {"hs.csv"});
    EXPECT_TRUE(r.has_message(352, 473)) << r.log;
    EXPECT_EQ(r.return_code(), 108) << r.log;
}

TEST(OddInputs, WlsWeightsThatTheDataMakeSingularNameTheMoments) {
    // Under AUGMENT the square of a variable with two values (sex 1 and 2,
    // grade 7 and 8) is a combination of the variable and the constant:
    // the fourth-order moments of (Intercept, sex) and (Intercept, grade)
    // follow from those before them.  WLS ends with the ERROR and a NOTE
    // naming them; LSWLS names them and goes on by its ULS stage, as with
    // too few observations.
    const std::string model =
        " covariance augment data=hs_covariates;\nvar x1 x2 sex grade;\n"
        "lineqs x1 = a1 Intercept + b1 sex + b2 grade + E1, x2 = a2 Intercept + c1 x1 + E2;\n"
        "std E1 E2 = ve1 ve2;\nrun;\n";
    for (const std::string method : {"wls", "lswls"}) {
        const RunResult r = run_velix("proc velix method=" + method + model, {"hs_covariates.csv"});
        EXPECT_EQ(r.has_message(352, 12), method == "wls") << method << "\n" << r.log;
        EXPECT_NE(r.log.find("NOTE: The weight matrix is singular at the moments (Intercept, sex), (Intercept, grade):"),
                  std::string::npos) << r.log;
        EXPECT_EQ(r.has_message(352, 23), method == "lswls") << method;
        EXPECT_EQ(r.return_code(), method == "wls" ? 108 : 4) << method << "\n" << r.log;
    }
}

TEST(OddInputs, IgnoredProgrammingStatementsTakeNoPart) {
    // The default FACTOR model ignores programming statements: with INEST=
    // their variables once ended the step with 9999, and a constraint on
    // them was counted but never evaluated.
    const std::string dir = own_folder("odd_inputs_factor");
    auto factor = [&](const std::string& options, const std::string& statements) {
        return run_velix("proc velix data=hs method=ml " + options + ";\nvar x1-x6;\nfactor n=3;\n" + statements + "run;\n",
                         {"hs.csv"});
    };
    const std::string inest = "inest='" + dir + "/est.csv' outest='" + dir;
    ASSERT_EQ(factor("outest='" + dir + "/est.csv'", "").exitStatus, 0);
    const RunResult plain = factor(inest + "/a.csv'", ""), ignored = factor(inest + "/b.csv'", "a = _F3;\n");
    EXPECT_EQ(ignored.exitStatus, plain.exitStatus) << ignored.log;
    EXPECT_TRUE(ignored.has_message(352, 272));
    EXPECT_EQ(parms(dir + "/b.csv"), parms(dir + "/a.csv"));
    ASSERT_FALSE(parms(dir + "/a.csv").empty());
    const RunResult constrained = factor("", "c_1 = _F2 ** 2;\nnlincon c_1 >= 0.3;\n");
    EXPECT_TRUE(constrained.has_message(352, 470)) << constrained.log;
    EXPECT_EQ(constrained.return_code(), 2000);
}

TEST(OddInputs, SampleSizesBeyondThirtyTwoBitsKeepTheirDegreesOfFreedom) {
    // N = 3e9 once passed through a 32-bit integer to the t tests.  With so
    // many degrees of freedom t is normal: Probt = erfc(|t| / sqrt 2), and
    // the covariance's t is c / sqrt((v1 v2 + c^2) / (N - 1)).
    const std::string dir = own_folder("odd_inputs_big_n");
    const double n = 3e9, c = 4e-5;
    std::ofstream(dir + "/big.csv") << "# TYPE=COV\n_TYPE_,_NAME_,x1,x2\nN,,3e9,3e9\n"
                                    << "COV,x1,1," << c << "\nCOV,x2," << c << ",1\n";
    const RunResult r = run_velix("proc velix data='" + dir + "/big.csv' method=ml covariance;\n"
                                  "ram 2 1 1 v1, 2 2 2 v2, 2 2 1 c12;\nrun;\n", {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const double t = column_by_parameter(result_table(r), "tValue").at("c12");
    EXPECT_NEAR(t, c / std::sqrt((1 + c * c) / (n - 1)), 1e-9 * t);
    const double p = std::erfc(std::fabs(t) / std::sqrt(2.0));
    EXPECT_NEAR(column_by_parameter(result_table(r), "Probt").at("c12"), p, 1e-6 * p);
}

TEST(OddInputs, SmallOptionAndReportingFaults) {
    const std::string model = "var x1-x9;\n" + std::string(kHsModel);
    // A negative HESSALG= dropped every standard error in silence: it is
    // refused like the other invalid modes.
    const RunResult plain = run_velix("proc velix data=hs covariance;\n" + model + "run;\n", {"hs.csv"});
    const RunResult negative = run_velix("proc velix data=hs covariance hessalg=-2;\n" + model + "run;\n", {"hs.csv"});
    EXPECT_TRUE(negative.has_message(352, 73)) << negative.log;
    const auto se = column_by_parameter(result_table(plain), "AppStdErr");
    EXPECT_EQ(column_by_parameter(result_table(negative), "AppStdErr"), se);
    EXPECT_EQ(std::count_if(se.begin(), se.end(), [](const auto& s) { return s.second > 0; }), 21);

    // NOPRINT leaves the listing without the optimizer's tables as well.
    const RunResult quiet = run_velix("proc velix data=hs covariance noprint;\n" + model + "run;\n", {"hs.csv"});
    ASSERT_EQ(quiet.exitStatus, 0) << quiet.log;
    EXPECT_TRUE(quiet.items(0, "table").empty());
    EXPECT_TRUE(quiet.items(0, "factoid").empty());

    // An error in one MATRIX statement does not call the later matrices empty.
    const RunResult matrix = run_velix(
        "proc velix data=hs covariance;\nvar x1-x9;\ncosan F(3, GEN) * P(3, SYM) + U(9, SYM);\n"
        "matrix F [ , 5] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6, [ , 3] = 0 0 0 0 0 0 1.0 l8 l9;\n"
        "matrix P [1, 1] = vvis vtxt vspd, [2, 1] = cvt cts, [3, 1] = cvs;\nmatrix U [1, 1] = ve1-ve9;\nrun;\n",
        {"hs.csv"});
    EXPECT_EQ(matrix.return_code(), 2000) << matrix.log;
    EXPECT_FALSE(matrix.has_message(352, 118)) << matrix.log;

    // The note on a sparse Jacobian prints its count of entries whole:
    // p* q = 5050 x 200 for one factor of 100 indicators (of unit
    // covariances: the data need only be regular).
    const std::string dir = own_folder("odd_inputs_wide");
    std::ofstream data(dir + "/wide.csv");
    std::string wide = "proc velix data='" + dir + "/wide.csv' covariance;\nlineqs ";
    data << "# TYPE=COV\n_TYPE_,_NAME_";
    for (int j = 1; j <= 100; ++j) {
        const std::string k = std::to_string(j);
        data << ",v" << k;
        wide += "v" + k + " = l" + k + " F1 + E" + k + (j < 100 ? ",\n" : ";\nstd F1 = 1, E1-E100 = ve1-ve100;\nrun;\n");
    }
    data << "\nN,";
    for (int j = 0; j < 100; ++j) data << ",300";
    for (int i = 1; i <= 100; ++i) {
        data << "\nCOV,v" << i;
        for (int j = 1; j <= 100; ++j) data << (i == j ? ",1" : ",0");
    }
    data.close();
    const RunResult sparse = run_velix(wide, {});
    EXPECT_NE(sparse.log.find(" of its 1010000 entries can be nonzero."), std::string::npos) << sparse.log;
}

// Data files as other programs write them: a spreadsheet's byte-order
// mark before a quoted first name, CRLF and old Mac CR line ends, R's NA
// for a missing number (write.csv), and R's default write.csv with row
// names under an empty first name and a text that holds a newline.  Each
// gives the estimates of its plain form: hs.csv, whose estimates the
// lavaan tests check, and for the NA file hs.csv without the two
// observations that hold NA, as read.csv and lavaan's listwise deletion
// read it (na_reference.R: 299 observations, l2 0.5718).  The row names
// are row labels, with a NOTE, and the fit has lavaan's chi-square on
// what read.csv reads back (row_names_reference.R: 85.0221226).
TEST(OddInputs, DataFilesOfOtherProgramsGiveTheEstimatesOfTheirPlainForm) {
    const std::string dir = own_folder("odd_inputs_other_programs");
    const std::string hs = read_text(data_path("hs.csv"));
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
        return text;
    };
    // x3 of the first observation and x7 of the fourth as NA, and hs.csv
    // without those two lines.
    std::string na = hs, dropped = hs;
    const size_t first = hs.find('\n') + 1, second = hs.find('\n', first) + 1;
    const size_t fourth = hs.find('\n', hs.find('\n', second) + 1) + 1, fifth = hs.find('\n', fourth) + 1;
    const auto nth_field = [&](size_t line, int k) {
        size_t at = line;
        for (int i = 0; i < k; ++i) at = hs.find(',', at) + 1;
        return std::make_pair(at, hs.find_first_of(",\n", at) - at);
    };
    const auto [x7, x7Length] = nth_field(fourth, 6);
    const auto [x3, x3Length] = nth_field(first, 2);
    na.replace(x7, x7Length, "NA").replace(x3, x3Length, "NA");
    dropped.erase(fourth, fifth - fourth).erase(first, second - first);
    // As R's write.csv writes hs.csv with a text column `note`.
    std::string rowNames = "\"\",\"" + replaced(hs.substr(0, first - 1), ",", "\",\"") + "\",\"note\"\n";
    for (size_t at = first, row = 1; at < hs.size(); at = hs.find('\n', at) + 1, ++row)
        rowNames += "\"" + std::to_string(row) + "\"," + hs.substr(at, hs.find('\n', at) - at) +
                    (row == 1 ? ",\"first\nline\"\n" : ",\"\"\n");
    const struct {
        const char* name;
        std::string text, plain;
    } cases[] = {
        {"bom", "\xEF\xBB\xBF\"x1\"" + hs.substr(2), hs},
        {"crlf", replaced(hs, "\n", "\r\n"), hs},
        {"cr", replaced(hs, "\n", "\r"), hs},
        {"na", na, dropped},
        {"rownames", rowNames, hs},
    };
    const auto fit = [&dir](const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name + ".csv", std::ios::binary) << text;
        const RunResult r = run_velix("proc velix data=" + name + " method=ml covariance;\n" + kHsModel + "run;\n",
                                      {}, {"--lib", dir});
        EXPECT_EQ(r.return_code(), 0) << name << "\n" << r.log;
        return r;
    };
    for (const auto& c : cases) {
        const RunResult r = fit(c.name, c.text);
        const auto got = column_by_parameter(result_table(r), "Estimate");
        const auto expected = column_by_parameter(result_table(fit(std::string(c.name) + "_plain", c.plain)), "Estimate");
        ASSERT_EQ(got.size(), 21u) << c.name;
        for (const auto& [parameter, value] : expected)
            EXPECT_NEAR(got.at(parameter), value, 1e-9 * std::fabs(value)) << c.name << " " << parameter;
        if (c.name != std::string("rownames")) continue;
        EXPECT_NE(r.log.find("NOTE: The first column of rownames.csv has no name, as R's write.csv writes its row "
                             "names: it is read as the row labels, the character variable _ROWNAME_."),
                  std::string::npos)
            << r.log;
        EXPECT_NEAR(factoid_values(*r.items(0, "factoid", "Fit").at(0)).at("Chi-Square"), 85.0221226, 5e-5);
    }
}

}  // namespace
}  // namespace velix::test
