// Lagrange multiplier (modification) indices of the fixed elements of the
// model matrices and Wald statistics of the free ones (Sorbom 1989;
// Bollen 1989, ch. 7).  For a fixed element with derivative dC of the
// implied moments, gamma = <dC, dF/dC> and b its information with the free
// parameters (b_q its own): bordering V, the inverse information, gives
// rho = 1 / (b_q - b'V b); the index is LM = gamma^2 rho / kappa and the
// expected change -(b~'g + rho gamma) with b~ the new last row.  A free
// element shows (estimate / standard error)^2.
//
//   cosmod1: checks; the state at the solution; walk every term with every
//            matrix that can hold an element; per matrix: its cells, the
//            rank list, the tables "ModIndices" and "RankLagrange"
//
// Cell labels: "[name]" a free independent parameter, "<name>" a
// dependent one; "Sing" an element whose information is not positive, or
// whose index is above both 100 T and 100 and so not reported: an index
// that far beyond the chi-square it approximates comes from a Schur
// complement near zero, an element all but dependent on the free ones.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/distributions.h"
#include "numerics/kernel_support.h"
#include "procedure/evaluation/term_walker.h"
#include "procedure/procedure.h"
#include "procedure/results/lagrange.h"
#include "procedure/results/lagrange_cells.h"
#include "procedure/results/modification_indices.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::detail {

int32_t lm_rank_length(int32_t fixedCells) {
    if (fixedCells >= 20) return 10;
    if (fixedCells >= 10) return fixedCells / 2;
    return std::min(fixedCells, 5);
}

void lm_rank_offer(std::vector<LmRanked>* list, size_t length, LmRanked e) {
    auto at = std::find_if(list->begin(), list->end(), [&](const LmRanked& x) { return e.lm >= x.lm; });
    if (static_cast<size_t>(at - list->begin()) >= length) return;
    list->insert(at, e);
    if (list->size() > length) list->pop_back();
}

void lm_rank_cut(std::vector<LmRanked>* list) {
    constexpr double kTol = velix::kSqrtMachEpsWritten;
    if (list->empty()) return;
    const double top = std::fabs(list->front().lm);
    auto cut = std::find_if(list->begin(), list->end(),
                            [&](const LmRanked& x) { return x.lm <= kTol || x.lm < kTol * top; });
    list->erase(cut, list->end());
}

LmCell lm_cell(const LmSetup& s, double gamma, double delta, double bVb, double bVg) {
    constexpr double kZero = velix::kMachEpsWritten;
    LmCell cell;
    const double tol = s.rv.options->singular;
    double rho = 0.0;
    bool singular;
    if (s.q == 0) {
        singular = std::fabs(delta) <= tol;
        if (!singular) rho = 1.0 / delta;
    } else {
        const double sigma = delta - bVb;
        singular = sigma <= tol * std::fabs(delta) * s.q;
        if (!singular) rho = 1.0 / sigma;
    }
    if (std::fabs(rho) < kZero) rho = 0.0;
    if (singular || rho < 0.0) {
        cell.state = LmCell::kSingular;
        return cell;
    }
    if (s.kappa <= 0.0) return cell;
    const double lm = gamma * gamma * rho / s.kappa;
    if (lm > 100.0 * s.chisq && lm > 100.0) {
        cell.state = LmCell::kSingular;
        return cell;
    }
    cell.state = LmCell::kIndex;
    cell.lm = lm;
    cell.change = rho * (bVg - gamma);
    return cell;
}

}  // namespace velix::detail

