#pragma once
// What the first frame of a clip says about all of them, and the check that holds every other
// frame to it.

#include <string>

#include "runner/World.h"

namespace framemeld::cli {

// The render depth, as the host runner names it.
using Depth = runner::PixelDepth;

struct FootageFormat {
    int width = 0;
    int height = 0;
    int channels = 0;
    bool hasAlpha = false;
    bool unassociatedAlpha = false;    // colour stored unpremultiplied (PNG, most TIFFs)
    Depth naturalDepth = Depth::Bits8; // 8-bit files at 8, 16-bit at 16, half and float at 32
    std::string sampleType;            // as OpenImageIO names it, for messages ("uint8", "half")
    // Whether any run of rows can be read without decoding the rows above it (EXR scanline and
    // tiled, TIFF strips and tiles, DPX), and the rows the file compresses together (an EXR
    // block or tile row, a TIFF strip): reads that start and end on these never decode a block
    // twice.
    bool rowAccess = false;
    int rowBlock = 1;
    // Clockwise quarter turns, in degrees, that the decoded pictures are given so that the frame
    // stands as a movie plays (its display matrix); width and height are the turned frame's.
    int rotation = 0;

    // The size of the pictures as stored, before the turn.
    int storedWidth() const { return rotation == 90 || rotation == 270 ? height : width; }
    int storedHeight() const { return rotation == 90 || rotation == 270 ? width : height; }

    // The colour space the file says its values are in: its own tag (an EXR header's
    // `colorspace`, say) or else OpenImageIO's `oiio:ColorSpace`; empty when it says nothing.
    std::string colourSpace;
};

// Throws RunError naming `what` when a frame's size is not the clip's.
void checkFrameSize(const std::string &what, int width, int height, const FootageFormat &format);

} // namespace framemeld::cli
