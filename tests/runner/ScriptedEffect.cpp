#include "ScriptedEffect.h"

#include <cstring>

namespace framemeld::scripted {

std::atomic<int> g_deletes{0};

namespace {
Script g_script;

void countedDelete(void *data)
{
    ++g_deletes;
    delete static_cast<int *>(data);
}
} // namespace

Script &script()
{
    return g_script;
}

void reset()
{
    g_script = Script{};
    g_script.globalSetup = &defaultGlobalSetup;
    g_script.paramsSetup = &defaultParamsSetup;
    g_script.preRender = &defaultPreRender;
    g_script.render = [](PF_InData *, PF_OutData *, void *) -> PF_Err { return PF_Err_NONE; };
    g_script.other = [](PF_InData *, PF_OutData *, void *) -> PF_Err { return PF_Err_NONE; };
    g_deletes = 0;
}

PF_Err defaultGlobalSetup(PF_InData *, PF_OutData *out, void *)
{
    out->my_version = PF_VERSION(3, 1, 0, PF_Stage_RELEASE, 7);
    out->out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
    out->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
    return PF_Err_NONE;
}

PF_Err defaultParamsSetup(PF_InData *in, PF_OutData *out, void *)
{
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    std::strcpy(def.name, "Amount");
    def.u.fs_d.value = 5.0;
    def.u.fs_d.dephault = 5.0f;
    def.u.fs_d.valid_max = 10.0f;
    def.u.fs_d.slider_max = 10.0f;
    def.uu.id = 1;
    if (PF_Err err = PF_ADD_PARAM(in, -1, &def)) {
        return err;
    }
    out->num_params = 2;
    return PF_Err_NONE;
}

void attachCountedData(PF_PreRenderExtra *extra)
{
    extra->output->pre_render_data = new int(0);
    extra->output->delete_pre_render_data_func = &countedDelete;
}

PF_Err defaultPreRender(PF_InData *in, PF_OutData *, void *extraP)
{
    auto *extra = static_cast<PF_PreRenderExtra *>(extraP);
    PF_CheckoutResult answer;
    std::memset(&answer, 0, sizeof answer);
    PF_Err err = extra->cb->checkout_layer(in->effect_ref, 0, 0, &extra->input->output_request, 0,
                                           in->time_step, in->time_scale, &answer);
    extra->output->result_rect = answer.result_rect;
    extra->output->max_result_rect = answer.max_result_rect;
    attachCountedData(extra);
    return err;
}

PF_Err entry(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *[], PF_LayerDef *,
             void *extra)
{
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP: return g_script.globalSetup(in_data, out_data, extra);
    case PF_Cmd_PARAMS_SETUP: return g_script.paramsSetup(in_data, out_data, extra);
    case PF_Cmd_SMART_PRE_RENDER: return g_script.preRender(in_data, out_data, extra);
    case PF_Cmd_SMART_RENDER: return g_script.render(in_data, out_data, extra);
    default: return g_script.other(in_data, out_data, extra);
    }
}

} // namespace framemeld::scripted
