// The per-pixel workers of the smart render and the contexts handed to the host's iterate
// functions. They are internal to the plug-in module (hidden visibility).
#pragma once

#include <cstddef>

#include "AE_Effect.h"

#include "engine/PixelString.h"
#include "render/PreRenderData.h"

// The refcon of every worker of one render: the render's work record.
struct FramemeldRefcon {
  PreRenderData *data;
};

// The refcon of one pass of the host's float iterate over a band of rows.
struct FramemeldFloatRowRefcon {
  A_long frame_index;                        // sampled frame that this pass feeds
  PixelString<Pixel<float>> **strings;       // one per pixel of the band, row by row
  FramemeldRefcon *refcon;                   // the render's context
  A_long first_row;                          // first output row of the band
  std::size_t string_count;                  // entries in `strings`; pixels beyond are ignored
  bool feeds_frame;                          // store the source pixel into element frame_index
  bool finishes;                             // run the engine and write the output pixel
};

// One output row at 8 bits per channel (the host's iterate_generic calls it once per row).
PF_Err FramemeldFunc8(void *refcon, A_long thread_index, A_long row, A_long iterations);

// One output row at 16 bits per channel, run through the float engine.
PF_Err FramemeldFunc16(void *refcon, A_long thread_index, A_long row, A_long iterations);

// One band of `row_count` output rows starting at `first_row` in a float render: one pass of the
// host's float iterate per sampled frame; the consensus is written during the last pass.
PF_Err FramemeldFuncFloat(void *refcon, A_long thread_index, A_long first_row, A_long row_count);

// The pixel function of those passes.
PF_Err FramemeldFuncFloatRow(void *refcon, A_long x, A_long y, PF_PixelFloat *in, PF_PixelFloat *out);
