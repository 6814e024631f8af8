// Placeholder until the estimation lands: it says in the log that no
// estimation ran, so a step that asked for a method never passes for a
// fit, and reports that no usable solution was produced, so nothing that
// needs one runs after it.
#include "procedure/procedure.h"

int32_t cosmini(ProcContext* /*ctx*/) {
    xpslog("WARNING: Parameter estimation is not available in this version: the model and "
           "the moments were built, but no parameters were estimated.");
    return 1;
}
