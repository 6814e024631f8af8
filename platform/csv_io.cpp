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
// empty, "." or "NA" (R's) is missing; "._" and ".A" to ".Z" are the special
// missing values.  Fields holding a comma, a quote, a line end or edge
// blanks are quoted, with inner quotes doubled; a line end inside the
// quotes of a value is part of it (an LF), so that its record goes on in
// the next line.  Lines end in LF, CRLF or a lone CR, and a UTF-8
// byte-order mark before the first line is dropped.  A names line whose
// first name is empty, as R's write.csv writes the row names, makes that
// column the row labels, a character variable.
//
// The reader streams: it takes the text a line at a time (a file a piece
// at a time) and parses each value of a record as it comes, so that it
// never holds the text.  The scan of a data set finds its variables' types
// and lengths and its observations and sums the moments of its groups; it
// holds the values only while they fit in the hold limit (of a text in
// memory, of a pipe), and otherwise the records are read again from the
// text, one at a time, whenever the data set is read (CsvRows).  A column that
// turns out to be character after numbers is character from there on, and
// the texts (or lengths) of its values before come from reading the source
// a second time.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/dataset.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/stop_signals.h"
#include "velix/codes.h"
#include "velix/messages.h"

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
    // A leading '#' would make a header line an attribute line, and a
    // leading byte-order mark at the start of the file would be dropped.
    if (s.front() == ' ' || s.back() == ' ' || s.front() == '#' || without_byte_order_mark(s).size() != s.size())
        return true;
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

