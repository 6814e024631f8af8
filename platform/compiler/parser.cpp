// Recursive-descent compiler of the statement language to stack code (Aho,
// Lam, Sethi and Ullman, "Compilers", 2nd ed., sections 2.4 and 6.6: one
// pass, with backpatched jumps for IF, DO, SELECT and labels).
//
// Operator precedence, from the tightest: ** and the prefix operators - + NOT
// (right to left; -2**2 is -4, 2**-1 is 0.5); * and /; + and -; the
// comparisons and IN; AND; OR.  A name followed by "(" is a function call
// unless it names an array.  A keyword opens a statement only when it is
// not followed by "=" (so "end = 1;" is an assignment).
//
// Statement errors are collected with their line and column; after an
// error the rest of the statement is skipped and compiling goes on, so that
// one run reports several errors.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "platform/compiler/functions.h"
#include "platform/compiler/lexer.h"
#include "platform/compiler/program.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

struct SyntaxError {
    int32_t line;
    int32_t column;
    std::string message;
};

// More errors than this are not reported (the rest are consequences).
constexpr size_t kMaxErrors = 20;

// Subscript brackets of an array reference and their closers.
const char* closer_of(const std::string& open) {
    if (open == "(") return ")";
    if (open == "[") return "]";
    if (open == "{") return "}";
    return nullptr;
}

bool is_keyword_statement(const std::string& w) {
    static const char* kWords[] = {"IF", "DO", "SELECT", "ARRAY", "GOTO", "GO", "LINK",
                                   "RETURN", "STOP", "ABORT", "LENGTH", "END", "ELSE",
                                   "WHEN", "OTHERWISE"};
    for (const char* k : kWords)
        if (w == k) return true;
    return false;
}

}  // namespace

struct Program::Builder {
    Program* p;
    std::vector<Token> toks;
    std::string joined;
    size_t i = 0;
    std::vector<Diagnostic>* errors;
    std::map<std::string, CmpSymbol*> symbols;  // upper-case name
    struct ArrayInfo {
        int32_t id;
        bool character;
    };
    std::map<std::string, ArrayInfo> arrays;
    std::map<std::string, int32_t> labels;
    struct PendingJump {
        size_t instr;
        std::string label;
        Place place;
    };
    std::vector<PendingJump> pending;
    int32_t depth = 0;
    // Recursion depth of the descent (parentheses, signs, nested IF and DO):
    // bounded so that a pathological program is an error, not a stack
    // overflow.  Real programs stay far below it.
    static constexpr int32_t kMaxNesting = 256;
    int32_t nesting = 0;
    struct NestingGuard {
        Builder* c;
        NestingGuard(Builder* builder, const Token& at) : c(builder) {
            if (++c->nesting > kMaxNesting) {
                --c->nesting;  // no destructor runs for a throwing constructor
                c->fail(at, "expressions or statements are nested more than " +
                                std::to_string(kMaxNesting) + " deep");
            }
        }
        ~NestingGuard() { --c->nesting; }
    };
    int32_t statementNesting = 0;  // > 0 inside IF/WHEN/OTHERWISE/label sub-statements
    int32_t blockIndent = 0;

    // ---- tokens ----
    const Token& cur() const { return toks[i]; }
    const Token& ahead(size_t k) const { return toks[std::min(i + k, toks.size() - 1)]; }
    bool is_punct(const char* s, size_t k = 0) const {
        const Token& t = ahead(k);
        return t.kind == Tok::kPunct && t.text == s;
    }
    bool is_word(const char* w, size_t k = 0) const {
        const Token& t = ahead(k);
        return t.kind == Tok::kName && t.text == w;
    }
    [[noreturn]] void fail(const Token& t, const std::string& message) {
        throw SyntaxError{t.line, t.column, message};
    }
    std::string describe(const Token& t) const {
        switch (t.kind) {
            case Tok::kEnd: return "the end of the program";
            case Tok::kName: return t.raw;
            case Tok::kNumber:
            case Tok::kMissing: return "a number";
            case Tok::kString: return "a character constant";
            case Tok::kPunct: return "'" + t.text + "'";
        }
        return "?";
    }
    void expect_punct(const char* s) {
        if (!is_punct(s)) fail(cur(), std::string("expected '") + s + "', found " + describe(cur()));
        ++i;
    }
    void expect_word(const char* w) {
        if (!is_word(w)) fail(cur(), std::string("expected ") + w + ", found " + describe(cur()));
        ++i;
    }

