// The three reference programs (and the first written with a path matrix
// shared by two terms) under every Jacobian storage mode (HESSALG=): the
// minimum of F, the estimates and the standard errors of
// the OUTEST= data set equal those of R's lavaan 0.6.14 (the
// *.expected.json files beside the programs in tests/fixtures), with the
// gradient criterion tightened so that the estimates settle to 1e-5.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "harness.h"

namespace velix::test {
namespace {

// The row of OUTEST= `path` whose _TYPE_ is `type`, by variable name.
std::map<std::string, std::string> outest_row(const std::string& path, const std::string& type) {
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::stringstream s(line);
        for (std::string c; std::getline(s, c, ',');) cells.push_back(c);
        if (header.empty()) {
            header = cells;
        } else if (!cells.empty() && cells[0] == type) {
            std::map<std::string, std::string> row;
            for (size_t j = 0; j < cells.size() && j < header.size(); ++j) row[header[j]] = cells[j];
            return row;
        }
    }
    return {};
}

// hs_cfa_ml as a COSAN model whose path matrix stands in two terms under
// one name: J (I - A)^-1 P (I - A)^-T J' + J (I - A)^-1 U (I - A)^-T J',
// the factor moments in P and the unique variances in U.
const char* const kHsSharedPaths =
    "proc velix data=hs method=ml covariance;\n"
    "cosan J(12, IDE) * A(12, GEN, IMI) * P(12, SYM) + J(12, IDE) * A(12, GEN, IMI) * U(12, DIA);\n"
    "matrix A [1,10] = 1.0, [2,10] = l2, [3,10] = l3, [4,11] = 1.0, [5,11] = l5, [6,11] = l6,\n"
    "  [7,12] = 1.0, [8,12] = l8, [9,12] = l9;\n"
    "matrix P [10,10] = vvis vtxt vspd, [11,10] = cvt cts, [12,10] = cvs;\n"
    "matrix U [1,1] = ve1-ve9;\nrun;\n";

TEST(JacobianModes, ReferenceProgramsGiveTheReferenceFit) {
    const struct {
        const char* stem;  // of the reference numbers, and of the program unless one is given
        const char* data;
        const char* program;
    } cases[] = {{"hs_cfa_ml", "hs.csv", nullptr},
                 {"poldem_ml", "poldem.csv", nullptr},
                 {"ability_ml", "ability.csv", nullptr},
                 {"hs_cfa_ml", "hs.csv", kHsSharedPaths}};
    const std::string dir = own_folder("jacobian_modes");
    for (const auto& c : cases) {
        std::ofstream(dir + "/" + c.data) << read_text(data_path(c.data));
        const JsonValue ref =
            JsonValue::parse(read_text(data_path(std::string(c.stem) + ".expected.json")));
        const double fmin = ref["fmin"].number();
        for (const int mode : {1, 2, 3, 4, 5, 6, 11, 12}) {
            SCOPED_TRACE(std::string(c.stem) + (c.program ? " (shared paths)" : "") + " HESSALG=" +
                         std::to_string(mode));
            std::string program = c.program ? c.program : read_text(data_path(std::string(c.stem) + ".vx"));
            program.insert(program.find("proc velix") + 10,
                           " hessalg=" + std::to_string(mode) + " outest=est");
            program.insert(program.rfind("run;"), "nloptions absgconv=1e-9 gconv=1e-14;\n");
            const RunResult r = run_velix(program, {}, {"--lib", dir});
            ASSERT_EQ(r.exitStatus, 0) << r.log;
            const JsonValue* stop = r.items(0, "factoid", "IterStop").at(0);
            const JsonValue& entries = (*stop)["entries"];
            for (size_t i = 0; i < entries.size(); ++i)
                if (entries[i]["label"].str() == "Objective Function") {
                    EXPECT_NEAR(entries[i]["value"].number(), fmin, 1e-5 * fmin);
                }
            auto parms = outest_row(dir + "/est.csv", "PARMS");
            auto se = outest_row(dir + "/est.csv", "STDERR");
            const JsonValue& params = ref["params"];
            for (const std::string& name : params.keys()) {
                ASSERT_EQ(parms.count(name), 1u) << name;
                const double est = params[name]["est"].number(), s = params[name]["se"].number();
                EXPECT_NEAR(std::stod(parms[name]), est, 1e-5 * std::fabs(est)) << name;
                EXPECT_NEAR(std::stod(se[name]), s, 1e-5 * s) << name;
            }
        }
    }
}

// PJACPAT shows one pattern table per parameter and model matrix (the 21
// parameters of the nine-variable model each sit in one matrix) and the
// density; the sparse form is chosen; OUTJAC writes the p* = 45 rows of
// the Jacobian to OUTEST=.  Each table is one row ("rb") whose template
// variables name its parameter (its row label) and its matrix (in the
// title, with its number in the LINEQS model); only the first shows the
// column labels, and the listing prints the records of one matrix as one
// grid under one title.
TEST(JacobianModes, PatternTablesAndJacobianRows) {
    const std::string dir = own_folder("jacobian_pattern");
    std::ofstream(dir + "/hs.csv") << read_text(data_path("hs.csv"));
    std::string program = read_text(data_path("hs_cfa_ml.vx"));
    program.insert(program.find("proc velix") + 10, " pjacpat outjac outest=est");
    const RunResult r = run_velix(program, {}, {"--lib", dir});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto tables = r.items(0, "matrix", "Jacobian");
    EXPECT_EQ(tables.size(), 21u);
    const std::map<std::string, double> lineqsNumber = {{"_BETA_", 2}, {"_GAMMA_", 3}, {"_PHI_", 4}};
    size_t titles = 0;
    for (size_t k = 0; k < tables.size(); ++k) {
        const JsonValue& t = *tables[k];
        const JsonValue& d = t["dynamic"];
        EXPECT_EQ(t["storage"].str(), "rb");
        EXPECT_EQ(d["parameter"].str(), t["rowLabels"][0].str());
        EXPECT_EQ(t["title"].str(), "Jacobian Pattern of Matrix " + d["matrix"].str());
        ASSERT_EQ(lineqsNumber.count(d["matrix"].str()), 1u) << d["matrix"].str();
        EXPECT_EQ(d["num"].number(), lineqsNumber.at(d["matrix"].str()));
        EXPECT_EQ(d["pconlab"].str(), k == 0 ? "on" : "off");
        titles += k == 0 || t["title"].str() != (*tables[k - 1])["title"].str();
    }
    size_t listed = 0;
    for (size_t at = r.listing.find("Jacobian Pattern of Matrix"); at != std::string::npos;
         at = r.listing.find("Jacobian Pattern of Matrix", at + 1))
        ++listed;
    EXPECT_EQ(listed, titles);
    EXPECT_NE(r.log.find("11.4286 percent of the Jacobian"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("sparse: 108 of its 945 entries"), std::string::npos) << r.log;
    std::ifstream est(dir + "/est.csv");
    int rows = 0;
    for (std::string line; std::getline(est, line);) rows += line.rfind("JACOBIAN,ML", 0) == 0;
    EXPECT_EQ(rows, 45);
}

}  // namespace
}  // namespace velix::test
