// Information matrix and covariance of the estimates (Browne 1984, eq. 2.12
// for the weighted least-squares forms; Bollen 1989, ch. 4 for ML): the
// cross product at the solution, evaluated with phase -1 so that no retry
// can move the estimates, inverted by the UDU' decomposition with the
// singularity criteria of the covariance options, or by a generalized
// inverse when singular; the variance of a dependent parameter by the delta
// method, g' Cov g.
//
//   checks; F at x (phase -1); H; "Information" table; ULS, DWLS: stop
//   the inverse the optimizer's covariance code left, when it is of this
//   very H (it inverted the array H is in, unwritten since)
//   regular inverse, else generalized inverse (at most G4 parameters)
//   under active constraints (parameters held at bounds, active linear and
//   nonlinear rows) the covariance of the constrained model,
//   Z (Z'HZ)^-1 Z' with Z a basis of the null space of the active rows
//   (variable_reduction.h); when the problem has bounds, the score test of
//   releasing each parameter's bound with every other active constraint
//   kept (Aitchison and Silvey 1958), for the tests of the bounds
//   standard errors from that covariance; missing, with a WARNING, for
//   what a generalized inverse leaves undetermined
#include "procedure/evaluation/information.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "numerics/cholesky.h"
#include "numerics/covcorr.h"
#include "numerics/ginv.h"
#include "numerics/variable_reduction.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/information_scratch.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/evaluation/nonlinear_constraints.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "velix/evaluation_state.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"
#include "velix/types.h"

using velix::pk;
using velix::pk_lower;
using velix::detail::VariableReduction;

namespace {

constexpr int32_t kMsgNoInformation = 52;
constexpr int32_t kTitleInformation = 741;
constexpr int32_t kMsgNoGeneralizedInverse = 54;
constexpr int32_t kMsgNotIdentified = 53;
// Variances this many times apart spread the ULS information's eigenvalues
// by about its square, 1e8, past the relative tolerance of the singularity
// test: the scale alone can make an identified model look singular.
constexpr double kUlsScaleRatio = 1e4;
constexpr double kFinalPhase = -1.0;
constexpr int32_t kInfoDoubles = 5;  // the inversion's info block

enum CovStatus : int32_t { kCovNone = 0, kCovRegular = 1, kCovGeneralized = 2, kCovFailed = 3 };

// Storage modes of the Jacobian after the run: the in-memory forms stand
// for every dense mode, the sparse form for both sparse ones.
int32_t remapped_mode(int32_t mode) {
    if (mode == 0 || mode == 5) return 1;
    if (mode == 4 || mode == 6) return 2;
    if (mode == 12) return 11;
    return mode;
}

// What a generalized inverse left undetermined: the null basis of
// ginv_null_basis and the diagonal it was scaled by, in the coordinates of
// the matrix inverted: the parameters', or with `reduction` those of the
// null space of the active constraints (a function g'theta is then taken
// as Z'g); count 0 after a regular inverse.
struct NullSpace {
    int32_t count = 0;
    std::vector<double> basis, diag;
    const VariableReduction* reduction = nullptr;
    bool holds(int32_t q, const double* g) const {
        if (count == 0) return false;
        if (reduction == nullptr)
            return ginv_null_leaning(q, count, basis.data(), diag.data(), g) > kNullLeaningTol;
        std::vector<double> reduced(static_cast<size_t>(reduction->dim()));
        velix::detail::reduce_vector(*reduction, g, reduced.data());
        return ginv_null_leaning(reduction->dim(), count, basis.data(), diag.data(), reduced.data()) > kNullLeaningTol;
    }
    bool holds_parameter(int32_t q, int32_t k) const {
        std::vector<double> e(static_cast<size_t>(q), 0.0);
        e[static_cast<size_t>(k)] = 1.0;
        return holds(q, e.data());
    }
};

// ULS weighs the moments in the units of the variables: when their
// variances lie far apart, a NOTE names the smallest and the largest as a
// cause of the singular information.
void note_uls_scale(const EvalView& v) {
    int32_t least = -1, most = -1;
    for (int32_t i = 0; i < v.n; ++i) {
        const double d = v.S[pk(i, i)];
        if (!(d > 0.0)) continue;
        if (least < 0 || d < v.S[pk(least, least)]) least = i;
        if (most < 0 || d > v.S[pk(most, most)]) most = i;
    }
    if (least < 0 || v.S[pk(most, most)] < kUlsScaleRatio * v.S[pk(least, least)]) return;
    auto name = [&](int32_t i) {
        const NameRecord& r = v.manifestNames[i];
        size_t length = static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32));
        while (length > 0 && r.text[length - 1] == ' ') --length;
        return std::string(r.text, length);
    };
    xpmlog(kMsgProc, kMsgUlsScale, v.S[pk(least, least)], name(least).c_str(), v.S[pk(most, most)],
           name(most).c_str());
}

