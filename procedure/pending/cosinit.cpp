// Placeholder until the statements are read: no model, no data, and no
// method, so the step runs its set-up and ends cleanly.
#include "procedure/procedure.h"

void cosinit(ProcContext* ctx) { ctx->methodRequested = kMethodNone; }
