// Lagrange multiplier tests of the equality constraints that a parameter
// name standing at several model elements sets (Bentler 1986; Sorbom
// 1989).  Releasing element e from the rest of its group splits the
// parameter in two: theta_1 at e (derivative d1) and theta_2 at the others
// (derivative D, the sum of theirs).  With the other q - 1 parameters the
// inverse information J of that split model follows from V by removing
// the tied parameter and bordering twice; the score of H0: theta_1 =
// theta_2 gives LM = s^2 (J11 + J22 - 2 J12) / kappa, s = (gamma1 -
// gamma2) / 2, and the expected changes of theta_1 and theta_2.
//
//   cosmod2: checks; the state at the solution; number the tied elements;
//            their derivative columns by the term walk; per group its
//            rows (a group of two: one row); "LagrangeEquality"
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/output_table.h"
#include "host/scratch_file.h"
#include "numerics/distributions.h"
#include "numerics/kernel_support.h"
#include "procedure/evaluation/information_scratch.h"
#include "procedure/evaluation/term_walker.h"
#include "procedure/procedure.h"
#include "procedure/results/equality_tests.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::detail {

EqualityTest equality_test(const LmSetup& s, int32_t p, const LmDerivative& d1, const LmDerivative& d) {
    constexpr double kZero = velix::kMachEpsWritten;
    EqualityTest out;
    const int32_t q = s.q;
    const double tol = s.rv.options->singular;
    // V from the scratch: sinvre and sinvex change it.
    std::vector<double> V(static_cast<size_t>(pk_lower(q + 1, 0))), work(static_cast<size_t>(q) + 1);
    read_covariance_rows(&s.view, 0, q, V.data());
    if (sinvre(p, q, tol, V.data(), work.data()) != 0) return out;
    // Bordering rows: the other parameters in order, then d1's (and D's).
    std::vector<double> b1, b2, g;
    lm_informations(s, d1, d, p, &b1, &b2);
    for (int32_t i = 0; i < q; ++i)
        if (i != p) g.push_back(s.g[static_cast<size_t>(i)]);
    b1.push_back(d1.delta);
    b2.push_back(lm_cross(s, d1, d));
    b2.push_back(d.delta);
    if (sinvex(q - 1, tol, V.data(), b1.data(), work.data()) != 0) return out;
    std::copy(b1.begin(), b1.end(), V.begin() + pk_lower(q - 1, 0));
    if (sinvex(q, tol, V.data(), b2.data(), work.data()) != 0) return out;
    const double j11 = V[static_cast<size_t>(pk_lower(q - 1, q - 1))], j12 = b2[static_cast<size_t>(q - 1)],
                 j22 = b2[static_cast<size_t>(q)];
    double r1g = 0.0, r2g = 0.0;
    for (int32_t i = 0; i < q - 1; ++i) {
        r1g += V[static_cast<size_t>(pk_lower(q - 1, i))] * g[static_cast<size_t>(i)];
        r2g += b2[static_cast<size_t>(i)] * g[static_cast<size_t>(i)];
    }
    out.computed = true;
    out.change1 = -(j11 * d1.gamma + j12 * d.gamma + r1g);
    out.change2 = -(j12 * d1.gamma + j22 * d.gamma + r2g);
    double var = j11 + j22 - 2.0 * j12;
    if (std::fabs(var) < kZero) var = 0.0;
    if (var < 0.0 || s.kappa <= 0.0) return out;
    const double half = (d1.gamma - d.gamma) * 0.5;
    const double lm = half * half * var / s.kappa;
    if (lm > 100.0 * s.chisq && lm > 100.0) return out;
    out.valid = true;
    out.lm = lm;
    return out;
}

}  // namespace velix::detail

