// velix: runs a program file of PROC VELIX steps.
//
//   velix [--json FILE] [--lib DIR] [--log FILE] [--listing FILE]
//         [--option NAME=VALUE]... [--fixed-time SECONDS] PROGRAM
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/runner/runner.h"
#include "platform/session.h"
#include "platform/stop_signals.h"

namespace {

// A file or folder named by the empty text names none: a usage error,
// not a run whose output goes nowhere.
const char* file_value(const char* flag, const char* v) {
    if (v != nullptr && *v == '\0') {
        std::fprintf(stderr, "velix: %s needs a file name, not an empty one\n", flag);
        return nullptr;
    }
    return v;
}

// The seconds of --fixed-time: a number, not before the epoch; false
// after saying why on standard error.
bool fixed_time(const char* v, double* seconds) {
    char* end = nullptr;
    *seconds = std::strtod(v, &end);
    if (end != v && *end == '\0' && *seconds >= 0.0 && std::isfinite(*seconds)) return true;
    std::fprintf(stderr, "velix: --fixed-time takes the seconds since 1970-01-01 00:00 UTC, not '%s'\n", v);
    return false;
}

void usage() {
    std::fprintf(stderr,
                 "usage: velix [--json FILE] [--lib DIR] [--log FILE] [--listing FILE]\n"
                 "             [--option NAME=VALUE]... [--fixed-time SECONDS] PROGRAM\n");
}

// First of all, before the static initialisation of the command's own
// code (priority 101 is the earliest a program may take): a stop signal
// that comes before the log is opened (while the program file is read,
// from a pipe say) then ends the wait for the program and is said in this
// run's log, rather than ending the run by its default action with the
// previous run's log left as if it were this one's.  Only the loading of
// the command's shared libraries comes before it.
__attribute__((constructor(101))) void stop_handlers_first() { velix::platform::install_stop_handlers(); }

}  // namespace

int main(int argc, char** argv) {
    velix::platform::RunOptions opts;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* flag) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velix: %s needs a value\n", flag);
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        if (a == "--json") {
            if (!(v = file_value("--json", value("--json")))) return 3;
            opts.jsonPath = v;
        } else if (a == "--lib") {
            if (!(v = file_value("--lib", value("--lib")))) return 3;
            opts.libraryDir = v;
        } else if (a == "--log") {
            if (!(v = file_value("--log", value("--log")))) return 3;
            opts.logPath = v;
        } else if (a == "--listing") {
            if (!(v = file_value("--listing", value("--listing")))) return 3;
            opts.listingPath = v;
        } else if (a == "--option") {
            if (!(v = value("--option"))) return 3;
            const char* eq = std::strchr(v, '=');
            if (eq == nullptr) {
                std::fprintf(stderr, "velix: --option takes NAME=VALUE, not '%s'\n", v);
                return 3;
            }
            const std::string name(v, eq);
            if (const std::string fault = velix::platform::option_fault(name, eq + 1); !fault.empty()) {
                std::fprintf(stderr, "velix: --option %s: %s\n", v, fault.c_str());
                return 3;
            }
            opts.options.emplace_back(name, std::string(eq + 1));
        } else if (a == "--fixed-time") {
            if (!(v = value("--fixed-time")) || !fixed_time(v, &opts.fixedTime)) return 3;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "velix: unknown option '%s'\n", a.c_str());
            usage();
            return 3;
        } else if (opts.programPath.empty()) {
            if (!file_value("the program", a.c_str())) return 3;
            opts.programPath = a;
        } else {
            std::fprintf(stderr, "velix: only one program file may be given\n");
            return 3;
        }
    }
    if (opts.programPath.empty()) {
        usage();
        return 3;
    }
    return velix::platform::run_program(opts);
}
