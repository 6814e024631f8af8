// Placeholder until the constraints are assembled: the problem keeps no
// bounds, linear or nonlinear constraints.
#include "procedure/estimation/options.h"

void cosop21(ProcContext* /*ctx*/, NlpProblem* /*nlp*/, HostFile* /*file*/) {}
