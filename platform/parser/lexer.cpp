// Hand-written scanner for the statement language (Aho, Sethi and Ullman,
// "Compilers", ch. 3: longest match over a small set of token classes).
// Comment statements ("* text;") are recognised here because only the
// scanner knows whether a "*" stands at the start of a statement.
#include "platform/parser/lexer.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

namespace velix::platform::parser {

namespace {

bool name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Names a character that starts no token.  Control characters and bytes
// outside ASCII (a UTF-8 letter, a stray byte) are shown by their code, so
// that the message itself stays plain printable text.
std::string unexpected_character(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7f) return std::string("unexpected character '") + c + "'";
    static const char kHex[] = "0123456789ABCDEF";
    std::string code = "0x";
    code.push_back(kHex[u >> 4]);
    code.push_back(kHex[u & 0x0f]);
    const char* what = u >= 0x80 ? " (names and keywords are ASCII letters, digits and \"_\")"
                                 : "";
    return "unexpected byte " + code + what;
}

// Two-character operators, longest match first.
constexpr const char* kTwoCharOps[] = {"<=", ">=", "^=", "~=", "!=", "<>", "==", "**", "||", "><"};

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    std::vector<Token> run() {
        std::vector<Token> out;
        bool statementStart = true;
        for (;;) {
            skip_blanks_and_comments();
            if (pos_ >= text_.size()) break;
            if (statementStart && text_[pos_] == '*') {
                skip_comment_statement();
                continue;
            }
            Token t = next_token();
            statementStart = t.kind == TokenKind::kOp && t.text == ";";
            out.push_back(std::move(t));
        }
        Token end;
        end.kind = TokenKind::kEnd;
        end.line = line_;
        end.column = column();
        end.offset = end.endOffset = pos_;
        out.push_back(end);
        return out;
    }

private:
    int32_t column() const { return static_cast<int32_t>(pos_ - lineStart_) + 1; }

    void advance() {
        if (text_[pos_] == '\n') {
            ++line_;
            lineStart_ = pos_ + 1;
        }
        ++pos_;
    }

    void skip_blanks_and_comments() {
        while (pos_ < text_.size()) {
            char ch = text_[pos_];
            if (std::isspace(static_cast<unsigned char>(ch))) {
                advance();
            } else if (ch == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
                int32_t l = line_, col = column();
                advance();
                advance();
                while (pos_ + 1 < text_.size() && !(text_[pos_] == '*' && text_[pos_ + 1] == '/'))
                    advance();
                if (pos_ + 1 >= text_.size()) throw LexError{"unterminated comment", l, col};
                advance();
                advance();
            } else {
                break;
            }
        }
    }

    void skip_comment_statement() {
        while (pos_ < text_.size() && text_[pos_] != ';') advance();
        if (pos_ < text_.size()) advance();
    }

    Token next_token() {
        Token t;
        t.line = line_;
        t.column = column();
        t.offset = pos_;
        char ch = text_[pos_];
        if (name_start(ch)) {
            size_t b = pos_;
            while (pos_ < text_.size() && name_char(text_[pos_])) advance();
            t.kind = TokenKind::kName;
            t.text = std::string(text_.substr(b, pos_ - b));
        } else if (digit(ch) || (ch == '.' && pos_ + 1 < text_.size() && digit(text_[pos_ + 1]))) {
            scan_number(&t);
        } else if (ch == '.') {
            advance();
            t.kind = TokenKind::kMissing;
            t.text = ".";
        } else if (ch == '\'' || ch == '"') {
            scan_string(&t, ch);
        } else {
            t.kind = TokenKind::kOp;
            for (const char* op : kTwoCharOps) {
                if (text_.substr(pos_, 2) == op) {
                    t.text = op;
                    advance();
                    advance();
                    t.endOffset = pos_;
                    return t;
                }
            }
            if (std::string_view("=;,()[]{}+-*/<>^~!:&|@$%").find(ch) == std::string_view::npos)
                throw LexError{unexpected_character(ch), t.line, t.column};
            t.text = std::string(1, ch);
            advance();
        }
        t.endOffset = pos_;
        return t;
    }

    void scan_number(Token* t) {
        size_t b = pos_;
        while (pos_ < text_.size() && digit(text_[pos_])) advance();
        if (pos_ < text_.size() && text_[pos_] == '.') {
            advance();
            while (pos_ < text_.size() && digit(text_[pos_])) advance();
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            size_t save = pos_;
            size_t p = pos_ + 1;
            if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
            if (p < text_.size() && digit(text_[p])) {
                while (pos_ < p) advance();
                while (pos_ < text_.size() && digit(text_[pos_])) advance();
            } else {
                pos_ = save;
            }
        }
        if (pos_ < text_.size() && name_start(text_[pos_]))
            throw LexError{"a number runs into a name", t->line, t->column};
        t->kind = TokenKind::kNumber;
        t->text = std::string(text_.substr(b, pos_ - b));
        t->number = std::strtod(t->text.c_str(), nullptr);
        // strtod answers an overflow with infinity, which no option or
        // coefficient can take (and which an integer target cannot hold).
        if (std::isinf(t->number))
            throw LexError{"the number " + t->text + " is too large", t->line, t->column};
    }

    void scan_string(Token* t, char quote) {
        advance();
        std::string s;
        for (;;) {
            if (pos_ >= text_.size()) throw LexError{"unterminated string", t->line, t->column};
            char ch = text_[pos_];
            if (ch == quote) {
                advance();
                if (pos_ < text_.size() && text_[pos_] == quote) {  // doubled quote
                    s.push_back(quote);
                    advance();
                    continue;
                }
                break;
            }
            s.push_back(ch);
            advance();
        }
        t->kind = TokenKind::kString;
        t->text = std::move(s);
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t lineStart_ = 0;
    int32_t line_ = 1;
};

}  // namespace

std::vector<Token> tokenize(std::string_view text) { return Scanner(text).run(); }

}  // namespace velix::platform::parser
