// Whole programs of the RAM, COSAN and FACTOR model kinds (the programs of
// examples/): the reference confirmatory factor model of the nine ability
// tests written three more ways builds the same 21 parameters as its
// LINEQS form (tests/fixtures/hs_cfa_ml.vx), and the exploratory default
// pattern has n k - k(k-1)/2 + n of them; the ModelStatement table shows
// each kind's matrices; input errors end the step with their codes; a
// LINEQS covariance given again takes its later COV entry.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "harness.h"

using velix::test::cell;
using velix::test::run_velix;
using velix::test::RunResult;

namespace {

std::string example(const std::string& stem) {
    std::ifstream in(std::string(VELIX_SOURCE_DIR) + "/examples/" + stem + ".vx");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The value of an entry of the "GenModInfo" factoid, by its label.
double model_info(const RunResult& r, const std::string& label) {
    for (const auto* f : r.items(0, "factoid", "GenModInfo")) {
        const auto& entries = (*f)["entries"];
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i]["label"].str() == label) return entries[i]["value"].number();
    }
    return -1.0;
}

struct Row {
    std::string matrix;
    double rows, columns;
    std::string type, form;
};

void expect_rows(const RunResult& r, const std::vector<Row>& want, const std::string& what) {
    const auto& t = r.table(0, "ModelStatement");
    ASSERT_EQ(t["rows"].size(), want.size()) << what << "\n" << r.jsonText;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(cell(t, i, "Matrix").str(), want[i].matrix) << what << " row " << i;
        EXPECT_EQ(cell(t, i, "Rows").number(), want[i].rows) << what << " row " << i;
        EXPECT_EQ(cell(t, i, "Columns").number(), want[i].columns) << what << " row " << i;
        EXPECT_EQ(cell(t, i, "Type1").str(), want[i].type) << what << " row " << i;
        EXPECT_EQ(cell(t, i, "Type2").str(), want[i].form) << what << " row " << i;
    }
}

}  // namespace

