// The output-table protocol for the model tables: create the data object,
// define its columns on cells of this object, end the columns, bind it to
// its template, add rows (the host reads the cells at each row), end the
// rows and deliver.
#include "procedure/driver/model_output.h"

#include "host/host_support.h"
#include "procedure/driver/model.h"

HostObject* open_output_group(ProcContext* ctx, const char* name, int32_t label) {
    if (ctx->kyrManager == nullptr) return nullptr;
    KyrArg args[] = {
        kyr_object(kAttrHandle, nullptr),
        kyr_word2(kAttrGroupWord, 0),
        kyr_counted(kAttrName, name, static_cast<int32_t>(std::char_traits<char>::length(name))),
        kyr_text(kAttrLabel, kyrmsg(kMsgProc, label)),
    };
    int32_t rc = wobmth(ctx->kyrManager, nullptr, kKyrMethodOpenGroup, 4, args);
    if (rc < 0) {
        xprrlog(0, rc);
        return nullptr;
    }
    return args[0].object;
}

void close_output_group(HostObject* group) {
    if (group == nullptr || group->cls == nullptr || group->cls->closeDescriptor == nullptr) return;
    int32_t rc = group->cls->closeDescriptor->function(group, group->cls->closeDatum, 4, 0, nullptr);
    if (rc < 0) xprrlog(0, rc);
}

bool listing_line(ProcContext* ctx, int32_t number) {
    if (ctx->kyrManager == nullptr) return false;
    return !kyr_failed(kyr_note(ctx->kyrManager, kyrmsg(kMsgProc, number), 'l'));
}

OutputTable::OutputTable(ProcContext* ctx, const char* name, int32_t title, const char* templatePath,
                         int32_t titleText, int32_t titleArg)
    : ctx_(ctx), templatePath_(templatePath) {
    if (ctx->kyrManager == nullptr) {
        ok_ = false;
        return;
    }
    if (!check(kyr_table_create(ctx->kyrManager, name, kyrmsg(kMsgProc, title), &table_))) return;
    if (titleText > 0)
        titleText_ = titleArg >= 0 ? kyrmsgs(kMsgProc, titleText, titleArg) : kyrmsg(kMsgProc, titleText);
}

bool OutputTable::check(int32_t status) {
    if (kyr_failed(status)) ok_ = false;
    return ok_;
}

void OutputTable::text_column(const std::string& name, int32_t width) {
    Column c;
    c.name = name;
    c.kind = 66;
    c.width = width;
    columns_.push_back(c);
}
void OutputTable::int_column(const std::string& name) {
    Column c;
    c.name = name;
    c.kind = 3;
    columns_.push_back(c);
}
void OutputTable::double_column(const std::string& name) {
    Column c;
    c.name = name;
    c.kind = 5;
    columns_.push_back(c);
}

bool OutputTable::end_columns() {
    if (!ok_) return false;
    for (Column& c : columns_) {
        void* cell = c.kind == 66 ? static_cast<void*>(&c.text)
                                  : c.kind == 3 ? static_cast<void*>(&c.integer) : static_cast<void*>(&c.number);
        // A text column states its width; the others take the host's.
        const KyrArg width[] = {kyr_int(kAttrWidth, c.width)};
        if (!check(kyr_table_column(table_, c.kind, c.name, cell, width, c.kind == 66 ? 1 : 0)))
            return false;
    }
    if (!check(kyr_table_end_columns(table_))) return false;
    const KyrArg title[] = {kyr_counted(kAttrVariableName, "titletext", 9), kyr_text(kAttrValue, titleText_)};
    const int32_t nTitle = titleText_ != nullptr ? 2 : 0;
    return check(kyr_table_bind(ctx_->kyrManager, table_, templatePath_, &handle_, title, nTitle));
}

void OutputTable::set_text(size_t column, const std::string& text) {
    columns_[column].text = kyrtxt(text.c_str(), static_cast<int32_t>(text.size()));
}
void OutputTable::set_int(size_t column, int32_t v) { columns_[column].integer = v; }
void OutputTable::set_double(size_t column, double v) { columns_[column].number = v; }

bool OutputTable::add_row() { return ok_ && check(kyr_table_add_row(table_)); }

bool OutputTable::deliver() {
    if (!ok_ || !check(kyr_table_end_rows(table_))) return false;
    return check(kyr_table_deliver(ctx_->kyrManager, handle_));
}
