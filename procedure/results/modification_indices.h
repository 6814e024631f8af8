// The modification indices of the fixed model-matrix elements and the Wald
// statistics of the free ones: cosmod1 (declared in procedure.h) prints a
// "ModIndices" matrix table and a "RankLagrange" table per model matrix.
// The pieces below are its steps that carry logic.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/results/lagrange.h"

// A computed index in a matrix's rank list.
struct LmRanked {
    int32_t row = 0, column = 0;
    double lm = 0.0;
};

// The outcome of a fixed element.
struct LmCell {
    // kMissing: kappa is 0, nothing is defined; kSingular: the element's
    // information is not positive, or its index is too large to report.
    enum State { kMissing, kIndex, kSingular };
    State state = kMissing;
    double lm = 0.0, change = 0.0;
};

namespace velix::detail {

// The rank list's length for a matrix of `fixedCells` cells without a
// parameter: 10 from 20 cells, half of them from 10, else at most 5.
int32_t lm_rank_length(int32_t fixedCells);
// Offers an index: it goes before the first listed one that is not above
// it (so of two equal indices the later computed ranks first); the list
// keeps `length` entries.
void lm_rank_offer(std::vector<LmRanked>* list, size_t length, LmRanked e);
// Cuts the list at the first index not above 1.053671212772351e-08 or
// below that times the first.
void lm_rank_cut(std::vector<LmRanked>* list);

// The index and expected change of a fixed element from its gradient
// gamma, its information delta and its bordering row b with the free
// parameters, given b'Vb and b'Vg (V the inverse information, g the
// gradient): the Schur complement sigma = delta - b'Vb gives rho = 1 /
// sigma, LM = gamma^2 rho / kappa and the change rho (b'Vg - gamma), as the
// bordered inverse would without changing V.  Singular when sigma is not
// above SINGULAR |delta| q (with q = 0, when |delta| is not above SINGULAR),
// when rho is negative, or when the index is above both 100 T and 100.
LmCell lm_cell(const LmSetup& s, double gamma, double delta, double bVb, double bVg);

}  // namespace velix::detail
