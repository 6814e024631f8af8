// A stop the user asked for ends the step through the host's exit, as any
// other fault that ends it does: the step's memory and scratch files go
// with it, and the host keeps the earlier outputs.
#include "host/interrupt.h"

#include "velix/codes.h"
#include "velix/host.h"

void stop_if_interrupted() {
    if (xattn() != 0) xexit(kLevelInterrupted, 0);
}
