// Placeholder until the optimizer options are completed and checked: the
// options stay as read and no slot is installed.
#include "procedure/estimation/options.h"

int32_t cosop12(ProcContext* /*ctx*/, NlpProblem* /*nlp*/) { return 0; }
