#pragma once
// What a render-farm strip (a plate rendered over --rows only) says about itself, so that a merge
// can check the strips belong to one plate and are the files their nodes wrote: kept in a small
// JSON file beside the strip, "STRIP.framemeld-strip.json", since not every output format holds
// metadata and the tool's own PNG writer writes none.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace framemeld::cli {

struct StripRecord {
    int plateWidth = 0;
    int plateHeight = 0;
    int top = 0;    // the strip's first plate row
    int bottom = 0; // the row after its last
    int bits = 8;   // the render depth the strip's pixels are to be read back at
    bool withAlpha = false;
    bool unassociatedAlpha = false;
    std::string input;            // INPUT as the node was given it: shown, never compared
    std::string footage;          // footageFingerprint() of the frames sampled
    std::string footageType;      // the footage's samples and depth, which the plate's type
    int footageBits = 8;          // follows by default (plate/PlateStorage.h)
    std::string dataType;         // the samples the strip file stores, as oiiotool names them
    std::string dataTypeAsked;    // --data-type, empty when the default rule chose
    std::string compressionAsked; // --compression, empty for the format's default
    std::uint64_t stripBytes = 0; // the strip file's size and the hash of its bytes
    std::string stripChecksum;    // (ContentHash.h), taken from the file as written
    std::string metadata;         // the plate's attributes (PlateMetadata, encoded), hex
    // The settings that shape the plate, as JSON values by name, compared whole between strips:
    // frames sampled, divergence, rating range, depth, working space.
    std::vector<std::pair<std::string, std::string>> settings;
};

std::string stripRecordPath(const std::string &stripPath);

// The record's text, as written beside the strip.
std::string stripRecordText(const StripRecord &record);

// Throws RunError naming the strip when its record is missing, not a plain file of a record's
// size, unreadable or malformed (another shape, a key twice, anything after the object).
StripRecord readStripRecord(const std::string &stripPath);

// Records larger than this are refused unread; it bounds what one plate's attributes may take.
inline constexpr std::uint64_t kMaxStripRecordBytes = 8u << 20;

} // namespace framemeld::cli
