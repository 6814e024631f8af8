// The module's two anchors: the host control block and the host's second
// block, stored once by the module entry for the life of the module.
#include "velix/host.h"

HostControlBlock* v_global_gcb_anchor = nullptr;
void* v_global_pidb_anchor = nullptr;
