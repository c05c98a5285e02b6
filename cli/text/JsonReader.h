#pragma once
// A strict JSON reader for the files the tool reads back (motion files): a document is taken
// whole or refused with the line and column of the first thing wrong, never half read. Strict
// means what JSON allows and no more (no comments, no trailing commas, no NaN, no leading
// zeros, UTF-8 only), plus what a reader of untrusted files needs: a limit on nesting, a limit
// on size, and an object with the same key twice refused (which one would count is a guess).

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace framemeld::cli {

class JsonValue {
public:
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text; // a string's value, UTF-8
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members; // in the order written
    // Where the value starts in the document, from 1; column counts bytes.
    int line = 1;
    int column = 1;

    bool isNull() const { return kind == Kind::Null; }
    bool isBoolean() const { return kind == Kind::Boolean; }
    bool isNumber() const { return kind == Kind::Number; }
    bool isString() const { return kind == Kind::String; }
    bool isArray() const { return kind == Kind::Array; }
    bool isObject() const { return kind == Kind::Object; }

    // The member named `key` of an object; null when there is none (or this is no object).
    const JsonValue *find(std::string_view key) const;
    // "3:17", for messages about this value.
    std::string where() const;
};

// What the document was refused for, with where: message() is "3:17: expected ',' or '}'".
class JsonSyntaxError : public std::runtime_error {
public:
    JsonSyntaxError(int line, int column, const std::string &what);
    int line() const { return line_; }
    int column() const { return column_; }

private:
    int line_;
    int column_;
};

struct JsonLimits {
    std::size_t maxBytes = 64u << 20;
    int maxDepth = 64; // arrays and objects inside one another
};

// The one value `text` holds, whitespace around it allowed and nothing else. Throws
// JsonSyntaxError.
JsonValue parseJson(std::string_view text, const JsonLimits &limits = {});

// The kind's name for messages: "a number", "an object", ...
const char *jsonKindName(JsonValue::Kind kind);

} // namespace framemeld::cli
