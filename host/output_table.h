// The output-table toolkit: every table, group, title and listing line the
// module writes goes through it.
//
// The protocol of the host's output manager, one call per step: create a
// data table, define its columns on the caller's cells, end the columns,
// bind the table to its template (which gives the output handle), add the
// rows (the host reads the cells at each row), end the rows, deliver the
// output; and a note line of the listing, a title, the manager itself.
// Over it, the builders a routine uses: OutputTable (a data table of
// owned or caller's cells of any column kind), FactoidTable (labelled
// values), kyr_publish_matrix (a matrix table in one call), MatrixPieces
// (a matrix table of several pieces), the output groups and listing_line.  Their one failure rule: the
// first failed call is reported (xprrlog) and abandons the table; the
// numbers the routine computed are kept.
//
// Each routine builds the entry list of its step with the attribute codes
// and in the order the manager expects, calls the method through wobmth and
// returns its status unchanged (negative for a failure).  Reporting a
// failure is the caller's: most give the status to kyr_failed and abandon
// the table at the first failed call.  Outputs are written only when the
// call succeeds.  A column or a bind takes at most eight further entries;
// more are a fault of the caller and end the step with kLevelInternal.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "velix/host.h"
#include "velix/types.h"

// Creates a data table named `name` (characters, or a text handle)
// with the title `title`: entries 143 "kyr", 146 "data", 144 (out: the
// table), 148 -1, 138 name, 296 title.  out: *table, the new table.
int32_t kyr_table_create(HostObject* manager, std::string_view name, HostText* title,
                         HostObject** table);
int32_t kyr_table_create(HostObject* manager, HostText* name, HostText* title, HostObject** table);

// Defines a column of kind `kind` named `name` (characters, or a text
// handle) that reads its value from `cell` at each row: entries 103 kind,
// 138 name, 285 cell, then the nExtra entries of extra[nExtra] as they are
// (width 289, display width 272, label 339 and the like).
int32_t kyr_table_column(HostObject* table, int32_t kind, std::string_view name, const void* cell,
                         const KyrArg* extra = nullptr, int32_t nExtra = 0);
int32_t kyr_table_column(HostObject* table, int32_t kind, HostText* name, const void* cell,
                         const KyrArg* extra = nullptr, int32_t nExtra = 0);

// The same for a column whose `cell` holds the address of the value (entry
// 343 in place of 285): the caller moves the address from row to row.
int32_t kyr_table_column_at(HostObject* table, int32_t kind, HostText* name, const void* cell,
                            const KyrArg* extra = nullptr, int32_t nExtra = 0);

// Ends the column definitions of `table`.
int32_t kyr_table_end_columns(HostObject* table);

// Binds `table` to the template `path` (characters, or a text handle):
// entries (out: the output handle), table, 339 path, then the nExtra
// entries of extra[nExtra] (template variables).  out: *output.
int32_t kyr_table_bind(HostObject* manager, HostObject* table, std::string_view path,
                       HostObject** output, const KyrArg* extra = nullptr, int32_t nExtra = 0);
int32_t kyr_table_bind(HostObject* manager, HostObject* table, HostText* path, HostObject** output,
                       const KyrArg* extra = nullptr, int32_t nExtra = 0);

// Adds one row of `table` from the current contents of its cells.
int32_t kyr_table_add_row(HostObject* table);

// Ends the rows of `table`.
int32_t kyr_table_end_rows(HostObject* table);

// Delivers the bound output `output` of a table whose rows are ended.
int32_t kyr_table_deliver(HostObject* manager, HostObject* output);

// Writes `text` as one note line of the listing, justified by `justify`
// ('l' left, 'c' centred): entries 577 text, 280 `level`, 371 1, 273
// justify.
int32_t kyr_note(HostObject* manager, HostText* text, char justify, int32_t level = 1);

// Writes `text` of `lines` lines (joined by line breaks) as one centred
// note: entries 577 text, 619 lines, 280 1, 273 'c'.
int32_t kyr_lines_note(HostObject* manager, HostText* text, int32_t lines);

// Creates on `anchor` an output manager whose messages are of the group
// `messageGroup`: entries 143 "kyr", 146 "manager", 144 (out: the
// manager), 383 messageGroup.  out: *manager.
int32_t kyr_manager_create(HostObject* anchor, int32_t messageGroup, HostObject** manager);

// Writes `text` as a title of kind `kind` (1 the procedure's title, 2 a
// section's, kTitleProgram the program's title lines): entries an empty
// counted one, 440 kind, 2558 1 for the procedure's title, 148 -1, 577 text.
int32_t kyr_title(HostObject* manager, HostText* text, int32_t kind);

