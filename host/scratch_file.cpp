// A failed scratch-file call ends the step: the scratch file holds the
// model's element records and the optimizer's saved state, and no later
// stage can run without them.
#include "host/scratch_file.h"

#include "velix/codes.h"
#include "velix/host.h"

void scratch_check(int32_t status) {
    if (status == 0) return;
    xprrlog(0, status);
    xexit(kLevelHostFailure, 0);
}
