// Structural analysis of the Jacobian of the implied moments (the pattern
// of the sparse Jacobian modes; Coleman and More, "Estimation of sparse
// Jacobian matrices", SIAM J. Numer. Anal. 20, 1983, for why a pattern
// pays): the term walk on non-negative markers, one record per parameter
// reaching one matrix, then a merge per parameter.
//
//   markers into the element values (unpack); structural inverse forms
//     per term (invmat)
//   walk: for each parameter of a visited matrix and each independent
//     parameter it stands for: record the positive moments (jadvdx2)
//   values and inverse forms back; merge (sort, drop duplicates)
//
// The walk's products are the ordinary kernels' (cosunpa, cosposm) on the
// markers: non-negative numbers cannot cancel, so they serve unchanged as
// the structural product and its inner products (posmul, mvdot).
#include "procedure/evaluation/jacobian_pattern.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "host/internal_error.h"
#include "host/output_table.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/implied_moments.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/types.h"

using velix::pk_lower;

namespace {

constexpr int32_t kMsgNoInverse = 40;
constexpr int32_t kMsgDensity = 134;
constexpr int32_t kMsgPatternFailed = 27;
constexpr int32_t kTitleJacobian = 745;

bool diagonal_type(int16_t type) {
    return type == kMatDiagonal || type == kMatZerDiagonal;
}

// The marker of one element: positive for a structural nonzero as the
// kernels will read it (BETA without a form enters negated; a diagonal
// form divides, so it gets a value whose form is positive).
double marker(const ModelMatrixTable& mt, int32_t k, bool nonzero) {
    if (diagonal_type(mt.type[k]) && mt.form[k] == kFormIMinusInverse) return 0.5;
    if (diagonal_type(mt.type[k]) && mt.form[k] == kFormInverse) return 1.0;
    if (!nonzero) return 0.0;
    return mt.type[k] == kMatBeta && mt.form[k] == kFormNone ? -1.0 : 1.0;
}

// Structural sweep of the pattern r (order m, by rows) on pivot p: the
// pivot step of an inversion makes (i, j) nonzero where (i, p) and (p, j)
// are, Warshall's step through p on the graph of r.
void mvsweep(char* r /* in-out: m x m */, int32_t m, int32_t p) {
    for (int32_t i = 0; i < m; ++i)
        if (r[int64_t{i} * m + p])
            for (int32_t j = 0; j < m; ++j) r[int64_t{i} * m + j] |= r[int64_t{p} * m + j];
}

// Structural inverse of a square pattern with its diagonal set: the
// reflexive-transitive closure of its graph, a sweep on every pivot
// (M^-1 is a polynomial in M of degree below its order).
void mvminv(char* r /* in-out: m x m */, int32_t m) {
    for (int32_t p = 0; p < m; ++p) mvsweep(r, m, p);
}

// Structural inverse of a lower-triangular pattern: no path of its graph
// leads to a later row, so the closure keeps the triangle and is the
// square pattern's.
void mvlinv(char* r /* in-out: m x m */, int32_t m) {
    mvminv(r, m);
}

class StructuralVisitor final : public TermVisitor {
   public:
    StructuralVisitor(const double* values, int32_t print) : values_(values), print_(print) {}

    int32_t prepare(const EvalView& v, int32_t t) override { return invmat(v, t); }
    void visit(const EvalView& v, const WalkStep& s) override { jadvdx2(v, s); }

    std::vector<int32_t> pairs;  // (i, j) of every record in turn
    int32_t printed = 0;

   private:
    // The structural inverse forms of term t into the inverse store: the
    // closure of each; returns 0 or the matrix that has none.
    int32_t invmat(const EvalView& v, int32_t t) const {
        for (int32_t k = velix::detail::term_first(v, t); k <= velix::detail::term_central(v, t);
             ++k)
            if (v.mt->form[k] != kFormNone && !diagonal_type(v.mt->type[k]))
                if (!closure(v, k)) return k;
        return 0;
    }

