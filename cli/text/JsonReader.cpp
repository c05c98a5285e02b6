#include "cli/text/JsonReader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <unordered_set>

namespace framemeld::cli {
namespace {

std::string describe(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
        return std::string("'") + c + "'";
    }
    static const char digits[] = "0123456789abcdef";
    return std::string("byte 0x") + digits[byte >> 4] + digits[byte & 15];
}

void appendUtf8(std::string &out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

class Parser {
public:
    Parser(std::string_view text, const JsonLimits &limits) : text_(text), limits_(limits) {}

    JsonValue document()
    {
        if (text_.size() > limits_.maxBytes) {
            throw JsonSyntaxError(1, 1,
                                  "the document holds " + std::to_string(text_.size()) +
                                      " bytes, more than the " + std::to_string(limits_.maxBytes) +
                                      " this reader takes");
        }
        skipWhitespace();
        if (atEnd()) {
            fail("no JSON value (the document is empty)");
        }
        JsonValue value = parseValue(0);
        skipWhitespace();
        if (!atEnd()) {
            fail("unexpected " + describe(peek()) + " after the document's value");
        }
        return value;
    }

private:
    bool atEnd() const { return at_ >= text_.size(); }
    char peek() const { return text_[at_]; }
    int column() const { return static_cast<int>(at_ - lineStart_) + 1; }

    [[noreturn]] void fail(const std::string &what) const { failAt(line_, column(), what); }
    [[noreturn]] static void failAt(int line, int column, const std::string &what)
    {
        throw JsonSyntaxError(line, column, what);
    }

    void skipWhitespace()
    {
        while (!atEnd()) {
            const char c = peek();
            if (c == '\n') {
                ++line_;
                lineStart_ = at_ + 1;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++at_;
        }
    }

    void expectWord(std::string_view word)
    {
        if (text_.substr(at_, word.size()) != word) {
            fail("unexpected " + describe(peek()) + " (expected a value)");
        }
        at_ += word.size();
    }

    JsonValue parseValue(int depth)
    {
        JsonValue value;
        value.line = line_;
        value.column = column();
        if (atEnd()) {
            fail("the document ends where a value should be");
        }
        const char c = peek();
        switch (c) {
        case '{': parseObject(value, depth + 1); break;
        case '[': parseArray(value, depth + 1); break;
        case '"':
            value.kind = JsonValue::Kind::String;
            value.text = parseString();
            break;
        case 't':
            expectWord("true");
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = true;
            break;
        case 'f':
            expectWord("false");
            value.kind = JsonValue::Kind::Boolean;
            break;
        case 'n': expectWord("null"); break;
        default:
            if (c == '-' || (c >= '0' && c <= '9')) {
                value.kind = JsonValue::Kind::Number;
                value.number = parseNumber();
            } else {
                fail("unexpected " + describe(c) + " (expected a value)");
            }
        }
        return value;
    }

    void enter(int depth) const
    {
        if (depth > limits_.maxDepth) {
            fail("arrays and objects nested deeper than " + std::to_string(limits_.maxDepth) +
                 " levels");
        }
    }

    void parseObject(JsonValue &value, int depth)
    {
        enter(depth);
        value.kind = JsonValue::Kind::Object;
        ++at_;
        skipWhitespace();
        if (!atEnd() && peek() == '}') {
            ++at_;
            return;
        }
        std::unordered_set<std::string> keys;
        for (;;) {
            skipWhitespace();
            if (atEnd()) {
                fail("the document ends inside an object");
            }
            if (peek() != '"') {
                fail("unexpected " + describe(peek()) + " (expected a key in double quotes)");
            }
            const int keyLine = line_;
            const int keyColumn = column();
            std::string key = parseString();
            if (!keys.insert(key).second) {
                failAt(keyLine, keyColumn, "the key \"" + key + "\" appears twice in one object");
            }
            skipWhitespace();
            if (atEnd() || peek() != ':') {
                fail(atEnd() ? "the document ends inside an object"
                             : "unexpected " + describe(peek()) + " (expected ':' after a key)");
            }
            ++at_;
            skipWhitespace();
            JsonValue member = parseValue(depth);
            value.members.emplace_back(std::move(key), std::move(member));
            skipWhitespace();
            if (atEnd()) {
                fail("the document ends inside an object");
            }
            if (peek() == '}') {
                ++at_;
                return;
            }
            if (peek() != ',') {
                fail("unexpected " + describe(peek()) + " (expected ',' or '}')");
            }
            ++at_;
        }
    }

    void parseArray(JsonValue &value, int depth)
    {
        enter(depth);
        value.kind = JsonValue::Kind::Array;
        ++at_;
        skipWhitespace();
        if (!atEnd() && peek() == ']') {
            ++at_;
            return;
        }
        for (;;) {
            skipWhitespace();
            if (!atEnd() && peek() == ']') {
                fail("a ',' before ']' (a trailing comma)");
            }
            value.items.push_back(parseValue(depth));
            skipWhitespace();
            if (atEnd()) {
                fail("the document ends inside an array");
            }
            if (peek() == ']') {
                ++at_;
                return;
            }
            if (peek() != ',') {
                fail("unexpected " + describe(peek()) + " (expected ',' or ']')");
            }
            ++at_;
        }
    }

    int hexDigit(char c) const
    {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    // The four hex digits after "\u", at_ on the 'u'; faults are said at `escape`, the
    // column of the backslash.
    std::uint32_t parseHex4(int escape)
    {
        std::uint32_t code = 0;
        for (int k = 1; k <= 4; ++k) {
            const std::size_t i = at_ + static_cast<std::size_t>(k);
            const int digit = i < text_.size() ? hexDigit(text_[i]) : -1;
            if (digit < 0) {
                failAt(line_, escape, "\\u needs four hex digits");
            }
            code = code * 16 + static_cast<std::uint32_t>(digit);
        }
        at_ += 5;
        return code;
    }

    void parseEscape(std::string &out)
    {
        const int escape = column();
        ++at_; // the backslash
        if (atEnd()) {
            fail("the document ends inside a string");
        }
        const char c = peek();
        switch (c) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            std::uint32_t code = parseHex4(escape);
            if (code >= 0xdc00 && code <= 0xdfff) {
                failAt(line_, escape, "a \\u escape of a lone low surrogate");
            }
            if (code >= 0xd800 && code <= 0xdbff) {
                if (text_.substr(at_, 2) != "\\u") {
                    failAt(line_, escape, "a \\u escape of a high surrogate without its pair");
                }
                ++at_;
                const std::uint32_t low = parseHex4(escape);
                if (low < 0xdc00 || low > 0xdfff) {
                    failAt(line_, escape, "a \\u escape of a high surrogate without its pair");
                }
                code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
            }
            appendUtf8(out, code);
            return;
        }
        default:
            failAt(line_, escape,
                   "a backslash before " + describe(c) + ", which makes no escape JSON has");
        }
        ++at_;
    }

    // One UTF-8 sequence starting at at_, copied to `out`; refuses overlong forms, surrogates
    // and code points past U+10FFFF, as the encoding does.
    void copyUtf8(std::string &out)
    {
        const auto lead = static_cast<unsigned char>(peek());
        int length = 0;
        std::uint32_t code = 0;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            code = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            code = lead & 0x07;
        } else {
            fail("a string holds " + describe(peek()) + ", which is not UTF-8");
        }
        for (int k = 1; k < length; ++k) {
            const std::size_t i = at_ + static_cast<std::size_t>(k);
            const auto next = i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0;
            if ((next & 0xc0) != 0x80) {
                fail("a string holds a broken UTF-8 sequence");
            }
            code = (code << 6) | (next & 0x3f);
        }
        const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (code < smallest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            fail("a string holds a UTF-8 sequence that is not a character");
        }
        out.append(text_.substr(at_, static_cast<std::size_t>(length)));
        at_ += static_cast<std::size_t>(length);
    }

    std::string parseString()
    {
        ++at_; // the opening quote
        std::string out;
        for (;;) {
            if (atEnd()) {
                fail("the document ends inside a string");
            }
            const char c = peek();
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c == '\\') {
                parseEscape(out);
            } else if (byte < 0x20) {
                fail("a string holds the control character " + describe(c) +
                     " (write it as an escape)");
            } else if (byte >= 0x80) {
                copyUtf8(out);
            } else {
                out += c;
                ++at_;
            }
        }
    }

