// Placeholders until the equality and boundary tests land.
#include "procedure/procedure.h"

void cosmod2(ProcContext* /*ctx*/) {}

