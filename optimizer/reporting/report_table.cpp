// The data tables and note lines of the optimizer's reports (see
// report_table.h), over the host's output-table protocol.
#include "optimizer/reporting/report_table.h"

#include <cstring>
#include <string>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace velix::report {

int32_t number_digits(int32_t count) { return count <= 998 ? 3 : count <= 9998 ? 4 : 5; }

ReportTable::ReportTable(HostObject* manager, const char* name, int32_t title) : manager_(manager), name_(name) {
    check(kyr_table_create(manager_, name, kyrmsg(kMsgNlp, title), &table_));
}

void ReportTable::check(int32_t status) {
    if (!ok_ || !kyr_failed(status)) return;
    xprrlog(0, status);
    ok_ = false;
}

void ReportTable::title_variable(const char* variable, HostText* text) {
    if (!ok_) return;
    KyrArg args[] = {kyr_text(kAttrVariableName, kyrtxt(variable, -1)), kyr_text(kAttrValue, text)};
    check(wobmth(table_, nullptr, kKyrMethodDynamicVariable, 2, args));
}

void ReportTable::integer(const char* name, const int32_t* cell, int32_t digits) {
    if (!ok_) return;
    const KyrArg extra = kyr_int(kAttrDisplayWidth, digits);
    check(kyr_table_column(table_, kColInteger, name, cell, &extra, 1));
}

void ReportTable::real(const char* name, const double* cell, const char* templateColumn) {
    if (!ok_) return;
    const KyrArg extra = kyr_text(kAttrTemplatePath, templateColumn != nullptr ? kyrtxt(templateColumn, -1) : nullptr);
    check(kyr_table_column(table_, kColDouble, name, cell, &extra, templateColumn != nullptr ? 1 : 0));
}

void ReportTable::chars(const char* name, const char* cell, int32_t width, const char* templateColumn) {
    if (!ok_) return;
    KyrArg extra[2] = {kyr_int(kAttrWidth, width)};
    int32_t count = 1;
    if (templateColumn != nullptr) extra[count++] = kyr_text(kAttrTemplatePath, kyrtxt(templateColumn, -1));
    check(kyr_table_column(table_, kColChars, name, cell, extra, count));
}

void ReportTable::bind() {
    if (!ok_) return;
    check(kyr_table_end_columns(table_));
    if (!ok_) return;
    const std::string path = std::string("Orvo.NLP.") + name_;
    check(kyr_table_bind(manager_, table_, path, &output_));
}

void ReportTable::row() {
    if (ok_) check(kyr_table_add_row(table_));
}

void ReportTable::deliver() {
    if (!ok_) return;
    check(kyr_table_end_rows(table_));
    if (ok_) check(kyr_table_deliver(manager_, output_));
}

bool centred_note(HostObject* manager, HostText* text, int32_t level) {
    KyrArg args[] = {kyr_text(kAttrText, text), kyr_int(kAttrSwitch280, level), kyr_int(kAttrSwitch371, 1), kyr_char(kAttrJustify, 'c')};
    const int32_t rc = wobmth(manager, nullptr, kKyrMethodNote, 4, args);
    if (!kyr_failed(rc)) return true;
    xprrlog(0, rc);
    return false;
}

void parameter_label(const NlpProblem* p, int32_t i, char* out, int32_t width) {
    std::memset(out, ' ', static_cast<size_t>(width));
    out[width] = '\0';
    if (p->param.paramNameWidth > 0 && p->param.paramNames != nullptr) {
        const NameRecord& r = p->param.paramNames[i];
        const int32_t len = r.length < width ? r.length : width;
        std::memcpy(out, r.text, static_cast<size_t>(len));
    } else {
        znamfix(0, "X       ", 8, i + 1, 0, out, width < 8 ? width : 8);
    }
}

double shown(const NlpProblem* p, double v) { return p->shape.maximize != 0 && !wzmis(v) ? -v : v; }

}  // namespace velix::report
