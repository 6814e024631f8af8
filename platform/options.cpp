// Host options, titles and the clock.  Options are looked up by upper-case
// name in the session (filled from the command line and from `options
// name=value;` statements), then among the defaults below; any other name
// does not exist.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/messages.h"
#include "platform/print.h"
#include "platform/session.h"
#include "velix/host.h"
#include "velix/messages.h"

namespace velix::platform {
namespace {

struct OptionDefault {
    const char* name;
    const char* value;
    // The whole numbers a numeric option takes, lo to hi; any text when
    // hi < lo.
    int32_t lo, hi;
};

constexpr int32_t kAnyText = -1;

// PROBSIG: how p-values print (0, 1 or 2); FORMCHAR: the table-drawing
// characters, the second is the horizontal rule; DEBUG: trace keywords;
// LINESIZE, PAGESIZE: the listing's line width and page length.
constexpr OptionDefault kOptionDefaults[] = {
    {"PROBSIG", "0", 0, 2},
    {"FORMCHAR", "|----|+|---+=|-/\\<>*", 0, kAnyText},
    {"DEBUG", "", 0, kAnyText},
    {"LINESIZE", "132", kLineSizeMin, kLineSizeMax},
    {"PAGESIZE", "60", kPageSizeMin, kPageSizeMax},
};

// The upper-case name without trailing blanks, into key (kept between
// calls: the listing looks up its line and page sizes for every line).
void upper_key(const char* name, std::string* key) {
    key->assign(name != nullptr ? name : "");
    // Names are ASCII: no locale call per character.
    for (char& c : *key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    while (!key->empty() && key->back() == ' ') key->pop_back();
}

// The option's text; null when there is no such option.  Valid until the
// options change.
const std::string* find_option(const char* name) {
    static std::string key;
    static const std::vector<std::pair<std::string, std::string>> defaults = [] {
        std::vector<std::pair<std::string, std::string>> d;
        for (const auto& o : kOptionDefaults) d.emplace_back(o.name, o.value);
        return d;
    }();
    upper_key(name, &key);
    const auto& opts = session().options;
    const auto it = opts.find(key);
    if (it != opts.end()) return &it->second;
    for (const auto& [defaultName, value] : defaults)
        if (key == defaultName) return &value;
    return nullptr;
}

// Parses the whole text (blanks around allowed) as a number.  The last
// few texts parsed are kept with their numbers: the listing asks for its
// page size with every line it writes.
bool parse_number(const std::string& text, double* value) {
    struct Parsed {
        std::string text;
        bool ok = false;
        double value = 0.0;
    };
    constexpr size_t kKept = 4;  // more than the numeric options asked for in turn
    static Parsed kept[kKept];
    static size_t next = 0;
    const Parsed* hit = nullptr;
    for (const Parsed& p : kept)
        if (p.text == text) hit = &p;  // the empty text is no number, as the unused slots say
    if (hit == nullptr) {
        const char* s = text.c_str();
        char* end = nullptr;
        const double v = std::strtod(s, &end);
        bool ok = end != s;
        while (ok && *end == ' ') ++end;
        Parsed& slot = kept[next];
        next = (next + 1) % kKept;
        slot.text = text;
        slot.ok = ok && *end == '\0';
        slot.value = v;
        hit = &slot;
    }
    if (!hit->ok) return false;
    *value = hit->value;
    return true;
}

}  // namespace

std::string option_fault(const std::string& name, const std::string& value) {
    std::string key;
    upper_key(name.c_str(), &key);
    const OptionDefault* known = nullptr;
    std::string names;
    for (const OptionDefault& o : kOptionDefaults) {
        if (key == o.name) known = &o;
        names += std::string(names.empty() ? "" : ", ") + o.name;
    }
    if (known == nullptr)  // (no name at all, as in "=80", shows as "")
        return format_message(kMsgHost, kMsgHostOptionUnknown, name.empty() ? "\"\"" : name.c_str(), names.c_str());
    if (known->hi < known->lo) return "";
    double v = 0.0;
    if (parse_number(value, &v) && v >= known->lo && v <= known->hi && v == std::floor(v)) return "";
    return format_message(kMsgHost, kMsgHostOptionValue, known->name, known->lo, known->hi, value.c_str());
}

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
