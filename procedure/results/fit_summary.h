// The fit summary: the statistics of a fit (fit_indices.h) stored in the
// results' state for the OUTRAM= STAT rows and printed as the factoid
// "Fit" inside the output group "FitSummary".
#pragma once

#include <cstdint>

#include "procedure/results/fit_indices.h"
#include "velix/host.h"
#include "velix/results_state.h"

// Computes the statistics of *in into results->fitStats (every one
// rewritten) and *notes (out).
void store_fit_statistics(ResultsState* results, const FitInputs* in, FitNotes* notes);

// Prints the factoid "Fit" of *stats on `manager`, the entries in the
// order of the summary: F, GFI, AGFI, RMR, PGFI; for the chi-square family
// (notes->chisqFamily) the chi-square block, the indices and the critical
// N.  Returns 0, or the first failed call's status (reported, the table
// abandoned).
int32_t print_fit_factoid(HostObject* manager, const FitStatistics* stats, const FitInputs* in,
                          const FitNotes* notes);
