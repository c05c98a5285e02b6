#include "runner/World.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace framemeld::runner {

namespace {

// A runner-made record carries this tag's address in reserved0 and its depth in reserved1;
// reserved fields are the host's own, and a copy of the record keeps both.
const char kWorldTag = 'W';

void *depthTag(PixelDepth depth) noexcept
{
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(depth) + 1U);
}

constexpr A_long kMaxSide = 30000; // PF_MAX_WORLD_WIDTH / HEIGHT

unsigned char *zeroedBytes(std::size_t size)
{
    void *bytes = std::calloc(size, 1);
    if (bytes == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<unsigned char *>(bytes);
}

} // namespace

void World::FreeStorage::operator()(unsigned char *bytes) const noexcept
{
    std::free(bytes);
}

int bitsPerChannel(PixelDepth depth) noexcept
{
    switch (depth) {
    case PixelDepth::Bits8: return 8;
    case PixelDepth::Bits16: return 16;
    case PixelDepth::Float32: return 32;
    }
    return 0;
}

std::size_t bytesPerChannel(PixelDepth depth) noexcept
{
    return static_cast<std::size_t>(bitsPerChannel(depth) / 8);
}

std::size_t bytesPerPixel(PixelDepth depth) noexcept
{
    return 4 * bytesPerChannel(depth);
}

PF_PixelFormat pixelFormatOf(PixelDepth depth) noexcept
{
    switch (depth) {
    case PixelDepth::Bits8: return PF_PixelFormat_ARGB32;
    case PixelDepth::Bits16: return PF_PixelFormat_ARGB64;
    case PixelDepth::Float32: return PF_PixelFormat_ARGB128;
    }
    return PF_PixelFormat_INVALID;
}

std::optional<PixelDepth> depthFromBits(int bits) noexcept
{
    switch (bits) {
    case 8: return PixelDepth::Bits8;
    case 16: return PixelDepth::Bits16;
    case 32: return PixelDepth::Float32;
    default: return std::nullopt;
    }
}

double channelFullScale(PixelDepth depth) noexcept
{
    switch (depth) {
    case PixelDepth::Bits8: return 255.0;
    case PixelDepth::Bits16: return PF_MAX_CHAN16;
    case PixelDepth::Float32: return 1.0;
    }
    return 1.0;
}

World::World() noexcept = default;

std::size_t World::rowStrideFor(int width, PixelDepth depth, RowPadding padding)
{
    const std::size_t pixel = bytesPerPixel(depth);
    const std::size_t channel = bytesPerChannel(depth);
    const long padBytes = padding.bytes < 0 ? static_cast<long>(2 * channel) : padding.bytes;
    if (padding.pixels < 0 || padding.pixels > kMaxSide ||
        padBytes % static_cast<long>(channel) != 0 || padBytes > 4096) {
        throw std::invalid_argument("row padding must be whole channels and not negative");
    }
    return (static_cast<std::size_t>(std::max(0, width)) +
            static_cast<std::size_t>(padding.pixels)) *
               pixel +
           static_cast<std::size_t>(padBytes);
}

World::World(int width, int height, PixelDepth depth, RowPadding padding) : depth_(depth)
{
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
        throw std::invalid_argument("world size " + std::to_string(width) + "x" +
                                    std::to_string(height) + " is outside 0..30000");
    }
    const std::size_t pixel = bytesPerPixel(depth);
    const std::size_t rowbytes = rowStrideFor(width, depth, padding);
    // Ending the block right after the last pixel makes a read past the image an ASan report
    // instead of a silent read of padding.
    byteSize_ = height == 0 ? 0
                            : rowbytes * static_cast<std::size_t>(height - 1) +
                                  static_cast<std::size_t>(width) * pixel;
    // Even an empty world has a real address, as a host's would.
    storage_.reset(zeroedBytes(byteSize_ == 0 ? 1 : byteSize_));

    record_.reserved0 = const_cast<char *>(&kWorldTag);
    record_.reserved1 = depthTag(depth);
    record_.world_flags =
        PF_WorldFlag_WRITEABLE | (depth == PixelDepth::Bits8 ? 0 : PF_WorldFlag_DEEP);
    record_.data = reinterpret_cast<PF_PixelPtr>(storage_.get());
    record_.rowbytes = static_cast<A_long>(rowbytes);
    record_.width = width;
    record_.height = height;
    record_.extent_hint.left = 0;
    record_.extent_hint.top = 0;
    record_.extent_hint.right = width;
    record_.extent_hint.bottom = height;
    record_.pix_aspect_ratio.num = 1;
    record_.pix_aspect_ratio.den = 1;
}

