// The definiteness check of the central matrices after an estimation: the
// numbers of negative and of negligible pivots of each term's central
// matrix at the estimates, recorded per term in
// ModelMatrixTable::termDefiniteness[t-1] as 100 a + min(b, 99) (0 for a
// term not inspected), and a note naming a matrix that is not positive
// definite.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Returns 0.  Inspects the non-constant square central matrices of the
// types DIAGONAL, POSDEFINIT and SYMMETRIC with tolerance view.singular;
// notes 352/491 (negative and negligible pivots), 492 (negative), 493
// (negligible) when printing is enabled; with negative pivots, WARNING
// 352/494 for each diagonal parameter (a variance) below zero.  A pool that cannot be had logs
// the memory message and leaves every count 0; a note that cannot be
// delivered stops the notes, not the counts.
int32_t coscmat(const EvalView* view);