    // The pattern records of the visited matrix: one per parameter and
    // independent parameter it stands for, holding the moments that the
    // parameter's elements can move.
    void jadvdx2(const EvalView& v, const WalkStep& s) {
        const ModelMatrixTable& mt = *v.mt;
        const int32_t e0 = mt.firstElement[s.matrix], e1 = e0 + mt.elementCount[s.matrix];
        for (int32_t e = e0; e < e1; ++e) {
            const int32_t p = v.el->parameter[e];
            bool first = p != 0 && p <= v.nParmFree;
            for (int32_t f = e0; f < e && first; ++f) first = v.el->parameter[f] != p;
            if (!first) continue;
            if (p > 0) {
                record(v, s, e, p - 1);
            } else if (v.fdDepDerivs) {
                for (int32_t j = 0; j < v.nDepInputs; ++j) record(v, s, e, v.depInputParms[j] - 1);
            } else {
                // Every derivative entry, whatever its value at this point.
                for (int32_t t = 0; t < v.nDepDerivs; ++t)
                    if (v.depParmNumbers[v.depDerivParm[t]] == p)
                        record(v, s, e, v.depInputParms[v.depDerivInput[t]] - 1);
            }
        }
    }

    bool closure(const EvalView& v, int32_t k) const;
    void record(const EvalView& v, const WalkStep& s, int32_t e, int32_t tag);
    int32_t dense_moments(const EvalView& v, const WalkStep& s, int32_t e, int32_t tag);
    int32_t sparse_moments(const EvalView& v, const WalkStep& s, int32_t e);
    void pmat(const EvalView& v, int32_t matrix, int32_t tag, double* column);
    const double* values_;  // the element values of the point
    int32_t print_;
    // Scratch of sparse_moments: the nonzero rows of u and v, the moments
    // found (packed index) and their flags over the p* moments, cleared
    // again after each record.
    std::vector<int32_t> rowsU_, rowsV_;
    std::vector<int64_t> found_;
    std::vector<char> seen_;
};

// R := reflexive-transitive closure of the graph of the matrix's order
// (Warshall), written where the kernels read the stored inverse.
bool StructuralVisitor::closure(const EvalView& v, int32_t k) const {
    const ModelMatrixTable& mt = *v.mt;
    const int16_t type = mt.type[k];
    int32_t m = mt.rows[k];
    if (type == kMatEqsBeta) m -= v.nExogenous;
    if (m <= 0 || mt.rows[k] != mt.columns[k]) return false;
    std::vector<char> r(static_cast<size_t>(m) * m, 0);
    auto at = [&](int32_t i, int32_t j) -> char& { return r[static_cast<size_t>(i) * m + j]; };
    for (int32_t i = 0; i < m; ++i) at(i, i) = 1;
    const bool symmetric = type == kMatSymmetric || type == kMatPosDefinit;
    const int32_t e0 = mt.firstElement[k], e1 = e0 + mt.elementCount[k];
    for (int32_t e = e0; e < e1; ++e) {
        if (v.el->parameter[e] == 0 && values_[e] == 0.0) continue;
        int32_t i = v.el->row[e], j = v.el->column[e];
        if (i >= m || j >= m) continue;
        if (type == kMatUpper) std::swap(i, j);  // stored as its transpose
        at(i, j) = 1;
        if (symmetric) at(j, i) = 1;
    }
    if (type == kMatLower || type == kMatUpper)
        mvlinv(r.data(), m);
    else
        mvminv(r.data(), m);
    double* a = velix::detail::stored_inverse(v, k);
    const bool packed = type == kMatLower || type == kMatUpper || symmetric;
    for (int32_t i = 0; i < m; ++i)
        for (int32_t j = 0; j < (packed ? i + 1 : m); ++j)
            a[packed ? pk_lower(i, j) : int64_t{i} * m + j] = at(i, j) ? 1.0 : 0.0;
    return true;
}

void StructuralVisitor::record(const EvalView& v, const WalkStep& s, int32_t e, int32_t tag) {
    JacobianStorage& jac = v.st->jac;
    if (jac.recordCount >= jac.recordMax)
        internal_error("more Jacobian pattern records than counted");
    jac.rowEnd[jac.recordCount] = print_ ? dense_moments(v, s, e, tag) : sparse_moments(v, s, e);
    jac.recordTags[jac.recordCount++] = tag;
}

// The record's moments from its column summed densely, then shown:
// appended to pairs, their count returned.
int32_t StructuralVisitor::dense_moments(const EvalView& v, const WalkStep& s, int32_t e, int32_t tag) {
    JacobianStorage& jac = v.st->jac;
    const ModelMatrixTable& mt = *v.mt;
    const bool symmetric = mt.type[s.matrix] == kMatPosDefinit || mt.type[s.matrix] == kMatSymmetric;
    const int32_t e1 = mt.firstElement[s.matrix] + mt.elementCount[s.matrix];
    std::fill(jac.column, jac.column + v.pstar, 0.0);
    for (int32_t f = e; f < e1; ++f) {
        if (v.el->parameter[f] != v.el->parameter[e]) continue;
        const int32_t r = v.el->row[f], c = v.el->column[f];
        velix::detail::add_share(v, s, 1.0, r, c, jac.column);
        if (symmetric && r != c) velix::detail::add_share(v, s, 1.0, c, r, jac.column);
    }
    velix::detail::zero_diagonal_moments(v, jac.column);
    int32_t count = 0;
    for (int32_t i = 0; i < v.n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            if (jac.column[pk_lower(i, j)] > 0.0) {
                pairs.push_back(i);
                pairs.push_back(j);
                ++count;
            }
    pmat(v, s.matrix, tag, jac.column);
    return count;
}

// The record's moments without the dense column: a share u v' + v u' on
// non-negative markers is positive at (a, b) exactly where u(a) v(b) or
// u(b) v(a) is, so the moments are the pairs of the nonzero rows of u and
// v, found in time of their number instead of the rows' length.  Appended
// to pairs ascending, as dense_moments would give them; the count returned.
int32_t StructuralVisitor::sparse_moments(const EvalView& v, const WalkStep& s, int32_t e) {
    const ModelMatrixTable& mt = *v.mt;
    const bool symmetric = mt.type[s.matrix] == kMatPosDefinit || mt.type[s.matrix] == kMatSymmetric;
    const bool diagonal = !v.st->diagFromData;
    const int32_t e1 = mt.firstElement[s.matrix] + mt.elementCount[s.matrix];
    seen_.resize(static_cast<size_t>(v.pstar));
    found_.clear();
    const auto share = [&](int32_t r, int32_t c) {
        rowsU_.clear();
        rowsV_.clear();
        for (int32_t i = 0; i < v.n; ++i) {
            if (s.U[int64_t{i} * v.ld + r] > 0.0) rowsU_.push_back(i);
            if (s.V[int64_t{i} * v.ld + c] > 0.0) rowsV_.push_back(i);
        }
        for (const int32_t a : rowsU_)
            for (const int32_t b : rowsV_) {
                if (a == b && !diagonal) continue;
                const int64_t m = a >= b ? pk_lower(a, b) : pk_lower(b, a);
                if (seen_[static_cast<size_t>(m)]) continue;
                seen_[static_cast<size_t>(m)] = 1;
                found_.push_back(m);
            }
    };
    for (int32_t f = e; f < e1; ++f) {
        if (v.el->parameter[f] != v.el->parameter[e]) continue;
        share(v.el->row[f], v.el->column[f]);
        if (symmetric && v.el->row[f] != v.el->column[f]) share(v.el->column[f], v.el->row[f]);
    }
    std::sort(found_.begin(), found_.end());
    for (int32_t i = 0, at = 0; at < static_cast<int32_t>(found_.size()); ++i)
        for (; at < static_cast<int32_t>(found_.size()) && found_[static_cast<size_t>(at)] < pk_lower(i + 1, 0); ++at) {
            const int64_t m = found_[static_cast<size_t>(at)];
            seen_[static_cast<size_t>(m)] = 0;
            pairs.push_back(i);
            pairs.push_back(static_cast<int32_t>(m - pk_lower(i, 0)));
        }
    return static_cast<int32_t>(found_.size());
}

// One record as a "Jacobian" table: missing at a structural nonzero.  Its
// template variables name the parameter and the matrix, and only the first
// record of the run shows the column labels ("pconlab"), so that the
// records read as one table.
void StructuralVisitor::pmat(const EvalView& v, int32_t matrix, int32_t tag, double* column) {
    ++printed;
    for (int32_t m = 0; m < v.pstar; ++m)
        column[m] = column[m] > 0.0 ? host_missing_value() : 0.0;
    const NameRecord* label = v.nlp->param.paramNames ? v.nlp->param.paramNames + tag : nullptr;
    std::string parameter;
    if (label != nullptr) {
        parameter.assign(label->text, static_cast<size_t>(std::clamp<int16_t>(label->length, 0, 32)));
        parameter.erase(parameter.find_last_not_of(' ') + 1);
    }
    const std::string matrixName = velix::detail::matrix_name(v, matrix);
    const char* pconlab = printed == 1 ? "on" : "off";
    auto counted = [](uint16_t attribute, const char* text, size_t length) {
        return kyr_counted(attribute, text, static_cast<int32_t>(length));
    };
    const KyrArg variables[] = {
        counted(kAttrVariableName, "parameter", 9), counted(kAttrValue, parameter.data(), parameter.size()),
        counted(kAttrVariableName, "matrix", 6),    counted(kAttrValue, matrixName.data(), matrixName.size()),
        counted(kAttrVariableName, "num", 3),       kyr_int(kAttrValue, matrix),
        counted(kAttrVariableName, "pconlab", 7),   counted(kAttrValue, pconlab, std::strlen(pconlab))};
    MatrixTable t;
    t.templatePath = kyrtxt("Tesk.Velix.Jacobian", -1);
    t.name = kyrtxt("Jacobian", -1);
    t.title = kyrmsgs(kMsgProc, kTitleJacobian, matrixName.c_str());
    t.values = column;
    t.rows = 1;
    t.columns = v.pstar;
    t.rowLabels = label;
    t.storage = "rb";
    t.listingSwitches = true;
    t.variables = variables;
    t.nVariables = static_cast<int32_t>(std::size(variables));
    kyr_publish_matrix(v.kyrManager, t);
}

// The structural form of model matrix k: markers into its element values
// from the saved values, which the kernels then unpack and multiply as
// they would the values.
void unpack(const EvalView& v, int32_t k, const double* values) {
    const ModelMatrixTable& mt = *v.mt;
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
        v.el->value[e] = marker(mt, k, v.el->parameter[e] != 0 || values[e] != 0.0);
}

// An array of the evaluation pool, or 0 after the memory message.
template <typename T>
T* take(const EvalView& v, int64_t count) {
    const size_t bytes = static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(T);
    void* p = v.st->pool->allocate(v.st->pool, bytes, 4096);
    if (p == nullptr || xmemdef(p) != 0) {
        xmemmsg(static_cast<int64_t>(bytes));
        return nullptr;
    }
    return static_cast<T*>(p);
}

}  // namespace

bool compress(const EvalView* view, const int32_t* pairs) {
    const EvalView& v = *view;
    JacobianStorage& jac = v.st->jac;
    const int32_t q = v.nParmFree;
    // Packed moment indices per parameter, sorted with the duplicates
    // dropped: the same pattern as a search per pair, in n log n.
    std::vector<std::vector<int64_t>> lists(static_cast<size_t>(q));
    int64_t at = 0;
    for (int32_t r = 0; r < jac.recordCount; ++r) {
        std::vector<int64_t>& list = lists[static_cast<size_t>(jac.recordTags[r])];
        for (int32_t t = 0; t < jac.rowEnd[r]; ++t, at += 2)
            list.push_back(pk_lower(pairs[at], pairs[at + 1]));
    }
    int64_t total = 0;
    for (auto& list : lists) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        total += static_cast<int64_t>(list.size());
    }
    // The arrays of an earlier pattern (an earlier BY group's) serve again
    // when they have room, as if new: the pool takes no block back, so
    // taking new ones for each group would grow it with the groups.
    if (jac.nzValue != nullptr && total <= jac.nzCapacity) {
        std::fill(jac.nzValue, jac.nzValue + total, 0.0);
    } else {
        jac.nzRow = take<int32_t>(v, total);
        jac.nzCol = jac.nzRow ? take<int32_t>(v, total) : nullptr;
        jac.nzValue = jac.nzCol ? take<double>(v, total) : nullptr;
        if (jac.nzValue == nullptr) return false;
        jac.nzCapacity = static_cast<int32_t>(total);
    }
    jac.nonzeros = static_cast<int32_t>(total);
    spgroup_forget(v.st);
    int32_t t = 0;
    for (int32_t k = 0; k < q; ++k) {
        for (const int64_t m : lists[static_cast<size_t>(k)]) {
            int32_t i = 0;
            while (pk_lower(i + 1, 0) <= m) ++i;
            jac.nzRow[t] = i;
            jac.nzCol[t++] = static_cast<int32_t>(m - pk_lower(i, 0));
        }
        jac.rowEnd[k] = t;
    }
    return true;
}

