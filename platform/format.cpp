// The host's format dialect: a directive scanner over the format text that
// reads each argument by its directive and lets the C library do the
// numeric conversions (snprintf with the directive rebuilt from its parts),
// so widths, precisions and flags behave exactly as in C.
#include "platform/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/dataset.h"
#include "velix/host.h"

namespace velix::platform {
namespace {

// One parsed directive between '%' and its conversion letter.
struct Directive {
    std::string flags;     // any of "-+ 0#"
    int width = -1;        // -1: none
    int precision = -1;    // -1: none
    bool longInt = false;  // the l modifier: 64-bit integers
    char conversion = 0;
};

// Rebuilds a C format for one conversion from the parsed directive.
std::string c_format(const Directive& d, const char* lengthModifier, char conversion) {
    std::string f = "%" + d.flags;
    if (d.width >= 0) f += std::to_string(d.width);
    if (d.precision >= 0) f += "." + std::to_string(d.precision);
    f += lengthModifier;
    f += conversion;
    return f;
}

template <typename T>
void append_c(std::string* out, const std::string& cfmt, T value) {
    char small[128];
    const int n = std::snprintf(small, sizeof small, cfmt.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out->append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), cfmt.c_str(), value);
    out->append(big.data(), static_cast<size_t>(n));
}

// Pads a text to the directive's width (right-justified unless '-').
void append_padded(std::string* out, const Directive& d, const char* text, size_t n) {
    const size_t width = d.width > 0 ? static_cast<size_t>(d.width) : 0;
    const bool left = d.flags.find('-') != std::string::npos;
    if (!left && width > n) out->append(width - n, ' ');
    out->append(text, n);
    if (left && width > n) out->append(width - n, ' ');
}

// More digits before the point than a double carries: the rest is noise.
constexpr double kFixedDigitsLimit = 1e17;
// Mantissa decimals of the E form: a double has 17 significant digits.
constexpr int kMaxExponentDecimals = 16;
// Decimals of a fixed text that fixed_in_field forms without the C
// library: with 17 digits before the point and a sign, 59 characters.
constexpr int kPlainDecimals = 40;

std::string c_text(const char* cfmt, double v) {
    std::string out;
    append_c(&out, cfmt, v);
    return out;
}

const char* severity_prefix(int level) {
    switch (level) {
        case 1: return "ERROR: ";
        case 2: return "WARNING: ";
        case 3: return "NOTE: ";
        default: return "";
    }
}

}  // namespace

