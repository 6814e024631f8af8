// Output tables of the model specification through the host's output
// manager: a data table of text, integer and double columns built row by
// row, and the output groups.  A failed object call is reported (xprrlog)
// and abandons the table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velix/proc_context.h"

// Opens an output group named `name` with the label of message 352/`label`;
// 0 when the manager is absent or the call fails.
HostObject* open_output_group(ProcContext* ctx, const char* name, int32_t label);
void close_output_group(HostObject* group);

// Writes message 352/`number` as one left-justified line of the listing
// through the output manager; false (after xprrlog) when the call fails.
bool listing_line(ProcContext* ctx, int32_t number);

// The names of matrix types and forms as the model tables show them.
const char* matrix_type_name(int32_t type);
const char* matrix_form_name(int32_t form);

class OutputTable {
public:
    // Creates the data table `name` with title message 352/`title`, bound to
    // `templatePath`; a positive `titleText` sets the template variable
    // "titletext" to message 352/titleText (with `titleArg` when >= 0).
    OutputTable(ProcContext* ctx, const char* name, int32_t title, const char* templatePath,
                int32_t titleText, int32_t titleArg = -1);
    void text_column(const std::string& name, int32_t width);
    void int_column(const std::string& name);
    void double_column(const std::string& name);
    bool end_columns();  // ends the columns and binds the table
    void set_text(size_t column, const std::string& text);
    void set_int(size_t column, int32_t v);
    void set_double(size_t column, double v);
    bool add_row();
    bool deliver();  // ends the rows and delivers
    bool ok() const { return ok_; }

private:
    // Reports a failed call (kyr_failed) and keeps the table from further
    // calls; the table's state after the call.
    bool check(int32_t status);

    struct Column {
        std::string name;
        int kind = 0;                // 66 text handle, 3 integer, 5 double
        int32_t width = 0;
        HostText* text = nullptr;    // the text cell
        int32_t integer = 0;
        double number = 0.0;
    };
    ProcContext* ctx_;
    HostObject* table_ = nullptr;
    HostObject* handle_ = nullptr;
    std::string templatePath_;
    HostText* titleText_ = nullptr;
    std::vector<Column> columns_;
    bool ok_ = true;
};
