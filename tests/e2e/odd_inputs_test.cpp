// Whole programs with odd but plausible inputs: option values that are
// missing, and DATA= sets that hold no observation.  Each must end with a
// clear message and a return code, never an internal error or a silent
// success.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "hs_fixture.h"

using velix::test::groups_opened;
using velix::test::own_folder;
using velix::test::run_velix;

namespace {

// One factor of x1-x3 on the data set `data` with the PROC options given.
std::string one_factor(const std::string& data, const std::string& options) {
    return "proc velix data=" + data + " " + options + ";\n"
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
           "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";
}

bool has(const std::vector<int>& numbers, int number) {
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

}  // namespace

TEST(OddInputs, MissingStartConstantIsTheInvalidZeroAndNotAnInternalError) {
    // START=. used to leave every unset element without a start value and
    // end the step with 9999.  It now reads as the invalid START=0: message
    // 74 and the constant 0.5, so its listing is that of START=0.
    for (const char* method : {"method=ml", "method=gls", "method=wls", "method=lsdwls"}) {
        const std::string opts = std::string("covariance pinitial ") + method;
        auto missing = run_velix(one_factor("hs", opts + " start=."), {"hs.csv"});
        auto zero = run_velix(one_factor("hs", opts + " start=0"), {"hs.csv"});
        ASSERT_TRUE(missing.json.is_object()) << missing.log;
        EXPECT_EQ(missing.json["steps"][0]["returnCode"].number(), 0.0) << method << "\n" << missing.log;
        EXPECT_EQ(missing.log.find("internal error"), std::string::npos) << missing.log;
        EXPECT_TRUE(has(missing.messages(0, 352), 74)) << method;
        EXPECT_EQ(missing.listing, zero.listing) << method;
    }
}

TEST(OddInputs, MissingOptionValuesPrintAsAMissingValueInMessages) {
    // EDF=0 with a weight: the note on too few observations names every
    // count, DFREDUCE= among them although it was not given; it reads "."
    // and not the NaN that carries the missing value.
    const std::string dir = own_folder("odd_inputs_edf");
    std::ofstream(dir + "/w.csv") << "w,x1,x2,x3\n1,1,2,3\n2,2,1,4\n1,3,5,2\n1,4,4,6\n1,5,7,5\n";
    std::string program = one_factor("'" + dir + "/w.csv'", "covariance edf=0");
    program.insert(program.find("lineqs"), "weight w;\n");
    auto r = run_velix(program, {});
    ASSERT_TRUE(r.json.is_object()) << r.log;
    EXPECT_TRUE(has(r.messages(0, 352), 6)) << r.log;
    EXPECT_NE(r.log.find("DFREDUCE= ."), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("nan"), std::string::npos) << r.log;
}

TEST(OddInputs, DataSetWithoutObservationsIsAnErrorNotACleanRun) {
    // A DATA= set with a header line only has no BY group, so the loop
    // makes no pass; the step used to end with 0 and not a word.  It now
    // ends with message 4 and 108, with or without BY variables, for every
    // method.
    const std::string dir = own_folder("odd_inputs_empty");
    std::ofstream(dir + "/header.csv") << "g,x1,x2,x3\n";
    for (const char* by : {"", "by g;\n"})
        for (const char* method : {"method=ml", "method=uls", "method=gls", "method=wls", "method=dwls",
                                   "method=lsgls", "method=lswls", "method=lsdwls"}) {
            std::string program = one_factor("'" + dir + "/header.csv'", std::string("covariance ") + method);
            program.insert(program.find("lineqs"), std::string("var x1-x3;\n") + by);
            auto r = run_velix(program, {});
            ASSERT_TRUE(r.json.is_object()) << r.log;
            EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 108.0) << method << by << "\n" << r.log;
            EXPECT_EQ(r.exitStatus, 1) << method;
            EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 0u) << method;
            EXPECT_TRUE(has(r.messages(0, 352), 4)) << method << by;
        }
    // One observation is a group: the moments stage reports it instead.
    std::ofstream(dir + "/one.csv") << "x1,x2,x3\n1,2,3\n";
    auto r = run_velix(one_factor("'" + dir + "/one.csv'", "covariance"), {});
    ASSERT_TRUE(r.json.is_object()) << r.log;
    EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 1u);
    EXPECT_FALSE(has(r.messages(0, 352), 4));
}

