// The host interface: every service the module calls on its host, and the
// host records the module reads.  The module (host/, procedure/, numerics/,
// optimizer/) reaches the host only through these declarations; platform/
// implements them.
//
// Conventions of the interface:
//   - statuses are 32-bit signed integers, 0 for success unless a service
//     says otherwise;
//   - a "handle" is a pointer to an opaque host record;
//   - texts are (address, length) pairs of blank-padded fields unless a
//     service says NUL-terminated;
//   - printf-like services take the host's format dialect (see
//     platform/format.h): %i %d (int32), %u %x (uint32), %ld (int64),
//     %f %g %e with the usual widths (double), %s (NUL-terminated text),
//     %.*s (length, text), %c (char), %k (HostText*), %n (line break),
//     %Nz (severity marker: 1 ERROR, 2 WARNING, 3 NOTE).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "velix/codes.h"
#include "velix/host_compiler.h"

// ---------------------------------------------------------------------------
// Missing values: doubles whose most significant 16 bits are all ones.

// The missing value the host uses for filling (element 46 of the host's
// table of doubles).  Defined by the platform.
double host_missing_value();

// Special missing value for code c in 0..27 (0 is ".", 1.."_", 2.. ".A"...):
// the host's encoding of ".", "._" and ".A" to ".Z".
double host_special_missing(int code);

// True when x is a missing value of any code.  Inline so that the platform
// and the module (wzmis) share the one test of the marker bits.
constexpr bool host_is_missing(double x) {
    return (std::bit_cast<uint64_t>(x) >> 48) == 0xFFFFu;
}

// ---------------------------------------------------------------------------
// Objects, classes and allocators.

struct HostObject;
struct HostClass;
struct KyrArg;

// A method function: (object, entry datum, descriptor datum, entry count,
// argument array); 0 or positive for success, negative for failure.
using HostMethodFn = int32_t (*)(HostObject* object, void* entryDatum, void* descriptorDatum,
                                 int32_t count, KyrArg* args);

// A close function: (object, close datum, operation, count, args).
using HostCloseFn = int32_t (*)(HostObject* object, void* closeDatum, int32_t operation,
                                int32_t count, KyrArg* args);

struct HostMethodDescriptor {
    HostMethodFn function = nullptr;  // called by wobmth
    void* datum = nullptr;            // the descriptor datum
};

// A node of a bucket chain of a class.
struct HostMethodEntry {
    HostMethodEntry* next = nullptr;  // 0 ends the chain
    void* datum = nullptr;            // the entry datum
    HostMethodDescriptor* descriptor = nullptr;
    uint32_t method = 0;  // the method number
};

struct HostCloseDescriptor {
    HostCloseFn function = nullptr;
};

struct HostClass {
    HostClass* parent = nullptr;          // 0 at the root
    HostMethodEntry** buckets = nullptr;  // bucketMask + 1 chain heads
    HostCloseDescriptor* closeDescriptor = nullptr;
    void* closeDatum = nullptr;
    uint32_t bucketMask = 0;  // method m lives in bucket (m AND mask)
};

// Every host object begins with the address of its class.
struct HostObject {
    HostClass* cls = nullptr;
};

// An allocator object: allocate and free.  Every memory pool is one.
struct HostAllocator {
    void* (*allocate)(HostAllocator* self, size_t bytes, int32_t tag) = nullptr;
    void (*release)(HostAllocator* self, void* block, int32_t zero, int32_t four) = nullptr;
};

// Opaque text handle (from kyrmsg, kyrmsgs, kyrtxt, kyrtxts).
struct HostText;

// ---------------------------------------------------------------------------
// KyrArg: one entry of an object-method argument list.

enum KyrValueType : uint16_t {
    kKyrChar = 1,        // one character in `character`
    kKyrInt = 3,         // signed 32-bit integer in `word`
    kKyrDouble = 5,      // a double in `number`
    kKyrNames = 6,       // address of an array of fixed-width names
    kKyrRowLabels = 7,   // address of an array of row labels (NameRecords)
    kKyrDoubles = 11,    // address of an array of doubles
    kKyrObject = 12,     // object handle in `object` (written back on create)
    kKyrWord2 = 13,      // a 32-bit word in `word2`
    kKyrCell = 17,       // address of a caller's cell read at each row
    kKyrCounted = 20,    // counted string: `word` the length, `address` the characters
    kKyrTextHandle = 66  // text handle in `text`
};

