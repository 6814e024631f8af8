// Output files written to a scratch file and moved into place when
// complete (see output_file.h).
#include "platform/output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/messages.h"
#include "platform/spill.h"
#include "platform/stop_signals.h"
#include "velix/codes.h"
#include "velix/messages.h"

namespace velix::platform {

namespace fs = std::filesystem;

namespace {

// The folder of `path` ("." for a bare name).
std::string folder_of(const std::string& path) {
    const fs::path dir = fs::path(path).parent_path();
    return dir.empty() ? "." : dir.string();
}

// The path through which an open file descriptor can be linked to a name:
// an unnamed file can be given one only through it.
std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// How many fresh names are tried before a clash is taken as a failure:
// names of 64 random bits clash only when something makes them on purpose.
constexpr int kNameTries = 16;

// Bits a test makes the next `count` fresh names draw (inject_name_bits).
struct InjectedBits {
    uint64_t bits = 0;
    int count = 0;
};

InjectedBits& injected_bits() {
    static InjectedBits injected;
    return injected;
}

// 64 bits from the system's random source; from the clock and the
// process where that cannot be read (the exclusive creation still keeps
// any file that is there).
uint64_t random_bits() {
    if (InjectedBits& injected = injected_bits(); injected.count > 0) {
        --injected.count;
        return injected.bits;
    }
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, 0) == static_cast<ssize_t>(sizeof bits)) return bits;
    static uint64_t counter = 0;
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return now ^ (static_cast<uint64_t>(::getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ULL);
}

// A name beside `path` for the output `tag` of this process that no other
// run can foresee (".velix-<pid>-<tag>-<16 hex digits>.tmp"), so that
// moving a file to it or from it is a rename within one file system.
std::string fresh_name_beside(const std::string& path, const std::string& tag) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random_bits()));
    const std::string name = ".velix-" + std::to_string(::getpid()) + "-" + tag + "-" + digits + ".tmp";
    const fs::path dir = fs::path(path).parent_path();
    return (dir.empty() ? fs::path(name) : dir / name).string();
}

// Makes a fresh name beside `path` with `make` (true, or false with errno
// set), which must refuse a name that exists (EEXIST): a file, a link or a
// pipe someone put there is never opened, followed, emptied or removed,
// and another fresh name is tried.  The name made, or "" with errno set.
template <class Make>
std::string make_fresh_name(const std::string& path, const std::string& tag, Make make) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        std::string name = fresh_name_beside(path, tag);
        if (make(name)) return name;
        if (errno != EEXIST) return "";
    }
    return "";
}

// A new name beside `path` for the file `from` (a hard link; `flags`
// AT_SYMLINK_FOLLOW to link the file a link names); "" with errno set.
std::string link_fresh(const std::string& from, const std::string& path, const std::string& tag, int flags) {
    return make_fresh_name(path, tag, [&](const std::string& name) {
        return ::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), flags) == 0;
    });
}

// Creates the file `path` for writing with the permissions `mode` (less
// the umask), only when no file of that name exists (nor a link: none is
// followed); -1 with errno set.
int create_exclusive(const std::string& path, mode_t mode = 0666) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

// The permission bits of a file (its set-ID bits are not given to new
// contents).
constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

// The permissions a scratch file for `target` is made with: those of the
// file it will replace, so that it is never more open than that file
// while it is written (the umask may take more away until the file is
// complete: keep_owner_and_mode); for a new file those of any new file,
// which the umask then decides.
mode_t scratch_mode(const std::string& target) {
    struct stat st;
    return ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & kPermissionBits : 0666;
}

// Gives the complete scratch file `fd` the permissions of the file
// `target` it replaces and, where this process may (root; the group alone
// for a member of it), its owner and group: a private file stays private.
// Nothing is changed for a new file.  The owner is given first, as a
// change of owner may clear permission bits.
void keep_owner_and_mode(int fd, const std::string& target) {
    struct stat st, mine;
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::fstat(fd, &mine) != 0) return;
    const bool sameOwner = mine.st_uid == st.st_uid && mine.st_gid == st.st_gid;
    if (!sameOwner && ::fchown(fd, st.st_uid, st.st_gid) != 0 && mine.st_gid != st.st_gid &&
        ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Neither may be given (not root, not a member of the group): the
        // file is this user's, as a new one would be.
    }
    if ((mine.st_mode & kPermissionBits) != (st.st_mode & kPermissionBits) &&
        ::fchmod(fd, st.st_mode & kPermissionBits) != 0) {
        // A file system without permissions (FAT) keeps its own.
    }
}

