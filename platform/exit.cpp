// xexit: ends the step with a return code by unwinding to the step runner.
#include "platform/step_exit.h"
#include "velix/host.h"

void xexit(int32_t code, int32_t /*zero*/) { throw velix::platform::StepExit{code}; }
