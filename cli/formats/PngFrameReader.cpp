#include "cli/formats/PngFrameReader.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/core/CliError.h"
#include "cli/files/FileHandle.h"
#include "cli/pixels/PixelConversion.h"
#include "cli/png/PngFormat.h"
#include "cli/png/PngProbe.h"

namespace framemeld::cli {
namespace {

// Rows between looks at the cancel flag: a 1080p frame is decoded in about 20 ms.
constexpr int kRowsPerCancelCheck = 64;

// Reads the whole file when it starts with the PNG signature. False (and nothing read beyond the
// signature) for any other file. A file that cannot be opened or read fails here, with the
// system's reason, whatever its format: no other reader would say it better.
bool readPngFile(const std::string &path, std::vector<std::uint8_t> &bytes)
{
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw RunError(path + ": cannot open the frame (" + std::strerror(errno) + ")");
    }
    bytes.resize(png::format::kSignatureSize);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        !png::format::hasSignature(bytes.data(), bytes.size())) {
        if (std::ferror(file.get()) != 0) {
            throw RunError(path + ": cannot read the frame (" + std::strerror(errno) + ")");
        }
        return false;
    }
    const std::string failure = readWholeFile(file.get(), bytes);
    if (!failure.empty()) {
        throw RunError(path + ": cannot read the frame (" + failure + ")");
    }
    return true;
}

// Damaged and unreadable PNGs stop here with the probe's reason; valid ones the codec leaves
// alone go on to the general reader.
void refuseBrokenPng(const std::string &path, const png::PngProbe &probe)
{
    if (probe.support == png::PngSupport::Damaged) {
        throw RunError(path + ": cannot decode the frame (" + probe.reason + ")");
    }
    if (probe.support == png::PngSupport::Unreadable) {
        throw RunError(path + ": cannot open the frame (" + probe.reason + ")");
    }
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
    refuseBrokenPng(path, probe);
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
    refuseBrokenPng(path, probe);
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

} // namespace framemeld::cli
