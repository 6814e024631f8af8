// The information scratch on the second work file (see
// information_scratch.h): written once the covariance step has inverted
// the information, read by the tests of the results instead of holding a
// second copy of the covariance and forming the gradient again.
#include "procedure/evaluation/information_scratch.h"

#include <algorithm>

#include "host/scratch_file.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/evaluation_state.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"

namespace {

HostFile* scratch_of(const EvalView* v) { return v->ctx->files.workFile2; }

void put(HostFile* f, const void* data, int64_t bytes) { scratch_check(xcwrite(f, data, bytes)); }
void get(HostFile* f, void* data, int64_t bytes) { scratch_check(xcread(f, data, bytes)); }

// The sparse Jacobian's nonzeros on the scratch (0 without them).
int64_t sparse_count(const EvalView* v) {
    const int32_t mode = *v->jacobianMode;
    return (mode == 11 || mode == 12) ? std::max<int64_t>(v->st->jac.nonzeros, 0) : 0;
}

}  // namespace

void write_information_scratch(const EvalView* v, const double* covariance, const double* releases) {
    const EvaluationState& st = *v->st;
    HostFile* f = scratch_of(v);
    const int64_t q = v->nParmFree;
    eval_dfdc(v);
    scratch_check(xcpoint(f, 0));
    put(f, covariance, 8 * velix::pk_lower(q, 0));
    put(f, st.gradient, 8 * q);
    put(f, st.dFdC, 8 * int64_t{v->pstar});
    if (const int64_t nz = sparse_count(v); nz > 0) {
        put(f, st.jac.nzRow, 4 * nz);
        put(f, st.jac.nzCol, 4 * nz);
        put(f, st.jac.nzValue, 8 * nz);
    }
    if (releases != nullptr) put(f, releases, 8 * 3 * q);
}

void read_bound_releases(const EvalView* v, double* releases) {
    HostFile* f = scratch_of(v);
    const int64_t q = v->nParmFree;
    scratch_check(xcpoint(f, 8 * (velix::pk_lower(q, 0) + q + v->pstar) + 16 * sparse_count(v)));
    get(f, releases, 8 * 3 * q);
}

void read_information_scratch(const EvalView* v, double* covariance, double* gradient, double* dFdC) {
    HostFile* f = scratch_of(v);
    const int64_t q = v->nParmFree;
    if (covariance != nullptr) {
        scratch_check(xcpoint(f, 0));
        get(f, covariance, 8 * velix::pk_lower(q, 0));
    } else {
        scratch_check(xcpoint(f, 8 * velix::pk_lower(q, 0)));
    }
    get(f, gradient, 8 * q);
    get(f, dFdC, 8 * int64_t{v->pstar});
}

void read_information_scratch_jacobian(const EvalView* v) {
    HostFile* f = scratch_of(v);
    JacobianStorage& jac = v->st->jac;
    const int64_t q = v->nParmFree, nz = jac.nonzeros;
    scratch_check(xcpoint(f, 8 * (velix::pk_lower(q, 0) + q + v->pstar)));
    get(f, jac.nzRow, 4 * nz);
    get(f, jac.nzCol, 4 * nz);
    get(f, jac.nzValue, 8 * nz);
}

void read_covariance_rows(const EvalView* v, int32_t i0, int32_t i1, double* rows) {
    HostFile* f = scratch_of(v);
    scratch_check(xcpoint(f, 8 * velix::pk_lower(i0, 0)));
    get(f, rows, 8 * (velix::pk_lower(i1, 0) - velix::pk_lower(i0, 0)));
}