// The title kind of the program's title lines (TITLE1 to TITLE10).
constexpr int32_t kTitleProgram = 0;

// Writes the title lines the host holds for the step (xtitle 1 to 10) as
// one title of kind kTitleProgram, a line each up to the last one set (one
// not set is blank); nothing when none is set.  Result: that of kyr_title,
// or 0.
int32_t kyr_program_titles(HostObject* manager);

// Tells the manager whether the step is compiling (1) or not (0): entry
// 433 state.
int32_t kyr_compile_state(HostObject* manager, int32_t state);

// ---------------------------------------------------------------------------
// Groups and listing lines.

// Begins an output on the manager (a section of tables, or before a matrix
// table): method 435 without entries.
int32_t kyr_begin_output(HostObject* manager);
// The same with the failure rule: false (after xprrlog) when it fails.
bool begin_output(HostObject* manager);

// Opens an output group named `name` with the label `label`: entries 144
// (out: the group), 435 0, 138 name, 296 label.  out: *group.
int32_t kyr_group_open(HostObject* manager, std::string_view name, HostText* label, HostObject** group);
// Closes a group through the close entry of its own class (operation 4); 0
// for a null group or a class without a close entry.
int32_t kyr_group_close(HostObject* group);

// The same with the failure rule: a failed call is reported; the open gives
// 0 then, and 0 also when there is no manager.
HostObject* open_output_group(HostObject* manager, std::string_view name, HostText* label);
void close_output_group(HostObject* group);

// Writes `text` as one left-justified line of the listing; false (after
// xprrlog) when the call fails or there is no manager.
bool listing_line(HostObject* manager, HostText* text);

// ---------------------------------------------------------------------------
// A data table built row by row.
//
// Its columns are defined as they are declared, in order.  A column either
// owns its cell (text, name, int and double columns, set with set_text ...
// set_double) or reads a cell of the caller (cell_column): the caller
// changes the cell before each add_row and keeps it alive until the last
// row.  Template variables set with `variable` go to the table at once.

// The optional entries of a column definition, each written when set.
struct ColumnFormat {
    int32_t width = 0;                     // characters of a character or text column (289)
    int32_t displayWidth = 0;              // display width of a number (272)
    const char* columnTemplate = nullptr;  // the column's template (339)
};

class OutputTable {
public:
    // Creates the data table `name` titled `title`, bound to `templatePath`;
    // a `titleText` sets the template variable "titletext".  Without a
    // manager the table is not ok and every call does nothing.
    OutputTable(HostObject* manager, std::string_view name, HostText* title, std::string_view templatePath,
                HostText* titleText = nullptr);
    // The same with the name and the template path as text handles.
    OutputTable(HostObject* manager, HostText* name, HostText* title, HostText* templatePath);
    // Goes on with a table whose columns are ended and bound elsewhere
    // (`table` and its `output` handle): rows and the delivery.  A null
    // table is not ok.
    static OutputTable resume(HostObject* manager, HostObject* table, HostObject* output);
    // The host holds the addresses of the owned cells: a table moves (its
    // cells stay where they are) but is never copied.
    OutputTable(OutputTable&&) = default;
    OutputTable(const OutputTable&) = delete;
    OutputTable& operator=(const OutputTable&) = delete;
    void text_column(const std::string& name, int32_t width);
    // A character column named by a variable and holding its name: as wide
    // as the name, with the template variable "Width" set to that width and
    // the column template "Variable" (the tables that list variables).
    void name_column(const std::string& name);
    void int_column(const std::string& name);
    void double_column(const std::string& name);
    // A column of kind `kind` that reads the caller's `cell` at each row.
    void cell_column(KyrColumnKind kind, std::string_view name, const void* cell,
                     const ColumnFormat& format = {});
    // The same for a `cell` that holds the address of the value: the caller
    // moves the address from row to row.
    void indirect_column(KyrColumnKind kind, HostText* name, const void* cell,
                         const ColumnFormat& format = {});
    // Sets the template variable `name` of the table to `value`.
    void variable(std::string_view name, HostText* value);
    bool end_columns();  // ends the columns and binds the table
    void set_text(size_t column, const std::string& text);
    void set_int(size_t column, int32_t v);
    void set_double(size_t column, double v);
    bool add_row();
    bool deliver();  // ends the rows and delivers
    bool ok() const { return ok_; }
    HostObject* table() const { return table_; }
    HostObject* output() const { return handle_; }  // the output handle, once bound

