// The host's statement-compiler services: the module-facing side of the
// platform's compiler (platform/compiler/).  Each step's CmpWork gets one
// compiler state from cmpinit; the states are freed when the step ends.
// Statement errors and run reports go to the log in the texts of the host's
// message group, listings to the listing; line numbers are those of the
// program file.
#include "velix/host_compiler.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/compiler/program.h"
#include "platform/messages.h"
#include "platform/print.h"
#include "platform/session.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

namespace {

using velix::compiler::Diagnostic;
using velix::compiler::Program;

// Width of the listing lines of a symbol list.
constexpr size_t kListWidth = 72;
// Size estimate of the work pool that cmpdfla hands out.
constexpr int64_t kDerivPoolBytes = 4096;

struct CompilerState {
    CmpHandle* handle = nullptr;
    std::unique_ptr<Program> program = std::make_unique<Program>();
    bool compiled = false;
    bool generated = false;
    int32_t listing = 0;
    std::vector<CmpSource> pieces;                  // what was compiled
    std::vector<std::unique_ptr<std::string>> texts;  // their text
    std::vector<std::unique_ptr<std::vector<CmpSymbol*>>> lists;  // arrays of cmplstb
    struct AreaNames {
        const CmpDerivArea* area;
        std::vector<std::string> exprs, vars;
    };
    std::vector<AreaNames> areaNames;
};

std::vector<std::unique_ptr<CompilerState>>& states() {
    static std::vector<std::unique_ptr<CompilerState>> all;
    return all;
}

const velix::platform::StepHooks kHooks("statement compiler", [] {}, [] { states().clear(); });

CompilerState* state_of(CmpWork* work) {
    return work ? static_cast<CompilerState*>(work->compiler) : nullptr;
}

int32_t finish(CmpWork* work, int32_t status) {
    if (work) work->status = status;
    return status;
}

std::string name_of(const CmpSymbol* s) { return std::string(s->name, static_cast<size_t>(s->nameLength)); }

// The line of a piece that holds (line, column), for a caret display.
bool source_line(const CompilerState& st, int32_t line, int32_t column, std::string* text) {
    for (const CmpSource& p : st.pieces) {
        int32_t l = p.line;
        int32_t startColumn = p.column;
        size_t b = 0;
        std::string s(p.text, static_cast<size_t>(p.length));
        while (l < line) {
            size_t nl = s.find('\n', b);
            if (nl == std::string::npos) break;
            b = nl + 1;
            ++l;
            startColumn = 1;
        }
        if (l != line) continue;
        size_t e = s.find('\n', b);
        std::string seg = s.substr(b, e == std::string::npos ? std::string::npos : e - b);
        if (column < startColumn || column > startColumn + static_cast<int32_t>(seg.size())) continue;
        *text = std::string(static_cast<size_t>(startColumn - 1), ' ') + seg;
        return true;
    }
    return false;
}

void log_statement_error(const CompilerState& st, const Diagnostic& d) {
    std::string out =
        velix::platform::format_message(kMsgHost, kMsgHostErrorAt, d.message.c_str(), d.line, d.column) + "\n";
    std::string text;
    if (source_line(st, d.line, d.column, &text)) {
        std::string caret;
        for (int32_t k = 1; k < d.column && k <= static_cast<int32_t>(text.size()); ++k)
            caret.push_back(text[static_cast<size_t>(k) - 1] == '\t' ? '\t' : ' ');
        out += text + "\n" + caret + "^\n";
    }
    velix::platform::write_log(out);
}

// What went wrong in a run that ended with an execution fault: the text
// that the line placing the fault (kMsgHostErrorAt) begins with.
std::string fault_text(velix::compiler::FaultCode fault) {
    using velix::platform::format_message;
    switch (fault) {
        case velix::compiler::kFaultSubscript: return format_message(kMsgHost, kMsgHostFaultSubscript);
        case velix::compiler::kFaultNoWhen: return format_message(kMsgHost, kMsgHostFaultNoWhen);
        case velix::compiler::kFaultDoControl: return format_message(kMsgHost, kMsgHostFaultDoControl);
        case velix::compiler::kFaultLinkDepth: return format_message(kMsgHost, kMsgHostFaultLinkDepth);
        case velix::compiler::kFaultLoopCap:
            return format_message(kMsgHost, kMsgHostFaultLoopCap, velix::compiler::kMaxLoopIterations);
        case velix::compiler::kFaultTimeLimit: return format_message(kMsgHost, kMsgHostFaultTimeLimit);
        default: return format_message(kMsgHost, kMsgHostFault);
    }
}

// Lists "line:column count" for the places with a nonzero count.
void log_places(const Program& program, const std::vector<int32_t>& counts, int32_t limit) {
    std::string out;
    int32_t shown = 0;
    for (size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] == 0) continue;
        if (limit >= 0 && shown >= limit) break;
        const velix::compiler::Place& p = program.places()[k];
        out += "      " + std::to_string(p.line) + ":" + std::to_string(p.column) + "   " +
               std::to_string(counts[k]) + "\n";
        ++shown;
    }
    if (!out.empty()) velix::platform::write_log("      (Line):(Column)   (Number of times)\n" + out);
}

}  // namespace

