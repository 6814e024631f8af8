// Whole programs through the velix command: the step's frame (title, BY-group
// loop, return codes and exit status) and the JSON document.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using velix::test::groups_opened;
using velix::test::own_folder;
using velix::test::run_velix;

namespace {

const char* kCfaNone = R"(
proc velix data=hs method=none covariance;
   lineqs
      x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,
      x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6,
      x7 = 1.0 Fspd + E7, x8 = l8 Fspd + E8, x9 = l9 Fspd + E9;
   std Fvis Ftxt Fspd = vvis vtxt vspd, E1-E9 = ve1-ve9;
   cov Fvis Ftxt = cvt, Fvis Fspd = cvs, Ftxt Fspd = cts;
run;
)";

// One factor of x1-x3 per BY group of school, without estimation.
std::string by_school_program(const std::string& data, const std::string& options) {
    return "proc velix data='" + data + "' " + options + " method=none covariance;\n"
           "var x1 x2 x3;\nby school;\n"
           "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
           "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";
}

size_t count_of(const std::vector<int>& numbers, int number) {
    return static_cast<size_t>(std::count(numbers.begin(), numbers.end(), number));
}

}  // namespace

TEST(Step, MethodNoneRunsCleanlyAndPrintsTheProcedureTitle) {
    auto r = run_velix(kCfaNone, {"hs.csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_NE(r.listing.find("The VELIX Procedure"), std::string::npos) << r.listing;
    ASSERT_TRUE(r.json.is_object()) << r.jsonText;
    ASSERT_EQ(r.json["steps"].size(), 1u);
    EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 0.0);
    auto titles = r.items(0, "title");
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ((*titles[0])["textMessage"]["number"].number(), 539.0);
    // Without BY variables the loop makes exactly one pass.
    EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 1u) << r.jsonText;
}

// The program's title lines head each step, in the listing and in the
// document, whether they stand before the step or in it; a TITLEn
// statement clears the lines after n.  A doubled quote stands for one,
// and the strings of one line are joined by a blank (the quotes between
// them were printed).
TEST(Step, TitleLinesHeadEachStep) {
    std::string second = kCfaNone;
    second.insert(second.find("covariance;") + 12, "title2 \"Second\" 'pupils'' part';\n");
    const std::string program = "title 'Pupils'' first line';\ntitle3 'Third' \"line\";\n" + std::string(kCfaNone) + second;
    auto r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::vector<std::vector<std::string>> want = {{"Pupils' first line", "", "Third line"},
                                                        {"Pupils' first line", "Second pupils' part"}};
    // The listing's lines without their blanks; where each step's title is.
    std::vector<std::string> lines;
    std::vector<size_t> procedureTitle;
    std::istringstream in(r.listing);
    for (std::string l; std::getline(in, l);) {
        const size_t b = l.find_first_not_of(' ');
        lines.push_back(b == std::string::npos ? "" : l.substr(b, l.find_last_not_of(' ') - b + 1));
        if (lines.back() == "The VELIX Procedure") procedureTitle.push_back(lines.size() - 1);
    }
    ASSERT_EQ(procedureTitle.size(), 2u) << r.listing;
    for (size_t step = 0; step < 2; ++step) {
        const auto titles = r.items(step, "title");
        ASSERT_FALSE(titles.empty());
        EXPECT_EQ((*titles[0])["level"].number(), 0.0);
        std::string text;
        for (const std::string& l : want[step]) text += (text.empty() ? "" : "\n") + l;
        EXPECT_EQ((*titles[0])["text"].str(), text);
        // In the listing: the lines, a blank line, the procedure's title.
        const size_t at = procedureTitle[step];
        ASSERT_GE(at, want[step].size() + 1);
        std::vector<std::string> above(lines.begin() + static_cast<long>(at - want[step].size() - 1),
                                       lines.begin() + static_cast<long>(at));
        std::vector<std::string> expected = want[step];
        expected.push_back("");
        EXPECT_EQ(above, expected) << r.listing.substr(0, 2000);
    }
    EXPECT_EQ(procedureTitle[0], want[0].size() + 1) << "nothing before the first step's titles";
}

// The title of the modeling statistics names the analysed matrix: the
// correlations unless COVARIANCE is given, uncorrected with moments about
// zero.
TEST(Step, TheListingNamesTheAnalysedMatrix) {
    const struct Case {
        const char* options;
        const char* title;
    } cases[] = {{"", "Analysis of the Correlation Matrix"},
                 {"covariance", "Analysis of the Covariance Matrix"},
                 {"ucorr", "Analysis of the Uncorrected Correlation Matrix"},
                 {"ucov covariance", "Analysis of the Uncorrected Covariance Matrix"}};
    std::string program;
    for (const Case& c : cases) {
        std::string step = kCfaNone;
        step.replace(step.find("covariance"), 10, c.options);
        program += step;
    }
    auto r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (size_t k = 0; k < std::size(cases); ++k) {
        size_t found = 0;
        for (const auto* t : r.items(k, "title")) found += (*t)["text"].str() == cases[k].title;
        EXPECT_EQ(found, 1u) << cases[k].title;
        EXPECT_NE(r.listing.find(cases[k].title), std::string::npos) << cases[k].title;
    }
}

