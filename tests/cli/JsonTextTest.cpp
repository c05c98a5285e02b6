#include "cli/text/JsonText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CliTestSupport.h"

using framemeld::cli::jsonArray;
using framemeld::cli::jsonNumber;
using framemeld::cli::JsonObject;
using framemeld::cli::jsonString;
using namespace framemeld::cli::test;

namespace {

TEST(JsonText, EscapesWhatJsonCannotHoldAsItIs)
{
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("say \"hi\"\\"), "\"say \\\"hi\\\"\\\\\"");
    EXPECT_EQ(jsonString("a\nb\tc\rd"), "\"a\\nb\\tc\\rd\"");
    EXPECT_EQ(jsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(jsonString(std::string("nul\0x", 5)), "\"nul\\u0000x\"");
    // UTF-8 passes through; bytes that are not UTF-8 become U+FFFD one by one.
    EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac\"");
    EXPECT_EQ(jsonString("a\xff"
                         "b"),
              "\"a\\ufffdb\"");
    EXPECT_EQ(jsonString("\xc3"), "\"\\ufffd\"");                       // cut short at the end
    EXPECT_EQ(jsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");            // overlong "/"
    EXPECT_EQ(jsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\""); // a lone surrogate
}

TEST(JsonText, NumbersReadBackExactlyAndNonFiniteOnesAreNull)
{
    EXPECT_EQ(jsonNumber(0), "0");
    EXPECT_EQ(jsonNumber(-1001), "-1001");
    EXPECT_EQ(jsonNumber(0.1), "0.1");
    EXPECT_EQ(jsonNumber(1.5), "1.5");
    const double third = 1.0 / 3.0;
    EXPECT_EQ(std::strtod(jsonNumber(third).c_str(), nullptr), third);
    EXPECT_EQ(jsonNumber(std::nan("")), "null");
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonText, AnAwkwardDocumentParsesWithPython)
{
    if (!haveProgram("python3")) {
        GTEST_SKIP() << "python3 is not installed";
    }
    JsonObject inner;
    inner.addNumber("x", 0.1).add("none", "null");
    JsonObject outer;
    outer.addString("name", "we\"ird\\\n\x01\xff name")
        .add("list", jsonArray({"1", "2.5", jsonString("three")}))
        .add("empty", jsonArray({}))
        .add("inner", inner.text())
        .addNumber("nan", std::nan(""));
    TempDir dir;
    const std::string file = dir.file("doc.json");
    {
        std::FILE *out = std::fopen(file.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs(outer.text().c_str(), out);
        std::fclose(out);
    }
    const auto check =
        runProgram({"python3", "-c",
                    "import json,sys; d=json.load(open(sys.argv[1], encoding='utf-8'));"
                    "assert d['name'] == 'we\"ird\\\\\\n\\x01\\ufffd name', repr(d['name']);"
                    "assert d['list'] == [1, 2.5, 'three'] and d['empty'] == [];"
                    "assert d['inner'] == {'x': 0.1, 'none': None} and d['nan'] is None",
                    file});
    EXPECT_EQ(check.exitStatus, 0) << check.output;
}

} // namespace
