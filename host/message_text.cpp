// Message texts, the saved-message pool and debug keywords.
//
// Texts live in the host's message file, keyed by (group, number); the
// module fetches them into fixed fields or into a per-step arena (the pool)
// that is emptied after each BY group.  A text that cannot be had is never
// fatal: it becomes a fallback text of question marks.
#include "host/message_text.h"

#include <cstring>
#include <string>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "velix/host.h"

namespace {

// Allocation tags of the saved-message texts and of step-lived blocks.
constexpr int32_t kPoolTag = 4096;
constexpr int32_t kStepTag = 4102;
// The host's debug option text (item of xyrcgef) and its buffer size.
constexpr int32_t kDebugOptionItem = 4142;
constexpr int32_t kDebugBufferSize = 1024;
// Print option that makes the log show the traces.
constexpr int32_t kPrintOptionTrace = 28;

constexpr char kMissingText[] = "????";
constexpr char kMissingItems[] = "/?/?/?/?/";

HostStepBlock* step_block() {
    HostControlBlock* gcb = v_global_gcb_anchor;
    return gcb != nullptr ? gcb->step : nullptr;
}

HostAllocator* message_pool() {
    HostStepBlock* step = step_block();
    return step != nullptr ? step->messagePool : nullptr;
}

// Makes the pool when the step has none; 0 when it cannot be had.
HostAllocator* ensure_pool() {
    HostStepBlock* step = step_block();
    if (step == nullptr) return nullptr;
    if (step->messagePool == nullptr) step->messagePool = zprlzmi(0, -1);
    return step->messagePool;
}

void memory_report() { xmemmsg(static_cast<int64_t>(xmemdef(nullptr)) + 20000); }

// The fallback text shaped to the field the caller asked for, so that a
// reader of `field` characters (or up to the NUL) stays inside it.  It is
// taken from the step allocator, so it lives for the step like a saved text
// does and stays valid when further fallbacks are made; without memory, a
// static field of blanks serves (up to its size).
const char* fallback_field(int32_t field, bool terminated) {
    static char spare[1024 + 1];
    const int32_t width = terminated || field < 4 ? 4 : field;
    HostControlBlock* gcb = v_global_gcb_anchor;
    char* text = gcb != nullptr && gcb->stepAllocator != nullptr
                     ? static_cast<char*>(vmalcp_handler(gcb->stepAllocator, static_cast<size_t>(width) + 1, kStepTag))
                     : nullptr;
    int32_t size = width;
    if (text == nullptr) {
        text = spare;
        size = width < 1024 ? width : 1024;
    }
    wzstmov(kMissingText, 4, text, size);
    text[size] = '\0';
    return text;
}

// The host's report of an inconsistent message file, then the detail line.
void report_message_file(int32_t group, int32_t number, const char* text, int32_t length) {
    const std::string copy(text, static_cast<size_t>(length));
    char line[512];
    xpsstr(line, sizeof line, "error in message file: group=%i message=%i length=%i; %s", group,
           number, length, copy.c_str());
    xebug(line, 0);
}

}  // namespace

const char* zmsgsav(int32_t group, int32_t number, char* buffer, int32_t size) {
    if (group == -1) {
        HostStepBlock* step = step_block();
        HostAllocator* pool = step != nullptr ? zprlzmi(0, number) : nullptr;
        if (pool == nullptr) {
            memory_report();
            return fallback_field(0, true);
        }
        step->messagePool = pool;
        return reinterpret_cast<const char*>(pool);
    }
    if (group == 0) {
        if (HostAllocator* pool = message_pool()) zprlzmr(pool, 0, 0, 7168);
        return nullptr;
    }
    if (group < 0) {
        HostStepBlock* step = step_block();
        if (group == -2 && step != nullptr && step->messagePool != nullptr) {
            zprlzme(step->messagePool);
            step->messagePool = nullptr;
        }
        return nullptr;
    }

    //   fetch; size the field; report and cut an over-long text;
    //   move it into the buffer or into a block of the pool
    const char* text = nullptr;
    int32_t length = 0;
    if (wkread(group, number, &text, &length) != 0 || text == nullptr || length < 0) {
        text = kMissingText;
        length = 4;
    }
    const bool terminated = size <= 0;
    const int32_t field = size > 0 ? size : (size == 0 ? length : -1 - size);
    if (length > field) {
        report_message_file(group, number, text, length);
        xpslog("message length exceeds maximum allowed length of %i.", field);
    }
    char* target = buffer;
    if (target == nullptr) {
        HostAllocator* pool = ensure_pool();
        const size_t bytes = static_cast<size_t>(field) + (terminated ? 1 : 0);
        target = pool != nullptr ? static_cast<char*>(vmalcp_handler(pool, bytes, kPoolTag)) : nullptr;
        if (target == nullptr) {
            xpslog("%1zOut of memory in zmsgsav for group=%i message=%i msglen=%i len=%i.", group,
                   number, length, field);
            memory_report();
            return fallback_field(field, terminated);
        }
    }
    wzstmov(text, length, target, terminated ? -1 - field : field);
    return target;
}