int32_t cmpinit(CmpHandle* handle, CmpWork* work) {
    if (!work) return kCmpMisuse;
    auto st = std::make_unique<CompilerState>();
    st->handle = handle;
    work->compiler = st.get();
    work->program = st->program.get();
    states().push_back(std::move(st));
    return finish(work, 0);
}

int32_t cmpcomp(const CmpSource* pieces, int32_t count, int32_t* statements, CmpWork* work) {
    if (statements) *statements = 0;
    CompilerState* st = state_of(work);
    if (!st || st->compiled || count < 0 || (count > 0 && !pieces)) return finish(work, kCmpMisuse);
    for (int32_t k = 0; k < count; ++k) {
        st->texts.push_back(std::make_unique<std::string>(pieces[k].text ? pieces[k].text : "",
                                                          static_cast<size_t>(std::max(0, pieces[k].length))));
        CmpSource s = pieces[k];
        s.text = st->texts.back()->data();
        s.length = static_cast<int32_t>(st->texts.back()->size());
        st->pieces.push_back(s);
    }
    std::vector<Diagnostic> errors;
    if (!st->program->compile(st->pieces.data(), count, &errors)) {
        for (const Diagnostic& d : errors) log_statement_error(*st, d);
        return finish(work, kCmpCompileError);
    }
    st->compiled = true;
    if (statements) *statements = st->program->statement_count();
    return finish(work, 0);
}

int32_t cmpsyma(const char* name, int32_t length, char valueType, int32_t size, double* cell,
                CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !name || length <= 0 || valueType != 'n' || size != 8 || !cell)
        return finish(work, kCmpMisuse);
    st->program->bind(name, length, cell);
    return finish(work, 0);
}

CmpSymbol* cmpsyms(const char* name, int32_t length, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !name) return nullptr;
    return st->program->find(name, length);
}

int32_t cmplstb(CmpList* list, int32_t kind, int32_t mode, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!list) return finish(work, kCmpMisuse);
    *list = CmpList();
    if (!st) return finish(work, kCmpMisuse);
    auto symbols = std::make_unique<std::vector<CmpSymbol*>>();
    for (CmpSymbol* s = st->program->chain(); s; s = s->next)
        if (s->kind == kind) symbols->push_back(s);
    list->count = static_cast<int32_t>(symbols->size());
    list->symbols = symbols->empty() ? nullptr : symbols->data();
    st->lists.push_back(std::move(symbols));
    return finish(work, 0);
}

CmpSymbol* cmplstv(CmpWork* work) {
    CompilerState* st = state_of(work);
    return st ? st->program->chain() : nullptr;
}

int32_t cmpplst(const CmpList* list, const char* title, int32_t, int32_t, int32_t, int32_t, int32_t,
                CmpWork* work) {
    if (!list) return finish(work, kCmpMisuse);
    std::string head = title ? title : "";
    std::string indent(head.size() + 1, ' ');
    std::string out, line = head;
    for (int32_t k = 0; k < list->count; ++k) {
        std::string n = name_of(list->symbols[k]);
        if (line.size() + 1 + n.size() > kListWidth && line.size() > indent.size()) {
            out += line + "\n";
            line = indent.substr(0, indent.size() - 1);
        }
        line += " " + n;
    }
    out += line + "\n";
    velix::platform::write_listing(out);
    return finish(work, 0);
}

int32_t cmpdfla(HostAllocator** pool, int32_t, int32_t, int32_t listing, int32_t, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !pool) return finish(work, kCmpMisuse);
    st->listing = listing;
    *pool = xmpoolc(kDerivPoolBytes, 1024, 4096);
    return finish(work, *pool ? 0 : kMemoryShortage);
}

int32_t cmpder(CmpDerivArea* area, const CmpList* exprs, const CmpList* vars, int32_t exprCode,
               int32_t varCode, int32_t, int32_t, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !st->compiled || !area || !exprs || !vars || (exprCode != 101 && exprCode != 102) ||
        varCode != 101)
        return finish(work, kCmpMisuse);
    *area = CmpDerivArea();
    st->program->add_derivatives(area, exprs->symbols, exprs->count, vars->symbols, vars->count);
    CompilerState::AreaNames names{area, {}, {}};
    for (int32_t k = 0; k < exprs->count; ++k) names.exprs.push_back(name_of(exprs->symbols[k]));
    for (int32_t k = 0; k < vars->count; ++k) names.vars.push_back(name_of(vars->symbols[k]));
    st->areaNames.push_back(std::move(names));
    return finish(work, 0);
}

int32_t cmppsts(const char* title, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st) return finish(work, kCmpMisuse);
    std::string out = std::string(title ? title : "") + "\n";
    for (const std::string& t : st->program->statement_texts()) out += "    " + t + "\n";
    velix::platform::write_listing(out);
    return finish(work, 0);
}

