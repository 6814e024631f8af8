// The platform's session: the state of one run of the `velix` command that
// the host components share (where the listing, the log and the JSON
// document go, the library folder, host options, the step counter), and the
// step lifecycle through which each component resets and frees its per-step
// state.  Components register their hooks once, at static-initialisation
// time, with a StepHooks object.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace velix::platform {

struct Session {
    std::ostream* listing = nullptr;  // the listing (stdout by default)
    std::ostream* log = nullptr;      // the log (stderr by default)
    std::string libraryDir = ".";     // where data set `name` is `name.csv`
    std::map<std::string, std::string> options;  // host options by upper-case name
    double fixedTime = -1.0;          // when >= 0, wzdttme returns it (tests)
    int stepNumber = 0;               // 1-based number of the current step
    std::string stepSource;           // text of the current PROC VELIX step
    int stepSourceLine = 1;           // line of the program file where it starts
    std::string programPath;          // the program file (for messages)
    std::vector<std::string> titles = std::vector<std::string>(10);  // TITLE1..TITLE10 texts
    int errorLines = 0;               // "ERROR:" lines the log took in the current step
};

// Why `value` cannot be given to the host option `name` (a name that is
// no option, a number out of its range): a text that names both; "" when
// it can.
std::string option_fault(const std::string& name, const std::string& value);

// The one session of the process.
Session& session();

// Lifecycle hooks of a platform component.  begin runs before the module's
// step entry is called, end after the step has exited (normally or not),
// and must free everything the component holds for the step.
struct StepHooks {
    StepHooks(const char* name, std::function<void()> begin, std::function<void()> end);
};

// Called by the step runner.
void begin_step();
void end_step();

}  // namespace velix::platform
