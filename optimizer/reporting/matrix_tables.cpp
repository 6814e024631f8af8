// The optimizer library's generic matrix table: a matrix or a pair of
// vectors of the caller published as one matrix table of the library's
// output manager in a single call (no data object, columns or rows).  The
// shape code selects the layout: k rows of count values, a dense or a
// packed symmetric square matrix, or the parameter (and gradient) vectors.
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "host/output_table.h"
#include "optimizer/reporting/reporting.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

// "X" and the number i (from 1) for every column, also beyond the first
// thousand, so that a wide table is never labelled in part.
std::vector<NameRecord> generated_labels(int32_t count) {
    std::vector<NameRecord> labels(static_cast<size_t>(count > 0 ? count : 1));
    for (int32_t i = 0; i < count; ++i) {
        NameRecord& r = labels[static_cast<size_t>(i)];
        std::memset(r.text, ' ', sizeof r.text);
        r.length = static_cast<int16_t>(znamfix(0, "X       ", 8, i + 1, 0, r.text, 16));
    }
    return labels;
}

NameRecord fixed_label(const char* text) {
    NameRecord r;
    std::memset(r.text, ' ', sizeof r.text);
    const size_t len = std::strlen(text);
    std::memcpy(r.text, text, len);
    r.length = static_cast<int16_t>(len);
    return r;
}

}  // namespace

int32_t znlppmt(HostObject* manager, const char* name, int32_t shape, int32_t count, const double* values,
                const NameRecord* labels, int32_t labelMessage, int32_t titleMessage) {
    if (shape < -3) return 0;
    std::vector<NameRecord> generated;
    if (labels == nullptr) {
        generated = generated_labels(count);
        labels = generated.data();
    }
    static const NameRecord kRowLabels[2] = {fixed_label("Parms"), fixed_label("Grad")};
    const int32_t len = wzstlen(name);
    int32_t rows = count;
    const char* storage = "sb";
    const NameRecord* rowLabels = labels;
    if (shape >= 1) {
        rows = shape;
        storage = "rb";
        rowLabels = nullptr;
    } else if (shape == -1) {
        storage = "db";
    } else if (shape == -2 || shape == -3) {
        rows = shape == -2 ? 2 : 1;
        storage = "rb";
        rowLabels = kRowLabels;
    }
    MatrixTable m;
    m.templatePath = kyrtxts("Orvo.NLP.%*s", 12, len, name);
    m.name = kyrtxt(name, len);
    m.title = kyrmsg(kMsgNlp, titleMessage);
    m.description = labelMessage != 0 ? kyrmsg(kMsgNlp, labelMessage) : nullptr;
    m.values = values;
    m.rows = rows;
    m.columns = count;
    m.columnLabels = labels;
    m.rowLabels = rowLabels;
    m.storage = storage;
    m.labelStyle = -1;
    m.listingSwitches = true;
    const int32_t rc = kyr_publish_matrix(manager, m);
    return rc < 0 ? rc : 0;
}
