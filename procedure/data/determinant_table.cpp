// The one-row determinant table of a moment matrix or of the predicted
// model matrix: the determinant, its logarithm and a 12-character text
// form that stays readable when the determinant is beyond the range of a
// double.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/types.h"

namespace {

// Host code of the special missing value ".M" (0 ".", 1 "._", 2 ".A").
constexpr int kMissingKindM = 2 + ('M' - 'A');
// log(DBL_MAX): a larger log-determinant has no double determinant.
constexpr double kLogDblMax = 709.78271289339;
constexpr double kLn10 = 2.302585092994046;
constexpr int32_t kCharDetWidth = 12;

bool is_missing_kind_m(double d) {
    const double m = host_special_missing(kMissingKindM);
    uint64_t a, b;
    std::memcpy(&a, &d, sizeof a);
    std::memcpy(&b, &m, sizeof b);
    return (a >> 48) == 0xFFFFu && a == b;
}

// The determinant in fixed notation with as many decimals as the
// 12-character field holds ("0.0000123457", "1234.5000000").  A value of
// 13 or more integer digits has no fixed form in the field, and cutting
// its digits would misstate it: it is given with six significant digits
// in E notation instead.
void fixed_text(double value, char* text, size_t size) {
    for (int decimals = kCharDetWidth - 2; decimals >= 0; --decimals) {
        const int length = std::snprintf(text, size, "%.*f", decimals, value);
        if (length > 0 && length <= kCharDetWidth) return;
    }
    std::snprintf(text, size, "%.6g", value);
}

}  // namespace

void cosdet(ProcContext* ctx, HostText* tableName, int32_t titleNumber, double logDet,
            int32_t rowLabelNumber, HostText* templatePath) {
    const DataView dv = data_view(ctx);
    //   decide the cells: missing 'M' -> 0; beyond the double range -> the
    //   decimal exponent; otherwise exp(logDet) in a readable 12-character form
    //   create, define five columns, end columns, bind, one row, end, deliver
    double determinant = 0.0;
    char text[kCharDetWidth + 20] = {};
    if (is_missing_kind_m(logDet)) {
        std::snprintf(text, sizeof text, "0");
    } else if (logDet >= kLogDblMax) {
        // "1.0E" and an exponent of up to 8 digits fill the 12 characters;
        // a larger (or infinite) log-determinant reads "Infinity" rather
        // than a cut exponent.
        const double exponent = logDet / kLn10;
        if (exponent < 1e8)
            std::snprintf(text, sizeof text, "1.0E%-8d", static_cast<int32_t>(exponent));
        else
            std::snprintf(text, sizeof text, "Infinity");
        determinant = velix::kDblMax;
    } else {
        determinant = std::exp(logDet);
        fixed_text(determinant, text, sizeof text);
    }
    char charDet[kCharDetWidth];
    std::memset(charDet, ' ', sizeof charDet);
    const int32_t charLen = static_cast<int32_t>(std::min<size_t>(std::strlen(text), kCharDetWidth));
    std::memcpy(charDet, text, charLen);

    OutputTable table(dv.output->kyrManager, tableName, kyrmsg(kMsgProc, titleNumber), templatePath);
    HostText* label1 = kyrmsg(kMsgProc, rowLabelNumber);
    HostText* label2 = kyrmsg(kMsgProc, kMsgLogDetLabel);
    double logCell = logDet;
    table.cell_column(kColumnText, "Label1", &label1);
    table.cell_column(kColumnDouble, "Determinant", &determinant);
    table.cell_column(kColumnChars, "CharDet", charDet, {.width = charLen});
    table.cell_column(kColumnText, "Label2", &label2);
    table.cell_column(kColumnDouble, "LogDet", &logCell);
    if (!table.end_columns()) return;
    dv.output->kyrTable = table.output();
    if (table.add_row()) table.deliver();
}