namespace {

using namespace velix::detail;

constexpr int32_t kTitleEquality = 863;
constexpr int32_t kMsgSingularRows = 179;  // some rows have no statistic

std::string trimmed(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

// The derivatives (unweighted) of the tied elements, by their numbers
// 1 .. T: in memory (columns side by side) or on a utility file of their
// own, column t - 1 at byte 8 p* (t - 1).
class TiedColumns final : public TermVisitor {
   public:
    TiedColumns(const LmSetup* s, const std::vector<int32_t>* number, double* memory, HostFile* file)
        : s_(s), number_(number), memory_(memory), file_(file) {}
    void visit(const EvalView& v, const WalkStep& step) override {
        const ModelMatrixTable& mt = *s_->rv.model;
        const int32_t k = step.matrix;
        const bool sym = mt.type[k] == kMatPosDefinit || mt.type[k] == kMatSymmetric;
        for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
            const int32_t t = (*number_)[static_cast<size_t>(e)];
            if (t == 0) continue;
            const int32_t r = s_->rv.elements->row[e], c = s_->rv.elements->column[e];
            const RankTwo parts[2] = {{step.U, step.V, v.ld, r, c, step.scale}, {step.U, step.V, v.ld, c, r, step.scale}};
            lm_element_dc(*s_, parts, sym && r != c ? 2 : 1, &dC_);
            if (memory_ != nullptr)
                std::copy(dC_.begin(), dC_.end(), memory_ + int64_t{t - 1} * s_->pstar);
            else
                file_put(file_, 8 * int64_t{s_->pstar} * (t - 1), dC_.data(), s_->pstar);
        }
    }
    // The column of element e into *out.
    void column(int32_t e, std::vector<double>* out) const {
        const int32_t t = (*number_)[static_cast<size_t>(e)], p = s_->pstar;
        out->resize(static_cast<size_t>(p));
        if (memory_ != nullptr)
            std::copy(memory_ + int64_t{t - 1} * p, memory_ + int64_t{t} * p, out->begin());
        else
            file_get(file_, 8 * int64_t{p} * (t - 1), out->data(), p);
    }

   private:
    const LmSetup* s_;
    const std::vector<int32_t>* number_;
    double* memory_;
    HostFile* file_;
    std::vector<double> dC_;
};

// The label of element e: "[row:column]" by variable names, or the
// matrix name with 1-based row and column.
std::string element_label(const ResultsView& rv, int32_t e, bool byNames) {
    const ModelMatrixTable& mt = *rv.model;
    int32_t k = 1;
    while (k < rv.sizes->nMatrices && e >= mt.firstElement[k] + mt.elementCount[k]) ++k;
    const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
    const NameRecord* names = rv.readers->columnNames;
    if (byNames && k > 1 && mt.firstColumnName[k - 1] > 0 && mt.firstColumnName[k] > 0)
        return "[" + trimmed(names[mt.firstColumnName[k - 1] - 1 + r]) + ":" +
               trimmed(names[mt.firstColumnName[k] - 1 + c]) + "]";
    return trimmed(mt.name[k]) + "[" + std::to_string(r + 1) + ":" + std::to_string(c + 1) + "]";
}

struct EqualityRow {
    std::string released, others;
    EqualityTest test;
};

// The rows of the group `elements` of parameter p (0-based).
void group_rows(const LmSetup& s, const TiedColumns& cols, int32_t p, const std::vector<int32_t>& elements,
                bool byNames, std::vector<EqualityRow>* rows) {
    const size_t m = elements.size();
    LmDerivative d1, d;
    std::vector<double> next;
    d.dC.assign(static_cast<size_t>(s.pstar), 0.0);
    for (size_t t = 1; t < m; ++t) {
        cols.column(elements[t], &next);
        for (int32_t k = 0; k < s.pstar; ++k) d.dC[static_cast<size_t>(k)] += next[static_cast<size_t>(k)];
    }
    cols.column(elements[0], &d1.dC);
    // Two elements give one test: releasing either is the same.
    const size_t count = m == 2 ? 1 : m;
    for (size_t t = 0; t < count; ++t) {
        if (t > 0) {
            // D := D + d1 - (the next element's column); d1 := that column.
            cols.column(elements[t], &next);
            for (int32_t k = 0; k < s.pstar; ++k)
                d.dC[static_cast<size_t>(k)] += d1.dC[static_cast<size_t>(k)] - next[static_cast<size_t>(k)];
            d1.dC = next;
        }
        lm_weigh(s, &d1);
        lm_weigh(s, &d);
        EqualityRow row;
        row.released = element_label(s.rv, elements[t], byNames);
        for (size_t o = 0; o < m; ++o) {
            if (o == t) continue;
            if (!byNames) row.others += ' ';
            row.others += element_label(s.rv, elements[o], byNames);
        }
        row.test = equality_test(s, p, d1, d);
        rows->push_back(row);
    }
}

void equality_table(const LmSetup& s, const std::vector<EqualityRow>& rows) {
    size_t w1 = 1, w2 = 1;
    for (const EqualityRow& r : rows) {
        w1 = std::max(w1, r.released.size());
        w2 = std::max(w2, r.others.size());
    }
    OutputTable t(s.rv.output->kyrManager, "LagrangeEquality", kyrmsg(kMsgProc, kTitleEquality),
                  "Tesk.Velix.LagrangeEquality");
    for (const char* c : {"ChiSq", "ProbChiSq", "Change1", "Change2"}) t.double_column(c);
    t.text_column("Parameter1", static_cast<int32_t>(w1));
    t.text_column("Parameter2", static_cast<int32_t>(w2));
    t.text_column("EqCons", static_cast<int32_t>(w1 + w2 + 3));
    if (!t.end_columns()) return;
    const double missing = host_missing_value();
    for (const EqualityRow& r : rows) {
        t.set_double(0, r.test.valid ? r.test.lm : missing);
        t.set_double(1, r.test.valid ? zpgx2(r.test.lm, 1) : missing);
        t.set_double(2, r.test.computed ? r.test.change1 : missing);
        t.set_double(3, r.test.computed ? r.test.change2 : missing);
        t.set_text(4, r.released);
        t.set_text(5, r.others);
        t.set_text(6, r.released + " = " + r.others);
        if (!t.add_row()) return;
    }
    t.deliver();
}

// Where the derivative columns of the tied elements are kept: a block of
// the pool, or a utility file.
struct ColumnStore {
    HostAllocator* pool = nullptr;
    HostFile* file = nullptr;
    double* memory = nullptr;
    // Closes the file (a failure ends the step).
    void close() {
        if (file != nullptr) scratch_check(xcclose(file, 1));
        file = nullptr;
    }
    // A return before close() leaves the file to the end of the step,
    // which frees every file: a destructor must not end the step.
    ~ColumnStore() {
        xmpoold(pool);
        if (file != nullptr) (void)xcclose(file, 1);
    }
};

// The pool of the tests and the columns' store: the columns stay in memory
// when the stage kept its Jacobian in memory and the pool can hold them,
// else they go to a utility file (message 352/50 when memory was tried and
// failed).  false after the memory-shortage messages when the pool itself
// cannot be had.
bool column_store(const LmSetup& s, int32_t tied, int32_t largest, ColumnStore* out) {
    const int64_t q = s.q, p = s.pstar, t = tied;
    const int32_t mode = *s.view.jacobianMode;
    bool inMemory = mode == 1 || mode == 5;
    for (;;) {
        int64_t bytes = 8 * (velix::pk_lower(q + 1, 0) + 2 * (q + 2) + 68 * int64_t{largest} + 3 * p +
                             2 * int64_t{s.n} * s.view.ld) +
                        4 * (s.rv.sizes->nElements + 2 * t);
        if (inMemory) bytes += 8 * p * t;
        out->pool = xmpoolc(bytes, 1024, 4096);
        if (out->pool == nullptr) {
            xmemmsg(bytes);
            xpmlog(kMsgProc, kMsgLmNoMemory);
            return false;
        }
        if (!inMemory) break;
        void* block = out->pool->allocate(out->pool, static_cast<size_t>(8 * std::max<int64_t>(p * t, 1)), 4096);
        if (const int32_t code = xmemdef(block); code == 0) {
            out->memory = static_cast<double*>(block);
            return true;
        }
        xmpoold(out->pool);
        out->pool = nullptr;
        inMemory = false;
        xpmlog(kMsgProc, kMsgLmColumnsToFile);
    }
    ScratchFileRequest request;
    request.attributeWord = kFileSequential;
    scratch_check(xcopen(&out->file, &request));
    return true;
}

}  // namespace

