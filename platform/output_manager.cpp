// The KYR output manager: host objects reached by method number.
//
// Objects are HostObject records whose class is a HostClass with a bucket
// array of method chains and a parent, so that the module's dispatcher finds
// a method by walking the chain of its bucket and then the parent classes.
// The classes:
//
//   anchor   147 (creates the manager)
//   manager  147 (creates data, factoid and matrix objects), 435, 439, 431,
//            300 (opens a group), 422 (binds a data table to a template path),
//            428 (delivers a bound table), 358 (note), 388 (publishes a matrix)
//   table    316 (dynamic variable), 299 (end rows)     parent of the three below
//   data     338 (define column), 298 (end columns), 329 (add row)
//   factoid  164 (entry)
//   matrix   462 (matrix piece), 388 (publish the pieces)
//   group, output handle: no methods
//
// Every class has the same close descriptor; operation 4 closes a group (the
// group's end is delivered), a factoid (delivered if its rows were not
// ended) or any other object.  A data table goes through the fixed protocol:
// create, define columns, end columns, bind, add rows, end rows, deliver; a
// call out of that order fails with kKyrWrongOrder (rows need the bind).  A row reads the bound
// cells at the moment of method 329.
//
// Column kinds (KyrColumnKind) and the cells they read: text a HostText*;
// double a double; short, int and unsigned a signed 32-bit integer; name
// and chars characters, as many as the width entry 289 says (8 when it is
// absent), up to a NUL, trailing blanks dropped.  Entry 285 gives the
// address of the cell, 343 the address of a cell holding the cell's address
// (a null address gives a null value).
//
// Value types beyond the module's common ones: 4 an unsigned 32-bit integer
// and 9 a signed one in the value word; 67 the address of an array of text
// handles (one per matrix cell, 0 for none), laid out like the values.
//
// Matrix storage codes, by their first letter: r and d by rows (element
// (i, j) at i*columns + j), c by columns (at j*rows + i), s symmetric packed
// lower triangle by rows (element (i, j), j <= i, at i(i+1)/2 + j; rows must
// equal columns).  Any other code fails with kKyrBadArgument.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/output.h"
#include "platform/output_document.h"
#include "platform/session.h"
#include "platform/text_handles.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::platform {
namespace {

// Attribute codes and method numbers: KyrAttribute and KyrMethod of the
// host interface.

// Value types read beyond those of KyrValueType (type 67 is read by attribute 464).
enum : uint16_t { kTypeUnsigned = 4, kTypeSigned = 9 };

// Width of a character column without a width entry: a keyword field.
constexpr int32_t kDefaultCharWidth = 8;
// Width of fixed-width label names without a width entry.
constexpr int32_t kDefaultNameWidth = 8;
// Buckets per class (a power of two; method m lives in bucket m AND 7).
constexpr uint32_t kBucketMask = 7;

enum class ObjKind { Anchor, Manager, Data, Factoid, Matrix, Group, Output };
enum class TableState { Columns, ColumnsEnded, RowsEnded, Delivered };

struct CellBinding {
    int32_t kind = 0;
    int32_t width = 0;
    const void* cell = nullptr;
    bool indirect = false;  // the cell holds the value's address
};

struct KyrObject : HostObject {
    ObjKind kind = ObjKind::Anchor;
    bool closed = false;
    int32_t messageGroup = kMsgProc;  // managers: the message group of their texts
    int32_t compiling = 0;       // managers: 1 while the statements are compiled
    OutItem item;                // the table, factoid, matrix or group being built; a delivered
                                 // table, factoid or matrix moves into the document, unread after
    TableState state = TableState::Columns;
    std::vector<CellBinding> cells;
    bool bound = false;
    KyrObject* table = nullptr;  // output handles: the bound table
};

struct Store {
    std::vector<std::unique_ptr<KyrObject>> objects;
    std::vector<KyrObject*> openGroups;
    // The text handles the step had made when its first BY group began:
    // those made later belong to a group.  kNoGroupYet before that.
    size_t stepTexts = kNoGroupYet;
    static constexpr size_t kNoGroupYet = static_cast<size_t>(-1);
};

Store& store() {
    static Store s;
    return s;
}

const StepHooks kOutputHooks("output manager", nullptr, [] {
    store().objects.clear();
    store().openGroups.clear();
    store().stepTexts = Store::kNoGroupYet;
});

struct Injection {
    uint32_t method;
    int nth;
    int32_t status;
    int seen;
};

std::vector<Injection>& injections() {
    static std::vector<Injection> all;
    return all;
}

// The injected status of this call of the method, 0 when none fires.
int32_t take_injected(uint32_t method) {
    int32_t status = 0;
    for (Injection& inj : injections()) {
        if (inj.method != method || inj.seen >= inj.nth) continue;
        if (++inj.seen == inj.nth && status == 0) status = inj.status;
    }
    return status;
}

// ---------------------------------------------------------------------------
// Entries.

const KyrArg* find_entry(int32_t count, const KyrArg* args, uint16_t attribute) {
    for (int32_t i = 0; i < count; ++i)
        if (args[i].attribute == attribute) return &args[i];
    return nullptr;
}

OutValue value_of(const KyrArg& a) {
    switch (a.type) {
        case kKyrChar: return OutValue::make_text(std::string(1, a.character));
        case kKyrInt:
        case kTypeSigned: return OutValue::make_int(a.word);
        case kTypeUnsigned: return OutValue::make_int(static_cast<uint32_t>(a.word));
        case kKyrWord2: return OutValue::make_int(a.word2);
        case kKyrDouble: return OutValue::make_double(a.number);
        case kKyrCounted: {
            const auto* s = static_cast<const char*>(a.address);
            return OutValue::make_text(s != nullptr && a.word > 0 ? std::string(s, static_cast<size_t>(a.word)) : "");
        }
        case kKyrTextHandle: {
            if (a.text == nullptr) return OutValue{};
            OutValue v = OutValue::make_text(a.text->chars);
            v.messageGroup = a.text->group;
            v.messageNumber = a.text->number;
            return v;
        }
        default: return OutValue{};
    }
}

std::string text_of(const KyrArg* a) {
    if (a == nullptr) return "";
    const OutValue v = value_of(*a);
    return v.kind == OutValue::Kind::Text ? v.text : "";
}

int64_t int_of(const KyrArg* a, int64_t fallback) {
    if (a == nullptr) return fallback;
    const OutValue v = value_of(*a);
    if (v.kind == OutValue::Kind::Int) return v.integer;
    if (v.kind == OutValue::Kind::Double) return static_cast<int64_t>(v.real);
    return fallback;
}

// The 311 name / 287 value pairs among the entries.
void collect_pairs(int32_t count, const KyrArg* args, NamedValues* into) {
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (args[i].attribute != kAttrVariableName || args[i + 1].attribute != kAttrValue) continue;
        set_named(into, text_of(&args[i]), value_of(args[i + 1]));
        ++i;
    }
}

