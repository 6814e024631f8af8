// Text handles of the output services: a text and, when it was made from a
// numbered message, the message's group and number.  Handles live until the
// end of the step that made them.
#pragma once

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

}  // namespace velix::platform
