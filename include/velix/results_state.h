// The results' state in the ProcContext: the fit statistics of the last
// fit summary, one double per statistic under the STAT keys by which the
// OUTRAM= writer names its rows.  Owner: the fit summary; every statistic
// is rewritten (missing where its conditions fail) at each fit, so none
// survives from an earlier BY group or stage.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

// One double per statistic of the fit summary; the comment gives its STAT
// key.  Missing where its conditions are not met.
struct FitStatistics {
    double fit;        // FIT: F after the perfect-fit floor
    double gfi;        // GFI
    double agfi;       // AGFI
    double rmr;        // RMR
    double pgfi;       // PGFI
    double chisq;      // CHISQUAR: T = nn F
    double pChisq;     // P_CHISQ
    double chisqNull;  // CHISQNUL: T0 = nn F0
    double rmsea;      // RMSEAEST
    double rmseaLower; // RMSEALOB
    double rmseaUpper; // RMSEAUPB
    double pClose;     // P_CLOSFT
    double ecvi;       // ECVI_EST
    double ecviLower;  // ECVI_LOB
    double ecviUpper;  // ECVI_UPB
    double cfi;        // COMPFITI
    double adjChisq;   // ADJCHISQ
    double pAdjChisq;  // P_ACHISQ
    double rlsChisq;   // RLSCHISQ
    double aic;        // AIC
    double caic;       // CAIC
    double sbc;        // SBC
    double centrality; // CENTRALI
    double nnfi;       // BB_NONOR
    double nfi;        // BB_NORMD
    double pnfi;       // PARSIMON
    double zWilsonHilferty;  // ZTESTWH
    double rho1;       // BOL_RHO1
    double delta2;     // BOL_DEL2
    double hoelter;    // CNHOELT
};

// The STAT key of each statistic and its member, in the order of the
// fields: the one table the OUTRAM= writer walks.
struct FitStatKey {
    const char* key;
    double FitStatistics::*field;
};
inline constexpr FitStatKey kFitStatKeys[] = {
    {"FIT", &FitStatistics::fit},           {"GFI", &FitStatistics::gfi},
    {"AGFI", &FitStatistics::agfi},         {"RMR", &FitStatistics::rmr},
    {"PGFI", &FitStatistics::pgfi},         {"CHISQUAR", &FitStatistics::chisq},
    {"P_CHISQ", &FitStatistics::pChisq},    {"CHISQNUL", &FitStatistics::chisqNull},
    {"RMSEAEST", &FitStatistics::rmsea},    {"RMSEALOB", &FitStatistics::rmseaLower},
    {"RMSEAUPB", &FitStatistics::rmseaUpper}, {"P_CLOSFT", &FitStatistics::pClose},
    {"ECVI_EST", &FitStatistics::ecvi},     {"ECVI_LOB", &FitStatistics::ecviLower},
    {"ECVI_UPB", &FitStatistics::ecviUpper}, {"COMPFITI", &FitStatistics::cfi},
    {"ADJCHISQ", &FitStatistics::adjChisq}, {"P_ACHISQ", &FitStatistics::pAdjChisq},
    {"RLSCHISQ", &FitStatistics::rlsChisq}, {"AIC", &FitStatistics::aic},
    {"CAIC", &FitStatistics::caic},         {"SBC", &FitStatistics::sbc},
    {"CENTRALI", &FitStatistics::centrality}, {"BB_NONOR", &FitStatistics::nnfi},
    {"BB_NORMD", &FitStatistics::nfi},      {"PARSIMON", &FitStatistics::pnfi},
    {"ZTESTWH", &FitStatistics::zWilsonHilferty}, {"BOL_RHO1", &FitStatistics::rho1},
    {"BOL_DEL2", &FitStatistics::delta2},   {"CNHOELT", &FitStatistics::hoelter},
};

static_assert(sizeof(FitStatistics) == std::size(kFitStatKeys) * sizeof(double),
              "every statistic has its STAT key");

// The value stored under `key` (a STAT key above); *found (out) says
// whether the key is one of them.
inline double fit_stat_value(const FitStatistics* stats, std::string_view key, bool* found) {
    for (const FitStatKey& k : kFitStatKeys)
        if (key == k.key) {
            *found = true;
            return stats->*k.field;
        }
    *found = false;
    return 0.0;
}

// Results state.  Owner: the fit summary (fitStats, written at each fit).
struct ResultsState {
    FitStatistics fitStats{};   // the statistics of the last fit summary
    int32_t fitStatsValid = 0;  // 1 once a fit summary has filled fitStats
    double nullFitValue = 0.0;  // F0 of the independence model of the last fit (missing when
                                // it has none)
    double logDetModel = 0.0;   // ln det Sigma at the estimates; -DBL_MAX when Sigma is singular
};
