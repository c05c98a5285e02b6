#pragma once
// How a run fits its memory budget, and so where the sampled frames are held while the plug-in
// reads them. When every sampled frame fits at once, the frames stay in memory and the plate is
// one render. Otherwise each frame is decoded once into a scratch file and the plate is rendered
// in bands of rows, each band reading only its rows of every frame; the band height is the
// largest the budget holds.
//
// Counted: the decoded frames (whole, or the band's rows of each), the plate, the band's output
// world, the plug-in's per-render band store (float renders gather kFloatBandRows rows of every
// frame), and per decoding thread what the decoder holds (a whole compressed file and the whole
// image in the file's layout, as the PNG decoder does) plus, through the scratch file, the frame
// buffer it fills. Decoding is over before the plate is made, so the two phases share the
// budget. Not counted, a fixed overhead stated in README.md: the program, the plug-in and the
// OpenImageIO module.
//
// Footage that reads any run of rows on its own (EXR, TIFF, DPX) needs no scratch file: each
// band's rows are decoded straight from the files, so a decoding thread holds only a few of the
// file's blocks, and bands are whole blocks high so that no block is decoded twice.

#include <cstdint>

#include "runner/World.h"

namespace framemeld::cli {

// Rows of every sampled frame the plug-in's float render gathers at once. The plug-in's own
// figure; a test holds the two together.
inline constexpr int kFloatBandRows = 10;

// Where the sampled frames are held while the plug-in reads them.
enum class FrameStorage {
    Memory,      // every frame decoded up front and held whole; one render
    ScratchFile, // every frame decoded once into a scratch file; rendered band by band
    FileRows,    // each band's rows decoded from the files as its render begins
};

struct MemoryPlan {
    FrameStorage storage = FrameStorage::Memory;
    int bandRows = 0;      // rows rendered at once: the plate's height when everything fits
    int decodeThreads = 1; // threads decoding at once (at most the ones asked)
    std::uint64_t minimumBudget = 0;  // one frame decoded at a time and one-row bands
    std::uint64_t wholeClipBytes = 0; // what holding every frame in memory needs
    std::uint64_t bandFixedBytes = 0; // a band's cost beside its rows: plate, band store
    std::uint64_t bandRowBytes = 0;   // what each row of a band costs: one of every frame
    std::uint64_t decoderBytes = 0;   // FileRows: what each decoding thread holds
};

struct MemoryPlanInput {
    int width = 0;
    int height = 0;
    runner::PixelDepth depth = runner::PixelDepth::Bits8;
    int frames = 0;             // sampled frames, each counted once
    int threads = 1;            // decoding threads the run would like
    int fileBytesPerPixel = 16; // the footage as stored: channels x bytes per channel
    bool rowAccess = false;     // see FootageFormat (and an image sequence)
    int rowBlock = 1;
    // A render-farm node's rows (--rows): read from the files alone whenever they allow it,
    // whatever the budget, so the node decodes its share of each frame, not the whole.
    bool farmRows = false;
    std::uint64_t budget = 0;
};

// Bytes of host worlds of `width` x `rows` at `depth`, row padding included.
std::uint64_t worldBytes(int width, int rows, runner::PixelDepth depth);

// Throws RunError when the budget is below plan.minimumBudget, saying so with the smallest budget
// that works.
MemoryPlan planMemory(const MemoryPlanInput &input);

} // namespace framemeld::cli
