// A data table of the optimizer's reports on the library's output manager,
// built by the output-table protocol (create, title variable, columns, end
// columns, bind, rows, end rows, deliver).  The first failing host call is
// reported with xprrlog and abandons the table: every later step does
// nothing and `ok` stays false, so that a caller can stop its report.
#pragma once

#include <cstdint>

#include "velix/host.h"
#include "velix/nlp.h"

namespace velix::report {

// Column kinds of the reports.
constexpr int32_t kColInteger = 4;
constexpr int32_t kColDouble = 5;
constexpr int32_t kColChars = 20;

// Digits of a column numbering 1..count: 3 up to 998, 4 up to 9998, else 5.
int32_t number_digits(int32_t count);

class ReportTable {
public:
    // Creates the table `name` with title message `title` (group kMsgNlp).
    ReportTable(HostObject* manager, const char* name, int32_t title);
    // Sets a dynamic title variable ("TitleText", "TitleText1", ...) to a
    // message text.
    void title_variable(const char* variable, HostText* text);
    void integer(const char* name, const int32_t* cell, int32_t digits);
    void real(const char* name, const double* cell, const char* templateColumn = nullptr);
    // A character column of `width` characters read from `cell`.
    void chars(const char* name, const char* cell, int32_t width, const char* templateColumn = nullptr);
    // Ends the columns and binds the table to "Orvo.NLP.<name>".
    void bind();
    void row();
    void deliver();
    bool ok() const { return ok_; }

private:
    void check(int32_t status);
    HostObject* manager_;
    HostObject* table_ = nullptr;
    HostObject* output_ = nullptr;
    const char* name_;
    bool ok_ = true;
};

// A note line of the library's listing: entries 577 text, 280 `level`, 371
// 1, 273 'c'.  false (reported) on failure.
bool centred_note(HostObject* manager, HostText* text, int32_t level = 1);

// Parameter i's name, or "X" and i + 1, blank-padded into out[width] and
// NUL-terminated at out[width] (out holds width + 1 characters).
void parameter_label(const NlpProblem* p, int32_t i, char* out, int32_t width);

// v, or -v when the problem maximises and v is not missing.
double shown(const NlpProblem* p, double v);

}  // namespace velix::report
