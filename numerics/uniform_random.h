// Uniform random numbers for random start values.  The caller's seed word
// is the generator's whole state, so a seed reproduces its sequence.
#pragma once

#include <cstdint>

// Advances *seed (in-out) by the multiplicative congruential generator
// seed := seed * 397204094 mod (2^31 - 1) and returns the new seed divided
// by 2147483647.0, a number in (0, 1).  A seed outside 1 .. 2^31 - 2 is
// first brought into that range by seed := 1 + (|seed| mod (2^31 - 2)),
// so 0 and negative seeds also give a full-period sequence.
double zranuni(int32_t* seed);
