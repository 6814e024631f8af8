// Layout of the stored inverses.  A model matrix entered as its inverse (or
// as the inverse of I minus itself) gets a slot of the InverseStore, shared
// by every occurrence of its name: a packed triangle for the triangular and
// symmetric types, rows x columns for the others; a diagonal matrix is
// inverted element by element and needs none.  Two layouts: every slot at
// once, or per term with a stack of slots released as soon as no later term
// needs them (the usual stack allocation of lifetimes ordered by their last
// use).
//
//   all at once:  matrices in order; a matrix without a slot takes the next
//                 offset, with every later occurrence of its name
//   per term:     permanent slots for constant matrices;
//                 for each term: pop the slots whose last use lies before
//                 the term; push the term's matrices, furthest last use first
#include <algorithm>

#include "procedure/driver/model.h"
#include "host/internal_error.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

bool needs_slot(const ModelMatrixTable& mt, int32_t k) {
    return mt.form[k] != kFormNone && mt.type[k] != kMatDiagonal;
}

int32_t slot_size(const ModelMatrixTable& mt, int32_t k) {
    const int16_t t = mt.type[k];
    const int32_t c = mt.columns[k];
    if (t == kMatLower || t == kMatUpper || t == kMatSymmetric || t == kMatPosDefinit) return c * (c + 1) / 2;
    return mt.rows[k] * mt.columns[k];
}

// The first occurrence of k's name: same-name links are followed to their
// end, so that a name used three or more times still has one slot.
int32_t root_of(const ModelMatrixTable& mt, int32_t k, int32_t m) {
    for (int32_t guard = 0; mt.sameName[k] > 0 && mt.sameName[k] < k && guard < m; ++guard) k = mt.sameName[k];
    return k;
}

struct Layout {
    ModelMatrixTable& mt;
    int32_t m;
    int32_t offset = 1;

    // The last matrix that needs a slot and shares k's name (k itself when
    // there is none).
    int32_t last_use(int32_t k) const {
        const int32_t r = root_of(mt, k, m);
        int32_t last = k;
        for (int32_t l = k + 1; l <= m; ++l)
            if (needs_slot(mt, l) && root_of(mt, l, m) == r) last = l;
        return last;
    }
    // Gives k and every later occurrence of its name the current offset.
    void assign(int32_t k) {
        const int32_t r = root_of(mt, k, m);
        for (int32_t l = k; l <= m; ++l)
            if (l == k || (root_of(mt, l, m) == r && mt.inverseOffset[l] == 0)) mt.inverseOffset[l] = offset;
        offset += slot_size(mt, k);
    }
    void mark_reuse(int32_t k, int32_t from) {
        const int32_t r = root_of(mt, k, m);
        for (int32_t l = k; l <= m; ++l)
            if (l == k || root_of(mt, l, m) == r) mt.inverseReuse[l] = static_cast<uint16_t>(from);
    }
};

}  // namespace

int32_t cosimal(ProcContext* ctx, int32_t* work) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    const int32_t m = sv.sizes->nMatrices;
    for (int32_t k = 0; k <= m; ++k) {
        mt.inverseOffset[k] = 0;
        mt.inverseReuse[k] = 0;
    }
    sv.sizes->invStoreLen = 0;
    Layout lay{mt, m};

    if (sv.readers->perTermInverse != 0) {
        bool any = false;
        for (int32_t k = 1; k <= m; ++k)
            if (needs_slot(mt, k) && mt.inverseOffset[k] == 0) {
                lay.assign(k);
                any = true;
            }
        if (any) sv.sizes->invStoreLen = lay.offset;
        return 0;
    }

    // The stack holds (last use, matrix) pairs in work[2i], work[2i+1].
    int32_t depth = 0;
    auto push = [&](int32_t k) {
        work[2 * depth] = lay.last_use(k);
        work[2 * depth + 1] = k;
        ++depth;
    };
    for (int32_t k = 1; k <= m; ++k)
        if (mt.constant[k] && needs_slot(mt, k) && mt.inverseOffset[k] == 0) {
            push(k);
            lay.assign(k);
        }
    const int32_t permanent = depth;
    if (permanent > 0) sv.sizes->invStoreLen = lay.offset;

    int32_t released = 0;
    for (int32_t t = 1; t <= sv.sizes->nTerms; ++t) {
        const int32_t f = mt.termTable[t - 1], e = std::min<int32_t>(mt.termTable[t], m + 1);
        auto lacking = [&](int32_t k) { return needs_slot(mt, k) && mt.inverseOffset[k] == 0; };
        bool any = false;
        for (int32_t k = f; k < e; ++k) any = any || lacking(k);
        if (!any) continue;
        while (depth > permanent && work[2 * (depth - 1)] < f) {
            --depth;
            const int32_t k = work[2 * depth + 1];
            const int32_t size = slot_size(mt, k);
            lay.offset -= size;
            released += size;
            lay.mark_reuse(k, f);
        }
        for (;;) {
            int32_t best = 0, bestUse = -1;
            for (int32_t k = f; k < e; ++k)
                if (lacking(k) && lay.last_use(k) > bestUse) {
                    best = k;
                    bestUse = lay.last_use(k);
                }
            if (best == 0) break;
            push(best);
            lay.assign(best);
            sv.sizes->invStoreLen = std::max(sv.sizes->invStoreLen, lay.offset);
        }
    }

    for (int32_t k = 1; k <= m; ++k)
        if (needs_slot(mt, k) && mt.inverseOffset[k] == 0) {
            const std::string name = velix::detail::name_text(mt.name[k]);
            xpmlog(kMsgProc, kMsgInverseNoTerm, name.c_str());
            internal_error("a matrix that needs a stored inverse belongs to no term");
        }
    if (released == 0) sv.readers->perTermInverse = 1;
    return released;
}
