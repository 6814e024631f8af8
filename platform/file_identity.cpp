// Files compared by what the system knows of them (file_identity.h).
#include "platform/file_identity.h"

#include <filesystem>

#include <sys/stat.h>

#include "platform/output_file.h"

namespace velix::platform {
namespace {

FileIdentity existing(const struct stat& st) {
    FileIdentity id;
    id.kind = FileIdentity::kExisting;
    id.regular = S_ISREG(st.st_mode);
    id.device = st.st_dev;
    id.inode = st.st_ino;
    return id;
}

}  // namespace

FileIdentity file_identity(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return existing(st);
    // Where a chain of links leads to a name not created yet, that name is
    // the file the writer creates; its folder is compared as a file is,
    // not by its spelling, which stays relative for a path in quotes.
    const std::filesystem::path place = output_place(path).path;
    const std::string folder = place.parent_path().empty() ? "." : place.parent_path().string();
    FileIdentity id;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return id;
    id.kind = FileIdentity::kNew;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.name = place.filename().string();
    return id;
}

FileIdentity descriptor_identity(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? existing(st) : FileIdentity{};
}

}  // namespace velix::platform
