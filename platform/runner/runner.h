// The step runner: loads the module once and runs every PROC VELIX step of
// a program file, each ending through the module's exit with a return code.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velix::platform {

struct RunOptions {
    std::string programPath;   // the program file
    std::string jsonPath;      // --json FILE: every delivered table as JSON
    std::string libraryDir;    // --lib DIR: data sets; default the program's folder (the working folder
                               // for a program that is not a file)
    std::string logPath;       // --log FILE: the log (default stderr)
    std::string listingPath;   // --listing FILE: the listing (default stdout)
    std::vector<std::pair<std::string, std::string>> options;  // --option NAME=VALUE
    double fixedTime = -1.0;   // --fixed-time SECONDS: the host clock for tests
};

// The process exit status for the highest step return code: 0 for 0-4,
// 1 for 5-999, 2 for 1000 and more, and 2 for a negative code (a host
// status that ended the step, worse than any level).
int exit_status_for(int highestReturnCode);

// Exit status when the program file cannot be read.
constexpr int kExitUnreadableProgram = 3;

// Runs a program file; returns the process exit status: that of the run's
// return code (exit_status_for; a log, listing or JSON file that cannot be
// opened, or that is a file the run reads or writes in another role,
// gives 2 before any step runs), or kExitUnreadableProgram.  A run
// stopped by SIGINT, SIGTERM or SIGHUP ends the process by that signal once
// its files are in order, and does not return.  The caller installs the
// stop handlers first (install_stop_handlers), before anything that a
// stop should not end unannounced.
int run_program(const RunOptions& options);

// Runs program text (for tests); returns the highest step return code and
// fills `codes` with each step's code.
int run_program_text(const std::string& text, std::vector<int>* codes);

}  // namespace velix::platform
