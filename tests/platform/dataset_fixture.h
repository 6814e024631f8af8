// A temporary library folder for data-set tests: files written into it are
// found by member name, and the session's library folder points at it while
// the fixture lives.  The step's data sets are freed when it ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/dataset.h"
#include "platform/session.h"

namespace velix::platform::testing {

class DataSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("velix_ds_" + std::to_string(rd()) + "_" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        savedLib_ = session().libraryDir;
        savedLog_ = session().log;
        session().libraryDir = dir_.string();
        session().log = &log_;
    }
    void TearDown() override {
        dataset_end_step();
        session().libraryDir = savedLib_;
        session().log = savedLog_;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
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
    std::ostringstream log_;

private:
    std::string savedLib_;
    std::ostream* savedLog_ = nullptr;
};

}  // namespace velix::platform::testing
