// The module's safe points for a stop the user asked for (an interrupt or
// termination signal that the host noted): the step ends there, with
// nothing half done that a later stage would read.
#pragma once

// Ends the step with kLevelInterrupted when the host reports that the user
// asked the run to stop (xattn); returns otherwise.
void stop_if_interrupted();
