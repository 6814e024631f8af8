// Blank-padded fields, counted texts and missing values.
//
// Keywords and short names are fixed-length fields padded with blanks, the
// card-image convention of the host; comparisons are case-blind by going
// through the host's collating table, and a missing value is the NaN
// pattern whose sign, exponent and top mantissa bits are all ones.
//
// The host's multi-byte characters are UTF-8 sequences, whose bytes collate
// in code-point order, so the byte-wise comparisons serve every text and no
// separate double-byte comparison is needed.
#include "host/fields.h"

#include <cstring>

namespace {

// The host's tables, or built-in ASCII ones when the module has not been
// handed a control block yet (tests of other subsystems call these
// routines without loading the module).
struct Tables {
    const unsigned char* collate;
    const unsigned char* upper;
};

const unsigned char* ascii_upper_table() {
    static const auto table = [] {
        static unsigned char t[256];
        for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        return t;
    }();
    return table;
}

Tables host_tables() {
    const HostControlBlock* gcb = v_global_gcb_anchor;
    Tables t{ascii_upper_table(), ascii_upper_table()};
    if (gcb == nullptr) return t;
    if (gcb->collate != nullptr) t.collate = gcb->collate;
    if (gcb->translate[2] != nullptr) t.upper = gcb->translate[2];
    return t;
}

unsigned char byte_at(const char* p, int32_t i) { return static_cast<unsigned char>(p[i]); }

// Length of a text given as (address, length), a negative length meaning
// NUL-terminated.
int32_t text_length(const char* text, int32_t length) {
    if (text == nullptr) return 0;
    return length < 0 ? static_cast<int32_t>(std::strlen(text)) : length;
}

}  // namespace

int32_t wzstcmn(const char* a, int32_t lengthA, const char* b, int32_t lengthB, int32_t flags) {
    //   compare the common prefix byte by byte through the collating table;
    //   then the rest of the longer text against blanks
    const Tables t = host_tables();
    if (a == nullptr || lengthA < 0) lengthA = 0;
    if (b == nullptr || lengthB < 0) lengthB = 0;
    const int32_t common = lengthA < lengthB ? lengthA : lengthB;
    for (int32_t i = 0; i < common; ++i) {
        const unsigned ca = t.collate[byte_at(a, i)], cb = t.collate[byte_at(b, i)];
        if (ca != cb) return ca > cb ? i + 1 : -(i + 1);
    }
    const unsigned blank = t.collate[static_cast<unsigned char>(' ')];
    const char* longer = lengthA > lengthB ? a : b;
    const int32_t longerLength = lengthA > lengthB ? lengthA : lengthB;
    const int32_t sign = lengthA > lengthB ? 1 : -1;
    for (int32_t i = common; i < longerLength; ++i) {
        const unsigned c = t.collate[byte_at(longer, i)];
        if (c != blank) return (c > blank ? sign : -sign) * (i + 1);
    }
    return 0;
}

int32_t wzsteqn(const char* a, int32_t lengthA, const char* b, int32_t lengthB) {
    const Tables t = host_tables();
    if (lengthA != lengthB) return 0;
    for (int32_t i = 0; i < lengthA; ++i)
        if (t.collate[byte_at(a, i)] != t.collate[byte_at(b, i)]) return 0;
    return 1;
}

int32_t wzstlen(const char* text) {
    return text == nullptr ? 0 : static_cast<int32_t>(std::strlen(text));
}

int32_t wzstmov(const char* source, int32_t length, char* target, int32_t size) {
    const bool terminated = size < 0;
    const int32_t field = terminated ? -1 - size : size;
    int32_t n = 0;
    if (source != nullptr && length > 0) {
        n = length < field ? length : field;
        // memmove copies backwards when the target lies inside the source.
        std::memmove(target, source, static_cast<size_t>(n));
    }
    if (terminated)
        target[n] = '\0';
    else if (n < field)
        std::memset(target + n, ' ', static_cast<size_t>(field - n));
    return n;
}