std::string vformat_host(const char* format, int32_t length, va_list args) {
    std::string out;
    if (format == nullptr) return out;
    const size_t n = length < 0 ? std::strlen(format) : static_cast<size_t>(length);
    size_t i = 0;
    while (i < n) {
        const char ch = format[i];
        if (ch != '%' || i + 1 >= n) {
            out.push_back(ch);
            ++i;
            continue;
        }
        const size_t start = i++;
        Directive d;
        while (i < n && std::strchr("-+ 0#", format[i]) != nullptr) d.flags.push_back(format[i++]);
        if (i < n && format[i] == '*') {
            d.width = va_arg(args, int);
            if (d.width < 0) {
                d.flags.push_back('-');
                d.width = -d.width;
            }
            ++i;
        } else if (i < n && format[i] >= '0' && format[i] <= '9') {
            d.width = 0;
            while (i < n && format[i] >= '0' && format[i] <= '9') d.width = d.width * 10 + (format[i++] - '0');
        }
        if (i < n && format[i] == '.') {
            ++i;
            d.precision = 0;
            if (i < n && format[i] == '*') {
                d.precision = va_arg(args, int);
                if (d.precision < 0) d.precision = -1;  // C: a negative precision is none
                ++i;
            } else {
                while (i < n && format[i] >= '0' && format[i] <= '9')
                    d.precision = d.precision * 10 + (format[i++] - '0');
            }
        }
        while (i < n && (format[i] == 'l' || format[i] == 'h')) {
            if (format[i] == 'l') d.longInt = true;
            ++i;
        }
        if (i >= n) {
            out.append(format + start, n - start);
            break;
        }
        d.conversion = format[i++];
        switch (d.conversion) {
            case 'i':
            case 'd':
                if (d.longInt)
                    append_c(&out, c_format(d, "ll", 'd'), static_cast<long long>(va_arg(args, int64_t)));
                else
                    append_c(&out, c_format(d, "", 'd'), static_cast<int>(va_arg(args, int32_t)));
                break;
            case 'u':
            case 'x':
            case 'X':
                if (d.longInt)
                    append_c(&out, c_format(d, "ll", d.conversion),
                             static_cast<unsigned long long>(va_arg(args, int64_t)));
                else
                    append_c(&out, c_format(d, "", d.conversion),
                             static_cast<unsigned>(va_arg(args, uint32_t)));
                break;
            case 'f':
            case 'e':
            case 'E':
            case 'g':
            case 'G': {
                // A missing value prints as the host writes it (".", ".A"),
                // not as the NaN that carries it.
                const double v = va_arg(args, double);
                if (host_is_missing(v)) {
                    const std::string t = missing_text(v);
                    append_padded(&out, d, t.data(), t.size());
                } else if (d.conversion == 'f') {
                    // C's default precision of %f is 6.
                    out += fixed_in_field(v, d.precision >= 0 ? d.precision : 6, d.width, d.flags);
                } else {
                    append_c(&out, c_format(d, "", d.conversion), v);
                }
                break;
            }
            case 's': {
                const char* s = va_arg(args, const char*);
                if (s == nullptr) s = "";
                const size_t len = d.precision >= 0 ? strnlen(s, static_cast<size_t>(d.precision))
                                                    : std::strlen(s);
                append_padded(&out, d, s, len);
                break;
            }
            case 'c': {
                const char c = static_cast<char>(va_arg(args, int));
                append_padded(&out, d, &c, 1);
                break;
            }
            case 'k': {
                const HostText* t = va_arg(args, const HostText*);
                int32_t len = 0;
                const char* s = t != nullptr ? kyrtext_chars(t, &len) : "";
                size_t use = static_cast<size_t>(len);
                if (d.precision >= 0 && static_cast<size_t>(d.precision) < use)
                    use = static_cast<size_t>(d.precision);
                append_padded(&out, d, s, use);
                break;
            }
            case 'n':
                out.push_back('\n');
                break;
            case 'z':
                out += severity_prefix(d.width);
                break;
            case '%':
                out.push_back('%');
                break;
            default:
                out.append(format + start, i - start);
                break;
        }
    }
    return out;
}

namespace {

// v in fixed notation with up to kFastDecimals decimals, as printf writes
// it, for |v| below kFastBelow: v = m 2^e exactly, so v 10^decimals is
// the integer m 10^decimals shifted by e, rounded to nearest with ties to
// even as printf rounds the exact value; its digits are then written with
// the point before the last `decimals`.  Several times cheaper than
// to_chars with a precision, which the listing asks for in every cell.
// Returns 0 (nothing written) for a value it does not cover.
constexpr int kFastDecimals = 9;
constexpr double kFastBelow = 1e9;  // with 9 decimals, at most 18 digits

size_t fast_fixed(char* buf, size_t size, double value, int decimals) {
    static constexpr uint64_t kTens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
    constexpr int kMantissaBits = 52;
    constexpr int kExponentBias = 1075;  // of the integer mantissa
    if (!(std::fabs(value) < kFastBelow) || decimals < 0 || decimals > kFastDecimals || size < 32) return 0;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> kMantissaBits) & 0x7FF);
    uint64_t m = bits & ((uint64_t{1} << kMantissaBits) - 1);
    if (biased != 0) m |= uint64_t{1} << kMantissaBits;
    // v = m / 2^shift, shift above 0 as |v| < 2^52; n below 2^83.
    const int shift = kExponentBias - (biased != 0 ? biased : 1);
    const unsigned __int128 n = static_cast<unsigned __int128>(m) * kTens[decimals];
    uint64_t q = 0;  // below 10^18
    if (shift < 128) {
        q = static_cast<uint64_t>(n >> shift);
        const unsigned __int128 rest = n - (static_cast<unsigned __int128>(q) << shift);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (q & 1) != 0)) ++q;
    }  // else n is below half of 2^shift: 0
    // The digits of q, with zeros before them up to one before the point.
    char digits[32];
    const auto nq = static_cast<size_t>(std::to_chars(digits + decimals + 1, digits + sizeof digits, q).ptr -
                                        (digits + decimals + 1));
    const auto d = static_cast<size_t>(decimals);
    const size_t nd = std::max(nq, d + 1);
    char* const first = digits + decimals + 1 + nq - nd;
    std::memset(first, '0', nd - nq);
    size_t k = 0;
    if (bits >> 63) buf[k++] = '-';  // printf keeps the sign of -0 and of what rounds to 0
    std::memcpy(buf + k, first, nd - d);
    k += nd - d;
    if (d > 0) {
        buf[k++] = '.';
        std::memcpy(buf + k, first + nd - d, d);
        k += d;
    }
    return k;
}

}  // namespace

