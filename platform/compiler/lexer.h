// Tokens of the statement language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velix/host_compiler.h"

namespace velix::compiler {

enum class Tok : uint8_t {
    kName,     // text: upper-cased; raw: as written
    kNumber,   // value
    kMissing,  // value: a missing value literal (".", "._", ".A" .. ".Z")
    kPunct,    // text: the operator or punctuation ("**", "<=", "^=", ...)
    kString,   // text: a quoted string (only LENGTH-free uses are errors)
    kEnd
};

struct Token {
    Tok kind = Tok::kEnd;
    std::string text;  // upper case for names
    std::string raw;   // as written (names)
    double value = 0.0;
    int32_t line = 0;
    int32_t column = 0;
    int32_t offset = 0;  // byte offset in the joined source (statement texts)
    bool synthetic = false;  // a ';' added at the end of a piece
};

struct LexError {
    int32_t line = 0;
    int32_t column = 0;
    std::string message;
};

// Splits the pieces into tokens.  A piece whose last token is not ';' gets
// a synthetic one.  `joined` receives the pieces' text joined by newlines
// (token offsets refer to it).  False on a lexical error.
bool tokenize(const CmpSource* pieces, int32_t count, std::vector<Token>* tokens,
              std::string* joined, LexError* error);

}  // namespace velix::compiler
