// The shared pieces of the optimizer's reports: their data tables on the
// library's output manager (built with the output-table toolkit: the first
// failing host call is reported and abandons the table, `ok` stays false so
// that a caller can stop its report), their note lines and labels.
#pragma once

#include <cstdint>

#include "host/output_table.h"
#include "velix/host.h"
#include "velix/nlp.h"

namespace velix::report {

// Digits of a column numbering 1..count: 3 up to 998, 4 up to 9998, else 5.
int32_t number_digits(int32_t count);

// A data table of the optimizer's reports: `name` titled by message `title`
// of the optimizer's group, bound to the template "Orvo.NLP.<name>".
OutputTable report_table(HostObject* manager, const char* name, int32_t title);

// The column formats of the reports: a row number of `digits` digits, a
// number with its column template (or 0), `width` characters with theirs.
inline ColumnFormat number_format(int32_t digits) {
    return {.displayWidth = digits};
}
inline ColumnFormat template_format(const char* columnTemplate) {
    return {.columnTemplate = columnTemplate};
}
inline ColumnFormat chars_format(int32_t width, const char* columnTemplate = nullptr) {
    return {.width = width, .columnTemplate = columnTemplate};
}

// A note line of the library's listing: entries 577 text, 280 `level`, 371
// 1, 273 'c'.  false (reported) on failure.
bool centred_note(HostObject* manager, HostText* text, int32_t level = 1);

// Parameter i's name, or "X" and i + 1, blank-padded into out[width] and
// NUL-terminated at out[width] (out holds width + 1 characters).
void parameter_label(const NlpProblem* p, int32_t i, char* out, int32_t width);

// v, or -v when the problem maximises and v is not missing.
double shown(const NlpProblem* p, double v);

}  // namespace velix::report