// An attribute on one line, as the reader reads it: a line break (LF or
// CR) becomes a blank.
std::string one_line(std::string s) {
    std::replace_if(s.begin(), s.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
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

// The first line of the n bytes at b: its length and the bytes of its end,
// an LF, a CRLF or a lone CR (old Mac files), none at the end of the text.
// false when the bytes hold no whole line: no line end, or a CR as their
// last byte that an LF may follow, unless they are all that is left
// (`complete`).  The byte that ended the line before (*last, in-out) is
// looked for first and the other one only before it: one search for
// either would look at all that is left whenever a file has none of it.
bool first_line(const char* b, size_t n, bool complete, char* last, size_t* len, size_t* endBytes) {
    const auto* const guess = static_cast<const char*>(std::memchr(b, *last, n));
    const size_t upTo = guess != nullptr ? static_cast<size_t>(guess - b) : n;
    const auto* const other = static_cast<const char*>(std::memchr(b, *last == '\n' ? '\r' : '\n', upTo));
    const char* const end = other != nullptr ? other : guess;
    if (end == nullptr) {
        *len = n;
        *endBytes = 0;
        return complete;
    }
    *len = static_cast<size_t>(end - b);
    *endBytes = 1;
    if (*end == '\r') {
        if (*len + 1 == n && !complete) return false;
        if (*len + 1 < n && end[1] == '\n') *endBytes = 2;
    }
    *last = *end;
    return true;
}

class TextLines final : public LineSource {
  public:
    explicit TextLines(std::string_view text) : text_(text) {}
    bool next(std::string_view* line) override {
        if (pos_ >= text_.size()) return false;
        size_t len = 0, endBytes = 0;
        first_line(text_.data() + pos_, text_.size() - pos_, true, &lastEnd_, &len, &endBytes);
        *line = text_.substr(pos_, len);
        pos_ += len + endBytes;
        return true;
    }
    int64_t offset() const override { return static_cast<int64_t>(std::min(pos_, text_.size())); }
    bool seek(int64_t offset) override {
        if (offset < 0 || static_cast<size_t>(offset) > text_.size()) return false;
        pos_ = static_cast<size_t>(offset);
        return true;
    }
    int64_t size() const override { return static_cast<int64_t>(text_.size()); }
    const char* readable_end() const override { return text_.data() + text_.size(); }
    size_t held_bytes() const override { return 0; }  // the text is the caller's

  private:
    std::string_view text_;
    size_t pos_ = 0;
    char lastEnd_ = '\n';  // the byte that ended the line before
};

class FileLines final : public LineSource {
  public:
    explicit FileLines(std::FILE* file) : file_(file) {
        struct stat st;
        if (::fstat(::fileno(file), &st) == 0) {
            pipe_ = !S_ISREG(st.st_mode);
            if (!pipe_) {
                size_ = st.st_size;
                modified_ = st.st_mtim;
            }
        }
        // A small file needs no more than itself (and a byte to see its end).
        grow(size_ >= 0 ? std::min(kPiece, static_cast<size_t>(size_) + 1) : kPiece);
    }
    ~FileLines() override { std::fclose(file_); }
    FileLines(const FileLines&) = delete;
    FileLines& operator=(const FileLines&) = delete;

    bool next(std::string_view* line) override {
        for (;;) {
            const char* b = buf_.get() + begin_;
            if (atEnd_ && begin_ == end_) return false;
            size_t len = 0, endBytes = 0;
            if (first_line(b, end_ - begin_, atEnd_, &lastEnd_, &len, &endBytes)) {
                *line = std::string_view(b, len);
                begin_ += len + endBytes;
                return true;
            }
            // The unfinished line moves to the front; a line as long as the
            // buffer doubles it.
            const size_t rest = end_ - begin_;
            std::memmove(buf_.get(), b, rest);
            base_ += static_cast<int64_t>(begin_);
            begin_ = 0;
            end_ = rest;
            if (end_ == capacity_) grow(2 * capacity_);
            const size_t got = read_more(buf_.get() + end_, capacity_ - end_);
            end_ += got;
            atEnd_ = got == 0;  // the end of the file, or a read error that ends it as before
        }
    }
    int64_t offset() const override { return base_ + static_cast<int64_t>(begin_); }
    bool seek(int64_t offset) override {
        // Within the piece at hand (all of a small file) nothing is read again.
        if (offset >= base_ && offset <= base_ + static_cast<int64_t>(end_)) {
            begin_ = static_cast<size_t>(offset - base_);
            return true;
        }
        if (!unchanged() || ::fseeko(file_, offset, SEEK_SET) != 0) return false;
        base_ = offset;
        begin_ = end_ = 0;
        atEnd_ = false;
        return true;
    }
    int64_t size() const override { return size_; }
    // A word loaded from the start of a field near the end of what was
    // read stays inside the buffer.
    const char* readable_end() const override { return buf_.get() + capacity_ + sizeof(uint64_t); }
    size_t held_bytes() const override { return capacity_ + sizeof(uint64_t); }

  private:
    static constexpr size_t kPiece = size_t{1} << 17;  // bytes read at a time: they stay in the cache while they are parsed
    // The buffer, its first end_ bytes kept; left unfilled, so that only
    // what is read touches memory.
    void grow(size_t capacity) {
        std::unique_ptr<char[]> bigger(new char[capacity + sizeof(uint64_t)]);
        if (end_ > 0) std::memcpy(bigger.get(), buf_.get(), end_);
        buf_ = std::move(bigger);
        capacity_ = capacity;
    }
    // Up to n bytes.  A pipe gives what has come, waited for while no stop
    // is asked for: a stop ends its bytes there (and the step, once the
    // scan returns).
    size_t read_more(char* to, size_t n) {
        if (!pipe_) return std::fread(to, 1, n, file_);
        const int fd = ::fileno(file_);
        for (;;) {
            const ssize_t got = ::read(fd, to, n);
            if (got >= 0) return static_cast<size_t>(got);
            if (errno == EINTR) continue;
            if (errno != EAGAIN || !wait_readable(fd)) return 0;
        }
    }
    // A regular file of the size and modification time it had when opened.
    bool unchanged() const {
        struct stat st;
        return size_ >= 0 && ::fstat(::fileno(file_), &st) == 0 && st.st_size == size_ &&
               st.st_mtim.tv_sec == modified_.tv_sec && st.st_mtim.tv_nsec == modified_.tv_nsec;
    }
    std::FILE* file_;
    std::unique_ptr<char[]> buf_;
    size_t capacity_ = 0;
    size_t begin_ = 0, end_ = 0;
    int64_t base_ = 0;  // the file offset of buf_[0]
    bool atEnd_ = false;
    char lastEnd_ = '\n';  // the byte that ended the line before
    int64_t size_ = -1;
    bool pipe_ = false;  // not a regular file: read as its bytes come, past stdio's buffer
    struct timespec modified_ = {};
};

// The fields of one record, as views into the line or, for a quoted field
// with doubled quotes, into a buffer of its own.
struct Fields {
    std::vector<std::string_view> views;
    std::deque<std::string> unquoted;  // one buffer per field position; growing keeps them in place
};

// How a line splits into fields: into a whole record, or not, because a
// quote is still open at its end (the value goes on in the next line) or
// something other than blanks and a comma follows a closing quote.
enum class Split { kRecord, kOpenQuote, kAfterQuote };

// Splits one record into fields.
Split split_record(std::string_view line, Fields* f) {
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
            if (!closed) return Split::kOpenQuote;
            while (i < line.size() && line[i] == ' ') ++i;
            f->views.push_back(cur);
            if (i >= line.size()) return Split::kRecord;
            if (line[i] != ',') return Split::kAfterQuote;
            ++i;
            continue;
        }
        const size_t comma = line.find(',', i);
        if (comma == std::string_view::npos) {
            f->views.push_back(line.substr(i));
            return Split::kRecord;
        }
        f->views.push_back(line.substr(i, comma - i));
        i = comma + 1;
    }
}

// The record in hand goes on in the next line of src: a quoted value was
// open at the end of *line.  *line becomes the lines so far joined by an
// LF, held in *record (which holds them already when *line is a view of
// it); false at the end of the text.
bool continue_record(LineSource* src, std::string_view* line, std::string* record) {
    if (line->data() != record->data()) record->assign(*line);
    std::string_view more;
    if (!src->next(&more)) return false;
    (*record += '\n').append(more);
    *line = *record;
    return true;
}

