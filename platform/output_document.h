// The delivered output of the run as the platform keeps it: one record per
// step holding, in delivery order, the items the output manager delivered and
// the numbered messages of the log.  Both renderings read these records: the
// listing prints an item the moment it is delivered, the JSON writer
// serialises the whole document on request or, when the command streams
// it (output_stream_json), each item and message as it comes, the step's
// record then written when the step ends and not kept.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velix::platform {

// A typed value: a table cell, a factoid value, a dynamic variable, a title.
struct OutValue {
    enum class Kind { Null, Int, Double, Text };
    Kind kind = Kind::Null;
    int64_t integer = 0;
    double real = 0.0;        // may be a missing value
    std::string text;
    int32_t messageGroup = 0;   // for a text made from a numbered message
    int32_t messageNumber = 0;

    static OutValue make_int(int64_t v) { OutValue o; o.kind = Kind::Int; o.integer = v; return o; }
    static OutValue make_double(double v) { OutValue o; o.kind = Kind::Double; o.real = v; return o; }
    static OutValue make_text(std::string s) { OutValue o; o.kind = Kind::Text; o.text = std::move(s); return o; }
};

using NamedValues = std::vector<std::pair<std::string, OutValue>>;

// Sets name := value, replacing an earlier value of the same name.
void set_named(NamedValues* list, const std::string& name, OutValue value);

struct OutColumn {
    std::string name;
    int32_t kind = 0;    // 66 text, 5 double, 1/3/4 integer, 6/20 character
    int32_t width = 0;   // the width entry, 0 when none was given
    std::string columnTemplate;  // the column template, empty when none
    NamedValues variables;
};

struct OutFactoidEntry {
    OutValue label;
    OutValue value;
    int32_t width = 0;     // display width, 0 when not given
    int32_t decimals = -1; // decimals, -1 when not given; 99 chooses the shortest exact form
};

struct OutMatrixPiece {
    std::string label;               // "" for the main values
    std::vector<OutValue> values;    // rows x columns, by rows
};

struct OutItem {
    // ByGroup: the host's line that starts a BY group of DATA=: its text
    // ("school=Pasteur") in title, its number in level, its values in
    // dynamic.
    enum class Type { Title, GroupOpen, GroupClose, Table, Matrix, Factoid, Note, ByGroup };
    Type type = Type::Note;
    std::string name;
    std::string path;     // template path
    OutValue title;       // title, group label or note text
    int32_t level = 0;    // title kind (1 procedure, 2 section); group nesting depth
    char justify = 'l';   // note justification
    NamedValues dynamic;  // dynamic variables
    // data tables
    std::vector<OutColumn> columns;
    std::vector<std::vector<OutValue>> rows;
    // factoids
    std::vector<OutFactoidEntry> entries;
    // matrix tables
    int32_t nRows = 0;
    int32_t nColumns = 0;
    std::string storage;
    std::vector<std::string> rowLabels;      // empty when none were given
    std::vector<std::string> columnLabels;
    std::vector<OutMatrixPiece> pieces;      // pieces[0] holds the main values
    OutValue secondTitle;
    OutValue description;
};

struct OutMessage {
    int32_t group = 0;
    int32_t number = 0;
    std::string severity;  // "ERROR", "WARNING", "NOTE" or ""
    std::string text;
    // The byGroup item of the BY group of DATA= the step was in when the
    // message was logged; null outside the BY-group loop (shared by the
    // messages of one group).
    std::shared_ptr<const OutItem> byGroup;
};

struct OutStep {
    int number = 0;
    bool finished = false;
    int32_t returnCode = 0;
    std::vector<OutItem> items;
    std::vector<OutMessage> messages;
};

// Prints the item on the listing and appends it to the current step.
void deliver_item(OutItem item);
// Appends a numbered message of the log to the current step.
void record_message(int32_t group, int32_t number, const std::string& text);

// The BY group of DATA= that the step has reached, whose log lines follow a
// line that names it and whose messages carry its byGroup item: entered
// when the group starts, left when the next starts, when the groups have
// ended and when the step ends.
void output_enter_by_group(const OutItem& byGroup);
void output_leave_by_group();
// The log line that names the current BY group ("BY group 2: school=Pasteur")
// when the group has logged nothing yet, and from then on "" (as outside the
// BY-group loop).
std::string by_group_log_line();

// The listing rendering of one item (output_listing.cpp).
void render_listing(const OutItem& item);
// Prints what the listing holds back: the records of a matrix published a
// row at a time (render_listing) wait for the next item; each direct line
// of the listing and the end of a step print them first.
void flush_listing();

// The severity word a message text starts with, "" when none.
std::string severity_of(const std::string& text);

// The current step's record, started on demand when the runner did not.
OutStep& current_step();

// JSON text of a double: 17 significant digits; missing values and NaNs are
// null, infinities are +-1e999.
std::string json_number(double v);

}  // namespace velix::platform
