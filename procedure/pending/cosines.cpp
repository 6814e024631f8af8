// Placeholder until the start-value estimators of equation models land: the
// start values stay as they are; cosinst fills the missing ones.
#include "procedure/procedure.h"

void cosines(ProcContext*) {}
