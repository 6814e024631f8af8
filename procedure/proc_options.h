// The options of the procedure's statements by name: the option cells of
// the PROC statement and of NLOPTIONS, the flag bits of the statement nodes
// and the switches kept from them in StatementOptions::printFlags and
// optionFlags.  The grammar table (procedure/driver/grammar.cpp) fills the
// cells and bits by these names and the readers (cosinit, cosop11) read
// them by the same names, so the compiler keeps both in step.  Each PROC
// option cell has one row in kProcCellRows with its default and valid
// range; a reader takes the default from its row.
//
// This header is shared by the step driver and the estimation set-up, so
// neither folder includes the other for it.
#pragma once

#include <cstdint>
#include <limits>

#include "numerics/kernel_support.h"
#include "velix/statements.h"
#include "velix/types.h"

// ---------------------------------------------------------------------------
// PROC option cells: index into ProcOptionRecord::cells.

enum ProcCell : int16_t {
    kProcMethod = 0,     // METHOD=
    kProcTechnique,      // TECHNIQUE=
    kProcUpdate,         // UPDATE=
    kProcLineSearch,     // LINESEARCH=
    kProcInStep,         // INSTEP=
    kProcLsPrecision,    // LSPRECISION=
    kProcHessAlg,        // HESSALG=
    kProcEdf,            // EDF=
    kProcDfReduce,       // DFREDUCE=
    kProcMaxIter,        // MAXITER= (first number)
    kProcMaxFunc,        // MAXFUNC=
    kProcGConv,          // GCONV=
    kProcFConv,          // FCONV=
    kProcSingular,       // SINGULAR=
    kProcRandom,         // RANDOM=
    kProcVardef,         // VARDEF= (a name)
    kProcStart,          // START=
    kProcMaxTime,        // MAXTIME=
    kProcSlmw,           // SLMW=
    kProcG4,             // G4=
    kProcDemphas,        // DEMPHAS=
    kProcRidge,          // RIDGE=
    kProcWRidge,         // WRIDGE=
    kProcAsycov,         // ASYCOV=
    kProcRotate,         // ROTATE=
    kProcWPenalty,       // WPENALTY=
    kProcNobs,           // NOBS=
    kProcAlphaEcv,       // ALPHAECV=
    kProcAlphaRms,       // ALPHARMS=
    kProcResidual,       // RESIDUAL= (the kind of standardized residuals)
    kProcASingular,      // ASINGULAR=
    kProcMSingular,      // MSINGULAR=
    kProcVSingular,      // VSINGULAR=
    kProcCovSing,        // COVSING=
    kProcMaxIterNlc,     // MAXITER= (second number: iterations of the
                         // nonlinear-constraint stage)
    kProcCellCount
};
static_assert(kProcCellCount == kOptionCellCount, "every PROC option cell has a name");

// RESIDUAL=: which standardized residuals follow the raw ones (0: the
// kind the method suggests).
enum ResidualRequest : int32_t {
    kResidualAskVarStand = 1,
    kResidualAskAsyStand = 2,
    kResidualAskNorm = 3,
};

// What a reader takes when the option is not given.
enum class CellDefault : uint8_t {
    kValue,    // the row's value
    kMissing,  // the host's missing value: "not given" travels on
    kPreset,   // the target keeps its preset (the optimizer's by technique)
};

// One PROC option: its cell, keyword, default and valid range.  A value
// outside [lower, upper] (lower excluded when lowerOpen) is corrected by
// its reader as the row's comment says.
struct ProcCellRow {
    ProcCell cell;
    const char* keyword;
    CellDefault kind;
    double value;   // the default when kind is kValue; for kPreset the
                    // preset of the target (0: the optimizer's own)
    double lower;   // valid range
    double upper;
    bool lowerOpen;
};

// Bounds of the ranges: no bound, and the smallest positive normal double
// (values not above it count as zero).
constexpr double kAnyBelow = -std::numeric_limits<double>::infinity();
constexpr double kAnyAbove = std::numeric_limits<double>::infinity();
constexpr double kTinyPositive = velix::detail::kMinPos;

// The singularity tolerance when SINGULAR= is not given or not positive
// (about 1e-8: the square root of the double precision's relative accuracy
// squared over 2^10).
constexpr double kDefaultSingular = velix::kSqrtMachEpsWritten;

