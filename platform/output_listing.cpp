// The listing rendering of delivered output: plain-text tables centred on
// the print line (LINESIZE), a title over each (a title text that repeats
// it is not printed again), column headers ruled with the FORMCHAR rule
// character, numbers right-aligned with one format per column, tables and
// matrices wider than the line continued in blocks below with their row
// labels repeated, matrix pieces under the names of what they hold,
// equation templates as equations (output_equations.cpp), factoids as label
// and value lines, notes as lines, the line of a BY group ("school=Pasteur")
// centred before its output, and each group opening a section headed by its
// label.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/format.h"
#include "platform/output_document.h"
#include "platform/output_listing.h"
#include "platform/print.h"
#include "velix/host.h"

namespace velix::platform {
namespace listing {

NumberFormat choose_format(const std::vector<double>& values) {
    constexpr double kIntegerLimit = 1e9;   // larger integral values print in E notation
    constexpr double kFixedHigh = 1e8;      // fixed notation up to here
    constexpr double kFixedLow = 1e-4;      // and from here up
    bool any = false, integral = true;
    double maxAbs = 0.0;
    for (double v : values) {
        if (host_is_missing(v) || !std::isfinite(v)) continue;
        any = true;
        if (v != std::floor(v) || std::fabs(v) >= kIntegerLimit) integral = false;
        maxAbs = std::max(maxAbs, std::fabs(v));
    }
    NumberFormat f;
    if (!any || integral)
        f.style = NumberFormat::Style::Integer;
    else if (maxAbs >= kFixedHigh || maxAbs < kFixedLow)
        f.style = NumberFormat::Style::Exponent;
    return f;
}

// A missing value prints as "." or, for the special missing values, as
// "_" or its letter A to Z; the codes are the host's own encoding
// (host_special_missing: 0 ".", 1 "._", 2 to 27 ".A" to ".Z").
std::string missing_text(double v) {
    constexpr int kSpecialCodes = 28;
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int code = 1; code < kSpecialCodes; ++code) {
        const double special = host_special_missing(code);
        uint64_t sbits;
        std::memcpy(&sbits, &special, sizeof sbits);
        if (sbits == bits) return code == 1 ? "_" : std::string(1, static_cast<char>('A' + code - 2));
    }
    return ".";
}

// A number's text in the format f, appended to *out without a text of its
// own: the tables ask for one in every cell.
void append_number(std::string* out, double v, const NumberFormat& f) {
    if (host_is_missing(v)) {
        out->append(missing_text(v));
        return;
    }
    // A number that is not finite is no result: it prints as missing.
    if (!std::isfinite(v)) {
        out->push_back('.');
        return;
    }
    // Up to 309 integer digits in fixed notation.
    char buf[400];
    size_t n = 0;
    switch (f.style) {
        case NumberFormat::Style::Integer: n = format_double(buf, sizeof buf, v, 'f', 0); break;
        case NumberFormat::Style::Fixed: n = format_double(buf, sizeof buf, v, 'f', f.decimals); break;
        case NumberFormat::Style::Exponent: n = format_double(buf, sizeof buf, v, 'E', f.decimals); break;
    }
    out->append(buf, n);
}

void append_value(std::string* out, const OutValue& v, const NumberFormat& f) {
    switch (v.kind) {
        case OutValue::Kind::Null: return;
        case OutValue::Kind::Int: {
            char buf[24];
            out->append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, v.integer).ptr - buf));
            return;
        }
        case OutValue::Kind::Double: append_number(out, v.real, f); return;
        case OutValue::Kind::Text: out->append(v.text); return;
    }
}

std::string value_text(const OutValue& v, const NumberFormat& f) {
    std::string text;
    append_value(&text, v, f);
    return text;
}

void append_padded(std::string* line, const std::string& text, size_t width, bool right) {
    const size_t pad = width > text.size() ? width - text.size() : 0;
    if (right) line->append(pad, ' ');
    line->append(text);
    if (!right) line->append(pad, ' ');
}

size_t line_size() { return static_cast<size_t>(listing_line_size()); }

