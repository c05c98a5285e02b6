#include "cli/oiio/OiioPlateWriter.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/oiio/OiioFdProxy.h"
#include "cli/oiio/OiioFrameMetadata.h"
#include "cli/oiio/OiioMessages.h"
#include "cli/pixels/AlphaAssociation.h"
#include "cli/pixels/PixelConversion.h"

namespace framemeld::cli::oiio {
namespace {

constexpr int kRowsPerChunk = 64;

OIIO::TypeDesc nativeType(Depth depth)
{
    switch (depth) {
    case Depth::Bits8: return OIIO::TypeDesc::UINT8;
    case Depth::Bits16: return OIIO::TypeDesc::UINT16;
    case Depth::Float32: return OIIO::TypeDesc::FLOAT;
    }
    return OIIO::TypeDesc::FLOAT;
}

// The render depth where the format holds it, else the nearest it offers.
OIIO::TypeDesc plateType(const std::string &formatName, Depth depth)
{
    if (formatName == "jpeg") {
        return OIIO::TypeDesc::UINT8;
    }
    if (formatName == "png" || formatName == "dpx") {
        return depth == Depth::Bits8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    }
    if (formatName == "openexr") {
        // Half holds every 8-bit level exactly; the 16-bit host scale needs float.
        return depth == Depth::Bits8 ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT;
    }
    return nativeType(depth); // TIFF and the rest; the writer picks its nearest if it must
}

// The samples asked for by oiiotool's name; `bits` is set for the integer widths DPX packs.
OIIO::TypeDesc typeNamed(const std::string &name, int &bits)
{
    bits = 0;
    if (name == "uint8") {
        return OIIO::TypeDesc::UINT8;
    }
    if (name == "uint10" || name == "uint12") {
        bits = name == "uint10" ? 10 : 12;
        return OIIO::TypeDesc::UINT16;
    }
    if (name == "uint16") {
        return OIIO::TypeDesc::UINT16;
    }
    if (name == "half") {
        return OIIO::TypeDesc::HALF;
    }
    return OIIO::TypeDesc::FLOAT;
}

// How a format declares its alpha. EXR holds premultiplied colour and PNG straight colour, and
// their readers take it so whatever a file says; every other format is told what the plate holds
// (TIFF tags it, the rest as their writers do).
enum class Association { Premultiplied, Straight, AsHeld };

Association associationOf(const std::string &formatName)
{
    if (formatName == "openexr") {
        return Association::Premultiplied;
    }
    if (formatName == "png") {
        return Association::Straight;
    }
    return Association::AsHeld;
}

// Host row -> file samples. At the render's own type the values go over exactly (16 bits with
// the host/file scale mapping); for any other stored type they go as floats with 1.0 as full
// scale, and OpenImageIO rounds them into the stored type.
void convertRow(const PlateImage &plate, int y, int channels, bool exact, std::uint8_t *out8,
                std::uint16_t *out16, float *outFloat)
{
    const unsigned char *row = plate.pixels + y * plate.rowBytes;
    const auto width = static_cast<std::size_t>(plate.width);
    switch (plate.depth) {
    case Depth::Bits8: {
        const auto *host = reinterpret_cast<const std::uint8_t *>(row);
        if (exact) {
            hostRowToFile(host, plate.width, channels, out8);
            return;
        }
        std::vector<float> asFloat(width * 4);
        for (std::size_t i = 0; i < asFloat.size(); ++i) {
            asFloat[i] = host[i] / 255.0f;
        }
        hostRowToFile(asFloat.data(), plate.width, channels, outFloat);
        return;
    }
    case Depth::Bits16: {
        const auto *host = reinterpret_cast<const std::uint16_t *>(row);
        if (exact) {
            hostRowToFile(host, plate.width, channels, out16);
            return;
        }
        std::vector<float> asFloat(width * 4);
        for (std::size_t i = 0; i < asFloat.size(); ++i) {
            asFloat[i] = static_cast<float>(host[i]) / static_cast<float>(kHostFullScale16);
        }
        hostRowToFile(asFloat.data(), plate.width, channels, outFloat);
        return;
    }
    case Depth::Float32:
        hostRowToFile(reinterpret_cast<const float *>(row), plate.width, channels, outFloat);
        return;
    }
}

// OpenImageIO's text, with the descriptor's name (when the library opened the file through it)
// replaced by the file the user asked for, and never empty.
std::string reasonOf(const std::string &message, int fd, const std::string &shownAs)
{
    std::string reason = cleanOiioMessage(message);
    const std::string stand = descriptorPath(fd);
    for (std::size_t pos = reason.find(stand); pos != std::string::npos;
         pos = reason.find(stand, pos + shownAs.size())) {
        reason.replace(pos, stand.size(), shownAs);
    }
    return reason.empty() ? "the image library gave no reason" : reason;
}

// A failed system call says more than the library's wording of it ("No space left on device").
[[noreturn]] void failWrite(const std::string &shownAs, const FdProxy &proxy,
                            const std::string &message, int fd)
{
    const std::string reason =
        proxy.failure() != 0 ? std::strerror(proxy.failure()) : reasonOf(message, fd, shownAs);
    throw RunError(shownAs + ": cannot write the output (" + reason + ")");
}

// Some writers report no failed write at all (FITS and SGI, through files of their own), so the
// file is read back whole through the library before it may replace anything.
void readBack(int fd, const std::string &formatName, const std::string &shownAs,
              const PlateImage &plate)
{
    auto fail = [&](const std::string &reason) {
        throw RunError(shownAs + ": cannot write the output (the written file does not read " +
                       "back: " + reason + ")");
    };
    auto input = OIIO::ImageInput::create(formatName);
    if (!input) {
        fail(reasonOf(OIIO::geterror(), fd, shownAs));
    }
    // Readers take only the library's own proxies: the file's bytes go through its memory reader.
    FdProxy file(fd, shownAs, FdProxy::Read);
    std::vector<unsigned char> bytes(file.size());
    if (file.pread(bytes.data(), bytes.size(), 0) != bytes.size()) {
        fail(file.failure() != 0 ? std::strerror(file.failure()) : "it shrank");
    }
    OIIO::Filesystem::IOMemReader proxy(bytes.data(), bytes.size());
    std::string name = shownAs;
    if (input->supports("ioproxy")) {
        input->set_ioproxy(&proxy);
    } else {
        name = descriptorPath(fd);
        bytes = {};
    }
    OIIO::ImageSpec spec;
    if (!input->open(name, spec)) {
        fail(reasonOf(input->geterror(), fd, shownAs));
    }
    if (spec.width != plate.width || spec.height != plate.height) {
        fail("it is " + std::to_string(spec.width) + "x" + std::to_string(spec.height));
    }
    const bool tiled = spec.tile_width > 0 && spec.tile_height > 0;
    const int bandRows = tiled ? spec.tile_height : kRowsPerChunk;
    const auto rowBytes = spec.scanline_bytes(true);
    std::vector<unsigned char> rows(rowBytes * static_cast<std::size_t>(bandRows));
    for (int y0 = 0; y0 < spec.height; y0 += bandRows) {
        const int y1 = std::min(spec.height, y0 + bandRows);
        const bool read = tiled ? input->read_tiles(0, 0, 0, spec.width, y0, y1, 0, 1, 0,
                                                    spec.nchannels, OIIO::TypeUnknown, rows.data())
                                : input->read_scanlines(0, 0, y0, y1, 0, 0, spec.nchannels,
                                                        OIIO::TypeUnknown, rows.data());
        if (!read) {
            fail(reasonOf(input->geterror(), fd, shownAs));
        }
    }
    input->close();
}

// OpenImageIO's pseudo formats ("null" discards, "term" draws on the terminal), Zfile (one
// channel of depth only), HEIF (its encoder never returns from a failing write), IFF (a writer
// whose write failed writes again through a cleared stream when it is destroyed, and crashes) and
// JPEG-2000 (written through the descriptor, its files never read back: "Expected a SOC marker")
// make no plate.
bool offered(const std::string &formatName)
{
    return formatName != "null" && formatName != "term" && formatName != "zfile" &&
           formatName != "heif" && formatName != "iff" && formatName != "jpeg2000";
}

} // namespace

bool writesFormatOf(const std::string &path)
{
    auto output = OIIO::ImageOutput::create(path);
    if (output) {
        return offered(output->format_name());
    }
    OIIO::geterror(); // not kept: the caller words the failure
    return false;
}

void writePlate(int fd, const std::string &shownAs, const PlateImage &plate,
                const PlateFileOptions &options)
{
    // The proxy outlives the writer: a writer that failed may still write from its destructor
    // (IFF's close() flushes its tiles again) and must find the proxy there.
    FdProxy proxy(fd, shownAs, FdProxy::Write);
    auto output = OIIO::ImageOutput::create(shownAs);
    if (!output || !offered(output->format_name())) {
        throw RunError(shownAs + ": unknown image format for the output (" +
                       cleanOiioMessage(OIIO::geterror()) + ")");
    }
    const std::string formatName = output->format_name();
    const bool withAlpha = !options.singleChannel && options.withAlpha && output->supports("alpha");
    const int channels = options.singleChannel ? 1 : withAlpha ? 4 : 3;
    int packedBits = 0;
    const OIIO::TypeDesc stored = options.dataType.empty()
                                      ? plateType(formatName, plate.depth)
                                      : typeNamed(options.dataType, packedBits);

    OIIO::ImageSpec spec(plate.width, plate.height, channels, stored);
    // The frame's attributes first: what the writer sets below about the file itself wins.
    applyPlateMetadata(options.metadata, spec);
    if (packedBits > 0) {
        spec.attribute("oiio:BitsPerSample", packedBits);
    }
    const Association association = associationOf(formatName);
    const bool premultiply =
        withAlpha && options.unassociatedAlpha && association == Association::Premultiplied;
    const bool unpremultiply =
        withAlpha && !options.unassociatedAlpha && association == Association::Straight;
    const bool straightInFile =
        withAlpha && (association == Association::Straight ||
                      (association == Association::AsHeld && options.unassociatedAlpha));
    if (straightInFile) {
        // What the samples handed over are: the writer is not to divide alpha out again.
        spec.attribute("oiio:UnassociatedAlpha", 1);
    }
    std::string compression = options.compression;
    if (compression.empty() && formatName == "tiff") {
        compression = "zip:4"; // the plate storage's default, for callers that name none
    }
    if (formatName == "png" && compression.rfind("deflate", 0) == 0) {
        const auto colon = compression.find(':');
        spec.attribute("png:compressionLevel",
                       colon == std::string::npos ? 6 : std::stoi(compression.substr(colon + 1)));
    } else if (!compression.empty()) {
        spec.attribute("compression", compression);
    }

    // Through the descriptor: the proxy where the writer takes one (it is then given the
    // user's name, which some writers read the flavour from: .j2k is a bare codestream), else
    // the descriptor's own name.
    std::string name = shownAs;
    if (output->supports("ioproxy")) {
        output->set_ioproxy(&proxy);
        if (formatName == "dpx") {
            // The DPX header records the name it is opened by: the file's own name, not the
            // folder it was given in, so that the same plate is the same bytes anywhere.
            name = name.substr(name.find_last_of('/') + 1);
        }
    } else {
        name = descriptorPath(fd);
    }
    if (!output->open(name, spec)) {
        failWrite(shownAs, proxy, output->geterror(), fd);
    }

    // Alpha changes association in float, once, before the library rounds to the stored type.
    const bool exact =
        stored == nativeType(plate.depth) && packedBits == 0 && !premultiply && !unpremultiply;
    const OIIO::TypeDesc sent = exact ? nativeType(plate.depth) : OIIO::TypeDesc::FLOAT;
    const auto rowSamples =
        static_cast<std::size_t>(plate.width) * static_cast<std::size_t>(channels);
    // Some writers (IFF) take only tiles: then whole rows of tiles go at a time.
    const bool tiled = output->spec().tile_width > 0 && output->spec().tile_height > 0;
    const int bandRows = tiled ? output->spec().tile_height : kRowsPerChunk;
    const auto chunkRows = static_cast<std::size_t>(std::min(bandRows, plate.height));
    std::vector<std::uint8_t> chunk8(sent == OIIO::TypeDesc::UINT8 ? rowSamples * chunkRows : 0);
    std::vector<std::uint16_t> chunk16(sent == OIIO::TypeDesc::UINT16 ? rowSamples * chunkRows : 0);
    std::vector<float> chunkFloat(sent == OIIO::TypeDesc::FLOAT ? rowSamples * chunkRows : 0);

    for (int y0 = 0; y0 < plate.height; y0 += bandRows) {
        const int y1 = std::min(plate.height, y0 + bandRows);
        for (int y = y0; y < y1; ++y) {
            const std::size_t offset = static_cast<std::size_t>(y - y0) * rowSamples;
            convertRow(plate, y, channels, exact, chunk8.data() + (chunk8.empty() ? 0 : offset),
                       chunk16.data() + (chunk16.empty() ? 0 : offset),
                       chunkFloat.data() + (chunkFloat.empty() ? 0 : offset));
            if (premultiply) {
                premultiplyRow(chunkFloat.data() + offset, plate.width);
            } else if (unpremultiply) {
                unpremultiplyRow(chunkFloat.data() + offset, plate.width);
            }
        }
        const void *data = sent == OIIO::TypeDesc::UINT8 ? static_cast<const void *>(chunk8.data())
                           : sent == OIIO::TypeDesc::UINT16
                               ? static_cast<const void *>(chunk16.data())
                               : static_cast<const void *>(chunkFloat.data());
        const bool written = tiled ? output->write_tiles(0, plate.width, y0, y1, 0, 1, sent, data)
                                   : output->write_scanlines(y0, y1, 0, sent, data);
        if (!written || proxy.failure() != 0) {
            const std::string failure = output->geterror();
            output->close();
            failWrite(shownAs, proxy, failure, fd);
        }
    }
    if (!output->close() || proxy.failure() != 0) {
        failWrite(shownAs, proxy, output->geterror(), fd);
    }
    readBack(fd, formatName, shownAs, plate);
}

} // namespace framemeld::cli::oiio
