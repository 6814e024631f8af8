// Lagrange multiplier tests of the active bounds and the stepwise Wald
// test of the independent parameters (Bentler 1986; Bollen 1989, ch. 7).
// A parameter held at a bound would lower the chi-square by
// LM = mu^2 V*_ii / kappa when released, moving by -(V* g)_i, mu the
// multiplier of its bound and V* the covariance of the model with that
// bound released and every other active constraint kept (the covariance
// step forms both; information_scratch.h).  The stepwise Wald test drops,
// one at a time, the parameter whose joint statistic
// W = x_S' (kappa V_SS)^-1 x_S with those dropped before is smallest, V
// the covariance of the estimates (under the active constraints), and
// stops at the first increase whose probability is below SLMW=.
//
//   cosmod3: checks; the state at the solution;
//            "LagrangeBoundary" when the problem has bounds;
//            "WaldTest" from its first row on; note on singular matrices
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "host/output_table.h"
#include "numerics/distributions.h"
#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "procedure/evaluation/information_scratch.h"
#include "procedure/procedure.h"
#include "procedure/results/bounds_wald.h"
#include "procedure/results/lagrange.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {

constexpr double kBoundTol = velix::kSqrtMachEpsWritten;
constexpr double kZero = velix::kMachEpsWritten;
constexpr int32_t kDirectSteps = 10;  // from this many dropped on, the inverse is bordered
// Statistics within this share of the smallest tie with it: two parameters
// whose statistics are equal in exact arithmetic (two halves of one effect)
// come out some units in the last place apart, in an order that the
// rounding of each processor decides.
constexpr double kTieTol = velix::kSqrtMachEpsWritten;

// x_S' A x_S for A packed of order k over the set (off-diagonal twice).
double quadratic(const std::vector<double>& a, const std::vector<int32_t>& set, const double* x) {
    double w = 0.0;
    const int32_t k = static_cast<int32_t>(set.size());
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j <= i; ++j)
            w += (i == j ? 1.0 : 2.0) * a[static_cast<size_t>(pk_lower(i, j))] * x[set[static_cast<size_t>(i)]] *
                 x[set[static_cast<size_t>(j)]];
    return w;
}

// kappa V over the set, packed in the set's order.
std::vector<double> block(const std::vector<double>& V, double kappa, const std::vector<int32_t>& set) {
    const int32_t k = static_cast<int32_t>(set.size());
    std::vector<double> a(static_cast<size_t>(pk_lower(k, 0)));
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j <= i; ++j)
            a[static_cast<size_t>(pk_lower(i, j))] = kappa * V[static_cast<size_t>(pk(set[static_cast<size_t>(i)], set[static_cast<size_t>(j)]))];
    return a;
}

}  // namespace

int32_t bound_state(double x, double lower, double upper) {
    const bool hasLower = lower > -DBL_MAX, hasUpper = upper < DBL_MAX;
    if (hasLower) {
        if (hasUpper && upper - lower <= kBoundTol * (1.0 + std::fabs(lower))) return 2;
        if (x - lower <= (1.0 + std::fabs(lower)) * kBoundTol) return 1;
    }
    if (hasUpper && upper - x <= (1.0 + std::fabs(upper)) * kBoundTol) return -1;
    return 0;
}

BoundTest bound_test(const double* release, double kappa, double chisq) {
    BoundTest t;
    double v = release[1];
    if (std::fabs(v) < kZero) v = 0.0;
    if (v < 0.0 || kappa <= 0.0) return t;
    const double lm = release[0] * release[0] * v / kappa;
    if (lm > 100.0 * chisq && lm > 100.0) return t;
    t.valid = true;
    t.lm = lm;
    t.change = release[2];
    return t;
}

