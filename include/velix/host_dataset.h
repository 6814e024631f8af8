// Data-set services of the host: BY groups, data-set information, variable
// lookup, the binding of variables to the module's cells with the typed get
// and put of one observation, and the host's moment accumulation.  Included
// by velix/host.h; the platform implements them (platform/dataset.cpp,
// platform/variables.cpp, platform/moments.cpp).
//
// Conventions of these services:
//   - a data set is a HostDataSet handle; a null handle makes every service
//     fail (a nonzero status, or 0 "no group / no observation"), never crash;
//   - variable numbers are 1-based positions in the data set, 0 = none;
//   - character values travel as blank-padded fields of a given length;
//   - missing numeric values are the host's missing doubles (velix/host.h).
#pragma once

#include <cstdint>

struct HostDataSet;
struct StatementNode;

// A variable binding: the list of (variable, cell) pairs of one data set,
// made by xvgeti/xvgetd (input) or xvputi/xvputd (output).
struct HostBinding;

// ---------------------------------------------------------------------------
// Records the module and the host exchange.

// The TYPEs of DATA= that hold moments or estimates rather than raw data
// (observations the step accumulates): the procedure reads the data set
// by its kind, and the host keeps an output from replacing raw data.
inline constexpr const char* kMomentDataTypes[] = {"SYMATRIX", "CORR", "COV", "UCORR", "UCOV",
                                                   "SSCP",     "FACTOR", "ACE", "EST"};

// The description of a data set that xoinfo kind 1 fills.
struct DataSetInfo {
    char name[32] = {};      // the data set's name, blank-padded
    char type[8] = {};       // TYPE, upper case, blank-padded; blanks when none
    int16_t labelLength = 0; // significant characters of label
    char label[256] = {};    // the data set's label, blank-padded
    int32_t nVariables = 0;  // all variables
    int32_t nNumeric = 0;    // numeric variables
    int32_t nCharacter = 0;  // character variables
    int64_t nObservations = 0;
    int32_t nByVariables = 0;    // BY variables in force, 0 when none
};

// A data-set label: xoinfo kind 12 fills it, kind 22 sets it (kinds 14 and
// 68 fill one with other texts).
struct DataSetLabel {
    int16_t length = 0;      // significant characters of text
    char text[256] = {};
};

// The description of one variable: xvname hands out the host's own, xvputd
// reads the module's (after xvnamei).
struct HostVariableDescriptor {
    const char* name = nullptr;  // not NUL-terminated
    int16_t nameLength = 0;
    const char* label = nullptr; // not NUL-terminated; may be null when labelLength is 0
    int16_t labelLength = 0;
    uint8_t type = 1;            // 1 numeric, 2 character
    int32_t length = 8;          // bytes of a value: 8 for numerics
    int32_t storedLength = 8;    // always equal to length
    char attributeName[2][8] = {};  // format-like attributes the host carries along
    int16_t attributeWord[2] = {};
};

constexpr uint8_t kVarNumeric = 1;
constexpr uint8_t kVarCharacter = 2;

// The data-set slot of one role (the module zeroes it and sets handle).  In
// this host every data-set object reads BY-aware: readers take observations
// with xybyget and copy them into their cells with xyvget; writers hand a
// row over with xyvput.  The slot therefore carries no separate row object:
// a slot whose handle is 0 is at its end at once.
struct DataSetSlot {
    HostDataSet* handle = nullptr;  // the role's data set, 0 when not given
    uint32_t flags = 0;             // kSlotReading while observations are read
    int32_t status = 0;             // status of the last row operation
};

constexpr uint32_t kSlotReading = 0x40;

// The most variables a data set may have: variable numbers and the counts
// of the variable lists are 16-bit, so a data set with more is refused
// when it is opened (a wider number would wrap onto other columns).
constexpr int32_t kHostMostVariables = 32767;

// A list of variables: count entries of 1-based variable numbers.
struct VariableList {
    int16_t count = 0;
    int16_t* numbers = nullptr;
};

// The host's variable-list record of a step, by entry number.  The module
// resolves the names of its statements to variable numbers of DATA=
// (xvfind) and hands the record to xvdflst, which completes it and keeps a
// copy with DATA=; the services that take list entry numbers (zacorr)
// read that copy.
enum HostListEntry : int {
    kHostListBy = 0,       // BY variables of DATA=
    kHostListVar = 1,      // analysis variables
    kHostListPartial = 2,  // partial variables
    kHostListWeight = 5,   // the weight variable (first entry)
    kHostListFreq = 6,     // the frequency variable (first entry)
    kHostListRead = 9,     // variables read: the analysis then the partial ones (made by xvdflst)
    kHostListCount = 12
};

