// The CSV form of the platform's data sets (RFC 4180 records with a few
// leading attribute lines):
//
//   # TYPE=COV                      optional attribute lines, each "# KEY=VALUE"
//   # LABEL=Ability tests
//   # CHAR=_TYPE_:8,_NAME_:32       the character variables and their lengths
//   _TYPE_,_NAME_,x1,x2             the variable names
//   N,,112,112                      one observation per line
//
// Without a CHAR line, _TYPE_, _NAME_, _NAM2_, _NAM3_ and every column that
// holds a value that is not a number are character.  A numeric value that is
// empty or "." is missing; "._" and ".A" to ".Z" are the special missing
// values.  Fields holding a comma, a quote or edge blanks are quoted, with
// inner quotes doubled.
//
// The reader streams: it takes the text a line at a time (a file a piece
// at a time) and parses each value into its variable as it comes, so that
// it holds the numbers once and never the text.  A column that turns out
// to be character after numbers keeps the texts from there on, and those
// before it come from reading the source a second time.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include <sys/stat.h>

#include "platform/dataset.h"

namespace velix::platform {
namespace {

constexpr size_t kMaxNameLength = 32;  // of a variable name, as the module stores it

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool is_name_variable(const std::string& upperName) {
    return upperName == "_TYPE_" || upperName == "_NAME_" || upperName == "_NAM2_" ||
           upperName == "_NAM3_";
}

bool needs_quotes(const std::string& s) {
    if (s.empty()) return false;
    // A leading '#' would make a header line an attribute line.
    if (s.front() == ' ' || s.back() == ' ' || s.front() == '#') return true;
    return s.find_first_of(",\"\r\n") != std::string::npos;
}

std::string quote(const std::string& s) {
    if (!needs_quotes(s)) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

// A value the reader cannot take back (an infinity or a NaN that is not a
// missing value) is written as the missing value.
std::string format_number(double v) {
    if (host_is_missing(v)) return missing_text(v);
    if (!std::isfinite(v)) return ".";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);  // shortest form that reads back exactly
    return std::string(buf, r.ptr);
}

// A value on one line, as the reader reads it: a line break becomes a
// blank.
std::string one_line(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

}  // namespace

int missing_code(double v) {
    if (!host_is_missing(v)) return -1;
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int c = 0; c < 28; ++c) {
        double s = host_special_missing(c);
        uint64_t sb;
        std::memcpy(&sb, &s, sizeof sb);
        if (sb == bits) return c;
    }
    return 0;  // any other missing pattern reads as the ordinary missing value
}

std::string missing_text(double v) {
    const int code = missing_code(v);
    if (code < 0) return "";
    if (code == 1) return "._";
    if (code >= 2) return std::string(".") + static_cast<char>('A' + code - 2);
    return ".";
}

namespace {

// The lines of a CSV text as std::getline gives them, without the '\n'
// and without a '\r' before it: from a text in memory or from a file read
// in pieces, so that the reader never holds more of a file than a piece
// and the line that crosses its end.
class LineSource {
  public:
    virtual ~LineSource() = default;
    // The next line, valid until the next call; false after the last.
    virtual bool next(std::string_view* line) = 0;
    // Back to the first line; false when the source cannot be read again.
    virtual bool rewind() = 0;
    // Bytes of the whole text; -1 when not known.
    virtual int64_t size() const = 0;

