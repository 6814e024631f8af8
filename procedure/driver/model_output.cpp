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
        kyr_object(144, nullptr),
        kyr_word2(435, 0),
        kyr_counted(138, name, static_cast<int32_t>(std::char_traits<char>::length(name))),
        kyr_text(296, kyrmsg(kMsgProc, label)),
    };
    int32_t rc = wobmth(ctx->kyrManager, nullptr, 300, 4, args);
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
    KyrArg args[] = {kyr_text(577, kyrmsg(kMsgProc, number)), kyr_int(280, 1), kyr_int(371, 1),
                     kyr_char(273, 'l')};
    const int32_t rc = wobmth(ctx->kyrManager, nullptr, 358, 4, args);
    if (rc < 0) {
        xprrlog(0, rc);
        return false;
    }
    return true;
}

OutputTable::OutputTable(ProcContext* ctx, const char* name, int32_t title, const char* templatePath,
                         int32_t titleText, int32_t titleArg)
    : ctx_(ctx), templatePath_(templatePath) {
    if (ctx->kyrManager == nullptr) {
        ok_ = false;
        return;
    }
    KyrArg args[] = {
        kyr_counted(143, "kyr", 3),
        kyr_counted(146, "data", 4),
        kyr_object(144, nullptr),
        kyr_int(148, -1),
        kyr_counted(138, name, static_cast<int32_t>(std::char_traits<char>::length(name))),
        kyr_text(296, kyrmsg(kMsgProc, title)),
    };
    if (!call(ctx->kyrManager, 147, 6, args)) return;
    table_ = args[2].object;
    if (titleText > 0)
        titleText_ = titleArg >= 0 ? kyrmsgs(kMsgProc, titleText, titleArg) : kyrmsg(kMsgProc, titleText);
}

bool OutputTable::call(HostObject* object, uint32_t method, int32_t count, KyrArg* args) {
    if (!ok_) return false;
    int32_t rc = wobmth(object, nullptr, method, count, args);
    if (rc < 0) {
        xprrlog(0, rc);
        ok_ = false;
    }
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
    for (Column& c : columns_) {
        void* cell = c.kind == 66 ? static_cast<void*>(&c.text)
                                  : c.kind == 3 ? static_cast<void*>(&c.integer) : static_cast<void*>(&c.number);
        KyrArg args[] = {
            kyr_int(103, c.kind),
            kyr_counted(138, c.name.c_str(), static_cast<int32_t>(c.name.size())),
            kyr_address(285, kKyrCell, cell),
            kyr_int(289, c.width),
        };
        if (!call(table_, 338, c.kind == 66 ? 4 : 3, args)) return false;
    }
    if (!call(table_, 298, 0, nullptr)) return false;
    KyrArg bind[] = {
        kyr_object(0, nullptr),
        kyr_object(0, table_),
        kyr_counted(339, templatePath_.c_str(), static_cast<int32_t>(templatePath_.size())),
        kyr_counted(311, "titletext", 9),
        kyr_text(287, titleText_),
    };
    if (!call(ctx_->kyrManager, 422, titleText_ ? 5 : 3, bind)) return false;
    handle_ = bind[0].object;
    return true;
}

void OutputTable::set_text(size_t column, const std::string& text) {
    columns_[column].text = kyrtxt(text.c_str(), static_cast<int32_t>(text.size()));
}
void OutputTable::set_int(size_t column, int32_t v) { columns_[column].integer = v; }
void OutputTable::set_double(size_t column, double v) { columns_[column].number = v; }

bool OutputTable::add_row() { return call(table_, 329, 0, nullptr); }

bool OutputTable::deliver() {
    if (!call(table_, 299, 0, nullptr)) return false;
    KyrArg args[] = {kyr_object(0, handle_)};
    return call(ctx_->kyrManager, 428, 1, args);
}
