// Whether this process holds a file open in a folder, an unnamed one
// (O_TMPFILE) included: /proc names it "<folder>/#<inode> (deleted)".
#pragma once

#include <filesystem>
#include <string>

namespace velix::test {

inline bool holds_file_in(const std::string& folder) {
    const std::string prefix = folder + "/";
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec).string().rfind(prefix, 0) == 0) return true;
    }
    return false;
}

}  // namespace velix::test
