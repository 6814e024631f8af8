// Scratch (utility) files as growable in-memory byte files.  Each file is a
// byte vector with a current position: a write at the position overwrites
// and extends it (a gap left by positioning past the end reads as zeros), a
// read must lie wholly inside the file.  The step's files are freed when it
// ends, closed or not.
#include "platform/scratch.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/session.h"

struct HostFile {
    std::vector<unsigned char> bytes;
    int64_t position = 0;
};

namespace velix::platform {
namespace {

struct State {
    std::unordered_map<HostFile*, std::unique_ptr<HostFile>> files;
    int failAt = 0;
};

State& state() {
    static State s;
    return s;
}

// Counts the operation; true when a test asked this one to fail.
bool injected() {
    State& s = state();
    if (s.failAt <= 0) return false;
    return --s.failAt == 0;
}

HostFile* live(HostFile* file) {
    State& s = state();
    return s.files.count(file) != 0 ? file : nullptr;
}

void end_of_step() {
    State& s = state();
    s.files.clear();
    s.failAt = 0;
}

const StepHooks hooks("scratch files", nullptr, end_of_step);

}  // namespace

void fail_nth_scratch_operation(int n) { state().failAt = n > 0 ? n : 0; }

ScratchCounts scratch_counts() {
    ScratchCounts c;
    for (const auto& [handle, file] : state().files) {
        ++c.files;
        c.bytes += file->bytes.size();
    }
    return c;
}

}  // namespace velix::platform

using velix::platform::injected;
using velix::platform::live;

int32_t xcopen(HostFile** handle, const ScratchFileRequest* /*request*/) {
    if (handle == nullptr) return kScratchBadHandle;
    *handle = nullptr;
    if (injected()) return kScratchInjected;
    std::unique_ptr<HostFile> file(new (std::nothrow) HostFile());
    if (!file) return kScratchNoMemory;
    *handle = file.get();
    velix::platform::state().files.emplace(file.get(), std::move(file));
    return 0;
}

int32_t xcpoint(HostFile* file, int64_t position) {
    if (injected()) return kScratchInjected;
    if (live(file) == nullptr) return kScratchBadHandle;
    if (position < 0) return kScratchBadPosition;
    file->position = position;
    return 0;
}

int32_t xcread(HostFile* file, void* buffer, int64_t bytes) {
    if (injected()) return kScratchInjected;
    if (live(file) == nullptr) return kScratchBadHandle;
    if (bytes < 0) return kScratchBadPosition;
    const auto size = static_cast<int64_t>(file->bytes.size());
    if (file->position > size || bytes > size - file->position) return kScratchPastEnd;
    if (bytes > 0) std::copy_n(file->bytes.data() + file->position, bytes, static_cast<unsigned char*>(buffer));
    file->position += bytes;
    return 0;
}

int32_t xcwrite(HostFile* file, const void* buffer, int64_t bytes) {
    if (injected()) return kScratchInjected;
    if (live(file) == nullptr) return kScratchBadHandle;
    if (bytes < 0 || bytes > INT64_MAX - file->position) return kScratchBadPosition;
    const int64_t end = file->position + bytes;
    try {
        if (end > static_cast<int64_t>(file->bytes.size())) file->bytes.resize(static_cast<size_t>(end));
    } catch (const std::exception&) {
        // bad_alloc or length_error: the file cannot grow that far.
        return kScratchNoMemory;
    }
    if (bytes > 0) std::copy_n(static_cast<const unsigned char*>(buffer), bytes, file->bytes.data() + file->position);
    file->position = end;
    return 0;
}

int32_t xcclose(HostFile* file, int32_t /*one*/) {
    if (injected()) return kScratchInjected;
    if (live(file) == nullptr) return kScratchBadHandle;
    velix::platform::state().files.erase(file);
    return 0;
}
