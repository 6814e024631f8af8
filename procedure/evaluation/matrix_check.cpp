// Definiteness of the central matrices by the inertia of a symmetric
// indefinite factorization (Bunch and Kaufman, "Some stable methods for
// calculating inertia and solving symmetric linear systems", Math. Comp.
// 31, 1977): the signs of D in U D U' count the negative eigenvalues, its
// negligible pivots the (near) zero ones.  A diagonal matrix is counted
// directly.
//
// The matrix is judged in the units of the data: row i divided by the root
// of its variance's unit (that of the variable it describes, through the
// model's markers and fixed variances), so that SINGULAR bounds a pivot
// as a share of that variable's variance.  In its own units a factor
// whose marker is measured in 1e-4 of its units has a variance near 1e-8
// and would be called singular at the default SINGULAR; in the data's
// units it is the same matrix at every scale.  Its own diagonal would not
// do as the scale: a unique variance of 1e-20 beside a variable variance
// of 1 is a zero variance (a Heywood case) and is reported, which a
// correlation form (diagonal 1) hides.  A row whose unit is unknown (a
// fixed variance, a latent variable that nothing scales, a model whose
// units cannot be read) keeps its own units.
//
//   clear the counts; size the largest packed central matrix; pool
//   for each term: skip constant, non-square, other types
//     count a (negative) and b (negligible); record 100 a + min(b, 99)
//     note 491, 492 or 493 when printing and a or b
//     with a and printing: a WARNING for each variance estimated below zero
#include "procedure/evaluation/matrix_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/output_table.h"
#include "numerics/udu.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace {

constexpr int32_t kMsgBadType = 62;
constexpr int32_t kMsgNegativeAndNegligible = 491;
constexpr int32_t kMsgNegative = 492;
constexpr int32_t kMsgNegligible = 493;
constexpr int32_t kMaxNegligible = 99;  // the count's two low digits
constexpr int32_t kInfoNegative = 3, kInfoNegligible = 4;  // entries of the UDU' info block

struct Counts {
    int32_t negative = 0, negligible = 0;
    bool inspected = false;
};

bool symmetric_type(int16_t type) {
    return type == kMatPosDefinit || type == kMatSymmetric;
}

// The scale of each row of central matrix k (`order` entries): the unit of
// the parameter of its diagonal element in the data, 1 where unknown or
// where the matrix enters as (I - P)^-1 (whose elements carry no unit).
std::vector<double> row_scales(const EvalView& v, int32_t k) {
    const ModelMatrixTable& mt = *v.mt;
    std::vector<double> scale(static_cast<size_t>(mt.rows[k]), 1.0);
    if (v.parmUnits == nullptr || mt.form[k] == kFormIMinusInverse) return scale;
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
        const int32_t p = v.el->parameter[e], i = v.el->row[e];
        if (i != v.el->column[e] || p <= 0 || p > v.nParmAll || i < 0 || i >= mt.rows[k]) continue;
        if (const double u = v.parmUnits[p - 1]; u > 0.0 && std::isfinite(u)) scale[static_cast<size_t>(i)] = u;
    }
    return scale;
}

Counts diagonal_counts(const EvalView& v, int32_t k) {
    const ModelMatrixTable& mt = *v.mt;
    double* d = v.st->work3;
    const int32_t order = mt.rows[k];
    std::fill(d, d + order, 0.0);
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
        if (v.el->row[e] == v.el->column[e]) d[v.el->row[e]] = v.el->value[e];
    const std::vector<double> scale = row_scales(v, k);
    Counts c;
    c.inspected = true;
    for (int32_t i = 0; i < order; ++i) {
        const double x = (mt.form[k] == kFormIMinusInverse ? 1.0 - d[i] : d[i]) / scale[static_cast<size_t>(i)];
        if (x < -v.singular) ++c.negative;
        else if (std::fabs(x) <= v.singular) ++c.negligible;
    }
    return c;
}

Counts factored_counts(const EvalView& v, int32_t k, double* buffer) {
    const ModelMatrixTable& mt = *v.mt;
    const int32_t order = mt.rows[k];
    const bool iminus = mt.form[k] == kFormIMinusInverse;
    Counts c;
    if (iminus && mt.elementCount[k] == 0) return c;  // the identity
    const double s = iminus ? -1.0 : 1.0;
    std::fill(buffer, buffer + velix::pk_lower(order, 0), 0.0);
    const std::vector<double> scale = row_scales(v, k);
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
        const int32_t r = v.el->row[e], col = v.el->column[e];
        const double units = std::sqrt(scale[static_cast<size_t>(r)] * scale[static_cast<size_t>(col)]);
        buffer[velix::pk(r, col)] = s * v.el->value[e] / units;
    }
    if (iminus)
        for (int32_t i = 0; i < order; ++i) buffer[velix::pk_lower(i, i)] += 1.0;
    double info[5] = {};
    zududec(order, v.singular, info, buffer, v.st->pivots);
    c.negative = static_cast<int32_t>(info[kInfoNegative]);
    c.negligible = static_cast<int32_t>(info[kInfoNegligible]);
    c.inspected = true;
    return c;
}

