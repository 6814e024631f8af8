// Output files written to a scratch file and renamed into place when
// complete (see output_file.h).
#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace velix::platform {

namespace fs = std::filesystem;

std::string scratch_path_beside(const std::string& path, const std::string& tag) {
    const fs::path dir = fs::path(path).parent_path();
    const std::string name = ".velix-" + std::to_string(::getpid()) + "-" + tag + ".tmp";
    return (dir.empty() ? fs::path(name) : dir / name).string();
}

void ReasonFileBuf::note(bool failed) {
    if (failed && failure == 0) failure = errno != 0 ? errno : EIO;
}

ReasonFileBuf::int_type ReasonFileBuf::overflow(int_type c) {
    errno = 0;
    const int_type r = std::filebuf::overflow(c);
    note(traits_type::eq_int_type(r, traits_type::eof()));
    return r;
}

std::streamsize ReasonFileBuf::xsputn(const char_type* s, std::streamsize n) {
    errno = 0;
    const std::streamsize r = std::filebuf::xsputn(s, n);
    note(r < n);
    return r;
}

int ReasonFileBuf::sync() {
    errno = 0;
    const int r = std::filebuf::sync();
    note(r != 0);
    return r;
}

bool OutputFile::open(const std::string& target, const std::string& tag, std::string* error) {
    discard();
    target_ = target;
    std::error_code ec;
    const bool replaceable = !fs::exists(target, ec) || fs::is_regular_file(target, ec);
    scratch_ = replaceable ? scratch_path_beside(target, tag) : std::string();
    buf_.failure = 0;
    out_.clear();
    errno = 0;
    if (buf_.open(replaceable ? scratch_ : target, std::ios::out | std::ios::binary | std::ios::trunc) != nullptr)
        return true;
    *error = std::strerror(errno != 0 ? errno : EIO);
    scratch_.clear();
    return false;
}

bool OutputFile::writable() {
    if (!buf_.is_open()) return false;
    out_.flush();
    return out_.good() && buf_.failure == 0;
}

std::string OutputFile::folder() const {
    if (scratch_.empty()) return "";
    const fs::path dir = fs::path(scratch_).parent_path();
    return dir.empty() ? "." : dir.string();
}

std::string OutputFile::failure() const { return std::strerror(buf_.failure != 0 ? buf_.failure : EIO); }

bool OutputFile::commit(std::string* error) {
    const bool written = writable() && buf_.close() != nullptr && buf_.failure == 0;
    if (!written) {
        *error = failure();
        discard();
        return false;
    }
    if (!scratch_.empty()) {
        std::error_code ec;
        fs::rename(scratch_, target_, ec);
        if (ec) {
            *error = "it cannot replace the file there: " + ec.message();
            discard();
            return false;
        }
        scratch_.clear();
    }
    return true;
}

void OutputFile::discard() {
    if (buf_.is_open()) buf_.close();
    if (scratch_.empty()) return;
    std::error_code ec;
    fs::remove(scratch_, ec);
    scratch_.clear();
}

}  // namespace velix::platform
