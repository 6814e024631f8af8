// The estimation run of a step's first BY group, for the tests of the
// estimation folder: the step through its moments, then cosmini, with the
// messages of the run; the reference programs and their files.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "../evaluation/evaluation_fixture.h"
#include "procedure/estimation/estimation.h"
#include "procedure/procedure.h"

namespace velix::testing {

inline std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string data_file(const std::string& name) {
    return read_file(std::string(VELIX_SOURCE_DIR) + "/tests/fixtures/" + name);
}

// A step through the moments of its first BY group, then the estimation.
struct EstimationStep : EvalStep {
    // `arm` runs just before the estimation (to inject failures).
    explicit EstimationStep(const std::string& text, void (*arm)() = nullptr) : EvalStep(text, kMethodNone) {
        if (!ready) return;
        if (arm) arm();
        try {
            result = cosmini(&ctx);
            ran = true;
        } catch (const velix::platform::StepExit& e) {
            exitCode = e.code;
        }
        // The messages of the estimation as well.
        const auto& doc = velix::platform::current_step();
        messages.clear();
        for (size_t i = &doc == DocumentMarks::step ? DocumentMarks::messages : 0; i < doc.messages.size(); ++i)
            if (doc.messages[i].group == kMsgProc) messages.push_back(doc.messages[i].number);
    }
    double estimate(const std::string& name) const { return nlp.param.x[parameter_index(*this, name)]; }
    double std_error(const std::string& name) const { return nlp.work.stdErrors[parameter_index(*this, name)]; }
    bool ran = false;
    int32_t result = -99;
};

// hs_cfa_ml with METHOD=`method`.
inline std::string hs_with_method(const char* method) {
    std::string program = data_file("hs_cfa_ml.vx");
    program.replace(program.find("method=ml"), 9, std::string("method=") + method);
    return program;
}

// `program` with termination tight enough to reach the minimum: the
// defaults (ABSGCONV=1e-5, GCONV=1e-8) stop the reference models up to
// 3e-5 (relative) from it, where a weakly determined direction still has a
// gradient of 1e-6.
inline std::string tight_termination(std::string program) {
    program.insert(program.find(';') + 1, "\n   nloptions absgconv=1e-9 gconv=1e-12;");
    return program;
}

}  // namespace velix::testing
