// The technique routines of the driver's dispatch table by dispatch name.
// The table lives with the techniques, so that the core finds a technique
// through znlp_dispatch_slot (optimizer/core/core.h) without including
// them; a slot may be given znlp_technique_pending, which reports the
// technique as not available.
#include <cstring>

#include "optimizer/core/core.h"
#include "optimizer/techniques/techniques.h"

namespace {

struct DispatchEntry {
    const char* name;
    NlpTechniqueFn fn;
};

DispatchEntry gDispatch[] = {
    {"znlptre", znlptre}, {"znlpnra", znlpnra},
    {"znlpnrr", znlpnrr}, {"znlpnrl", znlpnrl},
    {"znlpgan", znlpgan}, {"znlplma", znlplma},
    {"znlpddl", znlpddl}, {"znlpqun", znlpqun},
    {"znlpdq2", znlpdq2}, {"znlpdqn", znlpdqn},
    {"znlphqn", znlphqn}, {"znlpcog", znlpcog},
    {"znlpcob", znlpcob}, {"znlpnms", znlpnms},
    {"znlpnm2", znlpnm2}, {"znlpqar", znlpqar},
    {"znlpqas", znlpqas}, {"znlpvmc", znlpvmc},
};

}  // namespace

NlpTechniqueFn* znlp_dispatch_slot(const char* routineName) {
    for (DispatchEntry& e : gDispatch)
        if (routineName != nullptr && std::strcmp(e.name, routineName) == 0) return &e.fn;
    return nullptr;
}
