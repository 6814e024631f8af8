// Whole programs through the velix command: the step's frame (title, BY-group
// loop, return codes and exit status) and the JSON document.
#include <gtest/gtest.h>

#include "harness.h"

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
