// The platform's data sets: read from and written to CSV files in the
// library folder, with their variables, observations and BY groups.  The
// module reaches them through the services of velix/host_dataset.h; the
// parser and the step runner use the API below.
//
// An input data set is scanned once when it is opened (its variables,
// their types and lengths, its observations, the sums of the moments of
// each BY group); then it is read again from its file, a record at a
// time, for every further pass the step makes over it, so that the memory
// it takes does not grow with its observations.  Output data sets collect
// their rows in memory while a BY group runs; when the next group begins,
// they are written out as the lines of their file (dataset_spill_outputs).
//
// Every data set belongs to the step that opened or created it: at the end
// of the step the output data sets are written and all are freed (a step
// hook), so handles never outlive their step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spill.h"
#include "velix/host.h"

namespace velix::platform {

// One variable of a data set.
struct DataSetVariable {
    std::string name;
    std::string label;
    bool character = false;
    int32_t length = 8;             // bytes of a value; 8 for numerics
    // The values, one per observation, of an output data set and of an
    // input one that holds them: numbers of a numeric variable, texts
    // (trailing blanks removed) of a character one.
    std::vector<double> numbers;
    std::vector<std::string> texts;
    // Of an input variable that a value among its numbers made character
    // (no CHAR line declares its type): the value and its line, "line 38
    // of hs.csv holds n/a"; empty for any other.
    std::string madeCharacter;
    // Of such a variable: the value was a number beyond the range of
    // doubles (Inf, -Inf, 1e309), and every other value is a number or
    // missing; it holds a number (not only missing values and words).
    bool notFinite = false;
    bool holdsNumbers = false;
    HostVariableDescriptor descriptor;  // what xvname hands out (points into name and label)
    char attributeName[2][8] = {};
    int16_t attributeWord[2] = {};
};

// Where an observation stands: its 0-based number and, in a data set read
// from its file, the byte offset of its record's line (or of a blank line
// before it).
struct RowPosition {
    int64_t obs = 0;
    int64_t offset = 0;
};

// The value of one BY variable in a group: the number, or the text of a
// character variable.
struct ByValue {
    double number = 0.0;
    std::string text;
};
using ByKey = std::vector<ByValue>;  // by BY variable, in their order

// A BY group found by a scan of the data set: where it begins, where the
// next one begins, and its BY values.
struct GroupEntry {
    RowPosition begin, end;
    ByKey key;
};

// The lines of a CSV text, each without its end (an LF, a CRLF or a lone
// CR, whichever a line ends with): from a text in memory or from a file read
// in pieces, so that the reader never holds more of a file than a piece
// and the line that crosses its end.  Each line has its byte offset, where
// the source can take up reading again.
class LineSource {
  public:
    virtual ~LineSource() = default;
    // The next line, valid until the next call; false after the last.
    virtual bool next(std::string_view* line) = 0;
    // The byte offset of the line that next() gives next.
    virtual int64_t offset() const = 0;
    // Goes on at byte `offset`, the start of a line; false when the text
    // cannot be read there as it was (its file changed).
    virtual bool seek(int64_t offset) = 0;
    // Bytes of the whole text; -1 when not known.
    virtual int64_t size() const = 0;
    // Where the memory that can be read after the last line given ends.
    virtual const char* readable_end() const = 0;
    // Bytes the source keeps in memory.
    virtual size_t held_bytes() const = 0;
};

// The records of a data set read again from its text, one at a time, with
// the types its scan found: the input side of a data set that does not
// hold its values.
class CsvRows {
  public:
    // source: the text (positioned anywhere); character: by variable.
    CsvRows(std::unique_ptr<LineSource> source, std::vector<uint8_t> character);
    ~CsvRows();
    CsvRows(const CsvRows&) = delete;
    CsvRows& operator=(const CsvRows&) = delete;

    enum class Read {
        kRecord,  // numbers and texts hold the record, *next the offset after it
        kEnd,     // no record at or after the offset
        kBroken   // a record that the scan read differs now: the file changed
    };
    // Reads the first record at or after byte `offset` (blank lines are no
    // records).
    Read read(int64_t offset, int64_t* next);

    std::vector<double> numbers;     // by variable: the numeric ones' values
    std::vector<std::string> texts;  // by variable: the character ones' texts

    // Bytes it keeps in memory: its source's and its record's.
    size_t held_bytes() const;