std::vector<WaldStep> stepwise_wald(const std::vector<double>& V, const double* x, double kappa, double alpha,
                                    double singularTol, int32_t* singular) {
    const int32_t q = static_cast<int32_t>(std::lround(std::sqrt(2.0 * static_cast<double>(V.size()) + 0.25) - 0.5));
    std::vector<WaldStep> steps;
    std::vector<int32_t> dropped;
    std::vector<char> candidate(static_cast<size_t>(q), 1);
    double previous = 0.0;
    *singular = 0;
    double det[2];
    while (static_cast<int32_t>(dropped.size()) < q) {
        const int32_t k = static_cast<int32_t>(dropped.size());
        std::vector<double> base;  // the inverse of kappa V over the dropped set (bordering steps)
        if (k >= kDirectSteps) {
            base = block(V, kappa, dropped);
            if (coschin(k, singularTol, det, base.data()) != 0) {
                ++*singular;
                break;
            }
        }
        std::vector<double> stat(static_cast<size_t>(q), HUGE_VAL);  // HUGE_VAL: no statistic
        for (int32_t j = 0; j < q; ++j) {
            if (!candidate[static_cast<size_t>(j)]) continue;
            double w;
            if (k == 0) {
                const double d = kappa * V[static_cast<size_t>(pk_lower(j, j))];
                if (d <= 1000.0 * kZero) continue;
                w = x[j] * x[j] / d;
            } else {
                std::vector<int32_t> set = dropped;
                set.push_back(j);
                std::vector<double> a;
                if (k < kDirectSteps) {
                    a = block(V, kappa, set);
                    if (coschin(k + 1, singularTol, det, a.data()) != 0) {
                        ++*singular;
                        continue;
                    }
                } else {
                    a = base;
                    a.resize(static_cast<size_t>(pk_lower(k + 1, 0)));
                    std::vector<double> row(static_cast<size_t>(k) + 1), work(static_cast<size_t>(k));
                    for (int32_t i = 0; i < k; ++i)
                        row[static_cast<size_t>(i)] = kappa * V[static_cast<size_t>(pk(dropped[static_cast<size_t>(i)], j))];
                    row[static_cast<size_t>(k)] = kappa * V[static_cast<size_t>(pk_lower(j, j))];
                    if (sinvex(k, singularTol, a.data(), row.data(), work.data()) != 0) {
                        ++*singular;
                        continue;
                    }
                    std::copy(row.begin(), row.end(), a.begin() + pk_lower(k, 0));
                }
                w = quadratic(a, set, x);
            }
            if (!std::isnan(w)) stat[static_cast<size_t>(j)] = w;
        }
        // The smallest statistic; of those that tie with it, the earliest.
        const double least = *std::min_element(stat.begin(), stat.end());
        if (least == HUGE_VAL) break;
        const int32_t best = static_cast<int32_t>(
            std::find_if(stat.begin(), stat.end(), [&](double w) { return w <= least + kTieTol * std::fabs(least); }) -
            stat.begin());
        const double bestW = stat[static_cast<size_t>(best)];
        dropped.push_back(best);
        candidate[static_cast<size_t>(best)] = 0;
        const double inc = std::max(bestW - previous, 0.0);
        const double pInc = zpgx2(inc, 1);
        if (pInc < alpha) break;
        const int32_t df = k + 1;
        steps.push_back({best, bestW, df, zpgx2(bestW, df), inc, pInc});
        previous = bestW;
    }
    return steps;
}

}  // namespace velix::detail

namespace {

using namespace velix::detail;

constexpr int32_t kMsgWaldSingular = 186;
constexpr int32_t kTitleBoundary = 864, kTitleWald = 865;

std::string name_of(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

int32_t name_width(const NlpProblem* nlp, int32_t q) {
    int32_t w = 1;
    for (int32_t i = 0; i < q; ++i) w = std::max(w, static_cast<int32_t>(name_of(nlp->param.paramNames[i]).size()));
    return w;
}

void boundary_table(const LmSetup& s) {
    const NlpProblem* nlp = s.rv.nlp;
    std::vector<int32_t> listed;
    for (int32_t i = 0; i < s.q; ++i)
        if (bound_state(nlp->param.x[i], nlp->param.lower[i], nlp->param.upper[i]) != 0) listed.push_back(i);
    if (listed.empty()) return;
    std::vector<double> releases(3 * static_cast<size_t>(s.q));
    read_bound_releases(&s.view, releases.data());
    OutputTable t(s.rv.output->kyrManager, "LagrangeBoundary", kyrmsg(kMsgProc, kTitleBoundary),
                  "Tesk.Velix.LagrangeBoundary");
    t.text_column("Parameter", name_width(nlp, s.q));
    for (const char* c : {"ChiSq", "ProbChiSq", "Estimate", "Change"}) t.double_column(c);
    if (!t.end_columns()) return;
    for (int32_t i : listed) {
        const BoundTest b = bound_test(releases.data() + 3 * static_cast<size_t>(i), s.kappa, s.chisq);
        const double missing = host_missing_value();
        t.set_text(0, name_of(nlp->param.paramNames[i]));
        t.set_double(1, b.valid ? b.lm : missing);
        t.set_double(2, b.valid ? zpgx2(b.lm, 1) : missing);
        t.set_double(3, nlp->param.x[i]);
        t.set_double(4, b.valid ? b.change : missing);
        if (!t.add_row()) return;
    }
    t.deliver();
}

void wald_table(const LmSetup& s) {
    const NlpProblem* nlp = s.rv.nlp;
    int32_t singular = 0;
    const std::vector<WaldStep> steps =
        stepwise_wald(s.V, nlp->param.x, s.kappa, s.rv.options->waldAlpha, s.rv.options->singular, &singular);
    if (!steps.empty()) {
        OutputTable t(s.rv.output->kyrManager, "WaldTest", kyrmsg(kMsgProc, kTitleWald), "Tesk.Velix.WaldTest");
        t.text_column("Parameter", name_width(nlp, s.q));
        t.double_column("ChiSq");
        t.int_column("DF");
        for (const char* c : {"ProbChiSq", "IncChiSq", "IncProbChiSq"}) t.double_column(c);
        if (t.end_columns()) {
            for (const WaldStep& w : steps) {
                t.set_text(0, name_of(nlp->param.paramNames[w.parameter]));
                t.set_double(1, w.chisq);
                t.set_int(2, w.df);
                t.set_double(3, w.prob);
                t.set_double(4, w.increase);
                t.set_double(5, w.increaseProb);
                if (!t.add_row()) break;
            }
            t.deliver();
        }
    }
    if (singular > 0) xpmlog(kMsgProc, kMsgWaldSingular);
}

}  // namespace

void cosmod3(ProcContext* ctx) {
    const ResultsView rv = results_view(ctx);
    LmSetup s;
    if (!lm_begin(rv, true, true, &s)) return;
    if (rv.nlp->shape.hasBounds && rv.nlp->param.lower != nullptr && rv.nlp->param.upper != nullptr)
        boundary_table(s);
    wald_table(s);
}