// The central matrix of term t when it is inspected, else 0; logs the
// shape and type faults once (sizing pass).
int32_t inspected_matrix(const EvalView& v, int32_t t, bool log) {
    const ModelMatrixTable& mt = *v.mt;
    const int32_t k = mt.termTable[t] - 1;
    if (mt.constant[k]) return 0;
    if (mt.rows[k] != mt.columns[k]) {
        if (log) xpmlog(kMsgProc, kMsgNotSquare, velix::detail::matrix_name(v, k).c_str());
        return 0;
    }
    if (mt.type[k] < 1 || mt.type[k] > 14) {
        if (log) xpmlog(kMsgProc, kMsgBadType, velix::detail::matrix_name(v, k).c_str());
        return 0;
    }
    return mt.type[k] == kMatDiagonal || symmetric_type(mt.type[k]) ? k : 0;
}

// A name without the blanks that pad it to its field.
std::string unpadded(const NameRecord& r) {
    std::string name(r.text, static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32)));
    name.erase(name.find_last_not_of(' ') + 1);
    return name;
}

// The variable of row i of central matrix k: the data variable whose
// unique variance a FACTOR model's _U_ holds (its column names, UVAR1 and
// on, are the model's own), else its name in the model, or the element's
// label (_P_[2:2]) when the matrix has no names.
std::string row_variable(const EvalView& v, int32_t k, int32_t i) {
    if (k == v.factorUnique && v.manifestNames != nullptr && i < v.n) return unpadded(v.manifestNames[i]);
    const int32_t first = v.mt->firstColumnName[k];
    if (first > 0 && v.columnNames != nullptr) return unpadded(v.columnNames[first - 1 + i]);
    return velix::detail::matrix_name(v, k) + "[" + std::to_string(i + 1) + ":" + std::to_string(i + 1) + "]";
}

// A variance estimated below zero (judged in its variable's units, as the
// pivots are): a WARNING that names the parameter and the variable, since
// the matrix's note does not say which variance made the solution
// improper.  A diagonal element of a matrix that enters inverted is no
// variance.
void negative_variances(const EvalView& v, int32_t k) {
    const ModelMatrixTable& mt = *v.mt;
    if (mt.form[k] != kFormNone || v.nlp == nullptr || v.nlp->param.paramNames == nullptr) return;
    const std::vector<double> scale = row_scales(v, k);
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
        const int32_t p = std::abs(v.el->parameter[e]), i = v.el->row[e];
        if (p == 0 || p > v.nParmAll || i != v.el->column[e] || i < 0 || i >= mt.rows[k]) continue;
        if (!(v.el->value[e] / scale[static_cast<size_t>(i)] < -v.singular)) continue;
        const std::string name = unpadded(v.nlp->param.paramNames[p - 1]);
        xpmlog(kMsgProc, kMsgNegativeVariance, v.el->value[e], static_cast<int32_t>(name.size()), name.c_str(),
               row_variable(v, k, i).c_str());
    }
}

// Note and log line; false when the note could not be delivered.
bool note(const EvalView& v, int32_t k, const Counts& c) {
    const int32_t number = c.negative > 0 ? (c.negligible > 0 ? kMsgNegativeAndNegligible : kMsgNegative)
                                          : kMsgNegligible;
    const std::string name = velix::detail::matrix_name(v, k);
    const int32_t rc = kyr_note(v.kyrManager, kyrmsgs(kMsgProc, number, name.c_str()), 'l');
    if (rc < 0) {
        xprrlog(0, rc);
        return false;
    }
    xpmlog(kMsgProc, number, name.c_str());
    return true;
}

}  // namespace

int32_t coscmat(const EvalView* view) {
    const EvalView& v = *view;
    const ModelMatrixTable& mt = *v.mt;
    std::fill(mt.termDefiniteness, mt.termDefiniteness + v.nTerms, 0);
    int64_t largest = 0;
    for (int32_t t = 1; t <= v.nTerms; ++t)
        if (const int32_t k = inspected_matrix(v, t, true); k && symmetric_type(mt.type[k]))
            largest = std::max<int64_t>(largest, velix::pk_lower(mt.rows[k], 0));
    HostAllocator* pool = nullptr;
    double* buffer = nullptr;
    if (largest > 0) {
        pool = xmpoolc(8 * largest + 4096, 1024, 4096);
        if (pool != nullptr) buffer = static_cast<double*>(pool->allocate(pool, 8 * static_cast<size_t>(largest), 4096));
        if (buffer == nullptr) {
            xmemmsg(8 * largest);
            xmpoold(pool);
            return 0;
        }
    }
    bool notes = v.printEnabled != 0;
    for (int32_t t = 1; t <= v.nTerms; ++t) {
        const int32_t k = inspected_matrix(v, t, false);
        if (k == 0) continue;
        const Counts c = mt.type[k] == kMatDiagonal ? diagonal_counts(v, k) : factored_counts(v, k, buffer);
        if (!c.inspected) continue;
        mt.termDefiniteness[t - 1] = 100 * c.negative + std::min(c.negligible, kMaxNegligible);
        if (notes && (c.negative > 0 || c.negligible > 0)) notes = note(v, k, c);
        // Printing off (NOPRINT) writes none of the messages of the check.
        if (v.printEnabled && c.negative > 0) negative_variances(v, k);
    }
    xmpoold(pool);
    return 0;
}
