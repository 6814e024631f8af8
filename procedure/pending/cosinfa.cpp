// Placeholder until the factor-analytic start values land: the start values
// stay as they are; cosinst fills the missing ones.
#include "procedure/procedure.h"

void cosinfa(ProcContext*) {}
