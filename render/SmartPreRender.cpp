// PF_Cmd_SMART_PRE_RENDER: reads the sliders at the current time, requests every sampled frame of
// the input layer, sizes the output and hands the work record to the host.
#include <new>

#include "AE_Effect.h"
#include "AE_Macros.h"

#include "host/AEGP_SuiteHandler.h"
#include "host/FramemeldParams.h"
#include "render/FrameSampling.h"
#include "render/PreRenderData.h"
#include "render/RectUnion.h"
#include "render/SmartRender.h"

namespace {

// The five sliders, in the order they are checked out and in.
constexpr int kSliderCount = 5;
constexpr PF_ParamIndex kSliders[kSliderCount] = {
    PARAM_START_FRAME, PARAM_END_FRAME, PARAM_EVERY_NTH, PARAM_DIVERGENCE, PARAM_RATING_RANGE};

struct SliderCheckout {
    PF_ParamDef defs[kSliderCount];
    bool checked_out[kSliderCount];
};

// Checks the sliders out in order and stops at the first failure; sliders not checked out keep
// their zeroed records and read as 0.
PF_Err CheckoutSliders(PF_InData *in_data, SliderCheckout *sliders)
{
    PF_Err err = PF_Err_NONE;
    for (int i = 0; i < kSliderCount && !err; ++i) {
        err = PF_CHECKOUT_PARAM(in_data, kSliders[i], in_data->current_time, in_data->time_step,
                                in_data->time_scale, &sliders->defs[i]);
        sliders->checked_out[i] = (err == PF_Err_NONE);
    }
    return err;
}

void CheckinSliders(PF_InData *in_data, SliderCheckout *sliders)
{
    for (int i = 0; i < kSliderCount; ++i) {
        if (sliders->checked_out[i]) {
            PF_CHECKIN_PARAM(in_data, &sliders->defs[i]);
        }
    }
}

double SliderValue(const SliderCheckout &sliders, PF_ParamIndex index)
{
    for (int i = 0; i < kSliderCount; ++i) {
        if (kSliders[i] == index) {
            return sliders.defs[i].u.fs_d.value;
        }
    }
    return 0.0;
}

// The work record with its parameter record, both allocated up front so that an allocation
// failure is known before anything is requested and leaves nothing behind.
PreRenderData *NewPreRenderData()
{
    PreRenderData *data = new (std::nothrow) PreRenderData();
    if (data == nullptr) {
        return nullptr;
    }
    data->parameter = new (std::nothrow) FramemeldParameter();
    if (data->parameter == nullptr) {
        deletePreRenderDataFunc(data);
        return nullptr;
    }
    return data;
}

} // namespace

PF_Err SmartPreRender(PF_InData *in_data, PF_OutData *out_data, PF_PreRenderExtra *extra)
{
    (void)out_data; // no message is ever written on these paths
    AEGP_SuiteHandler suites(in_data->pica_basicP);

    PF_RenderRequest request = extra->input->output_request;

    SliderCheckout sliders;
    for (int i = 0; i < kSliderCount; ++i) {
        AEFX_CLR_STRUCT(sliders.defs[i]);
        sliders.checked_out[i] = false;
    }
    PF_Err err = CheckoutSliders(in_data, &sliders);

    const FrameSampling sampling = MakeFrameSampling(SliderValue(sliders, PARAM_START_FRAME),
                                                     SliderValue(sliders, PARAM_END_FRAME),
                                                     SliderValue(sliders, PARAM_EVERY_NTH));

    PreRenderData *data = NewPreRenderData();
    if (data == nullptr) {
        CheckinSliders(in_data, &sliders);
        return PF_Err_OUT_OF_MEMORY;
    }

    // Every request writes into the same answer; only the last one's rectangles are used.
    PF_CheckoutResult answer;
    AEFX_CLR_STRUCT(answer);
    const A_long frame_count =
        ForEachSampledFrame(sampling, in_data->time_step, [&](A_long id, A_long time) {
            if (!err) {
                err =
                    extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, id, &request, time,
                                              in_data->time_step, in_data->time_scale, &answer);
            }
        });

    data->parameter->divergence = static_cast<float>(SliderValue(sliders, PARAM_DIVERGENCE));
    data->parameter->ratingRange = static_cast<float>(SliderValue(sliders, PARAM_RATING_RANGE));
    data->parameter->frameCount = frame_count;

    PF_PreRenderOutput *output = extra->output;
    output->pre_render_data = data;
    output->delete_pre_render_data_func = deletePreRenderDataFunc;

    UnionLRect(&answer.result_rect, &output->result_rect);
    UnionLRect(&answer.max_result_rect, &output->max_result_rect);
    UnionLRect(&output->result_rect, &output->max_result_rect);

    CheckinSliders(in_data, &sliders);
    return err;
}