// Column kinds of a data table (entry 103 of a column definition): what the
// column's cell holds.  The three integer kinds read the same signed 32-bit
// cell and the two character kinds the same characters; the output records
// the kind a table declared, so each table keeps its own.
enum KyrColumnKind : int32_t {
    kColumnShort = 1,     // an integer (the optimizer's iteration counters)
    kColumnInt = 3,       // an integer
    kColumnUnsigned = 4,  // an integer (the optimizer's numbered rows)
    kColumnDouble = 5,    // a double
    kColumnName = 6,      // characters: a name
    kColumnChars = 20,    // fixed-width characters (width entry 289)
    kColumnText = 66,     // a text handle (HostText*)
};

struct KyrArg {
    uint16_t attribute = 0;  // what the entry says
    uint16_t type = 0;       // KyrValueType
    uint32_t unset = 0;      // never written by the module
    int32_t word = 0;        // value word: integer, or counted-string length
    uint32_t word2 = 0;      // second value word (type 13)
    char character = 0;      // type 1
    double number = 0.0;     // type 5
    const void* address = nullptr;  // types 6, 7, 11, 17, 20
    HostObject* object = nullptr;   // type 12
    HostText* text = nullptr;       // type 66
};

// Method numbers of the output manager's objects (anchor, manager, group,
// data table, factoid, matrix).
enum KyrMethod : uint32_t {
    kKyrMethodCreate = 147,           // anchor, manager: create an object
    kKyrMethodFactoidEntry = 164,     // factoid: one labelled value
    kKyrMethodEndColumns = 298,       // data: end the column definitions
    kKyrMethodEndRows = 299,          // table: end the rows
    kKyrMethodOpenGroup = 300,        // manager: open a group of tables
    kKyrMethodDynamicVariable = 316,  // table: set a template variable
    kKyrMethodAddRow = 329,           // data: add a row from the cells
    kKyrMethodColumn = 338,           // data: define a column
    kKyrMethodNote = 358,             // manager: a note line
    kKyrMethodPublishMatrix = 388,    // manager, matrix: publish a matrix table
    kKyrMethodBind = 422,             // manager: bind a table to a template
    kKyrMethodDeliver = 428,          // manager: deliver an output
    kKyrMethodCompileState = 431,     // manager: the step is compiling or not
    kKyrMethodBeginOutput = 435,      // manager: begin an output (before a matrix table)
    kKyrMethodTitle = 439,            // manager: a procedure or section title
    kKyrMethodMatrixData = 462,       // matrix: one piece of the matrix
};

// Attribute codes of the entries of those methods.  The display switches
// (270, 272, 278, 280, 366, 371, 376, 393, 2558) are passed as the host's
// templates ask; what they do is the host's.
enum KyrAttribute : uint16_t {
    kAttrPositional = 0,          // an entry known by its place in the list
    kAttrColumnKind = 103,        // a column's kind (a KyrColumnKind)
    kAttrStorage = 105,           // a matrix's storage code ("sc", "rb", ...)
    kAttrName = 138,              // the name of a table, column or group
    kAttrFamily = 143,            // class family of a new object ("kyr")
    kAttrHandle = 144,            // the new object (out)
    kAttrClass = 146,             // class name of a new object ("manager", "data", ...)
    kAttrParent = 148,            // -1: no parent object
    kAttrDescription = 267,       // a matrix's description
    kAttrDisplayDecimals = 270,   // a value's decimals
    kAttrDisplayWidth = 272,      // a value's display width
    kAttrJustify = 273,           // a note's justification, 'l' or 'c'
    kAttrLabelWidth = 278,        // a matrix's label style
    kAttrSwitch280 = 280,         // display switch of notes and matrices
    kAttrValueCell = 285,         // a column's cell, read at each row
    kAttrValue = 287,             // a value (factoid entry, template variable)
    kAttrWidth = 289,             // a text column's width
    kAttrLabel = 296,             // the title or label text
    kAttrSecondTitle = 310,       // a matrix's second title
    kAttrVariableName = 311,      // a template variable's name
    kAttrTemplatePath = 339,      // a template path, or a column's template
    kAttrFormatName = 340,        // a value's display format by name ("pvalue6.4")
    kAttrIndirectCell = 343,      // a cell that holds the value's address
    kAttrSwitch366 = 366,         // display switch of matrices
    kAttrSwitch371 = 371,         // display switch of notes and matrices
    kAttrEntryStyle = 376,        // a factoid entry's display style
    kAttrMessageGroup = 383,      // a manager's message group
    kAttrValues = 389,            // a matrix's values
    kAttrRows = 390,              // a matrix's rows
    kAttrColumns = 391,           // a matrix's columns
    kAttrPieceStyle = 393,        // a matrix piece's display style
    kAttrColumnNames = 399,       // fixed-width column names ...
    kAttrColumnNameWidth = 400,   // ... and their width
    kAttrColumnLabels = 402,      // column labels (NameRecords)
    kAttrRowNames = 409,          // fixed-width row names ...
    kAttrRowNameWidth = 410,      // ... and their width
    kAttrRowLabels = 412,         // row labels (NameRecords)
    kAttrCompiling = 433,         // 1 while the step compiles
    kAttrGroupWord = 435,         // a group's option word
    kAttrTitleKind = 440,         // 1 procedure title, 2 section title
    kAttrCellTexts = 464,         // a matrix piece's cell texts
    kAttrPieceLabel = 471,        // a matrix piece's label
    kAttrText = 577,              // a note's or title's text
    kAttrLineCount = 619,         // a note's count of lines
    kAttrProcedureTitle = 2558,   // 1 on the procedure title
};

