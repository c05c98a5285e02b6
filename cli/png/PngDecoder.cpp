#include "cli/png/PngDecoder.h"

#include <cstring>
#include <new>

#include <libdeflate.h>

#include "cli/core/CliError.h"
#include "cli/png/PngFormat.h"
#include "cli/png/PngRowFilters.h"

namespace framemeld::cli::png {
namespace {

// Deflate cannot expand data by more than 1032 to 1; a header promising more pixels than that
// from the data present is refused before the rows are allocated.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kInflateSlack = 1024;

[[noreturn]] void fail(const std::string &name, const std::string &reason)
{
    throw RunError(name + ": cannot decode the frame (" + reason + ")");
}

} // namespace

void PngDecoder::DecompressorDeleter::operator()(libdeflate_decompressor *decompressor) const
{
    libdeflate_free_decompressor(decompressor);
}

PngDecoder::PngDecoder() : decompressor_(libdeflate_alloc_decompressor())
{
    if (!decompressor_) {
        throw std::bad_alloc();
    }
}

PngDecoder::~PngDecoder() = default;
PngDecoder::PngDecoder(PngDecoder &&) noexcept = default;
PngDecoder &PngDecoder::operator=(PngDecoder &&) noexcept = default;

PngInfo PngDecoder::decodeBytes(const std::uint8_t *data, std::size_t size, const std::string &name,
                                const PngRowCallback &onRow)
{
    if (data == nullptr || !format::hasSignature(data, size)) {
        fail(name, "not a PNG file");
    }

    PngInfo info;
    bool haveHeader = false;
    const std::uint8_t *firstIdat = nullptr;
    std::size_t idatBytes = 0;
    int idatChunks = 0;
    bool idatClosed = false; // a chunk other than IDAT followed the image data
    joined_.clear();

    std::size_t pos = format::kSignatureSize;
    for (;;) {
        if (size - pos < format::kChunkOverhead) {
            fail(name, "truncated file");
        }
        const std::uint32_t length = format::readBigEndian32(data + pos);
        const std::uint8_t *type = data + pos + 4;
        const std::uint8_t *body = type + 4;
        if (length > format::kMaxChunkLength) {
            fail(name, "damaged chunk length");
        }
        if (length > size - pos - format::kChunkOverhead) {
            fail(name, "truncated file");
        }
        if (format::chunkCrc(type, length) != format::readBigEndian32(body + length)) {
            fail(name, "CRC mismatch in " + format::chunkName(type) + " chunk");
        }
        pos += format::kChunkOverhead + length;

        if (!haveHeader) {
            if (!format::isChunk(type, "IHDR") || length != format::kHeaderLength) {
                fail(name, "no IHDR chunk first");
            }
            const format::HeaderCheck check = format::checkHeader(body);
            if (!check.invalid.empty()) {
                fail(name, check.invalid);
            }
            if (!check.unsupported.empty()) {
                fail(name, "not handled here: " + check.unsupported);
            }
            info = check.info;
            haveHeader = true;
            continue;
        }
        if (format::isChunk(type, "IEND")) {
            break;
        }
        if (format::isChunk(type, "IDAT")) {
            if (idatClosed) {
                fail(name, "IDAT chunks not consecutive");
            }
            if (idatChunks == 0) {
                firstIdat = body;
            } else {
                if (idatChunks == 1) {
                    joined_.assign(firstIdat, firstIdat + idatBytes);
                }
                joined_.insert(joined_.end(), body, body + length);
            }
            idatBytes += length;
            ++idatChunks;
            continue;
        }
        if (idatChunks > 0) {
            idatClosed = true;
        }
        const format::ChunkCheck kind = format::checkChunkKind(type, info);
        if (!kind.invalid.empty()) {
            fail(name, kind.invalid);
        }
        if (!kind.unsupported.empty()) {
            fail(name, "not handled here: " + kind.unsupported);
        }
    }
    if (idatChunks == 0) {
        fail(name, "no image data");
    }

    const std::size_t expected = format::filteredImageBytes(info);
    if (expected > std::uint64_t{idatBytes} * kMaxInflateRatio + kInflateSlack) {
        fail(name, "compressed data too short");
    }
    filtered_.resize(expected);
    const std::uint8_t *compressed = idatChunks == 1 ? firstIdat : joined_.data();
    const libdeflate_result result = libdeflate_zlib_decompress(
        decompressor_.get(), compressed, idatBytes, filtered_.data(), expected, nullptr);
    switch (result) {
    case LIBDEFLATE_SUCCESS: break;
    case LIBDEFLATE_SHORT_OUTPUT: fail(name, "compressed data too short");
    case LIBDEFLATE_INSUFFICIENT_SPACE: fail(name, "compressed data too long");
    default: fail(name, "compressed data corrupt");
    }

    const std::size_t rowBytes = format::rowBytes(info);
    const bool wide = info.bitDepth == 16;
    const std::size_t bytesPerPixel = static_cast<std::size_t>(info.channels) * (wide ? 2 : 1);
    if (zeroRow_.size() < rowBytes) {
        zeroRow_.resize(rowBytes); // only ever read: stays zero
    }
    if (wide && wideRow_.size() < rowBytes / 2) {
        wideRow_.resize(rowBytes / 2);
    }

    const std::uint8_t *prev = zeroRow_.data();
    for (int y = 0; y < info.height; ++y) {
        std::uint8_t *line = filtered_.data() + static_cast<std::size_t>(y) * (rowBytes + 1);
        std::uint8_t *row = line + 1;
        if (!unfilterRow(line[0], bytesPerPixel, row, prev, rowBytes)) {
            fail(name,
                 "unknown row filter " + std::to_string(line[0]) + " in row " + std::to_string(y));
        }
        if (wide) {
            std::uint16_t *out = wideRow_.data();
            const std::size_t samples = rowBytes / 2;
            for (std::size_t i = 0; i < samples; ++i) {
                out[i] = static_cast<std::uint16_t>((row[2 * i] << 8) | row[2 * i + 1]);
            }
            onRow(y, out);
        } else {
            onRow(y, row);
        }
        prev = row;
    }
    return info;
}

} // namespace framemeld::cli::png