void ListingLines::end_line(bool trim) {
    if (trim)
        while (text_.size() > start_ && text_.back() == ' ') text_.pop_back();
    // A line that ends with a line break of its own is ended already.
    if (text_.size() == start_ || text_.back() != '\n') text_.push_back('\n');
    // A table of many thousand rows goes out in parts at line ends, as
    // line-by-line writing would, and is not held whole.
    constexpr size_t kWriteBytes = size_t{1} << 20;
    if (text_.size() >= kWriteBytes) write();
}

void ListingLines::write() {
    if (!text_.empty()) write_listing(text_);
    text_.clear();
}

// Centred lines of a (possibly multi-line) text.
void put_centred(const std::string& text, ListingLines* out) {
    const size_t width = line_size();
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        const size_t n = nl - start;
        std::string& line = out->begin_line();
        if (n > 0 && n < width) line.append((width - n) / 2, ' ');
        line.append(text, start, n);
        out->end_line();
        start = nl + 1;
    }
}

// A text without its leading and trailing blanks.
std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The title and, under it, the texts of the dynamic title variables
// ("TitleText", "titletext1", ...), which the module sets as subtitles.
// Many tables set their title text to the title itself; a text the reader
// has just read is not printed again.
void put_heading(const OutItem& item, ListingLines* out) {
    out->add("");
    std::vector<std::string> printed;
    std::string title = trimmed(item.title.text);
    if (!title.empty()) {
        put_centred(item.title.text, out);
        printed.push_back(std::move(title));
    }
    for (const auto& [name, value] : item.dynamic) {
        if (value.kind != OutValue::Kind::Text || name.size() < 5 || strncasecmp(name.c_str(), "title", 5) != 0)
            continue;
        std::string text = trimmed(value.text);
        if (text.empty() || std::find(printed.begin(), printed.end(), text) != printed.end()) continue;
        put_centred(value.text, out);
        printed.push_back(std::move(text));
    }
    if (!printed.empty()) out->add("");
}

bool numeric_kind(int32_t kind) {
    return kind == kColumnDouble || kind == kColumnShort || kind == kColumnInt || kind == kColumnUnsigned;
}

}  // namespace listing

