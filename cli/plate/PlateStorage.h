#pragma once
// What the plate file stores: the sample type (oiiotool's names: uint8, uint10, uint12, uint16,
// half, float) and the compression (each format's own names), chosen before any work from the
// output's extension, the render depth, the footage and the user's --data-type and --compression.
// Pure decisions, so a merge makes the same choice as the single run and checks its strips by it.
//
// The default keeps the footage's type when the plate is rendered at the footage's own depth
// (half in, half out; 10-bit DPX in, 10-bit DPX out) and the format holds that type; otherwise
// the render depth's own type, or the nearest the format holds (EXR: half for 8-bit renders,
// float otherwise; PNG and DPX: uint16 above 8 bits; JPEG and WebP: uint8).

#include <string>

#include "cli/core/FootageFormat.h"

namespace framemeld::cli {

enum class PlateFormat { Exr, Tiff, Png, Dpx, Jpeg, WebP, Other };

// By the output's extension, as the writers go by it.
PlateFormat plateFormatOf(const std::string &path);

struct PlateStorageRequest {
    Depth depth = Depth::Bits8; // the render depth
    Depth footageDepth = Depth::Bits8;
    std::string footageType; // as FootageFormat::sampleType, with uint10/uint12 for such files
    std::string dataType;    // --data-type; empty: the default rule
    std::string compression; // --compression; empty: the format's default
};

struct PlateStorage {
    // Empty only for formats the tool holds no table for: then the render depth's own type,
    // and the writer takes the nearest the format has.
    std::string dataType;
    std::string compression; // empty: the library's default for the format
    bool lossy = false;      // JPEG, WebP: what is written is not the plate as rendered
};

// Throws UsageError naming the option for a type or compression the format does not take (saying
// which it takes), and for a lossy format (JPEG, WebP) without an explicit --compression naming
// its quality.
PlateStorage choosePlateStorage(const std::string &path, const PlateStorageRequest &request);

// Whether `dataType` clips what a render at `depth` may hold: an integer type from a 32-bit render
// (values outside 0..1).
bool clipsHdr(const std::string &dataType, Depth depth);

// Whether samples stored as `stored` hold those of `wanted` without loss (float holds all; an
// integer type the integers of as many bits or fewer; half every 8-bit level).
bool typeHolds(const std::string &stored, const std::string &wanted);

} // namespace framemeld::cli
