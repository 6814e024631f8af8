// The level-by-level factor models of the latent-variable start values:
// the indicators and factors of each level, the unique variances and
// factor covariances that follow from its loadings, the scale of each
// factor, and the moments of the factors that enter the start moments
// (through the loadings of the earlier levels down to the manifest
// variables).  The two latent-variable estimators differ only in how they
// find the loadings of a level.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "procedure/startvalues/start_moments.h"

namespace velix::detail {

// The factor model of one level: m indicators, k factors.
struct Level {
    int32_t m = 0, k = 0;
    std::vector<int32_t> levelCode, factorNo;  // [N] as classified
    std::vector<double> L;                     // m x k row-major, missing = free
    std::vector<int32_t> param;                // m x k: |parameter| of the loading, 0 fixed or none
    std::vector<char> element;                 // m x k: 1 where a path element holds the loading
    std::vector<int32_t> position;             // [m] position of indicator j
    std::vector<double> T;                     // PackedSym[k]: (L'L)^-1, then Phi
    std::vector<double> U;                     // [m] unique variances, missing = free

    double& l(int32_t j, int32_t f) { return L[static_cast<size_t>(j) * k + f]; }
    bool fixed_zero(int32_t j, int32_t f) const {
        return param[static_cast<size_t>(j) * k + f] == 0 && L[static_cast<size_t>(j) * k + f] == 0.0;
    }
};

struct Solver {
    StartWork* w;
    Level* lv;
    std::vector<int32_t> ref;  // [k] reference row of each factor

    double s(int32_t a, int32_t b) const {
        return w->get(lv->position[static_cast<size_t>(a)], lv->position[static_cast<size_t>(b)]);
    }
    double tol() const { return w->ctx->options.singular; }
    bool is_ref(int32_t j) const { return std::find(ref.begin(), ref.end(), j) != ref.end(); }
};

// How one estimator treats a level.
struct LevelMethod {
    int32_t sizeCode;            // the code when a level has more factors than indicators
    int32_t (*loadings)(Solver*);  // the loadings and T = (L'L)^-1; 0, or the level's code
    bool uniquesNeedElements;    // estimate unique variances only when an indicator has a
                                 // variance element
    bool scaleToPhi;             // a fixed factor variance rescales when it differs from Phi
};

// The indicators and factors of the next level (levelCode is the work's
// `complete`); false when there is none.
bool classify(StartWork* w, Level* lv);
// The loading matrix of the level from the path elements; the number of
// free loadings.
int32_t loadings_of(StartWork* w, Level* lv);
// T := (L'L)^-1; false when L'L is singular.
bool inverse_cross_product(Solver* sv);
// Runs the levels with `method` until a level stops them: 0 when a loading
// was written, 1 when none was, else the stopping code.
int32_t run_levels(StartWork* w, const LevelMethod& method);

}  // namespace velix::detail