namespace {

using namespace listing;

// A grid of cells with row labels down the side and column labels across,
// in blocks of as many columns as fit on the line.
void put_grid(const std::vector<std::string>& rowLabels, const std::vector<std::string>& colLabels,
              const std::vector<std::string>& cells, size_t rows, size_t cols, bool rightAlign, ListingLines* out) {
    size_t labelWidth = 0;
    for (const auto& l : rowLabels) labelWidth = std::max(labelWidth, l.size());
    size_t field = 1;
    for (const auto& c : cells) field = std::max(field, c.size());
    for (const auto& l : colLabels) field = std::max(field, l.size());
    const size_t width = line_size();
    const size_t room = width > labelWidth + kGap ? width - labelWidth : field + kGap;
    const size_t perBlock = std::max<size_t>(1, room / (field + kGap));
    for (size_t first = 0; first < cols; first += perBlock) {
        const size_t last = std::min(cols, first + perBlock);
        if (first > 0) out->add("");
        // Each block is centred on the line, like the tables.
        const size_t blockWidth = labelWidth + (last - first) * (field + kGap);
        const size_t indent = blockWidth < width ? (width - blockWidth) / 2 : 0;
        std::string& header = out->begin_line();
        header.append(indent + labelWidth, ' ');
        for (size_t j = first; j < last; ++j) {
            header.append(kGap, ' ');
            append_padded(&header, colLabels[j], field, true);
        }
        out->end_line();
        std::string& underline = out->begin_line();
        underline.append(indent + labelWidth, ' ');
        for (size_t j = first; j < last; ++j) underline.append(kGap, ' ').append(field, rule_character());
        out->end_line();
        for (size_t i = 0; i < rows; ++i) {
            std::string& line = out->begin_line();
            line.append(indent, ' ');
            append_padded(&line, rowLabels[i], labelWidth, false);
            for (size_t j = first; j < last; ++j) {
                line.append(kGap, ' ');
                append_padded(&line, cells[i * cols + j], field, rightAlign);
            }
            out->end_line();
        }
    }
}

// The columns that name a row, repeated in each block of a table wider
// than the line: the leading columns up to the first text column that is
// not all blank when that is one of the first three (a number and a
// parameter name, say), else the first column; the first column alone when
// they would take half the line.
// cells: the texts by rows, widths.size() of them a row; lineWidth: the
// print line's.
size_t label_columns(const OutItem& t, const std::vector<size_t>& widths, const std::vector<std::string>& cells,
                     size_t lineWidth) {
    constexpr size_t kMaxLabelColumns = 3;
    const size_t nc = widths.size();
    size_t n = 1, width = 0;
    for (size_t j = 0; j < std::min(kMaxLabelColumns, t.columns.size()); ++j) {
        bool anyText = false;
        for (size_t at = j; at < cells.size() && !anyText; at += nc) anyText = !cells[at].empty();
        if (!numeric_kind(t.columns[j].kind) && anyText) {
            n = j + 1;
            break;
        }
    }
    for (size_t j = 0; j < n && j < widths.size(); ++j) width += widths[j] + kGap;
    return width * 2 > lineWidth ? 1 : n;
}

// The columns of each block: all of them when they fit the line, else the
// label columns and then as many of the others as fit beside them, at least
// one per block.
std::vector<std::vector<size_t>> column_blocks(const std::vector<size_t>& widths, size_t labels, size_t lineWidth) {
    size_t total = 0;
    for (size_t w : widths) total += w + kGap;
    std::vector<size_t> all(widths.size());
    for (size_t j = 0; j < all.size(); ++j) all[j] = j;
    if (total <= lineWidth || labels >= widths.size()) return {all};
    const std::vector<size_t> lead(all.begin(), all.begin() + static_cast<long>(labels));
    size_t leadWidth = 0;
    for (size_t j : lead) leadWidth += widths[j] + kGap;
    std::vector<std::vector<size_t>> blocks;
    size_t used = lineWidth;
    for (size_t j = labels; j < widths.size(); ++j) {
        if (used + widths[j] + kGap > lineWidth && (blocks.empty() || blocks.back().size() > labels)) {
            blocks.push_back(lead);
            used = leadWidth;
        }
        blocks.back().push_back(j);
        used += widths[j] + kGap;
    }
    return blocks;
}

void put_table(const OutItem& t) {
    ListingLines out;
    put_heading(t, &out);
    const size_t nc = t.columns.size();
    std::vector<NumberFormat> formats(nc);
    std::vector<double> column;
    for (size_t j = 0; j < nc; ++j) {
        column.clear();
        for (const auto& row : t.rows)
            if (j < row.size() && row[j].kind == OutValue::Kind::Double) column.push_back(row[j].real);
        formats[j] = choose_format(column);
    }
    std::vector<std::string> cells(t.rows.size() * nc);  // by rows
    std::vector<size_t> widths(nc);
    std::vector<bool> right(nc);
    for (size_t j = 0; j < nc; ++j) {
        widths[j] = t.columns[j].name.size();
        right[j] = numeric_kind(t.columns[j].kind);
    }
    for (size_t i = 0; i < t.rows.size(); ++i) {
        const auto& row = t.rows[i];
        for (size_t j = 0; j < nc && j < row.size(); ++j) {
            std::string& cell = cells[i * nc + j];
            append_value(&cell, row[j], formats[j]);
            widths[j] = std::max(widths[j], cell.size());
        }
    }
    std::vector<std::string> header(nc), rule(nc);
    for (size_t j = 0; j < nc; ++j) {
        header[j] = t.columns[j].name;
        rule[j] = std::string(widths[j], rule_character());
    }
    const size_t width = line_size();
    const auto blocks = column_blocks(widths, label_columns(t, widths, cells, width), width);
    for (size_t b = 0; b < blocks.size(); ++b) {
        const std::vector<size_t>& block = blocks[b];
        size_t total = 0;
        for (size_t j : block) total += widths[j] + kGap;
        const size_t indent = total < width ? (width - total) / 2 : 0;
        auto compose = [&](const std::string* parts) {
            std::string& line = out.begin_line();
            line.append(indent, ' ');
            for (size_t k = 0; k < block.size(); ++k) {
                const size_t j = block[k];
                if (k) line.append(kGap, ' ');
                append_padded(&line, parts[j], widths[j], right[j]);
            }
            out.end_line(true);
        };
        if (b > 0) out.add("");
        compose(header.data());
        compose(rule.data());
        for (size_t i = 0; i < t.rows.size(); ++i) compose(cells.data() + i * nc);
    }
    out.write();
}

void put_factoid(const OutItem& f) {
    ListingLines out;
    put_heading(f, &out);
    std::vector<std::string> values;
    values.reserve(f.entries.size());
    size_t lw = 0, vw = 0;
    for (const auto& e : f.entries) {
        std::string v;
        if (e.value.kind == OutValue::Kind::Double && !host_is_missing(e.value.real) &&
            std::isfinite(e.value.real) && e.decimals >= 0) {
            // 99 asks for the shortest form with up to 8 significant digits.
            constexpr int kBestDecimals = 99;
            char buf[400];
            if (e.decimals == kBestDecimals)
                v.assign(buf, format_double(buf, sizeof buf, e.value.real, 'g', 8));
            else
                v = fixed_in_field(e.value.real, std::min(e.decimals, 20), e.width);
        } else {
            const std::vector<double> one = {e.value.real};
            v = value_text(e.value, choose_format(one));
        }
        const auto width = static_cast<size_t>(std::max(0, e.width));
        if (v.size() < width) v.insert(0, width - v.size(), ' ');
        lw = std::max(lw, e.label.text.size());
        vw = std::max(vw, v.size());
        values.push_back(std::move(v));
    }
    const size_t total = lw + kGap + vw;
    const size_t indent = total < line_size() ? (line_size() - total) / 2 : 0;
    for (size_t i = 0; i < values.size(); ++i) {
        std::string& line = out.begin_line();
        line.append(indent, ' ');
        append_padded(&line, f.entries[i].label.text, lw, false);
        line.append(kGap, ' ');
        append_padded(&line, values[i], vw, true);
        out.end_line();
    }
    out.write();
}

std::vector<std::string> side_labels(const std::vector<std::string>& given, int32_t n) {
    if (!given.empty()) return given;
    std::vector<std::string> numbers;
    for (int32_t i = 1; i <= n; ++i) numbers.push_back(std::to_string(i));
    return numbers;
}

// What the pieces of a matrix table hold, by table and piece label (the
// first piece has none); a piece of another table shows its label.
std::string piece_name(const std::string& table, const std::string& label) {
    struct Named {
        const char* table;
        const char* label;
        const char* name;
    };
    static const Named kNames[] = {
        {"ModIndices", "", "Lagrange Multiplier or Wald Statistic"},
        {"ModIndices", "P", "Probability"},
        {"ModIndices", "C", "Expected Change"},
        {"ModIndices", "N", "Free Parameters [name] and Singular Cells (Sing)"},
        {"InitParms", "N", "Parameter Names"},
        {"EstParms", "", "Estimates"},
        {"EstParms", "S", "Standard Errors"},
        {"EstParms", "T", "t Values"},
        {"EstParms", "N", "Parameter Names"},
    };
    for (const Named& n : kNames)
        if (table == n.table && label == n.label) return n.name;
    return label.empty() ? "" : "(" + label + ")";
}

void put_matrix(const OutItem& m) {
    ListingLines out;
    put_heading(m, &out);
    if (m.secondTitle.kind == OutValue::Kind::Text && !m.secondTitle.text.empty()) {
        put_centred(m.secondTitle.text, &out);
        out.add("");
    }
    const size_t rows = static_cast<size_t>(m.nRows), cols = static_cast<size_t>(m.nColumns);
    const auto rowLabels = side_labels(m.rowLabels, m.nRows);
    const auto colLabels = side_labels(m.columnLabels, m.nColumns);
    for (size_t p = 0; p < m.pieces.size(); ++p) {
        const auto& values = m.pieces[p].values;
        if (values.size() != rows * cols) continue;
        std::vector<double> doubles;
        for (const auto& v : values)
            if (v.kind == OutValue::Kind::Double) doubles.push_back(v.real);
        const NumberFormat f = choose_format(doubles);
        std::vector<std::string> cells;
        cells.reserve(values.size());
        for (const auto& v : values) cells.push_back(value_text(v, f));
        // The first grid is named only beside named pieces.
        const std::string name = piece_name(m.name, m.pieces[p].label);
        if (p > 0 || (m.pieces.size() > 1 && !name.empty())) {
            if (p > 0) out.add("");
            put_centred(name, &out);
            out.add("");
        }
        put_grid(rowLabels, colLabels, cells, rows, cols, !doubles.empty(), &out);
    }
    out.write();
}

void put_note(const OutItem& n) {
    if (n.justify == 'c') {
        ListingLines out;
        put_centred(n.title.text, &out);
        out.write();
    } else {
        write_listing(n.title.text);
    }
}

void put_group(const OutItem& g) {
    const std::string label = g.title.text.empty() ? g.name : g.title.text;
    const size_t width = line_size();
    std::string line = " " + label + " ";
    if (line.size() + 2 < width) {
        const size_t left = (width - line.size()) / 2;
        line = std::string(left, rule_character()) + line + std::string(width - left - line.size(), rule_character());
    }
    ListingLines out;
    out.add("");
    out.add(line);
    out.write();
}

// A matrix published record by record (a row each, the "Jacobian" table)
// has the template variable "pconlab": "on" for the first record, which
// shows the column labels, "off" for the rest.  The records of one title
// are held and printed as one grid, its heading and column labels once.
const OutValue* column_labels_switch(const OutItem& m) {
    if (m.type != OutItem::Type::Matrix) return nullptr;
    for (const auto& [name, value] : m.dynamic)
        if (name == "pconlab" && value.kind == OutValue::Kind::Text) return &value;
    return nullptr;
}

std::optional<OutItem>& held_records() {
    static std::optional<OutItem> held;
    return held;
}

// Whether the record m continues the held records: same table and title,
// as many columns, one piece of values and a label for each row.
bool continues(const OutItem& held, const OutItem& m) {
    const OutValue* on = column_labels_switch(m);
    return on != nullptr && on->text == "off" && m.name == held.name && m.title.text == held.title.text &&
           m.nColumns == held.nColumns && m.pieces.size() == 1 && held.pieces.size() == 1 &&
           m.rowLabels.size() == static_cast<size_t>(m.nRows) &&
           held.rowLabels.size() == static_cast<size_t>(held.nRows);
}

}  // namespace

