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

// A data set as message 153/5 names it: its name, and its label after a
// blank when it has one (the message puts nothing between the two, so that
// a data set without a label leaves no second blank).
struct Described {
    std::string name;
    std::string label;
};

Described describe(HostDataSet* dataSet) {
    Described d;
    char name[8];
    vzB8(name);
    if (xoinfo(dataSet, kInfoName, name) != 0) vzB8(name);
    d.name.assign(name, static_cast<size_t>(wzstrip(name, 8)));
    DataSetLabel label;
    if (xoinfo(dataSet, kInfoLabel, &label) == 0 && label.length > 0 &&
        label.length <= static_cast<int16_t>(sizeof label.text))
        d.label = " " + std::string(label.text, static_cast<size_t>(label.length));
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
        xpmlog(kMsgSync, kMsgSyncMismatch, a.name.c_str(), static_cast<int32_t>(a.label.size()),
               a.label.c_str(), b.name.c_str(), static_cast<int32_t>(b.label.size()), b.label.c_str());
        return 1;
    }
    if (r == 2) xexit(kLevelBadVariables, 0);
    internal_error("zbysync: invalid return code from xbysync");
}
