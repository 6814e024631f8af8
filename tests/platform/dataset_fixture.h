// The step fixture with a temporary library folder, for data-set tests:
// files written into it are found by member name, and the session's library
// folder points at it while the fixture lives.  The step's data sets are
// freed when it ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/dataset.h"
#include "platform/session.h"
#include "tests/support/session_fixture.h"

namespace velix::platform::testing {

class DataSetTest : public velix::test::SessionStep {
protected:
    void SetUp() override {
        SessionStep::SetUp();
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("velix_ds_" + std::to_string(rd()) + "_" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        savedLib_ = session().libraryDir;
        session().libraryDir = dir_.string();
    }
    void TearDown() override {
        dataset_end_step();
        session().libraryDir = savedLib_;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        SessionStep::TearDown();
    }

    void write(const std::string& member, const std::string& text) {
        std::ofstream(dir_ / (member + ".csv"), std::ios::binary) << text;
    }
    std::string read(const std::string& member) {
        std::ifstream in(dir_ / (member + ".csv"), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    HostDataSet* open(const std::string& member, const std::string& type = "") {
        DataSetOptions options;
        options.type = type;
        std::string error;
        HostDataSet* d = dataset_open_input(member, false, options, &error);
        EXPECT_NE(d, nullptr) << error;
        return d;
    }
    HostDataSet* create(const std::string& member) {
        std::string error;
        HostDataSet* d = dataset_create_output(member, false, DataSetOptions{}, &error);
        EXPECT_NE(d, nullptr) << error;
        return d;
    }

    std::filesystem::path dir_;

private:
    std::string savedLib_;
};

}  // namespace velix::platform::testing