struct VariableListRecord {
    VariableList entry[kHostListCount];
};

// Items of xoinfo.
enum DataSetInfoKind : int32_t {
    kInfoDescription = 1,   // out: DataSetInfo
    kInfoName = 11,         // out: char[8], the name blank-padded (truncated to 8)
    kInfoLabel = 12,        // out: DataSetLabel
    kInfoFullName = 14,     // out: DataSetLabel, the name as the program gave it (a path in quotes whole)
    kInfoObsNumbers = 17,   // out: int32, 1 when observation numbers are available
    kInfoObsNumber = 18,    // out: int32, the data-set number of the last observation read
    kInfoSetType = 21,      // in: char[8], the TYPE of an output data set
    kInfoSetLabel = 22,     // in: DataSetLabel, the label of an output data set
    kInfoReadable = 23,     // out: int32, 1 for a data set open for input
    kInfoGroupSize = 67,    // out: int32, observations of the current BY group
    kInfoByValues = 68      // out: DataSetLabel, the BY values of the current group ("school=1");
                            // length 0 without BY variables or outside the groups
};

// Statuses of the data-set services (0 is success).
constexpr int32_t kDsBadHandle = -1;      // null or closed data set or binding
constexpr int32_t kDsBadArgument = -2;    // an unknown kind, code or variable number
constexpr int32_t kDsWrongType = -3;      // numeric variable bound as character or back
constexpr int32_t kDsNoObservation = -4;  // no current observation to get
constexpr int32_t kDsReadOnly = -5;       // the operation needs an output data set
// xvfind's result when the variable does not exist (bits of 0x803FFFFF set).
constexpr int32_t kDsVariableNotFound = static_cast<int32_t>(0x80000001u);

// Rewind codes of xbyrwnd.
constexpr int32_t kRewindGroup = 66;  // 'B': to the start of the current BY group
constexpr int32_t kRewindFile = 70;   // 'F': before the first BY group

// ---------------------------------------------------------------------------
// BY groups.

// Moves to the next BY group: 1 while there is one, 0 after the last.  A
// DATA= data set whose BY values are out of order (without NOTSORTED) logs
// an error and ends the step with kLevelBadVariables.
int32_t xbynext(HostDataSet* data);
// Puts `second` on the BY group of `first` whose BY values equal those of
// the current group of `first`: 0 in step, 1 no such group (second then
// delivers no observation), 2 fatal (second lacks the BY variables or first
// is on no group).
int32_t xbysync(HostDataSet* first, HostDataSet* second);
// Rewinds (kRewindGroup or kRewindFile); 0 or kDsBadArgument.
int32_t xbyrwnd(HostDataSet* data, int32_t code);
// 0 when `other` carries every BY variable of `data` with its type; nonzero otherwise.
int32_t xbylist(HostDataSet* data, HostDataSet* other);
// Groups an input data set by its first `count` variables, as BY variables
// in the order the data set holds them (a data set that a step with BY
// groups wrote, read by a step without BY); the row labels of a file whose
// first column has no name are not among them.  0, kDsBadHandle, or
// kDsBadArgument for a count beyond its variables.
int32_t xbyvars(HostDataSet* data, int32_t count);
// Delivers the next observation of the current BY group of the slot's data
// set: 1 when one was delivered, 0 at the end of the group (or no handle).
// A stop the user asked for ends the step here (kLevelInterrupted), so that
// every pass over the observations acts on it within an observation.
int32_t xybyget(DataSetSlot* slot);

// ---------------------------------------------------------------------------
// Information and variables.