    // ---- code ----
    int32_t place_of(const Token& t) {
        p->places_.push_back({t.line, t.column});
        return static_cast<int32_t>(p->places_.size()) - 1;
    }
    size_t emit(Op op, int32_t a, const Token& at, uint8_t n = 0, double k = 0.0) {
        Instr ins;
        ins.op = op;
        ins.a = a;
        ins.n = n;
        ins.k = k;
        ins.where = place_of(at);
        p->code_.push_back(ins);
        switch (op) {
            case Op::PushK:
            case Op::Load: depth += 1; break;
            case Op::Add: case Op::Sub: case Op::Mul: case Op::Div: case Op::Pow:
            case Op::Eq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge:
            case Op::And: case Op::Or: case Op::Store: case Op::Jf: case Op::Jt: depth -= 1; break;
            case Op::StoreA: depth -= 2; break;
            case Op::Call: depth -= n - 1; break;
            case Op::In: depth -= n; break;
            case Op::DoTest: depth -= 2; break;
            default: break;
        }
        if (depth > p->maxDepth_) p->maxDepth_ = depth;
        return p->code_.size() - 1;
    }
    int32_t here() const { return static_cast<int32_t>(p->code_.size()); }
    void patch(size_t instr, int32_t target) { p->code_[instr].a = target; }

    // ---- symbols ----
    CmpSymbol* symbol(const Token& t) {
        auto it = symbols.find(t.text);
        if (it != symbols.end()) return it->second;
        CmpSymbol* s = p->new_symbol(t.raw);
        symbols[t.text] = s;
        return s;
    }
    int32_t numeric_slot(const Token& t, bool assign) {
        if (arrays.count(t.text)) fail(t, "array " + t.raw + " used without a subscript");
        CmpSymbol* s = symbol(t);
        if (s->valueType != 'n') {
            fail(t, assign ? "assignment to the non-numeric variable " + t.raw
                           : "non-numeric variable " + t.raw + " used in a numeric expression");
        }
        if (s->slot < 0) s->slot = p->new_slot(s);
        s->flags |= assign ? kCmpAssigned : kCmpReferenced;
        return s->slot;
    }
    int32_t temp_slot() { return p->new_slot(nullptr); }

