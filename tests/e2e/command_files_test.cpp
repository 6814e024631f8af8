// The command's own files and options: a --log, --listing or --json that
// names a file the run reads or writes in another role is refused before
// anything is written; a stop ends the wait for a reader of those files;
// the JSON document holds every message the log shows; a program read
// from a pipe takes the working folder as its library; and an option the
// command cannot use is said, not passed over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using velix::test::read_text;
using velix::test::start_velix;
using velix::test::wait_within;

const char* kProgram =
    "proc velix data=hs method=ml outstat=ost;\n"
    "   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
    "   std F1 = vf, E1-E3 = ve1-ve3;\n"
    "run;\n";

int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Every line of the log with a severity.
std::vector<std::string> log_messages(const std::string& log) {
    std::vector<std::string> out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        for (const char* severity : {"ERROR:", "WARNING:", "NOTE:"})
            if (line.rfind(severity, 0) == 0) out.push_back(line);
    return out;
}

// A scratch folder (mkdtemp) with the hs data and the program.
class CommandFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = velix::test::own_folder("command_files") + "/run-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::copy_file(velix::test::data_path("hs.csv"), at("hs.csv"));
        write("program.vx", kProgram);
        hs_ = read_text(at("hs.csv"));
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string at(const std::string& file) const { return dir_ + "/" + file; }
    void write(const std::string& file, const std::string& text) const { std::ofstream(at(file)) << text; }
    // Runs the command with `args` before the program; its exit status and,
    // in *err, what it wrote on standard error.
    int run(std::vector<std::string> args, std::string* err, const std::string& program = "program.vx") const {
        args.insert(args.begin(), {"--fixed-time", "0", "--lib", dir_});
        args.push_back(at(program));
        const int fd = ::open(at("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int status = wait_for(start_velix(args, {.stderrFd = fd}));
        ::close(fd);
        *err = read_text(at("stderr.txt"));
        return status;
    }
    std::string dir_;
    std::string hs_;
};

TEST_F(CommandFiles, AFileTheRunReadsOrWritesIsNeverOneOfTheCommandsOwn) {
    // Each of these replaced or emptied the data, the program or another
    // output with exit status 0 (or 2 with the data gone): the listing over
    // the raw data through "..", a symbolic and a hard link; the log over
    // the data and over the program; the listing over OUTSTAT= (not yet
    // made); the listing and the document in one file; OUTSTAT= over the
    // program and over the log.
    ASSERT_EQ(::mkdir(at("sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("hs.csv", at("data.lnk").c_str()), 0);
    ASSERT_EQ(::link(at("hs.csv").c_str(), at("hard.csv").c_str()), 0);
    write("over_program.vx", std::string(kProgram).replace(std::string(kProgram).find("ost"), 3,
                                                           "\"" + at("over_program.vx") + "\""));
    write("over_log.vx", std::string(kProgram).replace(std::string(kProgram).find("ost"), 3, "\"" + at("run.log") + "\""));
    struct Case {
        std::vector<std::string> args;
        std::string program;
        std::string first, second;  // the two roles the ERROR names
    };
    const std::vector<Case> cases = {
        {{"--listing", at("sub/../hs.csv")}, "program.vx", "the --listing file", "DATA= data set hs"},
        {{"--json", at("data.lnk")}, "program.vx", "the --json file", "DATA= data set hs"},
        {{"--log", at("hard.csv")}, "program.vx", "the --log file", "DATA= data set hs"},
        {{"--log", at("program.vx")}, "program.vx", "the --log file", "the program file"},
        {{"--listing", at("ost.csv")}, "program.vx", "the --listing file", "OUTSTAT= data set ost"},
        {{"--listing", at("both.txt"), "--json", at("both.txt")}, "program.vx", "the --listing file", "the --json file"},
        {{}, "over_program.vx", "the program file", "OUTSTAT= data set"},
        {{"--log", at("run.log")}, "over_log.vx", "the --log file", "OUTSTAT= data set"},
    };
    for (const Case& c : cases) {
        std::string err;
        const std::string program = read_text(at(c.program));
        const int status = run(c.args, &err, c.program);
        const std::string what = c.args.empty() ? c.program : c.args[0] + " " + c.args[1];
        ASSERT_TRUE(WIFEXITED(status)) << what;
        EXPECT_EQ(WEXITSTATUS(status), 2) << what << "\n" << err;
        EXPECT_EQ(err.rfind("ERROR: One file is named by ", 0), 0u) << what << "\n" << err;
        EXPECT_NE(err.find(c.first), std::string::npos) << what << "\n" << err;
        EXPECT_NE(err.find(c.second), std::string::npos) << what << "\n" << err;
        EXPECT_EQ(read_text(at("hs.csv")), hs_) << what << " changed the data";
        EXPECT_EQ(read_text(at(c.program)), program) << what << " changed the program";
        for (const char* made : {"ost.csv", "both.txt", "run.log"}) EXPECT_FALSE(fs::exists(at(made))) << what;
    }
    // A device is no file to lose: the listing may go to /dev/null.
    std::string err;
    int status = run({"--listing", "/dev/null", "--log", at("run.log")}, &err);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err << read_text(at("run.log"));
    EXPECT_TRUE(fs::exists(at("ost.csv")));
    // Standard output and error in one file (`> all.txt 2>&1`) take the
    // listing and the log as they would without the options.
    const int all = ::open(at("all.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    status = wait_for(start_velix({"--lib", dir_, "--listing", "/dev/stdout", "--log", "/dev/stderr", at("program.vx")},
                                  {.stdoutFd = all, .stderrFd = all}));
    ::close(all);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_text(at("all.txt"));
}

TEST_F(CommandFiles, TheDataOfAStepThatCannotRunIsNeverOneOfTheCommandsFiles) {
    // A step the statement lexer refused (a character that starts no
    // token, a number that runs into a name, a number too large) or a
    // misspelt PROC was left out of the check: the listing, the document
    // or the log replaced or emptied the step's DATA= file, exit status 2.
    // A data set named by a quoted text that is not closed names no file
    // that can be known: a command file might be it.  A path without
    // quotes is an error of the step, and names its file all the same.
    const std::string step = "proc velix data=hs cov outstat=ost;\nfactor n=1;\n";
    const std::vector<std::pair<std::string, std::string>> programs = {
        {step + "x = 1 # 2;\nrun;\n", "One file is named by "},
        {step + "x = 3abc;\nrun;\n", "One file is named by "},
        {step + "x = 1e999;\nrun;\n", "One file is named by "},
        {"proc velx data=hs cov outstat=ost;\nfactor n=1;\nrun;\n", "One file is named by "},
        {"proc velix outstat=ost\n  data=\"hs.csv cov;\nfactor n=1;\nrun;\n", "The quoted text after DATA= at line 2 is not closed"},
        {"proc velix data=" + dir_ + "/hs cov outstat=ost;\nfactor n=1;\nrun;\n", "One file is named by "},
    };
    for (const auto& [program, error] : programs) {
        write("typo.vx", program);
        for (const char* flag : {"--listing", "--json", "--log"}) {
            std::string err;
            const int status = run({flag, at("hs.csv")}, &err, "typo.vx");
            const std::string what = std::string(flag) + " hs.csv, " + program;
            ASSERT_TRUE(WIFEXITED(status)) << what;
            EXPECT_EQ(WEXITSTATUS(status), 2) << what << "\n" << err;
            EXPECT_EQ(err.rfind("ERROR: " + error, 0), 0u) << what << "\n" << err;
            EXPECT_EQ(read_text(at("hs.csv")), hs_) << what << " changed the data";
        }
    }
}

TEST_F(CommandFiles, AnOutputDataSetNeverTakesTheShellsFileOfTheListingOrTheLog) {
    // `velix prog.vx > ost.csv` with OUTSTAT=ost: the rename of the output
    // took the name of the file that held the listing, exit status 0.  So
    // with the log on standard error.  The run is refused as it is for
    // --listing ost.csv, and the shell's file stays the one it opened.
    for (const bool log : {false, true}) {
        const int fd = ::open(at("ost.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int other = ::open(at("other.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        struct stat before;
        ASSERT_EQ(::fstat(fd, &before), 0);
        const pid_t pid = start_velix({"--fixed-time", "0", "--lib", dir_, at("program.vx")},
                                      {.stdoutFd = log ? other : fd, .stderrFd = log ? fd : other});
        ::close(fd);
        ::close(other);
        const int status = wait_for(pid);
        const std::string what = log ? "2> ost.csv" : "> ost.csv";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << what;
        struct stat after;
        ASSERT_EQ(::stat(at("ost.csv").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << what << ": the shell's file was replaced";
        const std::string err = read_text(at(log ? "ost.csv" : "other.txt"));
        const std::string role = log ? "the log on standard error" : "the listing on standard output";
        EXPECT_EQ(err.find("ERROR: One file is named by " + role + " and by OUTSTAT= data set ost"), 0u) << what << "\n" << err;
        fs::remove(at("ost.csv"));
    }
}

TEST_F(CommandFiles, AProgramOnStandardInputTakesTheWorkingFolderAsItsLibrary) {
    // `velix /dev/stdin < prog.vx`: the name led to a file, whose folder
    // was then taken as the name's, /dev: data=hs was looked for as
    // /dev/hs.csv and OUTSTAT= was to be made there (as root it would
    // have been); /dev/fd/0 and /proc/self/fd/0 gave the descriptor
    // tables.  The run is an unprivileged user's, in a working folder of
    // its own with the data.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir_.c_str(), velix::test::kNobody, velix::test::kNobody), 0);
    }
    for (const char* name : {"/dev/stdin", "/dev/fd/0", "/proc/self/fd/0"}) {
        const int in = ::open(at("program.vx").c_str(), O_RDONLY);
        const int err = ::open(at("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const fs::path here = fs::current_path();
        fs::current_path(dir_);
        const pid_t pid = start_velix({"--fixed-time", "0", name}, {.stdinFd = in, .stderrFd = err, .unprivileged = true});
        fs::current_path(here);
        ::close(in);
        ::close(err);
        const int status = wait_for(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << "\n" << read_text(at("stderr.txt"));
        EXPECT_TRUE(fs::exists(at("ost.csv"))) << name;
        fs::remove(at("ost.csv"));
    }
}

TEST_F(CommandFiles, AStopEndsTheWaitForAReaderOfTheCommandsFiles) {
    // A --listing, --json or --log that names a named pipe no process reads
    // waited in open() for ever: the handlers restart the call, so only
    // SIGKILL ended the run.  The stop now ends it at once, by its signal,
    // with its one ERROR line (on standard error when the log is the pipe)
    // and the earlier files as they were.
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    for (const char* flag : {"--listing", "--json", "--log"}) {
        const bool logIsPipe = std::string(flag) == "--log";
        write("out.json", "earlier\n");
        std::vector<std::string> args{"--fixed-time", "0", "--lib", dir_, flag, at("fifo")};
        if (!logIsPipe) args.insert(args.end(), {"--log", at("run.log")});
        if (std::string(flag) != "--json") args.insert(args.end(), {"--json", at("out.json")});
        args.push_back(at("program.vx"));
        const int err = ::open(at("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t pid = start_velix(args, {.stderrFd = err});
        ::close(err);
        ASSERT_GT(pid, 0);
        ::usleep(300000);
        ::kill(pid, SIGTERM);
        bool late = false;
        const int status = wait_within(pid, 5, &late);
        ASSERT_FALSE(late) << flag << ": the run went on waiting for the pipe's reader after the signal";
        ASSERT_TRUE(WIFSIGNALED(status)) << flag << ": exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), SIGTERM) << flag;
        const std::string log = read_text(at(logIsPipe ? "stderr.txt" : "run.log"));
        EXPECT_EQ(log.rfind("ERROR: The run was stopped by SIGTERM.\n", 0), 0u) << flag << "\n" << log;
        EXPECT_EQ(read_text(at("out.json")), "earlier\n") << flag;
        EXPECT_FALSE(fs::exists(at("ost.csv"))) << flag;
    }
}

TEST_F(CommandFiles, AStopEndsTheWaitForRoomInTheListingsPipe) {
    // `velix prog.vx | reader` with a reader that does not read: the
    // listing's write waited in the kernel until the reader read (6 s in
    // the report).  The stop ends the run once the pipe is full, on
    // standard output and on a named pipe given as --listing.  Three steps
    // of 46 KB of listing each: the second step's end fills the pipe.
    const std::string step =
        "proc velix data=hs method=ml pall;\n"
        "   lineqs x1 = l1 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x4 = l4 F1 + E4;\n"
        "   std F1 = 1, E1-E4 = ve1-ve4;\n"
        "run;\n";
    write("program.vx", step + step + step);
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    for (const bool named : {false, true}) {
        const char* what = named ? "--listing fifo" : "standard output";
        int pipe[2];
        if (named) {
            pipe[0] = ::open(at("fifo").c_str(), O_RDONLY | O_NONBLOCK);
            pipe[1] = -1;
        } else {
            ASSERT_EQ(::pipe(pipe), 0);
        }
        ASSERT_GE(pipe[0], 0);
        std::vector<std::string> args{"--fixed-time", "0", "--lib", dir_, "--log", at("run.log")};
        if (named) args.insert(args.end(), {"--listing", at("fifo")});
        args.push_back(at("program.vx"));
        const pid_t pid = start_velix(args, {.stdoutFd = pipe[1]});
        if (!named) ::close(pipe[1]);
        ASSERT_GT(pid, 0);
        // The pipe holds 64 KiB (in pages a write may leave part empty); the
        // listing is longer.  Full: more than half of it held, and no more
        // coming for 0.3 s.
        const int room = ::fcntl(pipe[0], F_GETPIPE_SZ);
        int held = 0;
        for (int k = 0, still = 0; k < 2000 && !(held > room / 2 && still >= 30); ++k) {
            ::usleep(10000);
            const int before = held;
            ::ioctl(pipe[0], FIONREAD, &held);
            still = held == before ? still + 1 : 0;
        }
        ASSERT_GT(held, room / 2) << what << ": the listing never filled the pipe";
        ::kill(pid, SIGTERM);
        bool late = false;
        const int status = wait_within(pid, 5, &late);
        ::close(pipe[0]);
        ASSERT_FALSE(late) << what << ": the run waited for the reader after the signal";
        ASSERT_TRUE(WIFSIGNALED(status)) << what << ": exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), SIGTERM) << what;
        // One ERROR line: the write the stop cut short is no lost listing.
        const std::string log = read_text(at("run.log"));
        const auto lines = log_messages(log);
        const auto errors = std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("ERROR:", 0) == 0; });
        EXPECT_EQ(errors, 1) << what << "\n" << log;
        EXPECT_NE(log.find("ERROR: The run was stopped by SIGTERM.\n"), std::string::npos) << what << "\n" << log;
    }
}

// Every message text of the JSON document (of its steps and of the run),
// split into lines.
std::set<std::string> json_message_lines(const velix::test::JsonValue& doc) {
    std::set<std::string> out;
    auto add = [&](const velix::test::JsonValue& messages) {
        for (size_t m = 0; m < messages.size(); ++m) {
            std::istringstream in(messages[m]["text"].str());
            for (std::string line; std::getline(in, line);) out.insert(line);
        }
    };
    for (size_t s = 0; s < doc["steps"].size(); ++s) add(doc["steps"][s]["messages"]);
    add(doc["messages"]);
    return out;
}

TEST(CommandFilesDocument, EveryMessageOfTheLogIsInTheDocument) {
    // The NOTE on the observations listwise deletion left out and the NOTE
    // on R's row-label column were in the log only, though the document
    // promises every message, and so was the NOTE after a failed step.
    // Checked on the example programs, on the hs data with row labels and
    // missing values, and on a step that fails.
    std::vector<std::pair<std::string, std::string>> programs;
    for (const auto& e : fs::directory_iterator(fs::path(velix::test::data_path("")) / "../../examples"))
        if (e.path().extension() == ".vx") programs.emplace_back(e.path().filename(), read_text(e.path()));
    ASSERT_FALSE(programs.empty());
    programs.emplace_back("missing values", std::string(kProgram).replace(std::string(kProgram).find("data=hs"), 7,
                                                                          "data=labelled"));
    // A step that fails, and says so after its ERROR line in a NOTE.
    programs.emplace_back("a failed step", std::string(kProgram).replace(std::string(kProgram).find("data=hs"), 7,
                                                                         "data=nosuch"));
    // labelled.csv: hs with R's unnamed row-label column and a missing x2
    // in every tenth row.
    const std::string folder = velix::test::own_folder("command_files_document");
    fs::copy_file(velix::test::data_path("hs.csv"), folder + "/hs.csv", fs::copy_options::overwrite_existing);
    {
        std::ifstream hs(velix::test::data_path("hs.csv"));
        std::ofstream out(folder + "/labelled.csv");
        std::string line;
        std::getline(hs, line);
        out << "\"\"," << line << "\n";
        const size_t x2 = std::count(line.begin(), line.begin() + static_cast<long>(line.find("x2")), ',');
        for (int row = 1; std::getline(hs, line); ++row) {
            if (row % 10 == 0) {
                size_t at = 0;
                for (size_t k = 0; k < x2; ++k) at = line.find(',', at) + 1;
                line.replace(at, line.find(',', at) - at, "");
            }
            out << "\"" << row << "\"," << line << "\n";
        }
    }
    for (const auto& [name, text] : programs) {
        const auto r = velix::test::run_velix(text, {}, {"--lib", folder});
        ASSERT_FALSE(r.json.is_null()) << name << "\n" << r.log;
        const auto lines = json_message_lines(r.json);
        const auto logged = log_messages(r.log);
        EXPECT_FALSE(logged.empty()) << name;
        for (const std::string& line : logged) EXPECT_TRUE(lines.count(line)) << name << ": not in the document: " << line;
    }
    fs::remove_all(folder);
}

TEST_F(CommandFiles, WhatWaitsForADocumentWrittenInPlaceWaitsInTheTemporaryFolder) {
    // A document written in place (a device, a pipe) has no folder of its
    // own: its items beyond 1 MB wait in the temporary folder, which was
    // /tmp whatever $TMPDIR said.  Here $TMPDIR names a folder that does
    // not exist, and the error names it.  hs7: the hs data in 43 BY
    // groups of seven pupils, whose items take 1.3 MB.
    velix::test::write_hs_by_pupils(at("hs7.csv"));
    write("by.vx", "proc velix data=hs7 method=ml pall;\nby g;\nvar x1-x3;\n"
                   "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = vf, E1-E3 = ve1-ve3;\nrun;\n");
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("TMPDIR", at("missing").c_str(), 1);
    const pid_t pid = start_velix({"--lib", dir_, "--json", "/dev/null", "--log", at("run.log"), at("by.vx")});
    if (before != nullptr)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    const int status = wait_for(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << read_text(at("run.log"));
    EXPECT_NE(read_text(at("run.log")).find("ERROR: The JSON document was not written to /dev/null (No such file or "
                                            "directory in the temporary folder " + at("missing") + ")."),
              std::string::npos)
        << read_text(at("run.log"));
}

TEST_F(CommandFiles, AProgramThatIsNoFileTakesTheWorkingFolderAsItsLibrary) {
    // `velix <(cat prog.vx)`: the program's folder is one of devices
    // (/dev/fd), where data=hs was looked for and output data sets made.
    // Here the program comes through a named pipe in a folder without the
    // data; the folder the command runs in has it.
    ASSERT_EQ(::mkdir(at("pipes").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(at("pipes/program.vx").c_str(), 0600), 0);
    const fs::path here = fs::current_path();
    fs::current_path(dir_);
    const int err = ::open(at("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = start_velix({"--fixed-time", "0", "--log", at("run.log"), at("pipes/program.vx")}, {.stderrFd = err});
    fs::current_path(here);
    ::close(err);
    ASSERT_GT(pid, 0);
    std::ofstream(at("pipes/program.vx")) << kProgram;
    const int status = wait_for(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_text(at("run.log")) << read_text(at("stderr.txt"));
    EXPECT_TRUE(fs::exists(at("ost.csv")));
    EXPECT_FALSE(fs::exists(at("pipes/ost.csv")));
}

TEST_F(CommandFiles, AnOptionTheCommandCannotUseIsSaid) {
    // Each of these ran with exit status 0 and not a word: an unknown
    // option name, a value that is no number or out of range, no name, a
    // clock that is no number, a JSON document with no name.  They are
    // usage errors (status 3), as --option LINESIZE without "=" is.
    const std::vector<std::vector<std::string>> usage = {
        {"--option", "LINESZE=80"}, {"--option", "LINESIZE=abc"}, {"--option", "LINESIZE=10"},
        {"--option", "=80"},        {"--fixed-time", "yesterday"}, {"--json", ""},
    };
    for (const auto& args : usage) {
        std::string err;
        const int status = run(args, &err);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << args[0] << " " << args[1] << "\n" << err;
        EXPECT_NE(err.find("velix: "), std::string::npos) << args[0] << " " << args[1];
        EXPECT_FALSE(fs::exists(at("ost.csv"))) << args[0] << " " << args[1];
    }
    std::string err;
    int status = run({"--option", "linesize=80", "--option", "PROBSIG=2"}, &err);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;
    // In an OPTIONS statement each of them is a WARNING that names it, and
    // the options the statement gives rightly are set (LINESIZE=80: the
    // titles are centred in 80 characters, not in the default 132).
    // (Inside a step as between steps.)
    write("options.vx", std::string("options ls=80 nocenter linesize=80 linsize=80;\n") + kProgram +
                            "proc velix data=hs;\noptions pagesze=40;\nlineqs x1 = F1 + E1, x2 = l2 F1 + E2;\nstd F1 = 1, E1-E2 = ve1-ve2;\nrun;\n");
    const int out = ::open(at("listing.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    status = wait_for(start_velix({"--lib", dir_, "--log", at("run.log"), at("options.vx")}, {.stdoutFd = out}));
    ::close(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto warnings = log_messages(read_text(at("run.log")));
    for (const char* name : {"1: LS", "1: NOCENTER", "1: LINSIZE", "7: PAGESZE"}) {
        const std::string expected = std::string("WARNING: line ") + name + " is not a host option";
        EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [&](const std::string& w) { return w.rfind(expected, 0) == 0; }))
            << name << "\n" << read_text(at("run.log"));
    }
    std::istringstream listing(read_text(at("listing.txt")));
    size_t widest = 0;
    for (std::string line; std::getline(listing, line);) widest = std::max(widest, line.size());
    EXPECT_GT(widest, 0u);
    EXPECT_LT(widest, 100u);
}

}  // namespace
