// Print set-up of a procedure step: the PrintBlock with the line sizes of
// the listing, the log and the messages, and the two trace switches of the
// host's DEBUG option ("SYN" for the statement parser, "SEM" for the model
// readers), found by a plain substring search of the upper-cased text.
#include "host/print_setup.h"

#include <new>

#include "host/fields.h"
#include "host/object_dispatch.h"

namespace {

// Allocation tag of step-lived blocks.
constexpr int32_t kStepTag = 4102;
// Size of the local copy of the DEBUG text; longer texts get a block.
constexpr int32_t kLocalDebugText = 200;

}  // namespace

void xinit() {
    //   1. PrintBlock from the step allocator, hung in the per-step block
    //   2. open printing; store the line sizes; default destination
    //   3. DEBUG option: nothing more when empty or blank
    //   4. upper-case copy; SYN and SEM flags by substring search
    HostControlBlock* gcb = v_global_gcb_anchor;
    HostStepBlock* step = gcb->step;
    void* memory = vmalcp_handler(gcb->stepAllocator, sizeof(PrintBlock), kStepTag);
    if (memory == nullptr) {
        xmemmsg(static_cast<int64_t>(sizeof(PrintBlock)));
        xexit(kMemoryShortage, 0);
    }
    PrintBlock* pb = new (memory) PrintBlock();
    step->printBlock = pb;

    xpopen(step->printFile);
    xpoutl(step->printFile, &pb->outputDescription);
    pb->printLineSize = xpprnl(0);
    pb->logLineSize = xplogl(0);
    pb->messageLineSize = xpmsgl(0);
    xpselec(0, -2);

    char local[kLocalDebugText + 1];
    int32_t length = xoptcgt("DEBUG", local, sizeof local);
    if (length <= 0) return;
    // A full local buffer may hold only the start: ask for the whole length.
    if (length == kLocalDebugText) length = xoptcgt("DEBUG", nullptr, 0);
    char* text = local;
    if (length > kLocalDebugText) {
        text = static_cast<char*>(vmalcp_handler(gcb->stepAllocator, static_cast<size_t>(length) + 1, kStepTag));
        if (text == nullptr) {
            // Without room for the whole text, search the part we have.
            text = local;
            length = kLocalDebugText;
        } else {
            const int32_t again = xoptcgt("DEBUG", text, length + 1);
            length = again < length ? again : length;
        }
    }
    if (length > 0 && !vzatl(' ', text, length).allEqual) {
        wztxxlt(2, text, text, length);
        if (wzstndx(text, length, "SYN", 3) >= 0) pb->synTrace = 1;
        if (wzstndx(text, length, "SEM", 3) >= 0) pb->semTrace = 1;
    }
    if (text != local) vmfree_handler(gcb->stepAllocator, text, 0, 4);
}
