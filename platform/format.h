// The host's printf-like format dialect, shared by the log, listing, message
// and text-handle services.  The directives are those of C's printf with a
// few of the host's own:
//
//   %i %d        int32_t              %u %x %X   uint32_t
//   %ld %li %lu  int64_t              %f %e %E %g %G  double
//   %s           NUL-terminated text (a precision bounds it: %.8s, %.*s)
//   %c           one character        %k         HostText* (a null handle is empty)
//   %n           a line break         %Nz        severity marker: N = 1 "ERROR: ",
//                                                2 "WARNING: ", 3 "NOTE: "
//   %%           a percent sign
//
// Flags (- + space 0 #), widths and precisions, literal or "*" (read as an
// int from the arguments), apply as in C.  An unknown directive is copied
// through unchanged and reads no argument.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <string_view>

namespace velix::platform {

// Formats the first `length` characters of `format` (all of it up to its NUL
// when length < 0) with the arguments in `args`.  A null format gives "".
// args: in-out, consumed by the directives.
std::string vformat_host(const char* format, int32_t length, va_list args);

// The same with the arguments given directly (NUL-terminated format).
std::string format_host(const char* format, ...);

// A finite double as C's printf writes it with "%.*f", "%.*E" or "%.*g"
// (conversion 'f', 'E' or 'g') and the given precision, from std::to_chars,
// which gives the same text without the C library's arbitrary-precision
// conversion: the listing writes tens of thousands of numbers.  The text
// goes to buf (size bytes, enough for it); returns its length.
size_t format_double(char* buf, size_t size, double value, char conversion, int precision);

// v in fixed notation, "%<flags><width>.<decimals>f", when its sign and
// digits before the point fit its field: width characters, or, with no
// width (width < 1), at most 17 digits, all that a double carries (the
// decimals may widen the field, as in C).  A number too large for its
// field is written in E notation instead, with as many of the decimals as
// the field holds (none at the least), so that it never prints as a long
// string of digits: 1.4417E+24 in a field of 10.
//   flags  in  any of "-+ 0#", as in C
std::string fixed_in_field(double v, int decimals, int width, const std::string& flags = "");

// `text` without the UTF-8 byte-order mark (EF BB BF) that editors and
// spreadsheets put at the start of a file: it is not part of the program
// or the data.
inline std::string_view without_byte_order_mark(std::string_view text) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    return text.substr(0, kMark.size()) == kMark ? text.substr(kMark.size()) : text;
}

// `text` with each CRLF and each lone CR (an old Mac file) as an LF, as an
// editor counts lines.
std::string with_lf_line_ends(std::string_view text);

// The last part of a path, the file's name without its folder ("hs.csv").
inline std::string file_name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace velix::platform
