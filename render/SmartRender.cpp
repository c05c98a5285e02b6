// PF_Cmd_SMART_RENDER: checks out the sampled frames and the output, picks the depth from the
// first sampled frame, creates the engine of that depth and runs the workers over the output.
#include <algorithm>
#include <cstddef>
#include <memory>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectPixelFormat.h"

#include "host/AEFX_SuiteHelper.h"
#include "host/AEGP_SuiteHandler.h"
#include "host/ExceptionToErr.h"
#include "render/PixelCallbacks.h"
#include "render/PreRenderData.h"
#include "render/SmartRender.h"

namespace {

// The world suite for the length of one render; released on every way out, also when a missing
// suite is thrown through the render.
class WorldSuiteLease {
public:
    WorldSuiteLease(PF_InData *in_data, PF_OutData *out_data)
        : in_data_(in_data), out_data_(out_data)
    {
        void *suite = nullptr;
        error_ = AEFX_AcquireSuite(in_data_, out_data_, kPFWorldSuite, kPFWorldSuiteVersion2,
                                   "Couldn't load suite.", &suite);
        if (error_ == PF_Err_NONE) {
            suite_ = static_cast<PF_WorldSuite2 *>(suite);
        }
    }
    WorldSuiteLease(const WorldSuiteLease &) = delete;
    WorldSuiteLease &operator=(const WorldSuiteLease &) = delete;
    ~WorldSuiteLease()
    {
        if (suite_ != nullptr) {
            AEFX_ReleaseSuite(in_data_, out_data_, kPFWorldSuite, kPFWorldSuiteVersion2, nullptr);
        }
    }

    PF_Err Error() const { return error_; }
    PF_WorldSuite2 *operator->() const { return suite_; }

private:
    PF_InData *in_data_;
    PF_OutData *out_data_;
    PF_WorldSuite2 *suite_ = nullptr;
    PF_Err error_ = PF_Err_NONE;
};

// An engine that lives for one render call: created into its slot in the work record, deleted and
// cleared on every way out, so the record never keeps a dangling engine.
template <typename P> class RenderEngine {
public:
    explicit RenderEngine(FramemeldEngine<P> **slot) : slot_(slot) {}
    RenderEngine(const RenderEngine &) = delete;
    RenderEngine &operator=(const RenderEngine &) = delete;
    ~RenderEngine()
    {
        delete *slot_;
        *slot_ = nullptr;
    }

    PF_Err Create()
    {
        try {
            *slot_ = FramemeldEngine<P>::create();
        } catch (...) {
            return ErrFromCurrentException();
        }
        return *slot_ != nullptr ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY;
    }

private:
    FramemeldEngine<P> **slot_;
};

PF_Err CheckoutFrames(PF_InData *in_data, PF_SmartRenderExtra *extra, PreRenderData *data, A_long n)
{
    PF_Err err = PF_Err_NONE;
    for (A_long i = 0; i < n && !err; ++i) {
        err = extra->cb->checkout_layer_pixels(in_data->effect_ref, i, &data->frames[i]);
        if (!err) {
            err = PF_PROGRESS(in_data, i, n + in_data->height);
        }
    }
    return err;
}

// Only worker 0 hands an interruption back, at the end of its rows; a cancel that comes after its
// last poll makes the other workers skip pixels yet return success. One more poll once every row
// has returned keeps a half-drawn frame from being reported as finished.
PF_Err PollAfterRows(PF_InData *in_data)
{
    return PF_ABORT(in_data);
}

// What the 8- and 16-bit renders differ in: the engine, the output's base address and the row
// worker. Both run their rows through the 8-bit suite's generic iteration, since the workers
// address the worlds themselves.
struct Rows8 {
    using EnginePixel = Pixel<unsigned char>;
    static constexpr int kBitDepth = 0;
    static FramemeldEngine<EnginePixel> **EngineSlot(PreRenderData *data) { return &data->engine8; }
    static PF_Err FindOutput(PF_InData *in_data, PreRenderData *data)
    {
        PF_Err err = PF_GET_PIXEL_DATA8(data->output, NULL, &data->output_pixels8);
        return !err && data->output_pixels8 == nullptr ? PF_Err_BAD_CALLBACK_PARAM : err;
    }
    static constexpr PF_Err (*kWorker)(void *, A_long, A_long, A_long) = FramemeldFunc8;
};

struct Rows16 {
    using EnginePixel = Pixel<float>;
    static constexpr int kBitDepth = 2;
    static FramemeldEngine<EnginePixel> **EngineSlot(PreRenderData *data)
    {
        return &data->engine_float;
    }
    static PF_Err FindOutput(PF_InData *in_data, PreRenderData *data)
    {
        PF_Err err = PF_GET_PIXEL_DATA16(data->output, NULL, &data->output_pixels16);
        return !err && data->output_pixels16 == nullptr ? PF_Err_BAD_CALLBACK_PARAM : err;
    }
    static constexpr PF_Err (*kWorker)(void *, A_long, A_long, A_long) = FramemeldFunc16;
};

template <typename Rows>
PF_Err DrawRows(PF_InData *in_data, AEGP_SuiteHandler &suites, PreRenderData *data,
                FramemeldRefcon *refcon)
{
    RenderEngine<typename Rows::EnginePixel> engine(Rows::EngineSlot(data));
    PF_Err err = engine.Create();
    data->parameter->bitDepth = Rows::kBitDepth;
    if (!err) {
        err = Rows::FindOutput(in_data, data);
    }
    if (!err) {
        err = suites.Iterate8Suite1()->iterate_generic(data->output->height, refcon, Rows::kWorker);
    }
    return err ? err : PollAfterRows(in_data);
}

PF_Err DrawFloat(PF_InData *in_data, PreRenderData *data, FramemeldRefcon *refcon)
{
    RenderEngine<Pixel<float>> engine(&data->engine_float);
    PF_Err err = engine.Create();
    data->parameter->bitDepth = 2;
    const A_long n = data->parameter->frameCount;
    const A_long height = data->output->height;

    // One store for all bands: made per band, tens of megabytes would go back to the system and
    // be faulted in again a hundred times over. An output without rows runs no band, so it gets no
    // store either: a failure to allocate one must not turn a render with nothing to draw into an
    // out-of-memory error.
    std::size_t count = 0;
    if (!err && height > 0) {
        err = FramemeldFloatBandSamples(n, kFloatBandRows, data->output->width, &count);
    }
    std::unique_ptr<Pixel<float>[]> samples;
    if (!err && count != 0) {
        samples.reset(new (std::nothrow) Pixel<float>[count]);
        if (samples == nullptr) {
            err = PF_Err_OUT_OF_MEMORY;
        }
    }
    FloatBandStore store{samples.get(),
                         static_cast<std::size_t>(kFloatBandRows) *
                             static_cast<std::size_t>(std::max<A_long>(data->output->width, 0)),
                         static_cast<std::size_t>(std::max<A_long>(n, 0))};
    refcon->float_band = samples != nullptr ? &store : nullptr;

    for (A_long first_row = 0; first_row < height && !err; first_row += kFloatBandRows) {
        err = FramemeldFuncFloat(refcon, 0, first_row, kFloatBandRows);
        if (!err) {
            err = PF_PROGRESS(in_data, first_row + n, n + height);
        }
        if (height - first_row <= kFloatBandRows) {
            break; // the last band; stepping on could overflow near the top of the A_long range
        }
    }
    refcon->float_band = nullptr;
    return err;
}

} // namespace

