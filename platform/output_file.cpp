// Output files written to a scratch file and moved into place when
// complete (see output_file.h).
#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/messages.h"
#include "platform/spill.h"
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

// Links `from` to the new name `to` (following `from` when it is a
// symbolic link only with AT_SYMLINK_FOLLOW in `flags`).  A file named `to`
// can only be a scratch file of an earlier process of this number that was
// killed while it had a name: it is replaced.
bool link_replacing(const std::string& from, const std::string& to, int flags) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0) return true;
        if (errno != EEXIST) return false;
        ::unlink(to.c_str());
    }
    return false;
}

// Gives the unnamed file open as `fd` the name `path`.
bool link_unnamed(int fd, const std::string& path) {
    return link_replacing(descriptor_path(fd), path, AT_SYMLINK_FOLLOW);
}

struct MoveInjection {
    int nth;
    int error;
    int seen;
};

std::vector<MoveInjection>& move_injections() {
    static std::vector<MoveInjection> all;
    return all;
}

std::vector<MoveInjection>& second_name_injections() {
    static std::vector<MoveInjection> all;
    return all;
}

// The errno of an injected failure of this call among those counted in
// `all`, 0 when none fires.
int injected_failure(std::vector<MoveInjection>& all) {
    int injected = 0;
    for (MoveInjection& inj : all) {
        if (inj.seen >= inj.nth) continue;
        if (++inj.seen == inj.nth && injected == 0) injected = inj.error;
    }
    return injected;
}

int injected_move_failure() { return injected_failure(move_injections()); }

// Renames `from` to `to`; 0, or the errno of the failure.
int rename_file(const std::string& from, const std::string& to) {
    if (const int injected = injected_move_failure(); injected != 0) return injected;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : (errno != 0 ? errno : EIO);
}

// Removes the file `path`; 0, or the errno of the failure.
int remove_file(const std::string& path) {
    if (const int injected = injected_move_failure(); injected != 0) return injected;
    return ::unlink(path.c_str()) == 0 ? 0 : (errno != 0 ? errno : EIO);
}

}  // namespace

std::string scratch_path_beside(const std::string& path, const std::string& tag) {
    const fs::path dir = fs::path(path).parent_path();
    const std::string name = ".velix-" + std::to_string(::getpid()) + "-" + tag + ".tmp";
    return (dir.empty() ? fs::path(name) : dir / name).string();
}

bool ReasonFileBuf::open(const std::string& path) {
    close();
    return start(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

bool ReasonFileBuf::open_unnamed(const std::string& folder) {
    close();
    return start(open_unnamed_in(folder, O_WRONLY, 0666));
}

// Takes the file just opened as `fd` (-1: none), with no failure yet.
bool ReasonFileBuf::start(int fd) {
    failure = 0;
    failurePlace.clear();
    fd_ = fd;
    if (fd_ < 0) return false;
    if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferBytes);
    setp(buffer_.get(), buffer_.get() + kBufferBytes);
    return true;
}

bool ReasonFileBuf::write_out(const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = fd_ >= 0 ? ::write(fd_, data, n) : (errno = EBADF, -1);
        if (w < 0 && errno == EINTR) continue;
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
    std::error_code ec;
    errno = 0;
    if (fs::exists(target, ec) && !fs::is_regular_file(target, ec)) {
        if (buf_.open(target)) {
            inPlace_ = true;
            return true;
        }
    } else if (buf_.open_unnamed(folder_of(target)) && ::access(descriptor_path(buf_.fd()).c_str(), F_OK) == 0) {
        // Unnamed only when it can be given a name at the end.
        unnamed_ = true;
        return true;
    } else {
        buf_.close();
        scratch_ = scratch_path_beside(target, tag);
        if (buf_.open(scratch_)) return true;
        scratch_.clear();
    }
    *error = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

bool OutputFile::writable() {
    if (!buf_.is_open()) return false;
    out_.flush();
    return out_.good() && buf_.failure == 0;
}

std::string OutputFile::folder() const { return inPlace_ || target_.empty() ? "" : folder_of(target_); }

std::string OutputFile::failure() const {
    const char* reason = std::strerror(buf_.failure != 0 ? buf_.failure : EIO);
    if (buf_.failurePlace.empty()) return reason;
    return format_message(kMsgHost, kMsgHostReasonInTemporaryFolder, reason, buf_.failurePlace.c_str());
}

bool OutputFile::complete(std::string* error) {
    // The unnamed file stays open: closing it would delete it.
    const bool written = writable() && (unnamed_ || buf_.close());
    if (!written) {
        *error = failure();
        discard();
    }
    return written;
}

bool OutputFile::replace(std::string* error) {
    if (unnamed_) {
        scratch_ = scratch_path_beside(target_, tag_);
        if (!link_unnamed(buf_.fd(), scratch_)) {
            scratch_.clear();
            *error = std::strerror(errno != 0 ? errno : EIO);
            discard();
            return false;
        }
        unnamed_ = false;
        buf_.close();
    }
    if (!scratch_.empty()) {
        if (const int e = rename_file(scratch_, target_); e != 0) {
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

bool OutputFile::keep_old(std::string* error) {
    struct stat st;
    // A symbolic link is kept as the link it is: the rename replaces it.
    if (inPlace_ || ::lstat(target_.c_str(), &st) != 0) return true;
    old_ = scratch_path_beside(target_, tag_ + "-old");
    hadTarget_ = true;
    if (const int injected = injected_failure(second_name_injections()); injected != 0)
        errno = injected;
    else if (link_replacing(target_, old_, 0))
        return true;
    // No second link (a file system without hard links, another user's
    // file): the file itself steps aside until the new one is in place.
    if (const int e = rename_file(target_, old_); e != 0) {
        *error = std::strerror(e);
        old_.clear();
        hadTarget_ = false;
        return false;
    }
    oldMoved_ = true;
    return true;
}

bool OutputFile::put_back(std::string* error) {
    int e = 0;
    if (hadTarget_ && (replaced_ || oldMoved_))
        e = rename_file(old_, target_);
    else if (!hadTarget_ && replaced_)
        e = remove_file(target_);
    if (e != 0) {
        *error = std::strerror(e);
        return false;
    }
    // A second link of a file that stayed in place goes; a name that was
    // renamed back is gone already.
    if (hadTarget_ && !replaced_ && !oldMoved_) ::unlink(old_.c_str());
    old_.clear();
    hadTarget_ = oldMoved_ = replaced_ = false;
    return true;
}

void OutputFile::forget_old() {
    if (!old_.empty()) ::unlink(old_.c_str());
    old_.clear();
    hadTarget_ = oldMoved_ = false;
}

void inject_move_failure(int nthCall, int error) {
    move_injections().push_back(MoveInjection{nthCall, error, 0});
}

void inject_second_name_failure(int nthCall, int error) {
    second_name_injections().push_back(MoveInjection{nthCall, error, 0});
}

void clear_injected_move_failures() {
    move_injections().clear();
    second_name_injections().clear();
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
