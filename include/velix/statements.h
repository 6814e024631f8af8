// The statements of a step as the parser delivers them: the grammar
// descriptor the procedure hands to the parser, the parse result, and the
// payload of every statement kind.  Payload arrays live in the parser's
// per-step arena and stay valid until the step ends.
//
// A payload is found from its node: StatementNode::keyword (8 characters,
// blank-padded) names the statement, StatementNode::payload points to the
// struct documented next to that keyword below.
#pragma once

#include <cstdint>

#include "velix/types.h"

struct CmpWork;
struct HostDataSet;

// ---------------------------------------------------------------------------
// Grammar: the keyword table and the statement forms.

// How the parser reads the operands of one statement.
enum class StatementForm : uint8_t {
    kOptions,     // keyword options into option cells and flag bits
    kVarList,     // a variable list into one list of the ProcOptionRecord
    kLineqs,      // LineqsPayload
    kStd,         // VariancePayload
    kCov,         // VariancePayload
    kRam,         // RamPayload
    kVarnames,    // VarnamesPayload
    kCosan,       // CosanPayload
    kMatrix,      // MatrixPayload
    kFactor,      // FactorPayload
    kParameters,  // ParametersPayload
    kStructeq,    // NameListPayload
    kBounds,      // BoundsPayload
    kLincon,      // LinconPayload
    kNlincon,     // NlinconPayload
    kProfile,     // ProfilePayload
};

// What one option keyword does.
enum class OptionKind : uint8_t {
    kFlag,        // sets flag bit `bit` of node flag byte `byte`
    kNumber,      // KEY=number into cell `cell`
    kNumberPair,  // KEY=number [number]: the second number into `cell2`
    kFlagNumber,  // KEY sets the flag bit; KEY=number also fills `cell`
    kFlagWord,    // KEY and KEY=word set the flag bit; KEY=word also puts the
                  // word's code into `cell`
    kWord,        // KEY=word: the word's code into cell `cell`
    kName,        // KEY=word: the word itself (8 characters) into cell `cell`
    kDataSet,     // KEY=data-set name into data-set cell `cell`
};

// A word value of a kWord or kName option, with its numeric code.
struct OptionWord {
    const char* word;
    double code;
};

struct OptionSpec {
    const char* keyword;      // the full word as the keyword table spells it
    OptionKind kind;
    int8_t byte;              // flag byte 12..17 of the node (kFlag, kFlagNumber, kFlagWord)
    uint8_t bit;              // flag bit
    int16_t cell;             // option cell index, or data-set cell index
    int16_t cell2;            // second option cell (kNumberPair), else -1
    const OptionWord* words;  // values of kWord, kFlagWord and kName options
    int32_t nWords;
};

struct StatementSpec {
    const char* keyword;      // the statement's word (full spelling)
    char node[9];             // the 8-character node keyword
    StatementForm form;
    int8_t listIndex;         // kVarList: index into ProcOptionRecord::lists
    const OptionSpec* options;  // kOptions, and the options of kFactor, kProfile
    int32_t nOptions;
};

// An alias spelling of the keyword table ("MAXIT$") and the word it stands for.
struct AliasSpec {
    const char* alias;        // without the trailing "$"
    const char* full;
};

// The statement grammar of a procedure: what the parser reads.
struct StatementGrammar {
    const StatementSpec* procStatement;  // the PROC statement's options
    const StatementSpec* statements;
    int32_t nStatements;
    const AliasSpec* aliases;
    int32_t nAliases;
};