    bool digitAt(std::size_t i) const
    {
        return i < text_.size() && text_[i] >= '0' && text_[i] <= '9';
    }

    double parseNumber()
    {
        const std::size_t start = at_;
        std::size_t i = at_;
        if (text_[i] == '-') {
            ++i;
        }
        if (!digitAt(i)) {
            fail("a '-' without digits after it");
        }
        if (text_[i] == '0' && digitAt(i + 1)) {
            fail("a number with a leading zero");
        }
        while (digitAt(i)) {
            ++i;
        }
        if (i < text_.size() && text_[i] == '.') {
            ++i;
            if (!digitAt(i)) {
                fail("a number with no digit after its '.'");
            }
            while (digitAt(i)) {
                ++i;
            }
        }
        if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
            ++i;
            if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) {
                ++i;
            }
            if (!digitAt(i)) {
                fail("a number with no digit in its exponent");
            }
            while (digitAt(i)) {
                ++i;
            }
        }
        double value = 0;
        const char *first = text_.data() + start;
        const char *last = text_.data() + i;
        const auto [end, error] = std::from_chars(first, last, value);
        if (error == std::errc::result_out_of_range) {
            // from_chars gives up on underflow as on overflow; strtod tells them apart, and only
            // an overflow is refused (a value that rounds to zero or a subnormal is still the
            // nearest double to what was written).
            const std::string copy(first, last);
            value = std::strtod(copy.c_str(), nullptr);
            if (!std::isfinite(value)) {
                fail("the number " + copy + " is too large for a double");
            }
        } else if (error != std::errc() || end != last || !std::isfinite(value)) {
            fail("the number " + std::string(first, last) + " cannot be read");
        }
        at_ = i;
        return value;
    }

    std::string_view text_;
    JsonLimits limits_;
    std::size_t at_ = 0;
    std::size_t lineStart_ = 0;
    int line_ = 1;
};

} // namespace

const JsonValue *JsonValue::find(std::string_view key) const
{
    for (const auto &[name, value] : members) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

std::string JsonValue::where() const
{
    return std::to_string(line) + ":" + std::to_string(column);
}

JsonSyntaxError::JsonSyntaxError(int line, int column, const std::string &what)
    : std::runtime_error(std::to_string(line) + ":" + std::to_string(column) + ": " + what),
      line_(line), column_(column)
{}

JsonValue parseJson(std::string_view text, const JsonLimits &limits)
{
    return Parser(text, limits).document();
}

const char *jsonKindName(JsonValue::Kind kind)
{
    switch (kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Boolean: return "a boolean";
    case JsonValue::Kind::Number: return "a number";
    case JsonValue::Kind::String: return "a string";
    case JsonValue::Kind::Array: return "an array";
    case JsonValue::Kind::Object: return "an object";
    }
    return "?";
}

} // namespace framemeld::cli