// Entry builders (the module fills arrays of these on its stack).
inline KyrArg kyr_int(uint16_t attr, int32_t v) {
    KyrArg a; a.attribute = attr; a.type = kKyrInt; a.word = v; return a;
}
inline KyrArg kyr_double(uint16_t attr, double v) {
    KyrArg a; a.attribute = attr; a.type = kKyrDouble; a.number = v; return a;
}
inline KyrArg kyr_char(uint16_t attr, char c) {
    KyrArg a; a.attribute = attr; a.type = kKyrChar; a.character = c; return a;
}
inline KyrArg kyr_counted(uint16_t attr, const char* s, int32_t len) {
    KyrArg a; a.attribute = attr; a.type = kKyrCounted; a.word = len; a.address = s; return a;
}
inline KyrArg kyr_object(uint16_t attr, HostObject* o) {
    KyrArg a; a.attribute = attr; a.type = kKyrObject; a.object = o; return a;
}
inline KyrArg kyr_word2(uint16_t attr, uint32_t w) {
    KyrArg a; a.attribute = attr; a.type = kKyrWord2; a.word2 = w; return a;
}
inline KyrArg kyr_text(uint16_t attr, HostText* t) {
    KyrArg a; a.attribute = attr; a.type = kKyrTextHandle; a.text = t; return a;
}
inline KyrArg kyr_address(uint16_t attr, uint16_t type, const void* p) {
    KyrArg a; a.attribute = attr; a.type = type; a.address = p; return a;
}

// ---------------------------------------------------------------------------
// The host control block, reached through the first anchor.

struct PrintBlock;

// The trap word of a step while no trapped exception awaits its handler's
// verdict; while one does, the word is this plus the trap's number (> 0).
constexpr int32_t kTrapWordIdle = -780;

// The host's per-step block.
struct HostStepBlock {
    PrintBlock* printBlock = nullptr;       // made by xinit
    HostAllocator* messagePool = nullptr;   // the saved-message pool, 0 when none
    void* printFile = nullptr;              // the step's print file
    int32_t trapWord = kTrapWordIdle;       // the trapped exception in hand (see kTrapWordIdle)
};

// The host's record of a trapped floating-point exception: its kind is the
// fifth word (1 domain, 2 singular, 3 and 12 overflow, 4 and 11 underflow,
// 5 and 6 loss of precision, 13 division by 0, 14 and 15 a bad floating
// number).
struct HostMathException {
    int32_t words[4] = {};
    int32_t kind = 0;
};

struct HostControlBlock {
    HostStepBlock* step = nullptr;            // the per-step block
    HostAllocator* stepAllocator = nullptr;   // allocations that live for the step
    const unsigned char* collate = nullptr;   // 256 bytes, folds case
    const uint16_t* charClass = nullptr;      // 256 entries: 0x100 white space; 1|2|4 letter or digit
    const double* doubles = nullptr;          // element 46: the missing value used for filling
    const unsigned char* translate[5] = {};   // translation tables; kind 2 is upper case
    int32_t doubleByte = 0;                   // double-byte character set in use
};

constexpr uint16_t kCharWhite = 0x100;
constexpr uint16_t kCharAlnum = 0x7;

// A name list made by the statement parser: a chain of blocks, each holding
// the names with indices (previous block's highestIndex + 1) .. highestIndex;
// the first block starts at index 0.  `names` is the packed sequence of the
// block's names, each a length byte followed by its characters.
struct NameList {
    const NameList* next = nullptr;     // 0 ends the chain
    int16_t highestIndex = -1;          // highest name index in this block
    const unsigned char* names = nullptr;
};

