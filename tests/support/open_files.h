// Open files of this process: whether it holds one open in a folder, an
// unnamed one (O_TMPFILE) included; and how to refuse it unnamed files, as
// a file system that cannot make them does.
#pragma once

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

namespace velix::test {

// /proc names an unnamed file "<folder>/#<inode> (deleted)".
inline bool holds_file_in(const std::string& folder) {
    const std::string prefix = folder + "/";
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec).string().rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// Makes every open of an unnamed file fail with EOPNOTSUPP, as on a file
// system that cannot make one, for this process, its children and what it
// executes (it cannot be undone).  The C library opens files through
// openat.  False when the system refuses the filter.
inline bool refuse_unnamed_files() {
    const unsigned unnamedBit = O_TMPFILE & ~O_DIRECTORY;
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, unnamedBit, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace velix::test
