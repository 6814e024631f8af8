// Listing titles centred on the print line, p-value formatting and a
// least-squares solve through the normal equations (X'X) b = X'y with the
// sweep operator on the nonnegative definite cross-product matrix
// (Goodnight 1979, "A tutorial on the SWEEP operator", Am. Stat. 33).
#include "numerics/titles.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/fields.h"
#include "host/message_text.h"
#include "numerics/kernel_support.h"
#include "numerics/sweep_solve.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace {

constexpr int kMaxTitleLines = 10;
// Relative pivot tolerance of the normal-equations solve.
constexpr double kNormalEquationsTol = velix::kSqrtMachEpsWritten;

TitleLines& stored_lines() {
    static TitleLines lines;
    return lines;
}

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

int32_t zptiti(int32_t flags, const char* text) {
    TitleLines& t = stored_lines();
    t = TitleLines();
    if (text == nullptr) return 0;
    int32_t position = 0;
    const char* piece = nullptr;
    int32_t length = 0;
    while (t.count < kMaxTitleLines && ztxnext(text, -1, &position, "\n", flags, &piece, &length) != 0) {
        t.start[t.count] = static_cast<int16_t>(piece - text);
        t.length[t.count] = static_cast<int16_t>(length);
        ++t.count;
    }
    return t.count + 1;
}

const TitleLines* zptitle_lines() { return &stored_lines(); }

int32_t zcenter(int32_t width) {
    const PrintLineDescription* d = xpoutl(nullptr, nullptr);
    if (d == nullptr || d->centre == 0 || width > d->lineWidth) return 1;
    return (d->lineWidth - width) / 2 + 1;
}

const char* zptitx(const char* text) {
    const TitleLines& t = stored_lines();
    if (text == nullptr) return text;
    PrintLineDescription* d = xpoutl(nullptr, nullptr);
    if (d != nullptr && d->linesLeft < t.count + 1) xppage(0);
    int32_t savedCentre = d != nullptr ? d->centre : 0;
    if (d != nullptr) d->centre = 1;
    for (int i = 0; i < t.count; ++i) {
        int32_t col = zcenter(t.length[i]);
        std::string line(static_cast<size_t>(col - 1), ' ');
        line.append(text + t.start[i], static_cast<size_t>(t.length[i]));
        xpsout("%s", line.c_str());
    }
    if (d != nullptr) d->centre = savedCentre;
    return text;
}

int32_t zptitle(const char* text) {
    int32_t r = zptiti(kSkipEmptyPieces, text);
    if (r > 0) zptitx(text);
    return r;
}

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

// Steps: work := A'A packed by rows; x := A'B column by column; sweep solve.
int32_t zprcrst(int32_t m, int32_t n, const double* a, const double* b, double* x, double* work) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            work[velix::pk_lower(i, j)] = zinner(a + static_cast<int64_t>(i) * m, a + static_cast<int64_t>(j) * m, m);
    for (int32_t k = 0; k < n; ++k)
        for (int32_t j = 0; j < n; ++j)
            x[static_cast<int64_t>(k) * n + j] = zinner(a + static_cast<int64_t>(j) * m, b + static_cast<int64_t>(k) * m, m);
    return znndsol(n, work, work + n * (n + 1) / 2, n, x, kNormalEquationsTol);
}
