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

void cosput(ProcContext* ctx, HostText* tableName, int32_t titleNumber, HostText* valueColumn,
            int32_t n, const double* values, const int32_t* labelNumbers,
            HostText* templatePath) {
    const DataView dv = data_view(ctx);
    OutputTable table(dv.output->kyrManager, tableName, kyrmsg(kMsgProc, titleNumber), templatePath);
    HostText* labelCell = nullptr;
    const double* valueCell = values;  // the cell that holds the current value's address
    table.cell_column(kColumnText, "Label", &labelCell);
    table.indirect_column(kColumnDouble, valueColumn, &valueCell);
    if (!table.end_columns()) return;
    dv.output->kyrTable = table.output();
    for (int32_t i = 0; i < n; ++i) {
        labelCell = kyrmsg(kMsgProc, labelNumbers[i]);
        if (!table.add_row()) return;
        ++valueCell;
    }
    table.deliver();
}
