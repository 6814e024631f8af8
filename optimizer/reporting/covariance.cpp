// The covariance hook and the approximate covariance matrix of the
// estimates.  At the final point the hook evaluates the matrices that the
// user asked for (the least-squares Jacobian, the cross-product matrices K1
// and K2, the Hessian H), stores them with their projections onto the null
// space of the active constraints on the hook's matrix file, and forms the
// covariance of the COV type in force: an inverse (sigma^2 H^-1, sigma^2
// K^-1) or a sandwich (sigma^2 A^-1 B A^-1, the Huber-White form; White,
// Econometrica 48, 1980; Gallant, "Nonlinear Statistical Models", 1987,
// ch. 3).  A singular matrix is retried on the bordered matrix of the
// active constraints, or given a generalized inverse (Rao and Mitra,
// "Generalized Inverse of Matrices", 1971) when it is small enough.
//
//   znlpcma(flag)
//     directory of -1; which matrices; evaluate and store J, K1 (+proj),
//     H (+proj), K2 (+proj); rewrite the directory; restore the point's
//     state; flag 1 with a COV type: znlpcov
//   znlpcov
//     nActive >= n: note, done; divisor d and sigma^2; invert the matrix of
//     the type (projected, then bordered, then generalized); sandwich or
//     scale; widen to n; write the covariance and the standard errors
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "host/scratch_file.h"
#include "numerics/cholesky.h"
#include "numerics/covcorr.h"
#include "numerics/ginv.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/reporting/report_table.h"
#include "optimizer/reporting/reporting.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/vardef.h"

using velix::pk;
using velix::pk_lower;