// The k-th entry of value type 12 (k from 0), or 0.
KyrArg* object_entry(int32_t count, KyrArg* args, int k) {
    for (int32_t i = 0; i < count; ++i)
        if (args[i].type == kKyrObject && k-- == 0) return &args[i];
    return nullptr;
}

std::string trimmed(const char* s, size_t width) {
    size_t n = strnlen(s, width);
    while (n > 0 && s[n - 1] == ' ') --n;
    return std::string(s, n);
}

// ---------------------------------------------------------------------------
// Objects.

KyrObject* new_object(ObjKind kind);

KyrObject* as_object(HostObject* o, ObjKind kind) {
    auto* k = static_cast<KyrObject*>(o);
    return k != nullptr && k->kind == kind ? k : nullptr;
}

// Reads the cell of a column at the moment of the row into *v, a null
// value on entry (filled in place: a table reads thousands).
void read_cell(const CellBinding& b, OutValue* v) {
    const void* p = b.cell;
    if (b.indirect) p = *static_cast<const void* const*>(p);
    if (p == nullptr) return;
    switch (b.kind) {
        case kColumnText: {
            const HostText* t = *static_cast<const HostText* const*>(p);
            if (t == nullptr) return;
            v->kind = OutValue::Kind::Text;
            v->text = t->chars;
            return;
        }
        case kColumnDouble:
            v->kind = OutValue::Kind::Double;
            v->real = *static_cast<const double*>(p);
            return;
        case kColumnShort:
        case kColumnInt:
        case kColumnUnsigned:
            v->kind = OutValue::Kind::Int;
            v->integer = *static_cast<const int32_t*>(p);
            return;
        default:
            v->kind = OutValue::Kind::Text;
            v->text = trimmed(static_cast<const char*>(p), static_cast<size_t>(b.width));
    }
}

