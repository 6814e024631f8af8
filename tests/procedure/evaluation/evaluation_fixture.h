// Test support for model evaluation: a step that reads a model and the
// moments of its first BY group (cosinit, coscorr), sets up the evaluation
// arrays, and an independent dense computation of the implied moments from
// the element pattern, for comparison with the typed kernels.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/support/model_step.h"
#include "host/host_support.h"
#include "platform/output.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/model_view.h"
#include "velix/packed_index.h"

namespace velix::testing {

using Dense = std::vector<std::vector<double>>;

inline Dense zeros(int32_t r, int32_t c) {
    return Dense(static_cast<size_t>(r), std::vector<double>(static_cast<size_t>(c), 0.0));
}

inline Dense multiply(const Dense& a, const Dense& b) {
    Dense c =
        zeros(static_cast<int32_t>(a.size()), b.empty() ? 0 : static_cast<int32_t>(b[0].size()));
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t k = 0; k < b.size(); ++k)
            for (size_t j = 0; j < c[i].size(); ++j) c[i][j] += a[i][k] * b[k][j];
    return c;
}

inline Dense transpose(const Dense& a) {
    Dense t =
        zeros(a.empty() ? 0 : static_cast<int32_t>(a[0].size()), static_cast<int32_t>(a.size()));
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = 0; j < a[i].size(); ++j) t[j][i] = a[i][j];
    return t;
}

// Gauss-Jordan inverse with partial pivoting.
inline Dense inverse(Dense a) {
    const size_t n = a.size();
    Dense inv = zeros(static_cast<int32_t>(n), static_cast<int32_t>(n));
    for (size_t i = 0; i < n; ++i) inv[i][i] = 1.0;
    for (size_t c = 0; c < n; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        std::swap(a[c], a[p]);
        std::swap(inv[c], inv[p]);
        const double d = a[c][c];
        for (size_t j = 0; j < n; ++j) a[c][j] /= d, inv[c][j] /= d;
        for (size_t r = 0; r < n; ++r) {
            if (r == c || a[r][c] == 0.0) continue;
            const double f = a[r][c];
            for (size_t j = 0; j < n; ++j) a[r][j] -= f * a[c][j], inv[r][j] -= f * inv[c][j];
        }
    }
    return inv;
}

inline double log_det(Dense a) {
    const size_t n = a.size();
    double s = 0.0;
    for (size_t c = 0; c < n; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        std::swap(a[c], a[p]);
        s += std::log(std::fabs(a[c][c]));
        for (size_t r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (size_t j = c; j < n; ++j) a[r][j] -= f * a[c][j];
        }
    }
    return s;
}

inline Dense expand(int32_t n, const double* packed) {
    Dense d = zeros(n, n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) d[i][j] = packed[velix::pk(i, j)];
    return d;
}