  private:
    std::unique_ptr<LineSource> source_;
    std::vector<uint8_t> character_;
    struct Work;
    std::unique_ptr<Work> work_;
};

// The sums of one group's observations that the scan of a data set leaves
// for the moment accumulation (zacorr says when they serve): the plain sum
// of each numeric variable's values in order and, for at most
// ScanGroups::kMost numeric variables, whose products then cost no more
// than reading the observations again, the compensated sums of the
// products of their deviations from a centre (the means of the group's
// first block of observations) and of the deviations, each as a sum and
// its carry.
class ScanMoments {
  public:
    // n numeric variables; whether their products are summed.
    ScanMoments(size_t n, bool products);
    // An observation: numbers by variable, `variables` the numeric ones by place.
    void add(const std::vector<int>& variables, const double* numbers);
    // After the group's last observation; returns the bytes it keeps.
    size_t finish();

    RowPosition begin;        // the group's first observation
    std::vector<double> sum;  // by place
    std::vector<double> centre, crossSum, crossCarry, residSum, residCarry;  // with products, by place
    int64_t rows = 0;         // observations summed

  private:
    static constexpr size_t kBlockRows = 1024;  // observations whose means are the centre
    void flush();
    size_t n_;
    std::vector<double> block_;  // deviations not yet summed, by place
    size_t blockRows_ = 0;
    bool centred_ = false;
};

// The groups of a scan, the runs of equal values of the BY variables it
// was given (one group without them), each with where it begins and its
// sums; kept while they take at most kBytes, a fixed budget, so that what
// a data set keeps does not grow with its number of groups (beyond it, each
// group's moments are formed from its observations when it is entered).
struct ScanGroups {
    static constexpr size_t kMost = 64;
    static constexpr size_t kBytes = size_t{4} << 20;
    std::vector<int> byVariables;  // 0-based, in their order
    std::vector<int> place;        // by variable: its place in the sums, -1 none
    std::vector<int> variables;    // by place
    bool products = false;
    std::vector<ScanMoments> groups;
};

// Equality of two BY values of a variable of the kind `character`: texts,
// or numbers with the missing values equal only to the same missing value.
bool same_by_value(const ByValue& a, const ByValue& b, bool character);

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
    std::vector<Entry> entries;
};

// The host's data-set record (opaque to the module).
struct HostDataSet {
    std::string name;        // as the program names it (a member name or a path)
    std::string path;        // the CSV file
    bool output = false;     // created for writing
    std::string type;        // TYPE, upper case, empty when none
    bool typeGiven = false;  // TYPE given by a (type=...) option: the module does not replace it
    std::string role;        // as DataSetOptions::role
    std::string label;
    std::vector<velix::platform::DataSetVariable> variables;
    bool rowLabels = false;  // a column of the file had no name: its row labels (kRowLabelsName)
    size_t rowLabelColumn = 0;  // that column, from 0 (R writes it first, pandas after its index levels)
    // The first line before the names that starts with '#' and is no
    // "KEY=VALUE" attribute, and its number; empty when there is none.
    std::string commentLine;
    int64_t commentLineNo = 0;
    int64_t nObs = 0;
    // The sums of the observations of each group, from the scan; null when
    // they took too much memory (or a BY variable turned character).
    std::unique_ptr<velix::platform::ScanGroups> scanned;

    // The values: held in `variables`, or read again from the file by
    // `rows` (an input that does not hold them).  loaded is the
    // observation whose values `rows` holds, -1 none; loadedNext the
    // position after it.
    std::unique_ptr<velix::platform::CsvRows> rows;
    int64_t firstOffset = 0;  // byte offset of the line after the names
    int64_t loaded = -1;
    velix::platform::RowPosition loadedNext;
    std::vector<double> heldRow;  // the numbers of one held observation (dataset_numbers)

    // BY groups: runs of equal values of the BY variables, found as the
    // observations are read.
    std::vector<int> byVariables;      // 0-based variable indexes
    bool notSorted = false;            // runs need not be in ascending order
    bool byLines = false;              // each group is announced by its BY line (DATA=)
    int64_t group = -1;                // ordinal of the current group; -1 before the first
    bool ended = false;                // past the last group
    bool noGroup = false;              // synchronised to a group that does not exist
    velix::platform::RowPosition groupBegin, groupEnd;  // groupEnd once endKnown
    bool endKnown = false;
    velix::platform::ByKey key, previousKey;  // BY values of the current and the previous group
    velix::platform::RowPosition next;  // next observation of the group to deliver
    velix::platform::RowPosition current;  // the observation last delivered
    int64_t currentObs = -1;           // its number, -1 none
    // Every group, once a synchronisation had to look for one by value (its
    // next group was not the one wanted).
    std::vector<velix::platform::GroupEntry> groups;
    bool indexed = false;
    // The ordinals of `groups` in the order of their BY values (equal
    // values by ordinal): a group is found by value in log time.
    std::vector<size_t> groupOrder;