bool valid_column_kind(int64_t kind) {
    return kind == kColumnText || kind == kColumnDouble || kind == kColumnShort ||
           kind == kColumnInt || kind == kColumnUnsigned || kind == kColumnName ||
           kind == kColumnChars;
}

// Labels of a matrix side: NameRecords (type 7) or fixed-width names (type 6).
std::vector<std::string> read_labels(const KyrArg* records, const KyrArg* names, const KyrArg* width,
                                     int32_t n) {
    std::vector<std::string> labels;
    if (records != nullptr && records->address != nullptr) {
        const auto* r = static_cast<const NameRecord*>(records->address);
        for (int32_t i = 0; i < n; ++i) {
            const size_t len = static_cast<size_t>(std::clamp<int>(r[i].length, 0, 32));
            labels.push_back(trimmed(r[i].text, len));
        }
    } else if (names != nullptr && names->address != nullptr) {
        const int64_t w = std::max<int64_t>(1, int_of(width, kDefaultNameWidth));
        const auto* s = static_cast<const char*>(names->address);
        for (int32_t i = 0; i < n; ++i) labels.push_back(trimmed(s + i * w, static_cast<size_t>(w)));
    }
    return labels;
}

// Position of element (i, j) in the caller's array for a storage code; -1
// for a code this host does not know.
int64_t storage_index(char code, int32_t rows, int32_t cols, int32_t i, int32_t j) {
    switch (code) {
        case 'r':
        case 'd': return static_cast<int64_t>(i) * cols + j;
        case 'c': return static_cast<int64_t>(j) * rows + i;
        case 's': return pk(i, j);
        default: return -1;
    }
}

// One matrix piece from the entries (values or cell texts, dimensions,
// labels, storage) into the item; `piece` receives its values.
int32_t read_piece(int32_t count, const KyrArg* args, OutItem* item, OutMatrixPiece* piece) {
    const KyrArg* values = find_entry(count, args, kAttrValues);
    const KyrArg* texts = find_entry(count, args, kAttrCellTexts);
    const int64_t rows = int_of(find_entry(count, args, kAttrRows), item->nRows);
    const int64_t cols = int_of(find_entry(count, args, kAttrColumns), item->nColumns);
    if (rows < 0 || cols < 0 || rows > INT32_MAX || cols > INT32_MAX) return kKyrBadArgument;
    const KyrArg* storageEntry = find_entry(count, args, kAttrStorage);
    const std::string storage = storageEntry != nullptr ? text_of(storageEntry) : item->storage;
    const char code = storage.empty() ? 'r' : storage[0];
    if (code == 's' && rows != cols) return kKyrBadArgument;
    // Every piece of a matrix object has the dimensions of the first.
    if (!item->pieces.empty() && (rows != item->nRows || cols != item->nColumns)) return kKyrBadArgument;
    const auto r = static_cast<int32_t>(rows), c = static_cast<int32_t>(cols);
    if (values != nullptr || texts != nullptr) {
        const void* base = values != nullptr ? values->address : texts->address;
        if (base == nullptr && rows * cols > 0) return kKyrBadArgument;
        if (storage_index(code, r, c, 0, 0) < 0) return kKyrBadArgument;
        piece->values.reserve(static_cast<size_t>(rows * cols));
        for (int32_t i = 0; i < r; ++i) {
            for (int32_t j = 0; j < c; ++j) {
                const int64_t k = storage_index(code, r, c, i, j);
                if (values != nullptr) {
                    piece->values.push_back(OutValue::make_double(static_cast<const double*>(base)[k]));
                } else {
                    const HostText* t = static_cast<const HostText* const*>(base)[k];
                    piece->values.push_back(t != nullptr ? OutValue::make_text(t->chars) : OutValue{});
                }
            }
        }
    }
    piece->label = text_of(find_entry(count, args, kAttrPieceLabel));
    item->nRows = r;
    item->nColumns = c;
    if (storageEntry != nullptr && piece->label.empty()) item->storage = storage;
    auto rowLabels = read_labels(find_entry(count, args, kAttrRowLabels),
                                 find_entry(count, args, kAttrRowNames),
                                 find_entry(count, args, kAttrRowNameWidth), r);
    if (!rowLabels.empty()) item->rowLabels = std::move(rowLabels);
    auto colLabels = read_labels(find_entry(count, args, kAttrColumnLabels),
                                 find_entry(count, args, kAttrColumnNames),
                                 find_entry(count, args, kAttrColumnNameWidth), c);
    if (!colLabels.empty()) item->columnLabels = std::move(colLabels);
    return 0;
}

