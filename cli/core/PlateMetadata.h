#pragma once
// What a plate carries besides its pixels, so that it goes back into the comp as its frames came
// out: the reference frame's attributes (the first sampled frame's timecode, frame rate, pixel
// aspect, colour space tags, copyright, a studio's own attributes) and the plate's provenance.
// The OpenImageIO module reads them from the frame and writes them into the plate where its
// format holds them; in between they are plain data, so that a farm strip's record can carry them
// to the merge and the merged plate gets the single run's attributes byte for byte.

#include <string>
#include <vector>

namespace framemeld::cli {

// One attribute as OpenImageIO holds it: its name, its type as OpenImageIO spells it ("string",
// "float", "rational2i", "timecode", "int[4]"), and its value: the raw bytes of the values, or for
// strings their texts, each ended by a NUL.
struct FrameAttribute {
    std::string name;
    std::string type;
    std::string value;

    bool operator==(const FrameAttribute &other) const
    {
        return name == other.name && type == other.type && value == other.value;
    }
};

struct PlateMetadata {
    std::vector<FrameAttribute> attributes; // in the frame's order
    int bitsPerSample = 0;                  // the frame's packed integer width (10-bit DPX), or 0
    std::string provenance;                 // see kProvenanceAttribute; empty: none

    bool operator==(const PlateMetadata &other) const
    {
        return attributes == other.attributes && bitsPerSample == other.bitsPerSample &&
               provenance == other.provenance;
    }
};

// The attribute that names how a plate was made: the tool and its version, INPUT as given, and
// the plug-in's five slider values and the render depth, e.g. "framemeld 2.2.0; input
// shot.####.exr; Start Frame 0, End Frame 99, Every n-th Frame 4, Divergence 13, Rating Range 2;
// 32-bit render".
inline constexpr const char *kProvenanceAttribute = "framemeld:provenance";

// A byte string that decodes back to the same metadata, for the strip record; decode throws
// std::runtime_error for bytes that are not such a string.
std::string encodePlateMetadata(const PlateMetadata &metadata);
PlateMetadata decodePlateMetadata(const std::string &bytes);

} // namespace framemeld::cli
