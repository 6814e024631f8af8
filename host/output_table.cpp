// The output-table protocol: each step of building a data table is one
// method call on the manager or the table with a fixed entry list.  The
// name-like entries come either as characters (sent as a counted string)
// or as a host text handle; both forms end in the same call.
#include "host/output_table.h"

#include <cstring>
#include <string>

#include "host/internal_error.h"
#include "host/object_dispatch.h"

namespace {

// Further entries a column definition or a bind may carry after its fixed
// ones; the callers pass at most three.
constexpr int32_t kMaxExtras = 8;

// More further entries than an entry list holds are a fault of the caller.
void check_extras(int32_t nExtra) {
    if (nExtra >= 0 && nExtra <= kMaxExtras) return;
    internal_error("an output-table call has too many entries");
}

KyrArg counted(uint16_t attribute, std::string_view text) {
    return kyr_counted(attribute, text.data(), static_cast<int32_t>(text.size()));
}

int32_t create(HostObject* manager, const KyrArg& name, HostText* title, HostObject** table) {
    KyrArg args[] = {
        kyr_counted(kAttrFamily, "kyr", 3),
        kyr_counted(kAttrClass, "data", 4),
        kyr_object(kAttrHandle, nullptr),
        kyr_int(kAttrParent, -1),
        name,
        kyr_text(kAttrLabel, title),
    };
    const int32_t rc = wobmth(manager, nullptr, kKyrMethodCreate, 6, args);
    if (rc >= 0) *table = args[2].object;
    return rc;
}

int32_t column(HostObject* table, int32_t kind, const KyrArg& name, const KyrArg& cell,
               const KyrArg* extra, int32_t nExtra) {
    check_extras(nExtra);
    KyrArg args[3 + kMaxExtras];
    int32_t k = 0;
    args[k++] = kyr_int(kAttrColumnKind, kind);
    args[k++] = name;
    args[k++] = cell;
    for (int32_t i = 0; i < nExtra; ++i) args[k++] = extra[i];
    return wobmth(table, nullptr, kKyrMethodColumn, k, args);
}

int32_t bind(HostObject* manager, HostObject* table, const KyrArg& path, HostObject** output,
             const KyrArg* extra, int32_t nExtra) {
    check_extras(nExtra);
    KyrArg args[3 + kMaxExtras];
    int32_t k = 0;
    args[k++] = kyr_object(kAttrPositional, nullptr);
    args[k++] = kyr_object(kAttrPositional, table);
    args[k++] = path;
    for (int32_t i = 0; i < nExtra; ++i) args[k++] = extra[i];
    const int32_t rc = wobmth(manager, nullptr, kKyrMethodBind, k, args);
    if (rc >= 0) *output = args[0].object;
    return rc;
}

}  // namespace

int32_t kyr_table_create(HostObject* manager, std::string_view name, HostText* title,
                         HostObject** table) {
    return create(manager, counted(kAttrName, name), title, table);
}

int32_t kyr_table_create(HostObject* manager, HostText* name, HostText* title, HostObject** table) {
    return create(manager, kyr_text(kAttrName, name), title, table);
}

int32_t kyr_table_column(HostObject* table, int32_t kind, std::string_view name, const void* cell,
                         const KyrArg* extra, int32_t nExtra) {
    return column(table, kind, counted(kAttrName, name), kyr_address(kAttrValueCell, kKyrCell, cell), extra, nExtra);
}

int32_t kyr_table_column(HostObject* table, int32_t kind, HostText* name, const void* cell,
                         const KyrArg* extra, int32_t nExtra) {
    return column(table, kind, kyr_text(kAttrName, name), kyr_address(kAttrValueCell, kKyrCell, cell), extra,
                  nExtra);
}

int32_t kyr_table_column_at(HostObject* table, int32_t kind, HostText* name, const void* cell,
                            const KyrArg* extra, int32_t nExtra) {
    return column(table, kind, kyr_text(kAttrName, name), kyr_address(kAttrIndirectCell, kKyrCell, cell), extra,
                  nExtra);
}

int32_t kyr_table_end_columns(HostObject* table) {
    return wobmth(table, nullptr, kKyrMethodEndColumns, 0, nullptr);
}

