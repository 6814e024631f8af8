// The print set-up that opens every procedure step.
#pragma once

#include "velix/host.h"

// Makes the step's PrintBlock (hung in the host's per-step block), opens
// printing, stores the line sizes and sets the SYN and SEM trace flags from
// the host's DEBUG option.  A PrintBlock that cannot be allocated ends the
// step with kMemoryShortage.
void xinit();
