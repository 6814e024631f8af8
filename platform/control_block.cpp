// The host control block: character tables of an ASCII host (a collating
// table that folds lower case onto upper case, a character-class table,
// five translation tables), the table of doubles with the missing value,
// and the per-step block, reset at every step boundary.
//
// Missing values follow the host's convention of NaN patterns whose 16 most
// significant bits are all ones (IEEE 754 quiet NaNs with the sign bit set);
// the 28 codes ".", "._" and ".A" to ".Z" differ in the bits below those.
#include "platform/control_block.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/session.h"

namespace velix::platform {
namespace {

// The pattern of a missing value: the top 16 bits set.
constexpr uint64_t kMissingMarker = 0xFFFF000000000000ull;
// Codes of the special missing values: 0 ".", 1 "._", 2 + k the letter k.
constexpr int kSpecialMissingCodes = 28;
// The table of doubles reaches past its element 46.
constexpr int kDoubleTableSize = 48;

// Character classes.
constexpr uint16_t kClassUpper = 0x1;
constexpr uint16_t kClassLower = 0x2;
constexpr uint16_t kClassDigit = 0x4;

// Translation table kinds: 0 identity, 1 lower case, 2 upper case; the host
// has no other conversions, so 3 and 4 are the identity too.
constexpr int kTranslateIdentity = 0;
constexpr int kTranslateLower = 1;
constexpr int kTranslateUpper = 2;

struct Tables {
    unsigned char collate[256];
    uint16_t charClass[256];
    double doubles[kDoubleTableSize];
    unsigned char translate[3][256];
};

const Tables& tables() {
    static const Tables t = [] {
        Tables x{};
        for (int c = 0; c < 256; ++c) {
            const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
            const bool digit = c >= '0' && c <= '9';
            const bool white = c == ' ' || (c >= '\t' && c <= '\r');
            const auto u = static_cast<unsigned char>(lower ? c - 32 : c);
            const auto l = static_cast<unsigned char>(upper ? c + 32 : c);
            x.collate[c] = u;
            x.charClass[c] = static_cast<uint16_t>((upper ? kClassUpper : 0) | (lower ? kClassLower : 0) |
                                                   (digit ? kClassDigit : 0) | (white ? kCharWhite : 0));
            x.translate[kTranslateIdentity][c] = static_cast<unsigned char>(c);
            x.translate[kTranslateLower][c] = l;
            x.translate[kTranslateUpper][c] = u;
        }
        x.doubles[kMissingValueElement] = host_special_missing(0);
        return x;
    }();
    return t;
}

struct Block {
    HostControlBlock gcb;
    HostStepBlock step;
};

Block& block() {
    static Block b = [] {
        Block x;
        const Tables& t = tables();
        x.gcb.step = &x.step;
        x.gcb.stepAllocator = step_allocator();
        x.gcb.collate = t.collate;
        x.gcb.charClass = t.charClass;
        x.gcb.doubles = t.doubles;
        x.gcb.translate[0] = t.translate[kTranslateIdentity];
        x.gcb.translate[1] = t.translate[kTranslateLower];
        x.gcb.translate[2] = t.translate[kTranslateUpper];
        x.gcb.translate[3] = t.translate[kTranslateIdentity];
        x.gcb.translate[4] = t.translate[kTranslateIdentity];
        return x;
    }();
    return b;
}

// The per-step block forgets the step's print block and message pool (the
// memory they lived in is freed by the memory component's own hook).
void reset_step_block() {
    HostStepBlock& s = block().step;
    s.printBlock = nullptr;
    s.messagePool = nullptr;
    s.trapWord = kTrapWordIdle;
}

const StepHooks hooks("control block", reset_step_block, reset_step_block);

}  // namespace

HostControlBlock* control_block() { return &block().gcb; }

}  // namespace velix::platform

double host_special_missing(int code) {
    // Codes out of range give the ordinary missing value.
    const uint64_t c = code >= 0 && code < velix::platform::kSpecialMissingCodes
                           ? static_cast<uint64_t>(code)
                           : 0u;
    const uint64_t bits = velix::platform::kMissingMarker | (c << 32);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

double host_missing_value() {
    return velix::platform::control_block()->doubles[velix::platform::kMissingValueElement];
}