namespace {

// The first `rows` observations of hs.csv in a data set of their own.
std::string hs_head(const std::string& dir, int rows) {
    std::ifstream in(velix::test::data_path("hs.csv"));
    const std::string name = "hs" + std::to_string(rows);
    std::ofstream out(dir + "/" + name + ".csv");
    std::string line;
    for (int k = 0; k <= rows && std::getline(in, line); ++k) out << line << '\n';
    return "'" + dir + "/" + name + ".csv'";
}

// The parameter row of the last PARMS row of an OUTEST= data set.
std::vector<std::string> parms(const std::string& path) {
    std::vector<std::string> last;
    for (const auto& r : velix::test::read_rows(path).cells)
        if (r[0] == "PARMS") last.assign(r.begin() + 2, r.end());
    return last;
}

double return_code(const velix::test::RunResult& r) { return r.json["steps"][0]["returnCode"].number(); }

const char* const kTwoFactors =
    "var x1-x6;\n"
    "lineqs x1 = l1 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,\n"
    "       x4 = l4 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6;\n"
    "std F1 = 1.0, F2 = 1.0, E1-E6 = ve1-ve6;\ncov F1 F2 = c12;\nrun;\n";

}  // namespace

TEST(OddInputs, NoPenaltyForWlsOnCorrelationsIsAnInputError) {
    // WPENALTY=0 (a negative value reads as 0) leaves the variances of the
    // correlation matrix without weight: the WLS weight matrix has no
    // inverse, which ended in an internal error.  DWLS leaves those moments
    // out and fits.
    for (const std::string method : {"wls", "lswls", "dwls"})
        for (const std::string penalty : {"0", "-1"}) {
            auto r = run_velix("proc velix data=hs method=" + method + " wpenalty=" + penalty + ";\n" + kTwoFactors,
                               {"hs.csv"});
            EXPECT_EQ(r.log.find("internal error"), std::string::npos) << r.log;
            const bool refused = method != "dwls";
            EXPECT_EQ(has(r.messages(0, 352), 471), refused) << method << penalty << "\n" << r.log;
            EXPECT_EQ(return_code(r) == 2000.0, refused) << method << penalty;
            EXPECT_LE(return_code(r), refused ? 2000.0 : 4.0) << r.log;
        }
}

TEST(OddInputs, LeastSquaresStageRunsAloneWhenTheWeightsCannotBeFormed) {
    // Three observations are too few for the fourth-order moments: LSWLS
    // and LSDWLS fit by ULS alone.  That is a warning naming both methods,
    // not a failure, and the estimates are those of METHOD=ULS.
    const std::string dir = own_folder("odd_inputs_tiny");
    const std::string data = hs_head(dir, 3);
    auto program = [&](const std::string& method, const std::string& out) {
        return one_factor(data, "covariance method=" + method + " outest='" + dir + "/" + out + ".csv'");
    };
    auto uls = run_velix(program("uls", "uls"), {});
    ASSERT_TRUE(uls.json.is_object()) << uls.log;
    for (const std::string method : {"lswls", "lsdwls"}) {
        auto r = run_velix(program(method, method), {});
        EXPECT_EQ(return_code(r), 4.0) << method << "\n" << r.log;
        const std::string named = method == "lswls" ? "LSWLS" : "LSDWLS";
        EXPECT_NE(r.log.find("WARNING: The weights of METHOD=" + named +
                             " cannot be formed; the BY group is analysed by METHOD=ULS only."),
                  std::string::npos) << r.log;
        EXPECT_EQ(r.log.find("ERROR"), std::string::npos) << r.log;
        EXPECT_EQ(parms(dir + "/" + method + ".csv"), parms(dir + "/uls.csv")) << method;
    }
}

