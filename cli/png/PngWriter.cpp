#include "cli/png/PngWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include <libdeflate.h>

#include "cli/core/CliError.h"
#include "cli/png/PngFormat.h"
#include "cli/png/PngInfo.h"
#include "cli/png/PngRowFilters.h"

namespace framemeld::cli::png {
namespace {

constexpr int kCompressionLevel = 6;             // zlib's default
constexpr std::size_t kMaxIdatLength = 1u << 20; // keeps every chunk well inside readers' limits

struct CompressorDeleter {
    void operator()(libdeflate_compressor *compressor) const
    {
        libdeflate_free_compressor(compressor);
    }
};

[[noreturn]] void fail(const std::string &name, const std::string &reason)
{
    throw RunError(name + ": cannot write the output (" + reason + ")");
}

// Filter bytes for every row, each led by its filter type, in the order they are stored.
std::vector<std::uint8_t> filteredRows(int width, int height, int channels, int bitDepth,
                                       const PngRowSource &rowSource)
{
    const bool wide = bitDepth == 16;
    const std::size_t samples =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    const std::size_t rowBytes = samples * (wide ? 2 : 1);
    const std::size_t bytesPerPixel = static_cast<std::size_t>(channels) * (wide ? 2 : 1);

    std::vector<std::uint8_t> filtered((rowBytes + 1) * static_cast<std::size_t>(height));
    std::vector<std::uint8_t> rows[2] = {std::vector<std::uint8_t>(rowBytes),
                                         std::vector<std::uint8_t>(rowBytes)};
    std::vector<std::uint16_t> hostRow(wide ? samples : 0);
    std::vector<std::uint8_t> scratch(4 * rowBytes);
    const std::vector<std::uint8_t> zeroRow(rowBytes);

    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> &row = rows[y & 1];
        const std::uint8_t *prev = y == 0 ? zeroRow.data() : rows[(y + 1) & 1].data();
        if (wide) {
            rowSource(y, hostRow.data());
            for (std::size_t i = 0; i < samples; ++i) {
                row[2 * i] = static_cast<std::uint8_t>(hostRow[i] >> 8);
                row[2 * i + 1] = static_cast<std::uint8_t>(hostRow[i]);
            }
        } else {
            rowSource(y, row.data());
        }
        filterRowAdaptive(bytesPerPixel, row.data(), prev, rowBytes,
                          filtered.data() + static_cast<std::size_t>(y) * (rowBytes + 1),
                          scratch.data());
    }
    return filtered;
}

std::vector<std::uint8_t> compress(const std::vector<std::uint8_t> &data, int level)
{
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(level));
    if (!compressor) {
        throw std::bad_alloc();
    }
    std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), data.size()));
    const std::size_t written = libdeflate_zlib_compress(compressor.get(), data.data(), data.size(),
                                                         out.data(), out.size());
    if (written == 0) {
        throw std::logic_error("deflate output exceeded its own bound");
    }
    out.resize(written);
    return out;
}

class ChunkFile {
public:
    ChunkFile(std::FILE *file, const std::string &name) : file_(file), name_(name) {}

    void put(const void *data, std::size_t size)
    {
        if (size > 0 && std::fwrite(data, 1, size, file_) != size) {
            fail(name_, std::strerror(errno));
        }
    }

    void chunk(const char (&name)[5], const std::uint8_t *data, std::size_t length)
    {
        std::uint8_t head[8];
        format::writeBigEndian32(head, static_cast<std::uint32_t>(length));
        std::memcpy(head + 4, name, 4);
        std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
        // libdeflate answers a null buffer with the initial CRC, whatever the running one is.
        if (length > 0) {
            crc = libdeflate_crc32(crc, data, length);
        }
        std::uint8_t tail[4];
        format::writeBigEndian32(tail, crc);
        put(head, sizeof head);
        put(data, length);
        put(tail, sizeof tail);
    }

private:
    std::FILE *file_;
    const std::string &name_;
};

} // namespace

void writePng(std::FILE *file, const std::string &name, int width, int height, int channels,
              int bitDepth, const PngRowSource &rowSource, int level)
{
    if ((channels != 1 && channels != 3 && channels != 4) || (bitDepth != 8 && bitDepth != 16) ||
        width < 1 || height < 1 || static_cast<unsigned>(width) > format::kMaxSide ||
        static_cast<unsigned>(height) > format::kMaxSide) {
        throw std::invalid_argument("writePng: unsupported image shape " + std::to_string(width) +
                                    "x" + std::to_string(height) + ", " + std::to_string(channels) +
                                    " channels, " + std::to_string(bitDepth) + " bits");
    }

    const std::vector<std::uint8_t> compressed =
        compress(filteredRows(width, height, channels, bitDepth, rowSource),
                 level < 0 ? kCompressionLevel : level);

    std::uint8_t header[format::kHeaderLength];
    format::writeBigEndian32(header, static_cast<std::uint32_t>(width));
    format::writeBigEndian32(header + 4, static_cast<std::uint32_t>(height));
    header[8] = static_cast<std::uint8_t>(bitDepth);
    header[9] = static_cast<std::uint8_t>(channels == 4   ? kColourRgba
                                          : channels == 3 ? kColourRgb
                                                          : kColourGrey);
    header[10] = 0; // deflate
    header[11] = 0; // adaptive filtering
    header[12] = 0; // not interlaced

    ChunkFile out(file, name);
    out.put(format::kSignature, format::kSignatureSize);
    out.chunk("IHDR", header, sizeof header);
    for (std::size_t offset = 0; offset < compressed.size(); offset += kMaxIdatLength) {
        out.chunk("IDAT", compressed.data() + offset,
                  std::min(kMaxIdatLength, compressed.size() - offset));
    }
    out.chunk("IEND", nullptr, 0);

    if (std::fflush(file) != 0) {
        fail(name, std::strerror(errno));
    }
}

} // namespace framemeld::cli::png
