// zrcorr: the reader of a moment data set (TYPE CORR, COV, UCORR, UCOV,
// SSCP, FACTOR, ACE or EST): one BY group of statistic rows (MEAN, STD,
// USTD, N, SUMWGT) and matrix rows named by _NAME_, turned into means,
// standard deviations under the divisor of the VARDEF kind and the
// correlation matrix about the means or about zero.
//
//   read the rows of the group (row type from the TYPE, fallback to another
//   moment type present in the group); check the matrix; complete N and the
//   sum of weights; form the sums of squares and cross-products about the
//   requested origin; divide by the divisor; correlations
//
// An input covariance matrix is taken to have the divisor of the VARDEF
// kind (N - 1 about the means and N about zero under the default, the
// conventions of TYPE=COV and TYPE=UCOV data); a correlation matrix with
// STD rows is read the same way.  SSCP data give their means through the
// intercept row.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "numerics/covcorr.h"
#include "procedure/data/data.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace {

// A correlation whose size exceeds 1 by more than this is out of range.
constexpr double kCorrTolerance = 1.11e-13;
// Two values of the same element differing by this much are reported.
constexpr double kConflict = 1e-04;
constexpr double kDefaultN = 10000.0;

using velix::pk;

std::string field(const char* p, size_t width) {
    size_t k = 0;
    while (k < width && p[k] != '\0') ++k;
    while (k > 0 && p[k - 1] == ' ') --k;
    return std::string(p, k);
}

// A variable name: 1 to 32 characters, a letter or underscore first, then
// letters, digits and underscores.
bool znamver(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_') return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Rule of the N and SUMWGT rows: the smallest non-missing value, at least
// 0.0; *conflict when the values differ.
double same(const std::vector<double>& v, bool* conflict) {
    double r = host_missing_value();
    bool any = false;
    *conflict = false;
    for (double x : v) {
        if (wzmis(x)) continue;
        if (any && x != r) *conflict = true;
        if (!any || x < r) r = x;
        any = true;
    }
    if (any && r < 0.0) r = 0.0;
    return r;
}

struct GroupRows {
    std::vector<double> matrix;  // packed, missing where not given
    std::vector<double> means, stds, ustds;
    std::vector<double> icpt;    // SSCP intercept row
    double n = 0.0, sumw = 0.0;
    bool anyRow = false, anyMatrix = false, conflictNote = false, tooMany = false;
    std::vector<std::string> typesSeen;
};

}  // namespace

