// Numbered messages and printf-style lines: the catalogue lookup and the
// services that put messages and formatted lines on the log and the listing.
// Numbered messages of the log are also recorded, with their group and
// number, in the run's output document.
#include "platform/messages.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <string>
#include <utility>

#include <strings.h>

#include "platform/format.h"
#include "platform/output.h"
#include "platform/output_document.h"
#include "platform/print.h"
#include "platform/session.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

namespace velix::platform {
namespace {

// The message of the host's text for a failure status of its own
// services, 0 when it has none.
int32_t status_message(int32_t status) {
    switch (static_cast<uint32_t>(status)) {
        case 0x80008001u: return kMsgHostNoSuchMethod;
        case static_cast<uint32_t>(kKyrWrongOrder): return kMsgHostCalledOutOfOrder;
        case static_cast<uint32_t>(kKyrBadArgument): return kMsgHostMalformedEntry;
        case static_cast<uint32_t>(kKyrClosed): return kMsgHostUsedAfterClose;
        case 0x80000803u: return kMsgHostNoAllocation;
        default: return 0;
    }
}

// A message formatted with its arguments, or the line that says it is
// missing.
std::string vformat_message(int32_t group, int32_t number, va_list args) {
    const char* t = message_text(group, number);
    if (t == nullptr) return format_host(message_text(kMsgHost, kMsgHostMissingMessage), group, number);
    return vformat_host(t, -1, args);
}

}  // namespace

std::string source_excerpt(int32_t line, int32_t column) {
    const std::string& src = session().stepSource;
    size_t b = 0;
    for (int32_t l = 1; l < line && b != std::string::npos; ++l) {
        b = src.find('\n', b);
        if (b != std::string::npos) ++b;
    }
    std::string text;
    if (b != std::string::npos) {
        const size_t e = src.find('\n', b);
        text = src.substr(b, e == std::string::npos ? std::string::npos : e - b);
    }
    if (column <= 0) return text;
    std::string caret;
    for (int32_t k = 1; k < column && k <= static_cast<int32_t>(text.size()); ++k)
        caret.push_back(text[k - 1] == '\t' ? '\t' : ' ');
    return text + "\n" + caret + "^";
}

// The catalogue is kept sorted by group and number, each pair once: a
// binary search finds a row without an index built at start-up.
const char* message_text(int32_t group, int32_t number) {
    const MessageRow* end = kMessageCatalogue + kMessageCatalogueSize;
    const MessageRow* row = std::lower_bound(kMessageCatalogue, end, std::make_pair(group, number),
                                             [](const MessageRow& r, const std::pair<int32_t, int32_t>& key) {
                                                 return std::make_pair(r.group, r.number) < key;
                                             });
    return row != end && row->group == group && row->number == number ? row->text : nullptr;
}

std::string format_message(int32_t group, int32_t number, ...) {
    va_list args;
    va_start(args, number);
    std::string line = vformat_message(group, number, args);
    va_end(args);
    return line;
}

}  // namespace velix::platform

using namespace velix::platform;

int32_t wkread(int32_t group, int32_t number, const char** text, int32_t* length) {
    const char* t = message_text(group, number);
    if (text != nullptr) *text = t != nullptr ? t : "";
    if (length != nullptr) *length = t != nullptr ? static_cast<int32_t>(std::strlen(t)) : 0;
    return t != nullptr ? 0 : 1;
}

void xpmlog(int32_t group, int32_t number, ...) {
    va_list args;
    va_start(args, number);
    const std::string line = vformat_message(group, number, args);
    va_end(args);
    write_log(line, group, number);
}

namespace {

bool word_character(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The 1-based column of the first occurrence of `name` as a word in `text`
// (case ignored), 0 when there is none.
int32_t word_column(const std::string& text, const std::string& name) {
    if (name.empty()) return 0;
    for (size_t at = 0; at + name.size() <= text.size(); ++at) {
        if (strncasecmp(text.c_str() + at, name.c_str(), name.size()) != 0) continue;
        const bool startsWord = at == 0 || !word_character(text[at - 1]);
        const size_t end = at + name.size();
        if (startsWord && (end == text.size() || !word_character(text[end]))) return static_cast<int32_t>(at + 1);
    }
    return 0;
}

}  // namespace

void xpmplacecol(int32_t line, int32_t column) {
    if (line <= 0) return;
    const int32_t programLine = line + session().stepSourceLine - 1;
    if (column > 0)
        write_log(format_host("  at line %i, column %i:", programLine, column));
    else
        write_log(format_host("  at line %i:", programLine));
    write_log(source_excerpt(line, std::max(column, 0)));
}

void xpmplace(int32_t line, const char* name) {
    if (line <= 0) return;
    xpmplacecol(line, name != nullptr ? word_column(source_excerpt(line, 0), name) : 0);
}

void xpslog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string s = vformat_host(format, -1, args);
    va_end(args);
    write_log(s);
}

void xpsout(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string s = vformat_host(format, -1, args);
    va_end(args);
    write_listing(s);
}

int32_t xpsstr(char* buffer, int32_t length, const char* format, ...) {
    if (buffer == nullptr || length <= 0) return 0;
    va_list args;
    va_start(args, format);
    const std::string s = vformat_host(format, -1, args);
    va_end(args);
    const size_t n = std::min(s.size(), static_cast<size_t>(length));
    std::memcpy(buffer, s.data(), n);
    if (n < static_cast<size_t>(length)) buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

int32_t xpmstr(char* buffer, int32_t width, int32_t group, int32_t number) {
    if (buffer == nullptr) return 0;
    const char* t = message_text(group, number);
    if (t == nullptr) t = kMissingMessageText;
    const size_t len = std::strlen(t);
    if (width >= 0) {
        const size_t n = std::min(len, static_cast<size_t>(width));
        std::memcpy(buffer, t, n);
        std::memset(buffer + n, ' ', static_cast<size_t>(width) - n);
        return static_cast<int32_t>(n);
    }
    // -1-n: a field of n characters ended by a NUL.
    const size_t field = static_cast<size_t>(-1 - static_cast<int64_t>(width));
    const size_t n = std::min(len, field);
    std::memcpy(buffer, t, n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

void xprrlog(int32_t zero, int32_t status) {
    if (status == 0) return;  // callers pass every result through, successes too
    const int32_t why = status_message(status);
    if (why != 0)
        write_log(format_message(kMsgHost, kMsgHostServiceFailed, message_text(kMsgHost, why),
                                 static_cast<uint32_t>(status)));
    else
        write_log(format_message(kMsgHost, kMsgHostServiceFailedStatus, status, static_cast<uint32_t>(status)));
}

void xebug(const char* text, int32_t code) {
    if (code != 0)
        write_log(format_message(kMsgHost, kMsgHostInternalErrorCode, text != nullptr ? text : "", code));
    else
        write_log(format_message(kMsgHost, kMsgHostInternalError, text != nullptr ? text : ""));
}