// The WARNING of a singular information matrix: the parameters whose
// direction lies in the null space, by name.
void warn_not_identified(const EvalView& v, const NullSpace& ns) {
    std::string names;
    for (int32_t k = 0; k < v.nParmFree; ++k) {
        if (!ns.holds_parameter(v.nParmFree, k)) continue;
        const NameRecord& n = v.nlp->param.paramNames[k];
        if (!names.empty()) names += ' ';
        size_t length = static_cast<size_t>(std::clamp<int16_t>(n.length, 0, 32));
        while (length > 0 && n.text[length - 1] == ' ') --length;
        names.append(n.text, length);
    }
    xpmlog(kMsgProc, kMsgNotIdentified, names.c_str());
    if (v.method == kMethodUls) note_uls_scale(v);
}

// The parameters whose information is inverted: their count, names and
// values (those of the dependency listing).
struct Block {
    int32_t q;
    const NameRecord* names;
    const double* x;
    bool listing;  // list the dependencies of a singular matrix
};

// The matrix a Block inverts, as it was given: the information `info` of
// all parameters (packed), or with `reduction` its reduction onto the
// null space of the active rows.
struct Source {
    const double* info;
    const VariableReduction* reduction = nullptr;
    void into(int32_t q, double* a) const {
        if (reduction != nullptr)
            velix::detail::reduce_packed(*reduction, info, a);
        else
            std::copy(info, info + pk_lower(q, 0), a);
    }
};

