#include "cli/PngFootage.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "cli/CliError.h"
#include "cli/PixelConversion.h"
#include "cli/png/PngFormat.h"
#include "cli/png/PngProbe.h"
#include "cli/png/PngWriter.h"

namespace framemeld::cli {
namespace {

// Rows between looks at the cancel flag: a 1080p frame is decoded in about 20 ms.
constexpr int kRowsPerCancelCheck = 64;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the whole file when it starts with the PNG signature. False (and nothing read beyond the
// signature) for any other file, and for a file that cannot be read: the general reader then
// reports it in its own words.
bool readPngFile(const std::string &path, std::vector<std::uint8_t> &bytes)
{
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    bytes.resize(png::format::kSignatureSize);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        !png::format::hasSignature(bytes.data(), bytes.size())) {
        return false;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        return false;
    }
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

template <typename FileSample, typename Host>
void rowToHost(const void *row, const ChannelMap &map, int width, const FrameTarget &target, int y)
{
    fileRowToHost(static_cast<const FileSample *>(row), map, width,
                  reinterpret_cast<Host *>(target.pixels + y * target.rowBytes));
}

template <typename FileSample>
void (*rowConverter(Depth depth))(const void *, const ChannelMap &, int, const FrameTarget &, int)
{
    switch (depth) {
    case Depth::Bits8: return rowToHost<FileSample, std::uint8_t>;
    case Depth::Bits16: return rowToHost<FileSample, std::uint16_t>;
    case Depth::Float32: break;
    }
    return rowToHost<FileSample, float>;
}

} // namespace

bool hasPngExtension(const std::string &path)
{
    if (path.size() < 4) {
        return false;
    }
    std::string ext = path.substr(path.size() - 4);
    for (char &c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext == ".png";
}

std::optional<FootageFormat> probePngFootage(const std::string &path)
{
    const png::PngProbe probe = png::probePng(path);
    if (probe.support != png::PngSupport::Decodable) {
        return std::nullopt;
    }
    FootageFormat format;
    format.width = probe.info.width;
    format.height = probe.info.height;
    format.channels = probe.info.channels;
    format.hasAlpha = probe.info.hasAlpha;
    // PNG stores colour unpremultiplied, alpha or not, and OpenImageIO says so for every PNG.
    format.unassociatedAlpha = true;
    format.naturalDepth = probe.info.bitDepth == 16 ? Depth::Bits16 : Depth::Bits8;
    format.sampleType = probe.info.bitDepth == 16 ? "uint16" : "uint8";
    return format;
}

bool PngFrameReader::decode(const std::string &path, const DecodeRequest &request,
                            const FrameTarget &target)
{
    if (!readPngFile(path, file_)) {
        return false;
    }
    // The verdict comes from the bytes about to be decoded, so a file replaced in between
    // cannot slip a different shape past it.
    const png::PngProbe probe = png::probePngBytes(file_.data(), file_.size());
    if (probe.support != png::PngSupport::Decodable) {
        return false;
    }
    checkFrameSize(path, probe.info.width, probe.info.height, request.format);

    const int alpha = probe.info.hasAlpha ? probe.info.channels - 1 : -1;
    const ChannelMap map = channelMapFor(probe.info.channels, alpha);
    const auto convert = probe.info.bitDepth == 16 ? rowConverter<std::uint16_t>(request.depth)
                                                   : rowConverter<std::uint8_t>(request.depth);
    const int width = probe.info.width;
    decoder_.decodeBytes(file_.data(), file_.size(), path, [&](int y, const void *row) {
        if (y % kRowsPerCancelCheck == 0 && request.cancelled()) {
            throw CancelledError();
        }
        convert(row, map, width, target, y);
    });
    return true;
}

bool writesPngPlate(const std::string &path, Depth depth)
{
    return hasPngExtension(path) && depth != Depth::Float32;
}

void writePngPlate(const std::string &file, const std::string &shownAs, const PlateImage &plate,
                   const PlateFileOptions &options)
{
    const int channels = options.withAlpha ? 4 : 3;
    const bool wide = plate.depth == Depth::Bits16;
    try {
        png::writePng(
            file, plate.width, plate.height, channels, wide ? 16 : 8, [&](int y, void *row) {
                const unsigned char *host = plate.pixels + y * plate.rowBytes;
                if (wide) {
                    hostRowToFile(reinterpret_cast<const std::uint16_t *>(host), plate.width,
                                  channels, static_cast<std::uint16_t *>(row));
                } else {
                    hostRowToFile(host, plate.width, channels, static_cast<std::uint8_t *>(row));
                }
            });
    } catch (const RunError &error) {
        // The codec names the file it was given, the temporary stand-in; name the user's.
        const std::string message = error.what();
        if (message.compare(0, file.size(), file) == 0) {
            throw RunError(shownAs + message.substr(file.size()));
        }
        throw;
    }
}

} // namespace framemeld::cli
