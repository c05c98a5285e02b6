#pragma once
// PNG frames in through the tool's own codec (cli/png/), the common case of the tool and the one
// that must not wait on OpenImageIO. Whatever the codec leaves alone (palettes, low bit depths,
// interlacing, a transparent colour key) goes to the OpenImageIO module, and both routes give
// the same samples.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/core/DecodeRequest.h"
#include "cli/png/PngDecoder.h"

namespace framemeld::cli {

// The format of a PNG the codec decodes, as OpenImageIO would describe it; nothing when the file
// is no PNG, or a valid one the codec leaves to OpenImageIO. Throws RunError naming the file when
// it cannot be opened or is a damaged PNG.
std::optional<FootageFormat> probePngFootage(const std::string &path);

// Decodes PNG frames into host pixels; one per thread, keeping its buffers between frames.
class PngFrameReader {
public:
    // Decodes `path` into `target` at request.depth and returns true, or returns false without
    // touching `target` when the file is not a PNG the codec takes. Throws RunError for a file
    // that cannot be read and for a PNG that is damaged or of another size than the clip,
    // CancelledError when request.cancel is set between rows.
    bool decode(const std::string &path, const DecodeRequest &request, const FrameTarget &target);

private:
    std::vector<std::uint8_t> file_;
    png::PngDecoder decoder_;
};

// Whether `path` ends in .png, in any case.
bool hasPngExtension(const std::string &path);

} // namespace framemeld::cli