// ---------------------------------------------------------------------------
// Module entry points the host calls (defined by the module).

struct ImageInfo;
const ImageInfo* mcn_main(HostControlBlock* gcb, void* pidb);
int32_t zavvelix();
// The handler of trapped floating-point exceptions: logs the kind and
// answers -1 (stop) or 0 (underflow: go on); while the step's trap word
// holds a trap it hands the answer back through wtresum.
int32_t znlpmer(const HostMathException* e);

// The anchors stored by mcn_main.
extern HostControlBlock* v_global_gcb_anchor;
extern void* v_global_pidb_anchor;

// ---------------------------------------------------------------------------
// Supervisor services.

// Ends the step with the code; never returns (the platform unwinds to its
// step runner).
[[noreturn]] void xexit(int32_t code, int32_t zero);

// Resumes the host's handling of the trapped exception `trap` (the step's
// trap word less kTrapWordIdle) with the handler's verdict: 0 goes on with
// the interrupted computation; any other result ends the step with it as
// the step's host status.  The trap word returns to idle either way.
void wtresum(int32_t trap, int32_t result);

// Memory pools.  xmpoolc returns a new pool (an allocator) or 0.
HostAllocator* xmpoolc(int64_t estimate, int32_t increment, int32_t tag, int32_t kind = 4);
void xmpoold(HostAllocator* pool);      // deletes the pool and its blocks; 0 is a no-op
int64_t xmsize(HostAllocator* pool);    // bytes one allocation may take
int32_t xmemdef(const void* lastBlock); // 0 when the pool's allocations succeeded
void xmemmsg(int64_t sizeOrCode);       // logs the memory-shortage message
// The memory-shortage code xmemdef returns (also a step return code);
// xmemmsg takes it plus 20000 to tell it from a byte count.
constexpr int32_t kMemoryShortage = kLevelNoMemory;

// The saved-message pool of the step (an arena allocator).  zprlzmi makes it
// (initial size in bytes, -1 for the default), 0 on failure; zprlzmr empties
// it, keeping the pool; zprlzme frees it.  Both return 0, nonzero for a
// handle that is not a live pool.
HostAllocator* zprlzmi(int32_t zero, int64_t initialSize);
int32_t zprlzmr(HostAllocator* pool, int32_t zero1, int32_t zero2, int32_t flags7168);
int32_t zprlzme(HostAllocator* pool);

// Host options by name.  xoptcgt copies the option's text into buf
// (NUL-terminated, at most size-1 characters) and returns its length, or -1
// when the option does not exist.
int32_t xoptcgt(const char* name, char* buf, int32_t size);
// xoptngt: a numeric option, 0 when found.
int32_t xoptngt(const char* name, double* value);
// xoptigt: an integer option's value, 0 when it is absent or not a number.
int32_t xoptigt(const char* name);
// xyrcgef: host text item (4142 the DEBUG option) into a 1024-byte buffer;
// returns the length, or -1 on failure.
int32_t xyrcgef(int32_t item, char* buffer1024);

// Time in seconds.
double wzdttme();

// Nonzero when the user has asked the run to stop (an interrupt,
// termination or hang-up signal).  The module asks at its safe points (each
// BY group, each optimizer iteration) and then ends the step with
// xexit(kLevelInterrupted, 0); the host keeps the earlier outputs as they
// were.
int32_t xattn();

// ---------------------------------------------------------------------------
// Messages and print lines.

void xpmlog(int32_t group, int32_t number, ...);   // numbered message to the log
void xpslog(const char* format, ...);              // printf-style line(s) to the log
void xpsout(const char* format, ...);              // printf-style line(s) to the listing
int32_t xpsstr(char* buffer, int32_t length, const char* format, ...);
// xpmstr: the message text into a blank-padded field of `width` characters
// (-1-n: n characters and a NUL); result the characters copied.
int32_t xpmstr(char* buffer, int32_t width, int32_t group, int32_t number);
void xprrlog(int32_t zero, int32_t status);        // the host's text for a failed status
// xpmplace: logs under the message just logged where in the step's
// statements it applies: "at line L, column C:" (line of the program file),
// the source line and a caret under the column.
//   line: in, the line in the step's text as the statement payloads hold it
//         (1-based; 0 or less logs nothing);
//   name: in, the offending name or 0; looked for as a word on that line
//         (case ignored), its first occurrence gives the column; when it is
//         not there only the line is named.
void xpmplace(int32_t line, const char* name);
// xpmplacecol: the same for a place whose column is known (a name that
// occurs more than once on its line): column in, 1-based, 0 or less names
// only the line.
void xpmplacecol(int32_t line, int32_t column);
// An "internal error:" line with the text (the host adds the prefix) and,
// when code is not 0, the code.  The module passes code 0 and ends the step
// through internal_error (host/internal_error.h).
void xebug(const char* text, int32_t code);
// The text of a message: 0 when it exists (text and length out).
int32_t wkread(int32_t group, int32_t number, const char** text, int32_t* length);