// Singularity criteria of the information matrix when not given.  A
// pivot of the UDU' decomposition of its correlation form (each
// parameter's information scaled to 1, so that units and N do not enter)
// is negligible when it is not above any of: ASINGULAR (absolute),
// MSINGULAR times the largest diagonal element, VSINGULAR times the
// parameter's own diagonal element; the last two are 1 there.
//   ASINGULAR: sqrt of the smallest normal double, a floor against
//     underflow only.
//   MSINGULAR: 1e-12, about 4500 units of roundoff, the noise in which a
//     sum of products over the moments is formed relative to the product
//     of its two columns' norms.
//   VSINGULAR: sqrt(machine epsilon), as SINGULAR: the parameter keeps
//     less than half the digits of its own information once the others
//     are known (R^2 on them above 1 - 1e-8); identified models stay far
//     above it, a direction of exact non-identification falls to roundoff.
constexpr double kDefaultASingular = 1.491668146240041e-154;
constexpr double kDefaultMSingular = 1e-12;
constexpr double kDefaultVSingular = 1.053671212772351e-08;
// G4= preset: negative, replaced by kDefaultGinvMax when the options are
// set up (a given 0 keeps the preset, as for every option integer of the
// hook block).
constexpr int32_t kPresetGinvMax = -1;
constexpr int32_t kDefaultGinvMax = 60;

// VARDEF= when not given: the divisor of the degrees of freedom (an
// 8-character name).
constexpr char kVardefDefault[] = "DF      ";
static_assert(sizeof kVardefDefault == 9);

