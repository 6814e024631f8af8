// Text handles of the output services: a text and, when it was made from a
// numbered message, the message's group and number.  Handles live until the
// end of the step that made them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct HostText {
    std::string chars;
    int32_t group = 0;   // 0: not a numbered message
    int32_t number = 0;
};

namespace velix::platform {

// A new handle owned by the step.
HostText* make_text(std::string chars, int32_t group = 0, int32_t number = 0);

// How many handles the step has made, and the freeing of those made after
// the first `count` of them (what a finished BY group made).
size_t text_count();
void release_texts_after(size_t count);

}  // namespace velix::platform
