// The null space of active constraints by variable reduction (see
// variable_reduction.h).
//
//   variable_reduction:
//     the columns of the parameters not held; each general row over them,
//     scaled to a largest element of 1 (a zero row is dependent)
//     Gauss-Jordan elimination with complete pivoting: the largest element
//     of the rows not yet pivoted becomes the pivot while it exceeds
//     kDependentRowTol; its column is eliminated from every other row
//     each pivot row then reads x_basic + sum over free j of w_j x_j = 0:
//     d = -w over the free columns
//   reduce_packed:  Z'AZ = A_NN + D'A_BN + A_NB D + D'(A_BB D)
//   expand_packed:  Z C Z' = [C, (DC)'; DC, (DC)D'] in the parameters' places
//   release_constraint:  the bordered inverse grown by one direction z,
//     C + w w'/s (w = z - CAz, s = z'Aw), of which only row i is formed
#include "numerics/variable_reduction.h"

#include <algorithm>
#include <cmath>

#include "velix/packed_index.h"

namespace velix::detail {

namespace {

// The general rows over the candidate columns, each scaled to a largest
// element of 1; a row without a nonzero element is left out.
std::vector<std::vector<double>> scaled_rows(int32_t n, int32_t m, const double* rows,
                                             const std::vector<int32_t>& columns) {
    std::vector<std::vector<double>> out;
    for (int32_t i = 0; i < m; ++i) {
        const double* row = rows + static_cast<int64_t>(i) * n;
        std::vector<double> w(columns.size());
        double largest = 0.0;
        for (size_t j = 0; j < columns.size(); ++j) {
            w[j] = row[columns[j]];
            largest = std::max(largest, std::fabs(w[j]));
        }
        if (!(largest > 0.0)) continue;
        for (double& x : w) x /= largest;
        out.push_back(std::move(w));
    }
    return out;
}

// y := A x for the packed symmetric a of order n.
void packed_times(int32_t n, const double* a, const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) {
        double v = 0.0;
        for (int32_t j = 0; j < n; ++j) v += a[pk(i, j)] * x[j];
        y[i] = v;
    }
}

double dot(int32_t n, const double* x, const double* y) {
    double v = 0.0;
    for (int32_t i = 0; i < n; ++i) v += x[i] * y[i];
    return v;
}

}  // namespace

int32_t variable_reduction(int32_t n, int32_t nHeld, const int32_t* held, int32_t m, const double* rows,
                           VariableReduction* out) {
    *out = VariableReduction{};
    out->n = n;
    std::vector<char> isHeld(static_cast<size_t>(n), 0);
    for (int32_t k = 0; k < nHeld; ++k) {
        isHeld[static_cast<size_t>(held[k])] = 1;
        out->held.push_back(held[k]);
    }
    std::vector<int32_t> columns;
    for (int32_t j = 0; j < n; ++j)
        if (!isHeld[static_cast<size_t>(j)]) columns.push_back(j);
    std::vector<std::vector<double>> w = scaled_rows(n, m, rows, columns);
    const size_t c = columns.size();
    std::vector<char> pivoted(w.size(), 0), used(c, 0);
    std::vector<size_t> pivotRow, pivotColumn;
    for (;;) {
        double best = kDependentRowTol;
        size_t pr = w.size(), pc = c;
        for (size_t i = 0; i < w.size(); ++i) {
            if (pivoted[i]) continue;
            for (size_t j = 0; j < c; ++j)
                if (!used[j] && std::fabs(w[i][j]) > best) {
                    best = std::fabs(w[i][j]);
                    pr = i;
                    pc = j;
                }
        }
        if (pr == w.size()) break;
        std::vector<double>& p = w[pr];
        const double pivot = p[pc];
        for (double& x : p) x /= pivot;
        for (size_t i = 0; i < w.size(); ++i) {
            if (i == pr || w[i][pc] == 0.0) continue;
            const double f = w[i][pc];
            for (size_t j = 0; j < c; ++j) w[i][j] -= f * p[j];
        }
        pivoted[pr] = used[pc] = 1;
        pivotRow.push_back(pr);
        pivotColumn.push_back(pc);
    }
    std::vector<size_t> freeColumns;
    for (size_t j = 0; j < c; ++j)
        if (!used[j]) {
            freeColumns.push_back(j);
            out->free.push_back(columns[j]);
        }
    const size_t r = freeColumns.size();
    out->d.resize(pivotRow.size() * r);
    for (size_t b = 0; b < pivotRow.size(); ++b) {
        out->basic.push_back(columns[pivotColumn[b]]);
        for (size_t j = 0; j < r; ++j) out->d[b * r + j] = -w[pivotRow[b]][freeColumns[j]];
    }
    return static_cast<int32_t>(out->basic.size());
}