// The naming entries of a published matrix.
void read_matrix_names(int32_t count, const KyrArg* args, OutItem* item) {
    if (const KyrArg* a = find_entry(count, args, kAttrTemplatePath)) item->path = text_of(a);
    if (const KyrArg* a = find_entry(count, args, kAttrName)) item->name = text_of(a);
    if (const KyrArg* a = find_entry(count, args, kAttrLabel)) item->title = value_of(*a);
    if (const KyrArg* a = find_entry(count, args, kAttrSecondTitle)) item->secondTitle = value_of(*a);
    if (const KyrArg* a = find_entry(count, args, kAttrDescription)) item->description = value_of(*a);
    collect_pairs(count, args, &item->dynamic);
}

// Stores a piece: the unlabelled one holds the main values, the labelled
// ones (standard errors, t values, cell texts) follow in their order.
void add_piece(OutItem* item, OutMatrixPiece piece) {
    if (item->pieces.empty()) item->pieces.emplace_back();
    if (piece.label.empty())
        item->pieces[0] = std::move(piece);
    else
        item->pieces.push_back(std::move(piece));
}

// ---------------------------------------------------------------------------
// Methods.

int32_t m147_create(KyrObject* self, int32_t count, KyrArg* args) {
    KyrArg* out = const_cast<KyrArg*>(find_entry(count, args, kAttrHandle));
    const std::string family = text_of(find_entry(count, args, kAttrFamily));
    const std::string cls = text_of(find_entry(count, args, kAttrClass));
    if (out == nullptr || out->type != kKyrObject || family != "kyr") return kKyrBadArgument;
    KyrObject* made = nullptr;
    if (self->kind == ObjKind::Anchor) {
        if (cls != "manager") return kKyrBadArgument;
        made = new_object(ObjKind::Manager);
        made->messageGroup = static_cast<int32_t>(int_of(find_entry(count, args, kAttrMessageGroup), kMsgProc));
    } else {
        ObjKind kind;
        OutItem::Type type;
        if (cls == "data") {
            kind = ObjKind::Data;
            type = OutItem::Type::Table;
        } else if (cls == "factoid") {
            kind = ObjKind::Factoid;
            type = OutItem::Type::Factoid;
        } else if (cls == "matrix") {
            kind = ObjKind::Matrix;
            type = OutItem::Type::Matrix;
        } else {
            return kKyrBadArgument;
        }
        made = new_object(kind);
        made->item.type = type;
        made->item.name = text_of(find_entry(count, args, kAttrName));
        if (const KyrArg* t = find_entry(count, args, kAttrLabel)) made->item.title = value_of(*t);
        made->item.path = text_of(find_entry(count, args, kAttrTemplatePath));
    }
    out->object = made;
    return 0;
}

