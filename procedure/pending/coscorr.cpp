// Placeholder until the moments of a BY group land: the group has no
// observations, so the driver skips estimation for it.
#include "procedure/procedure.h"

int32_t coscorr(ProcContext* ctx) {
    ctx->nObs = 0.0;
    return 0;
}