// Inverts H (packed, order b.q, the matrix of `source`) in place; returns
// the covariance status.  work: null, or packed_inverse_work(q) doubles
// for the inverse (else it takes an array of its own).
//   regular inverse (UDU', the three singularity criteria of the options)
//   singular: list the linear dependencies among the parameters, then a
//   generalized inverse with the tolerance of the options, or dropping as
//   many eigenvalues as the decomposition found negligible pivots; *ns
//   (out) receives the null space it dropped
// The arrays of order q that only a singular matrix needs (a copy for the
// listing, the eigenvectors of the generalized inverse) are taken then.
int32_t doinv(const EvalView& v, const Block& b, double* h, NullSpace* ns, const Source& source, double* work) {
    const int32_t q = b.q;
    const NlpHookBlock& hooks = *v.hooks;
    const int64_t packed = pk_lower(q, 0);
    const int64_t bytes = 8 * (6 * int64_t{q} + kInfoDoubles) + 4 * int64_t{q} + 2 * q + 4096;
    HostAllocator* pool = xmpoolc(bytes, 1024, 4096);
    if (pool == nullptr) {
        xmemmsg(bytes);
        return kCovFailed;
    }
    auto take = [&](int64_t count) {
        return pool->allocate(pool, static_cast<size_t>(std::max<int64_t>(count, 1)), 4096);
    };
    auto* info = static_cast<double*>(take(8 * kInfoDoubles));
    double* w[4];
    for (double*& x : w) x = static_cast<double*>(take(8 * int64_t{q}));
    auto* kpvt = static_cast<int32_t*>(take(4 * int64_t{q}));
    auto* flags = static_cast<char*>(take(q));
    int32_t status = kCovFailed;
    // The criteria judge the information in its correlation form: the
    // units of the variables and N leave it as it is.
    const SingularityCriteria crit =
        unit_free_criteria(hooks.cov.covSingAbs, hooks.cov.covSingRel, hooks.cov.covSingVar);
    if (xmemdef(flags) == 0 &&
        zcovinv(0, 0, q, crit.absolute, crit.largest, crit.own, h, info, w[0], w[1], kpvt, work) >= 0) {
        status = kCovRegular;
    } else if (xmemdef(flags) == 0) {
        const bool ginv = q <= hooks.cov.ginvMaxParams;
        const int64_t more = 8 * (packed + (ginv ? int64_t{q} * q : 0)) + 4096;
        HostAllocator* singular = xmpoolc(more, 1024, 4096);
        auto* swept = singular != nullptr ? static_cast<double*>(singular->allocate(singular, static_cast<size_t>(8 * packed), 4096)) : nullptr;
        auto* z = ginv && swept != nullptr ? static_cast<double*>(singular->allocate(singular, static_cast<size_t>(8 * int64_t{q} * q), 4096)) : nullptr;
        if (swept == nullptr || xmemdef(ginv ? static_cast<void*>(z) : swept) != 0) {
            xmemmsg(more);
        } else {
            // The linear dependencies among the parameters, from the matrix
            // as it was given.
            auto list_dependencies = [&] {
                source.into(q, swept);
                zcovlid(v.printEnabled && b.listing ? 4 : 0, 4, q, crit.absolute, crit.largest, crit.own, b.names,
                        b.x, swept, w[0], w[1], w[2], flags, v.kyrManager, nullptr);
            };
            list_dependencies();
            if (ginv) {
                source.into(q, h);
                const int32_t negligible = static_cast<int32_t>(info[4]);
                ns->diag.resize(static_cast<size_t>(q));
                for (int32_t k = 0; k < q; ++k) ns->diag[static_cast<size_t>(k)] = h[pk_lower(k, k)];
                if (ginv_unit_free(0, 0, q, negligible, hooks.cov.ginvTol, h, w[0], z, w[1], w[2], v.kyrManager,
                                   nullptr) >= 0) {
                    status = kCovGeneralized;
                    ns->basis.resize(static_cast<size_t>(q) * static_cast<size_t>(q));
                    ns->count = ginv_null_basis(q, z, w[0], nullptr, ns->basis.data());
                } else {
                    // The second attempt finds the generalized inverse failed
                    // already: the dependencies are listed once more, under
                    // the message, and there is no covariance.
                    ns->diag.clear();
                    xpmlog(kMsgProc, kMsgNoGeneralizedInverse);
                    list_dependencies();
                }
            }
        }
        xmpoold(singular);
    }
    if (status == kCovFailed) source.into(q, h);
    xmpoold(pool);
    return status;
}

// The active constraints at the solution as the optimizer left them: the
// parameters held at bounds (the last nActiveBounds entries of its free
// list) and its active general rows, linear and nonlinear (m rows of q),
// the nonlinear ones with their Jacobian at the estimates (the program was
// run there by the objective just before).  Apart from them, those it
// found linearly dependent on them: bounds of parameters it left in its
// free part with a nonzero state, and the rows behind the active ones in
// its list.  They restrict nothing the others do not, so the covariance
// goes without them; but when one bound is released the others stay, and
// a dependent one may then hold what the released one did.
struct ActiveSet {
    std::vector<int32_t> held;
    int32_t m = 0;
    std::vector<double> rows;
    std::vector<int32_t> dependentHeld;
    int32_t dependentM = 0;
    std::vector<double> dependentRows;
};

