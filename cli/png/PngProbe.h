#pragma once
// Tells from the first chunks of a file whether the fast PNG reader can decode it, so the tool
// can send everything else to the general image reader with that reader's own messages.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/png/PngInfo.h"

namespace framemeld::cli::png {

enum class PngSupport {
    NotPng,        // no PNG signature
    Decodable,     // the fast reader decodes it; info is filled
    LeaveToGeneral // a PNG (or a damaged one) for the general reader; reason says why
};

struct PngProbe {
    PngSupport support = PngSupport::NotPng;
    PngInfo info;       // filled when support is Decodable
    std::string reason; // short, when support is LeaveToGeneral
};

// Reads the signature and the chunks before the image data, nothing more. Never throws for the
// file's content or for a file it cannot open (that is the general reader's to report).
PngProbe probePng(const std::string &path);
PngProbe probePngBytes(const std::uint8_t *data, std::size_t size);

} // namespace framemeld::cli::png