char* zmsgtxa(int32_t group, int32_t number, char* buffer, int32_t itemLength, int32_t count) {
    const char* text = nullptr;
    int32_t length = 0;
    if (wkread(group, number, &text, &length) != 0 || text == nullptr || length < 0) {
        text = kMissingItems;
        length = static_cast<int32_t>(sizeof kMissingItems - 1);
    }
    if (itemLength < 0 || count < 0) return nullptr;
    char* target = buffer;
    if (target == nullptr) {
        HostAllocator* pool = ensure_pool();
        const size_t bytes = static_cast<size_t>(itemLength) * static_cast<size_t>(count);
        target = pool != nullptr ? static_cast<char*>(vmalcp_handler(pool, bytes, kPoolTag)) : nullptr;
        if (target == nullptr) return nullptr;
    }
    // Fields without a piece stay blank rather than holding stale bytes.
    vzBL(target, itemLength * count);

    int32_t position = 0, found = 0, pieceLength = 0;
    const char* piece = nullptr;
    while (ztxnext(text, length, &position, "/", kSkipEmptyPieces, &piece, &pieceLength) != 0) {
        ++found;
        if (found > count) continue;
        if (pieceLength > itemLength) {
            report_message_file(group, number, text, length);
            xpslog("length of substring %i is %i which exceeds maximum allowed length of %i.", found,
                   pieceLength, itemLength);
        }
        wzstmov(piece, pieceLength, target + static_cast<size_t>(found - 1) * itemLength, itemLength);
    }
    if (found != count) {
        report_message_file(group, number, text, length);
        xpslog("found %i strings when exactly %i were required.", found, count);
    }
    return target;
}

int32_t zmsgext(int32_t value) { return value; }

int32_t ztxnext(const char* text, int32_t length, int32_t* position, const char* separators,
                int32_t flags, const char** piece, int32_t* pieceLength) {
    if (text == nullptr) return 0;
    if (length < 0) length = static_cast<int32_t>(std::strlen(text));
    while (*position <= length) {
        const int32_t start = *position;
        int32_t end = start;
        while (end < length && std::strchr(separators, text[end]) == nullptr) ++end;
        // A piece ended by the end of the text leaves the cursor past it.
        *position = end + 1;
        if (end == start && (flags & kSkipEmptyPieces) != 0) continue;
        *piece = text + start;
        *pieceLength = end - start;
        return 1;
    }
    return 0;
}

int32_t zbugi(const char* keyword) {
    //   fetch the DEBUG text; drop "-" and blanks from the keyword;
    //   for each word: compare case-blind, "*" matches the rest;
    //   a match ends at a non-name character; "=n" gives n
    char option[kDebugBufferSize + 1] = {};
    const int32_t optionLength = xyrcgef(kDebugOptionItem, option);
    if (optionLength <= 0 || keyword == nullptr) return 0;
    const int32_t n = optionLength < kDebugBufferSize ? optionLength : kDebugBufferSize;

    if (*keyword == '-') ++keyword;
    while (*keyword == ' ') ++keyword;
    if (*keyword == '\0') return 0;

    const HostControlBlock* gcb = v_global_gcb_anchor;
    auto is_white = [&](unsigned char c) {
        return gcb != nullptr && gcb->charClass != nullptr ? (gcb->charClass[c] & kCharWhite) != 0
                                                           : (c == ' ' || (c >= '\t' && c <= '\r'));
    };
    auto is_name_char = [&](unsigned char c) {
        if (c == '_') return true;
        return gcb != nullptr && gcb->charClass != nullptr
                   ? (gcb->charClass[c] & kCharAlnum) != 0
                   : ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    };
    auto upper = [](char c) {
        char u = c;
        wztxxlt(2, &c, &u, 1);
        return u;
    };

    int32_t result = 0;
    int32_t i = 0;
    // The first word that matches decides, also when it gives "=0".
    bool decided = false;
    while (i < n && !decided) {
        while (i < n && is_white(static_cast<unsigned char>(option[i]))) ++i;
        if (i >= n) break;
        const char* k = keyword;
        int32_t j = i;
        bool matched = false;
        for (;;) {
            if (j < n && option[j] == '*') {
                matched = true;
                ++j;
                break;
            }
            if (*k == '\0') {
                matched = j >= n || !is_name_char(static_cast<unsigned char>(option[j]));
                break;
            }
            if (j >= n || upper(option[j]) != upper(*k)) break;
            ++j;
            ++k;
        }
        if (matched) {
            decided = true;
            result = 1;
            if (j < n && option[j] == '=') {
                ++j;
                bool negative = false;
                if (j < n && (option[j] == '-' || option[j] == '+')) negative = option[j++] == '-';
                int64_t value = 0;
                while (j < n && option[j] >= '0' && option[j] <= '9' && value < 0x7fffffff)
                    value = value * 10 + (option[j++] - '0');
                if (value > 0x7fffffff) value = 0x7fffffff;
                result = static_cast<int32_t>(negative ? -value : value);
            }
        }
        // Move on to the next word.
        while (i < n && !is_white(static_cast<unsigned char>(option[i]))) ++i;
    }
    if (result != 0) {
        xpselec(0, -1);
        xpopset(0, kPrintOptionTrace, 1);
        xpselec(0, 0);
    }
    return result;
}
