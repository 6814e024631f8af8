// Multiplicative congruential generator modulo the Mersenne prime 2^31 - 1
// with the multiplier 397204094 (Fishman and Moore, "An exhaustive analysis
// of multiplicative congruential random number generators with modulus
// 2^31 - 1", SIAM J. Sci. Stat. Comput. 7, 1986).  The product is formed
// exactly in 64-bit arithmetic, which gives the same sequence as the
// classic 16-bit partial-product formulation.
#include "numerics/uniform_random.h"

namespace {
constexpr int64_t kModulus = 2147483647;   // 2^31 - 1
constexpr int64_t kMultiplier = 397204094;
}  // namespace

double zranuni(int32_t* seed) {
    int64_t s = *seed;
    if (s < 1 || s > kModulus - 1) {
        // A zero seed would stay zero and the modulus itself is zero mod
        // the modulus: fold every seed outside the range into it.
        int64_t m = s < 0 ? -s : s;
        s = 1 + m % (kModulus - 1);
    }
    s = (s * kMultiplier) % kModulus;
    *seed = static_cast<int32_t>(s);
    return static_cast<double>(s) / 2147483647.0;
}
