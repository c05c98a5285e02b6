#pragma once
// Where a frame's pixels sit in the picture a compositor sees. An EXR names two rectangles: the
// display window (the picture) and the data window (the pixels stored, which may reach beyond the
// picture as overscan, or cover only part of it). The tool renders the union of the two, so that
// overscan is in the plate, and writes the plate back with the footage's windows where the format
// holds them, so that it overlays its frames without a transform.

namespace framemeld::cli {

struct FrameWindows {
    // The display window, in the file's own pixel coordinates; width 0: not known, the frame is
    // its own display window at 0,0 (footage with no windows: PNG, movies).
    int displayX = 0;
    int displayY = 0;
    int displayWidth = 0;
    int displayHeight = 0;
    // The frame as rendered (the display window joined with the stored pixels), in the same
    // coordinates; its size is the frame's width and height.
    int frameX = 0;
    int frameY = 0;
    int frameWidth = 0;
    int frameHeight = 0;

    bool known() const { return displayWidth > 0 && displayHeight > 0; }
    // The frame reaches beyond the display window: the footage has overscan.
    bool overscan() const
    {
        return known() && (frameX != displayX || frameY != displayY || frameWidth != displayWidth ||
                           frameHeight != displayHeight);
    }
    // Nothing a plate need say: no windows, or a display window at 0,0 that is the frame.
    bool plain() const { return !known() || (!overscan() && displayX == 0 && displayY == 0); }

    bool operator==(const FrameWindows &other) const
    {
        return displayX == other.displayX && displayY == other.displayY &&
               displayWidth == other.displayWidth && displayHeight == other.displayHeight &&
               frameX == other.frameX && frameY == other.frameY && frameWidth == other.frameWidth &&
               frameHeight == other.frameHeight;
    }
    bool operator!=(const FrameWindows &other) const { return !(*this == other); }
};

} // namespace framemeld::cli