int32_t kyr_table_bind(HostObject* manager, HostObject* table, std::string_view path,
                       HostObject** output, const KyrArg* extra, int32_t nExtra) {
    return bind(manager, table, counted(kAttrTemplatePath, path), output, extra, nExtra);
}

int32_t kyr_table_bind(HostObject* manager, HostObject* table, HostText* path, HostObject** output,
                       const KyrArg* extra, int32_t nExtra) {
    return bind(manager, table, kyr_text(kAttrTemplatePath, path), output, extra, nExtra);
}

int32_t kyr_table_add_row(HostObject* table) {
    return wobmth(table, nullptr, kKyrMethodAddRow, 0, nullptr);
}

int32_t kyr_table_end_rows(HostObject* table) {
    return wobmth(table, nullptr, kKyrMethodEndRows, 0, nullptr);
}

int32_t kyr_table_deliver(HostObject* manager, HostObject* output) {
    KyrArg args[] = {kyr_object(kAttrPositional, output)};
    return wobmth(manager, nullptr, kKyrMethodDeliver, 1, args);
}

int32_t kyr_note(HostObject* manager, HostText* text, char justify, int32_t level) {
    KyrArg args[] = {kyr_text(kAttrText, text), kyr_int(kAttrSwitch280, level),
                     kyr_int(kAttrSwitch371, 1), kyr_char(kAttrJustify, justify)};
    return wobmth(manager, nullptr, kKyrMethodNote, 4, args);
}

int32_t kyr_lines_note(HostObject* manager, HostText* text, int32_t lines) {
    KyrArg args[] = {kyr_text(kAttrText, text), kyr_int(kAttrLineCount, lines),
                     kyr_int(kAttrSwitch280, 1), kyr_char(kAttrJustify, 'c')};
    return wobmth(manager, nullptr, kKyrMethodNote, 4, args);
}

int32_t kyr_manager_create(HostObject* anchor, int32_t messageGroup, HostObject** manager) {
    KyrArg args[] = {kyr_counted(kAttrFamily, "kyr", 3), kyr_counted(kAttrClass, "manager", 7),
                     kyr_object(kAttrHandle, nullptr), kyr_int(kAttrMessageGroup, messageGroup)};
    const int32_t rc = wobmth(anchor, nullptr, kKyrMethodCreate, 4, args);
    if (rc >= 0) *manager = args[2].object;
    return rc;
}

int32_t kyr_title(HostObject* manager, HostText* text, int32_t kind) {
    KyrArg args[5];
    int32_t k = 0;
    args[k++] = kyr_counted(kAttrPositional, nullptr, 0);
    args[k++] = kyr_int(kAttrTitleKind, kind);
    if (kind == 1) args[k++] = kyr_word2(kAttrProcedureTitle, 1);
    args[k++] = kyr_int(kAttrParent, -1);
    args[k++] = kyr_text(kAttrText, text);
    return wobmth(manager, nullptr, kKyrMethodTitle, k, args);
}

int32_t kyr_program_titles(HostObject* manager) {
    constexpr int32_t kTitleLines = 10;
    std::string text;
    int32_t set = 0;  // the lines up to the last one set
    for (int32_t line = 1; line <= kTitleLines; ++line)
        if (xtitle(line) != nullptr) set = line;
    for (int32_t line = 1; line <= set; ++line) {
        if (line > 1) text += '\n';
        if (const char* t = xtitle(line)) text += t;
    }
    if (set == 0) return 0;
    return kyr_title(manager, kyrtxt(text.c_str(), static_cast<int32_t>(text.size())), kTitleProgram);
}

int32_t kyr_compile_state(HostObject* manager, int32_t state) {
    KyrArg args[] = {kyr_int(kAttrCompiling, state)};
    return wobmth(manager, nullptr, kKyrMethodCompileState, 1, args);
}

int32_t kyr_group_open(HostObject* manager, std::string_view name, HostText* label, HostObject** group) {
    KyrArg args[] = {
        kyr_object(kAttrHandle, nullptr),
        kyr_word2(kAttrGroupWord, 0),
        counted(kAttrName, name),
        kyr_text(kAttrLabel, label),
    };
    const int32_t rc = wobmth(manager, nullptr, kKyrMethodOpenGroup, 4, args);
    if (rc >= 0) *group = args[0].object;
    return rc;
}

