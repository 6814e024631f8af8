// The step runner.  The module is loaded once (mcn_main with the host
// control block); each PROC VELIX step then runs as one call of zavvelix,
// which always ends by throwing the step exit that xexit raises.  Between
// steps every platform component frees what it held for the step.
//
// The run stops early when its listing or log can no longer be written or
// when a stop signal came (each said once, in one line): the step that
// was running then writes no output data set, and the listing and JSON
// files, written to scratch files, do not replace the earlier ones.
#include "platform/runner/runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <sstream>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/control_block.h"
#include "platform/dataset.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "platform/output_document.h"
#include "platform/output_file.h"
#include "platform/print.h"
#include "platform/runner/file_roles.h"
#include "platform/runner/program.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "platform/stop_signals.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

namespace velix::platform {
namespace {

bool module_loaded = false;

void load_module() {
    if (module_loaded) return;
    mcn_main(control_block(), nullptr);
    module_loaded = true;
}

// What the run knows of its own course: whether it has said that it
// stops, and where its listing and log go (for the reason a write failed).
struct RunState {
    bool stopReported = false;
    bool lossReported = false;
    const OutputFile* listingFile = nullptr;     // --listing FILE, else null
    const ReasonFileBuf* logFile = nullptr;      // --log FILE, else null
    std::string listingName = "standard output";
    std::string logName = "standard error";
};

RunState run_state;

// A line of the log alone (log_run_line also makes it a message of the
// JSON document).
void log_line(const std::string& text) {
    std::ostream* log = session().log;
    if (log) *log << text << '\n' << std::flush;
}

// A line the run logs for itself, outside any step: in the log and among
// the run's own messages of the JSON document.  Inside a step the step's
// record takes it.
void log_run_line(const std::string& text, bool inStep) {
    if (inStep) {
        write_log(text);
        return;
    }
    log_line(text);
    output_program_message(text);
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
        write_log(format_message(kMsgHost, kMsgHostStepFailed, rc));
    return rc;
}

// The one ERROR line of a stop the user asked for.
void report_stop(bool inStep) {
    if (run_state.stopReported) return;
    run_state.stopReported = true;
    log_run_line(format_message(kMsgHost, kMsgHostRunStopped, stop_signal_name(stop_signal())), inStep);
}

// Which of the listing and the log no longer takes what is written to it
// ("listing", "log"), nullptr when both do.  They are flushed first: a full
// disk shows only when the buffer is written.  A flush that a stop cut
// short (the wait for room in a pipe) loses nothing the stop does not
// explain: the stop is what the run says.
const char* lost_output() {
    Session& s = session();
    const char* lost = nullptr;
    if (s.listing != nullptr && !s.listing->flush().good())
        lost = "listing";
    else if (s.log != nullptr && !s.log->flush().good())
        lost = "log";
    return stop_signal() == 0 ? lost : nullptr;
}

// Whether the log file no longer takes lines (standard error is not a log
// file: where it fails, nothing is left to say so).
bool log_file_lost() {
    std::ostream* log = session().log;
    return run_state.logFile != nullptr && log != nullptr && !log->flush().good();
}

// Reports a lost listing or log once, where it still reaches the user: a
// lost listing in the log, a lost log (also one lost while it said that
// the listing was) on standard error.
void report_loss(const char* which, bool inStep) {
    if (run_state.lossReported) return;
    run_state.lossReported = true;
    if (std::strcmp(which, "listing") == 0) {
        const char* name = run_state.listingName.c_str();
        const std::string line =
            run_state.listingFile != nullptr
                ? format_message(kMsgHost, kMsgHostListingLostWhy, name, run_state.listingFile->failure().c_str())
                : format_message(kMsgHost, kMsgHostListingLost, name);
        if (!log_file_lost()) {
            log_run_line(line, inStep);
            if (!log_file_lost()) return;
        }
        std::cerr << line << '\n';
    }
    std::string reason;
    if (run_state.logFile != nullptr && run_state.logFile->failure != 0)
        reason = std::string(" (") + std::strerror(run_state.logFile->failure) + ")";
    std::cerr << "velix: the log cannot be written to " << run_state.logName << reason << "; the run stops.\n";
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
        write_log(format_message(kMsgHost, kMsgHostInternalError, "the procedure step returned without an exit code."));
    } catch (const StepExit& e) {
        rc = e.code;
    } catch (const std::bad_alloc&) {
        write_log(format_message(kMsgHost, kMsgHostStepOutOfMemory));
        rc = kLevelNoMemory;
    } catch (const std::exception& e) {
        write_log(format_message(kMsgHost, kMsgHostInternalError, e.what()));
        rc = kLevelInternal;
    }
    // What follows is said of the whole step, not of the group it ended in.
    output_leave_by_group();
    // The output data sets follow the step only when it ran to its end
    // with its listing and log whole and no stop was asked for.
    const char* lost = stop_signal() == 0 ? lost_output() : nullptr;
    if (stop_signal() != 0) {
        report_stop(true);
        rc = worse(rc, kLevelInterrupted);
    } else if (lost != nullptr) {
        report_loss(lost, true);
        rc = worse(rc, kLevelHostFailure);
    }
    if (!dataset_commit_outputs(rc)) rc = worse(rc, kLevelHostFailure);
    if (stop_signal() != 0) {
        report_stop(true);
        rc = worse(rc, kLevelInterrupted);
    }
    rc = agree_with_log(rc, s.errorLines);
    // The step's last line, a message of its record like every other.
    if (rc > kLevelWarning) write_log(format_message(kMsgHost, kMsgHostStepEnded, rc));
    end_step();
    output_end_step(rc);
    return rc;
}

// True when the run must stop before its next item: a stop was asked for,
// or the listing or the log lost what was written to them (steps whose
// output is lost would pass for success).  Says so once and raises
// *highest.
bool run_stops(int* highest) {
    const char* lost = stop_signal() == 0 ? lost_output() : nullptr;
    if (stop_signal() != 0) {
        report_stop(false);
        *highest = worse(*highest, kLevelInterrupted);
        return true;
    }
    if (lost != nullptr) {
        report_loss(lost, false);
        *highest = worse(*highest, kLevelHostFailure);
        return true;
    }
    return false;
}

// Sets the host options of an OPTIONS statement; one that is not an
// option, or whose value it cannot take, is a WARNING that names it, and
// is ignored.
void set_options(const ProgramItem& item, int* highest) {
    for (const auto& [name, value] : item.options) {
        const std::string fault = option_fault(name, value);
        if (fault.empty()) {
            session().options[name] = value;
            continue;
        }
        const std::string why = format_message(kMsgHost, kMsgHostOptionIgnored, fault.c_str());
        log_run_line(format_message(kMsgHost, kMsgHostWarningOutsideStep, item.line, why.c_str()), false);
        *highest = worse(*highest, kLevelWarning);
    }
}

int run_items(const std::vector<ProgramItem>& items, std::vector<int>* codes) {
    int highest = 0;
    for (const ProgramItem& item : items) {
        if (run_stops(&highest)) return highest;
        switch (item.kind) {
            case ProgramItem::kStep: {
                int rc = run_step(item);
                if (codes) codes->push_back(rc);
                highest = worse(highest, rc);
                break;
            }
            case ProgramItem::kOptions:
                set_options(item, &highest);
                break;
            case ProgramItem::kTitle: {
                auto& titles = session().titles;
                titles[item.titleLine - 1] = item.text;
                // A title line clears the lines below it.
                for (size_t k = item.titleLine; k < titles.size(); ++k) titles[k].clear();
                break;
            }
            case ProgramItem::kError:
                log_run_line(format_message(kMsgHost, kMsgHostErrorOutsideStep, item.line, item.text.c_str()), false);
                highest = worse(highest, kLevelInputError);
                break;
        }
    }
    run_stops(&highest);
    return highest;
}

// Whether a file written in place (a pipe) failed because a stop ended
// the wait for its reader: the stop is then what the run says (once), not
// the file.  Raises *highest.
bool stopped_while_written(int* highest) {
    if (stop_signal() == 0) return false;
    report_stop(false);
    *highest = worse(*highest, kLevelInterrupted);
    return true;
}

// The end of a run with a listing file or a JSON document: each replaces
// the earlier file only when the run went to its end (a failed step does)
// and it was written whole; otherwise the earlier file stays and the log
// says so.  The JSON document carries the run's return code, so it is
// written last.  A stop asked for once the renames have begun is too late
// to undo them and is not honoured.  Returns the run's return code.
int finish_outputs(int highest, OutputFile* listing, OutputFile* json) {
    std::string error;
    const bool ended = !run_state.stopReported && !run_state.lossReported;
    if (ended && stop_signal() != 0) {
        report_stop(false);
        highest = worse(highest, kLevelInterrupted);
    }
    if (run_state.stopReported || run_state.lossReported) {
        for (OutputFile* file : {listing, json}) {
            if (file->target().empty()) continue;
            file->discard();
            log_run_line(format_message(kMsgHost, file == listing ? kMsgHostListingKept : kMsgHostJsonKept,
                                        file->target().c_str()),
                         false);
        }
        return highest;
    }
    if (!listing->target().empty() && !listing->commit(&error) && !stopped_while_written(&highest)) {
        log_run_line(
            format_message(kMsgHost, kMsgHostListingNotWritten, listing->target().c_str(), error.c_str()), false);
        highest = worse(highest, kLevelHostFailure);
    }
    if (!json->target().empty() && !run_state.stopReported) {
        output_end_run(highest);
        output_write_json(&json->stream());
        if (!json->commit(&error) && !stopped_while_written(&highest)) {
            log_run_line(format_message(kMsgHost, kMsgHostJsonNotWritten, json->target().c_str(), error.c_str()),
                         false);
            highest = worse(highest, kLevelHostFailure);
        }
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
    run_state.stopReported = false;
    run_state.lossReported = false;
    return run_items(split_program(text), codes);
}

namespace {

// The command's files for one run: the log, written in place as the run
// goes (a stream the user may follow), the listing and the JSON document,
// each written whole or not at all.  Hands the session back its standard
// streams when the run ends, however it ends.
struct CommandFiles {
    ReasonFileBuf logBuf;
    std::ostream log{&logBuf};
    OutputFile listing;
    OutputFile json;
    // Standard output and error where they are pipes: written only where
    // the pipe has room, so that a reader that does not read holds the
    // run only until a stop comes.
    ReasonFileBuf standardOutBuf;
    std::ostream standardOut{&standardOutBuf};
    ReasonFileBuf standardErrorBuf;
    std::ostream standardError{&standardErrorBuf};

    ~CommandFiles() {
        Session& s = session();
        s.log = &std::cerr;
        s.listing = &std::cout;
        run_state = RunState();
        output_keep_json();
    }

    // Opens the files the options name; false after saying on standard
    // error which one cannot be opened.
    bool open(const RunOptions& opts) {
        Session& s = session();
        std::string error;
        if (opts.listingPath.empty() && take_if_pipe(STDOUT_FILENO, &standardOutBuf)) s.listing = &standardOut;
        if (opts.logPath.empty() && take_if_pipe(STDERR_FILENO, &standardErrorBuf)) s.log = &standardError;
        if (!opts.logPath.empty()) {
            errno = 0;
            if (!logBuf.open_in_place(opts.logPath))
                return cannot_open("log", opts.logPath, std::strerror(errno != 0 ? errno : EIO));
            s.log = &log;
            run_state.logFile = &logBuf;
            run_state.logName = opts.logPath;
        }
        if (!opts.listingPath.empty()) {
            if (!listing.open(opts.listingPath, "listing", &error))
                return cannot_open("listing", opts.listingPath, error);
            s.listing = &listing.stream();
            run_state.listingFile = &listing;
            run_state.listingName = opts.listingPath;
        }
        if (!opts.jsonPath.empty() && !json.open(opts.jsonPath, "json", &error))
            return cannot_open("JSON", opts.jsonPath, error);
        // Each step's record goes to the document's scratch file as the
        // step ends (none is kept without a document).
        output_stream_json(opts.jsonPath.empty() ? nullptr : &json.stream(), json.folder());
        return true;
    }

    // Says which file cannot be opened, unless a stop ended the wait for it.
    static bool cannot_open(const char* what, const std::string& path, const std::string& why) {
        if (stop_signal() == 0)
            std::cerr << "velix: the " << what << " file '" << path << "' cannot be opened: " << why << "\n";
        return false;
    }

    // Writes the listing (fd 1) or the log (fd 2) that no option names
    // through a stream of its own where it is a pipe.
    static bool take_if_pipe(int fd, ReasonFileBuf* buf) {
        struct stat st;
        return ::fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) && buf->open_copy_of(fd);
    }
};

// Whether the folder `folder` is /dev or /proc or lies below them: a
// folder of devices or of a process's open files, never one of data.
bool system_folder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(folder, ec);
    if (ec) real = std::filesystem::absolute(folder, ec).lexically_normal();
    const std::string text = real.string();
    for (const std::string top : {"/dev", "/proc"})
        if (text == top || text.rfind(top + "/", 0) == 0) return true;
    return false;
}

// The folder of the data sets named without quotes: --lib, else the
// program file's folder.  A program that is not a file (`velix <(...)`,
// a named pipe) or is one of the command's open files (/dev/stdin,
// /dev/fd/0, /proc/self/fd/0, whatever file the shell gave it) has no
// folder of its own, only one of devices: the working folder is its
// library.  A program named through a symbolic link to a file takes the
// link's folder.
std::string library_folder(const RunOptions& opts) {
    if (!opts.libraryDir.empty()) return opts.libraryDir;
    const auto parent = std::filesystem::path(opts.programPath).parent_path();
    const std::filesystem::path folder = parent.empty() ? "." : parent;
    if (system_folder(folder) || output_place(opts.programPath).kind != OutputPlace::kFile) return ".";
    return folder.string();
}

// Every file of the run in its role: the command's own (the listing and
// the log that no option names on standard output and error, where the
// shell may have put them in a file: `> ost.csv`), the program file and
// the data sets of its steps.
std::vector<FileRole> run_file_roles(const RunOptions& opts, const std::string& program) {
    std::vector<FileRole> roles = step_data_set_roles(split_program(program));
    for (const auto& [flag, path] : {std::pair<const char*, const std::string*>{"--log", &opts.logPath},
                                     {"--listing", &opts.listingPath},
                                     {"--json", &opts.jsonPath}})
        if (!path->empty())
            roles.push_back({FileRole::kCommandOutput, *path,
                             format_message(kMsgHost, kMsgHostCommandFileRole, flag, path->c_str())});
    for (const auto& [what, path, stream, fd] :
         {std::tuple<const char*, const std::string*, const char*, int>{"listing", &opts.listingPath, "standard output",
                                                                        STDOUT_FILENO},
          {"log", &opts.logPath, "standard error", STDERR_FILENO}})
        if (path->empty())
            roles.push_back({FileRole::kCommandOutput, "", format_message(kMsgHost, kMsgHostStandardStreamRole, what, stream),
                             fd});
    roles.push_back({FileRole::kProgram, opts.programPath,
                     format_message(kMsgHost, kMsgHostProgramFileRole, opts.programPath.c_str())});
    return roles;
}

}  // namespace

