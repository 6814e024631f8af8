// The element shares of the term walker (template body of for_each_share).
#pragma once

#include "velix/types.h"

template <typename Share>
void for_each_share(const EvalView& v, int32_t k, double scale, Share&& share) {
    const ModelMatrixTable& mt = *v.mt;
    const bool symmetric = mt.type[k] == kMatPosDefinit || mt.type[k] == kMatSymmetric;
    const int32_t e0 = mt.firstElement[k], e1 = e0 + mt.elementCount[k];
    for (int32_t e = e0; e < e1; ++e) {
        const int32_t p = v.el->parameter[e], r = v.el->row[e], c = v.el->column[e];
        if (p == 0) continue;
        auto both = [&](int32_t param, double w) {
            share(param, w, r, c);
            if (symmetric && r != c) share(param, w, c, r);
        };
        if (p > 0) {
            if (p <= v.nParmFree) both(p - 1, scale);
            continue;
        }
        // A dependent parameter passes its share on to the independent
        // parameters it depends on.
        const double* g = velix::detail::dependent_derivatives(v, p);
        for (int32_t q = 0; q < v.nParmFree; ++q)
            if (g[q] != 0.0) both(q, scale * g[q]);
    }
}