    // ---- expressions ----
    void expression() {
        NestingGuard guard(this, cur());
        or_expr();
    }
    void or_expr() {
        and_expr();
        while (is_punct("|") || is_word("OR")) {
            Token op = cur();
            ++i;
            and_expr();
            emit(Op::Or, 0, op);
        }
    }
    void and_expr() {
        comparison();
        while (is_punct("&") || is_word("AND")) {
            Token op = cur();
            ++i;
            comparison();
            emit(Op::And, 0, op);
        }
    }
    bool comparison_op(Op* op) const {
        const Token& t = cur();
        static const std::pair<const char*, Op> kOps[] = {
            {"=", Op::Eq}, {"^=", Op::Ne}, {"<", Op::Lt}, {"<=", Op::Le}, {">", Op::Gt},
            {">=", Op::Ge}, {"EQ", Op::Eq}, {"NE", Op::Ne}, {"LT", Op::Lt}, {"LE", Op::Le},
            {"GT", Op::Gt}, {"GE", Op::Ge}};
        for (const auto& [text, code] : kOps) {
            bool word = std::isalpha(static_cast<unsigned char>(text[0])) != 0;
            if ((word ? t.kind == Tok::kName : t.kind == Tok::kPunct) && t.text == text) {
                *op = code;
                return true;
            }
        }
        return false;
    }
    void comparison() {
        additive();
        Op op;
        while (true) {
            if (comparison_op(&op)) {
                Token at = cur();
                ++i;
                additive();
                emit(op, 0, at);
            } else if (is_word("IN")) {
                Token at = cur();
                ++i;
                expect_punct("(");
                int32_t n = 0;
                do {
                    additive();
                    ++n;
                    if (n > 255) fail(at, "too many values in the IN list");
                } while (is_punct(",") && (++i, true));
                expect_punct(")");
                emit(Op::In, 0, at, static_cast<uint8_t>(n));
            } else {
                return;
            }
        }
    }
    void additive() {
        term();
        while (is_punct("+") || is_punct("-")) {
            Token op = cur();
            ++i;
            term();
            emit(op.text == "+" ? Op::Add : Op::Sub, 0, op);
        }
    }
    void term() {
        unary();
        while (is_punct("*") || is_punct("/")) {
            Token op = cur();
            ++i;
            unary();
            emit(op.text == "*" ? Op::Mul : Op::Div, 0, op);
        }
    }
    void unary() {
        if (is_punct("-") || is_punct("+")) {
            Token op = cur();
            NestingGuard guard(this, op);
            ++i;
            unary();
            if (op.text == "-") emit(Op::Neg, 0, op);
            return;
        }
        if (is_punct("^") || is_word("NOT")) {
            Token op = cur();
            NestingGuard guard(this, op);
            ++i;
            unary();
            emit(Op::Not, 0, op);
            return;
        }
        power();
    }
    void power() {
        primary();
        if (is_punct("**")) {
            Token op = cur();
            NestingGuard guard(this, op);
            ++i;
            unary();
            emit(Op::Pow, 0, op);
        }
    }
    // An array subscript after the array's name: resolved at compile time
    // when it is a constant.  Returns the element slot, or -1 with the index
    // code emitted.
    int32_t subscript(const Token& name, const ArrayInfo& info, bool assign) {
        const char* close = closer_of(cur().text);
        ++i;
        size_t start = p->code_.size();
        int32_t before = depth;
        expression();
        expect_punct(close);
        const std::vector<int32_t>& elems = p->arrays_[info.id];
        if (info.character)
            fail(name, assign ? "assignment to the non-numeric array " + name.raw
                              : "non-numeric array " + name.raw + " used in a numeric expression");
        for (int32_t s : elems) p->slotSymbol_[s]->flags |= assign ? kCmpAssigned : kCmpReferenced;
        if (p->code_.size() == start + 1 && p->code_[start].op == Op::PushK) {
            double k = p->code_[start].k;
            p->code_.pop_back();
            depth = before;
            if (host_is_missing(k) || k < 1.0 || k > static_cast<double>(elems.size()) ||
                k != static_cast<double>(static_cast<int64_t>(k)))
                fail(name, "array subscript out of range for " + name.raw);
            return elems[static_cast<size_t>(k) - 1];
        }
        return -1;
    }
    void primary() {
        const Token t = cur();
        switch (t.kind) {
            case Tok::kNumber:
            case Tok::kMissing:
                ++i;
                emit(Op::PushK, 0, t, 0, t.value);
                return;
            case Tok::kString:
                fail(t, "character constant in a numeric expression");
            case Tok::kPunct:
                if (t.text == "(") {
                    ++i;
                    expression();
                    expect_punct(")");
                    return;
                }
                fail(t, "expected an expression, found " + describe(t));
            case Tok::kEnd:
                fail(t, "expected an expression, found the end of the program");
            case Tok::kName:
                break;
        }
        ++i;
        auto arr = arrays.find(t.text);
        if (arr != arrays.end()) {
            if (!closer_of(cur().text)) fail(t, "array " + t.raw + " used without a subscript");
            int32_t slot = subscript(t, arr->second, false);
            if (slot >= 0)
                emit(Op::Load, slot, t);
            else
                emit(Op::LoadA, arr->second.id, t);
            return;
        }
        if (is_punct("(")) {
            int32_t id = find_function(t.text.c_str());
            if (id < 0) fail(t, "unknown function " + t.raw);
            ++i;
            int32_t n = 0;
            if (!is_punct(")")) {
                do {
                    expression();
                    ++n;
                    if (n > 255) fail(t, "too many arguments to " + t.raw);
                } while (is_punct(",") && (++i, true));
            }
            expect_punct(")");
            const FunctionSpec& spec = function_spec(id);
            if (n < spec.minArgs || (spec.maxArgs >= 0 && n > spec.maxArgs))
                fail(t, "wrong number of arguments (" + std::to_string(n) + ") to function " + t.raw);
            if (n > p->maxArgs_) p->maxArgs_ = n;
            emit(Op::Call, id, t, static_cast<uint8_t>(n));
            return;
        }
        if (is_punct("{") || is_punct("[")) fail(t, t.raw + " is not an array");
        emit(Op::Load, numeric_slot(t, false), t);
    }

