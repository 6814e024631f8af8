// Runs the velix command on a program in a scratch folder and collects what
// it wrote: exit status, listing, log and the JSON document.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/support/json_reader.h"

namespace velix::test {

struct RunResult {
    int exitStatus = -1;
    std::string listing;
    std::string log;
    std::string jsonText;
    JsonValue json;  // null when no JSON was written

    // Every delivered output item of step k (0-based) with the given type
    // ("table", "note", ...) and, when not empty, name.
    std::vector<const JsonValue*> items(size_t step, const std::string& type,
                                        const std::string& name = "") const;
    // The first table of step k with the name; a null value when none.
    const JsonValue& table(size_t step, const std::string& name) const;
    // Numbers of the numbered messages of step k in group `group`.
    std::vector<int> messages(size_t step, int group) const;
    // Whether step k wrote message `number` of group `group`.
    bool has_message(int group, int number, size_t step = 0) const;
    // The return code of step k.
    int return_code(size_t step = 0) const;
};

// The whole text of a file (empty when it cannot be read).
std::string read_text(const std::string& path);

// Path of a file in tests/fixtures.
std::string data_path(const std::string& file);

// The commands a program can run on: velix as built, whose kernels run at
// the level of the processor's vector extensions, and velix_baseline,
// whose kernels run at the x86-64 baseline whatever the processor (what
// a processor without AVX2 runs).  Both must give the same bits.
struct Command {
    const char* level;  // names the command in a failing test
    const char* path;
};
extern const Command kVelix, kBaseline;

// Writes `program` to a fresh folder, copies the named data files from
// tests/fixtures beside it, and runs the command with `extraArgs`.
RunResult run_velix(const std::string& program, const std::vector<std::string>& dataFiles,
                    const std::vector<std::string>& extraArgs = {}, const Command& command = kVelix);

// Runs velix with exactly these arguments (no program of the harness),
// under the command `wrapper` when one is given (a tracer); returns the
// exit status.
int run_velix_args(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {});

// The user and group nobody: no file of the tests' own, nor any system
// folder, is theirs to write.
constexpr unsigned kNobody = 65534;

// What a child process started by start_velix meets besides its arguments.
struct ChildSetup {
    int stdinFd = -1;         // its standard input; this process's when negative
    int stdoutFd = -1;        // its standard output; /dev/null when negative
    int stderrFd = -1;        // its standard error; /dev/null when negative
    long fileSizeLimit = 0;   // when positive, caps in bytes every file it writes (RLIMIT_FSIZE)
    // Unnamed files (O_TMPFILE) are refused as on a file system that makes
    // none.
    bool noUnnamedFiles = false;
    // File permissions refuse it what they refuse any user, also when the
    // tests run as root (without the capabilities that override them: it
    // may not then replace another user's file in a sticky folder either).
    bool obeyPermissions = false;
    // Runs it as the unprivileged user nobody when the tests run as root,
    // so that a path it should never write (under /dev) is refused it.
    bool unprivileged = false;
    // When given, receives a descriptor through which the test holds each
    // of the child's flushes of a file to the disk (fsync) until it lets
    // it go on (hold_first_sync): the child is then, for certain, inside
    // the writing of a file.
    int* syncGate = nullptr;
};

// Holds the first fsync of the child `pid` started with a sync gate
// `gate` until `whileHeld` has run, then lets that one and every later
// one go on until the child ends; closes the gate.  False when no fsync
// came before the child ended.
bool hold_first_sync(int pid, int gate, void (*whileHeld)(int pid));

// Starts velix with exactly these arguments as a child process.  Returns
// its process id (wait for it with waitpid).
int start_velix(const std::vector<std::string>& args, const ChildSetup& setup = {});

// Waits up to `seconds` for the child started by start_velix, then kills
// it (SIGKILL): its status, and in *late whether it had to be killed.
int wait_within(int pid, double seconds, bool* late);

// Writes the hs data to `path` with a first variable g that puts each
// seven pupils in a BY group of their own (43 groups).
void write_hs_by_pupils(const std::string& path);

// Number of output groups of step k opened with the given name.
size_t groups_opened(const RunResult& r, size_t step, const std::string& name);

// A folder of this test process (under the build folder) for data sets the
// tests write; created when missing.
std::string own_folder(const std::string& name);

// The rows of a CSV data set: its header and every cell as text.
struct Rows {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> cells;
    // The first cell of each row (_TYPE_ of the data sets that have it).
    std::vector<std::string> types() const;
    // The index of the named column; header.size() when there is none.
    size_t column(const std::string& name) const;
};
Rows read_rows(const std::string& path);

// The number of the STAT row `key` of an OUTRAM= data set; NaN when it has
// no such row or the row holds a missing value.
double stat_row(const Rows& ram, const std::string& key);

// A cell of a table row by column name.
const JsonValue& cell(const JsonValue& table, size_t row, const std::string& column);

// The optimizer's table of the final estimates of step k ("Optimization
// Results"); a null value when none.
const JsonValue& result_table(const RunResult& r, size_t step = 0);

// A column of a table by its Parameter column; NaN where the cell holds no
// number (a missing standard error).
std::map<std::string, double> column_by_parameter(const JsonValue& table, const std::string& column);

// The values of the entries of a factoid table by label.
std::map<std::string, double> factoid_values(const JsonValue& factoid);

// An entry of the last "IterStop" factoid of step k (the optimization
// results), NaN when there is none; final_f is its objective function.
double stop_entry(const RunResult& r, const std::string& label, size_t step = 0);
double final_f(const RunResult& r, size_t step = 0);

}  // namespace velix::test