// What an injected failure counts: the moves of an output file, its
// flushes to the disk, or the hard links that give an earlier file its
// second name.
enum class Counted { kMove, kSync, kSecondName };

struct Injection {
    Counted counted;
    int nth;
    int error;   // errno of the failure, 0 for none
    int signal;  // raised before the move, 0 for none
    int seen;
};

std::vector<Injection>& injections() {
    static std::vector<Injection> all;
    return all;
}

// The errno of an injected failure of this call among those `counted`,
// 0 when none fires; raises an injected signal first.
int injected_failure(Counted counted) {
    int injected = 0;
    for (Injection& inj : injections()) {
        if (inj.counted != counted || inj.seen >= inj.nth || ++inj.seen < inj.nth) continue;
        if (inj.signal != 0) std::raise(inj.signal);
        if (injected == 0) injected = inj.error;
    }
    return injected;
}

// Flushes the folder `folder` to the disk, so that the names just made or
// changed in it stay after a power loss.  A failure is not reported: the
// rename it follows is done and cannot be taken back.
void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Renames `from` to `to` and flushes the folder; 0, or the errno of the
// failure.
int rename_file(const std::string& from, const std::string& to) {
    if (const int injected = injected_failure(Counted::kMove); injected != 0) return injected;
    if (::rename(from.c_str(), to.c_str()) != 0) return errno != 0 ? errno : EIO;
    sync_folder(folder_of(to));
    return 0;
}

// Removes the file `path`; 0, or the errno of the failure.
int remove_file(const std::string& path) {
    if (const int injected = injected_failure(Counted::kMove); injected != 0) return injected;
    return ::unlink(path.c_str()) == 0 ? 0 : (errno != 0 ? errno : EIO);
}

// The folder `folder` made absolute with its links resolved; "" when it
// cannot be (it does not exist, it cannot be searched).
std::string real_folder(const std::string& folder) {
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr) return "";
    std::string out = real;
    std::free(real);
    return out;
}

// The target of the symbolic link `path`; "" when it cannot be read.
std::string link_target(const std::string& path) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    return ec ? "" : target.string();
}

// Whether the resolved folder `folder` is a process's table of open files
// (/proc/<pid>/fd, /proc/<pid>/task/<tid>/fd), whose entries lead to the
// files it has open; *pid is then the process's number as written there.
bool descriptor_table(const std::string& folder, std::string* pid) {
    constexpr size_t kProc = 6;  // "/proc/"
    if (folder.rfind("/proc/", 0) != 0 || folder.size() < kProc + 4 || folder.compare(folder.size() - 3, 3, "/fd") != 0)
        return false;
    *pid = folder.substr(kProc, folder.find('/', kProc) - kProc);
    return true;
}

bool all_digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