// A model step with the moments of its first BY group and the evaluation
// arrays; methodStage is the method of the program's METHOD= option.
struct EvalStep : ModelStep {
    explicit EvalStep(const std::string& text, int32_t method) : ModelStep(text) {
        if (exitCode != -1) return;
        // The output manager that the step driver creates before cosinit.
        if (xobinit(&ctx.output.kyrAnchor, 0) == 0) {
            KyrArg args[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7),
                             kyr_object(144, nullptr), kyr_int(383, 352)};
            if (wobmth(ctx.output.kyrAnchor, nullptr, 147, 4, args) >= 0) ctx.output.kyrManager = args[2].object;
        }
        try {
            if (xbynext(ctx.dataSets.dataSetHandle[kRoleData]) == 0 || coscorr(&ctx) != 0) return;
            ctx.methods.methodStage = method;
            commem(&ctx);
            ready = true;
        } catch (const velix::platform::StepExit& e) {
            exitCode = e.code;
        }
    }
    ~EvalStep() { evaluation_release(&ctx); }
    bool ready = false;

    int32_t q() const { return ctx.sizes.nParmFree; }
    std::vector<double> x() const { return std::vector<double>(nlp.param.x, nlp.param.x + ctx.sizes.nParmAll); }
    void set_x(const std::vector<double>& v) { std::copy(v.begin(), v.end(), nlp.param.x); }
    // Scales every free parameter by a factor in [1 - spread, 1 + spread].
    void perturb(uint32_t seed, double spread) {
        std::mt19937 gen(seed);
        std::uniform_real_distribution<double> u(-spread, spread);
        for (int32_t p = 0; p < q(); ++p) nlp.param.x[p] *= 1.0 + u(gen);
    }
    // F at the current x (phase 3: no perturbation retries).
    double objective() {
        nlp.run.evalPhase = 3.0;
        const int32_t rc = cosfunc(&nlp);
        return rc == 0 ? nlp.iter.f : NAN;
    }

    // Model matrix k as it enters the model, computed densely from its type
    // and element list.
    Dense entered(int32_t k) const {
        const ModelMatrixTable& mt = ctx.model;
        const int32_t r = mt.rows[k], c = mt.columns[k];
        const int16_t type = mt.type[k], form = mt.form[k];
        Dense m = zeros(r, c);
        const int32_t nExo = ctx.readers.lineqsModel ? mt.rows[4] : 0;
        for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
            const int32_t i = ctx.elements.row[e], j = ctx.elements.column[e];
            const double v = ctx.elements.value[e];
            m[i][j] = type == kMatBeta && form == kFormNone ? -v : v;
            if (type == kMatSymmetric || type == kMatPosDefinit) m[j][i] = v;
        }
        if (type == kMatIdentity)
            for (int32_t i = 0; i < std::min(r, c); ++i) m[i][i] = 1.0;
        if (type == kMatSelection)
            for (int32_t i = 0; i < r; ++i) m[i][ctx.readers.varPosition[i]] = 1.0;
        if (type == kMatZerIdentity)
            for (int32_t i = 0; i < r; ++i)
                if (c - r + i >= 0) m[i][c - r + i] = 1.0;
        if (type == kMatBeta && form == kFormNone)
            for (int32_t i = 0; i < std::min(r, c); ++i) m[i][i] += 1.0;
        if (type == kMatEqsGamma)
            for (int32_t i = 0; i < nExo; ++i) m[r - nExo + i][i] = 1.0;
        if (form == kFormInverse) return inverse(m);
        if (form == kFormIMinusInverse) {
            for (int32_t i = 0; i < r; ++i)
                for (int32_t j = 0; j < c; ++j) m[i][j] = (i == j ? 1.0 : 0.0) - m[i][j];
            return inverse(m);
        }
        return m;
    }

    // C = sum over terms of X P X' with every matrix as it enters.
    Dense implied_reference() const {
        const int32_t n = ctx.sizes.nManifest;
        Dense c = zeros(n, n);
        for (int32_t t = 1; t <= ctx.sizes.nTerms; ++t) {
            const int32_t first = ctx.model.termTable[t - 1], last = ctx.model.termTable[t] - 1;
            Dense x = entered(first);
            for (int32_t k = first + 1; k < last; ++k) x = multiply(x, entered(k));
            const Dense term =
                first == last ? x : multiply(multiply(x, entered(last)), transpose(x));
            for (int32_t i = 0; i < n; ++i)
                for (int32_t j = 0; j < n; ++j) c[i][j] += term[i][j];
        }
        return c;
    }
};

