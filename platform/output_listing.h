// The text pieces the listing renderings share: number formats for a set of
// values, cell texts, padding and centring on the print line, and the
// heading of a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/output_document.h"

namespace velix::platform::listing {

constexpr int kGap = 2;  // blanks between columns

// How a set of doubles prints: as integers, in fixed notation with 4
// decimals, or in E notation with 4 decimals when the magnitudes do not suit
// a fixed field (1e8 or more, or all below 1e-4).
struct NumberFormat {
    enum class Style { Integer, Fixed, Exponent };
    Style style = Style::Fixed;
    int decimals = 4;
};

NumberFormat choose_format(const std::vector<double>& values);
// A missing value's text: ".", "_" or its letter A to Z.
std::string missing_text(double v);
// A cell's text; doubles in the format f.
std::string value_text(const OutValue& v, const NumberFormat& f);
// The same appended to *out.
void append_value(std::string* out, const OutValue& v, const NumberFormat& f);
// Appends text padded with blanks to width, on the left (right-aligned)
// or on the right.
void append_padded(std::string* line, const std::string& text, size_t width, bool right);
// A text without its leading and trailing blanks.
std::string trimmed(const std::string& s);
// The print line's width (LINESIZE).
size_t line_size();

// Lines of the listing gathered and written at once (write_listing takes a
// text of several lines as those lines): an item costs one write and one
// page count rather than one a line.
class ListingLines {
  public:
    // Starts a line: append its text to the string returned, then end_line.
    std::string& begin_line() {
        start_ = text_.size();
        return text_;
    }
    // Ends the line begun last, without its trailing blanks when trim.
    void end_line(bool trim = false);
    void add(const std::string& line) {
        begin_line() += line;
        end_line();
    }
    // Writes the lines gathered and forgets them.
    void write();

  private:
    std::string text_;
    size_t start_ = 0;
};

// Centred lines of a (possibly multi-line) text.
void put_centred(const std::string& text, ListingLines* out);
// A blank line, the title and the texts of the dynamic title variables
// not printed already, and a blank line.
void put_heading(const OutItem& item, ListingLines* out);
// Column kinds whose cells are numbers (right-aligned).
bool numeric_kind(int32_t kind);

// Equation templates: tables whose columns are term groups of sign,
// coefficient, asterisk and parameter name (output_equations.cpp).
bool is_equation_table(const OutItem& t);
void put_equation_table(const OutItem& t);

}  // namespace velix::platform::listing