namespace {

// Messages of group kMsgNlp.
constexpr int32_t kMsgSigsqFactorUnused = 184;
constexpr int32_t kMsgCovFailed = 186;
constexpr int32_t kMsgAllActive = 187;
constexpr int32_t kMsgCovNoMemory = 188;
constexpr int32_t kMsgCovDependencies = 189;
constexpr int32_t kMsgGinvFailed = 190;
constexpr int32_t kMsgGinvUsed = 191;
constexpr int32_t kMsgJacobianFailed = 192;  // also the cross-product matrices
constexpr int32_t kMsgHessianFailed = 193;
constexpr int32_t kMsgLagrangianFailed = 229;
// The closing notes on a covariance formed from Lagrangian matrices.
constexpr int32_t kMsgLagHessianUsed = 185;
constexpr int32_t kMsgLagCrossProductUsed = 255;
constexpr int32_t kMsgLagBothUsed = 256;
constexpr int32_t kMsgNoMatrixFile = 905;

constexpr int64_t kHeaderBytes = sizeof(DeterminantRecord);

int64_t packed(int64_t n) { return n * (n + 1) / 2; }
int64_t form_length(int32_t form, int64_t n) { return form == 2 ? n : packed(n); }

// ---- the matrix file ----

void file_at(const NlpHookBlock* h, int64_t position) { scratch_check(xcpoint(h->cov.utilityFile, position)); }

void write_directory(const NlpHookBlock* h, const int32_t* dir) {
    file_at(h, 0);
    scratch_check(xcwrite(h->cov.utilityFile, dir, sizeof(int32_t) * kDirWords));
}

// Appends a record at *next: header, then count values.  Returns its offset.
int32_t append_record(const NlpHookBlock* h, int64_t* next, const DeterminantRecord& header,
                      const double* values, int64_t count) {
    const int64_t at = *next;
    file_at(h, at);
    scratch_check(xcwrite(h->cov.utilityFile, &header, kHeaderBytes));
    scratch_check(xcwrite(h->cov.utilityFile, values, count * static_cast<int64_t>(sizeof(double))));
    *next = at + kHeaderBytes + count * static_cast<int64_t>(sizeof(double));
    return static_cast<int32_t>(at);
}

// A message in the log and, unless printing is off, as a centred note.
void log_and_note(const NlpProblem* p, int32_t number) {
    xpmlog(kMsgNlp, number);
    if (p->opt.printLevel != 0.0 && p->out.kyrObject != nullptr)
        velix::report::centred_note(p->out.kyrObject, kyrmsg(kMsgNlp, number));
}

// ---- znlpcma ----

struct Requests {
    bool jacobian = false, crossProduct = false, hessian = false, crossProduct2 = false;
    bool project = false;
    bool lagrangian = false;  // H and K1 also as Hessians of the Lagrange function
};

Requests requests_of(const NlpProblem* p, int32_t flag, int32_t covType) {
    const NlpHookBlock* h = p->hooks;
    const NlpMatrixRequests& r = h->matrices;
    Requests q;
    if (flag == 1) {
        q.jacobian = r.wantJacobian != 0;
        q.crossProduct = r.wantCrossProduct != 0;
        q.hessian = r.wantHessian != 0;
    } else if (p->opt.technique != kTechNone) {
        // The start-phase switches are the owner's print and OUTEST=
        // switches too: an owner that installs no Jacobian slot writes its
        // Jacobian itself and asks nothing of the optimizer here.
        q.jacobian = (r.printJacobian != 0 || h->cov.outestJacobian != 0) && h->eval.jacobianFn != nullptr;
        q.crossProduct = h->cov.printCrossProduct != 0 || r.outestCrossProduct != 0;
        q.hessian = h->cov.printHessian != 0 || r.outestHessian != 0;
    }
    // K2 enters the sandwich types 1 and 6 and the inverse type 5 of a
    // least-squares objective, the types 3, 4 and 6 of any other.
    const bool k2Type = p->shape.leastSquares ? (covType == 1 || covType == 5 || covType == 6)
                                        : (covType == 3 || covType == 4 || covType == 6);
    q.crossProduct2 = flag == 1 && r.wantCrossProduct != 0 && k2Type;
    if (flag == 1 && covType != 0) {
        // The matrices the COV type is formed from are evaluated also when
        // they were not asked for by name (and their slot is there): without
        // them the covariance could only fail.
        const bool hType = covType != 3 && covType != 5 && covType != 6;
        const bool k1Type = p->shape.leastSquares ? (covType == 3 || covType == 4 || covType == 6)
                                            : (covType == 1 || covType == 5 || covType == 6);
        q.hessian = q.hessian || (hType && h->eval.hessianFn != nullptr);
        q.crossProduct = q.crossProduct || (k1Type && h->eval.crossProductFn != nullptr);
        q.crossProduct2 = q.crossProduct2 || (k2Type && h->eval.crossProductFn != nullptr);
    }
    const int32_t nActive = p->active.nActiveBounds + p->active.nActiveLin;
    q.project = p->opt.conFactorForm != 2 && nActive > 0 && nActive < p->shape.nParams &&
                (p->active.nActiveLin == 0 || p->opt.conFactorForm == 1);
    // At a point on active nonlinear constraints the curvature of the
    // estimates' surface is that of the Lagrange function; after the start
    // phase only at a feasible start.
    q.lagrangian = q.project && p->shape.hasNlinCon && p->active.nActiveLin > 0 && p->opt.conFactorForm == 1 &&
                   (flag == 1 || p->iter.maxConViolation < p->opt.feasTol);
    return q;
}

int32_t call_slot(NlpProblem* p, NlpCallback slot) { return slot == nullptr ? 1 : slot(p); }

// The objective at x, through the hook block's override when set.
int32_t objective(NlpProblem* p) {
    p->run.lastEval = kLastObjective;
    return call_slot(p, p->hooks->eval.objectiveFn != nullptr ? p->hooks->eval.objectiveFn : p->cb.objectiveFn);
}

// Where a matrix and its Lagrangian form go: the directory words of the
// plain record and of the Lagrangian one (each followed by its
// projection), the storage form and the failure messages.
struct MatrixSlot {
    NlpCallback fn;
    int32_t form;
    int32_t failMessage;
    int32_t plain;
    int32_t lagrangian;  // -1: the matrix has no Lagrangian form
};

// Appends the projection of the packed or diagonal matrix m (form) onto
// the null space of the active constraints at directory word `word`.
void store_projection(NlpProblem* p, int32_t form, double* m, int32_t word, int32_t* dir, int64_t* next,
                      std::vector<double>& projected) {
    znlphpr(p, 2, 1, form, nullptr, m, projected.data());
    const int32_t dim = p->shape.nParams - p->active.nActiveBounds - p->active.nActiveLin;
    const int32_t pform = p->active.nActiveLin > 0 ? 0 : form;
    dir[word] = append_record(p->hooks, next, DeterminantRecord{}, projected.data(), form_length(pform, dim));
}

// The Lagrangian form of the stored record at dir[slot.plain]: read back
// (packed), the objective evaluated again and the constraint curvature
// subtracted; stored always packed, with its projection.
void store_lagrangian(NlpProblem* p, const MatrixSlot& slot, int32_t* dir, int64_t* next,
                      std::vector<double>& projected) {
    const NlpHookBlock* h = p->hooks;
    const int32_t n = p->shape.nParams;
    std::vector<double> lag(static_cast<size_t>(packed(n)), 0.0);
    DeterminantRecord header;
    if (slot.form == 2) {
        std::vector<double> diag(static_cast<size_t>(n));
        znlp_read_record(h, dir[slot.plain], &header, diag.data(), n);
        for (int32_t i = 0; i < n; ++i) lag[pk(i, i)] = diag[static_cast<size_t>(i)];
    } else {
        znlp_read_record(h, dir[slot.plain], &header, lag.data(), packed(n));
    }
    if (objective(p) != 0 || (p->run.lastEval = kLastHessian, znlphlf(p, lag.data(), *next)) != 0) {
        xpmlog(kMsgNlp, kMsgLagrangianFailed);
        return;
    }
    dir[slot.lagrangian] = append_record(h, next, DeterminantRecord{}, lag.data(), packed(n));
    store_projection(p, 0, lag.data(), slot.lagrangian + 1, dir, next, projected);
}

// Evaluates one matrix into p->hess.hessian with the slot; false, with the
// slot's message, when it failed.
bool evaluate_matrix(NlpProblem* p, const MatrixSlot& slot) {
    if (objective(p) != 0 || (p->run.lastEval = kLastHessian, call_slot(p, slot.fn)) != 0 || slot.form == 1) {
        xpmlog(kMsgNlp, slot.failMessage);
        return false;
    }
    return true;
}

// Stores the matrix in p->hess.hessian (and its projection, and with
// `lagrangian` its Lagrangian form) in the directory.
void record_matrix(NlpProblem* p, const MatrixSlot& slot, const Requests& q, int32_t* dir, int64_t* next,
                   std::vector<double>& projected) {
    const int32_t n = p->shape.nParams;
    dir[slot.plain] = append_record(p->hooks, next, DeterminantRecord{}, p->hess.hessian, form_length(slot.form, n));
    if (q.project) store_projection(p, slot.form, p->hess.hessian, slot.plain + 1, dir, next, projected);
    if (q.lagrangian && slot.lagrangian >= 0) store_lagrangian(p, slot, dir, next, projected);
}

void store_matrix(NlpProblem* p, const MatrixSlot& slot, const Requests& q, int32_t* dir, int64_t* next,
                  std::vector<double>& projected) {
    if (evaluate_matrix(p, slot)) record_matrix(p, slot, q, dir, next, projected);
}

// A packed array of order n made on first use: where the hook evaluates a
// matrix that has no array of the owner's to go to.
struct Scratch {
    std::vector<double> v;
    double* get(const NlpProblem* p) {
        if (v.empty()) v.assign(static_cast<size_t>(p->shape.packedLen) + 1, 0.0);
        return v.data();
    }
};

// K1 as the hook took it, held in memory when the covariance of the type
// is sigma^2 K1^-1 of all parameters.
struct HeldCrossProduct {
    const double* values = nullptr;  // packed K1; null: not held
    int64_t tag = -1;                // the owner's tag when it lies in the owner's array, else -1
    int32_t hessianCalls = -1;       // run.nHess before K1 was evaluated
    int32_t record = -1;             // the offset of its record, when it was also stored
};

// Defined with znlpcov below.
bool inverts_cross_product(const NlpProblem* p, int32_t type);
bool covariance_from_memory(NlpProblem* p, const HeldCrossProduct& k1, int32_t* dir, int64_t next);

// K1 into the owner's array when it lends one (else scratch of the hook's
// own), stored unless it is held for the covariance and no one reads its
// record back.
HeldCrossProduct take_cross_product(NlpProblem* p, const MatrixSlot& slot, const Requests& q, bool hold,
                                    int32_t* dir, int64_t* next, std::vector<double>& projected,
                                    Scratch* scratch) {
    const NlpCovResults& r = p->hooks->result;
    HeldCrossProduct k1;
    p->hess.hessian = r.crossProductBuffer != nullptr ? r.crossProductBuffer : scratch->get(p);
    k1.hessianCalls = p->run.nHess;
    if (!evaluate_matrix(p, slot)) return HeldCrossProduct{};
    if (r.crossProductBuffer != nullptr) k1.tag = r.crossProductTag;
    if (!hold || znlp_prints_cross_product(p)) record_matrix(p, slot, q, dir, next, projected);
    if (hold) {
        k1.values = p->hess.hessian;
        k1.record = dir[slot.plain];
    }
    return k1;
}

}  // namespace

