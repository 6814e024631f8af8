// The matrix printing hook: after the start point and after the run it
// shows the matrices that the covariance hook left on the matrix file (the
// cross-product Jacobian, the Hessian, their projections onto the null
// space of the active constraints, the same for the Lagrange function, the
// covariance matrix of the estimates and its correlation matrix; a sparse
// Hessian as a table of its rows) with notes on the determinant and on the
// signs of the eigenvalues (the inertia, from the UDU' factors: Sylvester's
// law of inertia, Golub and Van Loan, "Matrix Computations", 4th ed.,
// sec. 8.1.5), and hands each to the OUTEST= hook when one is installed.
// A Hessian with negative eigenvalues at a minimum (positive at a maximum)
// is flagged: the point is not a strict local optimum.
//
//   znlppma(phase)
//     OUTEST= rows of the point; read the directory; for each stored and
//     switched-on matrix in the fixed order: read, reverse the sign when
//     maximising, print (primat) or only complete the record (pridetm),
//     write the record back, hand to OUTEST=, restore the sign
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/covcorr.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/reduced_space.h"
#include "optimizer/reporting/report_table.h"
#include "optimizer/reporting/reporting.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

using velix::pk;

namespace {

// Matrix kinds of the printer.
enum MatrixKind : int32_t {
    kKindHessian = 1,
    kKindProjHessian = 2,
    kKindCrossProduct = 3,
    kKindProjCrossProduct = 4,
    kKindCovariance = 5,
    kKindLagHessian = 6,
    kKindProjLagHessian = 7,
    kKindLagCrossProduct = 8,
    kKindProjLagCrossProduct = 9,
};

// OUTEST= row kinds of the hook.
constexpr int32_t kRowInitial = -1;
constexpr int32_t kRowFinal = 0;
constexpr int32_t kRowFailedStart = 10;
constexpr int32_t kRowConJacobian = 9;
constexpr int32_t kRowJacobian = 1;  // the Jacobian of the functions (no rows of its own)

constexpr int32_t kMsgJacobianUnavailable = 222;

constexpr int32_t kMsgNoFreeDimension = 237;
constexpr double kLargestExponent = 308.0;  // beyond it the determinant is shown as its mantissa

int32_t free_dimension(const NlpProblem* p) { return p->shape.nParams - p->active.nActiveBounds - p->active.nActiveLin; }
bool general_constraints(const NlpProblem* p) { return p->shape.hasLinCon != 0 || p->shape.hasNlinCon != 0; }
bool projected_kind(int32_t kind) { return kind == 2 || kind == 4 || kind == 7 || kind == 9; }

// Storage form of a kind: 2 diagonal, else packed.
int32_t kind_form(const NlpProblem* p, int32_t kind) {
    switch (kind) {
        case kKindHessian: return znlp_hessian_form(p);
        case kKindProjHessian: return general_constraints(p) ? 0 : znlp_hessian_form(p);
        case kKindCrossProduct: return znlp_cross_product_form(p);
        case kKindProjCrossProduct: return general_constraints(p) ? 0 : znlp_cross_product_form(p);
        case kKindCovariance: return p->hooks->cov.covStorage == 2 ? 2 : 0;
        default: return 0;
    }
}

int32_t kind_dimension(const NlpProblem* p, int32_t kind) {
    return projected_kind(kind) ? free_dimension(p) : p->shape.nParams;
}

int64_t kind_length(const NlpProblem* p, int32_t kind) {
    const int64_t d = kind_dimension(p, kind);
    return kind_form(p, kind) == 2 ? d : d * (d + 1) / 2;
}

// Normalises a to m x 10^e with 1 <= |m| < 10 (m 0, e 1 for a zero).
void normalise(double a, double* m, double* e) {
    if (std::fabs(a) <= DBL_MIN) {
        *m = 0.0;
        *e = 1.0;
        return;
    }
    *m = a;
    *e = 0.0;
    while (std::fabs(*m) < 1.0) {
        *m *= 10.0;
        *e -= 1.0;
    }
    while (std::fabs(*m) >= 10.0) {
        *m /= 10.0;
        *e += 1.0;
    }
}

void note(const NlpProblem* p, HostText* text) { velix::report::centred_note(p->out.kyrObject, text); }

// The eigenvalue-sign note: positive, negative, zero counts.
void sign_note(const NlpProblem* p, int32_t kind, const DeterminantRecord& r) {
    double pos = r.nPositive, neg = r.nNegative, zero = r.nZero;
    if (p->shape.maximize != 0 && kind != kKindCrossProduct && kind != kKindProjCrossProduct) {
        if (pos > 0 && zero > 0)
            note(p, kyrmsgs(kMsgNlp, kMsgNlpPositiveAndZeroEigen, static_cast<int32_t>(pos),
                            static_cast<int32_t>(zero)));
        else if (pos > 0)
            note(p, kyrmsgs(kMsgNlp, kMsgNlpPositiveEigen, static_cast<int32_t>(pos)));
        else if (zero > 0) note(p, kyrmsgs(kMsgNlp, kMsgNlpZeroEigen, static_cast<int32_t>(zero)));
        else note(p, kyrmsg(kMsgNlp, kMsgNlpOnlyNegativeEigen));
        return;
    }
    if (kind == kKindCrossProduct || kind == kKindProjCrossProduct) {
        // A cross product has no negative eigenvalues: rounding counts as zero.
        zero += neg;
        neg = 0;
    }
    if (neg > 0 && zero > 0)
        note(p, kyrmsgs(kMsgNlp, kMsgNlpNegativeAndZeroEigen, static_cast<int32_t>(neg),
                        static_cast<int32_t>(zero)));
    else if (neg > 0) note(p, kyrmsgs(kMsgNlp, kMsgNlpNegativeEigen, static_cast<int32_t>(neg)));
    else if (zero > 0) note(p, kyrmsgs(kMsgNlp, kMsgNlpZeroEigen, static_cast<int32_t>(zero)));
    else note(p, kyrmsg(kMsgNlp, kMsgNlpOnlyPositiveEigen));
}

// A diagonal matrix as a dense one for the dense shape.
std::vector<double> dense_of_diagonal(const double* d, int32_t n) {
    std::vector<double> m(static_cast<size_t>(n) * n, 0.0);
    for (int32_t i = 0; i < n; ++i) m[static_cast<size_t>(i) * n + i] = d[i];
    return m;
}

// Publishes matrix values of `kind` as the table `name`.
void publish(NlpProblem* p, int32_t kind, const char* name, const double* values, const NameRecord* labels,
             int32_t labelMessage, int32_t titleMessage) {
    const int32_t dim = kind_dimension(p, kind);
    if (kind_form(p, kind) == 2) {
        const std::vector<double> dense = dense_of_diagonal(values, dim);
        znlppmt(p->out.kyrObject, name, -1, dim, dense.data(), labels, labelMessage, titleMessage);
    } else {
        znlppmt(p->out.kyrObject, name, 0, dim, values, labels, labelMessage, titleMessage);
    }
}

int32_t covariance_label(const NlpProblem* p) {
    const int32_t type = znlp_cov_type(p);
    if (p->shape.leastSquares != 0) {
        static const int32_t kLs[7] = {247, 198, 199, 200, 238, 239, 240};
        return type >= 1 && type <= 6 ? kLs[type] : 247;
    }
    return type >= 1 && type <= 6 ? 240 + type : 247;
}

// The covariance table, its note and determinant notes, then the
// correlation matrix (packed form only) with its own notes.
void print_covariance(NlpProblem* p, int32_t phase, std::vector<double> values) {
    publish(p, kKindCovariance, "CovMat", values.data(), p->param.paramNames, covariance_label(p), 867);
    note(p, kyrmsgs(kMsgNlp, kMsgNlpFactorSigma, p->hooks->result.sigmaSq));
    pridetm(p, kKindCovariance, phase, 1, values.data());
    if (kind_form(p, kKindCovariance) == 2) return;
    const DeterminantRecord covariance = p->report.matrixHeader;
    const int32_t n = p->shape.nParams;
    std::vector<double> d(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) d[static_cast<size_t>(i)] = values[pk(i, i)];
    for (int32_t i = 0; i < n; ++i) {
        const double si = d[static_cast<size_t>(i)] <= DBL_MIN ? 0.0 : d[static_cast<size_t>(i)];
        for (int32_t j = 0; j < i; ++j) {
            const double q = si * d[static_cast<size_t>(j)];
            values[pk(i, j)] *= q <= DBL_MIN ? 0.0 : 1.0 / std::sqrt(q);
        }
        values[pk(i, i)] = 1.0;
    }
    p->report.matrixHeader = DeterminantRecord{0.0, 0.0, 0.0, -1.0, 0.0};
    znlppmt(p->out.kyrObject, "CorrParm", 0, n, values.data(), p->param.paramNames,
            kMsgNlpApproxCorrelation, kMsgNlpCorrelationTable);
    pridetm(p, kKindCovariance, phase, 1, values.data());
    p->report.matrixHeader = covariance;
}

// Prints matrix `kind` (values as read, signs already as shown).
void primat(NlpProblem* p, int32_t kind, int32_t phase, const double* values) {
    switch (kind) {
        case kKindHessian:
            publish(p, kind, "HessianMat", values, p->param.paramNames, 194, 718);
            if (p->shape.quadraticOnFile == 2 && p->work.linearTerm != nullptr)
                znlppmt(p->out.kyrObject, "LinearTerm", 1, p->shape.nParams, p->work.linearTerm, p->param.paramNames,
                        kMsgNlpLinearTerm, kMsgNlpLinearTerm);
            break;
        case kKindProjHessian: publish(p, kind, "HessianMat", values, nullptr, 195, 718); break;
        case kKindCrossProduct: publish(p, kind, "CrossJacobian", values, p->param.paramNames, 196, 196); break;
        case kKindProjCrossProduct: publish(p, kind, "CrossJacobian", values, nullptr, 197, 197); break;
        // The Lagrange function's matrices; a projection is over the null
        // space of the active constraints, whose coordinates are no
        // parameters, so it is labelled as the other projections are.
        case kKindLagHessian: publish(p, kind, "HessianMat", values, p->param.paramNames, 225, 718); break;
        case kKindProjLagHessian: publish(p, kind, "HessianMat", values, nullptr, 249, 718); break;
        case kKindLagCrossProduct: publish(p, kind, "HessianMat", values, p->param.paramNames, 250, 717); break;
        case kKindProjLagCrossProduct: publish(p, kind, "HessianMat", values, nullptr, 251, 717); break;
        default: {
            const std::vector<double> copy(values, values + kind_length(p, kind));
            print_covariance(p, phase, copy);
            return;
        }
    }
    pridetm(p, kind, phase, 1, values);
}

void reverse(std::vector<double>& v) {
    for (double& x : v) x = -x;
}

// One stored matrix: read, show, write its record back, hand to OUTEST=.
void handle(NlpProblem* p, int32_t kind, int32_t phase, int32_t position, bool print, bool outest,
            int32_t rowKind) {
    NlpHookBlock* h = p->hooks;
    std::vector<double> values(static_cast<size_t>(kind_length(p, kind)));
    DeterminantRecord& r = p->report.matrixHeader;
    znlp_read_record(h, position, &r, values.data(), static_cast<int64_t>(values.size()));
    const bool computed = r.nNegative >= 0.0;
    const bool signed_ = p->shape.maximize != 0 && (kind == kKindHessian || kind == kKindProjHessian);
    if (signed_) {
        reverse(values);
        if (computed) std::swap(r.nPositive, r.nNegative);
    }
    if (print)
        primat(p, kind, phase, values.data());
    else
        pridetm(p, kind, phase, 0, values.data());
    DeterminantRecord stored = r;
    if (signed_ && stored.nNegative >= 0.0) std::swap(stored.nPositive, stored.nNegative);
    if (!computed) znlp_write_header(h, position, &stored);
    if (outest && h->post.outestHook != nullptr) h->post.outestHook(p, rowKind, values.data());
}

// "JacobianMat": the m x n Jacobian of the least-squares functions, read
// from the Jacobian store.
void prijac(NlpProblem* p, bool print, bool outest) {
    const int32_t m = p->shape.nFunctions, n = p->shape.nParams;
    std::vector<double> jac(static_cast<size_t>(m) * n);
    if (znlpjrd(p, jac.data()) != 0) {
        xpmlog(kMsgNlp, kMsgJacobianUnavailable);
        return;
    }
    const double sign = p->shape.maximize != 0 ? -1.0 : 1.0;
    for (double& x : jac) x *= sign;
    if (print)
        znlppmt(p->out.kyrObject, "JacobianMat", m, n, jac.data(), p->param.paramNames,
                kMsgNlpFunctionJacobian, kMsgNlpJacobianTable);
    if (outest && p->hooks->post.outestHook != nullptr) p->hooks->post.outestHook(p, kRowJacobian, jac.data());
}

// "Jacobian": the gradient rows of the nonlinear constraints, each labelled.
// One double column "Mat" per variable of a matrix table, named by the
// parameters (names[count][33], filled here) or, with `generated`, "X1" ...
void variable_columns(NlpProblem* p, OutputTable* table, int32_t count, bool generated,
                      std::vector<std::vector<char>>* names, std::vector<double>* row) {
    names->assign(static_cast<size_t>(count), std::vector<char>(33, '\0'));
    row->assign(static_cast<size_t>(count), 0.0);
    for (int32_t j = 0; j < count; ++j) {
        char* name = (*names)[static_cast<size_t>(j)].data();
        if (generated)
            std::snprintf(name, 33, "X%d", j + 1);
        else
            velix::report::parameter_label(p, j, name, 32);
        for (int32_t k = 31; k >= 0 && name[k] == ' '; --k) name[k] = '\0';
        table->cell_column(kColumnDouble, name, &(*row)[static_cast<size_t>(j)],
                           velix::report::template_format("Mat"));
    }
}

void prijnc(NlpProblem* p) {
    const int32_t n = p->shape.nParams, width = std::max(p->con.conLabelWidth, 8);
    std::vector<double> row;
    std::vector<char> label(static_cast<size_t>(width) + 1, '\0');
    std::vector<std::vector<char>> names;
    OutputTable table = velix::report::report_table(p->out.kyrObject, "Jacobian", 717);
    table.variable("TitleText", kyrmsg(kMsgNlp, kMsgNlpConstraintJacobian));
    table.cell_column(kColumnChars, "Variable", label.data(), velix::report::chars_format(width));
    variable_columns(p, &table, n, false, &names, &row);
    table.end_columns();
    for (int32_t k = 0; k < p->shape.nNlinCon && table.ok() && p->cb.conRowFn != nullptr; ++k) {
        std::fill(label.begin(), label.end(), '\0');
        if (p->con.conLabels != nullptr && p->con.conLabelWidth > 0)
            std::memcpy(label.data(), p->con.conLabels + static_cast<size_t>(k) * p->con.conLabelWidth,
                        static_cast<size_t>(p->con.conLabelWidth));
        p->cb.conRowFn(p, p->shape.nLinCon + k, row.data());
        if (p->con.conKinds != nullptr && static_cast<int16_t>(p->con.conKinds[k]) < 0)
            for (double& v : row) v = -v;
        table.add_row();
    }
    table.deliver();
}

}  // namespace

