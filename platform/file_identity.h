// Whether two paths name one file, as the system sees it: a file that
// exists by its device and inode, so that another spelling ("./", "..",
// "//"), a symbolic or a hard link, a folder reached through a link or a
// bind mount, or /proc/self/fd/N are all the same file; a file not
// created yet by the device and inode of the folder it would be made in
// and its name there (at the end of a chain of links, where the writer
// creates it), so that two spellings of one new file are one file too.
#pragma once

#include <string>

#include <sys/types.h>

namespace velix::platform {

struct FileIdentity {
    enum Kind {
        kUnknown,   // neither the file nor the folder it would be made in is there
        kExisting,  // the file exists: `device` and `inode` are its own
        kNew,       // no file yet: `device` and `inode` are its folder's, `name` its name there
    };
    Kind kind = kUnknown;
    bool regular = false;  // kExisting: a regular file (not a device, a pipe, a folder)
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    // Whether both are known and are one file.
    bool same_as(const FileIdentity& other) const {
        return kind != kUnknown && kind == other.kind && device == other.device && inode == other.inode &&
               name == other.name;
    }
};

// The file `path` names.
FileIdentity file_identity(const std::string& path);

// The file the command's open descriptor `fd` holds (kUnknown when it is
// not open).
FileIdentity descriptor_identity(int fd);

}  // namespace velix::platform