// std::isspace of the C locale, inline: it is asked of every value.
bool space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim_view(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && space(s[b])) ++b;
    while (e > b && space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Eight bytes of a text from p, as a number whose lowest byte is p[0]; and
// the same with each digit's byte made its value ('0' to '9' become 0 to 9)
// and every other byte 10 or more.
uint64_t load_bytes(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}
uint64_t load_digits(const char* p) { return load_bytes(p) ^ 0x3030303030303030u; }

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads a plain decimal "[-]digits[.digits]" at p, up to the first
// character that cannot continue it, when its digits make an integer m
// below 2^53 with at most 22 of them after the point: m and the power of
// ten are then exact doubles and their quotient is the correctly rounded
// value, the very double from_chars and strtod give (Clinger, "How to read
// floating point numbers accurately", PLDI 1990).  Returns where it ended,
// null for anything else.
const char* scan_decimal(const char* p, const char* end, double* v) {
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

// The bytes of a word below byte n (0 to 8).
constexpr uint64_t kBytesBelow[9] = {0,
                                     0xFFu,
                                     0xFFFFu,
                                     0xFFFFFFu,
                                     0xFFFFFFFFu,
                                     0xFFFFFFFFFFu,
                                     0xFFFFFFFFFFFFu,
                                     0xFFFFFFFFFFFFFFu,
                                     ~uint64_t{0}};

// The field [p, p + len) when it is a plain decimal of at most eight
// characters after its sign ("[-]d*[.d*]", a digit at least): *v the very
// double scan_decimal gives, in one pass over one word of the field
// without a branch on its bytes.  The point's byte is taken out of the
// word (the bytes above it move down), the digits d1 .. dn become the
// integer m 10^(8-n) by combining pairs of digits, of pairs and of
// quadruples (Lemire, "Number parsing at a gigabyte per second", Software:
// Practice and Experience 51, 2021), and m 10^(8-n) / 10^(8-n+decimals)
// is the correctly rounded m / 10^decimals, both operands exact.  false
// for any other field.  `limit` is where the readable memory after the
// field ends: a word is loaded from the field's start.
bool short_decimal(const char* p, size_t len, const char* limit, double* v) {
    constexpr uint64_t kLow = 0x7F7F7F7F7F7F7F7Fu, kHigh = 0x8080808080808080u;
    if (len == 0) return false;
    const uint64_t negative = *p == '-';
    p += negative;
    len -= negative;
    if (len - 1 >= 8) return false;  // 1 to 8 characters
    char near[8] = {};
    if (limit - p < 8) p = static_cast<const char*>(std::memcpy(near, p, len));
    const uint64_t w = load_digits(p);  // a digit's byte is its value, a point's 0x1E
    const uint64_t t = w ^ 0x1E1E1E1E1E1E1E1Eu;
    const uint64_t points = ~(((t & kLow) + kLow) | t) & kHigh & kBytesBelow[len];
    const uint64_t below = kBytesBelow[std::countr_zero(points) / 8];  // the bytes before the point
    const size_t n = len - (points != 0);
    const uint64_t digits = ((w & below) | ((w >> 8) & ~below)) & kBytesBelow[n];
    const uint64_t notDigit = ((digits + 0x7676767676767676u) | digits) & kHigh & kBytesBelow[n];
    if ((notDigit | (points & (points - 1))) != 0 || n == 0) return false;
    uint64_t m = (digits * 10 + (digits >> 8)) & 0x00FF00FF00FF00FFu;
    m = (m * 100 + (m >> 16)) & 0x0000FFFF0000FFFFu;
    m = (m * 10000 + (m >> 32)) & 0x00000000FFFFFFFFu;
    const size_t before = points != 0 ? static_cast<size_t>(std::countr_zero(points)) / 8 : len;
    const double x = static_cast<double>(m) / kPow10[8 - before];  // 8 - n + decimals
    *v = std::bit_cast<double>(std::bit_cast<uint64_t>(x) | negative << 63);
    return true;
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

// The whole of the trimmed text t as a number by strtod's rules, which
// may be an infinity or a NaN (R writes "Inf", "-Inf" and "NaN", and a
// number beyond the range of doubles reads as an infinity); false when t
// is not a number.  from_chars reads the plain decimal forms fast and
// rounds as strtod does; strtod takes what it leaves (a leading '+',
// hexadecimal, out of range) from a copy that ends where the text ends.
bool read_real(std::string_view t, double* x) {
    if (exact_decimal(t, x)) return true;
    const char* last = t.data() + t.size();
    const std::from_chars_result r = std::from_chars(t.data(), last, *x);
    if (r.ec == std::errc() && r.ptr == last) return true;
    const std::string copy(t);
    char* end = nullptr;
    *x = std::strtod(copy.c_str(), &end);
    return !copy.empty() && end == copy.c_str() + copy.size();
}

// Whether a field that is no number of a numeric variable is one beyond
// the range of doubles.
bool infinite_number(std::string_view field) {
    double x = 0.0;
    return read_real(trim_view(field), &x) && std::isinf(x);
}

// Parses a numeric field: true with *v (a missing value for "", ".", "NA"
// as R writes it, NaN, and the special codes), false when it is not a
// finite number.
bool parse_number(std::string_view field, double* v) {
    const std::string_view t = trim_view(field);
    if (t.empty() || t == "." || t == "NA") {
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
    double x = 0.0;
    if (!read_real(t, &x) || std::isinf(x)) return false;
    // NaN, as R writes 0/0, is a missing value as NA is.
    *v = std::isnan(x) ? host_missing_value() : x;
    return true;
}

// What the lines before the observations say: the attributes, the
// character variables of a CHAR line, the variable names and the number
// of the names line; and the name of the file, for the messages.
struct CsvHeader {
    std::map<std::string, int32_t> charLengths;  // upper-case name -> length
    bool haveChar = false;
    std::vector<std::string> names;
    bool rowLabels = false;  // a column had no name: the row labels
    size_t rowLabelColumn = 0;
    int64_t namesLine = 0;
    std::string file;        // the file's name without its folder; empty for a text

    // A line of the file, as messages name it: "line 38 of hs.csv".
    std::string line(int64_t lineNo) const {
        return "line " + std::to_string(lineNo) + (file.empty() ? "" : " of " + file);
    }
};

// One "# KEY=VALUE" line; false with *error for a bad CHAR length.
bool read_attribute(const std::string& line, int64_t lineNo, HostDataSet* data, CsvHeader* h,
                    std::string* error) {
    std::string attr = trim(line.substr(1));
    size_t eq = attr.find('=');
    if (eq == std::string::npos) {
        // A plain comment line; the first is kept for a NOTE, as numpy's
        // savetxt(header=...) puts the names line behind a '#' so.
        if (data->commentLine.empty() && !attr.empty()) {
            data->commentLine = line;
            data->commentLineNo = lineNo;
        }
        return true;
    }
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
                // Any length a column's longest text gives it: a quoted
                // value may hold many lines.
                auto r = std::from_chars(ls.data(), ls.data() + ls.size(), len);
                if (r.ec != std::errc() || r.ptr != ls.data() + ls.size() || len < 1) {
                    *error = h->line(lineNo) + ": bad length in CHAR item '" + it + "'";
                    return false;
                }
            }
            h->charLengths[name] = len;
        }
    }
    return true;
}

// The semicolon or tab that follows a quoted field of the line (blanks
// between), 0 when none does.
char separator_after_quote(std::string_view line) {
    for (size_t q = line.find('"'); q != std::string_view::npos; q = line.find('"', q + 1)) {
        size_t i = q + 1;
        while (i < line.size() && line[i] == ' ') ++i;
        if (i < line.size() && (line[i] == ';' || line[i] == '\t')) return line[i];
    }
    return 0;
}

// Why a line does not split into a record, after its place: a quote
// still open at the end of the text, or else something after a closing
// quote.
std::string split_error(bool open) {
    return open ? ": a quote is not closed" : ": something other than a comma follows a closing quote";
}

// The variable names of the names line; false with *error.  One empty
// name before the last names the row labels, unless a CHAR line says what
// the file's variables are: R's write.csv writes "" above its row names in
// the first column, and pandas' to_csv leaves the unnamed level of a row
// index without a name after the named ones (df.groupby("school").cov()
// writes "school,,x1,...").
bool read_names(std::string_view line, int64_t lineNo, CsvHeader* h, std::string* error) {
    Fields f;
    if (const Split s = split_record(line, &f); s != Split::kRecord) {
        // R's write.csv2 and write.table(sep = "\t") quote every name, so
        // the separator stands after a closing quote.
        if (const char other = separator_after_quote(line); other != 0) {
            const int32_t found = other == ';' ? kMsgHostSemicolon : kMsgHostTab;
            *error = format_message(kMsgHost, kMsgHostQuotedNamesSeparated, h->line(lineNo).c_str(),
                                    format_message(kMsgHost, found).c_str());
            return false;
        }
        *error = h->line(lineNo) + split_error(s == Split::kOpenQuote);
        return false;
    }
    // A file separated by semicolons or tabs, as some programs write
    // them, is one field a line.
    if (const size_t other = f.views.size() == 1 ? f.views[0].find_first_of(";\t") : std::string_view::npos;
        other != std::string_view::npos) {
        const int32_t found = f.views[0][other] == ';' ? kMsgHostSemicolon : kMsgHostTab;
        *error = format_message(kMsgHost, kMsgHostNamesOneField, h->line(lineNo).c_str(),
                                format_message(kMsgHost, found).c_str());
        return false;
    }
    // Refused before anything is made of them: a variable beyond the most
    // could not be numbered.
    if (f.views.size() > static_cast<size_t>(kHostMostVariables)) {
        *error = format_message(kMsgHost, kMsgHostTooManyVariables, h->line(lineNo).c_str(),
                                static_cast<int64_t>(f.views.size()), kHostMostVariables);
        return false;
    }
    std::set<std::string> seen;
    for (std::string_view view : f.views) {
        std::string n = trim(std::string(view));
        const bool beforeLast = h->names.empty() || h->names.size() + 1 < f.views.size();
        if (n.empty() && !h->rowLabels && !h->haveChar && beforeLast) {
            n = kRowLabelsName;
            h->rowLabels = true;
            h->rowLabelColumn = h->names.size();
        }
        if (n.empty()) {
            *error = h->line(lineNo) + ": a variable has no name";
            return false;
        }
        // A NUL would end the name in every text made from it but not in
        // the name itself, so that the two would differ.
        if (const size_t nul = n.find('\0'); nul != std::string::npos) {
            *error = format_message(kMsgHost, kMsgHostNameHoldsNul, h->line(lineNo).c_str(),
                                    static_cast<int32_t>(h->names.size() + 1), n.substr(0, nul).c_str());
            return false;
        }
        // A longer name would be cut by the module, and two names alike in
        // their first 32 characters would become one.
        if (n.size() > kMaxNameLength) {
            *error = h->line(lineNo) + ": variable name " + n + " is longer than " + std::to_string(kMaxNameLength) +
                     " characters";
            return false;
        }
        if (!seen.insert(upper(n)).second) {
            *error = h->line(lineNo) + ": variable " + n + " appears twice";
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
    if (have) line = without_byte_order_mark(line);
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

// The values of one record by variable, and the fields of its line.
struct Record {
    double* numbers;     // the numeric variables' values
    std::string* texts;  // the character variables' texts
    Fields* fields;
    size_t* ends;        // of the fields in the line
};

// text := s without its trailing blanks and tabs.
void assign_rtrim(std::string* text, std::string_view s) {
    size_t e = s.size();
    while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    text->assign(s.data(), e);
}

// The ends of the fields of a line into ends[nv]: its commas, found eight
// bytes at a time (a byte is a comma when it xor ',' is zero, which
// ((x & 0x7f) + 0x7f) | x leaves below 0x80 in every byte, with no carry
// between bytes), then the line's end.  false when it has not exactly
// nv - 1 commas.
bool field_ends(std::string_view line, size_t nv, size_t* ends) {
    constexpr uint64_t kCommas = 0x2C2C2C2C2C2C2C2Cu, kLow = 0x7F7F7F7F7F7F7F7Fu, kHigh = 0x8080808080808080u;
    const char* const b = line.data();
    const size_t n = line.size();
    size_t count = 0, i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t x = load_bytes(b + i) ^ kCommas;
        for (uint64_t z = ~(((x & kLow) + kLow) | x) & kHigh; z != 0; z &= z - 1) {
            if (count + 1 == nv) return false;
            ends[count++] = i + static_cast<size_t>(std::countr_zero(z)) / 8;
        }
    }
    for (; i < n; ++i) {
        if (b[i] != ',') continue;
        if (count + 1 == nv) return false;
        ends[count++] = i;
    }
    if (count + 1 != nv) return false;
    ends[count] = n;
    return true;
}

// A record of plain fields only: the numeric variables' values plain
// decimals (scan_decimal: no blanks, missing values or exponents), the
// character ones' texts without quotes.  Most records of most data sets
// are such, and the general way costs several times as much.  The fields'
// ends come first, so that the fields are parsed each on its own and the
// processor works on several at once.  false for any other line (a blank
// one among them), which the general way then reads as it reads every
// one; the record's values are then undefined.  The memory up to `limit`
// after the line can be read.
bool parse_plain(std::string_view line, const char* limit, const uint8_t* character, size_t nv, Record r) {
    if (nv == 0 || (nv == 1 && blank(line)) || !field_ends(line, nv, r.ends)) return false;
    const char* const b = line.data();
    const char* const end = b + line.size();
    size_t begin = 0;
    for (size_t k = 0; k < nv; begin = r.ends[k++] + 1) {
        const std::string_view field(b + begin, r.ends[k] - begin);
        if (character[k]) {
            if (field.find('"') != std::string_view::npos) return false;
            assign_rtrim(&r.texts[k], field);
        } else if (!short_decimal(field.data(), field.size(), limit, &r.numbers[k]) &&
                   scan_decimal(field.data(), end, &r.numbers[k]) != field.data() + field.size()) {
            return false;  // the decimal reads on to the line's end, but stops at the comma
        }
    }
    return true;
}

enum class Parsed { kRecord, kBlank, kOpenQuote, kAfterQuote, kFieldCount, kNotNumber };

// Any record: split into its fields, each parsed.  A numeric variable's
// field that is not a number goes to notNumber(k, field), which either
// puts something in the record and says to go on (true) or stops the
// record (false: kNotNumber).
template <typename NotNumber>
Parsed parse_general(std::string_view line, const uint8_t* character, size_t nv, Record r,
                     NotNumber&& notNumber) {
    if (blank(line)) return Parsed::kBlank;
    if (const Split s = split_record(line, r.fields); s != Split::kRecord)
        return s == Split::kOpenQuote ? Parsed::kOpenQuote : Parsed::kAfterQuote;
    if (r.fields->views.size() != nv) return Parsed::kFieldCount;
    for (size_t k = 0; k < nv; ++k) {
        const std::string_view field = r.fields->views[k];
        if (character[k])
            assign_rtrim(&r.texts[k], field);
        else if (!parse_number(field, &r.numbers[k]) && !notNumber(k, field))
            return Parsed::kNotNumber;
    }
    return Parsed::kRecord;
}

// A record that begins with `line` and is no plain one: parse_general on
// it and, while a quoted value is open at the end of its lines, on them
// with the next line of src joined (in *joined); *lines counts the lines
// it took.  kOpenQuote when the text ends with the quote open.
template <typename NotNumber>
Parsed parse_lines(LineSource* src, std::string_view line, std::string* joined, int64_t* lines,
                   const uint8_t* character, size_t nv, Record r, NotNumber&& notNumber) {
    Parsed p;
    *lines = 0;
    do {
        ++*lines;
        p = parse_general(line, character, nv, r, notNumber);
    } while (p == Parsed::kOpenQuote && continue_record(src, &line, joined));
    return p;
}

// A value of a variable that a value among its numbers made character: it
// holds numbers when one is a number, and it is numbers but for values
// beyond the range of doubles while every value is a number, missing or
// such a one.  Once both are settled no value is parsed.
void classify_turned(DataSetVariable* v, std::string_view text) {
    if (v->holdsNumbers && !v->notFinite) return;
    // A word's first byte says so at once, as in a column of names.
    const std::string_view t = trim_view(text);
    double x = 0.0;
    if (!t.empty() && std::strchr("+-.0123456789iInN", t[0]) == nullptr) {
        v->notFinite = false;
    } else if (parse_number(t, &x)) {
        v->holdsNumbers = v->holdsNumbers || !host_is_missing(x);
    } else if (!infinite_number(text)) {
        v->notFinite = false;
    }
}

// A variable as the scan meets its values.  A numeric one (no CHAR line)
// turns character at the first value that is not a number; the texts of
// the observations before it come from a second reading of the source.
struct Column {
    DataSetVariable* var = nullptr;
    std::string upperName;
    int64_t turnedAt = -1;  // the observation at which it turned character
    size_t longest = 1;     // of its texts
    std::string error;      // its first value the CHAR line does not allow
};

// The scan of the observations: the columns, the values of the record in
// hand, and whether the values are still held (while they take at most
// `limit` bytes).
struct Scan {
    const CsvHeader* header = nullptr;
    std::vector<Column> cols;
    std::vector<uint8_t> character;  // by variable, as known so far
    std::vector<double> numbers;
    std::vector<std::string> texts;
    Fields fields;
    std::unique_ptr<ScanGroups> groups;  // null once they are not kept
    ByKey key;                           // of the group in hand
    size_t groupBytes = 0;               // kept by the finished groups
    bool hold = true;
    size_t limit = 0;
    size_t heldBytes = 0;

    std::vector<size_t> ends;

    Record record() { return Record{numbers.data(), texts.data(), &fields, ends.data()}; }

    // Frees every value held so far: from here on none is.
    void drop() {
        for (Column& c : cols) {
            std::vector<double>().swap(c.var->numbers);
            std::vector<std::string>().swap(c.var->texts);
        }
        hold = false;
    }

    // A numeric variable's field that is not a number, in observation obs:
    // an error with a CHAR line (the value held as 0), else the variable
    // turns character.
    bool not_a_number(size_t k, std::string_view field, int64_t obs, int64_t lineNo) {
        Column& c = cols[k];
        if (header->haveChar) {
            if (c.error.empty())
                c.error = header->line(lineNo) + ": value '" + std::string(field) + "' of numeric variable " +
                          c.var->name + (infinite_number(field) ? " is not a finite number" : " is not a number");
            numbers[k] = 0.0;
            return true;
        }
        character[k] = 1;
        c.turnedAt = obs;
        // A long text is cut: the message that names it is one line.
        constexpr size_t kShown = 40;
        const std::string_view word = trim_view(field);
        c.var->notFinite = infinite_number(word);
        c.var->madeCharacter = header->line(lineNo) + " holds " + one_line(std::string(word.substr(0, kShown))) +
                               (word.size() > kShown ? "..." : "") + (c.var->notFinite ? ", not a finite number" : "");
        if (groups) {
            groups->place[k] = -1;
            // Groups by a variable that turned character were not its runs.
            if (std::find(groups->byVariables.begin(), groups->byVariables.end(), static_cast<int>(k)) !=
                groups->byVariables.end())
                groups.reset();
        }
        if (hold) {
            heldBytes += static_cast<size_t>(obs) * (sizeof(std::string) - sizeof(double));
            std::vector<double>().swap(c.var->numbers);
        }
        assign_rtrim(&texts[k], field);
        return true;
    }

    // The record in hand, at `at`: the lengths of its texts, its values
    // held while they fit, and its group's sums.
    void take(int64_t lineNo, RowPosition at) {
        // Numbers that are not held need nothing of this loop.
        const size_t nv = hold || std::find(character.begin(), character.end(), 1) != character.end() ? cols.size() : 0;
        for (size_t k = 0; k < nv; ++k) {
            Column& c = cols[k];
            if (character[k]) {
                if (c.turnedAt >= 0) classify_turned(c.var, texts[k]);
                const size_t len = texts[k].size();
                c.longest = std::max(c.longest, len);
                if (header->haveChar && c.error.empty() && len > static_cast<size_t>(c.var->length))
                    c.error = header->line(lineNo) + ": value '" + texts[k] +
                              "' is longer than the length " + std::to_string(c.var->length) + " of " +
                              c.var->name;
                if (hold) {
                    c.var->texts.push_back(texts[k]);
                    heldBytes += sizeof(std::string) + (len > 15 ? len + 1 : 0);
                }
            } else if (hold) {
                c.var->numbers.push_back(numbers[k]);
                heldBytes += sizeof(double);
            }
        }
        if (groups) sum_record(at);
        if (hold && heldBytes > limit) drop();
    }

    // The record in hand (at `at`) into the sums of its group: a new group
    // when its BY values differ from those of the group in hand.
    void sum_record(RowPosition at) {
        const std::vector<int>& by = groups->byVariables;
        bool same = !groups->groups.empty();
        for (size_t j = 0; same && j < by.size(); ++j) {
            const int k = by[j];
            same = same_by_value(ByValue{numbers[k], character[k] ? texts[k] : std::string()}, key[j],
                                 character[k] != 0);
        }
        if (!same) {
            if (!groups->groups.empty()) groupBytes += groups->groups.back().finish();
            if (groupBytes > ScanGroups::kBytes) {
                groups.reset();
                return;
            }
            key.resize(by.size());
            for (size_t j = 0; j < by.size(); ++j)
                key[j] = ByValue{numbers[by[j]], character[by[j]] ? texts[by[j]] : std::string()};
            groups->groups.emplace_back(groups->variables.size(), groups->products);
            groups->groups.back().begin = at;
        }
        groups->groups.back().add(groups->variables, numbers.data());
    }

    // Room for the observations a text of `bytes` holds at `perLine` bytes
    // a line, for the numeric columns, up to the limit: reserving never
    // touches the memory, and it saves copying the columns as they grow.
    void reserve(int64_t bytes, double perLine) const {
        if (!hold || bytes <= 0 || !(perLine > 0.0)) return;
        const double rows = static_cast<double>(bytes) / perLine * 1.02 + 16.0;
        const double fit = static_cast<double>(limit / sizeof(double) / std::max<size_t>(cols.size(), 1)) + 16.0;
        for (size_t k = 0; k < cols.size(); ++k)
            if (!character[k]) cols[k].var->numbers.reserve(static_cast<size_t>(std::min(rows, fit)));
    }
};

// The observations, each record read as it comes; false with *error at
// the first malformed record, named by the line where it begins.
bool scan_observations(LineSource* src, Scan* scan, int64_t* nObs, std::string* error) {
    const size_t nv = scan->cols.size();
    std::string_view line;
    std::string joined;
    int64_t lineNo = scan->header->namesLine, obs = 0, lines = 1;
    const int64_t first = src->offset();
    constexpr int64_t kSample = 64;  // observations whose lines estimate the rest
    constexpr int64_t kStopLook = 4096;  // observations between looks at the stop flag: well under a millisecond
    for (int64_t offset = first; src->next(&line); offset = src->offset(), lineNo += lines) {
        lines = 1;
        const int64_t at = lineNo + 1;
        if (!parse_plain(line, src->readable_end(), scan->character.data(), nv, scan->record())) {
            const Parsed p = parse_lines(src, line, &joined, &lines, scan->character.data(), nv, scan->record(),
                                         [&](size_t k, std::string_view field) {
                                             return scan->not_a_number(k, field, obs, at);
                                         });
            if (p == Parsed::kBlank) continue;
            if (p == Parsed::kOpenQuote || p == Parsed::kAfterQuote) {
                *error = scan->header->line(at) + split_error(p == Parsed::kOpenQuote);
                return false;
            }
            if (p == Parsed::kFieldCount) {
                *error = scan->header->line(at) + ": " + std::to_string(scan->fields.views.size()) + " values for " +
                         std::to_string(nv) + " variables";
                return false;
            }
        }
        scan->take(at, RowPosition{obs, offset});
        if (++obs == kSample) scan->reserve(src->size(), static_cast<double>(src->offset() - first) / kSample);
        // A stop ends the scan (and the step, which its caller ends).
        if (obs % kStopLook == 0 && stop_signal() != 0) {
            *error = "stopped";
            return false;
        }
    }
    *nObs = obs;
    return true;
}

// The observations before each column turned character, from a second
// reading of the source: their texts while the values are held, else only
// their lengths.  false with *error when it cannot be read again as it
// was.
bool fill_turned_columns(LineSource* src, int64_t firstOffset, Scan* scan, std::string* error) {
    int64_t upTo = 0;
    for (const Column& c : scan->cols) upTo = std::max(upTo, c.turnedAt);
    if (upTo <= 0) return true;
    const size_t nv = scan->cols.size();
    std::vector<std::vector<std::string>> before(nv);
    Fields f;
    std::string_view line;
    std::string joined;
    int64_t obs = 0;
    bool ok = src->seek(firstOffset);
    while (ok && obs < upTo && src->next(&line)) {
        if (blank(line)) continue;
        Split s = split_record(line, &f);
        while (s == Split::kOpenQuote && continue_record(src, &line, &joined)) s = split_record(line, &f);
        ok = s == Split::kRecord && f.views.size() == nv;
        for (size_t k = 0; ok && k < nv; ++k) {
            Column& c = scan->cols[k];
            if (obs >= c.turnedAt) continue;
            std::string t = rtrim(f.views[k]);
            c.longest = std::max(c.longest, t.size());
            classify_turned(c.var, t);
            if (scan->hold) before[k].push_back(std::move(t));
        }
        ++obs;
    }
    if (!ok || obs < upTo) {
        *error = "the file changed while it was read";
        return false;
    }
    for (size_t k = 0; k < nv && scan->hold; ++k) {
        auto& texts = scan->cols[k].var->texts;
        texts.insert(texts.begin(), std::make_move_iterator(before[k].begin()),
                     std::make_move_iterator(before[k].end()));
    }
    return true;
}

// The groups the scan sums: by the named BY variables when the data set
// has them all, else one group; the products of the numeric variables
// when there are at most ScanGroups::kMost of them.
std::unique_ptr<ScanGroups> scan_groups(const std::vector<uint8_t>& character, const std::vector<std::string>& by,
                                        const std::vector<std::string>& names) {
    auto g = std::make_unique<ScanGroups>();
    for (const std::string& b : by) {
        const std::string ub = upper(b);
        const auto at = std::find_if(names.begin(), names.end(), [&](const std::string& n) { return upper(n) == ub; });
        if (at == names.end()) {
            g->byVariables.clear();
            break;
        }
        g->byVariables.push_back(static_cast<int>(at - names.begin()));
    }
    g->place.assign(character.size(), -1);
    for (size_t k = 0; k < character.size(); ++k)
        if (character[k] == 0) {
            g->place[k] = static_cast<int>(g->variables.size());
            g->variables.push_back(static_cast<int>(k));
        }
    g->products = !g->variables.empty() && g->variables.size() <= ScanGroups::kMost;
    return g;
}

}  // namespace

bool csv_scan(std::unique_ptr<LineSource> source, size_t holdLimit, const std::vector<std::string>* by,
              HostDataSet* data, std::string* error) {
    //   the header: attributes, CHAR line, names
    //   the observations, each value parsed as it is read, held while they fit
    //   the observations before the columns that turned character, read again
    //   the lengths; the first value error by variable, then by line
    //   a data set that holds no values reads them again from the source
    CsvHeader h;
    h.file = file_name_of(data->path);
    if (!read_header(source.get(), data, &h, error)) return false;
    data->rowLabels = h.rowLabels;
    data->rowLabelColumn = h.rowLabelColumn;
    data->firstOffset = source->offset();
    const size_t nv = h.names.size();
    data->variables.clear();
    data->variables.resize(nv);
    Scan scan;
    scan.header = &h;
    scan.limit = holdLimit;
    scan.hold = holdLimit > 0;
    scan.cols.resize(nv);
    scan.character.resize(nv);
    scan.numbers.assign(nv, host_missing_value());
    scan.texts.resize(nv);
    scan.ends.resize(nv);
    for (size_t k = 0; k < nv; ++k) {
        Column& c = scan.cols[k];
        c.var = &data->variables[k];
        c.var->name = h.names[k];
        c.upperName = upper(h.names[k]);
        const bool labels = h.rowLabels && k == h.rowLabelColumn;
        const bool character =
            h.haveChar ? h.charLengths.count(c.upperName) > 0 : is_name_variable(c.upperName) || labels;
        scan.character[k] = character ? 1 : 0;
        c.var->length = h.haveChar && character ? h.charLengths.at(c.upperName) : 8;
    }
    if (by != nullptr) scan.groups = scan_groups(scan.character, *by, h.names);
    int64_t nObs = 0;
    if (!scan_observations(source.get(), &scan, &nObs, error)) return false;
    if (!fill_turned_columns(source.get(), data->firstOffset, &scan, error)) return false;
    for (size_t k = 0; k < nv; ++k) {
        Column& c = scan.cols[k];
        if (!c.error.empty()) {
            *error = c.error;
            return false;
        }
        c.var->character = scan.character[k] != 0;
        // The special variables keep the widths the procedure binds them with.
        if (c.var->character && !h.haveChar) {
            const size_t base = c.upperName == "_TYPE_" ? 8 : is_name_variable(c.upperName) ? 32 : 1;
            c.var->length = static_cast<int32_t>(std::max(base, c.longest));
        }
    }
    data->nObs = nObs;
    if (scan.groups && !scan.groups->groups.empty()) scan.groups->groups.back().finish();
    data->scanned = std::move(scan.groups);
    data->rows.reset();
    if (!scan.hold) data->rows = std::make_unique<CsvRows>(std::move(source), std::move(scan.character));
    return true;
}

bool csv_read(const std::string& text, HostDataSet* data, std::string* error) {
    return csv_scan(text_lines(text), std::numeric_limits<size_t>::max(), nullptr, data, error);
}

std::unique_ptr<LineSource> file_lines(std::FILE* file) { return std::make_unique<FileLines>(file); }

std::unique_ptr<LineSource> text_lines(const std::string& text) { return std::make_unique<TextLines>(text); }

struct CsvRows::Work {
    Fields fields;
    std::vector<size_t> ends;
    std::string joined;  // the lines of a record with a line end inside quotes
};

CsvRows::CsvRows(std::unique_ptr<LineSource> source, std::vector<uint8_t> character)
    : numbers(character.size(), host_missing_value()),
      texts(character.size()),
      source_(std::move(source)),
      character_(std::move(character)),
      work_(std::make_unique<Work>()) {
    work_->ends.resize(character_.size());
}

CsvRows::~CsvRows() = default;

size_t CsvRows::held_bytes() const {
    size_t bytes = source_->held_bytes() + numbers.capacity() * sizeof(double) +
                   work_->ends.capacity() * sizeof(size_t) + work_->fields.views.capacity() * sizeof(std::string_view) +
                   work_->joined.capacity();
    for (const std::string& t : texts) bytes += sizeof t + (t.capacity() > 15 ? t.capacity() + 1 : 0);
    for (const std::string& t : work_->fields.unquoted) bytes += sizeof t + (t.capacity() > 15 ? t.capacity() + 1 : 0);
    return bytes;
}

CsvRows::Read CsvRows::read(int64_t offset, int64_t* next) {
    if (offset != source_->offset() && !source_->seek(offset)) return Read::kBroken;
    const size_t nv = character_.size();
    const Record r{numbers.data(), texts.data(), &work_->fields, work_->ends.data()};
    std::string_view line;
    while (source_->next(&line)) {
        if (!parse_plain(line, source_->readable_end(), character_.data(), nv, r)) {
            // Every value was a number when the scan read it.
            int64_t lines = 0;
            const Parsed p = parse_lines(source_.get(), line, &work_->joined, &lines, character_.data(), nv, r,
                                         [](size_t, std::string_view) { return false; });
            if (p == Parsed::kBlank) continue;
            if (p != Parsed::kRecord) return Read::kBroken;
        }
        *next = source_->offset();
        return Read::kRecord;
    }
    return Read::kEnd;
}

std::string csv_write(const HostDataSet* data) { return csv_write_header(data) + csv_write_rows(data); }

std::string csv_write_header(const HostDataSet* data) {
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
    return out;
}

std::string csv_write_rows(const HostDataSet* data) {
    std::string out;
    for (int64_t i = 0; i < data->nObs - data->spilledObs; ++i) {
        std::string line;
        for (size_t k = 0; k < data->variables.size(); ++k) {
            if (k) line += ",";
            const DataSetVariable& v = data->variables[k];
            // Line ends as the reader gives them back from inside quotes.
            line += v.character ? quote(with_lf_line_ends(v.texts[i])) : format_number(v.numbers[i]);
        }
        // A blank line is no observation to the reader: a blank value alone
        // on its line is written quoted.
        if (trim(line).empty()) line = "\"" + line + "\"";
        out += line + "\n";
    }
    return out;
}

}  // namespace velix::platform
