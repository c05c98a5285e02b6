#include "cli/oiio/DpxRowTails.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/core/CliError.h"

namespace framemeld::cli::oiio {
namespace {

// Descriptors whose samples the reader hands out in file order (RGB, RGBA, one channel).
bool keepsFileOrder(const std::string &descriptor)
{
    return descriptor == "RGBA" || descriptor == "RGB" || descriptor == "Luma" ||
           descriptor == "Alpha" || descriptor == "Red" || descriptor == "Green" ||
           descriptor == "Blue" || descriptor == "Depth";
}

bool readAt(int fd, std::uint64_t at, unsigned char *bytes, std::size_t count)
{
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, bytes + got, count - got, static_cast<off_t>(at + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::uint16_t DpxRowTails::widen(std::uint32_t tenBits)
{
    // Bit replication, as the reader widens every other sample.
    return static_cast<std::uint16_t>((tenBits << 6) | (tenBits >> 4));
}

std::optional<DpxRowTails> DpxRowTails::of(const std::string &path, const OIIO::ImageInput &input)
{
    const OIIO::ImageSpec &spec = input.spec();
    if (std::string(input.format_name()) != "dpx" ||
        spec.get_int_attribute("oiio:BitsPerSample", 0) != 10 ||
        static_cast<long long>(spec.width) * spec.nchannels % 3 == 0 ||
        !keepsFileOrder(spec.get_string_attribute("dpx:ImageDescriptor", ""))) {
        return std::nullopt;
    }
    const std::string packing = spec.get_string_attribute("dpx:Packing", "");
    if (packing != "Filled, method A" && packing != "Filled, method B") {
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw RunError(path + ": cannot read the frame (" + std::strerror(errno) + ")");
    }
    DpxRowTails tails;
    tails.fd_ = std::shared_ptr<int>(new int(fd), [](int *held) {
        ::close(*held);
        delete held;
    });
    unsigned char head[8];
    if (!readAt(fd, 0, head, sizeof head)) {
        throw RunError(path + ": cannot read the frame (the DPX header is cut short)");
    }
    tails.path_ = path;
    tails.bigEndian_ = std::memcmp(head, "SDPX", 4) == 0;
    tails.methodA_ = packing == "Filled, method A";
    const unsigned char *offset = head + 4;
    tails.pixelsAt_ = tails.bigEndian_
                          ? (std::uint64_t{offset[0]} << 24) | (std::uint64_t{offset[1]} << 16) |
                                (std::uint64_t{offset[2]} << 8) | offset[3]
                          : (std::uint64_t{offset[3]} << 24) | (std::uint64_t{offset[2]} << 16) |
                                (std::uint64_t{offset[1]} << 8) | offset[0];
    const std::uint64_t samples =
        static_cast<std::uint64_t>(spec.width) * static_cast<std::uint64_t>(spec.nchannels);
    tails.rowBytes_ = (samples + 2) / 3 * 4 +
                      static_cast<std::uint64_t>(spec.get_int_attribute("dpx:EndOfLinePadding", 0));
    tails.width_ = spec.width;
    tails.channels_ = spec.nchannels;
    tails.firstRow_ = spec.y;
    return tails;
}

void DpxRowTails::repair(int y0, int y1, int channelEnd, std::uint16_t *chunk) const
{
    const std::uint64_t samples =
        static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(channels_);
    const std::uint64_t firstInWord = samples / 3 * 3;
    const std::uint64_t wordAt = samples / 3 * 4;
    const std::size_t rowSamples =
        static_cast<std::size_t>(width_) * static_cast<std::size_t>(channelEnd);
    for (int y = y0; y < y1; ++y) {
        unsigned char bytes[4];
        if (!readAt(*fd_,
                    pixelsAt_ + static_cast<std::uint64_t>(y - firstRow_) * rowBytes_ + wordAt,
                    bytes, sizeof bytes)) {
            throw RunError(path_ + ": cannot decode the frame (the file ends inside row " +
                           std::to_string(y) + ")");
        }
        const std::uint32_t word =
            bigEndian_ ? (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                             (std::uint32_t{bytes[2]} << 8) | bytes[3]
                       : (std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[2]} << 16) |
                             (std::uint32_t{bytes[1]} << 8) | bytes[0];
        for (std::uint64_t s = firstInWord; s < samples; ++s) {
            const int slot = static_cast<int>(s - firstInWord);
            const int shift = (methodA_ ? 22 : 20) - 10 * slot;
            const auto pixel = static_cast<std::size_t>(s / static_cast<std::uint64_t>(channels_));
            const auto channel = static_cast<int>(s % static_cast<std::uint64_t>(channels_));
            if (channel < channelEnd) {
                chunk[static_cast<std::size_t>(y - y0) * rowSamples +
                      pixel * static_cast<std::size_t>(channelEnd) +
                      static_cast<std::size_t>(channel)] = widen((word >> shift) & 0x3FFu);
            }
        }
    }
}

} // namespace framemeld::cli::oiio