int32_t znlp_cov_type(const NlpProblem* p) {
    const NlpHookBlock* h = p->hooks;
    if (h == nullptr) return 0;
    const int32_t given = p->shape.leastSquares ? h->cov.lsCovKind : h->cov.covKind;
    if (given != 0) return given;
    return h->cov.wantCovariance != 0 ? (p->shape.leastSquares ? 3 : 2) : 0;
}

int32_t znlp_hessian_form(const NlpProblem* p) {
    return p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
}

int32_t znlp_cross_product_form(const NlpProblem* p) {
    return p->shape.leastSquares || p->hooks == nullptr ? p->opt.hessianStorage : p->hooks->cov.crossProductStorage;
}

void znlpcma(NlpProblem* p, int32_t flag) {
    NlpHookBlock* h = p->hooks;
    if (h == nullptr) return;
    const NlpMatrixRequests& r = h->matrices;
    if (r.wantJacobian == 0 && r.wantHessian == 0 && r.wantCrossProduct == 0 && h->cov.wantCovariance == 0) return;
    if (h->cov.utilityFile == nullptr) {
        xpmlog(kMsgNlp, kMsgNoMatrixFile);
        return;
    }
    int32_t dir[kDirWords];
    std::fill(dir, dir + kDirWords, -1);
    write_directory(h, dir);
    h->result.inverseTag = -1;  // the matrix it was the inverse of is gone
    const int32_t covType = znlp_cov_type(p);
    const Requests q = requests_of(p, flag, covType);
    if (!q.jacobian && !q.crossProduct && !q.hessian && !q.crossProduct2 && covType == 0) return;

    // The evaluations below must not disturb the run's own state.
    const double f = p->iter.f, phase = p->run.evalPhase;
    double* const hessian = p->hess.hessian;
    const int32_t hasLin = p->shape.hasLinCon, hasNlin = p->shape.hasNlinCon;
    if (!(q.project && p->active.nActiveLin > 0)) p->shape.hasLinCon = p->shape.hasNlinCon = 0;
    p->run.evalPhase = flag == 1 ? kPhaseFinal : kPhaseStart;
    // The projections need their own space only with active constraints.
    std::vector<double> projected(q.project ? static_cast<size_t>(p->shape.packedLen) + 1 : 0);
    Scratch crossScratch, otherScratch;
    int64_t next = kMatrixRecordsStart;

    // The other matrices (and anything a Jacobian slot may leave in the
    // Hessian array) go to scratch of the hook's own.
    if (q.jacobian || q.hessian || q.crossProduct2) p->hess.hessian = otherScratch.get(p);
    if (q.jacobian) {
        if (objective(p) != 0 || (p->run.lastEval = kLastGradient, call_slot(p, h->eval.jacobianFn)) != 0)
            xpmlog(kMsgNlp, kMsgJacobianFailed);
        else
            dir[kDirJacobian] = 0;
    }
    const int32_t kpForm = znlp_cross_product_form(p);
    // A covariance sigma^2 K1^-1 of all parameters is formed from K1 in
    // memory; its record is written only for those who read it back.
    const bool hold = flag == 1 && covType != 0 && inverts_cross_product(p, covType) && kpForm == 0 &&
                      p->active.nActiveBounds + p->active.nActiveLin == 0;
    HeldCrossProduct k1;
    if (q.crossProduct)
        k1 = take_cross_product(p, {h->eval.crossProductFn, kpForm, kMsgJacobianFailed, kDirCrossProduct,
                                    kDirLagCrossProduct},
                                q, hold, dir, &next, projected, &crossScratch);
    if (q.hessian || q.crossProduct2) p->hess.hessian = otherScratch.get(p);
    if (q.hessian)
        store_matrix(p, {h->eval.hessianFn, znlp_hessian_form(p), kMsgHessianFailed, kDirHessian, kDirLagHessian}, q, dir,
                     &next, projected);
    if (q.crossProduct2) {
        p->report.crossProductVariant = 1;
        store_matrix(p, {h->eval.crossProductFn, kpForm, kMsgJacobianFailed, kDirCrossProduct2, -1}, q, dir, &next,
                     projected);
        p->report.crossProductVariant = 0;
    }
    write_directory(h, dir);

    p->hess.hessian = hessian;
    p->shape.hasLinCon = hasLin;
    p->shape.hasNlinCon = hasNlin;
    p->run.evalPhase = phase;
    p->iter.f = f;
    if (flag == 1 && covType != 0) {
        vzfdl(host_missing_value(), p->work.stdErrors, p->shape.nParams);
        if (k1.values == nullptr || !covariance_from_memory(p, k1, dir, next)) {
            // Singular by the criteria: the way of the stored records, with
            // its dependency listing and generalized inverse.
            if (k1.values != nullptr && dir[kDirCrossProduct] < 0) {
                dir[kDirCrossProduct] =
                    append_record(h, &next, DeterminantRecord{}, k1.values, static_cast<int64_t>(p->shape.packedLen));
                write_directory(h, dir);
            }
            znlpcov(p, next, k1.tag);
        }
        p->iter.f = f;
    }
    if (flag == 1 && q.project) znlpgmx(p, 0, nullptr);
    p->hess.kept = NlpKeptFactor{};
}