    // ---- statements ----
    void record_text(size_t first, size_t semi) {
        if (statementNesting > 0) return;
        int32_t a = toks[first].offset;
        int32_t b = toks[semi].synthetic ? toks[semi].offset : toks[semi].offset + 1;
        std::string text = joined.substr(static_cast<size_t>(a), static_cast<size_t>(std::max(0, b - a)));
        for (char& c : text)
            if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        if (toks[semi].synthetic) text += ";";
        p->statementTexts_.push_back(std::string(static_cast<size_t>(2 * blockIndent), ' ') + text);
    }
    void end_statement(size_t first) {
        expect_punct(";");
        record_text(first, i - 1);
    }
    void sub_statement() {
        ++statementNesting;
        statement();
        --statementNesting;
    }
    // Statements up to END; returns after consuming "END;".
    void block_until_end(const Token& opener) {
        ++blockIndent;
        while (!(is_word("END") && !is_punct("=", 1))) {
            if (cur().kind == Tok::kEnd) {
                --blockIndent;
                fail(opener, opener.raw + " without a matching END");
            }
            guarded_statement();
        }
        --blockIndent;
        size_t first = i;
        ++i;
        end_statement(first);
    }
    void label_jump(Op op, const Token& at) {
        Token name = cur();
        if (name.kind != Tok::kName) fail(name, "expected a label, found " + describe(name));
        ++i;
        size_t ins = emit(op, -1, at);
        pending.push_back({ins, name.text, {name.line, name.column}});
    }

