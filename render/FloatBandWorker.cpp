// The float render: bands of rows, each built up by one pass of the host's float iterate per
// sampled frame. A pass stores its frame's pixels into the band's store; the pass that completes
// the band gathers each pixel's samples into a pixel string, runs the engine and writes the
// consensus.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>

#include "AE_Effect.h"
#include "AE_EffectCBSuites.h"

#include "engine/FramemeldEngine.h"
#include "engine/PixelString.h"
#include "host/AEGP_SuiteHandler.h"
#include "host/ExceptionToErr.h"
#include "render/PixelCallbacks.h"
#include "render/RectUnion.h"

namespace {

// The part of `area` that `frame` has pixels for; empty for a null frame.
PF_LRect CoveredArea(const PF_EffectWorld *frame, const PF_LRect &area)
{
    PF_LRect covered = area;
    if (frame == nullptr) {
        covered.right = covered.left;
        return covered;
    }
    covered.right = std::min(covered.right, frame->width);
    covered.bottom = std::min(covered.bottom, frame->height);
    return covered;
}

bool SameRect(const PF_LRect &a, const PF_LRect &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

PF_Err FramemeldFloatBandSamples(A_long frame_count, A_long band_rows, A_long width,
                                 std::size_t *count)
{
    const std::size_t frames = static_cast<std::size_t>(std::max<A_long>(frame_count, 0));
    const std::size_t pixels = static_cast<std::size_t>(std::max<A_long>(band_rows, 0)) *
                               static_cast<std::size_t>(std::max<A_long>(width, 0));
    if (pixels != 0 &&
        frames > std::numeric_limits<std::size_t>::max() / sizeof(Pixel<float>) / pixels) {
        return PF_Err_OUT_OF_MEMORY;
    }
    *count = frames * pixels;
    return PF_Err_NONE;
}

PF_Err FramemeldFuncFloat(void *refcon, A_long thread_index, A_long first_row, A_long row_count)
{
    FramemeldRefcon *context = static_cast<FramemeldRefcon *>(refcon);
    PreRenderData *data = context->data;
    PF_InData *in_data = data->in_data;
    PF_EffectWorld *output = data->output;
    const A_long n = data->parameter->frameCount;
    const A_long width = output->width;
    const A_long height = output->height;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Err err = PF_Err_NONE;
    {
        // The render's store when it has one large enough, else one for this band alone.
        const std::size_t pixels = static_cast<std::size_t>(std::max<A_long>(row_count, 0)) *
                                   static_cast<std::size_t>(std::max<A_long>(width, 0));
        FloatBandStore band{nullptr, pixels, static_cast<std::size_t>(std::max<A_long>(n, 0))};
        std::unique_ptr<Pixel<float>[]> own_samples;
        if (context->float_band != nullptr && context->float_band->pixels >= pixels) {
            band = *context->float_band;
        } else {
            std::size_t count = 0;
            err = FramemeldFloatBandSamples(n, row_count, width, &count);
            if (!err) {
                own_samples.reset(new (std::nothrow) Pixel<float>[count]);
                if (own_samples == nullptr && count != 0) {
                    err = PF_Err_OUT_OF_MEMORY;
                }
            }
            band.samples = own_samples.get();
        }

        PF_LRect area;
        area.left = 0;
        area.top = first_row;
        area.right = width;
        area.bottom = std::min(first_row + row_count, height);

        FramemeldFloatRowRefcon row_context{};
        row_context.band = band;
        row_context.refcon = context;
        row_context.first_row = first_row;

        const A_long progress_base = n + first_row;
        const A_long progress_final = n + height;

        // A frame without pixels for the whole band (null, or smaller than the output) is handed to
        // the host only over the part it covers; the rest of its samples are transparent black, so
        // its plane is cleared first (the store may hold an earlier band). Should the last frame be
        // such a frame (or there be no frame at all), one more pass over the band with the output
        // as source completes the pixels without reading any frame.
        bool finished = false;
        for (A_long k = 0; k < n && !err; ++k) {
            PF_EffectWorld *frame = data->frames[k];
            const PF_LRect covered = CoveredArea(frame, area);
            const bool covers_band = frame != nullptr && SameRect(covered, area);
            if (!covers_band) {
                for (std::size_t pixel = 0; pixel < band.pixels; ++pixel) {
                    band.at(static_cast<std::size_t>(k), pixel) = Pixel<float>{};
                }
            }
            if (!covers_band && IsEmptyRect(&covered)) {
                continue;
            }
            row_context.frame_index = k;
            row_context.feeds_frame = true;
            row_context.finishes = covers_band && k == n - 1;
            finished = row_context.finishes;
            err = suites.IterateFloatSuite1()->iterate(in_data, progress_base, progress_final,
                                                       frame, &covered, &row_context,
                                                       FramemeldFuncFloatRow, output);
        }
        if (!err && !finished) {
            row_context.frame_index = n - 1;
            row_context.feeds_frame = false;
            row_context.finishes = true;
            err = suites.IterateFloatSuite1()->iterate(in_data, progress_base, progress_final,
                                                       output, &area, &row_context,
                                                       FramemeldFuncFloatRow, output);
        }
    }

    if (thread_index == 0 && !err) {
        err = PF_ABORT(in_data);
        if (!err) {
            err = PF_PROGRESS(in_data, n + first_row, n + height);
        }
    }
    return err;
}

PF_Err FramemeldFuncFloatRow(void *refcon, A_long x, A_long y, PF_PixelFloat *in,
                             PF_PixelFloat *out)
{
    const FramemeldFloatRowRefcon *row_context =
        static_cast<const FramemeldFloatRowRefcon *>(refcon);
    const PreRenderData *data = row_context->refcon->data;
    const A_long width = data->output->width;
    if (x < 0 || x >= width || y < row_context->first_row) {
        return PF_Err_NONE;
    }
    const std::size_t index =
        static_cast<std::size_t>(y - row_context->first_row) * static_cast<std::size_t>(width) +
        static_cast<std::size_t>(x);
    const FloatBandStore &band = row_context->band;
    if (index >= band.pixels) {
        return PF_Err_NONE;
    }
    if (row_context->feeds_frame) {
        band.at(static_cast<std::size_t>(row_context->frame_index), index) =
            Pixel<float>{in->red, in->green, in->blue, in->alpha};
    }
    if (row_context->finishes) {
        const A_long n = data->parameter->frameCount;
        Pixel<float> result{};
        // The host's iterate is C code: an allocation failure becomes an error code.
        try {
            PixelString<Pixel<float>> samples(x, y, n);
            Pixel<float> *const *elements = samples.pixels;
            for (A_long k = 0; k < n; ++k) {
                *elements[k] = band.at(static_cast<std::size_t>(k), index);
            }
            data->engine_float->process(data->parameter, &samples, &result);
        } catch (...) {
            return ErrFromCurrentException();
        }
        out->alpha = result.alpha;
        out->red = result.red;
        out->green = result.green;
        out->blue = result.blue;
    }
    return PF_Err_NONE;
}
