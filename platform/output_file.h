// Files the run writes whole or not at all: the listing and the JSON
// document of the command (and, through scratch_path_beside, the output
// data sets).  Each is written to a scratch file in its target's folder and
// renamed into place (an atomic replacement within one file system) only
// when it is complete, so that a full disk, a file-size limit or a stop
// leaves the earlier file as it was.  A target that exists and is not a
// regular file (a device such as /dev/stdout, a pipe) cannot be replaced
// and is written in place.
#pragma once

#include <fstream>
#include <string>

namespace velix::platform {

// A scratch file beside `path` for the output `tag` of this process
// (".velix-<pid>-<tag>.tmp"), so that moving it into place is a rename
// within one file system.
std::string scratch_path_beside(const std::string& path, const std::string& tag);

// A file buffer that keeps the reason of its first failed write (errno of
// the write that failed, which a stream loses).
class ReasonFileBuf : public std::filebuf {
public:
    int failure = 0;  // errno of the first failed write, 0 while none failed

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char_type* s, std::streamsize n) override;
    int sync() override;

private:
    void note(bool failed);
};

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { discard(); }

    // Opens the scratch file for `target` (or the target itself, when it
    // cannot be replaced); false with the reason in *error ("No such file
    // or directory") when it cannot be opened.
    bool open(const std::string& target, const std::string& tag, std::string* error);
    std::ostream& stream() { return out_; }
    const std::string& target() const { return target_; }
    // The folder of the scratch file; "" when the target is written in place.
    std::string folder() const;
    // True while everything written so far has reached the file (it is
    // flushed first: a full disk shows only when the buffer is written).
    bool writable();
    // Why the file could not be written ("File too large").
    std::string failure() const;
    // Closes the file and renames it into place; false with the reason in
    // *error when it was not written whole or cannot replace the target
    // (the scratch file is then removed and the target stays as it was).
    bool commit(std::string* error);
    // Closes and removes the scratch file: the target stays as it was.
    void discard();

private:
    ReasonFileBuf buf_;
    std::ostream out_{&buf_};
    std::string target_;
    std::string scratch_;  // empty when writing in place or when closed
};

}  // namespace velix::platform