    void statement() {
        NestingGuard guard(this, cur());
        const Token t = cur();
        size_t first = i;
        if (t.kind == Tok::kPunct && t.text == ";") {
            ++i;
            return;
        }
        if (t.kind != Tok::kName) fail(t, "expected a statement, found " + describe(t));
        if (is_punct(":", 1)) {
            if (labels.count(t.text)) fail(t, "label " + t.raw + " defined twice");
            labels[t.text] = here();
            i += 2;
            if (is_punct(";")) {
                ++i;
                record_text(first, i - 1);
                return;
            }
            statement();
            return;
        }
        bool keyword = is_keyword_statement(t.text) && !is_punct("=", 1) && !arrays.count(t.text);
        if (!keyword) {
            assignment();
            end_statement(first);
            return;
        }
        ++i;
        const std::string& w = t.text;
        if (w == "IF") {
            expression();
            expect_word("THEN");
            size_t jf = emit(Op::Jf, -1, t);
            record_if_header(first);
            sub_statement();
            if (is_word("ELSE") && !is_punct("=", 1)) {
                Token el = cur();
                ++i;
                size_t jmp = emit(Op::Jmp, -1, el);
                patch(jf, here());
                if (statementNesting == 0)
                    p->statementTexts_.push_back(std::string(static_cast<size_t>(2 * blockIndent), ' ') + "ELSE");
                sub_statement();
                patch(jmp, here());
            } else {
                patch(jf, here());
            }
        } else if (w == "DO") {
            do_statement(t, first);
        } else if (w == "SELECT") {
            select_statement(t, first);
        } else if (w == "ARRAY") {
            array_statement(t);
            end_statement(first);
        } else if (w == "GOTO" || w == "GO") {
            if (w == "GO") expect_word("TO");
            label_jump(Op::Jmp, t);
            end_statement(first);
        } else if (w == "LINK") {
            label_jump(Op::Link, t);
            end_statement(first);
        } else if (w == "RETURN" || w == "STOP" || w == "ABORT") {
            emit(w == "RETURN" ? Op::Ret : (w == "STOP" ? Op::Stop : Op::Abort), 0, t);
            end_statement(first);
        } else if (w == "LENGTH") {
            length_statement();
            end_statement(first);
        } else if (w == "END") {
            fail(t, "END without a matching DO or SELECT");
        } else if (w == "ELSE") {
            fail(t, "ELSE without a matching IF");
        } else {
            fail(t, t.raw + " outside a SELECT group");
        }
    }
    void record_if_header(size_t first) {
        if (statementNesting > 0) return;
        int32_t a = toks[first].offset;
        int32_t b = toks[i - 1].offset + static_cast<int32_t>(toks[i - 1].raw.size());
        std::string text = joined.substr(static_cast<size_t>(a), static_cast<size_t>(std::max(0, b - a)));
        for (char& c : text)
            if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        p->statementTexts_.push_back(std::string(static_cast<size_t>(2 * blockIndent), ' ') + text);
    }

    void assignment() {
        const Token t = cur();
        ++i;
        auto arr = arrays.find(t.text);
        if (arr != arrays.end()) {
            if (!closer_of(cur().text)) fail(t, "array " + t.raw + " used without a subscript");
            int32_t slot = subscript(t, arr->second, true);
            Token eq = cur();
            expect_punct("=");
            expression();
            if (slot >= 0)
                emit(Op::Store, slot, eq);
            else
                emit(Op::StoreA, arr->second.id, eq);
            return;
        }
        if (!is_punct("=")) {
            if (is_punct("(")) fail(t, "unknown statement " + t.raw);
            fail(cur(), "expected '=', found " + describe(cur()));
        }
        Token eq = cur();
        ++i;
        int32_t slot = numeric_slot(t, true);
        expression();
        emit(Op::Store, slot, eq);
    }

    void parenthesised_condition() {
        expect_punct("(");
        expression();
        expect_punct(")");
    }