TEST(Step, ByGroupLoopRunsOncePerGroup) {
    std::string program = kCfaNone;
    program.replace(program.find("data=hs"), 7, "data=hs_by");
    program.replace(program.find("run;"), 4, "by school;\nrun;");
    auto r = run_velix(program, {"hs_by.csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.log;
    // Each BY group runs its moments inside its own "ModelingStat" group.
    size_t opened = 0;
    for (const auto* g : r.items(0, "groupOpen"))
        if ((*g)["name"].str() == "ModelingStat") ++opened;
    EXPECT_EQ(opened, 2u) << r.jsonText;
}

TEST(Step, MissingDataSetEndsTheStepWithAnInputError) {
    std::string program = kCfaNone;
    program.replace(program.find("data=hs"), 7, "data=nosuchdata");
    auto r = run_velix(program, {});
    EXPECT_EQ(r.exitStatus, 2) << r.log;
    ASSERT_EQ(r.json["steps"].size(), 1u);
    EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 2000.0);
}

TEST(Step, ExitStatusFollowsTheHighestStepReturnCode) {
    // A clean step followed by one that cannot find its data: the worst wins.
    std::string bad = kCfaNone;
    bad.replace(bad.find("data=hs"), 7, "data=nosuchdata");
    auto r = run_velix(std::string(kCfaNone) + bad, {"hs.csv"});
    ASSERT_EQ(r.json["steps"].size(), 2u) << r.jsonText;
    EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 0.0);
    EXPECT_EQ(r.json["steps"][1]["returnCode"].number(), 2000.0);
    EXPECT_EQ(r.exitStatus, 2);
}

TEST(Step, UnreadableProgramOrBadCommandLineGivesExitStatusThree) {
    using velix::test::run_velix_args;
    EXPECT_EQ(run_velix_args({"/nonexistent/folder/program.vx"}), 3);
    EXPECT_EQ(run_velix_args({}), 3);
    EXPECT_EQ(run_velix_args({"--json"}), 3);
    EXPECT_EQ(run_velix_args({"--bogus", "x.vx"}), 3);
}

TEST(Step, ByGroupsOutOfStepWithInestAreReportedAndEveryGroupGoesOn) {
    const std::string dir = own_folder("step_by_sync");
    const std::string data = velix::test::data_path("hs_by.csv");
    const std::string parms = "_TYPE_,l2,l3,vf,ve1,ve2,ve3\n";
    const std::string row = "PARMS,1,1,1,1,1,1\n";
    // DATA= has schools 1 and 2.  The first estimate set agrees on the
    // first group only; the second on none, so the first group is
    // synchronised too.
    std::ofstream(dir + "/est_half.csv") << "# TYPE=EST\nschool," << parms << "1," << row
                                         << "3," << row;
    std::ofstream(dir + "/est_none.csv") << "# TYPE=EST\nschool," << parms << "5," << row
                                         << "6," << row;
    struct Case {
        const char* file;
        size_t mismatches;
    };
    for (const Case& c : {Case{"est_half.csv", 1}, Case{"est_none.csv", 2}}) {
        auto r = run_velix(by_school_program(data, "inest='" + dir + "/" + c.file + "'"), {});
        ASSERT_TRUE(r.json.is_object()) << r.log;
        // A mismatch is a warning: the step is not failed by it.
        EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 0.0) << c.file << "\n" << r.log;
        EXPECT_EQ(count_of(r.messages(0, 153), 5), c.mismatches) << c.file << "\n" << r.log;
        EXPECT_EQ(count_of(r.messages(0, 352), 1), c.mismatches) << c.file << "\n" << r.log;
        EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 2u) << c.file;
        EXPECT_EQ(r.items(0, "table", "SimpleStatistics").size(), 2u) << c.file;
    }
}

TEST(Step, AGroupWithoutObservationsIsSkippedAndTheLoopGoesOn) {
    const std::string dir = own_folder("step_empty_group");
    // Three schools; every observation of the second has a missing x2.
    std::ofstream out(dir + "/three.csv");
    out << "school,x1,x2,x3\n";
    const double rows[][3] = {{4.1, 7.2, 1.3}, {5.3, 5.2, 2.1}, {4.5, 6.0, 1.8}, {5.9, 7.7, 2.6},
                              {3.2, 6.4, 1.1}};
    for (int school = 1; school <= 3; ++school)
        for (const auto& x : rows) {
            out << school << "," << x[0] + school << ",";
            if (school == 2)
                out << ".";
            else
                out << x[1] * school;
            out << "," << x[2] << "\n";
        }
    out.close();
    auto r = run_velix(by_school_program(dir + "/three.csv", ""), {});
    ASSERT_TRUE(r.json.is_object()) << r.log;
    // Each group runs its moments stage; only the two with observations
    // deliver their statistics, and the third group is not lost.
    EXPECT_EQ(groups_opened(r, 0, "ModelingStat"), 3u) << r.jsonText;
    EXPECT_EQ(r.items(0, "table", "SimpleStatistics").size(), 2u) << r.jsonText;
    EXPECT_LT(r.json["steps"][0]["returnCode"].number(), 1000.0) << r.log;
}