int32_t m435_begin_output(KyrObject*, int32_t, KyrArg*) { return 0; }

int32_t m439_title(KyrObject* self, int32_t count, KyrArg* args) {
    const KyrArg* text = find_entry(count, args, kAttrText);
    if (text == nullptr) return kKyrBadArgument;
    OutItem item;
    item.type = OutItem::Type::Title;
    item.level = static_cast<int32_t>(int_of(find_entry(count, args, kAttrTitleKind), 1));
    item.title = value_of(*text);
    deliver_item(std::move(item));
    return 0;
}

int32_t m431_compile_state(KyrObject* self, int32_t count, KyrArg* args) {
    self->compiling = static_cast<int32_t>(int_of(find_entry(count, args, kAttrCompiling), 0));
    return 0;
}

int32_t m300_open_group(KyrObject* self, int32_t count, KyrArg* args) {
    KyrArg* out = const_cast<KyrArg*>(find_entry(count, args, kAttrHandle));
    if (out == nullptr || out->type != kKyrObject) return kKyrBadArgument;
    KyrObject* g = new_object(ObjKind::Group);
    g->item.type = OutItem::Type::GroupOpen;
    g->item.name = text_of(find_entry(count, args, kAttrName));
    if (const KyrArg* t = find_entry(count, args, kAttrLabel)) g->item.title = value_of(*t);
    g->item.level = static_cast<int32_t>(store().openGroups.size());
    store().openGroups.push_back(g);
    deliver_item(g->item);
    out->object = g;
    return 0;
}

int32_t m338_define_column(KyrObject* self, int32_t count, KyrArg* args) {
    if (self->state != TableState::Columns) return kKyrWrongOrder;
    const KyrArg* kind = find_entry(count, args, kAttrColumnKind);
    const KyrArg* direct = find_entry(count, args, kAttrValueCell);
    const KyrArg* indirect = find_entry(count, args, kAttrIndirectCell);
    const KyrArg* cell = direct != nullptr ? direct : indirect;
    if (kind == nullptr || !valid_column_kind(int_of(kind, 0)) || cell == nullptr || cell->address == nullptr)
        return kKyrBadArgument;
    OutColumn column;
    column.name = text_of(find_entry(count, args, kAttrName));
    column.kind = static_cast<int32_t>(int_of(kind, 0));
    column.width = static_cast<int32_t>(int_of(find_entry(count, args, kAttrWidth), 0));
    if (column.width < 0) return kKyrBadArgument;
    if (const KyrArg* columnTemplate = find_entry(count, args, kAttrTemplatePath))
        column.columnTemplate = text_of(columnTemplate);
    collect_pairs(count, args, &column.variables);
    CellBinding b;
    b.kind = column.kind;
    b.width = column.width > 0 ? column.width : kDefaultCharWidth;
    b.cell = cell->address;
    b.indirect = direct == nullptr;
    self->cells.push_back(b);
    self->item.columns.push_back(std::move(column));
    return 0;
}

int32_t m298_end_columns(KyrObject* self, int32_t, KyrArg*) {
    if (self->state != TableState::Columns) return kKyrWrongOrder;
    self->state = TableState::ColumnsEnded;
    return 0;
}

int32_t m422_bind(KyrObject* self, int32_t count, KyrArg* args) {
    KyrArg* out = object_entry(count, args, 0);
    KyrArg* tableEntry = object_entry(count, args, 1);
    if (out == nullptr || tableEntry == nullptr) return kKyrBadArgument;
    KyrObject* table = as_object(tableEntry->object, ObjKind::Data);
    if (table == nullptr || table->closed) return kKyrBadArgument;
    if (table->bound || table->state != TableState::ColumnsEnded) return kKyrWrongOrder;
    table->bound = true;
    table->item.path = text_of(find_entry(count, args, kAttrTemplatePath));
    collect_pairs(count, args, &table->item.dynamic);
    KyrObject* handle = new_object(ObjKind::Output);
    handle->table = table;
    out->object = handle;
    return 0;
}

