// Everyday effect code against these headers builds clean under the project's strictest
// warnings: flag arithmetic on the A_long fields, pixel-format switches, version packing, the
// utility and interaction macros, and suite calls.
#define PF_DEEP_COLOR_AWARE 1
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectPixelFormat.h"
#include "AE_EffectSuites.h"
#include "AE_Macros.h"
#include "SPBasic.h"

PF_Err Setup(PF_InData *in_data, PF_OutData *out_data);
PF_Err Setup(PF_InData *in_data, PF_OutData *out_data)
{
    PF_Err err = PF_Err_NONE, err2 = PF_Err_NONE;
    out_data->my_version = PF_VERSION(2, 2, 0, PF_Stage_DEVELOP, 1);
    out_data->out_flags = PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_PIX_INDEPENDENT;
    out_data->out_flags |= PF_OutFlag_WIDE_TIME_INPUT;
    out_data->out_flags &= ~PF_OutFlag_AUDIO_EFFECT_ONLY;
    out_data->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
    out_data->out_flags2 |= PF_OutFlag2_SUPPORTS_THREADED_RENDERING;
    PF_SPRINTF(out_data->return_msg, "%s", "text");
    PF_ParamDef def;
    AEFX_CLR_STRUCT(def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    def.uu.id = 1;
    def.flags |= PF_ParamFlag_CANNOT_TIME_VARY;
    def.ui_flags = PF_PUI_NONE;
    def.u.fs_d.display_flags = PF_ValueDisplayFlag_PERCENT;
    def.u.fs_d.fs_flags = PF_FSliderFlag_NONE;
    def.u.fs_d.dephault = 10.0f;
    def.u.fs_d.curve_tolerance = AEFX_AUDIO_DEFAULT_CURVE_TOLERANCE;
    ERR(PF_ADD_PARAM(in_data, -1, &def));
    ERR(PF_CHECKOUT_PARAM(in_data, 1, in_data->current_time, in_data->time_step,
                          in_data->time_scale, &def));
    ERR2(PF_CHECKIN_PARAM(in_data, &def));
    ERR(PF_PROGRESS(in_data, 1, 2));
    if (!err && PF_ABORT(in_data) == PF_Interrupt_CANCEL) {
        err = PF_Interrupt_CANCEL;
    }
    return err;
}

PF_Err Depth(PF_InData *in_data, PF_EffectWorld *world, const PF_WorldSuite2 *worlds);
PF_Err Depth(PF_InData *in_data, PF_EffectWorld *world, const PF_WorldSuite2 *worlds)
{
    PF_PixelFormat format = PF_PixelFormat_INVALID;
    PF_Err err = worlds->PF_GetPixelFormat(world, &format);
    switch (format) {
    case PF_PixelFormat_ARGB32: {
        PF_Pixel8 *first = nullptr;
        err = PF_GET_PIXEL_DATA8(world, nullptr, &first);
        break;
    }
    case PF_PixelFormat_ARGB64: {
        PF_Pixel16 *first = nullptr;
        err = PF_GET_PIXEL_DATA16(world, nullptr, &first);
        break;
    }
    case PF_PixelFormat_ARGB128: (void)reinterpret_cast<PF_PixelFloat *>(world->data); break;
    default: err = PF_Err_BAD_CALLBACK_PARAM;
    }
    if (PF_WORLD_IS_DEEP(world) || (world->world_flags & PF_WorldFlag_WRITEABLE) != 0) {
        err = PF_Err_NONE;
    }
    return err;
}

PF_Err Workers(const PF_Iterate8Suite1 *it8, const PF_iterateFloatSuite1 *itf, PF_InData *in_data,
               PF_EffectWorld *src, PF_EffectWorld *dst, const SPBasicSuite *basic);
PF_Err Workers(const PF_Iterate8Suite1 *it8, const PF_iterateFloatSuite1 *itf, PF_InData *in_data,
               PF_EffectWorld *src, PF_EffectWorld *dst, const SPBasicSuite *basic)
{
    struct Callbacks {
        static PF_Err Row(void *, A_long, A_long, A_long) { return PF_Err_NONE; }
        static PF_Err Pixel(void *, A_long, A_long, PF_PixelFloat *, PF_PixelFloat *)
        {
            return PF_Err_NONE;
        }
    };
    const void *suite = nullptr;
    PF_Err err = basic->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
    ERR(it8->iterate_generic(PF_Iterations_ONCE_PER_PROCESSOR, nullptr, Callbacks::Row));
    PF_Rect band = {0, 0, src->width, 10};
    ERR(itf->iterate(in_data, 0, src->height, src, &band, nullptr, Callbacks::Pixel, dst));
    if (basic->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2) != kSPNoError && !err) {
        err = PF_Err_BAD_CALLBACK_PARAM;
    }
    return err;
}
