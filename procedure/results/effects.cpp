// Total and indirect effects and the stability coefficient (see
// effects.h).
//
//   structural variables; D over them; lambda = largest eigenvalue of D D'
//   "Stability" table on request
//   TOTEFF: T = (I - B)^-1 G less the unit paths of the error terms
//           (RAM: (I - B)^-1 - I); "TotalEffects"; T less the direct
//           effects; "IndirectEffects"
//
// A LINEQS error term E_k stands for its endogenous variable y_k: the
// column of E_k in (I - B)^-1 G, less its unit path, holds the total
// effects of y_k, so it is labelled with y_k's name, and the direct effect
// of y_k on another variable (a BETA element) is subtracted in that column.
#include "procedure/results/effects.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "host/fields.h"
#include "host/internal_error.h"
#include "numerics/eigen.h"
#include "numerics/kernel_support.h"
#include "procedure/data/data.h"
#include "procedure/evaluation/cosan_kernels.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/proc_options.h"
#include "procedure/procedure.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {

constexpr int32_t kDirectMatrix = 2;   // B: _BETA_ or _A_
constexpr int32_t kExogenousMatrix = 3;  // G: _GAMMA_ of LINEQS
constexpr double kNegligible = 1000.0 * velix::kMachEpsWritten;

}  // namespace

double effects_stability(const std::vector<double>& d, int32_t m) {
    double ss = 0.0;
    for (double x : d) ss += x * x;
    if (m < 1 || ss <= DBL_MIN) return host_missing_value();
    std::vector<double> p(static_cast<size_t>(pk_lower(m, 0)));
    for (int32_t i = 0; i < m; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < m; ++k) s += d[static_cast<size_t>(i * m + k)] * d[static_cast<size_t>(j * m + k)];
            p[static_cast<size_t>(pk_lower(i, j))] = s;
        }
    if (m == 1) return p[0];
    std::vector<double> ev(static_cast<size_t>(m)), work(static_cast<size_t>(9 * m));
    const int32_t rc = zeigen2(m, p.data(), ev.data(), 0, nullptr, work.data());
    if (rc == kZeigen2DependentCluster || rc == kZeigen2BisectionShort || rc == kZeigen2InvalidCall)
        return host_missing_value();
    return ev[0];
}

double effects_spectral_radius(std::vector<double> b, int32_t m) {
    // 40 squarings: n = 2^40, so that a constant c in ||B^n|| ~ c rho^n
    // (or a power of n from a Jordan block) leaves rho off by about
    // ln(c) / 2^40.
    constexpr int kSquarings = 40;
    const auto norm = [m](const std::vector<double>& a) {
        double largest = 0.0;  // the largest absolute row sum
        for (int32_t i = 0; i < m; ++i) {
            double row = 0.0;
            for (int32_t j = 0; j < m; ++j) row += std::fabs(a[static_cast<size_t>(i * m + j)]);
            largest = std::max(largest, row);
        }
        return largest;
    };
    double n = norm(b);
    if (m < 1 || !(n > 0.0) || !std::isfinite(n)) return 0.0;
    // b holds B^(2^k) / c_k at norm 1 and logRoot ln(c_k) / 2^k.
    double logRoot = std::log(n), weight = 1.0;
    for (double& x : b) x /= n;
    std::vector<double> square(b.size());
    for (int k = 0; k < kSquarings; ++k) {
        std::fill(square.begin(), square.end(), 0.0);
        for (int32_t i = 0; i < m; ++i)
            for (int32_t l = 0; l < m; ++l) {
                const double x = b[static_cast<size_t>(i * m + l)];
                if (x == 0.0) continue;
                for (int32_t j = 0; j < m; ++j)
                    square[static_cast<size_t>(i * m + j)] += x * b[static_cast<size_t>(l * m + j)];
            }
        n = norm(square);
        if (!(n > 0.0)) return 0.0;
        weight /= 2.0;
        logRoot += weight * std::log(n);
        for (size_t p = 0; p < b.size(); ++p) b[p] = square[p] / n;
    }
    return std::exp(logRoot);
}

