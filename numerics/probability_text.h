// A probability as the six characters of a p-value column, under the
// host's PROBSIG option.
#pragma once

#include <cstdint>

// Formats probability p into out[6] (not NUL-terminated) under the
// PROBSIG option; result the PROBSIG value used.
//   PROBSIG 0 (and any value but 1, 2): "<.0001" below 1e-4, "0.0   " for
//     a negative p, else 4 decimals;
//   PROBSIG 1: "0.0   " for a negative p; 4 decimals above 9.5e-5, else
//     the shortest E form;
//   PROBSIG 2: ".0    " for a negative p; 4 decimals above 0.000995, else
//     the decimals that show it without a leading zero (E form below that);
//   a missing p: ".     " under PROBSIG 2, else " .    ".
int32_t zprbfmt(double p, char* out);
