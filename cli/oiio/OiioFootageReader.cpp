#include "cli/oiio/OiioFootageReader.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/CliError.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/OiioFileKinds.h"
#include "cli/oiio/OiioMessages.h"
#include "cli/pixels/PixelConversion.h"

namespace framemeld::cli::oiio {
namespace {

// Rows decoded per read: keeps the file-side buffer small next to the frames themselves.
constexpr int kRowsPerChunk = 32;

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

// Frames are decoded with their alpha as stored, neither premultiplied nor divided out, so the
// plate's colours are averages of the file's own values.
std::unique_ptr<OIIO::ImageInput> openFrame(const std::string &path)
{
    refuseUnbackedHeader(path);
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        throw RunError(path + ": cannot read the frame (" + cleanOiioMessage(OIIO::geterror()) +
                       ")");
    }
    refuseUnbackedImage(path, *input);
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

// The frame is the display window. Stored pixels (the data window) are placed where they belong
// in it; pixels outside the data window are transparent, and stored pixels outside the display
// window (overscan) are left out.
template <typename File, typename Host>
void decodeRows(OIIO::ImageInput &input, int subimage, const std::string &what,
                const FootageFormat &format, const FrameTarget &target,
                const std::atomic<bool> *cancel)
{
    const OIIO::ImageSpec &spec = input.spec();
    checkFrameSize(what, spec.full_width, spec.full_height, format);
    const ChannelMap map = channelMapFor(spec.nchannels, spec.alpha_channel);
    // Only the channels up to the last one used are read (EXR files may carry many more).
    const int channelEnd = std::max({map.red, map.green, map.blue, map.alpha}) + 1;
    ChannelMap chunkMap = map;
    chunkMap.fileChannels = channelEnd;

    const int x0 = std::max(spec.x, spec.full_x);
    const int x1 = std::min(spec.x + spec.width, spec.full_x + spec.full_width);
    const int top = std::max(spec.y, spec.full_y);
    const int bottom = std::min(spec.y + spec.height, spec.full_y + spec.full_height);
    const bool covers = x0 == spec.full_x && x1 == spec.full_x + spec.full_width &&
                        top == spec.full_y && bottom == spec.full_y + spec.full_height;
    if (!covers) {
        const std::size_t rowBytes = static_cast<std::size_t>(spec.full_width) * 4 * sizeof(Host);
        for (int y = 0; y < spec.full_height; ++y) {
            std::memset(target.pixels + y * target.rowBytes, 0, rowBytes);
        }
    }
    if (x0 >= x1 || top >= bottom) {
        return; // nothing stored inside the frame
    }

    const auto rowSamples =
        static_cast<std::size_t>(spec.width) * static_cast<std::size_t>(channelEnd);
    const auto skipSamples =
        static_cast<std::size_t>(x0 - spec.x) * static_cast<std::size_t>(channelEnd);
    const int hostOffset = (x0 - spec.full_x) * 4;
    const int runWidth = x1 - x0;
    std::vector<File> chunk(rowSamples *
                            static_cast<std::size_t>(std::min(kRowsPerChunk, bottom - top)));
    const OIIO::TypeDesc readType = OIIO::BaseTypeFromC<File>::value;

    for (int y0 = top; y0 < bottom; y0 += kRowsPerChunk) {
        if (cancel != nullptr && cancel->load()) {
            throw CancelledError();
        }
        const int y1 = std::min(bottom, y0 + kRowsPerChunk);
        if (!input.read_scanlines(subimage, 0, y0, y1, spec.z, 0, channelEnd, readType,
                                  chunk.data()) ||
            input.has_error()) {
            throw RunError(what + ": cannot decode the frame (" + readFailure(input) + ")");
        }
        for (int y = y0; y < y1; ++y) {
            const File *fileRow =
                chunk.data() + static_cast<std::size_t>(y - y0) * rowSamples + skipSamples;
            auto *hostRow =
                reinterpret_cast<Host *>(target.pixels + (y - spec.full_y) * target.rowBytes) +
                hostOffset;
            fileRowToHost(fileRow, chunkMap, runWidth, hostRow);
        }
    }
}

// Samples are read as the file's own kind (8-bit, 16-bit, else float) and converted to the
// render depth here, so that every conversion is the one PixelConversion documents.
template <typename File>
void decodeFrom(OIIO::ImageInput &input, int subimage, const std::string &what,
                const DecodeRequest &request, const FrameTarget &target)
{
    switch (request.depth) {
    case Depth::Bits8:
        decodeRows<File, std::uint8_t>(input, subimage, what, request.format, target,
                                       request.cancel);
        break;
    case Depth::Bits16:
        decodeRows<File, std::uint16_t>(input, subimage, what, request.format, target,
                                        request.cancel);
        break;
    case Depth::Float32:
        decodeRows<File, float>(input, subimage, what, request.format, target, request.cancel);
        break;
    }
}

void decodeInto(OIIO::ImageInput &input, int subimage, const std::string &what,
                const DecodeRequest &request, const FrameTarget &target)
{
    switch (depthOf(input.spec().format)) {
    case Depth::Bits8: decodeFrom<std::uint8_t>(input, subimage, what, request, target); break;
    case Depth::Bits16: decodeFrom<std::uint16_t>(input, subimage, what, request, target); break;
    case Depth::Float32: decodeFrom<float>(input, subimage, what, request, target); break;
    }
}

} // namespace

FootageFormat probeFootage(const Clip &clip)
{
    std::unique_ptr<OIIO::ImageInput> input;
    std::string what;
    if (clip.kind == ClipKind::Movie) {
        what = clip.moviePath;
        std::string failure;
        input = openFootageFile(what, failure);
        if (!input) {
            throw RunError(what + ": cannot read the movie (" + failure + ")");
        }
    } else {
        what = clip.frameFiles.at(0);
        input = openFrame(what);
    }
    const OIIO::ImageSpec &spec = input->spec();
    if (spec.full_width <= 0 || spec.full_height <= 0 || spec.nchannels <= 0) {
        throw RunError(what + ": the image has no pixels");
    }
    FootageFormat format;
    format.width = spec.full_width;
    format.height = spec.full_height;
    format.channels = spec.nchannels;
    format.hasAlpha = spec.alpha_channel >= 0 && spec.alpha_channel < spec.nchannels;
    format.unassociatedAlpha = spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0;
    format.naturalDepth = depthOf(spec.format);
    format.sampleType = spec.format.c_str();
    return format;
}

void decodeStill(const std::string &path, const DecodeRequest &request, const FrameTarget &target)
{
    auto input = openFrame(path);
    decodeInto(*input, 0, path, request, target);
}

// One forward pass from the first requested frame to the last. Movie frames depend on the ones
// before them, and OpenImageIO's movie reader answers every jump by seeking back to a key frame
// and decoding forward again; stepping through the frames in between (decoded by the codec, not
// converted or kept here) is many times faster than jumping between sampled frames.
void decodeMovie(const DecodeRequest &request)
{
    const std::string &path = request.clip->moviePath;
    std::string openFailure;
    auto input = openFootageFile(path, openFailure);
    if (!input) {
        throw RunError(path + ": cannot read the movie (" + openFailure + ")");
    }

    std::vector<std::size_t> order(request.frames.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return request.frames[a] < request.frames[b];
    });
    const int first = request.frames[order.front()];
    const int last = request.frames[order.back()];
    const long long span = last - first + 1;

