// The confidence-limit tables "WaldLimits" (mode 1) and "WaldPLLimits"
// (mode 2) and the limit rows handed to the OUTEST= hook: Wald rows (-12,
// sides 1 and 2), profile-limit rows (-12, sides 3 and 4) and the profile
// rows (-13: the estimates, then each stored trace point).  The profile
// limits are read back from the limit records of the driver's file.
#include <algorithm>
#include <cfloat>
#include <vector>

#include "host/internal_error.h"
#include "host/fields.h"
#include "numerics/distributions.h"
#include "optimizer/reporting/confidence_limits.h"
#include "optimizer/reporting/report_table.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace velix::limits {

namespace {

constexpr int32_t kMsgPlTitleText = 277;
constexpr int32_t kMsgWaldTitle = 715;
constexpr int32_t kMsgWaldPlTitle = 716;
// OUTEST= row kinds of the limits.
constexpr int32_t kRowLimit = -12;
constexpr int32_t kRowProfile = -13;

double missing() { return host_missing_value(); }

// The levels of a mode: 1 the requested ones in the user's order (the
// default set without any), 2 every wanted level of the merged list.
std::vector<double> mode_levels(const NlpProblem* p, const LimitWork* w, int32_t mode) {
    std::vector<double> a;
    if (mode == 2) {
        for (const LevelSlot& l : w->levels)
            if (l.wanted) a.push_back(l.alpha);
        return a;
    }
    const ProfileSettings* ps = p->hooks->plSettings;
    if (ps->useDefaults == kProfileDefaultSet || ps->nAlpha <= 0 || ps->alphas == nullptr)
        return std::vector<double>(std::begin(kDefaultLevels), std::end(kDefaultLevels));
    for (int32_t i = 0; i < ps->nAlpha; ++i)
        if (ps->alphas[i] > 0.0 && ps->alphas[i] < 1.0) a.push_back(ps->alphas[i]);
    return a;
}

// The profile limit of parameter k on side s at alpha from its records
// (missing when not found).
double profile_limit(const NlpProblem* p, const LimitWork* w, int32_t k, int32_t s, double alpha) {
    const RecordRange& range = w->limits[static_cast<size_t>(2 * k + s)];
    for (int32_t j = 0; range.first >= 0 && j < range.count; ++j) {
        LimitRecord r;
        std::vector<double> x(static_cast<size_t>(p->nParams));
        read_record(w, p, range.first + j, &r, x.data());
        if (r.param != k || r.side != s) internal_errorf(" Bad %s: k=%i kk=%i", s == 0 ? "lower" : "upper", k, r.param);
        if (r.status >= 0 && r.level == alpha) return x[static_cast<size_t>(k)];
    }
    return missing();
}

void hand_row(NlpProblem* p, int32_t kind, int32_t side, double alpha, double target, const double* data) {
    p->limitRow = NlpLimitRow{side, 0, alpha, target};
    p->hooks->outestHook(p, kind, data);
    p->limitRow = NlpLimitRow{};
}

// The -13 rows: the estimates with F in the selected parameters' entries
// of "L(THETA)", then each stored point with its value in the entry of its
// parameter.
void profile_rows(NlpProblem* p, const LimitWork* w) {
    const size_t n = static_cast<size_t>(p->nParams);
    std::vector<double> data(2 * n, missing());
    std::copy(w->xEst.begin(), w->xEst.end(), data.begin());
    for (int32_t k : w->selected) data[n + static_cast<size_t>(k)] = reported(p, w, w->scaledOptimum);
    hand_row(p, kRowProfile, -1, 1.0, missing(), data.data());
    int32_t side = 1;
    for (int32_t k : w->selected)
        for (int32_t s = 0; s < 2; ++s) {
            const RecordRange& range = w->points[static_cast<size_t>(2 * k + s)];
            for (int32_t j = 0; j < range.count; ++j) {
                LimitRecord r;
                read_record(w, p, range.first + j, &r, data.data());
                if (r.param != k) internal_errorf(" Bad k=%i kk=%i", k, r.param);
                std::fill(data.begin() + static_cast<std::ptrdiff_t>(n), data.end(), missing());
                data[n + static_cast<size_t>(k)] = reported(p, w, r.value);
                hand_row(p, kRowProfile, side++, r.level, missing(), data.data());
            }
        }
}

}  // namespace

