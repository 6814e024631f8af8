// Files the run writes whole or not at all: the listing and the JSON
// document of the command and the output data sets.  Each is written to a
// scratch file in its target's folder and moved into place (an atomic
// replacement within one file system) only when it is complete, so that a
// full disk, a file-size limit or a stop leaves the earlier file as it was.
// The scratch file is unnamed (O_TMPFILE) where the folder's file system
// allows it, so that a process that is killed leaves nothing behind; it
// gets a name (".velix-<pid>-<tag>-<random>.tmp") only for the moment of
// the rename.  Elsewhere it has that name from the start.  Every such name
// (and the second names below) holds 64 random bits that no other run can
// foresee, and is made only where nothing has that name (O_EXCL, a link
// that fails on an existing name): a file, a link or a pipe found there,
// planted or another run's, is never opened, followed, emptied or
// removed, and another name is tried.  A target that exists
// and is not a regular file (a device, a pipe) cannot be replaced and is
// written in place; so is one of the command's own open files named by a
// path such as /dev/stdout, /dev/fd/N or /proc/self/fd/N (written through
// that descriptor, where a shell's `>` or `>>` put it).  A symbolic link is
// never replaced: the file it names is, and the link stays.
//
// Each file is flushed to the disk (fsync) before it takes its name, and
// its folder after, so that a power loss cannot leave a name on a file
// whose contents never reached the disk.  A file that replaces another
// takes its permissions and, where the run may, its owner and group (and
// is never more open than it while it is written); a new file is made as
// any other, with what the user's umask leaves.
//
// Several files that must change together (the output data sets of a step)
// keep their earlier files first (keep_old: a second name for each, made
// before any is replaced), are then replaced one by one, and are put back
// (put_back) when one of them cannot be: all or none.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <sys/types.h>

namespace velix::platform {

// Where an output named `target` goes: a chain of symbolic links is
// followed to its end, so that the file a link names is replaced and the
// link stays.
struct OutputPlace {
    enum Kind {
        kFile,        // a regular file, or none yet: replaced by a scratch file renamed over `path`
        kInPlace,     // a file that is not a regular file (a device, a pipe, a folder): opened at `path`
        kDescriptor,  // one of the command's open files (/dev/stdout, /dev/fd/N, /proc/self/fd/N)
    };
    Kind kind = kFile;
    std::string path;     // the file the chain of links ends at
    int descriptor = -1;  // kDescriptor: the command's descriptor, whatever file it has open
};
OutputPlace output_place(const std::string& target);

// A buffered file for writing that keeps the reason of its first failed
// write (errno of the write that failed, which a stream loses).
class ReasonFileBuf : public std::streambuf {
public:
    int failure = 0;  // errno of the first failed write, 0 while none failed
    // Where a failure happened when not in the file itself (the temporary
    // folder of text that waited for it); "" otherwise.
    std::string failurePlace;

    ReasonFileBuf() = default;
    ReasonFileBuf(const ReasonFileBuf&) = delete;
    ReasonFileBuf& operator=(const ReasonFileBuf&) = delete;
    ~ReasonFileBuf() override { close(); }

