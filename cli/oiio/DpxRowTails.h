#pragma once
// 10-bit DPX stores three samples in each 32-bit word ("filled", method A or B), every row
// starting on a new word. A row whose sample count is not a multiple of three (RGBA 40 pixels
// wide: 160 samples) ends in a word that holds one or two samples, and OpenImageIO 2.4's reader
// leaves those samples unwritten: the last alpha of every row is whatever lay in memory. The
// samples of such a last word are read here from the file itself and written over the reader's.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <OpenImageIO/imageio.h>

namespace framemeld::cli::oiio {

class DpxRowTails {
public:
    // Nothing for files that need no repair (other formats, other depths, packed rows, rows that
    // fill their last word, channel orders the reader changes). Throws RunError naming `path`
    // when the file cannot be opened.
    static std::optional<DpxRowTails> of(const std::string &path, const OIIO::ImageInput &input);

    // Writes the last word's samples of data window rows [y0, y1) into `chunk`: rows of
    // width x channelEnd 16-bit samples, as the reader filled them (10 bits widened to 16 as it
    // widens them), row y0 first. Throws RunError naming the file when it cannot be read.
    void repair(int y0, int y1, int channelEnd, std::uint16_t *chunk) const;

    // The file's 10-bit value as the reader widens it to 16 bits.
    static std::uint16_t widen(std::uint32_t tenBits);

private:
    DpxRowTails() = default;

    std::string path_;
    std::shared_ptr<int> fd_; // closed with the last copy
    bool bigEndian_ = true;
    bool methodA_ = true; // samples in bits 22..31, 12..21, 2..11 (B: 20..29, 10..19, 0..9)
    std::uint64_t pixelsAt_ = 0;
    std::uint64_t rowBytes_ = 0;
    int width_ = 0;
    int channels_ = 0;
    int firstRow_ = 0; // the data window's top
};

} // namespace framemeld::cli::oiio
