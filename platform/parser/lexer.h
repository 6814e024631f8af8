// Lexical analysis of statement text: names, numbers, quoted strings and
// operators with their line and column; comments and comment statements are
// skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velix::platform::parser {

enum class TokenKind : uint8_t {
    kEnd,     // end of the text
    kName,    // letters, digits and underscores, not starting with a digit
    kNumber,  // a numeric constant (`number`)
    kString,  // a quoted string (`text` without the quotes)
    kMissing, // a lone "." (the missing value)
    kOp,      // punctuation or an operator (`text`)
};

struct Token {
    TokenKind kind = TokenKind::kEnd;
    std::string text;     // the name as written, the operator, or the string
    double number = 0.0;
    int32_t line = 1;     // 1-based, relative to the text
    int32_t column = 1;   // 1-based
    size_t offset = 0;    // byte offset of the first character
    size_t endOffset = 0; // one past the last character
};

// The lexer's failure: an unterminated comment or string, or a character
// that starts no token.
struct LexError {
    std::string message;
    int32_t line = 1;
    int32_t column = 1;
};

// Splits `text` into tokens.  A statement that begins with "*" is a
// comment up to its ";" and yields no tokens; "/* ... */" comments may stand
// anywhere.  Throws LexError.
std::vector<Token> tokenize(std::string_view text);

}  // namespace velix::platform::parser
