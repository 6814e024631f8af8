// The host's message file: one catalogue of numbered message texts by
// (group, number), and the services that log, print and fetch them.  Groups:
// 352 the procedure, 549 the optimizer library, 153 BY-group
// synchronisation, 230 the moment matrix reader, 100 the host's own lines
// (platform/ and the step runner).  A text that is logged
// starts with its severity ("ERROR: ", "WARNING: ", "NOTE: "); titles and
// labels have none.  Placeholders are in the host's format dialect
// (platform/format.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velix::platform {

struct MessageRow {
    int32_t group;
    int32_t number;
    const char* text;
};

// The catalogue (message_catalogue.cpp), sorted by group, then number.
extern const MessageRow kMessageCatalogue[];
extern const size_t kMessageCatalogueSize;

// The text of a message, or 0 when the catalogue has none.
const char* message_text(int32_t group, int32_t number);

// The text of a message formatted with the arguments its placeholders take
// (a std::string goes as its c_str()); for a message missing from the
// catalogue, the line that says so.  The host's own lines are built with it
// and go wherever their caller writes them.
std::string format_message(int32_t group, int32_t number, ...);

// Line `line` (1-based) of the current step's text and, when column is
// positive, a second line with a caret under that column (tabs kept, so
// the caret lines up).
std::string source_excerpt(int32_t line, int32_t column);

// What a text handle of a message without a text holds.
inline constexpr const char* kMissingMessageText = "????";

}  // namespace velix::platform
