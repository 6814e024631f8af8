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
        kCommandOutput,   // --log, --listing, --json, and the listing and the log on standard output and error
        kProgram,         // the program file
        kDataInput,       // DATA=, INRAM=, INWGT=, INEST=
        kDataOutput,      // OUTSTAT=, OUTRAM=, OUTWGT=, OUTEST=
        kUnknownDataSet,  // a data set named by a quoted text that is not closed: its file cannot be known
    };
    Kind kind = kCommandOutput;
    std::string path;
    std::string description;  // the role as a message names it (kUnknownDataSet: its option, "DATA=")
    int descriptor = -1;      // the command's open descriptor that is the file (standard output), else -1
    int line = 0;             // kUnknownDataSet: the line of the name
};

// The data sets that the PROC statement of each step names (of a step
// that is skipped too, a PROC whose name is misspelt), their paths as the
// step would open them (unquoted names in the session's library folder),
// found whatever else the statement or the step holds that keeps it from
// running: they are the user's files all the same.
std::vector<FileRole> step_data_set_roles(const std::vector<ProgramItem>& items);

// The ERROR line when two of `roles` name one file and one of them is
// written by the command (or an output data set is the program file), or
// when a data set whose file cannot be known could be a file the command
// writes; "" when none do.  Files are compared as the system sees them
// (file_identity.h).  What is not a regular file (a pipe, a terminal,
// /dev/null) is not replaced by any role and is never a clash.
std::string file_role_clash(const std::vector<FileRole>& roles);

}  // namespace velix::platform
