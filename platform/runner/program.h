// Reading a program file, and splitting it into its PROC VELIX steps and
// the global statements between them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velix::platform {

// One item of a program file, in file order.
struct ProgramItem {
    enum Kind { kStep, kOptions, kTitle, kError } kind = kStep;
    std::string text;   // kStep: from "proc velix" to the end of the step;
                        // kError: the message text (an unknown PROC among them)
    int line = 1;       // line where the item begins
    // kOptions: name=value pairs (names upper-cased); kTitle: the line
    // number in `titleLine` and its text in `text` (empty clears it).
    std::vector<std::pair<std::string, std::string>> options;
    int titleLine = 1;
    // kError of a PROC that is not known (a misspelt PROC VELIX): the text
    // of the step it skips, from "proc" to the end of the step, whose data
    // sets are files of the user all the same.
    std::string skippedStep;
};

// Splits a program.  A step runs from "proc velix" to "run;" (or the next
// "proc", or the end of the file); "options name=value ...;" and
// "title[n] 'text';" may stand between steps.  Comments are "/* ... */"
// and statements that begin with "*".
std::vector<ProgramItem> split_program(const std::string& source);

// How the reading of a program file ended.
enum class ProgramRead {
    kWhole,       // all of it is read
    kUnreadable,  // it cannot be opened or read (the reason in *error)
    kStopped,     // a stop signal ended the wait for its next bytes
};

// Reads the program file `path` into *text.  A pipe, named or not, or a
// terminal is read as its bytes come, its writer and its next bytes
// waited for only while no stop signal is received (an open or a read
// would wait in the kernel, deaf to a stop); *text then holds what came.
// A folder is unreadable (EISDIR).
ProgramRead read_program_file(const std::string& path, std::string* text, int* error);

}  // namespace velix::platform
