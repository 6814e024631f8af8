// P-value text in the six characters of a column: four decimals, "<.0001",
// an E form or bare decimals, as the host's PROBSIG option asks.
#include "numerics/probability_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/fields.h"
#include "velix/host.h"

namespace {

// Right-aligns s in the 6 characters of out.
void put6(const std::string& s, char* out) {
    std::memset(out, ' ', 6);
    size_t n = s.size() < 6 ? s.size() : 6;
    std::memcpy(out + 6 - n, s.data() + (s.size() - n), n);
}

// Left-aligned literal in 6 characters.
void lit6(const char* s, char* out) {
    std::memset(out, ' ', 6);
    std::memcpy(out, s, std::strlen(s));
}

// The shortest E form that fits 6 characters: "4.5E-5", "4E-10".
std::string e_form(double p) {
    int e = static_cast<int>(std::floor(std::log10(p)));
    double mant = p / std::pow(10.0, e);
    if (mant >= 9.95) {
        mant /= 10.0;
        ++e;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1fE%d", mant, e);
    if (std::strlen(buf) > 6) std::snprintf(buf, sizeof buf, "%.0fE%d", mant, e);
    return buf;
}

std::string fixed4(double p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%6.4f", p);
    return buf;
}

// Without a leading zero, the five decimals of 6 characters: ".00050".
std::string bare_decimals(double p) {
    if (p < 0.000005) return e_form(p);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.5f", p);
    return std::string(buf + 1);
}

}  // namespace

int32_t zprbfmt(double p, char* out) {
    const int32_t probsig = xoptigt("PROBSIG");
    if (wzmis(p)) {
        lit6(probsig == 2 ? "." : " .", out);
        return probsig;
    }
    if (probsig == 1) {
        if (p < 0.0) lit6("0.0", out);
        else put6(p > 9.5e-05 ? fixed4(p) : (p == 0.0 ? std::string("0") : e_form(p)), out);
    } else if (probsig == 2) {
        if (p < 0.0) lit6(".0", out);
        else put6(p > 0.000995 ? fixed4(p) : (p == 0.0 ? std::string("0") : bare_decimals(p)), out);
    } else {
        if (p < 0.0001) lit6(p >= 0.0 ? "<.0001" : "0.0", out);
        else put6(fixed4(p), out);
    }
    return probsig;
}
