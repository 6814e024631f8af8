// The files a run names, each in its role (the program file, the log, the
// listing and the JSON document, the data sets of each step), and the check
// made before any of them is opened for writing: a file the command writes
// must not be one that the run reads or writes in another role, however it
// is named (another spelling, "..", a symbolic or a hard link,
// /proc/self/fd/N), or one of the two would be lost.
#pragma once

#include <string>
#include <vector>

#include "platform/runner/program.h"

namespace velix::platform {

struct FileRole {
    enum Kind {
        kCommandOutput,  // --log, --listing, --json
        kProgram,        // the program file
        kDataInput,      // DATA=, INRAM=, INWGT=, INEST=
        kDataOutput,     // OUTSTAT=, OUTRAM=, OUTWGT=, OUTEST=
    };
    Kind kind = kCommandOutput;
    std::string path;
    std::string description;  // the role as a message names it
};

// The data sets the PROC statement of each step names, their paths as
// the step will open them (unquoted names in the session's library
// folder).  A step whose statement cannot be read adds none: its own
// parse says what is wrong.
std::vector<FileRole> step_data_set_roles(const std::vector<ProgramItem>& items);

// The ERROR line when two of `roles` name one file and one of them is
// written by the command (or an output data set is the program file);
// "" when none do.  Files are compared as the system sees them: by device
// and inode where they exist, by their folder and name where they do not
// yet.  What is not a regular file (a pipe, a terminal, /dev/null) is not
// replaced by any role and is never a clash.
std::string file_role_clash(const std::vector<FileRole>& roles);

}  // namespace velix::platform
