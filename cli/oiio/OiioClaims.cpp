#include "cli/oiio/OiioClaims.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "cli/core/CliError.h"
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
// A block buffer (a 16K-wide float RGBA row block of DWAB's 256 rows) that any file may ask for,
// so that small frames compressed to the bound, even a single row, still open.
constexpr double kUnbackedBlockBytes = 16384.0 * 256.0 * 16.0;

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
    // A palette image stores one index a pixel; the reader hands out the colours it looks up.
    const bool palette = spec.get_int_attribute("tiff:PhotometricInterpretation", -1) == 3;
    const int storedChannels = palette ? 1 : spec.nchannels;
    return static_cast<double>(storedChannels) * static_cast<double>(bits > 0 ? bits : 1);
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

std::uint32_t littleEndian32(const unsigned char *p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

std::int32_t littleEndianInt(const unsigned char *p)
{
    const std::uint32_t word = littleEndian32(p);
    return word > 0x7FFFFFFFu ? -static_cast<std::int32_t>(~word) - 1
                              : static_cast<std::int32_t>(word);
}

// Reads a NUL-terminated name of at most `longest` characters; false at the end of the file or
// for a longer one (which OpenEXR would cut there and read on from, out of step with the file).
bool readExrName(std::FILE *file, std::size_t longest, std::string &name)
{
    name.clear();
    for (int c = std::fgetc(file); c != 0; c = std::fgetc(file)) {
        if (c == EOF || name.size() >= longest) {
            return false;
        }
        name.push_back(static_cast<char>(c));
    }
    return true;
}

// The stored size of OpenEXR's fixed-size attribute types. OpenEXR reads these by their type and
// not by the size the file states, so a size that differs puts it out of step with the file.
std::size_t fixedExrAttributeSize(const std::string &type)
{
    static const std::map<std::string, std::size_t> sizes = {
        {"box2i", 16},
        {"box2f", 16},
        {"compression", 1},
        {"double", 8},
        {"envmap", 1},
        {"float", 4},
        {"int", 4},
        {"keycode", 28},
        {"lineOrder", 1},
        {"m33f", 36},
        {"m33d", 72},
        {"m44f", 64},
        {"m44d", 128},
        {"rational", 8},
        {"tiledesc", 9},
        {"timecode", 8},
        {"v2i", 8},
        {"v2f", 8},
        {"v2d", 16},
        {"v3i", 12},
        {"v3f", 12},
        {"v3d", 24},
        {"chromaticities", 32},
        {"deepImageState", 1},
    };
    const auto found = sizes.find(type);
    return found == sizes.end() ? 0 : found->second;
}

// Whether a channel list fills exactly its stated `length`: OpenEXR reads it entry by entry up
// to an empty name, whatever the length says. Adds the bytes each listed channel stores per pixel
// (a subsampled channel its share) to `bytesPerPixel`.
bool exrChannelListFits(std::FILE *file, std::uint32_t length, std::size_t longestName,
                        double &bytesPerPixel)
{
    std::uint64_t used = 0;
    std::string name;
    for (;;) {
        if (!readExrName(file, longestName, name)) {
            return false;
        }
        used += name.size() + 1;
        if (name.empty()) {
            return used == length;
        }
        unsigned char entry[16];
        if (std::fread(entry, 1, sizeof entry, file) != sizeof entry) {
            return false;
        }
        used += sizeof entry;
        if (used > length) {
            return false;
        }
        // Pixel type 1 is half; uint, float and whatever a later version adds take 4 bytes.
        const double sampleBytes = littleEndian32(entry) == 1 ? 2.0 : 4.0;
        const double sampling = std::max(1.0, static_cast<double>(littleEndianInt(entry + 8))) *
                                std::max(1.0, static_cast<double>(littleEndianInt(entry + 12)));
        bytesPerPixel += sampleBytes / sampling;
    }
}

// Whether a preview image's stated width and height fit its stated `length`: OpenEXR allocates
// width x height pixels from them.
bool exrPreviewFits(std::FILE *file, std::uint32_t length)
{
    unsigned char size[8];
    if (length < sizeof size || std::fread(size, 1, sizeof size, file) != sizeof size) {
        return false;
    }
    const auto word = [&](int at) {
        return std::uint64_t{size[at]} | (std::uint64_t{size[at + 1]} << 8) |
               (std::uint64_t{size[at + 2]} << 16) | (std::uint64_t{size[at + 3]} << 24);
    };
    return std::fseek(file, -8, SEEK_CUR) == 0 && 8 + word(0) * word(4) * 4 == length;
}

} // namespace