    void do_statement(const Token& t, size_t first) {
        if (is_punct(";")) {
            ++i;
            record_text(first, i - 1);
            block_until_end(t);
            return;
        }
        if (is_word("WHILE") && is_punct("(", 1)) {
            ++i;
            int32_t top = here();
            parenthesised_condition();
            size_t jf = emit(Op::Jf, -1, t);
            end_statement(first);
            block_until_end(t);
            emit(Op::Jmp, top, t);
            patch(jf, here());
            return;
        }
        if (is_word("UNTIL") && is_punct("(", 1)) {
            ++i;
            // The condition is tested after the body: compile it there.
            size_t condStart = i;
            skip_parenthesised();
            end_statement(first);
            int32_t top = here();
            block_until_end(t);
            size_t after = i;
            i = condStart;
            parenthesised_condition();
            emit(Op::Jf, top, t);
            i = after;
            return;
        }
        // Iterative DO: index = start TO stop [BY step] [WHILE (c) | UNTIL (c)].
        Token index = cur();
        if (index.kind != Tok::kName) fail(index, "expected a DO index variable, found " + describe(index));
        ++i;
        Token eq = cur();
        expect_punct("=");
        int32_t slot = numeric_slot(index, true);
        p->slotSymbol_[slot]->flags |= kCmpReferenced;
        expression();
        emit(Op::Store, slot, eq);
        Token to = cur();
        expect_word("TO");
        int32_t endSlot = temp_slot();
        int32_t bySlot = temp_slot();
        expression();
        emit(Op::Store, endSlot, to);
        if (is_word("BY")) {
            Token by = cur();
            ++i;
            expression();
            emit(Op::Store, bySlot, by);
        } else {
            emit(Op::PushK, 0, to, 0, 1.0);
            emit(Op::Store, bySlot, to);
        }
        int32_t top = here();
        emit(Op::Load, slot, t);
        emit(Op::Load, endSlot, t);
        emit(Op::Load, bySlot, t);
        emit(Op::DoTest, 0, t);
        size_t jExit = emit(Op::Jf, -1, t);
        std::vector<size_t> exits{jExit};
        size_t untilStart = 0;
        bool hasUntil = false;
        if (is_word("WHILE") && is_punct("(", 1)) {
            ++i;
            parenthesised_condition();
            exits.push_back(emit(Op::Jf, -1, t));
        } else if (is_word("UNTIL") && is_punct("(", 1)) {
            ++i;
            untilStart = i;
            hasUntil = true;
            skip_parenthesised();
        }
        end_statement(first);
        block_until_end(t);
        if (hasUntil) {
            size_t after = i;
            i = untilStart;
            parenthesised_condition();
            exits.push_back(emit(Op::Jt, -1, t));
            i = after;
        }
        emit(Op::Load, slot, t);
        emit(Op::Load, bySlot, t);
        emit(Op::Add, 0, t);
        emit(Op::Store, slot, t);
        emit(Op::Jmp, top, t);
        for (size_t e : exits) patch(e, here());
    }
    void skip_parenthesised() {
        const Token open = cur();
        expect_punct("(");
        int32_t level = 1;
        while (level > 0) {
            if (cur().kind == Tok::kEnd || is_punct(";")) fail(open, "'(' without a matching ')'");
            if (is_punct("(")) ++level;
            if (is_punct(")")) --level;
            ++i;
        }
    }

    void select_statement(const Token& t, size_t first) {
        int32_t selSlot = -1;
        if (is_punct("(")) {
            parenthesised_condition();
            selSlot = temp_slot();
            emit(Op::Store, selSlot, t);
        }
        end_statement(first);
        ++blockIndent;
        std::vector<size_t> toEnd;
        bool otherwise = false;
        while (!(is_word("END") && !is_punct("=", 1))) {
            const Token w = cur();
            size_t wFirst = i;
            if (w.kind == Tok::kEnd) fail(t, "SELECT without a matching END");
            if (is_word("WHEN") && is_punct("(", 1)) {
                if (otherwise) fail(w, "WHEN after OTHERWISE");
                ++i;
                expect_punct("(");
                int32_t n = 0;
                do {
                    if (selSlot >= 0) emit(Op::Load, selSlot, w);
                    expression();
                    if (selSlot >= 0) emit(Op::Eq, 0, w);
                    if (n > 0) emit(Op::Or, 0, w);
                    ++n;
                } while (is_punct(",") && (++i, true));
                expect_punct(")");
                size_t jf = emit(Op::Jf, -1, w);
                record_if_header(wFirst);
                sub_statement();
                toEnd.push_back(emit(Op::Jmp, -1, w));
                patch(jf, here());
            } else if (is_word("OTHERWISE") && !is_punct("=", 1)) {
                if (otherwise) fail(w, "OTHERWISE given twice");
                otherwise = true;
                ++i;
                if (statementNesting == 0)
                    p->statementTexts_.push_back(std::string(static_cast<size_t>(2 * blockIndent), ' ') + "OTHERWISE");
                sub_statement();
                toEnd.push_back(emit(Op::Jmp, -1, w));
            } else {
                fail(w, "expected WHEN, OTHERWISE or END in a SELECT group, found " + describe(w));
            }
        }
        --blockIndent;
        if (!otherwise) emit(Op::Fault, kFaultNoWhen, t);
        for (size_t j : toEnd) patch(j, here());
        size_t endFirst = i;
        ++i;
        end_statement(endFirst);
    }

