// The residual store of a fit: per moment of the analysed matrix (PackedSym
// order, p* = n(n+1)/2 entries) the variance term of its normal-theory
// sampling variance, the residual and the predicted moment.  Owner: the
// fit's residual writer (procedure/results/residual_store.h), which
// rewrites every block at each stage so that a later stage never reads the
// variance terms of an earlier one; the residual analysis reads it.
#pragma once

#include <cstdint>
#include <vector>

struct ResidualStore {
    int32_t nMoments = 0;            // p* of the stage that wrote the blocks
    std::vector<double> variance;    // sigma_ii sigma_jj + sigma_ij^2
    std::vector<double> residual;    // s_ij - sigma_ij, exactly 0 when negligible against s_ij
    std::vector<double> predicted;   // sigma_ij
    // A model with means: the constant's index k, and the variance and
    // residual blocks are those of the covariances and, in row k, of the
    // means (the variance term of a mean sigma_ii / c, c the constant's
    // moment); -1 otherwise.
    int32_t intercept = -1;
};