TEST(OddInputs, WlsWeightsThatMustBeSingularAreRefusedAtOnce) {
    // The weights of p* = 21 moments are a sum of N - 1 outer products
    // about the means: 21 observations cannot give them full rank, 22 can.
    // LSWLS then fits by ULS alone.
    const std::string dir = own_folder("odd_inputs_rank");
    const std::string head = "proc velix covariance method=";
    for (const int rows : {21, 22})
        for (const char* method : {"wls", "lswls"}) {
            auto r = run_velix(head + method + " data=" + hs_head(dir, rows) + ";\n" + kTwoFactors, {});
            ASSERT_TRUE(r.json.is_object()) << r.log;
            EXPECT_EQ(has(r.messages(0, 352), 472), rows == 21) << rows << method << "\n" << r.log;
            if (rows == 22) continue;
            const bool ls = std::string(method) == "lswls";
            EXPECT_EQ(has(r.messages(0, 352), 12), !ls) << method;
            EXPECT_EQ(return_code(r), ls ? 4.0 : 108.0) << method << "\n" << r.log;
        }
    // MAXTIME= covers the forming of the weights (the harness stops the
    // clock, so the limit is one that has passed at once).
    auto r = run_velix(head + "wls maxtime=0 data=hs;\n" + kTwoFactors, {"hs.csv"});
    ASSERT_TRUE(r.json.is_object()) << r.log;
    EXPECT_TRUE(has(r.messages(0, 352), 473)) << r.log;
    EXPECT_EQ(return_code(r), 108.0) << r.log;
}

TEST(OddInputs, IgnoredProgrammingStatementsTakeNoPart) {
    // The default FACTOR model ignores programming statements.  With
    // INEST= their variables were matched against its columns and the step
    // ended with 9999; a constraint on them was counted but never evaluated.
    const std::string dir = own_folder("odd_inputs_factor");
    auto factor = [&](const std::string& options, const std::string& statements) {
        return "proc velix data=hs method=ml " + options + ";\nvar x1-x6;\nfactor n=3;\n" + statements + "run;\n";
    };
    const std::string est = "'" + dir + "/est.csv'";
    ASSERT_EQ(run_velix(factor("outest=" + est, ""), {"hs.csv"}).exitStatus, 0);
    auto plain = run_velix(factor("inest=" + est + " outest='" + dir + "/a.csv'", ""), {"hs.csv"});
    auto ignored = run_velix(factor("inest=" + est + " outest='" + dir + "/b.csv'", "a = _F3;\n"), {"hs.csv"});
    ASSERT_TRUE(ignored.json.is_object()) << ignored.log;
    EXPECT_EQ(ignored.exitStatus, plain.exitStatus) << ignored.log;
    EXPECT_TRUE(has(ignored.messages(0, 352), 272));
    EXPECT_EQ(parms(dir + "/b.csv"), parms(dir + "/a.csv"));
    ASSERT_FALSE(parms(dir + "/a.csv").empty());

    auto constrained = run_velix(factor("", "c_1 = _F2 ** 2;\nnlincon c_1 >= 0.3;\n"), {"hs.csv"});
    ASSERT_TRUE(constrained.json.is_object()) << constrained.log;
    EXPECT_TRUE(has(constrained.messages(0, 352), 470)) << constrained.log;
    EXPECT_EQ(return_code(constrained), 2000.0);
}

