// Matrices read from data sets with an element that no row gives: GLS
// weights from INWGT= end the step with their message, also when the
// "Weights" table that shows the incomplete matrix cannot be published, so
// that missing values never reach the inverse of the weights; a TYPE=SYMATRIX
// DATA= has its missing elements set to zero, but when its "InSymmetric"
// table cannot be published the step ends instead.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/json_reader.h"
#include "platform/output.h"
#include "platform/runner/runner.h"
#include "platform/session.h"
#include "tests/support/fixtures.h"
#include "velix/codes.h"

namespace {

namespace fs = std::filesystem;

// The GLS weights of x1 and x2 only (the row of x3 is lost).
const char kWeights[] = "# TYPE=WEIGHT\n_TYPE_,_NAME_,x1,x2,x3\n"
                        "WEIGHT,x1,1.0,0.2,0.1\nWEIGHT,x2,0.2,1.0,0.3\n";
const char kGlsProgram[] =
    "proc velix data=hs method=gls covariance inwgt=w;\nvar x1 x2 x3;\n"
    "lineqs x1 = 1.0 F1 + E1, x2 = 1.0 F1 + E2, x3 = 1.0 F1 + E3;\n"
    "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";

// Runs a program in-process on a library folder holding hs.csv and w.csv;
// with failTable the step's first matrix table cannot be published.
struct IncompleteMatrix {
    std::ostringstream log, listing;
    std::vector<int> codes;
    velix::test::JsonValue json;  // the output document of the step

