#pragma once
// Fixtures for the PNG codec's tests: images written by libpng (the reference encoder) with a
// chosen filter and chunks, hand-assembled files for damaged streams, and readings of a file by
// OpenImageIO and by libpng to compare against.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/png/PngDecoder.h"
#include "cli/png/PngWriter.h"

namespace framemeld::cli::png::test {

// A scratch folder removed with its contents.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Interleaved samples as unsigned values (0..255 or 0..65535), row after row.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    int bitDepth = 8;
    std::vector<std::uint16_t> samples;
};

// Noise over a gradient, so each filter has something to predict and something it cannot.
Image makeImage(int width, int height, int channels, int bitDepth, unsigned seed);

enum ExtraChunks : unsigned {
    kNoExtras = 0,
    kGamma = 1u << 0, // gAMA and cHRM
    kSrgb = 1u << 1,
    kIccProfile = 1u << 2,
    kText = 1u << 3, // tEXt, zTXt and iTXt
    kSignificantBits = 1u << 4,
    kPrivateChunk = 1u << 5, // an ancillary chunk no reader knows, before and after IDAT
    kTransparency = 1u << 6, // tRNS
};

struct LibpngOptions {
    int filters = -1; // PNG_FILTER_* mask for png_set_filter; -1 leaves libpng's default
    unsigned extras = kNoExtras;
    std::size_t idatBufferSize = 8192; // small values split the data over many IDAT chunks
    bool interlaced = false;
    bool palette = false; // 8-bit palette (image must be 1 channel, values < 256)
    int lowBitDepth = 0;  // 1, 2 or 4: a grey image at that depth (values masked)
};

// Encodes with libpng; the colour type follows the channel count (grey, grey+alpha, RGB, RGBA).
std::vector<std::uint8_t> encodeWithLibpng(const Image &image, const LibpngOptions &options = {});

void writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes);
std::vector<std::uint8_t> readFile(const std::string &path);

// Reads all channels as OpenImageIO does for footage (alpha kept unassociated), as 8 or 16 bits.
Image readWithOpenImageIO(const std::string &path);
// Reads with libpng, 16-bit samples in host order.
Image readWithLibpng(const std::string &path);

// A PNG assembled from parts, with correct CRCs unless told otherwise.
class PngBuilder {
public:
    PngBuilder();
    PngBuilder &header(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType,
                       int interlace = 0);
    PngBuilder &chunk(const std::string &name, const std::vector<std::uint8_t> &data);
    // One IDAT holding the zlib stream of `filtered` (rows each led by a filter byte).
    PngBuilder &imageData(const std::vector<std::uint8_t> &filtered);
    PngBuilder &end() { return chunk("IEND", {}); }
    const std::vector<std::uint8_t> &bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t> &data);

// Filter bytes of every row of a PNG with a single zlib stream split over its IDAT chunks.
std::vector<int> rowFilters(const std::vector<std::uint8_t> &file, int height,
                            std::size_t rowBytes);
// Data lengths of the IDAT chunks, in file order.
std::vector<std::size_t> idatLengths(const std::vector<std::uint8_t> &file);

// Reads the file whole and decodes it, as the footage reader does.
PngInfo decodeFile(PngDecoder &decoder, const std::string &path, const PngRowCallback &onRow);

// Writes a PNG file through the codec.
void writePngFile(const std::string &path, int width, int height, int channels, int bitDepth,
                  const PngRowSource &rowSource);

} // namespace framemeld::cli::png::test
