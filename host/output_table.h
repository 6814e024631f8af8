// The output-table protocol of the host's output manager, one call per
// step: create a data table, define its columns on the caller's cells, end
// the columns, bind the table to its template (which gives the output
// handle), add the rows (the host reads the cells at each row), end the
// rows, deliver the output; and a note line of the listing.
//
// Each routine builds the entry list of its step with the attribute codes
// and in the order the manager expects, calls the method through wobmth and
// returns its status unchanged (negative for a failure).  Reporting a
// failure is the caller's: most give the status to kyr_failed and abandon
// the table at the first failed call.  Outputs are written only when the
// call succeeds.  A column or a bind takes at most eight further entries;
// more are a fault of the caller and end the step with 9999.
#pragma once

#include <cstdint>
#include <string_view>

#include "velix/host.h"

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
// ('l' left, 'c' centred): entries 577 text, 280 1, 371 1, 273 justify.
int32_t kyr_note(HostObject* manager, HostText* text, char justify);
