// A step of the platform around each test of the host support layer: the
// module's anchor points at the platform's control block, the log goes to
// a string, and the step's pools and files are freed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>

#include "platform/control_block.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "velix/host.h"

class HostStep : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = velix::platform::session();
        savedLog_ = s.log;
        savedOptions_ = s.options;
        s.log = &log_;
        v_global_gcb_anchor = velix::platform::control_block();
        velix::platform::begin_step();
    }
    void TearDown() override {
        velix::platform::end_step();
        auto& s = velix::platform::session();
        s.log = savedLog_;
        s.options = savedOptions_;
    }
    std::string log() const { return log_.str(); }
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

    std::ostringstream log_;

private:
    std::ostream* savedLog_ = nullptr;
    std::map<std::string, std::string> savedOptions_;
};
