// Every size, alignment, offset and constant value of the SDK stand-in against the host's
// 64-bit layout. Each mismatch is reported with the record and field it concerns, so one run
// lists everything that drifted.

#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SdkConstantTable.h"
#include "SdkLayoutTable.h"

namespace {

struct Expectation {
    std::string what;
    long long actual;
    long long expected;
};

#define SDK_SIZE_ROWS(T, SIZE, ALIGN)                                                              \
    {"sizeof(" #T ")", static_cast<long long>(sizeof(T)), SIZE},                                   \
        {"alignof(" #T ")", static_cast<long long>(alignof(T)), ALIGN},
#define SDK_OFFSET_ROW(T, FIELD, OFFSET)                                                           \
    {"offsetof(" #T ", " #FIELD ")", static_cast<long long>(offsetof(T, FIELD)), OFFSET},
#define SDK_CONSTANT_ROW(NAME, VALUE)                                                              \
    {#NAME, static_cast<long long>(static_cast<A_long>(NAME)),                                     \
     static_cast<long long>(static_cast<A_long>(VALUE))},

void ExpectAll(const std::vector<Expectation> &rows)
{
    ASSERT_FALSE(rows.empty());
    for (const Expectation &row : rows) {
        EXPECT_EQ(row.actual, row.expected) << row.what;
    }
}

TEST(SdkLayout, ScalarTypesHaveTheHostWidths)
{
    ExpectAll({SDK_SCALAR_SIZES(SDK_SIZE_ROWS)});
}

TEST(SdkLayout, RecordsHaveTheHostSizesAndAlignments)
{
    ExpectAll({SDK_RECORD_SIZES(SDK_SIZE_ROWS)});
}

TEST(SdkLayout, SmallRecordsAndPixelsKeepTheirFieldOrder)
{
    ExpectAll({SDK_SMALL_RECORD_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkLayout, WorldFieldsSitAtTheHostOffsets)
{
    ExpectAll({SDK_WORLD_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkLayout, ParameterDefinitionFieldsSitAtTheHostOffsets)
{
    ExpectAll({SDK_PARAM_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkLayout, InDataOutDataAndInteractCallbacksSitAtTheHostOffsets)
{
    ExpectAll({SDK_IN_OUT_DATA_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkLayout, UtilityCallbacksAndAnsiBlockSitAtTheHostOffsets)
{
    ExpectAll({SDK_UTIL_CALLBACK_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkLayout, SmartRenderRecordsSitAtTheHostOffsets)
{
    ExpectAll({SDK_SMART_RENDER_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkLayout, SuiteTablesSitAtTheHostOffsets)
{
    ExpectAll({SDK_SUITE_OFFSETS(SDK_OFFSET_ROW)});
}

TEST(SdkConstants, CommandsAndErrorsHaveTheHostValues)
{
    ExpectAll({SDK_COMMAND_AND_ERROR_CONSTANTS(SDK_CONSTANT_ROW)});
}

TEST(SdkConstants, FlagsHaveTheHostBits)
{
    ExpectAll({SDK_FLAG_CONSTANTS(SDK_CONSTANT_ROW)});
}

TEST(SdkConstants, VersionsPixelFormatsAndLimitsHaveTheHostValues)
{
    ExpectAll({SDK_VALUE_CONSTANTS(SDK_CONSTANT_ROW)});
}

} // namespace