// The descriptor handed to the parser.  The header values are those of the
// keyword table; the fifteen table addresses follow in their fixed order.
struct GrammarDescriptor {
    uint16_t version = 1;
    uint16_t nSymbols = 536;    // 535 names and the end
    uint16_t nNames = 535;
    uint16_t nActions = 14692;
    const StatementGrammar* grammar = nullptr;  // T1: our statement grammar
    const void* stateTableA = nullptr;
    const void* stateTableB = nullptr;
    const void* actionTable = nullptr;
    const void* ruleTableA = nullptr;
    const void* t6 = nullptr;
    const void* t7 = nullptr;
    const void* t8 = nullptr;
    const unsigned char* keywordNames = nullptr;  // length byte + characters per name, then 0
    const uint16_t* nameOffsets = nullptr;        // byte offset of each name
    const uint16_t* nameOrder = nullptr;          // 1..535
    const unsigned char* nameClasses = nullptr;   // class byte per name
    const void* t13 = nullptr;
    const void* ruleTableB = nullptr;
    const void* t15 = nullptr;
    uint16_t header68[2] = {127, 63};
    uint16_t header72[2] = {654, 0};
    uint16_t nTokenClasses = 19;
};

constexpr int32_t kKeywordCount = 535;
constexpr int32_t kKeywordNameBytes = 3258;
constexpr int32_t kTokenClassCount = 19;

// ---------------------------------------------------------------------------
// Parse results.

// Result block of cmppars.
struct ParseResult {
    StatementNode* root = nullptr;  // the PROC statement's node, then the others
    int32_t status = 0;             // 0, or the step's return code (kLevelInputError)
};

// A programming statement, kept as text for the statement compiler.
struct ProgramStatement {
    ProgramStatement* next = nullptr;
    const char* text = nullptr;  // the statement without its ';', NUL-terminated
    int32_t line = 0;            // line and column of its first character
    int32_t column = 0;
};

// Second result area of cmppars: the programming statements.
struct ParseArea2 {
    int32_t nProgramStatements = 0;
    ProgramStatement* program = nullptr;
};

// Parses the current step's text (velix::platform::session().stepSource)
// with the grammar of `descriptor`.
//   descriptor: in; result: out (root node and status); area2: out;
//   one: in, 1; work: in-out, the statement compiler's work area (unused
//   until the compiler takes the programming statements).
// Returns result->status.  A syntax error is logged with its line, column
// and a caret line, and the status is kLevelInputError.
int32_t cmppars(const GrammarDescriptor* descriptor, ParseResult* result, ParseArea2* area2,
                int32_t one, CmpWork* work);

// ---------------------------------------------------------------------------
// Payloads.

// A list of names with a count.
struct NameArray {
    int32_t count = 0;
    NameRecord* names = nullptr;
};

// One option cell: given flag and value (or an 8-character word).
struct OptionCell {
    uint8_t given = 0;
    double value = 0.0;
    char name[8] = {};  // kName options
};

// A data-set option: the name as written and the handle the platform opened.
struct DataSetCell {
    HostDataSet* handle = nullptr;
    const char* name = nullptr;     // NUL-terminated, as written (quotes removed)
    const char* options = nullptr;  // text inside "(...)" after the name, or 0
    uint8_t quoted = 0;             // the name was a quoted path
    int32_t line = 0;
    int32_t column = 0;
};

// Indices of the variable lists.
enum VarListIndex : int8_t {
    kListVar = 0,
    kListPartial = 1,
    kListWeight = 2,
    kListFreq = 3,
    kListBy = 4,
    kListCount = 5
};

// Indices of the data-set cells, in record order.
enum DataSetCellIndex : int8_t {
    kCellData = 0,
    kCellInram = 1,
    kCellOutstat = 2,
    kCellOutram = 3,
    kCellInwgt = 4,
    kCellOutwgt = 5,
    kCellOutest = 6,
    kCellInest = 7,
    kDataSetCellCount = 8
};

constexpr int32_t kOptionCellCount = 35;

// Payload of the PROC statement ("VELIX   ") and of NLOPTIONS ("NLOPTION").
struct ProcOptionRecord {
    NameArray lists[kListCount];       // VAR, PARTIAL, WEIGHT, FREQ, BY
    const int32_t* listLines[kListCount] = {};  // the line of each name of lists[k] (messages), or 0
    int16_t notSorted = 0;             // BY ... NOTSORTED
    DataSetCell dataSets[kDataSetCellCount];
    OptionCell cells[kOptionCellCount];
};

