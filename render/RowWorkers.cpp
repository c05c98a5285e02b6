// The 8-bit and 16-bit row workers, run by the host's iterate_generic, one call per output row.
// Both gather one position of every sampled frame into a pixel string, ask the engine for the
// consensus and write it to the output; they differ only in the traits below. Each frame's base
// address is asked for once per row rather than once per pixel: a render of 100 frames would
// otherwise make 100 host calls for every output pixel.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "AE_Effect.h"
#include "AE_EffectCB.h"

#include "engine/FramemeldEngine.h"
#include "engine/PixelString.h"
#include "host/ExceptionToErr.h"
#include "render/Deep16Conversion.h"
#include "render/PixelCallbacks.h"
#include "render/WorldAddressing.h"

namespace {

struct Depth8 {
    using HostPixel = PF_Pixel8;
    using EnginePixel = Pixel<unsigned char>;

    static PF_Err FrameBase(PF_InData *in_data, PF_EffectWorld *world, HostPixel **base)
    {
        return PF_GET_PIXEL_DATA8(world, NULL, base);
    }
    static FramemeldEngine<EnginePixel> *Engine(const PreRenderData *data) { return data->engine8; }
    static HostPixel *OutputBase(const PreRenderData *data) { return data->output_pixels8; }

    // Alpha, red, green, blue in memory become red, green, blue, alpha: on a little-endian
    // processor that is one rotation of the pixel's 32 bits instead of four byte moves, and the
    // gather runs once per frame for every output pixel.
    static EnginePixel Gather(const HostPixel &in)
    {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return EnginePixel{in.red, in.green, in.blue, in.alpha};
#else
        static_assert(sizeof(HostPixel) == 4 && sizeof(EnginePixel) == 4, "four bytes each");
        std::uint32_t bits;
        std::memcpy(&bits, &in, sizeof bits);
        bits = (bits >> 8) | (bits << 24);
        EnginePixel out;
        std::memcpy(&out, &bits, sizeof out);
        return out;
#endif
    }
    static void Store(const EnginePixel &result, HostPixel *out)
    {
        out->alpha = result.alpha;
        out->red = result.red;
        out->green = result.green;
        out->blue = result.blue;
    }
};

struct Depth16 {
    using HostPixel = PF_Pixel16;
    using EnginePixel = Pixel<float>;

    static PF_Err FrameBase(PF_InData *in_data, PF_EffectWorld *world, HostPixel **base)
    {
        return PF_GET_PIXEL_DATA16(world, NULL, base);
    }
    static FramemeldEngine<EnginePixel> *Engine(const PreRenderData *data)
    {
        return data->engine_float;
    }
    static HostPixel *OutputBase(const PreRenderData *data) { return data->output_pixels16; }

    static EnginePixel Gather(const HostPixel &in)
    {
        return EnginePixel{Deep16ToFloat(in.red), Deep16ToFloat(in.green), Deep16ToFloat(in.blue),
                           Deep16ToFloat(in.alpha)};
    }
    static void Store(const EnginePixel &result, HostPixel *out)
    {
        out->alpha = FloatToDeep16(result.alpha);
        out->red = FloatToDeep16(result.red);
        out->green = FloatToDeep16(result.green);
        out->blue = FloatToDeep16(result.blue);
    }
};

// What one sampled frame holds of one output row: where that row starts in the frame, and how
// many of its pixels the frame has (0 for a null world, a row past the frame's height, or a
// frame without pixels). Pixels at and past `width` are transparent black, as the host's layers
// are outside their bounds, and are never read.
template <typename HostPixel> struct FrameRow {
    const HostPixel *pixels;
    A_long width;
};

// Asks the host for each frame's base address once for the whole row, and only for frames that
// have pixels in it; the first failure stops the row before any pixel of it is read or written.
template <typename Depth>
PF_Err FindFrameRows(PF_InData *in_data, const PreRenderData *data, A_long row,
                     FrameRow<typename Depth::HostPixel> *rows)
{
    const A_long n = data->parameter->frameCount;
    for (A_long k = 0; k < n; ++k) {
        PF_EffectWorld *frame = data->frames[k];
        rows[k] = FrameRow<typename Depth::HostPixel>{nullptr, 0};
        const A_long width = ReadableWidth<typename Depth::HostPixel>(frame, row);
        if (width == 0) {
            continue;
        }
        typename Depth::HostPixel *base = nullptr;
        const PF_Err err = Depth::FrameBase(in_data, frame, &base);
        if (err) {
            return err;
        }
        if (base != nullptr) {
            rows[k] = FrameRow<typename Depth::HostPixel>{WorldPixel(base, frame->rowbytes, 0, row),
                                                          width};
        }
    }
    return PF_Err_NONE;
}

template <typename Depth> PF_Err RenderRow(PreRenderData *data, A_long row)
{
    PF_InData *in_data = data->in_data;
    const A_long n = data->parameter->frameCount;
    PF_EffectWorld *output = data->output;
    if (output->width <= 0) {
        return PF_Err_NONE;
    }
    typename Depth::HostPixel *output_base = Depth::OutputBase(data);
    FramemeldEngine<typename Depth::EnginePixel> *engine = Depth::Engine(data);

    std::unique_ptr<FrameRow<typename Depth::HostPixel>[]> rows(
        new FrameRow<typename Depth::HostPixel>[static_cast<std::size_t>(n > 0 ? n : 0)]);
    const PF_Err err = FindFrameRows<Depth>(in_data, data, row, rows.get());
    if (err) {
        return err;
    }

    PixelString<typename Depth::EnginePixel> samples(0, row, n);
    typename Depth::EnginePixel *const *elements = samples.pixels;
    const FrameRow<typename Depth::HostPixel> *frame_rows = rows.get();
    typename Depth::EnginePixel result{};
    for (A_long x = 0; x < output->width; ++x) {
        samples.x = x;
        for (A_long k = 0; k < n; ++k) {
            const FrameRow<typename Depth::HostPixel> &frame_row = frame_rows[k];
            *elements[k] = x < frame_row.width ? Depth::Gather(frame_row.pixels[x])
                                               : typename Depth::EnginePixel{};
        }
        // An interruption skips this pixel only; the row's end reports it (worker 0).
        if (PF_ABORT(in_data)) {
            continue;
        }
        engine->process(data->parameter, &samples, &result);
        Depth::Store(result, WorldPixel(output_base, output->rowbytes, x, row));
    }
    return PF_Err_NONE;
}

// The host's iterate_generic is C code: nothing may be thrown back into it.
template <typename Depth> PF_Err RowWorker(void *refcon, A_long thread_index, A_long row)
{
    PreRenderData *data = static_cast<FramemeldRefcon *>(refcon)->data;
    PF_InData *in_data = data->in_data;
    PF_Err err = PF_Err_NONE;
    try {
        err = RenderRow<Depth>(data, row);
    } catch (...) {
        err = ErrFromCurrentException();
    }
    if (thread_index == 0 && !err) {
        const A_long n = data->parameter->frameCount;
        err = PF_ABORT(in_data);
        if (!err) {
            err = PF_PROGRESS(in_data, n + row, n + data->output->height);
        }
    }
    return err;
}

} // namespace

PF_Err FramemeldFunc8(void *refcon, A_long thread_index, A_long row, A_long /*iterations*/)
{
    return RowWorker<Depth8>(refcon, thread_index, row);
}

PF_Err FramemeldFunc16(void *refcon, A_long thread_index, A_long row, A_long /*iterations*/)
{
    return RowWorker<Depth16>(refcon, thread_index, row);
}
