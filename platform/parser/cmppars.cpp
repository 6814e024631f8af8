// The statement parser: recursive descent over the token stream of one
// step, driven by the procedure's StatementGrammar (which word starts which
// statement form, which option fills which cell or flag bit) and its keyword
// table (which words exist, which spellings are aliases).  Each statement
// becomes a StatementNode with a payload struct; the first node is the PROC
// statement.  A syntax error stops the parse: it is logged with the line,
// the column and a caret under the offending token, and the parse status is
// kLevelInputError, so nothing of the step runs.
//
// Payloads are allocated from a per-step arena that the step's end frees.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/dataset.h"
#include "platform/messages.h"
#include "platform/parser/lexer.h"
#include "platform/print.h"
#include "platform/session.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_compiler.h"
#include "velix/messages.h"
#include "velix/statements.h"

namespace velix::platform::parser {

namespace {

constexpr int32_t kNameWidth = 32;  // NameRecord text width
// Counts and indices of some payload tables are 16-bit (the parameter
// items, the COSAN matrices), and so are the variable numbers of a data
// set: no statement may hold more names than they count, and no name range
// may run over more numbers.
constexpr size_t kMaxNames = 32767;
// Longest token text quoted in a message; a longer one is cut with "...".
constexpr size_t kQuotedTokenWidth = 40;

// ---- per-step arena ----

struct Arena {
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    void clear() { blocks.clear(); }
    void* get(size_t bytes) {
        blocks.emplace_back(new unsigned char[bytes == 0 ? 1 : bytes]());
        return blocks.back().get();
    }
};

Arena& arena() {
    static Arena a;
    return a;
}

const StepHooks kArenaHooks("parser", [] { arena().clear(); }, [] { arena().clear(); });

template <typename T>
T* make_array(size_t n) {
    T* p = static_cast<T*>(arena().get(sizeof(T) * n));
    for (size_t i = 0; i < n; ++i) new (p + i) T();
    return p;
}

template <typename T>
T* make_copy(const std::vector<T>& v) {
    T* p = make_array<T>(v.size());
    std::copy(v.begin(), v.end(), p);
    return p;
}

// A payload made of one counted array.
template <typename P, typename E>
P* pack(const std::vector<E>& v, int32_t P::*count, E* P::*array) {
    P* p = make_array<P>(1);
    p->*count = static_cast<int32_t>(v.size());
    p->*array = make_copy(v);
    return p;
}

const char* make_text(const std::string& s) {
    char* p = make_array<char>(s.size() + 1);
    std::memcpy(p, s.data(), s.size());
    return p;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

NameRecord name_record(const std::string& s) {
    NameRecord r;
    r.length = static_cast<int16_t>(s.size());
    std::memset(r.text, ' ', sizeof r.text);
    std::memcpy(r.text, s.data(), std::min<size_t>(s.size(), sizeof r.text));
    return r;
}

NameArray name_array(const std::vector<NameRecord>& v) {
    NameArray a;
    a.count = static_cast<int32_t>(v.size());
    a.names = make_copy(v);
    return a;
}

// ---- errors ----

struct SyntaxError {
    std::string message;
    int32_t line;
    int32_t column;
};

// ---- the keyword table ----

class Keywords {
public:
    Keywords(const GrammarDescriptor* d) {
        const StatementGrammar* g = d->grammar;
        // Of the grammar's names only the alias spellings (marked by a
        // trailing '$') are looked up by text.
        for (int32_t i = kTokenClassCount; i < d->nNames; ++i) {
            const unsigned char* p = d->keywordNames + d->nameOffsets[i];
            if (p[0] > 1 && p[p[0]] == '$')
                aliases_.insert(upper(std::string(reinterpret_cast<const char*>(p + 1), p[0] - 1)));
        }
        for (int32_t i = 0; i < g->nAliases; ++i) aliasOf_[g->aliases[i].alias] = g->aliases[i].full;
    }

    // The full word a name stands for: itself, or the word of its alias
    // spelling; "" when the name is an alias the grammar does not use.
    std::string full(const std::string& name) const {
        std::string u = upper(name);
        if (aliases_.count(u)) {
            auto it = aliasOf_.find(u);
            return it == aliasOf_.end() ? std::string() : it->second;
        }
        return u;
    }

private:
    std::set<std::string> aliases_;
    std::map<std::string, std::string> aliasOf_;
};

// Programming-statement words: a statement that starts with one of them, or
// with a name followed by "=" or "[", is handed to the statement compiler.
const std::set<std::string> kProgramWords = {
    "IF", "ELSE", "DO", "END", "ARRAY", "SELECT", "WHEN", "OTHERWISE", "GOTO", "GO",
    "LINK", "RETURN", "STOP", "ABORT", "CALL", "PUT", "DELETE", "LABEL", "LENGTH",
    "RETAIN", "DROP", "KEEP", "ATTRIB", "FORMAT", "SUBSTR"};

// ---- the parser ----

class Parser {
public:
    Parser(const GrammarDescriptor* d, const std::string& src)
        : grammar_(d->grammar), keywords_(d), tokens_(tokenize(src)), src_(src) {}

    void run(ParseResult* result, ParseArea2* area2) {
        StatementNode* head = nullptr;
        StatementNode** tail = &head;
        ProgramStatement** ptail = &area2->program;

        // The PROC statement.
        StatementNode* proc = new_node(*grammar_->procStatement, peek());
        auto* rec = make_array<ProcOptionRecord>(1);
        proc->payload = rec;
        if (is_word("PROC")) {
            next();
            if (!is_word("VELIX")) error("expected VELIX after PROC");
            next();
        }
        read_options(*grammar_->procStatement, proc, rec->cells, rec);
        expect(";");
        *tail = proc;
        tail = &proc->next;

        while (peek().kind != TokenKind::kEnd) {
            if (is_op(";")) {
                next();
                continue;
            }
            const Token* afterLineqs = lineqsEnd_;
            lineqsEnd_ = nullptr;
            const Token& first = peek();
            if (first.kind != TokenKind::kName) error("a statement must begin with a word");
            std::string word = upper(first.text);
            if (word == "RUN" || word == "QUIT") {
                next();
                expect(";");
                break;
            }
            if (word == "PROC") break;  // the next step begins
            if (word == "TITLE" || (word.size() > 5 && word.rfind("TITLE", 0) == 0 &&
                                    std::all_of(word.begin() + 5, word.end(), ::isdigit))) {
                read_title(word);
                continue;
            }
            if (word == "OPTIONS" && peek(1).kind == TokenKind::kName) {
                read_host_options();
                continue;
            }
            lavaan_operator();
            if (is_program_statement()) {
                if (afterLineqs != nullptr && lineqs_term_follows()) {
                    const Token& end = *afterLineqs;
                    throw SyntaxError{format_message(kMsgHost, kMsgHostLineqsSemicolon), end.line, end.column};
                }
                *ptail = read_program_statement();
                ptail = &(*ptail)->next;
                ++area2->nProgramStatements;
                continue;
            }
            const StatementSpec* spec = find_statement(keywords_.full(first.text));
            if (spec == nullptr) error("statement " + word + " is not known");
            next();
            if (spec->form == StatementForm::kVarList) {
                read_var_list_statement(*spec, rec);
                continue;
            }
            StatementNode* node = new_node(*spec, first);
            read_statement(*spec, node);
            lineqsEnd_ = spec->form == StatementForm::kLineqs ? &peek() : nullptr;
            expect(";");
            *tail = node;
            tail = &node->next;
        }
        for (int k = 0; k < kListCount; ++k)
            if (!lists_[k].empty()) {
                rec->lists[k] = name_array(lists_[k]);
                rec->listLines[k] = make_copy(listLines_[k]);
            }
        open_data_sets(rec);
        result->root = head;
        result->status = 0;
    }

    // The TYPE the options after a data set's name give ("" when none):
    // TYPE= is the one option, and its value one of the TYPEs; anything
    // else would be dropped unseen (a misspelt option, a misspelt TYPE
    // that reads a matrix as raw data), so it is an error at the name.
    static std::string data_set_type(const DataSetCell& cell) {
        const std::vector<Token> t = tokenize(cell.options);
        std::string type;
        for (size_t i = 0; i < t.size() && t[i].kind != TokenKind::kEnd; i += 3) {
            const bool valued = i + 2 < t.size() && t[i + 1].text == "=";
            const bool pair = t[i].kind == TokenKind::kName && valued &&
                              (t[i + 2].kind == TokenKind::kName || t[i + 2].kind == TokenKind::kString);
            const std::string option = t[i].text + (valued ? "=" + t[i + 2].text : "");
            if (t[i].kind != TokenKind::kName || upper(t[i].text) != "TYPE")
                throw SyntaxError{format_message(kMsgHost, kMsgHostUnknownDataSetOption, option.c_str(), cell.name,
                                                 cell.name),
                                  cell.line, cell.column};
            type = valued ? upper(t[i + 2].text) : "";
            if (!pair || !known_type(type)) {
                const std::string given =
                    "Data-set option " + option + " of " + std::string(cell.name) + " gives TYPE=" + type;
                throw SyntaxError{format_message(kMsgHost, kMsgHostUnknownType, given.c_str(), known_types().c_str()),
                                  cell.line, cell.column};
            }
        }
        return type;
    }

    // Opens the data sets the PROC statement names (inputs for reading,
    // outputs for writing at the end of the step) and sets the BY
    // variables of DATA=.  A data set that cannot be opened is an error at
    // its name.
    void open_data_sets(ProcOptionRecord* rec) {
        static const bool kOutput[kDataSetCellCount] = {false, false, true, true,
                                                        false, true, true, false};
        static const char* const kRole[kDataSetCellCount] = {kRoleData, "INRAM=",  "OUTSTAT=", "OUTRAM=",
                                                             "INWGT=",  "OUTWGT=", "OUTEST=",  "INEST="};
        for (int k = 0; k < kDataSetCellCount; ++k) {
            DataSetCell& cell = rec->dataSets[k];
            if (cell.name == nullptr) continue;
            DataSetOptions opts;
            opts.role = kRole[k];
            if (cell.options) opts.type = data_set_type(cell);
            // The scan of DATA= sums the moments of each BY group apart.
            opts.sums = k == kCellData;
            const NameArray& by = rec->lists[kListBy];
            for (int32_t i = 0; k == kCellData && i < by.count; ++i)
                opts.by.emplace_back(by.names[i].text, by.names[i].length);
            std::string err;
            cell.handle = kOutput[k] ? dataset_create_output(cell.name, cell.quoted, opts, &err)
                                     : dataset_open_input(cell.name, cell.quoted, opts, &err);
            if (cell.handle == nullptr) throw SyntaxError{err, cell.line, cell.column};
        }
        const NameArray& by = rec->lists[kListBy];
        if (by.count > 0 && rec->dataSets[kCellData].handle) {
            std::vector<std::string> names;
            for (int32_t i = 0; i < by.count; ++i) names.emplace_back(by.names[i].text, by.names[i].length);
            std::string err;
            if (!dataset_set_by(rec->dataSets[kCellData].handle, names, rec->notSorted != 0, &err))
                throw SyntaxError{err, byLine_, byColumn_};
        }
    }

private:
    // ---- tokens ----
    const Token& peek(size_t k = 0) const {
        size_t i = std::min(pos_ + k, tokens_.size() - 1);
        return tokens_[i];
    }
    const Token& next() {
        const Token& t = tokens_[pos_];
        if (pos_ + 1 < tokens_.size()) ++pos_;
        return t;
    }
    bool is_op(const char* op, size_t k = 0) const {
        return peek(k).kind == TokenKind::kOp && peek(k).text == op;
    }
    bool is_word(const char* w, size_t k = 0) const {
        return peek(k).kind == TokenKind::kName && upper(peek(k).text) == w;
    }
    bool at_end_of_statement() const { return is_op(";") || peek().kind == TokenKind::kEnd; }
    void expect(const char* op) {
        if (!is_op(op)) error(std::string("expected \"") + op + "\"");
        next();
    }
    [[noreturn]] void error(const std::string& message) const { error_at(peek(), message); }
    // Appends the text cut to its first kQuotedTokenWidth characters, with
    // "..." when it was longer.
    static void append_token(std::string* out, const std::string& text) {
        out->append(text, 0, kQuotedTokenWidth);
        if (text.size() > kQuotedTokenWidth) out->append("...");
    }
    [[noreturn]] void error_at(const Token& t, const std::string& message) const {
        std::string m = message;
        if (t.kind == TokenKind::kEnd)
            m += " at the end of the step";
        else if (t.kind != TokenKind::kString) {
            m += " (found \"";
            append_token(&m, t.text);
            m += "\")";
        }
        m += dotted_name_at(t);
        throw SyntaxError{m, t.line, t.column};
    }
    // A "." between two names with no blank ("Wr.Hnd", as R's make.names
    // writes a name) is a variable name no statement can hold: what to do,
    // after ": ", or "" at any other token.
    std::string dotted_name_at(const Token& t) const {
        const Token* first = tokens_.data();
        if (t.kind != TokenKind::kMissing || &t <= first || &t + 1 >= first + tokens_.size()) return "";
        const Token& before = *(&t - 1);
        const Token& after = *(&t + 1);
        if (before.kind != TokenKind::kName || before.endOffset != t.offset || after.kind != TokenKind::kName ||
            after.offset != t.endOffset)
            return "";
        const std::string name = before.text + "." + after.text;
        return ": " + format_message(kMsgHost, kMsgHostDottedName, name.c_str(),
                                     format_message(kMsgHost, kMsgHostNameRule, name.c_str()).c_str(),
                                     (before.text + "_" + after.text).c_str());
    }

    StatementNode* new_node(const StatementSpec& spec, const Token& at) {
        auto* n = make_array<StatementNode>(1);
        std::memcpy(n->keyword, spec.node, 8);
        n->line = at.line;
        n->column = at.column;
        return n;
    }

    const StatementSpec* find_statement(const std::string& word) const {
        for (int32_t i = 0; i < grammar_->nStatements; ++i)
            if (word == grammar_->statements[i].keyword) return &grammar_->statements[i];
        return nullptr;
    }

    // ---- values ----
    double read_number(const char* what) {
        double sign = 1.0;
        if (is_op("-") || is_op("+")) {
            if (next().text == "-") sign = -1.0;
        }
        if (peek().kind == TokenKind::kMissing && sign > 0) {
            next();
            return host_missing_value();
        }
        if (peek().kind != TokenKind::kNumber) error(std::string("expected ") + what);
        return sign * next().number;
    }
    bool number_ahead() const {
        if (peek().kind == TokenKind::kNumber || peek().kind == TokenKind::kMissing) return true;
        return (is_op("-") || is_op("+")) && peek(1).kind == TokenKind::kNumber;
    }

    std::string read_name(const char* what) {
        if (peek().kind != TokenKind::kName) error(std::string("expected ") + what);
        const Token& t = next();
        if (t.text.size() > kNameWidth) error_at(t, "a name is longer than 32 characters");
        return t.text;
    }

    static bool is_prefix_name(const std::string& n) {
        return n.size() > 2 && n.compare(n.size() - 2, 2, "__") == 0;
    }

    // Expands "x1-x9" at the current position into `out`; a single name
    // when no range follows.
    void read_name_or_range(std::vector<NameRecord>* out, const char* what) {
        const Token& first = peek();
        std::string a = read_name(what);
        if (!(is_op("-") && peek(1).kind == TokenKind::kName)) {
            out->push_back(name_record(a));
            return;
        }
        next();
        std::string b = read_name("the end of a name range");
        expand_range(first, a, b, out);
    }

    void expand_range(const Token& at, const std::string& a, const std::string& b,
                      std::vector<NameRecord>* out) const {
        auto split = [](const std::string& s, std::string* stem, std::string* digits) {
            size_t k = s.size();
            while (k > 0 && std::isdigit(static_cast<unsigned char>(s[k - 1]))) --k;
            *stem = s.substr(0, k);
            *digits = s.substr(k);
        };
        std::string sa, da, sb, db;
        split(a, &sa, &da);
        split(b, &sb, &db);
        std::string range;
        append_token(&range, a);
        range += '-';
        append_token(&range, b);
        if (da.empty() || db.empty() || upper(sa) != upper(sb))
            error_at(at, "the range " + range + " does not join two numbered names");
        errno = 0;
        long long lo = std::strtoll(da.c_str(), nullptr, 10);
        long long hi = std::strtoll(db.c_str(), nullptr, 10);
        if (errno == ERANGE) error_at(at, "the numbers of the range " + range + " are too large");
        if (hi < lo) error_at(at, "the range " + range + " runs backwards");
        if (static_cast<unsigned long long>(hi - lo) >= kMaxNames)
            error_at(at, "the range " + range + " names more than " + std::to_string(kMaxNames) +
                             " names");
        // Leading zeros keep the width of the first number ("x01-x10").
        size_t width = da.size() > 1 && da[0] == '0' ? da.size() : 0;
        for (long long k = lo; k <= hi; ++k) {
            std::string num = std::to_string(k);
            if (num.size() < width) num.insert(0, width - num.size(), '0');
            std::string n = sa + num;
            if (n.size() > kNameWidth) error_at(at, "a name is longer than 32 characters");
            out->push_back(name_record(n));
        }
    }

    // A variable list: names, ranges, _NUMERIC_ and _ALL_ (kept as names,
    // resolved against the data set by the procedure).
    // A list of names and ranges; with `lines`, the line of each name.
    std::vector<NameRecord> read_var_list(const char* what, std::vector<int32_t>* lines = nullptr) {
        std::vector<NameRecord> v;
        while (peek().kind == TokenKind::kName) {
            const int32_t line = peek().line;
            read_name_or_range(&v, what);
            if (lines != nullptr) lines->resize(v.size(), line);
        }
        return v;
    }

    // ---- statements ----
    void read_var_list_statement(const StatementSpec& spec, ProcOptionRecord* rec) {
        std::vector<NameRecord> v;
        while (!at_end_of_statement()) {
            if (spec.listIndex == kListBy && v.empty()) {
                byLine_ = peek().line;
                byColumn_ = peek().column;
            }
            if (spec.listIndex == kListBy && is_word("NOTSORTED")) {
                next();
                rec->notSorted = 1;
                continue;
            }
            if (peek().kind != TokenKind::kName) error("expected a variable name");
            const int32_t line = peek().line;
            read_name_or_range(&v, "a variable name");
            listLines_[spec.listIndex].resize(lists_[spec.listIndex].size() + v.size(), line);
        }
        expect(";");
        if (v.empty()) error("the " + std::string(spec.keyword) + " statement lists no variable");
        // Repeated statements add to one list, copied into the record once
        // the step is read: copying at each statement would cost memory in
        // the square of their number.
        std::vector<NameRecord>& list = lists_[spec.listIndex];
        list.insert(list.end(), v.begin(), v.end());
    }

    void read_statement(const StatementSpec& spec, StatementNode* node) {
        switch (spec.form) {
            case StatementForm::kOptions: {
                auto* rec = make_array<ProcOptionRecord>(1);
                node->payload = rec;
                read_options(spec, node, rec->cells, rec);
                break;
            }
            case StatementForm::kLineqs: node->payload = read_lineqs(); break;
            case StatementForm::kStd: node->payload = read_variances(false); break;
            case StatementForm::kCov: node->payload = read_variances(true); break;
            case StatementForm::kRam: node->payload = read_ram(); break;
            case StatementForm::kVarnames: node->payload = read_varnames(); break;
            case StatementForm::kCosan: node->payload = read_cosan(); break;
            case StatementForm::kMatrix: node->payload = read_matrix(); break;
            case StatementForm::kFactor: node->payload = read_factor(spec, node); break;
            case StatementForm::kParameters: node->payload = read_parameters(); break;
            case StatementForm::kStructeq: {
                auto* p = make_array<NameListPayload>(1);
                p->names = name_array(read_var_list("a name"));
                node->payload = p;
                break;
            }
            case StatementForm::kBounds: node->payload = read_bounds(); break;
            case StatementForm::kLincon: node->payload = read_lincon(); break;
            case StatementForm::kNlincon: node->payload = read_nlincon(); break;
            case StatementForm::kProfile: node->payload = read_profile(spec, node); break;
            case StatementForm::kVarList: break;
        }
    }

    const OptionSpec* find_option(const StatementSpec& spec, const std::string& word) const {
        for (int32_t i = 0; i < spec.nOptions; ++i)
            if (word == spec.options[i].keyword) return &spec.options[i];
        return nullptr;
    }

    static void set_flag(StatementNode* node, const OptionSpec& o) {
        node->flags[o.byte - 12] |= o.bit;
    }

    // KEY[=value] ... up to the end of the statement (or a "/").
    void read_options(const StatementSpec& spec, StatementNode* node, OptionCell* cells,
                      ProcOptionRecord* rec) {
        while (!at_end_of_statement() && !is_op("/")) read_one_option(spec, node, cells, rec);
    }

    void read_one_option(const StatementSpec& spec, StatementNode* node, OptionCell* cells,
                         ProcOptionRecord* rec) {
        const Token& kt = peek();
        if (kt.kind != TokenKind::kName) error("expected an option");
        const OptionSpec* o = find_option(spec, keywords_.full(kt.text));
        if (o == nullptr)
            error_at(kt, "option " + upper(kt.text) + " is not valid in the " +
                             std::string(spec.keyword) + " statement");
        next();
        bool hasValue = is_op("=");
        switch (o->kind) {
            case OptionKind::kFlag:
                if (hasValue) error("option " + std::string(o->keyword) + " takes no value");
                set_flag(node, *o);
                return;
            case OptionKind::kFlagNumber:
                if (!hasValue) {
                    set_flag(node, *o);
                    return;
                }
                break;
            case OptionKind::kFlagWord:
                set_flag(node, *o);
                if (!hasValue) return;
                break;
            default:
                if (!hasValue) error("expected \"=\" after " + std::string(o->keyword));
                break;
        }
        next();  // "="
        OptionCell& cell = cells[o->cell];
        switch (o->kind) {
            case OptionKind::kNumber:
            case OptionKind::kFlagNumber:
                cell.given = 1;
                cell.value = read_number("a number");
                break;
            case OptionKind::kNumberPair:
                cell.given = 1;
                cell.value = read_number("a number");
                if (number_ahead()) {
                    cells[o->cell2].given = 1;
                    cells[o->cell2].value = read_number("a number");
                }
                break;
            case OptionKind::kWord:
            case OptionKind::kFlagWord:
            case OptionKind::kName: {
                const Token& vt = peek();
                if (vt.kind != TokenKind::kName) error("expected a word after " + std::string(o->keyword) + "=");
                std::string w = keywords_.full(vt.text);
                const OptionWord* found = nullptr;
                for (int32_t i = 0; i < o->nWords; ++i)
                    if (w == o->words[i].word) found = &o->words[i];
                if (found == nullptr)
                    error_at(vt, upper(vt.text) + " is not a value of option " + o->keyword);
                next();
                cell.given = 1;
                cell.value = found->code;
                std::memset(cell.name, ' ', sizeof cell.name);
                std::memcpy(cell.name, found->word, std::min<size_t>(8, std::strlen(found->word)));
                break;
            }
            case OptionKind::kDataSet:
                read_data_set(o->keyword, &rec->dataSets[o->cell]);
                break;
            case OptionKind::kFlag: break;
        }
    }

    // A path written without quotes, from `first` to the next blank, ";" or
    // "(": the error at `at` shows it in quotes, with ".csv" when its last
    // part has no extension.
    [[noreturn]] void unquoted_path(const char* keyword, const Token& first, const Token& at) const {
        const size_t end = std::min(src_.find_first_of(" \t\r\n;(", first.offset), src_.size());
        std::string path = src_.substr(first.offset, end - first.offset);
        if (path.find('.', path.rfind('/') + 1) == std::string::npos) path += ".csv";
        std::string found;
        append_token(&found, at.text);
        throw SyntaxError{format_message(kMsgHost, kMsgHostDataSetUnquotedPath, found.c_str(), keyword, path.c_str()),
                          at.line, at.column};
    }

    // A data set named twice takes the later name in its own form: nothing
    // of the earlier one (its quotes, its options) stays.
    void read_data_set(const char* keyword, DataSetCell* cell) {
        const Token& t = peek();
        std::string name;
        *cell = DataSetCell{};
        if (t.kind == TokenKind::kString) {
            name = next().text;
            cell->quoted = 1;
        } else if (t.kind == TokenKind::kName) {
            name = next().text;
            if (is_op("/")) unquoted_path(keyword, t, peek());  // sub/hs
            // A file name written as the data set's name (hs.csv).
            if (peek().kind == TokenKind::kMissing) {
                const std::string file = name + "." + (peek(1).kind == TokenKind::kName ? peek(1).text : "csv");
                throw SyntaxError{format_message(kMsgHost, kMsgHostDataSetFileName, keyword, name.c_str(), keyword,
                                                 file.c_str()),
                                  peek().line, peek().column};
            }
        } else {
            if (!t.text.empty() && std::strchr("/.", t.text[0]) != nullptr) unquoted_path(keyword, t, t);  // ../hs.csv
            error("expected a data-set name");
        }
        cell->name = make_text(name);
        cell->line = t.line;
        cell->column = t.column;
        if (is_op("(")) {
            const Token& open = next();
            int depth = 1;
            size_t begin = open.endOffset;
            size_t end = begin;
            while (depth > 0) {
                if (peek().kind == TokenKind::kEnd) error_at(open, "unbalanced \"(\"");
                if (is_op("(")) ++depth;
                if (is_op(")")) --depth;
                end = peek().offset;
                next();
            }
            cell->options = make_text(src_.substr(begin, end - begin));
        }
    }

    void read_title(const std::string& word) {
        const Token& t = next();
        // At most two digits are read, so that a long run of digits cannot
        // overflow the line number.
        int k = word.size() == 5 ? 1 : word.size() > 7 ? 0 : std::atoi(word.c_str() + 5);
        if (k < 1 || k > 10) error_at(t, "title lines are numbered 1 to 10");
        // Several strings are joined by a blank, as between steps.
        std::string text;
        while (peek().kind == TokenKind::kString) text += (text.empty() ? "" : " ") + next().text;
        expect(";");
        auto& titles = session().titles;
        if (titles.size() < 10) titles.resize(10);
        titles[k - 1] = text;
        for (int i = k; i < 10; ++i) titles[i].clear();
    }

    void read_host_options() {
        next();
        while (!at_end_of_statement()) {
            const Token& at = peek();
            std::string key = upper(read_name("an option name"));
            std::string value = "1";
            if (is_op("=")) {
                next();
                const Token& v = next();
                value = v.text;
            }
            if (const std::string fault = option_fault(key, value); !fault.empty()) {
                const std::string why = format_message(kMsgHost, kMsgHostOptionIgnored, fault.c_str());
                const int32_t line = at.line + session().stepSourceLine - 1;
                write_log(format_message(kMsgHost, kMsgHostWarningOutsideStep, line, why.c_str()));
                continue;
            }
            session().options[key] = value;
        }
        expect(";");
    }

    // A statement of lavaan's model syntax ("F =~ x1 + x2", "x1 ~~ x2",
    // "y ~ x") would be read as a programming statement (F = ~x1 + x2) or
    // as an unknown statement: it is an error at its operator that says
    // how a model is written here.  "=~" counts only written as one word,
    // so that "a = ~b" stays a programming statement.
    void lavaan_operator() const {
        if (kProgramWords.count(upper(peek().text))) return;  // "if ~done then ..."
        const Token& op = peek(1);
        const bool adjacent = peek(2).kind == TokenKind::kOp && peek(2).text == "~" && peek(2).offset == op.endOffset;
        const char* found = is_op("=", 1) && adjacent ? "=~" : is_op("~", 1) ? (adjacent ? "~~" : "~") : nullptr;
        if (found != nullptr)
            throw SyntaxError{format_message(kMsgHost, kMsgHostLavaanOperator, found), op.line, op.column};
    }

    // Whether the statement in hand (a name and "=") holds a LINEQS term,
    // a coefficient or parameter followed by a variable ("l2 F1", "1.0
    // F1"): two operands side by side, which no expression has (the word
    // operators, "a eq b", "a and b", are no operands).  After a LINEQS
    // statement, such a statement is the next equation cut off by a ";"
    // where a "," was meant.
    bool lineqs_term_follows() const {
        static const std::set<std::string> kWordOperators = {"OR", "AND", "NOT", "IN", "EQ", "NE",
                                                             "LT", "LE", "GT", "GE"};
        const auto name = [](const Token& t) {
            return t.kind == TokenKind::kName && !kWordOperators.count(upper(t.text));
        };
        if (!is_op("=", 1)) return false;
        for (size_t k = 2; peek(k + 1).kind != TokenKind::kEnd && !is_op(";", k); ++k)
            if ((name(peek(k)) || peek(k).kind == TokenKind::kNumber) && name(peek(k + 1))) return true;
        return false;
    }

    bool is_program_statement() const {
        std::string w = upper(peek().text);
        if (kProgramWords.count(w)) return !find_statement(keywords_.full(peek().text));
        if (find_statement(keywords_.full(peek().text))) return false;
        return is_op("=", 1) || is_op("[", 1) || is_op("{", 1);
    }

    ProgramStatement* read_program_statement() {
        const Token& first = next();
        size_t end = first.endOffset;
        while (!at_end_of_statement()) end = next().endOffset;
        expect(";");
        auto* s = make_array<ProgramStatement>(1);
        s->text = make_text(src_.substr(first.offset, end - first.offset));
        s->line = first.line;
        s->column = first.column;
        return s;
    }

    // LINEQS dep = [+|-] term [+|- term]... [, dep = ...]
    LineqsPayload* read_lineqs() {
        std::vector<NameRecord> deps, names;
        std::vector<int32_t> termEnd, nameStart, lines, termLines, termColumns;
        std::vector<int16_t> kind, sign, nameKind;
        std::vector<double> coef;
        // Where the variable of the term being read stands.
        auto variable_here = [&] {
            termLines.push_back(peek().line);
            termColumns.push_back(peek().column);
        };
        do {
            if (!deps.empty()) expect(",");
            lines.push_back(peek().line);
            deps.push_back(name_record(read_name("a dependent variable")));
            expect("=");
            bool firstTerm = true;
            while (!is_op(",") && !at_end_of_statement()) {
                int16_t s = 1;
                if (is_op("+") || is_op("-")) {
                    if (next().text == "-") s = -1;
                } else if (!firstTerm) {
                    error("expected \"+\", \"-\", \",\" or \";\"");
                }
                firstTerm = false;
                nameStart.push_back(static_cast<int32_t>(names.size()));
                sign.push_back(s);
                if (peek().kind == TokenKind::kNumber) {
                    double v = next().number;
                    if (is_op("*")) next();
                    kind.push_back(kTermFixed);
                    coef.push_back(v);
                    nameKind.push_back(0);
                    variable_here();
                    names.push_back(name_record(read_name("a variable after the coefficient")));
                    continue;
                }
                const Token& first = peek();
                const int32_t firstLine = first.line, firstColumn = first.column;
                std::string a = read_name("a term");
                if (peek().kind == TokenKind::kName || is_op("(") || is_op("*")) {
                    // a named coefficient: optional start value, then the variable
                    int16_t k = kTermNamed;
                    double v = 0.0;
                    if (is_op("(")) {
                        next();
                        v = read_number("a start value");
                        expect(")");
                        k = kTermNamedStart;
                    }
                    if (is_op("*")) next();
                    int16_t nk = 0;
                    if (is_prefix_name(a)) {
                        nk = kNameKindPrefix;
                        a = a.substr(0, a.size() - 2);
                    }
                    kind.push_back(k);
                    coef.push_back(v);
                    nameKind.push_back(nk);
                    names.push_back(name_record(a));
                    variable_here();
                    names.push_back(name_record(read_name("a variable after the coefficient")));
                } else {
                    termLines.push_back(firstLine);
                    termColumns.push_back(firstColumn);
                    kind.push_back(kTermPlain);
                    coef.push_back(1.0);
                    nameKind.push_back(0);
                    names.push_back(name_record(a));
                }
            }
            if (firstTerm) error("the equation of " + std::string(deps.back().text, deps.back().length) +
                                 " has no term");
            termEnd.push_back(static_cast<int32_t>(kind.size()));
        } while (is_op(","));
        auto* p = make_array<LineqsPayload>(1);
        p->nEquations = static_cast<int32_t>(deps.size());
        p->dependents = make_copy(deps);
        p->termEnd = make_copy(termEnd);
        p->nTerms = static_cast<int32_t>(kind.size());
        p->kind = make_copy(kind);
        p->sign = make_copy(sign);
        p->coef = make_copy(coef);
        p->nameKind = make_copy(nameKind);
        p->nameStart = make_copy(nameStart);
        p->nNames = static_cast<int32_t>(names.size());
        p->names = make_copy(names);
        p->line = make_copy(lines);
        p->termLine = make_copy(termLines);
        p->termColumn = make_copy(termColumns);
        return p;
    }

    // An item list of STD, COV and MATRIX: names and ranges, prefixes, start
    // values in parentheses after names, and plain values.  A MATRIX entry
    // may be empty and may put parentheses after plain values: its reader
    // skips the one and rejects the other with their own messages.
    struct Items {
        std::vector<VarianceItem> items;
        std::vector<NameRecord> names;
        std::vector<double> values;
    };

    Items read_items(bool stopAtComma, bool matrixEntry = false) {
        Items it;
        auto add = [&](int16_t code, int32_t first, int32_t count) {
            if (!it.items.empty() && it.items.back().code == code && code != kItemPrefix &&
                code != kItemNameValues) {
                it.items.back().count += count;
                return;
            }
            it.items.push_back(VarianceItem{code, first, count});
        };
        while (!at_end_of_statement() && !(stopAtComma && is_op(","))) {
            if (number_ahead()) {
                add(kItemValues, static_cast<int32_t>(it.values.size()), 1);
                it.values.push_back(read_number("a value"));
                if (matrixEntry && is_op("(")) read_start_values(&it);
            } else if (peek().kind == TokenKind::kName) {
                std::string n = peek().text;
                if (is_prefix_name(n)) {
                    read_name("a parameter prefix");
                    add(kItemPrefix, static_cast<int32_t>(it.names.size()), 1);
                    it.names.push_back(name_record(n.substr(0, n.size() - 2)));
                } else {
                    size_t before = it.names.size();
                    read_name_or_range(&it.names, "a parameter name");
                    add(kItemNames, static_cast<int32_t>(before),
                        static_cast<int32_t>(it.names.size() - before));
                }
                if (is_op("(")) read_start_values(&it);
            } else {
                error("expected a name or a value");
            }
        }
        if (it.items.empty() && !matrixEntry) error("expected a name or a value");
        return it;
    }

    // "(" start values ")" as one item.
    void read_start_values(Items* it) {
        next();
        const int32_t first = static_cast<int32_t>(it->values.size());
        while (!is_op(")")) it->values.push_back(read_number("a start value"));
        next();
        it->items.push_back(VarianceItem{kItemNameValues, first, static_cast<int32_t>(it->values.size()) - first});
    }

    template <typename G>
    static void store_items(const Items& it, G* g) {
        g->nItems = static_cast<int32_t>(it.items.size());
        g->items = make_copy(it.items);
        g->names = name_array(it.names);
        g->nValues = static_cast<int32_t>(it.values.size());
        g->values = make_copy(it.values);
    }

    VariancePayload* read_variances(bool cov) {
        std::vector<VarianceGroup> groups;
        do {
            if (!groups.empty()) expect(",");
            VarianceGroup g;
            g.line = peek().line;
            g.column = peek().column;
            std::vector<NameRecord> v1 = read_var_list("a variable");
            if (v1.empty()) error("expected a variable");
            g.vars1 = name_array(v1);
            if (cov && is_op("*")) {
                next();
                std::vector<NameRecord> v2 = read_var_list("a variable");
                if (v2.empty()) error("expected a variable after \"*\"");
                g.vars2 = name_array(v2);
            }
            expect("=");
            store_items(read_items(true), &g);
            groups.push_back(g);
        } while (is_op(","));
        return pack<VariancePayload>(groups, &VariancePayload::nGroups, &VariancePayload::groups);
    }

    RamPayload* read_ram() {
        std::vector<RamEntry> entries;
        do {
            if (!entries.empty()) expect(",");
            RamEntry e;
            e.line = peek().line;
            e.matrix = read_number("a matrix number");
            e.row = read_number("a row number");
            e.column = read_number("a column number");
            if (number_ahead()) {
                e.hasValue = 1;
                e.value = read_number("a value");
            }
            if (peek().kind == TokenKind::kName) {
                std::string n = read_name("a parameter name");
                e.nameKind = 1;
                if (is_prefix_name(n)) {
                    e.nameKind = kNameKindPrefix;
                    n = n.substr(0, n.size() - 2);
                }
                e.name = name_record(n);
                if (is_op("(")) {
                    next();
                    e.hasValue = 1;
                    e.value = read_number("a start value");
                    expect(")");
                }
            }
            entries.push_back(e);
        } while (is_op(","));
        return pack<RamPayload>(entries, &RamPayload::nEntries, &RamPayload::entries);
    }

    VarnamesPayload* read_varnames() {
        std::vector<VarnamesGroup> groups;
        do {
            if (!groups.empty()) expect(",");
            VarnamesGroup g;
            g.line = peek().line;
            if (peek().kind == TokenKind::kNumber)
                g.matrixNumber = next().number;
            else
                g.matrixName = name_record(read_name("a matrix"));
            expect("=");
            std::vector<NameRecord> v = read_var_list("a name");
            if (v.empty()) error("expected a name");
            g.names = name_array(v);
            groups.push_back(g);
        } while (is_op(","));
        return pack<VarnamesPayload>(groups, &VarnamesPayload::nGroups, &VarnamesPayload::groups);
    }

    CosanPayload* read_cosan() {
        static const std::map<std::string, int> kTypes = {
            {"IDE", kMatIdentity}, {"ZID", kMatZerIdentity}, {"DIA", kMatDiagonal},
            {"ZDI", kMatZerDiagonal}, {"LOW", kMatLower}, {"UPP", kMatUpper},
            {"SYM", kMatSymmetric}, {"GEN", kMatGeneral}, {"BET", kMatBeta}};
        static const std::map<std::string, int> kForms = {{"INV", 1}, {"IMI", 2}};
        std::vector<NameRecord> names;
        std::vector<double> cols, types, forms;
        std::vector<int16_t> ends;
        std::vector<int32_t> lines, columns;
        for (;;) {
            lines.push_back(peek().line);
            columns.push_back(peek().column);
            names.push_back(name_record(read_name("a matrix name")));
            double nc = 0.0, ty = 0.0, fo = 0.0;
            if (is_op("(")) {
                next();
                nc = read_number("a number of columns");
                while (is_op(",")) {
                    next();
                    const Token& w = peek();
                    std::string u = upper(read_name("a matrix type or form"));
                    if (kTypes.count(u) && ty == 0.0)
                        ty = kTypes.at(u);
                    else if (kForms.count(u) && fo == 0.0)
                        fo = kForms.at(u);
                    else
                        error_at(w, u + " is not a matrix type or form here");
                }
                expect(")");
            }
            cols.push_back(nc);
            types.push_back(ty);
            forms.push_back(fo);
            if (is_op("*")) {
                next();
                continue;
            }
            ends.push_back(static_cast<int16_t>(names.size()));
            if (is_op("+")) {
                next();
                continue;
            }
            break;
        }
        if (names.size() > kMaxNames)
            error("a COSAN statement names at most " + std::to_string(kMaxNames) + " matrices");
        auto* p = make_array<CosanPayload>(1);
        p->names = name_array(names);
        p->nColumns = static_cast<int16_t>(cols.size());
        p->columns = make_copy(cols);
        p->nTypes = static_cast<int16_t>(types.size());
        p->types = make_copy(types);
        p->nForms = static_cast<int16_t>(forms.size());
        p->forms = make_copy(forms);
        p->nTerms = static_cast<int16_t>(ends.size());
        p->termEnds = make_copy(ends);
        p->nameLines = make_copy(lines);
        p->nameColumns = make_copy(columns);
        return p;
    }

    MatrixPayload* read_matrix() {
        auto* p = make_array<MatrixPayload>(1);
        p->name = name_record(read_name("a matrix name"));
        std::vector<MatrixGroup> groups;
        bool first = true;
        while (!at_end_of_statement()) {
            if (!first) expect(",");
            first = false;
            MatrixGroup g;
            g.line = peek().line;
            if (is_op("[")) {
                next();
                bool hasRow = false, hasCol = false;
                if (!is_op(",")) {
                    g.row = read_number("a row number");
                    hasRow = true;
                }
                expect(",");
                if (!is_op("]")) {
                    g.column = read_number("a column number");
                    hasCol = true;
                }
                expect("]");
                g.position = hasRow && hasCol ? kPosElement
                             : hasCol         ? kPosColumn
                             : hasRow         ? kPosRow
                                              : kPosEachRow;
            }
            expect("=");
            store_items(read_items(true, true), &g);
            groups.push_back(g);
        }
        p->nGroups = static_cast<int32_t>(groups.size());
        p->groups = make_copy(groups);
        return p;
    }

    FactorPayload* read_factor(const StatementSpec& spec, StatementNode* node) {
        auto* p = make_array<FactorPayload>(1);
        OptionCell cells[1];
        while (!at_end_of_statement()) {
            const Token& t = peek();
            read_one_option(spec, node, cells, nullptr);
            if (cells[0].given && !p->hasFactors) {
                if (cells[0].value < 0.0 || cells[0].value != std::floor(cells[0].value))
                    error_at(t, "the number of factors must be a whole number 0 or more");
                p->hasFactors = 1;
                p->nFactors = cells[0].value;
                p->line = t.line;
                p->column = t.column;
            }
        }
        return p;
    }

    ParametersPayload* read_parameters() {
        std::vector<NameRecord> names;
        std::vector<double> values;
        std::vector<ParameterItem> items;
        auto add = [&](int16_t kind, size_t first, size_t end) {
            if (!items.empty() && items.back().kind == kind) {
                items.back().end = static_cast<int16_t>(end);
                return;
            }
            items.push_back(ParameterItem{kind, static_cast<int16_t>(first), static_cast<int16_t>(end)});
        };
        while (!at_end_of_statement()) {
            if (is_op(",") || is_op("=")) {
                next();
                continue;
            }
            if (number_ahead()) {
                values.push_back(read_number("a value"));
                add(-2, values.size() - 1, values.size());
            } else {
                size_t before = names.size();
                read_name_or_range(&names, "a parameter name");
                add(-1, before, names.size());
            }
        }
        if (names.size() > kMaxNames || values.size() > kMaxNames)
            error("a PARAMETERS statement holds at most " + std::to_string(kMaxNames) +
                  " names and as many values");
        auto* p = make_array<ParametersPayload>(1);
        p->names = name_array(names);
        p->nValues = static_cast<int32_t>(values.size());
        p->values = make_copy(values);
        p->nItems = static_cast<int32_t>(items.size());
        p->items = make_copy(items);
        return p;
    }

    // Relation operator: -1 "<"/"<=", 1 ">"/">=", 0 "="/"==", 2 none.
    int read_relation() {
        const Token& t = peek();
        if (t.kind != TokenKind::kOp) return 2;
        if (t.text == "<" || t.text == "<=") { next(); return -1; }
        if (t.text == ">" || t.text == ">=") { next(); return 1; }
        if (t.text == "=" || t.text == "==") { next(); return 0; }
        return 2;
    }

    // Stores a bound `v` read with relation `rel`; numberFirst: "v rel x",
    // otherwise "x rel v".  "=" gives both bounds.
    template <typename E>
    static void apply_bound(E* e, int rel, double v, bool numberFirst) {
        int r = numberFirst ? -rel : rel;
        if (r == -1 || r == 0) {
            e->hasUpper = 1;
            e->upper = v;
        }
        if (r == 1 || r == 0) {
            e->hasLower = 1;
            e->lower = v;
        }
    }
    template <typename E>
    void read_leading_bound(E* e) {
        if (!number_ahead()) return;
        double v = read_number("a bound");
        int rel = read_relation();
        if (rel == 2) error("expected a relation");
        apply_bound(e, rel, v, true);
    }
    template <typename E>
    void read_trailing_bound(E* e, const char* noBound) {
        int rel = read_relation();
        if (rel != 2) apply_bound(e, rel, read_number("a bound"), false);
        if (!e->hasLower && !e->hasUpper) error(noBound);
    }

    BoundsPayload* read_bounds() {
        std::vector<BoundEntry> entries;
        do {
            if (!entries.empty()) expect(",");
            BoundEntry e;
            e.line = peek().line;
            read_leading_bound(&e);
            std::vector<int32_t> lines;
            std::vector<NameRecord> names = read_var_list("a parameter name", &lines);
            if (names.empty()) error("expected a parameter name");
            e.names = name_array(names);
            e.nameLines = make_copy(lines);
            read_trailing_bound(&e, "a bound needs a relation and a value");
            entries.push_back(e);
        } while (is_op(","));
        return pack<BoundsPayload>(entries, &BoundsPayload::nEntries, &BoundsPayload::entries);
    }

    // One side of a linear constraint: [+|-][number][*]name or number terms.
    void read_linear_side(double side, std::vector<double>* coefs, std::vector<NameRecord>* names,
                          std::vector<int32_t>* lines, double* constant) {
        bool first = true;
        for (;;) {
            double s = 1.0;
            if (is_op("+") || is_op("-")) {
                if (next().text == "-") s = -1.0;
            } else if (!first) {
                break;
            }
            first = false;
            double v = 1.0;
            bool hasNumber = false;
            if (peek().kind == TokenKind::kNumber) {
                v = next().number;
                hasNumber = true;
                if (is_op("*")) next();
            }
            if (peek().kind == TokenKind::kName) {
                coefs->push_back(side * s * v);
                lines->push_back(peek().line);
                names->push_back(name_record(read_name("a parameter name")));
            } else if (hasNumber) {
                *constant += side * s * v;
            } else {
                error("expected a coefficient or a parameter name");
            }
        }
    }

    LinconPayload* read_lincon() {
        std::vector<LinearConstraint> out;
        do {
            if (!out.empty()) expect(",");
            LinearConstraint c;
            c.line = peek().line;
            std::vector<double> coefs;
            std::vector<NameRecord> names;
            std::vector<int32_t> lines;
            double constant = 0.0;
            read_linear_side(1.0, &coefs, &names, &lines, &constant);
            int rel = read_relation();
            if (rel == 2) error("expected \"=\", \"<=\" or \">=\"");
            read_linear_side(-1.0, &coefs, &names, &lines, &constant);
            if (names.empty()) error_at(peek(), "a linear constraint names no parameter");
            c.relation = static_cast<int16_t>(rel);
            c.rhs = -constant;
            c.nTerms = static_cast<int32_t>(names.size());
            c.coefs = make_copy(coefs);
            c.names = make_copy(names);
            c.nameLines = make_copy(lines);
            out.push_back(c);
        } while (is_op(","));
        return pack<LinconPayload>(out, &LinconPayload::nConstraints, &LinconPayload::constraints);
    }

    NlinconPayload* read_nlincon() {
        std::vector<NonlinearConstraint> out;
        do {
            if (!out.empty()) expect(",");
            NonlinearConstraint c;
            read_leading_bound(&c);
            c.line = peek().line;
            c.name = name_record(read_name("a constraint variable"));
            read_trailing_bound(&c, "a nonlinear constraint needs a relation and a value");
            out.push_back(c);
        } while (is_op(","));
        return pack<NlinconPayload>(out, &NlinconPayload::nConstraints, &NlinconPayload::constraints);
    }

    ProfilePayload* read_profile(const StatementSpec& spec, StatementNode* node) {
        auto* p = make_array<ProfilePayload>(1);
        std::vector<NameRecord> names;
        while (!at_end_of_statement() && !is_op("/")) {
            if (is_op(",")) {
                next();
                continue;
            }
            read_name_or_range(&names, "a parameter name");
        }
        p->names = name_array(names);
        std::vector<double> levels;
        if (is_op("/")) {
            next();
            while (!at_end_of_statement()) {
                if (peek().kind == TokenKind::kMissing) error("a confidence level cannot be missing");
                if (number_ahead())
                    levels.push_back(read_number("a confidence level"));
                else if (is_op(","))
                    next();
                else
                    read_one_option(spec, node, p->cells, nullptr);
            }
        }
        p->nLevels = static_cast<int32_t>(levels.size());
        p->levels = make_copy(levels);
        return p;
    }

    const StatementGrammar* grammar_;
    Keywords keywords_;
    std::vector<Token> tokens_;
    // The ";" that ended the statement just read when that was LINEQS.
    const Token* lineqsEnd_ = nullptr;
    std::vector<NameRecord> lists_[kListCount];  // VAR, PARTIAL, WEIGHT, FREQ, BY as read
    std::vector<int32_t> listLines_[kListCount];  // the line of each of their names
    std::string src_;
    size_t pos_ = 0;
    int32_t byLine_ = 1;
    int32_t byColumn_ = 1;
};

// Logs a syntax error: the message with its place, the source line and a
// caret under the column.
void log_syntax_error(int32_t line, int32_t column, const std::string& msg) {
    const int32_t absLine = line + session().stepSourceLine - 1;
    // The place ends the sentence: a message that ends in its own full stop
    // gives it up.
    const std::string text = !msg.empty() && msg.back() == '.' ? msg.substr(0, msg.size() - 1) : msg;
    write_log(format_message(kMsgHost, kMsgHostErrorAt, text.c_str(), absLine, column));
    write_log(source_excerpt(line, column));
}

}  // namespace

}  // namespace velix::platform::parser

int32_t cmppars(const GrammarDescriptor* descriptor, ParseResult* result, ParseArea2* area2,
                int32_t /*one*/, CmpWork* work) {
    using namespace velix::platform::parser;
    *result = ParseResult();
    *area2 = ParseArea2();
    const std::string& src = velix::platform::session().stepSource;
    try {
        Parser(descriptor, src).run(result, area2);
    } catch (const SyntaxError& e) {
        log_syntax_error(e.line, e.column, e.message);
        *result = ParseResult();
        *area2 = ParseArea2();
        result->status = kLevelInputError;
    } catch (const LexError& e) {
        log_syntax_error(e.line, e.column, e.message);
        *result = ParseResult();
        *area2 = ParseArea2();
        result->status = kLevelInputError;
    }
    // The programming statements go to the statement compiler, each with
    // its place in the program file.
    if (result->status == 0 && area2->nProgramStatements > 0 && work && work->compiler) {
        std::vector<CmpSource> pieces;
        const int32_t lineBase = velix::platform::session().stepSourceLine - 1;
        for (const ProgramStatement* p = area2->program; p; p = p->next)
            pieces.push_back({p->text, static_cast<int32_t>(std::strlen(p->text)), p->line + lineBase, p->column});
        int32_t compiled = 0;
        if (cmpcomp(pieces.data(), static_cast<int32_t>(pieces.size()), &compiled, work) != 0)
            result->status = kLevelInputError;
    }
    return result->status;
}
