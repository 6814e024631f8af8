// Placeholder until the OUTRAM= writer lands.
#include "procedure/procedure.h"

void cosoram(ProcContext* /*ctx*/, int32_t /*first*/) {}