TEST(OddInputs, SampleSizesBeyondThirtyTwoBitsKeepTheirDegreesOfFreedom) {
    // N = 3e9 passed through a 32-bit integer on its way to the t tests,
    // and every probability printed as 1.  With so many degrees of freedom
    // the t distribution is the normal: Probt = erfc(|t| / sqrt 2), and the
    // covariance's t is c / sqrt((v1 v2 + c^2) / (N - 1)) in closed form.
    const std::string dir = own_folder("odd_inputs_big_n");
    const double n = 3e9, c = 4e-5;
    std::ofstream(dir + "/big.csv") << "# TYPE=COV\n_TYPE_,_NAME_,x1,x2\nN,,3e9,3e9\n"
                                    << "COV,x1,1," << c << "\nCOV,x2," << c << ",1\n";
    auto r = run_velix("proc velix data='" + dir + "/big.csv' method=ml covariance;\n"
                       "ram 2 1 1 v1, 2 2 2 v2, 2 2 1 c12;\nrun;\n", {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto tables = r.items(0, "table", "ParameterEstimates");
    ASSERT_FALSE(tables.empty());
    const velix::test::JsonValue& t = *tables.back();
    bool seen = false;
    for (size_t row = 0; row < t["rows"].size(); ++row) {
        if (velix::test::cell(t, row, "Parameter").str() != "c12") continue;
        seen = true;
        const double tv = velix::test::cell(t, row, "tValue").number();
        EXPECT_NEAR(tv, c / std::sqrt((1 + c * c) / (n - 1)), 1e-9 * tv);
        const double expected = std::erfc(std::fabs(tv) / std::sqrt(2.0));
        EXPECT_NEAR(velix::test::cell(t, row, "Probt").number(), expected, 1e-6 * expected);
    }
    EXPECT_TRUE(seen);
}

TEST(OddInputs, SmallOptionAndReportingFaults) {
    const std::string model = "var x1-x9;\n" + std::string(velix::test::kHsModel);
    // A negative HESSALG= asked for no covariance of the estimates and
    // dropped every standard error in silence: it is refused like the other
    // invalid modes, and the standard errors are those of the default.
    auto plain = run_velix("proc velix data=hs covariance;\n" + model + "run;\n", {"hs.csv"});
    auto negative = run_velix("proc velix data=hs covariance hessalg=-2;\n" + model + "run;\n", {"hs.csv"});
    ASSERT_TRUE(negative.json.is_object()) << negative.log;
    EXPECT_TRUE(has(negative.messages(0, 352), 73)) << negative.log;
    auto std_errors = [](const velix::test::RunResult& r) {
        std::vector<double> se;
        const auto tables = r.items(0, "table", "ParameterEstimates");
        for (size_t row = 0; !tables.empty() && row < (*tables.back())["rows"].size(); ++row)
            se.push_back(velix::test::cell(*tables.back(), row, "AppStdErr").number());
        return se;
    };
    const std::vector<double> se = std_errors(plain);
    EXPECT_EQ(std_errors(negative), se);
    EXPECT_EQ(std::count_if(se.begin(), se.end(), [](double x) { return x > 0; }), 21);

    // NOPRINT leaves the listing without the optimizer's tables as well.
    auto quiet = run_velix("proc velix data=hs covariance noprint;\n" + model + "run;\n", {"hs.csv"});
    ASSERT_EQ(quiet.exitStatus, 0) << quiet.log;
    EXPECT_TRUE(quiet.items(0, "table").empty());
    EXPECT_TRUE(quiet.items(0, "factoid").empty());

    // An error in one MATRIX statement is reported once; the matrices after
    // it are not called empty.
    auto matrix = run_velix(
        "proc velix data=hs covariance;\nvar x1-x9;\ncosan F(3, GEN) * P(3, SYM) + U(9, SYM);\n"
        "matrix F [ , 5] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6, [ , 3] = 0 0 0 0 0 0 1.0 l8 l9;\n"
        "matrix P [1, 1] = vvis vtxt vspd, [2, 1] = cvt cts, [3, 1] = cvs;\nmatrix U [1, 1] = ve1-ve9;\nrun;\n",
        {"hs.csv"});
    ASSERT_TRUE(matrix.json.is_object()) << matrix.log;
    EXPECT_EQ(return_code(matrix), 2000.0) << matrix.log;
    EXPECT_FALSE(has(matrix.messages(0, 352), 118)) << matrix.log;

    // The note on a sparse Jacobian prints its count of entries as a whole
    // number, here p* q = 5050 x 200 for one factor of 100 indicators (the
    // data need only be regular).
    const std::string dir = own_folder("odd_inputs_wide");
    std::ofstream data(dir + "/wide.csv");
    std::string wide = "proc velix data='" + dir + "/wide.csv' covariance;\nlineqs ";
    for (int j = 1; j <= 100; ++j) {
        const std::string k = std::to_string(j);
        data << (j > 1 ? "," : "") << "v" << k;
        wide += "v" + k + " = l" + k + " F1 + E" + k + (j < 100 ? ",\n" : ";\nstd F1 = 1, E1-E100 = ve1-ve100;\nrun;\n");
    }
    std::mt19937 generator(1);
    std::normal_distribution<double> z;
    for (int i = 0; i < 300; ++i) {
        const double f = z(generator);
        for (int j = 0; j < 100; ++j) data << (j > 0 ? "," : "\n") << f + z(generator);
    }
    data.close();
    auto sparse = run_velix(wide, {});
    EXPECT_NE(sparse.log.find(" of its 1010000 entries can be nonzero."), std::string::npos) << sparse.log;
}
