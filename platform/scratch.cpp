// Scratch (utility) files as growable in-memory byte files.  Each file is a
// run of fixed-size pages with a length and a current position: a write at
// the position overwrites and extends it (a gap left by positioning past
// the end reads as zeros), a read must lie wholly inside the file.  The
// step's files are freed when it ends, closed or not.
//
// Pages rather than one growing array: a file that grows by a large record
// and then by a few bytes (a matrix of the covariance step, then a vector)
// would otherwise be copied whole into an array of twice its size, and
// hold both while it is copied.  The first page grows as an array does, so
// that the many small files cost no more than their bytes; the later ones
// are taken whole and zeroed from the system.
#include "platform/scratch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/session.h"

namespace {

constexpr int64_t kPageBytes = int64_t{1} << 20;
// No file held in memory grows this long: a write beyond it fails at once
// as a shortage instead of taking pages until the system refuses one.
constexpr int64_t kLongestFile = int64_t{1} << 40;

struct FreePage {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Page = std::unique_ptr<unsigned char[], FreePage>;

}  // namespace

struct HostFile {
    std::vector<unsigned char> first;  // page 0, at most kPageBytes
    std::vector<Page> pages;           // pages 1, 2, ... (entry k - 1 for page k)
    int64_t size = 0;
    int64_t position = 0;

    // Pages up to byte `end` exist; false when one cannot be had.
    bool reach(int64_t end) {
        if (end > kLongestFile) return false;
        try {
            const int64_t head = std::min(end, kPageBytes);
            if (head > static_cast<int64_t>(first.size())) first.resize(static_cast<size_t>(head));
            const auto needed = static_cast<size_t>(std::max<int64_t>(0, (end - 1) / kPageBytes));
            while (pages.size() < needed) {
                Page page(static_cast<unsigned char*>(std::calloc(static_cast<size_t>(kPageBytes), 1)));
                if (!page) return false;
                pages.push_back(std::move(page));
            }
        } catch (const std::exception&) {
            // bad_alloc or length_error: the file cannot grow that far.
            return false;
        }
        return true;
    }
    // Bytes held in memory.
    size_t held() const { return first.capacity() + pages.size() * static_cast<size_t>(kPageBytes); }
    // Calls fn(page bytes, buffer offset, length) for the pieces of the
    // bytes [at, at + bytes), page by page.
    template <typename Fn>
    void pieces(int64_t at, int64_t bytes, Fn&& fn) {
        for (int64_t done = 0; done < bytes;) {
            const int64_t page = (at + done) / kPageBytes, within = (at + done) % kPageBytes;
            const int64_t length = std::min(bytes - done, kPageBytes - within);
            unsigned char* base = page == 0 ? first.data() : pages[static_cast<size_t>(page - 1)].get();
            fn(base + within, done, length);
            done += length;
        }
    }
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
        c.bytes += static_cast<size_t>(file->size);
        c.held += file->held();
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
    if (file->position > file->size || bytes > file->size - file->position) return kScratchPastEnd;
    auto* out = static_cast<unsigned char*>(buffer);
    file->pieces(file->position, bytes,
                 [&](const unsigned char* page, int64_t at, int64_t length) { std::copy_n(page, length, out + at); });
    file->position += bytes;
    return 0;
}

int32_t xcwrite(HostFile* file, const void* buffer, int64_t bytes) {
    if (injected()) return kScratchInjected;
    if (live(file) == nullptr) return kScratchBadHandle;
    if (bytes < 0 || bytes > INT64_MAX - file->position) return kScratchBadPosition;
    const int64_t end = file->position + bytes;
    if (!file->reach(end)) return kScratchNoMemory;
    const auto* in = static_cast<const unsigned char*>(buffer);
    file->pieces(file->position, bytes,
                 [&](unsigned char* page, int64_t at, int64_t length) { std::copy_n(in + at, length, page); });
    file->size = std::max(file->size, end);
    file->position = end;
    return 0;
}

int32_t xcclose(HostFile* file, int32_t /*one*/) {
    if (injected()) return kScratchInjected;
    if (live(file) == nullptr) return kScratchBadHandle;
    velix::platform::state().files.erase(file);
    return 0;
}