// ---------------------------------------------------------------------------
// znlpcov

namespace {

// Which stored matrix stands for A (the inverted one) and B (the inner one
// of a sandwich) for each COV type, by objective kind.
enum Mat { kH, kK1, kK2, kNone };
struct TypeForm {
    Mat outer;
    Mat inner;
};
TypeForm type_form(int32_t type, bool leastSquares) {
    switch (type) {
        case 1: return {kH, leastSquares ? kK2 : kK1};
        case 2: return {kH, kNone};
        case 3: return {leastSquares ? kK1 : kK2, kNone};
        case 4: return {kH, leastSquares ? kK1 : kK2};
        case 5: return {leastSquares ? kK2 : kK1, kNone};
        default: return {kK1, kK2};
    }
}

// The variance factor sigma^2 for the divisor d.
double variance_factor(const NlpProblem* p, int32_t type, double nObs, double d) {
    const NlpHookBlock* h = p->hooks;
    const double given = h->matrices.sigmaSqGiven;
    if (!wzmis(given) && given != 0.0) return given;
    const bool factorGiven = !wzmis(h->cov.sigsqFactor);
    const bool byN = p->shape.leastSquares ? (type == 1 || type == 6) : (type == 1 || type == 2 || type == 5 || type == 6);
    const bool byOne = p->shape.leastSquares ? type == 5 : (type == 3 || type == 4);
    if (byN || byOne) {
        if (factorGiven && p->shape.leastSquares) xpmlog(kMsgNlp, kMsgSigsqFactorUnused);
        return byN ? nObs / d : 1.0 / d;
    }
    return factorGiven ? std::fabs(h->cov.sigsqFactor * nObs / d) : std::fabs(2.0 * p->iter.f / d);
}

// The variance divisor d (into errorDf) and the variance factor sigma^2
// (into sigmaSq, and the result) with nActive parameters held by active
// constraints.
double divisor_and_variance_factor(NlpProblem* p, int32_t type, int32_t nActive) {
    NlpHookBlock* h = p->hooks;
    const double nObs = h->cov.nObsRef != nullptr ? *h->cov.nObsRef : 0.0;
    const double n = p->shape.nParams;
    const double charged = wzmis(h->cov.nParamsForDf) ? n - nActive : h->cov.nParamsForDf - nActive;
    double d = 0.0;
    if (!velix::vardef_divisor(h->matrices.vardef, nObs, charged, nObs, &d))
        nlp_internal_error("znlpcov: unknown VARDEF kind");
    d = std::max(d, 1.0);
    h->result.errorDf = d;
    h->result.sigmaSq = variance_factor(p, type, nObs, d);
    return h->result.sigmaSq;
}

// The problem's Hessian array as the work of a blocked inverse of order n
// when it holds enough (the matrices of the covariance are elsewhere);
// null: the inverse takes an array of its own.
double* inverse_work(const NlpProblem* p) {
    const int64_t need = velix::detail::packed_inverse_work(p->shape.nParams);
    return p->hess.hessian != nullptr && p->hess.hessianDoubles >= need ? p->hess.hessian : nullptr;
}

// One matrix read back from the file at dimension dim (n or the projected
// dimension) in its storage form; `bordered` appends the active rows.
struct Matrix {
    int32_t dim = 0;
    int32_t form = 0;  // 2 diagonal, else packed
    DeterminantRecord header;
    int32_t position = -1;
    bool lagrangian = false;  // read from a Lagrangian record
    std::vector<double> v;
};

struct CovRun {
    NlpProblem* p;
    const NlpHookBlock* h;
    int32_t dir[kDirWords];
    int32_t n, nActive, dim;
    bool projected;  // the first attempt works on the projected records
    // The parameters a generalized inverse leaves undetermined: their
    // standard errors are missing.
    std::vector<char> undetermined;
    int64_t k1Tag = -1;  // the owner's tag of the K1 stored, or -1

    // The singularity criteria, judged on the correlation form of each
    // matrix, so that the units of the parameters do not decide them.
    SingularityCriteria criteria() const {
        return unit_free_criteria(h->cov.covSingAbs, h->cov.covSingRel, h->cov.covSingVar);
    }

