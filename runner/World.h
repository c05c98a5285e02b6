// Pixel buffers the runner hands to plug-ins as PF_EffectWorld records.
//
// Rows are deliberately padded: rowbytes is never width x pixel size, and is not even a whole
// number of pixels, so code that steps rows by the width, or by rowbytes divided by the pixel
// size, reads the wrong place. The allocation ends right after the last pixel of the last row,
// so a read past the bottom-right corner is caught by AddressSanitizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

#include "AE_Effect.h"
#include "AE_EffectPixelFormat.h"

namespace framemeld::runner {

enum class PixelDepth { Bits8, Bits16, Float32 };

int bitsPerChannel(PixelDepth depth) noexcept;          // 8, 16, 32
std::size_t bytesPerPixel(PixelDepth depth) noexcept;   // 4, 8, 16
std::size_t bytesPerChannel(PixelDepth depth) noexcept; // 1, 2, 4
PF_PixelFormat pixelFormatOf(PixelDepth depth) noexcept;
std::optional<PixelDepth> depthFromBits(int bits) noexcept;

// Full scale of one channel: 255, 32768 (the host's 16-bit range is 0..32768), 1.0.
double channelFullScale(PixelDepth depth) noexcept;

// The host pixel record of a depth.
template <class Pixel> constexpr PixelDepth depthOfPixel();
template <> constexpr PixelDepth depthOfPixel<PF_Pixel8>()
{
    return PixelDepth::Bits8;
}
template <> constexpr PixelDepth depthOfPixel<PF_Pixel16>()
{
    return PixelDepth::Bits16;
}
template <> constexpr PixelDepth depthOfPixel<PF_PixelFloat>()
{
    return PixelDepth::Float32;
}

struct RowPadding {
    // Whole pixels added to every row; odd, so no power-of-two pitch assumption holds.
    int pixels = 3;
    // Bytes added after them. A multiple of the channel size (rows stay aligned for their channel
    // type) that is not a multiple of the pixel size. -1 picks two channels' worth.
    int bytes = -1;
};

class World {
public:
    World() noexcept;
    // Transparent black (all zero). Throws std::invalid_argument for negative or oversized
    // dimensions or a padding that would misalign the channels, std::bad_alloc when out of memory.
    World(int width, int height, PixelDepth depth, RowPadding padding = {});

    World(World &&other) noexcept;
    World &operator=(World &&other) noexcept;
    World(const World &) = delete;
    World &operator=(const World &) = delete;
    ~World();

    // The row stride a world of `width` pixels at `depth` gets with `padding`, so that memory can
    // be counted before any world is made. Throws std::invalid_argument for a padding the
    // constructor refuses.
    static std::size_t rowStrideFor(int width, PixelDepth depth, RowPadding padding = {});

    // A deep copy with the same layout.
    World clone() const;
    // A new world holding the top-left width x height pixels (no larger than this one).
    World cropped(int width, int height, RowPadding padding = {}) const;

    bool valid() const noexcept { return storage_ != nullptr; }
    int width() const noexcept { return record_.width; }
    int height() const noexcept { return record_.height; }
    A_long rowStride() const noexcept { return record_.rowbytes; }
    PixelDepth depth() const noexcept { return depth_; }
    std::size_t byteSize() const noexcept { return byteSize_; }

    // The record handed to plug-ins. Callers may copy it; a copy still describes these pixels and
    // is still recognised by depthOf().
    PF_EffectWorld *effectWorld() noexcept { return &record_; }
    const PF_EffectWorld *effectWorld() const noexcept { return &record_; }

    // The first byte of row y; rows lie rowStride() bytes apart.
    unsigned char *row(int y) noexcept;
    const unsigned char *row(int y) const noexcept;

    // Typed access; throws std::logic_error when Pixel does not match the world's depth.
    template <class Pixel> Pixel *row(int y)
    {
        checkPixelType(depthOfPixel<Pixel>());
        return reinterpret_cast<Pixel *>(row(y));
    }
    template <class Pixel> const Pixel *row(int y) const
    {
        checkPixelType(depthOfPixel<Pixel>());
        return reinterpret_cast<const Pixel *>(row(y));
    }
    template <class Pixel> Pixel &at(int x, int y) { return row<Pixel>(y)[x]; }
    template <class Pixel> const Pixel &at(int x, int y) const { return row<Pixel>(y)[x]; }

    // Every byte of every row, padding included, set to `value` (tests use it to see which pixels
    // a plug-in left alone).
    void fillBytes(unsigned char value) noexcept;

    // The depth of a record that this library made (a World's own record or a copy of it);
    // nothing for any other record, including null.
    static std::optional<PixelDepth> depthOf(const PF_EffectWorld *world) noexcept;

private:
    void checkPixelType(PixelDepth requested) const;

    // Zeroed by the allocator (calloc), so that large worlds come as fresh zero pages that the
    // threads filling them fault in, rather than being cleared on the thread that makes them.
    struct FreeStorage {
        void operator()(unsigned char *bytes) const noexcept;
    };
    std::unique_ptr<unsigned char[], FreeStorage> storage_;
    std::size_t byteSize_ = 0;
    PF_EffectWorld record_{};
    PixelDepth depth_ = PixelDepth::Bits8;
};

// Copies the pixels of `area` (in `from`'s own coordinates) into `to`, the area's top-left corner
// landing on (toLeft, toTop). Throws std::invalid_argument when the depths differ or the area does
// not lie inside both worlds; copies nothing for an empty area.
void copyPixels(const World &from, const PF_LRect &area, World &to, int toLeft, int toTop);

} // namespace framemeld::runner