OutputPlace output_place(const std::string& target) {
    // The system's own limit on a chain of links (ELOOP): a longer chain
    // or a loop is opened as it is, and the open says why it fails.
    constexpr int kMostLinks = 40;
    std::string path = target;
    for (int link = 0; link < kMostLinks; ++link) {
        const std::string name = fs::path(path).filename().string();
        if (name.empty() || name == "." || name == "..") return {OutputPlace::kInPlace, path};
        const std::string folder = real_folder(folder_of(path));
        // A folder that is not there: the scratch file's open says so.
        if (folder.empty()) return {OutputPlace::kFile, path};
        const std::string file = (folder == "/" ? "" : folder) + "/" + name;
        if (std::string pid; descriptor_table(folder, &pid)) {
            // Its entries are links that no name can follow to the file
            // (a pipe has none, and a deleted file's is gone): the file is
            // reached through the descriptor, the command's own directly.
            if (pid == std::to_string(::getpid()) && all_digits(name) && name.size() < 10)
                return {OutputPlace::kDescriptor, file, std::stoi(name)};
            return {OutputPlace::kInPlace, file};
        }
        struct stat st;
        if (::lstat(file.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {OutputPlace::kFile, file};
        if (!S_ISLNK(st.st_mode)) return {OutputPlace::kInPlace, file};
        const std::string next = link_target(file);
        if (next.empty()) return {OutputPlace::kInPlace, file};
        path = next[0] == '/' ? next : folder + "/" + next;
    }
    return {OutputPlace::kInPlace, target};
}

bool ReasonFileBuf::open(const std::string& path) {
    close();
    return start(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

bool ReasonFileBuf::open_new(const std::string& path, mode_t mode) {
    close();
    return start(create_exclusive(path, mode));
}

bool ReasonFileBuf::open_in_place(const std::string& target) {
    const OutputPlace place = output_place(target);
    if (place.kind == OutputPlace::kDescriptor) return open_copy_of(place.descriptor);
    close();
    // A named pipe waits for its reader only until a stop comes.
    return start(open_for_writing(place.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

bool ReasonFileBuf::open_copy_of(int fd) {
    close();
    return start(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

bool ReasonFileBuf::open_unnamed(const std::string& folder, mode_t mode) {
    close();
    return start(open_unnamed_in(folder, O_WRONLY, mode));
}

// Takes the file just opened as `fd` (-1: none), with no failure yet.
bool ReasonFileBuf::start(int fd) {
    failure = 0;
    failurePlace.clear();
    fd_ = fd;
    if (fd_ < 0) return false;
    struct stat st;
    pipe_ = ::fstat(fd_, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
    if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferBytes);
    setp(buffer_.get(), buffer_.get() + kBufferBytes);
    return true;
}

bool ReasonFileBuf::write_out(const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = -1;
        if (fd_ < 0)
            errno = EBADF;
        else if (pipe_ && !wait_writable(fd_))
            errno = EINTR;  // a stop came while the pipe was full
        else  // a pipe with room takes PIPE_BUF bytes without waiting in the kernel
            w = ::write(fd_, data, pipe_ ? std::min<size_t>(n, PIPE_BUF) : n);
        const bool wait = errno == EINTR || errno == EAGAIN;
        if (w < 0 && (pipe_ ? wait && stop_signal() == 0 : errno == EINTR)) continue;
        if (w <= 0) {
            if (failure == 0) failure = w < 0 && errno != 0 ? errno : EIO;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Writes the buffer out and empties it (what a failed write kept is lost:
// the file is not whole either way).
bool ReasonFileBuf::drain() {
    const bool ok = write_out(pbase(), static_cast<size_t>(pptr() - pbase()));
    setp(pbase(), epptr());
    return ok;
}

ReasonFileBuf::int_type ReasonFileBuf::overflow(int_type c) {
    if (fd_ < 0 || !drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize ReasonFileBuf::xsputn(const char_type* s, std::streamsize n) {
    if (fd_ < 0) return 0;
    if (n > epptr() - pptr()) {
        if (!drain()) return 0;
        // A long text goes to the file at once rather than through the buffer.
        if (n >= static_cast<std::streamsize>(kBufferBytes)) return write_out(s, static_cast<size_t>(n)) ? n : 0;
    }
    std::memcpy(pptr(), s, static_cast<size_t>(n));
    pbump(static_cast<int>(n));
    return n;
}

int ReasonFileBuf::sync() { return fd_ >= 0 && drain() ? 0 : -1; }

bool ReasonFileBuf::sync_to_disk() {
    if (fd_ < 0 || !drain()) return false;
    int e = injected_failure(Counted::kSync);
    // EINVAL and EROFS: a file that cannot be flushed (a pipe put where
    // the scratch file was to be) holds nothing a disk could lose.
    if (e == 0 && ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) e = errno != 0 ? errno : EIO;
    if (e != 0 && failure == 0) failure = e;
    return failure == 0;
}

bool ReasonFileBuf::close() {
    if (fd_ < 0) return failure == 0;
    drain();
    if (::close(fd_) != 0 && failure == 0) failure = errno != 0 ? errno : EIO;
    fd_ = -1;
    setp(nullptr, nullptr);
    return failure == 0;
}

bool OutputFile::open(const std::string& target, const std::string& tag, std::string* error) {
    discard();
    old_.clear();
    hadTarget_ = oldMoved_ = replaced_ = false;
    target_ = target;
    tag_ = tag;
    out_.clear();
    errno = 0;
    const OutputPlace place = output_place(target);
    place_ = place.path;
    if (place.kind != OutputPlace::kFile) {
        if (buf_.open_in_place(target)) {
            inPlace_ = true;
            return true;
        }
    } else if (buf_.open_unnamed(folder_of(place_), scratch_mode(place_)) &&
               ::access(descriptor_path(buf_.fd()).c_str(), F_OK) == 0) {
        // Unnamed only when it can be given a name at the end.
        unnamed_ = true;
        return true;
    } else {
        buf_.close();
        const mode_t mode = scratch_mode(place_);
        scratch_ = make_fresh_name(place_, tag, [&](const std::string& name) { return buf_.open_new(name, mode); });
        if (!scratch_.empty()) return true;
    }
    *error = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

bool OutputFile::writable() {
    if (!buf_.is_open()) return false;
    out_.flush();
    return out_.good() && buf_.failure == 0;
}

std::string OutputFile::folder() const { return inPlace_ || place_.empty() ? "" : folder_of(place_); }

std::string OutputFile::failure() const {
    const char* reason = std::strerror(buf_.failure != 0 ? buf_.failure : EIO);
    if (buf_.failurePlace.empty()) return reason;
    return format_message(kMsgHost, kMsgHostReasonInTemporaryFolder, reason, buf_.failurePlace.c_str());
}

bool OutputFile::complete(std::string* error) {
    // What is written in place is not the file's whole content until the
    // run ends (a terminal, a pipe cannot be flushed to a disk).  The
    // unnamed file stays open: closing it would delete it.
    if (!inPlace_ && buf_.is_open()) keep_owner_and_mode(buf_.fd(), place_);
    const bool written = writable() && (inPlace_ || buf_.sync_to_disk()) && (unnamed_ || buf_.close());
    if (!written) {
        *error = failure();
        discard();
    }
    return written;
}

bool OutputFile::replace(std::string* error) {
    if (unnamed_) {
        scratch_ = link_fresh(descriptor_path(buf_.fd()), place_, tag_, AT_SYMLINK_FOLLOW);
        if (scratch_.empty()) {
            *error = std::strerror(errno != 0 ? errno : EIO);
            discard();
            return false;
        }
        unnamed_ = false;
        buf_.close();
    }
    if (!scratch_.empty()) {
        if (const int e = rename_file(scratch_, place_); e != 0) {
            *error = std::strerror(e);
            discard();
            return false;
        }
        scratch_.clear();
    }
    buf_.close();
    inPlace_ = false;
    replaced_ = true;
    return true;
}

bool OutputFile::commit(std::string* error) {
    if (!complete(error)) return false;
    if (replace(error)) return true;
    *error = "it cannot replace the file there: " + *error;
    return false;
}

namespace {

// Whether a name of the file `st` in the folder of `path` might be refused
// removal: in a sticky folder (/tmp) only the owner of the file or of the
// folder, or a privileged process, may remove one.
bool removal_may_be_refused(const std::string& path, const struct stat& st) {
    struct stat folder;
    if (::stat(folder_of(path).c_str(), &folder) != 0) return true;
    const uid_t me = ::geteuid();
    return (folder.st_mode & S_ISVTX) != 0 && st.st_uid != me && folder.st_uid != me;
}

}  // namespace

bool OutputFile::keep_old(std::string* error) {
    struct stat st;
    if (inPlace_ || ::lstat(place_.c_str(), &st) != 0) return true;
    const std::string oldTag = tag_ + "-old";
    hadTarget_ = true;
    // A second link that could not be removed would stay for good, a hard
    // link to another user's file that only its owner can remove: such a
    // file is moved aside, which asks that permission before anything is
    // made (and whose name can then be moved back).
    if (!removal_may_be_refused(place_, st)) {
        if (const int injected = injected_failure(Counted::kSecondName); injected != 0)
            errno = injected;
        else if (old_ = link_fresh(place_, place_, oldTag, 0); !old_.empty())
            return true;
    }
    // No second link (a file system without hard links, another user's
    // file): the file itself steps aside until the new one is in place,
    // to a name made first (empty) so that the rename replaces nothing of
    // anyone else's.
    old_ = make_fresh_name(place_, oldTag, [](const std::string& name) {
        const int fd = create_exclusive(name);
        return fd >= 0 && ::close(fd) == 0;
    });
    const int e = old_.empty() ? (errno != 0 ? errno : EIO) : rename_file(place_, old_);
    if (e != 0) {
        if (!old_.empty()) ::unlink(old_.c_str());
        *error = std::strerror(e);
        old_.clear();
        hadTarget_ = false;
        return false;
    }
    oldMoved_ = true;
    return true;
}

bool OutputFile::put_back(std::string* error) {
    const bool renameBack = hadTarget_ && (replaced_ || oldMoved_);
    int e = 0;
    if (renameBack)
        e = rename_file(old_, place_);
    else if (!hadTarget_ && replaced_)
        e = remove_file(place_);
    if (e != 0) {
        *error = std::strerror(e);
        return false;
    }
    // A second name that was renamed back is gone; a second link of a file
    // that stayed in place is left to forget_old.
    if (renameBack) old_.clear();
    hadTarget_ = oldMoved_ = replaced_ = false;
    return true;
}

bool OutputFile::forget_old(std::string* error) {
    if (!old_.empty()) {
        if (const int e = remove_file(old_); e != 0) {
            *error = std::strerror(e);
            return false;
        }
    }
    old_.clear();
    hadTarget_ = oldMoved_ = false;
    return true;
}

bool FolderLocks::take(const std::vector<std::string>& folders, const Notes& notes) {
    release();
    struct Folder {
        dev_t dev;
        ino_t ino;
        int fd;
        const std::string* name;
    };
    std::vector<Folder> opened;
    for (const std::string& folder : folders) {
        // A folder that is not there fails the commit itself, which says so.
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (errno != ENOENT && notes.unlocked != nullptr) notes.unlocked(folder, errno);
            if (fd >= 0) ::close(fd);
            continue;
        }
        opened.push_back({st.st_dev, st.st_ino, fd, &folder});
    }
    std::stable_sort(opened.begin(), opened.end(),
                     [](const Folder& a, const Folder& b) { return std::tie(a.dev, a.ino) < std::tie(b.dev, b.ino); });
    for (size_t k = 0; k < opened.size(); ++k) {
        const Folder& f = opened[k];
        if (k > 0 && f.dev == opened[k - 1].dev && f.ino == opened[k - 1].ino) {
            ::close(f.fd);
            continue;
        }
        fds_.push_back(f.fd);
        int error = 0;
        LockWait wait = wait_for_lock(f.fd, kQuietWaitMs, &error);
        if (wait == LockWait::kTimedOut) {
            if (notes.waiting != nullptr) notes.waiting(*f.name);
            wait = wait_for_lock(f.fd, -1, &error);
        }
        if (wait == LockWait::kRefused && notes.unlocked != nullptr) notes.unlocked(*f.name, error);
        if (wait == LockWait::kStopped) {
            for (size_t rest = k + 1; rest < opened.size(); ++rest) ::close(opened[rest].fd);
            release();
            return false;
        }
    }
    return true;
}

void FolderLocks::release() {
    // Closing the folder releases its lock.
    for (const int fd : fds_) ::close(fd);
    fds_.clear();
}

void inject_move_failure(int nthCall, int error) { injections().push_back(Injection{Counted::kMove, nthCall, error, 0, 0}); }

void inject_signal_before_move(int nthCall, int signal) {
    injections().push_back(Injection{Counted::kMove, nthCall, 0, signal, 0});
}

void inject_sync_failure(int nthCall, int error) { injections().push_back(Injection{Counted::kSync, nthCall, error, 0, 0}); }

void inject_second_name_failure(int nthCall, int error) {
    injections().push_back(Injection{Counted::kSecondName, nthCall, error, 0, 0});
}

void inject_name_bits(uint64_t bits, int count) { injected_bits() = InjectedBits{bits, count}; }

void clear_injected_move_failures() {
    injections().clear();
    injected_bits() = InjectedBits{};
}

void OutputFile::discard() {
    buf_.close();
    unnamed_ = false;
    inPlace_ = false;
    if (scratch_.empty()) return;
    std::error_code ec;
    fs::remove(scratch_, ec);
    scratch_.clear();
}

}  // namespace velix::platform