TEST(ModelKinds, ReferenceModelInEveryKindHasItsParameters) {
    std::ifstream in(velix::test::data_path("hs_cfa_ml.vx"));
    std::stringstream text;
    text << in.rdbuf();
    std::string program = text.str();
    program.replace(program.find("method=ml"), 9, "method=none");
    const auto lineqs = run_velix(program, {"hs.csv"});
    ASSERT_EQ(lineqs.exitStatus, 0) << lineqs.log;
    const double reference = model_info(lineqs, "Number of Free Parameters");
    EXPECT_EQ(reference, 21.0);
    for (const char* stem : {"hs_cfa_ram", "hs_cfa_cosan", "hs_cfa_factor"}) {
        const auto r = run_velix(example(stem), {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << stem << "\n" << r.log;
        EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 0.0) << stem;
        EXPECT_EQ(model_info(r, "Number of Free Parameters"), reference) << stem;
        EXPECT_EQ(model_info(r, "Number of Manifest Variables"), 9.0) << stem;
    }
}

TEST(ModelKinds, ModelStatementTables) {
    const auto ram = run_velix(example("hs_cfa_ram"), {"hs.csv"});
    expect_rows(ram, {{"_IDE_", 9, 12, "IDENTITY", ""}, {"_A_", 12, 12, "UPPER", "IMINUSINV"},
                      {"_P_", 12, 12, "SYMMETRIC", ""}},
                "RAM");
    EXPECT_EQ(ram.table(0, "ModelStatement")["dynamic"]["titletext"].str(), "RAM Model Statement");
    // COSAN and FACTOR tables show the matrices before the MATRIX
    // statements narrow their types.
    const auto cosan = run_velix(example("hs_cfa_cosan"), {"hs.csv"});
    expect_rows(cosan, {{"F", 9, 3, "GENERAL", ""}, {"P", 3, 3, "SYMMETRIC", ""}, {"U", 9, 9, "SYMMETRIC", ""}},
                "COSAN");
    EXPECT_EQ(cell(cosan.table(0, "ModelStatement"), 2, "Term").str(), "Term 2");
    const auto factor = run_velix(example("hs_cfa_factor"), {"hs.csv"});
    expect_rows(factor,
                {{"_F_", 9, 3, "GENERAL", ""}, {"_P_", 3, 3, "SYMMETRIC", ""}, {"_U_", 9, 9, "SYMMETRIC", ""}},
                "FACTOR");
    EXPECT_EQ(factor.table(0, "ModelStatement")["dynamic"]["titletext"].str(), "FACTOR Model Statement");
}

TEST(ModelKinds, ExploratoryDefaultPattern) {
    const auto r = run_velix(example("hs_efa"), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    // 9 tests, 3 factors: 9*3 - 3 loadings and 9 unique variances.
    EXPECT_EQ(model_info(r, "Number of Free Parameters"), 9.0 * 3 - 3 + 9);
    // The three default types are announced (119 each).
    int typeNotes = 0;
    for (int m : r.messages(0, 352)) typeNotes += m == 119;
    EXPECT_EQ(typeNotes, 3);
    // More factors than tests: as many factors as tests.
    std::string p = example("hs_efa");
    p.replace(p.find("n=3"), 3, "n=12");
    const auto big = run_velix(p, {"hs.csv"});
    bool capped = false;
    for (int m : big.messages(0, 352)) capped = capped || m == 400;
    EXPECT_TRUE(capped) << big.log;
}

TEST(ModelKinds, InputErrorsEndTheStep) {
    struct Case {
        const char* statements;
        double code;
    };
    const Case cases[] = {
        {"ram 1 1 10 a, 2 1 1 v, 4 10 10 1.0;", 1008},  // matrix number 4 - 1
        {"ram 1 1 0 a, 2 1 1 v;", 2000},                // variable number 0
        {"ram 1 1 99999999 a, 2 1 1 v;", 2000},         // a model too large
        {"cosan F * P(3, SYM); matrix P [1,1] = p1-p3;", 2000},
        {"cosan F(3, GEN, INV) * P(3, SYM); matrix F = f1-f27; matrix P [1,1] = p1-p3;", 2000},
    };
    for (const Case& c : cases) {
        const auto r = run_velix(std::string("proc velix data=hs method=none;\n") + c.statements + "\nrun;\n",
                                 {"hs.csv"});
        EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), c.code) << c.statements << "\n" << r.log;
        EXPECT_EQ(r.exitStatus, 2) << c.statements;
    }
}

// The README's first program with the factor covariances given as a block
// and one pair of it then fixed: the later COV entry replaces the earlier
// pair, as in lavaan's model with Fvis ~~ 0*Fspd (chi-square 113.74928061
// on 25 df, cov_entry_reference.R), and a NOTE at that entry says which
// pair it replaces and where it came from.
TEST(LineqsStatements, ACovariancePairGivenAgainTakesTheLaterEntry) {
    std::string program = example("default");
    const size_t from = program.find("      Fvis Ftxt = cvt,");
    const size_t to = program.find("run;");
    ASSERT_NE(from, std::string::npos);
    program.replace(from, to - from, "      Fvis Ftxt Fspd = cf1-cf3, Fvis Fspd = 0;\n");
    const RunResult r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::map<std::string, double> fit = velix::test::factoid_values(*r.items(0, "factoid", "Fit").at(0));
    EXPECT_NEAR(fit.at("Chi-Square"), 113.74928061, 1e-6);
    EXPECT_EQ(fit.at("Chi-Square DF"), 25.0);
    EXPECT_NE(r.log.find("NOTE: The covariance of Fvis and Fspd that the COV entry Fvis Ftxt Fspd gives is replaced "
                         "by the one of this entry.\n  at line 19, column 33:\n"),
              std::string::npos)
        << r.log;
}
