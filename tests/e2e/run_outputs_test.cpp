// The command's outputs when a run cannot end normally: a file-size limit,
// a stop signal in the middle of a fit, while the output data sets are
// written or while a pipe (DATA=, the program) is waited for, an output
// that would replace the step's data or cannot replace its file, a
// listing whose reader went away, a document written in place that cannot
// be completed, an output path that cannot be opened, errors outside any
// step and a step whose only fault is one ERROR line; outputs named
// through symbolic links; and two runs at once that write the same
// outputs, or wait for each other, or find a folder they cannot lock.  Earlier files must stay
// byte for byte as they were, no scratch file may be left, the log must
// say what happened in one ERROR line, and the exit status must be the
// documented one (and agree with the run's return code in the JSON
// document).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "harness.h"
#include "platform/runner/runner.h"
#include "velix/codes.h"

using velix::test::read_text;
using velix::test::start_velix;
using velix::test::wait_within;

namespace {

namespace fs = std::filesystem;

const char* kOld = "an earlier file\n";
const char* kOneFactor =
    "proc velix data=hs method=ml outest=est1;\n"
    "   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
    "   std F1 = vf, E1-E3 = ve1-ve3;\n"
    "run;\n";
// From start values far from the estimates, DBLDOG needs hundreds of
// iterations, each printing its piece of the history (PALL).
const char* kLongFit =
    "proc velix data=hs method=ml technique=dbldog outest=est2 outstat=stat2;\n"
    "   lineqs x1 = 1.0 F1 + E1, x2 = l2 (30) F1 + E2, x3 = l3 (-20) F1 + E3,\n"
    "          x4 = l4 (40) F1 + E4;\n"
    "   std F1 = vf (0.01), E1-E4 = ve1-ve4;\n"
    "   nloptions pall maxiter=100000 maxfunc=100000;\n"
    "run;\n";

// Its listing (1.3 MB, with the JSON items) and its log (12.7 KB) grow with
// its 43 BY groups, each of which logs lines.
const char* kByPupils =
    "proc velix data=hs7 method=ml pall;\nby g;\nvar x1-x3;\n"
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";

// A folder with the hs data, a program and earlier versions of the named
// output files.
class RunOutputs : public ::testing::Test {
protected:
    void TearDown() override { remove_folder(); }
    void remove_folder() {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    void prepare(const std::string& name, const std::string& program, const std::vector<std::string>& earlier) {
        remove_folder();
        dir_ = velix::test::own_folder("run_outputs_" + name);
        fs::copy_file(velix::test::data_path("hs.csv"), dir_ + "/hs.csv", fs::copy_options::overwrite_existing);
        std::ofstream(dir_ + "/program.vx") << program;
        for (const auto& f : earlier) std::ofstream(dir_ + "/" + f) << kOld;
    }
    // Prepares the folder for a run of kByPupils: hs7, the hs data in 43
    // BY groups of seven pupils.
    void prepare_by_pupils(const std::string& name, const std::vector<std::string>& earlier) {
        prepare(name, kByPupils, earlier);
        velix::test::write_hs_by_pupils(at("hs7.csv"));
    }
    std::string at(const std::string& file) const { return dir_ + "/" + file; }
    std::vector<std::string> args(std::vector<std::string> more) const {
        more.insert(more.begin(), {"--fixed-time", "0", "--lib", dir_, "--log", at("log.txt")});
        more.push_back(at("program.vx"));
        return more;
    }
    // The ERROR lines of the log.
    std::vector<std::string> error_lines() const {
        std::vector<std::string> out;
        std::ifstream in(at("log.txt"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("ERROR:", 0) == 0) out.push_back(line);
        return out;
    }
    void expect_kept(const std::vector<std::string>& files, const std::string& why) const {
        for (const auto& f : files) EXPECT_EQ(read_text(at(f)), kOld) << f << " was changed by " << why;
        for (const auto& e : fs::directory_iterator(dir_))
            EXPECT_NE(e.path().filename().string().rfind(".velix-", 0), 0u) << "left behind: " << e.path();
    }

    std::string dir_;
};

int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

TEST_F(RunOutputs, AFileSizeLimitLeavesEarlierFilesWhole) {
    // 8 KB: less than the listing and the JSON document of the step, more
    // than its log and its OUTEST= data set.  A write past the limit used to
    // kill the command (SIGXFSZ) and leave cut files and scratch files.
    struct Case {
        const char* name;
        std::vector<std::string> options;  // of the command; a file name is one of the folder
        std::vector<std::string> kept;     // earlier files that must stay as they were
        const char* error;                 // how the one ERROR line begins
    };
    const Case cases[] = {
        {"listing", {"--listing", "out.lst", "--json", "out.json"}, {"out.lst", "out.json", "est1.csv"},
         "ERROR: The listing cannot be written to "},
        {"json", {"--json", "out.json"}, {"out.json"}, "ERROR: The JSON document was not written to "},
    };
    for (const Case& c : cases) {
        prepare(std::string("fsize_") + c.name, kOneFactor, c.kept);
        std::vector<std::string> options;
        for (const auto& o : c.options) options.push_back(o[0] == '-' ? o : at(o));
        const int status = wait_for(start_velix(args(options), {.fileSizeLimit = 8192}));
        ASSERT_TRUE(WIFEXITED(status)) << c.name << ": ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 2) << c.name;
        expect_kept(c.kept, c.name);
        const auto errors = error_lines();
        ASSERT_EQ(errors.size(), 1u) << c.name << "\n" << read_text(at("log.txt"));
        EXPECT_EQ(errors[0].rfind(c.error, 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find("File too large"), std::string::npos) << errors[0];
    }
}

TEST_F(RunOutputs, AFileSizeLimitOnTheItemsThatWaitForTheDocumentIsNamed) {
    // The step's items pass the megabyte that waits in memory and wait
    // beyond it in a file, which the limit stops while the document's own
    // file is still small.  The error gave an input/output error as the
    // reason.  A document written in place (a device) has no folder of its
    // own: its items wait in the system's temporary folder, which the error
    // names rather than blaming the device.
    const struct {
        std::string json;
        std::string reason;
    } cases[] = {{"out.json", "File too large"}, {"/dev/null", "File too large in the temporary folder /tmp"}};
    for (const auto& c : cases) {
        prepare_by_pupils("fsize_spill", {"out.json"});
        const std::string json = c.json[0] == '/' ? c.json : at(c.json);
        const int status = wait_for(start_velix(args({"--json", json, "--listing", "/dev/null"}), {.fileSizeLimit = 65536}));
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 2) << json;
        expect_kept({"out.json"}, "a limit on the waiting items");
        const auto errors = error_lines();
        ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
        EXPECT_EQ(errors[0], "ERROR: The JSON document was not written to " + json + " (" + c.reason + ").");
    }
}

TEST_F(RunOutputs, ADocumentWrittenInPlaceIsWholeOrNotBegun) {
    // --json through a link to the command's standard output, a file (as
    // after `>`), on a BY run whose items pass the megabyte that waits in
    // memory.  With no temporary folder for them (TMPDIR names none) the
    // run said that the document was not written, yet 880 KB of broken
    // JSON had reached the file by then.  Now nothing reaches it; with a
    // temporary folder the whole document does.
    for (const bool temporary : {false, true}) {
        prepare_by_pupils("json_in_place", {"out.json"});
        fs::create_symlink("/proc/self/fd/1", at("json"));
        const int out = ::open(at("out.json").c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(out, 0);
        const char* given = std::getenv("TMPDIR");
        const std::string before = given != nullptr ? given : "";
        ::setenv("TMPDIR", temporary ? dir_.c_str() : at("none").c_str(), 1);
        const pid_t pid = start_velix(args({"--listing", at("out.lst"), "--json", at("json")}), {.stdoutFd = out});
        if (given != nullptr)
            ::setenv("TMPDIR", before.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        ::close(out);
        const int status = wait_for(pid);
        ASSERT_TRUE(WIFEXITED(status)) << temporary << ": ended by signal " << WTERMSIG(status);
        const std::string json = read_text(at("out.json"));
        if (temporary) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << read_text(at("log.txt"));
            const auto doc = velix::test::JsonValue::parse(json);
            ASSERT_EQ(doc["steps"].size(), 1u) << json.size() << " bytes";
            EXPECT_EQ(velix::platform::exit_status_for(static_cast<int>(doc["returnCode"].number())), 0);
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), 2);
        EXPECT_EQ(json.size(), 0u) << "a broken document was begun: " << json.substr(0, 200);
        const auto errors = error_lines();
        ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
        EXPECT_EQ(errors[0], "ERROR: The JSON document was not written to " + at("json") +
                                 " (No such file or directory in the temporary folder " + at("none") + ").");
    }
}

TEST_F(RunOutputs, AListingAndALogBothLostAreReportedOnStandardError) {
    // Under a limit of 8 KB the log is lost before the listing's loss is
    // known; under 12710 bytes the log (12701 bytes) takes every line but
    // the one that says the listing is lost.  The loss of the listing was
    // written to the log that no longer took lines, so that nothing said
    // why the run failed.  Standard error goes into a pipe: the limit does
    // not reach it.
    const std::string lost = "ERROR: The listing cannot be written to ";
    for (const long limit : {8192L, 12710L}) {
        prepare_by_pupils("both_lost", {"out.lst", "out.json"});
        int err[2];
        ASSERT_EQ(::pipe(err), 0);
        const pid_t pid = start_velix(args({"--listing", at("out.lst"), "--json", at("out.json")}),
                                      {.stderrFd = err[1], .fileSizeLimit = limit});
        ::close(err[1]);
        std::string said;
        char buf[4096];
        for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<size_t>(n));
        ::close(err[0]);
        const int status = wait_for(pid);
        ASSERT_TRUE(WIFEXITED(status)) << limit << ": ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 2) << limit;
        expect_kept({"out.lst", "out.json"}, "a limit on the listing and the log");
        if (limit == 12710) {
            // The premise (it moves with the log's wording): the log was
            // cut inside the listing's line.
            const std::string log = read_text(at("log.txt"));
            const std::string cut = log.substr(log.rfind('\n') + 1);
            ASSERT_TRUE(!cut.empty() && lost.rfind(cut, 0) == 0) << "the log does not end inside the listing's line";
        }
        EXPECT_EQ(said, lost + at("out.lst") + " (File too large); the run stops.\nvelix: the log cannot be written to " +
                            at("log.txt") + " (File too large); the run stops.\n")
            << limit;
    }
}

TEST_F(RunOutputs, AKilledRunLeavesNoScratchFile) {
    // SIGKILL (or the out-of-memory killer) leaves the command no moment
    // to clean up: the scratch files of the listing and the document
    // stayed beside their targets (hundreds of megabytes after a long BY
    // run).  Unnamed, they go with the process.  The child's log is a FIFO
    // of one page that the test stops reading once the second BY group has
    // begun, so that the child is in the middle of its run when it is
    // killed.
    prepare_by_pupils("kill", {"out.lst", "out.json"});
    ASSERT_EQ(::mkfifo(at("log.txt").c_str(), 0600), 0);
    const int log = ::open(at("log.txt").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(log, 0);
    ::fcntl(log, F_SETPIPE_SZ, 4096);
    const pid_t pid = start_velix(args({"--listing", at("out.lst"), "--json", at("out.json")}));
    ASSERT_GT(pid, 0);
    std::string said;
    char buf[256];
    for (int waits = 0; said.find("BY group 2:") == std::string::npos && waits < 10000;) {
        pollfd p{log, POLLIN, 0};
        const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(log, buf, sizeof buf) : (++waits, -1);
        if (n > 0) said.append(buf, static_cast<size_t>(n));
    }
    ::kill(pid, SIGKILL);
    const int status = wait_for(pid);
    ::close(log);
    ASSERT_NE(said.find("BY group 2:"), std::string::npos) << said;
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed: " << WEXITSTATUS(status);
    expect_kept({"out.lst", "out.json"}, "SIGKILL");
}

TEST_F(RunOutputs, TheOutputsReplaceTheEarlierFilesWithOrWithoutUnnamedFiles) {
    // Where the file system makes no unnamed files, the scratch files are
    // named from the start; either way each output takes its target's
    // place whole and no scratch file stays.
    for (const bool unnamed : {true, false}) {
        prepare(unnamed ? "replace_unnamed" : "replace_named", kOneFactor, {"out.lst", "out.json", "est1.csv"});
        const int status =
            wait_for(start_velix(args({"--listing", at("out.lst"), "--json", at("out.json")}), {.noUnnamedFiles = !unnamed}));
        ASSERT_TRUE(WIFEXITED(status)) << unnamed;
        EXPECT_EQ(WEXITSTATUS(status), 0) << unnamed;
        EXPECT_NE(read_text(at("out.lst")).find("Optimization Results"), std::string::npos) << unnamed;
        ASSERT_NE(read_text(at("out.json")), kOld) << unnamed;
        EXPECT_EQ(velix::test::JsonValue::parse(read_text(at("out.json")))["returnCode"].number(), 0) << unnamed;
        EXPECT_EQ(read_text(at("est1.csv")).rfind("# TYPE=EST\n", 0), 0u) << unnamed;
        expect_kept({}, unnamed ? "a run with unnamed files" : "a run without unnamed files");
    }
}

TEST_F(RunOutputs, ADataSetThatCannotBeWrittenNamesItsFileAndTheReason) {
    // The errors named neither the system's reason nor, for a data set of
    // the library, its file.  A read-only folder; a file-size limit on the
    // data set's own file; and one on the rows that wait for it beyond a
    // megabyte.  Each with and without unnamed files (where the rows then
    // wait in a file of the data set's folder that is unlinked at once,
    // rather than in /tmp).
    struct Case {
        const char* name;
        int groups;  // of 10 observations each; about 230 bytes of OUTSTAT= a group
        long fileSizeLimit;
        const char* outstat;  // as the program names it, in the folder of the run
        const char* file;     // its file there
        const char* reason;
    };
    const Case cases[] = {
        {"ro", 10, 0, "\"ro/stat.csv\"", "ro/stat.csv", "Permission denied"},
        {"small", 100, 16384, "stat", "stat.csv", "File too large"},
        {"spilled", 6000, 65536, "stat", "stat.csv", "File too large"},
    };
    for (const Case& c : cases) {
        for (const bool unnamed : {true, false}) {
            const std::string what = std::string(c.name) + (unnamed ? "" : " without unnamed files");
            prepare(c.name, "", {});
            fs::create_directory(at("ro"));
            std::ofstream(at(c.file)) << kOld;
            fs::permissions(at("ro"), fs::perms::owner_read | fs::perms::owner_exec);
            std::ofstream data(at("g.csv"));
            data << "g,z1,z2,z3\n";
            for (int k = 0; k < 10 * c.groups; ++k)
                data << k / 10 << "," << k % 7 << "," << k % 5 << "," << (k % 11) * (k % 11) % 11 << "\n";
            data.close();
            const std::string outstat = c.outstat[0] == '"' ? "\"" + at(c.file) + "\"" : c.outstat;
            std::ofstream(at("program.vx")) << "proc velix data=g method=none covariance outstat=" << outstat
                                            << ";\nby g;\nfactor n=1;\nrun;\n";
            const int status = wait_for(start_velix(
                args({"--listing", "/dev/null"}),
                {.fileSizeLimit = c.fileSizeLimit, .noUnnamedFiles = !unnamed, .obeyPermissions = true}));
            fs::permissions(at("ro"), fs::perms::owner_all);
            ASSERT_TRUE(WIFEXITED(status)) << what;
            EXPECT_EQ(WEXITSTATUS(status), 2) << what;
            expect_kept({c.file}, what);
            const auto errors = error_lines();
            ASSERT_EQ(errors.size(), 1u) << what << "\n" << read_text(at("log.txt"));
            const std::string name = c.outstat[0] == '"' ? at(c.file) : c.outstat;
            EXPECT_EQ(errors[0], "ERROR: Output data set " + name + " cannot be written to " + at(c.file) + " (" +
                                     c.reason + ").")
                << what;
        }
    }
}

TEST_F(RunOutputs, AStopSignalDuringAFitKeepsTheStepsEarlierOutputs) {
    // The first step ends and replaces est1; the signal comes while the
    // second step's fit prints its history.  The child cannot get far past
    // the point where the test reads the second history piece: its listing
    // goes into a pipe of one page that the test stops reading, so the fit
    // is still running (or waiting to write) when the signal arrives, and
    // it ends at the next iteration, not with its results.
    const struct {
        int signal;
        const char* name;
    } signals[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [signal, name] : signals) {
        prepare("signal_" + std::to_string(signal), std::string(kOneFactor) + kLongFit,
                {"est1.csv", "est2.csv", "stat2.csv", "out.json"});
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
        const pid_t pid = start_velix(args({"--json", at("out.json")}), {.stdoutFd = pipe[1]});
        ASSERT_GT(pid, 0);
        ::close(pipe[1]);
        std::string listing;
        const std::string marker = "Iteration History";
        size_t second = std::string::npos;
        char buf[4096];
        while (second == std::string::npos) {
            const ssize_t n = ::read(pipe[0], buf, sizeof buf);
            if (n <= 0) break;
            listing.append(buf, static_cast<size_t>(n));
            const size_t first = listing.find(marker);
            if (first != std::string::npos) second = listing.find(marker, first + 1);
        }
        ASSERT_NE(second, std::string::npos) << name << ": the second step's fit never began";
        ::kill(pid, signal);
        for (ssize_t n; (n = ::read(pipe[0], buf, sizeof buf)) > 0;) listing.append(buf, static_cast<size_t>(n));
        ::close(pipe[0]);
        const int status = wait_for(pid);

        ASSERT_TRUE(WIFSIGNALED(status)) << name << ": exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal) << name;
        EXPECT_EQ(listing.find("Optimization Results", second), std::string::npos)
            << name << ": the fit ran to its end after the signal";
        EXPECT_EQ(read_text(at("est1.csv")).rfind("# TYPE=EST\n", 0), 0u) << name << ": the first step's output";
        expect_kept({"est2.csv", "stat2.csv", "out.json"}, name);
        const auto errors = error_lines();
        ASSERT_EQ(errors.size(), 1u) << name << "\n" << read_text(at("log.txt"));
        EXPECT_EQ(errors[0], std::string("ERROR: The run was stopped by ") + name + ".");
    }
}

// Whether process pid holds `path` open (false after `seconds`).
bool holds_open(pid_t pid, const std::string& path, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    while (std::chrono::steady_clock::now() < until) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(fds, ec))
            if (fs::read_symlink(e.path(), ec) == path) return true;
        ::usleep(10000);
    }
    return false;
}

TEST_F(RunOutputs, AStopSignalEndsTheWaitForAPipe) {
    // DATA= or the program file is a named pipe.  Its open waited in the
    // kernel for a writer, and its reads for the writer's next bytes, each
    // restarted after the signal's handler: a stop was acted on only when
    // data came (DATA=) or the writer finished (the program; without a
    // writer only SIGKILL ended that run).  Without a writer, and with one
    // that wrote the first lines and then went quiet, the stop now ends the
    // run at once (the bound allows for a loaded machine), by its signal,
    // with one ERROR line.  The program is read before the log is opened:
    // the stop is said in this run's log rather than the previous run's
    // left in place (as when a stop there ended the run by the signal's
    // default action), and no step runs.
    const std::string hs = read_text(velix::test::data_path("hs.csv"));
    std::string onPipe = kOneFactor;
    onPipe.replace(onPipe.find("data=hs"), 7, "data=pipe");
    const struct {
        const char* name;
        std::string program;  // "": the program is the pipe
        std::string first;    // what a writer writes before it goes quiet
    } cases[] = {
        {"DATA=", onPipe, hs.substr(0, hs.find('\n', hs.find('\n') + 1) + 1)},
        {"the program", "", "proc velix data=hs method=ml outest=est1;\n"},
    };
    for (const auto& c : cases) {
        for (const bool writer : {false, true}) {
            const std::string what = std::string(c.name) + (writer ? ", a quiet writer" : ", no writer");
            prepare("pipe", c.program, {"log.txt", "est1.csv"});
            const std::string pipe = at(c.program.empty() ? "program.vx" : "pipe.csv");
            fs::remove(pipe);
            ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
            const pid_t pid = start_velix(args({}));
            ASSERT_GT(pid, 0);
            int fd = -1;
            // (A writer that does not wait is let in only once the reader is.)
            for (int k = 0; writer && fd < 0 && k < 1000; ++k)
                if ((fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0) ::usleep(10000);
            if (writer) {
                ASSERT_GE(fd, 0) << what << ": the run never opened the pipe";
                ASSERT_EQ(::write(fd, c.first.data(), c.first.size()), static_cast<ssize_t>(c.first.size()));
            }
            holds_open(pid, pipe, 10);  // the run waits (the old one never held it open while it waited)
            ::usleep(200000);
            ::kill(pid, SIGTERM);
            bool late = false;
            const int status = wait_within(pid, 5, &late);
            if (fd >= 0) ::close(fd);
            ASSERT_FALSE(late) << what << ": the run went on waiting after the signal";
            ASSERT_TRUE(WIFSIGNALED(status)) << what << ": exit status " << WEXITSTATUS(status);
            EXPECT_EQ(WTERMSIG(status), SIGTERM) << what;
            expect_kept({"est1.csv"}, what);
            const auto errors = error_lines();
            ASSERT_EQ(errors.size(), 1u) << what << "\n" << read_text(at("log.txt"));
            EXPECT_EQ(errors[0], "ERROR: The run was stopped by SIGTERM.") << what;
            EXPECT_EQ(read_text(at("log.txt")).find(kOld), std::string::npos) << what << ": the previous run's log was left";
        }
    }
}

// The CPU seconds process pid has used (0 when it is gone).
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t name = stat.rfind(')');
    if (name == std::string::npos) return 0.0;
    std::istringstream fields(stat.substr(name + 2));
    std::string field;
    double ticks = 0.0;
    // After the name: state (3) ... utime (14) and stime (15).
    for (int k = 3; k <= 15 && fields >> field; ++k)
        if (k >= 14) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The CPU seconds that the ended child pid used, and its status.
double cpu_of_ended(pid_t pid, int* status) {
    rusage use{};
    while (::wait4(pid, status, 0, &use) < 0 && errno == EINTR) {
    }
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

TEST_F(RunOutputs, AStopSignalEndsALongPassOverTheObservations) {
    // The WLS weights of 40 variables over 25,000 observations take most of
    // the run in one pass, which had no safe point: a stop waited for its
    // end.  The moments are measured, not assumed, so that a fast build
    // tests the pass as a slow one does (a fixed second of CPU fell after
    // the pass's end in an optimised build): a whole run gives the CPU
    // time of the step, a ULS run that of everything before the pass (the
    // scan of the file and the moments).  The signal comes a quarter of the
    // way into the pass, and the step must end within another tenth of it
    // (and 50 ms for the way out): a pass that went on to its end would
    // take three quarters.
    prepare("long_pass", "proc velix data=wide method=wls;\n   factor n=1;\nrun;\n", {});
    {
        std::ofstream wide(at("wide.csv"));
        for (int j = 1; j <= 40; ++j) wide << (j > 1 ? "," : "") << "z" << j;
        wide << "\n";
        uint64_t state = 88172645463325252ull;
        char value[16];
        for (int row = 0; row < 25000; ++row)
            for (int j = 0; j < 40; ++j) {
                state ^= state << 13, state ^= state >> 7, state ^= state << 17;
                std::snprintf(value, sizeof value, "%.4f", static_cast<double>(state >> 11) / 9007199254740992.0);
                wide << value << (j < 39 ? ',' : '\n');
            }
    }
    int status = 0;
    const double whole = cpu_of_ended(start_velix(args({})), &status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_text(at("log.txt"));
    std::ofstream(at("program.vx")) << "proc velix data=wide method=uls;\n   factor n=1;\nrun;\n";
    const double before = cpu_of_ended(start_velix(args({})), &status);
    const double pass = whole - before;
    ASSERT_GT(pass, 2.0 * before) << "the pass is the bulk of the run: " << whole << " s in all, " << before
                                  << " s before it";
    std::ofstream(at("program.vx")) << "proc velix data=wide method=wls;\n   factor n=1;\nrun;\n";
    const pid_t pid = start_velix(args({}));
    ASSERT_GT(pid, 0);
    // The bound of 6000 waits of 10 ms allows for a loaded machine.
    for (int k = 0; k < 6000 && cpu_seconds(pid) < before + 0.25 * pass; ++k) ::usleep(10000);
    const double signalled = cpu_seconds(pid);
    ::kill(pid, SIGTERM);
    const double used = cpu_of_ended(pid, &status);
    EXPECT_LT(used - signalled, 0.1 * pass + 0.05) << "the pass went on after the signal, of " << pass << " s";
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    const auto errors = error_lines();
    ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
    EXPECT_EQ(errors[0], "ERROR: The run was stopped by SIGTERM.");
}

TEST_F(RunOutputs, AStopSignalWhileTheOutputsAreWrittenKeepsTheOldOnes) {
    // The child's first flush to the disk is that of its first output data
    // set's scratch file: it is held there until the signal has been sent,
    // so that the step is inside the writing of its outputs, past every
    // earlier check for a stop.  Its file system makes no unnamed files,
    // as where the scratch files are named from the start (the check
    // before the renames is the same for both).
    std::string program = read_text(velix::test::data_path("hs_cfa_ml.vx"));
    program.replace(program.find("covariance;"), 11, "covariance outest=est3 outstat=stat3;");
    prepare("commit", program, {"est3.csv"});
    int gate = -1;
    const pid_t pid = start_velix(args({}), {.noUnnamedFiles = true, .syncGate = &gate});
    ASSERT_GT(pid, 0);
    ASSERT_GE(gate, 0) << "the system refuses the gate on fsync";
    EXPECT_TRUE(velix::test::hold_first_sync(pid, gate, [](int child) { ::kill(child, SIGTERM); }))
        << "the step ended before it wrote its outputs";
    const int status = wait_for(pid);

    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(fs::exists(at("stat3.csv"))) << "a new output data set appeared";
    ASSERT_TRUE(fs::is_regular_file(at("est3.csv"))) << "est3.csv was replaced";
    expect_kept({"est3.csv"}, "a stop while the outputs were written");
    const std::string log = read_text(at("log.txt"));
    for (const std::string name : {"est3", "stat3"})
        EXPECT_NE(log.find("NOTE: Output data set " + name + " was not written."), std::string::npos) << log;
    const auto errors = error_lines();
    ASSERT_EQ(errors.size(), 1u) << log;
    EXPECT_EQ(errors[0], "ERROR: The run was stopped by SIGTERM.");
}

// A one-factor step on `data` that writes the four output data sets
// s<k>, e<k>, r<k> and w<k>, for k = 1 to `steps`.
std::string four_outputs(const std::string& data, int steps) {
    std::string program;
    for (int k = 1; k <= steps; ++k) {
        const std::string n = std::to_string(k);
        program += "proc velix data=" + data + " method=gls outstat=s" + n + " outest=e" + n + " outram=r" + n +
                   " outwgt=w" + n + ";\n   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n" +
                   "   std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";
    }
    return program;
}

// Ends when the child `pid` ends or after `seconds` (it is then killed
// and the failure says so); its wait status.
int wait_at_most(pid_t pid, double seconds) {
    int status = 0;
    for (int k = 0; k < seconds * 100; ++k) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        ::usleep(10000);
    }
    ADD_FAILURE() << "the run did not end in " << seconds << " s";
    ::kill(pid, SIGKILL);
    return wait_for(pid);
}

TEST_F(RunOutputs, TwoRunsAtOnceLeaveEachStepsOutputsFromOneRun) {
    // Two runs of a program that differ only in their data, started
    // together, write the same output data sets: each step's four used to
    // be left from both runs now and then (OUTSTAT= and OUTRAM= from one,
    // OUTEST= and OUTWGT= from the other), exit status 0.  Each step's
    // commit now waits for the other run's: its outputs all come from one
    // run.  What each run writes alone is the reference.
    constexpr int kSteps = 3, kRounds = 20;
    prepare("two_runs", four_outputs("hs", kSteps), {});
    {
        std::ifstream hs(at("hs.csv"));
        std::ofstream half(at("half.csv"));
        std::string line;
        for (int k = 0; k <= 150 && std::getline(hs, line); ++k) half << line << "\n";
    }
    std::ofstream(at("half.vx")) << four_outputs("half", kSteps);
    std::vector<std::string> half = args({});
    half.back() = at("half.vx");
    const std::vector<std::vector<std::string>> runs = {args({}), half};
    std::map<std::string, std::string> alone[2];  // file -> contents, by run
    for (int r = 0; r < 2; ++r) {
        ASSERT_EQ(wait_for(start_velix(runs[r])), 0) << "run " << r << " alone";
        for (int k = 1; k <= kSteps; ++k)
            for (const char* role : {"s", "e", "r", "w"}) {
                const std::string file = role + std::to_string(k) + ".csv";
                alone[r][file] = read_text(at(file));
                ASSERT_FALSE(alone[r][file].empty()) << file << " of run " << r;
            }
    }
    for (int k = 1; k <= kSteps; ++k)
        ASSERT_NE(alone[0]["s" + std::to_string(k) + ".csv"], alone[1]["s" + std::to_string(k) + ".csv"]);
    for (int round = 0; round < kRounds; ++round) {
        const pid_t first = start_velix(runs[0]);
        const pid_t second = start_velix(runs[1]);
        EXPECT_EQ(wait_at_most(first, 120), 0) << "round " << round;
        EXPECT_EQ(wait_at_most(second, 120), 0) << "round " << round;
        for (int k = 1; k <= kSteps; ++k) {
            std::string from;  // the run each output came from, by role
            for (const char* role : {"s", "e", "r", "w"}) {
                const std::string file = role + std::to_string(k) + ".csv", text = read_text(at(file));
                from += text == alone[0][file] ? '0' : text == alone[1][file] ? '1' : '?';
            }
            EXPECT_TRUE(from == "0000" || from == "1111")
                << "round " << round << ", step " << k << ": OUTSTAT=, OUTEST=, OUTRAM= and OUTWGT= from runs " << from;
        }
        expect_kept({}, "two runs at once");
    }
}

TEST_F(RunOutputs, AStopSignalEndsTheWaitForAnotherRunsCommit) {
    // Another run (the test) holds the folder's lock: the step's commit
    // waits for it, until a stop signal, which leaves the earlier files.
    // The wait was silent however long it lasted; past a second the log
    // now names the folder it waits for.
    prepare("lock_wait", kOneFactor, {"est1.csv"});
    const int folder = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0);
    const pid_t pid = start_velix(args({}), {.noUnnamedFiles = true});
    ASSERT_GT(pid, 0);
    const std::string waiting =
        "NOTE: The output data sets wait for the folder " + fs::canonical(dir_).string() + ", which another run is";
    bool said = false;
    for (int k = 0; k < 2000 && !said; ++k) {
        ::usleep(10000);
        said = read_text(at("log.txt")).find(waiting) != std::string::npos;
    }
    ::kill(pid, SIGTERM);
    const int status = wait_at_most(pid, 20);
    ::close(folder);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_TRUE(said) << read_text(at("log.txt"));
    expect_kept({"est1.csv"}, "a stop while waiting for another run's commit");
    EXPECT_NE(read_text(at("log.txt")).find("NOTE: Output data set est1 was not written."), std::string::npos)
        << read_text(at("log.txt"));
}

TEST_F(RunOutputs, AFolderThatCannotBeLockedIsSaid) {
    // A folder the user may write but not read (mode 0300) cannot be
    // opened to lock it: the step put its outputs there unlocked, saying
    // nothing, and two runs at once mixed them.  The WARNING names the
    // folder; the outputs are still written.  (File permissions bind the
    // run also when the tests run as root.)
    std::string program = kOneFactor;
    prepare("unreadable", "", {});
    fs::create_directory(at("w"));
    program.replace(program.find("outest=est1"), 11, "outest=\"" + at("w/est1.csv") + "\"");
    std::ofstream(at("program.vx")) << program;
    fs::permissions(at("w"), fs::perms::owner_write | fs::perms::owner_exec);
    const int status = wait_for(start_velix(args({}), {.obeyPermissions = true}));
    fs::permissions(at("w"), fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << read_text(at("log.txt"));
    EXPECT_EQ(read_text(at("w/est1.csv")).rfind("# TYPE=EST\n", 0), 0u);
    EXPECT_NE(read_text(at("log.txt")).find("WARNING: The folder " + fs::canonical(at("w")).string() +
                                            " cannot be locked while the output data sets are put in it "
                                            "(Permission denied)"),
              std::string::npos)
        << read_text(at("log.txt"));
}

TEST_F(RunOutputs, AnOutputThatWouldReplaceTheDataIsAnErrorBeforeAnythingIsWritten) {
    // OUTSTAT= naming DATA= replaced the raw data with the moments, and
    // OUTEST= naming a DATA= of TYPE=COV replaced the user's matrix with
    // the estimates, exit status 0 and no message.  However the program
    // names the file (a path in quotes, a symbolic link), no output is
    // written and the log names both roles.  Estimates replaced by updated
    // ones stay allowed.
    struct Case {
        const char* data;
        const char* options;
        const char* error;  // how the ERROR line begins after "ERROR: "
    };
    const Case cases[] = {
        {"hs", "outstat=hs", "OUTSTAT= data set hs would replace DATA= data set hs, the raw data of the step ("},
        {"hs", "outest=\"DIR/hs.csv\"", "OUTEST= data set DIR/hs.csv would replace DATA= data set hs, the raw data of the step ("},
        {"hs", "outram=link outstat=stat4", "OUTRAM= data set link would replace DATA= data set hs, the raw data of the step ("},
        {"attitude", "outest=attitude", "OUTEST= data set attitude would replace DATA= data set attitude, the TYPE=COV data the step analyses ("},
    };
    for (const Case& c : cases) {
        std::string options = c.options, error = c.error;
        prepare("data", "", {"stat4.csv"});
        const std::string data = std::string(c.data) + ".csv";
        fs::copy_file(velix::test::data_path(data), at(data), fs::copy_options::overwrite_existing);
        fs::create_symlink(at("hs.csv"), at("link.csv"));
        for (std::string* text : {&options, &error})
            if (const size_t d = text->find("DIR"); d != std::string::npos) text->replace(d, 3, dir_);
        std::ofstream(at("program.vx")) << "proc velix data=" << c.data << " covariance " << options
                                        << ";\nfactor n=1;\nrun;\n";
        const int status = wait_for(start_velix(args({})));
        ASSERT_TRUE(WIFEXITED(status)) << options;
        EXPECT_EQ(WEXITSTATUS(status), 2) << options;
        EXPECT_EQ(read_text(at(data)), read_text(velix::test::data_path(data))) << options;
        expect_kept({"stat4.csv"}, options);
        const auto errors = error_lines();
        ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
        EXPECT_EQ(errors[0].rfind("ERROR: " + error, 0), 0u) << errors[0];
    }
    prepare("estimates", std::string(kOneFactor) + "proc velix data=hs method=ml inest=est1 outest=est1;\n" +
                             "   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n" +
                             "   std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n",
            {"est1.csv"});
    EXPECT_EQ(velix::test::run_velix_args(args({})), 0) << read_text(at("log.txt"));
    EXPECT_EQ(read_text(at("est1.csv")).rfind("# TYPE=EST\n", 0), 0u);
}

TEST_F(RunOutputs, TwoOutputsThatNameOneNewFileThroughABindMountAreRefused) {
    // OUTRAM= and OUTEST= named one file not made yet, one through a bind
    // mount of the folder: exit status 0, the OUTRAM= data set lost.  The
    // run has a mount namespace of its own (unshare), so nothing of the
    // system's mounts changes.
    if (std::system("unshare -Urm true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no mount namespace to be had";
    prepare("bind", "", {});
    fs::create_directory(at("bound"));
    std::ofstream(at("program.vx")) << "proc velix data=hs covariance outram=or outest=\"" << at("bound/or.csv")
                                    << "\";\nfactor n=1;\nrun;\n";
    const std::vector<std::string> mounted{"unshare", "-Urm", "sh", "-c", "mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"",
                                           "sh", dir_, at("bound")};
    EXPECT_EQ(velix::test::run_velix_args(args({}), mounted), 2) << read_text(at("log.txt"));
    const auto errors = error_lines();
    ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
    EXPECT_NE(errors[0].find("OUTEST= data set " + at("bound/or.csv") + " and OUTRAM= data set or name the same file"),
              std::string::npos)
        << errors[0];
    EXPECT_FALSE(fs::exists(at("or.csv")));
}

TEST_F(RunOutputs, AnOutputThatCannotReplaceItsFileLeavesEveryEarlierOne) {
    // The second of three outputs is another user's file in a sticky
    // folder, which this run may not replace: the first used to be new by
    // then.  Now no output is replaced, and the log says which could not
    // be and that none was written.  (Only root can give a file away.)
    // A file that others may write (0666) may also be given a second
    // name, which then stayed beside it, another hard link to the user's
    // file that only its owner could remove.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    std::string program = read_text(velix::test::data_path("hs_cfa_ml.vx"));
    program.replace(program.find("covariance;"), 11, "covariance outstat=ost outram=oram outest=oest;");
    const std::vector<std::string> outputs{"ost.csv", "oram.csv", "oest.csv"};
    for (const mode_t mode : {0644, 0666}) {
        prepare("sticky", program, outputs);
        constexpr uid_t kNobody = 65534;
        ASSERT_EQ(::chown(at("oram.csv").c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod(at("oram.csv").c_str(), mode), 0);
        ASSERT_EQ(::chown(dir_.c_str(), kNobody, kNobody), 0);
        fs::permissions(dir_, fs::perms::all | fs::perms::sticky_bit);
        const int status = wait_for(start_velix(args({}), {.obeyPermissions = true}));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2);
        expect_kept(outputs, "an output that could not replace its file");
        const auto errors = error_lines();
        ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
        EXPECT_EQ(errors[0], "ERROR: Output data set oram cannot replace " + at("oram.csv") + ": Operation not permitted.");
        const std::string log = read_text(at("log.txt"));
        for (const std::string name : {"ost", "oram", "oest"})
            EXPECT_NE(log.find("NOTE: Output data set " + name + " was not written."), std::string::npos) << log;
    }
}

// Everything a file descriptor `fd` gives until its end.
std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
}

TEST_F(RunOutputs, AnOutputNamedThroughALinkLandsWhereTheLinkLeads) {
    // `velix --listing /dev/stdout prog.vx > out.lst` left out.lst empty:
    // standard output led to a regular file, so the listing went to a
    // scratch file renamed over the name itself (as root, the system's
    // /dev/stdout was replaced).  An OUTEST= file that was a link to a file
    // in another folder was replaced by a regular file, the file it named
    // left old.  Links in the test's folder stand for /dev/stdout: to the
    // child's standard output (a file it appends to, as after `>>`) and
    // standard error (a pipe).  Each link stays, and each output reaches the
    // file the link leads to.
    prepare("links", kOneFactor, {"out.lst"});
    fs::create_directory(at("shared"));
    std::ofstream(at("shared/est1.csv")) << kOld;
    fs::create_symlink("shared/est1.csv", at("est1.csv"));
    fs::create_symlink("/proc/self/fd/1", at("listing"));
    fs::create_symlink("/proc/self/fd/2", at("json"));
    const int out = ::open(at("out.lst").c_str(), O_WRONLY | O_APPEND);
    int err[2];
    ASSERT_GE(out, 0);
    ASSERT_EQ(::pipe(err), 0);
    const pid_t pid = start_velix(args({"--listing", at("listing"), "--json", at("json")}),
                                  {.stdoutFd = out, .stderrFd = err[1]});
    ::close(out);
    ::close(err[1]);
    const std::string json = read_all(err[0]);
    ::close(err[0]);
    const int status = wait_for(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << read_text(at("log.txt"));
    for (const char* link : {"listing", "json", "est1.csv"}) EXPECT_TRUE(fs::is_symlink(at(link))) << link;
    const std::string listing = read_text(at("out.lst"));
    EXPECT_EQ(listing.rfind(kOld, 0), 0u) << "the listing did not follow what standard output held";
    EXPECT_NE(listing.find("Optimization Results"), std::string::npos) << listing.substr(0, 300);
    EXPECT_EQ(velix::test::JsonValue::parse(json)["returnCode"].number(), 0) << json.substr(0, 300);
    EXPECT_EQ(read_text(at("shared/est1.csv")).rfind("# TYPE=EST\n", 0), 0u);
    expect_kept({}, "outputs named through links");
}

TEST_F(RunOutputs, EachOutputReachesTheDiskBeforeItsNameAndItsNameAfter) {
    // No output was flushed to the disk before its rename: a power loss
    // could leave the new name on a file whose contents never got there
    // (an empty file), or lose the rename.  Traced by strace: the listing
    // and an OUTEST= data set are each flushed (fsync of the scratch file
    // it was written to) just before the rename that gives them their
    // names, and their folder just after.
    prepare("sync", kOneFactor, {"est1.csv", "out.lst"});
    const std::string trace = at("trace.txt");
    // The leak checker of a sanitized build cannot run under a tracer (it
    // attaches to the process itself), so it is turned off for this run.
    std::string sanitizer = "ASAN_OPTIONS=";
    if (const char* given = std::getenv("ASAN_OPTIONS"); given != nullptr && *given != 0)
        sanitizer += std::string(given) + ":";
    sanitizer += "detect_leaks=0";
    const int status = velix::test::run_velix_args(
        args({"--listing", at("out.lst")}),
        {"env", sanitizer, "strace", "-f", "-o", trace, "-e", "trace=openat,fsync,rename"});
    if (status == 127 || !fs::exists(at("log.txt"))) GTEST_SKIP() << "needs strace, allowed to trace";
    ASSERT_EQ(status, 0) << read_text(at("log.txt"));
    std::vector<std::string> lines;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // The file a descriptor was last opened as, by the line that opened it.
    std::map<std::string, std::string> opened;
    std::vector<std::string> synced;  // for each line: what its fsync flushed, "" when none
    for (const std::string& line : lines) {
        const size_t eq = line.rfind(" = ");
        const std::string result = eq == std::string::npos ? "" : line.substr(eq + 3);
        std::string flushed;
        if (line.find(" openat(") != std::string::npos)
            opened[result] = line;
        else if (const size_t f = line.find(" fsync("); f != std::string::npos && result == "0")
            flushed = opened[line.substr(f + 7, line.find(')', f) - f - 7)];
        synced.push_back(flushed);
    }
    for (const std::string target : {"est1.csv", "out.lst"}) {
        const std::string renamed = "\", \"" + at(target) + "\") = 0";
        const auto at_rename =
            std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(renamed) != std::string::npos; });
        ASSERT_NE(at_rename, lines.end()) << target << " was not renamed into place";
        const size_t k = static_cast<size_t>(at_rename - lines.begin());
        size_t before = k, after = k;
        while (before > 0 && synced[before - 1].empty()) --before;
        while (after + 1 < lines.size() && synced[after + 1].empty()) ++after;
        ASSERT_GT(before, 0u) << target << " was renamed unflushed";
        EXPECT_NE(synced[before - 1].find("O_WRONLY"), std::string::npos)
            << target << ": the last flush before its rename was " << synced[before - 1];
        ASSERT_LT(after + 1, lines.size()) << target << ": its folder was not flushed after the rename";
        EXPECT_NE(synced[after + 1].find("O_DIRECTORY"), std::string::npos)
            << target << ": the first flush after its rename was " << synced[after + 1];
    }
}

TEST_F(RunOutputs, AListingWhoseReaderWentAwayIsALostListing) {
    // `velix prog.vx | head -c 200`: the reader is gone before the step
    // ends.  The run used to end by SIGPIPE (status 141) with no log line;
    // it is a lost listing as a full disk is.  The child starts with
    // SIGPIPE's default action, as from a shell.
    prepare("pipe", kOneFactor, {"est1.csv"});
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    const pid_t pid = start_velix(args({}), {.stdoutFd = pipe[1]});
    std::signal(SIGPIPE, previous);
    ::close(pipe[1]);
    const int status = wait_for(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    expect_kept({"est1.csv"}, "a lost listing");
    const auto errors = error_lines();
    ASSERT_EQ(errors.size(), 1u) << read_text(at("log.txt"));
    EXPECT_EQ(errors[0], "ERROR: The listing cannot be written to standard output; the run stops.");
    EXPECT_NE(read_text(at("log.txt")).find("NOTE: Output data set est1 was not written"), std::string::npos);
}

TEST_F(RunOutputs, AnOutputThatCannotBeOpenedStopsTheRunWithStatusTwo) {
    // Status 3 is the unreadable program's; an output path that cannot be
    // opened (here: in a folder that does not exist) is a host failure.
    prepare("open", kOneFactor, {"est1.csv"});
    for (const char* flag : {"--log", "--listing", "--json"}) {
        std::vector<std::string> a{"--lib", dir_, flag, at("missing/file.txt"), at("program.vx")};
        EXPECT_EQ(velix::test::run_velix_args(a), 2) << flag;
        expect_kept({"est1.csv"}, flag);  // no step ran
    }
}

TEST(RunOutputsDocument, TheRunsReturnCodeAndMessagesAgreeWithTheExitStatus) {
    // An ERROR outside any step used to give exit status 2 with a document
    // of one clean step.
    struct Case {
        const char* after;   // what follows a clean step
        int returnCode;
        const char* severity;  // of the one run-level message, "" for none
    };
    const Case cases[] = {
        {"", 0, ""},
        {"nloptions maxiter=5;\n", kLevelInputError, "ERROR"},
        {"proc means data=hs; run;\n", kLevelInputError, "ERROR"},
    };
    for (const Case& c : cases) {
        const auto r = velix::test::run_velix(std::string(kOneFactor) + c.after, {"hs.csv"});
        ASSERT_TRUE(r.json.is_object()) << c.after << r.log;
        EXPECT_EQ(r.return_code(0), 0) << c.after;
        EXPECT_EQ(r.json["returnCode"].number(), c.returnCode) << c.after;
        EXPECT_EQ(velix::platform::exit_status_for(c.returnCode), r.exitStatus) << c.after;
        const auto& messages = r.json["messages"];
        ASSERT_EQ(messages.size(), *c.severity ? 1u : 0u) << r.jsonText.substr(r.jsonText.size() - 300);
        if (*c.severity) {
            EXPECT_EQ(messages[0]["severity"].str(), c.severity);
        }
    }
}

TEST(RunOutputsDocument, AStepThatLogsOneErrorEndsAboveTheWarningLevel) {
    // A profile-limit request with a negative FFACTOR= (it must be > 0) is
    // refused with one ERROR line while the fit stands: the step has
    // failed, and the return code and the exit status say so.
    std::string program = velix::test::read_text(velix::test::data_path("hs_cfa_ml.vx"));
    program.insert(program.rfind("run;"), "   profile l2 / ffactor=-1;\n");
    const auto r = velix::test::run_velix(program, {"hs.csv"});
    size_t errors = 0;
    for (size_t at = r.log.find("ERROR:"); at != std::string::npos; at = r.log.find("ERROR:", at + 1)) ++errors;
    ASSERT_EQ(errors, 1u) << r.log;
    EXPECT_GT(r.return_code(0), kLevelWarning) << r.log;
    EXPECT_LE(r.return_code(0), kLevelStepEnds) << r.log;
    EXPECT_EQ(r.exitStatus, 1) << r.log;
}

}  // namespace
