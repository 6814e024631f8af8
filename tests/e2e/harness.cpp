#include "harness.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/fixtures.h"
#include "tests/support/open_files.h"

namespace fs = std::filesystem;

namespace velix::test {
namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// A message of one byte with room for a descriptor beside it (SCM_RIGHTS).
struct DescriptorMessage {
    char control[CMSG_SPACE(sizeof(int))] = {};
    char byte = 0;
    iovec io{&byte, 1};
    msghdr msg{};
    DescriptorMessage() {
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
    }
    DescriptorMessage(const DescriptorMessage&) = delete;
    DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

// In the child: makes its every fsync wait for the answer of a supervisor
// (a seccomp user notification) and sends the descriptor the supervisor
// answers through over the socket `to`.  Once the supervisor has the
// notification, only a fatal signal ends the wait (a stop signal that the
// command handles is taken when the fsync returns).
bool install_sync_gate(int to) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    long gate = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                          SECCOMP_FILTER_FLAG_NEW_LISTENER | SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV, &program);
    // Before Linux 5.19 a signal ends the wait, and the fsync, begun
    // again after the handler, waits anew: the stop is taken all the same.
    if (gate < 0 && errno == EINVAL)
        gate = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program);
    if (gate < 0) return false;
    DescriptorMessage m;
    cmsghdr* c = CMSG_FIRSTHDR(&m.msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    const int fd = static_cast<int>(gate);
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    return ::sendmsg(to, &m.msg, 0) == 1;
}

// In the parent: the descriptor the child sent over `from`; -1 when none.
int receive_sync_gate(int from) {
    DescriptorMessage m;
    if (::recvmsg(from, &m.msg, MSG_CMSG_CLOEXEC) != 1) return -1;
    const cmsghdr* c = CMSG_FIRSTHDR(&m.msg);
    if (c == nullptr || c->cmsg_type != SCM_RIGHTS) return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    return fd;
}

}  // namespace

bool hold_first_sync(int pid, int gate, void (*whileHeld)(int pid)) {
    bool held = false;
    for (;;) {
        pollfd p{gate, POLLIN, 0};
        // Every 50 ms: whether the child has ended (it stays to be waited for).
        if (::poll(&p, 1, 50) <= 0) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
                break;
            continue;
        }
        if ((p.revents & POLLIN) == 0) break;
        seccomp_notif request{};
        if (::ioctl(gate, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) continue;
        if (!held) whileHeld(pid);
        held = true;
        seccomp_notif_resp answer{};
        answer.id = request.id;
        answer.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        ::ioctl(gate, SECCOMP_IOCTL_NOTIF_SEND, &answer);
    }
    ::close(gate);
    return held;
}

std::string data_path(const std::string& file) {
    return fixture_path(file);
}

const Command kVelix{"velix", VELIX_EXE}, kBaseline{"velix_baseline", VELIX_BASELINE_EXE};

RunResult run_velix(const std::string& program, const std::vector<std::string>& dataFiles,
                    const std::vector<std::string>& extraArgs, const Command& command) {
    static std::atomic<int> counter{0};
    fs::path dir = fs::temp_directory_path() /
                   ("velix-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& f : dataFiles) fs::copy_file(data_path(f), dir / f);
    {
        std::ofstream out(dir / "program.vx");
        out << program;
    }
    std::string cmd = quote(command.path) + " --fixed-time 0 --json " + quote((dir / "out.json").string());
    for (const auto& a : extraArgs) cmd += " " + quote(a);
    cmd += " " + quote((dir / "program.vx").string());
    cmd += " >" + quote((dir / "listing.txt").string()) + " 2>" + quote((dir / "log.txt").string());
    int status = std::system(cmd.c_str());

    RunResult r;
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.listing = read_text(dir / "listing.txt");
    r.log = read_text(dir / "log.txt");
    if (fs::exists(dir / "out.json")) {
        r.jsonText = read_text(dir / "out.json");
        r.json = JsonValue::parse(r.jsonText);
    }
    fs::remove_all(dir);
    return r;
}

int run_velix_args(const std::vector<std::string>& args, const std::vector<std::string>& wrapper) {
    std::string cmd;
    for (const auto& w : wrapper) cmd += quote(w) + " ";
    cmd += quote(VELIX_EXE);
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " >/dev/null 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_hs_by_pupils(const std::string& path) {
    std::ifstream hs(data_path("hs.csv"));
    std::ofstream hs7(path);
    std::string line;
    std::getline(hs, line);
    hs7 << "g," << line << "\n";
    for (int k = 0; std::getline(hs, line); ++k) hs7 << k / 7 << "," << line << "\n";
}

int wait_within(int pid, double seconds, bool* late) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    *late = false;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            *late = true;
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        }
        ::usleep(10000);
    }
    return status;
}

