// The optimizer library's generic matrix table: a matrix or a pair of
// vectors of the caller published as one matrix table of the library's
// output manager in a single call (no data object, columns or rows).  The
// shape code selects the layout: k rows of count values, a dense or a
// packed symmetric square matrix, or the parameter (and gradient) vectors.
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "host/object_dispatch.h"
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
    KyrArg args[12];
    int32_t k = 0;
    args[k++] = kyr_text(339, kyrtxts("Orvo.NLP.%*s", 12, len, name));
    args[k++] = kyr_text(138, kyrtxt(name, len));
    args[k++] = kyr_text(296, kyrmsg(kMsgNlp, titleMessage));
    args[k++] = kyr_text(267, labelMessage != 0 ? kyrmsg(kMsgNlp, labelMessage) : nullptr);
    args[k++] = kyr_address(389, kKyrDoubles, values);
    args[k++] = kyr_int(390, rows);
    args[k++] = kyr_int(391, count);
    args[k++] = kyr_address(402, kKyrRowLabels, labels);
    if (rowLabels != nullptr) args[k++] = kyr_address(412, kKyrRowLabels, rowLabels);
    args[k++] = kyr_counted(105, storage, 2);
    args[k++] = kyr_int(280, 1);
    args[k++] = kyr_int(371, 1);
    const int32_t rc = wobmth(manager, nullptr, kKyrMethodPublishMatrix, k, args);
    const int32_t status = rc < 0 ? rc : 0;
    xprrlog(0, status);
    return status;
}
