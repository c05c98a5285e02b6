#pragma once
// Frames read a row of every frame at a time: what a measurement over the whole clip reads
// (the noise estimate), without caring whether the frames are held in memory, in a scratch file
// or only in their files, so that its result cannot depend on the memory budget.

#include <vector>

#include "runner/World.h"

namespace framemeld::cli {

class FrameRows {
public:
    virtual ~FrameRows() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual runner::PixelDepth depth() const = 0;

    // Row `row` of each of `frames` (clip frame numbers, in the order given, repeats allowed) into
    // row i of `into`, a world of width() pixels, frames.size() rows and depth(). Throws
    // std::invalid_argument for a row outside the frame or a world of another shape,
    // std::out_of_range for a frame the clip lacks, and what decoding throws.
    virtual void gatherRow(int row, const std::vector<int> &frames, runner::World &into) = 0;
};

} // namespace framemeld::cli