// The active set and its reduction.  False when the Jacobian of the
// nonlinear rows cannot be had.
bool active_constraints(const EvalView& v, ActiveSet* set, VariableReduction* out) {
    NlpProblem* nlp = v.nlp;
    const int32_t q = v.nParmFree;
    const bool listed = nlp->active.freeList != nullptr;
    const int32_t held = listed ? std::clamp(nlp->active.nActiveBounds, 0, q) : 0;
    const bool hasRows = nlp->active.activeList != nullptr && nlp->cb.conRowFn != nullptr;
    const int32_t m = hasRows ? std::max(nlp->active.nActiveLin, 0) : 0;
    const int32_t dependentM = hasRows ? std::max(nlp->active.nDepLin, 0) : 0;
    bool nonlinear = false;
    for (int32_t k = 0; k < m + dependentM; ++k) nonlinear = nonlinear || nlp->active.activeList[k] >= nlp->shape.nLinCon;
    if (nonlinear && cosjnlc(nlp) != 0) return false;
    if (listed) set->held.assign(nlp->active.freeList + (q - held), nlp->active.freeList + q);
    for (int32_t k = 0; listed && nlp->active.boundState != nullptr && k < q - held; ++k)
        if (nlp->active.boundState[nlp->active.freeList[k]] != 0) set->dependentHeld.push_back(nlp->active.freeList[k]);
    auto fetch = [&](int32_t first, int32_t count, std::vector<double>* into) {
        into->assign(static_cast<size_t>(count) * static_cast<size_t>(q), 0.0);
        for (int32_t k = 0; k < count; ++k) nlp->cb.conRowFn(nlp, nlp->active.activeList[first + k], into->data() + int64_t{k} * q);
    };
    set->m = m;
    fetch(0, m, &set->rows);
    set->dependentM = dependentM;
    fetch(m, dependentM, &set->dependentRows);
    velix::detail::variable_reduction(q, held, set->held.data(), m, set->rows.data(), out);
    return true;
}

// The score test of releasing each parameter's bound with every other
// active constraint kept (the dependent ones too), as (score, variance,
// change) triples, one per
// parameter, into out (3q doubles): the statistic is score^2 variance
// (unscaled) and the change the expected change of the parameter.  A
// parameter held at a bound is released along a direction the other
// constraints leave free (release_constraint); when they fix it as well,
// releasing its bound changes nothing (variance 0), and a direction they
// all but fix gives variance -1 (no test).  A parameter the optimizer did
// not hold is free in the covariance already: g_i, C_ii and -(C g)_i.
//   info  in   H (packed order q);  cov  in   the constrained covariance C
void bound_releases(const EvalView& v, const ActiveSet& set, const double* info, const double* cov, double* out) {
    const int32_t q = v.nParmFree;
    const double* g = v.st->gradient;
    std::vector<char> held(static_cast<size_t>(q), 0);
    for (int32_t h : set.held) held[static_cast<size_t>(h)] = 1;
    std::vector<double> z(static_cast<size_t>(q)), rows(set.rows);
    rows.insert(rows.end(), set.dependentRows.begin(), set.dependentRows.end());
    for (int32_t i = 0; i < q; ++i) {
        double* r = out + 3 * int64_t{i};
        if (!held[static_cast<size_t>(i)]) {
            r[0] = g[i];
            r[1] = cov[pk(i, i)];
            r[2] = 0.0;
            for (int32_t k = 0; k < q; ++k) r[2] -= cov[pk(i, k)] * g[k];
            continue;
        }
        std::vector<int32_t> others(set.dependentHeld);
        for (int32_t h : set.held)
            if (h != i) others.push_back(h);
        VariableReduction released;
        velix::detail::variable_reduction(q, static_cast<int32_t>(others.size()), others.data(), set.m + set.dependentM,
                                          rows.data(), &released);
        if (!velix::detail::moving_direction(released, i, z.data())) {
            r[0] = r[1] = r[2] = 0.0;
            continue;
        }
        const velix::detail::ReleasedConstraint t = velix::detail::release_constraint(q, info, cov, g, z.data(), i);
        r[0] = t.score;
        r[1] = t.valid ? t.variance : -1.0;
        r[2] = t.change;
    }
}

