// The step exit: xexit unwinds the step by throwing this, and only the
// step runner catches it.  It never crosses a callback boundary inside the
// module except on its way out of the whole step.
#pragma once

#include <cstdint>

namespace velix::platform {

struct StepExit {
    int32_t code = 0;  // the step's return code
};

}  // namespace velix::platform
