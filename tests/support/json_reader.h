// A small JSON reader for tests: parses a document (RFC 8259) into a tree of
// values that tests walk by key and index.  Malformed input throws
// std::runtime_error with the offset of the fault; a missing key or index
// yields a shared null value, so chains of lookups read naturally in asserts.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velix::test {

class JsonValue {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Type type() const { return type_; }
    bool is_null() const { return type_ == Type::Null; }
    bool is_number() const { return type_ == Type::Number; }
    bool is_string() const { return type_ == Type::String; }
    bool is_array() const { return type_ == Type::Array; }
    bool is_object() const { return type_ == Type::Object; }

    bool boolean() const { return boolean_; }
    double number() const { return number_; }
    const std::string& str() const { return string_; }

    // Elements of an array or members of an object; 0 otherwise.
    size_t size() const;
    const JsonValue& operator[](size_t index) const;
    const JsonValue& operator[](int index) const {
        return index < 0 ? (*this)[static_cast<size_t>(-1)] : (*this)[static_cast<size_t>(index)];
    }
    const JsonValue& operator[](const std::string& key) const;
    const JsonValue& operator[](const char* key) const { return (*this)[std::string(key)]; }
    bool has(const std::string& key) const;
    // Member names of an object in their order in the text.
    const std::vector<std::string>& keys() const { return keys_; }

    static JsonValue parse(const std::string& text);

private:
    friend class JsonParser;
    Type type_ = Type::Null;
    bool boolean_ = false;
    double number_ = 0.0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<std::string> keys_;
    std::map<std::string, size_t> index_;  // key -> position in items_
};

}  // namespace velix::test