int start_velix(const std::vector<std::string>& args, const ChildSetup& setup) {
    // Everything the child needs is made before the fork.
    std::vector<std::string> words{VELIX_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int gate[2] = {-1, -1};
    if (setup.syncGate != nullptr && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gate) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid != 0) {
        if (setup.syncGate == nullptr) return pid;
        ::close(gate[1]);
        *setup.syncGate = pid > 0 ? receive_sync_gate(gate[0]) : -1;
        ::close(gate[0]);
        return pid;
    }
    // The command runs as from an interactive shell, whatever this process
    // inherited: a test started as a background job has SIGINT ignored, and
    // the command rightly keeps an ignored stop signal ignored.
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.stdinFd >= 0) ::dup2(setup.stdinFd, STDIN_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(setup.stdoutFd >= 0 ? setup.stdoutFd : null, STDOUT_FILENO);
    ::dup2(setup.stderrFd >= 0 ? setup.stderrFd : null, STDERR_FILENO);
    if (setup.fileSizeLimit > 0) {
        const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    // Root keeps after exec only the capabilities of this bounding set.
    if (setup.obeyPermissions && ::geteuid() == 0 &&
        (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
         ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0 ||
         ::prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0) != 0))
        ::_exit(126);
    if (setup.noUnnamedFiles && !refuse_unnamed_files()) ::_exit(126);
    if (setup.unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(126);
    if (setup.syncGate != nullptr && !install_sync_gate(gate[1])) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

std::vector<const JsonValue*> RunResult::items(size_t step, const std::string& type,
                                               const std::string& name) const {
    std::vector<const JsonValue*> out;
    const JsonValue& output = json["steps"][step]["output"];
    for (size_t i = 0; i < output.size(); ++i) {
        const JsonValue& item = output[i];
        if (item["type"].str() != type) continue;
        if (!name.empty() && item["name"].str() != name) continue;
        out.push_back(&item);
    }
    return out;
}

const JsonValue& RunResult::table(size_t step, const std::string& name) const {
    auto found = items(step, "table", name);
    static const JsonValue null;
    return found.empty() ? null : *found.front();
}

std::vector<int> RunResult::messages(size_t step, int group) const {
    std::vector<int> out;
    const JsonValue& msgs = json["steps"][step]["messages"];
    for (size_t i = 0; i < msgs.size(); ++i)
        if (static_cast<int>(msgs[i]["group"].number()) == group)
            out.push_back(static_cast<int>(msgs[i]["number"].number()));
    return out;
}

bool RunResult::has_message(int group, int number, size_t step) const {
    const std::vector<int> numbers = messages(step, group);
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

int RunResult::return_code(size_t step) const { return static_cast<int>(json["steps"][step]["returnCode"].number()); }

size_t groups_opened(const RunResult& r, size_t step, const std::string& name) {
    size_t n = 0;
    for (const auto* g : r.items(step, "groupOpen"))
        if ((*g)["name"].str() == name) ++n;
    return n;
}

std::string own_folder(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(VELIX_BINARY_DIR) / (name + "-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return remove_at_exit(dir.string());
}

const JsonValue& cell(const JsonValue& table, size_t row, const std::string& column) {
    const JsonValue& cols = table["columns"];
    for (size_t c = 0; c < cols.size(); ++c)
        if (cols[c]["name"].str() == column) return table["rows"][row][c];
    static const JsonValue null;
    return null;
}

const JsonValue& result_table(const RunResult& r, size_t step) {
    static const JsonValue null;
    const JsonValue* found = &null;
    for (const JsonValue* t : r.items(step, "table", "ParameterEstimates"))
        if ((*t)["title"].str() == "Optimization Results") found = t;
    return *found;
}

std::map<std::string, double> column_by_parameter(const JsonValue& table, const std::string& column) {
    std::map<std::string, double> out;
    for (size_t row = 0; row < table["rows"].size(); ++row) {
        const JsonValue& v = cell(table, row, column);
        out[cell(table, row, "Parameter").str()] = v.is_number() ? v.number() : std::nan("");
    }
    return out;
}

std::map<std::string, double> factoid_values(const JsonValue& factoid) {
    std::map<std::string, double> out;
    const JsonValue& e = factoid["entries"];
    for (size_t i = 0; i < e.size(); ++i) out[e[i]["label"].str()] = e[i]["value"].number();
    return out;
}

double stop_entry(const RunResult& r, const std::string& label, size_t step) {
    const auto stops = r.items(step, "factoid", "IterStop");
    if (stops.empty()) return NAN;
    const auto values = factoid_values(*stops.back());
    return values.count(label) ? values.at(label) : NAN;
}

double final_f(const RunResult& r, size_t step) { return stop_entry(r, "Objective Function", step); }

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Rows::types() const {
    std::vector<std::string> t;
    for (const auto& r : cells) t.push_back(r.empty() ? std::string() : r[0]);
    return t;
}

size_t Rows::column(const std::string& name) const {
    for (size_t j = 0; j < header.size(); ++j)
        if (header[j] == name) return j;
    return header.size();
}

Rows read_rows(const std::string& path) {
    Rows r;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::stringstream s(line);
        std::string c;
        while (std::getline(s, c, ',')) cells.push_back(c);
        if (r.header.empty())
            r.header = cells;
        else
            r.cells.push_back(cells);
    }
    return r;
}

double stat_row(const Rows& ram, const std::string& key) {
    for (const auto& row : ram.cells)
        if (row.size() > 5 && row[0] == "STAT" && row[1] == key) return row[5] == "." ? NAN : std::stod(row[5]);
    return NAN;
}

}  // namespace velix::test