int32_t wzstndx(const char* text, int32_t length, const char* pattern, int32_t patternLength) {
    patternLength = text_length(pattern, patternLength);
    if (patternLength == 0) return 0;
    if (text == nullptr || length <= 0 || patternLength > length) return -1;
    for (int32_t i = 0; i + patternLength <= length; ++i)
        if (std::memcmp(text + i, pattern, static_cast<size_t>(patternLength)) == 0) return i;
    return -1;
}

WordPair wzstpos(const char* text, int32_t length, char c) {
    length = text_length(text, length);
    for (int32_t i = 0; i < length; ++i)
        if (text[i] == c) return {i, length - i};
    return {-1, 0};
}

int32_t wzstrip(const char* text, int32_t length) {
    length = text_length(text, length);
    while (length > 0 && text[length - 1] == ' ') --length;
    return length;
}

int32_t wzstmax(const char* first, int32_t width, int32_t stride, int32_t count) {
    if (first == nullptr || width == 0) return width;
    int32_t longest = 0;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t w = wzstrip(first + static_cast<int64_t>(k) * stride, width);
        if (w > longest) longest = w;
    }
    return longest;
}

char wzstopt(const char* text, int32_t length, const char* set, int32_t setLength, char fallback) {
    if (text == nullptr || set == nullptr || setLength <= 0) return fallback;
    for (int32_t i = 0; i < length; ++i)
        if (std::memchr(set, text[i], static_cast<size_t>(setLength)) != nullptr) return text[i];
    return fallback;
}

int32_t wzcichr(int32_t value, char* out) {
    // Work on the magnitude as unsigned so that -2147483648 has one.
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char digits[10];
    int32_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int32_t length = 0;
    if (value < 0) out[length++] = '-';
    while (n > 0) out[length++] = digits[--n];
    return length;
}

int32_t wztxxlt(int32_t kind, const char* source, char* target, int32_t count) {
    const HostControlBlock* gcb = v_global_gcb_anchor;
    const unsigned char* table = nullptr;
    if (kind >= 0 && kind <= 4)
        table = gcb != nullptr ? gcb->translate[kind] : (kind == 2 ? ascii_upper_table() : nullptr);
    if (table == nullptr) return 1;
    for (int32_t i = 0; i < count; ++i) target[i] = static_cast<char>(table[byte_at(source, i)]);
    return 0;
}

int32_t wztxdotr() { return 0; }
int32_t wztxdods() { return 0; }

AllBytesResult vzatl(char byte, const char* text, int32_t length) {
    for (int32_t i = 0; i < length; ++i)
        if (text[i] != byte) return {0, text + i + 1};
    return {1, text + (length > 0 ? length : 0)};
}

int32_t wzmis(double x) { return host_is_missing(x) ? 1 : 0; }

int32_t wzmisn(const double* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (wzmis(values[i])) return 1;
    return 0;
}

void vzfdl(double value, double* target, int32_t count) {
    // Copy the bit pattern: a missing value must keep its marker bits.
    for (int32_t i = 0; i < count; ++i) std::memcpy(target + i, &value, sizeof value);
}

int32_t zgetnmr(const NameList* list, int32_t index, const char** text, int32_t* length) {
    //   find the block whose highest index reaches `index`;
    //   inside it skip names by their length bytes
    if (list == nullptr || index < 0) return 1;
    int32_t firstIndex = 0;
    const NameList* block = list;
    while (block != nullptr && block->highestIndex < index) {
        firstIndex = block->highestIndex + 1;
        block = block->next;
    }
    if (block == nullptr || block->names == nullptr) return 1;
    const unsigned char* p = block->names;
    for (int32_t k = firstIndex; k < index; ++k) p += 1 + p[0];
    *text = reinterpret_cast<const char*>(p + 1);
    *length = p[0];
    return 0;
}

void vzB8(char* field) { std::memset(field, ' ', 8); }

void vzBL(char* field, int32_t length) {
    if (length > 0) std::memset(field, ' ', static_cast<size_t>(length));
}