double jacobian_density(const EvalView* view) {
    const double cells = static_cast<double>(view->pstar) * view->nParmFree;
    return cells > 0.0 ? 100.0 * view->st->jac.nonzeros / cells : 0.0;
}

int32_t cosjamv(const EvalView* view, int32_t printPattern) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    st.jac.recordCount = 0;
    st.jac.nonzeros = 0;
    // The values of the point: a failed program leaves none to mark.
    if (cosresv(view, 0) != 0) {
        st.valid = 0;
        return 1;
    }
    std::vector<double> values(v.el->value, v.el->value + v.nElements);
    for (int32_t k = 1; k <= v.nMatrices; ++k) unpack(v, k, values.data());
    // The structural inverses go to the dense store, the sparse one's too.
    const int32_t sparseInverse = st.sparseInv.matrix;
    st.sparseInv.matrix = 0;
    StructuralVisitor visitor(values.data(), printPattern);
    const int32_t failed = walk_terms(view, &visitor);
    st.sparseInv.matrix = sparseInverse;
    std::copy(values.begin(), values.end(), v.el->value);
    std::fill(st.invDone, st.invDone + v.nMatrices + 1, int16_t{0});
    if (v.invertOnce) cosimat(view, 0, 0);
    st.valid = 0;  // the objective's inverse forms were overwritten
    if (failed) {
        xpmlog(kMsgProc, kMsgNoInverse);
        return 1;
    }
    // Without room for the pattern the Jacobian is formed densely.
    if (!compress(view, visitor.pairs.data())) return 1;
    if (printPattern) xpmlog(kMsgProc, kMsgDensity, jacobian_density(view));
    return 0;
}

bool sparse_pattern_pays(int64_t nonzeros, int32_t pstar, int32_t q) {
    return nonzeros > 0 && 4 * nonzeros <= int64_t{pstar} * q;
}

int32_t sparsji(const EvalView* view, int32_t request, int32_t printPattern) {
    view->st->jac.nonzeros = 0;
    if (request != 0 && request != 11 && request != 12) return request;
    if (view->nParmFree > 0 && cosjamv(view, printPattern) != 0) {
        xpmlog(kMsgProc, kMsgPatternFailed);
        return request == 11 ? 1 : 5;
    }
    return request;
}