  protected:
    static void drop_cr(std::string_view* line) {
        if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    }
};

class TextLines final : public LineSource {
  public:
    explicit TextLines(std::string_view text) : text_(text) {}
    bool next(std::string_view* line) override {
        if (pos_ >= text_.size()) return false;
        const size_t nl = std::min(text_.find('\n', pos_), text_.size());
        *line = text_.substr(pos_, nl - pos_);
        pos_ = nl + 1;
        drop_cr(line);
        return true;
    }
    bool rewind() override {
        pos_ = 0;
        return true;
    }
    int64_t size() const override { return static_cast<int64_t>(text_.size()); }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

class FileLines final : public LineSource {
  public:
    explicit FileLines(std::FILE* file) : file_(file) {
        struct stat st;
        size_ = ::fstat(::fileno(file), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
        // A small file needs no more than itself (and a byte to see its end).
        grow(size_ >= 0 ? std::min(kPiece, static_cast<size_t>(size_) + 1) : kPiece);
    }
    bool next(std::string_view* line) override {
        for (;;) {
            const char* b = buf_.get() + begin_;
            if (const void* nl = std::memchr(b, '\n', end_ - begin_)) {
                const size_t len = static_cast<size_t>(static_cast<const char*>(nl) - b);
                *line = std::string_view(b, len);
                begin_ += len + 1;
                drop_cr(line);
                return true;
            }
            if (atEnd_) {
                if (begin_ == end_) return false;
                *line = std::string_view(b, end_ - begin_);
                begin_ = end_;
                drop_cr(line);
                return true;
            }
            // The unfinished line moves to the front; a line as long as the
            // buffer doubles it.
            const size_t rest = end_ - begin_;
            std::memmove(buf_.get(), b, rest);
            begin_ = 0;
            end_ = rest;
            if (end_ == capacity_) grow(2 * capacity_);
            const size_t got = std::fread(buf_.get() + end_, 1, capacity_ - end_, file_);
            end_ += got;
            atEnd_ = got == 0;  // the end of the file, or a read error that ends it as before
        }
    }
    bool rewind() override {
        begin_ = end_ = 0;
        atEnd_ = false;
        return std::fseek(file_, 0, SEEK_SET) == 0;
    }
    int64_t size() const override { return size_; }

  private:
    static constexpr size_t kPiece = size_t{1} << 20;  // bytes read at a time
    std::FILE* file_;
    // The buffer, its first end_ bytes kept; left unfilled, so that only
    // what is read touches memory.
    void grow(size_t capacity) {
        std::unique_ptr<char[]> bigger(new char[capacity]);
        if (end_ > 0) std::memcpy(bigger.get(), buf_.get(), end_);
        buf_ = std::move(bigger);
        capacity_ = capacity;
    }
    std::unique_ptr<char[]> buf_;
    size_t capacity_ = 0;
    size_t begin_ = 0, end_ = 0;
    bool atEnd_ = false;
    int64_t size_ = -1;
};

// The fields of one record, as views into the line or, for a quoted field
// with doubled quotes, into a buffer of its own.
struct Fields {
    std::vector<std::string_view> views;
    std::deque<std::string> unquoted;  // one buffer per field position; growing keeps them in place
};

// Splits one record into fields; false when a quote is not closed (or
// something other than blanks follows the closing quote).
bool split_record(std::string_view line, Fields* f) {
    f->views.clear();
    size_t i = 0;
    for (;;) {
        // A quoted field may be surrounded by blanks.
        size_t j = i;
        while (j < line.size() && line[j] == ' ') ++j;
        if (j < line.size() && line[j] == '"') {
            const size_t k = f->views.size();
            if (f->unquoted.size() <= k) f->unquoted.resize(k + 1);
            std::string& cur = f->unquoted[k];
            cur.clear();
            i = j + 1;
            bool closed = false;
            while (i < line.size()) {
                const size_t q = line.find('"', i);
                if (q == std::string_view::npos) {
                    i = line.size();
                    break;
                }
                cur.append(line.substr(i, q - i));
                if (q + 1 < line.size() && line[q + 1] == '"') {
                    cur += '"';
                    i = q + 2;
                    continue;
                }
                closed = true;
                i = q + 1;
                break;
            }
            if (!closed) return false;
            while (i < line.size() && line[i] == ' ') ++i;
            f->views.push_back(cur);
            if (i >= line.size()) return true;
            if (line[i] != ',') return false;
            ++i;
            continue;
        }
        const size_t comma = line.find(',', i);
        if (comma == std::string_view::npos) {
            f->views.push_back(line.substr(i));
            return true;
        }
        f->views.push_back(line.substr(i, comma - i));
        i = comma + 1;
    }
}

// std::isspace of the C locale, inline: it is asked of every value.
bool space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim_view(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && space(s[b])) ++b;
    while (e > b && space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Reads a plain decimal "[-]digits[.digits]" at p, up to the first
// character that cannot continue it, when its digits make an integer m
// below 2^53 with at most 22 of them after the point: m and the power of
// ten are then exact doubles and their quotient is the correctly rounded
// value, the very double from_chars and strtod give (Clinger, "How to read
// floating point numbers accurately", PLDI 1990).  Returns where it ended,
// null for anything else.
const char* scan_decimal(const char* p, const char* end, double* v) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr uint64_t kExactBelow = uint64_t{1} << 53;
    constexpr ptrdiff_t kMostDigits = 19;    // 19 digits stay below 2^64
    constexpr ptrdiff_t kMostDecimals = 22;  // 10^22 is the largest exact power of ten
    const bool negative = p < end && *p == '-';
    p += negative;
    const auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'}; };
    const char* const first = p;
    uint64_t m = 0;
    for (unsigned d = 0; p < end && (d = digit(*p)) < 10; ++p) m = m * 10 + d;
    ptrdiff_t digits = p - first, decimals = 0;
    if (p < end && *p == '.') {
        const char* const point = ++p;
        for (unsigned d = 0; p < end && (d = digit(*p)) < 10; ++p) m = m * 10 + d;
        decimals = p - point;
        digits += decimals;  // m wraps past 19 of them, and is then not used
    }
    if (digits == 0 || digits > kMostDigits || m >= kExactBelow || decimals > kMostDecimals) return nullptr;
    const double x = static_cast<double>(m) / kPow10[decimals];
    *v = negative ? -x : x;
    return p;
}

// The whole of t as a plain decimal (scan_decimal).
bool exact_decimal(std::string_view t, double* v) {
    const char* const end = t.data() + t.size();
    return scan_decimal(t.data(), end, v) == end;
}

bool blank(std::string_view s) { return trim_view(s).empty(); }

std::string rtrim(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(0, e));
}

// Parses a numeric field: true with *v (a missing value for "", "." and the
// special codes), false when it is not a number.
bool parse_number(std::string_view field, double* v) {
    const std::string_view t = trim_view(field);
    if (t.empty() || t == ".") {
        *v = host_missing_value();
        return true;
    }
    if (t.size() == 2 && t[0] == '.') {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(t[1])));
        if (c == '_') {
            *v = host_special_missing(1);
            return true;
        }
        if (c >= 'A' && c <= 'Z') {
            *v = host_special_missing(2 + (c - 'A'));
            return true;
        }
    }
    // from_chars reads the plain decimal forms fast and rounds as strtod
    // does; strtod takes what it leaves (a leading '+', hexadecimal) from a
    // copy that ends where the field ends.
    double x = 0.0;
    if (exact_decimal(t, &x)) {
        *v = x;
        return true;
    }
    const char* last = t.data() + t.size();
    const std::from_chars_result r = std::from_chars(t.data(), last, x);
    if (r.ec != std::errc() || r.ptr != last) {
        const std::string copy(t);
        char* end = nullptr;
        x = std::strtod(copy.c_str(), &end);
        if (end != copy.c_str() + copy.size()) return false;
    }
    if (!std::isfinite(x)) return false;
    *v = x;
    return true;
}

// What the lines before the observations say: the attributes, the
// character variables of a CHAR line, the variable names and the number
// of the names line.
struct CsvHeader {
    std::map<std::string, int32_t> charLengths;  // upper-case name -> length
    bool haveChar = false;
    std::vector<std::string> names;
    int64_t namesLine = 0;
};

// One "# KEY=VALUE" line; false with *error for a bad CHAR length.
bool read_attribute(const std::string& line, int64_t lineNo, HostDataSet* data, CsvHeader* h,
                    std::string* error) {
    std::string attr = trim(line.substr(1));
    size_t eq = attr.find('=');
    if (eq == std::string::npos) return true;  // a plain comment line
    std::string key = upper(trim(attr.substr(0, eq)));
    std::string value = trim(attr.substr(eq + 1));
    if (key == "TYPE") {
        data->type = upper(value);
    } else if (key == "LABEL") {
        data->label = value;
    } else if (key == "CHAR") {
        h->haveChar = true;
        Fields items;
        split_record(value, &items);
        for (std::string_view item : items.views) {
            std::string it = trim(std::string(item));
            if (it.empty()) continue;
            size_t colon = it.rfind(':');
            std::string name = upper(trim(it.substr(0, colon)));
            int32_t len = 8;
            if (colon != std::string::npos) {
                std::string ls = trim(it.substr(colon + 1));
                auto r = std::from_chars(ls.data(), ls.data() + ls.size(), len);
                if (r.ec != std::errc() || r.ptr != ls.data() + ls.size() || len < 1 || len > 32767) {
                    *error = "line " + std::to_string(lineNo) + ": bad length in CHAR item '" + it + "'";
                    return false;
                }
            }
            h->charLengths[name] = len;
        }
    }
    return true;
}

// The variable names of the names line; false with *error.
bool read_names(std::string_view line, int64_t lineNo, CsvHeader* h, std::string* error) {
    Fields f;
    if (!split_record(line, &f)) {
        *error = "line " + std::to_string(lineNo) + ": a quote is not closed";
        return false;
    }
    std::set<std::string> seen;
    for (std::string_view view : f.views) {
        std::string n = trim(std::string(view));
        if (n.empty()) {
            *error = "line " + std::to_string(lineNo) + ": a variable has no name";
            return false;
        }
        // A longer name would be cut by the module, and two names alike in
        // their first 32 characters would become one.
        if (n.size() > kMaxNameLength) {
            *error = "line " + std::to_string(lineNo) + ": variable name " + n + " is longer than " +
                     std::to_string(kMaxNameLength) + " characters";
            return false;
        }
        if (!seen.insert(upper(n)).second) {
            *error = "line " + std::to_string(lineNo) + ": variable " + n + " appears twice";
            return false;
        }
        h->names.push_back(n);
    }
    for (const auto& [name, len] : h->charLengths) {
        if (!seen.count(name)) {
            *error = "the CHAR line names " + name + ", which is not a variable";
            return false;
        }
    }
    return true;
}

// Attribute lines, blank lines, the names line; false with *error.
bool read_header(LineSource* src, HostDataSet* data, CsvHeader* h, std::string* error) {
    std::string_view line;
    int64_t lineNo = 0;
    bool have = src->next(&line);
    for (; have; have = src->next(&line)) {
        ++lineNo;
        if (line.empty() || line[0] != '#') break;
        if (!read_attribute(std::string(line), lineNo, data, h, error)) return false;
    }
    for (; have && blank(line); have = src->next(&line)) ++lineNo;
    if (!have) {
        *error = "no line of variable names";
        return false;
    }
    h->namesLine = lineNo;
    return read_names(line, lineNo, h, error);
}

// A variable as its observations are read.  A numeric one (no CHAR line)
// turns character at the first value that is not a number; the texts of
// the observations before it come from a second reading of the source.
struct Column {
    DataSetVariable* var = nullptr;
    std::string upperName;
    bool character = false;
    int64_t turnedAt = -1;  // the observation at which it turned character
    size_t longest = 1;     // of its texts
    std::string error;      // its first value the CHAR line does not allow
};

void add_text(Column* c, std::string_view field, int64_t lineNo, bool haveChar) {
    std::string t = rtrim(field);
    c->longest = std::max(c->longest, t.size());
    if (haveChar && c->error.empty() && t.size() > static_cast<size_t>(c->var->length))
        c->error = "line " + std::to_string(lineNo) + ": value '" + t + "' is longer than the length " +
                   std::to_string(c->var->length) + " of " + c->var->name;
    c->var->texts.push_back(std::move(t));
}

void add_value(Column* c, std::string_view field, int64_t obs, int64_t lineNo, bool haveChar) {
    if (!c->character) {
        double v = 0.0;
        if (parse_number(field, &v)) {
            c->var->numbers.push_back(v);
            return;
        }
        if (haveChar) {
            if (c->error.empty())
                c->error = "line " + std::to_string(lineNo) + ": value '" + std::string(field) +
                           "' of numeric variable " + c->var->name + " is not a number";
            c->var->numbers.push_back(0.0);
            return;
        }
        c->character = true;
        c->turnedAt = obs;
        std::vector<double>().swap(c->var->numbers);
    }
    add_text(c, field, lineNo, haveChar);
}

// Room for the observations a file of `bytes` holds at `perLine` bytes a
// line, for the numeric columns: reserving never touches the memory, and
// it saves copying the columns as they grow.
void reserve_numbers(std::vector<Column>* cols, int64_t bytes, double perLine) {
    if (bytes <= 0 || !(perLine > 0.0)) return;
    const auto rows = static_cast<size_t>(static_cast<double>(bytes) / perLine * 1.02) + 16;
    for (Column& c : *cols)
        if (!c.character) c.var->numbers.reserve(rows);
}

}  // namespace

