// Text that waits for its place in an output file (the records of a step
// in the JSON document, the rows of an output data set): held in memory up
// to kHeldBytes, beyond that in an unnamed temporary file (gone with the
// process, however it ends), so that output of any length takes a fixed
// amount of memory until it is written.  The temporary file is made in the
// folder of the output it waits for: it then takes room on the disk the
// output will take it on, not in /tmp (often a small memory file system),
// and a disk that fills under it is the one the output's message names.
// Where that folder's file system makes no unnamed files, the file is
// created with a name and unlinked at once.  Only an output written in
// place (a device) has no folder: its text waits in the user's temporary
// folder ($TMPDIR, else the system's), which a failure then names.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace velix::platform {

// An unnamed file (O_TMPFILE) in `folder`, opened with `access` (O_WRONLY,
// O_RDWR) and the permissions `mode` it keeps if it is given a name; -1
// with errno set where its file system cannot make one.
inline int open_unnamed_in(const std::string& folder, int access, mode_t mode) {
#ifdef O_TMPFILE
    return ::open(folder.c_str(), O_TMPFILE | access | O_CLOEXEC, mode);
#else
    (void)folder;
    (void)access;
    (void)mode;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

class Spill {
public:
    static constexpr size_t kHeldBytes = size_t{1} << 20;
    Spill() = default;
    Spill(const Spill&) = delete;
    Spill& operator=(const Spill&) = delete;
    ~Spill() { clear(); }
    // The folder for the temporary file ("": the system's, std::tmpfile).
    void place_in(const std::string& folder) { folder_ = folder; }
    void append(const std::string& text) { append(text.data(), text.size()); }
    void append(const char* text, size_t n) {
        // What came after a loss is not kept either: the text is not whole.
        if (failed_) return;
        if (file_ == nullptr && held_.size() + n > kHeldBytes) {
            file_ = unnamed_file();
            if (file_ == nullptr || !put(held_.data(), held_.size())) fail();
            held_.clear();
            held_.shrink_to_fit();
            if (failed_) return;
        }
        if (file_ == nullptr)
            held_.append(text, n);
        else if (!put(text, n))
            fail();
    }
    // Writes the text to *out and empties the spill; false when part of it
    // was lost (nothing is then written), with *reason (when given and still 0) the errno of the loss
    // (a full disk, a file-size limit) and *place (when given) the
    // temporary folder it happened in, "" when in the output's own.
    bool move_to(std::ostream* out, int* reason = nullptr, std::string* place = nullptr) {
        bool whole = !failed_;
        if (file_ == nullptr) {
            if (whole) out->write(held_.data(), static_cast<std::streamsize>(held_.size()));
        } else if (whole) {
            whole = std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0;
            char buf[1 << 16];
            for (size_t n; whole && (n = std::fread(buf, 1, sizeof buf, file_)) > 0;)
                out->write(buf, static_cast<std::streamsize>(n));
            whole = whole && std::ferror(file_) == 0;
            if (!whole) fail();
        }
        if (!whole && reason != nullptr && *reason == 0) {
            *reason = failure_;
            if (place != nullptr && folder_.empty()) *place = temporary_folder();
        }
        clear();
        return whole;
    }
    void clear() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        failed_ = false;
        failure_ = 0;
        held_.clear();
        if (held_.capacity() > kHeldBytes) held_.shrink_to_fit();
    }

private:
    // The user's temporary folder: $TMPDIR when it is set, else the
    // system's.
    static std::string temporary_folder() {
        const char* dir = std::getenv("TMPDIR");
        return dir != nullptr && *dir != '\0' ? dir : P_tmpdir;
    }
    // An unnamed file in folder_ (O_TMPFILE, else named and unlinked at
    // once), or in the user's temporary folder when there is no folder_.
    std::FILE* unnamed_file() const {
        const std::string folder = folder_.empty() ? temporary_folder() : folder_;
        int fd = open_unnamed_in(folder, O_RDWR, 0600);
        if (fd < 0) {
            std::string name = folder + "/.velix-" + std::to_string(::getpid()) + "-spill-XXXXXX";
            fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (fd >= 0) ::unlink(name.c_str());
        }
        if (fd < 0) return nullptr;
        if (std::FILE* f = ::fdopen(fd, "w+b")) return f;
        ::close(fd);
        return nullptr;
    }
    void fail() {
        if (!failed_) failure_ = errno != 0 ? errno : EIO;
        failed_ = true;
    }
    bool put(const char* text, size_t n) { return file_ != nullptr && std::fwrite(text, 1, n, file_) == n; }
    std::string held_;
    std::string folder_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    int failure_ = 0;  // errno of the first loss
};

// A stream buffer that appends what is written to it to a spill.
class SpillStreamBuf : public std::streambuf {
public:
    explicit SpillStreamBuf(Spill* spill) : spill_(spill) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char one = traits_type::to_char_type(c);
        spill_->append(&one, 1);
        return c;
    }
    std::streamsize xsputn(const char_type* s, std::streamsize n) override {
        spill_->append(s, static_cast<size_t>(n));
        return n;
    }

private:
    Spill* spill_;
};

}  // namespace velix::platform
