// The least-squares Jacobian store: the m x n Jacobian of the functions of
// a least-squares (or composite) objective is never held whole; its
// columns are appended one at a time to the utility file jacobianFile,
// and what the Gauss-Newton techniques and the finite differences need is
// formed from them: a row of the cross product and the product J u (and
// the whole matrix for its table).
//
// Layout of the file: at byte 0 the storage mode (a 32-bit integer, padded
// to 8 bytes), then column j (m doubles) at byte 8 + 8 m j.  A failed read
// or write is reported with the host's text and ends the step with 1020.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "numerics/kernel_support.h"
#include "host/scratch_file.h"
#include "optimizer/core/pending.h"
#include "optimizer/techniques/support.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

constexpr int64_t kHeaderBytes = 8;

int64_t column_position(const NlpProblem* p, int32_t j) {
    return kHeaderBytes + static_cast<int64_t>(sizeof(double)) * p->shape.nFunctions * j;
}

// One term of the cross product of columns a and b at function value fi,
// in the form crossProductForm asks for: 0 plain J'J; else for least
// squares the terms weighted by the squared function value, for another
// composite objective divided by the function value (a value that is
// negligible against f adds nothing).
double term(const NlpProblem* p, double a, double b, double fi) {
    if (p->opt.crossProductForm == 0) return a * b;
    if (p->shape.leastSquares) return a * fi * b * fi;
    const double v = p->shape.maximize ? -fi : fi;
    if (std::fabs(v) <=
        std::fmax(100.0 * velix::kMachEpsWritten * std::fabs(p->iter.f), 10000.0 * DBL_MIN))
        return 0.0;
    return a * b / v;
}

}  // namespace

namespace velix::detail {

void read_column(NlpProblem* p, int32_t j, double* out) {
    scratch_check(xcpoint(p->opt.jacobianFile, column_position(p, j)));
    scratch_check(xcread(p->opt.jacobianFile, out, static_cast<int64_t>(sizeof(double)) * p->shape.nFunctions));
}

}  // namespace velix::detail

using velix::detail::read_column;

int32_t znlpjwt(NlpProblem* p, int32_t zero, int32_t j, int32_t one, const double* column) {
    if (p->opt.jacobianFile == nullptr || p->shape.nFunctions <= 0) return 1;
    if (j == 0) {
        int32_t header[2] = {one, 0};
        scratch_check(xcpoint(p->opt.jacobianFile, 0));
        scratch_check(xcwrite(p->opt.jacobianFile, header, kHeaderBytes));
    }
    scratch_check(xcpoint(p->opt.jacobianFile, column_position(p, j)));
    scratch_check(xcwrite(p->opt.jacobianFile, column, static_cast<int64_t>(sizeof(double)) * p->shape.nFunctions));
    return 0;
}

int32_t znlpjdt(NlpProblem* p, int32_t j, const double* base, const double* column, double* row) {
    const int32_t m = p->shape.nFunctions;
    if (p->opt.jacobianFile == nullptr || m <= 0) return 1;
    velix::detail::Frame fr(p);
    if (!fr.reserve(m)) return 1;
    double* other = fr.take(m);
    for (int32_t k = 0; k <= j; ++k) {
        const double* a = column;
        if (k < j) {
            read_column(p, k, other);
            a = other;
        }
        double s = 0.0;
        for (int32_t i = 0; i < m; ++i) s += term(p, a[i], column[i], base[i]);
        if (!std::isfinite(s)) return 1;
        row[k] = s;
    }
    return 0;
}

int32_t znlpjve(NlpProblem* p, const double* u, double* out) {
    const int32_t m = p->shape.nFunctions;
    if (p->opt.jacobianFile == nullptr || m <= 0) return 1;
    velix::detail::Frame fr(p);
    if (!fr.reserve(m)) return 1;
    double* col = fr.take(m);
    for (int32_t i = 0; i < m; ++i) out[i] = 0.0;
    for (int32_t j = 0; j < p->shape.nParams; ++j) {
        read_column(p, j, col);
        velix::detail::axpy(m, u[j], col, out);
    }
    return 0;
}

int32_t znlpjrd(NlpProblem* p, double* jac) {
    const int32_t m = p->shape.nFunctions, n = p->shape.nParams;
    std::vector<double> unit(static_cast<size_t>(n), 0.0), column(static_cast<size_t>(m));
    // Column j is J e_j.
    for (int32_t j = 0; j < n; ++j) {
        unit[static_cast<size_t>(j)] = 1.0;
        if (znlpjve(p, unit.data(), column.data()) != 0) return 1;
        unit[static_cast<size_t>(j)] = 0.0;
        for (int32_t i = 0; i < m; ++i) jac[static_cast<int64_t>(i) * n + j] = column[static_cast<size_t>(i)];
    }
    return 0;
}