// Term kinds of a LINEQS equation.
enum LineqsTermKind : int16_t {
    kTermNamed = 1,       // named coefficient, no start value
    kTermNamedStart = 2,  // named coefficient with start value in `coef`
    kTermFixed = 5,       // numeric coefficient
    kTermPlain = 6,       // no coefficient: fixed 1
};

constexpr int16_t kNameKindPrefix = -9;  // the coefficient name is a generated-name prefix

// Payload of LINEQS ("LINEQS  ").
struct LineqsPayload {
    int32_t nEquations = 0;
    NameRecord* dependents = nullptr;  // one per equation
    int32_t* termEnd = nullptr;        // cumulative end of each equation's terms
    int32_t nTerms = 0;
    int16_t* kind = nullptr;           // LineqsTermKind per term
    int16_t* sign = nullptr;           // -1 when the term was subtracted, else 1
    double* coef = nullptr;            // numeric coefficient or start value
    int16_t* nameKind = nullptr;       // kNameKindPrefix or 0
    int32_t* nameStart = nullptr;      // first entry of the term in `names`
    int32_t nNames = 0;
    NameRecord* names = nullptr;       // kinds 1-4: coefficient, variable; 5-6: variable
    int32_t* line = nullptr;           // line of each equation (messages)
    int32_t* termLine = nullptr;       // line and column of each term's variable (messages)
    int32_t* termColumn = nullptr;
};

// Item codes of STD and COV entry groups.
enum VarianceItemCode : int16_t {
    kItemNames = 1,       // a run of parameter names
    kItemPrefix = 9,      // a generated-name prefix (one name)
    kItemNameValues = 11, // values that belong to the names just given
    kItemValues = 12,     // a run of values
};

struct VarianceItem {
    int16_t code = 0;
    int32_t first = 0;  // first index into the group's names or values
    int32_t count = 0;
};

struct VarianceGroup {
    NameArray vars1;
    NameArray vars2;          // COV with "*": the second list
    int32_t nItems = 0;
    VarianceItem* items = nullptr;
    NameArray names;          // names of kItemNames and kItemPrefix items
    int32_t nValues = 0;
    double* values = nullptr; // values of kItemNameValues and kItemValues items
    int32_t line = 0;         // line and column of the group's first variable
    int32_t column = 0;
};

// Payload of STD ("STD     ") and COV ("COV     ").
struct VariancePayload {
    int32_t nGroups = 0;
    VarianceGroup* groups = nullptr;
};

// Payload of RAM ("RAM     "): one entry per item.
struct RamEntry {
    double matrix = 0.0;
    double row = 0.0;
    double column = 0.0;
    uint8_t hasValue = 0;
    double value = 0.0;
    int16_t nameKind = 0;  // 0 no name, 1 name, kNameKindPrefix prefix
    NameRecord name;
    int32_t line = 0;
};
struct RamPayload {
    int32_t nEntries = 0;
    RamEntry* entries = nullptr;
};

// Payload of VARNAMES ("VARNAMES"): per group a matrix given by number or
// name and its names.
struct VarnamesGroup {
    double matrixNumber = 0.0;  // 0 when given by name
    NameRecord matrixName;
    NameArray names;
    int32_t line = 0;           // line of the group's matrix (messages)
};
struct VarnamesPayload {
    int32_t nGroups = 0;
    VarnamesGroup* groups = nullptr;
};

// Payload of COSAN ("COSAN   "): matrix names in term order with their
// column counts, type codes and form codes, and the term ends.
struct CosanPayload {
    NameArray names;
    int16_t nColumns = 0;
    double* columns = nullptr;
    int16_t nTypes = 0;
    double* types = nullptr;   // MatrixTypeCode, 0 when not given
    int16_t nForms = 0;
    double* forms = nullptr;   // 0 none, 1 INV, 2 IMI
    int16_t nTerms = 0;
    int16_t* termEnds = nullptr;  // one past the last matrix of each term
    int32_t* nameLines = nullptr;    // line and column of each matrix name
    int32_t* nameColumns = nullptr;  // (messages)
};