namespace {

// The DPX reader reads the user data block whole, by the size the header states (0xFFFFFFFF,
// DPX's "undefined", included).
void refuseUnbackedDpxHeader(const std::string &path, const unsigned char *head,
                             std::uint64_t bytes)
{
    const bool bigEndian = std::memcmp(head, "SDPX", 4) == 0;
    const auto field = [&](int at) {
        const unsigned char *p = head + at;
        return bigEndian ? (std::uint64_t{p[0]} << 24) | (std::uint64_t{p[1]} << 16) |
                               (std::uint64_t{p[2]} << 8) | p[3]
                         : (std::uint64_t{p[3]} << 24) | (std::uint64_t{p[2]} << 16) |
                               (std::uint64_t{p[1]} << 8) | p[0];
    };
    const std::uint64_t pixelsAt = field(4);
    const std::uint64_t userBytes = field(32);
    if (pixelsAt > bytes) {
        throw RunError(path + ": damaged DPX header (pixels at byte " + std::to_string(pixelsAt) +
                       ", past the end of the file)");
    }
    if (userBytes != 0 && userBytes > bytes) {
        throw RunError(path + ": damaged DPX header (user data of " + std::to_string(userBytes) +
                       " bytes, more than the file holds)");
    }
}

// What one EXR part's header says about its pixels; OpenEXR's defaults where it says nothing.
struct ExrPartClaims {
    bool hasDataWindow = false;
    std::int64_t dataWindow[4] = {}; // xMin, yMin, xMax, yMax
    bool hasDisplayWindow = false;
    std::int64_t displayWindow[4] = {};
    double bytesPerPixel = 0.0;
    int compression = 3; // zip
    bool tiled = false;
    bool deep = false;
    std::int64_t tileWidth = 0;
    std::int64_t tileHeight = 0;
};

struct ExrCompression {
    const char *name; // as OpenImageIO names it
    std::int64_t rowsPerBlock;
};

// By OpenEXR's compression number; anything else is weighed as stored raw, one row a block.
ExrCompression exrCompression(int code)
{
    static const ExrCompression kinds[] = {{"none", 1},  {"rle", 1},    {"zips", 1}, {"zip", 16},
                                           {"piz", 32},  {"pxr24", 16}, {"b44", 32}, {"b44a", 32},
                                           {"dwaa", 32}, {"dwab", 256}};
    return code >= 0 && code < 10 ? kinds[code] : ExrCompression{"none", 1};
}

void readExrBox(std::FILE *file, std::int64_t box[4], bool &found)
{
    unsigned char value[16];
    if (std::fread(value, 1, sizeof value, file) == sizeof value) {
        for (int i = 0; i < 4; ++i) {
            box[i] = littleEndianInt(value + 4 * i);
        }
        found = true;
    }
}

// Reads the attributes that size a part's pixels; `file` is at the value, `length` bytes long.
void readExrPixelClaim(std::FILE *file, const std::string &name, const std::string &type,
                       std::uint32_t length, ExrPartClaims &claims)
{
    if (name == "dataWindow" && type == "box2i") {
        readExrBox(file, claims.dataWindow, claims.hasDataWindow);
    } else if (name == "displayWindow" && type == "box2i") {
        readExrBox(file, claims.displayWindow, claims.hasDisplayWindow);
    } else if (name == "compression" && type == "compression") {
        const int code = std::fgetc(file);
        claims.compression = code == EOF ? claims.compression : code;
    } else if (name == "tiles" && type == "tiledesc") {
        unsigned char value[8];
        if (std::fread(value, 1, sizeof value, file) == sizeof value) {
            claims.tileWidth = littleEndian32(value);
            claims.tileHeight = littleEndian32(value + 4);
        }
    } else if (name == "type" && type == "string" && length < 64) {
        std::string kind(length, '\0');
        if (std::fread(&kind[0], 1, length, file) == length) {
            claims.tiled = contains(kind, "tile");
            claims.deep = contains(kind, "deep");
        }
    }
}

// OpenEXR sizes its line and tile buffers, and the decompressor's, from the data window, the
// channels and the compression while it opens a file: a header of a few hundred bytes can make
// it allocate gigabytes. The window's pixels are weighed against what the file can hold at the
// compression's best ratio; each buffer holds a whole block (a compression's rows, or a tile) even
// where the window is smaller, so a block beyond a fixed allowance must be backed as well; and
// the file must at least hold its table of block offsets.
void refuseUnbackedExrPixels(const std::string &path, const ExrPartClaims &claims,
                             std::uint64_t bytes)
{
    auto damaged = [&](const std::string &what) {
        return RunError(path + ": damaged EXR header (" + what + ")");
    };
    const auto checkWindow = [&](const std::int64_t box[4], const char *what) {
        const std::int64_t width = box[2] - box[0] + 1;
        const std::int64_t height = box[3] - box[1] + 1;
        if (width <= 0 || height <= 0) {
            throw damaged(std::string(what) + " inverted");
        }
        if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
            throw damaged(std::string(what) + " of " +
                          sizeText(static_cast<double>(width), static_cast<double>(height)) +
                          " pixels overflows");
        }
    };
    if (claims.hasDisplayWindow) {
        checkWindow(claims.displayWindow, "display window");
    }
    if (!claims.hasDataWindow) {
        return;
    }
    checkWindow(claims.dataWindow, "data window");
    const std::int64_t width = claims.dataWindow[2] - claims.dataWindow[0] + 1;
    const std::int64_t height = claims.dataWindow[3] - claims.dataWindow[1] + 1;
    const ExrCompression compression = exrCompression(claims.compression);
    std::int64_t blockWidth = width;
    std::int64_t blockHeight = compression.rowsPerBlock;
    if (claims.tiled) {
        if (claims.tileWidth <= 0 || claims.tileHeight <= 0) {
            throw damaged("tiles of " +
                          sizeText(static_cast<double>(claims.tileWidth),
                                   static_cast<double>(claims.tileHeight)) +
                          " pixels");
        }
        blockWidth = claims.tileWidth;
        blockHeight = claims.tileHeight;
    }
    const double across = std::ceil(static_cast<double>(width) / static_cast<double>(blockWidth));
    const double down = std::ceil(static_cast<double>(height) / static_cast<double>(blockHeight));
    if (across * down * 8.0 > static_cast<double>(bytes)) {
        throw damaged(
            "data window of " + sizeText(static_cast<double>(width), static_cast<double>(height)) +
            " pixels in " + std::to_string(static_cast<long long>(across * down)) +
            " blocks, more offsets than the file's " + std::to_string(bytes) + " bytes hold");
    }
    // A deep part also stores a sample count, 4 bytes, for every pixel.
    const double bytesPerPixel = claims.bytesPerPixel + (claims.deep ? 4.0 : 0.0);
    const double most = mostPixelBytesHeldBy(bytes, compression.name, false);
    const std::string held = ", more than the file's " + std::to_string(bytes) +
                             " bytes can hold (" + compression.name + ")";
    const std::string window = "data window of " +
                               sizeText(static_cast<double>(width), static_cast<double>(height)) +
                               " pixels";
    if (static_cast<double>(width) * static_cast<double>(height) * bytesPerPixel > most) {
        throw damaged(window + held);
    }
    const double block =
        static_cast<double>(blockWidth) * static_cast<double>(blockHeight) * bytesPerPixel;
    if (block > std::max(most, kUnbackedBlockBytes)) {
        throw damaged(window + " in blocks of " +
                      sizeText(static_cast<double>(blockWidth), static_cast<double>(blockHeight)) +
                      held);
    }
}