PF_Err SmartRender(PF_InData *in_data, PF_OutData *out_data, PF_SmartRenderExtra *extra)
{
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    WorldSuiteLease world_suite(in_data, out_data);
    PF_Err err = world_suite.Error();

    PF_PixelFormat format = PF_PixelFormat_INVALID;
    PreRenderData *data = static_cast<PreRenderData *>(extra->input->pre_render_data);
    // A render without the record of a successful pre-render has nothing to work from.
    if (data == nullptr || data->parameter == nullptr || data->parameter->frameCount < 0) {
        return err ? err : PF_Err_BAD_CALLBACK_PARAM;
    }
    data->in_data = in_data;
    const A_long n = data->parameter->frameCount;

    // A second render of the same record must not leak the first one's array.
    delete[] data->frames;
    data->frames = new (std::nothrow) PF_EffectWorld *[static_cast<std::size_t>(n)]();
    if (data->frames == nullptr) {
        return err ? err : PF_Err_OUT_OF_MEMORY;
    }

    if (!err) {
        err = CheckoutFrames(in_data, extra, data, n);
    }
    PF_EffectWorld *output = nullptr;
    if (!err) {
        err = extra->cb->checkout_output(in_data->effect_ref, &output);
    }
    data->output = output;
    if (!err && output == nullptr) {
        err = PF_Err_BAD_CALLBACK_PARAM; // nothing to draw into
    }
    if (err) {
        return err;
    }

    err = PF_ABORT(in_data);
    if (err) {
        return err;
    }

    FramemeldRefcon refcon;
    refcon.data = data;
    // The first sampled frame decides the depth; without one (no frame, or a null world) the output
    // does, since the host hands every world of one render at the same depth.
    PF_EffectWorld *depth_world = (n > 0 && data->frames[0] != nullptr) ? data->frames[0] : output;
    err = world_suite->PF_GetPixelFormat(depth_world, &format);
    if (err) {
        return err;
    }

    switch (format) {
    case PF_PixelFormat_ARGB32: err = DrawRows<Rows8>(in_data, suites, data, &refcon); break;
    case PF_PixelFormat_ARGB64: err = DrawRows<Rows16>(in_data, suites, data, &refcon); break;
    case PF_PixelFormat_ARGB128: err = DrawFloat(in_data, data, &refcon); break;
    default: break; // a format the effect does not draw: the output keeps what the host put in it
    }
    return err;
}
