// Stored models: the OUTRAM= data set of a fit, read back with INRAM= on
// the same data, is the same model (kind, matrices, element rows, column
// names) and refits to the same estimates; the rows of OUTRAM= come in the
// order of their kinds with their keys; hand-written INRAM= sets that break
// the layout give their messages and levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/hs_fixture.h"
#include "tests/support/fixtures.h"

using velix::test::JsonValue;
using velix::test::own_folder;
using velix::test::read_text;
using velix::test::read_rows;
using velix::test::Rows;
using velix::test::run_velix;
using velix::test::RunResult;

namespace {

// Both fits stop at the minimum; the refit starts at the stored estimates
// and ends at them.
constexpr double kRefitTolerance = 1e-6;
const char* kTight = "nloptions gconv=1e-14 absgconv=1e-12;\n";

// `program` with `options` added to its PROC statement and ML estimation.
std::string with_options(std::string program, const std::string& options) {
    const size_t at = program.find("method=");
    if (at != std::string::npos) program.replace(at, program.find_first_of(" ;", at) - at, "method=ml");
    const size_t proc = program.find("proc velix") + std::string("proc velix").size();
    return program.insert(proc, " " + options);
}

class StoredModel : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = own_folder("stored_model");
        for (const char* f : {"hs.csv", "hs_by.csv", "poldem.csv", "crabs.csv"})
            std::ofstream(dir_ + "/" + f) << read_text(velix::test::data_path(f));
    }
    RunResult run(const std::string& program) { return run_velix(program, {}, {"--lib", dir_}); }
    Rows rows(const std::string& name) const { return read_rows(dir_ + "/" + name + ".csv"); }
    // Writes an INRAM= data set from its rows (without the header).
    void write_ram(const std::string& name, const std::string& body) const {
        std::ofstream(dir_ + "/" + name + ".csv")
            << "# TYPE=RAM\n# CHAR=_TYPE_:8,_NAME_:32\n_TYPE_,_NAME_,_MATNR_,_ROW_,_COL_,_ESTIM_,_STDERR_\n" << body;
    }
    std::string dir_;
};

std::string source_file(const std::string& path) { return read_text(std::string(VELIX_SOURCE_DIR) + "/" + path); }

// A COSAN model of two terms with an INVERSE, an IMINUSINV and a
// ZERIDENTITY matrix and a BETA matrix without form elements elsewhere.
const char* kTwoTerms =
    "proc velix data=hs method=ml covariance;\nvar x1-x6;\n"
    "cosan F(2, GEN) * B(2, BET, IMI) * P(2, SYM) + Z(6, ZID) * U(6, DIA, INV);\n"
    "matrix F [ , 1] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6;\nmatrix B [2, 1] = b21;\n"
    "matrix P [1, 1] = v1 v2;\nmatrix U [1, 1] = u1-u6;\nrun;\n";
// A parameter that the programming statements define, and one they read
// that no element carries (its ADD_PARM row); the refit repeats them.
const char* kProgram = "parameters a = 1.0;\nl3 = l2 * a;\n";
const std::string kDefined =
    std::string("proc velix data=hs method=ml covariance;\nvar x1-x6;\n"
                "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,\n"
                "x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6;\n"
                "std F1 F2 = v1 v2, E1-E6 = ve1-ve6;\ncov F1 F2 = c12;\n") +
    kProgram + "run;\n";

// A path model whose exogenous block is fixed in part (the variance of x2):
// the rest of it is estimated, and stored as the parameters it is.
const char* kExogenousFixed =
    "proc velix data=hs method=ml covariance;\nvar x1-x4;\n"
    "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 E4 = ve1 ve4, x2 = 1.0;\nrun;\n";
// The same paths with the exogenous block left to its defaults: the model
// counts its three moments as estimated.
const char* kExogenousDefault =
    "proc velix data=hs method=ml covariance;\nvar x1-x4;\n"
    "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 E4 = ve1 ve4;\nrun;\n";
const char* kExogenousFixedRam =
    "proc velix data=hs method=ml covariance;\nvar x1-x4;\n"
    "ram 1 1 2 b2, 1 1 3 b3, 1 4 1 c1, 2 1 1 ve1, 2 4 4 ve4, 2 2 2 1.0;\nrun;\n";

