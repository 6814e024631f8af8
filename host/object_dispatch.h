// Method dispatch on host objects and the allocator thunks.
//
// A host object starts with the address of its class; a class holds a small
// hash table of method entries (bucket = method AND mask) and a link to its
// parent class.  wobmth finds a method by walking the bucket chain of each
// class from the object's own class up to the root, the usual single-
// inheritance virtual dispatch by lookup (Goldberg and Robson, Smalltalk-80,
// ch. 27, "message lookup").
#pragma once

#include <cstddef>
#include <cstdint>

#include "velix/host.h"

// The result of wobmth when no class on the chain has the method (negative,
// so every caller treats it as a failure).
constexpr int32_t kNoSuchMethod = static_cast<int32_t>(0x80008001u);

// Calls method `method` of `object`.  in: object (passed to the method
// unchanged), cls (the class to start from; 0 means the object's own class),
// method number, count entries of args (in-out: the method may write output
// entries).  Result: the method's status, or kNoSuchMethod.
int32_t wobmth(HostObject* object, const HostClass* cls, uint32_t method, int32_t count,
               KyrArg* args);

// The callers' convention for a method result: a negative status is reported
// with the host's failure text (xprrlog) and answered true, so the caller
// abandons the table it was building.
inline bool kyr_failed(int32_t status) {
    if (status >= 0) return false;
    xprrlog(0, status);
    return true;
}

// Allocates `bytes` from the allocator with the tag; the allocator's own
// allocate slot answers, with every argument passed unchanged.  Result: the
// block, 0 on failure.
void* vmalcp_handler(HostAllocator* allocator, size_t bytes, int32_t tag);
// The same service under its second name.
void* vmalloc_handler(HostAllocator* allocator, size_t bytes, int32_t tag);
// Returns a block to its allocator (the callers pass 0 and 4).
void vmfree_handler(HostAllocator* allocator, void* block, int32_t zero, int32_t four);

// The module-control hook of the module entry; there is nothing to control.
void himodcn();
