// The host's side of a trapped floating-point exception: the handler the
// module exports judges it, and wtresum carries the verdict back, either
// letting the interrupted computation go on or ending the step with the
// verdict as its host status.
#include "platform/control_block.h"
#include "velix/host.h"

void wtresum(int32_t trap, int32_t result) {
    HostStepBlock* step = velix::platform::control_block()->step;
    if (step != nullptr) step->trapWord = kTrapWordIdle;
    // Only a trap in hand can be resumed; a verdict without one changes nothing.
    if (trap <= 0 || result == 0) return;
    xexit(result, 0);
}