    // ARRAY name {n|*} [$ [len]] [elements] [(initial values)].
    void array_statement(const Token& at) {
        Token name = cur();
        if (name.kind != Tok::kName) fail(name, "expected an array name, found " + describe(name));
        if (arrays.count(name.text)) fail(name, "array " + name.raw + " defined twice");
        if (symbols.count(name.text)) fail(name, name.raw + " is already a variable");
        ++i;
        const char* close = closer_of(cur().text);
        if (!close) fail(cur(), "expected the array dimension, found " + describe(cur()));
        ++i;
        int64_t dim = -1;
        if (is_punct("*")) {
            ++i;
        } else if (cur().kind == Tok::kNumber && cur().value >= 1.0 && cur().value <= 32767.0 &&
                   cur().value == static_cast<double>(static_cast<int64_t>(cur().value))) {
            dim = static_cast<int64_t>(cur().value);
            ++i;
        } else {
            fail(cur(), "the array dimension must be a positive integer or *");
        }
        expect_punct(close);
        bool character = false;
        if (is_punct("$")) {
            character = true;
            ++i;
            if (cur().kind == Tok::kNumber) ++i;
        }
        std::vector<Token> elems;
        while (cur().kind == Tok::kName) {
            Token e = cur();
            ++i;
            if (is_punct("-") && ahead(1).kind == Tok::kName) {
                Token last = ahead(1);
                i += 2;
                expand_range(e, last, &elems);
            } else {
                elems.push_back(e);
            }
        }
        if (dim < 0) {
            if (elems.empty()) fail(name, "array " + name.raw + " with dimension * needs its elements");
            dim = static_cast<int64_t>(elems.size());
        } else if (elems.empty()) {
            for (int64_t k = 1; k <= dim; ++k) {
                Token e = name;
                e.raw = name.raw + std::to_string(k);
                e.text = name.text + std::to_string(k);
                elems.push_back(e);
            }
        } else if (static_cast<int64_t>(elems.size()) != dim) {
            fail(name, "array " + name.raw + " has " + std::to_string(elems.size()) +
                           " elements but dimension " + std::to_string(dim));
        }
        std::vector<double> init;
        if (is_punct("(")) {
            ++i;
            while (!is_punct(")")) {
                bool neg = false;
                if (is_punct("-") || is_punct("+")) {
                    neg = cur().text == "-";
                    ++i;
                }
                if (cur().kind != Tok::kNumber && cur().kind != Tok::kMissing)
                    fail(cur(), "expected an initial value, found " + describe(cur()));
                init.push_back(neg ? -cur().value : cur().value);
                ++i;
                if (is_punct(",")) ++i;
            }
            ++i;
            if (character) fail(at, "initial values for the non-numeric array " + name.raw);
            if (static_cast<int64_t>(init.size()) > dim)
                fail(at, "more initial values than elements in array " + name.raw);
        }
        std::vector<int32_t> slots;
        for (const Token& e : elems) {
            if (arrays.count(e.text)) fail(e, e.raw + " is an array");
            CmpSymbol* s = symbol(e);
            if (character) {
                if (s->slot >= 0) fail(e, e.raw + " is already numeric");
                s->valueType = 'c';
                continue;
            }
            if (s->valueType != 'n') fail(e, e.raw + " is not numeric");
            if (s->slot < 0) s->slot = p->new_slot(s);
            slots.push_back(s->slot);
        }
        int32_t id = static_cast<int32_t>(p->arrays_.size());
        p->arrays_.push_back(slots);
        init.resize(static_cast<size_t>(init.empty() ? 0 : dim), host_missing_value());
        p->arrayInit_.push_back(init);
        arrays[name.text] = {id, character};
    }
    // x1-x5: the same prefix with increasing numeric suffixes.
    void expand_range(const Token& a, const Token& b, std::vector<Token>* out) {
        auto split = [](const std::string& s, std::string* prefix, int64_t* number) {
            size_t k = s.size();
            while (k > 0 && std::isdigit(static_cast<unsigned char>(s[k - 1]))) --k;
            if (k == s.size() || s.size() - k > 9) return false;
            *prefix = s.substr(0, k);
            *number = std::stoll(s.substr(k));
            return true;
        };
        std::string pa, pb;
        int64_t na = 0, nb = 0;
        if (!split(a.text, &pa, &na) || !split(b.text, &pb, &nb) || pa != pb || nb < na)
            fail(a, "invalid variable range " + a.raw + "-" + b.raw);
        std::string rawPrefix = a.raw.substr(0, pa.size());
        for (int64_t k = na; k <= nb; ++k) {
            Token e = a;
            e.text = pa + std::to_string(k);
            e.raw = rawPrefix + std::to_string(k);
            out->push_back(e);
        }
    }