    VariableListRecord lists;            // the variable lists defined by xvdflst
    bool listsDefined = false;
    std::vector<int16_t> listStore[kHostListCount];  // the arrays of `lists`
    std::vector<std::unique_ptr<HostBinding>> bindings;
    bool defined = false;              // an output data set whose variables were defined (xvputi)
    bool written = false;              // an output data set already written
    // An output data set's first `spilledObs` observations, written out as
    // the lines of its file when a BY group ended; `variables` hold the
    // values of those after them.
    velix::platform::Spill spilledRows;
    int64_t spilledObs = 0;
};

namespace velix::platform {

// The name of the row labels, a file's first column without a name (as R's
// write.csv writes the row names).
inline constexpr const char* kRowLabelsName = "_ROWNAME_";

// Options written after a data-set name in the program: (type=...).
// The role of the data set the step analyses, as DataSetOptions::role
// names it.
inline constexpr char kRoleData[] = "DATA=";

// Whether `type` (any case) is a TYPE a data set may have: the kinds of
// moments DATA= reads (kMomentDataTypes), RAM and WEIGHT; known_types()
// lists them for a message.
bool known_type(const std::string& type);
std::string known_types();

struct DataSetOptions {
    std::string type;  // overrides the file's TYPE when not empty
    std::string role;  // the role the step gives it ("DATA=", "OUTSTAT="); "" outside a step's statement
    // Whether the scan sums the moments (of DATA=; the other inputs need
    // none), and the BY variables of the step, whose groups it sums apart.
    bool sums = true;
    std::vector<std::string> by;
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
// null with *error when its folder does not exist, or when its file (the
// same file however named: compared by device and inode where it exists)
// is that of the step's raw DATA= data set, which it would replace, or of
// another output of the step, which one of the two would overwrite.
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
// Moves the observations each output data set holds to the lines that
// wait for its file, so that they are not held while the step runs on
// (when a BY group begins).
void dataset_spill_outputs();
// Frees every data set of the step (the step-end hook).
void dataset_end_step();

// How many bytes of values an input data set holds in memory from the
// scan of its file: none unless set, so that no step keeps observations
// (a data set with more is read again from its file for each pass over
// it).  Tests set more, to compare data sets that hold their values with
// those that do not.  A data set that is not a regular file (a pipe)
// cannot be read twice and holds them all.
constexpr size_t kDefaultHoldLimit = 0;
void dataset_set_hold_limit(size_t bytes);
size_t dataset_hold_limit();

// CSV form.  Parses the text of a data-set file into `data` (variables,
// observations held, TYPE and LABEL); false with *error naming the line.
bool csv_read(const std::string& text, HostDataSet* data, std::string* error);
// Scans the text of `source` (from its start) into `data`: the variables
// and their types and lengths, TYPE, LABEL and the number of
// observations, data->firstOffset and, unless `by` is null,
// data->scanned, grouped by the BY variables it names (none: one group).
// The values are held in the
// variables while they take at most holdLimit bytes; beyond that none are
// held, and data->rows reads them again from the source, which it then
// owns.  false with *error naming the line.
bool csv_scan(std::unique_ptr<LineSource> source, size_t holdLimit, const std::vector<std::string>* by,
              HostDataSet* data, std::string* error);
// The lines of an open file (which the source closes), read a piece at a
// time; or of a text that outlives the source.
std::unique_ptr<LineSource> file_lines(std::FILE* file);
std::unique_ptr<LineSource> text_lines(const std::string& text);
// Formats a data set that holds its values in the same form: its header
// lines (TYPE, LABEL, CHAR and the names), then the lines of the
// observations it holds.
std::string csv_write(const HostDataSet* data);
std::string csv_write_header(const HostDataSet* data);
std::string csv_write_rows(const HostDataSet* data);

// Code of a special missing value: 0 ".", 1 "._", 2.. ".A".., -1 when the
// value is not missing.
int missing_code(double v);
// The text of a missing value: ".", "._" or ".A" to ".Z"; "" when the value
// is not missing.
std::string missing_text(double v);

// The BY line of the current group ("school=Pasteur g=2"); "" when the data
// set has no BY variables or is on no group.
std::string dataset_by_line(const HostDataSet* data);

// The observations of the current BY group for the platform's own passes
// over them (the moment accumulation): back to the group's first, the next
// one as xybyget delivers it (false at the group's end), and the values of
// the one delivered last: every variable's number (missing for a
// character one) and a character variable's text.
void dataset_rewind_group(HostDataSet* data);
bool dataset_next_row(HostDataSet* data);
const double* dataset_numbers(HostDataSet* data);
double dataset_number(HostDataSet* data, int variable);
const std::string& dataset_text(HostDataSet* data, int variable);
// Whether the data set is on a BY group.
bool dataset_on_group(const HostDataSet* data);
// The bytes an input data set keeps in memory: the values it holds, the
// sums of its scan, its list of groups and its reader's buffer and record.
size_t dataset_held_bytes(const HostDataSet* data);

}  // namespace velix::platform
