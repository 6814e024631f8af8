// velix: runs a program file of PROC VELIX steps.
//
//   velix [--json FILE] [--lib DIR] [--log FILE] [--listing FILE]
//         [--option NAME=VALUE]... [--fixed-time SECONDS] PROGRAM
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/runner/runner.h"
#include "platform/stop_signals.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: velix [--json FILE] [--lib DIR] [--log FILE] [--listing FILE]\n"
                 "             [--option NAME=VALUE]... [--fixed-time SECONDS] PROGRAM\n");
}

}  // namespace

int main(int argc, char** argv) {
    // First of all: a stop signal that comes before the log is opened
    // (while the program file is read, from a pipe say) is then noted and
    // said in this run's log, rather than ending the run by its default
    // action with the previous run's log left as if it were this one's.
    velix::platform::install_stop_handlers();
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
            if (!(v = value("--json"))) return 3;
            opts.jsonPath = v;
        } else if (a == "--lib") {
            if (!(v = value("--lib"))) return 3;
            opts.libraryDir = v;
        } else if (a == "--log") {
            if (!(v = value("--log"))) return 3;
            opts.logPath = v;
        } else if (a == "--listing") {
            if (!(v = value("--listing"))) return 3;
            opts.listingPath = v;
        } else if (a == "--option") {
            if (!(v = value("--option"))) return 3;
            const char* eq = std::strchr(v, '=');
            if (eq == nullptr) {
                std::fprintf(stderr, "velix: --option takes NAME=VALUE, not '%s'\n", v);
                return 3;
            }
            opts.options.emplace_back(std::string(v, eq), std::string(eq + 1));
        } else if (a == "--fixed-time") {
            if (!(v = value("--fixed-time"))) return 3;
            opts.fixedTime = std::strtod(v, nullptr);
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "velix: unknown option '%s'\n", a.c_str());
            usage();
            return 3;
        } else if (opts.programPath.empty()) {
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