int32_t kyr_group_close(HostObject* group) {
    if (group == nullptr || group->cls == nullptr || group->cls->closeDescriptor == nullptr) return 0;
    return group->cls->closeDescriptor->function(group, group->cls->closeDatum, 4, 0, nullptr);
}

HostObject* open_output_group(HostObject* manager, std::string_view name, HostText* label) {
    HostObject* group = nullptr;
    if (manager == nullptr || kyr_failed(kyr_group_open(manager, name, label, &group))) return nullptr;
    return group;
}

void close_output_group(HostObject* group) { kyr_failed(kyr_group_close(group)); }

int32_t kyr_begin_output(HostObject* manager) {
    return wobmth(manager, nullptr, kKyrMethodBeginOutput, 0, nullptr);
}

bool begin_output(HostObject* manager) {
    return !kyr_failed(kyr_begin_output(manager));
}

bool listing_line(HostObject* manager, HostText* text) {
    if (manager == nullptr) return false;
    return !kyr_failed(kyr_note(manager, text, 'l'));
}

OutputTable::OutputTable(HostObject* manager, std::string_view name, HostText* title,
                         std::string_view templatePath, HostText* titleText)
    : manager_(manager), templatePath_(templatePath), titleText_(titleText) {
    if (manager == nullptr) {
        ok_ = false;
        return;
    }
    check(kyr_table_create(manager, name, title, &table_));
}

OutputTable::OutputTable(HostObject* manager, HostText* name, HostText* title,
                         HostText* templatePath)
    : manager_(manager), templateText_(templatePath) {
    if (manager == nullptr) {
        ok_ = false;
        return;
    }
    check(kyr_table_create(manager, name, title, &table_));
}

OutputTable OutputTable::resume(HostObject* manager, HostObject* table, HostObject* output) {
    OutputTable t(nullptr, {}, nullptr, {});
    t.manager_ = manager;
    t.table_ = table;
    t.handle_ = output;
    t.ok_ = table != nullptr;
    return t;
}

bool OutputTable::check(int32_t status) {
    if (kyr_failed(status)) ok_ = false;
    return ok_;
}

void OutputTable::define(KyrColumnKind kind, const KyrArg& name, const KyrArg& cell,
                         const ColumnFormat& format, const KyrArg* extra, int32_t nExtra) {
    if (!ok_) return;
    KyrArg entries[3 + kMaxExtras];
    int32_t k = 0;
    if (format.width > 0) entries[k++] = kyr_int(kAttrWidth, format.width);
    if (format.displayWidth > 0) entries[k++] = kyr_int(kAttrDisplayWidth, format.displayWidth);
    if (format.columnTemplate != nullptr)
        entries[k++] = counted(kAttrTemplatePath, format.columnTemplate);
    check_extras(k + nExtra);
    for (int32_t i = 0; i < nExtra; ++i) entries[k++] = extra[i];
    check(column(table_, kind, name, cell, entries, k));
}

void OutputTable::add_column(const std::string& name, KyrColumnKind kind, int32_t width) {
    Column& c = columns_.emplace_back();
    c.kind = kind;
    c.width = width;
    if (kind == kColumnName) c.characters = name;
    void* cell = kind == kColumnText   ? static_cast<void*>(&c.text)
                 : kind == kColumnName ? static_cast<void*>(c.characters.data())
                 : kind == kColumnInt  ? static_cast<void*>(&c.integer)
                                       : static_cast<void*>(&c.number);
    // Text and name columns state their width, even 0; the others take the
    // host's.  A name column also sets its template and "Width".
    const KyrArg extra[] = {kyr_int(kAttrWidth, width), kyr_counted(kAttrVariableName, "Width", 5),
                            kyr_int(kAttrValue, width), counted(kAttrTemplatePath, "Variable")};
    const int32_t nExtra = kind == kColumnName ? 4 : kind == kColumnText ? 1 : 0;
    define(kind, counted(kAttrName, name), kyr_address(kAttrValueCell, kKyrCell, cell), {}, extra,
           nExtra);
}
void OutputTable::text_column(const std::string& name, int32_t width) {
    add_column(name, kColumnText, width);
}
void OutputTable::name_column(const std::string& name) {
    add_column(name, kColumnName, static_cast<int32_t>(name.size()));
}
void OutputTable::int_column(const std::string& name) {
    add_column(name, kColumnInt);
}
void OutputTable::double_column(const std::string& name) {
    add_column(name, kColumnDouble);
}

