// A tiny smart-render effect built only to test the host runner. Its output is the mean of the
// first "Frames" frames of the layer times "Gain", drawn along one of three paths ("Path"):
// iterate_generic per row, the depth's pixel iterate, or iterate_generic once per worker. It
// passes every host error straight back and frees whatever it holds on every path, so a runner
// test can sweep faults through it and expect clean accounting.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectPixelFormat.h"
#include "SPBasic.h"

namespace {

enum Param : PF_ParamIndex { FRAMES = 1, GAIN, PATH, ANGLE, INVERT, PARAM_COUNT };
enum Path : A_long { PATH_GENERIC = 1, PATH_ITERATE = 2, PATH_ONCE_PER_WORKER = 3 };

struct PreRender {
    A_long frames;
    double gain;
    A_long path;
};

void deletePreRender(void *data)
{
    delete static_cast<PreRender *>(data);
}

// A suite held for one command, released on every way out.
template <class Suite> class HeldSuite {
public:
    HeldSuite(const PF_InData *in, const char *name, int32_t version)
        : basic_(in->pica_basicP), name_(name), version_(version)
    {
        const void *table = nullptr;
        err_ = basic_ ? basic_->AcquireSuite(name, version, &table) : PF_Err_BAD_CALLBACK_PARAM;
        if (err_ == PF_Err_NONE && !table) {
            err_ = PF_Err_BAD_CALLBACK_PARAM;
        }
        suite_ = err_ == PF_Err_NONE ? static_cast<const Suite *>(table) : nullptr;
    }
    ~HeldSuite()
    {
        if (suite_) {
            basic_->ReleaseSuite(name_, version_);
        }
    }
    HeldSuite(const HeldSuite &) = delete;
    HeldSuite &operator=(const HeldSuite &) = delete;

    PF_Err err() const { return err_; }
    const Suite *operator->() const { return suite_; }

private:
    SPBasicSuite *basic_;
    const char *name_;
    int32_t version_;
    const Suite *suite_ = nullptr;
    PF_Err err_ = PF_Err_NONE;
};

void setName(PF_ParamDef &def, const char *name)
{
    std::strncpy(def.name, name, sizeof def.name - 1);
}

PF_Err paramsSetup(PF_InData *in, PF_OutData *out)
{
    PF_Err err = PF_Err_NONE;
    PF_ParamDef def;

    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_SLIDER;
    setName(def, "Frames");
    def.u.sd.value = def.u.sd.dephault = 3;
    def.u.sd.valid_min = 1;
    def.u.sd.valid_max = 16;
    def.u.sd.slider_min = 1;
    def.u.sd.slider_max = 8;
    def.uu.id = FRAMES;
    if ((err = PF_ADD_PARAM(in, -1, &def)) != PF_Err_NONE) {
        return err;
    }

    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    setName(def, "Gain");
    def.u.fs_d.value = 1.0;
    def.u.fs_d.dephault = 1.0f;
    def.u.fs_d.valid_min = 0.0f;
    def.u.fs_d.valid_max = 4.0f;
    def.u.fs_d.slider_min = 0.0f;
    def.u.fs_d.slider_max = 2.0f;
    def.u.fs_d.precision = 2;
    def.uu.id = GAIN;
    if ((err = PF_ADD_PARAM(in, -1, &def)) != PF_Err_NONE) {
        return err;
    }

    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_POPUP;
    setName(def, "Path");
    def.u.pd.value = PATH_GENERIC;
    def.u.pd.dephault = PATH_GENERIC;
    def.u.pd.num_choices = 3;
    def.u.pd.u.namesptr = "Generic|Iterate|Once per worker";
    def.uu.id = PATH;
    if ((err = PF_ADD_PARAM(in, -1, &def)) != PF_Err_NONE) {
        return err;
    }

    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_ANGLE;
    setName(def, "Angle");
    def.u.ad.value = def.u.ad.dephault = 45 << 16;
    def.u.ad.valid_min = -(90 << 16);
    def.u.ad.valid_max = 90 << 16;
    def.uu.id = ANGLE;
    if ((err = PF_ADD_PARAM(in, -1, &def)) != PF_Err_NONE) {
        return err;
    }

    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_CHECKBOX;
    setName(def, "Invert");
    def.u.bd.u.nameptr = "Invert";
    def.uu.id = INVERT;
    if ((err = PF_ADD_PARAM(in, -1, &def)) != PF_Err_NONE) {
        return err;
    }

    out->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

PF_Err preRender(PF_InData *in, PF_PreRenderExtra *extra)
{
    PF_Err err = PF_Err_NONE;
    PF_ParamDef frames, gain, path;
    std::memset(&frames, 0, sizeof frames);
    std::memset(&gain, 0, sizeof gain);
    std::memset(&path, 0, sizeof path);
    bool haveFrames = false, haveGain = false, havePath = false;
    err = PF_CHECKOUT_PARAM(in, FRAMES, in->current_time, in->time_step, in->time_scale, &frames);
    haveFrames = err == PF_Err_NONE;
    if (!err) {
        err = PF_CHECKOUT_PARAM(in, GAIN, in->current_time, in->time_step, in->time_scale, &gain);
        haveGain = err == PF_Err_NONE;
    }
    if (!err) {
        err = PF_CHECKOUT_PARAM(in, PATH, in->current_time, in->time_step, in->time_scale, &path);
        havePath = err == PF_Err_NONE;
    }

    PF_CheckoutResult answer;
    std::memset(&answer, 0, sizeof answer);
    A_long requested = 0;
    if (!err) {
        for (A_long i = 0; i < frames.u.sd.value && !err; ++i) {
            err = extra->cb->checkout_layer(in->effect_ref, 0, i, &extra->input->output_request,
                                            i * in->time_step, in->time_step, in->time_scale,
                                            &answer);
            if (!err) {
                ++requested;
            }
        }
    }
    if (!err) {
        PreRender *data =
            new (std::nothrow) PreRender{requested, gain.u.fs_d.value, path.u.pd.value};
        if (!data) {
            err = PF_Err_OUT_OF_MEMORY;
        } else {
            extra->output->pre_render_data = data;
            extra->output->delete_pre_render_data_func = &deletePreRender;
            extra->output->result_rect = answer.result_rect;
            extra->output->max_result_rect = answer.max_result_rect;
        }
    }

    // Check-ins run whatever happened above; their errors only count when nothing failed before.
    for (auto [held, def] :
         {std::pair{havePath, &path}, std::pair{haveGain, &gain}, std::pair{haveFrames, &frames}}) {
        if (held) {
            const PF_Err checkin = PF_CHECKIN_PARAM(in, def);
            if (!err) {
                err = checkin;
            }
        }
    }
    return err;
}

constexpr A_long kMaxFrames = 16;

struct Job {
    PF_InData *in;
    const PreRender *data;
    PF_EffectWorld *frames[kMaxFrames];
    PF_EffectWorld *output;
    PF_PixelFormat format;
};

template <class Pixel> Pixel *pixelAt(PF_EffectWorld *world, A_long x, A_long y)
{
    return reinterpret_cast<Pixel *>(reinterpret_cast<char *>(world->data) +
                                     static_cast<std::ptrdiff_t>(y) * world->rowbytes) +
           x;
}

template <class Channel> Channel store(double value, double full)
{
    if constexpr (std::is_same_v<Channel, float>) {
        (void)full;
        return static_cast<float>(value);
    } else {
        return static_cast<Channel>(std::lround(std::clamp(value, 0.0, full)));
    }
}

template <class Pixel> void meanPixel(const Job &job, A_long x, A_long y, Pixel *out)
{
    using Channel = decltype(out->red);
    const double full = std::is_same_v<Channel, A_u_char> ? 255.0 : 32768.0;
    double a = 0, r = 0, g = 0, b = 0;
    for (A_long k = 0; k < job.data->frames; ++k) {
        const Pixel *p = pixelAt<Pixel>(job.frames[k], x, y);
        a += static_cast<double>(p->alpha);
        r += static_cast<double>(p->red);
        g += static_cast<double>(p->green);
        b += static_cast<double>(p->blue);
    }
    const double scale = job.data->gain / job.data->frames;
    out->alpha = store<Channel>(a * scale, full);
    out->red = store<Channel>(r * scale, full);
    out->green = store<Channel>(g * scale, full);
    out->blue = store<Channel>(b * scale, full);
}

PF_Err drawRow(const Job &job, A_long y)
{
    for (A_long x = 0; x < job.output->width; ++x) {
        switch (job.format) {
        case PF_PixelFormat_ARGB32:
            meanPixel(job, x, y, pixelAt<PF_Pixel8>(job.output, x, y));
            break;
        case PF_PixelFormat_ARGB64:
            meanPixel(job, x, y, pixelAt<PF_Pixel16>(job.output, x, y));
            break;
        default: meanPixel(job, x, y, pixelAt<PF_PixelFloat>(job.output, x, y)); break;
        }
    }
    return PF_Err_NONE;
}

PF_Err rowWorker(void *refcon, A_long threadIndex, A_long row, A_long rows)
{
    const Job &job = *static_cast<const Job *>(refcon);
    if (PF_Err err = PF_ABORT(job.in)) {
        return err;
    }
    drawRow(job, row);
    return threadIndex == 0 ? PF_PROGRESS(job.in, row + 1, rows) : PF_Err_NONE;
}

PF_Err stripeWorker(void *refcon, A_long, A_long i, A_long iterations)
{
    const Job &job = *static_cast<const Job *>(refcon);
    for (A_long y = i; y < job.output->height; y += iterations) {
        if (PF_Err err = PF_ABORT(job.in)) {
            return err;
        }
        drawRow(job, y);
    }
    return PF_Err_NONE;
}

template <class Pixel> PF_Err pixelWorker(void *refcon, A_long x, A_long y, Pixel *, Pixel *out)
{
    meanPixel(*static_cast<const Job *>(refcon), x, y, out);
    return PF_Err_NONE;
}

PF_Err smartRender(PF_InData *in, PF_SmartRenderExtra *extra)
{
    Job job;
    std::memset(&job, 0, sizeof job);
    job.in = in;
    job.data = static_cast<const PreRender *>(extra->input->pre_render_data);
    if (!job.data || job.data->frames < 1 || job.data->frames > kMaxFrames) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }

    HeldSuite<PF_WorldSuite2> worlds(in, kPFWorldSuite, kPFWorldSuiteVersion2);
    if (worlds.err()) {
        return worlds.err();
    }
    HeldSuite<PF_Iterate8Suite1> iterate8(in, kPFIterate8Suite, kPFIterate8SuiteVersion1);
    if (iterate8.err()) {
        return iterate8.err();
    }

    PF_Err err = PF_Err_NONE;
    for (A_long k = 0; k < job.data->frames && !err; ++k) {
        err = extra->cb->checkout_layer_pixels(in->effect_ref, k, &job.frames[k]);
    }
    if (!err) {
        err = extra->cb->checkout_output(in->effect_ref, &job.output);
    }
    if (err) {
        return err;
    }
    // A frame without pixels or smaller than the output cannot be read at the output's
    // positions; refuse rather than read past it.
    for (A_long k = 0; k < job.data->frames; ++k) {
        if (!job.frames[k] || job.frames[k]->width < job.output->width ||
            job.frames[k]->height < job.output->height) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
    }
    if ((err = worlds->PF_GetPixelFormat(job.frames[0], &job.format)) != PF_Err_NONE) {
        return err;
    }

    switch (job.data->path) {
    case PATH_GENERIC: return iterate8->iterate_generic(job.output->height, &job, &rowWorker);
    case PATH_ONCE_PER_WORKER:
        return iterate8->iterate_generic(PF_Iterations_ONCE_PER_PROCESSOR, &job, &stripeWorker);
    default: break;
    }
    if (job.format == PF_PixelFormat_ARGB32) {
        return iterate8->iterate(in, 0, job.output->height, job.frames[0], nullptr, &job,
                                 &pixelWorker<PF_Pixel8>, job.output);
    }
    if (job.format == PF_PixelFormat_ARGB64) {
        return in->utils->iterate16(in, 0, job.output->height, job.frames[0], nullptr, &job,
                                    &pixelWorker<PF_Pixel16>, job.output);
    }
    HeldSuite<PF_IterateFloatSuite1> iterateFloat(in, kPFIterateFloatSuite,
                                                  kPFIterateFloatSuiteVersion1);
    if (iterateFloat.err()) {
        return iterateFloat.err();
    }
    return iterateFloat->iterate(in, 0, job.output->height, job.frames[0], nullptr, &job,
                                 &pixelWorker<PF_PixelFloat>, job.output);
}

PF_Err about(PF_InData *in, PF_OutData *out)
{
    HeldSuite<PF_ANSICallbacksSuite1> ansi(in, kPFANSISuite, kPFANSISuiteVersion1);
    if (ansi.err()) {
        return ansi.err();
    }
    ansi->sprintf(out->return_msg, "Tiny effect %d.%d", 1, 2);
    return PF_Err_NONE;
}

} // namespace

#if defined(_WIN32)
#define TINY_EXPORT __declspec(dllexport)
#else
#define TINY_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TINY_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data,
                                             PF_ParamDef *[], PF_LayerDef *, void *extra)
{
    switch (cmd) {
    case PF_Cmd_ABOUT: return about(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
        out_data->my_version = PF_VERSION(1, 2, 3, PF_Stage_BETA, 4);
        out_data->out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
        out_data->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
        return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP: return paramsSetup(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
        return preRender(in_data, static_cast<PF_PreRenderExtra *>(extra));
    case PF_Cmd_SMART_RENDER:
        return smartRender(in_data, static_cast<PF_SmartRenderExtra *>(extra));
    default: return PF_Err_NONE;
    }
}
