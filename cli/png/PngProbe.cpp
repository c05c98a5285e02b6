#include "cli/png/PngProbe.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/files/FileHandle.h"
#include "cli/png/PngFormat.h"

namespace framemeld::cli::png {
namespace {

class FileSource {
public:
    explicit FileSource(std::FILE *file) : file_(file) {}
    bool read(std::uint8_t *out, std::size_t size)
    {
        return std::fread(out, 1, size, file_) == size;
    }
    bool skip(std::uint64_t size)
    {
        // Seeks do not notice the end of the file; the next read does.
        if (size > static_cast<std::uint64_t>(LONG_MAX)) {
            return false;
        }
        return std::fseek(file_, static_cast<long>(size), SEEK_CUR) == 0;
    }

private:
    std::FILE *file_;
};

class MemorySource {
public:
    MemorySource(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool read(std::uint8_t *out, std::size_t size)
    {
        if (size > size_ - offset_) {
            return false;
        }
        std::memcpy(out, data_ + offset_, size);
        offset_ += size;
        return true;
    }
    bool skip(std::uint64_t size)
    {
        if (size > size_ - offset_) {
            return false;
        }
        offset_ += static_cast<std::size_t>(size);
        return true;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

PngProbe verdict(PngSupport support, std::string reason)
{
    PngProbe probe;
    probe.support = support;
    probe.reason = std::move(reason);
    return probe;
}

PngProbe leave(std::string reason)
{
    return verdict(PngSupport::LeaveToGeneral, std::move(reason));
}

// Handing a damaged file on would let another reader trust what it claims (libpng allocates a
// text chunk's stated length before it finds the file too short).
PngProbe damaged(std::string reason)
{
    return verdict(PngSupport::Damaged, std::move(reason));
}

template <typename Source> PngProbe probe(Source &source)
{
    std::uint8_t signature[format::kSignatureSize];
    if (!source.read(signature, sizeof signature) ||
        !format::hasSignature(signature, sizeof signature)) {
        return PngProbe{};
    }

    // IHDR: length, name, 13 bytes, CRC, all in one piece.
    std::uint8_t header[8 + format::kHeaderLength + 4];
    if (!source.read(header, sizeof header)) {
        return damaged("truncated file");
    }
    if (format::readBigEndian32(header) != format::kHeaderLength ||
        !format::isChunk(header + 4, "IHDR")) {
        return damaged("no IHDR chunk first");
    }
    if (format::chunkCrc(header + 4, format::kHeaderLength) !=
        format::readBigEndian32(header + 8 + format::kHeaderLength)) {
        return damaged("CRC mismatch in IHDR chunk");
    }
    const format::HeaderCheck check = format::checkHeader(header + 8);
    if (!check.invalid.empty()) {
        return damaged(check.invalid);
    }

    // A PNG for the general reader is walked to its end chunk by chunk lengths (seeks, no reads
    // of the data): its reader trusts those lengths, and one past the end of the file is damage
    // to refuse here rather than a libpng error. The codec checks its own files as it decodes.
    std::string leaveReason = check.unsupported;
    bool seenImageData = false;
    for (;;) {
        std::uint8_t chunk[8];
        if (!source.read(chunk, sizeof chunk)) {
            return damaged("truncated file");
        }
        const std::uint32_t length = format::readBigEndian32(chunk);
        const std::uint8_t *name = chunk + 4;
        if (length > format::kMaxChunkLength) {
            return damaged("damaged chunk length");
        }
        const format::ChunkCheck kind = format::checkChunkKind(name, check.info);
        if (!kind.invalid.empty()) {
            return damaged(kind.invalid);
        }
        if (leaveReason.empty()) {
            leaveReason = kind.unsupported;
        }
        if (format::isChunk(name, "IDAT")) {
            seenImageData = true;
            if (leaveReason.empty()) {
                break;
            }
        }
        if (format::isChunk(name, "IEND")) {
            if (!seenImageData) {
                return damaged("no image data");
            }
            return leave(leaveReason);
        }
        if (!source.skip(std::uint64_t{length} + 4)) {
            return damaged("truncated file");
        }
    }

    PngProbe result;
    result.support = PngSupport::Decodable;
    result.info = check.info;
    return result;
}

} // namespace

PngProbe probePng(const std::string &path)
{
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return verdict(PngSupport::Unreadable, std::strerror(errno));
    }
    FileSource source(file.get());
    return probe(source);
}

PngProbe probePngBytes(const std::uint8_t *data, std::size_t size)
{
    MemorySource source(data, data == nullptr ? 0 : size);
    return probe(source);
}

} // namespace framemeld::cli::png
