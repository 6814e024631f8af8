// Recursive-descent JSON reader (the grammar of RFC 8259), with \uXXXX
// escapes and surrogate pairs decoded to UTF-8.
#include "tests/support/json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace velix::test {

class JsonParser {
public:
    explicit JsonParser(const std::string& t) : text_(t) {}

    JsonValue document() {
        JsonValue v = value();
        skip_space();
        if (pos_ != text_.size()) fail("text after the document");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(pos_));
    }

    void skip_space() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t'))
            ++pos_;
    }

    bool take(char c) {
        skip_space();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!take(c)) fail(std::string("expected '") + c + "'");
    }

    bool literal(const char* word) {
        const std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0) return false;
        pos_ += w.size();
        return true;
    }

    JsonValue value() {
        skip_space();
        if (pos_ >= text_.size()) fail("unexpected end");
        JsonValue v;
        const char c = text_[pos_];
        if (c == '{') {
            ++pos_;
            v.type_ = JsonValue::Type::Object;
            if (take('}')) return v;
            do {
                skip_space();
                if (pos_ >= text_.size() || text_[pos_] != '"') fail("expected a key");
                std::string key = string();
                expect(':');
                JsonValue member = value();
                const auto it = v.index_.find(key);
                if (it != v.index_.end()) fail("duplicate key " + key);
                v.index_[key] = v.items_.size();
                v.keys_.push_back(key);
                v.items_.push_back(std::move(member));
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            ++pos_;
            v.type_ = JsonValue::Type::Array;
            if (take(']')) return v;
            do v.items_.push_back(value());
            while (take(','));
            expect(']');
        } else if (c == '"') {
            v.type_ = JsonValue::Type::String;
            v.string_ = string();
        } else if (literal("true")) {
            v.type_ = JsonValue::Type::Bool;
            v.boolean_ = true;
        } else if (literal("false")) {
            v.type_ = JsonValue::Type::Bool;
        } else if (literal("null")) {
            v.type_ = JsonValue::Type::Null;
        } else {
            v.type_ = JsonValue::Type::Number;
            v.number_ = number();
        }
        return v;
    }

    double number() {
        const size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        auto digits = [&] {
            const size_t s = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
            return pos_ > s;
        };
        if (!digits()) fail("bad number");
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (!digits()) fail("bad fraction");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (!digits()) fail("bad exponent");
        }
        return std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
    }

    unsigned hex4() {
        if (pos_ + 4 > text_.size()) fail("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[pos_++];
            v <<= 4;
            if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
            else fail("bad hex digit");
        }
        return v;
    }

    static void put_utf8(std::string* out, unsigned cp) {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    std::string string() {
        ++pos_;  // the opening quote
        std::string out;
        while (true) {
            if (pos_ >= text_.size()) fail("unterminated string");
            const char c = text_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= text_.size()) fail("unterminated escape");
            const char e = text_[pos_++];
            switch (e) {
                case '"': out.push_back('"'); break;
                case '\\': out.push_back('\\'); break;
                case '/': out.push_back('/'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && literal("\\u")) {
                        const unsigned low = hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    put_utf8(&out, cp);
                    break;
                }
                default: fail("bad escape");
            }
        }
    }

    const std::string& text_;
    size_t pos_ = 0;
};

namespace {
const JsonValue& null_value() {
    static const JsonValue v;
    return v;
}
}  // namespace

size_t JsonValue::size() const {
    return type_ == Type::Array || type_ == Type::Object ? items_.size() : 0;
}

const JsonValue& JsonValue::operator[](size_t index) const {
    return (type_ == Type::Array || type_ == Type::Object) && index < items_.size() ? items_[index]
                                                                                    : null_value();
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
    if (type_ != Type::Object) return null_value();
    const auto it = index_.find(key);
    return it == index_.end() ? null_value() : items_[it->second];
}

bool JsonValue::has(const std::string& key) const {
    return type_ == Type::Object && index_.count(key) != 0;
}

JsonValue JsonValue::parse(const std::string& text) { return JsonParser(text).document(); }

}  // namespace velix::test
