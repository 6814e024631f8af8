// Element patterns: patwrt turns the dense pattern of one model matrix (a
// name and a value per position) into PatternRecords on the scratch file,
// counts the elements, and narrows the declared matrix type to the shape
// the written positions actually have (diagonal, shifted diagonal, lower or
// upper triangle), so that the evaluation code can use the cheaper kernels.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/fields.h"
#include "host/scratch_file.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"

namespace {

void write_record(const StepView& sv, int32_t row, int32_t col, const NameRecord& name, double value) {
    PatternRecord r;
    r.row = row;
    r.column = col;
    r.nameLength = name.length;
    std::memset(r.name, ' ', sizeof r.name);
    if (name.length > 0) std::memcpy(r.name, name.text, std::min<size_t>(32, sizeof name.text));
    r.value = value;
    scratch_check(xcwrite(sv.files->scratchFile, &r, sizeof r));
}

}  // namespace

int32_t patwrt(char* text80, ProcContext* ctx, int32_t k, const NameRecord* names, const double* values) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    int32_t rows = mt.rows[k], cols = mt.columns[k];
    if (sv.readers->lineqsModel && (k == 2 || k == 3)) {
        const int32_t e = mt.rows[4];
        rows -= e;
        if (k == 2) cols -= e;
    }
    mt.firstElement[k] = sv.sizes->nElements;
    bool diag = true, shifted = true, lower = true, upper = true, constant = true;
    const int32_t shift = cols - rows;
    const int16_t t0 = mt.type[k];
    const bool sym = t0 == kMatSymmetric || t0 == kMatPosDefinit;
    for (int32_t i = 0; i < rows; ++i) {
        for (int32_t j = 0; j < cols; ++j) {
            const NameRecord& n = names[static_cast<size_t>(i) * cols + j];
            const double v = values[static_cast<size_t>(i) * cols + j];
            const bool named = n.length > 0;
            if (!named && !wzmis(v) && v == 0.0) continue;
            if (named) {
                ++sv.readers->nNamedPositions;
                constant = false;
            }
            diag &= i == j;
            shifted &= j - i == shift;
            lower &= !(i < j);
            upper &= !(i > j);
            ++sv.sizes->nElements;
            if (sym && i < j)
                write_record(sv, j, i, n, v);
            else
                write_record(sv, i, j, n, v);
        }
    }

    // Type correction.
    int16_t& t = mt.type[k];
    const int16_t f = mt.form[k];
    int32_t text = 0;
    if ((t == kMatDiagonal && !diag) || (t == kMatZerDiagonal && !shifted) || (t == kMatLower && !lower) ||
        (t == kMatUpper && !upper)) {
        t = kMatGeneral;
        text = 159;
        velix::detail::type_change_note(sv.ctx, k, text, text80);
    }
    const bool fixedShape = t == kMatDiagonal || t == kMatEqsBeta || t == kMatEqsGamma || t == kMatBeta;
    if (diag && f != kFormIMinusInverse && !fixedShape) {
        t = kMatDiagonal;
        text = 154;
        velix::detail::type_change_note(sv.ctx, k, text, text80);
    } else if (shifted && f != kFormIMinusInverse && !fixedShape && t != kMatZerDiagonal) {
        t = kMatZerDiagonal;
        text = 155;
        velix::detail::type_change_note(sv.ctx, k, text, text80);
    } else if (t == kMatGeneral) {
        int32_t last = 0;
        if (lower) {
            t = kMatLower;
            last = 156;
        } else if (upper) {
            t = kMatUpper;
            last = 157;
        }
        if (f != kFormIMinusInverse) {
            if (diag) {
                t = kMatDiagonal;
                last = 154;
            } else if (shifted) {
                t = kMatZerDiagonal;
                last = 155;
            }
        }
        if (t != kMatGeneral) {
            text = last;
            velix::detail::type_change_note(sv.ctx, k, text, text80);
        }
    }
    mt.constant[k] = constant ? 1 : 0;
    mt.elementCount[k] = sv.sizes->nElements - mt.firstElement[k];
    return text;
}