bool znlp_prints_cross_product(const NlpProblem* p) {
    const NlpHookBlock* h = p->hooks;
    const bool print = p->opt.printLevel != 0.0 && h->cov.printCrossProduct != 0;
    return h->matrices.wantCrossProduct != 0 && (print || h->matrices.outestCrossProduct != 0);
}

bool znlp_prints_covariance(const NlpProblem* p) {
    const NlpHookBlock* h = p->hooks;
    const bool print = p->opt.printLevel != 0.0 && h->cov.printCovariance != 0;
    return h->cov.wantCovariance != 0 && (print || h->post.outestHook != nullptr);
}

void pridetm(NlpProblem* p, int32_t kind, int32_t phase, int32_t print, const double* matrix) {
    const NlpHookBlock* h = p->hooks;
    if (h->matrices.noDeterminant != 0) return;
    const int32_t dim = kind_dimension(p, kind);
    if (dim < 1) return;
    DeterminantRecord& r = p->report.matrixHeader;
    if (r.nNegative < 0.0 && dim == 1) {
        const double a = matrix[0];
        normalise(a, &r.mantissa, &r.exponent);
        r.nZero = std::fabs(a) <= DBL_MIN ? 1.0 : 0.0;
        r.nPositive = a > DBL_MIN ? 1.0 : 0.0;
        r.nNegative = a < -DBL_MIN ? 1.0 : 0.0;
        return;
    }
    if (r.nNegative < 0.0) {
        const int32_t form = kind_form(p, kind);
        std::vector<double> copy(matrix, matrix + kind_length(p, kind));
        const size_t d = static_cast<size_t>(dim);
        std::vector<double> sd(d), tolv(d);
        std::vector<int32_t> kpvt(d);
        double info[5] = {};
        // Judged in the correlation form, as the covariance code judges
        // the matrices it inverts.
        const SingularityCriteria crit = unit_free_criteria(h->cov.covSingAbs, h->cov.covSingRel, h->cov.covSingVar);
        zcovinv(1, form, dim, crit.absolute, crit.largest, crit.own, copy.data(), info, sd.data(), tolv.data(),
                kpvt.data());
        r = {info[0], info[1], info[2], info[3], info[4]};
    }
    if (print == 0) return;
    const double det = r.nZero > 0.0 ? 0.0 : r.mantissa * std::pow(10.0, r.exponent);
    if (r.exponent < kLargestExponent) {
        note(p, kyrmsgs(kMsgNlp, kMsgNlpDeterminant, det));
    } else {
        note(p, kyrmsgs(kMsgNlp, kMsgNlpDeterminantMantissa, r.mantissa));
    }
    sign_note(p, kind, r);
    const bool checked = p->shape.hasNlinCon == 0 &&
                         (kind == kKindProjHessian || (kind == kKindHessian && p->active.nActiveBounds + p->active.nActiveLin == 0));
    const double wrong = p->shape.maximize != 0 ? r.nPositive : r.nNegative;
    if (checked && wrong >= 1.0)
        note(p, kyrmsg(kMsgNlp,
                       phase == 0 ? kMsgNlpStartHessianIndefinite : kMsgNlpSecondOrderViolated));
}

