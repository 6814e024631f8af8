// BY-group synchronisation of an auxiliary data set with DATA=, on data
// sets read by the platform from CSV files.
#include "host/by_sync.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/fixtures.h"
#include "tests/support/session_fixture.h"
#include "platform/dataset.h"
#include "platform/step_exit.h"
#include "velix/host_dataset.h"

namespace {

namespace fs = std::filesystem;

class BySync : public HostStep {
protected:
    void SetUp() override {
        HostStep::SetUp();
        // One folder per process: ctest runs these tests in parallel processes.
        dir_ = fs::path(VELIX_BINARY_DIR) / ("by_sync_test-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        velix::test::remove_at_exit(dir_.string());
        auto& s = velix::platform::session();
        savedLib_ = s.libraryDir;
        s.libraryDir = dir_.string();
    }
    void TearDown() override {
        HostStep::TearDown();
        velix::platform::session().libraryDir = savedLib_;
    }

    HostDataSet* open(const std::string& name, const std::string& csv, bool withBy = true) {
        std::ofstream(dir_ / (name + ".csv")) << csv;
        std::string error;
        HostDataSet* d = velix::platform::dataset_open_input(name, false, {}, &error);
        EXPECT_NE(d, nullptr) << error;
        if (d != nullptr && withBy) {
            EXPECT_TRUE(velix::platform::dataset_set_by(d, {"g"}, false, &error)) << error;
        }
        return d;
    }

    fs::path dir_;
    std::string savedLib_;
};

TEST_F(BySync, ZeroHandleDoesNothing) {
    HostDataSet* data = open("data0", "g,x\n1,1\n");
    // Even an invalid mode is not looked at.
    EXPECT_EQ(zbysync(nullptr, data, 7), 0);
    EXPECT_EQ(zbysync(data, nullptr, 0), 0);
    EXPECT_EQ(log(), "");
}

TEST_F(BySync, MatchingGroupsAreInStepAndMismatchIsReported) {
    HostDataSet* data = open("main", "# LABEL=Main data\ng,x\n1,1\n1,2\n2,3\n");
    HostDataSet* other = open("aux", "# LABEL=Aux data\ng,y\n1,5\n3,6\n");
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(zbysync(data, other, 0), 0);
    EXPECT_EQ(log(), "");
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(zbysync(data, other, 0), 1);
    // Message 153/5 names both data sets whole, as the program named them,
    // with their labels in parentheses.
    const std::string l = log();
    EXPECT_NE(l.find("data set main (Main data) do not match those of data set aux (Aux data)."), std::string::npos)
        << l;
    // Data sets without a label: one blank after each name, a name longer
    // than 8 characters whole.
    HostDataSet* plain = open("plain", "g,x\n1,1\n2,3\n");
    HostDataSet* plainAux = open("plain_auxiliary", "g,y\n1,5\n3,6\n");
    ASSERT_EQ(xbynext(plain), 1);
    EXPECT_EQ(zbysync(plain, plainAux, 0), 0);
    ASSERT_EQ(xbynext(plain), 1);
    EXPECT_EQ(zbysync(plain, plainAux, 0), 1);
    EXPECT_NE(log().find("data set plain do not match those of data set plain_auxiliary."), std::string::npos) << log();
}

TEST_F(BySync, FatalMismatchEndsTheStep) {
    HostDataSet* data = open("main2", "g,x\n1,1\n");
    HostDataSet* other = open("noby", "y\n5\n", false);  // lacks the BY variable
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(exit_code([&] { zbysync(data, other, 0); }), 1008);
}

TEST_F(BySync, InvalidModeIsAnInternalError) {
    HostDataSet* data = open("main3", "g,x\n1,1\n");
    HostDataSet* other = open("aux3", "g,y\n1,1\n");
    EXPECT_EQ(exit_code([&] { zbysync(data, other, 3); }), 9999);
    EXPECT_NE(log().find("zbysync: invalid listrc"), std::string::npos) << log();
}

TEST_F(BySync, ModesOneAndTwoRewindAlike) {
    HostDataSet* data = open("main4", "g,x\n1,1\n2,2\n");
    HostDataSet* other = open("aux4", "g,y\n1,1\n2,2\n");
    for (int32_t mode : {1, 2}) {
        ASSERT_EQ(xbyrwnd(data, kRewindFile), 0);
        xbynext(data);
        xbynext(data);
        ASSERT_EQ(zbysync(data, other, 0), 0);
        ASSERT_EQ(other->group, 1);
        EXPECT_EQ(zbysync(data, other, mode), 0);
        // Rewound: the next synchronisation starts from its first group.
        EXPECT_EQ(other->group, -1) << "mode " << mode;
        EXPECT_EQ(other->next.obs, 0) << "mode " << mode;
    }
}

}  // namespace