int32_t m329_add_row(KyrObject* self, int32_t, KyrArg*) {
    if (self->state != TableState::ColumnsEnded || !self->bound) return kKyrWrongOrder;
    std::vector<OutValue> row;
    row.reserve(self->cells.size());
    for (const CellBinding& b : self->cells) read_cell(b, &row.emplace_back());
    self->item.rows.push_back(std::move(row));
    return 0;
}

int32_t m299_end_rows(KyrObject* self, int32_t, KyrArg*) {
    if (self->kind == ObjKind::Data) {
        if (self->state != TableState::ColumnsEnded || !self->bound) return kKyrWrongOrder;
        self->state = TableState::RowsEnded;
        return 0;
    }
    if (self->kind != ObjKind::Factoid) return kKyrBadArgument;
    if (self->state == TableState::Delivered) return kKyrWrongOrder;
    self->state = TableState::Delivered;
    deliver_item(std::move(self->item));
    return 0;
}

int32_t m428_deliver(KyrObject* self, int32_t count, KyrArg* args) {
    const KyrArg* h = object_entry(count, args, 0);
    KyrObject* handle = h != nullptr ? as_object(h->object, ObjKind::Output) : nullptr;
    if (handle == nullptr || handle->table == nullptr) return kKyrBadArgument;
    KyrObject* table = handle->table;
    if (table->state != TableState::RowsEnded) return kKyrWrongOrder;
    table->state = TableState::Delivered;
    deliver_item(std::move(table->item));
    return 0;
}

int32_t m164_factoid_entry(KyrObject* self, int32_t count, KyrArg* args) {
    if (self->state == TableState::Delivered) return kKyrWrongOrder;
    const KyrArg* label = find_entry(count, args, kAttrLabel);
    const KyrArg* value = find_entry(count, args, kAttrValue);
    if (label == nullptr || value == nullptr) return kKyrBadArgument;
    OutFactoidEntry e;
    e.label = value_of(*label);
    e.value = value_of(*value);
    e.width = static_cast<int32_t>(int_of(find_entry(count, args, kAttrDisplayWidth), 0));
    e.decimals = static_cast<int32_t>(int_of(find_entry(count, args, kAttrDisplayDecimals), -1));
    self->item.entries.push_back(std::move(e));
    return 0;
}

int32_t m316_dynamic_variable(KyrObject* self, int32_t count, KyrArg* args) {
    if (self->state == TableState::Delivered) return kKyrWrongOrder;
    const KyrArg* name = find_entry(count, args, kAttrVariableName);
    const KyrArg* value = find_entry(count, args, kAttrValue);
    if (name == nullptr || value == nullptr) return kKyrBadArgument;
    set_named(&self->item.dynamic, text_of(name), value_of(*value));
    return 0;
}

int32_t m358_note(KyrObject* self, int32_t count, KyrArg* args) {
    const KyrArg* text = find_entry(count, args, kAttrText);
    if (text == nullptr) return kKyrBadArgument;
    OutItem item;
    item.type = OutItem::Type::Note;
    item.title = value_of(*text);
    const std::string j = text_of(find_entry(count, args, kAttrJustify));
    item.justify = j == "c" ? 'c' : 'l';
    deliver_item(std::move(item));
    return 0;
}

int32_t m388_publish(KyrObject* self, int32_t count, KyrArg* args) {
    if (self->kind == ObjKind::Manager) {
        OutItem item;
        item.type = OutItem::Type::Matrix;
        OutMatrixPiece main;
        if (const int32_t rc = read_piece(count, args, &item, &main); rc != 0) return rc;
        item.pieces.push_back(std::move(main));
        read_matrix_names(count, args, &item);
        deliver_item(std::move(item));
        return 0;
    }
    if (self->state == TableState::Delivered) return kKyrWrongOrder;
    if (find_entry(count, args, kAttrValues) != nullptr || find_entry(count, args, kAttrCellTexts) != nullptr) {
        OutMatrixPiece piece;
        if (const int32_t rc = read_piece(count, args, &self->item, &piece); rc != 0) return rc;
        add_piece(&self->item, std::move(piece));
    }
    read_matrix_names(count, args, &self->item);
    if (self->item.pieces.empty()) self->item.pieces.emplace_back();
    self->state = TableState::Delivered;
    deliver_item(std::move(self->item));
    return 0;
}