    std::vector<unsigned char> oneRow;
    std::size_t next = 0;
    for (int frame = first; frame <= last; ++frame) {
        if (request.cancelled()) {
            throw CancelledError();
        }
        const std::string what = request.clip->describeFrame(frame);
        if (!input->seek_subimage(frame, 0)) {
            throw RunError(what + ": cannot decode the frame (" +
                           cleanOiioMessage(input->geterror()) + ")");
        }
        if (next < order.size() && request.frames[order[next]] == frame) {
            for (; next < order.size() && request.frames[order[next]] == frame; ++next) {
                const FrameTarget target = request.target(order[next]);
                decodeInto(*input, frame, what, request, target);
                if (request.decoded) {
                    request.decoded(order[next], target);
                }
            }
        } else {
            // One row makes the reader decode the frame, which keeps the pass going forward.
            const OIIO::ImageSpec &spec = input->spec();
            oneRow.resize(static_cast<std::size_t>(spec.width) *
                          static_cast<std::size_t>(spec.nchannels));
            if (!input->read_scanlines(frame, 0, spec.y, spec.y + 1, spec.z, 0, spec.nchannels,
                                       OIIO::TypeDesc::UINT8, oneRow.data())) {
                throw RunError(what + ": cannot decode the frame (" +
                               cleanOiioMessage(input->geterror()) + ")");
            }
        }
        if (request.progress) {
            request.progress(frame - first + 1, span);
        }
    }
}

} // namespace framemeld::cli::oiio