void OutputTable::cell_column(KyrColumnKind kind, std::string_view name, const void* cell,
                              const ColumnFormat& format) {
    define(kind, counted(kAttrName, name), kyr_address(kAttrValueCell, kKyrCell, cell), format);
}

void OutputTable::indirect_column(KyrColumnKind kind, HostText* name, const void* cell,
                                  const ColumnFormat& format) {
    define(kind, kyr_text(kAttrName, name), kyr_address(kAttrIndirectCell, kKyrCell, cell), format);
}

void OutputTable::variable(std::string_view name, HostText* value) {
    if (!ok_) return;
    KyrArg args[] = {counted(kAttrVariableName, name), kyr_text(kAttrValue, value)};
    check(wobmth(table_, nullptr, kKyrMethodDynamicVariable, 2, args));
}

bool OutputTable::end_columns() {
    if (!ok_ || !check(kyr_table_end_columns(table_))) return false;
    const KyrArg title[] = {kyr_counted(kAttrVariableName, "titletext", 9), kyr_text(kAttrValue, titleText_)};
    const int32_t nTitle = titleText_ != nullptr ? 2 : 0;
    if (templateText_ != nullptr)
        return check(kyr_table_bind(manager_, table_, templateText_, &handle_, title, nTitle));
    return check(kyr_table_bind(manager_, table_, templatePath_, &handle_, title, nTitle));
}

void OutputTable::set_text(size_t column, const std::string& text) {
    columns_[column].text = kyrtxt(text.c_str(), static_cast<int32_t>(text.size()));
}
void OutputTable::set_int(size_t column, int32_t v) { columns_[column].integer = v; }
void OutputTable::set_double(size_t column, double v) { columns_[column].number = v; }

bool OutputTable::add_row() { return ok_ && check(kyr_table_add_row(table_)); }

bool OutputTable::deliver() {
    if (!ok_ || !check(kyr_table_end_rows(table_))) return false;
    return check(kyr_table_deliver(manager_, handle_));
}

FactoidTable::FactoidTable(HostObject* manager, std::string_view name, std::string_view templatePath,
                           HostText* title) {
    if (manager == nullptr) return;
    KyrArg args[] = {
        kyr_counted(kAttrFamily, "kyr", 3),
        kyr_counted(kAttrClass, "factoid", 7),
        kyr_object(kAttrHandle, nullptr),
        kyr_int(kAttrParent, -1),
        counted(kAttrTemplatePath, templatePath),
        counted(kAttrName, name),
        kyr_text(kAttrLabel, title),
    };
    ok_ = true;
    if (check(wobmth(manager, nullptr, kKyrMethodCreate, 7, args))) table_ = args[2].object;
}

bool FactoidTable::check(int32_t status) {
    if (kyr_failed(status)) ok_ = false;
    return ok_;
}

void FactoidTable::entry(HostText* label, double value) {
    if (!ok_) return;
    KyrArg args[] = {kyr_text(kAttrLabel, label), kyr_double(kAttrValue, value)};
    check(wobmth(table_, nullptr, kKyrMethodFactoidEntry, 2, args));
}

void FactoidTable::entry(HostText* label, double value, int32_t width, int32_t decimals, int32_t style) {
    if (!ok_) return;
    KyrArg args[] = {kyr_text(kAttrLabel, label), kyr_double(kAttrValue, value),
                     kyr_int(kAttrDisplayWidth, width), kyr_int(kAttrDisplayDecimals, decimals),
                     kyr_int(kAttrEntryStyle, style)};
    check(wobmth(table_, nullptr, kKyrMethodFactoidEntry, style >= 0 ? 5 : 4, args));
}

void FactoidTable::int_entry(HostText* label, int32_t value, int32_t width, int32_t decimals) {
    if (!ok_) return;
    KyrArg args[] = {kyr_text(kAttrLabel, label), kyr_int(kAttrValue, value),
                     kyr_int(kAttrDisplayWidth, width), kyr_int(kAttrDisplayDecimals, decimals)};
    check(wobmth(table_, nullptr, kKyrMethodFactoidEntry, 4, args));
}