std::vector<int32_t> structural_variables(const ResultsView& rv, int32_t nY) {
    const ModelMatrixTable& mt = *rv.model;
    const NameRecord* names = rv.readers->columnNames + (mt.firstColumnName[kDirectMatrix] - 1);
    std::vector<char> sends(static_cast<size_t>(nY), 0), receives(static_cast<size_t>(nY), 0);
    const int32_t e0 = mt.firstElement[kDirectMatrix];
    for (int32_t e = e0; e < e0 + mt.elementCount[kDirectMatrix]; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        if (rv.readers->ramModel) {
            if (c < nY) sends[static_cast<size_t>(c)] = 1;
            if (r < nY) receives[static_cast<size_t>(r)] = 1;
        } else if (r < nY && c < nY) {
            sends[static_cast<size_t>(c)] = receives[static_cast<size_t>(r)] = 1;
        }
    }
    std::vector<int32_t> chosen;
    for (int32_t i = 0; i < nY; ++i) {
        bool in;
        if (rv.sizes->nStructEq > 0) {
            in = false;
            const int32_t li = wzstrip(names[i].text, names[i].length);
            for (int32_t s = 0; s < rv.sizes->nStructEq && !in; ++s) {
                const NameRecord& n = rv.readers->structEqNames[s];
                in = wzsteqn(names[i].text, li, n.text, wzstrip(n.text, n.length)) != 0;
            }
        } else if (rv.readers->ramModel) {
            in = sends[static_cast<size_t>(i)] && receives[static_cast<size_t>(i)];
        } else {
            in = sends[static_cast<size_t>(i)] || receives[static_cast<size_t>(i)];
        }
        if (in) chosen.push_back(i);
    }
    return chosen;
}

void effects_clear_negligible(std::vector<double>* values) {
    double m = 0.0;
    for (double x : *values) m = std::max(m, std::fabs(x));
    for (double& x : *values)
        if (std::fabs(x) <= m * kNegligible) x = 0.0;
}

}  // namespace velix::detail