    // H and K1 stand in their Lagrangian form when it was stored (and the
    // plain matrices are not asked for); K2 has none.
    bool lagrangian(Mat m, bool proj) const {
        if (m == kK2 || h->matrices.plainMatrices != 0) return false;
        return dir[(m == kH ? kDirLagHessian : kDirLagCrossProduct) + (proj ? 1 : 0)] >= 0;
    }
    int32_t word(Mat m, bool proj) const {
        const bool lag = lagrangian(m, proj);
        const int32_t base = m == kH    ? (lag ? kDirLagHessian : kDirHessian)
                             : m == kK1 ? (lag ? kDirLagCrossProduct : kDirCrossProduct)
                                        : kDirCrossProduct2;
        return base + (proj ? 1 : 0);
    }
    int32_t form_of(Mat m, bool proj) const {
        if ((proj && p->active.nActiveLin > 0) || lagrangian(m, proj)) return 0;
        return m == kH ? znlp_hessian_form(p) : znlp_cross_product_form(p);
    }
    // Reads matrix m; false when it was not stored.
    bool read(Mat m, bool proj, Matrix* out) const {
        const int32_t at = dir[word(m, proj)];
        if (at < 0) return false;
        out->dim = proj ? dim : n;
        out->form = form_of(m, proj);
        out->lagrangian = lagrangian(m, proj);
        out->position = at;
        out->v.assign(static_cast<size_t>(form_length(out->form, out->dim)), 0.0);
        znlp_read_record(h, at, &out->header, out->v.data(), static_cast<int64_t>(out->v.size()));
        return true;
    }
};

// A diagonal matrix as a packed one.
void to_packed(Matrix* m) {
    if (m->form != 2) return;
    std::vector<double> full(static_cast<size_t>(packed(m->dim)), 0.0);
    for (int32_t i = 0; i < m->dim; ++i) full[pk(i, i)] = m->v[i];
    m->v.swap(full);
    m->form = 0;
}

// The bordered matrix [A C'; C 0] of dimension n + nActive, C the active
// rows: a unit row per active bound, the constraint row of each active
// general constraint.
void border(NlpProblem* p, Matrix* a) {
    to_packed(a);
    const int32_t n = p->shape.nParams, nb = p->active.nActiveBounds, nl = p->active.nActiveLin, big = n + nb + nl;
    a->v.resize(static_cast<size_t>(packed(big)), 0.0);
    std::vector<double> row(static_cast<size_t>(n));
    for (int32_t k = 0; k < nb + nl; ++k) {
        std::fill(row.begin(), row.end(), 0.0);
        if (k < nb)
            row[p->active.freeList[n - nb + k]] = 1.0;
        else if (p->cb.conRowFn != nullptr)
            p->cb.conRowFn(p, p->active.activeList[k - nb], row.data());
        for (int32_t j = 0; j < n; ++j) a->v[pk(n + k, j)] = row[j];
    }
    a->dim = big;
}

// The leading n x n block of a packed matrix of larger order.
void leading_block(Matrix* a, int32_t n) {
    a->v.resize(static_cast<size_t>(packed(n)));
    a->dim = n;
}

// zcovinv on a; the header counts are written back.  true when regular.
bool regular_inverse(CovRun& run, Matrix* a) {
    const NlpHookBlock* h = run.h;
    const size_t d = static_cast<size_t>(a->dim);
    std::vector<double> sd(d), tolv(d);
    std::vector<int32_t> kpvt(d);
    double info[5] = {};
    const SingularityCriteria crit = run.criteria();
    const int32_t rc = zcovinv(0, a->form, a->dim, crit.absolute, crit.largest, crit.own, a->v.data(), info, sd.data(),
                               tolv.data(), kpvt.data(), inverse_work(run.p));
    a->header = {info[0], info[1], info[2], info[3], info[4]};
    if (a->position >= 0) znlp_write_header(h, a->position, &a->header);
    return rc >= 0;
}

// The generalized inverse of the re-read matrix a (rank deficiency from
// the failed regular inversion).  true on success.
bool generalized_inverse(CovRun& run, Matrix* a, int32_t deficiency) {
    NlpProblem* p = run.p;
    const size_t d = static_cast<size_t>(a->dim);
    std::vector<double> dd(d), e(d), z(d * d), diag(d), s(d);
    for (size_t i = 0; i < d; ++i) diag[i] = a->form == 2 ? a->v[i] : a->v[pk(i, i)];
    HostObject* table = nullptr;
    const int32_t print = run.h->matrices.ginvDetail != 0 && p->opt.printLevel != 0.0 ? 4 : 0;
    const int32_t rc = ginv_unit_free(print, a->form == 2 ? 2 : 0, a->dim, deficiency, run.h->cov.ginvTol, a->v.data(),
                                      dd.data(), z.data(), e.data(), s.data(), p->out.kyrObject, &table);
    if (rc < 0) {
        log_and_note(p, kMsgGinvFailed);
        return false;
    }
    run.undetermined.assign(d, 0);
    if (a->form == 2) {
        for (size_t i = 0; i < d; ++i) run.undetermined[i] = e[i] == 0.0;
        a->v.assign(e.begin(), e.end());
    } else {
        std::vector<double> basis(d * d), unit(d, 0.0);
        const int32_t count = ginv_null_basis(a->dim, z.data(), dd.data(), nullptr, basis.data());
        for (size_t i = 0; i < d; ++i) {
            unit[i] = 1.0;
            run.undetermined[i] =
                ginv_null_leaning(a->dim, count, basis.data(), diag.data(), unit.data()) > kNullLeaningTol;
            unit[i] = 0.0;
        }
    }
    log_and_note(p, kMsgGinvUsed);
    return true;
}

// Lists the linear dependencies among the parameters of the singular
// matrix a (on a copy).
void list_dependencies(CovRun& run, const Matrix& a) {
    NlpProblem* p = run.p;
    Matrix c = a;
    const size_t d = static_cast<size_t>(c.dim);
    std::vector<double> coef(d), s(d), tolv(d);
    std::vector<char> flags(d);
    HostObject* table = nullptr;
    const int32_t print = p->opt.printLevel != 0.0 ? 4 : 0;
    const SingularityCriteria crit = run.criteria();
    zcovlid(print, c.form == 2 ? 2 : 0, c.dim, crit.absolute, crit.largest, crit.own,
            c.dim == run.n ? p->param.paramNames : nullptr, p->param.x, c.v.data(), coef.data(), s.data(), tolv.data(),
            flags.data(), p->out.kyrObject, &table);
}

// The regular inverse of the stored K1 of all parameters into the owner's
// buffer, when K1 is the owner's matrix (its tag known): the owner's
// information is that matrix, and its factor is the run's most expensive
// step.
void keep_inverse(const CovRun& run, const Matrix& a) {
    NlpCovResults& r = run.p->hooks->result;
    if (r.inverseBuffer == nullptr || run.k1Tag < 0 || a.position < 0 || a.position != run.dir[kDirCrossProduct] ||
        a.form != 0 || a.dim != run.n)
        return;
    std::copy(a.v.begin(), a.v.end(), r.inverseBuffer);
    r.inverseTag = run.k1Tag;
}

// Inverts the outer matrix of the type: the projected (or plain) record,
// then, when singular, the bordered plain record with active constraints,
// or the generalized inverse when the order allows.  false when no
// inverse can be had.
bool invert_outer(CovRun& run, Mat m, Matrix* a, bool* bordered) {
    *bordered = false;
    if (!run.read(m, run.projected, a)) return false;
    if (regular_inverse(run, a)) {
        keep_inverse(run, *a);
        return true;
    }
    const int32_t deficiency = static_cast<int32_t>(a->header.nZero);
    // The matrix again as stored (the inversion wrote only its record's
    // header): no copy of it is held through the inversion.
    Matrix original;
    if (!run.read(m, run.projected, &original)) return false;
    if (run.nActive > 0) {
        // The bordered matrix of the active constraints is regular when A
        // is positive definite on their null space.
        if (!run.read(m, false, a)) return false;
        a->position = -1;
        border(run.p, a);
        if (!regular_inverse(run, a)) return false;
        leading_block(a, run.n);
        *bordered = true;
        return true;
    }
    if (run.n > run.h->cov.ginvMaxParams && original.form != 2) {
        // Too large for a generalized inverse: the dependencies are listed,
        // and as the factored matrix is not an inverse, no covariance is
        // formed from it.
        list_dependencies(run, original);
        log_and_note(run.p, kMsgCovDependencies);
        return false;
    }
    *a = std::move(original);
    return generalized_inverse(run, a, deficiency);
}

// out = sigma2 A^-1 B A^-1 (packed, or elementwise for diagonal forms).
void sandwich(const Matrix& ainv, Matrix b, double sigma2, Matrix* out) {
    *out = ainv;
    if (ainv.form == 2 && b.form == 2) {
        for (int32_t i = 0; i < ainv.dim; ++i) out->v[i] = sigma2 * ainv.v[i] * ainv.v[i] * b.v[i];
        return;
    }
    Matrix a = ainv;
    to_packed(&a);
    to_packed(&b);
    const int32_t d = a.dim;
    // M = A B, then M A (symmetric): plain dense products of small orders.
    std::vector<double> ab(static_cast<size_t>(d) * d, 0.0);
    for (int32_t i = 0; i < d; ++i)
        for (int32_t k = 0; k < d; ++k) {
            const double aik = a.v[pk(std::max(i, k), std::min(i, k))];
            if (aik == 0.0) continue;
            for (int32_t j = 0; j < d; ++j) ab[static_cast<size_t>(i) * d + j] += aik * b.v[pk(std::max(k, j), std::min(k, j))];
        }
    out->form = 0;
    out->v.assign(static_cast<size_t>(packed(d)), 0.0);
    for (int32_t i = 0; i < d; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < d; ++k) s += ab[static_cast<size_t>(i) * d + k] * a.v[pk(std::max(k, j), std::min(k, j))];
            out->v[pk(i, j)] = sigma2 * s;
        }
}