namespace {

// A record of plain decimals only (scan_decimal) between the commas: no
// blanks, quotes, missing values or exponents.  Each is parsed in the one
// pass that finds its end and added to its variable, which must be
// numeric: most data sets are all such records, and the general path costs
// several times as much.  false, with the variables as they were, for any
// other record, which the general path then reads as it reads every one.
bool add_plain_record(std::string_view line, std::vector<Column>* cols) {
    const char* p = line.data();
    const char* const end = p + line.size();
    const size_t nv = cols->size();
    size_t k = 0;
    for (; k < nv; ++k) {
        DataSetVariable* var = (*cols)[k].var;
        double x = 0.0;
        if ((*cols)[k].character || (p = scan_decimal(p, end, &x)) == nullptr) break;
        if (p < end ? *p != ',' || k + 1 == nv : k + 1 != nv) break;
        ++p;
        var->numbers.push_back(x);
    }
    if (k == nv && nv > 0) return true;
    for (size_t j = 0; j < k; ++j) (*cols)[j].var->numbers.pop_back();
    return false;
}

// The observations: each record split, each value parsed as it is read
// into its variable.  false with *error at the first malformed record.
bool read_observations(LineSource* src, const CsvHeader& h, std::vector<Column>* cols, int64_t* nObs,
                       std::string* error) {
    const size_t nv = cols->size();
    Fields f;
    std::string_view line;
    int64_t lineNo = h.namesLine, obs = 0, bytes = 0;
    constexpr int64_t kSample = 64;  // observations whose lines estimate the rest
    while (src->next(&line)) {
        ++lineNo;
        bytes += static_cast<int64_t>(line.size()) + 1;
        if (add_plain_record(line, cols)) {
            if (++obs == kSample) reserve_numbers(cols, src->size(), static_cast<double>(bytes) / kSample);
            continue;
        }
        if (blank(line)) continue;
        if (!split_record(line, &f)) {
            *error = "line " + std::to_string(lineNo) + ": a quote is not closed";
            return false;
        }
        if (f.views.size() != nv) {
            *error = "line " + std::to_string(lineNo) + ": " + std::to_string(f.views.size()) +
                     " values for " + std::to_string(nv) + " variables";
            return false;
        }
        for (size_t k = 0; k < nv; ++k) add_value(&(*cols)[k], f.views[k], obs, lineNo, h.haveChar);
        if (++obs == kSample) reserve_numbers(cols, src->size(), static_cast<double>(bytes) / kSample);
    }
    *nObs = obs;
    return true;
}

// The texts of the observations before each column turned character, from
// a second reading of the source; false with *error when it cannot be read
// again as it was.
bool fill_turned_columns(LineSource* src, const CsvHeader& h, std::vector<Column>* cols,
                         std::string* error) {
    int64_t upTo = 0;
    for (const Column& c : *cols) upTo = std::max(upTo, c.turnedAt);
    if (upTo <= 0) return true;
    const size_t nv = cols->size();
    std::vector<std::vector<std::string>> before(nv);
    Fields f;
    std::string_view line;
    int64_t lineNo = 0, obs = 0;
    bool ok = src->rewind();
    while (ok && obs < upTo && src->next(&line)) {
        if (++lineNo <= h.namesLine || blank(line)) continue;
        ok = split_record(line, &f) && f.views.size() == nv;
        for (size_t k = 0; ok && k < nv; ++k)
            if (obs < (*cols)[k].turnedAt) before[k].push_back(rtrim(f.views[k]));
        ++obs;
    }
    if (!ok || obs < upTo) {
        *error = "the file changed while it was read";
        return false;
    }
    for (size_t k = 0; k < nv; ++k) {
        Column& c = (*cols)[k];
        for (const std::string& t : before[k]) c.longest = std::max(c.longest, t.size());
        auto& texts = c.var->texts;
        texts.insert(texts.begin(), std::make_move_iterator(before[k].begin()),
                     std::make_move_iterator(before[k].end()));
    }
    return true;
}

bool read_csv(LineSource* src, HostDataSet* data, std::string* error) {
    //   the header: attributes, CHAR line, names
    //   the observations, parsed into the variables as they are read
    //   the texts of the columns that turned character, read again
    //   the lengths; the first value error by variable, then by line
    CsvHeader h;
    if (!read_header(src, data, &h, error)) return false;
    const size_t nv = h.names.size();
    data->variables.clear();
    data->variables.resize(nv);
    std::vector<Column> cols(nv);
    for (size_t k = 0; k < nv; ++k) {
        Column& c = cols[k];
        c.var = &data->variables[k];
        c.var->name = h.names[k];
        c.upperName = upper(h.names[k]);
        c.character = h.haveChar ? h.charLengths.count(c.upperName) > 0 : is_name_variable(c.upperName);
        c.var->length = h.haveChar && c.character ? h.charLengths.at(c.upperName) : 8;
    }
    int64_t nObs = 0;
    if (!read_observations(src, h, &cols, &nObs, error)) return false;
    if (!fill_turned_columns(src, h, &cols, error)) return false;
    for (Column& c : cols) {
        if (!c.error.empty()) {
            *error = c.error;
            return false;
        }
        c.var->character = c.character;
        // The special variables keep the widths the procedure binds them with.
        if (c.character && !h.haveChar) {
            const size_t base = c.upperName == "_TYPE_" ? 8 : is_name_variable(c.upperName) ? 32 : 1;
            c.var->length = static_cast<int32_t>(std::max(base, c.longest));
        }
    }
    data->nObs = nObs;
    return true;
}

}  // namespace

