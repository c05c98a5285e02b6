// The per-pixel workers of the smart render and the contexts handed to the host's iterate
// functions. They are internal to the plug-in module (hidden visibility).
#pragma once

#include <cstddef>

#include "AE_Effect.h"

#include "engine/PixelString.h"
#include "render/PreRenderData.h"

// Where a float band keeps its samples between the passes, frame by frame: sample k of band
// pixel p (row by row from the band's first row) at samples[k * pixels + p]. Frame-major, so that
// each pass writes memory in order.
struct FloatBandStore {
    Pixel<float> *samples;
    std::size_t pixels; // band pixels it has room for
    std::size_t frames; // samples per pixel

    Pixel<float> &at(std::size_t frame, std::size_t pixel) const
    {
        return samples[frame * pixels + pixel];
    }
};

// The refcon of every worker of one render: the render's work record, and for a float render
// the store that every band reuses (null: each band makes its own).
struct FramemeldRefcon {
    PreRenderData *data;
    FloatBandStore *float_band = nullptr;
};

// The refcon of one pass of the host's float iterate over a band of rows.
struct FramemeldFloatRowRefcon {
    A_long frame_index;      // sampled frame that this pass feeds
    FloatBandStore band;     // the band's samples; pixels beyond are ignored
    FramemeldRefcon *refcon; // the render's context
    A_long first_row;        // first output row of the band
    bool feeds_frame;        // store the source pixel as sample frame_index
    bool finishes;           // run the engine and write the output pixel
};

// One output row at 8 bits per channel (the host's iterate_generic calls it once per row).
PF_Err FramemeldFunc8(void *refcon, A_long thread_index, A_long row, A_long iterations);

// One output row at 16 bits per channel, run through the float engine.
PF_Err FramemeldFunc16(void *refcon, A_long thread_index, A_long row, A_long iterations);

// One band of `row_count` output rows starting at `first_row` in a float render: one pass of the
// host's float iterate per sampled frame; the consensus is written during the last pass.
PF_Err FramemeldFuncFloat(void *refcon, A_long thread_index, A_long first_row, A_long row_count);

// The number of samples a float band store holds for `band_rows` rows; PF_Err_OUT_OF_MEMORY when
// that many could not even be counted in memory.
PF_Err FramemeldFloatBandSamples(A_long frame_count, A_long band_rows, A_long width,
                                 std::size_t *count);

// The pixel function of those passes.
PF_Err FramemeldFuncFloatRow(void *refcon, A_long x, A_long y, PF_PixelFloat *in,
                             PF_PixelFloat *out);
