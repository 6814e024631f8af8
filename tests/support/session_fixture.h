// The one step fixture of the unit tests: each test runs inside a step of
// our platform.  The module's anchor points at the platform's control
// block, the listing and the log go to strings, the output document starts
// empty, and afterwards the step's pools, files and objects are freed and
// the session's options, titles, clock and streams are restored.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/control_block.h"
#include "platform/output.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "tests/support/json_reader.h"
#include "velix/host.h"

namespace velix::test {

class SessionStep : public ::testing::Test {
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
        v_global_gcb_anchor = velix::platform::control_block();
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
    // The parsed output document.
    JsonValue document() const { return JsonValue::parse(velix::platform::output_json()); }
    // Sets the host's DEBUG option for the rest of the test.
    void set_debug(const std::string& text) { velix::platform::session().options["DEBUG"] = text; }
    // The step code of a call that ends the step, -1 when it returns.
    template <class F>
    int32_t exit_code(F f) {
        try {
            f();
        } catch (const velix::platform::StepExit& e) {
            return e.code;
        }
        return -1;
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

}  // namespace velix::test

// The fixture under the names the platform and host tests give it.
using PlatformStep = velix::test::SessionStep;
using HostStep = velix::test::SessionStep;
