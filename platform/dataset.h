// The platform's data sets: in-memory records read from and written to CSV
// files in the library folder, with their variables, observations and BY
// groups.  The module reaches them through the services of
// velix/host_dataset.h; the parser and the step runner use the API below.
//
// Every data set belongs to the step that opened or created it: at the end
// of the step the output data sets are written and all are freed (a step
// hook), so handles never outlive their step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "velix/host.h"

namespace velix::platform {

// One variable of a data set.
struct DataSetVariable {
    std::string name;
    std::string label;
    bool character = false;
    int32_t length = 8;             // bytes of a value; 8 for numerics
    std::vector<double> numbers;    // one per observation (numeric variables)
    std::vector<std::string> texts; // one per observation (character), trailing blanks removed
    HostVariableDescriptor descriptor;  // what xvname hands out (points into name and label)
    char attributeName[2][8] = {};
    int16_t attributeWord[2] = {};
};

}  // namespace velix::platform

// A variable binding (opaque to the module): which variable goes to or
// comes from which of the module's cells.
struct HostBinding {
    struct Entry {
        int variable = -1;              // 0-based index in the bound data set
        void* cell = nullptr;           // the module's cell
        int32_t length = 8;             // character cells: bytes of the field
        bool character = false;
        HostDataSet* bySource = nullptr;  // output BY copies: the data set whose group gives the value
        int bySourceVariable = -1;
    };
    HostDataSet* data = nullptr;
    bool output = false;
    bool ended = false;
    bool released = false;
    std::vector<Entry> entries;
};

// The host's data-set record (opaque to the module).
struct HostDataSet {
    std::string name;        // as the program names it (a member name or a path)
    std::string path;        // the CSV file
    bool output = false;     // created for writing
    std::string type;        // TYPE, upper case, empty when none
    bool typeGiven = false;  // TYPE given by a (type=...) option: the module does not replace it
    std::string label;
    std::vector<velix::platform::DataSetVariable> variables;
    int64_t nObs = 0;

    // BY groups: runs of equal values of the BY variables.
    std::vector<int> byVariables;      // 0-based variable indexes
    bool notSorted = false;            // runs need not be in ascending order
    bool byLines = false;              // each group is announced by its BY line (DATA=)
    std::vector<int64_t> groupStart;   // first observation of each group, then nObs
    int64_t group = -1;                // current group; -1 before the first
    bool noGroup = false;              // synchronised to a group that does not exist
    int64_t nextObs = 0;               // next observation of the group to deliver
    int64_t currentObs = -1;           // observation last delivered, -1 none

    VariableListRecord lists;            // the variable lists defined by xvdflst
    bool listsDefined = false;
    std::vector<int16_t> listStore[kHostListCount];  // the arrays of `lists`
    std::vector<std::unique_ptr<HostBinding>> bindings;
    bool defined = false;              // an output data set whose variables were defined (xvputi)
    bool written = false;              // an output data set already written
};

namespace velix::platform {

// Options written after a data-set name in the program: (type=...).
struct DataSetOptions {
    std::string type;  // overrides the file's TYPE when not empty
};

// The file of a data set: a quoted name is a path as given; any other name
// is `name.csv` in the session's library folder.
std::string dataset_path(const std::string& name, bool quoted);

// Reads a data set for input.  On failure returns null and in *error what
// went wrong (the data set does not exist, or its file is malformed), a
// sentence without a severity prefix.
HostDataSet* dataset_open_input(const std::string& name, bool quoted,
                                const DataSetOptions& options, std::string* error);
// Creates an output data set; it is written when the step ends
// (dataset_commit_outputs) once the module has defined its variables (an
// output the step never defined leaves any existing file alone).  Returns
// null with *error when its folder does not exist or another output of the
// step names the same file.
HostDataSet* dataset_create_output(const std::string& name, bool quoted,
                                   const DataSetOptions& options, std::string* error);
// Sets the BY variables of DATA= (names in order).  The other input data
// sets of the step that carry all of them are grouped by them too, so that
// their BY groups can be matched by value.  false and *error when a name is
// not a variable of the data set.
bool dataset_set_by(HostDataSet* data, const std::vector<std::string>& names, bool notSorted,
                    std::string* error);
// Closes a data set: an input is freed, an output waits for the step's end.
bool dataset_close(HostDataSet* data, std::string* error);
// At the step's end, with its return code: writes every defined output data
// set that has observations, each to a scratch file beside it, and renames
// them into place when all were written and the code is 0 to
// kLevelStepEnds; otherwise every existing file stays as it was and the log
// says which data sets were not written.  false when a file could not be
// written or replaced (the step has then failed).
bool dataset_commit_outputs(int returnCode);
// Frees every data set of the step (the step-end hook).
void dataset_end_step();

// CSV form.  Parses the text of a data-set file into `data` (variables,
// observations, TYPE and LABEL); false with *error naming the line.
bool csv_read(const std::string& text, HostDataSet* data, std::string* error);
// The same from an open file, read a piece at a time: the text is never
// held whole.
bool csv_read_file(std::FILE* file, HostDataSet* data, std::string* error);
// Formats a data set in the same form.
std::string csv_write(const HostDataSet* data);

// Code of a special missing value: 0 ".", 1 "._", 2.. ".A".., -1 when the
// value is not missing.
int missing_code(double v);
// The text of a missing value: ".", "._" or ".A" to ".Z"; "" when the value
// is not missing.
std::string missing_text(double v);

// Recomputes the BY groups (after the observations or BY variables change).
void dataset_group(HostDataSet* data);
// The BY line of the current group ("school=Pasteur g=2"); "" when the data
// set has no BY variables or is on no group.
std::string dataset_by_line(const HostDataSet* data);

}  // namespace velix::platform
