#include "host/FramemeldParams.h"

#include "AE_EffectCB.h"
#include "AE_Macros.h"
#include "host/FramemeldStrings.h"

// The newest SDKs reach the parameter name through this macro; older ones name the field.
#ifndef PF_DEF_NAME
#define PF_DEF_NAME name
#endif

namespace {

struct SliderSetup {
    A_long index;
    int label;
    PF_FpShort validMin;
    PF_FpShort validMax;
    PF_FpShort sliderMin;
    PF_FpShort sliderMax;
    PF_FpShort dephault;
    A_short precision; // decimals shown
};

// Frame numbers and the step are whole numbers shown without decimals; the render truncates them
// toward zero.
// Rating Range may be typed down to 0.1 although the slider starts at 1.
constexpr SliderSetup kSliders[] = {
    {PARAM_START_FRAME, STR_START_FRAME, 0.0f, 9999.0f, 0.0f, 9999.0f, 1.0f, 0},
    {PARAM_END_FRAME, STR_END_FRAME, 0.0f, 9999.0f, 0.0f, 9999.0f, 1.0f, 0},
    {PARAM_EVERY_NTH, STR_EVERY_NTH, 1.0f, 100.0f, 1.0f, 100.0f, 1.0f, 0},
    {PARAM_DIVERGENCE, STR_DIVERGENCE, 0.0f, 100.0f, 0.0f, 100.0f, 2.0f, 2},
    {PARAM_RATING_RANGE, STR_RATING_RANGE, 0.1f, 9999.0f, 1.0f, 20.0f, 1.0f, 1},
};

static_assert(sizeof(kSliders) / sizeof(kSliders[0]) == PARAM_COUNT - 1,
              "one slider per parameter after the input layer");

} // namespace

PF_Err ParamsSetup(PF_InData *in_data, PF_OutData *out_data)
{
    PF_ParamDef def;
    for (const SliderSetup &slider : kSliders) {
        AEFX_CLR_STRUCT(def);
        def.param_type = PF_Param_FLOAT_SLIDER;
        PF_STRCPY(def.PF_DEF_NAME, GetStringPtr(slider.label));

        PF_FloatSliderDef &fs = def.u.fs_d;
        fs.valid_min = slider.validMin;
        fs.valid_max = slider.validMax;
        fs.slider_min = slider.sliderMin;
        fs.slider_max = slider.sliderMax;
        fs.value = static_cast<PF_FpLong>(slider.dephault);
        fs.dephault = slider.dephault;
        fs.precision = slider.precision;
        fs.display_flags = PF_ValueDisplayFlag_NONE;
        fs.fs_flags = PF_FSliderFlag_NONE;
        fs.curve_tolerance = AEFX_AUDIO_DEFAULT_CURVE_TOLERANCE;
        def.uu.id = slider.index;

        const PF_Err err = PF_ADD_PARAM(in_data, -1, &def);
        if (err != PF_Err_NONE) {
            return err;
        }
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}