// Print set-up.
int32_t xpopen(void* printFile);
// The print-line description of the listing.  PrintBlock::outputDescription
// holds one.
struct PrintLineDescription {
    int32_t lineWidth = 0;   // characters per listing line (LINESIZE)
    int32_t pageLength = 0;  // lines per page (PAGESIZE)
    int32_t linesLeft = 0;   // lines left on the current page
    int32_t centre = 0;      // centring flag, set by title printers while they print
};
// xpoutl copies the current description into `outputDescription` (a
// PrintLineDescription) when it is not 0, and returns the host's own current
// description, which callers may change for the duration of a print.
PrintLineDescription* xpoutl(void* printFile, void* outputDescription);
// The step's print block, made by xinit from the step allocator and hung in
// the per-step block.  The statement parser later reuses the same block as
// its result area (the procedure clears it first), so these fields are valid
// only until the statements are parsed.
struct PrintBlock {
    int32_t logLineSize = 0;      // from xplogl
    int32_t printLineSize = 0;    // from xpprnl
    PrintLineDescription outputDescription;  // filled by xpoutl
    int32_t messageLineSize = 0;  // from xpmsgl
    uint8_t synTrace = 0;         // 1 when the DEBUG option contains "SYN"
    uint8_t semTrace = 0;         // 1 when the DEBUG option contains "SEM"
};
int32_t xpprnl(int32_t zero);    // listing line size
int32_t xplogl(int32_t zero);    // log line size
int32_t xpmsgl(int32_t zero);    // message line size
int32_t xppagel(int32_t zero);   // listing page size
int32_t xpselec(int32_t zero, int32_t destination);  // -1 log, 0 listing, -2 default
int32_t xpopset(int32_t zero, int32_t option, int32_t value);
void xppage(int32_t zero);
void xpskip(int32_t lines);      // that many empty lines on the current destination
void xpoflsh();

// Titles: line k (1..10), 0 when it is not set.
const char* xtitle(int32_t line);

// ---------------------------------------------------------------------------
// Output-delivery text handles and the object-manager anchor.

HostText* kyrmsg(int32_t group, int32_t number);
HostText* kyrmsgs(int32_t group, int32_t number, ...);
HostText* kyrtxt(const char* text, int32_t length);          // length -1: NUL-terminated
HostText* kyrtxts(const char* format, int32_t length, ...);  // length -1: NUL-terminated
// The characters of a text handle (for tests and the module's own use).
const char* kyrtext_chars(const HostText* text, int32_t* length);

// Prepares the object-manager anchor: *anchor receives the object on which
// method 147 creates the output manager.
int32_t xobinit(HostObject** anchor, int32_t zero);

// ---------------------------------------------------------------------------
// Scratch (utility) files: growable byte files, positioned by byte.

struct HostFile;

struct ScratchFileRequest {
    uint32_t attributeWord = 0;  // kFileSequential or kFileDirect
};
// The attribute words of a utility file: read and written in sequence, or
// positioned at will.
constexpr uint32_t kFileSequential = 0x84000008u;
constexpr uint32_t kFileDirect = 0x82000008u;

int32_t xcopen(HostFile** handle, const ScratchFileRequest* request);
int32_t xcpoint(HostFile* file, int64_t position);
int32_t xcread(HostFile* file, void* buffer, int64_t bytes);   // past the end: failure
int32_t xcwrite(HostFile* file, const void* buffer, int64_t bytes);
int32_t xcclose(HostFile* file, int32_t one);

// ---------------------------------------------------------------------------
// Installation of host components.

int32_t wiinstl(int32_t id, const char* name8, int32_t one);

// ---------------------------------------------------------------------------
// Generated names: prefix and decimal number in a blank-padded field.

int32_t znamfix(int32_t mode, const char* prefix, int32_t prefixLength, int32_t number,
                int32_t flag, char* destination, int32_t width);

// ---------------------------------------------------------------------------
// Data sets, BY groups, variable bindings and the moment accumulation.
#include "velix/host_dataset.h"