// The covariance of the estimates under the active constraints, unscaled:
// Z (Z'HZ)^-1 Z', zero in the rows and columns of held parameters, with
// the dependencies of a singular Z'HZ listed by the names of the reduced
// coordinates' parameters.  Returns the status of that inversion (failed
// when the constraints leave no direction free).
//   info  in   the information of all q parameters (packed)
//   cov   out  q(q+1)/2 doubles
//   ns    out  the null space of Z'HZ, in its coordinates
//   work  in   null, or packed_inverse_work(q) doubles for the inverse
int32_t constrained_inverse(const EvalView& v, const VariableReduction& active, const double* info, double* cov,
                            NullSpace* ns, double* work) {
    const NlpProblem& nlp = *v.nlp;
    const int32_t q = v.nParmFree, r = active.dim();
    std::fill(cov, cov + pk_lower(q, 0), 0.0);
    if (r == 0) return kCovFailed;
    std::vector<NameRecord> names(static_cast<size_t>(r));
    std::vector<double> x(static_cast<size_t>(r)), block(static_cast<size_t>(pk_lower(r, 0)));
    for (int32_t i = 0; i < r; ++i) {
        names[static_cast<size_t>(i)] = nlp.param.paramNames[active.free[static_cast<size_t>(i)]];
        x[static_cast<size_t>(i)] = nlp.param.x[active.free[static_cast<size_t>(i)]];
    }
    const Source source{info, &active};
    source.into(r, block.data());
    const int32_t status = doinv(v, {r, names.data(), x.data(), true}, block.data(), ns, source, work);
    if (status != kCovFailed) velix::detail::expand_packed(active, block.data(), cov);
    if (ns->count > 0) ns->reduction = &active;
    return status;
}

// The regular inverse the optimizer's covariance code left in
// st.covariance is of the information now in st.cross (at hand at the
// solution): it took that very array, which has not been written since
// (its tag is the one it had then).  The same matrix through a factor of
// the same rows has the same inverse, so it is not factored again.
bool kept_inverse(const EvalView& v) {
    const NlpCovResults& r = v.hooks->result;
    return r.inverseBuffer == v.st->covariance && r.crossProductBuffer == v.st->cross && r.inverseTag >= 0 &&
           r.inverseTag == r.crossProductTag;
}

// The inverse behind the standard errors, into cov: that of the model
// under the active constraints when there are any, else of the whole
// information (which cov holds already when `inverted`); the dependencies
// of a singular one are listed.  Returns the status.
//   info  in   the information H (packed order q), st.cross
//   work  in   null, or packed_inverse_work(q) doubles for the inverse
int32_t standard_error_inverse(const EvalView& v, const double* info, bool inverted, const VariableReduction& active,
                               double* cov, NullSpace* ns, double* work) {
    const int32_t q = v.nParmFree;
    if (inverted) return kCovRegular;
    if (active.dim() < q) return constrained_inverse(v, active, info, cov, ns, work);
    const Source source{info};
    source.into(q, cov);
    return doinv(v, {q, v.nlp->param.paramNames, v.nlp->param.x, true}, cov, ns, source, work);
}

// Calls f(p) for each dependent parameter p (a negative parameter number),
// whether a model element carries it or only the program uses it (an
// indirect effect a b).  Its entry follows the independent ones; the
// vector holds every parameter, and an entry beyond it is not written.
template <typename F>
void for_each_dependent(const EvalView& v, F&& f) {
    if (v.depParmNumbers == nullptr) return;
    for (int32_t r = 0; r < v.nParmDep; ++r) {
        const int32_t p = v.depParmNumbers[r];
        if (p < 0 && -p - 1 < v.nParmAll) f(p);
    }
}

// Standard errors: independent parameters from the diagonal, dependent
// ones by the delta method over the program's derivatives; missing for
// what is not estimable.
void standard_errors(const EvalView& v, const NullSpace& ns, const double* cov, double* se) {
    const int32_t q = v.nParmFree;
    const double scale = estimate_covariance_scale(v.method, v.nPrime);
    for (int32_t k = 0; k < q; ++k) {
        const double d = cov[pk_lower(k, k)];
        se[k] = d >= 0.0 && !ns.holds_parameter(q, k) ? std::sqrt(scale * d) : host_missing_value();
    }
    for_each_dependent(v, [&](int32_t p) {
        const double* g = velix::detail::dependent_derivatives(v, p);
        double var = 0.0;
        for (int32_t k = 0; k < q; ++k)
            for (int32_t l = 0; l < q; ++l) var += g[k] * g[l] * cov[pk(k, l)];
        se[-p - 1] = var >= 0.0 && !ns.holds(q, g) ? std::sqrt(scale * var) : host_missing_value();
    });
}