size_t format_double(char* buf, size_t size, double value, char conversion, int precision) {
    if (conversion == 'f')
        if (const size_t n = fast_fixed(buf, size, value, precision)) return n;
    const std::chars_format style = conversion == 'f'   ? std::chars_format::fixed
                                    : conversion == 'g' ? std::chars_format::general
                                                        : std::chars_format::scientific;
    const std::to_chars_result r = std::to_chars(buf, buf + size, value, style, precision);
    const size_t n = static_cast<size_t>(r.ptr - buf);
    if (conversion == 'E')
        for (size_t k = 0; k < n; ++k)
            if (buf[k] == 'e') buf[k] = 'E';
    return n;
}

std::string with_lf_line_ends(std::string_view text) {
    if (text.find('\r') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    return out;
}

std::string fixed_in_field(double v, int decimals, int width, const std::string& flags) {
    Directive d;
    d.flags = flags;
    d.precision = std::max(decimals, 0);
    // Judged on the text without padding: the sign and the digits before
    // the point must fit the field (decimals beyond it widen it, as in C).
    // Without flags the text is format_double's, padded on the left as C
    // pads it (the factoids of the listing write thousands of these).
    const bool plain = flags.empty() && std::isfinite(v) && std::fabs(v) < kFixedDigitsLimit &&
                       d.precision <= kPlainDecimals;
    std::string fixed;
    if (plain) {
        char buf[64];
        fixed.assign(buf, format_double(buf, sizeof buf, v, 'f', d.precision));
    } else {
        fixed = c_text(c_format(d, "", 'f').c_str(), v);
    }
    const size_t whole = std::min(fixed.find('.'), fixed.size());
    const bool fits = width > 0 ? whole <= static_cast<size_t>(width) : !(std::fabs(v) >= kFixedDigitsLimit);
    if (fits && plain)
        return width > 0 && fixed.size() < static_cast<size_t>(width)
                   ? std::string(static_cast<size_t>(width) - fixed.size(), ' ') + fixed
                   : fixed;
    if (!fits && std::isfinite(v)) {
        // Fewer decimals until the E form fits (rounding may add an
        // exponent digit); at none it stands even in a narrower field.
        for (d.precision = std::min(d.precision, kMaxExponentDecimals); d.precision > 0; --d.precision)
            if (width < 1 || c_text(c_format(d, "", 'E').c_str(), v).size() <= static_cast<size_t>(width)) break;
        d.width = width > 0 ? width : -1;
        return c_text(c_format(d, "", 'E').c_str(), v);
    }
    d.width = width > 0 ? width : -1;
    return c_text(c_format(d, "", 'f').c_str(), v);
}

std::string format_host(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = vformat_host(format, -1, args);
    va_end(args);
    return s;
}

}  // namespace velix::platform
