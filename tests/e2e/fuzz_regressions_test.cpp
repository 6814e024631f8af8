// Replays the regression corpus of the fuzz targets (tests/fuzz/regressions):
// every input that ever crashed, hung or broke a rule.  A program must end
// with an exit status of a finished run, no internal error and a log whose
// ERROR lines agree with its return codes; a CSV text
// must keep the round trip of the data-set form.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../fuzz/csv_round_trip.h"
#include "harness.h"
#include "velix/codes.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> corpus(const std::string& target) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(std::string(VELIX_SOURCE_DIR) + "/tests/fuzz/regressions/" + target))
        files.push_back(e.path());
    return files;
}

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(FuzzRegressions, ProgramsEndWithAReturnCodeAndNoInternalError) {
    std::vector<std::string> data;
    for (const auto& e : fs::directory_iterator(velix::test::data_path("")))
        if (e.path().extension() == ".csv") data.push_back(e.path().filename().string());
    const auto files = corpus("program");
    ASSERT_FALSE(files.empty());
    for (const fs::path& p : files) {
        const auto r = velix::test::run_velix(read(p), data);
        EXPECT_GE(r.exitStatus, 0) << p.filename() << ": the command did not exit";
        EXPECT_LE(r.exitStatus, 2) << p.filename();
        EXPECT_NE(r.json["steps"][0]["returnCode"].number(), kLevelInternal) << p.filename();
        // The log and the return code agree: an ERROR line exactly when a
        // step ended above the warning level.
        bool failed = false;
        for (size_t k = 0; k < r.json["steps"].size(); ++k) failed = failed || r.json["steps"][k]["returnCode"].number() > 4;
        const bool error = r.log.rfind("ERROR:", 0) == 0 || r.log.find("\nERROR:") != std::string::npos;
        EXPECT_EQ(failed, error) << p.filename() << "\n" << r.log;
    }
}

TEST(FuzzRegressions, CsvTextsKeepTheRoundTrip) {
    const auto files = corpus("csv");
    ASSERT_FALSE(files.empty());
    for (const fs::path& p : files) EXPECT_EQ(velix::test::csv_round_trip_fault(read(p)), "") << p.filename();
}
