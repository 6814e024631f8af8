// BY-group synchronisation: an auxiliary input (INRAM=, INWGT=, INEST=) is
// matched group by group with DATA= by the host, which compares the BY
// values of the two current groups; the module only reports and decides.
#include "host/by_sync.h"

#include <string>

#include "host/fields.h"
#include "host/internal_error.h"
#include "velix/host_dataset.h"
#include "velix/messages.h"

namespace {

struct Described {
    std::string name;
    DataSetLabel label;
};

Described describe(HostDataSet* dataSet) {
    Described d;
    char name[8];
    vzB8(name);
    if (xoinfo(dataSet, kInfoName, name) != 0) vzB8(name);
    d.name.assign(name, static_cast<size_t>(wzstrip(name, 8)));
    if (xoinfo(dataSet, kInfoLabel, &d.label) != 0 || d.label.length < 0 ||
        d.label.length > static_cast<int16_t>(sizeof d.label.text))
        d.label.length = 0;
    return d;
}

}  // namespace

int32_t zbysync(HostDataSet* first, HostDataSet* second, int32_t mode) {
    if (first == nullptr || second == nullptr) return 0;
    if (mode == 1 || mode == 2) {
        xbyrwnd(second, kRewindFile);
        return 0;
    }
    if (mode != 0) {
        internal_error("zbysync: invalid listrc");
    }
    const int32_t r = xbysync(first, second);
    if (r == 0) return 0;
    if (r == 1) {
        const Described a = describe(first), b = describe(second);
        xpmlog(kMsgSync, kMsgSyncMismatch, a.name.c_str(), static_cast<int32_t>(a.label.length),
               a.label.text, b.name.c_str(), static_cast<int32_t>(b.label.length), b.label.text);
        return 1;
    }
    if (r == 2) xexit(kLevelBadVariables, 0);
    internal_error("zbysync: invalid return code from xbysync");
}