namespace {

int unreadable_program(const std::string& path, int error) {
    std::cerr << "velix: cannot read the program file '" << path << "': " << std::strerror(error) << "\n";
    return kExitUnreadableProgram;
}

}  // namespace

int run_program(const RunOptions& opts) {
    std::string program;
    int error = 0;
    const ProgramRead read = read_program_file(opts.programPath, &program, &error);
    if (read == ProgramRead::kUnreadable) return unreadable_program(opts.programPath, error);
    int highest = 0;
    // A stop that ended the wait for the program: no step of it runs, and
    // the run ends as at any stop, said in this run's log.
    bool stopped = read == ProgramRead::kStopped;
    {
        Session& s = session();
        s.programPath = opts.programPath;
        s.libraryDir = library_folder(opts);
        // Before anything is opened for writing: a file the command writes
        // must not be one the run reads or writes in another role.
        if (const std::string clash = file_role_clash(run_file_roles(opts, program)); !clash.empty()) {
            std::cerr << clash << '\n';
            return exit_status_for(kLevelHostFailure);
        }
        CommandFiles files;
        if (!files.open(opts) || stopped) {
            // A stop that ended the wait for a pipe's reader (or for the
            // program) ends the run as any stop does, with the earlier
            // files untouched.
            if (stop_signal() == 0) return exit_status_for(kLevelHostFailure);
            report_stop(false);
            files.listing.discard();
            files.json.discard();
            stopped = true;
        }
        for (const auto& [name, value] : opts.options) {
            std::string upper = name;
            for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            s.options[upper] = value;
        }
        s.fixedTime = opts.fixedTime;

        if (!stopped) {
            highest = run_program_text(program, nullptr);
            highest = finish_outputs(highest, &files.listing, &files.json);
            stopped = run_state.stopReported;
        }
        std::cout.flush();
    }
    // An interrupted command ends by its signal once its files are in
    // order, so that a shell script that runs it stops too.
    if (stopped) end_by_stop_signal();
    return exit_status_for(highest);
}

}  // namespace velix::platform