void refuseUnbackedExrHeader(const std::string &path, std::FILE *file, const unsigned char *start,
                             std::uint64_t bytes)
{
    const bool multiPart = (start[5] & 0x10) != 0;
    const bool singlePartTiled = (start[5] & 0x02) != 0;
    const bool singlePartDeep = (start[5] & 0x08) != 0;
    const std::size_t longestName = (start[5] & 0x04) != 0 ? 255 : 31;
    auto damaged = [&](const std::string &what) {
        return RunError(path + ": damaged EXR header (" + what + ")");
    };
    std::string name;
    std::string type;
    for (bool firstHeader = true;; firstHeader = false) {
        // Each header is a list of attributes closed by an empty name; several parts end with
        // an empty header.
        int attributes = 0;
        ExrPartClaims claims;
        claims.tiled = !multiPart && singlePartTiled;
        claims.deep = !multiPart && singlePartDeep;
        for (;; ++attributes) {
            if (!readExrName(file, longestName, name)) {
                throw damaged("truncated file or overlong attribute name");
            }
            if (name.empty()) {
                break;
            }
            unsigned char size[4];
            if (!readExrName(file, longestName, type) ||
                std::fread(size, 1, sizeof size, file) != sizeof size) {
                throw damaged("truncated file or overlong attribute type");
            }
            const std::uint32_t length = std::uint32_t{size[0]} | (std::uint32_t{size[1]} << 8) |
                                         (std::uint32_t{size[2]} << 16) |
                                         (std::uint32_t{size[3]} << 24);
            const long at = std::ftell(file);
            // OpenEXR allocates an attribute's stated size before it reads a byte of it.
            if (at < 0 || length > 0x7FFFFFFFu || static_cast<std::uint64_t>(at) + length > bytes) {
                throw damaged("attribute " + name + " claims " + std::to_string(length) +
                              " bytes past the end of the file");
            }
            const std::size_t fixed = fixedExrAttributeSize(type);
            if (fixed != 0 && fixed != length) {
                throw damaged("attribute " + name + " of type " + type + " stated as " +
                              std::to_string(length) + " bytes");
            }
            const bool channels = type == "chlist" && name == "channels";
            double ignoredBytes = 0.0;
            if ((type == "chlist" &&
                 !exrChannelListFits(file, length, longestName,
                                     channels ? claims.bytesPerPixel : ignoredBytes)) ||
                (type == "preview" && !exrPreviewFits(file, length))) {
                throw damaged("attribute " + name + " does not fit its stated size");
            }
            if (std::fseek(file, at, SEEK_SET) != 0) {
                throw damaged("truncated file");
            }
            readExrPixelClaim(file, name, type, length, claims);
            if (std::fseek(file, at + static_cast<long>(length), SEEK_SET) != 0) {
                throw damaged("truncated file");
            }
        }
        if (attributes > 0) {
            refuseUnbackedExrPixels(path, claims, bytes);
        }
        if (!multiPart || (attributes == 0 && !firstHeader)) {
            return;
        }
    }
}

} // namespace