int32_t m462_matrix_piece(KyrObject* self, int32_t count, KyrArg* args) {
    if (self->state == TableState::Delivered) return kKyrWrongOrder;
    OutMatrixPiece piece;
    if (const int32_t rc = read_piece(count, args, &self->item, &piece); rc != 0) return rc;
    add_piece(&self->item, std::move(piece));
    return 0;
}

// ---------------------------------------------------------------------------
// Classes.

using Handler = int32_t (*)(KyrObject* self, int32_t count, KyrArg* args);

struct MethodInfo {
    uint32_t number;
    Handler handler;
};

int32_t invoke(HostObject* object, void* /*entryDatum*/, void* descriptorDatum, int32_t count,
               KyrArg* args) {
    const auto* info = static_cast<const MethodInfo*>(descriptorDatum);
    if (const int32_t injected = take_injected(info->number); injected != 0) return injected;
    auto* self = static_cast<KyrObject*>(object);
    if (self == nullptr || count < 0 || (count > 0 && args == nullptr)) return kKyrBadArgument;
    if (self->closed) return kKyrClosed;
    return info->handler(self, count, args);
}

int32_t close_object(HostObject* object, void* /*closeDatum*/, int32_t operation, int32_t, KyrArg*) {
    constexpr int32_t kOperationClose = 4;
    auto* self = static_cast<KyrObject*>(object);
    if (self == nullptr || operation != kOperationClose) return kKyrBadArgument;
    if (self->closed) return kKyrClosed;
    self->closed = true;
    if (self->kind == ObjKind::Group) {
        auto& open = store().openGroups;
        open.erase(std::remove(open.begin(), open.end(), self), open.end());
        OutItem end;
        end.type = OutItem::Type::GroupClose;
        end.name = self->item.name;
        end.level = self->item.level;
        deliver_item(std::move(end));
    } else if (self->kind == ObjKind::Factoid && self->state != TableState::Delivered) {
        self->state = TableState::Delivered;
        deliver_item(std::move(self->item));
    }
    return 0;
}

HostCloseDescriptor kCloseDescriptor{close_object};

// A class record: the HostClass and the storage its pointers refer to.
struct ClassRecord {
    HostClass cls;
    std::vector<HostMethodDescriptor> descriptors;
    std::vector<HostMethodEntry> entries;
    std::vector<HostMethodEntry*> heads;

    ClassRecord(const HostClass* parent, std::initializer_list<const MethodInfo*> methods)
        : descriptors(methods.size()), entries(methods.size()), heads(kBucketMask + 1, nullptr) {
        size_t k = 0;
        for (const MethodInfo* m : methods) {
            descriptors[k] = HostMethodDescriptor{invoke, const_cast<MethodInfo*>(m)};
            HostMethodEntry& e = entries[k];
            e.method = m->number;
            e.descriptor = &descriptors[k];
            HostMethodEntry*& head = heads[m->number & kBucketMask];
            e.next = head;
            head = &e;
            ++k;
        }
        cls.parent = const_cast<HostClass*>(parent);
        cls.buckets = heads.data();
        cls.bucketMask = kBucketMask;
        cls.closeDescriptor = &kCloseDescriptor;
        cls.closeDatum = nullptr;
    }
    ClassRecord(const ClassRecord&) = delete;
    ClassRecord& operator=(const ClassRecord&) = delete;
};