void znlppma(NlpProblem* p, int32_t phase) {
    NlpHookBlock* h = p->hooks;
    if (h == nullptr) return;
    if (p->opt.printLevel == 0.0 && h->post.outestHook == nullptr) return;
    if (h->post.outestHook != nullptr) {
        if (phase == 0 && p->opt.technique != kTechNone) h->post.outestHook(p, kRowInitial, nullptr);
        if (phase == 1) h->post.outestHook(p, kRowFinal, nullptr);
        if (phase == -1) h->post.outestHook(p, kRowFailedStart, nullptr);
    }
    if (phase == -1) return;
    const NlpMatrixRequests& r = h->matrices;
    if (r.wantJacobian == 0 && r.wantHessian == 0 && r.wantCrossProduct == 0 && r.storedConJacobian == 0 &&
        h->cov.wantCovariance == 0)
        return;
    if (h->cov.utilityFile == nullptr || (phase == 0 && p->opt.technique == kTechNone)) return;
    int32_t dir[kDirWords];
    znlp_read_directory(h, dir);
    const bool print = p->opt.printLevel != 0.0;
    const int32_t nActive = p->active.nActiveBounds + p->active.nActiveLin;
    const bool projections =
        nActive > 0 && nActive < p->shape.nParams && (!general_constraints(p) || p->opt.conFactorForm == 1);
    if (nActive >= p->shape.nParams && print) {
        if (h->cov.printHessian != 0) xpmlog(kMsgNlp, kMsgNoFreeDimension);
        if (h->cov.printCrossProduct != 0) xpmlog(kMsgNlp, kMsgNoFreeDimension);
    }
    if (r.wantJacobian != 0 && dir[kDirJacobian] == 0 && ((print && r.printJacobian != 0) || h->cov.outestJacobian != 0))
        prijac(p, print && r.printJacobian != 0, h->cov.outestJacobian != 0);
    if (p->shape.hasNlinCon != 0 && r.storedConJacobian != 0) {
        if (print && r.printConJacobian != 0) prijnc(p);
        if (r.outestConJacobian != 0 && h->post.outestHook != nullptr) h->post.outestHook(p, kRowConJacobian, nullptr);
    }
    // Each family: the matrix, its projection, the Lagrange function's
    // matrix and its projection, with their OUTEST= row kinds.
    struct Family {
        bool wanted, print, outest;
        int32_t words[4], kinds[4], rows[4];
    };
    const Family families[] = {
        {r.wantCrossProduct != 0, print && h->cov.printCrossProduct != 0, r.outestCrossProduct != 0,
         {kDirCrossProduct, kDirProjCrossProduct, kDirLagCrossProduct, kDirProjLagCrossProduct},
         {kKindCrossProduct, kKindProjCrossProduct, kKindLagCrossProduct, kKindProjLagCrossProduct},
         {2, 4, 11, 12}},
        {r.wantHessian != 0, print && h->cov.printHessian != 0, r.outestHessian != 0,
         {kDirHessian, kDirProjHessian, kDirLagHessian, kDirProjLagHessian},
         {kKindHessian, kKindProjHessian, kKindLagHessian, kKindProjLagHessian},
         {3, 5, 7, 8}},
    };
    for (const Family& f : families) {
        if (!f.wanted || !(f.print || f.outest)) continue;
        for (int k = 0; k < 4; ++k)
            if (dir[f.words[k]] > 0 && (projections || !projected_kind(f.kinds[k])))
                handle(p, f.kinds[k], phase, dir[f.words[k]], f.print, f.outest, f.rows[k]);
    }
    const bool printCov = print && h->cov.printCovariance != 0, outCov = h->post.outestHook != nullptr;
    if (phase == 1 && dir[kDirCovariance] > 0 && znlp_prints_covariance(p))
        handle(p, kKindCovariance, phase, dir[kDirCovariance], printCov, outCov, 6);
}

