// Parameter registration and the string table it draws its labels from.
#include "FakeHost.h"
#include "host/Framemeld.h"
#include "host/FramemeldStrings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using framemeld::fakehost::FakeHost;
using framemeld::fakehost::FaultKind;

struct SliderRow {
    A_long id;
    const char *label;
    float validMin, validMax, sliderMin, sliderMax, dephault;
    A_short precision;
};

// The sliders as users and saved projects know them.
const SliderRow kExpectedSliders[] = {
    {1, "Start Frame", 0.0f, 9999.0f, 0.0f, 9999.0f, 1.0f, 0},
    {2, "End Frame", 0.0f, 9999.0f, 0.0f, 9999.0f, 1.0f, 0},
    {3, "Every n-th Frame", 1.0f, 100.0f, 1.0f, 100.0f, 1.0f, 0},
    {4, "Divergence", 0.0f, 100.0f, 0.0f, 100.0f, 2.0f, 2},
    {5, "Rating Range", 0.1f, 9999.0f, 1.0f, 20.0f, 1.0f, 1},
};

PF_ParamDef ExpectedDef(const SliderRow &row)
{
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.uu.id = row.id;
    def.param_type = PF_Param_FLOAT_SLIDER;
    std::strcpy(def.name, row.label);
    PF_FloatSliderDef &fs = def.u.fs_d;
    fs.value = static_cast<double>(row.dephault);
    fs.phase = 0.0;
    fs.valid_min = row.validMin;
    fs.valid_max = row.validMax;
    fs.slider_min = row.sliderMin;
    fs.slider_max = row.sliderMax;
    fs.dephault = row.dephault;
    fs.precision = row.precision;
    fs.display_flags = 0;
    fs.fs_flags = 0;
    fs.curve_tolerance = 0.05f;
    return def;
}

PF_Err ParamsSetupCommand(FakeHost &host)
{
    return EntryPointFunc(PF_Cmd_PARAMS_SETUP, &host.in_data, &host.out_data, nullptr, nullptr,
                          nullptr);
}

TEST(ParamsSetup, RegistersTheFiveSlidersInOrderWithEveryField)
{
    FakeHost host;
    ASSERT_EQ(ParamsSetupCommand(host), PF_Err_NONE);

    ASSERT_EQ(host.addedParams.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const PF_ParamDef expected = ExpectedDef(kExpectedSliders[i]);
        const PF_ParamDef &actual = host.addedParams[i];
        // Field checks first, for a readable failure; then the whole record, which also
        // catches anything set that should have stayed zero.
        EXPECT_STREQ(actual.name, kExpectedSliders[i].label);
        EXPECT_EQ(actual.uu.id, kExpectedSliders[i].id);
        EXPECT_EQ(actual.u.fs_d.dephault, kExpectedSliders[i].dephault);
        EXPECT_EQ(actual.u.fs_d.value, static_cast<double>(kExpectedSliders[i].dephault));
        EXPECT_EQ(actual.u.fs_d.precision, kExpectedSliders[i].precision);
        EXPECT_EQ(std::memcmp(&actual, &expected, sizeof expected), 0) << "slider " << i + 1;
        EXPECT_EQ(host.addParamIndices[i], -1); // appended
        EXPECT_EQ(host.addParamRefs[i], host.in_data.effect_ref);
    }
    EXPECT_EQ(host.out_data.num_params, 6);
    EXPECT_EQ(host.utilStrcpyCalls, 5); // labels go through the host's strcpy
}

TEST(ParamsSetup, AddParamErrorStopsAtOnceAndLeavesNumParams)
{
    FakeHost host;
    host.out_data.num_params = -77;
    host.addParamFault = {FaultKind::ReturnError, 3, PF_Err_OUT_OF_MEMORY};

    EXPECT_EQ(ParamsSetupCommand(host), PF_Err_OUT_OF_MEMORY);
    ASSERT_EQ(host.addedParams.size(), 2u);
    EXPECT_EQ(host.addedParams[0].uu.id, 1);
    EXPECT_EQ(host.addedParams[1].uu.id, 2);
    EXPECT_EQ(host.addParamCalls, 3);
    EXPECT_EQ(host.out_data.num_params, -77);
}

TEST(StringTable, RowsAreInIdOrderAndZeroPadded)
{
    for (int i = 0; i < STR_COUNT; ++i) {
        EXPECT_EQ(g_strs[i].id, i);
        const std::size_t length = std::strlen(g_strs[i].text);
        ASSERT_LT(length, sizeof g_strs[i].text);
        for (std::size_t j = length; j < sizeof g_strs[i].text; ++j) {
            ASSERT_EQ(g_strs[i].text[j], '\0') << "row " << i << " byte " << j;
        }
        EXPECT_EQ(GetStringPtr(i), g_strs[i].text);
    }
}

TEST(StringTable, TextsByName)
{
    EXPECT_EQ(STR_COUNT, 10);
    EXPECT_STREQ(GetStringPtr(STR_NONE), "");
    EXPECT_STREQ(GetStringPtr(STR_NAME), "Framemeld");
    EXPECT_STREQ(GetStringPtr(5), "Every n-th Frame");
    EXPECT_STREQ(GetStringPtr(STR_START_FRAME), "Start Frame");
    EXPECT_STREQ(GetStringPtr(STR_END_FRAME), "End Frame");
    EXPECT_STREQ(GetStringPtr(STR_DIVERGENCE), "Divergence");
    EXPECT_STREQ(GetStringPtr(STR_RATING_RANGE), "Rating Range");
    EXPECT_STREQ(GetStringPtr(STR_OUTPUT), "Output");
    EXPECT_STREQ(GetStringPtr(STR_OUTPUT_CHOICES), "Clean Plate|Difference");

    // Two lines, each ended by a carriage return, the first naming the product.
    const std::string description = GetStringPtr(STR_DESCRIPTION);
    EXPECT_EQ(description.rfind("Framemeld for After Effects\r", 0), 0u);
    EXPECT_EQ(description.back(), '\r');
    EXPECT_EQ(std::count(description.begin(), description.end(), '\r'), 2);
    EXPECT_GT(description.size(), std::strlen("Framemeld for After Effects\r") + 1);
}

} // namespace