// Widens a projected covariance to all n parameters: through the null
// space basis with active general constraints, else by placing the free
// entries and zeros in the rows and columns of the active bounds.
void widen(NlpProblem* p, Matrix* c) {
    const int32_t n = p->shape.nParams;
    std::vector<double> out(static_cast<size_t>(packed(n)), 0.0);
    if (p->active.nActiveLin > 0) {
        to_packed(c);
        znlpexp(p, c->v.data(), out.data());
        c->v.swap(out);
        c->form = 0;
    } else if (c->form == 2) {
        std::vector<double> diag(static_cast<size_t>(n), 0.0);
        for (int32_t i = 0; i < c->dim; ++i) diag[p->active.freeList[i]] = c->v[i];
        c->v.swap(diag);
    } else {
        for (int32_t i = 0; i < c->dim; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const int32_t a = p->active.freeList[i], b = p->active.freeList[j];
                out[pk(std::max(a, b), std::min(a, b))] = c->v[pk(i, j)];
            }
        c->v.swap(out);
    }
    c->dim = n;
}

// Standard errors from the diagonal: missing below zero and for what a
// generalized inverse left undetermined.
void standard_errors(const CovRun& run, const Matrix& c) {
    NlpProblem* p = run.p;
    for (int32_t i = 0; i < p->shape.nParams; ++i) {
        const double v = c.form == 2 ? c.v[i] : c.v[pk(i, i)];
        const bool undetermined = !run.undetermined.empty() && run.undetermined[static_cast<size_t>(i)];
        p->work.stdErrors[i] = v < 0.0 || undetermined ? host_missing_value() : std::sqrt(v);
    }
}

// The determinant record of the covariance matrix (counts of its
// eigenvalue signs and dependencies), on a copy.
DeterminantRecord covariance_record(const CovRun& run, const Matrix& c) {
    Matrix copy = c;
    const size_t d = static_cast<size_t>(c.dim);
    std::vector<double> sd(d), tolv(d);
    std::vector<int32_t> kpvt(d);
    double info[5] = {};
    const SingularityCriteria crit = run.criteria();
    zcovinv(1, c.form, c.dim, crit.absolute, crit.largest, crit.own, copy.v.data(), info, sd.data(), tolv.data(),
            kpvt.data());
    return {info[0], info[1], info[2], info[3], info[4]};
}

// Says when the covariance came from Lagrangian matrices: the Hessian of
// the Lagrange function inverted, a Lagrangian cross product instead, or
// both in one sandwich.
void lagrangian_note(const NlpProblem* p, const TypeForm& tf, bool outerLag, bool innerLag) {
    if (outerLag && innerLag)
        log_and_note(p, kMsgLagBothUsed);
    else if (outerLag && tf.outer == kH)
        log_and_note(p, kMsgLagHessianUsed);
    else if (outerLag || innerLag)
        log_and_note(p, kMsgLagCrossProductUsed);
}

// ---- the covariance of K1 held in memory ----