World::World(World &&other) noexcept
    : storage_(std::move(other.storage_)), byteSize_(other.byteSize_), record_(other.record_),
      depth_(other.depth_)
{
    other.byteSize_ = 0;
    other.record_ = PF_EffectWorld{};
}

World &World::operator=(World &&other) noexcept
{
    if (this != &other) {
        storage_ = std::move(other.storage_);
        byteSize_ = other.byteSize_;
        record_ = other.record_;
        depth_ = other.depth_;
        other.byteSize_ = 0;
        other.record_ = PF_EffectWorld{};
    }
    return *this;
}

World::~World() = default;

World World::clone() const
{
    World copy;
    copy.depth_ = depth_;
    copy.byteSize_ = byteSize_;
    copy.record_ = record_;
    if (storage_) {
        copy.storage_.reset(zeroedBytes(byteSize_ == 0 ? 1 : byteSize_));
        std::memcpy(copy.storage_.get(), storage_.get(), byteSize_);
        copy.record_.data = reinterpret_cast<PF_PixelPtr>(copy.storage_.get());
    }
    return copy;
}

World World::cropped(int width, int height, RowPadding padding) const
{
    if (width < 0 || height < 0 || width > this->width() || height > this->height()) {
        throw std::invalid_argument("a cropped world must fit inside the original");
    }
    World part(width, height, depth_, padding);
    copyPixels(*this, PF_LRect{0, 0, width, height}, part, 0, 0);
    return part;
}

unsigned char *World::row(int y) noexcept
{
    return storage_.get() +
           static_cast<std::size_t>(y) * static_cast<std::size_t>(record_.rowbytes);
}

const unsigned char *World::row(int y) const noexcept
{
    return storage_.get() +
           static_cast<std::size_t>(y) * static_cast<std::size_t>(record_.rowbytes);
}

void World::fillBytes(unsigned char value) noexcept
{
    if (storage_ && byteSize_) {
        std::memset(storage_.get(), value, byteSize_);
    }
}

void World::checkPixelType(PixelDepth requested) const
{
    if (requested != depth_) {
        throw std::logic_error("pixel type of " + std::to_string(bitsPerChannel(requested)) +
                               " bits used on a " + std::to_string(bitsPerChannel(depth_)) +
                               "-bit world");
    }
}

std::optional<PixelDepth> World::depthOf(const PF_EffectWorld *world) noexcept
{
    if (!world || world->reserved0 != static_cast<const void *>(&kWorldTag)) {
        return std::nullopt;
    }
    // Called for every pixel-data request, so it decodes the tag instead of searching.
    const std::uintptr_t tag = reinterpret_cast<std::uintptr_t>(world->reserved1);
    switch (tag) {
    case static_cast<std::uintptr_t>(PixelDepth::Bits8) + 1U: return PixelDepth::Bits8;
    case static_cast<std::uintptr_t>(PixelDepth::Bits16) + 1U: return PixelDepth::Bits16;
    case static_cast<std::uintptr_t>(PixelDepth::Float32) + 1U: return PixelDepth::Float32;
    default: return std::nullopt;
    }
}

void copyPixels(const World &from, const PF_LRect &area, World &to, int toLeft, int toTop)
{
    if (from.depth() != to.depth()) {
        throw std::invalid_argument("pixels can only be copied between worlds of one depth");
    }
    if (area.right <= area.left || area.bottom <= area.top) {
        return;
    }
    // 64-bit sums, so a rectangle near the A_long limits cannot wrap into range.
    const std::int64_t width = static_cast<std::int64_t>(area.right) - area.left;
    const std::int64_t height = static_cast<std::int64_t>(area.bottom) - area.top;
    const bool fitsSource = area.left >= 0 && area.top >= 0 && area.right <= from.width() &&
                            area.bottom <= from.height();
    const bool fitsTarget =
        toLeft >= 0 && toTop >= 0 && toLeft + width <= to.width() && toTop + height <= to.height();
    if (!fitsSource || !fitsTarget) {
        throw std::invalid_argument("the copied area must lie inside both worlds");
    }
    const std::size_t pixel = bytesPerPixel(from.depth());
    const std::size_t bytes = static_cast<std::size_t>(width) * pixel;
    for (int y = 0; y < height; ++y) {
        std::memcpy(to.row(toTop + y) + static_cast<std::size_t>(toLeft) * pixel,
                    from.row(area.top + y) + static_cast<std::size_t>(area.left) * pixel, bytes);
    }
}

} // namespace framemeld::runner