// The variance g' C g of a dependent parameter from the covariance the
// optimizer's covariance code saved: a diagonal (storage 2) gives the sum
// of g_k^2 C_kk, a packed matrix the full quadratic form.
double saved_variance(const EvalView& v, const double* g, const double* cov) {
    const int32_t q = v.nParmFree;
    double var = 0.0;
    for (int32_t k = 0; k < q; ++k) {
        if (v.hooks->cov.covStorage == 2) {
            var += g[k] * g[k] * cov[k];
            continue;
        }
        for (int32_t l = 0; l < q; ++l) var += g[k] * g[l] * cov[pk(k, l)];
    }
    return var;
}

// With dependent standard errors from the saved covariance: the record
// whose position the matrix directory keeps (word 11, byte 44), its
// summary and then q (diagonal) or q(q+1)/2 doubles, read into cov.
// Returns false when no covariance was saved.
bool read_saved_covariance(const EvalView& v, double* cov) {
    HostFile* file = v.hooks->cov.utilityFile;
    constexpr int64_t kCovariancePosition = 44;
    int32_t at = -1;
    if (file == nullptr || xcpoint(file, kCovariancePosition) != 0 || xcread(file, &at, 4) != 0 || at <= 0)
        return false;
    DeterminantRecord summary;
    const int32_t q = v.nParmFree;
    velix::detail::file_get(file, at, &summary.mantissa, sizeof summary / 8);
    velix::detail::file_get(file, at + static_cast<int64_t>(sizeof summary), cov,
                            v.hooks->cov.covStorage == 2 ? q : q * (q + 1) / 2);
    return true;
}

void saved_standard_errors(const EvalView& v, const NullSpace& ns, double* cov, double* se) {
    if (!read_saved_covariance(v, cov)) return;
    for_each_dependent(v, [&](int32_t p) {
        const double* g = velix::detail::dependent_derivatives(v, p);
        const double var = saved_variance(v, g, cov);
        se[-p - 1] = var >= 0.0 && !ns.holds(v.nParmFree, g) ? std::sqrt(var) : host_missing_value();
    });
}

// Writes `count` OUTEST= rows of _TYPE_ `type`; fill(row, name, values)
// gives row's _NAME_ and its value for every independent parameter.  The
// other numeric variables are missing.
template <typename Fill>
void outest_rows(const EvalView& v, const char* type, int32_t count, Fill&& fill) {
    OutputRowBuffer& row = *v.outRow;
    std::memset(row.type, ' ', sizeof row.type);
    std::memcpy(row.type, type, std::strlen(type));
    for (double* cell : v.outestCells) *cell = host_missing_value();
    for (int32_t r = 0; r < count; ++r) {
        NameRecord& name = row.name;
        std::memset(name.text, ' ', sizeof name.text);
        fill(r, name.text, v.nlp->param.paramRow);
        name.length = static_cast<int16_t>(sizeof name.text);
        cos_write_row(v.ctx, kRoleOutest);
    }
}

const char* method_name(int32_t method) {
    switch (method) {
        case kMethodUls:
            return "ULS";
        case kMethodGls:
            return "GLS";
        case kMethodMl:
            return "ML";
        case kMethodWls:
            return "WLS";
        default:
            return "DWLS";
    }
}