bool csv_read(const std::string& text, HostDataSet* data, std::string* error) {
    TextLines src(text);
    return read_csv(&src, data, error);
}

bool csv_read_file(std::FILE* file, HostDataSet* data, std::string* error) {
    FileLines src(file);
    return read_csv(&src, data, error);
}

std::string csv_write(const HostDataSet* data) {
    std::string out;
    if (!data->type.empty()) out += "# TYPE=" + trim(one_line(data->type)) + "\n";
    if (!data->label.empty()) out += "# LABEL=" + trim(one_line(data->label)) + "\n";
    // The CHAR line also keeps a numeric _TYPE_ or _NAME_ numeric: without
    // it the reader takes those for character.
    std::string chars;
    bool charLine = false;
    for (const DataSetVariable& v : data->variables) {
        charLine = charLine || v.character || is_name_variable(upper(v.name));
        if (!v.character) continue;
        if (!chars.empty()) chars += ",";
        chars += quote(v.name + ":" + std::to_string(v.length));
    }
    if (charLine) out += "# CHAR=" + chars + "\n";
    for (size_t k = 0; k < data->variables.size(); ++k) {
        if (k) out += ",";
        out += quote(data->variables[k].name);
    }
    out += "\n";
    for (int64_t i = 0; i < data->nObs; ++i) {
        std::string line;
        for (size_t k = 0; k < data->variables.size(); ++k) {
            if (k) line += ",";
            const DataSetVariable& v = data->variables[k];
            line += v.character ? quote(one_line(v.texts[i])) : format_number(v.numbers[i]);
        }
        // A blank line is no observation to the reader: a blank value alone
        // on its line is written quoted.
        if (trim(line).empty()) line = "\"" + line + "\"";
        out += line + "\n";
    }
    return out;
}

}  // namespace velix::platform