int32_t cmppder(const CmpDerivArea* area, const char* title, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !area) return finish(work, kCmpMisuse);
    const CompilerState::AreaNames* names = nullptr;
    for (const auto& n : st->areaNames)
        if (n.area == area) names = &n;
    if (!names) return finish(work, kCmpMisuse);
    std::string out = std::string(title ? title : "") + "\n";
    for (int32_t t = 0; t < area->count; ++t)
        out += "    D(" + names->exprs[static_cast<size_t>(area->exprIndex[t])] + ")/D(" +
               names->vars[static_cast<size_t>(area->varIndex[t])] + ")\n";
    velix::platform::write_listing(out);
    return finish(work, 0);
}

int32_t cmpchck(int32_t, int32_t* notes, int32_t* faults, int32_t, CmpWork* work) {
    if (notes) *notes = 0;
    if (faults) *faults = 0;
    CompilerState* st = state_of(work);
    if (!st || !st->compiled) return finish(work, kCmpMisuse);
    // A symbol that the program reads but that nothing gives a value (no
    // assignment, no cell of the host, not taken over by the module) is
    // missing at every run: a fault.
    int32_t n = 0;
    for (CmpSymbol* s = st->program->chain(); s; s = s->next) {
        if (s->valueType != 'n' || !(s->flags & kCmpReferenced) || (s->flags & kCmpAssigned) ||
            s->binding == 'a' || (s->flags & kCmpBoundByHost) || st->program->has_initial_value(s))
            continue;
        ++n;
        const velix::compiler::Place first = st->program->first_use(s);
        velix::platform::write_log(velix::platform::format_message(kMsgHost, kMsgHostNeverGivenValue,
                                                                   name_of(s).c_str(), first.line, first.column) +
                                   "\n");
    }
    if (faults) *faults = n;
    return finish(work, 0);
}

int32_t cmppdv(int32_t, void*, int32_t, CmpWork* work) {
    CompilerState* st = state_of(work);
    return finish(work, st && st->compiled ? 0 : kCmpMisuse);
}

int32_t cmpgen(CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !st->compiled) return finish(work, kCmpMisuse);
    st->generated = true;
    return finish(work, 0);
}

int32_t cmpexi(int32_t mode, int32_t, int32_t, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || !st->compiled) return finish(work, kCmpMisuse);
    if (mode == 1) st->program->reset();
    return finish(work, 0);
}

// The constraint option (first argument) asks for the constraint
// statements too; in this language the constraint values are ordinary
// program variables, computed by every run.  The quiet options (seventh and
// eighth) concern reports, which the caller makes with cmppxrc, cmpperr and
// cmppmis.
int32_t cmprun(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t derivatives, int32_t, int32_t,
               int32_t* errors, int32_t* missing, CmpWork* work) {
    if (errors) *errors = 0;
    if (missing) *missing = 0;
    CompilerState* st = state_of(work);
    if (!st || !st->compiled) {
        finish(work, kCmpMisuse);
        return kCmpRunFault;
    }
    int32_t result = st->program->run(derivatives != 0);
    if (errors) *errors = st->program->error_total();
    if (missing) *missing = st->program->missing_total();
    finish(work, 0);
    return result;
}

int32_t cmptime(double maxSeconds, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st) return finish(work, kCmpMisuse);
    st->program->set_time_limit(maxSeconds);
    return finish(work, 0);
}

void cmppxrc(int32_t result, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || result == kCmpRunEnd) return;
    using velix::platform::format_message;
    const Program& p = *st->program;
    std::string text;
    switch (result) {
        case kCmpRunStop:
            text = format_message(kMsgHost, kMsgHostStopStatement, p.end_place().line, p.end_place().column);
            break;
        case kCmpRunAbort:
            text = format_message(kMsgHost, kMsgHostAbortStatement, p.end_place().line, p.end_place().column);
            break;
        case kCmpRunFault:
            text = format_message(kMsgHost, kMsgHostErrorAt, fault_text(p.fault()).c_str(), p.fault_place().line,
                                  p.fault_place().column);
            break;
        default:
            text = format_message(kMsgHost, kMsgHostProgramResult, result);
            break;
    }
    velix::platform::write_log(text + "\n");
}

void cmpperr(int32_t, int32_t limit, CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || st->program->error_total() == 0) return;
    velix::platform::write_log(velix::platform::format_message(kMsgHost, kMsgHostInvalidOperations) + "\n");
    log_places(*st->program, st->program->error_counts(), limit);
}

void cmppmis(CmpWork* work) {
    CompilerState* st = state_of(work);
    if (!st || st->program->missing_total() == 0) return;
    velix::platform::write_log(velix::platform::format_message(kMsgHost, kMsgHostMissingOperations) + "\n");
    log_places(*st->program, st->program->missing_counts(), -1);
}