const MethodInfo kCreate{kKyrMethodCreate, m147_create};
const MethodInfo kBeginOutput{kKyrMethodBeginOutput, m435_begin_output};
const MethodInfo kTitle{kKyrMethodTitle, m439_title};
const MethodInfo kCompileState{kKyrMethodCompileState, m431_compile_state};
const MethodInfo kOpenGroup{kKyrMethodOpenGroup, m300_open_group};
const MethodInfo kBind{kKyrMethodBind, m422_bind};
const MethodInfo kDeliver{kKyrMethodDeliver, m428_deliver};
const MethodInfo kNote{kKyrMethodNote, m358_note};
const MethodInfo kPublish{kKyrMethodPublishMatrix, m388_publish};
const MethodInfo kDynamic{kKyrMethodDynamicVariable, m316_dynamic_variable};
const MethodInfo kEndRows{kKyrMethodEndRows, m299_end_rows};
const MethodInfo kDefineColumn{kKyrMethodColumn, m338_define_column};
const MethodInfo kEndColumns{kKyrMethodEndColumns, m298_end_columns};
const MethodInfo kAddRow{kKyrMethodAddRow, m329_add_row};
const MethodInfo kFactoidEntry{kKyrMethodFactoidEntry, m164_factoid_entry};
const MethodInfo kMatrixPiece{kKyrMethodMatrixData, m462_matrix_piece};

struct Classes {
    ClassRecord root{nullptr, {}};
    ClassRecord anchor{&root.cls, {&kCreate}};
    ClassRecord manager{&root.cls, {&kCreate, &kBeginOutput, &kTitle, &kCompileState, &kOpenGroup,
                                    &kBind, &kDeliver, &kNote, &kPublish}};
    ClassRecord table{&root.cls, {&kDynamic, &kEndRows}};
    ClassRecord data{&table.cls, {&kDefineColumn, &kEndColumns, &kAddRow}};
    ClassRecord factoid{&table.cls, {&kFactoidEntry}};
    ClassRecord matrix{&table.cls, {&kMatrixPiece, &kPublish}};
    ClassRecord group{&root.cls, {}};
    ClassRecord output{&root.cls, {}};
};

const Classes& classes() {
    static const Classes c;
    return c;
}

KyrObject* new_object(ObjKind kind) {
    const Classes& c = classes();
    auto o = std::make_unique<KyrObject>();
    o->kind = kind;
    const ClassRecord* rec = nullptr;
    switch (kind) {
        case ObjKind::Anchor: rec = &c.anchor; break;
        case ObjKind::Manager: rec = &c.manager; break;
        case ObjKind::Data: rec = &c.data; break;
        case ObjKind::Factoid: rec = &c.factoid; break;
        case ObjKind::Matrix: rec = &c.matrix; break;
        case ObjKind::Group: rec = &c.group; break;
        case ObjKind::Output: rec = &c.output; break;
    }
    o->cls = const_cast<HostClass*>(&rec->cls);
    store().objects.push_back(std::move(o));
    return store().objects.back().get();
}

// Whether the object is done with: closed, or a table, factoid or matrix
// delivered (the module neither closes a data table nor its output handle).
bool finished(const KyrObject* o) {
    if (o->closed) return true;
    switch (o->kind) {
        case ObjKind::Data:
        case ObjKind::Factoid:
        case ObjKind::Matrix: return o->state == TableState::Delivered;
        case ObjKind::Output: return o->table == nullptr || finished(o->table);
        default: return false;
    }
}

}  // namespace

void output_release_finished() {
    auto& objects = store().objects;
    objects.erase(std::remove_if(objects.begin(), objects.end(),
                                 [](const std::unique_ptr<KyrObject>& o) { return finished(o.get()); }),
                  objects.end());
    // The texts of the group that ended: a delivered item holds copies.
    if (store().stepTexts == Store::kNoGroupYet)
        store().stepTexts = text_count();
    else
        release_texts_after(store().stepTexts);
}

void inject_method_failure(uint32_t method, int nthCall, int32_t status) {
    injections().push_back(Injection{method, nthCall, status, 0});
}

void clear_injected_failures() { injections().clear(); }

}  // namespace velix::platform

int32_t xobinit(HostObject** anchor, int32_t /*zero*/) {
    if (anchor == nullptr) return velix::platform::kKyrBadArgument;
    *anchor = velix::platform::new_object(velix::platform::ObjKind::Anchor);
    return 0;
}