TEST_F(StoredModel, EveryKindRefitsFromItsStoredModel) {
    struct Case {
        std::string program;
        const char* data;
        std::string refit;  // the statements of the refit step
        // Whether the stored estimates are the whole start: the PARAMETERS
        // statement of the refit gives its own start (the stored ADD_PARM
        // rows are passed over), and the covariances of exogenous manifest
        // variables start at their sample values, which are not their
        // estimates when the block is fixed in part.
        bool startsAtTheMinimum = true;
    } cases[] = {{source_file("tests/fixtures/hs_cfa_ml.vx"), "hs", ""},
                 {source_file("tests/fixtures/poldem_ml.vx"), "poldem", ""},
                 {source_file("examples/hs_cfa_ram.vx"), "hs", ""},
                 {source_file("examples/hs_cfa_cosan.vx"), "hs", ""},
                 {source_file("examples/hs_cfa_factor.vx"), "hs", ""},
                 {source_file("examples/hs_efa.vx"), "hs", ""},
                 {kTwoTerms, "hs", "var x1-x6;\n"},
                 {kDefined, "hs", std::string("var x1-x6;\n") + kProgram, false},
                 {kExogenousFixed, "hs", "var x1-x4;\n", false},
                 {kExogenousDefault, "hs", "var x1-x4;\n"},
                 {kExogenousFixedRam, "hs", "var x1-x4;\n", false}};
    for (const Case& c : cases) {
        std::string first = with_options(c.program, "outram=first");
        first.insert(first.rfind("run;"), kTight);
        // The refit, and a run of no iteration that evaluates the fit where
        // the stored estimates start it: the minimum of the first fit.
        std::string program = first;
        for (const char* step : {"outram=second", "technique=none outram=start"})
            program += std::string("proc velix data=") + c.data + " method=ml covariance inram=first " + step + ";\n" +
                       c.refit + kTight + "run;\n";
        const RunResult r = run(program);
        ASSERT_EQ(r.exitStatus, 0) << c.program << "\n" << r.log;
        const Rows a = rows("first"), b = rows("second");
        ASSERT_EQ(a.cells.size(), b.cells.size()) << c.program;
        const double fit = velix::test::stat_row(a, "FIT");
        if (c.startsAtTheMinimum) {
            EXPECT_NEAR(velix::test::stat_row(rows("start"), "FIT"), fit, 1e-10 * fit) << c.program;
        }
        // The degrees of freedom of the fit summary, with the corrections
        // of the model (a fixed or defaulted exogenous variance).
        const auto summary = velix::test::factoid_values(*r.items(0, "factoid", "Fit").at(0));
        EXPECT_EQ(velix::test::stat_row(a, "DF"), summary.at("Chi-Square DF")) << c.program;
        if (&c == &cases[0]) {
            // The STAT rows carry the fit summary: the reference chi-square
            // and degrees of freedom of hs_cfa_ml.
            const JsonValue ref = JsonValue::parse(read_text(velix::test::data_path("hs_cfa_ml.expected.json")));
            std::map<std::string, double> stat;
            std::vector<std::string> keys;
            for (const auto& row : a.cells)
                if (row[0] == "STAT") {
                    stat[row[1]] = row[5] == "." ? NAN : std::stod(row[5]);
                    keys.push_back(row[1]);
                }
            EXPECT_NEAR(stat["CHISQUAR"], ref["chisq"].number(), 1e-6 * ref["chisq"].number());
            EXPECT_EQ(stat["DF"], ref["df"].number());
            // The 34 keys in the order stored models have.
            EXPECT_EQ(keys, (std::vector<std::string>{
                                "N", "FIT", "GFI", "AGFI", "RMR", "PGFI", "NPARM", "DF", "N_ACT",
                                "CHISQUAR", "P_CHISQ", "CHISQNUL", "RMSEAEST", "RMSEALOB", "RMSEAUPB",
                                "P_CLOSFT", "ECVI_EST", "ECVI_LOB", "ECVI_UPB", "COMPFITI", "ADJCHISQ",
                                "P_ACHISQ", "RLSCHISQ", "AIC", "CAIC", "SBC", "CENTRALI", "BB_NONOR",
                                "BB_NORMD", "PARSIMON", "ZTESTWH", "BOL_RHO1", "BOL_DEL2", "CNHOELT"}));
        }
        ASSERT_FALSE(a.cells.empty()) << c.program;
        // Kind, name, matrix number, row and column: the same model.  The
        // elements are compared by position (a default exploratory model
        // lists its loadings by column, the stored one by row).
        auto keyed = [](const Rows& r) {
            std::vector<std::vector<std::string>> out = r.cells;
            std::stable_sort(out.begin(), out.end(), [](const auto& x, const auto& y) {
                if (x[0] != "ESTIM" || y[0] != "ESTIM") return false;
                return std::make_tuple(std::stod(x[2]), std::stod(x[3]), std::stod(x[4])) <
                       std::make_tuple(std::stod(y[2]), std::stod(y[3]), std::stod(y[4]));
            });
            return out;
        };
        const auto x = keyed(a), y = keyed(b);
        for (size_t i = 0; i < x.size(); ++i) {
            ASSERT_EQ(x[i].size(), 7u);
            EXPECT_EQ(std::vector<std::string>(x[i].begin(), x[i].begin() + 5),
                      std::vector<std::string>(y[i].begin(), y[i].begin() + 5))
                << c.program << " row " << i;
            if (x[i][0] == "STAT" && x[i][1] == "FIT") {
                EXPECT_NEAR(std::stod(y[i][5]), std::stod(x[i][5]), 1e-10 * std::stod(x[i][5])) << c.program;
            }
            if (x[i][0] != "ESTIM" || x[i][5] == ".") continue;
            // Estimates and standard errors.
            for (size_t k : {5u, 6u}) {
                if (x[i][k] == ".") continue;
                const double u = std::stod(x[i][k]), v = std::stod(y[i][k]);
                EXPECT_NEAR(v, u, kRefitTolerance * std::max(1.0, std::fabs(u))) << c.program << " " << x[i][1];
            }
        }
    }
}