void refuseUnbackedHeader(const std::string &path)
{
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    unsigned char head[36] = {};
    const std::size_t got = file ? std::fread(head, 1, sizeof head, file.get()) : 0;
    const std::uint64_t bytes = got > 0 ? fileSize(path) : 0;
    if (got >= 8 && head[0] == 0x76 && head[1] == 0x2F && head[2] == 0x31 && head[3] == 0x01) {
        if (std::fseek(file.get(), 8, SEEK_SET) == 0) {
            refuseUnbackedExrHeader(path, file.get(), head, bytes);
        }
    } else if (got == sizeof head &&
               (std::memcmp(head, "SDPX", 4) == 0 || std::memcmp(head, "XPDS", 4) == 0)) {
        refuseUnbackedDpxHeader(path, head, bytes);
    }
}

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
    if (contains(compression, "pxr24")) {
        // 32-bit floats lose a byte before deflate sees them.
        return bytes * kDeflateRatio * 4.0 / 3.0;
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
    refuseUncountableMovie(path, rate != nullptr ? rate->get<int>(0) : 0,
                           rate != nullptr ? rate->get<int>(1) : 0);
}

void refuseUncountableMovie(const std::string &path, int rateNumerator, int rateDenominator)
{
    if (rateNumerator > 0 && rateDenominator > 0) {
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
