// Information matrix and covariance of the estimates (Browne 1984, eq. 2.12
// for the weighted least-squares forms; Bollen 1989, ch. 4 for ML): the
// cross product at the solution, evaluated with phase -1 so that no retry
// can move the estimates, inverted by the UDU' decomposition with the
// singularity criteria of the covariance options, or by a generalized
// inverse when singular; the variance of a dependent parameter by the delta
// method, g' Cov g.
//
//   checks; F at x (phase -1); H; "Information" table; ULS, DWLS: stop
//   regular inverse, else generalized inverse (at most G4 parameters)
//   standard errors
#include "procedure/evaluation/information.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/fields.h"
#include "numerics/covcorr.h"
#include "numerics/ginv.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "velix/evaluation_state.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"
#include "velix/types.h"

using velix::pk;
using velix::pk_lower;

namespace {

constexpr int32_t kMsgNoInformation = 52;
constexpr int32_t kTitleInformation = 741;
constexpr int32_t kMsgNoGeneralizedInverse = 54;
constexpr int32_t kDefaultGinvMax = 60;  // largest parameter count for a generalized inverse
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

// Inverts H (packed, order q) in place; returns the covariance status.
//   regular inverse (UDU', the three singularity criteria of the options)
//   singular: list the linear dependencies among the parameters, then a
//   generalized inverse with the tolerance of the options, or dropping as
//   many eigenvalues as the decomposition found negligible pivots
int32_t invert_information(const EvalView& v, double* h) {
    const int32_t q = v.nParmFree;
    const NlpHookBlock& hooks = *v.hooks;
    const int64_t packed = pk_lower(q, 0);
    const int64_t bytes = 8 * (int64_t{q} * q + 2 * packed + 6 * int64_t{q} + kInfoDoubles) +
                          4 * int64_t{q} + 2 * q + 4096;
    HostAllocator* pool = xmpoolc(bytes, 1024, 4096);
    if (pool == nullptr) {
        xmemmsg(bytes);
        return kCovFailed;
    }
    auto take = [&](int64_t count) {
        return pool->allocate(pool, static_cast<size_t>(std::max<int64_t>(count, 1)), 4096);
    };
    auto* info = static_cast<double*>(take(8 * kInfoDoubles));
    auto* copy = static_cast<double*>(take(8 * packed));
    auto* swept = static_cast<double*>(take(8 * packed));
    auto* z = static_cast<double*>(take(8 * int64_t{q} * q));
    double* work[4];
    for (double*& w : work) w = static_cast<double*>(take(8 * int64_t{q}));
    auto* kpvt = static_cast<int32_t*>(take(4 * int64_t{q}));
    auto* flags = static_cast<char*>(take(q));
    int32_t status = kCovFailed;
    if (xmemdef(flags) == 0) {
        std::copy(h, h + packed, copy);
        if (zcovinv(0, 0, q, hooks.cov.covSingAbs, hooks.cov.covSingRel, hooks.cov.covSingVar, h, info, work[0],
                    work[1], kpvt) >= 0) {
            status = kCovRegular;
        } else {
            std::copy(copy, copy + packed, swept);
            zcovlid(v.printEnabled ? 4 : 0, 4, q, hooks.cov.covSingAbs, hooks.cov.covSingRel,
                    hooks.cov.covSingVar, v.nlp->param.paramNames, v.nlp->param.x, swept, work[0], work[1], work[2],
                    flags, v.kyrManager, nullptr);
            const int32_t limit = hooks.cov.ginvMaxParams > 0 ? hooks.cov.ginvMaxParams : kDefaultGinvMax;
            if (q <= limit) {
                std::copy(copy, copy + packed, h);
                const double tol = hooks.cov.ginvTol > 0.0 && !wzmis(hooks.cov.ginvTol)
                                       ? hooks.cov.ginvTol
                                       : host_missing_value();
                const int32_t negligible = static_cast<int32_t>(info[4]);
                if (zcovgiv(0, 0, q, negligible, tol, h, work[0], z, work[1], v.kyrManager,
                            nullptr) >= 0)
                    status = kCovGeneralized;
                else
                    xpmlog(kMsgProc, kMsgNoGeneralizedInverse);
            }
        }
    }
    if (status == kCovFailed) std::copy(copy, copy + packed, h);
    xmpoold(pool);
    return status;
}

// Standard errors: independent parameters from the diagonal, dependent
// ones by the delta method over the program's derivatives.
void standard_errors(const EvalView& v, const double* cov, double* se) {
    const int32_t q = v.nParmFree;
    const double scale = estimate_covariance_scale(v.method, v.divisor);
    for (int32_t k = 0; k < q; ++k) {
        const double d = cov[pk_lower(k, k)];
        se[k] = d >= 0.0 ? std::sqrt(scale * d) : host_missing_value();
    }
    for (int32_t e = 0; e < v.nElements; ++e) {
        const int32_t p = v.el->parameter[e];
        // A dependent parameter's entry follows the independent ones; the
        // vector holds every parameter, and an entry beyond it is not written.
        if (p >= 0 || -p - 1 >= v.nParmAll) continue;
        const double* g = velix::detail::dependent_derivatives(v, p);
        double var = 0.0;
        for (int32_t k = 0; k < q; ++k)
            for (int32_t l = 0; l < q; ++l) var += g[k] * g[l] * cov[pk(k, l)];
        se[-p - 1] = var >= 0.0 ? std::sqrt(scale * var) : host_missing_value();
    }
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

void saved_standard_errors(const EvalView& v, double* cov, double* se) {
    if (!read_saved_covariance(v, cov)) return;
    for (int32_t e = 0; e < v.nElements; ++e) {
        const int32_t p = v.el->parameter[e];
        if (p >= 0 || -p - 1 >= v.nParmAll) continue;
        const double var = saved_variance(v, velix::detail::dependent_derivatives(v, p), cov);
        se[-p - 1] = var >= 0.0 ? std::sqrt(var) : host_missing_value();
    }
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
            const bool wide = pk_lower(v.nParmFree, 0) > v.pstar;
            buffer_ = wide ? v.st->cross : v.st->jac.other;
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

}  // namespace

double estimate_covariance_scale(int32_t method, double divisor) {
    if (!(divisor > 0.0)) return 0.0;
    switch (method) {
        case kMethodGls:
        case kMethodMl:
        case kMethodWls:
        case kMethodDwls: return 2.0 / divisor;
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
    if (cross_product_by_mode(&v) != 0) {
        xpmlog(kMsgProc, kMsgNoInformation);
        return 3;
    }
    const int32_t q = v.nParmFree;
    double* h = nlp->hess.hessian ? nlp->hess.hessian : st.covariance;
    std::copy(st.cross, st.cross + pk_lower(q, 0), h);
    const bool rows = v.outestGiven && nlp->param.paramRow != nullptr;
    if (rows && v.hooks->cov.outestJacobian) jacobian_rows(v);
    if (v.hooks->cov.printCrossProduct && v.printEnabled &&
        velix::detail::publish_matrix(v.ctx, "Information", kTitleInformation, h, q, q,
                                      nlp->param.paramNames, nlp->param.paramNames, "sb", 8) < 0)
        return 0;
    if (v.method == kMethodUls || v.method == kMethodDwls) return 0;
    if (rows) information_rows(v, h);
    st.covStatus = invert_information(v, h);
    if (st.covStatus == kCovFailed) return 0;
    if (h != st.covariance) std::copy(h, h + pk_lower(q, 0), st.covariance);
    if (nlp->work.stdErrors) standard_errors(v, st.covariance, nlp->work.stdErrors);
    if (nlp->work.stdErrors && v.hooks->cov.depStdErr) saved_standard_errors(v, h, nlp->work.stdErrors);
    return 0;
}
