// Scratch (utility) files of the host: growable in-memory byte files of
// fixed-size pages, positioned by byte.  Every file a step opens is freed when the step ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velix/host.h"

// Failure statuses of the scratch-file services (xprrlog knows their texts).
constexpr int32_t kScratchBadHandle = -101;   // 0, closed or unknown file
constexpr int32_t kScratchPastEnd = -102;     // a read beyond the end of the file
constexpr int32_t kScratchBadPosition = -103; // a negative position or byte count
constexpr int32_t kScratchNoMemory = -104;    // the file cannot grow
constexpr int32_t kScratchInjected = -105;    // a failure injected by a test

namespace velix::platform {

// The Nth scratch-file operation from now (any of open, point, read, write,
// close) fails with kScratchInjected; n <= 0 disarms.  Disarmed when a step
// ends.
void fail_nth_scratch_operation(int n);

// Files open now, the bytes they hold and the memory their pages take.
struct ScratchCounts {
    size_t files = 0;
    size_t bytes = 0;
    size_t held = 0;
};
ScratchCounts scratch_counts();

}  // namespace velix::platform