int32_t zrcorr(HostDataSet* data, int32_t form, const StatementNode* /*stmtList*/, int32_t /*listEntry*/,
               int32_t origin, const char* type, double* matrix, double* means, double* stdDevs, double* /*work*/,
               const char* vardefKind, double* divisor, double* sumWeights, double* nObs, const ProcContext* ctx) {
    const int32_t n = ctx->sizes.nVar;
    const double missing = host_missing_value();
    int32_t level = 0;
    const std::string dataType = upper(field(type, 8));

    // 1. Special variables.
    int16_t typeVar = 0, nameVar = 0;
    const HostVariableDescriptor* d = nullptr;
    if (xvfind(data, "_TYPE_", 6, &typeVar, 0) != 0) xpmlog(kMsgReader, 9);
    if (xvfind(data, "_NAME_", 6, &nameVar, 0) != 0) xpmlog(kMsgReader, 10);
    if ((typeVar && xvname(data, typeVar, &d) == 0 && d->type != kVarCharacter) ||
        (nameVar && xvname(data, nameVar, &d) == 0 && d->type != kVarCharacter)) {
        xpmlog(kMsgReader, 33);
        return kLevelBadVariables;
    }
    std::string rowType = dataType == "EST" ? "COV" : dataType == "FACTOR" ? "CORR" : dataType;
    size_t compareLength = dataType == "EST" ? 3 : 8;
    const bool sscp = dataType == "SSCP";
    int16_t interceptVar = 0;
    if (sscp && xvfind(data, "INTERCEPT", 9, &interceptVar, 0) != 0 &&
        xvfind(data, "INTERCEP", 8, &interceptVar, 0) != 0) {
        interceptVar = 0;
        xpmlog(kMsgReader, 31);
    }
    // The intercept's row and column carry sums: a character variable of
    // that name cannot hold them.
    if (interceptVar && xvname(data, interceptVar, &d) == 0 && d->type == kVarCharacter) {
        xpmlog(kMsgReader, 32);
        return kLevelBadVariables;
    }

    // 2. Bindings.
    HostBinding* b = nullptr;
    xvgeti(data, n + 2, 0, &b);
    char typeCell[8], nameCell[32];
    std::vector<double> row(n);
    std::memset(typeCell, ' ', 8);
    std::memset(nameCell, ' ', 32);
    if (typeVar) xvgetd(b, typeVar, 0, typeCell, 8, 99, 0, 0);
    if (nameVar) xvgetd(b, nameVar, 0, nameCell, 32, 99, 0, 0);
    for (int32_t i = 0; i < n; ++i)
        xvgetd(b, ctx->input.manifestNumbers[i], 0, &row[i], 8, 102, 0, 0);
    xvgete(b);

    static const char* const kFallback[] = {"CORR", "COV", "UCORR", "UCOV"};
    GroupRows g;
    for (int attempt = 0; attempt < 5; ++attempt) {
        g = GroupRows{};
        g.matrix.assign(static_cast<size_t>(n) * (n + 1) / 2, missing);
        g.means.assign(n, missing);
        g.stds.assign(n, missing);
        g.ustds.assign(n, missing);
        g.icpt.assign(n, missing);
        g.n = g.sumw = missing;
        std::vector<bool> rowGiven(n, false);
        xbyrwnd(data, kRewindGroup);
        DataSetSlot slot;
        slot.handle = data;
        int32_t order = 0;
        bool invalidNote = false;
        while (xybyget(&slot) != 0) {
            if (xyvget(b, 0) != 0) continue;
            g.anyRow = true;
            const std::string t = typeVar ? upper(field(typeCell, 8)) : rowType;
            if (std::find(g.typesSeen.begin(), g.typesSeen.end(), t) == g.typesSeen.end()) g.typesSeen.push_back(t);
            bool conflict = false;
            if (t == "MEAN" || (dataType == "EST" && t.compare(0, 4, "PARM") == 0)) {
                g.means = row;
            } else if (t == "STD") {
                g.stds = row;
            } else if (t == "USTD") {
                g.ustds = row;
            } else if (t == "N") {
                g.n = same(row, &conflict);
                if (conflict) xpmlog(kMsgReader, 12);
            } else if (t == "SUMWGT") {
                g.sumw = same(row, &conflict);
                if (conflict) xpmlog(kMsgReader, 11);
            } else if (t.compare(0, compareLength, rowType, 0, compareLength) == 0 && t.size() >= std::min(compareLength, rowType.size())) {
                g.anyMatrix = true;
                int32_t r = -1;
                if (nameVar) {
                    const std::string name = field(nameCell, 32);
                    const std::string un = upper(name);
                    // The intercept row of SSCP data holds the weighted sums;
                    // it is a matrix row too when the intercept is analysed.
                    if (sscp && (un == "INTERCEPT" || un == "INTERCEP")) g.icpt = row;
                    if (!znamver(name) && !invalidNote) {
                        xpmlog(kMsgReader, 13);
                        level = std::max(level, kLevelWarning);
                        invalidNote = true;
                    }
                    for (int32_t v = 0; v < n && r < 0; ++v)
                        if (upper(std::string(ctx->input.manifestNames[v].text,
                                              ctx->input.manifestNames[v].length)) == un)
                            r = v;
                    if (r < 0) continue;
                } else {
                    if (order >= n) {
                        xpmlog(kMsgReader, 21);
                        g.tooMany = true;
                        break;
                    }
                    r = order++;
                }
                rowGiven[r] = true;
                for (int32_t c = 0; c < n; ++c) {
                    if (wzmis(row[c])) continue;
                    double& e = g.matrix[pk(r, c)];
                    if (!wzmis(e) && std::fabs(e - row[c]) >= kConflict && !g.conflictNote) {
                        xpmlog(kMsgReader, 23);
                        g.conflictNote = true;
                    }
                    e = row[c];
                }
            }
        }
        if (g.tooMany) {
            xvgett(b);
            return kLevelNoMoments;
        }
        if (!g.anyRow) {
            xpmlog(kMsgReader, 5);
            xvgett(b);
            return kLevelNoMoments;
        }
        bool complete = g.anyMatrix;
        if (complete && std::any_of(g.matrix.begin(), g.matrix.end(), [](double x) { return wzmis(x) != 0; })) {
            xpmlog(kMsgReader, 16);
            complete = false;
        }
        if (complete) break;
        // The fallback list: another moment type of the group.
        std::string next;
        for (const char* f : kFallback) {
            if (rowType == f) continue;
            if (std::find(g.typesSeen.begin(), g.typesSeen.end(), f) != g.typesSeen.end()) {
                next = f;
                break;
            }
        }
        const bool inList = std::find_if(std::begin(kFallback), std::end(kFallback),
                                         [&](const char* f) { return rowType == f; }) != std::end(kFallback);
        if (next.empty() || !inList || attempt == 4) {
            xpmlog(kMsgReader, 15);
            xvgett(b);
            return kLevelNoMoments;
        }
        xpmlog(kMsgReader, 28, next.c_str());
        rowType = next;
        compareLength = 8;
    }
    xvgett(b);

    // Row class and origin of the input.
    const bool corrClass = rowType == "CORR" || rowType == "UCORR";
    const bool inputAboutZero = rowType[0] == 'U' || sscp;
    std::vector<double>& a = g.matrix;

    // 6. Checks of the matrix.
    for (int32_t i = 0; i < n; ++i) {
        const double dii = a[pk(i, i)];
        if (dii < 0.0) {
            xpmlog(kMsgReader, 27, static_cast<int32_t>(ctx->input.manifestNames[i].length),
                   ctx->input.manifestNames[i].text);
            return kLevelNoMoments;
        }
        if (dii == 0.0)
            for (int32_t j = 0; j < n; ++j)
                if (j != i && a[pk(i, j)] != 0.0) {
                    xpmlog(kMsgReader, 26);
                    return kLevelNoMoments;
                }
    }
    if (corrClass) {
        bool offDiagonal = false, diagonal = false;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const double v = a[pk(i, j)];
                if (i == j && std::fabs(v - 1.0) > kCorrTolerance) diagonal = true;
                if (i != j && std::fabs(v) > 1.0 + kCorrTolerance) offDiagonal = true;
            }
        if (offDiagonal) {
            xpmlog(kMsgReader, 25);
            level = std::max(level, kLevelWarning);
        }
        if (diagonal) {
            xpmlog(kMsgReader, 22);
            xpmlog(kMsgReader, 18);
            level = std::max(level, kLevelWarning);
            std::vector<double> sd(n);
            zcovcor(n, a.data(), sd.data());
        }
    }

    // 7-8. N, the sum of weights, means and standard deviations.
    if (wzmis(g.n)) {
        if (dataType != "EST") xpmlog(kMsgReader, 17);
        g.n = kDefaultN;
    }
    if (wzmis(g.sumw)) g.sumw = g.n;
    const double N = g.n;
    auto complete = [](const std::vector<double>& v) {
        return std::none_of(v.begin(), v.end(), [](double x) { return wzmis(x) != 0; });
    };
    // SSCP: the means are the intercept row's sums over the sum of weights.
    if (sscp && complete(g.icpt) && g.sumw > 0.0)
        for (int32_t i = 0; i < n; ++i) g.means[i] = g.icpt[i] / g.sumw;
    const bool meansNeeded = (inputAboutZero != (origin != 0)) || dataType == "EST";
    const bool haveMeans = complete(g.means);
    if (meansNeeded && !haveMeans) {
        xpmlog(kMsgReader, sscp ? 34 : dataType == "EST" ? 35 : 36);
        return kLevelNoMoments;
    }
    if (!haveMeans) {
        xpmlog(kMsgReader, 38);
        std::fill(g.means.begin(), g.means.end(), 0.0);
    }

    // The sums of squares and cross-products about the input's origin.  The
    // input's variances carry the divisor of the same VARDEF kind (N - 1 and
    // N about zero under the default), so that moments written by one
    // analysis read back unchanged under its kind.
    const double inputDivisor = zvardiv(vardefKind, N, inputAboutZero ? 0.0 : 1.0, g.sumw);
    std::vector<double> c(a.size());
    if (corrClass) {
        std::vector<double>& sd = rowType == "UCORR" ? g.ustds : g.stds;
        if (std::any_of(sd.begin(), sd.end(), [](double x) { return wzmis(x) != 0; })) {
            xpmlog(kMsgReader, 39);
            for (double& x : sd)
                if (wzmis(x)) x = 1.0;
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) c[pk(i, j)] = a[pk(i, j)] * sd[i] * sd[j] * inputDivisor;
    } else if (sscp) {
        c = a;
    } else {
        for (size_t k = 0; k < a.size(); ++k) c[k] = a[k] * inputDivisor;
    }
    // Move to the requested origin.
    const double sw = g.sumw;
    if (inputAboutZero && origin == 0) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) c[pk(i, j)] -= sw * g.means[i] * g.means[j];
        for (int32_t i = 0; i < n; ++i)
            if (!(c[pk(i, i)] > 0.0)) {
                xpmlog(kMsgReader, 24);
                level = std::max(level, kLevelWarning);
                for (int32_t j = 0; j < n; ++j) c[pk(i, j)] = 0.0;
            }
    } else if (!inputAboutZero && origin != 0) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) c[pk(i, j)] += sw * g.means[i] * g.means[j];
    }

    // 9-11. Divisor, standard deviations, correlations.
    *divisor = zvardiv(vardefKind, N, origin == 0 ? 1.0 : 0.0, sw);
    *nObs = N;
    *sumWeights = sw;
    std::vector<double> root(n);
    for (int32_t i = 0; i < n; ++i) {
        const double cii = c[pk(i, i)];
        root[i] = cii > 0.0 ? std::sqrt(cii) : 0.0;
        means[i] = g.means[i];
        stdDevs[i] = *divisor > 0.0 && cii > 0.0 ? std::sqrt(cii / *divisor) : 0.0;
    }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            if (form == 'R') {
                const double r = root[i] > 0.0 && root[j] > 0.0 ? c[pk(i, j)] / (root[i] * root[j]) : 0.0;
                matrix[pk(i, j)] = i == j ? (root[i] > 0.0 ? 1.0 : 0.0) : (std::fabs(r) > 1.0 ? c[pk(i, j)] : r);
            } else {
                matrix[pk(i, j)] = *divisor > 0.0 ? c[pk(i, j)] / *divisor : 0.0;
            }
        }
    return level;
}
