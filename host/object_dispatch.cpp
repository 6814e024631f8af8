// Method dispatch on host objects and the allocator thunks.
//
// wobmth is the classic class-chain lookup of single-inheritance dispatch
// (Goldberg and Robson, Smalltalk-80, ch. 27): look in the class's method
// table, then in its parent's, until the root.  The thunks forward to the
// allocator object's own slots without touching an argument.
#include "host/object_dispatch.h"

int32_t wobmth(HostObject* object, const HostClass* cls, uint32_t method, int32_t count,
               KyrArg* args) {
    //   c := cls, or the object's class when cls is 0
    //   for each class c up the parent chain:
    //     walk bucket (method AND mask) of c; on a match call the
    //     descriptor's function and return its status
    //   no class has it: kNoSuchMethod
    const HostClass* c = cls != nullptr ? cls : (object != nullptr ? object->cls : nullptr);
    for (; c != nullptr; c = c->parent) {
        if (c->buckets == nullptr) continue;
        for (const HostMethodEntry* e = c->buckets[method & c->bucketMask]; e != nullptr;
             e = e->next) {
            if (e->method != method) continue;
            const HostMethodDescriptor* d = e->descriptor;
            // An entry without a function cannot answer; treat it like a
            // missing method instead of jumping through a null pointer.
            if (d == nullptr || d->function == nullptr) return kNoSuchMethod;
            return d->function(object, e->datum, d->datum, count, args);
        }
    }
    return kNoSuchMethod;
}

void* vmalcp_handler(HostAllocator* allocator, size_t bytes, int32_t tag) {
    return allocator->allocate(allocator, bytes, tag);
}

void* vmalloc_handler(HostAllocator* allocator, size_t bytes, int32_t tag) {
    return vmalcp_handler(allocator, bytes, tag);
}

void vmfree_handler(HostAllocator* allocator, void* block, int32_t zero, int32_t four) {
    allocator->release(allocator, block, zero, four);
}

void himodcn() {}
