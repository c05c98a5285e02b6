#pragma once
// Decodes the common PNG frames (8 or 16 bits, grey/RGB with or without alpha, not interlaced)
// with libdeflate, for the footage decoder's hot path. Files that probePng() leaves to the
// general reader are refused here too.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/png/PngInfo.h"

struct libdeflate_decompressor;

namespace framemeld::cli::png {

// Receives row y (0 at the top, called in order) as interleaved samples: uint8, or uint16 in the
// host's byte order for 16-bit files. The row is only valid during the call. It may throw.
using PngRowCallback = std::function<void(int y, const void *row)>;

// One per thread: keeps the file, inflate and row buffers and the decompressor from frame to
// frame. Not safe to share between threads.
class PngDecoder {
public:
    PngDecoder();
    ~PngDecoder();
    PngDecoder(const PngDecoder &) = delete;
    PngDecoder &operator=(const PngDecoder &) = delete;
    PngDecoder(PngDecoder &&) noexcept;
    PngDecoder &operator=(PngDecoder &&) noexcept;

    // Checks and decodes a file held in memory, calling onRow for every row. Throws RunError
    // "<name>: cannot decode the frame (<reason>)" on any fault of the file.
    PngInfo decodeBytes(const std::uint8_t *data, std::size_t size, const std::string &name,
                        const PngRowCallback &onRow);

private:
    struct DecompressorDeleter {
        void operator()(libdeflate_decompressor *decompressor) const;
    };

    std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor_;
    std::vector<std::uint8_t> joined_;   // IDAT data, when spread over several chunks
    std::vector<std::uint8_t> filtered_; // the inflated rows, each led by its filter byte
    std::vector<std::uint8_t> zeroRow_;  // the row above the first
    std::vector<std::uint16_t> wideRow_; // a 16-bit row in host order
};

} // namespace framemeld::cli::png