    // Opens `path` for writing, emptied; false with errno set.
    bool open(const std::string& path);
    // Creates `path` for writing with the permissions `mode` (less the
    // umask) where no file or link has that name; false with errno set
    // (EEXIST where one has).
    bool open_new(const std::string& path, mode_t mode = 0666);
    // Opens `target` to be written where it is (output_place): one of the
    // command's open files through a copy of its descriptor (written where
    // its offset is, appended where it appends), any other file emptied;
    // false with errno set.
    bool open_in_place(const std::string& target);
    // Takes a copy of the command's open descriptor `fd` (standard output
    // or error); false with errno set.
    bool open_copy_of(int fd);
    // Opens an unnamed file in `folder` with the permissions `mode` (less
    // the umask) it keeps when it is given a name; false (errno set) where
    // its file system cannot make one.
    bool open_unnamed(const std::string& folder, mode_t mode = 0666);
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Writes out what is buffered and flushes the file to the disk
    // (fsync); false, with the reason kept, when either failed.
    bool sync_to_disk();
    // Writes out what is buffered and closes the file; false when a write
    // or the close failed.
    bool close();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char_type* s, std::streamsize n) override;
    int sync() override;

private:
    bool write_out(const char* data, size_t n);
    bool drain();
    bool start(int fd);
    static constexpr size_t kBufferBytes = size_t{1} << 16;
    int fd_ = -1;
    // A pipe or socket: written only where it has room, so that a reader
    // that does not read holds the run only until a stop comes.
    bool pipe_ = false;
    std::unique_ptr<char[]> buffer_;  // made when a file is first opened
};

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { discard(); }

    // Opens the scratch file for `target` (or the target itself, when it
    // cannot be replaced); false with the reason in *error ("Permission
    // denied") when it cannot be opened.
    bool open(const std::string& target, const std::string& tag, std::string* error);
    std::ostream& stream() { return out_; }
    ReasonFileBuf* buffer() { return &buf_; }
    const std::string& target() const { return target_; }
    // The folder of the scratch file; "" when the target is written in place.
    std::string folder() const;
    // True while everything written so far has reached the file (it is
    // flushed first: a full disk shows only when the buffer is written).
    bool writable();
    // Why the file could not be written ("File too large").
    std::string failure() const;
    // Makes sure everything written has reached the file and the disk;
    // false with the reason in *error when it was not written whole (the
    // scratch file is then removed and the target stays as it was).
    bool complete(std::string* error);
    // Moves the completed file into place; false with the reason in *error
    // ("Permission denied") when it cannot replace the target (which then
    // stays as it was).
    bool replace(std::string* error);
    // complete, then replace; a reason of replace says so ("it cannot
    // replace the file there: Permission denied").
    bool commit(std::string* error);
    // Before a replace that may have to be undone: gives the earlier file
    // of the target, when there is one, a second name beside it
    // (".velix-<pid>-<tag>-old-<random>.tmp"), a hard link where the file system
    // allows one, else by moving it there.  false with the reason in *error
    // when neither can be done: the target then cannot be replaced either
    // (an immutable file, another user's file in a sticky folder), and
    // nothing was changed.  Where a second name might be made but not
    // removed (a sticky folder, another user's file) the file is moved
    // there instead, which asks the same permission as its removal first.
    bool keep_old(std::string* error);
    // After a replace: puts the earlier file kept by keep_old back in place
    // (removes the new file where there was none).  false with the reason
    // in *error when it cannot; the earlier file then keeps its second name
    // (kept_name()).  A second name that a link made stays until forget_old.
    bool put_back(std::string* error);
    // The second name of the earlier file; "" when none is left.
    const std::string& kept_name() const { return old_; }
    // Removes the second name of the earlier file (once the new file stays,
    // or the earlier one was put back); false with the reason in *error
    // when it cannot be removed and stays (kept_name()).
    bool forget_old(std::string* error);
    // Closes and removes the scratch file: the target stays as it was.
    void discard();

private:
    ReasonFileBuf buf_;
    std::ostream out_{&buf_};
    std::string target_;
    std::string place_;  // the file the target names, at the end of its links (output_place)
    std::string tag_;
    std::string scratch_;   // the name of the scratch file; "" while it has none
    bool unnamed_ = false;  // an unnamed scratch file is open
    bool inPlace_ = false;  // the target itself is open
    std::string old_;       // the second name of the target's earlier file; "" while it has none
    bool hadTarget_ = false;  // keep_old found an earlier file
    bool oldMoved_ = false;   // the earlier file was moved to old_ rather than linked
    bool replaced_ = false;   // the new file took the target's place
};

// Advisory locks (flock) on the folders of a step's outputs, held while
// they are put in place, so that another run's commit to the same folder
// waits until this one's is done: each step's outputs then come from one
// run.  The folders are locked in one order (by device and inode), so
// that two runs never wait for each other in a circle.  A folder that
// cannot be locked (one the user may write but not read cannot be opened;
// a file system that gives no such lock) is gone on with unlocked, and
// said.
class FolderLocks {
public:
    // What taking the locks has to say, in the caller's words: a folder
    // that cannot be locked, with the system's reason (errno), and a
    // folder whose lock another process has held for a second, said once
    // as the wait goes on.
    struct Notes {
        void (*unlocked)(const std::string& folder, int error) = nullptr;
        void (*waiting)(const std::string& folder) = nullptr;
    };
    // How long a wait for another process's lock goes before it is said.
    static constexpr int kQuietWaitMs = 1000;

    FolderLocks() = default;
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;
    ~FolderLocks() { release(); }
    // Locks each folder of `folders` (repeats and other spellings of one
    // folder count once), waiting for other runs' locks; false, with none
    // held, when a stop signal came first.
    bool take(const std::vector<std::string>& folders, const Notes& notes);
    void release();

private:
    std::vector<int> fds_;
};

// Test hooks: make the nthCall-th move (1-based, counted from now) that an
// output file makes (a rename into place, aside or back, the removal of a
// new file where there was none or of a second name) fail with errno
// `error` before it is tried, or raise `signal` before it is made; make
// the nthCall-th flush of an output file to the disk fail with `error`.
// Several may be pending.
void inject_move_failure(int nthCall, int error);
void inject_signal_before_move(int nthCall, int signal);
void inject_sync_failure(int nthCall, int error);
// Test hook: makes the nthCall-th hard link that gives an earlier file its
// second name fail with errno `error`, as on a file system without hard
// links: the file is then moved aside instead.  Cleared with the moves.
void inject_second_name_failure(int nthCall, int error);
// Test hook: the next `count` fresh names (of scratch files and second
// names) draw `bits` rather than random ones, so that a test can put a
// file or a link at the name a run tries first.  Cleared with the moves.
void inject_name_bits(uint64_t bits, int count);
void clear_injected_move_failures();

}  // namespace velix::platform
