// BY-group synchronisation of an auxiliary input data set with DATA=.
#pragma once

#include <cstdint>

#include "velix/host.h"

struct HostDataSet;

// Keeps `second` on the BY group `first` (DATA=) is on (mode 0), or rewinds
// it for another pass (modes 1 and 2).  Result 0 in step or nothing to do
// (either handle 0), 1 when the groups differ (reported with message 153/5).
// A fatal mismatch ends the step with kLevelBadVariables; an invalid mode or host result
// is an internal error (kLevelInternal).
int32_t zbysync(HostDataSet* first, HostDataSet* second, int32_t mode);