// Appends the record of sigma2 times the packed matrix m (count values),
// scaled as it is written.  Returns its offset.
int32_t append_scaled_record(const NlpHookBlock* h, int64_t* next, const DeterminantRecord& header, const double* m,
                             int64_t count, double sigma2) {
    const int64_t at = *next;
    file_at(h, at);
    scratch_check(xcwrite(h->cov.utilityFile, &header, kHeaderBytes));
    std::vector<double> chunk(static_cast<size_t>(std::min<int64_t>(count, 4096)));
    for (int64_t k = 0; k < count; k += static_cast<int64_t>(chunk.size())) {
        const int64_t len = std::min<int64_t>(static_cast<int64_t>(chunk.size()), count - k);
        for (int64_t i = 0; i < len; ++i) chunk[static_cast<size_t>(i)] = m[k + i] * sigma2;
        scratch_check(xcwrite(h->cov.utilityFile, chunk.data(), len * static_cast<int64_t>(sizeof(double))));
    }
    *next = at + kHeaderBytes + count * static_cast<int64_t>(sizeof(double));
    return static_cast<int32_t>(at);
}

// The factor the last measure kept is that of K1, as the technique scaled
// it (S^-1 K1 S^-1): made at this point, in the array that is to receive
// the inverse, of a matrix no Hessian evaluation has overwritten since,
// and that matrix is K1 to the bit.  Taken once.
bool kept_factor_is_of(NlpProblem* p, const HeldCrossProduct& k1, const double* inv) {
    const NlpKeptFactor kf = p->hess.kept;
    p->hess.kept = NlpKeptFactor{};
    const int32_t n = p->shape.nParams;
    if (kf.factor == nullptr || kf.factor != inv || kf.hessianCalls != k1.hessianCalls ||
        std::memcmp(kf.point, p->param.x, sizeof(double) * static_cast<size_t>(n)) != 0)
        return false;
    for (int32_t i = 0; i < n; ++i) {
        const double* a = k1.values + pk_lower(i, 0);
        const double* m = kf.matrix + pk_lower(i, 0);
        for (int32_t j = 0; j <= i; ++j) {
            const double scaled = a[j] / (kf.scale[i] * kf.scale[j]);
            if (std::bit_cast<uint64_t>(scaled) != std::bit_cast<uint64_t>(m[j])) return false;
        }
    }
    return true;
}

// K1^-1 into inv from the kept factor L of A = S^-1 K1 S^-1 (in inv), as
// K1^-1 = S^-1 (L L')^-1 S^-1, when every pivot passes the criteria as
// zcovinv judges them (a share of its own diagonal, which the units leave
// as it is); info: the determinant of K1 and its inertia, as zcovinv
// leaves them.  False, inv untouched, when a pivot does not pass.
bool inverse_from_factor(const NlpProblem* p, const NlpKeptFactor& kf, const SingularityCriteria& crit, double* inv,
                         double* info) {
    const int32_t n = p->shape.nParams;
    info[0] = 1.0;
    info[1] = info[3] = info[4] = 0.0;
    info[2] = n;
    for (int32_t i = 0; i < n; ++i) {
        const double l = inv[pk_lower(i, i)], d = l * l;
        if (!(d > crit.own * kf.matrix[pk_lower(i, i)])) return false;
        velix::detail::det_scale(info, d, true);
    }
    for (int32_t i = 0; i < n; ++i)
        if (kf.scale[i] > 0.0) info[1] += 2.0 * std::log10(kf.scale[i]);
    // The scaled matrix is no longer needed: the Hessian array may serve
    // as the inverse's work.
    double* work = inverse_work(p);
    std::vector<double> own(work != nullptr ? 0 : static_cast<size_t>(velix::detail::packed_inverse_work(n)));
    velix::detail::packed_factor_inverse(n, inv, inv, work != nullptr ? work : own.data());
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) inv[pk_lower(i, j)] /= kf.scale[i] * kf.scale[j];
    return true;
}

// K1^-1 into inv: from the factor the last measure kept when it is K1's,
// else K1 factored here; info as zcovinv leaves it.  False when K1 is
// singular by the criteria.
bool inverse_of_cross_product(NlpProblem* p, const HeldCrossProduct& k1, const SingularityCriteria& crit, double* inv,
                              double* info) {
    const NlpKeptFactor kf = p->hess.kept;
    if (kept_factor_is_of(p, k1, inv) && inverse_from_factor(p, kf, crit, inv, info)) return true;
    const size_t n = static_cast<size_t>(p->shape.nParams);
    std::copy(k1.values, k1.values + p->shape.packedLen, inv);
    std::vector<double> sd(n), tolv(n);
    std::vector<int32_t> kpvt(n);
    return zcovinv(0, 0, p->shape.nParams, crit.absolute, crit.largest, crit.own, inv, info, sd.data(), tolv.data(),
                   kpvt.data(), inverse_work(p)) >= 0;
}

// Someone reads the covariance record back: the matrix printer, or the
// owner for the standard errors of its dependent parameters.
bool covariance_read_back(const NlpProblem* p) {
    return znlp_prints_covariance(p) || p->hooks->cov.depStdErr != 0;
}

bool inverts_cross_product(const NlpProblem* p, int32_t type) {
    const TypeForm tf = type_form(type, p->shape.leastSquares != 0);
    return tf.outer == kK1 && tf.inner == kNone;
}

