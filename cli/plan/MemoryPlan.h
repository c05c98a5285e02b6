#pragma once
// How a run fits its memory budget. When every sampled frame fits at once, the frames stay in
// memory and the plate is one render, as before. Otherwise each frame is decoded once into a
// scratch file and the plate is rendered in strips of rows, each strip reading only its rows of
// every frame; the strip height is the largest the budget holds.
//
// Counted: the decoded frames (whole, or the strip's rows of each), the plate, the strip's output
// world, the plug-in's per-render band store (float renders gather 10 rows of every frame), and
// per decoding thread what the decoder holds (a whole compressed file and the whole image in the
// file's layout, as the PNG decoder does) plus, in the scratch path, the frame buffer it fills.
// Decoding is over before the plate is made, so the two phases share the budget. Not counted,
// a fixed overhead stated in README.md: the program, the plug-in and the OpenImageIO module.
//
// Footage that reads any run of rows on its own (EXR, TIFF, DPX) needs no scratch file: each
// strip's rows are decoded straight from the files, so a decoding thread holds only a few of the
// file's blocks, and strips are whole blocks high so that no block is decoded twice.

#include <cstdint>

#include "runner/World.h"

namespace framemeld::cli {

struct StripPlan {
    bool wholeClip = false; // all frames in memory, one render
    bool fromFiles = false; // strips decoded from the files, no scratch file
    int rowsPerStrip = 0;   // the plate's height when wholeClip
    int decodeThreads = 1;  // threads decoding into the scratch file (at most the ones asked)
    std::uint64_t minimumBudget = 0;   // one frame decoded at a time and one-row strips
    std::uint64_t wholeClipBytes = 0;  // what the whole-clip path needs
    std::uint64_t stripFixedBytes = 0; // a strip's cost beside its rows: plate, band store
    std::uint64_t stripRowBytes = 0;   // what each row of a strip costs: one of every frame
    std::uint64_t decoderBytes = 0;    // fromFiles: what each decoding thread holds
};

struct StripPlanInput {
    int width = 0;
    int height = 0;
    runner::PixelDepth depth = runner::PixelDepth::Bits8;
    int frames = 0;             // sampled frames, each counted once
    int threads = 1;            // decoding threads the run would like
    int fileBytesPerPixel = 16; // the footage as stored: channels x bytes per channel
    bool rowAccess = false;     // see FootageFormat
    int rowBlock = 1;
    std::uint64_t budget = 0;
};

// Bytes of a host world of `width` x `rows` at `depth`, row padding included.
std::uint64_t worldBytes(int width, int rows, runner::PixelDepth depth);

// Throws RunError when the budget is below plan.minimumBudget, saying so with the smallest budget
// that works.
StripPlan planStrips(const StripPlanInput &input);

} // namespace framemeld::cli
