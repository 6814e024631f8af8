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
#include "procedure/procedure.h"

namespace {

constexpr int32_t kGroupProc = 352;

}  // namespace

void cosput(ProcContext* ctx, HostText* tableName, int32_t titleNumber, HostText* valueColumn,
            int32_t n, const double* values, const int32_t* labelNumbers,
            HostText* templatePath) {
    HostObject* table = nullptr;
    {
        KyrArg args[] = {
            kyr_counted(143, "kyr", 3),
            kyr_counted(146, "data", 4),
            kyr_object(144, nullptr),
            kyr_int(148, -1),
            kyr_text(138, tableName),
            kyr_text(296, kyrmsg(kGroupProc, titleNumber)),
        };
        if (kyr_failed(wobmth(ctx->kyrManager, nullptr, 147, 6, args))) return;
        table = args[2].object;
    }

    HostText* labelCell = nullptr;
    const double* valueCell = values;  // the cell that holds the current value's address
    {
        KyrArg args[] = {
            kyr_int(103, 66),
            kyr_counted(138, "Label", 5),
            kyr_address(285, kKyrCell, &labelCell),
        };
        if (kyr_failed(wobmth(table, nullptr, 338, 3, args))) return;
    }
    {
        KyrArg args[] = {
            kyr_int(103, 5),
            kyr_text(138, valueColumn),
            kyr_address(343, kKyrCell, &valueCell),
        };
        if (kyr_failed(wobmth(table, nullptr, 338, 3, args))) return;
    }
    if (kyr_failed(wobmth(table, nullptr, 298, 0, nullptr))) return;
    {
        KyrArg args[] = {
            kyr_object(0, nullptr),
            kyr_object(0, table),
            kyr_text(339, templatePath),
        };
        int32_t rc = wobmth(ctx->kyrManager, nullptr, 422, 3, args);
        if (kyr_failed(rc)) return;
        ctx->kyrTable = args[0].object;
    }
    for (int32_t i = 0; i < n; ++i) {
        labelCell = kyrmsg(kGroupProc, labelNumbers[i]);
        if (kyr_failed(wobmth(table, nullptr, 329, 0, nullptr))) return;
        ++valueCell;
    }
    if (kyr_failed(wobmth(table, nullptr, 299, 0, nullptr))) return;
    KyrArg deliver[] = {kyr_object(0, ctx->kyrTable)};
    kyr_failed(wobmth(ctx->kyrManager, nullptr, 428, 1, deliver));
}
