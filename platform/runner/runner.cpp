// The step runner.  The module is loaded once (mcn_main with the host
// control block); each PROC VELIX step then runs as one call of zavvelix,
// which always ends by throwing the step exit that xexit raises.  Between
// steps every platform component frees what it held for the step.
#include "platform/runner/runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>

#include "platform/control_block.h"
#include "platform/dataset.h"
#include "platform/output.h"
#include "platform/print.h"
#include "platform/runner/program.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace velix::platform {
namespace {


bool module_loaded = false;

void load_module() {
    if (module_loaded) return;
    mcn_main(control_block(), nullptr);
    module_loaded = true;
}

void log_line(const std::string& text) {
    std::ostream* log = session().log;
    if (log) *log << text << '\n';
}

// The worse of two return codes.  A negative code is a host status that
// ended the step; it is worse than any positive level.
int worse(int a, int b) {
    if (a < 0 || b < 0) return std::min(a, b);
    return std::max(a, b);
}

// The return code and the log tell one story: a step that logged an
// ERROR line did not succeed, and a failed step says so with an ERROR line
// (the specific one normally comes from where the failure was found; this
// one stands in when none did).
int agree_with_log(int rc, int errorLines) {
    if (rc >= 0 && rc <= kLevelWarning && errorLines > 0) return kLevelErrorLogged;
    if (rc > kLevelWarning && errorLines == 0)
        write_log("ERROR: The PROC VELIX step failed with return code " + std::to_string(rc) + ".");
    return rc;
}

int run_step(const ProgramItem& item) {
    Session& s = session();
    ++s.stepNumber;
    s.errorLines = 0;
    s.stepSource = item.text;
    s.stepSourceLine = item.line;
    begin_step();
    output_begin_step(s.stepNumber);
    int rc = kLevelInternal;
    try {
        zavvelix();
        write_log("ERROR: internal error: the procedure step returned without an exit code.");
    } catch (const StepExit& e) {
        rc = e.code;
    } catch (const std::bad_alloc&) {
        write_log("ERROR: The step ran out of memory.");
        rc = kLevelNoMemory;
    } catch (const std::exception& e) {
        write_log(std::string("ERROR: internal error: ") + e.what());
        rc = kLevelInternal;
    }
    if (!dataset_commit_outputs(rc)) rc = worse(rc, kLevelHostFailure);
    rc = agree_with_log(rc, s.errorLines);
    end_step();
    output_end_step(rc);
    if (rc > kLevelWarning)
        log_line("NOTE: The PROC VELIX step ended with return code " + std::to_string(rc) + ".");
    return rc;
}

// True while the log and the listing take what is written to them.  They
// are flushed first: a full disk shows only when the buffer is written.
bool outputs_writable() {
    Session& s = session();
    bool ok = true;
    for (std::ostream* out : {s.listing, s.log}) {
        if (out == nullptr) continue;
        out->flush();
        ok = ok && out->good();
    }
    return ok;
}

int run_items(const std::vector<ProgramItem>& items, std::vector<int>* codes) {
    int highest = 0;
    for (const ProgramItem& item : items) {
        // Steps whose listing or log is lost would pass for success.
        if (!outputs_writable()) {
            std::cerr << "velix: the log or the listing cannot be written (" << std::strerror(errno)
                      << "); the run stops.\n";
            return worse(highest, kLevelHostFailure);
        }
        switch (item.kind) {
            case ProgramItem::kStep: {
                int rc = run_step(item);
                if (codes) codes->push_back(rc);
                highest = worse(highest, rc);
                break;
            }
            case ProgramItem::kOptions:
                for (const auto& [name, value] : item.options) session().options[name] = value;
                break;
            case ProgramItem::kTitle: {
                auto& titles = session().titles;
                titles[item.titleLine - 1] = item.text;
                // A title line clears the lines below it.
                for (size_t k = item.titleLine; k < titles.size(); ++k) titles[k].clear();
                break;
            }
            case ProgramItem::kOtherProc:
                log_line("WARNING: line " + std::to_string(item.line) + ": " + item.text);
                highest = worse(highest, kLevelWarning);
                break;
            case ProgramItem::kError:
                log_line("ERROR: line " + std::to_string(item.line) + ": " + item.text);
                highest = worse(highest, kLevelInputError);
                break;
        }
    }
    if (!outputs_writable()) {
        std::cerr << "velix: the log or the listing cannot be written (" << std::strerror(errno) << ").\n";
        highest = worse(highest, kLevelHostFailure);
    }
    return highest;
}

}  // namespace

int exit_status_for(int highestReturnCode) {
    if (highestReturnCode < 0) return 2;
    if (highestReturnCode <= kLevelWarning) return 0;
    if (highestReturnCode <= kLevelStepEnds) return 1;
    return 2;
}

int run_program_text(const std::string& text, std::vector<int>* codes) {
    load_module();
    return run_items(split_program(text), codes);
}

int run_program(const RunOptions& opts) {
    std::ifstream in(opts.programPath, std::ios::binary);
    std::error_code ec;
    // A folder opens as a stream on some systems but holds no program.
    if (!in || std::filesystem::is_directory(opts.programPath, ec)) {
        std::cerr << "velix: cannot read the program file '" << opts.programPath << "'\n";
        return kExitUnreadableProgram;
    }
    std::stringstream buf;
    buf << in.rdbuf();

    Session& s = session();
    std::ofstream logFile, listingFile;
    if (!opts.logPath.empty()) {
        logFile.open(opts.logPath);
        if (!logFile) {
            std::cerr << "velix: cannot write the log file '" << opts.logPath << "'\n";
            return kExitUnreadableProgram;
        }
        s.log = &logFile;
    }
    if (!opts.listingPath.empty()) {
        listingFile.open(opts.listingPath);
        if (!listingFile) {
            std::cerr << "velix: cannot write the listing file '" << opts.listingPath << "'\n";
            return kExitUnreadableProgram;
        }
        s.listing = &listingFile;
    }
    s.programPath = opts.programPath;
    if (!opts.libraryDir.empty()) {
        s.libraryDir = opts.libraryDir;
    } else {
        auto parent = std::filesystem::path(opts.programPath).parent_path();
        s.libraryDir = parent.empty() ? "." : parent.string();
    }
    for (const auto& [name, value] : opts.options) {
        std::string upper = name;
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        s.options[upper] = value;
    }
    s.fixedTime = opts.fixedTime;

    if (in.bad()) {
        std::cerr << "velix: cannot read the program file '" << opts.programPath << "'\n";
        return kExitUnreadableProgram;
    }
    int highest = run_program_text(buf.str(), nullptr);

    if (!opts.jsonPath.empty()) {
        std::ofstream json(opts.jsonPath);
        json << output_json();
        if (!json) {
            std::cerr << "velix: cannot write the JSON file '" << opts.jsonPath << "'\n";
            highest = worse(highest, kLevelInputError);
        }
    }
    if (s.listing) s.listing->flush();
    if (s.log) s.log->flush();
    s.log = &std::cerr;
    s.listing = &std::cout;
    return exit_status_for(highest);
}

}  // namespace velix::platform
