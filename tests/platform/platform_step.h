// A platform step around a test: the listing and the log go to strings, the
// options and titles are restored afterwards, the output document starts
// empty and the step's objects and texts are freed at the end.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/output.h"
#include "platform/session.h"
#include "tests/platform/json_reader.h"

class PlatformStep : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = velix::platform::session();
        savedListing_ = s.listing;
        savedLog_ = s.log;
        savedOptions_ = s.options;
        savedTitles_ = s.titles;
        savedTime_ = s.fixedTime;
        s.listing = &listing_;
        s.log = &log_;
        velix::platform::output_clear();
        velix::platform::clear_injected_failures();
        velix::platform::begin_step();
        velix::platform::output_begin_step(1);
    }
    void TearDown() override {
        velix::platform::end_step();
        velix::platform::clear_injected_failures();
        velix::platform::output_clear();
        auto& s = velix::platform::session();
        s.listing = savedListing_;
        s.log = savedLog_;
        s.options = savedOptions_;
        s.titles = savedTitles_;
        s.fixedTime = savedTime_;
    }
    std::string listing() const { return listing_.str(); }
    std::string log() const { return log_.str(); }
    // The parsed document and the first step's output items.
    velix::test::JsonValue document() const {
        return velix::test::JsonValue::parse(velix::platform::output_json());
    }

    std::ostringstream listing_;
    std::ostringstream log_;

private:
    std::ostream* savedListing_ = nullptr;
    std::ostream* savedLog_ = nullptr;
    std::map<std::string, std::string> savedOptions_;
    std::vector<std::string> savedTitles_;
    double savedTime_ = -1.0;
};