// J(m, k) of the mode in force, moment by moment: the walk in memory
// (mode 1), the sparse values (mode 11; formed again, DWLS weighted them)
// or the column file read in passes of as many moments as fit in a buffer
// of max(p*, q(q+1)/2) doubles (modes 2 and 3).
class JacobianReader {
   public:
    explicit JacobianReader(const EvalView& v) : v_(v), mode_(*v.jacobianMode) {
        if (mode_ == 11 && cosjasp(&v) != 0) mode_ = 1;
        if (mode_ == 2 || mode_ == 3) {
            // The problem's Hessian array, which receives the information
            // only after these rows, lends its space to the passes.
            const bool wide = pk_lower(v.nParmFree, 0) > v.pstar && v.nlp->hess.hessian != nullptr;
            buffer_ = wide ? v.nlp->hess.hessian : v.st->jac.other;
            pass_ = std::max<int64_t>(1, (wide ? pk_lower(v.nParmFree, 0) : v.pstar) / v.nParmFree);
        } else if (mode_ != 11) {
            mode_ = jacobian_walk(&v) == 0 ? 1 : -1;
        }
    }
    bool usable() const { return mode_ > 0; }
    double at(int32_t m, int32_t k) {
        const int64_t p = v_.pstar;
        if (mode_ == 1) return v_.st->jacobian[k * p + m];
        if (mode_ == 11) return sparse_at(m, k);
        if (first_ < 0 || m < first_ || m >= first_ + pass_) load(m);
        return buffer_[k * pass_ + (m - first_)];
    }

   private:
    void load(int32_t m) {
        first_ = m;
        const int64_t len = std::min<int64_t>(pass_, v_.pstar - m);
        for (int32_t k = 0; k < v_.nParmFree; ++k)
            velix::detail::file_get(v_.columnFile, 8 * (int64_t{v_.pstar} * k + m),
                                    buffer_ + k * pass_, static_cast<int32_t>(len));
    }
    double sparse_at(int32_t m, int32_t k) const {
        const JacobianStorage& jac = v_.st->jac;
        int32_t lo = k == 0 ? 0 : jac.rowEnd[k - 1], hi = jac.rowEnd[k];
        while (lo < hi) {  // the moments of a row ascend
            const int32_t mid = (lo + hi) / 2;
            if (pk_lower(jac.nzRow[mid], jac.nzCol[mid]) < m) lo = mid + 1;
            else hi = mid;
        }
        return lo < jac.rowEnd[k] && pk_lower(jac.nzRow[lo], jac.nzCol[lo]) == m ? jac.nzValue[lo] : 0.0;
    }
    const EvalView& v_;
    int32_t mode_;
    double* buffer_ = nullptr;
    int64_t pass_ = 0;
    int32_t first_ = -1;
};

// The JACOBIAN rows: row m holds dC_m/dtheta_k in the column of parameter
// k, always the plain Jacobian.
void jacobian_rows(const EvalView& v) {
    JacobianReader reader(v);
    if (!reader.usable()) return;
    const char* name = method_name(v.method);
    outest_rows(v, "JACOBIAN", v.pstar, [&](int32_t m, char* text, double* values) {
        std::memcpy(text, name, std::strlen(name));
        for (int32_t k = 0; k < v.nParmFree; ++k) values[k] = reader.at(m, k);
    });
}

// The INFORMAT rows: row k of the information matrix h, named by parameter k.
void information_rows(const EvalView& v, const double* h) {
    outest_rows(v, "INFORMAT", v.nParmFree, [&](int32_t k, char* text, double* values) {
        const NameRecord& n = v.nlp->param.paramNames[k];
        std::memcpy(text, n.text, static_cast<size_t>(std::clamp<int16_t>(n.length, 0, 32)));
        for (int32_t l = 0; l < v.nParmFree; ++l) values[l] = h[pk(k, l)];
    });
}

// The information as shown and written: the cross product of a weighted
// objective r'Wr is the optimizer's Gauss-Newton Hessian 2 J'WJ, which the
// covariance scale 2/(N-1) expects; the information shown is J'WJ, as for
// the other methods.  h itself, or its half in *halved.
const double* shown_information(const EvalView& v, const double* h, std::vector<double>* halved) {
    if (v.method != kMethodWls && v.method != kMethodDwls) return h;
    halved->assign(h, h + pk_lower(v.nParmFree, 0));
    for (double& x : *halved) x *= 0.5;
    return halved->data();
}

}  // namespace