void cosmod2(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    const int32_t q = rv.sizes->nParmFree;
    if (q < 1 || rv.methods->methodRequested == kMethodNone || !rv.options->modIndices) return;
    if (!lm_covariance_usable(rv)) return lm_unavailable();
    // The groups: the elements of each independent parameter that stands
    // at two or more of them, in parameter and then element order.
    std::vector<std::vector<int32_t>> groups(static_cast<size_t>(q));
    for (int32_t e = 0; e < rv.sizes->nElements; ++e) {
        const int32_t p = rv.elements->parameter[e];
        if (p > 0 && p <= q) groups[static_cast<size_t>(p - 1)].push_back(e);
    }
    std::vector<int32_t> number(static_cast<size_t>(rv.sizes->nElements), 0);
    int32_t tied = 0, largest = 0;
    for (const auto& g : groups)
        if (g.size() >= 2) {
            largest = std::max(largest, static_cast<int32_t>(g.size()));
            for (int32_t e : g) number[static_cast<size_t>(e)] = ++tied;
        }
    if (tied == 0) return;
    // The state at the solution only when there is a tie to test.
    LmSetup s;
    if (!lm_setup(rv, &s, false)) return lm_unavailable();
    ColumnStore store;
    if (!column_store(s, tied, largest, &store)) return;
    TiedColumns columns(&s, &number, store.memory, store.file);
    if (walk_terms(&s.view, &columns) != 0) {
        lm_unavailable();
        return;
    }
    const bool byNames = rv.readers->lineqsModel && !rv.options->matrixForm;
    std::vector<EqualityRow> rows;
    for (int32_t p = 0; p < s.q; ++p)
        if (groups[static_cast<size_t>(p)].size() >= 2) group_rows(s, columns, p, groups[static_cast<size_t>(p)], byNames, &rows);
    store.close();
    equality_table(s, rows);
    if (std::any_of(rows.begin(), rows.end(), [](const EqualityRow& r) { return !r.test.computed; }))
        xpmlog(kMsgProc, kMsgSingularRows);
}
