// Generated names: a prefix and a running number, such as "X12", "Term_3"
// or "_V001002", fitted into a blank-padded field.
#include <cstring>

#include "velix/host.h"

// Arguments:
//   mode          the caller's kind of name (0 names, 3 table labels); this
//                 host forms every kind the same way
//   prefix[prefixLength]  trailing blanks are not part of the prefix; a
//                 negative length means a NUL-terminated prefix
//   number        the running number, written in decimal ("-" first when
//                 negative)
//   flag          the least number of digits, zero-padded (0: as many as
//                 the number needs)
//   destination   out: width characters, blank-padded
// When prefix and digits do not fit, the prefix is shortened so that the
// number stays whole (a number wider than the field keeps its last digits).
// Result: the length of the name without the padding.
int32_t znamfix(int32_t /*mode*/, const char* prefix, int32_t prefixLength, int32_t number,
                int32_t flag, char* destination, int32_t width) {
    if (destination == nullptr || width <= 0) return 0;
    if (prefix == nullptr) prefixLength = 0;
    if (prefixLength < 0) prefixLength = static_cast<int32_t>(std::strlen(prefix));
    while (prefixLength > 0 && prefix[prefixLength - 1] == ' ') --prefixLength;

    // Digits of |number|, built from the right; unsigned so that INT32_MIN
    // has a magnitude.
    char digits[48];
    int32_t n = 0;
    uint32_t magnitude = number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
    const int32_t least = flag > 0 && flag < 40 ? flag : 1;
    do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 || n < least);
    if (number < 0) digits[sizeof digits - 1 - n++] = '-';
    const char* numberText = digits + sizeof digits - n;
    if (n > width) {
        numberText += n - width;
        n = width;
    }
    const int32_t keep = prefixLength < width - n ? prefixLength : width - n;
    if (keep > 0) std::memcpy(destination, prefix, static_cast<size_t>(keep));
    std::memcpy(destination + keep, numberText, static_cast<size_t>(n));
    std::memset(destination + keep + n, ' ', static_cast<size_t>(width - keep - n));
    return keep + n;
}
