// Data sets read from their files, pass by pass, against the same data sets
// holding their values: every program gives the same output document to
// the bit, the same log and the same output data sets, on every kind of
// DATA= (raw data, TYPE=CORR, COV, UCORR, UCOV, SSCP, SYMATRIX, EST, and a
// COV data set read as CORR, which reads its group again), BY groups
// (numeric out of order with NOTSORTED, character), WEIGHT, FREQ, PARTIAL,
// missing values, the fourth moments of WLS and DWLS, kurtosis, and
// OUTSTAT=, OUTRAM=, OUTEST= and OUTWGT= read back as DATA=, INRAM=, INEST=
// and INWGT=.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "direct_moments.h"
#include "platform/dataset.h"
#include "platform/output.h"
#include "platform/runner/runner.h"
#include "platform/session.h"

namespace {

namespace fs = std::filesystem;

// 3000 observations of five correlated variables: g a numeric BY variable
// in four runs out of order, c a character one in sorted runs, w a weight
// and f a frequency, z a variable to partial out, x1-x4 with a few
// missing values.  Groups of more than 1024 observations take more than
// one of the scan's blocks.
std::string mixed_data() {
    std::mt19937_64 gen(20);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform(0.5, 2.0);
    std::ostringstream out;
    out.precision(6);
    out << "g,c,w,f,z,x1,x2,x3,x4\n";
    for (int o = 0; o < 3000; ++o) {
        const int g[] = {3, 1, 4, 2};
        const double common = normal(gen), z = normal(gen);
        out << g[o * 4 / 3000] << "," << (o < 1800 ? "north" : "south") << "," << uniform(gen) << ","
            << (o % 7 == 3 ? 2.5 : 1.0) << "," << z;
        for (int i = 1; i <= 4; ++i) {
            out << ",";
            if (o % 211 == i * 13) continue;  // missing
            out << std::fixed << 10.0 * i + common + 0.5 * z + 0.8 * normal(gen) << std::defaultfloat;
        }
        out << "\n";
    }
    return out.str();
}

// A one-factor model of x1 .. xk with its first loading fixed.
std::string one_factor(int k) {
    std::string s = "lineqs x1 = 1.0 F + E1";
    for (int i = 2; i <= k; ++i) s += ", x" + std::to_string(i) + " = l" + std::to_string(i) + " F + E" + std::to_string(i);
    return s + ";\nstd F = vf, E1-E" + std::to_string(k) + " = ve1-ve" + std::to_string(k) + ";\n";
}

struct Outcome {
    std::vector<int> codes;
    std::string json, log;
    std::map<std::string, std::string> files;  // the output data sets, by name
};

// Runs `program` in-process on library folder `dir` with the hold limit
// given, after removing the output data sets `outputs`.
Outcome run(const std::string& dir, const std::string& program, const std::vector<std::string>& outputs,
            size_t holdLimit) {
    auto& s = velix::platform::session();
    Outcome r;
    std::ostringstream log, listing;
    const std::string savedLib = s.libraryDir;
    std::ostream* savedLog = s.log;
    std::ostream* savedListing = s.listing;
    const double savedTime = s.fixedTime;
    const int savedStep = s.stepNumber;
    for (const std::string& o : outputs) fs::remove(dir + "/" + o + ".csv");
    s.libraryDir = dir;
    s.log = &log;
    s.listing = &listing;
    s.fixedTime = 0.0;
    s.stepNumber = 0;
    velix::platform::output_clear();
    velix::platform::dataset_set_hold_limit(holdLimit);
    velix::platform::run_program_text(program, &r.codes);
    velix::platform::dataset_set_hold_limit(velix::platform::kDefaultHoldLimit);
    r.json = velix::platform::output_json();
    r.log = log.str();
    for (const std::string& o : outputs) r.files[o] = velix::test::read_text(dir + "/" + o + ".csv");
    s.libraryDir = savedLib;
    s.log = savedLog;
    s.listing = savedListing;
    s.fixedTime = savedTime;
    s.stepNumber = savedStep;
    return r;
}

TEST(StreamedData, ReadFromItsFileADataSetGivesWhatItGivesHoldingItsValues) {
    const std::string dir = (fs::temp_directory_path() / ("velix_streamed_" + std::to_string(::getpid()))).string();
    fs::create_directories(dir);
    for (const char* f : {"hs.csv", "hs_by.csv", "ability.csv", "ability_corr.csv"})
        fs::copy_file(velix::test::fixture_path(f), dir + "/" + f, fs::copy_options::overwrite_existing);
    std::ofstream(dir + "/mixed.csv") << mixed_data();
    velix::test::write_sscp(dir + "/sscp.csv", velix::test::columns(velix::test::read_csv("hs.csv"), 3));
    std::ofstream(dir + "/estimates.csv") << "# TYPE=EST\n_TYPE_,_NAME_,x1,x2,x3\nPARMS,,4.9,6.1,2.2\nN,,120,120,120\n"
                                       "COV,x1,1.4,0.4,0.6\nCOV,x2,0.4,1.3,0.3\nCOV,x3,0.6,0.3,1.2\n";
    std::ofstream(dir + "/symmetric.csv") << "# TYPE=SYMATRIX\n_TYPE_,_NAME_,x1,x2,x3\nN,,90,90,90\n"
                                       "SYMATRIX,x1,2.0,,\nSYMATRIX,x2,0.5,1.5,\nSYMATRIX,x3,0.3,0.4,1.2\n";
    const std::string f3 = one_factor(3), f4 = one_factor(4);
    struct Case {
        const char* what;
        std::string program;
        std::vector<std::string> outputs;
    } cases[] = {
        {"raw data, kurtosis, OUTSTAT=, OUTRAM=, OUTEST= read back",
         "proc velix data=hs method=ml covariance kurtosis pcorr outstat=st outram=ram outest=est;\nvar x1-x4;\n" + f4 +
             "run;\nproc velix data=st method=ml inram=ram;\nrun;\nproc velix data=hs method=ml covariance inest=est;\n"
             "var x1-x4;\n" + f4 + "run;\n",
         {"st", "ram", "est"}},
        {"WLS and DWLS, OUTWGT= read back as INWGT=",
         "proc velix data=hs method=wls covariance kurtosis outwgt=wt;\nvar x1-x4;\n" + f4 +
             "run;\nproc velix data=hs method=wls covariance inwgt=wt;\nvar x1-x4;\n" + f4 +
             "run;\nproc velix data=hs method=dwls;\nvar x1-x4;\n" + f4 + "run;\nproc velix data=hs method=dwls covariance;\n"
             "var x1-x4;\n" + f4 + "run;\n",
         {"wt"}},
        {"BY groups, NOTSORTED, WEIGHT, FREQ, PARTIAL, missing values",
         "proc velix data=mixed method=ml covariance kurtosis outstat=bs;\nby g notsorted;\nweight w;\nfreq f;\n"
         "partial z;\nvar x1-x3;\n" + f3 + "run;\nproc velix data=mixed method=gls covariance kurtosis;\nby c;\n"
         "var x1-x4;\n" + f4 + "run;\nproc velix data=mixed method=wls covariance;\nby c;\nvar x1-x3;\n" + f3 +
             "run;\nproc velix data=hs_by method=ml;\nby school;\nvar x1-x3;\n" + f3 + "run;\n",
         {"bs"}},
        {"moment data: UCOV, UCORR, CORR, COV, COV read as CORR, SSCP, EST, SYMATRIX",
         "proc velix data=mixed method=none ucov outstat=u1;\nvar x1-x3;\n" + f3 +
             "run;\nproc velix data=u1 method=ml ucov;\n" + f3 + "run;\nproc velix data=mixed method=none ucorr outstat=u2;\n"
             "var x1-x3;\n" + f3 + "run;\nproc velix data=u2 method=ml ucorr;\n" + f3 +
             "run;\nproc velix data=ability_corr method=ml;\nvar general picture blocks;\n"
             "lineqs general = 1.0 F + E1, picture = l2 F + E2, blocks = l3 F + E3;\nstd F = vf, E1-E3 = ve1-ve3;\n"
             "run;\nproc velix data=ability(type=corr) method=ml covariance;\nvar general picture blocks;\n"
             "lineqs general = 1.0 F + E1, picture = l2 F + E2, blocks = l3 F + E3;\nstd F = vf, E1-E3 = ve1-ve3;\n"
             "run;\nproc velix data=sscp method=ml covariance;\nvar x1-x3;\n" + f3 +
             "run;\nproc velix data=estimates method=ml covariance;\nvar x1-x3;\n" + f3 +
             "run;\nproc velix data=symmetric method=ml covariance;\nvar x1-x3;\n" + f3 + "run;\n",
         {"u1", "u2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome held = run(dir, c.program, c.outputs, std::numeric_limits<size_t>::max());
        const Outcome streamed = run(dir, c.program, c.outputs, 0);
        ASSERT_FALSE(held.codes.empty());
        for (int code : held.codes) EXPECT_LE(code, 4) << held.log;
        EXPECT_NE(held.json.find("SimpleStatistics"), std::string::npos);
        EXPECT_EQ(streamed.codes, held.codes);
        EXPECT_TRUE(streamed.json == held.json) << "the output documents differ";
        EXPECT_EQ(streamed.log, held.log);
        for (const std::string& o : c.outputs) {
            EXPECT_FALSE(held.files.at(o).empty()) << o;
            EXPECT_EQ(streamed.files.at(o), held.files.at(o)) << o;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
