// Data sets read as the user meant them, or refused with a message that
// names the cause: data sets wider than variables can be numbered, a
// covariance matrix written by R read without a TYPE, R's non-finite
// values, and files whose trouble another message would hide.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include "tests/e2e/hs_fixture.h"

namespace velix::test {
namespace {

// A data set of `columns` numeric variables v1, v2, ... and `rows`
// observations, written in `dir`; variable vk holds k plus a small number
// that varies with the observation, so that its mean says which column it
// was read from.
void write_wide(const std::string& dir, const std::string& name, int columns, int rows) {
    std::string text;
    for (int k = 1; k <= columns; ++k) text += (k > 1 ? ",v" : "v") + std::to_string(k);
    text += '\n';
    for (int r = 0; r < rows; ++r) {
        for (int k = 1; k <= columns; ++k)
            text += (k > 1 ? "," : "") + std::to_string(k + (r * (k % 5 + 1)) % 4);
        text += '\n';
    }
    std::ofstream(dir + "/" + name + ".csv") << text;
}

// A data set with more variables than can be numbered is refused in every
// input role, with its count and the limit, before anything is analysed;
// one at the limit analyses the very columns its VAR list names.
TEST(DataSetReading, VariablesBeyondTheMostThatCanBeNumberedAreRefused) {
    const std::string dir = own_folder("data_set_reading_wide");
    write_wide(dir, "at", 32767, 3);
    write_wide(dir, "over", 32768, 3);
    const std::string model = "factor n=1;\nrun;\n";
    const struct {
        const char* options;
        const char* vars;
    } refused[] = {
        {"data=over", "var v32765-v32768;\n"},
        {"data=over", ""},
        {"data=at inest=over", "var v32764-v32767;\n"},
        {"data=at inwgt=over method=gls", "var v32764-v32767;\n"},
        {"data=at inram=over", "var v32764-v32767;\n"},
    };
    for (const auto& c : refused) {
        const RunResult r = run_velix(std::string("proc velix ") + c.options + ";\n" + c.vars + model, {},
                                      {"--lib", dir});
        EXPECT_NE(r.exitStatus, 0) << c.options;
        EXPECT_NE(r.log.find("over.csv: the data set has 32768 variables, more than the 32767 a data set can have"),
                  std::string::npos)
            << c.options << "\n" << r.log.substr(0, 2000);
        EXPECT_EQ(r.log.find("internal error"), std::string::npos) << c.options;
        EXPECT_TRUE(r.items(0, "table", "SimpleStatistics").empty()) << c.options << ": nothing is analysed";
    }
    const RunResult r = run_velix("proc velix data=at;\nvar v32764-v32767;\n" + model, {}, {"--lib", dir});
    const JsonValue& stats = r.table(0, "SimpleStatistics");
    ASSERT_EQ(stats["rows"].size(), 4u) << r.log.substr(0, 2000);
    for (size_t i = 0; i < 4; ++i) {
        const int k = 32764 + static_cast<int>(i);
        EXPECT_EQ(cell(stats, i, "Variable").str(), "v" + std::to_string(k));
        double mean = 0.0;
        for (int row = 0; row < 3; ++row) mean += (k + (row * (k % 5 + 1)) % 4) / 3.0;
        EXPECT_NEAR(cell(stats, i, "Mean").number(), mean, 1e-9) << k;
    }
}

// Two factors of x1-x6 on `data`, with the PROC options given.
std::string two_factors(const std::string& data) {
    return "proc velix data=" + data + " method=ml covariance;\n"
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,\n"
           "       x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6;\n"
           "std F1 = v1, F2 = v2, E1-E6 = ve1-ve6;\ncov F1 F2 = c12;\nrun;\n";
}

// A covariance or correlation matrix that R's write.csv wrote (r_matrices.R),
// read without a TYPE, is still read as raw data, but a WARNING says what it
// looks like and how to read it as that; the way it gives fits lavaan's
// chi-square of the matrix (r_matrices.R: 24.2803708), the fit of the raw
// data.  A first column that does not name the rows after the numeric
// variables, or numbers that are not symmetric, get no such WARNING.
TEST(DataSetReading, AMatrixFromRReadAsRawDataIsNamed) {
    const std::vector<std::string> files = {"hs.csv", "hs_cov_r.csv", "hs_cor_r.csv"};
    const std::string advice = " matrix: its first column names its rows after its numeric variables, and its "
                               "numbers are symmetric. Without a TYPE it is read as raw data, 6 observations; to "
                               "analyse it as the matrix, write data=";
    for (const auto& [name, kind] : {std::pair<std::string, std::string>{"hs_cov_r", "covariance"}, {"hs_cor_r", "correlation"}}) {
        const RunResult r = run_velix(two_factors(name), files);
        const std::string type = kind == "covariance" ? "cov" : "corr";
        EXPECT_NE(r.log.find("WARNING: Data set " + name + " looks like a " + kind + advice + name + "(type=" + type +
                             ") and give the number of observations with the PROC option NOBS=."),
                  std::string::npos)
            << r.log;
        EXPECT_EQ(factoid_values(*r.items(0, "factoid", "GenModInfo").at(0)).at("Number of Observations"), 6.0);
    }
    const RunResult asMatrix = run_velix(two_factors("hs_cov_r(type=cov) nobs=301"), files);
    const RunResult raw = run_velix(two_factors("hs"), files);
    EXPECT_EQ(asMatrix.log.find("looks like"), std::string::npos) << asMatrix.log;
    EXPECT_EQ(raw.log.find("looks like"), std::string::npos) << raw.log;
    const double chi = factoid_values(*asMatrix.items(0, "factoid", "Fit").at(0)).at("Chi-Square");
    EXPECT_NEAR(chi, 24.2803708, 5e-6);
    EXPECT_NEAR(factoid_values(*raw.items(0, "factoid", "Fit").at(0)).at("Chi-Square"), chi, 1e-8);

    // Near misses: a row named after another variable, and one number
    // that its mirror does not match.
    const std::string text = read_text(data_path("hs_cov_r.csv"));
    const std::string dir = own_folder("data_set_reading_matrix");
    std::string renamed = text, asymmetric = text;
    renamed.replace(renamed.find("\"x6\",") , 4, "\"x7\"");
    const size_t secondRow = asymmetric.find("\n\"x2\",") + 7;
    asymmetric.replace(secondRow, 3, "0.5");
    for (const auto& [name, body] : {std::pair<std::string, std::string>{"renamed", renamed}, {"asymmetric", asymmetric}}) {
        std::ofstream(dir + "/" + name + ".csv") << body;
        const RunResult r = run_velix(two_factors(name), {}, {"--lib", dir});
        EXPECT_EQ(r.log.find("looks like"), std::string::npos) << name << "\n" << r.log;
        EXPECT_NE(r.log.find("_ROWNAME_"), std::string::npos) << name << ": read as R's row names all the same";
    }
}

// Wheaton et al.'s covariances (wheaton.csv) as a correlation matrix with
// N and STD rows, as papers print it, without a TYPE line; each row after
// `lead` (a BY value and its comma, or nothing).
std::string wheaton_corr_rows(const std::string& lead, const std::string& n) {
    std::vector<std::string> names;
    std::vector<std::vector<double>> cov;
    for (const Rows rows = read_rows(data_path("wheaton.csv")); const auto& row : rows.cells)
        if (row[0] == "COV") {
            names.push_back(row[1]);
            cov.emplace_back();
            for (size_t j = 2; j < row.size(); ++j) cov.back().push_back(std::stod(row[j]));
        }
    std::string text = lead + "N,";
    for (size_t j = 0; j < names.size(); ++j) text += "," + n;
    const auto number = [](double x) {
        char v[32];
        std::snprintf(v, sizeof v, ",%.17g", x);
        return std::string(v);
    };
    text += "\n" + lead + "STD,";
    for (size_t j = 0; j < names.size(); ++j) text += number(std::sqrt(cov[j][j]));
    for (size_t i = 0; i < names.size(); ++i) {
        text += "\n" + lead + "CORR," + names[i];
        for (size_t j = 0; j < names.size(); ++j) text += number(cov[i][j] / std::sqrt(cov[i][i] * cov[j][j]));
    }
    return text + "\n";
}

// A moment data set whose TYPE line was left out is not fitted as raw data
// (its 8 rows as observations): an ERROR says what its rows are and names
// the TYPE that reads it, in one group and in BY groups; read with that
// TYPE, each group gives lavaan's regression on the matrix
// (moment_types_reference.R: N = 932, and 466 in the second group).
TEST(DataSetReading, MomentRowsWithoutATypeAreRefusedAndReadWithIt) {
    const std::string dir = own_folder("data_set_reading_moment_rows");
    const std::string header = "_TYPE_,_NAME_,anomia67,powerless67,anomia71,powerless71,education,sei\n";
    std::ofstream(dir + "/wheaton.csv") << header << wheaton_corr_rows("", "932");
    std::ofstream(dir + "/wheaton_by.csv") << "g," << header << wheaton_corr_rows("1,", "932")
                                           << wheaton_corr_rows("2,", "466");
    const auto run = [&dir](const std::string& data, const std::string& by) {
        return run_velix("proc velix data=" + data + " method=ml covariance;\n" + by +
                             "lineqs anomia71 = b1 anomia67 + b2 education + D1;\nstd D1 = vd;\nrun;\n",
                         {}, {"--lib", dir});
    };
    for (const auto& [data, rows] : {std::pair<std::string, int>{"wheaton", 8}, {"wheaton_by", 16}}) {
        const RunResult r = run(data, data == "wheaton" ? "" : "by g;\n");
        EXPECT_NE(r.log.find("ERROR: Data set " + data + " has no TYPE, but its rows are those of a moment data set "
                             "(_TYPE_ N, STD, CORR): read as raw data, its " + std::to_string(rows) +
                             " rows would be analysed as observations. To analyse its matrix, write data=" + data +
                             "(type=corr) at line 1, column 17."),
                  std::string::npos)
            << r.log;
        EXPECT_GE(r.return_code(), 1000) << data;
        EXPECT_TRUE(r.items(0, "factoid", "Fit").empty()) << data << ": nothing is fitted";
    }
    const struct {
        double b1, b1Se, b2, b2Se;
    } lavaan[] = {{0.513048015, 0.02939400368, -0.1947355536, 0.03261841341},
                  {0.513048015, 0.04159174179, -0.1947355536, 0.04615419672}};
    const RunResult one = run("wheaton(type=corr)", ""), groups = run("wheaton_by(type=corr)", "by g;\n");
    ASSERT_EQ(one.return_code(), 0) << one.log;
    ASSERT_EQ(groups.return_code(), 0) << groups.log;
    const auto finals = groups.items(0, "table", "ParameterEstimates");
    ASSERT_EQ(finals.size(), 4u) << "a start and a final table per group";
    for (size_t g = 0; g < 3; ++g) {
        const JsonValue& table = g == 0 ? *one.items(0, "table", "ParameterEstimates").at(1) : *finals[2 * g - 1];
        const auto est = column_by_parameter(table, "Estimate"), se = column_by_parameter(table, "AppStdErr");
        const auto& want = lavaan[g == 2 ? 1 : 0];
        // The default stopping criteria leave the estimates this close.
        constexpr double tol = 2e-5;
        EXPECT_NEAR(est.at("b1"), want.b1, tol * std::fabs(want.b1)) << "group " << g;
        EXPECT_NEAR(se.at("b1"), want.b1Se, tol * want.b1Se) << "group " << g;
        EXPECT_NEAR(est.at("b2"), want.b2, tol * std::fabs(want.b2)) << "group " << g;
        EXPECT_NEAR(se.at("b2"), want.b2Se, tol * want.b2Se) << "group " << g;
    }
}

// A TYPE that is none of the TYPEs, given after the name or in the file's
// TYPE line, and a data-set option that is not known, are errors at the
// name before anything is read as raw data; the step's OUTSTAT= read with
// its TYPE gives lavaan's chi-square of the matrix (85.0221226,
// moment_step/n_rows_reference.R), that of the raw data.
TEST(DataSetReading, AnUnknownTypeOrDataSetOptionIsAnError) {
    const std::string dir = own_folder("data_set_reading_unknown_type");
    const std::string tail = std::string(" method=ml covariance;\n") + kHsModel + "run;\n";
    ASSERT_EQ(run_velix("proc velix data='" + data_path("hs.csv") + "' outstat=stat" + tail, {}, {"--lib", dir})
                  .return_code(),
              0);
    std::string stat = read_text(dir + "/stat.csv");
    ASSERT_EQ(stat.rfind("# TYPE=COV\n", 0), 0u) << stat.substr(0, 200);
    std::ofstream(dir + "/statline.csv") << "# TYPE=COVARIANCE\n" << stat.substr(stat.find('\n') + 1);
    const std::string types = ", which is not a TYPE: a data set's TYPE is one of SYMATRIX, CORR, COV, UCORR, UCOV, "
                              "SSCP, FACTOR, ACE, EST, RAM and WEIGHT (raw data has none) at line 1, column 17.";
    const struct {
        const char* data;
        std::string message;
    } cases[] = {
        {"stat(type=covariance)", "Data-set option type=covariance of stat gives TYPE=COVARIANCE" + types},
        {"stat(type=cor)", "Data-set option type=cor of stat gives TYPE=COR" + types},
        {"stat(type=bogus)", "Data-set option type=bogus of stat gives TYPE=BOGUS" + types},
        {"stat(type=)", "Data-set option type= of stat gives TYPE=" + types},
        {"statline", "Data set statline (" + dir + "/statline.csv) cannot be read: its # TYPE= line gives "
                     "TYPE=COVARIANCE" + types},
        {"stat(typo=cov)", "Data-set option typo=cov of stat is not known: TYPE= is the one option a data set "
                           "takes, as in stat(type=cov) at line 1, column 17."},
    };
    for (const auto& c : cases) {
        const RunResult r = run_velix(std::string("proc velix data=") + c.data + tail, {}, {"--lib", dir});
        EXPECT_NE(r.log.find("ERROR: " + c.message), std::string::npos) << c.data << "\n" << r.log;
        EXPECT_GE(r.return_code(), 1000) << c.data;
        EXPECT_TRUE(r.items(0, "table", "SimpleStatistics").empty()) << c.data << ": nothing is read";
    }
    for (const char* data : {"stat(type=cov)", "statline(TYPE=cov)"}) {
        const RunResult r = run_velix(std::string("proc velix data=") + data + tail, {}, {"--lib", dir});
        ASSERT_EQ(r.return_code(), 0) << data << "\n" << r.log;
        EXPECT_NEAR(factoid_values(*r.items(0, "factoid", "Fit").at(0)).at("Chi-Square"), 85.0221226, 2e-5 * 85.0221226)
            << data;
    }
}

// hs.csv with the value of variable `column` (1-based) in line `line` of
// the file replaced by `value`, as the data set `name` in `dir`.
void write_hs_with(const std::string& dir, const std::string& name, int line, int column, const std::string& value) {
    std::string text = read_text(data_path("hs.csv"));
    size_t at = 0;
    for (int k = 1; k < line; ++k) at = text.find('\n', at) + 1;
    for (int k = 1; k < column; ++k) at = text.find(',', at) + 1;
    text.replace(at, text.find_first_of(",\n", at) - at, value);
    std::ofstream(dir + "/" + name + ".csv") << text;
}

// R's non-finite values among the numbers of a raw data set.  NaN (0/0) is
// a missing value, as NA is; Inf, -Inf and a number beyond the range of
// doubles in a variable the analysis takes are an error that names the
// variable, the line and the value, with or without a VAR list; a variable
// that words made character is left out of an analysis without VAR with a
// NOTE that names the first word, and the fit is that of the other
// variables.
TEST(DataSetReading, NonFiniteValuesAndWordsAmongTheNumbers) {
    const std::string dir = own_folder("data_set_reading_non_finite");
    write_hs_with(dir, "minf", 10, 5, "-Inf");
    write_hs_with(dir, "huge", 7, 2, "1e309");
    write_hs_with(dir, "nan", 10, 5, "NaN");
    write_hs_with(dir, "na", 10, 5, "NA");
    write_hs_with(dir, "word", 38, 4, "n/a");
    const auto run = [&dir](const std::string& data, const std::string& vars) {
        return run_velix("proc velix data=" + data + ";\n" + vars + "factor n=1;\nrun;\n", {}, {"--lib", dir});
    };
    const struct {
        const char *data, *variable, *line, *value;
    } infinite[] = {{"minf", "x5", "10", "-Inf"}, {"huge", "x2", "7", "1e309"}};
    for (const auto& c : infinite) {
        const std::string cause = std::string(": line ") + c.line + " of " + c.data + ".csv holds " + c.value +
                                  ", not a finite number.";
        const RunResult all = run(c.data, "");
        EXPECT_NE(all.log.find(std::string("ERROR: Analysis variable ") + c.variable + " of data set " + c.data +
                               " is not numeric" + cause),
                  std::string::npos)
            << all.log;
        const RunResult listed = run(c.data, "var x1-x9;\n");
        EXPECT_NE(listed.log.find(std::string("ERROR: Variable ") + c.variable + " is not numeric" + cause),
                  std::string::npos)
            << listed.log;
        for (const RunResult* r : {&all, &listed}) {
            EXPECT_GE(r->return_code(), 1000) << c.data;
            EXPECT_TRUE(r->items(0, "factoid", "Fit").empty()) << c.data << ": nothing is fitted";
        }
    }
    // A moment matrix with Inf in a cell (and its mirror): the same error,
    // with or without VAR, where the variables were left out and a smaller
    // matrix fitted.
    std::ofstream(dir + "/infcov.csv") << "_TYPE_,_NAME_,x1,x2,x3,x4\nN,,100,100,100,100\n"
                                          "COV,x1,1.0,0.5,0.4,0.3\nCOV,x2,0.5,1.0,Inf,0.3\n"
                                          "COV,x3,0.4,Inf,1.0,0.3\nCOV,x4,0.3,0.3,0.3,1.0\n";
    for (const char* vars : {"", "var x1-x4;\n"}) {
        const RunResult r = run("infcov(type=cov)", vars);
        EXPECT_NE(r.log.find("ERROR: Variable x2 is not numeric: line 5 of infcov.csv holds Inf, not a finite number."),
                  std::string::npos)
            << vars << r.log;
        EXPECT_GE(r.return_code(), 1000) << vars;
        EXPECT_TRUE(r.items(0, "factoid", "Fit").empty()) << vars << ": nothing is fitted";
    }
    // INEST= start values that R wrote without a CHAR line, one of them Inf.
    ASSERT_EQ(run_velix("proc velix data=na outest=est;\nfactor n=1;\nrun;\n", {}, {"--lib", dir}).return_code(), 0);
    std::string est = read_text(dir + "/est.csv");
    est.erase(est.find("# CHAR="), est.find('\n', est.find("# CHAR=")) + 1 - est.find("# CHAR="));
    const size_t parms = est.find("\nPARMS,");
    const size_t f1 = est.find(',', est.find(',', est.find(',', est.find(',', parms + 1) + 1) + 1) + 1) + 1;
    est.replace(f1, est.find(',', f1) - f1, "Inf");
    std::ofstream(dir + "/inf_est.csv") << est;
    const RunResult start = run("na inest=inf_est", "");
    EXPECT_NE(start.log.find("ERROR: Variable _F1 is not numeric: line "), std::string::npos) << start.log;
    EXPECT_NE(start.log.find(" of inf_est.csv holds Inf, not a finite number."), std::string::npos) << start.log;
    EXPECT_GE(start.return_code(), 1000);

    const RunResult nan = run("nan", ""), na = run("na", "");
    const auto fit = [](const RunResult& r) { return factoid_values(*r.items(0, "factoid", "Fit").at(0)); };
    EXPECT_EQ(nan.return_code(), 0) << nan.log;
    EXPECT_EQ(fit(nan).at("Chi-Square"), fit(na).at("Chi-Square"));
    EXPECT_EQ(factoid_values(*nan.items(0, "factoid", "GenModInfo").at(0)).at("Number of Observations"), 300.0);

    const RunResult word = run("word", "");
    EXPECT_NE(word.log.find("NOTE: Variable x4 of data set word holds numbers but is character, and is not "
                            "analysed: line 38 of word.csv holds n/a."),
              std::string::npos)
        << word.log;
    const RunResult others = run("word", "var x1-x3 x5-x9;\n");
    EXPECT_EQ(others.log.find("NOTE: Variable x4"), std::string::npos) << "a VAR list leaves it out by itself";
    EXPECT_EQ(fit(word).at("Chi-Square"), fit(others).at("Chi-Square"));
}

// Names that R writes and no statement can hold (make.names' "Wr.Hnd",
// "Life Exp" read with check.names = FALSE): a NOTE names them when DATA=
// is read, with the way to rename them; a statement that writes the
// dotted name is an error at the "." that names it, and a list that
// names the part before the blank is an error that names the variable.
TEST(DataSetReading, NamesThatNoStatementCanHoldAreNamed) {
    const std::string dir = own_folder("data_set_reading_r_names");
    std::string text = read_text(data_path("hs.csv"));
    text.replace(0, text.find('\n'), "Wr.Hnd,Life Exp,x3,x4,x5,x6,x7,x8,x9");
    std::ofstream(dir + "/survey.csv") << text;
    const std::string rename = "rename them in the data set (in R: names(d) <- gsub(\"[. ]\", \"_\", names(d)))";
    const auto run = [&dir](const std::string& vars) {
        return run_velix("proc velix data=survey;\n" + vars + "factor n=1;\nrun;\n", {}, {"--lib", dir});
    };
    const RunResult all = run("");
    EXPECT_NE(all.log.find("NOTE: No statement can name \"Wr.Hnd\", \"Life Exp\" of data set survey: a name is a "
                           "letter or underscore followed by letters, digits and underscores; " + rename + "."),
              std::string::npos)
        << all.log;
    EXPECT_EQ(all.return_code(), 0) << "the variables are read and analysed";
    const RunResult plain = run_velix("proc velix data=hs;\nfactor n=1;\nrun;\n", {"hs.csv"});
    EXPECT_EQ(plain.log.find("No statement can name"), std::string::npos) << plain.log;

    const RunResult dotted = run("var Wr.Hnd x3-x5;\n");
    EXPECT_NE(dotted.log.find("ERROR: expected a variable name (found \".\"): Wr.Hnd is not a name: a name is a "
                              "letter or underscore followed by letters, digits and underscores; rename Wr.Hnd in "
                              "the data set (in R: names(d) <- gsub(\"[. ]\", \"_\", names(d))), then write Wr_Hnd at "
                              "line 2, column 7."),
              std::string::npos)
        << dotted.log;
    const RunResult cut = run("var Life x3-x5;\n");
    EXPECT_NE(cut.log.find("ERROR: Variable Life is not in the DATA= data set, whose variable \"Life Exp\" no "
                           "statement can name:"),
              std::string::npos)
        << cut.log;
    for (const RunResult* r : {&dotted, &cut}) EXPECT_GE(r->return_code(), 1000);
}

// Troubles that other messages used to hide are named: a folder given as
// the data file, values too large for the moments of their variable
// (1e308, whose square overflows, where the step used to say the variable
// had no positive variance and was determined by the others; 1e200, whose
// square alone overflows: its products with the others do not), and a NUL
// byte in a variable name, which reached a listing table raw.
TEST(DataSetReading, MessagesNameTheCause) {
    const std::string dir = own_folder("data_set_reading_causes");
    std::filesystem::create_directories(dir + "/folder.csv");
    write_hs_with(dir, "huge", 7, 2, "1e308");
    write_hs_with(dir, "square", 7, 2, "1e200");
    std::string nul = read_text(data_path("hs.csv"));
    nul.replace(nul.find("x2"), 2, std::string("x\0002", 3));
    std::ofstream(dir + "/nul.csv", std::ios::binary) << nul;
    const struct {
        const char* data;
        std::string message;
    } cases[] = {
        {"folder", "ERROR: Data set folder (" + dir + "/folder.csv) cannot be read: it is a folder, not a file"},
        {"huge", "ERROR: The values of variable x2 of data set huge are too large for its moments: their sums go "
                 "beyond the largest number a double holds (about 1.8e308)."},
        {"square", "ERROR: The values of variable x2 of data set square are too large for its moments"},
        {"nul", "cannot be read: line 1 of nul.csv: variable 2 of the names holds a NUL byte after \"x\""},
    };
    for (const auto& c : cases) {
        const RunResult r = run_velix(std::string("proc velix data=") + c.data + ";\nfactor n=1;\nrun;\n", {},
                                      {"--lib", dir});
        EXPECT_NE(r.log.find(c.message), std::string::npos) << c.data << "\n" << r.log;
        EXPECT_GE(r.return_code(), 100) << c.data;
        EXPECT_TRUE(r.items(0, "factoid", "Fit").empty()) << c.data << ": nothing is fitted";
        EXPECT_EQ(r.log.find("positive variance"), std::string::npos) << c.data;
        EXPECT_EQ(r.listing.find('\0'), std::string::npos) << c.data;
    }
}

}  // namespace
}  // namespace velix::test
