// Installation of host components by id and module name.  This host has one
// installable component, the statement compiler of the procedure.
#include <cstring>

#include "velix/host.h"

namespace {

// The statement compiler: its id and its 8-character module name.
constexpr int32_t kStatementCompilerId = 458891;
constexpr char kStatementCompilerName[] = "ZAVCMPA ";
// Status of a request for a component the host does not have.
constexpr int32_t kUnknownComponent = -201;

}  // namespace

int32_t wiinstl(int32_t id, const char* name8, int32_t /*one*/) {
    if (id == kStatementCompilerId && name8 != nullptr && std::memcmp(name8, kStatementCompilerName, 8) == 0)
        return 0;
    return kUnknownComponent;
}