// Position codes of a MATRIX entry group.
enum MatrixPositionCode : int16_t {
    kPosNone = 0,     // no position: the matrix from its first element
    kPosElement = 1,  // [i,j]: the diagonal run from (i,j) on
    kPosColumn = 2,   // [ ,j]
    kPosRow = 3,      // [i, ]
    kPosEachRow = 4,  // [ , ]: the items again in every row
};

struct MatrixGroup {
    int16_t position = kPosNone;
    double row = 0.0;
    double column = 0.0;
    int32_t nItems = 0;
    VarianceItem* items = nullptr;  // item codes as for STD and COV
    NameArray names;
    int32_t nValues = 0;
    double* values = nullptr;
    int32_t line = 0;  // line of the group's first token (messages)
};
// Payload of MATRIX ("MATRIX  ").
struct MatrixPayload {
    NameRecord name;
    int32_t nGroups = 0;
    MatrixGroup* groups = nullptr;
};

// Payload of FACTOR ("FACTOR  "): node flag byte 12 carries 0x10 (no unique
// part, COMPONENT), 0x20 (HEYWOOD) and 0x40.
struct FactorPayload {
    uint8_t hasFactors = 0;
    double nFactors = 0.0;
    uint8_t hasSecond = 0;
    double second = 0.0;
    int32_t line = 0;    // line and column of the number of factors
    int32_t column = 0;  // (messages)
};

// Item kinds of a PARAMETERS statement.
struct ParameterItem {
    int16_t kind = 0;   // -1 names, -2 numbers
    int16_t first = 0;
    int16_t end = 0;    // one past the last index
};
// Payload of PARAMETERS ("PARAMETE") and PARMS.
struct ParametersPayload {
    NameArray names;
    int32_t nValues = 0;
    double* values = nullptr;
    int32_t nItems = 0;
    ParameterItem* items = nullptr;
};

// Payload of STRUCTEQ ("STRUCTEQ").
struct NameListPayload {
    NameArray names;
};

// A bound entry: [lower rel] names [rel upper].
struct BoundEntry {
    uint8_t hasLower = 0;
    double lower = 0.0;
    uint8_t hasUpper = 0;
    double upper = 0.0;
    NameArray names;
    int32_t line = 0;
    int32_t* nameLines = nullptr;  // the line of each name (messages), or 0
};
// Payload of BOUNDS ("BOUNDS  ").
struct BoundsPayload {
    int32_t nEntries = 0;
    BoundEntry* entries = nullptr;
};

// Relation codes of LINCON and NLINCON.
enum RelationCode : int16_t {
    kRelEq = 0,
    kRelGe = 1,
    kRelLe = -1,
};

// One linear constraint sum(coef * name) rel rhs, constants moved to the
// right-hand side.
struct LinearConstraint {
    int32_t nTerms = 0;
    double* coefs = nullptr;
    NameRecord* names = nullptr;
    int16_t relation = kRelEq;
    double rhs = 0.0;
    int32_t line = 0;
    int32_t* nameLines = nullptr;  // the line of each name (messages), or 0
};
// Payload of LINCON ("LINCON  ").
struct LinconPayload {
    int32_t nConstraints = 0;
    LinearConstraint* constraints = nullptr;
};

// One nonlinear constraint: [lower <=] name [<= upper], name >= v, name = v.
struct NonlinearConstraint {
    NameRecord name;
    uint8_t hasLower = 0;
    double lower = 0.0;
    uint8_t hasUpper = 0;
    double upper = 0.0;
    int32_t line = 0;  // the line of the name (messages)
};
// Payload of NLINCON ("NLINCON ").
struct NlinconPayload {
    int32_t nConstraints = 0;
    NonlinearConstraint* constraints = nullptr;
};

// Payload of PROFILE ("PROFILE "): names, confidence levels after "/", and
// its option cells.
struct ProfilePayload {
    NameArray names;
    int32_t nLevels = 0;
    double* levels = nullptr;
    OptionCell cells[4];  // three double options, then the integer count option
};