// The covariance sigma^2 K1^-1 of a type that inverts K1 alone, from K1
// held in memory, its inverse in the owner's inverse buffer (else an array
// of our own); the standard errors, their record, the covariance record
// for those who read it back, the directory.  False, nothing written, when
// K1 is singular by the criteria: the stored records then take their
// course.
//   K1^-1 (the kept factor, else a factor made here); K1's record header
//   d, sigma^2; standard errors; records and directory
//   the determinant record of the covariance where the printer makes none
bool covariance_from_memory(NlpProblem* p, const HeldCrossProduct& k1, int32_t* dir, int64_t next) {
    NlpHookBlock* h = p->hooks;
    const int32_t n = p->shape.nParams;
    CovRun run{p, h, {}, n, 0, n, false, {}, k1.tag};
    std::vector<double> own(h->result.inverseBuffer != nullptr ? 0 : static_cast<size_t>(p->shape.packedLen));
    double* inv = h->result.inverseBuffer != nullptr ? h->result.inverseBuffer : own.data();
    double info[5] = {};
    if (!inverse_of_cross_product(p, k1, run.criteria(), inv, info)) return false;
    if (k1.record >= 0) {
        const DeterminantRecord determinant{info[0], info[1], info[2], info[3], info[4]};
        znlp_write_header(h, k1.record, &determinant);
    }
    const double sigma2 = divisor_and_variance_factor(p, znlp_cov_type(p), 0);
    for (int32_t i = 0; i < n; ++i) {
        const double v = inv[pk_lower(i, i)] * sigma2;
        p->work.stdErrors[i] = v < 0.0 ? host_missing_value() : std::sqrt(v);
    }
    DeterminantRecord header{0.0, 0.0, 0.0, -1.0, 0.0};
    if (covariance_read_back(p))
        dir[kDirCovariance] = append_scaled_record(h, &next, header, inv, p->shape.packedLen, sigma2);
    dir[kDirStdErrors] = append_record(h, &next, header, p->work.stdErrors, n);
    write_directory(h, dir);
    h->cov.covStorage = 0;
    // As znlpcov: the determinant record of the covariance where the
    // printer would not make it, and the dependencies among the estimates.
    if (h->matrices.ginvDetail != 0 || h->matrices.noDeterminant != 0 || n == 1) {
        Matrix c;
        c.dim = n;
        c.v.assign(inv, inv + p->shape.packedLen);
        for (double& v : c.v) v *= sigma2;
        header = covariance_record(run, c);
        if (dir[kDirCovariance] >= 0) znlp_write_header(h, dir[kDirCovariance], &header);
        if (header.nZero > 0.0 && h->matrices.ginvDetail != 0) list_dependencies(run, c);
    }
    p->report.matrixHeader = header;
    if (inv == h->result.inverseBuffer) h->result.inverseTag = k1.tag;
    return true;
}

}  // namespace

int32_t znlpcov(NlpProblem* p, int64_t fileOffset, int64_t k1Tag) {
    NlpHookBlock* h = p->hooks;
    const int32_t type = znlp_cov_type(p);
    if (p->opt.conFactorForm == 2) nlp_internal_error("znlpcov: sparse active-set form");
    if (type < 1 || type > 6) nlp_internal_error("znlpcov: COV type outside 1..6");
    CovRun run{p, h, {}, p->shape.nParams, p->active.nActiveBounds + p->active.nActiveLin, 0, false, {}, k1Tag};
    run.dim = run.n - run.nActive;
    run.projected = run.nActive > 0;
    if (run.nActive >= run.n) {
        log_and_note(p, kMsgAllActive);
        return 0;
    }
    znlp_read_directory(h, run.dir);

    const double sigma2 = divisor_and_variance_factor(p, type, run.nActive);

    const TypeForm tf = type_form(type, p->shape.leastSquares != 0);
    Matrix a, b, c;
    bool bordered = false;
    if (!invert_outer(run, tf.outer, &a, &bordered)) {
        log_and_note(p, kMsgCovFailed);
        return -1;
    }
    const bool outerLagrangian = a.lagrangian;
    if (tf.inner == kNone) {
        c = std::move(a);
        for (double& v : c.v) v *= sigma2;
    } else {
        const bool projInner = run.projected && !bordered;
        if (!run.read(tf.inner, projInner, &b)) {
            log_and_note(p, kMsgCovFailed);
            return -1;
        }
        sandwich(a, b, sigma2, &c);
    }
    if (run.projected && !bordered) widen(p, &c);

    // The record: a zeroed header with -1 negative eigenvalues (not yet
    // computed), the matrix, then the standard errors.
    DeterminantRecord header{0.0, 0.0, 0.0, -1.0, 0.0};
    int64_t next = fileOffset;
    run.dir[kDirCovariance] = append_record(h, &next, header, c.v.data(), static_cast<int64_t>(c.v.size()));
    standard_errors(run, c);
    run.dir[kDirStdErrors] = append_record(h, &next, header, p->work.stdErrors, run.n);
    write_directory(h, run.dir);
    // The form of the saved covariance follows the matrices it came from;
    // its readers take it from here.
    h->cov.covStorage = c.form == 2 ? 2 : 0;

    // The determinant record factors the covariance once more.  The matrix
    // printer makes it from the stored values (and writes it back) when it
    // shows the covariance or hands it to OUTEST=, so it is made here only
    // for the dependency listing and where that printer would not make it
    // (a single parameter, or no determinants asked for).
    if (h->matrices.ginvDetail != 0 || h->matrices.noDeterminant != 0 || run.n == 1) {
        header = covariance_record(run, c);
        znlp_write_header(h, run.dir[kDirCovariance], &header);
    }
    p->report.matrixHeader = header;
    if (header.nZero > 0.0 && h->matrices.ginvDetail != 0) list_dependencies(run, c);
    lagrangian_note(p, tf, outerLagrangian, tf.inner != kNone && b.lagrangian);
    return 0;
}

// ---------------------------------------------------------------------------
// The matrix file, shared with the matrix printer.

void znlp_read_directory(const NlpHookBlock* hooks, int32_t* dir) {
    file_at(hooks, 0);
    scratch_check(xcread(hooks->cov.utilityFile, dir, sizeof(int32_t) * kDirWords));
}

void znlp_read_record(const NlpHookBlock* hooks, int64_t position, DeterminantRecord* header, double* values,
                      int64_t count) {
    file_at(hooks, position);
    scratch_check(xcread(hooks->cov.utilityFile, header, kHeaderBytes));
    scratch_check(xcread(hooks->cov.utilityFile, values, count * static_cast<int64_t>(sizeof(double))));
}

void znlp_write_header(const NlpHookBlock* hooks, int64_t position, const DeterminantRecord* header) {
    file_at(hooks, position);
    scratch_check(xcwrite(hooks->cov.utilityFile, header, kHeaderBytes));
}