TEST_F(StoredModel, RowsComeInTheOrderOfTheirKinds) {
    const std::string cosan =
        "cosan F(3, GEN) * P(3, SYM) + U(9, SYM);\n"
        "matrix F [ , 1] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6, [ , 3] = 0 0 0 0 0 0 1.0 l8 l9;\n"
        "matrix P [1, 1] = vvis vtxt vspd, [2, 1] = cvt cts, [3, 1] = cvs;\n"
        "matrix U [1, 1] = v v v ve4-ve9;\n";
    struct Case {
        const char* method;
        size_t stats;
    } cases[] = {{"ml", 34}, {"uls", 9}, {"none", 0}};
    for (const Case& c : cases) {
        const RunResult r = run(std::string("proc velix data=hs_by covariance outram=o method=") + c.method +
                                ";\nvar x1-x9;\nby school;\n" + cosan + "run;\n");
        ASSERT_EQ(r.exitStatus, 0) << c.method << "\n" << r.log;
        const Rows o = rows("o");
        // The BY variable comes first; _TYPE_ after it.
        const size_t type = o.column("_TYPE_"), off = type;
        std::vector<std::string> t;
        for (const auto& row : o.cells) t.push_back(row[type]);
        // Two BY groups: the second starts at its METHOD row.
        const auto first = std::find(t.begin(), t.end(), "METHOD");
        const auto second = std::find(first + 1, t.end(), "METHOD");
        ASSERT_NE(second, t.end()) << c.method;
        std::vector<std::string> kinds;
        for (auto it = t.begin(); it != second; ++it)
            if (kinds.empty() || kinds.back() != *it) kinds.push_back(*it);
        std::vector<std::string> want = {"MODEL", "METHOD", "STAT", "ESTIM"};
        if (c.stats == 0) want.erase(want.begin() + 2);
        EXPECT_EQ(kinds, want) << c.method;
        EXPECT_EQ(static_cast<size_t>(std::count(t.begin(), second, "STAT")), c.stats) << c.method;
        EXPECT_EQ(std::count(t.begin(), t.end(), "MODEL"), 3) << c.method;
        // Two terms: matrices 10001, 10002 and 20003; the shared variance
        // v at three elements gives three equal rows.
        std::vector<std::string> numbers, vRows;
        for (size_t i = 0; i < 3; ++i) numbers.push_back(o.cells[i][off + 2]);
        EXPECT_EQ(numbers, (std::vector<std::string>{"10001", "10002", "20003"}));
        for (auto it = t.begin(); it != second; ++it) {
            const auto& row = o.cells[static_cast<size_t>(it - t.begin())];
            if (*it == "ESTIM" && row[off + 1] == "v") vRows.push_back(row[off + 5] + "/" + row[off + 6]);
        }
        ASSERT_EQ(vRows.size(), 3u) << c.method;
        EXPECT_EQ(vRows[0], vRows[1]);
        EXPECT_EQ(vRows[0], vRows[2]);
    }
}