    // `wName`: the name of the weights' data set in the library folder.
    IncompleteMatrix(const std::string& wText, const std::string& program, bool failTable,
                     const std::string& wName = "w") {
        auto& s = velix::platform::session();
        const fs::path dir = fs::temp_directory_path() / ("velix_weights_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::copy_file(velix::test::fixture_path("hs.csv"), dir / "hs.csv",
                      fs::copy_options::overwrite_existing);
        std::ofstream(dir / (wName + ".csv")) << wText;
        const std::string savedLib = s.libraryDir;
        std::ostream* savedLog = s.log;
        std::ostream* savedListing = s.listing;
        s.libraryDir = dir.string();
        s.log = &log;
        s.listing = &listing;
        velix::platform::output_clear();
        velix::platform::clear_injected_failures();
        if (failTable) velix::platform::inject_method_failure(388, 1, -6);
        velix::platform::run_program_text(program, &codes);
        velix::platform::clear_injected_failures();
        json = velix::test::JsonValue::parse(velix::platform::output_json());
        s.libraryDir = savedLib;
        s.log = savedLog;
        s.listing = savedListing;
        fs::remove_all(dir);
    }
    // Output items of the step with the name.
    int tables(const std::string& name) const {
        const auto& output = json["steps"][0]["output"];
        int k = 0;
        for (size_t i = 0; i < output.size(); ++i) k += output[i]["name"].str() == name;
        return k;
    }
    bool has_message(int number) const {
        const auto& m = json["steps"][0]["messages"];
        for (size_t i = 0; i < m.size(); ++i)
            if (m[i]["group"].number() == 352 && m[i]["number"].number() == number) return true;
        return false;
    }
};

TEST(InwgtGlsWeights, AnIncompleteMatrixEndsTheStepWhetherOrNotItsTableIsShown) {
    for (const bool failTable : {false, true}) {
        IncompleteMatrix r(kWeights, kGlsProgram, failTable);
        ASSERT_EQ(r.codes.size(), 1u) << r.log.str();
        EXPECT_EQ(r.codes[0], 1008) << "table fails: " << failTable << "\n" << r.log.str();
        EXPECT_TRUE(r.has_message(36)) << failTable;
        EXPECT_EQ(r.tables("Weights"), failTable ? 0 : 1) << r.log.str();
        // The failed publication is reported in the log.
        EXPECT_EQ(r.log.str().find("status -6") != std::string::npos, failTable) << r.log.str();
    }
}

// The one-factor model of x1-x3 by METHOD=`method` with the weights of
// data set gls_weights_incomplete.
std::string weighted_program(const std::string& method) {
    std::string p = kGlsProgram;
    p.replace(p.find("method=gls"), 10, "method=" + method);
    p.replace(p.find("inwgt=w"), 7, "inwgt=gls_weights_incomplete");
    return p;
}

TEST(InwgtWeights, AnLsMethodWhoseWeightsCannotBeUsedFitsByUlsWithAWarning) {
    // The WLS form of x1-x3 with one of its 14 rows.
    const std::string wlsForm = "# TYPE=WEIGHT\n# CHAR=_TYPE_:8,_NAME_:32,_NAM2_:32,_NAM3_:32\n"
                                "_TYPE_,_NAME_,_NAM2_,_NAM3_,x1,x2,x3\nWEIGHT,x1,x1,x1,1.0,0.2,0.1\n";
    const std::string noRows = "# TYPE=WEIGHT\n_TYPE_,_NAME_,x1,x2,x3\nCOV,x1,1.0,0.2,0.1\n";
    struct Case {
        const char* method;
        std::string weights;
        int code;
        std::vector<int> present, absent;
        bool fitted;
    } cases[] = {
        // The LS methods go on by ULS: warnings only, the level of a warning.
        {"lsdwls", kWeights, kLevelWarning, {48, 23}, {36, 10}, true},
        {"lswls", wlsForm, kLevelWarning, {48, 23}, {36, 10}, true},
        {"lsdwls", noRows, kLevelWarning, {49, 23}, {37, 10}, true},
        // Without a ULS stage the group is not analysed.
        {"dwls", kWeights, kLevelNoMoments, {36, 10}, {48, 23}, false},
        {"wls", wlsForm, kLevelNoMoments, {36, 10}, {48, 23}, false},
    };
    for (const Case& c : cases) {
        IncompleteMatrix r(c.weights, weighted_program(c.method), false, "gls_weights_incomplete");
        const std::string what = std::string(c.method) + "\n" + r.log.str();
        ASSERT_EQ(r.codes.size(), 1u) << what;
        EXPECT_EQ(r.codes[0], c.code) << what;
        for (int m : c.present) EXPECT_TRUE(r.has_message(m)) << m << " " << what;
        for (int m : c.absent) EXPECT_FALSE(r.has_message(m)) << m << " " << what;
        EXPECT_EQ(r.log.str().find("ERROR") == std::string::npos, c.fitted) << what;
        EXPECT_EQ(r.tables("FitSummary") > 0, c.fitted) << what;
        // The data set is named in full.
        EXPECT_NE(r.log.str().find("data set gls_weights_incomplete "), std::string::npos) << what;
    }
}

TEST(SymatrixInput, AnIncompleteMatrixEndsTheStepOnlyWhenItsTableFails) {
    // x3 has no row: its variance is missing.
    const std::string symatrix = "# TYPE=SYMATRIX\n_TYPE_,_NAME_,x1,x2,x3\nN,,50,50,50\n"
                                 "SYMATRIX,x1,1.0,,\nSYMATRIX,x2,0.3,1.0,\n";
    const std::string program = "proc velix data=w method=none covariance;\nvar x1 x2 x3;\n"
                                "lineqs x1 = 1.0 F1 + E1, x2 = 1.0 F1 + E2, x3 = 1.0 F1 + E3;\n"
                                "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";
    for (const bool failTable : {false, true}) {
        IncompleteMatrix r(symatrix, program, failTable);
        ASSERT_EQ(r.codes.size(), 1u) << r.log.str();
        EXPECT_TRUE(r.has_message(34)) << failTable;
        EXPECT_EQ(r.tables("InSymmetric"), failTable ? 0 : 1) << r.log.str();
        if (failTable)
            EXPECT_EQ(r.codes[0], kLevelHostFailure) << r.log.str();
        else
            EXPECT_LE(r.codes[0], kLevelWarning) << r.log.str();
    }
}

}  // namespace