namespace {

using namespace velix::detail;

constexpr int32_t kTitleIndices = 861, kTitleRank = 862, kTitleRankText = 166;

std::string trimmed(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

NameRecord record(const std::string& s) {
    NameRecord r;
    const size_t l = std::min(s.size(), sizeof r.text);
    std::memcpy(r.text, s.data(), l);
    r.length = static_cast<int16_t>(l);
    return r;
}

// The shape in which matrix k is shown (and bounded): LINEQS shows _BETA_
// and _GAMMA_ without their trailing exogenous block.
void shown_shape(const LmSetup& s, int32_t k, int32_t* rows, int32_t* cols) {
    const ModelMatrixTable& mt = *s.rv.model;
    *rows = mt.rows[k];
    *cols = mt.columns[k];
    if (!s.view.lineqs) return;
    if (k == 2) {
        *rows -= s.view.nExogenous;
        *cols -= s.view.nExogenous;
    } else if (k == 3) {
        *rows -= s.view.nExogenous;
    }
}

bool first_of_term(const EvalView& v, int32_t k) {
    for (int32_t t = 1; t <= v.nTerms; ++t)
        if (velix::detail::term_first(v, t) == k) return true;
    return false;
}

bool central_of_term(const EvalView& v, int32_t k) {
    for (int32_t t = 1; t <= v.nTerms; ++t)
        if (velix::detail::term_central(v, t) == k) return true;
    return false;
}

// Whether an element (r, c) of matrix k stands for (c, r) as well: the
// central matrix P enters a term as F P F', so its (r, c) and (c, r) are
// one change of the model whatever its type (a DIAGONAL unique matrix
// included), as are the elements of a symmetric type anywhere.
bool symmetric_layout(const EvalView& v, int32_t k) {
    const ModelMatrixTable& mt = *v.mt;
    return mt.type[k] == kMatPosDefinit || mt.type[k] == kMatSymmetric || central_of_term(v, k);
}

bool skipped_type(int16_t type) {
    return type == kMatIdentity || type == kMatZerIdentity || type == kMatPermutation || type == kMatSelection;
}

// The row and column labels of matrix k (its place in its term decides
// the rows).
void labels(const LmSetup& s, int32_t k, bool firstOfTerm, int32_t rows, int32_t cols,
            std::vector<NameRecord>* rowLabels, std::vector<NameRecord>* colLabels) {
    const ModelMatrixTable& mt = *s.rv.model;
    const NameRecord* names = s.rv.readers->columnNames;
    auto of = [&](int32_t m) { return mt.firstColumnName[m] > 0 ? names + mt.firstColumnName[m] - 1 : nullptr; };
    const NameRecord* rowFrom = nullptr;
    if (firstOfTerm) rowFrom = s.rv.input->manifestNames;
    else if ((mt.type[k] == kMatPosDefinit || mt.type[k] == kMatSymmetric) && of(k) != nullptr) rowFrom = of(k);
    else if (k > 1 && of(k - 1) != nullptr) rowFrom = of(k - 1);
    rowLabels->clear();
    colLabels->clear();
    for (int32_t i = 0; i < rows; ++i)
        rowLabels->push_back(rowFrom ? rowFrom[i] : record("Row" + std::to_string(i + 1)));
    for (int32_t j = 0; j < cols; ++j)
        colLabels->push_back(of(k) ? of(k)[j] : record("Col" + std::to_string(j + 1)));
}

// The values of one matrix's cells, row-major.
struct MatrixCells {
    int32_t rows = 0, cols = 0;
    std::vector<double> stat, prob, change;
    std::vector<std::string> label;
    std::vector<LmRanked> rank;
};

class IndexVisitor final : public TermVisitor {
   public:
    IndexVisitor(const LmSetup* s, LmCellWork* work) : s_(s), work_(work) {}
    void visit(const EvalView& v, const WalkStep& step) override;

   private:
    void wald_cell(int32_t p, MatrixCells* m, size_t at);
    void publish(int32_t k, bool firstOfTerm, MatrixCells* m);
    const LmSetup* s_;
    LmCellWork* work_;
};

void IndexVisitor::wald_cell(int32_t p, MatrixCells* m, size_t at) {
    const LmSetup& s = *s_;
    const NlpProblem* nlp = s.rv.nlp;
    const int32_t index = std::abs(p) - 1;
    double se = host_missing_value();
    if (p > 0 && p <= s.q) {
        const double v = work_->variance(index);
        if (v >= 0.0 && s.kappa > 0.0) se = std::sqrt(s.kappa * v);
    } else if (p < 0 && index < s.rv.sizes->nParmAll && nlp->work.stdErrors != nullptr) {
        se = nlp->work.stdErrors[index];
    }
    const std::string name = trimmed(nlp->param.paramNames[index]);
    m->label[at] = p > 0 ? "[" + name + "]" : "<" + name + ">";
    if (!host_is_missing(se) && se > 0.0) {
        const double t = nlp->param.x[index] / se;
        m->stat[at] = t * t;
    }
}

// The outcome of a fixed cell into its place of the matrix's arrays.
void store_cell(const LmCell& cell, MatrixCells* m, size_t at) {
    if (cell.state == LmCell::kIndex) {
        m->stat[at] = cell.lm;
        m->change[at] = cell.change;
        m->prob[at] = zpgx2(cell.lm, 1);
    } else if (cell.state == LmCell::kSingular) {
        m->label[at] = "Sing";
    }
}

void IndexVisitor::visit(const EvalView& v, const WalkStep& step) {
    const LmSetup& s = *s_;
    const ModelMatrixTable& mt = *s.rv.model;
    const int32_t k = step.matrix;
    if (skipped_type(mt.type[k])) return;
    MatrixCells m;
    shown_shape(s, k, &m.rows, &m.cols);
    if (m.rows <= 0 || m.cols <= 0) return;
    const size_t cells = static_cast<size_t>(m.rows) * static_cast<size_t>(m.cols);
    m.stat.assign(cells, host_missing_value());
    m.prob = m.change = m.stat;
    m.label.assign(cells, std::string());
    const bool sym = symmetric_layout(v, k);
    const bool noDiagonal = mt.type[k] == kMatBeta || mt.type[k] == kMatEqsBeta || mt.form[k] == kFormIMinusInverse;
    std::vector<int32_t> param(cells, 0);
    int32_t free = 0;
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
        const int32_t r = s.rv.elements->row[e], c = s.rv.elements->column[e], p = s.rv.elements->parameter[e];
        if (r >= m.rows || c >= m.cols || p == 0) continue;
        ++free;
        param[static_cast<size_t>(r * m.cols + c)] = p;
        if (sym) param[static_cast<size_t>(c * m.cols + r)] = p;
    }
    // The fixed cells, row by row, all computed at once.
    std::vector<LmCellRef> fixed;
    for (int32_t r = 0; r < m.rows; ++r)
        for (int32_t c = 0; c < (sym ? std::min(r + 1, m.cols) : m.cols); ++c) {
            const size_t at = static_cast<size_t>(r * m.cols + c);
            if (r == c && noDiagonal) continue;
            if (param[at] != 0)
                wald_cell(param[at], &m, at);
            else
                fixed.push_back({r, c});
        }
    std::vector<LmCell> outcome;
    work_->matrix_cells(step, m.rows, m.cols, sym, fixed, &outcome);
    const size_t rankLength = static_cast<size_t>(lm_rank_length(m.rows * m.cols - free));
    for (size_t i = 0; i < fixed.size(); ++i) {
        const size_t at = static_cast<size_t>(fixed[i].r * m.cols + fixed[i].c);
        store_cell(outcome[i], &m, at);
        if (outcome[i].state == LmCell::kIndex) lm_rank_offer(&m.rank, rankLength, {fixed[i].r, fixed[i].c, outcome[i].lm});
    }
    if (sym)
        for (int32_t r = 0; r < m.rows; ++r)
            for (int32_t c = 0; c < std::min(r, m.cols); ++c) {
                const size_t at = static_cast<size_t>(r * m.cols + c), mirror = static_cast<size_t>(c * m.cols + r);
                m.stat[mirror] = m.stat[at];
                m.prob[mirror] = m.prob[at];
                m.change[mirror] = m.change[at];
                m.label[mirror] = m.label[at];
            }
    lm_rank_cut(&m.rank);
    // A matrix that stands in several terms is shown at its first visit.
    if (mt.sameName[k] == 0) publish(k, first_of_term(v, k), &m);
}

// A text handle per cell (0 for an empty label).
std::vector<HostText*> cell_texts(const std::vector<std::string>& labels) {
    std::vector<HostText*> out(labels.size(), nullptr);
    for (size_t i = 0; i < labels.size(); ++i)
        if (!labels[i].empty()) out[i] = kyrtxt(labels[i].c_str(), static_cast<int32_t>(labels[i].size()));
    return out;
}

// One piece of the "ModIndices" matrix object.
bool piece(MatrixPieces* m, const char* label, uint16_t attr, uint16_t type, const void* values,
           const MatrixCells& c, const std::vector<NameRecord>* rowLabels,
           const std::vector<NameRecord>* colLabels) {
    KyrArg a[8];
    int32_t k = 0;
    a[k++] = kyr_address(attr, type, values);
    a[k++] = kyr_int(kAttrRows, c.rows);
    a[k++] = kyr_int(kAttrColumns, c.cols);
    a[k++] = kyr_counted(kAttrStorage, label[0] == 'N' ? "ra" : "raf", label[0] == 'N' ? 2 : 3);
    if (label[0] != '\0') a[k++] = kyr_counted(kAttrPieceLabel, label, static_cast<int32_t>(std::strlen(label)));
    if (rowLabels != nullptr) {
        a[k++] = kyr_address(kAttrRowLabels, kKyrRowLabels, rowLabels->data());
        a[k++] = kyr_address(kAttrColumnLabels, kKyrRowLabels, colLabels->data());
    }
    return m->piece(a, k);
}

void rank_table(const LmSetup& s, const std::string& matrixName, const MatrixCells& m,
                const std::vector<NameRecord>& rowLabels, const std::vector<NameRecord>& colLabels) {
    int32_t width = 1;
    for (const LmRanked& e : m.rank)
        width = std::max({width, static_cast<int32_t>(trimmed(rowLabels[static_cast<size_t>(e.row)]).size()),
                          static_cast<int32_t>(trimmed(colLabels[static_cast<size_t>(e.column)]).size())});
    OutputTable t(s.rv.output->kyrManager, "RankLagrange", kyrmsg(kMsgProc, kTitleRank), "Tesk.Velix.RankLagrange",
                  kyrmsgs(kMsgProc, kTitleRankText, static_cast<int32_t>(m.rank.size()), matrixName.c_str()));
    t.text_column("Row", width);
    t.text_column("Column", width);
    t.double_column("ChiSq");
    t.double_column("ProbChiSq");
    if (!t.end_columns()) return;
    for (const LmRanked& e : m.rank) {
        t.set_text(0, trimmed(rowLabels[static_cast<size_t>(e.row)]));
        t.set_text(1, trimmed(colLabels[static_cast<size_t>(e.column)]));
        t.set_double(2, e.lm);
        t.set_double(3, zpgx2(e.lm, 1));
        if (!t.add_row()) return;
    }
    t.deliver();
}

void IndexVisitor::publish(int32_t k, bool firstOfTerm, MatrixCells* m) {
    const LmSetup& s = *s_;
    std::vector<NameRecord> rowLabels, colLabels;
    labels(s, k, firstOfTerm, m->rows, m->cols, &rowLabels, &colLabels);
    const std::string name = trimmed(s.rv.model->name[k]);
    HostObject* manager = s.rv.output->kyrManager;
    if (manager == nullptr) return;
    MatrixPieces object(manager);
    if (!object.ok()) return;
    const std::vector<HostText*> texts = cell_texts(m->label);
    HostText* title = kyrmsgs(kMsgProc, kTitleIndices, name.c_str());
    KyrArg publish[] = {kyr_text(kAttrTemplatePath, kyrtxt("Tesk.Velix.ModIndices", -1)),
                        kyr_text(kAttrName, kyrtxt("ModIndices", -1)), kyr_text(kAttrLabel, title)};
    const bool ok =
        piece(&object, "", kAttrValues, kKyrDoubles, m->stat.data(), *m, &rowLabels, &colLabels) &&
        piece(&object, "P", kAttrValues, kKyrDoubles, m->prob.data(), *m, nullptr, nullptr) &&
        piece(&object, "C", kAttrValues, kKyrDoubles, m->change.data(), *m, nullptr, nullptr) &&
        piece(&object, "N", kAttrCellTexts, kKyrTextHandle, texts.data(), *m, nullptr, nullptr) &&
        object.publish(publish, 3);
    object.close();
    if (ok && !m->rank.empty()) rank_table(s, name, *m, rowLabels, colLabels);
}

}  // namespace

void cosmod1(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    LmSetup s;
    if (!lm_begin(rv, rv.sizes->nParmFree > 0, false, &s)) return;
    int32_t wide = 1;
    for (int32_t k = 1; k <= rv.sizes->nMatrices; ++k) {
        int32_t rows, cols;
        shown_shape(s, k, &rows, &cols);
        if (!skipped_type(rv.model->type[k])) wide = std::max({wide, rows, cols});
    }
    LmCellWork work;
    if (!work.begin(&s, wide)) return;
    // Every matrix that can hold an element is walked, also those whose
    // elements are all fixed (the walk of the derivatives passes them by).
    ModelMatrixTable& mt = *rv.model;
    std::vector<int16_t> constant(mt.constant, mt.constant + rv.sizes->nMatrices + 1);
    for (int32_t k = 1; k <= rv.sizes->nMatrices; ++k)
        if (!skipped_type(mt.type[k])) mt.constant[k] = 0;
    IndexVisitor visitor(&s, &work);
    const int32_t failed = walk_terms(&s.view, &visitor);
    std::copy(constant.begin(), constant.end(), mt.constant);
    if (failed != 0) lm_unavailable();
}
