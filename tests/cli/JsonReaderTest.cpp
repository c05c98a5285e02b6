#include "cli/text/JsonReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/text/JsonText.h"

using framemeld::cli::JsonLimits;
using framemeld::cli::jsonNumber;
using framemeld::cli::JsonSyntaxError;
using framemeld::cli::JsonValue;
using framemeld::cli::parseJson;
using testing::HasSubstr;

namespace {

// The message parseJson refuses `text` with, or "" when it takes it.
std::string refusal(const std::string &text, const JsonLimits &limits = {})
{
    try {
        parseJson(text, limits);
    } catch (const JsonSyntaxError &error) {
        return error.what();
    }
    return "";
}

TEST(JsonReader, ReadsEveryKindOfValueWithWhereItStarts)
{
    const JsonValue doc = parseJson(" {\"a\": [1, -2.5e3, true, false, null],\n"
                                    "  \"b\": {\"c\": \"x\\ty\"}, \"\": 0}\r\n");
    ASSERT_TRUE(doc.isObject());
    ASSERT_EQ(doc.members.size(), 3u);
    EXPECT_EQ(doc.where(), "1:2");
    const JsonValue &a = *doc.find("a");
    ASSERT_EQ(a.items.size(), 5u);
    EXPECT_EQ(a.items[0].number, 1);
    EXPECT_EQ(a.items[1].number, -2500);
    EXPECT_TRUE(a.items[2].boolean);
    EXPECT_TRUE(a.items[3].isBoolean());
    EXPECT_FALSE(a.items[3].boolean);
    EXPECT_TRUE(a.items[4].isNull());
    const JsonValue &c = *doc.find("b")->find("c");
    EXPECT_EQ(c.text, "x\ty");
    EXPECT_EQ(c.where(), "2:14");
    EXPECT_NE(doc.find(""), nullptr);
    EXPECT_EQ(doc.find("missing"), nullptr);
    EXPECT_TRUE(parseJson("[]").items.empty());
    EXPECT_TRUE(parseJson("{}").members.empty());
    EXPECT_EQ(parseJson("\"\"").text, "");
}

TEST(JsonReader, DecodesEscapesAndUtf8)
{
    EXPECT_EQ(parseJson(R"("\"\\\/\b\f\n\r\t")").text, "\"\\/\b\f\n\r\t");
    EXPECT_EQ(parseJson(R"("\u0041\u00e9\u20AC")").text, "A\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(parseJson(R"("\ud83c\udfac")").text, "\xf0\x9f\x8e\xac"); // a surrogate pair
    EXPECT_EQ(parseJson(R"("\u0000")").text, std::string(1, '\0'));
    EXPECT_EQ(parseJson("\"caf\xc3\xa9 \xf0\x9f\x8e\xac\"").text, "caf\xc3\xa9 \xf0\x9f\x8e\xac");
}

TEST(JsonReader, NumbersReadBackAsTheDoublesTheToolWrote)
{
    for (const double value : {0.1, 1.0 / 3.0, -2.2250738585072014e-308, 1.7976931348623157e308,
                               4.9e-324, 123456789.123456789, -0.0, 1e15, 1e-7}) {
        const double back = parseJson(jsonNumber(value)).number;
        EXPECT_EQ(back, value) << jsonNumber(value);
        EXPECT_EQ(std::signbit(back), std::signbit(value)) << jsonNumber(value);
    }
    EXPECT_EQ(parseJson("1E+2").number, 100);
    EXPECT_EQ(parseJson("1e-400").number, 0); // underflow is the nearest double, not an error
}

TEST(JsonReader, RefusesMalformedDocumentsSayingWhere)
{
    struct Case {
        std::string text;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"", "1:1: no JSON value"},
        {"  \n ", "2:2: no JSON value"},
        {"{\"a\": 1", "1:8: the document ends inside an object"},
        {"[1, 2", "1:6: the document ends inside an array"},
        {"\"abc", "1:5: the document ends inside a string"},
        {"{\"a\": }", "1:7: unexpected '}' (expected a value)"},
        {"{\"a\" 1}", "1:6: unexpected '1' (expected ':' after a key)"},
        {"{a: 1}", "1:2: unexpected 'a' (expected a key in double quotes)"},
        {"{\"a\": 1,}", "1:9: unexpected '}' (expected a key in double quotes)"},
        {"[1,]", "1:4: a ',' before ']'"},
        {"[1 2]", "1:4: unexpected '2' (expected ',' or ']')"},
        {"{} x", "1:4: unexpected 'x' after the document's value"},
        {"1 2", "1:3: unexpected '2' after the document's value"},
        {"[1]\n]", "2:1: unexpected ']' after the document's value"},
        {"tru", "1:1: unexpected 't' (expected a value)"},
        {"nul", "1:1: unexpected 'n'"},
        {"True", "1:1: unexpected 'T'"},
        {"NaN", "1:1: unexpected 'N'"},
        {"// comment\n1", "1:1: unexpected '/'"},
        {"\xef\xbb\xbf{}", "1:1: unexpected byte 0xef"},
        {"01", "1:1: a number with a leading zero"},
        {"-", "1:1: a '-' without digits"},
        {"-x", "1:1: a '-' without digits"},
        {"1.", "1:1: a number with no digit after its '.'"},
        {".5", "1:1: unexpected '.'"},
        {"+1", "1:1: unexpected '+'"},
        {"1e", "1:1: a number with no digit in its exponent"},
        {"1e999", "1:1: the number 1e999 is too large for a double"},
        {"-1e400", "too large for a double"},
        {R"("\x")", "1:2: a backslash before 'x', which makes no escape JSON has"},
        {"\"\\\x01\"", "a backslash before byte 0x01"},
        {R"("\u12")", "1:2: \\u needs four hex digits"},
        {R"("\u12G4")", "\\u needs four hex digits"},
        {R"(["ok", "\udc00"])", "1:9: a \\u escape of a lone low surrogate"},
        {R"("\ud800")", "1:2: a \\u escape of a high surrogate without its pair"},
        {R"("\ud800\u0041")", "a high surrogate without its pair"},
        {"\"a\nb\"", "1:3: a string holds the control character byte 0x0a"},
        {std::string("\"a\0b\"", 5), "1:3: a string holds the control character byte 0x00"},
        {"\"\xff\"", "1:2: a string holds byte 0xff, which is not UTF-8"},
        {"\"\xc3\"", "1:2: a string holds a broken UTF-8 sequence"},
        {"\"\xc0\xaf\"", "which is not UTF-8"},                               // overlong '/'
        {"\"\xe0\x80\xaf\"", "a UTF-8 sequence that is not a character"},     // overlong '/'
        {"\"\xed\xa0\x80\"", "a UTF-8 sequence that is not a character"},     // a surrogate
        {"\"\xf4\x90\x80\x80\"", "a UTF-8 sequence that is not a character"}, // past U+10FFFF
        {"\xc3\xa9", "1:1: unexpected byte 0xc3"},
    };
    for (const Case &malformed : cases) {
        EXPECT_THAT(refusal(malformed.text), HasSubstr(malformed.says)) << malformed.text;
    }
}

TEST(JsonReader, RefusesAKeyGivenTwiceInOneObjectOnly)
{
    EXPECT_EQ(refusal("{\"a\": 1,\n \"b\": 2, \"a\": 3}"),
              "2:10: the key \"a\" appears twice in one object");
    // The same key in two objects, or spelled with an escape, is no repeat / is one.
    EXPECT_EQ(refusal("[{\"a\": 1}, {\"a\": 2}, {\"b\": {\"a\": 3}, \"a\": 4}]"), "");
    EXPECT_THAT(refusal(R"({"a": 1, "\u0061": 2})"), HasSubstr("the key \"a\" appears twice"));
}

TEST(JsonReader, HoldsNestingAndSizeToTheirLimits)
{
    JsonLimits limits;
    limits.maxDepth = 4;
    EXPECT_EQ(refusal("[[[[1]]]]", limits), "");
    EXPECT_EQ(refusal("[[[[[1]]]]]", limits),
              "1:5: arrays and objects nested deeper than 4 levels");
    EXPECT_THAT(refusal("{\"a\": {\"b\": [[{}]]}}", limits), HasSubstr("1:15: arrays and objects"));
    // The default limit stops a hostile document long before the stack runs out.
    EXPECT_THAT(refusal(std::string(100000, '[')), HasSubstr("1:65: arrays and objects nested"));

    limits = JsonLimits();
    limits.maxBytes = 8;
    EXPECT_EQ(refusal("[1,2,3] ", limits), "");
    EXPECT_EQ(refusal("[1,2,3]  ", limits),
              "1:1: the document holds 9 bytes, more than the 8 this reader takes");
}

} // namespace
