#pragma once
// What a PNG header says about the samples the fast reader hands out.

namespace framemeld::cli::png {

// PNG colour types as the header stores them.
enum PngColourType : int {
    kColourGrey = 0,
    kColourRgb = 2,
    kColourPalette = 3,
    kColourGreyAlpha = 4,
    kColourRgba = 6
};

struct PngInfo {
    int width = 0;
    int height = 0;
    int bitDepth = 0; // 8 or 16 for the files this reader decodes
    int channels = 0; // 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
    bool hasAlpha = false;
    int colourType = 0; // one of PngColourType
};

} // namespace framemeld::cli::png