void FactoidTable::probability_entry(HostText* label, double value) {
    if (!ok_) return;
    KyrArg args[] = {kyr_text(kAttrLabel, label), kyr_double(kAttrValue, value),
                     kyr_text(kAttrFormatName, kyrtxt("pvalue6.4", -1))};
    check(wobmth(table_, nullptr, kKyrMethodFactoidEntry, 3, args));
}

bool FactoidTable::end() { return ok_ && check(kyr_table_end_rows(table_)); }

int32_t kyr_publish_matrix(HostObject* manager, const MatrixTable& m) {
    // The fixed entries below are at most 16; the template variables follow.
    constexpr int32_t kFixedEntries = 16;
    constexpr int32_t kMaxVariableEntries = 16;
    if (m.nVariables < 0 || m.nVariables > kMaxVariableEntries || m.nVariables % 2 != 0)
        internal_error("a matrix table has more template variables than its entry list holds");
    KyrArg args[kFixedEntries + kMaxVariableEntries];
    int32_t k = 0;
    args[k++] = kyr_text(kAttrTemplatePath, m.templatePath);
    args[k++] = kyr_text(kAttrName, m.name);
    args[k++] = kyr_text(kAttrLabel, m.title);
    if (m.description != nullptr) args[k++] = kyr_text(kAttrDescription, m.description);
    args[k++] = kyr_address(kAttrValues, kKyrDoubles, m.values);
    args[k++] = kyr_int(kAttrRows, m.rows);
    args[k++] = kyr_int(kAttrColumns, m.columns);
    if (m.rowLabels != nullptr) args[k++] = kyr_address(kAttrRowLabels, kKyrRowLabels, m.rowLabels);
    if (m.columnLabels != nullptr) args[k++] = kyr_address(kAttrColumnLabels, kKyrRowLabels, m.columnLabels);
    if (m.rowNames != nullptr) {
        args[k++] = kyr_address(kAttrRowNames, kKyrNames, m.rowNames);
        args[k++] = kyr_int(kAttrRowNameWidth, m.rowNameWidth);
    }
    args[k++] = kyr_counted(kAttrStorage, m.storage, static_cast<int32_t>(std::strlen(m.storage)));
    if (m.labelStyle >= 0) args[k++] = kyr_int(kAttrLabelWidth, m.labelStyle);
    if (m.pieceStyle >= 0) args[k++] = kyr_int(kAttrPieceStyle, m.pieceStyle);
    if (m.listingSwitches) {
        args[k++] = kyr_int(kAttrSwitch280, 1);
        args[k++] = kyr_int(kAttrSwitch371, 1);
    }
    for (int32_t v = 0; v < m.nVariables; ++v) args[k++] = m.variables[v];
    const int32_t rc = wobmth(manager, nullptr, kKyrMethodPublishMatrix, k, args);
    kyr_failed(rc);
    return rc;
}

MatrixPieces::MatrixPieces(HostObject* manager) {
    KyrArg create[] = {kyr_counted(kAttrFamily, "kyr", 3), kyr_counted(kAttrClass, "matrix", 6),
                       kyr_object(kAttrHandle, nullptr)};
    ok_ = !kyr_failed(wobmth(manager, nullptr, kKyrMethodCreate, 3, create));
    if (ok_) matrix_ = create[2].object;
}

MatrixPieces::~MatrixPieces() {
    close();
}

void MatrixPieces::close() {
    if (matrix_ != nullptr) kyr_failed(kyr_group_close(matrix_));
    matrix_ = nullptr;
    ok_ = false;
}

bool MatrixPieces::check(int32_t status) {
    if (kyr_failed(status)) ok_ = false;
    return ok_;
}

bool MatrixPieces::piece(KyrArg* entries, int32_t n) {
    return ok_ && check(wobmth(matrix_, nullptr, kKyrMethodMatrixData, n, entries));
}

bool MatrixPieces::publish(KyrArg* entries, int32_t n) {
    return ok_ && check(wobmth(matrix_, nullptr, kKyrMethodPublishMatrix, n, entries));
}
