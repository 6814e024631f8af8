// Row-pointer arrays for the blocked row products of the objective and of
// dF/dC, kept from call to call: a small model is evaluated many times, and
// allocating them anew each time costs more than the product itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velix::detail {

struct RowPointers {
    const double** a = nullptr;  // rows of the left factor
    const double** b = nullptr;  // rows of the right factor
    double** c = nullptr;        // rows of the result
};

// Arrays of at least n pointers each, valid until the next call on the
// same thread.
inline RowPointers row_pointers(int32_t n) {
    thread_local std::vector<const double*> a, b;
    thread_local std::vector<double*> c;
    const size_t size = static_cast<size_t>(n);
    if (a.size() < size) {
        a.resize(size);
        b.resize(size);
        c.resize(size);
    }
    return {a.data(), b.data(), c.data()};
}

}  // namespace velix::detail