TEST_F(StoredModel, ABrokenLayoutGivesItsMessage) {
    const std::string model = "MODEL,_F_,1,9,3,9,0\nMODEL,_P_,2,3,3,1,0\n";
    struct Case {
        const char* name;
        std::string body;
        std::vector<int> messages;
        bool stepEnds;
        int level = 0;  // the return code, when the case names one
    } cases[] = {
        // A SYMMETRIC matrix with diagonal rows only becomes DIAGONAL (119).
        {"unknown", "MODEL,A,1,9,9,8,0\nESTIM,a,1,1,1,1,0\nODD,x,.,.,.,.,.\nODD,y,.,.,.,.,.\n", {101, 101, 119}, false},
        {"numbering", "MODEL,A,1,9,9,8,0\nMODEL,B,1,9,9,8,0\nMODEL,C,3,9,9,8,0\n", {102, 103}, true},
        {"badform", "MODEL,A,1,9,9,8,3\nESTIM,a,1,1,1,1,0\n", {104, 103}, true},
        {"outside", "MODEL,A,1,9,9,8,0\nESTIM,a,1,1,1,1,0\nESTIM,b,1,10,1,1,0\n", {117}, true},
        // The step ended by 117 still reports the matrix it left empty.
        {"emptied", "MODEL,A,1,9,3,9,0\nMODEL,B,2,3,3,8,0\nESTIM,a,1,1,1,1,0\nESTIM,b,2,4,1,1,0\n", {117, 118},
         true},
        {"selection", "MODEL,A,1,9,9,12,0\nESTIM,a,1,1,1,1,0\n", {104, 105}, true},
        {"ide", "MODEL,_IDE_,1,9,9,9,0\nMODEL,_A_,2,9,9,9,2\nMODEL,_P_,3,9,9,8,0\n", {104, 107}, true},
        {"factor", model + "MODEL,_Q_,3,9,9,8,0\n", {104, 108}, true},
        {"conformity", "MODEL,A,1,8,9,9,0\nMODEL,B,2,9,3,8,0\nESTIM,a,1,1,1,1,0\nESTIM,b,2,1,1,1,0\n",
         {111, 112, 114, 119, 119}, false},
        {"lineqs", "MODEL,_SEL_,1,3,4,12,0\nMODEL,_BETA_,2,4,4,13,2\nMODEL,_GAMMA_,3,4,1,14,0\n"
                   "MODEL,_PHI_,4,1,1,8,0\nVARNAME,x1,1,.,1,.,.\nVARNAME,x2,1,.,2,.,.\nVARNAME,x3,1,.,3,.,.\n",
         {106, 105}, true},
        {"ramrows", "MODEL,_IDE_,1,3,4,1,0\nMODEL,_A_,2,4,4,6,2\nMODEL,_P_,3,4,4,8,0\n"
                    "VARNAME,x1,2,.,1,.,.\nVARNAME,x2,2,.,2,.,.\nVARNAME,x3,2,.,3,.,.\nVARNAME,F1,2,.,4,.,.\n"
                    "VARNAME,E1,3,.,1,.,.\nVARNAME,E2,3,.,2,.,.\nVARNAME,E3,3,.,3,.,.\nVARNAME,D1,3,.,4,.,.\n"
                    "ESTIM,a,2,0,4,1,0\nESTIM,b,2,1000000,4,1,0\n",
         {117, 117, 118}, true},
        {"form", "MODEL,A,1,9,3,9,1\nMODEL,B,2,3,3,8,0\nESTIM,a,1,1,1,1,0\nESTIM,b,2,1,1,1,0\n", {60}, true},
        // y1 = b y2 + E1 with neither y1 nor y2 among the VAR variables:
        // each is named (110) before the model is restated as statements.
        {"lineqsvars", "MODEL,_SEL_,1,2,3,12,0\nMODEL,_BETA_,2,3,3,1,0\nMODEL,_GAMMA_,3,3,2,14,0\n"
                       "MODEL,_PHI_,4,2,2,3,0\nVARNAME,y1,1,.,1,.,.\nVARNAME,y2,1,.,2,.,.\nVARNAME,E1,1,.,3,.,.\n"
                       "ESTIM,b,3,1,1,.,.\nESTIM,,3,1,2,1,0\nESTIM,v,4,1,1,.,.\nESTIM,ve,4,2,2,.,.\n",
         {110, 110, 105}, true, 1008},
    };
    for (const Case& c : cases) {
        write_ram(c.name, c.body);
        const RunResult r = run(std::string("proc velix data=hs method=none covariance inram=") + c.name +
                                ";\nvar x1-x9;\nrun;\n");
        std::vector<int> got;
        for (int m : r.messages(0, 352))
            if ((m >= 101 && m <= 119) || m == 60) got.push_back(m);
        EXPECT_EQ(got, c.messages) << c.name << "\n" << r.log;
        EXPECT_EQ(r.exitStatus != 0, c.stepEnds) << c.name << "\n" << r.log;
        if (c.level != 0) {
            EXPECT_EQ(r.return_code(), c.level) << c.name << "\n" << r.log;
        }
    }
    // A stored LINEQS model is read back with its stored types (_BETA_
    // IDENTITY, _PHI_ DIAGONAL) and no type-change note; the statements it
    // came from give one for each.
    const RunResult id = run("proc velix data=hs method=none outram=cfa;\nlineqs x1 = 1.0 F + E1, x2 = F + E2,"
                             " x3 = F + E3;\nstd F = 1.0, E1-E3 = ve1-ve3;\nrun;\n"
                             "proc velix data=hs method=none inram=cfa;\nrun;\n");
    ASSERT_EQ(id.exitStatus, 0) << id.log;
    for (size_t step : {0, 1}) {
        const auto m = id.messages(step, 352);
        EXPECT_EQ(std::count(m.begin(), m.end(), 119), step == 0 ? 2 : 0) << id.log;
    }
    // A FACTOR statement beside a stored factor model is noted (125); the
    // stored shape stays.
    const RunResult r = run("proc velix data=hs method=none outram=efa;\nvar x1-x6;\nfactor n=2;\nrun;\n"
                            "proc velix data=hs method=none inram=efa outram=again;\nvar x1-x6;\nfactor n=3;\nrun;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto m = r.messages(1, 352);
    EXPECT_EQ(std::count(m.begin(), m.end(), 125), 1) << r.log;
    EXPECT_EQ(rows("efa").cells.size(), rows("again").cells.size());
}

TEST_F(StoredModel, RowsOutsideTheShapeOfTheirTypeWidenItAndIdentityRowsArePassedOver) {
    // One factor of x1-x4 as A b b' A + U, A diagonal, b fixed ones: the
    // loadings are A's diagonal.  A stored row A(2,1) = 0.5 widens A to
    // GENERAL (119) and the MATRIX reader narrows it to LOWER (119); the
    // loading of x2 is then l2 + 0.5, so the fit is the same and l2 moves
    // by 0.5.  A row of the IDENTITY matrix P is passed over.  Chi-square
    // of lavaan 0.6.14 for this model (single_run_reference.R).
    const RunResult first = run(std::string("proc velix data=hs method=ml covariance outram=shape;\nvar x1-x4;\n"
                                            "cosan A(4, DIA) * B(1, GEN) * P(1, IDE) + U(4, DIA);\n"
                                            "matrix A [1,1] = l1-l4;\nmatrix B [ ,1] = 1 1 1 1;\n"
                                            "matrix U [1,1] = u1-u4;\n") + kTight + "run;\n");
    ASSERT_EQ(first.exitStatus, 0) << first.log;
    std::ofstream(dir_ + "/widened.csv") << read_text(dir_ + "/shape.csv") << "ESTIM,,10001,2,1,0.5,0\n"
                                         << "ESTIM,,10003,1,1,5,0\n";
    const RunResult back =
        run(std::string("proc velix data=hs method=ml covariance inram=widened outram=back;\nvar x1-x4;\n") + kTight +
            "run;\n");
    ASSERT_EQ(back.exitStatus, 0) << back.log;
    const auto m = back.messages(0, 352);
    EXPECT_EQ(std::count(m.begin(), m.end(), 119), 2) << back.log;
    EXPECT_LT(back.log.find("changed to General"), back.log.find("changed to Lower Triangular")) << back.log;
    auto value = [&](const char* file, const char* type, const char* name) {
        for (const auto& row : rows(file).cells)
            if (row[0] == type && row[1] == name) return std::stod(row[5]);
        ADD_FAILURE() << file << " has no " << name;
        return 0.0;
    };
    EXPECT_NEAR(value("shape", "STAT", "CHISQUAR"), 11.75902318, 1e-6 * 11.75902318);
    EXPECT_NEAR(value("back", "STAT", "CHISQUAR"), value("shape", "STAT", "CHISQUAR"), 1e-8);
    EXPECT_EQ(value("back", "STAT", "DF"), 2.0);
    EXPECT_NEAR(value("back", "ESTIM", "l2"), value("shape", "ESTIM", "l2") - 0.5, 1e-6);
}

TEST_F(StoredModel, AStoredPathModelLeavesItsMissingVariancesToTheSample) {
    // x1 and x2 predict x3; the stored model has no row for the variances
    // and the covariance of x1 and x2.  The variances take their sample
    // values as in the statement model; the covariance without a row is
    // the zero of a model that fixed it so (2 2 1 0.0).
    write_ram("path",
              "MODEL,_IDE_,1,3,3,1,0\nMODEL,_A_,2,3,3,6,2\nMODEL,_P_,3,3,3,8,0\n"
              "VARNAME,x3,2,.,1,.,.\nVARNAME,x1,2,.,2,.,.\nVARNAME,x2,2,.,3,.,.\n"
              "VARNAME,E3,3,.,1,.,.\nVARNAME,E1,3,.,2,.,.\nVARNAME,E2,3,.,3,.,.\n"
              "ESTIM,b1,2,1,2,.,.\nESTIM,b2,2,1,3,.,.\nESTIM,ve,3,1,1,.,.\n");
    const RunResult stored = run("proc velix data=hs method=ml covariance inram=path outram=a;\nvar x1-x3;\nrun;\n");
    const RunResult statements =
        run("proc velix data=hs method=ml covariance outram=b;\nvar x1-x3;\n"
            "ram 1 3 1 b1, 1 3 2 b2, 2 3 3 ve, 2 2 1 0.0;\nrun;\n");
    ASSERT_EQ(stored.exitStatus, 0) << stored.log;
    ASSERT_EQ(statements.exitStatus, 0) << statements.log;
    const Rows a = rows("a"), b = rows("b");
    std::vector<std::string> ea, eb;
    for (const auto& row : a.cells)
        if (row[0] == "ESTIM") ea.push_back(row[1] + ":" + row[5]);
    for (const auto& row : b.cells)
        if (row[0] == "ESTIM") eb.push_back(row[1] + ":" + row[5]);
    EXPECT_FALSE(ea.empty());
    EXPECT_EQ(ea, eb);
}

TEST_F(StoredModel, AStepWithoutByReadsTheFirstGroupOfAByRunAndNoWeightsOfAnyOne) {
    // The model and the weights of each school; read by a step over all
    // 301 pupils.  The model is that of the first group, fitted to hs as
    // lavaan fits it (tests/fixtures/hs_cfa_ml.expected.json); the weights
    // of one school are no weights of all pupils, so the step names the
    // groups and ends.
    const std::string model = velix::test::kHsModel;
    const RunResult r = run("proc velix data=hs_by method=gls covariance outram=byram outwgt=bywgt;\n" + model +
                            "by school;\nrun;\nproc velix data=hs method=ml covariance inram=byram;\nrun;\n"
                            "proc velix data=hs method=gls covariance inwgt=bywgt;\n" + model + "run;\n");
    ASSERT_EQ(r.json["steps"].size(), 3u) << r.log;
    EXPECT_EQ(r.return_code(0), 0) << r.log;
    EXPECT_EQ(r.return_code(1), 0) << r.log;
    const auto fits = r.items(1, "factoid", "Fit");
    ASSERT_EQ(fits.size(), 1u) << r.log;
    EXPECT_NEAR(velix::test::factoid_values(*fits[0]).at("Chi-Square"), 85.022114722135, 5e-4);
    EXPECT_NEAR(velix::test::column_by_parameter(velix::test::result_table(r, 1), "Estimate").at("l2"),
                0.553500607192, 1e-5);
    EXPECT_EQ(r.return_code(2), 2000) << r.log;
    EXPECT_NE(r.log.find("INWGT= data set bywgt holds the weights of 2 BY groups (school=1, school=2)"),
              std::string::npos)
        << r.log;
    EXPECT_TRUE(r.items(2, "factoid", "Fit").empty());
}

TEST_F(StoredModel, EachByGroupTakesTheStoredModelOfItsByValuesInAnyOrder) {
    // MASS's crabs by species, one factor of the five measures, fitted by ML
    // and GLS and stored; the same rows with species O first, and with a
    // species X (O's rows) before O, evaluated at the stored models.  Each
    // group's chi-square is that of its own stored model, the first group's
    // too: lavaan's per species (crabs_groups_reference.R).  A group with no
    // stored model is named and analysed.
    std::istringstream in(read_text(dir_ + "/crabs.csv"));
    std::string header, line, speciesB, speciesO;
    std::getline(in, header);
    while (std::getline(in, line)) (line[0] == 'B' ? speciesB : speciesO) += line + "\n";
    std::string speciesX = speciesO;
    for (size_t at = 0; at < speciesX.size(); at = speciesX.find('\n', at) + 1) speciesX[at] = 'X';
    std::ofstream(dir_ + "/crabs_rev.csv") << header << "\n" << speciesO << speciesB;
    std::ofstream(dir_ + "/crabs_x.csv") << header << "\n" << speciesX << speciesO;
    const std::string model =
        "by sp;\nvar FL RW CL CW BD;\nlineqs FL = a1 F + E1, RW = a2 F + E2, CL = a3 F + E3, CW = a4 F + E4, "
        "BD = a5 F + E5;\nstd F = 1, E1-E5 = u1-u5;\nrun;\n";
    // lavaan's chi-squares of species B and O, by ML and GLS.
    const double lavaan[2][2] = {{13.66705000, 101.01929107}, {11.63200040, 35.10811735}};
    std::string program;
    for (const std::string method : {"ml", "gls"})
        program += "proc velix data=crabs method=" + method + " covariance outram=ram_" + method + ";\n" + model +
                   "proc velix data=crabs_rev method=" + method + " covariance inram=ram_" + method +
                   " technique=none;\nby sp notsorted;\nrun;\nproc velix data=crabs_x method=" + method +
                   " covariance inram=ram_" + method + " technique=none;\nby sp notsorted;\nrun;\n";
    const RunResult r = run(program);
    ASSERT_EQ(r.json["steps"].size(), 6u) << r.log;
    const auto chisq = [&](size_t step, size_t group) {
        const auto fits = r.items(step, "factoid", "Fit");
        return group < fits.size() ? velix::test::factoid_values(*fits[group]).at("Chi-Square") : std::nan("");
    };
    for (size_t m = 0; m < 2; ++m) {
        const size_t stored = 3 * m, reversed = stored + 1, unknown = stored + 2;
        const std::string what = m == 0 ? "ML" : "GLS";
        for (size_t g = 0; g < 2; ++g)
            EXPECT_NEAR(chisq(stored, g), lavaan[m][g], 1e-5 * lavaan[m][g]) << what << " species " << g;
        EXPECT_NEAR(chisq(reversed, 0), chisq(stored, 1), 1e-6 * chisq(stored, 1)) << what << ": O first";
        EXPECT_NEAR(chisq(reversed, 1), chisq(stored, 0), 1e-6 * chisq(stored, 0)) << what << ": B second";
        EXPECT_TRUE(r.has_message(352, 1, unknown) && r.has_message(153, 5, unknown)) << what << "\n" << r.log;
        EXPECT_FALSE(std::isnan(chisq(unknown, 0))) << what << ": the group without a stored model is analysed";
        EXPECT_NEAR(chisq(unknown, 1), chisq(stored, 1), 1e-6 * chisq(stored, 1)) << what << ": O after X";
    }
}

}  // namespace
