// Placeholder until the optimizer state is saved between BY groups: there is
// no state to save yet.
#include "procedure/procedure.h"

void cosxinp(ProcContext* /*ctx*/, int32_t /*mode*/) {}