void flush_listing() {
    std::optional<OutItem>& held = held_records();
    if (!held) return;
    const OutItem m = std::move(*held);
    held.reset();
    put_matrix(m);
}

void render_listing(const OutItem& item) {
    std::optional<OutItem>& held = held_records();
    if (held && continues(*held, item)) {
        held->nRows += item.nRows;
        held->rowLabels.insert(held->rowLabels.end(), item.rowLabels.begin(), item.rowLabels.end());
        const auto& values = item.pieces[0].values;
        held->pieces[0].values.insert(held->pieces[0].values.end(), values.begin(), values.end());
        return;
    }
    flush_listing();
    if (column_labels_switch(item) != nullptr) {
        held = item;
        return;
    }
    switch (item.type) {
        case OutItem::Type::Title: {
            ListingLines out;
            put_centred(item.title.text, &out);
            out.add("");
            out.write();
            break;
        }
        case OutItem::Type::GroupOpen: put_group(item); break;
        case OutItem::Type::GroupClose: break;
        case OutItem::Type::Table:
            if (is_equation_table(item))
                put_equation_table(item);
            else
                put_table(item);
            break;
        case OutItem::Type::Matrix: put_matrix(item); break;
        case OutItem::Type::Factoid: put_factoid(item); break;
        case OutItem::Type::Note: put_note(item); break;
        case OutItem::Type::ByGroup: {
            ListingLines out;
            out.add("");
            put_centred(item.title.text, &out);
            out.write();
            break;
        }
    }
}

}  // namespace velix::platform