// Index by ProcCell.
inline constexpr ProcCellRow kProcCellRows[kProcCellCount] = {
    // METHOD=: ML when not given.
    {kProcMethod, "METHOD", CellDefault::kValue, kMethodMl, kMethodNone, kMethodUlsDwls, false},
    // TECHNIQUE=, UPDATE=, LINESEARCH=: 0 (or not given) keeps the
    // optimizer's choice by technique.
    {kProcTechnique, "TECHNIQUE", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcUpdate, "UPDATE", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcLineSearch, "LINESEARCH", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcInStep, "INSTEP", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcLsPrecision, "LSPRECISION", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    // HESSALG=: 0 when not given; a negative value (which would ask for no
    // covariance of the estimates at all), above 12, or 7 to 10, is refused
    // with message 73 and taken as 0.
    {kProcHessAlg, "HESSALG", CellDefault::kValue, 0.0, 0.0, 12.0, false},
    {kProcEdf, "EDF", CellDefault::kMissing, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcDfReduce, "DFREDUCE", CellDefault::kMissing, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcMaxIter, "MAXITER", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcMaxFunc, "MAXFUNC", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcGConv, "GCONV", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcFConv, "FCONV", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    // SINGULAR=: the step's tolerance is the default unless the value is
    // positive; the optimizer takes any given value.
    {kProcSingular, "SINGULAR", CellDefault::kValue, kDefaultSingular, 0.0, kAnyAbove, true},
    // RANDOM=: 0 (no random start values) when not given.
    {kProcRandom, "RANDOM", CellDefault::kValue, 0.0, kAnyBelow, kAnyAbove, false},
    // VARDEF=: a name, kVardefDefault when not given.
    {kProcVardef, "VARDEF", CellDefault::kValue, 0.0, kAnyBelow, kAnyAbove, false},
    // START=: 0.5 when not given; 0 or a missing value is refused with
    // message 74 and taken as the default.
    {kProcStart, "START", CellDefault::kValue, 0.5, kAnyBelow, kAnyAbove, false},
    {kProcMaxTime, "MAXTIME", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
    // SLMW=: 0.05 when not given or not positive.
    {kProcSlmw, "SLMW", CellDefault::kValue, 0.05, kTinyPositive, kAnyAbove, true},
    // G4=: 0 (or not given) keeps the preset kPresetGinvMax, which the
    // set-up replaces by kDefaultGinvMax, as it does any negative value.
    {kProcG4, "G4", CellDefault::kPreset, kPresetGinvMax, kAnyBelow, kAnyAbove, false},
    {kProcDemphas, "DEMPHAS", CellDefault::kMissing, 0.0, kAnyBelow, kAnyAbove, false},
    // RIDGE=: missing when not given; then the RIDGE flag alone asks for the
    // automatic ridge (missing), its absence for none (0).
    {kProcRidge, "RIDGE", CellDefault::kMissing, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcWRidge, "WRIDGE", CellDefault::kValue, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcAsycov, "ASYCOV", CellDefault::kValue, 0.0, 0.0, 3.0, false},
    // ROTATE=: 1 (no rotation) when not given.
    {kProcRotate, "ROTATE", CellDefault::kValue, 1.0, 1.0, 10.0, false},
    // WPENALTY=: missing when not given; a given value not positive is 0.
    {kProcWPenalty, "WPENALTY", CellDefault::kMissing, 0.0, kTinyPositive, kAnyAbove, true},
    {kProcNobs, "NOBS", CellDefault::kMissing, 0.0, kAnyBelow, kAnyAbove, false},
    // ALPHAECV=, ALPHARMS=: 0.1 when not given (the confidence intervals
    // are 90%).
    {kProcAlphaEcv, "ALPHAECV", CellDefault::kValue, 0.1, 0.0, 1.0, false},
    {kProcAlphaRms, "ALPHARMS", CellDefault::kValue, 0.1, 0.0, 1.0, false},
    // RESIDUAL=: 0 (the kind the method suggests) when not given; else a
    // ResidualRequest.
    {kProcResidual, "RESIDUAL", CellDefault::kValue, 0.0, 0.0, 3.0, false},
    // ASINGULAR=, MSINGULAR=, VSINGULAR=: the presets above, replaced by a
    // given value that is not missing.
    {kProcASingular, "ASINGULAR", CellDefault::kPreset, kDefaultASingular, kAnyBelow, kAnyAbove, false},
    {kProcMSingular, "MSINGULAR", CellDefault::kPreset, kDefaultMSingular, kAnyBelow, kAnyAbove, false},
    {kProcVSingular, "VSINGULAR", CellDefault::kPreset, kDefaultVSingular, kAnyBelow, kAnyAbove, false},
    // COVSING=: preset missing, which drops as many eigenvalues of the
    // generalized inverse as the decomposition found negligible pivots.
    {kProcCovSing, "COVSING", CellDefault::kMissing, 0.0, kAnyBelow, kAnyAbove, false},
    {kProcMaxIterNlc, "MAXITER", CellDefault::kPreset, 0.0, kAnyBelow, kAnyAbove, false},
};

constexpr bool rows_in_cell_order() {
    for (int c = 0; c < kProcCellCount; ++c)
        if (kProcCellRows[c].cell != c) return false;
    return true;
}
static_assert(rows_in_cell_order(), "kProcCellRows is indexed by ProcCell");

constexpr const ProcCellRow& proc_cell_row(ProcCell c) { return kProcCellRows[c]; }

// True when v lies in the row's valid range (a NaN never does).
constexpr bool in_range(const ProcCellRow& row, double v) {
    return (row.lowerOpen ? v > row.lower : v >= row.lower) && v <= row.upper;
}

// ---------------------------------------------------------------------------
// Flag bits of the statement nodes: the node byte (12..17, as the grammar
// table writes it) and the bit.

struct NodeFlag {
    int8_t byte;
    uint8_t bit;
};

// True when the flag is set in the node.
inline bool node_flag(const StatementNode* node, NodeFlag f) {
    return (node->flags[f.byte - 12] & f.bit) != 0;
}

// PROC statement.
constexpr NodeFlag kFlagCovariance{12, 0x40};   // COVARIANCE, COV
constexpr NodeFlag kFlagUcorr{12, 0x20};        // UCORR
constexpr NodeFlag kFlagUcov{12, 0x10};         // UCOV
constexpr NodeFlag kFlagAug{12, 0x08};          // AUG
constexpr NodeFlag kFlagNoint{12, 0x04};        // NOINT
constexpr NodeFlag kFlagGradCheck{12, 0x02};    // GRADCHECK
constexpr NodeFlag kFlagNoStdErr{12, 0x01};     // NOSTDERR
constexpr NodeFlag kFlagNoMod{13, 0x80};        // NOMOD
constexpr NodeFlag kFlagNoAdjDf{13, 0x40};      // NOADJDF
constexpr NodeFlag kFlagNoPrint{13, 0x20};      // NOPRINT
constexpr NodeFlag kFlagPall{13, 0x10};         // PALL
constexpr NodeFlag kFlagPrint{13, 0x08};        // PRINT
constexpr NodeFlag kFlagPshort{13, 0x04};       // PSHORT
constexpr NodeFlag kFlagPsummary{13, 0x02};     // PSUMMARY
constexpr NodeFlag kFlagTotEff{13, 0x01};       // TOTEFF
constexpr NodeFlag kFlagPcoves{14, 0x80};       // PCOVES
constexpr NodeFlag kFlagModification{14, 0x40}; // MODIFICATION
constexpr NodeFlag kFlagKurtosis{14, 0x20};     // KURTOSIS
constexpr NodeFlag kFlagPweight{14, 0x10};      // PWEIGHT
constexpr NodeFlag kFlagDetail{14, 0x08};       // DETAIL
constexpr NodeFlag kFlagPcorr{14, 0x04};        // PCORR
constexpr NodeFlag kFlagPrimat{14, 0x02};       // PRIMAT
constexpr NodeFlag kFlagResidual{14, 0x01};     // RESIDUAL
constexpr NodeFlag kFlagPestim{15, 0x80};       // PESTIM
constexpr NodeFlag kFlagPredet{15, 0x40};       // PREDET
constexpr NodeFlag kFlagFdCode{15, 0x20};       // FDCODE
constexpr NodeFlag kFlagList{15, 0x10};         // LIST
constexpr NodeFlag kFlagPlatcov{15, 0x02};      // PLATCOV
constexpr NodeFlag kFlagPdeterm{15, 0x01};      // PDETERM
constexpr NodeFlag kFlagPinitial{16, 0x80};     // PINITIAL
constexpr NodeFlag kFlagPcrpjac{16, 0x40};      // PCRPJAC
constexpr NodeFlag kFlagPjacpat{16, 0x20};      // PJACPAT: show the Jacobian pattern
constexpr NodeFlag kFlagOutjac{16, 0x10};       // OUTJAC: the Jacobian rows of OUTEST=
constexpr NodeFlag kFlagRidge{16, 0x08};        // RIDGE without a value
constexpr NodeFlag kFlagNoDiag{16, 0x02};       // NODIAG
constexpr NodeFlag kFlagBiasKur{16, 0x01};      // BIASKUR
constexpr NodeFlag kFlagVarStand{17, 0x80};     // VARSTAND
constexpr NodeFlag kFlagPhessian{17, 0x40};     // PHESSIAN
constexpr NodeFlag kFlagAsyStand{17, 0x20};     // ASYSTAND
constexpr NodeFlag kFlagNorm{17, 0x10};         // NORM: rotate the rows normalized

// FACTOR statement.
constexpr NodeFlag kFactorFlagNegated{12, 0x40};  // the second number is negated (no keyword sets it)
constexpr NodeFlag kFactorFlagHeywood{12, 0x20};  // HEY: identity for the unique variances
constexpr NodeFlag kFactorFlagComponent{12, 0x10};// COMP: no unique variances

// FACTOR statement: its one option cell.
enum FactorCell : int16_t {
    kFactorN = 0,  // N=: the number of factors
};

// PROFILE statement.
constexpr NodeFlag kProfileFlagOutAll{12, 0x20};    // OUTALL
constexpr NodeFlag kProfileFlagOutTable{12, 0x10};  // OUTTABLE

// PROFILE statement: its option cells, three numbers and then the count.
enum ProfileCell : int16_t {
    kProfileFFactor = 0,    // FFACTOR=: the deviance scale of the limits
    kProfileFeasRatio = 1,  // FEASRATIO=: the scale of the start steps
    kProfileAlpha = 2,      // ALPHA=: read, sets nothing
    kProfileMaxIter = 3,    // MAX=: iterations of each sub-optimization
};

// The switches cosinit keeps whole in StatementOptions::printFlags (node bytes
// 13, 14 and 15 at bits 0, 8 and 16) and optionFlags (bytes 16 and 17 at
// bits 0 and 8), for the routines that read them later.
constexpr int8_t kPrintFlagsFirstByte = 13;
constexpr int8_t kOptionFlagsFirstByte = 16;
constexpr uint32_t kept_bit(NodeFlag f, int8_t firstByte) {
    return static_cast<uint32_t>(f.bit) << (8 * (f.byte - firstByte));
}
enum ProcPrintFlag : uint32_t {
    kPrintPall = kept_bit(kFlagPall, kPrintFlagsFirstByte),
    kPrintPrint = kept_bit(kFlagPrint, kPrintFlagsFirstByte),
    kPrintPshort = kept_bit(kFlagPshort, kPrintFlagsFirstByte),
    kPrintPsummary = kept_bit(kFlagPsummary, kPrintFlagsFirstByte),
    kPrintTotEff = kept_bit(kFlagTotEff, kPrintFlagsFirstByte),
    kPrintPweight = kept_bit(kFlagPweight, kPrintFlagsFirstByte),
    kPrintPcorr = kept_bit(kFlagPcorr, kPrintFlagsFirstByte),
    kPrintPrimat = kept_bit(kFlagPrimat, kPrintFlagsFirstByte),
    kPrintResidual = kept_bit(kFlagResidual, kPrintFlagsFirstByte),
    kPrintPestim = kept_bit(kFlagPestim, kPrintFlagsFirstByte),
    kPrintPredet = kept_bit(kFlagPredet, kPrintFlagsFirstByte),
    kPrintPlatcov = kept_bit(kFlagPlatcov, kPrintFlagsFirstByte),
    kPrintPdeterm = kept_bit(kFlagPdeterm, kPrintFlagsFirstByte),
};
enum ProcOptionFlag : uint32_t {
    kOptionNoDiag = kept_bit(kFlagNoDiag, kOptionFlagsFirstByte),
    kOptionBiasKur = kept_bit(kFlagBiasKur, kOptionFlagsFirstByte),
    kOptionVarStand = kept_bit(kFlagVarStand, kOptionFlagsFirstByte),
    kOptionAsyStand = kept_bit(kFlagAsyStand, kOptionFlagsFirstByte),
};

// ---------------------------------------------------------------------------
// NLOPTIONS.

namespace velix::detail {

// The NLOPTIONS option cells.  Every number is missing when not given (the
// optimizer then chooses by technique); TECHNIQUE=, UPDATE= and
// LINESEARCH= are 0.
enum NlOptionCell : int16_t {
    kNlTechnique = 0,
    kNlUpdate,
    kNlLineSearch,
    kNlMaxIter,
    kNlMaxFunc,
    kNlMaxTime,
    kNlAbsConv,
    kNlAbsFConv,
    kNlFConv,
    kNlFConv2,
    kNlAbsXConv,
    kNlXConv,
    kNlAbsGConv,
    kNlGConv,
    kNlGConv2,
    kNlFSize,
    kNlXSize,
    kNlInStep,
    kNlLsPrecision,
    kNlMinIter,
    kNlSingular,
    kNlDampStep,
    kNlMaxStep,
    kNlFDigits,
    kNlCDigits,
    kNlHesCal,
    kNlRestart,
    kNlInHessian,
    kNlLcEpsilon,
    kNlLcSingular,
    kNlLcDeact,
    kNlFd,
    kNlFdHessian,
    kNlCellCount
};

// Flag bits of the NLOPTIONS node (byte 12).
constexpr uint8_t kNlPall = 0x01;
constexpr uint8_t kNlPshort = 0x02;
constexpr uint8_t kNlPsummary = 0x04;
constexpr uint8_t kNlPhistory = 0x08;
constexpr uint8_t kNlNoprint = 0x10;

// The optimizer's print level each print option sets; PSHORT's is the
// default, and the highest option given wins.
constexpr double kNlLevelNoprint = 0.0;
constexpr double kNlLevelSummary = 1.0;
constexpr double kNlLevelShort = 2.0;
constexpr double kNlLevelHistory = 3.0;
constexpr double kNlLevelAll = 5.0;

}  // namespace velix::detail

// ---------------------------------------------------------------------------
// The statement node with the 8-character keyword, from `from` on (0 none).
const StatementNode* find_statement(const StatementNode* from, const char* keyword8);
// Name identity of the model: equal without regard to case after trailing
// blanks are stripped.
bool same_name(const NameRecord& a, const NameRecord& b);
// Whether a name is Intercept, the constant variable that AUGMENT adds to
// the moments, in any case.
bool is_intercept_name(const NameRecord& r);