void priplc(NlpProblem* p, int32_t mode) {
    const LimitWork* w = work_of(p);
    const ProfileSettings* ps = p->hooks->plSettings;
    if (mode == 1 && !w->haveStdErrors) return;
    const bool names = p->paramNames != nullptr && p->paramNameWidth > 0;
    const bool wald = mode == 1 || (w->haveStdErrors && ps->useDefaults == kProfileAsRequested);
    const int32_t width = std::max(1, p->paramNameWidth);
    int32_t number = 0;
    std::vector<char> name(static_cast<size_t>(width) + 1);
    double est = 0, alpha = 0, lowPl = 0, upPl = 0, lowWald = 0, upWald = 0;
    OutputTable table =
        velix::report::report_table(p->out.kyrObject, mode == 1 ? "WaldLimits" : "WaldPLLimits",
                                    mode == 1 ? kMsgWaldTitle : kMsgWaldPlTitle);
    if (mode == 2) table.variable("TitleText", kyrmsg(kMsgNlp, kMsgPlTitleText));
    table.cell_column(kColumnUnsigned, "Number", &number,
                      velix::report::number_format(velix::report::number_digits(p->nParams)));
    if (names)
        table.cell_column(kColumnChars, "Parameter", name.data(),
                          velix::report::chars_format(width));
    table.cell_column(kColumnDouble, "Estimate", &est);
    table.cell_column(kColumnDouble, "Alpha", &alpha);
    if (mode == 2) {
        table.cell_column(kColumnDouble, "LowerPLI", &lowPl);
        table.cell_column(kColumnDouble, "UpperPLI", &upPl);
    }
    if (wald) {
        table.cell_column(kColumnDouble, "LowerWald", &lowWald);
        table.cell_column(kColumnDouble, "UpperWald", &upWald);
    }
    table.end_columns();
    const std::vector<double> levels = mode_levels(p, w, mode);
    for (int32_t k : w->selected) {
        number = k + 1;
        if (names) velix::report::parameter_label(p, k, name.data(), width);
        for (size_t l = 0; l < levels.size() && table.ok(); ++l) {
            est = l == 0 ? w->xEst[static_cast<size_t>(k)] : missing();
            alpha = levels[l];
            if (mode == 2) {
                lowPl = profile_limit(p, w, k, 0, alpha);
                upPl = profile_limit(p, w, k, 1, alpha);
            }
            lowWald = wald_limit(p, w, k, 0, alpha);
            upWald = wald_limit(p, w, k, 1, alpha);
            table.add_row();
        }
    }
    table.deliver();
}

void foplc(NlpProblem* p, int32_t mode) {
    const LimitWork* w = work_of(p);
    const size_t n = static_cast<size_t>(p->nParams);
    std::vector<double> row(n);
    for (double alpha : mode_levels(p, w, mode)) {
        double target = 0.0;
        if (!level_target(w, alpha, &target)) return;
        target = reported(p, w, target);
        for (int32_t side = 1; side <= (mode == 2 ? 4 : 2); ++side) {
            std::fill(row.begin(), row.end(), missing());
            for (int32_t k : w->selected)
                row[static_cast<size_t>(k)] = side <= 2 ? wald_limit(p, w, k, side - 1, alpha)
                                                        : profile_limit(p, w, k, side - 3, alpha);
            hand_row(p, kRowLimit, side, alpha, target, row.data());
        }
    }
    if (mode == 2) profile_rows(p, w);
}

}  // namespace velix::limits
