// The data tables and note lines of the optimizer's reports (see
// report_table.h), over the output-table toolkit.
#include "optimizer/reporting/report_table.h"

#include <cstring>
#include <string>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace velix::report {

int32_t number_digits(int32_t count) { return count <= 998 ? 3 : count <= 9998 ? 4 : 5; }

OutputTable report_table(HostObject* manager, const char* name, int32_t title) {
    return OutputTable(manager, name, kyrmsg(kMsgNlp, title), std::string("Orvo.NLP.") + name);
}

bool centred_note(HostObject* manager, HostText* text, int32_t level) {
    return !kyr_failed(kyr_note(manager, text, 'c', level));
}

void parameter_label(const NlpProblem* p, int32_t i, char* out, int32_t width) {
    std::memset(out, ' ', static_cast<size_t>(width));
    out[width] = '\0';
    if (p->paramNameWidth > 0 && p->paramNames != nullptr) {
        const NameRecord& r = p->paramNames[i];
        const int32_t len = r.length < width ? r.length : width;
        std::memcpy(out, r.text, static_cast<size_t>(len));
    } else {
        znamfix(0, "X       ", 8, i + 1, 0, out, width < 8 ? width : 8);
    }
}

double shown(const NlpProblem* p, double v) { return p->maximize != 0 && !wzmis(v) ? -v : v; }

}  // namespace velix::report
