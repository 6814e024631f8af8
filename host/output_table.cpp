// The output-table protocol: each step of building a data table is one
// method call on the manager or the table with a fixed entry list.  The
// name-like entries come either as characters (sent as a counted string)
// or as a host text handle; both forms end in the same call.
#include "host/output_table.h"

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

int32_t kyr_note(HostObject* manager, HostText* text, char justify) {
    KyrArg args[] = {kyr_text(kAttrText, text), kyr_int(kAttrSwitch280, 1), kyr_int(kAttrSwitch371, 1), kyr_char(kAttrJustify, justify)};
    return wobmth(manager, nullptr, kKyrMethodNote, 4, args);
}