// The four model kinds on the nine ability tests of hs.csv.  The COSAN
// model has two terms, a structural matrix entered as (I - B)^-1 and a
// unique part entered as the inverse of a symmetric matrix.
inline std::string lineqs_program(const char* method) {
    return std::string("proc velix data=poldem method=") + method +
           " covariance;\n"
           "lineqs x1 = 1.0 Find60 + E1, x2 = l2 Find60 + E2, x3 = l3 Find60 + E3,\n"
           "  y1 = 1.0 Fdem60 + E4, y2 = l5 Fdem60 + E5, y3 = l6 Fdem60 + E6, y4 = l7 Fdem60 + "
           "E7,\n"
           "  y5 = 1.0 Fdem65 + E8, y6 = l9 Fdem65 + E9, y7 = l10 Fdem65 + E10, y8 = l11 Fdem65 + "
           "E11,\n"
           "  Fdem60 = b1 Find60 + D1, Fdem65 = b2 Find60 + b3 Fdem60 + D2;\n"
           "std Find60 = vind60, E1-E11 = ve1-ve11, D1 D2 = vd1 vd2;\n"
           "cov E4 E8 = c15, E5 E7 = c24, E6 E10 = c37;\nrun;\n";
}
inline std::string ram_program(const char* method) {
    return std::string("proc velix data=hs method=") + method +
           " covariance;\n"
           "ram 1 1 10 1.0, 1 2 10 l2, 1 3 10 l3, 1 4 11 1.0, 1 5 11 l5, 1 6 11 l6,\n"
           "  1 7 12 1.0, 1 8 12 l8, 1 9 12 l9, 1 11 10 b1, 1 12 11 b2,\n"
           "  2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 5 5 ve5, 2 6 6 ve6,\n"
           "  2 7 7 ve7, 2 8 8 ve8, 2 9 9 ve9, 2 10 10 vvis, 2 11 11 vtxt, 2 12 12 vspd, 2 3 2 "
           "c23;\nrun;\n";
}
// The RAM model with one loading defined by the program from another.
inline std::string dependent_program(const char* method) {
    std::string text = ram_program(method);
    return text.insert(text.rfind("run;"), "l3 = l2 * l2;\n");
}
inline std::string cosan_program(const char* method) {
    return std::string("proc velix data=hs method=") + method +
           " covariance;\n"
           "cosan F(3, GEN) * B(3, GEN, IMI) * P(3, SYM) + U(9, SYM, INV);\n"
           "matrix F [ , 1] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6, [ , 3] = 0 0 0 0 0 0 1.0 l8 "
           "l9;\n"
           "matrix B [2, 1] = b21 (0.3), [3, 2] = b32 (0.2);\n"
           "matrix P [1, 1] = pv1 (0.8) pv2 (0.9) pv3 (0.4);\n"
           "matrix U [1, 1] = u1-u9 (2 2 2 2 2 2 2 2 2), [2, 1] = u21 (0.1);\nrun;\n";
}
// A COSAN model whose loading matrix F, holding free parameters, stands
// in two terms: F P F' + F Q F' + U (the walk visits F once per term).
inline std::string repeated_program(const char* method) {
    return std::string("proc velix data=hs method=") + method +
           " covariance;\n"
           "cosan F(3, GEN) * P(3, SYM) + F(3, GEN) * Q(3, DIA) + U(9, DIA);\n"
           "matrix F [ , 1] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6, [ , 3] = 0 0 0 0 0 0 1.0 l8 "
           "l9;\n"
           "matrix P [1, 1] = 0.5 0.5 0.5, [2, 1] = p21 (0.2) p31 (0.1), [3, 2] = p32 (0.1);\n"
           "matrix Q [1, 1] = q1-q3 (0.4 0.5 0.3);\n"
           "matrix U [1, 1] = u1-u9 (2 2 2 2 2 2 2 2 2);\nrun;\n";
}
// A COSAN model of the remaining types and forms: a ZERIDENTITY selection
// of a lower-triangular inverse around a diagonal matrix, I - B around the
// inverse of I - U for a symmetric U, and an upper-triangular inverse
// around a diagonal inverse.
inline std::string typed_program(const char* method) {
    return std::string("proc velix data=hs method=") + method +
           " covariance;\n"
           "cosan Z(4, ZID) * L(4, LOW, INV) * D(4, DIA) + B(9, BET) * U(9, SYM, IMI)"
           " + E(9, UPP, INV) * V(9, DIA, INV);\n"
           "matrix L [1, 1] = 1.0 a2-a4 (2 2 2), [2, 1] = l21 (0.3), [4, 2] = l42 (-0.2);\n"
           "matrix D [1, 1] = d1-d4 (0.5 0.6 0.7 0.8);\n"
           "matrix B [2, 1] = b21 (0.2), [5, 4] = b54 (0.1);\n"
           "matrix U [1, 1] = u1-u9 (-1 -1 -1 -1 -1 -1 -1 -1 -1), [3, 1] = u31 (0.2);\n"
           "matrix E [1, 1] = e1-e9 (3 3 3 3 3 3 3 3 3), [1, 2] = e12 (0.4);\n"
           "matrix V [1, 1] = v1-v9 (2 2 2 2 2 2 2 2 2);\nrun;\n";
}
inline std::string factor_program(const char* method) {
    return std::string("proc velix data=hs method=") + method + " covariance;\nfactor n=2;\nrun;\n";
}

// Two correlated factors for six ability tests (TYPE=COV, N = 112) with the
// estimates and standard errors of lavaan 0.6.14 (ML, N-1 convention,
// expected information; ability_ml.expected.json of the shared reference
// cases).  F at these estimates is 0.222592451063.
inline std::string ability_program() {
    return "proc velix data=ability method=ml covariance;\n"
           "lineqs general = 1.0 Fg + E1, picture = l2 Fg + E2, blocks = l3 Fg + E3, maze = l4 Fg "
           "+ E4,\n"
           "  reading = 1.0 Fv + E5, vocab = l6 Fv + E6;\n"
           "std Fg Fv = vg vv, E1-E6 = ve1-ve6;\ncov Fg Fv = cgv;\nrun;\n";
}
struct ReferenceEstimate {
    const char* name;
    double est, se;
};
inline constexpr ReferenceEstimate kAbilityReference[] = {
    {"l2", 0.4172587919776, 0.07047633554611}, {"l3", 2.422336375579, 0.3493701680727},
    {"l4", 0.4210786724208, 0.09662278914964}, {"l6", 1.513183458393, 0.1912527886189},
    {"cgv", 15.787819208873, 3.552096266216},  {"vg", 14.977142340539, 3.457005599174},
    {"vv", 44.120236419234, 8.454671736287},   {"ve1", 9.663863107509, 2.091921909928},
    {"ve2", 4.092408252091, 0.6469977823155},  {"ve3", 61.949399644315, 12.792654147699},
    {"ve4", 10.055445690864, 1.437748312884},  {"ve5", 8.483768465987, 4.92097760219},
    {"ve6", 34.268851933637, 11.887854584386}};

// Index of the parameter with the name (nParmAll when there is none).
inline size_t parameter_index(const ModelStep& s, const std::string& name) {
    const auto names = s.parameters();
    return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

}  // namespace velix::testing
