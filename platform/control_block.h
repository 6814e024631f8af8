// The host control block of the process: the one record the module reaches
// through its first anchor, with the host's character tables, the table of
// doubles that holds the missing value, the step allocator and the per-step
// block.
#pragma once

#include "velix/host.h"

namespace velix::platform {

// The process's control block.  Its per-step block is made fresh when a
// step begins and emptied when it ends.
HostControlBlock* control_block();

// Element of HostControlBlock::doubles that holds the missing value used for
// filling.
constexpr int kMissingValueElement = 46;

}  // namespace velix::platform