    // LENGTH names [$] n ...: "$" declares the names character.
    void length_statement() {
        std::vector<Token> names;
        bool any = false;
        while (cur().kind == Tok::kName) {
            names.push_back(cur());
            ++i;
            if (cur().kind == Tok::kName) continue;
            bool character = false;
            if (is_punct("$")) {
                character = true;
                ++i;
            }
            if (cur().kind != Tok::kNumber) fail(cur(), "expected a length, found " + describe(cur()));
            ++i;
            for (const Token& n : names) {
                if (arrays.count(n.text)) fail(n, n.raw + " is an array");
                CmpSymbol* s = symbol(n);
                if (character) {
                    if (s->slot >= 0) fail(n, n.raw + " is already numeric");
                    s->valueType = 'c';
                } else if (s->valueType != 'n') {
                    fail(n, n.raw + " is already non-numeric");
                }
            }
            names.clear();
            any = true;
        }
        if (!any || !names.empty()) fail(cur(), "expected a variable and a length, found " + describe(cur()));
    }

    void guarded_statement() {
        size_t start = i;
        try {
            statement();
            if (statementNesting == 0 && blockIndent == 0) ++p->statementCount_;
        } catch (const SyntaxError& e) {
            report(e);
            // Skip the rest of the statement (at least one token).
            if (i == start) ++i;
            while (cur().kind != Tok::kEnd && !is_punct(";")) ++i;
            if (is_punct(";")) ++i;
            depth = 0;
        }
    }
    void report(const SyntaxError& e) {
        if (errors->size() < kMaxErrors) errors->push_back({e.line, e.column, e.message});
    }

    void program() {
        while (cur().kind != Tok::kEnd) {
            if (is_word("END") && !is_punct("=", 1)) {
                report({cur().line, cur().column, "END without a matching DO or SELECT"});
                ++i;
                if (is_punct(";")) ++i;
                continue;
            }
            guarded_statement();
        }
        for (const PendingJump& j : pending) {
            auto it = labels.find(j.label);
            if (it == labels.end()) {
                p->undefinedLabels_.push_back({j.label, j.place});
                report({j.place.line, j.place.column, "label " + j.label + " is not defined"});
            } else {
                patch(j.instr, it->second);
            }
        }
    }
};

bool Program::compile(const CmpSource* pieces, int32_t count, std::vector<Diagnostic>* errors) {
    errors->clear();
    Builder b;
    b.p = this;
    b.errors = errors;
    LexError lexError;
    if (!tokenize(pieces, count, &b.toks, &b.joined, &lexError)) {
        errors->push_back({lexError.line, lexError.column, lexError.message});
        return false;
    }
    // Symbols bound before the program was compiled keep their records.
    for (CmpSymbol* s = head_; s; s = s->next) {
        std::string upper(s->name, static_cast<size_t>(s->nameLength));
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        b.symbols[upper] = s;
    }
    b.program();
    if (!errors->empty()) return false;
    finish_slots();
    return true;
}

}  // namespace velix::compiler