   private:
    // Applies the failure rule to a call's status; the table's state after it.
    bool check(int32_t status);

    struct Column {
        int kind = 0;  // a KyrColumnKind
        int32_t width = 0;
        std::string characters;    // the character cell
        HostText* text = nullptr;  // the text cell
        int32_t integer = 0;
        double number = 0.0;
    };
    // Appends an owned column of the kind and width and defines it on its cell.
    void add_column(const std::string& name, KyrColumnKind kind, int32_t width = 0);
    // Defines one column named by the entry `name` on the entry `cell` with
    // the entries of `format` and the nExtra entries of extra[nExtra] after
    // them.
    void define(KyrColumnKind kind, const KyrArg& name, const KyrArg& cell,
                const ColumnFormat& format, const KyrArg* extra = nullptr, int32_t nExtra = 0);
    HostObject* manager_;
    HostObject* table_ = nullptr;
    HostObject* handle_ = nullptr;
    std::string templatePath_;
    HostText* templateText_ = nullptr;  // the template path as a text handle, or 0
    HostText* titleText_ = nullptr;
    // A deque keeps the owned cells where the host was told they are.
    std::deque<Column> columns_;
    bool ok_ = true;
};

// ---------------------------------------------------------------------------
// A factoid: labelled values, one entry per call.

class FactoidTable {
public:
    // Creates the factoid `name` titled `title` with its template path.
    FactoidTable(HostObject* manager, std::string_view name, std::string_view templatePath, HostText* title);
    // A value in the host's default number format.
    void entry(HostText* label, double value);
    // A value with its display width and decimals, and the entry style when
    // `style` is not negative.
    void entry(HostText* label, double value, int32_t width, int32_t decimals, int32_t style = -1);
    // An integer value with its display width and decimals.
    void int_entry(HostText* label, int32_t value, int32_t width, int32_t decimals);
    // A probability: the value in the host's p-value format "pvalue6.4".
    void probability_entry(HostText* label, double value);
    bool end();  // ends the entries; false when any call failed
    bool ok() const { return ok_; }

private:
    bool check(int32_t status);
    HostObject* table_ = nullptr;
    bool ok_ = false;
};

// ---------------------------------------------------------------------------
// A matrix table, published in one call.

struct MatrixTable {
    HostText* templatePath = nullptr;
    HostText* name = nullptr;
    HostText* title = nullptr;
    const double* values = nullptr;  // stored as `storage` says
    int32_t rows = 0;
    int32_t columns = 0;
    const NameRecord* rowLabels = nullptr;     // or 0
    const NameRecord* columnLabels = nullptr;  // or 0
    const char* rowNames = nullptr;            // fixed-width row names, or 0 ...
    int32_t rowNameWidth = 0;                  // ... and their width
    const char* storage = "sc";                // "sc" packed symmetric, "c" by columns, ...
    int32_t labelStyle = 0;                    // entry 278 when not negative
    int32_t pieceStyle = -1;                   // entry 393 when not negative
    HostText* description = nullptr;           // entry 267 when not 0
    bool listingSwitches = false;              // entries 280 and 371, both 1
    // Template variables: nVariables name/value entry pairs (311, 287),
    // written after the others.
    const KyrArg* variables = nullptr;
    int32_t nVariables = 0;
};

// Publishes the matrix table; a failure is reported.  Returns the status.
int32_t kyr_publish_matrix(HostObject* manager, const MatrixTable& m);

// ---------------------------------------------------------------------------
// A matrix table of several pieces (values, standard errors, cell texts),
// published as one: the matrix object is created on the manager, takes its
// pieces, is published and is closed.  The first failed call is reported
// and abandons the table; the object is closed in any case.

class MatrixPieces {
   public:
    explicit MatrixPieces(HostObject* manager);
    ~MatrixPieces();
    MatrixPieces(const MatrixPieces&) = delete;
    MatrixPieces& operator=(const MatrixPieces&) = delete;
    // Adds one piece: the entries[n] of its values, shape, storage and labels.
    bool piece(KyrArg* entries, int32_t n);
    // Publishes the pieces under the entries[n] of names, titles and formats.
    bool publish(KyrArg* entries, int32_t n);
    // Closes the object (a failure is reported); the destructor closes it
    // when this was not called.
    void close();
    bool ok() const { return ok_; }

   private:
    bool check(int32_t status);
    HostObject* matrix_ = nullptr;
    bool ok_ = false;
};
