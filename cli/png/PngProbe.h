#pragma once
// Tells from the first chunks of a file whether the fast PNG reader can decode it, so the tool
// can send the valid PNGs it leaves alone to the general image reader, and refuse damaged ones
// before any reader trusts their sizes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/png/PngInfo.h"

namespace framemeld::cli::png {

enum class PngSupport {
    NotPng,         // no PNG signature
    Decodable,      // the fast reader decodes it; info is filled
    LeaveToGeneral, // a valid PNG for the general reader; reason says why
    Damaged,        // a PNG that breaks the format or ends early; reason says how
    Unreadable      // the file cannot be opened; reason is the system's error text
};

struct PngProbe {
    PngSupport support = PngSupport::NotPng;
    PngInfo info;       // filled when support is Decodable
    std::string reason; // short, unless support is NotPng or Decodable
};

// Reads the signature and the chunks before the image data, nothing more. Never throws for the
// file's content or for a file it cannot open.
PngProbe probePng(const std::string &path);
PngProbe probePngBytes(const std::uint8_t *data, std::size_t size);

} // namespace framemeld::cli::png
