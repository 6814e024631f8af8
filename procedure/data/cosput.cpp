// cosput: a small output table of two columns, a text label and a double.
//
// It is the plain form of the output-table protocol every table printer of
// the procedure follows:
//   create the table; define the label and value columns; end the columns;
//   bind it to its template (the output handle is kept at once);
//   for each row: set the label cell, add the row, advance the value cell;
//   end the rows; deliver.
// The host reads the bound cells when a row is added, so the cells are set
// before each call.  A failing call is reported and abandons the table.
#include "host/host_support.h"
#include "procedure/data/data_view.h"
#include "procedure/procedure.h"
#include "velix/codes.h"

namespace {


}  // namespace

void cosput(ProcContext* ctx, HostText* tableName, int32_t titleNumber, HostText* valueColumn,
            int32_t n, const double* values, const int32_t* labelNumbers,
            HostText* templatePath) {
    const DataView dv = data_view(ctx);
    HostObject* table = nullptr;
    HostText* title = kyrmsg(kMsgProc, titleNumber);
    if (kyr_failed(kyr_table_create(dv.output->kyrManager, tableName, title, &table))) return;
    HostText* labelCell = nullptr;
    const double* valueCell = values;  // the cell that holds the current value's address
    if (kyr_failed(kyr_table_column(table, 66, "Label", &labelCell))) return;
    if (kyr_failed(kyr_table_column_at(table, 5, valueColumn, &valueCell))) return;
    if (kyr_failed(kyr_table_end_columns(table))) return;
    if (kyr_failed(kyr_table_bind(dv.output->kyrManager, table, templatePath, &dv.output->kyrTable))) return;
    for (int32_t i = 0; i < n; ++i) {
        labelCell = kyrmsg(kMsgProc, labelNumbers[i]);
        if (kyr_failed(kyr_table_add_row(table))) return;
        ++valueCell;
    }
    if (kyr_failed(kyr_table_end_rows(table))) return;
    kyr_failed(kyr_table_deliver(dv.output->kyrManager, dv.output->kyrTable));
}
