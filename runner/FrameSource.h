// Where a render's footage comes from: frame f of the layer, already in the depth the render
// runs at. The runner hands a source's own storage to the plug-in (no copy per checkout), so a
// source keeps each frame it produced until it is destroyed.
#pragma once

#include <deque>

#include "runner/World.h"

namespace framemeld::runner {

class FrameSource {
public:
    virtual ~FrameSource();

    virtual int frameCount() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual PixelDepth depth() const = 0;

    // Frame `index`, 0 <= index < frameCount(), with width(), height() and depth(). Produced at
    // most once and held by the source; the reference stays valid while the source lives. Called
    // only on the thread that sends commands. Throws (any std::exception) when the frame cannot
    // be produced; the runner then fails the plug-in's checkout and reports the message.
    virtual const World &frame(int index) = 0;
};

// Frames held in memory, filled in by the caller; for tests and small tools.
class InMemoryFrameSource final : public FrameSource {
public:
    InMemoryFrameSource(int width, int height, PixelDepth depth, RowPadding padding = {});

    // Appends a transparent frame and returns it for filling in; the reference stays valid.
    World &addFrame();
    // Appends a frame made elsewhere; throws std::invalid_argument when its size or depth differ.
    World &addFrame(World frame);
    World &frameForWriting(int index);

    int frameCount() const override { return static_cast<int>(frames_.size()); }
    int width() const override { return width_; }
    int height() const override { return height_; }
    PixelDepth depth() const override { return depth_; }
    const World &frame(int index) override;

private:
    int width_;
    int height_;
    PixelDepth depth_;
    RowPadding padding_;
    std::deque<World> frames_;
};

} // namespace framemeld::runner
