// Host options, titles and the clock.  Options are looked up by upper-case
// name in the session (filled from the command line and from `options
// name=value;` statements), then among the defaults below; any other name
// does not exist.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/session.h"
#include "velix/host.h"

namespace velix::platform {
namespace {

struct OptionDefault {
    const char* name;
    const char* value;
};

// PROBSIG: how p-values print (0, 1 or 2); FORMCHAR: the table-drawing
// characters, the second is the horizontal rule; DEBUG: trace keywords;
// LINESIZE, PAGESIZE: the listing's line width and page length.
constexpr OptionDefault kOptionDefaults[] = {
    {"PROBSIG", "0"},
    {"FORMCHAR", "|----|+|---+=|-/\\<>*"},
    {"DEBUG", ""},
    {"LINESIZE", "132"},
    {"PAGESIZE", "60"},
};

std::string upper(const char* name) {
    std::string s = name != nullptr ? name : "";
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The option's text; empty when there is no such option.
std::optional<std::string> find_option(const char* name) {
    const std::string key = upper(name);
    const auto& opts = session().options;
    const auto it = opts.find(key);
    if (it != opts.end()) return it->second;
    for (const auto& d : kOptionDefaults)
        if (key == d.name) return std::string(d.value);
    return std::nullopt;
}

// Parses the whole text (blanks around allowed) as a number.
bool parse_number(const std::string& text, double* value) {
    const char* s = text.c_str();
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    if (end == s) return false;
    while (*end == ' ') ++end;
    if (*end != '\0') return false;
    *value = v;
    return true;
}

}  // namespace
}  // namespace velix::platform

using velix::platform::find_option;

int32_t xoptcgt(const char* name, char* buf, int32_t size) {
    const auto v = find_option(name);
    if (!v) return -1;
    if (buf == nullptr || size <= 0) return static_cast<int32_t>(v->size());
    const size_t n = std::min(v->size(), static_cast<size_t>(size - 1));
    std::memcpy(buf, v->data(), n);
    buf[n] = '\0';
    return static_cast<int32_t>(n);
}

int32_t xoptngt(const char* name, double* value) {
    const auto v = find_option(name);
    double d = 0.0;
    if (!v || !velix::platform::parse_number(*v, &d)) return 1;
    if (value != nullptr) *value = d;
    return 0;
}

int32_t xoptigt(const char* name) {
    double d = 0.0;
    if (xoptngt(name, &d) != 0 || !(d > -2147483648.0 && d < 2147483648.0)) return 0;
    return static_cast<int32_t>(d);
}

int32_t xyrcgef(int32_t item, char* buffer1024) {
    constexpr int32_t kDebugOptionItem = 4142;  // the host's item number of the DEBUG text
    if (item != kDebugOptionItem || buffer1024 == nullptr) return -1;
    return xoptcgt("DEBUG", buffer1024, 1024);
}

const char* xtitle(int32_t line) {
    const auto& titles = velix::platform::session().titles;
    if (line < 1 || static_cast<size_t>(line) > titles.size()) return nullptr;
    const std::string& t = titles[static_cast<size_t>(line) - 1];
    return t.empty() ? nullptr : t.c_str();
}

double wzdttme() {
    const double fixed = velix::platform::session().fixedTime;
    if (fixed >= 0.0) return fixed;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}
