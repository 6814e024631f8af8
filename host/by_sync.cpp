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

// A data set as message 153/5 names it: its whole name as the program gave
// it, and its label in parentheses after a blank when it has one, so that
// neither is cut and the label does not read as part of the name.
struct Described {
    std::string name;
    std::string label;
};

std::string label_text(HostDataSet* dataSet, int32_t kind) {
    DataSetLabel label;
    if (xoinfo(dataSet, kind, &label) != 0 || label.length <= 0 ||
        label.length > static_cast<int16_t>(sizeof label.text))
        return "";
    return std::string(label.text, static_cast<size_t>(label.length));
}

Described describe(HostDataSet* dataSet) {
    Described d;
    d.name = label_text(dataSet, kInfoFullName);
    if (const std::string label = label_text(dataSet, kInfoLabel); !label.empty()) d.label = " (" + label + ")";
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
        xpmlog(kMsgSync, kMsgSyncMismatch, a.name.c_str(), a.label.c_str(), b.name.c_str(), b.label.c_str());
        return 1;
    }
    if (r == 2) xexit(kLevelBadVariables, 0);
    internal_error("zbysync: invalid return code from xbysync");
}