namespace {

using namespace velix::detail;

constexpr int32_t kTitleStability = 823, kLabelStability = 616;
constexpr int32_t kTitleTotal = 824, kTitleIndirect = 825;

// The effect matrix of the model: nY rows, nX columns, row-major.
struct Effects {
    int32_t nY = 0, nX = 0;
    std::vector<double> total;
    std::vector<int32_t> errorColumn;  // LINEQS: per endogenous variable its error term's column, -1 none
    std::vector<NameRecord> rowNames, columnNames;
};

// Dense model matrix k as it enters the model, of the expected shape.
std::vector<double> unpacked(const ResultsView& rv, int32_t k, int32_t rows, int32_t cols) {
    const EvalView view = eval_view(rv.ctx);
    std::vector<double> dense(static_cast<size_t>(std::max(rows, view.ld)) * static_cast<size_t>(view.ld));
    int32_t r = 0, c = 0;
    cosunpa(&view, 0, k, &r, &c, dense.data());
    if (r != rows || c != cols) internal_errorf("effect matrix %d is %d x %d, not %d x %d", k, r, c, rows, cols);
    std::vector<double> out(static_cast<size_t>(rows) * static_cast<size_t>(cols));
    for (int32_t i = 0; i < rows; ++i)
        std::copy_n(dense.begin() + static_cast<std::ptrdiff_t>(i) * view.ld, cols,
                    out.begin() + static_cast<std::ptrdiff_t>(i) * cols);
    return out;
}

// The sizes, the total effects and the labels.
Effects total_effects(const ResultsView& rv) {
    const ModelMatrixTable& mt = *rv.model;
    Effects e;
    const NameRecord* names = rv.readers->columnNames;
    const std::vector<double> inv = [&] {
        if (rv.readers->ramModel) {
            e.nY = e.nX = mt.rows[kDirectMatrix];
        } else {
            e.nY = mt.rows[kDirectMatrix] - mt.rows[4];
            e.nX = mt.columns[kExogenousMatrix];
        }
        return unpacked(rv, kDirectMatrix, e.nY, e.nY);
    }();
    e.rowNames.assign(names + mt.firstColumnName[kDirectMatrix] - 1,
                      names + mt.firstColumnName[kDirectMatrix] - 1 + e.nY);
    if (rv.readers->ramModel) {
        e.total = inv;
        for (int32_t i = 0; i < e.nY; ++i) e.total[static_cast<size_t>(i * e.nY + i)] -= 1.0;
        e.columnNames = e.rowNames;
        return e;
    }
    const std::vector<double> g = unpacked(rv, kExogenousMatrix, e.nY, e.nX);
    e.total.assign(static_cast<size_t>(e.nY) * static_cast<size_t>(e.nX), 0.0);
    for (int32_t i = 0; i < e.nY; ++i)
        for (int32_t k = 0; k < e.nY; ++k) {
            const double b = inv[static_cast<size_t>(i * e.nY + k)];
            if (b == 0.0) continue;
            for (int32_t j = 0; j < e.nX; ++j)
                e.total[static_cast<size_t>(i * e.nX + j)] += b * g[static_cast<size_t>(k * e.nX + j)];
        }
    e.columnNames.assign(names + mt.firstColumnName[kExogenousMatrix] - 1,
                         names + mt.firstColumnName[kExogenousMatrix] - 1 + e.nX);
    // The error term of an endogenous variable is the error-term column in
    // which its equation has its (unit) path.
    e.errorColumn.assign(static_cast<size_t>(e.nY), -1);
    const int32_t e0 = mt.firstElement[kExogenousMatrix];
    for (int32_t el = e0; el < e0 + mt.elementCount[kExogenousMatrix]; ++el) {
        const int32_t r = rv.elements->row[el], c = rv.elements->column[el];
        if (r < e.nY && c >= rv.readers->nExoNonError) e.errorColumn[static_cast<size_t>(r)] = c;
    }
    for (int32_t k = 0; k < e.nY; ++k) {
        const int32_t c = e.errorColumn[static_cast<size_t>(k)];
        if (c < 0) continue;
        e.total[static_cast<size_t>(k * e.nX + c)] -= 1.0;
        e.columnNames[static_cast<size_t>(c)] = e.rowNames[static_cast<size_t>(k)];
    }
    return e;
}

// The effects less the direct ones (the element estimates).
std::vector<double> indirect_effects(const ResultsView& rv, const Effects& e) {
    const ModelMatrixTable& mt = *rv.model;
    std::vector<double> out = e.total;
    auto subtract = [&](int32_t k, auto column_of) {
        for (int32_t el = mt.firstElement[k]; el < mt.firstElement[k] + mt.elementCount[k]; ++el) {
            const int32_t r = rv.elements->row[el], c = column_of(rv.elements->column[el]);
            if (r < e.nY && c >= 0 && c < e.nX) out[static_cast<size_t>(r * e.nX + c)] -= rv.elements->value[el];
        }
    };
    if (rv.readers->ramModel) {
        subtract(kDirectMatrix, [](int32_t c) { return c; });
        return out;
    }
    subtract(kDirectMatrix, [&](int32_t c) { return c < e.nY ? e.errorColumn[static_cast<size_t>(c)] : -1; });
    subtract(kExogenousMatrix, [](int32_t c) { return c; });
    for (int32_t k = 0; k < e.nY; ++k)
        if (const int32_t c = e.errorColumn[static_cast<size_t>(k)]; c >= 0) out[static_cast<size_t>(k * e.nX + c)] += 1.0;
    return out;
}

// Publishes the rows and columns of `values` that hold a nonzero entry.
void publish_effects(const ResultsView& rv, const char* name, int32_t title, std::vector<double> values,
                     const Effects& e) {
    effects_clear_negligible(&values);
    std::vector<int32_t> rows, cols;
    for (int32_t i = 0; i < e.nY; ++i)
        for (int32_t j = 0; j < e.nX; ++j)
            if (values[static_cast<size_t>(i * e.nX + j)] != 0.0) {
                if (rows.empty() || rows.back() != i) rows.push_back(i);
                cols.push_back(j);
            }
    if (rows.empty()) return;
    std::sort(cols.begin(), cols.end());
    cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
    std::vector<double> shown;
    std::vector<NameRecord> rowNames, colNames;
    for (int32_t i : rows) {
        rowNames.push_back(e.rowNames[static_cast<size_t>(i)]);
        for (int32_t j : cols) shown.push_back(values[static_cast<size_t>(i * e.nX + j)]);
    }
    for (int32_t j : cols) colNames.push_back(e.columnNames[static_cast<size_t>(j)]);
    const int32_t style = rv.options->covAnalysis || rv.input->symatrixInput ? 0 : 7;
    publish_matrix(rv.ctx, name, title, shown.data(), static_cast<int32_t>(rows.size()),
                   static_cast<int32_t>(cols.size()), rowNames.data(), colNames.data(), "r", style);
}

void stability(const ResultsView& rv, int32_t nY) {
    const std::vector<int32_t> chosen = structural_variables(rv, nY);
    const int32_t m = static_cast<int32_t>(chosen.size());
    std::vector<int32_t> position(static_cast<size_t>(nY), -1);
    for (int32_t i = 0; i < m; ++i) position[static_cast<size_t>(chosen[static_cast<size_t>(i)])] = i;
    std::vector<double> d(static_cast<size_t>(m) * static_cast<size_t>(m), 0.0);
    const ModelMatrixTable& mt = *rv.model;
    for (int32_t e = mt.firstElement[kDirectMatrix]; e < mt.firstElement[kDirectMatrix] + mt.elementCount[kDirectMatrix]; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        if (r >= nY || c >= nY) continue;
        const int32_t pr = position[static_cast<size_t>(r)], pc = position[static_cast<size_t>(c)];
        if (pr >= 0 && pc >= 0) d[static_cast<size_t>(pr * m + pc)] = rv.elements->value[e];
    }
    const double lambda = effects_stability(d, m);
    if (host_is_missing(lambda) || !rv.options->printEnabled) return;
    const int32_t label = kLabelStability;
    cosput(rv.ctx, kyrtxt("Stability", -1), kTitleStability, kyrtxt("Stability", -1), 1, &lambda, &label,
           kyrtxt("Tesk.Velix.Stability", -1));
}

// The NOTE on effects whose series diverges: (I - B)^-1 exists, but with
// the spectral radius of B above 1 the effects of I + B + B^2 + ... grow
// without bound, and its inverse is no sum of them.
void diverging_series(const ResultsView& rv, int32_t nY) {
    std::vector<double> b(static_cast<size_t>(nY) * static_cast<size_t>(nY), 0.0);
    const ModelMatrixTable& mt = *rv.model;
    const int32_t first = mt.firstElement[kDirectMatrix];
    for (int32_t e = first; e < first + mt.elementCount[kDirectMatrix]; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        if (r < nY && c < nY) b[static_cast<size_t>(r * nY + c)] = rv.elements->value[e];
    }
    const double radius = effects_spectral_radius(std::move(b), nY);
    if (radius > 1.0) xpmlog(kMsgProc, kMsgEffectsDiverge, radius);
}

}  // namespace

void costeff(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    if (!rv.readers->lineqsModel && !rv.readers->ramModel) return;
    const bool determination = (rv.options->printFlags & (kPrintPdeterm | kPrintPall)) != 0;
    const bool effects = rv.options->printEffects && rv.options->printEnabled;
    if (!determination && !effects) return;
    const Effects e = total_effects(rv);
    if (determination) stability(rv, e.nY);
    if (!effects) return;
    diverging_series(rv, e.nY);
    publish_effects(rv, "TotalEffects", kTitleTotal, e.total, e);
    publish_effects(rv, "IndirectEffects", kTitleIndirect, indirect_effects(rv, e), e);
}