// Fills or sets one item (DataSetInfoKind); 0 or a status.
int32_t xoinfo(HostDataSet* data, int32_t kind, void* item);
// Finds a variable by name (name[length], case folded, trailing blanks
// ignored): 0 and *number set, or kDsVariableNotFound and *number := 0.
int32_t xvfind(HostDataSet* data, const char* name, int32_t length, int16_t* number, int32_t zero);
// *out := the host's descriptor of variable `number` (valid for the step); 0 or a status.
int32_t xvname(HostDataSet* data, int32_t number, const HostVariableDescriptor** out);
// Initialises a descriptor: no name or label, numeric, length 8, attributes clear.
void xvnamei(HostVariableDescriptor* descriptor);
// Why variable `number` of an input data set is character when its file
// gives no type for it: *text := the first value among its numbers that is
// not one, and its line ("line 38 of hs.csv holds n/a"; NUL-terminated,
// valid for the step), or "" when nothing made it so.  0 or a status.
int32_t xvcause(HostDataSet* data, int32_t number, const char** text);
// Defines the variable lists of the step on DATA= (in-out: lists).  An empty
// analysis list becomes every numeric variable that no other list names
// (with, for raw data, each that is numbers but for values beyond the
// range of doubles, which zacorr then refuses by name; each left out that
// holds numbers but words made character is named in a NOTE);
// kHostListRead becomes the analysis then the partial variables; the
// completed record is kept with DATA= (its arrays live until the step
// ends).  0, or kDsBadArgument for a number that names no variable.
int32_t xvdflst(HostDataSet* data, VariableListRecord* lists);
// Selects the bound variables for reading; 0 or a status.
int32_t xvsele(HostDataSet* data);

// ---------------------------------------------------------------------------
// Input bindings: cells receive the values of the current observation.

// Begins a read list of `count` variables; *binding receives it.
int32_t xvgeti(HostDataSet* data, int32_t count, int32_t zero, HostBinding** binding);
// Binds variable `number` to `cell`: typeCode 99 ('c') a character field of
// `length` bytes, any other code a double.  kDsWrongType when the variable's
// type differs, kDsBadArgument when the number names no variable.
int32_t xvgetd(HostBinding* binding, int32_t number, int32_t zero, void* cell, int32_t length,
               int32_t typeCode, int32_t zero2, int32_t zero3);
int32_t xvgete(HostBinding* binding);  // ends the list
// Releases the list: what it holds is freed and the handle is void after it.
int32_t xvgett(HostBinding* binding);
// Copies the current observation (the last xybyget) into the bound cells.
int32_t xyvget(HostBinding* binding, int32_t zero);

// ---------------------------------------------------------------------------
// Output bindings: a row is written from the bound cells.

// Begins the output list of an output data set; *binding receives it.  The
// data set is defined afresh: the lists begun before are released.
int32_t xvputi(HostDataSet* data, int32_t count, int32_t zero, HostBinding** binding);
// Adds the BY variables of `data` (numbers[count]); each row takes their
// values from the current BY group of `data`.
int32_t xvputcv(HostBinding* binding, HostDataSet* data, const int16_t* numbers, int32_t count,
                int32_t zero);
// Defines one variable from `descriptor`, bound to `cell`: a character
// variable reads charLength bytes (the descriptor's length when 0), a
// numeric one a double.
int32_t xvputd(HostBinding* binding, const HostVariableDescriptor* descriptor, int32_t zero,
               void* cell, int32_t charLength, int32_t zero2, int32_t zero3);
int32_t xvpute(HostBinding* binding);  // ends the list
// Appends one observation made from the bound cells.
int32_t xyvput(HostBinding* binding, int32_t zero);

// Reports a failed row operation of a slot (severity 1 read, 4 put) in the log.
void xofprc(DataSetSlot* slot, int32_t status, int32_t severity);

// ---------------------------------------------------------------------------
// The host's moment accumulation over the current BY group of `data`.
//
// The variable lists that xvdflst defined on `data` give the variables read
// (entry readList, n of them), the weight (weightList) and the frequency
// (freqList) variable; stmtList is the step's statement list (not read).  An observation counts with frequency floor(FREQ)
// and weight WEIGHT (1 when the variable is absent) and is skipped when an
// analysis value is missing or the frequency or the weight is not above 0.
// Out: means[n] (weighted), moments[n(n+1)/2] the PackedSym correlations
// of the cross-products about the means (momentOrigin 0) or about zero
// (otherwise), stdDevs[n] the square roots of the diagonal divided by the
// divisor of vardefKind (0.0 when the divisor is 0), *divisor,
// *sumWeights (sum of weight times frequency), *nObs (sum of frequencies).
// work is not used (the host keeps its own).  Result: 0, kLevelNoMoments when no
// observation could be used, kLevelBadVariables when the lists are not defined or a
// variable is character.
int32_t zacorr(HostDataSet* data, const StatementNode* stmtList, int32_t readList,
               int32_t weightList, int32_t freqList, int32_t momentOrigin, double* moments,
               double* means, double* stdDevs, double* work, const char* vardefKind,
               double* divisor, double* sumWeights, double* nObs);
