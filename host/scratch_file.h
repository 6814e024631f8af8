// The module's convention for scratch-file calls: the step cannot go on
// without its scratch file, so a failed call is reported with the host's
// own text and ends the step.
#pragma once

#include <cstdint>

// in: the status of a scratch-file call (xcopen, xcpoint, xcread, xcwrite,
// xcclose).  0 returns; any other status is reported (xprrlog) and ends the
// step with kLevelHostFailure.
void scratch_check(int32_t status);
