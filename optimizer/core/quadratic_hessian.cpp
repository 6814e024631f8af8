// The Hessian of a quadratic objective that its owner keeps on a utility
// file as a sparse list (count, positions, values): loaded into the
// Hessian array in the problem's storage whenever the constant matrix is
// wanted, so that it never has to be evaluated.
#include <vector>

#include "host/scratch_file.h"
#include "optimizer/core/core.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

// Entries of the Hessian array by storage.
int64_t hessian_length(const NlpProblem* p) {
    if (p->opt.hessianStorage == 2) return p->shape.nParams;
    if (p->opt.hessianStorage == 1) {
        if (p->hess.hessianPattern == nullptr) nlp_internal_error("znlphlo: the sparse Hessian has no pattern");
        return p->hess.hessianPattern[p->shape.nParams];
    }
    return p->shape.packedLen;
}

}  // namespace

void znlphlo(NlpProblem* p) {
    HostFile* file = p->shape.hessianFile;
    if (file == nullptr) nlp_internal_error("znlphlo: the quadratic objective has no file");
    scratch_check(xcpoint(file, 0));
    int32_t count = 0;
    scratch_check(xcread(file, &count, sizeof count));
    const int64_t length = hessian_length(p);
    if (count < 0 || count > length) nlp_internal_error("znlphlo: the Hessian record's count does not fit");
    std::vector<int32_t> pos(static_cast<size_t>(count));
    std::vector<double> val(static_cast<size_t>(count));
    scratch_check(xcread(file, pos.data(), static_cast<int64_t>(count) * 4));
    scratch_check(xcread(file, val.data(), static_cast<int64_t>(count) * 8));
    double* h = p->hess.hessian;
    // The sparse storage's slot n holds its entry count, not a value.
    const int64_t skip = p->opt.hessianStorage == 1 ? p->shape.nParams : -1;
    for (int64_t k = 0; k < length; ++k)
        if (k != skip) h[k] = 0.0;
    for (int32_t k = 0; k < count; ++k) {
        if (pos[k] < 0 || pos[k] >= length || pos[k] == skip) nlp_internal_error("znlphlo: a Hessian position outside the matrix");
        h[pos[k]] = val[k];
    }
}
