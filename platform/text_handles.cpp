// Text handles (kyrmsg, kyrmsgs, kyrtxt, kyrtxts): texts for the entries of
// output-object methods, formatted in the host's dialect and owned by the
// step; the step's end hook frees them all at once.
#include "platform/text_handles.h"

#include <cstdarg>
#include <cstring>
#include <deque>

#include "platform/format.h"
#include "platform/messages.h"
#include "platform/session.h"
#include "velix/host.h"

namespace velix::platform {
namespace {

// A deque keeps each text in place as more come, and takes them in blocks
// rather than one allocation each: a step makes hundreds.
std::deque<HostText>& texts() {
    static std::deque<HostText> all;
    return all;
}

const StepHooks kTextHooks("text handles", nullptr, [] { texts().clear(); });

}  // namespace

HostText* make_text(std::string chars, int32_t group, int32_t number) {
    HostText& t = texts().emplace_back();
    t.chars = std::move(chars);
    t.group = group;
    t.number = number;
    return &t;
}

size_t text_count() { return texts().size(); }

void release_texts_after(size_t count) {
    if (count < texts().size()) texts().resize(count);
}

}  // namespace velix::platform

using velix::platform::make_text;

HostText* kyrmsg(int32_t group, int32_t number) {
    // The text as it stands: placeholders are only substituted by kyrmsgs.
    const char* text = velix::platform::message_text(group, number);
    return make_text(text != nullptr ? text : velix::platform::kMissingMessageText, group, number);
}

HostText* kyrmsgs(int32_t group, int32_t number, ...) {
    const char* text = velix::platform::message_text(group, number);
    if (text == nullptr) return make_text(velix::platform::kMissingMessageText, group, number);
    va_list args;
    va_start(args, number);
    std::string s = velix::platform::vformat_host(text, -1, args);
    va_end(args);
    return make_text(std::move(s), group, number);
}

HostText* kyrtxt(const char* text, int32_t length) {
    if (text == nullptr) return make_text("");
    const size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    return make_text(std::string(text, n));
}

HostText* kyrtxts(const char* format, int32_t length, ...) {
    va_list args;
    va_start(args, length);
    std::string s = velix::platform::vformat_host(format, length, args);
    va_end(args);
    return make_text(std::move(s));
}

const char* kyrtext_chars(const HostText* text, int32_t* length) {
    if (text == nullptr) {
        if (length != nullptr) *length = 0;
        return "";
    }
    if (length != nullptr) *length = static_cast<int32_t>(text->chars.size());
    return text->chars.c_str();
}