void reduce_packed(const VariableReduction& r, const double* a, double* out) {
    const int32_t dim = r.dim();
    const size_t k = r.basic.size(), rr = static_cast<size_t>(dim);
    const std::vector<int32_t>& f = r.free;
    const std::vector<int32_t>& bs = r.basic;
    // P = A_BN and Q = A_BB D, k rows of dim each.
    std::vector<double> P(k * rr), Q(k * rr, 0.0);
    for (size_t b = 0; b < k; ++b) {
        for (size_t j = 0; j < rr; ++j) P[b * rr + j] = a[pk(bs[b], f[j])];
        for (size_t c = 0; c < k; ++c) {
            const double abc = a[pk(bs[b], bs[c])];
            if (abc == 0.0) continue;
            for (size_t j = 0; j < rr; ++j) Q[b * rr + j] += abc * r.d[c * rr + j];
        }
    }
    for (size_t i = 0; i < rr; ++i)
        for (size_t j = 0; j <= i; ++j) {
            double v = a[pk(f[i], f[j])];
            for (size_t b = 0; b < k; ++b) {
                const double* db = r.d.data() + b * rr;
                v += db[i] * (P[b * rr + j] + Q[b * rr + j]) + P[b * rr + i] * db[j];
            }
            out[pk_lower(static_cast<int64_t>(i), static_cast<int64_t>(j))] = v;
        }
}

void expand_packed(const VariableReduction& r, const double* c, double* out) {
    const size_t k = r.basic.size(), rr = static_cast<size_t>(r.dim());
    const std::vector<int32_t>& f = r.free;
    const std::vector<int32_t>& bs = r.basic;
    std::fill(out, out + pk_lower(r.n, 0), 0.0);
    for (size_t i = 0; i < rr; ++i)
        for (size_t j = 0; j <= i; ++j) out[pk(f[i], f[j])] = c[pk_lower(static_cast<int64_t>(i), static_cast<int64_t>(j))];
    // DC, k rows of dim.
    std::vector<double> dc(k * rr, 0.0);
    for (size_t b = 0; b < k; ++b) {
        const double* db = r.d.data() + b * rr;
        double* row = dc.data() + b * rr;
        for (size_t i = 0; i < rr; ++i) {
            if (db[i] == 0.0) continue;
            for (size_t j = 0; j < rr; ++j) row[j] += db[i] * c[pk(static_cast<int64_t>(i), static_cast<int64_t>(j))];
        }
        for (size_t j = 0; j < rr; ++j) out[pk(bs[b], f[j])] = row[j];
    }
    for (size_t b = 0; b < k; ++b)
        for (size_t e = 0; e <= b; ++e) {
            double v = 0.0;
            for (size_t j = 0; j < rr; ++j) v += dc[b * rr + j] * r.d[e * rr + j];
            out[pk(bs[b], bs[e])] = v;
        }
}

void reduce_vector(const VariableReduction& r, const double* g, double* out) {
    const size_t rr = static_cast<size_t>(r.dim());
    for (size_t j = 0; j < rr; ++j) {
        double v = g[r.free[j]];
        for (size_t b = 0; b < r.basic.size(); ++b) v += r.d[b * rr + j] * g[r.basic[b]];
        out[j] = v;
    }
}

bool moving_direction(const VariableReduction& r, int32_t i, double* z) {
    const size_t rr = static_cast<size_t>(r.dim());
    size_t column = rr;
    for (size_t j = 0; j < rr; ++j)
        if (r.free[j] == i) column = j;
    for (size_t b = 0; b < r.basic.size() && column == rr; ++b) {
        if (r.basic[b] != i) continue;
        double largest = 0.0;
        for (size_t j = 0; j < rr; ++j)
            if (std::fabs(r.d[b * rr + j]) > largest) {
                largest = std::fabs(r.d[b * rr + j]);
                column = j;
            }
    }
    if (column == rr) return false;
    std::fill(z, z + r.n, 0.0);
    z[r.free[column]] = 1.0;
    for (size_t b = 0; b < r.basic.size(); ++b) z[r.basic[b]] = r.d[b * rr + column];
    return true;
}

ReleasedConstraint release_constraint(int32_t n, const double* a, const double* c, const double* g, const double* z,
                                      int32_t i) {
    ReleasedConstraint out;
    std::vector<double> az(static_cast<size_t>(n)), w(static_cast<size_t>(n));
    packed_times(n, a, z, az.data());
    packed_times(n, c, az.data(), w.data());
    for (int32_t k = 0; k < n; ++k) w[k] = z[k] - w[k];
    const double s = dot(n, az.data(), w.data());
    // A direction whose information the free ones explain to this share
    // is not one more direction: the rule of the dependent rows.
    if (!(s > kDependentRowTol * dot(n, az.data(), z)) || z[i] == 0.0) return out;
    double cg = 0.0;
    for (int32_t k = 0; k < n; ++k) cg += c[pk(i, k)] * g[k];
    const double wg = dot(n, w.data(), g);
    out.valid = true;
    out.score = dot(n, z, g) / z[i];
    out.variance = c[pk(i, i)] + w[i] * w[i] / s;
    out.change = -cg - w[i] * wg / s;
    return out;
}

}  // namespace velix::detail
