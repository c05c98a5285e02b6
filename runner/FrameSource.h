// Where a render's footage comes from: frame f of the layer, already in the depth the render
// runs at. For a request that covers the whole layer the runner hands a source's own storage to
// the plug-in (no copy per checkout), so a source keeps each frame it produced until it is
// destroyed. For a request that covers part of the layer (a strip of a plate rendered strip by
// strip) the runner asks for just that part, into a world of its own.
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

    // Writes the pixels of frame `index` inside `area` (layer pixels, not empty, within the
    // frame) into `into`, which has the area's size and the source's depth; `into`'s pixel (0, 0)
    // is the frame's (area.left, area.top). Called only on the thread that sends commands; throws
    // as frame() does. This default copies from frame(index); a source that can produce some rows
    // of a frame without the rest overrides it, so a plate rendered in strips never needs whole
    // frames in memory.
    virtual void fillArea(int index, const PF_LRect &area, World &into);

    // Frame `index` inside `area`, made ahead and handed over, or an invalid world when the
    // source has none ready (the runner then makes a world and calls fillArea). A source that
    // reads one area of every frame at once, on several threads, before the plug-in asks for the
    // frames one by one, hands its worlds out here instead of copying them. Called only on the
    // thread that sends commands; throws as frame() does.
    virtual World takeArea(int index, const PF_LRect &area);
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
