// The procedure's statement grammar.  The keyword table is the fixed list of
// 535 names the parser knows (19 token classes, then punctuation, operators
// and words in ascending byte order, then the end name "$$$"); a name with a
// trailing "$" is an alias spelling.  The statement and option tables below
// say what each word does: which statement form it starts, and which option
// cell or flag bit of the statement's node it fills.  The parser
// (platform/parser) reads only these tables, so the language is changed here
// and documented in docs/language.md.
#include "procedure/driver/grammar.h"

#include <array>
#include <cstring>
#include <new>

#include "velix/host.h"

namespace velix::detail {

const char* const kKeywordNames[kKeywordCount] = {
    "ENDJB", "NAMEX", "QS", "INT", "NBR", "COMPOUND", "FMT", "DATE", "TIME", "DATETIME",
    "MISSING", "VLITERAL", "CATNAME", "ZAVDS", "RESERVED1", "RESERVED2", "RESERVED3",
    "RESERVED4", "RESERVED5", "!", "!!", "$", "$NEVER$$$", "$notdoneyet$", "&", "(", ")", "*",
    "**", "+", ",", "-", ".", "/", "//$", ":", "<", "<=", "<>", "=", "==", ">", "><", ">=", "@",
    "@@", "A$", "ABORT", "ABSCONV", "ABSFCONV", "ABSFTOL$", "ABSGCONV", "ABSGTOL$", "ABSTOL$",
    "ABSXCONV", "ABSXTOL$", "ADF", "AFTER", "ALL", "ALPHA", "ALPHAECV", "ALPHARMS", "AND",
    "ARRAY", "ASC$", "ASING$", "ASINGULAR", "ASYCOV", "ASYSTAND", "AT", "ATTRIB", "AUG",
    "AUGMENT$", "B", "BET", "BFGS", "BIASED", "BIASKUR", "BLKSIZE=", "BOTH", "BOUNDS", "BY",
    "C", "CALL", "CD", "CDIGITS", "CEN", "CENTRAL", "CEPSILON$", "CFA", "CFACTOR", "CG$",
    "CHAR", "CHARACTER", "CHI", "CLPARM", "CMT", "COL=", "COLUMN=", "COMP", "COMPONENT$", "CON",
    "CONGRA", "CORR", "COSAN", "COV", "COVARIANCE", "COVSING", "D", "DAMPSTEP", "DATA", "DBFGS",
    "DBLDOG", "DD$", "DDFP", "DE$", "DEACTOL$", "DEFAULT", "DELETE", "DEMPHAS", "DERCHECK$",
    "DESCENDING", "DETAIL", "DETAILED", "DF", "DFE$", "DFP", "DFR$", "DFRED$", "DFREDUCE",
    "DIA", "DIAHES", "DIRS$", "DO", "DOUBLE", "DROP", "DROPOVER", "DS$", "DWLS", "E", "EDF",
    "ELSE", "END", "ENDSUB", "EQ", "EQUAMAX", "ESTDATA", "EVERYOBS", "EXTERNC", "F", "FACTOR",
    "FAST", "FCONV", "FCONV2", "FD", "FDCODE", "FDH$", "FDHES$", "FDHESSIAN", "FDIGITS",
    "FDINT", "FEASRATIO", "FFACTOR", "FILE", "FILENAME=", "FILEVAR=", "FLOAT", "FLOWOVER",
    "FOR", "FORCHI", "FORMAT", "FORWARD", "FR", "FREQ", "FREQUENCY$", "FSIZE", "FTOL$",
    "FTOL2$", "FUNC$", "FUNCTION", "G", "G4", "GC$", "GCONV", "GCONV2", "GE", "GEN", "GLS",
    "GO", "GOTO", "GRADCHECK", "GT", "GTOL$", "GTOL2$", "H", "HA$", "HEADER=", "HESCAL",
    "HESLOAD$", "HESSALG", "HEY", "HEYWOOD$", "HISTORY", "HS$", "IDE", "IF", "IMI", "IN", "INC",
    "INCLUDE", "INEST", "INFSTEP$", "INHESS$", "INHESSIAN", "INPUT", "INRAM", "INSTEP", "INT$",
    "INV", "INVAR", "INWGT", "J", "KEEP", "KU$", "KURTOSIS", "LABEL", "LCD$", "LCDEACT", "LCE$",
    "LCEPS", "LCS$", "LCSING$", "LCSINGULAR", "LDCTOL$", "LE", "LENGTH", "LEVMAR", "LINCON",
    "LINE=", "LINEQS", "LINESEARCH", "LINESIZE=", "LINESLEFT=", "LINK", "LIS$", "LIST", "LL=",
    "LM$", "LOG", "LONG", "LOW", "LRECL=", "LS", "LS=", "LSADF", "LSD", "LSDWLS", "LSG",
    "LSGLS", "LSM", "LSMAX", "LSML", "LSP$", "LSPRECISION", "LST$", "LSW", "LSWLS", "LT", "M",
    "MARQUARDT$", "MATRIX", "MAX", "MAXFU$", "MAXFUNC", "MAXIT$", "MAXITER", "MAXSTEP",
    "MAXTIME", "MET$", "METHOD", "MINIT$", "MINITER", "ML", "MOD", "MODEL", "MODIFICATION",
    "MSING$", "MSINGULAR", "N", "N=", "NE", "NEWRAP", "NEWTON$", "NLC", "NLINCON", "NLOPTIONS",
    "NO$", "NOADJDF", "NOBS", "NODI$", "NODIAG", "NOEIGNUM", "NOHLF", "NOINT", "NOMOD", "NON$",
    "NONE", "NOP$", "NOPAD", "NOPRINT", "NORM", "NOSE$", "NOSTDERR", "NOT", "NOTIN", "NOTITLE",
    "NOTITLES", "NOTSORTED", "NR$", "NRA$", "NREST$", "NRESTART$", "NRR$", "NRRIDG", "NUMERIC",
    "OBJ", "OF", "OLD", "OM$", "OMETHOD$", "OPTCHECK", "OR", "OTHERWISE", "OUT", "OUTALL",
    "OUTARG$", "OUTARGS", "OUTCRPJAC", "OUTEST", "OUTHES", "OUTITER", "OUTJAC", "OUTNLCJAC",
    "OUTPUT", "OUTRAM", "OUTSTAT", "OUTTABLE", "OUTTIME", "OUTVAR", "OUTWGT", "P", "PAD",
    "PAGESIZE", "PAGESIZE=", "PALL", "PARAMETERS", "PARMS$", "PARSIMAX", "PARTIAL", "PB", "PC",
    "PCE$", "PCORR", "PCOV", "PCOVES", "PCRPJAC", "PDE$", "PDETERM", "PEIGVAL", "PERROR",
    "PES$", "PESTIM", "PF$", "PFUNCTION", "PHES$", "PHESSIAN", "PHIS$", "PHISTORY", "PIN$",
    "PINIT", "PINITIAL", "PITER", "PJAC$", "PJACOBI", "PJACPAT", "PJP$", "PJTJ$", "PL",
    "PLATCOV", "PLC$", "PMAT$", "PNLCJAC", "POINTER$", "PR", "PRE$", "PREDET", "PRI$", "PRIMAT",
    "PRINCIPAL", "PRINT", "PRIVEC", "PROFILE", "PS", "PS=", "PSD", "PSH$", "PSHORT", "PSTDERR",
    "PSUM$", "PSUMMARY", "PTIME$", "PUND$", "PUNDOC$", "PUT", "PVEC$", "PW$", "PWEIGHT", "Q",
    "QN$", "QUANEW", "QUARTIMAX", "R", "RADIUS$", "RAM", "RANDOM", "RDF", "RECFM=", "REP",
    "REPLACE", "RES$", "RESIDUAL", "REST$", "RESTART", "RETAIN", "RETURN", "RIDGE", "ROTATE",
    "S", "SALPHA$", "SE$", "SELECT", "SHORT", "SIGSQ", "SIMPLE", "SING$", "SINGULAR", "SLMW",
    "SM$", "SMETHOD$", "SP$", "SPRECISION$", "START", "STD", "STDERR", "STOP", "STOPOVER",
    "STRUCT", "STRUCTEQ", "SUB$", "SUBROUTINE", "SUBSTR", "SUMMARY$", "SUMOBS", "SYM", "T",
    "TE$", "TECH$", "TECHNIQUE", "THEN", "TO", "TOTEFF", "TR$", "TRUREG", "U", "UCORR", "UCOV",
    "ULS", "UNBIASED", "UNTIL", "UPD$", "UPDATE", "UPP", "UTIME$", "V", "VAR", "VARDEF",
    "VARIABLES$", "VARIMAX", "VARNAMES", "VARSTAND", "VELIX$", "VERSION", "VNAMES$", "VS$",
    "VSING$", "VSINGULAR", "W", "WALD", "WDF", "WEIGHT", "WEIGHTS$", "WGT", "WHEN", "WHILE",
    "WLS", "WPEN$", "WPENALTY", "WRIDGE", "XCONV", "XSIZE", "XTOL$", "ZDI", "ZID", "[", "]",
    "^", "^<", "^=", "^>", "_ALL_", "_CHARACTER_", "_CHAR_", "_NUMERIC_", "_PAGE_", "_PDV_",
    "_TEMPORARY_$", "{", "|", "||", "}", "~", "~<", "~=", "~>", "$$$",
};

namespace {

// Packed keyword names: a length byte and the characters per name, then a 0
// byte; built once from kKeywordNames.
struct KeywordBlob {
    std::array<unsigned char, kKeywordNameBytes> names{};
    std::array<uint16_t, kKeywordCount> offsets{};
    std::array<uint16_t, kKeywordCount> order{};
    std::array<unsigned char, kKeywordCount> classes{};
    KeywordBlob() {
        size_t at = 0;
        for (int32_t i = 0; i < kKeywordCount; ++i) {
            size_t len = std::strlen(kKeywordNames[i]);
            offsets[i] = static_cast<uint16_t>(at);
            names[at++] = static_cast<unsigned char>(len);
            std::memcpy(&names[at], kKeywordNames[i], len);
            at += len;
            order[i] = static_cast<uint16_t>(i + 1);
            // Class 50 (the character "2") marks the first ten token classes,
            // 127 the end name, 10 every other name.
            classes[i] = i < 10 ? 50 : (i == kKeywordCount - 1 ? 127 : 10);
        }
        names[at] = 0;
    }
};

const KeywordBlob& keyword_blob() {
    static const KeywordBlob blob;
    return blob;
}

// ---- option words ----

const OptionWord kMethodWords[] = {
    {"NONE", kMethodNone}, {"ULS", kMethodUls},       {"GLS", kMethodGls},
    {"ML", kMethodMl},     {"WLS", kMethodWls},       {"ADF", kMethodWls},
    {"DWLS", kMethodDwls}, {"LSGLS", kMethodUlsGls},  {"LSML", kMethodUlsMl},
    {"LSWLS", kMethodUlsWls}, {"LSADF", kMethodUlsWls}, {"LSDWLS", kMethodUlsDwls},
};

const OptionWord kTechniqueWords[] = {
    {"NONE", kTechNone},     {"TRUREG", kTechTrureg}, {"NEWRAP", kTechNewrap},
    {"NRRIDG", kTechNrridg}, {"LEVMAR", kTechLevmar}, {"DBLDOG", kTechDbldog},
    {"QUANEW", kTechQuanew}, {"CONGRA", kTechCongra},
};

// Update codes: the same number means the primal, dual or conjugate-gradient
// variant depending on the technique.
const OptionWord kUpdateWords[] = {
    {"BFGS", 1}, {"DFP", 2}, {"DBFGS", 1}, {"DDFP", 2},
    {"PB", 1},   {"FR", 2},  {"PR", 3},    {"CD", 4},
};

const OptionWord kVardefWords[] = {
    {"DF", 0}, {"N", 0}, {"WDF", 0}, {"WEIGHT", 0}, {"WGT", 0},
};

// Asymptotic covariance of the moments: 1 covariances, 2 with the
// small-sample correction, 3 correlations.
const OptionWord kAsycovWords[] = {
    {"BIASED", 1}, {"UNBIASED", 2}, {"CORR", 3},
};

// Rotations of the FACTOR loadings: the orthomax family and the principal
// axes of L'L.
const OptionWord kRotateWords[] = {
    {"NONE", 1},     {"QUARTIMAX", 2}, {"VARIMAX", 3},
    {"EQUAMAX", 4},  {"PARSIMAX", 5},  {"PRINCIPAL", 10},
};

// The standardized residuals asked for by RESIDUAL=.
const OptionWord kResidualWords[] = {
    {"VARSTAND", kResidualAskVarStand}, {"ASYSTAND", kResidualAskAsyStand}, {"NORM", kResidualAskNorm},
};

const OptionWord kFdWords[] = {
    {"FORWARD", 1}, {"CENTRAL", 2}, {"FAST", 1},
};

#define WORDS(w) w, static_cast<int32_t>(sizeof(w) / sizeof(w[0]))
#define NOWORDS nullptr, 0

// A flag option: its node byte and bit.
constexpr OptionSpec flag(const char* keyword, NodeFlag f) {
    return {keyword, OptionKind::kFlag, f.byte, f.bit, -1, -1, nullptr, 0};
}

// PROC VELIX options, by the names of their cells and flag bits.
const OptionSpec kProcOptions[] = {
    // data sets
    {"DATA", OptionKind::kDataSet, 0, 0, kCellData, -1, NOWORDS},
    {"INRAM", OptionKind::kDataSet, 0, 0, kCellInram, -1, NOWORDS},
    {"OUTSTAT", OptionKind::kDataSet, 0, 0, kCellOutstat, -1, NOWORDS},
    {"OUTRAM", OptionKind::kDataSet, 0, 0, kCellOutram, -1, NOWORDS},
    {"INWGT", OptionKind::kDataSet, 0, 0, kCellInwgt, -1, NOWORDS},
    {"OUTWGT", OptionKind::kDataSet, 0, 0, kCellOutwgt, -1, NOWORDS},
    {"OUTEST", OptionKind::kDataSet, 0, 0, kCellOutest, -1, NOWORDS},
    {"INEST", OptionKind::kDataSet, 0, 0, kCellInest, -1, NOWORDS},
    {"ESTDATA", OptionKind::kDataSet, 0, 0, kCellInest, -1, NOWORDS},
    // method and optimizer
    {"METHOD", OptionKind::kWord, 0, 0, kProcMethod, -1, WORDS(kMethodWords)},
    {"TECHNIQUE", OptionKind::kWord, 0, 0, kProcTechnique, -1, WORDS(kTechniqueWords)},
    {"UPDATE", OptionKind::kWord, 0, 0, kProcUpdate, -1, WORDS(kUpdateWords)},
    {"LINESEARCH", OptionKind::kNumber, 0, 0, kProcLineSearch, -1, NOWORDS},
    {"INSTEP", OptionKind::kNumber, 0, 0, kProcInStep, -1, NOWORDS},
    {"LSPRECISION", OptionKind::kNumber, 0, 0, kProcLsPrecision, -1, NOWORDS},
    {"MAXTIME", OptionKind::kNumber, 0, 0, kProcMaxTime, -1, NOWORDS},
    {"MAXITER", OptionKind::kNumberPair, 0, 0, kProcMaxIter, kProcMaxIterNlc, NOWORDS},
    {"MAXFUNC", OptionKind::kNumber, 0, 0, kProcMaxFunc, -1, NOWORDS},
    {"FCONV", OptionKind::kNumber, 0, 0, kProcFConv, -1, NOWORDS},
    {"GCONV", OptionKind::kNumber, 0, 0, kProcGConv, -1, NOWORDS},
    {"SINGULAR", OptionKind::kNumber, 0, 0, kProcSingular, -1, NOWORDS},
    {"HESSALG", OptionKind::kNumber, 0, 0, kProcHessAlg, -1, NOWORDS},
    // observations and divisors
    {"EDF", OptionKind::kNumber, 0, 0, kProcEdf, -1, NOWORDS},
    {"DFREDUCE", OptionKind::kNumber, 0, 0, kProcDfReduce, -1, NOWORDS},
    {"NOBS", OptionKind::kNumber, 0, 0, kProcNobs, -1, NOWORDS},
    {"VARDEF", OptionKind::kName, 0, 0, kProcVardef, -1, WORDS(kVardefWords)},
    // start values
    {"RANDOM", OptionKind::kNumber, 0, 0, kProcRandom, -1, NOWORDS},
    {"START", OptionKind::kNumber, 0, 0, kProcStart, -1, NOWORDS},
    {"DEMPHAS", OptionKind::kNumber, 0, 0, kProcDemphas, -1, NOWORDS},
    // moments and weights
    {"RIDGE", OptionKind::kFlagNumber, kFlagRidge.byte, kFlagRidge.bit, kProcRidge, -1, NOWORDS},
    {"WRIDGE", OptionKind::kNumber, 0, 0, kProcWRidge, -1, NOWORDS},
    {"ASYCOV", OptionKind::kWord, 0, 0, kProcAsycov, -1, WORDS(kAsycovWords)},
    {"ROTATE", OptionKind::kWord, 0, 0, kProcRotate, -1, WORDS(kRotateWords)},
    {"WPENALTY", OptionKind::kNumber, 0, 0, kProcWPenalty, -1, NOWORDS},
    // tests and confidence levels
    {"SLMW", OptionKind::kNumber, 0, 0, kProcSlmw, -1, NOWORDS},
    {"ALPHAECV", OptionKind::kNumber, 0, 0, kProcAlphaEcv, -1, NOWORDS},
    {"ALPHARMS", OptionKind::kNumber, 0, 0, kProcAlphaRms, -1, NOWORDS},
    // covariance of the estimates
    {"G4", OptionKind::kNumber, 0, 0, kProcG4, -1, NOWORDS},
    {"ASINGULAR", OptionKind::kNumber, 0, 0, kProcASingular, -1, NOWORDS},
    {"MSINGULAR", OptionKind::kNumber, 0, 0, kProcMSingular, -1, NOWORDS},
    {"VSINGULAR", OptionKind::kNumber, 0, 0, kProcVSingular, -1, NOWORDS},
    {"COVSING", OptionKind::kNumber, 0, 0, kProcCovSing, -1, NOWORDS},
    // switches
    flag("COVARIANCE", kFlagCovariance),
    flag("COV", kFlagCovariance),
    flag("UCORR", kFlagUcorr),
    flag("UCOV", kFlagUcov),
    flag("AUG", kFlagAug),
    flag("NOINT", kFlagNoint),
    flag("GRADCHECK", kFlagGradCheck),
    flag("NOSTDERR", kFlagNoStdErr),
    flag("NOMOD", kFlagNoMod),
    flag("NOADJDF", kFlagNoAdjDf),
    flag("NOPRINT", kFlagNoPrint),
    flag("PALL", kFlagPall),
    flag("PRINT", kFlagPrint),
    flag("PSHORT", kFlagPshort),
    flag("PSUMMARY", kFlagPsummary),
    flag("TOTEFF", kFlagTotEff),
    flag("PCOVES", kFlagPcoves),
    flag("MODIFICATION", kFlagModification),
    flag("KURTOSIS", kFlagKurtosis),
    flag("PWEIGHT", kFlagPweight),
    flag("DETAIL", kFlagDetail),
    flag("PCORR", kFlagPcorr),
    flag("PRIMAT", kFlagPrimat),
    {"RESIDUAL", OptionKind::kFlagWord, kFlagResidual.byte, kFlagResidual.bit, kProcResidual, -1,
     WORDS(kResidualWords)},
    flag("PESTIM", kFlagPestim),
    flag("PREDET", kFlagPredet),
    flag("FDCODE", kFlagFdCode),
    flag("LIST", kFlagList),
    flag("PLATCOV", kFlagPlatcov),
    flag("PDETERM", kFlagPdeterm),
    flag("PINITIAL", kFlagPinitial),
    flag("PCRPJAC", kFlagPcrpjac),
    flag("PJACPAT", kFlagPjacpat),
    flag("OUTJAC", kFlagOutjac),
    flag("NODIAG", kFlagNoDiag),
    flag("BIASKUR", kFlagBiasKur),
    flag("VARSTAND", kFlagVarStand),
    flag("PHESSIAN", kFlagPhessian),
    flag("ASYSTAND", kFlagAsyStand),
    flag("NORM", kFlagNorm),
};

// NLOPTIONS: the optimizer's options.
const OptionSpec kNlOptions[] = {
    {"TECHNIQUE", OptionKind::kWord, 0, 0, kNlTechnique, -1, WORDS(kTechniqueWords)},
    {"UPDATE", OptionKind::kWord, 0, 0, kNlUpdate, -1, WORDS(kUpdateWords)},
    {"LINESEARCH", OptionKind::kNumber, 0, 0, kNlLineSearch, -1, NOWORDS},
    {"MAXITER", OptionKind::kNumber, 0, 0, kNlMaxIter, -1, NOWORDS},
    {"MAXFUNC", OptionKind::kNumber, 0, 0, kNlMaxFunc, -1, NOWORDS},
    {"MAXTIME", OptionKind::kNumber, 0, 0, kNlMaxTime, -1, NOWORDS},
    {"ABSCONV", OptionKind::kNumber, 0, 0, kNlAbsConv, -1, NOWORDS},
    {"ABSFCONV", OptionKind::kNumber, 0, 0, kNlAbsFConv, -1, NOWORDS},
    {"FCONV", OptionKind::kNumber, 0, 0, kNlFConv, -1, NOWORDS},
    {"FCONV2", OptionKind::kNumber, 0, 0, kNlFConv2, -1, NOWORDS},
    {"ABSXCONV", OptionKind::kNumber, 0, 0, kNlAbsXConv, -1, NOWORDS},
    {"XCONV", OptionKind::kNumber, 0, 0, kNlXConv, -1, NOWORDS},
    {"ABSGCONV", OptionKind::kNumber, 0, 0, kNlAbsGConv, -1, NOWORDS},
    {"GCONV", OptionKind::kNumber, 0, 0, kNlGConv, -1, NOWORDS},
    {"GCONV2", OptionKind::kNumber, 0, 0, kNlGConv2, -1, NOWORDS},
    {"FSIZE", OptionKind::kNumber, 0, 0, kNlFSize, -1, NOWORDS},
    {"XSIZE", OptionKind::kNumber, 0, 0, kNlXSize, -1, NOWORDS},
    {"INSTEP", OptionKind::kNumber, 0, 0, kNlInStep, -1, NOWORDS},
    {"LSPRECISION", OptionKind::kNumber, 0, 0, kNlLsPrecision, -1, NOWORDS},
    {"MINITER", OptionKind::kNumber, 0, 0, kNlMinIter, -1, NOWORDS},
    {"SINGULAR", OptionKind::kNumber, 0, 0, kNlSingular, -1, NOWORDS},
    {"DAMPSTEP", OptionKind::kNumber, 0, 0, kNlDampStep, -1, NOWORDS},
    {"MAXSTEP", OptionKind::kNumber, 0, 0, kNlMaxStep, -1, NOWORDS},
    {"FDIGITS", OptionKind::kNumber, 0, 0, kNlFDigits, -1, NOWORDS},
    {"CDIGITS", OptionKind::kNumber, 0, 0, kNlCDigits, -1, NOWORDS},
    {"HESCAL", OptionKind::kNumber, 0, 0, kNlHesCal, -1, NOWORDS},
    {"RESTART", OptionKind::kNumber, 0, 0, kNlRestart, -1, NOWORDS},
    {"INHESSIAN", OptionKind::kNumber, 0, 0, kNlInHessian, -1, NOWORDS},
    {"LCEPS", OptionKind::kNumber, 0, 0, kNlLcEpsilon, -1, NOWORDS},
    {"LCSINGULAR", OptionKind::kNumber, 0, 0, kNlLcSingular, -1, NOWORDS},
    {"LCDEACT", OptionKind::kNumber, 0, 0, kNlLcDeact, -1, NOWORDS},
    {"FD", OptionKind::kWord, 0, 0, kNlFd, -1, WORDS(kFdWords)},
    {"FDHESSIAN", OptionKind::kWord, 0, 0, kNlFdHessian, -1, WORDS(kFdWords)},
    {"PALL", OptionKind::kFlag, 12, kNlPall, -1, -1, NOWORDS},
    {"PSHORT", OptionKind::kFlag, 12, kNlPshort, -1, -1, NOWORDS},
    {"PSUMMARY", OptionKind::kFlag, 12, kNlPsummary, -1, -1, NOWORDS},
    {"PHISTORY", OptionKind::kFlag, 12, kNlPhistory, -1, -1, NOWORDS},
    {"NOPRINT", OptionKind::kFlag, 12, kNlNoprint, -1, -1, NOWORDS},
};

// FACTOR: N= and the flag bits of byte 12.
const OptionSpec kFactorOptions[] = {
    {"N", OptionKind::kNumber, 0, 0, kFactorN, -1, NOWORDS},
    flag("COMP", kFactorFlagComponent),
    flag("HEY", kFactorFlagHeywood),
};

// PROFILE: options after the "/".
const OptionSpec kProfileOptions[] = {
    {"FFACTOR", OptionKind::kNumber, 0, 0, kProfileFFactor, -1, NOWORDS},
    {"FEASRATIO", OptionKind::kNumber, 0, 0, kProfileFeasRatio, -1, NOWORDS},
    {"ALPHA", OptionKind::kNumber, 0, 0, kProfileAlpha, -1, NOWORDS},
    {"MAX", OptionKind::kNumber, 0, 0, kProfileMaxIter, -1, NOWORDS},
    flag("OUTTABLE", kProfileFlagOutTable),
    flag("OUTALL", kProfileFlagOutAll),
};

#undef WORDS
#undef NOWORDS

#define OPTS(o) o, static_cast<int32_t>(sizeof(o) / sizeof(o[0]))

const StatementSpec kProcStatement = {"VELIX", "VELIX   ", StatementForm::kOptions, -1,
                                      OPTS(kProcOptions)};

const StatementSpec kStatements[] = {
    {"VAR", "VAR     ", StatementForm::kVarList, kListVar, nullptr, 0},
    {"PARTIAL", "PARTIAL ", StatementForm::kVarList, kListPartial, nullptr, 0},
    {"WEIGHT", "WEIGHT  ", StatementForm::kVarList, kListWeight, nullptr, 0},
    {"FREQ", "FREQ    ", StatementForm::kVarList, kListFreq, nullptr, 0},
    {"BY", "BY      ", StatementForm::kVarList, kListBy, nullptr, 0},
    {"LINEQS", "LINEQS  ", StatementForm::kLineqs, -1, nullptr, 0},
    {"STD", "STD     ", StatementForm::kStd, -1, nullptr, 0},
    {"COV", "COV     ", StatementForm::kCov, -1, nullptr, 0},
    {"RAM", "RAM     ", StatementForm::kRam, -1, nullptr, 0},
    {"VARNAMES", "VARNAMES", StatementForm::kVarnames, -1, nullptr, 0},
    {"COSAN", "COSAN   ", StatementForm::kCosan, -1, nullptr, 0},
    {"MATRIX", "MATRIX  ", StatementForm::kMatrix, -1, nullptr, 0},
    {"FACTOR", "FACTOR  ", StatementForm::kFactor, -1, OPTS(kFactorOptions)},
    {"PARAMETERS", "PARAMETE", StatementForm::kParameters, -1, nullptr, 0},
    {"STRUCTEQ", "STRUCTEQ", StatementForm::kStructeq, -1, nullptr, 0},
    {"BOUNDS", "BOUNDS  ", StatementForm::kBounds, -1, nullptr, 0},
    {"LINCON", "LINCON  ", StatementForm::kLincon, -1, nullptr, 0},
    {"NLINCON", "NLINCON ", StatementForm::kNlincon, -1, nullptr, 0},
    {"NLC", "NLINCON ", StatementForm::kNlincon, -1, nullptr, 0},
    {"NLOPTIONS", "NLOPTION", StatementForm::kOptions, -1, OPTS(kNlOptions)},
    {"PROFILE", "PROFILE ", StatementForm::kProfile, -1, OPTS(kProfileOptions)},
};

#undef OPTS

// Alias spellings of the keyword table that the grammar accepts, with the
// word each stands for.
const AliasSpec kAliases[] = {
    {"ABSFTOL", "ABSFCONV"},   {"ABSGTOL", "ABSGCONV"},   {"ABSTOL", "ABSCONV"},
    {"ABSXTOL", "ABSXCONV"},   {"ASING", "ASINGULAR"},    {"AUGMENT", "AUG"},
    {"CG", "CONGRA"},
    {"COMPONENT", "COMP"},     {"DD", "DBLDOG"},          {"DERCHECK", "GRADCHECK"},
    {"DFE", "EDF"},            {"DFR", "DFREDUCE"},       {"DFRED", "DFREDUCE"},
    {"FDH", "FDHESSIAN"},      {"FDHES", "FDHESSIAN"},    {"GC", "GCONV"},
    {"FTOL", "FCONV"},         {"FTOL2", "FCONV2"},       {"GTOL", "GCONV"},
    {"GTOL2", "GCONV2"},       {"HEYWOOD", "HEY"},        {"INHESS", "INHESSIAN"},
    {"KU", "KURTOSIS"},        {"LCS", "LCSINGULAR"},     {"LCSING", "LCSINGULAR"},
    {"LCD", "LCDEACT"},        {"LCE", "LCEPS"},          {"LIS", "LINESEARCH"},
    {"LM", "LEVMAR"},          {"LSP", "LSPRECISION"},    {"MARQUARDT", "LEVMAR"},
    {"MAXFU", "MAXFUNC"},
    {"MAXIT", "MAXITER"},      {"MET", "METHOD"},         {"MINIT", "MINITER"},
    {"MSING", "MSINGULAR"},    {"NEWTON", "NEWRAP"},      {"NODI", "NODIAG"},
    {"NOSE", "NOSTDERR"},      {"NR", "NEWRAP"},          {"NRR", "NRRIDG"},
    {"PARMS", "PARAMETERS"},   {"PCE", "PCOVES"},         {"PDE", "PDETERM"},
    {"PES", "PESTIM"},         {"PHES", "PHESSIAN"},      {"PHIS", "PHISTORY"},
    {"PIN", "PINITIAL"},       {"PLC", "PLATCOV"},        {"PMAT", "PRIMAT"},
    {"PRE", "PREDET"},         {"PSH", "PSHORT"},         {"PSUM", "PSUMMARY"},
    {"PW", "PWEIGHT"},
    {"QN", "QUANEW"},          {"RADIUS", "INSTEP"},      {"RES", "RESIDUAL"},
    {"REST", "RESTART"},       {"SING", "SINGULAR"},      {"SP", "LSPRECISION"},
    {"SPRECISION", "LSPRECISION"}, {"SUMMARY", "PSUMMARY"}, {"TE", "TECHNIQUE"},
    {"TECH", "TECHNIQUE"},     {"TR", "TRUREG"},          {"UPD", "UPDATE"},
    {"VARIABLES", "VAR"},      {"VNAMES", "VARNAMES"},    {"VS", "VARNAMES"},
    {"VSING", "VSINGULAR"},    {"WEIGHTS", "WEIGHT"},     {"FREQUENCY", "FREQ"},
    {"WPEN", "WPENALTY"},      {"XTOL", "XCONV"},
};

const StatementGrammar kGrammar = {
    &kProcStatement,
    kStatements,
    static_cast<int32_t>(sizeof(kStatements) / sizeof(kStatements[0])),
    kAliases,
    static_cast<int32_t>(sizeof(kAliases) / sizeof(kAliases[0])),
};

}  // namespace

const StatementGrammar* proc_grammar() { return &kGrammar; }

}  // namespace velix::detail

GrammarDescriptor* cosang() {
    HostAllocator* allocator = v_global_gcb_anchor ? v_global_gcb_anchor->stepAllocator : nullptr;
    void* block = allocator ? allocator->allocate(allocator, sizeof(GrammarDescriptor), 4) : nullptr;
    if (block == nullptr) xexit(kLevelNoMemory, 0);
    auto* d = new (block) GrammarDescriptor();
    const auto& blob = velix::detail::keyword_blob();
    d->grammar = velix::detail::proc_grammar();
    d->keywordNames = blob.names.data();
    d->nameOffsets = blob.offsets.data();
    d->nameOrder = blob.order.data();
    d->nameClasses = blob.classes.data();
    // The host character set is the one the table is written in, so the
    // symbol fix-up (wztxdotr) is never needed.
    return d;
}
