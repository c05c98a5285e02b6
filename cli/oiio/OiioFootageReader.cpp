#include "cli/oiio/OiioFootageReader.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/oiio/DpxRowTails.h"
#include "cli/oiio/FileContent.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/OiioFileKinds.h"
#include "cli/oiio/OiioMessages.h"
#include "cli/oiio/movie/MovieProbe.h"
#include "cli/pixels/PixelConversion.h"

namespace framemeld::cli::oiio {
namespace {

// Rows decoded per read: keeps the file-side buffer small next to the frames themselves, yet
// spans several of an EXR file's compressed blocks (16 or 32 rows) for its own threads to share.
constexpr int kRowsPerChunk = 64;

Depth depthOf(OIIO::TypeDesc type)
{
    switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::INT8: return Depth::Bits8;
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::INT16: return Depth::Bits16;
    default: return Depth::Float32; // half, float, double and 32-bit integers
    }
}

// How the samples are read from the file: its own kind where the conversion to the host is ours
// (8-bit, 16-bit, half, float), so that the library never makes a converted copy first.
enum class FileSamples { Bits8, Bits16, Half, Float };

FileSamples fileSamplesOf(const OIIO::ImageSpec &spec, int channelEnd)
{
    // Files whose channels differ in kind (an EXR with half colour and float depth) are read as
    // float, converted by the library.
    for (int c = 0; c < channelEnd && c < static_cast<int>(spec.channelformats.size()); ++c) {
        if (spec.channelformats[static_cast<std::size_t>(c)] != spec.format) {
            return FileSamples::Float;
        }
    }
    if (spec.format == OIIO::TypeDesc::HALF) {
        return FileSamples::Half;
    }
    switch (depthOf(spec.format)) {
    case Depth::Bits8: return FileSamples::Bits8;
    case Depth::Bits16: return FileSamples::Bits16;
    case Depth::Float32: break;
    }
    return FileSamples::Float;
}

// The channel's name without its layer ("beauty.RY" is "RY").
std::string channelBaseName(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

// OpenEXR's luminance/chroma images (Y, RY, BY, usually with the chroma at a quarter of the
// pixels) are no RGB: taken channel by channel they would pass luminance off as red. The colour
// needs OpenEXR's own reconstruction, which this reader does not do, so such files are refused by
// name rather than read wrong.
void refuseLuminanceChroma(const std::string &path, const OIIO::ImageSpec &spec)
{
    std::string chroma;
    for (const std::string &name : spec.channelnames) {
        const std::string base = channelBaseName(name);
        if (base == "RY" || base == "BY") {
            chroma += (chroma.empty() ? "" : ", ") + name;
        }
    }
    if (chroma.empty()) {
        return;
    }
    std::string all;
    for (const std::string &name : spec.channelnames) {
        all += (all.empty() ? "" : ", ") + name;
    }
    throw RunError(path + ": the channels " + all + " hold luminance and chroma (" + chroma +
                   "), not red, green and blue; the tool reads RGB(A) and luminance-only frames, "
                   "so write the frames as RGB");
}

// Frames are decoded with their alpha as stored, neither premultiplied nor divided out, so the
// plate's colours are averages of the file's own values.
std::unique_ptr<OIIO::ImageInput> openFrame(const std::string &path)
{
    refuseUnbackedHeader(path);
    const FileContent content = weighFileContent(path);
    if (content.kind != ContentKind::Still) {
        throw RunError(path + ": cannot read the frame (" +
                       (content.kind == ContentKind::Movie
                            ? "it is a movie, not an image"
                            : "its first bytes are no image format's") +
                       ")");
    }
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::string failure;
    auto input = openStill(path, content.reader, &config, failure);
    if (!input) {
        throw RunError(path + ": cannot read the frame (" + failure + ")");
    }
    refuseUnbackedImage(path, *input);
    refuseLuminanceChroma(path, input->spec());
    return input;
}

// A reader may report a fault (a strip past the end of a cut file) and still return success,
// having filled the rows it could not read with black.
std::string readFailure(OIIO::ImageInput &input)
{
    std::string message = cleanOiioMessage(input.geterror());
    return message.empty() ? std::string("the reader stopped without a reason; the file may be "
                                         "cut short or damaged")
                           : message;
}

// OpenEXR's thread pool gets the run's thread count: left to itself it takes every core of the
// machine, so a run told to use one thread (a farm slot of one core) would use them all. One thread
// means no pool at all (-1): OpenEXR then decodes on the calling thread. The pool is resized at the
// next file opened; the lock holds every decoding thread of a run until the setting is made, so no
// decode of the run overlaps the resize. (OpenImageIO's own pool is left alone: resizing it while
// another thread is inside the library is not safe, and samples are read in the file's own kind, so
// it has no conversions to share out.)
void useThreads(int threads)
{
    static std::mutex lock;
    static int applied = 0;
    const int wanted = std::max(1, threads);
    const std::lock_guard<std::mutex> hold(lock);
    if (applied != wanted) {
        OIIO::attribute("exr_threads", wanted == 1 ? -1 : wanted);
        applied = wanted;
    }
}

// Each decoding thread keeps its chunk buffer from frame to frame, so its pages are touched once.
std::vector<unsigned char> &chunkBuffer(std::size_t bytes)
{
    thread_local std::vector<unsigned char> buffer;
    if (buffer.size() < bytes) {
        buffer.resize(bytes);
    }
    return buffer;
}

// Whole tile rows per chunk for tiled files: a chunk that ends inside a tile row makes the library
// decode those tiles again for the next chunk.
int rowsPerChunk(const OIIO::ImageSpec &spec)
{
    if (spec.tile_width > 0 && spec.tile_height > 0) {
        return std::max(1, kRowsPerChunk / spec.tile_height) * spec.tile_height;
    }
    return kRowsPerChunk;
}

// Data window rows [y0, y1) (file coordinates, whole data window width) of channels
// [0, channelEnd) into `chunk`. Tiled files are read by whole tile rows as tiles: OpenImageIO 2.4
// dies of a division by zero when asked for scanlines of a tiled TIFF.
bool readChunk(OIIO::ImageInput &input, int subimage, int y0, int y1, int channelEnd,
               OIIO::TypeDesc type, void *chunk)
{
    const OIIO::ImageSpec &spec = input.spec();
    // Naming a type, even the file's own, sends OpenImageIO 2.4 through a converting copy of up to
    // 16 MB per call; asking for the file's samples as they are reads them straight into the chunk.
    bool native = type == spec.format;
    for (int c = 0; c < channelEnd && c < static_cast<int>(spec.channelformats.size()); ++c) {
        native = native && spec.channelformats[static_cast<std::size_t>(c)] == spec.format;
    }
    const OIIO::TypeDesc asked = native ? OIIO::TypeDesc(OIIO::TypeDesc::UNKNOWN) : type;
    if (spec.tile_width > 0 && spec.tile_height > 0) {
        return input.read_tiles(subimage, 0, spec.x, spec.x + spec.width, y0, y1, spec.z,
                                spec.z + std::max(1, spec.depth), 0, channelEnd, asked, chunk);
    }
    return input.read_scanlines(subimage, 0, y0, y1, spec.z, 0, channelEnd, asked, chunk);
}

template <typename Read, typename Host> struct RowConverter {
    void operator()(const Read *file, const ChannelMap &map, int width, Host *host) const
    {
        fileRowToHost(file, map, width, host);
    }
};

// Half samples arrive as their bits.
struct HalfBits {
    std::uint16_t bits;
};
template <typename Host> struct RowConverter<HalfBits, Host> {
    void operator()(const HalfBits *file, const ChannelMap &map, int width, Host *host) const
    {
        halfRowToHost(reinterpret_cast<const std::uint16_t *>(file), map, width, host);
    }
};

template <typename Read> OIIO::TypeDesc readTypeOf()
{
    if constexpr (std::is_same_v<Read, HalfBits>) {
        return OIIO::TypeDesc::HALF;
    } else {
        return OIIO::BaseTypeFromC<Read>::value;
    }
}

// The frame is the display window. Stored pixels (the data window) are placed where they belong
// in it; pixels outside the data window are transparent, and stored pixels outside the display
// window (overscan) are left out.
//
// Only the frame's rows [request.rowTop, request.rowEnd()) are decoded, the first of them into the
// target's first row.
template <typename Read, typename Host>
void decodeRows(OIIO::ImageInput &input, int subimage, const std::string &what,
                const DecodeRequest &request, const FrameTarget &target)
{
    static_assert(sizeof(HalfBits) == 2);
    const OIIO::ImageSpec &spec = input.spec();
    checkFrameSize(what, spec.full_width, spec.full_height, request.format);
    const std::atomic<bool> *cancel = request.cancel;
    const int windowTop = spec.full_y + request.rowTop;
    const int windowBottom = spec.full_y + request.rowEnd();
    const ChannelMap map = channelMapFor(spec.nchannels, spec.alpha_channel);
    // Only the channels up to the last one used are read (EXR files may carry many more).
    const int channelEnd = std::max({map.red, map.green, map.blue, map.alpha}) + 1;
    ChannelMap chunkMap = map;
    chunkMap.fileChannels = channelEnd;

    const int x0 = std::max(spec.x, spec.full_x);
    const int x1 = std::min(spec.x + spec.width, spec.full_x + spec.full_width);
    const int top = std::max(spec.y, windowTop);
    const int bottom = std::min(spec.y + spec.height, windowBottom);
    const bool covers = x0 == spec.full_x && x1 == spec.full_x + spec.full_width &&
                        top == windowTop && bottom == windowBottom;
    if (!covers) {
        const std::size_t rowBytes = static_cast<std::size_t>(spec.full_width) * 4 * sizeof(Host);
        for (int y = 0; y < windowBottom - windowTop; ++y) {
            std::memset(target.pixels + y * target.rowBytes, 0, rowBytes);
        }
    }
    if (x0 >= x1 || top >= bottom) {
        return; // nothing stored inside the frame
    }

    // Tiles start at the data window's corner, so a tiled read starts at the tile row holding
    // `top` and may run past `bottom` to the end of its tile row; those rows are read, not kept.
    const bool tiled = spec.tile_width > 0 && spec.tile_height > 0;
    const int readTop = tiled ? spec.y + (top - spec.y) / spec.tile_height * spec.tile_height : top;
    const int readEnd = tiled ? spec.y + spec.height : bottom;
    const int chunkRows = std::min(rowsPerChunk(spec), readEnd - readTop);
    const auto rowSamples =
        static_cast<std::size_t>(spec.width) * static_cast<std::size_t>(channelEnd);
    const auto skipSamples =
        static_cast<std::size_t>(x0 - spec.x) * static_cast<std::size_t>(channelEnd);
    const int hostOffset = (x0 - spec.full_x) * 4;
    const int runWidth = x1 - x0;
    std::vector<unsigned char> &buffer =
        chunkBuffer(rowSamples * static_cast<std::size_t>(chunkRows) * sizeof(Read));
    auto *chunk = reinterpret_cast<Read *>(buffer.data());
    const OIIO::TypeDesc readType = readTypeOf<Read>();
    const RowConverter<Read, Host> convert;
    std::optional<DpxRowTails> dpxTails;
    if constexpr (std::is_same_v<Read, std::uint16_t>) {
        dpxTails = DpxRowTails::of(what, input);
    }

    for (int y0 = readTop; y0 < bottom; y0 += chunkRows) {
        if (cancel != nullptr && cancel->load()) {
            throw CancelledError();
        }
        const int y1 = std::min(readEnd, y0 + chunkRows);
        // A sample a reader skips must not carry the last frame's value, nor stale memory.
        std::memset(buffer.data(), 0,
                    rowSamples * static_cast<std::size_t>(y1 - y0) * sizeof(Read));
        if (!readChunk(input, subimage, y0, y1, channelEnd, readType, chunk) || input.has_error()) {
            throw RunError(what + ": cannot decode the frame (" + readFailure(input) + ")");
        }
        if constexpr (std::is_same_v<Read, std::uint16_t>) {
            if (dpxTails) {
                dpxTails->repair(y0, y1, channelEnd, chunk);
            }
        }
        for (int y = std::max(y0, top); y < std::min(y1, bottom); ++y) {
            const Read *fileRow =
                chunk + static_cast<std::size_t>(y - y0) * rowSamples + skipSamples;
            auto *hostRow =
                reinterpret_cast<Host *>(target.pixels + (y - windowTop) * target.rowBytes) +
                hostOffset;
            convert(fileRow, chunkMap, runWidth, hostRow);
        }
    }
}

// Samples are read as the file's own kind and converted to the render depth here, so that every
// conversion is the one PixelConversion documents.
template <typename Read>
void decodeFrom(OIIO::ImageInput &input, int subimage, const std::string &what,
                const DecodeRequest &request, const FrameTarget &target)
{
    switch (request.depth) {
    case Depth::Bits8:
        decodeRows<Read, std::uint8_t>(input, subimage, what, request, target);
        break;
    case Depth::Bits16:
        decodeRows<Read, std::uint16_t>(input, subimage, what, request, target);
        break;
    case Depth::Float32: decodeRows<Read, float>(input, subimage, what, request, target); break;
    }
}

void decodeInto(OIIO::ImageInput &input, int subimage, const std::string &what,
                const DecodeRequest &request, const FrameTarget &target)
{
    const OIIO::ImageSpec &spec = input.spec();
    const ChannelMap map = channelMapFor(spec.nchannels, spec.alpha_channel);
    const int channelEnd = std::max({map.red, map.green, map.blue, map.alpha}) + 1;
    switch (fileSamplesOf(spec, channelEnd)) {
    case FileSamples::Bits8:
        decodeFrom<std::uint8_t>(input, subimage, what, request, target);
        break;
    case FileSamples::Bits16:
        decodeFrom<std::uint16_t>(input, subimage, what, request, target);
        break;
    case FileSamples::Half: decodeFrom<HalfBits>(input, subimage, what, request, target); break;
    case FileSamples::Float: decodeFrom<float>(input, subimage, what, request, target); break;
    }
}

// Formats whose readers reach any row through an offset table or a fixed row size, without
// decoding the rows above it.
bool hasRowAccess(OIIO::ImageInput &input)
{
    const std::string name = input.format_name();
    return name == "openexr" || name == "tiff" || name == "dpx";
}

// Rows that an EXR block holds, by its compression (OpenEXR's own table).
int exrBlockRows(const std::string &compression)
{
    const std::string method = compression.substr(0, compression.find(':'));
    if (method == "zip" || method == "pxr24") {
        return 16;
    }
    if (method == "piz" || method == "b44" || method == "b44a" || method == "dwaa") {
        return 32;
    }
    if (method == "dwab") {
        return 256;
    }
    return 1; // none, rle, zips
}

int rowBlockOf(OIIO::ImageInput &input)
{
    const OIIO::ImageSpec &spec = input.spec();
    if (spec.tile_width > 0 && spec.tile_height > 0) {
        return spec.tile_height;
    }
    const std::string name = input.format_name();
    if (name == "openexr") {
        return exrBlockRows(spec.get_string_attribute("compression", "none"));
    }
    if (name == "tiff") {
        return std::clamp(spec.get_int_attribute("tiff:RowsPerStrip", 1), 1, spec.height);
    }
    return 1;
}

// The plate has colour and alpha only: a frame with more channels (depth, normals, a second
// layer's colour) is refused by their names rather than rendered without them.
void refuseExtraChannels(const std::string &what, const OIIO::ImageSpec &spec)
{
    const ChannelMap map = channelMapFor(spec.nchannels, spec.alpha_channel);
    std::string extra;
    int count = 0;
    for (int c = 0; c < spec.nchannels; ++c) {
        if (c == map.red || c == map.green || c == map.blue || c == map.alpha) {
            continue;
        }
        const std::string name = c < static_cast<int>(spec.channelnames.size())
                                     ? spec.channelnames[static_cast<std::size_t>(c)]
                                     : "channel " + std::to_string(c);
        if (++count <= 8) {
            extra += (extra.empty() ? "" : ", ") + name;
        }
    }
    if (count > 8) {
        extra += ", ... (" + std::to_string(count) + " in all)";
    }
    if (count > 0) {
        throw RunError(what + ": the frame has channels beyond colour and alpha (" + extra +
                       "), which a plate would not keep; give the colour alone, e.g. oiiotool " +
                       "IN --ch R,G,B,A -o OUT");
    }
}

// The colour space the file names for its values: a string attribute of its own called
// "colorspace" in any case, or ending in ":colorspace" (an EXR header written by a pipeline, a
// tool's own prefix), before OpenImageIO's "oiio:ColorSpace", which is the library's guess from the
// format as much as the file's word (it says "Linear" for every EXR).
std::string colourSpaceTag(const OIIO::ImageSpec &spec)
{
    for (const OIIO::ParamValue &attribute : spec.extra_attribs) {
        if (attribute.type() != OIIO::TypeDesc::STRING) {
            continue;
        }
        std::string name = attribute.name().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const std::string suffix = ":colorspace";
        const bool named = name == "colorspace" ||
                           (name.size() > suffix.size() && name != "oiio:colorspace" &&
                            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
        if (named && !attribute.get_string().empty()) {
            return attribute.get_string();
        }
    }
    return spec.get_string_attribute("oiio:ColorSpace");
}

} // namespace

FootageFormat probeClipFormat(const Clip &clip)
{
    if (clip.kind == ClipKind::Movie) {
        return movie::probeMovieFormat(clip.moviePath, nullptr);
    }
    const std::string what = clip.frameFiles.at(0);
    const std::unique_ptr<OIIO::ImageInput> input = openFrame(what);
    const OIIO::ImageSpec &spec = input->spec();
    if (spec.full_width <= 0 || spec.full_height <= 0 || spec.nchannels <= 0) {
        throw RunError(what + ": the image has no pixels");
    }
    if (clip.kind == ClipKind::ImageSequence) {
        refuseExtraChannels(what, spec);
    }
    FootageFormat format;
    format.width = spec.full_width;
    format.height = spec.full_height;
    format.channels = spec.nchannels;
    format.hasAlpha = spec.alpha_channel >= 0 && spec.alpha_channel < spec.nchannels;
    format.unassociatedAlpha = spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0;
    format.naturalDepth = depthOf(spec.format);
    format.sampleType = spec.format.c_str();
    format.colourSpace = colourSpaceTag(spec);
    format.rowAccess = hasRowAccess(*input);
    format.rowBlock = rowBlockOf(*input);
    return format;
}

void decodeImageFile(const std::string &path, const DecodeRequest &request,
                     const FrameTarget &target)
{
    useThreads(request.threads);
    auto input = openFrame(path);
    decodeInto(*input, 0, path, request, target);
}

} // namespace framemeld::cli::oiio
