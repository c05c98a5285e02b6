#include "cli/oiio/OiioClaims.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/CliError.h"
#include "cli/files/FileHandle.h"

namespace framemeld::cli::oiio {
namespace {

// deflate's own limit: 258 bytes from a 2-bit code, about 1032:1 over a whole stream.
constexpr double kDeflateRatio = 1032.0;
// Run-length schemes (PackBits, EXR's RLE, Targa, SGI) stay far below this.
constexpr double kRunLengthRatio = 256.0;
// Two stages, each compressing a flat image (DWA: a DC-only block, then deflate; fax codes: one
// code per blank row): measured near 17000:1 on an 8K black frame.
constexpr double kLayeredRatio = 32.0 * kDeflateRatio;
// A display window beyond the data window is not stored at all; up to this many pixels it is
// taken as it is (an element rendered into a 16K x 8K frame), beyond it it must be backed.
constexpr double kUnbackedDisplayPixels = 16384.0 * 8192.0;

bool contains(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

std::uint64_t fileSize(const std::string &path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        throw RunError(path + ": cannot read the frame (" + error.message() + ")");
    }
    return static_cast<std::uint64_t>(size);
}

// Formats that store samples as they are, whatever their compression attribute says.
bool isRawFormat(const std::string &formatName)
{
    return formatName == "dpx" || formatName == "cineon" || formatName == "pnm";
}

// Bits of one pixel as stored: OpenImageIO widens 10- and 12-bit samples to 16 when it reads.
double storedBitsPerPixel(const OIIO::ImageSpec &spec)
{
    if (!spec.channelformats.empty()) {
        double bits = 0.0;
        for (const OIIO::TypeDesc &format : spec.channelformats) {
            bits += 8.0 * static_cast<double>(format.size());
        }
        return bits;
    }
    const int bits =
        spec.get_int_attribute("oiio:BitsPerSample", static_cast<int>(8 * spec.format.size()));
    return static_cast<double>(spec.nchannels) * static_cast<double>(bits > 0 ? bits : 1);
}

std::string sizeText(double width, double height)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.0fx%.0f", width, height);
    return text;
}

// Where a DPX file's pixels end, from the header's offset to them and the layout OpenImageIO
// read (rows start on 32-bit words; 10-bit samples filled three to a word); 0 when unknown.
// DPX is stored uncompressed, so a file that ends before this has lost pixels, which the DPX
// reader would hand out as they happened to lie in memory.
double dpxPixelsEnd(const std::string &path, const OIIO::ImageSpec &spec)
{
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    unsigned char head[8] = {};
    if (!file || std::fread(head, 1, sizeof head, file.get()) != sizeof head) {
        return 0.0;
    }
    double offset = 0.0;
    if (std::memcmp(head, "SDPX", 4) == 0) {
        offset = head[4] * 16777216.0 + head[5] * 65536.0 + head[6] * 256.0 + head[7];
    } else if (std::memcmp(head, "XPDS", 4) == 0) {
        offset = head[7] * 16777216.0 + head[6] * 65536.0 + head[5] * 256.0 + head[4];
    } else {
        return 0.0;
    }
    const int bits = spec.get_int_attribute("oiio:BitsPerSample", 0);
    const double samples = static_cast<double>(spec.width) * spec.nchannels;
    double rowWords = std::ceil(samples * bits / 32.0);
    if (bits == 10 && spec.get_string_attribute("dpx:Packing", "") != "Packed") {
        rowWords = std::ceil(samples / 3.0);
    }
    const double padding = spec.get_int_attribute("dpx:EndOfLinePadding", 0);
    return offset + (rowWords * 4.0 + padding) * spec.height;
}

} // namespace

double mostPixelBytesHeldBy(std::uint64_t fileBytes, const std::string &compression, bool rawFormat)
{
    const auto bytes = static_cast<double>(fileBytes);
    if (rawFormat || compression == "none") {
        return bytes;
    }
    // Formats that do not name their compression (PNG, JPEG, ...) are weighed as deflate.
    if (contains(compression, "rle") || contains(compression, "packbits")) {
        return bytes * kRunLengthRatio;
    }
    if (contains(compression, "dwa") || contains(compression, "ccitt") ||
        contains(compression, "fax")) {
        return bytes * kLayeredRatio;
    }
    return bytes * kDeflateRatio;
}

void refuseUnbackedImage(const std::string &path, const OIIO::ImageInput &input)
{
    const OIIO::ImageSpec &spec = input.spec();
    const std::uint64_t bytes = fileSize(path);
    const std::string compression = spec.get_string_attribute("compression", "");
    const double most = mostPixelBytesHeldBy(bytes, compression, isRawFormat(input.format_name()));
    const double bitsPerPixel = storedBitsPerPixel(spec);

    const double width = spec.width;
    const double height = spec.height;
    const double claimed =
        width * height * std::max(1.0, static_cast<double>(spec.depth)) * bitsPerPixel / 8.0;
    const std::string stored = compression == "none" ? std::string(" uncompressed")
                               : compression.empty() ? std::string()
                                                     : " (" + compression + ")";
    if (claimed > most) {
        throw RunError(path + ": the header claims " + sizeText(width, height) +
                       " pixels, more than the file's " + std::to_string(bytes) +
                       " bytes can hold" + stored + "; the file is damaged or cut short");
    }
    const double dpxEnd = input.format_name() == std::string("dpx") ? dpxPixelsEnd(path, spec) : 0;
    if (static_cast<double>(bytes) < dpxEnd) {
        throw RunError(path + ": the file ends " +
                       std::to_string(static_cast<long long>(dpxEnd - static_cast<double>(bytes))) +
                       " bytes before its last pixel; it is cut short");
    }
    const double displayPixels =
        static_cast<double>(spec.full_width) * static_cast<double>(spec.full_height);
    if (displayPixels > width * height && displayPixels > kUnbackedDisplayPixels &&
        displayPixels * bitsPerPixel / 8.0 > most) {
        throw RunError(path + ": the display window of " +
                       sizeText(spec.full_width, spec.full_height) +
                       " pixels is larger than the file's " + std::to_string(bytes) +
                       " bytes can back; the file is damaged");
    }
}

void refuseUnbackedFrameCount(const std::string &path, long long frameCount)
{
    const std::uint64_t bytes = fileSize(path);
    if (frameCount > 0 && static_cast<std::uint64_t>(frameCount) > bytes) {
        throw RunError(path + ": the movie claims " + std::to_string(frameCount) +
                       " frames, more than its " + std::to_string(bytes) +
                       " bytes can hold; the file is damaged or cut short");
    }
}

void refuseUncountableMovie(const std::string &path, const OIIO::ImageSpec &spec)
{
    const OIIO::ParamValue *rate = spec.find_attribute("FramesPerSecond", OIIO::TypeRational);
    if (rate != nullptr && rate->get<int>(0) > 0 && rate->get<int>(1) > 0) {
        return;
    }
    const std::string name = std::filesystem::path(path).filename().string();
    throw RunError(path +
                   ": the movie has no frame rate (a bare video stream, or a file cut "
                   "short), so its frames cannot be counted; put the stream in a "
                   "container without re-encoding, e.g. ffmpeg -i " +
                   name + " -c copy clip.mp4");
}

} // namespace framemeld::cli::oiio
