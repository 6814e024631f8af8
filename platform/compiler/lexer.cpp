// Lexical analysis of the statement language: names, numbers, missing-value
// literals, quoted strings, operators and punctuation, with /* ... */
// comments skipped.  Every token keeps the line and column of its first
// character in the program file, so that errors can point at it.
#include "platform/compiler/lexer.h"

#include <cctype>
#include <cstdlib>

#include "platform/compiler/program.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

bool name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The operators of two characters, longest match first.
constexpr const char* kTwoChar[] = {"**", "<=", ">=", "^=", "~=", "!="};

class Scanner {
public:
    Scanner(const std::string& text, int32_t base, int32_t line, int32_t column)
        : s_(text), pos_(0), base_(base), line_(line), col_(column) {}

    bool at_end() const { return pos_ >= s_.size(); }
    char peek(size_t ahead = 0) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
    void advance() {
        if (s_[pos_] == '\n') {
            ++line_;
            col_ = 1;
        } else {
            ++col_;
        }
        ++pos_;
    }
    int32_t line() const { return line_; }
    int32_t column() const { return col_; }
    int32_t offset() const { return base_ + static_cast<int32_t>(pos_); }
    size_t pos() const { return pos_; }
    const std::string& text() const { return s_; }

private:
    const std::string& s_;
    size_t pos_;
    int32_t base_;
    int32_t line_;
    int32_t col_;
};

bool scan_piece(Scanner* sc, std::vector<Token>* out, LexError* error) {
    while (true) {
        while (!sc->at_end() && std::isspace(static_cast<unsigned char>(sc->peek()))) sc->advance();
        if (sc->at_end()) return true;
        Token t;
        t.line = sc->line();
        t.column = sc->column();
        t.offset = sc->offset();
        char c = sc->peek();
        if (c == '/' && sc->peek(1) == '*') {
            sc->advance();
            sc->advance();
            while (!sc->at_end() && !(sc->peek() == '*' && sc->peek(1) == '/')) sc->advance();
            if (sc->at_end()) {
                *error = {t.line, t.column, "comment not closed"};
                return false;
            }
            sc->advance();
            sc->advance();
            continue;
        }
        if (name_start(c)) {
            while (!sc->at_end() && name_char(sc->peek())) {
                t.raw.push_back(sc->peek());
                sc->advance();
            }
            if (t.raw.size() > 32) {
                *error = {t.line, t.column, "name longer than 32 characters: " + t.raw};
                return false;
            }
            t.kind = Tok::kName;
            for (char ch : t.raw) t.text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && std::isdigit(static_cast<unsigned char>(sc->peek(1))))) {
            std::string num;
            while (!sc->at_end() && (std::isdigit(static_cast<unsigned char>(sc->peek())) || sc->peek() == '.')) {
                num.push_back(sc->peek());
                sc->advance();
            }
            if ((sc->peek() == 'e' || sc->peek() == 'E') &&
                (std::isdigit(static_cast<unsigned char>(sc->peek(1))) ||
                 ((sc->peek(1) == '+' || sc->peek(1) == '-') &&
                  std::isdigit(static_cast<unsigned char>(sc->peek(2)))))) {
                num.push_back(sc->peek());
                sc->advance();
                num.push_back(sc->peek());
                sc->advance();
                while (!sc->at_end() && std::isdigit(static_cast<unsigned char>(sc->peek()))) {
                    num.push_back(sc->peek());
                    sc->advance();
                }
            }
            char* end = nullptr;
            t.value = std::strtod(num.c_str(), &end);
            if (end != num.c_str() + num.size() || name_char(sc->peek())) {
                *error = {t.line, t.column, "invalid number: " + num};
                return false;
            }
            t.kind = Tok::kNumber;
        } else if (c == '.') {
            // A missing-value literal: ".", "._" or ".A" .. ".Z" not followed
            // by another name character.
            sc->advance();
            char n = sc->peek();
            int code = 0;
            if (n == '_' && !name_char(sc->peek(1))) {
                code = 1;
                sc->advance();
            } else if (std::isalpha(static_cast<unsigned char>(n)) && !name_char(sc->peek(1))) {
                code = 2 + (std::toupper(static_cast<unsigned char>(n)) - 'A');
                sc->advance();
            }
            t.kind = Tok::kMissing;
            t.value = code == 0 ? host_missing_value() : host_special_missing(code);
        } else if (c == '\'' || c == '"') {
            char quote = c;
            sc->advance();
            while (true) {
                if (sc->at_end()) {
                    *error = {t.line, t.column, "string not closed"};
                    return false;
                }
                if (sc->peek() == quote) {
                    sc->advance();
                    if (sc->peek() != quote) break;
                }
                t.text.push_back(sc->peek());
                sc->advance();
            }
            t.kind = Tok::kString;
        } else {
            t.kind = Tok::kPunct;
            for (const char* two : kTwoChar) {
                if (c == two[0] && sc->peek(1) == two[1]) {
                    t.text = two;
                    break;
                }
            }
            if (t.text.empty()) {
                if (std::string("+-*/=<>^~!&|()[]{},;:$").find(c) == std::string::npos) {
                    *error = {t.line, t.column, std::string("unexpected character '") + c + "'"};
                    return false;
                }
                t.text = std::string(1, c);
            }
            for (size_t i = 0; i < t.text.size(); ++i) sc->advance();
            // "!=" is the same as "^=", "!" the same as "|".
            if (t.text == "!=" || t.text == "~=") t.text = "^=";
            if (t.text == "!") t.text = "|";
            if (t.text == "~") t.text = "^";
        }
        out->push_back(std::move(t));
    }
}

}  // namespace

bool tokenize(const CmpSource* pieces, int32_t count, std::vector<Token>* tokens,
              std::string* joined, LexError* error) {
    tokens->clear();
    joined->clear();
    for (int32_t i = 0; i < count; ++i) {
        const CmpSource& p = pieces[i];
        std::string text(p.text ? p.text : "", p.text ? static_cast<size_t>(p.length) : 0);
        int32_t base = static_cast<int32_t>(joined->size());
        Scanner sc(text, base, p.line, p.column);
        size_t before = tokens->size();
        if (!scan_piece(&sc, tokens, error)) return false;
        if (tokens->size() > before &&
            !(tokens->back().kind == Tok::kPunct && tokens->back().text == ";")) {
            Token semi;
            semi.kind = Tok::kPunct;
            semi.text = ";";
            semi.line = sc.line();
            semi.column = sc.column();
            semi.offset = sc.offset();
            semi.synthetic = true;
            tokens->push_back(semi);
        }
        joined->append(text);
        joined->push_back('\n');
    }
    Token end;
    end.kind = Tok::kEnd;
    end.offset = static_cast<int32_t>(joined->size());
    if (!tokens->empty()) {
        end.line = tokens->back().line;
        end.column = tokens->back().column;
    }
    tokens->push_back(end);
    return true;
}

}  // namespace velix::compiler
