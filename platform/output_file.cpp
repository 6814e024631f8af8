// Output files written to a scratch file and moved into place when
// complete (see output_file.h).
#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
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

// Gives the unnamed file open as `fd` the name `path`.  A file of that name
// can only be the scratch file of an earlier process of this number that
// was killed in the moment it had a name: it is replaced.
bool link_unnamed(int fd, const std::string& path) {
    const std::string from = descriptor_path(fd);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) return false;
        ::unlink(path.c_str());
    }
    return false;
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
        std::error_code ec;
        fs::rename(scratch_, target_, ec);
        if (ec) {
            *error = ec.message();
            discard();
            return false;
        }
        scratch_.clear();
    }
    buf_.close();
    inPlace_ = false;
    return true;
}

bool OutputFile::commit(std::string* error) {
    if (!complete(error)) return false;
    if (replace(error)) return true;
    *error = "it cannot replace the file there: " + *error;
    return false;
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