void znlpsph(NlpProblem* p, int32_t kind, const double* values) {
    if (kind < kKindHessian || kind > kKindProjCrossProduct || p->opt.hessianStorage != 1 || p->hess.hessianPattern == nullptr)
        nlp_internal_error("znlpsph: not a sparse matrix of kinds 1 to 4");
    const int32_t n = p->shape.nParams, dim = kind_dimension(p, kind);
    if (dim < 1) return;
    // The SparseLLt index array of the lower triangle: row r's entries at
    // positions ija[r] .. ija[r + 1] - 1, in the columns ija[position],
    // their values at the same positions after the diagonal.
    const int32_t* ija = p->hess.hessianPattern;
    const bool generated = projected_kind(kind) || p->param.paramNames == nullptr;
    const int32_t width = generated ? 8 : std::max(p->param.paramNameWidth, 1);
    std::vector<char> label(static_cast<size_t>(std::max(width, 32)) + 1, '\0');
    std::vector<std::vector<char>> names;
    std::vector<double> row;
    OutputTable table = velix::report::report_table(p->out.kyrObject, "Hessian", 718);
    static const int32_t kTitles[] = {194, 195, 196, 197};  // by kind 1..4
    table.variable("TitleText", kyrmsg(kMsgNlp, kTitles[kind - 1]));
    table.cell_column(kColumnChars, "Variable", label.data(), velix::report::chars_format(width));
    variable_columns(p, &table, dim, generated, &names, &row);
    table.end_columns();
    for (int32_t i = 0; i < dim && table.ok(); ++i) {
        std::fill(row.begin(), row.end(), 0.0);
        row[static_cast<size_t>(i)] = values[i];
        for (int32_t r = 0; r < n; ++r)
            for (int32_t k = ija[r]; k < ija[r + 1]; ++k) {
                const int32_t c = ija[k];
                if (r == i && c < dim) row[static_cast<size_t>(c)] = values[k];  // (i, c) left of the diagonal
                if (c == i && r < dim) row[static_cast<size_t>(r)] = values[k];  // (r, i) below it
            }
        std::snprintf(label.data(), label.size(), "%s", names[static_cast<size_t>(i)].data());
        table.add_row();
    }
    table.deliver();
}