double estimate_covariance_scale(int32_t method, double nPrime) {
    if (!(nPrime > 0.0)) return 0.0;
    switch (method) {
        case kMethodGls:
        case kMethodMl:
        case kMethodWls:
        case kMethodDwls: return 2.0 / nPrime;
        default: return 0.0;
    }
}

int32_t cosicrp(NlpProblem* nlp) {
    const EvalView v = eval_view(proc_context(nlp));
    EvaluationState& st = *v.st;
    st.covStatus = kCovNone;
    if (v.methodRequested == kMethodNone) return 1;
    if (*v.jacobianMode < 0) return 2;
    if (v.hooks == nullptr || v.hooks->cov.wantCovariance == 0) return 3;
    *v.jacobianMode = remapped_mode(*v.jacobianMode);
    const double phase = nlp->run.evalPhase;
    nlp->run.evalPhase = kFinalPhase;
    const int32_t rc = cosfunc(nlp);
    nlp->run.evalPhase = phase;
    if (rc != 0) {
        xpmlog(kMsgProc, kMsgNoInformation);
        return 2;
    }
    if (cosfdcj(nlp) != 0) return -1;
    ActiveSet set;
    VariableReduction active;
    if (!active_constraints(v, &set, &active) || (!velix::detail::cross_product_at_hand(v) && cosmcrp(&v) != 0)) {
        xpmlog(kMsgProc, kMsgNoInformation);
        return 3;
    }
    const int32_t q = v.nParmFree;
    const int64_t packed = pk_lower(q, 0);
    const bool constrained = active.dim() < q;
    const bool inverted = !constrained && kept_inverse(v);
    const bool rows = v.outestGiven && nlp->param.paramRow != nullptr;
    if (rows && v.hooks->cov.outestJacobian) jacobian_rows(v);
    const bool printed = v.hooks->cov.printCrossProduct && v.printEnabled;
    std::vector<double> halved;
    const double* shown = shown_information(v, st.cross, &halved);
    if (printed && velix::detail::publish_matrix(v.ctx, "Information", kTitleInformation, shown, q, q,
                                                 nlp->param.paramNames, nlp->param.paramNames, "sb", 8) < 0)
        return 0;
    // The problem's Hessian array ends holding the covariance; until then
    // it may serve as the work of an inverse.
    std::vector<double> own(nlp->hess.hessian != nullptr ? 0 : static_cast<size_t>(packed));
    double* h = nlp->hess.hessian != nullptr ? nlp->hess.hessian : own.data();
    double* work = nlp->hess.hessianDoubles >= velix::detail::packed_inverse_work(q) ? h : nullptr;
    // The standard errors, and the dependencies listed and warned of, are
    // those of the model under the active constraints; a least-squares
    // information gives no covariance here but names a model that is not
    // identified all the same.
    NullSpace ns;
    const bool leastSquares = v.method == kMethodUls || v.method == kMethodDwls;
    const int32_t seStatus = standard_error_inverse(v, st.cross, inverted, active, st.covariance, &ns, work);
    if (ns.count > 0) warn_not_identified(v, ns);
    if (leastSquares) return 0;
    if (rows) information_rows(v, shown);
    // The later results read the covariance of the estimates, and the
    // tests of the bounds (with MODIFICATION) what releasing each one
    // would do.
    st.covStatus = seStatus;
    std::copy(st.covariance, st.covariance + packed, h);
    if (st.covStatus == kCovRegular || st.covStatus == kCovGeneralized) {
        std::vector<double> releases(nlp->shape.hasBounds && v.modIndices ? 3 * static_cast<size_t>(q) : 0u);
        if (!releases.empty()) bound_releases(v, set, st.cross, st.covariance, releases.data());
        write_information_scratch(&v, st.covariance, releases.empty() ? nullptr : releases.data());
    }
    if (seStatus == kCovFailed) return 0;
    if (nlp->work.stdErrors) standard_errors(v, ns, st.covariance, nlp->work.stdErrors);
    if (nlp->work.stdErrors && v.hooks->cov.depStdErr) saved_standard_errors(v, ns, h, nlp->work.stdErrors);
    return 0;
}
